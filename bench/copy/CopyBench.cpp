// The music transfer against cp: the same device files copied into an empty folder on
// the same disk, both in every iteration (in alternating order), reported as the
// engine's throughput over cp's. Run with --benchmark_repetitions=N for medians.
#include "MusicCopyThread.h"
#include "iPodDev.h"
#include "iPodMusic.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// A device tree of count files of size bytes below a temporary root beside the target.
struct TDeviceTree {
    QTemporaryDir Temp{QDir::tempPath() + QStringLiteral("/quenlor-copy-bench-XXXXXX")};
    QString Root;
    QStringList Files;
    qint64 Bytes = 0;

    TDeviceTree(int count, qint64 size) {
        Root = Temp.path() + QStringLiteral("/ipod");
        std::vector<char> bytes(static_cast<size_t>(size));
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 2654435761u) >> 13);
        for (int i = 0; i < count; ++i) {
            const QString folder =
                Root + QStringLiteral("/iPod_Control/Music/F%1/").arg(i % 50, 2, 10, QLatin1Char('0'));
            QDir().mkpath(folder);
            const QString file = folder + QStringLiteral("T%1.mp3").arg(i, 5, 10, QLatin1Char('0'));
            QFile f(file);
            if (!f.open(QIODevice::WriteOnly)) continue;
            bytes[0] = char(i);
            f.write(bytes.data(), qint64(bytes.size()));
            Files.append(file);
            Bytes += size;
        }
        QDir().mkpath(Root + QStringLiteral("/iPod_Control/iTunes"));
    }
};

// Copies with the engine, through the transfer thread as the tools run it; seconds.
double EngineCopy(const TDeviceTree& tree, const QString& target) {
    TIpodDevice device(nullptr, nullptr, false);
    device.Root = tree.Root;
    device.Connected = true;
    TIpodMusicDb db(&device);
    for (const QString& file : tree.Files) {
        TTrackItem& t = db.Tracks.Add();
        t.Location = QDir(tree.Root).relativeFilePath(file).replace(QLatin1Char('/'), QLatin1Char(':'));
        t.Title = QFileInfo(file).completeBaseName();
        t.Size = quint32(QFileInfo(file).size());
        t.CopyState = -1;
        db.Tracks.CheckItem(db.Tracks.Count() - 1);
    }
    QDir().mkpath(target);
    db.DestDir = target + QLatin1Char('/');
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    TMusicCopyThread thread(false, &db);
    thread.FreeOnTerminate = false;
    int reported = 0;
    thread.OnProgress = [&](const QString&) { ++reported; };
    thread.OnStatus = [&](const QString&, quint8 stage) {
        if (stage == 2) loop.quit();
    };
    thread.start();
    loop.exec();
    thread.wait();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (thread.Copied != tree.Files.size() || reported != tree.Files.size())
        qFatal("engine copied %d of %lld", thread.Copied, qlonglong(tree.Files.size()));
    return seconds;
}

// Copies with cp in one process, as a user would; seconds.
double CpCopy(const TDeviceTree& tree, const QString& target) {
    QDir().mkpath(target);
    std::vector<QByteArray> args{"cp", "--"};
    for (const QString& f : tree.Files)
        args.push_back(QFile::encodeName(f));
    args.push_back(QFile::encodeName(target + QLatin1Char('/')));
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "cp", nullptr, nullptr, argv.data(), environ) != 0) qFatal("cannot start cp");
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) qFatal("cp failed");
    return seconds;
}

// Written pages are flushed before each copy so neither pays for the other's writeback.
void Settle(const QString& target) {
    QDir(target).removeRecursively();
    ::sync();
}

void CopyAgainstCp(benchmark::State& state, int count, qint64 size) {
    TDeviceTree tree(count, size);
    const QString engineTarget = tree.Temp.path() + QStringLiteral("/engine");
    const QString cpTarget = tree.Temp.path() + QStringLiteral("/cp");
    double engineTotal = 0, cpTotal = 0;
    std::vector<double> ratios;
    bool engineFirst = true;
    for (auto _ : state) {
        double engine = 0, cp = 0;
        Settle(engineTarget);
        Settle(cpTarget);
        if (engineFirst) {
            engine = EngineCopy(tree, engineTarget);
            Settle(engineTarget);
            cp = CpCopy(tree, cpTarget);
        } else {
            cp = CpCopy(tree, cpTarget);
            Settle(cpTarget);
            engine = EngineCopy(tree, engineTarget);
        }
        engineFirst = !engineFirst;
        state.SetIterationTime(engine);
        engineTotal += engine;
        cpTotal += cp;
        ratios.push_back(cp / engine);
    }
    Settle(engineTarget);
    Settle(cpTarget);
    const double mb = double(tree.Bytes) / 1048576.0 * double(state.iterations());
    state.SetBytesProcessed(tree.Bytes * qint64(state.iterations()));
    state.counters["engine_MBps"] = mb / engineTotal;
    state.counters["cp_MBps"] = mb / cpTotal;
    // Throughput of the engine as a share of cp's (1 is as fast as cp): the median of
    // the pairs measured back to back, which the disk's other traffic disturbs least.
    std::sort(ratios.begin(), ratios.end());
    const size_t n = ratios.size();
    state.counters["ratio"] = n == 0 ? 0 : (n % 2 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2);
}

void BM_Copy200FilesOf1GiB(benchmark::State& state) {
    CopyAgainstCp(state, 200, (qint64(1) << 30) / 200);
}
void BM_Copy5000FilesOf8KiB(benchmark::State& state) {
    CopyAgainstCp(state, 5000, 8192);
}

BENCHMARK(BM_Copy200FilesOf1GiB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Copy5000FilesOf8KiB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);

} // namespace
