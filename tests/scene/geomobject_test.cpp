// Geometric objects: transforms and flips with their channel faces, smoothing settings,
// boxes and their caches, cleaning, sub-objects, concatenation and copies. Every edit of
// faces is followed by a check that the channel face lists stay parallel to the geometry's.
#include "common/geometry_checks.h"
#include "scene/geomobject_builders.h"

#include <3dzan/animation/math.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/objectcreator.h>
#include <3dzan/scene/scenedefaults.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace scenetest;

namespace
{
std::vector<int> Corners(const CFaceList& faces, unsigned face)
{
    int count = 0;
    const int* items = faces.GetIndexes(face, count);
    return std::vector<int>(items, items + count);
}

void ExpectParallel(C3DGeomObject& object)
{
    ASSERT_TRUE(object.GetFaceList());
    zantest::ExpectChannelsParallel(*object.GetFaceList(), *object.GetChannels());
}
} // namespace

TEST(GeomObject, TransformsSkipNearIdentityAndMirroringFlipsEveryFaceWithItsChannels)
{
    MeshPtr mesh = MakeTestMesh();
    const unsigned before = mesh->GetChecksum(0x10);
    C4x4TMatrix<float> nearly;
    nearly[0][0] = 1.005f;
    nearly[1][2] = -0.005f;
    nearly[2][3] = 0.004f;
    EXPECT_FALSE(mesh->MatrixTransform(nearly));
    C4x4TMatrix<float> notFinite;
    notFinite[0][3] = NAN;
    EXPECT_FALSE(mesh->MatrixTransform(notFinite));
    EXPECT_EQ(mesh->GetChecksum(0x10), before);

    C3DTBBox<float> box;
    ASSERT_TRUE(mesh->GetBoundingBox(box, _BBoxPoints));
    C4x4TMatrix<float> mirror; // x -> -x, then moved by 10 along y
    mirror[0][0] = -1.0f;
    mirror[1][3] = 10.0f;
    const auto geometryBefore = Corners(*mesh->GetFaceList(), 0);
    const auto uvBefore = Corners(*mesh->GetChannelByID(kUVID)->GetFaceList(), 0);
    ASSERT_TRUE(mesh->MatrixTransform(mirror));
    auto reversed = [](std::vector<int> v) { return std::vector<int>(v.rbegin(), v.rend()); };
    EXPECT_EQ(Corners(*mesh->GetFaceList(), 0), reversed(geometryBefore));
    EXPECT_EQ(Corners(*mesh->GetChannelByID(kUVID)->GetFaceList(), 0), reversed(uvBefore));
    ExpectParallel(*mesh);
    // The box follows the points: the cache was dropped by the transform.
    ASSERT_TRUE(mesh->GetBoundingBox(box, _BBoxPoints));
    EXPECT_FLOAT_EQ(box.GetMin().m_X, -2.0f);
    EXPECT_FLOAT_EQ(box.GetMin().m_Y, 10.0f);
    // A rotation keeps the winding.
    C4x4TMatrix<float> turn;
    turn[0][0] = 0.0f, turn[0][1] = -1.0f, turn[1][0] = 1.0f, turn[1][1] = 0.0f;
    const auto turned = Corners(*mesh->GetFaceList(), 1);
    ASSERT_TRUE(mesh->MatrixTransform(turn));
    EXPECT_EQ(Corners(*mesh->GetFaceList(), 1), turned);
}

