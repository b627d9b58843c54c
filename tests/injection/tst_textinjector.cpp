// test-labels: injection
// The injector's decisions on fake platform services: trust first, the clipboard round trip and
// its timing, the paste chord per window class, the accessibility path, and the exact log lines.
#include "injection/TextInjector.h"

#include "FakeAccessibility.h"
#include "FakeClipboard.h"
#include "FakeFocusedWindow.h"
#include "FakeKeySynthesis.h"
#include "LogCapture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
const ClipboardSnapshot userClipboard = {
    {QStringLiteral("text/plain"), QByteArrayLiteral("user text")},
    {QStringLiteral("text/html"), QByteArrayLiteral("<b>user</b> text")},
    {QStringLiteral("application/x-murlex-blob"), QByteArray("\x00\x01\xff\x00z", 5)},
};
} // namespace

class TestTextInjector : public QObject {
    Q_OBJECT

    struct Rig {
        QStringList journal;
        FakeClipboard *clipboard = new FakeClipboard(&journal);
        FakeKeySynthesis *keys = new FakeKeySynthesis(&journal);
        FakeFocusedWindow *window = new FakeFocusedWindow;
        FakeAccessibility *accessibility = new FakeAccessibility;
        std::unique_ptr<TextInjector> injector;

        // Without a delay the injector keeps its own.
        explicit Rig(std::optional<std::chrono::milliseconds> restoreDelay = 20ms)
        {
            clipboard->contents = userClipboard;
            TextInjector::Services services{std::unique_ptr<Clipboard>(clipboard), std::unique_ptr<KeySynthesis>(keys),
                                            std::unique_ptr<FocusedWindow>(window), std::unique_ptr<Accessibility>(accessibility)};
            injector = restoreDelay ? std::make_unique<TextInjector>(std::move(services), *restoreDelay)
                                    : std::make_unique<TextInjector>(std::move(services));
        }
    };

private Q_SLOTS:
    void emptyTextTouchesNothing()
    {
        for (TextInjector::Mode mode : {TextInjector::Mode::pasteboard, TextInjector::Mode::accessibility}) {
            LogCapture log;
            Rig rig;
            rig.injector->setMode(mode);
            QSignalSpy restored(rig.injector.get(), &TextInjector::clipboardRestored);
            QVERIFY(rig.injector->inject(QString()));
            QVERIFY(!restored.wait(100));
            QCOMPARE(rig.journal, QStringList());
            QCOMPARE(rig.accessibility->written, QStringList());
            QCOMPARE(log.messages(QStringLiteral("injection")), QStringList());
        }
    }

    void untrustedPromptsAndFailsWithoutTouchingAnything()
    {
        for (TextInjector::Mode mode : {TextInjector::Mode::pasteboard, TextInjector::Mode::accessibility}) {
            LogCapture log;
            Rig rig;
            rig.injector->setMode(mode);
            rig.keys->trusted = false;
            QSignalSpy restored(rig.injector.get(), &TextInjector::clipboardRestored);

            QVERIFY(!rig.injector->inject(QStringLiteral("你好")));
            QVERIFY(!rig.injector->inject(QStringLiteral("再来")));
            QVERIFY(!restored.wait(100));

            // Every call checks quietly first, then prompts; nothing else happens.
            QCOMPARE(rig.journal, (QStringList{QStringLiteral("trusted?"), QStringLiteral("prompt"),
                                               QStringLiteral("trusted?"), QStringLiteral("prompt")}));
            QCOMPARE(rig.clipboard->contents, userClipboard);
            QCOMPARE(rig.accessibility->written, QStringList());
            const QString line = QStringLiteral("Accessibility permission not granted; opening system settings");
            QCOMPARE(log.messages(QStringLiteral("injection")), (QStringList{line, line}));
            QCOMPARE(log.count(QStringLiteral("injection"), QtCriticalMsg, line), 2);
        }
    }

    // A second paste before the first restore must neither snapshot the first paste's text as the
    // user's contents nor have the first restore pull the clipboard away under the second paste.
    void pastesInQuickSuccessionRestoreTheUsersClipboardOnce()
    {
        Rig rig(150ms);
        QSignalSpy restored(rig.injector.get(), &TextInjector::clipboardRestored);
        QVERIFY(rig.injector->inject(QStringLiteral("第一")));
        QTest::qWait(80);
        QVERIFY(rig.injector->inject(QStringLiteral("第二")));
        QTest::qWait(100); // past the first paste's restore time, within the second's
        QCOMPARE(restored.count(), 0);
        QCOMPARE(rig.clipboard->contents.value(0).data, QStringLiteral("第二").toUtf8());

        QVERIFY(restored.wait(2000));
        QCOMPARE(rig.journal.count(QStringLiteral("snapshot")), 1);
        QCOMPARE(rig.journal.count(QStringLiteral("restore")), 1);
        QCOMPARE(rig.clipboard->contents, userClipboard);
        QVERIFY(!restored.wait(300));
    }

