#pragma once

#include <QString>

// Device paths come from the device's own databases and are untrusted: every path is
// rebuilt from its parts, and empty, "." and ".." parts are dropped, so no path can
// climb out of the device's root. Parts are separated by ":", "/" or "\".

// A device path (any separator) as "/part/part"; empty when nothing is left.
QString CleanDevicePath(const QString& path);

// Keeps a trailing separator as "/" (for folders) after cleaning.
QString CleanDeviceFolder(const QString& path);

// The extension of a path's last part with its dot ("" when there is none).
QString PathExtension(const QString& path);

// A name part as a Linux file system can hold it: NUL cannot stand in a name and an
// unpaired surrogate has no UTF-8 form, so the first becomes "_", the second U+FFFD.
QString FileSystemSafe(QString part);

// Fixed folders of the device, by mode.
struct TDeviceFolders {
    QString MusicDatabase;
    QString SqliteLibrary;
    QString PhotoDatabase;
    QString Thumbnails;
    QString PhotoData;
    QString CameraRoll;
};
const TDeviceFolders& DiskFolders();
const TDeviceFolders& MobileFolders();
