#include "platform/thread/Handoff.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

using qv::thread::Handoff;

TEST(Handoff, CallRunsOnOwnerThreadAndPostKeepsOrder) {
    QObject target;
    Handoff h(&target);
    std::string order;  // owner thread only
    std::atomic<bool> finished{false};
    QThread* owner = QThread::currentThread();
    QThread* ranOn = nullptr;
    std::thread worker([&] {
        h.Post([&] { order += "a"; });
        int r = h.Call([&] {
            ranOn = QThread::currentThread();
            order += "b";
            return 42;
        });
        h.Post([&] { order += r == 42 ? "c" : "x"; });
        h.Call([] {});
        finished = true;
    });
    qvtest::WaitFor([&] { return finished.load(); });
    worker.join();
    EXPECT_EQ(order, "abc");
    EXPECT_EQ(ranOn, owner);
    EXPECT_EQ(h.Call([] { return 7; }), 7);  // on the owner thread: at once
}

TEST(Handoff, BackgroundResultComesBackOnOwnerThread) {
    QObject target;
    Handoff h(&target);
    QThread* owner = QThread::currentThread();
    std::thread::id workId;
    QThread* doneOn = nullptr;
    int got = 0;
    h.RunInBackground(
        [&] {
            workId = std::this_thread::get_id();
            return 5;
        },
        [&](int v) {
            doneOn = QThread::currentThread();
            got = v;
        });
    qvtest::WaitFor([&] { return got != 0; });
    EXPECT_EQ(doneOn, owner);
    EXPECT_NE(workId, std::this_thread::get_id());
    EXPECT_FALSE(h.Busy());
}

TEST(Handoff, CloseReleasesWaitingCallersAndDropsWork) {
    QObject target;
    Handoff h(&target);
    std::atomic<bool> queued{false};
    int result = -1;
    bool ran = false;
    std::thread worker([&] {
        queued = true;
        result = h.Call([&] {
            ran = true;
            return 1;
        });
    });
    while (!queued) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it block in Call
    h.Close();
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
    EXPECT_EQ(result, 0);
    h.Post([&] { ran = true; });
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

}  // namespace
