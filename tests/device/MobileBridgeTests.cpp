// The mobile device bridge over the fake device library: connecting, pairing, reading
// files, listings, property lists, and its safety against events and destruction.
#include "IosHelper.h"
#include "MemoryStream.h"
#include "MobileTestSupport.h"
#include "TestSupport.h"

#include "BinaryPlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

constexpr qint64 MiB = 1048576;

// A started bridge that notifications reach, as the session sets it up.
struct TStartedBridge {
    TEventLog Log;
    std::unique_ptr<TIosHelper> Bridge;

    TStartedBridge() {
        Bridge = std::make_unique<TIosHelper>(3, [this](bool usable) { Log.Add(usable); });
        CurrentIosHelper = Bridge.get();
        Bridge->Start(!Bridge->LibraryLoaded);
    }
    ~TStartedBridge() {
        if (CurrentIosHelper == Bridge.get()) CurrentIosHelper = nullptr;
    }
    bool WaitEvents(size_t count) {
        return WaitFor([&] { return Log.Count() >= count; });
    }
};

TEST(MobileBridge, ConnectsAndCopiesWholeBuffersIncludingTheEdges) {
    TFakeDevice fake;
    const QByteArray exact = Pattern(2 * 3 * MiB, 1); // a multiple of the buffer
    const QByteArray odd = Pattern(3 * MiB + 12345, 2);
    fake.AddFile(QStringLiteral("iTunes_Control/iTunes/exact.bin"), exact);
    fake.AddFile(QStringLiteral("iTunes_Control/iTunes/odd.bin"), odd);
    fake.AddFile(QStringLiteral("iTunes_Control/iTunes/empty.bin"), QByteArray());
    TStartedBridge b;
    ASSERT_TRUE(b.Bridge->LibraryLoaded);
    ASSERT_TRUE(b.Bridge->Subscribed);
    EXPECT_EQ(b.Bridge->BufferSize, 3 * MiB);
    ASSERT_TRUE(b.WaitEvents(1));
    EXPECT_EQ(b.Log.Events(), std::vector<bool>{true});

    for (const auto& [name, bytes] :
         {std::pair{"exact.bin", exact}, {"odd.bin", odd}, {"empty.bin", QByteArray()}}) {
        SCOPED_TRACE(name);
        const QString path = QStringLiteral("/iTunes_Control/iTunes/") + QLatin1String(name);
        TMemoryStream stream;
        stream.Write("head", 4); // appended at the stream's position
        ASSERT_TRUE(b.Bridge->CopyToStream(path, stream)) << b.Bridge->LastError.toStdString();
        EXPECT_EQ(stream.ToByteArray(), QByteArray("head") + bytes);
        const QString local = fake.Work() + QLatin1Char('/') + QLatin1String(name);
        ASSERT_TRUE(b.Bridge->CopyToFile(path, local));
        EXPECT_EQ(ReadAll(local), bytes);
        EXPECT_EQ(b.Bridge->GetFileSize(path), bytes.size());
    }
    EXPECT_EQ(fake.Counter("write_attempts"), 0);
    EXPECT_EQ(fake.Counter("open_files"), 0);
}

TEST(MobileBridge, KindsSizesAndExistence) {
    TFakeDevice fake;
    fake.AddFile(QStringLiteral("Books/a.epub"), "abc");
    QDir().mkpath(fake.Root() + QStringLiteral("/Books/folder.epub"));
    QFile::link(QStringLiteral("a.epub"), fake.Root() + QStringLiteral("/Books/link"));
    TStartedBridge b;
    ASSERT_TRUE(b.WaitEvents(1));
    TIosHelper& h = *b.Bridge;
    EXPECT_EQ(h.GetFileKind(QStringLiteral("Books/a.epub")), 0);
    EXPECT_EQ(h.GetFileKind(QStringLiteral("Books/folder.epub")), 1);
    EXPECT_TRUE(h.IsDirectory(QStringLiteral("Books/folder.epub")));
    EXPECT_EQ(h.GetFileKind(QStringLiteral("Books/link")), 2);
    EXPECT_EQ(h.GetFileKind(QStringLiteral("Books/missing")), 3);
    EXPECT_EQ(h.GetFileSize(QStringLiteral("Books/a.epub")), 3);
    EXPECT_EQ(h.GetFileSize(QStringLiteral("Books/missing")), 0);
    EXPECT_TRUE(h.DeviceFileExists(QStringLiteral("/Books/a.epub")));
    EXPECT_FALSE(h.DeviceFileExists(QStringLiteral("/Books/missing")));
    TMemoryStream stream;
    EXPECT_FALSE(h.CopyToStream(QStringLiteral("/Books/missing"), stream));
    EXPECT_EQ(h.LastError, QStringLiteral("Not found: /Books/missing"));
}

