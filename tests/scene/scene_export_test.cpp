// The export preparation: what the working copy loses, keeps and gains for each flag, what is
// logged, and that the caller's scene is never changed (every run compares its archive bytes
// before and after InitExport and ReleaseExport).
#include "scene/geomobject_builders.h"
#include "scene/scene_pipeline_helpers.h"

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/materials/material.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>

#include <gtest/gtest.h>

using namespace pipetest;

TEST(SceneExport, TheCopyHoldsTheNodesObjectsMaterialsAndSettings)
{
    ScenePtr scene(C3DScene::Create());
    C3DObject* shared = MakeQuad(1);
    C3DSceneNode* parent = AddNode(*scene, nullptr, "Parent", shared);
    AddNode(*scene, parent, "Instance", shared->Copy(_CopyInstance));
    AddNode(*scene, nullptr, "Light", new C3DLight);
    scene->CreateNewMaterial(1)->SetName("Used");
    scene->CreateNewMaterial(2)->SetName("Unused");
    scene->SetFilename(CFileNameSpec("/tmp/source.3dif"));

    CExportRun run(*scene, _ExportKeepUnusedMaterials);
    ASSERT_TRUE(run.Run());
    C3DScene* copy = run.Copy();
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy, scene.get());
    EXPECT_EQ(copy->GetChildCount(), 3);
    C3DSceneNode* copyParent = FindNode(*copy, "Parent");
    C3DSceneNode* copyInstance = FindNode(*copy, "Instance");
    ASSERT_TRUE(copyParent && copyInstance);
    EXPECT_EQ(copy->GetParent(copyInstance), copyParent);
    EXPECT_NE(copyParent->GetBaseObject(), shared);
    EXPECT_EQ(copyParent->GetBaseObject(), copyInstance->GetBaseObject()) << "still shared";
    EXPECT_EQ(copy->GetMaterialNumber(), 2u);
    EXPECT_EQ(copy->GetFilename().GetFileName(), CXTString("/tmp/source.3dif"));
    EXPECT_EQ(run.Options().GetLogCount(), 0);
}

TEST(SceneExport, RemovalPassFollowsKindsAndVisibility)
{
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "Mesh", MakeQuad());
    AddNode(*scene, nullptr, "Curve", MakeCurve());
    AddNode(*scene, nullptr, "Patch", MakeCubePatch());
    AddNode(*scene, nullptr, "Hidden", MakeQuad())->SetFlag(_NodeHidden, true);
    AddNode(*scene, nullptr, "Light", new C3DLight);

    {
        CExportRun run(*scene, _ExportRemoveCurves | _ExportRemovePatches);
        ASSERT_TRUE(run.Run());
        C3DScene* copy = run.Copy();
        EXPECT_EQ(FindNode(*copy, "Curve"), nullptr);
        EXPECT_EQ(FindNode(*copy, "Patch"), nullptr);
        EXPECT_EQ(FindNode(*copy, "Hidden"), nullptr) << "hidden nodes go without 0x100";
        EXPECT_NE(FindNode(*copy, "Mesh"), nullptr);
        EXPECT_NE(FindNode(*copy, "Light"), nullptr) << "only geometric nodes are filtered";
        for (const char* name : {"Curve", "Patch", "Hidden"})
            EXPECT_TRUE(HasLog(run.Options(), std::string("Removing object ") + name, _IoLevelInfo))
                << name;
        EXPECT_TRUE(run.Options().m_Flags & _ExportRemoved);
    }
    {
        CExportRun run(*scene, _ExportRemovePolygonal | _ExportHidden);
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(FindNode(*run.Copy(), "Mesh"), nullptr);
        EXPECT_EQ(FindNode(*run.Copy(), "Hidden"), nullptr) << "a hidden mesh is a mesh";
        EXPECT_NE(FindNode(*run.Copy(), "Curve"), nullptr);
        EXPECT_NE(FindNode(*run.Copy(), "Patch"), nullptr);
    }
    {
        CExportRun run(*scene, _ExportHidden);
        ASSERT_TRUE(run.Run());
        EXPECT_NE(FindNode(*run.Copy(), "Hidden"), nullptr);
        EXPECT_FALSE(run.Options().m_Flags & _ExportRemoved);
    }
}

