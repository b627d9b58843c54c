// test-labels: foundation harness
#include "PipeSource.h"

#include <libsecret/secret.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <QtTest>

using namespace Qt::Literals::StringLiterals;

class TestHarnessSession : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keyringGivesBackAStoredSecret()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"), "no session bus: run the tests through scripts/harness.sh");
        SecretSchema schema{};
        schema.name = "quillfen.MurlexMac.HarnessProbe";
        schema.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        schema.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        GError *error = nullptr;
        QVERIFY2(secret_password_store_sync(&schema, SECRET_COLLECTION_DEFAULT, "harness probe", "s3cr3t-é", nullptr, &error,
                                            "service", "murlex-harness", "account", "probe", nullptr),
                 error ? error->message : "store failed");
        gchar *value = secret_password_lookup_sync(&schema, nullptr, &error, "service", "murlex-harness", "account", "probe", nullptr);
        QVERIFY2(value, error ? error->message : "lookup found nothing");
        const QString read = QString::fromUtf8(value);
        secret_password_free(value);
        QCOMPARE(read, QString::fromUtf8("s3cr3t-é"));
        QVERIFY(secret_password_clear_sync(&schema, nullptr, &error, "service", "murlex-harness", "account", "probe", nullptr));
    }

    void pipeSourceIsTheDefaultMicrophone()
    {
        QVERIFY2(!PipeSource::fifoPath().isEmpty(), "no pipe source: run the tests through scripts/harness.sh");
        QProcess pactl;
        pactl.start(u"pactl"_s, {u"get-default-source"_s});
        QVERIFY(pactl.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(pactl.readAllStandardOutput()).trimmed(), PipeSource::sourceName());
        pa_sample_spec spec{PA_SAMPLE_S16LE, uint32_t(PipeSource::sampleRate()), uint8_t(PipeSource::channels())};
        int error = 0;
        pa_simple *stream = pa_simple_new(nullptr, "murlex-harness-probe", PA_STREAM_RECORD, PipeSource::sourceName().toUtf8().constData(),
                                          "probe", &spec, nullptr, nullptr, &error);
        QVERIFY2(stream, pa_strerror(error));
        // A recognisable ramp, 200 ms long, written while the stream records.
        const int samples = PipeSource::sampleRate() / 5 * PipeSource::channels();
        QByteArray pattern(samples * 2, Qt::Uninitialized);
        for (int i = 0; i < samples; ++i)
            reinterpret_cast<qint16 *>(pattern.data())[i] = qint16((i * 7) % 30000 + 1);
        PipeSource source;
        source.start(pattern);
        QByteArray received(pattern.size(), '\0');
        const int read = pa_simple_read(stream, received.data(), size_t(received.size()), &error);
        source.wait();
        pa_simple_free(stream);
        QVERIFY2(read == 0, pa_strerror(error));
        QCOMPARE(received, pattern);
    }
};

QTEST_GUILESS_MAIN(TestHarnessSession)
#include "tst_harness_session.moc"
