// Scene-wide geometry operations: concatenation with each placement and with material
// filters, merging by material, baking into global coordinates, axis swaps, orientation,
// scaling and the parallel normal pass. Most checks compare the scene's world-space faces
// before and after: an operation that only reorganises the scene must not move a face.
#include "common/zan_test_helpers.h"
#include "scene/geomobject_builders.h"
#include "scene/sceneops_helpers.h"

#include <3dzan/foundation/services.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/processing/primitives.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/group.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>

namespace
{
using namespace opstest;
using zantest::AddNode;
using zantest::ScenePtr;

constexpr double kQuarter = std::numbers::pi / 2;

// root ─ H (group, quarter turn about z, then up 3)
//        │  └ G (group, 10 along x)
//        │      ├ A (materials 7, 8; 5 along y, scaled 2)
//        │      └ B (materials 8, 9; pivot (1, 0, 0), 45 degrees about y)
//        ├ C (material 9, 3 down z)
//        └ Hidden (material 7, hidden)
struct CTestScene
{
    ScenePtr scene{C3DScene::Create()};
    C3DSceneNode *h, *g, *a, *b, *c, *hidden;

    CTestScene()
    {
        C3DScene& s = *scene;
        h = AddNode(s, nullptr, "H", new C3DGroup);
        Rotate(h, kQuarter, V3(0, 0, 1));
        Translate(h, 0, 0, 3);
        g = AddNode(s, h, "G", new C3DGroup);
        Translate(g, 10, 0, 0);
        a = AddNode(s, g, "A", MakeStrip(0, 0, 2, {7, 8}));
        Translate(a, 0, 5, 0);
        ScaleKey(a, 2, 2, 2);
        b = AddNode(s, g, "B", MakeStrip(1, 1, 3, {8, 9}));
        Pivot(b, 1, 0, 0);
        Rotate(b, std::numbers::pi / 4, V3(0, 1, 0));
        c = AddNode(s, nullptr, "C", MakeStrip(-4, 0, 1, {9}));
        Translate(c, 0, 0, -3);
        hidden = AddNode(s, nullptr, "Hidden", MakeStrip(0, 7, 1, {7}));
        hidden->SetFlag(_NodeHidden, true);
    }
};

// The faces with every corner passed through fn.
std::vector<WorldFace> Mapped(const std::vector<WorldFace>& faces,
                              const std::function<std::array<long, 3>(std::array<long, 3>)>& fn)
{
    std::vector<WorldFace> out = faces;
    for (WorldFace& face : out)
    {
        for (auto& corner : face.second)
            corner = fn(corner);
        std::rotate(face.second.begin(), std::min_element(face.second.begin(), face.second.end()),
                    face.second.end());
    }
    std::sort(out.begin(), out.end());
    return out;
}

void ExpectNear(const C4x4TMatrix<float>& a, const C4x4TMatrix<float>& b, double tolerance)
{
    EXPECT_TRUE(a.IsEqual(b, tolerance));
}

TEST(SceneConcatenate, EachPlacementKeepsTheWorldFaces)
{
    for (unsigned flag : {16u, 32u, 64u})
    {
        SCOPED_TRACE(flag);
        CTestScene t;
        const auto before = WorldFaces(*t.scene);
        const auto underG = WorldFaces(*t.scene, t.g);
        C3DSceneNode* node = t.scene->Concatenate(t.g, "Joined", flag, nullptr, nullptr);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->GetName(), CXTString("Joined"));
        EXPECT_EQ(WorldFaces(*t.scene), before);
        EXPECT_EQ(WorldFaces(*t.scene, node), underG);
        if (flag == 16)
        {
            EXPECT_EQ(t.scene->GetParent(node), t.scene->GetRoot());
            EXPECT_EQ(t.h->GetChild(), nullptr); // G and its subtree went
        }
        else if (flag == 32)
        {
            EXPECT_EQ(t.scene->GetParent(node), t.g);
            EXPECT_EQ(t.g->GetChildNbr(), 1u);
        }
        else
        {
            EXPECT_EQ(t.scene->GetParent(node), t.h);
            EXPECT_EQ(t.h->GetChildNbr(), 1u);
        }
    }
}

