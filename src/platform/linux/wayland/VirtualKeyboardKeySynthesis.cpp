#include "platform/linux/wayland/VirtualKeyboardKeySynthesis.h"

#include "app/AppLogger.h"
#include "platform/linux/wayland/WaylandConnection.h"

#include "virtual-keyboard-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <QElapsedTimer>

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Key codes of xkbcommon are the kernel's evdev codes plus 8.
constexpr uint32_t evdevOffset = 8;

uint32_t keyFor(xkb_keymap *keymap, xkb_keysym_t wanted)
{
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= last; ++code) {
        const xkb_keysym_t *symbols = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &symbols);
        for (int i = 0; i < count; ++i)
            if (symbols[i] == wanted)
                return code - evdevOffset;
    }
    return 0;
}

uint32_t milliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

} // namespace

VirtualKeyboardKeySynthesis::VirtualKeyboardKeySynthesis(std::shared_ptr<WaylandConnection> connection)
    : m_connection(std::move(connection))
{
    if (!m_connection)
        return;
    m_seat = m_connection->bind(&wl_seat_interface, 1);
    m_manager = m_connection->bind(&zwp_virtual_keyboard_manager_v1_interface, 1);
    if (!m_seat || !m_manager)
        return;
    m_keyboard = reinterpret_cast<wl_proxy *>(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
        reinterpret_cast<zwp_virtual_keyboard_manager_v1 *>(m_manager), reinterpret_cast<wl_seat *>(m_seat)));
    // A compositor that refuses us ends the connection with an error: the round trip shows it.
    m_ready = uploadKeymap() && m_connection->roundtrip() && m_connection->isConnected();
    if (!m_ready)
        qCWarning(AppLogger::injection, "the compositor did not give us a virtual keyboard");
}

VirtualKeyboardKeySynthesis::~VirtualKeyboardKeySynthesis()
{
    if (!m_connection || !m_connection->isConnected())
        return;
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(reinterpret_cast<zwp_virtual_keyboard_v1 *>(m_keyboard));
    if (m_manager)
        wl_proxy_destroy(m_manager);
    if (m_seat)
        wl_proxy_destroy(m_seat);
    m_connection->flush();
}

bool VirtualKeyboardKeySynthesis::uploadKeymap()
{
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context)
        return false;
    // A plain US keymap: only Control, Shift and V are ever pressed on it.
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    xkb_keymap *keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    bool uploaded = false;
    if (keymap) {
        m_control = keyFor(keymap, XKB_KEY_Control_L);
        m_shift = keyFor(keymap, XKB_KEY_Shift_L);
        m_v = keyFor(keymap, XKB_KEY_v);
        m_controlMask = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CTRL);
        m_shiftMask = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
        char *text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        const size_t size = text ? std::strlen(text) + 1 : 0;
        const int fd = memfd_create("murlex-keymap", MFD_CLOEXEC);
        if (text && fd >= 0 && write(fd, text, size) == static_cast<ssize_t>(size)) {
            zwp_virtual_keyboard_v1_keymap(reinterpret_cast<zwp_virtual_keyboard_v1 *>(m_keyboard),
                                           WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
            uploaded = m_control && m_shift && m_v;
        }
        if (fd >= 0)
            close(fd);
        free(text);
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
    return uploaded;
}

bool VirtualKeyboardKeySynthesis::isTrusted()
{
    return m_ready && m_connection->isConnected();
}

void VirtualKeyboardKeySynthesis::promptForTrust()
{
    // The compositor decides alone; there is nothing to ask the user.
}

void VirtualKeyboardKeySynthesis::key(uint32_t evdevCode, bool pressed)
{
    zwp_virtual_keyboard_v1_key(reinterpret_cast<zwp_virtual_keyboard_v1 *>(m_keyboard), milliseconds(), evdevCode,
                                pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void VirtualKeyboardKeySynthesis::modifiers(uint32_t depressed)
{
    zwp_virtual_keyboard_v1_modifiers(reinterpret_cast<zwp_virtual_keyboard_v1 *>(m_keyboard), depressed, 0, 0, 0);
}

void VirtualKeyboardKeySynthesis::sendPasteChord(PasteChord chord)
{
    if (!isTrusted()) {
        qCCritical(AppLogger::injection, "paste keystroke not sent: no virtual keyboard");
        return;
    }
    // The compositor takes the modifier state from the modifiers request, not from the keys.
    uint32_t held = m_controlMask;
    key(m_control, true);
    modifiers(held);
    if (chord == PasteChord::terminal) {
        held |= m_shiftMask;
        key(m_shift, true);
        modifiers(held);
    }
    key(m_v, true);
    key(m_v, false);
    if (chord == PasteChord::terminal) {
        held &= ~m_shiftMask;
        key(m_shift, false);
        modifiers(held);
    }
    key(m_control, false);
    modifiers(0);
    m_connection->flush();
}
