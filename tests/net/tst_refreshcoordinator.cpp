// test-labels: auth
#include "net/RefreshCoordinator.h"

#include <QCoroSignal>
#include <QtTest>

using namespace Qt::Literals::StringLiterals;

class Gate : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void opened();
};

class TestRefreshCoordinator : public QObject {
    Q_OBJECT

    Gate m_gates[2]; // refresh number n waits for m_gates[n - 1]
    int m_calls = 0;

    static QCoro::Task<> collect(RefreshCoordinator &coordinator, QList<TokenResult> &results)
    {
        TokenResult result = co_await coordinator.currentTask();
        results.append(std::move(result));
    }

private Q_SLOTS:
    void init() { m_calls = 0; }

    void refreshThatFinishesAtOnceIsStillShared()
    {
        RefreshCoordinator coordinator([this]() -> QCoro::Task<TokenResult> {
            ++m_calls;
            co_return TokenFailure(AuthError::noRefreshToken());
        });
        QList<TokenResult> results;
        collect(coordinator, results);
        collect(coordinator, results);
        QCOMPARE(results.size(), 2);
        QCOMPARE(m_calls, 1);
        QCOMPARE(std::get<AuthError>(results.at(1).error()), AuthError::noRefreshToken());
        QTRY_VERIFY(!coordinator.hasFlight());
    }

    void clearingOfAnOldRefreshLeavesANewerOneInFlight()
    {
        RefreshCoordinator coordinator([this]() -> QCoro::Task<TokenResult> {
            const int call = ++m_calls;
            Gate *gate = &m_gates[call - 1];
            co_await qCoro(gate, &Gate::opened);
            co_return u"token-%1"_s.arg(call);
        });
        QList<TokenResult> results;
        collect(coordinator, results); // refresh 1
        coordinator.clear();
        collect(coordinator, results); // refresh 2, while 1 still runs
        QCOMPARE(m_calls, 2);
        // Refresh 1 finishes and its clearing runs: refresh 2 is still the one in flight.
        Q_EMIT m_gates[0].opened();
        QTRY_COMPARE(results.size(), 1);
        QTest::qWait(10);
        QVERIFY(coordinator.hasFlight());
        collect(coordinator, results);
        QCOMPARE(m_calls, 2);
        Q_EMIT m_gates[1].opened();
        QTRY_COMPARE(results.size(), 3);
        QCOMPARE(results.at(1).value(), u"token-2"_s);
        QCOMPARE(results.at(2).value(), u"token-2"_s);
        QTRY_VERIFY(!coordinator.hasFlight());
    }
};

QTEST_GUILESS_MAIN(TestRefreshCoordinator)
#include "tst_refreshcoordinator.moc"
