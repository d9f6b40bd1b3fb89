// Coplanar merging checked case by case (materials, texture seams, folds, collinear borders,
// holes), by the area and orientation of what it builds, and for a stop that leaves the object
// as it was to the byte.
#include "common/zan_test_helpers.h"
#include "processing/polyops_mesh.h"

#include <3dzan/foundation/services.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/topology.h>

#include <cmath>

using namespace polytest;

namespace
{
// A grid of nx × ny unit quadrangles in z = 0, facing +z; cells listed in \p skip are left out.
MeshPtr Grid(int nx, int ny, bool uv, const std::vector<int>& skip = {})
{
    std::vector<Point3> points;
    for (int j = 0; j <= ny; ++j)
        for (int i = 0; i <= nx; ++i)
            points.push_back({float(i), float(j), 0.0f});
    std::vector<Face> faces;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i)
        {
            if (std::find(skip.begin(), skip.end(), j * nx + i) != skip.end())
                continue;
            int p = j * (nx + 1) + i;
            faces.push_back({p, p + 1, p + nx + 2, p + nx + 1});
        }
    return MakeMesh(points, faces, uv);
}

double NormalZTimesArea(const C3DObject& mesh, unsigned face)
{
    const C3DPointList& p = *mesh.GetPointList();
    int n = 0;
    const int* c = mesh.GetFaceList()->GetIndexes(face, n);
    double sum = 0;
    for (int k = 0; k < n; ++k)
        sum += double(p[c[k]].m_X) * p[c[(k + 1) % n]].m_Y -
               double(p[c[(k + 1) % n]].m_X) * p[c[k]].m_Y;
    return 0.5 * sum;
}

bool StopAlways(int event, ProcessProgressInfo*, void*)
{
    return (event & kProgressAskStopBit) != 0;
}
} // namespace

TEST(MergeCoplanarTest, TwoTrianglesBecomeOneQuadrangleUnlessSomethingSeparatesThem)
{
    const std::vector<Point3> square = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    {
        MeshPtr mesh = MakeMesh(square, {{0, 1, 2}, {0, 2, 3}}, true, {5, 5});
        EXPECT_EQ(mesh->MergeCoplanarFaces(0.01), 1);
        std::vector<Face> faces = FacesOf(*mesh->GetFaceList());
        ASSERT_EQ(faces.size(), 1u);
        EXPECT_EQ(faces[0].size(), 4u);
        EXPECT_NEAR(NormalZTimesArea(*mesh, 0), 1.0, 1e-6); // same facing, same area
        EXPECT_EQ(mesh->GetFaceList()->GetFaceMaterial(0), 5u);
        ASSERT_NE(UVFaces(*mesh), nullptr);
        std::vector<Face> uv = FacesOf(*UVFaces(*mesh));
        ASSERT_EQ(uv.size(), 1u);
        for (size_t k = 0; k < 4; ++k)
            EXPECT_EQ(UVValue(*mesh, uv[0][k]).m_U, square[size_t(faces[0][k])][0]);
    }
    {
        SCOPED_TRACE("materials differ");
        MeshPtr mesh = MakeMesh(square, {{0, 1, 2}, {0, 2, 3}}, true, {5, 6});
        const unsigned checksum = mesh->GetChecksum(16);
        EXPECT_EQ(mesh->MergeCoplanarFaces(0.01), 2);
        EXPECT_EQ(mesh->GetChecksum(16), checksum);
    }
    {
        SCOPED_TRACE("texture seam along the shared edge");
        MeshPtr mesh = MakeMesh(square, {{0, 1, 2}, {0, 2, 3}}, true, {5, 5});
        auto* uv = static_cast<CUVWChannel*>(mesh->GetChannelByID(kUVID, _ChannelUVW));
        uv->GetUVWPointList()->SetSize(5);
        (*uv->GetUVWPointList())[4] = CUVWPoint(0.5f, 0.5f, 0); // point 2 seen from face 1
        const int seam[] = {0, 4, 3};
        ASSERT_TRUE(uv->GetFaceList()->SetFaceIndexes(1, seam, 3));
        EXPECT_EQ(mesh->MergeCoplanarFaces(0.01), 2);
        // The same value under another index is no seam.
        (*uv->GetUVWPointList())[4] = CUVWPoint(1, 1, 0);
        EXPECT_EQ(mesh->MergeCoplanarFaces(0.01), 1);
    }
    {
        SCOPED_TRACE("folded by a right angle");
        MeshPtr mesh =
            MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 1}}, {{0, 1, 2}, {1, 3, 2}});
        EXPECT_EQ(mesh->MergeCoplanarFaces(0.5), 2);
        EXPECT_EQ(mesh->MergeCoplanarFaces(1.6), 1);
    }
}

