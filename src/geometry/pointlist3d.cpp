// The operations of the mesh point list that read its points as positions, and the box of
// the points a mesh face list uses.
#include <3dzan/geometry/pointlist.h>

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>

#include <cmath>
#include <utility>
#include <vector>

namespace
{
bool IsFinite(float x, float y, float z)
{
    return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

bool IsSelected(unsigned flags, unsigned pointFlags, bool flagMatch)
{
    return pointFlags == 0 || ((flags & pointFlags) != 0) == flagMatch;
}
} // namespace

bool C3DPointList::GetBoundingBox(C3DTBBox<float>& box, unsigned pointFlags, bool flagMatch,
                                  const C4x4TMatrix<float>* matrix) const
{
    box.Reset();
    auto points = GetPointView();
    for (size_t i = 0; i < points.GetCount(); ++i)
    {
        const C3DTPoint<float>& p = points[i];
        if (!IsSelected(p.GetFlags(), pointFlags, flagMatch))
            continue;
        float xyz[3] = {p.m_X, p.m_Y, p.m_Z};
        if (matrix)
            matrix->TransformPoint(xyz, xyz);
        if (IsFinite(xyz[0], xyz[1], xyz[2]))
            box.Add(xyz[0], xyz[1], xyz[2]);
    }
    box.SetValid(true);
    return box.HasExtent();
}

bool C3DFaceList::GetBoundingBox(const CGeomInfo* geom, C3DTBBox<float>& box,
                                 unsigned pointFlags, bool flagMatch,
                                 const C4x4TMatrix<float>* matrix) const
{
    box.Reset();
    box.SetValid(true);
    auto* points = geom ? dynamic_cast<const C3DPointList*>(geom->GetSrcPointList()) : nullptr;
    if (!points)
        return false;
    // Each used point counts once, however many faces share it.
    auto view = points->GetPointView();
    std::vector<uint8_t> used(view.GetCount(), 0);
    ForEachFace(
        [&](unsigned face, const int* items, unsigned count)
        {
            if (GetFaceFlags(face) & (_FaceInvalid | _FaceExcluded))
                return;
            for (unsigned k = 0; k < count; ++k)
                if (unsigned(items[k]) < used.size())
                    used[unsigned(items[k])] = 1;
        });
    for (size_t i = 0; i < view.GetCount(); ++i)
    {
        const C3DTPoint<float>& p = view[i];
        if (!used[i] || !IsSelected(p.GetFlags(), pointFlags, flagMatch))
            continue;
        float xyz[3] = {p.m_X, p.m_Y, p.m_Z};
        if (matrix)
            matrix->TransformPoint(xyz, xyz);
        if (IsFinite(xyz[0], xyz[1], xyz[2]))
            box.Add(xyz[0], xyz[1], xyz[2]);
    }
    return box.HasExtent();
}

bool C3DPointList::GetBoundingBox(C3DTPoint<float>& min, C3DTPoint<float>& max,
                                  unsigned pointFlags, bool flagMatch,
                                  const C4x4TMatrix<float>* matrix) const
{
    C3DTBBox<float> box;
    bool extent = GetBoundingBox(box, pointFlags, flagMatch, matrix);
    min.Set(box.GetMin().m_X, box.GetMin().m_Y, box.GetMin().m_Z);
    max.Set(box.GetMax().m_X, box.GetMax().m_Y, box.GetMax().m_Z);
    return extent;
}

C3DTPoint<float> C3DPointList::GetCenterOfBoundingBox() const
{
    C3DTBBox<float> box;
    GetBoundingBox(box);
    return box.GetCenter();
}

bool C3DPointList::MatrixTransform(const C4x4TMatrix<float>& matrix)
{
    if (matrix.IsIdentity(0.005))
        return false;
    auto points = GetPointView();
    for (size_t i = 0; i < points.GetCount(); ++i)
    {
        C3DTPoint<float>& p = points[i];
        float xyz[3] = {p.m_X, p.m_Y, p.m_Z};
        matrix.TransformPoint(xyz, xyz);
        p.Set(xyz[0], xyz[1], xyz[2]);
    }
    SetFlag(_PointListChanged, true);
    return true;
}

bool C3DPointList::Translate(const C3DTVector<float>& offset)
{
    if (IsEmpty() || !std::isfinite(offset.m_X) || !std::isfinite(offset.m_Y) ||
        !std::isfinite(offset.m_Z) || (offset.m_X == 0 && offset.m_Y == 0 && offset.m_Z == 0))
        return false;
    auto points = GetPointView();
    for (size_t i = 0; i < points.GetCount(); ++i)
    {
        C3DTPoint<float>& p = points[i];
        p.Set(p.m_X + offset.m_X, p.m_Y + offset.m_Y, p.m_Z + offset.m_Z);
    }
    SetFlag(_PointListChanged, true);
    return true;
}

bool C3DPointList::SwapCoordinates(unsigned mode)
{
    int axisA = -1, axisB = -1, mirror = -1;
    if (!GetXYZSwap(mode, axisA, axisB, mirror))
        return false;
    auto points = GetPointView();
    for (size_t i = 0; i < points.GetCount(); ++i)
    {
        C3DTPoint<float>& p = points[i];
        if (axisA >= 0)
            std::swap(p[axisA], p[axisB]);
        if (mirror >= 0)
            p[mirror] = -p[mirror];
    }
    SetFlag(_PointListChanged, true);
    return true;
}

bool C3DPointList::GetNormal(const int* indices, C3DTVector<float>& normal) const
{
    if (!indices)
        return false;
    for (int k = 0; k < 3; ++k)
        if (indices[k] < 0 || indices[k] >= GetSize())
            return false;
    auto points = GetPointView();
    const C3DTPoint<float>& a = points[size_t(indices[0])];
    const C3DTPoint<float>& b = points[size_t(indices[1])];
    const C3DTPoint<float>& c = points[size_t(indices[2])];
    C3DTVector<float> n = (b - a).Cross(c - a);
    double length = n.Normalize();
    if (!(length > 0.0) || !std::isfinite(length))
        return false;
    normal = n;
    return true;
}
