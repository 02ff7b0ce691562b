// CVelkorStdioFile: byte-order marks, conversion of whole strings on write,
// encoding detection and delimited line reads of any length.
#include "textfile/velkor_stdio_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "platform/codepage.h"
#include "textfile/codepage_conversion.h"

namespace {

constexpr unsigned char kUtf16Mark[] = {0xFF, 0xFE};
constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
// A line that outgrows the fixed buffer is read on in steps of this many units.
constexpr size_t kGrowthUnits = 128;
constexpr size_t kNotFound = std::numeric_limits<size_t>::max();
// Units converted and written at a time; a piece's end moves back at most
// kMaxPieceBacktrack units to keep a character whole.
constexpr size_t kPieceUnits = size_t{1} << 20;
constexpr size_t kMaxPieceBacktrack = 64;

// TRUE when the unit at index i continues the character before it: the
// second half of a surrogate pair, or a combining mark.
bool StartsInsideCharacter(std::u16string_view text, size_t i) {
    const char16_t unit = text[i];
    if (unit >= 0xDC00 && unit <= 0xDFFF)
        return i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF;
    char32_t c = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    }
    return c >= 0x0300 && IsCombiningMark(c);
}

// A heap block that its user fills before reading it (so its pages are
// not cleared first); exhaustion becomes the framework's exception.
template <class T>
std::unique_ptr<T[]> AllocateTemporary(size_t count) {
    try {
        return std::make_unique_for_overwrite<T[]>(count);
    } catch (const std::bad_alloc&) {
        AfxThrowMemoryException();
    }
}

template <class Unit>
size_t TextLength(const Unit* text) {
    return std::char_traits<Unit>::length(text);
}

// The text read so far of one line: first in the object's fixed buffer,
// then, once it outgrows it, in a heap buffer that this object owns.
template <class Unit>
class LineBuffer {
public:
    explicit LineBuffer(Unit* fixed) : m_data(fixed) {}
    Unit* data() { return m_data; }
    [[nodiscard]] size_t length() const { return m_length; }
    void SetLength(size_t length) { m_length = length; }

    // Room for kGrowthUnits more units and a terminator after the text.
    Unit* Grow() {
        try {
            if (m_heap.empty())
                m_heap.assign(m_data, m_data + m_length);
            m_heap.resize(m_length + kGrowthUnits + 1, Unit{});
        } catch (const std::bad_alloc&) {
            AfxThrowMemoryException();
        }
        m_data = m_heap.data();
        std::fill(m_data + m_length, m_data + m_length + kGrowthUnits + 1, Unit{});
        return m_data + m_length;
    }

private:
    Unit* m_data;
    size_t m_length = 0;
    std::vector<Unit> m_heap;
};

// Where a line read ended: the text before the delimiter and how many
// units the stream delivered after it.
struct LineEnd {
    size_t length;
    size_t unitsAfter;
};

// Reads one line: a first read of up to size - 1 units into the fixed
// buffer, then reads of up to kGrowthUnits units appended to the text, until
// find reports the delimiter or the stream ends. False when nothing at all
// could be read. find(data, scanFrom, length) returns the delimiter's index
// and its length in units, or kNotFound, moving scanFrom past what it has
// ruled out.
template <class Unit, class Read, class Find>
bool ReadChunkedLine(LineBuffer<Unit>& line, size_t fixedSize, Read read, Find find, LineEnd& end) {
    std::fill(line.data(), line.data() + fixedSize, Unit{});
    if (!read(line.data(), fixedSize))
        return false;
    line.SetLength(TextLength(line.data()));
    size_t scanFrom = 0;
    size_t delimiterLength = 0;
    size_t hit = find(line.data(), scanFrom, line.length(), delimiterLength);
    while (hit == kNotFound) {
        Unit* next = line.Grow();
        if (!read(next, kGrowthUnits + 1)) {
            end = {line.length(), 0};
            return true;
        }
        line.SetLength(line.length() + TextLength(next));
        hit = find(line.data(), scanFrom, line.length(), delimiterLength);
    }
    line.data()[hit] = Unit{};
    end = {hit, line.length() - std::min(line.length(), hit + delimiterLength)};
    return true;
}

