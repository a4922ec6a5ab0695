#include "FileCopy.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int CopyBytes(int in, int out) {
    bool useRange = true;
    static thread_local char buffer[1 << 20];
    for (;;) {
        if (useRange) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return 0;
            if (errno == EINTR)
                continue;
            // Across file systems or on file systems without support: plain reads.
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
                useRange = false;
                continue;
            }
            return errno;
        }
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, n - done);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            done += w;
        }
    }
}

} // namespace

namespace FileCopyDetail {

int CreateTemp(const QString& dest, QString& tempName) {
    if (dest.isEmpty())
        return -ENOENT;
    if (QFileInfo::exists(dest) || QFileInfo(dest).isSymLink())
        return -EEXIST;
    const QString folder = QFileInfo(dest).path();
    // An unnamed file in the target folder: nothing shows up until it is complete, and
    // nothing is left behind if the program dies. Named temporaries where unsupported.
    tempName.clear();
    static const bool procFds = ::access("/proc/self/fd", X_OK) == 0;
    if (procFds) {
        const int unnamed = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
        if (unnamed >= 0)
            return unnamed;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = folder + QStringLiteral("/.~qp%1.part").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                               QLatin1Char('0'));
        const int fd = ::open(QFile::encodeName(tempName).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            return -errno;
    }
    return -EEXIST;
}

int Finish(int fd, const QString& tempName, const QString& dest, int error) {
    if (tempName.isEmpty()) {
        // linkat() gives the unnamed file its name atomically and fails when it exists.
        if (error == 0) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
            const QByteArray final = QFile::encodeName(dest);
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, final.constData(), AT_SYMLINK_FOLLOW) != 0)
                error = errno;
            if (::close(fd) != 0 && error == 0) {
                error = errno;
                ::unlink(final.constData());
            }
            return error;
        }
        ::close(fd);
        return error;
    }
    const QByteArray temp = QFile::encodeName(tempName);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0) {
        // link() gives the name atomically and fails when it exists; file systems
        // without hard links fall back to a rename that refuses to replace.
        const QByteArray final = QFile::encodeName(dest);
        if (::link(temp.constData(), final.constData()) == 0) {
            ::unlink(temp.constData());
            return 0;
        }
        error = errno;
        if (error != EEXIST) {
            if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, final.constData(), RENAME_NOREPLACE) == 0)
                return 0;
            error = errno;
            if (error == EINVAL || error == ENOSYS) {
                error = 0;
                if (::access(final.constData(), F_OK) == 0)
                    error = EEXIST;
                else if (::rename(temp.constData(), final.constData()) != 0)
                    error = errno;
                if (error == 0)
                    return 0;
            }
        }
    }
    ::unlink(temp.constData());
    return error;
}

} // namespace FileCopyDetail

int CopyFileNoOverwrite(const QString& source, const QString& dest) {
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    struct stat st {};
    if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int e = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(in);
        return e;
    }
    const int result = WriteFileNoOverwrite(dest, [&](int out) { return CopyBytes(in, out); });
    ::close(in);
    return result;
}
