// Writing side of CVelkorStdioFile: the exact bytes of each character set,
// byte-order marks only at position 0, the counted Write, the conversion
// functions, and a full disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "tests/platform/locale_env.h"
#include "tests/platform/temp_dir.h"
#include "textfile/codepage_conversion.h"
#include "textfile/velkor_stdio_file.h"

namespace {

constexpr UINT kReplace = CFile::modeCreate | CFile::modeWrite;
constexpr UINT kAppend = CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite;

// One write as the conversion job makes it: a fresh object in the given
// character set, open, move to the end, one WriteString, close.
void WriteOnce(const CString& path, int encoding, const char16_t* text, UINT mode = kAppend) {
    CVelkorStdioFile file;
    file.m_bUTF8 = encoding == ENC_UTF8;
    file.m_bUnicode = encoding == ENC_UNICODE;
    CFileException error;
    ASSERT_TRUE(file.Open(path, mode, &error));
    file.Seek(0, CFile::end);
    file.WriteString(text);
    file.Close();
}

class VelkorWriteTest : public ::testing::Test {
protected:
    // The ANSI code page is 1252 unless a test sets another locale.
    ScopedLocaleEnv m_locale{"en_US.UTF-8", nullptr, nullptr};
    TempDir m_dir;
};

}  // namespace

TEST_F(VelkorWriteTest, EachCharacterSetWritesItsMarkAndBytes) {
    WriteOnce(m_dir.WidePath("u8.txt"), ENC_UTF8, u"a\r\n");
    EXPECT_EQ(ReadBytes(m_dir.Path("u8.txt")),
              "\xEF\xBB\xBF"
              "a\r\n");
    WriteOnce(m_dir.WidePath("u16.txt"), ENC_UNICODE, u"a\n\U0001F600");
    EXPECT_EQ(ReadBytes(m_dir.Path("u16.txt")), std::string("\xFF\xFE"
                                                            "a\0\n\0\x3D\xD8\x00\xDE",
                                                            10));
    WriteOnce(m_dir.WidePath("ansi.txt"), ENC_ANSI, u"\u00E9\u4E2De\u0301\r\n");
    EXPECT_EQ(ReadBytes(m_dir.Path("ansi.txt")), "\xE9?\xE9\r\n");
    WriteOnce(m_dir.WidePath("u8e.txt"), ENC_UTF8, u"\u00E9");
    EXPECT_EQ(ReadBytes(m_dir.Path("u8e.txt")), "\xEF\xBB\xBF\xC3\xA9");
}

TEST_F(VelkorWriteTest, LineEndsReachTheFileUnchanged) {
    WriteOnce(m_dir.WidePath("lf.txt"), ENC_ANSI, u"x\n");
    EXPECT_EQ(ReadBytes(m_dir.Path("lf.txt")), "x\n");
    WriteOnce(m_dir.WidePath("cr.txt"), ENC_UTF8, u"x\ry\r\n", kReplace);
    EXPECT_EQ(ReadBytes(m_dir.Path("cr.txt")), "\xEF\xBB\xBFx\ry\r\n");
}

TEST_F(VelkorWriteTest, MarkOnlyWhenTheWriteBeginsAtPositionZero) {
    for (int encoding : {ENC_UTF8, ENC_UNICODE}) {
        const CString path = m_dir.WidePath("twice" + std::to_string(encoding));
        WriteOnce(path, encoding, u"a", kReplace);
        WriteOnce(path, encoding, u"b");
        const std::string expected = encoding == ENC_UTF8 ? std::string(
                                                                "\xEF\xBB\xBF"
                                                                "ab")
                                                          : std::string(
                                                                "\xFF\xFE"
                                                                "a\0b\0",
                                                                6);
        EXPECT_EQ(ReadBytes(path.ToUtf8()), expected) << encoding;
    }
    WriteBytes(m_dir.Path("plain.txt"), "old\n");
    WriteOnce(m_dir.WidePath("plain.txt"), ENC_UTF8, u"\u00E9");
    EXPECT_EQ(ReadBytes(m_dir.Path("plain.txt")), "old\n\xC3\xA9");
}

TEST_F(VelkorWriteTest, EmptyTextAtPositionZeroWritesOnlyTheMark) {
    WriteOnce(m_dir.WidePath("e8"), ENC_UTF8, u"");
    WriteOnce(m_dir.WidePath("e16"), ENC_UNICODE, u"");
    WriteOnce(m_dir.WidePath("ea"), ENC_ANSI, u"");
    EXPECT_EQ(ReadBytes(m_dir.Path("e8")), "\xEF\xBB\xBF");
    EXPECT_EQ(ReadBytes(m_dir.Path("e16")), "\xFF\xFE");
    EXPECT_EQ(ReadBytes(m_dir.Path("ea")), "");
}

