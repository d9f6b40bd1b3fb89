// The scene: walks and their rules, cursor-safe removal, lookups, selection, copies with the
// default creator, settings, animation and the scene archive (instancing kept, golden file,
// malformed input).
//
// The golden file tests/data/scene/scene.bin is written by the disabled test
// SceneArchive.DISABLED_WriteGoldenFile:
//   build/dev/tests/scene_tests --gtest_also_run_disabled_tests
//       --gtest_filter=SceneArchive.DISABLED_WriteGoldenFile
// Rewrite it only when the scene archive layout is meant to change.
#include "scene/object_checks.h"
#include "scene/scene_test_helpers.h"

#include <3dzan/animation/keys.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>
#include <3dzan/scene/objectcreator.h>
#include <3dzan/scene/scene.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>

namespace
{
using zantest::AddNode;
using zantest::ScenePtr;

// Names of the nodes a walk returns, joined by spaces.
std::string Walk(const C3DScene& scene, C3DNodePos pos)
{
    std::string names;
    while (pos)
        names += (names.empty() ? "" : " ") + scene.GetNextNode(pos)->GetName().str();
    return names;
}

// group "G" { camera "C", dummy "D1" { dummy "D2" shares D1's object, node "E" without object },
// dummy "D3" shares D1's object }, light "L"
struct CSample
{
    C3DScene scene;
    C3DSceneNode *g, *c, *d1, *d2, *e, *d3, *l;
    CSample()
    {
        g = AddNode(scene, nullptr, "G", new C3DGroup);
        c = AddNode(scene, g, "C", new C3DCamera);
        d1 = AddNode(scene, g, "D1", new C3DDummy);
        d2 = AddNode(scene, d1, "D2", d1->GetBaseObject()->Copy(_CopyInstance));
        e = AddNode(scene, d1, "E", nullptr);
        d3 = AddNode(scene, g, "D3", d1->GetBaseObject()->Copy(_CopyInstance));
        l = AddNode(scene, nullptr, "L", new C3DLight);
    }
};

std::vector<uint8_t> Store(C3DScene& scene)
{
    return zantest::StoreToBytes([&](CXArchive& ar) { scene.Serialize(ar); });
}

void Load(C3DScene& scene, const std::vector<uint8_t>& bytes, size_t length = SIZE_MAX)
{
    zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { scene.Serialize(ar); }, length);
}

size_t CountText(const std::vector<uint8_t>& bytes, const std::string& text)
{
    size_t count = 0;
    for (auto at = bytes.begin();
         (at = std::search(at, bytes.end(), text.begin(), text.end())) != bytes.end(); ++at)
        ++count;
    return count;
}
} // namespace

TEST(Scene, NewSceneHasOnlyItsRoot)
{
    C3DScene scene;
    C3DSceneNode* root = scene.GetRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetName(), CXTString("Scene"));
    EXPECT_EQ(root->GetObjectKindOf(), unsigned(_ObjectKindGroup));
    EXPECT_EQ(root->GetScene(), &scene);
    EXPECT_TRUE(scene.IsSceneRoot(root));
    EXPECT_FALSE(scene.GetFirstNode(0xFFFFFFFF, _IterNoObject));
    EXPECT_EQ(scene.GetChildCount(nullptr, 0xFFFFFFFF), 0);
    EXPECT_EQ(scene.GetChildDepth(nullptr), kZanNone);
}

