// The checkout and export steps whose work is done by the scene-wide and texture-coordinate
// operations (orientation, axis swaps, global coordinates, concatenation, merging by
// material, texture coordinates, seams, channel unification, groups, texture moving, unit
// scaling), observed through their results on small scenes.
#include "scene/geomobject_builders.h"
#include "scene/scene_pipeline_helpers.h"

#include <3dzan/animation/keys.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/materials/material.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/scene/group.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace pipetest;

namespace
{
void Translate(C3DSceneNode* node, float x, float y, float z)
{
    static_cast<C3DVectorKey*>(node->CreateKey(0, kNodeTranslateKey))->SetVector(V3(x, y, z));
}

// Where point 0 of the node's object lies in the world (NaN, with a failure, without node).
P3 WorldPoint(C3DSceneNode* node, int point = 0)
{
    if (!node || !node->GetGeomObject())
    {
        ADD_FAILURE() << "no geometric node";
        return P3(NAN, NAN, NAN);
    }
    C4x4TMatrix<float> matrix;
    node->GetNodeTM(0, matrix, false);
    return matrix.TransformPoint((*node->GetGeomObject()->GetPointList())[point]);
}

::testing::AssertionResult Near(P3 a, P3 b, float tolerance = 1e-4f)
{
    for (int axis = 0; axis < 3; ++axis)
        if (!(std::fabs(a[axis] - b[axis]) <= tolerance))
            return ::testing::AssertionFailure()
                   << "(" << a[0] << ", " << a[1] << ", " << a[2] << ") is not (" << b[0] << ", "
                   << b[1] << ", " << b[2] << ")";
    return ::testing::AssertionSuccess();
}

// A quad moved to (1, 2, 3) by a translation key; its point 0 is at the origin of the object.
ScenePtr MovedQuadScene()
{
    ScenePtr scene(C3DScene::Create());
    Translate(AddNode(*scene, nullptr, "Quad", MakeQuad(1)), 1, 2, 3);
    scene->CreateNewMaterial(1);
    scene->SetFilename(CFileNameSpec("/tmp/models/part.obj"));
    return scene;
}
} // namespace

TEST(ScenePipeline, OrientingOnImportThenExportRestoresThePlacement)
{
    ScenePtr scene = MovedQuadScene();
    CSceneImportOptions import;
    import.m_OrientationMode = _UpAxisZ;
    scene->CheckoutImport(import);
    EXPECT_TRUE(HasLog(import, "Change scene orientation"));
    C3DSceneNode* quad = FindNode(*scene, "Quad");
    EXPECT_TRUE(Near(WorldPoint(quad), P3(1, 3, -2))) << "Z up becomes Y up";

    CExportRun run(*scene, 0);
    run.Options().m_OrientationMode = _UpAxisZ;
    ASSERT_TRUE(run.Run());
    EXPECT_TRUE(HasLog(run.Options(), "Change scene orientation"));
    EXPECT_TRUE(Near(WorldPoint(FindNode(*run.Copy(), "Quad")), P3(1, 2, 3)));
}

TEST(ScenePipeline, SwappingAxesMovesPointsAndKeys)
{
    ScenePtr scene = MovedQuadScene();
    CSceneImportOptions import;
    import.m_SwapMode = _SwapYZ;
    scene->CheckoutImport(import);
    EXPECT_TRUE(HasLog(import, "Swap coordinates"));
    EXPECT_TRUE(Near(WorldPoint(FindNode(*scene, "Quad"), 1), P3(2, 3, 2)));
}

TEST(ScenePipeline, GlobalCoordinatesBakeTheKeysIntoTheObjects)
{
    {
        ScenePtr scene = MovedQuadScene();
        CSceneImportOptions import(_ImportGlobalCoordinates);
        scene->CheckoutImport(import);
        C3DSceneNode* quad = FindNode(*scene, "Quad");
        ASSERT_NE(quad, nullptr);
        EXPECT_EQ(quad->GetKeyNbr(), 0u);
        EXPECT_TRUE(Near((*quad->GetGeomObject()->GetPointList())[0], P3(1, 2, 3)));
        EXPECT_TRUE(HasLog(import, "Converting /tmp/models/part.obj from local to global "
                                   "coordinates"));
    }
    {
        ScenePtr scene = MovedQuadScene();
        CExportRun run(*scene, _ExportGlobalCoordinates);
        ASSERT_TRUE(run.Run());
        C3DSceneNode* quad = FindNode(*run.Copy(), "Quad");
        ASSERT_NE(quad, nullptr);
        EXPECT_EQ(quad->GetKeyNbr(), 0u);
        EXPECT_TRUE(Near((*quad->GetGeomObject()->GetPointList())[0], P3(1, 2, 3)));
        EXPECT_TRUE(
            HasLog(run.Options(), "Converting Whole scene from local to global coordinates"));
    }
}

