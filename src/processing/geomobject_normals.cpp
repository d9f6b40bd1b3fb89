// The geometric object's entry points to its normal channels: each finds (or adds) the
// channel, builds a topology context for the object and runs the channel's computation.
#include <3dzan/scene/geomobject.h>

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>

namespace
{
bool HasNormals(const C3DGeomObject& object)
{
    const _OBJECT_KINDOF kind = object.GetKindOf();
    return kind != _ObjectKindCurve && kind != _ObjectKindGroup;
}

// The first channel of type T, or a new one added to the object's channels when it has none
// and has faces to compute it from.
template <class T> T* FindOrAdd(C3DGeomObject& object, CChannel* existing)
{
    if (auto* channel = dynamic_cast<T*>(existing))
        return channel;
    if (existing || !object.GetFaceList())
        return nullptr;
    auto* channel = new T;
    object.AddChannel(channel);
    return channel;
}
} // namespace

CFaceNormalChannel* C3DGeomObject::GetFaceNormalChannel()
{
    if (!HasNormals(*this) || !m_Channels)
        return nullptr;
    auto* channel = FindOrAdd<CFaceNormalChannel>(*this, m_Channels->GetFaceNormalChannel());
    if (!channel)
        return nullptr;
    CGeomInfo geom(this);
    if (m_FaceList && m_FaceList->GetSize() && !channel->InitNormals(&geom))
        return nullptr;
    return channel;
}

CPointNormalChannel* C3DGeomObject::GetPointNormalChannel()
{
    if (!HasNormals(*this) || !m_Channels)
        return nullptr;
    auto* channel = FindOrAdd<CPointNormalChannel>(*this, m_Channels->GetPointNormalChannel());
    if (!channel)
        return nullptr;
    CGeomInfo geom(this);
    return channel->InitNormals(&geom, GetSmoothAngle()) ? channel : nullptr;
}

CSpecNormalChannel* C3DGeomObject::GetSpecNormalChannel() const
{
    return m_Channels ? dynamic_cast<CSpecNormalChannel*>(m_Channels->GetSpecNormalChannel())
                      : nullptr;
}

bool C3DGeomObject::GenerateNormals(unsigned flags, _NormalSmoothMode mode)
{
    if (IsEmptyObject() || !HasNormals(*this) || !m_FaceList || !m_PointList || !m_Channels)
        return false;
    CSpecNormalChannel* channel = GetSpecNormalChannel();
    const bool added = !channel;
    if (added)
    {
        if (m_Channels->GetSpecNormalChannel())
            return false;
        channel = new CSpecNormalChannel;
        m_Channels->AddChannel(channel);
    }
    if (mode == _SmoothModeScene)
        mode = GetSmoothMode();
    CGeomInfo geom(this);
    const bool changed = channel->GenerateNormals(&geom, flags, GetSmoothAngle(), mode);
    if (changed)
        Invalidate(_InvalidateDisplay, true);
    else if (added)
        m_Channels->RemoveChannel(channel); // a channel without normals is not worth keeping
    return changed;
}
