// test-labels: beyond
// Hold mode and giving up a dictation while its start is still under way (the token comes late),
// over the real socket against the stand-in: timings real key events cannot pin down.
#include "LogCapture.h"
#include "SpineRig.h"
#include "StandIn.h"
#include "app/ShortcutGesture.h"
#include "store/DictationPreferences.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
const DictationController::Timing kShort{1500ms, 1500ms};
constexpr auto kShortPress = 150ms; // the gesture's limit here
} // namespace

class TestShortcutGestures : public QObject {
    Q_OBJECT

    StandIn m_standIn;
    QString m_access;

    QJsonArray wire()
    {
        const QJsonArray connections = m_standIn.server.socketRecording();
        return connections.isEmpty() ? QJsonArray() : connections.last().toObject().value(QStringLiteral("text_messages")).toArray();
    }

    // A hold-mode gesture over the rig's controller.
    static std::unique_ptr<ShortcutGesture> holdGesture(SpineRig &rig)
    {
        rig.state.preferences().setShortcutMode(DictationPreferences::ShortcutMode::hold);
        return std::make_unique<ShortcutGesture>(rig.state, [&rig]() -> DictationController & { return rig.controller; },
                                                 kShortPress);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_standIn.start());
        m_access = m_standIn.server.issueTokens(QStringLiteral("hold")).access;
        QVERIFY(!m_access.isEmpty());
    }
    void init() { QVERIFY(m_standIn.reset()); }

    // The key is let go while the start is still fetching the token: the dictation ends as soon as
    // it records, rather than recording on with nobody holding the key. A second press while the
    // start is under way (after a short press) does the same.
    void letGoWhileStarting_data()
    {
        QTest::addColumn<bool>("shortPressThenPress");
        QTest::newRow("released after the limit") << false;
        QTest::newRow("short press, then a press") << true;
    }
    void letGoWhileStarting()
    {
        QFETCH(bool, shortPressThenPress);
        SpineRig rig(kShort);
        rig.tokens.setValidResults({TokenResult(m_access)});
        rig.tokens.setDelay(800ms);
        const auto gesture = holdGesture(rig);

        gesture->pressed();
        if (shortPressThenPress) {
            gesture->released();
            QTest::qWait(300);
            gesture->pressed();
            gesture->released();
        } else {
            QTest::qWait(300);
            gesture->released();
        }
        QTest::qWait(100);
        QVERIFY(rig.controller.isStarting());
        QCOMPARE(rig.state.phase(), Phase::idle());
        QTRY_COMPARE_WITH_TIMEOUT(rig.injector.injected().size(), 1, 10000);
        QCOMPARE(wire(), (QJsonArray{QStringLiteral("{\"hotwords\":[],\"type\":\"start\"}"), QStringLiteral("{\"type\":\"stop\"}")}));
        QVERIFY(!rig.engine.isCapturing());
    }

    // Given up while the start fetches the token: it never records, nothing is sent, and the next
    // dictation starts as usual. Nothing to give up: idle, an error.
    void cancelWhileStartingAndWithNothingUnderWay()
    {
        LogCapture log;
        SpineRig rig(kShort);
        rig.tokens.setValidResults({TokenResult(m_access)});
        QVERIFY(!rig.controller.cancel());

        rig.tokens.setDelay(500ms);
        QSignalSpy phaseSpy(&rig.state, &AppState::phaseChanged);
        rig.controller.toggle();
        QVERIFY(rig.controller.isStarting());
        QVERIFY(rig.controller.cancel());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.controller.isStarting(), 10000);
        QTest::qWait(200);
        QVERIFY(phaseSpy.isEmpty());
        QVERIFY(!rig.engine.isCapturing());
        QCOMPARE(wire(), QJsonArray());
        QVERIFY(log.contains(QStringLiteral("dictation"), QtInfoMsg, QStringLiteral("the dictation was cancelled before it recorded")));

        rig.tokens.setDelay(0ms);
        rig.controller.toggle();
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(), Phase::recording(), 10000);
        rig.controller.toggle();
        QTRY_COMPARE_WITH_TIMEOUT(rig.injector.injected().size(), 1, 10000);

        rig.state.setError(QStringLiteral("失败"));
        QVERIFY(!rig.controller.cancel());
        QVERIFY(rig.state.phase().isError());
    }
};

QTEST_MAIN(TestShortcutGestures)
#include "tst_shortcut_gestures.moc"
