#pragma once

#include <QString>
#include <QtGlobal>
#include <cstring>

// Bounds-checked little-endian reads over a byte buffer from the device. A read at an
// offset returns only what is there: bytes past the end read as zero, never beyond.
class TByteReader {
public:
    TByteReader(const char* data, qint64 size) : FData(data), FSize(data ? size : 0) {}

    qint64 Size() const { return FSize; }
    bool Has(qint64 offset, qint64 count) const {
        return offset >= 0 && count >= 0 && offset <= FSize && count <= FSize - offset;
    }

    quint8 U8(qint64 offset) const { return Has(offset, 1) ? quint8(FData[offset]) : 0; }
    quint32 U32(qint64 offset) const {
        if (Has(offset, 4)) {
            const auto* p = reinterpret_cast<const uchar*>(FData + offset);
            return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
        }
        quint32 v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | U8(offset + i);
        return v;
    }
    quint16 U16(qint64 offset) const { return quint16(U8(offset) | U8(offset + 1) << 8); }
    qint64 I64(qint64 offset) const {
        return qint64(quint64(U32(offset)) | quint64(U32(offset + 4)) << 32);
    }
    // The four-letter tag at offset compared without regard to case.
    bool TagIs(qint64 offset, const char* tag) const {
        for (int i = 0; i < 4; ++i) {
            char c = char(U8(offset + i));
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
            if (c != tag[i])
                return false;
        }
        return true;
    }
    // UTF-16LE text of up to byteCount bytes at offset, cut at the first NUL character.
    QString Utf16(qint64 offset, qint64 byteCount) const {
        if (offset < 0 || offset >= FSize || byteCount <= 0)
            return {};
        // An odd length keeps its last byte as a character whose high byte is zero.
        const qint64 bytes = std::min(byteCount, FSize - offset);
        const auto* p = reinterpret_cast<const uchar*>(FData + offset);
        auto at = [&](qint64 i) -> char16_t {
            const uint lo = p[2 * i];
            const uint hi = 2 * i + 1 < bytes ? p[2 * i + 1] : 0;
            return char16_t(lo | hi << 8);
        };
        const qint64 chars = (bytes + 1) / 2;
        qint64 n = 0;
        while (n < chars && at(n) != 0)
            ++n;
        QString s(n, Qt::Uninitialized);
        auto* out = reinterpret_cast<char16_t*>(s.data());
        for (qint64 i = 0; i < n; ++i)
            out[i] = at(i);
        return s;
    }
    QByteArray Bytes(qint64 offset, qint64 count) const {
        if (offset < 0 || offset >= FSize || count <= 0)
            return {};
        return QByteArray(FData + offset, std::min(count, FSize - offset));
    }

private:
    const char* FData;
    qint64 FSize;
};
