// The base object: identity, flags, update stamps, instancing, copies, checksums, archives.
// The object counter is atomic so that two threads building objects (a parallel import, say)
// never hand out the same ID; the rule it keeps is the one archives rely on: every ID handed
// out or loaded is below the counter afterwards.
#include <3dzan/scene/baseobject.h>

#include <3dzan/foundation/hashmap.h>
#include <3dzan/foundation/services.h>
#include <3dzan/foundation/xarchive.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>
#include <3dzan/scene/objectcreator.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <memory>
#include <new>
#include <vector>

namespace
{
std::atomic<unsigned> g_NextObjectID{1};

int64_t CurrentTick()
{
    return int64_t(timeGetTick());
}

// The update kinds whose stamps Update writes.
constexpr unsigned kStampedKinds[] = {_ObjectUpdateCreated, _ObjectUpdateFinal, _ObjectUpdateUVW};

struct CKindName
{
    _OBJECT_KINDOF kind;
    unsigned stringId;
    const char* fallback;
    const char* className;
};

constexpr CKindName kKindNames[] = {
    {_ObjectKindPolygonal, 9406, "Polymesh", "C3DObject"},
    {_ObjectKindCurve, 9357, "Curve", "C3DCurve"},
    {_ObjectKindPatch, 9405, "Patch", "C3DPatch"},
    {_ObjectKindGroup, 9362, "Group", "C3DGroup"},
    {_ObjectKindDummy, 9360, "Dummy", "C3DDummy"},
    {_ObjectKindCamera, 9349, "Camera", "C3DCamera"},
    {_ObjectKindLight, 9363, "Light", "C3DLight"},
};

const CKindName* FindKind(unsigned kind)
{
    for (const CKindName& entry : kKindNames)
        if (entry.kind == kind)
            return &entry;
    return nullptr;
}
} // namespace

ZAN_IMPLEMENT_DYNCREATE(C3DBaseObject, CXObject)

// ---------------------------------------------------------------- identity

unsigned C3DBaseObject::TakeNextObjectID()
{
    unsigned id = g_NextObjectID.fetch_add(1);
    if (id == kZanNone) // "none" is never an object's ID: wrap around to 1
    {
        unsigned expected = 0;
        g_NextObjectID.compare_exchange_strong(expected, 2);
        id = 1;
    }
    return id;
}

void C3DBaseObject::RaiseObjectCounter(unsigned loadedID)
{
    if (loadedID == kZanNone)
        return;
    unsigned current = g_NextObjectID.load();
    while (current <= loadedID && !g_NextObjectID.compare_exchange_weak(current, loadedID + 1))
    {
    }
}

unsigned C3DBaseObject::GetNextObjectID()
{
    unsigned id = g_NextObjectID.load();
    return id == kZanNone ? 1 : id;
}

C3DBaseObject::C3DBaseObject() : C3DBaseObject(_ObjectKindNone) {}

C3DBaseObject::C3DBaseObject(_OBJECT_KINDOF kind) : m_Kind(kind), m_ObjectID(TakeNextObjectID()) {}

C3DBaseObject::C3DBaseObject(const C3DBaseObject& src)
    : CXObject(src), CInstanciatedObject(src), m_Kind(src.m_Kind), m_Flags(src.m_Flags),
      m_UpdateFlags(src.m_UpdateFlags), m_CustomData(src.m_CustomData),
      m_ObjectID(TakeNextObjectID()), m_Scene(src.m_Scene)
{
    std::copy(std::begin(src.m_UpdateStamps), std::end(src.m_UpdateStamps), m_UpdateStamps);
}

C3DBaseObject::~C3DBaseObject() = default;

