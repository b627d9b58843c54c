#include "ui/MenuBarController.h"

#include "core/LeadingCharacters.h"

#include "app/AppLogger.h"
#include "app/AppState.h"
#include "shortcuts/Shortcut.h"
#include "store/DictationHistory.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTextLayout>
#include <QWidgetAction>

namespace {

// The label of a menu text line: left edge aligned with the items' text.
constexpr int textLineLeftMargin = 8;
constexpr int textLineRightMargin = 12;

QString oneSpacedLine(QString text)
{
    for (QChar &c : text) {
        if (c == u'\n' || c == u'\r' || c == u'\t' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

// The text broken into lines of at most `width` pixels; with `maxLines` > 0 the last allowed line
// ends in an ellipsis when more would follow.
QString wrapped(const QString &text, const QFont &font, int width, int maxLines)
{
    const QString flat = oneSpacedLine(text);
    QTextLayout layout(flat, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (maxLines > 0 && lines.size() == maxLines - 1) {
            lines << QFontMetrics(font).elidedText(flat.mid(line.textStart()), Qt::ElideRight, width);
            break;
        }
        lines << flat.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines.join(u'\n');
}

QFont menuFont(qreal points, QFont::Weight weight)
{
    QFont font = QApplication::font("QMenu");
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

// A menu item's text shows '&' as is.
QString literal(QString text)
{
    return text.replace(u'&', QStringLiteral("&&"));
}

} // namespace

MenuBarController::MenuBarController(AppState &state, QObject *parent)
    : QObject(parent)
    , m_state(&state)
    , m_menu(std::make_unique<QMenu>())
    , m_tray(std::make_unique<QSystemTrayIcon>(icon()))
{
    m_menu->setObjectName(QStringLiteral("MenuBarMenu"));
    m_menu->setToolTipsVisible(false);
    m_menu->installEventFilter(this);
    m_tray->setToolTip(QStringLiteral("Murlex"));
    m_tray->setContextMenu(m_menu.get());
    // The platform opens the menu on the secondary button; the primary one opens it too.
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            popUpMenu();
    });

    connect(&state, &AppState::phaseChanged, this, &MenuBarController::showStatus);
    connect(&state, &AppState::isConnectedChanged, this, &MenuBarController::rebuild);
    connect(&state, &AppState::debugModeChanged, this, &MenuBarController::rebuild);
    connect(&state, &AppState::partialTextChanged, this, &MenuBarController::rebuild);
    connect(&state, &AppState::lastInjectedTextChanged, this, &MenuBarController::rebuild);
    connect(&state, &AppState::hotkeyShortcutChanged, this, &MenuBarController::rebuild);
    connect(&state.history(), &DictationHistory::changed, this, &MenuBarController::rebuild);
    rebuild();

    if (!QSystemTrayIcon::isSystemTrayAvailable())
        qCInfo(AppLogger::app, "no system tray on this desktop (no StatusNotifier host, no XEmbed tray): "
                               "no tray icon or menu; the global shortcut still works");
    // Shown in any case: the icon appears if a tray turns up later.
    m_tray->show();
}

MenuBarController::~MenuBarController()
{
    // The tray icon goes before its menu.
    m_tray.reset();
}

void MenuBarController::setMainWindowOpener(std::function<void()> open)
{
    m_openMainWindow = std::move(open);
}

QIcon MenuBarController::icon()
{
    QIcon icon(QStringLiteral(":/ui/assets/MenuBarIcon.svg"));
    if (icon.availableSizes().isEmpty() && icon.pixmap(22).isNull())
        qCCritical(AppLogger::app, "the tray icon could not be loaded (is Qt's SVG support installed?)");
    return icon;
}

QString MenuBarController::statusText(const Phase &phase, bool isConnected)
{
    switch (phase.kind()) {
    case Phase::Kind::idle:
        return isConnected ? QStringLiteral("就绪") : QStringLiteral("未连接");
    case Phase::Kind::recording:
        return QStringLiteral("● 录音中…");
    case Phase::Kind::finalizing:
        return QStringLiteral("▸ 转录中…");
    case Phase::Kind::polishing:
        return QStringLiteral("▸ 润色中…");
    case Phase::Kind::injecting:
        return QStringLiteral("✓ 注入中…");
    case Phase::Kind::error:
        return QStringLiteral("⚠ ") + phase.message();
    }
    return {};
}

QString MenuBarController::toggleTitle(const std::optional<KeyboardShortcuts::Shortcut> &shortcut)
{
    if (!shortcut)
        return QStringLiteral("开始/结束录音 (未设置)");
    return QStringLiteral("开始/结束录音 (") + shortcut->description() + u')';
}

void MenuBarController::addTextLine(const QString &text, const QFont &font, bool secondary, int maxLines)
{
    auto *label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setText(wrapped(text, font, transcriptWidth, maxLines));
    label->setContentsMargins(textLineLeftMargin, 3, textLineRightMargin, 3);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    // The same colour whatever the state of the (disabled) entry.
    QPalette palette = m_menu->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Active, secondary ? QPalette::PlaceholderText : QPalette::WindowText));
    label->setPalette(palette);

    auto *line = new QWidgetAction(m_menu.get());
    line->setDefaultWidget(label);
    line->setText(text);
    // Text only: it cannot be selected, with the pointer or the keyboard.
    line->setEnabled(false);
    m_menu->addAction(line);
}

void MenuBarController::showStatus()
{
    if (!m_state)
        return;
    const QList<QAction *> actions = m_menu->actions();
    auto *line = actions.isEmpty() ? nullptr : qobject_cast<QWidgetAction *>(actions.first());
    auto *label = line ? qobject_cast<QLabel *>(line->defaultWidget()) : nullptr;
    if (!label) {
        rebuild();
        return;
    }
    const QString text = statusText(m_state->phase(), m_state->isConnected());
    if (line->text() == text)
        return;
    label->setText(wrapped(text, label->font(), transcriptWidth, 0));
    line->setText(text); // the menu lays its entries out again
}

void MenuBarController::rebuild()
{
    if (!m_state)
        return;
    // The old entries go once the current event is done: one of them may be the entry being triggered.
    const QList<QAction *> old = m_menu->actions();
    for (QAction *action : old) {
        m_menu->removeAction(action);
        action->deleteLater();
    }

    const AppState &state = *m_state;
    addTextLine(statusText(state.phase(), state.isConnected()), menuFont(12, QFont::Medium), false, 0);
    m_menu->addSeparator();

    const QFont detail = menuFont(11, QFont::Normal);
    if (state.debugMode() && !state.partialText().isEmpty()) {
        addTextLine(u'"' + state.partialText() + u'"', detail, true, transcriptLines);
        m_menu->addSeparator();
    }
    if (state.debugMode() && !state.lastInjectedText().isEmpty()) {
        addTextLine(QStringLiteral("上次注入: ") + leadingCharacters(state.lastInjectedText(), lastInjectedPrefix) + u'…',
                    detail, true, 0);
        m_menu->addSeparator();
    }

    QAction *toggle = m_menu->addAction(literal(toggleTitle(state.hotkeyShortcut())));
    toggle->setEnabled(state.hotkeyShortcut().has_value());
    connect(toggle, &QAction::triggered, this, [this] {
        if (m_state)
            m_state->requestToggle();
    });

    // Runs once the menu has closed and handed the keyboard back to the focused field.
    QAction *pasteLast = m_menu->addAction(QStringLiteral("粘贴上一次结果"));
    pasteLast->setEnabled(!m_state->history().isEmpty());
    connect(pasteLast, &QAction::triggered, this, [this] {
        if (m_state)
            m_state->requestPasteLast();
    });

    QAction *debug = m_menu->addAction(QStringLiteral("调试模式"));
    debug->setCheckable(true);
    debug->setChecked(state.debugMode());
    connect(debug, &QAction::triggered, this, [this](bool checked) {
        if (m_state)
            m_state->setDebugMode(checked);
    });

    m_menu->addSeparator();

    QAction *open = m_menu->addAction(QStringLiteral("打开主窗口"));
    connect(open, &QAction::triggered, this, &MenuBarController::openMainWindow);

    QAction *quit = m_menu->addAction(QStringLiteral("退出 MurlexMac"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setShortcutVisibleInContextMenu(true);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, &MenuBarController::quit);
}

void MenuBarController::quit()
{
    qCInfo(AppLogger::app, "quit from the menu");
    m_menu->hide();
    QCoreApplication::quit();
}

bool MenuBarController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_menu.get() && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)
        && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Quit)) {
        if (event->type() == QEvent::KeyPress)
            quit();
        event->accept();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void MenuBarController::openMainWindow()
{
    if (!m_openMainWindow) {
        qCInfo(AppLogger::app, "open main window: there is no main window yet");
        return;
    }
    m_openMainWindow();
}

void MenuBarController::popUpMenu()
{
    if (m_menu->isVisible())
        return;
    const QRect icon = m_tray->geometry();
    m_menu->popup(icon.isValid() ? icon.bottomLeft() : QCursor::pos());
}
