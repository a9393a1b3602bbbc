#pragma once

#include <QColor>
#include <QLabel>
#include <QString>
#include <QWidget>

#include "setup/SetupModel.h"
#include "system/PermissionState.h"

namespace tessvale {

// Fixed hues for tints; they read on light and dark palettes alike.
QColor setupTintColor(SetupTint tint, const QPalette& palette);

// A title in a tinted capsule.
class StatusBadge final : public QLabel
{
    Q_OBJECT

public:
    explicit StatusBadge(QWidget* parent = nullptr);
    void setBadge(const SetupBadge& badge);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SetupTint m_tint = SetupTint::blue;
};

// A caption label over a value the user can select.
class SummaryRow final : public QWidget
{
    Q_OBJECT

public:
    SummaryRow(const QString& label, const QString& value, QWidget* parent = nullptr);
    void setLabel(const QString& label);
    void setValue(const QString& value);
    QLabel* valueLabel() const { return m_value; }

private:
    QLabel* m_label;
    QLabel* m_value;
};

// A checklist step: its state's symbol, then the title over a wrapping detail, on a faint rounded
// fill.
class OnboardingStepRow final : public QWidget
{
    Q_OBJECT

public:
    explicit OnboardingStepRow(QWidget* parent = nullptr);
    void setStep(const SetupStep& step);
    const SetupStep& step() const { return m_step; }
    QLabel* detailLabel() const { return m_detail; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_symbol;
    QLabel* m_title;
    QLabel* m_detail;
    SetupStep m_step;
    bool m_hasStep = false;
};

// A permission's name and its state in the state's colour.
class PermissionLine final : public QWidget
{
    Q_OBJECT

public:
    explicit PermissionLine(const QString& title, QWidget* parent = nullptr);
    void setState(PermissionState state);
    QLabel* stateLabel() const { return m_state; }

private:
    QLabel* m_state = nullptr;
    std::optional<PermissionState> m_current;
};

} // namespace tessvale
