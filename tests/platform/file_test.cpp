// CFile and CStdioFile: open failures reported through CFileException,
// truncation, direct writes that keep their place among stream writes,
// full-disk failures, and the line reads of text and binary mode.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/platform/temp_dir.h"

namespace {

constexpr UINT kReplace = CFile::modeCreate | CFile::modeWrite;
constexpr UINT kAppend = CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite;

}  // namespace

TEST(CFileTest, FailedOpenFillsCauseErrnoAndNameWithoutThrowing) {
    TempDir dir;
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(dir.WidePath("missing.txt"), CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(error.m_lOsError, ENOENT);
    EXPECT_EQ(error.m_strFileName, dir.WidePath("missing.txt"));
    EXPECT_FALSE(file.IsOpen());

    CFileException badPath;
    EXPECT_FALSE(file.Open(dir.WidePath("no/such/dir/x.txt"), kReplace, &badPath));
    EXPECT_EQ(badPath.m_cause, CFileException::fileNotFound);
    EXPECT_FALSE(
        file.Open(dir.WidePath("missing.txt"), CFile::modeRead));  // null exception pointer
}

TEST(CFileTest, FolderOpensAsNoFileForReadingOrWriting) {
    TempDir dir;
    CStdioFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(dir.WidePath(""), CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::accessDenied);
    CFileException writeError;
    EXPECT_FALSE(file.Open(dir.WidePath(""), kAppend, &writeError));
    EXPECT_EQ(writeError.m_cause, CFileException::accessDenied);
}

TEST(CFileTest, SuccessfulOpenLeavesTheExceptionUntouched) {
    TempDir dir;
    CStdioFile file;
    CFileException error;
    ASSERT_TRUE(file.Open(dir.WidePath("new.txt"), kReplace, &error));
    EXPECT_EQ(error.m_cause, CFileException::none);
    EXPECT_EQ(file.GetFilePath(), dir.WidePath("new.txt"));
}

TEST(CFileTest, CreateTruncatesUnlessNoTruncate) {
    TempDir dir;
    const std::string path = dir.Path("f.txt");
    WriteBytes(path, "12345");
    {
        CStdioFile file;
        ASSERT_TRUE(file.Open(dir.WidePath("f.txt"), kAppend));
        EXPECT_EQ(file.GetPosition(), 0u);
        EXPECT_EQ(file.Seek(0, CFile::end), 5u);
        file.Write("67", 2);
        file.Close();
    }
    EXPECT_EQ(ReadBytes(path), "1234567");
    {
        CStdioFile file;
        ASSERT_TRUE(file.Open(dir.WidePath("f.txt"), kReplace));
        EXPECT_EQ(file.Seek(0, CFile::end), 0u);
    }
    EXPECT_EQ(ReadBytes(path), "");
}

TEST(CFileTest, DirectWritesKeepTheirPlaceAmongStreamWrites) {
    TempDir dir;
    CStdioFile file;
    ASSERT_TRUE(file.Open(dir.WidePath("mix.bin"), kReplace | CFile::typeBinary));
    file.Write("ab", 2);         // buffered in the stream
    file.CFile::Write("CD", 2);  // straight to the descriptor
    EXPECT_EQ(file.GetPosition(), 4u);
    file.Write("ef", 2);
    file.Close();
    EXPECT_EQ(ReadBytes(dir.Path("mix.bin")), "abCDef");
}

TEST(CFileTest, DirectWriteAfterStreamReadWritesAtTheReadPosition) {
    TempDir dir;
    WriteBytes(dir.Path("rw.bin"), "0123456789");
    CStdioFile file;
    ASSERT_TRUE(file.Open(dir.WidePath("rw.bin"), CFile::modeReadWrite | CFile::typeBinary));
    char two[2];
    ASSERT_EQ(file.Read(two, 2), 2u);  // the stream has read ahead the whole file
    file.CFile::Write("xy", 2);
    EXPECT_EQ(file.GetPosition(), 4u);
    file.Close();
    EXPECT_EQ(ReadBytes(dir.Path("rw.bin")), "01xy456789");
}

TEST(CFileTest, FullDiskThrowsDiskFullOnDirectWriteAndOnClose) {
    CStdioFile file;
    ASSERT_TRUE(file.Open(u"/dev/full", kReplace));
    EXPECT_EQ(file.GetPosition(), 0u);
    try {
        file.CFile::Write("x", 1);
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::diskFull);
        EXPECT_EQ(e.m_lOsError, ENOSPC);
        EXPECT_EQ(e.m_strFileName, u"/dev/full");
    }
    file.Write("buffered", 8);  // lands in the stream's buffer
    try {
        file.Close();
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::diskFull);
    }
    EXPECT_EQ(file.m_pStream, nullptr);  // closed all the same
    EXPECT_FALSE(file.IsOpen());
}

TEST(CFileTest, UnopenedFileIsAtPositionZeroAndRefusesIo) {
    CStdioFile file;
    EXPECT_EQ(file.GetPosition(), 0u);
    EXPECT_THROW(file.Write("x", 1), CFileException);
    EXPECT_THROW(file.CFile::Write("x", 1), CFileException);
    char c;
    EXPECT_THROW(file.Read(&c, 1), CFileException);
    EXPECT_NO_THROW(file.Write("", 0));
    EXPECT_NO_THROW(file.Close());
}

