'''A desktop portal frontend offering RemoteDesktop version 2 (restore tokens), as a
python-dbusmock template, for what the installed portal (1.16, version 1) cannot show: that the
client asks for persistence, keeps the token the portal hands back and hands it back next time.

Every request is answered with success right after its reply; Start hands out the token
"murlex-restore-<n>" for the n-th start. No key goes anywhere.
'''

import dbus
from dbusmock.mockobject import objects
from gi.repository import GLib

from portal_mock import MAIN_OBJ, record, setup  # noqa: F401 (MAIN_OBJ: the template's object)

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_IFACE = 'org.freedesktop.portal.RemoteDesktop'
SYSTEM_BUS = False


def own_path(kind, sender, token):
    return '/org/freedesktop/portal/desktop/%s/%s/%s' % (kind, sender[1:].replace('.', '_'), token)


def answer(self, sender, options, results):
    '''The request object, whose Response follows the reply (once: the callback answers None).'''
    path = own_path('request', sender, options['handle_token'])
    self.AddObject(path, 'org.freedesktop.portal.Request', {}, [])
    GLib.timeout_add(20, lambda: objects[path].EmitSignal('org.freedesktop.portal.Request', 'Response', 'ua{sv}', [
        dbus.UInt32(0), dbus.Dictionary(results, signature='sv')]))
    return dbus.ObjectPath(path)


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender=None):
    self.sessions += 1
    session = own_path('session', sender, options['session_handle_token'])
    self.AddObject(session, 'org.freedesktop.portal.Session', {}, [('Close', '', '', '')])
    return answer(self, sender, options, {'session_handle': dbus.String(session)})


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def SelectDevices(self, session, options, sender=None):
    record(self, 'SelectDevices', types=int(options.get('types', 0)), persist_mode=int(options.get('persist_mode', 0)),
           restore_token=str(options['restore_token']) if 'restore_token' in options else None)
    return answer(self, sender, options, {})


@dbus.service.method(MAIN_IFACE, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
def Start(self, session, parent_window, options, sender=None):
    return answer(self, sender, options, {'devices': dbus.UInt32(1),
                                          'restore_token': dbus.String('murlex-restore-%d' % self.sessions)})


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}iu', out_signature='')
def NotifyKeyboardKeycode(self, session, options, keycode, state):
    pass


def load(mock, parameters):
    mock.sessions = 0
    mock.AddProperty(MAIN_IFACE, 'AvailableDeviceTypes', dbus.UInt32(3))
    setup(mock, MAIN_IFACE, 2, [])
