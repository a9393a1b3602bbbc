#include "platform/linux/focus/AtspiRoleTable.h"

#include <unordered_map>

#undef signals
#include <atspi/atspi.h>

namespace tessvale {

namespace {

struct RoleEntry
{
    const char* role;
    const char* subrole; // nullptr: none
};

const std::unordered_map<int, RoleEntry>& roleTable()
{
    static const std::unordered_map<int, RoleEntry> table {
        { ATSPI_ROLE_ENTRY, { "AXTextField", nullptr } },
        { ATSPI_ROLE_PASSWORD_TEXT, { "AXTextField", "AXSecureTextField" } },
        { ATSPI_ROLE_TEXT, { "AXTextArea", nullptr } },
        { ATSPI_ROLE_EDITBAR, { "AXTextField", nullptr } },
        { ATSPI_ROLE_TERMINAL, { "AXTextArea", "AXTerminal" } },
        { ATSPI_ROLE_PARAGRAPH, { "AXTextArea", nullptr } },
        { ATSPI_ROLE_DOCUMENT_TEXT, { "AXTextArea", nullptr } },
        { ATSPI_ROLE_DOCUMENT_FRAME, { "AXTextArea", nullptr } },
        { ATSPI_ROLE_DOCUMENT_WEB, { "AXWebArea", nullptr } },
        { ATSPI_ROLE_SPIN_BUTTON, { "AXIncrementor", nullptr } },
        { ATSPI_ROLE_COMBO_BOX, { "AXComboBox", nullptr } },
        { ATSPI_ROLE_PUSH_BUTTON, { "AXButton", nullptr } },
        { ATSPI_ROLE_TOGGLE_BUTTON, { "AXCheckBox", "AXToggle" } },
        { ATSPI_ROLE_CHECK_BOX, { "AXCheckBox", nullptr } },
        { ATSPI_ROLE_RADIO_BUTTON, { "AXRadioButton", nullptr } },
        { ATSPI_ROLE_LABEL, { "AXStaticText", nullptr } },
        { ATSPI_ROLE_STATIC, { "AXStaticText", nullptr } },
        { ATSPI_ROLE_LINK, { "AXLink", nullptr } },
        { ATSPI_ROLE_LIST, { "AXList", nullptr } },
        { ATSPI_ROLE_LIST_BOX, { "AXList", nullptr } },
        { ATSPI_ROLE_LIST_ITEM, { "AXRow", nullptr } },
        { ATSPI_ROLE_TABLE, { "AXTable", nullptr } },
        { ATSPI_ROLE_TABLE_CELL, { "AXCell", nullptr } },
        { ATSPI_ROLE_TREE, { "AXOutline", nullptr } },
        { ATSPI_ROLE_TREE_TABLE, { "AXOutline", nullptr } },
        { ATSPI_ROLE_TREE_ITEM, { "AXRow", "AXOutlineRow" } },
        { ATSPI_ROLE_MENU, { "AXMenu", nullptr } },
        { ATSPI_ROLE_MENU_BAR, { "AXMenuBar", nullptr } },
        { ATSPI_ROLE_MENU_ITEM, { "AXMenuItem", nullptr } },
        { ATSPI_ROLE_CHECK_MENU_ITEM, { "AXMenuItem", nullptr } },
        { ATSPI_ROLE_RADIO_MENU_ITEM, { "AXMenuItem", nullptr } },
        { ATSPI_ROLE_PAGE_TAB, { "AXRadioButton", "AXTabButton" } },
        { ATSPI_ROLE_PAGE_TAB_LIST, { "AXTabGroup", nullptr } },
        { ATSPI_ROLE_SLIDER, { "AXSlider", nullptr } },
        { ATSPI_ROLE_SCROLL_BAR, { "AXScrollBar", nullptr } },
        { ATSPI_ROLE_PROGRESS_BAR, { "AXProgressIndicator", nullptr } },
        { ATSPI_ROLE_TOOL_BAR, { "AXToolbar", nullptr } },
        { ATSPI_ROLE_IMAGE, { "AXImage", nullptr } },
        { ATSPI_ROLE_PANEL, { "AXGroup", nullptr } },
        { ATSPI_ROLE_FILLER, { "AXGroup", nullptr } },
        { ATSPI_ROLE_SECTION, { "AXGroup", nullptr } },
        { ATSPI_ROLE_FRAME, { "AXWindow", "AXStandardWindow" } },
        { ATSPI_ROLE_WINDOW, { "AXWindow", "AXStandardWindow" } },
        { ATSPI_ROLE_DIALOG, { "AXWindow", "AXDialog" } },
        { ATSPI_ROLE_ALERT, { "AXWindow", "AXDialog" } },
        { ATSPI_ROLE_APPLICATION, { "AXApplication", nullptr } },
    };
    return table;
}

} // namespace

MappedRole mapAtspiRole(int atspiRole, bool multiLine)
{
    // A single-line text is a field, a multi-line one an area, whatever role the toolkit picked.
    if (atspiRole == ATSPI_ROLE_TEXT || atspiRole == ATSPI_ROLE_ENTRY)
        return { multiLine ? QStringLiteral("AXTextArea") : QStringLiteral("AXTextField"), std::nullopt };
    const auto& table = roleTable();
    const auto found = table.find(atspiRole);
    if (found == table.end())
        return { QStringLiteral("AXUnknown"), std::nullopt };
    MappedRole mapped { QString::fromLatin1(found->second.role), std::nullopt };
    if (found->second.subrole)
        mapped.subrole = QString::fromLatin1(found->second.subrole);
    return mapped;
}

} // namespace tessvale
