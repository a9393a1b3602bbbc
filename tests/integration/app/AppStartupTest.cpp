#include <gtest/gtest.h>

#include <utility>

#include <QMap>
#include <QProcess>

#include "support/HelperPrograms.h"

namespace {

// Runs "Tessvale --check" with the given environment additions; returns its exit code and its errors.
std::pair<int, QString> runCheck(const QMap<QString, QString>& extra = {})
{
    QProcess app;
    app.setProgram(tessvale::testing::helperProgramPath(QStringLiteral("Tessvale")));
    app.setArguments({ QStringLiteral("--check") });
    auto environment = QProcessEnvironment::systemEnvironment();
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (auto it = extra.begin(); it != extra.end(); ++it)
        environment.insert(it.key(), it.value());
    app.setProcessEnvironment(environment);
    app.start();
    if (!app.waitForFinished(60000) || app.exitStatus() != QProcess::NormalExit)
        return { -1, QStringLiteral("Tessvale --check did not exit") };
    return { app.exitCode(), QString::fromUtf8(app.readAllStandardError()) };
}

} // namespace

TEST(AppStartup, StartsAndExitsCleanlyWithCheck)
{
    const auto [code, errors] = runCheck();
    EXPECT_EQ(code, 0) << errors.toStdString();
}

TEST(AppStartup, PlainHttpOriginsAreRefusedUnlessLoopback)
{
    const struct
    {
        const char* variable;
        const char* origin;
        bool refused;
    } rows[] = {
        { "TESSVALE_REST_ORIGIN", "http://api.example.com", true },
        { "TESSVALE_WEB_ORIGIN", "http://app.example.com", true },
        { "TESSVALE_REST_ORIGIN", "http://127.0.0.1:9", false },
        { "TESSVALE_REST_ORIGIN", "http://localhost:9", false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.origin);
        const auto [code, errors]
            = runCheck({ { QString::fromLatin1(row.variable), QString::fromLatin1(row.origin) } });
        EXPECT_EQ(code, row.refused ? 1 : 0) << errors.toStdString();
        EXPECT_EQ(errors.contains(QStringLiteral("is refused: it must start with https://")), row.refused);
    }
}
