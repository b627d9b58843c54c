// test-labels: foundation harness
// test-services: desktop
#include <libsecret/secret.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include "Artifacts.h"
#include "ExternalTool.h"
#include "PipeSource.h"

#include <QtTest>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>

using namespace Qt::Literals::StringLiterals;

// The window with the X input focus, as the server says.
WId focusedWindow()
{
    const auto focus = ExternalTool::run(u"xdotool"_s, {u"getwindowfocus"_s});
    return focus ? WId(focus->trimmed().toULongLong()) : 0;
}

class TestHarnessDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowManagerFramesAndFocusesWindows()
    {
        QCOMPARE(QGuiApplication::platformName(), u"xcb"_s);
        const auto check = ExternalTool::run(u"xprop"_s, {u"-root"_s, u"_NET_SUPPORTING_WM_CHECK"_s});
        QVERIFY2(check && check->contains("window id"), "no window manager (openbox) on the display");
        QLineEdit first, second;
        first.setWindowTitle(u"first"_s);
        second.setWindowTitle(u"second"_s);
        for (QLineEdit *field : {&first, &second}) {
            field->show();
            QVERIFY(QTest::qWaitForWindowExposed(field));
        }
        // Activation through the window manager (needs one), then a click moves the focus back.
        QVERIFY(ExternalTool::run(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, QString::number(second.winId())}));
        QTRY_COMPARE(focusedWindow(), second.winId());
        const QPoint centre = first.mapToGlobal(first.rect().center());
        QVERIFY(ExternalTool::run(u"xdotool"_s, {u"mousemove"_s, u"--sync"_s, QString::number(centre.x()), QString::number(centre.y()), u"click"_s, u"1"_s}));
        QTRY_COMPARE(focusedWindow(), first.winId());
        // A framed window sits inside the frame: the window manager reparented it.
        QVERIFY(first.geometry().topLeft() != first.frameGeometry().topLeft());
    }

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

QTEST_MAIN(TestHarnessDesktop)
#include "tst_harness_desktop.moc"
