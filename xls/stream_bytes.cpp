// The workbook stream's bytes (see stream_bytes.h).
#include "xls/stream_bytes.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "xls/huge_pages.h"

namespace xls::detail {
namespace {

// Beyond this many runs, or bridges larger than a quarter of the stream
// (and more than 1 MB), the stream is copied whole instead: the bridges
// would cost more than they save.
constexpr size_t kMaxRuns = 64;
constexpr size_t kBridgeAllowance = size_t{1} << 20;

}  // namespace

StreamBytes::StreamBytes(std::vector<uint8_t> bytes) : m_owned(std::move(bytes)) {
    m_size = m_owned.size();
    if (m_size > 0) {
        m_runs.push_back({0, m_owned.data()});
    }
}

StreamBytes::StreamBytes(std::vector<uint8_t> fileBytes, const std::vector<Extent>& extents)
    : m_owned(std::move(fileBytes)) {
    build(m_owned, extents);
}

void StreamBytes::build(Bytes file, const std::vector<Extent>& extents) {
    for (const Extent& e : extents) {
        if (e.size == 0) {
            continue;
        }
        const uint8_t* p = file.data() + e.offset;
        const bool adjoins =
            !m_runs.empty() && m_runs.back().data + (m_size - m_runs.back().begin) == p;
        if (!adjoins) {
            m_runs.push_back({m_size, p});
        }
        m_size += static_cast<size_t>(e.size);
    }
    const size_t seams = m_runs.empty() ? 0 : m_runs.size() - 1;
    if (seams == 0) {
        return;
    }
    // Bridge i holds every span of up to kMaxSpan bytes that crosses the
    // seam before run i + 1.
    auto bridgeRange = [this](size_t i) {
        const size_t seam = m_runs[i + 1].begin;
        return std::pair{seam > kMaxSpan ? seam - kMaxSpan : 0, std::min(m_size, seam + kMaxSpan)};
    };
    size_t bridgeBytes = 0;
    for (size_t i = 0; i < seams; ++i) {
        const auto [from, to] = bridgeRange(i);
        bridgeBytes += to - from;
    }
    if (m_runs.size() > kMaxRuns || bridgeBytes > std::max(m_size / 4, kBridgeAllowance)) {
        std::vector<uint8_t> whole(m_size);
        copyRange(0, m_size, whole.data());
        *this = StreamBytes(std::move(whole));
        return;
    }
    m_bridges.reserve(seams);
    for (size_t i = 0; i < seams; ++i) {
        const auto [from, to] = bridgeRange(i);
        Bridge bridge{from, std::vector<uint8_t>(to - from)};
        copyRange(from, to, bridge.bytes.data());
        m_bridges.push_back(std::move(bridge));
    }
}

size_t StreamBytes::runEnd(size_t i) const {
    return i + 1 < m_runs.size() ? m_runs[i + 1].begin : m_size;
}

void StreamBytes::copyRange(size_t from, size_t to, uint8_t* out) const {
    for (size_t i = 0; i < m_runs.size() && from < to; ++i) {
        const size_t end = runEnd(i);
        if (from >= end) {
            continue;
        }
        const size_t take = std::min(to, end) - from;
        std::memcpy(out, m_runs[i].data + (from - m_runs[i].begin), take);
        out += take;
        from += take;
    }
}

StreamBytes::Window StreamBytes::window(size_t pos, size_t n) const {
    const auto it = std::upper_bound(m_runs.begin(), m_runs.end(), pos,
                                     [](size_t p, const Run& r) { return p < r.begin; });
    const auto i = static_cast<size_t>(it - m_runs.begin()) - 1;
    const size_t end = runEnd(i);
    if (pos + n <= end) {
        return {m_runs[i].begin, end, m_runs[i].data};
    }
    // The span crosses the seam after run i; being at most kMaxSpan long,
    // it lies within that seam's bridge.
    const Bridge& b = m_bridges[i];
    return {b.begin, b.begin + b.bytes.size(), b.bytes.data()};
}

uint16_t StreamBytes::u16At(size_t pos) const {
    const Window w = window(pos, 2);
    return le16(w.data + (pos - w.begin));
}

std::vector<uint8_t> StreamBytes::copy() const {
    std::vector<uint8_t> out(m_size);
    copyRange(0, m_size, out.data());
    return out;
}

void StreamBytes::release(size_t begin, size_t end) const {
    for (size_t i = 0; i < m_runs.size() && begin < end; ++i) {
        const size_t runBegin = m_runs[i].begin;
        const size_t from = std::max(begin, runBegin);
        const size_t to = std::min(end, runEnd(i));
        if (from < to) {
            releasePages(m_runs[i].data + (from - runBegin), to - from);
        }
    }
}

}  // namespace xls::detail
