// Base objects: IDs and the object counter, kinds, type names, update stamps, instances,
// copies through creators and checksums.
#include "scene/object_checks.h"

#include <3dzan/frame.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>
#include <3dzan/scene/objectcreator.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using scenetest::ObjectPtr;

namespace
{
// Reaches the protected update setter and counts destructions.
class CProbeObject : public C3DBaseObject
{
public:
    ~CProbeObject() override { ++s_Destroyed; }
    using C3DBaseObject::SetUpdateFlags;
    static inline int s_Destroyed = 0;
};

// Turns every copy into a dummy.
class CDummyCreator : public C3DObjectCreator
{
public:
    C3DBaseObject* GetNewObjectFrom(const C3DBaseObject*, bool& isNew) override
    {
        isNew = true;
        return GetNewDummy();
    }
};

// Fails every copy after making the target.
class CFailingCopy : public C3DBaseObject
{
public:
    bool InternalCopy(C3DBaseObject*& target, int, C3DObjectCreator*) const override
    {
        target = new CProbeObject;
        return false;
    }
};

C3DScene* FakeScene()
{
    static int anchor;
    return reinterpret_cast<C3DScene*>(&anchor);
}
} // namespace

TEST(BaseObject, ConsecutiveIDsAndALoadedIDRaisesTheCounter)
{
    C3DGroup first;
    C3DCamera second;
    EXPECT_EQ(second.GetObjectID(), first.GetObjectID() + 1);
    EXPECT_EQ(C3DBaseObject::GetNextObjectID(), second.GetObjectID() + 1);

    const unsigned high = second.GetObjectID() + 1000;
    C3DDummy loaded;
    scenetest::SetObjectID(loaded, high);
    EXPECT_EQ(loaded.GetObjectID(), high);
    EXPECT_EQ(C3DBaseObject().GetObjectID(), high + 1);
    scenetest::SetObjectID(loaded, 3); // below the counter: it stays
    EXPECT_EQ(C3DBaseObject().GetObjectID(), high + 2);
}

TEST(BaseObject, KindsTypedViewsTypeNamesAndRuntimeClasses)
{
    C3DCamera camera;
    C3DBaseObject& asBase = camera;
    EXPECT_EQ(static_cast<C3DCamera*>(asBase), &camera);
    EXPECT_EQ(static_cast<C3DLight*>(asBase), nullptr);
    EXPECT_FALSE(camera.IsGeomObject());

    const struct
    {
        _OBJECT_KINDOF kind;
        const char* className;
        const char* english;
    } kinds[] = {{_ObjectKindGroup, "C3DGroup", "Objects group"},
                 {_ObjectKindDummy, "C3DDummy", "Dummy"},
                 {_ObjectKindCamera, "C3DCamera", "Camera"},
                 {_ObjectKindLight, "C3DLight", "Light"}};
    Zan3DSetLanguage(_LanguageEnglish);
    for (const auto& entry : kinds)
    {
        ObjectPtr made(C3DBaseObject::Create(entry.kind));
        ObjectPtr named(
            dynamic_cast<C3DBaseObject*>(CXRuntimeClass::CreateObject(entry.className)));
        ASSERT_TRUE(made && named) << entry.className;
        EXPECT_EQ(made->GetKindOf(), entry.kind);
        EXPECT_EQ(named->GetRuntimeClassDescriptor(), made->GetRuntimeClassDescriptor());
        EXPECT_EQ(made->GetTypeString(), CXTString(entry.english));
    }
    for (unsigned kind : {0u, 3u, 24u, 128u})
        EXPECT_EQ(C3DBaseObject::Create(_OBJECT_KINDOF(kind)), nullptr) << kind;
    EXPECT_TRUE(C3DBaseObject().GetTypeString().IsEmpty());

    Zan3DSetLanguage(_LanguageFrench);
    EXPECT_EQ(C3DLight().GetTypeString(), CXTString("Lumière"));
    Zan3DSetLanguage(_LanguageFromEnvironment);
    const CStringTable* table = CXTString::GetStringTable();
    CXTString::SetStringTable(nullptr); // built-in names when the table is missing
    EXPECT_EQ(C3DGroup().GetTypeString(), CXTString("Group"));
    CXTString::SetStringTable(table);
}

