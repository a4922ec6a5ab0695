// Reader of the binary music database (iTunesDB, and iTunesCDB after inflation).
#include "iPodMusic.h"

#include "ByteReader.h"
#include "DevicePaths.h"
#include "MemoryStream.h"
#include "QuenlorError.h"
#include "iPodDev.h"
#include "LargeBuffer.h"

#include <cstring>

#include <libdeflate.h>
#include <memory>

namespace {

// A chunk whose lengths point outside the file or make no progress: the file is
// damaged, and reading stops with the exception log line.
class EDamagedDatabase : public EQuenlorError {
public:
    using EQuenlorError::EQuenlorError;
};

// Checks that a chunk at offset with the given total length lies inside the data
// and moves the reader forward; returns the offset of the next chunk.
qint64 NextChunk(const TByteReader& r, qint64 offset, quint32 totalLength, quint32 minimum) {
    if (totalLength < minimum || !r.Has(offset, totalLength))
        throw EDamagedDatabase(QStringLiteral("chunk at %1 runs outside the file").arg(offset));
    return offset + totalLength;
}

void RequireChunkStart(const TByteReader& r, qint64 offset, qint64 count) {
    if (!r.Has(offset, count))
        throw EDamagedDatabase(QStringLiteral("file ends inside the chunk at %1").arg(offset));
}

TByteReader ReaderOf(const TMemoryStream& s) { return TByteReader(s.Data(), s.Size()); }

} // namespace

bool TIpodMusicDb::ReadITunesDB() {
    TMemoryStream stream;
    bool compressed = false;
    if (!Device->ReadMusicDatabase(stream, compressed))
        return false;
    if (compressed)
        InflateDatabase(stream);
    bool result = false;
    try {
        const TByteReader r = ReaderOf(stream);
        if (!r.TagIs(0, "mhbd")) {
            AddLog(QStringLiteral("MHDB incorrect"));
            return false;
        }
        qint64 offset = r.U32(4);
        const qint32 sections = qint32(r.U32(20));
        for (qint32 i = 0; i < sections; ++i) {
            RequireChunkStart(r, offset, 16);
            const quint32 headerLength = r.U32(offset + 4);
            const quint32 totalLength = r.U32(offset + 8);
            const quint32 type = r.U32(offset + 12);
            const qint64 next = NextChunk(r, offset, totalLength, 16);
            if (type == 1) {
                result = ReadTrackList(stream, offset, headerLength);
                if (!result)
                    break;
                Source = compressed ? QStringLiteral("iTunesCDB") : QStringLiteral("iTunesDB");
            } else if (type == 2) {
                if (!ReadPlaylistList(stream, offset, headerLength))
                    break;
            }
            offset = next;
        }
    } catch (const std::exception&) {
        AddLog(QStringLiteral("Exception on reading iTunesDb") + Device->Log);
    }
    return result;
}

void TIpodMusicDb::InflateDatabase(TMemoryStream& stream) {
    const TByteReader r = ReaderOf(stream);
    const qint64 headerLength = r.U32(4);
    if (headerLength > stream.Size())
        throw EZlibError(QStringLiteral("Compressed database header runs past the end of the file"));
    const qint64 packed = stream.Size() - headerLength;
    // Deflate never expands more than about 1032 times; that bounds every guess.
    const qint64 limit = headerLength + packed * 1032 + 65536;
    // The image is inflated in one go into a large buffer. Its size is guessed from
    // the header's total length when that is plausible; the reserve costs only address
    // space until it is written, so the guess is generous and grows on a retry.
    const qint64 declared = r.U32(8);
    qint64 room = headerLength + packed * 16 + 65536;
    if (declared > headerLength && declared <= limit)
        room = std::max(room, declared + 65536);
    room = std::min(room, limit);
    auto out = std::make_shared<TLargeBuffer>();
    std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    if (!inflater)
        throw EZlibError(QStringLiteral("Not enough memory to inflate iTunesCDB"));
    for (;;) {
        if (!out->Reserve(room))
            throw EZlibError(QStringLiteral("Not enough memory to inflate iTunesCDB"));
        size_t inflated = 0;
        const libdeflate_result rc = libdeflate_zlib_decompress(
            inflater.get(), stream.Data() + headerLength, size_t(packed), out->Data() + headerLength,
            size_t(out->Capacity() - headerLength), &inflated);
        if (rc == LIBDEFLATE_SUCCESS) {
            std::memcpy(out->Data(), stream.Data(), size_t(headerLength));
            const char* data = out->Data();
            stream.AssignExternal(data, headerLength + qint64(inflated), std::move(out));
            return;
        }
        if (rc != LIBDEFLATE_INSUFFICIENT_SPACE || out->Capacity() >= limit)
            throw EZlibError(QStringLiteral("Error inflating iTunesCDB: the compressed data is damaged"));
        room = std::min(out->Capacity() * 2, limit);
    }
}

