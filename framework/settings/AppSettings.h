#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QLatin1StringView>
#include <QObject>
#include <QString>
#include <QUrl>

#include "TessvaleConfig.h"
#include "settings/NativeAuthEndpointConfig.h"
#include "settings/ShortcutBinding.h"
#include "settings/UserDefaults.h"

namespace tessvale {

// The one store of the user's preferences. Loads every preference once at construction, publishes each
// as a property with a change signal (emitted on every assignment, also of an unchanged value), and
// writes a preference back to its own key the moment it is assigned. The two shortcut bindings are
// validated for their role: an invalid one is replaced by the previous valid binding or the role's
// default, so subscribers see the rejected value and then its replacement.
// Main thread only.
class AppSettings final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString cloudBaseURL READ cloudBaseURL WRITE setCloudBaseURL NOTIFY cloudBaseURLChanged)
    Q_PROPERTY(QString email READ email WRITE setEmail NOTIFY emailChanged)
    Q_PROPERTY(QString deviceName READ deviceName WRITE setDeviceName NOTIFY deviceNameChanged)
    Q_PROPERTY(bool restoreClipboard READ restoreClipboard WRITE setRestoreClipboard NOTIFY restoreClipboardChanged)
    Q_PROPERTY(bool appendTrailingSpace READ appendTrailingSpace WRITE setAppendTrailingSpace NOTIFY
            appendTrailingSpaceChanged)
    Q_PROPERTY(bool restoreOriginalInputAfterDictation READ restoreOriginalInputAfterDictation WRITE
            setRestoreOriginalInputAfterDictation NOTIFY restoreOriginalInputAfterDictationChanged)
    Q_PROPERTY(
        bool preferDirectTyping READ preferDirectTyping WRITE setPreferDirectTyping NOTIFY preferDirectTypingChanged)
    Q_PROPERTY(tessvale::ShortcutBinding pushToTalkShortcut READ pushToTalkShortcut WRITE setPushToTalkShortcut NOTIFY
            pushToTalkShortcutChanged)
    Q_PROPERTY(tessvale::ShortcutBinding handsFreeToggleShortcut READ handsFreeToggleShortcut WRITE
            setHandsFreeToggleShortcut NOTIFY handsFreeToggleShortcutChanged)
    Q_PROPERTY(QString preferredMicrophoneUID READ preferredMicrophoneUID WRITE setPreferredMicrophoneUID NOTIFY
            preferredMicrophoneUIDChanged)

public:
    enum class LaunchReadinessState {
        notStarted,
        inProgress,
        completed,
        dismissed,
    };
    Q_ENUM(LaunchReadinessState)

    static QString rawValue(LaunchReadinessState state);
    // Exactly the four raw values (case-sensitive); anything else is none.
    static std::optional<LaunchReadinessState> launchReadinessStateFromRawValue(QStringView rawValue);

    static constexpr QLatin1StringView baseURLKey { "cloudBaseURL" };
    static constexpr QLatin1StringView emailKey { "accountEmail" };
    static constexpr QLatin1StringView deviceNameKey { "deviceName" };
    static constexpr QLatin1StringView restoreClipboardKey { "restoreClipboard" };
    static constexpr QLatin1StringView appendTrailingSpaceKey { "appendTrailingSpace" };
    static constexpr QLatin1StringView restoreOriginalInputAfterDictationKey { "restoreOriginalInputAfterDictation" };
    static constexpr QLatin1StringView preferDirectTypingKey { "preferDirectTyping" };
    static constexpr QLatin1StringView pushToTalkShortcutKey { "pushToTalkShortcut" };
    static constexpr QLatin1StringView handsFreeToggleShortcutKey { "handsFreeToggleShortcut" };
    static constexpr QLatin1StringView preferredMicrophoneUIDKey { "preferredMicrophoneUID" };
    static constexpr QLatin1StringView hasPresentedInitialSetupKey { "hasPresentedInitialSetup" };
    static constexpr QLatin1StringView launchReadinessStatesKey { "launchReadinessStates" };

    // The service's web origin and REST origin are deployment configuration.
    static constexpr QLatin1StringView defaultCloudBaseURL { TESSVALE_DEFAULT_WEB_ORIGIN };
    static constexpr QLatin1StringView defaultConvexSiteBaseURL { TESSVALE_DEFAULT_REST_ORIGIN };
    static constexpr QLatin1StringView defaultAuthorizationHost { TESSVALE_DEFAULT_WEB_ORIGIN };
    static constexpr bool allowsCustomCloudBaseURL = false;
    // The device name when neither the stored value nor the host gives one.
    static constexpr QLatin1StringView fallbackDeviceName { "Tessvale on Linux" };

    // Yields the host's human-readable name, or none.
    using HostNameProvider = std::function<std::optional<QString>()>;

    explicit AppSettings(std::shared_ptr<UserDefaults> defaults, QObject* parent = nullptr);
    AppSettings(std::shared_ptr<UserDefaults> defaults, HostNameProvider hostName, QObject* parent = nullptr);
    ~AppSettings() override;

    // The pretty host name of the machine (PRETTY_HOSTNAME of /etc/machine-info), else its host name.
    static std::optional<QString> localizedHostName();

    QString cloudBaseURL() const { return m_cloudBaseURL; }
    QString email() const { return m_email; }
    QString deviceName() const { return m_deviceName; }
    bool restoreClipboard() const { return m_restoreClipboard; }
    bool appendTrailingSpace() const { return m_appendTrailingSpace; }
    bool restoreOriginalInputAfterDictation() const { return m_restoreOriginalInputAfterDictation; }
    bool preferDirectTyping() const { return m_preferDirectTyping; }
    ShortcutBinding pushToTalkShortcut() const { return m_pushToTalkShortcut; }
    ShortcutBinding handsFreeToggleShortcut() const { return m_handsFreeToggleShortcut; }
    QString preferredMicrophoneUID() const { return m_preferredMicrophoneUID; }
    // Why changes may not be kept (the store's own words for the user); empty when they are.
    QString storeProblem() const { return m_defaults->problem(); }

    void setCloudBaseURL(const QString& value);
    void setEmail(const QString& value);
    void setDeviceName(const QString& value);
    void setRestoreClipboard(bool value);
    void setAppendTrailingSpace(bool value);
    void setRestoreOriginalInputAfterDictation(bool value);
    void setPreferDirectTyping(bool value);
    void setPushToTalkShortcut(const ShortcutBinding& value);
    void setHandsFreeToggleShortcut(const ShortcutBinding& value);
    void setPreferredMicrophoneUID(const QString& value);

    // The origins of CloudEndpoints::configured() (environment overrides included), trimmed; none when
    // one does not parse. Never the stored cloudBaseURL, which keeps the compiled-in web origin.
    std::optional<QUrl> normalizedBaseURL() const;
    std::optional<QUrl> clientAPIBaseURL() const;
    std::optional<NativeAuthEndpointConfig> nativeAuthEndpointConfig() const;
    // Text trimmed of white space and line breaks, as a URL; none when empty or malformed.
    static std::optional<QUrl> urlFromConfiguredOrigin(const QString& origin);

    bool shouldPresentInitialSetup() const;
    void markInitialSetupPresented();

    // Assigns both defaults through their properties (validated, published and written).
    void resetShortcutDefaults();

    // Accounts are keyed by e-mail, trimmed and lower-cased; no key, or only white space, is no account.
    LaunchReadinessState launchReadinessState(const std::optional<QString>& accountKey) const;
    void markLaunchReadinessCompleted(const std::optional<QString>& accountKey);
    void dismissLaunchReadiness(const std::optional<QString>& accountKey);
    static std::optional<QString> normalizedAccountKey(const std::optional<QString>& accountKey);

    static ShortcutBinding defaultBinding(DictationShortcutRole role);

