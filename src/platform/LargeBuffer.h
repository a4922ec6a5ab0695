#pragma once

#include <QtGlobal>

// A growable block of memory for large database images. It is mapped in huge pages
// where the system allows, because touching tens of megabytes of fresh memory page by
// page costs more than reading them; growing remaps instead of copying.
class TLargeBuffer {
public:
    TLargeBuffer() = default;
    ~TLargeBuffer();
    TLargeBuffer(const TLargeBuffer&) = delete;
    TLargeBuffer& operator=(const TLargeBuffer&) = delete;

    // Makes room for at least capacity bytes, keeping the content. False when the
    // memory cannot be had.
    bool Reserve(qint64 capacity);
    char* Data() const { return FData; }
    qint64 Capacity() const { return FCapacity; }

private:
    char* FData = nullptr;
    qint64 FCapacity = 0;
};
