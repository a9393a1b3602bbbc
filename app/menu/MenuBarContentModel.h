#pragma once

#include <functional>
#include <optional>

#include <QList>
#include <QString>

#include "coordinator/CoordinatorTypes.h"

namespace tessvale {

class DictationCoordinator;

// What the menu content reads from the coordinator, as plain values.
struct MenuBarContentInput
{
    bool isAuthenticated = false;
    DictationPhase phase = DictationPhase::signedOut;
    QString partialTranscript;
    QString displayErrorText;
    bool canRetryFailedInsertion = false;
    bool hasLatestTranscript = false;
    bool browserSignInOpen = false;
    AppUpdateState appUpdateState;
    QString statusTitle;
    QString menuBarSymbolName;

    static MenuBarContentInput from(const DictationCoordinator& coordinator);
};

enum class MenuCommand {
    toggleRecording,
    stopDictation,
    retryFailedInsertion,
    openAvailableUpdate,
    copyLatestTranscript,
    showSetup,
    showSettings,
    checkForUpdates,
    signOut,
    quit,
    reopenBrowserSignIn,
};

enum class MenuTint {
    none,
    red,
    orange,
    blue,
    accent,
    secondary,
};

enum class MenuRowKind {
    // Icon tile, title and detail: the signed-in status card and the signed-out header.
    statusCard,
    header,
    // A tinted text block: the partial transcript, the error.
    message,
    primaryButton,
    secondaryButton,
    updateRow,
    menuRow,
    divider,
};

struct MenuRow
{
    MenuRowKind kind = MenuRowKind::divider;
    QString symbol;
    QString title;
    QString detail;
    // The update row's version badge.
    QString badge;
    MenuTint tint = MenuTint::none;
    bool enabled = true;
    std::optional<MenuCommand> command;
    // A key sequence in portable text ("Ctrl+Q"); empty for none.
    QString shortcut;

    friend bool operator==(const MenuRow&, const MenuRow&) = default;
};

struct MenuBarContent
{
    bool signedIn = false;
    QList<MenuRow> rows;

    friend bool operator==(const MenuBarContent&, const MenuBarContent&) = default;
};

// The menu content's rows, top to bottom, for one state.
MenuBarContent menuBarContent(const MenuBarContentInput& input);

// Runs one command; each calls exactly one operation and returns at once.
void performMenuCommand(MenuCommand command, DictationCoordinator& coordinator, const std::function<void()>& showSetup,
    const std::function<void()>& quit, const std::function<void()>& showSettings = {});

} // namespace tessvale
