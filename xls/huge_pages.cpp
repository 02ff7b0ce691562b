#include "xls/huge_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace xls::detail {

namespace {

// Advises the whole pages inside [data, data + bytes).
void adviseWholePages(const void* data, size_t bytes, int advice) {
    const auto pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<uintptr_t>(data);
    const size_t lead = (pageSize - start % pageSize) % pageSize;
    if (data == nullptr || bytes <= lead) {
        return;
    }
    const size_t length = (bytes - lead) & ~(pageSize - 1);
    if (length > 0) {
        // Advice only: a refusal changes nothing the reader relies on.
        (void)::madvise(reinterpret_cast<void*>(start + lead), length, advice);
    }
}

}  // namespace

void adviseHugePages(void* data, size_t bytes) {
    constexpr size_t kHugePage = size_t{2} << 20U;
    if (bytes >= kHugePage) {
        adviseWholePages(data, bytes, MADV_HUGEPAGE);
    }
}

void releasePages(const void* data, size_t bytes) {
    adviseWholePages(data, bytes, MADV_DONTNEED);
}

}  // namespace xls::detail
