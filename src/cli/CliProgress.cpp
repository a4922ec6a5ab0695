#include "CliProgress.h"

#include "CliCommon.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

TCliProgress::TCliProgress() : FTerminal(::isatty(STDERR_FILENO) == 1) {}

void TCliProgress::Update(int number, int count, const QString& title) {
    if (!FTerminal) {
        Err(QStringLiteral("%1/%2  %3\n").arg(number).arg(count).arg(title));
        return;
    }
    constexpr int width = 30;
    const int filled = count > 0 ? qBound(0, number * width / count, width) : width;
    const QString bar = QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('-'));
    Err(QStringLiteral("\r\033[K[%1] %2/%3  %4").arg(bar).arg(number).arg(count).arg(title.left(60)));
    FOpenLine = true;
}

void TCliProgress::Status(const QString& text) {
    Finish();
    Err(text + QLatin1Char('\n'));
}

void TCliProgress::Finish() {
    if (FOpenLine)
        Err(QStringLiteral("\n"));
    FOpenLine = false;
}

namespace {

int InterruptPipe[2] = {-1, -1};
std::atomic<int> Interrupts{0};

void OnSigint(int) {
    if (Interrupts.fetch_add(1) >= 1)
        std::_Exit(130);
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(InterruptPipe[1], &c, 1);
}

} // namespace

void InstallInterruptHandler(std::function<void()> onInterrupt) {
    if (InterruptPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, InterruptPipe) != 0)
        return;
    // The signal handler only writes a byte; the notifier turns it into a call on the
    // event loop's thread.
    // The application owns the notifier, so it goes when the program ends; a second
    // call replaces the first one's.
    static QPointer<QSocketNotifier> current;
    delete current;
    auto* notifier = new QSocketNotifier(InterruptPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    current = notifier;
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onInterrupt] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(InterruptPipe[0], &c, 1);
        if (onInterrupt)
            onInterrupt();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSigint;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
}
