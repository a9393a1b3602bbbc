#include "menu/MenuBarContentModel.h"

#include "coordinator/DictationCoordinator.h"
#include "settings/AppSettings.h"

namespace tessvale {

namespace {

bool isRunning(DictationPhase phase)
{
    return phase == DictationPhase::starting || phase == DictationPhase::recording;
}

QString phaseDetail(DictationPhase phase)
{
    switch (phase) {
    case DictationPhase::signedOut:
        return QStringLiteral("Use the setup window for sign-in, permissions, and shortcut setup.");
    case DictationPhase::starting:
    case DictationPhase::recording:
        return QStringLiteral("Dictation is active on this computer.");
    case DictationPhase::finalizing:
        return QStringLiteral("Wrapping up the current audio stream.");
    case DictationPhase::postProcessing:
        return QStringLiteral("Polishing the transcript before insertion.");
    case DictationPhase::inserting:
        return QStringLiteral("Sending text to the focused app.");
    case DictationPhase::error:
        return QStringLiteral("Resolve the issue below before trying again.");
    case DictationPhase::ready:
        break;
    }
    return {};
}

MenuTint phaseTint(DictationPhase phase)
{
    switch (phase) {
    case DictationPhase::starting:
    case DictationPhase::recording:
    case DictationPhase::error:
        return MenuTint::red;
    default:
        return MenuTint::orange;
    }
}

MenuRow row(MenuRowKind kind, QString symbol, QString title, MenuTint tint = MenuTint::none,
    std::optional<MenuCommand> command = std::nullopt)
{
    MenuRow result;
    result.kind = kind;
    result.symbol = std::move(symbol);
    result.title = std::move(title);
    result.tint = tint;
    result.command = command;
    return result;
}

void appendErrorBlock(QList<MenuRow>& rows, const MenuBarContentInput& input)
{
    if (input.displayErrorText.isEmpty())
        return;
    rows.append(row(
        MenuRowKind::message, QStringLiteral("exclamationmark.triangle.fill"), input.displayErrorText, MenuTint::red));
    if (input.canRetryFailedInsertion) {
        rows.append(row(MenuRowKind::secondaryButton, QStringLiteral("arrow.clockwise"), QStringLiteral("Retry Insert"),
            MenuTint::secondary, MenuCommand::retryFailedInsertion));
    }
}

// The Settings window, beside the setup window that "Settings..." opens.
MenuRow preferencesRow()
{
    return row(MenuRowKind::menuRow, QStringLiteral("slider.horizontal.3"), QStringLiteral("Preferences..."),
        MenuTint::secondary, MenuCommand::showSettings);
}

MenuRow quitRow()
{
    MenuRow quit = row(MenuRowKind::menuRow, QStringLiteral("power"), QStringLiteral("Quit Tessvale"),
        MenuTint::secondary, MenuCommand::quit);
    quit.shortcut = QStringLiteral("Ctrl+Q");
    return quit;
}

QList<MenuRow> signedInRows(const MenuBarContentInput& input)
{
    QList<MenuRow> rows;
    const bool running = isRunning(input.phase);
    if (input.phase != DictationPhase::ready) {
        MenuRow status = input.browserSignInOpen
            ? row(MenuRowKind::statusCard, QStringLiteral("globe"), QStringLiteral("Finish Sign-In"))
            : row(MenuRowKind::statusCard, input.menuBarSymbolName, input.statusTitle);
        status.detail = input.browserSignInOpen
            ? QStringLiteral("Complete the browser flow, then return here if you need to reopen the tab.")
            : phaseDetail(input.phase);
        status.tint = phaseTint(input.phase);
        rows.append(status);
    }
    if (running && !input.partialTranscript.isEmpty()) {
        rows.append(
            row(MenuRowKind::message, QStringLiteral("waveform"), input.partialTranscript, MenuTint::secondary));
    }
    appendErrorBlock(rows, input);
    // The stop stops as the dictation's trigger mode stops it: a toggle would turn a held
    // push-to-talk dictation into a hands-free one.
    rows.append(running ? row(MenuRowKind::primaryButton, QStringLiteral("stop.fill"), QStringLiteral("Stop Dictation"),
                    MenuTint::red, MenuCommand::stopDictation)
                        : row(MenuRowKind::primaryButton, QStringLiteral("mic.fill"), QStringLiteral("Start Dictation"),
                            MenuTint::accent, MenuCommand::toggleRecording));
    rows.append(row(MenuRowKind::divider, {}, {}));

    const auto& update = input.appUpdateState;
    const bool updateAvailable = update.updateCase() == AppUpdateState::Case::available && update.update().has_value();
    if (updateAvailable) {
        MenuRow updateRow = row(MenuRowKind::updateRow, QStringLiteral("arrow.down.circle.fill"),
            QStringLiteral("Update Available"), MenuTint::blue, MenuCommand::openAvailableUpdate);
        updateRow.detail = QStringLiteral("Download the new version.");
        updateRow.badge = QStringLiteral("v") + update.update()->latestVersion;
        rows.append(updateRow);
    }
    MenuRow copy = row(MenuRowKind::menuRow, QStringLiteral("doc.on.doc"), QStringLiteral("Copy Latest Transcript"),
        MenuTint::secondary, MenuCommand::copyLatestTranscript);
    copy.enabled = input.hasLatestTranscript;
    rows.append(copy);
    rows.append(row(MenuRowKind::menuRow, QStringLiteral("gearshape"), QStringLiteral("Settings..."),
        MenuTint::secondary, MenuCommand::showSetup));
    rows.append(preferencesRow());
    if (!updateAvailable) {
        const bool checking = update.updateCase() == AppUpdateState::Case::checking;
        MenuRow check = row(MenuRowKind::menuRow, QStringLiteral("arrow.triangle.2.circlepath"),
            checking ? QStringLiteral("Checking for Updates...") : QStringLiteral("Check for Updates..."),
            MenuTint::secondary, MenuCommand::checkForUpdates);
        check.enabled = !checking;
        rows.append(check);
    }
    rows.append(row(MenuRowKind::menuRow, QStringLiteral("rectangle.portrait.and.arrow.right"),
        QStringLiteral("Sign Out"), MenuTint::secondary, MenuCommand::signOut));
    rows.append(quitRow());
    return rows;
}

QList<MenuRow> signedOutRows(const MenuBarContentInput& input)
{
    QList<MenuRow> rows;
    MenuRow header = input.browserSignInOpen ? row(MenuRowKind::header, QStringLiteral("globe"),
                         QStringLiteral("Continue sign-in in the app"), MenuTint::orange)
                                             : row(MenuRowKind::header, QStringLiteral("person.crop.circle.badge.plus"),
                                                 QStringLiteral("Finish setup in the app"), MenuTint::orange);
    header.detail = input.browserSignInOpen
        ? QStringLiteral("Use the setup window to finish sign-in, then return to your browser only if you need "
                         "to reopen the authorization tab.")
        : QStringLiteral("The full setup window handles sign-in, permissions, and your dictation shortcuts "
                         "without squeezing them into the tray.");
    rows.append(header);
    appendErrorBlock(rows, input);
    rows.append(row(MenuRowKind::primaryButton, QStringLiteral("slider.horizontal.3"), QStringLiteral("Open Setup"),
        MenuTint::orange, MenuCommand::showSetup));
    if (input.browserSignInOpen) {
        rows.append(row(MenuRowKind::secondaryButton, QStringLiteral("globe"), QStringLiteral("Continue in Browser"),
            MenuTint::secondary, MenuCommand::reopenBrowserSignIn));
    }
    rows.append(row(MenuRowKind::divider, {}, {}));
    rows.append(preferencesRow());
    rows.append(quitRow());
    return rows;
}

} // namespace

MenuBarContentInput MenuBarContentInput::from(const DictationCoordinator& coordinator)
{
    MenuBarContentInput input;
    input.isAuthenticated = coordinator.isAuthenticated();
    input.phase = coordinator.phase();
    input.partialTranscript = coordinator.partialTranscript();
    input.displayErrorText = coordinator.displayErrorText();
    // Settings that cannot be kept stay in view when a later success clears the last error.
    if (input.displayErrorText.isEmpty())
        input.displayErrorText = coordinator.settings().storeProblem();
    input.canRetryFailedInsertion = coordinator.canRetryFailedInsertion();
    input.hasLatestTranscript = coordinator.latestTranscriptText().has_value();
    input.browserSignInOpen = coordinator.browserSignIn().has_value();
    input.appUpdateState = coordinator.appUpdateState();
    input.statusTitle = coordinator.statusTitle();
    input.menuBarSymbolName = coordinator.menuBarSymbolName();
    return input;
}

MenuBarContent menuBarContent(const MenuBarContentInput& input)
{
    return { input.isAuthenticated, input.isAuthenticated ? signedInRows(input) : signedOutRows(input) };
}

void performMenuCommand(MenuCommand command, DictationCoordinator& coordinator, const std::function<void()>& showSetup,
    const std::function<void()>& quit, const std::function<void()>& showSettings)
{
    switch (command) {
    case MenuCommand::toggleRecording:
        coordinator.toggleRecording();
        break;
    case MenuCommand::stopDictation:
        coordinator.stopDictation();
        break;
    case MenuCommand::retryFailedInsertion:
        coordinator.retryFailedInsertion();
        break;
    case MenuCommand::openAvailableUpdate:
        coordinator.openAvailableUpdate();
        break;
    case MenuCommand::copyLatestTranscript:
        coordinator.copyLatestTranscript();
        break;
    case MenuCommand::showSetup:
        if (showSetup)
            showSetup();
        break;
    case MenuCommand::showSettings:
        if (showSettings)
            showSettings();
        break;
    case MenuCommand::checkForUpdates:
        coordinator.checkForUpdates();
        break;
    case MenuCommand::signOut:
        coordinator.signOut();
        break;
    case MenuCommand::quit:
        if (quit)
            quit();
        break;
    case MenuCommand::reopenBrowserSignIn:
        coordinator.reopenBrowserSignIn();
        break;
    }
}

} // namespace tessvale
