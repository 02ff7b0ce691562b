// The framework's exception classes. They are thrown by value and caught by
// const reference; CException derives from std::exception so that a last
// resort handler can report any of them.
#pragma once

#include <exception>

#include "platform/cstring.h"

class CException : public std::exception {
public:
    CException() = default;
    CException(const CException&) = default;
    CException& operator=(const CException&) = default;
    ~CException() override = default;
    // A user-readable description of the failure.
    [[nodiscard]] virtual CString GetErrorMessage() const { return u"An unknown error occurred."; }
    [[nodiscard]] const char* what() const noexcept override { return "CException"; }
};

class CMemoryException : public CException {
public:
    [[nodiscard]] CString GetErrorMessage() const override { return u"Out of memory."; }
    [[nodiscard]] const char* what() const noexcept override { return "CMemoryException"; }
};

class CInvalidArgException : public CException {
public:
    [[nodiscard]] CString GetErrorMessage() const override { return u"Invalid argument."; }
    [[nodiscard]] const char* what() const noexcept override { return "CInvalidArgException"; }
};

class CFileException : public CException {
public:
    enum {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    explicit CFileException(int cause = none, int osError = -1, const char16_t* fileName = nullptr)
        : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}

    // The cause that an errno value stands for ("access denied" is EACCES/EPERM).
    static int OsErrorToException(int errnoValue);

    [[nodiscard]] CString GetErrorMessage() const override;
    [[nodiscard]] const char* what() const noexcept override { return "CFileException"; }

    int m_cause;
    int m_lOsError;  // errno of the failing call, or -1
    CString m_strFileName;
    // Why, where the system's text for m_lOsError would not say it (a link
    // refused as unsafe, a FIFO without a reader); empty otherwise.
    CString m_strReason;

    // What went wrong in words: m_strReason, else the system's text for
    // m_lOsError ("No space left on device"), else nothing.
    [[nodiscard]] CString GetReason() const;
};

[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowInvalidArgException();
[[noreturn]] void AfxThrowFileException(int cause, int osError = -1,
                                        const char16_t* fileName = nullptr);
