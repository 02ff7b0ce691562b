// CVelkorStdioFile: the text file through which the program writes its
// output and its error log, in one of three character sets.
//
// ANSI: the text converted to a code page (the ANSI code page unless
// SetCodePage chose another), "?" for characters that it lacks, no mark.
// UTF-8: a mark EF BB BF, then UTF-8. Unicode: a mark FF FE, then each
// UTF-16 code unit low byte first. A mark is written only when a write
// begins at position 0, so appending to a file that is not empty adds none.
// Text is written as given: no newline translation, no terminator.
//
// Opened for reading in text mode, the file recognises its character set by
// its mark; ReadString then returns its lines (or the pieces between a
// chosen delimiter) as UTF-16, without the mark and without a final CR.
#pragma once

#include <string_view>
#include <vector>

#include "platform/file.h"
#include "textfile/text_encoding.h"

class CVelkorStdioFile : public CStdioFile {
public:
    static constexpr int kReadBufferUnits = 4096;

    CVelkorStdioFile();
    ~CVelkorStdioFile() override;

    // Detects the character set first when opened for reading in text mode
    // (a Unicode file then gets a binary stream); in UTF-8 mode the code
    // page becomes 65001. Then opens as CStdioFile does.
    BOOL Open(const char16_t* fileName, UINT openFlags, CFileException* error = nullptr) override;
    // Counted write: count UTF-16 units in Unicode and UTF-8 mode (written
    // after the mark), count bytes passed unchanged to the stream in ANSI
    // mode. Failures throw CFileException or CMemoryException.
    void Write(const void* buffer, UINT count) override;
    // Writes the mark (at position 0) and the whole text converted to the
    // file's character set, directly to the file; a failure (a full disk)
    // throws CFileException, memory exhaustion CMemoryException.
    void WriteString(const char16_t* text) override;
    // The same for every unit of a string, NUL units included (a NUL inside
    // a cell is data, not the end of the text). Long texts are converted
    // and written in pieces, so no size of the text limits it.
    void WriteString(const CString& text);
    // The same with each CR LF of the text turned into the line end of
    // lineEnding, in the pass that converts it.
    void WriteLines(const CString& text, LineEnding lineEnding);

    using CStdioFile::ReadString;
    // Reads up to the next delimiter (or end of file) into string, skipping
    // the mark once and dropping one final CR. FALSE with string emptied at
    // end of file; FALSE with string untouched when the file is not open.
    virtual BOOL ReadString(CString& string, char16_t delimiter);

    // -1 stands for the ANSI code page of the moment (GetACP).
    void SetCodePage(int codePage) { m_nCodePage = codePage; }
    [[nodiscard]] int GetCodePage() const { return m_nCodePage; }

    // ENC_UNICODE for a file that begins FF FE, ENC_UTF8 for EF BB BF,
    // ENC_ANSI for any other (empty or short) file, -1 when it cannot be
    // opened. A read failure throws CFileException.
    static int DetectFileEncoding(const char16_t* fileName);

    bool m_bUnicode = false;
    bool m_bUTF8 = false;

protected:
    int m_nCodePage = -1;
    bool m_bBOMSkipped = false;
    char16_t m_wszReadBuffer[kReadBufferUnits];
    char m_szReadBuffer[kReadBufferUnits];

private:
    // Bytes straight to the descriptor, past the stream's text handling.
    void WriteDirect(const void* buffer, UINT count);
    void WriteByteOrderMark();
    // The mark, then the units in pieces, each CR LF turned into newline
    // when there is one.
    void WriteUnits(std::u16string_view text, std::optional<char16_t> newline = std::nullopt);
    void WritePiece(std::u16string_view piece, std::optional<char16_t> newline);
    void WriteUtf16(std::u16string_view piece);
    void WriteConverted(std::u16string_view piece, std::optional<char16_t> newline);
    void SkipByteOrderMark();
    BOOL ReadUnicodeLine(CString& string, char16_t delimiter);
    BOOL ReadNarrowLine(CString& string, char16_t delimiter);
    // Puts back what a line read consumed beyond the delimiter.
    void UnreadBytes(size_t bytes);
};
