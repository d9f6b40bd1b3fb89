// The PLY plug-in module: registers ".ply" and the PLY parser.
#include "pluginentry.h"
#include "plyformat.h"

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    return zanplugin::RegisterScenePlugin<zanply::CPlyParser>(host, "3DZan PLY", "PLY files",
                                                              ".ply", zanply::kClassPLY);
}
