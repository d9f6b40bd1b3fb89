// Normals of a polygon mesh: face normals, smoothed point normals and specified normals.
//
// Face normals are Newell normals (the sum over the polygon's edges of the cross terms, which
// is exact for planar polygons and a least-squares plane for warped ones). A point normal is
// a weighted sum of the normals of the faces around the point (Thürmer and Wüthrich's angle
// weighting, Max's edge-length weighting, or plain and area-weighted sums). Smoothing is
// limited by an angle: around each point, the faces are grouped from a seed face, a face
// joining the group when its normal lies within the angle of the seed's; the other faces
// start later groups, and the point is marked as a normal break.
//
// The bulk pass reads raw arrays only: the positions at their stride, the face records, and
// the point-to-face graph's records. Each face's normal is computed once into one flat float
// array; each point's faces are gathered into a small scratch table (contribution and unit
// normal per face) before they are grouped, so that a face's contribution at a corner is
// computed once whatever the grouping. Distinct normals are stored once: an open-addressing
// table (power-of-two capacity, linear probing, grown at three quarters full, each slot
// keeping its normal's hash so that probes and growth do not read the normals) maps each
// normal, compared component by component, to its index in an array of fixed blocks. Lookups wait
// in small batches whose slots are prefetched, since the table is far larger than the caches.
// Because a normal gets the next index the first time it is met, indices come out in
// first-seen order whatever the table's layout.
#include <3dzan/geometry/normals.h>

#include <3dzan/foundation/elementarray.h>
#include <3dzan/foundation/services.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>

#include "facegeometry.h"
#include "graphuse.h"
#include "normalweights.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

using zan_detail::CWeighting;

namespace
{
constexpr unsigned kSkippedFaces = _FaceInvalid | _FaceExcluded;

template <class T> struct CReleaser
{
    void operator()(T* item) const
    {
        if (item)
            item->Delete();
    }
};
template <class T> using CHeld = std::unique_ptr<T, CReleaser<T>>;

_NormalSmoothMode ModeOf(const CGeomInfo* geom)
{
    if (const C3DGeomObject* object = geom ? geom->GetGeomObject() : nullptr)
        return object->GetSmoothMode();
    return C3DScene::GetSmoothMode(geom ? geom->GetScene() : nullptr);
}

const C3DPointList* PositionsOf(const CGeomInfo* geom)
{
    return geom ? dynamic_cast<const C3DPointList*>(geom->GetSrcPointList()) : nullptr;
}

bool AllFinite(const zan_detail::CPositionView& points)
{
    for (size_t i = 0; i < points.GetCount(); ++i)
    {
        const C3DTPoint<float>& p = points[i];
        if (!std::isfinite(p.m_X) || !std::isfinite(p.m_Y) || !std::isfinite(p.m_Z))
            return false;
    }
    return true;
}

bool IndexesInRange(const int* items, unsigned count, size_t pointNbr)
{
    for (unsigned k = 0; k < count; ++k)
        if (unsigned(items[k]) >= pointNbr)
            return false;
    return true;
}

// An uninitialised array from the library's block allocator, which maps big blocks with huge
// pages: filling a fresh array of tens of megabytes then costs a few page faults instead of
// one per 4 KiB page, and on virtual machines those faults cost more than the filling.
// Growing a mapped block remaps its pages rather than copying them.
template <class T> class CBlock
{
public:
    CBlock() = default;
    explicit CBlock(size_t count) { Resize(count); }
    CBlock(CBlock&& other) noexcept
        : m_Items(std::exchange(other.m_Items, nullptr)), m_Bytes(std::exchange(other.m_Bytes, 0))
    {
    }
    CBlock& operator=(CBlock&& other) noexcept
    {
        if (this != &other)
        {
            Reset();
            m_Items = std::exchange(other.m_Items, nullptr);
            m_Bytes = std::exchange(other.m_Bytes, 0);
        }
        return *this;
    }
    ~CBlock() { Reset(); }

    /// \brief Makes room for \p count items, keeping the leading ones.
    /// \throw std::bad_alloc when the memory cannot be had (the block is unchanged).
    void Resize(size_t count)
    {
        const size_t bytes = std::max<size_t>(count, 1) * sizeof(T);
        void* block = m_Items ? ZanResizeBlock(m_Items, m_Bytes, bytes) : ZanAllocateBlock(bytes);
        if (!block)
            throw std::bad_alloc();
        m_Items = static_cast<T*>(block);
        m_Bytes = bytes;
    }
    void Reset()
    {
        ZanFreeBlock(m_Items, m_Bytes);
        m_Items = nullptr;
        m_Bytes = 0;
    }
    T* Get() const { return m_Items; }
    T& operator[](size_t i) const { return m_Items[i]; }

private:
    T* m_Items = nullptr;
    size_t m_Bytes = 0;
};

// The distinct normals met so far, each once, numbered in the order they were first met.
// A slot holds the normal's 32-bit hash beside its index, so that probing past other normals
// and growing never read the normals themselves: only a slot whose hash matches is compared.
class CDistinctNormals
{
public:
    explicit CDistinctNormals(size_t expected)
    {
        size_t capacity = 1024;
        while (capacity < expected * 2)
            capacity *= 2;
        m_Slots = NewSlots(capacity);
        m_Capacity = capacity;
        m_Normals.Resize(std::max<size_t>(expected, 256) * 3);
        m_NormalCapacity = std::max<size_t>(expected, 256);
    }

    static uint32_t Hash(const float n[3])
    {
        uint64_t h = (uint64_t(Bits(n[0])) * 0x9E3779B97F4A7C15ull) ^
                     (uint64_t(Bits(n[1])) * 0xC2B2AE3D27D4EB4Full) ^
                     (uint64_t(Bits(n[2])) * 0x165667B19E3779F9ull);
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        return uint32_t(h ^ (h >> 32));
    }
    /// \brief Asks the memory for the slot a hash starts at, ahead of its Find.
    void Prefetch(uint32_t hash) const { __builtin_prefetch(&m_Slots[hash & (m_Capacity - 1)]); }
    static constexpr unsigned kAbsent = ~0u;
    /// \brief The index of \p n, or kAbsent when the table does not hold it.
    unsigned Lookup(const float n[3], uint32_t hash) const
    {
        const size_t mask = m_Capacity - 1;
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask)
        {
            const CSlot held = m_Slots[slot];
            if (held.m_Index == 0)
                return kAbsent;
            if (held.m_Hash != hash)
                continue;
            const float* known = GetNormal(held.m_Index - 1);
            if (known[0] == n[0] && known[1] == n[1] && known[2] == n[2])
                return held.m_Index - 1;
        }
    }
    /// \brief The index of \p n, which gets the next index when it is new.
    unsigned Find(const float n[3], uint32_t hash)
    {
        const size_t mask = m_Capacity - 1;
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask)
        {
            const CSlot held = m_Slots[slot];
            if (held.m_Index == 0)
            {
                const unsigned index = unsigned(m_Count);
                Append(n);
                m_Slots[slot] = CSlot{hash, index + 1};
                // Linear probing stays short below three quarters full.
                if (++m_Used * 4 >= m_Capacity * 3)
                    Grow();
                return index;
            }
            if (held.m_Hash != hash)
                continue;
            const float* known = GetNormal(held.m_Index - 1);
            if (known[0] == n[0] && known[1] == n[1] && known[2] == n[2])
                return held.m_Index - 1;
        }
    }
    size_t GetCount() const { return m_Count; }
    const float* GetNormal(size_t index) const { return &m_Normals[index * 3]; }
    /// \brief Frees the slots once no more normals come (the normals stay readable).
    void ReleaseSlots()
    {
        m_Slots.reset();
        m_Capacity = 0;
    }
    void Release()
    {
        ReleaseSlots();
        m_Normals.Reset();
        m_NormalCapacity = 0;
        m_Count = 0;
    }