TEST(MobileBridge, ShortReadsAreNotTakenForTheEndOfTheFile) {
    TFakeDevice fake;
    const QByteArray bytes = Pattern(7 * MiB + 5, 3);
    fake.AddFile(QStringLiteral("f.bin"), bytes);
    fake.Set("QUENLOR_FAKE_SHORT_READS", "1");
    TStartedBridge b;
    ASSERT_TRUE(b.WaitEvents(1));
    TMemoryStream stream;
    ASSERT_TRUE(b.Bridge->CopyToStream(QStringLiteral("/f.bin"), stream));
    EXPECT_EQ(stream.ToByteArray(), bytes);
}

TEST(MobileBridge, ReadErrorsFailTheCopyAndLeaveNoFile) {
    TFakeDevice fake;
    fake.AddFile(QStringLiteral("f.bin"), Pattern(5 * MiB, 4));
    fake.Set("QUENLOR_FAKE_READ_ERROR_AT", QByteArray::number(4 * MiB));
    TStartedBridge b;
    ASSERT_TRUE(b.WaitEvents(1));
    TMemoryStream stream;
    EXPECT_FALSE(b.Bridge->CopyToStream(QStringLiteral("/f.bin"), stream));
    EXPECT_EQ(b.Bridge->LastError, QStringLiteral("Read error: 4"));

    // A failed copy keeps what was under the name and leaves no partial file beside it.
    const QString local = fake.Work() + QStringLiteral("/f.bin");
    WriteAll(local, "before");
    EXPECT_FALSE(b.Bridge->CopyToFile(QStringLiteral("/f.bin"), local));
    EXPECT_EQ(ReadAll(local), QByteArray("before"));
    EXPECT_EQ(QDir(fake.Work()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("f.bin")});
    EXPECT_EQ(fake.Counter("open_files"), 0);
}

TEST(MobileBridge, ReadAtGivesAllBytesOrFails) {
    TFakeDevice fake;
    const QByteArray bytes = Pattern(100000, 5);
    fake.AddFile(QStringLiteral("PhotoData/Thumbnails/F1.ithmb"), bytes);
    fake.Set("QUENLOR_FAKE_SHORT_READS", "1");
    TStartedBridge b;
    ASSERT_TRUE(b.WaitEvents(1));
    TIosHelper& h = *b.Bridge;
    EXPECT_FALSE(h.OpenDeviceFile(QStringLiteral("/PhotoData/Thumbnails/none")));
    EXPECT_EQ(h.LastError, QStringLiteral("Not found"));
    ASSERT_TRUE(h.OpenDeviceFile(QStringLiteral("/PhotoData/Thumbnails/F1.ithmb")));
    QByteArray buffer(4000, '\0');
    ASSERT_TRUE(h.ReadAt(4000, buffer.data(), 50000));
    EXPECT_EQ(buffer, bytes.mid(50000, 4000));
    // Past the end: the stale buffer is not handed out as a picture.
    EXPECT_FALSE(h.ReadAt(4000, buffer.data(), 99000));
    EXPECT_TRUE(h.LastError.startsWith(QStringLiteral("Read Err: ")));
    fake.Set("QUENLOR_FAKE_READ_ERROR_AT", "10");
    EXPECT_FALSE(h.ReadAt(100, buffer.data(), 0));
    EXPECT_EQ(h.LastError, QStringLiteral("Read Err: 4"));
    h.CloseDeviceFile();
    EXPECT_EQ(fake.Counter("open_files"), 0);
}

