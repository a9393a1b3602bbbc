#pragma once

#include "setup/SetupModel.h"
#include "setup/cards/SetupCardParts.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tessvale {

// The last error on an orange panel, with the sign-in address while a sign-in is open and a retry
// for a transcript that could not be inserted.
class SetupErrorBanner final : public SetupPanel
{
    Q_OBJECT

public:
    explicit SetupErrorBanner(QWidget* parent = nullptr);
    void apply(const SetupErrorBannerContent& content);

signals:
    void actionRequested(SetupAction action);

private:
    QLabel* m_errorText = nullptr;
    QLineEdit* m_errorSignInAddress = nullptr;
    QPushButton* m_retryInsert = nullptr;
};

} // namespace tessvale
