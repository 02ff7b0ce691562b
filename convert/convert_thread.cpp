// The worker of a dialog run.
#include "convert/convert_thread.h"

IMPLEMENT_DYNCREATE(CConvertThread, CWinThread)

CConvertThread::~CConvertThread() {
    Join();
}

BOOL CConvertThread::InitInstance() {
    auto pJob = std::make_unique<CConvertFileObj>(m_pDlg->ReadSettings());
    CConvertFileObj* pRun = pJob.get();
    {
        std::lock_guard lock(m_jobMutex);
        if (m_bStopRequested)
            pJob->SetStop(TRUE);
        m_pJob = std::move(pJob);
    }
    if (m_pPrevious)
        m_pPrevious->WaitForEnd();
    RunConversion(*pRun, m_pDlg->GetNotifyWnd());
    std::lock_guard lock(m_jobMutex);
    m_pJob.reset();
    return TRUE;
}

void CConvertThread::RequestStop() {
    std::lock_guard lock(m_jobMutex);
    m_bStopRequested = true;
    if (m_pJob)
        m_pJob->SetStop(TRUE);
}
