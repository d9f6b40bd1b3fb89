// Face lists: the faces live in one record buffer (CFaceStorage), the per-face data in a chunk
// set whose main chunk "FCPR" holds the property word. Two invariants hold after every public
// operation and are what the rest of the library relies on:
//  - every chunk has exactly one element per face, and "FCPR" is the main chunk with elements
//    of at least the list's property size (so a face's flags, and in a C3DFaceList its
//    material, can always be read in place);
//  - every index is non-negative and below the point bound the owner set.
// Operations check their arguments and make what can fail (allocations) before they change
// anything; loading builds the new storage and chunks aside and swaps them in at the end.
#include <3dzan/geometry/facelist.h>

#include <3dzan/foundation/hashmap.h>
#include <3dzan/geometry/elementmethods.h>
#include <3dzan/geometry/pointlist.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace
{
constexpr unsigned kFaceFamily = ZanTag("FACE");
constexpr unsigned kSkipped = _FaceInvalid | _FaceExcluded;
constexpr unsigned kListFlagsStored = _FaceListPersistent;

// Indices are ints: whatever the bound, an index must also be below 2^31.
unsigned Limit(unsigned bound)
{
    return std::min(bound, 0x80000000u);
}

// Whether every index is in [0, limit): negative ones wrap to values >= 2^31 >= limit.
bool AllBelow(const int* indices, size_t count, unsigned limit)
{
    unsigned outside = 0;
    for (size_t i = 0; i < count; ++i)
        outside |= unsigned(unsigned(indices[i]) >= limit);
    return outside == 0;
}

[[noreturn]] void BadArchive(const std::string& what)
{
    throw CXArchiveException(CXArchiveException::_BadValue, what);
}
} // namespace

ZAN_IMPLEMENT_RUNTIME_CLASS(CFaceList, CXObject)

CFaceList::CFaceList(const CFaceList* model, unsigned propertySize)
    : m_Chunks(std::make_unique<CDataChunk>()), m_PropertySize(propertySize)
{
    if (model)
        m_Chunks->InitDataChunks(*model->m_Chunks, kZanNone);
    EnsurePropertyChunk();
}

CFaceList::CFaceList(const CFaceList& src)
    : CXObject(src), CInstanciatedObject(src), m_Faces(src.m_Faces),
      m_Chunks(std::make_unique<CDataChunk>()), m_Stamp(src.m_Stamp), m_Flags(src.m_Flags),
      m_PointBound(src.m_PointBound), m_PropertySize(src.m_PropertySize)
{
    m_Chunks->CopyData(*src.m_Chunks);
    EnsurePropertyChunk();
}

CFaceList::~CFaceList() = default;

void CFaceList::ReleaseFace(CFace* face)
{
    std::unique_ptr<CFace> owned(face);
}

// ---------------------------------------------------------------- property chunk

CElementMethods* CFaceList::NewPropertyMethods() const
{
    if (m_PropertySize >= 8)
        return std::make_unique<C3DFacePropertyMethods>().release();
    return std::make_unique<CFacePropertyMethods>().release();
}

bool CFaceList::IsPropertyMethods(const CElementMethods* methods) const
{
    return methods && methods->GetBaseType() == kFaceFamily &&
           methods->GetSizeof() >= m_PropertySize && methods->GetSizeof() % 4 == 0;
}

// Puts a new "FCPR" chunk of \p methods (a property type of this list) as the main chunk.
// The flags word means the same in every property type, so the faces keep it.
void CFaceList::ReplacePropertyChunk(CElementMethods* methods)
{
    std::vector<unsigned> flags;
    const CElementArray* old = m_Chunks->GetData(kPropertyChunk);
    if (old && old->GetSizeOfElement() >= 4)
    {
        flags.resize(size_t(old->GetSize()));
        for (unsigned i = 0; i < flags.size(); ++i)
            std::memcpy(&flags[i], m_Chunks->GetData(kPropertyChunk, i), 4);
    }
    m_Chunks->AddDataChunk(kPropertyChunk, methods,
                           _ChunkFollowsCopies | _ChunkMain | _ChunkReplace);
    for (unsigned i = 0; i < flags.size(); ++i)
        if (unsigned* property = PropertyAt(i))
            *property = flags[i];
}

void CFaceList::EnsurePropertyChunk()
{
    const CElementArray* chunk = m_Chunks->GetData(kPropertyChunk);
    if (chunk && m_Chunks->GetMainChunkID() == kPropertyChunk &&
        IsPropertyMethods(chunk->GetMethods()))
        return;
    ReplacePropertyChunk(NewPropertyMethods());
}

