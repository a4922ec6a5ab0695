#include "iPodPhoto.h"

#include <gtest/gtest.h>

TEST(PhotoModel, SelectionCountsEachItemOnceWithUnsignedSizes) {
    TPhotoList list;
    list.Add().Size = 0xFFFFFFF0u; // read as unsigned, never negative
    list.Add().Size = 0;           // copy-by-path items add nothing
    list.SelectItem(0);
    list.SelectItem(0);
    list.SelectItem(1);
    EXPECT_EQ(list.SelCount, 2);
    EXPECT_EQ(list.SelBytes, qint64(0xFFFFFFF0u));
    list.DeselectItem(1);
    list.DeselectItem(1);
    EXPECT_EQ(list.SelCount, 1);
    EXPECT_EQ(list.SelBytes, qint64(0xFFFFFFF0u));

    TCamPhotoList cam;
    cam.Add();
    cam.DeselectItem(0);
    EXPECT_EQ(cam.SelCount, 0);
    cam.SelectItem(0);
    cam.SelectItem(0);
    EXPECT_EQ(cam.SelCount, 1);
}

TEST(PhotoModel, TileLayoutFollowsDisplayFormatAndCameraRollSetsImageLeftLast) {
    struct TCase {
        int Format;
        TTileLayout Layout;
        int Left;
    };
    const TCase cases[] = {
        {1015, {119, 88, 22, 200, 4}, -5}, {1032, {42, 37, 18, 400, 10}, 0},
        {1036, {50, 41, 20, 400, 8}, 0},   {3004, {56, 56, 20, 400, 8}, 0},
        {3011, {75, 75, 20, 300, 6}, 0},   {3113, {111, 111, 20, 100, 4}, 0},
        {1024, {64, 64, 20, 350, 7}, 0},
    };
    for (const TCase& c : cases) {
        TIpodPhotoDb db(nullptr, true);
        db.ThumbInfo.FormatId = c.Format;
        db.SetTileLayout(false);
        EXPECT_EQ(db.AlbumTile.Width, c.Layout.Width) << c.Format;
        EXPECT_EQ(db.AlbumTile.Height, c.Layout.Height) << c.Format;
        EXPECT_EQ(db.AlbumTile.Spacing, c.Layout.Spacing) << c.Format;
        EXPECT_EQ(db.AlbumTile.PerPage, c.Layout.PerPage) << c.Format;
        EXPECT_EQ(db.AlbumTile.PerRow, c.Layout.PerRow) << c.Format;
        EXPECT_EQ(TileImageLeft, c.Left) << c.Format;
        db.SetTileLayout(true);
        EXPECT_EQ(TileImageLeft, 0);
        EXPECT_EQ(db.CamTile.PerPage, 100);
        EXPECT_EQ(db.CamTile.PerRow, 6);
    }
}

TEST(PhotoModel, LookupFormatByIdAndByName) {
    TPhotoInfo a;
    a.FormatId = 3004;
    TIpodPhotoDb::LookupFormat(a);
    EXPECT_EQ(a.Width, 56);
    EXPECT_EQ(a.Height, 73);
    TPhotoInfo unknown;
    unknown.FormatId = 4711;
    unknown.Width = 9;
    unknown.Height = 7;
    TIpodPhotoDb::LookupFormat(unknown);
    EXPECT_EQ(unknown.Width, 9);
    EXPECT_EQ(unknown.Height, 7);

    TPhotoInfo named;
    named.ByName = true;
    named.FileName = QStringLiteral("79X79.ITHMB");
    named.FileCount = 5;
    TIpodPhotoDb::LookupFormat(named);
    EXPECT_EQ(named.FormatId, 3011);
    EXPECT_EQ(named.Width, 80);
    EXPECT_EQ(named.Height, 79);
    EXPECT_EQ(named.ImageSize, 12668);
    EXPECT_EQ(named.FileCount, 0);

    TPhotoInfo none;
    none.ByName = true;
    none.ImageSize = 77;
    TIpodPhotoDb::LookupFormat(none);
    EXPECT_EQ(none.FormatId, 3011);
    EXPECT_EQ(none.ImageSize, 0);
}

TEST(PhotoModel, SafeFileNameKeepsOnlyALastPartThatStaysInTheFolder) {
    const QString sep = QStringLiteral(":\\/");
    EXPECT_EQ(SafeFileName(QStringLiteral(":F00:IMG_1.JPG"), sep), QStringLiteral("IMG_1.JPG"));
    EXPECT_EQ(SafeFileName(QStringLiteral("..\\..\\x.jpg"), sep), QStringLiteral("x.jpg"));
    EXPECT_EQ(SafeFileName(QStringLiteral("a/.."), sep), QString());
    EXPECT_EQ(SafeFileName(QStringLiteral("a:"), sep), QString());
    EXPECT_EQ(SafeFileName(QStringLiteral("."), sep), QString());
    EXPECT_EQ(SafeFileName(QStringLiteral("DCIM/100APPLE/IMG_0001.JPG"), QStringLiteral("/")),
              QStringLiteral("IMG_0001.JPG"));
}
