#include "app/Phase.h"

QString Phase::describe() const
{
    switch (m_kind) {
    case Kind::idle:
        return QStringLiteral("idle");
    case Kind::recording:
        return QStringLiteral("recording");
    case Kind::finalizing:
        return QStringLiteral("finalizing");
    case Kind::polishing:
        return QStringLiteral("polishing");
    case Kind::injecting:
        return QStringLiteral("injecting");
    case Kind::error:
        return QStringLiteral("error(\"%1\")").arg(m_message);
    }
    return {};
}
