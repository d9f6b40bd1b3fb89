// The part of the geometry context that knows geometric objects: a context set up for an
// object reads that object's own lists. It lives with the geometric objects so that the
// geometry layer below does not depend on the scene layer.
#include <3dzan/geometry/geominfo.h>

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

void CGeomInfo::Init(C3DSceneNode* node, C3DBaseObject* object)
{
    ReleaseAll();
    m_Own = 0;
    m_Node = node;
    m_Object = object;
    m_Scene = object ? object->GetScene() : nullptr;
    m_SrcPoints = m_DstPoints = nullptr;
    m_SrcFaces = m_DstFaces = nullptr;
    m_SrcChannels = m_DstChannels = nullptr;
    if (C3DGeomObject* geom = GetGeomObject())
    {
        m_SrcPoints = geom->GetPointList();
        m_SrcFaces = geom->GetFaceList();
        m_SrcChannels = geom->GetChannels();
    }
}

C3DGeomObject* CGeomInfo::GetGeomObject() const
{
    return m_Object && m_Object->IsGeomObject() ? dynamic_cast<C3DGeomObject*>(m_Object) : nullptr;
}