TEST(CFileTest, NullPathIsAnInvalidArgument) {
    CFile file;
    EXPECT_THROW(file.SetFilePath(nullptr), CInvalidArgException);
    file.SetFilePath(u"/tmp/x");
    EXPECT_EQ(file.GetFilePath(), u"/tmp/x");
}

TEST(CFileTest, PlainFileReadsAndSeeks) {
    TempDir dir;
    WriteBytes(dir.Path("p.bin"), "hello world");
    CFile file;
    ASSERT_TRUE(file.Open(dir.WidePath("p.bin"), CFile::typeBinary));
    EXPECT_EQ(file.GetLength(), 11u);
    EXPECT_EQ(file.Seek(6, CFile::begin), 6u);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);
    EXPECT_STREQ(buffer, "world");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_THROW(file.Seek(-100, CFile::current), CFileException);
}

TEST(CStdioFileTest, TextModeWritesUtf8AndReadsCrLfAsLf) {
    TempDir dir;
    {
        CStdioFile file;
        ASSERT_TRUE(file.Open(dir.WidePath("t.txt"), kReplace | CFile::typeText));
        file.WriteString(u"\u00E9\r\nb\n\U0001F600");
    }
    EXPECT_EQ(ReadBytes(dir.Path("t.txt")), "\xC3\xA9\r\nb\n\xF0\x9F\x98\x80");
    CStdioFile file;
    ASSERT_TRUE(file.Open(dir.WidePath("t.txt"), CFile::modeRead | CFile::typeText));
    CString line(u"old");
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"\u00E9");
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"b");
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"\U0001F600");
    EXPECT_FALSE(file.ReadString(line));
    EXPECT_TRUE(line.IsEmpty());
}

TEST(CStdioFileTest, BinaryModeLineReadsTakeUtf16LowByteFirst) {
    TempDir dir;
    WriteBytes(dir.Path("u.bin"), std::string("a\0\r\0\n\0b\0c\0", 10));
    CStdioFile file;
    ASSERT_TRUE(file.Open(dir.WidePath("u.bin"), CFile::modeRead | CFile::typeBinary));
    char16_t buffer[8];
    ASSERT_NE(file.ReadString(buffer, 8), nullptr);
    EXPECT_EQ(std::u16string(buffer), u"a\r\n");     // binary mode keeps CR and LF
    ASSERT_NE(file.ReadString(buffer, 2), nullptr);  // room for one unit
    EXPECT_EQ(std::u16string(buffer), u"b");
    CString rest;
    ASSERT_TRUE(file.ReadString(rest));
    EXPECT_EQ(rest, u"c");
    EXPECT_EQ(file.ReadString(buffer, 8), nullptr);
}

TEST(CStdioFileTest, LineReadNeverSplitsASurrogatePairAcrossBufferEnds) {
    TempDir dir;
    WriteBytes(dir.Path("s.txt"), "a\xF0\x9F\x98\x80z");
    CStdioFile file;
    ASSERT_TRUE(file.Open(dir.WidePath("s.txt"), CFile::modeRead));
    char16_t buffer[3];  // room for 2 units: 'a' and half a pair
    ASSERT_NE(file.ReadString(buffer, 3), nullptr);
    EXPECT_EQ(std::u16string(buffer), u"a");
    ASSERT_NE(file.ReadString(buffer, 3), nullptr);
    EXPECT_EQ(std::u16string(buffer), u"\U0001F600");
    CString line;
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"z");
}

TEST(CStdioFileTest, LongLinesReadWhole) {
    TempDir dir;
    const std::string longLine(10000, 'q');
    WriteBytes(dir.Path("l.txt"), longLine + "\r\nend");
    CStdioFile file;
    ASSERT_TRUE(file.Open(dir.WidePath("l.txt"), CFile::modeRead | CFile::typeText));
    CString line;
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line.GetLength(), 10000);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"end");
}

TEST(CFileExceptionTest, ErrnoMapsToTheFrameworkCauses) {
    EXPECT_EQ(CFileException::OsErrorToException(ENOENT), CFileException::fileNotFound);
    EXPECT_EQ(CFileException::OsErrorToException(EACCES), CFileException::accessDenied);
    EXPECT_EQ(CFileException::OsErrorToException(EPERM), CFileException::accessDenied);
    EXPECT_EQ(CFileException::OsErrorToException(EROFS), CFileException::accessDenied);
    EXPECT_EQ(CFileException::OsErrorToException(ENOSPC), CFileException::diskFull);
    EXPECT_EQ(CFileException::OsErrorToException(ENOTDIR), CFileException::badPath);
    EXPECT_EQ(CFileException::OsErrorToException(EMFILE), CFileException::tooManyOpenFiles);
    EXPECT_EQ(CFileException::OsErrorToException(EINVAL), CFileException::genericException);
    const CFileException e(CFileException::diskFull, ENOSPC, u"/out/a.txt");
    const CString message = e.GetErrorMessage();
    EXPECT_GE(message.Find(u"/out/a.txt"), 0);
    EXPECT_GE(message.Find(u"space"), 0);
}
