// UTF-16 to UTF-8 with the line ends of a system, in one pass. Runs of
// ASCII, which is most of what a worksheet holds, are narrowed sixteen units
// at a time with SSE2 (part of every x86-64 processor); the other units go
// one by one.
#include "textfile/text_encoding.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

bool IsLeadSurrogate(char32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

bool IsTrailSurrogate(char32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

char Byte(char32_t value) {
    return static_cast<char>(static_cast<unsigned char>(value));
}

// Copies the run of ASCII units at p (stopping at a CR as well when
// stopAtCr) to out as bytes; returns where the run ends.
const char16_t* CopyAsciiRun(const char16_t* p, const char16_t* end, bool stopAtCr, char*& out) {
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i cr = _mm_set1_epi16(static_cast<short>(stopAtCr ? kCr : 0xFFFF));
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
        const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(_mm_or_si128(a, b), high), zero);
        const __m128i crs = _mm_or_si128(_mm_cmpeq_epi16(a, cr), _mm_cmpeq_epi16(b, cr));
        if (_mm_movemask_epi8(ascii) != 0xFFFF || _mm_movemask_epi8(crs) != 0)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
        p += 16;
        out += 16;
    }
#endif
    while (p < end && *p < 0x80 && !(stopAtCr && *p == kCr)) *out++ = Byte(*p++);
    return p;
}

}  // namespace

std::optional<char16_t> NewlineOf(LineEnding lineEnding) {
    switch (lineEnding) {
        case LineEnding::Unix:
            return kLf;
        case LineEnding::Mac:
            return kCr;
        case LineEnding::Windows:
            break;
    }
    return std::nullopt;
}

size_t EncodeUtf8(std::u16string_view text, std::optional<char16_t> newline, char* out) {
    const char16_t* p = text.data();
    const char16_t* const end = p + text.size();
    char* o = out;
    while (p < end) {
        p = CopyAsciiRun(p, end, newline.has_value(), o);
        if (p == end)
            break;
        const char32_t u = *p++;
        if (u < 0x80) {  // a CR, and line ends are replaced
            const bool pair = p < end && *p == kLf;
            *o++ = Byte(pair ? *newline : u);
            p += pair ? 1 : 0;
        } else if (u < 0x800) {
            *o++ = Byte(0xC0 | (u >> 6));
            *o++ = Byte(0x80 | (u & 0x3F));
        } else if (IsLeadSurrogate(u) && p < end && IsTrailSurrogate(*p)) {
            const char32_t c =
                0x10000 + ((u - 0xD800) << 10) + (static_cast<char32_t>(*p++) - 0xDC00);
            *o++ = Byte(0xF0 | (c >> 18));
            *o++ = Byte(0x80 | ((c >> 12) & 0x3F));
            *o++ = Byte(0x80 | ((c >> 6) & 0x3F));
            *o++ = Byte(0x80 | (c & 0x3F));
        } else {
            const char32_t c = IsLeadSurrogate(u) || IsTrailSurrogate(u) ? 0xFFFD : u;
            *o++ = Byte(0xE0 | (c >> 12));
            *o++ = Byte(0x80 | ((c >> 6) & 0x3F));
            *o++ = Byte(0x80 | (c & 0x3F));
        }
    }
    return static_cast<size_t>(o - out);
}

size_t ReplaceLineEnds(std::u16string_view text, char16_t newline, char16_t* out) {
    char16_t* o = out;
    size_t from = 0;
    for (size_t cr; (cr = text.find(u"\r\n", from)) != std::u16string_view::npos; from = cr + 2) {
        std::memcpy(o, text.data() + from, (cr - from) * sizeof(char16_t));
        o += cr - from;
        *o++ = newline;
    }
    std::memcpy(o, text.data() + from, (text.size() - from) * sizeof(char16_t));
    o += text.size() - from;
    return static_cast<size_t>(o - out);
}
