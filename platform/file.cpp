// CFile over a POSIX descriptor and CStdioFile over a C stream on that
// descriptor. File names are UTF-16 and reach the system as UTF-8.
#include "platform/file.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>

namespace {

constexpr UINT kAccessMask = 0x0003;

int OpenFlagsToPosix(UINT openFlags) {
    int flags = O_CLOEXEC;
    switch (openFlags & kAccessMask) {
        case CFile::modeRead:
            flags |= O_RDONLY;
            break;
        case CFile::modeWrite:
            flags |= O_WRONLY;
            break;
        case CFile::modeReadWrite:
            flags |= O_RDWR;
            break;
        default:
            return -1;
    }
    if (openFlags & CFile::modeCreate) {
        flags |= O_CREAT;
        if (!(openFlags & CFile::modeNoTruncate))
            flags |= O_TRUNC;
    }
    if (openFlags & CFile::appendAtEnd)
        flags |= O_APPEND;
    return flags;
}

void FillError(CFileException* error, int errnoValue, const char16_t* fileName,
               const CString& reason = {}) {
    if (!error)
        return;
    error->m_cause = CFileException::OsErrorToException(errnoValue);
    error->m_lOsError = errnoValue;
    error->m_strFileName = fileName;
    error->m_strReason = reason;
}

// The folder that holds the last part of a path.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

enum class LinkTrust { notALink, trusted, untrusted };

// Whether a write may follow the link that the last part of a path may be.
// In a folder that others can write to, anyone could have planted a link
// there to aim the write at a file of ours: as the kernel's protected-links
// rule has it, such a link is followed only when it is ours or the
// folder owner's.
LinkTrust TrustOfLink(const std::string& path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
        return LinkTrust::notALink;
    struct stat folder {};
    if (::stat(FolderOf(path).c_str(), &folder) != 0 || !(folder.st_mode & S_IWOTH))
        return LinkTrust::trusted;
    return link.st_uid == ::geteuid() || link.st_uid == folder.st_uid ? LinkTrust::trusted
                                                                      : LinkTrust::untrusted;
}

// The descriptor of the process that a name such as /dev/stdout,
// /dev/fd/3 or /proc/self/fd/3 stands for, or -1 for any other name.
int OwnDescriptorNamed(const std::string& path) {
    static constexpr const char* kStandard[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
    for (int fd = 0; fd < 3; ++fd) {
        if (path == kStandard[fd])
            return fd;
    }
    const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
    for (const std::string& prefix : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                      std::string("/proc/thread-self/fd/"), own}) {
        if (!path.starts_with(prefix))
            continue;
        const std::string number = path.substr(prefix.size());
        if (number.empty() || number.size() > 9 ||
            !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return -1;
        return std::stoi(number);
    }
    return -1;
}

struct OpenResult {
    int fd = -1;
    int error = 0;
    CString reason;  // when the system's text for error would not say why
    bool inherited = false;
};

// Opens a path, refusing a write through a link that someone else planted
// in a folder others can write to. A path that is no link is opened
// without following one, so that a link put in its place after the check
// is refused by the system, and checked again.
OpenResult OpenChecked(const std::string& path, int posixFlags) {
    const bool bWriting = (posixFlags & (O_WRONLY | O_RDWR | O_CREAT)) != 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        LinkTrust trust = LinkTrust::trusted;
        if (bWriting)
            trust = TrustOfLink(path);
        if (trust == LinkTrust::untrusted) {
            return {-1, EACCES,
                    u"It is a link that someone else put in a folder that others can write "
                    u"to; it is not followed",
                    false};
        }
        const int flags = trust == LinkTrust::notALink ? posixFlags | O_NOFOLLOW : posixFlags;
        int fd;
        do {
            fd = ::open(path.c_str(), flags, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0)
            return {fd, 0, {}, false};
        if (errno != ELOOP || trust != LinkTrust::notALink)
            return {-1, errno, {}, false};
    }
    return {-1, ELOOP, {}, false};
}

// The descriptor of a newly opened file, or -1 with the error. A folder is
// refused like any file that cannot be read or written as one.
OpenResult OpenDescriptor(const CString& path, int posixFlags, UINT openFlags = 0) {
    const std::string name = path.ToUtf8();
    OpenResult result;
    const bool bOutput = (openFlags & CFile::modeOutput) != 0;
    const int own = bOutput ? OwnDescriptorNamed(name) : -1;
    if (own >= 0) {
        // Opening /dev/stdout again would truncate what the shell opened
        // for appending (">>"): the descriptor itself is written.
        result.fd = ::fcntl(own, F_DUPFD_CLOEXEC, 0);
        result.inherited = true;
        if (result.fd < 0)
            result.error = errno;
    } else {
        // Without a reader a FIFO's open would wait for one for ever.
        result = OpenChecked(name, bOutput ? posixFlags | O_NONBLOCK : posixFlags);
        struct stat st {};
        if (result.fd < 0 && result.error == ENXIO && ::stat(name.c_str(), &st) == 0 &&
            S_ISFIFO(st.st_mode)) {
            result.reason = u"It is a FIFO (a named pipe) that no program is reading";
        }
        if (result.fd >= 0 && bOutput) {
            const int flags = ::fcntl(result.fd, F_GETFL);
            if (flags >= 0)
                ::fcntl(result.fd, F_SETFL, flags & ~O_NONBLOCK);
        }
    }
    if (result.fd < 0)
        return result;
    struct stat st {};
    if (::fstat(result.fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(result.fd);
        return {-1, EISDIR, {}, false};
    }
    return result;
}

}  // namespace

// ---------------------------------------------------------------- CFile

CFile::CFile() = default;

CFile::~CFile() {
    CFile::Abort();
}

void CFile::ThrowErrno(int errnoValue) const {
    AfxThrowFileException(CFileException::OsErrorToException(errnoValue), errnoValue,
                          m_strFileName);
}

BOOL CFile::Open(const char16_t* fileName, UINT openFlags, CFileException* error) {
    if (IsOpen()) {
        FillError(error, EBUSY, fileName);
        if (error)
            error->m_cause = CFileException::genericException;
        return FALSE;
    }
    if (!fileName) {
        FillError(error, EINVAL, u"");
        if (error)
            error->m_cause = CFileException::badPath;
        return FALSE;
    }
    const int posixFlags = OpenFlagsToPosix(openFlags);
    const OpenResult opened = posixFlags < 0 ? OpenResult{-1, EINVAL, {}, false}
                                             : OpenDescriptor(fileName, posixFlags, openFlags);
    if (opened.fd < 0) {
        FillError(error, opened.error, fileName, opened.reason);
        return FALSE;
    }
    const int fd = opened.fd;
    m_hFile = fd;
    m_strFileName = fileName;
    m_bSeekable = ::lseek(fd, 0, SEEK_CUR) >= 0;
    struct stat st {};
    m_bRegular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    m_bInherited = opened.inherited;
    m_nWrittenInSequence = 0;
    return TRUE;
}

ULONGLONG CFile::SequentialSeek(LONGLONG offset, UINT from) const {
    if (offset != 0 || from == begin)
        AfxThrowFileException(CFileException::badSeek, ESPIPE, m_strFileName);
    return m_nWrittenInSequence;
}

UINT CFile::Read(void* buffer, UINT count) {
    if (count == 0)
        return 0;
    if (!buffer)
        AfxThrowInvalidArgException();
    SyncStreamForDirectAccess();
    auto* bytes = static_cast<char*>(buffer);
    UINT total = 0;
    while (total < count) {
        const ssize_t n = ::read(m_hFile, bytes + total, count - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ThrowErrno(errno);
        if (n == 0)
            break;
        total += static_cast<UINT>(n);
    }
    return total;
}

void CFile::Write(const void* buffer, UINT count) {
    if (count == 0)
        return;
    if (!buffer)
        AfxThrowInvalidArgException();
    SyncStreamForDirectAccess();
    const auto* bytes = static_cast<const char*>(buffer);
    const bool bWaitable = m_fnWaitCancelled && !m_bRegular;
    UINT total = 0;
    while (total < count) {
        UINT piece = count - total;
        if (bWaitable) {
            // A piece of at most PIPE_BUF bytes fits once poll reports room.
            piece = std::min<UINT>(piece, PIPE_BUF);
            WaitUntilWritable();
        }
        const ssize_t n = ::write(m_hFile, bytes + total, piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ThrowErrno(errno);
        if (n == 0)
            ThrowErrno(ENOSPC);
        total += static_cast<UINT>(n);
        m_nWrittenInSequence += static_cast<ULONGLONG>(n);
    }
}

void CFile::WaitUntilWritable() const {
    for (;;) {
        pollfd ready{m_hFile, POLLOUT, 0};
        const int rc = ::poll(&ready, 1, 100);
        if (rc > 0 || (rc < 0 && errno != EINTR))
            return;  // room, or an error that the write itself reports
        if (m_fnWaitCancelled())
            ThrowErrno(ECANCELED);
    }
}

void CFile::SetLength(ULONGLONG newLength) {
    SyncStreamForDirectAccess();
    int rc;
    do {
        rc = ::ftruncate(m_hFile, static_cast<off_t>(newLength));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        ThrowErrno(errno);
}

bool CFile::IsSameFileAs(int fd) const {
    struct stat a {};
    struct stat b {};
    return IsOpen() && ::fstat(m_hFile, &a) == 0 && ::fstat(fd, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool CFile::IsSameFileAs(const char16_t* path) const {
    struct stat a {};
    struct stat b {};
    return IsOpen() && path && ::fstat(m_hFile, &a) == 0 &&
           ::stat(CString(path).ToUtf8().c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

CFile::LockResult CFile::TryLockExclusive() {
    if (!IsOpen() || !m_bRegular)
        return unavailable;
    int rc;
    do {
        rc = ::flock(m_hFile, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return locked;
    return errno == EWOULDBLOCK ? busy : unavailable;
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
    static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (from > end)
        AfxThrowFileException(CFileException::badSeek, EINVAL, m_strFileName);
    if (!m_bSeekable)
        return SequentialSeek(offset, from);
    SyncStreamForDirectAccess();
    const off_t pos = ::lseek(m_hFile, static_cast<off_t>(offset), kWhence[from]);
    if (pos < 0)
        AfxThrowFileException(CFileException::badSeek, errno, m_strFileName);
    return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetPosition() const {
    if (!m_bSeekable)
        return m_nWrittenInSequence;
    const off_t pos = ::lseek(m_hFile, 0, SEEK_CUR);
    if (pos < 0)
        AfxThrowFileException(CFileException::badSeek, errno, m_strFileName);
    return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetLength() const {
    struct stat st {};
    if (::fstat(m_hFile, &st) != 0)
        ThrowErrno(errno);
    return static_cast<ULONGLONG>(st.st_size);
}

void CFile::Close() {
    if (!IsOpen())
        return;
    const int fd = m_hFile;
    m_hFile = hFileNull;
    // After EINTR the descriptor is already released on Linux: not an error.
    if (::close(fd) != 0 && errno != EINTR)
        ThrowErrno(errno);
}

void CFile::Abort() {
    if (!IsOpen())
        return;
    ::close(m_hFile);
    m_hFile = hFileNull;
}

void CFile::SetFilePath(const char16_t* path) {
    if (!path)
        AfxThrowInvalidArgException();
    m_strFileName = path;
}

// ------------------------------------------------------------ CStdioFile

namespace {

// The stream mode matching the descriptor's access; "w" on fdopen never
// truncates, and append mode is avoided so that Seek places writes.
const char* StreamMode(UINT openFlags) {
    switch (openFlags & kAccessMask) {
        case CFile::modeWrite:
            return "w";
        case CFile::modeReadWrite:
            return "r+";
        default:
            return "r";
    }
}

}  // namespace

CStdioFile::CStdioFile() = default;

CStdioFile::~CStdioFile() {
    CStdioFile::Abort();
}

BOOL CStdioFile::Open(const char16_t* fileName, UINT openFlags, CFileException* error) {
    if (m_pStream) {
        FillError(error, EBUSY, fileName);
        if (error)
            error->m_cause = CFileException::genericException;
        return FALSE;
    }
    if (!CFile::Open(fileName, openFlags, error))
        return FALSE;
    m_pStream = ::fdopen(m_hFile, StreamMode(openFlags));
    if (!m_pStream) {
        const int savedErrno = errno;
        CFile::Abort();
        FillError(error, savedErrno, fileName);
        return FALSE;
    }
    m_bTextMode = !(openFlags & typeBinary);
    return TRUE;
}

void CStdioFile::ThrowStreamError() const {
    const int savedErrno = errno != 0 ? errno : EIO;
    if (m_pStream)
        ::clearerr(m_pStream);
    ThrowErrno(savedErrno);
}

void CStdioFile::SyncStreamForDirectAccess() {
    // fflush writes pending output and, for a stream that has read ahead,
    // moves the descriptor back to the stream's logical position.
    if (m_pStream && ::fflush(m_pStream) != 0)
        ThrowStreamError();
}

UINT CStdioFile::Read(void* buffer, UINT count) {
    if (count == 0)
        return 0;
    if (!buffer)
        AfxThrowInvalidArgException();
    if (!m_pStream)
        AfxThrowFileException(CFileException::invalidFile, EBADF, m_strFileName);
    errno = 0;
    const size_t n = ::fread(buffer, 1, count, m_pStream);
    if (n < count && ::ferror(m_pStream))
        ThrowStreamError();
    return static_cast<UINT>(n);
}

void CStdioFile::Write(const void* buffer, UINT count) {
    if (count == 0)
        return;
    if (!buffer)
        AfxThrowInvalidArgException();
    if (!m_pStream)
        AfxThrowFileException(CFileException::invalidFile, EBADF, m_strFileName);
    errno = 0;
    if (::fwrite(buffer, 1, count, m_pStream) != count)
        ThrowStreamError();
    m_nWrittenInSequence += count;
}

void CStdioFile::WriteString(const char16_t* text) {
    if (!text)
        AfxThrowInvalidArgException();
    if (m_bTextMode) {
        const std::string utf8 = CString(text).ToUtf8();
        Write(utf8.data(), static_cast<UINT>(utf8.size()));
        return;
    }
    std::string bytes;
    for (const char16_t* p = text; *p; ++p) {
        bytes += static_cast<char>(*p & 0xFF);
        bytes += static_cast<char>(*p >> 8);
    }
    Write(bytes.data(), static_cast<UINT>(bytes.size()));
}

bool CStdioFile::ReadLineBytes(char* buffer, size_t size) {
    if (!m_pStream)
        AfxThrowFileException(CFileException::invalidFile, EBADF, m_strFileName);
    if (size == 0 || size > static_cast<size_t>(std::numeric_limits<int>::max())) {
        AfxThrowInvalidArgException();
    }
    errno = 0;
    if (::fgets(buffer, static_cast<int>(size), m_pStream))
        return true;
    if (::ferror(m_pStream))
        ThrowStreamError();
    return false;
}

// Decodes one UTF-8 character from the stream into out (room units free).
// False, with nothing consumed, when it would not fit or at end of file.
bool CStdioFile::ReadUtf8Unit(char16_t* out, size_t room, size_t& used) {
    const int lead = ::getc_unlocked(m_pStream);
    if (lead == EOF)
        return false;
    const int length = lead < 0x80   ? 1
                       : lead < 0xC2 ? 0
                       : lead < 0xE0 ? 2
                       : lead < 0xF0 ? 3
                       : lead < 0xF5 ? 4
                                     : 0;
    if (room < (length == 4 ? 2u : 1u)) {
        ::ungetc(lead, m_pStream);
        return false;
    }
    char32_t cp = length == 1 ? static_cast<char32_t>(lead) : 0xFFFD;
    if (length > 1) {
        cp = static_cast<char32_t>(lead) & (0x7F >> length);
        for (int i = 1; i < length; ++i) {
            const int next = ::getc_unlocked(m_pStream);
            if (next == EOF || (next & 0xC0) != 0x80) {
                if (next != EOF)
                    ::ungetc(next, m_pStream);
                cp = 0xFFFD;
                break;
            }
            cp = (cp << 6) | (static_cast<char32_t>(next) & 0x3F);
        }
        const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
        if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
        out[0] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        out[1] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        used = 2;
    } else {
        out[0] = static_cast<char16_t>(cp);
        used = 1;
    }
    return true;
}

bool CStdioFile::ReadLineUnits(char16_t* buffer, size_t size, LineEncoding encoding) {
    if (!m_pStream)
        AfxThrowFileException(CFileException::invalidFile, EBADF, m_strFileName);
    if (size == 0)
        AfxThrowInvalidArgException();
    errno = 0;
    size_t count = 0;
    while (count + 1 < size) {
        size_t used = 0;
        if (encoding == LineEncoding::utf8) {
            if (!ReadUtf8Unit(buffer + count, size - 1 - count, used))
                break;
        } else {
            const int low = ::getc_unlocked(m_pStream);
            const int high = low == EOF ? EOF : ::getc_unlocked(m_pStream);
            if (high == EOF)
                break;  // a lone last byte is no code unit
            buffer[count] = static_cast<char16_t>(low | (high << 8));
            used = 1;
        }
        count += used;
        if (buffer[count - 1] == u'\n')
            break;
    }
    buffer[count] = u'\0';
    if (::ferror(m_pStream))
        ThrowStreamError();
    return count > 0;
}

char16_t* CStdioFile::ReadString(char16_t* buffer, UINT maxUnits) {
    if (!buffer)
        AfxThrowInvalidArgException();
    if (!ReadLineUnits(buffer, maxUnits, BaseLineEncoding()))
        return nullptr;
    if (m_bTextMode) {
        // Text mode reads CR LF as LF.
        const size_t n = std::char_traits<char16_t>::length(buffer);
        if (n >= 2 && buffer[n - 2] == u'\r' && buffer[n - 1] == u'\n') {
            buffer[n - 2] = u'\n';
            buffer[n - 1] = u'\0';
        }
    }
    return buffer;
}

BOOL CStdioFile::ReadString(CString& line) {
    line.Empty();
    char16_t chunk[129];
    bool any = false;
    while (ReadLineUnits(chunk, sizeof chunk / sizeof chunk[0], BaseLineEncoding())) {
        any = true;
        line += chunk;
        if (!line.IsEmpty() && line[line.GetLength() - 1] == u'\n') {
            const int cut =
                (m_bTextMode && line.GetLength() >= 2 && line[line.GetLength() - 2] == u'\r') ? 2
                                                                                              : 1;
            line = line.Left(line.GetLength() - cut);
            break;
        }
    }
    return any ? TRUE : FALSE;
}

ULONGLONG CStdioFile::Seek(LONGLONG offset, UINT from) {
    static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (!m_pStream)
        AfxThrowFileException(CFileException::invalidFile, EBADF, m_strFileName);
    if (from > end)
        AfxThrowFileException(CFileException::badSeek, EINVAL, m_strFileName);
    if (!m_bSeekable)
        return SequentialSeek(offset, from);
    if (::fseeko(m_pStream, static_cast<off_t>(offset), kWhence[from]) != 0) {
        AfxThrowFileException(CFileException::badSeek, errno, m_strFileName);
    }
    return GetPosition();
}

ULONGLONG CStdioFile::GetPosition() const {
    if (!m_pStream)
        return 0;
    if (!m_bSeekable)
        return m_nWrittenInSequence;
    const off_t pos = ::ftello(m_pStream);
    if (pos < 0)
        AfxThrowFileException(CFileException::badSeek, errno, m_strFileName);
    return static_cast<ULONGLONG>(pos);
}

void CStdioFile::Close() {
    if (!m_pStream) {
        CFile::Close();
        return;
    }
    FILE* stream = m_pStream;
    m_pStream = nullptr;
    m_hFile = hFileNull;  // fclose releases the descriptor too
    errno = 0;
    if (::fclose(stream) != 0)
        ThrowErrno(errno != 0 ? errno : EIO);
}

void CStdioFile::Abort() {
    if (m_pStream) {
        ::fclose(m_pStream);
        m_pStream = nullptr;
        m_hFile = hFileNull;
    }
    CFile::Abort();
}
