'''What the portal stand-ins share: every call kept in order and handed out as JSON by Calls() on
the control interface, and the answer of a request that succeeded.'''

import json

import dbus

MAIN_OBJ = '/org/freedesktop/portal/desktop'
CONTROL_IFACE = 'org.murlex.test.PortalBackend'


def success(results=None):
    return (dbus.UInt32(0), dbus.Dictionary(results or {}, signature='sv'))


def record(mock, method, **arguments):
    mock.recorded.append(dict(method=method, **arguments))


def setup(mock, interface, version, methods, controls=()):
    '''The interface's version, its methods and the control interface's (name, in, out, function).'''
    mock.recorded = []
    mock.AddProperty(interface, 'version', dbus.UInt32(version))
    for name, in_sig, out_sig, function in methods:
        mock.AddMethod(interface, name, in_sig, out_sig, function)
    mock.AddMethod(CONTROL_IFACE, 'Calls', '', 's', lambda self: json.dumps(self.recorded))
    for name, in_sig, out_sig, function in controls:
        mock.AddMethod(CONTROL_IFACE, name, in_sig, out_sig, function)


def add_backend_session(mock, path, on_close):
    '''The backend's side of a session, which the portal closes through this object.'''
    mock.close_session = on_close
    mock.AddObject(path, 'org.freedesktop.impl.portal.Session', {}, [
        ('Close', '', '', f"objects['{MAIN_OBJ}'].close_session('{path}')"),
    ])
