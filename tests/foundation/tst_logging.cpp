// test-labels: foundation
#include "app/AppLogger.h"
#include "LogCapture.h"

#include <QtTest>
#include <thread>

class TestLogging : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void categoriesAndLevels()
    {
        QCOMPARE(QString::fromUtf8(AppLogger::app().categoryName()), QStringLiteral("quillfen.MurlexMac.app"));
        QCOMPARE(QString::fromUtf8(AppLogger::audio().categoryName()), QStringLiteral("quillfen.MurlexMac.audio"));
        QCOMPARE(QString::fromUtf8(AppLogger::socket().categoryName()), QStringLiteral("quillfen.MurlexMac.socket"));
        QCOMPARE(QString::fromUtf8(AppLogger::hotkey().categoryName()), QStringLiteral("quillfen.MurlexMac.hotkey"));
        QCOMPARE(QString::fromUtf8(AppLogger::injection().categoryName()), QStringLiteral("quillfen.MurlexMac.injection"));
        QCOMPARE(QString::fromUtf8(AppLogger::dictation().categoryName()), QStringLiteral("quillfen.MurlexMac.dictation"));
        QCOMPARE(QString::fromUtf8(AppLogger::metricsKitObserver().categoryName()),
                 QStringLiteral("quillfen.MurlexMac.MetricsKitObserver"));
        QCOMPARE(QString::fromUtf8(AppLogger::diagnosticsUploader().categoryName()),
                 QStringLiteral("quillfen.MurlexMac.DiagnosticsUploader"));
        QVERIFY(AppLogger::socket().isInfoEnabled());
        QVERIFY(AppLogger::socket().isCriticalEnabled());
    }

    void captureRecordsCategoryLevelAndTextFromAnyThread()
    {
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
