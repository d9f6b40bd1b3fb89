// Geometry of one face of a mesh: the handle's methods read positions through the topology
// context and share the raw-array code of facegeometry.h with the bulk algorithms.
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>

#include "facegeometry.h"

namespace
{
const C3DPointList* PositionsOf(const CGeomInfo* geom)
{
    return geom ? dynamic_cast<const C3DPointList*>(geom->GetSrcPointList()) : nullptr;
}
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
