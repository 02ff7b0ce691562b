// Little-endian reads from byte spans, and the helpers that build the
// reader's error messages. Private to the reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "xls/types.h"

namespace xls::detail {

using Bytes = std::span<const uint8_t>;

// Callers check bounds first; these only assemble the value.
inline uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t le64(const uint8_t* p) {
    return static_cast<uint64_t>(le32(p)) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}
inline double leDouble(const uint8_t* p) {
    const uint64_t bits = le64(p);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

inline std::string hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

[[noreturn]] inline void damaged(const std::string& message) {
    throw Error(ErrorKind::Damaged, message);
}

}  // namespace xls::detail
