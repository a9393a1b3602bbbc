#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include "platform/linux/system/XdgAutostartLoginItem.h"
#include "platform/system/LoginItemService.h"
#include "system/LaunchAtLoginService.h"

using namespace tessvale;

namespace {

void writeFile(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

class AutostartTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_executable = m_dir.filePath("bin/tessvale");
        writeFile(m_executable, "#!/bin/sh\n");
        QFile::setPermissions(m_executable, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString autostartDir() const { return m_dir.filePath("config/autostart"); }
    XdgAutostartLoginItem item() const { return XdgAutostartLoginItem(autostartDir(), m_executable); }

    QTemporaryDir m_dir;
    QString m_executable;
};

} // namespace

TEST(AutostartEntry, ContentsPointAtTheExecutable)
{
    EXPECT_EQ(XdgAutostartLoginItem::entryContents("/opt/tessvale/bin/tessvale"),
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Tessvale\n"
        "Comment=Dictation into any application\n"
        "Exec=/opt/tessvale/bin/tessvale\n"
        "Icon=tessvale\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n");
}

TEST(AutostartEntry, ExecQuotesReservedCharactersAndEscapesPercent)
{
    EXPECT_EQ(XdgAutostartLoginItem::execValue("/usr/bin/tessvale"), "/usr/bin/tessvale");
    EXPECT_EQ(XdgAutostartLoginItem::execValue("/home/a b/tessvale"), "\"/home/a b/tessvale\"");
    // GLib looks the program up before it expands "%%": env is the program, and gets the path expanded.
    EXPECT_EQ(XdgAutostartLoginItem::execValue("/opt/100%/tessvale"), "env /opt/100%%/tessvale");
    EXPECT_EQ(XdgAutostartLoginItem::execValue("/opt/100% x/tessvale"), "env \"/opt/100%% x/tessvale\"");
    // "$" is escaped for the argument quoting; the backslash is then doubled for the file format.
    EXPECT_EQ(XdgAutostartLoginItem::execValue("/opt/$x/tessvale"), "\"/opt/\\\\$x/tessvale\"");
    EXPECT_EQ(XdgAutostartLoginItem::execValue("/opt/a\"b"), "\"/opt/a\\\\\"b\"");
    // A named profile's entry starts that profile.
    EXPECT_EQ(XdgAutostartLoginItem::execValue("/usr/bin/tessvale", { "TESSVALE_PROFILE=demo" }),
        "env TESSVALE_PROFILE=demo /usr/bin/tessvale");
    EXPECT_EQ(XdgAutostartLoginItem::execValue("/opt/100%/tessvale", { "TESSVALE_PROFILE=demo" }),
        "env TESSVALE_PROFILE=demo /opt/100%%/tessvale");
}

TEST(AutostartEntry, DefaultFolderHonoursXdgConfigHome)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/tmp/somewhere/config");
    EXPECT_EQ(XdgAutostartLoginItem::defaultAutostartDirectory(), "/tmp/somewhere/config/autostart");
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(XdgAutostartLoginItem::defaultAutostartDirectory(), QDir::homePath() + "/.config/autostart");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(XdgAutostartLoginItem::defaultAutostartDirectory(), QDir::homePath() + "/.config/autostart");
    if (!saved.isNull())
        qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(AutostartTest, MissingEntryIsNotRegistered)
{
    EXPECT_EQ(item().status(), LoginItemStatus::notRegistered);
}

TEST_F(AutostartTest, RegisterWritesAnEnabledEntryAndUnregisterRemovesIt)
{
    XdgAutostartLoginItem login = item();
    const PlatformResult registered = login.registerApplication();
    ASSERT_TRUE(registered) << registered.reason().toStdString();
    EXPECT_EQ(login.entryPath(), autostartDir() + "/tessvale.desktop");
    QFile file(login.entryPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), XdgAutostartLoginItem::entryContents(m_executable));
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);

    ASSERT_TRUE(login.unregisterApplication());
    EXPECT_FALSE(QFile::exists(login.entryPath()));
    EXPECT_EQ(login.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(login.unregisterApplication()) << "removing a missing entry is no failure";
}

