#include "LargeBuffer.h"

#include <sys/mman.h>

namespace {
constexpr qint64 HugePage = 2 << 20;
qint64 RoundUp(qint64 n) { return (n + HugePage - 1) / HugePage * HugePage; }
} // namespace

TLargeBuffer::~TLargeBuffer() {
    if (FData)
        ::munmap(FData, size_t(FCapacity));
}

bool TLargeBuffer::Reserve(qint64 capacity) {
    if (capacity <= FCapacity)
        return true;
    const qint64 size = RoundUp(capacity);
    void* p = FData ? ::mremap(FData, size_t(FCapacity), size_t(size), MREMAP_MAYMOVE)
                    : ::mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return false;
    ::madvise(p, size_t(size), MADV_HUGEPAGE);
    FData = static_cast<char*>(p);
    FCapacity = size;
    return true;
}
