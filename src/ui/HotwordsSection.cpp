#include "ui/HotwordsSection.h"

#include "app/AppLogger.h"
#include "store/HotWordsStore.h"
#include "ui/MUTheme.h"

#include <QCoro/QCoroTask>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// What the outcome of the last server exchange says; empty for a good one.
QString statusText(HotWordsStore::SyncStatus status)
{
    switch (status) {
    case HotWordsStore::SyncStatus::ok:
        return {};
    case HotWordsStore::SyncStatus::noToken:
        return QStringLiteral("未登录,热词暂未同步");
    case HotWordsStore::SyncStatus::unauthorized:
        return QStringLiteral("登录已过期,请在设置里重新粘贴 token");
    case HotWordsStore::SyncStatus::offline:
        return QStringLiteral("网络异常,已存在本地");
    }
    return {};
}
} // namespace

HotwordsSection::HotwordsSection(HotWordsStore &store, QWidget *parent)
    : QWidget(parent)
    , m_store(&store)
    , m_list(new QVBoxLayout)
    , m_input(new QLineEdit)
    , m_add(new QPushButton(QStringLiteral("添加")))
    , m_empty(new QLabel(QStringLiteral("还没有热词")))
    , m_status(new QLabel)
    , m_pendingRow(new QWidget)
    , m_pending(new QLabel)
    , m_sync(new QPushButton(QStringLiteral("立即同步")))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    m_list->setSpacing(4);
    layout->addLayout(m_list);

    auto *inputRow = new QHBoxLayout;
    m_input->setPlaceholderText(QStringLiteral("新增热词…"));
    inputRow->addWidget(m_input, 1);
    inputRow->addWidget(m_add);
    layout->addLayout(inputRow);
    connect(m_add, &QPushButton::clicked, this, &HotwordsSection::addWord);
    connect(m_input, &QLineEdit::returnPressed, this, &HotwordsSection::addWord);

    MUTheme::makeCaption(m_empty);
    layout->addWidget(m_empty);
    m_status->setWordWrap(true);
    QPalette warning = m_status->palette();
    warning.setColor(QPalette::WindowText, MUTheme::warning());
    m_status->setPalette(warning);
    layout->addWidget(m_status);

    auto *pendingLayout = new QHBoxLayout(m_pendingRow);
    pendingLayout->setContentsMargins(0, 0, 0, 0);
    MUTheme::makeCaption(m_pending);
    m_pending->setWordWrap(false);
    pendingLayout->addWidget(m_pending);
    pendingLayout->addWidget(m_sync);
    pendingLayout->addStretch(1);
    layout->addWidget(m_pendingRow);
    connect(m_sync, &QPushButton::clicked, this, [this] {
        if (!m_store)
            return;
        // Runs on its own; the store ends quietly if it goes first.
        [](QPointer<HotWordsStore> store) -> QCoro::Task<> {
            try {
                if (store)
                    co_await store->sync();
            } catch (const std::exception &e) {
                qCCritical(AppLogger::app, "hot words sync failed unexpectedly: %s", e.what());
            }
        }(m_store);
    });

    connect(&store, &HotWordsStore::wordsChanged, this, &HotwordsSection::showWords);
    connect(&store, &HotWordsStore::wordsChanged, this, &HotwordsSection::showStatus);
    connect(&store, &HotWordsStore::syncStatusChanged, this, &HotwordsSection::showStatus);
    connect(&store, &HotWordsStore::pendingOpsCountChanged, this, &HotwordsSection::showStatus);
    connect(&store, &HotWordsStore::isSyncingChanged, this, &HotwordsSection::showStatus);
    showWords();
    showStatus();
}

void HotwordsSection::addWord()
{
    const QString word = m_input->text().trimmed();
    if (word.isEmpty() || !m_store)
        return;
    m_store->add(word);
    m_input->clear();
}

void HotwordsSection::showWords()
{
    // A row may be the sender of the click being handled: it goes once that returns.
    while (QLayoutItem *item = m_list->takeAt(0)) {
        if (QWidget *row = item->widget()) {
            row->hide();
            row->deleteLater();
        }
        delete item;
    }
    if (!m_store)
        return;
    for (const QString &word : m_store->words()) {
        auto *row = new QWidget;
        row->setProperty("word", word);
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        auto *text = new QLabel(word);
        text->setTextFormat(Qt::PlainText);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        rowLayout->addWidget(text, 1);
        auto *remove = new QPushButton(QStringLiteral("删除"));
        remove->setProperty("word", word);
        connect(remove, &QPushButton::clicked, this, [this, word] {
            if (m_store)
                m_store->remove(word);
        });
        rowLayout->addWidget(remove);
        m_list->addWidget(row);
    }
}

void HotwordsSection::showStatus()
{
    if (!m_store)
        return;
    m_empty->setVisible(m_store->words().isEmpty());
    const QString status = statusText(m_store->syncStatus());
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty());
    const int pending = m_store->pendingOpsCount();
    m_pending->setText(QString::number(pending) + QStringLiteral(" 条待同步"));
    m_pendingRow->setVisible(pending > 0);
    m_sync->setEnabled(!m_store->isSyncing());
}

QPushButton *HotwordsSection::deleteButton(const QString &word) const
{
    for (int i = 0; i < m_list->count(); ++i) {
        QWidget *row = m_list->itemAt(i)->widget();
        if (row && row->property("word").toString() == word)
            return row->findChild<QPushButton *>();
    }
    return nullptr;
}

QStringList HotwordsSection::shownWords() const
{
    QStringList words;
    for (int i = 0; i < m_list->count(); ++i)
        if (QWidget *row = m_list->itemAt(i)->widget())
            words << row->property("word").toString();
    return words;
}

QStringList HotwordsSection::statusTexts() const
{
    QStringList texts;
    for (const QLabel *label : {m_empty, m_status, m_pending}) {
        const QWidget *shown = label == m_pending ? static_cast<const QWidget *>(m_pendingRow) : label;
        if (!shown->isHidden())
            texts << label->text();
    }
    return texts;
}
