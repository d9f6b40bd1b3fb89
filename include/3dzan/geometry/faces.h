/// \file faces.h
/// \brief The face storage (CSimpleCollection), the face flags, the face handle CFace and its
///        typed forms, and CSingleFace, the buffer that holds one face while a list is
///        rearranged.
///
/// A face list keeps all its faces in one byte buffer of variable-length records, one record
/// per face, found through an array of byte offsets: one allocation per list, never one per
/// face. A record is a 16-bit corner count, a 16-bit capacity and `capacity` 32-bit point
/// indices. Growing a face beyond its capacity appends a larger copy at the end of the buffer
/// and leaves the old bytes dead until the buffer is compacted.
#pragma once

#include <3dzan/foundation/bitarray.h>
#include <3dzan/foundation/xarchive.h>
#include <3dzan/geometry/datachunk.h>
#include <3dzan/geometry/points.h>
#include <3dzan/geometry/vector4.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

class C4DPoint;
class CPointList;
class C2DPointList;

/// \brief How many of a face's points carry given flags.
enum FLAGRESULT
{
    _FlagNone = 0, ///< none of them
    _FlagSome = 1, ///< some, not all
    _FlagAll = 2   ///< every one
};

/// \brief Face flag bits with a fixed meaning; other bits belong to the code that sets them
///        and are carried through copies and archives unchanged.
enum _FACE_PROPERTIES : unsigned
{
    _FaceInvalid = 0x01,  ///< fewer than 3 corners; skipped by checksums, flips, materials
    _FaceExcluded = 0x02, ///< left out, with invalid faces, of point validity, flips, checksums
    _FaceBorder = 0x1000  ///< has an edge used by no other face
};

