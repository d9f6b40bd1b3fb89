// File names, the format registry and the path functions.
#include <3dzan/foundation/files.h>

#include "fileregistry.h"
#include "posixio.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
// ---------------------------------------------------------------------------- text helpers

std::string_view View(const char* text)
{
    return text ? std::string_view(text) : std::string_view();
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Registry key of one extension: a dot, then the lower-cased text. False when the text
// cannot be an extension (the registry must never hold a key that a lookup cannot reach).
bool MakeExtensionKey(std::string_view text, std::string& key)
{
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '.')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    key.assign(1, '.');
    for (char c : text)
    {
        if (c == '/' || c == '\\' || c == '*' || c == '?' || c == ';' || IsBlank(c) ||
            static_cast<unsigned char>(c) < 0x20)
            return false;
        key += LowerAscii(c);
    }
    return true;
}

// Keys of every extension in a ';'-separated list, each once; false when an item that is
// not empty is malformed.
bool ParseExtensionList(std::string_view list, std::vector<std::string>& keys)
{
    keys.clear();
    bool wellFormed = true;
    while (true)
    {
        size_t end = list.find(';');
        std::string_view item = TrimBlanks(list.substr(0, end));
        if (!item.empty())
        {
            std::string key;
            if (!MakeExtensionKey(item, key))
                wellFormed = false;
            else if (std::find(keys.begin(), keys.end(), key) == keys.end())
                keys.push_back(std::move(key));
        }
        if (end == std::string_view::npos)
            break;
        list.remove_prefix(end + 1);
    }
    return wellFormed;
}

// Start of the name in a path: after the last '/'.
size_t NameStart(std::string_view path)
{
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// Position of the extension's dot in \p name, or npos.
size_t ExtensionDot(std::string_view name)
{
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return std::string_view::npos;
    return dot;
}

// Length of "scheme://" when \p path starts with a URL scheme, else 0.
size_t UrlPrefixLength(std::string_view path)
{
    size_t i = 0;
    auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    while (i < path.size())
    {
        char c = path[i];
        bool ok =
            isAlpha(c) || (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok)
            break;
        ++i;
    }
    // One letter before "://" is not taken for a scheme: a drive letter looks like that.
    if (i < 2 || path.substr(i, 3) != "://")
        return 0;
    return i + 3;
}

// ---------------------------------------------------------------------------- UTF-8

bool IsContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

size_t CountCodePoints(std::string_view text)
{
    size_t count = 0;
    for (char c : text)
        if (!IsContinuation(c))
            ++count;
    return count;
}

// The first \p count code points of \p text, never ending inside a sequence.
std::string_view FirstCodePoints(std::string_view text, size_t count)
{
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (!IsContinuation(text[i]) && seen++ == count)
            return text.substr(0, i);
    return text;
}

// ---------------------------------------------------------------------------- registry

struct CFormat
{
    std::unique_ptr<CFileExt> m_Record; // stable address: fileGetFileExt hands it out
    std::vector<std::string> m_Keys;
    zan_files::COwner m_Owner;
};

struct CRegistry
{
    std::mutex m_Lock;
    std::vector<CFormat> m_Formats; // registration order
    std::vector<zan_files::CFactory> m_Factories;
};

CRegistry& Registry()
{
    // Never destroyed: plug-ins and static objects of other libraries may unregister
    // while the process exits.
    static CRegistry* registry = new CRegistry;
    return *registry;
}

const CFormat* FindByClass(const CRegistry& registry, unsigned classCode)
{
    for (const CFormat& format : registry.m_Formats)
        if (format.m_Record->m_Class == classCode)
            return &format;
    return nullptr;
}

const CFormat* FindByKey(const CRegistry& registry, const std::string& key)
{
    for (const CFormat& format : registry.m_Formats)
        if (std::find(format.m_Keys.begin(), format.m_Keys.end(), key) != format.m_Keys.end())
            return &format;
    return nullptr;
}

// The registration itself; the caller holds the lock.
const char* RegisterLocked(CRegistry& registry, zan_files::COwner owner, const CFileExt& record)
{
    if (const char* reason = zan_files::CheckFileExt(record))
        return reason;
    std::vector<std::string> keys;
    ParseExtensionList(record.m_Extensions.str(), keys);
    if (const CFormat* existing = FindByClass(registry, record.m_Class))
    {
        // The same registrant may repeat itself; anyone else is refused, and the record
        // already there is left exactly as it was.
        if (existing->m_Owner == owner && *existing->m_Record == record)
            return nullptr;
        return "the class code is already registered";
    }
    for (const std::string& key : keys)
        if (FindByKey(registry, key))
            return "an extension is already registered";
    registry.m_Formats.push_back({std::make_unique<CFileExt>(record), std::move(keys), owner});
    return nullptr;
}

const CFileExt* LookUpExtension(const char* extension)
{
    std::string key;
    if (!MakeExtensionKey(View(extension), key))
        return nullptr;
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    const CFormat* format = FindByKey(registry, key);
    return format ? format->m_Record.get() : nullptr;
}
} // namespace

