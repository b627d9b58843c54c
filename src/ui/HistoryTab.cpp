#include "ui/HistoryTab.h"

#include "app/AppState.h"
#include "app/HistoryPaster.h"
#include "core/LeadingCharacters.h"
#include "store/DictationHistory.h"
#include "ui/MUTheme.h"

#include <QClipboard>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString deliveryNote(DictationHistory::Delivery delivery)
{
    switch (delivery) {
    case DictationHistory::Delivery::pasted:
        return {};
    case DictationHistory::Delivery::copied:
        return QStringLiteral(" · 仅复制");
    case DictationHistory::Delivery::failed:
        return QStringLiteral(" · 未能粘贴");
    }
    return {};
}
} // namespace

HistoryTab::HistoryTab(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(&state)
    , m_list(new QVBoxLayout)
    , m_empty(new QLabel(QStringLiteral("还没有听写记录。按下快捷键说一段话,结果会出现在这里。")))
    , m_notice(new QLabel)
    , m_clear(new QPushButton(QStringLiteral("全部清除")))
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(28, 24, 28, 24);

    auto *body = new QWidget;
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    auto *header = new QHBoxLayout;
    auto *caption = new QLabel(QStringLiteral("最近 %1 条听写结果,最新的在最上面。").arg(DictationHistory::capacity));
    MUTheme::makeCaption(caption);
    header->addWidget(caption, 1);
    header->addWidget(m_clear);
    layout->addLayout(header);
    connect(m_clear, &QPushButton::clicked, this, [this] {
        if (m_state)
            m_state->history().clear();
    });

    m_notice->setFont(MUTheme::captionFont());
    QPalette live = m_notice->palette();
    live.setColor(QPalette::WindowText, MUTheme::live());
    m_notice->setPalette(live);
    m_notice->hide();
    layout->addWidget(m_notice);

    m_list->setSpacing(8);
    layout->addLayout(m_list);
    MUTheme::makeCaption(m_empty);
    layout->addWidget(m_empty);

    outer->addWidget(MUTheme::groupedSection(QStringLiteral("历史"), body));
    outer->addStretch(1);

    connect(&state.history(), &DictationHistory::changed, this, &HistoryTab::showEntries);
    showEntries();
}

QString HistoryTab::timeText(const QDateTime &time, const QDateTime &now)
{
    const QDateTime local = time.toLocalTime();
    const QDate day = local.date();
    const QDate today = now.toLocalTime().date();
    const QString clock = local.toString(QStringLiteral("HH:mm"));
    if (day == today)
        return QStringLiteral("今天 ") + clock;
    if (day == today.addDays(-1))
        return QStringLiteral("昨天 ") + clock;
    if (day.year() == today.year())
        return QStringLiteral("%1月%2日 ").arg(day.month()).arg(day.day()) + clock;
    return QStringLiteral("%1年%2月%3日 ").arg(day.year()).arg(day.month()).arg(day.day()) + clock;
}

void HistoryTab::showEntries()
{
    // A row may be the sender of the click being handled: it goes once that returns.
    while (QLayoutItem *item = m_list->takeAt(0)) {
        if (QWidget *row = item->widget()) {
            row->hide();
            row->deleteLater();
        }
        delete item;
    }
    m_notice->hide(); // it confirmed an action on the list as it was
    if (!m_state)
        return;
    const QList<DictationHistory::Entry> &entries = m_state->history().entries();
    const QDateTime now = QDateTime::currentDateTime();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const DictationHistory::Entry &entry = entries.at(i);
        if (i > 0) {
            auto *line = new QFrame;
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Plain);
            line->setForegroundRole(QPalette::Mid);
            m_list->addWidget(line);
        }
        const QString meta = timeText(entry.time, now) + QStringLiteral(" · %1 字").arg(entry.length)
            + deliveryNote(entry.delivery);
        m_list->addWidget(entryRow(entry.id, entry.text, meta));
    }
    m_empty->setVisible(entries.isEmpty());
    m_clear->setEnabled(!entries.isEmpty());
}

QWidget *HistoryTab::entryRow(quint64 id, const QString &text, const QString &meta)
{
    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("entry"));
    row->setProperty("entryId", id);
    auto *layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    const QString shown = leadingCharacters(text, shownCharacters);
    auto *label = new QLabel(shown.size() < text.size() ? shown + u'…' : shown);
    label->setObjectName(QStringLiteral("text"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (shown.size() < text.size())
        label->setToolTip(text);
    layout->addWidget(label);

    auto *bottom = new QHBoxLayout;
    auto *metaLabel = new QLabel(meta);
    MUTheme::makeCaption(metaLabel);
    metaLabel->setWordWrap(false);
    bottom->addWidget(metaLabel, 1);

    const auto action = [&](const QString &name, const QString &title, auto onClick) {
        auto *button = new QPushButton(title);
        button->setObjectName(name);
        connect(button, &QPushButton::clicked, this, onClick);
        bottom->addWidget(button);
    };
    action(QStringLiteral("copy"), QStringLiteral("复制"), [this, text] {
        QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
        m_notice->setText(QStringLiteral("已复制到剪贴板"));
        m_notice->show();
    });
    action(QStringLiteral("pasteAgain"), QStringLiteral("再次粘贴"), [this, text] {
        if (!m_state)
            return;
        // The paste waits for the focus to go back to the window that had it before ours: started
        // first, it sees this window step aside.
        m_state->historyPaster().pasteIntoPreviousWindow(text);
        window()->showMinimized();
    });
    action(QStringLiteral("delete"), QStringLiteral("删除"), [this, id] {
        if (m_state)
            m_state->history().remove(id);
    });
    layout->addLayout(bottom);
    return row;
}

QStringList HistoryTab::shownTexts() const
{
    QStringList texts;
    for (int i = 0; i < m_list->count(); ++i) {
        const QWidget *row = m_list->itemAt(i)->widget();
        if (row && row->objectName() == QLatin1String("entry"))
            texts << row->findChild<QLabel *>(QStringLiteral("text"))->text();
    }
    return texts;
}

QPushButton *HistoryTab::actionButton(int row, const QString &action) const
{
    int at = 0;
    for (int i = 0; i < m_list->count(); ++i) {
        const QWidget *entry = m_list->itemAt(i)->widget();
        if (!entry || entry->objectName() != QLatin1String("entry"))
            continue;
        if (at++ == row)
            return entry->findChild<QPushButton *>(action);
    }
    return nullptr;
}
