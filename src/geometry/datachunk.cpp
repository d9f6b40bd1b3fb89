// The chunk set owns its arrays. Every operation that changes the list's length sizes all
// arrays to the same count, so element i of every chunk always belongs to element i of the
// list. Loading builds a new set aside and swaps it in only when the whole archive is valid.
#include <3dzan/geometry/datachunk.h>

#include <3dzan/foundation/xarchive.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

namespace
{
constexpr unsigned kFlagsStored = 0xFF;

int ToInt(unsigned count)
{
    return count > unsigned(INT_MAX) ? INT_MAX : int(count);
}

// Any negative grow factor, passed through the unsigned argument, means the default.
int GrowFactor(unsigned growBy)
{
    return int(growBy) < 0 ? -1 : int(growBy);
}
} // namespace

// A list holds a handful of chunks: the table starts small (a scene of many objects has two
// or three tables per object) and grows as chunks come.
CDataChunk::CDataChunk() : m_Chunks(7) {}

CDataChunk::~CDataChunk()
{
    DeleteAll();
}

CElementArray* CDataChunk::FindArray(unsigned id) const
{
    const DataChunkInfo* info = m_Chunks.Find(id);
    return info ? info->m_Array : nullptr;
}

void CDataChunk::Store(unsigned id, CElementArray* array, unsigned flags)
{
    m_Chunks.Insert(id, DataChunkInfo{array, flags & kFlagsStored});
}

void CDataChunk::SizeArray(CElementArray& array, unsigned count, bool keepPreallocation) const
{
    if (m_PreAllocation && array.IsEmpty())
        array.PreAllocate(ToInt(m_PreAllocation), m_ConstructMode);
    array.SetSize(ToInt(count), keepPreallocation, m_GrowFactor);
}

unsigned CDataChunk::AddDataChunk(unsigned id, CElementMethods* methods, unsigned flags)
{
    if (!methods)
        return m_Chunks.GetCount();
    if (DataChunkInfo* existing = m_Chunks.Find(id))
    {
        if (flags & _ChunkMain)
            m_MainID = id;
        CElementArray* array = existing->m_Array;
        if (!(flags & _ChunkReplace) && array->GetTypeOfElement() == methods->GetType() &&
            array->GetSizeOfElement() == methods->GetSizeof())
        {
            array->SetMethods(methods);
            existing->m_Flags = flags & kFlagsStored;
            UpdateMainChunk();
            return m_Chunks.GetCount();
        }
        RemoveDataChunk(id);
    }
    auto array = std::make_unique<CElementArray>(methods);
    SizeArray(*array, m_ElementCount, true);
    Store(id, array.release(), flags);
    if (flags & _ChunkMain)
        m_MainID = id;
    UpdateMainChunk();
    return m_Chunks.GetCount();
}

bool CDataChunk::RemoveDataChunk(unsigned id)
{
    CElementArray* array = FindArray(id);
    if (!array)
        return false;
    m_Chunks.Remove(id);
    delete array;
    if (id == m_MainID)
    {
        m_MainID = kZanNone;
        m_MainArray = nullptr;
    }
    return true;
}

bool CDataChunk::HasDataChunk(unsigned id) const
{
    return m_Chunks.HasKey(id);
}

const CElementArray* CDataChunk::GetData(unsigned id) const
{
    return FindArray(id);
}

void* CDataChunk::GetData(unsigned id, unsigned index)
{
    CElementArray* array = FindArray(id);
    if (!array || index >= unsigned(array->GetSize()))
        return nullptr;
    return static_cast<uint8_t*>(array->GetData()) + size_t(index) * array->GetSizeOfElement();
}

const void* CDataChunk::GetData(unsigned id, unsigned index) const
{
    return const_cast<CDataChunk*>(this)->GetData(id, index);
}

unsigned CDataChunk::GetSizeOfDataChunk(unsigned id) const
{
    CElementArray* array = FindArray(id);
    return array ? array->GetSizeOfElement() : 0;
}

