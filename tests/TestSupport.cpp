#include "TestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

QByteArray ReadAll(const QString& fileName) {
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void WriteAll(const QString& fileName, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(fileName).path());
    QFile f(fileName);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QMap<QString, QByteArray> TreeSnapshot(const QString& folder) {
    QMap<QString, QByteArray> map;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString rel = QDir(folder).relativeFilePath(path);
        if (info.isDir())
            map.insert(rel + QLatin1Char('/'), QByteArray());
        else
            map.insert(rel, QCryptographicHash::hash(ReadAll(path), QCryptographicHash::Sha1) +
                                QByteArray::number(info.lastModified().toMSecsSinceEpoch()));
    }
    return map;
}

QString RealData(const QString& relative) {
    const QString path = QStringLiteral(QUENLOR_REALDATA "/") + relative;
    return QFileInfo::exists(path) ? path : QString();
}

bool WaitFor(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return done();
}

TProgramRun RunProgram(const QString& program, const QStringList& args, int timeoutMs) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QUENLOR_DEVICE_ROOTS"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(timeoutMs);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}
