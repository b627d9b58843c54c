'''A GlobalShortcuts backend for the desktop portal, as a python-dbusmock template.

Every request is answered at once: with success, or for BindShortcuts with the response
SetBindResponse() chose (1: the person declined). What the portal asked is kept in order, and handed out as JSON by
Calls() on the control interface; Emit('Activated' or 'Deactivated', shortcut id) sends that signal
for the newest session, as a desktop does when the person presses or lets go of the keys.
'''

import json
import time

import dbus

BUS_NAME = 'org.freedesktop.impl.portal.desktop.murlextest'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.impl.portal.GlobalShortcuts'
SYSTEM_BUS = False

CONTROL_IFACE = 'org.murlex.test.PortalBackend'
SESSION_IFACE = 'org.freedesktop.impl.portal.Session'


def create_session(self, handle, session_handle, app_id, options):
    self.recorded.append({'method': 'CreateSession', 'handle': str(handle), 'session_handle': str(session_handle),
                          'app_id': str(app_id), 'options': options})
    self.sessions.append(str(session_handle))
    # The portal closes the backend's side of a session through this object.
    self.AddObject(session_handle, SESSION_IFACE, {}, [
        ('Close', '', '',
         f"objects['{MAIN_OBJ}'].recorded.append({{'method': 'Session.Close', 'path': '{session_handle}'}})"),
    ])
    return (dbus.UInt32(0), dbus.Dictionary({}, signature='sv'))


def bind_shortcuts(self, handle, session_handle, shortcuts, parent_window, options):
    self.recorded.append({'method': 'BindShortcuts', 'handle': str(handle), 'session_handle': str(session_handle),
                          'shortcuts': [[str(i), dict(p)] for i, p in shortcuts],
                          'parent_window': str(parent_window), 'options': options})
    if self.bind_response != 0:
        return (dbus.UInt32(self.bind_response), dbus.Dictionary({}, signature='sv'))
    granted = dbus.Array([dbus.Struct((i, dbus.Dictionary({
        'description': p.get('description', ''),
        'trigger_description': 'Press ' + p.get('preferred_trigger', 'nothing'),
    }, signature='sv'))) for i, p in shortcuts], signature='(sa{sv})')
    return (dbus.UInt32(0), dbus.Dictionary({'shortcuts': granted}, signature='sv'))


def list_shortcuts(self, handle, session_handle):
    self.recorded.append({'method': 'ListShortcuts', 'session_handle': str(session_handle)})
    return (dbus.UInt32(0), dbus.Dictionary({'shortcuts': dbus.Array([], signature='(sa{sv})')}, signature='sv'))


def set_bind_response(self, response):
    self.bind_response = int(response)


def calls(self):
    return json.dumps(self.recorded)


def emit(self, signal, shortcut_id):
    if not self.sessions:
        raise dbus.exceptions.DBusException('no session', name='org.murlex.test.Error')
    self.EmitSignal(MAIN_IFACE, signal, 'osta{sv}',
                    [dbus.ObjectPath(self.sessions[-1]), shortcut_id, dbus.UInt64(int(time.time() * 1000)),
                     dbus.Dictionary({}, signature='sv')])


def load(mock, parameters):
    mock.recorded = []
    mock.sessions = []
    mock.bind_response = 0
    mock.AddProperty(MAIN_IFACE, 'version', dbus.UInt32(1))
    mock.AddMethod(MAIN_IFACE, 'CreateSession', 'oosa{sv}', 'ua{sv}', create_session)
    mock.AddMethod(MAIN_IFACE, 'BindShortcuts', 'ooa(sa{sv})sa{sv}', 'ua{sv}', bind_shortcuts)
    mock.AddMethod(MAIN_IFACE, 'ListShortcuts', 'oo', 'ua{sv}', list_shortcuts)
    mock.AddMethod(CONTROL_IFACE, 'Calls', '', 's', calls)
    mock.AddMethod(CONTROL_IFACE, 'Emit', 'ss', '', emit)
    mock.AddMethod(CONTROL_IFACE, 'SetBindResponse', 'u', '', set_bind_response)
