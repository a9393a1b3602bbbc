#include <gtest/gtest.h>

#include <QHash>
#include <QSet>

#include <unordered_set>

#include "settings/DictationShortcutAction.h"
#include "settings/ShortcutBinding.h"
#include "support/settings/VocabularyPrinters.h"

using namespace tessvale;

namespace {

using M = ShortcutModifiers;
constexpr ShortcutGesture hold = ShortcutGesture::holdModifiers;
constexpr ShortcutGesture doubleTap = ShortcutGesture::doubleTapModifiers;
constexpr ShortcutGesture combo = ShortcutGesture::keyComboPress;
constexpr DictationShortcutRole ptt = DictationShortcutRole::pushToTalk;
constexpr DictationShortcutRole handsFree = DictationShortcutRole::handsFreeToggle;

const char* const valid = nullptr;

struct ValidationCase
{
    const char* name;
    ShortcutBinding binding;
    DictationShortcutRole role;
    const char* expectedError;
};

} // namespace

TEST(ShortcutBindingValidation, FirstFailingRuleGivesItsMessage)
{
    const ValidationCase cases[] = {
        { "ptt hold Fn", { hold, M::function, std::nullopt }, ptt, valid },
        { "ptt hold Control+Option", { hold, M::control | M::option, std::nullopt }, ptt, valid },
        { "ptt hold Shift+Control", { hold, M::shift | M::control, std::nullopt }, ptt, valid },
        { "ptt hold unknown bit", { hold, M(32), std::nullopt }, ptt, valid },
        { "ptt hold Shift alone", { hold, M::shift, std::nullopt }, ptt, "Choose at least one non-Shift modifier." },
        { "ptt hold nothing", { hold, M(), std::nullopt }, ptt, "Choose at least one non-Shift modifier." },
        { "ptt hold with key", { hold, M::control, 49 }, ptt, "Modifier gestures cannot include a non-modifier key." },
        { "ptt hold Shift with key", { hold, M::shift, 0 }, ptt,
            "Modifier gestures cannot include a non-modifier key." },
        { "ptt combo", { combo, M::control, 49 }, ptt, "Push to talk must use a modifier hold binding." },
        { "ptt combo unknown key", { combo, M(), 50 }, ptt, "Push to talk must use a modifier hold binding." },
        { "ptt double tap", { doubleTap, M::command, std::nullopt }, ptt,
            "Push to talk must use a modifier hold binding." },
        { "hf hold", { hold, M::control, std::nullopt }, handsFree, "Hands-free toggle cannot use a hold binding." },
        { "hf hold with key", { hold, M::control, 49 }, handsFree, "Hands-free toggle cannot use a hold binding." },
        { "hf double tap Command", { doubleTap, M::command, std::nullopt }, handsFree, valid },
        { "hf double tap key, no modifiers", { doubleTap, M(), 49 }, handsFree,
            "Modifier gestures cannot include a non-modifier key." },
        { "hf double tap Shift", { doubleTap, M::shift, std::nullopt }, handsFree,
            "Choose at least one non-Shift modifier." },
        { "hf combo no key", { combo, M::control, std::nullopt }, handsFree,
            "A key combo binding must include a non-modifier key." },
        { "hf combo no key no modifier", { combo, M(), std::nullopt }, handsFree,
            "A key combo binding must include a non-modifier key." },
        { "hf combo Shift only", { combo, M::shift, 49 }, handsFree,
            "Choose at least one non-Shift modifier for global key combos." },
        { "hf combo no modifier, unknown key", { combo, M(), 50 }, handsFree,
            "Choose at least one non-Shift modifier for global key combos." },
        { "hf combo Control + 50", { combo, M::control, 50 }, handsFree,
            "That key is not supported for global combo shortcuts." },
        { "hf combo Control + 65535", { combo, M::control, 65535 }, handsFree,
            "That key is not supported for global combo shortcuts." },
        { "hf combo Control + Escape", { combo, M::control, 53 }, handsFree, valid },
        { "hf combo Shift+Command + A", { combo, M::shift | M::command, 0 }, handsFree, valid },
        { "hf combo Fn + Space", { combo, M::function, 49 }, handsFree, valid },
    };
    for (const ValidationCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QString> error = c.binding.validationError(c.role);
        if (c.expectedError)
            EXPECT_EQ(error, std::optional<QString>(QString::fromUtf8(c.expectedError)));
        else
            EXPECT_EQ(error, std::nullopt);
    }
}

