// The point grid (cells, growth, neighbour candidates), the symmetry and material maps, and
// the face grid's closest-face query against brute force.
#include "processing/spatial_test_helpers.h"

#include <3dzan/geometry/geominfo.h>
#include <3dzan/processing/spatialmaps.h>

#include <cmath>
#include <random>
#include <set>

using namespace spatialtest;

namespace
{
std::unique_ptr<C3DPointList, void (*)(C3DPointList*)> Hold(C3DPointList* points)
{
    return {points, [](C3DPointList* p) { p->Delete(); }};
}

bool IsPrime(unsigned n)
{
    if (n < 2)
        return false;
    for (unsigned d = 2; d * d <= n; ++d)
        if (n % d == 0)
            return false;
    return true;
}
} // namespace

TEST(PointGrid, StepsAndCellsTruncateTowardsZero)
{
    C3DPointGridMap grid(C3DTPoint<float>(1, 2, 3), 2.0, 0.0, 8.0);
    EXPECT_EQ(grid.GetStep(0), 1.0);
    EXPECT_EQ(grid.GetStep(1), 1.0); // size 0 takes the x step
    EXPECT_EQ(grid.GetStep(2), 4.0);
    C3DPointGridMap flat(C3DTPoint<float>(), 0.0);
    EXPECT_EQ(flat.GetStep(0), 1.0);
    EXPECT_GE(flat.GetBucketNbr(), 101u);

    int cell[3];
    grid.GetCell(1.9, 1.1, 3.0, cell); // +0.9 and -0.9 both fall in cell 0
    EXPECT_EQ(cell[0], 0);
    EXPECT_EQ(cell[1], 0);
    EXPECT_EQ(cell[2], 0);
    grid.GetCell(-0.5, 5.5, -9.0, cell);
    EXPECT_EQ(cell[0], -1);
    EXPECT_EQ(cell[1], 3);
    EXPECT_EQ(cell[2], -3);
    grid.GetCell(NAN, 1e300, -1e300, cell); // clamped, never overflowing a neighbour
    EXPECT_LT(cell[0], -2000000000);
    EXPECT_GT(cell[1], 2000000000);
    EXPECT_LT(cell[2], -2000000000);
}

