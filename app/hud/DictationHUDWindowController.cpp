#include "hud/DictationHUDWindowController.h"

#include <algorithm>

#include <QCursor>
#include <QEasingCurve>
#include <QGraphicsBlurEffect>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "async/OneShot.h"
#include "base/Logging.h"
#include "coordinator/DictationCoordinator.h"
#include "hud/DesktopCompositor.h"

Q_LOGGING_CATEGORY(lcDictationHUD, "com.tessvale.mac.DictationHUD")

namespace tessvale {

namespace {

// The level of a status window, above normal and floating windows.
constexpr long kStatusWindowLevel = 25;

// The ease-in-ease-out curve of the desktop's animations.
QEasingCurve easeInEaseOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

// The HUD's shadow, where a compositor blends it: black at 0.28, blurred over 24 px, 12 px down.
constexpr qreal kShadowOpacity = 0.28;
constexpr qreal kShadowRadius = 24;
constexpr int kShadowOffset = 12;
// The room around the capsule that the shadow draws in. Above the capsule it stops at the capsule's
// distance from the top of the screen, so the window never reaches above the screen.
constexpr QMargins kShadowMargins(24, 10, 24, 36);

QPainterPath capsulePath(const QRectF& rect)
{
    QPainterPath path;
    path.addRoundedRect(rect, rect.height() / 2, rect.height() / 2);
    return path;
}

// The blurred capsule, drawn once per pixel ratio in device pixels.
QImage shadowImage(QSize windowSize, qreal ratio)
{
    const QRectF capsule
        = QRectF(QPointF(kShadowMargins.left(), kShadowMargins.top() + kShadowOffset), DictationHUDView::hudSize);
    QGraphicsScene scene;
    QGraphicsPathItem* shape = scene.addPath(
        capsulePath(QRectF(capsule.topLeft() * ratio, capsule.size() * ratio)), Qt::NoPen, QColor(Qt::black));
    shape->setOpacity(kShadowOpacity);
    auto* blur = new QGraphicsBlurEffect;
    blur->setBlurRadius(kShadowRadius * ratio);
    blur->setBlurHints(QGraphicsBlurEffect::QualityHint);
    shape->setGraphicsEffect(blur);
    const QRectF pixels(QPointF(0, 0), QSizeF(windowSize) * ratio);
    QImage image(pixels.size().toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    scene.render(&painter, pixels, pixels);
    painter.end();
    image.setDevicePixelRatio(ratio);
    return image;
}

// The HUD's window: the view, and around it the room for the shadow while one is drawn.
class HUDPanel final : public QWidget
{
public:
    HUDPanel()
        : QWidget(nullptr,
            Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
                | Qt::NoDropShadowWindowHint)
    {
    }

    void setShadowed(bool shadowed)
    {
        if (shadowed == m_shadowed)
            return;
        m_shadowed = shadowed;
        const QMargins margins = shadowed ? kShadowMargins : QMargins();
        layout()->setContentsMargins(margins);
        setFixedSize(DictationHUDView::hudSize.grownBy(margins));
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_shadowed)
            return;
        const qreal ratio = devicePixelRatioF();
        if (m_shadow.isNull() || m_shadow.devicePixelRatio() != ratio)
            m_shadow = shadowImage(size(), ratio);
        QPainter(this).drawImage(0, 0, m_shadow);
    }

private:
    bool m_shadowed = false;
    QImage m_shadow;
};

} // namespace

DictationHUDWindowController::DictationHUDWindowController(
    DictationCoordinator& coordinator, SymbolIconProvider icons, QObject* parent)
    : QObject(parent)
    , m_coordinator(coordinator)
    , m_icons(icons ? std::move(icons) : SymbolIconProvider([](const QString&) { return QIcon(); }))
    , m_compositorRunning(desktopCompositorRunning)
{
    m_window = makePanel();
    connect(m_view, &DictationHUDView::startFailureClicked, this, [this] {
        // The insertion goes where the dictation began: the window takes no focus from it.
        if (m_coordinator.canRetryFailedInsertion()) {
            m_coordinator.dismissFailure();
            m_coordinator.retryFailedInsertion();
            return;
        }
        m_coordinator.dismissFailure();
        followFailure();
        hide(false);
        if (m_showSetup)
            m_showSetup();
    });
    connect(
        &coordinator, &DictationCoordinator::failureShownChanged, this,
        [this] {
            followFailure();
            updateVisibility(true);
        },
        Qt::QueuedConnection);

    // Phases reach the window on a later turn, the current one included, as the phase's observers do.
    connect(&coordinator, &DictationCoordinator::phaseChanged, this, &DictationHUDWindowController::phaseDelivered,
        Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        this, [this] { phaseDelivered(m_coordinator.phase()); }, Qt::QueuedConnection);

    // Any change of the screens moves the window, shown or not.
    for (QScreen* screen : QGuiApplication::screens())
        watchScreen(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watchScreen(screen);
        updateFrame();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this] { updateFrame(); });
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, [this] { updateFrame(); });
}