unsigned* CFaceList::MaterialAt(unsigned index)
{
    // The property chunk is the main one (whose element is at hand without a lookup) in
    // every list but one being rebuilt.
    const unsigned size = m_Chunks->GetMainChunkID() == kPropertyChunk
                              ? m_Chunks->GetSizeOfMainChunk()
                              : m_Chunks->GetSizeOfDataChunk(kPropertyChunk);
    if (size < 8)
        return nullptr;
    unsigned* property = PropertyAt(index);
    return property ? property + 1 : nullptr;
}

const unsigned* CFaceList::MaterialAt(unsigned index) const
{
    return const_cast<CFaceList*>(this)->MaterialAt(index);
}

// Chunk copies between lists whose property types differ reset the property element; the
// flags word is common to every property type, so it is carried over by hand.
void CFaceList::CopyPropertyWord(unsigned dst, const CFaceList& from, unsigned src)
{
    const CElementArray* mine = m_Chunks->GetData(kPropertyChunk);
    const CElementArray* theirs = from.m_Chunks->GetData(kPropertyChunk);
    if (!mine || !theirs || mine->GetTypeOfElement() == theirs->GetTypeOfElement())
        return;
    unsigned* property = PropertyAt(dst);
    const unsigned* source = from.PropertyAt(src);
    if (property && source)
        *property = *source;
}

// ---------------------------------------------------------------- helpers

void CFaceList::MarkChanged()
{
    m_Flags |= _FaceListChanged;
    ++m_Stamp;
}

void CFaceList::MarkInvalidFrom(unsigned first)
{
    for (unsigned i = first; i < m_Faces.GetCount(); ++i)
        if (m_Faces.CountAt(i) < 3)
            if (unsigned* property = PropertyAt(i))
                *property |= _FaceInvalid;
}

void CFaceList::OrFlagsFrom(unsigned first, unsigned flags)
{
    for (unsigned i = first; i < m_Faces.GetCount(); ++i)
        if (unsigned* property = PropertyAt(i))
            *property |= flags;
}

bool CFaceList::AreIndexesInBound(const int* indices, size_t count, unsigned pointCount) const
{
    return AllBelow(indices, count, Limit(std::min(m_PointBound, pointCount)));
}

bool CFaceList::ResizeFace(unsigned index, unsigned count)
{
    if (index >= m_Faces.GetCount() || count > kMaxCorners)
        return false;
    if (m_PointBound == 0 && count > m_Faces.CountAt(index))
        return false; // new corners would hold index 0, which no point answers
    return m_Faces.SetItemCount(index, count) != nullptr;
}

void CFaceList::RemoveCorner(unsigned index, unsigned position)
{
    unsigned count = m_Faces.CountAt(index);
    int* items = m_Faces.ItemsAt(index);
    std::copy(items + position + 1, items + count, items + position);
    m_Faces.SetItemCount(index, count - 1); // shrinking in place cannot fail
}

// ---------------------------------------------------------------- faces and building

bool CFaceList::GetFace(unsigned index, CFace& face)
{
    if (index >= m_Faces.GetCount())
        return false;
    face.m_List = this;
    face.m_Index = index;
    return true;
}

bool CFaceList::Reserve(unsigned faces, uint64_t corners)
{
    if (corners > CFaceStorage::kMaxBytes / sizeof(int))
        return false;
    return m_Faces.Reserve(faces, faces * CFaceStorage::kHeaderBytes + corners * sizeof(int));
}

unsigned CFaceList::AddFace(const int* indices, unsigned count, unsigned pointCount)
{
    if (!indices || count == 0 || count > kMaxCorners ||
        !AreIndexesInBound(indices, count, pointCount))
        return kZanNone;
    unsigned index = m_Faces.AddRecord(indices, count);
    if (index == kZanNone)
        return kZanNone;
    m_Chunks->ExpandDataSize(1);
    if (count < 3)
        MarkInvalidFrom(index);
    MarkChanged();
    return index;
}

unsigned CFaceList::AddFace(const int* indices, unsigned count, const CPointList& points)
{
    return AddFace(indices, count, unsigned(points.GetSize()));
}

bool CFaceList::AddFaces(const int* indices, unsigned faceCount, unsigned cornersPerFace,
                         unsigned pointCount)
{
    if (faceCount == 0)
        return true;
    if (!indices || cornersPerFace == 0 || cornersPerFace > kMaxCorners ||
        !AreIndexesInBound(indices, size_t(faceCount) * cornersPerFace, pointCount))
        return false;
    unsigned first = m_Faces.GetCount();
    if (!m_Faces.AddRecords(indices, faceCount, cornersPerFace))
        return false;
    m_Chunks->ExpandDataSize(faceCount);
    if (cornersPerFace < 3)
        MarkInvalidFrom(first);
    MarkChanged();
    return true;
}

