// Geometric objects: ownership of the lists, settings, invalidation, boxes, checksums,
// transforms, face flips, materials, cleaning, copies and archives. The editing operations
// that build new geometry from old (sub-objects, concatenation, inheritance) are in
// geomobject_edit.cpp.
#include <3dzan/materials/materials.h>
#include <3dzan/scene/geomobject.h>

#include <3dzan/animation/math.h>
#include <3dzan/foundation/xarchive.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/objectcreator.h>
#include <3dzan/scene/scene.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

namespace
{
constexpr float kPi = 3.1415927f;
constexpr unsigned kNormalChannels = _ChannelPointNormal | _ChannelSpecNormal; // 0x50
constexpr unsigned kChannelsLeftAlone = _ChannelInvalid | _ChannelNoFaceEdit;  // 0x9
constexpr unsigned kSkippedFaces = _FaceInvalid | _FaceExcluded;

template <class T> void Release(T*& item)
{
    if (item)
        item->DeleteMe();
    item = nullptr;
}

// Holds a new list or channel set until it is handed over; drops the holder otherwise.
struct CDropHolder
{
    void operator()(CInstanciatedObject* item) const
    {
        if (item)
            item->DeleteMe();
    }
};
template <class T> using Held = std::unique_ptr<T, CDropHolder>;

[[noreturn]] void BadArchive(const std::string& what)
{
    throw CXArchiveException(CXArchiveException::_BadValue, "C3DGeomObject: " + what);
}

int ReadPresence(CXArchive& ar, const char* what)
{
    int present = 0;
    ar >> present;
    if (present != 0 && present != 1)
        BadArchive(std::string("presence flag of the ") + what + " is " + std::to_string(present));
    return present;
}

// The class record of a list and a new list of that class (one holder).
template <class LIST> LIST* ReadListClass(CXArchive& ar, const CXRuntimeClass* required)
{
    const CXRuntimeClass* cls = ar.ReadClass(required);
    if (!cls)
        BadArchive(std::string("no class record for a ") + required->m_ClassName);
    CXObject* created = cls->CreateObject();
    if constexpr (std::is_base_of_v<CPointList, LIST>)
    {
        auto* list = dynamic_cast<LIST*>(CPointList::FromXObject(created));
        if (!list)
        {
            delete created;
            BadArchive(std::string("class ") + cls->m_ClassName + " is not a point list");
        }
        return list;
    }
    else
    {
        auto* list = dynamic_cast<LIST*>(created);
        if (!list)
        {
            delete created;
            BadArchive(std::string("class ") + cls->m_ClassName + " is not a face list");
        }
        return list;
    }
}

// The sum of the three positive and of the three negative triple products, kept apart so
// that a nearly singular matrix does not lose its sign in cancellation.
double Determinant3(const C4x4TMatrix<float>& m)
{
    double positive = double(m[0][0]) * m[1][1] * m[2][2] + double(m[0][1]) * m[1][2] * m[2][0] +
                      double(m[0][2]) * m[1][0] * m[2][1];
    double negative = double(m[0][2]) * m[1][1] * m[2][0] + double(m[0][0]) * m[1][2] * m[2][1] +
                      double(m[0][1]) * m[1][0] * m[2][2];
    return positive - negative;
}

bool IsNearIdentity(const C4x4TMatrix<float>& m)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
        {
            float v = m[r][c];
            bool near = r == c ? (v >= 0.995f && v <= 1.005f) : (v >= -0.005f && v <= 0.005f);
            if (!near)
                return false;
        }
    return true;
}
} // namespace

ZAN_IMPLEMENT_DYNCREATE(C3DGeomObject, C3DBaseObject)
ZAN_IMPLEMENT_DYNCREATE(C3DObject, C3DGeomObject)
ZAN_IMPLEMENT_DYNCREATE(C3DCurve, C3DGeomObject)

// ---------------------------------------------------------------- typed views

