// The coplanar-faces point flag: flat regions, borders, creases at and around the angle,
// points of one face or none, and the cube where every corner is a crease.
#include "processing/polyops_mesh.h"

#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{
using namespace polytest;
constexpr unsigned kFlag = 0x20000;

// A 4 x 2 grid of quads folded along x = 2 by \p fold radians (the right half rises), and one
// point that no face uses.
MeshPtr FoldedGrid(double fold)
{
    std::vector<Point3> points;
    for (int j = 0; j <= 2; ++j)
        for (int i = 0; i <= 4; ++i)
        {
            const double run = std::max(0, i - 2);
            points.push_back({float(std::min(i, 2) + run * std::cos(fold)), float(j),
                              float(run * std::sin(fold))});
        }
    points.push_back({9, 9, 9});
    std::vector<Face> faces;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 4; ++i)
            faces.push_back({j * 5 + i, j * 5 + i + 1, (j + 1) * 5 + i + 1, (j + 1) * 5 + i});
    return MakeMesh(points, faces);
}

std::vector<int> Flagged(C3DObject& mesh, double angle)
{
    CGeomInfo geom(&mesh);
    EXPECT_TRUE(mesh.GetPointList()->InitShareCoplanarFacesFlag(&geom, angle));
    std::vector<int> flagged;
    for (int p = 0; p < mesh.GetPointNbr(); ++p)
        if ((*mesh.GetPointList())[p].IsOneFlagSet(kFlag))
            flagged.push_back(p);
    return flagged;
}
} // namespace

TEST(CoplanarFacesFlag, FlatPointsOfTwoOrMoreFacesOnly)
{
    MeshPtr flat = FoldedGrid(0.0);
    // Every point but the four corners (one face each) and the unused point 15.
    const std::vector<int> expected = {1, 2, 3, 5, 6, 7, 8, 9, 11, 12, 13};
    EXPECT_EQ(Flagged(*flat, 0.0), expected);

    // A 30-degree fold: the fold line (2, 7, 12) is a crease below that angle, and flat at
    // 31 degrees; flags set before are cleared where they no longer hold.
    MeshPtr folded = FoldedGrid(30.0 * M_PI / 180.0);
    (*folded->GetPointList())[15].SetFlags(kFlag, true);
    const std::vector<int> creased = {1, 3, 5, 6, 8, 9, 11, 13};
    EXPECT_EQ(Flagged(*folded, 29.0 * M_PI / 180.0), creased);
    EXPECT_EQ(Flagged(*folded, 31.0 * M_PI / 180.0), expected);
}

TEST(CoplanarFacesFlag, CubeCornersAreCreasesAndBadInputChangesNothing)
{
    std::vector<Point3> points;
    for (int i = 0; i < 8; ++i)
        points.push_back({float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1)});
    MeshPtr cube = MakeMesh(points, {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                     {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}});
    for (int p = 0; p < 8; ++p)
        (*cube->GetPointList())[p].SetFlags(kFlag, true);
    EXPECT_TRUE(Flagged(*cube, 0.5).empty());
    EXPECT_EQ(Flagged(*cube, M_PI).size(), 8u) << "every normal is within 180 degrees";

    MeshPtr noFaces(new C3DObject);
    noFaces->SetPointList(C3DPointList::Create(), true);
    CGeomInfo geom(noFaces.get());
    EXPECT_FALSE(noFaces->GetPointList()->InitShareCoplanarFacesFlag(&geom, 0.1));
    EXPECT_FALSE(cube->GetPointList()->InitShareCoplanarFacesFlag(nullptr, 0.1));
}
