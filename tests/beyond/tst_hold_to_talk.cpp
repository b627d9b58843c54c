// test-labels: beyond
// Hold to talk and giving up a dictation, end to end: the murlex program in hold mode, signed in
// against the stand-in, a focused text field in another program, the shortcut and Escape pressed
// and held on the X server with auto-repeat on, murlex --cancel run from another session, and a
// tone spoken into the harness's microphone.
#include "EndToEndRig.h"
#include "ExternalTool.h"
#include "PipeSource.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

namespace {

// The "type" of every text message the client sent on the stand-in's latest connection.
QStringList messageTypesOnTheWire(DevServer &server)
{
    QStringList types;
    const QJsonArray connections = server.socketRecording();
    if (connections.isEmpty())
        return types;
    for (const auto &message : connections.last().toObject().value(QStringLiteral("text_messages")).toArray())
        types << QJsonDocument::fromJson(message.toString().toUtf8()).object().value(QStringLiteral("type")).toString();
    return types;
}

} // namespace

class TestHoldToTalk : public QObject {
    Q_OBJECT

    EndToEndRig m_rig;
    int escapesInField() { return int(m_rig.target().linesStartingWith(QStringLiteral("key Esc")).size()); }

    bool waitForLog(const QString &fragment, int atLeast, int timeoutMs = 20000)
    {
        if (m_rig.app().waitForCount(fragment, atLeast, timeoutMs))
            return true;
        qInfo("murlex:\n%s", qUtf8Printable(m_rig.app().lines().join(u'\n')));
        return false;
    }

    // Starts a dictation with a short press (taken as a toggle press in hold mode), speaks, ends
    // it first when `afterTheStop`, and has `cancel` give it up: nothing reaches the field or the
    // clipboard, and the answer the stand-in sends for the stop is dropped without its text in the log.
    void giveUp(bool afterTheStop, const std::function<void()> &cancel)
    {
        const int fieldChanges = m_rig.fieldChanges();
        const int captures = m_rig.app().count(QStringLiteral("capture started"));
        const int drops = m_rig.app().count(QStringLiteral("dropped polish_done of a cancelled dictation"));
        const int stops = m_rig.app().count(QStringLiteral("capture stopped"));
        const int injections = m_rig.app().count(QStringLiteral("injected "));
        QVERIFY(EndToEndRig::pressShortcut());
        QVERIFY(waitForLog(QStringLiteral("capture started"), captures + 1));
        PipeSource::play(PipeSource::tone(440.0, 1.0));
        if (afterTheStop)
            QVERIFY(EndToEndRig::pressShortcut() && waitForLog(QStringLiteral("capture stopped"), stops + 1));
        cancel();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(waitForLog(QStringLiteral("capture stopped"), stops + 1));
        QVERIFY(waitForLog(QStringLiteral("dropped polish_done of a cancelled dictation"), drops + 1));
        const QString dropped = m_rig.app().linesContaining(QStringLiteral("dropped polish_done")).last();
        QVERIFY2(dropped.contains(QRegularExpression(QStringLiteral("\\(\\d+ characters\\)$"))), qPrintable(dropped));
        QVERIFY2(!dropped.contains(QStringLiteral("Duration")), qPrintable(dropped));
        QTest::qWait(500);
        QCOMPARE(m_rig.fieldChanges(), fieldChanges);
        QCOMPARE(EndToEndRig::clipboardNow(), EndToEndRig::clipboardText());
        QCOMPARE(m_rig.app().count(QStringLiteral("injected ")), injections);
        // The server heard the dictation through to its stop, and answered it.
        const QStringList wire = messageTypesOnTheWire(m_rig.server());
        QCOMPARE(wire.mid(wire.size() - 2), (QStringList{QStringLiteral("start"), QStringLiteral("stop")}));
        const QJsonArray dictations = m_rig.server().socketRecording().last().toObject().value(QStringLiteral("dictations")).toArray();
        QVERIFY(EndToEndRig::heard(dictations.last().toObject().value(QStringLiteral("polish_text")).toString()));
    }

    void cancelOnTheCommandLine()
    {
        const auto cancel = MurlexProcess::runShipped({QStringLiteral("--cancel")}, m_rig.appEnvironment());
        QVERIFY(cancel);
        QCOMPARE(cancel->exitCode, 0);
        QVERIFY2(cancel->output.isEmpty(), qPrintable(cancel->output));
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The person chose hold to talk before this start.
        QSettings settings(m_rig.appEnvironment().value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/quillfen/MurlexMac.conf"),
                           QSettings::IniFormat);
        settings.setValue(QStringLiteral("shortcutMode"), QStringLiteral("hold"));
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
        // Auto-repeat on, and quick: a held key repeats many times in a second.
        QVERIFY(ExternalTool::run(QStringLiteral("xset"), {QStringLiteral("r"), QStringLiteral("on")}));
        QVERIFY(ExternalTool::run(QStringLiteral("xset"), {QStringLiteral("r"), QStringLiteral("rate"), QStringLiteral("200"), QStringLiteral("30")}));
        QVERIFY2(m_rig.start({}), qPrintable(m_rig.failure()));
        // The first connection answers its first stop only 3 s late.
        QVERIFY(m_rig.server().setSocketFault({.action = DevServer::SocketFault::Action::DelayFinal, .delayMs = 3000, .stops = 1}));
    }

