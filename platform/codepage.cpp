// GetACP, MultiByteToWideChar and WideCharToMultiByte on ICU. Converters
// and the sets of characters they map are cached per thread and code page,
// so that converting each chunk of a large output costs one ICU call and no
// converter set-up.
#include "platform/codepage.h"

#include "platform/utf16.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unorm2.h>
#include <unicode/uset.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

namespace {

// ------------------------------------------------------- locale -> ANSI

struct LanguageCodePage {
    const char* language;
    UINT codePage;
};

constexpr LanguageCodePage kLanguages[] = {
    {"cs", 1250}, {"hu", 1250}, {"pl", 1250}, {"ro", 1250}, {"hr", 1250}, {"sk", 1250},
    {"sl", 1250}, {"sq", 1250}, {"bs", 1250}, {"ru", 1251}, {"uk", 1251}, {"be", 1251},
    {"bg", 1251}, {"mk", 1251}, {"kk", 1251}, {"ky", 1251}, {"mn", 1251}, {"tt", 1251},
    {"sr", 1251}, {"el", 1253}, {"tr", 1254}, {"az", 1254}, {"he", 1255}, {"ar", 1256},
    {"fa", 1256}, {"ur", 1256}, {"et", 1257}, {"lv", 1257}, {"lt", 1257}, {"vi", 1258},
    {"th", 874},  {"ja", 932},  {"ko", 949},
};

std::string Lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// ------------------------------------------------------ converter cache

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
struct SetCloser {
    void operator()(USet* s) const { uset_close(s); }
};

struct CachedConverter {
    std::unique_ptr<UConverter, ConverterCloser> converter;
    std::unique_ptr<USet, SetCloser> roundTrip;  // filled on first use
};

std::unique_ptr<UConverter, ConverterCloser> OpenConverter(UINT codePage) {
    const std::string number = std::to_string(codePage);
    // Code pages that ICU knows by their standard names only.
    const std::string standard = codePage == 28591   ? "ISO-8859-1"
                                 : codePage == 20932 ? "EUC-JP"
                                                     : "";
    for (const char* prefix : {"windows-", "cp", "ibm-", ""}) {
        if (!*prefix && standard.empty())
            break;
        UErrorCode status = U_ZERO_ERROR;
        UConverter* c = ucnv_open((*prefix ? prefix + number : standard).c_str(), &status);
        if (U_SUCCESS(status) && c)
            return std::unique_ptr<UConverter, ConverterCloser>(c);
        if (c)
            ucnv_close(c);
    }
    return nullptr;
}

// The converter of a code page for this thread, or null when ICU has none.
CachedConverter* ConverterFor(UINT codePage) {
    thread_local std::unordered_map<UINT, CachedConverter> cache;
    auto it = cache.find(codePage);
    if (it == cache.end()) {
        auto converter = OpenConverter(codePage);
        if (!converter)
            return nullptr;
        it = cache.emplace(codePage, CachedConverter{std::move(converter), nullptr}).first;
    }
    return &it->second;
}

const USet* RoundTripSet(CachedConverter& entry) {
    if (!entry.roundTrip) {
        UErrorCode status = U_ZERO_ERROR;
        entry.roundTrip.reset(uset_openEmpty());
        ucnv_getUnicodeSet(entry.converter.get(), entry.roundTrip.get(), UCNV_ROUNDTRIP_SET,
                           &status);
    }
    return entry.roundTrip.get();
}

UINT ResolveCodePage(UINT codePage) {
    return codePage == CP_ACP ? GetACP() : codePage;
}

// ------------------------------------------------- WC_COMPOSITECHECK

bool IsCombining(UChar32 c) {
    return u_getCombiningClass(c) != 0;
}

bool AllMapped(const USet* set, std::u16string_view text) {
    for (size_t i = 0; i < text.size();) {
        if (!uset_contains(set, NextCodePoint(text, i)))
            return false;
    }
    return true;
}

// The NFC form of a short text, or an empty string when ICU fails.
std::u16string Composed(std::u16string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    char16_t buffer[16];
    if (U_FAILURE(status) || text.size() > 16)
        return {};
    const int32_t n =
        unorm2_normalize(nfc, text.data(), static_cast<int32_t>(text.size()), buffer, 16, &status);
    if (U_FAILURE(status) || n <= 0)
        return {};
    return std::u16string(buffer, static_cast<size_t>(n));
}

// A base character and the combining marks after it: the marks are
// composed with the base, left to right, as long as each step gives a
// precomposed character that the code page maps; the rest stay separate.
void AppendSegment(std::u16string& out, std::u16string_view segment, const USet* mapped) {
    size_t i = 0;
    U16_FWD_1(segment.data(), i, segment.size());
    std::u16string current(segment.substr(0, i));
    while (i < segment.size()) {
        size_t next = i;
        U16_FWD_1(segment.data(), next, segment.size());
        std::u16string joined = current;
        joined += segment.substr(i, next - i);
        const std::u16string candidate = Composed(joined);
        if (candidate.empty() || candidate.size() >= joined.size() || !AllMapped(mapped, candidate))
            break;
        current = candidate;
        i = next;
    }
    out += current;
    out += segment.substr(i);
}

// Combining marks all lie at U+0300 and above, so a text without such
// units needs no composition step.
bool MayHaveCombiningMarks(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t u) { return u >= 0x0300; });
}

