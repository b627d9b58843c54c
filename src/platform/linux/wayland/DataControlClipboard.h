#pragma once

#include "platform/Clipboard.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <chrono>
#include <memory>

struct wl_interface;
struct wl_proxy;
class WaylandConnection;

// The seat's clipboard through the data-control protocol, which a client may read and set
// without having the keyboard focus. The wlroots protocol and its successor ext-data-control
// carry the same messages under other interface names: one class serves both. Reading the
// clipboard waits on the owner's pipes, bounded; what we put on the clipboard is served from
// the event loop as long as we own it.
class DataControlClipboard : public QObject, public Clipboard {
    Q_OBJECT
public:
    // The interfaces of one of the two protocols.
    struct Protocol {
        const wl_interface *manager;
        const wl_interface *device;
        const wl_interface *source;
        const wl_interface *offer;

        static Protocol wlr();
        static Protocol ext();
    };

    // How long a snapshot waits for the owner to hand over all its formats.
    static constexpr std::chrono::milliseconds readBound{1000};
    // How long a client that asked for our clipboard's data may take to read it.
    static constexpr std::chrono::milliseconds serveBound{5000};

    DataControlClipboard(std::shared_ptr<WaylandConnection> connection, Protocol protocol,
                         std::chrono::milliseconds readBound = DataControlClipboard::readBound);
    ~DataControlClipboard() override;

    // Whether the compositor gave us a data device for the seat.
    bool isReady() const { return m_device != nullptr; }

    ClipboardSnapshot snapshot() override;
    void setTransientText(const QString &text) override;
    void setText(const QString &text) override;
    void restore(const ClipboardSnapshot &snapshot) override;

private:
    static void onDataOffer(void *data, wl_proxy *device, wl_proxy *offer);
    static void onSelection(void *data, wl_proxy *device, wl_proxy *offer);
    static void onFinished(void *data, wl_proxy *device);
    static void onPrimarySelection(void *data, wl_proxy *device, wl_proxy *offer);
    static void onOfferMimeType(void *data, wl_proxy *offer, const char *mimeType);
    static void onSend(void *data, wl_proxy *source, const char *mimeType, int32_t fd);
    static void onCancelled(void *data, wl_proxy *source);

    void own(const ClipboardSnapshot &contents);
    void destroyOffer(wl_proxy *offer);
    void destroySource(wl_proxy *source);

    std::shared_ptr<WaylandConnection> m_connection;
    Protocol m_protocol;
    std::chrono::milliseconds m_readBound;
    wl_proxy *m_seat = nullptr;
    wl_proxy *m_manager = nullptr;
    wl_proxy *m_device = nullptr;
    // Offers the compositor introduced, with their MIME types; the one of the selection among them.
    QHash<wl_proxy *, QStringList> m_offers;
    wl_proxy *m_selection = nullptr;
    // Our own source while it is the selection, with what it serves.
    wl_proxy *m_source = nullptr;
    ClipboardSnapshot m_served;
};
