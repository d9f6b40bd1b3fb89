// Welding: the fast remap against the plain 27-cell loop and against a brute-force reference
// that computes cells itself, then the behaviour of C3DGeomObject::Weld3DPoints on meshes.
#include "processing/spatial_test_helpers.h"

#include "common/geometry_checks.h"
#include "common/zan_test_helpers.h"

#include <3dzan/foundation/services.h>
#include <3dzan/processing/spatialmaps.h>

#include <cmath>
#include <random>

using namespace spatialtest;

namespace
{
// The grid as documented: origin at the box centre (float), step = size / 2, cells by
// truncation towards zero in double. Written from the rules, not from the library's code.
struct RefGrid
{
    double origin[3];
    double step;

    RefGrid(const std::vector<Point>& pts, double tolerance, bool absolute)
    {
        float lo[3] = {pts[0][0], pts[0][1], pts[0][2]}, hi[3] = {lo[0], lo[1], lo[2]};
        for (const Point& p : pts)
            for (int k = 0; k < 3; ++k)
                lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
        double size;
        float ext[3];
        for (int k = 0; k < 3; ++k)
        {
            ext[k] = hi[k] - lo[k];
            origin[k] = float((double(lo[k]) + double(hi[k])) * 0.5);
        }
        if (tolerance == 0)
            size = std::sqrt(double(ext[0]) * ext[0] + double(ext[1]) * ext[1] +
                             double(ext[2]) * ext[2]) * 1.5 / 2147483647.0;
        else if (!absolute)
        {
            double smallest = 0;
            for (float e : ext)
                if (e > 1e-6 && (smallest == 0 || e < smallest))
                    smallest = e;
            size = std::max(smallest * tolerance, 1e-6);
        }
        else
            size = tolerance;
        step = size / 2 == 0 ? 1.0 : size / 2;
    }
    long Cell(const Point& p, int k) const { return long(std::trunc((p[k] - origin[k]) / step)); }
};

/// O(n^2) weld over the same candidate rule: every point whose cell is within one of point
/// i's on each axis.
std::vector<int> BruteForceRemap(const std::vector<Point>& pts, double tolerance, bool absolute,
                                 const std::vector<unsigned>& flags, CWeldFilter filter)
{
    RefGrid grid(pts, tolerance, absolute);
    const bool filtered = tolerance != 0 && filter.m_Mask && filter.m_Mode;
    auto has = [&](size_t i) { return (flags[i] & filter.m_Mask) != 0; };
    auto d2 = [&](size_t a, size_t b) {
        float dx = pts[a][0] - pts[b][0], dy = pts[a][1] - pts[b][1], dz = pts[a][2] - pts[b][2];
        return dx * dx + dy * dy + dz * dz;
    };
    std::vector<int> remap(pts.size(), -1);
    for (size_t i = 0; i < pts.size(); ++i)
    {
        if (remap[i] != -1)
            continue;
        remap[i] = int(i);
        if (filtered && (((filter.m_Mode & 4) && has(i)) || ((filter.m_Mode & 8) && !has(i))))
            continue;
        for (size_t j = 0; j < pts.size(); ++j)
        {
            bool near = j != i;
            for (int k = 0; k < 3 && near; ++k)
                near = std::labs(grid.Cell(pts[j], k) - grid.Cell(pts[i], k)) <= 1;
            if (!near)
                continue;
            if (filtered && (((filter.m_Mode & 1) && has(j)) || ((filter.m_Mode & 2) && !has(j))))
                continue;
            if (remap[j] == -1)
                remap[j] = int(i);
            else if (d2(j, i) < d2(j, size_t(remap[j])))
                remap[j] = int(i);
        }
    }
    return remap;
}

/// Clusters of jittered copies around random centres, plus exact duplicates and points a
/// few grid cells apart next to the origin planes, where cells touch even at tolerance 0.
std::vector<Point> ClusteredCloud(std::mt19937& rng, int clusters, float jitter)
{
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> size(1, 5);
    std::vector<Point> pts;
    for (int c = 0; c < clusters; ++c)
    {
        Point centre = {unit(rng), unit(rng), unit(rng)};
        int n = size(rng);
        for (int k = 0; k < n; ++k)
            pts.push_back({centre[0] + jitter * unit(rng), centre[1] + jitter * unit(rng),
                           centre[2] + jitter * unit(rng)});
        if (c % 3 == 0)
            pts.push_back(centre);
        if (c % 4 == 0)
            pts.push_back(centre);
    }
    // Tiny coordinates next to zero: distinct floats only a cell or two apart.
    for (int k = 0; k < 6; ++k)
        pts.push_back({1e-9f * float(k % 3), 0.5f, -0.25f});
    std::shuffle(pts.begin(), pts.end(), rng);
    pts.push_back({-1.5f, -1.5f, -1.5f}); // fixes the box so the origin stays near 0
    pts.push_back({1.5f, 1.5f, 1.5f});
    return pts;
}

std::unique_ptr<C3DPointList, void (*)(C3DPointList*)> Hold(C3DPointList* points)
{
    return {points, [](C3DPointList* p) { p->Delete(); }};
}
} // namespace

