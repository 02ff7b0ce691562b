// Thread objects: a thread created suspended runs only once resumed, and
// one never resumed still ends (without running) when threads are ended.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/thread.h"

namespace {

std::atomic<int> g_runs{0};

class CCountingThread : public CWinThread {
    DECLARE_DYNCREATE(CCountingThread)

public:
    ~CCountingThread() override { Join(); }
    BOOL InitInstance() override {
        EXPECT_EQ(CWinThread::GetCurrent(), this);
        ++g_runs;
        return TRUE;
    }
};

IMPLEMENT_DYNCREATE(CCountingThread, CWinThread)

TEST(Thread, SuspendedThreadsRunOnlyWhenResumed) {
    g_runs = 0;
    CWinThread* pThread =
        AfxBeginThread(RUNTIME_CLASS(CCountingThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(pThread, nullptr);
    EXPECT_FALSE(pThread->HasEnded());
    EXPECT_EQ(g_runs, 0);
    EXPECT_EQ(ResumeThread(pThread->m_hThread), 1u);
    pThread->WaitForEnd();
    EXPECT_EQ(g_runs, 1);
    EXPECT_EQ(ResumeThread(pThread->m_hThread), 0u);
    EXPECT_EQ(ResumeThread(&g_runs), 0xFFFFFFFFu);  // not a thread's handle
    EXPECT_EQ(CWinThread::GetCurrent(), nullptr);

    // Never resumed: ending the threads neither waits forever nor runs it.
    ASSERT_NE(
        AfxBeginThread(RUNTIME_CLASS(CCountingThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED),
        nullptr);
    AfxTermThreads();
    EXPECT_EQ(g_runs, 1);
}

TEST(Thread, CreationFailureGivesNull) {
    AfxSetThreadCreationFails(true);
    EXPECT_EQ(AfxBeginThread(RUNTIME_CLASS(CCountingThread)), nullptr);
    AfxSetThreadCreationFails(false);
    CWinThread* pThread = AfxBeginThread(RUNTIME_CLASS(CCountingThread));
    ASSERT_NE(pThread, nullptr);
    pThread->WaitForEnd();
    AfxTermThreads();
}

}  // namespace
