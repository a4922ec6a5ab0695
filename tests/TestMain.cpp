#include "SQLiteWrap.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Every test sees a private home, so user folders, settings and the Trash stay ours.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/.local/share")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/.config")));
    qputenv("XDG_MUSIC_DIR", QFile::encodeName(home.path() + QStringLiteral("/Music")));
    qputenv("XDG_PICTURES_DIR", QFile::encodeName(home.path() + QStringLiteral("/Pictures")));
    QCoreApplication app(argc, argv);
    TSQLiteLibrary sqlite;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
