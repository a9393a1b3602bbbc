#pragma once

#include <optional>

#include <QDateTime>
#include <QString>
#include <QUuid>

#include "cloud/CloudRestResponses.h"

namespace tessvale {

// Where the coordinator stands; the order is the order of a dictation.
enum class DictationPhase {
    signedOut,
    ready,
    starting,
    recording,
    finalizing,
    postProcessing,
    inserting,
    error,
};

// The case name as log lines write it ("postProcessing").
QString caseName(DictationPhase phase);
// From the start of a dictation to its insertion: starting, recording, finalizing, postProcessing,
// inserting.
bool isDictationPhase(DictationPhase phase);

enum class DictationTriggerMode {
    handsFree,
    pushToTalk,
};

// "handsFree", "pushToTalk".
QString rawValue(DictationTriggerMode mode);
// Exactly the two raw values, case-sensitive; no value for anything else.
std::optional<DictationTriggerMode> dictationTriggerModeFromRawValue(const QString& raw);

// One row of the transcript history; id is the dictation session's.
struct SessionTranscriptRecord
{
    QUuid id;
    QDateTime timestamp;
    // As recognized.
    QString rawText;
    // As committed for insertion.
    QString finalText;

    friend bool operator==(const SessionTranscriptRecord&, const SessionTranscriptRecord&) = default;
};

// One line of the activity log; every entry has an identifier of its own.
struct ActivityLogEntry
{
    QUuid id;
    QDateTime timestamp;
    QString message;

    friend bool operator==(const ActivityLogEntry&, const ActivityLogEntry&) = default;
};

// The result of the last update check. Only the cases that carry a payload have one, so two states
// are equal exactly when their cases and payloads are.
class AppUpdateState
{
public:
    enum class Case {
        idle,
        checking,
        upToDate,
        available,
        failed,
        unavailable,
    };

    AppUpdateState() = default;
    static AppUpdateState idle() { return AppUpdateState(); }
    static AppUpdateState checking();
    static AppUpdateState upToDate(ClientUpdateResponse update);
    static AppUpdateState available(ClientUpdateResponse update);
    static AppUpdateState failed(QString message);
    static AppUpdateState unavailable();

    Case updateCase() const { return m_case; }
    // The service's answer of upToDate and available; absent otherwise.
    const std::optional<ClientUpdateResponse>& update() const { return m_update; }
    // The text shown for failed; empty otherwise.
    const QString& failureMessage() const { return m_message; }

    friend bool operator==(const AppUpdateState&, const AppUpdateState&) = default;

private:
    AppUpdateState(Case updateCase, std::optional<ClientUpdateResponse> update, QString message);

    Case m_case = Case::idle;
    std::optional<ClientUpdateResponse> m_update;
    QString m_message;
};

enum class PermissionRefreshPollOutcome {
    changed,
    timedOut,
    canceled,
};

// What permission polling reports to its observer: a poll began, or it ended with an outcome.
struct PermissionRefreshPollEvent
{
    enum class Kind {
        started,
        finished,
    };

    static PermissionRefreshPollEvent started(QUuid pollID) { return { Kind::started, pollID, std::nullopt }; }
    static PermissionRefreshPollEvent finished(QUuid pollID, PermissionRefreshPollOutcome outcome)
    {
        return { Kind::finished, pollID, outcome };
    }

    Kind kind = Kind::started;
    QUuid pollID;
    // Set exactly for finished.
    std::optional<PermissionRefreshPollOutcome> outcome;

    friend bool operator==(const PermissionRefreshPollEvent&, const PermissionRefreshPollEvent&) = default;
};

} // namespace tessvale
