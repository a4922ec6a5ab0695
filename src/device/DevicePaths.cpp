#include "DevicePaths.h"

#include <QStringList>

QString CleanDevicePath(const QString& path) {
    QString out;
    out.reserve(path.size() + 1);
    qsizetype start = 0;
    const qsizetype n = path.size();
    for (qsizetype i = 0; i <= n; ++i) {
        const bool end = i == n;
        const QChar c = end ? QChar() : path[i];
        if (!end && c != QLatin1Char(':') && c != QLatin1Char('/') && c != QLatin1Char('\\'))
            continue;
        const QStringView part = QStringView(path).mid(start, i - start);
        start = i + 1;
        if (part.isEmpty() || part == u"." || part == u"..")
            continue;
        out += QLatin1Char('/');
        out += part;
    }
    return out;
}

QString CleanDeviceFolder(const QString& path) {
    const QString clean = CleanDevicePath(path);
    return clean + QLatin1Char('/');
}

QString PathExtension(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    for (qsizetype i = dot + 1; i < path.size(); ++i)
        if (path[i] == QLatin1Char(':') || path[i] == QLatin1Char('/') || path[i] == QLatin1Char('\\'))
            return {};
    return path.mid(dot);
}

QString FileSystemSafe(QString part) {
    for (qsizetype i = 0; i < part.size(); ++i) {
        const QChar c = part[i];
        if (c.isNull())
            part[i] = QLatin1Char('_');
        else if (c.isHighSurrogate() && i + 1 < part.size() && part[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            part[i] = QChar::ReplacementCharacter;
    }
    return part;
}

const TDeviceFolders& DiskFolders() {
    static const TDeviceFolders f{
        QStringLiteral("/iPod_Control/iTunes/"), QStringLiteral("/iPod_Control/iTunes/iTunes Library.itlp/"),
        QStringLiteral("/Photos/"),              QStringLiteral("/Photos/Thumbs/"),
        QStringLiteral("/PhotoData/"),           QStringLiteral("/DCIM/100APPLE/")};
    return f;
}

const TDeviceFolders& MobileFolders() {
    static const TDeviceFolders f{
        QStringLiteral("/iTunes_Control/iTunes/"), QStringLiteral("/iTunes_Control/iTunes/iTunes Library.itlp/"),
        QStringLiteral("/Photos/"),                QStringLiteral("/Photos/Thumbs/"),
        QStringLiteral("/PhotoData/"),             QStringLiteral("/DCIM/100APPLE/")};
    return f;
}