TEST(SceneExport, RemovingEverythingFailsWithNothingToSave)
{
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "Hidden", MakeQuad())->SetFlag(_NodeHidden, true);
    AddNode(*scene, nullptr, "Mesh", MakeQuad());
    CExportRun run(*scene, _ExportRemovePolygonal);
    EXPECT_FALSE(run.Run());
    EXPECT_NE(run.Copy(), nullptr) << "the copy is recorded for ReleaseExport";
    EXPECT_EQ(run.Copy()->GetChildCount(), 0);
    EXPECT_TRUE(HasLog(run.Options(), "The scene have no object to save."));

    ScenePtr empty(C3DScene::Create());
    CExportRun emptyRun(*empty, 0);
    EXPECT_FALSE(emptyRun.Run());
    EXPECT_TRUE(HasLog(emptyRun.Options(), "The scene have no object to save."));
    EXPECT_FALSE(C3DScene::InitExport(emptyRun.Options(), nullptr));
}

TEST(SceneExport, ChannelsAndBackMaterialsAreRemovedAsAsked)
{
    ScenePtr scene(C3DScene::Create());
    C3DObject* mesh = scenetest::MakeTestMesh().release();
    ASSERT_TRUE(mesh->GenerateNormals(_GenerateEmptyFaces, _NormalSmoothMode(0)));
    mesh->GetFaceList()->SetBackFaceMaterial(0, 9);
    AddNode(*scene, nullptr, "Mesh", mesh);
    auto copyMesh = [](CExportRun& run) { return FindGeom(*run.Copy(), "Mesh"); };
    {
        CExportRun run(*scene, _ExportKeepBackMaterials | _ExportKeepUnusedMaterials);
        ASSERT_TRUE(run.Run());
        C3DGeomObject* object = copyMesh(run);
        ASSERT_NE(object, nullptr);
        EXPECT_TRUE(object->GetFaceList()->HasBackFaceMaterials());
        EXPECT_GT(object->GetChannels()->GetChannelsNumber(_ChannelUVW), 0u);
        EXPECT_GT(object->GetChannels()->GetChannelsNumber(_ChannelVC), 0u);
        EXPECT_NE(object->GetSpecNormalChannel(), nullptr);
        EXPECT_EQ(run.Options().GetLogCount(), 0);
    }
    {
        CExportRun run(*scene, _ExportNoUVW | _ExportNoVC | _ExportNoSpecNormals);
        ASSERT_TRUE(run.Run());
        C3DGeomObject* object = copyMesh(run);
        ASSERT_NE(object, nullptr);
        EXPECT_FALSE(object->GetFaceList()->HasBackFaceMaterials());
        EXPECT_EQ(object->GetChannels()->GetChannelsNumber(_ChannelUVW), 0u);
        EXPECT_EQ(object->GetChannels()->GetChannelsNumber(_ChannelVC), 0u);
        EXPECT_EQ(object->GetSpecNormalChannel(), nullptr);
        EXPECT_GT(object->GetChannels()->GetChannelsNumber(_ChannelWeight), 0u);
        EXPECT_TRUE(HasLog(run.Options(), "Removing UV for Mesh"));
        EXPECT_TRUE(HasLog(run.Options(), "Removing VC for Mesh"));
        EXPECT_TRUE(HasLog(run.Options(), "Removing Mesh specified normals"));
    }
}