TEST(MobileBridge, ListingsSkipDotsOtherKindsAndNamesThatAreNotPlain) {
    TFakeDevice fake;
    fake.AddFile(QStringLiteral("Books/B.epub/mimetype"), "application/epub+zip");
    fake.AddFile(QStringLiteral("Books/B.epub/META-INF/container.xml"), "<c/>");
    fake.AddFile(QStringLiteral("Books/B.epub/OEBPS/text/ch1.xhtml"), "<h/>");
    fake.AddFile(QStringLiteral("Books/B.epub/OEBPS/content.opf"), "<p/>");
    QFile::link(QStringLiteral("mimetype"), fake.Root() + QStringLiteral("/Books/B.epub/link"));
    fake.Set("QUENLOR_FAKE_EXTRA_NAMES", "..|.|../escape|a/b||..\\x");
    TStartedBridge b;
    ASSERT_TRUE(b.WaitEvents(1));
    QStringList flat;
    b.Bridge->ListFiles(QStringLiteral("Books/B.epub/"), flat);
    EXPECT_EQ(flat, QStringList{QStringLiteral("mimetype")});
    QStringList all;
    b.Bridge->ListFilesRecursive(QStringLiteral("Books/B.epub/"), all);
    all.sort();
    EXPECT_EQ(all, (QStringList{QStringLiteral("Books/B.epub/META-INF/container.xml"),
                                QStringLiteral("Books/B.epub/OEBPS/content.opf"),
                                QStringLiteral("Books/B.epub/OEBPS/text/ch1.xhtml"),
                                QStringLiteral("Books/B.epub/mimetype")}));
    // Each subfolder's files come where the subfolder was met, depth first.
    QStringList again;
    b.Bridge->ListFilesRecursive(QStringLiteral("Books/B.epub/"), again);
    const int text = int(again.indexOf(QStringLiteral("Books/B.epub/OEBPS/text/ch1.xhtml")));
    const int opf = int(again.indexOf(QStringLiteral("Books/B.epub/OEBPS/content.opf")));
    EXPECT_EQ(std::abs(text - opf), 1);
    QStringList none;
    b.Bridge->ListFiles(QStringLiteral("Books/missing/"), none);
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(b.Bridge->LastError, QStringLiteral("Path not found: Books/missing/"));
}

struct TConnectCase {
    const char* Name;
    std::vector<std::pair<const char*, const char*>> Switches;
    bool Usable;
    const char* Error; // LastError when not usable
    long Pairs;
};

TEST(MobileBridge, ConnectionStepsAndTheirFailures) {
    const TConnectCase cases[] = {
        {"paired", {}, true, "", 0},
        {"pairing accepted", {{"QUENLOR_FAKE_PAIRED", "0"}}, true, "", 1},
        {"pairing refused",
         {{"QUENLOR_FAKE_PAIRED", "0"}, {"QUENLOR_FAKE_PAIRING", "refuse"}},
         false,
         "Pair failed: -18 (Run iTunes to pair the device)",
         1},
        {"validation fails, pairing again accepted", {{"QUENLOR_FAKE_VALIDATION", "fail"}}, true, "", 1},
        {"validation fails, pairing again refused",
         {{"QUENLOR_FAKE_VALIDATION", "fail"}, {"QUENLOR_FAKE_PAIRING", "refuse"}},
         false,
         "Invalid pair: -18 (Run iTunes to pair the device)",
         1},
        {"connect", {{"QUENLOR_FAKE_FAIL", "connect"}}, false, "Connect failed: -2", 0},
        {"control connection", {{"QUENLOR_FAKE_FAIL", "lockdown"}}, false, "Connect failed: -8", 0},
        {"session", {{"QUENLOR_FAKE_FAIL", "session"}}, false, "Cannot start session: -21", 0},
        {"service", {{"QUENLOR_FAKE_FAIL", "service"}}, false, "Cannot start AFC service: -27", 0},
        {"file service connection", {{"QUENLOR_FAKE_FAIL", "afc"}}, false, "Open AFC error: 30", 0},
    };
    for (const TConnectCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeDevice fake;
        fake.AddFile(QStringLiteral("f.txt"), "x");
        for (const auto& [name, value] : c.Switches)
            fake.Set(name, value);
        TStartedBridge b;
        // The arrival, and the pairing announcement after a pairing.
        ASSERT_TRUE(fake.WaitDelivered(c.Usable && c.Pairs ? 2 : 1));
        WaitFor([] { return false; }, 50);
        EXPECT_EQ(fake.Counter("pairs"), c.Pairs);
        if (c.Usable) {
            EXPECT_EQ(b.Log.Events(), std::vector<bool>{true});
            EXPECT_TRUE(b.Bridge->DeviceFileExists(QStringLiteral("f.txt")));
        } else {
            // A failed connection sends no event; the reason stays.
            EXPECT_TRUE(b.Log.Events().empty());
            EXPECT_EQ(b.Bridge->LastErrorText(), QString::fromLatin1(c.Error));
            EXPECT_FALSE(b.Bridge->DeviceFileExists(QStringLiteral("f.txt")));
            // Its removal is still reported.
            fake.PostEvent(2);
            ASSERT_TRUE(b.WaitEvents(1));
            EXPECT_EQ(b.Log.Events(), std::vector<bool>{false});
        }
    }
}

