#pragma once

#include <exception>
#include <functional>
#include <optional>

#include <QObject>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "auth/BrowserSignInState.h"
#include "cloud/CloudRestResponses.h"
#include "coordinator/CoordinatorServices.h"
#include "coordinator/CoordinatorTypes.h"

namespace tessvale {

class AppSettings;

// What a browser sign-in tells its owner, which keeps the published state.
struct BrowserSignInReports
{
    // The attempt the user is shown, or none.
    std::function<void(std::optional<BrowserSignInState> attempt)> attemptChanged;
    // The error line; an empty text clears it.
    std::function<void(const QString& text)> showError;
    // The phase a sign-in path asks for; the owner decides whether it applies.
    std::function<void(DictationPhase phase)> requestPhase;
    std::function<void(const QString& message)> log;
    std::function<void(std::exception_ptr error, const QString& context)> reportError;
    std::function<const QString&()> lastError;
    std::function<bool()> isAuthenticated;
};

// One browser sign-in at a time: its attempt on the service, the page in the browser, the callback
// and the code exchange that stores the key. Main thread only; destroying it ends its tasks at their
// next step.
class BrowserSignIn final : public QObject
{
    Q_OBJECT

public:
    BrowserSignIn(AppSettings& settings, const CoordinatorServices& services, BrowserSignInReports reports,
        QObject* parent = nullptr);
    ~BrowserSignIn() override;

    // Starts an attempt and opens its page; an open attempt's page is opened again instead.
    QCoro::Task<> begin(CancelToken token);
    // Drops the open attempt, here and on the service.
    void cancel();
    // Opens the attempt's page again; nothing without one. The opener's wait ends with token.
    void reopen(CancelToken token);
    // The response of a callback that completed the open attempt, with its key stored; none when the
    // URL was not ours, the attempt failed or it was closed meanwhile.
    QCoro::Task<std::optional<NativeAuthTokenResponse>> handleCallback(QUrl url, CancelToken token);
    // The attempt is over: nothing is asked of the service.
    void clear();

private:
    struct PendingAttempt
    {
        QUuid attemptID;
        QUrl apiBaseURL;
        QString state;
        QString codeVerifier;
        QString redirectURI;
        QUrl authorizationURL;
    };

    CancelToken bound(const CancelToken& token) const { return m_lifetime.token().combinedWith(token); }
    bool isOpen(const QUuid& attemptID) const;
    // Opens the attempt's page; a browser that cannot be opened fails the sign-in visibly, with the
    // address to paste into one, and leaves the attempt open for the callback.
    QCoro::Task<> openPage(QUuid attemptID, QUrl url, CancelToken token);
    void failInvalidCallback(const QString& errorMessage, const QString& logMessage);
    void cancelOnServer(const PendingAttempt& attempt, const QString& successLog, const QString& failureLog);
    QCoro::Task<> cancelOnServerTask(QUrl baseURL, QUuid attemptID, QString successLog, QString failureLog);
    // The exchange's response once its key is stored and its attempt still open.
    QCoro::Task<std::optional<NativeAuthTokenResponse>> exchange(
        PendingAttempt attempt, QString code, CancelToken token);
    // The key went in after the user gave up on it; it comes out again unless a sign-in has completed.
    QCoro::Task<> removeAbandonedKey(CancelToken token);
    void failExchange(std::exception_ptr error);

    AppSettings* m_settings;
    // The owner's, which outlive this object.
    const CoordinatorServices* m_services;
    BrowserSignInReports m_reports;
    CancelSource m_lifetime;

    std::optional<PendingAttempt> m_pending;
    bool m_isStarting = false;
    // The attempt whose code exchange is running; a second callback for it is ignored.
    std::optional<QUuid> m_exchangingAttemptID;
};

} // namespace tessvale