TEST(WeldRemap, FastPathAndPlainLoopMatchBruteForceOnClusteredClouds)
{
    std::mt19937 rng(20261205);
    struct Case
    {
        double tolerance;
        bool absolute;
        float jitter;
        CWeldFilter filter;
    };
    const Case cases[] = {
        {0.0, true, 0.0f, {}},           {0.0, false, 1e-7f, {0x10, 4}},
        {0.01, true, 0.004f, {}},        {0.005, false, 0.01f, {}},
        {0.02, true, 0.01f, {0x10, 4}},  {0.02, true, 0.01f, {0x10, 1}},
        {0.02, true, 0.01f, {0x10, 10}}, {0.3, true, 0.05f, {}},
    };
    for (const Case& c : cases)
        for (int trial = 0; trial < 3; ++trial)
        {
            std::vector<Point> pts = ClusteredCloud(rng, 150, c.jitter);
            auto points = Hold(MakePoints(pts));
            std::vector<unsigned> flags(pts.size());
            for (size_t i = 0; i < pts.size(); ++i)
            {
                flags[i] = (rng() % 3 == 0) ? 0x10u : 0u;
                (*points)[int(i)].SetFlags(flags[i]);
            }
            std::vector<int> fast, plain;
            ASSERT_TRUE(ComputeWeldRemap(*points, c.tolerance, c.absolute, &c.filter, 1, fast));
            ASSERT_TRUE(ComputeWeldRemapPlain(*points, c.tolerance, c.absolute, &c.filter, 1, plain));
            std::vector<int> reference = BruteForceRemap(pts, c.tolerance, c.absolute, flags, c.filter);
            SCOPED_TRACE(testing::Message() << "tolerance " << c.tolerance << " trial " << trial);
            EXPECT_EQ(plain, reference);
            EXPECT_EQ(fast, reference);
            // Every point maps to a representative, which maps to itself.
            for (int r : fast)
                EXPECT_EQ(fast[size_t(r)], r);
        }
}

TEST(WeldRemap, ToleranceZeroMergesExactDuplicatesOnly)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(-10.0f, 10.0f);
    std::vector<Point> pts;
    for (int i = 0; i < 3000; ++i)
        pts.push_back({unit(rng), unit(rng), unit(rng)});
    for (int i = 0; i < 3000; ++i)
        pts.push_back(pts[size_t(rng() % 3000)]);
    std::shuffle(pts.begin(), pts.end(), rng);
    auto points = Hold(MakePoints(pts));
    std::vector<int> fast, plain;
    ASSERT_TRUE(ComputeWeldRemap(*points, 0.0, true, nullptr, 0, fast));
    ASSERT_TRUE(ComputeWeldRemapPlain(*points, 0.0, true, nullptr, 0, plain));
    EXPECT_EQ(fast, plain);
    for (size_t i = 0; i < pts.size(); ++i)
    {
        size_t first = 0;
        while (pts[first] != pts[i])
            ++first;
        EXPECT_EQ(fast[i], int(first)) << i;
    }
}

