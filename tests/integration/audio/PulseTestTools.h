#pragma once

#include <memory>

#include <QString>
#include <QStringList>

#include "platform/audio/AudioSystem.h"

class QProcess;

namespace tessvale::testing {

// True when the private sound server of scripts/test-env answers.
bool soundServerAvailable();
// A connection to the sound server PULSE_SERVER names now (the desktop's, unless a test points it elsewhere).
std::shared_ptr<AudioSystem> desktopAudio();
// Runs a program to its end; its trimmed standard output, or a null string on failure.
QString runTool(const QString& program, const QStringList& arguments, int timeoutMs = 60000);
QString temporaryPath(const QString& name);

// A sound server of the test's own, with a sine source "sine", that the test may kill and start
// again without disturbing the desktop's. Construct it before anything talks to a sound server: it
// points this process (PULSE_SERVER) at itself.
class PrivateSoundServer
{
public:
    PrivateSoundServer();
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // Starts the server and waits until it answers.
    bool start();
    // Kills it outright, as a crash would.
    void kill();

private:
    QString m_folder;
    std::unique_ptr<QProcess> m_process;
};

} // namespace tessvale::testing