private:
    struct CSlot
    {
        uint32_t m_Hash;
        uint32_t m_Index; ///< normal index + 1, 0 for an empty slot
    };
    static uint32_t Bits(float value)
    {
        value += 0.0f; // -0 and +0 compare equal: hash them alike
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }
    // Large tables come as huge pages from the system, already zeroed: a table of millions of
    // slots then costs a few page faults instead of one (or two, reading then writing) per
    // 4 KiB page.
    struct CFree
    {
        CFree() noexcept : m_Bytes(0) {}
        explicit CFree(size_t bytes) noexcept : m_Bytes(bytes) {}
        size_t m_Bytes;
        void operator()(CSlot* slots) const { ZanFreeBlock(slots, m_Bytes); }
    };
    using CSlots = std::unique_ptr<CSlot[], CFree>;
    static CSlots NewSlots(size_t capacity)
    {
        const size_t bytes = capacity * sizeof(CSlot);
        auto* slots = static_cast<CSlot*>(ZanAllocateZeroedBlock(bytes));
        if (!slots)
            throw std::bad_alloc();
        return CSlots(slots, CFree(bytes));
    }
    void Grow()
    {
        const size_t capacity = m_Capacity * 2;
        CSlots slots = NewSlots(capacity);
        const size_t mask = capacity - 1;
        for (size_t i = 0; i < m_Capacity; ++i)
        {
            const CSlot& held = m_Slots[i];
            if (!held.m_Index)
                continue;
            size_t slot = held.m_Hash & mask;
            while (slots[slot].m_Index)
                slot = (slot + 1) & mask;
            slots[slot] = held;
        }
        m_Slots = std::move(slots);
        m_Capacity = capacity;
    }

    CSlots m_Slots;
    size_t m_Capacity = 0;
    void Append(const float n[3])
    {
        if (m_Count == m_NormalCapacity)
        {
            m_Normals.Resize(m_NormalCapacity * 2 * 3);
            m_NormalCapacity *= 2;
        }
        std::memcpy(&m_Normals[m_Count * 3], n, 3 * sizeof(float));
        ++m_Count;
    }
    CBlock<float> m_Normals; ///< 3 floats per distinct normal
    size_t m_NormalCapacity = 0;
    size_t m_Count = 0;
    size_t m_Used = 0;
};

// One face around the point being smoothed.
struct CAround
{
    unsigned m_Face;
    unsigned m_State; ///< 0 unvisited, 1 grouped or ignored
    float m_Unit[3];
    float m_Contribution[3];
};

// A group of faces around one point, waiting for its normal's index.
struct CGroup
{
    float m_Sum[3];
    uint32_t m_Hash;
    unsigned m_Point;
    unsigned m_FirstMember;
};

// Normal indices per corner, at the places the face storage keeps the faces' point indices:
// a face's corners are found through the face storage's own offsets, with no table of
// where each face starts.
struct CCornerIndexes
{
    int* m_Items = nullptr;
    const uint64_t* m_Offsets = nullptr;
    int* At(unsigned face) const
    {
        return m_Items + (m_Offsets[face] + CFaceStorage::kHeaderBytes) / sizeof(int);
    }
};

struct CSmoothingInput
{
    zan_detail::CPositionView m_Points;
    const CFaceStorage* m_Faces = nullptr;
    const CFaceStorage* m_Graph = nullptr;
    const float* m_FaceUnits = nullptr;     ///< unit normal, 3 per face
    const float* m_FaceRaws = nullptr;      ///< unnormalised normal, 3 per face (area, edge)
    const uint8_t* m_FaceSkipped = nullptr; ///< no normal: flagged, bad indices, < 3 corners
    float m_CosLimit = 0;
};

