#pragma once

#include <chrono>
#include <optional>

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace tessvale {

class FakeCloudServer;
class TestCertificateAuthority;

namespace testing {

// The real application (build/bin/Tessvale) under the private desktop, pointed at a fake cloud
// service. A named profile gives it a keychain service and a settings file of its own, so a test
// starts from an empty keyring and a first launch; an empty one is the user's own.
class AppProcess
{
public:
    AppProcess(FakeCloudServer& server, const TestCertificateAuthority& authority, QString profile = {});
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // A profile name no other test uses.
    static QString freshProfile();

    void start();
    // Waits until the output holds text.
    bool waitForLog(const char* text, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool logged(const char* text);
    const QByteArray& output();
    QProcess& process() { return m_process; }
    void signal(int signalNumber);
    // Waits for the exit; false when it did not come or was not a clean one (status 0).
    bool waitForCleanExit(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // The profile's keychain service and settings file, as the application names them.
    QString keychainService() const;
    QString settingsFile() const;
    void storeApiKey(const QString& apiKey) const;
    std::optional<QString> storedApiKey() const;

private:
    FakeCloudServer& m_server;
    const TestCertificateAuthority& m_authority;
    QString m_profile;
    QProcess m_process;
    QByteArray m_output;
};

// The X window ids whose name matches (xdotool search --name).
QStringList windowsNamed(const QString& pattern);

// The push-to-talk shortcut (Control + Alt) pressed or released through XTEST.
void holdShortcut(bool press);

} // namespace testing
} // namespace tessvale
