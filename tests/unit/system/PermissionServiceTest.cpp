#include <gtest/gtest.h>

#include <QStringList>

#include <qcoro/qcorotask.h>

#include "platform/linux/system/XdgSystemSettingsOpener.h"
#include "platform/system/AccessibilityTrust.h"
#include "platform/system/SystemSettingsOpener.h"
#include "system/PermissionService.h"

using namespace tessvale;

namespace {

struct Calls
{
    int prompts = 0;
    QList<QUrl> openedUrls;
};

QCoro::Task<bool> answer(bool grant)
{
    co_return grant;
}

PermissionService serviceWith(MicrophoneAuthorizationStatus microphone, bool trusted, Calls* calls, bool grant = true)
{
    PermissionService::Operations operations;
    operations.microphoneAuthorizationStatus = [microphone] { return microphone; };
    operations.accessibilityIsTrusted = [trusted] { return trusted; };
    operations.requestMicrophoneAccessHandler = [grant] { return answer(grant); };
    operations.promptForAccessibilityHandler = [calls] { ++calls->prompts; };
    operations.openURLHandler = [calls](const QUrl& url) { calls->openedUrls.append(url); };
    return PermissionService(std::move(operations));
}

class RecordingSettingsOpener : public SystemSettingsOpener
{
public:
    PlatformResult openSoundSettings() override
    {
        opened.append(QStringLiteral("sound"));
        return PlatformResult::ok();
    }
    PlatformResult openAccessibilitySettings() override
    {
        opened.append(QStringLiteral("accessibility"));
        return PlatformResult::ok();
    }
    PlatformResult openUrl(const QUrl& url) override
    {
        opened.append(url.toString());
        return PlatformResult::ok();
    }
    QStringList opened;
};

class FixedMicrophone : public MicrophoneAuthorizer
{
public:
    MicrophoneAuthorizationStatus check(QString*) override
    {
        ++checks;
        return MicrophoneAuthorizationStatus::authorized;
    }
    MicrophoneAuthorizationStatus lastStatus() const override { return MicrophoneAuthorizationStatus::notDetermined; }
    int checks = 0;
};

} // namespace

TEST(PermissionState, RawValuesRoundTripAndOtherTextsYieldNoValue)
{
    for (PermissionState state :
        { PermissionState::notDetermined, PermissionState::denied, PermissionState::authorized })
        EXPECT_EQ(permissionStateFromRawValue(rawValue(state)), state);
    EXPECT_EQ(rawValue(PermissionState::notDetermined), "notDetermined");
    EXPECT_EQ(rawValue(PermissionState::denied), "denied");
    EXPECT_EQ(rawValue(PermissionState::authorized), "authorized");
    EXPECT_FALSE(permissionStateFromRawValue("Authorized").has_value());
    EXPECT_FALSE(permissionStateFromRawValue("").has_value());
}

TEST(PermissionSnapshot, EqualExactlyWhenBothFieldsAreEqual)
{
    const PermissionSnapshot a { PermissionState::authorized, PermissionState::denied };
    EXPECT_EQ(a, (PermissionSnapshot { PermissionState::authorized, PermissionState::denied }));
    EXPECT_NE(a, (PermissionSnapshot { PermissionState::denied, PermissionState::denied }));
    EXPECT_NE(a, (PermissionSnapshot { PermissionState::authorized, PermissionState::authorized }));
}

TEST(PermissionService, MapsEveryMicrophoneStatus)
{
    Calls calls;
    EXPECT_EQ(serviceWith(MicrophoneAuthorizationStatus::authorized, true, &calls).microphoneState(),
        PermissionState::authorized);
    EXPECT_EQ(serviceWith(MicrophoneAuthorizationStatus::notDetermined, true, &calls).microphoneState(),
        PermissionState::notDetermined);
    EXPECT_EQ(
        serviceWith(MicrophoneAuthorizationStatus::denied, true, &calls).microphoneState(), PermissionState::denied);
    EXPECT_EQ(serviceWith(MicrophoneAuthorizationStatus::restricted, true, &calls).microphoneState(),
        PermissionState::denied);
}

TEST(PermissionService, UntrustedProcessIsDeniedNeverNotDetermined)
{
    Calls calls;
    EXPECT_EQ(serviceWith(MicrophoneAuthorizationStatus::notDetermined, false, &calls).accessibilityState(),
        PermissionState::denied);
    EXPECT_EQ(serviceWith(MicrophoneAuthorizationStatus::notDetermined, true, &calls).accessibilityState(),
        PermissionState::authorized);
}

TEST(PermissionService, SnapshotReadsMicrophoneThenAccessibility)
{
    QStringList order;
    PermissionService::Operations operations;
    operations.microphoneAuthorizationStatus = [&order] {
        order.append("microphone");
        return MicrophoneAuthorizationStatus::restricted;
    };
    operations.accessibilityIsTrusted = [&order] {
        order.append("accessibility");
        return true;
    };
    const PermissionService service(std::move(operations));
    EXPECT_EQ(service.currentSnapshot(), (PermissionSnapshot { PermissionState::denied, PermissionState::authorized }));
    EXPECT_EQ(order, (QStringList { "microphone", "accessibility" }));
}

