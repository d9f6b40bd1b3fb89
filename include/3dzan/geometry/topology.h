/// \file topology.h
/// \brief Adjacency types of the face lists: the edge key C3DEdge, the edge-to-face map
///        CAssociationMap, the connection types of index lists and CFaceGraphHelper, the
///        reusable result buffer of the neighbourhood queries.
///
/// A face list builds two graphs on demand (see CFaceList::InitPointToFaceGraph and
/// CFaceList::InitEdgeToFaceGraph): for every point the faces that use it, and for every
/// edge the faces that have it as a side. This header holds what those graphs and their
/// queries are made of; it depends on the foundation only.
#pragma once

#include <3dzan/foundation/hashmap.h>
#include <3dzan/foundation/zandefs.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

/// \brief An edge between two points, the key of the edge maps.
///
/// Made from two indices it keeps the smaller first, so that the two orientations of a face
/// side are the same key; Oriented keeps the order given, for code that needs a direction.
/// Equality compares both ends in order.
class ZAN_API C3DEdge
{
public:
    C3DEdge() = default;
    /// \brief The edge between \p a and \p b, smaller index first.
    C3DEdge(int a, int b) : m_Start(a < b ? a : b), m_End(a < b ? b : a) {}
    /// \brief The edge from \p from to \p to, in that order.
    static C3DEdge Oriented(int from, int to)
    {
        C3DEdge edge;
        edge.m_Start = from;
        edge.m_End = to;
        return edge;
    }

    int GetStart() const { return m_Start; }
    int GetEnd() const { return m_End; }
    /// \brief Whether the smaller index comes first (always true unless made by Oriented).
    bool IsNormalized() const { return m_Start <= m_End; }
    /// \brief The same edge, smaller index first.
    C3DEdge Normalized() const { return C3DEdge(m_Start, m_End); }
    /// \brief Whether both ends are the same point (a side such as (3, 3) is no edge).
    bool IsDegenerate() const { return m_Start == m_End; }

    /// \brief A 32-bit hash of both ends, in order.
    unsigned Hash() const { return HashOf(m_Start, m_End); }
    static unsigned HashOf(int start, int end)
    {
        uint64_t k = (uint64_t(uint32_t(start)) << 32) | uint32_t(end);
        k ^= k >> 33;
        k *= 0xFF51AFD7ED558CCDull;
        k ^= k >> 33;
        k *= 0xC4CEB9FE1A85EC53ull;
        k ^= k >> 33;
        return unsigned(k);
    }

    bool operator==(const C3DEdge& other) const
    {
        return m_Start == other.m_Start && m_End == other.m_End;
    }
    bool operator!=(const C3DEdge& other) const { return !(*this == other); }
    /// \brief Order by start, then end (for sorting edge lists).
    bool operator<(const C3DEdge& other) const
    {
        return m_Start != other.m_Start ? m_Start < other.m_Start : m_End < other.m_End;
    }

    int m_Start = 0; ///< first point (the smaller one in a key made from a side)
    int m_End = 0;   ///< second point
};

/// \brief Hashing of edges in the foundation's tables (CHashTable<C3DEdge>, CHashMap).
template <> struct CHashMethods<C3DEdge>
{
    unsigned Hash(const C3DEdge& key) const { return key.Hash(); }
    bool Equal(const C3DEdge& a, const C3DEdge& b) const { return a == b; }
};

/// \brief How two index lists A and B (typically the faces of two points) combine into a
///        result set.
enum _ConnectionInfoType : int
{
    _ConnectionUnion = 1,        ///< indices in A or B
    _ConnectionIntersection = 2, ///< indices in both
    _ConnectionFirstOnly = 3,    ///< A without B
    _ConnectionSecondOnly = 4,   ///< B without A
    _ConnectionExclusive = 5     ///< indices in exactly one of them
};

/// \brief Map from edges to the faces that have them as a side, each edge with its list of
///        face indices (at most 65 535 per edge).
///
/// *Layout.* One flat open-addressing table with linear probing: a slot holds the edge, its
/// face count and either the faces themselves (up to two, which covers every edge of a
/// manifold mesh) or the place of its faces in one shared pool of ints. No allocation per
/// edge. The table is sized for a capacity (edges it holds at three quarters full) and grows
/// only beyond it; removal shifts the following slots back, so no tombstones accumulate.
///
/// *Keys.* The map keeps keys as given. The face lists associate normalised edges (smaller
/// point first); Lookup and the other queries take the key as it is, so normalise an edge
/// before looking it up when it was made with C3DEdge::Oriented.
///
/// *Face lists.* The faces of an edge are kept in increasing order, each once.
///
/// Iteration (GetFirst, GetNext, ForEach) visits the edges in slot order; inserting or
/// removing during an iteration may visit an edge twice or not at all.
class ZAN_API CAssociationMap
{
public:
    static constexpr unsigned kMaxFacesPerEdge = 0xFFFF;