// Groups the faces around the points [begin, end) and gives each corner at those points its
// group's normal, numbered by \p table. Writes the indices into \p out and marks the points
// where the normals break. Ranges of points may run at once: a corner belongs to one point,
// so two ranges never write the same index or mark.
template <CWeighting W>
void SmoothPoints(const CSmoothingInput& in, unsigned begin, unsigned end,
                  const CCornerIndexes& out, CDistinctNormals& table, uint8_t* breaks)
{
    std::vector<CAround> around;
    // Groups wait in small batches so that their table slots are fetched from memory while
    // later points are grouped; they are looked up in the order they were made, which keeps
    // the first-met numbering.
    constexpr size_t kBatch = 64;
    std::vector<CGroup> groups;
    std::vector<unsigned> members; // the faces of the waiting groups, group after group
    groups.reserve(kBatch + 64);
    auto flush = [&]()
    {
        for (size_t g = 0; g < groups.size(); ++g)
        {
            const CGroup& group = groups[g];
            const int index = int(table.Find(group.m_Sum, group.m_Hash));
            const size_t last =
                g + 1 < groups.size() ? groups[g + 1].m_FirstMember : members.size();
            for (size_t m = group.m_FirstMember; m < last; ++m)
            {
                const unsigned f = members[m];
                const unsigned count = in.m_Faces->CountAt(f);
                const int* items = in.m_Faces->ItemsAt(f);
                int* target = out.At(f);
                for (unsigned k = 0; k < count; ++k)
                    if (unsigned(items[k]) == group.m_Point)
                        target[k] = index;
            }
        }
        groups.clear();
        members.clear();
    };
    for (unsigned p = begin; p < end; ++p)
    {
        const unsigned n = in.m_Graph->CountAt(p);
        if (n == 0)
            continue;
        const int* faces = in.m_Graph->ItemsAt(p);
        around.resize(n);
        const C3DTPoint<float>& here = in.m_Points[p];
        for (unsigned i = 0; i < n; ++i)
        {
            CAround& entry = around[i];
            const unsigned f = unsigned(faces[i]);
            entry.m_Face = f;
            entry.m_State = 0;
            if (in.m_FaceSkipped[f])
            {
                entry.m_State = 1;
                continue;
            }
            const float* unit = in.m_FaceUnits + size_t(f) * 3;
            const float* raw = in.m_FaceRaws ? in.m_FaceRaws + size_t(f) * 3 : unit;
            std::memcpy(entry.m_Unit, unit, sizeof entry.m_Unit);
            float e1[3] = {0, 0, 0}, e2[3] = {0, 0, 0};
            if constexpr (W == CWeighting::EdgeLength || W == CWeighting::Angle)
            {
                const unsigned count = in.m_Faces->CountAt(f);
                const int* items = in.m_Faces->ItemsAt(f);
                unsigned k = 0;
                while (k < count && unsigned(items[k]) != p)
                    ++k;
                const C3DTPoint<float>& prev =
                    in.m_Points[unsigned(items[(k + count - 1) % count])];
                const C3DTPoint<float>& next = in.m_Points[unsigned(items[(k + 1) % count])];
                e1[0] = prev.m_X - here.m_X, e1[1] = prev.m_Y - here.m_Y,
                e1[2] = prev.m_Z - here.m_Z;
                e2[0] = next.m_X - here.m_X, e2[1] = next.m_Y - here.m_Y,
                e2[2] = next.m_Z - here.m_Z;
            }
            float contribution[3] = {0, 0, 0};
            zan_detail::AddWeighted<W>(entry.m_Unit, raw, e1, e2, contribution);
            std::memcpy(entry.m_Contribution, contribution, sizeof contribution);
        }

        unsigned seed = 0;
        while (seed < n && around[seed].m_State != 0)
            ++seed;
        while (seed < n)
        {
            const float* s = around[seed].m_Unit;
            CGroup group;
            group.m_Point = p;
            group.m_FirstMember = unsigned(members.size());
            float sum[3] = {0, 0, 0};
            for (unsigned j = seed; j < n; ++j)
            {
                CAround& entry = around[j];
                if (entry.m_State == 1)
                    continue;
                if (j != seed)
                {
                    const float cosine =
                        s[0] * entry.m_Unit[0] + s[1] * entry.m_Unit[1] + s[2] * entry.m_Unit[2];
                    if (in.m_CosLimit > cosine)
                    {
                        breaks[p] = 1;
                        continue;
                    }
                }
                sum[0] += entry.m_Contribution[0];
                sum[1] += entry.m_Contribution[1];
                sum[2] += entry.m_Contribution[2];
                entry.m_State = 1;
                members.push_back(entry.m_Face);
            }
            zan_detail::NormalizeSum(sum);
            std::memcpy(group.m_Sum, sum, sizeof sum);
            group.m_Hash = CDistinctNormals::Hash(sum);
            table.Prefetch(group.m_Hash);
            groups.push_back(group);
            while (seed < n && around[seed].m_State != 0)
                ++seed;
        }
        if (groups.size() >= kBatch)
            flush();
    }
    flush();
}

void SmoothRange(CWeighting weighting, const CSmoothingInput& in, unsigned begin, unsigned end,
                 const CCornerIndexes& out, CDistinctNormals& table, uint8_t* breaks)
{
    switch (weighting)
    {
    case CWeighting::Unweighted:
        SmoothPoints<CWeighting::Unweighted>(in, begin, end, out, table, breaks);
        break;
    case CWeighting::Area:
        SmoothPoints<CWeighting::Area>(in, begin, end, out, table, breaks);
        break;
    case CWeighting::EdgeLength:
        SmoothPoints<CWeighting::EdgeLength>(in, begin, end, out, table, breaks);
        break;
    case CWeighting::Angle:
        SmoothPoints<CWeighting::Angle>(in, begin, end, out, table, breaks);
        break;
    }
}

// Fewest points worth a range of their own: below this, starting a thread and merging the
// tables cost more than the grouping they share.
constexpr unsigned kMinRangePoints = 16384;
// Faces per hand-out of the loops over faces.
constexpr unsigned kFaceBlock = 16384;

// Runs body(first, last) over [0, count) in blocks of \p block items on up to \p threads
// threads.
template <class F> void ForBlocks(unsigned count, unsigned block, int threads, F&& body)
{
    const unsigned blocks = (count + block - 1) / block;
    ZanParallelFor(
        int(blocks),
        [&](int b)
        {
            const unsigned first = unsigned(b) * block;
            body(first, std::min(count, first + block));
        },
        threads, 1);
}

// Smoothing split over consecutive point ranges, each numbering its own normals, then joined
// into the numbering one pass over every point would give: a normal takes the index of its
// first appearance in point order. Range 0's indices stand. A later range's normal that an
// earlier range holds takes that range's final index; the others follow, in the range's own
// order, after everything numbered before. Corners of later ranges are renumbered as they
// are copied to the normal faces.
class CSplitSmoothing
{
public:
    CSplitSmoothing(const CSmoothingInput& in, unsigned pointNbr, int threads)
        : m_In(in), m_Threads(threads)
    {
        const unsigned ranges =
            std::max(1u, std::min(unsigned(std::max(threads, 1)), pointNbr / kMinRangePoints));
        for (unsigned r = 0; r <= ranges; ++r)
            m_Bounds.push_back(unsigned(uint64_t(pointNbr) * r / ranges));
        m_Tables.reserve(ranges);
        for (unsigned r = 0; r < ranges; ++r)
            m_Tables.emplace_back(m_Bounds[r + 1] - m_Bounds[r]);
    }

    unsigned GetRangeNbr() const { return unsigned(m_Tables.size()); }

    void Smooth(CWeighting weighting, const CCornerIndexes& out, uint8_t* breaks)
    {
        ZanParallelFor(
            int(GetRangeNbr()),
            [&](int r)
            {
                SmoothRange(weighting, m_In, m_Bounds[size_t(r)], m_Bounds[size_t(r) + 1], out,
                            m_Tables[size_t(r)], breaks);
            },
            m_Threads, 1);
        m_NormalNbr = m_Tables[0].GetCount();
        if (GetRangeNbr() > 1)
            Join();
        for (CDistinctNormals& table : m_Tables)
            table.ReleaseSlots();
    }

    size_t GetNormalNbr() const { return m_NormalNbr; }

