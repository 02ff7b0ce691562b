// The conversion job without a database: normalisation of its settings, the
// batch checks and the exact bytes they log, WriteText's modes and line
// endings, and where errors go when the log cannot be written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "convert/convert_file_obj.h"
#include "textfile/velkor_stdio_file.h"

namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ConvertJob : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tabrook-convert-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    CString Path(const char* name) const { return CString::FromUtf8((dir / name).string()); }

    // A batch job with the given settings; the driver name is one that no
    // installer knows, which the checks never look at.
    std::string RunBatch(const char16_t* output, const char16_t* worksheet,
                         const char16_t* encoding, const char16_t* delimiter,
                         const char16_t* osType) {
        CConvertFileObj job(Path("book.xls"), output, u"Test Excel Driver", worksheet, encoding,
                            delimiter, osType, Path("DravikErrlog.txt"), true, true);
        job.ConvertFile(nullptr);
        return ReadBytes(dir / "DravikErrlog.txt");
    }

    fs::path dir;
};

TEST_F(ConvertJob, ConstructorNormalisesCharacterSetAndLineEndings) {
    CConvertFileObj a(u"x", u"y", u"d", u"S$", u"Utf-8", u",", u"WINDOWS", u"", true, false);
    EXPECT_EQ(a.m_strEncoding, u"UTF-8");
    EXPECT_EQ(a.m_strOSType, u"Windows");
    CConvertFileObj b(u"x", u"y", u"d", u"S$", u"unicode", u",", u"uNIX", u"", true, false);
    EXPECT_EQ(b.m_strEncoding, u"UNICODE");
    EXPECT_EQ(b.m_strOSType, u"Unix");
    CConvertFileObj c(u"x", u"y", u"d", u"S$", u"", u",", u"9mac", u"", true, false);
    EXPECT_EQ(c.m_strOSType, u"9mac");
    EXPECT_EQ(EncodingIndex(u"ansi"), ENC_ANSI);
    EXPECT_EQ(EncodingIndex(u"UNICODE"), ENC_UNICODE);
    EXPECT_EQ(EncodingIndex(u"Utf-8"), ENC_UTF8);
    EXPECT_EQ(EncodingIndex(u"UTF-16"), ENC_UTF8);
    EXPECT_EQ(CharacterSetOf(u"uNiCoDe"), CharacterSet::Unicode);
    EXPECT_EQ(LineEndingOf(u"WINDOWS"), LineEnding::Windows);
    EXPECT_EQ(LineEndingOf(u"unix"), LineEnding::Unix);
    EXPECT_EQ(LineEndingOf(u"mAC"), LineEnding::Mac);
    EXPECT_EQ(LineEndingOf(u"Linux"), std::nullopt);
    EXPECT_EQ(LineEndingOf(u""), std::nullopt);
}

TEST_F(ConvertJob, EverySettingMissingLogsFiveLinesInOrder) {
    EXPECT_EQ(RunBatch(u"", u"", u"", u"", u""),
              "No Output file set\r\nNo Worksheet set\r\nNo file encoding set\r\nNo Delimiter "
              "set\r\nNo OS set\r\n");
}

TEST_F(ConvertJob, UnknownCharacterSetStopsTheChecks) {
    const CString out = Path("out.txt");
    EXPECT_EQ(RunBatch(out, u"", u"UTF-16", u"", u""),
              "No Worksheet set\r\nInvalid file encoding set\r\n");
    EXPECT_FALSE(fs::exists(dir / "out.txt"));
}

TEST_F(ConvertJob, UnknownLineEndingSystem) {
    const CString out = Path("out.txt");
    EXPECT_EQ(RunBatch(out, u"S$", u"ansi", u",", u"Linux"), "Invalid OS Type set\r\n");
    EXPECT_FALSE(fs::exists(dir / "out.txt"));
}

TEST_F(ConvertJob, AcceptedSettingsReachTheDatabase) {
    // Every check passes: the next problem is the unknown driver, reported
    // as a database error with the driver manager's own words.
    const CString out = Path("out.txt");
    const std::string log = RunBatch(out, u"S$", u"Unicode", u"{tab}", u"mac");
    EXPECT_EQ(log.rfind("Database error: ", 0), 0u) << log;
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    EXPECT_EQ(log.find("\r\n"), log.size() - 2) << "one line only";
}

TEST_F(ConvertJob, EmptyWorkbookOrDriver) {
    CConvertFileObj noBook(u"", u"", u"", u"", u"", u"", u"", Path("DravikErrlog.txt"), true, true);
    noBook.ConvertFile(nullptr);
    EXPECT_FALSE(fs::exists(dir / "DravikErrlog.txt"));
    EXPECT_FALSE(noBook.ErrorReported());
    CConvertFileObj noDriver(u"b.xls", u"", u"", u"", u"", u"", u"", Path("DravikErrlog.txt"), true,
                             true);
    noDriver.ConvertFile(nullptr);
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"), "No Excel ODBC driver found\r\n");
    EXPECT_TRUE(noDriver.ErrorReported());
    // A second run appends after the first.
    noDriver.ConvertFile(nullptr);
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"),
              "No Excel ODBC driver found\r\nNo Excel ODBC driver found\r\n");
}

