#pragma once

#include <optional>

#include <QString>

namespace tessvale {

// The HTTP status with which the service refused a streaming connection's opening, read from the
// socket's error text; none when the text names no status.
std::optional<int> refusedOpeningStatus(const QString& socketErrorText);

} // namespace tessvale
