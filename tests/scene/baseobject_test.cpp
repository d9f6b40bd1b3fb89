// Base objects: IDs and the object counter, kinds and typed views, type names, flags and
// update stamps, instances, copies through creators, InheritFlags and checksums.
#include "scene/object_checks.h"

#include <3dzan/animation/math.h>
#include <3dzan/frame.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>
#include <3dzan/scene/objectcreator.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

using scenetest::ObjectPtr;
using scenetest::TypedPtr;

namespace
{
// A base object whose protected update setter the tests can reach, and which counts the
// instances destroyed.
class CProbeObject : public C3DBaseObject
{
public:
    CProbeObject() = default;
    ~CProbeObject() override { ++s_Destroyed; }
    using C3DBaseObject::SetUpdateFlags;
    static inline int s_Destroyed = 0;
};

// A creator that turns every object into a dummy and counts its calls.
class CDummyCreator : public C3DObjectCreator
{
public:
    C3DBaseObject* GetNewObjectFrom(const C3DBaseObject*, bool& isNew) override
    {
        isNew = true;
        ++m_Calls;
        return GetNewDummy();
    }
    int m_Calls = 0;
};

// An object whose copies always fail after the creator made the target.
class CFailingCopy : public C3DBaseObject
{
public:
    bool InternalCopy(C3DBaseObject*& target, int, C3DObjectCreator*) const override
    {
        target = new CProbeObject;
        return false;
    }
};

C3DScene* FakeScene(int n)
{
    static int anchors[4];
    return reinterpret_cast<C3DScene*>(&anchors[n]);
}

void FillCamera(C3DCamera& camera)
{
    ASSERT_TRUE(camera.SetFov(0.9));
    ASSERT_TRUE(camera.SetAperture(2.8));
    ASSERT_TRUE(camera.SetZoom(1.5));
    ASSERT_TRUE(camera.SetNearFarClip(0.1, 500.0));
    ASSERT_TRUE(camera.SetProjection(_ProjectionOrthographic));
    camera.SetTarget(4);
    camera.GetCustomData().SetString(ZanTag("NOTE"), "left wing");
}
} // namespace

TEST(BaseObjectIdentity, ConsecutiveIDsAndALoadedIDRaisesTheCounter)
{
    C3DGroup first;
    C3DCamera second;
    C3DLight third;
    EXPECT_EQ(second.GetObjectID(), first.GetObjectID() + 1);
    EXPECT_EQ(third.GetObjectID(), second.GetObjectID() + 1);
    EXPECT_EQ(C3DBaseObject::GetNextObjectID(), third.GetObjectID() + 1);

    // An ID far above the counter moves it past that ID...
    const unsigned high = third.GetObjectID() + 1000;
    C3DDummy loaded;
    scenetest::SetObjectID(loaded, high);
    EXPECT_EQ(loaded.GetObjectID(), high);
    C3DBaseObject next;
    EXPECT_EQ(next.GetObjectID(), high + 1);
    // ...an ID below it leaves it alone.
    scenetest::SetObjectID(loaded, 3);
    EXPECT_EQ(loaded.GetObjectID(), 3u);
    C3DBaseObject after;
    EXPECT_EQ(after.GetObjectID(), high + 2);
}

TEST(BaseObjectIdentity, ObjectsBuiltOnSeveralThreadsGetDistinctIDs)
{
    std::vector<std::vector<unsigned>> ids(4);
    zantest::RunInThreads(4,
                          [&](int t)
                          {
                              for (int i = 0; i < 500; ++i)
                                  ids[size_t(t)].push_back(C3DDummy().GetObjectID());
                          });
    std::set<unsigned> all;
    for (const auto& list : ids)
        all.insert(list.begin(), list.end());
    EXPECT_EQ(all.size(), 2000u);
}