TEST_F(VelkorWriteTest, OpeningForWritingNeverDetects) {
    WriteBytes(m_dir.Path("marked.txt"), "\xEF\xBB\xBFx");
    CVelkorStdioFile file;
    file.m_bUnicode = true;
    ASSERT_TRUE(file.Open(m_dir.WidePath("marked.txt"), kAppend | CFile::typeText));
    EXPECT_TRUE(file.m_bUnicode);
    EXPECT_FALSE(file.m_bUTF8);
    file.Seek(0, CFile::end);
    file.WriteString(u"y");
    file.Close();
    EXPECT_EQ(ReadBytes(m_dir.Path("marked.txt")), std::string("\xEF\xBB\xBFxy\0", 6));
}

TEST_F(VelkorWriteTest, AnsiFollowsTheLocaleAtEachWriteUnlessACodePageIsSet) {
    CVelkorStdioFile file;
    ASSERT_TRUE(file.Open(m_dir.WidePath("acp.txt"), kReplace));
    file.WriteString(u"\u0416");  // not in 1252
    {
        ScopedLocaleEnv russian("ru_RU.UTF-8", nullptr, nullptr);
        file.WriteString(u"\u0416");
    }
    file.SetCodePage(1250);
    file.WriteString(u"c\u030C");
    file.Close();
    EXPECT_EQ(ReadBytes(m_dir.Path("acp.txt")), "?\xC6\xE8");
}

TEST_F(VelkorWriteTest, Utf8ModeKeepsCodePage65001AfterOpen) {
    CVelkorStdioFile file;
    EXPECT_EQ(file.GetCodePage(), -1);
    file.m_bUTF8 = true;
    ASSERT_TRUE(file.Open(m_dir.WidePath("cp.txt"), kReplace));
    EXPECT_EQ(file.GetCodePage(), 65001);
    file.Close();
    file.m_bUTF8 = false;  // a later ANSI open keeps 65001 until reset
    ASSERT_TRUE(file.Open(m_dir.WidePath("cp.txt"), kAppend));
    file.Seek(0, CFile::end);
    file.WriteString(u"\u00E9");
    file.Close();
    EXPECT_EQ(ReadBytes(m_dir.Path("cp.txt")), "\xC3\xA9");  // no mark: ANSI mode, UTF-8 bytes
}

TEST_F(VelkorWriteTest, CountedWriteCountsUnitsOrBytesByMode) {
    const char16_t units[] = {u'a', u'\u00E9', u'b', u'z'};
    CVelkorStdioFile utf8;
    utf8.m_bUTF8 = true;
    ASSERT_TRUE(utf8.Open(m_dir.WidePath("w8"), kReplace));
    utf8.Write(units, 3);
    utf8.Close();
    EXPECT_EQ(ReadBytes(m_dir.Path("w8")),
              "\xEF\xBB\xBF"
              "a\xC3\xA9"
              "b");

    CVelkorStdioFile utf16;
    utf16.m_bUnicode = true;
    ASSERT_TRUE(utf16.Open(m_dir.WidePath("w16"), kReplace));
    utf16.Write(units, 2);
    utf16.Close();
    EXPECT_EQ(ReadBytes(m_dir.Path("w16")), std::string("\xFF\xFE"
                                                        "a\0\xE9\0",
                                                        6));

    const char16_t withNul[] = {u'x', u'\0', u'y'};
    CVelkorStdioFile stopsAtNul;
    stopsAtNul.m_bUTF8 = true;
    ASSERT_TRUE(stopsAtNul.Open(m_dir.WidePath("wn"), kReplace));
    stopsAtNul.Write(withNul, 3);
    stopsAtNul.Close();
    EXPECT_EQ(ReadBytes(m_dir.Path("wn")), "\xEF\xBB\xBFx");

    CVelkorStdioFile ansi;
    ASSERT_TRUE(ansi.Open(m_dir.WidePath("wa"), kReplace));
    ansi.Write("r\xE9\r\n", 4);   // bytes, unconverted, through the stream
    ansi.WriteString(u"\u00E9");  // direct: must land after the buffered bytes
    ansi.Close();
    EXPECT_EQ(ReadBytes(m_dir.Path("wa")), "r\xE9\r\n\xE9");
}