TEST(GeomObject, SmoothingSettingsClampAndInherit)
{
    C3DObject object;
    bool inherited = false;
    EXPECT_FLOAT_EQ(object.GetSmoothAngle(&inherited), CSceneDefaults::GetSceneDefaults().GetSmoothAngle());
    EXPECT_TRUE(inherited);
    EXPECT_TRUE(object.SetSmoothAngle(float(200.0 * M_PI / 180.0)));
    EXPECT_EQ(object.GetSmoothAngle(&inherited), 3.1415927f);
    EXPECT_FALSE(inherited);
    EXPECT_TRUE(object.SetSmoothAngle(-0.5f));
    EXPECT_EQ(object.GetSmoothAngle(), 0.0f);
    EXPECT_FALSE(object.SetSmoothAngle(NAN));
    EXPECT_EQ(object.GetSmoothAngle(), 0.0f);
    EXPECT_TRUE(object.SetSmoothAngle(-1.0f));
    EXPECT_FLOAT_EQ(object.GetSmoothAngle(&inherited), CSceneDefaults::GetSceneDefaults().GetSmoothAngle());
    EXPECT_TRUE(inherited);

    EXPECT_EQ(object.GetSmoothMode(&inherited), _NormalSmoothMode(CSceneDefaults::GetSceneDefaults().GetSmoothMode()));
    EXPECT_TRUE(inherited);
    EXPECT_TRUE(object.SetSmoothMode(_SmoothModeAngle));
    EXPECT_FALSE(object.SetSmoothMode(_NormalSmoothMode(5)));
    EXPECT_EQ(object.GetSmoothMode(&inherited), _SmoothModeAngle);
    EXPECT_FALSE(inherited);
}

TEST(GeomObject, BoundingBoxesHonourTheirFlagsAndCaches)
{
    MeshPtr mesh = MakeTestMesh();
    C3DTBBox<float> box;
    EXPECT_FALSE(mesh->GetBoundingBox(box, 0));
    EXPECT_TRUE(box.IsEmpty());
    EXPECT_FALSE(mesh->GetBoundingBox(box, _BBoxPoints | _BBoxNodeSpace));

    // Point 6 is used by no face: only the points box reaches it.
    ASSERT_TRUE(mesh->GetBoundingBox(box, _BBoxFaces));
    EXPECT_FLOAT_EQ(box.GetMax().m_Z, 0.0f);
    ASSERT_TRUE(mesh->GetBoundingBox(box, _BBoxPoints));
    EXPECT_FLOAT_EQ(box.GetMax().m_Z, 5.0f);
    // Flagged points only, and that filtered box does not replace the cached one.
    (*mesh->GetPointList())[2].SetFlags(0x10, true);
    ASSERT_TRUE(mesh->GetBoundingBox(box, _BBoxPoints, 0x10, true));
    EXPECT_EQ(box.GetMin(), box.GetMax());
    ASSERT_TRUE(mesh->GetBoundingBox(box, _BBoxPoints));
    EXPECT_FLOAT_EQ(box.GetMax().m_Z, 5.0f);

    // Moving a point behind the object's back leaves the cache; a new point list drops it.
    (*mesh->GetPointList())[6].Set(0.0f, 0.0f, 9.0f);
    ASSERT_TRUE(mesh->GetBoundingBox(box, _BBoxPoints));
    EXPECT_FLOAT_EQ(box.GetMax().m_Z, 5.0f);
    auto* points = C3DPointList::Create();
    *points = *mesh->GetPointList();
    mesh->SetPointList(points, true);
    ASSERT_TRUE(mesh->GetBoundingBox(box, _BBoxPoints));
    EXPECT_FLOAT_EQ(box.GetMax().m_Z, 9.0f);
    C3DTPoint<float> center;
    ASSERT_TRUE(mesh->GetCG(center));
    EXPECT_FLOAT_EQ(center.m_Z, 4.5f);

    mesh->SetFlag(_ObjectEmpty, true);
    EXPECT_FALSE(mesh->GetBoundingBox(box, _BBoxPoints));
}

TEST(GeomObject, CleanOfDegenerateFacesEmptiesTheObject)
{
    MeshPtr mesh = MakeTestMesh();
    for (unsigned face = 0; face < unsigned(mesh->GetFaceNbr()); ++face)
    {
        int count = 0;
        mesh->GetFaceList()->GetIndexes(face, count);
        std::vector<int> same(size_t(count), 1);
        ASSERT_TRUE(mesh->GetFaceList()->SetFaceIndexes(face, same.data(), unsigned(count)));
    }
    EXPECT_TRUE(mesh->Clean());
    EXPECT_EQ(mesh->GetFaceNbr(), 0);
    EXPECT_EQ(mesh->GetPointNbr(), 0);
    EXPECT_TRUE(mesh->IsFlagSet(_ObjectEmpty));
    ExpectParallel(*mesh);
    EXPECT_FALSE(mesh->Clean());
    EXPECT_FALSE(mesh->FlipNormals());
    EXPECT_FALSE(mesh->IsTriangular());
}

