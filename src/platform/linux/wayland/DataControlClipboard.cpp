#include "platform/linux/wayland/DataControlClipboard.h"

#include "app/AppLogger.h"
#include "platform/linux/process/ClipboardPipes.h"
#include "platform/linux/process/PipeFeed.h"
#include "platform/linux/wayland/WaylandConnection.h"

#include "ext-data-control-client-protocol.h"
#include "wlr-data-control-client-protocol.h"

#include <QSocketNotifier>
#include <QTimer>

#include <wayland-client.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// Request and event numbers, the same in both protocols.
enum ManagerRequest : uint32_t { createDataSource = 0, getDataDevice = 1, managerDestroy = 2 };
enum DeviceRequest : uint32_t { setSelection = 0, deviceDestroy = 1 };
enum SourceRequest : uint32_t { sourceOffer = 0, sourceDestroy = 1 };
enum OfferRequest : uint32_t { offerReceive = 0, offerDestroy = 1 };

// The listeners, laid out as the protocols' events are numbered.
struct DeviceListener {
    void (*dataOffer)(void *, wl_proxy *, wl_proxy *);
    void (*selection)(void *, wl_proxy *, wl_proxy *);
    void (*finished)(void *, wl_proxy *);
    void (*primarySelection)(void *, wl_proxy *, wl_proxy *);
};
struct OfferListener {
    void (*offer)(void *, wl_proxy *, const char *);
};
struct SourceListener {
    void (*send)(void *, wl_proxy *, const char *, int32_t);
    void (*cancelled)(void *, wl_proxy *);
};

void destroyProxy(wl_proxy *proxy, uint32_t opcode)
{
    wl_proxy_marshal_flags(proxy, opcode, nullptr, wl_proxy_get_version(proxy), WL_MARSHAL_FLAG_DESTROY);
}

} // namespace

DataControlClipboard::Protocol DataControlClipboard::Protocol::wlr()
{
    return {&zwlr_data_control_manager_v1_interface, &zwlr_data_control_device_v1_interface,
            &zwlr_data_control_source_v1_interface, &zwlr_data_control_offer_v1_interface};
}

DataControlClipboard::Protocol DataControlClipboard::Protocol::ext()
{
    return {&ext_data_control_manager_v1_interface, &ext_data_control_device_v1_interface,
            &ext_data_control_source_v1_interface, &ext_data_control_offer_v1_interface};
}

DataControlClipboard::DataControlClipboard(std::shared_ptr<WaylandConnection> connection, Protocol protocol,
                                           std::chrono::milliseconds readBound)
    : m_connection(std::move(connection)), m_protocol(protocol), m_readBound(readBound)
{
    if (!m_connection)
        return;
    m_seat = m_connection->bind(&wl_seat_interface, 1);
    // Version 1: the clipboard alone, no primary selection.
    m_manager = m_connection->bind(m_protocol.manager, 1);
    if (!m_seat || !m_manager) {
        qCWarning(AppLogger::injection, "data-control clipboard unavailable: the compositor offers no %s",
                  m_seat ? m_protocol.manager->name : "seat");
        return;
    }
    m_device = wl_proxy_marshal_flags(m_manager, getDataDevice, m_protocol.device, 1, 0, nullptr, m_seat);
    static const DeviceListener deviceListener = {&onDataOffer, &onSelection, &onFinished, &onPrimarySelection};
    wl_proxy_add_listener(m_device, reinterpret_cast<void (**)(void)>(const_cast<DeviceListener *>(&deviceListener)),
                          this);
    // The compositor answers with the current selection.
    m_connection->roundtrip();
}

DataControlClipboard::~DataControlClipboard()
{
    if (!m_connection || !m_connection->isConnected())
        return;
    for (wl_proxy *offer : m_offers.keys())
        destroyProxy(offer, offerDestroy);
    if (m_source)
        destroyProxy(m_source, sourceDestroy);
    if (m_device)
        destroyProxy(m_device, deviceDestroy);
    if (m_manager)
        destroyProxy(m_manager, managerDestroy);
    if (m_seat)
        wl_proxy_destroy(m_seat);
    m_connection->flush();
}

void DataControlClipboard::onDataOffer(void *data, wl_proxy *, wl_proxy *offer)
{
    auto *self = static_cast<DataControlClipboard *>(data);
    static const OfferListener offerListener = {&onOfferMimeType};
    wl_proxy_add_listener(offer, reinterpret_cast<void (**)(void)>(const_cast<OfferListener *>(&offerListener)), self);
    self->m_offers.insert(offer, {});
}

