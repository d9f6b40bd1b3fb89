// Where a per-corner channel breaks along an edge shared by two faces: the two channel faces
// give the edge's end points values that the channel's own comparison finds different (a
// texture seam, a colour boundary). The coplanar merge must not join faces across such an edge.
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/geometry/topology.h>

#include <algorithm>

namespace
{
constexpr unsigned kUnusable = _FaceInvalid | _FaceExcluded;

template <class LIST>
bool BreaksAlong(const CChannel& channel, const LIST* values, const CGeomInfo* geom,
                 double tolerance, const C3DEdge& edge, int face1, int face2)
{
    const CFaceList* geometry = geom ? geom->GetSrcFaceList() : nullptr;
    const CFaceList* corners = channel.GetFaceList();
    if (!geometry || !corners || !values || face1 < 0 || face2 < 0)
        return true;
    const int faces[2] = {face1, face2};
    const int* channelCorners[2];
    const int* geometryCorners[2];
    int count[2];
    bool carries[2];
    for (int s = 0; s < 2; ++s)
    {
        int channelCount = 0;
        geometryCorners[s] = geometry->GetIndexes(unsigned(faces[s]), count[s]);
        channelCorners[s] = corners->GetIndexes(unsigned(faces[s]), channelCount);
        carries[s] = geometryCorners[s] && channelCorners[s] && channelCount == count[s] &&
                     !(corners->GetFaceFlags(unsigned(faces[s])) & kUnusable);
    }
    if (!carries[0] || !carries[1])
        return carries[0] != carries[1];
    for (int point : {edge.GetStart(), edge.GetEnd()})
    {
        int value[2];
        for (int s = 0; s < 2; ++s)
        {
            const int* at = std::find(geometryCorners[s], geometryCorners[s] + count[s], point);
            if (at == geometryCorners[s] + count[s])
                return true;
            value[s] = channelCorners[s][at - geometryCorners[s]];
            if (value[s] < 0 || value[s] >= values->GetSize())
                return true;
        }
        if (value[0] != value[1] &&
            !channel.Compare(&(*values)[value[0]], &(*values)[value[1]], tolerance))
            return true;
    }
    return false;
}
} // namespace

bool CUVWChannel::IsUVFrontier(const CGeomInfo* geom, double tolerance, const C3DEdge& edge,
                               int face1, int face2) const
{
    return BreaksAlong(*this, GetUVWPointList(), geom, tolerance, edge, face1, face2);
}

bool CVCChannel::IsVCFrontier(const CGeomInfo* geom, double tolerance, const C3DEdge& edge,
                              int face1, int face2) const
{
    return BreaksAlong(*this, GetVCPointList(), geom, tolerance, edge, face1, face2);
}
