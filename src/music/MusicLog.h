#pragma once

#include <QString>

// The transfer log of the music window: a header made when a transfer starts, the
// engine's log lines and "Done." appended when the worker has ended. Lines are CR LF.
class TMusicLog {
public:
    QString Text;

    // "Quenlor 2.7, " and the naming option (-1 when none is chosen), then "[iPod]"
    // for a disk-mode iPod. Replaces what the log held.
    void Begin(int saveType, bool isMobile);
    // Appends the engine's log (which begins with a line break) and "Done.".
    void Complete(const QString& engineLog);
};

// The naming options as the music window lists them; empty for an unknown value.
QString SaveTypeText(int saveType);
