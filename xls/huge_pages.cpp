#include "xls/huge_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace xls::detail {

void adviseHugePages(void* data, size_t bytes) {
    constexpr size_t kHugePage = size_t{2} << 20U;
    if (data == nullptr || bytes < kHugePage) {
        return;
    }
    const auto pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<uintptr_t>(data);
    const size_t lead = (pageSize - start % pageSize) % pageSize;
    const size_t length = (bytes - lead) & ~(pageSize - 1);
    if (length > 0) {
        char* first = static_cast<char*>(data) + lead;
        // Advice only: a refusal changes nothing the reader relies on.
        (void)::madvise(first, length, MADV_HUGEPAGE);
    }
}

}  // namespace xls::detail
