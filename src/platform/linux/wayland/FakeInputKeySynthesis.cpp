#include "platform/linux/wayland/FakeInputKeySynthesis.h"

#include "app/AppLogger.h"
#include "core/AppIdentity.h"
#include "platform/linux/wayland/WaylandConnection.h"

#include "fake-input-client-protocol.h"

#include <linux/input-event-codes.h>
#include <wayland-client.h>

namespace {

// keyboard_key arrived with version 4 of the interface.
constexpr uint32_t keyboardVersion = 4;

} // namespace

FakeInputKeySynthesis::FakeInputKeySynthesis(std::shared_ptr<WaylandConnection> connection)
    : m_connection(std::move(connection))
{
    if (!m_connection)
        return;
    m_fakeInput = m_connection->bind(&org_kde_kwin_fake_input_interface, keyboardVersion);
    if (!m_fakeInput)
        return;
    if (wl_proxy_get_version(m_fakeInput) < keyboardVersion) {
        qCWarning(AppLogger::injection, "KWin's fake input has no keyboard (version %u)",
                  wl_proxy_get_version(m_fakeInput));
        wl_proxy_destroy(m_fakeInput);
        m_fakeInput = nullptr;
        return;
    }
    org_kde_kwin_fake_input_authenticate(reinterpret_cast<org_kde_kwin_fake_input *>(m_fakeInput), AppIdentity::displayName,
                                         "paste dictated text");
    m_connection->flush();
}

FakeInputKeySynthesis::~FakeInputKeySynthesis()
{
    if (m_fakeInput && m_connection->isConnected()) {
        org_kde_kwin_fake_input_destroy(reinterpret_cast<org_kde_kwin_fake_input *>(m_fakeInput));
        m_connection->flush();
    }
}

bool FakeInputKeySynthesis::isTrusted()
{
    return m_fakeInput && m_connection->isConnected();
}

void FakeInputKeySynthesis::promptForTrust()
{
    // KWin grants the interface from the installed desktop entry; there is nothing to ask.
}

void FakeInputKeySynthesis::key(uint32_t evdevCode, bool pressed)
{
    org_kde_kwin_fake_input_keyboard_key(reinterpret_cast<org_kde_kwin_fake_input *>(m_fakeInput), evdevCode,
                                         pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void FakeInputKeySynthesis::sendPasteChord(PasteChord chord)
{
    if (!isTrusted()) {
        qCCritical(AppLogger::injection, "paste keystroke not sent: KWin's fake input is not granted");
        return;
    }
    key(KEY_LEFTCTRL, true);
    if (chord == PasteChord::terminal)
        key(KEY_LEFTSHIFT, true);
    key(KEY_V, true);
    key(KEY_V, false);
    if (chord == PasteChord::terminal)
        key(KEY_LEFTSHIFT, false);
    key(KEY_LEFTCTRL, false);
    m_connection->flush();
}
