// CConvertThread: runs one conversion started from the dialog on a thread of
// its own. It reads the run's settings from the dialog, builds the job, runs
// it (the job posts one progress message per record to the dialog) and makes
// the dialog's end-of-run call.
#pragma once

#include <memory>
#include <mutex>

#include "convert/convert_file_obj.h"
#include "platform/thread.h"

// The dialog as its worker sees it. The dialog implements it; the engine
// therefore needs no GUI. Both calls may come from the worker's thread: the
// dialog carries them out on its own thread while the worker waits.
class CConvertDialog {
public:
    virtual ~CConvertDialog() = default;
    // A dialog run's settings as the dialog holds them when the run starts
    // (no error log, not a batch run).
    virtual CConvertSettings ReadSettings() = 0;
    // The window that takes the progress messages.
    virtual CWnd* GetNotifyWnd() = 0;
    // The end of a run (also the Stop button's handler).
    virtual void OnStopConversion() = 0;
};

class CConvertThread : public CWinThread {
    DECLARE_DYNCREATE(CConvertThread)

public:
    CConvertThread() = default;
    ~CConvertThread() override;

    BOOL InitInstance() override;
    // Asks the job to stop at its next record; a request that comes before
    // the job exists stops it as soon as it is built. Safe from any thread;
    // never touches a job that is being deleted.
    void RequestStop();

    // Set by the dialog before the thread is resumed.
    CConvertDialog* m_pDlg = nullptr;
    // The run started before this one: this run writes nothing until it has
    // ended, so two runs never write one output file at the same time.
    CWinThread* m_pPrevious = nullptr;

private:
    std::mutex m_jobMutex;  // guards the two below between the worker and RequestStop
    std::unique_ptr<CConvertFileObj> m_pJob;
    bool m_bStopRequested = false;  // a stop that came before the job existed
};
