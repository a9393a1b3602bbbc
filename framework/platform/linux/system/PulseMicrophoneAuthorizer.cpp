#include "platform/linux/system/PulseMicrophoneAuthorizer.h"

#include "base/Logging.h"
#include "platform/linux/audio/PulseAudioServer.h"

namespace tessvale {

PulseMicrophoneAuthorizer::PulseMicrophoneAuthorizer(std::shared_ptr<PulseAudioServer> server)
    : m_server(server ? std::move(server) : std::make_shared<PulseAudioServer>())
{
}

MicrophoneAuthorizationStatus PulseMicrophoneAuthorizer::check(QString* reason)
{
    // Never spawns a server: asking for permission must not start one behind the user's back.
    const PulseAudioServer::Snapshot snapshot = m_server->query();
    const qsizetype inputs = snapshot.sources.size();
    QString why;
    if (snapshot.unanswered)
        why = QStringLiteral("The sound server did not answer in time.");
    else if (!snapshot.reachable)
        why = QStringLiteral("Could not reach the sound server.");
    else if (inputs == 0)
        why = QStringLiteral("The sound server offers no audio input.");
    const MicrophoneAuthorizationStatus status
        = why.isEmpty() ? MicrophoneAuthorizationStatus::authorized : MicrophoneAuthorizationStatus::denied;
    const MicrophoneAuthorizationStatus previous = m_lastStatus.exchange(status);
    if (previous != status) {
        if (status == MicrophoneAuthorizationStatus::authorized)
            qCInfo(lcPermissions) << "Microphone available:" << inputs << "input(s) on the sound server.";
        else
            qCInfo(lcPermissions).noquote() << "Microphone unavailable:" << why;
    }
    if (reason)
        *reason = status == MicrophoneAuthorizationStatus::authorized ? QString() : why;
    return status;
}

MicrophoneAuthorizationStatus PulseMicrophoneAuthorizer::lastStatus() const
{
    return m_lastStatus.load();
}

} // namespace tessvale
