// The edge-to-face map and the query helper.
//
// The map is a flat open-addressing table with linear probing. A slot's home is the edge's
// 32-bit hash scaled to the table size (a multiply and a shift, Lemire's "fast range"), so
// the table can be sized to exactly what the capacity needs instead of a power of two. Most
// edges have one or two faces, stored in the slot; an edge with more moves its faces to one
// shared pool, where a list that outgrows its room is copied to the end (the old entries die
// until the pool is compacted). Inserting millions of edges in mesh order would cost a cache
// miss per side on a table larger than the caches; CBulkLoader first partitions the sides by
// band of slots (a counting sort on the top bits of the hash, the idea of radix-partitioned
// hash joins) so that the insertions then sweep the table band by band.
#include <3dzan/geometry/topology.h>

#include "largeblocks.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace
{
constexpr unsigned kMaxCapacity = 1u << 30;
constexpr unsigned kMinCapacity = 8;

// Slots for \p capacity edges at three quarters full, plus one so a probe always ends.
size_t SlotsFor(unsigned capacity)
{
    return size_t(capacity) + size_t(capacity) / 3 + 1;
}
} // namespace

// ---------------------------------------------------------------- CAssociationMap

CAssociationMap::CAssociationMap(unsigned capacity)
{
    if (!Rebuild(std::min(std::max(capacity, kMinCapacity), kMaxCapacity), false))
        throw std::bad_alloc();
}

CAssociationMap::CAssociationMap(const CAssociationMap& src) : CAssociationMap(0)
{
    *this = src;
}

CAssociationMap& CAssociationMap::operator=(const CAssociationMap& src)
{
    if (&src == this)
        return *this;
    CAssociationMap copy(src.m_Count);
    src.ForEach(
        [&](const C3DEdge& edge, const int* faces, unsigned count)
        {
            for (unsigned k = 0; k < count; ++k)
                if (!copy.Associate(edge, faces[k]))
                    throw std::bad_alloc();
        });
    std::swap(m_Slots, copy.m_Slots);
    std::swap(m_Size, copy.m_Size);
    std::swap(m_Capacity, copy.m_Capacity);
    std::swap(m_Count, copy.m_Count);
    std::swap(m_Associations, copy.m_Associations);
    m_Pool.swap(copy.m_Pool);
    std::swap(m_PoolDead, copy.m_PoolDead);
    return *this;
}

CAssociationMap::~CAssociationMap() = default;

bool CAssociationMap::InitHashTable(unsigned capacity)
{
    if (capacity > kMaxCapacity)
        return false;
    return Rebuild(std::max(capacity, kMinCapacity), false);
}

bool CAssociationMap::Reserve(unsigned capacity)
{
    if (capacity > kMaxCapacity)
        return false;
    return capacity <= m_Capacity || Rebuild(capacity, true);
}

void CAssociationMap::RemoveAll()
{
    if (m_Count)
        std::memset(static_cast<void*>(m_Slots.get()), 0, m_Size * sizeof(Slot));
    m_Count = 0;
    m_Associations = 0;
    m_Pool.clear();
    m_PoolDead = 0;
}

// A new table of the slots \p capacity needs; with \p keep the edges move into it (their
// pooled faces are compacted on the way), otherwise the map becomes empty.
bool CAssociationMap::Rebuild(unsigned capacity, bool keep)
{
    capacity = std::max(capacity, keep ? m_Count : 0u);
    size_t size = SlotsFor(capacity);
    if (size > SIZE_MAX / sizeof(Slot))
        return false;
    std::unique_ptr<Slot[], FreeDeleter> slots(
        static_cast<Slot*>(zan_detail::AllocateZeroed(size * sizeof(Slot))));
    if (!slots)
        return false;
    std::vector<int> pool;
    if (keep && m_Pool.size() > m_PoolDead)
    {
        try
        {
            pool.reserve(m_Pool.size() - m_PoolDead);
        }
        catch (const std::bad_alloc&)
        {
            return false;
        }
    }
    if (keep)
    {
        for (size_t i = 0; i < m_Size; ++i)
        {
            Slot slot = m_Slots[i];
            if (!slot.m_Count)
                continue;
            if (slot.m_Capacity)
            {
                const int* faces = m_Pool.data() + uint32_t(slot.m_Data[0]);
                slot.m_Data[0] = int(uint32_t(pool.size()));
                pool.insert(pool.end(), faces, faces + slot.m_Capacity);
            }
            size_t j = size_t((uint64_t(slot.m_Edge.Hash()) * size) >> 32);
            while (slots[j].m_Count)
                if (++j == size)
                    j = 0;
            slots[j] = slot;
        }
    }
    else
    {
        m_Count = 0;
        m_Associations = 0;
    }
    m_Slots = std::move(slots);
    m_Size = size;
    m_Capacity = capacity;
    m_Pool.swap(pool);
    m_PoolDead = 0;
    return true;
}

unsigned CAssociationMap::FindSlot(const C3DEdge& edge) const
{
    return FindSlot(edge, edge.Hash());
}

