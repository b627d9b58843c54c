#include "app/HistoryPaster.h"

#include "app/AppLogger.h"
#include "app/AppState.h"
#include "core/LeadingCharacters.h"
#include "injection/TextInjection.h"
#include "platform/FocusedWindow.h"
#include "store/DictationHistory.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QGuiApplication>

#include <exception>

QString HistoryPaster::copiedInsteadMessage()
{
    return QStringLiteral("已复制,请按 Ctrl+V 粘贴");
}

HistoryPaster::HistoryPaster(AppState &state, std::unique_ptr<FocusedWindow> focus, Timing timing, QObject *parent)
    : QObject(parent), m_state(&state), m_focus(std::move(focus)), m_timing(timing)
{
}

HistoryPaster::~HistoryPaster() = default;

QCoro::Task<bool> HistoryPaster::pasteLast()
{
    if (!m_state)
        co_return false;
    const std::optional<DictationHistory::Entry> newest = m_state->history().newest();
    if (!newest) {
        qCInfo(AppLogger::injection, "paste last: the history is empty");
        co_return false;
    }
    qCInfo(AppLogger::injection, "paste last: %lld chars", static_cast<long long>(newest->length));
    const QString text = newest->text;
    const bool pasted = co_await paste(text);
    co_return pasted;
}

QCoro::Task<bool> HistoryPaster::pasteIntoPreviousWindow(QString text)
{
    QPointer<HistoryPaster> self(this);
    QElapsedTimer waited;
    waited.start();
    // Our window steps aside after this call: give the window manager the moment it needs to hand
    // the focus back to the window that had it before.
    for (;;) {
        co_await QCoro::sleepFor(m_timing.focusPoll);
        if (!self || !m_state)
            co_return false;
        if (!QGuiApplication::focusWindow() && !m_focus->windowClass().isEmpty())
            break;
        if (waited.elapsed() >= m_timing.focusWait.count()) {
            qCWarning(AppLogger::injection, "paste again: no other window took the focus within %lld ms; "
                                            "the text is left on the clipboard",
                      static_cast<long long>(m_timing.focusWait.count()));
            bool copied = false;
            try {
                QCoro::Task<bool> copy = m_state->injector().copy(text);
                copied = co_await copy;
            } catch (const std::exception &e) {
                qCCritical(AppLogger::injection, "copy failed unexpectedly: %s", e.what());
            } catch (...) {
                qCCritical(AppLogger::injection, "copy failed unexpectedly");
            }
            if (self && m_state && copied)
                m_state->setError(copiedInsteadMessage());
            co_return false;
        }
    }
    const WindowClass target = m_focus->windowClass();
    qCInfo(AppLogger::injection, "paste again into %s: %lld chars", qUtf8Printable(target.className),
           static_cast<long long>(characterCount(text)));
    const bool pasted = co_await paste(text);
    co_return pasted;
}

QCoro::Task<bool> HistoryPaster::paste(QString text)
{
    QPointer<HistoryPaster> self(this);
    TextInjection::Outcome outcome = TextInjection::Outcome::failed;
    try {
        QCoro::Task<TextInjection::Outcome> injection = m_state->injector().inject(text);
        outcome = co_await std::move(injection);
    } catch (const std::exception &e) {
        qCCritical(AppLogger::injection, "paste failed unexpectedly: %s", e.what());
    } catch (...) {
        qCCritical(AppLogger::injection, "paste failed unexpectedly");
    }
    const bool pasted = outcome == TextInjection::Outcome::pasted;
    if (!self || !m_state)
        co_return pasted;
    if (outcome == TextInjection::Outcome::copiedOnly)
        m_state->setError(copiedInsteadMessage());
    else if (!pasted)
        m_state->setError(QStringLiteral("文字注入失败：检查辅助功能权限"));
    co_return pasted;
}