#define ZAN_TYPED_VIEW(ClassName, Test)                                                            \
    C3DBaseObject::operator ClassName*()                                                           \
    {                                                                                              \
        return (Test) ? dynamic_cast<ClassName*>(this) : nullptr;                                  \
    }                                                                                              \
    C3DBaseObject::operator const ClassName*() const                                               \
    {                                                                                              \
        return (Test) ? dynamic_cast<const ClassName*>(this) : nullptr;                            \
    }

ZAN_TYPED_VIEW(C3DObject, GetKindOf() == _ObjectKindPolygonal)
ZAN_TYPED_VIEW(C3DCurve, GetKindOf() == _ObjectKindCurve)
ZAN_TYPED_VIEW(C3DGeomObject, IsGeomObject())
#undef ZAN_TYPED_VIEW

// ---------------------------------------------------------------- construction

C3DGeomObject::C3DGeomObject() : C3DGeomObject(_ObjectKindNone) {}

C3DGeomObject::C3DGeomObject(_OBJECT_KINDOF kind)
    : C3DBaseObject(kind), m_Channels(CDependentChannels::Create())
{
}

C3DGeomObject::C3DGeomObject(C3DPointList* points, C3DFaceList* faces, CDependentChannels* channels)
    : m_FaceList(faces), m_PointList(points),
      m_Channels(channels ? channels : CDependentChannels::Create())
{
}

C3DGeomObject::C3DGeomObject(const C3DGeomObject& src)
    : C3DBaseObject(src), m_PointsBox(src.m_PointsBox), m_FacesBox(src.m_FacesBox),
      m_SmoothAngle(src.m_SmoothAngle), m_SmoothMode(src.m_SmoothMode), m_FaceMode(src.m_FaceMode),
      m_FaceList(src.m_FaceList), m_PointList(src.m_PointList), m_Channels(src.m_Channels),
      m_GlobalUVWChannel(src.m_GlobalUVWChannel), m_GlobalVCChannel(src.m_GlobalVCChannel),
      m_GlobalVCFactor(src.m_GlobalVCFactor)
{
}

C3DGeomObject::~C3DGeomObject()
{
    Release(m_FaceList);
    Release(m_PointList);
    Release(m_Channels);
}

const CMaterialHashMap* C3DGeomObject::GetMaterialsHashMap(bool update)
{
    if (!m_FaceList)
        return nullptr;
    if (m_Materials && !update && m_MaterialsFaces == m_FaceList &&
        m_MaterialsStamp == m_FaceList->GetChangedStamp())
        return m_Materials.get();
    auto* map = new CMaterialHashMap;
    const C3DFaceList& faces = *m_FaceList;
    // Faces come in runs of one material: the map counts each run once.
    unsigned run = 0, runLength = 0;
    for (int f = 0; f < faces.GetSize(); ++f)
        if (!faces.IsFaceOneFlagSet(unsigned(f), _FaceInvalid | _FaceExcluded))
        {
            const unsigned material = faces.GetFaceMaterial(unsigned(f));
            if (runLength && material != run)
            {
                map->AddMaterial(run, runLength);
                runLength = 0;
            }
            run = material;
            ++runLength;
        }
    if (runLength)
        map->AddMaterial(run, runLength);
    m_Materials = {map, [](CMaterialHashMap* m) { m->Delete(); }};
    m_MaterialsFaces = m_FaceList;
    m_MaterialsStamp = faces.GetChangedStamp();
    return map;
}

C3DObject::C3DObject() : C3DGeomObject(_ObjectKindPolygonal) {}
C3DObject::~C3DObject() = default;

C3DCurve::C3DCurve() : C3DGeomObject(_ObjectKindCurve) {}
C3DCurve::~C3DCurve() = default;

// ---------------------------------------------------------------- lists

int C3DGeomObject::GetPointNbr() const
{
    return m_PointList ? m_PointList->GetSize() : 0;
}

int C3DGeomObject::GetFaceNbr() const
{
    return m_FaceList ? m_FaceList->GetSize() : 0;
}

