// Pixels of known frames against values computed here from the colour formulas.
#include "PhotoDbWriter.h"
#include "iPodDev.h"
#include "iPodPhoto.h"

#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace PhotoDecode;

namespace {

// The formula as written: extended precision, rounded to a double, then to the nearest
// integer with ties to even, limited to 0..255.
int Formula(long double value) {
    const double d = double(value);
    const double r = std::nearbyint(d);
    return r > 255 ? 255 : r < 0 ? 0 : int(r);
}

struct TRgb {
    int R, G, B;
    bool operator==(const TRgb& o) const { return R == o.R && G == o.G && B == o.B; }
};

std::ostream& operator<<(std::ostream& os, const TRgb& c) {
    return os << c.R << "," << c.G << "," << c.B;
}

TRgb UyvyFormula(int y, int u, int v) {
    return {Formula(1.164L * (y - 16) + 1.596L * (v - 128)),
            Formula(1.164L * (y - 16) - 0.392L * (u - 128) - 0.813L * (v - 128)),
            Formula(1.164L * (y - 16) + 2.017L * (u - 128))};
}

TRgb YuvFormula(int y, int u, int v) {
    return {Formula(1.164L * (y - 16) + 1.596L * (v - 128)),
            Formula(1.164L * (y - 16) - 0.391L * (u - 128) - 0.813L * (v - 128)),
            Formula(1.164L * (y - 16) + 2.018L * (u - 128))};
}

TRgb At(const QImage& image, int x, int y) {
    const uchar* p = image.constScanLine(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

QByteArray Bmp(TIpodPhotoDb& db, const QByteArray& raw) {
    db.BuildBmpHeader(false);
    return QByteArray(reinterpret_cast<const char*>(db.BmpHeader), BmpHeaderSize) + raw;
}

quint8 GradientY(int row, int col) {
    return quint8((row + col) % 256);
}

} // namespace

TEST(PhotoDecode, ExactIntegerRoundingMatchesTheFormulaForEveryInput) {
    // Every luma with a spread of chroma values, including the ties of the formula.
    for (int y = 0; y < 256; ++y)
        for (int u = 0; u < 256; u += 3)
            for (int v = 0; v < 256; v += 5) {
                const qint64 yy = 1164LL * (y - 16);
                const TRgb got{ClampThousandths(yy + 1596LL * (v - 128)),
                               ClampThousandths(yy - 392LL * (u - 128) - 813LL * (v - 128)),
                               ClampThousandths(yy + 2017LL * (u - 128))};
                ASSERT_EQ(got, UyvyFormula(y, u, v)) << y << " " << u << " " << v;
            }
    EXPECT_EQ(ClampThousandths(145500), 146); // 145.5 goes to the even 146
    EXPECT_EQ(ClampThousandths(144500), 144);
    EXPECT_EQ(ClampByte(2.5), 2);
    EXPECT_EQ(ClampByte(-3.0), 0);
    EXPECT_EQ(ClampByte(300.0), 255);
}

TEST(PhotoDecode, UyvyFramesBeforeAndAfterResampling) {
    struct TCase {
        quint8 Y, U, V;
        TRgb Before, After;
    };
    const TCase cases[] = {
        {235, 128, 128, {255, 255, 255}, {254, 254, 254}}, // white loses one step to the 65535 weights
        {16, 128, 128, {0, 0, 0}, {0, 0, 0}},
        {255, 128, 255, {255, UyvyFormula(255, 128, 255).G, 255}, {}},
        {81, 90, 240, UyvyFormula(81, 90, 240), {}}, // saturated red
    };
    QImage work, out(640, 480, QImage::Format_RGB888);
    for (const TCase& c : cases) {
        const QByteArray raw = UyvyFill(c.Y, c.U, c.V);
        UyvyToBitmap(raw.constData(), work);
        ASSERT_EQ(work.width(), 704);
        EXPECT_EQ(At(work, 0, 0), c.Before);
        EXPECT_EQ(At(work, 703, 479), c.Before);
        EXPECT_EQ(At(work, 350, 241), c.Before);
        EXPECT_EQ(c.Before, UyvyFormula(c.Y, c.U, c.V));
        if (c.After.R || c.Y == 16) {
            ResizeBitmap(work, out);
            EXPECT_EQ(At(out, 0, 0), c.After);
            EXPECT_EQ(At(out, 639, 479), c.After);
        }
    }
}

TEST(PhotoDecode, UyvyInterlaceCropAndChromaPairs) {
    // Luma (row + col) mod 256: the first field holds even rows, 8 columns are cut at each side.
    const QByteArray raw = UyvyFrame(GradientY, 128, 128);
    QImage work;
    UyvyToBitmap(raw.constData(), work);
    for (const auto& [x, y] : {std::pair{0, 0}, {0, 1}, {5, 2}, {703, 479}, {100, 239}, {100, 240}}) {
        const int luma = (y + x + 8) % 256;
        EXPECT_EQ(At(work, x, y), UyvyFormula(luma, 128, 128)) << x << "," << y;
    }
    // Odd pixels take U and V of their pair: U at b[2j-2], V at b[2j].
    QByteArray pairs = UyvyFill(100, 128, 128);
    char* line0 = pairs.data();
    line0[2 * 10] = char(60);      // U of pixels 10 and 11
    line0[2 * 10 + 2] = char(200); // V of pixels 10 and 11
    UyvyToBitmap(pairs.constData(), work);
    EXPECT_EQ(At(work, 2, 0), UyvyFormula(100, 60, 200));
    EXPECT_EQ(At(work, 3, 0), UyvyFormula(100, 60, 200));
    EXPECT_EQ(At(work, 4, 0), UyvyFormula(100, 128, 128));
}

TEST(PhotoDecode, EveryPixelOfNoiseFramesFollowsTheFormulas) {
    QByteArray raw(691200, '\0');
    quint32 seed = 12345;
    for (char& c : raw) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 16);
    }
    const auto* b = reinterpret_cast<const uchar*>(raw.constData());
    QImage uyvy, yuv;
    UyvyToBitmap(raw.constData(), uyvy);
    for (int line = 0; line < 480; ++line) {
        const int row = line < 240 ? 2 * line : 2 * (line - 240) + 1;
        const uchar* l = b + line * 1440;
        for (int j = 8; j < 712; ++j) {
            const int u = j % 2 == 0 ? l[2 * j] : l[2 * j - 2];
            const int v = j % 2 == 0 ? l[2 * j + 2] : l[2 * j];
            ASSERT_EQ(At(uyvy, j - 8, row), UyvyFormula(l[2 * j + 1], u, v)) << line << " " << j;
        }
    }
    YuvToBitmap(raw.constData(), yuv);
    for (int r = 0; r < 480; ++r)
        for (int c = 0; c < 720; ++c)
            ASSERT_EQ(At(yuv, c, r), YuvFormula(b[r * 720 + c], b[345600 + r / 2 * 360 + c / 2],
                                                b[432000 + r / 2 * 360 + c / 2]))
                << r << " " << c;
}

