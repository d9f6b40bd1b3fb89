// The import checkout: what it removes, names, creates, reorders and logs, on small scenes
// built for each behaviour, and that its parallel part gives the same scene whatever the
// thread count.
#include "scene/scene_pipeline_helpers.h"

#include <3dzan/foundation/services.h>
#include <3dzan/materials/material.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>

#include <gtest/gtest.h>

using namespace pipetest;

namespace
{
// Restores the parallel loops' thread count when the test ends.
struct CThreadCountGuard
{
    ~CThreadCountGuard() { OMPSetMaxThreadCount(0); }
};
} // namespace

TEST(SceneCheckout, SkipFlagLeavesTheSceneUntouched)
{
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "", MakeQuad(7)); // unnamed, material 7 missing
    C3DSceneNode* hidden = AddNode(*scene, nullptr, "b", MakeQuad());
    hidden->SetFlag(_NodeHidden, true);
    AddNode(*scene, nullptr, "a", new C3DGroup);
    scene->CreateNewMaterial(3); // unnamed material
    const std::vector<uint8_t> before = SceneBytes(*scene);

    CSceneImportOptions options(_ImportNoCheckout | _ImportRemoveHidden | _ImportCleanGroups |
                                _ImportTriangulate | _ImportWeld);
    scene->CheckoutImport(options);
    EXPECT_EQ(SceneBytes(*scene), before);
    EXPECT_EQ(options.GetLogCount(), 0);
}

TEST(SceneCheckout, UnnamedNodesTakeTheirTypeAndACounterPerKind)
{
    ScenePtr scene(C3DScene::Create());
    C3DObject* shared = MakeQuad();
    C3DSceneNode* first = AddNode(*scene, nullptr, "", shared);
    C3DSceneNode* instance = AddNode(*scene, nullptr, "Copy", shared->Copy(_CopyInstance));
    C3DSceneNode* second = AddNode(*scene, nullptr, "", MakeQuad());
    C3DSceneNode* light = AddNode(*scene, nullptr, "", new C3DLight);
    C3DSceneNode* named = AddNode(*scene, nullptr, "Named", MakeQuad());
    C3DSceneNode* bare = AddNode(*scene, nullptr, "", nullptr);

    CSceneImportOptions options;
    scene->CheckoutImport(options);

    const CXTString meshType = C3DObject().GetTypeString();
    const CXTString lightType = C3DLight().GetTypeString();
    EXPECT_EQ(meshType, CXTString("Polygonal object"));
    EXPECT_EQ(lightType, CXTString("Light"));
    EXPECT_EQ(first->GetName(), meshType + " 1");
    EXPECT_EQ(second->GetName(), meshType + " 2") << "a shared object counts once";
    EXPECT_EQ(light->GetName(), lightType + " 1") << "each kind counts on its own";
    EXPECT_EQ(instance->GetName(), CXTString("Copy"));
    EXPECT_EQ(named->GetName(), CXTString("Named"));
    EXPECT_TRUE(bare->GetName().IsEmpty()) << "a node without object keeps its name";
}

TEST(SceneCheckout, MaterialsTheFacesUseAreCreatedWhenMissing)
{
    ScenePtr scene(C3DScene::Create());
    C3DObject* quad = MakeQuad(7);
    quad->GetFaceList()->SetBackFaceMaterial(0, 9);
    AddNode(*scene, nullptr, "Quad", quad);
    C3DMaterial* existing = scene->CreateNewMaterial(2);
    existing->SetName("Wood");

    CSceneImportOptions options;
    scene->CheckoutImport(options);
    ASSERT_NE(scene->GetMaterialTable().GetMaterial(7), nullptr);
    ASSERT_NE(scene->GetMaterialTable().GetMaterial(9), nullptr) << "back-face materials count";
    EXPECT_EQ(scene->GetMaterialNumber(), 3u);
    EXPECT_EQ(scene->GetMaterialTable().GetMaterial(2)->GetName(), CXTString("Wood"));
    EXPECT_EQ(scene->GetMaterialTable().GetMaterial(2), existing);
}

