#include <csignal>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>

#include "support/HelperPrograms.h"
#include "support/async/EventLoopWaits.h"

using namespace std::chrono_literals;

// The real application quits on SIGTERM and SIGINT by its clean quit, well within its bound, and
// exits normally.
TEST(AppQuit, TerminationSignalsQuitCleanly)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs the private desktop of scripts/test-env";
    for (const int signalNumber : { SIGTERM, SIGINT }) {
        QProcess app;
        app.setProgram(tessvale::testing::helperProgramPath(QStringLiteral("Tessvale")));
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start();
        QByteArray output;
        ASSERT_TRUE(tessvale::waitUntil(
            [&] {
                output += app.readAll();
                return output.contains("Tessvale started");
            },
            20s))
            << output.constData();

        QElapsedTimer elapsed;
        elapsed.start();
        ::kill(static_cast<pid_t>(app.processId()), signalNumber);
        ASSERT_TRUE(app.waitForFinished(5000)) << "no exit after signal " << signalNumber;
        output += app.readAll();
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit) << signalNumber;
        EXPECT_EQ(app.exitCode(), 0) << output.constData();
        EXPECT_TRUE(output.contains("Preparing to quit.")) << output.constData();
        EXPECT_LT(elapsed.elapsed(), 3000);
    }
}