DictationHUDWindowController::~DictationHUDWindowController()
{
    for (OneShot<>& waiter : m_exposeWaiters)
        waiter.fail(CancelledError());
    stopFade();
    delete m_window;
}

QWidget* DictationHUDWindowController::makePanel()
{
    // A frameless tool window above the others that never takes the focus: no focus on map, none on
    // a click, no activation when shown.
    auto* panel = new HUDPanel;
    panel->setAttribute(Qt::WA_ShowWithoutActivating);
    panel->setAttribute(Qt::WA_X11DoNotAcceptFocus);
    panel->setAttribute(Qt::WA_TranslucentBackground);
    panel->setAttribute(Qt::WA_DeleteOnClose, false);
    panel->setFocusPolicy(Qt::NoFocus);
    panel->setWindowTitle(QStringLiteral("Tessvale"));
    m_view = new DictationHUDView(m_coordinator, m_icons, panel);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    panel->setFixedSize(DictationHUDView::hudSize);
    panel->move(0, 0);
    qCInfo(lcDictationHUD) << "created hud panel";
    return panel;
}

void DictationHUDWindowController::watchScreen(QScreen* screen)
{
    connect(screen, &QScreen::geometryChanged, this, [this] { updateFrame(); });
}

void DictationHUDWindowController::phaseDelivered(DictationPhase phase)
{
    qCInfo(lcDictationHUD).noquote() << QStringLiteral("phase changed to %1").arg(caseName(phase));
    followFailure();
    updateVisibility(true);
}

void DictationHUDWindowController::followFailure()
{
    const bool shows = m_coordinator.isShowingFailure();
    if (shows == m_showingStartFailure)
        return;
    m_showingStartFailure = shows;
    if (shows)
        qCInfo(lcDictationHUD) << "show failure";
    m_view->setShowsStartFailure(shows);
}

namespace {

// Wakes its waiter, on a turn of context's, once the window it watches is exposed: the X server has
// mapped it and it can be seen.
class ExposeWatcher final : public QObject
{
public:
    ExposeWatcher(QWindow* window, QObject* context, OneShot<> exposed)
        : m_window(window)
        , m_context(context)
        , m_exposed(std::move(exposed))
    {
        window->installEventFilter(this);
    }
    ~ExposeWatcher() override
    {
        if (m_window)
            m_window->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && m_window && m_window->isExposed())
            QMetaObject::invokeMethod(
                m_context, [exposed = m_exposed]() mutable { exposed.resolve(); }, Qt::QueuedConnection);
        return false;
    }

private:
    QPointer<QWindow> m_window;
    QObject* m_context;
    OneShot<> m_exposed;
};

} // namespace

QCoro::Task<> DictationHUDWindowController::shownForDictation(CancelToken token)
{
    // The phase reaches the window through the queue too; the start does not wait for that turn.
    followFailure();
    updateVisibility(true);
    QWindow* handle = m_window->windowHandle();
    if (!m_window->isVisible() || !handle || handle->isExposed())
        co_return;
    OneShot<> exposed;
    m_exposeWaiters.removeIf([](const OneShot<>& waiter) { return waiter.isDone(); });
    m_exposeWaiters.append(exposed);
    const ExposeWatcher watcher(handle, this, exposed);
    const CancelRegistration registration
        = token.onCancel(this, [exposed]() mutable { exposed.fail(CancelledError()); });
    // Failed by the destructor, too: then nothing of this object is touched after it.
    co_await exposed;
    qCInfo(lcDictationHUD) << "hud on screen";
}

bool DictationHUDWindowController::isWanted() const
{
    return m_coordinator.shouldShowHUD();
}

void DictationHUDWindowController::updateVisibility(bool animated)
{
    const bool wanted = isWanted();
    qCInfo(lcDictationHUD).noquote()
        << QStringLiteral("update visibility show=%1 phase=%2").arg(boolText(wanted), caseName(m_coordinator.phase()));
    if (wanted)
        show(animated);
    else
        hide(animated);
}