    /// \brief Copies the indices of the faces [first, last) from \p from to \p to in their
    ///        final numbering. Faces that were not smoothed are left as they are in \p to.
    void CopyIndexes(const CCornerIndexes& from, CFaceStorage& to, unsigned first,
                     unsigned last) const
    {
        const unsigned split = m_Bounds[1];
        for (unsigned f = first; f < last; ++f)
        {
            if (m_In.m_FaceSkipped[f])
                continue;
            const unsigned count = m_In.m_Faces->CountAt(f);
            const int* items = m_In.m_Faces->ItemsAt(f);
            const int* source = from.At(f);
            int* target = to.ItemsAt(f);
            if (m_Maps.empty())
            {
                std::memcpy(target, source, count * sizeof(int));
                continue;
            }
            for (unsigned k = 0; k < count; ++k)
            {
                const unsigned p = unsigned(items[k]);
                int index = source[k];
                if (p >= split)
                {
                    size_t r = 1;
                    while (r + 2 < m_Bounds.size() && p >= m_Bounds[r + 1])
                        ++r;
                    const std::vector<unsigned>& map = m_Maps[r];
                    index = unsigned(index) < map.size() ? int(map[unsigned(index)]) : 0;
                }
                target[k] = index;
            }
        }
    }
    /// \brief Frees the normals and the renumbering once they are copied.
    void Release()
    {
        m_Tables.clear();
        m_Maps.clear();
    }

    /// \brief Copies every distinct normal to \p out[0, GetNormalNbr()), in index order.
    void CopyNormals(CPointView<C3DTVector<float>>& out) const
    {
        for (size_t r = 0; r < m_Tables.size(); ++r)
        {
            const CDistinctNormals& table = m_Tables[r];
            const unsigned base = r == 0 ? 0u : m_Bases[r];
            for (size_t j = 0; j < table.GetCount(); ++j)
            {
                const unsigned index = r == 0 ? unsigned(j) : m_Maps[r][j];
                if (index < base)
                    continue; // an earlier range holds it
                const float* n = table.GetNormal(j);
                out[index].Set(n[0], n[1], n[2]);
            }
        }
    }

private:
    static constexpr unsigned kAbsent = CDistinctNormals::kAbsent;

    void Join()
    {
        m_Maps.resize(m_Tables.size());
        m_Bases.assign(m_Tables.size(), 0);
        for (size_t r = 1; r < m_Tables.size(); ++r)
        {
            const CDistinctNormals& table = m_Tables[r];
            std::vector<unsigned>& map = m_Maps[r];
            map.assign(table.GetCount(), kAbsent);
            // Where an earlier range holds the normal, its final index.
            ForBlocks(unsigned(table.GetCount()), kFaceBlock, m_Threads,
                      [&](unsigned first, unsigned last)
                      { LookUpEarlier(r, first, last, map.data()); });
            m_Bases[r] = unsigned(m_NormalNbr);
            for (unsigned& index : map)
                if (index == kAbsent)
                    index = unsigned(m_NormalNbr++);
        }
    }

    // Final indices of the normals [first, last) of range r that an earlier range holds.
    // Earlier tables are only read here, so blocks of normals may be looked up at once.
    void LookUpEarlier(size_t r, unsigned first, unsigned last, unsigned* map) const
    {
        const CDistinctNormals& table = m_Tables[r];
        constexpr unsigned kBatch = 32;
        uint32_t hashes[kBatch];
        for (unsigned start = first; start < last; start += kBatch)
        {
            const unsigned stop = std::min(last, start + kBatch);
            for (unsigned j = start; j < stop; ++j)
                hashes[j - start] = CDistinctNormals::Hash(table.GetNormal(j));
            for (size_t q = 0; q < r; ++q)
            {
                const CDistinctNormals& earlier = m_Tables[q];
                for (unsigned j = start; j < stop; ++j)
                    if (map[j] == kAbsent)
                        earlier.Prefetch(hashes[j - start]);
                for (unsigned j = start; j < stop; ++j)
                {
                    if (map[j] != kAbsent)
                        continue;
                    const unsigned at = earlier.Lookup(table.GetNormal(j), hashes[j - start]);
                    if (at != CDistinctNormals::kAbsent)
                        map[j] = q == 0 ? at : m_Maps[q][at];
                }
            }
        }
    }

    const CSmoothingInput& m_In;
    int m_Threads;
    std::vector<unsigned> m_Bounds;            ///< range r is [m_Bounds[r], m_Bounds[r + 1])
    std::vector<CDistinctNormals> m_Tables;    ///< each range's normals, first met first
    std::vector<std::vector<unsigned>> m_Maps; ///< final index of each later range's normal
    std::vector<unsigned> m_Bases;             ///< first final index a later range adds
    size_t m_NormalNbr = 0;
};

// The unit normal of face \p f of \p faces, (1, 0, 0) when it has none.
void FaceUnitNormal(const zan_detail::CPositionView& points, const CFaceList& faces, unsigned f,
                    float unit[3])
{
    int count;
    const int* items = faces.GetIndexes(f, count);
    zan_detail::NewellNormal(points, items, unsigned(count), unit, true);
}
} // namespace

// ================================================================ CFaceNormalContributionInfo

CFaceNormalContributionInfo::CFaceNormalContributionInfo(const CGeomInfo* geom,
                                                         _NormalSmoothMode mode)
    : m_Geom(geom), m_Faces(geom ? geom->GetSrcFaceList() : nullptr), m_Points(PositionsOf(geom)),
      m_Mode(mode)
{
    InitNormalCallback(mode);
    if (!IsValid() || !zan_detail::NeedsRawNormal(zan_detail::WeightingOf(mode)))
        return;
    const unsigned faceNbr = unsigned(m_Faces->GetSize());
    m_RawNormals.assign(size_t(faceNbr) * 3, 0.0f);
    const zan_detail::CPositionView points = m_Points->GetPointView();
    m_Faces->ForEachFace(
        [&](unsigned f, const int* items, unsigned count)
        {
            float* raw = &m_RawNormals[size_t(f) * 3];
            if (m_Faces->IsFaceOneFlagSet(f, kSkippedFaces))
                return;
            zan_detail::NewellNormal(points, items, count, raw, false);
        });
}

CFaceNormalContributionInfo::~CFaceNormalContributionInfo() = default;

void CFaceNormalContributionInfo::InitNormalCallback(_NormalSmoothMode mode)
{
    switch (zan_detail::WeightingOf(mode))
    {
    case CWeighting::Unweighted:
        m_Callback = &NormalUnweight;
        break;
    case CWeighting::EdgeLength:
        m_Callback = &NormalEdgeWeight;
        break;
    case CWeighting::Angle:
        m_Callback = &NormalAngleWeight;
        break;
    case CWeighting::Area:
        m_Callback = &NormalAreaWeight;
        break;
    }
}

