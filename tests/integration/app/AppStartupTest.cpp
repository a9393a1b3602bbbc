#include <gtest/gtest.h>

#include <QProcess>

TEST(AppStartup, StartsAndExitsCleanlyWithCheck)
{
    const QString binDir = qEnvironmentVariable("TESSVALE_BIN_DIR");
    QProcess app;
    app.setProgram(binDir + QStringLiteral("/Tessvale"));
    app.setArguments({ QStringLiteral("--check") });
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        app.setProcessEnvironment(environment);
    }
    app.start();
    ASSERT_TRUE(app.waitForFinished(20000)) << "Tessvale --check did not exit";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().constData();
}
