// Orientation and order of faces. Unifying walks each connected part breadth-first from its
// first face: a neighbour across an edge must run that edge the other way, and is reversed
// when it runs it the same way. Parts that only touch at a point are lined up by the normals
// of their corners at that point, when both faces are nearly parallel and both corners are
// sharp enough to have a reliable normal; otherwise they keep their own orientation.
// Sorting orders faces by material with a stable sort, so faces of one material keep their
// order and channel faces move with their faces.
#include <3dzan/foundation/bitarray.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

#include "facegeometry.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace
{
constexpr unsigned kUnusable = _FaceInvalid | _FaceExcluded;
constexpr unsigned kChannelsLeftAlone = _ChannelInvalid | _ChannelNoFaceEdit;
constexpr double kParallel = 0.9;    // faces meeting at a point are lined up above this
constexpr double kCollinear = 0.995; // a corner whose edges are closer to a line has no normal

// Reverses the corners of face \p face of \p list in place.
void Reverse(CFaceList& list, unsigned face)
{
    CFace handle;
    if (list.GetFace(face, handle))
        handle.Flip();
    list.SetFlag(_FaceListChanged, true);
}
/// \brief The face tagging walk that gives each connected part one orientation. It holds the
///        graphs of the face list for the length of the walk and records the faces it reverses.
class CUnifyTagger
{
public:
    CUnifyTagger(C3DFaceList& faces, const CGeomInfo* geom, CBitArray& flipped)
        : m_Faces(faces), m_Geom(geom), m_Flipped(flipped)
    {
    }
    ~CUnifyTagger() { EndProcess(); }
    CUnifyTagger(const CUnifyTagger&) = delete;
    CUnifyTagger& operator=(const CUnifyTagger&) = delete;

    bool InitProcess()
    {
        m_Points = dynamic_cast<const C3DPointList*>(m_Geom->GetSrcPointList());
        if (!m_Points)
            return false;
        m_EdgeGraph = m_Faces.InitEdgeToFaceGraph(m_Geom);
        m_PointGraph = m_EdgeGraph && m_Faces.InitPointToFaceGraph(m_Geom);
        return m_EdgeGraph && m_PointGraph;
    }
    void EndProcess()
    {
        if (m_EdgeGraph)
            m_Faces.DeleteEdgeToFaceGraph();
        if (m_PointGraph)
            m_Faces.DeletePointToFaceGraph();
        m_EdgeGraph = m_PointGraph = false;
    }
    /// \brief Walks every part; returns the number of parts.
    unsigned Walk()
    {
        const unsigned n = unsigned(m_Faces.GetSize());
        m_Flipped.SetSize(n, false);
        m_Visited.assign(n, 0);
        unsigned groups = 0;
        for (unsigned seed = 0; seed < n; ++seed)
        {
            if (m_Visited[seed] || (m_Faces.GetFaceFlags(seed) & kUnusable))
                continue;
            ++groups;
            m_Visited[seed] = 1;
            m_Queue.assign(1, seed);
            m_PointQueue.clear();
            size_t next = 0, nextPoint = 0;
            while (next < m_Queue.size() || nextPoint < m_PointQueue.size())
            {
                if (next < m_Queue.size())
                {
                    unsigned face = m_Queue[next++];
                    VisitEdges(face);
                    m_PointQueue.push_back(face);
                    continue;
                }
                VisitPoints(m_PointQueue[nextPoint++]);
            }
        }
        return groups;
    }

private:
    bool Usable(unsigned face) const { return !(m_Faces.GetFaceFlags(face) & kUnusable); }

    void Take(unsigned face, bool reverse)
    {
        m_Visited[face] = 1;
        if (reverse)
        {
            Reverse(m_Faces, face);
            m_Flipped.SetAt(face, !m_Flipped.GetAt(face));
        }
        m_Queue.push_back(face);
    }

    void VisitEdges(unsigned face)
    {
        int n = 0;
        const int* corners = m_Faces.GetIndexes(face, n);
        std::vector<int> own(corners, corners + n); // the list may move as faces turn
        for (int k = 0; k < n; ++k)
        {
            const int a = own[size_t(k)], b = own[size_t((k + 1) % n)];
            int count = 0;
            const int* around = m_Faces.GetFacesConnectedToEdge(C3DEdge(a, b), count);
            std::vector<int> others(around, around + count);
            for (int other : others)
            {
                const unsigned g = unsigned(other);
                if (g == face || m_Visited[g] || !Usable(g))
                    continue;
                C3DFace handle;
                m_Faces.GetFace(g, handle);
                Take(g, handle.IsFaceEdge(a, b, true) >= 0);
            }
        }
    }

    // The corner normal of \p face at \p point, false when the corner is nearly flat.
    bool CornerNormal(unsigned face, int point, double normal[3]) const
    {
        int n = 0;
        const int* corners = m_Faces.GetIndexes(face, n);
        int k = 0;
        while (k < n && corners[k] != point)
            ++k;
        if (k == n)
            return false;
        zan_detail::CPositionView view = m_Points->GetPointView();
        const int ids[3] = {corners[(k + n - 1) % n], corners[k], corners[(k + 1) % n]};
        for (int id : ids)
            if (id < 0 || size_t(id) >= view.GetCount())
                return false;
        const C3DTPoint<float>& p = view[size_t(ids[0])];
        const C3DTPoint<float>& c = view[size_t(ids[1])];
        const C3DTPoint<float>& q = view[size_t(ids[2])];
        double e1[3] = {double(q.m_X) - c.m_X, double(q.m_Y) - c.m_Y, double(q.m_Z) - c.m_Z};
        double e2[3] = {double(p.m_X) - c.m_X, double(p.m_Y) - c.m_Y, double(p.m_Z) - c.m_Z};
        double l1 = std::sqrt(e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2]);
        double l2 = std::sqrt(e2[0] * e2[0] + e2[1] * e2[1] + e2[2] * e2[2]);
        if (!(l1 > 0 && l2 > 0) ||
            std::fabs((e1[0] * e2[0] + e1[1] * e2[1] + e1[2] * e2[2]) / (l1 * l2)) >= kCollinear)
            return false;
        normal[0] = e1[1] * e2[2] - e1[2] * e2[1];
        normal[1] = e1[2] * e2[0] - e1[0] * e2[2];
        normal[2] = e1[0] * e2[1] - e1[1] * e2[0];
        return true;
    }

    void VisitPoints(unsigned face)
    {
        int n = 0;
        const int* corners = m_Faces.GetIndexes(face, n);
        std::vector<int> own(corners, corners + n);
        float nf[3];
        zan_detail::CPositionView view = m_Points->GetPointView();
        if (!zan_detail::NewellNormal(view, own.data(), unsigned(n), nf, true))
            return;
        for (int point : own)
        {
            int count = 0;
            const int* around = m_Faces.GetFacesConnectedToPoint(point, count);
            std::vector<int> others(around, around + count);
            for (int other : others)
            {
                const unsigned g = unsigned(other);
                if (g == face || m_Visited[g] || !Usable(g))
                    continue;
                int gn = 0;
                const int* gc = m_Faces.GetIndexes(g, gn);
                float ng[3];
                double cf[3], cg[3];
                if (!zan_detail::NewellNormal(view, gc, unsigned(gn), ng, true) ||
                    std::fabs(double(nf[0]) * ng[0] + double(nf[1]) * ng[1] +
                              double(nf[2]) * ng[2]) < kParallel ||
                    !CornerNormal(face, point, cf) || !CornerNormal(g, point, cg))
                    continue;
                Take(g, cf[0] * cg[0] + cf[1] * cg[1] + cf[2] * cg[2] < 0.0);
            }
        }
    }

    C3DFaceList& m_Faces;
    const CGeomInfo* m_Geom;
    CBitArray& m_Flipped;
    const C3DPointList* m_Points = nullptr;
    bool m_EdgeGraph = false;
    bool m_PointGraph = false;
    std::vector<uint8_t> m_Visited;
    std::vector<unsigned> m_Queue;
    std::vector<unsigned> m_PointQueue;
};
} // namespace

