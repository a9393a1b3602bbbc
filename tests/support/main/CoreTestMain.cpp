#include <gtest/gtest.h>

#include <QCoreApplication>

#include "support/Skips.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return tessvale::test::runAllTestsReportingSkips();
}
