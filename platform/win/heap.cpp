// The process heap: the C library's allocator.

#include "platform/win/windows.h"

#include <malloc.h>

namespace {
int ProcessHeap = 0;  // its address is the one heap handle
}  // namespace

HANDLE GetProcessHeap() { return &ProcessHeap; }

// Large blocks freed in the middle of the heap stay resident until trimmed; the answer is the
// free space the heap keeps, as near to "the largest free block" as the allocator tells.
SIZE_T HeapCompact(HANDLE hHeap, DWORD)
{
    if (hHeap != &ProcessHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    malloc_trim(0);
    return mallinfo2().fordblks;
}
