// test-labels: foundation harness
// test-services: desktop
#include "Artifacts.h"

#include <QtTest>
#include <QFontDatabase>
#include <QLabel>

using namespace Qt::Literals::StringLiterals;

class TestHarnessDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void chineseTextRendersWithAFont()
    {
        QVERIFY2(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty(),
                 "no font covers Simplified Chinese: install one through scripts/install-deps.sh");
        QLabel label(u"聆听中… 已完成 就绪"_s);
        label.setStyleSheet(u"background: white; color: black; font-size: 20px; padding: 8px"_s);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QTest::qWait(100);
        const QImage shot = Artifacts::grabWindow(&label);
        QVERIFY(!Artifacts::save(u"harness"_s, u"chinese-text"_s, shot).isEmpty());
        // Rendered glyphs leave many dark pixels; boxes or nothing leave few.
        const int dark = Artifacts::darkPixels(shot, 128);
        QVERIFY2(dark > 300, qPrintable(u"only %1 dark pixels"_s.arg(dark)));
    }
};

QTEST_MAIN(TestHarnessDesktop)
#include "tst_harness_desktop.moc"