TEST(SceneCheckout, UnnamedMaterialsAreNamedAfterTheirPlaceInTheTable)
{
    ScenePtr scene(C3DScene::Create());
    scene->CreateNewMaterial(11);
    scene->CreateNewMaterial(12)->SetName("Steel");
    scene->CreateNewMaterial(13)->SetName(""); // the table made it "0"
    CSceneImportOptions options;
    scene->CheckoutImport(options);

    std::vector<std::string> names;
    int position = 0;
    for (unsigned slot = scene->GetFirstMaterial(); slot != kZanNone;)
    {
        const C3DMaterial* material = scene->GetNextMaterial(slot);
        ++position;
        names.push_back(material->GetName().str());
        if (material->GetMaterialID() != 12)
        {
            EXPECT_EQ(material->GetName().str(), "Material " + std::to_string(position));
        }
    }
    EXPECT_EQ(names.size(), 3u);
    EXPECT_NE(std::find(names.begin(), names.end(), "Steel"), names.end());
}

TEST(SceneCheckout, HiddenNodesAreRemovedAndLoggedOnlyWhenAsked)
{
    auto build = []
    {
        ScenePtr scene(C3DScene::Create());
        AddNode(*scene, nullptr, "Shown", MakeQuad());
        C3DSceneNode* hidden = AddNode(*scene, nullptr, "Hidden", MakeQuad());
        hidden->SetFlag(_NodeHidden, true);
        AddNode(*scene, hidden, "Below", MakeQuad());
        return scene;
    };
    ScenePtr kept = build();
    CSceneImportOptions keep;
    kept->CheckoutImport(keep);
    EXPECT_NE(FindNode(*kept, "Hidden"), nullptr);
    EXPECT_FALSE(HasLog(keep, "Removing object Hidden"));

    ScenePtr scene = build();
    CSceneImportOptions options(_ImportRemoveHidden);
    scene->CheckoutImport(options);
    EXPECT_EQ(FindNode(*scene, "Hidden"), nullptr);
    EXPECT_EQ(FindNode(*scene, "Below"), nullptr) << "the subtree goes with its node";
    EXPECT_NE(FindNode(*scene, "Shown"), nullptr);
    EXPECT_TRUE(HasLog(options, "Removing object Hidden", _IoLevelInfo));
    EXPECT_EQ(options.GetLogCount(), 1);
}

TEST(SceneCheckout, EmptyGroupsGoWithTheCleanGroupsFlag)
{
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "Empty", new C3DGroup);
    C3DSceneNode* full = AddNode(*scene, nullptr, "Full", new C3DGroup);
    AddNode(*scene, full, "Quad", MakeQuad());
    CSceneImportOptions options(_ImportCleanGroups);
    scene->CheckoutImport(options);
    EXPECT_EQ(FindNode(*scene, "Empty"), nullptr);
    EXPECT_NE(FindNode(*scene, "Full"), nullptr);
}

TEST(SceneCheckout, FacesNamingMissingPointsAreReported)
{
    ScenePtr scene(C3DScene::Create());
    C3DObject* quad = MakeQuad();
    const int outside[] = {0, 2, 9};
    quad->GetFaceList()->AddFace(outside, 3);
    AddNode(*scene, nullptr, "Broken", quad);
    AddNode(*scene, nullptr, "Sound", MakeQuad());
    CSceneImportOptions options;
    scene->CheckoutImport(options);
    EXPECT_TRUE(HasLog(options, "Invalid face index: Broken (face 1)", _IoLevelWarning));
    EXPECT_EQ(options.GetLogCount(), 1) << "only the face outside the points is reported";
}

TEST(SceneCheckout, LowByteFlagsRunTheObjectOperations)
{
    // Two quads side by side, each with its own copy of the shared edge's points.
    auto makeMesh = []
    {
        return FillMesh(new C3DObject,
                        {{0, 0, 0},
                         {1, 0, 0},
                         {1, 1, 0},
                         {0, 1, 0},
                         {1, 0, 0},
                         {2, 0, 0},
                         {2, 1, 0},
                         {1, 1, 0}},
                        {0, 1, 2, 3, 4, 5, 6, 7}, {4, 4});
    };
    {
        ScenePtr scene(C3DScene::Create());
        C3DObject* mesh = makeMesh();
        AddNode(*scene, nullptr, "Mesh", mesh);
        CSceneImportOptions options;
        scene->CheckoutImport(options);
        EXPECT_EQ(mesh->GetPointNbr(), 8);
        EXPECT_EQ(mesh->GetFaceNbr(), 2);
    }
    {
        ScenePtr scene(C3DScene::Create());
        C3DObject* mesh = makeMesh();
        AddNode(*scene, nullptr, "Mesh", mesh);
        CSceneImportOptions options(_ImportWeld | _ImportTriangulate);
        scene->CheckoutImport(options);
        EXPECT_EQ(mesh->GetPointNbr(), 6) << "coincident points welded";
        EXPECT_EQ(mesh->GetFaceNbr(), 4);
        EXPECT_TRUE(mesh->IsTriangular());
    }
    {
        ScenePtr scene(C3DScene::Create());
        C3DObject* mesh = makeMesh();
        AddNode(*scene, nullptr, "Mesh", mesh);
        CSceneImportOptions options(_ImportWeld | _ImportMergeCoplanar);
        scene->CheckoutImport(options);
        EXPECT_EQ(mesh->GetFaceNbr(), 1) << "the two coplanar quads merged";
    }
}

