// Prints the permission snapshot of this process's environment as two lines:
//   microphone=<state>
//   accessibility=<state>
#include <cstdio>

#include <QCoreApplication>

#include "system/PermissionService.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const tessvale::PermissionService service;
    const tessvale::PermissionSnapshot snapshot = service.currentSnapshot();
    std::printf("microphone=%s\naccessibility=%s\n", qPrintable(tessvale::rawValue(snapshot.microphone)),
        qPrintable(tessvale::rawValue(snapshot.accessibility)));
    return 0;
}
