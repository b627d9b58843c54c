#include "injection/TextInjector.h"

#include "app/AppLogger.h"
#include "core/LeadingCharacters.h"
#include "core/TimingPoint.h"
#include "injection/TerminalEmulators.h"
#include "platform/Platform.h"

#include <QCoroSignal>
#include <QCoroTimer>
#include <QElapsedTimer>
#include <QPointer>

#include <utility>

TextInjector::Services TextInjector::Services::system()
{
    return {Platform::clipboard(), Platform::keySynthesis(), Platform::focusedWindow(), Platform::accessibility(),
            Platform::inputMethodCommit()};
}

TextInjector::TextInjector(QObject *parent) : TextInjector(Services::system(), defaultRestoreDelay, parent) {}

TextInjector::TextInjector(Services platform, std::chrono::milliseconds restoreDelay, QObject *parent)
    : QObject(parent), m_platform(std::move(platform)), m_restoreDelay(restoreDelay)
{
    Q_ASSERT(m_platform.clipboard && m_platform.keys && m_platform.focusedWindow && m_platform.accessibility);
    m_restoreTimer.setSingleShot(true);
    m_restoreTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_restoreTimer, &QTimer::timeout, this, &TextInjector::restorePasteboard);
}

TextInjector::~TextInjector() = default;

const QLoggingCategory &TextInjector::log() const
{
    return AppLogger::injection();
}

QCoro::Task<TextInjection::Outcome> TextInjector::inject(QString text)
{
    if (text.isEmpty())
        co_return Outcome::pasted;

    QPointer<TextInjector> self(this);
    // Named, not awaited as a temporary inside the condition: g++ 12 never frees such a task.
    QCoro::Task<bool> earlier = waitForEarlierInjections();
    if (!co_await earlier)
        co_return Outcome::failed;

    m_injecting = true;
    QCoro::Task<Outcome> injection = injectNow(std::move(text));
    const Outcome outcome = co_await std::move(injection);
    if (!self)
        co_return outcome;
    m_injecting = false;
    m_early.reset(); // not wanted by a path that did not paste
    Q_EMIT injectionFinished();
    co_return outcome;
}

QCoro::Task<TextInjection::Outcome> TextInjector::injectNow(QString text)
{
    QPointer<TextInjector> self(this);
    QCoro::Task<bool> commit = injectViaInputMethod(text);
    const bool committed = co_await std::move(commit);
    if (committed)
        co_return Outcome::pasted;
    if (!self)
        co_return Outcome::failed;
    if (m_mode == Mode::pasteboard) {
        QCoro::Task<> keysReady = m_platform.keys->prepare(); // named: see inject()
        co_await std::move(keysReady);
        if (!self)
            co_return Outcome::failed;
    }

    if (m_mode == Mode::pasteboard && !m_platform.keys->reachesFocusedApplication()) {
        copyNow(text);
        qCWarning(AppLogger::injection, "no way to press keys in the focused application in this session: "
                                        "the text is left on the clipboard");
        co_return Outcome::copiedOnly;
    }
    if (!m_platform.keys->isTrusted()) {
        qCCritical(AppLogger::injection, "Accessibility permission not granted; opening system settings");
        m_platform.keys->promptForTrust();
        co_return Outcome::failed;
    }
    if (m_mode == Mode::accessibility)
        co_return injectViaAccessibility(text) ? Outcome::pasted : Outcome::failed;
    QCoro::Task<bool> paste = injectViaPasteboard(std::move(text));
    const bool pasted = co_await std::move(paste);
    co_return pasted ? Outcome::pasted : Outcome::failed;
}

QCoro::Task<bool> TextInjector::injectViaInputMethod(QString text)
{
    if (!m_platform.inputMethod)
        co_return false;
    const QString framework = m_platform.inputMethod->frameworkName();
    QCoro::Task<InputMethodCommit::Result> commit = m_platform.inputMethod->commit(text);
    const InputMethodCommit::Result result = co_await std::move(commit);
    switch (result) {
    case InputMethodCommit::Result::committed:
        qCInfo(AppLogger::injection, "injected %lld chars via %s", static_cast<long long>(characterCount(text)),
               qUtf8Printable(framework));
        co_return true;
    case InputMethodCommit::Result::noFocusedField:
        qCDebug(AppLogger::injection, "%s has no focused input field: using the other paths", qUtf8Printable(framework));
        co_return false;
    case InputMethodCommit::Result::unavailable:
        co_return false;
    }
    co_return false;
}

QCoro::Task<bool> TextInjector::copy(QString text)
{
    if (text.isEmpty())
        co_return true;
    QCoro::Task<bool> earlier = waitForEarlierInjections(); // named: see inject()
    if (!co_await earlier)
        co_return false;
    copyNow(text);
    co_return true;
}