TEST(PermissionService, PromptsOnlyWhenNotTrusted)
{
    Calls trustedCalls;
    serviceWith(MicrophoneAuthorizationStatus::authorized, true, &trustedCalls).promptForAccessibilityIfNeeded();
    EXPECT_EQ(trustedCalls.prompts, 0);
    Calls untrustedCalls;
    serviceWith(MicrophoneAuthorizationStatus::authorized, false, &untrustedCalls).promptForAccessibilityIfNeeded();
    EXPECT_EQ(untrustedCalls.prompts, 1);
}

TEST(PermissionService, RequestReturnsWhatTheHandlerGrants)
{
    Calls calls;
    const PermissionService granting = serviceWith(MicrophoneAuthorizationStatus::notDetermined, true, &calls, true);
    const PermissionService refusing = serviceWith(MicrophoneAuthorizationStatus::notDetermined, true, &calls, false);
    EXPECT_TRUE(QCoro::waitFor(granting.requestMicrophoneAccess()));
    EXPECT_FALSE(QCoro::waitFor(refusing.requestMicrophoneAccess()));
}

TEST(PermissionService, OpensTheMicrophonePrivacyPaneUrl)
{
    Calls calls;
    serviceWith(MicrophoneAuthorizationStatus::denied, true, &calls).openMicrophonePrivacySettings();
    ASSERT_EQ(calls.openedUrls.size(), 1);
    EXPECT_EQ(
        calls.openedUrls[0].toString(), "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone");
}

namespace {

struct FlippingTrust final : AccessibilityTrust
{
    bool trusted = false;
    bool isTrusted(QString* reason) override
    {
        if (reason && !trusted)
            *reason = QStringLiteral("no X server");
        return trusted;
    }
};

} // namespace

TEST(PermissionServiceSystemOperations, PrivacyPaneOpensSoundSettingsAndPromptOpensAccessibility)
{
    auto settings = std::make_shared<RecordingSettingsOpener>();
    auto microphone = std::make_shared<FixedMicrophone>();
    auto trust = std::make_shared<FlippingTrust>();
    const PermissionService service(PermissionService::systemOperations(microphone, settings, trust));
    service.openMicrophonePrivacySettings();
    service.promptForAccessibilityHandler();
    service.openURLHandler(QUrl("https://tessvale.example/help"));
    EXPECT_EQ(settings->opened, (QStringList { "sound", "accessibility", "https://tessvale.example/help" }));
    EXPECT_EQ(service.microphoneState(), PermissionState::authorized);
    EXPECT_TRUE(QCoro::waitFor(service.requestMicrophoneAccess()));
    EXPECT_EQ(microphone->checks, 2);

    // Trust is asked afresh each time, so the row follows the session as it changes.
    EXPECT_EQ(service.accessibilityState(), PermissionState::denied);
    trust->trusted = true;
    EXPECT_EQ(service.accessibilityState(), PermissionState::authorized);
}

namespace {

struct Launched
{
    QStringList commands;
};

XdgSystemSettingsOpener openerFor(const QString& desktop, const QStringList& installed, Launched* launched)
{
    return XdgSystemSettingsOpener(XdgSystemSettingsOpener::Environment {
        desktop,
        [installed](const QString& program) { return installed.contains(program) ? "/usr/bin/" + program : QString(); },
        [launched](const QString& program, const QStringList& arguments) {
            launched->commands.append((QStringList { program } + arguments).join(' '));
            return true;
        },
    });
}

} // namespace

TEST(XdgSystemSettingsOpener, UsesTheRunningDesktopsPanels)
{
    Launched launched;
    XdgSystemSettingsOpener gnome = openerFor("ubuntu:GNOME", { "gnome-control-center", "pavucontrol" }, &launched);
    EXPECT_TRUE(gnome.openSoundSettings());
    EXPECT_TRUE(gnome.openAccessibilitySettings());
    XdgSystemSettingsOpener kde = openerFor("KDE", { "systemsettings5" }, &launched);
    EXPECT_TRUE(kde.openSoundSettings());
    EXPECT_EQ(launched.commands,
        (QStringList { "/usr/bin/gnome-control-center sound", "/usr/bin/gnome-control-center universal-access",
            "/usr/bin/systemsettings5 kcm_pulseaudio" }));
}

TEST(XdgSystemSettingsOpener, UnknownDesktopFallsBackToAMixerOrOpensNothing)
{
    Launched launched;
    XdgSystemSettingsOpener withMixer = openerFor("", { "pavucontrol" }, &launched);
    EXPECT_TRUE(withMixer.openSoundSettings());
    EXPECT_FALSE(withMixer.openAccessibilitySettings());
    XdgSystemSettingsOpener bare = openerFor("openbox", {}, &launched);
    EXPECT_FALSE(bare.openSoundSettings());
    EXPECT_FALSE(bare.openUrl(QUrl("https://tessvale.example")));
    EXPECT_EQ(launched.commands, QStringList { "/usr/bin/pavucontrol" });
}
