#include "settings/AppSettings.h"

#include <QFile>
#include <QSysInfo>

#include "base/Logging.h"
#include "cloud/CloudEndpoints.h"

namespace tessvale {

namespace {

QString text(QLatin1StringView view)
{
    return QString(view);
}

std::optional<QUrl> originURL(const QUrl& origin)
{
    return origin.isValid() ? AppSettings::urlFromConfiguredOrigin(origin.toString()) : std::nullopt;
}

const char* roleKeyName(DictationShortcutRole role)
{
    return role == DictationShortcutRole::pushToTalk ? "pushToTalkShortcut" : "handsFreeToggleShortcut";
}

} // namespace

QString AppSettings::rawValue(LaunchReadinessState state)
{
    switch (state) {
    case LaunchReadinessState::notStarted:
        return QStringLiteral("notStarted");
    case LaunchReadinessState::inProgress:
        return QStringLiteral("inProgress");
    case LaunchReadinessState::completed:
        return QStringLiteral("completed");
    case LaunchReadinessState::dismissed:
        return QStringLiteral("dismissed");
    }
    return {};
}

std::optional<AppSettings::LaunchReadinessState> AppSettings::launchReadinessStateFromRawValue(QStringView rawValue)
{
    for (LaunchReadinessState state : { LaunchReadinessState::notStarted, LaunchReadinessState::inProgress,
             LaunchReadinessState::completed, LaunchReadinessState::dismissed }) {
        if (rawValue == AppSettings::rawValue(state))
            return state;
    }
    return std::nullopt;
}

AppSettings::AppSettings(std::shared_ptr<UserDefaults> defaults, QObject* parent)
    : AppSettings(std::move(defaults), &AppSettings::localizedHostName, parent)
{
}

AppSettings::AppSettings(std::shared_ptr<UserDefaults> defaults, HostNameProvider hostName, QObject* parent)
    : QObject(parent)
    , m_defaults(std::move(defaults))
{
    Q_ASSERT(m_defaults);
    m_defaults->setProblemObserver([this] { emit storeProblemChanged(m_defaults->problem()); });
    load(hostName);
    normalizeCloudBaseURL();
    normalizeShortcutBindings();
}

AppSettings::~AppSettings()
{
    m_defaults->setProblemObserver({});
}

std::optional<QString> AppSettings::localizedHostName()
{
    QFile machineInfo(QStringLiteral("/etc/machine-info"));
    if (machineInfo.open(QIODevice::ReadOnly | QIODevice::Text)) {
        while (!machineInfo.atEnd()) {
            const QString line = QString::fromUtf8(machineInfo.readLine()).trimmed();
            if (!line.startsWith(QLatin1StringView("PRETTY_HOSTNAME=")))
                continue;
            QString name = line.mid(int(qstrlen("PRETTY_HOSTNAME=")));
            if (name.size() >= 2 && (name.startsWith(u'"') || name.startsWith(u'\'')) && name.endsWith(name.front()))
                name = name.mid(1, name.size() - 2);
            if (!name.isEmpty())
                return name;
        }
    }
    const QString hostName = QSysInfo::machineHostName();
    if (hostName.isEmpty())
        return std::nullopt;
    return hostName;
}

// Straight into storage: nothing is published or written here.
void AppSettings::load(const HostNameProvider& hostName)
{
    m_cloudBaseURL = m_defaults->string(text(baseURLKey)).value_or(text(defaultCloudBaseURL));
    m_email = m_defaults->string(text(emailKey)).value_or(QString());
    if (const std::optional<QString> stored = m_defaults->string(text(deviceNameKey))) {
        m_deviceName = *stored;
    } else {
        const std::optional<QString> host = hostName ? hostName() : std::nullopt;
        m_deviceName = host && !host->isEmpty() ? *host : text(fallbackDeviceName);
    }
    m_restoreClipboard = m_defaults->boolean(text(restoreClipboardKey)).value_or(true);
    m_appendTrailingSpace = m_defaults->boolean(text(appendTrailingSpaceKey)).value_or(false);
    m_restoreOriginalInputAfterDictation
        = m_defaults->boolean(text(restoreOriginalInputAfterDictationKey)).value_or(true);
    m_preferDirectTyping = m_defaults->boolean(text(preferDirectTypingKey)).value_or(false);
    m_pushToTalkShortcut = decodeShortcutBinding(pushToTalkShortcutKey, ShortcutBinding::defaultPushToTalk);
    m_handsFreeToggleShortcut
        = decodeShortcutBinding(handsFreeToggleShortcutKey, ShortcutBinding::defaultHandsFreeToggle);
    m_preferredMicrophoneUID = m_defaults->string(text(preferredMicrophoneUIDKey)).value_or(QString());
}

// A custom origin stored by an earlier version never survives a start.
void AppSettings::normalizeCloudBaseURL()
{
    setCloudBaseURL(text(defaultCloudBaseURL));
}

void AppSettings::normalizeShortcutBindings()
{
    for (DictationShortcutRole role : { DictationShortcutRole::pushToTalk, DictationShortcutRole::handsFreeToggle }) {
        const ShortcutBinding loaded = shortcutStorage(role);
        if (const std::optional<QString> error = loaded.validationError(role)) {
            qCInfo(lcSettings).noquote() << QStringLiteral("Stored %1 binding %2 is not usable (%3); using the default")
                                                .arg(QLatin1StringView(roleKeyName(role)),
                                                    QString::fromUtf8(loaded.toJson()), *error);
            storeShortcutBinding(role, defaultBinding(role));
        } else {
            storeShortcutBinding(role, loaded);
        }
    }
}

template <typename T> void AppSettings::publish(T& storage, const T& value, void (AppSettings::*changed)(const T&))
{
    emit objectWillChange();
    storage = value;
    // A copy: a subscriber may assign again while the signal is being delivered.
    const T published = storage;
    emit(this->*changed)(published);
}

void AppSettings::publish(bool& storage, bool value, void (AppSettings::*changed)(bool))
{
    emit objectWillChange();
    storage = value;
    emit(this->*changed)(value);
}

void AppSettings::setText(
    QString& storage, const QString& value, QLatin1StringView key, void (AppSettings::*changed)(const QString&))
{
    publish(storage, value, changed);
    m_defaults->setString(text(key), storage);
}

void AppSettings::setFlag(bool& storage, bool value, QLatin1StringView key, void (AppSettings::*changed)(bool))
{
    publish(storage, value, changed);
    m_defaults->setBool(text(key), storage);
}

void AppSettings::setCloudBaseURL(const QString& value)
{
    setText(m_cloudBaseURL, value, baseURLKey, &AppSettings::cloudBaseURLChanged);
}

void AppSettings::setEmail(const QString& value)
{
    setText(m_email, value, emailKey, &AppSettings::emailChanged);
}

void AppSettings::setDeviceName(const QString& value)
{
    setText(m_deviceName, value, deviceNameKey, &AppSettings::deviceNameChanged);
}

void AppSettings::setRestoreClipboard(bool value)
{
    setFlag(m_restoreClipboard, value, restoreClipboardKey, &AppSettings::restoreClipboardChanged);
}

void AppSettings::setAppendTrailingSpace(bool value)
{
    setFlag(m_appendTrailingSpace, value, appendTrailingSpaceKey, &AppSettings::appendTrailingSpaceChanged);
}

void AppSettings::setRestoreOriginalInputAfterDictation(bool value)
{
    setFlag(m_restoreOriginalInputAfterDictation, value, restoreOriginalInputAfterDictationKey,
        &AppSettings::restoreOriginalInputAfterDictationChanged);
}

void AppSettings::setPreferDirectTyping(bool value)
{
    setFlag(m_preferDirectTyping, value, preferDirectTypingKey, &AppSettings::preferDirectTypingChanged);
}

void AppSettings::setPreferredMicrophoneUID(const QString& value)
{
    setText(m_preferredMicrophoneUID, value, preferredMicrophoneUIDKey, &AppSettings::preferredMicrophoneUIDChanged);
}

void AppSettings::setPushToTalkShortcut(const ShortcutBinding& value)
{
    assignShortcutBinding(DictationShortcutRole::pushToTalk, value);
}

void AppSettings::setHandsFreeToggleShortcut(const ShortcutBinding& value)
{
    assignShortcutBinding(DictationShortcutRole::handsFreeToggle, value);
}

ShortcutBinding AppSettings::defaultBinding(DictationShortcutRole role)
{
    return role == DictationShortcutRole::pushToTalk ? ShortcutBinding::defaultPushToTalk
                                                     : ShortcutBinding::defaultHandsFreeToggle;
}

ShortcutBinding& AppSettings::shortcutStorage(DictationShortcutRole role)
{
    return role == DictationShortcutRole::pushToTalk ? m_pushToTalkShortcut : m_handsFreeToggleShortcut;
}

// An outside assignment: the value is published as given, then validated; the result (the value, or
// the previous valid binding, or the role's default) is published and written, and written again.
// The store's own re-assignment goes through storeShortcutBinding, so a subscriber that assigns while
// a signal is delivered is still validated.
void AppSettings::assignShortcutBinding(DictationShortcutRole role, const ShortcutBinding& value)
{
    const ShortcutBinding previous = shortcutStorage(role);
    const ShortcutBinding fallback = previous.validationError(role) ? defaultBinding(role) : previous;
    if (role == DictationShortcutRole::pushToTalk)
        publish(m_pushToTalkShortcut, value, &AppSettings::pushToTalkShortcutChanged);
    else
        publish(m_handsFreeToggleShortcut, value, &AppSettings::handsFreeToggleShortcutChanged);

    const ShortcutBinding current = shortcutStorage(role);
    if (const std::optional<QString> error = current.validationError(role)) {
        qCInfo(lcSettings).noquote() << QStringLiteral("Rejected %1 binding %2: %3")
                                            .arg(QLatin1StringView(roleKeyName(role)),
                                                QString::fromUtf8(current.toJson()), *error);
        storeShortcutBinding(role, fallback);
    } else {
        storeShortcutBinding(role, current);
    }
    persistShortcutBinding(shortcutStorage(role),
        role == DictationShortcutRole::pushToTalk ? pushToTalkShortcutKey : handsFreeToggleShortcutKey);
}

void AppSettings::storeShortcutBinding(DictationShortcutRole role, const ShortcutBinding& value)
{
    if (role == DictationShortcutRole::pushToTalk) {
        publish(m_pushToTalkShortcut, value, &AppSettings::pushToTalkShortcutChanged);
        persistShortcutBinding(m_pushToTalkShortcut, pushToTalkShortcutKey);
    } else {
        publish(m_handsFreeToggleShortcut, value, &AppSettings::handsFreeToggleShortcutChanged);
        persistShortcutBinding(m_handsFreeToggleShortcut, handsFreeToggleShortcutKey);
    }
}

void AppSettings::persistShortcutBinding(const ShortcutBinding& binding, QLatin1StringView key)
{
    m_defaults->setData(text(key), binding.toJson());
}

ShortcutBinding AppSettings::decodeShortcutBinding(QLatin1StringView key, const ShortcutBinding& fallback) const
{
    const std::optional<QByteArray> stored = m_defaults->data(text(key));
    if (!stored)
        return fallback;
    QString error;
    if (std::optional<ShortcutBinding> binding = ShortcutBinding::fromJson(*stored, &error))
        return *binding;
    qCInfo(lcSettings).noquote() << QStringLiteral("Stored %1 cannot be read (%2); using the default").arg(key, error);
    return fallback;
}

void AppSettings::resetShortcutDefaults()
{
    setPushToTalkShortcut(ShortcutBinding::defaultPushToTalk);
    setHandsFreeToggleShortcut(ShortcutBinding::defaultHandsFreeToggle);
}

std::optional<QUrl> AppSettings::urlFromConfiguredOrigin(const QString& origin)
{
    const QString trimmed = origin.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

// The origins come from the running configuration, so a local service can stand in for the cloud;
// an override is held to the same trimming and strict parse as the compiled-in text.
std::optional<QUrl> AppSettings::normalizedBaseURL() const
{
    return originURL(CloudEndpoints::configured().webOrigin);
}

std::optional<QUrl> AppSettings::clientAPIBaseURL() const
{
    return originURL(CloudEndpoints::configured().restOrigin);
}

std::optional<NativeAuthEndpointConfig> AppSettings::nativeAuthEndpointConfig() const
{
    const CloudEndpoints endpoints = CloudEndpoints::configured();
    const std::optional<QUrl> apiBaseURL = originURL(endpoints.restOrigin);
    if (!apiBaseURL)
        return std::nullopt;
    // The authorization host is the web origin's text, scheme included.
    return NativeAuthEndpointConfig { *apiBaseURL, endpoints.webOrigin.toString() };
}

bool AppSettings::shouldPresentInitialSetup() const
{
    return m_defaults->boolean(text(hasPresentedInitialSetupKey)) != std::optional<bool>(true);
}

void AppSettings::markInitialSetupPresented()
{
    m_defaults->setBool(text(hasPresentedInitialSetupKey), true);
}

std::optional<QString> AppSettings::normalizedAccountKey(const std::optional<QString>& accountKey)
{
    if (!accountKey)
        return std::nullopt;
    const QString normalized = accountKey->trimmed().toLower();
    if (normalized.isEmpty())
        return std::nullopt;
    return normalized;
}

// The record as stored. Entries that are not text are kept (and written back untouched) but read as
// no state, so one unreadable entry never costs the other accounts theirs.
QVariantMap AppSettings::readLaunchReadinessStates() const
{
    return m_defaults->dictionary(text(launchReadinessStatesKey)).value_or(QVariantMap());
}

AppSettings::LaunchReadinessState AppSettings::launchReadinessState(const std::optional<QString>& accountKey) const
{
    const std::optional<QString> key = normalizedAccountKey(accountKey);
    if (!key)
        return LaunchReadinessState::notStarted;
    const QVariant entry = readLaunchReadinessStates().value(*key);
    if (entry.typeId() != QMetaType::QString)
        return LaunchReadinessState::notStarted;
    return launchReadinessStateFromRawValue(entry.toString()).value_or(LaunchReadinessState::notStarted);
}

void AppSettings::markLaunchReadinessCompleted(const std::optional<QString>& accountKey)
{
    const std::optional<QString> key = normalizedAccountKey(accountKey);
    if (!key)
        return;
    const LaunchReadinessState current = launchReadinessState(key);
    if (current == LaunchReadinessState::completed || current == LaunchReadinessState::dismissed)
        return;
    recordLaunchReadiness(*key, LaunchReadinessState::completed);
}

void AppSettings::dismissLaunchReadiness(const std::optional<QString>& accountKey)
{
    const std::optional<QString> key = normalizedAccountKey(accountKey);
    if (!key)
        return;
    if (launchReadinessState(key) == LaunchReadinessState::dismissed)
        return;
    recordLaunchReadiness(*key, LaunchReadinessState::dismissed);
}

void AppSettings::recordLaunchReadiness(const QString& normalizedKey, LaunchReadinessState state)
{
    QVariantMap states = readLaunchReadinessStates();
    states.insert(normalizedKey, rawValue(state));
    m_defaults->setDictionary(text(launchReadinessStatesKey), states);
    emit objectWillChange();
    emit launchReadinessStatesChanged();
}

} // namespace tessvale