TEST(GeomObject, ContextsReadTheObjectsOwnListsAndMaterialsAreReplacedOnce)
{
    MeshPtr mesh = MakeTestMesh();
    CGeomInfo info(mesh.get());
    EXPECT_EQ(info.GetGeomObject(), mesh.get());
    EXPECT_EQ(info.GetSrc3DPointList(), mesh->GetPointList());
    EXPECT_EQ(info.GetSrc3DFaceList(), mesh->GetFaceList());
    EXPECT_EQ(info.GetSrcChannels(), mesh->GetChannels());
    EXPECT_EQ(info.GetOwnership(), 0u);

    CHashMap<unsigned, unsigned> mapping(11);
    mapping.Insert(7, 8);
    mapping.Insert(8, 9);
    ASSERT_TRUE(mesh->ReplaceMaterials(mapping));
    EXPECT_EQ(mesh->GetFaceList()->GetFaceMaterial(0), 8u); // 7 -> 8, not on to 9
    EXPECT_EQ(mesh->GetFaceList()->GetFaceMaterial(1), 9u);
    EXPECT_FALSE(mesh->ReplaceMaterial(42, 43));
}

TEST(GeomObject, SubObjectsKeepTheirPointsAndChannelValues)
{
    MeshPtr mesh = MakeTestMesh();
    const int picked[] = {2, 0};
    MeshPtr part(mesh->SubObject(picked, 2));
    ASSERT_TRUE(part);
    EXPECT_EQ(part->GetKindOf(), _ObjectKindPolygonal);
    ASSERT_EQ(part->GetFaceNbr(), 2);
    EXPECT_EQ(part->GetPointNbr(), 5); // points 0, 1, 3, 4, 5 of the source
    ExpectParallel(*part);
    // Geometry and texture coordinates of each corner are those of the source corner.
    const C3DFaceList& from = *mesh->GetFaceList();
    for (int i = 0; i < 2; ++i)
    {
        auto source = Corners(from, unsigned(picked[i]));
        auto mine = Corners(*part->GetFaceList(), unsigned(i));
        ASSERT_EQ(mine.size(), source.size());
        EXPECT_EQ(part->GetFaceList()->GetFaceMaterial(unsigned(i)),
                  from.GetFaceMaterial(unsigned(picked[i])));
        for (size_t k = 0; k < mine.size(); ++k)
        {
            EXPECT_EQ((*part->GetPointList())[mine[k]], (*mesh->GetPointList())[source[k]]);
            EXPECT_EQ(UVAt(*part, unsigned(i), k), UVAt(*mesh, unsigned(picked[i]), k));
            EXPECT_EQ(WeightAt(*part, mine[k]), WeightAt(*mesh, source[k]));
        }
    }
    EXPECT_EQ(part->GetChannelByID(kUVID)->GetPointList()->GetSize(), 5);

    MeshPtr quads(mesh->SubObject(4, _SubObjectEqual));
    ASSERT_TRUE(quads);
    EXPECT_EQ(quads->GetFaceNbr(), 1);
    MeshPtr large(mesh->SubObject(3, _SubObjectGreater));
    ASSERT_TRUE(large);
    EXPECT_EQ(large->GetFaceNbr(), 2);
    EXPECT_EQ(mesh->SubObject(6, _SubObjectEqual), nullptr);
    EXPECT_EQ(mesh->SubObject(3, _SUBOBJECT_MODE(2)), nullptr);
    const int repeated[] = {1, 1}, outside[] = {0, 3}, negative[] = {-1};
    EXPECT_EQ(mesh->SubObject(repeated, 2), nullptr);
    EXPECT_EQ(mesh->SubObject(outside, 2), nullptr);
    EXPECT_EQ(mesh->SubObject(negative, 1), nullptr);
    EXPECT_EQ(mesh->SubObject(nullptr, 1), nullptr);
}