unsigned CDataChunk::GetChunkFlags(unsigned id) const
{
    const DataChunkInfo* info = m_Chunks.Find(id);
    return info ? info->m_Flags : 0;
}

void CDataChunk::GetNextChunk(unsigned& position, unsigned& id) const
{
    id = m_Chunks.GetNextKey(position);
}

void CDataChunk::SetDataSize(unsigned count, bool keepPreallocation, unsigned growBy)
{
    if (!keepPreallocation)
    {
        m_ConstructMode = false;
        m_PreAllocation = 0;
    }
    m_ElementCount = count;
    m_GrowFactor = GrowFactor(growBy);
    if (m_Chunks.IsEmpty())
        return; // lists without chunks resize often: skip the walk over the table
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
        SizeArray(*m_Chunks.GetValueAt(pos).m_Array, count, keepPreallocation);
}

void CDataChunk::ExpandDataSize(unsigned added)
{
    m_ElementCount += added;
    if (m_Chunks.IsEmpty())
        return;
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
        SizeArray(*m_Chunks.GetValueAt(pos).m_Array, m_ElementCount, true);
}

void CDataChunk::PreAllocate(int count, bool constructMode)
{
    RemoveAll();
    m_PreAllocation = count > 0 ? unsigned(count) : 0;
    m_ConstructMode = constructMode;
}

int CDataChunk::SetGrowFactor(int growBy)
{
    int result = 0;
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
        result = m_Chunks.GetValueAt(pos).m_Array->SetGrowFactor(growBy);
    return result;
}

void CDataChunk::FreeExtra()
{
    m_ConstructMode = false;
    m_PreAllocation = 0;
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
        m_Chunks.GetValueAt(pos).m_Array->FreeExtra();
}

void CDataChunk::RemoveAll()
{
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
        m_Chunks.GetValueAt(pos).m_Array->RemoveAll();
    m_ConstructMode = false;
    m_PreAllocation = 0;
    m_ElementCount = 0;
}

void CDataChunk::DeleteAll()
{
    RemoveAll();
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
        delete m_Chunks.GetValueAt(pos).m_Array;
    m_Chunks.RemoveAll();
    m_MainID = kZanNone;
    m_MainArray = nullptr;
    m_ElementCount = 0;
    m_GrowFactor = -1;
}

bool CDataChunk::Reorder(const unsigned* order, unsigned count, bool flag)
{
    bool all = true;
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
        all = m_Chunks.GetValueAt(pos).m_Array->Reorder(order, count, flag) && all;
    if (all && !flag)
        m_ElementCount = count; // a gather may pick fewer or more elements than it had
    return all;
}

void CDataChunk::UpdateMainChunk()
{
    m_MainArray = FindArray(m_MainID);
}

void CDataChunk::InitDataChunks(const CDataChunk& src, unsigned count)
{
    if (&src == this)
        return;
    DeleteAll();
    for (unsigned pos = src.m_Chunks.GetFirst(); pos != kZanNone;
         pos = src.m_Chunks.NextUsed(pos + 1))
    {
        const DataChunkInfo& info = src.m_Chunks.GetValueAt(pos);
        if (info.m_Flags & _ChunkFollowsCopies)
            Store(src.m_Chunks.GetKeyAt(pos), info.m_Array->Duplicate(false), info.m_Flags);
    }
    m_MainID = src.m_MainID;
    UpdateMainChunk();
    m_ConstructMode = false;
    m_PreAllocation = 0;
    m_GrowFactor = -1;
    SetDataSize(count == kZanNone ? m_ElementCount : count, false, kZanNone);
}

