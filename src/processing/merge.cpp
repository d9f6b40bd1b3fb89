// Merging of coplanar faces. Faces are grown into groups breadth-first across shared edges
// (each face running the edge the other way, one material, normals within the angle of
// each other and of the group's first face, no channel breaking along the edge). A group then
// becomes one polygon traced along its border edges, which keep the direction they have in
// their faces, so the polygon faces the same way as the faces it replaces. A group whose
// border is not one simple loop (it encloses a hole, or touches itself at a point) keeps its
// faces: one polygon cannot describe it. Straight continuations are dropped from the outline.
// Nothing is written before the grouping is done, so a stop through progress changes nothing.
#include <3dzan/foundation/services.h>
#include <3dzan/foundation/xstring.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/geometry/topology.h>
#include <3dzan/scene/geomobject.h>

#include "facegeometry.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

namespace
{
constexpr unsigned kUnusable = _FaceInvalid | _FaceExcluded;
constexpr unsigned kMergingTitleId = 61000;   // "Merging..."
constexpr unsigned kMergingMessageId = 61001; // "Merging coplanar  faces"
constexpr double kSpecNormalAngle = 0.17453292519943295;

// Whether any channel with a face list breaks along the edge.
bool ChannelsBreak(const CGeomInfo* geom, const std::vector<CChannel*>& channels,
                   const C3DEdge& edge, int a, int b)
{
    for (CChannel* channel : channels)
    {
        bool breaks = false;
        switch (channel->GetType())
        {
        case _ChannelUVW:
            breaks = static_cast<CUVWChannel*>(channel)->IsUVFrontier(geom, 0.0, edge, a, b);
            break;
        case _ChannelVC:
            breaks = static_cast<CVCChannel*>(channel)->IsVCFrontier(geom, 0, edge, a, b);
            break;
        case _ChannelSpecNormal:
            breaks = static_cast<CSpecNormalChannel*>(channel)->IsNormalFrontier(
                geom, kSpecNormalAngle, edge, a, b);
            break;
        default:
            break;
        }
        if (breaks)
            return true;
    }
    return false;
}

// Position of the directed edge (a, b) in the face, -1 when the face does not run it so.
int DirectedEdgeAt(const int* corners, unsigned n, int a, int b)
{
    for (unsigned k = 0; k < n; ++k)
        if (corners[k] == a && corners[k + 1 == n ? 0 : k + 1] == b)
            return int(k);
    return -1;
}

// One corner of a merged outline: the face it is read from and its position there.
struct COutlineCorner
{
    unsigned m_Face;
    unsigned m_Position;
    int m_Point;
};

// A planned destination face: a source face copied, or an outline.
struct CPlannedFace
{
    unsigned m_Source;                     // face whose chunk values the new face takes
    std::vector<COutlineCorner> m_Outline; // empty: the source face as it is
};

bool TraceOutline(const CFaceList& faces, const C3DPointList& points,
                  const std::vector<unsigned>& members, const std::vector<int>& group,
                  const CGeomInfo* geom, const std::vector<CChannel*>& channels,
                  std::vector<COutlineCorner>& outline)
{
    const CAssociationMap* edges = faces.GetEdgeGraph();
    std::unordered_map<int, COutlineCorner> next; // start point -> border half-edge
    std::unordered_map<int, int> ends;            // start point -> end point
    const int id = group[members[0]];
    for (unsigned m : members)
    {
        int n = 0;
        const int* corners = faces.GetIndexes(m, n);
        for (int k = 0; k < n; ++k)
        {
            const int a = corners[k], b = corners[k + 1 == n ? 0 : k + 1];
            unsigned count = 0;
            const int* around = edges->Lookup(C3DEdge(a, b), count);
            int inner = -1;
            for (unsigned j = 0; j < count; ++j)
                if (unsigned(around[j]) != m && group[size_t(around[j])] == id)
                    inner = around[j];
            if (inner >= 0)
            {
                // Inside the group: run the other way and carry no channel break.
                int innerCount = 0;
                const int* innerCorners = faces.GetIndexes(unsigned(inner), innerCount);
                if (count != 2 || DirectedEdgeAt(innerCorners, unsigned(innerCount), b, a) < 0 ||
                    ChannelsBreak(geom, channels, C3DEdge(a, b), int(m), inner))
                    return false;
                continue;
            }
            if (!next.emplace(a, COutlineCorner{m, unsigned(k), a}).second)
                return false; // two border edges leave one point: a pinch
            ends[a] = b;
        }
    }
    if (next.size() < 3)
        return false;
    // One loop through every border edge, or the group has holes.
    std::vector<COutlineCorner> loop;
    const int start = next.begin()->first;
    int at = start;
    do
    {
        auto found = next.find(at);
        if (found == next.end() || loop.size() > next.size())
            return false;
        loop.push_back(found->second);
        at = ends[at];
    } while (at != start);
    if (loop.size() != next.size())
        return false;
    // Straight continuations leave the outline.
    zan_detail::CPositionView view = points.GetPointView();
    outline.clear();
    const size_t n = loop.size();
    for (size_t k = 0; k < n; ++k)
    {
        const C3DTPoint<float>& p = view[size_t(loop[(k + n - 1) % n].m_Point)];
        const C3DTPoint<float>& c = view[size_t(loop[k].m_Point)];
        const C3DTPoint<float>& q = view[size_t(loop[(k + 1) % n].m_Point)];
        double in[3] = {double(c.m_X) - p.m_X, double(c.m_Y) - p.m_Y, double(c.m_Z) - p.m_Z};
        double out[3] = {double(q.m_X) - c.m_X, double(q.m_Y) - c.m_Y, double(q.m_Z) - c.m_Z};
        double li = std::sqrt(in[0] * in[0] + in[1] * in[1] + in[2] * in[2]);
        double lo = std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
        double dot =
            li > 0 && lo > 0 ? (in[0] * out[0] + in[1] * out[1] + in[2] * out[2]) / (li * lo) : 0.0;
        if (dot < 1.0)
            outline.push_back(loop[k]);
    }
    return outline.size() >= 3 && outline.size() <= CFaceList::kMaxCorners;
}

// Rewrites \p to (never \p corners itself) with the planned faces; corners come from
// \p corners (the geometry's or a channel's face list parallel to \p geometry). A channel
// face whose corner count differs from its geometry face's gives excluded faces.
bool WritePlanned(CFaceList& to, const CFaceList& corners, const CFaceList& geometry,
                  const std::vector<CPlannedFace>& plan, bool channel)
{
    std::vector<int> indices;
    std::vector<unsigned> counts, sources, excluded;
    counts.reserve(plan.size());
    sources.reserve(plan.size());
    for (size_t k = 0; k < plan.size(); ++k)
    {
        const CPlannedFace& face = plan[k];
        sources.push_back(face.m_Source);
        if (face.m_Outline.empty())
        {
            int n = 0;
            const int* items = corners.GetIndexes(face.m_Source, n);
            if (n > 0)
                indices.insert(indices.end(), items, items + n);
            else
                indices.push_back(0), excluded.push_back(unsigned(k));
            counts.push_back(unsigned(std::max(n, 1)));
            continue;
        }
        bool carries = true;
        for (const COutlineCorner& c : face.m_Outline)
        {
            int n = 0;
            const int* items = corners.GetIndexes(c.m_Face, n);
            if (!channel)
                indices.push_back(items[c.m_Position]);
            else if (n == geometry.GetFaceSize(c.m_Face) && n > 0)
                indices.push_back(items[c.m_Position]);
            else
                indices.push_back(n > 0 ? items[0] : 0), carries = false;
        }
        if (!carries)
            excluded.push_back(unsigned(k));
        counts.push_back(unsigned(face.m_Outline.size()));
    }
    to.RemoveAll();
    bool ok =
        to.Reserve(unsigned(counts.size()), indices.size()) &&
        (counts.empty() || to.AddFaces(indices.data(), counts.data(), unsigned(counts.size()))) &&
        (counts.empty() || corners.GetSize() == 0 ||
         to.CopyFacesData(0, corners, sources.data(), unsigned(sources.size())));
    if (ok)
        for (unsigned k : excluded)
            to.SetFaceFlags(k, _FaceExcluded, true);
    return ok;
}
} // namespace

