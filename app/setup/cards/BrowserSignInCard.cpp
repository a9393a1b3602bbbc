#include "setup/cards/BrowserSignInCard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "icons/SymbolIcons.h"
#include "setup/SetupBlocks.h"
#include "setup/cards/SetupCardParts.h"
#include "windows/rows/RowStyle.h"

namespace tessvale {

BrowserSignInCard::BrowserSignInCard(QWidget* parent)
    : SettingsSectionCard(parent)
{
    contentLayout()->setSpacing(14);
    addContent(new SectionIntro(QStringLiteral("Continue in Browser"),
        QStringLiteral("Finish sign-in in your browser. Tessvale will return here as soon as the browser callback "
                       "completes.")));
    // The address first, with its copy button: what a user whose browser never came up needs.
    addContent(plainLabel(QStringLiteral("If no browser opened, paste this sign-in address into one:"),
        TextStyle::captionSemibold, true));
    auto* address = row(8);
    m_signInAddress = addressField();
    address->addWidget(m_signInAddress, 1);
    auto* copy = new QPushButton(symbolIcon(QStringLiteral("doc.on.doc")), QStringLiteral("Copy Address"));
    copy->setAutoDefault(false);
    copy->setProperty("prominent", false);
    connect(
        copy, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(m_signInAddress->text()); });
    address->addWidget(copy);
    contentLayout()->addLayout(address);
    // The service's URL opens through the coordinator, which checks its scheme.
    auto* link = new QPushButton(symbolIcon(QStringLiteral("globe")), QStringLiteral("Open Browser Again"));
    link->setFlat(true);
    link->setProperty("prominent", false);
    link->setAutoDefault(false);
    link->setFont(styledFont(TextStyle::bodySemibold, link->font()));
    link->setCursor(Qt::PointingHandCursor);
    connect(link, &QPushButton::clicked, this, [this] { emit actionRequested(SetupAction::reopenBrowserSignIn); });
    contentLayout()->addWidget(link, 0, Qt::AlignLeft);
    m_attempt = new SummaryRow(QStringLiteral("Attempt"), QString());
    m_callback = new SummaryRow(QStringLiteral("Callback"), QString());
    addContent(m_attempt);
    addContent(m_callback);
}

void BrowserSignInCard::apply(const SetupBrowserSignInContent& content)
{
    m_attempt->setValue(content.signInAttempt);
    m_callback->setValue(content.signInCallback);
    applyAddress(m_signInAddress, content.signInAddress);
}

} // namespace tessvale
