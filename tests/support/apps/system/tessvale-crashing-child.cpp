// Starts error monitoring from a bundle naming the given reporting key, leaves a breadcrumb and
// dies of the given fatal signal:
//   tessvale-crashing-child DSN [segv|abort]
// Reports are queued under $XDG_CACHE_HOME, as in the application.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>

#include "platform/linux/system/NetworkEnvelopeTransport.h"
#include "system/BundleInfo.h"
#include "system/ErrorMonitoring.h"

namespace {

// Out of line so the compiler cannot prove the fault and drop it; unchecked so the sanitizers
// let the real fault happen.
[[gnu::noinline, gnu::no_sanitize("address", "undefined")]] void writeThrough(volatile int* pointer)
{
    *pointer = 42;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tessvale-crashing-child DSN [segv|abort]\n");
        return 2;
    }
    const QVariantMap info {
        { QStringLiteral("SENTRY_DSN"), QString::fromUtf8(argv[1]) },
        { QStringLiteral("SENTRY_ENVIRONMENT"), QStringLiteral("crash-test") },
        { QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.2") },
        { QStringLiteral("CFBundleVersion"), QStringLiteral("45") },
    };
    tessvale::ErrorMonitoring::start(tessvale::DictionaryBundleInfo(info, QStringLiteral("com.tessvale.mac")),
        std::make_shared<tessvale::NetworkEnvelopeTransport>());
    tessvale::ErrorMonitoring::addBreadcrumb(
        QStringLiteral("dictation"), QStringLiteral("About to crash"), {}, tessvale::SentryLevel::info);
    std::printf("STARTED\n");
    std::fflush(stdout);
    if (argc > 2 && qstrcmp(argv[2], "abort") == 0)
        std::abort();
    writeThrough(nullptr);
    return 0;
}
