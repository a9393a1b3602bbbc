#include "setup/SetupView.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "coordinator/DictationCoordinator.h"
#include "icons/SymbolIcons.h"
#include "settings/AppSettings.h"
#include "setup/SetupBlocks.h"
#include "system/LaunchAtLoginService.h"
#include "windows/KeyboardNavigation.h"
#include "windows/rows/RowStyle.h"
#include "windows/rows/SettingsPickerRow.h"
#include "windows/rows/SettingsSectionCard.h"
#include "windows/rows/SettingsToggleRow.h"
#include "windows/rows/SettingsValueRow.h"

namespace tessvale {

namespace {

void applyVisible(QWidget* widget, bool visible)
{
    if (widget->isHidden() == visible)
        widget->setVisible(visible);
}

void applyButtonText(QPushButton* button, const QString& title)
{
    const QString text = escapedMnemonic(title);
    if (button->text() != text)
        button->setText(text);
}

void applyEnabled(QWidget* widget, bool enabled)
{
    if (widget->isEnabled() != enabled)
        widget->setEnabled(enabled);
}

QVBoxLayout* column(int spacing, QWidget* parent = nullptr)
{
    auto* layout = new QVBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

QHBoxLayout* row(int spacing)
{
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

SettingsSectionCard* card(int spacing)
{
    auto* result = new SettingsSectionCard;
    result->contentLayout()->setSpacing(spacing);
    return result;
}

QLabel* redLabel()
{
    QLabel* label = plainLabel(QString(), TextStyle::footnote, false);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, setupTintColor(SetupTint::red, palette));
    label->setPalette(palette);
    return label;
}

QLabel* headline(const QString& text)
{
    return plainLabel(text, TextStyle::bodySemibold, false);
}

// A rounded panel with a translucent fill and an optional outline.
class Panel final : public QWidget
{
public:
    Panel(std::optional<SetupTint> tint, qreal radius, qreal fillAlpha, qreal strokeAlpha)
        : m_tint(tint)
        , m_radius(radius)
        , m_fillAlpha(fillAlpha)
        , m_strokeAlpha(strokeAlpha)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor base = m_tint ? setupTintColor(*m_tint, palette()) : palette().color(QPalette::WindowText);
        QColor fill = base;
        fill.setAlphaF(m_fillAlpha);
        painter.setBrush(fill);
        if (m_strokeAlpha > 0) {
            QColor stroke = base;
            stroke.setAlphaF(m_strokeAlpha);
            painter.setPen(QPen(stroke, 1));
        } else {
            painter.setPen(Qt::NoPen);
        }
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
    }

private:
    std::optional<SetupTint> m_tint;
    qreal m_radius;
    qreal m_fillAlpha;
    qreal m_strokeAlpha;
};

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

QLabel* symbolLabel(
    const QString& name, const QString& spoken, SetupTint tint, int size, const QPalette& palette, qreal ratio)
{
    auto* label = new QLabel;
    label->setAccessibleName(spoken);
    label->setPixmap(tintedSymbolPixmap(name, setupTintColor(tint, palette), size, ratio));
    return label;
}

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
    auto* content = new GradientBackground;
    auto* stack = column(20, content);
    stack->setContentsMargins(24, 24, 24, 24);