// The delimiter as the bytes it has in a narrow file's code page; for a
// double-byte code page the search steps over the second byte of each
// double-byte character.
class NarrowDelimiter {
public:
    NarrowDelimiter(char16_t delimiter, int codePage) {
        const UINT cp = codePage == -1 ? GetACP() : static_cast<UINT>(codePage);
        m_matchesTerminator = delimiter == u'\0';
        m_doubleByte = cp == 932 || cp == 936 || cp == 949 || cp == 950;
        m_cp932 = cp == 932;
        if (delimiter < 0x80) {
            m_bytes.assign(1, static_cast<char>(delimiter));
            return;
        }
        char encoded[8] = {};
        BOOL usedDefault = FALSE;
        const int n = cp == CP_UTF8 ? WideCharToMultiByte(cp, 0, &delimiter, 1, encoded,
                                                          sizeof encoded, nullptr, nullptr)
                                    : WideCharToMultiByte(cp, 0, &delimiter, 1, encoded,
                                                          sizeof encoded, "?", &usedDefault);
        // A delimiter that the code page cannot express never matches.
        if (n > 0 && !usedDefault)
            m_bytes.assign(encoded, static_cast<size_t>(n));
    }

    size_t Find(const char* data, size_t& scanFrom, size_t length, size_t& matchLength) const {
        if (m_matchesTerminator) {
            matchLength = 0;
            return length;
        }
        matchLength = m_bytes.size();
        if (m_bytes.empty())
            return kNotFound;
        size_t i = scanFrom;
        while (i < length) {
            const size_t available = length - i;
            if (available >= m_bytes.size()) {
                if (std::memcmp(data + i, m_bytes.data(), m_bytes.size()) == 0)
                    return i;
            } else if (std::memcmp(data + i, m_bytes.data(), available) == 0) {
                break;  // may complete with the next read
            }
            const size_t step = IsLeadByte(static_cast<unsigned char>(data[i])) ? 2 : 1;
            if (i + step > length)
                break;  // the second byte is still unread
            i += step;
        }
        scanFrom = i;
        return kNotFound;
    }

private:
    [[nodiscard]] bool IsLeadByte(unsigned char b) const {
        if (!m_doubleByte)
            return false;
        if (m_cp932)
            return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        return b >= 0x81 && b <= 0xFE;
    }

    std::string m_bytes;
    bool m_matchesTerminator = false;
    bool m_doubleByte = false;
    bool m_cp932 = false;
};

}  // namespace

CVelkorStdioFile::CVelkorStdioFile() = default;

CVelkorStdioFile::~CVelkorStdioFile() = default;

// ------------------------------------------------------------- opening

int CVelkorStdioFile::DetectFileEncoding(const char16_t* fileName) {
    CFile file;
    CFileException ignored;
    if (!file.Open(fileName, CFile::typeBinary, &ignored))
        return -1;
    unsigned char head[3] = {};
    const UINT n = file.Read(head, sizeof head);
    file.Close();
    if (n >= 2 && std::memcmp(head, kUtf16Mark, 2) == 0)
        return ENC_UNICODE;
    if (n == 3 && std::memcmp(head, kUtf8Mark, 3) == 0)
        return ENC_UTF8;
    return ENC_ANSI;
}

BOOL CVelkorStdioFile::Open(const char16_t* fileName, UINT openFlags, CFileException* error) {
    const bool readingText = (openFlags & typeText) && !(openFlags & (modeCreate | modeWrite));
    if (readingText) {
        const int detected = DetectFileEncoding(fileName);
        m_bUnicode = detected == ENC_UNICODE;
        m_bUTF8 = detected == ENC_UTF8;
        // UTF-16 is read as raw bytes, two to a code unit.
        if (m_bUnicode)
            openFlags = (openFlags & ~typeText) | typeBinary;
    }
    if (m_bUTF8)
        SetCodePage(static_cast<int>(CP_UTF8));
    return CStdioFile::Open(fileName, openFlags, error);
}

// ------------------------------------------------------------- writing

void CVelkorStdioFile::WriteDirect(const void* buffer, UINT count) {
    CFile::Write(buffer, count);  // NOLINT(bugprone-parent-virtual-call): the direct write
}

void CVelkorStdioFile::WriteByteOrderMark() {
    if (m_bUnicode && GetPosition() == 0)
        WriteDirect(kUtf16Mark, sizeof kUtf16Mark);
    if (m_bUTF8 && GetPosition() == 0)
        WriteDirect(kUtf8Mark, sizeof kUtf8Mark);
}

