// Measures of one face and of one triangle: golden values of simple shapes, and the
// projection into the face's plane checked for orientation and distances.
#include "processing/polyops_mesh.h"

#include <3dzan/geometry/geominfo.h>
#include <3dzan/processing/measures.h>

#include <cmath>
#include <limits>

using namespace polytest;

namespace
{
struct CFaceOf
{
    explicit CFaceOf(C3DObject& mesh, unsigned index) : m_Geom(&mesh)
    {
        EXPECT_TRUE(mesh.GetFaceList()->GetFace(index, m_Face));
    }
    CGeomInfo m_Geom;
    C3DFace m_Face;
};

C3DTPoint<float> P(float x, float y, float z)
{
    return C3DTPoint<float>(x, y, z);
}
} // namespace

TEST(TriangleMeasuresTest, GoldenValues)
{
    const float h = float(std::sqrt(3.0) / 2);
    EXPECT_NEAR(GetCompacityFactor2(P(0, 0, 0), P(1, 0, 0), P(0.5f, h, 0)), 1.0 / 3.0, 1e-6);
    EXPECT_NEAR(GetCompacityFactor(P(0, 0, 0), P(1, 0, 0), P(0.5f, h, 0)), 1.0, 1e-6);
    // Right isosceles triangle of legs 2: circumradius sqrt(2), quality 4 sqrt(3) * 2 / 16.
    EXPECT_NEAR(GetCompacityFactor2(P(0, 0, 0), P(2, 0, 0), P(0, 2, 0)), 2.0, 1e-9);
    EXPECT_NEAR(GetCompacityFactor(P(0, 0, 0), P(2, 0, 0), P(0, 2, 0)), std::sqrt(3.0) / 2, 1e-9);
    EXPECT_TRUE(std::isinf(GetCompacityFactor2(P(0, 0, 0), P(1, 1, 1), P(2, 2, 2))));
    EXPECT_EQ(GetCompacityFactor(P(0, 0, 0), P(1, 1, 1), P(2, 2, 2)), 0.0);
    EXPECT_EQ(GetCompacityFactor(P(1, 1, 1), P(1, 1, 1), P(1, 1, 1)), 0.0);

    EXPECT_TRUE(IsInBox(P(1, 0.5f, 0), P(0, 0, 0), P(1, 1, 1))); // on a face of the box
    EXPECT_FALSE(IsInBox(P(1.01f, 0.5f, 0), P(0, 0, 0), P(1, 1, 1)));
    EXPECT_FALSE(IsInBox(P(std::nanf(""), 0, 0), P(0, 0, 0), P(1, 1, 1)));

    // A triangle seen in all three projections.
    const C3DTPoint<float> a = P(0, 0, 0), b = P(2, 0, 1), c = P(0, 2, 1);
    EXPECT_TRUE(IsInTriangle(P(0.5f, 0.5f, 0.5f), a, b, c));
    EXPECT_FALSE(IsInTriangle(P(1.5f, 1.5f, 1.5f), a, b, c));
    EXPECT_FALSE(IsInTriangle(P(3, 0, 0), a, b, c));
}