TEST(SceneConcatenate, WithoutPlacementReturnsAWorldSpaceNodeAndLeavesTheScene)
{
    CTestScene t;
    const auto before = WorldFaces(*t.scene);
    const int nodes = GeomNodeCount(*t.scene);
    C3DSceneNode* node = t.scene->Concatenate(nullptr, "All", 0, nullptr, nullptr);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->GetParent(), nullptr);
    EXPECT_EQ(ObjectFaces(*node->GetGeomObject()), before); // the hidden node is left out
    EXPECT_EQ(WorldFaces(*t.scene), before);
    EXPECT_EQ(GeomNodeCount(*t.scene), nodes);
    node->Delete();

    // The whole scene into one node: the tree keeps a root and that node only.
    C3DSceneNode* all = t.scene->Concatenate(nullptr, "All", 16, nullptr, nullptr);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(t.scene->GetParent(all), t.scene->GetRoot());
    EXPECT_EQ(t.scene->GetChildCount(), 1);
    EXPECT_EQ(WorldFaces(*t.scene), before);
}

TEST(SceneConcatenate, MaterialFilterKeepsOrDropsThatMaterialsFaces)
{
    for (bool keep : {true, false})
    {
        SCOPED_TRACE(keep);
        CTestScene t;
        // Only A and B use material 8: the node test keeps them alone.
        const auto expected = OfMaterial(WorldFaces(*t.scene, t.g), 8, keep);
        C3DFilterByMaterial filter;
        filter.SetMaterial(8, keep);
        C3DSceneNode* node = t.scene->Concatenate(nullptr, "m8", 0, &filter, nullptr);
        ASSERT_NE(node, nullptr);
        const C3DGeomObject& result = *node->GetGeomObject();
        EXPECT_EQ(ObjectFaces(result), expected);
        // Every source point is used by a face: none of those only rejected faces used stays.
        std::vector<bool> used(size_t(result.GetPointNbr()), false);
        for (unsigned f = 0; f < unsigned(result.GetFaceNbr()); ++f)
        {
            int count = 0;
            const int* items = result.GetFaceList()->GetIndexes(f, count);
            for (int k = 0; k < count; ++k)
                used[size_t(items[k])] = true;
        }
        EXPECT_EQ(std::count(used.begin(), used.end(), false), 0);
        node->Delete();
    }
}

TEST(SceneConcatenate, RefusesWhatItCannotPlace)
{
    CTestScene t;
    ScenePtr other(C3DScene::Create());
    C3DSceneNode* stranger = AddNode(*other, nullptr, "S", MakeStrip(0, 0, 1, {1}));
    EXPECT_EQ(t.scene->Concatenate(stranger, "x", 16, nullptr, nullptr), nullptr);

    ScenePtr empty(C3DScene::Create());
    EXPECT_EQ(empty->Concatenate(nullptr, "x", 16, nullptr, nullptr), nullptr);
    EXPECT_NE(empty->GetRoot(), nullptr);

    Translate(t.a, std::nanf(""), 0, 0);
    const int nodes = GeomNodeCount(*t.scene);
    EXPECT_EQ(t.scene->Concatenate(nullptr, "x", 16, nullptr, nullptr), nullptr);
    EXPECT_EQ(GeomNodeCount(*t.scene), nodes);
    EXPECT_TRUE(t.scene->IsNodeInScene(t.g));
}

