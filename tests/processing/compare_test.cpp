// GeomCompare: golden distances on a cube with one corner pulled out, identity, failures,
// the early stop and independence from the thread count.
#include "processing/spatial_test_helpers.h"

#include "common/zan_test_helpers.h"

#include <3dzan/foundation/services.h>
#include <3dzan/processing/compare.h>

#include <cmath>

using namespace spatialtest;

namespace
{
// Cube A = [0, 1]^3; cube B = A with corner (1, 1, 1) moved to (1.25, 1.25, 1.25).
//
// B to A: the farthest point of B from A is the moved corner; the closest point of A is
// (1, 1, 1), at 0.25 sqrt(3) = 0.4330127.
// A to B: the farthest point of A from B is A's corner (1, 1, 1), now inside B. The nearest
// faces of B are the six triangles around the moved corner, e.g. (0,0,1) (1,0,1) (1.25,1.25,
// 1.25), of normal (0, -0.25, 1.25): the distance is 0.25 / sqrt(1.625) = 0.1961161, and its
// foot (1, 0.9615, 1.1923) lies inside that triangle.
// Both are normalised by the diagonal of the box enclosing both, [0, 1.25]^3: 1.25 sqrt(3).
// So the result is 0.25 sqrt(3) / (1.25 sqrt(3)) = 0.2 exactly.
const double kBToA = 0.25 * std::sqrt(3.0);
const double kAToB = 0.25 / std::sqrt(1.625);
const double kDiagonal = 1.25 * std::sqrt(3.0);

void ExpectSameSides(const CMeshCompareSide& x, const CMeshCompareSide& y)
{
    EXPECT_EQ(x.m_Max, y.m_Max);
    EXPECT_EQ(x.m_Mean, y.m_Mean);
    EXPECT_EQ(x.m_RMS, y.m_RMS);
    EXPECT_EQ(x.m_SampleNbr, y.m_SampleNbr);
}
} // namespace

TEST(GeomCompare, MovedCornerGivesTheAnalyticDistance)
{
    ObjectPtr a = MakeCube(), b = MakeCube({0.25f, 0.25f, 0.25f});
    CMeshCompareSide sides[2];
    double d = GeomCompare(a.get(), b.get(), _MeshCompareHausdorff, INFINITY,
                           _CompareSamplePoints | _CompareSampleFaces, sides);
    EXPECT_NEAR(d, 0.2, 1e-6);
    EXPECT_NEAR(sides[0].m_Max, kAToB, 1e-6);
    EXPECT_NEAR(sides[1].m_Max, kBToA, 1e-6);
    EXPECT_NEAR(sides[0].m_SizeReference, kDiagonal, 1e-6);
    EXPECT_GT(sides[0].m_Mean, 0.0);
    EXPECT_LE(sides[0].m_Mean, sides[0].m_RMS);
    EXPECT_LE(sides[0].m_RMS, sides[0].m_Max);

    // Inside the faces only, samples never overshoot: the tip is a single point, and the
    // distance falls off quickly around it.
    for (unsigned scheme : {0u, unsigned(_CompareFaceHammersley), unsigned(_CompareFaceLattice)})
    {
        double faces = GeomCompare(a.get(), b.get(), _MeshCompareHausdorff, INFINITY,
                                   _CompareSampleFaces | _CompareDensity10 | scheme, sides);
        EXPECT_LE(faces, 0.2 + 1e-9) << scheme;
        EXPECT_GT(faces, 0.05) << scheme;
        EXPECT_GE(sides[1].m_SampleNbr, 110u) << scheme; // 10 x 12 faces, less rounding
        EXPECT_LE(sides[1].m_SampleNbr, 120u) << scheme;
    }
    double edges = GeomCompare(a.get(), b.get(), _MeshCompareHausdorff, INFINITY,
                               _CompareSampleEdges | _CompareDensity10, sides);
    EXPECT_LE(edges, 0.2 + 1e-9);
    EXPECT_GT(edges, 0.1);
}

