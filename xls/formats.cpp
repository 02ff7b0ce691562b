// Number formats and XF records of every BIFF version (see formats.h).
#include "xls/formats.h"

#include "xls/render.h"
#include "xls/strings.h"

namespace xls::detail {
namespace {

constexpr uint16_t kJapan = 81, kKorea = 82, kChina = 86, kTaiwan = 886, kThailand = 66;

constexpr CellType D = CellType::Date, T = CellType::Time, N = CellType::Number;

// The locale-dependent built-in formats 27-36 and 50-58 as the Excel of
// each country defines them (the published format documentation lists
// their codes): 32 and 33 are times everywhere, 34 and 35 times in Chinese
// and Taiwanese Excel but dates in Japanese and Korean Excel; of 50-58,
// Chinese Excel shows 55 and 56 as times, Taiwanese Excel 52, 53, 55 and
// 56, the others all as dates.
struct CountryFormats {
    uint16_t country;
    CellType f27to36[10];
    CellType f50to58[9];
};
constexpr CountryFormats kCountryFormats[] = {
    {kJapan, {D, D, D, D, D, T, T, D, D, D}, {D, D, D, D, D, D, D, D, D}},
    {kKorea, {D, D, D, D, D, T, T, D, D, D}, {D, D, D, D, D, D, D, D, D}},
    {kChina, {D, D, D, D, D, T, T, T, T, D}, {D, D, D, D, D, T, T, D, D}},
    {kTaiwan, {D, D, D, D, D, T, T, T, T, D}, {D, D, T, T, D, T, T, D, D}},
};

// Thai Excel's built-in formats 59-81: numbers, then dates and times.
CellType thaiFormat(uint16_t id) {
    if (id >= 71 && id <= 74) {
        return D;
    }
    if (id == 75 || id == 76 || (id >= 78 && id <= 80)) {
        return T;
    }
    if (id == 77) {
        return CellType::DateTime;
    }
    return id == 81 ? D : N;
}

CellType builtinKind(uint16_t id, uint16_t country) {
    if (country == kThailand && id >= 59 && id <= 81) {
        return thaiFormat(id);
    }
    for (const CountryFormats& c : kCountryFormats) {
        if (c.country != country) {
            continue;
        }
        if (id >= 27 && id <= 36) {
            return c.f27to36[id - 27];
        }
        if (id >= 50 && id <= 58) {
            return c.f50to58[id - 50];
        }
    }
    return builtinFormatKind(id);
}

}  // namespace

void FormatTable::onFormat(const Record& r, const CodePage& cp) {
    // Excel 2.x and 3.0: the text alone; 4.0: two unused bytes first;
    // Excel 5 and later: the format's index, then the text.
    const bool indexed = m_biff >= 5;
    const size_t textAt = r.type == rec::kFormat2 ? 0 : 2;
    if (r.data.size() < textAt + 1) {
        return;
    }
    const uint16_t id = indexed ? le16(r.data.data()) : m_count;
    ++m_count;
    std::u16string code;
    if (m_biff == 8) {
        const Pieces pieces{r.data.subspan(2)};
        PieceReader reader(pieces);
        readUnicodeString(reader, 2, PieceReader::Boundary::Flag, code);
    } else {
        readByteString(r.data, textAt, 1, cp, code);
    }
    m_formats[id] = classifyFormat(code);
    m_codes[id] = std::move(code);
}

void FormatTable::onXf(const Record& r) {
    // The number format's index: BIFF2 in the low six bits of the third
    // byte, BIFF3 and BIFF4 the second byte, BIFF5 and later the second
    // 16-bit field. A record too short to hold it still takes its place in
    // the numbering, as General.
    const Bytes d = r.data;
    uint16_t format = 0;
    switch (r.type) {
        case rec::kXf2:
            format = d.size() >= 3 ? d[2] & 0x3F : 0;
            break;
        case rec::kXf3:
        case rec::kXf4:
            format = d.size() >= 2 ? d[1] : 0;
            break;
        default:
            format = d.size() >= 4 ? le16(d.data() + 2) : 0;
            break;
    }
    m_xfFormats.push_back(format);
}

CellType FormatTable::formatKind(uint16_t index, uint16_t country) const {
    const auto it = m_formats.find(index);
    return it != m_formats.end() ? it->second : builtinKind(index, country);
}

std::vector<CellType> FormatTable::xfKinds(uint16_t country) const {
    std::vector<CellType> kinds;
    kinds.reserve(m_xfFormats.size());
    for (const uint16_t id : m_xfFormats) {
        kinds.push_back(formatKind(id, country));
    }
    return kinds;
}

uint16_t countryFromCodePage(uint16_t codePage) {
    switch (codePage) {
        case 932:
            return kJapan;
        case 949:
        case 1361:
            return kKorea;
        case 936:
            return kChina;
        case 950:
            return kTaiwan;
        case 874:
            return kThailand;
        default:
            return 0;
    }
}

uint16_t codePageFromCharset(uint8_t charset) {
    switch (charset) {
        case 77:
            return 10000;
        case 128:
            return 932;
        case 129:
            return 949;
        case 134:
            return 936;
        case 136:
            return 950;
        case 161:
            return 1253;
        case 162:
            return 1254;
        case 163:
            return 1258;
        case 177:
            return 1255;
        case 178:
            return 1256;
        case 186:
            return 1257;
        case 204:
            return 1251;
        case 222:
            return 874;
        case 238:
            return 1250;
        default:
            return 0;
    }
}

}  // namespace xls::detail
