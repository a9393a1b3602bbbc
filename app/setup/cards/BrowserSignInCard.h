#pragma once

#include "setup/SetupModel.h"
#include "windows/rows/SettingsSectionCard.h"

class QLineEdit;

namespace tessvale {

class SummaryRow;

// A browser sign-in that waits: the address to paste and copy, the browser to open again, the
// attempt and its callback.
class BrowserSignInCard final : public SettingsSectionCard
{
    Q_OBJECT

public:
    explicit BrowserSignInCard(QWidget* parent = nullptr);
    void apply(const SetupBrowserSignInContent& content);

signals:
    void actionRequested(SetupAction action);

private:
    SummaryRow* m_attempt = nullptr;
    SummaryRow* m_callback = nullptr;
    QLineEdit* m_signInAddress = nullptr;
};

} // namespace tessvale
