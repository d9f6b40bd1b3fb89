// Point lists: an element array of points with data chunks kept parallel to it.
//
// Every operation that changes the number of points does the points first, because that is
// the step that can fail for want of memory or for a bad argument and it changes nothing when
// it fails; the chunks then follow with the same arguments. Loading builds the chunks and the
// points aside and swaps them in only after both were read and checked against each other, so
// a malformed archive leaves the list as it was.
//
// Loops over the points (flags, statistics, checksums) read them in place at the element
// stride with non-virtual calls: the element array keeps them contiguous.
#include <3dzan/foundation/bitarray.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>

#include <3dzan/foundation/xarchive.h>
#include <3dzan/geometry/elementmethods.h>

#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace
{
constexpr unsigned kOriginalIndexChunk = ZanTag("POOI");
constexpr unsigned kOriginalIndexType = ZanTag("ORIN");
// The flags the list-level chunk wrappers give: follows copies, replace a mismatching chunk.
constexpr unsigned kListChunkFlags = _ChunkFollowsCopies | _ChunkReplace;

unsigned ChunkGrowBy(int growBy)
{
    return growBy < 0 ? kZanNone : unsigned(growBy);
}

// The bits of a float for checksums; a zero of either sign counts 0.
uint32_t FloatBits(float value)
{
    if (value == 0.0f)
        return 0;
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The value part of a typed list's checksum plus the base's flags part.
template <class LIST, class TERM> uint32_t TypedChecksum(const LIST& list, unsigned mask, TERM term)
{
    uint32_t h = 0;
    if (mask & CPointList::kChecksumValues)
    {
        auto points = list.GetPointView();
        for (size_t i = 0; i < points.GetCount(); ++i)
        {
            const auto& point = points[i];
            if (point.GetFlags() & _PointInvalid)
                continue;
            h = ZanMix32(uint32_t(i) + h) + term(point);
        }
    }
    return h + list.CPointList::GetChecksum(mask);
}

CPointMethods* SharedMethods(const CPointList* model)
{
    if (!model || !model->GetMethods())
        return nullptr;
    model->GetMethods()->AddRef();
    return static_cast<CPointMethods*>(model->GetMethods());
}
} // namespace

// ================================================================ CPointList

ZAN_IMPLEMENT_DYNCREATE(CPointList, CElementArray)

CPointList::CPointList(CPointList* model) : CPointList(SharedMethods(model), model) {}

CPointList::CPointList(CPointMethods* methods, CPointList* model)
    : CElementArray(methods), m_Chunks(std::make_unique<CDataChunk>())
{
    if (model)
        m_Chunks->InitDataChunks(model->Chunks(), kZanNone);
}

CPointList::CPointList(const CPointList& src)
    : CElementArray(src), CInstanciatedObject(), m_Chunks(std::make_unique<CDataChunk>()),
      m_ChangedStamp(src.m_ChangedStamp), m_Flags(src.m_Flags)
{
    m_Chunks->CopyData(src.Chunks());
}

CPointList::~CPointList() = default;

CDataChunk& CPointList::Chunks() const
{
    if (m_Chunks->GetDataSize() != unsigned(GetSize()))
        m_Chunks->SetDataSize(unsigned(GetSize()), true, kZanNone);
    return *m_Chunks;
}

CPointList* CPointList::FromXObject(CXObject* object)
{
    if (!object || !object->IsKindOf(ZAN_RUNTIME_CLASS(CPointList)))
        return nullptr;
    return static_cast<CPointList*>(object);
}

// ---------------------------------------------------------------- size and storage

bool CPointList::SetSize(int newSize, bool keepPreAllocation, int growBy)
{
    int oldSize = GetSize();
    if (!CElementArray::SetSize(newSize, keepPreAllocation, growBy))
        return false;
    // Without chunks the set's count is left behind: walking an empty set still scans its table,
    // which would cost more than the rest of adding a point. Chunks() catches up.
    if (m_Chunks->GetChunksNbr() != 0)
        m_Chunks->SetDataSize(unsigned(newSize), keepPreAllocation, ChunkGrowBy(growBy));
    if (newSize != oldSize)
        MarkChanged();
    return true;
}

bool CPointList::PreAllocate(int count, bool constructMode)
{
    RemoveAll();
    if (!CElementArray::PreAllocate(count, constructMode))
        return false;
    m_Chunks->PreAllocate(count, constructMode);
    return true;
}

void CPointList::RemoveAll()
{
    ++m_ChangedStamp;
    m_Flags = 0;
    m_Chunks->RemoveAll();
    CElementArray::RemoveAll();
}

void CPointList::FreeExtra()
{
    m_Chunks->FreeExtra();
    CElementArray::FreeExtra();
}

int CPointList::SetGrowFactor(int growBy)
{
    m_Chunks->SetGrowFactor(growBy);
    return CElementArray::SetGrowFactor(growBy);
}

bool CPointList::Reorder(const unsigned* order, unsigned count, bool scatter)
{
    if (!CElementArray::Reorder(order, count, scatter))
        return false;
    // The chunks check the order as the points did, so only a shortage of memory stops them;
    // their length then still has to follow the points.
    if (!m_Chunks->Reorder(order, count, scatter))
        m_Chunks->SetDataSize(unsigned(GetSize()), true, kZanNone);
    return true;
}

// ---------------------------------------------------------------- points

int CPointList::Add(const CPt* point)
{
    int index = GetSize();
    if (index == INT_MAX)
        return -1;
    // A point of this list is found again after its block may have moved.
    auto base = reinterpret_cast<uintptr_t>(GetDataPtr());
    auto at = reinterpret_cast<uintptr_t>(point);
    bool inside = point && base && at >= base && at < base + size_t(index) * GetSizeOfElement();
    uintptr_t offset = inside ? at - base : 0;
    if (!SetSize(index + 1))
        return -1;
    if (inside)
        point = reinterpret_cast<const CPt*>(reinterpret_cast<uintptr_t>(GetDataPtr()) + offset);
    if (point)
        *PointAt(size_t(index)) = *point;
    return index;
}

int CPointList::Append(const CPointList& src)
{
    int first = GetSize();
    int count = src.GetSize();
    if (count == 0)
        return first;
    if (CElementArray::Append(src) < 0)
        return -1;
    m_Chunks->AppendDataChunks(src.Chunks(), true);
    m_Chunks->SetDataSize(unsigned(first + count), true, kZanNone);
    // Chunk values of the appended points, one range per chunk both lists have.
    for (unsigned pos = m_Chunks->GetFirstChunk(); pos != kZanNone;)
    {
        unsigned id;
        m_Chunks->GetNextChunk(pos, id);
        const CElementArray* from = src.m_Chunks->GetData(id);
        if (!from)
            continue;
        CElementMethods* methods = m_Chunks->GetData(id)->GetMethods();
        const CElementMethods* fromMethods = from->GetMethods();
        auto* dst = static_cast<uint8_t*>(m_Chunks->GetData(id, unsigned(first)));
        auto* values = static_cast<const uint8_t*>(src.m_Chunks->GetData(id, 0));
        if (!dst || !values)
            continue;
        if (methods->GetType() == fromMethods->GetType() &&
            methods->GetSizeof() == fromMethods->GetSizeof())
            methods->CopyElements(dst, values, size_t(count));
        else
            for (int i = 0; i < count; ++i)
                methods->CopyElement(dst + size_t(i) * methods->GetSizeof(), methods,
                                     values + size_t(i) * fromMethods->GetSizeof(), fromMethods);
    }
    MarkChanged();
    return first;
}

bool CPointList::CopyPoint(int dst, int src)
{
    if (dst == src)
        return true;
    if (dst < 0 || src < 0 || dst >= GetSize() || src >= GetSize())
        return false;
    SetAt(dst, GetAt(src));
    m_Chunks->CopyData(unsigned(dst), unsigned(src), *m_Chunks);
    return true;
}

bool CPointList::CopyPoint(int dst, int src, const CPointList& from)
{
    if (&from == this)
        return CopyPoint(dst, src);
    if (dst < 0 || src < 0 || dst >= GetSize() || src >= from.GetSize())
        return false;
    CElementArray::Copy(unsigned(dst), from, unsigned(src));
    m_Chunks->CopyData(unsigned(dst), unsigned(src), from.Chunks());
    return true;
}

void CPointList::SetPointsFlags(unsigned bits, bool set)
{
    for (size_t i = 0, n = size_t(GetSize()); i < n; ++i)
        PointAt(i)->SetFlags(bits, set);
}

int CPointList::GetNumberOfPoints(unsigned mask, bool state) const
{
    int count = 0;
    for (size_t i = 0, n = size_t(GetSize()); i < n; ++i)
        count += ((PointAt(i)->GetFlags() & mask) != 0) == state;
    return count;
}

int CPointList::GetNumberOfPoints(_POINT_PROPERTIES flag, bool state) const
{
    int count = 0;
    for (size_t i = 0, n = size_t(GetSize()); i < n; ++i)
        count += PointAt(i)->IsFlagSet(flag) == state;
    return count;
}

// ---------------------------------------------------------------- flags and stamp

void CPointList::SetFlag(_POINTLIST_PROPERTIES flag, bool set)
{
    if (!set)
    {
        m_Flags &= ~unsigned(flag);
        return;
    }
    m_Flags |= flag;
    if (flag & _PointListChanged)
        ++m_ChangedStamp;
}

void CPointList::MarkChanged()
{
    SetFlag(_PointListChanged, true);
}

bool CPointList::UpdateList(const CGeomInfo*)
{
    bool changed = IsFlagSet(_PointListChanged);
    SetFlag(_PointListChanged, false);
    return changed;
}

// ---------------------------------------------------------------- chunks

unsigned CPointList::AddDataChunk(unsigned id, CElementMethods* methods)
{
    return Chunks().AddDataChunk(id, methods, kListChunkFlags);
}

bool CPointList::RemoveDataChunk(unsigned id)
{
    return m_Chunks->RemoveDataChunk(id);
}

void CPointList::AppendDataChunks(CPointList* src, bool emptyOnly)
{
    if (src)
        Chunks().AppendDataChunks(src->Chunks(), emptyOnly);
}

void* CPointList::GetData(unsigned id, unsigned index)
{
    return m_Chunks->GetData(id, index);
}

const void* CPointList::GetData(unsigned id, unsigned index) const
{
    return m_Chunks->GetData(id, index);
}

unsigned CPointList::GetSizeOfData(unsigned id) const
{
    return m_Chunks->GetSizeOfDataChunk(id);
}

unsigned CPointList::GetDataChunkNbr() const
{
    return m_Chunks->GetChunksNbr();
}

void CPointList::SavePointsIndex()
{
    Chunks().AddDataChunk(kOriginalIndexChunk, new COriginalIndexMethods, kListChunkFlags);
    auto* indices = static_cast<unsigned*>(m_Chunks->GetData(kOriginalIndexChunk, 0));
    for (unsigned i = 0, n = unsigned(GetSize()); indices && i < n; ++i)
        indices[i] = i;
}

unsigned CPointList::GetOriginalIndex(unsigned index) const
{
    const CElementArray* chunk = m_Chunks->GetData(kOriginalIndexChunk);
    if (!chunk || chunk->GetTypeOfElement() != kOriginalIndexType)
        return kZanNone;
    const void* value = m_Chunks->GetData(kOriginalIndexChunk, index);
    return value ? *static_cast<const unsigned*>(value) : kZanNone;
}

// ---------------------------------------------------------------- Clean

void CPointList::SetInvalidPoints(const CFaceList& faces, bool keep)
{
    int count = GetSize();
    if (!keep)
        for (int i = 0; i < count; ++i)
            PointAt(size_t(i))->SetFlags(_PointInvalid, false);
    CBitArray unused(unsigned(count), true);
    faces.ForEachFace(
        [&](unsigned face, const int* indices, unsigned corners)
        {
            if (faces.GetFaceFlags(face) & (_FaceInvalid | _FaceExcluded))
                return;
            for (unsigned c = 0; c < corners; ++c)
                if (indices[c] >= 0 && indices[c] < count)
                    unused.ClearAt(unsigned(indices[c]));
        });
    for (unsigned i = unused.FindNextSet(); i != kZanNone; i = unused.FindNextSet(i + 1))
        PointAt(i)->SetFlags(_PointInvalid, true);
}

bool CPointList::Clean(CFaceList* faces, CXArray<unsigned int, unsigned int>* remap)
{
    if (faces)
        SetInvalidPoints(*faces, true);
    int count = GetSize();
    std::vector<unsigned> kept;
    try
    {
        kept.reserve(size_t(count));
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    for (int i = 0; i < count; ++i)
        if (!PointAt(size_t(i))->IsFlagSet(_PointInvalid))
            kept.push_back(unsigned(i));
    if (int(kept.size()) == count)
    {
        if (remap)
            remap->Release();
        return false;
    }
    // The valid points are gathered toward the front in their order, with their chunk values:
    // one pass of moves instead of a copy through the virtual assignment per point.
    if (!kept.empty() && !Reorder(kept.data(), unsigned(kept.size()), false))
        return false;
    if (remap)
    {
        remap->SetSize(count);
        std::fill(remap->begin(), remap->end(), kZanNone);
        for (size_t i = 0; i < kept.size(); ++i)
            (*remap)[int(kept[i])] = unsigned(i);
    }
    MarkChanged();
    if (kept.empty())
        RemoveAll();
    else
        FreeExtra();
    return true;
}

// ---------------------------------------------------------------- copies

uint32_t CPointList::GetChecksum(unsigned mask) const
{
    if (!(mask & kChecksumFlags))
        return 0;
    uint32_t h = 0;
    for (size_t i = 0, n = size_t(GetSize()); i < n; ++i)
    {
        unsigned flags = PointAt(i)->GetFlags();
        if (flags & _PointInvalid)
            continue;
        h = ZanMix32(uint32_t(i) + h) + 16u * flags;
    }
    return h;
}

void CPointList::Inherit(const CPointList& src)
{
    m_Flags = src.m_Flags;
    if (&src != this)
        m_Chunks->InitDataChunks(src.Chunks(), unsigned(GetSize()));
}

CPointList& CPointList::operator=(const CPointList& src)
{
    if (&src == this)
        return *this;
    if (!CElementArray::Copy(src, false))
        throw std::bad_alloc();
    Inherit(src);
    m_Chunks->CopyData(src.Chunks());
    MarkChanged();
    return *this;
}

CPointList* CPointList::Duplicate(bool withElements) const
{
    CPointList* copy = FromXObject(GetRuntimeClassDescriptor()->CreateObject());
    if (!copy)
        return nullptr;
    if (!copy->GetMethods() && GetMethods())
    {
        GetMethods()->AddRef();
        copy->SetMethods(GetMethods());
    }
    copy->SetGrowFactor(GetGrowFactor());
    try
    {
        if (withElements)
            *copy = *this;
        else
            copy->Inherit(*this);
    }
    catch (const std::bad_alloc&)
    {
        copy->Delete();
        return nullptr;
    }
    return copy;
}

// ---------------------------------------------------------------- archive

void CPointList::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        Chunks().Serialize(ar);
        CElementArray::Serialize(ar);
        return;
    }

    auto chunks = std::make_unique<CDataChunk>();
    chunks->Serialize(ar);
    CElementArray points;
    points.SetGrowFactor(GetGrowFactor());
    points.Serialize(ar);

    const CElementMethods* loaded = points.GetMethods();
    if (loaded && !loaded->IsKindOf(ZAN_RUNTIME_CLASS(CPointMethods)))
        throw CXArchiveException(CXArchiveException::_BadClass,
                                 "point list whose elements are not points");
    if (const CElementMethods* mine = GetMethods())
        if (!loaded || loaded->GetType() != mine->GetType() ||
            loaded->GetSizeof() != mine->GetSizeof())
            throw CXArchiveException(CXArchiveException::_BadValue,
                                     "point list of another point type");
    if (chunks->GetDataSize() != unsigned(points.GetSize()))
        throw CXArchiveException(CXArchiveException::_BadValue,
                                 "data chunks of " + std::to_string(chunks->GetDataSize()) +
                                     " elements in a list of " + std::to_string(points.GetSize()) +
                                     " points");

    RemoveAll();
    m_Chunks.swap(chunks);
    CElementArray::operator=(std::move(points));
}

