#pragma once

#include <exception>
#include <optional>

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include "base/TessvaleError.h"
#include "coordinator/CallbackURL.h"
#include "coordinator/CoordinatorTypes.h"
#include "system/BundleInfo.h"

namespace tessvale {

// The latest transcript: the final transcript trimmed of white space when that leaves text, else
// the newest history row's final text trimmed the same way, else nothing. history is newest first.
std::optional<QString> trimmedTranscriptText(
    const QString& finalTranscript, const QList<SessionTranscriptRecord>& history);

// Our own CancelledError and a cancelled network transfer. A null error is none.
bool isCancellationError(std::exception_ptr error);

// Whether a failure is worth an error report: faults of ours or of the service, not the user's
// doing (a held modifier, a dismissed unlock prompt, a copy pasted in place of ours) and not
// conditions the user is shown how to fix. A null error is never reported.
bool shouldReportError(std::exception_ptr error);

// A session or attempt identifier as log lines write it: upper case, without braces (the wire uses
// lower case).
QString logID(const QUuid& id);

// Text the service supplied, fit for the error line, the logs and the breadcrumbs: API keys redacted
// and at most 512 characters, cut with "...".
QString boundedServerText(const QString& text);

// The version the application reports: the bundle's short version string, else its bundle version,
// each as stored when it holds more than blanks, else "0.1.0".
QString bundleAppVersion(const BundleInfo& bundle = BundleInfo::main());

// The browser sign-in's redirect URI: the bundle's first usable URL scheme followed by
// "://native-auth/callback", else "tessvale://native-auth/callback".
QUrl nativeAuthRedirectURI(const BundleInfo& bundle = BundleInfo::main());

} // namespace tessvale