void C3DGeomObject::SetFaceList(C3DFaceList* faces, bool release)
{
    if (faces == m_FaceList)
        return;
    if (release)
        Release(m_FaceList);
    m_FaceList = faces;
    Invalidate(_InvalidateFaces, true);
}

void C3DGeomObject::SetPointList(C3DPointList* points, bool release)
{
    if (points == m_PointList)
        return;
    if (release)
        Release(m_PointList);
    m_PointList = points;
    Invalidate(_InvalidatePoints, true);
}

void C3DGeomObject::SetChannels(CDependentChannels* channels, bool release)
{
    if (channels == m_Channels)
        return;
    if (!channels)
        channels = CDependentChannels::Create();
    if (release)
        Release(m_Channels);
    m_Channels = channels;
    Invalidate(_InvalidateDisplay, true);
}

unsigned C3DGeomObject::AddChannel(CChannel* channel)
{
    return channel ? m_Channels->AddChannel(channel) : kZanNone;
}

CChannel* C3DGeomObject::GetChannelByID(unsigned id, _Channel3DType type) const
{
    return m_Channels->GetChannelByID(id, type);
}

CChannel* C3DGeomObject::GetChannelByIndex(int index, unsigned typeMask, bool skipInvalid) const
{
    return m_Channels->GetChannelByIndex(index, typeMask, skipInvalid);
}

// ---------------------------------------------------------------- settings

float C3DGeomObject::GetSmoothAngle(bool* inherited) const
{
    bool fromScene = m_SmoothAngle == -1.0f;
    if (inherited)
        *inherited = fromScene;
    return fromScene ? C3DScene::GetSmoothAngle(GetScene()) : m_SmoothAngle;
}

bool C3DGeomObject::SetSmoothAngle(float angle)
{
    if (std::isnan(angle))
        return false;
    if (angle != -1.0f)
    {
        double degrees = double(angle) * 180.0 / M_PI;
        if (degrees < 0.0)
            angle = 0.0f;
        else if (degrees > 180.0)
            angle = kPi;
    }
    if (angle != m_SmoothAngle)
    {
        m_SmoothAngle = angle;
        InvalidateChannels(kNormalChannels);
    }
    return true;
}

_NormalSmoothMode C3DGeomObject::GetSmoothMode(bool* inherited) const
{
    bool fromScene = m_SmoothMode == _SmoothModeScene;
    if (inherited)
        *inherited = fromScene;
    return fromScene ? C3DScene::GetSmoothMode(GetScene()) : m_SmoothMode;
}

bool C3DGeomObject::SetSmoothMode(_NormalSmoothMode mode)
{
    if (unsigned(mode) > _SmoothModeAngle)
        return false;
    if (mode != m_SmoothMode)
    {
        m_SmoothMode = mode;
        InvalidateChannels(kNormalChannels);
    }
    return true;
}

void C3DGeomObject::SetFaceMode(_faceModeEnum mode)
{
    m_FaceMode = mode;
    Invalidate(_InvalidateDisplay, true);
}

void C3DGeomObject::SetGlobalUVWChannel(unsigned id)
{
    m_GlobalUVWChannel = id;
    Invalidate(_InvalidateDisplay, true);
}

unsigned C3DGeomObject::GetGlobalVCChannel(float& factor) const
{
    factor = m_GlobalVCFactor;
    return m_GlobalVCChannel;
}

void C3DGeomObject::SetGlobalVCChannel(unsigned id, float factor)
{
    m_GlobalVCChannel = id;
    m_GlobalVCFactor = factor;
    Invalidate(_InvalidateDisplay, true);
}

// ---------------------------------------------------------------- invalidation

