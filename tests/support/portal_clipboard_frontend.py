'''A desktop portal frontend with RemoteDesktop and Clipboard (version 1 each), as a
python-dbusmock template, for what the installed portal (1.16: RemoteDesktop version 1, no
Clipboard) cannot show.

It holds the clipboard in memory, as the compositor would, and moves every byte through real
pipes: SelectionRead hands out a pipe the "other application" writes its format into,
SelectionWrite a pipe whose contents go to the reader that asked through Paste().

Control interface (org.murlex.test.PortalBackend):
  Own(as types, as base64, as stalled)  another application copies: those formats, and MIME
                                   types whose owner never writes a byte
  Paste(s mime) -> ay              a reader asks for the clipboard's `mime` (answered when the
                                   session has written it and said so; an error when it said failure)
  Selection() -> (b, as)           whether the session owns the clipboard, and the types offered
  SetSilent(b)                     from now on, SelectionRead and SetSelection are never answered
  Calls() -> s                     every call of the session, as JSON
Parameters: {"clipboard": false} leaves the Clipboard interface out (a portal before 1.17);
{"version": 2} offers RemoteDesktop version 2, whose Start hands out the restore token
"murlex-restore-<n>" for the n-th session.
'''

import base64
import os

import dbus
from gi.repository import GLib

from portal_mock import CONTROL_IFACE, MAIN_OBJ, answer, own_path, record, setup  # noqa: F401 (MAIN_OBJ: the template's object)

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_IFACE = 'org.freedesktop.portal.RemoteDesktop'
SYSTEM_BUS = False

CLIPBOARD_IFACE = 'org.freedesktop.portal.Clipboard'
SESSION_IFACE = 'org.freedesktop.portal.Session'


def owner_changed(self):
    if not self.session or not self.clipboard_enabled:
        return
    self.EmitSignal(CLIPBOARD_IFACE, 'SelectionOwnerChanged', 'oa{sv}', [
        dbus.ObjectPath(self.session),
        dbus.Dictionary({'mime_types': dbus.Array(self.selection['types'], signature='s'),
                         'session_is_owner': dbus.Boolean(self.selection['owner'] == 'session')}, signature='sv')])


def write_out(data, fd):
    '''Writes `data` into the pipe `fd` as the reader takes it, then closes it.'''
    os.set_blocking(fd, False)
    state = {'at': 0}

    def more(source, condition):
        try:
            while state['at'] < len(data):
                state['at'] += os.write(fd, data[state['at']:state['at'] + 65536])
        except BlockingIOError:
            return True
        except OSError:
            pass
        os.close(fd)
        return False
    GLib.io_add_watch(fd, GLib.PRIORITY_DEFAULT, GLib.IO_OUT | GLib.IO_ERR, more)


def read_in(fd, finished):
    '''Reads the pipe `fd` to its end and hands `finished` what came.'''
    chunks = []

    def more(source, condition):
        try:
            chunk = os.read(fd, 65536)
        except BlockingIOError:
            return True
        if chunk:
            chunks.append(chunk)
            return True
        os.close(fd)
        finished(b''.join(chunks))
        return False
    os.set_blocking(fd, False)
    GLib.io_add_watch(fd, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, more)


def load(mock, parameters):
    mock.sessions = 0
    mock.restore_tokens = parameters.get('version', 1) >= 2
    mock.session = None
    mock.clipboard_requested = False
    mock.clipboard_enabled = False
    mock.selection = {'owner': None, 'types': [], 'data': {}, 'stalled': []}
    mock.silent = False
    mock.serial = 0
    mock.transfers = {}
    mock.stalled_pipes = []
    setup(mock, MAIN_IFACE, parameters.get('version', 1), [])
    mock.AddProperty(MAIN_IFACE, 'AvailableDeviceTypes', dbus.UInt32(3))
    if parameters.get('clipboard', True):
        mock.AddProperty(CLIPBOARD_IFACE, 'version', dbus.UInt32(1))
    else:
        # Without the interface, its methods are unknown, as on a portal before 1.17.
        mock.without_clipboard = True


def clipboard_offered(self):
    if getattr(self, 'without_clipboard', False):
        raise dbus.exceptions.DBusException('No such interface', name='org.freedesktop.DBus.Error.UnknownMethod')


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender=None):
    self.sessions += 1
    session = own_path('session', sender, options['session_handle_token'])
    self.AddObject(session, SESSION_IFACE, {}, [('Close', '', '', '')])
    self.session = session
    self.clipboard_requested = False
    self.clipboard_enabled = False
    record(self, 'CreateSession')
    return answer(self, sender, options, {'session_handle': dbus.String(session)})


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def SelectDevices(self, session, options, sender=None):
    record(self, 'SelectDevices', types=int(options.get('types', 0)), persist_mode=int(options.get('persist_mode', 0)),
           restore_token=str(options['restore_token']) if 'restore_token' in options else None)
    return answer(self, sender, options, {})


