// The PLY plug-in module: registers ".ply" and the PLY parser.
#include "plyformat.h"

#include <3dzan/foundation/files.h>
#include <3dzan/foundation/plugin_abi.h>

namespace
{
CFileParser* CreatePlyParser(CFileIo* io, uint32_t, void*)
{
    return new zanply::CPlyParser(io);
}
} // namespace

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    if (!ZanPluginHostMatches(host))
        return ZAN3D_PLUGIN_ABI_VERSION;
    if (!(host->m_Family & _FileKind3D))
        return 0;
    host->m_SetPluginName(host, "3DZan PLY");
    host->m_RegisterFileType(host, "PLY files", ".ply", zanply::kClassPLY,
                             _FileKind3D | _FileExtRead | _FileExtWrite, 0, 0);
    host->m_RegisterParserFactory(host, zanply::kClassPLY, &CreatePlyParser, nullptr);
    return ZAN3D_PLUGIN_ABI_VERSION;
}
