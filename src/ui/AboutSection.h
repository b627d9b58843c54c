#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;
class QPushButton;

// The version, and links to the privacy policy, the terms and the support mailbox (opened by the
// desktop's handlers).
class AboutSection : public QWidget {
    Q_OBJECT
public:
    // An empty version or build number reads as "1.0" and "1".
    AboutSection(const QString &shortVersion, const QString &buildVersion, QWidget *parent = nullptr);

    QLabel *versionLabel() const { return m_version; }
    // "隐私政策", "服务条款", "反馈邮箱", in this order.
    QList<QPushButton *> links() const { return m_links; }

    // "v" + version + " (" + build number + ")".
    static QString versionText(const QString &shortVersion, const QString &buildVersion);
    static QUrl privacyPolicyURL();
    static QUrl termsURL();
    // mailto: the support address, with the feedback subject.
    static QUrl feedbackURL();

private:
    QLabel *m_version;
    QList<QPushButton *> m_links;
};
