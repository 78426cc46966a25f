#include "tools/operator/loop/memory.h"

#include <malloc.h>

namespace vokar::operatord {

void tune_allocator()
{
    ::mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 256 * 1024);
}

void return_free_memory()
{
    ::malloc_trim(0);
}

} // namespace vokar::operatord
