#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include "async/OneShot.h"
#include "async/Sleeper.h"
#include "coordinator/CoordinatorServices.h"
#include "coordinator/DictationCoordinator.h"
#include "coordinator/DictationCoordinatorTestAccess.h"
#include "platform/system/MicrophoneAuthorization.h"
#include "settings/AppSettings.h"

namespace tessvale {

class DictationInvariant;
class InMemorySecretStore;
class InMemoryUserDefaults;
namespace testing {
class FakeAudioSystem;
}

// A REST answer the test controls: the value (or the error) is handed back once the gate opens, or at
// once when there is no gate. A gate wakes one waiting call: give concurrent calls gates of their own.
template <typename T> struct CloudAnswer
{
    std::optional<T> value;
    std::exception_ptr error;
    std::optional<OneShot<>> gate;
};

template <typename T> QCoro::Task<T> deliverAnswer(CloudAnswer<T> answer)
{
    if (answer.gate)
        co_await *answer.gate;
    if (answer.error)
        std::rethrow_exception(answer.error);
    co_return std::move(*answer.value);
}

inline QCoro::Task<> deliverAnswer(CloudAnswer<bool> answer)
{
    if (answer.gate)
        co_await *answer.gate;
    if (answer.error)
        std::rethrow_exception(answer.error);
}

template <typename Error> std::exception_ptr errorOf(Error error)
{
    return std::make_exception_ptr(std::move(error));
}

// A coordinator over fakes and virtual time: settings in memory, the keychain over an in-memory secret
// store, scripted permissions, REST answers, insertions and URL opening, recorded error reports and
// breadcrumbs. Replace what a test needs before the first coordinator() call.
class CoordinatorHarness
{
public:
    struct Report
    {
        QString description;
        QString context;
        QMap<QString, QString> extras;
    };

    struct Insertion
    {
        QString text;
        FocusedInsertionTargetRef target;
        // The token the insertion was given.
        CancelToken token;
    };

    CoordinatorHarness();
    ~CoordinatorHarness();

    // Built on first use over services().
    DictationCoordinator& coordinator();
    CoordinatorServices& services() { return m_services; }
    AppSettings& settings() { return *m_settings; }
    InMemoryUserDefaults& defaults() { return *m_defaults; }
    ManualSleeper& sleeper() { return *m_sleeper; }
    InMemorySecretStore& secrets() { return *m_secrets; }
    // For a test that lets the keyring outlive the harness.
    std::shared_ptr<InMemorySecretStore> sharedSecrets() const { return m_secrets; }
    testing::FakeAudioSystem& audio() { return *m_audio; }

    // The dictation invariant is checked after every state change and every recorder start and stop;
    // each broken rule fails the test unless this reporter is replaced before the first coordinator().
    std::function<void(const QString&)> onInvariantViolation;
    void checkInvariant(const QString& when);

    // Runs posted tasks until nothing more is posted (without moving virtual time).
    void settle();
    // Moves virtual time, then settles.
    void advance(Duration duration);

    // The stored API key, read straight from the secret store.
    std::optional<QString> storedAPIKey() const;
    void storeAPIKey(const QString& key);

    QStringList activityMessages() const;
    // The context of every error report, in order.
    QStringList reportContexts() const;
    bool logged(const QString& message) const { return activityMessages().contains(message); }

    // REST answers, one per endpoint; each call of an endpoint is counted under its name.
    CloudAnswer<NativeAuthStartResponse> startAnswer;
    CloudAnswer<NativeAuthTokenResponse> tokenAnswer;
    CloudAnswer<bool> cancelAnswer;
    CloudAnswer<ClientMeResponse> meAnswer;
    CloudAnswer<ClientConfigResponse> configAnswer;
    CloudAnswer<ClientUpdateResponse> updateAnswer;
    CloudAnswer<QString> healthAnswer;
    // The recovery record; without one the service has none (404). The hook runs as each fetch begins.
    std::optional<CloudAnswer<DictationSessionRecoveryResponse>> recoveryAnswer;
    std::function<void()> onRecoveryFetch;
    QMap<QString, int> cloudCalls;
    // The arguments of the last start: device name, app version, code challenge, redirect URI, state.
    QStringList lastStart;
    // The arguments of the last exchange: code, verifier, redirect URI.
    QStringList lastExchange;
    // The last API key sent to the account endpoints.
    QString lastAPIKey;

    // Permissions.
    MicrophoneAuthorizationStatus microphoneStatus = MicrophoneAuthorizationStatus::authorized;
    bool accessibilityTrusted = true;
    bool microphoneRequestGrants = true;
    int accessibilityPrompts = 0;
    int microphoneRequests = 0;
    QList<QUrl> openedSettingsURLs;

    // Insertion: each insert waits for the gate when set, then fails with insertionError or succeeds.
    std::optional<OneShot<>> insertionGate;
    std::exception_ptr insertionError;
    TextInsertionResult insertionResult;
    QList<Insertion> insertions;