bool CFaceNormalContributionInfo::SetCorner(unsigned face, unsigned position,
                                            const C3DTVector<float>& unitNormal)
{
    m_HasCorner = false;
    if (!IsValid() || face >= unsigned(m_Faces->GetSize()))
        return false;
    int count;
    const int* items = m_Faces->GetIndexes(face, count);
    const zan_detail::CPositionView points = m_Points->GetPointView();
    if (!items || count < 3 || position >= unsigned(count) ||
        !IndexesInRange(items, unsigned(count), points.GetCount()))
        return false;
    const unsigned n = unsigned(count);
    m_Face = face;
    m_Position = position;
    m_Indexes = items;
    m_Count = n;
    m_Point = items[position];
    m_UnitNormal = unitNormal;
    const C3DTPoint<float>& here = points[unsigned(m_Point)];
    m_Edge1 = points[unsigned(items[(position + n - 1) % n])] - here;
    m_Edge2 = points[unsigned(items[(position + 1) % n])] - here;
    m_HasCorner = true;
    return true;
}

bool CFaceNormalContributionInfo::SetCornerAtPoint(unsigned face, int point,
                                                   const C3DTVector<float>& unitNormal)
{
    m_HasCorner = false;
    if (!IsValid() || face >= unsigned(m_Faces->GetSize()))
        return false;
    int count;
    const int* items = m_Faces->GetIndexes(face, count);
    for (int k = 0; k < count; ++k)
        if (items[k] == point)
            return SetCorner(face, unsigned(k), unitNormal);
    return false;
}

namespace
{
template <CWeighting W>
void AddFromInfo(const float unit[3], const float* raw, const C3DTVector<float>& e1,
                 const C3DTVector<float>& e2, C3DTVector<float>& sum)
{
    const float a[3] = {e1.m_X, e1.m_Y, e1.m_Z};
    const float b[3] = {e2.m_X, e2.m_Y, e2.m_Z};
    const float zero[3] = {0, 0, 0};
    float s[3] = {sum.m_X, sum.m_Y, sum.m_Z};
    zan_detail::AddWeighted<W>(unit, raw ? raw : zero, a, b, s);
    sum.Set(s[0], s[1], s[2]);
}
} // namespace

void CFaceNormalContributionInfo::NormalUnweight(const CFaceNormalContributionInfo& info,
                                                 C3DTVector<float>& sum)
{
    const float unit[3] = {info.m_UnitNormal.m_X, info.m_UnitNormal.m_Y, info.m_UnitNormal.m_Z};
    AddFromInfo<CWeighting::Unweighted>(unit, nullptr, info.m_Edge1, info.m_Edge2, sum);
}

void CFaceNormalContributionInfo::NormalAreaWeight(const CFaceNormalContributionInfo& info,
                                                   C3DTVector<float>& sum)
{
    const float unit[3] = {info.m_UnitNormal.m_X, info.m_UnitNormal.m_Y, info.m_UnitNormal.m_Z};
    const float* raw =
        info.m_RawNormals.empty() ? nullptr : &info.m_RawNormals[size_t(info.m_Face) * 3];
    AddFromInfo<CWeighting::Area>(unit, raw, info.m_Edge1, info.m_Edge2, sum);
}

void CFaceNormalContributionInfo::NormalEdgeWeight(const CFaceNormalContributionInfo& info,
                                                   C3DTVector<float>& sum)
{
    const float unit[3] = {info.m_UnitNormal.m_X, info.m_UnitNormal.m_Y, info.m_UnitNormal.m_Z};
    const float* raw =
        info.m_RawNormals.empty() ? nullptr : &info.m_RawNormals[size_t(info.m_Face) * 3];
    AddFromInfo<CWeighting::EdgeLength>(unit, raw, info.m_Edge1, info.m_Edge2, sum);
}

void CFaceNormalContributionInfo::NormalAngleWeight(const CFaceNormalContributionInfo& info,
                                                    C3DTVector<float>& sum)
{
    const float unit[3] = {info.m_UnitNormal.m_X, info.m_UnitNormal.m_Y, info.m_UnitNormal.m_Z};
    AddFromInfo<CWeighting::Angle>(unit, nullptr, info.m_Edge1, info.m_Edge2, sum);
}

// ================================================================ face normals

bool CFaceNormalChannel::InitNormals(const CGeomInfo* geom)
{
    if (!IsOneFlagSet(_ChannelInvalid | _ChannelModified))
        return true;
    const CFaceList* faces = geom ? geom->GetSrcFaceList() : nullptr;
    const C3DPointList* positions = PositionsOf(geom);
    C3DVectorList* list = GetNormalVectorList();
    if (!faces || !positions || faces->GetSize() == 0 || !list)
        return false;
    const unsigned faceNbr = unsigned(faces->GetSize());
    const unsigned oldNbr = unsigned(list->GetSize());
    if (!list->SetSize(int(faceNbr)))
        return false;
    SetFlag(_ChannelModified, false);
    SetFlag(_ChannelInvalid, false);
    const zan_detail::CPositionView points = positions->GetPointView();
    CPointView<C3DTVector<float>> normals = list->GetPointView();
    faces->ForEachFace(
        [&](unsigned f, const int* items, unsigned count)
        {
            if (faces->IsFaceOneFlagSet(f, kSkippedFaces))
            {
                // New entries of skipped faces hold the fallback rather than nothing.
                if (f >= oldNbr)
                    normals[f].Set(1.0f, 0.0f, 0.0f);
                return;
            }
            float n[3];
            zan_detail::NewellNormal(points, items, count, n, true);
            normals[f].Set(n[0], n[1], n[2]);
        });
    return true;
}

// ================================================================ point normals

