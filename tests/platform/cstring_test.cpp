// CString: UTF-16 lengths, search and replace, trimming, case, formatting,
// buffers and the UTF-8 edges.
#include "platform/cstring.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

TEST(CStringTest, LengthsCountUtf16UnitsAndUtf8RoundTripsSurrogatePairs) {
    const CString s = CString::FromUtf8("a\xC3\xA9\xF0\x9F\x98\x80");  // a, e-acute, U+1F600
    EXPECT_EQ(s.GetLength(), 4);
    EXPECT_EQ(s[2], 0xD83D);
    EXPECT_EQ(s[3], 0xDE00);
    EXPECT_EQ(s.ToUtf8(), "a\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(CString::FromUtf8("\xFF").GetLength(), 1);  // invalid byte -> U+DCFF
    EXPECT_EQ(CString(u"x\xD800y").ToUtf8(), "x\xEF\xBF\xBDy");
}

TEST(CStringTest, SearchAndSlicing) {
    const CString path(u"/data/out/book.txt");
    EXPECT_EQ(path.ReverseFind(u'/'), 9);
    EXPECT_EQ(path.Find(u'/', 1), 5);
    EXPECT_EQ(path.Find(u"out"), 6);
    EXPECT_EQ(path.Find(u"zzz"), -1);
    EXPECT_EQ(path.Find(u'b', 100), -1);
    EXPECT_EQ(path.Left(5), u"/data");
    EXPECT_EQ(path.Right(3), u"txt");
    EXPECT_EQ(path.Right(100), path);
    EXPECT_EQ(path.Mid(10), u"book.txt");
    EXPECT_EQ(path.Mid(10, 4), u"book");
    EXPECT_TRUE(path.Mid(100).IsEmpty());
    EXPECT_TRUE(path.Left(-1).IsEmpty());
}

TEST(CStringTest, ReplaceCountsAndDoesNotRescanInsertedText) {
    CString text(u"a\r\nb\r\n\r\n");
    EXPECT_EQ(text.Replace(u"\r\n", u"\n"), 3);
    EXPECT_EQ(text, u"a\nb\n\n");
    CString grow(u"xx");
    EXPECT_EQ(grow.Replace(u"x", u"xx"), 2);
    EXPECT_EQ(grow, u"xxxx");
    EXPECT_EQ(grow.Replace(u"", u"y"), 0);
    EXPECT_EQ(grow.Replace(u'x', u'z'), 4);
    EXPECT_EQ(grow, u"zzzz");
}

TEST(CStringTest, TrimRemovesOnlyOuterWhiteSpace) {
    CString s(u" \t\r\n a b \t\n");
    s.Trim();
    EXPECT_EQ(s, u"a b");
    CString blank(u"  \t ");
    blank.TrimLeft();
    EXPECT_TRUE(blank.IsEmpty());
}

TEST(CStringTest, CaseMappingAndCaselessComparisonCoverNonAscii) {
    CString s(u"Unicode \u00E9\u0436");
    s.MakeUpper();
    EXPECT_EQ(s, u"UNICODE \u00C9\u0416");
    EXPECT_EQ(CString(u"unicode").CompareNoCase(u"UNICODE"), 0);
    EXPECT_NE(CString(u"ANSI").CompareNoCase(u"ANSIX"), 0);
    EXPECT_LT(CString(u"Excel").Compare(u"excel"), 0);  // case-sensitive
}

TEST(CStringTest, FormatSubstitutesStringsNumbersAndPercent) {
    CString s;
    s.Format(u"%s: %d records, 100%%", CString(u"Sheet1$"), 1500);
    EXPECT_EQ(s, u"Sheet1$: 1500 records, 100%");
    s.Format(u"%d", -7);
    EXPECT_EQ(s, u"-7");
    EXPECT_THROW(s.Format(u"%s and %s", u"one"), std::invalid_argument);
}

TEST(CStringTest, GetBufferAndReleaseBufferTakeLengthUpToNul) {
    CString s(u"abc");
    char16_t* p = s.GetBuffer(10);
    p[1] = u'\0';
    s.ReleaseBuffer();
    EXPECT_EQ(s, u"a");
    s.GetBuffer(5)[0] = u'z';
    s.ReleaseBuffer(1);
    EXPECT_EQ(s, u"z");
}

TEST(CStringTest, NullPointersReadAsEmpty) {
    const CString s(static_cast<const char16_t*>(nullptr));
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(lstrlenW(nullptr), 0);
    EXPECT_EQ(lstrlenW(u"abc"), 3);
}

// Names are bytes: every byte string makes the round trip through CString
// unchanged, undecodable bytes travelling as U+DC80-U+DCFF.
TEST(CStringTest, AnyBytesMakeTheRoundTrip) {
    EXPECT_EQ(CString::FromUtf8("caf\xE9.xls"), CString(u"caf\xDCE9.xls"));
    for (const std::string bytes :
         {"caf\xE9.xls", "\xC3", "\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80", "a\xF0\x9F\x98",
          "\xE2\x82\xAC\x80\xFF\xFE"}) {
        EXPECT_EQ(CString::FromUtf8(bytes).ToUtf8(), bytes);
    }
    EXPECT_EQ(CString(u"\xDC7F\xDD00").ToUtf8(), "\xEF\xBF\xBD\xEF\xBF\xBD");
}