TEST(GeomObjectConcatenate, FilterLeavesRejectedFacesAndTheirOnlyPointsBehind)
{
    scenetest::MeshPtr mesh = scenetest::MakeTestMesh();
    scenetest::TypedPtr<C3DObject> target(new C3DObject);
    C3DFilterByMaterial triangleOnly;
    triangleOnly.SetMaterial(8, true); // the triangle (1, 2, 5)
    CXArray<C3DGeomObject*> sources;
    sources.Add(mesh.get());
    ASSERT_TRUE(target->Concatenate(nullptr, sources, &triangleOnly));

    // Points 1, 2, 5 serve the kept triangle, point 6 no face at all; 0, 3, 4 only the
    // rejected faces.
    const int kept[] = {1, 2, 5, 6};
    ASSERT_EQ(target->GetFaceNbr(), 1);
    ASSERT_EQ(target->GetPointNbr(), 4);
    for (int i = 0; i < 4; ++i)
    {
        const auto& p = (*target->GetPointList())[i];
        const auto& q = (*mesh->GetPointList())[kept[i]];
        EXPECT_EQ(p.m_X, q.m_X);
        EXPECT_EQ(p.m_Y, q.m_Y);
        EXPECT_EQ(p.m_Z, q.m_Z);
        EXPECT_EQ(scenetest::WeightAt(*target, i), scenetest::WeightAt(*mesh, kept[i]));
    }
    for (size_t corner = 0; corner < 3; ++corner)
    {
        const CUVWPoint got = scenetest::UVAt(*target, 0, corner);
        const CUVWPoint want = scenetest::UVAt(*mesh, 1, corner);
        EXPECT_EQ(got.m_U, want.m_U);
        EXPECT_EQ(got.m_V, want.m_V);
    }
    for (const CChannel* channel : *target->GetChannels())
    {
        const CFaceList* faces = channel->GetFaceList();
        EXPECT_TRUE(!faces || faces->GetSize() == 1);
    }
}

TEST(SceneConcatenateByMaterials, MakesOneNodePerMaterialInPlace)
{
    CTestScene t;
    const auto before = WorldFaces(*t.scene);
    EXPECT_EQ(t.scene->ConcatenateByMaterials(nullptr, true, nullptr), 3);
    EXPECT_EQ(WorldFaces(*t.scene), before);
    // Every visible geometric node now holds the faces of one material, named after it.
    C3DGeomObject* object = nullptr;
    int visible = 0;
    for (C3DNodePos pos = t.scene->GetFirstNode(_ObjectKindGeometric); pos;)
    {
        C3DSceneNode* node = t.scene->GetNextNode(object, pos);
        if (node->IsFlagSet(_NodeHidden))
            continue;
        ++visible;
        const auto faces = ObjectFaces(*object);
        ASSERT_FALSE(faces.empty());
        EXPECT_EQ(OfMaterial(faces, faces.front().first).size(), faces.size());
        EXPECT_NE(std::string(node->GetName().c_str()).find(std::to_string(faces.front().first)),
                  std::string::npos);
    }
    EXPECT_EQ(visible, 3);

    // Without replacing, the new nodes come beside the old ones: every face twice.
    CTestScene kept;
    const auto once = WorldFaces(*kept.scene);
    auto twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    std::sort(twice.begin(), twice.end());
    EXPECT_EQ(kept.scene->ConcatenateByMaterials(nullptr, false, nullptr), 3);
    EXPECT_EQ(WorldFaces(*kept.scene), twice);
}

TEST(SceneGlobalCoordinates, BakesEveryPlacementAndKeepsWorldPositions)
{
    CTestScene t;
    // D shares A's object under another placement; a camera hangs under H.
    C3DSceneNode* d = AddNode(*t.scene, t.g, "D", t.a->GetBaseObject()->Copy(_CopyInstance));
    Translate(d, 0, -4, 1);
    C3DSceneNode* camera = AddNode(*t.scene, t.h, "Cam", new C3DCamera);
    Translate(camera, 1, 2, 3);
    C4x4TMatrix<float> cameraBefore;
    camera->GetNodeTM(0, cameraBefore, false);
    const auto before = WorldFaces(*t.scene);

    EXPECT_EQ(t.scene->ConvertToGlobalCoordinates(nullptr), 4); // A, B, C, D: Hidden is in place
    EXPECT_EQ(WorldFaces(*t.scene), before);
    CXArray<C3DSceneNode*> geometric;
    t.scene->GetNodesByType(nullptr, _ObjectKindGeometric, geometric);
    for (int i = 0; i < geometric.GetSize(); ++i)
        EXPECT_EQ(geometric[i]->GetKeyNbr(), 0u) << geometric[i]->GetName().c_str();
    EXPECT_NE(t.a->GetBaseObject(), d->GetBaseObject());
    C4x4TMatrix<float> cameraAfter;
    camera->GetNodeTM(0, cameraAfter, false);
    ExpectNear(cameraAfter, cameraBefore, 1e-5);
    // A second pass finds nothing left to bake.
    EXPECT_EQ(t.scene->ConvertToGlobalCoordinates(nullptr), 0);
}

