#pragma once

#include <QWidget>

#include "windows/settings/SettingsViewModel.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace tessvale {

class AppSettings;
class DictationCoordinator;
class LaunchAtLoginService;
class SettingsPickerRow;
class SettingsToggleRow;
class SettingsValueRow;

// The Settings window's content: one scrolling column of cards over the settings store, the
// login-item service and the coordinator. It keeps nothing of its own but whether the advanced
// section is open; every control shows the shared state and writes it only on the user's action.
class SettingsView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int minimumWidth = 480;
    static constexpr int minimumHeight = 320;

    SettingsView(AppSettings& settings, DictationCoordinator& coordinator, LaunchAtLoginService& launchAtLogin,
        QWidget* parent = nullptr);

    // The shortcuts card, placed below the header.
    void setShortcutsCard(QWidget* card);

    // Reads the shared state and applies it.
    void refresh();
    const SettingsContent& content() const { return m_content; }

    bool isAdvancedOpen() const;
    void setAdvancedOpen(bool open);

    SettingsPickerRow* microphonePicker() const { return m_microphone; }
    SettingsToggleRow* launchAtLoginRow() const { return m_launchAtLogin; }
    SettingsToggleRow* restoreClipboardRow() const { return m_restoreClipboard; }
    QLineEdit* deviceNameField() const { return m_deviceNameField; }
    QCheckBox* preferDirectTypingBox() const { return m_preferDirectTyping; }
    QPushButton* checkForUpdatesButton() const { return m_checkButton; }
    QPushButton* downloadButton() const { return m_downloadButton; }
    QLabel* releaseNotesLabel() const { return m_releaseNotes; }
    QLabel* updateStatusLabel() const { return m_updateStatus; }
    SettingsValueRow* accountEmailRow() const { return m_emailRow; }
    SettingsValueRow* accountDeviceRow() const { return m_deviceRow; }
    SettingsValueRow* focusedAppRow() const { return m_focusedAppRow; }

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildGeneral();
    QWidget* buildAccount();
    QWidget* buildUpdates();
    QWidget* buildPersonalTerms();
    QWidget* buildAdvanced();
    void apply(const SettingsContent& content);

    AppSettings& m_settings;
    DictationCoordinator& m_coordinator;
    LaunchAtLoginService& m_launchAtLoginService;
    SettingsContent m_content;

    QVBoxLayout* m_column = nullptr;
    QWidget* m_shortcutsCard = nullptr;

    SettingsPickerRow* m_microphone = nullptr;
    SettingsToggleRow* m_launchAtLogin = nullptr;
    SettingsToggleRow* m_restoreClipboard = nullptr;
    SettingsToggleRow* m_appendTrailingSpace = nullptr;
    SettingsToggleRow* m_restoreOriginalInput = nullptr;

    SettingsValueRow* m_statusRow = nullptr;
    SettingsValueRow* m_emailRow = nullptr;
    SettingsValueRow* m_deviceRow = nullptr;
    SettingsValueRow* m_signInRow = nullptr;
    QLabel* m_setupHint = nullptr;

    SettingsValueRow* m_installedRow = nullptr;
    SettingsValueRow* m_latestRow = nullptr;
    QLabel* m_updateStatus = nullptr;
    QLabel* m_releaseNotes = nullptr;
    QPushButton* m_downloadButton = nullptr;
    QPushButton* m_checkButton = nullptr;

    QToolButton* m_disclosure = nullptr;
    QWidget* m_advanced = nullptr;
    QLineEdit* m_deviceNameField = nullptr;
    QCheckBox* m_preferDirectTyping = nullptr;
    SettingsValueRow* m_microphonePermissionRow = nullptr;
    SettingsValueRow* m_accessibilityRow = nullptr;
    SettingsValueRow* m_focusedAppRow = nullptr;
};

} // namespace tessvale
