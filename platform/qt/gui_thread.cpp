// The GUI thread's call queues.
#include "platform/qt/gui_thread.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <exception>

namespace {

// A blocking request: the caller waits on done until the GUI thread has run
// the call.
struct BlockingCall {
    const std::function<void()>* pFn = nullptr;
    std::exception_ptr error;
    bool bDone = false;
    std::mutex mutex;
    std::condition_variable done;
};

CPostedCalls& GuiQueue() {
    // Created on first use and moved to the GUI thread, so its calls run
    // there whichever thread asked first.
    static CPostedCalls* pQueue = [] {
        auto* p = new CPostedCalls;  // lives as long as the process
        p->moveToThread(QCoreApplication::instance()->thread());
        return p;
    }();
    return *pQueue;
}

}  // namespace

bool IsGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void RunOnGuiThread(const std::function<void()>& fn) {
    if (IsGuiThread()) {
        fn();
        return;
    }
    BlockingCall call;
    call.pFn = &fn;
    GuiQueue().Post([&call] {
        try {
            (*call.pFn)();
        } catch (...) {
            call.error = std::current_exception();
        }
        std::lock_guard lock(call.mutex);
        call.bDone = true;
        call.done.notify_all();
    });
    std::unique_lock lock(call.mutex);
    call.done.wait(lock, [&call] { return call.bDone; });
    if (call.error)
        std::rethrow_exception(call.error);
}

CPostedCalls::CPostedCalls(int nBatchMs, QObject* parent) : QObject(parent) {
    if (nBatchMs <= 0)
        return;
    m_pTimer = new QTimer(this);
    m_pTimer->setSingleShot(true);
    m_pTimer->setInterval(nBatchMs);
    connect(m_pTimer, &QTimer::timeout, this, &CPostedCalls::RunPending);
}

void CPostedCalls::Post(std::function<void()> call) {
    // One wake-up per batch, asked for under the lock: the owner cannot take
    // the call before the poster has left the queue. Invoked by name so
    // that Qt allocates the event itself.
    std::lock_guard lock(m_mutex);
    m_pending.push_back(std::move(call));
    if (m_pending.size() == 1)
        QMetaObject::invokeMethod(this, "Wake", Qt::QueuedConnection);
}

void CPostedCalls::Wake() {
    if (!m_pTimer)
        RunPending();
    else if (!m_pTimer->isActive())
        m_pTimer->start();
}

void CPostedCalls::RunPending() {
    // A call may run a nested event loop that comes back here, so each pass
    // works on a batch of its own.
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard lock(m_mutex);
        calls.swap(m_pending);
    }
    for (auto& call : calls) call();
}
