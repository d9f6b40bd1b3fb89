// Cleaning a face list together with the rest of its geometry: the channel faces that run
// parallel to it, the points it uses and the channels that follow those points. The face list
// itself only knows parallel lists; the geometry context says which they are.
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>

#include <vector>

namespace
{
// The channel face lists that face edits of the geometry must follow.
std::vector<CFaceList*> ParallelFaces(const CGeomInfo* geom, const CFaceList* self)
{
    std::vector<CFaceList*> lists;
    const CDependentChannels* channels = geom ? geom->GetSrcChannels() : nullptr;
    if (!channels)
        return lists;
    for (CChannel* channel : *channels)
        if (channel->GetFaceList() && channel->GetFaceList() != self &&
            !channel->IsOneFlagSet(_ChannelNoFaceEdit))
            lists.push_back(channel->GetFaceList());
    return lists;
}
} // namespace

bool CFaceList::CleanPointsIndex(const CGeomInfo* geom)
{
    if (!geom)
        return false;
    std::vector<CFaceList*> channels = ParallelFaces(geom, this);
    return CleanPointsIndex(channels.data(), unsigned(channels.size()));
}

bool CFaceList::Clean(const CGeomInfo* geom, bool cleanPoints,
                      CXArray<unsigned int, unsigned int>* remap)
{
    std::vector<CFaceList*> channels = ParallelFaces(geom, this);
    return Clean(cleanPoints, remap, channels.data(), unsigned(channels.size()));
}

bool CFaceList::Clean(const CGeomInfo* geom)
{
    CXArray<unsigned int, unsigned int> faceRemap, pointRemap;
    unsigned stamp = GetChangedStamp();
    bool changed = Clean(geom, true, &faceRemap) || GetChangedStamp() != stamp;
    CPointList* points = geom ? geom->GetSrcPointList() : nullptr;
    if (points && points->Clean(this, &pointRemap))
    {
        changed = true;
        if (UpdateIndex(&pointRemap, true))
            MarkChanged();
    }
    CDependentChannels* channels = geom ? geom->GetSrcChannels() : nullptr;
    if (channels && channels->CleanChannels(geom, &faceRemap, &pointRemap) > 0)
        changed = true;
    return changed;
}
