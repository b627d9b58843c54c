// test-labels: foundation
#include "app/AppLogger.h"
#include "LogCapture.h"

#include <QtTest>
#include <thread>

using namespace Qt::Literals::StringLiterals;

class TestLogging : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void captureRecordsLinesFromAnyThread()
    {
        LogCapture capture;
        std::thread([] { qCInfo(AppLogger::audio, "from the audio thread"); }).join();
        QCOMPARE(capture.messages(u"audio"_s), QStringList{u"from the audio thread"_s});
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
