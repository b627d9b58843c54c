// test-labels: foundation
// (Levels, categories, Chinese text and info lines being on by default are asserted by every suite
// that reads the log, e.g. tst_dictation_flow; here only what none of them provokes.)
#include "app/AppLogger.h"
#include "LogCapture.h"

#include <QtTest>
#include <thread>

class TestLogging : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void captureRecordsLinesFromAnyThread()
    {
        LogCapture capture;
        std::thread([] { qCInfo(AppLogger::audio, "from the audio thread"); }).join();
        QCOMPARE(capture.messages(QStringLiteral("audio")), QStringList{QStringLiteral("from the audio thread")});
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