TEST(ShortcutBindingDefaults, AreControlOptionHoldAndControlOptionSpace)
{
    EXPECT_EQ(ShortcutBinding::defaultPushToTalk, (ShortcutBinding { hold, M::control | M::option, std::nullopt }));
    EXPECT_EQ(ShortcutBinding::defaultHandsFreeToggle, (ShortcutBinding { combo, M::control | M::option, 49 }));
    EXPECT_EQ(ShortcutBinding::defaultPushToTalk.displayLabel(), "Hold Control + Alt");
    EXPECT_EQ(ShortcutBinding::defaultHandsFreeToggle.displayLabel(), "Control + Alt + Space");
}

TEST(ShortcutBindingDefaults, EachIsValidForItsOwnRoleOnly)
{
    EXPECT_EQ(ShortcutBinding::defaultPushToTalk.validationError(ptt), std::nullopt);
    EXPECT_EQ(ShortcutBinding::defaultHandsFreeToggle.validationError(handsFree), std::nullopt);
    // Swapped, each is rejected, so a binding stored under the wrong key cannot survive normalization.
    EXPECT_EQ(ShortcutBinding::defaultPushToTalk.validationError(handsFree),
        std::optional<QString>("Hands-free toggle cannot use a hold binding."));
    EXPECT_EQ(ShortcutBinding::defaultHandsFreeToggle.validationError(ptt),
        std::optional<QString>("Push to talk must use a modifier hold binding."));
}

TEST(ShortcutBindingLabels, FollowTheGesture)
{
    const struct
    {
        ShortcutBinding binding;
        const char* label;
    } cases[] = {
        { { hold, M::function, std::nullopt }, "Hold Fn" },
        { { hold, M(), std::nullopt }, "Hold " },
        { { doubleTap, M::command, std::nullopt }, "Double-tap Super" },
        { { doubleTap, M::function | M::command | M::shift | M::option | M::control, std::nullopt },
            "Double-tap Control + Alt + Shift + Super + Fn" },
        { { combo, M::function, 49 }, "Fn + Space" },
        { { combo, M::control | M::option, 40 }, "Control + Alt + K" },
        { { combo, M(), 49 }, "Space" },
        { { combo, M::control, std::nullopt }, "Control" },
        { { combo, M(), std::nullopt }, "" },
        { { combo, M::control, 50 }, "Control + Unknown" },
        { { combo, M(64) | M::shift, 122 }, "Shift + F1" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.binding.displayLabel(), QString::fromUtf8(c.label));
    }
}

TEST(ShortcutBindingLabels, KeyDisplayNameCoversExactlyTheNamedKeys)
{
    EXPECT_EQ(ShortcutBinding::keyDisplayName(std::nullopt), "");
    EXPECT_EQ(ShortcutBinding::keyDisplayName(49), "Space");
    EXPECT_EQ(ShortcutBinding::keyDisplayName(51), "Delete");
    EXPECT_EQ(ShortcutBinding::keyDisplayName(29), "0");
    EXPECT_EQ(ShortcutBinding::keyDisplayName(111), "F12");
    int named = 0;
    for (int code = 0; code <= 0xFFFF; ++code) {
        if (ShortcutBinding::keyDisplayName(static_cast<quint16>(code)) != "Unknown")
            ++named;
    }
    EXPECT_EQ(named, 53);
}