bool CFaceList::AddFaces(const int* indices, const unsigned* counts, unsigned faceCount,
                         unsigned pointCount)
{
    if (faceCount == 0)
        return true;
    if (!indices || !counts)
        return false;
    size_t total = 0;
    for (unsigned i = 0; i < faceCount; ++i)
    {
        if (counts[i] == 0 || counts[i] > kMaxCorners)
            return false;
        total += counts[i];
    }
    if (!AreIndexesInBound(indices, total, pointCount))
        return false;
    unsigned first = m_Faces.GetCount();
    if (!m_Faces.AddRecords(indices, counts, faceCount))
        return false;
    m_Chunks->ExpandDataSize(faceCount);
    MarkInvalidFrom(first);
    MarkChanged();
    return true;
}

bool CFaceList::SetFaceIndexes(unsigned index, const int* indices, unsigned count)
{
    if (index >= m_Faces.GetCount() || count > kMaxCorners || (count && !indices) ||
        !AreIndexesInBound(indices, count, kZanNone))
        return false;
    int* items = m_Faces.SetItemCount(index, count);
    if (!items)
        return false;
    std::copy(indices, indices + count, items);
    SetFaceFlags(index, _FaceInvalid, count < 3);
    return true;
}

// ---------------------------------------------------------------- point bound

bool CFaceList::SetPointBound(unsigned pointCount)
{
    if (FindIndexOutside(pointCount) != kZanNone)
        return false;
    m_PointBound = pointCount;
    return true;
}

bool CFaceList::SetPointBound(const CPointList& points)
{
    return SetPointBound(unsigned(points.GetSize()));
}

unsigned CFaceList::FindIndexOutside(unsigned pointCount) const
{
    unsigned limit = Limit(pointCount);
    unsigned n = m_Faces.GetCount();
    for (unsigned i = 0; i < n; ++i)
        if (!AllBelow(m_Faces.ItemsAt(i), m_Faces.CountAt(i), limit))
            return i;
    return kZanNone;
}

// ---------------------------------------------------------------- sizing

bool CFaceList::SetSize(int count, int itemsPerFace, SetSizeMode mode, int growBy)
{
    if (count < 0 || itemsPerFace < 0 || unsigned(itemsPerFace) > kMaxCorners)
        return false;
    unsigned items = itemsPerFace ? unsigned(itemsPerFace) : m_Faces.GetDefaultItems();
    unsigned old = m_Faces.GetCount();
    if (unsigned(count) > old && items && m_PointBound == 0)
        return false;
    if (!m_Faces.SetCount(unsigned(count), items, mode == _SizeExact))
        return false;
    m_Chunks->SetDataSize(unsigned(count), mode == _SizeKeepStorage, unsigned(growBy));
    if (mode == _SizeExact)
        m_Chunks->FreeExtra();
    if (items < 3)
        MarkInvalidFrom(old);
    if (unsigned(count) != old)
        MarkChanged();
    return true;
}

bool CFaceList::SetSize(int count, const unsigned* counts, int itemsPerFace, int growBy)
{
    if (count < 0 || itemsPerFace < 0 || unsigned(itemsPerFace) > kMaxCorners)
        return false;
    unsigned items = itemsPerFace ? unsigned(itemsPerFace) : m_Faces.GetDefaultItems();
    bool corners = false;
    for (int i = 0; i < count; ++i)
    {
        unsigned n = counts ? counts[i] : items;
        if (n > kMaxCorners)
            return false;
        corners = corners || n;
    }
    if (corners && m_PointBound == 0)
        return false;
    CFaceStorage faces;
    faces.SetDefaultItems(m_Faces.GetDefaultItems());
    bool made = counts ? faces.AddRecords(nullptr, counts, unsigned(count))
                       : faces.AddRecords(nullptr, unsigned(count), items);
    if (!made)
        return false;
    m_Faces.Swap(faces);
    m_Chunks->RemoveAll();
    m_Chunks->SetDataSize(unsigned(count), false, unsigned(growBy));
    MarkInvalidFrom(0);
    MarkChanged();
    return true;
}

bool CFaceList::SetSize(const CFaceList& model, int growBy)
{
    if (model.FindIndexOutside(m_PointBound) != kZanNone)
        return false;
    CFaceStorage faces;
    if (!faces.Copy(model.m_Faces))
        return false;
    faces.SetDefaultItems(m_Faces.GetDefaultItems());
    m_Faces.Swap(faces);
    m_Chunks->RemoveAll();
    m_Chunks->SetDataSize(m_Faces.GetCount(), false, unsigned(growBy));
    MarkInvalidFrom(0);
    MarkChanged();
    return true;
}

