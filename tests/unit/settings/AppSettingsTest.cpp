#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "settings/AppSettings.h"
#include "settings/InMemoryUserDefaults.h"
#include "support/settings/VocabularyPrinters.h"

using namespace tessvale;

namespace {

using M = ShortcutModifiers;
using State = AppSettings::LaunchReadinessState;

const ShortcutBinding pttDefault = ShortcutBinding::defaultPushToTalk;
const ShortcutBinding hfDefault = ShortcutBinding::defaultHandsFreeToggle;
const ShortcutBinding holdCommand { ShortcutGesture::holdModifiers, M::command, std::nullopt };
const ShortcutBinding holdFn { ShortcutGesture::holdModifiers, M::function, std::nullopt };
const ShortcutBinding comboControlK { ShortcutGesture::keyComboPress, M::control, 40 };
const ShortcutBinding doubleTapCommand { ShortcutGesture::doubleTapModifiers, M::command, std::nullopt };

QString key(QLatin1StringView view)
{
    return QString(view);
}

std::optional<QString> constantHost()
{
    return QStringLiteral("Test Host");
}

std::optional<QString> noHost()
{
    return std::nullopt;
}

class AppSettingsTest : public ::testing::Test
{
protected:
    std::unique_ptr<AppSettings> makeSettings(AppSettings::HostNameProvider host = &constantHost)
    {
        return std::make_unique<AppSettings>(m_defaults, std::move(host));
    }

    std::optional<ShortcutBinding> storedBinding(QLatin1StringView bindingKey) const
    {
        const std::optional<QByteArray> data = m_defaults->data(key(bindingKey));
        return data ? ShortcutBinding::fromJson(*data) : std::nullopt;
    }

    std::shared_ptr<InMemoryUserDefaults> m_defaults = std::make_shared<InMemoryUserDefaults>();
};

} // namespace

TEST_F(AppSettingsTest, EmptyDomainYieldsEveryDefaultAndWritesExactlyThreeKeys)
{
    const auto settings = makeSettings();
    EXPECT_EQ(settings->cloudBaseURL(), key(AppSettings::defaultCloudBaseURL));
    EXPECT_EQ(settings->email(), "");
    EXPECT_EQ(settings->deviceName(), "Test Host");
    EXPECT_TRUE(settings->restoreClipboard());
    EXPECT_FALSE(settings->appendTrailingSpace());
    EXPECT_TRUE(settings->restoreOriginalInputAfterDictation());
    EXPECT_FALSE(settings->preferDirectTyping());
    EXPECT_EQ(settings->pushToTalkShortcut(), pttDefault);
    EXPECT_EQ(settings->handsFreeToggleShortcut(), hfDefault);
    EXPECT_EQ(settings->preferredMicrophoneUID(), "");
    EXPECT_TRUE(settings->shouldPresentInitialSetup());
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("someone@example.com")), State::notStarted);

    EXPECT_EQ(m_defaults->keys(), (QStringList { "cloudBaseURL", "handsFreeToggleShortcut", "pushToTalkShortcut" }));
    EXPECT_EQ(m_defaults->string("cloudBaseURL"), key(AppSettings::defaultCloudBaseURL));
    EXPECT_EQ(m_defaults->data("pushToTalkShortcut"), QByteArray(R"({"gesture":"holdModifiers","modifiers":3})"));
    EXPECT_EQ(m_defaults->data("handsFreeToggleShortcut"),
        QByteArray(R"({"gesture":"keyComboPress","keyCode":49,"modifiers":3})"));
}

TEST_F(AppSettingsTest, DeviceNameFallsBackToHostThenFixedName)
{
    EXPECT_EQ(makeSettings(&noHost)->deviceName(), "Tessvale on Linux");
    EXPECT_EQ(makeSettings([] { return std::optional<QString>(QString()); })->deviceName(), "Tessvale on Linux");
    m_defaults->setString("deviceName", QString());
    EXPECT_EQ(makeSettings()->deviceName(), "");
    m_defaults->setString("deviceName", "Studio");
    EXPECT_EQ(makeSettings()->deviceName(), "Studio");
}

