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
// The bulk pass needs no point-to-face graph: the faces stream by in order past the points of
// a range, and each corner joins one of its point's groups at once. A point keeps its groups
// (seed normal and running sum) in a table of the range, the first in place and later ones
// chained in a pool. Because faces come in increasing order, each point meets its faces in
// the order a walk of its faces would, so the seed rule and the order of the sums are those
// of that walk. Each corner's rank among its point's groups goes into the normal face list
// itself when the channel's list can be rewritten in place, else into a byte per corner.
// Ranges of points run on several threads, several ranges per thread handed out as threads
// come free; a range passes over the blocks of faces whose points cannot be its own.
//
// Distinct normals are stored once, numbered in the order they are first met (points in
// order, groups in order around each point), whatever the number of threads. Rather than
// probing one hash table as large as the mesh for every group, which waits on memory at
// nearly every probe, the groups are partitioned by the leading bits of their hash into
// buckets that keep the group order (a radix partition, as in partitioned hash joins). Each
// bucket finds the first group equal to each of its groups (compared component by component,
// so -0 and +0 are one normal) in a small table that stays in the core's cache. A pass in
// group order then numbers the first groups, block by block on several threads.
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
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
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
// Scratch arrays from this size up come from mapped blocks even when they are smaller than the
// blocks the allocator maps by itself: a fresh malloc'ed megabyte costs a page fault per 4 KiB,
// a mapped one a single huge-page fault. The memory is given back when the array goes.
constexpr size_t kScratchMapBytes = size_t(256) << 10;
constexpr size_t kMapBytes = size_t(4) << 20;

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
        size_t bytes = std::max<size_t>(count, 1) * sizeof(T);
        if (bytes >= kScratchMapBytes)
            bytes = std::max(bytes, kMapBytes);
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

// The 32-bit hash of a normal's bits, with -0 and +0 hashed alike since they compare equal.
uint32_t NormalHash(const float n[3])
{
    auto bits = [](float value)
    {
        value += 0.0f;
        uint32_t word;
        std::memcpy(&word, &value, sizeof word);
        return uint64_t(word);
    };
    uint64_t h = (bits(n[0]) * 0x9E3779B97F4A7C15ull) ^ (bits(n[1]) * 0xC2B2AE3D27D4EB4Full) ^
                 (bits(n[2]) * 0x165667B19E3779F9ull);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return uint32_t(h ^ (h >> 32));
}

