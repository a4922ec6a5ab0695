#pragma once

#include "iPodDev.h"

#include <QDir>
#include <QTemporaryDir>
#include <memory>

// A disk-mode session on a device tree in a temporary folder, and a target folder.
struct TPhotoTestDevice {
    QTemporaryDir Dir;
    QString Root;
    QString Target;
    std::unique_ptr<TIpodDevice> Device;

    TPhotoTestDevice() {
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
