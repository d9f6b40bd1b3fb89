// The topology graphs of a face list and the neighbourhood queries that read them.
//
// The point-to-face graph is built like a compressed sparse row matrix, in two passes over
// the faces: the first counts the faces of every point, the storage then lays out every
// record at its final size in one buffer (one allocation for the records, one for their
// offsets), and the second pass fills the records. Walking the faces backwards in the second
// pass and filling each record from its end leaves every record in increasing face order
// without sorting. Large lists are built by several threads, each over consecutive faces:
// each counts its own faces per point, and fills each record after the earlier threads'
// faces, so that records come out as one pass would make them. The edge-to-face graph is a
// CAssociationMap sized from the side count up front, so a build does not rehash, and filled
// through its bulk loader, which sorts the sides by table band first so that the insertions sweep
// the table instead of jumping.
//
// Queries work on the sorted records: combining two records or two point sets is a merge
// or a look-up in the list's scratch set, never a walk over the whole mesh.
#include <3dzan/geometry/facelist.h>

#include <3dzan/foundation/services.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>

#include "largeblocks.h"

#include <algorithm>
#include <numeric>
#include <utility>
#include <vector>

namespace
{
constexpr unsigned kSkipped = _FaceInvalid | _FaceExcluded;

// Whether a face is left out of the graphs (invalid or excluded), read from its property
// word in the list's main chunk.
struct CSkipTest
{
    const uint8_t* m_Flags;
    size_t m_Stride;
    bool operator()(unsigned f) const
    {
        return (*reinterpret_cast<const unsigned*>(m_Flags + f * m_Stride) & kSkipped) != 0;
    }
};
constexpr unsigned kMaxRecordFaces = CFaceStorage::kMaxItems;
// Corners up to which the distinct points of a face are found by comparing with the
// corners before; larger faces are sorted.
constexpr unsigned kSmallFace = 8;

// Fewest faces, and fewest per point, worth a thread of their own in a point-to-face graph
// build: each thread counts into an array as long as the point list.
constexpr unsigned kGraphPartFaces = 65536;

unsigned GraphPartsFor(unsigned faceCount, uint64_t pointCount)
{
    const uint64_t perPart = std::max<uint64_t>(kGraphPartFaces, pointCount / 2);
    const uint64_t parts = std::min<uint64_t>(uint64_t(OMPGetMaxThreadCount()), 8);
    return unsigned(std::max<uint64_t>(1, std::min<uint64_t>(parts, faceCount / perPart)));
}

// Calls f(point) once for every distinct index of a face.
template <class F>
void ForEachDistinct(const int* items, unsigned count, std::vector<int>& sorted, F&& f)
{
    if (count <= kSmallFace)
    {
        for (unsigned k = 0; k < count; ++k)
        {
            unsigned j = 0;
            while (j < k && items[j] != items[k])
                ++j;
            if (j == k)
                f(items[k]);
        }
        return;
    }
    sorted.assign(items, items + count);
    std::sort(sorted.begin(), sorted.end());
    for (size_t k = 0; k < sorted.size(); ++k)
        if (k == 0 || sorted[k] != sorted[k - 1])
            f(sorted[k]);
}

// The faces of \p a that are also in \p b (both increasing), without \p skip.
void Intersect(const int* a, unsigned na, const int* b, unsigned nb, int skip,
               std::vector<int>& out)
{
    out.clear();
    unsigned i = 0, j = 0;
    while (i < na && j < nb)
    {
        if (a[i] < b[j])
            ++i;
        else if (b[j] < a[i])
            ++j;
        else
        {
            if (a[i] != skip)
                out.push_back(a[i]);
            ++i;
            ++j;
        }
    }
}

void SortUnique(std::vector<int>& v)
{
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
}

// Index of the first position i where the side (items[i], items[i+1 mod n]) joins a and b in
// either order, or -1.
int FindSide(const int* items, unsigned count, int a, int b)
{
    for (unsigned i = 0; i < count; ++i)
    {
        int u = items[i], v = items[i + 1 == count ? 0 : i + 1];
        if ((u == a && v == b) || (u == b && v == a))
            return int(i);
    }
    return -1;
}

// A point-to-face graph of one record per count, each with room for that many faces and none
// written yet; null when the memory cannot be had.
std::unique_ptr<CFaceStorage> EmptyRecords(const std::vector<unsigned>& counts)
{
    auto built = std::make_unique<CFaceStorage>();
    uint64_t bytes = 0;
    for (unsigned c : counts)
        bytes += CFaceStorage::RecordBytes(c);
    const unsigned records = unsigned(counts.size());
    if (!built->Reserve(records, bytes))
        return nullptr;
    zan_detail::AdviseHugePages(built->GetBuffer(), size_t(built->GetBufferSize()));
    if (!built->AddRecords(nullptr, counts.data(), records))
        return nullptr;
    return built;
}
} // namespace

