// Boxes, transforms, axis swaps and triangle normals of the mesh point list.
#include <3dzan/geometry/pointlist.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace
{
C3DPointList MakeList(std::initializer_list<C3DTPoint<float>> points)
{
    C3DPointList list;
    list.SetSize(int(points.size()));
    int i = 0;
    for (const auto& p : points)
        list[i++] = p;
    return list;
}
} // namespace

TEST(PointList3D, BoundingBoxSelectsByFlagsSkipsNonFiniteAndTransforms)
{
    C3DPointList list = MakeList({{1, 2, 3}, {-4, 5, 0}, {2, -1, 7}, {100, 100, 100}});
    list[3].SetFlags(0x10);

    C3DTBBox<float> box;
    EXPECT_TRUE(list.GetBoundingBox(box));
    EXPECT_TRUE(box.IsValid());
    EXPECT_EQ(box.GetMax(), C3DTPoint<float>(100, 100, 100));

    // Only points without 0x10, then only those with it.
    EXPECT_TRUE(list.GetBoundingBox(box, 0x10, false));
    EXPECT_EQ(box.GetMin(), C3DTPoint<float>(-4, -1, 0));
    EXPECT_EQ(box.GetMax(), C3DTPoint<float>(2, 5, 7));
    EXPECT_FALSE(list.GetBoundingBox(box, 0x10, true)) << "a single point has no extent";
    EXPECT_TRUE(box.IsValid());
    EXPECT_FALSE(box.IsEmpty());

    // A point with a NaN coordinate does not poison the box.
    list[3].Set(std::numeric_limits<float>::quiet_NaN(), 0, 0);
    EXPECT_TRUE(list.GetBoundingBox(box));
    EXPECT_EQ(box.GetMax(), C3DTPoint<float>(2, 5, 7));

    // The box of transformed points equals the box of the transformed list.
    list[3].Set(9, -9, 4);
    C4x4TMatrix<float> m;
    m[0][0] = 0;
    m[0][1] = -2;
    m[1][0] = 1;
    m[1][1] = 0;
    m[0][3] = 10;
    m[2][3] = -3;
    C3DTBBox<float> transformed;
    list.GetBoundingBox(transformed, 0, true, &m);
    C3DPointList moved = list;
    ASSERT_TRUE(moved.MatrixTransform(m));
    moved.GetBoundingBox(box);
    EXPECT_EQ(transformed, box);
    EXPECT_EQ(moved[0], C3DTPoint<float>(10 - 4, 1, 0));

    C3DPointList empty;
    EXPECT_FALSE(empty.GetBoundingBox(box));
    EXPECT_TRUE(box.IsValid());
    EXPECT_TRUE(box.IsEmpty());
}

TEST(PointList3D, NearIdentityIsNoTransformAndSwapsAreTheirOwnInverse)
{
    C3DPointList list = MakeList({{1, 2, 3}, {-4, 5, 0.5f}});
    C3DPointList original = list;
    unsigned stamp = list.GetChangedStamp();

    C4x4TMatrix<float> near;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            near[r][c] += 0.005f * (r == c ? -1.0f : 1.0f) * 0.99f;
    EXPECT_FALSE(list.MatrixTransform(near));
    EXPECT_EQ(list.GetChangedStamp(), stamp);
    near[1][3] = 0.0051f;
    EXPECT_TRUE(list.MatrixTransform(near));

    list = original;
    ASSERT_TRUE(list.SwapCoordinates(0x04 | 0x10)); // exchange y and z, negate x
    EXPECT_EQ(list[0], C3DTPoint<float>(-1, 3, 2));
    ASSERT_TRUE(list.SwapCoordinates(0x04 | 0x10));
    EXPECT_EQ(list[1], original[1]);
    EXPECT_FALSE(list.SwapCoordinates(0x03)) << "two exchanges at once are rejected";
    EXPECT_FALSE(list.SwapCoordinates(0));
    EXPECT_EQ(list[0], original[0]);
}

TEST(PointList3D, TriangleNormalFollowsTheWinding)
{
    C3DPointList list = MakeList({{0, 0, 0}, {2, 0, 0}, {0, 3, 0}, {4, 0, 0}});
    C3DTVector<float> n;
    const int ccw[3] = {0, 1, 2};
    const int cw[3] = {0, 2, 1};
    ASSERT_TRUE(list.GetNormal(ccw, n));
    EXPECT_FLOAT_EQ(n.m_Z, 1.0f);
    ASSERT_TRUE(list.GetNormal(cw, n));
    EXPECT_FLOAT_EQ(n.m_Z, -1.0f);

    C3DTVector<float> untouched(7, 7, 7);
    const int collinear[3] = {0, 1, 3};
    const int outside[3] = {0, 1, 4};
    EXPECT_FALSE(list.GetNormal(collinear, untouched));
    EXPECT_FALSE(list.GetNormal(outside, untouched));
    EXPECT_FALSE(list.GetNormal(nullptr, untouched));
    EXPECT_EQ(untouched.m_X, 7.0f);
}