TEST(SceneCheckout, ChildrenAreSortedByNameIgnoringCase)
{
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "b", MakeQuad());
    C3DSceneNode* group = AddNode(*scene, nullptr, "C", new C3DGroup);
    AddNode(*scene, nullptr, "A", MakeQuad());
    AddNode(*scene, group, "zeta", MakeQuad());
    AddNode(*scene, group, "Alpha", MakeQuad());
    AddNode(*scene, group, "beta", MakeQuad());
    CSceneImportOptions options;
    scene->CheckoutImport(options);
    EXPECT_EQ(ChildNames(*scene, nullptr), (std::vector<std::string>{"A", "b", "C"}));
    EXPECT_EQ(ChildNames(*scene, group), (std::vector<std::string>{"Alpha", "beta", "zeta"}));
}

TEST(SceneCheckout, TimesGoToTheLogFile)
{
    zantest::CTempConfigDir config;
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "Quad", MakeQuad());
    CSceneImportOptions options;
    scene->CheckoutImport(options);
    const std::string log = config.LogText();
    EXPECT_NE(log.find("C3DScene::CheckoutImport time "), std::string::npos);
    EXPECT_NE(log.find("C3DScene::CheckoutNode time "), std::string::npos);
}

TEST(SceneCheckout, TheThreadCountDoesNotChangeTheResult)
{
    CThreadCountGuard guard;
    ScenePtr source(C3DScene::Create());
    for (int i = 0; i < 6; ++i)
    {
        C3DSceneNode* node = AddGrid(*source, nullptr, "", 3 + i, 2, unsigned(20 + i));
        node->SetName("");
    }
    C3DObject* broken = MakeQuad(40);
    const int outside[] = {0, 1, 12};
    broken->GetFaceList()->AddFace(outside, 3);
    broken->GetFaceList()->SetFaceFlags(1, _FaceInvalid, true); // so that it archives
    AddNode(*source, nullptr, "", broken);
    C3DObject* other = MakeQuad(41);
    other->GetFaceList()->AddFace(outside, 3);
    other->GetFaceList()->SetFaceFlags(1, _FaceInvalid, true);
    AddNode(*source, nullptr, "", other);
    const std::vector<uint8_t> bytes = SceneBytes(*source);

    auto run = [&](int threads, CSceneImportOptions& options)
    {
        OMPSetMaxThreadCount(threads);
        ScenePtr scene(C3DScene::Create());
        zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { scene->Serialize(ar); });
        scene->CheckoutImport(options);
        return SceneBytes(*scene);
    };
    const unsigned flags =
        _ImportWeld | _ImportMergeCoplanar | _ImportUnifyNormals | _ImportTriangulate;
    CSceneImportOptions one(flags), two(flags);
    const std::vector<uint8_t> serial = run(1, one);
    EXPECT_EQ(run(2, two), serial);
    EXPECT_NE(serial, bytes);
    EXPECT_EQ(one.GetLogText(), two.GetLogText());
}

TEST(SceneCheckout, ScenesWithoutNodesAreLeftAlone)
{
    ScenePtr scene(C3DScene::Create());
    scene->RemoveAllNodes(); // not even a root
    CSceneImportOptions options(0xFFFFFF & ~unsigned(_ImportNoCheckout));
    scene->CheckoutImport(options);
    EXPECT_EQ(scene->GetRoot(), nullptr);
    EXPECT_EQ(scene->GetMaterialNumber(), 0u);

    zantest::CTempConfigDir config; // the export logs its time
    pipetest::CExportRun run(*scene, 0);
    EXPECT_FALSE(run.Run());
    EXPECT_TRUE(HasLog(run.Options(), "The scene have no object to save."));
}
