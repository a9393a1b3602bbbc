// Prints the permission snapshot of this process's environment as two lines:
//   microphone=<state>
//   accessibility=<state>
#include <cstdio>

#include <QCoreApplication>

#include "platform/linux/system/PulseMicrophoneAuthorizer.h"
#include "platform/linux/system/X11AccessibilityTrust.h"
#include "platform/linux/system/XdgSystemSettingsOpener.h"
#include "system/PermissionService.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const tessvale::PermissionService service(tessvale::PermissionService::systemOperations(
        std::make_shared<tessvale::PulseMicrophoneAuthorizer>(), std::make_shared<tessvale::XdgSystemSettingsOpener>(),
        std::make_shared<tessvale::X11AccessibilityTrust>()));
    const tessvale::PermissionSnapshot snapshot = service.currentSnapshot();
    std::printf("microphone=%s\naccessibility=%s\n", qPrintable(tessvale::rawValue(snapshot.microphone)),
        qPrintable(tessvale::rawValue(snapshot.accessibility)));
    return 0;
}
