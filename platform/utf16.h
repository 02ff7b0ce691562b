// Walking UTF-16 text by code point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The code point at text[i] (i < text.size()), moving i past it: a surrogate
// pair gives its supplementary code point, a lone surrogate its own value.
// The result is an ICU UChar32, so it goes to ICU's character functions as
// it is.
inline std::int32_t NextCodePoint(std::u16string_view text, std::size_t& i) {
    const std::int32_t unit = text[i++];
    if (unit >= 0xD800 && unit <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 &&
        text[i] <= 0xDFFF) {
        const std::int32_t trail = text[i++];
        return 0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00);
    }
    return unit;
}
