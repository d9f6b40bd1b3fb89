/// \file datachunk.h
/// \brief CDataChunk: the extra per-element columns of a point or face list.
///
/// Each chunk is a typed element array identified by a four-character id. The set keeps
/// every chunk exactly as long as its list, so that when the list grows, shrinks, is copied,
/// appended to or reordered, each element's extra data follows it. The list calls the
/// same-named operation of its set first and then acts on its own elements.
#pragma once

#include <vector>

#include <3dzan/foundation/elementarray.h>
#include <3dzan/foundation/hashmap.h>

/// \brief Chunk flags; only the low byte is stored with a chunk.
enum _DATA_CHUNK_FLAGS
{
    _ChunkFollowsCopies = 0x01, ///< created in the target by InitDataChunks, CopyData and
                                ///< AppendDataChunks when the target lacks it
    _ChunkMain = 0x02,          ///< the main chunk of the set (at most one)
    _ChunkReplace = 0x100       ///< AddDataChunk: replace an existing chunk even if it matches
};

/// \brief The set of data chunks of one list.
class ZAN_API CDataChunk
{
public:
    /// \brief One chunk: the owned element array and the stored flags (low byte).
    struct DataChunkInfo
    {
        CElementArray* m_Array = nullptr;
        unsigned m_Flags = 0;
    };

    CDataChunk();
    ~CDataChunk();
    /// Copies are made with InitDataChunks and CopyData: a member-wise copy would share arrays.
    CDataChunk(const CDataChunk&) = delete;
    CDataChunk& operator=(const CDataChunk&) = delete;

    /// \brief Adds a chunk of elements described by \p methods, as long as the list.
    ///
    /// The set takes over the caller's holder of \p methods. When a chunk \p id exists with
    /// the same element type and size and \p flags lacks _ChunkReplace, it keeps its data and
    /// takes the new methods and flags; otherwise it is replaced by a new chunk of
    /// constructed elements.
    /// \return the number of chunks after the call; 0 without methods.
    unsigned AddDataChunk(unsigned id, CElementMethods* methods, unsigned flags);
    /// \brief Deletes a chunk; false when absent. Removing the main chunk leaves none.
    bool RemoveDataChunk(unsigned id);
    bool HasDataChunk(unsigned id) const;
    unsigned GetChunksNbr() const { return m_Chunks.GetCount(); }
    /// \brief The element count every chunk holds (the list's).
    unsigned GetDataSize() const { return m_ElementCount; }

    /// \brief The array of a chunk, null when absent.
    const CElementArray* GetData(unsigned id) const;
    /// \brief Element \p index of a chunk; null when the chunk is absent or the index is not
    ///        below its count.
    void* GetData(unsigned id, unsigned index);
    const void* GetData(unsigned id, unsigned index) const;
    /// \brief Element \p index of the main chunk; null without one or out of range.
    void* GetMainData(unsigned index)
    {
        if (!m_MainArray || index >= unsigned(m_MainArray->GetSize()))
            return nullptr;
        return static_cast<uint8_t*>(m_MainArray->GetData()) +
               size_t(index) * m_MainArray->GetSizeOfElement();
    }
    const void* GetMainData(unsigned index) const
    {
        return const_cast<CDataChunk*>(this)->GetMainData(index);
    }
    /// \brief Id of the main chunk, 0xFFFFFFFF when there is none.
    unsigned GetMainChunkID() const { return m_MainID; }
    /// \brief Element size in bytes of the main chunk, 0 without one (no lookup).
    unsigned GetSizeOfMainChunk() const
    {
        return m_MainArray ? m_MainArray->GetSizeOfElement() : 0;
    }
    /// \brief Element size in bytes of a chunk, 0 when absent.
    unsigned GetSizeOfDataChunk(unsigned id) const;
    /// \brief Stored flags of a chunk, 0 when absent.
    unsigned GetChunkFlags(unsigned id) const;

    /// \brief First iteration position, 0xFFFFFFFF when the set is empty.
    unsigned GetFirstChunk() const { return m_Chunks.GetFirst(); }
    /// \brief Stores the id at \p position in \p id and moves \p position to the next chunk
    ///        (0xFFFFFFFF after the last). Order is the map's slot order.
    void GetNextChunk(unsigned& position, unsigned& id) const;

    /// \brief Sizes every chunk to \p count elements (see the list's SetSize).
    void SetDataSize(unsigned count, bool keepPreallocation, unsigned growBy);
    /// \brief Grows every chunk by \p added elements.
    void ExpandDataSize(unsigned added);
    /// \brief Empties the chunks and makes the next sizing pre-allocate \p count elements.
    void PreAllocate(int count, bool constructMode);
    /// \brief Sets the grow factor of every array; returns the last array's answer, 0 when
    ///        there are no chunks.
    int SetGrowFactor(int growBy);
    void FreeExtra();
    /// \brief Empties every chunk (chunks stay).
    void RemoveAll();
    /// \brief Deletes every chunk.
    void DeleteAll();
    /// \brief Applies the same reordering to every chunk (see CElementArray::Reorder).
    /// \return true when every chunk was reordered.
    bool Reorder(const unsigned* order, unsigned count, bool flag);

    /// \brief Rebuilds this set with the structure of \p src: an empty chunk for every chunk
    ///        of \p src that follows copies, then every chunk sized to \p count (0xFFFFFFFF:
    ///        the current count, which is 0 after the reset).
    void InitDataChunks(const CDataChunk& src, unsigned count);
    /// \brief Makes this set a copy of \p src; returns the number of chunks copied.
    unsigned CopyData(const CDataChunk& src);
    /// \brief Copies element \p srcIndex of every chunk of \p src that this set also has to
    ///        element \p dstIndex; returns the number of chunks so copied (0 out of range).
    unsigned CopyData(unsigned dstIndex, unsigned srcIndex, const CDataChunk& src);
    /// \brief For every chunk of \p src that this set also has, copies elements
    ///        `srcIndices[0..count)` onto elements \p dstFirst onward; returns the number of
    ///        chunks so copied (0, nothing changed, when an index is out of range).
    unsigned CopyData(unsigned dstFirst, const CDataChunk& src, const unsigned* srcIndices,
                      unsigned count);
    /// \brief Adds the chunks of \p src that follow copies and this set lacks, empty or with
    ///        the source's elements, then sizes them to this set's count.
    void AppendDataChunks(const CDataChunk& src, bool emptyOnly);

    /// \brief Stores or loads the set; loading replaces it only when the archive is valid.
    void Serialize(CXArchive& ar);
    /// \brief Exchanges the content of two sets (a set built aside is moved in this way).
    void Swap(CDataChunk& other) noexcept;

protected:
    /// \brief Re-reads the main chunk array pointer from the map.
    void UpdateMainChunk();

private:
    std::vector<unsigned> ArchiveOrder() const;
    void Store(unsigned id, CElementArray* array, unsigned flags);
    CElementArray* FindArray(unsigned id) const;
    void SizeArray(CElementArray& array, unsigned count, bool keepPreallocation) const;

    bool m_ConstructMode = false;
    unsigned m_PreAllocation = 0;
    unsigned m_ElementCount = 0;
    int m_GrowFactor = -1;
    CHashMap<unsigned, DataChunkInfo> m_Chunks;
    unsigned m_MainID = kZanNone;
    CElementArray* m_MainArray = nullptr;
};
