#include "setup/SetupView.h"

#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include "coordinator/DictationCoordinator.h"
#include "settings/AppSettings.h"
#include "setup/cards/BrowserSignInCard.h"
#include "setup/cards/ChecklistCard.h"
#include "setup/cards/GetStartedCard.h"
#include "setup/cards/LatestTranscriptCard.h"
#include "setup/cards/PermissionsCard.h"
#include "setup/cards/PersonalTermsCard.h"
#include "setup/cards/ReadyCard.h"
#include "setup/cards/SetupCardParts.h"
#include "setup/cards/SetupErrorBanner.h"
#include "setup/cards/SetupHeroCard.h"
#include "setup/cards/SetupPreferencesCard.h"
#include "setup/cards/TroubleshootingCard.h"
#include "system/LaunchAtLoginService.h"
#include "windows/KeyboardNavigation.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

namespace {

// The scroll content: the window colour at the top fading to a slightly deeper one at the bottom.
class GradientBackground final : public QWidget
{
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QLinearGradient gradient(0, 0, 0, height());
        const QColor top = palette().color(QPalette::Window);
        gradient.setColorAt(0, top);
        gradient.setColorAt(1, top.lightness() > 128 ? top.darker(106) : top.lighter(118));
        painter.fillRect(rect(), gradient);
    }
};

} // namespace

SetupView::SetupView(
    AppSettings& settings, DictationCoordinator& coordinator, LaunchAtLoginService& launchAtLogin, QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_coordinator(coordinator)
    , m_launchAtLoginService(launchAtLogin)
{
    // The window sets the minimum, which a small screen lowers; the content scrolls.
    setStyleSheet(pushButtonStyleSheet());
    QWidget* content = buildContent();
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No Tab stop of its own: the focused control scrolls into view.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidget(content);
    auto* outer = column(0, this);
    outer->addWidget(m_scroll);

    connect(&m_coordinator, &DictationCoordinator::stateChanged, this, &SetupView::scheduleRefresh);
    connect(&m_settings, &AppSettings::objectWillChange, this, &SetupView::scheduleRefresh);
    connect(&m_launchAtLoginService, &LaunchAtLoginService::isEnabledChanged, this, &SetupView::scheduleRefresh);
    connect(
        &m_launchAtLoginService, &LaunchAtLoginService::statusDescriptionChanged, this, &SetupView::scheduleRefresh);
    connect(&m_launchAtLoginService, &LaunchAtLoginService::lastErrorChanged, this, &SetupView::scheduleRefresh);
    refresh();
}

SetupView::~SetupView() = default;

template <typename Card> Card* SetupView::withActions(Card* card)
{
    connect(card, &Card::actionRequested, this, &SetupView::perform);
    return card;
}

QWidget* SetupView::buildContent()
{
    auto* content = new GradientBackground;
    auto* stack = column(20, content);
    stack->setContentsMargins(24, 24, 24, 24);
    auto add = [&](SetupSection section, QWidget* widget) {
        m_sections.append(qMakePair(section, widget));
        stack->addWidget(widget);
    };
    add(SetupSection::hero, m_hero = new SetupHeroCard(this));
    add(SetupSection::errorBanner, m_errorBanner = withActions(new SetupErrorBanner(this)));
    add(SetupSection::browserSignIn, m_browserSignIn = withActions(new BrowserSignInCard(this)));
    add(SetupSection::getStarted, m_getStarted = withActions(new GetStartedCard(this)));
    add(SetupSection::checklist, m_checklist = withActions(new ChecklistCard(this)));
    add(SetupSection::readyCard, m_readyCard = withActions(new ReadyCard(this)));
    add(SetupSection::latestTranscript, m_latestTranscript = new LatestTranscriptCard(this));
    auto* shortcuts = new QWidget;
    m_shortcutsSlot = column(0, shortcuts);
    add(SetupSection::shortcuts, shortcuts);
    add(SetupSection::permissions, m_permissions = withActions(new PermissionsCard(this)));
    add(SetupSection::preferences, m_preferences = new SetupPreferencesCard(m_settings, this));
    connect(m_preferences, &SetupPreferencesCard::launchAtLoginChosen, this, [this](bool on) {
        m_launchAtLoginService.setEnabled(on);
        refresh();
    });
    add(SetupSection::personalTerms, new PersonalTermsCard(this));
    add(SetupSection::troubleshooting, m_troubleshooting = withActions(new TroubleshootingCard(m_settings, this)));
    connect(m_troubleshooting, &TroubleshootingCard::disclosureToggled, this, &SetupView::setShowTroubleshooting);
    stack->addStretch(1);
    return content;
}

void SetupView::setShortcutsCard(QWidget* card)
{
    while (QLayoutItem* item = m_shortcutsSlot->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (card)
        m_shortcutsSlot->addWidget(card);
    putInTabChainAfterTheRest(sectionWidget(SetupSection::shortcuts));
    refresh();
}

void SetupView::setShowTroubleshooting(bool expanded)
{
    m_showTroubleshooting = expanded;
    m_troubleshooting->setExpanded(expanded);
}

bool SetupView::isSectionShown(SetupSection section) const
{
    QWidget* widget = sectionWidget(section);
    return widget && !widget->isHidden();
}

QWidget* SetupView::sectionWidget(SetupSection section) const
{
    for (const auto& [key, widget] : m_sections) {
        if (key == section)
            return widget;
    }
    return nullptr;
}

QPushButton* SetupView::primaryButton() const
{
    return m_getStarted->primaryButton();
}

QPushButton* SetupView::checklistButton() const
{
    return m_checklist->checklistButton();
}

QLineEdit* SetupView::deviceNameField() const
{
    return m_troubleshooting->deviceNameField();
}

SettingsToggleRow* SetupView::launchAtLoginRow() const
{
    return m_preferences->launchAtLoginRow();
}

SettingsPickerRow* SetupView::microphonePicker() const
{
    return m_preferences->microphonePicker();
}

QLabel* SetupView::latestTranscriptLabel() const
{
    return m_latestTranscript->transcriptLabel();
}

void SetupView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // What may have changed while the window was away: the login item, the devices, the permissions.
    m_launchAtLoginService.refresh();
    m_coordinator.refreshAudioInputDevices();
    m_coordinator.refreshPermissionsOnActivation();
    refresh();
    // The next step is one key away, unless the user is already working in the window.
    focusFirstControl(this);
}

void SetupView::scheduleRefresh()
{
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QMetaObject::invokeMethod(this, &SetupView::refresh, Qt::QueuedConnection);
}

void SetupView::perform(SetupAction action)
{
    performSetupAction(action, m_settings, m_coordinator);
}

void SetupView::refresh()
{
    m_refreshPending = false;
    m_content = setupContent(SetupInput::from(m_settings, m_coordinator, m_launchAtLoginService));
    const SetupContent& c = m_content;

    for (const auto& [section, widget] : m_sections)
        applyVisible(widget, c.has(section) && (section != SetupSection::shortcuts || m_shortcutsSlot->count() > 0));

    m_hero->apply(c.hero);
    m_errorBanner->apply(c.errorBanner);
    m_getStarted->apply(c.getStarted);
    m_checklist->apply(c.checklist);
    m_readyCard->apply(c.readyCard);
    m_browserSignIn->apply(c.browserSignIn);
    m_latestTranscript->apply(c.latestTranscript);
    m_permissions->apply(c.permissions);
    m_preferences->apply(c.preferences);
    m_troubleshooting->apply(c.troubleshooting);
}

} // namespace tessvale
