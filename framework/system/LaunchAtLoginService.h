#pragma once

#include <memory>

#include <QObject>
#include <QString>

namespace tessvale {

class LoginItemService;

// Whether the application starts at login, in words for the settings and setup windows. The truth
// lives in the login-item registration; the published values are a snapshot of it.
class LaunchAtLoginService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setIsEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(
        QString statusDescription READ statusDescription WRITE setStatusDescription NOTIFY statusDescriptionChanged)
    Q_PROPERTY(QString lastError READ lastError WRITE setLastError NOTIFY lastErrorChanged)

public:
    explicit LaunchAtLoginService(std::shared_ptr<LoginItemService> loginItem, QObject* parent = nullptr);
    ~LaunchAtLoginService() override;

    bool isEnabled() const { return m_isEnabled; }
    QString statusDescription() const { return m_statusDescription; }
    QString lastError() const { return m_lastError; }

    // Direct assignment only publishes the value.
    void setIsEnabled(bool value);
    void setStatusDescription(const QString& value);
    void setLastError(const QString& value);

    void refresh();
    void setEnabled(bool enabled);

signals:
    void isEnabledChanged(bool value);
    void statusDescriptionChanged(const QString& value);
    void lastErrorChanged(const QString& value);

private:
    std::shared_ptr<LoginItemService> m_loginItem;
    bool m_isEnabled = false;
    QString m_statusDescription = QStringLiteral("Disabled");
    QString m_lastError;
};

} // namespace tessvale
