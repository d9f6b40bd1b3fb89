// The application profile: an INI file read once into memory and rewritten whole on each
// write. The file is the user's as much as ours (people edit it by hand, other versions of
// the library write it, disks fail), so reading accepts anything and keeps what it can, and
// nothing but an explicit write ever replaces it: a write goes to a temporary file in the
// same folder, is synchronised, then renamed over the old file.
#include <3dzan/foundation/files.h>
#include <3dzan/foundation/profile.h>
#include <3dzan/foundation/services.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace
{
struct ProfileEntry
{
    std::string m_Key;
    std::string m_Value; // decoded
};

// Names compare without regard to ASCII case; the indexes are keyed by the folded name so
// that reading a file of a hundred thousand lines stays linear.
std::string Folded(std::string_view name)
{
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return folded;
}

struct ProfileSection
{
    std::string m_Name;
    std::vector<ProfileEntry> m_Entries;
    std::unordered_map<std::string, size_t> m_Index;

    ProfileEntry* Find(std::string_view key)
    {
        auto found = m_Index.find(Folded(key));
        return found == m_Index.end() ? nullptr : &m_Entries[found->second];
    }

    void Set(std::string_view key, std::string value)
    {
        auto [slot, added] = m_Index.emplace(Folded(key), m_Entries.size());
        if (added)
            m_Entries.push_back({std::string(key), std::move(value)});
        else
            m_Entries[slot->second].m_Value = std::move(value);
    }

    bool Remove(std::string_view key)
    {
        auto found = m_Index.find(Folded(key));
        if (found == m_Index.end())
            return false;
        m_Entries.erase(m_Entries.begin() + std::ptrdiff_t(found->second));
        m_Index.clear();
        for (size_t i = 0; i < m_Entries.size(); ++i)
            m_Index.emplace(Folded(m_Entries[i].m_Key), i);
        return true;
    }
};

struct ProfileSections
{
    std::vector<ProfileSection> m_List;
    std::unordered_map<std::string, size_t> m_Index;

    ProfileSection* Find(std::string_view name)
    {
        auto found = m_Index.find(Folded(name));
        return found == m_Index.end() ? nullptr : &m_List[found->second];
    }

    // The section's position, added at the end when missing.
    size_t IndexOf(std::string_view name)
    {
        auto [slot, added] = m_Index.emplace(Folded(name), m_List.size());
        if (added)
            m_List.push_back({std::string(name), {}, {}});
        return slot->second;
    }

    void Set(std::string_view section, std::string_view key, std::string value)
    {
        m_List[IndexOf(section)].Set(key, std::move(value));
    }

    void Clear()
    {
        m_List.clear();
        m_Index.clear();
    }
};

// What the cache knows of the file it was read from, to notice a change on disk.
struct FileIdentity
{
    int m_Status = -1; // a StatResult; -1 before the first look
    bool m_Exists = false;
    dev_t m_Device = 0;
    ino_t m_Inode = 0;
    off_t m_Size = 0;
    timespec m_Modified{};

    bool operator==(const FileIdentity& other) const
    {
        return m_Status == other.m_Status && m_Exists == other.m_Exists &&
               m_Device == other.m_Device && m_Inode == other.m_Inode && m_Size == other.m_Size &&
               m_Modified.tv_sec == other.m_Modified.tv_sec &&
               m_Modified.tv_nsec == other.m_Modified.tv_nsec;
    }
};

struct ProfileCache
{
    std::mutex m_Mutex;
    bool m_Loaded = false;
    std::string m_Path;
    FileIdentity m_Identity;
    // False when the file exists but could not be read: writing would lose its values.
    bool m_Writable = false;
    ProfileSections m_Sections;
};

ProfileCache& GetCache()
{
    // Never destroyed: exit callbacks may still read or write the profile.
    static ProfileCache* const cache = new ProfileCache;
    return *cache;
}

// ---------------------------------------------------------------- text helpers

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool HasControl(std::string_view text)
{
    for (char c : text)
        if ((uint8_t(c) < 0x20 && c != '\t') || c == 0x7F)
            return true;
    return false;
}

bool IsValidSection(const char* section)
{
    if (!section || !*section)
        return false;
    std::string_view name(section);
    return Trim(name) == name && !HasControl(name) && name.find('\t') == std::string_view::npos &&
           name.find(']') == std::string_view::npos;
}

bool IsValidKey(const char* key)
{
    if (!key || !*key)
        return false;
    std::string_view name(key);
    return Trim(name) == name && !HasControl(name) && name.find('\t') == std::string_view::npos &&
           name.find('=') == std::string_view::npos && name[0] != '[' && name[0] != ';' &&
           name[0] != '#';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string EncodeValue(std::string_view value)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size() + 2);
    for (char c : value)
    {
        switch (c)
        {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (uint8_t(c) < 0x20 || c == 0x7F)
            {
                out += "\\x";
                out += kHex[uint8_t(c) >> 4];
                out += kHex[uint8_t(c) & 0xF];
            }
            else
                out += c;
        }
    }
    // Blanks at either end would be trimmed by the reader, and an opening quote would be
    // taken for ours.
    if (!out.empty() && (IsBlank(out.front()) || IsBlank(out.back()) || out.front() == '"'))
        out = '"' + out + '"';
    return out;
}

