// Copies a 256 MiB file off the fake mobile device through the bridge and, in the same
// iteration, the same local file with the same buffer size by plain reads and writes.
// The "ratio" counter is the local copy's best time over the device copy's best time
// (1: the bridge adds nothing to the copy itself); "ratio_cpu" compares the processor
// time of the copying thread over all runs.
#include "IosHelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 FileSize = 256LL * 1024 * 1024;

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool LocalCopy(const QString& from, const QString& to, size_t bufferSize) {
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    static std::vector<char> buffer;
    buffer.resize(bufferSize);
    bool ok = in >= 0 && out >= 0;
    while (ok) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = ::write(out, buffer.data(), size_t(n)) == n;
    }
    if (in >= 0) ::close(in);
    if (out >= 0 && ::close(out) != 0) ok = false;
    return ok;
}

void BM_MobileCopyAgainstLocalCopy(benchmark::State& state) {
    QTemporaryDir dir;
    const QString media = dir.filePath(QStringLiteral("media"));
    QDir().mkpath(media);
    const QString source = media + QStringLiteral("/big.bin");
    {
        QFile f(source);
        f.open(QIODevice::WriteOnly);
        QByteArray chunk(1 << 20, '\0');
        for (int i = 0; i < chunk.size(); ++i)
            chunk[i] = char(i * 31 + 7);
        for (qint64 done = 0; done < FileSize; done += chunk.size())
            f.write(chunk);
    }
    qputenv("QUENLOR_MOBILEDEVICE_LIB", QUENLOR_FAKE_LIB);
    qputenv("QUENLOR_FAKE_ROOT", QFile::encodeName(media));
    std::atomic<bool> usable{false};
    auto bridge = std::make_unique<TIosHelper>(3, [&](bool u) { usable = u; });
    CurrentIosHelper = bridge.get();
    bridge->Start(!bridge->LibraryLoaded);
    for (int i = 0; i < 500 && !usable; ++i)
        QThread::msleep(10);
    if (!usable) {
        state.SkipWithError("the fake device did not connect");
        return;
    }
    const QString target = dir.filePath(QStringLiteral("out.bin"));
    auto copyOnce = [&](bool device) {
        QFile::remove(target);
        ::sync();
        const double c0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = device ? bridge->CopyToFile(QStringLiteral("/big.bin"), target)
                               : LocalCopy(source, target, size_t(bridge->BufferSize));
        const auto t1 = std::chrono::steady_clock::now();
        return ok ? std::pair{std::chrono::duration<double>(t1 - t0).count(), CpuSeconds() - c0}
                  : std::pair{-1.0, -1.0};
    };
    // One unmeasured round: the first copy after the source was written pays for the
    // page cache settling, whichever copy it is.
    copyOnce(true);
    copyOnce(false);
    // The copies take turns going first; on a shared machine the fastest run of each
    // is the steadier measure of what the copy itself costs.
    double bestDevice = 1e9, bestLocal = 1e9, deviceCpu = 0, localCpu = 0;
    bool deviceFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool device = (turn == 0) == deviceFirst;
            const auto [wall, cpu] = copyOnce(device);
            if (wall < 0) {
                state.SkipWithError(device ? "device copy failed" : "local copy failed");
                return;
            }
            (device ? bestDevice : bestLocal) = std::min(device ? bestDevice : bestLocal, wall);
            (device ? deviceCpu : localCpu) += cpu;
        }
        deviceFirst = !deviceFirst;
    }
    const double mib = double(FileSize) / 1048576;
    state.counters["device_MiB_per_s"] = mib / bestDevice;
    state.counters["local_MiB_per_s"] = mib / bestLocal;
    state.counters["ratio"] = bestLocal / bestDevice;
    state.counters["ratio_cpu"] = deviceCpu > 0 ? localCpu / deviceCpu : 0;
    state.counters["buffer_bytes"] = double(bridge->BufferSize);
    CurrentIosHelper = nullptr;
}
BENCHMARK(BM_MobileCopyAgainstLocalCopy)->Unit(benchmark::kMillisecond)->Iterations(6);

} // namespace
