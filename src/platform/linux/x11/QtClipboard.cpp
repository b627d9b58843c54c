#include "platform/linux/x11/QtClipboard.h"
#include "platform/linux/x11/X11SelectionWatch.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

QtClipboard::QtClipboard() = default;
QtClipboard::~QtClipboard() = default;

std::optional<quint64> QtClipboard::changeCount()
{
    if (!m_watchTried) {
        m_watchTried = true;
        // Qt's clipboard is the X server's only when Qt itself runs on X11 (XWayland included).
        if (qGuiApp && qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
            m_watch = std::make_unique<X11SelectionWatch>();
    }
    return m_watch ? m_watch->changeCount() : std::nullopt;
}

bool QtClipboard::isProtocolFormat(const QString &mimeType)
{
    static const QStringList protocol = {
        // ICCCM selection targets that are requests, not data.
        QStringLiteral("TARGETS"),          QStringLiteral("MULTIPLE"),
        QStringLiteral("TIMESTAMP"),        QStringLiteral("SAVE_TARGETS"),
        QStringLiteral("DELETE"),           QStringLiteral("INSERT_SELECTION"),
        QStringLiteral("INSERT_PROPERTY"),
        // Qt's stand-in for any image target; the image/* formats carry the bytes.
        QStringLiteral("application/x-qt-image"),
    };
    return protocol.contains(mimeType);
}

ClipboardSnapshot QtClipboard::snapshot()
{
    // The object Qt returns belongs to the clipboard and dies with its next change: copy the bytes.
    const QMimeData *current = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!current)
        return {};
    ClipboardSnapshot saved;
    const QStringList formats = current->formats();
    for (const QString &format : formats) {
        if (isProtocolFormat(format))
            continue;
        // Qt answers a format it could not read with a null array, and one whose data is zero
        // bytes with an empty one: only the first is left out.
        QByteArray data = current->data(format);
        if (data.isNull())
            continue;
        saved.append({format, data});
    }
    return saved;
}

void QtClipboard::setTransientText(const QString &text)
{
    auto *mime = new QMimeData;
    mime->setText(text);
    // The convention clipboard managers (Klipper, CopyQ ...) follow to keep an entry out of history.
    mime->setData(QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret"));
    QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Clipboard);
}

void QtClipboard::setText(const QString &text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

void QtClipboard::restore(const ClipboardSnapshot &snapshot)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (snapshot.isEmpty()) {
        clipboard->clear(QClipboard::Clipboard);
        return;
    }
    auto *mime = new QMimeData;
    for (const ClipboardFormat &format : snapshot)
        mime->setData(format.mimeType, format.data);
    clipboard->setMimeData(mime, QClipboard::Clipboard);
}