bool TIpodMusicDb::ReadTrackList(const TMemoryStream& stream, qint64 sectionOffset, qint64 sectionHeaderLength) {
    const TByteReader r = ReaderOf(stream);
    const qint64 listOffset = sectionOffset + sectionHeaderLength;
    if (!r.TagIs(listOffset, "mhlt"))
        return false;
    RequireChunkStart(r, listOffset, 12);
    Tracks.Clear();
    qint64 offset = listOffset + r.U32(listOffset + 4);
    const qint32 count = qint32(r.U32(listOffset + 8));
    // A track takes at least a dozen bytes: never reserve more than the file can hold.
    Tracks.Reserve(int(qBound<qint64>(0, qint64(count), (stream.Size() - offset) / 12 + 1)));
    for (qint32 i = 0; i < count; ++i) {
        RequireChunkStart(r, offset, 16);
        const quint32 headerLength = r.U32(offset + 4);
        const quint32 totalLength = r.U32(offset + 8);
        const qint64 next = NextChunk(r, offset, totalLength, 12);
        const qint32 mhods = qint32(r.U32(offset + 12));

        TTrackItem& t = Tracks.Add();
        t.Checked = true;
        t.CopyState = -1;
        t.ITunesSourceId = -1;
        t.Id = r.U32(offset + 16);
        t.Rating = r.U8(offset + 31);
        t.Size = r.U32(offset + 36);
        t.Duration = r.U32(offset + 40);
        t.PlayCount = r.U32(offset + 80);
        TotalBytes += t.Size;

        qint64 m = offset + headerLength;
        for (qint32 k = 0; k < mhods; ++k) {
            quint32 type = 0;
            QString text;
            const qint64 length = ReadMhod(stream, m, type, text);
            if (length == 0)
                break;
            switch (type) {
            case 1: t.Title = text; break;
            case 2: t.Location = text; break;
            case 3: t.Album = Shared(text); break;
            case 4: t.Artist = Shared(text); break;
            case 5: t.Genre = Shared(text); break;
            default: break;
            }
            m += length;
        }
        t.MediaKind = MediaKindOf(PathExtension(t.Location));
        if (t.MediaKind == MediaBooks)
            t.Checked = false;
        else
            Tracks.CountChecked(t);
        FinishTrack(t);
        offset = next;
    }
    return true;
}

bool TIpodMusicDb::ReadPlaylistList(const TMemoryStream& stream, qint64 sectionOffset, qint64 sectionHeaderLength) {
    const TByteReader r = ReaderOf(stream);
    const qint64 listOffset = sectionOffset + sectionHeaderLength;
    if (!r.TagIs(listOffset, "mhlp"))
        return false;
    RequireChunkStart(r, listOffset, 12);
    Playlists.Clear();
    qint64 offset = listOffset + r.U32(listOffset + 4);
    const qint32 count = qint32(r.U32(listOffset + 8));
    for (qint32 i = 0; i < count; ++i) {
        RequireChunkStart(r, offset, 20);
        const quint32 headerLength = r.U32(offset + 4);
        const quint32 totalLength = r.U32(offset + 8);
        const qint64 next = NextChunk(r, offset, totalLength, 12);
        const qint32 entries = qint32(r.U32(offset + 16));
        TPlayListItem& p = Playlists.Add();

        qint64 m = offset + headerLength;
        for (;;) {
            quint32 type = 0;
            QString text;
            const qint64 length = ReadMhod(stream, m, type, text);
            // The chain ends at the first chunk that is not a data object.
            if (length == 0 || type == 0)
                break;
            if (type == 1)
                p.Name = text;
            else if (type == 50)
                p.Smart = true;
            m += length;
        }
        p.Count = 0;
        if (entries > 0)
            p.TrackIds.reserve(qMin<qint64>(entries, (next - m) / 12 + 1));
        for (qint32 k = 0; k < entries; ++k) {
            RequireChunkStart(r, m, 12);
            const quint32 length = r.U32(m + 8);
            if (r.TagIs(m, "mhip"))
                p.AddTrackId(r.U32(m + 24));
            m = NextChunk(r, m, length, 12);
        }
        offset = next;
    }
    return true;
}

qint64 TIpodMusicDb::ReadMhod(const TMemoryStream& stream, qint64 offset, quint32& type, QString& text) {
    const TByteReader r = ReaderOf(stream);
    if (!r.TagIs(offset, "mhod")) {
        type = 0;
        text.clear();
        return 0;
    }
    RequireChunkStart(r, offset, 16);
    const quint32 totalLength = r.U32(offset + 8);
    type = r.U32(offset + 12);
    // A data object must move the reader on and stay inside the file.
    NextChunk(r, offset, totalLength, 24);
    if (type < 15) {
        const quint32 length = r.U32(offset + 28);
        // The string never reaches past its own data object.
        const qint64 room = qMax<qint64>(0, qint64(totalLength) - 40);
        text = r.Utf16(offset + 40, qMin<qint64>(length, room));
    }
    return totalLength;
}