TEST(MobileBridge, SubscriptionFailureIsReported) {
    TFakeDevice fake;
    fake.Set("QUENLOR_FAKE_FAIL", "subscribe");
    TStartedBridge b;
    EXPECT_FALSE(b.Bridge->Subscribed);
    EXPECT_EQ(b.Bridge->LastErrorText(), QStringLiteral("Subscribes error: -2"));
    EXPECT_EQ(b.Bridge->BufferSize, 3 * MiB);
}

TEST(MobileBridge, PairingIsNotRemovalAndRemovalLeavesTheConnection) {
    TFakeDevice fake;
    fake.AddFile(QStringLiteral("f.txt"), "x");
    TStartedBridge b;
    ASSERT_TRUE(b.WaitEvents(1));
    fake.PostEvent(3);
    ASSERT_TRUE(fake.WaitDelivered(2));
    EXPECT_EQ(b.Log.Events(), std::vector<bool>{true});
    fake.PostEvent(2);
    ASSERT_TRUE(b.WaitEvents(2));
    EXPECT_EQ(b.Log.Events(), (std::vector<bool>{true, false}));
    // Another device's removal is not this one's.
    fake.Set("QUENLOR_FAKE_UDID", "other");
    fake.PostEvent(2);
    ASSERT_TRUE(fake.WaitDelivered(4));
    EXPECT_EQ(b.Log.Count(), 2u);
    fake.Unset("QUENLOR_FAKE_UDID");
    fake.PostEvent(1);
    ASSERT_TRUE(b.WaitEvents(3));
    EXPECT_TRUE(b.Bridge->DeviceFileExists(QStringLiteral("f.txt")));
}

TEST(MobileBridge, RemovalOfTheDeviceInUseCountsAfterAnotherFailedToConnect) {
    TFakeDevice fake;
    TStartedBridge b;
    ASSERT_TRUE(b.WaitEvents(1));
    // A second device arrives and cannot be used ...
    fake.Set("QUENLOR_FAKE_UDID", "other");
    fake.Set("QUENLOR_FAKE_FAIL", "connect");
    fake.PostEvent(1);
    ASSERT_TRUE(fake.WaitDelivered(2));
    EXPECT_EQ(b.Bridge->LastErrorText(), QStringLiteral("Connect failed: -2"));
    // ... and the one in use then leaves: that still ends the session.
    fake.Unset("QUENLOR_FAKE_UDID");
    fake.Unset("QUENLOR_FAKE_FAIL");
    fake.PostEvent(2);
    ASSERT_TRUE(b.WaitEvents(2));
    EXPECT_EQ(b.Log.Events(), (std::vector<bool>{true, false}));
}

TEST(MobileBridge, BufferFallsBackWhenMemoryIsShort) {
    TFakeDevice fake;
    const QByteArray bytes = Pattern(MiB + 7, 6);
    fake.AddFile(QStringLiteral("f.bin"), bytes);
    auto* const original = TIosHelper::BufferAllocator;
    TIosHelper::BufferAllocator = [](size_t n) { return n > 524288 ? nullptr : std::malloc(n); };
    {
        TStartedBridge b;
        EXPECT_EQ(b.Bridge->BufferSize, 524288);
        ASSERT_TRUE(b.WaitEvents(1));
        TMemoryStream stream;
        ASSERT_TRUE(b.Bridge->CopyToStream(QStringLiteral("/f.bin"), stream));
        EXPECT_EQ(stream.ToByteArray(), bytes);
    }
    TIosHelper::BufferAllocator = [](size_t) -> void* { return nullptr; };
    {
        TStartedBridge b;
        EXPECT_EQ(b.Bridge->BufferSize, 0);
        ASSERT_TRUE(b.WaitEvents(1));
        TMemoryStream stream;
        // Without a buffer nothing is copied, and that is not a success.
        EXPECT_FALSE(b.Bridge->CopyToStream(QStringLiteral("/f.bin"), stream));
        EXPECT_EQ(b.Bridge->LastError, QStringLiteral("Internal - out of Memory"));
    }
    TIosHelper::BufferAllocator = original;
}