/// \brief Variable-length records of \p ITEM in one byte buffer, found by byte offsets.
///
/// Record *r* starts at byte `GetOffsets()[r]`: a header of two \p COUNT values (item count,
/// item capacity), then `capacity` items. Records are aligned on the alignment of their
/// items. Changing a record's count within its capacity only changes the count; growing it
/// beyond appends a new copy of the record with capacity equal to the new count and leaves
/// the old bytes dead. Dead bytes are reclaimed when the buffer must grow while at least half
/// of it is dead, by Compact, by copies, and in what Store writes.
///
/// Items are plain values. The hooks ConstructItems, DestructItems and CopyItems are called
/// once per range of items of one record (new items, dropped items, copied items); the base
/// zero-fills new items, does nothing on destruction and copies bytes. Items beyond a record's
/// count are zero in every record the collection writes, so that its archives depend only on
/// counts, capacities and live items (a loaded record keeps the bytes it was read with). The
/// destructor runs the base DestructItems: a class that overrides it calls RemoveAll in its
/// own destructor.
///
/// *Errors.* Operations that need memory report a shortage by their result and leave the
/// collection unchanged. Counts above the limits (\ref kMaxItems items per record,
/// \ref kMaxRecords records) are refused the same way. Load raises CXArchiveException and
/// leaves the collection unchanged.
template <class ITEM, class COUNT> class ZAN_API CSimpleCollection
{
    static_assert(std::is_trivially_copyable_v<ITEM>, "records are moved as bytes");
    static_assert(std::is_unsigned_v<COUNT>, "item counts are unsigned");

public:
    /// \brief The two counts at the start of each record.
    struct Header
    {
        COUNT m_Count;
        COUNT m_Capacity;
    };

    static constexpr unsigned kMaxItems = std::numeric_limits<COUNT>::max();
    static constexpr unsigned kMaxRecords = unsigned(INT_MAX);
    static constexpr size_t kAlign = alignof(ITEM) > alignof(Header) ? alignof(ITEM)
                                                                     : alignof(Header);
    static constexpr uint64_t RoundUp(uint64_t n, uint64_t align)
    {
        return (n + align - 1) / align * align;
    }
    static constexpr uint64_t kHeaderBytes = RoundUp(sizeof(Header), alignof(ITEM));
    /// \brief Size in bytes of a record of \p capacity items.
    static constexpr uint64_t RecordBytes(unsigned capacity)
    {
        return RoundUp(kHeaderBytes + uint64_t(capacity) * sizeof(ITEM), kAlign);
    }
    /// \brief Largest buffer the collection accepts (keeps every byte count far from overflow).
    static constexpr uint64_t kMaxBytes = uint64_t(1) << 46;

    CSimpleCollection() = default;
    /// \brief A compacted copy (same records, counts and capacities, no dead bytes).
    /// \throw std::bad_alloc when the memory cannot be had.
    CSimpleCollection(const CSimpleCollection& src) : m_DefaultItems(src.m_DefaultItems)
    {
        if (!Copy(src))
            throw std::bad_alloc();
    }
    CSimpleCollection(CSimpleCollection&& src) noexcept { Swap(src); }
    /// \brief Same as Copy. \throw std::bad_alloc when the memory cannot be had.
    CSimpleCollection& operator=(const CSimpleCollection& src)
    {
        if (!Copy(src))
            throw std::bad_alloc();
        return *this;
    }
    CSimpleCollection& operator=(CSimpleCollection&& src) noexcept
    {
        if (this != &src)
        {
            CSimpleCollection empty;
            Swap(empty);
            Swap(src);
        }
        return *this;
    }
    virtual ~CSimpleCollection() { Release(); }

    void Swap(CSimpleCollection& other) noexcept
    {
        std::swap(m_Buffer, other.m_Buffer);
        std::swap(m_Count, other.m_Count);
        std::swap(m_DefaultItems, other.m_DefaultItems);
        std::swap(m_UsedBytes, other.m_UsedBytes);
        std::swap(m_BufferSize, other.m_BufferSize);
        std::swap(m_DeadBytes, other.m_DeadBytes);
        std::swap(m_Offsets, other.m_Offsets);
    }

    /// \name Sizes
    /// \{
    unsigned GetCount() const { return m_Count; }
    /// \brief Items given to records created without an explicit count (3 on construction).
    COUNT GetDefaultItems() const { return m_DefaultItems; }
    void SetDefaultItems(COUNT items) { m_DefaultItems = items; }
    /// \brief Bytes in use at the start of the buffer, dead bytes included.
    uint64_t GetUsedBytes() const { return m_UsedBytes; }
    /// \brief Bytes allocated.
    uint64_t GetBufferSize() const { return m_BufferSize; }
    /// \brief Bytes in use that belong to no record.
    uint64_t GetDeadBytes() const { return m_DeadBytes; }
    const COffsetArray& GetOffsets() const { return m_Offsets; }
    const uint8_t* GetBuffer() const { return m_Buffer; }
    /// \}

    /// \name Record access
    /// \{

    /// \brief Item count of a record, 0 out of range.
    unsigned GetItemCount(unsigned record) const
    {
        return record < m_Count ? HeaderAt(record)->m_Count : 0;
    }
    /// \brief Item capacity of a record, 0 out of range.
    unsigned GetCapacity(unsigned record) const
    {
        return record < m_Count ? HeaderAt(record)->m_Capacity : 0;
    }
    /// \brief The items of a record and their count; null and 0 when out of range or empty.
    ///        Valid until the next operation that changes the collection.
    const ITEM* GetItems(unsigned record, unsigned& count) const
    {
        count = 0;
        if (record >= m_Count)
            return nullptr;
        const Header* header = HeaderAt(record);
        count = header->m_Count;
        return count ? ItemsOf(header) : nullptr;
    }
    ITEM* GetItems(unsigned record, unsigned& count)
    {
        return const_cast<ITEM*>(std::as_const(*this).GetItems(record, count));
    }
    /// \brief Unchecked: the items of record \p record < GetCount().
    const ITEM* ItemsAt(unsigned record) const { return ItemsOf(HeaderAt(record)); }
    ITEM* ItemsAt(unsigned record) { return ItemsOf(HeaderAt(record)); }
    /// \brief Unchecked: the item count of record \p record < GetCount().
    unsigned CountAt(unsigned record) const { return HeaderAt(record)->m_Count; }
    /// \}

    /// \name Editing
    /// \{

    /// \brief Sets the number of records. Records added get \p itemsPerRecord constructed
    ///        items; dropped records become dead bytes (or are cut off the end of the buffer).
    /// \param exact compact the buffer and fit its allocation to the records afterwards.
    /// \return false, with nothing changed, for counts above the limits or a memory shortage.
    bool SetCount(unsigned count, unsigned itemsPerRecord, bool exact = false)
    {
        if (count > kMaxRecords || itemsPerRecord > kMaxItems)
            return false;
        if (count <= m_Count)
        {
            if (!Shrink(count))
                return false;
        }
        else if (!AddRecords(nullptr, count - m_Count, itemsPerRecord))
            return false;
        if (exact)
            FreeExtra();
        return true;
    }

    /// \brief Sets the item count of one record, constructing added items and destructing
    ///        dropped ones; a record that outgrows its capacity moves to the end of the buffer.
    /// \return the record's items (valid until the next change), or null when \p record is out
    ///         of range, \p count is above kMaxItems, or memory is short (nothing changed).
    ///         For a count of 0 the result points at the record's (empty) item area.
    ITEM* SetItemCount(unsigned record, unsigned count)
    {
        if (record >= m_Count || count > kMaxItems)
            return nullptr;
        Header* header = HeaderAt(record);
        unsigned old = header->m_Count;
        if (count <= header->m_Capacity)
        {
            ITEM* items = ItemsOf(header);
            if (count < old)
            {
                DestructItems(items + count, old - count);
                std::memset(static_cast<void*>(items + count), 0, (old - count) * sizeof(ITEM));
            }
            else if (count > old)
                ConstructItems(items + old, count - old);
            header->m_Count = COUNT(count);
            return items;
        }
        uint64_t oldBytes = RecordBytes(header->m_Capacity);
        if (!MakeRoom(RecordBytes(count)))
            return nullptr;
        header = HeaderAt(record); // the buffer may have moved or been compacted
        uint8_t* place = m_Buffer + m_UsedBytes;
        Header* moved = reinterpret_cast<Header*>(place);
        std::memset(place, 0, RecordBytes(count));
        moved->m_Count = COUNT(count);
        moved->m_Capacity = COUNT(count);
        ITEM* items = ItemsOf(moved);
        CopyItems(items, ItemsOf(header), old);
        DestructItems(ItemsOf(header), old);
        ConstructItems(items + old, count - old);
        m_DeadBytes += oldBytes;
        m_Offsets.SetAt(record, uint64_t(place - m_Buffer));
        m_UsedBytes += RecordBytes(count);
        return items;
    }

    /// \brief Appends one record of \p count items copied from \p items (constructed items
    ///        when \p items is null).
    /// \return the new record's index, or kZanNone (nothing changed) above the limits or when
    ///         memory is short.
    unsigned AddRecord(const ITEM* items, unsigned count)
    {
        return AddRecords(items, 1, count) ? m_Count - 1 : kZanNone;
    }

    /// \brief Appends \p recordCount records of \p itemsPerRecord items each, taken in order
    ///        from \p items (constructed items when \p items is null).
    /// \return false, with nothing changed, above the limits or when memory is short.
    bool AddRecords(const ITEM* items, unsigned recordCount, unsigned itemsPerRecord)
    {
        if (itemsPerRecord > kMaxItems)
            return false;
        return AddRecordsImpl(items, recordCount, nullptr, itemsPerRecord);
    }

    /// \brief Appends \p recordCount records whose item counts are \p counts, taking the items
    ///        in order from \p items (constructed items when \p items is null).
    /// \return false, with nothing changed, above the limits or when memory is short.
    bool AddRecords(const ITEM* items, const unsigned* counts, unsigned recordCount)
    {
        if (recordCount && !counts)
            return false;
        for (unsigned i = 0; i < recordCount; ++i)
            if (counts[i] > kMaxItems)
                return false;
        return AddRecordsImpl(items, recordCount, counts, 0);
    }

    /// \brief Appends copies of every record of \p src (which may be this collection), with
    ///        their counts and capacities.
    /// \return false, with nothing changed, above the limits or when memory is short.
    bool Append(const CSimpleCollection& src)
    {
        if (src.m_Count == 0)
            return true;
        if (uint64_t(m_Count) + src.m_Count > kMaxRecords)
            return false;
        uint64_t bytes = src.m_UsedBytes - src.m_DeadBytes;
        unsigned srcCount = src.m_Count;
        unsigned first = m_Count;
        if (!ReserveOffsets(uint64_t(m_Count) + srcCount) || !MakeRoom(bytes))
            return false;
        // Read the source after MakeRoom: when it is this collection its buffer may have moved.
        uint64_t at = m_UsedBytes;
        for (unsigned r = 0; r < srcCount; ++r)
        {
            const Header* from = src.HeaderAt(r);
            uint64_t size = RecordBytes(from->m_Capacity);
            Header* to = reinterpret_cast<Header*>(m_Buffer + at);
            std::memset(static_cast<void*>(to), 0, size_t(size));
            *to = *from;
            CopyItems(ItemsOf(to), ItemsOf(from), from->m_Count);
            m_Offsets.Add(at);
            at += size;
        }
        m_UsedBytes = at;
        m_Count = first + srcCount;
        return true;
    }

    /// \brief Makes record \p dst hold the items of record \p srcRecord of \p src (which may be
    ///        this collection).
    /// \return false, with nothing changed, when a record is out of range or memory is short.
    bool CopyRecord(unsigned dst, const CSimpleCollection& src, unsigned srcRecord)
    {
        if (dst >= m_Count || srcRecord >= src.m_Count)
            return false;
        if (&src == this && dst == srcRecord)
            return true;
        unsigned count = src.CountAt(srcRecord);
        if (count > HeaderAt(dst)->m_Count)
        {
            // Grow first: when src is this collection its buffer may move, so read after.
            if (!SetItemCount(dst, count))
                return false;
        }
        else
            SetItemCount(dst, count); // shrinking in place cannot fail
        CopyItems(ItemsAt(dst), src.ItemsAt(srcRecord), count);
        return true;
    }

    /// \brief Rebuilds the collection from the records named by \p order: record *i* becomes a
    ///        copy of old record `order[i]` (an index may repeat or be left out). The new
    ///        buffer is compact.
    /// \return false, with nothing changed, for an index out of range, a count above the
    ///         limit or a memory shortage.
    bool Gather(const unsigned* order, unsigned count)
    {
        CSimpleCollection result;
        if (!GatherInto(result, order, count))
            return false;
        Swap(result);
        return true;
    }

    /// \brief Makes \p result what Gather would make of this collection; this one is unchanged.
    bool GatherInto(CSimpleCollection& result, const unsigned* order, unsigned count) const
    {
        if (count > kMaxRecords || (count && !order) || &result == this)
            return false;
        uint64_t bytes = 0;
        for (unsigned i = 0; i < count; ++i)
        {
            if (order[i] >= m_Count)
                return false;
            bytes += RecordBytes(HeaderAt(order[i])->m_Capacity);
        }
        CSimpleCollection built;
        built.m_DefaultItems = m_DefaultItems;
        if (!built.ReserveOffsets(count, true) || !built.MakeRoom(bytes))
            return false;
        for (unsigned i = 0; i < count; ++i)
            built.PlaceCopy(*this, order[i]);
        result.Swap(built);
        return true;
    }

    /// \brief Makes room for \p records more records and \p bytes more bytes without
    ///        changing anything else.
    /// \return false, with nothing changed, when memory is short or the sizes are absurd.
    bool Reserve(unsigned records, uint64_t bytes)
    {
        if (uint64_t(m_Count) + records > kMaxRecords || bytes > kMaxBytes)
            return false;
        if (!ReserveOffsets(uint64_t(m_Count) + records, true))
            return false;
        if (m_UsedBytes + bytes <= m_BufferSize)
            return true;
        return Reallocate(m_UsedBytes + bytes);
    }

    /// \brief Moves every record to the front of a new buffer, in record order, dropping dead
    ///        bytes; with \p exact the new buffer holds exactly the records.
    /// \return false, with nothing changed, when memory is short.
    bool Compact(bool exact = false)
    {
        uint64_t live = m_UsedBytes - m_DeadBytes;
        return CompactInto(exact ? live : std::max(live, m_BufferSize - m_DeadBytes));
    }

    /// \brief Compacts the buffer and fits the allocations to the records.
    void FreeExtra()
    {
        if (m_Count == 0)
        {
            CSimpleCollection empty;
            empty.m_DefaultItems = m_DefaultItems;
            Swap(empty);
            return;
        }
        if (m_DeadBytes || m_BufferSize != m_UsedBytes)
            CompactInto(m_UsedBytes - m_DeadBytes); // on a shortage the buffer stays as it is
        m_Offsets.FreeExtra();
    }

    /// \brief Destructs every record and frees the buffer; the default item count stays.
    void RemoveAll()
    {
        COUNT keep = m_DefaultItems;
        CSimpleCollection empty;
        Swap(empty);
        m_DefaultItems = keep;
    }

    /// \brief Makes this collection a compacted copy of \p src (counts and capacities kept).
    /// \return false, with nothing changed, when memory is short.
    bool Copy(const CSimpleCollection& src)
    {
        if (&src == this)
            return true;
        CSimpleCollection result;
        result.m_DefaultItems = src.m_DefaultItems;
        if (!result.ReserveOffsets(src.m_Count, true) ||
            !result.MakeRoom(src.m_UsedBytes - src.m_DeadBytes))
            return false;
        for (unsigned r = 0; r < src.m_Count; ++r)
            result.PlaceCopy(src, r);
        Swap(result);
        return true;
    }
    /// \}

    /// \name Archive
    /// \{

    /// \brief Stores the records after the record count, which the caller writes: used bytes
    ///        and buffer size (8 bytes each), the buffer, then the offsets (COffsetArray).
    ///
    /// What is stored is the compacted buffer: records in record order, without dead bytes,
    /// so the used bytes and the buffer size written are both the bytes of the records. Does
    /// nothing for an empty collection.
    void Store(CXArchive& ar) const
    {
        if (m_Count == 0)
            return;
        uint64_t live = m_UsedBytes - m_DeadBytes;
        ar << uint64_t(live) << uint64_t(live);
        if (IsCompact())
        {
            ar.Write(m_Buffer, size_t(live));
            const_cast<COffsetArray&>(m_Offsets).Serialize(ar); // storing reads only
            return;
        }
        for (unsigned r = 0; r < m_Count; ++r)
        {
            const Header* header = HeaderAt(r);
            ar.Write(header, size_t(RecordBytes(header->m_Capacity)));
        }
        ar.WriteCount(m_Count);
        uint64_t at = 0;
        for (unsigned r = 0; r < m_Count; ++r)
        {
            ar << at;
            at += RecordBytes(HeaderAt(r)->m_Capacity);
        }
    }

    /// \brief Loads what Store wrote, for \p recordCount records (read by the caller).
    ///
    /// Every value is checked before it is used: the used bytes against the bytes that
    /// remain (nothing is allocated beyond them) and against the buffer size, the offset count
    /// against the record count, each offset for alignment and for a header inside the used
    /// bytes, each record for a count not above its capacity and an end inside the used bytes,
    /// and the records against each other for overlaps. The loaded records replace this
    /// collection's only when all of that holds.
    /// \throw CXArchiveException when the stream is short or malformed.
    /// \param highest when given, receives the highest item of every record read as an
    ///        unsigned value (so that a negative index counts as above every bound), found by
    ///        the same pass that checks the records; 0 for no item.
    void Load(CXArchive& ar, unsigned recordCount, std::make_unsigned_t<ITEM>* highest = nullptr)
    {
        if (highest)
            *highest = 0;
        CSimpleCollection loaded;
        loaded.m_DefaultItems = m_DefaultItems;
        if (recordCount)
        {
            if (recordCount > kMaxRecords)
                Fail(CXArchiveException::_BadCount,
                     "face record count " + std::to_string(recordCount));
            uint64_t used, size;
            ar >> used >> size;
            if (used > kMaxBytes || size < used || used < recordCount * kHeaderBytes)
                Fail(CXArchiveException::_BadValue,
                     "face storage of " + std::to_string(used) + " used bytes in " +
                         std::to_string(size) + " for " + std::to_string(recordCount) + " records");
            // The offsets follow the buffer: 8 bytes each and a 4-byte count at least.
            ar.CheckRemaining(used + 4 + uint64_t(recordCount) * 8, "face storage");
            if (!loaded.MakeRoom(used))
                throw std::bad_alloc();
            ar.Read(loaded.m_Buffer, size_t(used));
            loaded.m_UsedBytes = used;
            loaded.m_Offsets.Serialize(ar, used);
            if (loaded.m_Offsets.GetSize() != recordCount)
                Fail(CXArchiveException::_BadValue,
                     std::to_string(loaded.m_Offsets.GetSize()) + " offsets for " +
                         std::to_string(recordCount) + " face records");
            loaded.m_Count = recordCount;
            try
            {
                loaded.m_DeadBytes = used - loaded.CheckRecords(highest);
            }
            catch (...)
            {
                // The records are not trusted: release the buffer without walking them.
                loaded.m_Count = 0;
                throw;
            }
        }
        Swap(loaded);
    }
    /// \}

protected:
    /// \brief Constructs \p count items of one record at \p first (zero-filled already).
    virtual void ConstructItems(ITEM* first, size_t count)
    {
        if (count)
            std::memset(static_cast<void*>(first), 0, count * sizeof(ITEM));
    }
    /// \brief Ends the life of \p count items of one record.
    virtual void DestructItems(ITEM*, size_t) {}
    /// \brief Copies \p count items of one record onto constructed or zero-filled items.
    virtual void CopyItems(ITEM* dst, const ITEM* src, size_t count)
    {
        if (count && dst != src)
            std::memmove(static_cast<void*>(dst), src, count * sizeof(ITEM));
    }

private:
    const Header* HeaderAt(unsigned record) const
    {
        return reinterpret_cast<const Header*>(m_Buffer + m_Offsets.GetData()[record]);
    }
    Header* HeaderAt(unsigned record)
    {
        return reinterpret_cast<Header*>(m_Buffer + m_Offsets.GetData()[record]);
    }
    static ITEM* ItemsOf(Header* header)
    {
        return reinterpret_cast<ITEM*>(reinterpret_cast<uint8_t*>(header) + kHeaderBytes);
    }
    static const ITEM* ItemsOf(const Header* header)
    {
        return reinterpret_cast<const ITEM*>(reinterpret_cast<const uint8_t*>(header) +
                                             kHeaderBytes);
    }
    [[noreturn]] static void Fail(CXArchiveException::Cause cause, const std::string& what)
    {
        throw CXArchiveException(cause, what);
    }

    void Release()
    {
        if (m_Buffer)
        {
            for (unsigned r = 0; r < m_Count; ++r)
                DestructItems(ItemsAt(r), HeaderAt(r)->m_Count);
            ZanFreeBlock(m_Buffer, BlockBytes(m_BufferSize));
        }
        m_Buffer = nullptr;
    }

    // Whether the records lie in record order from byte 0 with nothing between them.
    bool IsCompact() const
    {
        if (m_DeadBytes)
            return false;
        uint64_t at = 0;
        const uint64_t* offsets = m_Offsets.GetData();
        for (unsigned r = 0; r < m_Count; ++r)
        {
            if (offsets[r] != at)
                return false;
            at += RecordBytes(HeaderAt(r)->m_Capacity);
        }
        return at == m_UsedBytes;
    }

    // Room in the offsets for \p records records. Growth one record at a time must not
    // reallocate each time (a vector reserves exactly what it is asked), so unless \p exact
    // the room grows to the next power of two.
    bool ReserveOffsets(uint64_t records, bool exact = false)
    {
        if (records > kMaxRecords)
            return false;
        if (records <= m_Offsets.GetSize())
            return true;
        uint64_t room = records;
        if (!exact)
        {
            room = 16;
            while (room < records)
                room *= 2;
            room = std::min<uint64_t>(room, kMaxRecords);
        }
        try
        {
            m_Offsets.Reserve(unsigned(room));
        }
        catch (const std::bad_alloc&)
        {
            return false;
        }
        catch (const std::length_error&)
        {
            return false;
        }
        return true;
    }

    // Bytes of the block behind a buffer of \p size (never 0, which blocks do not have).
    static size_t BlockBytes(uint64_t size) { return size_t(std::max<uint64_t>(size, 1)); }

    bool Reallocate(uint64_t size)
    {
        if (size > kMaxBytes)
            return false;
        void* grown = m_Buffer ? ZanResizeBlock(m_Buffer, BlockBytes(m_BufferSize), BlockBytes(size))
                               : ZanAllocateBlock(BlockBytes(size));
        if (!grown)
            return false;
        m_Buffer = static_cast<uint8_t*>(grown);
        m_BufferSize = size;
        return true;
    }

    // A new buffer of \p size bytes holding the records in record order.
    bool CompactInto(uint64_t size)
    {
        uint64_t live = m_UsedBytes - m_DeadBytes;
        size = std::max(size, live);
        if (size > kMaxBytes)
            return false;
        auto* buffer = static_cast<uint8_t*>(ZanAllocateBlock(BlockBytes(size)));
        if (!buffer)
            return false;
        uint64_t at = 0;
        for (unsigned r = 0; r < m_Count; ++r)
        {
            uint64_t bytes = RecordBytes(HeaderAt(r)->m_Capacity);
            std::memcpy(buffer + at, HeaderAt(r), size_t(bytes));
            m_Offsets.GetData()[r] = at;
            at += bytes;
        }
        if (m_Buffer)
            ZanFreeBlock(m_Buffer, BlockBytes(m_BufferSize));
        m_Buffer = buffer;
        m_BufferSize = size;
        m_UsedBytes = live;
        m_DeadBytes = 0;
        return true;
    }

    // Room for \p bytes more at the end of the used bytes; false (nothing changed) when memory
    // is short. A buffer that is at least half dead is compacted instead of grown.
    bool MakeRoom(uint64_t bytes)
    {
        if (bytes > kMaxBytes || m_UsedBytes + bytes > kMaxBytes)
            return false;
        if (m_UsedBytes + bytes > m_BufferSize)
        {
            uint64_t live = m_UsedBytes - m_DeadBytes;
            uint64_t need = live + bytes;
            if (m_DeadBytes && m_DeadBytes >= live)
            {
                if (!CompactInto(std::max(need, live + live / 2)))
                    return false;
            }
            else
            {
                need = m_UsedBytes + bytes;
                uint64_t grown = std::max<uint64_t>(need, m_BufferSize + m_BufferSize / 2);
                if (!Reallocate(std::min(std::max<uint64_t>(grown, 64), kMaxBytes)) &&
                    !Reallocate(need))
                    return false;
            }
        }
        return true;
    }

    // Appends a copy of record \p record of \p src; room has been made.
    void PlaceCopy(const CSimpleCollection& src, unsigned record)
    {
        const Header* from = src.HeaderAt(record);
        uint64_t size = RecordBytes(from->m_Capacity);
        Header* to = reinterpret_cast<Header*>(m_Buffer + m_UsedBytes);
        std::memset(static_cast<void*>(to), 0, size_t(size));
        *to = *from;
        CopyItems(ItemsOf(to), ItemsOf(from), from->m_Count);
        m_Offsets.Add(m_UsedBytes);
        m_UsedBytes += size;
        ++m_Count;
    }

    bool AddRecordsImpl(const ITEM* items, unsigned recordCount, const unsigned* counts,
                        unsigned itemsPerRecord)
    {
        if (recordCount == 0)
            return true;
        if (uint64_t(m_Count) + recordCount > kMaxRecords)
            return false;
        uint64_t bytes = 0;
        if (counts)
            for (unsigned i = 0; i < recordCount; ++i)
                bytes += RecordBytes(counts[i]);
        else
            bytes = RecordBytes(itemsPerRecord) * recordCount;
        if (!ReserveOffsets(uint64_t(m_Count) + recordCount) || !MakeRoom(bytes))
            return false;
        uint8_t* at = m_Buffer + m_UsedBytes;
        std::memset(at, 0, size_t(bytes));
        for (unsigned i = 0; i < recordCount; ++i)
        {
            unsigned count = counts ? counts[i] : itemsPerRecord;
            Header* header = reinterpret_cast<Header*>(at);
            header->m_Count = COUNT(count);
            header->m_Capacity = COUNT(count);
            if (items)
            {
                CopyItems(ItemsOf(header), items, count);
                items += count;
            }
            else
                ConstructItems(ItemsOf(header), count);
            m_Offsets.Add(uint64_t(at - m_Buffer));
            at += RecordBytes(count);
        }
        m_UsedBytes = uint64_t(at - m_Buffer);
        m_Count += recordCount;
        return true;
    }

    bool Shrink(unsigned count)
    {
        if (count == m_Count)
            return true;
        // Dropped records at the very end of the buffer give their bytes back; others die.
        uint64_t dropped = 0, lowest = m_UsedBytes;
        for (unsigned r = count; r < m_Count; ++r)
        {
            Header* header = HeaderAt(r);
            DestructItems(ItemsOf(header), header->m_Count);
            dropped += RecordBytes(header->m_Capacity);
            lowest = std::min(lowest, m_Offsets.GetData()[r]);
        }
        if (m_DeadBytes == 0 && lowest + dropped == m_UsedBytes)
            m_UsedBytes = lowest;
        else
            m_DeadBytes += dropped;
        m_Offsets.SetSize(count); // shrinking a vector does not allocate
        m_Count = count;
        if (m_Count == 0)
        {
            m_UsedBytes = 0;
            m_DeadBytes = 0;
        }
        return true;
    }

    // Checks the loaded records (see Load) and returns the bytes they occupy; with
    // \p highest, also finds the highest item while each record is in cache anyway.
    uint64_t CheckRecords(std::make_unsigned_t<ITEM>* highest) const
    {
        using Unsigned = std::make_unsigned_t<ITEM>;
        const uint64_t* offsets = m_Offsets.GetData();
        uint64_t live = 0;
        Unsigned top = 0;
        bool ordered = true;
        uint64_t previousEnd = 0;
        for (unsigned r = 0; r < m_Count; ++r)
        {
            uint64_t at = offsets[r];
            if (at % kAlign || at + kHeaderBytes > m_UsedBytes)
                Fail(CXArchiveException::_BadValue,
                     "face record " + std::to_string(r) + " at offset " + std::to_string(at) +
                         " in " + std::to_string(m_UsedBytes) + " bytes");
            const Header* header = HeaderAt(r);
            uint64_t end = at + RecordBytes(header->m_Capacity);
            if (header->m_Count > header->m_Capacity || end > m_UsedBytes)
                Fail(CXArchiveException::_BadValue,
                     "face record " + std::to_string(r) + " of " + std::to_string(header->m_Count) +
                         " items in a capacity of " + std::to_string(header->m_Capacity) +
                         " ending at " + std::to_string(end) + " of " +
                         std::to_string(m_UsedBytes));
            if (at < previousEnd)
                ordered = false;
            previousEnd = end;
            live += end - at;
            if (highest)
            {
                const ITEM* items = ItemsOf(header);
                for (unsigned k = 0; k < header->m_Count; ++k)
                    top = std::max(top, Unsigned(items[k]));
            }
        }
        if (highest)
            *highest = top;
        if (!ordered)
        {
            // Records out of order: sort their extents to find overlaps. The extents take
            // twice the offsets' bytes, which the input held.
            std::vector<std::pair<uint64_t, uint64_t>> extents(m_Count);
            for (unsigned r = 0; r < m_Count; ++r)
                extents[r] = {offsets[r], offsets[r] + RecordBytes(HeaderAt(r)->m_Capacity)};
            std::sort(extents.begin(), extents.end());
            for (unsigned r = 1; r < m_Count; ++r)
                if (extents[r].first < extents[r - 1].second)
                    Fail(CXArchiveException::_BadValue,
                         "face records overlap at offset " + std::to_string(extents[r].first));
        }
        return live;
    }

    uint8_t* m_Buffer = nullptr;
    unsigned m_Count = 0;
    COUNT m_DefaultItems = 3;
    uint64_t m_UsedBytes = 0;
    uint64_t m_BufferSize = 0;
    uint64_t m_DeadBytes = 0;
    COffsetArray m_Offsets;
};

