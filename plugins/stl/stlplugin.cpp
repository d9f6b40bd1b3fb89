// The STL plug-in module: registers ".stl" and the STL parser.
#include "stlformat.h"

#include <3dzan/foundation/files.h>
#include <3dzan/foundation/plugin_abi.h>

namespace
{
CFileParser* CreateStlParser(CFileIo* io, uint32_t, void*)
{
    return new zanstl::CStlParser(io);
}
} // namespace

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    if (!ZanPluginHostMatches(host))
        return ZAN3D_PLUGIN_ABI_VERSION;
    if (!(host->m_Family & _FileKind3D))
        return 0;
    host->m_SetPluginName(host, "3DZan STL");
    host->m_RegisterFileType(host, "STL files", ".stl", zanstl::kClassSTL,
                             _FileKind3D | _FileExtRead | _FileExtWrite, 0, 0);
    host->m_RegisterParserFactory(host, zanstl::kClassSTL, &CreateStlParser, nullptr);
    return ZAN3D_PLUGIN_ABI_VERSION;
}
