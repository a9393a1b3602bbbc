#include "setup/cards/SetupHeroCard.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "setup/SetupBlocks.h"
#include "setup/cards/SetupCardParts.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

SetupHeroCard::SetupHeroCard(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = column(12, this);
    auto* top = row(16);
    top->addWidget(buildMark());
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
}

QWidget* SetupHeroCard::buildMark()
{
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
    return mark;
}

void SetupHeroCard::apply(const SetupHeroContent& content)
{
    for (int i = 0; i < m_badges.size(); ++i) {
        applyVisible(m_badges[i], i < content.badges.size());
        if (i < content.badges.size())
            m_badges[i]->setBadge(content.badges[i]);
    }
}

} // namespace tessvale
