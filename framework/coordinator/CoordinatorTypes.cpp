#include "coordinator/CoordinatorTypes.h"

namespace tessvale {

QString caseName(DictationPhase phase)
{
    switch (phase) {
    case DictationPhase::signedOut:
        return QStringLiteral("signedOut");
    case DictationPhase::ready:
        return QStringLiteral("ready");
    case DictationPhase::starting:
        return QStringLiteral("starting");
    case DictationPhase::recording:
        return QStringLiteral("recording");
    case DictationPhase::finalizing:
        return QStringLiteral("finalizing");
    case DictationPhase::postProcessing:
        return QStringLiteral("postProcessing");
    case DictationPhase::inserting:
        return QStringLiteral("inserting");
    case DictationPhase::error:
        return QStringLiteral("error");
    }
    return {};
}

bool isDictationPhase(DictationPhase phase)
{
    switch (phase) {
    case DictationPhase::starting:
    case DictationPhase::recording:
    case DictationPhase::finalizing:
    case DictationPhase::postProcessing:
    case DictationPhase::inserting:
        return true;
    case DictationPhase::signedOut:
    case DictationPhase::ready:
    case DictationPhase::error:
        break;
    }
    return false;
}

QString rawValue(DictationTriggerMode mode)
{
    switch (mode) {
    case DictationTriggerMode::handsFree:
        return QStringLiteral("handsFree");
    case DictationTriggerMode::pushToTalk:
        return QStringLiteral("pushToTalk");
    }
    return {};
}

std::optional<DictationTriggerMode> dictationTriggerModeFromRawValue(const QString& raw)
{
    for (const DictationTriggerMode mode : { DictationTriggerMode::handsFree, DictationTriggerMode::pushToTalk }) {
        if (raw == rawValue(mode))
            return mode;
    }
    return std::nullopt;
}

AppUpdateState::AppUpdateState(Case updateCase, std::optional<ClientUpdateResponse> update, QString message)
    : m_case(updateCase)
    , m_update(std::move(update))
    , m_message(std::move(message))
{
}

AppUpdateState AppUpdateState::checking()
{
    return AppUpdateState(Case::checking, std::nullopt, {});
}

AppUpdateState AppUpdateState::upToDate(ClientUpdateResponse update)
{
    return AppUpdateState(Case::upToDate, std::move(update), {});
}

AppUpdateState AppUpdateState::available(ClientUpdateResponse update)
{
    return AppUpdateState(Case::available, std::move(update), {});
}

AppUpdateState AppUpdateState::failed(QString message)
{
    return AppUpdateState(Case::failed, std::nullopt, std::move(message));
}

AppUpdateState AppUpdateState::unavailable()
{
    return AppUpdateState(Case::unavailable, std::nullopt, {});
}

} // namespace tessvale
