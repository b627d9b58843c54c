#include "platform/linux/process/PipeFeed.h"

#include "app/AppLogger.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <utility>

void feedPipe(QObject *context, int fd, QByteArray data, std::chrono::milliseconds bound,
              std::function<void(bool complete)> done)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Write, context);
    auto *deadline = new QTimer(notifier);
    auto written = std::make_shared<qsizetype>(0);
    auto finished = std::make_shared<bool>(false);
    auto finish = [notifier, fd, finished, written, size = data.size(), done = std::move(done)] {
        if (std::exchange(*finished, true))
            return;
        notifier->setEnabled(false);
        close(fd);
        notifier->deleteLater();
        if (done)
            done(*written == size);
    };
    auto writeMore = [fd, data, written, finish, finished] {
        if (*finished)
            return;
        while (*written < data.size()) {
            const ssize_t n = write(fd, data.constData() + *written, data.size() - *written);
            if (n > 0) {
                *written += n;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return;
            break;
        }
        finish();
    };
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, writeMore);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, notifier, [finish, size = data.size()] {
        qCWarning(AppLogger::injection, "a reader did not take %lld bytes of our clipboard in time",
                  static_cast<long long>(size));
        finish();
    });
    deadline->start(bound);
    writeMore();
}
