// Takes a picture of the dialog after a finished conversion of the bundled
// sample: the workbook chooser is answered with the sample, the conversion
// runs through unixODBC and the project's driver, and the window is grabbed
// from the screen (run it under an X server; tools/screenshot.sh does).
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <filesystem>

#include "platform/qt/choosers.h"
#include "ui/resource.h"
#include "ui/tabrook_dlg.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: dialog_screenshot SAMPLE.xls OUTPUT.csv PICTURE.png\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    AfxInstallQtMessageBox();
    std::filesystem::remove(argv[2]);
    const CString sample = CString::FromUtf8(argv[1]);
    SetFileChooserHook([&](const FileChooserRequest&) { return std::optional<CString>(sample); });
    int status = 1;
    {
        CTabrookDlg dlg;
        dlg.Create();
        dlg.OnBrowseExcelFile();
        dlg.m_strTextFile = CString::FromUtf8(argv[2]);
        dlg.UpdateData(FALSE);
        dlg.OnStartConversion();
        QElapsedTimer clock;
        clock.start();
        while (!(dlg.m_pThread && dlg.m_pThread->HasEnded()) && clock.elapsed() < 20000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        // Let the window system draw the final state.
        QTimer::singleShot(500, &app, &QApplication::quit);
        QApplication::exec();
        const QPixmap picture = dlg.GetQDialog()->screen()->grabWindow(dlg.GetQDialog()->winId());
        status = picture.save(QString::fromLocal8Bit(argv[3])) ? 0 : 1;
        dlg.EndDialog(IDCANCEL);
    }
    AfxTermThreads();
    return status;
}
