// Scene nodes: IDs, copies and inheritance, instances, the transformation model against
// hand-computed matrices, bounds and centres through a stand-in geometric object, and the node
// archive on its own.
#include "scene/object_checks.h"

#include <3dzan/animation/keys.h>
#include <3dzan/animation/math.h>
#include <3dzan/geometry/points.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/scene.h>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace
{
// A geometric object whose box and centre are given: what the scene sees of a mesh.
class CBoxObject : public C3DBaseObject
{
public:
    CBoxObject(C3DTPoint<float> min, C3DTPoint<float> max)
        : C3DBaseObject(_ObjectKindPolygonal), m_Min(min), m_Max(max)
    {
    }
    bool GetObjectBoundingBox(C3DTPoint<float>& min, C3DTPoint<float>& max, unsigned,
                              unsigned) override
    {
        min = m_Min;
        max = m_Max;
        return true;
    }
    bool GetObjectCG(C3DTPoint<float>& cg) override
    {
        cg.Set((m_Min.m_X + m_Max.m_X) / 2, (m_Min.m_Y + m_Max.m_Y) / 2,
               (m_Min.m_Z + m_Max.m_Z) / 2);
        return true;
    }
    int GetObjectPointNbr() const override { return 8; }
    int GetObjectFaceNbr() const override { return 6; }

private:
    C3DTPoint<float> m_Min, m_Max;
};

void SetVectorKey(C3DSceneNode& node, uint64_t classId, float x, float y, float z, int time = 0)
{
    auto* key = static_cast<C3DVectorKey*>(node.CreateKey(time, classId));
    ASSERT_NE(key, nullptr);
    key->SetVector(C3DTVector<float>(x, y, z));
}

C4x4TMatrix<float> Matrix(std::initializer_list<float> rows)
{
    return C4x4TMatrix<float>(std::data(rows));
}

::testing::AssertionResult Near(const C4x4TMatrix<float>& a, const C4x4TMatrix<float>& b)
{
    if (a.IsEqual(b, 1e-5))
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    for (int r = 0; r < 4; ++r)
        failure << "\n" << a[r][0] << " " << a[r][1] << " " << a[r][2] << " " << a[r][3];
    return failure;
}
} // namespace

TEST(SceneNode, IdsCopiesAndInheritance)
{
    C3DSceneNode first, second;
    EXPECT_EQ(second.GetNodeID(), first.GetNodeID() + 1);
    EXPECT_EQ(C3DSceneNode::GetNextNodeID(), second.GetNodeID() + 1);
    EXPECT_EQ(first.GetName(), CXTString("Unnamed object"));

    first.SetName("Arm");
    first.SetFlag(_NodeHidden | _NodeSelected, true);
    first.GetCustomData().SetInt(ZanTag("USER"), 7);
    SetVectorKey(first, kNodeTranslateKey, 1, 2, 3, 10);
    first.SetObject(new C3DCamera);

    std::unique_ptr<C3DSceneNode> copy(first.Copy(0));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->GetNodeID(), first.GetNodeID());
    EXPECT_EQ(copy->GetName(), CXTString("Arm"));
    EXPECT_EQ(copy->GetFlags(), first.GetFlags());
    EXPECT_TRUE(copy->GetCustomData() == first.GetCustomData());
    EXPECT_TRUE(static_cast<const C3DKeyframable&>(*copy) == static_cast<const C3DKeyframable&>(first));
    ASSERT_NE(copy->GetBaseObject(), first.GetBaseObject()); // a private copy
    EXPECT_EQ(copy->GetObjectKindOf(), unsigned(_ObjectKindCamera));

    std::unique_ptr<C3DSceneNode> kept(first.Copy(_NodeCopyKeepID | _NodeCopyNoObject));
    EXPECT_EQ(kept->GetNodeID(), first.GetNodeID());
    EXPECT_EQ(kept->GetBaseObject(), nullptr);

    std::unique_ptr<C3DSceneNode> shared(first.Copy(_NodeCopyInstance));
    EXPECT_EQ(shared->GetBaseObject(), first.GetBaseObject());
    EXPECT_EQ(first.GetBaseObject()->GetInstanceNbr(), 2);
    EXPECT_TRUE(first.IsObjectIntanciated());
    shared.reset(); // lets go of its instance
    EXPECT_FALSE(first.IsObjectIntanciated());
}

TEST(SceneNode, DeleteObjectInstanciationMakesTheObjectPrivate)
{
    C3DSceneNode a, b;
    a.SetObject(new C3DDummy);
    EXPECT_FALSE(a.DeleteObjectInstanciation()); // not shared: kept
    C3DBaseObject* object = a.GetBaseObject();
    b.SetObject(object->Copy(_CopyInstance));
    ASSERT_EQ(object->GetInstanceNbr(), 2);
    EXPECT_TRUE(b.DeleteObjectInstanciation());
    EXPECT_NE(b.GetBaseObject(), object);
    EXPECT_EQ(object->GetInstanceNbr(), 1);
    EXPECT_EQ(b.GetBaseObject()->GetInstanceNbr(), 1);
    EXPECT_EQ(b.GetObjectKindOf(), unsigned(_ObjectKindDummy));
}

