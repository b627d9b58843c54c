'''A RemoteDesktop backend for the desktop portal, as a python-dbusmock template, that presses
keys through mutter's own remote-desktop interface, as GNOME's backend does.

mutter runs on a bus of its own, whose address the template's parameter "mutter_bus" gives. Start
answers with SetStartResponse()'s response (0 granted, 1 the person declined) and, when granted,
opens and starts a session with mutter; NotifyKeyboardKeycode forwards to that session. Every
call is recorded and handed out as JSON by Calls() on the control interface.
'''

import json

import dbus

BUS_NAME = 'org.freedesktop.impl.portal.desktop.murlextest'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.impl.portal.RemoteDesktop'
SYSTEM_BUS = False

CONTROL_IFACE = 'org.murlex.test.PortalBackend'
SESSION_IFACE = 'org.freedesktop.impl.portal.Session'
MUTTER_NAME = 'org.gnome.Mutter.RemoteDesktop'
MUTTER_SESSION_IFACE = 'org.gnome.Mutter.RemoteDesktop.Session'
KEYBOARD = 1


def mutter_session(self, session_handle):
    return self.mutter_sessions.get(str(session_handle))


def create_session(self, handle, session_handle, app_id, options):
    self.recorded.append({'method': 'CreateSession', 'session_handle': str(session_handle), 'app_id': str(app_id)})
    path = str(session_handle)
    # The portal closes the backend's side of a session through this object.
    self.AddObject(path, SESSION_IFACE, {}, [
        ('Close', '', '', f"objects['{MAIN_OBJ}'].close_session('{path}')"),
    ])
    return (dbus.UInt32(0), dbus.Dictionary({}, signature='sv'))


def close_session(self, path):
    self.recorded.append({'method': 'Session.Close', 'path': path})
    session = self.mutter_sessions.pop(path, None)
    if session is not None:
        session.Stop(dbus_interface=MUTTER_SESSION_IFACE)


def select_devices(self, handle, session_handle, app_id, options):
    self.recorded.append({'method': 'SelectDevices', 'session_handle': str(session_handle),
                          'types': int(options.get('types', 0)),
                          'persist_mode': int(options.get('persist_mode', 0)),
                          'restore_data': [str(x) for x in options['restore_data']] if 'restore_data' in options else None})
    return (dbus.UInt32(0), dbus.Dictionary({}, signature='sv'))


def start(self, handle, session_handle, app_id, parent_window, options):
    self.recorded.append({'method': 'Start', 'session_handle': str(session_handle), 'response': self.start_response})
    if self.start_response != 0:
        return (dbus.UInt32(self.start_response), dbus.Dictionary({}, signature='sv'))
    mutter = self.mutter_bus.get_object(MUTTER_NAME, '/org/gnome/Mutter/RemoteDesktop')
    path = mutter.CreateSession(dbus_interface=MUTTER_NAME)
    session = self.mutter_bus.get_object(MUTTER_NAME, path)
    session.Start(dbus_interface=MUTTER_SESSION_IFACE)
    self.mutter_sessions[str(session_handle)] = session
    return (dbus.UInt32(0), dbus.Dictionary({
        'devices': dbus.UInt32(KEYBOARD),
        'persist_mode': dbus.UInt32(2),
        'restore_data': dbus.Struct(('murlextest', dbus.UInt32(1), dbus.String('granted', variant_level=1)),
                                    signature='suv'),
    }, signature='sv'))


def notify_keyboard_keycode(self, session_handle, options, keycode, state):
    self.recorded.append({'method': 'NotifyKeyboardKeycode', 'keycode': int(keycode), 'state': int(state)})
    session = mutter_session(self, session_handle)
    if session is None:
        raise dbus.exceptions.DBusException('no started session', name='org.murlex.test.Error')
    session.NotifyKeyboardKeycode(dbus.UInt32(keycode), dbus.Boolean(state != 0), dbus_interface=MUTTER_SESSION_IFACE)


def set_start_response(self, response):
    self.start_response = int(response)


def calls(self):
    return json.dumps(self.recorded)


def load(mock, parameters):
    mock.recorded = []
    mock.mutter_sessions = {}
    mock.start_response = 0
    mock.close_session = lambda path: close_session(mock, path)
    mock.mutter_bus = dbus.bus.BusConnection(parameters['mutter_bus'])
    mock.AddProperty(MAIN_IFACE, 'version', dbus.UInt32(1))
    mock.AddProperty(MAIN_IFACE, 'AvailableDeviceTypes', dbus.UInt32(KEYBOARD | 2))
    mock.AddMethod(MAIN_IFACE, 'CreateSession', 'oosa{sv}', 'ua{sv}', create_session)
    mock.AddMethod(MAIN_IFACE, 'SelectDevices', 'oosa{sv}', 'ua{sv}', select_devices)
    mock.AddMethod(MAIN_IFACE, 'Start', 'oossa{sv}', 'ua{sv}', start)
    mock.AddMethod(MAIN_IFACE, 'NotifyKeyboardKeycode', 'oa{sv}iu', '', notify_keyboard_keycode)
    mock.AddMethod(CONTROL_IFACE, 'Calls', '', 's', calls)
    mock.AddMethod(CONTROL_IFACE, 'SetStartResponse', 'u', '', set_start_response)