TEST(BaseObjectIdentity, KindsTypedViewsAndCreateByKind)
{
    C3DBaseObject bare;
    C3DGroup group;
    C3DDummy dummy;
    C3DCamera camera;
    C3DLight light;
    EXPECT_EQ(bare.GetKindOf(), _ObjectKindNone);
    EXPECT_EQ(group.GetKindOf(), _ObjectKindGroup);
    EXPECT_EQ(dummy.GetKindOf(), _ObjectKindDummy);
    EXPECT_EQ(camera.GetKindOf(), _ObjectKindCamera);
    EXPECT_EQ(light.GetKindOf(), _ObjectKindLight);
    for (C3DBaseObject* object : {static_cast<C3DBaseObject*>(&bare), static_cast<C3DBaseObject*>(&group),
                                  static_cast<C3DBaseObject*>(&camera)})
        EXPECT_FALSE(object->IsGeomObject());

    C3DBaseObject& asBase = camera;
    EXPECT_EQ(static_cast<C3DCamera*>(asBase), &camera);
    EXPECT_EQ(static_cast<C3DLight*>(asBase), nullptr);
    EXPECT_EQ(static_cast<C3DGroup*>(asBase), nullptr);
    EXPECT_EQ(static_cast<const C3DLight*>(static_cast<const C3DBaseObject&>(light)), &light);
    EXPECT_EQ(static_cast<C3DDummy*>(static_cast<C3DBaseObject&>(dummy)), &dummy);
    EXPECT_EQ(static_cast<C3DGroup*>(static_cast<C3DBaseObject&>(group)), &group);
    EXPECT_EQ(static_cast<C3DDummy*>(bare), nullptr);

    // Create builds the class of exactly one kind bit.
    const struct
    {
        _OBJECT_KINDOF kind;
        const char* className;
    } made[] = {{_ObjectKindGroup, "C3DGroup"},
                {_ObjectKindDummy, "C3DDummy"},
                {_ObjectKindCamera, "C3DCamera"},
                {_ObjectKindLight, "C3DLight"}};
    for (const auto& entry : made)
    {
        ObjectPtr object(C3DBaseObject::Create(entry.kind));
        ASSERT_TRUE(object) << entry.className;
        EXPECT_EQ(object->GetKindOf(), entry.kind);
        EXPECT_STREQ(object->GetRuntimeClassDescriptor()->m_ClassName, entry.className);
    }
    for (unsigned kind : {0u, 3u, 24u, 128u, 0xFFFFFFFFu})
        EXPECT_EQ(C3DBaseObject::Create(_OBJECT_KINDOF(kind)), nullptr) << kind;
    // A geometric kind gives an object of that kind once its class exists, null before.
    for (unsigned kind : {1u, 2u, 4u})
    {
        ObjectPtr object(C3DBaseObject::Create(_OBJECT_KINDOF(kind)));
        if (object)
        {
            EXPECT_EQ(object->GetKindOf(), _OBJECT_KINDOF(kind));
        }
    }
}

TEST(BaseObjectIdentity, RuntimeClassesAreDeclaredAtLoad)
{
    for (const char* name : {"C3DBaseObject", "C3DGroup", "C3DDummy", "C3DCamera", "C3DLight"})
    {
        const CXRuntimeClass* cls = CXRuntimeClass::FromName(name);
        ASSERT_NE(cls, nullptr) << name;
        EXPECT_TRUE(cls->IsDerivedFrom(ZAN_RUNTIME_CLASS(C3DBaseObject))) << name;
        ObjectPtr object(dynamic_cast<C3DBaseObject*>(CXRuntimeClass::CreateObject(name)));
        ASSERT_TRUE(object) << name;
        EXPECT_EQ(object->GetRuntimeClassDescriptor(), cls);
    }
    EXPECT_TRUE(ZAN_RUNTIME_CLASS(C3DCamera)->IsDerivedFrom(ZAN_RUNTIME_CLASS(CXObject)));
    EXPECT_FALSE(ZAN_RUNTIME_CLASS(C3DCamera)->IsDerivedFrom(ZAN_RUNTIME_CLASS(C3DLight)));
}

