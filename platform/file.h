// CFile and CStdioFile: the framework's file classes over a POSIX descriptor
// and a C stream.
//
// CFile reads and writes the descriptor directly. CStdioFile attaches a
// FILE* stream to the same descriptor and routes Read, Write, Seek,
// GetPosition and its line operations through the stream; a direct
// CFile::Write on a CStdioFile first flushes the stream, so that stream and
// descriptor always agree on the position.
//
// Text mode versus binary mode: Linux streams do no newline translation, so
// the bytes written are the same in both modes, and Read/Write transfer
// bytes unchanged in both. The modes differ only in the stand-in's own line
// operations (WriteString, ReadString): text mode means a narrow text in
// UTF-8 whose line reads treat CR LF like LF (the CR is not returned);
// binary mode means UTF-16LE code units, two bytes each, with no change to
// CR or LF apart from the LF that ends a line.
#pragma once

#include <cstdio>
#include <functional>

#include "platform/cstring.h"
#include "platform/exceptions.h"
#include "platform/types.h"

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
        // Not a framework flag: every write lands at the end of the file as
        // it is at that moment (O_APPEND), so that processes appending to
        // one file never write over one another's text.
        appendAtEnd = 0x10000,
        // Not a framework flag: the file is the program's output. A name of
        // one of the process's own descriptors (/dev/stdout, /dev/fd/1,
        // /proc/self/fd/1) is written through a duplicate of that
        // descriptor, never opened again; a FIFO without a reader is
        // refused instead of waited for; the open never truncates (the
        // caller does, with SetLength, once it has checked what it opened).
        modeOutput = 0x20000
    };
    enum LockResult {
        locked,      // this file holds the lock
        busy,        // another open file holds it
        unavailable  // not a regular file, or the system has no lock for it
    };
    // The framework's names; clang counts them as shadowing the global
    // begin()/end() that Qt's headers declare, in files that include both.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };
#pragma GCC diagnostic pop
    static constexpr int hFileNull = -1;

    CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile();  // closes if open, never throws

    // FALSE, with *error filled (cause, errno, file name), when the file
    // cannot be opened; *error is left untouched on success.
    virtual BOOL Open(const char16_t* fileName, UINT openFlags, CFileException* error = nullptr);
    // Bytes read, 0 at end of file; a failure throws CFileException.
    virtual UINT Read(void* buffer, UINT count);
    // Writes exactly count bytes at the current position, straight to the
    // descriptor; a failure throws CFileException (diskFull for ENOSPC).
    virtual void Write(const void* buffer, UINT count);
    // The new position; a failure throws CFileException (badSeek).
    virtual ULONGLONG Seek(LONGLONG offset, UINT from);
    ULONGLONG SeekToEnd() {
        return Seek(0, end);
    }
    void SeekToBegin() {
        Seek(0, begin);
    }
    virtual ULONGLONG GetPosition() const;
    virtual ULONGLONG GetLength() const;
    // Cuts or extends the file to newLength bytes; a failure throws
    // CFileException.
    virtual void SetLength(ULONGLONG newLength);
    // Closes the file; throws CFileException if the close itself fails
    // (the file counts as closed all the same).
    virtual void Close();
    // Closes without ever throwing.
    virtual void Abort();
    // Stores the path that messages and exceptions name; null throws
    // CInvalidArgException.
    virtual void SetFilePath(const char16_t* path);
    [[nodiscard]] CString GetFilePath() const {
        return m_strFileName;
    }
    [[nodiscard]] bool IsOpen() const {
        return m_hFile != hFileNull;
    }

    // FALSE for a file that cannot seek (a pipe, a terminal, a socket). Such
    // a file is written in sequence: its position is the number of bytes
    // written since it was opened, a seek by 0 from the current position or
    // from the end only reports it, and any other seek fails (badSeek).
    [[nodiscard]] bool IsSeekable() const {
        return m_bSeekable;
    }
    [[nodiscard]] bool IsRegularFile() const {
        return m_bRegular;
    }
    // TRUE when the file is a descriptor the process already had, opened
    // with modeOutput under a name such as /dev/stdout.
    [[nodiscard]] bool IsInherited() const {
        return m_bInherited;
    }
    // TRUE when the open file is the same file as the one open on fd.
    [[nodiscard]] bool IsSameFileAs(int fd) const;
    // TRUE when the open file is the file that path names (links followed).
    [[nodiscard]] bool IsSameFileAs(const char16_t* path) const;
    // An advisory exclusive lock (flock) on the open file, taken without
    // waiting and held until the file is closed. Other processes that ask
    // for it are refused meanwhile; nothing stops one that does not ask.
    LockResult TryLockExclusive();
    // Writes to a file that is not a regular file (a pipe, a terminal) wait
    // for room in pieces, asking cancelled between waits: once it answers
    // TRUE, the write throws CFileException with ECANCELED, so that a
    // stalled reader never holds a stop request up.
    void SetWaitCancel(std::function<bool()> cancelled) {
        m_fnWaitCancelled = std::move(cancelled);
    }

    int m_hFile = hFileNull;  // POSIX descriptor

