#pragma once

#include <functional>

#include <QList>
#include <QWidget>

#include "menu/MenuBarContentModel.h"

class QPainterPath;
class QVBoxLayout;

namespace tessvale {

class DictationCoordinator;

// The menu content as a card 320 points wide: the status, the live partial transcript or the error,
// one primary action and the commands. It follows the coordinator's state changes; each button runs
// one command.
class MenuBarContentView final : public QWidget
{
    Q_OBJECT

public:
    MenuBarContentView(DictationCoordinator& coordinator, std::function<void()> showSetup, std::function<void()> quit,
        std::function<void()> showSettings = {}, QWidget* parent = nullptr);

    // The content as last applied.
    const MenuBarContent& content() const { return m_content; }
    // The button of the first row with this command (for tests and keyboard focus); null when none.
    QWidget* buttonFor(MenuCommand command) const;

    void refresh();
    // The card's rounded outline, inside the room its shadow takes.
    QPainterPath cardShape() const;

signals:
    // Before the command runs, so that a popup can close first.
    void commandTriggered(tessvale::MenuCommand command);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void apply(const MenuBarContent& content);
    void layoutRows();
    void trigger(MenuCommand command);

    DictationCoordinator& m_coordinator;
    std::function<void()> m_showSetup;
    std::function<void()> m_quit;
    std::function<void()> m_showSettings;
    MenuBarContent m_content;
    QVBoxLayout* m_stack = nullptr;
    QList<QWidget*> m_rowWidgets;
    QList<MenuRowKind> m_laidOutKinds;
    int m_laidOutSpacing = -1;
};

} // namespace tessvale