/// \brief The face storage: records of up to 65 535 signed 32-bit point indices.
using CFaceStorage = CSimpleCollection<int, unsigned short>;

class CFaceList;
class CGeomInfo;

/// \brief A handle on one face of a face list; it does not own the face.
///
/// Filled by CFaceList::GetFace or made by CFaceList::CreateFace. The handle names its list
/// and a face index and reads the face through the list at each call, so it stays usable while
/// other faces grow and the list's buffer moves. Operations on a handle whose index is not a
/// face of its list (or without a list) do nothing and return the failure value. Indices given
/// to a face are checked against the list's point bound (see CFaceList::SetPointBound).
class ZAN_API CFace
{
public:
    CFace() = default;
    CFace(const CFace&) = default;
    CFace& operator=(const CFace&) = default;
    virtual ~CFace();

    /// \brief The list the face belongs to, null for a handle never filled.
    CFaceList* GetList() const { return m_List; }
    unsigned GetFaceIndex() const { return m_Index; }
    /// \brief Whether the handle names an existing face.
    bool IsValid() const;

    /// \brief Corner count; 0 for an invalid handle.
    int GetSize() const;
    /// \brief The corner indices (valid until the list changes); null when empty or invalid.
    const int* GetIndexes() const;
    /// \brief Index at \p position, or -1 outside [0, GetSize()).
    int GetIndex(int position) const;

