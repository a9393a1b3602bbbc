#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "settings/AppSettings.h"
#include "settings/QSettingsUserDefaults.h"
#include "support/settings/VocabularyPrinters.h"

using namespace tessvale;

namespace {

using State = AppSettings::LaunchReadinessState;

// The whole executable runs with its configuration home in a temporary folder, set before the
// first QSettings of the process fixes its paths.
class TemporaryConfigHome : public ::testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    }
    static QString path() { return QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")); }

private:
    QTemporaryDir m_home;
};

[[maybe_unused]] ::testing::Environment* const temporaryConfigHome
    = ::testing::AddGlobalTestEnvironment(new TemporaryConfigHome);

void writeBytes(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

// Random bytes and lines that are no key=value pair, below a good first line. Qt finds the damage
// only when it parses the values, not when it opens the file.
QByteArray damagedInsideItsValues()
{
    QRandomGenerator random(1);
    QByteArray junk;
    while (junk.size() < 3000) {
        const char c = char(random.bounded(256));
        if (c != '[')
            junk.append(c);
    }
    return "[General]\naccountEmail=someone@example.com\n" + junk + "\n[Junk]\nno pair here\n";
}

std::optional<QString> testHost()
{
    return QStringLiteral("Test Host");
}

class SettingsFileTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString fileName() const { return m_dir.filePath(QStringLiteral("Tessvale.conf")); }

    std::shared_ptr<QSettingsUserDefaults> openDomain() const
    {
        return std::make_shared<QSettingsUserDefaults>(fileName());
    }

    std::unique_ptr<AppSettings> openSettings() const { return std::make_unique<AppSettings>(openDomain(), &testHost); }

    void writeFile(const QByteArray& contents) const
    {
        QFile file(fileName());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    // What another process reading the file sees.
    QVariant rawValue(const QString& key) const
    {
        QSettings raw(fileName(), QSettings::NativeFormat);
        return raw.value(key);
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST(SettingsFileLocation, ProductionDomainLivesInTheUsersConfigHome)
{
    QSettingsUserDefaults defaults;
    const QString expected = QDir(TemporaryConfigHome::path()).filePath(QStringLiteral("Tessvale/Tessvale.conf"));
    EXPECT_EQ(defaults.fileName(), expected);

    AppSettings settings(std::make_shared<QSettingsUserDefaults>(), &testHost);
    settings.setEmail(QStringLiteral("me@example.com"));
    EXPECT_TRUE(QFile::exists(expected));
    QSettings raw(
        QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tessvale"), QStringLiteral("Tessvale"));
    EXPECT_EQ(raw.value("accountEmail"), QVariant("me@example.com"));
}

TEST_F(SettingsFileTest, EmptyFileGetsExactlyTheThreeNormalizedKeys)
{
    const auto settings = openSettings();
    EXPECT_EQ(settings->deviceName(), "Test Host");
    EXPECT_TRUE(settings->restoreClipboard());
    EXPECT_TRUE(settings->shouldPresentInitialSetup());

    QSettings raw(fileName(), QSettings::NativeFormat);
    QStringList keys = raw.allKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList { "cloudBaseURL", "handsFreeToggleShortcut", "pushToTalkShortcut" }));
    EXPECT_EQ(raw.value("cloudBaseURL"), QVariant(QString(AppSettings::defaultCloudBaseURL)));
    EXPECT_EQ(raw.value("pushToTalkShortcut"), QVariant(QByteArray(R"({"gesture":"holdModifiers","modifiers":3})")));
    EXPECT_EQ(raw.value("handsFreeToggleShortcut"),
        QVariant(QByteArray(R"({"gesture":"keyComboPress","keyCode":49,"modifiers":3})")));
}

TEST_F(SettingsFileTest, EveryPreferenceSurvivesARestart)
{
    const ShortcutBinding holdCommandShift { ShortcutGesture::holdModifiers,
        ShortcutModifiers::command | ShortcutModifiers::shift, std::nullopt };
    const ShortcutBinding controlF5 { ShortcutGesture::keyComboPress, ShortcutModifiers::control, MacKeyCode::f5 };
    {
        const auto settings = openSettings();
        settings->setEmail(QStringLiteral("true"));
        settings->setDeviceName(QStringLiteral("Desk, upstairs @home \"ü\""));
        settings->setPreferredMicrophoneUID(QStringLiteral("0042"));
        settings->setRestoreClipboard(false);
        settings->setAppendTrailingSpace(true);
        settings->setRestoreOriginalInputAfterDictation(false);
        settings->setPreferDirectTyping(true);
        settings->setPushToTalkShortcut(holdCommandShift);
        settings->setHandsFreeToggleShortcut(controlF5);
        settings->markInitialSetupPresented();
        settings->markLaunchReadinessCompleted(QStringLiteral("A@Example.com"));
        settings->dismissLaunchReadiness(QStringLiteral("b@example.com"));
    }
    const auto settings = openSettings();
    EXPECT_EQ(settings->email(), "true");
    EXPECT_EQ(settings->deviceName(), "Desk, upstairs @home \"ü\"");
    EXPECT_EQ(settings->preferredMicrophoneUID(), "0042");
    EXPECT_FALSE(settings->restoreClipboard());
    EXPECT_TRUE(settings->appendTrailingSpace());
    EXPECT_FALSE(settings->restoreOriginalInputAfterDictation());
    EXPECT_TRUE(settings->preferDirectTyping());
    EXPECT_EQ(settings->pushToTalkShortcut(), holdCommandShift);
    EXPECT_EQ(settings->handsFreeToggleShortcut(), controlF5);
    EXPECT_FALSE(settings->shouldPresentInitialSetup());
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("a@example.com")), State::completed);
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("B@EXAMPLE.COM")), State::dismissed);
}

