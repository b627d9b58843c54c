#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>

#include <functional>

// Collects the PCM chunks a capture hands out, from whatever thread they come.
class ChunkRecorder {
public:
    // The handler to install as onPCMFrame; the recorder must outlive the capture.
    std::function<void(const QByteArray &)> handler();

    QList<qsizetype> sizes() const;
    qsizetype count() const;
    // The chunks as signed 16-bit samples.
    QList<qint16> samples() const;

private:
    mutable QMutex m_mutex;
    QList<QByteArray> m_chunks;
};
