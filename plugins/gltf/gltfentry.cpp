// The module's entry point: registers ".gltf" and ".glb" and the parser factory.
#include "gltf.h"

#include <3dzan/foundation/plugin_abi.h>

namespace
{
CFileParser* CreateParser(CFileIo* io, uint32_t classCode, void*)
{
    if (classCode != zangltf::kClassGLTF)
        return nullptr;
    return new zangltf::CGltfParser(io);
}
} // namespace

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    if (!ZanPluginHostMatches(host))
        return ZAN3D_PLUGIN_ABI_VERSION;
    if ((host->m_Family & _FileKind3D) == 0)
        return 0;
    host->m_SetPluginName(host, "3DZan glTF 2.0");
    host->m_RegisterFileType(host, "glTF 2.0 files", ".gltf;.glb", zangltf::kClassGLTF,
                             _FileKind3D | _FileExtRead | _FileExtWrite, 0, 0);
    host->m_RegisterParserFactory(host, zangltf::kClassGLTF, &CreateParser, nullptr);
    return ZAN3D_PLUGIN_ABI_VERSION;
}
