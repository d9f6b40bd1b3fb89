// Patches: levels, the final object's life, the face estimate, and what subdivision keeps
// (borders, larger polygons, channels).
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/materials/materials.h>
#include <3dzan/scene/patch.h>

#include "common/geometry_checks.h"
#include "common/zan_test_helpers.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
using P3 = C3DTPoint<float>;

// A patch whose control mesh has the given points and faces (corner counts in \p counts).
C3DPatch* MakePatch(const std::vector<P3>& points, const std::vector<int>& indices,
                    const std::vector<unsigned>& counts)
{
    auto* patch = new C3DPatch;
    auto* list = C3DPointList::Create();
    list->SetSize(int(points.size()));
    for (size_t i = 0; i < points.size(); ++i)
        (*list)[int(i)] = points[i];
    auto* faces = C3DFaceList::Create();
    EXPECT_TRUE(faces->AddFaces(indices.data(), counts.data(), unsigned(counts.size()),
                                unsigned(points.size())));
    patch->SetPointList(list, true);
    patch->SetFaceList(faces, true);
    return patch;
}

C3DPatch* MakeCube()
{
    return MakePatch({{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                      {-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}},
                     {0, 3, 2, 1, 4, 5, 6, 7, 0, 1, 5, 4, 2, 3, 7, 6, 1, 2, 6, 5, 3, 0, 4, 7},
                     std::vector<unsigned>(6, 4));
}

C3DObject* Final(C3DPatch& patch)
{
    return static_cast<C3DObject*>(patch.GetFinalObject(false));
}
} // namespace

TEST(Patch, LevelsBuildTheKnownMeshesAndClamp)
{
    C3DPatch* cube = MakeCube();
    EXPECT_EQ(cube->GetLevel(), -1);
    EXPECT_FALSE(cube->IsFinalObject());
    ASSERT_TRUE(cube->SetLevel(1));
    C3DObject* once = Final(*cube);
    ASSERT_NE(once, nullptr);
    EXPECT_EQ(once->GetKindOf(), _ObjectKindPolygonal);
    EXPECT_EQ(once->GetPointNbr(), 26);
    EXPECT_EQ(once->GetFaceNbr(), 24);
    C3DTPoint<float> min, max;
    once->GetBoundingBox(min, max, 2);
    EXPECT_NEAR(max.m_X, 1.0f, 1e-6) << "face points of the cube stay on its faces";
    EXPECT_FALSE(cube->SetLevel(1)) << "same level, nothing rebuilt";
    EXPECT_EQ(Final(*cube), once);
    cube->DeleteMe();

    C3DPatch* tetra = MakePatch({{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}},
                                {0, 1, 2, 0, 3, 1, 0, 2, 3, 1, 3, 2}, {3, 3, 3, 3});
    ASSERT_TRUE(tetra->SetLevel(1));
    EXPECT_EQ(Final(*tetra)->GetPointNbr(), 10);
    EXPECT_EQ(Final(*tetra)->GetFaceNbr(), 16);
    ASSERT_TRUE(tetra->SetLevel(0));
    EXPECT_EQ(Final(*tetra)->GetFaceNbr(), 4) << "level 0 is the control mesh";
    tetra->DeleteMe();

    C3DPatch* triangle = MakePatch({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2}, {3});
    ASSERT_TRUE(triangle->SetLevel(12));
    EXPECT_EQ(triangle->GetLevel(), C3DPatch::kMaxLevel);
    EXPECT_EQ(uint64_t(Final(*triangle)->GetFaceNbr()), uint64_t(1) << 16);
    triangle->DeleteMe();
}

