// The process heap: blocks from the C library, accounted so that a run's live blocks and peak can
// be counted, and so that a chosen allocation can fail.
#include "kernel32/heap.h"

#include "standin/failure.h"

#include <sim/standin.h>

#include <cstdlib>
#include <unordered_map>

namespace {

int heapAllocationsUntilFailure = -1;
SIZE_T failingAllocationMinimum = 0;
// Blocks handed out and not yet freed, with their sizes. A run keeps some until its process ends;
// installing the next machine ends that process, so they are released then.
std::unordered_map<void*, SIZE_T>& LiveBlocks() {
    static std::unordered_map<void*, SIZE_T> blocks;
    return blocks;
}
SIZE_T liveBytes = 0;
SIZE_T peakBytes = 0;

void AddLiveBlock(void* block, SIZE_T bytes) {
    LiveBlocks()[block] = bytes;
    liveBytes += bytes;
    peakBytes = liveBytes > peakBytes ? liveBytes : peakBytes;
}

// False when the heap never handed out the block.
bool RemoveLiveBlock(void* block) {
    auto found = LiveBlocks().find(block);
    if (found == LiveBlocks().end()) {
        return false;
    }
    liveBytes -= found->second;
    LiveBlocks().erase(found);
    return true;
}

HANDLE const processHeap = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x10000));

} // namespace

namespace sim {

void FailHeapAllocation(int nth, SIZE_T minimumBytes) {
    heapAllocationsUntilFailure = nth;
    failingAllocationMinimum = minimumBytes;
}

int LiveHeapBlocks() {
    return static_cast<int>(LiveBlocks().size());
}

SIZE_T PeakHeapBytes() {
    return peakBytes;
}

void ResetHeapAccounting() {
    for (const auto& block : LiveBlocks()) {
        std::free(block.first);
    }
    LiveBlocks().clear();
    liveBytes = 0;
    peakBytes = 0;
    heapAllocationsUntilFailure = -1;
}

} // namespace sim

HANDLE WINAPI GetProcessHeap(void) {
    return processHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != processHeap) {
        return nullptr;
    }
    if (heapAllocationsUntilFailure >= 0 && bytes >= failingAllocationMinimum &&
        heapAllocationsUntilFailure-- == 0) {
        return nullptr;
    }
    // Windows hands out a valid block for a request of zero bytes.
    void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, bytes ? bytes : 1)
                                             : std::malloc(bytes ? bytes : 1);
    if (block != nullptr) {
        AddLiveBlock(block, bytes);
    }
    return block;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID memory) {
    if (heap != processHeap) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if (memory == nullptr) {
        return TRUE;
    }
    if (!RemoveLiveBlock(memory)) {
        // Freeing what this heap never handed out corrupts a real heap: refuse it loudly.
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    std::free(memory);
    return TRUE;
}
