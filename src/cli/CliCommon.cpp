#include "CliCommon.h"

#include "IosHelper.h"
#include "iPodDev.h"
#include "itmobiledev.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>

bool ParseCommonOptions(const QStringList& args, TCliOptions& options, QString& error) {
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--device")) {
            if (i + 1 >= args.size()) {
                error = QStringLiteral("--device needs a folder");
                return false;
            }
            options.DeviceDir = args[++i];
        } else if (a == QLatin1String("--json")) {
            options.Json = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            options.Help = true;
        } else {
            options.Rest.append(a);
        }
    }
    return true;
}

QString TakeOption(QStringList& rest, const QString& name, bool& ok) {
    const int i = rest.indexOf(name);
    if (i < 0)
        return {};
    if (i + 1 >= rest.size()) {
        ok = false;
        rest.removeAt(i);
        return {};
    }
    const QString value = rest[i + 1];
    rest.remove(i, 2);
    return value;
}

bool TakeFlag(QStringList& rest, const QString& name) { return rest.removeAll(name) > 0; }

std::unique_ptr<TIpodDevice> OpenDevice(const TCliOptions& options, QString& log) {
    if (!options.DeviceDir.isEmpty()) {
        // The folder counts as a removable drive, tested before all others.
        QByteArray roots = QFile::encodeName(QDir(options.DeviceDir).absolutePath());
        const QByteArray old = qgetenv("QUENLOR_DEVICE_ROOTS");
        if (!old.isEmpty())
            roots += ':' + old;
        qputenv("QUENLOR_DEVICE_ROOTS", roots);
    }
    bool mobileArrived = false;
    auto device = std::make_unique<TIpodDevice>(
        [&mobileArrived](bool connected, bool mobileEvent) { mobileArrived = connected && mobileEvent; }, nullptr, false);
    if (device->ScanDrives())
        return device;
    if (options.DeviceDir.isEmpty() && !device->MobileUnavailable) {
        // A mobile device is announced by the device library a moment after the session
        // subscribed: give it a few seconds, with the event loop running.
        bool ok = false;
        const int waitMs = qEnvironmentVariableIntValue("QUENLOR_MOBILE_WAIT_MS", &ok);
        QElapsedTimer timer;
        timer.start();
        while (!mobileArrived && timer.elapsed() < (ok ? waitMs : 3000)) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            QThread::msleep(10);
        }
        if (mobileArrived && device->IsMobile) {
            device->OnChange = nullptr;
            return device;
        }
    }
    log = device->Log;
    if (device->MobileUnavailable)
        log += QStringLiteral("\r\nMobile devices (iPhone, iPod touch, iPad) cannot be served: the mobile device "
                              "library is missing (%1). Install the packages libimobiledevice6 and usbmuxd.")
                   .arg(QString::fromStdString(MobileLib::LoadFailure()));
    else if (const QString error = CurrentIosHelper ? CurrentIosHelper->LastErrorText() : QString(); !error.isEmpty()) {
        log += QStringLiteral("\r\nA mobile device was found but cannot be used: ") + error;
        if (error.contains(QLatin1String("pair"), Qt::CaseInsensitive))
            log += QStringLiteral("\r\nThe device is not paired with this computer: unlock it, answer \"Trust\" "
                                  "when it asks whether to trust this computer, then connect it again.");
    }
    return nullptr;
}

void Out(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void Err(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString LogText(const QString& log) {
    QString text = log;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.startsWith(QLatin1Char('\n')))
        text.remove(0, 1);
    return text;
}
