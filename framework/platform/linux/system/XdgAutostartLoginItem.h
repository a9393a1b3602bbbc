#pragma once

#include "platform/linux/BackendOnly.h"

#include <QString>
#include <QStringList>

#include "platform/system/LoginItemService.h"

namespace tessvale {

// The login item as an XDG autostart entry, "tessvale.desktop" in $XDG_CONFIG_HOME/autostart
// (~/.config/autostart by default). A present entry is enabled unless it carries "Hidden=true" or
// "X-GNOME-Autostart-enabled=false" (what desktops write when the user switches it off), which reads
// as awaiting the user's approval.
class XdgAutostartLoginItem : public LoginItemService
{
public:
    // The installed executable of this process, in the user's autostart folder. The entry starts it
    // with the environment's NAME=VALUE settings (those that choose what this run is, as a profile).
    explicit XdgAutostartLoginItem(QStringList environment = {});
    XdgAutostartLoginItem(QString autostartDirectory, QString executablePath, QStringList environment = {});

    static QString defaultAutostartDirectory();
    static QString entryFileName() { return QStringLiteral("tessvale.desktop"); }
    // The Exec value that starts the executable: quoted where the Desktop Entry rules require it,
    // through env when the path holds "%" or there is an environment to set, with the string
    // escapes of the file format applied.
    static QString execValue(const QString& executablePath, const QStringList& environment = {});
    // The program that the desktop runs for an Exec value as the file holds it; empty when GLib's
    // reader would refuse the entry or run another program.
    static QString programOfExec(const QString& exec);
    // The complete entry written for the executable.
    static QByteArray entryContents(const QString& executablePath, const QStringList& environment = {});

    QString entryPath() const;

    LoginItemStatus status() const override;
    PlatformResult registerApplication() override;
    PlatformResult unregisterApplication() override;

private:
    QString m_directory;
    QString m_executablePath;
    QStringList m_environment;
};

} // namespace tessvale
