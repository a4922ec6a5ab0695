#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class QFile;

// A memory stream in the sense the readers use it: bytes with a position. Whole device
// files can be loaded by mapping them, which avoids touching fresh memory for large
// databases; any write turns the mapping into an owned copy first.
class TMemoryStream {
public:
    TMemoryStream();
    ~TMemoryStream();
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    void Clear();
    // Loads a whole local file (mapped when possible). False when it cannot be opened.
    bool LoadFromFile(const QString& fileName);

    const char* Data() const { return FView; }
    qint64 Size() const { return FSize; }
    qint64 Position = 0;

    // Writes at Position, growing the stream as needed, and advances Position.
    void Write(const void* data, qint64 count);
    void Write(const QByteArray& bytes) { Write(bytes.constData(), bytes.size()); }
    // Cuts or grows (zero-filled) to the given size; Position is kept within it.
    void Resize(qint64 size);
    // Copies up to count bytes at offset into dest; returns how many were there.
    qint64 ReadAt(qint64 offset, void* dest, qint64 count) const;

    // The content as a byte array (a copy when the stream is mapped).
    QByteArray ToByteArray() const;
    // Replaces the content by an owned byte array.
    void Assign(QByteArray bytes);
    // Takes bytes that live elsewhere; keeper holds them alive as long as the stream
    // shows them.
    void AssignExternal(const char* data, qint64 size, std::shared_ptr<void> keeper);

private:
    void MakeOwned();
    QByteArray FOwned;
    std::shared_ptr<void> FKeeper; // a mapped file or an outside buffer
    const char* FView = nullptr;
    qint64 FSize = 0;
};
