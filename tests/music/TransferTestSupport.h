#pragma once

#include "iPodDev.h"
#include "iPodMusic.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// A disk-mode device tree below a temporary root (plain files under
// "iPod_Control/Music/F00/"), a music database whose tracks are added directly, and an
// empty target folder beside the device.
class TTransferTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a ticked track whose device file holds content (no file when fileOnDevice is
    // false). The location is ":iPod_Control:Music:F00:" + fileName.
    TTrackItem& AddTrack(const QString& title, const QString& artist, const QString& album, const QString& fileName,
                         const QByteArray& content, bool fileOnDevice = true);
    QString DevicePath(const QString& fileName) const;
    // Every file and folder below the temporary folder outside the device, relative to it.
    QStringList FilesOutsideDevice() const;

    QTemporaryDir Temp;
    QString Root;
    QString Dest;
    std::unique_ptr<TIpodDevice> Device;
    std::unique_ptr<TIpodMusicDb> Db;
};
