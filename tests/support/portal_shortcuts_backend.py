'''A GlobalShortcuts backend for the desktop portal, as a python-dbusmock template.

Every request is answered at once: with success, or for BindShortcuts with the response
SetBindResponse() chose (1: the person declined). Emit('Activated' or 'Deactivated', shortcut id)
sends that signal for the newest session, as a desktop does when the person presses or lets go of
the keys.
'''

import time

import dbus

from portal_mock import MAIN_OBJ, add_backend_session, record, setup, success  # noqa: F401 (MAIN_OBJ: the template's object)

BUS_NAME = 'org.freedesktop.impl.portal.desktop.murlextest'
MAIN_IFACE = 'org.freedesktop.impl.portal.GlobalShortcuts'
SYSTEM_BUS = False


def create_session(self, handle, session_handle, app_id, options):
    record(self, 'CreateSession', handle=str(handle), session_handle=str(session_handle))
    self.sessions.append(str(session_handle))
    add_backend_session(self, session_handle, lambda path: record(self, 'Session.Close', path=path))
    return success()


def bind_shortcuts(self, handle, session_handle, shortcuts, parent_window, options):
    record(self, 'BindShortcuts', handle=str(handle), session_handle=str(session_handle),
           shortcuts=[[str(i), dict(p)] for i, p in shortcuts], parent_window=str(parent_window))
    if self.bind_response != 0:
        return (dbus.UInt32(self.bind_response), dbus.Dictionary({}, signature='sv'))
    granted = dbus.Array([dbus.Struct((i, dbus.Dictionary({
        'description': p.get('description', ''),
        'trigger_description': 'Press ' + p.get('preferred_trigger', 'nothing'),
    }, signature='sv'))) for i, p in shortcuts], signature='(sa{sv})')
    return success({'shortcuts': granted})


def emit(self, signal, shortcut_id):
    if not self.sessions:
        raise dbus.exceptions.DBusException('no session', name='org.murlex.test.Error')
    self.EmitSignal(MAIN_IFACE, signal, 'osta{sv}',
                    [dbus.ObjectPath(self.sessions[-1]), shortcut_id, dbus.UInt64(int(time.time() * 1000)),
                     dbus.Dictionary({}, signature='sv')])


def load(mock, parameters):
    mock.sessions = []
    mock.bind_response = 0
    setup(mock, MAIN_IFACE, 1, [
        ('CreateSession', 'oosa{sv}', 'ua{sv}', create_session),
        ('BindShortcuts', 'ooa(sa{sv})sa{sv}', 'ua{sv}', bind_shortcuts),
        ('ListShortcuts', 'oo', 'ua{sv}', lambda self, handle, session: success({'shortcuts': dbus.Array([], signature='(sa{sv})')})),
    ], [
        ('Emit', 'ss', '', emit),
        ('SetBindResponse', 'u', '', lambda self, response: setattr(self, 'bind_response', int(response))),
    ])
