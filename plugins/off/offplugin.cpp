// The OFF plug-in module: registers ".off" and the OFF parser.
#include "offformat.h"
#include "pluginentry.h"

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    return zanplugin::RegisterScenePlugin<zanoff::COffParser>(host, "3DZan OFF", "OFF files",
                                                              ".off", zanoff::kClassOFF);
}
