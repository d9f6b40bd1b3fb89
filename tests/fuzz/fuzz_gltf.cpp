// Feeds arbitrary bytes to the glTF reader, text or binary (told apart by the magic), with
// external buffers refused. Every input must either give a scene or an error message; a
// scene read must be writable again. A crash, a leak or a huge allocation is a finding.
#include <gltf.h>

#include <3dzan/scene/scene.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    zangltf::CGltfSource source;
    source.m_Data = std::string_view(reinterpret_cast<const char*>(data), size);
    source.m_Name = "fuzz";
    source.m_AllowExternal = false;
    zangltf::CGltfError error;
    C3DScene* scene = zangltf::ReadGltf(source, error);
    if (!scene)
    {
        if (error.m_Message.empty())
            std::abort(); // a refusal must say why
        return 0;
    }
    if (scene->GetPointNbr() < 0 || scene->GetFaceNbr() < 0)
        std::abort();
    scene->Delete();
    return 0;
}