TEST(MergeCoplanarTest, GridBecomesItsOutlineWithoutCollinearPoints)
{
    MeshPtr row = Grid(3, 1, true);
    EXPECT_EQ(row->MergeCoplanarFaces(0.0), 1);
    std::vector<Face> faces = FacesOf(*row->GetFaceList());
    ASSERT_EQ(faces.size(), 1u);
    EXPECT_EQ(faces[0].size(), 4u); // the points on the long sides are gone
    EXPECT_NEAR(NormalZTimesArea(*row, 0), 3.0, 1e-6);
    EXPECT_EQ(FacesOf(*UVFaces(*row)).size(), 1u);

    MeshPtr grid = Grid(10, 10, false);
    EXPECT_EQ(grid->MergeCoplanarFaces(0.0), 1);
    EXPECT_NEAR(NormalZTimesArea(*grid, 0), 100.0, 1e-4);
}

TEST(MergeCoplanarTest, GroupAroundAHoleKeepsItsFaces)
{
    MeshPtr ring = Grid(3, 3, false, {4});
    EXPECT_EQ(ring->MergeCoplanarFaces(0.0), 8);
    for (unsigned f = 0; f < 8; ++f)
        EXPECT_EQ(ring->GetFaceList()->GetFaceSize(f), 4);
}

TEST(MergeCoplanarTest, StopLeavesTheObjectUnchanged)
{
    MeshPtr mesh = Grid(20, 20, true);
    const unsigned checksum = mesh->GetChecksum(16);
    std::vector<uint8_t> before =
        zantest::StoreToBytes([&](CXArchive& ar) { mesh->Serialize(ar); });
    void* previousData = nullptr;
    ProgressHandler previous = progressSetCallback(StopAlways, nullptr, &previousData);
    int result = mesh->MergeCoplanarFaces(0.0);
    progressSetCallback(previous, previousData);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(mesh->GetChecksum(16), checksum);
    EXPECT_EQ(zantest::StoreToBytes([&](CXArchive& ar) { mesh->Serialize(ar); }), before);

    EXPECT_EQ(mesh->MergeCoplanarFaces(std::nan("")), -1);
    EXPECT_EQ(mesh->GetChecksum(16), checksum);
    MeshPtr empty(new C3DObject);
    EXPECT_EQ(empty->MergeCoplanarFaces(0.1), -1);
}

TEST(ChannelFrontierTest, ColoursAndUnusableChannelFaces)
{
    MeshPtr mesh =
        MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 3}}, true);
    auto* vc = static_cast<CVCChannel*>(CChannel::Create(_ChannelVC, 41002));
    vc->GetVCPointList()->SetSize(5);
    for (int i = 0; i < 5; ++i)
        (*vc->GetVCPointList())[i] = CVCPoint(CRGBColor(uint8_t(i < 4 ? 10 : 11), 0, 0, 255));
    ASSERT_TRUE(vc->GetFaceList()->SetSize(*mesh->GetFaceList()));
    mesh->AddChannel(vc);
    CGeomInfo geom(mesh.get());
    const C3DEdge shared(0, 2);
    EXPECT_FALSE(vc->IsVCFrontier(&geom, 0, shared, 0, 1)); // different indices, equal colours
    const int other[] = {4, 2, 3};
    ASSERT_TRUE(vc->GetFaceList()->SetFaceIndexes(1, other, 3));
    EXPECT_TRUE(vc->IsVCFrontier(&geom, 0, shared, 0, 1));
    EXPECT_FALSE(vc->IsVCFrontier(&geom, 5.0 / 255, shared, 0, 1)); // one step apart
    EXPECT_TRUE(vc->IsVCFrontier(&geom, 0, C3DEdge(1, 3), 0, 1));   // not an edge of face 0

    auto* uv = static_cast<CUVWChannel*>(mesh->GetChannelByID(kUVID, _ChannelUVW));
    EXPECT_FALSE(uv->IsUVFrontier(&geom, 0.0, shared, 0, 1));
    uv->GetFaceList()->SetFaceFlags(1, _FaceExcluded, true); // one face without values
    EXPECT_TRUE(uv->IsUVFrontier(&geom, 0.0, shared, 0, 1));
    uv->GetFaceList()->SetFaceFlags(0, _FaceExcluded, true); // neither has values
    EXPECT_FALSE(uv->IsUVFrontier(&geom, 0.0, shared, 0, 1));
    EXPECT_TRUE(uv->IsUVFrontier(nullptr, 0.0, shared, 0, 1));
}