TEST(MobileBridge, ConvertsBinaryPropertyLists) {
    TFakeDevice fake;
    TStartedBridge b;
    const QString source = fake.Work() + QStringLiteral("/in.plist");
    WriteAll(source,
             BinaryBooksPlist({{QStringLiteral("Título"), QStringLiteral("A"), QStringLiteral("t.epub")}}));
    ASSERT_TRUE(ReadAll(source).startsWith("bplist"));
    ASSERT_TRUE(b.Bridge->ConvertPlistToXml(source, source));
    const QString xml = QString::fromUtf8(ReadAll(source));
    EXPECT_TRUE(xml.contains(QStringLiteral("<key>Books</key>")));
    EXPECT_TRUE(xml.contains(QStringLiteral("<string>Título</string>")));
    WriteAll(source, "bplist00 broken");
    EXPECT_FALSE(b.Bridge->ConvertPlistToXml(source, fake.Work() + QStringLiteral("/out.plist")));
    EXPECT_FALSE(QFileInfo::exists(fake.Work() + QStringLiteral("/out.plist")));
}

TEST(MobileBridge, BridgesDestroyedWhileEventsArriveAreNeverReached) {
    TFakeDevice fake;
    fake.AddFile(QStringLiteral("f.txt"), "x");
    long delivered = 0;
    for (int round = 0; round < 20; ++round) {
        {
            TStartedBridge b;
            for (int i = 0; i < 5; ++i) {
                fake.PostEvent(1 + i % 3);
            }
            if (round % 2) WaitFor([] { return false; }, 2);
        }
        // Events still queued now find no bridge, or the next one.
        fake.PostEvent(2);
        fake.PostEvent(1);
        delivered = fake.Counter("delivered");
    }
    EXPECT_GE(delivered, 0);
    TStartedBridge last;
    EXPECT_TRUE(last.WaitEvents(1));
}

TEST(MobileBridge, EventsDuringATransferNeverTearTheConnection) {
    TFakeDevice fake;
    const QByteArray bytes = Pattern(8 * MiB + 3, 7);
    fake.AddFile(QStringLiteral("big.bin"), bytes);
    TStartedBridge b;
    ASSERT_TRUE(b.WaitEvents(1));
    std::atomic<bool> stop{false};
    std::atomic<int> good{0}, wrong{0};
    std::thread worker([&] {
        for (int i = 0; !stop; ++i) {
            const QString local = fake.Work() + QStringLiteral("/copy%1.bin").arg(i % 4);
            QFile::remove(local);
            if (b.Bridge->CopyToFile(QStringLiteral("/big.bin"), local))
                (ReadAll(local) == bytes ? good : wrong)++;
            else if (QFileInfo::exists(local))
                wrong++; // a failed copy left a file under the name
        }
    });
    // Arrivals, removals and pairings while copying.
    for (int i = 0; i < 30; ++i) {
        fake.PostEvent(1 + i % 3);
        WaitFor([] { return false; }, 5);
    }
    fake.PostEvent(1);
    ASSERT_TRUE(fake.WaitDelivered(32));
    stop = true;
    worker.join();
    EXPECT_EQ(wrong, 0);
    // Connected again at the end: a copy succeeds.
    ASSERT_TRUE(b.Bridge->CopyToFile(QStringLiteral("/big.bin"), fake.Work() + QStringLiteral("/last.bin")));
    EXPECT_EQ(ReadAll(fake.Work() + QStringLiteral("/last.bin")), bytes);
    EXPECT_EQ(fake.Counter("write_attempts"), 0);
}

} // namespace