TEST_F(AppSettingsTest, StoredValuesOfTheWrongKindReadAsDefaults)
{
    m_defaults->setString("restoreClipboard", "false");
    m_defaults->setString("appendTrailingSpace", "true");
    m_defaults->setObject("restoreOriginalInputAfterDictation", QVariantMap { { "a", 1 } });
    m_defaults->setObject("preferDirectTyping", 2);
    m_defaults->setObject("accountEmail", true);
    m_defaults->setObject("preferredMicrophoneUID", QByteArray("mic"));
    m_defaults->setObject("deviceName", QStringList { "a", "b" });
    m_defaults->setString("pushToTalkShortcut", R"({"gesture":"holdModifiers","modifiers":8})");
    m_defaults->setObject("handsFreeToggleShortcut", 49);
    m_defaults->setString("hasPresentedInitialSetup", "true");
    const auto settings = makeSettings();
    EXPECT_TRUE(settings->restoreClipboard());
    EXPECT_FALSE(settings->appendTrailingSpace());
    EXPECT_TRUE(settings->restoreOriginalInputAfterDictation());
    EXPECT_FALSE(settings->preferDirectTyping());
    EXPECT_EQ(settings->email(), "");
    EXPECT_EQ(settings->preferredMicrophoneUID(), "");
    EXPECT_EQ(settings->deviceName(), "Test Host");
    // Text is not data: the binding keys fall back to the defaults and are rewritten as data.
    EXPECT_EQ(settings->pushToTalkShortcut(), pttDefault);
    EXPECT_EQ(settings->handsFreeToggleShortcut(), hfDefault);
    EXPECT_EQ(storedBinding(AppSettings::pushToTalkShortcutKey), pttDefault);
    EXPECT_EQ(storedBinding(AppSettings::handsFreeToggleShortcutKey), hfDefault);
    EXPECT_TRUE(settings->shouldPresentInitialSetup());
}

TEST_F(AppSettingsTest, NumbersReadAsTextAndZeroOrOneAsBools)
{
    m_defaults->setObject("accountEmail", 42);
    m_defaults->setObject("deviceName", 1.5);
    m_defaults->setObject("restoreClipboard", 0);
    m_defaults->setObject("appendTrailingSpace", 1.0);
    const auto settings = makeSettings();
    EXPECT_EQ(settings->email(), "42");
    EXPECT_EQ(settings->deviceName(), "1.5");
    EXPECT_FALSE(settings->restoreClipboard());
    EXPECT_TRUE(settings->appendTrailingSpace());
}

TEST_F(AppSettingsTest, StoredValuesOfTheRightKindAreLoadedWithoutWriting)
{
    m_defaults->setString("accountEmail", "me@example.com");
    m_defaults->setBool("restoreClipboard", false);
    m_defaults->setBool("appendTrailingSpace", true);
    m_defaults->setBool("restoreOriginalInputAfterDictation", false);
    m_defaults->setBool("preferDirectTyping", true);
    m_defaults->setString("preferredMicrophoneUID", "usb-mic");
    m_defaults->setData("pushToTalkShortcut", holdFn.toJson());
    m_defaults->setData("handsFreeToggleShortcut", doubleTapCommand.toJson());
    const auto settings = makeSettings();
    EXPECT_EQ(settings->email(), "me@example.com");
    EXPECT_FALSE(settings->restoreClipboard());
    EXPECT_TRUE(settings->appendTrailingSpace());
    EXPECT_FALSE(settings->restoreOriginalInputAfterDictation());
    EXPECT_TRUE(settings->preferDirectTyping());
    EXPECT_EQ(settings->preferredMicrophoneUID(), "usb-mic");
    // A binding made elsewhere (Fn hold) is valid vocabulary and is kept.
    EXPECT_EQ(settings->pushToTalkShortcut(), holdFn);
    EXPECT_EQ(settings->handsFreeToggleShortcut(), doubleTapCommand);
    for (const char* untouched :
        { "accountEmail", "restoreClipboard", "appendTrailingSpace", "preferredMicrophoneUID" })
        EXPECT_EQ(m_defaults->writeCount(untouched), 1) << untouched;
    EXPECT_EQ(m_defaults->writeCount("pushToTalkShortcut"), 2);
}

