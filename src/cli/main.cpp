#include "CliCommon.h"
#include "CliCopy.h"
#include "CliList.h"

#include "SQLiteWrap.h"

#include <QCoreApplication>

namespace {

void Usage() {
    Out(QStringLiteral("Usage: quenlor-cli COMMAND [options]\n"
                       "Copies media off Apple portable players; never writes to the device.\n\n"
                       "Commands:\n"
                       "  list      list the device's music, playlists and totals\n\n"
                       "Every command takes --device DIR (a folder holding a disk-mode iPod tree),\n"
                       "--json and --help.\n"));
}

} // namespace

int main(int argc, char** argv) {
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
    Err(QStringLiteral("Unknown command: %1\n").arg(command));
    Usage();
    return ExitUsage;
}
