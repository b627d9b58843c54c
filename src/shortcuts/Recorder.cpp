#include "shortcuts/Recorder.h"

#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/LocalizedTexts.h"
#include "shortcuts/ModifierFlags.h"
#include "shortcuts/SpecialKeys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>

namespace KeyboardShortcuts {

namespace {
constexpr quint64 chordModifiers = ModifierFlags::control | ModifierFlags::option | ModifierFlags::command;

bool isModifierKey(const QKeyEvent &event, const std::optional<Shortcut> &shortcut)
{
    switch (event.key()) {
    case Qt::Key_Shift: case Qt::Key_Control: case Qt::Key_Meta: case Qt::Key_Alt: case Qt::Key_AltGr:
    case Qt::Key_CapsLock: case Qt::Key_NumLock: case Qt::Key_ScrollLock: case Qt::Key_Super_L:
    case Qt::Key_Super_R: case Qt::Key_Hyper_L: case Qt::Key_Hyper_R: case Qt::Key_Mode_switch:
        return true;
    default:
        // The modifier keys of the key table: command, shift, caps lock, option, control, their
        // right-hand twins and function (0x36 … 0x3F).
        return shortcut && shortcut->carbonKeyCode >= 0x36 && shortcut->carbonKeyCode <= 0x3F;
    }
}

// F1 … F35 are accepted without a modifier. The key table names F1 to F20; the keys above F20
// have no virtual key code here, so no shortcut can hold them and they never get this far.
bool isFunctionKey(qint64 keyCode)
{
    const auto special = SpecialKeys::forKeyCode(keyCode);
    return special && *special >= SpecialKey::f1 && *special <= SpecialKey::f20;
}

// A menu item's title as shown: mnemonic markers dropped, "&&" kept as one ampersand.
QString shownTitle(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'&' && i + 1 < text.size())
            ++i;
        result += text.at(i);
    }
    return result;
}
} // namespace

Recorder::Recorder(const Name &name, ChangeHandler onChange_, QWidget *parent)
    : QLineEdit(parent), onChange(std::move(onChange_)), m_name(name)
{
    setAlignment(Qt::AlignCenter);
    // The text is the shortcut's description and only the capture routine changes it. Read-only
    // also keeps the caret from ever showing, so none blinks while the field waits for keys.
    setReadOnly(true);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setContextMenuPolicy(Qt::NoContextMenu);
    setDragEnabled(false);
    setAcceptDrops(false);
    setPlaceholderText(LocalizedTexts::text("record_shortcut"));

    m_clearAction = addAction(style()->standardIcon(QStyle::SP_LineEditClearButton), QLineEdit::TrailingPosition);
    connect(m_clearAction, &QAction::triggered, this, [this] {
        clearShortcut();
        if (!m_recording) {
            setFocus(Qt::MouseFocusReason);
            startRecording();
        }
    });

    connect(notifications(), &Notifications::shortcutByNameDidChange, this, [this](const Name &changed) {
        if (changed == m_name)
            refreshText();
    });
    refreshText();
}

Recorder::~Recorder()
{
    endRecording();
    if (m_alert)
        m_alert->deleteLater();
}

QSize Recorder::sizeHint() const
{
    return QSize(minimumWidth, QLineEdit::sizeHint().height());
}

void Recorder::refreshText()
{
    const auto shortcut = getShortcut(m_name);
    setText(shortcut ? shortcut->description() : QString());
    m_clearAction->setVisible(!text().isEmpty());
    if (m_recording)
        selectAll();
}

void Recorder::startRecording()
{
    if (m_recording)
        return;
    m_recording = true;
    setPlaceholderText(LocalizedTexts::text("press_shortcut"));
    update(); // the placeholder is drawn here while focused (paintEvent)
    selectAll(); // the shortcut shown is the one the next combination replaces
    qApp->installEventFilter(this);
    // The whole keyboard, so that combinations other programs (or the desktop, or our own hot
    // keys) hold through their global grabs reach the capture routine too and can be judged.
    grabKeyboard();
    setRecorderActive(true);
    Q_EMIT recordingChanged(true);
}

