// The entry point every scene format plug-in shares: check the host, then register one file
// type (read and write) and a factory that makes the format's parser for its class only.
#pragma once

#include <3dzan/foundation/fileio.h>
#include <3dzan/foundation/files.h>
#include <3dzan/foundation/plugin_abi.h>

namespace zanplugin
{
/// \brief The body of Zan3DPluginEntry for a scene format served by \p PARSER (built on the
///        operation). Returns what the entry must return.
template <class PARSER>
int RegisterScenePlugin(ZanPluginHost* host, const char* pluginName, const char* description,
                        const char* extensions, uint32_t classCode)
{
    if (!ZanPluginHostMatches(host))
        return ZAN3D_PLUGIN_ABI_VERSION; // the host sees the mismatch and unloads us
    if (!(host->m_Family & _FileKind3D))
        return 0;
    host->m_SetPluginName(host, pluginName);
    host->m_RegisterFileType(host, description, extensions, classCode,
                             _FileKind3D | _FileExtRead | _FileExtWrite, 0, 0);
    // The factory is asked only for the class it was registered with; it checks anyway.
    host->m_RegisterParserFactory(
        host, classCode,
        [](CFileIo* io, uint32_t asked, void* registered) -> CFileParser* {
            return asked == uint32_t(reinterpret_cast<uintptr_t>(registered)) ? new PARSER(io)
                                                                              : nullptr;
        },
        reinterpret_cast<void*>(uintptr_t(classCode)));
    return ZAN3D_PLUGIN_ABI_VERSION;
}
} // namespace zanplugin