TEST_F(SettingsFileTest, HandEditedValuesOfTheWrongKindReadAsDefaults)
{
    writeFile("[General]\n"
              "cloudBaseURL=https://staging.elsewhere.example\n"
              "restoreClipboard=maybe\n"
              "appendTrailingSpace=yes\n"
              "restoreOriginalInputAfterDictation=false\n"
              "preferDirectTyping=1\n"
              "deviceName=Desk, upstairs\n"
              "accountEmail=someone@example.com\n"
              "preferredMicrophoneUID=@ByteArray(mic)\n"
              "pushToTalkShortcut=hello\n"
              "hasPresentedInitialSetup=2\n"
              "launchReadinessStates=completed\n");
    const auto settings = openSettings();
    EXPECT_EQ(settings->cloudBaseURL(), QString(AppSettings::defaultCloudBaseURL));
    EXPECT_TRUE(settings->restoreClipboard());
    EXPECT_FALSE(settings->appendTrailingSpace());
    // A plain-text file cannot tell a Bool from its text: "false" and "1" are read as Bools.
    EXPECT_FALSE(settings->restoreOriginalInputAfterDictation());
    EXPECT_TRUE(settings->preferDirectTyping());
    // An unquoted comma makes a list, which is not text.
    EXPECT_EQ(settings->deviceName(), "Test Host");
    EXPECT_EQ(settings->email(), "someone@example.com");
    EXPECT_EQ(settings->preferredMicrophoneUID(), "");
    EXPECT_EQ(settings->pushToTalkShortcut(), ShortcutBinding::defaultPushToTalk);
    EXPECT_TRUE(settings->shouldPresentInitialSetup());
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("completed")), State::notStarted);

    EXPECT_EQ(rawValue("cloudBaseURL"), QVariant(QString(AppSettings::defaultCloudBaseURL)));
    EXPECT_EQ(rawValue("pushToTalkShortcut"), QVariant(ShortcutBinding::defaultPushToTalk.toJson()));
    // Keys that are only read stay as the user wrote them.
    EXPECT_EQ(rawValue("restoreClipboard"), QVariant("maybe"));
    EXPECT_EQ(rawValue("deviceName"), QVariant(QStringList { "Desk", "upstairs" }));

    settings->dismissLaunchReadiness(QStringLiteral("a@example.com"));
    EXPECT_EQ(rawValue("launchReadinessStates"), QVariant(QVariantMap { { "a@example.com", "dismissed" } }));
}

TEST_F(SettingsFileTest, InvalidStoredBindingsAreCorrectedInTheFile)
{
    {
        QSettings raw(fileName(), QSettings::NativeFormat);
        raw.setValue("pushToTalkShortcut", QByteArray(R"({"gesture":"keyComboPress","modifiers":1,"keyCode":40})"));
        raw.setValue("handsFreeToggleShortcut", QByteArray(R"({"gesture":"holdModifiers","modifiers":16})"));
    }
    const auto settings = openSettings();
    EXPECT_EQ(settings->pushToTalkShortcut(), ShortcutBinding::defaultPushToTalk);
    EXPECT_EQ(settings->handsFreeToggleShortcut(), ShortcutBinding::defaultHandsFreeToggle);
    EXPECT_EQ(rawValue("pushToTalkShortcut"), QVariant(ShortcutBinding::defaultPushToTalk.toJson()));
    EXPECT_EQ(rawValue("handsFreeToggleShortcut"), QVariant(ShortcutBinding::defaultHandsFreeToggle.toJson()));
}

TEST_F(SettingsFileTest, RejectedAssignmentLeavesThePreviousBindingInTheFile)
{
    const ShortcutBinding doubleTapOption { ShortcutGesture::doubleTapModifiers, ShortcutModifiers::option,
        std::nullopt };
    const auto settings = openSettings();
    settings->setHandsFreeToggleShortcut(doubleTapOption);
    std::vector<ShortcutBinding> published;
    QObject::connect(settings.get(), &AppSettings::handsFreeToggleShortcutChanged,
        [&](const ShortcutBinding& value) { published.push_back(value); });
    const ShortcutBinding unsupportedKey { ShortcutGesture::keyComboPress, ShortcutModifiers::control, 50 };
    settings->setHandsFreeToggleShortcut(unsupportedKey);
    EXPECT_EQ(published, (std::vector<ShortcutBinding> { unsupportedKey, doubleTapOption }));
    EXPECT_EQ(rawValue("handsFreeToggleShortcut"), QVariant(doubleTapOption.toJson()));
}

