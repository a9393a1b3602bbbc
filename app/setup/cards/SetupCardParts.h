#pragma once

#include <optional>

#include <QObject>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include "setup/SetupModel.h"

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QVBoxLayout;

namespace tessvale {

// What the setup window's cards share: their layouts, labels and buttons, and applying a value only
// when it differs from the one shown.

void applyVisible(QWidget* widget, bool visible);
void applyButtonText(QPushButton* button, const QString& title);
void applyEnabled(QWidget* widget, bool enabled);
// Applies a model button's title and state; held is the action its click runs.
void applyModelButton(QPushButton* button, SetupAction& held, const SetupButton& model);

QVBoxLayout* column(int spacing, QWidget* parent = nullptr);
QHBoxLayout* row(int spacing);

QLabel* redLabel();
QLabel* headline(const QString& text);
QLabel* symbolLabel(
    const QString& name, const QString& spoken, SetupTint tint, int size, const QPalette& palette, qreal ratio);

// A long address would widen a label past the window; a field scrolls it and copies it whole.
QLineEdit* addressField();
void applyAddress(QLineEdit* field, const QString& address);

// A button of the window's style, not yet connected.
QPushButton* setupButton(const QString& title, bool prominent);

// A button that asks its card's owner to run the action.
template <typename Card> QPushButton* actionButton(Card* card, const QString& title, bool prominent, SetupAction action)
{
    QPushButton* button = setupButton(title, prominent);
    QObject::connect(button, &QPushButton::clicked, card, [card, action] { emit card->actionRequested(action); });
    return button;
}

// A button whose title and action come from the model: the action is the one applied with the
// title, read at the click.
template <typename Card> QPushButton* modelButton(Card* card, bool prominent, const SetupAction* action)
{
    QPushButton* button = setupButton(QString(), prominent);
    QObject::connect(button, &QPushButton::clicked, card, [card, action] { emit card->actionRequested(*action); });
    return button;
}

// A rounded panel with a translucent fill and an optional outline.
class SetupPanel : public QWidget
{
public:
    SetupPanel(
        std::optional<SetupTint> tint, qreal radius, qreal fillAlpha, qreal strokeAlpha, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<SetupTint> m_tint;
    qreal m_radius;
    qreal m_fillAlpha;
    qreal m_strokeAlpha;
};

} // namespace tessvale
