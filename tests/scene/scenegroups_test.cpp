// Scene-wide changes of the tree: removing groups and making groups for the children of
// geometric nodes keep every face where it was in the world; moving a node's keys into a
// child keeps the child's placement over time; merging a scene matches materials by
// appearance; type conversion keeps instances shared.
#include "scene/sceneops_helpers.h"

#include <3dzan/materials/materials.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/objectcreator.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <numbers>

namespace
{
using namespace opstest;
using zantest::AddNode;
using zantest::ScenePtr;

// root ─ G1 (group, turned about x, moved)
//        │  ├ M (mesh, moved)
//        │  │  ├ K1 (mesh, scaled)
//        │  │  │  └ K3 (mesh, moved)
//        │  │  └ K2 (mesh, with a pivot)
//        │  └ G2 (group, moved)
//        │     └ N (mesh)
//        └ G3 (empty group)
struct CNested
{
    ScenePtr scene{C3DScene::Create()};
    C3DSceneNode *g1, *m, *k1, *k2, *k3, *g2, *n, *g3;

    CNested()
    {
        C3DScene& s = *scene;
        g1 = AddNode(s, nullptr, "G1", new C3DGroup);
        Rotate(g1, std::numbers::pi / 3, V3(1, 0, 0));
        Translate(g1, 1, 2, 3);
        m = AddNode(s, g1, "M", MakeStrip(0, 0, 2, {1}));
        Translate(m, 0, 0, 4);
        k1 = AddNode(s, m, "K1", MakeStrip(3, 1, 1, {2}));
        ScaleKey(k1, 2, 1, 3);
        k3 = AddNode(s, k1, "K3", MakeStrip(-1, 2, 1, {3}));
        Translate(k3, 5, 0, 0);
        k2 = AddNode(s, m, "K2", MakeStrip(1, -1, 2, {4}));
        Pivot(k2, 0, 1, 0);
        Rotate(k2, 1.0, V3(0, 0, 1));
        g2 = AddNode(s, g1, "G2", new C3DGroup);
        Translate(g2, -2, 0, 0);
        n = AddNode(s, g2, "N", MakeStrip(0, 3, 1, {5}));
        g3 = AddNode(s, nullptr, "G3", new C3DGroup);
    }
};

int CountKind(const C3DScene& scene, unsigned kind)
{
    CXArray<C3DSceneNode*> nodes;
    return scene.GetNodesByType(nullptr, kind, nodes);
}

TEST(SceneGroups, RemoveGroupsKeepsEveryFaceInPlace)
{
    CNested t;
    const auto before = WorldFaces(*t.scene);
    t.scene->RemoveGroups();
    EXPECT_EQ(CountKind(*t.scene, _ObjectKindGroup), 0);
    EXPECT_NE(t.scene->GetRoot(), nullptr);
    EXPECT_EQ(WorldFaces(*t.scene), before);
    EXPECT_EQ(t.scene->GetParent(t.m), t.scene->GetRoot());
    EXPECT_EQ(t.scene->GetParent(t.n), t.scene->GetRoot());
}

TEST(SceneGroups, DeleteNodesKeepsTheChildrenOfDeletedNodesInPlace)
{
    { // The filter of selected nodes: M and G2 go, their children stay where they were.
        CNested t;
        std::vector<WorldFace> kept;
        for (C3DSceneNode* node : {t.k1, t.k2, t.n}) // K1's subtree holds K3
        {
            const auto faces = WorldFaces(*t.scene, node);
            kept.insert(kept.end(), faces.begin(), faces.end());
        }
        std::sort(kept.begin(), kept.end());
        t.scene->Select(t.m);
        t.scene->Select(t.g2, _SelectAdd);
        const C3DFilter selected(0x4);
        ASSERT_TRUE(t.scene->DeleteNodes(nullptr, &selected));
        auto after = WorldFaces(*t.scene);
        std::sort(after.begin(), after.end());
        EXPECT_EQ(after, kept);
        EXPECT_EQ(t.scene->GetParent(t.k1), t.g1);
        EXPECT_EQ(t.scene->GetParent(t.k3), t.k1);
        EXPECT_EQ(t.scene->GetParent(t.n), t.g1);
        // K1 and K2 take M's place, in their order, before G2's child N.
        EXPECT_EQ(t.scene->GetChildNode(t.g1), t.k1);
        EXPECT_EQ(t.scene->GetRightNode(t.k1), t.k2);
        EXPECT_EQ(t.scene->GetRightNode(t.k2), t.n);
    }
    { // Without a filter the start node and its whole subtree go; the rest stays.
        CNested t;
        ASSERT_TRUE(t.scene->DeleteNodes(t.m));
        EXPECT_EQ(GeomNodeCount(*t.scene), 1);
        EXPECT_EQ(t.scene->GetChildNode(t.g1), t.g2);
        ASSERT_TRUE(t.scene->DeleteNodes(nullptr));
        ASSERT_NE(t.scene->GetRoot(), nullptr);
        EXPECT_EQ(t.scene->GetChildCount(), 0);
    }
}

TEST(SceneGroups, MakeGroupForChildsLeavesGeometricNodesAsLeavesInPlace)
{
    CNested t;
    const auto before = WorldFaces(*t.scene);
    const int groups = CountKind(*t.scene, _ObjectKindGroup);
    ASSERT_TRUE(t.scene->MakeGroupForChilds(nullptr));
    EXPECT_EQ(WorldFaces(*t.scene), before);
    CXArray<C3DSceneNode*> geometric;
    t.scene->GetNodesByType(nullptr, _ObjectKindGeometric, geometric);
    for (int i = 0; i < geometric.GetSize(); ++i)
        EXPECT_EQ(geometric[i]->GetChild(), nullptr) << geometric[i]->GetName().c_str();
    // One group per child of a geometric node (K1, K2 under M; K3 under K1), named after it.
    EXPECT_EQ(CountKind(*t.scene, _ObjectKindGroup), groups + 3);
    for (C3DSceneNode* child : {t.k1, t.k2, t.k3})
    {
        C3DSceneNode* group = t.scene->GetParent(child);
        EXPECT_EQ(group->GetObjectKindOf(), unsigned(_ObjectKindGroup));
        EXPECT_EQ(group->GetName(), child->GetName());
    }
    EXPECT_FALSE(t.scene->MakeGroupForChilds(nullptr));
}

TEST(SceneGroups, MergeMatrixKeyframesKeepsTheChildInPlaceAtEveryKey)
{
    ScenePtr scene(C3DScene::Create());
    C3DSceneNode* parent = AddNode(*scene, nullptr, "P", new C3DGroup);
    Translate(parent, 0, 0, 0, 0);
    Translate(parent, 10, 0, 0, 10);
    Rotate(parent, 0.5, V3(0, 1, 0), 10);
    C3DSceneNode* child = AddNode(*scene, parent, "C", MakeStrip(0, 0, 1, {1}));
    Translate(child, 0, 1, 0, 5);
    std::vector<C4x4TMatrix<float>> before;
    for (int time : {0, 5, 10})
        child->GetNodeTM(time, before.emplace_back(), false);

    ASSERT_TRUE(scene->MergeMatrixKeyframes(parent, child));
    EXPECT_EQ(child->GetKeyNbr(kNodeMatrixKey), 3u);
    EXPECT_EQ(parent->GetKeyNbr(kNodeMatrixKey), 1u); // at the child's time 5 only
    ASSERT_TRUE(scene->MoveNode(child, scene->GetRoot()));
    size_t i = 0;
    for (int time : {0, 5, 10})
    {
        C4x4TMatrix<float> after;
        child->GetNodeTM(time, after, false);
        EXPECT_TRUE(after.IsEqual(before[i++], 1e-4)) << time;
    }
    EXPECT_FALSE(scene->MergeMatrixKeyframes(nullptr, child));
    EXPECT_FALSE(scene->MergeMatrixKeyframes(child, child));
}

TEST(SceneMerge, MatchesMaterialsByParametersAndRemapsFaces)
{
    ScenePtr scene(C3DScene::Create());
    C3DMaterial* red = scene->CreateNewMaterial(kZanNone);
    red->SetName("Red here");
    red->SetDiffuseColor(0, CRGBColor(255, 0, 0));
    C3DSceneNode* parent = AddNode(*scene, nullptr, "Parent", new C3DGroup);

    ScenePtr source(C3DScene::Create());
    C3DMaterial* sourceRed = source->CreateNewMaterial(kZanNone);
    sourceRed->SetName("Red there");
    sourceRed->SetDiffuseColor(0, CRGBColor(255, 0, 0));
    C3DMaterial* blue = source->CreateNewMaterial(kZanNone);
    blue->SetDiffuseColor(0, CRGBColor(0, 0, 255));
    const unsigned sourceRedID = sourceRed->GetMaterialID(), blueID = blue->GetMaterialID();
    C3DSceneNode* a = AddNode(*source, nullptr, "A", MakeStrip(0, 0, 2, {sourceRedID, blueID}));
    C3DSceneNode* b = AddNode(*source, nullptr, "B", MakeStrip(0, 1, 1, {blueID}));

    EXPECT_FALSE(scene->Merge(nullptr, nullptr));
    EXPECT_FALSE(scene->Merge(scene.get(), nullptr));
    ASSERT_TRUE(scene->Merge(source.get(), parent));
    EXPECT_EQ(source->GetChildCount(), 0);
    EXPECT_EQ(scene->GetParent(a), parent);
    EXPECT_EQ(scene->GetParent(b), parent);
    EXPECT_EQ(a->GetScene(), scene.get());

    const C3DFaceList* faces = a->GetGeomObject()->GetFaceList();
    EXPECT_EQ(faces->GetFaceMaterial(0), red->GetMaterialID());
    const unsigned newBlue = faces->GetFaceMaterial(1);
    EXPECT_EQ(b->GetGeomObject()->GetFaceList()->GetFaceMaterial(0), newBlue);
    ASSERT_NE(newBlue, red->GetMaterialID());
    const C3DMaterial* merged = scene->GetMaterialTable().GetMaterial(newBlue);
    ASSERT_NE(merged, nullptr);
    EXPECT_TRUE(merged->HasSameParameters(*blue));
    EXPECT_EQ(scene->GetMaterialNumber(), 2u);
}

// Converts polygonal objects into fresh copies (as a converter to another type would).
class CCopyingCreator : public C3DObjectCreator
{
public:
    C3DBaseObject* ConvertToType(C3DSceneNode*, C3DBaseObject* object) override
    {
        ++m_Calls;
        return object->GetKindOf() == _ObjectKindPolygonal ? object->Copy(0) : nullptr;
    }
    int m_Calls = 0;
};

TEST(SceneConvertToType, ReplacementsStayShared)
{
    ScenePtr scene(C3DScene::Create());
    C3DSceneNode* first = AddNode(*scene, nullptr, "First", MakeStrip(0, 0, 1, {1}));
    C3DSceneNode* second =
        AddNode(*scene, first, "Second", first->GetBaseObject()->Copy(_CopyInstance));
    C3DSceneNode* third =
        AddNode(*scene, nullptr, "Third", first->GetBaseObject()->Copy(_CopyInstance));
    C3DSceneNode* other = AddNode(*scene, nullptr, "Other", MakeStrip(5, 0, 1, {1}));
    AddNode(*scene, nullptr, "Group", new C3DGroup);
    const C3DBaseObject* old = first->GetBaseObject();
    const auto before = WorldFaces(*scene);

    EXPECT_EQ(scene->ConvertToType(nullptr, nullptr), 0);
    CCopyingCreator creator;
    EXPECT_EQ(scene->ConvertToType(nullptr, &creator), 2);
    EXPECT_EQ(creator.m_Calls, 3); // each object once: the shared one, Other and the group
    C3DBaseObject* shared = first->GetBaseObject();
    EXPECT_NE(shared, old);
    EXPECT_EQ(second->GetBaseObject(), shared);
    EXPECT_EQ(third->GetBaseObject(), shared);
    EXPECT_EQ(shared->GetInstanceNbr(), 3);
    EXPECT_NE(other->GetBaseObject(), shared);
    EXPECT_EQ(WorldFaces(*scene), before);
}
} // namespace