void Recorder::endRecording()
{
    if (!m_recording)
        return;
    m_recording = false;
    if (keyboardGrabber() == this)
        releaseKeyboard();
    if (qApp)
        qApp->removeEventFilter(this);
    setPlaceholderText(LocalizedTexts::text("record_shortcut"));
    update(); // the placeholder is drawn here while focused (paintEvent)
    deselect();
    setRecorderActive(false);
    Q_EMIT recordingChanged(false);
}

bool Recorder::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowDeactivate:
    case QEvent::ParentAboutToChange:
        endRecording();
        break;
    default:
        break;
    }
    return QLineEdit::event(event);
}

void Recorder::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // Focus that comes back with the window's activation (or from code) does not record: only
    // the user's deliberate move into the field does.
    switch (event->reason()) {
    case Qt::MouseFocusReason:
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
        startRecording();
        break;
    default:
        break;
    }
}

void Recorder::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    endRecording();
}

// The field's text is not for selecting or dragging: a press only (re)starts recording.
void Recorder::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (hasFocus())
        startRecording();
}

void Recorder::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void Recorder::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

// The second press of a double click arrives as this event alone.
void Recorder::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    if (!hasFocus())
        setFocus(Qt::MouseFocusReason);
    if (hasFocus())
        startRecording();
}

// Keys reach the field itself only while it is not recording (the capture routine takes them
// first otherwise): Space or Return starts recording from the keyboard; anything else goes on to
// the window (Escape closes a dialog, Return presses its default button).
void Recorder::keyPressEvent(QKeyEvent *event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        startRecording();
        event->accept();
        return;
    }
    event->ignore();
}

void Recorder::hideEvent(QHideEvent *event)
{
    endRecording();
    QLineEdit::hideEvent(event);
}

// QLineEdit hides the placeholder of a centred field that has the focus (where its caret would
// sit); this field never shows a caret, and the placeholder is what tells the user it listens.
void Recorder::paintEvent(QPaintEvent *event)
{
    QLineEdit::paintEvent(event);
    if (!text().isEmpty() || !hasFocus() || placeholderText().isEmpty())
        return;
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QMargins margins = textMargins();
    QRect area = style()->subElementRect(QStyle::SE_LineEditContents, &option, this).marginsRemoved(margins);
    area.adjust(2, 0, -2, 0); // the text's own side margin inside the contents
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(area, Qt::AlignCenter, fontMetrics().elidedText(placeholderText(), Qt::ElideRight, area.width()));
}

bool Recorder::eventFilter(QObject *, QEvent *event)
{
    return m_recording && captureEvent(event);
}

// A key event reaches the application filter once for the window and once for each widget it is
// delivered to; every path below either consumes the event or ends recording (which removes the
// filter), so each press is judged once.
bool Recorder::captureEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonRelease: {
        const QPoint position = static_cast<QMouseEvent *>(event)->globalPosition().toPoint();
        const QRect area = QRect(mapToGlobal(QPoint(0, 0)), size()).adjusted(-clickSlop, -clickSlop, clickSlop, clickSlop);
        if (!area.contains(position))
            endRecording();
        return false;
    }
    case QEvent::ShortcutOverride:
        // The press is the recorder's: no shortcut of the application's own acts on it.
        event->accept();
        return true;
    case QEvent::KeyPress:
        return captureKey(*static_cast<QKeyEvent *>(event));
    default:
        return false;
    }
}

