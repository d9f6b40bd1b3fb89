// Feeds arbitrary bytes to the scene archive reader. Every input must either load or raise
// CXArchiveException, leaving the target scene as it was; a scene that loaded must be
// walkable, copyable and storable again. Anything else (a crash, another exception, a leak, a
// huge allocation) is a finding.
#include <3dzan/foundation/xarchive.h>
#include <3dzan/scene/scene.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace
{
std::vector<uint8_t> Store(C3DScene& scene)
{
    CXMemFile file;
    {
        CXArchive ar(&file, CXArchive::store);
        scene.Serialize(ar);
        ar.Close();
    }
    return file.Detach();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    C3DScene scene;
    const std::vector<uint8_t> before = Store(scene);
    CXMemFile file(data, size);
    try
    {
        CXArchive ar(&file, CXArchive::load);
        scene.Serialize(ar);
    }
    catch (const CXArchiveException&)
    {
        if (Store(scene) != before)
            std::abort(); // a refused archive changed the scene
        return 0;
    }
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = scene.GetFirstNode(0xFFFFFFFF, _IterInstancesOnce | _IterNoObject); pos;)
        if (C3DSceneNode* node = scene.GetNextNode(object, pos))
            (void)node->GetDisplayName();
    if (C3DScene* copy = scene.Copy())
        copy->Delete();
    (void)Store(scene);
    return 0;
}
