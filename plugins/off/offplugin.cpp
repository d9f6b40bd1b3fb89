// The OFF plug-in module: registers ".off" and the OFF parser.
#include "offformat.h"

#include <3dzan/foundation/files.h>
#include <3dzan/foundation/plugin_abi.h>

namespace
{
CFileParser* CreateOffParser(CFileIo* io, uint32_t, void*)
{
    return new zanoff::COffParser(io);
}
} // namespace

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    if (!ZanPluginHostMatches(host))
        return ZAN3D_PLUGIN_ABI_VERSION;
    if (!(host->m_Family & _FileKind3D))
        return 0;
    host->m_SetPluginName(host, "3DZan OFF");
    host->m_RegisterFileType(host, "OFF files", ".off", zanoff::kClassOFF,
                             _FileKind3D | _FileExtRead | _FileExtWrite, 0, 0);
    host->m_RegisterParserFactory(host, zanoff::kClassOFF, &CreateOffParser, nullptr);
    return ZAN3D_PLUGIN_ABI_VERSION;
}
