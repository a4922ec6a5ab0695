#include "MusicLog.h"

void TMusicLog::Begin(int saveType, bool isMobile) {
    Text = QStringLiteral("Quenlor 2.7, ") + QString::number(saveType) + QStringLiteral("\r\n");
    if (!isMobile)
        Text += QStringLiteral("[iPod]\r\n");
}

void TMusicLog::Complete(const QString& engineLog) { Text += engineLog + QStringLiteral("\r\nDone."); }

QString SaveTypeText(int saveType) {
    static const char* const Texts[] = {"Place files into artist and album folders",
                                        "Use song name as file name (default)",
                                        "[Artist] - [Name]",
                                        "[Name] - [Artist]",
                                        "[Artist] - [Album] - [Title]",
                                        "[Name] - [Album] - [Artist]",
                                        "[Name] - [Artist] - [Album]"};
    if (saveType < 0 || saveType > 6)
        return {};
    return QString::fromLatin1(Texts[saveType]);
}
