// CStopOnSignal: while it exists, SIGINT and SIGTERM ask a conversion job to
// stop at its next record, as the dialog's Stop button does, instead of
// ending the process in the middle of a write.
#pragma once

#include <thread>

class CConvertFileObj;

class CStopOnSignal {
public:
    // Installs the handlers. The first signal of either kind stops the job;
    // the handlers are then the default ones again, so a second signal ends
    // the process at once.
    explicit CStopOnSignal(CConvertFileObj& job);
    CStopOnSignal(const CStopOnSignal&) = delete;
    CStopOnSignal& operator=(const CStopOnSignal&) = delete;
    // Restores the previous handlers and ends the watching thread.
    ~CStopOnSignal();

private:
    int m_pipe[2] = {-1, -1};
    std::thread m_watcher;
};
