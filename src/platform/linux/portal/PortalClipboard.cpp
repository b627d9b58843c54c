#include "platform/linux/portal/PortalClipboard.h"

#include "app/AppLogger.h"
#include "platform/linux/portal/PortalNames.h"
#include "platform/linux/portal/RemoteDesktopSession.h"
#include "platform/linux/process/ClipboardPipes.h"
#include "platform/linux/process/PipeFeed.h"

#include <QClipboard>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QGuiApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <qcoro/qcorodbuspendingcall.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

QStringList stringList(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QStringList>(value.value<QDBusArgument>());
    return value.toStringList();
}

// Errors that say the portal itself did not answer (as opposed to refusing one format).
bool portalSilent(const QDBusMessage &reply)
{
    const QDBusError::ErrorType type = QDBusError(reply).type();
    return type == QDBusError::NoReply || type == QDBusError::Timeout || type == QDBusError::TimedOut ||
           type == QDBusError::Disconnected || type == QDBusError::ServiceUnknown || type == QDBusError::NoServer;
}

// A descriptor of our own for the one the message carries; -1 without one.
int takeDescriptor(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return -1;
    const auto descriptor = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
    return descriptor.isValid() ? fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
}

// A call of the portal's Clipboard interface for the session with this handle.
QDBusMessage clipboardMessage(const QString &session, const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(PortalNames::service), QLatin1String(PortalNames::objectPath),
                                                       QLatin1String(PortalNames::clipboard), method);
    call.setAutoStartService(false);
    call << QVariant::fromValue(QDBusObjectPath(session));
    return call;
}

// Tells the portal how the transfer to a reader (its serial) ended.
void sendWriteDone(QDBusConnection bus, const QString &session, uint serial, bool complete)
{
    QDBusMessage done = clipboardMessage(session, QStringLiteral("SelectionWriteDone"));
    done << serial << complete;
    bus.send(done);
}

} // namespace

PortalClipboard::PortalClipboard(std::shared_ptr<RemoteDesktopSession> session, std::unique_ptr<Clipboard> fallback,
                                 Bounds bounds)
    : m_session(std::move(session)), m_fallback(std::move(fallback)), m_bounds(bounds)
{
    // A reader that goes away in the middle of a transfer must not end the process with SIGPIPE;
    // a failed write is handled where it happens.
    std::signal(SIGPIPE, SIG_IGN);
    m_session->requestClipboardAccess();
    subscribe(true);
}

PortalClipboard::~PortalClipboard()
{
    subscribe(false);
}

void PortalClipboard::subscribe(bool on)
{
    QDBusConnection bus = m_session->options().bus;
    const QString service = QLatin1String(PortalNames::service);
    const QString path = QLatin1String(PortalNames::objectPath);
    const QString interface = QLatin1String(PortalNames::clipboard);
    // Taking the message: a slot with D-Bus types is refused while those types are not yet
    // registered with the meta-type system, as before the process's first use of them.
    const char *owner = SLOT(onSelectionOwnerChanged(QDBusMessage));
    const char *transfer = SLOT(onSelectionTransfer(QDBusMessage));
    if (on) {
        bus.connect(service, path, interface, QStringLiteral("SelectionOwnerChanged"), this, owner);
        bus.connect(service, path, interface, QStringLiteral("SelectionTransfer"), this, transfer);
    } else {
        bus.disconnect(service, path, interface, QStringLiteral("SelectionOwnerChanged"), this, owner);
        bus.disconnect(service, path, interface, QStringLiteral("SelectionTransfer"), this, transfer);
    }
}

QDBusMessage PortalClipboard::clipboardCall(const QString &method) const
{
    return clipboardMessage(m_session->handle(), method);
}

bool PortalClipboard::usable() const
{
    return m_session->clipboardEnabled();
}

bool PortalClipboard::ownedThroughXWayland()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) && QGuiApplication::clipboard()->ownsClipboard();
}

void PortalClipboard::onSelectionOwnerChanged(const QDBusMessage &message)
{
    const QString session = message.arguments().value(0).value<QDBusObjectPath>().path();
    if (session.isEmpty() || session != m_session->handle())
        return;
    const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().value(1));
    m_offeredSession = session;
    m_offered = stringList(options.value(QStringLiteral("mime_types")));
    m_owned = options.value(QStringLiteral("session_is_owner")).toBool();
}

void PortalClipboard::onSelectionTransfer(const QDBusMessage &message)
{
    const QString session = message.arguments().value(0).value<QDBusObjectPath>().path();
    const QString mimeType = message.arguments().value(1).toString();
    const uint serial = message.arguments().value(2).toUInt();
    if (session.isEmpty() || session != m_session->handle())
        return;
    for (const ClipboardFormat &format : std::as_const(m_served)) {
        if (format.mimeType == mimeType) {
            serve(serial, format.data);
            return;
        }
    }
    sendWriteDone(m_session->options().bus, session, serial, false);
}

void PortalClipboard::fallBack(const QString &reason)
{
    m_dictationViaFallback = true;
    qCWarning(AppLogger::injection, "%s: this dictation's clipboard goes through XWayland", qUtf8Printable(reason));
}

