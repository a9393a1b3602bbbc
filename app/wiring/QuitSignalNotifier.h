#pragma once

#include <QObject>

class QSocketNotifier;

namespace tessvale {

// Turns SIGINT and SIGTERM into quitRequested() on the main thread, through a pipe the handler
// writes to, so Ctrl+C in a terminal or a desktop's termination quits as cleanly as the menu.
// One per process; the previous handlers come back when it goes.
class QuitSignalNotifier final : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignalNotifier(QObject* parent = nullptr);
    ~QuitSignalNotifier() override;

    bool isInstalled() const { return m_notifier != nullptr; }

signals:
    void quitRequested(int signalNumber);

private:
    void readSignals();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace tessvale
