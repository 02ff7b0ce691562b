// The text file's code-page conversions over the stand-in's
// WideCharToMultiByte and MultiByteToWideChar.
#include "textfile/codepage_conversion.h"

#include <cstring>

#include "platform/codepage.h"

namespace {

UINT Resolve(int codePage) {
    return codePage == -1 ? GetACP() : static_cast<UINT>(codePage);
}

bool IsUtf8(UINT codePage) {
    return codePage == CP_UTF8;
}

// A count with the terminator excluded.
int WithoutTerminator(int count) {
    return count > 0 ? count - 1 : 0;
}

}  // namespace

int WideToMultiByteSize(const char16_t* text, int codePage) {
    if (!text)
        return 0;
    const UINT cp = Resolve(codePage);
    if (IsUtf8(cp))
        return WideCharToMultiByte(cp, 0, text, -1, nullptr, 0, nullptr, nullptr);
    BOOL usedDefault = FALSE;
    return WideCharToMultiByte(cp, WC_COMPOSITECHECK | WC_SEPCHARS, text, -1, nullptr, 0, "?",
                               &usedDefault);
}

int WideToMultiByte(const char16_t* text, char* out, int outBytes, int codePage) {
    if (!text || !out || outBytes <= 0)
        return 0;
    std::memset(out, 0, static_cast<size_t>(outBytes));
    const UINT cp = Resolve(codePage);
    if (IsUtf8(cp)) {
        return WithoutTerminator(
            WideCharToMultiByte(cp, 0, text, -1, out, outBytes, nullptr, nullptr));
    }
    BOOL usedDefault = FALSE;
    return WithoutTerminator(WideCharToMultiByte(cp, WC_COMPOSITECHECK | WC_SEPCHARS, text, -1, out,
                                                 outBytes, "?", &usedDefault));
}

int MultiByteToWideSize(const char* text, int codePage) {
    if (!text)
        return 0;
    const UINT cp = Resolve(codePage);
    return MultiByteToWideChar(cp, IsUtf8(cp) ? 0 : MB_PRECOMPOSED, text, -1, nullptr, 0);
}

int MultiByteToWide(const char* text, char16_t* out, int outUnits, int codePage) {
    if (!text || !out || outUnits <= 0)
        return 0;
    std::memset(out, 0, static_cast<size_t>(outUnits) * sizeof(char16_t));
    const UINT cp = Resolve(codePage);
    return WithoutTerminator(
        MultiByteToWideChar(cp, IsUtf8(cp) ? 0 : MB_PRECOMPOSED, text, -1, out, outUnits));
}
