#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>

class AppState;
class FocusedWindow;

// Pastes texts of the dictation history again, through the same injection as a dictation (the
// text on the clipboard, the paste chord, the previous contents back shortly after): the newest one
// into the field focused now (the tray's "粘贴上一次结果", murlex --paste-last), or any one into the
// window that had the focus before Murlex's own (the history list, whose window steps aside first).
// Lives on the main thread.
class HistoryPaster : public QObject {
    Q_OBJECT
public:
    struct Timing {
        // How long the focus may take to reach another application's window once ours stepped aside.
        std::chrono::milliseconds focusWait = std::chrono::milliseconds(1500);
        // How often the focus is looked at meanwhile.
        std::chrono::milliseconds focusPoll = std::chrono::milliseconds(20);
    };

    // The message shown when no other window took the focus: the text is left on the clipboard.
    static QString copiedInsteadMessage();

    // `focus` tells which window has the keyboard focus. Timing{} holds the real lengths.
    HistoryPaster(AppState &state, std::unique_ptr<FocusedWindow> focus, Timing timing, QObject *parent = nullptr);
    ~HistoryPaster() override;

    const Timing &timing() const { return m_timing; }

    // The newest text into the focused field. False when the history is empty or the paste failed
    // (the failure is shown as for a dictation).
    QCoro::Task<bool> pasteLast();
    // `text` into whichever window takes the focus once this application has none (the caller
    // minimises or hides its window right after calling). When none takes it within focusWait the
    // text is left on the clipboard and the user told so; false then.
    QCoro::Task<bool> pasteIntoPreviousWindow(QString text);

private:
    QCoro::Task<bool> paste(QString text);

    QPointer<AppState> m_state;
    std::unique_ptr<FocusedWindow> m_focus;
    const Timing m_timing;
};