protected:
    // The position of a file that cannot seek; from == begin or an offset
    // other than 0 throws badSeek.
    [[nodiscard]] ULONGLONG SequentialSeek(LONGLONG offset, UINT from) const;
    bool m_bSeekable = true;
    bool m_bRegular = true;
    bool m_bInherited = false;
    ULONGLONG m_nWrittenInSequence = 0;
    std::function<bool()> m_fnWaitCancelled;
    // Called before every direct descriptor access that must see the same
    // position as a stream layered on top (CStdioFile flushes it).
    virtual void SyncStreamForDirectAccess() {}
    [[noreturn]] void ThrowErrno(int errnoValue) const;
    // Waits until a write would not block, asking m_fnWaitCancelled every
    // tenth of a second; throws CFileException (ECANCELED) once it says so.
    void WaitUntilWritable() const;

    CString m_strFileName;
};

class CStdioFile : public CFile {
public:
    CStdioFile();
    ~CStdioFile() override;

    // Opens the descriptor as CFile does and attaches a stream (text mode
    // unless typeBinary is given; see the file comment for what that means).
    BOOL Open(const char16_t* fileName, UINT openFlags, CFileException* error = nullptr) override;
    UINT Read(void* buffer, UINT count) override;         // through the stream
    void Write(const void* buffer, UINT count) override;  // through the stream
    // Text mode: the text in UTF-8; binary mode: its UTF-16LE code units.
    virtual void WriteString(const char16_t* text);
    // Reads one line into buffer (at most maxUnits - 1 units), keeping the
    // line feed, NUL-terminated; null at end of file.
    virtual char16_t* ReadString(char16_t* buffer, UINT maxUnits);
    // Reads one line of any length without its line feed; FALSE at end of
    // file (line then empty).
    virtual BOOL ReadString(CString& line);
    ULONGLONG Seek(LONGLONG offset, UINT from) override;
    // The stream's position; a file without a stream is at position 0.
    ULONGLONG GetPosition() const override;
    void Close() override;
    void Abort() override;

    [[nodiscard]] bool IsTextMode() const { return m_bTextMode; }

    FILE* m_pStream = nullptr;

protected:
    void SyncStreamForDirectAccess() override;
    enum class LineEncoding { utf8, utf16le };
    // The stream's line read of UTF-16 code units: at most size - 1 units,
    // stopping after a line feed, NUL-terminated; false when nothing could
    // be read at end of file; a read error throws CFileException. utf8
    // decodes UTF-8 (invalid bytes become U+FFFD); utf16le takes two bytes
    // per unit, low byte first, as the base line reads do in binary mode.
    bool ReadLineUnits(char16_t* buffer, size_t size, LineEncoding encoding);
    [[nodiscard]] LineEncoding BaseLineEncoding() const {
        return m_bTextMode ? LineEncoding::utf8 : LineEncoding::utf16le;
    }
    // The stream's line read of bytes (fgets), with the same conventions.
    bool ReadLineBytes(char* buffer, size_t size);
    [[noreturn]] void ThrowStreamError() const;

private:
    bool ReadUtf8Unit(char16_t* out, size_t room, size_t& used);

    bool m_bTextMode = true;
};