TEST(Scene, WalkRules)
{
    CSample s;
    const C3DScene& scene = s.scene;
    EXPECT_EQ(Walk(scene, scene.GetFirstNode(0xFFFFFFFF)), "G C D1 D2 D3 L");
    EXPECT_EQ(Walk(scene, scene.GetFirstNode(0xFFFFFFFF, _IterNoObject)), "G C D1 D2 E D3 L");
    EXPECT_EQ(Walk(scene, scene.GetFirstNode(_ObjectKindDummy)), "D1 D2 D3");
    // Instances once: only the first node of the shared dummy, with flag 0x1 on its set.
    C3DNodePos once = scene.GetFirstNode(_ObjectKindDummy, _IterInstancesOnce);
    EXPECT_TRUE(once.CheckObjectID(s.d1->GetObjectID()));
    EXPECT_EQ(Walk(scene, once), "D1");
    // Subtrees, with and without their start; the root is never returned.
    EXPECT_EQ(Walk(scene, scene.GetFirstNode(0xFFFFFFFF, _IterSubtree, s.d1)), "D2");
    EXPECT_EQ(Walk(scene, scene.GetFirstNode(s.d1, _IterSubtree | _IterWithStart)), "D1 D2");
    EXPECT_EQ(Walk(scene, scene.GetFirstNode(s.c, _IterSubtree | _IterWithStart)), "C");
    EXPECT_EQ(Walk(scene, scene.GetFirstNode(scene.GetRoot(), _IterWithStart)),
              "G C D1 D2 D3 L");
    EXPECT_EQ(Walk(scene, scene.GetFirstNode(s.d1, 0)), "D2 D3 L"); // no subtree bound
    // Filters: installed late, they skip the current node when it is refused.
    s.g->SetFlag(_NodeHidden, true);
    s.d2->SetFlag(_NodeHidden, true);
    C3DFilter visible(0x2);
    C3DNodePos pos = scene.GetFirstNode(0xFFFFFFFF);
    pos.SetFilter(&visible);
    EXPECT_EQ(Walk(scene, pos), "C D1 D3 L");
    // Object IDs added by hand are skipped too.
    C3DNodePos added = scene.GetFirstNode(0xFFFFFFFF, _IterInstancesOnce);
    added.AddObjectID(s.g->GetObjectID());
    EXPECT_EQ(Walk(scene, added), "C D1 L");

    EXPECT_EQ(scene.GetChildCount(nullptr, _ObjectKindDummy), 4); // D1 D2 D3 and E
    EXPECT_EQ(scene.GetDirectChildCount(nullptr), 2);
    EXPECT_EQ(scene.GetChildDepth(s.d2), 2u);
    EXPECT_TRUE(scene.IsChildNode(s.g, s.e));
    EXPECT_FALSE(scene.IsChildNode(s.d1, s.d3));
}

TEST(Scene, RemovingWhileWalkingKeepsTheCursorValid)
{
    for (int removeAt = 0; removeAt < 6; ++removeAt)
    {
        CSample s;
        std::string seen;
        C3DNodePos pos = s.scene.GetFirstNode(0xFFFFFFFF);
        for (int i = 0; pos; ++i)
        {
            C3DSceneNode* node = s.scene.GetNextNode(pos);
            seen += node->GetName().str() + " ";
            if (i == removeAt)
            {
                EXPECT_TRUE(s.scene.RemoveNode(node, pos, true));
            }
        }
        // Removing a node removes its subtree from what is left to visit.
        const char* all = "G C D1 D2 D3 L ";
        const char* expected[] = {"G L ", all, "G C D1 D3 L ", all, all, all};
        EXPECT_EQ(seen, expected[removeAt]) << "removing node " << removeAt;
    }

    // Removing the current node (not yet returned) moves the cursor past it.
    CSample s;
    C3DNodePos pos = s.scene.GetFirstNode(0xFFFFFFFF);
    s.scene.GetNextNode(pos); // G; the cursor now stands on C
    s.scene.RemoveNode(s.d1, pos, false);
    EXPECT_EQ(Walk(s.scene, pos), "C D3 L");
    EXPECT_EQ(s.d1->GetScene(), nullptr);
    EXPECT_EQ(s.d2->GetScene(), nullptr);
    EXPECT_EQ(s.d3->GetBaseObject()->GetInstanceNbr(), 3); // D1 and D2 still hold it
    s.d1->DeleteNode();
    EXPECT_EQ(s.d3->GetBaseObject()->GetInstanceNbr(), 1);

    // The root through the cursor empties the tree and exhausts the cursor.
    pos = s.scene.GetFirstNode(0xFFFFFFFF);
    EXPECT_TRUE(s.scene.RemoveNode(s.scene.GetRoot(), pos, true));
    EXPECT_FALSE(pos);
    EXPECT_EQ(s.scene.GetRoot(), nullptr);
    EXPECT_TRUE(Store(s.scene).empty()); // a scene without root writes nothing
    AddNode(s.scene, nullptr, "New", new C3DDummy); // a new root comes back
    EXPECT_EQ(Walk(s.scene, s.scene.GetFirstNode(0xFFFFFFFF)), "New");
}

