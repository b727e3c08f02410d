#include "platform/thread/Handoff.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

namespace qv::thread {

namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class Waker : public QObject {
  public:
    Waker(QObject* parent, Handoff* owner) : QObject(parent), owner_(owner) {}
    bool event(QEvent* e) override {
        if (e->type() != kWakeEvent) return QObject::event(e);
        owner_->RunPending();
        return true;
    }

  private:
    Handoff* owner_;
};

}  // namespace

Handoff::Handoff(QObject* target) : waker_(new Waker(target, this)) {}

Handoff::~Handoff() {
    Close();
    delete waker_;
}

bool Handoff::OnOwnerThread() const {
    return QThread::currentThread() == waker_->thread();
}

bool Handoff::Enqueue(Item item) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->closed) return false;
        state_->items.push_back(std::move(item));
    }
    Wake();
    return true;
}

void Handoff::Wake() {
    QCoreApplication::postEvent(waker_, new QEvent(kWakeEvent));
}

void Handoff::Post(std::function<void()> fn) {
    Enqueue({std::move(fn), nullptr});
}

bool Handoff::Busy() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->busy > 0;
}

void Handoff::RunPending() {
    // Re-entrant: work that runs a local event loop lets later work through.
    for (;;) {
        Item item;
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            if (state_->items.empty()) return;
            item = std::move(state_->items.front());
            state_->items.pop_front();
        }
        item.run();
        if (item.done) {
            {
                std::lock_guard<std::mutex> lock(state_->mutex);
                *item.done = true;
            }
            state_->changed.notify_all();
        }
    }
}

void Handoff::Close() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->closed = true;
        state_->items.clear();
    }
    state_->changed.notify_all();
    for (std::thread& job : jobs_)
        if (job.joinable()) job.join();
    jobs_.clear();
}

}  // namespace qv::thread
