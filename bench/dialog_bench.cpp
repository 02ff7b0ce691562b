// The dialog's conversion against the batch conversion of the same sheet:
// wall time of each (median of the runs), and how often the dialog's record
// counter changes during the dialog run (the longest pause between two
// shown numbers). The dialog shows every record's progress message.
//
//   dialog_bench [WORKBOOK [SHEET [RUNS]]]   default: bench/cache/wide.xls wide$ 5
//
// Runs on the platform QT_QPA_PLATFORM names (offscreen when unset); the
// driver comes from the build tree's registration (ODBCSYSINI).
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/convert_file_obj.h"
#include "platform/qt/choosers.h"
#include "ui/resource.h"
#include "ui/tabrook_dlg.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// CPU time of the whole process (every thread), in milliseconds.
double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Notes when each progress message is shown.
class TimedDlg : public CTabrookDlg {
public:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        const LRESULT result = CTabrookDlg::WindowProc(message, wParam, lParam);
        if (message == WM_CONVERT_PROGRESS) {
            const Clock::time_point now = Clock::now();
            if (m_nShown > 0)
                m_maxGap = std::max(m_maxGap, now - m_last);
            m_last = now;
            ++m_nShown;
        }
        return result;
    }
    ~TimedDlg() override { WaitForWorkers(); }

    int m_nShown = 0;
    Clock::time_point m_last;
    Clock::duration m_maxGap{};
};

double BatchRun(const CString& workbook, const CString& sheet, const CString& out) {
    const Clock::time_point start = Clock::now();
    CConvertFileObj job(workbook, out, u"Velkor Excel Driver (*.xls)", sheet, u"UTF-8", u",",
                        u"Unix", out + u".log", true, true);
    RunConversion(job, nullptr);
    return Ms(Clock::now() - start);
}

double DialogRun(const CString& workbook, const CString& sheet, const CString& out,
                 double& maxGapMs, int& shown) {
    SetFileChooserHook([&](const FileChooserRequest&) { return std::optional<CString>(workbook); });
    TimedDlg dlg;
    dlg.Create();
    dlg.OnBrowseExcelFile();
    dlg.m_cbWorksheet.SetWindowTextW(sheet);
    dlg.m_cbFileFormat.SetCurSel(1);  // Unix
    dlg.m_cbDelimiter.SetWindowTextW(u",");
    dlg.m_strTextFile = out;
    dlg.UpdateData(FALSE);
    std::filesystem::remove(out.ToUtf8());
    const Clock::time_point start = Clock::now();
    dlg.OnStartConversion();
    // The event loop sleeps until something happens, as the dialog's own
    // modal loop does; a timer looks for the end of the run.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (dlg.m_pThread->HasEnded() && dlg.GetDlgItem(IDC_CONVERT)->IsWindowEnabled())
            loop.quit();
    });
    poll.start(2);
    loop.exec();
    QApplication::processEvents();  // the last numbers
    const double ms = Ms(Clock::now() - start);
    maxGapMs = Ms(dlg.m_maxGap);
    shown = dlg.m_nShown;
    SetFileChooserHook({});
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string bench = TABROOK_BENCH_DIR;
    const CString workbook = CString::FromUtf8(argc > 1 ? argv[1] : bench + "/cache/wide.xls");
    const CString sheet = CString::FromUtf8(argc > 2 ? argv[2] : "wide$");
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    if (!std::filesystem::exists(workbook.ToUtf8())) {
        std::fprintf(stderr, "%s is missing: /usr/bin/python3 bench/make_workbooks.py writes it\n",
                     workbook.ToUtf8().c_str());
        return 2;
    }
    const CString dir = CString::FromUtf8(std::filesystem::temp_directory_path().string());
    std::vector<double> batch;
    std::vector<double> dialog;
    std::vector<double> gaps;
    std::vector<double> batchCpu;
    std::vector<double> dialogCpu;
    int shown = 0;
    for (int i = 0; i < runs; ++i) {
        double cpu = ProcessCpuMs();
        batch.push_back(BatchRun(workbook, sheet, dir + u"/dialog-bench-batch.csv"));
        batchCpu.push_back(ProcessCpuMs() - cpu);
        double gap = 0;
        cpu = ProcessCpuMs();
        dialog.push_back(DialogRun(workbook, sheet, dir + u"/dialog-bench-dialog.csv", gap, shown));
        dialogCpu.push_back(ProcessCpuMs() - cpu);
        gaps.push_back(gap);
    }
    const double b = Median(batch);
    const double d = Median(dialog);
    std::printf("%s %s, %d runs (medians)\n", workbook.ToUtf8().c_str(), sheet.ToUtf8().c_str(),
                runs);
    std::printf("batch conversion   %8.1f ms wall, %8.1f ms CPU\n", b, Median(batchCpu));
    std::printf("dialog conversion  %8.1f ms wall, %8.1f ms CPU (worker and dialog together)\n", d,
                Median(dialogCpu));
    std::printf("dialog / batch: %.2f x wall, %.2f x CPU; %d progress messages shown\n", d / b,
                Median(dialogCpu) / Median(batchCpu), shown);
    std::printf("longest pause of the record counter: %.1f ms (median), %.1f ms (worst)\n",
                Median(gaps), *std::max_element(gaps.begin(), gaps.end()));
    AfxTermThreads();
    return 0;
}