TEST(BaseObjectIdentity, TypeStringsFollowTheLanguageAndFallBackWithoutTable)
{
    C3DBaseObject bare;
    C3DGroup group;
    C3DDummy dummy;
    C3DCamera camera;
    C3DLight light;
    Zan3DSetLanguage(_LanguageEnglish);
    EXPECT_EQ(light.GetTypeString(), CXTString("Light"));
    EXPECT_EQ(camera.GetTypeString(), CXTString("Camera"));
    EXPECT_EQ(group.GetTypeString(), CXTString("Objects group"));
    EXPECT_EQ(dummy.GetTypeString(), CXTString("Dummy"));
    EXPECT_TRUE(bare.GetTypeString().IsEmpty());
    Zan3DSetLanguage(_LanguageFrench);
    EXPECT_EQ(light.GetTypeString(), CXTString("Lumière"));
    EXPECT_EQ(group.GetTypeString(), CXTString("Groupe d'objets"));
    Zan3DSetLanguage(_LanguageFromEnvironment);

    const CStringTable* table = CXTString::GetStringTable();
    CXTString::SetStringTable(nullptr);
    EXPECT_EQ(group.GetTypeString(), CXTString("Group"));
    EXPECT_EQ(camera.GetTypeString(), CXTString("Camera"));
    CXTString::SetStringTable(table);
}