@dbus.service.method(MAIN_IFACE, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
def Start(self, session, parent_window, options, sender=None):
    record(self, 'Start')
    self.clipboard_enabled = self.clipboard_requested
    results = {'devices': dbus.UInt32(1), 'clipboard_enabled': dbus.Boolean(self.clipboard_enabled)}
    if self.restore_tokens:
        results['restore_token'] = dbus.String('murlex-restore-%d' % self.sessions)
    # With clipboard access, the session hears at once what the clipboard holds.
    return answer(self, sender, options, results, before=lambda: owner_changed(self) if self.selection['owner'] else None)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}iu', out_signature='')
def NotifyKeyboardKeycode(self, session, options, keycode, state):
    record(self, 'NotifyKeyboardKeycode', keycode=int(keycode), state=int(state))


@dbus.service.method(CLIPBOARD_IFACE, in_signature='oa{sv}', out_signature='')
def RequestClipboard(self, session, options):
    clipboard_offered(self)
    record(self, 'RequestClipboard', started=self.clipboard_enabled)
    self.clipboard_requested = True


@dbus.service.method(CLIPBOARD_IFACE, in_signature='oa{sv}', out_signature='',
                     async_callbacks=('reply', 'error'))
def SetSelection(self, session, options, reply, error):
    clipboard_offered(self)
    types = [str(t) for t in options.get('mime_types', [])]
    record(self, 'SetSelection', mime_types=types)
    if self.silent:
        return
    self.selection = {'owner': 'session', 'types': types, 'data': {}, 'stalled': []}
    reply()
    owner_changed(self)


@dbus.service.method(CLIPBOARD_IFACE, in_signature='os', out_signature='h',
                     async_callbacks=('reply', 'error'))
def SelectionRead(self, session, mime_type, reply, error):
    clipboard_offered(self)
    record(self, 'SelectionRead', mime_type=str(mime_type))
    if self.silent:
        return
    if self.selection['owner'] != 'other' or str(mime_type) not in self.selection['types']:
        error(dbus.exceptions.DBusException('not offered', name='org.freedesktop.portal.Error.Failed'))
        return
    read_end, write_end = os.pipe()
    if str(mime_type) in self.selection['stalled']:
        self.stalled_pipes.append(write_end)
    else:
        write_out(self.selection['data'][str(mime_type)], write_end)
    fd = dbus.types.UnixFd(read_end)
    os.close(read_end)
    reply(fd)


@dbus.service.method(CLIPBOARD_IFACE, in_signature='ou', out_signature='h')
def SelectionWrite(self, session, serial):
    clipboard_offered(self)
    record(self, 'SelectionWrite', serial=int(serial))
    transfer = self.transfers.get(int(serial))
    if transfer is None:
        raise dbus.exceptions.DBusException('no such transfer', name='org.freedesktop.portal.Error.Failed')
    read_end, write_end = os.pipe()

    def arrived(data):
        transfer['data'] = data
        finish_transfer(self, int(serial))
    read_in(read_end, arrived)
    fd = dbus.types.UnixFd(write_end)
    os.close(write_end)
    return fd


@dbus.service.method(CLIPBOARD_IFACE, in_signature='oub', out_signature='')
def SelectionWriteDone(self, session, serial, success):
    clipboard_offered(self)
    record(self, 'SelectionWriteDone', serial=int(serial), success=bool(success))
    transfer = self.transfers.get(int(serial))
    if transfer is not None:
        transfer['success'] = bool(success)
        finish_transfer(self, int(serial))


def finish_transfer(self, serial):
    transfer = self.transfers[serial]
    if transfer['success'] is None:
        return
    if not transfer['success']:
        del self.transfers[serial]
        transfer['error'](dbus.exceptions.DBusException('the session failed the transfer',
                                                        name='org.murlex.test.Error'))
    elif transfer['data'] is not None:
        del self.transfers[serial]
        transfer['reply'](dbus.ByteArray(transfer['data']))


@dbus.service.method(CONTROL_IFACE, in_signature='asasas', out_signature='')
def Own(self, types, contents, stalled):
    data = {str(t): base64.b64decode(str(c)) for t, c in zip(types, contents)}
    self.selection = {'owner': 'other', 'types': [str(t) for t in types] + [str(t) for t in stalled], 'data': data,
                      'stalled': [str(t) for t in stalled]}
    owner_changed(self)


@dbus.service.method(CONTROL_IFACE, in_signature='s', out_signature='ay', async_callbacks=('reply', 'error'))
def Paste(self, mime_type, reply, error):
    self.serial += 1
    self.transfers[self.serial] = {'reply': reply, 'error': error, 'data': None, 'success': None}
    self.EmitSignal(CLIPBOARD_IFACE, 'SelectionTransfer', 'osu',
                    [dbus.ObjectPath(self.session), dbus.String(mime_type), dbus.UInt32(self.serial)])


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='bas')
def Selection(self):
    return (self.selection['owner'] == 'session', dbus.Array(self.selection['types'], signature='s'))


@dbus.service.method(CONTROL_IFACE, in_signature='b', out_signature='')
def SetSilent(self, silent):
    self.silent = bool(silent)