    /// \name Flags (the face's property word; 0 and no effect without one)
    /// \{
    unsigned GetFlags() const;
    void SetFlags(unsigned flags);
    void SetFlags(unsigned flags, bool set);
    void SetFlag(_FACE_PROPERTIES flag, bool set) { SetFlags(unsigned(flag), set); }
    /// \brief Whether every bit of \p flag is set.
    bool IsFlagSet(_FACE_PROPERTIES flag) const { return (GetFlags() & flag) == unsigned(flag); }
    /// \brief Whether any bit of \p flags is set.
    bool IsOneFlagSet(int flags) const { return (GetFlags() & unsigned(flags)) != 0; }
    /// \}

    /// \name Corners
    /// \{

    /// \brief Sets the corner count (new corners hold index 0); sets _FaceInvalid below 3
    ///        corners and clears it otherwise.
    /// \return the corner indices to fill (valid until the list changes; the caller keeps
    ///         them below the point bound), null for a negative count, a count above 65 535,
    ///         a point bound of 0 with new corners, or a memory shortage (nothing changed).
    ///         Also null for a count of 0, which succeeds.
    int* SetSize(int count);
    /// \brief The face becomes (a, b, c); clears _FaceInvalid.
    /// \return false, with nothing changed, for an index outside the point bound.
    bool SetTriangle(int a, int b, int c);
    /// \brief The face becomes (a, b, c, d); clears _FaceInvalid.
    bool SetQuadrangle(int a, int b, int c, int d);
    /// \brief Appends a corner; _FaceInvalid is cleared when the face then has 2 corners or
    ///        more and set otherwise.
    /// \return the new corner count, or -1 (nothing changed) for an index outside the point
    ///         bound, a face already at 65 535 corners, or a memory shortage.
    int AddIndex(int index);
    /// \brief Removes the last occurrence of \p index; sets _FaceInvalid below 3 corners.
    /// \return false when the index is absent.
    bool RemoveIndex(int index);
    /// \brief Replaces every occurrence of \p oldIndex by \p newIndex.
    /// \return 0 when nothing was replaced (also when the indices are equal or \p newIndex
    ///         is outside the point bound), 1 for one occurrence, 5 for more.
    int ReplaceIndex(int oldIndex, int newIndex);
    /// \brief Position of the first occurrence of \p index, -1 if none.
    int IsFacePoint(int index) const;
    /// \brief Index at the position after \p position, cyclically; -1 outside the face.
    int GetNextIndex(int position) const;
    /// \brief Index at the position before \p position, cyclically; -1 outside the face.
    int GetPrevIndex(int position) const;
    /// \brief Position p where the edge index[p] -> index[(p + 1) mod n] is (a, b), or also
    ///        (b, a) when not \p oriented; -1 when there is none.
    int IsFaceEdge(int a, int b, bool oriented) const;
    /// \brief Whether the faces have the same corners: position by position, or with
    ///        \p cyclic the same cycle in the same direction starting anywhere (the first
    ///        index of this face is looked up in the other). Two empty faces are equal.
    bool CompareIndexes(const CFace& other, bool cyclic) const;
    /// \brief Reverses the order of the corners.
    void Flip();
    /// \}

