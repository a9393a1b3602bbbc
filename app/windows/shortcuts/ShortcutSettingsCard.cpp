#include "windows/shortcuts/ShortcutSettingsCard.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "coordinator/DictationCoordinator.h"
#include "settings/AppSettings.h"
#include "windows/rows/RowStyle.h"
#include "windows/rows/SettingsSectionCard.h"
#include "windows/shortcuts/ShortcutBindingEditorRow.h"

namespace tessvale {

ShortcutSettingsCard::ShortcutSettingsCard(
    AppSettings& settings, DictationCoordinator& coordinator, ShortcutEngineSuspension* suspension, QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_coordinator(coordinator)
{
    const ShortcutCardModel initial = model();
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_card = new SettingsSectionCard(initial.title, initial.detail, this);
    outer->addWidget(m_card);

    auto* content = new QWidget(m_card);
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(16);
    stack->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    AppSettings* store = &settings;
    m_pushToTalkRow = new ShortcutBindingEditorRow(
        initial.pushToTalk.title, initial.pushToTalk.subtitle, settings.pushToTalkShortcut(),
        DictationShortcutRole::pushToTalk,
        [store](const ShortcutBinding& binding) { store->setPushToTalkShortcut(binding); }, suspension, content);
    m_handsFreeRow = new ShortcutBindingEditorRow(
        initial.handsFree.title, initial.handsFree.subtitle, settings.handsFreeToggleShortcut(),
        DictationShortcutRole::handsFreeToggle,
        [store](const ShortcutBinding& binding) { store->setHandsFreeToggleShortcut(binding); }, suspension, content);
    stack->addWidget(m_pushToTalkRow);
    stack->addWidget(m_handsFreeRow);

    m_helpLabel = plainLabel(initial.helpText, TextStyle::footnote, true, content);
    stack->addWidget(m_helpLabel);

    m_resetButton = new QPushButton(escapedMnemonic(initial.resetTitle), content);
    m_resetButton->setProperty("prominent", true);
    m_resetButton->setDefault(false);
    m_resetButton->setAutoDefault(false);
    // A recording in progress goes on; the engine picks the pair up when the recording ends.
    connect(m_resetButton, &QPushButton::clicked, this, [store] { store->resetShortcutDefaults(); });
    stack->addWidget(m_resetButton, 0, Qt::AlignLeft);

    m_errorLabel = plainLabel(QString(), TextStyle::footnote, false, content);
    QPalette errorPalette = m_errorLabel->palette();
    errorPalette.setColor(QPalette::WindowText, QColor(0xe5, 0x48, 0x4d));
    m_errorLabel->setPalette(errorPalette);
    m_errorLabel->hide();
    stack->addWidget(m_errorLabel);
    m_card->addContent(content);

    connect(&settings, &AppSettings::pushToTalkShortcutChanged, this, &ShortcutSettingsCard::applyModel);
    connect(&settings, &AppSettings::handsFreeToggleShortcutChanged, this, &ShortcutSettingsCard::applyModel);
    connect(&coordinator, &DictationCoordinator::lastShortcutErrorChanged, this, &ShortcutSettingsCard::applyModel);
    applyModel();
}

ShortcutCardModel ShortcutSettingsCard::model() const
{
    return shortcutCardModel(
        m_settings.pushToTalkShortcut(), m_settings.handsFreeToggleShortcut(), m_coordinator.lastShortcutError());
}

void ShortcutSettingsCard::applyModel()
{
    const ShortcutCardModel m = model();
    if (m_pushToTalkRow->binding() != m_settings.pushToTalkShortcut())
        m_pushToTalkRow->setBinding(m_settings.pushToTalkShortcut());
    if (m_handsFreeRow->binding() != m_settings.handsFreeToggleShortcut())
        m_handsFreeRow->setBinding(m_settings.handsFreeToggleShortcut());
    if (m_handsFreeRow->model().subtitle != m.handsFree.subtitle)
        m_handsFreeRow->setSubtitle(m.handsFree.subtitle);
    const QString error = m.errorText.value_or(QString());
    if (m_errorLabel->text() != error)
        m_errorLabel->setText(error);
    if (m_errorLabel->isVisibleTo(this) != m.errorText.has_value())
        m_errorLabel->setVisible(m.errorText.has_value());
}

} // namespace tessvale
