#include "platform/linux/system/PortalColorScheme.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "base/Logging.h"

namespace tessvale {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kColorScheme = QStringLiteral("color-scheme");
// A portal that does not answer within this leaves the GTK preference in place.
constexpr int kReadTimeoutMs = 2000;

QString gtkSettingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/gtk-3.0/settings.ini");
}

// The portal's Read wraps the value in a second variant.
uint unwrapped(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    bool ok = false;
    const uint result = value.toUInt(&ok);
    return ok ? result : 0;
}

} // namespace

PortalColorScheme::PortalColorScheme()
{
    // What the GTK settings say holds until (unless) the portal answers.
    useGtkSettings();
    connect(&m_gtkWatcher, &QFileSystemWatcher::fileChanged, this, [this] {
        if (!m_portalAnswered)
            useGtkSettings();
    });
    connect(&m_gtkWatcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (!m_portalAnswered)
            useGtkSettings();
    });

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCInfo(lcPlatform) << "color scheme: no session bus; following the GTK settings";
        return;
    }
    if (!bus.connect(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"), this,
            SLOT(settingChanged(QDBusMessage))))
        qCWarning(lcPlatform).noquote() << "color scheme: cannot follow the settings portal:"
                                        << bus.lastError().message();
    QDBusMessage read
        = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("Read"));
    read << kAppearance << kColorScheme;
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(read, kReadTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, &PortalColorScheme::readReplied);
}

PortalColorScheme::~PortalColorScheme() = default;

void PortalColorScheme::watch(std::function<void(Preference)> onChange)
{
    m_onChange = std::move(onChange);
}

PortalColorScheme::Preference PortalColorScheme::fromPortalValue(uint value)
{
    switch (value) {
    case 1:
        return Preference::dark;
    case 2:
        return Preference::light;
    default:
        return Preference::none;
    }
}

PortalColorScheme::Preference PortalColorScheme::fromGtkSettings(const QString& settingsText)
{
    Preference result = Preference::none;
    bool inSettings = false;
    for (QString line : settingsText.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inSettings = line == QStringLiteral("[Settings]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inSettings || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed().toLower();
        if (key == QStringLiteral("gtk-application-prefer-dark-theme")) {
            if (value == QStringLiteral("1") || value == QStringLiteral("true"))
                return Preference::dark;
            result = Preference::light;
        } else if (key == QStringLiteral("gtk-theme-name") && value.endsWith(QStringLiteral("-dark"))) {
            result = Preference::dark;
        }
    }
    return result;
}

void PortalColorScheme::settingChanged(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() != 3 || arguments[0].toString() != kAppearance || arguments[1].toString() != kColorScheme)
        return;
    m_portalAnswered = true;
    setPreference(fromPortalValue(unwrapped(arguments[2])));
}

void PortalColorScheme::readReplied(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *call;
    if (reply.isError()) {
        qCInfo(lcPlatform).noquote() << QStringLiteral("color scheme: the settings portal did not answer (")
                + reply.error().message() + QStringLiteral("); following the GTK settings");
        return;
    }
    m_portalAnswered = true;
    setPreference(fromPortalValue(unwrapped(reply.value().variant())));
}

void PortalColorScheme::useGtkSettings()
{
    const QString path = gtkSettingsPath();
    // The file may come later; its folder is watched for it.
    const QString folder = QFileInfo(path).absolutePath();
    if (QDir(folder).exists() && !m_gtkWatcher.directories().contains(folder))
        m_gtkWatcher.addPath(folder);
    if (QFile::exists(path) && !m_gtkWatcher.files().contains(path))
        m_gtkWatcher.addPath(path);
    Preference preference = Preference::none;
    const QString theme = qEnvironmentVariable("GTK_THEME").toLower();
    if (theme.endsWith(QStringLiteral(":dark")) || theme.endsWith(QStringLiteral("-dark"))) {
        preference = Preference::dark;
    } else {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            preference = fromGtkSettings(QString::fromUtf8(file.readAll()));
    }
    setPreference(preference);
}

void PortalColorScheme::setPreference(Preference preference)
{
    if (preference == m_preference)
        return;
    m_preference = preference;
    if (m_onChange)
        m_onChange(preference);
}

} // namespace tessvale
