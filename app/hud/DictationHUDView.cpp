#include "hud/DictationHUDView.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "coordinator/DictationCoordinator.h"
#include "hud/DictationHUDWaveformView.h"

namespace tessvale {

namespace {

constexpr int kControlSide = 30;
constexpr int kStopSymbolSide = 12;
constexpr int kPhaseSymbolSide = 18;

QFont hudFont(int pixelSize, QFont::Weight weight)
{
    QFont font;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QColor white(float opacity)
{
    return QColor::fromRgbF(1, 1, 1, opacity);
}

QPainterPath capsulePath(const QRectF& rect)
{
    QPainterPath path;
    const qreal radius = rect.height() * 0.5;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

} // namespace

QPixmap tintedSymbol(const QIcon& icon, int side, const QColor& color, qreal ratio)
{
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    icon.paint(&painter, QRect(0, 0, side, side));
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRect(0, 0, side, side), color);
    return pixmap;
}

HUDStopButton::HUDStopButton(QWidget* parent)
    : QAbstractButton(parent)
{
    // A click must leave the keyboard focus in the application being dictated into.
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(kControlSide, kControlSide);
    setCursor(Qt::PointingHandCursor);
}

void HUDStopButton::setSymbol(const QIcon& icon)
{
    m_icon = icon;
    update();
}

void HUDStopButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(white(isDown() ? 0.75f : 0.92f));
    painter.drawEllipse(QRectF(rect()));
    const QRect symbol(
        (width() - kStopSymbolSide) / 2, (height() - kStopSymbolSide) / 2, kStopSymbolSide, kStopSymbolSide);
    painter.drawPixmap(symbol, tintedSymbol(m_icon, kStopSymbolSide, Qt::black, devicePixelRatioF()));
}

ElidedLabel::ElidedLabel(QWidget* parent)
    : QWidget(parent)
    , m_color(Qt::white)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

void ElidedLabel::setColor(const QColor& color)
{
    m_color = color;
    update();
}

QSize ElidedLabel::sizeHint() const
{
    return { fontMetrics().horizontalAdvance(m_text), fontMetrics().height() };
}

QSize ElidedLabel::minimumSizeHint() const
{
    return { 0, fontMetrics().height() };
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(m_color);
    // A line break from the service must not start a second line.
    QString line = m_text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        fontMetrics().elidedText(line, Qt::ElideRight, width()));
}

DictationHUDView::DictationHUDView(DictationCoordinator& coordinator, SymbolIconProvider icons, QWidget* parent)
    : QWidget(parent)
    , m_coordinator(coordinator)
    , m_icons(std::move(icons))
    , m_waveform(new DictationHUDWaveformView(coordinator, this))
    , m_title(new QLabel(this))
    , m_subtitle(new ElidedLabel(this))
    , m_stopButton(new HUDStopButton(this))
    , m_symbol(new QLabel(this))
{
    setFixedSize(hudSize);
    setFocusPolicy(Qt::NoFocus);

    m_title->setTextFormat(Qt::PlainText);
    m_title->setWordWrap(true);
    m_title->setFont(hudFont(14, QFont::DemiBold));
    QPalette titlePalette = m_title->palette();
    titlePalette.setColor(QPalette::WindowText, Qt::white);
    m_title->setPalette(titlePalette);
    m_subtitle->setFont(hudFont(12, QFont::Medium));
    m_subtitle->setColor(white(0.72f));

    m_symbol->setFixedSize(kControlSide, kControlSide);
    m_symbol->setAlignment(Qt::AlignCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->setContentsMargins(0, 0, 0, 0);
    texts->addStretch();
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);
    texts->addStretch();

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 12, 16, 12);
    row->setSpacing(14);
    row->addWidget(m_waveform, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
    row->addWidget(m_stopButton, 0, Qt::AlignVCenter);
    row->addWidget(m_symbol, 0, Qt::AlignVCenter);

    // The one action: the stop for the dictation's own trigger mode (a toggle would turn a held
    // push-to-talk dictation into a hands-free one).
    connect(m_stopButton, &QAbstractButton::clicked, this, [this] { m_coordinator.stopDictation(); });
    connect(&coordinator, &DictationCoordinator::stateChanged, this, [this] { apply(currentModel()); });
    apply(currentModel());
}

DictationHUDViewModel DictationHUDView::currentModel() const
{
    return m_showsStartFailure ? DictationHUDViewModel::failure(m_coordinator)
                               : DictationHUDViewModel::from(m_coordinator);
}

void DictationHUDView::setShowsStartFailure(bool shows)
{
    m_showsStartFailure = shows;
    setCursor(shows ? Qt::PointingHandCursor : Qt::ArrowCursor);
    apply(currentModel());
}

void DictationHUDView::mousePressEvent(QMouseEvent* event)
{
    if (!m_showsStartFailure) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    emit startFailureClicked();
}

void DictationHUDView::apply(const DictationHUDViewModel& model)
{
    if (m_title->text() != model.title)
        m_title->setText(model.title);
    m_subtitle->setText(model.subtitle);

    const bool stop = model.trailing.kind == HUDTrailingControl::Kind::stopButton;
    if (m_stopButton->isVisibleTo(this) != stop)
        m_stopButton->setVisible(stop);
    if (m_symbol->isVisibleTo(this) == stop)
        m_symbol->setVisible(!stop);
    if (stop && m_stopSymbolShown != model.trailing.symbolName) {
        m_stopSymbolShown = model.trailing.symbolName;
        m_stopButton->setSymbol(m_icons(m_stopSymbolShown));
    }
    if (!stop && m_symbolShown != model.trailing.symbolName) {
        m_symbolShown = model.trailing.symbolName;
        m_symbol->setPixmap(tintedSymbol(m_icons(m_symbolShown), kPhaseSymbolSide, white(0.86f), devicePixelRatioF()));
    }
}

void DictationHUDView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect());
    QLinearGradient gradient(bounds.topLeft(), bounds.bottomRight());
    gradient.setColorAt(0, QColor::fromRgbF(0.10f, 0.11f, 0.14f, 0.96f));
    gradient.setColorAt(1, QColor::fromRgbF(0.13f, 0.14f, 0.18f, 0.94f));
    painter.fillPath(capsulePath(bounds), gradient);
    // The inner border, 1 px wide, inside the capsule.
    painter.setPen(QPen(white(0.08f), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(capsulePath(bounds.adjusted(0.5, 0.5, -0.5, -0.5)));
}

} // namespace tessvale
