#pragma once

#include <QString>
#include <QUrl>
#include <QUuid>

namespace tessvale {

// Settings of a worker smoke run. The coordinator holds a provider of these that yields none; no
// code reads the fields.
struct POCWorkerSmokeSettings
{
    bool enabled = false;
    QUrl workerURL;
    QString deviceToken;
    QUuid deviceID;
    QString userEmail;

    bool operator==(const POCWorkerSmokeSettings&) const = default;
};

} // namespace tessvale