TEST(NamedKeys, TableMatchesTheMacVirtualKeyCodes)
{
    const struct
    {
        quint16 code;
        const char* name;
    } expected[] = {
        { 49, "Space" },
        { 36, "Return" },
        { 48, "Tab" },
        { 53, "Escape" },
        { 51, "Delete" },
        { 0, "A" },
        { 11, "B" },
        { 8, "C" },
        { 2, "D" },
        { 14, "E" },
        { 3, "F" },
        { 5, "G" },
        { 4, "H" },
        { 34, "I" },
        { 38, "J" },
        { 40, "K" },
        { 37, "L" },
        { 46, "M" },
        { 45, "N" },
        { 31, "O" },
        { 35, "P" },
        { 12, "Q" },
        { 15, "R" },
        { 1, "S" },
        { 17, "T" },
        { 32, "U" },
        { 9, "V" },
        { 13, "W" },
        { 7, "X" },
        { 16, "Y" },
        { 6, "Z" },
        { 29, "0" },
        { 18, "1" },
        { 19, "2" },
        { 20, "3" },
        { 21, "4" },
        { 23, "5" },
        { 22, "6" },
        { 26, "7" },
        { 28, "8" },
        { 25, "9" },
        { 122, "F1" },
        { 120, "F2" },
        { 99, "F3" },
        { 118, "F4" },
        { 96, "F5" },
        { 97, "F6" },
        { 98, "F7" },
        { 100, "F8" },
        { 101, "F9" },
        { 109, "F10" },
        { 103, "F11" },
        { 111, "F12" },
    };
    ASSERT_EQ(std::size(expected), namedKeys().size());
    for (size_t index = 0; index < std::size(expected); ++index) {
        SCOPED_TRACE(expected[index].name);
        EXPECT_EQ(namedKeys()[index].keyCode, expected[index].code);
        EXPECT_STREQ(namedKeys()[index].name, expected[index].name);
        EXPECT_EQ(namedKeyName(expected[index].code), std::optional<QString>(expected[index].name));
        EXPECT_EQ(namedKeyCode(QString::fromLatin1(expected[index].name)), expected[index].code);
    }
    EXPECT_EQ(namedKeyCode(u"space"), std::nullopt);
    EXPECT_EQ(namedKeyName(50), std::nullopt);
}

TEST(ShortcutBindingEquality, AbsentKeyCodeNeverEqualsPresentOne)
{
    const ShortcutBinding withoutKey { combo, M::control, std::nullopt };
    const ShortcutBinding withKeyZero { combo, M::control, 0 };
    EXPECT_NE(withoutKey, withKeyZero);
    EXPECT_EQ(withoutKey, (ShortcutBinding { combo, M::control, std::nullopt }));
    EXPECT_NE(withKeyZero, (ShortcutBinding { doubleTap, M::control, 0 }));
    EXPECT_NE(withKeyZero, (ShortcutBinding { combo, M::option, 0 }));

    QSet<ShortcutBinding> qtSet { withoutKey, withKeyZero, withoutKey };
    EXPECT_EQ(qtSet.size(), 2);
    std::unordered_set<ShortcutBinding> stdSet { withoutKey, withKeyZero, withoutKey };
    EXPECT_EQ(stdSet.size(), 2u);
}

TEST(ShortcutBindingJson, EncodesExactlyTheStoredForm)
{
    EXPECT_EQ(ShortcutBinding::defaultPushToTalk.toJson(), QByteArray(R"({"gesture":"holdModifiers","modifiers":3})"));
    EXPECT_EQ(ShortcutBinding::defaultHandsFreeToggle.toJson(),
        QByteArray(R"({"gesture":"keyComboPress","keyCode":49,"modifiers":3})"));
    EXPECT_EQ((ShortcutBinding { hold, M::function, std::nullopt }).toJson(),
        QByteArray(R"({"gesture":"holdModifiers","modifiers":16})"));
    EXPECT_EQ((ShortcutBinding { doubleTap, M(-1), 65535 }).toJson(),
        QByteArray(R"({"gesture":"doubleTapModifiers","keyCode":65535,"modifiers":-1})"));
    EXPECT_EQ((ShortcutBinding { combo, M(Q_INT64_C(9007199254740993)), 0 }).toJson(),
        QByteArray(R"({"gesture":"keyComboPress","keyCode":0,"modifiers":9007199254740993})"));
}

