#pragma once

#include "platform/KeySynthesis.h"

#include <QStringList>

// Key synthesis whose trust a test sets; notes trust checks, prompts and chords in a shared journal.
class FakeKeySynthesis : public KeySynthesis {
public:
    explicit FakeKeySynthesis(QStringList *journal) : m_journal(journal) {}

    bool trusted = true;

    bool isTrusted() override
    {
        m_journal->append(QStringLiteral("trusted?"));
        return trusted;
    }
    void promptForTrust() override { m_journal->append(QStringLiteral("prompt")); }
    void sendPasteChord(PasteChord chord) override
    {
        m_journal->append(chord == PasteChord::terminal ? QStringLiteral("chord Control+Shift+V")
                                                        : QStringLiteral("chord Control+V"));
    }

private:
    QStringList *m_journal;
};
