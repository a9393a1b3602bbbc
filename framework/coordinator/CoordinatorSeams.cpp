#include "coordinator/CoordinatorSeams.h"

#include <memory>
#include <utility>

namespace tessvale {

namespace {

using SharedSession = std::shared_ptr<CloudWebSocketSession>;

// Coroutines of their own rather than capturing lambdas, which GCC 12 miscompiles as coroutines; the
// session is a parameter, so it lives in the frame until the await has finished.
QCoro::Task<> connectSession(
    SharedSession session, WebSocketTransport::MessageHandler handler, WebSocketTransport::TerminationHandler ended)
{
    session->connect(std::move(handler), std::move(ended));
    co_return;
}

QCoro::Task<> sendOverSession(SharedSession session, ClientStreamMessage message)
{
    QCoro::Task<> sending = session->send(std::move(message));
    co_await std::move(sending);
}

QCoro::Task<> disconnectSession(SharedSession session)
{
    QCoro::Task<> closing = session->disconnect();
    co_await std::move(closing);
}

} // namespace

WebSocketTransport makeCloudWebSocketTransport(
    const QUrl& streamURL, const QString& apiKey, CloudWebSocketSession::Options options)
{
    const auto session = std::make_shared<CloudWebSocketSession>(streamURL, apiKey, std::move(options));
    WebSocketTransport transport;
    transport.connect
        = [session](WebSocketTransport::MessageHandler handler, WebSocketTransport::TerminationHandler ended) {
              return connectSession(session, std::move(handler), std::move(ended));
          };
    transport.send = [session](ClientStreamMessage message) { return sendOverSession(session, std::move(message)); };
    transport.disconnect = [session]() { return disconnectSession(session); };
    return transport;
}

WebSocketTransportFactory cloudWebSocketTransportFactory(CloudWebSocketSession::Options options)
{
    return [options = std::move(options)](const QUrl& streamURL, const QString& apiKey) {
        return makeCloudWebSocketTransport(streamURL, apiKey, options);
    };
}

RecorderClient liveRecorderClient(AudioCaptureService& service)
{
    RecorderClient client;
    client.isRunning = [&service]() { return service.isRunning(); };
    client.start = [&service](const std::optional<QString>& preferredDeviceUID, RecorderClient::ChunkHandler chunks,
                       RecorderClient::LevelHandler levels, RecorderClient::CaptureEndedHandler ended) {
        service.start(preferredDeviceUID, std::move(chunks), std::move(levels), std::move(ended));
    };
    client.stop = [&service]() { return service.stop(); };
    return client;
}

} // namespace tessvale