TEST(WeldRemap, RefusesBadInput)
{
    auto empty = Hold(C3DPointList::Create());
    auto nan = Hold(MakePoints({{0, 0, 0}, {NAN, 0, 0}}));
    auto fine = Hold(MakePoints({{0, 0, 0}, {0, 0, 0}}));
    std::vector<int> remap = {1, 2, 3};
    EXPECT_TRUE(zantest::AllRefused({
        ComputeWeldRemap(*empty, 0.1, true, nullptr, 0, remap),
        ComputeWeldRemap(*nan, 0.1, true, nullptr, 0, remap),
        ComputeWeldRemap(*fine, -1.0, true, nullptr, 0, remap),
        ComputeWeldRemap(*fine, INFINITY, true, nullptr, 0, remap),
        ComputeWeldRemap(*fine, NAN, false, nullptr, 0, remap),
    }));
    EXPECT_TRUE(remap.empty());
    EXPECT_EQ(fine->InitWeldMap(-1.0, true), nullptr);
    EXPECT_EQ(empty->InitWeldMap(0.1, true), nullptr);
}

// ------------------------------------------------------------------ Weld3DPoints

namespace
{
// Two triangles whose corners 2 and 3 lie \p gap apart along x; tolerance 1, absolute.
ObjectPtr TwoTriangles(float gap)
{
    return MakeMesh({{0, 0, 0}, {0, 4, 0}, {4, 0, 0}, {4 + gap, 0, 0}, {8, 0, 0}, {8, 4, 0}},
                    {0, 1, 2, 3, 4, 5});
}
} // namespace

TEST(Weld3DPoints, ToleranceDecidesThroughTheCellLayout)
{
    ObjectPtr close = TwoTriangles(0.4f);
    EXPECT_TRUE(close->Weld3DPoints(1.0, true));
    EXPECT_EQ(close->GetPointNbr(), 5);
    int count;
    const int* second = close->GetFaceList()->GetIndexes(1, count);
    EXPECT_EQ(second[0], 2); // the later point joined the earlier one

    ObjectPtr far = TwoTriangles(3.0f);
    EXPECT_FALSE(far->Weld3DPoints(1.0, true));
    EXPECT_EQ(far->GetPointNbr(), 6);

    // Tolerance 0: identical coordinates only, and filter pairs are ignored.
    ObjectPtr exact = TwoTriangles(0.0f);
    ObjectPtr nearly = TwoTriangles(1e-3f);
    (*exact->GetPointList())[3].SetFlags(0x10u);
    EXPECT_TRUE(exact->Weld3DPoints(0.0, true, 1, 0x10u, 1u));
    EXPECT_EQ(exact->GetPointNbr(), 5);
    EXPECT_FALSE(nearly->Weld3DPoints(0.0, true));
    EXPECT_EQ(nearly->GetPointNbr(), 6);
}

TEST(Weld3DPoints, RelativeToleranceOfAFlatMeshUsesTheSmallerOtherExtent)
{
    C3DTBBox<float> box(C3DTPoint<float>(3, 0, 0), C3DTPoint<float>(3, 10, 2));
    EXPECT_DOUBLE_EQ(C3DPointGridMap::GetAbsoluteDistance(0.1, box), 0.2);
    EXPECT_DOUBLE_EQ(C3DPointGridMap::GetMaxDistance(0.1, box), std::sqrt(3.0) * 0.4);
    EXPECT_DOUBLE_EQ(C3DPointGridMap::GetAbsoluteDistance(1e-9, box), 1e-6);
    EXPECT_DOUBLE_EQ(C3DPointGridMap::GetAbsoluteDistance(0.5, C3DTBBox<float>()), 1e-6);

    // Distance 0.2: points 0.08 apart weld, points 0.6 apart do not (they would with the y
    // extent of 10, which gives 1.0).
    auto mesh = [](float gap) {
        return MakeMesh({{3, 0, 0}, {3, 10, 0}, {3, 5, 2}, {3, 5.1f, 1}, {3, 5.1f + gap, 1}},
                        {0, 1, 3, 1, 2, 4});
    };
    ObjectPtr close = mesh(0.08f), far = mesh(0.6f);
    EXPECT_TRUE(close->Weld3DPoints(0.1, false));
    EXPECT_EQ(close->GetPointNbr(), 4);
    EXPECT_FALSE(far->Weld3DPoints(0.1, false));
    EXPECT_EQ(far->GetPointNbr(), 5);
}

