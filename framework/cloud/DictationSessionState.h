#pragma once

#include <optional>

#include <QJsonValue>
#include <QString>

#include "cloud/WireDecoding.h"

namespace tessvale {

// The service's states of a dictation session; raw values are the case names in PascalCase.
enum class DictationSessionState {
    starting,
    recording,
    finalizingStt,
    postProcessing,
    completed,
    completedEmpty,
    canceledByClient,
    failed,
};

QString rawValue(DictationSessionState state);
// Exact (case-sensitive) match of a raw value; anything else gives nothing.
std::optional<DictationSessionState> dictationSessionStateFromRawValue(const QString& rawValue);

// A plain JSON string holding a raw value; an unknown string is dataCorrupted.
template <>
DictationSessionState decodeWireValue<DictationSessionState>(const QJsonValue& value, const WireDecoder& decoder);
QJsonValue toJSON(DictationSessionState state);

} // namespace tessvale