TEST(Scene, LookupsAndSelection)
{
    CSample s;
    C3DScene& scene = s.scene;
    EXPECT_EQ(scene.GetNodeByID(s.c->GetNodeID()), s.c);
    EXPECT_EQ(scene.GetNodeByID(s.e->GetNodeID()), nullptr); // carries no object
    EXPECT_EQ(scene.GetNodeByID(kZanNone), nullptr);
    EXPECT_EQ(scene.GetObjectByID(s.l->GetObjectID()), s.l->GetBaseObject());
    EXPECT_EQ(scene.GetObjectByID(kZanNone), nullptr);

    CXArray<C3DSceneNode*> nodes;
    EXPECT_EQ(scene.GetNodesByType(nullptr, _ObjectKindDummy | _ObjectKindLight, nodes), 4);
    EXPECT_EQ(scene.GetNodesByType(nullptr, _ObjectKindDummy, nodes, true), 1);
    EXPECT_EQ(scene.GetInstancesByID(nullptr, s.d2, nodes), 3u);
    EXPECT_EQ(scene.GetInstancesByID(s.d1, s.d1->GetObjectID(), nodes), 1u); // only D2 below
    EXPECT_EQ(scene.GetInstancesByID(nullptr, s.c, nodes), 1u);
    EXPECT_EQ(nodes[0], s.c);
    EXPECT_EQ(scene.GetInstancesByID(nullptr, static_cast<C3DSceneNode*>(nullptr), nodes), 0u);

    scene.Select(s.c);
    scene.Select(s.l, _SelectAdd);
    EXPECT_EQ(scene.GetSelectedNodes(nodes), 2u);
    scene.Select(s.d2, _SelectInstances); // drops C and L, takes every node of the dummy
    EXPECT_EQ(scene.GetSelectedNodes(nodes), 3u);
    EXPECT_FALSE(s.c->IsFlagSet(_NodeSelected));
    scene.Select(s.g, _SelectSubtree);
    EXPECT_EQ(scene.GetSelectedNodes(nodes, _ObjectKindCamera | _ObjectKindDummy), 4u);
    EXPECT_TRUE(s.e->IsFlagSet(_NodeSelected));
    EXPECT_FALSE(scene.IsNodeSelected(_ObjectKindLight));
    scene.SelectNone();
    EXPECT_FALSE(scene.IsNodeSelected());
    scene.SelectAll();
    EXPECT_EQ(scene.GetSelectedNodes(nodes), 6u);
    scene.Unselect(s.l);
    scene.Unselect(nullptr);
    EXPECT_FALSE(scene.IsNodeSelected(_ObjectKindLight));
}

