#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace tessvale::testing {

// Runs a program of the private desktop until destroyed, and waits for things on the real event loop.
class DesktopProcess
{
public:
    DesktopProcess();
    ~DesktopProcess();
    DesktopProcess(const DesktopProcess&) = delete;
    DesktopProcess& operator=(const DesktopProcess&) = delete;

    bool start(const QString& program, const QStringList& arguments, const QStringList& extraEnvironment = {});
    // The helper programs print a line starting with READY once they serve: waits for it and returns
    // what follows READY on that line (nothing when the program never got there).
    std::optional<QByteArray> waitForReadyLine(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    qint64 processId() const;
    QProcess& process() { return m_process; }
    void kill();

private:
    QProcess m_process;
};

// tessvale-text-target (found with helperProgramPath): one focused text field whose content is
// reported to a file after every change. program may name the GTK 3 one, tessvale-gtk-text-target
// (which takes no initial text).
class TextTargetProcess
{
public:
    explicit TextTargetProcess(QString title = QStringLiteral("Tessvale Text Target"), bool multiline = false,
        QString initialText = {}, QString program = QStringLiteral("tessvale-text-target"));

    // Starts the target and waits until it printed READY and its window is the active one and has the
    // keyboard focus.
    bool start(int timeoutMs = 60000);
    qint64 processId() const { return m_process.processId(); }
    quint64 windowId() const { return m_windowId; }
    QString text() const;
    // Waits until the reported text equals expected (or the time is up); returns the last text.
    QString waitForText(const QString& expected, int timeoutMs = 60000) const;
    void kill() { m_process.kill(); }

private:
    QString m_title;
    bool m_multiline;
    QString m_initialText;
    QString m_program;
    QTemporaryDir m_dir;
    DesktopProcess m_process;
    quint64 m_windowId = 0;
};

// Whether the private desktop's X server is there (tests skip without it).
bool hasDesktop();
// The id of the active window per _NET_ACTIVE_WINDOW, 0 when none.
quint64 activeWindowId();

} // namespace tessvale::testing
