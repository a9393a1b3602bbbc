#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>

#include <gtest/gtest.h>

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QUuid>

#include "audio/AudioCaptureService.h"
#include "auth/KeychainStore.h"
#include "cloud/CloudAPIClient.h"
#include "coordinator/CoordinatorSeams.h"
#include "coordinator/CoordinatorServices.h"
#include "coordinator/DictationCoordinator.h"
#include "focus/FocusAppService.h"
#include "focus/FocusedAppDiagnosticsService.h"
#include "insertion/TextInsertionService.h"
#include "platform/PlatformServices.h"
#include "settings/AppSettings.h"
#include "settings/InMemoryUserDefaults.h"
#include "support/HelperPrograms.h"
#include "support/Skips.h"
#include "support/async/TaskRunner.h"
#include "support/audio/ToneAnalysis.h"
#include "support/cloud/FakeCloudFixture.h"
#include "support/coordinator/ShortcutWiring.h"
#include "support/focus/TextTargetProcess.h"
#include "system/PermissionService.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace std::chrono_literals;

namespace tessvale {
namespace {

using Clock = std::chrono::steady_clock;

QString runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    // Success without output is an empty, not a null, text.
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed() + QStringLiteral("");
}

// A whole dictation on the private desktop with everything real but the cloud: the user holds the
// push-to-talk keys (XTest) while speech plays into the virtual microphone; the real shortcut engine,
// capture service, coordinator over the application's services and insertion service carry it into
// the Qt text target; the fake service commits a scripted transcript.
class LiveDictationE2ETest : public FakeCloudFixture
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
            || runTool(QStringLiteral("pactl"), { QStringLiteral("info") }).isNull())
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop of scripts/test-env";
        FakeCloudFixture::SetUp();
        qputenv("TESSVALE_REST_ORIGIN", server().restOrigin().toString().toUtf8());
        server().stream().setCommittedText(committed);
        server().stream().setCloseAfterCompletion(true);
    }

    void TearDown() override
    {
        if (m_keychain)
            (void)runTask(m_keychain->deleteItem(DictationCoordinator::apiKeyAccount));
        qunsetenv("TESSVALE_REST_ORIGIN");
        FakeCloudFixture::TearDown();
    }

    // The PCM of every AudioChunk the service received, in order.
    QByteArray receivedAudio()
    {
        QByteArray audio;
        for (const QString& text : server().stream().connection().textFrames) {
            const QJsonObject envelope = QJsonDocument::fromJson(text.toUtf8()).object();
            if (envelope.value(QStringLiteral("Case")).toString() != QStringLiteral("AudioChunk"))
                continue;
            const QJsonObject chunk = envelope.value(QStringLiteral("Fields")).toArray().at(0).toObject();
            audio += QByteArray::fromBase64(chunk.value(QStringLiteral("DataBase64")).toString().toLatin1());
        }
        return audio;
    }

    const QString committed = QStringLiteral("Dictated on the private desktop.");
    std::shared_ptr<KeychainStore> m_keychain;
};

void sendKey(Display* display, KeySym keysym, bool press)
{
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), press ? True : False, CurrentTime);
    XSync(display, False);
}