C3DBaseObject* C3DBaseObject::Create(_OBJECT_KINDOF kind)
{
    const CKindName* entry = FindKind(kind);
    if (!entry)
        return nullptr;
    const CXRuntimeClass* cls = CXRuntimeClass::FromName(entry->className);
    if (!cls || !cls->IsDerivedFrom(ZAN_RUNTIME_CLASS(C3DBaseObject)))
        return nullptr;
    CXObject* created = nullptr;
    try
    {
        created = cls->CreateObject();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
    auto* object = dynamic_cast<C3DBaseObject*>(created);
    if (object && object->GetKindOf() == kind)
        return object;
    if (object)
        object->Delete();
    else
        delete created;
    return nullptr;
}

CXTString C3DBaseObject::GetTypeString() const
{
    const CKindName* entry = FindKind(m_Kind);
    if (!entry)
        return CXTString();
    CXTString text = CXTString::FromId(entry->stringId);
    if (text.IsEmpty())
        text = entry->fallback;
    return text;
}

// ---------------------------------------------------------------- typed views

#define ZAN_TYPED_VIEW(ClassName, Kind)                                                            \
    C3DBaseObject::operator ClassName*()                                                           \
    {                                                                                              \
        return m_Kind == Kind ? static_cast<ClassName*>(this) : nullptr;                           \
    }                                                                                              \
    C3DBaseObject::operator const ClassName*() const                                               \
    {                                                                                              \
        return m_Kind == Kind ? static_cast<const ClassName*>(this) : nullptr;                     \
    }

ZAN_TYPED_VIEW(C3DGroup, _ObjectKindGroup)
ZAN_TYPED_VIEW(C3DDummy, _ObjectKindDummy)
ZAN_TYPED_VIEW(C3DCamera, _ObjectKindCamera)
ZAN_TYPED_VIEW(C3DLight, _ObjectKindLight)
#undef ZAN_TYPED_VIEW

// ---------------------------------------------------------------- flags and updates

void C3DBaseObject::SetFlag(unsigned flags, bool set)
{
    if (set)
        m_Flags |= flags;
    else
        m_Flags &= ~flags;
}

int64_t C3DBaseObject::GetUpdateStamp(unsigned kind) const
{
    unsigned slot = kind / 0x10000u;
    if (slot == 0 || slot > unsigned(kUpdateStampNbr))
        return 0;
    return m_UpdateStamps[slot - 1];
}

bool C3DBaseObject::NeedUpdate() const
{
    return (m_UpdateFlags & _ObjectUpdateNeeded) != 0;
}

bool C3DBaseObject::Update(C3DScene*, unsigned kinds)
{
    int64_t now = CurrentTick();
    for (unsigned kind : kStampedKinds)
        if (kinds & kind)
            m_UpdateStamps[kind / 0x10000u - 1] = now;
    m_UpdateFlags &= ~(kinds & _ObjectUpdateKindMask);
    return false;
}

void C3DBaseObject::SetUpdateFlags(unsigned kinds, bool set)
{
    if (set)
        m_UpdateFlags |= kinds & _ObjectUpdateKindMask;
    else
        C3DBaseObject::Update(m_Scene, kinds);
}

void C3DBaseObject::Invalidate(unsigned mask, bool set)
{
    if ((mask & 0xFFFFu) != 0 && set)
        m_UpdateFlags |= _ObjectUpdateDisplay;
    else
        m_UpdateFlags &= ~mask;
}

bool C3DBaseObject::InvalidateChannels(unsigned)
{
    return false;
}

bool C3DBaseObject::IsFinalObject() const
{
    return true;
}

C3DBaseObject* C3DBaseObject::GetFinalObject(bool)
{
    return this;
}

bool C3DBaseObject::MatrixTransform(const C4x4TMatrix<float>&)
{
    return false;
}

// Objects without geometry: no box, centre, points, faces or materials.
bool C3DBaseObject::GetObjectBoundingBox(C3DTPoint<float>&, C3DTPoint<float>&, unsigned, unsigned)
{
    return false;
}

bool C3DBaseObject::GetObjectCG(C3DTPoint<float>&)
{
    return false;
}

int C3DBaseObject::GetObjectPointNbr() const
{
    return 0;
}

int C3DBaseObject::GetObjectFaceNbr() const
{
    return 0;
}

bool C3DBaseObject::GetUsedMaterials(CMaterialHashMap&)
{
    return false;
}

bool C3DBaseObject::FollowsSceneSmoothing(bool) const
{
    return false;
}

bool C3DBaseObject::SetPatchLevel(unsigned)
{
    return false;
}

bool C3DBaseObject::SwapObjectCoordinates(unsigned)
{
    return false;
}

// ---------------------------------------------------------------- checksums

unsigned C3DBaseObject::GetCustomDataChecksum(unsigned firstSkippedId, ...) const
{
    std::vector<unsigned> skipped;
    if (firstSkippedId != 0)
    {
        skipped.push_back(firstSkippedId);
        va_list args;
        va_start(args, firstSkippedId);
        for (unsigned id = va_arg(args, unsigned); id != 0; id = va_arg(args, unsigned))
            skipped.push_back(id);
        va_end(args);
    }
    return GetCustomDataChecksumSkipping(skipped.data(), skipped.size());
}

unsigned C3DBaseObject::GetCustomDataChecksumSkipping(const unsigned* skipped, size_t count) const
{
    CHashTable<unsigned> skip(unsigned(std::min<size_t>(count, 1u << 20) * 2 + 1));
    for (size_t i = 0; skipped && i < count; ++i)
        skip.Insert(skipped[i]);
    uint32_t sum = 0;
    int entries = m_CustomData.GetCount();
    for (int i = 0; i < entries; ++i)
    {
        unsigned kind = 0;
        unsigned id = m_CustomData.GetIDByIndex(i, kind);
        if (skip.Find(id))
            continue;
        sum += m_CustomData.GetChecksum(id);
        sum += uint32_t(ZanMix64(uint64_t(id) << 32 | kind));
    }
    return sum;
}

unsigned C3DBaseObject::GetChecksum(unsigned) const
{
    return unsigned(m_Kind) << 4;
}

// ---------------------------------------------------------------- instances and copies

bool C3DBaseObject::DeleteFromNode()
{
    if (m_InstanceNbr > 1)
        --m_InstanceNbr;
    return Delete();
}

C3DBaseObject* C3DBaseObject::Copy(int flags, C3DObjectCreator* creator) const
{
    std::unique_ptr<C3DObjectCreator> local;
    if (!creator)
    {
        try
        {
            local = std::make_unique<C3DObjectCreator>();
        }
        catch (const std::bad_alloc&)
        {
            return nullptr;
        }
        creator = local.get();
    }
    C3DBaseObject* target = nullptr;
    bool done = false;
    try
    {
        done = InternalCopy(target, flags, creator);
    }
    catch (const std::bad_alloc&)
    {
        done = false;
    }
    if (!done)
    {
        if (target && target != this)
            target->DeleteMe();
        return nullptr;
    }
    return target;
}

bool C3DBaseObject::InternalCopy(C3DBaseObject*& target, int flags, C3DObjectCreator* creator) const
{
    if (!target && (flags & _CopyInstance))
    {
        auto* self = const_cast<C3DBaseObject*>(this);
        self->AddRef();
        ++self->m_InstanceNbr;
        target = self;
        return true;
    }
    if (!target)
    {
        if (!creator)
            return false;
        bool isNew = false;
        target = creator->GetNewObjectFrom(this, isNew);
        if (!target)
            return false;
    }
    if (!(flags & _CopyOtherScene))
        target->SetScene(m_Scene);
    target->InheritFlags(*this, flags);
    return true;
}

void C3DBaseObject::InheritFlags(const C3DBaseObject& source, int flags)
{
    if (&source == this)
        return;
    CCustomData data(source.m_CustomData); // may throw: nothing changed yet
    m_CustomData.Swap(data);
    m_Flags = source.m_Flags;
    if (flags & _CopyOtherScene)
        m_ObjectID = source.m_ObjectID;
}

// ---------------------------------------------------------------- storage

void C3DBaseObject::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        ar << m_Flags << m_ObjectID;
        m_CustomData.Serialize(ar);
        return;
    }
    unsigned flags = 0, id = 0;
    ar >> flags >> id;
    if (id == kZanNone)
        throw CXArchiveException(CXArchiveException::_BadValue,
                                 "C3DBaseObject: object ID 0xFFFFFFFF");
    CCustomData data;
    data.Serialize(ar);
    m_Flags = flags;
    m_ObjectID = id;
    m_CustomData.Swap(data);
    RaiseObjectCounter(id);
}

void C3DBaseObject::RestoreIdentity(unsigned flags, unsigned id, CCustomData&& data)
{
    m_Flags = flags;
    m_ObjectID = id;
    m_CustomData.Swap(data);
}

void C3DBaseObject::PreSerialize(CXArchive&, bool) {}

void C3DBaseObject::PostSerialize(CXArchive&, bool)
{
    Invalidate(0xFFFF, true);
}
