#include "platform/linux/focus/AtspiAccessibility.h"

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>

#include <unistd.h>

#include "base/Logging.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/focus/AtspiRoleTable.h"
#include "platform/linux/focus/EwmhWindowSystem.h"

// GLib names a struct member "signals", which Qt defines as a keyword.
#undef signals
#include <atspi/atspi.h>

namespace tessvale {

namespace {

// Answers from a hung application are given up after this long, so the main thread never waits
// for the default 25 s.
constexpr int atspiCallTimeoutMs = 3000;
constexpr int atspiStartupTimeoutMs = 15000;
// Bounds the search for the focused element in very large trees (long lists, documents).
constexpr int maxNodesSearched = 4000;

class AtspiNode final : public AccessibilityNode
{
public:
    explicit AtspiNode(AtspiAccessible* accessible)
        : m_accessible(static_cast<AtspiAccessible*>(g_object_ref(accessible)))
    {
        const auto* object = reinterpret_cast<const AtspiObject*>(accessible);
        m_identity = QString::fromUtf8(object->app && object->app->bus_name ? object->app->bus_name : "")
            + QLatin1Char('|') + QString::fromUtf8(object->path ? object->path : "");
    }
    ~AtspiNode() override { g_object_unref(m_accessible); }
    AtspiNode(const AtspiNode&) = delete;
    AtspiNode& operator=(const AtspiNode&) = delete;

