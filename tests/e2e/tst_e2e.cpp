// test-labels: e2e
// The application end to end, as a person uses it: the murlex program (the shipped main over the
// test transport, tests/helpers/murlex_e2e.cpp) signed in against the stand-in, a text field with
// the focus in another program, the shortcut pressed on the X server, a tone spoken into the
// harness's microphone, and the stand-in's polished text arriving in the field.
#include "EndToEndRig.h"
#include "PipeSource.h"
#include "app/AppState.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

namespace {
const QStringList serverHotWords = {QStringLiteral("Murlex"), QStringLiteral("Qt")};

// What the stand-in's polisher says about a tone, read back.
struct Measured {
    double seconds = 0;
    double hertz = 0;
};

std::optional<Measured> parsePolished(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^Duration (\\d+\\.\\d\\d) s, level -?\\d+\\.\\d dBFS, frequency (\\d+) Hz\\. Hot words: Murlex, Qt\\.$"));
    const auto match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return Measured{match.captured(1).toDouble(), match.captured(2).toDouble()};
}

// The lines of the road of one dictation appear in this order after `from`.
bool roadInOrder(const QStringList &lines, qsizetype from, const QStringList &steps, QString *missing)
{
    qsizetype at = from;
    for (const QString &step : steps) {
        while (at < lines.size() && !lines.at(at).contains(step))
            ++at;
        if (at == lines.size()) {
            *missing = step;
            return false;
        }
        ++at;
    }
    return true;
}

bool clipboardRestored()
{
    return QTest::qWaitFor([] { return EndToEndRig::clipboardNow() == EndToEndRig::clipboardText(); }, 3000);
}
} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

    EndToEndRig m_rig;

    void checkTone(const QString &inserted)
    {
        const auto measured = parsePolished(inserted);
        QVERIFY2(measured, qPrintable(inserted));
        QVERIFY2(qAbs(measured->seconds - 2.0) <= 0.1, qPrintable(inserted));
        QVERIFY2(qAbs(measured->hertz - 440.0) <= 440.0 * 0.02, qPrintable(inserted));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_rig.start(serverHotWords), qPrintable(m_rig.failure()));
    }

    void commandLineAnswersAndASecondLaunchLeavesTheFirstAlone()
    {
        const struct {
            const char *option;
            int exitCode;
            const char *output; // contained in what the program writes
        } answers[] = {{"--version", 0, "Murlex 0."}, {"--help", 0, "Control+Alt+Space"}, {"--no-such-option", 1, ""}};
        for (const auto &answer : answers) {
            const auto run = MurlexProcess::runToEnd({QLatin1String(answer.option)}, m_rig.appEnvironment());
            QVERIFY(run);
            QCOMPARE(run->exitCode, answer.exitCode);
            QVERIFY2(run->output.contains(QLatin1String(answer.output)), qPrintable(run->output));
        }

        // Same session (same runtime directory): the second launch has the running one bring up its
        // window, says so and goes.
        const auto second = MurlexProcess::runToEnd({}, m_rig.appEnvironment());
        QVERIFY(second);
        QCOMPARE(second->exitCode, 0);
        QVERIFY2(second->output.contains(QStringLiteral("Murlex is already running")), qPrintable(second->output));
        QVERIFY2(second->output.contains(QStringLiteral("its window is brought up")), qPrintable(second->output));
        QVERIFY2(second->output.contains(QString::number(m_rig.app().pid())), qPrintable(second->output));
        QVERIFY(!second->output.contains(QStringLiteral("bootstrapping")));
        QVERIFY(m_rig.app().isRunning());
        QCOMPARE(m_rig.app().count(QStringLiteral("main window requested on the session bus")), 1);
        QCOMPARE(m_rig.app().count(QStringLiteral("bootstrapping")), 1);
    }

    void aRejectedTokenShowsItsMessageAndTheNextDictationReconnects()
    {
        // No connection is open yet: the first one is closed for its token as the dictation starts.
        QCOMPARE(m_rig.server().socketRecording().size(), 0);
        QVERIFY(m_rig.server().setSocketFault({.action = DevServer::SocketFault::Action::Close,
                                               .when = DevServer::SocketFault::When::Start,
                                               .closeCode = 1008,
                                               .closeReason = QStringLiteral("invalid token")}));
        QVERIFY(m_rig.focusField());
        const QString message = QStringLiteral("Token 失效，请重新登录");
        QVERIFY(EndToEndRig::pressShortcut());
        QVERIFY2(m_rig.app().waitForCount(message, 1), qPrintable(m_rig.app().lines().join(u'\n')));
        QTRY_COMPARE(m_rig.server().socketRecording().size(), 1);
        QCOMPARE(m_rig.server().socketRecording().first().toObject().value(QStringLiteral("close_code")).toInt(), 1008);
        QCOMPARE(m_rig.fieldChanges(), 0);
        QCOMPARE(EndToEndRig::clipboardNow(), EndToEndRig::clipboardText());

        // The message goes by itself; the user signs in again and dictates over a new connection.
        QTest::qWait(int((AppState::errorDisplayTime + std::chrono::milliseconds(500)).count()));
        QVERIFY(m_rig.signIn());
        const auto again = m_rig.dictate(PipeSource::tone(440.0, 2.0));
        QVERIFY2(again, qPrintable(m_rig.failure()));
        checkTone(again->inserted);
        QVERIFY(clipboardRestored());
        QCOMPARE(m_rig.app().count(QStringLiteral("socket connected")), 2);
        QCOMPARE(m_rig.server().socketRecording().size(), 2);
    }

    // Runs on the connection the previous test left open.
    void dictationsPutThePolishedTextIntoTheFocusedFieldOverOneConnection()
    {
        QCOMPARE(EndToEndRig::clipboardNow(), EndToEndRig::clipboardText());
        const int connects = m_rig.app().count(QStringLiteral("socket connected"));
        const QByteArray tone = PipeSource::tone(440.0, 2.0);

        const qsizetype from = m_rig.app().lines().size();
        const auto first = m_rig.dictate(tone);
        QVERIFY2(first, qPrintable(m_rig.failure()));
        checkTone(first->inserted);
        QVERIFY(clipboardRestored());

        QString missing;
        // The connection is already open: no "socket connected" this time.
        const QString injected = QStringLiteral("injected %1 chars via pasteboard").arg(first->inserted.size());
        QVERIFY2(roadInOrder(m_rig.app().lines(), from,
                             {QStringLiteral("beginDictation()"), QStringLiteral("capture started"), QStringLiteral("endDictation()"),
                              QStringLiteral("asr_done"), QStringLiteral("polish_done"), injected},
                             &missing),
                 qPrintable(missing + QStringLiteral(" missing in:\n") + m_rig.app().lines().mid(from).join(u'\n')));

        // The second dictation goes over the connection the first one opened.
        const auto second = m_rig.dictate(tone);
        QVERIFY2(second, qPrintable(m_rig.failure()));
        checkTone(second->inserted);
        QVERIFY(clipboardRestored());
        QCOMPARE(m_rig.app().count(QStringLiteral("socket connected")), connects);
        QVERIFY(!m_rig.app().lines().mid(from).join(u'\n').contains(QStringLiteral("connecting to")));

        const QJsonArray connections = m_rig.server().socketRecording();
        QCOMPARE(connections.size(), 2); // the one the server closed, and the one still open
        const QJsonObject connection = connections.last().toObject();
        QCOMPARE(connection.value(QStringLiteral("subject")).toString(), QString::fromLatin1(EndToEndRig::subject));
        const QJsonArray dictations = connection.value(QStringLiteral("dictations")).toArray();
        QCOMPARE(dictations.size(), 3); // the previous test's, then these two
        for (const auto &dictation : dictations) {
            // The launch sync brought the server's words; every start sends them.
            QCOMPARE(dictation.toObject().value(QStringLiteral("hotwords")).toArray(), QJsonArray::fromStringList(serverHotWords));
            QVERIFY(dictation.toObject().value(QStringLiteral("first_frame_ns")).toInteger() > 0);
        }
        QCOMPARE(dictations.at(2).toObject().value(QStringLiteral("polish_text")).toString(), second->inserted);
    }

    void cleanupTestCase()
    {
        const auto status = m_rig.app().terminate();
        QVERIFY2(status, qPrintable(m_rig.app().lines().join(u'\n')));
        QCOMPARE(*status, 0);
        QCOMPARE(m_rig.app().count(QStringLiteral("Murlex exiting")), 1);

        // Diagnostics followed the run in the application's own data directory.
        const QString data = m_rig.appEnvironment().value(QStringLiteral("XDG_DATA_HOME")) + QStringLiteral("/quillfen.MurlexMac/");
        QVERIFY(QFile::exists(data + QStringLiteral("run-record")));
        QFile usageFile(data + QStringLiteral("usage-metrics.json"));
        QVERIFY(usageFile.open(QIODevice::ReadOnly));
        const QJsonObject usage = QJsonDocument::fromJson(usageFile.readAll()).object();
        QCOMPARE(usage.value(QStringLiteral("dictations")).toInt(), 4); // the rejected one recorded too
        QCOMPARE(usage.value(QStringLiteral("failures")).toObject().keys(), QStringList{QStringLiteral("Token 失效，请重新登录")});
        const QStringList latencies = usage.value(QStringLiteral("latencies")).toObject().keys();
        for (const char *name : {"asr_time", "polish_time", "total_time"})
            QVERIFY2(latencies.contains(QLatin1String(name)), qPrintable(latencies.join(u' ')));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
