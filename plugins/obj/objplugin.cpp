// The OBJ plug-in's entry: registers the file type and the parser factory.
#include "objparser.h"

#include <3dzan/foundation/files.h>
#include <3dzan/foundation/plugin_abi.h>

namespace
{
CFileParser* CreateObjParser(CFileIo* io, uint32_t classCode, void*)
{
    return classCode == kClassOBJ ? new CObjParser(io) : nullptr;
}
} // namespace

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    if (!ZanPluginHostMatches(host))
        return ZAN3D_PLUGIN_ABI_VERSION;
    if (!(host->m_Family & _FileKind3D))
        return 0;
    host->m_RegisterFileType(host, "Wavefront OBJ files", ".obj", kClassOBJ,
                             _FileKind3D | _FileExtRead | _FileExtWrite, 0, 0);
    host->m_RegisterParserFactory(host, kClassOBJ, &CreateObjParser, nullptr);
    host->m_SetPluginName(host, "Wavefront OBJ");
    return ZAN3D_PLUGIN_ABI_VERSION;
}
