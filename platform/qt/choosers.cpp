// The choosers, message boxes and the shell's "open" over Qt.
#include "platform/qt/choosers.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::mutex g_hookMutex;
FileChooserHook g_fileHook;
FolderChooserHook g_folderHook;
QPointer<QDialog> g_mainWindow;

template <class Hook>
Hook CopyHook(const Hook& hook) {
    std::lock_guard lock(g_hookMutex);
    return hook;
}

// "Excel Files (*.xls)|*.xls||" -> {("Excel Files (*.xls)", "*.xls")}.
std::vector<std::pair<CString, CString>> ParseFilter(const CString& filter) {
    std::vector<std::pair<CString, CString>> result;
    std::vector<CString> parts;
    int start = 0;
    for (int bar = filter.Find(u'|'); bar >= 0; bar = filter.Find(u'|', start)) {
        parts.push_back(filter.Mid(start, bar - start));
        start = bar + 1;
    }
    for (size_t i = 0; i + 1 < parts.size() && !parts[i].IsEmpty(); i += 2)
        result.emplace_back(parts[i], parts[i + 1]);
    return result;
}

QString QtFilter(const std::pair<CString, CString>& filter) {
    // Qt reads the patterns from the parentheses at the end of a filter; the
    // framework lists them apart, separated by ";", and its descriptions
    // usually show them already ("Excel Files (*.xls)").
    QString patterns = ToQString(filter.second);
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    QString description = ToQString(filter.first);
    const QString shown = QStringLiteral("(") + patterns + QLatin1Char(')');
    if (description.endsWith(shown))
        return description;
    return description + QLatin1Char(' ') + shown;
}

// The open-file chooser. A typed name is taken as named when that file
// exists; only a name without any extension that does not exist gets the
// default extension, and only when the file with it exists. (Qt's own
// default suffix is appended to every name without one, so a workbook
// named without ".xls" could never be chosen.)
class FileChooser : public QFileDialog {
public:
    FileChooser(QWidget* parent, QString defaultSuffix)
        : QFileDialog(parent), m_defaultSuffix(std::move(defaultSuffix)) {}

    // The file chosen, once accepted.
    [[nodiscard]] QString Chosen() const {
        if (!m_withSuffix.isEmpty())
            return m_withSuffix;
        const QStringList files = selectedFiles();
        return files.isEmpty() ? QString() : files.constFirst();
    }