    /// \name The face's points
    /// \p points is the list the indices address. Every index is checked against its point
    /// count, so a list that shrank behind the face list's bound is refused, not overrun.
    /// \{

    /// \brief The average of the face's points, read with To4DPoint, in the dimension of the
    ///        point type.
    /// \return false, with \p center untouched, for an empty face or an index that is not a
    ///         point of \p points.
    bool GetCenter(const CPointList& points, C4DPoint& center) const;
    /// \brief Sets or clears \p flags on the face's points.
    /// \return false, with nothing changed, when an index is not a point of \p points.
    bool SetPointFlag(CPointList& points, unsigned flags, bool set) const;
    /// \brief Whether a point of the face has any bit of \p flags; false when an index is
    ///        not a point of \p points.
    bool IsOnePointFlagSet(const CPointList& points, unsigned flags) const;
    /// \brief Whether none, some or all of the face's points have every bit of \p flags;
    ///        _FlagNone for an empty face or when an index is not a point of \p points.
    FLAGRESULT IsPointFlagSet(const CPointList& points, unsigned flags) const;
    /// \}

    /// \name Data chunks
    /// \{

    /// \brief The face's element of chunk \p id, null when absent.
    void* GetData(unsigned id);
    const void* GetData(unsigned id) const;
    /// \brief Element size of chunk \p id, 0 when absent.
    unsigned GetSizeOfData(unsigned id) const;
    /// \}