// ---------------------------------------------------------------- building

bool CFaceList::BuildPointToFaceGraph(const CGeomInfo* geom,
                                      std::unique_ptr<CFaceStorage>& graph) const
{
    const unsigned faceCount = m_Faces.GetCount();
    const CSkipTest skipped{static_cast<const uint8_t*>(GetMainData(0)),
                            GetSizeOfData(kPropertyChunk)};

    uint64_t pointCount;
    const CPointList* points = geom ? geom->GetSrcPointList() : nullptr;
    if (points)
        pointCount = uint64_t(std::max(points->GetSize(), 0));
    else
    {
        int highest = -1;
        uint64_t corners = 0;
        for (unsigned f = 0; f < faceCount; ++f)
        {
            if (skipped(f))
                continue;
            const int* items = m_Faces.ItemsAt(f);
            unsigned n = m_Faces.CountAt(f);
            corners += n;
            for (unsigned k = 0; k < n; ++k)
                highest = std::max(highest, items[k]);
        }
        pointCount = uint64_t(highest + 1);
        // Without a point list the records are sized from the indices themselves: a few
        // corners naming a huge index would otherwise cost memory out of all proportion to
        // the faces. Such sparse lists need their point list in the context.
        if (pointCount > 16 * corners + 1024)
            return false;
        // A bound far beyond the points used would only add empty records.
        if (m_PointBound != kZanNone && m_PointBound >= pointCount &&
            m_PointBound - pointCount <= std::max<uint64_t>(corners, 1024))
            pointCount = m_PointBound;
    }
    if (pointCount > CFaceStorage::kMaxRecords)
        return false;

    try
    {
        const unsigned parts = GraphPartsFor(faceCount, pointCount);
        if (parts > 1)
            return BuildPointToFaceGraphInParts(parts, unsigned(pointCount), graph);
        std::vector<unsigned> counts(size_t(pointCount), 0u);
        std::vector<int> sorted;
        bool overflow = false;
        for (unsigned f = 0; f < faceCount && !overflow; ++f)
        {
            if (skipped(f))
                continue;
            ForEachDistinct(m_Faces.ItemsAt(f), m_Faces.CountAt(f), sorted,
                            [&](int p)
                            {
                                if (p >= 0 && uint64_t(p) < pointCount &&
                                    ++counts[size_t(p)] > kMaxRecordFaces)
                                    overflow = true;
                            });
        }
        if (overflow)
            return false;

        std::unique_ptr<CFaceStorage> built = EmptyRecords(counts);
        if (!built)
            return false;
        for (unsigned f = faceCount; f-- > 0;)
        {
            if (skipped(f))
                continue;
            ForEachDistinct(m_Faces.ItemsAt(f), m_Faces.CountAt(f), sorted,
                            [&](int p)
                            {
                                if (p >= 0 && uint64_t(p) < pointCount)
                                    built->ItemsAt(unsigned(p))[--counts[size_t(p)]] = int(f);
                            });
        }
        graph = std::move(built);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CFaceList::BuildPointToFaceGraphInParts(unsigned parts, unsigned pointCount,
                                             std::unique_ptr<CFaceStorage>& graph) const
{
    const unsigned faceCount = m_Faces.GetCount();
    const CSkipTest skipped{static_cast<const uint8_t*>(GetMainData(0)),
                            GetSizeOfData(kPropertyChunk)};
    auto firstFace = [&](unsigned part) { return unsigned(uint64_t(faceCount) * part / parts); };
    // Calls visit(p, f) for each distinct point p in range of each usable face f of a part.
    auto forPartPoints = [&](unsigned part, auto&& visit)
    {
        std::vector<int> sorted;
        for (unsigned f = firstFace(part); f < firstFace(part + 1); ++f)
            if (!skipped(f))
                ForEachDistinct(m_Faces.ItemsAt(f), m_Faces.CountAt(f), sorted,
                                [&](int p)
                                {
                                    if (p >= 0 && unsigned(p) < pointCount)
                                        visit(unsigned(p), f);
                                });
    };

    // Faces per point of each part, then where each part's faces start in each record.
    std::vector<std::vector<unsigned>> starts(parts);
    ZanParallelFor(
        int(parts),
        [&](int part)
        {
            std::vector<unsigned>& mine = starts[size_t(part)];
            mine.assign(pointCount, 0u);
            forPartPoints(unsigned(part), [&](unsigned p, unsigned) { ++mine[p]; });
        },
        int(parts), 1);
    std::vector<unsigned> counts(pointCount, 0u);
    bool overflow = false;
    for (unsigned p = 0; p < pointCount; ++p)
    {
        unsigned running = 0;
        for (unsigned part = 0; part < parts; ++part)
            running += std::exchange(starts[part][p], running);
        counts[p] = running;
        overflow = overflow || running > kMaxRecordFaces;
    }
    if (overflow)
        return false;

    std::unique_ptr<CFaceStorage> built = EmptyRecords(counts);
    if (!built)
        return false;
    std::vector<unsigned>().swap(counts);
    // Parts write other places of the same records: no two write the same item.
    CFaceStorage& records = *built;
    ZanParallelFor(
        int(parts),
        [&](int part)
        {
            std::vector<unsigned>& at = starts[size_t(part)];
            forPartPoints(unsigned(part),
                          [&](unsigned p, unsigned f) { records.ItemsAt(p)[at[p]++] = int(f); });
        },
        int(parts), 1);
    graph = std::move(built);
    return true;
}

bool CFaceList::BuildEdgeToFaceGraph(std::unique_ptr<CAssociationMap>& graph) const
{
    const unsigned faceCount = m_Faces.GetCount();
    const CSkipTest skipped{static_cast<const uint8_t*>(GetMainData(0)),
                            GetSizeOfData(kPropertyChunk)};

    // A closed manifold mesh has half as many edges as sides; leave some room for borders
    // so that the usual mesh is built without a rehash.
    uint64_t sides = 0;
    for (unsigned f = 0; f < faceCount; ++f)
        if (!skipped(f))
            sides += m_Faces.CountAt(f);
    uint64_t capacity = std::max<uint64_t>(uint64_t(faceCount) * 2, sides / 2 + sides / 16);
    try
    {
        auto built = std::make_unique<CAssociationMap>();
        CAssociationMap::CBulkLoader loader(*built,
                                            unsigned(std::min<uint64_t>(capacity, 1u << 30)));
        auto forEachSide = [&](auto&& use)
        {
            for (unsigned f = 0; f < faceCount; ++f)
            {
                if (skipped(f))
                    continue;
                const int* items = m_Faces.ItemsAt(f);
                unsigned n = m_Faces.CountAt(f);
                for (unsigned k = 0; k < n; ++k)
                {
                    int a = items[k], b = items[k + 1 == n ? 0 : k + 1];
                    if (a != b)
                        use(C3DEdge(a, b), int(f));
                }
            }
        };
        forEachSide([&](const C3DEdge& edge, int) { loader.Count(edge); });
        if (!loader.Prepare())
            return false;
        forEachSide([&](const C3DEdge& edge, int face) { loader.Place(edge, face); });
        if (!loader.Finish())
            return false;
        graph = std::move(built);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

void CFaceList::DeleteGraphs()
{
    m_PointGraph.reset();
    m_PointGraphUsers = 0;
    m_EdgeGraph.reset();
    m_EdgeGraphUsers = 0;
}

// ---------------------------------------------------------------- sharing

bool CFaceList::InitPointToFaceGraph(const CGeomInfo* geom)
{
    UpdateList(geom);
    if (m_PointGraph)
    {
        ++m_PointGraphUsers;
        return true;
    }
    std::unique_ptr<CFaceStorage> graph;
    if (!BuildPointToFaceGraph(geom, graph))
        return false;
    m_PointGraph = std::move(graph);
    m_PointGraphUsers = 1;
    return true;
}

void CFaceList::DeletePointToFaceGraph()
{
    if (m_PointGraph && --m_PointGraphUsers == 0)
        m_PointGraph.reset();
}

bool CFaceList::UpdatePointToFaceGraph(const CGeomInfo* geom)
{
    std::unique_ptr<CFaceStorage> graph;
    if (!m_PointGraph || !BuildPointToFaceGraph(geom, graph))
        return false;
    m_PointGraph = std::move(graph);
    return true;
}

bool CFaceList::InitEdgeToFaceGraph(const CGeomInfo* geom)
{
    UpdateList(geom);
    if (m_EdgeGraph)
    {
        ++m_EdgeGraphUsers;
        return true;
    }
    std::unique_ptr<CAssociationMap> graph;
    if (!BuildEdgeToFaceGraph(graph))
        return false;
    m_EdgeGraph = std::move(graph);
    m_EdgeGraphUsers = 1;
    return true;
}

void CFaceList::DeleteEdgeToFaceGraph()
{
    if (m_EdgeGraph && --m_EdgeGraphUsers == 0)
        m_EdgeGraph.reset();
}

bool CFaceList::UpdateEdgeToFaceGraph(const CGeomInfo*)
{
    std::unique_ptr<CAssociationMap> graph;
    if (!m_EdgeGraph || !BuildEdgeToFaceGraph(graph))
        return false;
    m_EdgeGraph = std::move(graph);
    return true;
}

// ---------------------------------------------------------------- records and maintenance

const int* CFaceList::RecordOf(int point, unsigned& count) const
{
    count = 0;
    if (!m_PointGraph || point < 0)
        return nullptr;
    return m_PointGraph->GetItems(unsigned(point), count);
}

const int* CFaceList::GetFacesConnectedToPoint(int point, int& count) const
{
    unsigned n;
    const int* faces = RecordOf(point, n);
    count = int(n);
    return faces;
}

const int* CFaceList::GetFacesConnectedToEdge(const C3DEdge& edge, int& count) const
{
    count = 0;
    if (!m_EdgeGraph)
        return nullptr;
    unsigned n;
    const int* faces = m_EdgeGraph->Lookup(edge.Normalized(), n);
    count = int(n);
    return faces;
}

bool CFaceList::GraphConnectFace(int point, int face)
{
    if (!m_PointGraph || point < 0 || unsigned(point) >= m_PointGraph->GetCount() || face < 0 ||
        unsigned(face) >= m_Faces.GetCount())
        return false;
    unsigned n = m_PointGraph->CountAt(unsigned(point));
    const int* items = m_PointGraph->ItemsAt(unsigned(point));
    unsigned at = unsigned(std::lower_bound(items, items + n, face) - items);
    if ((at < n && items[at] == face) || n >= kMaxRecordFaces)
        return false;
    int* grown = m_PointGraph->SetItemCount(unsigned(point), n + 1);
    if (!grown)
        return false;
    std::copy_backward(grown + at, grown + n, grown + n + 1);
    grown[at] = face;
    return true;
}

bool CFaceList::GraphDisconnectFace(int point, int face)
{
    unsigned n;
    const int* items = RecordOf(point, n);
    if (!items)
        return false;
    const int* found = std::lower_bound(items, items + n, face);
    if (found == items + n || *found != face)
        return false;
    int* writable = m_PointGraph->ItemsAt(unsigned(point));
    std::copy(writable + (found - items) + 1, writable + n, writable + (found - items));
    m_PointGraph->SetItemCount(unsigned(point), n - 1); // shrinking in place cannot fail
    return true;
}

bool CFaceList::GraphRemoveFaceReference(CGeomInfo* geom, int face, bool markPoints)
{
    int n;
    const int* items = face >= 0 ? GetIndexes(unsigned(face), n) : nullptr;
    if (!items)
        return false;
    bool removed = false;
    if (m_PointGraph)
    {
        CPointList* points = markPoints && geom ? geom->GetSrcPointList() : nullptr;
        std::vector<int> sorted;
        ForEachDistinct(items, unsigned(n), sorted,
                        [&](int p)
                        {
                            if (!GraphDisconnectFace(p, face))
                                return;
                            removed = true;
                            unsigned left;
                            RecordOf(p, left);
                            if (points && left == 0 && p < points->GetSize())
                                points->GetPtView()[size_t(p)].SetFlag(_PointInvalid, true);
                        });
    }
    if (m_EdgeGraph)
        for (int k = 0; k < n; ++k)
        {
            int a = items[k], b = items[k + 1 == n ? 0 : k + 1];
            if (a != b && m_EdgeGraph->Dissociate(C3DEdge(a, b), face))
                removed = true;
        }
    return removed;
}

bool CFaceList::GraphMergePointConnectivity(int keep, int drop)
{
    if (!m_PointGraph || keep < 0 || drop < 0 || unsigned(keep) >= m_PointGraph->GetCount() ||
        unsigned(drop) >= m_PointGraph->GetCount())
        return false;
    if (keep == drop)
        return true;
    unsigned nKeep, nDrop;
    const int* kept = RecordOf(keep, nKeep);
    const int* dropped = RecordOf(drop, nDrop);
    std::vector<int> dropFaces, merged;
    try
    {
        dropFaces.assign(dropped, dropped + nDrop);
        merged.reserve(size_t(nKeep) + nDrop);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    std::set_union(kept, kept + nKeep, dropped, dropped + nDrop, std::back_inserter(merged));
    if (merged.size() > kMaxRecordFaces)
        return false;
    int* items = m_PointGraph->SetItemCount(unsigned(keep), unsigned(merged.size()));
    if (!items)
        return false;
    std::copy(merged.begin(), merged.end(), items);
    m_PointGraph->SetItemCount(unsigned(drop), 0);

    if (m_EdgeGraph)
        for (int f : dropFaces)
        {
            int n;
            const int* corners = GetIndexes(unsigned(f), n);
            for (int i = 0; i < n; ++i)
            {
                int a = corners[i], b = corners[i + 1 == n ? 0 : i + 1];
                if (a == b || (a != drop && b != drop))
                    continue;
                m_EdgeGraph->Dissociate(C3DEdge(a, b), f);
                int a2 = a == drop ? keep : a, b2 = b == drop ? keep : b;
                if (a2 != b2)
                    m_EdgeGraph->Associate(C3DEdge(a2, b2), f); // false: already there
            }
        }
    return true;
}

bool CFaceList::IsIsolatedFace(unsigned face) const
{
    if (!m_PointGraph || face >= m_Faces.GetCount())
        return false;
    int n;
    const int* items = GetIndexes(face, n);
    for (int k = 0; k < n; ++k)
    {
        unsigned count;
        const int* faces = RecordOf(items[k], count);
        for (unsigned j = 0; j < count; ++j)
            if (faces[j] != int(face))
                return false;
    }
    return true;
}

bool CFaceList::DoesEdgeExists(const C3DEdge& edge, unsigned face) const
{
    unsigned count;
    const int* faces = RecordOf(edge.m_Start, count);
    if (!faces || edge.IsDegenerate())
        return false;
    for (unsigned j = 0; j < count; ++j)
    {
        if (face != kZanNone && unsigned(faces[j]) != face)
            continue;
        int n;
        const int* items = GetIndexes(unsigned(faces[j]), n);
        if (items && FindSide(items, unsigned(n), edge.m_Start, edge.m_End) >= 0)
            return true;
    }
    return false;
}

unsigned CFaceList::SetBorderFacesStatus()
{
    if (!m_EdgeGraph)
        return 0;
    SetFacesFlags(_FaceBorder, false);
    unsigned border = 0;
    m_EdgeGraph->ForEach(
        [&](const C3DEdge&, const int* faces, unsigned count)
        {
            if (count != 1 || unsigned(faces[0]) >= m_Faces.GetCount() ||
                IsFaceFlagSet(unsigned(faces[0]), _FaceBorder))
                return;
            SetFaceFlag(unsigned(faces[0]), _FaceBorder, true);
            ++border;
        });
    return border;
}

// ---------------------------------------------------------------- connection sets

CHashTable<int>& CFaceList::Scratch() const
{
    // A set that grew large for one query is replaced rather than emptied, since emptying
    // walks every slot.
    if (!m_Scratch || m_Scratch->GetHashTableSize() > 4096)
        m_Scratch = std::make_unique<CHashTable<int>>(101);
    else
        m_Scratch->RemoveAll();
    return *m_Scratch;
}

int CFaceList::GetConnectionSet(const int* a, int countA, const int* b, int countB,
                                _ConnectionInfoType type, CHashTable<int>& result) const
{
    if (countA < 0 || countB < 0 || (countA && !a) || (countB && !b))
        return 0;
    int added = 0;
    auto add = [&](int x) { added += result.Insert(x) ? 1 : 0; };
    // Adds the members of one list that are (or are not) in the other.
    auto filter = [&](const int* from, int n, const int* other, int m, bool inOther)
    {
        CHashTable<int>& look = Scratch();
        for (int k = 0; k < m; ++k)
            look.Insert(other[k]);
        for (int k = 0; k < n; ++k)
            if (look.Find(from[k]) == inOther)
                add(from[k]);
    };
    switch (type)
    {
    case _ConnectionUnion:
        for (int k = 0; k < countA; ++k)
            add(a[k]);
        for (int k = 0; k < countB; ++k)
            add(b[k]);
        break;
    case _ConnectionIntersection:
        filter(a, countA, b, countB, true);
        break;
    case _ConnectionFirstOnly:
        filter(a, countA, b, countB, false);
        break;
    case _ConnectionSecondOnly:
        filter(b, countB, a, countA, false);
        break;
    case _ConnectionExclusive:
        filter(a, countA, b, countB, false);
        filter(b, countB, a, countA, false);
        break;
    default:
        return 0;
    }
    return added;
}

template <class QUERY>
const int* CFaceList::RunIntoHelper(CFaceGraphHelper& helper, int& count, QUERY&& query) const
{
    helper.GetSet().RemoveAll();
    query(helper.GetSet());
    return helper.CopySet(count);
}

// ---------------------------------------------------------------- face queries

int CFaceList::GetFacesNeighbourg(int face, _ConnectionInfoType type, CHashTable<int>& result,
                                  bool empty) const
{
    if (empty)
        result.RemoveAll();
    int n;
    const int* items = m_PointGraph && face >= 0 ? GetIndexes(unsigned(face), n) : nullptr;
    if (!items)
        return 0;
    bool had = result.Find(face);
    int added = 0;
    for (int k = 0; k < n; ++k)
    {
        int p = items[k], q = items[k + 1 == n ? 0 : k + 1];
        if (p == q)
            continue;
        unsigned np, nq;
        const int* fp = RecordOf(p, np);
        const int* fq = RecordOf(q, nq);
        added += GetConnectionSet(fp, int(np), fq, int(nq), type, result);
    }
    if (!had && result.Remove(face))
        --added;
    return added;
}

const int* CFaceList::GetFacesNeighbourg(int face, _ConnectionInfoType type,
                                         CFaceGraphHelper& helper, int& count) const
{
    return RunIntoHelper(helper, count,
                         [&](CHashTable<int>& set) { GetFacesNeighbourg(face, type, set, false); });
}

int CFaceList::GetFacesConnectedToPoints(int p1, int p2, _ConnectionInfoType type,
                                         CHashTable<int>& result, bool empty) const
{
    if (empty)
        result.RemoveAll();
    unsigned n1, n2;
    const int* f1 = RecordOf(p1, n1);
    const int* f2 = RecordOf(p2, n2);
    return GetConnectionSet(f1, int(n1), f2, int(n2), type, result);
}

const int* CFaceList::GetFacesConnectedToPoints(int p1, int p2, _ConnectionInfoType type,
                                                CFaceGraphHelper& helper, int& count) const
{
    return RunIntoHelper(helper, count,
                         [&](CHashTable<int>& set)
                         { GetFacesConnectedToPoints(p1, p2, type, set, false); });
}

int CFaceList::GetFacesByOppositeEdges(int face, const C3DEdge& edge, _ConnectionInfoType type,
                                       CXArray<C3DEdge>* edges, CHashTable<int>& result,
                                       bool empty) const
{
    if (empty)
        result.RemoveAll();
    int n;
    const int* items = m_PointGraph && face >= 0 ? GetIndexes(unsigned(face), n) : nullptr;
    if (!items || edge.IsDegenerate())
        return 0;
    int entry = FindSide(items, unsigned(n), edge.m_Start, edge.m_End);
    if (entry < 0)
        return 0;
    int opposite[2] = {(entry + n / 2) % n, -1};
    if (n % 2)
    {
        opposite[0] = (entry + (n - 1) / 2) % n;
        opposite[1] = (entry + (n + 1) / 2) % n;
        if (opposite[1] == opposite[0])
            opposite[1] = -1;
    }
    auto across = [&](int position, std::vector<int>& out)
    {
        int p = items[position], q = items[(position + 1) % n];
        unsigned np, nq;
        const int* fp = RecordOf(p, np);
        const int* fq = RecordOf(q, nq);
        std::vector<int> found;
        if (p != q)
            Intersect(fp, np, fq, nq, face, found);
        out.insert(out.end(), found.begin(), found.end());
    };
    std::vector<int> first, second;
    across(entry, first);
    for (int position : opposite)
        if (position >= 0)
            across(position, second);
    if (edges)
    {
        edges->RemoveAll();
        for (int position : opposite)
            if (position >= 0)
                edges->Add(C3DEdge::Oriented(items[position], items[(position + 1) % n]));
    }
    return GetConnectionSet(first.data(), int(first.size()), second.data(), int(second.size()),
                            type, result);
}

const int* CFaceList::GetFacesByOppositeEdges(int face, const C3DEdge& edge,
                                              _ConnectionInfoType type, CXArray<C3DEdge>* edges,
                                              CFaceGraphHelper& helper, int& count) const
{
    return RunIntoHelper(helper, count,
                         [&](CHashTable<int>& set)
                         { GetFacesByOppositeEdges(face, edge, type, edges, set, false); });
}

// ---------------------------------------------------------------- point queries

void CFaceList::CollectPointNeighbours(int point, std::vector<int>& edgeNeighbours,
                                       std::vector<int>* corners) const
{
    edgeNeighbours.clear();
    if (corners)
        corners->clear();
    unsigned count;
    const int* faces = RecordOf(point, count);
    for (unsigned j = 0; j < count; ++j)
    {
        int n;
        const int* items = GetIndexes(unsigned(faces[j]), n);
        for (int k = 0; k < n; ++k)
        {
            if (items[k] != point)
            {
                if (corners)
                    corners->push_back(items[k]);
                continue;
            }
            int before = items[k == 0 ? n - 1 : k - 1], after = items[k + 1 == n ? 0 : k + 1];
            if (before != point)
                edgeNeighbours.push_back(before);
            if (after != point)
                edgeNeighbours.push_back(after);
        }
    }
    SortUnique(edgeNeighbours);
    if (corners)
        SortUnique(*corners);
}

int CFaceList::GetPointsConnectedToPoints(int p1, int p2, _ConnectionInfoType type,
                                          CHashTable<int>& result, bool empty) const
{
    if (empty)
        result.RemoveAll();
    std::vector<int> first, second;
    CollectPointNeighbours(p1, first, nullptr);
    CollectPointNeighbours(p2, second, nullptr);
    return GetConnectionSet(first.data(), int(first.size()), second.data(), int(second.size()),
                            type, result);
}

const int* CFaceList::GetPointsConnectedToPoints(int p1, int p2, _ConnectionInfoType type,
                                                 CFaceGraphHelper& helper, int& count) const
{
    return RunIntoHelper(helper, count,
                         [&](CHashTable<int>& set)
                         { GetPointsConnectedToPoints(p1, p2, type, set, false); });
}

int CFaceList::GetPointsNeighbourg(int point, _ConnectionInfoType type, CHashTable<int>& result,
                                   bool empty) const
{
    if (empty)
        result.RemoveAll();
    std::vector<int> edgeNeighbours, corners;
    CollectPointNeighbours(point, edgeNeighbours, &corners);
    return GetConnectionSet(edgeNeighbours.data(), int(edgeNeighbours.size()), corners.data(),
                            int(corners.size()), type, result);
}

const int* CFaceList::GetPointsNeighbourg(int point, _ConnectionInfoType type,
                                          CFaceGraphHelper& helper, int& count) const
{
    return RunIntoHelper(
        helper, count, [&](CHashTable<int>& set) { GetPointsNeighbourg(point, type, set, false); });
}

int CFaceList::GetPointsConnectedToEdge(int p1, int p2, bool withEnds, CHashTable<int>& result,
                                        bool empty) const
{
    if (empty)
        result.RemoveAll();
    if (p1 == p2)
        return 0;
    unsigned n1, n2;
    const int* f1 = RecordOf(p1, n1);
    const int* f2 = RecordOf(p2, n2);
    std::vector<int> faces;
    Intersect(f1, n1, f2, n2, -1, faces);
    int added = 0;
    for (int f : faces)
    {
        int n;
        const int* items = GetIndexes(unsigned(f), n);
        for (int k = 0; k < n; ++k)
            if (withEnds || (items[k] != p1 && items[k] != p2))
                added += result.Insert(items[k]) ? 1 : 0;
    }
    return added;
}

const int* CFaceList::GetPointsConnectedToEdge(int p1, int p2, bool withEnds,
                                               CFaceGraphHelper& helper, int& count) const
{
    return RunIntoHelper(helper, count,
                         [&](CHashTable<int>& set)
                         { GetPointsConnectedToEdge(p1, p2, withEnds, set, false); });
}

bool CFaceList::IsPointNeighbourg(CFaceGraphHelper& helper, int p1, int p2) const
{
    GetPointsNeighbourg(p1, _ConnectionIntersection, helper.GetSet(), true);
    return helper.GetSet().Find(p2);
}

// ---------------------------------------------------------------- face sets

bool CFaceList::AreFacesConnected(const CGeomInfo*, const CHashTable<int>& faces) const
{
    std::vector<int> list;
    list.reserve(faces.GetCount());
    for (unsigned pos = faces.GetFirst(); pos != kZanNone;)
    {
        int f = faces.GetNext(pos);
        if (f < 0 || unsigned(f) >= m_Faces.GetCount())
            return false;
        list.push_back(f);
    }
    if (list.empty())
        return false;
    // Union-find over the set's faces, joined through the sides they share.
    std::vector<unsigned> parent(list.size());
    std::iota(parent.begin(), parent.end(), 0u);
    auto root = [&](unsigned x)
    {
        while (parent[x] != x)
            x = parent[x] = parent[parent[x]];
        return x;
    };
    uint64_t sides = 0;
    for (int f : list)
        sides += m_Faces.CountAt(unsigned(f));
    CHashMap<C3DEdge, unsigned> owner(
        unsigned(std::min<uint64_t>(sides + sides / 3 + 1, 1u << 30)));
    unsigned pieces = unsigned(list.size());
    for (unsigned k = 0; k < list.size(); ++k)
    {
        const int* items = m_Faces.ItemsAt(unsigned(list[k]));
        unsigned n = m_Faces.CountAt(unsigned(list[k]));
        for (unsigned i = 0; i < n; ++i)
        {
            int a = items[i], b = items[i + 1 == n ? 0 : i + 1];
            if (a == b)
                continue;
            C3DEdge edge(a, b);
            if (const unsigned* other = owner.Find(edge))
            {
                unsigned x = root(k), y = root(*other);
                if (x != y)
                {
                    parent[x] = y;
                    --pieces;
                }
            }
            else
                owner.Insert(edge, k);
        }
    }
    return pieces == 1;
}

int CFaceList::GetEdgesOnBorder(CXArray<C3DEdge>& edges, const CHashTable<int>& faces) const
{
    std::vector<int> list;
    list.reserve(faces.GetCount());
    for (unsigned pos = faces.GetFirst(); pos != kZanNone;)
    {
        int f = faces.GetNext(pos);
        if (f < 0 || unsigned(f) >= m_Faces.GetCount())
            return 0;
        list.push_back(f);
    }
    std::sort(list.begin(), list.end());
    uint64_t sides = 0;
    for (int f : list)
        sides += m_Faces.CountAt(unsigned(f));
    CHashMap<C3DEdge, unsigned> uses(unsigned(std::min<uint64_t>(sides + sides / 3 + 1, 1u << 30)));
    auto forSides = [&](auto&& f)
    {
        for (int face : list)
        {
            const int* items = m_Faces.ItemsAt(unsigned(face));
            unsigned n = m_Faces.CountAt(unsigned(face));
            for (unsigned i = 0; i < n; ++i)
            {
                int a = items[i], b = items[i + 1 == n ? 0 : i + 1];
                if (a != b)
                    f(a, b);
            }
        }
    };
    forSides([&](int a, int b) { ++uses[C3DEdge(a, b)]; });
    int added = 0;
    forSides(
        [&](int a, int b)
        {
            if (*uses.Find(C3DEdge(a, b)) == 1)
            {
                edges.Add(C3DEdge::Oriented(a, b));
                ++added;
            }
        });
    return added;
}

const int* CFaceList::GetEdgesOnBorder(CFaceGraphHelper& helper, const CHashTable<int>& faces,
                                       int& count) const
{
    count = 0;
    helper.GetSet().RemoveAll();
    CXArray<C3DEdge> edges;
    int n = GetEdgesOnBorder(edges, faces);
    int* array = n ? helper.GetArray(unsigned(n) * 2) : nullptr;
    if (!array)
        return nullptr;
    for (int k = 0; k < n; ++k)
    {
        array[2 * k] = edges[k].m_Start;
        array[2 * k + 1] = edges[k].m_End;
    }
    count = n;
    return array;
}

// ---------------------------------------------------------------- border points

void CPointList::SetBorderPointsStatus(const CAssociationMap& edges, bool markNear)
{
    SetPointsFlags(_PointBorder | _PointInner | _PointNearBorder, false);
    CPointView<CPt> points = GetPtView();
    auto valid = [&](int p) { return p >= 0 && size_t(p) < points.GetCount(); };
    edges.ForEach(
        [&](const C3DEdge& edge, const int*, unsigned count)
        {
            unsigned flag = count == 1 ? _PointBorder : _PointInner;
            if (valid(edge.m_Start))
                points[size_t(edge.m_Start)].SetFlags(flag, true);
            if (valid(edge.m_End))
                points[size_t(edge.m_End)].SetFlags(flag, true);
        });
    if (!markNear)
        return;
    edges.ForEach(
        [&](const C3DEdge& edge, const int*, unsigned)
        {
            if (!valid(edge.m_Start) || !valid(edge.m_End))
                return;
            CPt& a = points[size_t(edge.m_Start)];
            CPt& b = points[size_t(edge.m_End)];
            bool borderA = a.IsFlagSet(_PointBorder), borderB = b.IsFlagSet(_PointBorder);
            if (borderA && !borderB)
                b.SetFlag(_PointNearBorder, true);
            else if (borderB && !borderA)
                a.SetFlag(_PointNearBorder, true);
        });
}

bool CPointList::SetBorderPointsStatus(const CFaceList& faces, bool markNear)
{
    const CAssociationMap* edges = faces.GetEdgeGraph();
    if (!edges)
        return false;
    SetBorderPointsStatus(*edges, markNear);
    return true;
}
