// Archives of geometric objects: the golden file pins the layout, every class reloads equal,
// and truncated, corrupted or inconsistent archives are refused with the object left as it
// was.
//
// The golden file tests/data/scene/geomobjects.bin is written by the disabled test
// GeomObjectArchive.DISABLED_WriteGoldenFile:
//   build/dev/tests/scene_tests --gtest_also_run_disabled_tests
//       --gtest_filter=GeomObjectArchive.DISABLED_WriteGoldenFile
// Rewrite it only when the archive layout is meant to change.
#include "common/geometry_checks.h"
#include "scene/geomobject_builders.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace scenetest;

namespace
{
std::string GoldenPath()
{
    return std::string(ZAN3D_TEST_DATA_DIR) + "/scene/geomobjects.bin";
}

// The ID is the second word of every object archive: rewritten there and loaded back.
void SetGeomObjectID(C3DBaseObject& object, unsigned id)
{
    auto bytes = Store(object);
    std::memcpy(bytes.data() + 4, &id, 4);
    Load(object, bytes);
}

// A bare geometric object, a mesh with every channel and its settings, a curve and an empty
// mesh, with IDs 201 to 204.
std::vector<ObjectPtr> GoldenObjects()
{
    std::vector<ObjectPtr> objects;
    auto* bare = new C3DGeomObject;
    bare->SetPointList(C3DPointList::Create(), true);
    bare->GetPointList()->SetSize(2);
    objects.emplace_back(bare);

    MeshPtr mesh = MakeTestMesh();
    mesh->SetSmoothAngle(0.75f);
    mesh->SetSmoothMode(_SmoothModeEdgeLength);
    mesh->SetGlobalUVWChannel(kUVID);
    mesh->SetGlobalVCChannel(kVCID, 0.5f);
    mesh->GetCustomData().SetString(ZanTag("NAME"), "mesh");
    objects.emplace_back(mesh.release());

    auto* curve = new C3DCurve;
    curve->SetPointList(C3DPointList::Create(), true);
    curve->GetPointList()->SetSize(3);
    (*curve->GetPointList())[2].Set(1.0f, 2.0f, 3.0f);
    curve->SetMaterialID(5);
    objects.emplace_back(curve);

    objects.emplace_back(new C3DObject);
    unsigned id = 201;
    for (auto& object : objects)
        SetGeomObjectID(*object, id++);
    return objects;
}

void ExpectSameGeometry(C3DBaseObject& a, C3DBaseObject& b)
{
    EXPECT_EQ(a.GetRuntimeClassDescriptor(), b.GetRuntimeClassDescriptor());
    EXPECT_EQ(a.GetObjectID(), b.GetObjectID());
    EXPECT_TRUE(a.GetCustomData() == b.GetCustomData());
    auto* x = dynamic_cast<C3DGeomObject*>(&a);
    auto* y = dynamic_cast<C3DGeomObject*>(&b);
    ASSERT_TRUE(x && y);
    EXPECT_EQ(x->GetChecksum(0x10), y->GetChecksum(0x10));
    EXPECT_EQ(x->GetChannels()->GetSize(), y->GetChannels()->GetSize());
    EXPECT_EQ(x->GetSmoothAngle(), y->GetSmoothAngle());
    EXPECT_EQ(x->GetSmoothMode(), y->GetSmoothMode());
    float fx = 0, fy = 0;
    EXPECT_EQ(x->GetGlobalVCChannel(fx), y->GetGlobalVCChannel(fy));
    EXPECT_EQ(fx, fy);
    EXPECT_EQ(x->GetGlobalUVWChannel(), y->GetGlobalUVWChannel());
    EXPECT_EQ(x->GetFaceList() == nullptr, y->GetFaceList() == nullptr);
    EXPECT_EQ(x->GetPointList() == nullptr, y->GetPointList() == nullptr);
}
} // namespace

TEST(GeomObjectArchive, GoldenFilePinsTheLayoutAndEveryClassReloadsEqual)
{
    auto golden = zantest::ReadFileBytes(GoldenPath());
    ASSERT_FALSE(golden.empty()) << "missing " << GoldenPath();
    auto sources = GoldenObjects();
    auto store = [&](CXArchive& ar)
    {
        for (auto& object : sources)
            ar.WriteObject(object.get());
    };
    EXPECT_EQ(zantest::StoreToBytes(store), golden) << "the geometric object layout changed";

    std::vector<ObjectPtr> read;
    zantest::LoadFromBytes(golden,
                           [&](CXArchive& ar)
                           {
                               for (size_t i = 0; i < sources.size(); ++i)
                                   read.emplace_back(dynamic_cast<C3DBaseObject*>(
                                       ar.ReadObject(ZAN_RUNTIME_CLASS(C3DGeomObject))));
                               EXPECT_EQ(ar.GetRemaining(), 0u);
                           });
    ASSERT_EQ(read.size(), sources.size());
    for (size_t i = 0; i < sources.size(); ++i)
    {
        SCOPED_TRACE(sources[i]->GetRuntimeClassDescriptor()->m_ClassName);
        ASSERT_TRUE(read[i]);
        ExpectSameGeometry(*read[i], *sources[i]);
    }
    auto* mesh = static_cast<C3DObject*>(*read[1]);
    ASSERT_TRUE(mesh);
    zantest::ExpectChannelsParallel(*mesh->GetFaceList(), *mesh->GetChannels());
    EXPECT_EQ(UVAt(*mesh, 1, 1), UVAt(*static_cast<C3DObject*>(*sources[1]), 1, 1));
    EXPECT_EQ(static_cast<C3DCurve*>(*read[2])->GetMaterialID(), 5u);
    sources = std::move(read);
    EXPECT_EQ(zantest::StoreToBytes(store), golden);
}