bool C3DFaceList::UnifyNormals(CGeomInfo* geom, CBitArray& flipped)
{
    if (!geom || geom->GetSrcFaceList() != this)
        return false;
    CUnifyTagger tagger(*this, geom, flipped);
    if (!tagger.InitProcess())
        return false;
    tagger.Walk();
    tagger.EndProcess();
    return true;
}

bool C3DFaceList::Flip(const CGeomInfo* geom, int face)
{
    if (face < 0 || face >= GetSize() || (GetFaceFlags(unsigned(face)) & kUnusable))
        return false;
    const int n = GetFaceSize(unsigned(face));
    Reverse(*this, unsigned(face));
    if (const CDependentChannels* channels = geom ? geom->GetSrcChannels() : nullptr)
        for (CChannel* channel : *channels)
        {
            CFaceList* faces = channel->GetFaceList();
            if (faces && faces != this && face < faces->GetSize() &&
                !(faces->GetFaceFlags(unsigned(face)) & kUnusable) &&
                faces->GetFaceSize(unsigned(face)) == n)
                Reverse(*faces, unsigned(face));
        }
    return true;
}

std::vector<unsigned> C3DFaceList::Sort(_FACE_SORT_MODE mode, bool& changed) const
{
    const unsigned n = unsigned(GetSize());
    std::vector<unsigned> order(n);
    std::iota(order.begin(), order.end(), 0u);
    changed = false;
    if (mode != _FaceSortMaterial && mode != _FaceSortMaterialGroup)
        return order;
    std::vector<unsigned> material(n);
    for (unsigned f = 0; f < n; ++f)
    {
        const unsigned* id = MaterialAt(f);
        material[f] = id ? *id : kZanNone;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](unsigned a, unsigned b) { return material[a] < material[b]; });
    for (unsigned i = 0; i < n && !changed; ++i)
        changed = order[i] != i;
    return order;
}

