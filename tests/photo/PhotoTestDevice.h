#pragma once

#include "iPodDev.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

// A disk-mode session on a device tree in a temporary folder, and a target folder.
struct TPhotoTestDevice {
    QTemporaryDir Dir;
    QString Root;
    QString Target;
    std::unique_ptr<TIpodDevice> Device;

    // inMemory: under /dev/shm when it exists, for tests that write thousands of files.
    explicit TPhotoTestDevice(bool inMemory = false)
        : Dir(inMemory && QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                  ? QStringLiteral("/dev/shm/quenlor-XXXXXX")
                  : QDir::tempPath() + QStringLiteral("/quenlor-XXXXXX")) {
        Root = Dir.path() + QStringLiteral("/ipod");
        Target = Dir.path() + QStringLiteral("/out/");
        QDir().mkpath(Root + QStringLiteral("/iPod_Control/iTunes"));
        QDir().mkpath(Target);
        Device = std::make_unique<TIpodDevice>(nullptr, nullptr, false);
        Device->Root = Root;
        Device->Connected = true;
        Device->IsMobile = false;
    }
};
