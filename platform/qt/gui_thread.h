// Calls from worker threads into the GUI thread. Widgets are touched only on
// the GUI thread: a worker's request runs there while the worker waits
// (RunOnGuiThread), and a window's posted messages queue up for it
// (CPostedCalls). Both hand their work over under a std::mutex, so that
// thread checkers see every hand-over; Qt only wakes the GUI thread.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <mutex>
#include <vector>

#include "platform/window.h"

// Runs fn on the GUI thread and returns when it has run; at once when the
// caller is the GUI thread. An exception thrown by fn reaches the caller.
// The GUI thread must keep processing events meanwhile (it never waits for a
// worker without doing so).
void RunOnGuiThread(const std::function<void()>& fn);
// TRUE on the thread that runs the application's event loop.
bool IsGuiThread();

// A window's posted messages: queued by any thread without waiting, handled
// in order on the thread of the queue's QObject owner, one by one (never
// merged). The owner's thread takes them in batches, at most kBatchMs after
// the first of a batch was posted: a worker posting thousands of messages a
// second then wakes it a hundred times a second rather than for every few
// messages. Destroying the queue drops messages not yet handled.
class CPostedMessages : public QObject {
    Q_OBJECT
public:
    static constexpr int kBatchMs = 10;
    using Handler = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;
    CPostedMessages(Handler handler, QObject* parent);
    void Post(UINT message, WPARAM wParam, LPARAM lParam);

public slots:
    void ScheduleHandling();
    void HandlePending();

private:
    QTimer* m_pTimer;
    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    Handler m_handler;
    std::mutex m_mutex;
    std::vector<Message> m_pending;
};

// A queue of calls that run, in order, on the thread of its QObject's
// owner; posting never waits. Destroying the queue drops calls not yet run.
class CPostedCalls : public QObject {
    Q_OBJECT
public:
    explicit CPostedCalls(QObject* parent = nullptr);
    void Post(std::function<void()> call);

public slots:
    void RunPending();

private:
    std::mutex m_mutex;
    std::vector<std::function<void()>> m_pending;
};