TEST_F(AppSettingsTest, CustomCloudBaseURLIsReplacedAtStart)
{
    m_defaults->setString("cloudBaseURL", "https://staging.elsewhere.example");
    const auto settings = makeSettings();
    EXPECT_EQ(settings->cloudBaseURL(), key(AppSettings::defaultCloudBaseURL));
    EXPECT_EQ(m_defaults->string("cloudBaseURL"), key(AppSettings::defaultCloudBaseURL));
}

TEST_F(AppSettingsTest, InvalidStoredBindingsAreReplacedByDefaultsAndWrittenBack)
{
    const struct
    {
        const char* name;
        QByteArray pushToTalk;
        QByteArray handsFree;
    } cases[] = {
        { "roles swapped", hfDefault.toJson(), pttDefault.toJson() },
        { "hands-free hold / hold with key", QByteArray(R"({"gesture":"holdModifiers","modifiers":8,"keyCode":0})"),
            QByteArray(R"({"gesture":"holdModifiers","modifiers":16})") },
        { "shift only / unknown key", QByteArray(R"({"gesture":"holdModifiers","modifiers":4})"),
            QByteArray(R"({"gesture":"keyComboPress","modifiers":1,"keyCode":50})") },
        { "undecodable", QByteArray("\xff\xfe garbage"), QByteArray(R"({"gesture":"press","modifiers":1})") },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_defaults = std::make_shared<InMemoryUserDefaults>();
        m_defaults->setData("pushToTalkShortcut", c.pushToTalk);
        m_defaults->setData("handsFreeToggleShortcut", c.handsFree);
        const auto settings = makeSettings();
        EXPECT_EQ(settings->pushToTalkShortcut(), pttDefault);
        EXPECT_EQ(settings->handsFreeToggleShortcut(), hfDefault);
        EXPECT_EQ(m_defaults->data("pushToTalkShortcut"), pttDefault.toJson());
        EXPECT_EQ(m_defaults->data("handsFreeToggleShortcut"), hfDefault.toJson());
    }
}

TEST_F(AppSettingsTest, RejectedBindingIsPublishedThenReplacedByThePreviousOne)
{
    const auto settings = makeSettings();
    settings->setPushToTalkShortcut(holdCommand);
    std::vector<ShortcutBinding> published;
    QObject::connect(settings.get(), &AppSettings::pushToTalkShortcutChanged,
        [&](const ShortcutBinding& value) { published.push_back(value); });
    const int writesBefore = m_defaults->writeCount("pushToTalkShortcut");

    settings->setPushToTalkShortcut(comboControlK);

    EXPECT_EQ(published, (std::vector<ShortcutBinding> { comboControlK, holdCommand }));
    EXPECT_EQ(settings->pushToTalkShortcut(), holdCommand);
    EXPECT_EQ(storedBinding(AppSettings::pushToTalkShortcutKey), holdCommand);
    EXPECT_EQ(m_defaults->writeCount("pushToTalkShortcut") - writesBefore, 2);
}

TEST_F(AppSettingsTest, AcceptedBindingIsPublishedTwiceAndStored)
{
    const auto settings = makeSettings();
    std::vector<ShortcutBinding> published;
    QObject::connect(settings.get(), &AppSettings::handsFreeToggleShortcutChanged,
        [&](const ShortcutBinding& value) { published.push_back(value); });
    settings->setHandsFreeToggleShortcut(doubleTapCommand);
    EXPECT_EQ(published, (std::vector<ShortcutBinding> { doubleTapCommand, doubleTapCommand }));
    EXPECT_EQ(storedBinding(AppSettings::handsFreeToggleShortcutKey), doubleTapCommand);

    published.clear();
    settings->setHandsFreeToggleShortcut(holdCommand);
    EXPECT_EQ(published, (std::vector<ShortcutBinding> { holdCommand, doubleTapCommand }));
    EXPECT_EQ(storedBinding(AppSettings::handsFreeToggleShortcutKey), doubleTapCommand);
}