TEST(GeomObject, ConcatenationMatchesChannelsAndFlagsWhatASourceLacks)
{
    MeshPtr target = MakeTestMesh();
    MeshPtr other = MakeTestMesh();
    other->GetChannels()->RemoveChannelByID(kUVID);       // the target's UV: missing here
    other->AddChannel(MakeVCChannel(*other, kExtraVCID)); // new to the target
    other->GetPointList()->SavePointsIndex();             // per-point data that must follow
    CXArray<C3DGeomObject*> sources;
    C3DCurve curve;
    sources.Add(other.get());
    sources.Add(nullptr);
    sources.Add(target.get()); // itself: skipped
    sources.Add(&curve);       // a curve with a mesh: skipped
    const int points = target->GetPointNbr(), faces = target->GetFaceNbr();
    ASSERT_TRUE(target->Concatenate(nullptr, sources, nullptr));
    ExpectParallel(*target);
    ASSERT_EQ(target->GetPointNbr(), 2 * points);
    ASSERT_EQ(target->GetFaceNbr(), 2 * faces);

    for (int f = 0; f < faces; ++f)
    {
        auto own = Corners(*other->GetFaceList(), unsigned(f));
        auto appended = Corners(*target->GetFaceList(), unsigned(faces + f));
        for (size_t k = 0; k < own.size(); ++k)
            EXPECT_EQ(appended[k], own[k] + points);
        EXPECT_EQ(target->GetFaceList()->GetFaceMaterial(unsigned(faces + f)),
                  other->GetFaceList()->GetFaceMaterial(unsigned(f)));
        // The UV channel has nothing for the appended faces, the new colour channel nothing
        // for the target's own faces.
        const CFaceList& uv = *target->GetChannelByID(kUVID, _ChannelUVW)->GetFaceList();
        const CFaceList& vc = *target->GetChannelByID(kExtraVCID, _ChannelVC)->GetFaceList();
        EXPECT_TRUE(uv.IsFaceFlagsSet(unsigned(faces + f), 3));
        EXPECT_FALSE(uv.IsFaceOneFlagSet(unsigned(f), 3));
        EXPECT_TRUE(vc.IsFaceFlagsSet(unsigned(f), 3));
        EXPECT_FALSE(vc.IsFaceOneFlagSet(unsigned(faces + f), 3));
    }
    // Channels that both have are appended to one another; per-point values follow points.
    EXPECT_EQ(target->GetChannels()->GetChannelsNumber(_ChannelVC), 2u);
    EXPECT_EQ(target->GetChannelByID(kVCID)->GetPointList()->GetSize(),
              2 * other->GetChannelByID(kVCID)->GetPointList()->GetSize());
    for (int p = 0; p < points; ++p)
    {
        EXPECT_EQ(WeightAt(*target, points + p), WeightAt(*other, p));
        EXPECT_EQ(target->GetPointList()->GetOriginalIndex(unsigned(points + p)), unsigned(p));
    }

    // An empty object takes everything, as a patch's final object is assembled.
    C3DObject empty;
    empty.SetFlag(_ObjectEmpty, true);
    CXArray<C3DGeomObject*> parts;
    parts.Add(other.get());
    ASSERT_TRUE(empty.Concatenate(nullptr, parts, nullptr));
    EXPECT_FALSE(empty.IsFlagSet(_ObjectEmpty));
    EXPECT_EQ(empty.GetChecksum(0x10), other->GetChecksum(0x10));
    ExpectParallel(empty);
    CXArray<C3DGeomObject*> nothing;
    EXPECT_FALSE(empty.Concatenate(nullptr, nothing, nullptr));
}

