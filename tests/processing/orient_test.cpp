// Orientation and sorting: a reversed face found and turned back with its channel face,
// parts meeting at a point lined up, and sorting by material keeping channel faces in step.
#include "processing/polyops_mesh.h"

#include <3dzan/geometry/geominfo.h>

using namespace polytest;

namespace
{
// A closed cube, faces facing out, with texture coordinates per corner.
MeshPtr Cube()
{
    std::vector<Point3> p;
    for (int i = 0; i < 8; ++i)
        p.push_back({float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1)});
    return MakeMesh(
        p, {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}},
        true);
}

void ReverseFace(C3DObject& mesh, unsigned face, bool channelToo)
{
    CGeomInfo geom(&mesh);
    if (channelToo)
        ASSERT_TRUE(mesh.GetFaceList()->Flip(&geom, int(face)));
    else
    {
        CFace handle;
        ASSERT_TRUE(mesh.GetFaceList()->GetFace(face, handle));
        handle.Flip();
    }
}
} // namespace

TEST(UnifyNormalsTest, TurnsBackExactlyTheReversedFaceAndItsChannelFace)
{
    for (unsigned reversed = 0; reversed < 6; ++reversed)
    {
        SCOPED_TRACE(reversed);
        MeshPtr mesh = Cube();
        const std::vector<Face> original = FacesOf(*mesh->GetFaceList());
        ReverseFace(*mesh, reversed, true);
        EXPECT_EQ(FacesOf(*UVFaces(*mesh))[reversed], FacesOf(*mesh->GetFaceList())[reversed]);
        ASSERT_TRUE(mesh->UnifyNormals());
        std::vector<Face> faces = FacesOf(*mesh->GetFaceList());
        if (reversed == 0)
        {
            // The walk starts at face 0 and keeps it: every other face turns instead.
            for (size_t f = 1; f < 6; ++f)
                EXPECT_NE(faces[f], original[f]);
        }
        else
            EXPECT_EQ(faces, original);
        EXPECT_EQ(FacesOf(*UVFaces(*mesh)), faces); // channel faces turned with their faces
    }
}

TEST(UnifyNormalsTest, PartsMeetingAtAPointAreLinedUp)
{
    // Two coplanar triangles touching at point 2; the second one faces down.
    MeshPtr mesh =
        MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 0}, {2, 2, 0}}, {{0, 1, 2}, {2, 4, 3}});
    ASSERT_TRUE(mesh->UnifyNormals());
    std::vector<Face> faces = FacesOf(*mesh->GetFaceList());
    EXPECT_EQ(faces[0], (Face{0, 1, 2}));
    EXPECT_EQ(faces[1], (Face{3, 4, 2}));

    // A part standing at a right angle is not a neighbour to line up.
    MeshPtr apart =
        MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 2, 1}}, {{0, 1, 2}, {2, 4, 3}});
    ASSERT_TRUE(apart->UnifyNormals());
    EXPECT_EQ(FacesOf(*apart->GetFaceList())[1], (Face{2, 4, 3}));

    MeshPtr empty(new C3DObject);
    EXPECT_FALSE(empty->UnifyNormals());
}

TEST(SortFacesTest, OrdersByMaterialWithChannelFaces)
{
    std::vector<Point3> p = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}};
    std::vector<Face> faces = {{0, 1, 2}, {0, 2, 3}, {1, 4, 2}, {0, 1, 3}};
    MeshPtr mesh = MakeMesh(p, faces, true, {3, 1, 2, 1});
    bool changed = false;
    std::vector<unsigned> order = mesh->GetFaceList()->Sort(_FaceSortMaterial, changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(order, (std::vector<unsigned>{1, 3, 2, 0}));
    ASSERT_TRUE(mesh->SortFaces(_FaceSortMaterial));
    std::vector<Face> sorted = FacesOf(*mesh->GetFaceList());
    EXPECT_EQ(sorted, (std::vector<Face>{faces[1], faces[3], faces[2], faces[0]}));
    EXPECT_EQ(FacesOf(*UVFaces(*mesh)), sorted);
    for (unsigned f = 0; f < 4; ++f)
        EXPECT_EQ(mesh->GetFaceList()->GetFaceMaterial(f), (std::vector<unsigned>{1, 1, 2, 3})[f]);

    // Ordered already, or a mode that keeps the order: nothing moves.
    const unsigned checksum = mesh->GetChecksum(16);
    EXPECT_FALSE(mesh->SortFaces(_FaceSortMaterial));
    EXPECT_FALSE(mesh->SortFaces(_FaceSortNone));
    mesh->GetFaceList()->Sort(_FaceSortMaterialGroup, changed);
    EXPECT_FALSE(changed);
    EXPECT_EQ(mesh->GetChecksum(16), checksum);
}
