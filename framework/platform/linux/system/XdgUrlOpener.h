#pragma once

#include "platform/linux/BackendOnly.h"

#include <functional>

#include <QList>
#include <QObject>
#include <QStringList>

#include "async/Sleeper.h"
#include "platform/system/UrlOpener.h"
#include "system/BrowserCommands.h"

namespace tessvale {

// Opens URLs as Linux programs conventionally do: through the commands of BROWSER when it is set,
// else through xdg-open. Programs start without a shell. A command that cannot start or exits with a
// failure is a failure (the next BROWSER entry is tried); one that exits cleanly or still runs after
// the start grace period (a browser that stays open) has opened the URL. Nothing is killed: a
// program still running when the opener goes keeps running.
class XdgUrlOpener : public QObject, public UrlOpener
{
public:
    struct Environment
    {
        std::function<QString()> browserVariable; // BROWSER, read at each open
        Sleeper* sleeper = nullptr;
        // Long enough for xdg-open's handler or a browser's launcher to fail on a loaded desktop.
        Duration startGracePeriod = std::chrono::seconds(3);
    };

    XdgUrlOpener();
    explicit XdgUrlOpener(Environment environment);
    ~XdgUrlOpener() override;

    QCoro::Task<PlatformResult> open(QUrl url, CancelToken token) override;

    // The commands tried in order: each entry of browserVariable (browserCommands()), or xdg-open
    // when it names none.
    static QList<BrowserCommand> commandsFor(const QUrl& url, const QString& browserVariable);

private:
    QCoro::Task<PlatformResult> run(QStringList command, CancelToken token);

    Environment m_environment;
    CancelSource m_lifetime;
};

} // namespace tessvale
