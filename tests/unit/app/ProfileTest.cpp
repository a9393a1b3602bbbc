#include <gtest/gtest.h>

#include <QFileInfo>

#include "Profile.h"

using namespace tessvale;

TEST(Profile, ANamedProfileHasItsOwnKeyAndSettings)
{
    struct Row
    {
        const char* variable;
        QString name;
    };
    // Names that could leave the settings folder or mean nothing are the user's own profile.
    const Row rows[] = { { nullptr, {} }, { "", {} }, { "demo", QStringLiteral("demo") },
        { "work_2", QStringLiteral("work_2") }, { "../demo", {} }, { "demo profile", {} } };
    qunsetenv(profileVariable);
    const QString usualFile = settingsFile();
    ASSERT_TRUE(usualFile.endsWith(QStringLiteral("/Tessvale/Tessvale.conf"))) << qPrintable(usualFile);
    const QString folder = QFileInfo(usualFile).path();

    for (const Row& row : rows) {
        if (row.variable)
            qputenv(profileVariable, row.variable);
        else
            qunsetenv(profileVariable);
        EXPECT_EQ(profileName(), row.name) << row.variable;
        if (row.name.isEmpty()) {
            EXPECT_EQ(keychainServiceName(QStringLiteral("com.tessvale.mac")), QStringLiteral("com.tessvale.mac"));
            EXPECT_EQ(settingsFile(), usualFile);
        } else {
            EXPECT_EQ(keychainServiceName(QStringLiteral("com.tessvale.mac")), "com.tessvale.mac." + row.name);
            EXPECT_EQ(keychainServiceName(std::nullopt), "com.tessvale.mac." + row.name);
            EXPECT_EQ(settingsFile(), folder + "/Tessvale-" + row.name + ".conf");
        }
    }
    qunsetenv(profileVariable);
}