TEST(Patch, EstimateCountsTrianglesAndQuadranglesOnly)
{
    C3DObject object;
    ASSERT_TRUE(object.Init(8, 0, 3, 0, 0, kZanNone));
    std::vector<int> indices;
    std::vector<unsigned> counts;
    for (int i = 0; i < 10; ++i)
    {
        indices.insert(indices.end(), {0, 1, 2});
        counts.push_back(3);
    }
    for (int i = 0; i < 5; ++i)
    {
        indices.insert(indices.end(), {0, 1, 2, 3});
        counts.push_back(4);
    }
    indices.insert(indices.end(), {0, 1, 2, 3, 4});
    counts.push_back(5);
    indices.insert(indices.end(), {0, 1, 2});
    counts.push_back(3);
    C3DFaceList* faces = object.GetFaceList();
    ASSERT_TRUE(faces->AddFaces(indices.data(), counts.data(), unsigned(counts.size()), 8));
    faces->SetFaceFlag(16, _FaceInvalid, true);
    EXPECT_EQ(C3DPatch::EstimateLevel(&object, 2), 240u);
    EXPECT_EQ(C3DPatch::EstimateLevel(&object, 0), 17u);
    EXPECT_EQ(C3DPatch::EstimateLevel(nullptr, 1), 0u);
}

TEST(Patch, BordersAndLargerPolygonsKeepTheirPlaceAndChannelsFollow)
{
    // An open fan of four triangles around point 0, lifted, next to a pentagon; a texture
    // channel with one point per corner (every corner its own texture point).
    std::vector<P3> points = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0},
                              {5, 0, 0}, {6, 0, 0}, {6, 1, 0}, {5.5f, 2, 0}, {5, 1, 0}};
    std::vector<int> indices = {0, 1, 2, 0, 2, 3, 0, 3, 4, 0, 4, 1, 5, 6, 7, 8, 9};
    C3DPatch* patch = MakePatch(points, indices, {3, 3, 3, 3, 5});
    auto* uv = new CUVWChannel(kZanNone);
    uv->GetPointList()->SetSize(int(indices.size()));
    std::vector<int> corners(indices.size());
    for (size_t i = 0; i < indices.size(); ++i)
    {
        corners[i] = int(i);
        auto& t = static_cast<CUVWPointList&>(*uv->GetPointList())[int(i)];
        t = CUVWPoint(points[size_t(indices[i])].m_X, points[size_t(indices[i])].m_Y, 0);
    }
    const unsigned counts[] = {3, 3, 3, 3, 5};
    ASSERT_TRUE(uv->GetFaceList()->AddFaces(corners.data(), counts, 5, unsigned(corners.size())));
    const unsigned uvID = uv->GetChannelID();
    patch->AddChannel(uv);

    for (int level : {1, 2})
    {
        ASSERT_TRUE(patch->SetLevel(level));
        C3DObject* final = Final(*patch);
        ASSERT_NE(final, nullptr);
        ASSERT_NE(final->GetChannels(), nullptr);
        zantest::ExpectChannelsParallel(*final->GetFaceList(), *final->GetChannels());
        ASSERT_NE(final->GetChannelByID(uvID, _ChannelUVW), nullptr);
        EXPECT_EQ(final->GetFaceNbr(), 4 * (1 << (2 * level)) + 1);

        // The pentagon is there as it was, once.
        int pentagons = 0;
        const C3DPointList& p = *final->GetPointList();
        final->GetFaceList()->ForEachFace(
            [&](unsigned, const int* v, unsigned n)
            {
                if (n != 5)
                    return;
                ++pentagons;
                for (unsigned k = 0; k < 5; ++k)
                    EXPECT_EQ(p[v[k]], points[5 + k]);
            });
        EXPECT_EQ(pentagons, 1);
        // Border points of the fan keep their places; the lifted centre moves down.
        int found = 0;
        for (int i = 0; i < p.GetSize(); ++i)
            for (int b = 1; b <= 4; ++b)
                found += p[i] == points[size_t(b)];
        EXPECT_EQ(found, 4);
        for (int i = 0; i < p.GetSize(); ++i)
            EXPECT_FALSE(p[i] == points[0]) << "the interior point must move";
    }
    patch->DeleteMe();
}

