#include "platform/linux/system/XdgSystemSettingsOpener.h"

#include <QProcess>
#include <QStandardPaths>

#include "base/Logging.h"

namespace tessvale {

XdgSystemSettingsOpener::XdgSystemSettingsOpener()
    : XdgSystemSettingsOpener(Environment {
        qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
        [](const QString& program) { return QStandardPaths::findExecutable(program); },
        [](const QString& program, const QStringList& arguments) {
            return QProcess::startDetached(program, arguments);
        },
    })
{
}

XdgSystemSettingsOpener::XdgSystemSettingsOpener(Environment environment)
    : m_environment(std::move(environment))
{
}

bool XdgSystemSettingsOpener::desktopIs(const QString& name) const
{
    const QStringList desktops = m_environment.currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& desktop : desktops) {
        if (desktop.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

PlatformResult XdgSystemSettingsOpener::runFirstAvailable(const QList<Command>& candidates, const QString& what)
{
    QStringList notStarted;
    for (const Command& command : candidates) {
        const QString path = m_environment.findExecutable(command.program);
        if (path.isEmpty())
            continue;
        if (m_environment.launch(path, command.arguments)) {
            qCInfo(lcPermissions).noquote()
                << "Opened" << what << "with"
                << (QStringList { command.program } + command.arguments).join(QLatin1Char(' '));
            return PlatformResult::ok();
        }
        qCWarning(lcPermissions).noquote() << "Could not start" << command.program << "to open" << what;
        notStarted.append(command.program);
    }
    if (!notStarted.isEmpty()) {
        return PlatformResult::failed(
            QStringLiteral("Could not start %1 to open %2.").arg(notStarted.join(QStringLiteral(", ")), what));
    }
    const QString desktop
        = m_environment.currentDesktop.isEmpty() ? QStringLiteral("unset") : m_environment.currentDesktop;
    qCInfo(lcPermissions).noquote() << "No" << what << "known for this desktop (XDG_CURRENT_DESKTOP=" << desktop
                                    << ").";
    return PlatformResult::failed(
        QStringLiteral("No %1 known for this desktop (XDG_CURRENT_DESKTOP=%2).").arg(what, desktop));
}

PlatformResult XdgSystemSettingsOpener::openSoundSettings()
{
    QList<Command> candidates;
    if (desktopIs(QStringLiteral("GNOME")) || desktopIs(QStringLiteral("Unity")))
        candidates.append({ QStringLiteral("gnome-control-center"), { QStringLiteral("sound") } });
    if (desktopIs(QStringLiteral("KDE"))) {
        candidates.append({ QStringLiteral("systemsettings"), { QStringLiteral("kcm_pulseaudio") } });
        candidates.append({ QStringLiteral("systemsettings5"), { QStringLiteral("kcm_pulseaudio") } });
    }
    if (desktopIs(QStringLiteral("XFCE")) || desktopIs(QStringLiteral("MATE")) || desktopIs(QStringLiteral("LXQt"))
        || candidates.isEmpty())
        candidates.append({ QStringLiteral("pavucontrol"), {} });
    return runFirstAvailable(candidates, QStringLiteral("sound settings"));
}

PlatformResult XdgSystemSettingsOpener::openAccessibilitySettings()
{
    QList<Command> candidates;
    if (desktopIs(QStringLiteral("GNOME")) || desktopIs(QStringLiteral("Unity")))
        candidates.append({ QStringLiteral("gnome-control-center"), { QStringLiteral("universal-access") } });
    if (desktopIs(QStringLiteral("KDE"))) {
        candidates.append({ QStringLiteral("systemsettings"), { QStringLiteral("kcm_access") } });
        candidates.append({ QStringLiteral("systemsettings5"), { QStringLiteral("kcm_access") } });
    }
    return runFirstAvailable(candidates, QStringLiteral("accessibility settings"));
}

PlatformResult XdgSystemSettingsOpener::openUrl(const QUrl& url)
{
    if (!url.isValid()) {
        qCWarning(lcPermissions) << "Not opening an invalid URL.";
        return PlatformResult::failed(QStringLiteral("The address is not a valid URL."));
    }
    return runFirstAvailable({ { QStringLiteral("xdg-open"), { url.toString(QUrl::FullyEncoded) } } },
        QStringLiteral("URL ") + url.toDisplayString());
}

} // namespace tessvale