TEST(GeomCompare, EveryFaceSchemeSamplesInsideTheFaces)
{
    // Two unit squares 0.1 apart: every sample inside a face is exactly 0.1 from the other,
    // so maximum, mean and RMS are 0.1 whatever the scheme, and the result is 0.1 divided by
    // the diagonal of [0, 1]^2 x [0, 0.1].
    auto square = [](float z) {
        return MakeMesh({{0, 0, z}, {1, 0, z}, {1, 1, z}, {0, 1, z}}, {0, 1, 2, 0, 2, 3});
    };
    ObjectPtr a = square(0), b = square(0.1f);
    const double diagonal = std::sqrt(2.0 + 0.1f * 0.1f);
    for (unsigned scheme : {0u, unsigned(_CompareFaceHammersley), unsigned(_CompareFaceLattice)})
        for (unsigned density : {unsigned(_CompareDensity4), 0u, unsigned(_CompareDensity10)})
        {
            CMeshCompareSide sides[2];
            double d = GeomCompare(a.get(), b.get(), _MeshCompareHausdorff, INFINITY,
                                   _CompareSampleFaces | scheme | density, sides);
            EXPECT_NEAR(d, 0.1f / diagonal, 1e-6);
            for (const CMeshCompareSide& side : sides)
            {
                EXPECT_NEAR(side.m_Mean, 0.1f, 1e-6);
                EXPECT_NEAR(side.m_RMS, 0.1f, 1e-6);
                const unsigned want = density == _CompareDensity4 ? 8 : density ? 20 : 12;
                EXPECT_NEAR(double(side.m_SampleNbr), want, 1.0);
            }
        }
}

TEST(GeomCompare, IdentityIsZeroAndBadInputIsInfinite)
{
    ObjectPtr a = MakeCube();
    EXPECT_EQ(GeomCompare(a.get(), a.get(), _MeshCompareHausdorff, INFINITY, 0x7), 0.0);
    ObjectPtr copy = MakeCube();
    EXPECT_EQ(GeomCompare(a.get(), copy.get(), _MeshCompareHausdorff, INFINITY, 0x7), 0.0);

    ObjectPtr quad = MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {});
    auto* faces = C3DFaceList::Create();
    const int corners[4] = {0, 1, 2, 3};
    faces->AddFace(corners, 4);
    quad->SetFaceList(faces, true);
    ObjectPtr cloud = MakeMesh({{0, 0, 0}, {1, 0, 0}}, {});
    C3DObject empty;
    EXPECT_TRUE(std::isinf(GeomCompare(a.get(), quad.get(), _MeshCompareHausdorff, INFINITY, 0x5)));
    EXPECT_TRUE(std::isinf(GeomCompare(quad.get(), a.get(), _MeshCompareHausdorff, INFINITY, 0x5)));
    EXPECT_TRUE(std::isinf(GeomCompare(a.get(), cloud.get(), _MeshCompareHausdorff, INFINITY, 0x5)));
    EXPECT_TRUE(std::isinf(GeomCompare(a.get(), &empty, _MeshCompareHausdorff, INFINITY, 0x5)));
    EXPECT_TRUE(std::isinf(GeomCompare(nullptr, a.get(), _MeshCompareHausdorff, INFINITY, 0x5)));
}

TEST(GeomCompare, LimitStopsEarlyAndLogsTheCancel)
{
    zantest::CTempConfigDir config;
    ObjectPtr a = MakeCube(), b = MakeCube({0.25f, 0.25f, 0.25f});
    CMeshCompareSide sides[2];
    double d = GeomCompare(a.get(), b.get(), _MeshCompareHausdorff, 0.01,
                           _CompareSamplePoints | _CompareSampleFaces, sides);
    EXPECT_TRUE(sides[1].m_Stopped);
    EXPECT_GT(d, 0.01);
    CMeshCompareSide full[2];
    GeomCompare(a.get(), b.get(), _MeshCompareHausdorff, INFINITY,
                _CompareSamplePoints | _CompareSampleFaces, full);
    EXPECT_LT(sides[1].m_SampleNbr, full[1].m_SampleNbr);
    EXPECT_FALSE(full[1].m_Stopped);
    const std::string log = config.LogText();
    EXPECT_NE(log.find("Process canceled - above limit"), std::string::npos);
    EXPECT_NE(log.find("Normalized distance"), std::string::npos);
    EXPECT_NE(log.find("Face Distance Count"), std::string::npos);
}

TEST(GeomCompare, SameResultOnOneOrTwoThreads)
{
    ObjectPtr a = MakeCube(), b = MakeCube({0.1f, -0.3f, 0.2f});
    const unsigned flagSets[] = {0x7, 0x7 | _CompareFaceHammersley, 0x6 | _CompareDensity4, 0xD};
    for (unsigned flags : flagSets)
    {
        CMeshCompareSide one[2], two[2];
        OMPSetMaxThreadCount(1);
        double d1 = GeomCompare(a.get(), b.get(), _MeshCompareHausdorff, INFINITY, flags, one);
        OMPSetMaxThreadCount(2);
        double d2 = GeomCompare(a.get(), b.get(), _MeshCompareHausdorff, INFINITY, flags, two);
        OMPSetMaxThreadCount(0);
        EXPECT_EQ(d1, d2) << flags;
        ExpectSameSides(one[0], two[0]);
        ExpectSameSides(one[1], two[1]);
        EXPECT_GT(d1, 0.0);
    }
}
