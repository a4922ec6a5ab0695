#pragma once

#include <QString>

// Error codes of the copy operations: 0 success, otherwise the errno value.
// EEXIST (17) stands where the program expects "file exists".
constexpr int CopyErrorFileExists = 17;
// The code after which a copy is retried once (invalid parameter).
constexpr int CopyErrorInvalidParameter = 22;

// Copies source to dest without ever overwriting dest. The bytes go to an unnamed
// temporary file in dest's folder (a hidden named one where the file system has no
// unnamed files), every write and the close are checked, and only a
// complete copy is given the final name; a failure leaves nothing under dest.
int CopyFileNoOverwrite(const QString& source, const QString& dest);

// Writes the bytes of a local file from a producer in the same way. The producer is
// called with the open descriptor and returns 0 or an errno value.
template <typename Producer> int WriteFileNoOverwrite(const QString& dest, Producer&& produce);

namespace FileCopyDetail {
// Creates the hidden temporary beside dest; returns the descriptor or -errno.
int CreateTemp(const QString& dest, QString& tempName);
// Closes and publishes (or removes on error) the temporary; returns 0 or errno.
int Finish(int fd, const QString& tempName, const QString& dest, int error);
} // namespace FileCopyDetail

template <typename Producer> int WriteFileNoOverwrite(const QString& dest, Producer&& produce) {
    QString temp;
    const int fd = FileCopyDetail::CreateTemp(dest, temp);
    if (fd < 0)
        return -fd;
    return FileCopyDetail::Finish(fd, temp, dest, produce(fd));
}