    std::optional<FocusedAppDiagnostics> diagnostics;
    FocusedInsertionTargetRef focusTarget;
    QList<QUrl> openedURLs;
    // Called after a URL is recorded (a browser following the sign-in page, say).
    std::function<void(const QUrl&)> onOpenURL;
    // Set: every open fails with this reason, as when no browser starts.
    std::optional<QString> urlOpenFailure;
    QStringList clipboardWrites;
    bool clipboardWorks = true;

    bool errorMonitoringStarted = true;
    QStringList breadcrumbs;
    QList<Report> reports;

    int recorderStops = 0;
    int transportsMade = 0;
    int transportDisconnects = 0;

    // A streaming connection the test plays the service on: what the coordinator sent, and its handlers.
    struct ScriptedStream
    {
        QList<ClientStreamMessage> sent;
        WebSocketTransport::MessageHandler onMessage;
        WebSocketTransport::TerminationHandler onTermination;
        bool disconnected = false;
        // While set, each send waits until released (oldest first); the frame counts as sent at once.
        bool holdSends = false;
        QList<OneShot<>> heldSends;
        // When set, the next disconnect waits for it; later ones finish at once.
        std::optional<OneShot<>> disconnectGate;
        // The error a send of this frame fails with; none sends it.
        std::function<std::exception_ptr(const ClientStreamMessage&)> sendFailure;

        void deliver(const ServerStreamMessage& message) const { onMessage(message); }
        void terminate(std::exception_ptr error = {}) const { onTermination(error); }
        void releaseSend();
        QList<ClientStreamMessage::Case> cases() const;
        QList<qint64> audioSequences() const;
        // The audio's bytes in the order sent.
        QByteArray audioBytes() const;
        int count(ClientStreamMessage::Case messageCase) const;
        QUuid sessionID() const;
    };
    // Every transport made from now on is scripted; streams holds them, newest last.
    void useScriptedStreams();
    QList<std::shared_ptr<ScriptedStream>> streams;
    // The sendFailure each new stream starts with.
    std::function<std::exception_ptr(const ClientStreamMessage&)> streamSendFailure;
    ScriptedStream& stream() { return *streams.last(); }

    // A recorder the test feeds: running between start and stop (or the end of capture).
    struct FakeRecorder
    {
        bool running = false;
        int starts = 0;
        std::optional<QString> preferredDeviceUID;
        std::exception_ptr startError;
        // What stop() hands back, and what it still delivers to the chunk handler before returning.
        QList<QByteArray> leftover;
        QList<QByteArray> deliveredDuringStop;
        RecorderClient::ChunkHandler chunkHandler;
        RecorderClient::LevelHandler levelHandler;
        RecorderClient::CaptureEndedHandler endedHandler;

        void chunk(const QByteArray& bytes) const { chunkHandler(bytes); }
        void level(float value) const { levelHandler(value); }
        // The capture ends by itself, as a removed device ends it.
        void end(const QString& deviceName, const QString& reason);
    };
    // The recorder seam becomes fakeRecorder (still counting recorderStops).
    void useFakeRecorder();
    FakeRecorder fakeRecorder;
    // The application's HUD as the coordinator's seam sees it: a start's request puts it on screen
    // (at once, after delay of virtual time, or while held only when answered); it goes off screen as
    // soon as the coordinator no longer wants it. The invariant holds the microphone to it.
    struct FakeHUD
    {
        bool onScreen = false;
        int requests = 0;
        std::optional<Duration> delay;
        bool held = false;
        QList<OneShot<>> waiting;
        // Every held request comes on screen.
        void answer();
    };
    FakeHUD hud;
    // Another HUD in the fake's place (the application's window, say), and what tells it is on screen.
    void useHUD(HUDShownHook hook, std::function<bool()> onScreen);

    // A user ready to dictate: a stored key, scripted streams and the fake recorder.
    void prepareDictation();
    // Starts a dictation and settles; the service confirms it unless told not to. The session's id. A
    // failure still shown in the HUD is dismissed first.
    QUuid openDictation(bool handsFree = false, bool confirm = true);
    // The service sends message on the newest stream; then settles.
    void deliver(const ServerStreamMessage& message);

    // Canned bodies, as the service sends them.
    static ClientMeResponse sampleMe(const QString& email = QStringLiteral("user@example.com"));
    static ClientConfigResponse sampleConfig();
    static ClientUpdateResponse sampleUpdate(
        bool updateAvailable, const QString& latestVersion = QStringLiteral("2.0.0"));
    static NativeAuthStartResponse sampleStart();
    static NativeAuthTokenResponse sampleToken(const QString& apiKey = QStringLiteral("tv_test_signedinkey"));

private:
    QCoro::Task<> showFakeHUD(CancelToken token);
    void followFakeHUD();

    std::unique_ptr<ManualSleeper> m_sleeper;
    std::shared_ptr<InMemoryUserDefaults> m_defaults;
    std::unique_ptr<AppSettings> m_settings;
    std::shared_ptr<InMemorySecretStore> m_secrets;
    std::shared_ptr<testing::FakeAudioSystem> m_audio;
    CoordinatorServices m_services;
    std::unique_ptr<DictationCoordinator> m_coordinator;
    std::unique_ptr<DictationInvariant> m_invariant;
    std::function<bool()> m_hudOnScreen;
};

} // namespace tessvale