signals:
    // Before any published property changes, and after the launch readiness record changed.
    void objectWillChange();
    void cloudBaseURLChanged(const QString& value);
    void emailChanged(const QString& value);
    void deviceNameChanged(const QString& value);
    void restoreClipboardChanged(bool value);
    void appendTrailingSpaceChanged(bool value);
    void restoreOriginalInputAfterDictationChanged(bool value);
    void preferDirectTypingChanged(bool value);
    void pushToTalkShortcutChanged(const tessvale::ShortcutBinding& value);
    void handsFreeToggleShortcutChanged(const tessvale::ShortcutBinding& value);
    void preferredMicrophoneUIDChanged(const QString& value);
    // After a mark or dismiss wrote the readiness record.
    void launchReadinessStatesChanged();
    void storeProblemChanged(const QString& problem);

private:
    template <typename T> void publish(T& storage, const T& value, void (AppSettings::*changed)(const T&));
    void publish(bool& storage, bool value, void (AppSettings::*changed)(bool));
    void setText(
        QString& storage, const QString& value, QLatin1StringView key, void (AppSettings::*changed)(const QString&));
    void setFlag(bool& storage, bool value, QLatin1StringView key, void (AppSettings::*changed)(bool));

    void load(const HostNameProvider& hostName);
    void normalizeCloudBaseURL();
    void normalizeShortcutBindings();
    void assignShortcutBinding(DictationShortcutRole role, const ShortcutBinding& value);
    void storeShortcutBinding(DictationShortcutRole role, const ShortcutBinding& value);
    ShortcutBinding& shortcutStorage(DictationShortcutRole role);
    void persistShortcutBinding(const ShortcutBinding& binding, QLatin1StringView key);
    ShortcutBinding decodeShortcutBinding(QLatin1StringView key, const ShortcutBinding& fallback) const;

    QVariantMap readLaunchReadinessStates() const;
    void recordLaunchReadiness(const QString& normalizedKey, LaunchReadinessState state);

    std::shared_ptr<UserDefaults> m_defaults;
    QString m_cloudBaseURL;
    QString m_email;
    QString m_deviceName;
    bool m_restoreClipboard = true;
    bool m_appendTrailingSpace = false;
    bool m_restoreOriginalInputAfterDictation = true;
    bool m_preferDirectTyping = false;
    ShortcutBinding m_pushToTalkShortcut = ShortcutBinding::defaultPushToTalk;
    ShortcutBinding m_handsFreeToggleShortcut = ShortcutBinding::defaultHandsFreeToggle;
    QString m_preferredMicrophoneUID;
};

} // namespace tessvale
