#include "platform/linux/system/XdgAutostartLoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "base/Logging.h"

namespace tessvale {

namespace {

struct EntryFields
{
    bool hasDesktopEntryGroup = false;
    QString type;
    QString exec;
    QString hidden;
    QString autostartEnabled;
};

EntryFields parseEntry(const QByteArray& contents)
{
    EntryFields fields;
    bool inMainGroup = false;
    const QList<QByteArray> lines = contents.split('\n');
    for (const QByteArray& rawLine : lines) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            fields.hasDesktopEntryGroup = fields.hasDesktopEntryGroup || inMainGroup;
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Type"))
            fields.type = value;
        else if (key == QLatin1String("Exec"))
            fields.exec = value;
        else if (key == QLatin1String("Hidden"))
            fields.hidden = value;
        else if (key == QLatin1String("X-GNOME-Autostart-enabled"))
            fields.autostartEnabled = value;
    }
    return fields;
}

// Undoes the file format's string escapes.
QString unescapedValue(const QString& value)
{
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            unescaped += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == QLatin1Char('s'))
            unescaped += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            unescaped += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            unescaped += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            unescaped += QLatin1Char('\r');
        else
            unescaped += next;
    }
    return unescaped;
}

// Splits a command line into arguments as GLib's shell parser does: white space separates,
// double quotes keep it and take backslash escapes of $ ` " \ and newline, single quotes take
// nothing, and an unquoted backslash escapes the next character.
QStringList splitArguments(const QString& command)
{
    QStringList arguments;
    QString current;
    bool inWord = false;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command[i];
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inWord)
                arguments.append(current);
            current.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('"')) {
            for (++i; i < command.size() && command[i] != QLatin1Char('"'); ++i) {
                static const QString escapable = QStringLiteral("$`\"\\\n");
                if (command[i] == QLatin1Char('\\') && i + 1 < command.size() && escapable.contains(command[i + 1]))
                    ++i;
                current += command[i];
            }
        } else if (c == QLatin1Char('\'')) {
            for (++i; i < command.size() && command[i] != QLatin1Char('\''); ++i)
                current += command[i];
        } else if (c == QLatin1Char('\\') && i + 1 < command.size()) {
            current += command[++i];
        } else {
            current += c;
        }
    }
    if (inWord)
        arguments.append(current);
    return arguments;
}

// One argument of a command line, quoted as the Desktop Entry rules require.
QString quotedArgument(const QString& text)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (QChar c : text)
        needsQuotes = needsQuotes || reserved.contains(c);
    if (!needsQuotes)
        return text;
    QString argument = QStringLiteral("\"");
    for (QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            argument += QLatin1Char('\\');
        argument += c;
    }
    return argument + QLatin1Char('"');
}

QString expandedPercent(QString argument)
{
    return argument.replace(QLatin1String("%%"), QLatin1String("%"));
}

// The change did not happen: logged, and said to the user as it stands.
PlatformResult failedChange(const QString& reason)
{
    qCWarning(lcLaunchAtLogin).noquote() << reason;
    return PlatformResult::failed(reason);
}

} // namespace

QString XdgAutostartLoginItem::programOfExec(const QString& exec)
{
    const QStringList arguments = splitArguments(unescapedValue(exec));
    if (arguments.isEmpty())
        return QString();
    // GLib's reader looks argv[0] up before it expands field codes: with one in it, the entry is
    // refused and the desktop starts nothing.
    if (arguments[0].contains(QLatin1Char('%')))
        return QString();
    if (arguments[0] != QLatin1String("env"))
        return arguments[0];
    if (QStandardPaths::findExecutable(arguments[0]).isEmpty())
        return QString();
    // env takes NAME=VALUE arguments before the program: a program path with "=" is not run.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString argument = expandedPercent(arguments[i]);
        if (!argument.contains(QLatin1Char('=')))
            return argument;
    }
    return QString();
}

XdgAutostartLoginItem::XdgAutostartLoginItem(QStringList environment)
    : XdgAutostartLoginItem(
        defaultAutostartDirectory(), QCoreApplication::applicationFilePath(), std::move(environment))
{
}

