// Loop and Catmull-Clark subdivision: known results, the smoothing rules on regular grids,
// borders, orientation and the attribute lists that follow the mesh.
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/geometry/subdivision.h>

#include "common/geometry_checks.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>
#include <vector>

namespace
{
using P3 = C3DTPoint<float>;

void SetPoints(C3DPointList& list, const std::vector<P3>& points)
{
    list.SetSize(int(points.size()));
    for (size_t i = 0; i < points.size(); ++i)
        list[int(i)] = points[i];
}

// The unit cube [-1, 1]^3 with outward quads.
void MakeCube(C3DPointList& points, C3DFaceList& faces)
{
    SetPoints(points, {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                       {-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}});
    const int quads[] = {0, 3, 2, 1, 4, 5, 6, 7, 0, 1, 5, 4, 2, 3, 7, 6, 1, 2, 6, 5, 3, 0, 4, 7};
    ASSERT_TRUE(faces.AddFaces(quads, 6, 4, 8));
}

// An n x n grid of unit quads in the z = 0 plane, counter-clockwise seen from +z.
void MakeGrid(int n, C3DPointList& points, C3DFaceList& faces)
{
    std::vector<P3> p;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x)
            p.emplace_back(float(x), float(y), 0.0f);
    SetPoints(points, p);
    std::vector<int> q;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
        {
            int a = y * (n + 1) + x;
            q.insert(q.end(), {a, a + 1, a + n + 2, a + n + 1});
        }
    ASSERT_TRUE(faces.AddFaces(q.data(), unsigned(n * n), 4, unsigned(p.size())));
}

// Each undirected edge of a closed, consistently oriented mesh is walked once each way.
::testing::AssertionResult ClosedAndOriented(const CFaceList& faces)
{
    std::map<std::pair<int, int>, int> directed;
    faces.ForEachFace(
        [&](unsigned, const int* v, unsigned n)
        {
            for (unsigned i = 0; i < n; ++i)
                ++directed[{v[i], v[(i + 1) % n]}];
        });
    for (const auto& [edge, count] : directed)
        if (count != 1 || directed.count({edge.second, edge.first}) == 0)
            return ::testing::AssertionFailure()
                   << "edge " << edge.first << "-" << edge.second << " used " << count << " times";
    return ::testing::AssertionSuccess();
}

std::multiset<std::tuple<float, float, float>> Positions(const C3DPointList& points)
{
    std::multiset<std::tuple<float, float, float>> s;
    for (int i = 0; i < points.GetSize(); ++i)
        s.insert({points[i].m_X, points[i].m_Y, points[i].m_Z});
    return s;
}
} // namespace

TEST(Subdivision, CubeByCatmullClarkGivesTheClassicPositions)
{
    C3DPointList points, outPoints;
    C3DFaceList faces, outFaces;
    MakeCube(points, faces);
    faces.SetFaceMaterial(4, 77);

    CSubdivider cc(CSubdivider::_CatmullClark);
    ASSERT_TRUE(cc.Subdivide(points, faces, outPoints, outFaces));
    EXPECT_EQ(outPoints.GetSize(), 26);
    EXPECT_EQ(outFaces.GetSize(), 24);
    EXPECT_EQ(cc.GetEdgeCount(), 12u);
    EXPECT_TRUE(ClosedAndOriented(outFaces));
    zantest::ExpectFaceChunksParallel(outFaces);

    // Corners move to 5/9 of themselves, edge points sit at 3/4 on the two other axes, face
    // points at the face centres.
    const float c = 5.0f / 9.0f;
    std::multiset<std::tuple<float, float, float>> expected;
    for (float x : {-c, c})
        for (float y : {-c, c})
            for (float z : {-c, c})
                expected.insert({x, y, z});
    for (int axis = 0; axis < 3; ++axis)
        for (float s : {-0.75f, 0.75f})
            for (float t : {-0.75f, 0.75f})
            {
                float v[3];
                v[axis] = 0;
                v[(axis + 1) % 3] = s;
                v[(axis + 2) % 3] = t;
                expected.insert({v[0], v[1], v[2]});
            }
    for (int axis = 0; axis < 3; ++axis)
        for (float s : {-1.0f, 1.0f})
        {
            float v[3] = {0, 0, 0};
            v[axis] = s;
            expected.insert({v[0], v[1], v[2]});
        }
    auto got = Positions(outPoints);
    ASSERT_EQ(got.size(), expected.size());
    auto e = expected.begin();
    for (const auto& g : got)
    {
        EXPECT_NEAR(std::get<0>(g), std::get<0>(*e), 1e-6);
        EXPECT_NEAR(std::get<1>(g), std::get<1>(*e), 1e-6);
        EXPECT_NEAR(std::get<2>(g), std::get<2>(*e), 1e-6);
        ++e;
    }
    // The children keep their parent's material.
    for (unsigned k = 0; k < 4; ++k)
        EXPECT_EQ(outFaces.GetFaceMaterial(16 + k), 77u);
    EXPECT_EQ(outFaces.GetFaceMaterial(15), 0u);
}

