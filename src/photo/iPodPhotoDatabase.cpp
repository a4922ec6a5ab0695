// The binary photo database: a chunk tree read by seeking in the file held in memory.
// Every loop below also stops when a chunk would not move the position forward or the
// position leaves the file, so a damaged file can neither hang nor run away.
#include "iPodPhoto.h"

#include "ByteReader.h"
#include "iPodDev.h"

namespace {

qint64 ReadStringText(const TByteReader& r, qint64 p, QString& text) {
    const qint64 body = p + r.U32(p + 4);
    const int type = r.U16(p + 12);
    if (type == 1) {
        const QByteArray bytes = r.Bytes(body + 12, r.U32(body));
        const qsizetype zero = bytes.indexOf('\0');
        text = QString::fromUtf8(zero < 0 ? bytes : bytes.left(zero));
    } else if (type == 3) {
        text = r.Utf16(body + 12, r.U32(body));
    }
    return r.U32(p + 8);
}

bool IsPathFormat(quint32 id) {
    return id == 4005 || id == 4006 || id == 4036;
}

bool IsPreferredThumb(quint32 id) {
    return id == 1032 || id == 1036 || id == 1066 || id == 3004 || id == 3113;
}

// The number between a thumbnail file name's first "_" and its first "."; 1 when none.
int FileIndexOf(const QString& name) {
    const qsizetype under = name.indexOf(QLatin1Char('_'));
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (under < 0 || dot <= under) return 1;
    bool ok = false;
    const int n = name.mid(under + 1, dot - under - 1).toInt(&ok);
    return ok ? n : 1;
}

// The text of a string object ("mhod" of type 1 or 3) at p; returns its total length,
// 0 when p holds no "mhod". Without text only the length is read.
qint64 ReadString(const TByteReader& r, qint64 p, QString* text) {
    if (!r.TagIs(p, "mhod")) return 0;
    if (!text) return r.U32(p + 8);
    return ReadStringText(r, p, *text);
}

// Whether the next position after a chunk of the given length can still be read.
bool Advance(qint64& pos, quint32 length, qint64 size) {
    if (length == 0) return false;
    pos += length;
    return pos < size;
}

struct TMhni {
    quint32 HeaderLength, FormatId, Offset, Size;
    int VPad, HPad, Height, Width;
};

TMhni ReadMhni(const TByteReader& r, qint64 b) {
    return {r.U32(b + 4),  r.U32(b + 16), r.U32(b + 20), r.U32(b + 24),
            r.U16(b + 28), r.U16(b + 30), r.U16(b + 32), r.U16(b + 34)};
}

} // namespace

void TIpodPhotoDb::LookupFormat(TPhotoInfo& info) {
    if (info.ByName) {
        if (info.FileName.compare(QLatin1String("79x79.ithmb"), Qt::CaseInsensitive) == 0) {
            info.FormatId = FormatIosThumb;
            info.Width = 80;
            info.Height = 79;
            info.ImageSize = 12668;
            info.FileCount = 0;
        } else if (info.FileName.isEmpty()) {
            info.FormatId = FormatIosThumb;
            info.ImageSize = 0;
        }
        return;
    }
    struct TKnown {
        int Id, Width, Height;
    };
    static const TKnown known[] = {
        {1009, 42, 30},   {1013, 220, 176}, {1015, 130, 88},   {1016, 140, 140}, {1017, 56, 56},
        {1062, 56, 56},   {1019, 720, 480}, {1067, 720, 480},  {1023, 176, 132}, {1024, 320, 240},
        {1064, 320, 240}, {1027, 100, 100}, {1028, 100, 100},  {1029, 200, 200}, {1031, 42, 42},
        {1032, 42, 37},   {1036, 50, 41},   {1055, 128, 128},  {1068, 128, 128}, {3002, 128, 128},
        {1060, 320, 320}, {3005, 320, 320}, {1061, 56, 55},    {1066, 64, 64},   {3003, 64, 64},
        {1071, 240, 240}, {1084, 240, 240}, {1074, 50, 50},    {1078, 80, 80},   {1081, 640, 480},
        {3008, 640, 480}, {3001, 256, 256}, {3004, 56, 73},    {3006, 55, 56},   {3007, 88, 88},
        {3009, 160, 128}, {3011, 80, 79},   {3105, 1280, 320}, {3106, 112, 112}, {3113, 112, 112}};
    for (const TKnown& k : known)
        if (k.Id == info.FormatId) {
            info.Width = k.Width;
            info.Height = k.Height;
            return;
        }
}

