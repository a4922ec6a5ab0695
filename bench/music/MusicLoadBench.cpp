// Loading large music databases through Load, as the windows and the tool do.
#include "FixtureDevice.h"
#include "SQLiteWrap.h"
#include "iPodDev.h"
#include "iPodMusic.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <malloc.h>

namespace {

constexpr int TrackCount = 50000;
constexpr int PlaylistCount = 200;

struct TBenchDevice {
    QTemporaryDir Dir;
    TFixtureDevice Tree{Dir.filePath(QStringLiteral("ipod"))};
};

enum class TKind { ITunesDb, ITunesCdb, MediaLibrary };

TBenchDevice& DeviceOf(TKind kind) {
    static TBenchDevice devices[3];
    static bool written[3] = {};
    const int i = int(kind);
    if (!written[i]) {
        written[i] = true;
        if (kind == TKind::MediaLibrary)
            devices[i].Tree.WriteMediaLibrary(GeneratedSqlLibrary(TrackCount, PlaylistCount));
        else
            devices[i].Tree.WriteITunesDb(GeneratedLibrary(TrackCount, PlaylistCount), kind == TKind::ITunesCdb);
    }
    return devices[i];
}

size_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

void LoadBench(benchmark::State& state, TKind kind) {
    TBenchDevice& d = DeviceOf(kind);
    qputenv("QUENLOR_DEVICE_ROOTS", QFile::encodeName(d.Tree.Root));
    TIpodDevice session(nullptr, nullptr, false);
    if (!session.ScanDrives()) {
        state.SkipWithError("device not found");
        return;
    }
    size_t modelBytes = 0;
    for (auto _ : state) {
        const size_t before = HeapInUse();
        TIpodMusicDb db(&session);
        if (!db.Load(true) || db.Tracks.Count() != TrackCount) {
            state.SkipWithError("load failed");
            return;
        }
        modelBytes = HeapInUse() - before;
        benchmark::DoNotOptimize(db.Tracks.CheckedBytes);
    }
    state.counters["tracks"] = TrackCount;
    state.counters["model_MB"] = double(modelBytes) / (1 << 20);
}

} // namespace

BENCHMARK_CAPTURE(LoadBench, ITunesDB_50k, TKind::ITunesDb)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(LoadBench, ITunesCDB_50k, TKind::ITunesCdb)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(LoadBench, MediaLibrary_50k, TKind::MediaLibrary)->Unit(benchmark::kMillisecond)->UseRealTime();