TEST(BaseObject, FlagsUpdateStampsAndInvalidation)
{
    CProbeObject object;
    object.SetFlag(_ObjectEmpty | _ObjectNoShading, true);
    object.SetFlag(_ObjectEmpty, false);
    EXPECT_FALSE(object.IsFlagSet(_ObjectEmpty | _ObjectNoShading)); // all bits, not any
    EXPECT_TRUE(object.IsFlagSet(_ObjectNoShading));

    EXPECT_EQ(object.GetUpdateFlags(), unsigned(_ObjectUpdateCreated));
    EXPECT_FALSE(object.NeedUpdate()); // the first update is not reported
    object.SetUpdateFlags(_ObjectUpdateUVW | 0x10000000 | 0x0F00, true); // low bits ignored
    EXPECT_TRUE(object.NeedUpdate());
    EXPECT_FALSE(object.IsInvalidate(0x0100));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(object.Update(nullptr, _ObjectUpdateUVW | _ObjectUpdateCreated));
    // The stamp of 0x40000 is the fourth one (index 3); nothing else was stamped.
    EXPECT_GT(object.GetUpdateStamp(0x40000), 0);
    EXPECT_EQ(object.GetUpdateStamp(0x40000), object.GetUpdateStamp(0x10000));
    for (unsigned kind : {0x0u, 0x20000u, 0x30000u, 0x200000u, 0xFFFF0000u})
        EXPECT_EQ(object.GetUpdateStamp(kind), 0) << kind;
    EXPECT_EQ(object.GetUpdateFlags(), 0x10000000u); // outside the kinds NeedUpdate reports
    EXPECT_FALSE(object.NeedUpdate());

    object.Invalidate(0x2, true); // a low bit raises 0x800
    EXPECT_TRUE(object.IsInvalidate(_ObjectUpdateDisplay));
    object.Invalidate(0x10000000, true); // no low bit: clears instead
    EXPECT_EQ(object.GetUpdateFlags(), unsigned(_ObjectUpdateDisplay));
    object.Invalidate(_ObjectUpdateDisplay, false);
    EXPECT_EQ(object.GetUpdateFlags(), 0u);
    CXMemFile file;
    CXArchive ar(&file, CXArchive::store);
    object.PostSerialize(ar, true);
    EXPECT_TRUE(object.IsInvalidate(_ObjectUpdateDisplay));
    EXPECT_EQ(object.GetFinalObject(false), &object);
}

TEST(BaseObject, AnInstanceIsTheSameObjectUntilEveryNodeLetsGo)
{
    CProbeObject::s_Destroyed = 0;
    auto* object = new CProbeObject;
    EXPECT_EQ(object->Copy(_CopyInstance), object);
    EXPECT_EQ(object->Copy(_CopyInstance | _CopyOtherScene), object);
    EXPECT_TRUE(object->IsInstanciated());
    EXPECT_EQ(object->GetInstanceNbr(), 3);
    EXPECT_EQ(object->GetInstanceCount(), 3); // holders
    EXPECT_FALSE(object->DeleteFromNode());
    EXPECT_FALSE(object->DeleteFromNode());
    EXPECT_FALSE(object->IsInstanciated());
    EXPECT_EQ(CProbeObject::s_Destroyed, 0);
    EXPECT_TRUE(object->DeleteFromNode());
    EXPECT_EQ(CProbeObject::s_Destroyed, 1);
}

