// Where the scene layer meets the geometric objects: the node's geometric object, the scene walk
// that hands out geometric objects and the pivot move that edits points. They live apart from
// scenenode.cpp and scene.cpp so that those stay free of geomobject.h.
#include <3dzan/animation/keys.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include <cmath>

C3DGeomObject* C3DSceneNode::GetGeomObject(int time) const
{
    C3DBaseObject* object = GetBaseObject(time);
    return object ? object->operator C3DGeomObject*() : nullptr;
}

C3DSceneNode* C3DScene::GetNextNode(C3DGeomObject*& object, C3DNodePos& pos) const
{
    C3DBaseObject* base = nullptr;
    C3DSceneNode* node = GetNextNode(base, pos);
    object = base ? base->operator C3DGeomObject*() : nullptr;
    return node;
}

bool C3DSceneNode::CenterPivotOnCG(const C3DTVector<float>& relative,
                                   const C3DTVector<float>& offset)
{
    C3DGeomObject* object = GetGeomObject();
    if (!object || !object->GetPointList())
        return false;
    C3DTPoint<float> min, max;
    if (!object->GetObjectBoundingBox(min, max, _BBoxPoints, 0))
        return false;
    C3DTVector<float> p(min.m_X + (max.m_X - min.m_X) * relative.m_X + offset.m_X,
                        min.m_Y + (max.m_Y - min.m_Y) * relative.m_Y + offset.m_Y,
                        min.m_Z + (max.m_Z - min.m_Z) * relative.m_Z + offset.m_Z);
    if (std::fabs(p.m_X) < 1e-15f && std::fabs(p.m_Y) < 1e-15f && std::fabs(p.m_Z) < 1e-15f)
        return false;
    // A pivot move is a pure translation and may be tiny: MatrixTransform would take a move
    // below its identity tolerance for no move at all and leave the points where they were,
    // while the pivot key below still moved.
    if (!object->GetPointList()->Translate(C3DTVector<float>(-p.m_X, -p.m_Y, -p.m_Z)))
        return false;
    object->Invalidate(_InvalidatePoints, true);
    if (GetKeyNbr(kNodePivotKey) == 0)
        CreateKey(0, kNodePivotKey);
    // The pivot grows by p rather than becoming p: the points were already relative to the
    // old pivot, and only the sum keeps the world look (a new key holds 0, so the first move
    // sets it to p).
    for (auto& record : m_Keys)
        if (record.m_Key->GetClassID() == kNodePivotKey)
        {
            auto* key = static_cast<C3DVectorKey*>(record.m_Key.get());
            const C3DTVector<float>& old = key->GetVector();
            key->SetVector(C3DTVector<float>(old.m_X + p.m_X, old.m_Y + p.m_Y, old.m_Z + p.m_Z));
        }
    return true;
}
