// A shared object in the plug-in folder that is not a plug-in: its only function has a
// name close to the entry point's, but not that name.
#include <3dzan/foundation/plugin_abi.h>

ZAN_PLUGIN_EXPORT int Zan3DPluginEntryPoint(ZanPluginHost*)
{
    return ZAN3D_PLUGIN_ABI_VERSION;
}
