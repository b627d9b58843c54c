#pragma once

#include <QString>

// Sends everything the process writes to standard output into a temporary file while alive, so a
// test can assert on lines the code under test prints there.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture(); // puts standard output back
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // What was written so far.
    QString text() const;

private:
    int m_savedFd = -1;
    int m_fileFd = -1;
};