TEST(SceneNode, LocalAndWorldMatricesFollowTheKeysAndThePivot)
{
    C3DScene scene;
    auto* parent = new C3DSceneNode;
    auto* child = new C3DSceneNode;
    ASSERT_TRUE(scene.AddNode(nullptr, parent));
    ASSERT_TRUE(scene.AddNode(parent, child));

    // Translation then rotation of 90 degrees about Z then scale 2: T · R · S, with the
    // rotation keys' convention (a positive angle about Z takes X to -Y).
    SetVectorKey(*parent, kNodeTranslateKey, 10, 0, 0);
    auto* rotate = static_cast<C3DRotateKey*>(parent->CreateKey(0, kNodeRotateKey));
    rotate->SetRotation(std::numbers::pi / 2, C3DTVector<float>(0, 0, 1));
    SetVectorKey(*parent, kNodeScaleKey, 2, 2, 2);
    const auto parentTM = Matrix({0, 2, 0, 10, -2, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1});
    C4x4TMatrix<float> m;
    parent->GetObjectLocalTM(0, m);
    EXPECT_TRUE(Near(m, parentTM));

    // The child: translation (1, 2, 3) with a pivot at (1, 0, 0) moves its origin to (2, 2, 3).
    SetVectorKey(*child, kNodeTranslateKey, 1, 2, 3);
    SetVectorKey(*child, kNodePivotKey, 1, 0, 0);
    C4x4TMatrix<float> alone;
    child->GetObjectLocalTM(0, alone);
    EXPECT_TRUE(Near(alone, Matrix({1, 0, 0, 1, 0, 1, 0, 2, 0, 0, 1, 3, 0, 0, 0, 1})));
    C3DSceneNode free;
    SetVectorKey(free, kNodeTranslateKey, 1, 2, 3);
    SetVectorKey(free, kNodePivotKey, 1, 0, 0);
    free.GetNodeTM(0, m);
    EXPECT_TRUE(Near(m, Matrix({1, 0, 0, 2, 0, 1, 0, 2, 0, 0, 1, 3, 0, 0, 0, 1})));

    // Under the parent: parent × child × T(pivot). Child origin (2, 2, 3) -> (14, -4, 6).
    child->GetNodeTM(0, m);
    EXPECT_TRUE(Near(m, Matrix({0, 2, 0, 14, -2, 0, 0, -4, 0, 0, 2, 6, 0, 0, 0, 1})));
    // Relative to the parent, the world matrix comes back to the child's own (pivot included).
    child->GetNodeLocalTM(0, m);
    EXPECT_TRUE(Near(m, Matrix({1, 0, 0, 2, 0, 1, 0, 2, 0, 0, 1, 3, 0, 0, 0, 1})));

    // The root's transformation counts only when asked for.
    SetVectorKey(*scene.GetRoot(), kNodeTranslateKey, 0, 0, 100);
    parent->GetNodeTM(0, m, false);
    EXPECT_TRUE(Near(m, parentTM));
    parent->GetNodeTM(0, m, true);
    EXPECT_FLOAT_EQ(m[2][3], 100.0f);

    // Keys are interpolated between ticks.
    SetVectorKey(free, kNodeTranslateKey, 3, 2, 3, 100);
    free.GetObjectLocalTM(50, m);
    EXPECT_FLOAT_EQ(m[0][3], 2.0f);
}

TEST(SceneNode, ConvertToGlobalCoordinatesIgnoresNearIdentity)
{
    C3DSceneNode node;
    node.SetObject(new C3DDummy);
    auto* key = static_cast<C3DMatrixKey*>(node.CreateKey(0, kNodeMatrixKey));
    C4x4TMatrix<float> near;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            near[r][c] = r == c ? 1.004f : 0.004f;
    key->SetMatrix(near);
    EXPECT_FALSE(node.ConvertToGlobalCoordinates(0));
    EXPECT_EQ(node.GetKeyNbr(), 1u);
    EXPECT_FALSE(node.ConvertToGlobalCoordinates(C4x4TMatrix<float>()));

    // Farther than the tolerance: the keys are baked (a dummy has nothing to transform).
    near[0][3] = 0.5f;
    key->SetMatrix(near);
    EXPECT_TRUE(node.ConvertToGlobalCoordinates(0));
    EXPECT_EQ(node.GetKeyNbr(), 0u);
}

TEST(SceneNode, SwapTransformationsPermutesScalesAndMovesVectors)
{
    C3DSceneNode node;
    SetVectorKey(node, kNodeTranslateKey, 1, 2, 3);
    SetVectorKey(node, kNodeScaleKey, 4, 5, 6);
    EXPECT_FALSE(node.SwapTransformations(0));

    // A mirror only: scales untouched, the translation's X negated.
    ASSERT_TRUE(node.SwapTransformations(_MirrorX));
    auto vector = [&](uint64_t id)
    { return static_cast<const C3DVectorKey*>(node.GetKeyByIndex(0, nullptr, id))->GetVector(); };
    EXPECT_EQ(vector(kNodeTranslateKey), C3DTVector<float>(-1, 2, 3));
    EXPECT_EQ(vector(kNodeScaleKey), C3DTVector<float>(4, 5, 6));

    // Exchange of Y and Z with a mirror of Z: scales permuted but never negated.
    ASSERT_TRUE(node.SwapTransformations(_SwapYZ | _MirrorZ));
    EXPECT_EQ(vector(kNodeTranslateKey), C3DTVector<float>(-1, 3, -2));
    EXPECT_EQ(vector(kNodeScaleKey), C3DTVector<float>(4, 6, 5));
}