void DataControlClipboard::onOfferMimeType(void *data, wl_proxy *offer, const char *mimeType)
{
    auto *self = static_cast<DataControlClipboard *>(data);
    auto it = self->m_offers.find(offer);
    if (it != self->m_offers.end() && !it->contains(QString::fromUtf8(mimeType)))
        it->append(QString::fromUtf8(mimeType));
}

void DataControlClipboard::onSelection(void *data, wl_proxy *, wl_proxy *offer)
{
    auto *self = static_cast<DataControlClipboard *>(data);
    if (self->m_selection && self->m_selection != offer)
        self->destroyOffer(self->m_selection);
    self->m_selection = offer;
}

void DataControlClipboard::onPrimarySelection(void *data, wl_proxy *, wl_proxy *offer)
{
    if (offer)
        static_cast<DataControlClipboard *>(data)->destroyOffer(offer);
}

void DataControlClipboard::onFinished(void *data, wl_proxy *)
{
    auto *self = static_cast<DataControlClipboard *>(data);
    qCWarning(AppLogger::injection, "the compositor withdrew the data-control device");
    destroyProxy(self->m_device, deviceDestroy);
    self->m_device = nullptr;
}

void DataControlClipboard::onSend(void *data, wl_proxy *source, const char *mimeType, int32_t fd)
{
    auto *self = static_cast<DataControlClipboard *>(data);
    if (source != self->m_source) {
        close(fd);
        return;
    }
    const QString type = QString::fromUtf8(mimeType);
    for (const ClipboardFormat &format : std::as_const(self->m_served)) {
        if (format.mimeType == type) {
            feedPipe(self, fd, format.data, serveBound);
            return;
        }
    }
    close(fd);
}

void DataControlClipboard::onCancelled(void *data, wl_proxy *source)
{
    auto *self = static_cast<DataControlClipboard *>(data);
    if (source == self->m_source) {
        self->m_source = nullptr;
        self->m_served.clear();
    }
    destroyProxy(source, sourceDestroy);
}

void DataControlClipboard::destroyOffer(wl_proxy *offer)
{
    if (m_offers.remove(offer))
        destroyProxy(offer, offerDestroy);
    if (m_selection == offer)
        m_selection = nullptr;
}

void DataControlClipboard::destroySource(wl_proxy *source)
{
    if (source)
        destroyProxy(source, sourceDestroy);
}

ClipboardSnapshot DataControlClipboard::snapshot()
{
    if (!m_device)
        return {};
    // Brings the selection up to date (another client may have set it a moment ago).
    m_connection->roundtrip();
    if (m_source)
        return m_served;
    if (!m_selection)
        return {};

    std::vector<ClipboardPipe> pipes;
    for (const QString &type : m_offers.value(m_selection)) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            continue;
        const QByteArray name = type.toUtf8();
        // The request carries a duplicate of the write end; ours is closed at once, so the pipe
        // reports its end when the owner closes its copy.
        wl_proxy_marshal_flags(m_selection, offerReceive, nullptr, wl_proxy_get_version(m_selection), 0,
                               name.constData(), fds[1]);
        close(fds[1]);
        pipes.push_back({type, fds[0]});
    }
    m_connection->flush();
    return readClipboardPipes(pipes, m_readBound);
}

void DataControlClipboard::setTransientText(const QString &text)
{
    own(textFormats(text, true));
}

void DataControlClipboard::setText(const QString &text)
{
    own(textFormats(text, false));
}

void DataControlClipboard::restore(const ClipboardSnapshot &snapshot)
{
    own(snapshot);
}

void DataControlClipboard::own(const ClipboardSnapshot &contents)
{
    if (!m_device)
        return;
    wl_proxy *previous = std::exchange(m_source, nullptr);
    if (contents.isEmpty()) {
        wl_proxy_marshal_flags(m_device, setSelection, nullptr, wl_proxy_get_version(m_device), 0, nullptr);
    } else {
        wl_proxy *source = wl_proxy_marshal_flags(m_manager, createDataSource, m_protocol.source,
                                                  wl_proxy_get_version(m_manager), 0, nullptr);
        static const SourceListener sourceListener = {&onSend, &onCancelled};
        wl_proxy_add_listener(source, reinterpret_cast<void (**)(void)>(const_cast<SourceListener *>(&sourceListener)),
                              this);
        for (const ClipboardFormat &format : contents) {
            const QByteArray name = format.mimeType.toUtf8();
            wl_proxy_marshal_flags(source, sourceOffer, nullptr, wl_proxy_get_version(source), 0, name.constData());
        }
        wl_proxy_marshal_flags(m_device, setSelection, nullptr, wl_proxy_get_version(m_device), 0, source);
        m_source = source;
        m_served = contents;
    }
    if (!m_source)
        m_served.clear();
    // The replaced source of ours is of no use any more; the compositor forgets it with it.
    destroySource(previous);
    m_connection->flush();
}