    auto add = [&](SetupSection section, QWidget* widget) {
        m_sections.append(qMakePair(section, widget));
        stack->addWidget(widget);
    };
    add(SetupSection::hero, buildHero());
    add(SetupSection::errorBanner, buildErrorBanner());
    add(SetupSection::browserSignIn, buildBrowserSignIn());
    add(SetupSection::getStarted, buildGetStarted());
    add(SetupSection::checklist, buildChecklist());
    add(SetupSection::readyCard, buildReadyCard());
    add(SetupSection::latestTranscript, buildLatestTranscript());
    auto* shortcuts = new QWidget;
    m_shortcutsSlot = column(0, shortcuts);
    add(SetupSection::shortcuts, shortcuts);
    add(SetupSection::permissions, buildPermissions());
    add(SetupSection::preferences, buildPreferences());
    add(SetupSection::personalTerms, buildPersonalTerms());
    add(SetupSection::troubleshooting, buildTroubleshooting());
    stack->addStretch(1);

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
    if (m_disclosure->isChecked() != expanded) {
        const QSignalBlocker blocker(m_disclosure);
        m_disclosure->setChecked(expanded);
    }
    m_disclosure->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    applyVisible(m_troubleshootingContent, expanded);
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

QPushButton* SetupView::actionButton(const QString& title, bool prominent, SetupAction action)
{
    auto* button = new QPushButton(escapedMnemonic(title));
    button->setAutoDefault(false);
    button->setProperty("prominent", prominent);
    connect(button, &QPushButton::clicked, this, [this, action] { perform(action); });
    return button;
}

QPushButton* SetupView::modelButton(bool prominent, SetupAction* action)
{
    auto* button = new QPushButton;
    button->setAutoDefault(false);
    button->setProperty("prominent", prominent);
    // The action is the one applied with the title, read at the click.
    connect(button, &QPushButton::clicked, this, [this, action] { perform(*action); });
    return button;
}

QWidget* SetupView::buildHero()
{
    auto* hero = new QWidget;
    auto* layout = column(12, hero);
    auto* top = row(16);
    auto* mark = new QLabel;
    mark->setFixedSize(52, 52);
    const QIcon icon(QStringLiteral(":/mark/tessvale.svg"));
    // Drawn at the screen's density, then clipped to the mark's rounded square.
    const qreal ratio = devicePixelRatioF();
    QPixmap rounded(QSize(52, 52) * ratio);
    // Painted in logical units, as the icon's pixmap of the same ratio is.
    rounded.setDevicePixelRatio(ratio);
    rounded.fill(Qt::transparent);
    {
        QPainter painter(&rounded);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(0, 0, 52, 52), 14, 14);
        painter.setClipPath(clip);
        painter.drawPixmap(0, 0, icon.pixmap(QSize(52, 52), ratio));
    }
    mark->setPixmap(rounded);
    mark->setAccessibleName(QStringLiteral("Tessvale"));
    top->addWidget(mark);
    auto* names = column(6);
    QLabel* title = plainLabel(QStringLiteral("Tessvale"), TextStyle::body, false);
    QFont titleFont = title->font();
    titleFont.setPixelSize(30);
    titleFont.setBold(true);
    title->setFont(titleFont);
    names->addWidget(title);
    names->addWidget(plainLabel(QStringLiteral("Speak clearly. Write faster."), TextStyle::bodyMedium, true));
    top->addLayout(names, 1);
    layout->addLayout(top);
    layout->addWidget(
        plainLabel(QStringLiteral("Voice dictation that captures your speech and inserts clean text into any app."),
            TextStyle::body, true));
    auto* badges = row(8);
    for (int i = 0; i < 2; ++i) {
        auto* badge = new StatusBadge;
        m_badges.append(badge);
        badges->addWidget(badge);
    }
    badges->addStretch(1);
    layout->addLayout(badges);
    return hero;
}

// A long address would widen a label past the window; a field scrolls it and copies it whole.
QLineEdit* SetupView::addressField()
{
    auto* field = new QLineEdit;
    field->setAccessibleName(QStringLiteral("Sign-in address"));
    field->setReadOnly(true);
    field->setFont(styledFont(TextStyle::footnote, field->font()));
    return field;
}

void SetupView::applyAddress(QLineEdit* field, const QString& address)
{
    if (field->text() != address) {
        field->setText(address);
        field->setCursorPosition(0);
    }
}

QWidget* SetupView::buildErrorBanner()
{
    auto* banner = new Panel(SetupTint::orange, 16, 0.1, 0.18);
    auto* layout = column(12, banner);
    layout->setContentsMargins(14, 14, 14, 14);
    auto* top = row(12);
    top->addWidget(symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("Warning"),
                       SetupTint::orange, 16, palette(), devicePixelRatioF()),
        0, Qt::AlignTop);
    m_errorText = plainLabel(QString(), TextStyle::subheadline, false);
    makeSelectable(m_errorText);
    top->addWidget(m_errorText, 1);
    layout->addLayout(top);
    m_errorSignInAddress = addressField();
    layout->addWidget(m_errorSignInAddress);
    m_retryInsert = actionButton(QStringLiteral("Retry Insert"), true, SetupAction::retryFailedInsertion);
    layout->addWidget(m_retryInsert, 0, Qt::AlignLeft);
    return banner;
}

