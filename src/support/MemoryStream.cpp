#include "MemoryStream.h"

#include <QFile>
#include <cstring>

TMemoryStream::TMemoryStream() = default;
TMemoryStream::~TMemoryStream() = default;

void TMemoryStream::Clear() {
    FKeeper.reset();
    FOwned.clear();
    FView = nullptr;
    FSize = 0;
    Position = 0;
}

bool TMemoryStream::LoadFromFile(const QString& fileName) {
    Clear();
    auto file = std::make_shared<QFile>(fileName);
    if (!file->open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file->size();
    if (size == 0)
        return true;
    // Large databases are mapped: reading them into fresh memory costs far more.
    if (size >= 1 << 20) {
        if (uchar* mapped = file->map(0, size)) {
            FView = reinterpret_cast<const char*>(mapped);
            FSize = size;
            FKeeper = std::move(file);
            return true;
        }
    }
    QByteArray bytes = file->readAll();
    if (bytes.size() != size)
        return false;
    Assign(std::move(bytes));
    return true;
}

void TMemoryStream::MakeOwned() {
    if (!FKeeper)
        return;
    QByteArray copy(FView, FSize);
    FKeeper.reset();
    const qint64 pos = Position;
    Assign(std::move(copy));
    Position = pos;
}

void TMemoryStream::Assign(QByteArray bytes) {
    FKeeper.reset();
    FOwned = std::move(bytes);
    FSize = FOwned.size();
    FView = FOwned.constData();
    Position = 0;
}

void TMemoryStream::Write(const void* data, qint64 count) {
    if (count <= 0)
        return;
    MakeOwned();
    if (Position + count > FOwned.size()) {
        if (Position + count > FOwned.capacity())
            FOwned.reserve(std::max<qint64>(Position + count, FOwned.capacity() * 2));
        FOwned.resize(Position + count);
    }
    std::memcpy(FOwned.data() + Position, data, count);
    Position += count;
    FSize = FOwned.size();
    FView = FOwned.constData();
}

void TMemoryStream::Resize(qint64 size) {
    MakeOwned();
    const qint64 old = FOwned.size();
    FOwned.resize(size);
    if (size > old)
        std::memset(FOwned.data() + old, 0, size - old);
    FSize = FOwned.size();
    FView = FOwned.constData();
    Position = std::min(Position, FSize);
}

qint64 TMemoryStream::ReadAt(qint64 offset, void* dest, qint64 count) const {
    if (offset < 0 || count <= 0 || offset >= FSize)
        return 0;
    const qint64 n = std::min(count, FSize - offset);
    std::memcpy(dest, FView + offset, n);
    return n;
}

void TMemoryStream::AssignExternal(const char* data, qint64 size, std::shared_ptr<void> keeper) {
    Clear();
    FKeeper = std::move(keeper);
    FView = data;
    FSize = size;
}

QByteArray TMemoryStream::ToByteArray() const {
    if (!FKeeper)
        return FOwned;
    return QByteArray(FView, FSize);
}