    QString identity() const override { return m_identity; }
    AtspiAccessible* accessible() const { return m_accessible; }

private:
    AtspiAccessible* m_accessible;
    QString m_identity;
};

// Takes ownership of a GObject reference returned by libatspi.
template <typename T> class GRef
{
public:
    explicit GRef(T* object = nullptr)
        : m_object(object)
    {
    }
    ~GRef()
    {
        if (m_object)
            g_object_unref(m_object);
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
    GRef(GRef&& other) noexcept
        : m_object(std::exchange(other.m_object, nullptr))
    {
    }
    GRef& operator=(GRef&& other) noexcept
    {
        if (this != &other) {
            if (m_object)
                g_object_unref(m_object);
            m_object = std::exchange(other.m_object, nullptr);
        }
        return *this;
    }
    T* get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T* m_object;
};

// Logs and frees a GError, returning whether there was one.
bool failed(GError*& error, const char* what)
{
    if (!error)
        return false;
    qCDebug(lcFocus) << what << "failed:" << error->message;
    g_error_free(error);
    error = nullptr;
    return true;
}

// A step's failure from its GError (logged and freed); nothing when there was no error.
std::optional<PlatformResult> failure(GError*& error, const char* what)
{
    if (!error)
        return std::nullopt;
    const QString reason = QStringLiteral("%1 failed: %2").arg(QLatin1String(what), QString::fromUtf8(error->message));
    failed(error, what);
    return PlatformResult::failed(reason);
}

PlatformResult elementGone()
{
    return PlatformResult::failed(QStringLiteral("the element is no longer on the accessibility bus"));
}

AtspiAccessible* accessibleOf(const AccessibilityElement& element)
{
    const auto* node = dynamic_cast<const AtspiNode*>(element.get());
    return node ? node->accessible() : nullptr;
}

AccessibilityElement wrap(AtspiAccessible* accessible)
{
    return accessible ? std::make_shared<const AtspiNode>(accessible) : nullptr;
}

bool implements(AtspiAccessible* accessible, const char* interfaceName)
{
    GArray* interfaces = atspi_accessible_get_interfaces(accessible);
    if (!interfaces)
        return false;
    bool found = false;
    for (guint i = 0; i < interfaces->len && !found; ++i)
        found = g_strcmp0(g_array_index(interfaces, gchar*, i), interfaceName) == 0;
    for (guint i = 0; i < interfaces->len; ++i)
        g_free(g_array_index(interfaces, gchar*, i));
    g_array_free(interfaces, TRUE);
    return found;
}

bool hasState(AtspiAccessible* accessible, AtspiStateType state)
{
    GRef<AtspiStateSet> states(atspi_accessible_get_state_set(accessible));
    return states && atspi_state_set_contains(states.get(), state);
}

enum class Toolkit {
    gtk,
    qt,
    other,
};

Toolkit toolkitOf(AtspiAccessible* accessible)
{
    // The toolkit is a property of the application object, not of its elements.
    GError* error = nullptr;
    GRef<AtspiAccessible> application(atspi_accessible_get_application(accessible, &error));
    failed(error, "application");
    gchar* name = atspi_accessible_get_toolkit_name(application ? application.get() : accessible, &error);
    failed(error, "toolkit name");
    const QString toolkit = QString::fromUtf8(name ? name : "").toLower();
    g_free(name);
    if (toolkit.startsWith(QLatin1String("gtk")) || toolkit.startsWith(QLatin1String("gail")))
        return Toolkit::gtk;
    if (toolkit.startsWith(QLatin1String("qt")))
        return Toolkit::qt;
    qCDebug(lcFocus) << "toolkit" << toolkit << "counts characters";
    return Toolkit::other;
}

// Converts a toolkit offset into a UTF-16 position of text. Qt counts UTF-16 units; the others count
// characters (code points).
int toUtf16Position(const QString& text, int offset, Toolkit toolkit)
{
    if (toolkit == Toolkit::qt)
        return std::clamp(offset, 0, static_cast<int>(text.size()));
    int position = 0;
    for (int characters = 0; characters < offset && position < text.size(); ++characters)
        position += (text.at(position).isHighSurrogate() && position + 1 < text.size()) ? 2 : 1;
    return position;
}

// The length argument of an editable-text insertion counts what the toolkit counts: UTF-8 bytes in
// GTK, UTF-16 units in Qt, characters elsewhere. None of these exceeds what the text holds.
int insertionLength(const QString& text, Toolkit toolkit)
{
    switch (toolkit) {
    case Toolkit::gtk:
        return static_cast<int>(text.toUtf8().size());
    case Toolkit::qt:
        return static_cast<int>(text.size());
    case Toolkit::other:
        break;
    }
    return static_cast<int>(text.toUcs4().size());
}

// Depth-first search for the element with keyboard focus below root, skipping hidden subtrees.
AccessibilityElement findFocused(AtspiAccessible* root)
{
    std::deque<GRef<AtspiAccessible>> pending;
    pending.emplace_back(static_cast<AtspiAccessible*>(g_object_ref(root)));
    int visited = 0;
    while (!pending.empty() && visited < maxNodesSearched) {
        GRef<AtspiAccessible> node = std::move(pending.front());
        pending.pop_front();
        ++visited;
        GRef<AtspiStateSet> states(atspi_accessible_get_state_set(node.get()));
        if (!states)
            continue;
        if (atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED))
            return wrap(node.get());
        if (visited > 1 && !atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING))
            continue;
        if (atspi_state_set_contains(states.get(), ATSPI_STATE_MANAGES_DESCENDANTS))
            continue;
        GError* error = nullptr;
        const gint count = atspi_accessible_get_child_count(node.get(), &error);
        if (failed(error, "child count"))
            continue;
        for (gint i = count - 1; i >= 0; --i) {
            AtspiAccessible* child = atspi_accessible_get_child_at_index(node.get(), i, &error);
            if (failed(error, "child") || !child)
                continue;
            pending.emplace_front(child);
        }
    }
    return nullptr;
}

// The focused element in an active window of application.
AccessibilityElement focusedInApplication(AtspiAccessible* application)
{
    GError* error = nullptr;
    const gint windows = atspi_accessible_get_child_count(application, &error);
    if (failed(error, "windows"))
        return nullptr;
    for (gint w = 0; w < windows; ++w) {
        GRef<AtspiAccessible> window(atspi_accessible_get_child_at_index(application, w, &error));
        if (failed(error, "window") || !window)
            continue;
        if (!hasState(window.get(), ATSPI_STATE_ACTIVE))
            continue;
        if (auto focused = findFocused(window.get()))
            return focused;
    }
    return nullptr;
}

} // namespace

AtspiAccessibility::AtspiAccessibility()
    : m_windows(std::make_unique<EwmhWindowSystem>())
{
}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::ensureAccessibilityBusEnabled()
{
    QDBusInterface properties(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QDBusConnection::sessionBus());
    if (!properties.isValid())
        return false;
    QDBusReply<QDBusVariant> enabled
        = properties.call(QStringLiteral("Get"), QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"));
    if (enabled.isValid() && enabled.value().variant().toBool())
        return true;
    qCInfo(lcFocus) << "switching the accessibility bus on";
    QDBusReply<void> set = properties.call(QStringLiteral("Set"), QStringLiteral("org.a11y.Status"),
        QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(true)));
    return set.isValid();
}

bool AtspiAccessibility::ensureInitialized()
{
    if (m_initialized)
        return true;
    ensureAccessibilityBusEnabled();
    const int status = atspi_init();
    if (status != 0 && status != 1) {
        qCWarning(lcFocus) << "AT-SPI could not be initialized:" << status;
        return false;
    }
    atspi_set_timeout(atspiCallTimeoutMs, atspiStartupTimeoutMs);
    m_initialized = true;
    return true;
}

