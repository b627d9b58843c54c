#pragma once

#include "shortcuts/Name.h"
#include "shortcuts/Shortcut.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>

#include <functional>
#include <optional>

class QAction;
class QKeyEvent;

namespace KeyboardShortcuts {

// The control with which the user sets a name's shortcut: a single-line field showing the
// shortcut's description that records the next key combination while it has the keyboard focus.
//
// Recording starts when the field takes the focus by a click, by Tab (either direction) or by its
// label's mnemonic, never merely because its window became active, and ends with Escape, Tab, a
// click outside the field, the window losing activation or the field leaving its window. While it
// records, the library's hot keys are paused and every key press of the application goes through
// the capture routine (captureEvent()) first. Combinations the application's menus, the desktop's
// own key bindings or another program already use are refused with an alert; plain keys other
// than function keys beep. An accepted combination is stored (and registered) at once.
class Recorder : public QLineEdit {
    Q_OBJECT
public:
    using ChangeHandler = std::function<void(const std::optional<Shortcut> &)>;

    // The preferred width of the field.
    static constexpr int minimumWidth = 130;
    // How far outside the field a mouse release still counts as inside.
    static constexpr int clickSlop = 3;

    // `onChange` gets the stored shortcut after an accepted recording and none after a clear.
    explicit Recorder(const Name &name, ChangeHandler onChange = {}, QWidget *parent = nullptr);
    ~Recorder() override;

    const Name &shortcutName() const { return m_name; }
    ChangeHandler onChange;

    bool isRecording() const { return m_recording; }
    // The clear button (shown only while the field holds text).
    QAction *clearAction() const { return m_clearAction; }
    // The refusal alert on screen, if any.
    QMessageBox *alert() const { return m_alert; }

    // minimumWidth wide.
    QSize sizeHint() const override;

Q_SIGNALS:
    void recordingChanged(bool recording);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    enum class Alert { menuItem, system, heldElsewhere };

    void startRecording();
    void endRecording();
    // The capture routine for one event of the application while recording; true consumes it.
    bool captureEvent(QEvent *event);
    bool captureKey(const QKeyEvent &event);
    void clearShortcut();
    void accept(const Shortcut &shortcut);
    void refuse(Alert alert, const Shortcut &shortcut, const QString &menuItemTitle = {});
    void refreshText();

    Name m_name;
    QAction *m_clearAction = nullptr;
    QPointer<QMessageBox> m_alert;
    bool m_recording = false;
};

} // namespace KeyboardShortcuts