bool CFaceList::SetFacesSize(unsigned count)
{
    if (count > kMaxCorners)
        return false;
    unsigned n = m_Faces.GetCount();
    bool grows = false;
    for (unsigned i = 0; i < n && !grows; ++i)
        grows = m_Faces.CountAt(i) < count;
    if (grows && m_PointBound == 0)
        return false;
    if (grows)
    {
        // Every face at once into a new buffer: one allocation, and all or nothing.
        CFaceStorage faces;
        faces.SetDefaultItems(m_Faces.GetDefaultItems());
        if (!faces.AddRecords(nullptr, n, count))
            return false;
        for (unsigned i = 0; i < n; ++i)
            std::copy_n(m_Faces.ItemsAt(i), std::min(m_Faces.CountAt(i), count), faces.ItemsAt(i));
        m_Faces.Swap(faces);
    }
    else
        for (unsigned i = 0; i < n; ++i)
            m_Faces.SetItemCount(i, count); // shrinking in place cannot fail
    SetFacesFlags(_FaceInvalid, count < 3);
    return true;
}

bool CFaceList::SetSizeAndFlags(const CFaceList& model, unsigned flags)
{
    if (!SetSize(model))
        return false;
    OrFlagsFrom(0, flags);
    return true;
}

bool CFaceList::SetSizeAndFlags(int count, unsigned flags)
{
    unsigned old = m_Faces.GetCount();
    if (!SetSize(count, 4))
        return false;
    OrFlagsFrom(old, flags);
    return true;
}

bool CFaceList::ExpandSize(const CFaceList& other)
{
    if (other.FindIndexOutside(m_PointBound) != kZanNone)
        return false;
    unsigned old = m_Faces.GetCount();
    unsigned added = other.m_Faces.GetCount(); // read first: other may be this list
    if (!m_Faces.Append(other.m_Faces))
        return false;
    if (added == 0)
        return true;
    m_Chunks->ExpandDataSize(added);
    MarkInvalidFrom(old);
    MarkChanged();
    return true;
}

bool CFaceList::ExpandSizeAndFlags(const CFaceList& other, unsigned flags)
{
    unsigned old = m_Faces.GetCount();
    if (!ExpandSize(other))
        return false;
    OrFlagsFrom(old, flags);
    return true;
}

bool CFaceList::PreAllocate(int faces, int itemsPerFace, bool constructMode)
{
    if (faces < 0 || itemsPerFace < 0 || unsigned(itemsPerFace) > kMaxCorners)
        return false;
    RemoveAll();
    if (!m_Faces.Reserve(unsigned(faces),
                         uint64_t(faces) * CFaceStorage::RecordBytes(unsigned(itemsPerFace))))
        return false;
    m_Chunks->PreAllocate(faces, constructMode);
    return true;
}

void CFaceList::FreeExtra()
{
    m_Faces.FreeExtra();
    m_Chunks->FreeExtra();
}

void CFaceList::RemoveAll()
{
    DeleteGraphs();
    m_Flags = 0;
    m_Faces.RemoveAll();
    m_Chunks->RemoveAll();
    MarkChanged();
}

// ---------------------------------------------------------------- copies

bool CFaceList::CopyFace(unsigned dst, unsigned src, const CFaceList& from, bool dataOnly)
{
    if (dst >= m_Faces.GetCount() || src >= from.m_Faces.GetCount())
        return false;
    unsigned count = from.m_Faces.CountAt(src);
    if (count == 0)
        return false;
    if (!dataOnly)
    {
        if (!AreIndexesInBound(from.m_Faces.ItemsAt(src), count, kZanNone) ||
            !m_Faces.CopyRecord(dst, from.m_Faces, src))
            return false;
    }
    m_Chunks->CopyData(dst, src, *from.m_Chunks);
    CopyPropertyWord(dst, from, src);
    return true;
}

bool CFaceList::CopyFacesData(unsigned dstFirst, const CFaceList& from,
                              const unsigned* srcFaces, unsigned count)
{
    if (&from == this || uint64_t(dstFirst) + count > m_Faces.GetCount() || (count && !srcFaces))
        return false;
    for (unsigned i = 0; i < count; ++i)
        if (srcFaces[i] >= from.m_Faces.GetCount())
            return false;
    m_Chunks->CopyData(dstFirst, *from.m_Chunks, srcFaces, count);
    const CElementArray* mine = m_Chunks->GetData(kPropertyChunk);
    const CElementArray* theirs = from.m_Chunks->GetData(kPropertyChunk);
    if (mine && theirs && mine->GetTypeOfElement() != theirs->GetTypeOfElement())
        for (unsigned i = 0; i < count; ++i)
            CopyPropertyWord(dstFirst + i, from, srcFaces[i]);
    return true;
}

bool CFaceList::CopyFace(unsigned dst, const CFace& src, bool dataOnly)
{
    return src.m_List && CopyFace(dst, src.m_Index, *src.m_List, dataOnly);
}

bool CFaceList::CopyTo(int index, CSingleFace& face) const
{
    if (index < 0 || unsigned(index) >= m_Faces.GetCount())
        return false;
    face.Init(*this);
    if (!face.m_Storage.CopyRecord(0, m_Faces, unsigned(index)))
        return false;
    face.m_Chunks.CopyData(0, unsigned(index), *m_Chunks);
    return true;
}

