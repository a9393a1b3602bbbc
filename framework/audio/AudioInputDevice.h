#pragma once

#include <QString>

namespace tessvale {

// A microphone the user can choose; identified by the sound server's device id.
struct AudioInputDevice
{
    QString uid;
    QString name;

    AudioInputDevice() = default;
    AudioInputDevice(QString deviceUID, QString deviceName)
        : uid(std::move(deviceUID))
        , name(std::move(deviceName))
    {
    }

    const QString& id() const { return uid; }
    bool operator==(const AudioInputDevice&) const = default;
};

} // namespace tessvale