// ================================================================ typed lists

#define ZAN_IMPLEMENT_POINT_LIST(ClassName, Methods)                                               \
    ZAN_IMPLEMENT_DYNCREATE(ClassName, CPointList)                                                 \
    ClassName::ClassName(CPointList* model) : CTypedPointList(new Methods, model) {}               \
    ClassName::~ClassName() = default;

ZAN_IMPLEMENT_POINT_LIST(C2DPointList, C2DPointMethods)
ZAN_IMPLEMENT_POINT_LIST(C2DPointExtList, C2DPointExtMethods)
ZAN_IMPLEMENT_POINT_LIST(C3DPointList, C3DPointMethods)
ZAN_IMPLEMENT_POINT_LIST(C3DVectorList, C3DVectorMethods)
ZAN_IMPLEMENT_POINT_LIST(CUVWPointList, CUVWPointMethods)
ZAN_IMPLEMENT_POINT_LIST(CVCPointList, CVCPointMethods)
ZAN_IMPLEMENT_POINT_LIST(CWeightPointList, CWeightPointMethods)

uint32_t C2DPointList::GetChecksum(unsigned mask) const
{
    return CPointList::GetChecksum(mask);
}

uint32_t C2DPointExtList::GetChecksum(unsigned mask) const
{
    return CPointList::GetChecksum(mask);
}

