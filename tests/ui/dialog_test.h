// Shared pieces of the dialog tests: a dialog that records its progress
// messages and can hold its worker at a chosen record, scripted choosers and
// message boxes, and waiting while the event loop runs.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/qt/choosers.h"
#include "platform/thread.h"
#include "ui/resource.h"
#include "ui/tabrook_dlg.h"

namespace dialog_test {

namespace fs = std::filesystem;

inline std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// Runs the event loop until done() holds; false after the time limit.
inline bool WaitUntil(const std::function<bool()>& done, int nLimitMs = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > nLimitMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// The dialog under test. With m_nHoldAt set, the worker waits after posting
// that record's progress until the dialog's thread has handled it and run
// m_onHeld (a click on Stop, say), so an action lands at an exact record;
// m_onReadSettings lands one before the worker has built its job.
class TestDlg : public CTabrookDlg {
public:
    // The workers use this object's overrides until they end.
    ~TestDlg() override { WaitForWorkers(); }

    BOOL PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) override {
        const BOOL bPosted = CTabrookDlg::PostMessageW(message, wParam, lParam);
        if (message == WM_CONVERT_PROGRESS && lParam == m_nHoldAt) {
            std::unique_lock lock(m_holdMutex);
            m_released.wait(lock, [this] { return m_bReleased; });
        }
        return bPosted;
    }
    CConvertSettings ReadSettings() override {
        if (m_onReadSettings)
            RunOnGuiThread(m_onReadSettings);
        return CTabrookDlg::ReadSettings();
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        const LRESULT result = CTabrookDlg::WindowProc(message, wParam, lParam);
        if (message == WM_CONVERT_PROGRESS) {
            m_arrProgress.push_back(static_cast<int>(lParam));
            if (lParam == m_nHoldAt) {
                if (m_onHeld)
                    m_onHeld();
                std::lock_guard lock(m_holdMutex);
                m_bReleased = true;
                m_released.notify_all();
            }
        }
        return result;
    }

    template <class T>
    T* Control(const char* name) const {
        return GetQDialog()->findChild<T*>(QString::fromLatin1(name));
    }
    void Click(const char* name) const { Control<QPushButton>(name)->click(); }
    [[nodiscard]] QString Text(const char* name) const {
        if (auto* combo = Control<QComboBox>(name))
            return combo->currentText();
        if (auto* label = Control<QLabel>(name))
            return label->text();
        if (auto* button = Control<QAbstractButton>(name))
            return button->text();
        return Control<QLineEdit>(name)->text();
    }
    void SetText(const char* name, const QString& text) const {
        if (auto* combo = Control<QComboBox>(name))
            combo->setEditText(text);
        else
            Control<QLineEdit>(name)->setText(text);
    }
    // The last run has ended and the dialog shows it.
    [[nodiscard]] bool Idle() const {
        return m_pThread && m_pThread->HasEnded() &&
               Control<QPushButton>("IDC_CONVERT")->isEnabled();
    }

    std::vector<int> m_arrProgress;  // the dialog's thread only
    int m_nHoldAt = 0;               // set before the run starts
    std::function<void()> m_onHeld;
    // Runs on the dialog's thread as a worker starts, before it has a job.
    std::function<void()> m_onReadSettings;

private:
    std::mutex m_holdMutex;
    std::condition_variable m_released;
    bool m_bReleased = false;
};

// Every test gets a folder of its own, scripted choosers and message boxes
// (answers in order; each box's text is kept), and a fresh dialog.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tabrook-ui-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        SetMessageBoxHandler([this](const CString& text, UINT type) {
            std::lock_guard lock(boxMutex);
            boxes.push_back(QString::fromStdU16String(text.str()).toStdString());
            boxTypes.push_back(type);
            if (answers.empty())
                return IDOK;
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        });
        SetFileChooserHook([this](const FileChooserRequest& request) {
            fileRequests.push_back(request);
            return nextFile;
        });
        SetFolderChooserHook([this](const FolderChooserRequest& request) {
            folderRequests.push_back(request);
            return nextFolder;
        });
        dlg = std::make_unique<TestDlg>();
        dlg->Create();
    }
    void TearDown() override {
        dlg.reset();
        SetMessageBoxHandler({});
        SetFileChooserHook({});
        SetFolderChooserHook({});
        fs::remove_all(dir);
    }

    // Copies a fixture workbook into the test's folder under a name.
    fs::path Workbook(const fs::path& source, const std::string& name) const {
        fs::path target = dir / name;
        fs::create_directories(target.parent_path());
        fs::copy_file(source, target, fs::copy_options::overwrite_existing);
        return target;
    }
    // ANSI, "," and Unix line ends: output that reads plainly in a test.
    void PlainTextOptions() const {
        dlg->Control<QComboBox>("IDC_CHARSET")->setCurrentText("ANSI");
        dlg->Control<QComboBox>("IDC_DELIMITER")->setEditText(",");
        dlg->Control<QComboBox>("IDC_FILE_FORMAT")->setCurrentText("Unix");
    }
    void Choose(const fs::path& workbook) {
        nextFile = CString::FromUtf8(workbook.string());
        dlg->Click("IDC_BROWSE_EXCEL");
    }
    // Starts a conversion of the worksheet into out and waits for its end.
    void Convert(const char* worksheet, const fs::path& out) {
        dlg->SetText("IDC_WORKSHEET", QString::fromUtf8(worksheet));
        dlg->SetText("IDC_TEXT_FILE", QString::fromStdString(out.string()));
        dlg->Click("IDC_CONVERT");
        ASSERT_TRUE(WaitUntil([this] { return dlg->Idle(); }));
    }
    std::vector<std::string> Boxes() {
        std::lock_guard lock(boxMutex);
        return boxes;
    }

    fs::path dir;
    std::unique_ptr<TestDlg> dlg;
    std::optional<CString> nextFile;
    std::optional<CString> nextFolder;
    std::vector<FileChooserRequest> fileRequests;
    std::vector<FolderChooserRequest> folderRequests;
    std::mutex boxMutex;
    std::vector<std::string> boxes;
    std::vector<UINT> boxTypes;
    std::deque<int> answers;
};

}  // namespace dialog_test
