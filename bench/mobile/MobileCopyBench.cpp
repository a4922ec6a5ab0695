// Copies a 256 MiB file off the fake mobile device through the bridge and, in the same
// iteration, the same local file with the same buffer size by plain reads and writes.
// The "ratio" counter is the local time over the device time: 1 means the bridge adds
// nothing to the copy itself.
#include "IosHelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 FileSize = 256LL * 1024 * 1024;

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
    if (in >= 0)
        ::close(in);
    if (out >= 0 && ::close(out) != 0)
        ok = false;
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
    double deviceSeconds = 0, localSeconds = 0;
    for (auto _ : state) {
        QFile::remove(target);
        auto t0 = std::chrono::steady_clock::now();
        if (!bridge->CopyToFile(QStringLiteral("/big.bin"), target)) {
            state.SkipWithError("device copy failed");
            break;
        }
        auto t1 = std::chrono::steady_clock::now();
        QFile::remove(target);
        auto t2 = std::chrono::steady_clock::now();
        if (!LocalCopy(source, target, size_t(bridge->BufferSize))) {
            state.SkipWithError("local copy failed");
            break;
        }
        auto t3 = std::chrono::steady_clock::now();
        deviceSeconds += std::chrono::duration<double>(t1 - t0).count();
        localSeconds += std::chrono::duration<double>(t3 - t2).count();
    }
    const double mib = double(FileSize) / 1048576 * double(state.iterations());
    state.counters["device_MiB_per_s"] = deviceSeconds > 0 ? mib / deviceSeconds : 0;
    state.counters["local_MiB_per_s"] = localSeconds > 0 ? mib / localSeconds : 0;
    state.counters["ratio"] = deviceSeconds > 0 ? localSeconds / deviceSeconds : 0;
    state.counters["buffer_bytes"] = double(bridge->BufferSize);
    CurrentIosHelper = nullptr;
}
BENCHMARK(BM_MobileCopyAgainstLocalCopy)->Unit(benchmark::kMillisecond)->Iterations(6);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