QScreen* DictationHUDWindowController::targetScreen() const
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    QList<QRect> frames;
    std::optional<qsizetype> primary;
    for (QScreen* screen : screens) {
        if (screen == QGuiApplication::primaryScreen())
            primary = frames.size();
        frames.append(screen->geometry());
    }
    const std::optional<qsizetype> index = hudTargetScreen(frames, primary, QCursor::pos());
    return index ? screens[*index] : nullptr;
}

void DictationHUDWindowController::updateFrame()
{
    QScreen* screen = targetScreen();
    if (!screen)
        return;
    // X11 screens have no safe-area inset.
    const double safeTop = 0;
    // The frame is the capsule's; the window adds the room of its shadow.
    const QRect frame = hudFrame(screen->geometry(), safeTop, DictationHUDView::hudSize);
    qCInfo(lcDictationHUD).noquote() << QStringLiteral("update frame screen=%1 safeTop=%2 frame=%3")
                                            .arg(screen->name())
                                            .arg(safeTop, 0, 'f', 6)
                                            .arg(hudRectText(frame));
    const QRect window = frame.marginsAdded(m_window->layout()->contentsMargins());
    if (m_window->geometry() != window)
        m_window->setGeometry(window);
}

void DictationHUDWindowController::show(bool animated)
{
    // A fade-out in progress finds the generation changed and leaves the window alone.
    ++m_visibilityGeneration;
    const bool compositing = m_compositorRunning && m_compositorRunning();
    if (!m_window->isVisible())
        applyShape(compositing);
    updateFrame();
    qCInfo(lcDictationHUD).noquote() << QStringLiteral("show hud frame=%1 level=%2")
                                            .arg(hudRectText(m_window->geometry().marginsRemoved(
                                                m_window->layout()->contentsMargins())))
                                            .arg(kStatusWindowLevel);
    if (m_window->isVisible()) {
        stopFade();
        m_window->setWindowOpacity(1);
        qCInfo(lcDictationHUD) << "hud already visible";
        return;
    }
    if (!animated || !compositing) {
        m_window->setWindowOpacity(1);
        m_window->show();
        m_window->raise();
        return;
    }
    m_window->setWindowOpacity(0);
    m_window->show();
    m_window->raise();
    fade(1, fadeInMs, {});
}

void DictationHUDWindowController::hide(bool animated)
{
    if (!m_window->isVisible())
        return;
    const qint64 generation = ++m_visibilityGeneration;
    qCInfo(lcDictationHUD) << "hide hud";
    if (!animated || !(m_compositorRunning && m_compositorRunning())) {
        stopFade();
        m_window->hide();
        m_window->setWindowOpacity(1);
        return;
    }
    fade(0, fadeOutMs, [this, generation] {
        // After the animation has ended, on a turn of its own.
        QMetaObject::invokeMethod(
            this, [this, generation] { finishFadeOut(generation); }, Qt::QueuedConnection);
    });
}

void DictationHUDWindowController::finishFadeOut(qint64 generation)
{
    if (generation != m_visibilityGeneration || isWanted())
        return;
    m_window->hide();
    m_window->setWindowOpacity(1);
}

void DictationHUDWindowController::fade(qreal to, int durationMs, std::function<void()> finished)
{
    // A new fade replaces the one running; the replaced one's completion never comes.
    stopFade();
    auto* animation = new QPropertyAnimation(m_window, "windowOpacity", this);
    animation->setDuration(durationMs);
    animation->setStartValue(m_window->windowOpacity());
    animation->setEndValue(to);
    animation->setEasingCurve(easeInEaseOut());
    if (finished)
        connect(animation, &QAbstractAnimation::finished, this, std::move(finished));
    m_fade = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    if (m_manualFadeClock)
        animation->pause();
}

void DictationHUDWindowController::advanceFade(int ms)
{
    // Reaching the end stops the fade as its own timer would, finished() included.
    if (m_fade)
        m_fade->setCurrentTime(std::min(m_fade->currentTime() + ms, m_fade->duration()));
}

void DictationHUDWindowController::stopFade()
{
    if (m_fade)
        m_fade->stop();
}

void DictationHUDWindowController::applyShape(bool compositing)
{
    // With a compositor the window is translucent and casts the shadow; without one its transparent
    // parts would show black: it is cut to the capsule instead.
    static_cast<HUDPanel*>(m_window)->setShadowed(compositing);
    if (compositing)
        m_window->clearMask();
    else
        setWindowShape(m_window, capsulePath(QRectF(QPointF(0, 0), DictationHUDView::hudSize)));
}

} // namespace tessvale
