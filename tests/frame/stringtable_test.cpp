// The compiled string tables: both languages complete and formatting the same arguments.
#include <3dzan/frame.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>

namespace
{
// The printf conversions of a text, in order ("%%" excluded).
std::vector<std::string> Conversions(const std::string& text)
{
    static const std::regex conversion(R"(%[-+ #0]*(\*|\d+)?(\.(\*|\d+))?(hh|h|ll|l|L|z|j|t)?[diouxXeEfFgGaAcspn%])");
    std::vector<std::string> out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), conversion);
         it != std::sregex_iterator(); ++it)
        if (it->str() != "%%")
            out.push_back(it->str());
    return out;
}

// Entries of a source table file, counted the way a reader of the format would.
size_t CountEntries(const std::string& path)
{
    std::ifstream in(path);
    size_t n = 0;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            ++n;
    return n;
}
} // namespace

TEST(StringTable, BothLanguagesHoldTheSameIdsAndConversions)
{
    auto english = Zan3DGetStringIds(_LanguageEnglish);
    auto french = Zan3DGetStringIds(_LanguageFrench);
    ASSERT_FALSE(english.empty());
    EXPECT_EQ(english, french);
    EXPECT_TRUE(std::adjacent_find(english.begin(), english.end()) == english.end())
        << "an id appears twice";
    for (unsigned id : english)
    {
        std::string en = Zan3DGetStringIn(_LanguageEnglish, id);
        const char* fr = Zan3DGetStringIn(_LanguageFrench, id);
        ASSERT_NE(fr, nullptr) << id;
        EXPECT_EQ(Conversions(en), Conversions(fr)) << "id " << id << ": \"" << en
                                                    << "\" / \"" << fr << "\"";
        EXPECT_FALSE(en.empty()) << id;
    }
}

TEST(StringTable, EveryLineOfTheSourcesWasCompiledIn)
{
    for (auto [language, file] : {std::pair{_LanguageEnglish, "en.txt"},
                                  std::pair{_LanguageFrench, "fr.txt"}})
        EXPECT_EQ(Zan3DGetStringIds(language).size(),
                  CountEntries(std::string(ZAN3D_SOURCE_DIR "/resources/strings/") + file))
            << file;
}

TEST(StringTable, KnownTextsAndEscapes)
{
    EXPECT_STREQ(Zan3DGetStringIn(_LanguageEnglish, 9184), "3D commands");
    EXPECT_STREQ(Zan3DGetStringIn(_LanguageEnglish, 48002), "Objects: %d");
    EXPECT_STREQ(Zan3DGetStringIn(_LanguageEnglish, 9413),
                 "Scene was modified.\nDo you want to save it?");
    EXPECT_EQ(Zan3DGetStringIn(_LanguageEnglish, 1), nullptr);
}

TEST(StringTable, LanguageFollowsTheEnvironmentAndLoadStringUsesIt)
{
    auto restore = [](const char* name, const char* value) {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    };
    std::string savedLang = std::getenv("ZAN3D_LANG") ? std::getenv("ZAN3D_LANG") : "";
    const char* savedLcAll = std::getenv("LC_ALL");
    std::string lcAll = savedLcAll ? savedLcAll : "";

    setenv("ZAN3D_LANG", "", 1);
    setenv("LC_ALL", "fr_CA.UTF-8", 1);
    Zan3DSetLanguage(_LanguageFromEnvironment);
    EXPECT_EQ(Zan3DGetLanguage(), _LanguageFrench);
    CXTString text;
    ASSERT_TRUE(text.LoadStringW(9184));
    EXPECT_EQ(text, Zan3DGetStringIn(_LanguageFrench, 9184));

    setenv("ZAN3D_LANG", "en", 1);
    Zan3DSetLanguage(_LanguageFromEnvironment);
    EXPECT_EQ(Zan3DGetLanguage(), _LanguageEnglish);
    EXPECT_TRUE(text.LoadStringW(9184));
    EXPECT_EQ(text, "3D commands");

    Zan3DSetLanguage(_LanguageFrench);
    EXPECT_EQ(Zan3DGetLanguage(), _LanguageFrench);

    restore("ZAN3D_LANG", savedLang.empty() ? nullptr : savedLang.c_str());
    restore("LC_ALL", savedLcAll ? lcAll.c_str() : nullptr);
    Zan3DSetLanguage(_LanguageFromEnvironment);
}