TEST(SceneExport, PatchesBecomeMeshesInEveryNodeThatSharesThem)
{
    ScenePtr scene(C3DScene::Create());
    C3DPatch* patch = MakeCubePatch();
    AddNode(*scene, nullptr, "Patch", patch);
    AddNode(*scene, nullptr, "Twin", patch->Copy(_CopyInstance));
    for (unsigned flag : {unsigned(_ExportPatchSubdivided), unsigned(_ExportPatchSource)})
    {
        CExportRun run(*scene, flag);
        ASSERT_TRUE(run.Run());
        C3DSceneNode* node = FindNode(*run.Copy(), "Patch");
        C3DSceneNode* twin = FindNode(*run.Copy(), "Twin");
        ASSERT_TRUE(node && twin);
        EXPECT_EQ(node->GetObjectKindOf(), unsigned(_ObjectKindPolygonal));
        EXPECT_EQ(node->GetBaseObject(), twin->GetBaseObject()) << "instances stay shared";
        const int faces = node->GetGeomObject()->GetFaceNbr();
        if (flag == _ExportPatchSubdivided)
        {
            EXPECT_GT(faces, 6);
        }
        else
        {
            EXPECT_EQ(faces, 6);
        }
        EXPECT_TRUE(HasLog(run.Options(), "Converting Patch in polygonal object"));
    }
    CExportRun keep(*scene, 0);
    ASSERT_TRUE(keep.Run());
    C3DGeomObject* kept = FindGeom(*keep.Copy(), "Patch");
    EXPECT_EQ(kept ? unsigned(kept->GetKindOf()) : 0u, unsigned(_ObjectKindPatch));
}

TEST(SceneExport, TriangulationSplitsAllFacesOrOnlyLargeOnes)
{
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "Mesh", scenetest::MakeTestMesh().release()); // quad, tri, pentagon
    AddNode(*scene, nullptr, "Tri",
            FillMesh(new C3DObject, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2}, {3}));
    auto cornerCounts = [](C3DGeomObject* object)
    {
        std::vector<int> counts;
        for (int f = 0; f < object->GetFaceNbr(); ++f)
            counts.push_back(object->GetFaceList()->GetFaceSize(unsigned(f)));
        return counts;
    };
    {
        CExportRun run(*scene, _ExportQuadrangulate);
        ASSERT_TRUE(run.Run());
        C3DGeomObject* mesh = FindGeom(*run.Copy(), "Mesh");
        ASSERT_NE(mesh, nullptr);
        std::vector<int> counts = cornerCounts(mesh);
        EXPECT_EQ(std::count(counts.begin(), counts.end(), 4), 1) << "the quad stays";
        EXPECT_EQ(std::count(counts.begin(), counts.end(), 5), 0);
        EXPECT_EQ(counts.size(), 5u) << "quad, triangle and three triangles of the pentagon";
        EXPECT_TRUE(HasLog(run.Options(), "Triangulating object Mesh"));
        EXPECT_FALSE(HasLog(run.Options(), "Triangulating object Tri")) << "nothing to split";
    }
    {
        CExportRun run(*scene, _ExportTriangulate | _ExportQuadrangulate);
        ASSERT_TRUE(run.Run());
        C3DGeomObject* mesh = FindGeom(*run.Copy(), "Mesh");
        ASSERT_NE(mesh, nullptr);
        EXPECT_TRUE(mesh->IsTriangular());
        EXPECT_EQ(mesh->GetFaceNbr(), 6);
    }
}