TEST_F(SettingsFileTest, OneUnreadableReadinessEntryCostsOnlyThatEntry)
{
    {
        QSettings raw(fileName(), QSettings::NativeFormat);
        raw.setValue("launchReadinessStates",
            QVariantMap {
                { "good@example.com", "completed" },
                { "number@example.com", 5 },
                { "list@example.com", QStringList { "dismissed" } },
            });
    }
    const auto settings = openSettings();
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("good@example.com")), State::completed);
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("number@example.com")), State::notStarted);
    EXPECT_EQ(settings->launchReadinessState(QStringLiteral("list@example.com")), State::notStarted);

    settings->markLaunchReadinessCompleted(QStringLiteral("new@example.com"));
    const QVariantMap stored = rawValue("launchReadinessStates").toMap();
    EXPECT_EQ(stored.value("good@example.com"), QVariant("completed"));
    EXPECT_EQ(stored.value("new@example.com"), QVariant("completed"));
    EXPECT_EQ(stored.value("number@example.com"), QVariant(5));
    EXPECT_EQ(stored.value("list@example.com"), QVariant(QStringList { "dismissed" }));

    const auto reopened = openSettings();
    EXPECT_EQ(reopened->launchReadinessState(QStringLiteral("good@example.com")), State::completed);
    EXPECT_EQ(reopened->launchReadinessState(QStringLiteral("new@example.com")), State::completed);
}

TEST_F(SettingsFileTest, WritesReachTheFileAtOnce)
{
    const auto settings = openSettings();
    settings->setAppendTrailingSpace(true);
    // Read by a second, independent reader while the store is still alive.
    EXPECT_EQ(rawValue("appendTrailingSpace"), QVariant("true"));
    settings->setDeviceName(QStringLiteral("@home"));
    EXPECT_EQ(rawValue("deviceName"), QVariant("@home"));
}

TEST_F(SettingsFileTest, AFileThatCannotBeReadOrWrittenIsSetAsideOrShownAndTheRestStillWorks)
{
    struct Row
    {
        const char* name;
        std::function<void(const QString& path)> prepare;
        bool setAside;
    };
    const Row rows[] = {
        { "unparsable", [](const QString& path) { writeBytes(path, "[General\nemail=\"x\n\xff\n["); }, true },
        { "damaged inside its values",
            [](const QString& path) {
                writeBytes(path, damagedInsideItsValues());
                ASSERT_EQ(QSettings(path, QSettings::NativeFormat).status(), QSettings::NoError);
            },
            true },
        // Root reads any file: a folder in its place is what cannot be read here.
        { "unreadable", [](const QString& path) { QDir().mkpath(path); }, true },
        { "in no writable folder", [](const QString&) {}, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("Tessvale.conf"));
        if (!row.setAside) {
            writeBytes(dir.filePath(QStringLiteral("file")), "");
            path = dir.filePath(QStringLiteral("file/Tessvale/Tessvale.conf"));
        }
        row.prepare(path);
        AppSettings settings(std::make_shared<QSettingsUserDefaults>(path), &testHost);
        QStringList problems;
        QObject::connect(
            &settings, &AppSettings::storeProblemChanged, [&problems](const QString& problem) { problems << problem; });
        EXPECT_FALSE(settings.storeProblem().isEmpty());
        EXPECT_TRUE(settings.restoreClipboard());
        const QStringList aside
            = QDir(dir.path()).entryList({ QStringLiteral("Tessvale.conf.*") }, QDir::AllEntries | QDir::Hidden);
        EXPECT_EQ(aside.size(), row.setAside ? 1 : 0);
        settings.setEmail(QStringLiteral("me@example.com"));
        if (row.setAside) {
            EXPECT_TRUE(settings.storeProblem().contains(QStringLiteral("could not be read")));
            EXPECT_TRUE(settings.storeProblem().contains(aside.value(0)));
            EXPECT_EQ(QSettings(path, QSettings::NativeFormat).value("accountEmail"), QVariant("me@example.com"));
        }
        EXPECT_TRUE(problems.isEmpty()) << "shown once, at start";
    }
}

TEST_F(SettingsFileTest, AWriteThatFailsLaterIsShown)
{
    const auto defaults = openDomain();
    AppSettings settings(defaults, &testHost);
    ASSERT_TRUE(settings.storeProblem().isEmpty());
    QStringList problems;
    QObject::connect(
        &settings, &AppSettings::storeProblemChanged, [&problems](const QString& problem) { problems << problem; });
    // The file's place taken by something that cannot be replaced.
    ASSERT_TRUE(QFile::remove(fileName()));
    ASSERT_TRUE(QDir().mkpath(fileName() + QStringLiteral("/taken")));
    settings.setEmail(QStringLiteral("me@example.com"));
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].contains(QStringLiteral("could not be saved")));
}