TEST_F(AutostartTest, ExecutableWithSpacesReadsBackAsEnabled)
{
    const QString spaced = m_dir.filePath("my apps/tessvale");
    writeFile(spaced, "#!/bin/sh\n");
    QFile::setPermissions(spaced, QFile::ReadOwner | QFile::ExeOwner);
    XdgAutostartLoginItem login(autostartDir(), spaced);
    ASSERT_TRUE(login.registerApplication());
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);
}

TEST_F(AutostartTest, EntriesSwitchedOffByTheDesktopAwaitApproval)
{
    const QString path = autostartDir() + "/tessvale.desktop";
    writeFile(path, XdgAutostartLoginItem::entryContents(m_executable) + "Hidden=true\n");
    EXPECT_EQ(item().status(), LoginItemStatus::requiresApproval);
    QByteArray gnomeOff = XdgAutostartLoginItem::entryContents(m_executable);
    gnomeOff.replace("X-GNOME-Autostart-enabled=true", "X-GNOME-Autostart-enabled=false");
    writeFile(path, gnomeOff);
    EXPECT_EQ(item().status(), LoginItemStatus::requiresApproval);
}

TEST_F(AutostartTest, EntryForAMissingProgramIsNotFound)
{
    writeFile(
        autostartDir() + "/tessvale.desktop", XdgAutostartLoginItem::entryContents(m_dir.filePath("gone/tessvale")));
    EXPECT_EQ(item().status(), LoginItemStatus::notFound);
}

TEST_F(AutostartTest, UnreadableEntryIsUnknown)
{
    writeFile(autostartDir() + "/tessvale.desktop", "not a desktop entry\n");
    EXPECT_EQ(item().status(), LoginItemStatus::unknown);
}

TEST_F(AutostartTest, PathTheDesktopCannotStartIsAnErrorNotEnabled)
{
    // env would take "a=b%/tessvale" for a variable to set and start nothing.
    const QString unwritable = m_dir.filePath("a=b%/tessvale");
    writeFile(unwritable, "#!/bin/sh\n");
    QFile::setPermissions(unwritable, QFile::ReadOwner | QFile::ExeOwner);
    auto login = std::make_shared<XdgAutostartLoginItem>(autostartDir(), unwritable);
    LaunchAtLoginService service(login);
    service.setEnabled(true);
    EXPECT_FALSE(service.isEnabled());
    EXPECT_EQ(service.statusDescription(), "Disabled");
    EXPECT_TRUE(service.lastError().contains(unwritable)) << service.lastError().toStdString();
    EXPECT_FALSE(QFile::exists(login->entryPath()));

    // An entry naming the program with "%%" itself, as written before, is refused by GLib's reader.
    const QString percent = m_dir.filePath("100%/tessvale");
    writeFile(percent, "#!/bin/sh\n");
    QFile::setPermissions(percent, QFile::ReadOwner | QFile::ExeOwner);
    QByteArray old = XdgAutostartLoginItem::entryContents(percent);
    old.replace("Exec=env ", "Exec=");
    writeFile(login->entryPath(), old);
    EXPECT_EQ(login->status(), LoginItemStatus::notFound);
}

TEST_F(AutostartTest, RegisterFailsWithADescriptionWhenTheFolderCannotBeMade)
{
    writeFile(m_dir.filePath("blocked"), "a file where the folder should be");
    XdgAutostartLoginItem login(m_dir.filePath("blocked/autostart"), m_executable);
    const PlatformResult registered = login.registerApplication();
    EXPECT_FALSE(registered);
    EXPECT_FALSE(registered.reason().isEmpty());
}

namespace {

class ScriptedLoginItem : public LoginItemService
{
public:
    LoginItemStatus status() const override { return current; }
    PlatformResult registerApplication() override { return change(); }
    PlatformResult unregisterApplication() override { return change(); }

    PlatformResult change()
    {
        if (!failure.isEmpty())
            return PlatformResult::failed(failure);
        current = afterChange;
        return PlatformResult::ok();
    }

