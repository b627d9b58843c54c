'''A RemoteDesktop backend for the desktop portal, as a python-dbusmock template, that presses
keys through mutter's own remote-desktop interface, as GNOME's backend does.

mutter runs on a bus of its own, whose address the template's parameter "mutter_bus" gives. Start
answers with SetStartResponse()'s response (0 granted, 1 the person declined) and, when granted,
opens and starts a session with mutter; NotifyKeyboardKeycode forwards to that session.
'''

import dbus

from portal_mock import MAIN_OBJ, add_backend_session, record, setup, success  # noqa: F401 (MAIN_OBJ: the template's object)

BUS_NAME = 'org.freedesktop.impl.portal.desktop.murlextest'
MAIN_IFACE = 'org.freedesktop.impl.portal.RemoteDesktop'
SYSTEM_BUS = False

MUTTER_NAME = 'org.gnome.Mutter.RemoteDesktop'
MUTTER_SESSION_IFACE = 'org.gnome.Mutter.RemoteDesktop.Session'
KEYBOARD = 1


def create_session(self, handle, session_handle, app_id, options):
    record(self, 'CreateSession', session_handle=str(session_handle))
    add_backend_session(self, str(session_handle), lambda path: close_session(self, path))
    return success()


def close_session(self, path):
    record(self, 'Session.Close', path=path)
    session = self.mutter_sessions.pop(path, None)
    if session is not None:
        session.Stop(dbus_interface=MUTTER_SESSION_IFACE)


def select_devices(self, handle, session_handle, app_id, options):
    record(self, 'SelectDevices', types=int(options.get('types', 0)), persist_mode=int(options.get('persist_mode', 0)))
    return success()


def start(self, handle, session_handle, app_id, parent_window, options):
    record(self, 'Start')
    if self.start_response != 0:
        return (dbus.UInt32(self.start_response), dbus.Dictionary({}, signature='sv'))
    mutter = self.mutter_bus.get_object(MUTTER_NAME, '/org/gnome/Mutter/RemoteDesktop')
    session = self.mutter_bus.get_object(MUTTER_NAME, mutter.CreateSession(dbus_interface=MUTTER_NAME))
    session.Start(dbus_interface=MUTTER_SESSION_IFACE)
    self.mutter_sessions[str(session_handle)] = session
    return success({
        'devices': dbus.UInt32(KEYBOARD),
        'persist_mode': dbus.UInt32(2),
        'restore_data': dbus.Struct(('murlextest', dbus.UInt32(1), dbus.String('granted', variant_level=1)),
                                    signature='suv'),
    })


def notify_keyboard_keycode(self, session_handle, options, keycode, state):
    record(self, 'NotifyKeyboardKeycode', keycode=int(keycode), state=int(state))
    session = self.mutter_sessions.get(str(session_handle))
    if session is None:
        raise dbus.exceptions.DBusException('no started session', name='org.murlex.test.Error')
    session.NotifyKeyboardKeycode(dbus.UInt32(keycode), dbus.Boolean(state != 0), dbus_interface=MUTTER_SESSION_IFACE)


def load(mock, parameters):
    mock.mutter_sessions = {}
    mock.start_response = 0
    mock.mutter_bus = dbus.bus.BusConnection(parameters['mutter_bus'])
    mock.AddProperty(MAIN_IFACE, 'AvailableDeviceTypes', dbus.UInt32(KEYBOARD | 2))
    setup(mock, MAIN_IFACE, 1, [
        ('CreateSession', 'oosa{sv}', 'ua{sv}', create_session),
        ('SelectDevices', 'oosa{sv}', 'ua{sv}', select_devices),
        ('Start', 'oossa{sv}', 'ua{sv}', start),
        ('NotifyKeyboardKeycode', 'oa{sv}iu', '', notify_keyboard_keycode),
    ], [
        ('SetStartResponse', 'u', '', lambda self, response: setattr(self, 'start_response', int(response))),
    ])