TEST(ShortcutBindingJson, DecodesWhatItEncodes)
{
    const ShortcutBinding bindings[] = {
        ShortcutBinding::defaultPushToTalk,
        ShortcutBinding::defaultHandsFreeToggle,
        { doubleTap, M::command | M::shift, std::nullopt },
        { combo, M(), 0 },
        { combo, M(std::numeric_limits<qint64>::max()), 65535 },
        { hold, M(std::numeric_limits<qint64>::min()), std::nullopt },
    };
    for (const ShortcutBinding& binding : bindings) {
        SCOPED_TRACE(binding.toJson().constData());
        EXPECT_EQ(ShortcutBinding::fromJson(binding.toJson()), binding);
    }
}

TEST(ShortcutBindingJson, DecodesMemberOrderAndKeyCodeSpellings)
{
    const struct
    {
        const char* json;
        ShortcutBinding expected;
    } cases[] = {
        { R"({"gesture":"keyComboPress","modifiers":16,"keyCode":49})", { combo, M::function, 49 } },
        { R"({"keyCode":49,"modifiers":16,"gesture":"keyComboPress"})", { combo, M::function, 49 } },
        { R"({"gesture":"keyComboPress","modifiers":16,"keyCode":null})", { combo, M::function, std::nullopt } },
        { R"({"gesture":"holdModifiers","modifiers":16})", { hold, M::function, std::nullopt } },
        { R"({"gesture":"doubleTapModifiers","modifiers":8.0,"keyCode":1e1})", { doubleTap, M::command, 10 } },
        { R"({"gesture":"holdModifiers","modifiers":1,"extra":[1,2]})", { hold, M::control, std::nullopt } },
        { R"( {"gesture":"holdModifiers","modifiers":-5} )", { hold, M(-5), std::nullopt } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        QString error;
        EXPECT_EQ(ShortcutBinding::fromJson(QByteArray(c.json), &error), c.expected) << error.toStdString();
    }
}

TEST(ShortcutBindingJson, RejectsMalformedInputWhole)
{
    const char* const cases[] = {
        "",
        "not json",
        "[]",
        "49",
        "null",
        R"({"gesture":"holdModifiers"})",
        R"({"modifiers":16})",
        R"({"gesture":null,"modifiers":16})",
        R"({"gesture":"HoldModifiers","modifiers":16})",
        R"({"gesture":"press","modifiers":16,"keyCode":49})",
        R"({"gesture":1,"modifiers":16})",
        R"({"gesture":"holdModifiers","modifiers":"16"})",
        R"({"gesture":"holdModifiers","modifiers":null})",
        R"({"gesture":"holdModifiers","modifiers":true})",
        R"({"gesture":"holdModifiers","modifiers":1.5})",
        R"({"gesture":"holdModifiers","modifiers":1e300})",
        R"({"gesture":"holdModifiers","modifiers":9223372036854775808})",
        R"({"gesture":"keyComboPress","modifiers":16,"keyCode":-1})",
        R"({"gesture":"keyComboPress","modifiers":16,"keyCode":65536})",
        R"({"gesture":"keyComboPress","modifiers":16,"keyCode":"49"})",
        R"({"gesture":"keyComboPress","modifiers":16,"keyCode":49.5})",
        R"({"gesture":"keyComboPress","modifiers":16,"keyCode":49)",
    };
    for (const char* json : cases) {
        SCOPED_TRACE(json);
        QString error;
        EXPECT_EQ(ShortcutBinding::fromJson(QByteArray(json), &error), std::nullopt);
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(ShortcutModifiersFlags, EventFlagsKeepOnlyTheFiveMembers)
{
    constexpr quint64 capsLock = 0x10000;
    constexpr quint64 numericPad = 0x200000;
    EXPECT_EQ(M::fromEventFlags(0x100000 | capsLock), M::command);
    EXPECT_EQ(M::fromEventFlags(0x40000 | 0x80000 | 0x20000 | 0x100000 | 0x800000 | capsLock | numericPad | 0xFF),
        M::control | M::option | M::shift | M::command | M::function);
    EXPECT_EQ(M::fromEventFlags(0), M());
    EXPECT_EQ((M::control | M::function | M(64)).eventFlags(), 0x40000u | 0x800000u);
    EXPECT_EQ((M::control | M::option | M::shift | M::command).eventFlags(), 0x1E0000u);
}

TEST(ShortcutModifiersFlags, CarbonFlagsLeaveOutFn)
{
    EXPECT_EQ((M::control | M::option | M::shift | M::command | M::function).carbonFlags(), 0x1B00u);
    EXPECT_EQ(M::function.carbonFlags(), 0u);
    EXPECT_EQ(M::command.carbonFlags(), 0x100u);
}

TEST(ShortcutModifiersSet, EmptyOrShiftOnlyLooksAtEveryBit)
{
    EXPECT_TRUE(M().isEmptyOrShiftOnly());
    EXPECT_TRUE(M::shift.isEmptyOrShiftOnly());
    EXPECT_FALSE(M(32).isEmptyOrShiftOnly());
    EXPECT_FALSE((M::shift | M::control).isEmptyOrShiftOnly());
    EXPECT_FALSE(M::function.isEmptyOrShiftOnly());
}

TEST(ShortcutModifiersSet, KeepsTheRawValueAndHasSetAlgebra)
{
    EXPECT_EQ(M(-1).rawValue(), -1);
    EXPECT_EQ(M(1024).displayLabel(), "");
    EXPECT_EQ((M::shift | M::control).displayLabel(), "Control + Shift");
    M set;
    EXPECT_TRUE(set.isEmpty());
    set.insert(M::control);
    set |= M::function;
    EXPECT_TRUE(set.contains(M::control));
    EXPECT_TRUE(set.isSuperset(M::function));
    EXPECT_TRUE(M::control.isSubset(set));
    EXPECT_TRUE(set.isDisjoint(M::shift));
    set.remove(M::control);
    EXPECT_EQ(set, M::function);
    EXPECT_EQ((M::control | M::option) & (M::option | M::shift), M::option);
    EXPECT_EQ((M::control | M::option) ^ (M::option | M::shift), M::control | M::shift);
    EXPECT_EQ((M::control | M::option) - M::option, M::control);
    QHash<M, int> hash { { M::control, 1 }, { M(1), 2 } };
    EXPECT_EQ(hash.size(), 1);
}

TEST(VocabularyRawValues, RoundTripAndRejectOtherTexts)
{
    for (ShortcutGesture gesture : { hold, doubleTap, combo })
        EXPECT_EQ(shortcutGestureFromRawValue(rawValue(gesture)), gesture);
    EXPECT_EQ(rawValue(hold), "holdModifiers");
    EXPECT_EQ(rawValue(doubleTap), "doubleTapModifiers");
    EXPECT_EQ(rawValue(combo), "keyComboPress");
    EXPECT_EQ(shortcutGestureFromRawValue(u"keycombopress"), std::nullopt);
    EXPECT_EQ(rawValue(ptt), "pushToTalk");
    EXPECT_EQ(rawValue(handsFree), "handsFreeToggle");
    EXPECT_EQ(dictationShortcutRoleFromRawValue(u"pushToTalk"), ptt);
    EXPECT_EQ(dictationShortcutRoleFromRawValue(u"handsFreeToggle"), handsFree);
    EXPECT_EQ(dictationShortcutRoleFromRawValue(u"handsfree"), std::nullopt);
    EXPECT_EQ(dictationShortcutRoleFromRawValue(u""), std::nullopt);
}
