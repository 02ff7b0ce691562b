// Whole conversions through unixODBC and the project's Excel driver, read
// back byte for byte: every character set and line ending, chunk boundaries
// (counted as file writes), delimiters, values that hold delimiters, quotes
// and line breaks, appending, database errors and the stop request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert_file_obj.h"
#include "textfile/velkor_stdio_file.h"

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kDriver = u"Velkor Excel Driver (*.xls)";

std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Utf16le(const std::u16string& s) {
    std::string out;
    for (char16_t u : s) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

// Records every progress message and raises the job's stop request when
// the message for record stopAt arrives.
class RecordingWnd : public CWnd {
public:
    BOOL PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) override {
        EXPECT_EQ(message, WM_CONVERT_PROGRESS);
        EXPECT_EQ(wParam, 0u);
        posts.push_back(static_cast<int>(lParam));
        std::error_code error;
        const auto size = fs::file_size(output, error);
        sizes.push_back(error ? -1 : static_cast<long long>(size));
        if (job && lParam == stopAt)
            job->SetStop(TRUE);
        return TRUE;
    }
    std::vector<int> posts;
    std::vector<long long> sizes;  // of the output when each message came
    fs::path output;
    CConvertFileObj* job = nullptr;
    LPARAM stopAt = -1;
};

class Export : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tabrook-export-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    CString Out() const { return CString::FromUtf8((dir / "out.txt").string()); }
    std::string OutBytes() const { return ReadBytes(dir / "out.txt"); }
    std::string LogBytes() const { return ReadBytes(dir / "DravikErrlog.txt"); }

    // A batch job on a sheet of the fixture workbook.
    std::unique_ptr<CConvertFileObj> Job(const char16_t* sheet, const char16_t* encoding = u"UTF-8",
                                         const char16_t* delimiter = u"{tab}",
                                         const char16_t* osType = u"Unix", bool overwrite = true,
                                         const char* book = "xlwt_export.xls") const {
        return std::make_unique<CConvertFileObj>(
            CString::FromUtf8(std::string(FIXTURE_DIR "/") + book), Out(), kDriver, sheet, encoding,
            delimiter, osType, CString::FromUtf8((dir / "DravikErrlog.txt").string()), overwrite,
            true);
    }

    fs::path dir;
};

// Each case states the bytes it expects: the mark, the line end, and
// whether the text is UTF-16LE (else single bytes, which ANSI and UTF-8
// share for this ASCII text).
struct GridCase {
    const char16_t* encoding;
    const char16_t* osType;
    std::string_view mark;
    const char16_t* eol;
    bool utf16;
};

class ExportGrid : public Export, public ::testing::WithParamInterface<GridCase> {};

TEST_P(ExportGrid, PensSheetInEveryCharacterSetAndLineEnding) {
    const GridCase& c = GetParam();
    auto job = Job(u"Pens$", c.encoding, u"{tab}", c.osType);
    job->ConvertFile(nullptr);
    EXPECT_FALSE(job->ErrorReported()) << LogBytes();
    const std::u16string eol = c.eol;
    const std::u16string text = u"Name\tQty" + eol + u"pen\t3" + eol + u"ink\t12" + eol;
    const std::string body = c.utf16 ? Utf16le(text) : CString(text).ToUtf8();
    EXPECT_EQ(OutBytes(), std::string(c.mark) + body);
}

constexpr std::string_view kNoMark;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16Mark = "\xFF\xFE";

INSTANTIATE_TEST_SUITE_P(
    AllCombinations, ExportGrid,
    ::testing::Values(GridCase{u"ANSI", u"Windows", kNoMark, u"\r\n", false},
                      GridCase{u"ANSI", u"Unix", kNoMark, u"\n", false},
                      GridCase{u"ANSI", u"Mac", kNoMark, u"\r", false},
                      GridCase{u"UTF-8", u"Windows", kUtf8Mark, u"\r\n", false},
                      GridCase{u"utf-8", u"unix", kUtf8Mark, u"\n", false},
                      GridCase{u"UTF-8", u"MAC", kUtf8Mark, u"\r", false},
                      GridCase{u"Unicode", u"Windows", kUtf16Mark, u"\r\n", true},
                      GridCase{u"UNICODE", u"Unix", kUtf16Mark, u"\n", true},
                      GridCase{u"unicode", u"Mac", kUtf16Mark, u"\r", true}));

