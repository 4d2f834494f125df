// Preloaded into a program (LD_PRELOAD), counts the bytes copied in user
// space: by memcpy and memmove, and by realloc when it moves a block (counted
// as a full copy of the old block, though the C library may move large
// blocks by remapping pages, so the figure is an upper bound). Prints the
// total on exit; a program may also read it through copycount_bytes().
#include <dlfcn.h>
#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdio>

namespace {

using CopyFn = void* (*)(void*, const void*, size_t);
using ReallocFn = void* (*)(void*, size_t);
std::atomic<unsigned long long> copied{0};

struct Report {
    ~Report() { std::fprintf(stderr, "copycount: %llu bytes copied\n", copied.load()); }
} report;

void* Count(CopyFn& real, const char* name, void* to, const void* from, size_t n) {
    if (!real) real = reinterpret_cast<CopyFn>(dlsym(RTLD_NEXT, name));
    copied += n;
    return real(to, from, n);
}

}  // namespace

extern "C" unsigned long long copycount_bytes() { return copied.load(); }

extern "C" void* memcpy(void* to, const void* from, size_t n) {
    static CopyFn real = nullptr;
    return Count(real, "memcpy", to, from, n);
}

extern "C" void* memmove(void* to, const void* from, size_t n) {
    static CopyFn real = nullptr;
    return Count(real, "memmove", to, from, n);
}

extern "C" void* realloc(void* block, size_t size) {
    static ReallocFn real = reinterpret_cast<ReallocFn>(dlsym(RTLD_NEXT, "realloc"));
    const size_t old = block ? malloc_usable_size(block) : 0;
    void* moved = real(block, size);
    if (block && moved && moved != block) copied += old < size ? old : size;
    return moved;
}
