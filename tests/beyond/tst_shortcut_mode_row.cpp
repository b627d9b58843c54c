// test-labels: beyond
// The "快捷键模式" row of the settings: what it shows, that a choice is stored and read back by the
// next start, that it follows a change made elsewhere, and how it looks in a light and a dark palette.
#include "Artifacts.h"
#include "store/DictationPreferences.h"
#include "ui/MUTheme.h"
#include "ui/ShortcutModeRow.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

using Mode = DictationPreferences::ShortcutMode;


class TestShortcutModeRow : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString settingsPath() const { return m_dir.filePath(QStringLiteral("settings.ini")); }

private Q_SLOTS:
    void init() { QFile::remove(settingsPath()); }

    void aChoiceIsStoredAndComesBackAtTheNextStart()
    {
        {
            QSettings settings(settingsPath(), QSettings::IniFormat);
            DictationPreferences preferences(settings);
            ShortcutModeRow row(preferences);
            QCOMPARE(row.choice()->currentText(), QStringLiteral("按一下开始,再按一下结束"));
            QVERIFY(!row.caption()->text().contains(QStringLiteral("短按")));
            QVERIFY(!settings.contains(QLatin1String(DictationPreferences::shortcutModeKey))); // the default writes nothing

            QSignalSpy changes(&preferences, &DictationPreferences::shortcutModeChanged);
            QTest::keyClick(row.choice(), Qt::Key_Down); // the person picks the second entry
            QCOMPARE(changes.size(), 1);
            QCOMPARE(preferences.shortcutMode(), Mode::hold);
            QCOMPARE(row.choice()->currentText(), QStringLiteral("按住说话,松开结束"));
            QVERIFY(row.caption()->text().contains(QStringLiteral("0.3 秒")));
        }
        QSettings reread(settingsPath(), QSettings::IniFormat);
        QCOMPARE(reread.value(QLatin1String(DictationPreferences::shortcutModeKey)).toString(), QStringLiteral("hold"));
        DictationPreferences next(reread);
        ShortcutModeRow row(next);
        QCOMPARE(row.choice()->currentText(), QStringLiteral("按住说话,松开结束"));

        // A change made elsewhere shows, and is not written back a second time.
        QSignalSpy changes(&next, &DictationPreferences::shortcutModeChanged);
        next.setShortcutMode(Mode::toggle);
        QCOMPARE(row.choice()->currentText(), QStringLiteral("按一下开始,再按一下结束"));
        QCOMPARE(changes.size(), 1);
    }

    void screenshots_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void screenshots()
    {
        QFETCH(bool, dark);
        const QPalette original = QApplication::palette();
        if (dark)
            QApplication::setPalette(Artifacts::darkPalette());
        QSettings settings(settingsPath(), QSettings::IniFormat);
        DictationPreferences preferences(settings);
        preferences.setShortcutMode(Mode::hold);

        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(28, 24, 28, 24);
        layout->addWidget(MUTheme::groupedSection(QStringLiteral("快捷键"), new ShortcutModeRow(preferences)));
        window.show();
        window.resize(560, window.layout()->totalHeightForWidth(560));
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(100);
        const QImage shot = window.grab().toImage();
        QVERIFY(!Artifacts::save(QStringLiteral("beyond"), QStringLiteral("shortcut-mode-") + (dark ? QStringLiteral("dark") : QStringLiteral("light")), shot).isEmpty());
        // The text is drawn (CJK glyphs, not empty boxes): many pixels far from the window colour.
        const QRgb background = QApplication::palette().color(QPalette::Window).rgb();
        int contrasting = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                contrasting += std::abs(qGray(shot.pixel(x, y)) - qGray(background)) > 90;
        QVERIFY2(contrasting > 400, qPrintable(QString::number(contrasting)));
        // Nothing is cut off: the choice and every line of the caption fit in the row.
        auto *row = window.findChild<ShortcutModeRow *>();
        QVERIFY(row->choice()->geometry().right() <= row->width());
        QVERIFY(row->caption()->height() >= row->caption()->heightForWidth(row->caption()->width()));
        QApplication::setPalette(original);
    }
};

QTEST_MAIN(TestShortcutModeRow)
#include "tst_shortcut_mode_row.moc"
