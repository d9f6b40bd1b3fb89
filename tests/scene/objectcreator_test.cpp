// The default object creator: objects of the source's kind, lists, conversions, parameters
// and the instance map; and a derived creator whose list factories replace the defaults.
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
// A creator whose camera factory hands out cameras with a preset zoom.
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

// A base object that claims a geometric kind, as the geometric classes will.
class CFakeGeometric : public C3DBaseObject
{
public:
    explicit CFakeGeometric(_OBJECT_KINDOF kind) : C3DBaseObject(kind) {}
};
} // namespace

TEST(ObjectCreator, NewObjectsHaveTheSourceKindAndAreEmpty)
{
    C3DObjectCreator creator;
    C3DGroup group;
    C3DDummy dummy;
    C3DCamera camera;
    C3DLight light;
    camera.SetFov(1.0);
    light.SetLightKind(_LightOmni);
    for (C3DBaseObject* source :
         {static_cast<C3DBaseObject*>(&group), static_cast<C3DBaseObject*>(&dummy),
          static_cast<C3DBaseObject*>(&camera), static_cast<C3DBaseObject*>(&light)})
    {
        bool isNew = false;
        ObjectPtr made(creator.GetNewObjectFrom(source, isNew));
        ASSERT_TRUE(made);
        EXPECT_TRUE(isNew);
        EXPECT_EQ(made->GetKindOf(), source->GetKindOf());
        EXPECT_NE(made.get(), source);
        EXPECT_TRUE(made->GetCustomData().IsEmpty()); // empty: the copy fills it
        EXPECT_EQ(made->GetInstanceCount(), 1);
    }

    // Kinds without a factory: null, still reported as new.
    C3DBaseObject bare;
    for (unsigned kind : {1u, 2u, 4u})
    {
        CFakeGeometric geometric{_OBJECT_KINDOF(kind)};
        bool isNew = false;
        EXPECT_EQ(creator.GetNewObjectFrom(&geometric, isNew), nullptr) << kind;
        EXPECT_TRUE(isNew);
    }
    bool isNew = false;
    EXPECT_EQ(creator.GetNewObjectFrom(&bare, isNew), nullptr);
    EXPECT_TRUE(isNew);
    isNew = false;
    EXPECT_EQ(creator.GetNewObjectFrom(nullptr, isNew), nullptr);
    EXPECT_TRUE(isNew);
}

TEST(ObjectCreator, DefaultAnswersListsAndDerivedFactories)
{
    C3DObjectCreator creator;
    C3DCamera camera;
    EXPECT_TRUE(creator.CanProcess(nullptr, &camera));
    EXPECT_EQ(creator.ConvertToType(nullptr, &camera), &camera);
    EXPECT_EQ(creator.ConvertToType(nullptr, nullptr), nullptr);

    C3DFaceList* faces = creator.GetNewFaceList();
    C3DPointList* points = creator.GetNewPointList();
    ASSERT_TRUE(faces && points);
    EXPECT_EQ(faces->GetSize(), 0);
    EXPECT_EQ(points->GetSize(), 0);
    EXPECT_EQ(points->GetDataChunkNbr(), 0u);
    EXPECT_EQ(faces->GetInstanceCount(), 1);
    faces->Delete();
    points->Delete();

    // Copies ask the virtual factories, so a derived creator changes what they give.
    CZoomCreator zoom;
    camera.SetFov(0.5);
    ObjectPtr copy(camera.Copy(0, &zoom));
    ASSERT_TRUE(copy);
    // The copy inherits the source's bag: the preset zoom gives way to the source's data.
    EXPECT_EQ(static_cast<C3DCamera*>(*copy)->GetFov(), 0.5);
    EXPECT_EQ(static_cast<C3DCamera*>(*copy)->GetZoom(), 1.0);
    bool isNew = false;
    ObjectPtr fresh(zoom.GetNewObjectFrom(&camera, isNew));
    EXPECT_EQ(static_cast<C3DCamera*>(*fresh)->GetZoom(), 3.0);
}

TEST(ObjectCreator, ParametersCopyAndTheInstanceMapBelongsToOneOperation)
{
    C3DObjectCreator creator;
    EXPECT_TRUE(creator.GetParameters().IsEmpty());
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
    EXPECT_EQ(creator.GetInstanceNbr(), 0u);
    EXPECT_EQ(creator.GetInstanceID(41), kZanNone);
}
