// The string tables are compiled into the library as the text of resources/strings/*.txt
// and parsed once, on first use, into arrays sorted by id. The table is installed as the
// source of CXTString::LoadStringW when the library is loaded, so texts are available
// before Init3DZan runs.
#include <3dzan/frame.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>

extern const unsigned char g_StringTable_en[];
extern const std::size_t g_StringTable_enSize;
extern const unsigned char g_StringTable_fr[];
extern const std::size_t g_StringTable_frSize;

namespace
{
using CEntries = std::vector<std::pair<unsigned, std::string>>;

std::string Unescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size())
        {
            char next = text[++i];
            out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
        }
        else
            out += c;
    }
    return out;
}

CEntries Parse(const unsigned char* data, size_t size)
{
    CEntries entries;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line[0] == '#')
            continue;
        size_t tab = line.find('\t');
        if (tab == 0 || tab == std::string_view::npos)
            continue;
        unsigned id = 0;
        bool digits = true;
        for (char c : line.substr(0, tab))
        {
            digits = digits && c >= '0' && c <= '9';
            id = id * 10 + unsigned(c - '0');
        }
        if (digits)
            entries.emplace_back(id, Unescape(line.substr(tab + 1)));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return entries;
}

const CEntries& Table(int language)
{
    static const CEntries english = Parse(g_StringTable_en, g_StringTable_enSize);
    static const CEntries french = Parse(g_StringTable_fr, g_StringTable_frSize);
    return language == _LanguageFrench ? french : english;
}

int LanguageFromEnvironment()
{
    const char* value = std::getenv("ZAN3D_LANG");
    if (!value || !*value)
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        {
            value = std::getenv(name);
            if (value && *value)
                break;
        }
    return value && value[0] == 'f' && value[1] == 'r' ? _LanguageFrench : _LanguageEnglish;
}

std::atomic<int> g_Language{-2}; // -2: not chosen yet

class CLibraryStringTable : public CStringTable
{
public:
    const char* GetString(unsigned id) const override { return Zan3DGetString(id); }
};

const CLibraryStringTable g_LibraryTable;

struct CInstallTable
{
    CInstallTable() { CXTString::SetStringTable(&g_LibraryTable); }
} g_InstallTable;
} // namespace

int Zan3DGetLanguage()
{
    int language = g_Language.load();
    if (language < 0)
    {
        language = LanguageFromEnvironment();
        g_Language.store(language);
    }
    return language;
}

void Zan3DSetLanguage(int language)
{
    g_Language.store(language == _LanguageFrench || language == _LanguageEnglish ? language
                                                                                  : -2);
}

const char* Zan3DGetStringIn(int language, unsigned id)
{
    const CEntries& entries = Table(language);
    auto it = std::lower_bound(entries.begin(), entries.end(), id,
                               [](const auto& entry, unsigned key) { return entry.first < key; });
    return it != entries.end() && it->first == id ? it->second.c_str() : nullptr;
}

const char* Zan3DGetString(unsigned id) { return Zan3DGetStringIn(Zan3DGetLanguage(), id); }

std::vector<unsigned> Zan3DGetStringIds(int language)
{
    std::vector<unsigned> ids;
    for (const auto& entry : Table(language))
        ids.push_back(entry.first);
    return ids;
}
