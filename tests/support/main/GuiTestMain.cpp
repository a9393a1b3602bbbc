#include <gtest/gtest.h>

#include <QApplication>

#include "support/Skips.h"

int main(int argc, char** argv)
{
    // Integration tests talk to the private X server of scripts/test-env; without one they still
    // start (offscreen) and the tests that need a display skip themselves.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return tessvale::test::runAllTestsReportingSkips();
}
