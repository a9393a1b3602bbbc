#pragma once

#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "platform/PlatformResult.h"

namespace tessvale {

// Hands a web or mail address to the user's browser or mail program.
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;

    // Completes once the program has either failed (the reason is for the user) or is showing the
    // address. Throws CancelledError when token is cancelled first.
    virtual QCoro::Task<PlatformResult> open(QUrl url, CancelToken token) = 0;
};

} // namespace tessvale