TEST(Scene, CopiesKeepInstancesAndKinds)
{
    CSample s;
    s.scene.SetUnit(_UnitMeter);
    s.c->SetFlag(_NodeHidden, true);
    ScenePtr copy(s.scene.Copy(nullptr, 0));
    ASSERT_TRUE(copy);
    EXPECT_EQ(Walk(*copy, copy->GetFirstNode(0xFFFFFFFF, _IterNoObject)), "G C D1 D2 E D3 L");
    EXPECT_EQ(copy->GetUnit(), _UnitMeter);
    CXArray<C3DSceneNode*> dummies;
    ASSERT_EQ(copy->GetNodesByType(nullptr, _ObjectKindDummy, dummies), 3);
    // The three dummies share one new object, not the source's.
    C3DBaseObject* shared = dummies[0]->GetBaseObject();
    EXPECT_NE(shared, s.d1->GetBaseObject());
    EXPECT_EQ(dummies[1]->GetBaseObject(), shared);
    EXPECT_EQ(dummies[2]->GetBaseObject(), shared);
    EXPECT_EQ(shared->GetInstanceNbr(), 3);
    EXPECT_EQ(s.d1->GetBaseObject()->GetInstanceNbr(), 3);
    for (C3DNodePos pos = copy->GetFirstNode(0xFFFFFFFF); pos;)
        EXPECT_EQ(copy->GetNextNode(pos)->GetScene(), copy.get());

    // Flags: no hidden nodes, no groups (their subtree goes with them), direct children only.
    ScenePtr visible(s.scene.Copy(nullptr, _SceneCopyNoHidden));
    EXPECT_EQ(Walk(*visible, visible->GetFirstNode(0xFFFFFFFF)), "G D1 D2 D3 L");
    ScenePtr noGroup(s.scene.Copy(nullptr, _SceneCopyNoGroup));
    EXPECT_EQ(Walk(*noGroup, noGroup->GetFirstNode(0xFFFFFFFF)), "L");
    ScenePtr flat(s.scene.Copy(nullptr, _SceneCopyDirectChilds));
    EXPECT_EQ(Walk(*flat, flat->GetFirstNode(0xFFFFFFFF)), "G L");
    ScenePtr flattened(s.scene.Copy(s.g, _SceneCopyFlatten | _SceneCopySourceRef));
    EXPECT_EQ(Walk(*flattened, flattened->GetFirstNode(0xFFFFFFFF)), "C D1 D2 D3");
    EXPECT_EQ(flattened->GetDirectChildCount(), 5); // E too, all under the root
    EXPECT_EQ(flattened->GetChildNode(nullptr)->GetCustomData().GetUInt64(C3DScene::kSourceNodeID),
              uint64_t(reinterpret_cast<uintptr_t>(s.c)));
    EXPECT_EQ(s.scene.Copy(s.c, 0), nullptr); // nothing to copy below a leaf

    // Into the same scene: new node IDs, the dummies still share one (new) object.
    C3DObjectCreator creator;
    C3DSceneNode* again = s.scene.CopyNode(&s.scene, nullptr, s.g, 0, &creator);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again->GetNodeID(), s.g->GetNodeID());
    EXPECT_EQ(s.scene.GetNodesByType(again, _ObjectKindDummy, dummies), 3);
    EXPECT_EQ(dummies[0]->GetBaseObject()->GetInstanceNbr(), 3);
    EXPECT_EQ(creator.GetInstanceNbr(), 3u); // the group, the camera and the shared dummy
}

TEST(Scene, InstancesAndCleaning)
{
    CSample s;
    C3DScene& scene = s.scene;
    auto* key = static_cast<C3DVectorKey*>(s.d1->CreateKey(5, kNodeTranslateKey));
    key->SetVector(C3DTVector<float>(1, 0, 0));
    C3DSceneNode* instance = scene.CreateInstance(s.d1);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->GetKeyNbr(), 0u);
    EXPECT_EQ(instance->GetBaseObject(), s.d1->GetBaseObject());
    EXPECT_EQ(s.d1->GetBaseObject()->GetInstanceNbr(), 5); // D1, D2, D3 and the branch's two
    scene.AddNode(nullptr, instance);
    EXPECT_EQ(scene.DeleteInstanciation(s.g), 3);
    EXPECT_EQ(instance->GetBaseObject()->GetInstanceNbr(), 2);

    // Empty groups go, then the groups they leave empty.
    C3DSceneNode* outer = AddNode(scene, nullptr, "Outer", new C3DGroup);
    AddNode(scene, outer, "Inner", new C3DGroup);
    EXPECT_EQ(scene.CleanGroups(true), 2);
    C3DSceneNode* wrap = AddNode(scene, nullptr, "Wrap", new C3DGroup);
    AddNode(scene, wrap, "Kept", new C3DDummy);
    EXPECT_EQ(scene.CleanGroups(false), 1);
    std::string top;
    for (C3DSceneNode* n = scene.GetChildNode(nullptr); n; n = scene.GetRightNode(n))
        top += n->GetName().str() + " ";
    EXPECT_EQ(top, "G L D1 Kept ");
}

