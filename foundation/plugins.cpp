// Loading format plug-ins: shared objects found in the plug-in folders, each registering its
// file types and parser factories through one C entry point (see plugin_abi.h).
//
// A plug-in's registrations are gathered while its entry runs and committed only when the
// entry reports the host's ABI version, so a plug-in built for another interface, or one
// that fails half way, leaves nothing behind. The loaded object is held by a shared
// reference: the loader holds one, and so does every factory copy and every parser an
// operation owns, so unloading waits for the last parser a plug-in made.
#include <3dzan/foundation/fileio.h>
#include <3dzan/foundation/services.h>

#include "fileregistry.h"

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <limits.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace
{
// Bounds on what one plug-in or one folder may ask for, so that a faulty plug-in or a folder
// full of files cannot make the loader allocate without limit.
constexpr size_t kMaxRegistrationsPerPlugin = 4096;
constexpr size_t kMaxFilesPerFolder = 4096;

// One loaded shared object. Destroying it calls the plug-in's exit function and unloads it.
struct CModule
{
    void* m_Handle = nullptr;
    ZanPluginExit m_Exit = nullptr;
    void* m_ExitData = nullptr;

    CModule() = default;
    CModule(const CModule&) = delete;
    CModule& operator=(const CModule&) = delete;
    ~CModule()
    {
        if (m_Exit)
        {
            try
            {
                m_Exit(m_ExitData);
            }
            catch (...)
            {
                // An exit function that throws cannot stop the unloading.
            }
        }
        if (m_Handle)
            dlclose(m_Handle);
    }
};

struct CLoadedPlugin
{
    zan_files::COwner m_Owner;
    std::shared_ptr<CModule> m_Module;
    CIoPluginInfo m_Info;
};

struct CLoader
{
    std::mutex m_Lock;
    std::vector<CLoadedPlugin> m_Plugins; // load order
    std::vector<CXTString> m_Errors;      // of the last RegisterIOPlugins call
    zan_files::COwner m_NextOwner = 1;
};

CLoader& Loader()
{
    // Never destroyed: a plug-in's parsers may outlive static destruction order.
    static CLoader* loader = new CLoader;
    return *loader;
}

// What the host functions work on while one entry runs.
struct CStaging
{
    zan_files::CPluginRegistrations m_Offered;
    std::string m_Name;
    ZanPluginExit m_Exit = nullptr;
    void* m_ExitData = nullptr;
    bool m_TooMany = false;
};

CStaging* StagingOf(ZanPluginHost* host)
{
    return host ? static_cast<CStaging*>(host->m_HostData) : nullptr;
}

bool HasRoom(CStaging& staging)
{
    if (staging.m_Offered.m_FileTypes.size() + staging.m_Offered.m_Factories.size() <
        kMaxRegistrationsPerPlugin)
        return true;
    staging.m_TooMany = true;
    return false;
}

int HostRegisterFileType(ZanPluginHost* host, const char* description, const char* extensions,
                         uint32_t classCode, uint32_t flags, uint32_t readPlugin,
                         uint32_t writePlugin)
{
    CStaging* staging = StagingOf(host);
    if (!staging || !HasRoom(*staging))
        return 0;
    CFileExt record(description, extensions, classCode, flags, readPlugin, writePlugin);
    if (zan_files::CheckFileExt(record))
        return 0;
    // Answer now what the commit will decide: taken by a format already registered, or by
    // one this plug-in offered a moment ago.
    CFileExt existing;
    if (fileGetExtensionInfo(classCode, existing))
        return 0;
    CXArray<CXTString> extensionList = record.GetExtensionList();
    for (const CXTString& extension : extensionList)
        if (fileGetFileExt(extension))
            return 0;
    for (const CFileExt& offered : staging->m_Offered.m_FileTypes)
    {
        if (offered.m_Class == classCode)
            return 0;
        for (const CXTString& extension : extensionList)
            if (offered.HasExtension(extension))
                return 0;
    }
    staging->m_Offered.m_FileTypes.push_back(std::move(record));
    return 1;
}

int HostRegisterParserFactory(ZanPluginHost* host, uint32_t classCode, ZanParserFactory factory,
                              void* userData)
{
    CStaging* staging = StagingOf(host);
    if (!staging || classCode == 0 || !factory || !HasRoom(*staging))
        return 0;
    zan_files::CFactory entry;
    entry.m_Class = classCode;
    entry.m_Factory = factory;
    entry.m_UserData = userData;
    staging->m_Offered.m_Factories.push_back(std::move(entry));
    return 1;
}

void HostSetExitFunction(ZanPluginHost* host, ZanPluginExit exitFunction, void* userData)
{
    if (CStaging* staging = StagingOf(host))
    {
        staging->m_Exit = exitFunction;
        staging->m_ExitData = userData;
    }
}

void HostSetPluginName(ZanPluginHost* host, const char* name)
{
    if (CStaging* staging = StagingOf(host))
        staging->m_Name = name ? std::string(name).substr(0, 256) : std::string();
}

void AddError(CLoader& loader, const std::string& path, const std::string& reason)
{
    loader.m_Errors.push_back(CXTString(path + ": " + reason));
    WriteToLogFile("Format plug-ins: %s: %s\n", path.c_str(), reason.c_str());
}

bool IsLoaded(const CLoader& loader, const std::string& canonicalPath, void* handle)
{
    for (const CLoadedPlugin& plugin : loader.m_Plugins)
        if (plugin.m_Info.m_Path.str() == canonicalPath ||
            (handle && plugin.m_Module->m_Handle == handle))
            return true;
    return false;
}

// Loads one shared object; true when it became a loaded plug-in. The loader lock is held.
bool LoadPlugin(CLoader& loader, unsigned family, const fs::path& file)
{
    const std::string shownPath = file.string();
    char resolved[PATH_MAX];
    if (!realpath(shownPath.c_str(), resolved))
    {
        AddError(loader, shownPath, "cannot resolve the path");
        return false;
    }
    const std::string canonicalPath(resolved);
    if (IsLoaded(loader, canonicalPath, nullptr))
        return false;

    dlerror();
    auto module = std::make_shared<CModule>();
    module->m_Handle = dlopen(canonicalPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module->m_Handle)
    {
        const char* why = dlerror();
        AddError(loader, canonicalPath,
                 std::string("cannot be loaded: ") + (why ? why : "unknown reason"));
        return false;
    }
    // Another name for an object already loaded (a hard link, a copy the system maps once):
    // dlopen handed back the same handle, and dropping our module only lowers its count.
    if (IsLoaded(loader, canonicalPath, module->m_Handle))
        return false;

    dlerror();
    auto entry = reinterpret_cast<ZanPluginEntry>(dlsym(module->m_Handle, ZAN3D_PLUGIN_ENTRY_NAME));
    if (!entry)
    {
        AddError(loader, canonicalPath, "no entry point " ZAN3D_PLUGIN_ENTRY_NAME);
        return false;
    }

    CStaging staging;
    ZanPluginHost host = {};
    host.m_AbiVersion = ZAN3D_PLUGIN_ABI_VERSION;
    host.m_StructSize = sizeof(ZanPluginHost);
    host.m_Family = family;
    host.m_HostData = &staging;
    host.m_RegisterFileType = &HostRegisterFileType;
    host.m_RegisterParserFactory = &HostRegisterParserFactory;
    host.m_SetExitFunction = &HostSetExitFunction;
    host.m_SetPluginName = &HostSetPluginName;

    int answer = -1;
    bool threw = false;
    try
    {
        answer = entry(&host);
    }
    catch (...)
    {
        threw = true;
    }
    // From here the module's destruction runs the plug-in's exit, whatever happens next.
    module->m_Exit = staging.m_Exit;
    module->m_ExitData = staging.m_ExitData;

    if (threw)
    {
        AddError(loader, canonicalPath, "the entry point raised an exception");
        return false;
    }
    if (answer == 0)
        return false; // nothing for this family: not an error
    if (answer != ZAN3D_PLUGIN_ABI_VERSION)
    {
        AddError(loader, canonicalPath,
                 answer > 0
                     ? "built for plug-in interface version " + std::to_string(answer) +
                           ", this library uses version " + std::to_string(ZAN3D_PLUGIN_ABI_VERSION)
                     : "the entry point failed (code " + std::to_string(answer) + ")");
        return false;
    }
    if (staging.m_TooMany)
        AddError(loader, canonicalPath,
                 "too many registrations; only the first " +
                     std::to_string(kMaxRegistrationsPerPlugin) + " were taken");

    CLoadedPlugin plugin;
    plugin.m_Owner = loader.m_NextOwner++;
    plugin.m_Module = module;
    plugin.m_Info.m_Path = CXTString(canonicalPath);
    plugin.m_Info.m_Name =
        staging.m_Name.empty() ? CXTString(file.filename().string()) : CXTString(staging.m_Name);
    plugin.m_Info.m_Family = family;
    plugin.m_Info.m_FactoryNbr = int(staging.m_Offered.m_Factories.size());

    std::vector<std::string> refused;
    plugin.m_Info.m_FileTypeNbr = zan_files::CommitPlugin(
        plugin.m_Owner, std::static_pointer_cast<void>(module), staging.m_Offered, refused);
    for (const std::string& reason : refused)
        AddError(loader, canonicalPath, reason);
    loader.m_Plugins.push_back(std::move(plugin));
    return true;
}

// The shared objects of one folder, in name order; nothing when it cannot be read.
std::vector<fs::path> ListPluginFiles(CLoader& loader, const std::string& folder)
{
    std::vector<fs::path> files;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error))
    {
        const fs::path& path = it->path();
        if (path.extension() != ".so")
            continue;
        std::error_code statError;
        if (!fs::is_regular_file(path, statError))
            continue;
        if (files.size() == kMaxFilesPerFolder)
        {
            AddError(loader, folder,
                     "more than " + std::to_string(kMaxFilesPerFolder) +
                         " shared objects; the rest are ignored");
            break;
        }
        files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> SplitPathList(const char* list)
{
    std::vector<std::string> folders;
    std::string_view rest = list ? list : "";
    while (true)
    {
        size_t colon = rest.find(':');
        std::string_view item = rest.substr(0, colon);
        if (!item.empty() &&
            std::find(folders.begin(), folders.end(), std::string(item)) == folders.end())
            folders.emplace_back(item);
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
    return folders;
}

std::vector<std::string> DefaultFolders()
{
    const char* fromEnvironment = getenv("ZAN3D_PLUGIN_PATH");
    if (fromEnvironment && *fromEnvironment)
        return SplitPathList(fromEnvironment);
    CXTString libraryFolder = GetLibraryPath();
    if (libraryFolder.IsEmpty())
        return {};
    return {libraryFolder.str() + "plugins"};
}
} // namespace

int RegisterIOPlugins(unsigned family, const char* path)
{
    CLoader& loader = Loader();
    std::lock_guard<std::mutex> lock(loader.m_Lock);
    loader.m_Errors.clear();
    if (family == 0)
        return 0;
    std::vector<std::string> folders = (path && *path) ? SplitPathList(path) : DefaultFolders();
    int loaded = 0;
    for (const std::string& folder : folders)
        for (const fs::path& file : ListPluginFiles(loader, folder))
            if (LoadPlugin(loader, family, file))
                ++loaded;
    return loaded;
}

int FreeIOPlugins(unsigned family)
{
    CLoader& loader = Loader();
    // The modules are released after the lock: their exit functions run plug-in code.
    std::vector<std::shared_ptr<CModule>> released;
    {
        std::lock_guard<std::mutex> lock(loader.m_Lock);
        for (auto it = loader.m_Plugins.begin(); it != loader.m_Plugins.end();)
        {
            if ((it->m_Info.m_Family & family) == 0)
            {
                ++it;
                continue;
            }
            zan_files::RemoveOwner(it->m_Owner);
            released.push_back(std::move(it->m_Module));
            it = loader.m_Plugins.erase(it);
        }
    }
    const int freed = int(released.size());
    // Unload in the reverse order of loading, as the system does for its own libraries.
    while (!released.empty())
        released.pop_back();
    return freed;
}

CXArray<CIoPluginInfo> GetLoadedPlugins()
{
    CLoader& loader = Loader();
    std::lock_guard<std::mutex> lock(loader.m_Lock);
    CXArray<CIoPluginInfo> result;
    for (const CLoadedPlugin& plugin : loader.m_Plugins)
        result.Add(plugin.m_Info);
    return result;
}

CXArray<CXTString> GetPluginLoadErrors()
{
    CLoader& loader = Loader();
    std::lock_guard<std::mutex> lock(loader.m_Lock);
    CXArray<CXTString> result;
    for (const CXTString& line : loader.m_Errors)
        result.Add(line);
    return result;
}

CXArray<CXTString> GetDefaultPluginFolders()
{
    CXArray<CXTString> result;
    for (std::string& folder : DefaultFolders())
        result.Add(CXTString(std::move(folder)));
    return result;
}
