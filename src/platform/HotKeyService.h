#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

// System-wide hot keys and the keyboard layout, as the desktop offers them.
//
// Keys are named by their kVK_ virtual key codes and modifiers by the Carbon bits of the shortcuts
// library (control 0x1000, option 0x800, shift 0x200, command 0x100, function 0x20000); the
// implementation maps them to what the display server understands. Everything runs on the main
// thread.
class HotKeyService : public QObject {
    Q_OBJECT
public:
    struct KeyCombo {
        qint64 keyCode = 0;
        qint64 carbonModifiers = 0;
        bool operator==(const KeyCombo &) const = default;
    };

    // The Carbon modifier bits of a KeyCombo.
    static constexpr qint64 controlKey = 0x1000;
    static constexpr qint64 optionKey = 0x800;
    static constexpr qint64 shiftKey = 0x200;
    static constexpr qint64 cmdKey = 0x100;
    static constexpr qint64 functionKey = 0x20000;

    // Re-encodes a set of modifier bits through a table of pairs (each pair names one modifier in
    // two encodings): every bit of `value` found in the `from` member sets the `to` member.
    template <typename To, typename Table, typename From, typename FromMember, typename ToMember>
    static constexpr To translateModifiers(const Table &table, From value, FromMember from, ToMember to)
    {
        To result = 0;
        for (const auto &pair : table)
            if (value & pair.*from)
                result |= pair.*to;
        return result;
    }

    // Registration results other than the display server's own error codes.
    static constexpr int statusOk = 0;
    static constexpr int statusNotRepresentable = -1; // no such key here, or the function modifier
    static constexpr int statusNoDisplay = -2;        // no display server to register with

    using QObject::QObject;

    // Takes the combination for the whole display under `id`. Returns statusOk, or the failure
    // (the display server's error code, e.g. 10 for X11's BadAccess when another client holds it).
    virtual int registerHotKey(const KeyCombo &combo, quint32 id) = 0;
    virtual void unregisterHotKey(quint32 id) = 0;

    // The character the key gives in the current layout without modifiers; none when it gives no
    // single printable character (dead keys, keys without a character).
    virtual std::optional<QString> layoutCharacter(qint64 keyCode) = 0;

    // The combination of a key event seen in one of the application's own windows, from the
    // event's native key code and modifier state; none when the key has no virtual key code.
    virtual std::optional<KeyCombo> keyComboFromNative(quint32 nativeKeyCode, quint32 nativeModifiers) = 0;

    // The shortcuts the desktop itself reserves, where they can be read; empty otherwise.
    virtual QList<KeyCombo> systemShortcuts() = 0;

    // Whether the combinations should stay taken while one of the application's menus is open
    // (their presses are then ignored), for a desktop where taking them again is not free: one
    // that may ask the person about every new binding.
    virtual bool keepsCombosWhileMenuOpen() const { return false; }

Q_SIGNALS:
    // A registered combination was pressed (once per press, never for auto-repeat) or released.
    void hotKeyPressed(quint32 id);
    void hotKeyReleased(quint32 id);
};
