// GetACP from the locale variables and the Windows-style conversions:
// sizes and terminators, "?" with the used-default report, best-fit
// fallbacks, composition under WC_COMPOSITECHECK, UTF-8 rules.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/platform/locale_env.h"

namespace {

// The bytes of text in a code page (flags as the text file passes them).
std::string ToCodePage(UINT cp, std::u16string_view text,
                       DWORD flags = WC_COMPOSITECHECK | WC_SEPCHARS, BOOL* used = nullptr) {
    char out[256] = {};
    const char* defaultChar = cp == CP_UTF8 ? nullptr : "?";
    const int n = WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), out,
                                      sizeof out, defaultChar, used);
    return std::string(out, static_cast<size_t>(n));
}

std::u16string FromCodePage(UINT cp, std::string_view bytes, DWORD flags = MB_PRECOMPOSED) {
    char16_t out[256] = {};
    const int n =
        MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out, 256);
    return std::u16string(out, static_cast<size_t>(n));
}

}  // namespace

TEST(CodePageTest, LocaleLanguageChoosesTheWindowsCodePage) {
    EXPECT_EQ(CodePageForLocale("C"), 1252u);
    EXPECT_EQ(CodePageForLocale("POSIX"), 1252u);
    EXPECT_EQ(CodePageForLocale("en_US.UTF-8"), 1252u);
    EXPECT_EQ(CodePageForLocale("de_DE@euro"), 1252u);
    EXPECT_EQ(CodePageForLocale("cs_CZ.UTF-8"), 1250u);
    EXPECT_EQ(CodePageForLocale("pl"), 1250u);
    EXPECT_EQ(CodePageForLocale("ru_RU.KOI8-R"), 1251u);
    EXPECT_EQ(CodePageForLocale("sr_RS@latin"), 1251u);
    EXPECT_EQ(CodePageForLocale("el_GR"), 1253u);
    EXPECT_EQ(CodePageForLocale("tr_TR.UTF-8"), 1254u);
    EXPECT_EQ(CodePageForLocale("he_IL"), 1255u);
    EXPECT_EQ(CodePageForLocale("fa_IR"), 1256u);
    EXPECT_EQ(CodePageForLocale("lt_LT"), 1257u);
    EXPECT_EQ(CodePageForLocale("vi_VN"), 1258u);
    EXPECT_EQ(CodePageForLocale("th_TH.UTF-8"), 874u);
    EXPECT_EQ(CodePageForLocale("ja_JP.eucJP"), 932u);
    EXPECT_EQ(CodePageForLocale("ko_KR"), 949u);
    EXPECT_EQ(CodePageForLocale("zh_CN.GB18030"), 936u);
    EXPECT_EQ(CodePageForLocale("zh_SG"), 936u);
    EXPECT_EQ(CodePageForLocale("zh_TW.UTF-8"), 950u);
    EXPECT_EQ(CodePageForLocale("zh_HK"), 950u);
    EXPECT_EQ(CodePageForLocale("zh"), 1252u);
    EXPECT_EQ(CodePageForLocale("RU_ru"), 1251u);
    EXPECT_EQ(CodePageForLocale("rue_UA"), 1252u);  // a longer code is another language
}

TEST(CodePageTest, GetAcpReadsLcAllThenLcCtypeThenLang) {
    {
        ScopedLocaleEnv env("ru_RU.UTF-8", "pl_PL.UTF-8", "el_GR.UTF-8");
        EXPECT_EQ(GetACP(), 1251u);
    }
    {
        ScopedLocaleEnv env("", "pl_PL.UTF-8", "el_GR.UTF-8");  // empty counts as unset
        EXPECT_EQ(GetACP(), 1250u);
    }
    {
        ScopedLocaleEnv env(nullptr, nullptr, "el_GR.UTF-8");
        EXPECT_EQ(GetACP(), 1253u);
    }
    {
        ScopedLocaleEnv env(nullptr, nullptr, nullptr);
        EXPECT_EQ(GetACP(), 1252u);
    }
}

TEST(CodePageTest, AnsiCodePageSubstitutesQuestionMarkAndReportsIt) {
    BOOL used = TRUE;
    EXPECT_EQ(ToCodePage(1252, u"caf\u00E9 \u20AC", 0, &used), "caf\xE9 \x80");
    EXPECT_FALSE(used);
    EXPECT_EQ(ToCodePage(1252, u"\u4E2D!", 0, &used), "?!");
    EXPECT_TRUE(used);
    EXPECT_EQ(ToCodePage(1252, u"\xD800x", 0, &used), "?x");  // unpaired surrogate
    EXPECT_TRUE(used);
    EXPECT_EQ(ToCodePage(1251, u"\u0416\u00E9"), "\xC6?");
    EXPECT_EQ(ToCodePage(932, u"\u65E5A"),
              "\x93\xFA"
              "A");
}