    /// \brief An empty map with room for \p capacity edges (at least a few).
    explicit CAssociationMap(unsigned capacity = 0);
    CAssociationMap(const CAssociationMap& src);
    CAssociationMap& operator=(const CAssociationMap& src);
    ~CAssociationMap();

    /// \brief Empties the map and sizes it for \p capacity edges.
    /// \return false, with the map unchanged, when memory is short or the capacity absurd
    ///         (above 2^30 edges).
    bool InitHashTable(unsigned capacity);
    /// \brief Makes room for \p capacity edges, keeping the entries (never shrinks).
    /// \return false, with the map unchanged, when memory is short or the capacity absurd.
    bool Reserve(unsigned capacity);
    /// \brief Removes every edge; the table keeps its size.
    void RemoveAll();

    /// \brief Number of edges.
    unsigned GetCount() const { return m_Count; }
    bool IsEmpty() const { return m_Count == 0; }
    /// \brief Edges the map holds before it grows.
    unsigned GetCapacity() const { return m_Capacity; }
    /// \brief Total of the face counts of all edges.
    uint64_t GetAssociationNbr() const { return m_Associations; }

    /// \brief Adds \p face to the faces of \p edge (creating the edge when absent).
    /// \return false, with nothing changed, when the face is already listed, is negative, the
    ///         edge already has 65 535 faces, or memory is short.
    bool Associate(const C3DEdge& edge, int face);
    /// \brief Removes \p face from the faces of \p edge; an edge left without faces is removed.
    /// \return false when the face was not listed.
    bool Dissociate(const C3DEdge& edge, int face);
    /// \brief Removes an edge with all its faces; false when absent.
    bool RemoveKey(const C3DEdge& edge);

    /// \brief The faces of \p edge (increasing) and their count; null and 0 when absent.
    ///        Valid until the map changes.
    const int* Lookup(const C3DEdge& edge, unsigned& count) const;
    /// \brief Number of faces of \p edge, 0 when absent.
    unsigned GetFaceCount(const C3DEdge& edge) const;
    bool HasKey(const C3DEdge& edge) const { return FindSlot(edge) != kZanNone; }

    /// \brief First position, kZanNone when empty.
    unsigned GetFirst() const { return NextUsed(0); }
    /// \brief The edge at \p pos with its faces; \p pos moves to the next (kZanNone after
    ///        the last). \throw CXInvalidArgException when \p pos holds no edge.
    const C3DEdge& GetNext(unsigned& pos, const int*& faces, unsigned& count) const;
    /// \brief Calls `f(const C3DEdge&, const int* faces, unsigned count)` for every edge.
    template <class F> void ForEach(F&& f) const
    {
        for (size_t i = 0; i < m_Size; ++i)
            if (m_Slots[i].m_Count)
                f(m_Slots[i].m_Edge, FacesOf(m_Slots[i]), unsigned(m_Slots[i].m_Count));
    }

    /// \brief Loads many (edge, face) pairs at once, in two passes over the same pairs.
    ///
    /// A table much larger than the processor's caches costs a cache miss per insertion
    /// when the pairs come in mesh order. The loader first counts the pairs of every band of
    /// slots (Count), then places each pair in its band's part of one buffer (Place), and
    /// finally inserts band after band (Finish), so that the insertions sweep the table
    /// once. The pairs of one band keep their order, so each edge still receives its faces
    /// in the order given. Give the same pairs, in the same order, to both passes.
    class ZAN_API CBulkLoader
    {
    public:
        /// \brief Reserves room for \p edges edges in \p map before the passes.
        CBulkLoader(CAssociationMap& map, unsigned edges);
        ~CBulkLoader();
        CBulkLoader(const CBulkLoader&) = delete;
        CBulkLoader& operator=(const CBulkLoader&) = delete;

