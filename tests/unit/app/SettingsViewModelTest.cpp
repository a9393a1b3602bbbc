#include <gtest/gtest.h>

#include "windows/settings/SettingsViewModel.h"

using namespace tessvale;

namespace {

ClientUpdateResponse update(std::optional<QString> notes)
{
    ClientUpdateResponse response;
    response.latestVersion = QStringLiteral("2.1.0");
    response.releaseNotes = std::move(notes);
    return response;
}

} // namespace

TEST(SettingsViewModel, AccountCardFollowsSignInAndAccountRecordSeparately)
{
    struct Row
    {
        bool authenticated;
        bool hasAccount;
        bool browserOpen;
        const char* status;
        AccountDetail detail;
    };
    const Row rows[] = {
        { true, true, false, "Signed in", AccountDetail::account },
        { false, true, true, "Not signed in", AccountDetail::account },
        { false, false, true, "Not signed in", AccountDetail::waitingForBrowser },
        { true, false, false, "Signed in", AccountDetail::setupHint },
        { false, false, false, "Not signed in", AccountDetail::setupHint },
    };
    for (const Row& row : rows) {
        SettingsInput input;
        input.isAuthenticated = row.authenticated;
        if (row.hasAccount) {
            input.accountEmail = QStringLiteral("ada@example.com");
            input.accountDeviceName = QStringLiteral("Desk");
        }
        input.browserSignInOpen = row.browserOpen;
        const SettingsContent content = settingsContent(input);
        EXPECT_EQ(content.accountStatus, QLatin1String(row.status));
        EXPECT_EQ(content.accountDetail, row.detail) << row.status << row.hasAccount << row.browserOpen;
        EXPECT_EQ(content.accountEmail, row.hasAccount ? QStringLiteral("ada@example.com") : QString());
    }
}

TEST(SettingsViewModel, UpdateSectionForEveryState)
{
    struct Row
    {
        AppUpdateState state;
        const char* latest; // null: no "Latest" row
        const char* status;
        const char* notes;
        bool download;
        const char* button;
    };
    const Row rows[] = {
        { AppUpdateState::idle(), nullptr, "Check whether a new version is available.", "", false,
            "Check for Updates" },
        { AppUpdateState::checking(), nullptr, "Checking for updates...", "", false, "Checking..." },
        { AppUpdateState::upToDate(update(QStringLiteral("ignored"))), "2.1.0",
            "This computer is already on the latest available build.", "", false, "Check for Updates" },
        { AppUpdateState::available(update(QStringLiteral("Fixes <b>things</b>"))), "2.1.0",
            "A new version is available to download.", "Fixes <b>things</b>", true, "Check for Updates" },
        { AppUpdateState::available(update(QString())), "2.1.0", "A new version is available to download.", "", true,
            "Check for Updates" },
        { AppUpdateState::available(update(std::nullopt)), "2.1.0", "A new version is available to download.", "", true,
            "Check for Updates" },
        { AppUpdateState::failed(QStringLiteral("line one\nline two")), nullptr,
            "Update check failed: line one\nline two", "", false, "Check for Updates" },
        { AppUpdateState::unavailable(), nullptr, "Update checks are unavailable for this cloud environment.", "",
            false, "Check for Updates" },
    };
    for (const Row& row : rows) {
        SettingsInput input;
        input.appUpdateState = row.state;
        input.appVersion = QStringLiteral("1.0.0");
        const SettingsContent content = settingsContent(input);
        SCOPED_TRACE(row.status);
        EXPECT_EQ(content.installedVersion, QStringLiteral("1.0.0"));
        EXPECT_EQ(content.showsLatest, row.latest != nullptr);
        EXPECT_EQ(content.latestVersion, QString::fromUtf8(row.latest ? row.latest : ""));
        EXPECT_EQ(content.updateStatus, QString::fromUtf8(row.status));
        EXPECT_EQ(content.releaseNotes, QString::fromUtf8(row.notes));
        EXPECT_EQ(content.showsDownloadButton, row.download);
        EXPECT_EQ(content.checkButtonTitle, QString::fromUtf8(row.button));
        EXPECT_EQ(content.checkButtonEnabled, row.state.updateCase() != AppUpdateState::Case::checking);
    }
}

TEST(SettingsViewModel, MicrophoneOptionsKeepTheStoredDeviceEvenWhenUnplugged)
{
    SettingsInput input;
    EXPECT_EQ(settingsContent(input).microphoneOptions,
        (QList<PickerOption> { { QStringLiteral("Default microphone"), QString() } }));
    EXPECT_EQ(settingsContent(input).microphoneSelection, QString());

    input.availableInputDevices = { { QStringLiteral("mic-a"), QStringLiteral("Built-in") },
        { QStringLiteral("mic-b"), QStringLiteral("USB") } };
    input.preferredMicrophoneUID = QStringLiteral("mic-gone");
    const SettingsContent content = settingsContent(input);
    EXPECT_EQ(content.microphoneOptions,
        (QList<PickerOption> { { QStringLiteral("Default microphone"), QString() },
            { QStringLiteral("Built-in"), QStringLiteral("mic-a") },
            { QStringLiteral("USB"), QStringLiteral("mic-b") } }));
    // No option is made up for it, and the selection stays the stored identity.
    EXPECT_EQ(content.microphoneSelection, QStringLiteral("mic-gone"));
}

TEST(SettingsViewModel, AdvancedSectionTexts)
{
    SettingsInput input;
    EXPECT_EQ(settingsContent(input).focusedApp, QStringLiteral("Unavailable"));
    EXPECT_EQ(settingsContent(input).microphonePermission, QStringLiteral("Not Determined"));
    input.permissionSnapshot = { PermissionState::denied, PermissionState::authorized };
    input.focusedAppSummary = QStringLiteral("Editor (text field)");
    const SettingsContent content = settingsContent(input);
    EXPECT_EQ(content.microphonePermission, QStringLiteral("Denied"));
    EXPECT_EQ(content.accessibilityPermission, QStringLiteral("Authorized"));
    EXPECT_EQ(content.focusedApp, QStringLiteral("Editor (text field)"));
}