bool TIpodPhotoDb::ReadPhotoDatabase() {
    TMemoryStream stream;
    if (!Device->LoadPhotoDatabase(stream)) {
        AddLog(QStringLiteral("Read DB fail: ") + Device->Log);
        return false;
    }
    const char* data = stream.Data();
    const qint64 size = stream.Size();
    const TByteReader r(data, size);
    if (!r.TagIs(0, "mhfd")) {
        AddLog(QStringLiteral("MHFD Err"));
        return false;
    }
    bool result = false;
    qint64 pos = r.U32(4);
    const quint32 sections = r.U32(20);
    for (quint32 i = 0; i < sections && pos < size; ++i) {
        const qint64 h = r.U32(pos + 4);
        const quint32 total = r.U32(pos + 8);
        const quint32 type = r.U32(pos + 12);
        if (type == 1) {
            result = ReadImageList(data, size, pos, h);
            if (!result) return false;
        } else if (type == 2) {
            if (!ReadAlbumList(data, size, pos, h)) return result;
        }
        if (!Advance(pos, total, size)) break;
    }
    SetTileLayout(false);
    return result;
}

bool TIpodPhotoDb::ReadImageList(const char* data, qint64 size, qint64 s, qint64 h) {
    const TByteReader r(data, size);
    Photos.Clear();
    const qint64 list = s + h;
    if (!r.TagIs(list, "mhli")) {
        AddLog(QStringLiteral("MHLI Err"));
        return false;
    }
    const quint32 images = r.U32(list + 8);
    if (images == 0) return false;
    qint64 pos = list + r.U32(list + 4);
    if (!ReadFormats(data, size, pos)) return false;
    // Every image takes at least its 52 header bytes, which bounds the count.
    Photos.Reserve(int(qMin<qint64>(images, size / 52 + 1)));
    for (quint32 i = 0; i < images && pos < size; ++i) {
        const qint64 length = ReadImage(data, size, pos);
        if (length == 0 || !Advance(pos, quint32(length), size)) break;
    }
    return true;
}

bool TIpodPhotoDb::ReadFormats(const char* data, qint64 size, qint64 p) {
    const TByteReader r(data, size);
    if (!r.TagIs(p, "mhii")) {
        AddLog(QStringLiteral("Get info: MHII err"));
        return false;
    }
    CopyInfo.ByName = false;
    ThumbInfo.ByName = false;
    int best = 0;
    int smallest = 1024;
    bool thumbFixed = false;
    const quint32 children = r.U32(p + 12);
    qint64 child = p + r.U32(p + 4);
    for (quint32 i = 0; i < children && child < size; ++i) {
        if (!r.TagIs(child, "mhod")) {
            AddLog(QStringLiteral("Get info: MHOD"));
            return false;
        }
        const int type = r.U16(child + 12);
        if (type == 5) {
            CopyByPath = true;
            CopyInfo.FormatId = CopyInfo.ImageSize = CopyInfo.Width = CopyInfo.Height = 0;
            best = 2042;
        } else if (type == 2) {
            const qint64 b = child + r.U32(child + 4);
            if (!r.TagIs(b, "mhni")) {
                AddLog(QStringLiteral("Get info: MHNI"));
                return false;
            }
            const TMhni m = ReadMhni(r, b);
            if (IsPathFormat(m.FormatId)) {
                CopyByPath = true;
                CopyInfo.FormatId = int(m.FormatId);
                CopyInfo.ImageSize = CopyInfo.Width = CopyInfo.Height = 0;
                best = 2042;
            } else if (m.Width > best) {
                best = m.Width;
                CopyInfo.FormatId = int(m.FormatId);
                CopyInfo.ImageSize = int(m.Size);
                CopyInfo.Width = m.Width + m.HPad;
                CopyInfo.Height = m.Height + m.VPad;
            }
            if (!thumbFixed) {
                if (IsPreferredThumb(m.FormatId)) {
                    thumbFixed = true;
                    smallest = 1;
                    ThumbInfo.FormatId = int(m.FormatId);
                    ThumbInfo.ImageSize = int(m.Size);
                } else if (m.Width > 0 && m.Width < smallest) {
                    smallest = m.Width;
                    ThumbInfo.FormatId = int(m.FormatId);
                    ThumbInfo.ImageSize = int(m.Size);
                    ThumbInfo.Width = m.Width + m.HPad;
                    ThumbInfo.Height = m.Height + m.VPad;
                }
            }
        }
        if (!Advance(child, r.U32(child + 8), size)) break;
    }
    CopyInfo.FileCount = 1;
    ThumbInfo.FileCount = 1;
    const bool ok = best > 0 && smallest < 1024;
    if (ok) {
        LookupFormat(ThumbInfo);
        LookupFormat(CopyInfo);
    }
    return ok;
}

