// Geometry of one polygon read straight from the point array: the fast path that face
// normals, point normals, triangulation and merging share. No virtual call per point, and
// every index is checked against the array so that a face naming a point that is gone
// counts as degenerate instead of reading past the end.
#pragma once

#include <3dzan/geometry/pointlist.h>

#include <cmath>

namespace zan_detail
{
using CPositionView = CPointView<const C3DTPoint<float>>;

/// \brief Newell's normal of the polygon \p indices[0, count) over \p points, summed in single
///        precision from the closing edge (last corner to first) on. Its length is twice the
///        area of a planar polygon.
/// \return false, with (1, 0, 0), for fewer than three corners, an index outside \p points or
///         a normal whose components are all below 1e-15 in magnitude.
inline bool NewellNormal(const CPositionView& points, const int* indices, unsigned count,
                         float normal[3], bool unit)
{
    normal[0] = 1.0f;
    normal[1] = normal[2] = 0.0f;
    if (count < 3 || !indices)
        return false;
    const size_t pointNbr = points.GetCount();
    float nx = 0.0f, ny = 0.0f, nz = 0.0f;
    unsigned prev = unsigned(indices[count - 1]);
    if (prev >= pointNbr)
        return false;
    for (unsigned k = 0; k < count; ++k)
    {
        const unsigned cur = unsigned(indices[k]);
        if (cur >= pointNbr)
            return false;
        const C3DTPoint<float>& i = points[prev];
        const C3DTPoint<float>& j = points[cur];
        nx += (i.m_Y - j.m_Y) * (i.m_Z + j.m_Z);
        ny += (i.m_Z - j.m_Z) * (i.m_X + j.m_X);
        nz += (i.m_X - j.m_X) * (i.m_Y + j.m_Y);
        prev = cur;
    }
    if (std::fabs(nx) < 1e-15f && std::fabs(ny) < 1e-15f && std::fabs(nz) < 1e-15f)
        return false;
    if (unit)
    {
        const float length = std::sqrt(nx * nx + ny * ny + nz * nz);
        if (!(length > 0.0f) || !std::isfinite(length))
            return false;
        nx /= length;
        ny /= length;
        nz /= length;
    }
    normal[0] = nx;
    normal[1] = ny;
    normal[2] = nz;
    return true;
}
} // namespace zan_detail
