#include "CliCommon.h"
#include "CliCopy.h"
#include "CliList.h"
#include "CliPhotos.h"

#include "SQLiteWrap.h"

#include <QCoreApplication>

namespace {

void Usage() {
    Out(QStringLiteral("Usage: quenlor-cli COMMAND [options]\n"
                       "Copies media off Apple portable players; never writes to the device.\n\n"
                       "Commands:\n"
                       "  list      list the device's music, playlists and totals\n"
                       "  copy --to DIR [--naming 0..6] [--kind K] [--playlist P] [--search T]\n"
                       "            copy the ticked music into DIR under readable names\n"
                       "  photos    list the device's photos, albums and camera roll\n"
                       "  copy-photos --to DIR [--album NAME] [--camera]  export the photos\n\n"
                       "Every command takes --device DIR (a folder holding a disk-mode iPod tree),\n"
                       "--json and --help.\n"));
}

} // namespace

int main(int argc, char** argv) {
    // The plain event dispatcher: a worker's synchronised call per track costs half of
    // what it costs through GLib's, and the tool needs nothing of GLib.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quenlor"));
    TSQLiteLibrary sqlite;
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")) {
        Usage();
        return args.isEmpty() ? ExitUsage : ExitOk;
    }
    const QString command = args.takeFirst();
    TCliOptions options;
    QString error;
    if (!ParseCommonOptions(args, options, error)) {
        Err(error + QLatin1Char('\n'));
        return ExitUsage;
    }
    if (command == QLatin1String("list"))
        return RunList(options);
    if (command == QLatin1String("copy"))
        return RunCopy(options);
    if (command == QLatin1String("photos"))
        return RunPhotos(options);
    if (command == QLatin1String("copy-photos"))
        return RunCopyPhotos(options);
    Err(QStringLiteral("Unknown command: %1\n").arg(command));
    Usage();
    return ExitUsage;
}