    void accept() override {
        const QStringList typed = selectedFiles();
        if (!m_defaultSuffix.isEmpty() && typed.size() == 1) {
            const QFileInfo name(typed.constFirst());
            const QString withSuffix = name.filePath() + QLatin1Char('.') + m_defaultSuffix;
            if (!name.exists() && !name.fileName().contains(QLatin1Char('.')) &&
                QFileInfo(withSuffix).isFile()) {
                m_withSuffix = withSuffix;
                done(QDialog::Accepted);  // the name field keeps what was typed
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    QString m_defaultSuffix;
    QString m_withSuffix;
};

std::optional<CString> RunQtFileChooser(const FileChooserRequest& request, QWidget* parent) {
    QString defaultSuffix = ToQString(request.strDefExt);
    if (defaultSuffix.startsWith(QLatin1Char('.')))
        defaultSuffix.remove(0, 1);
    FileChooser chooser(parent, request.bOpen ? defaultSuffix : QString());
    chooser.setAcceptMode(request.bOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    chooser.setFileMode((request.dwFlags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile
                                                              : QFileDialog::AnyFile);
    QStringList filters;
    for (const auto& filter : request.filters) filters << QtFilter(filter);
    if (!filters.isEmpty())
        chooser.setNameFilters(filters);
    if (!request.bOpen && !defaultSuffix.isEmpty())
        chooser.setDefaultSuffix(defaultSuffix);
    if (!request.strInitialPath.IsEmpty()) {
        const QFileInfo initial(ToQString(request.strInitialPath));
        chooser.setDirectory(initial.absolutePath());
        chooser.selectFile(initial.fileName());
    }
    if (chooser.exec() != QDialog::Accepted || chooser.Chosen().isEmpty())
        return std::nullopt;
    return FromQString(QDir::toNativeSeparators(chooser.Chosen()));
}

std::optional<CString> RunQtFolderChooser(const FolderChooserRequest& request) {
    QFileDialog chooser;  // no owner: the other windows stay usable
    chooser.setWindowModality(Qt::NonModal);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly, true);
    // The instruction is the title; a blank one (the usual) leaves the
    // title that says what the window is for.
    const QString prompt = ToQString(request.strPrompt).trimmed();
    chooser.setWindowTitle(prompt.isEmpty() ? QStringLiteral("Choose a Folder") : prompt);
    chooser.setLabelText(QFileDialog::Accept, QStringLiteral("Select"));
    if (!request.strStartPath.IsEmpty()) {
        // The start path usually names a file in the folder to preselect.
        const QFileInfo start(ToQString(request.strStartPath));
        chooser.setDirectory(start.isDir() ? start.absoluteFilePath() : start.absolutePath());
    }
    QEventLoop loop;
    QObject::connect(&chooser, &QDialog::finished, &loop, &QEventLoop::quit);
    chooser.show();
    loop.exec();
    if (chooser.result() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return std::nullopt;
    const QFileInfo folder(chooser.selectedFiles().constFirst());
    if (!folder.isDir())
        return std::nullopt;  // only folders of the file system
    return FromQString(folder.absoluteFilePath());
}

// Lifts every wait cursor (CWaitCursor) for its lifetime and puts them back
// after: a message box shown in the middle of a long task shows the
// ordinary pointer.
class CursorPause {
public:
    CursorPause() {
        while (const QCursor* cursor = QGuiApplication::overrideCursor()) {
            m_cursors.push_back(*cursor);
            QGuiApplication::restoreOverrideCursor();
        }
    }
    ~CursorPause() {
        for (auto it = m_cursors.rbegin(); it != m_cursors.rend(); ++it)
            QGuiApplication::setOverrideCursor(*it);
    }
    CursorPause(const CursorPause&) = delete;
    CursorPause& operator=(const CursorPause&) = delete;

private:
    std::vector<QCursor> m_cursors;
};

int ShowQtMessageBox(const CString& text, UINT type) {
    const CursorPause pause;
    QMessageBox box(g_mainWindow.data());
    box.setWindowTitle(QStringLiteral("Tabrook"));
    box.setText(ToQString(text));
    if ((type & 0xF) == MB_YESNOCANCEL) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    // Without an icon flag, the framework shows a warning sign for an OK
    // box and a question mark for a question.
    const UINT icon = type & 0xF0;
    if (icon == MB_ICONQUESTION || (icon == 0 && (type & 0xF) == MB_YESNOCANCEL))
        box.setIcon(QMessageBox::Question);
    else
        box.setIcon(QMessageBox::Warning);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Cancel:
            return IDCANCEL;
        default:
            return IDOK;
    }
}

// Why the last ShellExecuteW of this thread failed.
thread_local CString t_strShellError;

constexpr INT_PTR SE_ERR_FNF = 2;
constexpr INT_PTR SE_ERR_ACCESSDENIED = 5;
constexpr INT_PTR SE_ERR_NOASSOC = 31;
constexpr INT_PTR kOpened = 42;  // above 32: the handler was started

// How long the desktop's opener has to fail before the address counts as
// opened: it ends at once when it hands the address to a running program
// or finds none, and runs on while a browser it started stays in front.
constexpr int kOpenerVerdictMs = 3000;

// A descriptor that closes itself.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int Get() const { return m_fd; }

private:
    int m_fd;
};

std::string ReadAll(int fd) {
    std::string text;
    char chunk[4096];
    off_t at = 0;
    for (ssize_t n; (n = ::pread(fd, chunk, sizeof chunk, at)) > 0; at += n)
        text.append(chunk, static_cast<size_t>(n));
    return text;
}

// The last line of a program's error output that says something.
QString LastLine(const std::string& errors) {
    const QStringList lines = QString::fromLocal8Bit(errors).split(QLatin1Char('\n'));
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (!it->trimmed().isEmpty())
            return it->trimmed();
    }
    return {};
}

// Waits a moment, serving events when on the GUI thread.
void Pause(int ms) {
    if (IsGuiThread()) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(ms);
        loop.exec();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

// Runs the desktop's opener on an address. Its input is empty and its
// output and errors go to memory files, never to the program's own
// terminal: a text browser that the opener falls back on would draw the
// page there instead of in a window, and its complaints would go to a
// terminal that a desktop user does not see. Empty when the address was
// handed over; otherwise why not.
QString RunOpener(const QString& opener, const QString& target) {
    const Descriptor input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const Descriptor output(::memfd_create("tabrook-opener-output", MFD_CLOEXEC));
    const Descriptor errors(::memfd_create("tabrook-opener-errors", MFD_CLOEXEC));
    if (input.Get() < 0 || output.Get() < 0 || errors.Get() < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input.Get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errors.Get(), STDERR_FILENO);
    // Nothing else of this process (an output file and its lock above all)
    // goes to a program that may outlive it.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGCHLD}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    QByteArray program = QFile::encodeName(opener);
    QByteArray argument = QFile::encodeName(target);
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    const int nSpawnError =
        posix_spawn(&pid, program.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (nSpawnError != 0)
        return opener + QStringLiteral(" could not be started: ") +
               QString::fromLocal8Bit(std::strerror(nSpawnError));

    int status = 0;
    bool bEnded = false;
    QElapsedTimer clock;
    clock.start();
    while (!bEnded && clock.elapsed() < kOpenerVerdictMs) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        bEnded = done == pid || (done < 0 && errno != EINTR);
        if (!bEnded)
            Pause(10);
    }
    if (!bEnded) {
        // A program in front (a browser it started): it is reaped whenever
        // it ends, and outlives this process if it must.
        std::thread([pid] {
            int ignored = 0;
            while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    const QString name = QFileInfo(opener).fileName();
    if (bEnded && WIFSIGNALED(status))
        return name + QStringLiteral(" was ended by signal %1").arg(WTERMSIG(status));
    if (bEnded && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        QString last = LastLine(ReadAll(errors.Get()));
        if (!last.isEmpty())
            return last;
        return name + QStringLiteral(" ended with status %1").arg(WEXITSTATUS(status));
    }
    struct stat st {};
    if (::fstat(output.Get(), &st) == 0 && st.st_size > 0)
        return name + QStringLiteral(
                          " gave it to a program that writes text, not a window (a text "
                          "browser); no graphical program to show it was found");
    return {};
}

// What opening an address came to: the shell's code, and why it failed.
struct OpenOutcome {
    INT_PTR nCode = kOpened;
    QString reason;
};

// Opens an address with the user's default handler.
OpenOutcome OpenAddress(const QUrl& url) {
    if (url.isLocalFile() &&
        ::access(QFile::encodeName(url.toLocalFile()).constData(), R_OK) != 0) {
        const int nError = errno;
        return {nError == EACCES || nError == EPERM ? SE_ERR_ACCESSDENIED : SE_ERR_FNF,
                QString::fromLocal8Bit(std::strerror(nError))};
    }
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty()) {
        QString reason = RunOpener(
            opener, url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded));
        return {reason.isEmpty() ? kOpened : SE_ERR_NOASSOC, std::move(reason)};
    }
    // No desktop opener: Qt's own services (a handler the program
    // registered, a desktop portal, a browser it knows).
    bool bOpened = false;
    RunOnGuiThread([&] { bOpened = QDesktopServices::openUrl(url); });
    if (bOpened)
        return {};
    return {SE_ERR_NOASSOC, QStringLiteral("no program to open it was found")};
}

}  // namespace

void SetFileChooserHook(FileChooserHook hook) {
    std::lock_guard lock(g_hookMutex);
    g_fileHook = std::move(hook);
}

void SetFolderChooserHook(FolderChooserHook hook) {
    std::lock_guard lock(g_hookMutex);
    g_folderHook = std::move(hook);
}

CFileDialog::CFileDialog(BOOL bOpenFileDialog, const char16_t* lpszDefExt,
                         const char16_t* lpszFileName, DWORD dwFlags, const char16_t* lpszFilter,
                         CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog),
      m_strDefExt(lpszDefExt),
      m_strFileName(lpszFileName),
      m_strFilter(lpszFilter),
      m_pParentWnd(pParentWnd) {
    m_ofn.Flags = dwFlags;
}

FileChooserRequest CFileDialog::Request() const {
    FileChooserRequest request;
    request.bOpen = m_bOpenFileDialog != FALSE;
    request.strInitialPath = m_ofn.lpstrFile ? CString(m_ofn.lpstrFile) : m_strFileName;
    request.strDefExt = m_strDefExt;
    request.dwFlags = m_ofn.Flags;
    request.filters = ParseFilter(m_strFilter);
    return request;
}

INT_PTR CFileDialog::DoModal() {
    const FileChooserRequest request = Request();
    std::optional<CString> chosen;
    if (FileChooserHook hook = CopyHook(g_fileHook)) {
        chosen = hook(request);
    } else {
        auto* pParent = dynamic_cast<CWidgetWnd*>(m_pParentWnd);
        RunOnGuiThread(
            [&] { chosen = RunQtFileChooser(request, pParent ? pParent->GetWidget() : nullptr); });
    }
    if (!chosen)
        return IDCANCEL;
    m_strFileName = *chosen;
    if (m_ofn.lpstrFile && m_ofn.nMaxFile > 0) {
        const int n = std::min(chosen->GetLength(), static_cast<int>(m_ofn.nMaxFile) - 1);
        std::copy_n(chosen->GetString(), n, m_ofn.lpstrFile);
        m_ofn.lpstrFile[n] = u'\0';
    }
    return IDOK;
}

CString CFileDialog::GetPathName() const {
    return m_strFileName;
}

BOOL AfxBrowseForFolder(const CString& strStartPath, const CString& strPrompt, CString& strFolder) {
    const FolderChooserRequest request{strStartPath, strPrompt};
    std::optional<CString> chosen;
    if (FolderChooserHook hook = CopyHook(g_folderHook))
        chosen = hook(request);
    else
        RunOnGuiThread([&] { chosen = RunQtFolderChooser(request); });
    if (!chosen)
        return FALSE;
    strFolder = *chosen;
    return TRUE;
}

INT_PTR ShellExecuteW(CWnd* /*hWnd*/, const char16_t* lpOperation, const char16_t* lpFile,
                      const char16_t* /*lpParameters*/, const char16_t* /*lpDirectory*/,
                      int /*nShowCmd*/) {
    t_strShellError.Empty();
    if (CString(lpOperation) != u"open" || !lpFile) {
        t_strShellError = u"only addresses can be opened";
        return SE_ERR_NOASSOC;
    }
    const OpenOutcome outcome = OpenAddress(QUrl(ToQString(CString(lpFile))));
    t_strShellError = FromQString(outcome.reason);
    return outcome.nCode;
}

CString ShellExecuteErrorText() {
    return t_strShellError;
}

MessageBoxHandler AfxInstallQtMessageBox() {
    return SetMessageBoxHandler([](const CString& text, UINT type) {
        int answer = IDOK;
        RunOnGuiThread([&] { answer = ShowQtMessageBox(text, type); });
        return answer;
    });
}

void AfxSetMainWnd(CDialog* pWnd) {
    RunOnGuiThread([&] { g_mainWindow = pWnd ? pWnd->GetQDialog() : nullptr; });
}
