#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

class QSocketNotifier;

// Watches the mount table and reports removable drives that appear or disappear.
// Lives on the thread that creates it (the UI thread); signals are emitted there.
class TMountWatcher : public QObject {
    Q_OBJECT
public:
    explicit TMountWatcher(QObject* parent = nullptr);
    ~TMountWatcher() override;

    // Compares the current removable drives with the last ones seen and reports changes.
    void Rescan();

Q_SIGNALS:
    void Arrived(const QString& mountPoint);
    void Removed(const QString& mountPoint);

private:
    int FFd = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
    QStringList FKnown;
};
