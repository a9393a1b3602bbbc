#include "AudioCaptureService.h"

#include <algorithm>

#include <QCollator>

#include "audio/AudioCaptureSession.h"
#include "audio/PcmConverter.h"
#include "base/Logging.h"
#include "platform/audio/AudioSystem.h"

namespace tessvale {

AudioCaptureService::AudioCaptureService(
    std::shared_ptr<AudioSystem> audioSystem, std::chrono::milliseconds drainTimeout)
    : m_audioSystem(std::move(audioSystem))
    , m_drainTimeout(drainTimeout)
{
}

AudioCaptureService::~AudioCaptureService()
{
    // Callers stop first; this only keeps a forgotten recording from outliving its stream.
    if (m_isRunning || m_tapInstalled) {
        stop();
    }
}

QString AudioCaptureService::selectDevice(const std::optional<QString>& preferredDeviceUID)
{
    const QString wanted = preferredDeviceUID ? preferredDeviceUID->trimmed() : QString();
    if (!wanted.isEmpty()) {
        const QList<AudioSystemDevice> devices = m_audioSystem->devices();
        for (const AudioSystemDevice& device : devices) {
            if (!device.uid.isEmpty() && device.uid == wanted) {
                return device.uid;
            }
        }
        qCInfo(lcAudioCapture) << "Preferred microphone" << wanted << "not found; using the default input";
    }
    const std::optional<QString> fallback = m_audioSystem->defaultInputUID();
    if (!fallback || fallback->isEmpty()) {
        throw AudioCaptureError::inputUnavailable();
    }
    return *fallback;
}

void AudioCaptureService::start(const std::optional<QString>& preferredDeviceUID, ChunkHandler chunkHandler,
    LevelHandler levelHandler, CaptureEndedHandler endedHandler)
{
    if (m_isRunning) {
        throw AudioCaptureError::alreadyRunning();
    }
    if (m_tapInstalled) {
        // The last recording ended on its own and nobody collected it.
        stop();
    }
    const QString uid = selectDevice(preferredDeviceUID);
    std::unique_ptr<AudioCaptureStream> stream = m_audioSystem->openCaptureStream(uid);
    if (!stream) {
        throw AudioCaptureError::deviceSelectionFailed();
    }
    const AudioStreamFormat inputFormat = stream->format();
    if (inputFormat.channelCount <= 0) {
        throw AudioCaptureError::inputUnavailable();
    }
    std::shared_ptr<PcmConverter> converter = PcmConverter::create(inputFormat);
    if (!converter) {
        throw AudioCaptureError::converterUnavailable();
    }

    const QString deviceName = stream->deviceName();
    m_converter = converter;
    AudioCaptureSession::EndedHandler onSessionEnded;
    if (endedHandler) {
        onSessionEnded = [endedHandler = std::move(endedHandler), deviceName](
                             const QString& reason) { endedHandler(deviceName, reason); };
    }
    m_session = AudioCaptureSession::create(
        bytesPerChunk, std::move(chunkHandler), std::move(levelHandler), std::move(onSessionEnded));
    m_stream = std::move(stream);
    m_tapInstalled = true;

    // The converter runs on the capture thread and is only touched there until the stream stops.
    std::weak_ptr<AudioCaptureSession> weakSession = m_session;
    auto onBlock = [weakSession, converter](const char* data, qsizetype size) {
        QByteArray pcm = converter->convert(data, size);
        if (pcm.isEmpty()) {
            return;
        }
        if (auto session = weakSession.lock()) {
            session->submit(std::move(pcm));
        }
    };
    // The stream is stopped before this service goes away, so its end can still reach m_isRunning.
    auto onEnded = [this, weakSession, uid](const QString& reason) {
        qCWarning(lcAudioCapture).noquote() << "Recording from" << uid << "ended by the sound server:" << reason;
        m_isRunning = false;
        if (auto session = weakSession.lock()) {
            session->end(reason);
        }
    };
    // Set before the stream runs, so that an end reported from the capture thread always wins.
    m_isRunning = true;
    try {
        m_stream->start(onBlock, onEnded);
    } catch (...) {
        m_stream.reset();
        m_session->finish(std::chrono::milliseconds(0));
        m_tapInstalled = false;
        reset();
        throw;
    }
    qCInfo(lcAudioCapture).noquote() << "Recording from" << uid << "at" << inputFormat.sampleRate << "Hz,"
                                     << inputFormat.channelCount << "channel(s)";
}

QList<QByteArray> AudioCaptureService::stop()
{
    if (!m_isRunning && !m_tapInstalled) {
        return {};
    }
    if (m_stream) {
        m_stream->stop();
        m_stream.reset();
    }
    m_tapInstalled = false;
    QList<QByteArray> leftovers;
    if (m_session) {
        bool stalled = false;
        // The session gives the level handler its closing zero on its own worker.
        leftovers = m_session->finish(m_drainTimeout, &stalled);
        if (stalled) {
            qCWarning(lcAudioCapture) << "Audio processing did not finish within" << m_drainTimeout.count()
                                      << "ms; returning" << leftovers.size()
                                      << "unsent chunk(s) without waiting for the busy handler";
        }
    }
    reset();
    return leftovers;
}

void AudioCaptureService::reset()
{
    m_session.reset();
    m_converter.reset();
    m_isRunning = false;
}

QList<AudioInputDevice> AudioCaptureService::availableInputDevices() const
{
    return availableInputDevices(*m_audioSystem);
}

QList<AudioInputDevice> AudioCaptureService::availableInputDevices(AudioSystem& audioSystem)
{
    std::optional<QString> defaultUID;
    QList<AudioSystemDevice> devices;
    try {
        defaultUID = audioSystem.defaultInputUID();
        devices = audioSystem.devices();
    } catch (const AudioEngineError& error) {
        qCWarning(lcAudioCapture) << "No input devices listed:" << error.what();
        return {};
    }
    QList<AudioInputDevice> result;
    for (const AudioSystemDevice& device : devices) {
        if (device.inputChannelCount <= 0 || device.uid.isEmpty() || device.name.isEmpty()) {
            continue;
        }
        result.append(AudioInputDevice(device.uid, device.name));
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(result.begin(), result.end(), [&](const AudioInputDevice& a, const AudioInputDevice& b) {
        if (defaultUID) {
            const bool aIsDefault = a.uid == *defaultUID;
            const bool bIsDefault = b.uid == *defaultUID;
            if (aIsDefault != bIsDefault) {
                return aIsDefault;
            }
        }
        return collator.compare(a.name, b.name) < 0;
    });
    return result;
}

} // namespace tessvale