TEST_F(LiveDictationE2ETest, HeldKeysCarrySpeechIntoTheFocusedField)
{
    const QString speech = QDir(qEnvironmentVariable("TESSVALE_TEST_ENV", QDir::tempPath()))
                               .filePath(QStringLiteral("speech-%1.wav").arg(QCoreApplication::applicationPid()));
    ASSERT_FALSE(runTool(QStringLiteral("espeak-ng"),
        { QStringLiteral("-w"), speech, QStringLiteral("Dictation on the test desktop, one two three.") })
                     .isNull());
    const double speechSeconds = runTool(QStringLiteral("soxi"), { QStringLiteral("-D"), speech }).toDouble();
    // The virtual microphone hears only what the sound server plays into it, so silence plays before
    // and after the speech: like a real microphone, it is live for the recorder's whole run.
    const QString played = speech + QStringLiteral(".padded.wav");
    ASSERT_FALSE(runTool(
        QStringLiteral("sox"), { speech, played, QStringLiteral("pad"), QStringLiteral("1.5"), QStringLiteral("1.5") })
                     .isNull());

    // The user's own clipboard, held by another application.
    const QString usersClipboard = QStringLiteral("The user's own clipboard.");
    testing::DesktopProcess owner;
    ASSERT_TRUE(owner.start(testing::helperProgramPath(QStringLiteral("tessvale-selection-owner")),
        { QStringLiteral("--text"), usersClipboard }));
    ASSERT_TRUE(owner.waitForReadyLine());

    testing::TextTargetProcess target;
    ASSERT_TRUE(target.start());

    // The application's services over the desktop, its cloud client over the fake service.
    const PlatformServices platform = makePlatformServices();
    QNetworkAccessManager network;
    CloudAPIClient::Options clientOptions;
    clientOptions.sslConfiguration = clientSsl();
    clientOptions.decoder = WireDecoder(trustedDomain);
    CloudAPIClient client(&network, clientOptions);
    m_keychain = std::make_shared<KeychainStore>(
        QStringLiteral("com.tessvale.tests.") + QUuid::createUuid().toString(QUuid::WithoutBraces), platform.secrets);
    ASSERT_NO_THROW(runTask(m_keychain->save(server().acceptedApiKey(), DictationCoordinator::apiKeyAccount)));
    auto permissions = std::make_shared<PermissionService>(
        PermissionService::systemOperations(platform.microphone, platform.settingsOpener, platform.accessibilityTrust));
    AudioCaptureService capture(platform.audio);
    auto diagnostics = std::make_shared<FocusedAppDiagnosticsService>(platform.windows, platform.accessibility);
    TextInsertionService insertion(diagnostics, {},
        TextInsertionPlatform { platform.clipboard, platform.injector, nullptr, platform.sessionInput });
    CoordinatorServices services = CoordinatorServices::live(m_keychain, client, permissions, capture, platform.audio,
        insertion, diagnostics, platform.clipboard, platform.urlOpener);
    // The live factory with the test CA trusted.
    CloudWebSocketSession::Options streamOptions;
    streamOptions.sslConfiguration = clientSsl();
    services.webSocketFactory = cloudWebSocketTransportFactory(streamOptions);
    // The recorder's run as it starts and stops, and when its first audio came.
    Clock::time_point recordingStarted;
    Clock::time_point recordingStopped;
    auto firstAudioAt = std::make_shared<std::atomic<Clock::rep>>(0);
    const RecorderClient recorder = services.recorder;
    services.recorder.start = [recorder, &recordingStarted, firstAudioAt](const std::optional<QString>& device,
                                  RecorderClient::ChunkHandler chunks, RecorderClient::LevelHandler levels,
                                  RecorderClient::CaptureEndedHandler ended) {
        firstAudioAt->store(0);
        auto stamped = [chunks = std::move(chunks), firstAudioAt](const QByteArray& chunk) {
            Clock::rep unset = 0;
            firstAudioAt->compare_exchange_strong(unset, Clock::now().time_since_epoch().count());
            chunks(chunk);
        };
        recorder.start(device, std::move(stamped), std::move(levels), std::move(ended));
        recordingStarted = Clock::now();
    };
    services.recorder.stop = [recorder, &recordingStopped] {
        if (recorder.isRunning())
            recordingStopped = Clock::now();
        return recorder.stop();
    };
    AppSettings settings(std::make_shared<InMemoryUserDefaults>());
    DictationCoordinator coordinator(settings, std::move(services));
    coordinator.bootstrap();
    ASSERT_TRUE(waitUntil([&] { return coordinator.isAuthenticated(); }, 60s)) << coordinator.lastError().toStdString();
    auto engine = testing::makeShortcutEngine(coordinator, platform);
    engine->start();
    // The target's field, as the coordinator will capture it.
    ASSERT_TRUE(waitUntil(
        [&] {
            const FocusedInsertionTargetRef field = FocusAppService::currentInsertionTarget(*diagnostics);
            return field && field->application().processIdentifier == target.processId() && field->focusedElement();
        },
        60s));

    QProcess player;
    player.start(QStringLiteral("paplay"),
        { QStringLiteral("-d"), QStringLiteral("virt"), QStringLiteral("--latency-msec=20"), played });
    spinEventLoop(700ms);
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    sendKey(display, XK_Control_L, true);
    sendKey(display, XK_Alt_L, true);
    const bool recording = waitUntil([&] { return coordinator.phase() == DictationPhase::recording; }, 60s);
    // Held through the speech, released in the silence after it.
    if (recording)
        spinEventLoop(std::chrono::milliseconds(static_cast<int>(speechSeconds * 1000) + 1300));
    sendKey(display, XK_Alt_L, false);
    sendKey(display, XK_Control_L, false);
    XCloseDisplay(display);
    ASSERT_TRUE(recording) << coordinator.lastError().toStdString();
    EXPECT_TRUE(waitUntil([&] { return player.state() == QProcess::NotRunning; }, 60s));
    EXPECT_EQ(player.exitCode(), 0);

    EXPECT_EQ(target.waitForText(committed).toStdString(), committed.toStdString());
    ASSERT_TRUE(waitUntil([&] { return coordinator.phase() == DictationPhase::ready; }, 60s))
        << coordinator.lastError().toStdString();
    EXPECT_TRUE(coordinator.lastError().isEmpty()) << coordinator.lastError().toStdString();
    EXPECT_TRUE(waitUntil([&] { return QGuiApplication::clipboard()->text() == usersClipboard; }, 60s))
        << QGuiApplication::clipboard()->text().toStdString();

    // As much audio as the recorder ran, from its start to its stop, with the speech in it.
    const QByteArray audio = receivedAudio();
    const double audioSeconds = audio.size() / 32000.0;
    const Clock::time_point firstAudio { Clock::duration(firstAudioAt->load()) };
    const auto chunkDuration = std::chrono::milliseconds(AudioCaptureService::chunkMilliseconds);
    const double startLatency = std::chrono::duration<double>(firstAudio - chunkDuration - recordingStarted).count();
    const double recorderSeconds = std::chrono::duration<double>(recordingStopped - recordingStarted).count();
    std::fprintf(stderr, "recorder ran %.3f s, first audio %.3f s after the start, service received %.3f s\n",
        recorderSeconds, startLatency, audioSeconds);
    EXPECT_NEAR(audioSeconds, recorderSeconds, 0.060);
    EXPECT_GT(audioSeconds, speechSeconds);
    EXPECT_GT(testing::rootMeanSquare(testing::pcm16Samples(audio)), 0.005);
    QFile::remove(speech);
    QFile::remove(played);
}

} // namespace
} // namespace tessvale