    /// \name Copies
    /// \{

    /// \brief Copies the corners and chunk values of \p src (of any list) onto this face.
    bool Copy(const CFace& src);
    /// \brief Copies face \p srcIndex of the same list onto this face.
    bool Copy(unsigned srcIndex);
    /// \brief Copies the chunk values of \p src (property word included), not the corners.
    bool Inherit(const CFace& src);
    /// \}

protected:
    friend class CFaceList;
    unsigned* Property() const;

    CFaceList* m_List = nullptr;
    unsigned m_Index = kZanNone;
};

/// \brief A face of a C3DFaceList; adds the material ID of the face's property.
class ZAN_API C3DFace : public CFace
{
public:
    /// \brief Material ID of the face, 0xFFFFFFFF without one.
    unsigned GetMaterialID() const;
    /// \brief Sets the material ID; false when the face or its property has no room for it.
    bool SetMaterialID(unsigned id);

    /// \name Geometry (positions from \p geom's source point list, a C3DPointList)
    /// \{

    /// \brief Newell's normal of the face, unit length when \p unit; unnormalised, its
    ///        length is twice the area of a planar face.
    /// \return false, with (1, 0, 0), for fewer than three corners, a degenerate face, an
    ///         index outside the points or a context without a C3DPointList.
    bool GetNormal(const CGeomInfo* geom, C3DTVector<float>& normal, bool unit) const;
    /// \brief Area of the triangle of the first three corners (double precision); 0 for
    ///        fewer than three corners or unreadable positions.
    double Area(const CGeomInfo* geom) const;
    /// \brief The mean of the face's points. \return false, \p center untouched, for an
    ///        empty face or unreadable positions.
    bool GetCenter(const CGeomInfo* geom, C3DTPoint<float>& center) const;
    /// \brief The plane (a, b, c, d) through the first three corners, (a, b, c) of unit
    ///        length and oriented by the right-hand rule.
    /// \return false, \p plane untouched, for fewer than three corners, unreadable positions
    ///         or three collinear points.
    bool GetPlane(const CGeomInfo* geom, C4DTVector<float>& plane) const;
    /// \brief Whether no pair of consecutive edges turns against the first corner's turn.
    ///        Triangles are convex; false for fewer than three corners or unreadable positions.
    bool IsConvex(const CGeomInfo* geom) const;
    /// \brief Whether every point lies within 1e-5 of the size of the face (its longest
    ///        extent) from the plane of its Newell normal through its centre. Triangles are
    ///        plane; false for degenerate faces and unreadable positions.
    bool IsPlane(const CGeomInfo* geom) const;
    /// \brief The compacity factor (see GetCompacityFactor in processing/measures.h) of the
    ///        triangle of the first three corners; 0 for fewer than three corners.
    double GetCompacityFactor(const CGeomInfo* geom) const;
    /// \brief The face projected into its own plane: one point per corner in \p points
    ///        (resized), counter-clockwise when seen from the tip of the Newell normal, the
    ///        first corner at the origin. A face whose normal is degenerate is projected onto
    ///        the coordinate plane that keeps the most of it.
    /// \return false, \p points untouched, for an empty face or unreadable positions.
    bool Get2DCoordinates(const CGeomInfo* geom, C2DPointList& points) const;
    /// \brief Writes the triangles of this face (ear clipping) into \p geom's destination face
    ///        list and the destination channels' face lists, from face \p dstIndex on.
    ///
    /// A face of fewer than four corners is copied as it is (its chunk values and its channel
    /// faces with theirs). Channels are matched with the source channels by ID and type.
    /// With \p mode -1 the destination lists are first sized to hold this face's triangles
    /// from \p dstIndex on and shrunk afterwards to what was written; with any other mode the
    /// caller has sized them (faces of 3 corners).
    /// \return the number of faces written; 0, with nothing written, without a destination
    ///         face list, for a \p dstIndex outside it, unreadable positions or a ring without
    ///         a convex corner.
    int Triangulate(const CGeomInfo* geom, int dstIndex, int mode) const;
    /// \}
};