TEST(SceneGlobalCoordinates, SubtreeUnderATransformedNodeKeepsWorldPositions)
{
    CTestScene t;
    const auto before = WorldFaces(*t.scene);
    EXPECT_EQ(t.scene->ConvertToGlobalCoordinates(t.g), 2);
    EXPECT_EQ(WorldFaces(*t.scene), before);
    EXPECT_GT(t.h->GetKeyNbr(), 0u); // above the start: untouched
    EXPECT_EQ(t.a->GetKeyNbr(), 0u);

    ScenePtr other(C3DScene::Create());
    C3DSceneNode* stranger = AddNode(*other, nullptr, "S", MakeStrip(0, 0, 1, {1}));
    EXPECT_EQ(t.scene->ConvertToGlobalCoordinates(stranger), 0);
}

TEST(SceneSwapCoordinates, SwapsEveryFaceAndAnInvolutiveCodeTwiceRestores)
{
    CTestScene t;
    C3DMaterial* material = t.scene->CreateNewMaterial(7);
    CMaterialMap* map =
        material->AddMaterialMap("tex.png", kZanNone, _MapDiffuse, _ProjectionPlanar);
    const auto before = WorldFaces(*t.scene);
    const unsigned checksum = t.a->GetBaseObject()->GetChecksum(0);

    EXPECT_FALSE(t.scene->SwapCoordinates(0));
    EXPECT_FALSE(t.scene->SwapCoordinates(3)); // two exchanges at once: not a code
    EXPECT_EQ(WorldFaces(*t.scene), before);

    ASSERT_TRUE(t.scene->SwapCoordinates(_SwapYZ));
    EXPECT_EQ(WorldFaces(*t.scene), Mapped(before,
                                           [](std::array<long, 3> p) {
                                               return std::array<long, 3>{p[0], p[2], p[1]};
                                           }));
    EXPECT_FALSE(map->GetAxisSwapMatrix().IsIdentity());
    ASSERT_TRUE(t.scene->SwapCoordinates(_SwapYZ));
    EXPECT_EQ(WorldFaces(*t.scene), before);
    EXPECT_EQ(t.a->GetBaseObject()->GetChecksum(0), checksum);
    EXPECT_TRUE(map->GetAxisSwapMatrix().IsIdentity(1e-6));
}

TEST(SceneOrientation, ReadingThenWritingGivesBackTheKeys)
{
    for (_UP_AXIS_MODE mode : {_UpAxisZ, _UpAxisX})
    {
        SCOPED_TRACE(mode);
        CTestScene t;
        std::vector<C4x4TMatrix<float>> locals;
        for (CTreeNode* n = t.scene->GetRoot()->GetChild(); n; n = n->GetRight())
            static_cast<C3DSceneNode*>(n)->GetObjectLocalTM(0, locals.emplace_back());
        ASSERT_TRUE(t.scene->OrientScene(mode, true));
        ASSERT_TRUE(t.scene->OrientScene(mode, false));
        size_t i = 0;
        for (CTreeNode* n = t.scene->GetRoot()->GetChild(); n; n = n->GetRight())
        {
            C4x4TMatrix<float> local;
            static_cast<C3DSceneNode*>(n)->GetObjectLocalTM(0, local);
            ExpectNear(local, locals[i++], 1e-5);
        }
    }
}