TEST(Scene, UnitsSmoothingAndTexturePaths)
{
    C3DScene scene;
    EXPECT_FALSE(scene.IsUnitDefined());
    scene.SetScaleFactor(0.0);
    EXPECT_FALSE(scene.IsUnitDefined());
    scene.SetUnit(_UnitMeter);
    scene.SetScaleFactor(1.0);
    EXPECT_TRUE(scene.IsUnitDefined());
    EXPECT_DOUBLE_EQ(scene.ConvertToUnit(1.0), 0.01);
    scene.SetScaleFactor(0.0);
    EXPECT_EQ(scene.GetScaleFactor(), 1.0);
    EXPECT_EQ(C3DScene::GetUnitFactor(7), 2.54);
    EXPECT_EQ(C3DScene::GetUnitFactor(12), 1.0);
    EXPECT_EQ(scene.GetUnitText(), CXTString("m"));

    const float preference = C3DScene::GetSmoothAngle(nullptr);
    EXPECT_EQ(scene.GetSmoothAngle(), preference);
    scene.SetSmoothAngle(0.5f);
    EXPECT_EQ(scene.GetSmoothAngle(), 0.5f);
    scene.SetSmoothAngle(-0.1f); // below 0: ignored
    scene.SetSmoothAngle(3.2f);  // above 180.01 degrees: ignored
    EXPECT_EQ(scene.GetSmoothAngle(), 0.5f);
    scene.SetSmoothAngle(-1.0f); // the preference
    EXPECT_EQ(scene.GetSmoothAngle(), preference);
    scene.SetSmoothMode(_SmoothModeAngle);
    EXPECT_EQ(scene.GetSmoothMode(), _SmoothModeAngle);
    scene.SetSmoothMode(_NormalSmoothMode(9));
    EXPECT_EQ(scene.GetSmoothMode(), _SmoothModeAngle);

    zantest::CTempDir dir;
    EXPECT_TRUE(scene.AddTexturePath(CXTString(dir.Path())));
    EXPECT_FALSE(scene.AddTexturePath(CXTString(dir.Path() + "/.")));
    EXPECT_FALSE(scene.AddTexturePath(CXTString(dir.Path() + "/missing")));
    CXTString path;
    EXPECT_TRUE(scene.GetTexturePath(0, path));
    EXPECT_EQ(path, CXTString(dir.Path() + "/"));
    EXPECT_FALSE(scene.GetTexturePath(1, path));
    EXPECT_TRUE(path.IsEmpty());

    // Texture search: the scene's folders find a map's image.
    ASSERT_TRUE(zantest::WriteFileText(dir.File("wood.png"), "x"));
    C3DMaterial* material = scene.CreateNewMaterial(3);
    ASSERT_NE(material, nullptr);
    CMaterialMap* map =
        material->AddMaterialMap("textures/wood.png", 0, _MapDiffuse, _ProjectionChannel);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(scene.GetBitmapPath(*map), CXTString(dir.File("wood.png")));
    CXArray<CXTString> linked;
    EXPECT_EQ(scene.GetLinkedFiles(linked), 1);
    scene.SetFilename(CFileNameSpec("/data/scenes/a.3dif", ZanTag("3DIF")));
    EXPECT_EQ(scene.GetFilepath(), CXTString("/data/scenes/"));
    EXPECT_EQ(scene.GetFilename().GetClass(), ZanTag("3DIF"));
    scene.SetFilename(CFileNameSpec());
    EXPECT_FALSE(scene.GetCustomData().HasValue(C3DScene::kFileClassID));
}

TEST(Scene, AnimationTimeAndParserData)
{
    CSample s;
    EXPECT_EQ(s.scene.GetTimeRange(0), CTimeRange(0, 0));
    s.c->CreateKey(10, kNodeTranslateKey);
    s.d2->CreateKey(40, kNodeRotateKey);
    s.l->CreateKey(25, kNodeTranslateKey);
    EXPECT_EQ(s.scene.GetTimeRange(0), CTimeRange(10, 40));
    EXPECT_EQ(s.scene.GetTimeRange(kNodeTranslateKey), CTimeRange(10, 25));
    EXPECT_TRUE(s.scene.SetCurrentTime(100));
    EXPECT_EQ(s.scene.GetTickCount(), 40);
    EXPECT_FALSE(s.scene.SetCurrentTime(50)); // clamped to the same tick
    int found = 0;
    EXPECT_NE(s.scene.GetConstKey(30, _KeyBefore, 0, &found), nullptr);
    EXPECT_EQ(found, 25);
    EXPECT_NE(s.scene.GetConstKey(11, _KeyAfter, 0, &found), nullptr);
    EXPECT_EQ(found, 25);
    s.scene.DeleteAllKeys();
    EXPECT_EQ(s.scene.GetConstKey(30, _KeyBefore, 0, &found), nullptr);

    unsigned parser = 99;
    EXPECT_EQ(s.scene.GetParserData(parser), nullptr);
    EXPECT_EQ(parser, 0u);
    int data = 0;
    s.scene.SetParserData(true, 7, &data);
    ScenePtr copy(s.scene.Copy());
    EXPECT_EQ(copy->GetParserInfo(), s.scene.GetParserInfo()); // shared
    EXPECT_EQ(copy->GetParserData(parser, true), &data);
    EXPECT_EQ(parser, 7u);
    EXPECT_EQ(copy->GetParserInfo(), nullptr);
    EXPECT_EQ(s.scene.GetParserData(parser), nullptr); // detached for every holder
}

