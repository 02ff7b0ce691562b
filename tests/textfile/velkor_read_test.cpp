// Reading side of CVelkorStdioFile: detection by byte-order mark, line
// reads in the three character sets, lines of any length, other
// delimiters, and read failures while a line grows.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "tests/platform/locale_env.h"
#include "tests/platform/temp_dir.h"
#include "textfile/velkor_stdio_file.h"

namespace {

constexpr UINT kReadText = CFile::modeRead | CFile::typeText;

class VelkorReadTest : public ::testing::Test {
protected:
    CString File(const std::string& name, const std::string& bytes) {
        WriteBytes(m_dir.Path(name), bytes);
        return m_dir.WidePath(name);
    }
    // Every piece ReadString(delimiter) returns until it reports the end.
    static std::vector<std::u16string> ReadAll(CVelkorStdioFile& file, char16_t delimiter = u'\n') {
        std::vector<std::u16string> pieces;
        CString piece;
        while (file.ReadString(piece, delimiter)) pieces.push_back(piece.str());
        EXPECT_TRUE(piece.IsEmpty());
        return pieces;
    }
    std::vector<std::u16string> OpenAndReadAll(const CString& path, char16_t delimiter = u'\n') {
        CVelkorStdioFile file;
        EXPECT_TRUE(file.Open(path, kReadText));
        return ReadAll(file, delimiter);
    }

    ScopedLocaleEnv m_locale{"en_US.UTF-8", nullptr, nullptr};
    TempDir m_dir;
};

using Lines = std::vector<std::u16string>;

std::string Utf16Bytes(std::u16string_view text) {
    std::string bytes;
    for (char16_t u : text) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}

}  // namespace

TEST_F(VelkorReadTest, DetectionByMark) {
    EXPECT_EQ(CVelkorStdioFile::DetectFileEncoding(File("a", std::string("\xFF\xFE\0\0", 4))),
              ENC_UNICODE);
    EXPECT_EQ(CVelkorStdioFile::DetectFileEncoding(File("b", "\xFF\xFE\xEF\xBB\xBF")), ENC_UNICODE);
    EXPECT_EQ(CVelkorStdioFile::DetectFileEncoding(File("c", "\xEF\xBB\xBFx")), ENC_UTF8);
    EXPECT_EQ(CVelkorStdioFile::DetectFileEncoding(File("d", "\xEF\xBB")), ENC_ANSI);
    EXPECT_EQ(CVelkorStdioFile::DetectFileEncoding(File("e", "\xFF")), ENC_ANSI);
    EXPECT_EQ(CVelkorStdioFile::DetectFileEncoding(File("f", "plain")), ENC_ANSI);
    EXPECT_EQ(CVelkorStdioFile::DetectFileEncoding(File("g", "")), ENC_ANSI);
    EXPECT_EQ(CVelkorStdioFile::DetectFileEncoding(m_dir.WidePath("missing")), -1);
    EXPECT_EQ(CVelkorStdioFile::DetectFileEncoding(nullptr), -1);
}

