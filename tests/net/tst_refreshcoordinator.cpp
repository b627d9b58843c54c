// test-labels: auth
// The single-flight refresh: who shares a refresh, and when a new one starts. The refresh
// itself is a controllable stand-in here, so the moments in between can be hit exactly.
#include "net/RefreshCoordinator.h"

#include <QCoroSignal>
#include <QtTest>

class Gate : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void opened();
};

class TestRefreshCoordinator : public QObject {
    Q_OBJECT

    Gate m_gate;
    Gate m_separateGate; // holds refresh number m_separateCall apart from the others
    int m_separateCall = 0;
    int m_calls = 0;
    std::optional<TokenResult> m_next; // what the refresh gives once the gate opens
    bool m_immediate = false;          // finish without waiting for the gate

    RefreshCoordinator::Refresh refresh()
    {
        return [this]() -> QCoro::Task<TokenResult> {
            const int call = ++m_calls;
            Gate *gate = call == m_separateCall ? &m_separateGate : &m_gate;
            if (!m_immediate)
                co_await qCoro(gate, &Gate::opened);
            co_return m_next.value_or(TokenResult(QStringLiteral("token-%1").arg(call)));
        };
    }

    static QCoro::Task<> collect(RefreshCoordinator &coordinator, QList<TokenResult> &results)
    {
        results.append(co_await coordinator.currentTask());
    }

    // Lets every refresh waiting at the gate finish (on the next turn of the event loop).
    void finishRefresh(TokenResult result)
    {
        m_next = std::move(result);
        Q_EMIT m_gate.opened();
    }

private Q_SLOTS:
    void init()
    {
        m_calls = 0;
        m_next.reset();
        m_immediate = false;
        m_separateCall = 0;
    }

    void concurrentCallersShareOneRefresh()
    {
        RefreshCoordinator coordinator(refresh());
        QList<TokenResult> results;
        for (int i = 0; i < 10; ++i)
            collect(coordinator, results);
        QCOMPARE(m_calls, 1);
        QVERIFY(results.isEmpty());

        finishRefresh(QStringLiteral("fresh"));
        QTRY_COMPARE(results.size(), 10);
        for (const TokenResult &r : std::as_const(results)) {
            QVERIFY(r.hasValue());
            QCOMPARE(r.value(), QStringLiteral("fresh"));
        }
        QCOMPARE(m_calls, 1);
    }

    void finishedRefreshIsSharedUntilItsClearingRan()
    {
        RefreshCoordinator coordinator(refresh());
        QList<TokenResult> first;
        QList<TokenResult> late;
        // A waiter that asks again as soon as it has its result: the clearing has not run yet.
        [](RefreshCoordinator &c, QList<TokenResult> &a, QList<TokenResult> &b) -> QCoro::Task<> {
            a.append(co_await c.currentTask());
            b.append(co_await c.currentTask());
        }(coordinator, first, late);

        finishRefresh(TokenFailure(AuthError::http(500, QStringLiteral("down"))));
        QTRY_COMPARE(first.size(), 1);
        QCOMPARE(late.size(), 1);
        QCOMPARE(late.at(0).error(), first.at(0).error());
        QCOMPARE(std::get<AuthError>(late.at(0).error()), AuthError::http(500, QStringLiteral("down")));
        QCOMPARE(m_calls, 1);

        // Once the clearing has run, the next caller starts a new refresh.
        QTRY_VERIFY(!coordinator.hasFlight());
        QList<TokenResult> next;
        collect(coordinator, next);
        QCOMPARE(m_calls, 2);
        finishRefresh(QStringLiteral("second"));
        QTRY_COMPARE(next.size(), 1);
        QCOMPARE(next.at(0).value(), QStringLiteral("second"));
    }

    void refreshThatFinishesAtOnceIsStillShared()
    {
        m_immediate = true;
        m_next = TokenFailure(AuthError::noRefreshToken());
        RefreshCoordinator coordinator(refresh());
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
        m_separateCall = 2;
        RefreshCoordinator coordinator(refresh());
        QList<TokenResult> results;
        collect(coordinator, results); // refresh 1
        coordinator.clear();
        collect(coordinator, results); // refresh 2, while 1 is still running
        QCOMPARE(m_calls, 2);

        // Refresh 1 finishes and its clearing runs: refresh 2 is still the one in flight.
        finishRefresh(QStringLiteral("one"));
        QTRY_COMPARE(results.size(), 1);
        QTest::qWait(10);
        QVERIFY(coordinator.hasFlight());
        collect(coordinator, results);
        QCOMPARE(m_calls, 2);

        Q_EMIT m_separateGate.opened();
        QTRY_COMPARE(results.size(), 3);
        QCOMPARE(results.at(1).value(), QStringLiteral("one")); // m_next is what both refreshes give
        QCOMPARE(results.at(2).value(), results.at(1).value());
        QTRY_VERIFY(!coordinator.hasFlight());
    }

    void sharedCoordinatorIsOneInstance()
    {
        QCOMPARE(&RefreshCoordinator::shared(), &RefreshCoordinator::shared());
    }
};

QTEST_GUILESS_MAIN(TestRefreshCoordinator)
#include "tst_refreshcoordinator.moc"
