#include "platform/winsys/GlobalMemory.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

struct Block {
    void* bytes;
    SIZE_T size;
    unsigned locks;
};

// Handles are serial numbers, never reused, looked up in the table: a stale or forged handle is
// refused instead of followed, even after its memory went to a new block.
struct Table {
    std::mutex mutex;
    std::uintptr_t last = 0;
    std::unordered_map<HGLOBAL, Block*> blocks;
};

Table& table() {
    static Table* t = new Table; // never destroyed: blocks may be freed during static teardown
    return *t;
}

Block* find(Table& t, HGLOBAL memory) {
    auto it = t.blocks.find(memory);
    return it == t.blocks.end() ? nullptr : it->second;
}

} // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    // Exactly the size asked for, so that memory checkers see any access past the end; a
    // zero-byte block still takes one byte to be an allocation of its own.
    const SIZE_T taken = bytes ? bytes : 1;
    void* bytesPtr = (flags & GMEM_ZEROINIT) ? std::calloc(taken, 1) : std::malloc(taken);
    if (!bytesPtr) return nullptr;
    Block* block = new (std::nothrow) Block{bytesPtr, bytes, 0};
    if (!block) {
        std::free(bytesPtr);
        return nullptr;
    }
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    HGLOBAL handle = reinterpret_cast<HGLOBAL>(++t.last);
    t.blocks.emplace(handle, block);
    return handle;
}

LPVOID GlobalLock(HGLOBAL memory) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    Block* block = find(t, memory);
    if (!block || block->size == 0) return nullptr;
    ++block->locks;
    return block->bytes;
}

BOOL GlobalUnlock(HGLOBAL memory) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    Block* block = find(t, memory);
    if (!block || block->locks == 0) return FALSE;
    return --block->locks != 0;
}

SIZE_T GlobalSize(HGLOBAL memory) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    Block* block = find(t, memory);
    return block ? block->size : 0;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    Block* block = find(t, memory);
    if (!block) return memory;
    t.blocks.erase(memory);
    std::free(block->bytes);
    delete block;
    return nullptr;
}