void C3DGeomObject::Invalidate(unsigned flags, bool set)
{
    if (set)
    {
        if ((flags & (_InvalidatePoints | _InvalidateMaterials)) && m_PointList)
            m_PointList->SetFlag(_PointListChanged, true);
        if ((flags & _InvalidateFaces) && m_FaceList)
            m_FaceList->SetFlag(_FaceListChanged, true);
        if (flags & (_InvalidatePoints | _InvalidateFaces))
        {
            m_PointsBox.Reset();
            m_FacesBox.Reset();
        }
        if (flags & (_InvalidateFaces | _InvalidateMaterials | _InvalidateCopied))
            m_Materials.reset();
        if ((flags & (_InvalidatePoints | _InvalidateFaces | _InvalidateCopied)) && m_Channels)
        {
            SetUpdateFlags(_ObjectUpdateUVW, true);
            InvalidateChannels(_ChannelAll);
        }
    }
    C3DBaseObject::Invalidate(flags, set);
}

bool C3DGeomObject::InvalidateChannels(unsigned mask)
{
    if (!m_Channels || !m_Channels->InvalidateChannels(mask))
        return false;
    Invalidate(_InvalidateDisplay, true);
    return true;
}

bool C3DGeomObject::Update(C3DScene* scene, unsigned flags)
{
    bool generated = false;
    if ((flags & _ObjectUpdateUVW) && IsFinalObject())
        generated = GenerateUVW(scene ? scene : GetScene());
    const bool updated = C3DBaseObject::Update(scene, flags);
    return generated || updated;
}

// ---------------------------------------------------------------- queries

bool C3DGeomObject::ComputeBox(C3DTBBox<float>& box, unsigned flags, unsigned pointFlags,
                               bool flagMatch)
{
    box.Reset();
    if ((flags & _BBoxFaces) && m_FaceList && m_PointList)
    {
        CGeomInfo info(this);
        m_FaceList->GetBoundingBox(&info, box, pointFlags, flagMatch, nullptr);
    }
    else if (m_PointList)
        m_PointList->GetBoundingBox(box, pointFlags, flagMatch, nullptr);
    else
        box.SetValid(true);
    return !box.IsEmpty();
}

bool C3DGeomObject::GetBoundingBox(C3DTBBox<float>& box, unsigned flags, unsigned pointFlags,
                                   bool flagMatch, C3DSceneNode* node)
{
    box.Reset();
    if (IsEmptyObject() || !(flags & (_BBoxFaces | _BBoxPoints)))
        return false;
    if (flags & _BBoxNodeSpace)
    {
        if (!node)
            return false;
        // A box in node space depends on the node and the time: it never touches the caches.
        C4x4TMatrix<float> tm;
        node->GetNodeTM(node->GetScene() ? node->GetScene()->GetTickCount() : 0, tm, true);
        if ((flags & _BBoxFaces) && m_FaceList && m_PointList)
        {
            CGeomInfo info(this);
            m_FaceList->GetBoundingBox(&info, box, pointFlags, flagMatch, &tm);
        }
        else if (m_PointList)
            m_PointList->GetBoundingBox(box, pointFlags, flagMatch, &tm);
        else
            box.SetValid(true);
        return !box.IsEmpty();
    }
    bool faces = (flags & _BBoxFaces) != 0;
    if (pointFlags != 0) // filtered boxes are not what the caches hold
        return ComputeBox(box, flags, pointFlags, flagMatch);
    C3DTBBox<float>& cache = faces ? m_FacesBox : m_PointsBox;
    if (!cache.IsValid())
    {
        ComputeBox(cache, faces ? _BBoxFaces : _BBoxPoints, 0, true);
        cache.SetValid(true);
    }
    box = cache;
    return !box.IsEmpty();
}

bool C3DGeomObject::GetBoundingBox(C3DTPoint<float>& min, C3DTPoint<float>& max, unsigned flags,
                                   unsigned pointFlags, bool flagMatch, C3DSceneNode* node)
{
    C3DTBBox<float> box;
    bool found = GetBoundingBox(box, flags, pointFlags, flagMatch, node);
    min = box.GetMin();
    max = box.GetMax();
    return found;
}

