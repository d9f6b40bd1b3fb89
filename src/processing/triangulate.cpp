// Triangulation of a face list: every selected polygon is split by ear clipping (earclip.h)
// and the destination lists are built in bulk, a block of source faces at a time: the corner
// indices of the block's new faces are gathered in one array and appended at once, then every
// chunk value is copied from the face each new face comes from, in one pass per chunk. Channel face
// lists are rebuilt the same way from the corner positions the clipper chose. Convex quadrangles,
// the bulk of most meshes, take a closed-form path that makes the very choices the clipper would.
#include <3dzan/foundation/services.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

#include "earclip.h"

#include <algorithm>
#include <vector>

namespace
{
constexpr unsigned kUnusable = _FaceInvalid | _FaceExcluded;
constexpr unsigned kQuadrangulateMark = 0x8000;

// Faces that are split: usable, more than three corners, and the property test as asked.
inline bool IsSplit(unsigned flags, unsigned count, unsigned properties, bool match)
{
    return count > 3 && !(flags & kUnusable) && ((flags & properties) == properties) == match;
}

// Faces are planned and written a block at a time, so that the plan stays small enough to
// live in cache and the destination lists are the only large memory the operation touches.
constexpr unsigned kBlockFaces = 16384;

// The destination faces of one block of source faces.
struct CPlan
{
    std::vector<int> m_Indices;        // corners of every destination face, in order
    std::vector<unsigned> m_Counts;    // corner count of every destination face
    std::vector<unsigned> m_Parents;   // the source face of every destination face
    std::vector<uint16_t> m_Positions; // for split faces, the source positions of the corners
    std::vector<uint8_t> m_Split;      // 1 for a triangle of a split face
    bool m_AllTriangles = true;

    void Clear()
    {
        m_Indices.clear();
        m_Counts.clear();
        m_Parents.clear();
        m_Positions.clear();
        m_Split.clear();
        m_AllTriangles = true;
    }
};

class CPlanner
{
public:
    CPlanner(const CFaceList& faces, const C3DPointList& points, unsigned properties, bool match)
        : m_Faces(faces), m_View(points.GetPointView()), m_Properties(properties), m_Match(match)
    {
    }

