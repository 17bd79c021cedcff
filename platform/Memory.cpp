// Giving freed memory back to the system, where the allocator can be asked to.
#include "platform/Memory.h"

#include <cstdlib>  // defines __GLIBC__ where the C library is glibc

#if defined(_WIN32)
#include <windows.h>
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velmora::platform {

void ReturnFreedMemory() {
#if defined(_WIN32)
    HeapCompact(GetProcessHeap(), 0);
#elif defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace velmora::platform