bool C3DGeomObject::GetCG(C3DTPoint<float>& center)
{
    if (!m_PointList)
        return false;
    C3DTBBox<float> box;
    GetBoundingBox(box, _BBoxPoints);
    center = box.GetCenter();
    return true;
}

// ---------------------------------------------------------------- the scene's view

bool C3DGeomObject::GetObjectBoundingBox(C3DTPoint<float>& min, C3DTPoint<float>& max,
                                         unsigned flags, unsigned extra)
{
    C3DTBBox<float> box;
    if (!GetBoundingBox(box, flags & (_BBoxFaces | _BBoxPoints), extra, true))
        return false;
    min = box.GetMin();
    max = box.GetMax();
    return true;
}

bool C3DGeomObject::GetObjectCG(C3DTPoint<float>& cg)
{
    return GetCG(cg);
}

bool C3DGeomObject::GetUsedMaterials(CMaterialHashMap& used)
{
    const CMaterialHashMap* own = GetMaterialsHashMap(true);
    if (!own)
        return false;
    used.Append(*own);
    return true;
}

bool C3DGeomObject::FollowsSceneSmoothing(bool mode) const
{
    bool inherited = false;
    if (mode)
        GetSmoothMode(&inherited);
    else
        GetSmoothAngle(&inherited);
    return inherited;
}

bool C3DGeomObject::SwapObjectCoordinates(unsigned code)
{
    if (IsEmptyObject() || !m_PointList || !m_PointList->SwapCoordinates(code))
        return false;
    m_Channels->SwapCoordinates(0xFFFF, code);
    Invalidate(_InvalidatePoints, true);
    return true;
}

unsigned C3DGeomObject::GetChecksum(unsigned flags) const
{
    unsigned mask = (flags & 0x0F) ? (flags & 0x0F) : 0x0F;
    uint32_t sum = 0;
    if (m_PointList)
        sum += m_PointList->GetChecksum(mask & 0x03);
    if (m_FaceList)
        sum += m_FaceList->GetChecksum(mask & 0x0C);
    if ((flags & 0x10) && m_Channels)
        for (const CChannel* channel : *m_Channels)
        {
            if (channel->IsOneFlagSet(kChannelsLeftAlone))
                continue;
            if (channel->GetFaceList())
                sum += channel->GetFaceList()->GetChecksum(mask & 0x0C);
            if (channel->GetPointList())
                sum += channel->GetPointList()->GetChecksum(mask & 0x03);
        }
    return sum;
}

bool C3DGeomObject::IsTriangular(_FACE_PROPERTIES flags, bool state) const
{
    unsigned kind = GetKindOf();
    if ((kind != _ObjectKindPolygonal && kind != _ObjectKindPatch) || IsEmptyObject() ||
        !m_FaceList)
        return false;
    return m_FaceList->IsTriangular(flags, state);
}

// ---------------------------------------------------------------- operations

bool C3DGeomObject::MatrixTransform(const C4x4TMatrix<float>& matrix)
{
    if (IsEmptyObject() || !m_PointList)
        return false;
    for (int i = 0; i < 16; ++i)
        if (!std::isfinite(matrix.ValPtr()[i]))
            return false;
    if (IsNearIdentity(matrix))
        return false;
    m_PointList->MatrixTransform(matrix);
    m_Channels->MatrixTransform(matrix, _ChannelAll);
    Invalidate(_InvalidatePoints, true);
    if (Determinant3(matrix) < 0.0)
        FlipNormals();
    return true;
}

