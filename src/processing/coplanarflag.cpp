// Points whose faces are all coplanar: the flag the simplification and merging tools read to
// tell points inside flat regions from points on creases and borders.
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>

#include "facegeometry.h"
#include "graphuse.h"

#include <cmath>
#include <vector>

namespace
{
constexpr unsigned kSharesCoplanarFaces = 0x20000;
constexpr double kSmallestAngle = 1.7453292519943294e-6; // 1e-4 degree
} // namespace

bool C3DPointList::InitShareCoplanarFacesFlag(const CGeomInfo* geom, double angle)
{
    CFaceList* faces = geom ? geom->GetSrcFaceList() : nullptr;
    if (!faces || std::isnan(angle))
        return false;
    zan_detail::CFaceGraphUse graphUse(*faces, geom);
    const CFaceStorage* graph = faces->GetPointToFaceGraph();
    if (!graphUse.IsHeld() || !graph)
        return false;
    if (angle == 0.0)
        angle = kSmallestAngle;
    const float cosLimit = float(std::cos(angle));

    const CFaceStorage& storage = faces->GetStorage();
    const zan_detail::CPositionView positions = std::as_const(*this).GetPointView();
    const unsigned faceNbr = storage.GetCount();
    std::vector<float> normals(size_t(faceNbr) * 3);
    for (unsigned f = 0; f < faceNbr; ++f)
        zan_detail::NewellNormal(positions, storage.ItemsAt(f), storage.CountAt(f), &normals[size_t(f) * 3],
                                 true);

    CPointView<C3DTPoint<float>> points = GetPointView();
    const unsigned records = graph->GetCount();
    for (size_t p = 0; p < points.GetCount(); ++p)
    {
        const unsigned count = p < records ? graph->CountAt(unsigned(p)) : 0;
        bool coplanar = count > 1;
        if (coplanar)
        {
            const int* around = graph->ItemsAt(unsigned(p));
            const float* first = &normals[size_t(around[0]) * 3];
            for (unsigned k = 1; k < count && coplanar; ++k)
            {
                const float* n = &normals[size_t(around[k]) * 3];
                coplanar = first[0] * n[0] + first[1] * n[1] + first[2] * n[2] >= cosLimit;
            }
        }
        points[p].SetFlags(kSharesCoplanarFaces, coplanar);
    }
    return true;
}
