#pragma once

#include <QString>
#include <functional>

// Progress of a transfer on standard error: a bar redrawn in place when standard error
// is a terminal, one plain line per item otherwise.
class TCliProgress {
public:
    TCliProgress();
    // number is 1-based; count is the number of items to transfer.
    void Update(int number, int count, const QString& title);
    // Shows a stage text ("Done.", "Cancelling ...") on its own line.
    void Status(const QString& text);
    // Ends the bar's line.
    void Finish();

private:
    bool FTerminal;
    bool FOpenLine = false;
};

// Ctrl+C: the first interrupt calls onInterrupt on the thread running the event loop
// (as the Cancel button would); a second one ends the program at once.
void InstallInterruptHandler(std::function<void()> onInterrupt);