// The end of the run of combining marks that starts at i.
size_t EndOfMarks(std::u16string_view text, size_t i) {
    while (i < text.size()) {
        size_t next = i;
        const UChar32 c = NextCodePoint(text, next);
        if (!IsCombining(c))
            break;
        i = next;
    }
    return i;
}

// Fills out with the text, each base + combining marks sequence composed
// where the code page has the precomposed character; false (out untouched)
// when the text has no combining mark. Text between sequences is copied in
// runs.
bool ComposeForCodePage(std::u16string_view text, const USet* mapped, std::u16string& out) {
    size_t copied = 0;  // text before this index is already in out
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] < 0x0300) {
            ++i;
            continue;
        }
        size_t next = i;
        const UChar32 c = NextCodePoint(text, next);
        if (!IsCombining(c)) {
            i = next;
            continue;
        }
        if (copied == 0 && out.empty())
            out.reserve(text.size());
        const size_t end = EndOfMarks(text, i);
        size_t baseStart = i;
        if (i > copied)
            U16_BACK_1(text.data(), copied, baseStart);
        out.append(text.substr(copied, baseStart - copied));
        if (baseStart < i) {
            AppendSegment(out, text.substr(baseStart, end - baseStart), mapped);
        } else {
            out.append(text.substr(i, end - i));  // marks without a base
        }
        copied = i = end;
    }
    if (copied == 0)
        return false;
    out.append(text.substr(copied));
    return true;
}

// --------------------------------------------------- from-Unicode side

struct FromUContext {
    bool usedDefault = false;
};

void U_CALLCONV RecordingSubstitute(const void* context, UConverterFromUnicodeArgs* args,
                                    const UChar* units, int32_t length, UChar32 codePoint,
                                    UConverterCallbackReason reason, UErrorCode* status) {
    if (reason == UCNV_UNASSIGNED || reason == UCNV_ILLEGAL || reason == UCNV_IRREGULAR) {
        static_cast<FromUContext*>(const_cast<void*>(context))->usedDefault = true;
    }
    UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, codePoint, reason, status);
}

// Result of an ICU call in Windows' terms: the count, the size needed when
// only asked for the size, 0 on failure or when the output is too small.
int WindowsCount(UErrorCode status, int32_t length, int capacity) {
    if (status == U_BUFFER_OVERFLOW_ERROR)
        return capacity == 0 ? length : 0;
    if (U_FAILURE(status))
        return 0;
    return length;
}

