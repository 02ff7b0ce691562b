// The tabrook executable: the global application object and the entry.
#include <malloc.h>

#include "app/tabrook_app.h"

namespace {
CTabrookApp theApp;

// A conversion frees and re-allocates its text buffers for every chunk of
// records. By default the allocator hands the freed top of the heap back to
// the kernel each time and the next chunk faults it in again, page by page,
// which nearly doubles the time a large sheet takes. Keeping up to this much
// freed memory for reuse does not raise the peak.
constexpr int kHeapKeptForReuse = 16 << 20;
}  // namespace

int main(int argc, char** argv) {
    // Tuning only: when it is refused the run is slower, not different.
    (void)mallopt(M_TRIM_THRESHOLD, kHeapKeptForReuse);
    return AfxWinMain(argc, argv);
}
