// The face grid: a uniform grid over the triangles of a face list, each cell listing the
// triangles whose bounding box reaches into it, for nearest-face queries. A query starts at
// the cell of the point and visits rings of cells of growing Chebyshev radius; it stops as
// soon as the distance from the point to the cells not yet visited (a lower bound taken per
// axis) is no smaller than the best exact point-to-triangle distance found, so the answer is
// exact. Triangle corners are copied in double precision, so queries read no list and several
// threads may query one grid at once.
//
// The point-to-triangle distance is the closest-point construction by Voronoi regions of the
// triangle's vertices, edges and face (Ericson, Real-Time Collision Detection, 5.1.5), with
// degenerate triangles measured against their sides.
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/processing/spatialmaps.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace
{
constexpr double kInfinity = std::numeric_limits<double>::infinity();

double Dot(const double a[3], const double b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void Sub(const double a[3], const double b[3], double r[3])
{
    r[0] = a[0] - b[0];
    r[1] = a[1] - b[1];
    r[2] = a[2] - b[2];
}

double Distance2(const double a[3], const double b[3])
{
    double d[3];
    Sub(a, b, d);
    return Dot(d, d);
}

double SegmentDistance2(const double p[3], const double a[3], const double b[3])
{
    double ab[3], ap[3];
    Sub(b, a, ab);
    Sub(p, a, ap);
    double len2 = Dot(ab, ab);
    double t = len2 > 0 ? std::clamp(Dot(ap, ab) / len2, 0.0, 1.0) : 0.0;
    double q[3] = {a[0] + t * ab[0], a[1] + t * ab[1], a[2] + t * ab[2]};
    return Distance2(p, q);
}

double TriangleDistance2(const double p[3], const double a[3], const double b[3], const double c[3])
{
    double ab[3], ac[3], ap[3];
    Sub(b, a, ab);
    Sub(c, a, ac);
    double n[3] = {ab[1] * ac[2] - ab[2] * ac[1], ab[2] * ac[0] - ab[0] * ac[2],
                   ab[0] * ac[1] - ab[1] * ac[0]};
    double scale = std::max(Dot(ab, ab), Dot(ac, ac));
    if (!(Dot(n, n) > 1e-24 * scale * scale))
        return std::min({SegmentDistance2(p, a, b), SegmentDistance2(p, b, c),
                         SegmentDistance2(p, c, a)});
    Sub(p, a, ap);
    double d1 = Dot(ab, ap), d2 = Dot(ac, ap);
    if (d1 <= 0 && d2 <= 0)
        return Distance2(p, a);
    double bp[3];
    Sub(p, b, bp);
    double d3 = Dot(ab, bp), d4 = Dot(ac, bp);
    if (d3 >= 0 && d4 <= d3)
        return Distance2(p, b);
    double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0)
        return SegmentDistance2(p, a, b);
    double cp[3];
    Sub(p, c, cp);
    double d5 = Dot(ab, cp), d6 = Dot(ac, cp);
    if (d6 >= 0 && d5 <= d6)
        return Distance2(p, c);
    double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0)
        return SegmentDistance2(p, a, c);
    double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0)
        return SegmentDistance2(p, b, c);
    // Inside the face region: the distance to the plane.
    double dn = Dot(ap, n);
    return dn * dn / Dot(n, n);
}

int CountOnAxis(double value)
{
    if (!(value >= 1.0))
        return 1;
    return value > 1e6 ? 1000000 : int(value);
}
} // namespace

double C3DFaceGridMap::GetDistanceToTriangle(const double p[3], const double a[3],
                                             const double b[3], const double c[3])
{
    return std::sqrt(TriangleDistance2(p, a, b, c));
}

C3DFaceGridMap::~C3DFaceGridMap() = default;

