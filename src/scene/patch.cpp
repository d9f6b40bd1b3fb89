// Subdivision patches: the control mesh, its final object and the per-level subdivision.
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/geometry/subdivision.h>
#include <3dzan/scene/objectcreator.h>
#include <3dzan/scene/patch.h>
#include <3dzan/scene/scenedefaults.h>

#include <algorithm>
#include <memory>

ZAN_IMPLEMENT_DYNCREATE(C3DPatch, C3DGeomObject)

namespace
{
struct CDeleteMe
{
    void operator()(C3DBaseObject* object) const
    {
        if (object)
            object->DeleteMe();
    }
    void operator()(CPointList* list) const
    {
        if (list)
            list->Delete();
    }
    void operator()(CFaceList* list) const
    {
        if (list)
            list->Delete();
    }
    void operator()(CDependentChannels* channels) const
    {
        if (channels)
            channels->Delete();
    }
};
template <class T> using Owned = std::unique_ptr<T, CDeleteMe>;

// One level of \p scheme on \p object, in place: new lists and channels replace the old ones
// only when everything was built.
bool SubdivideObject(C3DObject* object, CSubdivider::Scheme scheme)
{
    if (!object || !object->GetPointList() || !object->GetFaceList())
        return false;
    CSubdivider subdivider(scheme);
    Owned<C3DPointList> points(C3DPointList::Create());
    Owned<C3DFaceList> faces(C3DFaceList::Create());
    if (!subdivider.Subdivide(*object->GetPointList(), *object->GetFaceList(), *points, *faces))
        return false;

    // Channels left out of face edits are dropped, as a structure copy would; every other
    // channel is subdivided on its own sides (per corner) or along the points (per point).
    Owned<CDependentChannels> channels(CDependentChannels::Create());
    if (const CDependentChannels* source = object->GetChannels())
        for (int i = 0; i < source->GetSize(); ++i)
        {
            const CChannel* channel = source->GetAt(i);
            if (!channel || channel->IsOneFlagSet(_ChannelNoFaceEdit))
                continue;
            CChannel* copy = channel->Copy(_ChannelCopyKeepID | _ChannelCopyStructure);
            if (!copy)
                return false;
            channels->AddChannel(copy);
            if (channel->IsOneFlagSet(_ChannelInvalid) || !channel->GetPointList())
                continue;
            bool done = false;
            if (channel->GetFaceList() && copy->GetFaceList())
                done = subdivider.SubdivideCornerAttribute(
                    *channel->GetPointList(), *channel->GetFaceList(), *copy->GetPointList(),
                    *copy->GetFaceList());
            else if (!channel->GetFaceList())
                done = subdivider.SubdividePointAttribute(*channel->GetPointList(),
                                                          *copy->GetPointList());
            if (!done)
                copy->SetFlag(_ChannelInvalid, true);
        }
    object->SetPointList(points.release(), true);
    object->SetFaceList(faces.release(), true);
    object->SetChannels(channels.release(), true);
    return true;
}
} // namespace

C3DPatch::C3DPatch() : C3DGeomObject(_ObjectKindPatch) {}

C3DPatch::~C3DPatch()
{
    ReleasePatch();
}

bool C3DPatch::ReleasePatch()
{
    if (!m_FinalObject)
        return false;
    m_FinalObject->DeleteMe();
    m_FinalObject = nullptr;
    m_Level = -1;
    return true;
}

bool C3DPatch::SetLevel(int level)
{
    level = std::clamp(level, 0, kMaxLevel);
    if (level == m_Level && m_FinalObject)
        return false;
    ReleasePatch();
    if (!Subdivide(level))
        return false;
    m_Level = m_LastLevel = level;
    Invalidate(0x810, true);
    C3DBaseObject::Invalidate(kUpdatePatch, false);
    return true;
}

bool C3DPatch::SetPatchLevel(unsigned level)
{
    // An unsigned level above the int range must not wrap to a negative one.
    return SetLevel(int(std::min<unsigned>(level, unsigned(kMaxLevel))));
}