        /// \brief First pass: counts a pair.
        void Count(const C3DEdge& edge) { ++m_Bands[BandOf(edge.Hash())]; }
        /// \brief Ends the first pass. \return false when memory is short.
        bool Prepare();
        /// \brief Second pass: places a pair (the pairs Count saw, in the same order).
        void Place(const C3DEdge& edge, int face)
        {
            unsigned hash = edge.Hash();
            size_t at = m_Bands[BandOf(hash)]++;
            if (at < m_Placed)
                m_Pairs[at] = {edge, face, hash};
        }
        /// \brief Inserts the placed pairs. \return false when an insertion failed for lack of
        ///        memory or room (an edge of 65 535 faces); a face given twice for one edge is
        ///        no failure.
        bool Finish();

    private:
        struct Pair
        {
            C3DEdge m_Edge;
            int m_Face;
            unsigned m_Hash;
        };
        size_t BandOf(unsigned hash) const { return size_t((uint64_t(hash) * m_BandNbr) >> 32); }

        CAssociationMap& m_Map;
        bool m_Ready = false;
        size_t m_BandNbr = 1;
        std::vector<size_t> m_Bands; ///< pairs per band, then where the next pair of it goes
        Pair* m_Pairs = nullptr;     ///< the placed pairs, band after band (owned)
        size_t m_Placed = 0;         ///< pairs counted
    };

private:
    struct Slot
    {
        C3DEdge m_Edge;
        uint16_t m_Count;    ///< 0: empty slot
        uint16_t m_Capacity; ///< 0: faces inline in m_Data; else room in the pool at m_Data[0]
        int m_Data[2];
    };
    struct FreeDeleter
    {
        void operator()(Slot* p) const { std::free(p); }
    };

    size_t HomeOf(unsigned hash) const { return size_t((uint64_t(hash) * m_Size) >> 32); }
    unsigned FindSlot(const C3DEdge& edge) const;
    unsigned FindSlot(const C3DEdge& edge, unsigned hash) const;
    unsigned NextUsed(size_t from) const;
    const int* FacesOf(const Slot& slot) const
    {
        return slot.m_Capacity ? m_Pool.data() + uint32_t(slot.m_Data[0]) : slot.m_Data;
    }
    int* FacesOf(Slot& slot)
    {
        return slot.m_Capacity ? m_Pool.data() + uint32_t(slot.m_Data[0]) : slot.m_Data;
    }
    bool AssociateHashed(const C3DEdge& edge, unsigned hash, int face);
    bool Grow(Slot& slot);
    void EraseSlot(size_t slot);
    bool Rebuild(unsigned capacity, bool keep);

    std::unique_ptr<Slot[], FreeDeleter> m_Slots;
    size_t m_Size = 0;       ///< slots in the table
    unsigned m_Capacity = 0; ///< edges held before growing (three quarters of the slots)
    unsigned m_Count = 0;    ///< edges
    uint64_t m_Associations = 0;
    std::vector<int> m_Pool; ///< faces of edges with more than two
    size_t m_PoolDead = 0;   ///< pool entries no edge uses any more
};

/// \brief The result buffer of the neighbourhood queries: a set of face or point indices and
///        an int array that only grows.
///
/// A query run into a helper empties its set, fills it, copies the members into the array in
/// table order and returns the array with the count. Keep one helper for a loop of queries:
/// the set and the array are reused and do not allocate once they are large enough.
class ZAN_API CFaceGraphHelper
{
public:
    CFaceGraphHelper();
    CFaceGraphHelper(const CFaceGraphHelper&) = delete;
    CFaceGraphHelper& operator=(const CFaceGraphHelper&) = delete;

    /// \brief The set the queries fill.
    CHashTable<int>& GetSet() { return m_Set; }
    const CHashTable<int>& GetSet() const { return m_Set; }
    /// \brief An array of more than \p n ints (grown, keeping its content, when \p n is not
    ///        below its size); null when memory is short or \p n is absurd (2^30 or more).
    int* GetArray(unsigned n);
    /// \brief Current size of the array.
    unsigned GetArraySize() const { return unsigned(m_Array.size()); }
    /// \brief Ends the use of an array GetArray returned. A very large array (more than a
    ///        million ints) is freed so that one big query does not pin its memory; others
    ///        are kept for reuse. Pointers that are not the helper's array are ignored.
    void ReleaseArray(const int* array);
    /// \brief Copies the set's members into the array in table order.
    /// \return the array (null for an empty set or a memory shortage) and the count.
    const int* CopySet(int& count);

private:
    CHashTable<int> m_Set;
    std::vector<int> m_Array;
};
