#include "ui/StatusSection.h"

#include "app/AppState.h"
#include "ui/AccessibilityPermissionRow.h"

#include <QFormLayout>
#include <QLabel>

namespace {
QString connectionText(bool connected) { return connected ? QStringLiteral("已连接") : QStringLiteral("未连接"); }
} // namespace

StatusSection::StatusSection(AppState &state, PermissionChecker &permissions, std::chrono::milliseconds pollInterval,
                             QWidget *parent)
    : QWidget(parent)
    , m_connection(new QLabel(connectionText(state.isConnected())))
    , m_phase(new QLabel(phaseText(state.phase())))
    , m_accessibility(new AccessibilityPermissionRow(permissions, pollInterval))
{
    auto *layout = new QFormLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_phase->setTextFormat(Qt::PlainText);
    m_phase->setWordWrap(true);
    layout->addRow(QStringLiteral("WebSocket"), m_connection);
    layout->addRow(QStringLiteral("当前阶段"), m_phase);
    layout->addRow(m_accessibility);

    connect(&state, &AppState::isConnectedChanged, m_connection,
            [this](bool connected) { m_connection->setText(connectionText(connected)); });
    connect(&state, &AppState::phaseChanged, m_phase, [this](const Phase &phase) { m_phase->setText(phaseText(phase)); });
}

QString StatusSection::phaseText(const Phase &phase)
{
    switch (phase.kind()) {
    case Phase::Kind::idle:
        return QStringLiteral("空闲");
    case Phase::Kind::recording:
        return QStringLiteral("录音中");
    case Phase::Kind::finalizing:
        return QStringLiteral("转录中");
    case Phase::Kind::polishing:
        return QStringLiteral("润色中");
    case Phase::Kind::injecting:
        return QStringLiteral("注入中");
    case Phase::Kind::error:
        return QStringLiteral("错误:") + phase.message();
    }
    return {};
}
