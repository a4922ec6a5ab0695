#include "ByteReader.h"
#include "MemoryStream.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(ByteReader, ReadsNeverPastTheEnd) {
    const QByteArray b("\x01\x02\x03\x04\x05", 5);
    const TByteReader r(b.constData(), b.size());
    EXPECT_EQ(r.U32(0), 0x04030201u);
    EXPECT_EQ(r.U32(2), 0x00050403u); // the missing byte reads as zero
    EXPECT_EQ(r.U32(5), 0u);
    EXPECT_EQ(r.U32(-4), 0u);
    EXPECT_EQ(r.U8(4), 5);
    EXPECT_FALSE(r.Has(3, 3));
    EXPECT_FALSE(r.Has(1, -1));
    EXPECT_TRUE(r.Has(5, 0));
    EXPECT_EQ(r.Bytes(3, 100), QByteArray("\x04\x05", 2));
}

TEST(ByteReader, Utf16TextEndsAtNulAndKeepsAnOddLastByte) {
    const struct {
        QByteArray Bytes;
        qint64 Length;
        QString Text;
    } cases[] = {
        {QByteArray("A\0B\0", 4), 4, QStringLiteral("AB")},
        {QByteArray("A\0B\0C", 5), 5, QStringLiteral("ABC")},   // odd length
        {QByteArray("A\0\0\0B\0", 6), 6, QStringLiteral("A")},  // NUL inside
        {QByteArray("A\0B\0", 4), 40, QStringLiteral("AB")},    // length past the end
        {QByteArray("\x3d\xd8\x00\xde", 4), 4, QString::fromUtf8("\xF0\x9F\x98\x80")},
    };
    for (const auto& c : cases) {
        const TByteReader r(c.Bytes.constData(), c.Bytes.size());
        EXPECT_EQ(r.Utf16(0, c.Length), c.Text);
    }
}

TEST(ByteReader, TagsCompareWithoutCase) {
    const QByteArray b("MhBdmhlt");
    const TByteReader r(b.constData(), b.size());
    EXPECT_TRUE(r.TagIs(0, "mhbd"));
    EXPECT_TRUE(r.TagIs(4, "mhlt"));
    EXPECT_FALSE(r.TagIs(6, "mhlt"));
}

TEST(MemoryStream, MappedFileBecomesOwnedOnWrite) {
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("big"));
    QByteArray bytes(3 << 20, 'x');
    WriteAll(name, bytes);
    TMemoryStream s;
    ASSERT_TRUE(s.LoadFromFile(name));
    EXPECT_EQ(s.Size(), bytes.size());
    s.Position = 1;
    s.Write("ab", 2);
    EXPECT_EQ(s.ToByteArray().left(4), QByteArray("xabx"));
    EXPECT_EQ(ReadAll(name), bytes); // the file itself is never written
    char out[4] = {};
    EXPECT_EQ(s.ReadAt(s.Size() - 2, out, 4), 2);
    EXPECT_FALSE(s.LoadFromFile(dir.filePath(QStringLiteral("missing"))));
}
