// Thread objects on std::thread, owned by a process-wide registry.
#include "platform/thread.h"

#include <memory>
#include <system_error>
#include <vector>

namespace {

struct ThreadRegistry {
    std::mutex mutex;
    std::vector<std::unique_ptr<CWinThread>> threads;
    bool bCreationFails = false;
};

ThreadRegistry& Registry() {
    static ThreadRegistry registry;
    return registry;
}

}  // namespace

const CRuntimeClass CWinThread::classCWinThread{"CWinThread", nullptr};

const CRuntimeClass* CWinThread::GetRuntimeClass() const {
    return &classCWinThread;
}

CWinThread::~CWinThread() {
    Join();
}

void CWinThread::Join() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_bAbandoned = !m_bResumed;
        m_bResumed = true;
        m_changed.notify_all();
    }
    m_thread.join();
}

bool CWinThread::HasEnded() const {
    std::lock_guard lock(m_mutex);
    return m_bEnded;
}

void CWinThread::WaitForEnd() const {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_bEnded; });
}

void CWinThread::Start(bool bSuspended) {
    m_bResumed = !bSuspended;
    m_bEnded = false;
    m_hThread = this;
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        m_bEnded = true;
        throw;
    }
}

void CWinThread::Run() {
    bool bRuns = false;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_bResumed; });
        bRuns = !m_bAbandoned;
    }
    if (bRuns)
        InitInstance();
    {
        std::lock_guard lock(m_mutex);
        m_bEnded = true;
        m_changed.notify_all();
    }
    if (bRuns && m_pfnEnded)
        m_pfnEnded();
}

CWinThread* AfxBeginThread(const CRuntimeClass* pThreadClass, int /*nPriority*/,
                           UINT /*nStackSize*/, DWORD dwCreateFlags, void* /*lpSecurityAttrs*/) {
    ThreadRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    if (registry.bCreationFails)
        return nullptr;
    if (!pThreadClass->m_pfnCreateObject ||
        !pThreadClass->IsDerivedFrom(&CWinThread::classCWinThread))
        return nullptr;
    std::unique_ptr<CWinThread> pThread(
        static_cast<CWinThread*>(pThreadClass->m_pfnCreateObject()));
    try {
        pThread->Start((dwCreateFlags & CREATE_SUSPENDED) != 0);
    } catch (const std::system_error&) {
        return nullptr;
    }
    registry.threads.push_back(std::move(pThread));
    return registry.threads.back().get();
}

DWORD ResumeThread(HANDLE hThread) {
    ThreadRegistry& registry = Registry();
    CWinThread* pThread = nullptr;
    {
        std::lock_guard lock(registry.mutex);
        for (const auto& p : registry.threads) {
            if (p->m_hThread == hThread)
                pThread = p.get();
        }
    }
    if (!pThread)
        return 0xFFFFFFFF;
    std::lock_guard lock(pThread->m_mutex);
    const DWORD previous = pThread->m_bResumed ? 0 : 1;
    pThread->m_bResumed = true;
    pThread->m_changed.notify_all();
    return previous;
}

void AfxTermThreads() {
    std::vector<std::unique_ptr<CWinThread>> threads;
    {
        std::lock_guard lock(Registry().mutex);
        threads.swap(Registry().threads);
    }
    threads.clear();  // each destructor waits for its thread
}

void AfxSetThreadCreationFails(bool bFails) {
    std::lock_guard lock(Registry().mutex);
    Registry().bCreationFails = bFails;
}