bool AtspiAccessibility::isTrusted()
{
    // Asked afresh like the permission row, so insertion and the row never disagree.
    return x11InputAccessAvailable();
}

AccessibilityElement AtspiAccessibility::focusedElement()
{
    if (!ensureInitialized())
        return nullptr;
    GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop)
        return nullptr;
    GError* error = nullptr;
    const gint applications = atspi_accessible_get_child_count(desktop.get(), &error);
    if (failed(error, "desktop children"))
        return nullptr;
    // The application in front is asked first and, when it names the focus, alone: with accessibility
    // on for every application the others are many, and each busy one would hold every query for the
    // length of the call time-out.
    const auto frontmost = m_windows->frontmostApplication();
    const guint ownProcess = static_cast<guint>(getpid());
    std::vector<GRef<AtspiAccessible>> others;
    for (gint a = 0; a < applications; ++a) {
        GRef<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), a, &error));
        if (failed(error, "application") || !app)
            continue;
        // Asking ourselves synchronously would only wait for the time-out.
        const guint pid = atspi_accessible_get_process_id(app.get(), &error);
        if (failed(error, "process id") || pid == ownProcess)
            continue;
        if (frontmost && frontmost->processIdentifier != 0 && pid == static_cast<guint>(frontmost->processIdentifier)) {
            if (auto focused = focusedInApplication(app.get()))
                return focused;
            continue;
        }
        others.push_back(std::move(app));
    }
    for (const auto& app : others) {
        if (auto focused = focusedInApplication(app.get()))
            return focused;
    }
    return nullptr;
}

AccessibilityElement AtspiAccessibility::window(const AccessibilityElement& element)
{
    AtspiAccessible* accessible = accessibleOf(element);
    if (!accessible)
        return nullptr;
    GError* error = nullptr;
    GRef<AtspiAccessible> current(static_cast<AtspiAccessible*>(g_object_ref(accessible)));
    // The window is the ancestor whose parent is the application.
    for (int depth = 0; depth < 64; ++depth) {
        GRef<AtspiAccessible> parent(atspi_accessible_get_parent(current.get(), &error));
        if (failed(error, "parent") || !parent)
            return nullptr;
        const AtspiRole role = atspi_accessible_get_role(parent.get(), &error);
        if (failed(error, "role"))
            return nullptr;
        if (role == ATSPI_ROLE_APPLICATION)
            return wrap(current.get());
        current = std::move(parent);
    }
    return nullptr;
}

std::optional<QString> AtspiAccessibility::stringAttribute(
    const AccessibilityElement& element, AccessibilityStringAttribute attribute)
{
    AtspiAccessible* accessible = accessibleOf(element);
    if (!accessible)
        return std::nullopt;
    GError* error = nullptr;
    if (attribute == AccessibilityStringAttribute::title) {
        gchar* name = atspi_accessible_get_name(accessible, &error);
        if (failed(error, "name") || !name)
            return std::nullopt;
        QString title = QString::fromUtf8(name);
        g_free(name);
        return title;
    }
    const AtspiRole role = atspi_accessible_get_role(accessible, &error);
    if (failed(error, "role"))
        return std::nullopt;
    MappedRole mapped = mapAtspiRole(role, hasState(accessible, ATSPI_STATE_MULTI_LINE));
    // A top-level child of the application is its window, whatever role the toolkit gives it (Qt
    // reports a plain widget window as a filler).
    GRef<AtspiAccessible> parent(atspi_accessible_get_parent(accessible, &error));
    failed(error, "parent");
    if (parent && atspi_accessible_get_role(parent.get(), &error) == ATSPI_ROLE_APPLICATION
        && mapped.role != QLatin1String("AXWindow"))
        mapped = MappedRole { QStringLiteral("AXWindow"), QStringLiteral("AXStandardWindow") };
    failed(error, "parent role");
    return attribute == AccessibilityStringAttribute::role ? std::optional<QString>(mapped.role) : mapped.subrole;
}