TEST(FaceGeometryTest, MeasuresOfSimpleFaces)
{
    MeshPtr mesh =
        MakeMesh({{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}, {0, 0, 1}},
                 {{0, 1, 2, 3, 4, 5}, {0, 1, 2}, {0, 1, 4, 6}, {0, 1}, {0, 0, 0}});
    CFaceOf l(*mesh, 0), triangle(*mesh, 1), bent(*mesh, 2), line(*mesh, 3), point(*mesh, 4);

    EXPECT_DOUBLE_EQ(l.m_Face.Area(&l.m_Geom), 1.0); // first three corners: (0,0) (2,0) (2,1)
    EXPECT_FALSE(l.m_Face.IsConvex(&l.m_Geom));
    EXPECT_TRUE(l.m_Face.IsPlane(&l.m_Geom));
    EXPECT_TRUE(triangle.m_Face.IsConvex(&triangle.m_Geom));
    EXPECT_FALSE(bent.m_Face.IsPlane(&bent.m_Geom));

    C3DTPoint<float> center;
    ASSERT_TRUE(l.m_Face.GetCenter(&l.m_Geom, center));
    EXPECT_FLOAT_EQ(center.m_X, 1.0f);
    EXPECT_FLOAT_EQ(center.m_Y, 1.0f);

    C4DTVector<float> plane;
    ASSERT_TRUE(l.m_Face.GetPlane(&l.m_Geom, plane));
    EXPECT_EQ(plane, C4DTVector<float>(0, 0, 1, 0));
    ASSERT_TRUE(bent.m_Face.GetPlane(&bent.m_Geom, plane));
    for (int p : {0, 1, 4})
    {
        const C3DTPoint<float>& q = (*mesh->GetPointList())[p];
        EXPECT_NEAR(plane.Evaluate(q.m_X, q.m_Y, q.m_Z), 0.0, 1e-6);
    }
    EXPECT_NEAR(triangle.m_Face.GetCompacityFactor(&triangle.m_Geom),
                GetCompacityFactor(P(0, 0, 0), P(2, 0, 0), P(2, 1, 0)), 1e-12);

    // Degenerate faces: failure values, nothing written.
    C4DTVector<float> untouched(9, 9, 9, 9);
    EXPECT_FALSE(line.m_Face.GetPlane(&line.m_Geom, untouched));
    EXPECT_FALSE(point.m_Face.GetPlane(&point.m_Geom, untouched));
    EXPECT_EQ(untouched, C4DTVector<float>(9, 9, 9, 9));
    EXPECT_EQ(line.m_Face.Area(&line.m_Geom), 0.0);
    EXPECT_FALSE(line.m_Face.IsConvex(&line.m_Geom));
    EXPECT_FALSE(l.m_Face.GetCenter(nullptr, center));
}

TEST(FaceGeometryTest, ProjectionKeepsOrientationAndDistances)
{
    // A tilted L, once as given and once reversed: both project counter-clockwise.
    std::vector<Point3> points;
    for (auto [x, y] :
         std::vector<std::pair<float, float>>{{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}})
        points.push_back({x, 0.6f * y, 0.8f * y + 3});
    MeshPtr mesh = MakeMesh(points, {{0, 1, 2, 3, 4, 5}, {5, 4, 3, 2, 1, 0}});
    for (unsigned f = 0; f < 2; ++f)
    {
        CFaceOf face(*mesh, f);
        C2DPointList flat;
        ASSERT_TRUE(face.m_Face.Get2DCoordinates(&face.m_Geom, flat));
        ASSERT_EQ(flat.GetSize(), 6);
        std::vector<P2> ring;
        for (int k = 0; k < 6; ++k)
            ring.push_back({flat[k].m_X, flat[k].m_Y});
        EXPECT_NEAR(SignedArea(ring), 3.0, 1e-5) << "face " << f;
        EXPECT_EQ(ring[0].x, 0.0);
        EXPECT_EQ(ring[0].y, 0.0);
        const int* corners = face.m_Face.GetIndexes();
        for (int k = 0; k < 6; ++k)
        {
            const Point3 &a = points[size_t(corners[k])], &b = points[size_t(corners[(k + 1) % 6])];
            double d3 = std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                                  (a[2] - b[2]) * (a[2] - b[2]));
            EXPECT_NEAR(std::hypot(ring[size_t(k)].x - ring[size_t((k + 1) % 6)].x,
                                   ring[size_t(k)].y - ring[size_t((k + 1) % 6)].y),
                        d3, 1e-5);
        }
    }
    // Positions that cannot be read: refused, the list untouched.
    MeshPtr broken = MakeMesh({{0, 0, 0}, {1, 0, 0}, {std::nanf(""), 1, 0}}, {{0, 1, 2}});
    CFaceOf face(*broken, 0);
    C2DPointList flat;
    flat.SetSize(2);
    EXPECT_FALSE(face.m_Face.Get2DCoordinates(&face.m_Geom, flat));
    EXPECT_EQ(flat.GetSize(), 2);
}