TEST(Weld3DPoints, CandidateStaysWithTheFirstRepresentativeUnlessStrictlyCloser)
{
    // Cells of 0.5 around x = 10.5: A (x 10) in cell -1, B (x 11) in cell 1, so A and B are
    // no candidates of each other, while C in cell 0 is a candidate of both.
    auto cloud = [](float cx) { return MakeMesh({{10, 0, 0}, {11, 0, 0}, {cx, 0, 0}}, {}); };
    ObjectPtr tie = cloud(10.5f);
    EXPECT_TRUE(tie->Weld3DPoints(1.0, true));
    ASSERT_EQ(tie->GetPointNbr(), 2);
    std::vector<int> remap;
    ObjectPtr tieAgain = cloud(10.5f), nearB = cloud(10.75f);
    ASSERT_TRUE(ComputeWeldRemap(*tieAgain->GetPointList(), 1.0, true, nullptr, 0, remap));
    EXPECT_EQ(remap, (std::vector<int>{0, 1, 0}));
    ASSERT_TRUE(ComputeWeldRemap(*nearB->GetPointList(), 1.0, true, nullptr, 0, remap));
    EXPECT_EQ(remap, (std::vector<int>{0, 1, 1}));
}

TEST(Weld3DPoints, PointCloudMarksDuplicatesAndCleansThemAway)
{
    ObjectPtr cloud = MakeMesh({{1, 2, 3}, {4, 5, 6}, {1, 2, 3}, {7, 8, 9}, {4, 5, 6}}, {});
    EXPECT_TRUE(cloud->Weld3DPoints(0.0, true));
    ASSERT_EQ(cloud->GetPointNbr(), 3);
    const C3DPointList& points = *cloud->GetPointList();
    EXPECT_EQ(points[0], C3DTPoint<float>(1, 2, 3));
    EXPECT_EQ(points[1], C3DTPoint<float>(4, 5, 6));
    EXPECT_EQ(points[2], C3DTPoint<float>(7, 8, 9));
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(points[i].IsOneFlagSet(0x02));
}

TEST(Weld3DPoints, SourceFilterKeepsFlaggedPointsFromAttracting)
{
    // P0 (flag 0x10) and P1 coincide, as do P2 and P3 (flag 0x10).
    ObjectPtr cloud = MakeMesh({{0, 0, 0}, {0, 0, 0}, {5, 5, 5}, {5, 5, 5}}, {});
    (*cloud->GetPointList())[0].SetFlags(0x10u);
    (*cloud->GetPointList())[3].SetFlags(0x10u);
    std::vector<int> remap;
    const CWeldFilter filter{0x10, _WeldSkipSourceWithFlag};
    ASSERT_TRUE(ComputeWeldRemap(*cloud->GetPointList(), 1e-3, true, &filter, 1, remap));
    EXPECT_EQ(remap, (std::vector<int>{0, 1, 2, 2}));
    EXPECT_TRUE(cloud->Weld3DPoints(1e-3, true, 1, 0x10u, unsigned(_WeldSkipSourceWithFlag)));
    EXPECT_EQ(cloud->GetPointNbr(), 3);
    // Without the filter all four pair up.
    ObjectPtr plain = MakeMesh({{0, 0, 0}, {0, 0, 0}, {5, 5, 5}, {5, 5, 5}}, {});
    EXPECT_TRUE(plain->Weld3DPoints(1e-3, true, 0));
    EXPECT_EQ(plain->GetPointNbr(), 2);
}

