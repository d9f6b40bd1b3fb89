// Triangulation of a face list: every selected polygon is split by ear clipping (earclip.h)
// and the destination lists are built in bulk: the corner indices of all new faces are
// gathered in one array and appended at once, then every chunk value is copied from the
// face each new face comes from, in one pass per chunk. Channel face lists are rebuilt the
// same way from the corner positions the clipper chose. Convex quadrangles, the bulk of most
// meshes, take a closed-form path that makes the very choices the clipper would.
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

// The faces of the destination list, described before any list is touched.
struct CPlan
{
    std::vector<int> m_Indices;         // corners of every destination face, in order
    std::vector<unsigned> m_Counts;     // corner count of every destination face
    std::vector<unsigned> m_Parents;    // the source face of every destination face
    std::vector<uint16_t> m_Positions;  // for split faces, the source positions of the corners
    std::vector<uint8_t> m_Split;       // 1 for a triangle of a split face
};

bool BuildPlan(const CFaceList& faces, const C3DPointList& points, unsigned total,
               unsigned properties, bool match, CPlan& plan)
{
    try
    {
        plan.m_Counts.reserve(total);
        plan.m_Parents.reserve(total);
        plan.m_Split.reserve(total);
        plan.m_Indices.reserve(size_t(total) * 3);
        plan.m_Positions.reserve(size_t(total) * 3);
        zan_detail::CPositionView view = points.GetPointView();
        zan_detail::CEarClipper clipper;
        std::vector<double> xy;
        std::vector<uint16_t> corners;
        const unsigned faceNbr = unsigned(faces.GetSize());
        for (unsigned f = 0; f < faceNbr; ++f)
        {
            int n = 0;
            const int* indices = faces.GetIndexes(f, n);
            bool split = IsSplit(faces.GetFaceFlags(f), unsigned(n), properties, match);
            if (split)
            {
                xy.resize(size_t(n) * 2);
                // A face whose positions cannot be read (NaN, an index past the points) is
                // kept as it is rather than lost.
                split = zan_detail::ProjectPolygon(view, indices, unsigned(n), xy.data());
            }
            if (!split)
            {
                plan.m_Indices.insert(plan.m_Indices.end(), indices, indices + n);
                plan.m_Counts.push_back(unsigned(n));
                plan.m_Parents.push_back(f);
                plan.m_Split.push_back(0);
                continue;
            }
            corners.clear();
            uint16_t quad[6];
            int quadNbr = n == 4 ? zan_detail::ClipConvexQuad(xy.data(), indices, quad) : -1;
            if (quadNbr >= 0)
                corners.assign(quad, quad + 3 * quadNbr);
            else
                clipper.Run(xy.data(), indices, unsigned(n), corners);
            for (size_t k = 0; k < corners.size(); k += 3)
            {
                for (size_t j = 0; j < 3; ++j)
                {
                    plan.m_Indices.push_back(indices[corners[k + j]]);
                    plan.m_Positions.push_back(corners[k + j]);
                }
                plan.m_Counts.push_back(3);
                plan.m_Parents.push_back(f);
                plan.m_Split.push_back(1);
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    return true;
}

// Empties \p to (keeping its chunk structure) and appends the planned faces with the chunk
// values of their sources in \p from.
bool FillGeometry(CFaceList& to, const CFaceList& from, const CPlan& plan)
{
    to.RemoveAll();
    const unsigned nbr = unsigned(plan.m_Counts.size());
    if (!to.Reserve(nbr, plan.m_Indices.size()))
        return false;
    if (nbr && !to.AddFaces(plan.m_Indices.data(), plan.m_Counts.data(), nbr))
        return false;
    return nbr == 0 || to.CopyFacesData(0, from, plan.m_Parents.data(), nbr);
}

// The channel faces that follow the planned faces: a copied face keeps its channel face; a
// triangle takes the channel corners at its source positions, or is excluded when the
// channel face has another corner count. Unusable channel faces stay unusable.
bool FillChannel(CFaceList& to, const CFaceList* from, const CFaceList& geometry,
                 const CPlan& plan)
{
    const unsigned nbr = unsigned(plan.m_Counts.size());
    to.RemoveAll();
    if (!from)
    {
        // A channel without a source: faces that say they carry nothing.
        if (!to.SetSize(int(nbr), 3))
            return false;
        to.SetFacesFlags(kUnusable, true);
        return true;
    }
    std::vector<int> indices;
    std::vector<unsigned> counts(nbr), parents(nbr);
    std::vector<unsigned> excluded;
    try
    {
        indices.reserve(plan.m_Indices.size());
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
                    indices.push_back(0), excluded.push_back(k);
                counts[k] = unsigned(std::max(n, 1));
                continue;
            }
            const uint16_t* pos = &plan.m_Positions[position];
            position += 3;
            counts[k] = 3;
            if (n == geometry.GetFaceSize(f))
                for (int j = 0; j < 3; ++j)
                    indices.push_back(corners[pos[j]]);
            else
            {
                for (int j = 0; j < 3; ++j)
                    indices.push_back(n > 0 ? corners[std::min(int(pos[j]), n - 1)] : 0);
                excluded.push_back(k);
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    if (!to.Reserve(nbr, indices.size()) ||
        (nbr && !to.AddFaces(indices.data(), counts.data(), nbr)))
        return false;
    if (nbr && from->GetSize() > 0 && !to.CopyFacesData(0, *from, parents.data(), nbr))
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
    const auto* points = geom ? dynamic_cast<const C3DPointList*>(geom->GetSrcPointList()) : nullptr;
    if (!dst || !points || dst == this)
        return -1;
    CPlan plan;
    if (!BuildPlan(*this, *points, total, properties, match, plan))
        return -1;
    dst->SetPointBound(GetPointBound());
    if (!FillGeometry(*dst, *this, plan))
        return -1;
    const CDependentChannels* src = geom->GetSrcChannels();
    if (CDependentChannels* channels = geom->GetDstChannels())
        for (CChannel* channel : *channels)
        {
            if (!channel->GetFaceList())
                continue;
            CChannel* from = src ? src->GetChannelByID(channel->GetChannelID(), channel->GetType())
                                 : nullptr;
            if (!FillChannel(*channel->GetFaceList(), from ? from->GetFaceList() : nullptr, *this,
                             plan))
                return -1;
            channel->MarkModified();
        }
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
