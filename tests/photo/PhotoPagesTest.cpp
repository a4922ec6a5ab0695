#include "PhotoPages.h"
#include "CameraRollWriter.h"
#include "PhotoDbWriter.h"
#include "PhotoTestDevice.h"
#include "iPodPhoto.h"

#include <gtest/gtest.h>

namespace {

// Records what the page logic asks of the photo window's scroll box.
class TRecordingTileBox : public TTileBox {
public:
    std::vector<TTile> Tiles;
    QStringList Calls;
    void RemoveAllTiles() override {
        Tiles.clear();
        Calls << QStringLiteral("remove");
    }
    void AddTile(const TTile& tile) override { Tiles.push_back(tile); }
    void SetTileSelected(int tile, bool selected) override {
        Tiles[size_t(tile)].Selected = selected;
        Calls << QStringLiteral("mark %1 %2").arg(tile).arg(selected);
    }
    void SetBoxEnabled(bool enabled) override {
        Calls << (enabled ? QStringLiteral("enable") : QStringLiteral("disable"));
    }
    void SetBoxVisible(bool visible) override {
        Calls << (visible ? QStringLiteral("show") : QStringLiteral("hide"));
    }
};

// Display thumbnails of 3011 (80 x 79) in one shade of grey per photo.
QByteArray Grey(const TFixtureFormat& f, int index) {
    const int v = 8 * (index + 1);
    return Rgb16Fill(f.Width, f.Height, f.FormatId == 3011 ? Rgb565(v, v, v) : 0);
}

struct TAlbumPages : ::testing::Test {
    TPhotoTestDevice T;
    TRecordingTileBox Box;
    std::unique_ptr<TIpodPhotoDb> Db;
    void SetUp() override {
        TFixtureAlbum many;
        many.Name = QStringLiteral("Many");
        for (int i = 0; i < 301; ++i)
            many.ImageIds.append(100 + quint32(i % 5));
        TFixtureAlbum odd;
        odd.Name = QStringLiteral("Odd");
        odd.ImageIds = {999, 102, 103};
        WritePhotoLibrary(T.Root, {{1029, 200, 200, 80000, 0}, {3011, 80, 79, 12640, 0}}, 5, Grey, 100,
                          {many, odd});
        Db = std::make_unique<TIpodPhotoDb>(T.Device.get(), false, &Box);
        ASSERT_TRUE(Db->ReadPhotoDatabase());
        ASSERT_EQ(Db->ThumbInfo.FormatId, 3011);
        ASSERT_EQ(Db->AlbumTile.PerPage, 300);
    }
};

} // namespace

TEST_F(TAlbumPages, PagesOfAnAlbumAndTheirTilePositions) {
    EXPECT_EQ(Db->AlbumPageCount(0), 1);
    EXPECT_EQ(Db->AlbumPageCount(1), 2);
    std::vector<int> loaded;
    Db->OnTileLoaded = [&](int n) { loaded.push_back(n); };
    EXPECT_EQ(Db->ShowAlbumPage(1, 1, 1), 300);
    ASSERT_EQ(Box.Tiles.size(), 300u);
    EXPECT_EQ(loaded.size(), 300u);
    // 75-pixel tiles, 20 apart, six to a row.
    const std::pair<int, int> places[] = {{20, 20}, {115, 20}, {495, 20}, {20, 115}, {115, 115}};
    const int at[] = {0, 1, 5, 6, 7};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(Box.Tiles[size_t(at[k])].Left, places[k].first) << k;
        EXPECT_EQ(Box.Tiles[size_t(at[k])].Top, places[k].second) << k;
        EXPECT_EQ(Box.Tiles[size_t(at[k])].Width, 75);
    }
    // The tile keeps the thumbnail's own size and shows that photo's pixels.
    const QImage& pic = Box.Tiles[2].Picture;
    EXPECT_EQ(pic.size(), QSize(80, 79));
    const int v = 8 * 3;
    EXPECT_EQ(QColor(pic.pixel(40, 40)), QColor(v + (v >> 5), v + (v >> 6), v + (v >> 5)));
    EXPECT_EQ(Db->ShowAlbumPage(1, 2, 1), 1);
    EXPECT_EQ(Db->ShownTiles()[0].Index, 0);
    EXPECT_EQ(Db->ShowAlbumPage(1, 3, 1), 0);
}

