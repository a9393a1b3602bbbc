#pragma once

#include <functional>

#include <QMetaObject>
#include <QString>

#include "coordinator/CoordinatorTypes.h"

namespace tessvale {

class DictationCoordinator;

// What must hold of a dictation whatever happens around it, checked after every change: the
// microphone records only for a live session whose phase is starting or recording (or finalizing
// while its stop lets the last words in), the HUD shows whenever it records (and, where a HUD is
// watched, is on screen before it opens and until it has closed), and nothing outside the
// session (restore, account refresh, sign-in, checks) moves a live dictation to ready or signed out;
// once the user chose Sign Out, the microphone stays closed until the next sign-in.
// Each broken rule goes to the reporter, with the state that broke it.
class DictationInvariant
{
public:
    DictationInvariant(DictationCoordinator& coordinator, std::function<bool()> recorderRunning,
        std::function<void(const QString&)> report);
    ~DictationInvariant();
    DictationInvariant(const DictationInvariant&) = delete;
    DictationInvariant& operator=(const DictationInvariant&) = delete;

    // The rules on the microphone and the HUD; when says what just happened.
    void check(const QString& when);

    // The HUD the user sees: while the microphone is open it must be on screen.
    void watchHUD(std::function<bool()> onScreen) { m_hudOnScreen = std::move(onScreen); }

private:
    // No microphone once the user chose Sign Out, until they sign in again.
    void checkSignOut(const QString& when);
    void phaseChanged(DictationPhase phase);
    void violated(const QString& when, const QString& rule);

    DictationCoordinator& m_coordinator;
    std::function<bool()> m_recorderRunning;
    std::function<void(const QString&)> m_report;
    std::function<bool()> m_hudOnScreen;
    DictationPhase m_phase;
    QMetaObject::Connection m_phaseConnection;
    QMetaObject::Connection m_stateConnection;
};

} // namespace tessvale
