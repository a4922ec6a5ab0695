// Photo export and photo database reading speed.
#include "ImageLib.h"
#include "PhotoDbWriter.h"
#include "iPodDev.h"
#include "iPodPhoto.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

// A device tree with count photos of one copy format whose pictures cycle through
// distinct pictures in one thumbnail file (the file stays in the page cache, as on a
// second run), plus a display format.
struct TBenchDevice {
    QTemporaryDir Dir;
    QString Root, Target;
    std::unique_ptr<TIpodDevice> Device;

    TBenchDevice(quint32 format, quint16 width, quint16 height, quint32 pictureSize, int count, int distinct,
                 const QByteArray& picture)
        : Dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                  ? QStringLiteral("/dev/shm/quenlor-bench-XXXXXX")
                  : QDir::tempPath() + QStringLiteral("/quenlor-bench-XXXXXX")) {
        Root = Dir.path() + QStringLiteral("/ipod");
        Target = Dir.path() + QStringLiteral("/out/");
        QDir().mkpath(Root + QStringLiteral("/Photos/Thumbs"));
        QDir().mkpath(Root + QStringLiteral("/iPod_Control/iTunes"));
        QFile thumbs(Root + QStringLiteral("/Photos/Thumbs/F%1_1.ithmb").arg(format));
        thumbs.open(QIODevice::WriteOnly);
        for (int i = 0; i < distinct; ++i) {
            QByteArray p = picture;
            p[i % p.size()] = char(i); // each picture a little different
            thumbs.write(p);
        }
        thumbs.close();
        QFile small(Root + QStringLiteral("/Photos/Thumbs/F1009_1.ithmb"));
        small.open(QIODevice::WriteOnly);
        small.write(QByteArray(2520, '\0'));
        small.close();
        TPhotoDbContent c;
        for (int i = 0; i < count; ++i) {
            TFixtureImage image;
            image.ImageId = quint32(1000 + i);
            image.Pictures = {{format, quint32(i % distinct) * pictureSize, pictureSize, width, height, 0, 0,
                               QStringLiteral(":Thumbs:F%1_1.ithmb").arg(format), false},
                              {1009, 0, 2520, 42, 30, 0, 0, QStringLiteral(":Thumbs:F1009_1.ithmb"), false}};
            c.Images.append(image);
        }
        QFile db(Root + QStringLiteral("/Photos/Photo Database"));
        db.open(QIODevice::WriteOnly);
        db.write(BuildPhotoDatabase(c));
        db.close();
        Device = std::make_unique<TIpodDevice>(nullptr, nullptr, false);
        Device->Root = Root;
        Device->Connected = true;
    }
};

void RunExport(benchmark::State& state, TBenchDevice& d) {
    TIpodPhotoDb db(d.Device.get(), false);
    if (!db.ReadPhotoDatabase()) {
        state.SkipWithError("database not read");
        return;
    }
    for (int i = 0; i < db.Photos.Count(); ++i)
        db.Photos.SelectItem(i);
    db.DestDir = d.Target;
    int written = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(d.Target).removeRecursively();
        QDir().mkpath(d.Target);
        state.ResumeTiming();
        written = db.CopySelected();
    }
    if (written != db.Photos.Count()) state.SkipWithError("not every photo was written");
    state.SetItemsProcessed(state.iterations() * db.Photos.Count());
}

void BM_Export1024(benchmark::State& state) {
    TBenchDevice d(1024, 320, 240, 153600, 1000, 50, Rgb16Frame(320, 240, [](int x, int y) {
                       return Rgb565(x * 255 / 319, y * 255 / 239, (x + y) % 256);
                   }));
    RunExport(state, d);
}

quint8 Luma(int row, int col) {
    return quint8(16 + (row + col) % 220);
}

void BM_Export1019(benchmark::State& state) {
    TBenchDevice d(1019, 720, 480, 691200, 1000, 20, UyvyFrame(Luma, 100, 160));
    RunExport(state, d);
}

void BM_ReadPhotoDatabase20000(benchmark::State& state) {
    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/ipod");
    QDir().mkpath(root + QStringLiteral("/Photos"));
    TPhotoDbContent c;
    TFixtureAlbum all, some;
    all.Name = QStringLiteral("Library");
    some.Name = QStringLiteral("Every tenth");
    for (int i = 0; i < 20000; ++i) {
        TFixtureImage image;
        image.ImageId = quint32(1000 + i);
        image.Pictures = {
            {1024, quint32(i % 100) * 153600, 153600, 320, 240, 0, 0,
             QStringLiteral(":Thumbs:F1024_%1.ithmb").arg(i / 100 + 1), false},
            {1036, quint32(i) * 4100, 4100, 50, 41, 0, 0, QStringLiteral(":Thumbs:F1036_1.ithmb"), false},
            {1009, quint32(i) * 2520, 2520, 42, 30, 0, 0, QStringLiteral(":Thumbs:F1009_1.ithmb"), false}};
        c.Images.append(image);
        all.ImageIds.append(image.ImageId);
        if (i % 10 == 0) some.ImageIds.append(image.ImageId);
    }
    c.Albums = {all, some};
    QFile f(root + QStringLiteral("/Photos/Photo Database"));
    f.open(QIODevice::WriteOnly);
    const QByteArray bytes = BuildPhotoDatabase(c);
    f.write(bytes);
    f.close();
    // QUENLOR_BENCH_KEEP=DIR keeps the tree there, to time the command-line tool on it
    // in a fresh process.
    const QString keep = qEnvironmentVariable("QUENLOR_BENCH_KEEP");
    if (!keep.isEmpty()) {
        QDir().mkpath(keep + QStringLiteral("/Photos"));
        QDir().mkpath(keep + QStringLiteral("/iPod_Control/iTunes"));
        QFile::remove(keep + QStringLiteral("/Photos/Photo Database"));
        QFile::copy(root + QStringLiteral("/Photos/Photo Database"),
                    keep + QStringLiteral("/Photos/Photo Database"));
    }
    TIpodDevice device(nullptr, nullptr, false);
    device.Root = root;
    device.Connected = true;
    int photos = 0;
    for (auto _ : state) {
        TIpodPhotoDb db(&device, false);
        db.ReadPhotoDatabase();
        photos = db.Photos.Count();
        benchmark::DoNotOptimize(photos);
    }
    if (photos != 20000) state.SkipWithError("not every photo was read");
    state.counters["bytes"] = double(bytes.size());
}

// Our libjpeg-turbo encoder against Qt's writer, at quality 80.
void JpegEncode(benchmark::State& state, bool qt) {
    const int w = int(state.range(0)), h = int(state.range(1));
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    for (auto _ : state)
        benchmark::DoNotOptimize(qt ? EncodeJpegWithQt(image, 80) : EncodeJpeg(image, 80));
}
void BM_JpegLibjpeg(benchmark::State& state) {
    JpegEncode(state, false);
}
void BM_JpegQt(benchmark::State& state) {
    JpegEncode(state, true);
}

} // namespace

BENCHMARK(BM_Export1024)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Iterations(1);
BENCHMARK(BM_Export1019)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Iterations(1);
BENCHMARK(BM_ReadPhotoDatabase20000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_JpegLibjpeg)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JpegQt)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMicrosecond);
