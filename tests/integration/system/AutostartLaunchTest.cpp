#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "platform/linux/system/XdgAutostartLoginItem.h"

using namespace tessvale;

namespace {

// Writes the path it was started by and its profile into $TESSVALE_AUTOSTART_MARK, proving which
// program ran, and as what.
constexpr char kProgram[] = "#!/bin/sh\nprintf '%s|%s' \"$0\" \"$TESSVALE_PROFILE\" > \"$TESSVALE_AUTOSTART_MARK\"\n";

QString readMark(const QString& path)
{
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        QFile mark(path);
        if (mark.open(QIODevice::ReadOnly) && mark.size() > 0)
            return QString::fromUtf8(mark.readAll());
        QThread::msleep(20);
    }
    return QString();
}

} // namespace

// Each entry is started as the desktop starts it: GLib's desktop-entry reader, through gio launch.
TEST(AutostartLaunch, EntryStartsTheProgramWhateverItsPath)
{
    const QStringList folders {
        "with spaces",
        "double\"quote",
        "single'quote",
        "100%",
        "%f%u field codes",
        "dollar$HOME",
        "back\\slash",
        "Ünïcødé ß 日本語",
        "all \"'%$\\ at once",
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile source(dir.filePath("tessvale"));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write(kProgram);
    source.close();
    source.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    for (qsizetype i = 0; i < folders.size(); ++i) {
        SCOPED_TRACE(folders[i].toStdString());
        const QString folder = dir.filePath(folders[i]);
        ASSERT_TRUE(QDir().mkpath(folder));
        // Half copies, half symbolic links: the desktop runs either.
        const QString program = folder + "/tessvale";
        ASSERT_TRUE(i % 2 ? QFile::link(source.fileName(), program) : QFile::copy(source.fileName(), program));

        // Every third entry written under a named profile.
        const QString profile = i % 3 == 1 ? QStringLiteral("demo") : QString();
        XdgAutostartLoginItem login(dir.filePath(QString("autostart%1").arg(i)), program,
            profile.isEmpty() ? QStringList() : QStringList { "TESSVALE_PROFILE=" + profile });
        const PlatformResult registered = login.registerApplication();
        ASSERT_TRUE(registered) << registered.reason().toStdString();
        ASSERT_EQ(login.status(), LoginItemStatus::enabled);

        const QString mark = dir.filePath(QString("mark%1").arg(i));
        QProcess gio;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TESSVALE_AUTOSTART_MARK", mark);
        environment.remove("TESSVALE_PROFILE");
        gio.setProcessEnvironment(environment);
        gio.start("gio", { "launch", login.entryPath() });
        ASSERT_TRUE(gio.waitForFinished(60000));
        ASSERT_EQ(gio.exitCode(), 0) << gio.readAllStandardError().toStdString();
        EXPECT_EQ(readMark(mark), program + "|" + profile);
    }
}