SettingsSectionCard* SetupView::buildGetStarted()
{
    SettingsSectionCard* result = card(18);
    result->addContent(new SectionIntro(QStringLiteral("Get Started"),
        QStringLiteral("The fastest path to value is one successful dictation in a real app, then tightening the "
                       "shortcuts around your workflow.")));
    auto* columns = row(20);
    auto* left = column(12);
    auto* right = column(12);
    for (int i = 0; i < 5; ++i) {
        m_summary1.append(new SummaryRow(QString(), QString()));
        left->addWidget(m_summary1.back());
    }
    for (int i = 0; i < 3; ++i) {
        m_summary2.append(new SummaryRow(QString(), QString()));
        right->addWidget(m_summary2.back());
    }
    left->addStretch(1);
    right->addStretch(1);
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);
    result->contentLayout()->addLayout(columns);
    auto* buttons = row(12);
    m_primary = modelButton(true, &m_primaryAction);
    m_primary->setObjectName(QStringLiteral("primaryAction"));
    m_cancel = actionButton(QStringLiteral("Cancel"), false, SetupAction::cancelSignIn);
    m_signOut = actionButton(QStringLiteral("Sign Out"), false, SetupAction::signOut);
    buttons->addWidget(m_primary);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_signOut);
    buttons->addStretch(1);
    result->contentLayout()->addLayout(buttons);
    return result;
}

SettingsSectionCard* SetupView::buildChecklist()
{
    SettingsSectionCard* result = card(16);
    result->addContent(new SectionIntro(QStringLiteral("First Successful Dictation"),
        QStringLiteral("Launch readiness for the product starts here: connect the account, grant permissions, and "
                       "watch one cleaned-up result come back into the app you were already using.")));
    auto* steps = new QWidget;
    auto* stepsLayout = column(12, steps);
    for (int i = 0; i < 3; ++i) {
        m_steps.append(new OnboardingStepRow);
        stepsLayout->addWidget(m_steps.back());
    }
    result->addContent(steps);
    m_checklistButton = modelButton(true, &m_checklistAction);
    m_checklistButton->setObjectName(QStringLiteral("checklistAction"));
    result->contentLayout()->addWidget(m_checklistButton, 0, Qt::AlignLeft);
    result->addContent(plainLabel(QStringLiteral("The goal is not finishing settings. The goal is one successful "
                                                 "dictation that comes back clean enough to send."),
        TextStyle::footnote, true));
    return result;
}