qint64 TIpodPhotoDb::ReadImage(const char* data, qint64 size, qint64 p) {
    const TByteReader r(data, size);
    if (!r.TagIs(p, "mhii")) {
        AddLog(QStringLiteral("MHII Err"));
        return 0;
    }
    const qint64 total = r.U32(p + 8);
    TPhotoItem& item = Photos.Add();
    item.ImageId = r.U32(p + 16);
    int found = 0;
    const quint32 children = r.U32(p + 12);
    qint64 child = p + r.U32(p + 4);
    for (quint32 i = 0; i < children && child < size; ++i) {
        if (!r.TagIs(child, "mhod")) {
            AddLog(QStringLiteral("MHOD photo err"));
            return total;
        }
        if (!ReadImageName(data, size, child + r.U32(child + 4), found, r.U16(child + 12)) || found >= 2)
            break;
        if (!Advance(child, r.U32(child + 8), size)) break;
    }
    if (found < 2) Photos.RemoveLast();
    return total;
}

bool TIpodPhotoDb::ReadImageName(const char* data, qint64 size, qint64 b, int& found, int type) {
    if (type == 1) return true;
    const TByteReader r(data, size);
    if (!r.TagIs(b, "mhni")) {
        AddLog(QStringLiteral("MHNI error"));
        return false;
    }
    const TMhni m = ReadMhni(r, b);
    // The text is needed only where it becomes a path or a file number.
    const bool needText = type == 5 || (type == 2 && int(m.FormatId) == CopyInfo.FormatId);
    QString name;
    const bool present = ReadString(r, b + m.HeaderLength, needText ? &name : nullptr) > 0;
    TPhotoItem& item = Photos[Photos.Count() - 1];
    if (type == 5 && present) {
        item.Path = name;
        ++found;
    } else if (type == 2) {
        if (int(m.FormatId) == CopyInfo.FormatId && present) {
            if (IsPathFormat(m.FormatId)) {
                item.Path = name;
            } else {
                item.Offset = m.Offset;
                item.Size = m.Size;
                item.FileIndex = FileIndexOf(name);
                if (item.FileIndex > CopyInfo.FileCount) CopyInfo.FileCount = item.FileIndex;
            }
            ++found;
        } else if (int(m.FormatId) == ThumbInfo.FormatId) {
            item.ThumbOffset = m.Offset;
            ++found;
        }
    }
    return true;
}

bool TIpodPhotoDb::ReadAlbumList(const char* data, qint64 size, qint64 s, qint64 h) {
    const TByteReader r(data, size);
    const qint64 list = s + h;
    if (!r.TagIs(list, "mhla")) {
        AddLog(QStringLiteral("MHLA Err"));
        return false;
    }
    Albums.Clear();
    const quint32 albums = r.U32(list + 8);
    qint64 pos = list + r.U32(list + 4);
    for (quint32 a = 0; a < albums && pos < size; ++a) {
        qint64 child = pos + r.U32(pos + 4);
        QString name;
        const qint64 first = ReadString(r, child, &name);
        if (first > 0) {
            TPhotoAlbumItem& album = Albums.Add();
            const int type = r.U16(child + 12);
            album.Name = type == 1 || type == 3 ? name : QString();
            qint64 length = first;
            while (length > 0 && Advance(child, quint32(length), size))
                length = ReadString(r, child, nullptr);
            const quint32 items = r.U32(pos + 16);
            for (quint32 k = 0; k < items && child < size; ++k) {
                if (r.TagIs(child, "mhia")) album.AddImageId(r.U32(child + 16));
                if (!Advance(child, r.U32(child + 8), size)) break;
            }
        }
        if (!Advance(pos, r.U32(pos + 8), size)) break;
    }
    return true;
}
