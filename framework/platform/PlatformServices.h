#pragma once

#include <functional>
#include <memory>

#include <QStringList>

namespace tessvale {

class AccessibilityTrust;
class Accessibility;
class AudioSystem;
class Clipboard;
class DesktopColorScheme;
class EnvelopeTransport;
class InputInjector;
class KeyCodeTranslator;
class KeyGrabber;
class KeySource;
class LoginItemService;
class MicrophoneAuthorizer;
class SecretStore;
class SessionInputProbe;
class SyntheticInputTracker;
class SystemSettingsOpener;
class UrlOpener;
class WindowSystem;

// Every backend the logic needs, built in one place: the application's scene object builds it first
// and destroys it last, and hands each service its backends; tests build their own of fakes.
// Pieces that each owner keeps to itself (a keyboard listener, a grab) come from factories.
struct PlatformServices
{
    std::shared_ptr<AudioSystem> audio;
    std::shared_ptr<SecretStore> secrets;
    std::shared_ptr<WindowSystem> windows;
    std::shared_ptr<Accessibility> accessibility;
    std::shared_ptr<AccessibilityTrust> accessibilityTrust;
    std::shared_ptr<Clipboard> clipboard;
    std::shared_ptr<InputInjector> injector;
    std::shared_ptr<SessionInputProbe> sessionInput;
    std::shared_ptr<MicrophoneAuthorizer> microphone;
    std::shared_ptr<SystemSettingsOpener> settingsOpener;
    std::shared_ptr<UrlOpener> urlOpener;
    std::shared_ptr<LoginItemService> loginItems;
    std::shared_ptr<EnvelopeTransport> envelopeTransport;
    // The desktop's light or dark preference, which the windows follow.
    std::shared_ptr<DesktopColorScheme> colorScheme;
    // Shared by the injector and the keyboard monitors, so our own keys never start a dictation.
    std::shared_ptr<SyntheticInputTracker> syntheticInput;
    // The keyboard listener's key map, for the keys that the application's own windows receive.
    std::shared_ptr<KeyCodeTranslator> keyCodes;
    std::function<std::unique_ptr<KeySource>()> makeKeySource;
    std::function<std::unique_ptr<KeyGrabber>()> makeKeyGrabber;
    std::function<std::unique_ptr<SessionInputProbe>()> makeSessionInputProbe;
};

// The desktop's own services (X11, PulseAudio, the Secret Service, XDG); logs what it chose.
// Needs a QGuiApplication for the clipboard.
// launchEnvironment: NAME=VALUE settings the login item starts the application with.
PlatformServices makePlatformServices(const QStringList& launchEnvironment = {});

} // namespace tessvale