bool Recorder::captureKey(const QKeyEvent &event)
{
    const std::optional<Shortcut> shortcut = Shortcut::fromKeyEvent(event);
    // A modifier pressed on its way to a combination: wait for the key that completes it.
    if (isModifierKey(event, shortcut))
        return true;

    // Caps lock and the keypad are not modifiers here.
    const quint64 flags = shortcut ? shortcut->modifiers() : ModifierFlags::fromQt(event.modifiers());
    const bool noModifiers = flags == 0;
    const int key = event.key();

    // Tab moves the focus on, and so does Shift+Tab, the way back on this desktop.
    if ((key == Qt::Key_Tab && noModifiers) || (key == Qt::Key_Backtab && (flags & ~ModifierFlags::shift) == 0)) {
        endRecording();
        return false;
    }
    if (key == Qt::Key_Escape && noModifiers) {
        endRecording();
        return true;
    }
    if ((key == Qt::Key_Delete || key == Qt::Key_Backspace) && noModifiers) {
        clearShortcut();
        return true;
    }
    if (!(flags & chordModifiers) && !(shortcut && isFunctionKey(shortcut->carbonKeyCode))) {
        QApplication::beep();
        return true;
    }
    if (!shortcut) {
        QApplication::beep(); // a key the key table cannot name
        return true;
    }
    if (const QAction *item = menuItemUsing(*shortcut)) {
        refuse(Alert::menuItem, *shortcut, shownTitle(item->text()));
        return true;
    }
    // The platform restriction on option-only shortcuts (one macOS release refuses them in
    // sandboxed processes) has no counterpart here: the X server takes Alt-only combinations.

    // Another program holds the combination: the hot key could never fire, so it is refused
    // now rather than failing unseen once the settings are closed.
    if (!canRegister(*shortcut)) {
        refuse(Alert::heldElsewhere, *shortcut);
        return true;
    }
    const bool f12Alone = shortcut->carbonKeyCode == SpecialKeys::keyCode(SpecialKey::f12) && noModifiers;
    if (!f12Alone && systemShortcuts().contains(*shortcut)) {
        refuse(Alert::system, *shortcut);
        return true;
    }
    accept(*shortcut);
    return true;
}

void Recorder::clearShortcut()
{
    setText(QString());
    m_clearAction->setVisible(false);
    setShortcut(std::nullopt, m_name);
    if (onChange)
        onChange(std::nullopt);
}

void Recorder::accept(const Shortcut &shortcut)
{
    setText(shortcut.description());
    m_clearAction->setVisible(true);
    const QPointer<Recorder> self(this);
    setShortcut(shortcut, m_name);
    if (onChange)
        onChange(shortcut);
    if (self)
        endRecording();
}

// Ends recording and explains the refusal in an alert on the recorder's window; recording starts
// again once it is answered. Only the system alert's second answer uses the shortcut anyway.
void Recorder::refuse(Alert alert, const Shortcut &shortcut, const QString &menuItemTitle)
{
    endRecording();
    if (m_alert)
        m_alert->deleteLater();

    QWidget *owner = window();
    const bool onWindow = owner && owner != this && owner->isVisible();
    auto *box = new QMessageBox(onWindow ? owner : nullptr);
    box->setWindowModality(onWindow ? Qt::WindowModal : Qt::ApplicationModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(onWindow ? owner->windowTitle() : QString());
    QPushButton *ok = box->addButton(LocalizedTexts::text("ok"), QMessageBox::AcceptRole);
    QPushButton *force = nullptr;
    switch (alert) {
    case Alert::menuItem:
        box->setText(LocalizedTexts::text("keyboard_shortcut_used_by_menu_item").arg(menuItemTitle));
        break;
    case Alert::system:
        box->setText(LocalizedTexts::text("keyboard_shortcut_used_by_system"));
        box->setInformativeText(LocalizedTexts::text("keyboard_shortcuts_can_be_changed"));
        force = box->addButton(LocalizedTexts::text("force_use_shortcut"), QMessageBox::DestructiveRole);
        break;
    case Alert::heldElsewhere:
        box->setText(LocalizedTexts::text("keyboard_shortcut_used_by_system"));
        box->setInformativeText(LocalizedTexts::text("keyboard_shortcuts_can_be_changed"));
        break;
    }
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    m_alert = box;

    connect(box, &QMessageBox::finished, this, [this, box, force, shortcut] {
        const bool forced = force && box->clickedButton() == force;
        box->deleteLater();
        if (forced) {
            accept(shortcut);
            return;
        }
        if (!isVisible())
            return;
        setFocus(Qt::OtherFocusReason);
        startRecording();
    });
    box->open();
}

} // namespace KeyboardShortcuts