TEST(GeomObjectArchive, DISABLED_WriteGoldenFile)
{
    auto sources = GoldenObjects();
    ASSERT_TRUE(zantest::WriteFileBytes(GoldenPath(), zantest::StoreToBytes(
                                                          [&](CXArchive& ar)
                                                          {
                                                              for (auto& object : sources)
                                                                  ar.WriteObject(object.get());
                                                          })));
}

TEST(GeomObjectArchive, TruncationsAreRefusedAndLeaveTheObjectAsItWas)
{
    auto sources = GoldenObjects();
    for (size_t s = 1; s < 3; ++s) // the mesh and the curve
    {
        SCOPED_TRACE(sources[s]->GetRuntimeClassDescriptor()->m_ClassName);
        auto bytes = Store(*sources[s]);
        ObjectPtr target(C3DBaseObject::Create(sources[s]->GetKindOf()));
        ASSERT_TRUE(target);
        target->GetCustomData().SetDouble(ZanTag("KEPT"), 0.5);
        auto* geom = dynamic_cast<C3DGeomObject*>(target.get());
        geom->SetPointList(C3DPointList::Create(), true);
        geom->GetPointList()->SetSize(1);
        geom->SetSmoothAngle(0.25f);
        const auto before = Store(*target);
        for (size_t length = 0; length < bytes.size(); ++length)
        {
            ASSERT_TRUE(zantest::ArchiveFails([&] { Load(*target, bytes, length); }))
                << "length " << length;
            ASSERT_EQ(Store(*target), before) << "length " << length;
        }
        Load(*target, bytes);
        ExpectSameGeometry(*target, *sources[s]);
    }
}

TEST(GeomObjectArchive, InconsistentAndCorruptedArchivesAreRefused)
{
    // A valid face naming a point the archived point list does not have.
    MeshPtr broken = MakeTestMesh();
    auto* fewer = C3DPointList::Create();
    fewer->SetSize(3);
    broken->SetPointList(fewer, true);
    auto bytes = Store(*broken);
    C3DObject target;
    const auto before = Store(target);
    EXPECT_TRUE(zantest::ArchiveFails([&] { Load(target, bytes); }, CXArchiveException::_BadValue));
    EXPECT_EQ(Store(target), before);

    // A presence flag other than 0 or 1, and a smoothing angle outside [0, π].
    auto bad = [&](int presence, float angle)
    {
        return zantest::StoreToBytes(
            [&](CXArchive& ar)
            {
                ar << 0u << 7u;
                CCustomData().Serialize(ar);
                ar << presence << 0;
                CDependentChannels().Serialize(ar);
                ar << angle << 0u << 0u << kZanNone << 0u << 1.0f;
            });
    };
    Load(target, bad(0, -1.0f)); // the frame of these archives is right
    EXPECT_TRUE(
        zantest::ArchiveFails([&] { Load(target, bad(2, -1.0f)); }, CXArchiveException::_BadValue));
    EXPECT_TRUE(
        zantest::ArchiveFails([&] { Load(target, bad(0, 4.0f)); }, CXArchiveException::_BadValue));

    // Random corruption: a clean load or a refusal that leaves the target as it was. The ID
    // (bytes 4 to 7) is spared so that the object counter stays low for other tests.
    auto valid = Store(*GoldenObjects()[1]);
    std::mt19937 random(4242);
    for (int round = 0; round < 300; ++round)
    {
        auto corrupt = valid;
        for (int flips = 1 + int(random() % 4); flips > 0; --flips)
        {
            size_t at = random() % corrupt.size();
            if (at < 4 || at >= 8)
                corrupt[at] = uint8_t(random());
        }
        C3DObject probe;
        const auto probeBefore = Store(probe);
        try
        {
            Load(probe, corrupt);
            if (probe.GetFaceList())
            {
                EXPECT_TRUE(zantest::FaceChunksParallel(*probe.GetFaceList()));
            }
        }
        catch (const CXArchiveException&)
        {
            ASSERT_EQ(Store(probe), probeBefore) << "round " << round;
        }
    }
}
