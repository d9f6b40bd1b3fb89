// Geometry of one face of a mesh: the handle's methods read positions through the topology
// context and share the raw-array code of facegeometry.h and earclip.h with the bulk
// algorithms, so that a face measured or split alone gives what the whole-list operations give.
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/processing/measures.h>

#include "earclip.h"
#include "facegeometry.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{
const C3DPointList* PositionsOf(const CGeomInfo* geom)
{
    return geom ? dynamic_cast<const C3DPointList*>(geom->GetSrcPointList()) : nullptr;
}

// The positions of the first \p need corners, false when one cannot be read.
bool CornerPoints(const CGeomInfo* geom, const CFace& face, unsigned need,
                  const C3DTPoint<float>** out)
{
    const C3DPointList* points = PositionsOf(geom);
    if (!points || face.GetSize() < int(need))
        return false;
    zan_detail::CPositionView view = points->GetPointView();
    const int* indices = face.GetIndexes();
    for (unsigned k = 0; k < need; ++k)
    {
        if (indices[k] < 0 || size_t(indices[k]) >= view.GetCount())
            return false;
        out[k] = &view[size_t(indices[k])];
    }
    return true;
}

// The channel face lists of \p geom's destination channels paired with the source channels
// of the same ID and type (null source when it has none).
struct CChannelFaces
{
    CFaceList* m_Src;
    CFaceList* m_Dst;
};
std::vector<CChannelFaces> PairChannels(const CGeomInfo* geom)
{
    std::vector<CChannelFaces> pairs;
    const CDependentChannels* dst = geom->GetDstChannels();
    const CDependentChannels* src = geom->GetSrcChannels();
    if (!dst)
        return pairs;
    for (CChannel* channel : *dst)
    {
        if (!channel->GetFaceList())
            continue;
        CChannel* from =
            src ? src->GetChannelByID(channel->GetChannelID(), channel->GetType()) : nullptr;
        pairs.push_back({from ? from->GetFaceList() : nullptr, channel->GetFaceList()});
    }
    return pairs;
}

constexpr unsigned kUnusable = _FaceInvalid | _FaceExcluded;
} // namespace

bool C3DFace::GetNormal(const CGeomInfo* geom, C3DTVector<float>& normal, bool unit) const
{
    float n[3];
    const C3DPointList* points = PositionsOf(geom);
    bool valid = points && zan_detail::NewellNormal(points->GetPointView(), GetIndexes(),
                                                    unsigned(GetSize()), n, unit);
    if (!valid)
        n[0] = 1.0f, n[1] = n[2] = 0.0f;
    normal.Set(n[0], n[1], n[2]);
    return valid;
}

double C3DFace::Area(const CGeomInfo* geom) const
{
    const C3DTPoint<float>* p[3];
    if (!CornerPoints(geom, *this, 3, p))
        return 0.0;
    double ax = double(p[1]->m_X) - p[0]->m_X, ay = double(p[1]->m_Y) - p[0]->m_Y,
           az = double(p[1]->m_Z) - p[0]->m_Z;
    double bx = double(p[2]->m_X) - p[0]->m_X, by = double(p[2]->m_Y) - p[0]->m_Y,
           bz = double(p[2]->m_Z) - p[0]->m_Z;
    double cx = ay * bz - az * by, cy = az * bx - ax * bz, cz = ax * by - ay * bx;
    return 0.5 * std::sqrt(cx * cx + cy * cy + cz * cz);
}

bool C3DFace::GetCenter(const CGeomInfo* geom, C3DTPoint<float>& center) const
{
    const C3DPointList* points = PositionsOf(geom);
    const int n = GetSize();
    if (!points || n == 0)
        return false;
    zan_detail::CPositionView view = points->GetPointView();
    const int* indices = GetIndexes();
    double sum[3] = {0, 0, 0};
    for (int k = 0; k < n; ++k)
    {
        if (indices[k] < 0 || size_t(indices[k]) >= view.GetCount())
            return false;
        const C3DTPoint<float>& p = view[size_t(indices[k])];
        sum[0] += p.m_X, sum[1] += p.m_Y, sum[2] += p.m_Z;
    }
    center.Set(float(sum[0] / n), float(sum[1] / n), float(sum[2] / n));
    return true;
}

