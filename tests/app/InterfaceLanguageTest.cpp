#include "app/shell/InterfaceLanguage.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace ozm {
namespace {

using Environment = std::map<std::string, std::string>;

InterfaceLanguage Choose(const Environment& environment) {
    return ChooseInterfaceLanguage([&](const char* name) -> const char* {
        const auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    });
}

constexpr auto zh = InterfaceLanguage::Chinese;
constexpr auto en = InterfaceLanguage::English;

TEST(InterfaceLanguageTest, TheLocaleOfMessagesChooses) {
    EXPECT_EQ(Choose({}), zh);
    EXPECT_EQ(Choose({{"LANG", "zh_CN.UTF-8"}}), zh);
    EXPECT_EQ(Choose({{"LANG", "zh_TW"}}), zh);
    EXPECT_EQ(Choose({{"LANG", "C"}}), zh);
    EXPECT_EQ(Choose({{"LANG", "C.UTF-8"}}), zh);
    EXPECT_EQ(Choose({{"LANG", "POSIX"}}), zh);
    EXPECT_EQ(Choose({{"LANG", "en_US.UTF-8"}}), en);
    EXPECT_EQ(Choose({{"LANG", "de_DE.UTF-8"}}), en);
    // LC_ALL before LC_MESSAGES before LANG; an empty one counts as unset.
    EXPECT_EQ(Choose({{"LC_ALL", "de_DE"}, {"LC_MESSAGES", "zh_CN"}, {"LANG", "zh_CN"}}), en);
    EXPECT_EQ(Choose({{"LC_ALL", ""}, {"LC_MESSAGES", "zh_CN"}, {"LANG", "en_US"}}), zh);
    EXPECT_EQ(Choose({{"LC_ALL", "C"}, {"LANG", "en_US"}}), zh);
}

TEST(InterfaceLanguageTest, LanguageListOutsideTheCLocaleAndTheOverride) {
    EXPECT_EQ(Choose({{"LANG", "en_US"}, {"LANGUAGE", "fr:zh_CN:en"}}), zh);
    EXPECT_EQ(Choose({{"LANG", "zh_CN"}, {"LANGUAGE", "en_GB"}}), en);
    EXPECT_EQ(Choose({{"LANG", "de_DE"}, {"LANGUAGE", "fr:de"}}), en);
    EXPECT_EQ(Choose({{"LANG", "C"}, {"LANGUAGE", "en"}}), zh);
    EXPECT_EQ(Choose({{"LANG", "de_DE"}, {"OZM_LANG", "zh"}}), zh);
    EXPECT_EQ(Choose({{"LANG", "zh_CN.UTF-8"}, {"OZM_LANG", "en"}}), en);
    EXPECT_EQ(Choose({{"LANG", "C"}, {"OZM_LANG", "en"}}), en);
    EXPECT_EQ(Choose({{"LANG", "de_DE"}, {"OZM_LANG", "fr"}}), en);
}

}  // namespace
}  // namespace ozm
