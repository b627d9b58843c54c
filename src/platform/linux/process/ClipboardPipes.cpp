#include "platform/linux/process/ClipboardPipes.h"

#include "app/AppLogger.h"

#include <QElapsedTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

ClipboardSnapshot readClipboardPipes(const std::vector<ClipboardPipe> &pipes, std::chrono::milliseconds bound)
{
    struct Transfer {
        int fd;
        QByteArray data;
        bool complete = false;
    };
    std::vector<Transfer> transfers;
    for (const auto &[type, fd] : pipes) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        transfers.push_back({fd, {}});
    }
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        std::vector<pollfd> open;
        std::vector<Transfer *> reading;
        for (Transfer &transfer : transfers) {
            if (transfer.fd >= 0) {
                open.push_back({transfer.fd, POLLIN, 0});
                reading.push_back(&transfer);
            }
        }
        const qint64 left = bound.count() - waited.elapsed();
        if (open.empty() || left <= 0)
            break;
        if (poll(open.data(), open.size(), static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        for (size_t i = 0; i < open.size(); ++i) {
            if (!open[i].revents)
                continue;
            char buffer[65536];
            const ssize_t n = read(open[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                reading[i]->data.append(buffer, n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                reading[i]->complete = n == 0;
                close(std::exchange(reading[i]->fd, -1));
            }
        }
    }

    ClipboardSnapshot saved;
    for (size_t i = 0; i < transfers.size(); ++i) {
        if (transfers[i].fd >= 0)
            close(transfers[i].fd);
        if (transfers[i].complete)
            saved.append({pipes[i].first, transfers[i].data});
        else
            qCWarning(AppLogger::injection, "clipboard format %s could not be read within %lld ms; left out",
                      qUtf8Printable(pipes[i].first), static_cast<long long>(bound.count()));
    }
    return saved;
}

ClipboardSnapshot textFormats(const QString &text, bool transient)
{
    const QByteArray utf8 = text.toUtf8();
    // The first is what Wayland applications ask for.
    ClipboardSnapshot formats{{QStringLiteral("text/plain;charset=utf-8"), utf8},
                              {QStringLiteral("text/plain"), utf8},
                              {QStringLiteral("UTF8_STRING"), utf8}};
    if (transient)
        formats.append({QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret")});
    return formats;
}