unsigned CDataChunk::CopyData(const CDataChunk& src)
{
    if (&src == this)
        return m_Chunks.GetCount();
    // The chunks the source lacks go first. The others are sized by their copy: sizing them
    // beforehand would construct every element only to overwrite it.
    std::vector<unsigned> stale;
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
        if (!src.HasDataChunk(m_Chunks.GetKeyAt(pos)))
            stale.push_back(m_Chunks.GetKeyAt(pos));
    for (unsigned id : stale)
        RemoveDataChunk(id);
    m_ConstructMode = false;
    m_PreAllocation = 0;
    m_ElementCount = src.m_ElementCount;
    m_GrowFactor = GrowFactor(kZanNone);
    unsigned copied = 0;
    for (unsigned pos = src.m_Chunks.GetFirst(); pos != kZanNone;
         pos = src.m_Chunks.NextUsed(pos + 1))
    {
        unsigned id = src.m_Chunks.GetKeyAt(pos);
        const DataChunkInfo& info = src.m_Chunks.GetValueAt(pos);
        if (CElementArray* mine = FindArray(id))
        {
            if (mine->Copy(*info.m_Array, false))
                ++copied;
        }
        else if (info.m_Flags & _ChunkFollowsCopies)
        {
            Store(id, info.m_Array->Duplicate(true), info.m_Flags);
            ++copied;
        }
    }
    // A copy that failed for memory still leaves its chunk at the common size.
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
    {
        CElementArray& array = *m_Chunks.GetValueAt(pos).m_Array;
        if (unsigned(array.GetSize()) != m_ElementCount)
            SizeArray(array, m_ElementCount, false);
    }
    m_MainID = src.m_MainID;
    UpdateMainChunk();
    return copied;
}

unsigned CDataChunk::CopyData(unsigned dstIndex, unsigned srcIndex, const CDataChunk& src)
{
    if (dstIndex >= m_ElementCount || srcIndex >= src.m_ElementCount)
        return 0;
    unsigned copied = 0;
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
    {
        const CElementArray* from = src.FindArray(m_Chunks.GetKeyAt(pos));
        if (from && m_Chunks.GetValueAt(pos).m_Array->Copy(dstIndex, *from, srcIndex))
            ++copied;
    }
    return copied;
}

unsigned CDataChunk::CopyData(unsigned dstFirst, const CDataChunk& src,
                              const unsigned* srcIndices, unsigned count)
{
    if (&src == this || uint64_t(dstFirst) + count > m_ElementCount || (count && !srcIndices))
        return 0;
    for (unsigned i = 0; i < count; ++i)
        if (srcIndices[i] >= src.m_ElementCount)
            return 0;
    unsigned copied = 0;
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
    {
        const CElementArray* from = src.FindArray(m_Chunks.GetKeyAt(pos));
        if (from && m_Chunks.GetValueAt(pos).m_Array->CopyGather(dstFirst, *from, srcIndices, count))
            ++copied;
    }
    return copied;
}

void CDataChunk::AppendDataChunks(const CDataChunk& src, bool emptyOnly)
{
    if (&src == this)
        return;
    bool added = false;
    for (unsigned pos = src.m_Chunks.GetFirst(); pos != kZanNone;
         pos = src.m_Chunks.NextUsed(pos + 1))
    {
        unsigned id = src.m_Chunks.GetKeyAt(pos);
        const DataChunkInfo& info = src.m_Chunks.GetValueAt(pos);
        if (!(info.m_Flags & _ChunkFollowsCopies) || HasDataChunk(id))
            continue;
        Store(id, info.m_Array->Duplicate(!emptyOnly), info.m_Flags);
        added = true;
    }
    if (added)
    {
        UpdateMainChunk();
        SetDataSize(m_ElementCount, true, kZanNone);
    }
}

void CDataChunk::Swap(CDataChunk& other) noexcept
{
    std::swap(m_ConstructMode, other.m_ConstructMode);
    std::swap(m_PreAllocation, other.m_PreAllocation);
    std::swap(m_ElementCount, other.m_ElementCount);
    std::swap(m_GrowFactor, other.m_GrowFactor);
    std::swap(m_Chunks, other.m_Chunks);
    std::swap(m_MainID, other.m_MainID);
    std::swap(m_MainArray, other.m_MainArray);
}

