#include "FakeHotKeyService.h"

#include <QMap>

int FakeHotKeyService::registerHotKey(const KeyCombo &combo, quint32 id)
{
    m_registered.insert(id, Registration{combo, id});
    history.append(Registration{combo, id});
    return statusOk;
}

void FakeHotKeyService::unregisterHotKey(quint32 id)
{
    m_registered.remove(id);
}

std::optional<QString> FakeHotKeyService::layoutCharacter(qint64 keyCode)
{
    static const QMap<qint64, char> us{
        {0x00, 'a'}, {0x01, 's'}, {0x02, 'd'}, {0x03, 'f'}, {0x04, 'h'}, {0x05, 'g'}, {0x06, 'z'}, {0x07, 'x'},
        {0x08, 'c'}, {0x09, 'v'}, {0x0B, 'b'}, {0x0C, 'q'}, {0x0D, 'w'}, {0x0E, 'e'}, {0x0F, 'r'}, {0x10, 'y'},
        {0x11, 't'}, {0x12, '1'}, {0x13, '2'}, {0x14, '3'}, {0x15, '4'}, {0x16, '6'}, {0x17, '5'}, {0x18, '='},
        {0x19, '9'}, {0x1A, '7'}, {0x1B, '-'}, {0x1C, '8'}, {0x1D, '0'}, {0x1E, ']'}, {0x1F, 'o'}, {0x20, 'u'},
        {0x21, '['}, {0x22, 'i'}, {0x23, 'p'}, {0x25, 'l'}, {0x26, 'j'}, {0x27, '\''}, {0x28, 'k'}, {0x29, ';'},
        {0x2A, '\\'}, {0x2B, ','}, {0x2C, '/'}, {0x2D, 'n'}, {0x2E, 'm'}, {0x2F, '.'}, {0x32, '`'},
    };
    const auto it = us.constFind(keyCode);
    if (it == us.constEnd())
        return std::nullopt;
    return QString(QChar::fromLatin1(*it));
}

std::optional<HotKeyService::KeyCombo> FakeHotKeyService::keyComboFromNative(quint32 nativeKeyCode,
                                                                            quint32 nativeModifiers)
{
    return KeyCombo{qint64(nativeKeyCode), qint64(nativeModifiers)};
}

int FakeHotKeyService::press(const KeyCombo &combo)
{
    return emitFor(combo, &HotKeyService::hotKeyPressed);
}

int FakeHotKeyService::release(const KeyCombo &combo)
{
    return emitFor(combo, &HotKeyService::hotKeyReleased);
}

int FakeHotKeyService::emitFor(const KeyCombo &combo, void (HotKeyService::*signal)(quint32))
{
    int count = 0;
    for (const Registration &r : m_registered.values())
        if (r.combo == combo) {
            (this->*signal)(r.id);
            ++count;
        }
    return count;
}

bool FakeHotKeyService::isRegistered(const KeyCombo &combo) const
{
    for (const Registration &r : m_registered)
        if (r.combo == combo)
            return true;
    return false;
}