TEST_F(AppSettingsTest, SubscriberAssigningDuringDeliveryIsStillValidated)
{
    const auto settings = makeSettings();
    // Assign from inside the second delivery, the one that carries the store's own replacement.
    int deliveries = 0;
    QObject::connect(settings.get(), &AppSettings::pushToTalkShortcutChanged, [&](const ShortcutBinding& value) {
        if (value == holdCommand && ++deliveries == 2)
            settings->setPushToTalkShortcut(comboControlK);
    });
    settings->setPushToTalkShortcut(holdCommand);
    // The nested assignment is rejected and the previous binding published once more.
    EXPECT_EQ(deliveries, 3);
    EXPECT_EQ(settings->pushToTalkShortcut(), holdCommand);
    EXPECT_EQ(storedBinding(AppSettings::pushToTalkShortcutKey), holdCommand);
}

TEST_F(AppSettingsTest, BindingsAreNotCheckedAgainstEachOther)
{
    const auto settings = makeSettings();
    const ShortcutBinding doubleTapDefaultSet { ShortcutGesture::doubleTapModifiers, M::control | M::option,
        std::nullopt };
    settings->setHandsFreeToggleShortcut(doubleTapDefaultSet);
    EXPECT_EQ(settings->pushToTalkShortcut(), pttDefault);
    EXPECT_EQ(settings->handsFreeToggleShortcut(), doubleTapDefaultSet);
}

TEST_F(AppSettingsTest, ResetShortcutDefaultsAssignsPublishesAndWritesEvenWhenUnchanged)
{
    const auto settings = makeSettings();
    int pushPublished = 0;
    int handsFreePublished = 0;
    QObject::connect(settings.get(), &AppSettings::pushToTalkShortcutChanged, [&] { ++pushPublished; });
    QObject::connect(settings.get(), &AppSettings::handsFreeToggleShortcutChanged, [&] { ++handsFreePublished; });
    const int pushWrites = m_defaults->writeCount("pushToTalkShortcut");
    const int handsFreeWrites = m_defaults->writeCount("handsFreeToggleShortcut");
    settings->resetShortcutDefaults();
    EXPECT_EQ(pushPublished, 2);
    EXPECT_EQ(handsFreePublished, 2);
    EXPECT_EQ(m_defaults->writeCount("pushToTalkShortcut") - pushWrites, 2);
    EXPECT_EQ(m_defaults->writeCount("handsFreeToggleShortcut") - handsFreeWrites, 2);

    settings->setPushToTalkShortcut(holdCommand);
    settings->setHandsFreeToggleShortcut(comboControlK);
    settings->resetShortcutDefaults();
    EXPECT_EQ(settings->pushToTalkShortcut(), pttDefault);
    EXPECT_EQ(settings->handsFreeToggleShortcut(), hfDefault);
    EXPECT_EQ(storedBinding(AppSettings::pushToTalkShortcutKey), pttDefault);
    EXPECT_EQ(storedBinding(AppSettings::handsFreeToggleShortcutKey), hfDefault);
}

TEST_F(AppSettingsTest, EveryAssignmentPublishesAndWritesItsKey)
{
    const auto settings = makeSettings();
    std::vector<QString> events;
    QObject::connect(
        settings.get(), &AppSettings::objectWillChange, [&] { events.push_back("will:" + settings->email()); });
    QObject::connect(
        settings.get(), &AppSettings::emailChanged, [&](const QString& value) { events.push_back("email:" + value); });
    settings->setEmail("a@example.com");
    settings->setEmail("a@example.com");
    EXPECT_EQ(
        events, (std::vector<QString> { "will:", "email:a@example.com", "will:a@example.com", "email:a@example.com" }));
    EXPECT_EQ(m_defaults->writeCount("accountEmail"), 2);
    EXPECT_EQ(m_defaults->string("accountEmail"), "a@example.com");

    std::vector<bool> flags;
    QObject::connect(
        settings.get(), &AppSettings::preferDirectTypingChanged, [&](bool value) { flags.push_back(value); });
    settings->setPreferDirectTyping(true);
    settings->setPreferDirectTyping(true);
    EXPECT_EQ(flags, (std::vector<bool> { true, true }));
    EXPECT_EQ(m_defaults->object("preferDirectTyping"), QVariant(true));

    settings->setDeviceName("Laptop");
    settings->setPreferredMicrophoneUID("mic-1");
    settings->setRestoreClipboard(false);
    settings->setAppendTrailingSpace(true);
    settings->setRestoreOriginalInputAfterDictation(false);
    settings->setCloudBaseURL("https://other.example");
    EXPECT_EQ(m_defaults->object("deviceName"), QVariant("Laptop"));
    EXPECT_EQ(m_defaults->object("preferredMicrophoneUID"), QVariant("mic-1"));
    EXPECT_EQ(m_defaults->object("restoreClipboard"), QVariant(false));
    EXPECT_EQ(m_defaults->object("appendTrailingSpace"), QVariant(true));
    EXPECT_EQ(m_defaults->object("restoreOriginalInputAfterDictation"), QVariant(false));
    EXPECT_EQ(m_defaults->object("cloudBaseURL"), QVariant("https://other.example"));

    const auto reloaded = makeSettings();
    EXPECT_EQ(reloaded->deviceName(), "Laptop");
    EXPECT_FALSE(reloaded->restoreClipboard());
    EXPECT_EQ(reloaded->cloudBaseURL(), key(AppSettings::defaultCloudBaseURL));
}

