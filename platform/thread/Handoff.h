// The one way work crosses threads in the program: post to a QObject's thread, call on it and
// wait, or run in the background and get the result back on it.
//
// The hand-off itself goes through our own mutex and condition variable; Qt's event only wakes
// the receiving thread. Debian's Qt is not built for ThreadSanitizer, so a hand-off that relied
// on Qt's queue lock alone would look like a race to it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

class QObject;

namespace qv::thread {

// Work for the thread of one QObject (the owner thread, usually the window thread).
class Handoff {
  public:
    // Owner thread. `target` must outlive this object; its thread runs the work.
    explicit Handoff(QObject* target);
    // Owner thread. Closes the queue (see Close) and joins the background jobs.
    ~Handoff();
    Handoff(const Handoff&) = delete;
    Handoff& operator=(const Handoff&) = delete;

    // Thread-safe. Runs fn on the owner thread after everything posted before, and returns at
    // once. Work posted after Close is dropped.
    void Post(std::function<void()> fn);

    // Thread-safe. Runs f on the owner thread and waits for its result; on the owner thread it
    // runs f at once. Returns a value-initialised result when the queue closes before f ran.
    // The owner thread keeps running its event loop meanwhile, so f may open dialogs.
    template <typename F>
    auto Call(F&& f) -> std::invoke_result_t<F&>;

    // Owner thread. Runs work on a new background thread, then done(result) on the owner thread
    // (done(), for work that returns nothing). done is not run once the queue is closed.
    template <typename Work, typename Done>
    void RunInBackground(Work work, Done done);

    // Thread-safe. True while a background job started here has not finished its work.
    bool Busy() const;

    // Owner thread. Runs what is queued now (normally the wake-up event does it).
    void RunPending();

    // Owner thread. Drops queued work, releases callers waiting in Call, joins background jobs.
    void Close();

    // Thread-safe. True on the owner thread.
    bool OnOwnerThread() const;

  private:
    struct Item {
        std::function<void()> run;
        bool* done = nullptr;  // set under the lock once run has returned (Call only)
    };
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<Item> items;
        bool closed = false;
        int busy = 0;
    };

    bool Enqueue(Item item);  // false when closed
    void Wake();

    std::shared_ptr<State> state_ = std::make_shared<State>();
    QObject* waker_ = nullptr;  // a child of the target that receives the wake-up event
    std::vector<std::thread> jobs_;
};

template <typename F>
auto Handoff::Call(F&& f) -> std::invoke_result_t<F&> {
    using R = std::invoke_result_t<F&>;
    if (OnOwnerThread()) return f();
    bool done = false;
    if constexpr (std::is_void_v<R>) {
        if (!Enqueue({[&f] { f(); }, &done})) return;
    } else {
        std::optional<R> result;
        if (!Enqueue({[&f, &result] { result.emplace(f()); }, &done})) return R{};
        std::unique_lock<std::mutex> lock(state_->mutex);
        state_->changed.wait(lock, [&] { return done || state_->closed; });
        return done && result ? std::move(*result) : R{};
    }
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->changed.wait(lock, [&] { return done || state_->closed; });
}

template <typename Work, typename Done>
void Handoff::RunInBackground(Work work, Done done) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->closed) return;
        ++state_->busy;
    }
    jobs_.emplace_back(
        [this, state = state_, work = std::move(work), done = std::move(done)]() mutable {
            std::function<void()> finish;
            if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
                work();
                finish = [done = std::move(done)]() mutable { done(); };
            } else {
                finish = [done = std::move(done), r = work()]() mutable { done(std::move(r)); };
            }
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                --state->busy;
            }
            Post(std::move(finish));
        });
}

}  // namespace qv::thread
