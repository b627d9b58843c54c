#pragma once

#include "platform/Clipboard.h"

#include <QStringList>

// An in-memory clipboard that notes each operation in a shared journal.
class FakeClipboard : public Clipboard {
public:
    explicit FakeClipboard(QStringList *journal) : m_journal(journal) {}

    ClipboardSnapshot contents;

    ClipboardSnapshot snapshot() override
    {
        m_journal->append(QStringLiteral("snapshot"));
        return contents;
    }
    void setTransientText(const QString &text) override
    {
        m_journal->append(QStringLiteral("set ") + text);
        contents = {{QStringLiteral("text/plain"), text.toUtf8()},
                    {QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret")}};
    }
    void restore(const ClipboardSnapshot &snapshot) override
    {
        m_journal->append(QStringLiteral("restore"));
        contents = snapshot;
    }

private:
    QStringList *m_journal;
};