TEST_F(AppSettingsTest, InitialSetupFlagIsWrittenWithoutPublishing)
{
    const auto settings = makeSettings();
    int announced = 0;
    QObject::connect(settings.get(), &AppSettings::objectWillChange, [&] { ++announced; });
    EXPECT_TRUE(settings->shouldPresentInitialSetup());
    settings->markInitialSetupPresented();
    EXPECT_FALSE(settings->shouldPresentInitialSetup());
    EXPECT_EQ(m_defaults->object("hasPresentedInitialSetup"), QVariant(true));
    EXPECT_EQ(announced, 0);
    m_defaults->setBool("hasPresentedInitialSetup", false);
    EXPECT_TRUE(settings->shouldPresentInitialSetup());
}

TEST(LaunchReadinessStateValues, RawValuesAreTheCaseNames)
{
    const std::pair<State, const char*> cases[] = {
        { State::notStarted, "notStarted" },
        { State::inProgress, "inProgress" },
        { State::completed, "completed" },
        { State::dismissed, "dismissed" },
    };
    for (const auto& [state, raw] : cases) {
        EXPECT_EQ(AppSettings::rawValue(state), raw);
        EXPECT_EQ(AppSettings::launchReadinessStateFromRawValue(QString::fromLatin1(raw)), state);
    }
    EXPECT_EQ(AppSettings::launchReadinessStateFromRawValue(u"Completed"), std::nullopt);
    EXPECT_EQ(AppSettings::launchReadinessStateFromRawValue(u""), std::nullopt);
}

TEST_F(AppSettingsTest, AccountKeysAreTrimmedAndCaseFolded)
{
    const auto settings = makeSettings();
    settings->markLaunchReadinessCompleted(QStringLiteral("  Someone@Example.COM\n"));
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("someone@example.com")), State::completed);
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("\tSOMEONE@example.com ")), State::completed);
    EXPECT_EQ(
        m_defaults->dictionary("launchReadinessStates"), (QVariantMap { { "someone@example.com", "completed" } }));
    EXPECT_EQ(AppSettings::normalizedAccountKey(QStringLiteral(" \n\t")), std::nullopt);
    EXPECT_EQ(AppSettings::normalizedAccountKey(std::nullopt), std::nullopt);
}

TEST_F(AppSettingsTest, NoAccountKeyReadsNotStartedAndRecordsNothing)
{
    const auto settings = makeSettings();
    int announced = 0;
    QObject::connect(settings.get(), &AppSettings::objectWillChange, [&] { ++announced; });
    for (const std::optional<QString>& accountKey : { std::optional<QString>(), std::optional<QString>("   \n") }) {
        settings->markLaunchReadinessCompleted(accountKey);
        settings->dismissLaunchReadiness(accountKey);
        EXPECT_EQ(settings->launchReadinessState(accountKey), State::notStarted);
    }
    EXPECT_EQ(announced, 0);
    EXPECT_FALSE(m_defaults->keys().contains("launchReadinessStates"));
}

