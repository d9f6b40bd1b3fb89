// The OBJ plug-in's entry: registers the file type and the parser factory.
#include "objparser.h"
#include "pluginentry.h"

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    return zanplugin::RegisterScenePlugin<CObjParser>(host, "Wavefront OBJ", "Wavefront OBJ files",
                                                      ".obj", kClassOBJ);
}