// Archives list the chunks in the slot order of the table lists used to start with (101
// slots, grown by doubling at three quarters full), so that the bytes written do not depend
// on the size the table has now. Chunks are placed as they come in the present table's
// order; chunks whose slots collide could only come out otherwise if the original table had
// met them in another order.
std::vector<unsigned> CDataChunk::ArchiveOrder() const
{
    const unsigned count = m_Chunks.GetCount();
    size_t slots = 101;
    while (size_t(count) * 4 > slots * 3)
        slots = NextPrime(unsigned(slots * 2 + 1));
    std::vector<unsigned> placed(slots, kZanNone);
    const CHashMethods<unsigned> methods;
    for (unsigned pos = m_Chunks.GetFirst(); pos != kZanNone; pos = m_Chunks.NextUsed(pos + 1))
    {
        size_t i = methods.Hash(m_Chunks.GetKeyAt(pos)) % slots;
        while (placed[i] != kZanNone)
            i = i + 1 == slots ? 0 : i + 1;
        placed[i] = pos;
    }
    placed.erase(std::remove(placed.begin(), placed.end(), kZanNone), placed.end());
    return placed;
}

void CDataChunk::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        ar << m_Chunks.GetCount() << m_ElementCount << unsigned(m_GrowFactor);
        for (unsigned pos : ArchiveOrder())
        {
            const DataChunkInfo& info = m_Chunks.GetValueAt(pos);
            ar << m_Chunks.GetKeyAt(pos) << unsigned(info.m_Flags & kFlagsStored);
            bool derived =
                info.m_Array->GetRuntimeClassDescriptor() != ZAN_RUNTIME_CLASS(CElementArray);
            ar << unsigned(derived ? 1 : 0);
            if (derived)
                ar.WriteClass(info.m_Array->GetRuntimeClassDescriptor());
            info.m_Array->Serialize(ar);
        }
        return;
    }

    // A chunk takes at least its id, flags, marker and the array's own header.
    unsigned chunkCount;
    ar >> chunkCount;
    ar.CheckRemaining(uint64_t(chunkCount) * 16, "data chunks");
    CDataChunk loaded;
    unsigned growFactor;
    ar >> loaded.m_ElementCount >> growFactor;
    loaded.m_GrowFactor = GrowFactor(growFactor);
    for (unsigned i = 0; i < chunkCount; ++i)
    {
        unsigned id, flags, marker;
        ar >> id >> flags >> marker;
        if (flags > kFlagsStored || marker > 1)
            throw CXArchiveException(CXArchiveException::_BadValue,
                                     "data chunk with flags " + std::to_string(flags) +
                                         " and class marker " + std::to_string(marker));
        std::unique_ptr<CElementArray> array;
        if (marker == 1)
        {
            const CXRuntimeClass* cls = ar.ReadClass(ZAN_RUNTIME_CLASS(CElementArray));
            array.reset(cls ? static_cast<CElementArray*>(cls->CreateObject()) : nullptr);
            if (!array)
                throw CXArchiveException(CXArchiveException::_BadClass,
                                         "data chunk array class cannot be created");
        }
        else
            array = std::make_unique<CElementArray>();
        array->Serialize(ar);
        if (unsigned(array->GetSize()) != loaded.m_ElementCount)
            throw CXArchiveException(CXArchiveException::_BadValue,
                                     "data chunk of " + std::to_string(array->GetSize()) +
                                         " elements in a set of " +
                                         std::to_string(loaded.m_ElementCount));
        if (loaded.HasDataChunk(id))
            throw CXArchiveException(CXArchiveException::_BadValue,
                                     "data chunk id " + std::to_string(id) + " appears twice");
        if ((flags & _ChunkMain) && loaded.m_MainID != kZanNone)
            throw CXArchiveException(CXArchiveException::_BadValue, "two main data chunks");
        loaded.Store(id, array.release(), flags);
        if (flags & _ChunkMain)
            loaded.m_MainID = id;
    }
    loaded.UpdateMainChunk();
    Swap(loaded);
}