SettingsSectionCard* SetupView::buildReadyCard()
{
    SettingsSectionCard* result = card(16);
    auto* top = row(14);
    auto* mark = new QLabel;
    mark->setFixedSize(42, 42);
    mark->setAlignment(Qt::AlignCenter);
    mark->setPixmap(tintedSymbolPixmap(
        QStringLiteral("checkmark.circle.fill"), setupTintColor(SetupTint::green, palette()), 22, devicePixelRatioF()));
    QColor fill = setupTintColor(SetupTint::green, palette());
    fill.setAlphaF(0.16);
    mark->setStyleSheet(QStringLiteral("background: %1; border-radius: 21px;").arg(fill.name(QColor::HexArgb)));
    mark->setAccessibleName(QStringLiteral("Ready"));
    top->addWidget(mark, 0, Qt::AlignTop);
    auto* text = column(6);
    text->addWidget(plainLabel(QStringLiteral("Tessvale is ready on this computer"), TextStyle::title3Semibold, false));
    text->addWidget(plainLabel(QStringLiteral("You already proved the core workflow with one clean end-to-end "
                                              "dictation. From here, the highest leverage work is refining "
                                              "shortcuts and personal terms."),
        TextStyle::subheadline, true));
    top->addLayout(text, 1);
    result->contentLayout()->addLayout(top);
    auto* buttons = row(12);
    m_runAnother = modelButton(true, &m_runAnotherAction);
    m_runAnother->setObjectName(QStringLiteral("runAnother"));
    m_copyTranscript = actionButton(QStringLiteral("Copy Latest Transcript"), false, SetupAction::copyLatestTranscript);
    buttons->addWidget(m_runAnother);
    buttons->addWidget(m_copyTranscript);
    buttons->addWidget(actionButton(QStringLiteral("Dismiss"), false, SetupAction::dismissLaunchReadiness));
    buttons->addStretch(1);
    result->contentLayout()->addLayout(buttons);
    return result;
}

SettingsSectionCard* SetupView::buildBrowserSignIn()
{
    SettingsSectionCard* result = card(14);
    result->addContent(new SectionIntro(QStringLiteral("Continue in Browser"),
        QStringLiteral("Finish sign-in in your browser. Tessvale will return here as soon as the browser callback "
                       "completes.")));
    // The address first, with its copy button: what a user whose browser never came up needs.
    result->addContent(plainLabel(QStringLiteral("If no browser opened, paste this sign-in address into one:"),
        TextStyle::captionSemibold, true));
    auto* address = row(8);
    m_signInAddress = addressField();
    address->addWidget(m_signInAddress, 1);
    auto* copy = new QPushButton(symbolIcon(QStringLiteral("doc.on.doc")), QStringLiteral("Copy Address"));
    copy->setAutoDefault(false);
    copy->setProperty("prominent", false);
    connect(
        copy, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(m_signInAddress->text()); });
    address->addWidget(copy);
    result->contentLayout()->addLayout(address);
    // The service's URL opens through the coordinator, which checks its scheme.
    auto* link = new QPushButton(symbolIcon(QStringLiteral("globe")), QStringLiteral("Open Browser Again"));
    link->setFlat(true);
    link->setProperty("prominent", false);
    link->setAutoDefault(false);
    link->setFont(styledFont(TextStyle::bodySemibold, link->font()));
    link->setCursor(Qt::PointingHandCursor);
    connect(link, &QPushButton::clicked, this, [this] { perform(SetupAction::reopenBrowserSignIn); });
    result->contentLayout()->addWidget(link, 0, Qt::AlignLeft);
    m_attempt = new SummaryRow(QStringLiteral("Attempt"), QString());
    m_callback = new SummaryRow(QStringLiteral("Callback"), QString());
    result->addContent(m_attempt);
    result->addContent(m_callback);
    return result;
}

SettingsSectionCard* SetupView::buildLatestTranscript()
{
    SettingsSectionCard* result = card(12);
    result->addContent(new SectionIntro(QStringLiteral("Latest Transcript"),
        QStringLiteral("The most recent finalized text returned from the cloud. If this looks good in the app where "
                       "you dictated, the core workflow is working.")));
    auto* panel = new Panel(std::nullopt, 14, 0.04, 0);
    auto* layout = column(0, panel);
    layout->setContentsMargins(14, 14, 14, 14);
    m_latestTranscript = plainLabel(QString(), TextStyle::body, false);
    makeSelectable(m_latestTranscript);
    layout->addWidget(m_latestTranscript);
    result->addContent(panel);
    return result;
}

