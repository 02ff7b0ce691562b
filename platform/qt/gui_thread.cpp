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

CPostedCalls::CPostedCalls(QObject* parent) : QObject(parent) {}

void CPostedCalls::Post(std::function<void()> call) {
    bool bWake = false;
    {
        std::lock_guard lock(m_mutex);
        bWake = m_pending.empty();
        m_pending.push_back(std::move(call));
    }
    // One wake-up per batch; invoked by name so that Qt allocates the event
    // itself.
    if (bWake)
        QMetaObject::invokeMethod(this, "RunPending", Qt::QueuedConnection);
}

void CPostedCalls::RunPending() {
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard lock(m_mutex);
        calls.swap(m_pending);
    }
    for (auto& call : calls) call();
}

CPostedMessages::CPostedMessages(Handler handler, QObject* parent)
    : QObject(parent), m_pTimer(new QTimer(this)), m_handler(std::move(handler)) {
    m_pTimer->setSingleShot(true);
    m_pTimer->setInterval(kBatchMs);
    connect(m_pTimer, &QTimer::timeout, this, &CPostedMessages::HandlePending);
}

void CPostedMessages::ScheduleHandling() {
    if (!m_pTimer->isActive())
        m_pTimer->start();
}

void CPostedMessages::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    bool bWake = false;
    {
        std::lock_guard lock(m_mutex);
        bWake = m_pending.empty();
        m_pending.push_back({message, wParam, lParam});
    }
    if (bWake)
        QMetaObject::invokeMethod(this, "ScheduleHandling", Qt::QueuedConnection);
}

void CPostedMessages::HandlePending() {
    // A handler may run a nested event loop that comes back here, so each
    // call works on a batch of its own.
    std::vector<Message> batch;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_pending);
    }
    for (const Message& m : batch) m_handler(m.message, m.wParam, m.lParam);
}
