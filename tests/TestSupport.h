#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <functional>

// Small helpers shared by the test programs.

QByteArray ReadAll(const QString& fileName);
void WriteAll(const QString& fileName, const QByteArray& bytes);

// Every file below a folder with its bytes' hash, to show that a tree is unchanged.
QMap<QString, QByteArray> TreeSnapshot(const QString& folder);

// A real device database under the shared real-data folder; empty when it is absent.
QString RealData(const QString& relative);

// A program run to its end, with what it printed.
struct TProgramRun {
    int ExitCode = -1;
    QByteArray Out;
    QByteArray Err;
};
// Runs program without QUENLOR_DEVICE_ROOTS in its environment (the tests name their
// device with --device).
TProgramRun RunProgram(const QString& program, const QStringList& args, int timeoutMs = 120000);

// Runs the event loop until done() holds or the time runs out; returns done().
bool WaitFor(const std::function<bool()>& done, int milliseconds = 5000);
