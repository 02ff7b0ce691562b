// CConvertThread: runs one conversion started from the dialog on a thread of
// its own. It reads the run's settings from the dialog, builds the job and
// runs it (the job posts one progress message per record to the dialog).
// The dialog learns of the run's end from the thread's ended notification
// (m_pfnEnded), which comes after the run's last progress message.
#pragma once

#include <memory>
#include <mutex>

#include "convert/convert_file_obj.h"
#include "platform/thread.h"

// The dialog as its worker sees it. The dialog implements it; the engine
// therefore needs no GUI.
class CConvertDialog {
public:
    virtual ~CConvertDialog() = default;
    // A dialog run's settings as the dialog holds them when the run starts
    // (no error log, not a batch run). Called on the worker's thread; the
    // dialog reads them on its own thread while the worker waits.
    virtual CConvertSettings ReadSettings() = 0;
    // The window that takes the progress messages.
    virtual CWnd* GetNotifyWnd() = 0;
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
    // The run started before this one, by the same dialog. Two rules keep
    // two runs out of one output file. The job's lock on its output refuses
    // a file that another conversion is writing: that is all that runs of
    // separate processes can do. Runs of one dialog take turns instead,
    // because Stop gives Convert back while the stopped run still writes its
    // last chunk, and the next run must not fail for that: this run writes
    // nothing until the previous one has ended.
    CWinThread* m_pPrevious = nullptr;

private:
    // The one lock between the dialog and the worker: it keeps RequestStop
    // away from the job's construction and deletion, and holds a stop that
    // came before the job existed (the job itself can only be built once
    // the settings have been read, on the worker's thread).
    std::mutex m_jobMutex;
    std::unique_ptr<CConvertFileObj> m_pJob;
    bool m_bStopRequested = false;
};
