#include "ImageLib.h"
#include "CameraRollWriter.h"
#include "MemoryStream.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(ImageLib, UndecodableInputGivesAnEmptyPictureThatDrawsNothing) {
    for (const QByteArray& bytes : {QByteArray(), QByteArray("not a picture at all"),
                                    QByteArray("\0\0\0\x18"
                                               "ftypheic",
                                               12)}) {
        TImagePicture p;
        TMemoryStream s;
        s.Write(bytes);
        p.LoadFromStream(s);
        EXPECT_TRUE(p.Empty());
        EXPECT_EQ(p.Width(), 0);
        QImage tile(10, 10, QImage::Format_RGB888);
        tile.fill(Qt::blue);
        p.DrawOnBitmap(tile);
        EXPECT_EQ(tile.pixel(5, 5), qRgb(0, 0, 255));
    }
}

TEST(ImageLib, LoadsJpegAndHeicFromTheStreamStartAndStretchesOverTiles) {
    for (const QByteArray& bytes : {SolidJpeg(64, 48, qRgb(0, 200, 0)), SolidHeic(64, 48, qRgb(0, 200, 0))}) {
        ASSERT_FALSE(bytes.isEmpty());
        TMemoryStream s;
        s.Write(bytes);
        EXPECT_EQ(s.Position, bytes.size());
        TImagePicture p;
        p.LoadFromStream(s);
        ASSERT_FALSE(p.Empty());
        EXPECT_EQ(p.Width(), 64);
        EXPECT_EQ(p.Height(), 48);
        QImage tile(75, 75, QImage::Format_RGB888);
        tile.fill(Qt::white);
        p.DrawOnBitmap(tile);
        for (const QPoint pt : {QPoint(0, 0), QPoint(74, 74), QPoint(37, 74)})
            EXPECT_LE(qAbs(qGreen(tile.pixel(pt)) - 200) + qRed(tile.pixel(pt)), 16)
                << pt.x() << "," << pt.y();
    }
}

TEST(ImageLib, JpegOfAnAssignedBitmapAndAssignOfNothing) {
    QTemporaryDir dir;
    QImage bitmap(33, 17, QImage::Format_RGB888);
    bitmap.fill(qRgb(250, 10, 10));
    TJpegImage jpeg;
    EXPECT_EQ(jpeg.CompressionQuality, 80);
    jpeg.Assign(bitmap);
    bitmap.fill(Qt::black); // the picture holds its own copy
    const QString file = dir.path() + QStringLiteral("/a.jpg");
    jpeg.SaveToFile(file);
    QImage back(file);
    ASSERT_EQ(back.size(), QSize(33, 17));
    EXPECT_LE(qAbs(qRed(back.pixel(16, 8)) - 250), 8);
    // Same quality as Qt's own writer at 80 gives a file of about the same size.
    const QByteArray ours = EncodeJpeg(back, 80), qt = EncodeJpegWithQt(back, 80);
    EXPECT_NEAR(double(ours.size()), double(qt.size()), qt.size() * 0.1);

    TImagePicture empty;
    jpeg.Assign(&empty);
    EXPECT_TRUE(jpeg.Empty());
    jpeg.SaveToFile(file);
    EXPECT_EQ(QFileInfo(file).size(), 0);
}
