// The default object creator: objects of the source's kind, lists, default answers,
// parameters and the instance map; a derived creator's factories reach copies.
#include "scene/object_checks.h"

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>
#include <3dzan/scene/objectcreator.h>

#include <gtest/gtest.h>

using scenetest::ObjectPtr;

namespace
{
// A base object that claims a kind of its own choosing.
class CAnyKind : public C3DBaseObject
{
public:
    explicit CAnyKind(unsigned kind) : C3DBaseObject(_OBJECT_KINDOF(kind)) {}
};

// Hands out cameras with a preset zoom.
class CZoomCreator : public C3DObjectCreator
{
public:
    C3DBaseObject* GetNewCamera() override
    {
        auto* camera = new C3DCamera;
        camera->SetZoom(3.0);
        return camera;
    }
};
} // namespace

TEST(ObjectCreator, NewObjectsHaveTheSourceKindAndUnknownKindsGiveNull)
{
    C3DObjectCreator creator;
    for (unsigned kind : {1u, 2u, 4u, 8u, 16u, 32u, 64u})
    {
        CAnyKind source(kind);
        source.GetCustomData().SetInt(ZanTag("DATA"), 1);
        bool isNew = false;
        ObjectPtr made(creator.GetNewObjectFrom(&source, isNew));
        ASSERT_TRUE(made) << kind;
        EXPECT_TRUE(isNew);
        EXPECT_EQ(made->GetKindOf(), _OBJECT_KINDOF(kind));
        EXPECT_TRUE(made->GetCustomData().IsEmpty()); // empty: the copy fills it
    }
    for (unsigned kind : {0u, 3u, 128u})
    {
        CAnyKind source(kind);
        bool isNew = false;
        EXPECT_EQ(creator.GetNewObjectFrom(&source, isNew), nullptr) << kind;
        EXPECT_TRUE(isNew);
    }
    bool isNew = false;
    EXPECT_EQ(creator.GetNewObjectFrom(nullptr, isNew), nullptr);

    C3DCamera camera;
    EXPECT_TRUE(creator.CanProcess(nullptr, &camera));
    EXPECT_EQ(creator.ConvertToType(nullptr, &camera), &camera);
    C3DFaceList* faces = creator.GetNewFaceList();
    C3DPointList* points = creator.GetNewPointList();
    ASSERT_TRUE(faces && points);
    EXPECT_EQ(faces->GetSize() + points->GetSize(), 0);
    faces->Delete();
    points->Delete();

    // Copies ask the virtual factories; the copy then takes the source's parameters.
    CZoomCreator zoom;
    ObjectPtr fresh(zoom.GetNewObjectFrom(&camera, isNew));
    EXPECT_EQ(static_cast<C3DCamera*>(*fresh)->GetZoom(), 3.0);
    ObjectPtr copy(camera.Copy(0, &zoom));
    ASSERT_TRUE(copy);
    EXPECT_EQ(static_cast<C3DCamera*>(*copy)->GetZoom(), 1.0);
}

TEST(ObjectCreator, ParametersCopyAndTheInstanceMapBelongsToOneOperation)
{
    C3DObjectCreator creator;
    EXPECT_GE(creator.GetInstanceMap().GetHashTableSize(), 101u);
    creator.GetParameters().SetInt(ZanTag("MODE"), 2);
    EXPECT_EQ(creator.GetInstanceID(40), kZanNone);
    creator.AddInstanceID(40, 90);
    creator.AddInstanceID(41, 91);
    creator.AddInstanceID(40, 92); // a later record replaces the first
    EXPECT_EQ(creator.GetInstanceID(40), 92u);
    EXPECT_EQ(creator.GetInstanceNbr(), 2u);

    C3DObjectCreator copy(creator);
    EXPECT_TRUE(copy.GetParameters() == creator.GetParameters());
    EXPECT_EQ(copy.GetInstanceNbr(), 0u);
    C3DObjectCreator assigned;
    assigned.AddInstanceID(1, 2);
    assigned = creator;
    EXPECT_EQ(assigned.GetParameters().GetInt(ZanTag("MODE")), 2);
    EXPECT_EQ(assigned.GetInstanceID(1), 2u); // its own map stays
    creator.ResetInstanceMap();
    EXPECT_EQ(creator.GetInstanceID(41), kZanNone);
}