    void restoreDelayIsAboutAHundredAndFiftyMilliseconds()
    {
        static_assert(TextInjector::defaultRestoreDelay == 150ms);
        Rig rig(std::nullopt);
        TextInjector &injector = *rig.injector;
        QCOMPARE(injector.restoreDelay(), 150ms);
        QSignalSpy restored(&injector, &TextInjector::clipboardRestored);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(injector.inject(QStringLiteral("x")));
        QVERIFY(restored.wait(5000));
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= 140 && elapsed < 1000, qPrintable(QString::number(elapsed)));
    }

    void terminalWindowsGetTheTerminalChord_data()
    {
        QTest::addColumn<QString>("instanceName");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("chord");
        // (GNOME Terminal itself is covered against a real window on the X server.)
        const QString terminal = QStringLiteral("chord Control+Shift+V");
        const QString standard = QStringLiteral("chord Control+V");
        QTest::newRow("Alacritty, any case") << "Alacritty" << "Alacritty" << terminal;
        QTest::newRow("class name alone") << "" << "kitty" << terminal;
        QTest::newRow("text editor") << "gedit" << "Gedit" << standard;
        QTest::newRow("xterm pastes with Shift+Insert") << "xterm" << "XTerm" << standard;
        QTest::newRow("a name containing a terminal's") << "konsole-helper" << "Konsole-helper" << standard;
        QTest::newRow("no focused window") << "" << "" << standard;
    }
    void terminalWindowsGetTheTerminalChord()
    {
        QFETCH(QString, instanceName);
        QFETCH(QString, className);
        QFETCH(QString, chord);
        Rig rig;
        rig.window->focused = {instanceName, className};
        QVERIFY(rig.injector->inject(QStringLiteral("ls -la")));
        QCOMPARE(rig.journal.filter(QStringLiteral("chord")), QStringList{chord});
    }

    void logCountsUserPerceivedCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("characters");
        // (Chinese text with an emoji and its skin tone is covered through the X server.)
        QTest::newRow("combining accent") << QStringLiteral("e\u0301te\u0301") << 3;
        QTest::newRow("family of four") << QStringLiteral("👨‍👩‍👧‍👦") << 1;
        QTest::newRow("two flags") << QStringLiteral("🇨🇳🇫🇷") << 2;
        QTest::newRow("CRLF is one") << QStringLiteral("a\r\nb") << 3;
    }
    void logCountsUserPerceivedCharacters()
    {
        QFETCH(QString, text);
        QFETCH(int, characters);
        LogCapture log;
        Rig rig;
        QVERIFY(rig.injector->inject(text));
        QCOMPARE(log.messages(QStringLiteral("injection"), QtInfoMsg),
                 QStringList{QStringLiteral("injected %1 chars via pasteboard").arg(characters)});
    }

    void accessibilityAppendsToTheFocusedValue_data()
    {
        QTest::addColumn<bool>("isText");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("written");
        // (A field with text is covered against a real field on the accessibility bus.)
        QTest::newRow("empty field") << true << "" << "新的👍🏽";
        QTest::newRow("value is not a text") << false << "" << "新的👍🏽";
    }
    void accessibilityAppendsToTheFocusedValue()
    {
        QFETCH(bool, isText);
        QFETCH(QString, before);
        QFETCH(QString, written);
        LogCapture log;
        Rig rig;
        rig.injector->setMode(TextInjector::Mode::accessibility);
        rig.accessibility->value = isText ? std::optional<QString>(before) : std::nullopt;

        QVERIFY(rig.injector->inject(QStringLiteral("新的👍🏽")));
        QCOMPARE(rig.accessibility->written, QStringList{written});
        QCOMPARE(rig.journal, QStringList{QStringLiteral("trusted?")}); // the clipboard is not used
        QCOMPARE(log.messages(QStringLiteral("injection"), QtInfoMsg),
                 QStringList{QStringLiteral("injected 3 chars via AX")});
    }

    void aRefusedAccessibilityWriteIsLoggedAndReported()
    {
        // (No focused element is covered against a real field on the accessibility bus.)
        LogCapture log;
        Rig rig;
        rig.injector->setMode(TextInjector::Mode::accessibility);
        rig.accessibility->value = QStringLiteral("abc");
        rig.accessibility->setValueError = -25205;
        QVERIFY(!rig.injector->inject(QStringLiteral("文字")));
        QCOMPARE(rig.accessibility->written, QStringList{QStringLiteral("abc文字")});
        QCOMPARE(log.messages(QStringLiteral("injection")), QStringList{QStringLiteral("AX set value failed: -25205")});
        QVERIFY(log.contains(QStringLiteral("injection"), QtCriticalMsg, QStringLiteral("AX set value failed: -25205")));
    }
};

QTEST_GUILESS_MAIN(TestTextInjector)
#include "tst_textinjector.moc"