namespace
{
/// A triangle soup of a 6 x 6 grid (every triangle with its own three points) with texture
/// coordinates per corner.
ObjectPtr UVSoup()
{
    std::vector<Point> pts;
    std::vector<int> triangles;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
        {
            const float quad[4][3] = {{float(x), float(y), 0}, {float(x + 1), float(y), 0},
                                      {float(x + 1), float(y + 1), 0}, {float(x), float(y + 1), 0}};
            for (int t : {0, 1, 2, 0, 2, 3})
            {
                triangles.push_back(int(pts.size()));
                pts.push_back({quad[t][0], quad[t][1], quad[t][2]});
            }
        }
    ObjectPtr mesh = MakeMesh(pts, triangles);
    auto* uv = static_cast<CUVWChannel*>(CChannel::Create(_ChannelUVW, 4242));
    uv->GetUVWPointList()->SetSize(int(pts.size()));
    for (size_t i = 0; i < pts.size(); ++i)
        (*uv->GetUVWPointList())[int(i)] = CUVWPoint(pts[i][0] / 6, pts[i][1] / 6, 0);
    EXPECT_TRUE(uv->GetFaceList()->SetSize(*mesh->GetFaceList())); // same corner indices
    mesh->AddChannel(uv);
    return mesh;
}

std::vector<CUVWPoint> CornerUVs(const C3DGeomObject& mesh)
{
    auto* uv = static_cast<CUVWChannel*>(mesh.GetChannelByID(4242, _ChannelUVW));
    std::vector<CUVWPoint> values;
    uv->GetFaceList()->ForEachFace([&](unsigned, const int* items, unsigned count) {
        for (unsigned k = 0; k < count; ++k)
            values.push_back((*uv->GetUVWPointList())[items[k]]);
    });
    return values;
}
} // namespace

TEST(Weld3DPoints, ChannelsFollowWithTheirValuesPerCorner)
{
    ObjectPtr mesh = UVSoup();
    const std::vector<CUVWPoint> before = CornerUVs(*mesh);
    ASSERT_TRUE(mesh->Weld3DPoints(0.0, true));
    EXPECT_EQ(mesh->GetPointNbr(), 49);
    EXPECT_EQ(mesh->GetFaceNbr(), 72);
    EXPECT_EQ(CornerUVs(*mesh), before);
    auto* uv = static_cast<CUVWChannel*>(mesh->GetChannelByID(4242, _ChannelUVW));
    EXPECT_EQ(uv->GetUVWPointList()->GetSize(), 49); // the channel welded its equal values
    zantest::ExpectChannelsParallel(*mesh->GetFaceList(), *mesh->GetChannels());
}

namespace
{
bool StopAtOnce(int event, ProcessProgressInfo*, void*)
{
    return event == kProgressCheckStop;
}
} // namespace

TEST(Weld3DPoints, CancelledOrRefusedWeldLeavesTheObjectByteForByte)
{
    ObjectPtr mesh = UVSoup();
    auto bytes = [&] { return zantest::StoreToBytes([&](CXArchive& ar) { mesh->Serialize(ar); }); };
    const std::vector<uint8_t> before = bytes();
    void* previousData = nullptr;
    ProgressHandler previous = progressSetCallback(&StopAtOnce, nullptr, &previousData);
    bool welded = mesh->Weld3DPoints(0.0, true);
    progressSetCallback(previous, previousData);
    EXPECT_FALSE(welded);
    EXPECT_EQ(bytes(), before);

    EXPECT_FALSE(mesh->Weld3DPoints(-0.5, true));
    EXPECT_FALSE(mesh->Weld3DPoints(NAN, false));
    (*mesh->GetPointList())[5].Set(NAN, 0, 0);
    const std::vector<uint8_t> withNaN = bytes();
    EXPECT_FALSE(mesh->Weld3DPoints(0.1, true));
    EXPECT_EQ(bytes(), withNaN);

    C3DObject bare;
    EXPECT_FALSE(bare.Weld3DPoints(0.1, true));
    // A pair count no caller passes reads nothing and welds without filters.
    ObjectPtr cloud = MakeMesh({{0, 0, 0}, {0, 0, 0}}, {});
    EXPECT_TRUE(cloud->Weld3DPoints(0.1, true, 100000u, 0x10u));
}