TEST(PointGrid, GrowsOnPrimesAndListsEachCellInIndexOrder)
{
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> coord(-60, 60);
    std::vector<Point> pts;
    for (int i = 0; i < 20000; ++i)
        pts.push_back({float(coord(rng)), float(coord(rng)), float(coord(rng))});
    auto points = Hold(MakePoints(pts));
    C3DPointGridMap grid(C3DTPoint<float>(0.5f, 0.5f, 0.5f), 6.0, 6.0, 6.0, 1);
    ASSERT_TRUE(grid.AddPoints(std::as_const(*points).GetPointView()));
    EXPECT_TRUE(IsPrime(grid.GetBucketNbr()));
    EXPECT_LT(2 * grid.GetCellNbr(), grid.GetBucketNbr());
    std::set<int> seen;
    for (unsigned c = 0; c < grid.GetCellNbr(); ++c)
    {
        int key[3], count;
        ASSERT_TRUE(grid.GetCellKey(c, key));
        const int* in = grid.GetCellPointsByRank(c, count);
        EXPECT_EQ(grid.GetCellPoints(key[0], key[1], key[2], count), in);
        for (int k = 0; k < count; ++k)
        {
            if (k > 0)
            {
                EXPECT_LT(in[k - 1], in[k]);
            }
            int own[3];
            grid.GetCell((*points)[in[k]], own);
            EXPECT_TRUE(own[0] == key[0] && own[1] == key[1] && own[2] == key[2]);
            seen.insert(in[k]);
        }
    }
    EXPECT_EQ(seen.size(), pts.size());
    int count = 5;
    EXPECT_EQ(grid.GetCellPoints(100000, 0, 0, count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST(PointGrid, ProximityCandidatesAreTheTwentySevenCellsInOrder)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> unit(-1, 1);
    std::vector<Point> pts;
    for (int i = 0; i < 1500; ++i)
        pts.push_back({unit(rng), unit(rng), unit(rng)});
    auto points = Hold(MakePoints(pts));
    std::unique_ptr<WeldProximityMap, void (*)(WeldProximityMap*)> map(
        points->InitWeldMap(0.1, true), &C3DPointList::DeleteWeldMap);
    ASSERT_TRUE(map);
    const C3DPointGridMap& grid = *map->m_Grid;
    for (int i = 0; i < 1500; i += 7)
    {
        int count;
        const int* candidates = points->Get3DProximityPoints(i, map.get(), count);
        int ci[3];
        grid.GetCell((*points)[i], ci);
        std::set<int> expected;
        for (int j = 0; j < 1500; ++j)
        {
            int cj[3];
            grid.GetCell((*points)[j], cj);
            if (j != i && std::abs(cj[0] - ci[0]) <= 1 && std::abs(cj[1] - ci[1]) <= 1 &&
                std::abs(cj[2] - ci[2]) <= 1)
                expected.insert(j);
        }
        ASSERT_EQ(size_t(count), expected.size());
        int previousK = -1;
        for (int m = 0; m < count; ++m)
        {
            EXPECT_TRUE(expected.count(candidates[m]));
            int cj[3];
            grid.GetCell((*points)[candidates[m]], cj);
            int k = (cj[0] - ci[0] + 1) * 9 + (cj[1] - ci[1] + 1) * 3 + (cj[2] - ci[2] + 1);
            EXPECT_GE(k, previousK); // cells come in the order k = 0..26
            previousK = k;
        }
    }
    int count = 3;
    EXPECT_EQ(points->Get3DProximityPoints(-1, map.get(), count), nullptr);
    EXPECT_EQ(points->Get3DProximityPoints(1500, map.get(), count), nullptr);
    EXPECT_EQ(points->Get3DProximityPoints(0, nullptr, count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST(SpatialMaps, SymmetryPairsMirrorPointsAndMaterialsCountPerPoint)
{
    // Points mirrored across x = 2 (box from 0 to 4), one without a mirror.
    auto points = Hold(MakePoints({{0, 0, 0}, {4, 0, 0}, {1, 1, 0}, {3.001f, 1, 0}, {2, 5, 1},
                                   {0.5f, 3, 0}}));
    std::unique_ptr<C3DPointSymetryMap, void (*)(C3DPointSymetryMap*)> map(
        points->InitSymetryMap(_AxisX, 0.1), [](C3DPointSymetryMap* m) { m->Delete(); });
    ASSERT_TRUE(map);
    EXPECT_EQ(map->GetSymetricPoint(0), 1);
    EXPECT_EQ(map->GetSymetricPoint(1), 0);
    EXPECT_EQ(map->GetSymetricPoint(3), 2);
    EXPECT_EQ(map->GetSymetricPoint(4), 4); // on the plane: its own mirror
    EXPECT_EQ(map->GetSymetricPoint(5), -1);
    C3DEdge mirrored;
    EXPECT_EQ(map->GetSymetricEdge(nullptr, C3DEdge(0, 2), mirrored, false), _SymetricEdgeFound);
    EXPECT_EQ(mirrored, C3DEdge(1, 3));
    EXPECT_EQ(map->GetSymetricEdge(nullptr, C3DEdge(0, 5), mirrored, false), _SymetricEdgeNone);
    std::unique_ptr<C3DPointSymetryMap, void (*)(C3DPointSymetryMap*)> strict(
        points->InitSymetryMap(_AxisX, 0.0001), [](C3DPointSymetryMap* m) { m->Delete(); });
    EXPECT_EQ(strict->GetSymetricPoint(3), -1); // 0.001 away is beyond 0.2 x 0.0001
    auto flat = Hold(MakePoints({{1, 0, 0}, {1, 2, 0}}));
    std::unique_ptr<C3DPointSymetryMap, void (*)(C3DPointSymetryMap*)> empty(
        flat->InitSymetryMap(_AxisX, 1.0), [](C3DPointSymetryMap* m) { m->Delete(); });
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->GetCount(), 0u);
    EXPECT_EQ(flat->InitSymetryMap(_AXIS_INFO(3), 1.0), nullptr);

    ObjectPtr mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}},
                              {0, 1, 2, 0, 2, 3, 1, 4, 2});
    mesh->GetFaceList()->SetFaceMaterial(0, 5);
    mesh->GetFaceList()->SetFaceMaterial(1, 5);
    mesh->GetFaceList()->SetFaceMaterial(2, 9);
    C3DPointList& pl = *mesh->GetPointList();
    EXPECT_FALSE(pl.InitShareSeveralMaterialsFlag()); // no graph yet
    ASSERT_TRUE(pl.InitPointMaterialGraph(*mesh->GetFaceList()));
    ASSERT_TRUE(pl.InitShareSeveralMaterialsFlag());
    const int expected[5] = {1, 2, 2, 1, 1};
    for (int i = 0; i < 5; ++i)
    {
        EXPECT_EQ(pl.GetNumberOfMaterialsConnectedToPoint(i), expected[i]) << i;
        EXPECT_EQ(pl[i].IsOneFlagSet(0x40000), expected[i] > 1) << i;
    }
    int count;
    const unsigned* materials = pl.GetMaterialsConnectedToPoint(2, count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(materials[0], 5u);
    EXPECT_EQ(materials[1], 9u);
    EXPECT_EQ(pl.GetMaterialsConnectedToPoint(7, count), nullptr);
}

namespace
{
struct Soup
{
    std::vector<Point> pts;
    std::vector<int> tris;
};

Soup RandomTriangles(std::mt19937& rng, int count)
{
    std::uniform_real_distribution<float> unit(-1, 1), small(-0.2f, 0.2f);
    Soup s;
    for (int t = 0; t < count; ++t)
    {
        Point c = {unit(rng), unit(rng), unit(rng)};
        float scale = (t % 10 == 0) ? 5.0f : 1.0f; // a few large triangles over many cells
        for (int k = 0; k < 3; ++k)
        {
            s.tris.push_back(int(s.pts.size()));
            s.pts.push_back({c[0] + scale * small(rng), c[1] + scale * small(rng),
                             c[2] + scale * small(rng)});
        }
    }
    // A degenerate triangle (all corners on a line).
    s.tris.insert(s.tris.end(), {0, int(s.pts.size()), int(s.pts.size()) + 1});
    s.pts.push_back({2 * s.pts[0][0], 2 * s.pts[0][1], 2 * s.pts[0][2]});
    s.pts.push_back({3 * s.pts[0][0], 3 * s.pts[0][1], 3 * s.pts[0][2]});
    return s;
}
} // namespace

TEST(FaceGrid, ClosestFaceMatchesBruteForce)
{
    std::mt19937 rng(99);
    Soup soup = RandomTriangles(rng, 400);
    ObjectPtr mesh = MakeMesh(soup.pts, soup.tris);
    CGeomInfo geom(mesh.get());
    C3DFaceList& faces = *mesh->GetFaceList();
    C3DFaceGridMap* grid = faces.GetFaceGridMap(&geom);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(faces.GetFaceGridMap(&geom), grid); // kept

    std::uniform_real_distribution<double> wide(-3, 3);
    for (int q = 0; q < 500; ++q)
    {
        C3DTPoint<double> p(wide(rng), wide(rng), wide(rng));
        if (q % 5 == 0) // on a triangle corner
        {
            const Point& c = soup.pts[size_t(rng() % soup.pts.size())];
            p.Set(c[0], c[1], c[2]);
        }
        double best = INFINITY;
        int bestFace = -1;
        for (size_t f = 0; f < soup.tris.size() / 3; ++f)
        {
            double c[3][3];
            for (int k = 0; k < 3; ++k)
                for (int a = 0; a < 3; ++a)
                    c[k][a] = soup.pts[size_t(soup.tris[f * 3 + size_t(k)])][size_t(a)];
            const double pp[3] = {p.m_X, p.m_Y, p.m_Z};
            double d = C3DFaceGridMap::GetDistanceToTriangle(pp, c[0], c[1], c[2]);
            if (d < best)
                best = d, bestFace = int(f);
        }
        double distance;
        int face = faces.GetClosestFace(&geom, nullptr, p, distance, INFINITY);
        ASSERT_GE(face, 0);
        EXPECT_NEAR(distance, best, 1e-12) << q;
        if (std::fabs(distance - best) > 1e-12)
        {
            EXPECT_EQ(face, bestFace);
        }
        // A hint only speeds the search up.
        const double pp[3] = {p.m_X, p.m_Y, p.m_Z};
        double hinted;
        grid->GetClosestFace(pp, hinted, INFINITY, nullptr, nullptr, int(rng() % 400));
        EXPECT_EQ(hinted, distance);
        // A maximum below the distance finds nothing.
        double none;
        if (best > 1e-6)
        {
            EXPECT_EQ(faces.GetClosestFace(&geom, grid, p, none, best * 0.5), -1);
        }
    }
}

TEST(FaceGrid, DistanceToTriangleGoldenValuesAndRefusals)
{
    const double a[3] = {0, 0, 0}, b[3] = {2, 0, 0}, c[3] = {0, 2, 0};
    const double above[3] = {0.5, 0.5, 3}, beyondEdge[3] = {2, 2, 0}, pastCorner[3] = {-3, -4, 0};
    EXPECT_DOUBLE_EQ(C3DFaceGridMap::GetDistanceToTriangle(above, a, b, c), 3.0);
    EXPECT_DOUBLE_EQ(C3DFaceGridMap::GetDistanceToTriangle(beyondEdge, a, b, c), std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(C3DFaceGridMap::GetDistanceToTriangle(pastCorner, a, b, c), 5.0);
    const double line[3] = {4, 0, 0}, off[3] = {1, 1, 0};
    EXPECT_DOUBLE_EQ(C3DFaceGridMap::GetDistanceToTriangle(off, a, b, line), 1.0);

    // Quads have no face grid; neither do lists with an index outside the points.
    ObjectPtr quad = MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {});
    auto* faces = C3DFaceList::Create();
    const int corners[4] = {0, 1, 2, 3};
    faces->AddFace(corners, 4);
    quad->SetFaceList(faces, true);
    CGeomInfo geom(quad.get());
    EXPECT_EQ(quad->GetFaceList()->GetFaceGridMap(&geom), nullptr);
    double d;
    EXPECT_EQ(quad->GetFaceList()->GetClosestFace(&geom, nullptr, C3DTPoint<double>(0, 0, 0), d,
                                                  INFINITY),
              -1);
    EXPECT_TRUE(std::isinf(d));
    ObjectPtr tri = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    CGeomInfo triGeom(tri.get());
    EXPECT_EQ(tri->GetFaceList()->GetFaceGridMap(nullptr), nullptr);
    C3DFaceGridMap* grid = tri->GetFaceList()->GetFaceGridMap(&triGeom);
    ASSERT_NE(grid, nullptr);
    const double nanPoint[3] = {NAN, 0, 0};
    EXPECT_EQ(grid->GetClosestFace(nanPoint, d, INFINITY), -1);
    // Dropped when the faces change.
    const int more[3] = {2, 1, 0};
    tri->GetFaceList()->AddFace(more, 3);
    C3DFaceGridMap* rebuilt = tri->GetFaceList()->GetFaceGridMap(&triGeom);
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_EQ(rebuilt->GetFaceNbr(), 2u);
    tri->GetFaceList()->DeleteFaceGridMap();
}