bool C3DFace::GetPlane(const CGeomInfo* geom, C4DTVector<float>& plane) const
{
    const C3DTPoint<float>* p[3];
    if (!CornerPoints(geom, *this, 3, p))
        return false;
    double ax = double(p[1]->m_X) - p[0]->m_X, ay = double(p[1]->m_Y) - p[0]->m_Y,
           az = double(p[1]->m_Z) - p[0]->m_Z;
    double bx = double(p[2]->m_X) - p[0]->m_X, by = double(p[2]->m_Y) - p[0]->m_Y,
           bz = double(p[2]->m_Z) - p[0]->m_Z;
    double nx = ay * bz - az * by, ny = az * bx - ax * bz, nz = ax * by - ay * bx;
    double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (!(length > 0.0) || !std::isfinite(length))
        return false;
    nx /= length, ny /= length, nz /= length;
    double d = -(nx * p[0]->m_X + ny * p[0]->m_Y + nz * p[0]->m_Z);
    plane.Set(float(nx), float(ny), float(nz), float(d));
    return true;
}

bool C3DFace::IsConvex(const CGeomInfo* geom) const
{
    const C3DPointList* points = PositionsOf(geom);
    const int n = GetSize();
    if (!points || n < 3)
        return false;
    zan_detail::CPositionView view = points->GetPointView();
    const int* indices = GetIndexes();
    for (int k = 0; k < n; ++k)
        if (indices[k] < 0 || size_t(indices[k]) >= view.GetCount())
            return false;
    if (n == 3)
        return true;
    auto edge = [&](int from, double e[3])
    {
        const C3DTPoint<float>& a = view[size_t(indices[from % n])];
        const C3DTPoint<float>& b = view[size_t(indices[(from + 1) % n])];
        e[0] = double(b.m_X) - a.m_X, e[1] = double(b.m_Y) - a.m_Y, e[2] = double(b.m_Z) - a.m_Z;
    };
    auto cross = [](const double a[3], const double b[3], double c[3])
    {
        c[0] = a[1] * b[2] - a[2] * b[1];
        c[1] = a[2] * b[0] - a[0] * b[2];
        c[2] = a[0] * b[1] - a[1] * b[0];
    };
    double e0[3], e1[3], reference[3];
    edge(0, e0);
    edge(1, e1);
    cross(e0, e1, reference);
    // Every turn after the first, around the whole polygon back to the first edge.
    for (int k = 1; k < n; ++k)
    {
        double a[3], b[3], c[3];
        edge(k, a);
        edge(k + 1, b);
        cross(a, b, c);
        if (c[0] * reference[0] + c[1] * reference[1] + c[2] * reference[2] < 0.0)
            return false;
    }
    return true;
}

bool C3DFace::IsPlane(const CGeomInfo* geom) const
{
    const C3DPointList* points = PositionsOf(geom);
    const int n = GetSize();
    C3DTVector<float> normal;
    C3DTPoint<float> center;
    if (!points || n < 3 || !GetNormal(geom, normal, true) || !GetCenter(geom, center))
        return false;
    if (n == 3)
        return true;
    zan_detail::CPositionView view = points->GetPointView();
    const int* indices = GetIndexes();
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300}, worst = 0.0;
    for (int k = 0; k < n; ++k)
    {
        const C3DTPoint<float>& p = view[size_t(indices[k])];
        double c[3] = {p.m_X, p.m_Y, p.m_Z};
        for (int a = 0; a < 3; ++a)
            lo[a] = std::min(lo[a], c[a]), hi[a] = std::max(hi[a], c[a]);
        double d = (c[0] - center.m_X) * normal.m_X + (c[1] - center.m_Y) * normal.m_Y +
                   (c[2] - center.m_Z) * normal.m_Z;
        worst = std::max(worst, std::fabs(d));
    }
    double size = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    return worst <= 1e-5 * size;
}

double C3DFace::GetCompacityFactor(const CGeomInfo* geom) const
{
    const C3DTPoint<float>* p[3];
    if (!CornerPoints(geom, *this, 3, p))
        return 0.0;
    return ::GetCompacityFactor(*p[0], *p[1], *p[2]);
}