bool CFaceList::CopyFrom(int index, const CSingleFace& face)
{
    if (index < 0 || unsigned(index) >= m_Faces.GetCount() || face.m_Storage.GetCount() != 1)
        return false;
    if (!AreIndexesInBound(face.m_Storage.ItemsAt(0), face.m_Storage.CountAt(0), kZanNone) ||
        !m_Faces.CopyRecord(unsigned(index), face.m_Storage, 0))
        return false;
    m_Chunks->CopyData(unsigned(index), 0, face.m_Chunks);
    return true;
}

CFaceList& CFaceList::operator=(const CFaceList& src)
{
    if (&src == this)
        return *this;
    CFaceStorage faces;
    if (!faces.Copy(src.m_Faces))
        return *this;
    m_Chunks->InitDataChunks(*src.m_Chunks, kZanNone);
    m_Chunks->CopyData(*src.m_Chunks);
    EnsurePropertyChunk();
    m_Faces.Swap(faces);
    const CElementArray* mine = m_Chunks->GetData(kPropertyChunk);
    const CElementArray* theirs = src.m_Chunks->GetData(kPropertyChunk);
    if (mine && theirs && mine->GetTypeOfElement() != theirs->GetTypeOfElement())
        for (unsigned i = 0; i < m_Faces.GetCount(); ++i)
            CopyPropertyWord(i, src, i);
    m_Flags = src.m_Flags;
    m_PointBound = src.m_PointBound;
    DeleteGraphs();
    MarkChanged();
    return *this;
}

void CFaceList::Inherit(const CFaceList& src)
{
    if (&src == this)
        return;
    std::vector<uint8_t> properties;
    unsigned size = m_Chunks->GetSizeOfDataChunk(kPropertyChunk);
    unsigned n = m_Faces.GetCount();
    if (n && size)
    {
        properties.resize(size_t(n) * size);
        std::memcpy(properties.data(), m_Chunks->GetMainData(0), properties.size());
    }
    m_Chunks->InitDataChunks(*src.m_Chunks, n);
    EnsurePropertyChunk();
    unsigned now = m_Chunks->GetSizeOfDataChunk(kPropertyChunk);
    for (unsigned i = 0; i < n && size; ++i)
        if (void* property = m_Chunks->GetMainData(i))
            std::memcpy(property, properties.data() + size_t(i) * size, std::min(size, now));
}

// ---------------------------------------------------------------- face flags

void CFaceList::SetFaceFlags(unsigned index, unsigned flags, bool set)
{
    if (unsigned* property = PropertyAt(index))
        *property = set ? (*property | flags) : (*property & ~flags);
}

void CFaceList::SetFacesFlags(unsigned flags, bool set)
{
    SetFacesFlags(0, m_Faces.GetCount(), flags, set);
}

void CFaceList::SetFacesFlags(unsigned first, unsigned last, unsigned flags, bool set)
{
    last = std::min(last, m_Faces.GetCount());
    for (unsigned i = first; i < last; ++i)
        SetFaceFlags(i, flags, set);
}

unsigned CFaceList::GetNumberOfFaces(unsigned mask, bool state) const
{
    unsigned n = 0;
    for (unsigned i = 0; i < m_Faces.GetCount(); ++i)
        n += ((GetFaceFlags(i) & mask) != 0) == state;
    return n;
}

unsigned CFaceList::GetNumberOfFaces(_FACE_PROPERTIES flag, bool state) const
{
    unsigned n = 0;
    for (unsigned i = 0; i < m_Faces.GetCount(); ++i)
        n += ((GetFaceFlags(i) & flag) == unsigned(flag)) == state;
    return n;
}

bool CFaceList::InheritFlags(const CFaceList& src, _FACE_PROPERTIES test, _FACE_PROPERTIES set,
                             bool keep)
{
    if (src.GetSize() != GetSize())
        return false;
    for (unsigned i = 0; i < m_Faces.GetCount(); ++i)
    {
        if (src.IsFaceFlagSet(i, test))
            SetFaceFlags(i, set, true);
        else if (!keep)
            SetFaceFlags(i, set, false);
    }
    return true;
}

