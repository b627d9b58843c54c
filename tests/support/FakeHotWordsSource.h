#pragma once

#include "store/HotWordsSource.h"

// Hot words the test sets, and a count of the flushes asked for.
class FakeHotWordsSource : public HotWordsSource {
public:
    explicit FakeHotWordsSource(QStringList words = {}) : m_words(std::move(words)) {}

    QStringList words() const override { return m_words; }
    void scheduleFlush() override { ++m_flushCount; }

    void setWords(QStringList words) { m_words = std::move(words); }
    int flushCount() const { return m_flushCount; }

private:
    QStringList m_words;
    int m_flushCount = 0;
};