std::string NumberedLines(int first, int last) {
    std::string out;
    for (int i = first; i <= last; ++i)
        out += "item" + std::to_string(i) + "\t" + std::to_string(i) + "\n";
    return out;
}

// The output grows only when a chunk is written: seen from the progress
// message of each record, it grows just before records 500 and 1000.
TEST_F(Export, ChunksOf500RecordsAfterThe499th) {
    struct Case {
        const char16_t* sheet;
        int rows;
        std::vector<int> grownAt;
    };
    for (const Case& c : {Case{u"R499$", 499, {}}, Case{u"R500$", 500, {500}},
                          Case{u"R1000$", 1000, {500, 1000}}}) {
        fs::remove(dir / "out.txt");
        RecordingWnd wnd;
        wnd.output = dir / "out.txt";
        auto job = Job(c.sheet, u"ANSI");
        job->ConvertFile(&wnd);
        std::vector<int> grownAt;
        for (size_t i = 1; i < wnd.sizes.size(); ++i) {
            if (wnd.sizes[i] != wnd.sizes[i - 1])
                grownAt.push_back(wnd.posts[i]);
        }
        EXPECT_EQ(grownAt, c.grownAt) << CString(c.sheet).ToUtf8();
        EXPECT_EQ(OutBytes(), "Item\tNumber\n" + NumberedLines(1, c.rows));
    }
}

TEST_F(Export, ChunksAreInTheFileWhileLaterRecordsAreRead) {
    std::vector<uintmax_t> sizes;
    auto job = Job(u"R1000$", u"ANSI");
    // Sizes seen at posts 499, 500 and 1000: the first chunk lands after
    // record 499 has been handled, the second after record 999.
    struct SizeWnd : RecordingWnd {
        BOOL PostMessageW(UINT m, WPARAM w, LPARAM l) override {
            if (l == 499 || l == 500 || l == 1000)
                seen->push_back(fs::exists(path) ? fs::file_size(path) : 0);
            return RecordingWnd::PostMessageW(m, w, l);
        }
        std::vector<uintmax_t>* seen = nullptr;
        fs::path path;
    } sizeWnd;
    sizeWnd.seen = &sizes;
    sizeWnd.path = dir / "out.txt";
    job->ConvertFile(&sizeWnd);
    const uintmax_t first = ("Item\tNumber\n" + NumberedLines(1, 499)).size();
    const uintmax_t second = first + NumberedLines(500, 999).size();
    EXPECT_EQ(sizes, (std::vector<uintmax_t>{0, first, second}));
    ASSERT_EQ(sizeWnd.posts.size(), 1000u);
    EXPECT_EQ(sizeWnd.posts.front(), 1);
    EXPECT_EQ(sizeWnd.posts.back(), 1000);
}

TEST_F(Export, HeaderWithoutRowsWritesNothing) {
    std::ofstream(dir / "out.txt") << "old";
    Job(u"HeaderOnly$", u"UTF-8")->ConvertFile(nullptr);
    EXPECT_EQ(OutBytes(), "") << "replace mode empties the file, without a byte-order mark";
    std::ofstream(dir / "out.txt") << "old";
    Job(u"HeaderOnly$", u"UTF-8", u",", u"Unix", false)->ConvertFile(nullptr);
    EXPECT_EQ(OutBytes(), "old");
    EXPECT_FALSE(fs::exists(dir / "DravikErrlog.txt"));
}

TEST_F(Export, Delimiters) {
    struct Case {
        const char16_t* delimiter;
        const char* expected;
    };
    for (const Case& c : {Case{u"{tab}", "Name\tQty\npen\t3\nink\t12\n"},
                          Case{u"{space}", "Name Qty\npen 3\nink 12\n"},
                          Case{u", ", "Name, Qty\npen, 3\nink, 12\n"},
                          Case{u"<->", "Name<->Qty\npen<->3\nink<->12\n"},
                          Case{u"{TAB}", "Name{TAB}Qty\npen{TAB}3\nink{TAB}12\n"}}) {
        auto job = Job(u"Pens$", u"ANSI", c.delimiter);
        job->ConvertFile(nullptr);
        EXPECT_EQ(OutBytes(), c.expected);
    }
}