bool C3DGeomObject::FlipNormals()
{
    if (IsEmptyObject() || !m_FaceList)
        return false;
    std::vector<CFaceList*> channelFaces;
    for (CChannel* channel : *m_Channels)
        if (channel->GetFaceList() && !channel->IsOneFlagSet(kChannelsLeftAlone))
            channelFaces.push_back(channel->GetFaceList());
    // A channel face turns exactly when its geometry face does, whatever its own flags, so
    // that its k-th corner keeps belonging to the geometry face's k-th corner.
    unsigned n = m_FaceList->m_Faces.GetCount();
    for (unsigned i = 0; i < n; ++i)
    {
        if (m_FaceList->GetFaceFlags(i) & kSkippedFaces)
            continue;
        unsigned count = m_FaceList->m_Faces.CountAt(i);
        int* items = m_FaceList->m_Faces.ItemsAt(i);
        std::reverse(items, items + count);
        for (CFaceList* faces : channelFaces)
            if (i < faces->m_Faces.GetCount() && faces->m_Faces.CountAt(i) == count)
            {
                int* corners = faces->m_Faces.ItemsAt(i);
                std::reverse(corners, corners + count);
            }
    }
    for (CChannel* channel : *m_Channels)
        if (channel->GetFaceList() && !channel->IsOneFlagSet(kChannelsLeftAlone))
        {
            channel->GetFaceList()->SetFlag(_FaceListChanged, true);
            channel->MarkModified();
        }
    Invalidate(_InvalidateFaces, true);
    return true;
}

bool C3DGeomObject::ReplaceMaterial(unsigned oldID, unsigned newID)
{
    if (IsEmptyObject() || !m_FaceList || oldID == newID)
        return false;
    if (m_FaceList->ReplaceMaterial(oldID, newID) == 0)
        return false;
    Invalidate(_InvalidateMaterials, true);
    return true;
}

bool C3DGeomObject::ReplaceMaterials(const CHashMap<unsigned, unsigned>& mapping)
{
    if (IsEmptyObject() || !m_FaceList || mapping.GetCount() == 0)
        return false;
    bool changed = false;
    unsigned n = unsigned(m_FaceList->GetSize());
    bool back = m_FaceList->HasBackFaceMaterials();
    for (unsigned i = 0; i < n; ++i)
    {
        unsigned replacement;
        if (unsigned* material = m_FaceList->MaterialAt(i);
            material && mapping.Find(*material, replacement) && replacement != *material)
        {
            *material = replacement;
            changed = true;
        }
        unsigned backID = back ? m_FaceList->GetBackFaceMaterial(i) : kZanNone;
        if (back && mapping.Find(backID, replacement) && replacement != backID)
        {
            m_FaceList->SetBackFaceMaterial(i, replacement);
            changed = true;
        }
    }
    if (changed)
        Invalidate(_InvalidateMaterials, true);
    return changed;
}

bool C3DGeomObject::Clean()
{
    if (!m_PointList || IsEmptyObject())
        return false;
    bool changed = false;
    if (m_FaceList)
    {
        CGeomInfo info(this);
        changed = m_FaceList->Clean(&info);
        if (changed)
        {
            if (m_FaceList->GetSize() == 0 && m_PointList->GetSize() == 0)
                SetFlag(_ObjectEmpty, true);
            Invalidate(_InvalidatePoints | _InvalidateFaces, true);
        }
    }
    else if (m_PointList->Clean(nullptr, nullptr))
    {
        changed = true;
        Invalidate(_InvalidatePoints, true);
    }
    FreeExtra();
    return changed;
}

void C3DGeomObject::FreeExtra()
{
    if (m_PointList)
        m_PointList->FreeExtra();
    if (m_FaceList)
        m_FaceList->FreeExtra();
    m_Channels->FreeExtra();
}

// ---------------------------------------------------------------- copies

void C3DGeomObject::InheritFlags(const C3DBaseObject& source, int flags)
{
    C3DBaseObject::InheritFlags(source, flags);
    auto* geom = dynamic_cast<const C3DGeomObject*>(&source);
    if (!geom || geom == this)
        return;
    m_SmoothAngle = geom->m_SmoothAngle;
    m_SmoothMode = geom->m_SmoothMode;
    m_FaceMode = geom->m_FaceMode;
    m_GlobalUVWChannel = geom->m_GlobalUVWChannel;
    m_GlobalVCChannel = geom->m_GlobalVCChannel;
    m_GlobalVCFactor = geom->m_GlobalVCFactor;
    auto* curve = dynamic_cast<C3DCurve*>(this);
    auto* sourceCurve = dynamic_cast<const C3DCurve*>(geom);
    if (curve && sourceCurve)
        curve->SetMaterialID(sourceCurve->GetMaterialID());
}

