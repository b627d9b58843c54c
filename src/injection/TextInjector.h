#pragma once

#include "injection/TextInjection.h"
#include "platform/Accessibility.h"
#include "platform/Clipboard.h"
#include "platform/FocusedWindow.h"
#include "platform/InputMethodCommit.h"
#include "platform/KeySynthesis.h"

#include <QLoggingCategory>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

// Writes a finished piece of text into whatever text field has the keyboard focus, in any
// application. First, where the input method framework offers it, by committing the text to the
// focused field through the framework (exact Unicode, clipboard untouched, no keys); when that
// does not reach a field, the configured path. By default through the clipboard: the text goes on the clipboard, the paste
// shortcut is synthesised, and the user's previous clipboard contents come back shortly after.
// Alternatively through the accessibility service, appending to the focused element's value.
// Lives on the main thread; one instance for the whole run.
class TextInjector : public QObject, public TextInjection {
    Q_OBJECT
public:
    enum class Mode { pasteboard, accessibility };
    Q_ENUM(Mode)

    // How long the dictated text stays on the clipboard after the paste shortcut, before the
    // user's previous contents are put back.
    static constexpr std::chrono::milliseconds defaultRestoreDelay{150};

    // The platform services the injector works through.
    struct Services {
        std::unique_ptr<Clipboard> clipboard;
        std::unique_ptr<KeySynthesis> keys;
        std::unique_ptr<FocusedWindow> focusedWindow;
        std::unique_ptr<Accessibility> accessibility;
        // Tried before the other paths; none: never.
        std::unique_ptr<InputMethodCommit> inputMethod = nullptr;

        // Those of the platform this build runs on.
        static Services system();
    };

    // On the platform's own services.
    explicit TextInjector(QObject *parent = nullptr);
    explicit TextInjector(Services platform, std::chrono::milliseconds restoreDelay = defaultRestoreDelay,
                          QObject *parent = nullptr);
    ~TextInjector() override;

    // Pasted when the text was handed to the focused application (or was empty); failed when this
    // process may not post key events, or the accessibility path could not write the text; copied
    // only where no posted key can reach the focused application (the text then stays on the
    // clipboard, the previous contents are not restored, and no key is sent). Through
    // the clipboard the paste chord waits, at most KeySynthesis::heldKeyReleaseWait, for a key the
    // user still holds, while the event loop runs on. Injections run one after the other: a call
    // made while one is under way starts when it has finished.
    QCoro::Task<Outcome> inject(QString text) override;
    // After any injection under way; a restore still pending from an earlier paste happens first,
    // so the text stays on the clipboard for good.
    QCoro::Task<bool> copy(QString text) override;
    // Through the clipboard, reads what it holds shortly after this call (once the events queued
    // now have run), so that the paste need not wait for the clipboard's owner: the paste uses that
    // snapshot when the clipboard has not changed since, and takes a new one when it has (or when
    // changes cannot be seen).
    void expectText() override;

    Mode mode() const { return m_mode; }
    void setMode(Mode mode) { m_mode = mode; }
    const QLoggingCategory &log() const;
    std::chrono::milliseconds restoreDelay() const { return m_restoreDelay; }

Q_SIGNALS:
    // The clipboard holds the user's previous contents again.
    void clipboardRestored();
    // An injection has finished (the next one may start).
    void injectionFinished();

private:
    // One injection, through the first path that takes the text.
    QCoro::Task<Outcome> injectNow(QString text);
    // True when the input method framework committed the text to the focused field.
    QCoro::Task<bool> injectViaInputMethod(QString text);
    QCoro::Task<bool> injectViaPasteboard(QString text);
    QCoro::Task<> waitForHeldKeys();
    // Until no injection of this injector runs any more (they go one after the other); false when
    // the injector went away meanwhile.
    QCoro::Task<bool> waitForEarlierInjections();
    bool injectViaAccessibility(const QString &text);
    void sendPasteKeystroke();
    void restorePasteboard();
    void takeEarlySnapshot();
    // What the clipboard holds now: the early snapshot while it is still current, else a new one.
    ClipboardSnapshot currentContents();
    // Puts the text on the clipboard for good, ending a pending restore first.
    void copyNow(const QString &text);

    Mode m_mode = Mode::pasteboard;
    Services m_platform;
    std::chrono::milliseconds m_restoreDelay;
    QTimer m_restoreTimer;
    // What the clipboard held before the first of the pastes whose restore is still pending.
    std::optional<ClipboardSnapshot> m_pendingRestore;
    // Read while a text was on its way, with the clipboard's change count before the reading.
    struct EarlySnapshot {
        quint64 changeCount = 0;
        ClipboardSnapshot contents;
    };
    std::optional<EarlySnapshot> m_early;
    bool m_injecting = false;
};
