#include "support/focus/TextTargetProcess.h"

#include <chrono>

#include <QFile>
#include <QProcessEnvironment>

#include "platform/linux/X11Connection.h"
#include "platform/linux/focus/EwmhWindowSystem.h"
#include "support/HelperPrograms.h"
#include "support/async/EventLoopWaits.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace tessvale::testing {

DesktopProcess::DesktopProcess() = default;

DesktopProcess::~DesktopProcess()
{
    kill();
}

bool DesktopProcess::start(const QString& program, const QStringList& arguments, const QStringList& extraEnvironment)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : extraEnvironment)
        environment.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(program, arguments);
    return m_process.waitForStarted(60000);
}

std::optional<QByteArray> DesktopProcess::waitForReadyLine(std::chrono::milliseconds timeout)
{
    QByteArray output;
    const bool ready = waitUntil(
        [&] {
            output += m_process.readAllStandardOutput();
            return output.contains('\n') || m_process.state() == QProcess::NotRunning;
        },
        timeout);
    if (!ready || !output.startsWith("READY"))
        return std::nullopt;
    return output.left(output.indexOf('\n')).mid(5).trimmed();
}

qint64 DesktopProcess::processId() const
{
    return m_process.processId();
}

void DesktopProcess::kill()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(60000);
    }
}

TextTargetProcess::TextTargetProcess(QString title, bool multiline, QString initialText, QString program)
    : m_title(std::move(title))
    , m_multiline(multiline)
    , m_initialText(std::move(initialText))
    , m_program(std::move(program))
{
}

bool TextTargetProcess::start(int timeoutMs)
{
    QStringList arguments { QStringLiteral("--report"), m_dir.filePath(QStringLiteral("report.txt")),
        QStringLiteral("--title"), m_title };
    if (m_multiline)
        arguments << QStringLiteral("--multiline");
    if (!m_initialText.isEmpty())
        arguments << QStringLiteral("--text") << m_initialText;
    if (!m_process.start(helperProgramPath(m_program), arguments))
        return false;
    const std::optional<QByteArray> ready = m_process.waitForReadyLine(std::chrono::milliseconds(timeoutMs));
    if (!ready)
        return false;
    m_windowId = ready->toULongLong();
    // The window manager may name the window active before or after it moves the input focus there,
    // and the keys go where the input focus is.
    EwmhWindowSystem windows;
    return waitUntil(
        [&] {
            const std::optional<KeyboardFocusWindow> keys = windows.keyboardFocusWindow();
            return activeWindowId() == m_windowId && keys && keys->windowId == m_windowId;
        },
        std::chrono::milliseconds(timeoutMs));
}

QString TextTargetProcess::text() const
{
    QFile file(m_dir.filePath(QStringLiteral("report.txt")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QString TextTargetProcess::waitForText(const QString& expected, int timeoutMs) const
{
    QString last;
    waitUntil(
        [&] {
            last = text();
            return last == expected;
        },
        std::chrono::milliseconds(timeoutMs));
    return last;
}

bool hasDesktop()
{
    return X11Connection::open() != nullptr;
}

quint64 activeWindowId()
{
    const auto connection = X11Connection::open();
    if (!connection)
        return 0;
    Display* display = connection->display();
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    quint64 window = 0;
    if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_ACTIVE_WINDOW", False), 0, 1,
            False, XA_WINDOW, &type, &format, &count, &after, &data)
            == Success
        && data) {
        if (count > 0)
            window = *reinterpret_cast<unsigned long*>(data);
        XFree(data);
    }
    return window;
}

} // namespace tessvale::testing
