// The one main of every benchmark program: the application object and the SQLite
// library as the command-line tool has them, so the figures are the tool's.
#include "SQLiteWrap.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
    // The event dispatcher quenlor-cli uses.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    TSQLiteLibrary sqlite;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