unsigned CAssociationMap::FindSlot(const C3DEdge& edge, unsigned hash) const
{
    size_t i = HomeOf(hash);
    while (m_Slots[i].m_Count)
    {
        if (m_Slots[i].m_Edge == edge)
            return unsigned(i);
        if (++i == m_Size)
            i = 0;
    }
    return kZanNone;
}

unsigned CAssociationMap::NextUsed(size_t from) const
{
    for (size_t i = from; i < m_Size; ++i)
        if (m_Slots[i].m_Count)
            return unsigned(i);
    return kZanNone;
}

bool CAssociationMap::Associate(const C3DEdge& edge, int face)
{
    return AssociateHashed(edge, edge.Hash(), face);
}

// Gives \p slot's faces room for one more: inline faces move to the pool, pooled ones to a
// list twice as long at the pool's end.
bool CAssociationMap::Grow(Slot& slot)
{
    unsigned count = slot.m_Count;
    if (count >= kMaxFacesPerEdge)
        return false;
    unsigned room = std::min<unsigned>(std::max(4u, count * 2), kMaxFacesPerEdge);
    if (m_Pool.size() + room > 0xFFFFFFFFu)
        return false;
    const int* old = FacesOf(slot);
    int keepInline[2] = {slot.m_Data[0], slot.m_Data[1]};
    if (!slot.m_Capacity)
        old = keepInline;
    size_t oldAt = slot.m_Capacity ? uint32_t(slot.m_Data[0]) : 0;
    size_t at = m_Pool.size();
    try
    {
        m_Pool.resize(at + room);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    if (slot.m_Capacity)
    {
        old = m_Pool.data() + oldAt; // the pool may have moved
        m_PoolDead += slot.m_Capacity;
    }
    std::copy(old, old + count, m_Pool.data() + at);
    slot.m_Capacity = uint16_t(room);
    slot.m_Data[0] = int(uint32_t(at));
    slot.m_Data[1] = 0;
    return true;
}

bool CAssociationMap::AssociateHashed(const C3DEdge& edge, unsigned hash, int face)
{
    if (face < 0)
        return false;
    size_t i = HomeOf(hash);
    while (m_Slots[i].m_Count)
    {
        if (m_Slots[i].m_Edge == edge)
            break;
        if (++i == m_Size)
            i = 0;
    }
    Slot* slot = &m_Slots[i];
    if (!slot->m_Count)
    {
        if (m_Count >= m_Capacity)
        {
            unsigned grown = m_Capacity >= kMaxCapacity / 2 ? kMaxCapacity : m_Capacity * 2;
            if (m_Count >= grown || !Rebuild(grown, true))
                return false;
            return AssociateHashed(edge, hash, face);
        }
        slot->m_Edge = edge;
        slot->m_Count = 1;
        slot->m_Capacity = 0;
        slot->m_Data[0] = face;
        slot->m_Data[1] = 0;
        ++m_Count;
        ++m_Associations;
        return true;
    }
    unsigned count = slot->m_Count;
    int* faces = FacesOf(*slot);
    // Faces mostly come in increasing order: check the end first.
    unsigned at = count;
    if (faces[count - 1] >= face)
    {
        at = unsigned(std::lower_bound(faces, faces + count, face) - faces);
        if (faces[at] == face)
            return false;
    }
    unsigned room = slot->m_Capacity ? slot->m_Capacity : 2;
    if (count == room)
    {
        if (m_PoolDead > 4096 && m_PoolDead > m_Pool.size() / 2)
        {
            if (!Rebuild(m_Capacity, true))
                return false;
            slot = &m_Slots[FindSlot(edge, hash)];
        }
        if (!Grow(*slot))
            return false;
        faces = FacesOf(*slot);
    }
    std::copy_backward(faces + at, faces + count, faces + count + 1);
    faces[at] = face;
    slot->m_Count = uint16_t(count + 1);
    ++m_Associations;
    return true;
}

bool CAssociationMap::Dissociate(const C3DEdge& edge, int face)
{
    unsigned i = FindSlot(edge);
    if (i == kZanNone)
        return false;
    Slot& slot = m_Slots[i];
    int* faces = FacesOf(slot);
    unsigned count = slot.m_Count;
    int* found = std::lower_bound(faces, faces + count, face);
    if (found == faces + count || *found != face)
        return false;
    if (count == 1)
    {
        EraseSlot(i);
        return true;
    }
    std::copy(found + 1, faces + count, found);
    slot.m_Count = uint16_t(count - 1);
    --m_Associations;
    return true;
}

bool CAssociationMap::RemoveKey(const C3DEdge& edge)
{
    unsigned i = FindSlot(edge);
    if (i == kZanNone)
        return false;
    EraseSlot(i);
    return true;
}

// Backward-shift deletion: every following slot whose home is not cyclically in (hole, j]
// moves into the hole, so every probe chain stays unbroken.
void CAssociationMap::EraseSlot(size_t hole)
{
    Slot& gone = m_Slots[hole];
    m_Associations -= gone.m_Count;
    if (gone.m_Capacity)
        m_PoolDead += gone.m_Capacity;
    size_t j = hole;
    for (;;)
    {
        if (++j == m_Size)
            j = 0;
        if (!m_Slots[j].m_Count)
            break;
        size_t home = HomeOf(m_Slots[j].m_Edge.Hash());
        bool between = hole < j ? (home > hole && home <= j) : (home > hole || home <= j);
        if (!between)
        {
            m_Slots[hole] = m_Slots[j];
            hole = j;
        }
    }
    std::memset(static_cast<void*>(&m_Slots[hole]), 0, sizeof(Slot));
    --m_Count;
    if (m_Count == 0)
    {
        m_Pool.clear();
        m_PoolDead = 0;
    }
}

const int* CAssociationMap::Lookup(const C3DEdge& edge, unsigned& count) const
{
    unsigned i = FindSlot(edge);
    if (i == kZanNone)
    {
        count = 0;
        return nullptr;
    }
    count = m_Slots[i].m_Count;
    return FacesOf(m_Slots[i]);
}

unsigned CAssociationMap::GetFaceCount(const C3DEdge& edge) const
{
    unsigned i = FindSlot(edge);
    return i == kZanNone ? 0 : m_Slots[i].m_Count;
}

const C3DEdge& CAssociationMap::GetNext(unsigned& pos, const int*& faces, unsigned& count) const
{
    if (pos >= m_Size || !m_Slots[pos].m_Count)
        ZanThrowIndexError("CAssociationMap position", pos, (long long)m_Size);
    const Slot& slot = m_Slots[pos];
    faces = FacesOf(slot);
    count = slot.m_Count;
    pos = NextUsed(size_t(pos) + 1);
    return slot.m_Edge;
}

// ---------------------------------------------------------------- CBulkLoader

CAssociationMap::CBulkLoader::CBulkLoader(CAssociationMap& map, unsigned edges) : m_Map(map)
{
    m_Ready = map.Reserve(std::min(edges, kMaxCapacity));
    // Bands of about 256 KB of slots: a band's insertions stay in the second-level cache.
    m_BandNbr = std::max<size_t>(1, map.m_Size * sizeof(Slot) / (256 << 10));
    try
    {
        m_Bands.assign(m_BandNbr + 1, 0);
    }
    catch (const std::bad_alloc&)
    {
        m_Ready = false;
        m_BandNbr = 1;
        m_Bands.assign(2, 0); // two words: cannot fail in practice
    }
}

CAssociationMap::CBulkLoader::~CBulkLoader()
{
    std::free(m_Pairs);
}

bool CAssociationMap::CBulkLoader::Prepare()
{
    size_t total = 0;
    for (size_t b = 0; b < m_BandNbr; ++b)
    {
        size_t count = m_Bands[b];
        m_Bands[b] = total;
        total += count;
    }
    m_Placed = 0;
    if (m_Ready && total <= SIZE_MAX / sizeof(Pair))
        m_Pairs = static_cast<Pair*>(zan_detail::AllocateRaw(total * sizeof(Pair)));
    m_Ready = m_Ready && (m_Pairs || total == 0);
    if (m_Ready)
        m_Placed = total; // Place writes only below this
    return m_Ready;
}

bool CAssociationMap::CBulkLoader::Finish()
{
    if (!m_Ready)
        return false;
    // After Place, each band's cursor sits where the next band starts.
    if (m_BandNbr && m_Bands[m_BandNbr - 1] != m_Placed)
        return false; // the passes saw different pairs
    for (size_t k = 0; k < m_Placed; ++k)
    {
        const Pair& pair = m_Pairs[k];
        if (m_Map.AssociateHashed(pair.m_Edge, pair.m_Hash, pair.m_Face))
            continue;
        unsigned count;
        const int* faces = m_Map.Lookup(pair.m_Edge, count);
        if (!faces || !std::binary_search(faces, faces + count, pair.m_Face))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- CFaceGraphHelper

CFaceGraphHelper::CFaceGraphHelper() : m_Set(NextPrime(101)) {}

int* CFaceGraphHelper::GetArray(unsigned n)
{
    if (n >= (1u << 30))
        return nullptr;
    if (n >= m_Array.size())
    {
        size_t size = std::max<size_t>(size_t(n) + 1, m_Array.size() * 2);
        try
        {
            m_Array.resize(std::min<size_t>(size, 1u << 30));
        }
        catch (const std::bad_alloc&)
        {
            return nullptr;
        }
    }
    return m_Array.data();
}

void CFaceGraphHelper::ReleaseArray(const int* array)
{
    if (array && array == m_Array.data() && m_Array.size() > (1u << 20))
        std::vector<int>().swap(m_Array);
}

const int* CFaceGraphHelper::CopySet(int& count)
{
    count = 0;
    unsigned n = m_Set.GetCount();
    if (n == 0)
        return nullptr;
    int* array = GetArray(n);
    if (!array)
        return nullptr;
    unsigned k = 0;
    for (unsigned pos = m_Set.GetFirst(); pos != kZanNone;)
        array[k++] = m_Set.GetNext(pos);
    count = int(n);
    return array;
}
