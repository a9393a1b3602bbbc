#include "setup/cards/SetupErrorBanner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "windows/rows/RowStyle.h"

namespace tessvale {

SetupErrorBanner::SetupErrorBanner(QWidget* parent)
    : SetupPanel(SetupTint::orange, 16, 0.1, 0.18, parent)
{
    auto* layout = column(12, this);
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
    m_retryInsert = actionButton(this, QStringLiteral("Retry Insert"), true, SetupAction::retryFailedInsertion);
    layout->addWidget(m_retryInsert, 0, Qt::AlignLeft);
}

void SetupErrorBanner::apply(const SetupErrorBannerContent& content)
{
    applyText(m_errorText, content.errorText);
    applyAddress(m_errorSignInAddress, content.errorSignInAddress);
    applyVisible(m_errorSignInAddress, !content.errorSignInAddress.isEmpty());
    applyVisible(m_retryInsert, content.showsRetryInsert);
}

} // namespace tessvale