bool CFaceList::IsTriangular(_FACE_PROPERTIES flags, bool state) const
{
    for (unsigned i = 0; i < m_Faces.GetCount(); ++i)
    {
        unsigned faceFlags = GetFaceFlags(i);
        if (faceFlags & _FaceInvalid)
            continue;
        if (((faceFlags & flags) == unsigned(flags)) == state && m_Faces.CountAt(i) > 3)
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- editing

void CFaceList::FlipNormals()
{
    for (unsigned i = 0; i < m_Faces.GetCount(); ++i)
        if (!(GetFaceFlags(i) & kSkipped))
        {
            int* items = m_Faces.ItemsAt(i);
            std::reverse(items, items + m_Faces.CountAt(i));
        }
}

bool CFaceList::UpdateIndex(const unsigned* remap, unsigned count, bool skipExcluded)
{
    if (!remap || count == 0)
        return false;
    unsigned limit = Limit(m_PointBound);
    for (unsigned v = 0; v < count; ++v)
        if (remap[v] != kZanNone && remap[v] != v && remap[v] >= limit)
            return false;
    bool changed = false;
    for (unsigned i = 0; i < m_Faces.GetCount(); ++i)
    {
        if (skipExcluded && (GetFaceFlags(i) & kSkipped))
            continue;
        int* items = m_Faces.ItemsAt(i);
        for (unsigned k = 0, n = m_Faces.CountAt(i); k < n; ++k)
        {
            unsigned v = unsigned(items[k]);
            if (v >= count)
                continue;
            unsigned to = remap[v];
            if (to != v && to != kZanNone)
            {
                items[k] = int(to);
                changed = true;
            }
        }
    }
    return changed;
}

bool CFaceList::UpdateIndex(const CXArray<unsigned int, unsigned int>* remap, bool skipExcluded)
{
    return remap && UpdateIndex(remap->GetData(), unsigned(remap->GetSize()), skipExcluded);
}

// The faces are gathered into a new buffer in their new order rather than moved cycle by
// cycle through a held face: the result is the same, the new buffer comes out compact, and
// the chunks are reordered by the same gather in one pass each.
bool CFaceList::ReorderFaces(const unsigned* order, unsigned count, bool inverse)
{
    unsigned n = m_Faces.GetCount();
    if (!order || count == 0 || count != n)
        return false;
    std::vector<unsigned> from(n, kZanNone);
    CBitArray seen(n);
    for (unsigned i = 0; i < n; ++i)
    {
        if (order[i] >= n || seen.GetAt(order[i]))
            return false;
        seen.SetAt(order[i]);
        if (inverse)
            from[order[i]] = i;
        else
            from[i] = order[i];
    }
    CFaceStorage faces;
    if (!m_Faces.GatherInto(faces, from.data(), n) || !m_Chunks->Reorder(from.data(), n, false))
        return false;
    faces.SetDefaultItems(m_Faces.GetDefaultItems());
    m_Faces.Swap(faces);
    MarkChanged();
    return true;
}

void CFaceList::SaveFacesIndex()
{
    m_Chunks->AddDataChunk(kOriginalIndexChunk, std::make_unique<COriginalIndexMethods>().release(),
                           _ChunkFollowsCopies | _ChunkReplace);
    for (unsigned i = 0; i < m_Faces.GetCount(); ++i)
        if (void* slot = m_Chunks->GetData(kOriginalIndexChunk, i))
            std::memcpy(slot, &i, 4);
}

unsigned CFaceList::GetOriginalIndex(unsigned index) const
{
    const void* slot = GetData(kOriginalIndexChunk, index);
    if (!slot || m_Chunks->GetSizeOfDataChunk(kOriginalIndexChunk) < 4)
        return kZanNone;
    unsigned value;
    std::memcpy(&value, slot, 4);
    return value;
}

bool CFaceList::CleanPointsIndex(CFaceList* const* channels, unsigned channelCount)
{
    std::vector<CFaceList*> parallel;
    for (unsigned c = 0; c < channelCount; ++c)
        if (channels && channels[c] && channels[c] != this)
            parallel.push_back(channels[c]);
    auto invalidateChannels = [&](unsigned face)
    {
        for (CFaceList* channel : parallel)
            channel->SetFaceFlags(face, kSkipped, true);
    };

    bool changed = false;
    for (unsigned i = 0; i < m_Faces.GetCount(); ++i)
    {
        if (GetFaceFlags(i) & kSkipped)
            continue;
        unsigned count = m_Faces.CountAt(i);
        const int* items = m_Faces.ItemsAt(i);
        if (count == 3)
        {
            if (items[0] == items[1] || items[1] == items[2] || items[0] == items[2])
            {
                SetFaceFlags(i, _FaceInvalid, true);
                invalidateChannels(i);
                changed = true;
            }
            continue;
        }
        if (count < 3)
            continue;
        unsigned position = 0;
        while (position < count && count >= 3)
        {
            items = m_Faces.ItemsAt(i);
            int index = items[position];
            if (index != items[(position + 1) % count] && index != items[(position + 2) % count])
            {
                ++position;
                continue;
            }
            RemoveCorner(i, position);
            for (CFaceList* channel : parallel)
                if (i < channel->m_Faces.GetCount() && !(channel->GetFaceFlags(i) & _FaceInvalid) &&
                    channel->m_Faces.CountAt(i) > position)
                    channel->RemoveCorner(i, position);
            --count;
            changed = true;
        }
        if (count < 3)
        {
            SetFaceFlags(i, _FaceInvalid, true);
            invalidateChannels(i);
        }
    }
    return changed;
}

bool CFaceList::Clean(bool cleanPoints, CXArray<unsigned int, unsigned int>* remap,
                      CFaceList* const* channels, unsigned channelCount)
{
    bool cornersChanged = cleanPoints && CleanPointsIndex(channels, channelCount);
    unsigned n = m_Faces.GetCount();
    std::vector<unsigned> kept;
    kept.reserve(n);
    for (unsigned i = 0; i < n; ++i)
        if (!(GetFaceFlags(i) & _FaceInvalid))
            kept.push_back(i);
    if (kept.size() == n)
    {
        if (remap)
            remap->Release();
        if (cornersChanged)
            MarkChanged();
        return false;
    }
    if (remap)
    {
        remap->SetSize(int(n));
        std::fill(remap->begin(), remap->end(), kZanNone);
    }
    CFaceStorage faces;
    if (!m_Faces.GatherInto(faces, kept.data(), unsigned(kept.size())) ||
        !m_Chunks->Reorder(kept.data(), unsigned(kept.size()), false))
    {
        if (remap)
            remap->Release();
        return false;
    }
    faces.SetDefaultItems(m_Faces.GetDefaultItems());
    m_Faces.Swap(faces);
    if (remap)
        for (unsigned k = 0; k < kept.size(); ++k)
            (*remap)[int(kept[k])] = k;
    MarkChanged();
    return true;
}

// ---------------------------------------------------------------- chunks and state

unsigned CFaceList::AddDataChunk(unsigned id, CElementMethods* methods)
{
    if (!methods)
        return 0;
    if (id == kPropertyChunk)
    {
        if (!IsPropertyMethods(methods))
        {
            methods->Delete();
            return 0;
        }
        ReplacePropertyChunk(methods);
        return m_Chunks->GetChunksNbr();
    }
    return m_Chunks->AddDataChunk(id, methods, _ChunkFollowsCopies | _ChunkReplace);
}

bool CFaceList::RemoveDataChunk(unsigned id)
{
    return id != kPropertyChunk && m_Chunks->RemoveDataChunk(id);
}

void CFaceList::AppendDataChunks(const CFaceList* src, bool emptyOnly)
{
    if (src && src != this)
        m_Chunks->AppendDataChunks(*src->m_Chunks, emptyOnly);
}

void CFaceList::SetFlag(_FACELIST_PROPERTIES flag, bool set)
{
    if (!set)
    {
        m_Flags &= ~unsigned(flag);
        return;
    }
    m_Flags |= flag;
    if (flag & _FaceListChanged)
        ++m_Stamp;
}

bool CFaceList::UpdateList(const CGeomInfo*)
{
    if (!(m_Flags & _FaceListChanged))
        return false;
    DeleteGraphs();
    m_Flags &= ~unsigned(_FaceListChanged);
    return true;
}

uint32_t CFaceList::GetChecksum(unsigned mask) const
{
    if (!(mask & 0x0C))
        return 0;
    uint32_t h = 0;
    if (mask & 0x04)
        ForEachFace(
            [&](unsigned i, const int* items, unsigned count)
            {
                if (GetFaceFlags(i) & kSkipped)
                    return;
                for (unsigned k = 0; k < count; ++k)
                    h = ZanMix32(uint32_t(items[k]) + h);
            });
    if (mask & 0x08)
        for (unsigned pos = m_Chunks->GetFirstChunk(); pos != kZanNone;)
        {
            unsigned id;
            m_Chunks->GetNextChunk(pos, id);
            uint64_t key = (uint64_t(id) << 32) | m_Chunks->GetData(id)->GetChecksum();
            h += uint32_t(ZanMix64(key));
        }
    return h;
}

// ---------------------------------------------------------------- archive

void CFaceList::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        unsigned count = m_Faces.GetCount();
        ar << int(count) << unsigned(m_Flags & kListFlagsStored) << count;
        m_Faces.Store(ar);
        m_Chunks->Serialize(ar);
        return;
    }

    unsigned highest;
    Load(ar, highest);
}

