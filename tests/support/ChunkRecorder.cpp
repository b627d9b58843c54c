#include "ChunkRecorder.h"

#include <QByteArrayList>
#include <QMutexLocker>

#include <cstring>

std::function<void(const QByteArray &)> ChunkRecorder::handler()
{
    return [this](const QByteArray &chunk) {
        QMutexLocker lock(&m_mutex);
        m_chunks.append(chunk);
    };
}

QList<qsizetype> ChunkRecorder::sizes() const
{
    QMutexLocker lock(&m_mutex);
    QList<qsizetype> out;
    for (const QByteArray &chunk : m_chunks)
        out << chunk.size();
    return out;
}

qsizetype ChunkRecorder::count() const
{
    QMutexLocker lock(&m_mutex);
    return m_chunks.size();
}

QList<qint16> ChunkRecorder::samples() const
{
    QMutexLocker lock(&m_mutex);
    const QByteArray bytes = m_chunks.join();
    QList<qint16> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.constData(), size_t(out.size()) * 2);
    return out;
}
