// The STL plug-in module: registers ".stl" and the STL parser.
#include "pluginentry.h"
#include "stlformat.h"

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    return zanplugin::RegisterScenePlugin<zanstl::CStlParser>(host, "3DZan STL", "STL files",
                                                              ".stl", zanstl::kClassSTL);
}
