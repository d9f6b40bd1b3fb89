// Texture coordinates generated from a material map's projection. Each point p of a face of
// the material is first taken into the map's frame, q = R (p + t) with R the 3 x 3 part of the
// map's transform and t its translation column, then projected:
// - planar: (u, v) read off two axes of q, centred on 0.5;
// - cylindrical: u from the angle around the map's axis, v from the height along it;
// - spherical: u from the longitude, v from the latitude;
// - box: each face is projected flat along the axis its normal (turned by the map's axis-swap
//   matrix) points along most, so that every side of a box gets an undistorted image.
// Corners of one geometry point share one texture point (for the box, one per axis the point
// is projected along), so that the channel stays welded where the projection is continuous.
// The constants 6.2831832 and 1.5707958 are the single-precision 2 pi and pi / 2 the maps
// have always been generated with; keeping them keeps the coordinates of existing scenes.
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/materials/materials.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>

#include "channelshape.h"

#include <cmath>
#include <unordered_map>
#include <utility>
#include <vector>

namespace
{
constexpr unsigned kUnusable = _FaceInvalid | _FaceExcluded;
constexpr double kTwoPi = 6.2831832;
constexpr double kHalfPi = 1.5707958;
constexpr double kPi = 3.141592653589793;

double Wrap(double t)
{
    return t >= 0.0 && t <= 1.0 ? t : t - std::floor(t);
}

// The pair (y, x) across the axis and the height h along it.
void AcrossAndAlong(MapAxis axis, const double q[3], double& y, double& x, double& h)
{
    if (axis == _MapAxisY)
        y = -q[0], x = q[2], h = q[1];
    else if (axis == _MapAxisZ)
        y = -q[0], x = -q[1], h = q[2];
    else
        y = q[2], x = -q[1], h = q[0];
}

void Planar(int axis, const double q[3], double& u, double& v)
{
    if (axis == _MapAxisY)
        u = q[0] + 0.5, v = 0.5 - q[2];
    else if (axis == _MapAxisZ)
        u = q[0] + 0.5, v = 0.5 - q[1];
    else
        u = q[2] + 0.5, v = 0.5 - q[1];
}

void Cylindrical(MapAxis axis, const double q[3], double tileU, double& u, double& v)
{
    double y, x, h;
    AcrossAndAlong(axis, q, y, x, h);
    double angle;
    if (x == 0.0 && y == 0.0)
        angle = 0.0;
    else if (x == 0.0)
        angle = y < 0.0 ? kHalfPi : kTwoPi - kHalfPi;
    else
    {
        angle = -std::atan2(y, x);
        if (angle < 0.0)
            angle += kTwoPi;
    }
    u = 1.0 - angle / kTwoPi;
    v = 0.5 - h;
    if (tileU != 1.0)
        u = Wrap(tileU * u);
}

void Spherical(MapAxis axis, const double q[3], double tileU, double tileV, double& u, double& v)
{
    double y, x, h;
    AcrossAndAlong(axis, q, y, x, h);
    double longitude = 0.0, latitude;
    if (x == 0.0 && y == 0.0)
        latitude = h == 0.0 ? 0.0 : (h < 0.0 ? -kHalfPi : kHalfPi);
    else
    {
        longitude = -std::atan2(y, x);
        if (longitude < 0.0)
            longitude += kTwoPi;
        latitude = std::atan(h / std::sqrt(x * x + y * y));
    }
    u = 1.0 - longitude / kTwoPi;
    v = 0.5 - latitude / kPi;
    if (tileU != 1.0)
        u = Wrap(tileU * u);
    if (tileV != 1.0)
        v = Wrap(tileV * v);
}

// The axis (0 x, 1 y, 2 z) a normal (a, b, c) points along most.
int DominantAxis(double a, double b, double c)
{
    a = std::fabs(a), b = std::fabs(b), c = std::fabs(c);
    if (b > a)
        return b > c ? _MapAxisY : _MapAxisZ;
    return a > c ? _MapAxisX : _MapAxisZ;
}

bool IsFinite(const C4x4TMatrix<float>& m)
{
    for (int i = 0; i < 16; ++i)
        if (!std::isfinite(m.ValPtr()[i]))
            return false;
    return true;
}

// One corner to write: the texture point it shares (by key) and its value.
struct CProjectedCorner
{
    uint64_t m_Key;
    float m_U;
    float m_V;
};

// Removes the texture points no usable face uses; corners of other faces that named a
// removed point get 0.
void RemoveUnusedPoints(CUVWChannel& channel)
{
    CFaceList& faces = *channel.GetFaceList();
    CUVWPointList& points = *channel.GetUVWPointList();
    const int pointNbr = points.GetSize();
    std::vector<int> remap(size_t(pointNbr), -1);
    faces.ForEachFace(
        [&](unsigned f, const int* items, unsigned n)
        {
            if (faces.GetFaceFlags(f) & kUnusable)
                return;
            for (unsigned k = 0; k < n; ++k)
                if (items[k] >= 0 && items[k] < pointNbr)
                    remap[size_t(items[k])] = 0;
        });
    int kept = 0;
    for (int i = 0; i < pointNbr; ++i)
        if (remap[size_t(i)] == 0)
            remap[size_t(i)] = kept++;
    if (kept == pointNbr)
        return;
    for (int i = 0; i < pointNbr; ++i)
        if (remap[size_t(i)] >= 0)
            points.CopyPoint(remap[size_t(i)], i); // moves down only: safe in place
    std::vector<int> corners;
    for (unsigned f = 0; f < unsigned(faces.GetSize()); ++f)
    {
        int n = 0;
        const int* items = faces.GetIndexes(f, n);
        corners.assign(items, items + n);
        bool changed = false;
        for (int& c : corners)
        {
            const int to = c >= 0 && c < pointNbr ? remap[size_t(c)] : 0;
            changed |= to != c;
            c = to < 0 ? 0 : to;
        }
        if (changed)
            faces.SetFaceIndexes(f, corners.data(), unsigned(n));
    }
    points.SetSize(kept);
}
} // namespace

