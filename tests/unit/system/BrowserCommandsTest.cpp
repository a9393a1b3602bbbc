#include <gtest/gtest.h>

#include <ostream>

#include "system/BrowserCommands.h"

using namespace tessvale;

namespace tessvale {

// Words between brackets, so that an empty word or one with spaces shows.
void PrintTo(const BrowserCommand& command, std::ostream* out)
{
    if (!command.failure.isEmpty()) {
        *out << "failure: " << command.failure.toStdString();
        return;
    }
    for (const QString& word : command.words)
        *out << '[' << word.toStdString() << ']';
}

} // namespace tessvale

namespace {

const QString kAddress = QStringLiteral("https://sign-in.example/authorize?state=a%20b");

struct Case
{
    const char* browser;
    QList<BrowserCommand> expected;
};

BrowserCommand words(QStringList list)
{
    return { std::move(list), {} };
}

BrowserCommand failure(const char* reason)
{
    return { {}, QString::fromUtf8(reason) };
}

} // namespace

TEST(BrowserCommands, EntriesAreSplitAsAShellWouldWithTheAddressInPlaceOfPercentS)
{
    const Case cases[] = {
        { "", {} },
        { " : ", {} },
        { "firefox", { words({ "firefox", kAddress }) } },
        { " firefox  --new-tab::open -a %s ",
            { words({ "firefox", "--new-tab", kAddress }), words({ "open", "-a", kAddress }) } },
        { "\"/opt/My Browser/b\" %s", { words({ "/opt/My Browser/b", kAddress }) } },
        { "'/opt/My Browser/b' --title 'it''s' %s", { words({ "/opt/My Browser/b", "--title", "its", kAddress }) } },
        { "/opt/My\\ Browser/b \\\"%s\\\"", { words({ "/opt/My Browser/b", "\"" + kAddress + "\"" }) } },
        { "b \"a\\\"b\\\\c\\d\" ''", { words({ "b", "a\"b\\c\\d", "", kAddress }) } },
        { "b --url=%s --label=100%% --keep=%d", { words({ "b", "--url=" + kAddress, "--label=100%", "--keep=%d" }) } },
        { "b %%s", { words({ "b", "%s", kAddress }) } },
        { "b '%s'", { words({ "b", kAddress }) } },
        { "b \"/opt/My Browser:x",
            { failure("BROWSER entry \"b \"/opt/My Browser\" has an unterminated double quote"),
                words({ "x", kAddress }) } },
        { "b 'it:firefox",
            { failure("BROWSER entry \"b 'it\" has an unterminated single quote"), words({ "firefox", kAddress }) } },
        { "b \\", { failure("BROWSER entry \"b \\\" ends in a backslash") } },
    };
    for (const Case& test : cases)
        EXPECT_EQ(browserCommands(QString::fromUtf8(test.browser), kAddress), test.expected) << test.browser;
}
