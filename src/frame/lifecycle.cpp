// Start-up and shutdown of the library. Nothing here creates a scene or a window: start-up
// only registers with the foundation what hosts expect to find (format plug-ins, the ".xsi"
// file type, the viewer's command names), and the last close saves the preferences.
#include <3dzan/foundation/commandmgr.h>
#include <3dzan/foundation/fileio.h>
#include <3dzan/foundation/files.h>
#include <3dzan/foundation/services.h>
#include <3dzan/frame.h>
#include <3dzan/preferences.h>

#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace
{
constexpr unsigned kPluginFamily3D = 16384;
constexpr unsigned kLibraryPluginCode = 0x5A414E50; // "ZANP"

// Called from the host's main thread only, as the counterpart of a plain integer count.
int g_InitCount = 0;

std::mutex g_SharedLock;
std::vector<const void*> g_SharedModules;

const void* ModuleOf(const void* address)
{
    Dl_info info;
    return dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
}

void ShareResourcesWith(const void* module)
{
    if (!module || module == Zan3DResourceHandle())
        return;
    std::lock_guard<std::mutex> lock(g_SharedLock);
    if (std::find(g_SharedModules.begin(), g_SharedModules.end(), module) ==
        g_SharedModules.end())
        g_SharedModules.push_back(module);
}

void RegisterXsiFileType()
{
    if (fileGetFileExt(".xsi"))
        return; // a plug-in knows the format: its record stays as it is
    CFileExt record(CXTString::FromId(65000).c_str(), ".xsi", ZanTag("XSI "), 0x4013,
                    kLibraryPluginCode, kLibraryPluginCode);
    if (record.m_Description.IsEmpty())
        record.m_Description = "XSI Softimage files";
    fileRegisterFile(record);
}

void RegisterCommandNames()
{
    static const struct
    {
        unsigned code;
        unsigned stringId;
    } categories[] = {
        {ZanTag("TOOL"), 9312}, {ZanTag("VIEW"), 9339}, {ZanTag("LIGH"), 9209},
        {ZanTag("POVW"), 9239}, {ZanTag("POV2"), 9238}, {ZanTag("VCAM"), 9326},
        {ZanTag("REND"), 9248}, {ZanTag("FILE"), 9197}, {ZanTag("HELP"), 9205},
    };
    CCommandMgr::RegisterGroupName(ZanTag("3DCO"), 9184);
    for (const auto& category : categories)
        CCommandMgr::RegisterCategoryName(category.code, category.stringId);
}
} // namespace

void Init3DZan(unsigned flags)
{
    if (flags & _InitShareResources)
        ShareResourcesWith(ModuleOf(__builtin_return_address(0)));
    if (++g_InitCount > 1)
        return;
    if (!(flags & _InitNoPlugins))
    {
        RegisterIOPlugins(kPluginFamily3D, "");
        RegisterXsiFileType();
    }
    if (flags & _InitNoCommandNames)
        return;
    RegisterCommandNames();
}

void Close3DZan(unsigned flags)
{
    int count = g_InitCount;
    if (count <= 0)
    {
        WriteToLogFile("Close3DZan called without a matching Init3DZan\n");
        return;
    }
    g_InitCount = count - 1;
    if (count != 1)
        return;
    C3DPreferences::Get3DPreferences().Save();
    if (!(flags & _InitNoPlugins))
        FreeIOPlugins(kPluginFamily3D);
}

int Zan3DGetInitCount() { return g_InitCount; }

void* Zan3DResourceHandle()
{
    return const_cast<void*>(ModuleOf(reinterpret_cast<const void*>(&Zan3DResourceHandle)));
}

bool Zan3DIsResourceShared(const void* module)
{
    std::lock_guard<std::mutex> lock(g_SharedLock);
    return std::find(g_SharedModules.begin(), g_SharedModules.end(), module) !=
           g_SharedModules.end();
}

int Zan3DGetSharedResourceNbr()
{
    std::lock_guard<std::mutex> lock(g_SharedLock);
    return int(g_SharedModules.size());
}