    // Plans source faces [first, last) into \p plan (emptied first).
    void Plan(unsigned first, unsigned last, CPlan& plan)
    {
        plan.Clear();
        for (unsigned f = first; f < last; ++f)
        {
            int n = 0;
            const int* indices = m_Faces.GetIndexes(f, n);
            bool split = IsSplit(m_Faces.GetFaceFlags(f), unsigned(n), m_Properties, m_Match);
            double quadXY[8];
            double* xy = quadXY;
            if (split)
            {
                if (n > 4)
                {
                    m_XY.resize(size_t(n) * 2);
                    xy = m_XY.data();
                }
                // A face whose positions cannot be read (NaN, an index past the points) is
                // kept as it is rather than lost.
                split = zan_detail::ProjectPolygon(m_View, indices, unsigned(n), xy);
            }
            if (!split)
            {
                plan.m_Indices.insert(plan.m_Indices.end(), indices, indices + n);
                plan.m_Counts.push_back(unsigned(n));
                plan.m_Parents.push_back(f);
                plan.m_Split.push_back(0);
                plan.m_AllTriangles = plan.m_AllTriangles && n == 3;
                continue;
            }
            uint16_t quad[6];
            const uint16_t* corners = quad;
            int triangles = n == 4 ? zan_detail::ClipConvexQuad(xy, indices, quad) : -1;
            if (triangles < 0)
            {
                m_Corners.clear();
                triangles = int(m_Clipper.Run(xy, indices, unsigned(n), m_Corners));
                corners = m_Corners.data();
            }
            for (int k = 0; k < 3 * triangles; ++k)
            {
                plan.m_Indices.push_back(indices[corners[k]]);
                plan.m_Positions.push_back(corners[k]);
            }
            for (int t = 0; t < triangles; ++t)
            {
                plan.m_Counts.push_back(3);
                plan.m_Parents.push_back(f);
                plan.m_Split.push_back(1);
            }
        }
    }

private:
    const CFaceList& m_Faces;
    zan_detail::CPositionView m_View;
    unsigned m_Properties;
    bool m_Match;
    zan_detail::CEarClipper m_Clipper;
    std::vector<double> m_XY;
    std::vector<uint16_t> m_Corners;
};

// Appends the planned faces to \p to with the chunk values of their sources in \p from.
bool AppendGeometry(CFaceList& to, const CFaceList& from, const CPlan& plan)
{
    const unsigned nbr = unsigned(plan.m_Counts.size());
    if (nbr == 0)
        return true;
    const unsigned first = unsigned(to.GetSize());
    bool added = plan.m_AllTriangles
                     ? to.AddFaces(plan.m_Indices.data(), nbr, 3)
                     : to.AddFaces(plan.m_Indices.data(), plan.m_Counts.data(), nbr);
    return added && to.CopyFacesData(first, from, plan.m_Parents.data(), nbr);
}

// Appends the channel faces that follow the planned faces: a copied face keeps its channel
// face; a triangle takes the channel corners at its source positions, or is excluded when the
// channel face has another corner count. Unusable channel faces stay unusable.
bool AppendChannel(CFaceList& to, const CFaceList* from, const CFaceList& geometry,
                   const CPlan& plan, std::vector<int>& indices, std::vector<unsigned>& counts,
                   std::vector<unsigned>& parents, std::vector<unsigned>& excluded)
{
    const unsigned nbr = unsigned(plan.m_Counts.size());
    const unsigned first = unsigned(to.GetSize());
    if (nbr == 0)
        return true;
    if (!from || from->GetSize() == 0)
    {
        // A channel without a source: faces that say they carry nothing.
        if (!to.SetSize(int(first + nbr), 3))
            return false;
        to.SetFacesFlags(first, first + nbr, kUnusable, true);
        return true;
    }
    indices.clear();
    counts.assign(nbr, 3);
    parents.resize(nbr);
    excluded.clear();
    size_t position = 0;
    for (unsigned k = 0; k < nbr; ++k)
    {
        const unsigned f = plan.m_Parents[k];
        parents[k] = f < unsigned(from->GetSize()) ? f : 0;
        int n = 0;
        const int* corners = from->GetIndexes(f, n);
        if (!plan.m_Split[k])
        {
            // Copied faces keep their channel face as it is (a missing one gets a corner).
            if (n > 0)
                indices.insert(indices.end(), corners, corners + n);
            else
                indices.push_back(0), excluded.push_back(first + k);
            counts[k] = unsigned(std::max(n, 1));
            continue;
        }
        const uint16_t* pos = &plan.m_Positions[position];
        position += 3;
        if (n == geometry.GetFaceSize(f))
            for (int j = 0; j < 3; ++j)
                indices.push_back(corners[pos[j]]);
        else
        {
            for (int j = 0; j < 3; ++j)
                indices.push_back(n > 0 ? corners[std::min(int(pos[j]), n - 1)] : 0);
            excluded.push_back(first + k);
        }
    }
    if (!to.AddFaces(indices.data(), counts.data(), nbr) ||
        !to.CopyFacesData(first, *from, parents.data(), nbr))
        return false;
    for (unsigned k : excluded)
        to.SetFaceFlags(k, _FaceExcluded, true);
    return true;
}
} // namespace

int C3DFaceList::DoTriangulation(const CGeomInfo* geom, unsigned total, int mode,
                                 _FACE_PROPERTIES properties, bool match) const
{
    (void)mode;
    CFaceList* dst = geom ? geom->GetDstFaceList() : nullptr;
    const auto* points =
        geom ? dynamic_cast<const C3DPointList*>(geom->GetSrcPointList()) : nullptr;
    if (!dst || !points || dst == this)
        return -1;
    struct CChannelPair
    {
        CChannel* m_Channel;
        const CFaceList* m_From;
    };
    std::vector<CChannelPair> channels;
    const CDependentChannels* src = geom->GetSrcChannels();
    if (CDependentChannels* dstChannels = geom->GetDstChannels())
        for (CChannel* channel : *dstChannels)
            if (CFaceList* faces = channel->GetFaceList())
            {
                CChannel* from =
                    src ? src->GetChannelByID(channel->GetChannelID(), channel->GetType())
                        : nullptr;
                channels.push_back({channel, from ? from->GetFaceList() : nullptr});
                faces->RemoveAll();
                faces->Reserve(total, uint64_t(total) * 3);
            }
    dst->RemoveAll();
    dst->SetPointBound(GetPointBound());
    if (!dst->Reserve(total, uint64_t(total) * 3))
        return -1;
    try
    {
        CPlanner planner(*this, *points, properties, match);
        CPlan plan;
        std::vector<int> indices;
        std::vector<unsigned> counts, parents, excluded;
        const unsigned faceNbr = unsigned(GetSize());
        for (unsigned first = 0; first < faceNbr; first += kBlockFaces)
        {
            planner.Plan(first, std::min(faceNbr, first + kBlockFaces), plan);
            if (!AppendGeometry(*dst, *this, plan))
                return -1;
            for (const CChannelPair& c : channels)
                if (!AppendChannel(*c.m_Channel->GetFaceList(), c.m_From, *this, plan, indices,
                                   counts, parents, excluded))
                    return -1;
        }
    }
    catch (const std::bad_alloc&)
    {
        return -1;
    }
    for (const CChannelPair& c : channels)
        c.m_Channel->MarkModified();
    return dst->GetSize();
}