TEST(ScenePipeline, ConcatenationLeavesOneNodeNamedAfterTheFile)
{
    ScenePtr scene = MovedQuadScene();
    AddGrid(*scene, nullptr, "Grid", 2, 2, 1);
    {
        CExportRun run(*scene, _ExportConcatenate);
        run.Options().m_DestinationFile = "/tmp/out/scene.obj";
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(ChildNames(*run.Copy(), nullptr), (std::vector<std::string>{"scene.obj"}));
        C3DGeomObject* object = FindGeom(*run.Copy(), "scene.obj");
        EXPECT_EQ(object ? object->GetFaceNbr() : -1, 5);
        EXPECT_TRUE(HasLog(run.Options(), "Concatenating 3D scene"));
    }
    CSceneImportOptions import(_ImportConcatenate | _ImportMergeByMaterials);
    scene->CheckoutImport(import);
    EXPECT_EQ(ChildNames(*scene, nullptr), (std::vector<std::string>{"part.obj"}));
    EXPECT_TRUE(HasLog(import, "Concatenating 3D scene"));
    EXPECT_FALSE(HasLog(import, "Merge 3D scene by materials"));
}

TEST(ScenePipeline, MergingByMaterialsGivesOneNodePerMaterial)
{
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "A", MakeQuad(1));
    AddNode(*scene, nullptr, "B", MakeQuad(2));
    AddNode(*scene, nullptr, "C", MakeQuad(1));
    scene->CreateNewMaterial(1)->SetName("Red");
    scene->CreateNewMaterial(2)->SetName("Blue");
    CSceneImportOptions import(_ImportMergeByMaterials);
    scene->CheckoutImport(import);
    EXPECT_EQ(scene->GetChildCount(nullptr, _ObjectKindGeometric), 2);
    EXPECT_EQ(scene->GetFaceNbr(), 3);
    EXPECT_TRUE(HasLog(import, "Merge 3D scene by materials"));
}

TEST(ScenePipeline, ProjectionsGiveTextureCoordinates)
{
    auto build = []
    {
        ScenePtr scene(C3DScene::Create());
        AddNode(*scene, nullptr, "Quad", MakeQuad(1));
        scene->CreateNewMaterial(1)->AddMaterialMap("wood.png", kZanNone, _MapDiffuse,
                                                    _ProjectionPlanar);
        return scene;
    };
    {
        ScenePtr scene = build();
        CSceneImportOptions import(_ImportGenerateUVW);
        scene->CheckoutImport(import);
        EXPECT_TRUE(HasLog(import, "Creating UV for the scene"));
        C3DGeomObject* object = FindGeom(*scene, "Quad");
        ASSERT_NE(object, nullptr);
        EXPECT_GT(object->GetChannels()->GetChannelsNumber(_ChannelUVW), 0u);
    }
    {
        ScenePtr scene = build();
        CExportRun run(*scene, _ExportGenerateUVW);
        ASSERT_TRUE(run.Run());
        EXPECT_TRUE(HasLog(run.Options(), "Creating UV for the scene"));
        C3DGeomObject* object = FindGeom(*run.Copy(), "Quad");
        ASSERT_NE(object, nullptr);
        EXPECT_GT(object->GetChannels()->GetChannelsNumber(_ChannelUVW), 0u);
    }
}

namespace
{
// The test mesh with a texture seam at point 1: the triangle gives it texture point 7 while
// the two other faces give it texture point 1.
C3DObject* MakeSeamedMesh()
{
    C3DObject* mesh = scenetest::MakeTestMesh().release();
    auto* uv = static_cast<CUVWChannel*>(mesh->GetChannelByID(scenetest::kUVID, _ChannelUVW));
    const int seam[] = {7, 2, 5};
    EXPECT_TRUE(uv && uv->GetFaceList()->SetFaceIndexes(1, seam, 3));
    return mesh;
}
} // namespace

TEST(ScenePipeline, TextureSeamsSplitPoints)
{
    {
        ScenePtr scene(C3DScene::Create());
        C3DObject* mesh = MakeSeamedMesh();
        const int before = mesh->GetPointNbr();
        AddNode(*scene, nullptr, "Mesh", mesh);
        CSceneImportOptions import(_ImportDisconnectFaces);
        scene->CheckoutImport(import);
        C3DGeomObject* object = FindGeom(*scene, "Mesh");
        EXPECT_EQ(object ? object->GetPointNbr() : -1, before + 1);
    }
    {
        ScenePtr scene(C3DScene::Create());
        C3DObject* mesh = MakeSeamedMesh();
        const int before = mesh->GetPointNbr();
        AddNode(*scene, nullptr, "Mesh", mesh);
        CExportRun run(*scene, _ExportDisconnectFaces | _ExportKeepChannels);
        ASSERT_TRUE(run.Run());
        C3DGeomObject* object = FindGeom(*run.Copy(), "Mesh");
        EXPECT_EQ(object ? object->GetPointNbr() : -1, before + 1);
        EXPECT_TRUE(HasLog(run.Options(), "Disconnecting faces which have several UV for Mesh"));
    }
}