std::unique_ptr<C3DFaceGridMap> C3DFaceGridMap::Create(const CFaceList& faces,
                                                       const C3DPointList& points)
{
    if (faces.GetSize() == 0 || !faces.IsTriangular(_FACE_PROPERTIES(0), true))
        return nullptr;
    const CPointView<const C3DTPoint<float>> view = points.GetPointView();
    const size_t pointNbr = view.GetCount();
    try
    {
        std::unique_ptr<C3DFaceGridMap> grid(new C3DFaceGridMap);
        double lo[3] = {kInfinity, kInfinity, kInfinity}, hi[3] = {-kInfinity, -kInfinity, -kInfinity};
        bool bad = false;
        faces.ForEachFace([&](unsigned f, const int* items, unsigned count) {
            if (bad || faces.IsFaceOneFlagSet(f, _FaceInvalid | _FaceExcluded) || count != 3)
                return;
            grid->m_FaceIndex.push_back(int(f));
            for (unsigned k = 0; k < 3; ++k)
            {
                if (items[k] < 0 || size_t(items[k]) >= pointNbr)
                {
                    bad = true;
                    return;
                }
                const C3DTPoint<float>& p = view[size_t(items[k])];
                const double xyz[3] = {p.m_X, p.m_Y, p.m_Z};
                for (int a = 0; a < 3; ++a)
                {
                    if (!std::isfinite(xyz[a]))
                        bad = true;
                    grid->m_Corners.push_back(xyz[a]);
                    lo[a] = std::min(lo[a], xyz[a]);
                    hi[a] = std::max(hi[a], xyz[a]);
                }
            }
        });
        const size_t n = grid->m_FaceIndex.size();
        if (bad || n == 0)
            return nullptr;
        grid->m_GridIndex.assign(size_t(faces.GetSize()), -1);
        grid->m_Boxes.resize(n * 6);
        for (size_t f = 0; f < n; ++f)
        {
            grid->m_GridIndex[size_t(grid->m_FaceIndex[f])] = int(f);
            const double* c = &grid->m_Corners[f * 9];
            for (int a = 0; a < 3; ++a)
            {
                // Rounded outwards so that the box never cuts the triangle off.
                float lowest = float(std::min({c[a], c[3 + a], c[6 + a]}));
                float highest = float(std::max({c[a], c[3 + a], c[6 + a]}));
                grid->m_Boxes[f * 6 + size_t(a)] = std::nextafter(lowest, -INFINITY);
                grid->m_Boxes[f * 6 + 3 + size_t(a)] = std::nextafter(highest, INFINITY);
            }
        }

        double extent[3];
        const double diagonal = std::sqrt(Distance2(lo, hi));
        const double margin = 0.02 * diagonal + diagonal / double(n);
        for (int a = 0; a < 3; ++a)
        {
            grid->m_Min[a] = lo[a] - margin;
            extent[a] = hi[a] - lo[a] + 2 * margin;
        }
        // About one face per cell.
        int count[3] = {1, 1, 1};
        int wide[3], wideNbr = 0;
        for (int a = 0; a < 3; ++a)
            if (extent[a] > 0.005)
                wide[wideNbr++] = a;
        if (wideNbr == 3)
        {
            double k = std::cbrt(double(n) / (extent[0] * extent[1] * extent[2]));
            for (int a = 0; a < 3; ++a)
                count[a] = CountOnAxis(extent[a] * k);
        }
        else if (wideNbr == 2)
        {
            int a = wide[0], b = wide[1];
            count[a] = CountOnAxis(std::sqrt(double(n) * extent[a] / extent[b]));
            count[b] = CountOnAxis(std::sqrt(double(n) * extent[b] / extent[a]));
        }
        else if (wideNbr == 1)
            count[wide[0]] = CountOnAxis(double(n));

        // A triangle is listed in every cell its box reaches. Large triangles over a fine
        // grid could list far more entries than faces: coarsen until the total stays within
        // a budget linear in the face count.
        const uint64_t budget = std::min<uint64_t>(48 * uint64_t(n) + (1u << 20), 0xFFFFFFF0u);
        std::vector<int> cellBox(n * 6);
        for (;;)
        {
            for (int a = 0; a < 3; ++a)
                grid->m_Step[a] = extent[a] > 0 ? extent[a] / count[a] : 1.0;
            std::copy(count, count + 3, grid->m_Count);
            uint64_t total = 0;
            for (size_t f = 0; f < n; ++f)
            {
                const double* c = &grid->m_Corners[f * 9];
                uint64_t cells = 1;
                for (int a = 0; a < 3; ++a)
                {
                    double fmin = std::min({c[a], c[3 + a], c[6 + a]});
                    double fmax = std::max({c[a], c[3 + a], c[6 + a]});
                    int first = std::clamp(int((fmin - grid->m_Min[a]) / grid->m_Step[a]), 0, count[a] - 1);
                    int last = std::clamp(int((fmax - grid->m_Min[a]) / grid->m_Step[a]), 0, count[a] - 1);
                    cellBox[f * 6 + size_t(a)] = first;
                    cellBox[f * 6 + 3 + size_t(a)] = last;
                    cells *= uint64_t(last - first + 1);
                }
                total += cells;
            }
            if (total <= budget || (count[0] == 1 && count[1] == 1 && count[2] == 1))
            {
                const size_t cellNbr = size_t(count[0]) * size_t(count[1]) * size_t(count[2]);
                grid->m_CellStart.assign(cellNbr + 1, 0);
                auto forCells = [&](size_t f, auto&& visit) {
                    const int* box = &cellBox[f * 6];
                    for (int x = box[0]; x <= box[3]; ++x)
                        for (int y = box[1]; y <= box[4]; ++y)
                            for (int z = box[2]; z <= box[5]; ++z)
                                visit((size_t(x) * size_t(count[1]) + size_t(y)) * size_t(count[2]) +
                                      size_t(z));
                };
                for (size_t f = 0; f < n; ++f)
                    forCells(f, [&](size_t cell) { ++grid->m_CellStart[cell + 1]; });
                for (size_t c = 0; c < cellNbr; ++c)
                    grid->m_CellStart[c + 1] += grid->m_CellStart[c];
                grid->m_CellFaces.resize(size_t(total));
                std::vector<unsigned> fill(grid->m_CellStart.begin(), grid->m_CellStart.end() - 1);
                for (size_t f = 0; f < n; ++f)
                    forCells(f, [&](size_t cell) { grid->m_CellFaces[fill[cell]++] = unsigned(f); });
                return grid;
            }
            for (int a = 0; a < 3; ++a)
                count[a] = std::max(1, count[a] / 2);
        }
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

void C3DFaceGridMap::CellOf(const double p[3], int cell[3]) const
{
    for (int a = 0; a < 3; ++a)
    {
        double v = (p[a] - m_Min[a]) / m_Step[a];
        cell[a] = v <= 0 ? 0 : v >= double(m_Count[a] - 1) ? m_Count[a] - 1 : int(v);
    }
}

double C3DFaceGridMap::CellDistance2(const double p[3], int x, int y, int z) const
{
    const int cell[3] = {x, y, z};
    double d2 = 0;
    for (int a = 0; a < 3; ++a)
    {
        double low = m_Min[a] + cell[a] * m_Step[a];
        double gap = p[a] < low ? low - p[a] : std::max(0.0, p[a] - (low + m_Step[a]));
        d2 += gap * gap;
    }
    return d2;
}

// A lower bound of the distance from p to every cell outside the box of radius `ring` around
// `center`; infinite when that box covers the grid.
double C3DFaceGridMap::DistanceToCellRing(const double p[3], const int center[3], int ring) const
{
    double bound = kInfinity;
    for (int a = 0; a < 3; ++a)
    {
        if (center[a] - ring - 1 >= 0)
            bound = std::min(bound, std::max(0.0, p[a] - (m_Min[a] + (center[a] - ring) * m_Step[a])));
        if (center[a] + ring + 1 < m_Count[a])
            bound = std::min(bound,
                             std::max(0.0, m_Min[a] + (center[a] + ring + 1) * m_Step[a] - p[a]));
    }
    return bound;
}

namespace
{
/// Per-thread marks of the faces already measured in the current query: a face listed in
/// several cells is measured once. The marks belong to one grid at a time.
struct CQueryMarks
{
    const void* m_Grid = nullptr;
    size_t m_Size = 0;
    unsigned m_Query = 0;
    std::vector<unsigned> m_Marks;

    void Begin(const void* grid, size_t faces)
    {
        if (m_Grid != grid || m_Size != faces || ++m_Query == 0)
        {
            m_Marks.assign(faces, 0);
            m_Grid = grid;
            m_Size = faces;
            m_Query = 1;
        }
    }
    bool Mark(size_t face)
    {
        if (m_Marks[face] == m_Query)
            return false;
        m_Marks[face] = m_Query;
        return true;
    }
};
thread_local CQueryMarks t_Marks;
} // namespace

int C3DFaceGridMap::GetClosestFace(const double point[3], double& distance, double maxDistance,
                                   unsigned* inspected, unsigned* tested, int hint) const
{
    distance = kInfinity;
    if (inspected)
        *inspected = 0;
    if (tested)
        *tested = 0;
    if (!std::isfinite(point[0]) || !std::isfinite(point[1]) || !std::isfinite(point[2]) ||
        std::isnan(maxDistance) || m_FaceIndex.empty())
        return -1;
    CQueryMarks& marks = t_Marks;
    marks.Begin(this, m_FaceIndex.size());
    int center[3];
    CellOf(point, center);
    double best2 = kInfinity;
    size_t bestFace = SIZE_MAX;
    unsigned cells = 0, faces = 0;
    auto consider = [&](size_t f) {
        if (!marks.Mark(f))
            return;
        // The box first: most faces of a cell are farther than the best already found.
        const float* box = &m_Boxes[f * 6];
        double box2 = 0;
        for (int a = 0; a < 3; ++a)
        {
            double below = double(box[a]) - point[a], above = point[a] - double(box[3 + a]);
            double gap = below > 0 ? below : above > 0 ? above : 0.0;
            box2 += gap * gap;
        }
        if (box2 > best2)
            return;
        const double* c = &m_Corners[f * 9];
        ++faces;
        double d2 = TriangleDistance2(point, c, c + 3, c + 6);
        if (d2 < best2 || (d2 == best2 && f < bestFace))
        {
            best2 = d2;
            bestFace = f;
        }
    };
    if (hint >= 0 && size_t(hint) < m_GridIndex.size() && m_GridIndex[size_t(hint)] >= 0)
        consider(size_t(m_GridIndex[size_t(hint)]));
    const int maxRing = std::max({m_Count[0], m_Count[1], m_Count[2]});
    for (int ring = 0; ring <= maxRing; ++ring)
    {
        int lo[3], hi[3];
        for (int a = 0; a < 3; ++a)
        {
            lo[a] = std::max(0, center[a] - ring);
            hi[a] = std::min(m_Count[a] - 1, center[a] + ring);
        }
        for (int x = lo[0]; x <= hi[0]; ++x)
            for (int y = lo[1]; y <= hi[1]; ++y)
            {
                const bool edgeXY = std::abs(x - center[0]) == ring || std::abs(y - center[1]) == ring;
                // Inside the ring only its two z ends belong to it.
                const int zStep = edgeXY ? 1 : std::max(1, 2 * ring);
                for (int z = edgeXY ? lo[2] : center[2] - ring; z <= hi[2]; z += zStep)
                {
                    if (z < lo[2])
                        continue;
                    // A cell wholly farther than the best face holds nothing better.
                    if (ring > 0 && CellDistance2(point, x, y, z) > best2)
                        continue;
                    ++cells;
                    size_t cell = (size_t(x) * size_t(m_Count[1]) + size_t(y)) * size_t(m_Count[2]) +
                                  size_t(z);
                    for (unsigned k = m_CellStart[cell]; k < m_CellStart[cell + 1]; ++k)
                        consider(m_CellFaces[k]);
                }
            }
        const double bound = DistanceToCellRing(point, center, ring);
        if (bound > maxDistance || bound * bound >= best2 || std::isinf(bound))
            break;
    }
    if (inspected)
        *inspected = cells;
    if (tested)
        *tested = faces;
    if (bestFace == SIZE_MAX || !(std::sqrt(best2) <= maxDistance))
        return -1;
    distance = std::sqrt(best2);
    return m_FaceIndex[bestFace];
}

// ---------------------------------------------------------------- C3DFaceList

C3DFaceGridMap* C3DFaceList::GetFaceGridMap(CGeomInfo* geom)
{
    C3DPointList* points = geom ? geom->GetSrc3DPointList() : nullptr;
    if (!points)
        return nullptr;
    C3DFaceGridMap* grid = m_FaceGrid.m_Grid;
    if (grid && (grid->m_FaceStamp != GetChangedStamp() || grid->m_PointList != points ||
                 grid->m_PointStamp != points->GetChangedStamp()))
        m_FaceGrid.Reset();
    if (!m_FaceGrid.m_Grid)
    {
        std::unique_ptr<C3DFaceGridMap> made = C3DFaceGridMap::Create(*this, *points);
        if (!made)
            return nullptr;
        made->m_FaceStamp = GetChangedStamp();
        made->m_PointStamp = points->GetChangedStamp();
        made->m_PointList = points;
        m_FaceGrid.m_Grid = made.release();
        m_FaceGrid.m_Release = [](C3DFaceGridMap* g) { delete g; };
    }
    return m_FaceGrid.m_Grid;
}

void C3DFaceList::DeleteFaceGridMap()
{
    m_FaceGrid.Reset();
}

int C3DFaceList::GetClosestFace(CGeomInfo* geom, C3DFaceGridMap* grid,
                                const C3DTPoint<double>& point, double& distance,
                                double maxDistance)
{
    distance = kInfinity;
    if (!grid)
        grid = GetFaceGridMap(geom);
    if (!grid)
        return -1;
    const double p[3] = {point.m_X, point.m_Y, point.m_Z};
    return grid->GetClosestFace(p, distance, maxDistance);
}
