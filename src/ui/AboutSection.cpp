#include "ui/AboutSection.h"

#include "app/AppLogger.h"
#include "net/BackendConfig.h"
#include "ui/MUTheme.h"

#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

AboutSection::AboutSection(const QString &shortVersion, const QString &buildVersion, QWidget *parent)
    : QWidget(parent), m_version(new QLabel(versionText(shortVersion, buildVersion)))
{
    auto *layout = new QFormLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addRow(QStringLiteral("版本"), m_version);

    const QList<std::pair<QString, QUrl>> links = {{QStringLiteral("隐私政策"), privacyPolicyURL()},
                                                   {QStringLiteral("服务条款"), termsURL()},
                                                   {QStringLiteral("反馈邮箱"), feedbackURL()}};
    for (const auto &[title, url] : links) {
        auto *link = new QPushButton(title);
        link->setFlat(true);
        link->setCursor(Qt::PointingHandCursor);
        link->setIcon(QIcon(MUTheme::symbol(QStringLiteral("arrow.up.right.square"), 16, MUTheme::accent())));
        link->setLayoutDirection(Qt::RightToLeft); // the symbol after the text
        link->setToolTip(url.toString());
        QPalette colors = link->palette();
        colors.setColor(QPalette::ButtonText, MUTheme::accent());
        link->setPalette(colors);
        connect(link, &QPushButton::clicked, this, [url] {
            if (!QDesktopServices::openUrl(url))
                qCWarning(AppLogger::app, "no handler opened %s", qUtf8Printable(url.toString()));
        });
        auto *row = new QHBoxLayout;
        row->addWidget(link);
        row->addStretch(1);
        layout->addRow(row);
        m_links << link;
    }
}

QString AboutSection::versionText(const QString &shortVersion, const QString &buildVersion)
{
    return QStringLiteral("v") + (shortVersion.isEmpty() ? QStringLiteral("1.0") : shortVersion) + QStringLiteral(" (")
        + (buildVersion.isEmpty() ? QStringLiteral("1") : buildVersion) + u')';
}

QUrl AboutSection::privacyPolicyURL() { return QUrl(QString::fromLatin1(BackendConfig::privacyPolicyURL)); }
QUrl AboutSection::termsURL() { return QUrl(QString::fromLatin1(BackendConfig::termsURL)); }

QUrl AboutSection::feedbackURL()
{
    return QUrl(QStringLiteral("mailto:") + QLatin1String(BackendConfig::supportEmail)
                    + QStringLiteral("?subject=Murlex%20Mac%20%E5%8F%8D%E9%A6%88"),
                QUrl::StrictMode);
}