int C3DFaceList::Triangulate(CGeomInfo* geom, unsigned channelMask, _FACE_PROPERTIES properties,
                             bool match)
{
    if (!geom || geom->GetSrcFaceList() != this ||
        !dynamic_cast<const C3DPointList*>(geom->GetSrcPointList()))
        return -1;
    uint64_t total = 0;
    bool any = false;
    ForEachFace(
        [&](unsigned f, const int*, unsigned n)
        {
            bool split = IsSplit(GetFaceFlags(f), n, properties, match);
            any = any || split;
            total += split ? n - 2 : 1;
        });
    const unsigned srcOwn = geom->GetOwnership();
    CDependentChannels* srcChannels = geom->GetSrcChannels();
    if (!any)
    {
        geom->SetFaceList(this, this, (srcOwn & _GeomOwnSrcFaces) ? 1 : 0);
        geom->SetChannels(srcChannels, srcChannels, (srcOwn & _GeomOwnSrcChannels) ? 1 : 0);
        return GetSize();
    }
    if (total > CFaceStorage::kMaxRecords)
        return -1;
    C3DFaceList* faces = C3DFaceList::Create(this);
    CDependentChannels* channels = CDependentChannels::Create();
    // The copies keep their values; DoTriangulation rebuilds their face lists.
    if (srcChannels)
        channels->CopyChannels(*srcChannels, channelMask, _ChannelCopyKeepID);
    geom->SetFaceList(this, faces, ((srcOwn & _GeomOwnSrcFaces) ? 1 : 0) | 2);
    geom->SetChannels(srcChannels, channels, ((srcOwn & _GeomOwnSrcChannels) ? 1 : 0) | 2);
    int result = DoTriangulation(geom, unsigned(total), 0, properties, match);
    if (result < 0)
    {
        // Back to no destination: the new lists are released with the context's holders.
        geom->SetFaceList(this, nullptr, (srcOwn & _GeomOwnSrcFaces) ? 1 : 0);
        geom->SetChannels(srcChannels, nullptr, (srcOwn & _GeomOwnSrcChannels) ? 1 : 0);
    }
    return result;
}

bool C3DGeomObject::Triangulate(unsigned channelMask, _FACE_PROPERTIES properties, bool match)
{
    unsigned kind = GetKindOf();
    if ((kind != _ObjectKindPolygonal && kind != _ObjectKindPatch) || IsFlagSet(_ObjectEmpty) ||
        !m_FaceList || !m_PointList)
        return false;
    const uint64_t start = timeGetTick();
    CGeomInfo geom(this);
    if (m_FaceList->Triangulate(&geom, channelMask, properties, match) < 0 ||
        geom.GetDstFaceList() == m_FaceList)
        return false;
    C3DFaceList* faces = geom.GetDst3DFaceList(true);
    CDependentChannels* channels = geom.GetDstChannels(true);
    if (!faces || !channels)
    {
        if (faces)
            faces->DeleteMe();
        if (channels)
            channels->DeleteMe();
        return false;
    }
    SetFaceList(faces, true);
    SetChannels(channels, true);
    CleanChannels(0xFFFFFFFF, true);
    WriteToLogFile("C3DGeomObject::Triangulate time %d ms\n", int(timeGetTick() - start));
    return true;
}

bool C3DGeomObject::Quadrangulate()
{
    unsigned kind = GetKindOf();
    if ((kind != _ObjectKindPolygonal && kind != _ObjectKindPatch) || IsFlagSet(_ObjectEmpty) ||
        !m_FaceList || !m_PointList)
        return false;
    // The mark goes on the faces to split only; a face that carried it for another reason
    // would otherwise be split too, so every other face loses it first.
    bool any = false;
    const unsigned faceNbr = unsigned(m_FaceList->GetSize());
    for (unsigned f = 0; f < faceNbr; ++f)
    {
        bool split = m_FaceList->GetFaceSize(f) > 4 && !(m_FaceList->GetFaceFlags(f) & kUnusable);
        any = any || split;
    }
    if (!any)
        return false;
    for (unsigned f = 0; f < faceNbr; ++f)
        m_FaceList->SetFaceFlags(f, kQuadrangulateMark,
                                 m_FaceList->GetFaceSize(f) > 4 &&
                                     !(m_FaceList->GetFaceFlags(f) & kUnusable));
    bool done = Triangulate(_ChannelAll, _FACE_PROPERTIES(kQuadrangulateMark), true);
    m_FaceList->SetFacesFlags(kQuadrangulateMark, false);
    return done;
}
