#pragma once

#include <memory>

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QString>

class QVBoxLayout;
class QWidget;

namespace tessvale {

class AppSettings;
class DictationCoordinator;
class LaunchAtLoginService;

// What the setup and Settings windows' controllers share: the services their views show, and a
// normal window (title bar, close, minimize and resize) built on first use and then kept, so closing
// it only hides it and the next presentation shows the same window where the user left it.
class AppWindowController : public QObject
{
    Q_OBJECT

public:
    ~AppWindowController() override;

    // The window if it was built.
    QWidget* window() const { return m_window.get(); }

    AppSettings& settings() const { return m_settings; }
    DictationCoordinator& coordinator() const { return m_coordinator; }
    LaunchAtLoginService& launchAtLogin() const { return m_launchAtLogin; }

protected:
    AppWindowController(
        AppSettings& settings, DictationCoordinator& coordinator, LaunchAtLoginService& launchAtLogin, QObject* parent);

    // Builds the window, which each of closeKeys closes; the layout its view fills, edge to edge.
    QVBoxLayout* buildWindow(const QString& title, const QList<QKeySequence>& closeKeys);

    AppSettings& m_settings;
    DictationCoordinator& m_coordinator;
    LaunchAtLoginService& m_launchAtLogin;
    std::unique_ptr<QWidget> m_window;
};

} // namespace tessvale