TEST(BaseObjectUpdates, FlagsStampsAndInvalidation)
{
    CProbeObject object;
    EXPECT_EQ(object.GetFlags(), 0u);
    object.SetFlag(_ObjectEmpty | _ObjectNoShading, true);
    EXPECT_TRUE(object.IsFlagSet(_ObjectEmpty | _ObjectNoShading));
    object.SetFlag(_ObjectEmpty, false);
    EXPECT_FALSE(object.IsFlagSet(_ObjectEmpty | _ObjectNoShading)); // all bits, not any
    EXPECT_TRUE(object.IsFlagSet(_ObjectNoShading));

    // A new object waits for its first update, which NeedUpdate does not report.
    EXPECT_EQ(object.GetUpdateFlags(), unsigned(_ObjectUpdateCreated));
    EXPECT_FALSE(object.NeedUpdate());
    object.SetUpdateFlags(_ObjectUpdateUVW | 0x0F00, true); // low bits are not update kinds
    EXPECT_TRUE(object.NeedUpdate());
    EXPECT_TRUE(object.IsInvalidate(_ObjectUpdateUVW | _ObjectUpdateCreated));
    EXPECT_FALSE(object.IsInvalidate(0x0100));
    object.SetUpdateFlags(0x08000000, true);
    object.SetUpdateFlags(0x10000000, true); // outside the kinds NeedUpdate reports

    for (int i = 0; i < C3DBaseObject::kUpdateStampNbr; ++i)
        EXPECT_EQ(object.GetUpdateStamp(0x10000u * unsigned(i + 1)), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(object.Update(nullptr, _ObjectUpdateUVW | _ObjectUpdateCreated | 0x0800));
    // The stamp of 0x40000 is the fourth one (index 3); 0x20000 was not asked for.
    EXPECT_GT(object.GetUpdateStamp(_ObjectUpdateUVW), 0);
    EXPECT_EQ(object.GetUpdateStamp(0x40000), object.GetUpdateStamp(0x10000));
    EXPECT_EQ(object.GetUpdateStamp(_ObjectUpdateFinal), 0);
    EXPECT_EQ(object.GetUpdateStamp(0x30000), 0); // index 2, never written
    EXPECT_EQ(object.GetUpdateStamp(0), 0);
    EXPECT_EQ(object.GetUpdateStamp(0xFFFF0000u), 0); // beyond the 32 stamps
    EXPECT_EQ(object.GetUpdateFlags(), 0x08000000u | 0x10000000u);
    EXPECT_TRUE(object.NeedUpdate());
    object.SetUpdateFlags(0x08000000, false); // clearing behaves like Update
    EXPECT_FALSE(object.NeedUpdate());

    // Invalidation: any low bit with set raises 0x800; otherwise the mask is cleared.
    object.Invalidate(0x2, true);
    EXPECT_TRUE(object.IsInvalidate(_ObjectUpdateDisplay));
    object.Invalidate(0x10000, true); // no low bit: clears instead
    object.Invalidate(_ObjectUpdateDisplay, false);
    EXPECT_EQ(object.GetUpdateFlags(), 0x10000000u);
    CXMemFile file;
    CXArchive ar(&file, CXArchive::store);
    object.PreSerialize(ar, true);
    EXPECT_EQ(object.GetUpdateFlags(), 0x10000000u);
    object.PostSerialize(ar, true);
    EXPECT_TRUE(object.IsInvalidate(_ObjectUpdateDisplay));

    // What only geometric objects do.
    EXPECT_FALSE(object.InvalidateChannels(0xFFFF));
    EXPECT_FALSE(object.MatrixTransform(C4x4TMatrix<float>()));
    EXPECT_TRUE(object.IsFinalObject());
    EXPECT_EQ(object.GetFinalObject(false), &object);
}

TEST(BaseObjectInstances, AnInstanceIsTheSameObjectUntilEveryNodeLetsGo)
{
    CProbeObject::s_Destroyed = 0;
    auto* object = new CProbeObject;
    EXPECT_EQ(object->GetInstanceNbr(), 1);
    EXPECT_FALSE(object->IsInstanciated());

    C3DBaseObject* instance = object->Copy(_CopyInstance);
    EXPECT_EQ(instance, object);
    EXPECT_TRUE(object->IsInstanciated());
    EXPECT_EQ(object->GetInstanceNbr(), 2);
    EXPECT_EQ(object->GetInstanceCount(), 2); // holders
    C3DBaseObject* third = object->Copy(_CopyInstance | _CopyOtherScene, nullptr);
    EXPECT_EQ(third, object);
    EXPECT_EQ(object->GetInstanceNbr(), 3);

    EXPECT_FALSE(object->DeleteFromNode());
    EXPECT_FALSE(object->DeleteFromNode());
    EXPECT_FALSE(object->IsInstanciated());
    EXPECT_EQ(object->GetInstanceCount(), 1);
    EXPECT_EQ(CProbeObject::s_Destroyed, 0);
    EXPECT_TRUE(object->DeleteFromNode());
    EXPECT_EQ(CProbeObject::s_Destroyed, 1);
}

TEST(BaseObjectCopies, CopiesTakeParametersAndAnIDByTheFlags)
{
    C3DCamera camera;
    FillCamera(camera);
    camera.SetScene(FakeScene(1));
    ASSERT_NE(camera.GetDisplayMesh(), nullptr);

    // An ordinary copy: a new camera with a new ID, the same parameters, flags and scene.
    ObjectPtr copy(camera.Copy(0));
    ASSERT_TRUE(copy);
    auto* copied = static_cast<C3DCamera*>(*copy);
    ASSERT_NE(copied, nullptr);
    EXPECT_NE(copied, &camera);
    EXPECT_GT(copied->GetObjectID(), camera.GetObjectID());
    EXPECT_EQ(copied->GetScene(), FakeScene(1));
    EXPECT_EQ(copied->GetFlags(), camera.GetFlags());
    EXPECT_TRUE(copied->GetCustomData() == camera.GetCustomData());
    EXPECT_EQ(copied->GetChecksum(0), camera.GetChecksum(0));
    EXPECT_EQ(copied->GetCustomDataChecksum(0), camera.GetCustomDataChecksum(0));
    EXPECT_FALSE(copied->HasDisplayMesh()); // icons are built on demand, not copied
    EXPECT_EQ(copied->GetInstanceNbr(), 1);

    // Into another scene: the ID is kept and the scene is left to the caller.
    ObjectPtr moved(camera.Copy(_CopyOtherScene));
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->GetObjectID(), camera.GetObjectID());
    EXPECT_EQ(moved->GetScene(), nullptr);

    // Every non-geometric kind copies to its own class.
    C3DLight light;
    light.SetLightKind(_LightSpot);
    light.SetColor(CRGBColor(10, 20, 30, 40));
    C3DDummy dummy;
    dummy.SetType(C3DDummy::DummyType(ZanTag("BONE")));
    C3DGroup group;
    group.SetFlag(_ObjectNoShading, true);
    for (C3DBaseObject* source :
         {static_cast<C3DBaseObject*>(&light), static_cast<C3DBaseObject*>(&dummy),
          static_cast<C3DBaseObject*>(&group)})
    {
        ObjectPtr other(source->Copy(0));
        ASSERT_TRUE(other);
        EXPECT_EQ(other->GetRuntimeClassDescriptor(), source->GetRuntimeClassDescriptor());
        EXPECT_EQ(other->GetFlags(), source->GetFlags());
        EXPECT_TRUE(other->GetCustomData() == source->GetCustomData());
        EXPECT_EQ(other->GetChecksum(0), source->GetChecksum(0));
    }
    EXPECT_EQ(static_cast<C3DDummy*>(*ObjectPtr(dummy.Copy(0)))->GetType(), ZanTag("BONE"));
}