std::string DecodeValue(std::string_view raw)
{
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"')
        raw = raw.substr(1, raw.size() - 2);
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i)
    {
        char c = raw[i];
        if (c != '\\' || i + 1 >= raw.size())
        {
            out += c;
            continue;
        }
        char next = raw[i + 1];
        switch (next)
        {
        case '\\':
            out += '\\';
            ++i;
            break;
        case 'n':
            out += '\n';
            ++i;
            break;
        case 'r':
            out += '\r';
            ++i;
            break;
        case 't':
            out += '\t';
            ++i;
            break;
        case 'x':
            if (i + 3 < raw.size() && HexDigit(raw[i + 2]) >= 0 && HexDigit(raw[i + 3]) >= 0)
            {
                char byte = char(HexDigit(raw[i + 2]) * 16 + HexDigit(raw[i + 3]));
                // A NUL cannot live in the strings handed back; keep the escape as written.
                if (byte != 0)
                {
                    out += byte;
                    i += 3;
                    break;
                }
            }
            out += c;
            break;
        default:
            // An unknown escape is kept as written: hand-written Windows paths survive.
            out += c;
        }
    }
    return out;
}

// Decimal, or hexadecimal after "0x"; blanks around allowed; false on anything else or
// beyond \p max.
bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t& result)
{
    text = Trim(text);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    uint64_t value = 0;
    for (char c : text)
    {
        int digit = HexDigit(c);
        if (digit < 0 || digit >= base)
            return false;
        if (value > (max - uint64_t(digit)) / uint64_t(base))
            return false;
        value = value * uint64_t(base) + uint64_t(digit);
    }
    result = value;
    return true;
}

bool ParseInt(std::string_view text, int& result)
{
    text = Trim(text);
    bool negative = !text.empty() && text[0] == '-';
    if (negative)
        text.remove_prefix(1);
    uint64_t magnitude = 0;
    if (!ParseUnsigned(text, negative ? 2147483648ull : 2147483647ull, magnitude))
        return false;
    result = negative ? int(-int64_t(magnitude)) : int(magnitude);
    return true;
}

// ------------------------------------------------------------------ the model

// Reads the lines it understands; returns how many it had to leave out.
int ParseProfile(std::string_view text, ProfileSections& sections)
{
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    int ignored = 0;
    // An index, not a pointer: adding a section moves the others.
    size_t current = SIZE_MAX;
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
        if (line.size() > kProfileMaxLineLength || HasControl(line))
        {
            ++ignored;
            continue;
        }
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[')
        {
            std::string_view name = line.back() == ']' && line.size() >= 2
                                        ? Trim(line.substr(1, line.size() - 2))
                                        : std::string_view();
            current = SIZE_MAX;
            if (name.empty() || name.find(']') != std::string_view::npos)
            {
                // Its keys are left out too: they would otherwise land in the section above.
                ++ignored;
                continue;
            }
            current = sections.IndexOf(name);
            continue;
        }
        size_t equal = line.find('=');
        std::string_view key =
            equal == std::string_view::npos ? std::string_view() : Trim(line.substr(0, equal));
        if (current == SIZE_MAX || key.empty())
        {
            ++ignored;
            continue;
        }
        // A key written twice keeps its last value, as a reader going down the file would.
        sections.m_List[current].Set(key, DecodeValue(Trim(line.substr(equal + 1))));
    }
    return ignored;
}

