#include "coordinator/CoordinatorHelpers.h"

#include <algorithm>

#include <QVariantList>
#include <QVariantMap>

#include "async/CancelToken.h"
#include "audio/AudioCaptureError.h"
#include "auth/KeychainError.h"
#include "cloud/CloudAPIClient.h"
#include "cloud/CloudClientError.h"
#include "cloud/CloudTransportError.h"
#include "insertion/TextInsertionTypes.h"
#include "shortcuts/KeyboardEventMonitorError.h"

namespace tessvale {

namespace {

const QString kCallbackSuffix = QStringLiteral("://native-auth/callback");

bool shouldReport(const CloudClientError& error)
{
    switch (error.errorCase()) {
    case CloudClientError::Case::invalidResponse:
        return true;
    case CloudClientError::Case::requestFailed:
        return error.httpStatusCode().value_or(0) >= 500;
    case CloudClientError::Case::invalidBaseURL:
    case CloudClientError::Case::missingAPIKey:
        return false;
    }
    return true;
}

bool shouldReport(const TextInsertionError& error)
{
    switch (error.errorCase()) {
    case TextInsertionError::unableToWritePasteboard:
    case TextInsertionError::unableToEmitPaste:
    case TextInsertionError::unableToTypeUnicode:
    case TextInsertionError::unableToSetSelectedText:
        return true;
    case TextInsertionError::missingAccessibilityPermission:
    case TextInsertionError::keyboardUnavailable:
    case TextInsertionError::noFocusedElement:
    case TextInsertionError::unableToRestoreFocus:
    case TextInsertionError::modifierKeysHeld:
    case TextInsertionError::transcriptNotDelivered:
    case TextInsertionError::transcriptPartlyInserted:
    case TextInsertionError::clipboardUnreadable:
    case TextInsertionError::pasteNotTaken:
    case TextInsertionError::noTextFieldFocused:
    case TextInsertionError::textNotTypeable:
    case TextInsertionError::typingNotConfirmed:
        return false;
    }
    return true;
}

bool shouldReport(const AudioCaptureError& error)
{
    switch (error.kind()) {
    case AudioCaptureError::Case::outputFormatUnavailable:
    case AudioCaptureError::Case::converterUnavailable:
        return true;
    case AudioCaptureError::Case::inputUnavailable:
    case AudioCaptureError::Case::alreadyRunning:
    case AudioCaptureError::Case::deviceSelectionFailed:
        return false;
    }
    return true;
}

bool shouldReport(const KeychainError& error)
{
    return !(error.kind() == KeychainError::Kind::unexpectedStatus && error.status() == SecretStatusCode::userCanceled);
}

std::optional<QUrl> callbackURLForScheme(const QString& scheme)
{
    const QUrl url(scheme + kCallbackSuffix, QUrl::StrictMode);
    // A scheme with characters a scheme may not hold leaves no scheme, or another one, behind.
    if (!url.isValid() || url.scheme().compare(scheme, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return url;
}

} // namespace

std::optional<QString> trimmedTranscriptText(
    const QString& finalTranscript, const QList<SessionTranscriptRecord>& history)
{
    const QString final = finalTranscript.trimmed();
    if (!final.isEmpty())
        return final;
    if (history.isEmpty())
        return std::nullopt;
    const QString newest = history.first().finalText.trimmed();
    if (newest.isEmpty())
        return std::nullopt;
    return newest;
}

bool isCancellationError(std::exception_ptr error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const CancelledError&) {
        return true;
    } catch (const CloudTransportError& transportError) {
        return transportError.isCancellation();
    } catch (...) {
        return false;
    }
}

bool shouldReportError(std::exception_ptr error)
{
    if (!error || isCancellationError(error))
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const CloudClientError& cloudError) {
        return shouldReport(cloudError);
    } catch (const TextInsertionError& insertionError) {
        return shouldReport(insertionError);
    } catch (const AudioCaptureError& captureError) {
        return shouldReport(captureError);
    } catch (const KeyboardEventMonitorError&) {
        return false;
    } catch (const KeychainError& keychainError) {
        return shouldReport(keychainError);
    } catch (...) {
        // Every driver failing, a broken transfer and anything unforeseen are faults worth a look.
        return true;
    }
}

QString logID(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString boundedServerText(const QString& text)
{
    return CloudAPIClient::sanitizedErrorBody(text.toUtf8());
}

QString bundleAppVersion(const BundleInfo& bundle)
{
    const std::optional<QVariantMap> dictionary = bundle.infoDictionary();
    if (dictionary) {
        for (const QString& key : { QStringLiteral("CFBundleShortVersionString"), QStringLiteral("CFBundleVersion") }) {
            const QVariant value = dictionary->value(key);
            if (value.typeId() == QMetaType::QString && !value.toString().trimmed().isEmpty())
                return value.toString();
        }
    }
    return QStringLiteral("0.1.0");
}

QUrl nativeAuthRedirectURI(const BundleInfo& bundle)
{
    static const QUrl fallback(QStringLiteral("tessvale") + kCallbackSuffix);
    const std::optional<QVariantMap> dictionary = bundle.infoDictionary();
    if (!dictionary)
        return fallback;
    const QVariantList types = dictionary->value(QStringLiteral("CFBundleURLTypes")).toList();
    for (const QVariant& type : types) {
        const QVariant schemesValue = type.toMap().value(QStringLiteral("CFBundleURLSchemes"));
        if (schemesValue.typeId() != QMetaType::QVariantList && schemesValue.typeId() != QMetaType::QStringList)
            continue;
        const QVariantList schemes = schemesValue.toList();
        const bool allStrings = std::all_of(
            schemes.begin(), schemes.end(), [](const QVariant& v) { return v.typeId() == QMetaType::QString; });
        if (schemes.isEmpty() || !allStrings)
            continue;
        const QString scheme = schemes.first().toString().trimmed();
        if (scheme.isEmpty())
            continue;
        if (const std::optional<QUrl> url = callbackURLForScheme(scheme))
            return *url;
    }
    return fallback;
}

} // namespace tessvale
