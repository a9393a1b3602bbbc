#pragma once

#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"

namespace tessvale {

// Whether a URL reached a program that shows it; failure says why not, for the user.
struct UrlOpenResult
{
    bool opened = false;
    QString failure;
};

// Hands a web or mail address to the user's browser or mail program.
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;

    // Completes once the program has either failed or is showing the address. Throws CancelledError
    // when token is cancelled first.
    virtual QCoro::Task<UrlOpenResult> open(QUrl url, CancelToken token) = 0;
};

} // namespace tessvale
