#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace tessvale {

// A heading of a title over a detail line, 4 apart: the card heading of the Settings window and the
// section intro of the setup window.
class SectionIntro final : public QWidget
{
    Q_OBJECT

public:
    SectionIntro(const QString& title, const QString& detail, QWidget* parent = nullptr);

    QLabel* titleLabel() const { return m_title; }
    QLabel* detailLabel() const { return m_detail; }

private:
    QLabel* m_title;
    QLabel* m_detail;
};

// The rounded card both windows are built from: padded 20 on every side, as wide as offered, on a
// translucent fill from the palette with a faint outline. The Settings window's card carries a
// heading and spaces its content 14 apart; the setup window's plain card has no heading and no
// spacing of its own (its sections add a SectionIntro as they need).
class SettingsSectionCard : public QWidget
{
    Q_OBJECT

public:
    static constexpr int padding = 20;
    static constexpr int cornerRadius = 22;
    static constexpr int headedSpacing = 14;

    // The Settings window's titled card.
    SettingsSectionCard(const QString& title, const QString& detail, QWidget* parent = nullptr);
    // The setup window's plain card.
    explicit SettingsSectionCard(QWidget* parent = nullptr);

    // Where the content goes, below the heading when there is one.
    QVBoxLayout* contentLayout() const { return m_content; }
    void addContent(QWidget* widget);
    // The heading, null for a plain card.
    SectionIntro* heading() const { return m_heading; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_content;
    SectionIntro* m_heading = nullptr;
};

} // namespace tessvale