TEST(Subdivision, TetrahedronByLoopShrinksTowardTheCentre)
{
    C3DPointList points, outPoints;
    C3DFaceList faces, outFaces;
    SetPoints(points, {{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}});
    const int tris[] = {0, 1, 2, 0, 3, 1, 0, 2, 3, 1, 3, 2};
    ASSERT_TRUE(faces.AddFaces(tris, 4, 3, 4));

    CSubdivider loop(CSubdivider::_Loop);
    ASSERT_TRUE(loop.Subdivide(points, faces, outPoints, outFaces));
    ASSERT_EQ(outPoints.GetSize(), 10);
    ASSERT_EQ(outFaces.GetSize(), 16);
    EXPECT_TRUE(ClosedAndOriented(outFaces));
    // With the centre at the origin: corners go to p / 4 (7/16 p + 3/16 of the others, which
    // sum to -p) and edge points to (a + b) / 4.
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_FLOAT_EQ(outPoints[i].m_X, points[i].m_X / 4);
        EXPECT_FLOAT_EQ(outPoints[i].m_Z, points[i].m_Z / 4);
    }
    for (int i = 4; i < 10; ++i)
    {
        // Every edge point is (±0.5, 0, 0) up to axis order.
        float sum = std::abs(outPoints[i].m_X) + std::abs(outPoints[i].m_Y) +
                    std::abs(outPoints[i].m_Z);
        EXPECT_FLOAT_EQ(sum, 0.5f);
    }
    // A second level: 10 + 24 points, 64 faces, still closed.
    C3DPointList p2;
    C3DFaceList f2;
    ASSERT_TRUE(loop.Subdivide(outPoints, outFaces, p2, f2));
    EXPECT_EQ(p2.GetSize(), 34);
    EXPECT_EQ(f2.GetSize(), 64);
    EXPECT_TRUE(ClosedAndOriented(f2));
}