SettingsSectionCard* SetupView::buildPermissions()
{
    SettingsSectionCard* result = card(16);
    result->addContent(new SectionIntro(QStringLiteral("Permissions"),
        QStringLiteral("Microphone is needed for recording. Accessibility is needed to place text into the app you "
                       "are using. Status updates automatically after you change permissions.")));
    m_microphonePermission = new PermissionLine(QStringLiteral("Microphone"));
    m_accessibilityPermission = new PermissionLine(QStringLiteral("Accessibility"));
    result->addContent(m_microphonePermission);
    result->addContent(m_accessibilityPermission);
    auto* buttons = row(10);
    buttons->addWidget(actionButton(QStringLiteral("Microphone"), true, SetupAction::promptForMicrophone));
    buttons->addWidget(actionButton(QStringLiteral("Accessibility"), false, SetupAction::promptForAccessibility));
    buttons->addStretch(1);
    result->contentLayout()->addLayout(buttons);
    return result;
}

SettingsSectionCard* SetupView::buildPreferences()
{
    SettingsSectionCard* result = card(16);
    result->addContent(new SectionIntro(
        QStringLiteral("Preferences"), QStringLiteral("A few defaults that matter for everyday use.")));
    m_microphone = new SettingsPickerRow(QStringLiteral("Microphone"),
        QStringLiteral("Use the system default microphone, or choose a specific input device."));
    connect(m_microphone, &SettingsPickerRow::selectionChosen, this,
        [this](const QString& uid) { m_settings.setPreferredMicrophoneUID(uid); });
    result->addContent(m_microphone);

    using Style = SettingsToggleRow::Style;
    m_launchAtLogin = new SettingsToggleRow(QStringLiteral("Launch at login"), QString(), Style::switchControl);
    // The service registers the login item; the switch then shows what it reports.
    connect(m_launchAtLogin, &SettingsToggleRow::toggledByUser, this, [this](bool on) {
        m_launchAtLoginService.setEnabled(on);
        refresh();
    });
    m_restoreClipboard = new SettingsToggleRow(QStringLiteral("Restore clipboard after paste"),
        QStringLiteral("Return your previous clipboard contents after dictation inserts text."), Style::switchControl);
    connect(m_restoreClipboard, &SettingsToggleRow::toggledByUser, &m_settings, &AppSettings::setRestoreClipboard);
    m_appendTrailingSpace = new SettingsToggleRow(QStringLiteral("Append trailing space"),
        QStringLiteral("Add a space after inserted transcript text."), Style::switchControl);
    connect(
        m_appendTrailingSpace, &SettingsToggleRow::toggledByUser, &m_settings, &AppSettings::setAppendTrailingSpace);
    m_restoreOriginalInput = new SettingsToggleRow(QStringLiteral("Return to original input field"),
        QStringLiteral("After dictation, put text back into the field where you started, even if you switched "
                       "windows."),
        Style::switchControl);
    connect(m_restoreOriginalInput, &SettingsToggleRow::toggledByUser, &m_settings,
        &AppSettings::setRestoreOriginalInputAfterDictation);
    for (QWidget* widget : { m_launchAtLogin, m_restoreClipboard, m_appendTrailingSpace, m_restoreOriginalInput })
        result->addContent(widget);
    return result;
}

SettingsSectionCard* SetupView::buildPersonalTerms()
{
    SettingsSectionCard* result = card(10);
    result->addContent(new SectionIntro(QStringLiteral("Personal Terms"),
        QStringLiteral("Add product names, people, and custom terms to keep your transcripts accurate.")));
    result->addContent(plainLabel(
        QStringLiteral("Glossary editing is available in the Tessvale dashboard. In-app editing is coming soon."),
        TextStyle::subheadline, true));
    return result;
}