TEST(SceneExport, ObjectsBeyondTheLimitsAreLeftOutWithAWarning)
{
    ScenePtr scene(C3DScene::Create());
    AddGrid(*scene, nullptr, "Big", 15, 10); // 150 faces, 176 points
    AddGrid(*scene, nullptr, "Small", 5, 5); // 25 faces, 36 points
    {
        CExportRun run(*scene, 0);
        run.Options().m_MaxFaces = 100;
        ASSERT_TRUE(run.Run()) << "the export goes on without the object";
        EXPECT_EQ(FindNode(*run.Copy(), "Big"), nullptr);
        EXPECT_NE(FindNode(*run.Copy(), "Small"), nullptr);
        EXPECT_TRUE(HasLog(run.Options(),
                           "The object Big have to many faces for the selected exportation "
                           "format (limited to 100 faces).\nUse Thinmesh to resolve this problem.",
                           _IoLevelWarning));
    }
    {
        CExportRun run(*scene, 0);
        run.Options().m_MaxPoints = 36;
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(FindNode(*run.Copy(), "Big"), nullptr);
        EXPECT_NE(FindNode(*run.Copy(), "Small"), nullptr) << "exactly at the limit stays";
        EXPECT_TRUE(HasLog(run.Options(),
                           "The object Big have to many points for the selected exportation "
                           "format (limited to 36 points).\nUse Thinmesh to resolve this problem.",
                           _IoLevelWarning));
    }
    {
        CExportRun run(*scene, 0);
        run.Options().m_MaxFaces = 10;
        EXPECT_FALSE(run.Run());
        EXPECT_TRUE(HasLog(run.Options(), "The scene have no object to save."));
    }
}

TEST(SceneExport, TheTableKeepsTheUsedMaterialsAndGainsTheMissingOnes)
{
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "Used", MakeQuad(1));
    AddNode(*scene, nullptr, "Missing", MakeQuad(5));
    scene->CreateNewMaterial(1);
    scene->CreateNewMaterial(2);
    {
        CExportRun run(*scene, 0);
        ASSERT_TRUE(run.Run());
        const CMaterials& table = run.Copy()->GetMaterialTable();
        EXPECT_NE(table.GetMaterial(1), nullptr);
        EXPECT_EQ(table.GetMaterial(2), nullptr) << "unused";
        EXPECT_NE(table.GetMaterial(5), nullptr) << "used but missing";
    }
    {
        CExportRun run(*scene, _ExportKeepUnusedMaterials);
        ASSERT_TRUE(run.Run());
        EXPECT_NE(run.Copy()->GetMaterialTable().GetMaterial(2), nullptr);
        EXPECT_NE(run.Copy()->GetMaterialTable().GetMaterial(5), nullptr);
    }
    {
        // The limits come before the materials: a removed object's material goes too.
        CExportRun run(*scene, 0);
        run.Options().m_MaxPoints = 3;
        EXPECT_FALSE(run.Run());
        EXPECT_EQ(run.Copy()->GetMaterialNumber(), 0u);
    }
}

TEST(SceneExport, AllFlagsTogetherStillLeaveTheSceneAsItWas)
{
    ScenePtr scene(C3DScene::Create());
    C3DObject* mesh = scenetest::MakeTestMesh().release();
    mesh->GetFaceList()->SetBackFaceMaterial(1, 3);
    C3DSceneNode* parent = AddNode(*scene, nullptr, "Mesh one", mesh);
    AddNode(*scene, parent, "", mesh->Copy(_CopyInstance));
    C3DPatch* patch = MakeCubePatch();
    AddNode(*scene, nullptr, "Patch", patch);
    AddNode(*scene, nullptr, "Twin", patch->Copy(_CopyInstance))->SetFlag(_NodeHidden, true);
    AddNode(*scene, nullptr, "Light", new C3DLight);
    AddNode(*scene, nullptr, "Curve", MakeCurve());
    scene->CreateNewMaterial(7);
    scene->CreateNewMaterial(40);
    scene->SetUnit(_UnitMillimeter);
    scene->SetScaleFactor(2.0);
    for (unsigned flags :
         {0xFFFFFFFFu & ~unsigned(_ExportRemovePolygonal), 0x00FFF7F0u,
          unsigned(_ExportPatchSubdivided | _ExportTriangulate | _ExportForceNameRules)})
    {
        CExportRun run(*scene, flags);
        run.Options().m_Unit = _UnitMeter;
        run.Options().m_ObjectNameRule = (0x4u << 24) | 6;
        run.Options().m_MaterialNameRule = (0x2u << 24) | 4;
        run.Options().m_MaxFaces = 1000;
        run.Options().m_DestinationFile = "/tmp/nowhere/out.obj";
        EXPECT_TRUE(run.Run()) << std::hex << flags;
    }
}