/// \brief A face of a texture-coordinate channel's face list.
class ZAN_API CUVWFace : public CFace
{
};
/// \brief A face of a vertex-colour channel's face list.
class ZAN_API CVCFace : public CFace
{
};
/// \brief A face of a weight channel's face list.
class ZAN_API CWeightFace : public CFace
{
};
/// \brief A face of a normal channel's face list.
class ZAN_API CNormalFace : public CFace
{
};

/// \brief One face held aside, with the chunk structure of a face list.
///
/// Used to keep a face while a list is rearranged (CFaceList::CopyTo, CFaceList::CopyFrom).
class ZAN_API CSingleFace
{
public:
    CSingleFace();
    /// \brief An empty face with the chunk structure of \p model.
    explicit CSingleFace(const CFaceList& model);
    ~CSingleFace();
    CSingleFace(const CSingleFace&) = delete;
    CSingleFace& operator=(const CSingleFace&) = delete;

    /// \brief Takes the chunk structure of \p model (one element per chunk) and empties the
    ///        corners.
    void Init(const CFaceList& model);
    int GetSize() const;
    /// \brief The corner indices, null when empty.
    const int* GetIndexes() const;
    /// \brief The face's property word, 0 without one.
    unsigned GetFlags() const;
    /// \brief The element of chunk \p id, null when absent.
    const void* GetData(unsigned id) const;
    const CDataChunk& GetDataChunks() const { return m_Chunks; }

private:
    friend class CFaceList;
    CFaceStorage m_Storage;
    CDataChunk m_Chunks;
};
