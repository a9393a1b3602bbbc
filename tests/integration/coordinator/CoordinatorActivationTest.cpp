#include <gtest/gtest.h>

#include <QGuiApplication>

#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;

TEST(CoordinatorActivation, EveryActivationRefreshesThePermissionsOnce)
{
    CoordinatorHarness h;
    DictationCoordinator& c = h.coordinator();
    auto refreshes = [&h] { return h.activityMessages().filter(QStringLiteral("Permissions refreshed.")).size(); };
    // A second bootstrap must not add a second observer.
    c.bootstrap();
    c.bootstrap();
    h.settle();
    const qsizetype before = refreshes();

    h.accessibilityTrusted = false;
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(refreshes(), before);
    h.settle();
    EXPECT_EQ(refreshes(), before + 1);
    EXPECT_EQ(c.permissionSnapshot().accessibility, PermissionState::denied);
}
