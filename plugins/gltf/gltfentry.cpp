// The module's entry point: registers ".gltf" and ".glb" and the parser factory.
#include "gltf.h"
#include "pluginentry.h"

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    return zanplugin::RegisterScenePlugin<zangltf::CGltfParser>(
        host, "3DZan glTF 2.0", "glTF 2.0 files", ".gltf;.glb", zangltf::kClassGLTF);
}