// ---------------------------------------------------------------------------- zan_files

namespace zan_files
{
const char* CheckFileExt(const CFileExt& record)
{
    if (record.m_Class == 0)
        return "the class code is 0";
    std::vector<std::string> keys;
    if (!ParseExtensionList(record.m_Extensions.str(), keys))
        return "an extension is malformed";
    return nullptr;
}

const char* RegisterFileFor(COwner owner, const CFileExt& record)
{
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    return RegisterLocked(registry, owner, record);
}

int CommitPlugin(COwner owner, const std::shared_ptr<void>& module,
                 const CPluginRegistrations& offered, std::vector<std::string>& refused)
{
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    int accepted = 0;
    for (const CFileExt& record : offered.m_FileTypes)
    {
        if (const char* reason = RegisterLocked(registry, owner, record))
            refused.push_back(std::string("file type \"") + record.m_Extensions.str() +
                              "\" refused: " + reason);
        else
            ++accepted;
    }
    for (CFactory factory : offered.m_Factories)
    {
        factory.m_Owner = owner;
        factory.m_Module = module;
        registry.m_Factories.push_back(std::move(factory));
    }
    return accepted;
}

void RemoveOwner(COwner owner)
{
    if (owner == kLibraryOwner)
        return;
    CRegistry& registry = Registry();
    std::vector<CFactory> removed; // their module references are dropped after the lock
    {
        std::lock_guard<std::mutex> lock(registry.m_Lock);
        std::erase_if(registry.m_Formats,
                      [owner](const CFormat& format) { return format.m_Owner == owner; });
        for (auto it = registry.m_Factories.begin(); it != registry.m_Factories.end();)
        {
            if (it->m_Owner == owner)
            {
                removed.push_back(std::move(*it));
                it = registry.m_Factories.erase(it);
            }
            else
                ++it;
        }
    }
}

bool AddFactory(const CFactory& factory)
{
    if (factory.m_Class == 0 || !factory.m_Factory)
        return false;
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    for (const CFactory& existing : registry.m_Factories)
        if (existing.m_Class == factory.m_Class && existing.m_Factory == factory.m_Factory &&
            existing.m_UserData == factory.m_UserData)
            return false;
    registry.m_Factories.push_back(factory);
    return true;
}

bool RemoveFactory(unsigned classCode, ZanParserFactory factory, void* userData)
{
    CRegistry& registry = Registry();
    CFactory removed;
    {
        std::lock_guard<std::mutex> lock(registry.m_Lock);
        auto& list = registry.m_Factories;
        auto it = std::find_if(list.begin(), list.end(),
                               [&](const CFactory& existing)
                               {
                                   return existing.m_Class == classCode &&
                                          existing.m_Factory == factory &&
                                          existing.m_UserData == userData &&
                                          existing.m_Owner == kLibraryOwner;
                               });
        if (it == list.end())
            return false;
        removed = std::move(*it);
        list.erase(it);
    }
    return true;
}

std::vector<CFactory> GetFactories(unsigned classCode)
{
    std::vector<CFactory> result;
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    for (const CFactory& factory : registry.m_Factories)
        if (factory.m_Class == classCode)
            result.push_back(factory);
    return result;
}

int GetFactoryNbr(unsigned classCode)
{
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    return int(std::count_if(registry.m_Factories.begin(), registry.m_Factories.end(),
                             [classCode](const CFactory& f) { return f.m_Class == classCode; }));
}
} // namespace zan_files

// ---------------------------------------------------------------------------- CFileNameSpec

