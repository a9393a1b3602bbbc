#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "platform/linux/system/PortalColorScheme.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"

using namespace tessvale;
using Preference = DesktopColorScheme::Preference;

namespace {

// The settings portal as a desktop runs it: another connection to the test's own session bus.
class FakeSettingsPortal final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    uint colorScheme = 1;

    ~FakeSettingsPortal() override
    {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        m_bus.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        QDBusConnection::disconnectFromBus(m_bus.name());
    }

    bool publish()
    {
        QDBusConnection& bus = m_bus;
        return bus.registerObject(
                   QStringLiteral("/org/freedesktop/portal/desktop"), this, QDBusConnection::ExportAllSlots)
            && bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }

    void change(uint value)
    {
        colorScheme = value;
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"));
        signal << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
               << QVariant::fromValue(QDBusVariant(value));
        m_bus.send(signal);
    }

public slots:
    QDBusVariant Read(const QString& group, const QString& key)
    {
        if (group == QStringLiteral("org.freedesktop.appearance") && key == QStringLiteral("color-scheme"))
            return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme)));
        return QDBusVariant(QVariant(0u));
    }

private:
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal"));
};

void writeGtkSettings(const QString& text)
{
    const QString folder
        = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/gtk-3.0");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile file(folder + QStringLiteral("/settings.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
}

} // namespace

TEST(DesktopColorScheme, ThePortalsSettingIsReadAndFollowed)
{
    if (!QDBusConnection::sessionBus().isConnected())
        TESSVALE_SKIP_WITHOUT_DESKTOP();
    FakeSettingsPortal portal;
    ASSERT_TRUE(portal.publish());
    PortalColorScheme scheme;
    QList<Preference> seen;
    scheme.watch([&seen](Preference preference) { seen.append(preference); });
    EXPECT_TRUE(waitUntil([&] { return scheme.preference() == Preference::dark; }));

    portal.change(2);
    EXPECT_TRUE(waitUntil([&] { return scheme.preference() == Preference::light; }));
    portal.change(0);
    EXPECT_TRUE(waitUntil([&] { return scheme.preference() == Preference::none; }));
    EXPECT_EQ(seen, QList<Preference>({ Preference::dark, Preference::light, Preference::none }));
}

// Without a portal (this desktop runs none) the GTK settings file speaks, also when it changes.
TEST(DesktopColorScheme, WithoutAPortalTheGtkPreferenceIsFollowed)
{
    writeGtkSettings(QStringLiteral("[Settings]\ngtk-application-prefer-dark-theme=1\n"));
    PortalColorScheme scheme;
    EXPECT_EQ(scheme.preference(), Preference::dark);
    writeGtkSettings(QStringLiteral("[Settings]\ngtk-theme-name=Adwaita\ngtk-application-prefer-dark-theme=0\n"));
    EXPECT_TRUE(waitUntil([&] { return scheme.preference() == Preference::light; }));
}

TEST(DesktopColorScheme, GtkSettingsAndPortalValues)
{
    EXPECT_EQ(PortalColorScheme::fromGtkSettings(QStringLiteral("[Settings]\ngtk-theme-name=Adwaita-dark\n")),
        Preference::dark);
    EXPECT_EQ(PortalColorScheme::fromGtkSettings(QStringLiteral("[Other]\ngtk-application-prefer-dark-theme=1\n")),
        Preference::none);
    EXPECT_EQ(PortalColorScheme::fromGtkSettings(QString()), Preference::none);
    EXPECT_EQ(PortalColorScheme::fromPortalValue(1), Preference::dark);
    EXPECT_EQ(PortalColorScheme::fromPortalValue(2), Preference::light);
    EXPECT_EQ(PortalColorScheme::fromPortalValue(7), Preference::none);
}

#include "DesktopColorSchemeTest.moc"
