#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include "support/system/LoopbackIngestServer.h"
#include "support/system/RecordingEnvelopeTransport.h"
#include "system/ErrorReporter.h"

using namespace tessvale;

namespace {

void carryOn(int)
{
}

Breadcrumb crumb(const QString& message)
{
    return Breadcrumb { QDateTime(), "dictation", message, SentryLevel::info, {} };
}

} // namespace

// The handler writes into a pipe that nobody reads yet, so it stops mid-report, holding what it
// read, while the reporter's thread goes on adding breadcrumbs. The signal is raised on another
// thread, and the handler installed before ours lets that thread live on.
TEST(CrashReport, ReportBeingWrittenKeepsWhatItReadsWhileBreadcrumbsArrive)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct sigaction carry = {};
    carry.sa_handler = carryOn;
    sigemptyset(&carry.sa_mask);
    struct sigaction saved = {};
    ASSERT_EQ(::sigaction(SIGABRT, &carry, &saved), 0);

    ErrorReporterOptions options;
    options.queueDirectory = dir.filePath("queue");
    options.transport = std::make_shared<tessvale::testing::RecordingEnvelopeTransport>();
    options.hangThreshold = std::chrono::milliseconds(0);
    options.breadcrumbCapacity = 50;
    auto reporter = ErrorReporter::create(
        ErrorMonitoringConfiguration { "http://KEY@127.0.0.1:9/1", "test", "com.tessvale.mac@1.2+45", QString("45") },
        options);
    ASSERT_FALSE(reporter->crashReportPath().isEmpty());
    // About 240 kB in all.
    const QString filler(4000, QLatin1Char('x'));
    for (int i = 0; i < 60; ++i)
        reporter->addBreadcrumb(crumb(QStringLiteral("before %1 %2").arg(i).arg(filler)));
    reporter->addBreadcrumb(crumb(R"(Refused: apiKey: "CRASHSECRET")"));

    const QByteArray part = QFile::encodeName(reporter->crashReportPath() + ".part");
    ASSERT_EQ(::mkfifo(part.constData(), 0600), 0);
    const int pipe = ::open(part.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(pipe, 0);
    ASSERT_LT(::fcntl(pipe, F_GETPIPE_SZ), 200000) << "the report does not fit: the handler has to wait";
    std::thread crashing([] { std::raise(SIGABRT); });
    // Once anything arrived, the handler has taken what it writes.
    int queued = 0;
    for (QDeadlineTimer deadline(60000); queued == 0 && !deadline.hasExpired(); QThread::msleep(1))
        ::ioctl(pipe, FIONREAD, &queued);
    EXPECT_GT(queued, 0);

    for (int i = 0; i < 60; ++i)
        reporter->addBreadcrumb(crumb(QStringLiteral("after %1").arg(i)));

    ::fcntl(pipe, F_SETFL, 0);
    QByteArray report;
    char buffer[65536];
    for (ssize_t n = 0; (n = ::read(pipe, buffer, sizeof buffer)) > 0;)
        report.append(buffer, n);
    crashing.join();
    ::close(pipe);
    reporter.reset();
    ::sigaction(SIGABRT, &saved, nullptr);

    const tessvale::testing::ParsedEnvelope parsed = tessvale::testing::parseEnvelope(report);
    ASSERT_TRUE(parsed.valid) << parsed.error.toStdString();
    const QJsonObject event = QJsonDocument::fromJson(parsed.items[0].payload).object();
    EXPECT_EQ(event["exception"].toObject()["values"].toArray()[0].toObject()["type"].toString(), "SIGABRT");
    const QJsonArray crumbs = event["breadcrumbs"].toObject()["values"].toArray();
    ASSERT_EQ(crumbs.size(), 50) << "the newest breadcrumbs of the moment of the crash";
    EXPECT_TRUE(crumbs[0].toObject()["message"].toString().startsWith("before 11 "));
    EXPECT_EQ(crumbs[49].toObject()["message"].toString(), R"(Refused: apiKey: "[Filtered]")");
    EXPECT_FALSE(report.contains("CRASHSECRET"));
}