// ---------------------------------------------------------------------------- archive

namespace
{
std::string GoldenPath()
{
    return std::string(ZAN3D_TEST_DATA_DIR) + "/scene/scene.bin";
}

// A small scene with every part of the layout; object and material IDs are fixed.
void BuildGoldenScene(C3DScene& scene)
{
    scene.SetUnit(_UnitInch);
    scene.SetScaleFactor(2.5);
    scene.SetParserData(false, 12, reinterpret_cast<void*>(uintptr_t(0x1234)));
    C3DMaterial* material = scene.CreateNewMaterial(4);
    material->SetName("Brass");
    C3DSceneNode* group = AddNode(scene, nullptr, "Rig", new C3DGroup);
    auto* camera = new C3DCamera;
    camera->SetFov(0.6);
    C3DSceneNode* eye = AddNode(scene, group, "Eye", camera);
    static_cast<C3DVectorKey*>(eye->CreateKey(5, kNodeTranslateKey))
        ->SetVector(C3DTVector<float>(1, 2, 3));
    eye->SetFlag(_NodeSelected, true);
    eye->GetCustomData().SetString(ZanTag("NOTE"), "look");
    C3DSceneNode* a = AddNode(scene, group, "MarkA", new C3DDummy);
    AddNode(scene, a, "MarkB", a->GetBaseObject()->Copy(_CopyInstance));
    AddNode(scene, nullptr, "Empty", nullptr);
    AddNode(scene, nullptr, "Lamp", new C3DLight);
    unsigned id = 201;
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = scene.GetFirstNode(0xFFFFFFFF, _IterInstancesOnce); pos;)
        if (scene.GetNextNode(object, pos))
            scenetest::SetObjectID(*object, id++);
    scenetest::SetObjectID(*scene.GetRoot()->GetBaseObject(), 200);
}
} // namespace

TEST(SceneArchive, GoldenFilePinsTheLayout)
{
    C3DScene source;
    BuildGoldenScene(source);
    auto golden = zantest::ReadFileBytes(GoldenPath());
    ASSERT_FALSE(golden.empty()) << "missing " << GoldenPath();
    EXPECT_EQ(Store(source), golden) << "the scene archive layout changed";

    C3DScene loaded;
    Load(loaded, golden);
    EXPECT_EQ(Walk(loaded, loaded.GetFirstNode(0xFFFFFFFF, _IterNoObject)),
              "Rig Eye MarkA MarkB Empty Lamp");
    EXPECT_EQ(loaded.GetUnit(), _UnitInch);
    EXPECT_EQ(loaded.GetScaleFactor(), 2.5);
    ASSERT_NE(loaded.GetMaterialByName("Brass"), nullptr);
    EXPECT_EQ(loaded.GetMaterialID("Brass"), 4u);
    unsigned parser = 0;
    EXPECT_EQ(loaded.GetParserData(parser), nullptr); // the handle is never reloaded
    EXPECT_EQ(loaded.GetParserInfo()->m_ParserID, 12u);
    CXArray<C3DSceneNode*> marks;
    ASSERT_EQ(loaded.GetNodesByType(nullptr, _ObjectKindDummy, marks), 2);
    C3DSceneNode* markB = marks[1];
    EXPECT_EQ(marks[0]->GetBaseObject(), markB->GetBaseObject());
    EXPECT_EQ(markB->GetBaseObject()->GetInstanceNbr(), 2);
    EXPECT_EQ(markB->GetBaseObject()->GetScene(), &loaded);
    EXPECT_TRUE(loaded.IsNodeSelected(_ObjectKindCamera));
    auto reloaded = golden; // the same bytes, but for the parser handle that is not kept
    std::fill(reloaded.begin() + 8, reloaded.begin() + 16, uint8_t(0));
    EXPECT_EQ(Store(loaded), reloaded);
}

