// CWinThread and AfxBeginThread: a thread object created from its run-time
// class, started suspended or at once, whose InitInstance runs on a thread
// of its own. The framework owns every thread object it creates: objects
// stay valid until the process ends (or AfxTermThreads), so a pointer kept
// by whoever started a thread never dangles. A thread whose InitInstance
// has returned simply ends (it never runs a message loop), and says so
// through m_pfnEnded.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/runtime_class.h"
#include "platform/types.h"

inline constexpr DWORD CREATE_SUSPENDED = 0x00000004;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;

class CWinThread {
public:
    CWinThread() = default;
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;
    // Waits for the thread to end.
    virtual ~CWinThread();

    static const CRuntimeClass classCWinThread;
    [[nodiscard]] virtual const CRuntimeClass* GetRuntimeClass() const;
    // The thread's work, on the new thread.
    virtual BOOL InitInstance() = 0;

    // TRUE once InitInstance has returned (or the thread never started).
    [[nodiscard]] bool HasEnded() const;
    // Blocks until InitInstance has returned. Never call it from a thread
    // that the running thread may be waiting for.
    void WaitForEnd() const;

    // Identifies the thread to ResumeThread.
    HANDLE m_hThread = nullptr;
    // The thread's last act once InitInstance has returned, on the thread
    // itself, with HasEnded already TRUE: whoever starts a thread suspended
    // sets it before resuming it, to learn of the end without waiting for
    // it. Not called for a thread that never ran.
    std::function<void()> m_pfnEnded;

protected:
    // Waits for the thread to end; a thread never resumed ends without
    // running InitInstance. A derived class calls it first in its
    // destructor, while its own members still exist.
    void Join();

private:
    friend CWinThread* AfxBeginThread(const CRuntimeClass*, int, UINT, DWORD, void*);
    friend DWORD ResumeThread(HANDLE hThread);
    void Start(bool bSuspended);
    void Run();

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_bResumed = false;
    bool m_bAbandoned = false;  // ended before it was ever resumed
    bool m_bEnded = true;
    std::thread m_thread;
};

// Creates a thread object from its run-time class and starts its thread,
// suspended with CREATE_SUSPENDED. Priority, stack size and security
// attributes are accepted as given and left to the system's defaults. Null
// when the thread cannot be created (the object is then deleted).
CWinThread* AfxBeginThread(const CRuntimeClass* pThreadClass,
                           int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                           DWORD dwCreateFlags = 0, void* lpSecurityAttrs = nullptr);
// Lets a thread created suspended run. Returns the previous suspend count
// (1 for a suspended thread, 0 otherwise), or 0xFFFFFFFF for an unknown
// handle.
DWORD ResumeThread(HANDLE hThread);
// Waits for every thread that AfxBeginThread started and deletes their
// objects (the end of the run that started them).
void AfxTermThreads();

// Fault injection for tests: while set, AfxBeginThread fails as it does
// when the system refuses a new thread.
void AfxSetThreadCreationFails(bool bFails);
