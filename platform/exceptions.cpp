// The framework's exception helpers: the errno-to-cause table of
// CFileException, its user-readable messages and the AfxThrow functions.
#include "platform/exceptions.h"

#include <cerrno>
#include <cstring>

int CFileException::OsErrorToException(int errnoValue) {
    switch (errnoValue) {
        case 0:
            return none;
        case ENOENT:
            return fileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return badPath;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case EEXIST:
            return accessDenied;
        case EMFILE:
        case ENFILE:
            return tooManyOpenFiles;
        case EBADF:
            return invalidFile;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return diskFull;
        case EIO:
            return hardIO;
        case EBUSY:
        case ETXTBSY:
            return sharingViolation;
        case ENOLCK:
        case EDEADLK:
            return lockViolation;
        case ESPIPE:
            return badSeek;
        default:
            return genericException;
    }
}

namespace {

CString CauseText(int cause) {
    switch (cause) {
        case CFileException::none:
            return u"No error occurred.";
        case CFileException::fileNotFound:
            return u"The file was not found.";
        case CFileException::badPath:
            return u"All or part of the path is invalid.";
        case CFileException::tooManyOpenFiles:
            return u"Too many files are open.";
        case CFileException::accessDenied:
            return u"Access to the file was denied.";
        case CFileException::invalidFile:
            return u"The file is not open.";
        case CFileException::diskFull:
            return u"There is not enough space on the disk.";
        case CFileException::hardIO:
            return u"A hardware input/output error occurred.";
        case CFileException::sharingViolation:
            return u"The file is in use.";
        case CFileException::lockViolation:
            return u"The file could not be locked.";
        case CFileException::badSeek:
            return u"The file position could not be set.";
        case CFileException::endOfFile:
            return u"The end of the file was reached unexpectedly.";
        default:
            return u"An unexpected file error occurred.";
    }
}

}  // namespace

CString CFileException::GetErrorMessage() const {
    CString text = CauseText(m_cause);
    if (!m_strFileName.IsEmpty())
        text = m_strFileName + u": " + text;
    if (m_lOsError > 0)
        text += u" (" + CString::FromUtf8(std::strerror(m_lOsError)) + u")";
    return text;
}

CString CFileException::GetReason() const {
    if (!m_strReason.IsEmpty())
        return m_strReason;
    if (m_lOsError > 0)
        return CString::FromUtf8(std::strerror(m_lOsError));
    return {};
}

void AfxThrowMemoryException() {
    throw CMemoryException();
}

void AfxThrowInvalidArgException() {
    throw CInvalidArgException();
}

void AfxThrowFileException(int cause, int osError, const char16_t* fileName) {
    throw CFileException(cause, osError, fileName);
}
