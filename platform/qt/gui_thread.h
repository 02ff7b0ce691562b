// Calls from worker threads into the GUI thread. Widgets are touched only on
// the GUI thread: a worker's request runs there while the worker waits
// (RunOnGuiThread), and a window's posted messages wait in the window's own
// queue (CPostedCalls). Both go through CPostedCalls, which hands its calls
// over under a std::mutex, so that thread checkers see every hand-over; Qt
// only wakes the GUI thread.
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

// Calls queued by any thread without waiting and run in order, one by one,
// on the thread of the queue's QObject owner. With a batch time the owner
// takes them in batches, at most that long after the first of a batch was
// posted: a worker posting thousands of messages a second then wakes it a
// hundred times a second rather than for every few. A poster is done with
// the queue before its call can run, so whoever runs a thread's last call
// may destroy the queue; destroying it drops the calls not yet run.
class CPostedCalls : public QObject {
    Q_OBJECT
public:
    // The batch time of a window's posted messages.
    static constexpr int kBatchMs = 10;
    explicit CPostedCalls(int nBatchMs = 0, QObject* parent = nullptr);
    void Post(std::function<void()> call);

private slots:
    void Wake();
    void RunPending();

private:
    QTimer* m_pTimer = nullptr;  // with a batch time only
    std::mutex m_mutex;
    std::vector<std::function<void()>> m_pending;
};