TEST(SceneNode, BoundsAndCentresOfASubtree)
{
    C3DScene scene;
    auto* group = new C3DSceneNode;
    group->SetObject(new C3DGroup);
    scene.AddNode(nullptr, group);
    auto* a = new C3DSceneNode;
    a->SetObject(new CBoxObject({-1, -1, -1}, {1, 1, 1}));
    auto* b = new C3DSceneNode;
    b->SetObject(new CBoxObject({-1, -1, -1}, {1, 1, 1}));
    SetVectorKey(*b, kNodeTranslateKey, 2, 0, 0);
    scene.AddNode(group, a);
    scene.AddNode(group, b);

    C3DTPoint<float> cg;
    ASSERT_TRUE(group->GetCG(0, cg));
    EXPECT_EQ(cg, C3DTPoint<float>(1, 0, 0));
    C3DSceneNode lonely;
    EXPECT_FALSE(lonely.GetCG(0, cg));
    EXPECT_EQ(cg, C3DTPoint<float>(0, 0, 0));

    C3DTPoint<float> min, max;
    ASSERT_TRUE(group->GetBoundingBox(0, min, max, _BoxPoints));
    EXPECT_EQ(min, C3DTPoint<float>(-1, -1, -1));
    EXPECT_EQ(max, C3DTPoint<float>(3, 1, 1));
    EXPECT_FALSE(group->GetBoundingBox(0, min, max, 0)); // neither points nor faces
    EXPECT_FALSE(group->GetBoundingBox(0, min, max, _BoxPoints | _BoxNodeOnly)); // a group
    ASSERT_TRUE(b->GetBoundingBox(0, min, max, _BoxFaces | _BoxNodeOnly));
    EXPECT_EQ(min, C3DTPoint<float>(1, -1, -1));

    // Descendant selection: hidden skipped, selected only, by kind.
    b->SetFlag(_NodeHidden, true);
    ASSERT_TRUE(group->GetBoundingBox(0, min, max, _BoxPoints | _BoxSkipHidden));
    EXPECT_EQ(max, C3DTPoint<float>(1, 1, 1));
    b->SetFlag(_NodeSelected, true);
    ASSERT_TRUE(group->GetBoundingBox(0, min, max, _BoxPoints | _BoxSelected));
    EXPECT_EQ(min, C3DTPoint<float>(1, -1, -1));
    ASSERT_TRUE(group->GetBoundingBox(0, min, max, _BoxPoints | _BoxNodeFlags, _NodeHidden));
    EXPECT_EQ(min, C3DTPoint<float>(1, -1, -1));
    EXPECT_FALSE(group->GetBoundingBox(0, min, max, _BoxPoints | _BoxKindOut, 0,
                                       _ObjectKindPolygonal));
    EXPECT_EQ(max, C3DTPoint<float>(0, 0, 0));
    EXPECT_EQ(scene.GetPointNbr(), 16);
    EXPECT_EQ(scene.GetFaceNbr(), 12);
}

TEST(SceneNode, NodeArchiveRoundTripAndTruncations)
{
    C3DSceneNode source;
    source.SetName("Lamp");
    source.SetFlag(_NodeHidden, true);
    source.GetCustomData().SetString(ZanTag("NOTE"), "note");
    SetVectorKey(source, kNodeTranslateKey, 4, 5, 6, 20);
    source.SetObject(new C3DCamera);
    scenetest::SetObjectID(*source.GetBaseObject(), 77);

    C3DSceneNode target;
    auto bytes = zantest::RoundTrip(source, target);
    EXPECT_EQ(target.GetName(), CXTString("Lamp"));
    EXPECT_EQ(target.GetFlags(), unsigned(_NodeHidden));
    EXPECT_TRUE(static_cast<const C3DKeyframable&>(target) == static_cast<const C3DKeyframable&>(source));
    ASSERT_NE(target.GetBaseObject(), nullptr);
    EXPECT_EQ(target.GetObjectID(), 77u);
    EXPECT_EQ(target.GetObjectKindOf(), unsigned(_ObjectKindCamera));

    C3DSceneNode kept;
    kept.SetName("Kept");
    kept.SetObject(new C3DDummy);
    const auto before = zantest::StoreToBytes([&](CXArchive& ar) { kept.Serialize(ar); });
    for (size_t length = 0; length < bytes.size(); ++length)
    {
        ASSERT_TRUE(zantest::ArchiveFails(
            [&] { zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { kept.Serialize(ar); }, length); }))
            << "length " << length;
        ASSERT_EQ(zantest::StoreToBytes([&](CXArchive& ar) { kept.Serialize(ar); }), before);
    }
}
