'''A desktop portal frontend offering RemoteDesktop version 2 (restore tokens), as a
python-dbusmock template, for what the installed portal (1.16, version 1) cannot show: that the
client asks for persistence, keeps the token the portal hands back and hands it back next time.

Every request is answered with success right after its reply; Start hands out the token
"murlex-restore-<n>" for the n-th start. The SelectDevices options are recorded and handed out as
JSON by Calls() on the control interface. No key goes anywhere.
'''

import json

import dbus
from dbusmock.mockobject import objects
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.RemoteDesktop'
SYSTEM_BUS = False

CONTROL_IFACE = 'org.murlex.test.PortalBackend'
REQUEST_IFACE = 'org.freedesktop.portal.Request'
SESSION_IFACE = 'org.freedesktop.portal.Session'


def answer(self, sender, options, results):
    path = '/org/freedesktop/portal/desktop/request/%s/%s' % (sender[1:].replace('.', '_'), options['handle_token'])
    self.AddObject(path, REQUEST_IFACE, {}, [])

    def respond():
        objects[path].EmitSignal(REQUEST_IFACE, 'Response', 'ua{sv}',
                                         [dbus.UInt32(0), dbus.Dictionary(results, signature='sv')])
        return False
    GLib.timeout_add(20, respond)
    return dbus.ObjectPath(path)


def create_session(self, options, sender):
    self.sessions += 1
    session = '/org/freedesktop/portal/desktop/session/%s/%s' % (sender[1:].replace('.', '_'),
                                                                 options['session_handle_token'])
    self.AddObject(session, SESSION_IFACE, {}, [('Close', '', '', '')])
    return answer(self, sender, options, {'session_handle': dbus.String(session)})


def select_devices(self, session, options, sender):
    self.recorded.append({'method': 'SelectDevices', 'types': int(options.get('types', 0)),
                          'persist_mode': int(options.get('persist_mode', 0)),
                          'restore_token': str(options['restore_token']) if 'restore_token' in options else None})
    return answer(self, sender, options, {})


def start(self, session, parent_window, options, sender):
    self.recorded.append({'method': 'Start'})
    return answer(self, sender, options, {'devices': dbus.UInt32(1),
                                          'restore_token': dbus.String('murlex-restore-%d' % self.sessions)})


def calls(self):
    return json.dumps(self.recorded)


def load(mock, parameters):
    mock.recorded = []
    mock.sessions = 0
    mock.AddProperty(MAIN_IFACE, 'version', dbus.UInt32(2))
    mock.AddProperty(MAIN_IFACE, 'AvailableDeviceTypes', dbus.UInt32(3))
    mock.AddMethod(CONTROL_IFACE, 'Calls', '', 's', calls)


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender=None):
    return create_session(self, options, sender)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def SelectDevices(self, session, options, sender=None):
    return select_devices(self, session, options, sender)


@dbus.service.method(MAIN_IFACE, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
def Start(self, session, parent_window, options, sender=None):
    return start(self, session, parent_window, options, sender)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}iu', out_signature='')
def NotifyKeyboardKeycode(self, session, options, keycode, state):
    pass
