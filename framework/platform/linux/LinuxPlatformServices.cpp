#include "platform/PlatformServices.h"

#include "base/Logging.h"
#include "platform/SyntheticInputTracker.h"
#include "platform/linux/audio/LinuxAudioSystem.h"
#include "platform/linux/auth/LibsecretSecretStore.h"
#include "platform/linux/focus/AtspiAccessibility.h"
#include "platform/linux/focus/EwmhWindowSystem.h"
#include "platform/linux/insertion/QtClipboard.h"
#include "platform/linux/insertion/XTestInputInjector.h"
#include "platform/linux/shortcuts/X11KeyCodeTranslator.h"
#include "platform/linux/shortcuts/X11KeyGrabber.h"
#include "platform/linux/shortcuts/X11KeySource.h"
#include "platform/linux/shortcuts/X11SessionInputProbe.h"
#include "platform/linux/system/NetworkEnvelopeTransport.h"
#include "platform/linux/system/PortalColorScheme.h"
#include "platform/linux/system/PulseMicrophoneAuthorizer.h"
#include "platform/linux/system/X11AccessibilityTrust.h"
#include "platform/linux/system/XdgAutostartLoginItem.h"
#include "platform/linux/system/XdgSystemSettingsOpener.h"
#include "platform/linux/system/XdgUrlOpener.h"

namespace tessvale {

PlatformServices makePlatformServices(const QStringList& launchEnvironment)
{
    PlatformServices services;
    services.syntheticInput = std::make_shared<SyntheticInputTracker>();
    const auto audio = std::make_shared<LinuxAudioSystem>();
    services.audio = audio;
    services.secrets = std::make_shared<LibsecretSecretStore>();
    services.windows = std::make_shared<EwmhWindowSystem>();
    services.accessibility = std::make_shared<AtspiAccessibility>();
    services.accessibilityTrust = std::make_shared<X11AccessibilityTrust>();
    services.clipboard = std::make_shared<QtClipboard>();
    services.injector = std::make_shared<XTestInputInjector>(services.syntheticInput);
    services.sessionInput = std::make_shared<X11SessionInputProbe>();
    services.microphone = std::make_shared<PulseMicrophoneAuthorizer>(audio->server());
    services.settingsOpener = std::make_shared<XdgSystemSettingsOpener>();
    services.urlOpener = std::make_shared<XdgUrlOpener>();
    services.loginItems = std::make_shared<XdgAutostartLoginItem>(launchEnvironment);
    services.envelopeTransport = std::make_shared<NetworkEnvelopeTransport>();
    services.colorScheme = std::make_shared<PortalColorScheme>();
    services.keyCodes = std::make_shared<X11KeyCodeTranslator>();
    services.makeKeySource = [] { return std::make_unique<X11KeySource>(); };
    services.makeKeyGrabber = [] { return std::make_unique<X11KeyGrabber>(); };
    services.makeSessionInputProbe = [] { return std::make_unique<X11SessionInputProbe>(); };

    QString reason;
    if (services.accessibilityTrust->isTrusted(&reason))
        qCInfo(lcPlatform) << "platform: X11 (XInput2, XTest, EWMH), AT-SPI, PulseAudio, Secret Service, XDG autostart";
    else
        qCInfo(lcPlatform).noquote() << QStringLiteral("platform: X11 backends without keyboard access (") + reason
                + QStringLiteral("), AT-SPI, PulseAudio, Secret Service, XDG autostart");
    return services;
}

} // namespace tessvale
