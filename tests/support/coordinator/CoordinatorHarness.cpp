#include "support/coordinator/CoordinatorHarness.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "cloud/CloudClientError.h"
#include "coordinator/CoordinatorHelpers.h"
#include "settings/InMemoryUserDefaults.h"
#include "support/async/EventLoopWaits.h"
#include "support/audio/FakeAudioSystem.h"
#include "support/auth/InMemorySecretStore.h"
#include "support/coordinator/DictationInvariant.h"
#include "system/PermissionService.h"

namespace tessvale {

namespace {

const QString kKeychainService = QStringLiteral("com.tessvale.tests.coordinator");

QCoro::Task<bool> answerMicrophoneRequest(bool grants)
{
    co_return grants;
}

QCoro::Task<> finishAtOnce()
{
    co_return;
}

QCoro::Task<> finishAfter(OneShot<> gate)
{
    co_await gate;
}

QCoro::Task<PlatformResult> answerAtOnce(PlatformResult result)
{
    co_return result;
}

QCoro::Task<> sendOnScriptedStream(
    std::shared_ptr<CoordinatorHarness::ScriptedStream> stream, ClientStreamMessage message)
{
    stream->sent.append(message);
    std::exception_ptr failure = stream->sendFailure ? stream->sendFailure(message) : nullptr;
    if (stream->holdSends) {
        OneShot<> gate;
        stream->heldSends.append(gate);
        co_await gate;
    }
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

CoordinatorHarness::CoordinatorHarness()
    : m_sleeper(std::make_unique<ManualSleeper>())
    , m_defaults(std::make_shared<InMemoryUserDefaults>())
    , m_settings(
          std::make_unique<AppSettings>(m_defaults, [] { return std::optional<QString>(QStringLiteral("Desk")); }))
    , m_secrets(std::make_shared<InMemorySecretStore>())
    , m_audio(std::make_shared<testing::FakeAudioSystem>())
{
    meAnswer.value = sampleMe();
    configAnswer.value = sampleConfig();
    startAnswer.value = sampleStart();
    tokenAnswer.value = sampleToken();
    cancelAnswer.value = true;
    updateAnswer.value = sampleUpdate(false);
    healthAnswer.value = QStringLiteral("ok");
    onInvariantViolation = [](const QString& violation) { ADD_FAILURE() << violation.toStdString(); };

    CoordinatorServices& s = m_services;
    s.keychain = std::make_shared<KeychainStore>(kKeychainService, m_secrets);
    s.hudShown = [this](CancelToken token) { return showFakeHUD(std::move(token)); };
    m_hudOnScreen = [this] { return hud.onScreen; };

    s.cloud.startNativeAuth = [this](QUrl, QString deviceName, QString appVersion, QString codeChallenge,
                                  QString redirectURI, QString state) {
        ++cloudCalls[QStringLiteral("start")];
        lastStart = { deviceName, appVersion, codeChallenge, redirectURI, state };
        return deliverAnswer(startAnswer);
    };
    s.cloud.exchangeNativeAuthToken = [this](QUrl, QUuid, QString code, QString verifier, QString redirectURI) {
        ++cloudCalls[QStringLiteral("token")];
        lastExchange = { code, verifier, redirectURI };
        return deliverAnswer(tokenAnswer);
    };
    s.cloud.cancelNativeAuth = [this](QUrl, QUuid) {
        ++cloudCalls[QStringLiteral("cancel")];
        return deliverAnswer(cancelAnswer);
    };
    s.cloud.fetchMe = [this](QUrl, QString apiKey) {
        ++cloudCalls[QStringLiteral("me")];
        lastAPIKey = apiKey;
        return deliverAnswer(meAnswer);
    };
    s.cloud.fetchClientConfig = [this](QUrl, QString apiKey) {
        ++cloudCalls[QStringLiteral("config")];
        lastAPIKey = apiKey;
        return deliverAnswer(configAnswer);
    };
    s.cloud.fetchDictationRecovery = [this](QUrl, QString, QUuid) {
        ++cloudCalls[QStringLiteral("recovery")];
        if (onRecoveryFetch)
            onRecoveryFetch();
        if (recoveryAnswer)
            return deliverAnswer(*recoveryAnswer);
        CloudAnswer<DictationSessionRecoveryResponse> none;
        none.error = std::make_exception_ptr(CloudClientError::requestFailed(404, QStringLiteral("Not found")));
        return deliverAnswer(none);
    };
    s.cloud.fetchMacOSUpdate = [this](QUrl, QString) {
        ++cloudCalls[QStringLiteral("update")];
        return deliverAnswer(updateAnswer);
    };
    s.cloud.fetchHealth = [this](QUrl) {
        ++cloudCalls[QStringLiteral("health")];
        return deliverAnswer(healthAnswer);
    };

    PermissionService::Operations permissions;
    permissions.microphoneAuthorizationStatus = [this] { return microphoneStatus; };
    permissions.accessibilityIsTrusted = [this] { return accessibilityTrusted; };
    permissions.requestMicrophoneAccessHandler = [this] {
        ++microphoneRequests;
        return answerMicrophoneRequest(microphoneRequestGrants);
    };
    permissions.promptForAccessibilityHandler = [this] { ++accessibilityPrompts; };
    permissions.openURLHandler = [this](const QUrl& url) { openedSettingsURLs.append(url); };
    s.permissions = std::make_shared<PermissionService>(std::move(permissions));

    s.insertTranscript = [this](QString text, bool, bool, bool, FocusedInsertionTargetRef target, CancelToken token) {
        insertions.append({ text, target, token });
        CloudAnswer<TextInsertionResult> answer;
        answer.value = insertionResult;
        answer.error = insertionError;
        answer.gate = insertionGate;
        return deliverAnswer(answer);
    };
    s.currentDiagnostics = [this] { return diagnostics; };
    s.audioSystem = m_audio;
    s.copyText = [this](const QString& text) {
        if (clipboardWorks)
            clipboardWrites.append(text);
        return clipboardWorks;
    };
    s.errorReporting.isStarted = [this] { return errorMonitoringStarted; };
    s.errorReporting.addBreadcrumb = [this](const QString& category, const QString& message) {
        breadcrumbs.append(category + QLatin1Char(':') + message);
    };
    s.errorReporting.capture
        = [this](std::exception_ptr error, const QString& context, const QMap<QString, QString>& extras) {
              reports.append({ localizedDescription(error), context, extras });
          };

    s.recorder.isRunning = [] { return false; };
    s.recorder.start = [](const std::optional<QString>&, RecorderClient::ChunkHandler, RecorderClient::LevelHandler,
                           RecorderClient::CaptureEndedHandler) {};
    s.recorder.stop = [this] {
        ++recorderStops;
        return QList<QByteArray>();
    };
    s.webSocketFactory = [this](const QUrl&, const QString&) {
        ++transportsMade;
        WebSocketTransport transport;
        transport.connect
            = [](WebSocketTransport::MessageHandler, WebSocketTransport::TerminationHandler) { return finishAtOnce(); };
        transport.send = [](ClientStreamMessage) { return finishAtOnce(); };
        transport.disconnect = [this] {
            ++transportDisconnects;
            return finishAtOnce();
        };
        return transport;
    };
    s.focusTargetProvider = [this] { return focusTarget; };
    s.urlOpener = [this](QUrl url, CancelToken) {
        openedURLs.append(url);
        if (onOpenURL)
            onOpenURL(url);
        return answerAtOnce(urlOpenFailure ? PlatformResult::failed(*urlOpenFailure) : PlatformResult::ok());
    };
    s.sleeper = m_sleeper.get();
}

void CoordinatorHarness::ScriptedStream::releaseSend()
{
    if (!heldSends.isEmpty())
        heldSends.takeFirst().resolve();
}

QList<ClientStreamMessage::Case> CoordinatorHarness::ScriptedStream::cases() const
{
    QList<ClientStreamMessage::Case> result;
    for (const ClientStreamMessage& message : sent)
        result.append(message.messageCase());
    return result;
}

QList<qint64> CoordinatorHarness::ScriptedStream::audioSequences() const
{
    QList<qint64> result;
    for (const ClientStreamMessage& message : sent) {
        if (message.messageCase() == ClientStreamMessage::Case::audioChunk)
            result.append(message.sequence());
    }
    return result;
}

QByteArray CoordinatorHarness::ScriptedStream::audioBytes() const
{
    QByteArray result;
    for (const ClientStreamMessage& message : sent) {
        if (message.messageCase() == ClientStreamMessage::Case::audioChunk)
            result += QByteArray::fromBase64(message.text().toLatin1());
    }
    return result;
}

int CoordinatorHarness::ScriptedStream::count(ClientStreamMessage::Case messageCase) const
{
    return static_cast<int>(cases().count(messageCase));
}

QUuid CoordinatorHarness::ScriptedStream::sessionID() const
{
    for (const ClientStreamMessage& message : sent) {
        if (message.startSessionPayload())
            return message.startSessionPayload()->sessionID;
    }
    return {};
}

void CoordinatorHarness::useScriptedStreams()
{
    m_services.webSocketFactory = [this](const QUrl&, const QString&) {
        ++transportsMade;
        auto stream = std::make_shared<ScriptedStream>();
        stream->sendFailure = streamSendFailure;
        streams.append(stream);
        WebSocketTransport transport;
        transport.connect = [stream](WebSocketTransport::MessageHandler onMessage,
                                WebSocketTransport::TerminationHandler onTermination) {
            stream->onMessage = std::move(onMessage);
            stream->onTermination = std::move(onTermination);
            return finishAtOnce();
        };
        transport.send
            = [stream](ClientStreamMessage message) { return sendOnScriptedStream(stream, std::move(message)); };
        transport.disconnect = [this, stream] {
            ++transportDisconnects;
            stream->disconnected = true;
            if (std::optional<OneShot<>> gate = std::exchange(stream->disconnectGate, std::nullopt))
                return finishAfter(*gate);
            return finishAtOnce();
        };
        return transport;
    };
}

void CoordinatorHarness::FakeRecorder::end(const QString& deviceName, const QString& reason)
{
    running = false;
    endedHandler(deviceName, reason);
}

void CoordinatorHarness::useFakeRecorder()
{
    m_services.recorder.isRunning = [this] { return fakeRecorder.running; };
    m_services.recorder.start
        = [this](const std::optional<QString>& preferredDeviceUID, RecorderClient::ChunkHandler chunks,
              RecorderClient::LevelHandler levels, RecorderClient::CaptureEndedHandler ended) {
              ++fakeRecorder.starts;
              if (fakeRecorder.startError)
                  std::rethrow_exception(fakeRecorder.startError);
              fakeRecorder.preferredDeviceUID = preferredDeviceUID;
              fakeRecorder.chunkHandler = std::move(chunks);
              fakeRecorder.levelHandler = std::move(levels);
              fakeRecorder.endedHandler = std::move(ended);
              fakeRecorder.running = true;
              checkInvariant(QStringLiteral("recorder start"));
          };
    m_services.recorder.stop = [this] {
        ++recorderStops;
        fakeRecorder.running = false;
        for (const QByteArray& chunk : std::exchange(fakeRecorder.deliveredDuringStop, {}))
            fakeRecorder.chunk(chunk);
        checkInvariant(QStringLiteral("recorder stop"));
        return std::exchange(fakeRecorder.leftover, {});
    };
}

void CoordinatorHarness::prepareDictation()
{
    storeAPIKey(QStringLiteral("tv_test_storedkey"));
    useScriptedStreams();
    useFakeRecorder();
}

QUuid CoordinatorHarness::openDictation(bool handsFree, bool confirm)
{
    // A failure the HUD still shows would take the press as its dismissal.
    coordinator().dismissFailure();
    handsFree ? coordinator().toggleHandsFree() : coordinator().startPushToTalk();
    settle();
    const QUuid id = stream().sessionID();
    if (confirm)
        deliver(ServerStreamMessage::sessionStarted(id));
    return id;
}

void CoordinatorHarness::deliver(const ServerStreamMessage& message)
{
    stream().deliver(message);
    settle();
}

CoordinatorHarness::~CoordinatorHarness()
{
    m_invariant.reset();
    m_coordinator.reset();
    // Calls still held by a gate end now, as the real services' do when their caller goes, so no
    // coroutine is left suspended for ever.
    const auto release = [](std::optional<OneShot<>>& gate) {
        if (gate)
            gate->fail(CancelledError());
    };
    release(startAnswer.gate);
    release(tokenAnswer.gate);
    release(cancelAnswer.gate);
    release(meAnswer.gate);
    release(configAnswer.gate);
    release(updateAnswer.gate);
    release(healthAnswer.gate);
    release(insertionGate);
    for (OneShot<>& request : std::exchange(hud.waiting, {}))
        request.fail(CancelledError());
    if (recoveryAnswer)
        release(recoveryAnswer->gate);
    for (const std::shared_ptr<ScriptedStream>& stream : streams) {
        for (OneShot<>& send : std::exchange(stream->heldSends, {}))
            send.fail(CancelledError());
        release(stream->disconnectGate);
    }
    settle();
}

DictationCoordinator& CoordinatorHarness::coordinator()
{
    if (!m_coordinator) {
        m_coordinator = std::make_unique<DictationCoordinator>(*m_settings, m_services);
        m_invariant
            = std::make_unique<DictationInvariant>(*m_coordinator, m_services.recorder.isRunning, onInvariantViolation);
        if (m_services.hudShown && m_hudOnScreen) {
            m_invariant->watchHUD(m_hudOnScreen);
            QObject::connect(m_coordinator.get(), &DictationCoordinator::phaseChanged, m_coordinator.get(),
                [this] { followFakeHUD(); });
            QObject::connect(m_coordinator.get(), &DictationCoordinator::failureShownChanged, m_coordinator.get(),
                [this] { followFakeHUD(); });
        }
    }
    return *m_coordinator;
}

QCoro::Task<> CoordinatorHarness::showFakeHUD(CancelToken token)
{
    ++hud.requests;
    if (hud.held) {
        OneShot<> answered;
        hud.waiting.append(answered);
        const CancelRegistration registration
            = token.onCancel(m_sleeper.get(), [answered]() mutable { answered.fail(CancelledError()); });
        co_await answered;
    } else if (hud.delay) {
        QCoro::Task<> waiting = m_sleeper->sleep(*hud.delay, token);
        co_await std::move(waiting);
    }
    if (m_coordinator && m_coordinator->shouldShowHUD())
        hud.onScreen = true;
}

void CoordinatorHarness::useHUD(HUDShownHook hook, std::function<bool()> onScreen)
{
    m_services.hudShown = std::move(hook);
    m_hudOnScreen = std::move(onScreen);
}

void CoordinatorHarness::followFakeHUD()
{
    // Off screen at the change itself: the microphone must be closed by then.
    if (!hud.onScreen || m_coordinator->shouldShowHUD())
        return;
    hud.onScreen = false;
    checkInvariant(QStringLiteral("the HUD went off screen"));
}

void CoordinatorHarness::FakeHUD::answer()
{
    held = false;
    for (OneShot<>& request : std::exchange(waiting, {}))
        request.resolve();
}

void CoordinatorHarness::checkInvariant(const QString& when)
{
    if (m_invariant)
        m_invariant->check(when);
}

void CoordinatorHarness::settle()
{
    // Posted tasks post their continuations; a few rounds empty the queue.
    for (int round = 0; round < 20; ++round)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void CoordinatorHarness::advance(Duration duration)
{
    m_sleeper->advance(duration);
    settle();
}

std::optional<QString> CoordinatorHarness::storedAPIKey() const
{
    const std::optional<QByteArray> value = m_secrets->item(kKeychainService, DictationCoordinator::apiKeyAccount);
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(*value);
}

void CoordinatorHarness::storeAPIKey(const QString& key)
{
    m_secrets->put(kKeychainService, DictationCoordinator::apiKeyAccount, key.toUtf8());
}

QStringList CoordinatorHarness::activityMessages() const
{
    QStringList messages;
    if (m_coordinator) {
        for (const ActivityLogEntry& entry : m_coordinator->activityLog())
            messages.append(entry.message);
    }
    return messages;
}

QStringList CoordinatorHarness::reportContexts() const
{
    QStringList contexts;
    for (const Report& report : reports)
        contexts.append(report.context);
    return contexts;
}

ClientMeResponse CoordinatorHarness::sampleMe(const QString& email)
{
    ClientMeResponse me;
    me.user.id = QStringLiteral("user-1");
    me.user.email = email;
    me.device.id = QUuid(QStringLiteral("{5d2f0c1e-8a7b-4c3d-9e1f-2a3b4c5d6e7f}"));
    me.device.name = QStringLiteral("Desk");
    me.device.appVersion = QStringLiteral("1.0.0");
    return me;
}

ClientConfigResponse CoordinatorHarness::sampleConfig()
{
    ClientConfigResponse config;
    config.webSocketURL = QUrl(QStringLiteral("wss://stream.localhost/v1/dictation"));
    config.maxChunkBytes = 32000;
    config.sampleRate = 16000;
    return config;
}

ClientUpdateResponse CoordinatorHarness::sampleUpdate(bool updateAvailable, const QString& latestVersion)
{
    ClientUpdateResponse update;
    update.platform = QStringLiteral("MacOS");
    update.currentVersion = QStringLiteral("1.0.0");
    update.latestVersion = latestVersion;
    update.updateAvailable = updateAvailable;
    update.downloadURL = QUrl(QStringLiteral("https://downloads.localhost/tessvale-") + latestVersion + ".tar.gz");
    return update;
}

NativeAuthStartResponse CoordinatorHarness::sampleStart()
{
    NativeAuthStartResponse start;
    start.attemptID = QUuid(QStringLiteral("{0b7e4c1d-2a3f-4b5c-9d6e-1f2a3b4c5d6e}"));
    start.authorizationURL = QUrl(QStringLiteral("https://app.localhost/authorize?attempt=1"));
    start.expiresAt = QStringLiteral("2030-01-01T00:00:00Z");
    return start;
}

NativeAuthTokenResponse CoordinatorHarness::sampleToken(const QString& apiKey)
{
    NativeAuthTokenResponse token;
    token.apiKey = apiKey;
    token.me = sampleMe();
    token.config = sampleConfig();
    return token;
}

} // namespace tessvale