unsigned C3DGeomObject::CreateUVWChannel(CMaterialMap* map, unsigned materialID, bool reset)
{
    const _OBJECT_KINDOF kind = GetKindOf();
    if (!map || (kind != _ObjectKindPolygonal && kind != _ObjectKindPatch) || IsEmptyObject() ||
        !m_FaceList || !m_PointList || !m_Channels)
        return kZanNone;
    const MapProjection projection = map->GetProjection();
    if (projection < _ProjectionPlanar || projection > _ProjectionBox)
        return kZanNone;
    const MapAxis axis = map->GetAxis();
    C3DTVector<float> tile;
    map->GetTile(0, tile);
    C4x4TMatrix<float> m;
    map->GetMatrix(0, m);
    const C4x4TMatrix<float> swap = map->GetAxisSwapMatrix();
    if (!IsFinite(m) || !IsFinite(swap) || !std::isfinite(tile.m_X) || !std::isfinite(tile.m_Y))
        return kZanNone;

    const C3DFaceList& faces = *m_FaceList;
    const unsigned faceNbr = unsigned(faces.GetSize());
    const C3DVectorList* normals = nullptr;
    if (projection == _ProjectionBox)
    {
        CFaceNormalChannel* channel = GetFaceNormalChannel();
        normals = channel ? channel->GetNormalVectorList() : nullptr;
        if (!normals || unsigned(normals->GetSize()) < faceNbr)
            return kZanNone;
    }

    // Everything is computed before the channel is touched, so that a bad point leaves the
    // object as it was.
    const CPointView<const C3DTPoint<float>> points = std::as_const(*m_PointList).GetPointView();
    std::vector<unsigned> materialFaces;
    std::vector<CProjectedCorner> corners;
    for (unsigned f = 0; f < faceNbr; ++f)
    {
        if ((faces.GetFaceFlags(f) & kUnusable) || faces.GetFaceMaterial(f) != materialID)
            continue;
        int n = 0;
        const int* items = faces.GetIndexes(f, n);
        int boxAxis = int(axis);
        if (normals)
        {
            const C3DTVector<float>& nf = (*normals)[int(f)];
            double turned[3];
            for (int r = 0; r < 3; ++r)
                turned[r] = double(swap[r][0]) * nf.m_X + double(swap[r][1]) * nf.m_Y +
                            double(swap[r][2]) * nf.m_Z;
            boxAxis = DominantAxis(turned[0], turned[1], turned[2]);
        }
        for (int k = 0; k < n; ++k)
        {
            const int p = items[k];
            if (p < 0 || size_t(p) >= points.GetCount())
                return kZanNone;
            const C3DTPoint<float>& at = points[size_t(p)];
            const double moved[3] = {double(at.m_X) + m[0][3], double(at.m_Y) + m[1][3],
                                     double(at.m_Z) + m[2][3]};
            double q[3];
            for (int r = 0; r < 3; ++r)
                q[r] = m[r][0] * moved[0] + m[r][1] * moved[1] + m[r][2] * moved[2];
            if (!std::isfinite(q[0]) || !std::isfinite(q[1]) || !std::isfinite(q[2]))
                return kZanNone;
            double u = 0, v = 0;
            uint64_t key = uint64_t(p);
            switch (projection)
            {
            case _ProjectionPlanar:
                Planar(axis, q, u, v);
                break;
            case _ProjectionCylindrical:
                Cylindrical(axis, q, tile.m_X, u, v);
                break;
            case _ProjectionSpherical:
                Spherical(axis, q, tile.m_X, tile.m_Y, u, v);
                break;
            default:
                Planar(boxAxis, q, u, v);
                key = uint64_t(p) * 3 + unsigned(boxAxis);
                break;
            }
            corners.push_back({key, float(u), float(v)});
        }
        materialFaces.push_back(f);
    }
    if (materialFaces.empty())
        return kZanNone;

    unsigned id = map->GetChannelID();
    if (id == kZanNone)
        id = CChannel::CreateID();
    CUVWChannel* channel = m_Channels->GetUVWChannelByID(id);
    if (!channel)
    {
        channel = new CUVWChannel(id);
        channel->SetFlag(_ChannelNoFaceEdit, true);
        if (!zan_detail::ShapeLikeExcluded(*channel->GetFaceList(), faces))
        {
            channel->Delete();
            return kZanNone;
        }
        m_Channels->AddChannel(channel);
    }
    else if (reset || channel->GetFaceList()->GetSize() != int(faceNbr))
    {
        if (!zan_detail::ShapeLikeExcluded(*channel->GetFaceList(), faces))
            return kZanNone;
        channel->GetUVWPointList()->SetSize(0);
        channel->SetFlag(_ChannelInvalid, false);
    }
    map->SetChannelID(id);

    CUVWPointList& values = *channel->GetUVWPointList();
    CFaceList& channelFaces = *channel->GetFaceList();
    std::unordered_map<uint64_t, int> shared(101);
    const int first = values.GetSize();
    std::vector<int> indices(corners.size());
    std::vector<const CProjectedCorner*> added;
    for (size_t c = 0; c < corners.size(); ++c)
    {
        auto [at, isNew] = shared.emplace(corners[c].m_Key, first + int(added.size()));
        if (isNew)
            added.push_back(&corners[c]);
        indices[c] = at->second;
    }
    if (!values.SetSize(first + int(added.size())))
        return kZanNone;
    for (size_t i = 0; i < added.size(); ++i)
        values[first + int(i)] = CUVWPoint(added[i]->m_U, added[i]->m_V, 0.0f);
    size_t next = 0;
    for (unsigned f : materialFaces)
    {
        const unsigned n = unsigned(faces.GetFaceSize(f));
        channelFaces.SetFaceIndexes(f, indices.data() + next, n);
        channelFaces.SetFaceFlags(f, channelFaces.GetFaceFlags(f), false);
        next += n;
    }
    RemoveUnusedPoints(*channel);
    channel->MarkModified();
    return id;
}

bool C3DGeomObject::GenerateUVW(C3DScene* scene)
{
    if (!scene || IsEmptyObject() || !m_FaceList)
        return false;
    const CMaterialHashMap* used = GetMaterialsHashMap();
    if (!used || used->IsEmpty())
        return false;
    std::vector<unsigned> materials;
    for (unsigned pos = used->GetFirst(); pos != kZanNone;)
        materials.push_back(used->GetNextKey(pos));
    std::vector<unsigned> generated;
    for (unsigned materialID : materials)
    {
        const C3DMaterial* material = scene->GetMaterialTable().GetMaterial(materialID);
        CMaterialMap* map = material ? material->GetDiffuseMaps() : nullptr;
        if (!map || map->GetProjection() < _ProjectionPlanar)
            continue;
        const unsigned id = CreateUVWChannel(map, materialID, false);
        if (id != kZanNone)
            generated.push_back(id);
    }
    for (unsigned id : generated)
        if (CChannel* channel = m_Channels->GetUVWChannelByID(id))
            channel->FreeExtra();
    if (generated.empty())
        return false;
    Invalidate(_InvalidateDisplay, true);
    return true;
}
