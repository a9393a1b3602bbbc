#pragma once

#include <memory>

#include <QString>

namespace tessvale {

// One node of another application's accessibility tree, as the backend holds it. Two handles name the
// same element when their identities are equal (the backend's own notion of equality, not pointer
// identity), just as two references to one element compare equal on the platform.
class AccessibilityNode
{
public:
    virtual ~AccessibilityNode() = default;
    virtual QString identity() const = 0;
};

// Shared and immutable: a captured target keeps its element for as long as it lives.
using AccessibilityElement = std::shared_ptr<const AccessibilityNode>;

} // namespace tessvale