TEST(Patch, FinalObjectLifetime)
{
    C3DPatch* cube = MakeCube();
    ASSERT_TRUE(cube->SetLevel(2));
    ASSERT_EQ(Final(*cube)->GetFaceNbr(), 96);

    // Moving a control point makes the final object stale; the next request rebuilds it at
    // the stored level, and Update drops it.
    (*cube->GetPointList())[6].m_X = 3.0f;
    cube->Invalidate(0x01, true);
    EXPECT_TRUE(cube->IsInvalidate(C3DPatch::kUpdatePatch));
    C3DObject* rebuilt = Final(*cube);
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_EQ(cube->GetLevel(), 2);
    C3DTPoint<float> min, max;
    rebuilt->GetBoundingBox(min, max, 2);
    EXPECT_GT(max.m_X, 1.0f);
    cube->Invalidate(0x02, true);
    EXPECT_TRUE(cube->Update(nullptr, C3DPatch::kUpdatePatch));
    EXPECT_EQ(cube->GetLevel(), -1);

    // Handing over: the caller owns the object, the patch builds a new one next time.
    C3DBaseObject* taken = cube->GetFinalObject(true);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(cube->GetLevel(), -1);
    C3DBaseObject* again = cube->GetFinalObject(false);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, taken);
    EXPECT_EQ(static_cast<C3DObject*>(again)->GetFaceNbr(), 96);
    taken->DeleteMe();

    // A copy holds the control mesh only.
    C3DBaseObject* copy = cube->Copy(0);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetKindOf(), _ObjectKindPatch);
    EXPECT_EQ(static_cast<C3DPatch*>(copy)->GetLevel(), -1);
    EXPECT_EQ(static_cast<C3DPatch*>(copy)->GetFaceNbr(), 6);
    copy->DeleteMe();
    cube->DeleteMe();
}

TEST(GeomObjectMaterials, MapCountsUsableFacesAndFollowsChanges)
{
    C3DPatch* cube = MakeCube();
    C3DFaceList* faces = cube->GetFaceList();
    faces->SetFaceMaterial(0, 5);
    faces->SetFaceMaterial(1, 5);
    faces->SetFaceMaterial(2, 9);
    faces->SetFaceFlag(3, _FaceExcluded, true);
    const CMaterialHashMap* map = cube->GetMaterialsHashMap();
    ASSERT_NE(map, nullptr);
    const unsigned* five = map->Find(5);
    ASSERT_NE(five, nullptr);
    EXPECT_EQ(*five, 2u);
    ASSERT_NE(map->Find(0), nullptr);
    EXPECT_EQ(*map->Find(0), 2u) << "faces 4 and 5; the excluded face is not counted";
    EXPECT_EQ(map->GetCount(), 3u);

    EXPECT_TRUE(cube->ReplaceMaterial(9, 5));
    map = cube->GetMaterialsHashMap();
    EXPECT_EQ(*map->Find(5), 3u);
    EXPECT_EQ(map->Find(9), nullptr);
    cube->SetFaceList(nullptr, true);
    EXPECT_EQ(cube->GetMaterialsHashMap(), nullptr);
    cube->DeleteMe();
}

TEST(Patch, ArchiveKeepsTheControlMeshAndRecreatesThePatch)
{
    C3DPatch* cube = MakeCube();
    ASSERT_TRUE(cube->SetLevel(2));
    auto bytes = zantest::StoreToBytes([&](CXArchive& ar) { ar.WriteObject(cube); });
    C3DBaseObject* loaded = nullptr;
    zantest::LoadFromBytes(bytes,
                           [&](CXArchive& ar)
                           {
                               loaded = static_cast<C3DBaseObject*>(
                                   ar.ReadObject(ZAN_RUNTIME_CLASS(C3DGeomObject)));
                           });
    ASSERT_NE(loaded, nullptr);
    ASSERT_EQ(loaded->GetKindOf(), _ObjectKindPatch);
    auto* patch = static_cast<C3DPatch*>(loaded);
    EXPECT_EQ(patch->GetChecksum(0), cube->GetChecksum(0));
    EXPECT_EQ(patch->GetLevel(), -1) << "the final object is rebuilt on demand";
    auto* final = static_cast<C3DObject*>(patch->GetFinalObject(false));
    ASSERT_NE(final, nullptr);
    const unsigned level = CSceneDefaults::GetSceneDefaults().GetPatchLevel();
    EXPECT_EQ(patch->GetLevel(), int(level)) << "a loaded patch starts from the preferences";
    EXPECT_EQ(uint64_t(final->GetFaceNbr()), 6u * (uint64_t(1) << (2 * level)));
    loaded->DeleteMe();
    cube->DeleteMe();
}
