// Takes a picture of the dialog after a finished conversion of a workbook:
// the workbook chooser is answered with it, the conversion
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
    if (argc != 3) {
        std::fputs("usage: dialog_screenshot WORKBOOK.xls PICTURE.png\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    AfxInstallQtMessageBox();
    const CString sample = CString::FromUtf8(argv[1]);
    SetFileChooserHook([&](const FileChooserRequest&) { return std::optional<CString>(sample); });
    int status = 1;
    {
        CTabrookDlg dlg;
        dlg.Create();
        dlg.OnBrowseExcelFile();  // derives the output path beside the workbook
        std::filesystem::remove(dlg.m_strTextFile.ToUtf8());
        dlg.OnStartConversion();
        QElapsedTimer clock;
        clock.start();
        while (!(dlg.m_pThread && dlg.m_pThread->HasEnded()) && clock.elapsed() < 20000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        // Let the window system draw the final state, then take the screen's
        // pixels where the window is.
        QTimer::singleShot(700, &app, [&] {
            QWidget* window = dlg.GetQDialog();
            const QRect area = window->frameGeometry();
            const QPixmap picture =
                window->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
            status = picture.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
            QApplication::quit();
        });
        QApplication::exec();
        dlg.EndDialog(IDCANCEL);
    }
    AfxTermThreads();
    return status;
}
