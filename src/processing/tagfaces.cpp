// The face tagging walk: a breadth-first flood fill over the usable faces, through the
// edge-to-face graph (faces sharing a side) or the point-to-face graph (faces sharing a
// point). Each face carries a visited bit; a group grows from the lowest face not yet reached
// until its queue runs dry, and a tagger decides which offered neighbours may join. A face
// can be queued more than once (offered by two faces before it is taken); it is taken once,
// so the queue never holds more entries than the graph has face references.
// Explode is the simplest tagger: every neighbour joins, and each group becomes an object.
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/facetagger.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/topology.h>
#include <3dzan/scene/geomobject.h>

#include "graphuse.h"

#include <vector>

namespace
{
constexpr unsigned kUnusable = _FaceInvalid | _FaceExcluded;
constexpr int kRefused = -1; // an entry the tagger set to 0xFFFFFFFF
} // namespace

// ---------------------------------------------------------------- CFaceTagger

CFaceTagger::~CFaceTagger() = default;

bool CFaceTagger::InitProcess(CGeomInfo*)
{
    return m_Faces != nullptr;
}

void CFaceTagger::EndProcess(unsigned) {}

void CFaceTagger::BeginNewGroup(unsigned, int) {}

bool CFaceTagger::BelongToGroup(int, int, int*, int)
{
    return true;
}

bool CFaceTagger::BelongToGroup(int, const C3DEdge&, int*, int)
{
    return true;
}

void CFaceTagger::EndGroup(const int*, int) {}

// ---------------------------------------------------------------- the walk

unsigned CFaceList::TagFaces(CGeomInfo* geom, CFaceTagger& tagger, bool byEdges)
{
    tagger.m_Geom = geom;
    tagger.m_Points = geom ? geom->GetSrcPointList() : nullptr;
    tagger.m_Faces = this;
    if (!tagger.InitProcess(geom))
        return 0;
    zan_detail::CFaceGraphUse graph(*this, geom, byEdges);
    if (!graph.IsHeld())
        return 0;

    const unsigned faceNbr = unsigned(GetSize());
    std::vector<uint8_t> visited(faceNbr, 0);
    std::vector<int> queue;
    std::vector<int> group;
    std::vector<int> offered;
    unsigned groupNbr = 0;

    // Offers the faces of \p around (without \p face and the visited ones) and queues those
    // the tagger lets join.
    auto offer = [&](int face, const int* around, int count, auto&& ask)
    {
        offered.clear();
        for (int i = 0; i < count; ++i)
            if (around[i] != face && unsigned(around[i]) < faceNbr && !visited[size_t(around[i])])
                offered.push_back(around[i]);
        if (offered.empty() || !ask(offered.data(), int(offered.size())))
            return;
        for (int other : offered)
            if (other != kRefused && unsigned(other) < faceNbr)
                queue.push_back(other);
    };

    for (unsigned seed = 0; seed < faceNbr; ++seed)
    {
        if (visited[seed])
            continue;
        if (GetFaceFlags(seed) & kUnusable)
        {
            visited[seed] = 1;
            continue;
        }
        tagger.BeginNewGroup(groupNbr, int(seed));
        queue.assign(1, int(seed));
        group.clear();
        for (size_t next = 0; next < queue.size(); ++next)
        {
            const int face = queue[next];
            if (visited[size_t(face)] || (GetFaceFlags(unsigned(face)) & kUnusable))
                continue;
            visited[size_t(face)] = 1;
            group.push_back(face);
            int n = 0;
            const int* items = GetIndexes(unsigned(face), n);
            const std::vector<int> corners(items, items + n); // the tagger may edit the face
            for (int k = 0; k < n; ++k)
            {
                int count = 0;
                if (byEdges)
                {
                    const int a = corners[size_t(k)], b = corners[size_t((k + 1) % n)];
                    if (a == b)
                        continue;
                    const int* around = GetFacesConnectedToEdge(C3DEdge(a, b), count);
                    const C3DEdge side = C3DEdge::Oriented(a, b);
                    offer(face, around, count,
                          [&](int* faces, int offeredNbr)
                          { return tagger.BelongToGroup(face, side, faces, offeredNbr); });
                }
                else
                {
                    const int point = corners[size_t(k)];
                    const int* around = GetFacesConnectedToPoint(point, count);
                    offer(face, around, count,
                          [&](int* faces, int offeredNbr)
                          { return tagger.BelongToGroup(face, point, faces, offeredNbr); });
                }
            }
        }
        tagger.EndGroup(group.data(), int(group.size()));
        ++groupNbr;
    }
    tagger.EndProcess(groupNbr);
    return groupNbr;
}

// ---------------------------------------------------------------- explode

CIsolateFaceTagger::CIsolateFaceTagger(const C3DGeomObject& object, CXArray<C3DGeomObject*>& parts)
    : m_Object(object), m_Parts(parts)
{
}

CIsolateFaceTagger::~CIsolateFaceTagger() = default;

bool CIsolateFaceTagger::InitProcess(CGeomInfo* geom)
{
    const CFaceList* faces = GetFaceList();
    if (!CFaceTagger::InitProcess(geom) || faces != m_Object.GetFaceList())
        return false;
    m_UsableNbr = 0;
    m_Appended = 0;
    for (int f = 0; f < faces->GetSize(); ++f)
        if (!(faces->GetFaceFlags(unsigned(f)) & kUnusable))
            ++m_UsableNbr;
    return m_UsableNbr > 0;
}

void CIsolateFaceTagger::EndGroup(const int* faces, int count)
{
    if (count <= 0 || count >= m_UsableNbr)
        return;
    if (C3DObject* part = m_Object.SubObject(faces, count))
    {
        m_Parts.Add(part);
        ++m_Appended;
    }
}

int C3DGeomObject::ExplodeIntoIsolatedParts(CXArray<C3DGeomObject*>& parts)
{
    parts.RemoveAll();
    if (IsEmptyObject() || !m_FaceList || !m_PointList)
        return 0;
    CGeomInfo geom(this);
    CIsolateFaceTagger tagger(*this, parts);
    m_FaceList->TagFaces(&geom, tagger, false);
    return tagger.GetPartNbr();
}