bool C3DFace::Get2DCoordinates(const CGeomInfo* geom, C2DPointList& points2D) const
{
    const C3DPointList* points = PositionsOf(geom);
    const int n = GetSize();
    if (!points || n == 0)
        return false;
    std::vector<double> xy(size_t(n) * 2);
    if (!zan_detail::ProjectPolygon(points->GetPointView(), GetIndexes(), unsigned(n), xy.data()))
        return false;
    if (!points2D.SetSize(n))
        return false;
    CPointView<C2DTPoint<float>> out = points2D.GetPointView();
    for (int k = 0; k < n; ++k)
        out[size_t(k)].Set(float(xy[2 * size_t(k)]), float(xy[2 * size_t(k) + 1]));
    return true;
}

int C3DFace::Triangulate(const CGeomInfo* geom, int dstIndex, int mode) const
{
    CFaceList* srcFaces = GetList();
    CFaceList* dst = geom ? geom->GetDstFaceList() : nullptr;
    const C3DPointList* points = PositionsOf(geom);
    const int n = GetSize();
    if (!srcFaces || !dst || !points || dst == srcFaces || n < 1 || dstIndex < 0)
        return 0;
    const unsigned face = GetFaceIndex();
    const int* indices = GetIndexes();

    // The triangles first, so that a face that yields nothing leaves the lists alone.
    std::vector<uint16_t> corners;
    if (n >= 4)
    {
        std::vector<double> xy(size_t(n) * 2);
        if (!zan_detail::ProjectPolygon(points->GetPointView(), indices, unsigned(n), xy.data()))
            return 0;
        zan_detail::CEarClipper clipper;
        if (clipper.Run(xy.data(), indices, unsigned(n), corners) == 0)
            return 0;
    }
    const int written = n >= 4 ? int(corners.size() / 3) : 1;
    std::vector<CChannelFaces> channels = PairChannels(geom);
    if (mode == -1)
    {
        const int sized = dstIndex + std::max(n - 2, 1);
        if (!dst->SetSize(sized, 3))
            return 0;
        for (const CChannelFaces& c : channels)
            c.m_Dst->SetSize(sized, 3);
    }
    if (dstIndex + written > dst->GetSize())
        return 0;

    if (n < 4)
    {
        dst->CopyFace(unsigned(dstIndex), face, *srcFaces);
        for (const CChannelFaces& c : channels)
            if (c.m_Src && unsigned(dstIndex) < unsigned(c.m_Dst->GetSize()))
                c.m_Dst->CopyFace(unsigned(dstIndex), face, *c.m_Src);
    }
    else
    {
        for (int t = 0; t < written; ++t)
        {
            const uint16_t* pos = &corners[3 * size_t(t)];
            const unsigned at = unsigned(dstIndex + t);
            const int tri[3] = {indices[pos[0]], indices[pos[1]], indices[pos[2]]};
            dst->SetFaceIndexes(at, tri, 3);
            dst->CopyFace(at, face, *srcFaces, true);
            dst->SetFaceFlags(at, _FaceInvalid, false);
            for (const CChannelFaces& c : channels)
            {
                if (!c.m_Src || at >= unsigned(c.m_Dst->GetSize()))
                    continue;
                int count = 0;
                const int* channelCorners = c.m_Src->GetIndexes(face, count);
                // The channel face's values (an unusable face stays unusable), then its
                // corners when it has one per geometry corner.
                c.m_Dst->CopyFace(at, face, *c.m_Src, true);
                if (!channelCorners || (c.m_Src->GetFaceFlags(face) & kUnusable))
                    continue;
                if (count == n)
                {
                    const int channelTri[3] = {channelCorners[pos[0]], channelCorners[pos[1]],
                                               channelCorners[pos[2]]};
                    c.m_Dst->SetFaceIndexes(at, channelTri, 3);
                }
                else
                    c.m_Dst->SetFaceFlags(at, _FaceExcluded, true);
            }
        }
    }
    if (mode == -1)
    {
        dst->SetSize(dstIndex + written, 3);
        for (const CChannelFaces& c : channels)
            c.m_Dst->SetSize(dstIndex + written, 3);
    }
    return written;
}