QString PortalClipboard::silence() const
{
    return QStringLiteral("the desktop portal's clipboard did not answer within %1 ms").arg(m_bounds.call.count());
}

ClipboardSnapshot PortalClipboard::snapshot()
{
    // A snapshot begins a dictation; its set and its restore follow the same way.
    m_dictationViaFallback = false;
    if (!usable() || ownedThroughXWayland()) {
        m_dictationViaFallback = true;
        return m_fallback->snapshot();
    }
    if (m_offeredSession != m_session->handle()) {
        // Not told yet what the clipboard holds: asking for types blindly could lose formats.
        fallBack(QStringLiteral("the desktop portal has not told what the clipboard holds"));
        return m_fallback->snapshot();
    }
    if (m_owned)
        return m_served;
    const std::optional<ClipboardSnapshot> read = readFormats(m_offered);
    if (read)
        return *read;
    fallBack(silence());
    return m_fallback->snapshot();
}

std::optional<ClipboardSnapshot> PortalClipboard::readFormats(const QStringList &types)
{
    QDBusConnection bus = m_session->options().bus;
    std::vector<ClipboardPipe> pipes;
    auto closeAll = [&pipes] {
        for (const ClipboardPipe &pipe : pipes)
            close(pipe.second);
    };
    // Every pipe is asked for first: an owner may write its formats in any order.
    for (const QString &type : types) {
        QDBusMessage call = clipboardCall(QStringLiteral("SelectionRead"));
        call << type;
        // Waits for the reply on this thread, the event loop standing still; bounded.
        const QDBusMessage reply = bus.call(call, QDBus::Block, int(m_bounds.call.count()));
        if (portalSilent(reply)) {
            closeAll();
            return std::nullopt;
        }
        const int fd = takeDescriptor(reply);
        if (fd < 0) {
            qCWarning(AppLogger::injection, "the desktop portal would not read clipboard format %s (%s); left out",
                      qUtf8Printable(type), qPrintable(reply.errorMessage()));
            continue;
        }
        pipes.push_back({type, fd});
    }
    return readClipboardPipes(pipes, m_bounds.read);
}

void PortalClipboard::setTransientText(const QString &text)
{
    if (m_dictationViaFallback || !put(textFormats(text, true)))
        m_fallback->setTransientText(text);
}

void PortalClipboard::setText(const QString &text)
{
    // A copy of its own, outside any dictation.
    m_dictationViaFallback = false;
    if (!put(textFormats(text, false)))
        m_fallback->setText(text);
}

void PortalClipboard::restore(const ClipboardSnapshot &snapshot)
{
    // The dictation ends here.
    const bool viaFallback = std::exchange(m_dictationViaFallback, false);
    if (viaFallback || !put(snapshot))
        m_fallback->restore(snapshot);
}

bool PortalClipboard::put(const ClipboardSnapshot &contents)
{
    if (!usable())
        return false;
    QStringList types;
    for (const ClipboardFormat &format : contents)
        types << format.mimeType;
    QDBusMessage call = clipboardCall(QStringLiteral("SetSelection"));
    call << QVariantMap{{QStringLiteral("mime_types"), types}};
    // Awaited, bounded, before the paste chord goes out: a reader must find our types offered.
    const QDBusMessage reply = m_session->options().bus.call(call, QDBus::Block, int(m_bounds.call.count()));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        if (portalSilent(reply))
            fallBack(silence());
        else
            qCWarning(AppLogger::injection, "the desktop portal would not set the clipboard (%s): it goes through XWayland",
                      qPrintable(reply.errorMessage()));
        m_dictationViaFallback = true;
        return false;
    }
    m_served = contents;
    m_owned = true;
    m_offeredSession = m_session->handle();
    m_offered = types;
    return true;
}

QCoro::Task<> PortalClipboard::serve(uint serial, QByteArray data)
{
    QPointer<PortalClipboard> self(this);
    QDBusConnection bus = m_session->options().bus;
    const QString session = m_session->handle();
    QDBusMessage call = clipboardCall(QStringLiteral("SelectionWrite"));
    call << serial;
    int fd = -1;
    {
        const QDBusPendingCall pending = bus.asyncCall(call, int(m_bounds.call.count()));
        const QDBusMessage reply = co_await pending;
        // The message's copy of the descriptor goes with it, so the reader sees the end once ours closes.
        fd = takeDescriptor(reply);
        if (fd < 0)
            qCWarning(AppLogger::injection, "the desktop portal gave no pipe to a reader of our clipboard: %s",
                      qPrintable(reply.errorMessage()));
    }
    if (!self) {
        if (fd >= 0)
            close(fd);
        co_return;
    }
    if (fd < 0) {
        sendWriteDone(bus, session, serial, false);
        co_return;
    }
    // The handle of the session that asked, even should the session have changed by the end.
    feedPipe(this, fd, std::move(data), m_bounds.serve,
             [bus, session, serial](bool complete) { sendWriteDone(bus, session, serial, complete); });
}