TEST(SceneArchive, DISABLED_WriteGoldenFile)
{
    C3DScene scene;
    BuildGoldenScene(scene);
    ASSERT_TRUE(zantest::WriteFileBytes(GoldenPath(), Store(scene)));
}

TEST(SceneArchive, TenThousandNodesSharingAHundredObjects)
{
    C3DScene scene;
    std::vector<C3DBaseObject*> objects;
    std::vector<C3DSceneNode*> firsts;
    for (int i = 0; i < 100; ++i)
    {
        C3DBaseObject* object = i % 3 == 0   ? static_cast<C3DBaseObject*>(new C3DGroup)
                                : i % 3 == 1 ? static_cast<C3DBaseObject*>(new C3DDummy)
                                             : static_cast<C3DBaseObject*>(new C3DCamera);
        objects.push_back(object);
        firsts.push_back(AddNode(scene, nullptr, "first", object));
    }
    for (int i = 100; i < 10000; ++i)
    {
        C3DSceneNode* parent = i % 2 == 0 ? firsts[size_t(i * 7 % 100)] : nullptr;
        AddNode(scene, parent, "n", objects[size_t(i % 100)]->Copy(_CopyInstance));
    }
    auto bytes = Store(scene);
    // Each object is written in full once: one class record per object.
    EXPECT_EQ(CountText(bytes, "C3DCamera"), 33u);
    EXPECT_EQ(CountText(bytes, "C3DDummy"), 33u);
    EXPECT_EQ(CountText(bytes, "C3DGroup"), 35u); // with the root's

    C3DScene loaded;
    Load(loaded, bytes);
    EXPECT_EQ(loaded.GetChildCount(), 10000);
    std::set<C3DBaseObject*> distinct;
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = loaded.GetFirstNode(0xFFFFFFFF); pos;)
        if (loaded.GetNextNode(object, pos))
        {
            distinct.insert(object);
            ASSERT_EQ(object->GetInstanceNbr(), 100);
        }
    EXPECT_EQ(distinct.size(), 100u);
    EXPECT_EQ(Store(loaded), bytes);
}

TEST(SceneArchive, MalformedInputLeavesTheSceneAsItWas)
{
    C3DScene source;
    BuildGoldenScene(source);
    const auto bytes = Store(source);

    CSample target;
    target.scene.SetUnit(_UnitMile);
    target.scene.CreateNewMaterial(9);
    const auto before = Store(target.scene);
    for (size_t length = 0; length < bytes.size(); ++length)
    {
        ASSERT_TRUE(zantest::ArchiveFails([&] { Load(target.scene, bytes, length); }))
            << "length " << length;
        ASSERT_EQ(Store(target.scene), before) << "length " << length;
    }

    // Another version: nothing read, nothing changed.
    auto other = bytes;
    other[0] = 2;
    Load(target.scene, other, 4);
    EXPECT_EQ(Store(target.scene), before);

    // A tree node that is not a scene node is refused.
    auto foreign = zantest::StoreToBytes(
        [](CXArchive& ar)
        {
            ar << 1 << 0;
            CCustomData().Serialize(ar);
            CMaterials().Serialize(ar);
            CTree tree;
            tree.SetRoot(new CTreeNode);
            tree.Serialize(ar);
        });
    EXPECT_TRUE(zantest::ArchiveFails([&] { Load(target.scene, foreign); },
                                      CXArchiveException::_BadClass));

    // Random corruption: a clean load or a refusal that leaves the scene as it was. Object
    // IDs may come out huge; that only moves the object counter.
    std::mt19937 random(4321);
    for (int round = 0; round < 300; ++round)
    {
        auto corrupt = bytes;
        for (int flips = 1 + int(random() % 4); flips > 0; --flips)
            corrupt[4 + random() % (corrupt.size() - 4)] = uint8_t(random());
        C3DScene scene;
        BuildGoldenScene(scene);
        const auto kept = Store(scene);
        try
        {
            Load(scene, corrupt);
        }
        catch (const CXArchiveException&)
        {
            ASSERT_EQ(Store(scene), kept) << "round " << round;
        }
    }
}
