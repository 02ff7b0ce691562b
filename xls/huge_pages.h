// Large buffers on transparent huge pages, and their pages given back before
// the buffer goes. Filling tens of megabytes of fresh 4 KB pages costs
// thousands of page faults, which dominate reading a big workbook; with 2 MB
// pages it is a handful. The kernel is asked, not told: one without huge
// pages (or with them switched off) ignores the advice and the buffer works
// the same.
#pragma once

#include <cstddef>
#include <vector>

namespace xls::detail {

// Asks for huge pages behind the whole pages of [data, data + bytes) that
// nothing has touched yet. Regions under 2 MB are left alone.
void adviseHugePages(void* data, size_t bytes);

// Gives the whole pages of [data, data + bytes) back to the system: the
// memory stays allocated, but what it held is gone (it reads as zeros), so
// only bytes that nothing will read again may be given back.
void releasePages(const void* data, size_t bytes);

// v.reserve(n), the new room advised onto huge pages.
template <class T>
void reserveLarge(std::vector<T>& v, size_t n) {
    if (n > v.capacity()) {
        v.reserve(n);
        adviseHugePages(v.data(), n * sizeof(T));
    }
}

}  // namespace xls::detail
