#include "WireTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace tessvale::testing {

QJsonValue json(const char* text)
{
    QJsonParseError error;
    // Wrapped in an array so that scalars can be written too.
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray("[") + text + "]", &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return document.array().at(0);
}

QJsonObject jsonObject(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}

ExpectedFailure decodingFailure(DecodingError::Kind kind, const QString& description)
{
    return ExpectedFailure { kind, description };
}

ExpectedFailure invalidResponse(const QString& message)
{
    return ExpectedFailure { std::nullopt, message };
}

::testing::AssertionResult failsWith(const std::function<void()>& body, const ExpectedFailure& expected)
{
    try {
        body();
    } catch (const DecodingError& error) {
        if (!expected.decodingKind)
            return ::testing::AssertionFailure() << "decoding error instead of invalidResponse: " << error.what();
        if (error.kind() != *expected.decodingKind)
            return ::testing::AssertionFailure()
                << "wrong decoding error kind " << int(error.kind()) << ": " << error.what();
        if (!expected.description.isEmpty() && error.debugDescription() != expected.description)
            return ::testing::AssertionFailure() << "description \"" << error.debugDescription().toStdString()
                                                 << "\", expected \"" << expected.description.toStdString() << "\"";
        return ::testing::AssertionSuccess();
    } catch (const CloudClientError& error) {
        if (expected.decodingKind)
            return ::testing::AssertionFailure() << "CloudClientError instead of a decoding error: " << error.what();
        if (error.errorCase() != CloudClientError::Case::invalidResponse || error.message() != expected.description)
            return ::testing::AssertionFailure() << "CloudClientError \"" << error.what() << "\", expected \""
                                                 << expected.description.toStdString() << "\"";
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "decoded without an error";
}

} // namespace tessvale::testing