TEST(BaseObject, CopiesTakeFlagsDataSceneAndAnIDByTheFlags)
{
    C3DCamera camera;
    ASSERT_TRUE(camera.SetFov(0.9) && camera.SetProjection(_ProjectionOrthographic));
    camera.GetCustomData().SetString(ZanTag("NOTE"), "left wing");
    camera.SetScene(FakeScene());
    ASSERT_NE(camera.GetDisplayMesh(), nullptr);

    ObjectPtr copy(camera.Copy(0));
    auto* copied = copy ? static_cast<C3DCamera*>(*copy) : nullptr;
    ASSERT_NE(copied, nullptr);
    EXPECT_GT(copied->GetObjectID(), camera.GetObjectID());
    EXPECT_EQ(copied->GetScene(), FakeScene());
    EXPECT_EQ(copied->GetFlags(), camera.GetFlags());
    EXPECT_TRUE(copied->GetCustomData() == camera.GetCustomData());
    EXPECT_EQ(copied->GetChecksum(0), camera.GetChecksum(0));
    EXPECT_FALSE(copied->HasDisplayMesh()); // icons are built on demand, not copied

    ObjectPtr moved(camera.Copy(_CopyOtherScene)); // keeps the ID, leaves the scene
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->GetObjectID(), camera.GetObjectID());
    EXPECT_EQ(moved->GetScene(), nullptr);

    C3DDummy dummy;
    dummy.SetType(C3DDummy::DummyType(ZanTag("BONE")));
    ObjectPtr dummyCopy(dummy.Copy(0));
    ASSERT_TRUE(dummyCopy && static_cast<C3DDummy*>(*dummyCopy));
    EXPECT_EQ(static_cast<C3DDummy*>(*dummyCopy)->GetType(), ZanTag("BONE"));

    // The creator decides the class; the copy still takes the source's data.
    CDummyCreator toDummy;
    ObjectPtr converted(camera.Copy(0, &toDummy));
    ASSERT_TRUE(converted);
    EXPECT_EQ(converted->GetKindOf(), _ObjectKindDummy);
    EXPECT_TRUE(converted->GetCustomData() == camera.GetCustomData());

    // Failures: no class for kind 0; a failed InternalCopy releases what it made.
    EXPECT_EQ(C3DBaseObject().Copy(0), nullptr);
    CProbeObject::s_Destroyed = 0;
    EXPECT_EQ(CFailingCopy().Copy(0), nullptr);
    EXPECT_EQ(CProbeObject::s_Destroyed, 1);

    // Into an existing target: its class and ID stay.
    C3DLight target;
    const unsigned id = target.GetObjectID();
    C3DBaseObject* into = &target;
    ASSERT_TRUE(camera.InternalCopy(into, 0, nullptr));
    EXPECT_EQ(target.GetObjectID(), id);
    EXPECT_EQ(target.GetScene(), FakeScene());
    EXPECT_TRUE(target.GetCustomData() == camera.GetCustomData());
    target.InheritFlags(camera, _CopyOtherScene);
    EXPECT_EQ(target.GetObjectID(), camera.GetObjectID());
}

TEST(BaseObject, ChecksumsOfKindsCamerasDummiesAndCustomData)
{
    EXPECT_EQ(C3DGroup().GetChecksum(0), 8u << 4);
    EXPECT_EQ(C3DLight().GetChecksum(0xFFFF), 64u << 4);
    C3DDummy dummy;
    dummy.SetType(C3DDummy::DummyType(ZanTag("BONE")));
    EXPECT_EQ(dummy.GetChecksum(0), 0u);

    // Aperture 8, aspect 1, focus 0 and zoom 1 have no low bits; π/4 does.
    C3DCamera camera;
    EXPECT_EQ(camera.GetChecksum(0), 0x54442D18u);
    ASSERT_TRUE(camera.SetProjection(_ProjectionOrthographic));
    ASSERT_TRUE(camera.SetFocusDistance(0.1)); // 0x3FB999999999999A
    camera.SetTarget(3);                       // not an optical parameter
    EXPECT_EQ(camera.GetChecksum(0), 0x54442D18u + 16u + 0x9999999Au);

    // Custom data: skipped ids count for nothing; kinds and values count.
    C3DBaseObject a, b;
    EXPECT_EQ(a.GetCustomDataChecksum(0), 0u);
    a.GetCustomData().SetDouble(ZanTag("KEEP"), 2.5);
    a.GetCustomData().SetString(ZanTag("SKP1"), "x");
    a.GetCustomData().SetInt(ZanTag("SKP2"), 7);
    b.GetCustomData().SetDouble(ZanTag("KEEP"), 2.5);
    EXPECT_EQ(a.GetCustomDataChecksum(ZanTag("SKP2"), ZanTag("SKP1"), 0u),
              b.GetCustomDataChecksum(0));
    EXPECT_NE(a.GetCustomDataChecksum(ZanTag("SKP1"), 0u), b.GetCustomDataChecksum(0));
    b.GetCustomData().SetDouble(ZanTag("SKP2"), 7.0);
    b.GetCustomData().SetString(ZanTag("SKP1"), "x");
    EXPECT_NE(a.GetCustomDataChecksum(0), b.GetCustomDataChecksum(0));
    b.GetCustomData().SetInt(ZanTag("SKP2"), 7);
    EXPECT_EQ(a.GetCustomDataChecksum(0), b.GetCustomDataChecksum(0));
}
