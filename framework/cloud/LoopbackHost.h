#pragma once

#include <QString>

namespace tessvale {

// "localhost" or a loopback address (127.0.0.0/8, ::1).
bool isLoopbackHost(const QString& host);

} // namespace tessvale