TEST_F(VelkorWriteTest, FullDiskRaisesDiskFullFromWriteStringInEveryMode) {
    for (int encoding : {ENC_ANSI, ENC_UTF8, ENC_UNICODE}) {
        CVelkorStdioFile file;
        file.m_bUTF8 = encoding == ENC_UTF8;
        file.m_bUnicode = encoding == ENC_UNICODE;
        ASSERT_TRUE(file.Open(u"/dev/full", kAppend));
        file.Seek(0, CFile::end);
        try {
            file.WriteString(std::u16string(5000, u'\u00E9').c_str());
            FAIL() << "no exception for " << encoding;
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_cause, CFileException::diskFull);
            EXPECT_EQ(e.m_lOsError, ENOSPC);
        }
        EXPECT_NO_THROW(file.Close());
    }
}

TEST_F(VelkorWriteTest, UnopenedFileFailsInTheBaseWrite) {
    CVelkorStdioFile file;
    file.m_bUTF8 = true;
    EXPECT_THROW(file.WriteString(u"x"), CFileException);
    EXPECT_THROW(file.SetFilePath(nullptr), CInvalidArgException);
}

TEST_F(VelkorWriteTest, ConversionFunctionsCountAsDesigned) {
    EXPECT_EQ(WideToMultiByteSize(u"\u00E9", 1252), 2);
    EXPECT_EQ(WideToMultiByteSize(u"\u00E9", 65001), 3);
    EXPECT_EQ(WideToMultiByteSize(u"e\u0301", -1), 2);  // composed before counting
    EXPECT_EQ(WideToMultiByteSize(nullptr, 1252), 0);
    char out[8];
    std::fill(std::begin(out), std::end(out), 'x');
    EXPECT_EQ(WideToMultiByte(u"\u00E9\u4E2D", out, 8, -1), 2);
    EXPECT_EQ(std::string(out, 8), std::string("\xE9?\0\0\0\0\0\0", 8));  // cleared first
    EXPECT_EQ(WideToMultiByte(u"abc", out, 2, 1252), 0);                  // too small
    EXPECT_EQ(WideToMultiByte(u"abc", out, 0, 1252), 0);
    EXPECT_EQ(WideToMultiByte(u"abc", nullptr, 8, 1252), 0);
    EXPECT_EQ(WideToMultiByte(u"", out, 8, 65001), 0);
    EXPECT_EQ(MultiByteToWideSize("\xC3\xA9", 65001), 2);
    EXPECT_EQ(MultiByteToWideSize("\xC3\xA9", 1252), 3);
    EXPECT_EQ(MultiByteToWideSize(nullptr, 1252), 0);
    char16_t wide[4];
    EXPECT_EQ(MultiByteToWide("\xE9", wide, 4, -1), 1);
    EXPECT_EQ(wide[0], u'\u00E9');
    EXPECT_EQ(wide[1], u'\0');
    EXPECT_EQ(MultiByteToWide("abc", wide, 0, 1252), 0);
    EXPECT_EQ(MultiByteToWide(nullptr, wide, 4, 1252), 0);
}