TEST(SceneOrientation, ZUpFileTurnsZIntoY)
{
    CTestScene t;
    const auto before = WorldFaces(*t.scene);
    EXPECT_FALSE(t.scene->OrientScene(_UpAxisKeep, true));
    EXPECT_EQ(WorldFaces(*t.scene), before);
    ASSERT_TRUE(t.scene->OrientScene(_UpAxisZ, true));
    EXPECT_EQ(WorldFaces(*t.scene), Mapped(before,
                                           [](std::array<long, 3> p) {
                                               return std::array<long, 3>{p[0], p[2], -p[1]};
                                           }));

    ScenePtr empty(C3DScene::Create());
    EXPECT_TRUE(empty->OrientScene(_UpAxisZ, true));
}

TEST(SceneScale, ScalesTheWorldAndRefusesZero)
{
    CTestScene t;
    const auto before = WorldFaces(*t.scene);
    t.scene->Scale(V3(1, 0, 1));
    t.scene->Scale(V3(std::nanf(""), 1, 1));
    EXPECT_EQ(WorldFaces(*t.scene), before);
    t.scene->Scale(V3(2, 3, 4));
    // Rounded coordinates scaled by 3 or 4 may be a few thousandths off.
    const auto after = WorldFaces(*t.scene);
    const auto expected = Mapped(before,
                                 [](std::array<long, 3> p) {
                                     return std::array<long, 3>{2 * p[0], 3 * p[1], 4 * p[2]};
                                 });
    ASSERT_EQ(after.size(), expected.size());
    for (size_t f = 0; f < after.size(); ++f)
    {
        EXPECT_EQ(after[f].first, expected[f].first);
        ASSERT_EQ(after[f].second.size(), expected[f].second.size());
        for (size_t k = 0; k < after[f].second.size(); ++k)
            for (int axis = 0; axis < 3; ++axis)
                EXPECT_NEAR(after[f].second[k][axis], expected[f].second[k][axis], 4);
    }
}

// The checksums of the specified normals of every geometric object, in walk order.
std::vector<uint32_t> NormalChecksums(const C3DScene& scene)
{
    std::vector<uint32_t> sums;
    C3DGeomObject* object = nullptr;
    for (C3DNodePos pos = scene.GetFirstNode(_ObjectKindGeometric, _IterInstancesOnce); pos;)
    {
        scene.GetNextNode(object, pos);
        const CChannel* channel = object->GetChannels()->GetSpecNormalChannel();
        EXPECT_NE(channel, nullptr);
        if (!channel)
            continue;
        sums.push_back(channel->GetPointList()->GetChecksum(CPointList::kChecksumValues |
                                                            CPointList::kChecksumFlags));
        sums.push_back(channel->GetFaceList()->GetChecksum(0x0C));
    }
    return sums;
}

TEST(SceneGenerateNormals, OneAndTwoThreadsGiveTheSameNormals)
{
    zantest::CTempConfigDir config;
    ScenePtr scene(C3DScene::Create());
    for (int i = 0; i < 6; ++i)
    {
        C3DSceneNode* node =
            i % 2 ? CreateSphere(C3DTPoint<float>(float(i), 0, 0), 1.0 + i, 6 + i, 8 + i, false, 0,
                                 kZanNone)
                  : CreateCube(C3DTPoint<float>(0, float(i), 0), 1, 2, 3 + i, false, 0, kZanNone);
        ASSERT_NE(node, nullptr);
        scene->AddNode(nullptr, node);
    }
    AddNode(*scene, nullptr, "Shared",
            scene->CreateObjectInstance(scene->GetChildNode(nullptr)->GetBaseObject()));
    ScenePtr copy(scene->Copy());
    ASSERT_NE(copy, nullptr);

    OMPSetMaxThreadCount(1);
    EXPECT_TRUE(scene->GenerateNormals(nullptr, _GenerateEmptyFaces, _SmoothModeScene));
    OMPSetMaxThreadCount(2);
    EXPECT_TRUE(copy->GenerateNormals(nullptr, _GenerateEmptyFaces, _SmoothModeScene));
    OMPSetMaxThreadCount(0);
    const auto one = NormalChecksums(*scene);
    EXPECT_EQ(one.size(), 12u); // six objects, the shared one counted once
    EXPECT_EQ(NormalChecksums(*copy), one);
    EXPECT_NE(config.LogText().find("C3DScene::GenerateNormals time"), std::string::npos);
}
} // namespace