TEST_F(AppSettingsTest, ReadinessOnlyMovesForward)
{
    const auto settings = makeSettings();
    int announced = 0;
    int readinessChanged = 0;
    QObject::connect(settings.get(), &AppSettings::objectWillChange, [&] { ++announced; });
    QObject::connect(settings.get(), &AppSettings::launchReadinessStatesChanged, [&] { ++readinessChanged; });
    const QString account = QStringLiteral("a@example.com");

    settings->markLaunchReadinessCompleted(account);
    settings->markLaunchReadinessCompleted(account);
    EXPECT_EQ(settings->launchReadinessState(account), State::completed);
    EXPECT_EQ(m_defaults->writeCount("launchReadinessStates"), 1);
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(readinessChanged, 1);

    settings->dismissLaunchReadiness(account);
    settings->dismissLaunchReadiness(account);
    settings->markLaunchReadinessCompleted(account);
    EXPECT_EQ(settings->launchReadinessState(account), State::dismissed);
    EXPECT_EQ(m_defaults->writeCount("launchReadinessStates"), 2);
    EXPECT_EQ(announced, 2);

    const QString other = QStringLiteral("b@example.com");
    settings->dismissLaunchReadiness(other);
    settings->markLaunchReadinessCompleted(other);
    EXPECT_EQ(settings->launchReadinessState(other), State::dismissed);
    EXPECT_EQ(settings->launchReadinessState(account), State::dismissed);
}

TEST_F(AppSettingsTest, InProgressAndUnknownEntriesCanBeCompleted)
{
    m_defaults->setDictionary(
        "launchReadinessStates", QVariantMap { { "p@example.com", "inProgress" }, { "u@example.com", "Finished" } });
    const auto settings = makeSettings();
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("p@example.com")), State::inProgress);
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("u@example.com")), State::notStarted);
    settings->markLaunchReadinessCompleted(QStringLiteral("p@example.com"));
    settings->markLaunchReadinessCompleted(QStringLiteral("u@example.com"));
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("p@example.com")), State::completed);
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("u@example.com")), State::completed);
}

TEST_F(AppSettingsTest, OneUnreadableReadinessEntryCostsOnlyThatEntry)
{
    const QVariantMap stored {
        { "good@example.com", "completed" },
        { "gone@example.com", "dismissed" },
        { "number@example.com", 7 },
        { "data@example.com", QByteArray("dismissed") },
    };
    m_defaults->setDictionary("launchReadinessStates", stored);
    const auto settings = makeSettings();
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("good@example.com")), State::completed);
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("gone@example.com")), State::dismissed);
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("number@example.com")), State::notStarted);
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("data@example.com")), State::notStarted);

    settings->markLaunchReadinessCompleted(QStringLiteral("new@example.com"));
    settings->dismissLaunchReadiness(QStringLiteral("number@example.com"));
    QVariantMap expected = stored;
    expected.insert("new@example.com", "completed");
    expected.insert("number@example.com", "dismissed");
    EXPECT_EQ(m_defaults->dictionary("launchReadinessStates"), expected);
}

TEST_F(AppSettingsTest, ReadinessRecordOfTheWrongKindIsReplacedOnTheNextMark)
{
    m_defaults->setString("launchReadinessStates", "completed");
    const auto settings = makeSettings();
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("a@example.com")), State::notStarted);
    settings->dismissLaunchReadiness(QStringLiteral("a@example.com"));
    EXPECT_EQ(m_defaults->dictionary("launchReadinessStates"), (QVariantMap { { "a@example.com", "dismissed" } }));
}

TEST(ServiceOrigins, ComeFromTheConfiguredOrigins)
{
    auto defaults = std::make_shared<InMemoryUserDefaults>();
    AppSettings settings(defaults, &constantHost);
    EXPECT_EQ(settings.normalizedBaseURL(), QUrl(key(AppSettings::defaultCloudBaseURL)));
    EXPECT_EQ(settings.clientAPIBaseURL(), QUrl(key(AppSettings::defaultConvexSiteBaseURL)));
    const std::optional<NativeAuthEndpointConfig> config = settings.nativeAuthEndpointConfig();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->apiBaseURL, QUrl(key(AppSettings::defaultConvexSiteBaseURL)));
    EXPECT_EQ(config->authorizationHost, key(AppSettings::defaultCloudBaseURL));
    EXPECT_FALSE(AppSettings::allowsCustomCloudBaseURL);

    // A stored origin never reaches the URL helpers.
    settings.setCloudBaseURL("https://evil.example");
    EXPECT_EQ(settings.normalizedBaseURL(), QUrl(key(AppSettings::defaultCloudBaseURL)));
}