namespace {

// The last bytes of a file.
std::string Tail(const std::string& path, size_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(-static_cast<std::streamoff>(count), std::ios::end);
    std::string bytes(count, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    return bytes;
}

}  // namespace

// A string is written whole, NUL units and all, whatever its length: a text
// whose UTF-8 passes 2 GiB is converted and written in pieces. A piece never
// splits a surrogate pair or a character from its combining mark.
TEST_F(VelkorWriteTest, AWholeStringIsWrittenWhateverItHolds) {
    for (int encoding : {ENC_ANSI, ENC_UTF8, ENC_UNICODE}) {
        CVelkorStdioFile file;
        file.m_bUTF8 = encoding == ENC_UTF8;
        file.m_bUnicode = encoding == ENC_UNICODE;
        ASSERT_TRUE(file.Open(m_dir.WidePath("nul"), kReplace));
        file.WriteString(CString(std::u16string(u"a\0b\r\n", 5)));
        file.Close();
        const std::string body = encoding == ENC_ANSI   ? std::string("a\0b\r\n", 5)
                                 : encoding == ENC_UTF8 ? std::string(
                                                              "\xEF\xBB\xBF"
                                                              "a\0b\r\n",
                                                              8)
                                                        : std::string(
                                                              "\xFF\xFE"
                                                              "a\0\0\0b\0\r\0\n\0",
                                                              12);
        EXPECT_EQ(ReadBytes(m_dir.Path("nul")), body) << encoding;
    }

    // A base and its mark across the first piece border still compose.
    std::u16string composed((size_t{1} << 20) - 1, u'x');
    composed += u"e\u0301y";
    {
        CVelkorStdioFile file;
        ASSERT_TRUE(file.Open(m_dir.WidePath("composed"), kReplace));
        file.WriteString(CString(composed));
    }
    EXPECT_EQ(ReadBytes(m_dir.Path("composed")), std::string((size_t{1} << 20) - 1, 'x') + "\xE9y");

    // 750 million CJK characters: 2.25 GB of UTF-8, with a surrogate pair
    // across each piece border.
    constexpr size_t kUnits = 750'000'000;
    std::u16string text(kUnits, u'\u4E2D');
    for (size_t at = (size_t{1} << 20) - 1; at + 2 < kUnits; at += size_t{1} << 20) {
        text[at] = u'\xD83D';
        text[at + 1] = u'\xDE00';
    }
    text.replace(text.size() - 3, 3, u"e\u0301\n");
    CVelkorStdioFile file;
    file.m_bUTF8 = true;
    ASSERT_TRUE(file.Open(m_dir.WidePath("big"), kReplace));
    file.WriteString(CString(std::move(text)));
    file.Close();
    const size_t pairs = (kUnits - 3 - ((size_t{1} << 20) - 1)) / (size_t{1} << 20) + 1;
    const size_t expected = 3 + (kUnits - 3 - 2 * pairs) * 3 + pairs * 4 + 4;
    EXPECT_EQ(std::filesystem::file_size(m_dir.Path("big")), expected);
    EXPECT_EQ(Tail(m_dir.Path("big"), 7),
              "\xE4\xB8\xAD"
              "e\xCC\x81\n");
    std::filesystem::remove(m_dir.Path("big"));
}

namespace {

// What WriteLines must give: the text with its line ends replaced, then
// converted by the code-page service (ICU), which the one-pass UTF-8
// conversion does without.
std::string ReplacedThenConverted(std::u16string text, int encoding, LineEnding lineEnding) {
    const char16_t* newline = lineEnding == LineEnding::Unix  ? u"\n"
                              : lineEnding == LineEnding::Mac ? u"\r"
                                                              : u"\r\n";
    CString replaced(std::move(text));
    replaced.Replace(u"\r\n", newline);
    const std::u16string_view units = replaced.view();
    if (encoding == ENC_UNICODE) {
        std::string bytes = "\xFF\xFE";
        for (const char16_t u : units) {
            bytes += static_cast<char>(u & 0xFF);
            bytes += static_cast<char>(u >> 8);
        }
        return bytes;
    }
    const UINT cp = encoding == ENC_UTF8 ? CP_UTF8 : 1252;
    const DWORD flags = encoding == ENC_UTF8 ? 0 : WC_COMPOSITECHECK | WC_SEPCHARS;
    const char* defaultChar = encoding == ENC_UTF8 ? nullptr : "?";
    const auto count = static_cast<int>(units.size());
    std::string bytes(static_cast<size_t>(count) * 3, '\0');
    const int n = WideCharToMultiByte(cp, flags, units.data(), count, bytes.data(),
                                      static_cast<int>(bytes.size()), defaultChar, nullptr);
    bytes.resize(static_cast<size_t>(std::max(n, 0)));
    return (encoding == ENC_UTF8 ? "\xEF\xBB\xBF" : "") + bytes;
}

}  // namespace

// Line ends are turned in the pass that converts: ASCII runs of every length
// around the sixteen units taken at a time, CRs without LF, CR CR LF, NULs,
// surrogate pairs and lone halves, and a CR LF across a piece border.
TEST_F(VelkorWriteTest, WriteLinesTurnsLineEndsWhileConverting) {
    std::u16string mixed;
    for (int run = 0; run < 40; ++run) {
        mixed += std::u16string(static_cast<size_t>(run), u'a');
        mixed += run % 5 == 0 ? u"\r\n" : run % 5 == 1 ? u"\u00E9\r" : u"\r\r\n";
        mixed += run % 7 == 0 ? std::u16string(u"\0\U0001F600", 3) : u"\u4E2D\xD800x\xDC00";
    }
    std::u16string border((size_t{1} << 20) - 1, u'b');
    border += u"\r\nz\r\n";
    for (const std::u16string& text : {mixed, border}) {
        for (int encoding : {ENC_ANSI, ENC_UTF8, ENC_UNICODE}) {
            for (LineEnding ending : {LineEnding::Windows, LineEnding::Unix, LineEnding::Mac}) {
                CVelkorStdioFile file;
                file.m_bUTF8 = encoding == ENC_UTF8;
                file.m_bUnicode = encoding == ENC_UNICODE;
                ASSERT_TRUE(file.Open(m_dir.WidePath("lines"), kReplace));
                file.WriteLines(CString(text), ending);
                file.Close();
                EXPECT_EQ(ReadBytes(m_dir.Path("lines")),
                          ReplacedThenConverted(text, encoding, ending))
                    << encoding << " " << static_cast<int>(ending) << " " << text.size();
            }
        }
    }
}
