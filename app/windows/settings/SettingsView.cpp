#include "windows/settings/SettingsView.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "coordinator/DictationCoordinator.h"
#include "settings/AppSettings.h"
#include "system/LaunchAtLoginService.h"
#include "windows/KeyboardNavigation.h"
#include "windows/rows/RowStyle.h"
#include "windows/rows/SettingsPickerRow.h"
#include "windows/rows/SettingsSectionCard.h"
#include "windows/rows/SettingsToggleRow.h"
#include "windows/rows/SettingsValueRow.h"

namespace tessvale {

namespace {

QWidget* stack(int spacing, QVBoxLayout** layout, QWidget* parent)
{
    auto* widget = new QWidget(parent);
    *layout = new QVBoxLayout(widget);
    (*layout)->setContentsMargins(0, 0, 0, 0);
    (*layout)->setSpacing(spacing);
    return widget;
}

QLabel* secondaryText(const QString& text, TextStyle style, QWidget* parent)
{
    return plainLabel(text, style, true, parent);
}

void setShown(QWidget* widget, bool shown)
{
    if (widget->isHidden() == shown)
        widget->setVisible(shown);
}

void applyButton(QPushButton* button, const QString& title, bool enabled)
{
    const QString text = escapedMnemonic(title);
    if (button->text() != text)
        button->setText(text);
    if (button->isEnabled() != enabled)
        button->setEnabled(enabled);
}

} // namespace

SettingsView::SettingsView(
    AppSettings& settings, DictationCoordinator& coordinator, LaunchAtLoginService& launchAtLogin, QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_coordinator(coordinator)
    , m_launchAtLoginService(launchAtLogin)
{
    setMinimumSize(minimumWidth, minimumHeight);
    setStyleSheet(pushButtonStyleSheet());

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // No Tab stop of its own: the focused control scrolls into view, and the wheel and the scroll bar
    // scroll the page.
    scroll->setFocusPolicy(Qt::NoFocus);
    // The window's gradient shows through.
    scroll->viewport()->setAutoFillBackground(false);

    auto* column = new QWidget;
    column->setAutoFillBackground(false);
    m_column = new QVBoxLayout(column);
    m_column->setContentsMargins(24, 24, 24, 24);
    m_column->setSpacing(20);

    QVBoxLayout* headerLayout = nullptr;
    QWidget* header = stack(6, &headerLayout, column);
    QLabel* title = plainLabel(QStringLiteral("Preferences"), TextStyle::body, false, header);
    QFont titleFont = title->font();
    titleFont.setPixelSize(28);
    titleFont.setWeight(QFont::Bold);
    title->setFont(titleFont);
    headerLayout->addWidget(title);
    headerLayout->addWidget(
        secondaryText(QStringLiteral("Keep the day-to-day controls simple. Everything else lives under Advanced."),
            TextStyle::body, header));
    m_column->addWidget(header);
    m_column->addWidget(buildGeneral());
    m_column->addWidget(buildAccount());
    m_column->addWidget(buildUpdates());
    m_column->addWidget(buildPersonalTerms());
    m_column->addWidget(buildAdvanced());
    m_column->addStretch(1);
    scroll->setWidget(column);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->addWidget(scroll);

    const auto changed = [this] { refresh(); };
    connect(&m_coordinator, &DictationCoordinator::stateChanged, this, changed);
    connect(&m_launchAtLoginService, &LaunchAtLoginService::isEnabledChanged, this, changed);
    connect(&m_launchAtLoginService, &LaunchAtLoginService::statusDescriptionChanged, this, changed);
    connect(&m_settings, &AppSettings::preferredMicrophoneUIDChanged, this, changed);
    connect(&m_settings, &AppSettings::restoreClipboardChanged, this, changed);
    connect(&m_settings, &AppSettings::appendTrailingSpaceChanged, this, changed);
    connect(&m_settings, &AppSettings::restoreOriginalInputAfterDictationChanged, this, changed);
    connect(&m_settings, &AppSettings::preferDirectTypingChanged, this, changed);
    connect(&m_settings, &AppSettings::deviceNameChanged, this, changed);
    refresh();
}

QWidget* SettingsView::buildGeneral()
{
    auto* card = new SettingsSectionCard(
        QStringLiteral("General"), QStringLiteral("The defaults most people will actually care about."));
    QVBoxLayout* layout = nullptr;
    QWidget* body = stack(14, &layout, card);
    m_microphone = new SettingsPickerRow(QStringLiteral("Microphone"),
        QStringLiteral("Use the system default microphone, or choose a specific input device."), body);
    m_launchAtLogin = new SettingsToggleRow(
        QStringLiteral("Launch at login"), QString(), SettingsToggleRow::Style::switchControl, body);
    m_restoreClipboard = new SettingsToggleRow(QStringLiteral("Restore clipboard after paste"),
        QStringLiteral("Put your previous clipboard contents back after dictation inserts text."),
        SettingsToggleRow::Style::switchControl, body);
    m_appendTrailingSpace = new SettingsToggleRow(QStringLiteral("Append trailing space"),
        QStringLiteral("Add a space after inserted transcript text."), SettingsToggleRow::Style::switchControl, body);
    m_restoreOriginalInput = new SettingsToggleRow(QStringLiteral("Return to original input field"),
        QStringLiteral(
            "After dictation, put text back into the field where you started, even if you switched windows."),
        SettingsToggleRow::Style::switchControl, body);
    for (QWidget* row : { static_cast<QWidget*>(m_microphone), static_cast<QWidget*>(m_launchAtLogin),
             static_cast<QWidget*>(m_restoreClipboard), static_cast<QWidget*>(m_appendTrailingSpace),
             static_cast<QWidget*>(m_restoreOriginalInput) })
        layout->addWidget(row);
    card->addContent(body);

    connect(m_microphone, &SettingsPickerRow::selectionChosen, this,
        [this](const QString& uid) { m_settings.setPreferredMicrophoneUID(uid); });
    // The service registers the login item; a refused change leaves its refreshed value, which
    // the switch shows again.
    connect(m_launchAtLogin, &SettingsToggleRow::toggledByUser, this, [this](bool on) {
        m_launchAtLoginService.setEnabled(on);
        refresh();
    });
    connect(m_restoreClipboard, &SettingsToggleRow::toggledByUser, this,
        [this](bool on) { m_settings.setRestoreClipboard(on); });
    connect(m_appendTrailingSpace, &SettingsToggleRow::toggledByUser, this,
        [this](bool on) { m_settings.setAppendTrailingSpace(on); });
    connect(m_restoreOriginalInput, &SettingsToggleRow::toggledByUser, this,
        [this](bool on) { m_settings.setRestoreOriginalInputAfterDictation(on); });
    return card;
}

QWidget* SettingsView::buildAccount()
{
    auto* card
        = new SettingsSectionCard(QStringLiteral("Account"), QStringLiteral("Current sign-in and device identity."));
    QVBoxLayout* layout = nullptr;
    QWidget* body = stack(12, &layout, card);
    m_statusRow = new SettingsValueRow(QStringLiteral("Status"), QString(), SettingsValueRow::settingsLabelWidth, body);
    m_emailRow = new SettingsValueRow(QStringLiteral("Email"), QString(), SettingsValueRow::settingsLabelWidth, body);
    m_deviceRow = new SettingsValueRow(QStringLiteral("Device"), QString(), SettingsValueRow::settingsLabelWidth, body);
    m_signInRow = new SettingsValueRow(QStringLiteral("Sign-In"), QStringLiteral("Waiting for browser callback"),
        SettingsValueRow::settingsLabelWidth, body);
    m_setupHint = secondaryText(
        QStringLiteral("Use the setup window to continue sign-in in your browser."), TextStyle::subheadline, body);
    for (QWidget* row :
        { static_cast<QWidget*>(m_statusRow), static_cast<QWidget*>(m_emailRow), static_cast<QWidget*>(m_deviceRow),
            static_cast<QWidget*>(m_signInRow), static_cast<QWidget*>(m_setupHint) })
        layout->addWidget(row);
    card->addContent(body);
    return card;
}

QWidget* SettingsView::buildUpdates()
{
    auto* card = new SettingsSectionCard(
        QStringLiteral("Updates"), QStringLiteral("Check for new versions from your configured Tessvale cloud."));
    QVBoxLayout* layout = nullptr;
    QWidget* body = stack(12, &layout, card);
    m_installedRow
        = new SettingsValueRow(QStringLiteral("Installed"), QString(), SettingsValueRow::settingsLabelWidth, body);
    m_latestRow = new SettingsValueRow(QStringLiteral("Latest"), QString(), SettingsValueRow::settingsLabelWidth, body);
    // A long failure wraps rather than being cut.
    m_updateStatus = secondaryText(QString(), TextStyle::subheadline, body);
    m_releaseNotes = secondaryText(QString(), TextStyle::footnote, body);
    makeSelectable(m_releaseNotes);
    m_downloadButton = new QPushButton(escapedMnemonic(QStringLiteral("Download New Version")), body);
    m_downloadButton->setDefault(true);
    m_downloadButton->setProperty("prominent", true);
    m_checkButton = new QPushButton(escapedMnemonic(QStringLiteral("Check for Updates")), body);
    m_checkButton->setProperty("prominent", false);
    layout->addWidget(m_installedRow);
    layout->addWidget(m_latestRow);
    layout->addWidget(m_updateStatus);
    layout->addWidget(m_releaseNotes);
    layout->addWidget(m_downloadButton, 0, Qt::AlignLeft);
    layout->addWidget(m_checkButton, 0, Qt::AlignLeft);
    card->addContent(body);

    connect(m_downloadButton, &QPushButton::clicked, this, [this] { m_coordinator.openAvailableUpdate(); });
    connect(m_checkButton, &QPushButton::clicked, this, [this] { m_coordinator.checkForUpdates(); });
    return card;
}

QWidget* SettingsView::buildPersonalTerms()
{
    auto* card = new SettingsSectionCard(QStringLiteral("Personal Terms"),
        QStringLiteral("Add product names, people, and custom terms to keep your transcripts accurate."));
    card->addContent(secondaryText(
        QStringLiteral("Glossary editing is available in the Tessvale dashboard. In-app editing is coming soon."),
        TextStyle::subheadline, card));
    return card;
}

QWidget* SettingsView::buildAdvanced()
{
    auto* card = new SettingsSectionCard(
        QStringLiteral("Advanced"), QStringLiteral("Connection and insertion behavior for debugging or support."));
    m_disclosure = new QToolButton(card);
    m_disclosure->setText(QStringLiteral("Show advanced settings"));
    m_disclosure->setCheckable(true);
    m_disclosure->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_disclosure->setArrowType(Qt::RightArrow);
    m_disclosure->setAutoRaise(true);
    m_disclosure->setFont(styledFont(TextStyle::bodyMedium, m_disclosure->font()));
    card->addContent(m_disclosure);

    QVBoxLayout* layout = nullptr;
    m_advanced = stack(14, &layout, card);
    layout->setContentsMargins(0, 12, 0, 0);
    m_deviceNameField = new QLineEdit(m_advanced);
    m_deviceNameField->setPlaceholderText(QStringLiteral("Device Name"));
    m_deviceNameField->setAccessibleName(QStringLiteral("Device Name"));
    m_preferDirectTyping = new QCheckBox(QStringLiteral("Prefer direct typing before the clipboard"), m_advanced);
    auto* divider = new QFrame(m_advanced);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    m_microphonePermissionRow = new SettingsValueRow(
        QStringLiteral("Microphone"), QString(), SettingsValueRow::settingsLabelWidth, m_advanced);
    m_accessibilityRow = new SettingsValueRow(
        QStringLiteral("Accessibility"), QString(), SettingsValueRow::settingsLabelWidth, m_advanced);
    m_focusedAppRow = new SettingsValueRow(
        QStringLiteral("Focused App"), QString(), SettingsValueRow::settingsLabelWidth, m_advanced);
    for (QWidget* row : { static_cast<QWidget*>(m_deviceNameField), static_cast<QWidget*>(m_preferDirectTyping),
             static_cast<QWidget*>(divider), static_cast<QWidget*>(m_microphonePermissionRow),
             static_cast<QWidget*>(m_accessibilityRow), static_cast<QWidget*>(m_focusedAppRow) })
        layout->addWidget(row);
    m_advanced->setVisible(false);
    card->addContent(m_advanced);

    connect(m_disclosure, &QToolButton::toggled, this, &SettingsView::setAdvancedOpen);
    // Every edit is written at once; the refresh it causes finds the same text and leaves the
    // field (and its cursor) alone.
    connect(m_deviceNameField, &QLineEdit::textEdited, this,
        [this](const QString& text) { m_settings.setDeviceName(text); });
    connect(m_preferDirectTyping, &QCheckBox::clicked, this, [this](bool on) { m_settings.setPreferDirectTyping(on); });
    return card;
}

void SettingsView::setShortcutsCard(QWidget* card)
{
    if (m_shortcutsCard)
        m_shortcutsCard->deleteLater();
    m_shortcutsCard = card;
    if (!card)
        return;
    m_column->insertWidget(1, card);
    putInTabChainAfterTheRest(card);
}

bool SettingsView::isAdvancedOpen() const
{
    return m_disclosure->isChecked();
}

void SettingsView::setAdvancedOpen(bool open)
{
    if (m_disclosure->isChecked() != open) {
        const QSignalBlocker blocker(m_disclosure);
        m_disclosure->setChecked(open);
    }
    m_disclosure->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    setShown(m_advanced, open);
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A device plugged in, or a login item changed, while the window was away shows now.
    m_launchAtLoginService.refresh();
    m_coordinator.refreshAudioInputDevices();
    refresh();
}

void SettingsView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient gradient(rect().topLeft(), rect().bottomLeft());
    gradient.setColorAt(0, palette().color(QPalette::Window));
    gradient.setColorAt(1, palette().color(QPalette::Window).darker(108));
    painter.fillRect(rect(), gradient);
}

void SettingsView::refresh()
{
    apply(settingsContent(SettingsInput::from(m_settings, m_coordinator, m_launchAtLoginService)));
}

void SettingsView::apply(const SettingsContent& content)
{
    // Every control compares with what it shows itself, not with the last content: a click the
    // service refused leaves the switch differing from an unchanged content.
    m_content = content;

    m_microphone->setOptions(content.microphoneOptions);
    m_microphone->setSelection(content.microphoneSelection);
    m_launchAtLogin->setChecked(content.launchAtLoginChecked);
    m_launchAtLogin->setSubtitle(content.launchAtLoginSubtitle);
    m_restoreClipboard->setChecked(content.restoreClipboard);
    m_appendTrailingSpace->setChecked(content.appendTrailingSpace);
    m_restoreOriginalInput->setChecked(content.restoreOriginalInputAfterDictation);

    m_statusRow->setValue(content.accountStatus);
    m_emailRow->setValue(content.accountEmail);
    m_deviceRow->setValue(content.accountDeviceName);
    setShown(m_emailRow, content.accountDetail == AccountDetail::account);
    setShown(m_deviceRow, content.accountDetail == AccountDetail::account);
    setShown(m_signInRow, content.accountDetail == AccountDetail::waitingForBrowser);
    setShown(m_setupHint, content.accountDetail == AccountDetail::setupHint);

    m_installedRow->setValue(content.installedVersion);
    m_latestRow->setValue(content.latestVersion);
    setShown(m_latestRow, content.showsLatest);
    applyText(m_updateStatus, content.updateStatus);
    applyText(m_releaseNotes, content.releaseNotes);
    setShown(m_releaseNotes, !content.releaseNotes.isEmpty());
    setShown(m_downloadButton, content.showsDownloadButton);
    applyButton(m_checkButton, content.checkButtonTitle, content.checkButtonEnabled);

    if (m_deviceNameField->text() != content.deviceName) {
        const QSignalBlocker blocker(m_deviceNameField);
        m_deviceNameField->setText(content.deviceName);
    }
    if (m_preferDirectTyping->isChecked() != content.preferDirectTyping) {
        const QSignalBlocker blocker(m_preferDirectTyping);
        m_preferDirectTyping->setChecked(content.preferDirectTyping);
    }
    m_microphonePermissionRow->setValue(content.microphonePermission);
    m_accessibilityRow->setValue(content.accessibilityPermission);
    m_focusedAppRow->setValue(content.focusedApp);
}

} // namespace tessvale