void CFaceList::Load(CXArchive& ar, unsigned& highest)
{
    int faceCount;
    unsigned flags, records;
    ar >> faceCount >> flags >> records;
    if (faceCount < 0 || unsigned(faceCount) != records)
        BadArchive("face list of " + std::to_string(faceCount) + " faces and " +
                   std::to_string(records) + " face records");
    CFaceStorage faces;
    faces.SetDefaultItems(m_Faces.GetDefaultItems());
    faces.Load(ar, records, &highest);
    unsigned limit = Limit(m_PointBound);
    if (highest >= limit)
        for (unsigned i = 0; i < records; ++i)
            if (!AllBelow(faces.ItemsAt(i), faces.CountAt(i), limit))
                BadArchive("face " + std::to_string(i) + " has an index outside the " +
                           std::to_string(m_PointBound) + " points it may use");
    auto chunks = std::make_unique<CDataChunk>();
    chunks->Serialize(ar);
    if (chunks->GetDataSize() != records)
        BadArchive("face data chunks of " + std::to_string(chunks->GetDataSize()) +
                   " elements for " + std::to_string(records) + " faces");
    const CElementArray* property = chunks->GetData(kPropertyChunk);
    if (chunks->GetMainChunkID() != kPropertyChunk || !property ||
        !IsPropertyMethods(property->GetMethods()))
        BadArchive("face list without a face property chunk of " + std::to_string(m_PropertySize) +
                   " bytes");
    m_Faces.Swap(faces);
    m_Chunks.swap(chunks);
    DeleteGraphs(); // they describe the faces just replaced
    m_Flags = flags;
    ++m_Stamp;
}

