// Replaces the global operator new of the test program (and so of the library it loads) with
// one that records the largest request while an AllocationProbe is alive.
#include "AllocationProbe.h"

#include <cstdlib>
#include <new>

namespace {
int g_probes = 0;
std::size_t g_largest = 0;

void* allocate(std::size_t size) {
    if (g_probes > 0 && size > g_largest) g_largest = size;
    if (size == 0) size = 1;
    void* p = std::malloc(size);
    if (!p) throw std::bad_alloc();
    return p;
}

void* allocateNoThrow(std::size_t size) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
} // namespace

AllocationProbe::AllocationProbe() {
    ++g_probes;
    g_largest = 0;
}
AllocationProbe::~AllocationProbe() {
    --g_probes;
}
std::size_t AllocationProbe::Largest() const {
    return g_largest;
}

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