std::string FormatProfile(const ProfileSections& sections)
{
    std::string out;
    for (const ProfileSection& section : sections.m_List)
    {
        if (section.m_Entries.empty())
            continue;
        if (!out.empty())
            out += '\n';
        out += '[' + section.m_Name + "]\n";
        for (const ProfileEntry& entry : section.m_Entries)
            out += entry.m_Key + '=' + EncodeValue(entry.m_Value) + '\n';
    }
    return out;
}

// ------------------------------------------------------------------- the file

enum class StatResult
{
    Missing,
    Present,
    Failed
};

StatResult StatFile(const std::string& path, FileIdentity& identity)
{
    identity = FileIdentity();
    struct stat info = {};
    StatResult result = StatResult::Failed;
    if (stat(path.c_str(), &info) != 0)
        result = errno == ENOENT || errno == ENOTDIR ? StatResult::Missing : StatResult::Failed;
    else
    {
        identity.m_Exists = true;
        identity.m_Device = info.st_dev;
        identity.m_Inode = info.st_ino;
        identity.m_Size = info.st_size;
        identity.m_Modified = info.st_mtim;
        result = S_ISREG(info.st_mode) ? StatResult::Present : StatResult::Failed;
    }
    identity.m_Status = int(result);
    return result;
}

// Reads at most \p limit + 1 bytes, so that a file that grew past the limit is noticed.
bool ReadFileText(const std::string& path, size_t limit, std::string& text)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    text.clear();
    char buffer[65536];
    bool ok = true;
    while (text.size() <= limit)
    {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0)
        {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (got == 0)
            break;
        text.append(buffer, std::min(size_t(got), limit + 1 - text.size()));
    }
    ::close(fd);
    return ok;
}

void LoadInto(ProfileCache& cache, const std::string& path)
{
    cache.m_Loaded = true;
    cache.m_Path = path;
    cache.m_Sections.Clear();
    cache.m_Writable = false;
    cache.m_Identity = FileIdentity();
    if (path.empty())
        return;
    StatResult status = StatFile(path, cache.m_Identity);
    if (status == StatResult::Missing)
    {
        cache.m_Writable = true;
        return;
    }
    std::string text;
    if (status == StatResult::Failed || !ReadFileText(path, kProfileMaxFileSize, text))
    {
        WriteToLogFile("Profile %s cannot be read (%s); defaults are used and it is not "
                       "written\n",
                       path.c_str(), status == StatResult::Failed ? "not a file" : "read error");
        return;
    }
    cache.m_Writable = true;
    if (text.size() > kProfileMaxFileSize)
    {
        WriteToLogFile("Profile %s is larger than %zu bytes and is ignored\n", path.c_str(),
                       kProfileMaxFileSize);
        return;
    }
    if (text.find('\0') != std::string::npos)
    {
        WriteToLogFile("Profile %s is not a text file and is ignored\n", path.c_str());
        return;
    }
    int ignored = ParseProfile(text, cache.m_Sections);
    if (ignored > 0)
        WriteToLogFile("Profile %s: %d unreadable lines ignored\n", path.c_str(), ignored);
}

// The cache, brought up to date with the file of the current configuration folder.
ProfileCache& Refresh(std::unique_lock<std::mutex>& lock)
{
    ProfileCache& cache = GetCache();
    lock = std::unique_lock<std::mutex>(cache.m_Mutex);
    CXTString pathText = GetProfilePath();
    std::string path = pathText.str();
    FileIdentity identity;
    if (!path.empty())
        StatFile(path, identity);
    // An unreadable file is not read again until it changes: one log line, not one a call.
    if (!cache.m_Loaded || cache.m_Path != path || !(identity == cache.m_Identity))
        LoadInto(cache, path);
    return cache;
}

bool WriteFileAtomically(const std::string& path, const std::string& text)
{
    if (!CreateConfigDirectory())
        return false;
    return fileWriteAtomic(path.c_str(), text.data(), text.size());
}