std::optional<bool> AtspiAccessibility::isSettable(
    const AccessibilityElement& element, AccessibilitySettableAttribute attribute)
{
    AtspiAccessible* accessible = accessibleOf(element);
    if (!accessible)
        return std::nullopt;
    GRef<AtspiStateSet> states(atspi_accessible_get_state_set(accessible));
    if (!states)
        return std::nullopt;
    const bool editable = atspi_state_set_contains(states.get(), ATSPI_STATE_EDITABLE);
    switch (attribute) {
    case AccessibilitySettableAttribute::value:
    case AccessibilitySettableAttribute::selectedText:
        return editable && implements(accessible, "EditableText");
    case AccessibilitySettableAttribute::selectedTextRange:
        return implements(accessible, "Text")
            && (editable || atspi_state_set_contains(states.get(), ATSPI_STATE_SELECTABLE_TEXT));
    }
    return std::nullopt;
}

PlatformResult AtspiAccessibility::raiseWindow(const AccessibilityElement& window)
{
    return setFocused(window);
}

PlatformResult AtspiAccessibility::setFocused(const AccessibilityElement& element)
{
    AtspiAccessible* accessible = accessibleOf(element);
    if (!accessible)
        return elementGone();
    if (!implements(accessible, "Component"))
        return PlatformResult::failed(QStringLiteral("the element cannot take the focus"));
    GRef<AtspiComponent> component(atspi_accessible_get_component_iface(accessible));
    GError* error = nullptr;
    const gboolean done = atspi_component_grab_focus(component.get(), &error);
    if (auto failedStep = failure(error, "grab focus"))
        return *failedStep;
    if (!done)
        return PlatformResult::failed(QStringLiteral("the application did not give the element the focus"));
    return PlatformResult::ok();
}

std::optional<AccessibleTextState> AtspiAccessibility::textState(const AccessibilityElement& element)
{
    AtspiAccessible* accessible = accessibleOf(element);
    if (!accessible || !implements(accessible, "Text"))
        return std::nullopt;
    GRef<AtspiText> text(atspi_accessible_get_text_iface(accessible));
    GError* error = nullptr;
    gchar* content = atspi_text_get_text(text.get(), 0, -1, &error);
    if (failed(error, "text") || !content)
        return std::nullopt;
    AccessibleTextState state;
    state.text = QString::fromUtf8(content);
    g_free(content);
    const Toolkit toolkit = toolkitOf(accessible);
    int start = atspi_text_get_caret_offset(text.get(), &error);
    failed(error, "caret");
    int end = start;
    if (atspi_text_get_n_selections(text.get(), &error) > 0) {
        AtspiRange* range = atspi_text_get_selection(text.get(), 0, &error);
        if (range) {
            start = range->start_offset;
            end = range->end_offset;
            g_free(range);
        }
    }
    failed(error, "selection");
    state.selectionStart = toUtf16Position(state.text, std::min(start, end), toolkit);
    state.selectionEnd = toUtf16Position(state.text, std::max(start, end), toolkit);
    return state;
}

PlatformResult AtspiAccessibility::replaceSelection(const AccessibilityElement& element, const QString& insertion)
{
    AtspiAccessible* accessible = accessibleOf(element);
    if (!accessible)
        return elementGone();
    if (!implements(accessible, "EditableText") || !implements(accessible, "Text"))
        return PlatformResult::failed(QStringLiteral("the element's text cannot be edited"));
    const Toolkit toolkit = toolkitOf(accessible);
    GRef<AtspiText> text(atspi_accessible_get_text_iface(accessible));
    GRef<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(accessible));
    GError* error = nullptr;
    int start = atspi_text_get_caret_offset(text.get(), &error);
    if (auto failedStep = failure(error, "caret"))
        return *failedStep;
    if (atspi_text_get_n_selections(text.get(), &error) > 0) {
        AtspiRange* range = atspi_text_get_selection(text.get(), 0, &error);
        if (range) {
            const int end = std::max(range->start_offset, range->end_offset);
            start = std::min(range->start_offset, range->end_offset);
            g_free(range);
            if (end > start) {
                const gboolean deleted = atspi_editable_text_delete_text(editable.get(), start, end, &error);
                if (auto failedStep = failure(error, "delete"))
                    return *failedStep;
                if (!deleted)
                    return PlatformResult::failed(QStringLiteral("the application kept the selected text"));
            }
        }
    }
    failed(error, "selection");
    const QByteArray utf8 = insertion.toUtf8();
    const gboolean inserted = atspi_editable_text_insert_text(
        editable.get(), std::max(start, 0), utf8.constData(), insertionLength(insertion, toolkit), &error);
    if (auto failedStep = failure(error, "insert"))
        return *failedStep;
    if (!inserted)
        return PlatformResult::failed(QStringLiteral("the application refused the text"));
    return PlatformResult::ok();
}

} // namespace tessvale
