#pragma once

#include <map>
#include <optional>
#include <set>

#include <QStringList>

#include "async/Sleeper.h"
#include "platform/focus/Accessibility.h"
#include "platform/focus/WindowSystem.h"

namespace tessvale::testing {

// An element known by its identity; two nodes with one identity are the same element.
class FakeNode final : public AccessibilityNode
{
public:
    explicit FakeNode(QString identity)
        : m_identity(std::move(identity))
    {
    }
    QString identity() const override { return m_identity; }

private:
    QString m_identity;
};

AccessibilityElement fakeElement(const QString& identity);

class FakeWindowSystem final : public WindowSystem
{
public:
    std::optional<FrontmostApplication> frontmost;
    std::set<qint32> running;
    // What requestActivation makes frontmost, per process.
    std::map<qint32, FrontmostApplication> windows;
    bool activationBringsToFront = true;
    QList<qint32> activationRequests;

    // Where keys go; left unset, the frontmost application's window has them.
    std::optional<std::optional<KeyboardFocusWindow>> keyboardFocus;

    std::optional<FrontmostApplication> frontmostApplication() override { return frontmost; }
    std::optional<KeyboardFocusWindow> keyboardFocusWindow() override;
    bool isRunning(qint32 processIdentifier) override { return running.count(processIdentifier) > 0; }
    PlatformResult requestActivation(qint32 processIdentifier) override;
};

class FakeAccessibility final : public Accessibility
{
public:
    enum class ReplaceBehaviour {
        replaces,
        refuses,
        reportsSuccessAndDoesNothing,
        truncates,
    };

    bool trusted = true;
    AccessibilityElement focused;
    std::map<QString, AccessibilityElement> windows;
    std::map<std::pair<QString, AccessibilityStringAttribute>, QString> strings;
    std::map<std::pair<QString, AccessibilitySettableAttribute>, std::optional<bool>> settable;
    std::map<QString, AccessibleTextState> texts;
    ReplaceBehaviour replaceBehaviour = ReplaceBehaviour::replaces;
    // When set, setFocused moves focus onto the element.
    bool focusFollowsRequests = true;
    // A busy application: each focus query holds its caller for answerDelay on clock (when set), and
    // without answers it then ends empty, as a query that timed out.
    ManualSleeper* clock = nullptr;
    Duration answerDelay { 0 };
    bool answers = true;
    int focusQueries = 0;
    QStringList calls;

    bool isTrusted() override { return trusted; }
    AccessibilityElement focusedElement() override;
    AccessibilityElement window(const AccessibilityElement& element) override;
    std::optional<QString> stringAttribute(
        const AccessibilityElement& element, AccessibilityStringAttribute attribute) override;
    std::optional<bool> isSettable(
        const AccessibilityElement& element, AccessibilitySettableAttribute attribute) override;
    PlatformResult raiseWindow(const AccessibilityElement& window) override;
    PlatformResult setFocused(const AccessibilityElement& element) override;
    std::optional<AccessibleTextState> textState(const AccessibilityElement& element) override;
    PlatformResult replaceSelection(const AccessibilityElement& element, const QString& text) override;
};

} // namespace tessvale::testing