TEST_F(VelkorReadTest, OpenOfAMissingFileClearsTheModeAndFails) {
    CVelkorStdioFile file;
    file.m_bUnicode = true;
    CFileException error;
    EXPECT_FALSE(file.Open(m_dir.WidePath("missing"), kReadText, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_FALSE(file.m_bUnicode);
    EXPECT_FALSE(file.m_bUTF8);
}

TEST_F(VelkorReadTest, Utf16FileGetsABinaryStreamAndReadsUnits) {
    const CString path = File("u16", std::string("\xFF\xFE"
                                                 "a\0b\0\r\0\n\0c\0",
                                                 12));
    CVelkorStdioFile file;
    ASSERT_TRUE(file.Open(path, kReadText));
    EXPECT_TRUE(file.m_bUnicode);
    EXPECT_FALSE(file.IsTextMode());
    EXPECT_EQ(ReadAll(file), (Lines{u"ab", u"c"}));
}

TEST_F(VelkorReadTest, Utf8MarkIsSkippedAndEmptyLinesCount) {
    CVelkorStdioFile file;
    ASSERT_TRUE(file.Open(File("u8", "\xEF\xBB\xBFx\n\n"), kReadText));
    EXPECT_TRUE(file.m_bUTF8);
    EXPECT_EQ(file.GetCodePage(), 65001);
    EXPECT_EQ(ReadAll(file), (Lines{u"x", u""}));
}

TEST_F(VelkorReadTest, UnopenedFileLeavesTheStringAlone) {
    CVelkorStdioFile file;
    CString line(u"kept");
    EXPECT_FALSE(file.ReadString(line, u'\n'));
    EXPECT_EQ(line, u"kept");
}

TEST_F(VelkorReadTest, AnsiFileReadsInTheLocalesCodePage) {
    const CString path = File("ansi", "\xE9\r\n\x80");
    EXPECT_EQ(OpenAndReadAll(path), (Lines{u"\u00E9", u"\u20AC"}));
    ScopedLocaleEnv russian("ru_RU.UTF-8", nullptr, nullptr);
    EXPECT_EQ(OpenAndReadAll(path), (Lines{u"\u0439", u"\u0402"}));
}

TEST_F(VelkorReadTest, CrOnlyLineEndsReadAsOneLine) {
    EXPECT_EQ(OpenAndReadAll(File("cr", "a\rb\r")), (Lines{u"a\rb"}));
}

// Writes lines with WriteString in one character set and line end, then
// reads them back.
class VelkorRoundTripTest : public VelkorReadTest,
                            public ::testing::WithParamInterface<std::tuple<int, const char16_t*>> {
};

TEST_P(VelkorRoundTripTest, LinesComeBackAsWritten) {
    const auto [encoding, lineEnd] = GetParam();
    const Lines lines = encoding == ENC_ANSI ? Lines{u"caf\u00E9;\u20AC 5", u"", u"tab\there",
                                                     std::u16string(5000, u'\u00FC')}
                                             : Lines{u"caf\u00E9;\u4E2D\U0001F600", u"",
                                                     u"\u0416\tx", std::u16string(5000, u'\u4E2D')};
    const CString path = m_dir.WidePath("rt.txt");
    {
        CVelkorStdioFile file;
        file.m_bUTF8 = encoding == ENC_UTF8;
        file.m_bUnicode = encoding == ENC_UNICODE;
        ASSERT_TRUE(file.Open(path, CFile::modeCreate | CFile::modeWrite));
        for (const std::u16string& line : lines) file.WriteString((line + lineEnd).c_str());
    }
    CVelkorStdioFile file;
    ASSERT_TRUE(file.Open(path, kReadText));
    EXPECT_EQ(file.m_bUnicode, encoding == ENC_UNICODE);
    EXPECT_EQ(file.m_bUTF8, encoding == ENC_UTF8);
    EXPECT_EQ(ReadAll(file), lines);
}

INSTANTIATE_TEST_SUITE_P(AllModes, VelkorRoundTripTest,
                         ::testing::Combine(::testing::Values(ENC_ANSI, ENC_UTF8, ENC_UNICODE),
                                            ::testing::Values(u"\r\n", u"\n")));

TEST_F(VelkorReadTest, LinesAroundTheFixedBufferSizeAndVeryLongOnesReadWhole) {
    for (size_t length : {4094u, 4095u, 4096u, 4097u, 4223u, 4224u, 10000u}) {
        const std::string narrow(length, 'x');
        EXPECT_EQ(OpenAndReadAll(File("n", narrow + "\r\nz")),
                  (Lines{std::u16string(length, u'x'), u"z"}))
            << length;
        const std::u16string wide(length, u'\u00E9');
        EXPECT_EQ(OpenAndReadAll(File("w", "\xFF\xFE" + Utf16Bytes(wide + u"\r\nz"))),
                  (Lines{wide, u"z"}))
            << length;
        std::string utf8;
        for (size_t i = 0; i < length; ++i) utf8 += "\xC3\xA9";
        EXPECT_EQ(OpenAndReadAll(File("u", "\xEF\xBB\xBF" + utf8 + "\nz")), (Lines{wide, u"z"}))
            << length;
    }
}

TEST_F(VelkorReadTest, OtherDelimitersReadAcrossLineFeedsAndLoseNothing) {
    EXPECT_EQ(OpenAndReadAll(File("n", "a,b\nc,d"), u','), (Lines{u"a", u"b\nc", u"d"}));
    EXPECT_EQ(OpenAndReadAll(File("w", "\xFF\xFE" + Utf16Bytes(u"a;b\r\nc;")), u';'),
              (Lines{u"a", u"b\r\nc"}));
    const std::string longField(6000, 'q');
    EXPECT_EQ(OpenAndReadAll(File("l", "1\n2\n" + longField + "|tail"), u'|'),
              (Lines{u"1\n2\n" + std::u16string(6000, u'q'), u"tail"}));
}

TEST_F(VelkorReadTest, NonAsciiDelimiterIsMatchedInTheFilesEncoding) {
    EXPECT_EQ(OpenAndReadAll(File("u",
                                  "\xEF\xBB\xBF"
                                  "a\xE2\x82\xAC"
                                  "b"),
                             u'\u20AC'),
              (Lines{u"a", u"b"}));
    EXPECT_EQ(OpenAndReadAll(File("a",
                                  "a\x80"
                                  "b"),
                             u'\u20AC'),
              (Lines{u"a", u"b"}));  // 1252
    EXPECT_EQ(OpenAndReadAll(File("x",
                                  "a\xE2\x82"
                                  "b"),
                             u'\u4E2D'),
              (Lines{u"a\u00E2\u201Ab"}));
}

TEST_F(VelkorReadTest, DoubleByteCharacterIsNotSplitAtATrailByteThatLooksLikeTheDelimiter) {
    CVelkorStdioFile file;
    ASSERT_TRUE(file.Open(File("sjis", "\x95\x5C\\x"), kReadText));
    file.SetCodePage(932);
    EXPECT_EQ(ReadAll(file, u'\\'), (Lines{u"\u8868", u"x"}));
}

TEST_F(VelkorReadTest, FlagSetByHandOnAFileWithoutMarkLosesNoText) {
    CVelkorStdioFile file;
    file.m_bUTF8 = true;
    ASSERT_TRUE(file.Open(File("nomark", "abc\n"), CFile::modeRead | CFile::typeBinary));
    EXPECT_EQ(ReadAll(file), (Lines{u"abc"}));
}

namespace {

// A stream that delivers some bytes and then fails with an I/O error.
struct FailingSource {
    std::string bytes;
    size_t position = 0;
};

ssize_t FailingRead(void* cookie, char* buffer, size_t size) {
    auto* source = static_cast<FailingSource*>(cookie);
    if (source->position >= source->bytes.size()) {
        errno = EIO;
        return -1;
    }
    const size_t n = std::min(size, source->bytes.size() - source->position);
    std::copy_n(source->bytes.data() + source->position, n, buffer);
    source->position += n;
    return static_cast<ssize_t>(n);
}

int FailingSeek(void* cookie, off64_t* offset, int whence) {
    auto* source = static_cast<FailingSource*>(cookie);
    const off64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? static_cast<off64_t>(source->position)
                                              : static_cast<off64_t>(source->bytes.size());
    source->position = static_cast<size_t>(base + *offset);
    *offset = base + *offset;
    return 0;
}

// Runs a line read of an open file on a stream that fails mid-line.
void ExpectReadErrorWhileTheLineGrows(CVelkorStdioFile& file, std::string bytes) {
    FailingSource source{std::move(bytes)};
    FILE* failing = fopencookie(&source, "r", {FailingRead, nullptr, FailingSeek, nullptr});
    ASSERT_NE(failing, nullptr);
    FILE* real = file.m_pStream;
    file.m_pStream = failing;
    CString line(u"before");
    try {
        file.ReadString(line, u'\n');
        ADD_FAILURE() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::hardIO);
    }
    file.m_pStream = real;
    std::fclose(failing);
}

}  // namespace

TEST_F(VelkorReadTest, ReadErrorWhileALineGrowsThrowsAndReleasesTheBuffers) {
    CVelkorStdioFile narrow;
    ASSERT_TRUE(narrow.Open(File("n", "x"), kReadText));
    ExpectReadErrorWhileTheLineGrows(narrow, std::string(9000, 'x'));

    CVelkorStdioFile wide;
    ASSERT_TRUE(wide.Open(File("w", "\xFF\xFE"), kReadText));
    ASSERT_TRUE(wide.m_bUnicode);
    ExpectReadErrorWhileTheLineGrows(wide, "\xFF\xFE" + Utf16Bytes(std::u16string(9000, u'y')));
}
