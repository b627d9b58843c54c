// test-labels: beyond
// Choosing the microphone, against the harness's real PulseAudio: a chosen input records while
// another one is the default, no choice follows the automatic rule, and a chosen input that is
// gone falls back with one log line while staying chosen. The settings row lists the inputs as
// they come and go, stores the choice, and meters the input only while it is visible and no
// dictation records. (The row as people see it is in the main window suite's settings-full
// screenshots.)
#include "app/AppState.h"
#include "audio/AudioCaptureEngine.h"
#include "audio/InputLevelMeter.h"
#include "platform/InputSources.h"
#include "platform/Platform.h"
#include "store/DictationPreferences.h"
#include "ui/LevelMeterBar.h"
#include "ui/MicrophoneRow.h"

#include "ChunkRecorder.h"
#include "LogCapture.h"
#include "Pactl.h"
#include "PipeSource.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QtTest>

namespace {

const QString kAudio = QStringLiteral("audio");
// How long a test watches for a reaction that must not come.
constexpr int kQuietMs = 600;

QStringList itemNames(const QComboBox *chooser)
{
    QStringList names;
    for (int i = 0; i < chooser->count(); ++i)
        names << chooser->itemData(i).toString();
    return names;
}

} // namespace

class TestMicrophoneChoice : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QList<int> m_modules;
    std::unique_ptr<AppState> m_state;

    QString fifo(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".fifo")); }

    // Loads a pipe source, unloaded after the test; answers its module.
    int load(const QString &name, const QString &properties = QStringLiteral("device.description=USB麦克风"))
    {
        const int module = Pactl::loadPipeSource(name, fifo(name), QStringLiteral("s16le"), 48000, 2, properties);
        if (module >= 0)
            m_modules << module;
        return module;
    }
    void unload(int module)
    {
        m_modules.removeAll(module);
        Pactl::unloadModule(module);
    }

    AudioCaptureEngine &engine() { return *dynamic_cast<AudioCaptureEngine *>(&m_state->audioEngine()); }

    // Records once from what the engine picks; answers the sources recorded from while it ran.
    QList<int> recordOnce(ChunkRecorder &chunks)
    {
        engine().setOnPCMFrame(chunks.handler());
        engine().startCapture();
        const QList<int> sources = Pactl::recordingSources();
        engine().stopCapture();
        return sources;
    }

    std::unique_ptr<MicrophoneRow> makeRow()
    {
        return std::make_unique<MicrophoneRow>(*m_state, Platform::inputSources(),
                                               std::make_unique<InputLevelMeter>(Platform::audioSystem()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!PipeSource::fifoPath().isEmpty(), "no pipe source: run the tests through scripts/harness.sh");
        QVERIFY(m_dir.isValid());
        QLoggingCategory::setFilterRules(QStringLiteral("quillfen.*=true"));
    }

    void init()
    {
        AppState::Options options;
        options.settingsPath = m_dir.filePath(QStringLiteral("settings.ini"));
        QFile::remove(options.settingsPath);
        m_state = std::make_unique<AppState>(options);
    }

    void cleanup()
    {
        m_state.reset();
        for (int module : std::as_const(m_modules))
            Pactl::unloadModule(module);
        m_modules.clear();
        Pactl::setDefaultSource(PipeSource::sourceName());
        QTRY_VERIFY(Pactl::recordingSources().isEmpty());
    }

    // A chosen input that goes away ends the capture it records (as any device change does); the
    // next capture falls back to the automatic choice with one log line, the choice stays stored,
    // and once the input is back it records again.
    void chosenInputThatIsGoneFallsBackAndStaysChosen()
    {
        LogCapture log;
        const QString name = QStringLiteral("murlex_usb");
        const int module = load(name);
        QVERIFY(module >= 0);
        m_state->preferences().setInputSource(name);
        int deviceChanges = 0;
        engine().setOnDeviceChangedDuringCapture([&deviceChanges] { ++deviceChanges; });

        engine().startCapture();
        QCOMPARE(Pactl::recordingSources(), QList<int>{Pactl::sourceIndex(name)});
        unload(module);
        QTRY_COMPARE(deviceChanges, 1);
        QVERIFY(!std::holds_alternative<AudioCaptureEngine::Capturing>(engine().state()));
        QTRY_VERIFY(Pactl::recordingSources().isEmpty());

        ChunkRecorder chunks;
        const QList<int> fallback = recordOnce(chunks);
        QCOMPARE(fallback, QList<int>{Pactl::sourceIndex(PipeSource::sourceName())});
        const QString line = QStringLiteral("chosen input murlex_usb is not available, using the automatic choice");
        QCOMPARE(log.count(kAudio, QtInfoMsg, line), 1);
        QCOMPARE(m_state->preferences().inputSource(), name);
        QSettings stored(m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        QCOMPARE(stored.value(QLatin1String(DictationPreferences::inputSourceKey)).toString(), name);

        QVERIFY(load(name) >= 0);
        QCOMPARE(recordOnce(chunks), QList<int>{Pactl::sourceIndex(name)});
        QCOMPARE(log.count(kAudio, QtInfoMsg, line), 1);
    }

    // The row lists automatic first and then every input by its description (no monitors of
    // outputs), follows inputs coming and going while shown, stores what is picked, and keeps a
    // chosen input that went away, marked, until it is back; its meter follows the choice.
    void rowListsInputsAndStoresTheChoice()
    {
        auto row = makeRow();
        row->show();
        QComboBox *chooser = row->chooser();
        QTRY_VERIFY(itemNames(chooser).contains(PipeSource::sourceName()));
        QCOMPARE(chooser->currentIndex(), 0);
        QVERIFY(!itemNames(chooser).contains(QStringLiteral("murlex_null.monitor")));
        QVERIFY(row->missingCaption()->isHidden());

        const int module = load(QStringLiteral("murlex_usb"));
        QTRY_VERIFY(itemNames(chooser).contains(QStringLiteral("murlex_usb")));
        const int usb = int(itemNames(chooser).indexOf(QStringLiteral("murlex_usb")));
        QCOMPARE(chooser->itemText(usb), QStringLiteral("USB麦克风"));

        chooser->setCurrentIndex(usb);
        Q_EMIT chooser->activated(usb); // as a person's pick
        QCOMPARE(m_state->preferences().inputSource(), QStringLiteral("murlex_usb"));
        // The meter measures the chosen input, and what a dictation would take when it goes away.
        QTRY_COMPARE(Pactl::recordingSources(), QList<int>{Pactl::sourceIndex(QStringLiteral("murlex_usb"))});

        unload(module);
        QTRY_COMPARE(Pactl::recordingSources(), QList<int>{Pactl::sourceIndex(PipeSource::sourceName())});
        QTRY_VERIFY(row->missingCaption()->isVisibleTo(row.get()));
        QCOMPARE(chooser->currentText(), QStringLiteral("murlex_usb(未连接)"));
        QCOMPARE(m_state->preferences().inputSource(), QStringLiteral("murlex_usb"));

        load(QStringLiteral("murlex_usb"));
        QTRY_COMPARE(chooser->currentText(), QStringLiteral("USB麦克风"));
        QVERIFY(row->missingCaption()->isHidden());

        chooser->setCurrentIndex(0);
        Q_EMIT chooser->activated(0);
        QCOMPARE(m_state->preferences().inputSource(), QString());
        // Changes while hidden are not followed (nothing of ours listens), and are seen on showing.
        row->hide();
        const int late = load(QStringLiteral("murlex_late"));
        QTest::qWait(kQuietMs);
        QVERIFY(!itemNames(chooser).contains(QStringLiteral("murlex_late")));
        row->show();
        QTRY_VERIFY(itemNames(chooser).contains(QStringLiteral("murlex_late")));
        unload(late);
    }

    // The meter follows the input level (loud, quiet, silent), falls back gently, and holds the
    // input only while the row is visible and no dictation records.
    void meterMovesWithTheInputOnlyWhileVisible()
    {
        const int mic = Pactl::sourceIndex(PipeSource::sourceName());
        auto row = makeRow();
        InputLevelMeter &meter = row->meter();
        QVERIFY(Pactl::recordingSources().isEmpty());
        row->show();
        QTRY_COMPARE(Pactl::recordingSources(), QList<int>{mic});
        QCOMPARE(meter.level(), 0.0);

        PipeSource microphone;
        double loudest = 0;
        connect(&meter, &InputLevelMeter::levelChanged, this, [&loudest](double level) { loudest = std::max(loudest, level); });
        microphone.start(PipeSource::tone(440, 1.0, 0.5)); // -6 dBFS
        QTRY_VERIFY(meter.level() > 0.8);
        QCOMPARE(row->meterBar()->level(), meter.level());
        microphone.wait();

        // The fall after the tone: gentle (several refreshes), but well under a few seconds.
        QElapsedTimer falling;
        falling.start();
        QTRY_COMPARE(meter.level(), 0.0);
        QVERIFY2(falling.elapsed() > 300 && falling.elapsed() < 3000, qPrintable(QString::number(falling.elapsed())));

        loudest = 0;
        microphone.start(PipeSource::tone(440, 1.0, 0.01)); // -40 dBFS
        QTRY_VERIFY(loudest > 0.2);
        microphone.wait();
        QVERIFY2(loudest < 0.5, qPrintable(QString::number(loudest)));
        QTRY_COMPARE(meter.level(), 0.0);

        // A dictation records: the meter lets go of the microphone before the capture starts.
        m_state->setPhase(Phase::recording());
        QVERIFY(!meter.isRunning());
        QTRY_VERIFY(Pactl::recordingSources().isEmpty());
        m_state->setPhase(Phase::idle());
        QTRY_COMPARE(Pactl::recordingSources(), QList<int>{mic});

        row->hide();
        QVERIFY(!meter.isRunning());
        QTRY_VERIFY(Pactl::recordingSources().isEmpty());
        QCOMPARE(row->meterBar()->level(), 0.0);
    }
};

QTEST_MAIN(TestMicrophoneChoice)
#include "tst_microphone_choice.moc"