uint32_t C3DPointList::GetChecksum(unsigned mask) const
{
    return TypedChecksum(*this, mask,
                         [](const Point& p)
                         { return FloatBits(p.m_X) + FloatBits(p.m_Y) + FloatBits(p.m_Z); });
}

uint32_t C3DVectorList::GetChecksum(unsigned mask) const
{
    return TypedChecksum(*this, mask,
                         [](const Point& p)
                         { return FloatBits(p.m_X) + FloatBits(p.m_Y) + FloatBits(p.m_Z); });
}

uint32_t CUVWPointList::GetChecksum(unsigned mask) const
{
    return TypedChecksum(*this, mask,
                         [](const Point& p)
                         { return FloatBits(p.m_U) + FloatBits(p.m_V) + FloatBits(p.m_W); });
}

uint32_t CVCPointList::GetChecksum(unsigned mask) const
{
    return TypedChecksum(*this, mask,
                         [](const Point& p)
                         {
                             const CRGBColor& c = p.GetColor();
                             return 16u * (uint32_t(c.m_Red) + c.m_Green + c.m_Blue + c.m_Alpha);
                         });
}

uint32_t CWeightPointList::GetChecksum(unsigned mask) const
{
    return TypedChecksum(*this, mask, [](const Point& p) { return FloatBits(p.m_Weight); });
}
