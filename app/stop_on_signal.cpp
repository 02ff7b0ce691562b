// A signal handler may not take the job's lock, so it only writes a byte to
// a pipe; a thread that waits on the pipe calls the job's SetStop.
#include "app/stop_on_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "convert/convert_file_obj.h"

namespace {

volatile sig_atomic_t g_nSignalPipe = -1;
struct sigaction g_previous[2];
constexpr int kSignals[2] = {SIGINT, SIGTERM};
constexpr char kSignalled = 's';
constexpr char kFinished = 'f';

extern "C" void OnStopSignal(int /*signo*/) {
    const int savedErrno = errno;
    const int fd = g_nSignalPipe;
    if (fd >= 0)
        (void)!::write(fd, &kSignalled, 1);
    errno = savedErrno;
}

void WritePipe(int fd, char byte) {
    while (::write(fd, &byte, 1) < 0 && errno == EINTR) {
    }
}

}  // namespace

CStopOnSignal::CStopOnSignal(CConvertFileObj& job) {
    if (::pipe2(m_pipe, O_CLOEXEC) != 0) {
        m_pipe[0] = m_pipe[1] = -1;
        return;  // without the pipe the signals keep their default effect
    }
    const int readEnd = m_pipe[0];
    m_watcher = std::thread([readEnd, &job] {
        char byte = 0;
        for (;;) {
            const ssize_t n = ::read(readEnd, &byte, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || byte == kFinished)
                return;
            job.SetStop(TRUE);
        }
    });
    g_nSignalPipe = m_pipe[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted writes carry on; a second signal finds the default action.
    action.sa_flags = static_cast<int>(SA_RESTART | SA_RESETHAND);
    for (int i = 0; i < 2; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
}

CStopOnSignal::~CStopOnSignal() {
    if (m_pipe[1] < 0)
        return;
    for (int i = 0; i < 2; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_nSignalPipe = -1;
    WritePipe(m_pipe[1], kFinished);
    m_watcher.join();
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}
