#include "StdoutCapture.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    char path[] = "/tmp/murlex-stdout-XXXXXX";
    m_fileFd = ::mkstemp(path);
    if (m_fileFd < 0)
        return;
    ::unlink(path);
    m_savedFd = ::dup(STDOUT_FILENO);
    ::dup2(m_fileFd, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    if (m_savedFd >= 0) {
        ::dup2(m_savedFd, STDOUT_FILENO);
        ::close(m_savedFd);
    }
    if (m_fileFd >= 0)
        ::close(m_fileFd);
}

QString StdoutCapture::text() const
{
    std::fflush(stdout);
    if (m_fileFd < 0)
        return {};
    QByteArray bytes;
    char buffer[4096];
    ssize_t n;
    off_t offset = 0;
    while ((n = ::pread(m_fileFd, buffer, sizeof buffer, offset)) > 0) {
        bytes.append(buffer, n);
        offset += n;
    }
    return QString::fromUtf8(bytes);
}