TEST(CodePageTest, FallbackMappingsActAsBestFitUnlessRefused) {
    EXPECT_EQ(ToCodePage(1252, u"\uFF21"), "A");  // fullwidth A
    EXPECT_EQ(ToCodePage(1252, u"\uFF21", WC_NO_BEST_FIT_CHARS), "?");
}

TEST(CodePageTest, CompositeCheckComposesWhereTheCodePageHasTheCharacter) {
    EXPECT_EQ(ToCodePage(1252, u"e\u0301"), "\xE9");
    EXPECT_EQ(ToCodePage(1252, u"e\u0301", 0), "e?");  // without the flag
    EXPECT_EQ(ToCodePage(1252, u"a\u030C"), "a?");     // no a-caron in 1252
    EXPECT_EQ(ToCodePage(1250, u"a\u030C"), "a?");
    EXPECT_EQ(ToCodePage(1250, u"c\u030C"), "\xE8");           // c-caron is in 1250
    EXPECT_EQ(ToCodePage(1252, u"\u0301x"), "?x");             // a mark without a base
    EXPECT_EQ(ToCodePage(1252, u"A\u030A\u0301b"), "\xC5?b");  // one mark composes, one stays
}

TEST(CodePageTest, LengthMinusOneCountsTheTerminatorAndSizeQueriesWriteNothing) {
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"ab", -1, nullptr, 0, nullptr, nullptr), 3);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9", -1, nullptr, 0, nullptr, nullptr), 3);
    char out[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"ab", -1, out, 4, nullptr, nullptr), 3);
    EXPECT_EQ(std::string(out, 3), std::string("ab\0", 3));
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"abc", -1, out, 2, nullptr, nullptr), 0);  // too small
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"abc", 0, out, 4, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(1252, 0, nullptr, -1, out, 4, nullptr, nullptr), 0);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "ab", -1, nullptr, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", -1, nullptr, 0), 3);
    char16_t wide[2];
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, wide, 2), 0);
}

TEST(CodePageTest, Utf8RefusesFlagsAndDefaultCharacterAndReplacesLoneSurrogates) {
    char out[16];
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_COMPOSITECHECK, u"a", 1, out, 16, nullptr, nullptr),
              0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, out, 16, "?", nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, out, 16, nullptr, &used), 0);
    EXPECT_EQ(ToCodePage(CP_UTF8, u"e\u0301\u00E9", 0), "e\xCC\x81\xC3\xA9");  // no composition
    const std::u16string lone = u"x\xDC00";
    char bytes[16];
    const int n = WideCharToMultiByte(CP_UTF8, 0, lone.data(), 2, bytes, 16, nullptr, nullptr);
    EXPECT_EQ(std::string(bytes, static_cast<size_t>(n)), "x\xEF\xBF\xBD");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.data(), 2, bytes, 16, nullptr,
                                  nullptr),
              0);
}

TEST(CodePageTest, NarrowToWideDecodesEachCodePage) {
    EXPECT_EQ(FromCodePage(1252, "\x80\xE9\x81"), u"\u20AC\u00E9\u0081");
    EXPECT_EQ(FromCodePage(1251, "\xC6"), u"\u0416");
    EXPECT_EQ(FromCodePage(932, "\x93\xFA"), u"\u65E5");
    EXPECT_EQ(FromCodePage(CP_UTF8,
                           "a\xFF"
                           "b",
                           0),
              u"a\uFFFDb");
    EXPECT_EQ(FromCodePage(CP_UTF8, "a\xFF", MB_ERR_INVALID_CHARS), u"");
    EXPECT_EQ(FromCodePage(CP_UTF8, "a", MB_PRECOMPOSED), u"");  // flags not allowed for UTF-8
    EXPECT_EQ(FromCodePage(12345, "a"), u"");                    // unknown code page
}

TEST(CodePageTest, AnsiCodePageArgumentFollowsTheLocale) {
    ScopedLocaleEnv env("ru_RU.UTF-8", nullptr, nullptr);
    EXPECT_EQ(ToCodePage(CP_ACP, u"\u0416"), "\xC6");
    EXPECT_EQ(FromCodePage(CP_ACP, "\xE9"), u"\u0439");
}

TEST(CodePageTest, LargeTextConvertsInOneCallWithTheSameResult) {
    std::u16string text;
    for (int i = 0; i < 200000; ++i) text += (i % 7 == 0) ? u"e\u0301," : u"ab\u00E9\u4E2D,";
    const int size = WideCharToMultiByte(1252, WC_COMPOSITECHECK | WC_SEPCHARS, text.c_str(), -1,
                                         nullptr, 0, "?", nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ASSERT_EQ(WideCharToMultiByte(1252, WC_COMPOSITECHECK | WC_SEPCHARS, text.c_str(), -1,
                                  out.data(), size, "?", nullptr),
              size);
    EXPECT_EQ(out.substr(0, 12), "\xE9,ab\xE9?,ab\xE9?,");
    EXPECT_EQ(out.back(), '\0');
}
