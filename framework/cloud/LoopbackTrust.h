#pragma once

#include <optional>

#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include "cloud/LoopbackHost.h"

namespace tessvale {

// Names a PEM file of certificate authorities trusted in addition to the system's, for connections
// to a loopback host only: a local stand-in for the service can use a throw-away CA without any
// real service's connection trusting it.
inline constexpr const char* loopbackCAFileVariable = "TESSVALE_LOOPBACK_CA_FILE";

// The TLS configuration of a connection to url. One given by the caller is used as it is. Otherwise,
// for a loopback host while the variable names a readable PEM file, the system defaults with its
// certificates added; else nothing, meaning the system defaults.
std::optional<QSslConfiguration> sslConfigurationFor(
    const QUrl& url, const std::optional<QSslConfiguration>& configured);

} // namespace tessvale
