#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class TIpodDevice;

// Exit codes of the command-line tool.
enum TExitCode { ExitOk = 0, ExitItemsFailed = 1, ExitUsage = 2, ExitNoDevice = 3 };

// Options shared by every command.
struct TCliOptions {
    QString DeviceDir;
    bool Json = false;
    bool Help = false;
    QStringList Rest;
};

// Takes --device DIR, --json and --help out of args; the rest stays in Rest.
// Returns false (with a message in error) when an option lacks its value.
bool ParseCommonOptions(const QStringList& args, TCliOptions& options, QString& error);

// Takes the value of --name from options.Rest; empty when absent. ok is false when
// the option is present without a value.
QString TakeOption(QStringList& rest, const QString& name, bool& ok);
bool TakeFlag(QStringList& rest, const QString& name);

// Starts a session and finds the device as the windows do. Null (with the session's
// log in log) when no device is connected.
std::unique_ptr<TIpodDevice> OpenDevice(const TCliOptions& options, QString& log);

// Standard output and error as UTF-8 text.
void Out(const QString& text);
void Err(const QString& text);
// Turns the program's CR LF log text into lines for the terminal.
QString LogText(const QString& log);