TEST(BaseObjectCopies, CreatorsDecideTheClassAndFailuresLeaveNothing)
{
    C3DCamera camera;
    FillCamera(camera);
    CDummyCreator creator;
    ObjectPtr converted(camera.Copy(0, &creator));
    ASSERT_TRUE(converted);
    EXPECT_EQ(creator.m_Calls, 1);
    EXPECT_EQ(converted->GetKindOf(), _ObjectKindDummy);
    EXPECT_TRUE(converted->GetCustomData() == camera.GetCustomData());
    // An instance never asks the creator.
    ObjectPtr shared(camera.Copy(_CopyInstance, &creator));
    EXPECT_EQ(creator.m_Calls, 1);
    EXPECT_EQ(shared.get(), &camera);
    EXPECT_FALSE(camera.DeleteFromNode());
    shared.release();

    // A bare object has no kind the default creator knows.
    C3DBaseObject bare;
    EXPECT_EQ(bare.Copy(0), nullptr);

    // A copy that fails after making its target releases the target.
    CProbeObject::s_Destroyed = 0;
    CFailingCopy failing;
    EXPECT_EQ(failing.Copy(0), nullptr);
    EXPECT_EQ(CProbeObject::s_Destroyed, 1);

    // InternalCopy into an existing target keeps the target's class and ID.
    C3DLight target;
    target.SetScene(FakeScene(2));
    unsigned id = target.GetObjectID();
    C3DBaseObject* into = &target;
    ASSERT_TRUE(camera.InternalCopy(into, 0, nullptr));
    EXPECT_EQ(into, &target);
    EXPECT_EQ(target.GetObjectID(), id);
    EXPECT_EQ(target.GetScene(), camera.GetScene());
    EXPECT_TRUE(target.GetCustomData() == camera.GetCustomData());
}

TEST(BaseObjectCopies, InheritFlagsTakesFlagsDataAndOnRequestTheID)
{
    C3DDummy source, target;
    source.SetFlag(_ObjectEmpty, true);
    source.SetType(C3DDummy::DummyType(ZanTag("NULL")));
    target.GetCustomData().SetInt(ZanTag("GONE"), 1);
    target.SetFlag(_ObjectNoShading, true);
    const unsigned targetID = target.GetObjectID();
    target.InheritFlags(source, 0);
    EXPECT_EQ(target.GetFlags(), unsigned(_ObjectEmpty));
    EXPECT_TRUE(target.GetCustomData() == source.GetCustomData());
    EXPECT_EQ(target.GetObjectID(), targetID);
    target.InheritFlags(source, _CopyOtherScene);
    EXPECT_EQ(target.GetObjectID(), source.GetObjectID());
    target.InheritFlags(target, _CopyOtherScene); // itself: nothing changes
    EXPECT_EQ(target.GetType(), ZanTag("NULL"));
}