TEST(GeomObject, CopiesAreDeepKeepKindsAndGoThroughTheirCreator)
{
    MeshPtr mesh = MakeTestMesh();
    mesh->SetSmoothAngle(0.5f);
    const unsigned next = C3DBaseObject::GetNextObjectID();
    MeshPtr copy = AsMesh(mesh->Copy(0));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->GetObjectID(), next);
    MeshPtr second = AsMesh(mesh->Copy(0));
    EXPECT_EQ(second->GetObjectID(), next + 1);
    EXPECT_EQ(copy->GetChecksum(0x10), mesh->GetChecksum(0x10));
    EXPECT_EQ(copy->GetSmoothAngle(), 0.5f);
    EXPECT_NE(copy->GetPointList(), mesh->GetPointList());
    EXPECT_EQ(copy->GetChannelByID(kUVID)->GetChannelID(), kUVID);
    ExpectParallel(*copy);
    ASSERT_TRUE(copy->FlipNormals());
    EXPECT_NE(copy->GetChecksum(0x10), mesh->GetChecksum(0x10));

    // Meshes copy only into meshes (or patches), curves into curves.
    C3DBaseObject* curveTarget = new C3DCurve;
    EXPECT_FALSE(mesh->InternalCopy(curveTarget, 0, nullptr));
    curveTarget->Delete();
    C3DCurve curve;
    curve.SetPointList(C3DPointList::Create(), true);
    curve.GetPointList()->SetSize(4);
    curve.SetMaterialID(12);
    ObjectPtr curveCopy(curve.Copy(0));
    ASSERT_TRUE(curveCopy && static_cast<C3DCurve*>(*curveCopy));
    EXPECT_EQ(static_cast<C3DCurve*>(*curveCopy)->GetMaterialID(), 12u);
    EXPECT_EQ(static_cast<C3DCurve*>(*curveCopy)->GetPointNbr(), 4);

    // A mesh creator makes polygonal objects only: a curve cannot go into one.
    C3DMeshObjectCreator meshes;
    EXPECT_EQ(curve.Copy(0, &meshes), nullptr);
    MeshPtr viaCreator = AsMesh(mesh->Copy(0, &meshes));
    ASSERT_TRUE(viaCreator);
    EXPECT_EQ(viaCreator->GetChecksum(0x10), mesh->GetChecksum(0x10));
    ObjectPtr instance(mesh->Copy(_CopyInstance));
    EXPECT_EQ(instance.get(), mesh.get());
    EXPECT_TRUE(mesh->IsInstanciated());
    instance.release()->DeleteFromNode();
}

TEST(GeomObject, InitBuildsListsAndCamerasHandOutTheirIconAsAMesh)
{
    C3DObject object;
    EXPECT_FALSE(object.Init(-1, 2, 3, 0, 0, kZanNone));
    EXPECT_EQ(object.GetFaceList(), nullptr);
    ASSERT_TRUE(object.Init(8, 6, 4, 1, 10, 20001));
    EXPECT_EQ(object.GetPointNbr(), 8);
    EXPECT_EQ(object.GetFaceNbr(), 6);
    EXPECT_FALSE(object.IsTriangular());
    ASSERT_TRUE(object.GetChannelByID(20001, _ChannelUVW));
    EXPECT_EQ(object.GetChannelByID(20001)->GetPointList()->GetSize(), 10);
    ExpectParallel(object);

    C3DCamera camera;
    C3DBaseObject* final = camera.GetFinalObject(false);
    ASSERT_TRUE(final);
    EXPECT_EQ(final->GetKindOf(), _ObjectKindPolygonal);
    EXPECT_EQ(static_cast<C3DObject*>(*final)->GetPointNbr(), C3DDisplayMesh::kCameraPointNbr);
    EXPECT_EQ(camera.GetFinalObject(false), final);
    ObjectPtr taken(camera.GetFinalObject(true));
    EXPECT_EQ(taken.get(), final);
    EXPECT_NE(camera.GetFinalObject(false), final);
}