void TextInjector::expectText()
{
    m_early.reset();
    // After what is queued now, the stop that ended the recording among it: the reading waits for
    // the clipboard's owner, which the stop should not.
    QMetaObject::invokeMethod(this, &TextInjector::takeEarlySnapshot, Qt::QueuedConnection);
}

void TextInjector::takeEarlySnapshot()
{
    // A paste under way or a restore still pending will change the clipboard before the next paste
    // (which then keeps the pending restore's snapshot): nothing to read ahead.
    if (m_mode != Mode::pasteboard || m_injecting || m_pendingRestore || m_early)
        return;
    // Counted before reading, so a copy made during the reading shows as a change.
    const std::optional<quint64> count = m_platform.clipboard->changeCount();
    if (!count)
        return;
    m_early = EarlySnapshot{*count, m_platform.clipboard->snapshot()};
}

ClipboardSnapshot TextInjector::currentContents()
{
    std::optional<EarlySnapshot> early = std::exchange(m_early, std::nullopt);
    if (early && m_platform.clipboard->changeCount() == early->changeCount)
        return std::move(early->contents);
    return m_platform.clipboard->snapshot();
}

void TextInjector::copyNow(const QString &text)
{
    m_early.reset();
    if (m_pendingRestore) {
        m_restoreTimer.stop();
        restorePasteboard();
    }
    m_platform.clipboard->setText(text);
    qCInfo(AppLogger::injection, "copied %lld chars to the clipboard", static_cast<long long>(characterCount(text)));
}

QCoro::Task<bool> TextInjector::waitForEarlierInjections()
{
    QPointer<TextInjector> self(this);
    while (m_injecting) {
        co_await qCoro(this, &TextInjector::injectionFinished);
        if (!self)
            co_return false;
    }
    co_return true;
}

QCoro::Task<> TextInjector::waitForHeldKeys()
{
    if (!m_platform.keys->nonModifierKeyHeld())
        co_return;
    qCDebug(AppLogger::injection, "a key is still held: waiting for its release before the paste chord");
    QPointer<TextInjector> self(this);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < KeySynthesis::heldKeyReleaseWait.count()) {
        co_await QCoro::sleepFor(KeySynthesis::heldKeyPoll);
        if (!self || !m_platform.keys->nonModifierKeyHeld())
            co_return;
    }
    qCDebug(AppLogger::injection, "a key is still held after %lld ms: sending the paste chord anyway",
            static_cast<long long>(KeySynthesis::heldKeyReleaseWait.count()));
}

QCoro::Task<bool> TextInjector::injectViaPasteboard(QString text)
{
    // While an earlier paste still waits for its restore, the clipboard holds that paste's text,
    // not the user's: keep the snapshot taken before it, and restore once after the last paste.
    ClipboardSnapshot saved = m_pendingRestore ? *std::exchange(m_pendingRestore, std::nullopt)
                                               : currentContents();
    m_platform.clipboard->setTransientText(text);
    TimingPoint::mark(AppLogger::injection, "clipboard_set");
    QPointer<TextInjector> self(this);
    co_await waitForHeldKeys();
    if (!self)
        co_return false;
    sendPasteKeystroke();
    TimingPoint::mark(AppLogger::injection, "paste_chord_posted");

    m_pendingRestore = std::move(saved);
    m_restoreTimer.start(m_restoreDelay);

    qCInfo(AppLogger::injection, "injected %lld chars via pasteboard", static_cast<long long>(characterCount(text)));
    co_return true;
}

void TextInjector::sendPasteKeystroke()
{
    const WindowClass focused = m_platform.focusedWindow->windowClass();
    if (TerminalEmulators::contains(focused)) {
        qCDebug(AppLogger::injection, "focused window %s is a terminal: pasting with Control+Shift+V",
                qUtf8Printable(focused.className));
        m_platform.keys->sendPasteChord(KeySynthesis::PasteChord::terminal);
    } else {
        m_platform.keys->sendPasteChord(KeySynthesis::PasteChord::standard);
    }
}

void TextInjector::restorePasteboard()
{
    if (!m_pendingRestore)
        return;
    const ClipboardSnapshot saved = *std::exchange(m_pendingRestore, std::nullopt);
    m_platform.clipboard->restore(saved);
    TimingPoint::mark(AppLogger::injection, "clipboard_restored");
    Q_EMIT clipboardRestored();
}

bool TextInjector::injectViaAccessibility(const QString &text)
{
    const std::unique_ptr<AccessibleElement> element = m_platform.accessibility->focusedElement();
    if (!element) {
        qCCritical(AppLogger::injection, "AX: no focused element");
        return false;
    }

    const QString current = element->textValue().value_or(QString());
    const int error = element->setTextValue(current + text);
    if (error != 0) {
        qCCritical(AppLogger::injection, "AX set value failed: %d", error);
        return false;
    }

    qCInfo(AppLogger::injection, "injected %lld chars via AX", static_cast<long long>(characterCount(text)));
    return true;
}
