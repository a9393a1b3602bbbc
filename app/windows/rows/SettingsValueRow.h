#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace tessvale {

// A label (secondary) in a fixed-width column, then a value that takes the rest of the width and
// can be selected and copied. The Settings window's column is 120 wide, the setup window's
// diagnostic rows use 130.
class SettingsValueRow final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int settingsLabelWidth = 120;
    static constexpr int diagnosticLabelWidth = 130;

    SettingsValueRow(
        const QString& label, const QString& value, int labelWidth = settingsLabelWidth, QWidget* parent = nullptr);

    // Applies only a value that differs, so a selection survives a refresh.
    void setValue(const QString& value);
    QString value() const;

    QLabel* labelLabel() const { return m_label; }
    QLabel* valueLabel() const { return m_value; }

private:
    QLabel* m_label;
    QLabel* m_value;
};

} // namespace tessvale