TEST_F(Export, ValuesAreWrittenUnquotedAndLineBreaksFollowTheSystem) {
    Job(u"Values$", u"UTF-8", u",", u"Unix")->ConvertFile(nullptr);
    EXPECT_EQ(OutBytes(),
              "\xEF\xBB\xBFText,Gap,Last\na,b,,say \"hi\"\nline1\nline2,tab\there,"
              "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\n2.5,,\n");
    Job(u"Values$", u"ANSI", u",", u"Mac")->ConvertFile(nullptr);
    EXPECT_EQ(OutBytes(), "Text,Gap,Last\ra,b,,say \"hi\"\rline1\rline2,tab\there,\xE9??\r2.5,,\r");
}

TEST_F(Export, AppendKeepsTheOldContentsAndAddsNoMark) {
    std::ofstream(dir / "out.txt") << "old\n";
    Job(u"Pens$", u"UTF-8", u"{tab}", u"Unix", false)->ConvertFile(nullptr);
    EXPECT_EQ(OutBytes(), "old\nName\tQty\npen\t3\nink\t12\n");
}

TEST_F(Export, DatabaseErrorsAreLogged) {
    struct Case {
        const char16_t* sheet;
        const char* book;
        const char* mentions;
    };
    for (const Case& c :
         {Case{u"Nope$", "xlwt_export.xls", "Nope$"}, Case{u"Pens$", "missing.xls", "missing.xls"},
          Case{u"Pens$", "xlwt_export_truncated.xls", "damaged"},
          Case{u"a]b$", "xlwt_export.xls", ""}}) {
        fs::remove(dir / "DravikErrlog.txt");
        auto job = Job(c.sheet, u"UTF-8", u",", u"Unix", true, c.book);
        job->ConvertFile(nullptr);
        EXPECT_TRUE(job->ErrorReported());
        const std::string log = LogBytes();
        EXPECT_EQ(log.rfind("Database error: ", 0), 0u) << log;
        EXPECT_NE(log.find(c.mentions), std::string::npos) << log;
        EXPECT_EQ(log.find("\r\n"), log.size() - 2) << "a single line: " << log;
        EXPECT_FALSE(fs::exists(dir / "out.txt"));
        EXPECT_NE(job->m_pDatabase, nullptr) << "kept until the job is destroyed";
    }
}

TEST_F(Export, TwoWordSheetNameAndNoProgressInBatchMode) {
    auto job = Job(u"Two Words$", u"ANSI", u",");
    job->ConvertFile(nullptr);
    EXPECT_EQ(OutBytes(), "K\nv\n");
    EXPECT_EQ(job->m_pDatabase, nullptr);
    EXPECT_EQ(job->m_strDelimiter, u",");
}

TEST_F(Export, StopRequestEndsTheRunBeforeTheNextRecord) {
    RecordingWnd wnd;
    auto job = Job(u"R1201$", u"ANSI");
    wnd.job = job.get();
    wnd.stopAt = 1201;
    job->ConvertFile(&wnd);
    ASSERT_EQ(wnd.posts.size(), 1201u);
    for (size_t i = 0; i < wnd.posts.size(); ++i) ASSERT_EQ(wnd.posts[i], static_cast<int>(i + 1));
    EXPECT_EQ(OutBytes(), "Item\tNumber\n" + NumberedLines(1, 1200));
    EXPECT_EQ(job->m_strDelimiter, u"\t");
}

TEST_F(Export, StopBeforeTheFirstRecordWritesAnEmptyFile) {
    RecordingWnd wnd;
    auto job = Job(u"Pens$", u"UTF-8");
    job->SetStop(TRUE);
    std::ofstream(dir / "out.txt") << "old";
    job->ConvertFile(&wnd);
    EXPECT_EQ(wnd.posts, std::vector<int>{1});
    EXPECT_EQ(OutBytes(), "");
}

}  // namespace
