#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QtGlobal>

namespace tessvale::test {

// Where the private desktop is promised (scripts/test-env sets TESSVALE_DESKTOP_REQUIRED), a test
// that finds none fails instead of skipping, so a broken desktop cannot pass for a green run.
inline ::testing::TestPartResult::Type missingDesktopResult()
{
    return qEnvironmentVariableIsSet("TESSVALE_DESKTOP_REQUIRED") ? ::testing::TestPartResult::kFatalFailure
                                                                  : ::testing::TestPartResult::kSkip;
}

// CTest counts an executable, not its cases: a case that skips beside others that pass would pass
// unseen. Each skipped case and its reason goes to the file TESSVALE_SKIP_LOG names (one line each),
// which scripts/test prints after the run.
class SkippedCaseLog : public ::testing::EmptyTestEventListener
{
public:
    void OnTestEnd(const ::testing::TestInfo& info) override
    {
        const ::testing::TestResult& result = *info.result();
        const QString path = qEnvironmentVariable("TESSVALE_SKIP_LOG");
        if (!result.Skipped() || path.isEmpty())
            return;
        std::string reason;
        for (int i = 0; i < result.total_part_count(); ++i) {
            if (result.GetTestPartResult(i).skipped())
                reason = result.GetTestPartResult(i).message();
        }
        if (reason.empty())
            reason = "no reason given";
        std::string line = std::string(info.test_suite_name()) + "." + info.name() + ": " + reason;
        for (char& c : line) {
            if (c == '\n')
                c = ' ';
        }
        QFile log(path);
        // One short append per case: the runs that CTest starts side by side share the file.
        if (log.open(QIODevice::WriteOnly | QIODevice::Append))
            log.write(QByteArray::fromStdString(line + "\n"));
    }
};

// Runs every case; a run whose every case was skipped returns the test's SKIP_RETURN_CODE, so CTest
// reports it as skipped where GoogleTest would exit 0.
inline int runAllTestsReportingSkips()
{
    ::testing::UnitTest::GetInstance()->listeners().Append(new SkippedCaseLog);
    const int result = RUN_ALL_TESTS();
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