int WideToUtf8(DWORD flags, std::u16string_view text, char* dst, int dstBytes) {
    const UChar32 substitute = (flags & WC_ERR_INVALID_CHARS) ? U_SENTINEL : 0xFFFD;
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8WithSub(dstBytes ? dst : nullptr, dstBytes, &length, text.data(),
                       static_cast<int32_t>(text.size()), substitute, nullptr, &status);
    return WindowsCount(status, length, dstBytes);
}

int WideToCodePage(CachedConverter& entry, DWORD flags, std::u16string_view text, char* dst,
                   int dstBytes, const char* defaultChar, BOOL* usedDefaultChar) {
    UConverter* converter = entry.converter.get();
    UErrorCode status = U_ZERO_ERROR;
    const char* substitute = defaultChar ? defaultChar : "?";
    const size_t substituteLength = std::min<size_t>(std::strlen(substitute), 2);
    ucnv_setSubstChars(converter, substitute,
                       static_cast<int8_t>(substituteLength ? substituteLength : 1), &status);
    ucnv_setFallback(converter, (flags & WC_NO_BEST_FIT_CHARS) == 0);
    FromUContext context;
    ucnv_setFromUCallBack(converter, RecordingSubstitute, &context, nullptr, nullptr, &status);
    if (U_FAILURE(status))
        return 0;

    std::u16string composed;
    if ((flags & WC_COMPOSITECHECK) && MayHaveCombiningMarks(text) &&
        ComposeForCodePage(text, RoundTripSet(entry), composed)) {
        text = composed;
    }
    const int32_t length = ucnv_fromUChars(converter, dstBytes ? dst : nullptr, dstBytes,
                                           text.data(), static_cast<int32_t>(text.size()), &status);
    if (usedDefaultChar)
        *usedDefaultChar = context.usedDefault ? TRUE : FALSE;
    return WindowsCount(status, length, dstBytes);
}

// ----------------------------------------------------- to-Unicode side

int Utf8ToWide(DWORD flags, std::string_view text, char16_t* dst, int dstUnits) {
    const UChar32 substitute = (flags & MB_ERR_INVALID_CHARS) ? U_SENTINEL : 0xFFFD;
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8WithSub(dstUnits ? dst : nullptr, dstUnits, &length, text.data(),
                         static_cast<int32_t>(text.size()), substitute, nullptr, &status);
    return WindowsCount(status, length, dstUnits);
}

int CodePageToWide(UConverter* converter, DWORD flags, std::string_view text, char16_t* dst,
                   int dstUnits) {
    UErrorCode status = U_ZERO_ERROR;
    if (flags & MB_ERR_INVALID_CHARS) {
        ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    } else {
        ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr,
                            &status);
    }
    if (U_FAILURE(status))
        return 0;
    const int32_t length = ucnv_toUChars(converter, dstUnits ? dst : nullptr, dstUnits, text.data(),
                                         static_cast<int32_t>(text.size()), &status);
    return WindowsCount(status, length, dstUnits);
}

}  // namespace

bool IsCombiningMark(char32_t c) {
    return IsCombining(static_cast<UChar32>(c));
}

UINT CodePageForLocale(std::string_view localeName) {
    const size_t languageEnd = localeName.find_first_of("_.@");
    const std::string language = Lowered(localeName.substr(0, languageEnd));
    if (language == "zh") {
        std::string_view rest =
            languageEnd == std::string_view::npos ? "" : localeName.substr(languageEnd);
        const std::string territory =
            rest.starts_with("_") ? Lowered(rest.substr(1, rest.find_first_of(".@") - 1)) : "";
        if (territory == "cn" || territory == "sg")
            return 936;
        if (territory == "tw" || territory == "hk")
            return 950;
        return 1252;
    }
    for (const LanguageCodePage& entry : kLanguages) {
        if (language == entry.language)
            return entry.codePage;
    }
    return 1252;
}

