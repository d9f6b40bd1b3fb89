// The default object creator: empty objects of the source's kind and plain lists. Every
// factory reports a memory shortage as null, never as an exception, since copies of whole
// scenes ask it for thousands of objects and must fail cleanly.
#include <3dzan/scene/objectcreator.h>
#include <3dzan/scene/patch.h>

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/geomobject.h>
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
    case _ObjectKindPolygonal:
        return GetNewPolygonalObject();
    case _ObjectKindCurve:
        return GetNewCurveObject();
    case _ObjectKindPatch:
        return GetNewPatchObject();
    case _ObjectKindGroup:
        return GetNewGroupObject();
    case _ObjectKindDummy:
        return GetNewDummy();
    case _ObjectKindCamera:
        return GetNewCamera();
    case _ObjectKindLight:
        return GetNewLight();
    default:
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

// A new mesh-like object of class T given a face list and a point list from the creator.
template <class T> C3DBaseObject* C3DObjectCreator::NewMeshObject()
{
    T* object = NullOnShortage<T>([] { return new T; });
    C3DFaceList* faces = object ? GetNewFaceList() : nullptr;
    C3DPointList* points = faces ? GetNewPointList() : nullptr;
    if (!points)
    {
        if (faces)
            faces->Delete();
        if (object)
            object->Delete();
        return nullptr;
    }
    object->SetFaceList(faces, true);
    object->SetPointList(points, true);
    return object;
}

C3DBaseObject* C3DObjectCreator::GetNewPolygonalObject()
{
    return NewMeshObject<C3DObject>();
}

C3DBaseObject* C3DObjectCreator::GetNewPatchObject()
{
    return NewMeshObject<C3DPatch>();
}

C3DBaseObject* C3DObjectCreator::GetNewCurveObject()
{
    C3DCurve* curve = NullOnShortage<C3DCurve>([] { return new C3DCurve; });
    C3DPointList* points = curve ? GetNewPointList() : nullptr;
    if (!points)
    {
        if (curve)
            curve->Delete();
        return nullptr;
    }
    curve->SetPointList(points, true);
    return curve;
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

C3DMeshObjectCreator::~C3DMeshObjectCreator() = default;

C3DBaseObject* C3DMeshObjectCreator::GetNewObjectFrom(const C3DBaseObject*, bool& isNew)
{
    isNew = true;
    return GetNewPolygonalObject();
}
