#pragma once

#include "injection/TextInjection.h"

#include <QStringList>

// An injector that records every text it is asked to inject or copy and answers what the test set.
class RecordingTextInjection : public TextInjection {
public:
    QCoro::Task<Outcome> inject(QString text) override
    {
        m_injected << text;
        co_return m_succeeds ? Outcome::pasted : Outcome::failed;
    }

    QCoro::Task<bool> copy(QString text) override
    {
        m_copied << text;
        co_return m_succeeds;
    }

    void setSucceeds(bool succeeds) { m_succeeds = succeeds; }
    QStringList injected() const { return m_injected; }
    QStringList copied() const { return m_copied; }

private:
    bool m_succeeds = true;
    QStringList m_injected;
    QStringList m_copied;
};
