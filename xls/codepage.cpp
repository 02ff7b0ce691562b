// Code-page decoding through ICU (see codepage.h).
#include "xls/codepage.h"

#include <unicode/ucnv.h>

#include <string>

namespace xls::detail {
namespace {

// Windows code page numbers as BIFF stores them, to ICU converter names.
// 1200 and 21010 (which Mac Excel declares) mean UTF-16: BIFF8 strings say
// so per string, and 8-bit text under them is Latin-1.
std::string icuName(uint16_t cp) {
    switch (cp) {
        case 367:
            return "US-ASCII";
        case 932:
            return "windows-932";
        case 10000:
        case 32768:
            return "macintosh";
        case 10006:
            return "x-mac-greek";
        case 10007:
            return "x-mac-cyrillic";
        case 10029:
            return "x-mac-ce";
        case 10081:
            return "x-mac-turkish";
        case 32769:
            return "windows-1252";
        case 65001:
            return "UTF-8";
        case 1200:
        case 21010:
            return "";
        default:
            break;
    }
    if (cp == 874 || cp == 936 || cp == 949 || cp == 950 || (cp >= 1250 && cp <= 1258)) {
        return "windows-" + std::to_string(cp);
    }
    if (cp >= 437 && cp <= 869) {
        return "cp" + std::to_string(cp);
    }
    return "windows-1252";
}

}  // namespace

void CodePage::Close::operator()(UConverter* c) const noexcept {
    ucnv_close(c);
}

CodePage::CodePage(uint16_t codePage) {
    const std::string name = icuName(codePage);
    if (name.empty()) {
        m_latin1 = true;
        return;
    }
    UErrorCode status = U_ZERO_ERROR;
    m_converter.reset(ucnv_open(name.c_str(), &status));
    if (U_FAILURE(status) || !m_converter) {
        status = U_ZERO_ERROR;
        m_converter.reset(ucnv_open("windows-1252", &status));
        if (U_FAILURE(status)) {
            m_converter.reset();
            m_latin1 = true;
        }
    }
}

CodePage::~CodePage() = default;

void CodePage::append(Bytes bytes, std::u16string& out) const {
    bool ascii = true;
    for (uint8_t b : bytes) {
        ascii = ascii && b < 0x80;
    }
    if (ascii || m_latin1 || !m_converter) {
        out.append(bytes.begin(), bytes.end());
        return;
    }
    // A multi-byte page never yields more UTF-16 units than bytes.
    const size_t base = out.size();
    out.resize(base + bytes.size() + 1);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(m_converter.get());
    const int32_t n = ucnv_toUChars(m_converter.get(), reinterpret_cast<UChar*>(out.data() + base),
                                    static_cast<int32_t>(bytes.size() + 1),
                                    reinterpret_cast<const char*>(bytes.data()),
                                    static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status) || n < 0) {
        out.resize(base);
        out.append(bytes.begin(), bytes.end());
        return;
    }
    out.resize(base + static_cast<size_t>(n));
}

}  // namespace xls::detail