UINT GetACP() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return CodePageForLocale(value);
    }
    return 1252;
}

UINT CodePageOfCodeset(std::string_view codeset) {
    const std::string name = Lowered(codeset);
    if (name == "utf-8" || name == "utf8")
        return CP_UTF8;
    if (name.starts_with("iso-8859-")) {
        const int part = std::atoi(name.c_str() + 9);
        if ((part >= 1 && part <= 9) || part == 13 || part == 15)
            return static_cast<UINT>(28590 + part);
    }
    if (name.starts_with("cp125") && name.size() == 6)
        return static_cast<UINT>(std::atoi(name.c_str() + 2));
    static constexpr struct {
        const char* codeset;
        UINT codePage;
    } kCodesets[] = {{"koi8-r", 20866},   {"koi8-u", 21866},  {"euc-jp", 20932}, {"euc-kr", 51949},
                     {"gb18030", 54936},  {"gbk", 936},       {"gb2312", 936},   {"big5", 950},
                     {"big5-hkscs", 950}, {"shift_jis", 932}, {"tis-620", 874}};
    for (const auto& entry : kCodesets) {
        if (name == entry.codeset)
            return entry.codePage;
    }
    return 0;
}

UINT GetLocaleCodePage() {
    const char* name = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            name = value;
            break;
        }
    }
    UINT codePage = 0;
    if (name) {
        // The codeset the name gives ("pl_PL.UTF-8"), which holds whether or
        // not that locale is installed; else the one the C library knows
        // for the locale, read without touching the process's locale.
        const std::string_view full(name);
        const size_t dot = full.find('.');
        if (dot != std::string_view::npos)
            codePage = CodePageOfCodeset(full.substr(dot + 1, full.find('@', dot) - dot - 1));
        const locale_t locale =
            codePage == 0 ? ::newlocale(LC_CTYPE_MASK, name, nullptr) : locale_t{};
        if (locale) {
            codePage = CodePageOfCodeset(::nl_langinfo_l(CODESET, locale));
            ::freelocale(locale);
        }
    }
    return codePage != 0 ? codePage : GetACP();
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcBytes, char16_t* dst,
                        int dstUnits) {
    if (!src || srcBytes == 0 || srcBytes < -1 || dstUnits < 0 || (dstUnits > 0 && !dst))
        return 0;
    const std::string_view text(
        src, srcBytes == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcBytes));
    codePage = ResolveCodePage(codePage);
    if (codePage == CP_UTF8) {
        if (flags & ~MB_ERR_INVALID_CHARS)
            return 0;
        return Utf8ToWide(flags, text, dst, dstUnits);
    }
    if ((flags & MB_PRECOMPOSED) && (flags & MB_COMPOSITE))
        return 0;
    CachedConverter* entry = ConverterFor(codePage);
    return entry ? CodePageToWide(entry->converter.get(), flags, text, dst, dstUnits) : 0;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* src, int srcUnits, char* dst,
                        int dstBytes, const char* defaultChar, BOOL* usedDefaultChar) {
    if (!src || srcUnits == 0 || srcUnits < -1 || dstBytes < 0 || (dstBytes > 0 && !dst))
        return 0;
    const std::u16string_view text(src, srcUnits == -1 ? std::char_traits<char16_t>::length(src) + 1
                                                       : static_cast<size_t>(srcUnits));
    codePage = ResolveCodePage(codePage);
    if (codePage == CP_UTF8) {
        if ((flags & ~WC_ERR_INVALID_CHARS) || defaultChar || usedDefaultChar)
            return 0;
        return WideToUtf8(flags, text, dst, dstBytes);
    }
    CachedConverter* entry = ConverterFor(codePage);
    return entry ? WideToCodePage(*entry, flags, text, dst, dstBytes, defaultChar, usedDefaultChar)
                 : 0;
}