bool C3DGeomObject::InternalCopy(C3DBaseObject*& target, int flags, C3DObjectCreator* creator) const
{
    if (flags & _CopyInstance)
        return C3DBaseObject::InternalCopy(target, flags, creator);
    std::unique_ptr<C3DObjectCreator> local;
    if (!creator)
    {
        local = std::make_unique<C3DObjectCreator>();
        creator = local.get();
    }
    if (!target)
    {
        bool isNew = false;
        target = creator->GetNewObjectFrom(this, isNew);
        if (!target)
            return false;
    }
    if (target == this)
        return false;
    unsigned mine = GetKindOf(), theirs = target->GetKindOf();
    auto meshLike = [](unsigned kind)
    { return kind == _ObjectKindPolygonal || kind == _ObjectKindPatch; };
    bool compatible = meshLike(mine) ? meshLike(theirs) : mine == theirs;
    if (!compatible)
        return false;
    if (auto* geom = dynamic_cast<C3DGeomObject*>(target))
    {
        // Copies are made aside first, so that a shortage leaves the target as it was.
        Held<C3DPointList> points;
        Held<C3DFaceList> faces;
        if (m_PointList)
        {
            points.reset(geom->m_PointList
                             ? static_cast<C3DPointList*>(geom->m_PointList->Duplicate(false))
                             : creator->GetNewPointList());
            if (!points)
                return false;
            *points = *m_PointList;
        }
        if (m_FaceList)
        {
            faces.reset(geom->m_FaceList ? C3DFaceList::Create(geom->m_FaceList)
                                         : creator->GetNewFaceList());
            if (!faces)
                return false;
            *faces = *m_FaceList;
            if (faces->GetSize() != m_FaceList->GetSize())
                return false;
        }
        Held<CDependentChannels> channels(CDependentChannels::Create());
        channels->CopyChannels(*m_Channels, _ChannelAll,
                               _ChannelCopyKeepID | _ChannelCopySkipNoFaceEdit);
        geom->SetPointList(points.release(), true);
        geom->SetFaceList(faces.release(), true);
        geom->SetChannels(channels.release(), true);
        geom->Invalidate(_InvalidateCopied, true);
    }
    return C3DBaseObject::InternalCopy(target, flags, creator);
}

// ---------------------------------------------------------------- storage

void C3DGeomObject::Serialize(CXArchive& ar)
{
    SerializeWith(ar, nullptr);
}