int C3DFaceList::MergeCoplanarFaces(const CGeomInfo* geom, double angle)
{
    const auto* points =
        geom ? dynamic_cast<const C3DPointList*>(geom->GetSrcPointList()) : nullptr;
    CFaceList* dst = geom ? geom->GetDstFaceList() : nullptr;
    if (!points || !dst || dst == this || geom->GetSrcFaceList() != this || std::isnan(angle))
        return -1;
    CXTString title, message;
    title.LoadStringW(kMergingTitleId);
    message.LoadStringW(kMergingMessageId);
    CProgressTask progress(title, message);
    progress.SetRange(0, 100);

    const unsigned n = unsigned(GetSize());
    std::vector<float> normals(size_t(n) * 3);
    std::vector<uint8_t> valid(n);
    zan_detail::CPositionView view = points->GetPointView();
    for (unsigned f = 0; f < n; ++f)
    {
        int count = 0;
        const int* corners = GetIndexes(f, count);
        valid[f] =
            !(GetFaceFlags(f) & kUnusable) &&
            zan_detail::NewellNormal(view, corners, unsigned(count), &normals[size_t(f) * 3], true);
    }
    if (!InitEdgeToFaceGraph(geom))
        return -1;
    std::vector<CChannel*> channels;
    if (const CDependentChannels* src = geom->GetSrcChannels())
        for (CChannel* channel : *src)
            if (channel->GetFaceList() && !channel->IsOneFlagSet(_ChannelInvalid))
                channels.push_back(channel);

    const double limit = std::cos(angle) - 1e-6;
    auto dot = [&](unsigned a, unsigned b)
    {
        const float* p = &normals[size_t(a) * 3];
        const float* q = &normals[size_t(b) * 3];
        return double(p[0]) * q[0] + double(p[1]) * q[1] + double(p[2]) * q[2];
    };
    std::vector<int> group(n, -1);
    std::vector<unsigned> queue;
    unsigned visited = 0;
    bool stopped = false;
    const CAssociationMap* edges = GetEdgeGraph();
    for (unsigned seed = 0; seed < n && !stopped; ++seed)
    {
        if (group[seed] >= 0 || !valid[seed])
            continue;
        group[seed] = int(seed);
        queue.assign(1, seed);
        for (size_t q = 0; q < queue.size(); ++q)
        {
            const unsigned face = queue[q];
            stopped = progress.CheckStop(int64_t(++visited) * 100 / n);
            if (stopped)
                break;
            int count = 0;
            const int* corners = GetIndexes(face, count);
            for (int k = 0; k < count; ++k)
            {
                const int a = corners[k], b = corners[k + 1 == count ? 0 : k + 1];
                unsigned around = 0;
                const int* faces = edges->Lookup(C3DEdge(a, b), around);
                if (around != 2)
                    continue;
                const unsigned other =
                    unsigned(faces[0]) == face ? unsigned(faces[1]) : unsigned(faces[0]);
                if (other == face || group[other] >= 0 || !valid[other])
                    continue;
                int otherCount = 0;
                const int* otherCorners = GetIndexes(other, otherCount);
                if (DirectedEdgeAt(otherCorners, unsigned(otherCount), b, a) < 0 ||
                    GetFaceMaterial(face) != GetFaceMaterial(other) || dot(face, other) < limit ||
                    dot(seed, other) < limit ||
                    ChannelsBreak(geom, channels, C3DEdge(a, b), int(face), int(other)))
                    continue;
                group[other] = int(seed);
                queue.push_back(other);
            }
        }
    }
    if (stopped)
    {
        DeleteEdgeToFaceGraph();
        return -1;
    }

    // Members of each group, then the planned faces in the order of the groups' first faces.
    std::vector<unsigned> size(n, 0);
    for (unsigned f = 0; f < n; ++f)
        if (group[f] >= 0)
            ++size[unsigned(group[f])];
    std::unordered_map<unsigned, std::vector<unsigned>> members;
    for (unsigned f = 0; f < n; ++f)
        if (group[f] >= 0 && size[unsigned(group[f])] > 1)
            members[unsigned(group[f])].push_back(f);
    std::vector<CPlannedFace> plan;
    plan.reserve(n);
    std::vector<COutlineCorner> outline;
    for (unsigned f = 0; f < n; ++f)
    {
        const bool grouped = group[f] >= 0 && size[unsigned(group[f])] > 1;
        if (!grouped)
        {
            plan.push_back({f, {}});
            continue;
        }
        if (unsigned(group[f]) != f)
            continue; // written with its group, or below when the group stays apart
        const std::vector<unsigned>& list = members[f];
        if (TraceOutline(*this, *points, list, group, geom, channels, outline))
            plan.push_back({f, outline});
        else
            for (unsigned m : list)
                plan.push_back({m, {}});
    }
    DeleteEdgeToFaceGraph();
    // Faces of a group kept apart come after its first face; restore the source order.
    std::stable_sort(plan.begin(), plan.end(),
                     [](const CPlannedFace& a, const CPlannedFace& b)
                     { return a.m_Source < b.m_Source; });

    if (!WritePlanned(*dst, *this, *this, plan, false))
        return -1;
    std::vector<CFaceList*> lists;
    const CDependentChannels* srcChannels = geom->GetSrcChannels();
    if (CDependentChannels* dstChannels = geom->GetDstChannels())
        for (CChannel* channel : *dstChannels)
        {
            CFaceList* faces = channel->GetFaceList();
            CChannel* from = srcChannels ? srcChannels->GetChannelByID(channel->GetChannelID(),
                                                                       channel->GetType())
                                         : nullptr;
            if (!faces || !from || !from->GetFaceList())
                continue;
            if (!WritePlanned(*faces, *from->GetFaceList(), *this, plan, true))
                return -1;
            channel->MarkModified();
            lists.push_back(faces);
        }

    CXArray<unsigned int, unsigned int> remap;
    if (dst->Clean(true, &remap, lists.data(), unsigned(lists.size())) && remap.GetSize() > 0)
    {
        // The same faces leave the channel face lists.
        std::vector<CPlannedFace> kept;
        for (unsigned f = 0; f < unsigned(remap.GetSize()); ++f)
            if (remap[f] != kZanNone)
                kept.push_back({f, {}});
        for (CFaceList* faces : lists)
        {
            auto* copy =
                static_cast<CFaceList*>(faces->GetRuntimeClassDescriptor()->CreateObject());
            if (!copy)
                return -1;
            *copy = *faces;
            bool ok = WritePlanned(*faces, *copy, *copy, kept, true);
            copy->Delete();
            if (!ok)
                return -1;
        }
    }
    return dst->GetSize();
}