void CVelkorStdioFile::WriteUtf16(std::u16string_view piece) {
    if constexpr (std::endian::native == std::endian::little) {
        WriteDirect(piece.data(), static_cast<UINT>(piece.size() * 2));
    } else {
        auto bytes = AllocateTemporary<unsigned char>(piece.size() * 2);
        for (size_t i = 0; i < piece.size(); ++i) {
            bytes[2 * i] = static_cast<unsigned char>(piece[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<unsigned char>(piece[i] >> 8);
        }
        WriteDirect(bytes.get(), static_cast<UINT>(piece.size() * 2));
    }
}

// Converts a piece to the file's code page (every unit, NUL included) and
// writes the bytes with one direct write. UTF-8 takes one pass into a
// buffer of the largest size it can need, line ends included; other code
// pages go through the code-page service, after the line ends.
void CVelkorStdioFile::WriteConverted(std::u16string_view piece, std::optional<char16_t> newline) {
    if (piece.empty())
        return;
    const UINT cp = m_nCodePage == -1 ? GetACP() : static_cast<UINT>(m_nCodePage);
    if (cp == CP_UTF8) {
        auto narrow = AllocateTemporary<char>(piece.size() * 3);
        const size_t bytes = EncodeUtf8(piece, newline, narrow.get());
        WriteDirect(narrow.get(), static_cast<UINT>(bytes));
        return;
    }
    std::unique_ptr<char16_t[]> replaced;
    if (newline) {
        replaced = AllocateTemporary<char16_t>(piece.size());
        piece =
            std::u16string_view(replaced.get(), ReplaceLineEnds(piece, *newline, replaced.get()));
    }
    BOOL usedDefault = FALSE;
    const auto units = static_cast<int>(piece.size());
    const DWORD flags = WC_COMPOSITECHECK | WC_SEPCHARS;
    const int size =
        WideCharToMultiByte(cp, flags, piece.data(), units, nullptr, 0, "?", &usedDefault);
    if (size <= 0)
        return;
    auto narrow = AllocateTemporary<char>(static_cast<size_t>(size));
    const int written =
        WideCharToMultiByte(cp, flags, piece.data(), units, narrow.get(), size, "?", &usedDefault);
    if (written > 0)
        WriteDirect(narrow.get(), static_cast<UINT>(written));
}

void CVelkorStdioFile::WritePiece(std::u16string_view piece, std::optional<char16_t> newline) {
    if (!m_bUnicode) {
        WriteConverted(piece, newline);
    } else if (newline) {
        auto replaced = AllocateTemporary<char16_t>(piece.size());
        WriteUtf16({replaced.get(), ReplaceLineEnds(piece, *newline, replaced.get())});
    } else {
        WriteUtf16(piece);
    }
}

// Pieces of at most kPieceUnits units keep every size of the conversion and
// of the write far inside 32 bits, whatever the length of the text. A piece
// never ends inside a surrogate pair, before a combining mark or between
// the CR and LF of a line end, so that each character converts (and
// composes) and each line end turns exactly as in one pass.
void CVelkorStdioFile::WriteUnits(std::u16string_view text, std::optional<char16_t> newline) {
    WriteByteOrderMark();
    size_t start = 0;
    while (start < text.size()) {
        size_t pieceEnd = text.size();
        if (pieceEnd - start > kPieceUnits) {
            pieceEnd = start + kPieceUnits;
            for (size_t back = 0; back < kMaxPieceBacktrack &&
                                  (StartsInsideCharacter(text, pieceEnd) ||
                                   (text[pieceEnd] == u'\n' && text[pieceEnd - 1] == u'\r'));
                 ++back) {
                --pieceEnd;
            }
        }
        WritePiece(text.substr(start, pieceEnd - start), newline);
        start = pieceEnd;
    }
}

void CVelkorStdioFile::WriteString(const char16_t* text) {
    if (!text)
        AfxThrowInvalidArgException();
    WriteUnits(std::u16string_view(text));
}

void CVelkorStdioFile::WriteString(const CString& text) {
    WriteUnits(text.view());
}

void CVelkorStdioFile::WriteLines(const CString& text, LineEnding lineEnding) {
    WriteUnits(text.view(), NewlineOf(lineEnding));
}

void CVelkorStdioFile::Write(const void* buffer, UINT count) {
    if (count > 0 && !buffer)
        AfxThrowInvalidArgException();
    if (!m_bUnicode && !m_bUTF8) {
        CStdioFile::Write(buffer, count);
        return;
    }
    std::u16string_view units(static_cast<const char16_t*>(buffer), count);
    if (m_bUTF8)
        units = units.substr(0, units.find(u'\0'));  // the conversion stops at a NUL
    WriteUnits(units);
}

// ------------------------------------------------------------- reading

// Skips the mark of a file read from its start, once in the object's life.
// Bytes that turn out not to be the mark are read again as text.
void CVelkorStdioFile::SkipByteOrderMark() {
    if (m_bBOMSkipped)
        return;
    const unsigned char* mark = nullptr;
    size_t markLength = 0;
    if (m_bUnicode && GetPosition() == 0) {
        mark = kUtf16Mark;
        markLength = sizeof kUtf16Mark;
    } else if (m_bUTF8 && GetPosition() == 0) {
        mark = kUtf8Mark;
        markLength = sizeof kUtf8Mark;
    } else {
        return;
    }
    unsigned char head[3] = {};
    const UINT n = CStdioFile::Read(head, static_cast<UINT>(markLength));
    m_bBOMSkipped = true;
    if (n != markLength || std::memcmp(head, mark, markLength) != 0)
        Seek(0, begin);
}

void CVelkorStdioFile::UnreadBytes(size_t bytes) {
    // The stream had read past the delimiter; step back so that the next
    // read starts right after it. A stream that cannot seek drops them.
    if (bytes > 0 && ::fseeko(m_pStream, -static_cast<off_t>(bytes), SEEK_CUR) != 0) {
        ::clearerr(m_pStream);
    }
}

BOOL CVelkorStdioFile::ReadUnicodeLine(CString& string, char16_t delimiter) {
    LineBuffer<char16_t> line(m_wszReadBuffer);
    auto read = [this](char16_t* to, size_t size) {
        return ReadLineUnits(to, size, LineEncoding::utf16le);
    };
    auto find = [delimiter](const char16_t* data, size_t& scanFrom, size_t length,
                            size_t& matchLength) {
        matchLength = delimiter == u'\0' ? 0 : 1;
        if (delimiter == u'\0')
            return length;
        for (size_t i = scanFrom; i < length; ++i) {
            if (data[i] == delimiter)
                return i;
        }
        scanFrom = length;
        return kNotFound;
    };
    LineEnd lineEnd{};
    if (!ReadChunkedLine(line, kReadBufferUnits, read, find, lineEnd)) {
        string.Empty();
        return FALSE;
    }
    UnreadBytes(lineEnd.unitsAfter * 2);
    string = CString(line.data(), static_cast<int>(lineEnd.length));
    return TRUE;
}

BOOL CVelkorStdioFile::ReadNarrowLine(CString& string, char16_t delimiter) {
    LineBuffer<char> line(m_szReadBuffer);
    const NarrowDelimiter narrowDelimiter(delimiter, m_nCodePage);
    auto read = [this](char* to, size_t size) { return ReadLineBytes(to, size); };
    auto find = [&narrowDelimiter](const char* data, size_t& scanFrom, size_t length,
                                   size_t& matchLength) {
        return narrowDelimiter.Find(data, scanFrom, length, matchLength);
    };
    LineEnd lineEnd{};
    if (!ReadChunkedLine(line, kReadBufferUnits, read, find, lineEnd)) {
        string.Empty();
        return FALSE;
    }
    UnreadBytes(lineEnd.unitsAfter);
    const int needed = MultiByteToWideSize(line.data(), m_nCodePage);
    int converted = 0;
    if (needed <= kReadBufferUnits) {
        converted = MultiByteToWide(line.data(), m_wszReadBuffer, kReadBufferUnits, m_nCodePage);
        string = CString(m_wszReadBuffer, converted);
    } else {
        auto wide = AllocateTemporary<char16_t>(static_cast<size_t>(needed));
        converted = MultiByteToWide(line.data(), wide.get(), needed, m_nCodePage);
        string = CString(wide.get(), converted);
    }
    return TRUE;
}

BOOL CVelkorStdioFile::ReadString(CString& string, char16_t delimiter) {
    if (!m_pStream)
        return FALSE;
    SkipByteOrderMark();
    const BOOL found =
        m_bUnicode ? ReadUnicodeLine(string, delimiter) : ReadNarrowLine(string, delimiter);
    if (found && !string.IsEmpty() && string[string.GetLength() - 1] == u'\r') {
        string = string.Left(string.GetLength() - 1);
    }
    return found;
}