TEST(Subdivision, RegularGridInteriorRuleBordersAndLinearAttributes)
{
    C3DPointList points, outPoints;
    C3DFaceList faces, outFaces;
    MakeGrid(4, points, faces);
    // Lift one interior point: it must move to 9/16 of itself plus 3/32 of each edge
    // neighbour plus 1/64 of each diagonal corner.
    points[12].m_Z = 1.0f; // (2, 2), interior
    points[0].m_Z = 3.0f;  // a corner on the border
    // Texture coordinates equal to the planar positions, with a seam between columns 1 and 2:
    // the faces right of it use their own copies of the column-2 points.
    CUVWPointList uv, outUV;
    CUVWFaceList uvFaces, outUVFaces;
    std::vector<int> column2Copy(25, -1);
    std::vector<CUVWPoint> uvPoints;
    for (int i = 0; i < 25; ++i)
        uvPoints.emplace_back(float(i % 5), float(i / 5), 0.0f);
    for (int y = 0; y <= 4; ++y)
    {
        column2Copy[size_t(y * 5 + 2)] = int(uvPoints.size());
        uvPoints.emplace_back(2.0f, float(y), 0.0f);
    }
    uv.SetSize(int(uvPoints.size()));
    for (size_t i = 0; i < uvPoints.size(); ++i)
        uv[int(i)] = uvPoints[i];
    faces.ForEachFace(
        [&](unsigned, const int* v, unsigned n)
        {
            bool right = false;
            for (unsigned i = 0; i < n; ++i)
                right |= v[i] % 5 > 2;
            int c[4];
            for (unsigned i = 0; i < n; ++i)
                c[i] = right && column2Copy[size_t(v[i])] >= 0 ? column2Copy[size_t(v[i])] : v[i];
            ASSERT_NE(uvFaces.AddFace(c, n, unsigned(uv.GetSize())), kZanNone);
        });
    CWeightPointList weights, outWeights;
    weights.SetSize(25);
    for (int i = 0; i < 25; ++i)
        weights[i].m_Weight = float(i % 5);

    CSubdivider cc(CSubdivider::_CatmullClark);
    ASSERT_TRUE(cc.Subdivide(points, faces, outPoints, outFaces));
    ASSERT_TRUE(cc.SubdivideCornerAttribute(uv, uvFaces, outUV, outUVFaces));
    ASSERT_TRUE(cc.SubdividePointAttribute(weights, outWeights));
    zantest::ExpectFaceListsParallel(outFaces, outUVFaces);
    zantest::ExpectFaceChunksParallel(outUVFaces);
    EXPECT_EQ(outWeights.GetSize(), outPoints.GetSize());
    // 30 texture points, one per side (the 40 grid edges, the 4 seam sides counted twice) and
    // one per face.
    EXPECT_EQ(outUV.GetSize(), 30 + 40 + 4 + 16);

    EXPECT_FLOAT_EQ(outPoints[12].m_Z, 9.0f / 16.0f);
    EXPECT_FLOAT_EQ(outPoints[0].m_Z, 3.0f) << "a border corner keeps its place";
    EXPECT_TRUE(outPoints[0].IsOneFlagSet(0x10));
    EXPECT_FALSE(outPoints[12].IsOneFlagSet(0x10));
    for (int i : {7, 11, 13, 17})
        EXPECT_FLOAT_EQ(outPoints[i].m_Z, 3.0f / 32.0f) << i;
    for (int i : {8, 16, 18})
        EXPECT_FLOAT_EQ(outPoints[i].m_Z, 1.0f / 64.0f) << i;
    EXPECT_FLOAT_EQ(outPoints[6].m_Z, 4.0f / 64.0f) << "diagonal to both lifted points";

    // Attributes are linear: on a flat regular grid the smoothed positions stay where linear
    // interpolation puts them, so every corner's texture coordinate and every point's weight
    // equal the planar position wherever the lift did not reach.
    ASSERT_EQ(outUVFaces.GetSize(), outFaces.GetSize());
    for (int f = 0; f < outFaces.GetSize(); ++f)
    {
        int n = 0, m = 0;
        const int* v = outFaces.GetIndexes(unsigned(f), n);
        const int* t = outUVFaces.GetIndexes(unsigned(f), m);
        ASSERT_EQ(n, m);
        for (int i = 0; i < n; ++i)
        {
            EXPECT_FLOAT_EQ(outUV[t[i]].m_U, outPoints[v[i]].m_X);
            EXPECT_FLOAT_EQ(outUV[t[i]].m_V, outPoints[v[i]].m_Y);
            EXPECT_FLOAT_EQ(outWeights[v[i]].m_Weight, outPoints[v[i]].m_X);
        }
    }
}

TEST(Subdivision, RefusesWrongInputAndLeavesTheOutputs)
{
    C3DPointList points, outPoints;
    C3DFaceList faces, outFaces;
    MakeCube(points, faces);
    SetPoints(outPoints, {{9, 9, 9}});

    CSubdivider loop(CSubdivider::_Loop);
    EXPECT_FALSE(loop.Subdivide(points, faces, outPoints, outFaces)) << "quads given to Loop";
    EXPECT_EQ(outPoints.GetSize(), 1);
    EXPECT_EQ(outFaces.GetSize(), 0);

    CSubdivider cc(CSubdivider::_CatmullClark);
    CUVWPointList uv, outUV;
    CUVWFaceList uvFaces, outUVFaces;
    EXPECT_FALSE(cc.SubdivideCornerAttribute(uv, uvFaces, outUV, outUVFaces))
        << "no mesh subdivided yet";
    CWeightPointList w, outW;
    EXPECT_FALSE(cc.SubdividePointAttribute(w, outW));
    ASSERT_TRUE(cc.Subdivide(points, faces, outPoints, outFaces));
    uvFaces.SetSize(6, 4); // indices 0 into an empty point list
    EXPECT_FALSE(cc.SubdivideCornerAttribute(uv, uvFaces, outUV, outUVFaces));
    EXPECT_FALSE(cc.SubdivideCornerAttribute(uv, outFaces, outUV, outUVFaces))
        << "face counts differ";
    EXPECT_FALSE(cc.SubdividePointAttribute(w, outW)) << "one weight per point is needed";
    EXPECT_FALSE(cc.Subdivide(points, faces, points, outFaces)) << "in place";

    // A triangle in a quad mesh is refused; an empty face list subdivides to itself.
    C3DFaceList mixed;
    const int tri[] = {0, 1, 2};
    ASSERT_TRUE(mixed.AddFaces(tri, 1, 3, 8));
    EXPECT_FALSE(cc.Subdivide(points, mixed, outPoints, outFaces));
    C3DFaceList none;
    EXPECT_TRUE(cc.Subdivide(points, none, outPoints, outFaces));
    EXPECT_EQ(outFaces.GetSize(), 0);
    EXPECT_EQ(outPoints.GetSize(), 8);
}
