#include "fixed_heap.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace ifc2snapshot {
namespace {

// Far from where the system puts the program, its heap, the shared libraries and the stack.
constexpr std::uintptr_t region_address = 0x3e0000000000;
constexpr size_t region_size = size_t{64} << 30;  // address space only: pages are taken on use
constexpr size_t header = 16;                    // keeps blocks 16-byte aligned; holds the class
constexpr int class_count = 96;

// Small blocks by 16 bytes up to 1 KiB, then powers of two.
int size_class(size_t total) {
    if (total <= 1024) return static_cast<int>((total + 15) / 16);
    int c = 64;
    size_t block = 1024;
    while (block < total) {
        block <<= 1;
        ++c;
    }
    return c;
}

size_t class_size(int c) { return c <= 64 ? size_t(c) * 16 : size_t{1024} << (c - 64); }

struct FreeBlock {
    FreeBlock* next;
};

struct Region {
    char* base = nullptr;
    bool mapping_tried = false;
    size_t used = 0;
    size_t live = 0;
    FreeBlock* free_lists[class_count] = {};
    std::atomic_flag lock = ATOMIC_FLAG_INIT;
};

Region region;
thread_local bool serving = false;  // only the thread that opened the scope is served

class Lock {
public:
    Lock() {
        while (region.lock.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~Lock() { region.lock.clear(std::memory_order_release); }
};

bool map_region() {
    if (region.mapping_tried) return region.base != nullptr;
    region.mapping_tried = true;
    void* want = reinterpret_cast<void*>(region_address);
    void* got = ::mmap(want, region_size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
    if (got == MAP_FAILED) return false;
    if (got != want) {  // a kernel that does not know MAP_FIXED_NOREPLACE takes it as a hint
        ::munmap(got, region_size);
        return false;
    }
    region.base = static_cast<char*>(got);
    return true;
}

bool owns(const void* p) {
    const char* c = static_cast<const char*>(p);
    return region.base && c >= region.base && c < region.base + region_size;
}

void* region_allocate(size_t size) {
    if (size > region_size / 4) return nullptr;
    const int c = size_class(size + header);
    if (c >= class_count) return nullptr;
    Lock lock;
    char* block;
    if (FreeBlock* f = region.free_lists[c]) {
        region.free_lists[c] = f->next;
        block = reinterpret_cast<char*>(f);
    } else {
        const size_t n = class_size(c);
        if (region.used + n > region_size) return nullptr;
        block = region.base + region.used;
        region.used += n;
    }
    *reinterpret_cast<std::uint32_t*>(block) = static_cast<std::uint32_t>(c);
    ++region.live;
    return block + header;
}

void region_free(void* p) {
    char* block = static_cast<char*>(p) - header;
    const int c = static_cast<int>(*reinterpret_cast<std::uint32_t*>(block));
    Lock lock;
    auto* f = reinterpret_cast<FreeBlock*>(block);
    f->next = region.free_lists[c];
    region.free_lists[c] = f;
    --region.live;
}

void* allocate(size_t size) {
    if (size == 0) size = 1;
    if (serving)
        if (void* p = region_allocate(size)) return p;
    for (;;) {
        if (void* p = std::malloc(size)) return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler) return nullptr;
        handler();
    }
}

void release(void* p) noexcept {
    if (!p) return;
    if (owns(p)) region_free(p);
    else std::free(p);
}

} // namespace

FixedHeapScope::FixedHeapScope() {
    // The mesh library draws from the C library's generator; every conversion starts it alike.
    ::srandom(1);
    {
        Lock lock;
        // Only a region that has never handed out a block: the library keeps blocks on the model
        // beyond the conversion, and a region emptied under them would corrupt it. One
        // conversion a process (the tool's case) always gets it; a later one in the same
        // process uses the ordinary heap.
        if (serving || !map_region() || region.used != 0) return;
    }
    serving = true;
    active_ = true;
}

FixedHeapScope::~FixedHeapScope() {
    if (active_) serving = false;
}

FixedHeapScope::Pause::Pause() : was_on_(serving) { serving = false; }

FixedHeapScope::Pause::~Pause() { serving = was_on_; }

size_t fixed_heap_live_blocks() {
    Lock lock;
    return region.live;
}

} // namespace ifc2snapshot

// Every allocation of the process passes here; only those made inside a FixedHeapScope go to
// the fixed region.
void* operator new(size_t size) {
    if (void* p = ifc2snapshot::allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    if (void* p = ifc2snapshot::allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return ifc2snapshot::allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return ifc2snapshot::allocate(size); }
void operator delete(void* p) noexcept { ifc2snapshot::release(p); }
void operator delete[](void* p) noexcept { ifc2snapshot::release(p); }
void operator delete(void* p, size_t) noexcept { ifc2snapshot::release(p); }
void operator delete[](void* p, size_t) noexcept { ifc2snapshot::release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { ifc2snapshot::release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { ifc2snapshot::release(p); }
