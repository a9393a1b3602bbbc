#pragma once

#include <QString>

namespace tessvale {

// The capture-device authorization status the permission logic maps to a PermissionState.
enum class MicrophoneAuthorizationStatus {
    notDetermined,
    restricted,
    denied,
    authorized,
};

// Answers whether the microphone can be recorded. On Linux there is no consent dialog: the sound
// server either accepts the connection and offers an input, or it does not.
class MicrophoneAuthorizer
{
public:
    virtual ~MicrophoneAuthorizer() = default;

    // Checks again and returns the result; reason explains a status other than authorized.
    virtual MicrophoneAuthorizationStatus check(QString* reason = nullptr) = 0;
    // The result of the latest check; notDetermined before the first one.
    virtual MicrophoneAuthorizationStatus lastStatus() const = 0;
};

} // namespace tessvale