TEST(PhotoDecode, ResampleWeightsOnAHorizontalStep) {
    // 704 -> 640 columns: step 72089; column x reads source c and c + 1 with weights
    // computed by the 16.16 rules.
    QImage src(704, 480, QImage::Format_RGB888), dst(640, 480, QImage::Format_RGB888);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 704; ++x) {
            uchar* p = src.scanLine(y) + 3 * x;
            p[0] = uchar(x % 256);
            p[1] = uchar(255 - x % 256);
            p[2] = 200;
        }
    ResizeBitmap(src, dst);
    const quint64 step = 704ull * 65536 / 640;
    for (int x : {0, 1, 7, 100, 639}) {
        const quint64 fx = step * quint64(x);
        const quint64 c = fx >> 16, h = fx & 0xFFFF, g = 65535;
        const quint64 w2 = g * h / 65536, w1 = g - w2;
        auto ch = [&](int k) {
            auto v = [&](quint64 col) {
                return quint64(k == 0 ? col % 256 : k == 1 ? 255 - col % 256 : 200);
            };
            return int((v(c) * w1 + v(c + 1) * w2) / 65536);
        };
        EXPECT_EQ(At(dst, x, 17), (TRgb{ch(0), ch(1), ch(2)})) << x;
    }
}

TEST(PhotoDecode, PlanarYuvUsesItsOwnConstantsAndQuarterChroma) {
    QByteArray raw = YuvFill(120, 70, 190);
    // A different chroma for the 2x2 block at rows 2-3, columns 4-5.
    raw[345600 + 1 * 360 + 2] = char(200);
    raw[432000 + 1 * 360 + 2] = char(30);
    QImage out;
    YuvToBitmap(raw.constData(), out);
    ASSERT_EQ(out.width(), 720);
    EXPECT_EQ(At(out, 0, 0), YuvFormula(120, 70, 190));
    // Where the two constant sets part ways, the planar decoder follows its own.
    QImage other;
    YuvToBitmap(YuvFill(16, 27, 128).constData(), other);
    EXPECT_EQ(At(other, 9, 9), YuvFormula(16, 27, 128));
    EXPECT_NE(YuvFormula(16, 27, 128), UyvyFormula(16, 27, 128));
    for (const auto& [x, y] : {std::pair{4, 2}, {5, 2}, {4, 3}, {5, 3}})
        EXPECT_EQ(At(out, x, y), YuvFormula(120, 200, 30));
    EXPECT_EQ(At(out, 6, 2), YuvFormula(120, 70, 190));
    EXPECT_EQ(At(out, 719, 479), YuvFormula(120, 70, 190));
}