bool C3DFaceList::Sort(const CGeomInfo* geom, _FACE_SORT_MODE mode)
{
    bool changed = false;
    std::vector<unsigned> order = Sort(mode, changed);
    if (!changed || !ReorderFaces(order.data(), unsigned(order.size()), false))
        return false;
    if (const CDependentChannels* channels = geom ? geom->GetSrcChannels() : nullptr)
        for (CChannel* channel : *channels)
        {
            CFaceList* faces = channel->GetFaceList();
            if (faces && faces != this && !channel->IsOneFlagSet(_ChannelInvalid) &&
                faces->ReorderFaces(order.data(), unsigned(order.size()), false))
                channel->MarkModified();
        }
    return true;
}

bool C3DGeomObject::UnifyNormals()
{
    if (IsFlagSet(_ObjectEmpty) || !m_FaceList || !m_PointList)
        return false;
    CGeomInfo geom(this);
    CBitArray flipped;
    if (!m_FaceList->UnifyNormals(&geom, flipped))
        return false;
    for (CChannel* channel : *m_Channels)
    {
        CFaceList* faces = channel->GetFaceList();
        if (!faces || channel->IsOneFlagSet(kChannelsLeftAlone))
            continue;
        bool any = false;
        for (unsigned f = flipped.FindNextSet(0); f < flipped.GetSize();
             f = flipped.FindNextSet(f + 1))
            if (f < unsigned(faces->GetSize()) &&
                faces->GetFaceSize(f) == m_FaceList->GetFaceSize(f))
                Reverse(*faces, f), any = true;
        if (any)
            channel->MarkModified();
    }
    Invalidate(_InvalidateFaces, true);
    return true;
}

bool C3DGeomObject::SortFaces(_FACE_SORT_MODE mode)
{
    if (IsFlagSet(_ObjectEmpty) || !m_FaceList)
        return false;
    CGeomInfo geom(this);
    if (!m_FaceList->Sort(&geom, mode))
        return false;
    Invalidate(_InvalidateFaces, true);
    return true;
}
