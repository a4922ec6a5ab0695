#include "MountWatcher.h"
#include "MountTable.h"

#include <QSocketNotifier>
#include <fcntl.h>
#include <unistd.h>

TMountWatcher::TMountWatcher(QObject* parent) : QObject(parent) {
    FKnown = RemovableDriveRoots();
    // The kernel flags a change of the mount table as an exceptional condition (POLLPRI).
    FFd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (FFd >= 0) {
        FNotifier = std::make_unique<QSocketNotifier>(FFd, QSocketNotifier::Exception);
        connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] {
            // Reading the file to its end re-arms the notification.
            char buf[4096];
            ::lseek(FFd, 0, SEEK_SET);
            while (::read(FFd, buf, sizeof buf) > 0) {
            }
            Rescan();
        });
    }
}

TMountWatcher::~TMountWatcher() {
    FNotifier.reset();
    if (FFd >= 0)
        ::close(FFd);
}

void TMountWatcher::Rescan() {
    const QStringList now = RemovableDriveRoots();
    const QStringList before = FKnown;
    FKnown = now;
    for (const QString& m : before)
        if (!now.contains(m))
            Q_EMIT Removed(m);
    for (const QString& m : now)
        if (!before.contains(m))
            Q_EMIT Arrived(m);
}