SettingsSectionCard* SetupView::buildTroubleshooting()
{
    SettingsSectionCard* result = card(0);
    auto* header = row(8);
    m_disclosure = new QToolButton;
    m_disclosure->setCheckable(true);
    m_disclosure->setArrowType(Qt::RightArrow);
    m_disclosure->setAutoRaise(true);
    m_disclosure->setAccessibleName(QStringLiteral("Troubleshooting"));
    connect(m_disclosure, &QToolButton::toggled, this, &SetupView::setShowTroubleshooting);
    header->addWidget(m_disclosure, 0, Qt::AlignTop);
    header->addWidget(
        new SectionIntro(QStringLiteral("Troubleshooting"),
            QStringLiteral("Advanced connection settings, focused-app diagnostics, and recent activity.")),
        1);
    result->contentLayout()->addLayout(header);

    m_troubleshootingContent = new QWidget;
    auto* layout = column(18, m_troubleshootingContent);
    layout->setContentsMargins(0, 12, 0, 0);

    auto* connection = column(10);
    connection->addWidget(headline(QStringLiteral("Connection")));
    m_deviceName = new QLineEdit;
    m_deviceName->setPlaceholderText(QStringLiteral("Device Name"));
    m_deviceName->setAccessibleName(QStringLiteral("Device Name"));
    connect(m_deviceName, &QLineEdit::textEdited, &m_settings, &AppSettings::setDeviceName);
    connection->addWidget(m_deviceName);
    m_preferDirectTyping = new QCheckBox(QStringLiteral("Prefer direct typing before the clipboard"));
    connect(m_preferDirectTyping, &QCheckBox::clicked, &m_settings, &AppSettings::setPreferDirectTyping);
    connection->addWidget(m_preferDirectTyping);
    auto* check = row(10);
    QPushButton* checkConnectivity
        = actionButton(QStringLiteral("Check Connectivity"), false, SetupAction::runConnectivityCheck);
    // The result line beside it takes the room it needs from the stretch, never from the button.
    checkConnectivity->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    check->addWidget(checkConnectivity, 0, Qt::AlignLeft);
    m_healthCheck = plainLabel(QString(), TextStyle::footnote, true);
    check->addWidget(m_healthCheck, 1);
    connection->addLayout(check);
    layout->addLayout(connection);

    m_focusedAppGroup = new QWidget;
    auto* focused = column(8, m_focusedAppGroup);
    focused->addWidget(headline(QStringLiteral("Focused App")));
    for (int i = 0; i < 5; ++i) {
        m_focusedApp.append(new SettingsValueRow(QString(), QString(), SettingsValueRow::diagnosticLabelWidth));
        focused->addWidget(m_focusedApp.back());
    }
    layout->addWidget(m_focusedAppGroup);

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
    layout->addWidget(m_activityGroup);

    m_loginError = redLabel();
    m_shortcutError = redLabel();
    layout->addWidget(m_loginError);
    layout->addWidget(m_shortcutError);
    m_supportLink = actionButton(QString(), false, SetupAction::openSupportEmail);
    m_supportLink->setFlat(true);
    m_supportLink->setCursor(Qt::PointingHandCursor);
    m_supportLink->setFont(styledFont(TextStyle::footnote, m_supportLink->font()));
    layout->addWidget(m_supportLink, 0, Qt::AlignLeft);

    result->addContent(m_troubleshootingContent);
    m_troubleshootingContent->setVisible(false);
    return result;
}

