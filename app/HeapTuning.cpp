#include "app/HeapTuning.h"

#include <malloc.h>

namespace {
// Blocks up to this size come from the heap (a 4K frame is about 33 MB).
constexpr int MmapThresholdBytes = 48 * 1024 * 1024;
// Free memory at the top of the heap beyond this is returned to the system.
constexpr int TrimThresholdBytes = 128 * 1024 * 1024;
} // namespace

void keepFrameBuffersInHeap()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, MmapThresholdBytes);
    mallopt(M_TRIM_THRESHOLD, TrimThresholdBytes);
#endif
}
