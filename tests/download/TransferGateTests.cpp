// Sharing the transfers to the server: never more at once than allowed, the waiting ones
// in the order of their tiles, nothing handed out once the run is being stopped, and
// nothing before a busy server's time has passed.
#include "download/TransferGate.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Owner {
    int id;
};

TEST(TransferGate, GrantsInPriorityOrderAndNeverMoreThanAllowed) {
    TransferGate gate(2);
    std::vector<int> started;
    Owner owners[6]{{0}, {1}, {2}, {3}, {4}, {5}};
    // Asked for out of order: 5 and 3 first, then 0, 4, 1, 2.
    for (const int id : {5, 3, 0, 4, 1, 2}) {
        gate.acquire(&owners[id], id, [&started, id] { started.push_back(id); });
        EXPECT_LE(gate.inUse(), 2);
    }
    EXPECT_EQ(started, (std::vector<int>{5, 3})); // free at once when asked
    gate.release(&owners[3]);
    EXPECT_EQ(started.back(), 0);
    gate.release(&owners[5]);
    EXPECT_EQ(started.back(), 1);
    // Giving back what one does not hold changes nothing.
    gate.release(&owners[4]);
    EXPECT_EQ(gate.inUse(), 2);
    gate.withdraw(&owners[2]);
    gate.release(&owners[0]);
    EXPECT_EQ(started, (std::vector<int>{5, 3, 0, 1, 4}));
    EXPECT_EQ(gate.inUse(), 2);
}

TEST(TransferGate, AClosedGateHandsNothingOut) {
    TransferGate gate(1);
    Owner a{0};
    Owner b{1};
    int started = 0;
    gate.acquire(&a, 0, [&started] { ++started; });
    gate.acquire(&b, 1, [&started] { ++started; });
    gate.close();
    gate.release(&a);
    gate.acquire(&a, 0, [&started] { ++started; });
    EXPECT_EQ(started, 1);
    EXPECT_EQ(gate.inUse(), 0);
}

// A start that gives its transfer back at once (a fetch whose manager is gone) lets the
// next one through, within the same call.
TEST(TransferGate, AStartMayGiveItsTransferBackAtOnce) {
    TransferGate gate(1);
    Owner a{0};
    Owner b{1};
    Owner c{2};
    std::vector<int> started;
    gate.acquire(&a, 0, [&] { started.push_back(0); });
    gate.acquire(&b, 1, [&] {
        started.push_back(1);
        gate.release(&b);
    });
    gate.acquire(&c, 2, [&] { started.push_back(2); });
    gate.release(&a);
    EXPECT_EQ(started, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(gate.inUse(), 1);
}

// A pause holds back every new transfer, free ones too, until its time has passed; what is
// in flight goes on, and a shorter pause asked for meanwhile does not cut it short.
TEST(TransferGate, APauseHoldsEveryNewTransferUntilItsTime) {
    TransferGate gate(3);
    Owner inFlight{0};
    Owner a{1};
    Owner b{2};
    std::vector<int> started;
    gate.acquire(&inFlight, 0, [&] { started.push_back(0); });
    QElapsedTimer clock;
    clock.start();
    gate.pauseUntil(QDeadlineTimer(300, Qt::PreciseTimer));
    gate.pauseUntil(QDeadlineTimer(10, Qt::PreciseTimer));
    EXPECT_TRUE(gate.isPaused());
    qint64 startedAt = -1;
    gate.acquire(&a, 1, [&] {
        started.push_back(1);
        startedAt = clock.elapsed();
    });
    gate.acquire(&b, 2, [&] { started.push_back(2); });
    gate.release(&inFlight); // a transfer given back during the pause stays free
    EXPECT_EQ(started, std::vector<int>{0});
    gate.withdraw(&b);
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.size() == 2; }, 5000));
    EXPECT_GE(startedAt, 300);
    EXPECT_EQ(started, (std::vector<int>{0, 1}));
    EXPECT_FALSE(gate.isPaused());
    EXPECT_EQ(gate.inUse(), 1);
}

} // namespace