// Applies \p edit to a copy of the values and writes it; the cache takes the copy only when
// the file took it.
template <class Edit> bool WriteEdited(const char* section, const char* key, Edit edit)
{
    std::unique_lock<std::mutex> lock;
    ProfileCache& cache = Refresh(lock);
    if (cache.m_Path.empty())
        return false;
    if (!cache.m_Writable)
    {
        WriteToLogFile("Profile %s was not read; [%s] %s is not written\n", cache.m_Path.c_str(),
                       section, key);
        return false;
    }
    ProfileSections edited = cache.m_Sections;
    if (!edit(edited))
        return true;
    if (!WriteFileAtomically(cache.m_Path, FormatProfile(edited)))
    {
        WriteToLogFile("Profile %s cannot be written (%s)\n", cache.m_Path.c_str(),
                       std::strerror(errno));
        return false;
    }
    cache.m_Sections = std::move(edited);
    StatFile(cache.m_Path, cache.m_Identity);
    return true;
}

bool GetRaw(const char* section, const char* key, std::string& value)
{
    if (!section || !key)
        return false;
    std::unique_lock<std::mutex> lock;
    ProfileCache& cache = Refresh(lock);
    ProfileSection* found = cache.m_Sections.Find(section);
    ProfileEntry* entry = found ? found->Find(key) : nullptr;
    if (!entry)
        return false;
    value = entry->m_Value;
    return true;
}

bool WriteRaw(const char* section, const char* key, std::string value)
{
    if (!IsValidSection(section) || !IsValidKey(key))
        return false;
    return WriteEdited(section, key,
                       [&](ProfileSections& sections)
                       {
                           sections.Set(section, key, std::move(value));
                           return true;
                       });
}
} // namespace

uint32_t GetProfileLongUInt(const char* section, const char* key, uint32_t defaultValue)
{
    std::string raw;
    uint64_t value = 0;
    if (GetRaw(section, key, raw) && ParseUnsigned(raw, 0xFFFFFFFFull, value))
        return uint32_t(value);
    return defaultValue;
}

bool WriteProfileLongUInt(const char* section, const char* key, uint32_t value)
{
    return WriteRaw(section, key, std::to_string(value));
}

int GetProfileInt(const char* section, const char* key, int defaultValue)
{
    std::string raw;
    int value = 0;
    if (GetRaw(section, key, raw) && ParseInt(raw, value))
        return value;
    return defaultValue;
}

bool WriteProfileInt(const char* section, const char* key, int value)
{
    return WriteRaw(section, key, std::to_string(value));
}

uint64_t GetProfileUInt64(const char* section, const char* key, uint64_t defaultValue)
{
    std::string raw;
    uint64_t value = 0;
    if (GetRaw(section, key, raw) && ParseUnsigned(raw, UINT64_MAX, value))
        return value;
    return defaultValue;
}

bool WriteProfileUInt64(const char* section, const char* key, uint64_t value)
{
    return WriteRaw(section, key, std::to_string(value));
}

CXTString GetProfileString(const char* section, const char* key, const char* defaultValue)
{
    std::string raw;
    if (GetRaw(section, key, raw))
        return CXTString(std::move(raw));
    return CXTString(defaultValue);
}

bool WriteProfileString(const char* section, const char* key, const char* value)
{
    return WriteRaw(section, key, value ? std::string(value) : std::string());
}

bool HasProfileValue(const char* section, const char* key)
{
    std::string raw;
    return GetRaw(section, key, raw);
}

bool DeleteProfileValue(const char* section, const char* key)
{
    if (!section || !key)
        return false;
    return WriteEdited(section, key,
                       [&](ProfileSections& sections)
                       {
                           ProfileSection* found = sections.Find(section);
                           return found && found->Remove(key);
                       });
}

void ReloadProfile()
{
    ProfileCache& cache = GetCache();
    std::lock_guard<std::mutex> lock(cache.m_Mutex);
    cache.m_Loaded = false;
}

CXTString GetProfilePath()
{
    CXTString folder = GetConfigDirectory();
    return folder.IsEmpty() ? folder : folder + "profile.ini";
}
