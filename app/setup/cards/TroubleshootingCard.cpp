#include "setup/cards/TroubleshootingCard.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "setup/cards/SetupCardParts.h"
#include "windows/rows/RowStyle.h"
#include "windows/rows/SettingsValueRow.h"

namespace tessvale {

TroubleshootingCard::TroubleshootingCard(AppSettings& settings, QWidget* parent)
    : SettingsSectionCard(parent)
{
    auto* header = row(8);
    m_disclosure = new QToolButton;
    m_disclosure->setCheckable(true);
    m_disclosure->setArrowType(Qt::RightArrow);
    m_disclosure->setAutoRaise(true);
    m_disclosure->setAccessibleName(QStringLiteral("Troubleshooting"));
    connect(m_disclosure, &QToolButton::toggled, this, &TroubleshootingCard::disclosureToggled);
    header->addWidget(m_disclosure, 0, Qt::AlignTop);
    header->addWidget(
        new SectionIntro(QStringLiteral("Troubleshooting"),
            QStringLiteral("Advanced connection settings, focused-app diagnostics, and recent activity.")),
        1);
    contentLayout()->addLayout(header);

    m_content = new QWidget;
    auto* layout = column(18, m_content);
    layout->setContentsMargins(0, 12, 0, 0);
    layout->addLayout(buildConnection(settings));
    layout->addWidget(buildFocusedApp());
    layout->addWidget(buildActivity());

    m_loginError = redLabel();
    m_shortcutError = redLabel();
    layout->addWidget(m_loginError);
    layout->addWidget(m_shortcutError);
    m_supportLink = actionButton(this, QString(), false, SetupAction::openSupportEmail);
    m_supportLink->setFlat(true);
    m_supportLink->setCursor(Qt::PointingHandCursor);
    m_supportLink->setFont(styledFont(TextStyle::footnote, m_supportLink->font()));
    layout->addWidget(m_supportLink, 0, Qt::AlignLeft);

    addContent(m_content);
    m_content->setVisible(false);
}

QLayout* TroubleshootingCard::buildConnection(AppSettings& settings)
{
    auto* connection = column(10);
    connection->addWidget(headline(QStringLiteral("Connection")));
    m_deviceName = new QLineEdit;
    m_deviceName->setPlaceholderText(QStringLiteral("Device Name"));
    m_deviceName->setAccessibleName(QStringLiteral("Device Name"));
    connect(m_deviceName, &QLineEdit::textEdited, &settings, &AppSettings::setDeviceName);
    connection->addWidget(m_deviceName);
    m_preferDirectTyping = new QCheckBox(QStringLiteral("Prefer direct typing before the clipboard"));
    connect(m_preferDirectTyping, &QCheckBox::clicked, &settings, &AppSettings::setPreferDirectTyping);
    connection->addWidget(m_preferDirectTyping);
    auto* check = row(10);
    QPushButton* checkConnectivity
        = actionButton(this, QStringLiteral("Check Connectivity"), false, SetupAction::runConnectivityCheck);
    // The result line beside it takes the room it needs from the stretch, never from the button.
    checkConnectivity->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    check->addWidget(checkConnectivity, 0, Qt::AlignLeft);
    m_healthCheck = plainLabel(QString(), TextStyle::footnote, true);
    check->addWidget(m_healthCheck, 1);
    connection->addLayout(check);
    return connection;
}

QWidget* TroubleshootingCard::buildFocusedApp()
{
    m_focusedAppGroup = new QWidget;
    auto* focused = column(8, m_focusedAppGroup);
    focused->addWidget(headline(QStringLiteral("Focused App")));
    for (int i = 0; i < 5; ++i) {
        m_focusedApp.append(new SettingsValueRow(QString(), QString(), SettingsValueRow::diagnosticLabelWidth));
        focused->addWidget(m_focusedApp.back());
    }
    return m_focusedAppGroup;
}

QWidget* TroubleshootingCard::buildActivity()
{
    m_activityGroup = new QWidget;
    auto* activity = column(8, m_activityGroup);
    activity->addWidget(headline(QStringLiteral("Recent Activity")));
    for (int i = 0; i < 6; ++i) {
        auto* line = row(10);
        QLabel* time = plainLabel(QString(), TextStyle::caption, true);
        QFont digits = time->font();
        digits.setStyleHint(QFont::Monospace);
        digits.setFamily(QStringLiteral("monospace"));
        time->setFont(digits);
        time->setFixedWidth(88);
        time->setWordWrap(false);
        QLabel* message = plainLabel(QString(), TextStyle::footnote, false);
        line->addWidget(time, 0, Qt::AlignTop);
        line->addWidget(message, 1);
        activity->addLayout(line);
        m_activity.append(qMakePair(time, message));
    }
    return m_activityGroup;
}

void TroubleshootingCard::setExpanded(bool expanded)
{
    if (m_disclosure->isChecked() != expanded) {
        const QSignalBlocker blocker(m_disclosure);
        m_disclosure->setChecked(expanded);
    }
    m_disclosure->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    applyVisible(m_content, expanded);
}

void TroubleshootingCard::apply(const SetupTroubleshootingContent& content)
{
    if (m_deviceName->text() != content.deviceName) {
        const QSignalBlocker blocker(m_deviceName);
        m_deviceName->setText(content.deviceName);
    }
    if (m_preferDirectTyping->isChecked() != content.preferDirectTyping) {
        const QSignalBlocker blocker(m_preferDirectTyping);
        m_preferDirectTyping->setChecked(content.preferDirectTyping);
    }
    applyText(m_healthCheck, content.healthCheck);
    applyVisible(m_healthCheck, !content.healthCheck.isEmpty());
    applyDiagnostics(content);
    applyText(m_loginError, content.launchAtLoginError);
    applyVisible(m_loginError, !content.launchAtLoginError.isEmpty());
    applyText(m_shortcutError, content.shortcutError);
    applyVisible(m_shortcutError, !content.shortcutError.isEmpty());
    applyButtonText(m_supportLink, content.supportLinkText);
}

void TroubleshootingCard::applyDiagnostics(const SetupTroubleshootingContent& content)
{
    applyVisible(m_focusedAppGroup, !content.focusedApp.isEmpty());
    for (int i = 0; i < m_focusedApp.size() && i < content.focusedApp.size(); ++i) {
        applyText(m_focusedApp[i]->labelLabel(), content.focusedApp[i].label);
        m_focusedApp[i]->setValue(content.focusedApp[i].value);
    }
    applyVisible(m_activityGroup, !content.activity.isEmpty());
    for (int i = 0; i < m_activity.size(); ++i) {
        const bool shown = i < content.activity.size();
        applyVisible(m_activity[i].first, shown);
        applyVisible(m_activity[i].second, shown);
        if (shown) {
            applyText(m_activity[i].first, content.activity[i].time);
            applyText(m_activity[i].second, content.activity[i].message);
        }
    }
}

} // namespace tessvale