XdgAutostartLoginItem::XdgAutostartLoginItem(
    QString autostartDirectory, QString executablePath, QStringList environment)
    : m_directory(std::move(autostartDirectory))
    , m_executablePath(std::move(executablePath))
    , m_environment(std::move(environment))
{
}

QString XdgAutostartLoginItem::defaultAutostartDirectory()
{
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || !QDir::isAbsolutePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/autostart");
}

QString XdgAutostartLoginItem::execValue(const QString& executablePath, const QStringList& environment)
{
    QStringList arguments;
    for (const QString& text : environment + QStringList { executablePath })
        arguments << quotedArgument(text);
    QString argument = arguments.join(QLatin1Char(' '));
    // GLib looks the program up before it expands "%%", so a path with "%" cannot be the program
    // itself; env receives it expanded, and sets the environment first.
    if (!environment.isEmpty() || argument.contains(QLatin1Char('%')))
        argument = QStringLiteral("env ") + argument.replace(QLatin1String("%"), QLatin1String("%%"));
    // The file's string escapes apply on top of the argument quoting.
    QString value;
    for (QChar c : argument) {
        if (c == QLatin1Char('\\'))
            value += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            value += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            value += QLatin1String("\\r");
        else
            value += c;
    }
    return value;
}

QByteArray XdgAutostartLoginItem::entryContents(const QString& executablePath, const QStringList& environment)
{
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=Tessvale\n");
    text += QStringLiteral("Comment=Dictation into any application\n");
    text += QStringLiteral("Exec=") + execValue(executablePath, environment) + QLatin1Char('\n');
    text += QStringLiteral("Icon=tessvale\n");
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

QString XdgAutostartLoginItem::entryPath() const
{
    return m_directory + QLatin1Char('/') + entryFileName();
}

LoginItemStatus XdgAutostartLoginItem::status() const
{
    QFile file(entryPath());
    if (!file.exists())
        return LoginItemStatus::notRegistered;
    if (!file.open(QIODevice::ReadOnly))
        return LoginItemStatus::unknown;
    const EntryFields fields = parseEntry(file.readAll());
    if (!fields.hasDesktopEntryGroup || fields.type != QLatin1String("Application") || fields.exec.isEmpty())
        return LoginItemStatus::unknown;
    if (fields.hidden.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
        || fields.autostartEnabled.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return LoginItemStatus::requiresApproval;
    // The desktop would run whatever Exec names; if it is gone, login starts nothing.
    const QFileInfo program(programOfExec(fields.exec));
    if (!program.isAbsolute() || !program.isFile() || !program.isExecutable())
        return LoginItemStatus::notFound;
    return LoginItemStatus::enabled;
}

PlatformResult XdgAutostartLoginItem::registerApplication()
{
    const QFileInfo executable(m_executablePath);
    if (m_executablePath.isEmpty() || !executable.isFile()) {
        qCWarning(lcLaunchAtLogin).noquote() << "Not registering: no executable at" << m_executablePath;
        return PlatformResult::failed(QStringLiteral("The application executable could not be found."));
    }
    const QString path = executable.absoluteFilePath();
    if (programOfExec(execValue(path, m_environment)) != path)
        return failedChange(
            QStringLiteral("The application's location cannot be written in an autostart entry: %1").arg(path));
    if (!QDir().mkpath(m_directory))
        return failedChange(QStringLiteral("Could not create the folder %1.").arg(m_directory));
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly) || file.write(entryContents(path, m_environment)) < 0 || !file.commit())
        return failedChange(QStringLiteral("Could not write %1: %2").arg(entryPath(), file.errorString()));
    qCInfo(lcLaunchAtLogin).noquote() << "Wrote autostart entry" << entryPath();
    return PlatformResult::ok();
}

PlatformResult XdgAutostartLoginItem::unregisterApplication()
{
    QFile file(entryPath());
    if (!file.exists())
        return PlatformResult::ok();
    if (!file.remove())
        return failedChange(QStringLiteral("Could not remove %1: %2").arg(entryPath(), file.errorString()));
    qCInfo(lcLaunchAtLogin).noquote() << "Removed autostart entry" << entryPath();
    return PlatformResult::ok();
}

} // namespace tessvale