unsigned CFaceList::FindFaceOutside(unsigned pointNbr, unsigned highest) const
{
    if (highest < pointNbr)
        return kZanNone;
    const unsigned limit = Limit(pointNbr);
    for (unsigned i = 0; i < m_Faces.GetCount(); ++i)
        if (!(GetFaceFlags(i) & kSkipped) && !AllBelow(m_Faces.ItemsAt(i), m_Faces.CountAt(i), limit))
            return i;
    return kZanNone;
}

// ---------------------------------------------------------------- typed lists

ZAN_IMPLEMENT_DYNCREATE(C3DFaceList, CFaceList)

C3DFaceList::C3DFaceList(const CFaceList* model) : CFaceList(model, 8) {}

C3DFaceList::~C3DFaceList() = default;

C3DFaceList* C3DFaceList::Create(const CFaceList* model)
{
    return std::make_unique<C3DFaceList>(model).release();
}

CFace* C3DFaceList::CreateFace()
{
    return std::make_unique<C3DFace>().release();
}

unsigned C3DFaceList::GetFaceMaterial(unsigned index) const
{
    const unsigned* material = MaterialAt(index);
    if (!material || (GetFaceFlags(index) & kSkipped))
        return kZanNone;
    return *material;
}

bool C3DFaceList::SetFaceMaterial(unsigned index, unsigned materialID)
{
    unsigned* material = MaterialAt(index);
    if (!material)
        return false;
    *material = materialID;
    return true;
}

unsigned C3DFaceList::GetBackFaceMaterial(unsigned index) const
{
    const void* slot = GetData(kBackFaceChunk, index);
    if (!slot || GetSizeOfData(kBackFaceChunk) < 4)
        return kZanNone;
    unsigned value;
    std::memcpy(&value, slot, 4);
    return value;
}

bool C3DFaceList::SetBackFaceMaterial(unsigned index, unsigned materialID)
{
    if (index >= unsigned(GetSize()))
        return false;
    if (GetSizeOfData(kBackFaceChunk) < 4)
        AddDataChunk(kBackFaceChunk, std::make_unique<CBackFaceMaterialMethods>().release());
    void* slot = GetData(kBackFaceChunk, index);
    if (!slot)
        return false;
    std::memcpy(slot, &materialID, 4);
    return true;
}

unsigned C3DFaceList::ReplaceMaterial(unsigned oldID, unsigned newID)
{
    unsigned replaced = 0;
    bool back = GetSizeOfData(kBackFaceChunk) >= 4;
    for (unsigned i = 0; i < unsigned(GetSize()); ++i)
    {
        unsigned* material = MaterialAt(i);
        if (material && *material == oldID)
        {
            *material = newID;
            ++replaced;
        }
        void* slot = back ? GetData(kBackFaceChunk, i) : nullptr;
        unsigned value;
        if (slot && (std::memcpy(&value, slot, 4), value == oldID))
        {
            std::memcpy(slot, &newID, 4);
            ++replaced;
        }
    }
    return replaced;
}

#define ZAN_IMPLEMENT_CHANNEL_FACE_LIST(ClassName, FaceClass)                                      \
    ZAN_IMPLEMENT_DYNCREATE(ClassName, CFaceList)                                                  \
    ClassName::ClassName(const CFaceList* model) : CFaceList(model, 4) {}                          \
    ClassName::~ClassName() = default;                                                             \
    ClassName* ClassName::Create(const CFaceList* model)                                           \
    {                                                                                              \
        return std::make_unique<ClassName>(model).release();                                       \
    }                                                                                              \
    CFace* ClassName::CreateFace()                                                                 \
    {                                                                                              \
        return std::make_unique<FaceClass>().release();                                            \
    }

ZAN_IMPLEMENT_CHANNEL_FACE_LIST(CUVWFaceList, CUVWFace)
ZAN_IMPLEMENT_CHANNEL_FACE_LIST(CVCFaceList, CVCFace)
ZAN_IMPLEMENT_CHANNEL_FACE_LIST(CWeightFaceList, CWeightFace)
ZAN_IMPLEMENT_CHANNEL_FACE_LIST(CNormalFaceList, CNormalFace)