void SetupView::refresh()
{
    m_refreshPending = false;
    m_content = setupContent(SetupInput::from(m_settings, m_coordinator, m_launchAtLoginService));
    const SetupContent& c = m_content;

    for (const auto& [section, widget] : m_sections)
        applyVisible(widget, c.has(section) && (section != SetupSection::shortcuts || m_shortcutsSlot->count() > 0));

    for (int i = 0; i < m_badges.size(); ++i) {
        applyVisible(m_badges[i], i < c.badges.size());
        if (i < c.badges.size())
            m_badges[i]->setBadge(c.badges[i]);
    }
    applyText(m_errorText, c.errorText);
    applyAddress(m_errorSignInAddress, c.errorSignInAddress);
    applyVisible(m_errorSignInAddress, !c.errorSignInAddress.isEmpty());
    applyVisible(m_retryInsert, c.showsRetryInsert);

    const auto applyRows = [](const QList<SummaryRow*>& rows, const QList<SetupLabelValue>& values) {
        for (int i = 0; i < rows.size(); ++i) {
            applyVisible(rows[i], i < values.size());
            if (i < values.size()) {
                rows[i]->setLabel(values[i].label);
                rows[i]->setValue(values[i].value);
            }
        }
    };
    applyRows(m_summary1, c.summaryColumn1);
    applyRows(m_summary2, c.summaryColumn2);
    const auto applyModelButton = [](QPushButton* button, SetupAction& held, const SetupButton& model) {
        applyButtonText(button, model.title);
        applyEnabled(button, model.enabled);
        held = model.action;
    };
    applyModelButton(m_primary, m_primaryAction, c.primary);
    applyVisible(m_cancel, c.showsCancel);
    applyVisible(m_signOut, c.showsSignOut);

    for (int i = 0; i < m_steps.size() && i < c.steps.size(); ++i)
        m_steps[i]->setStep(c.steps[i]);
    applyModelButton(m_checklistButton, m_checklistAction, c.checklistButton);
    applyModelButton(m_runAnother, m_runAnotherAction, c.runAnother);
    applyVisible(m_copyTranscript, c.showsCopyLatestTranscript);

    m_attempt->setValue(c.signInAttempt);
    m_callback->setValue(c.signInCallback);
    applyAddress(m_signInAddress, c.signInAddress);
    applyText(m_latestTranscript, c.latestTranscript);

    m_microphonePermission->setState(c.microphone);
    m_accessibilityPermission->setState(c.accessibility);

    QList<PickerOption> options;
    for (const SetupMicrophoneOption& option : c.microphoneOptions)
        options.append(PickerOption { option.label, option.uid });
    m_microphone->setOptions(options);
    m_microphone->setSelection(m_settings.preferredMicrophoneUID());
    m_launchAtLogin->setChecked(c.launchAtLoginOn);
    m_launchAtLogin->setSubtitle(c.launchAtLoginSubtitle);
    m_restoreClipboard->setChecked(c.restoreClipboard);
    m_appendTrailingSpace->setChecked(c.appendTrailingSpace);
    m_restoreOriginalInput->setChecked(c.restoreOriginalInput);

    if (m_deviceName->text() != c.deviceName) {
        const QSignalBlocker blocker(m_deviceName);
        m_deviceName->setText(c.deviceName);
    }
    if (m_preferDirectTyping->isChecked() != c.preferDirectTyping) {
        const QSignalBlocker blocker(m_preferDirectTyping);
        m_preferDirectTyping->setChecked(c.preferDirectTyping);
    }
    applyText(m_healthCheck, c.healthCheck);
    applyVisible(m_healthCheck, !c.healthCheck.isEmpty());
    applyVisible(m_focusedAppGroup, !c.focusedApp.isEmpty());
    for (int i = 0; i < m_focusedApp.size() && i < c.focusedApp.size(); ++i) {
        applyText(m_focusedApp[i]->labelLabel(), c.focusedApp[i].label);
        m_focusedApp[i]->setValue(c.focusedApp[i].value);
    }
    applyVisible(m_activityGroup, !c.activity.isEmpty());
    for (int i = 0; i < m_activity.size(); ++i) {
        const bool shown = i < c.activity.size();
        applyVisible(m_activity[i].first, shown);
        applyVisible(m_activity[i].second, shown);
        if (shown) {
            applyText(m_activity[i].first, c.activity[i].time);
            applyText(m_activity[i].second, c.activity[i].message);
        }
    }
    applyText(m_loginError, c.launchAtLoginError);
    applyVisible(m_loginError, !c.launchAtLoginError.isEmpty());
    applyText(m_shortcutError, c.shortcutError);
    applyVisible(m_shortcutError, !c.shortcutError.isEmpty());
    applyButtonText(m_supportLink, c.supportLinkText);
}

} // namespace tessvale
