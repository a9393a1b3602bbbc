#pragma once

#include <exception>
#include <functional>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include "audio/AudioCaptureService.h"
#include "cloud/ClientStreamMessage.h"
#include "cloud/CloudWebSocketSession.h"
#include "cloud/ServerStreamMessage.h"

namespace tessvale {

// The coordinator's way to the streaming socket of one dictation session, as replaceable
// operations so tests can script the service. Called on the main thread.
struct WebSocketTransport
{
    using MessageHandler = std::function<void(const ServerStreamMessage&)>;
    // Called once when the connection ends; a null error means it ended as expected.
    using TerminationHandler = std::function<void(std::exception_ptr)>;

    // Opens the connection; never throws, a failure arrives as the termination report.
    std::function<QCoro::Task<>(MessageHandler, TerminationHandler)> connect;
    // Throws when the frame cannot be sent.
    std::function<QCoro::Task<>(ClientStreamMessage)> send;
    // Closes with code 1000; never throws.
    std::function<QCoro::Task<>()> disconnect;
};

// Makes the transport of a new session from the stream URL and the API key.
using WebSocketTransportFactory = std::function<WebSocketTransport(const QUrl& streamURL, const QString& apiKey)>;

// A transport over a new CloudWebSocketSession of its own, kept alive by every copy of the
// transport (and by a send or disconnect still running). The last copy must go on the main thread.
WebSocketTransport makeCloudWebSocketTransport(
    const QUrl& streamURL, const QString& apiKey, CloudWebSocketSession::Options options = {});
// The default factory: a new connection per call.
WebSocketTransportFactory cloudWebSocketTransportFactory(CloudWebSocketSession::Options options = {});

// The coordinator's way to the microphone. The handlers run on the capture's worker thread.
struct RecorderClient
{
    using ChunkHandler = AudioCaptureService::ChunkHandler;
    using LevelHandler = AudioCaptureService::LevelHandler;
    using CaptureEndedHandler = AudioCaptureService::CaptureEndedHandler;

    std::function<bool()> isRunning;
    // Throws when capture cannot start. The ended handler hears of a recording that ended without
    // stop() (the device removed, the sound server gone).
    std::function<void(const std::optional<QString>& preferredDeviceUID, ChunkHandler chunkHandler,
        LevelHandler levelHandler, CaptureEndedHandler endedHandler)>
        start;
    // The chunks still pending, in order.
    std::function<QList<QByteArray>()> stop;
};

// Forwards to the capture service unchanged; the service must outlive the client.
RecorderClient liveRecorderClient(AudioCaptureService& service);

} // namespace tessvale