TEST(BaseObjectChecksums, KindsCamerasDummiesAndCustomData)
{
    C3DBaseObject bare;
    C3DGroup group;
    C3DLight light;
    C3DDummy dummy;
    EXPECT_EQ(bare.GetChecksum(0), 0u);
    EXPECT_EQ(group.GetChecksum(0), 8u << 4);
    EXPECT_EQ(light.GetChecksum(0xFFFF), 64u << 4);
    dummy.SetType(C3DDummy::DummyType(ZanTag("BONE")));
    EXPECT_EQ(dummy.GetChecksum(0), 0u);

    // Camera: aperture 8, aspect 1, focus 0 and zoom 1 have no low bits; π/4 does.
    C3DCamera camera;
    EXPECT_EQ(camera.GetChecksum(0), 0x54442D18u);
    ASSERT_TRUE(camera.SetProjection(_ProjectionOrthographic));
    EXPECT_EQ(camera.GetChecksum(0), 0x54442D18u + 16u);
    ASSERT_TRUE(camera.SetFocusDistance(0.1)); // 0x3FB999999999999A
    EXPECT_EQ(camera.GetChecksum(0), 0x54442D18u + 16u + 0x9999999Au);
    camera.SetTarget(3); // not part of the optical checksum
    EXPECT_EQ(camera.GetChecksum(0), 0x54442D18u + 16u + 0x9999999Au);

    // Custom data: skipped ids count for nothing, whatever their order in the bag.
    C3DBaseObject a, b;
    EXPECT_EQ(a.GetCustomDataChecksum(0), 0u);
    a.GetCustomData().SetDouble(ZanTag("KEEP"), 2.5);
    a.GetCustomData().SetString(ZanTag("SKP1"), "x");
    a.GetCustomData().SetInt(ZanTag("SKP2"), 7);
    b.GetCustomData().SetDouble(ZanTag("KEEP"), 2.5);
    EXPECT_NE(a.GetCustomDataChecksum(0), b.GetCustomDataChecksum(0));
    EXPECT_EQ(a.GetCustomDataChecksum(ZanTag("SKP2"), ZanTag("SKP1"), 0u),
              b.GetCustomDataChecksum(0));
    EXPECT_NE(a.GetCustomDataChecksum(ZanTag("SKP1"), 0u), b.GetCustomDataChecksum(0));
    const unsigned skipped[] = {ZanTag("SKP1"), ZanTag("SKP2")};
    EXPECT_EQ(a.GetCustomDataChecksumSkipping(skipped, 2), b.GetCustomDataChecksum(0));
    // The kind of a value counts: the same number as an int and as a double differ.
    C3DBaseObject asInt, asDouble;
    asInt.GetCustomData().SetInt(ZanTag("VALU"), 0);
    asDouble.GetCustomData().SetDouble(ZanTag("VALU"), 0.0);
    EXPECT_NE(asInt.GetCustomDataChecksum(0), asDouble.GetCustomDataChecksum(0));
    // A changed value changes the checksum; the same values in another order do not.
    b.GetCustomData().SetInt(ZanTag("SKP2"), 7);
    b.GetCustomData().SetString(ZanTag("SKP1"), "x");
    EXPECT_EQ(a.GetCustomDataChecksum(0), b.GetCustomDataChecksum(0));
    b.GetCustomData().SetInt(ZanTag("SKP2"), 8);
    EXPECT_NE(a.GetCustomDataChecksum(0), b.GetCustomDataChecksum(0));
}
