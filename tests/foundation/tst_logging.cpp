// test-labels: foundation
#include "app/AppLogger.h"
#include "LogCapture.h"

#include <QtTest>
#include <thread>

class TestLogging : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void captureRecordsCategoryLevelAndTextFromAnyThread()
    {
        // Info and above are on by default (LogCapture names categories below the bundle identifier).
        QVERIFY(AppLogger::socket().isInfoEnabled());
        LogCapture capture;
        qCInfo(AppLogger::socket, "connecting to %s...", "wss://api.murlex.app/ws?token=abc");
        qCCritical(AppLogger::dictation, "retry connect also failed: %s", "timeout");
        std::thread([] { qCInfo(AppLogger::audio, "from the audio thread"); }).join();

        QVERIFY(capture.contains(QStringLiteral("socket"), QtInfoMsg,
                                 QStringLiteral("connecting to wss://api.murlex.app/ws?token=abc...")));
        QVERIFY(capture.contains(QStringLiteral("dictation"), QtCriticalMsg,
                                 QStringLiteral("retry connect also failed: timeout")));
        QVERIFY(!capture.contains(QStringLiteral("dictation"), QtInfoMsg,
                                  QStringLiteral("retry connect also failed: timeout")));
        QCOMPARE(capture.messages(QStringLiteral("audio")), QStringList{QStringLiteral("from the audio thread")});
        // Chinese text survives the printf-style path.
        qCCritical(AppLogger::app, "%s", QString::fromUtf8("登录已失效，请重新登录").toUtf8().constData());
        QVERIFY(capture.contains(QStringLiteral("app"), QtCriticalMsg, QString::fromUtf8("登录已失效，请重新登录")));
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