TEST(ServiceOrigins, ConfiguredTextIsTrimmedAndMustParse)
{
    EXPECT_EQ(AppSettings::urlFromConfiguredOrigin(" \n https://tessvale.example\t"), QUrl("https://tessvale.example"));
    EXPECT_EQ(AppSettings::urlFromConfiguredOrigin("  \n"), std::nullopt);
    EXPECT_EQ(AppSettings::urlFromConfiguredOrigin(""), std::nullopt);
    EXPECT_EQ(AppSettings::urlFromConfiguredOrigin("https://exa mple.example"), std::nullopt);
    EXPECT_EQ(AppSettings::urlFromConfiguredOrigin("http://[::1"), std::nullopt);
}

TEST(NativeAuthEndpoints, AppendPathsBelowTheRestOrigin)
{
    const NativeAuthEndpointConfig config { QUrl("https://api.tessvale.example"), "https://tessvale.example" };
    EXPECT_EQ(config.startURL(), QUrl("https://api.tessvale.example/client/v1/native-auth/start"));
    EXPECT_EQ(config.tokenURL(), QUrl("https://api.tessvale.example/client/v1/native-auth/token"));
    const QUuid attempt("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    EXPECT_EQ(config.cancelURL(attempt).toString(),
        "https://api.tessvale.example/client/v1/native-auth/6f9619ff-8b86-d011-b42d-00c04fc964ff/cancel");

    const NativeAuthEndpointConfig withPath { QUrl("https://localhost:8443/base/"), "x" };
    EXPECT_EQ(withPath.startURL().toString(), "https://localhost:8443/base/client/v1/native-auth/start");
    const NativeAuthEndpointConfig withPathNoSlash { QUrl("https://localhost:8443/base"), "x" };
    EXPECT_EQ(withPathNoSlash.tokenURL().toString(), "https://localhost:8443/base/client/v1/native-auth/token");
}

namespace {

// Sets the endpoint overrides for one scope and removes them afterwards.
class EndpointOverrides
{
public:
    EndpointOverrides(const char* webOrigin, const char* restOrigin)
    {
        qputenv("TESSVALE_WEB_ORIGIN", webOrigin);
        qputenv("TESSVALE_REST_ORIGIN", restOrigin);
    }
    ~EndpointOverrides()
    {
        qunsetenv("TESSVALE_WEB_ORIGIN");
        qunsetenv("TESSVALE_REST_ORIGIN");
    }
};

} // namespace

TEST(ServiceOrigins, FollowTheEnvironmentOverridesWhileStoredDataKeepsTheCompiledInOrigin)
{
    auto defaults = std::make_shared<InMemoryUserDefaults>();
    const EndpointOverrides overrides("https://localhost:4443", "https://127.0.0.1:4444/api");
    AppSettings settings(defaults, &constantHost);
    EXPECT_EQ(settings.normalizedBaseURL(), QUrl("https://localhost:4443"));
    EXPECT_EQ(settings.clientAPIBaseURL(), QUrl("https://127.0.0.1:4444/api"));
    const std::optional<NativeAuthEndpointConfig> config = settings.nativeAuthEndpointConfig();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->apiBaseURL, QUrl("https://127.0.0.1:4444/api"));
    EXPECT_EQ(config->authorizationHost, QStringLiteral("https://localhost:4443"));
    EXPECT_EQ(config->tokenURL(), QUrl("https://127.0.0.1:4444/api/client/v1/native-auth/token"));
    // An override is for this run only: what is stored stays what every version writes.
    EXPECT_EQ(settings.cloudBaseURL(), key(AppSettings::defaultCloudBaseURL));
    EXPECT_EQ(defaults->string("cloudBaseURL"), key(AppSettings::defaultCloudBaseURL));
}

TEST(ServiceOrigins, OverrideThatDoesNotParseGivesNone)
{
    const EndpointOverrides overrides("https://exa mple.example", "http://[::1");
    const AppSettings settings(std::make_shared<InMemoryUserDefaults>(), &constantHost);
    EXPECT_EQ(settings.normalizedBaseURL(), std::nullopt);
    EXPECT_EQ(settings.nativeAuthEndpointConfig(), std::nullopt);
}