TEST_F(ConvertJob, WriteTextModesAndLineEndings) {
    CConvertFileObj job(u"b", u"o", u"d", u"S$", u"ANSI", u",", u"Unix", Path("log.txt"), true,
                        true);
    const CString out = Path("out.txt");
    const CString text = u"a\r\nb\r\n";
    job.WriteText(out, text, CConvertFileObj::modeReplace, LineEnding::Unix, CharacterSet::Ansi);
    EXPECT_EQ(ReadBytes(dir / "out.txt"), "a\nb\n");
    job.WriteText(out, text, CConvertFileObj::modeAppend, LineEnding::Mac, CharacterSet::Ansi);
    EXPECT_EQ(ReadBytes(dir / "out.txt"), "a\nb\na\rb\r");
    job.WriteText(out, text, CConvertFileObj::modeAppend, LineEnding::Windows, CharacterSet::Ansi);
    EXPECT_EQ(ReadBytes(dir / "out.txt"), "a\nb\na\rb\ra\r\nb\r\n");
    // Replace truncates; an unknown system writes nothing but still truncates.
    job.WriteText(out, text, CConvertFileObj::modeReplace, std::nullopt, CharacterSet::Ansi);
    EXPECT_EQ(ReadBytes(dir / "out.txt"), "");
    EXPECT_FALSE(job.ErrorReported());
}

TEST_F(ConvertJob, WriteTextEncodingsAndMarks) {
    CConvertFileObj job(u"b", u"o", u"d", u"S$", u"ANSI", u",", u"Unix", Path("log.txt"), true,
                        true);
    const CString out = Path("out.txt");
    job.WriteText(out, u"\u00e9\r\n", CConvertFileObj::modeReplace, LineEnding::Unix,
                  CharacterSet::Utf8);
    job.WriteText(out, u"x", CConvertFileObj::modeAppend, LineEnding::Unix, CharacterSet::Utf8);
    EXPECT_EQ(ReadBytes(dir / "out.txt"), "\xEF\xBB\xBF\xC3\xA9\nx");
    job.WriteText(out, u"\u00e9\r\n", CConvertFileObj::modeReplace, LineEnding::Windows,
                  CharacterSet::Unicode);
    EXPECT_EQ(ReadBytes(dir / "out.txt"), std::string("\xFF\xFE\xE9\x00\r\x00\n\x00", 8));
    // An empty text in replace mode empties the file and writes no mark.
    job.WriteText(out, u"", CConvertFileObj::modeReplace, LineEnding::Windows,
                  CharacterSet::Unicode);
    EXPECT_EQ(ReadBytes(dir / "out.txt"), "");
}

TEST_F(ConvertJob, UnopenableOutputIsLoggedAndUnopenableLogGoesToStandardError) {
    CConvertFileObj job(u"b", u"o", u"d", u"S$", u"ANSI", u",", u"Unix", Path("DravikErrlog.txt"),
                        true, true);
    const CString missingFolder = Path("no/such/folder/out.txt");
    EXPECT_FALSE(job.WriteText(missingFolder, u"x", CConvertFileObj::modeReplace, LineEnding::Unix,
                               CharacterSet::Ansi));
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"),
              "Problem opening output file.\r\nInvalid path or File may be read only.\r\n"
              "No such file or directory\r\n");
    EXPECT_TRUE(job.ErrorReported());

    CConvertFileObj lost(u"b", u"", u"d", u"S$", u"ANSI", u",", u"Unix",
                         Path("no/folder/DravikErrlog.txt"), true, true);
    ::testing::internal::CaptureStderr();
    lost.ConvertFile(nullptr);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("No Output file set"), std::string::npos) << err;
    EXPECT_TRUE(lost.ErrorReported());
}

TEST_F(ConvertJob, DialogModeErrorsGoToTheMessageBox) {
    std::u16string shown;
    auto previous = SetMessageBoxHandler([&](const CString& text, UINT type) {
        shown += text.str() + u"|" + static_cast<char16_t>(u'0' + type);
        return IDOK;
    });
    CConvertFileObj job(u"b.xls", u"o", u"", u"S$", u"", u"", u"", u"", true, false);
    job.ConvertFile(nullptr);
    job.WriteText(Path("no/folder/x"), u"x", CConvertFileObj::modeReplace, LineEnding::Unix,
                  CharacterSet::Ansi);
    SetMessageBoxHandler(previous);
    EXPECT_EQ(shown,
              u"No Excel ODBC driver found|0Problem opening output file.\nInvalid path or File may "
              u"be read only.\nNo such file or directory|0");
    EXPECT_FALSE(fs::exists(dir / "DravikErrlog.txt"));
}

}  // namespace
