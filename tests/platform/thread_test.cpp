// Thread objects: a thread created suspended runs only once resumed and then
// says that it has ended; one never resumed still ends (without running, or
// saying so) when threads are ended.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "platform/thread.h"

namespace {

std::atomic<int> g_runs{0};

class CCountingThread : public CWinThread {
    DECLARE_DYNCREATE(CCountingThread)

public:
    ~CCountingThread() override { Join(); }
    BOOL InitInstance() override {
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
    std::promise<bool> ended;
    pThread->m_pfnEnded = [&] { ended.set_value(pThread->HasEnded()); };
    EXPECT_EQ(ResumeThread(pThread->m_hThread), 1u);
    EXPECT_TRUE(ended.get_future().get());  // called once the thread has ended
    EXPECT_EQ(g_runs, 1);
    EXPECT_EQ(ResumeThread(pThread->m_hThread), 0u);
    EXPECT_EQ(ResumeThread(&g_runs), 0xFFFFFFFFu);  // not a thread's handle

    // Never resumed: ending the threads neither waits forever nor runs it.
    CWinThread* pIdle =
        AfxBeginThread(RUNTIME_CLASS(CCountingThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(pIdle, nullptr);
    bool bIdleEnded = false;
    pIdle->m_pfnEnded = [&] { bIdleEnded = true; };
    AfxTermThreads();
    EXPECT_EQ(g_runs, 1);
    EXPECT_FALSE(bIdleEnded);
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