TEST_F(TAlbumPages, UnknownIdsShowNothingAndDuplicatesShowTwice) {
    EXPECT_EQ(Db->ShowAlbumPage(2, 1, 1), 2);
    EXPECT_EQ(Db->ShownTiles()[0].Index, 2);
    Db->Photos[4].ImageId = 103; // two photos with one id
    EXPECT_EQ(Db->ShowAlbumPage(2, 1, 1), 3);
    EXPECT_EQ(Db->ShownTiles()[2].Index, 4);
    EXPECT_EQ(Db->ShowAlbumPage(2, 1, 7), 0); // no thumbnail file 7
}

TEST_F(TAlbumPages, ClicksChangeSelectionAndMarkAllOnlyTouchesTiles) {
    Db->Photos.SelectItem(1);
    Db->Photos.SelectItem(3);
    ASSERT_EQ(Db->ShowAlbumPage(0, 1, 1), 5);
    EXPECT_TRUE(Box.Tiles[1].Selected);
    std::vector<std::pair<int, bool>> selects;
    Db->OnSelect = [&](int i, bool s) { selects.emplace_back(i, s); };
    Db->TileClick(0);
    Db->TileClick(0);
    EXPECT_EQ(Db->Photos.SelCount, 2);
    EXPECT_EQ(Db->Photos.SelBytes, 160000);
    EXPECT_EQ(selects, (std::vector<std::pair<int, bool>>{{0, true}, {0, false}}));
    Box.Calls.clear();
    Db->SetAllTiles(2);
    EXPECT_EQ(Box.Calls,
              (QStringList{QStringLiteral("disable"), QStringLiteral("mark 0 1"), QStringLiteral("mark 1 0"),
                           QStringLiteral("mark 2 1"), QStringLiteral("mark 3 0"), QStringLiteral("mark 4 1"),
                           QStringLiteral("enable")}));
    EXPECT_EQ(Db->Photos.SelCount, 2); // the window updates the lists itself
    Box.Calls.clear();
    Db->SetAllTiles(0);
    EXPECT_EQ(Box.Calls.size(), 4);
    Db->ClearTiles();
    EXPECT_TRUE(Box.Tiles.empty());
}

TEST(PhotoPages, NeverSetLayoutHasNoPagesAndImageLeftFor1015) {
    TIpodPhotoDb db(nullptr, true);
    db.Albums.Add().AddImageId(1);
    db.Photos.Add();
    EXPECT_EQ(db.AlbumPageCount(0), 0);
    EXPECT_EQ(db.ShowAlbumPage(0, 1, 1), 0);
    db.ThumbInfo.FormatId = 1015;
    db.SetTileLayout(false);
    EXPECT_EQ(TileImageLeft, -5);
}

TEST(PhotoPages, CameraPagesStretchPreviewsOverTheTile) {
    TPhotoTestDevice t;
    QVector<TFixtureCameraFile> files;
    for (int i = 0; i < 250; ++i)
        files.append({QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')),
                      i == 0 ? SolidJpeg(64, 48, qRgb(200, 0, 0)) : "x",
                      {},
                      false});
    WriteCameraRoll(t.Root, files);
    TRecordingTileBox box;
    TIpodPhotoDb db(t.Device.get(), true, &box);
    ASSERT_EQ(db.LoadCameraRoll(), 250);
    EXPECT_EQ(db.CameraPageCount(), 3);
    EXPECT_EQ(db.ShowCameraPage(3), 50);
    EXPECT_EQ(db.ShowCameraPage(2), 100);
    EXPECT_EQ(db.ShowCameraPage(1), 100);
    int first = -1;
    for (int page = 1; page <= 3 && first < 0; ++page) {
        db.ShowCameraPage(page);
        for (size_t k = 0; k < db.ShownTiles().size(); ++k)
            if (db.CamPhotos->Items(db.ShownTiles()[k].Index).FileName == QStringLiteral("IMG_0000.JPG"))
                first = int(k);
    }
    ASSERT_GE(first, 0);
    const QImage& pic = box.Tiles[size_t(first)].Picture;
    EXPECT_EQ(pic.size(), QSize(75, 75));
    for (const QPoint p : {QPoint(0, 0), QPoint(74, 74), QPoint(37, 0)})
        EXPECT_LE(qAbs(qRed(pic.pixel(p)) - 200), 8) << p.x() << "," << p.y();
    db.TileClick(first);
    EXPECT_EQ(db.CamPhotos->SelCount, 1);
}
