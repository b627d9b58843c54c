#pragma once

#include "platform/HotKeyService.h"

#include <QHash>
#include <QList>


// A desktop for the shortcuts library without a display server: records what is registered under
// which identifier, refuses the combinations it is told to, and presses registered combinations on
// demand. Native key events carry the virtual key code as their native key code and the Carbon
// modifier bits as their native modifiers. Its layout is US without the X server: letters, digits
// and the punctuation keys.
class FakeHotKeyService : public HotKeyService {
    Q_OBJECT
public:
    struct Registration {
        KeyCombo combo;
        quint32 id = 0;
    };

    using HotKeyService::HotKeyService;

    int registerHotKey(const KeyCombo &combo, quint32 id) override;
    void unregisterHotKey(quint32 id) override;
    std::optional<QString> layoutCharacter(qint64 keyCode) override;
    std::optional<KeyCombo> keyComboFromNative(quint32 nativeKeyCode, quint32 nativeModifiers) override;
    QList<KeyCombo> systemShortcuts() override { return reserved; }

    // Emits a press (release) for every registered identifier holding the combination; returns how many.
    int press(const KeyCombo &combo);
    int release(const KeyCombo &combo);

    bool isRegistered(const KeyCombo &combo) const;
    QList<Registration> registered() const { return m_registered.values(); }
    // Every registration ever made, in order.
    QList<Registration> history;
    QList<KeyCombo> reserved;

private:
    int emitFor(const KeyCombo &combo, void (HotKeyService::*signal)(quint32));

    QHash<quint32, Registration> m_registered;
};
