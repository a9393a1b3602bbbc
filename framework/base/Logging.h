#pragma once

#include <QLoggingCategory>
#include <QString>

// One category per component, named "com.tessvale.mac.<Component>" after the bundle identifier.
Q_DECLARE_LOGGING_CATEGORY(lcAsync)
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
Q_DECLARE_LOGGING_CATEGORY(lcCloudAPI)
Q_DECLARE_LOGGING_CATEGORY(lcWebSocket)
Q_DECLARE_LOGGING_CATEGORY(lcKeychain)
Q_DECLARE_LOGGING_CATEGORY(lcNativeAuth)
Q_DECLARE_LOGGING_CATEGORY(lcAudioCapture)
Q_DECLARE_LOGGING_CATEGORY(lcKeyboardEvents)
Q_DECLARE_LOGGING_CATEGORY(lcShortcutEngine)
Q_DECLARE_LOGGING_CATEGORY(lcHotKey)
Q_DECLARE_LOGGING_CATEGORY(lcFocus)
Q_DECLARE_LOGGING_CATEGORY(lcTextInsertion)
Q_DECLARE_LOGGING_CATEGORY(lcPermissions)
Q_DECLARE_LOGGING_CATEGORY(lcLaunchAtLogin)
Q_DECLARE_LOGGING_CATEGORY(lcErrorMonitoring)
Q_DECLARE_LOGGING_CATEGORY(lcDictationCoordinator)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
Q_DECLARE_LOGGING_CATEGORY(lcApp)

// "true" or "false", as log lines write flags.
inline QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}
