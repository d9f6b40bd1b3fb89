// Feeds arbitrary bytes to the archive as a sequence of objects, each read back by its class
// record: point lists, face lists, channels and channel arrays, keys, materials, scene
// objects... every class the library registers. Each loaded object is then used the way its
// owners use it (checksums, copies, graphs). Every input must either load or raise
// CXArchiveException; anything else is a finding.
#include <3dzan/foundation/xarchive.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace
{
// Builds both graphs over a loaded face list and reads them once.
void ExerciseFaces(CFaceList& faces, CPointList* points)
{
    (void)faces.GetChecksum(0x0C);
    if (points && faces.FindIndexOutside(unsigned(points->GetSize())) != kZanNone)
        return; // a list loaded on its own does not know its points
    CGeomInfo geom;
    geom.SetPointList(points, nullptr, 0);
    geom.SetFaceList(&faces, nullptr, 0);
    if (faces.InitPointToFaceGraph(&geom))
    {
        int count = 0;
        for (int p = 0; p < 64; ++p)
            (void)faces.GetFacesConnectedToPoint(p, count);
        faces.DeletePointToFaceGraph();
    }
    if (faces.InitEdgeToFaceGraph(&geom))
    {
        faces.SetBorderFacesStatus();
        faces.DeleteEdgeToFaceGraph();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CXMemFile file(data, size);
    try
    {
        CXArchive ar(&file, CXArchive::load);
        for (int i = 0; i < 8; ++i)
        {
            CXObject* object = ar.ReadObject();
            if (!object)
                break;
            if (auto* faces = dynamic_cast<CFaceList*>(object))
            {
                ExerciseFaces(*faces, nullptr);
                faces->Delete();
            }
            else if (auto* points = CPointList::FromXObject(object))
            {
                (void)points->GetChecksum(0x03);
                points->Delete();
            }
            else if (auto* channels = dynamic_cast<CDependentChannels*>(object))
            {
                for (int c = 0; c < channels->GetSize(); ++c)
                    if (CChannel* channel = channels->GetAt(c); channel && channel->GetFaceList())
                        ExerciseFaces(*channel->GetFaceList(), channel->GetPointList());
                CDependentChannels copy;
                copy.CopyChannels(*channels, 0xFFFF, 0, nullptr);
                channels->Delete();
            }
            else if (auto* shared = dynamic_cast<CInstanciatedObject*>(object))
                shared->Delete();
            else
                delete object;
        }
    }
    catch (const CXArchiveException&)
    {
    }
    return 0;
}