int C3DGeomObject::MergeCoplanarFaces(double angle, unsigned channelMask)
{
    unsigned kind = GetKindOf();
    if ((kind != _ObjectKindPolygonal && kind != _ObjectKindPatch) || IsFlagSet(_ObjectEmpty) ||
        !m_FaceList || !m_PointList || std::isnan(angle))
        return -1;
    const uint64_t start = timeGetTick();
    C3DFaceList* faces = C3DFaceList::Create(m_FaceList);
    *faces = *m_FaceList;
    CDependentChannels* channels = CDependentChannels::Create();
    channels->CopyChannels(*m_Channels, channelMask, _ChannelCopyKeepID);
    CGeomInfo geom(this);
    geom.SetFaceList(m_FaceList, faces, 2);
    geom.SetChannels(m_Channels, channels, 2);
    const int before = m_FaceList->GetSize();
    int result = m_FaceList->MergeCoplanarFaces(&geom, angle);
    if (result >= 0 && result != before)
    {
        SetFaceList(geom.GetDst3DFaceList(true), true);
        if (channels->GetSize() > 0)
            SetChannels(geom.GetDstChannels(true), true);
        else if (m_Channels->RemoveChannelsByType(~channelMask & 0xFFFF))
            Invalidate(0x800, true);
    }
    WriteToLogFile("C3DGeomObject::MergeCoplanarFaces time %d ms\n", int(timeGetTick() - start));
    return result;
}
