// A plug-in built, as it claims, for another version of the plug-in interface. It still
// registers a format before answering, so a test can check that the host drops it.
#include <3dzan/foundation/fileio.h>
#include <3dzan/foundation/plugin_abi.h>

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    if (host && host->m_AbiVersion == ZAN3D_PLUGIN_ABI_VERSION)
        host->m_RegisterFileType(host, "Refused test files", ".zbad", ZanTag("ZBAD"),
                                 _FileKind3D | _FileExtRead, 0, 0);
    return ZAN3D_PLUGIN_ABI_VERSION + 100;
}