CFileNameSpec::CFileNameSpec(const char* fileName, unsigned classCode)
    : m_FileName(fileName), m_Class(classCode)
{
}

CFileNameSpec::CFileNameSpec(const CXTString& fileName, unsigned classCode)
    : m_FileName(fileName), m_Class(classCode)
{
}

CXTString CFileNameSpec::GetFolder() const
{
    return fileGetFolder(m_FileName);
}

CXTString CFileNameSpec::GetName() const
{
    return fileGetName(m_FileName);
}

CXTString CFileNameSpec::GetBaseName() const
{
    CXTString name = GetName();
    size_t dot = ExtensionDot(name.str());
    return dot == std::string::npos ? name : name.Left(int(dot));
}

CXTString CFileNameSpec::GetExtension() const
{
    return fileGetExtension(m_FileName);
}

bool CFileNameSpec::HasExtension(const char* extension) const
{
    std::string wanted, have;
    return MakeExtensionKey(View(extension), wanted) &&
           MakeExtensionKey(GetExtension().str(), have) && wanted == have;
}

bool CFileNameSpec::SetExtension(const char* extension)
{
    std::string_view path = m_FileName.str();
    size_t nameStart = std::max(NameStart(path), UrlPrefixLength(path));
    if (nameStart >= path.size())
        return false;
    std::string_view ext = TrimBlanks(View(extension));
    if (!ext.empty() && ext.front() == '.')
        ext.remove_prefix(1);
    size_t dot = ExtensionDot(path.substr(nameStart));
    std::string result(
        path.substr(0, dot == std::string_view::npos ? path.size() : nameStart + dot));
    if (!ext.empty())
        result.append(1, '.').append(ext);
    m_FileName = CXTString(std::move(result));
    return true;
}

bool CFileNameSpec::IsURL() const
{
    return UrlPrefixLength(m_FileName.str()) != 0;
}

// ---------------------------------------------------------------------------- CFileExt

CFileExt::CFileExt(const char* description, const char* extensions, unsigned classCode,
                   unsigned flags, unsigned readPlugin, unsigned writePlugin)
    : m_Description(description), m_Extensions(extensions), m_Class(classCode), m_Flags(flags),
      m_ReadPlugin(readPlugin), m_WritePlugin(writePlugin)
{
}

CXTString CFileExt::GetMainExtension() const
{
    CXArray<CXTString> list = GetExtensionList();
    return list.IsEmpty() ? CXTString() : list[0];
}

CXArray<CXTString> CFileExt::GetExtensionList() const
{
    std::vector<std::string> keys;
    ParseExtensionList(m_Extensions.str(), keys);
    CXArray<CXTString> result;
    for (std::string& key : keys)
        result.Add(CXTString(std::move(key)));
    return result;
}