bool SameNormal(const float a[3], const float b[3])
{
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// The normal of one group of faces around a point, with its hash.
struct CGroupNormal
{
    float m_Normal[3];
    uint32_t m_Hash;
};

// The groups of a range of points, in the order they were made, and how many fall in each
// bucket of hashes (the hash's leading \p bits).
class CGroupList
{
public:
    CGroupList(size_t expected, unsigned bits)
        : m_Capacity(std::max<size_t>(expected, 256)), m_Bits(bits),
          m_Histogram(size_t(1) << bits, 0)
    {
        m_Items.Resize(m_Capacity);
    }
    static uint32_t BucketOf(uint32_t hash, unsigned bits)
    {
        return bits ? hash >> (32 - bits) : 0;
    }
    void Add(const float n[3])
    {
        if (m_Count == m_Capacity)
        {
            m_Items.Resize(m_Capacity * 2);
            m_Capacity *= 2;
        }
        CGroupNormal& group = m_Items[m_Count++];
        std::memcpy(group.m_Normal, n, sizeof group.m_Normal);
        group.m_Hash = NormalHash(n);
        ++m_Histogram[BucketOf(group.m_Hash, m_Bits)];
    }
    const std::vector<uint32_t>& GetHistogram() const { return m_Histogram; }
    size_t GetCount() const { return m_Count; }
    const CGroupNormal& operator[](size_t i) const { return m_Items[i]; }
    void Release()
    {
        m_Items.Reset();
        m_Count = m_Capacity = 0;
    }

private:
    CBlock<CGroupNormal> m_Items;
    size_t m_Count = 0;
    size_t m_Capacity;
    unsigned m_Bits;
    std::vector<uint32_t> m_Histogram;
};

// A point's smoothing groups while the faces stream by: the first group in place, later ones
// chained in its range's pool. A group keeps its seed face's unit normal and its running sum.
struct CPointGroups
{
    float m_Seed[3];
    float m_Sum[3];
    uint32_t m_Count; ///< groups made so far
    uint32_t m_Next;  ///< place + 1 of the point's second group in the pool, 0 for none
};

struct CMoreGroup
{
    float m_Seed[3];
    float m_Sum[3];
    uint32_t m_Next; ///< place + 1 of the point's next group, 0 for none
};

// Overflowing ranks of a scratch of byte ranks: a corner's place and its rank.
using COverflow = std::vector<std::pair<uint64_t, uint32_t>>;

// The corners of each face in a face storage's own records, written with ranks and then
// normal indices in place.
struct CCornerPlaces
{
    uint8_t* m_Base = nullptr;
    const uint64_t* m_Offsets = nullptr;
    int* At(unsigned face) const
    {
        return reinterpret_cast<int*>(m_Base + m_Offsets[face] + CFaceStorage::kHeaderBytes);
    }
    void Put(int* corners, unsigned, unsigned k, uint32_t rank, COverflow&) const
    {
        corners[k] = int(rank);
    }
    void Repeat(int* corners, unsigned, unsigned k, unsigned first, COverflow&) const
    {
        corners[k] = corners[first];
    }
};

// A byte per corner, at the corners' places in a face storage's layout counted in items: a
// quarter of the storage. A rank of 255 and more is written 255, with the rank itself in the
// range's overflow list (a point with that many groups is rare).
struct CRankBytes
{
    static constexpr uint8_t kOverflow = 255;
    uint8_t* m_Base = nullptr;
    const uint64_t* m_Offsets = nullptr;
    static uint64_t PlaceOf(uint64_t offset)
    {
        return (offset + CFaceStorage::kHeaderBytes) / sizeof(int);
    }
    uint8_t* At(unsigned face) const { return m_Base + PlaceOf(m_Offsets[face]); }
    void Put(uint8_t* corners, unsigned face, unsigned k, uint32_t rank, COverflow& overflow) const
    {
        if (rank < kOverflow)
        {
            corners[k] = uint8_t(rank);
            return;
        }
        corners[k] = kOverflow;
        overflow.emplace_back(PlaceOf(m_Offsets[face]) + k, rank);
    }
    void Repeat(uint8_t* corners, unsigned face, unsigned k, unsigned first,
                COverflow& overflow) const
    {
        corners[k] = corners[first];
        if (corners[k] != kOverflow)
            return;
        // The first corner's rank went in moments ago: it is near the end.
        const uint64_t place = PlaceOf(m_Offsets[face]) + first;
        for (size_t i = overflow.size(); i-- > 0;)
            if (overflow[i].first == place)
            {
                overflow.emplace_back(place - first + k, overflow[i].second);
                return;
            }
    }
};

struct CSmoothingInput
{
    zan_detail::CPositionView m_Points;
    const CFaceStorage* m_Faces = nullptr;
    const uint8_t* m_FaceSkipped = nullptr; ///< no normal: flagged, bad indices, < 3 corners
    /// Per block of kFaceBlock faces, the least point of its smoothed faces and the greatest
    /// plus one (both 0 when it has none): a range of points passes over the blocks that
    /// cannot reach it.
    const uint32_t* m_BlockLow = nullptr;
    const uint32_t* m_BlockHigh = nullptr;
    float m_CosLimit = 0;
};

// Faces per hand-out of the loops over faces, and per block of the smoothing input.
constexpr unsigned kFaceBlock = 16384;

// Faces of more corners than this find a repeated point through a sorted copy rather than by
// looking back along the face.
constexpr unsigned kShortFace = 16;

// The groups of the points of one range, filled as the faces stream by.
class CRangeGroups
{
public:
    /// \brief Tables for ranges of up to \p most points. A worker keeps its tables from range
    ///        to range, so that ranges handed out one after the other neither map nor unmap
    ///        memory (which would stall the other workers' page faults).
    explicit CRangeGroups(unsigned most) : m_Most(std::max(most, 1u))
    {
        void* block = ZanAllocateZeroedBlock(size_t(m_Most) * sizeof(CPointGroups));
        if (!block)
            throw std::bad_alloc();
        m_Points = static_cast<CPointGroups*>(block);
        // Room for a second group at every point: untouched room costs address space only.
        m_MoreCapacity = m_Most;
        m_More.Resize(m_MoreCapacity);
    }
    ~CRangeGroups() { ZanFreeBlock(m_Points, size_t(m_Most) * sizeof(CPointGroups)); }

    /// \brief Starts on the points [begin, end), at most the tables' size, with no group.
    void Start(unsigned begin, unsigned end)
    {
        m_Begin = begin;
        m_Span = end - begin;
        if (m_Used)
            std::memset(static_cast<void*>(m_Points), 0, size_t(m_Span) * sizeof(CPointGroups));
        m_Used = true;
        m_MoreNbr = 0;
    }
    CRangeGroups(const CRangeGroups&) = delete;
    CRangeGroups& operator=(const CRangeGroups&) = delete;

    /// \brief Whether point \p p is one of the range's.
    bool Holds(unsigned p) const { return p - m_Begin < m_Span; }
    /// \brief Whether the points [low, high) and the range's meet.
    bool Meets(unsigned low, unsigned high) const
    {
        return low < m_Begin + m_Span && high > m_Begin;
    }

    /// \brief Adds a face to the groups of point \p p of the range: to the first group whose
    ///        seed lies within the angle of the face's \p unit normal, else to a new group of
    ///        which it is the seed. \return the group's rank around the point.
    uint32_t Join(unsigned p, const float unit[3], const float contribution[3], float cosLimit)
    {
        CPointGroups& point = m_Points[p - m_Begin];
        if (point.m_Count == 0)
        {
            Start(point.m_Seed, point.m_Sum, unit, contribution);
            point.m_Count = 1;
            return 0;
        }
        if (Within(point.m_Seed, unit, cosLimit))
        {
            Add(point.m_Sum, contribution);
            return 0;
        }
        uint32_t rank = 1;
        uint32_t last = 0; ///< place + 1 of the chain's last group, 0 while it is empty
        for (uint32_t next = point.m_Next; next; next = m_More[next - 1].m_Next, ++rank)
        {
            CMoreGroup& more = m_More[next - 1];
            if (Within(more.m_Seed, unit, cosLimit))
            {
                Add(more.m_Sum, contribution);
                return rank;
            }
            last = next;
        }
        if (m_MoreNbr == m_MoreCapacity)
        {
            m_More.Resize(m_MoreCapacity * 2);
            m_MoreCapacity *= 2;
        }
        CMoreGroup& made = m_More[m_MoreNbr++];
        Start(made.m_Seed, made.m_Sum, unit, contribution);
        made.m_Next = 0;
        (last ? m_More[last - 1].m_Next : point.m_Next) = uint32_t(m_MoreNbr);
        ++point.m_Count;
        return rank;
    }

    /// \brief Normalises every group's sum, point by point, into \p groups; writes each point's
    ///        first place there into \p firsts and marks the points of several groups.
    void Finish(CGroupList& groups, uint32_t* firsts, uint8_t* breaks) const
    {
        for (unsigned i = 0; i < m_Span; ++i)
        {
            const CPointGroups& point = m_Points[i];
            firsts[m_Begin + i] = uint32_t(groups.GetCount());
            if (point.m_Count == 0)
                continue;
            breaks[m_Begin + i] = point.m_Count > 1;
            AddNormalised(groups, point.m_Sum);
            for (uint32_t next = point.m_Next; next; next = m_More[next - 1].m_Next)
                AddNormalised(groups, m_More[next - 1].m_Sum);
        }
    }

private:
    // The seed's comparison: a face joins unless the cosine is below the limit (a NaN joins).
    static bool Within(const float seed[3], const float unit[3], float cosLimit)
    {
        const float cosine = seed[0] * unit[0] + seed[1] * unit[1] + seed[2] * unit[2];
        return !(cosLimit > cosine);
    }
    static void Add(float sum[3], const float contribution[3])
    {
        sum[0] += contribution[0];
        sum[1] += contribution[1];
        sum[2] += contribution[2];
    }
    // A sum starts at zero, so that it takes the bits that adding to zero gives.
    static void Start(float seed[3], float sum[3], const float unit[3], const float contribution[3])
    {
        std::memcpy(seed, unit, 3 * sizeof(float));
        sum[0] = sum[1] = sum[2] = 0.0f;
        Add(sum, contribution);
    }
    static void AddNormalised(CGroupList& groups, const float sum[3])
    {
        float normal[3] = {sum[0], sum[1], sum[2]};
        zan_detail::NormalizeSum(normal);
        groups.Add(normal);
    }

    unsigned m_Most;
    unsigned m_Begin = 0, m_Span = 0;
    bool m_Used = false;              ///< the points' table was written since it was mapped
    CPointGroups* m_Points = nullptr; ///< zeroed: no group yet
    CBlock<CMoreGroup> m_More;
    size_t m_MoreNbr = 0, m_MoreCapacity = 0;
};

// For each corner of a long face, the first corner at the same point (itself when none
// comes before it).
void FirstCorners(const int* items, unsigned count, std::vector<unsigned>& firsts,
                  std::vector<uint64_t>& sorted)
{
    sorted.resize(count);
    for (unsigned k = 0; k < count; ++k)
        sorted[k] = (uint64_t(uint32_t(items[k])) << 32) | k;
    std::sort(sorted.begin(), sorted.end());
    firsts.resize(count);
    for (unsigned i = 0; i < count; ++i)
    {
        const bool same = i > 0 && (sorted[i] >> 32) == (sorted[i - 1] >> 32);
        firsts[uint32_t(sorted[i])] = same ? firsts[uint32_t(sorted[i - 1])] : uint32_t(sorted[i]);
    }
}

// Streams every face past the points of one range, in face order: each corner at a point of
// the range joins one of the point's groups, and its rank there is written into \p out at the
// corner's place. A face met at a point is so met in increasing face order, as a walk of the
// point's faces would meet it, so a group's seed is the first face of the point not taken by
// an earlier group and its sum adds its faces in face order. A point repeated in a face adds
// the face once, at its first corner; its other corners take the same rank. Ranges may run
// at once: a corner belongs to one point, so two ranges never write the same place.
template <CWeighting W, class OUT>
void StreamFaces(const CSmoothingInput& in, unsigned faceNbr, CRangeGroups& range, const OUT& out,
                 COverflow& overflow)
{
    std::vector<unsigned> firsts;
    std::vector<uint64_t> sorted;
    const CFaceStorage& faces = *in.m_Faces;
    const uint8_t* const skipped = in.m_FaceSkipped;
    const zan_detail::CPositionView points = in.m_Points;
    const float cosLimit = in.m_CosLimit;
    for (unsigned f = 0; f < faceNbr; ++f)
    {
        if (f % kFaceBlock == 0 &&
            !range.Meets(in.m_BlockLow[f / kFaceBlock], in.m_BlockHigh[f / kFaceBlock]))
        {
            f += kFaceBlock - 1;
            continue;
        }
        if (skipped[f])
            continue;
        const unsigned count = faces.CountAt(f);
        const int* items = faces.ItemsAt(f);
        unsigned k = 0;
        while (k < count && !range.Holds(unsigned(items[k])))
            ++k;
        if (k == count)
            continue;
        // The face's indices were checked: its Newell normal is summed without checks, in
        // the order NewellNormal sums it, and the unit normal is taken from it as
        // UnitFromRaw does, which gives NewellNormal's unit normal bit for bit.
        float raw[3] = {1.0f, 0.0f, 0.0f}, unit[3];
        {
            float nx = 0.0f, ny = 0.0f, nz = 0.0f;
            const C3DTPoint<float>* i = &points[unsigned(items[count - 1])];
            for (unsigned c = 0; c < count; ++c)
            {
                const C3DTPoint<float>* j = &points[unsigned(items[c])];
                nx += (i->m_Y - j->m_Y) * (i->m_Z + j->m_Z);
                ny += (i->m_Z - j->m_Z) * (i->m_X + j->m_X);
                nz += (i->m_X - j->m_X) * (i->m_Y + j->m_Y);
                i = j;
            }
            if (!(std::fabs(nx) < 1e-15f && std::fabs(ny) < 1e-15f && std::fabs(nz) < 1e-15f))
                raw[0] = nx, raw[1] = ny, raw[2] = nz;
        }
        zan_detail::UnitFromRaw(raw, unit);
        const bool longFace = count > kShortFace;
        if (longFace)
            FirstCorners(items, count, firsts, sorted);
        auto* target = out.At(f);
        for (; k < count; ++k)
        {
            const unsigned p = unsigned(items[k]);
            if (!range.Holds(p))
                continue;
            unsigned first = k;
            if (longFace)
                first = firsts[k];
            else
                for (unsigned j = 0; j < k; ++j)
                    if (unsigned(items[j]) == p)
                    {
                        first = j;
                        break;
                    }
            if (first != k)
            {
                out.Repeat(target, f, k, first, overflow);
                continue;
            }
            float e1[3] = {0, 0, 0}, e2[3] = {0, 0, 0};
            if constexpr (W == CWeighting::EdgeLength || W == CWeighting::Angle)
            {
                const C3DTPoint<float>& here = points[p];
                const C3DTPoint<float>& prev = points[unsigned(items[(k + count - 1) % count])];
                const C3DTPoint<float>& next = points[unsigned(items[(k + 1) % count])];
                e1[0] = prev.m_X - here.m_X, e1[1] = prev.m_Y - here.m_Y,
                e1[2] = prev.m_Z - here.m_Z;
                e2[0] = next.m_X - here.m_X, e2[1] = next.m_Y - here.m_Y,
                e2[2] = next.m_Z - here.m_Z;
            }
            float contribution[3] = {0, 0, 0};
            zan_detail::AddWeighted<W>(unit, raw, e1, e2, contribution);
            out.Put(target, f, k, range.Join(p, unit, contribution, cosLimit), overflow);
        }
    }
}

template <class OUT>
void StreamRange(CWeighting weighting, const CSmoothingInput& in, unsigned faceNbr,
                 CRangeGroups& range, const OUT& out, COverflow& overflow)
{
    switch (weighting)
    {
    case CWeighting::Unweighted:
        StreamFaces<CWeighting::Unweighted>(in, faceNbr, range, out, overflow);
        break;
    case CWeighting::Area:
        StreamFaces<CWeighting::Area>(in, faceNbr, range, out, overflow);
        break;
    case CWeighting::EdgeLength:
        StreamFaces<CWeighting::EdgeLength>(in, faceNbr, range, out, overflow);
        break;
    case CWeighting::Angle:
        StreamFaces<CWeighting::Angle>(in, faceNbr, range, out, overflow);
        break;
    }
}

// Fewest points worth a range of their own: below this, starting a thread costs more than
// the grouping it takes over.
constexpr unsigned kMinRangePoints = 16384;
// Ranges of points per thread when the faces allow it.
constexpr unsigned kRangesPerThread = 4;
// Groups per bucket aimed at when the distinct normals are sought: a bucket's table then
// stays in the core's own cache.
constexpr size_t kBucketGroups = 4096;

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

// Smoothing over consecutive point ranges at once, then the numbering of the distinct
// normals that one pass over the points in order would give: a normal takes the next index
// the first time it is met, and every later group with the same normal takes that index.
//
// Groups are numbered globally in point order (range after range). Their hashes are
// partitioned, in that order, into buckets by their leading bits; each bucket is small
// enough for a table in the core's cache, so that finding each group's first equal group
// reads memory in streams rather than probing one table as large as the mesh. A last pass
// in group order then numbers the first groups and copies their normals out.
class CSmoothing
{
public:
    CSmoothing(const CSmoothingInput& in, unsigned pointNbr, unsigned faceNbr, int threads)
        : m_In(in), m_Threads(threads)
    {
        // Several ranges per thread, handed out as threads come free, balance the threads
        // and keep only the running ranges' tables in memory. Each range passes over the
        // blocks of faces that cannot reach it; when the faces' points are so scattered that
        // most blocks reach most ranges, one range per thread reads the faces fewer times.
        const unsigned most = std::max(1u, pointNbr / kMinRangePoints);
        const unsigned perThread = std::min(unsigned(std::max(threads, 1)), most);
        unsigned ranges = perThread > 1 ? std::min(perThread * kRangesPerThread, most) : 1;
        if (ranges > perThread)
        {
            uint64_t read = 0;
            for (unsigned r = 0; r < ranges; ++r)
            {
                const uint64_t begin = uint64_t(pointNbr) * r / ranges;
                const uint64_t end = uint64_t(pointNbr) * (r + 1) / ranges;
                for (unsigned b = 0, first = 0; first < faceNbr; ++b, first += kFaceBlock)
                    if (in.m_BlockLow[b] < end && in.m_BlockHigh[b] > begin)
                        read += std::min(kFaceBlock, faceNbr - first);
            }
            if (read > uint64_t(faceNbr) * 2)
                ranges = perThread;
        }
        for (unsigned r = 0; r <= ranges; ++r)
            m_Bounds.push_back(unsigned(uint64_t(pointNbr) * r / ranges));
        // Most points make one group or two: buckets are sized for a few more groups than
        // points, a guess that only changes how full they are.
        const size_t expected = size_t(pointNbr) * 5 / 4;
        while (m_Bits < 16 && (expected >> m_Bits) > kBucketGroups)
            ++m_Bits;
        // Room for two groups a point, so that lists seldom grow while other ranges run:
        // untouched room costs address space only.
        m_Groups.reserve(ranges);
        for (unsigned r = 0; r < ranges; ++r)
            m_Groups.emplace_back(size_t(m_Bounds[r + 1] - m_Bounds[r]) * 2, m_Bits);
    }

    /// \brief Groups every point's faces: writes each corner's rank among its point's groups
    ///        at its place in \p out and marks breaks.
    template <class OUT>
    void Smooth(CWeighting weighting, unsigned faceNbr, const OUT& out, uint8_t* breaks)
    {
        m_Firsts.Resize(m_Bounds.back());
        std::vector<COverflow> overflows(m_Groups.size());
        unsigned most = 0;
        for (size_t r = 0; r + 1 < m_Bounds.size(); ++r)
            most = std::max(most, m_Bounds[r + 1] - m_Bounds[r]);
        std::mutex lock;
        std::vector<std::unique_ptr<CRangeGroups>> spare; // tables of workers between ranges
        ZanParallelFor(
            int(m_Groups.size()),
            [&](int r)
            {
                std::unique_ptr<CRangeGroups> range;
                {
                    std::lock_guard<std::mutex> hold(lock);
                    if (!spare.empty())
                    {
                        range = std::move(spare.back());
                        spare.pop_back();
                    }
                }
                if (!range)
                    range = std::make_unique<CRangeGroups>(most);
                range->Start(m_Bounds[size_t(r)], m_Bounds[size_t(r) + 1]);
                StreamRange(weighting, m_In, faceNbr, *range, out, overflows[size_t(r)]);
                range->Finish(m_Groups[size_t(r)], m_Firsts.Get(), breaks);
                std::lock_guard<std::mutex> hold(lock);
                spare.push_back(std::move(range));
            },
            m_Threads, 1);
        for (COverflow& overflow : overflows)
            m_Overflow.insert(m_Overflow.end(), overflow.begin(), overflow.end());
        std::sort(m_Overflow.begin(), m_Overflow.end());
        m_Bases.assign(m_Groups.size() + 1, 0);
        for (size_t r = 0; r < m_Groups.size(); ++r)
            m_Bases[r + 1] = m_Bases[r] + m_Groups[r].GetCount();
        if (m_Bases.back() > uint64_t(INT_MAX))
            throw std::bad_alloc(); // indices are ints
        // Each point's first group, numbered globally.
        ZanParallelFor(
            int(m_Groups.size()) - 1,
            [&](int r)
            {
                const uint32_t base = uint32_t(m_Bases[size_t(r) + 1]);
                for (unsigned p = m_Bounds[size_t(r) + 1]; p < m_Bounds[size_t(r) + 2]; ++p)
                    m_Firsts[p] += base;
            },
            m_Threads, 1);
    }

    size_t GetNormalNbr() const { return m_NormalNbr; }

    /// \brief Numbers the distinct normals and copies them to \p out[0, GetNormalNbr()); then
    ///        frees the groups.
    ///
    /// Blocks of groups are numbered at once: each block counts its first groups, which
    /// places its first index; then each first group takes its index and a later equal
    /// group, the index of its first (which is always a first group, never a later one).
    void Number(CPointView<C3DTVector<float>>& out)
    {
        struct CSpan
        {
            size_t m_Range;
            size_t m_First, m_Last; ///< local to the range
            uint32_t m_Base = 0;    ///< index of the span's first first group
        };
        std::vector<CSpan> spans;
        for (size_t r = 0; r < m_Groups.size(); ++r)
            for (size_t i = 0; i < m_Groups[r].GetCount(); i += kNumberBlock)
                spans.push_back(CSpan{r, i, std::min(m_Groups[r].GetCount(), i + kNumberBlock)});
        uint32_t* index = m_Index.Get();
        const int spanNbr = int(spans.size());
        ZanParallelFor(
            spanNbr,
            [&](int k)
            {
                CSpan& span = spans[size_t(k)];
                const uint64_t base = m_Bases[span.m_Range];
                uint32_t firsts = 0;
                for (size_t i = span.m_First; i < span.m_Last; ++i)
                    firsts += index[base + i] == uint32_t(base + i);
                span.m_Base = firsts;
            },
            m_Threads, 1);
        uint32_t next = 0;
        for (CSpan& span : spans)
            next += std::exchange(span.m_Base, next);
        ZanParallelFor(
            spanNbr,
            [&](int k)
            {
                const CSpan& span = spans[size_t(k)];
                const CGroupList& groups = m_Groups[span.m_Range];
                const uint64_t base = m_Bases[span.m_Range];
                uint32_t at = span.m_Base;
                for (size_t i = span.m_First; i < span.m_Last; ++i)
                    if (index[base + i] == uint32_t(base + i))
                    {
                        const float* n = groups[i].m_Normal;
                        out[at].Set(n[0], n[1], n[2]);
                        index[base + i] = at++ | kFirst;
                    }
            },
            m_Threads, 1);
        ZanParallelFor(
            spanNbr,
            [&](int k)
            {
                const CSpan& span = spans[size_t(k)];
                const uint64_t base = m_Bases[span.m_Range];
                for (size_t i = span.m_First; i < span.m_Last; ++i)
                    if (!(index[base + i] & kFirst))
                        index[base + i] = index[index[base + i]] & ~kFirst;
            },
            m_Threads, 1);
        for (CGroupList& groups : m_Groups)
            groups.Release();
    }

    /// \brief Writes the normal indices of the corners of the smoothed faces among
    ///        [first, last) at \p target(face), from the ranks that Smooth wrote at \p ranks
    ///        (which may be the same places).
    template <class RANKS, class TARGET>
    void NumberCorners(const RANKS& ranks, const TARGET& target, unsigned first,
                       unsigned last) const
    {
        const uint32_t* index = m_Index.Get();
        const uint32_t* firsts = m_Firsts.Get();
        const uint64_t total = m_Bases.back();
        for (unsigned f = first; f < last; ++f)
        {
            if (m_In.m_FaceSkipped[f])
                continue;
            const unsigned count = m_In.m_Faces->CountAt(f);
            const int* items = m_In.m_Faces->ItemsAt(f);
            int* corners = target(f);
            for (unsigned k = 0; k < count; ++k)
            {
                const uint64_t group = uint64_t(firsts[unsigned(items[k])]) + RankOf(ranks, f, k);
                corners[k] = group < total ? int(index[group] & ~kFirst) : 0;
            }
        }
    }

    void Release()
    {
        m_Index.Reset();
        m_Firsts.Reset();
        COverflow().swap(m_Overflow);
    }

    /// \brief Finds each group's first equal group, and so how many normals are distinct.
    ///        Reads the groups only: the smoothing input may be gone.
    void FindFirstEqual()
    {
        const uint64_t total = m_Bases.back();
        m_Index.Resize(size_t(total));
        const unsigned bits = m_Bits;
        const size_t bucketNbr = size_t(1) << bits;

        // Partition in group order, so that each bucket lists its groups in that order: each
        // range writes its groups of a bucket after those of the earlier ranges.
        std::vector<uint32_t> starts(bucketNbr + 1, 0);
        std::vector<std::vector<uint32_t>> at(m_Groups.size());
        for (size_t b = 0; b < bucketNbr; ++b)
        {
            uint32_t next = starts[b];
            for (size_t r = 0; r < m_Groups.size(); ++r)
            {
                at[r].resize(bucketNbr);
                at[r][b] = next;
                next += m_Groups[r].GetHistogram()[b];
            }
            starts[b + 1] = next;
        }
        CBlock<CKeyed> keyed{size_t(total)};
        ZanParallelFor(
            int(m_Groups.size()),
            [&](int r)
            {
                const CGroupList& groups = m_Groups[size_t(r)];
                std::vector<uint32_t>& place = at[size_t(r)];
                uint32_t group = uint32_t(m_Bases[size_t(r)]);
                for (size_t i = 0; i < groups.GetCount(); ++i, ++group)
                {
                    const CGroupNormal& normal = groups[i];
                    keyed[place[CGroupList::BucketOf(normal.m_Hash, bits)]++] =
                        CKeyed{normal.m_Hash, group};
                }
            },
            m_Threads, 1);

        // Within a bucket the first of equal groups is the first met: it points to itself,
        // the others to it.
        std::vector<uint32_t> firsts(bucketNbr, 0);
        const unsigned bucketBlock = 16;
        ForBlocks(unsigned(bucketNbr), bucketBlock, m_Threads,
                  [&](unsigned first, unsigned last)
                  {
                      std::vector<CSlot> table;
                      for (unsigned b = first; b < last; ++b)
                          firsts[b] = FindInBucket(keyed.Get() + starts[b],
                                                   starts[b + 1] - starts[b], bits, table);
                  });
        m_NormalNbr = 0;
        for (uint32_t n : firsts)
            m_NormalNbr += n;
    }

private:
    static uint32_t RankOf(const CCornerPlaces& places, unsigned face, unsigned k)
    {
        return uint32_t(places.At(face)[k]);
    }
    uint32_t RankOf(const CRankBytes& ranks, unsigned face, unsigned k) const
    {
        const uint8_t rank = ranks.At(face)[k];
        if (rank != CRankBytes::kOverflow)
            return rank;
        const uint64_t place = CRankBytes::PlaceOf(ranks.m_Offsets[face]) + k;
        const auto found = std::lower_bound(m_Overflow.begin(), m_Overflow.end(),
                                            std::make_pair(place, uint32_t(0)));
        return found != m_Overflow.end() && found->first == place ? found->second : UINT32_MAX;
    }

    // Marks the groups that are the first of their normal once they are numbered.
    static constexpr uint32_t kFirst = 0x80000000u;
    static constexpr size_t kNumberBlock = 65536;

    // A group in its bucket. Its normal stays in its range's list: it is read only when two
    // hashes are equal, which is rare but for equal normals.
    struct CKeyed
    {
        uint32_t m_Hash;
        uint32_t m_Group;
    };

    const float* NormalOf(uint32_t group) const
    {
        size_t r = 0;
        while (group >= m_Bases[r + 1])
            ++r;
        return m_Groups[r][group - m_Bases[r]].m_Normal;
    }

    // A table slot of a bucket: a hash and where its group is in the bucket.
    struct CSlot
    {
        uint32_t m_Hash;
        uint32_t m_Place; ///< place in the bucket + 1, 0 for an empty slot
    };

    // Sets m_Index of each of the \p count groups of a bucket to its first equal group;
    // returns how many are first. \p table is scratch.
    uint32_t FindInBucket(const CKeyed* items, uint32_t count, unsigned bits,
                          std::vector<CSlot>& table)
    {
        // At most two thirds full. The bucket's own bits are the hash's leading ones: probe
        // from the others.
        size_t capacity = 16;
        while (capacity * 2 < size_t(count) * 3)
            capacity *= 2;
        table.assign(capacity, CSlot{0, 0});
        const size_t mask = capacity - 1;
        uint32_t firsts = 0;
        for (uint32_t i = 0; i < count; ++i)
        {
            const CKeyed& item = items[i];
            for (size_t slot = size_t(item.m_Hash << bits >> bits) & mask;;
                 slot = (slot + 1) & mask)
            {
                CSlot& held = table[slot];
                if (held.m_Place == 0)
                {
                    held = CSlot{item.m_Hash, i + 1};
                    m_Index[item.m_Group] = item.m_Group;
                    ++firsts;
                    break;
                }
                if (held.m_Hash != item.m_Hash)
                    continue;
                const uint32_t first = items[held.m_Place - 1].m_Group;
                if (SameNormal(NormalOf(first), NormalOf(item.m_Group)))
                {
                    m_Index[item.m_Group] = first;
                    break;
                }
            }
        }
        return firsts;
    }

    const CSmoothingInput& m_In;
    int m_Threads;
    unsigned m_Bits = 0;              ///< leading hash bits that choose a bucket
    std::vector<unsigned> m_Bounds;   ///< range r is [m_Bounds[r], m_Bounds[r + 1])
    std::vector<CGroupList> m_Groups; ///< each range's groups
    std::vector<uint64_t> m_Bases;    ///< global number of each range's first group
    CBlock<uint32_t> m_Index;         ///< first equal group, then normal index, per group
    CBlock<uint32_t> m_Firsts;        ///< each point's first group
    COverflow m_Overflow;             ///< ranks of 255 and more of byte ranks, by place
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

        const unsigned faceNbr = unsigned(faces->GetSize());
        const size_t pointNbr = points.GetCount();
        const CFaceStorage& storage = faces->GetStorage();
        const int threads = OMPGetMaxThreadCount();
        // 1 for a face left out of the smoothing, 2 for an invalid face, which its normal
        // face follows.
        constexpr uint8_t kInvalidFace = 2;
        CBlock<uint8_t> skipped(faceNbr);
        // The normal faces: the channel's own list is rewritten in place when nothing else
        // holds it and its faces have the corners and flags that a new list would have; else
        // a new list is made of the faces' corner counts (new corners hold 0, new faces no flag
        // but _FaceInvalid below three corners, as normal faces should before smoothing). The
        // pass that marks the faces left out checks this too.
        CNormalFaceList* current = dynamic_cast<CNormalFaceList*>(GetNormalFaceList());
        if (current && (current->IsInstanced() || current->GetSize() != int(faceNbr)))
            current = nullptr;
        std::atomic<bool> same{current != nullptr};
        const unsigned blockNbr = (faceNbr + kFaceBlock - 1) / kFaceBlock;
        std::vector<uint32_t> blockLow(blockNbr), blockHigh(blockNbr);
        ForBlocks(faceNbr, kFaceBlock, threads,
                  [&](unsigned first, unsigned last)
                  {
                      bool reusable = current && same.load(std::memory_order_relaxed);
                      uint32_t low = UINT32_MAX, high = 0;
                      for (unsigned f = first; f < last; ++f)
                      {
                          const unsigned count = storage.CountAt(f);
                          const unsigned flags = faces->GetFaceFlags(f);
                          const int* items = storage.ItemsAt(f);
                          uint8_t skip = 0;
                          if ((flags & kSkippedFaces) || count < 3 ||
                              !IndexesInRange(items, count, pointNbr))
                              skip = (flags & _FaceInvalid) ? kInvalidFace : 1;
                          else
                              for (unsigned k = 0; k < count; ++k)
                              {
                                  low = std::min(low, uint32_t(items[k]));
                                  high = std::max(high, uint32_t(items[k]) + 1);
                              }
                          skipped[f] = skip;
                          if (reusable)
                          {
                              const unsigned expected = skip == kInvalidFace
                                                            ? unsigned(_FaceInvalid | _FaceExcluded)
                                                        : count < 3 ? unsigned(_FaceInvalid)
                                                                    : 0u;
                              reusable = current->GetStorage().CountAt(f) ==
                                             (skip == kInvalidFace ? 0 : count) &&
                                         current->GetFaceFlags(f) == expected;
                          }
                      }
                      if (current && !reusable)
                          same.store(false, std::memory_order_relaxed);
                      blockLow[first / kFaceBlock] = high ? low : 0;
                      blockHigh[first / kFaceBlock] = high;
                  });
        CNormalFaceList* const reused = same.load() ? current : nullptr;
        // Ranks go straight into a reused list; otherwise into a scratch byte per corner, and
        // the new list is made once the groups are numbered, which keeps the peak memory down.
        CBlock<uint8_t> scratch;
        CCornerPlaces places;
        CRankBytes ranks;
        if (reused)
        {
            const CFaceStorage& held = reused->GetStorage();
            places.m_Base = const_cast<uint8_t*>(held.GetBuffer());
            places.m_Offsets = held.GetOffsets().GetData();
            // From here on the list is being overwritten: until the end it is stale.
            SetFlag(_ChannelInvalid, true);
        }
        else
        {
            scratch.Resize(size_t(storage.GetUsedBytes() / sizeof(int)));
            ranks.m_Base = scratch.Get();
            ranks.m_Offsets = storage.GetOffsets().GetData();
        }

        CSmoothingInput input;
        input.m_Points = points;
        input.m_Faces = &storage;
        input.m_FaceSkipped = skipped.Get();
        input.m_BlockLow = blockLow.data();
        input.m_BlockHigh = blockHigh.data();
        input.m_CosLimit = std::cos(angle);
        CBlock<uint8_t> breaks(pointNbr);
        std::memset(breaks.Get(), 0, pointNbr);
        CSmoothing smoothing(input, unsigned(pointNbr), faceNbr, threads);
        if (reused)
            smoothing.Smooth(weighting, faceNbr, places, breaks.Get());
        else
            smoothing.Smooth(weighting, faceNbr, ranks, breaks.Get());
        smoothing.FindFirstEqual();

        C3DVectorList* vectors = GetNormalVectorList();
        CHeld<C3DVectorList> madeVectors;
        if (!reused || !vectors || vectors->IsInstanced())
        {
            madeVectors.reset(new C3DVectorList);
            vectors = madeVectors.get();
        }
        if (!vectors->SetSize(int(smoothing.GetNormalNbr()), false))
            return false;
        CPointView<C3DTVector<float>> out = vectors->GetPointView();
        smoothing.Number(out);

        CHeld<CNormalFaceList> made;
        if (reused)
        {
            // The corners of faces left out hold 0, as in a new list.
            CFaceStorage& held = GetWritableStorage(*reused);
            ForBlocks(faceNbr, kFaceBlock, threads,
                      [&](unsigned first, unsigned last)
                      {
                          smoothing.NumberCorners(
                              places, [&](unsigned f) { return places.At(f); }, first, last);
                          for (unsigned f = first; f < last; ++f)
                              if (skipped[f])
                                  std::fill_n(held.ItemsAt(f), held.CountAt(f), 0);
                      });
        }
        else
        {
            // Made last, when only the normals and the numbering are left, so that the peak
            // memory is as low as the kept lists allow.
            made.reset(new CNormalFaceList);
            {
                CBlock<unsigned> counts(faceNbr);
                for (unsigned f = 0; f < faceNbr; ++f)
                    counts[f] = storage.CountAt(f);
                if (!made->SetSize(int(faceNbr), counts.Get()))
                    return false;
            }
            for (unsigned f = 0; f < faceNbr; ++f)
                if (skipped[f] == kInvalidFace)
                {
                    CFace* handle = made->CreateFace();
                    if (made->GetFace(f, *handle))
                        handle->SetSize(0);
                    made->ReleaseFace(handle);
                    made->SetFaceFlags(f, _FaceInvalid | _FaceExcluded, true);
                }
            CFaceStorage& normalStorage = GetWritableStorage(*made);
            ForBlocks(faceNbr, kFaceBlock, threads,
                      [&](unsigned first, unsigned last)
                      {
                          smoothing.NumberCorners(
                              ranks, [&](unsigned f) { return normalStorage.ItemsAt(f); }, first,
                              last);
                      });
            scratch.Reset();
            made->FreeExtra();
        }
        smoothing.Release();
        skipped.Reset();

        // Everything is built: only now do the geometry's flags and the channel's lists change
        // (a reused normal face list was written in place, with the channel marked invalid).
        CPointView<C3DTPoint<float>> flags = positions->GetPointView();
        // Only the points whose mark changes are written: a recomputation after an edit
        // leaves most marks as they were, and their memory clean.
        for (size_t p = 0; p < pointNbr; ++p)
            if (flags[p].IsOneFlagSet(_PointNormalBreak) != (breaks[p] != 0))
                flags[p].SetFlags(_PointNormalBreak, breaks[p] != 0);
        if (made || madeVectors)
            AdoptLists(madeVectors ? madeVectors.release() : vectors,
                       made ? made.release() : reused);
        else
            DeleteGraph(); // its records follow the normal faces, which changed
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
