#pragma once

#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include "cloud/CloudClientError.h"
#include "cloud/DecodingError.h"

namespace tessvale::testing {

// Parses literal JSON text written in a test; fails the test on bad text.
QJsonValue json(const char* text);
QJsonObject jsonObject(const QByteArray& text);

// What a decode is expected to throw.
struct ExpectedFailure
{
    std::optional<DecodingError::Kind> decodingKind; // unset: a CloudClientError::invalidResponse
    QString description; // empty: any description
};

ExpectedFailure decodingFailure(DecodingError::Kind kind, const QString& description = {});
ExpectedFailure invalidResponse(const QString& message);

// Runs body and checks that it throws what is expected.
::testing::AssertionResult failsWith(const std::function<void()>& body, const ExpectedFailure& expected);

} // namespace tessvale::testing