    // Runs first, on the connection whose first answer comes 3 s late: given up while it is on
    // its way, the answer is dropped when it comes.
    void cancelOnTheCommandLineWhileTheAnswerIsPending()
    {
        QVERIFY(m_rig.focusField());
        giveUp(true, [this] { cancelOnTheCommandLine(); });
        QCOMPARE(m_rig.app().count(QStringLiteral("cancelDictation(): no longer waiting in")), 1);
    }

    // murlex --cancel while the microphone records (the short press that started it kept it going
    // after its release); then, with nothing under way, it says so.
    void cancelOnTheCommandLineWhileRecording()
    {
        QVERIFY(m_rig.focusField());
        giveUp(false, [this] { cancelOnTheCommandLine(); });
        QCOMPARE(m_rig.app().count(QStringLiteral("cancelDictation()")), 2);

        const auto idle = MurlexProcess::runShipped({QStringLiteral("--cancel")}, m_rig.appEnvironment());
        QVERIFY(idle);
        QCOMPARE(idle->exitCode, 0);
        QVERIFY2(idle->output.contains(QStringLiteral("Murlex has nothing to cancel: no dictation is recording or waiting for its text.")), qPrintable(idle->output));
    }

    // Held for seconds with auto-repeat delivering presses all along: one dictation, from the
    // press to the release, with every bit of the tone (and its own text, not one given up before).
    void holdingTheShortcutRecordsUntilItIsLetGo()
    {
        QVERIFY(m_rig.focusField());
        // The premise: a held key repeats here (the field receives the letter again and again).
        const int before = int(m_rig.fieldText().size());
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keydown"), QStringLiteral("x")}));
        QTest::qWait(800);
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keyup"), QStringLiteral("x")}));
        QTRY_VERIFY2(m_rig.fieldText().size() - before >= 5, qPrintable(m_rig.fieldText()));

        const int begins = m_rig.app().count(QStringLiteral("beginDictation()"));
        const int ends = m_rig.app().count(QStringLiteral("endDictation()"));
        const int shortPresses = m_rig.app().count(QStringLiteral("short press"));
        const int captures = m_rig.app().count(QStringLiteral("capture started"));
        const int injections = m_rig.app().count(QStringLiteral("injected "));
        const QString text = m_rig.fieldText();

        QVERIFY(ExternalTool::xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+alt+space")}));
        QVERIFY(waitForLog(QStringLiteral("capture started"), captures + 1));
        PipeSource::play(PipeSource::tone(440.0, 2.0));
        QTest::qWait(300);
        // Still the one dictation, still recording.
        QCOMPARE(m_rig.app().count(QStringLiteral("beginDictation()")), begins + 1);
        QCOMPARE(m_rig.app().count(QStringLiteral("endDictation()")), ends);
        QElapsedTimer letGo;
        letGo.start();
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+alt+space")}));
        // The release waits a few tens of milliseconds for a repeat's press, not longer.
        QVERIFY(waitForLog(QStringLiteral("endDictation()"), ends + 1));
        QVERIFY2(letGo.elapsed() < 1500, qPrintable(QString::number(letGo.elapsed())));

        QVERIFY(waitForLog(QStringLiteral("injected "), injections + 1));
        QTRY_VERIFY(m_rig.fieldText() != text);
        const QString inserted = m_rig.fieldText().mid(text.size());
        const auto heard = EndToEndRig::heard(inserted);
        QVERIFY2(heard && qAbs(heard->seconds - 2.0) <= 0.1 && heard->hertz == 440, qPrintable(inserted));
        QCOMPARE(m_rig.app().count(QStringLiteral("endDictation()")), ends + 1);
        QCOMPARE(m_rig.app().count(QStringLiteral("beginDictation()")), begins + 1);
        QCOMPARE(m_rig.app().count(QStringLiteral("short press")), shortPresses);
        QTRY_COMPARE(EndToEndRig::clipboardNow(), EndToEndRig::clipboardText());
    }

    // Escape belongs to the focused field, but while a dictation records it gives the dictation up.
    void escapeCancelsOnlyWhileRecording()
    {
        QVERIFY(m_rig.focusField());
        const int escapes = escapesInField();
        QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        QTRY_COMPARE(escapesInField(), escapes + 1);

        giveUp(false, [this] {
            QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
            QVERIFY(waitForLog(QStringLiteral("Escape pressed: cancelling the dictation"), 1));
        });
        QCOMPARE(escapesInField(), escapes + 1);

        // Given back as the recording ended.
        QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        QTRY_COMPARE(escapesInField(), escapes + 2);

        // With the shortcut held down (its modifiers too), Escape gives the dictation up as well.
        const int captures = m_rig.app().count(QStringLiteral("capture started"));
        const int ends = m_rig.app().count(QStringLiteral("endDictation()"));
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+alt+space")}));
        QVERIFY(waitForLog(QStringLiteral("capture started"), captures + 1));
        QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        QVERIFY(waitForLog(QStringLiteral("Escape pressed: cancelling the dictation"), 2));
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+alt+space")}));
        QTest::qWait(500);
        QCOMPARE(escapesInField(), escapes + 2);
        QCOMPARE(m_rig.app().count(QStringLiteral("endDictation()")), ends); // the release found nothing to end
    }

    void cleanupTestCase()
    {
        ExternalTool::run(QStringLiteral("xset"), {QStringLiteral("r"), QStringLiteral("rate")});
        const auto status = m_rig.app().terminate();
        QVERIFY2(status, qPrintable(m_rig.app().lines().join(u'\n')));
        QCOMPARE(*status, 0);
    }
};

QTEST_MAIN(TestHoldToTalk)
#include "tst_hold_to_talk.moc"
