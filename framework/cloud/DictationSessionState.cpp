#include "cloud/DictationSessionState.h"

#include <array>
#include <utility>

namespace tessvale {

namespace {

constexpr std::array<std::pair<DictationSessionState, const char*>, 8> rawValues { {
    { DictationSessionState::starting, "Starting" },
    { DictationSessionState::recording, "Recording" },
    { DictationSessionState::finalizingStt, "FinalizingStt" },
    { DictationSessionState::postProcessing, "PostProcessing" },
    { DictationSessionState::completed, "Completed" },
    { DictationSessionState::completedEmpty, "CompletedEmpty" },
    { DictationSessionState::canceledByClient, "CanceledByClient" },
    { DictationSessionState::failed, "Failed" },
} };

} // namespace

QString rawValue(DictationSessionState state)
{
    for (const auto& [candidate, text] : rawValues) {
        if (candidate == state)
            return QString::fromLatin1(text);
    }
    return {};
}

std::optional<DictationSessionState> dictationSessionStateFromRawValue(const QString& text)
{
    for (const auto& [state, raw] : rawValues) {
        if (text == QLatin1String(raw))
            return state;
    }
    return std::nullopt;
}

template <>
DictationSessionState decodeWireValue<DictationSessionState>(const QJsonValue& value, const WireDecoder& decoder)
{
    const QString text = decodeWireValue<QString>(value, decoder);
    if (const std::optional<DictationSessionState> state = dictationSessionStateFromRawValue(text))
        return *state;
    throw DecodingError::dataCorrupted(decoder.codingPath(),
        QStringLiteral("Cannot initialize DictationSessionState from invalid String value ") + text);
}

QJsonValue toJSON(DictationSessionState state)
{
    return rawValue(state);
}

} // namespace tessvale