bool CFileExt::HasExtension(const char* extension) const
{
    std::string key;
    if (!MakeExtensionKey(View(extension), key))
        return false;
    std::vector<std::string> keys;
    ParseExtensionList(m_Extensions.str(), keys);
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

bool CFileExt::operator==(const CFileExt& other) const
{
    return m_Description == other.m_Description && m_Extensions == other.m_Extensions &&
           m_Class == other.m_Class && m_Flags == other.m_Flags &&
           m_ReadPlugin == other.m_ReadPlugin && m_WritePlugin == other.m_WritePlugin;
}

// ---------------------------------------------------------------------------- registry API

bool fileRegisterFile(const CFileExt& record)
{
    return zan_files::RegisterFileFor(zan_files::kLibraryOwner, record) == nullptr;
}

bool fileUnregisterFile(unsigned classCode)
{
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    return std::erase_if(registry.m_Formats, [classCode](const CFormat& format)
                         { return format.m_Record->m_Class == classCode; }) != 0;
}

const CFileExt* fileGetFileExt(const char* extension)
{
    return LookUpExtension(extension);
}

bool fileGetExtensionInfo(unsigned classCode, CFileExt& out)
{
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    const CFormat* format = FindByClass(registry, classCode);
    if (!format)
        return false;
    out = *format->m_Record;
    return true;
}

unsigned fileGetClassOf(const char* fileName)
{
    CXTString extension = fileGetExtension(fileName);
    std::string key;
    if (!MakeExtensionKey(extension.str(), key))
        return 0;
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    const CFormat* format = FindByKey(registry, key);
    return format ? format->m_Record->m_Class : 0;
}

unsigned fileGetKindOf(const char* fileName)
{
    CXTString extension = fileGetExtension(fileName);
    std::string key;
    if (!MakeExtensionKey(extension.str(), key))
        return 0;
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    const CFormat* format = FindByKey(registry, key);
    return format ? format->m_Record->GetKind() : 0;
}

CXArray<CFileExt> fileGetRegisteredFormats(unsigned kindMask)
{
    CXArray<CFileExt> result;
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    for (const CFormat& format : registry.m_Formats)
        if (kindMask == 0 || (format.m_Record->GetKind() & kindMask) != 0)
            result.Add(*format.m_Record);
    return result;
}

// ---------------------------------------------------------------------------- paths

bool fileExists(const char* path)
{
    struct stat info;
    return path && *path && stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

bool fileDirectoryExists(const char* path)
{
    struct stat info;
    return path && *path && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool fileCompareDirectory(const char* folder1, const char* folder2)
{
    if (!folder1 || !*folder1 || !folder2 || !*folder2)
        return false;
    std::error_code error;
    fs::path path1(folder1), path2(folder2);
    if (fs::exists(path1, error) && fs::exists(path2, error))
    {
        // The system knows best: bind mounts, symbolic links and ".." across links.
        bool same = fs::equivalent(path1, path2, error);
        return !error && same;
    }
    // One name at least does not exist (the system says so of "missing/.." too): resolve
    // the part of each that exists, normalise the rest as text, and compare.
    auto normalise = [](const fs::path& path)
    {
        std::error_code ec;
        fs::path absolute = fs::absolute(path, ec);
        fs::path resolved = fs::weakly_canonical(absolute, ec);
        std::string text = (ec ? absolute : resolved).lexically_normal().string();
        while (text.size() > 1 && text.back() == '/')
            text.pop_back();
        return text;
    };
    return normalise(path1) == normalise(path2);
}

CXTString fileGetFolder(const char* path)
{
    std::string_view text = View(path);
    return CXTString(text.substr(0, std::max(NameStart(text), UrlPrefixLength(text))));
}

CXTString fileGetName(const char* path)
{
    std::string_view text = View(path);
    return CXTString(text.substr(std::max(NameStart(text), UrlPrefixLength(text))));
}

CXTString fileGetExtension(const char* path)
{
    CXTString name = fileGetName(path);
    size_t dot = ExtensionDot(name.str());
    return dot == std::string::npos ? CXTString() : name.Mid(int(dot));
}

CXTString fileMakePath(const char* folder, const char* name)
{
    std::string_view dir = View(folder), file = View(name);
    if (dir.empty() || (!file.empty() && file.front() == '/') || UrlPrefixLength(file))
        return CXTString(file);
    std::string result(dir);
    if (result.back() != '/' && !file.empty())
        result += '/';
    result += file;
    return CXTString(std::move(result));
}

CXTString fileMakeAbsolutePath(const char* folder, const char* name)
{
    fs::path result = fs::path(std::string(View(folder))) / fs::path(std::string(View(name)));
    return CXTString(result.lexically_normal().string());
}

CXTString fileCompactPath(const char* path, int maxChars)
{
    std::string_view text = View(path);
    if (maxChars <= 0)
        return CXTString();
    size_t limit = size_t(maxChars);
    if (CountCodePoints(text) <= limit)
        return CXTString(text);

    // Split into a root ("/" or "scheme://"), the folders and the name.
    size_t rootLength = UrlPrefixLength(text);
    if (rootLength == 0 && !text.empty() && text.front() == '/')
        rootLength = 1;
    std::string root(text.substr(0, rootLength));
    std::vector<std::string_view> parts;
    for (std::string_view rest = text.substr(rootLength); !rest.empty();)
    {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        if (!part.empty())
            parts.push_back(part);
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }
    std::string_view name = parts.empty() ? std::string_view() : parts.back();
    if (!parts.empty())
        parts.pop_back();
    const size_t folderNbr = parts.size();

    // Prefer the root with the first folder, then as many folders near the name as fit;
    // at least one folder is always replaced, or the candidate is no shorter.
    for (size_t keepHead = folderNbr > 1 ? 1 : 0; keepHead != size_t(-1); --keepHead)
    {
        for (size_t keepTail = folderNbr - keepHead; keepTail-- > 0;)
        {
            std::string candidate = root;
            for (size_t i = 0; i < keepHead; ++i)
                candidate.append(parts[i]).append(1, '/');
            candidate += ".../";
            for (size_t i = folderNbr - keepTail; i < folderNbr; ++i)
                candidate.append(parts[i]).append(1, '/');
            candidate += name;
            if (CountCodePoints(candidate) <= limit)
                return CXTString(std::move(candidate));
        }
    }
    if (folderNbr > 0 && CountCodePoints(name) + 4 <= limit)
        return CXTString(".../" + std::string(name));
    size_t nameLength = CountCodePoints(name);
    if (nameLength <= limit)
        return CXTString(name);

    // The name alone is too long: keep its start and, when there is room, its extension.
    if (limit < 4)
        return CXTString(FirstCodePoints(name, limit));
    std::string_view extension;
    size_t dot = ExtensionDot(name);
    if (dot != std::string_view::npos)
        extension = name.substr(dot);
    size_t extensionLength = CountCodePoints(extension);
    if (extension.empty() || extensionLength + 4 > limit)
        return CXTString(std::string(FirstCodePoints(name, limit - 3)) + "...");
    std::string_view stem = name.substr(0, dot);
    return CXTString(std::string(FirstCodePoints(stem, limit - 3 - extensionLength)) + "..." +
                     std::string(extension));
}

CXTString fileMakeUniqueName(const char* folder, const char* name)
{
    std::string_view file = View(name);
    if (file.empty() || file.find('/') != std::string_view::npos || file == "." || file == "..")
        return CXTString();
    auto isTaken = [folder](const std::string& candidate)
    {
        std::error_code error;
        // A dangling symbolic link takes its name as surely as a file does.
        fs::file_status status =
            fs::symlink_status(fs::path(fileMakePath(folder, candidate.c_str()).str()), error);
        return fs::exists(status);
    };
    std::string candidate(file);
    if (!isTaken(candidate))
        return CXTString(std::move(candidate));
    size_t dot = ExtensionDot(file);
    std::string_view stem = file.substr(0, dot);
    std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : file.substr(dot);
    for (int suffix = 1; suffix <= 100000; ++suffix)
    {
        candidate.assign(stem).append(1, '_').append(std::to_string(suffix)).append(extension);
        if (!isTaken(candidate))
            return CXTString(std::move(candidate));
    }
    return CXTString();
}

bool fileIsValidFileName(const char* path)
{
    std::string_view text = View(path);
    if (text.empty() || text.size() >= 4096)
        return false;
    size_t componentLength = 0;
    for (char c : text)
    {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
        componentLength = c == '/' ? 0 : componentLength + 1;
        if (componentLength > 255)
            return false;
    }
    return true;
}

int CopyStringArray(CXArray<CXTString>& dst, const CXArray<CXTString>& src, bool append)
{
    if (&dst == &src)
    {
        if (append)
        {
            CXArray<CXTString> copy(src);
            dst.Append(copy);
        }
        return dst.GetSize();
    }
    if (!append)
        dst.RemoveAll();
    dst.Append(src);
    return dst.GetSize();
}

namespace zan_detail
{
bool WriteAll(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0)
    {
        ssize_t written = ::write(fd, bytes, size);
        if (written < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        size -= size_t(written);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t size)
{
    char* bytes = static_cast<char*>(data);
    while (size > 0)
    {
        ssize_t got = ::read(fd, bytes, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= size_t(got);
    }
    return true;
}
} // namespace zan_detail

bool fileWriteAtomic(const char* path, const void* data, size_t size)
{
    if (!path || !*path || (!data && size))
        return false;
    // Write beside the target and rename over it, so that the target is either the old file
    // or the complete new one whatever happens in between. Without the sync, a crash after
    // the rename may leave an empty file in place of both.
    std::string temporary = std::string(path) + ".tmp-XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = zan_detail::WriteAll(fd, data, size) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path) != 0)
    {
        ::unlink(temporary.c_str());
        return false;
    }
    // Make the rename itself durable; the file is complete, so a failure here cannot leave a
    // damaged file and is not reported.
    std::string folder(path);
    size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash ? slash : 1);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0)
    {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
