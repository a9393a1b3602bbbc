#include "support/auth/KeyringDesktop.h"

#include <gtest/gtest.h>

#include <QProcess>

#include "support/async/EventLoopWaits.h"

namespace tessvale::testing {

using namespace std::chrono_literals;

QString runTool(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!environment.isEmpty())
        tool.setProcessEnvironment(environment);
    tool.start(program, arguments);
    if (!waitUntil([&] { return tool.state() == QProcess::NotRunning; }, 60s))
        ADD_FAILURE() << program.toStdString() << " did not finish";
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

QString busCall(
    const QString& destination, const QString& objectPath, const QString& method, const QStringList& arguments)
{
    return runTool(QStringLiteral("gdbus"),
        QStringList { QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"), destination,
            QStringLiteral("--object-path"), objectPath, QStringLiteral("--method"), method }
            + arguments);
}

QString secretServiceCall(const QString& objectPath, const QString& method, const QStringList& arguments)
{
    return busCall(QStringLiteral("org.freedesktop.secrets"), objectPath, method, arguments);
}

QString keyringOwner()
{
    return busCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.GetNameOwner"), { QStringLiteral("org.freedesktop.secrets") });
}

QString defaultCollection()
{
    return secretServiceCall(QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service.ReadAlias"), { QStringLiteral("default") })
        .section(QLatin1Char('\''), 1, 1);
}

void lockCollection(const QString& collection)
{
    secretServiceCall(QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service.Lock"),
        { QStringLiteral("['%1']").arg(collection) });
}

bool isCollectionLocked(const QString& collection)
{
    return secretServiceCall(collection, QStringLiteral("org.freedesktop.DBus.Properties.Get"),
               { QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked") })
        == QStringLiteral("(<true>,)");
}

QString promptWindow(std::chrono::milliseconds timeout)
{
    QString window;
    waitUntil(
        [&] {
            window = runTool(QStringLiteral("xdotool"),
                { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--class"),
                    QStringLiteral("gcr-prompter") })
                         .split(QLatin1Char('\n'))
                         .last();
            return !window.isEmpty();
        },
        timeout);
    return window;
}

void answerPrompt(const QList<QStringList>& commands)
{
    const QString window = promptWindow();
    ASSERT_FALSE(window.isEmpty()) << "no unlock prompt was shown";
    runTool(QStringLiteral("xdotool"), { QStringLiteral("windowactivate"), QStringLiteral("--sync"), window });
    for (const QStringList& command : commands)
        runTool(QStringLiteral("xdotool"), command);
    EXPECT_TRUE(waitUntil([&window] { return promptWindow(0ms) != window; }, 60s)) << "the prompt stayed open";
}

void dismissPrompt()
{
    answerPrompt({ { QStringLiteral("key"), QStringLiteral("Escape") } });
}

void unlockAtPrompt()
{
    answerPrompt({ { QStringLiteral("type"), kKeyringPassword }, { QStringLiteral("key"), QStringLiteral("Return") } });
}

} // namespace tessvale::testing