void C3DGeomObject::SerializeWith(CXArchive& ar, const std::function<void(CXArchive&)>& tail)
{
    if (ar.IsStoring())
    {
        C3DBaseObject::Serialize(ar);
        ar << int(m_FaceList ? 1 : 0);
        if (m_FaceList)
        {
            ar.WriteClass(m_FaceList->GetRuntimeClassDescriptor());
            m_FaceList->Serialize(ar);
        }
        ar << int(m_PointList ? 1 : 0);
        if (m_PointList)
        {
            ar.WriteClass(m_PointList->GetXObject()->GetRuntimeClassDescriptor());
            m_PointList->Serialize(ar);
        }
        m_Channels->Serialize(ar);
        ar << m_SmoothAngle << unsigned(m_FaceMode) << unsigned(m_SmoothMode) << m_GlobalUVWChannel
           << m_GlobalVCChannel << m_GlobalVCFactor;
        if (tail)
            tail(ar);
        return;
    }

    // The base part is loaded in place (it cannot be read aside); it is put back when the
    // rest of the archive fails.
    unsigned oldFlags = GetFlags(), oldID = GetObjectID();
    CCustomData oldData(GetCustomData());
    try
    {
        C3DBaseObject::Serialize(ar);
        Held<C3DFaceList> faces;
        Held<C3DPointList> points;
        unsigned highest = kZanNone;
        if (ReadPresence(ar, "face list"))
        {
            faces.reset(ReadListClass<C3DFaceList>(ar, ZAN_RUNTIME_CLASS(C3DFaceList)));
            faces->Load(ar, highest);
        }
        if (ReadPresence(ar, "point list"))
        {
            points.reset(ReadListClass<C3DPointList>(ar, ZAN_RUNTIME_CLASS(C3DPointList)));
            points->Serialize(ar);
        }
        Held<CDependentChannels> channels(CDependentChannels::Create());
        channels->Serialize(ar);
        float smoothAngle, factor;
        unsigned faceMode, smoothMode, uvwChannel, vcChannel;
        ar >> smoothAngle >> faceMode >> smoothMode >> uvwChannel >> vcChannel >> factor;
        if (smoothAngle != -1.0f && !(smoothAngle >= 0.0f && smoothAngle <= kPi))
            BadArchive("smoothing angle " + std::to_string(smoothAngle));
        if (smoothMode > _SmoothModeAngle)
            BadArchive("smoothing mode " + std::to_string(smoothMode));
        if (!std::isfinite(factor))
            BadArchive("vertex-colour factor is not finite");
        if (faces && points)
        {
            // Valid faces must name existing points; excluded ones may name none.
            if (faces->FindFaceOutside(unsigned(points->GetSize()), highest) != kZanNone)
                BadArchive("a valid face names a point outside the point list");
        }
        if (tail)
            tail(ar);
        Release(m_FaceList);
        Release(m_PointList);
        Release(m_Channels);
        m_FaceList = faces.release();
        m_PointList = points.release();
        m_Channels = channels.release();
        m_SmoothAngle = smoothAngle;
        m_FaceMode = _faceModeEnum(faceMode);
        m_SmoothMode = _NormalSmoothMode(smoothMode);
        m_GlobalUVWChannel = uvwChannel;
        m_GlobalVCChannel = vcChannel;
        m_GlobalVCFactor = factor;
        m_PointsBox.Reset();
        m_FacesBox.Reset();
    }
    catch (...)
    {
        RestoreIdentity(oldFlags, oldID, std::move(oldData));
        throw;
    }
}

void C3DCurve::Serialize(CXArchive& ar)
{
    unsigned material = m_MaterialID;
    SerializeWith(ar, [&](CXArchive& a) { ZanSerialize(a, material); });
    m_MaterialID = material;
}

// ---------------------------------------------------------------- C3DObject

bool C3DObject::Init(int pointNbr, int faceNbr, int pointsPerFace, int uvWanted, int uvPointNbr,
                     unsigned uvChannelID)
{
    if (pointNbr < 0 || faceNbr < 0 || pointsPerFace < 0 ||
        unsigned(pointsPerFace) > CFaceList::kMaxCorners || uvPointNbr < 0)
        return false;
    try
    {
        Held<C3DFaceList> faces(C3DFaceList::Create());
        Held<C3DPointList> points(C3DPointList::Create());
        if (!faces->SetSize(faceNbr, pointsPerFace ? pointsPerFace : 3) ||
            !points->SetSize(pointNbr))
            return false;
        if (pointsPerFace == 0)
            faces->SetFacesSize(0);
        Held<CChannel> uv;
        if (uvWanted && uvPointNbr > 0)
        {
            uv.reset(CChannel::Create(_ChannelUVW, uvChannelID));
            if (!uv || !uv->GetPointList()->SetSize(uvPointNbr) ||
                !uv->GetFaceList()->SetSize(*faces))
                return false;
        }
        SetFaceList(faces.release(), true);
        SetPointList(points.release(), true);
        if (uv)
            AddChannel(uv.release());
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    SetFlag(_ObjectEmpty, false);
    Invalidate(_InvalidatePoints | _InvalidateFaces | _InvalidateCopied, true);
    return true;
}
