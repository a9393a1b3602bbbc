#pragma once

#include <gtest/gtest.h>

#include <QtGlobal>

namespace tessvale::test {

// Where the private desktop is promised (scripts/test-env sets TESSVALE_DESKTOP_REQUIRED), a test
// that finds none fails instead of skipping, so a broken desktop cannot pass for a green run.
inline ::testing::TestPartResult::Type missingDesktopResult()
{
    return qEnvironmentVariableIsSet("TESSVALE_DESKTOP_REQUIRED") ? ::testing::TestPartResult::kFatalFailure
                                                                  : ::testing::TestPartResult::kSkip;
}

// What a test main returns: CTest reports a run whose every case was skipped as skipped (the test's
// SKIP_RETURN_CODE), where GoogleTest would exit 0.
inline int exitCodeReportingSkips(int result)
{
    constexpr int skipped = 77;
    const ::testing::UnitTest& run = *::testing::UnitTest::GetInstance();
    if (result == 0 && run.test_to_run_count() > 0 && run.skipped_test_count() == run.test_to_run_count())
        return skipped;
    return result;
}

} // namespace tessvale::test

// GTEST_SKIP() for a test that needs the private desktop: TESSVALE_SKIP_WITHOUT_DESKTOP() << "why";
#define TESSVALE_SKIP_WITHOUT_DESKTOP()                                                                                \
    return GTEST_MESSAGE_AT_(__FILE__, __LINE__, "", ::tessvale::test::missingDesktopResult())
