// The default object creator: empty objects of the source's kind and plain lists. Every
// factory reports a memory shortage as null, never as an exception, since copies of whole
// scenes ask it for thousands of objects and must fail cleanly.
#include <3dzan/scene/objectcreator.h>

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>

#include <new>

namespace
{
template <class T, class F> T* NullOnShortage(F&& make)
{
    try
    {
        return make();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}
} // namespace

C3DObjectCreator::C3DObjectCreator() : m_InstanceMap(kInstanceMapSize) {}

C3DObjectCreator::C3DObjectCreator(const C3DObjectCreator& src)
    : m_Parameters(src.m_Parameters), m_InstanceMap(kInstanceMapSize)
{
}

C3DObjectCreator& C3DObjectCreator::operator=(const C3DObjectCreator& src)
{
    if (this != &src)
        m_Parameters = src.m_Parameters;
    return *this;
}

C3DObjectCreator::~C3DObjectCreator() = default;

C3DBaseObject* C3DObjectCreator::ConvertToType(C3DSceneNode*, C3DBaseObject* object)
{
    return object;
}

C3DBaseObject* C3DObjectCreator::GetNewObjectFrom(const C3DBaseObject* source, bool& isNew)
{
    isNew = true;
    if (!source)
        return nullptr;
    switch (source->GetKindOf())
    {
    case _ObjectKindGroup:
        return GetNewGroupObject();
    case _ObjectKindDummy:
        return GetNewDummy();
    case _ObjectKindCamera:
        return GetNewCamera();
    case _ObjectKindLight:
        return GetNewLight();
    default: // the geometric kinds come with the geometric object classes
        return nullptr;
    }
}

bool C3DObjectCreator::CanProcess(const C3DSceneNode*, const C3DBaseObject*)
{
    return true;
}

C3DFaceList* C3DObjectCreator::GetNewFaceList()
{
    return NullOnShortage<C3DFaceList>([] { return C3DFaceList::Create(); });
}

C3DPointList* C3DObjectCreator::GetNewPointList()
{
    return NullOnShortage<C3DPointList>([] { return C3DPointList::Create(); });
}

C3DBaseObject* C3DObjectCreator::GetNewGroupObject()
{
    return NullOnShortage<C3DBaseObject>([] { return new C3DGroup; });
}

C3DBaseObject* C3DObjectCreator::GetNewDummy()
{
    return NullOnShortage<C3DBaseObject>([] { return new C3DDummy; });
}

C3DBaseObject* C3DObjectCreator::GetNewCamera()
{
    return NullOnShortage<C3DBaseObject>([] { return new C3DCamera; });
}

C3DBaseObject* C3DObjectCreator::GetNewLight()
{
    return NullOnShortage<C3DBaseObject>([] { return new C3DLight; });
}

void C3DObjectCreator::AddInstanceID(unsigned sourceID, unsigned copyID)
{
    m_InstanceMap.Insert(sourceID, copyID);
}

unsigned C3DObjectCreator::GetInstanceID(unsigned sourceID) const
{
    unsigned copyID = kZanNone;
    m_InstanceMap.Find(sourceID, copyID);
    return copyID;
}

void C3DObjectCreator::ResetInstanceMap()
{
    m_InstanceMap.RemoveAll();
}
