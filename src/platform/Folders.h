#pragma once

#include <QString>

// The nearest folder of path that exists (path itself when it does); empty when none.
QString NearestExistingAncestor(const QString& path);

// Bytes available to the user on the file system holding path (through its nearest
// existing ancestor); -1 when unknown.
qint64 FreeBytes(const QString& path);

// Whether a and b lie on the same file system (same st_dev). False when either is missing.
bool SameFileSystem(const QString& a, const QString& b);

// The user's music or pictures folder with a trailing "/", or empty.
QString UserMusicFolder();
QString UserPicturesFolder();

// A name for a new file in the temporary folder, beginning with prefix; the file is
// created to reserve the name and deleted again, so only the name is returned.
QString UniqueTempName(const QString& prefix);

// Moves a file or folder to the freedesktop Trash. False when it could not be done.
bool MoveToTrash(const QString& path);