TEST(PhotoDecode, SixteenBitPixelsDifferByDeviceMode) {
    struct TCase {
        bool Mobile;
        quint16 Value;
        TRgb Expected;
    };
    // 5-6-5 on a disk-mode iPod, 5-5-5 on a mobile device; channels widened by
    // repeating their high bits, which equals round(v * 255 / max): 30 -> 247, 1 -> 8,
    // 16 -> 132, and 32 of 63 -> 130.
    const TCase cases[] = {
        {false, 0xFFFF, {255, 255, 255}}, {true, 0x7FFF, {255, 255, 255}}, {false, 0x0000, {0, 0, 0}},
        {false, 0xF800, {255, 0, 0}},     {true, 0xF800, {247, 0, 0}},     {false, 0x07E0, {0, 255, 0}},
        {true, 0x07E0, {8, 255, 0}},      {false, 0x001F, {0, 0, 255}},    {false, 0x8410, {132, 130, 132}},
        {true, 0x8410, {8, 0, 132}},
    };
    for (const TCase& c : cases) {
        TIpodDevice device(nullptr, nullptr, false);
        device.IsMobile = c.Mobile;
        TIpodPhotoDb db(&device, false);
        db.CopyInfo = {1024, 320 * 240 * 2, 320, 240, 1};
        const QImage image = DecodeBmp16(Bmp(db, Rgb16Fill(320, 240, c.Value)).constData(), 66 + 153600);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(At(image, 0, 0), c.Expected) << c.Mobile << " " << c.Value;
        EXPECT_EQ(At(image, 319, 239), c.Expected);
    }
}

TEST(PhotoDecode, RowsAreTopFirstAndRowsKeepTheirFourByteLength) {
    TIpodDevice device(nullptr, nullptr, false);
    TIpodPhotoDb db(&device, false);
    // 3 pixels a row: 6 bytes of pixels, 8 bytes of row.
    db.CopyInfo = {4711, 16, 3, 2, 1};
    QByteArray raw(16, '\0');
    raw[0] = char(0x00), raw[1] = char(0xF8); // top-left red
    raw[8] = char(0x1F), raw[9] = char(0x00); // bottom-left blue
    const QImage image = DecodeBmp16(Bmp(db, raw).constData(), 66 + 16);
    ASSERT_EQ(image.height(), 2);
    EXPECT_EQ(At(image, 0, 0), (TRgb{255, 0, 0}));
    EXPECT_EQ(At(image, 0, 1), (TRgb{0, 0, 255}));
    // Too few bytes for the rows the header declares: not a picture.
    EXPECT_TRUE(DecodeBmp16(Bmp(db, raw.left(12)).constData(), 66 + 12).isNull());
}

TEST(PhotoDecode, NanoRgbBigEndianPixelsBecomeTheLittleEndianPicture) {
    // After the exchange the buffer holds the header and the same values stored
    // little-endian, which is what the "RGB" path then decodes.
    auto pixel = [](int x, int y) { return quint16(x * 300 + y * 7); };
    TIpodDevice device(nullptr, nullptr, false);
    TIpodPhotoDb db(&device, false);
    db.CopyInfo = {1023, NanoRgbWorkSize, 176, 132, 1};
    db.BuildBmpHeader(false);
    db.Buffer.Write(Rgb16Frame(176, 132, pixel, true));
    QTemporaryDir dir;
    ASSERT_TRUE(db.DecodeNanoRgb(dir.path() + QStringLiteral("/1.jpg")));
    EXPECT_EQ(db.Buffer.ToByteArray(), Bmp(db, Rgb16Frame(176, 132, pixel, false)));
    // A raw size beyond the work area uses only the work area.
    db.CopyInfo.ImageSize = NanoRgbWorkSize + 1000;
    db.BuildBmpHeader(false);
    db.Buffer.Clear();
    db.Buffer.Write(QByteArray(NanoRgbWorkSize + 1000, char(0x11)));
    EXPECT_TRUE(db.DecodeNanoRgb(dir.path() + QStringLiteral("/2.jpg")));
    EXPECT_EQ(db.Buffer.Size(), 66 + NanoRgbWorkSize + 1000);
}
