// The thread contract of the one hand-off: work runs on the owner thread in the order given,
// background results come back there, and closing releases every waiting caller.
#include "platform/thread/Handoff.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/TestSupport.h"

namespace {

class Handoff : public ::testing::Test {
  protected:
    QObject target_;
    qv::thread::Handoff h_{&target_};
    QThread* const owner_ = QThread::currentThread();
};

TEST_F(Handoff, CallsAndPostsRunOnTheOwnerThreadInOrder) {
    std::string order;  // owner thread only
    std::atomic<bool> finished{false};
    QThread* ranOn = nullptr;
    std::thread worker([&] {
        h_.Post([&] { order += "a"; });
        const int r = h_.Call([&] {
            ranOn = QThread::currentThread();
            return order += "b", 42;
        });
        h_.Post([&, r] { order += r == 42 ? "c" : "x"; });
        h_.Call([] {});
        finished = true;
    });
    qvtest::WaitFor([&] { return finished.load(); });
    worker.join();
    EXPECT_EQ(order, "abc");
    EXPECT_EQ(ranOn, owner_);
    EXPECT_EQ(h_.Call([] { return 7; }), 7);  // on the owner thread: at once
    // Background work runs elsewhere; its result comes back on the owner thread.
    std::thread::id workId;
    QThread* doneOn = nullptr;
    int got = 0;
    h_.RunInBackground([&] { return workId = std::this_thread::get_id(), 5; },
                       [&](int v) { doneOn = QThread::currentThread(), got = v; });
    qvtest::WaitFor([&] { return got != 0; });
    EXPECT_EQ(got, 5);
    EXPECT_EQ(doneOn, owner_);
    EXPECT_NE(workId, std::this_thread::get_id());
    EXPECT_FALSE(h_.Busy());
}

TEST_F(Handoff, CloseReleasesWaitingCallersAndDropsWork) {
    std::atomic<bool> queued{false};
    int result = -1;
    bool ran = false;
    std::thread worker([&] {
        queued = true;
        result = h_.Call([&] { return ran = true, 1; });
    });
    while (!queued) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it block in Call
    h_.Close();
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
    EXPECT_EQ(result, 0);
    h_.Post([&] { ran = true; });
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

}  // namespace
