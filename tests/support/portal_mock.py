'''What the portal stand-ins share: every call kept in order and handed out as JSON by Calls() on
the control interface, the answer of a request that succeeded, and a frontend's request objects.'''

import json

import dbus
from dbusmock.mockobject import objects
from gi.repository import GLib

MAIN_OBJ = '/org/freedesktop/portal/desktop'
CONTROL_IFACE = 'org.murlex.test.PortalBackend'
REQUEST_IFACE = 'org.freedesktop.portal.Request'


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


def own_path(kind, sender, token):
    '''A frontend's object of `kind` ('request', 'session') for the caller `sender`.'''
    return '%s/%s/%s/%s' % (MAIN_OBJ, kind, sender[1:].replace('.', '_'), token)


def answer(mock, sender, options, results, before=None):
    '''A frontend's request object, whose Response (success with `results`) follows the reply
    after `before` has run.'''
    path = own_path('request', sender, options['handle_token'])
    mock.AddObject(path, REQUEST_IFACE, {}, [])

    def respond():
        if before:
            before()
        objects[path].EmitSignal(REQUEST_IFACE, 'Response', 'ua{sv}', list(success(results)))
        return False
    GLib.timeout_add(20, respond)
    return dbus.ObjectPath(path)