C3DBaseObject* C3DPatch::GetFinalObject(bool detach)
{
    if (IsInvalidate(kUpdatePatch))
    {
        ReleasePatch();
        C3DBaseObject::Invalidate(kUpdatePatch, false);
    }
    if (!m_FinalObject)
    {
        int level = m_LastLevel >= 0 ? m_LastLevel
                                     : int(std::min(CSceneDefaults::GetSceneDefaults().GetPatchLevel(), unsigned(kMaxLevel)));
        if (!Subdivide(level))
            return nullptr;
        m_Level = m_LastLevel = level;
    }
    m_FinalObject->SetScene(GetScene());
    C3DObject* result = m_FinalObject;
    if (detach)
    {
        m_FinalObject = nullptr;
        m_Level = -1;
    }
    return result;
}

C3DObject* C3DPatch::GetSourceObject() const
{
    C3DMeshObjectCreator creator;
    C3DBaseObject* copy = nullptr;
    if (!InternalCopy(copy, 0, &creator) || !copy)
    {
        if (copy)
            copy->DeleteMe();
        return nullptr;
    }
    return static_cast<C3DObject*>(copy);
}

uint64_t C3DPatch::EstimateLevel(const C3DObject* object, unsigned level)
{
    const C3DFaceList* faces = object ? object->GetFaceList() : nullptr;
    if (!faces)
        return 0;
    if (level == 0)
        return uint64_t(faces->GetSize());
    uint64_t per = uint64_t(1) << (2 * std::min(level, 30u));
    uint64_t total = 0;
    for (int f = 0; f < faces->GetSize(); ++f)
    {
        int n = faces->GetFaceSize(unsigned(f));
        if ((n == 3 || n == 4) && !faces->IsFaceOneFlagSet(unsigned(f), _FaceInvalid))
            total += per;
    }
    return total;
}

void C3DPatch::Invalidate(unsigned flags, bool set)
{
    if (set && (flags & (0x01 | 0x02 | 0x08 | 0x10)))
        SetUpdateFlags(kUpdatePatch, true);
    C3DGeomObject::Invalidate(flags, set);
}

bool C3DPatch::InvalidateChannels(unsigned mask)
{
    return m_FinalObject && m_FinalObject->InvalidateChannels(mask);
}

bool C3DPatch::Update(C3DScene* scene, unsigned flags)
{
    bool released = false;
    if ((flags & kUpdatePatch) && IsInvalidate(kUpdatePatch))
        released = ReleasePatch();
    bool updated = C3DGeomObject::Update(scene, flags);
    return released || updated;
}

bool C3DPatch::Subdivide(int level)
{
    if (!GetPointList() || !GetFaceList())
        return false;
    if (level == 0)
    {
        m_FinalObject = GetSourceObject();
        return m_FinalObject != nullptr;
    }
    Owned<C3DObject> triangles(SubObject(3, _SubObjectEqual));
    Owned<C3DObject> quadrangles(SubObject(4, _SubObjectEqual));
    Owned<C3DObject> polygons(SubObject(4, _SubObjectGreater));
    for (int i = 0; i < level; ++i)
    {
        if (triangles && !Subdivide3(triangles.get()))
            return false;
        if (quadrangles && !Subdivide4(quadrangles.get()))
            return false;
    }
    // A control mesh of one kind of face needs no joining: its subdivided part is the final
    // object as it stands.
    int partCount = int(bool(triangles)) + int(bool(quadrangles)) + int(bool(polygons));
    if (partCount == 1)
    {
        Owned<C3DObject>& only = triangles ? triangles : quadrangles ? quadrangles : polygons;
        only->InheritFlags(*this, 0);
        only->SetScene(GetScene());
        m_FinalObject = only.release();
        return true;
    }
    Owned<C3DObject> final(new C3DObject);
    final->InheritFlags(*this, 0);
    if (!final->Init(0, 0, 3, 0, 0, kZanNone))
        return false;
    final->Inherit(*this, 0xFFFF, 27);
    CXArray<C3DGeomObject*> parts;
    for (C3DObject* part : {triangles.get(), quadrangles.get(), polygons.get()})
        if (part)
            parts.Add(part);
    if (parts.GetSize() > 0 && !final->Concatenate(GetScene(), parts, nullptr))
        return false;
    final->SetScene(GetScene());
    m_FinalObject = final.release();
    return true;
}

bool C3DPatch::Subdivide3(C3DObject* object)
{
    return SubdivideObject(object, CSubdivider::_Loop);
}

bool C3DPatch::Subdivide4(C3DObject* object)
{
    return SubdivideObject(object, CSubdivider::_CatmullClark);
}