TEST(ScenePipeline, ChannelsAreUnifiedUnlessKept)
{
    ScenePtr scene(C3DScene::Create());
    C3DSceneNode* cube = CreateCube(P3(0, 0, 0), 1, 1, 1, true, 1, 500);
    ASSERT_NE(cube, nullptr);
    ASSERT_TRUE(scene->AddNode(nullptr, cube));
    scene->CreateNewMaterial(1)->AddMaterialMap("wood.png", 500, _MapDiffuse, _ProjectionChannel);
    {
        CExportRun run(*scene, 0);
        ASSERT_TRUE(run.Run());
        C3DGeomObject* object = FindGeom(*run.Copy(), "Cube");
        ASSERT_NE(object, nullptr);
        EXPECT_NE(object->GetGlobalUVWChannel(), kZanNone);
        EXPECT_TRUE(HasLog(run.Options(), "Unifying UV for Cube"));
    }
    CExportRun kept(*scene, _ExportKeepChannels);
    ASSERT_TRUE(kept.Run());
    EXPECT_FALSE(HasLog(kept.Options(), "Unifying UV for Cube"));
}

TEST(ScenePipeline, GroupsAreRemovedOrMadeForChildren)
{
    ScenePtr scene(C3DScene::Create());
    C3DSceneNode* group = AddNode(*scene, nullptr, "Group", new C3DGroup);
    C3DSceneNode* parent = AddNode(*scene, group, "Parent", MakeQuad());
    AddNode(*scene, parent, "Child", MakeQuad());
    {
        CExportRun run(*scene, _ExportRemoveGroups);
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(FindNode(*run.Copy(), "Group"), nullptr);
        EXPECT_NE(FindNode(*run.Copy(), "Parent"), nullptr);
    }
    {
        CExportRun run(*scene, _ExportMoveTextures);
        run.Options().m_DestinationFile = "/tmp/out/scene.obj";
        ASSERT_TRUE(run.Run());
        C3DSceneNode* copyParent = FindNode(*run.Copy(), "Parent");
        C3DSceneNode* copyChild = FindNode(*run.Copy(), "Child");
        ASSERT_TRUE(copyParent && copyChild);
        EXPECT_EQ(run.Copy()->GetChildNode(copyParent), nullptr) << "meshes become leaves";
        EXPECT_EQ(run.Copy()->GetParent(copyChild)->GetObjectKindOf(), unsigned(_ObjectKindGroup));
    }
}

TEST(ScenePipeline, TexturesAreCopiedToTheTextureFolder)
{
    zantest::CTempDir source, destination;
    ASSERT_TRUE(zantest::WriteFileText(source.File("wood.png"), "not really an image"));
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "Quad", MakeQuad(1));
    scene->SetFilename(CFileNameSpec(CXTString(source.File("scene.3dif"))));
    scene->CreateNewMaterial(1)->AddMaterialMap("wood.png", kZanNone, _MapDiffuse,
                                                _ProjectionChannel);
    CExportRun run(*scene, _ExportMoveTextures);
    run.Options().m_DestinationFile = destination.File("out.obj").c_str();
    run.Options().m_TextureFolder = "Textures/";
    ASSERT_TRUE(run.Run());
    EXPECT_TRUE(std::filesystem::exists(destination.File("Textures/wood.png")));
    EXPECT_TRUE(std::filesystem::exists(source.File("wood.png"))) << "a copy, not a move";
}

TEST(ScenePipeline, UnitRatiosBeyondHalfAPercentScaleTheCopy)
{
    for (double scale : {1.004, 1.006})
    {
        ScenePtr scene = MovedQuadScene();
        scene->SetUnit(_UnitCentimeter);
        scene->SetScaleFactor(scale);
        CExportRun run(*scene, 0);
        run.Options().m_Unit = _UnitCentimeter;
        ASSERT_TRUE(run.Run());
        const float expected = scale > 1.005 ? float(scale) : 1.0f;
        EXPECT_TRUE(Near(WorldPoint(FindNode(*run.Copy(), "Quad")),
                         P3(1 * expected, 2 * expected, 3 * expected), 1e-5f));
    }
}
