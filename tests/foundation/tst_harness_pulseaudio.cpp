// test-labels: foundation harness
// Proves the harness's PulseAudio: bytes written into the pipe source come back through libpulse.
#include "PipeSource.h"

#include <QtTest>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <thread>

class TestHarnessPulseAudio : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pipeSourceIsTheDefaultMicrophone()
    {
        QVERIFY2(!PipeSource::fifoPath().isEmpty(), "no pipe source: run the tests through scripts/harness.sh");
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"), {QStringLiteral("get-default-source")});
        QVERIFY(pactl.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(pactl.readAllStandardOutput()).trimmed(), PipeSource::sourceName());
    }

    void writtenFramesAreReadBack()
    {
        pa_sample_spec spec{PA_SAMPLE_S16LE, uint32_t(PipeSource::sampleRate()), uint8_t(PipeSource::channels())};
        int error = 0;
        pa_simple *stream = pa_simple_new(nullptr, "murlex-harness-probe", PA_STREAM_RECORD,
                                          PipeSource::sourceName().toUtf8().constData(), "probe", &spec,
                                          nullptr, nullptr, &error);
        QVERIFY2(stream, pa_strerror(error));

        // A recognisable ramp, 200 ms long, written while the stream records.
        const int frames = PipeSource::sampleRate() / 5;
        QByteArray pattern(frames * PipeSource::channels() * 2, Qt::Uninitialized);
        auto *s = reinterpret_cast<qint16 *>(pattern.data());
        for (int i = 0; i < frames * PipeSource::channels(); ++i)
            s[i] = qint16((i * 7) % 30000 + 1);
        PipeSource source;
        source.start(pattern);

        QByteArray received(pattern.size(), '\0');
        QVERIFY2(pa_simple_read(stream, received.data(), size_t(received.size()), &error) == 0, pa_strerror(error));
        source.wait();
        pa_simple_free(stream);
        QCOMPARE(received, pattern);
    }
};

QTEST_GUILESS_MAIN(TestHarnessPulseAudio)
#include "tst_harness_pulseaudio.moc"