bool CPointNormalChannel::InitNormals(const CGeomInfo* geom, float angle)
{
    if (std::isnan(angle))
        return false;
    if (angle == m_SmoothAngle && !IsOneFlagSet(_ChannelInvalid | _ChannelModified))
        return true;
    CFaceList* faces = geom ? geom->GetSrcFaceList() : nullptr;
    CPointList* pointList = geom ? geom->GetSrcPointList() : nullptr;
    if (!faces || !pointList || faces->GetSize() == 0 || pointList->GetSize() == 0 ||
        !GetNormalFaceList() || !GetNormalVectorList())
    {
        m_SmoothAngle = angle;
        SetFlag(_ChannelModified, false);
        return true;
    }
    auto* positions = dynamic_cast<C3DPointList*>(pointList);
    if (!positions)
        return false;
    const zan_detail::CPositionView points = std::as_const(*positions).GetPointView();
    if (!AllFinite(points))
    {
        WriteToLogFile("CPointNormalChannel::InitNormals: a point has a non-finite coordinate\n");
        return false;
    }
    const uint64_t start = timeGetTick();
    const CWeighting weighting = zan_detail::WeightingOf(ModeOf(geom));
    try
    {
        // The object may hold a face-normal channel too (viewers read it): keep it current.
        if (CDependentChannels* channels = geom->GetSrcChannels())
            if (auto* faceNormals =
                    dynamic_cast<CFaceNormalChannel*>(channels->GetFaceNormalChannel()))
                faceNormals->InitNormals(geom);

        auto graphUse = std::make_unique<zan_detail::CFaceGraphUse>(*faces, geom);
        const CFaceStorage* graph = faces->GetPointToFaceGraph();
        if (!graphUse->IsHeld() || !graph)
            return false;

        const unsigned faceNbr = unsigned(faces->GetSize());
        const size_t pointNbr = points.GetCount();
        // Only points with a record can be smoothed: a face naming any other point is left
        // out like a face naming a point that does not exist.
        const unsigned records = std::min<unsigned>(graph->GetCount(), unsigned(pointNbr));
        const CFaceStorage& storage = faces->GetStorage();
        const int threads = OMPGetMaxThreadCount();
        // Every face's normal once, unit and (for the weightings that read it) unnormalised,
        // rather than once per corner. Left uninitialised: a face is written or marked
        // skipped before it is read.
        const bool raw = zan_detail::NeedsRawNormal(weighting);
        CBlock<float> faceUnits(size_t(faceNbr) * 3);
        CBlock<float> faceRaws;
        if (raw)
            faceRaws.Resize(size_t(faceNbr) * 3);
        std::vector<uint8_t> skipped(faceNbr, 0);
        for (unsigned f = 0; f < faceNbr; ++f)
            skipped[f] = faces->IsFaceOneFlagSet(f, kSkippedFaces);
        ForBlocks(faceNbr, kFaceBlock, threads,
                  [&](unsigned first, unsigned last)
                  {
                      for (unsigned f = first; f < last; ++f)
                      {
                          const unsigned count = storage.CountAt(f);
                          const int* items = storage.ItemsAt(f);
                          if (skipped[f] || count < 3 || !IndexesInRange(items, count, records))
                          {
                              skipped[f] = 1;
                              continue;
                          }
                          float* unit = &faceUnits[size_t(f) * 3];
                          if (!raw)
                          {
                              zan_detail::NewellNormal(points, items, count, unit, true);
                              continue;
                          }
                          float* rawNormal = &faceRaws[size_t(f) * 3];
                          zan_detail::NewellNormal(points, items, count, rawNormal, false);
                          zan_detail::UnitFromRaw(rawNormal, unit);
                      }
                  });

        // The normal indices wait beside the faces' own layout until the graph and the face
        // normals are freed; only then is the normal face list made, which keeps the peak
        // memory down. Left uninitialised: only the corners of smoothed faces are read.
        CBlock<int> corners(size_t(storage.GetUsedBytes() / sizeof(int)));
        const CCornerIndexes cornerIndexes{corners.Get(), storage.GetOffsets().GetData()};
        CSmoothingInput input;
        input.m_Points = points;
        input.m_Faces = &storage;
        input.m_Graph = graph;
        input.m_FaceUnits = faceUnits.Get();
        input.m_FaceRaws = faceRaws.Get();
        input.m_FaceSkipped = skipped.data();
        input.m_CosLimit = std::cos(angle);
        std::vector<uint8_t> breaks(pointNbr, 0);
        CSplitSmoothing smoothing(input, records, threads);
        smoothing.Smooth(weighting, cornerIndexes, breaks.data());
        // The graph and the face normals are done with: free them before the output grows.
        graphUse.reset();
        faceUnits.Reset();
        faceRaws.Reset();

        // Sized from the corner counts alone: new corners hold 0 and faces below three
        // corners get _FaceInvalid, as normal faces should before smoothing.
        CHeld<CNormalFaceList> normalFaces(new CNormalFaceList);
        {
            std::vector<unsigned> counts(faceNbr);
            for (unsigned f = 0; f < faceNbr; ++f)
                counts[f] = storage.CountAt(f);
            if (!normalFaces->SetSize(int(faceNbr), counts.data()))
                return false;
        }
        for (unsigned f = 0; f < faceNbr; ++f)
        {
            const unsigned count = storage.CountAt(f);
            if (faces->IsFaceOneFlagSet(f, _FaceInvalid))
            {
                CFace* handle = normalFaces->CreateFace();
                if (normalFaces->GetFace(f, *handle))
                    handle->SetSize(0);
                normalFaces->ReleaseFace(handle);
                normalFaces->SetFaceFlags(f, _FaceInvalid | _FaceExcluded, true);
            }
            else
                normalFaces->SetFaceFlags(f, _FaceInvalid, count < 3);
        }
        CFaceStorage& normalStorage = GetWritableStorage(*normalFaces);
        ForBlocks(faceNbr, kFaceBlock, threads,
                  [&](unsigned first, unsigned last)
                  { smoothing.CopyIndexes(cornerIndexes, normalStorage, first, last); });
        corners.Reset();
        std::vector<uint8_t>().swap(skipped);

        CHeld<C3DVectorList> vectors(new C3DVectorList);
        const size_t distinct = smoothing.GetNormalNbr();
        if (!vectors->SetSize(int(distinct), false))
            return false;
        CPointView<C3DTVector<float>> out = vectors->GetPointView();
        smoothing.CopyNormals(out);
        smoothing.Release();
        normalFaces->FreeExtra();

        // Everything is built: only now do the channel and the geometry's flags change.
        CPointView<C3DTPoint<float>> flags = positions->GetPointView();
        for (size_t p = 0; p < pointNbr; ++p)
            flags[p].SetFlags(_PointNormalBreak, breaks[p] != 0);
        AdoptLists(vectors.release(), normalFaces.release());
        m_SmoothAngle = angle;
        SetFlag(_ChannelModified, false);
        SetFlag(_ChannelInvalid, false);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    WriteToLogFile("CPointNormalChannel::InitNormals time %d ms\n", int(timeGetTick() - start));
    return true;
}

bool CPointNormalChannel::PrepareSmoothing(const CGeomInfo* geom, CSpecNormalChannel* spec)
{
    m_Faces = geom ? geom->GetSrcFaceList() : nullptr;
    m_SpecFaces = spec ? spec->GetNormalFaceList() : nullptr;
    m_SpecVectors = spec ? spec->GetNormalVectorList() : nullptr;
    if (!spec)
        return true;
    return spec->ComputeNormals(geom, ModeOf(geom));
}

// ================================================================ specified normals

bool CSpecNormalChannel::ComputeNormals(const CGeomInfo* geom, _NormalSmoothMode mode)
{
    if (!IsOneFlagSet(_ChannelModified))
        return true;
    const CFaceList* faces = geom ? geom->GetSrcFaceList() : nullptr;
    const C3DPointList* positions = PositionsOf(geom);
    C3DVectorList* list = GetNormalVectorList();
    CNormalFaceList* normalFaces = GetNormalFaceList();
    if (!faces || !positions || !list || !normalFaces)
        return false;
    SetFlag(_ChannelModified, false);
    CPointView<C3DTVector<float>> vectors = list->GetPointView();
    size_t computed = 0;
    for (size_t i = 0; i < vectors.GetCount(); ++i)
        if (vectors[i].IsOneFlagSet(_NormalComputed))
        {
            vectors[i].Set(0.0f, 0.0f, 0.0f);
            ++computed;
        }
    if (computed == 0)
        return true;
    CFaceNormalContributionInfo info(geom, mode);
    const zan_detail::CPositionView points = positions->GetPointView();
    const unsigned faceNbr = unsigned(std::min(faces->GetSize(), normalFaces->GetSize()));
    for (unsigned f = 0; f < faceNbr; ++f)
    {
        if (faces->IsFaceOneFlagSet(f, _FaceInvalid) ||
            normalFaces->IsFaceOneFlagSet(f, kSkippedFaces))
            continue;
        int count, normalCount;
        const int* items = normalFaces->GetIndexes(f, normalCount);
        faces->GetIndexes(f, count);
        float unit[3];
        FaceUnitNormal(points, *faces, f, unit);
        const C3DTVector<float> unitNormal(unit[0], unit[1], unit[2]);
        for (int k = 0; k < std::min(count, normalCount); ++k)
        {
            if (unsigned(items[k]) >= vectors.GetCount())
                continue;
            C3DTVector<float>& v = vectors[unsigned(items[k])];
            if (v.IsOneFlagSet(_NormalComputed) && info.SetCorner(f, unsigned(k), unitNormal))
                info.AddContribution(v);
        }
    }
    for (size_t i = 0; i < vectors.GetCount(); ++i)
        if (vectors[i].IsOneFlagSet(_NormalComputed))
        {
            float s[3] = {vectors[i].m_X, vectors[i].m_Y, vectors[i].m_Z};
            zan_detail::NormalizeSum(s);
            vectors[i].Set(s[0], s[1], s[2]);
        }
    return true;
}

bool CSpecNormalChannel::GenerateNormals(const CGeomInfo* geom, unsigned flags, double angle,
                                         _NormalSmoothMode mode)
{
    CFaceList* faces = geom ? geom->GetSrcFaceList() : nullptr;
    const C3DPointList* positions = PositionsOf(geom);
    C3DVectorList* list = GetNormalVectorList();
    CNormalFaceList* normalFaces = GetNormalFaceList();
    if (!faces || !positions || !list || !normalFaces || std::isnan(angle))
        return false;
    ComputeNormals(geom, mode);
    if (!(flags & (_GenerateEmptyFaces | _GenerateUndefined)))
        return false;
    const unsigned faceNbr = unsigned(faces->GetSize());
    try
    {
        if (unsigned(normalFaces->GetSize()) != faceNbr &&
            !normalFaces->SetSizeAndFlags(int(faceNbr), kSkippedFaces))
            return false;
        unsigned undefined = 0, empty = 0;
        {
            CPointView<const C3DTVector<float>> vectors = std::as_const(*list).GetPointView();
            for (size_t i = 0; i < vectors.GetCount(); ++i)
                undefined += vectors[i].IsOneFlagSet(_NormalUndefined);
        }
        for (unsigned f = 0; f < faceNbr; ++f)
            empty += normalFaces->IsFaceOneFlagSet(f, kSkippedFaces);
        if (undefined == 0 && empty == 0)
            return false;
        if ((flags & _GenerateUndefined) && !(flags & _GenerateEmptyFaces) && undefined == 0)
            return false;

        const zan_detail::CPositionView points = positions->GetPointView();
        const size_t pointNbr = points.GetCount();
        std::unique_ptr<zan_detail::CFaceGraphUse> graphUse;
        std::vector<int> pointNormal; // normal shared by every corner of a point, -1 for none
        if (flags & _GenerateShare)
        {
            graphUse = std::make_unique<zan_detail::CFaceGraphUse>(*faces, geom);
            pointNormal.assign(pointNbr, -1);
        }
        const bool hasGraph = faces->GetPointToFaceGraph() != nullptr;
        const float cosLimit = float(std::cos(angle));
        CFaceNormalContributionInfo info(geom, mode);

        // New vectors are gathered aside and appended once.
        const size_t oldNbr = size_t(list->GetSize());
        std::vector<C3DTVector<float>> added;
        added.reserve(size_t(empty) + undefined);
        std::vector<int> regenerated;
        bool changed = false;
        for (unsigned f = 0; f < faceNbr; ++f)
        {
            int count;
            const int* items = faces->GetIndexes(f, count);
            if (faces->IsFaceOneFlagSet(f, _FaceInvalid))
            {
                CFace* handle = normalFaces->CreateFace();
                if (normalFaces->GetFace(f, *handle))
                    handle->SetSize(0);
                normalFaces->ReleaseFace(handle);
                normalFaces->SetFaceFlags(f, kSkippedFaces, true);
                continue;
            }
            regenerated.clear();
            if (normalFaces->IsFaceOneFlagSet(f, kSkippedFaces))
            {
                if (!(flags & _GenerateEmptyFaces))
                    continue;
                CFace* handle = normalFaces->CreateFace();
                int* target = nullptr;
                if (normalFaces->GetFace(f, *handle))
                    target = handle->SetSize(count);
                normalFaces->ReleaseFace(handle);
                normalFaces->SetFaceFlags(f, normalFaces->GetFaceFlags(f), false);
                normalFaces->SetFaceFlags(f, _FaceInvalid, count < 3);
                if (!target && count > 0)
                    return false;
                for (int k = 0; k < count; ++k)
                    regenerated.push_back(k);
            }
            else
            {
                int normalCount;
                const int* normalItems = normalFaces->GetIndexes(f, normalCount);
                CPointView<C3DTVector<float>> vectors = list->GetPointView();
                for (int k = 0; k < normalCount; ++k)
                    if (unsigned(normalItems[k]) < vectors.GetCount() &&
                        vectors[unsigned(normalItems[k])].IsOneFlagSet(_NormalUndefined))
                    {
                        vectors[unsigned(normalItems[k])].SetFlags(_NormalReused, true);
                        regenerated.push_back(k);
                    }
            }
            if (regenerated.empty())
                continue;
            unsigned normalCount;
            int* target = GetWritableIndexes(*normalFaces, f, normalCount);
            float unit[3];
            FaceUnitNormal(points, *faces, f, unit);
            const C3DTVector<float> unitNormal(unit[0], unit[1], unit[2]);
            changed = true;
            if (flags & _GenerateFlat)
            {
                const int index = int(oldNbr + added.size());
                added.emplace_back(unit[0], unit[1], unit[2]);
                for (int k : regenerated)
                    if (unsigned(k) < normalCount)
                        target[k] = index;
                continue;
            }
            for (int k : regenerated)
            {
                if (unsigned(k) >= normalCount || k >= count)
                    continue;
                const int p = items[k];
                if (!pointNormal.empty() && unsigned(p) < pointNbr && pointNormal[size_t(p)] >= 0)
                {
                    target[k] = pointNormal[size_t(p)];
                    continue;
                }
                C3DTVector<float> sum(0.0f, 0.0f, 0.0f);
                if (info.SetCorner(f, unsigned(k), unitNormal))
                    info.AddContribution(sum);
                bool leftOut = false;
                int around = 0;
                const int* others = hasGraph ? faces->GetFacesConnectedToPoint(p, around) : nullptr;
                for (int i = 0; i < around; ++i)
                {
                    const unsigned g = unsigned(others[i]);
                    if (g == f || faces->IsFaceOneFlagSet(g, kSkippedFaces))
                        continue;
                    float other[3];
                    FaceUnitNormal(points, *faces, g, other);
                    const float cosine =
                        unit[0] * other[0] + unit[1] * other[1] + unit[2] * other[2];
                    if (cosine < cosLimit)
                    {
                        leftOut = true;
                        continue;
                    }
                    if (info.SetCornerAtPoint(g, p,
                                              C3DTVector<float>(other[0], other[1], other[2])))
                        info.AddContribution(sum);
                }
                float s[3] = {sum.m_X, sum.m_Y, sum.m_Z};
                zan_detail::NormalizeSum(s);
                const int index = int(oldNbr + added.size());
                added.emplace_back(s[0], s[1], s[2]);
                target[k] = index;
                if (!leftOut && !pointNormal.empty() && unsigned(p) < pointNbr)
                    pointNormal[size_t(p)] = index;
            }
        }
        if (!added.empty())
        {
            if (!list->SetSize(int(oldNbr + added.size())))
                return false;
            CPointView<C3DTVector<float>> vectors = list->GetPointView();
            for (size_t i = 0; i < added.size(); ++i)
            {
                vectors[oldNbr + i].Set(added[i].m_X, added[i].m_Y, added[i].m_Z);
                vectors[oldNbr + i].SetFlags(0);
            }
        }
        normalFaces->FreeExtra();
        if (changed)
            MarkModified();
        // The generated vectors are current: only a later edit makes the channel stale.
        SetFlag(_ChannelModified, false);
        return changed;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CSpecNormalChannel::IsNormalFrontier(const CGeomInfo* geom, double angle, const C3DEdge& edge,
                                          int face1, int face2) const
{
    const CFaceList* faces = geom ? geom->GetSrcFaceList() : nullptr;
    const CNormalFaceList* normalFaces = GetNormalFaceList();
    const C3DVectorList* list = GetNormalVectorList();
    if (!faces || !normalFaces || !list || face1 < 0 || face2 < 0 ||
        face1 >= std::min(faces->GetSize(), normalFaces->GetSize()) ||
        face2 >= std::min(faces->GetSize(), normalFaces->GetSize()))
        return false;
    const unsigned f1 = unsigned(face1), f2 = unsigned(face2);
    if (normalFaces->IsFaceOneFlagSet(f1, _FaceInvalid) ||
        normalFaces->IsFaceOneFlagSet(f2, _FaceInvalid))
        return false;
    const bool short1 = normalFaces->IsFaceOneFlagSet(f1, _FaceExcluded);
    const bool short2 = normalFaces->IsFaceOneFlagSet(f2, _FaceExcluded);
    if (short1 || short2)
        return short1 != short2;
    const double cosLimit = std::cos(angle);
    const int ends[2] = {edge.GetStart(), edge.GetEnd()};
    const C3DTVector<float>* at[2][2] = {};
    for (int side = 0; side < 2; ++side)
    {
        const unsigned f = side == 0 ? f1 : f2;
        int count, normalCount;
        const int* items = faces->GetIndexes(f, count);
        const int* normals = normalFaces->GetIndexes(f, normalCount);
        for (int e = 0; e < 2; ++e)
        {
            int k = 0;
            while (k < count && items[k] != ends[e])
                ++k;
            if (k == count)
                return true;
            if (k < normalCount && normals[k] >= 0 && normals[k] < list->GetSize())
                at[side][e] = &(*list)[normals[k]];
        }
    }
    for (int e = 0; e < 2; ++e)
    {
        const C3DTVector<float>* a = at[0][e];
        const C3DTVector<float>* b = at[1][e];
        const bool undefinedA = !a || a->IsOneFlagSet(_NormalUndefined);
        const bool undefinedB = !b || b->IsOneFlagSet(_NormalUndefined);
        if (undefinedA != undefinedB)
            return true;
        if (!undefinedA && a->Dot(*b) < cosLimit)
            return true;
    }
    return false;
}

unsigned CSpecNormalChannel::InitNormalBreakFlag(const CGeomInfo* geom, double angle, bool reset,
                                                 _NormalSmoothMode mode)
{
    CFaceList* faces = geom ? geom->GetSrcFaceList() : nullptr;
    auto* positions = geom ? dynamic_cast<C3DPointList*>(geom->GetSrcPointList()) : nullptr;
    if (!faces || !positions || !GetNormalFaceList())
        return 0;
    ComputeNormals(geom, mode);
    CPointView<C3DTPoint<float>> points = positions->GetPointView();
    if (reset)
        for (size_t p = 0; p < points.GetCount(); ++p)
            points[p].SetFlags(_PointNormalBreak, false);
    zan_detail::CFaceGraphUse graphUse(*faces, geom);
    if (!graphUse.IsHeld())
        return 0;
    unsigned breaking = 0;
    faces->ForEachFace(
        [&](unsigned f, const int* items, unsigned count)
        {
            if (faces->IsFaceOneFlagSet(f, kSkippedFaces))
                return;
            for (unsigned k = 0; k < count; ++k)
            {
                const int a = items[k], b = items[(k + 1) % count];
                int around = 0;
                const int* others = faces->GetFacesConnectedToPoint(a, around);
                for (int i = 0; i < around; ++i)
                {
                    const unsigned g = unsigned(others[i]);
                    if (g <= f)
                        continue;
                    int gCount;
                    const int* gItems = faces->GetIndexes(g, gCount);
                    if (std::find(gItems, gItems + gCount, b) == gItems + gCount)
                        continue;
                    if (!IsNormalFrontier(geom, angle, C3DEdge(a, b), int(f), int(g)))
                        continue;
                    ++breaking;
                    for (int p : {a, b})
                        if (unsigned(p) < points.GetCount())
                            points[unsigned(p)].SetFlags(_PointNormalBreak, true);
                }
            }
        });
    return breaking;
}