    LoginItemStatus current = LoginItemStatus::notRegistered;
    LoginItemStatus afterChange = LoginItemStatus::enabled;
    QString failure;
};

struct Published
{
    QList<bool> enabled;
    QStringList descriptions;
};

} // namespace

TEST(LaunchAtLoginService, PublishesEveryStatusInWords)
{
    const QList<std::tuple<LoginItemStatus, bool, QString>> table {
        { LoginItemStatus::notRegistered, false, "Disabled" },
        { LoginItemStatus::enabled, true, "Enabled" },
        { LoginItemStatus::requiresApproval, false, "Requires approval in Login Items" },
        { LoginItemStatus::notFound, false, "App bundle not found" },
        { LoginItemStatus::unknown, false, "Unknown" },
    };
    for (const auto& [status, enabled, description] : table) {
        auto login = std::make_shared<ScriptedLoginItem>();
        login->current = status;
        LaunchAtLoginService service(login);
        EXPECT_EQ(service.isEnabled(), enabled);
        EXPECT_EQ(service.statusDescription(), description);
        EXPECT_EQ(service.lastError(), "");
    }
}

TEST(LaunchAtLoginService, RefreshPublishesEnabledThenDescription)
{
    auto login = std::make_shared<ScriptedLoginItem>();
    LaunchAtLoginService service(login);
    QStringList order;
    QObject::connect(
        &service, &LaunchAtLoginService::isEnabledChanged, [&](bool value) { order.append(value ? "true" : "false"); });
    QObject::connect(
        &service, &LaunchAtLoginService::statusDescriptionChanged, [&](const QString& value) { order.append(value); });
    login->current = LoginItemStatus::enabled;
    service.refresh();
    EXPECT_EQ(order, (QStringList { "true", "Enabled" }));
}

TEST(LaunchAtLoginService, ChangeAwaitingApprovalShowsItWithoutError)
{
    auto login = std::make_shared<ScriptedLoginItem>();
    login->afterChange = LoginItemStatus::requiresApproval;
    LaunchAtLoginService service(login);
    service.setLastError("old failure");
    service.setEnabled(true);
    EXPECT_FALSE(service.isEnabled());
    EXPECT_EQ(service.statusDescription(), "Requires approval in Login Items");
    EXPECT_EQ(service.lastError(), "");
}

TEST(LaunchAtLoginService, FailedChangeKeepsStatusAndShowsErrorUntilNextSuccess)
{
    auto login = std::make_shared<ScriptedLoginItem>();
    login->current = LoginItemStatus::enabled;
    login->failure = "Could not remove the entry";
    LaunchAtLoginService service(login);
    service.setEnabled(false);
    EXPECT_TRUE(service.isEnabled());
    EXPECT_EQ(service.statusDescription(), "Enabled");
    EXPECT_EQ(service.lastError(), "Could not remove the entry");

    service.refresh();
    EXPECT_EQ(service.lastError(), "Could not remove the entry") << "refresh leaves the error alone";

    login->failure.clear();
    login->afterChange = LoginItemStatus::notRegistered;
    service.setEnabled(false);
    EXPECT_EQ(service.lastError(), "");
    EXPECT_EQ(service.statusDescription(), "Disabled");
}

TEST_F(AutostartTest, ServiceOverTheAutostartEntry)
{
    auto login = std::make_shared<XdgAutostartLoginItem>(autostartDir(), m_executable);
    LaunchAtLoginService service(login);
    EXPECT_EQ(service.statusDescription(), "Disabled");
    service.setEnabled(true);
    EXPECT_TRUE(service.isEnabled());
    EXPECT_EQ(service.statusDescription(), "Enabled");
    EXPECT_TRUE(QFile::exists(autostartDir() + "/tessvale.desktop"));

    // A fresh service starts from "Disabled" and reads the entry at once.
    auto second = std::make_shared<XdgAutostartLoginItem>(autostartDir(), m_executable);
    LaunchAtLoginService reopened(second);
    EXPECT_TRUE(reopened.isEnabled());
    service.setEnabled(false);
    EXPECT_EQ(service.statusDescription(), "Disabled");
}
