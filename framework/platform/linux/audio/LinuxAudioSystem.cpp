#include "LinuxAudioSystem.h"

#include <mutex>

#include "platform/linux/PulseConnection.h"
#include "platform/linux/audio/PulseAudioServer.h"
#include "platform/linux/audio/PulseCaptureStream.h"

namespace tessvale {

namespace {

PulseAudioServer::Snapshot answered(PulseAudioServer::Snapshot snapshot)
{
    if (snapshot.unanswered) {
        throw AudioEngineError(QStringLiteral("Unable to start the microphone: the sound server is not answering."));
    }
    return snapshot;
}

class PulseChangeSubscription : public AudioChangeSubscription
{
public:
    PulseChangeSubscription(std::shared_ptr<PulseAudioServer> server, int id)
        : m_server(std::move(server))
        , m_id(id)
    {
    }
    ~PulseChangeSubscription() override { m_server->removeListener(m_id); }

private:
    std::shared_ptr<PulseAudioServer> m_server;
    int m_id;
};

} // namespace

LinuxAudioSystem::LinuxAudioSystem()
    : m_server(std::make_shared<PulseAudioServer>())
{
    m_server->connectInBackground();
}

LinuxAudioSystem::~LinuxAudioSystem() = default;

QList<AudioSystemDevice> LinuxAudioSystem::devices()
{
    return answered(m_server->query()).sources;
}

std::optional<QString> LinuxAudioSystem::defaultInputUID()
{
    return answered(m_server->query()).defaultSource;
}

std::unique_ptr<AudioCaptureStream> LinuxAudioSystem::openCaptureStream(const QString& uid)
{
    std::lock_guard lock(m_captureMutex);
    return PulseCaptureStream::open(uid, m_captureConnection);
}

std::unique_ptr<AudioChangeSubscription> LinuxAudioSystem::subscribeToChanges(std::function<void()> onChange)
{
    const int id = m_server->addListener(std::move(onChange));
    return std::make_unique<PulseChangeSubscription>(m_server, id);
}

} // namespace tessvale
