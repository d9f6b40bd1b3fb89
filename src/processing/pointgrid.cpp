// The point grid: a spatial hash of points by integer cell. A cell is found by truncating
// (p - origin) / step towards zero in double precision; cells are keys of an open-addressing
// table probed quadratically and hashed with Thomas Wang's integer mix, so memory follows the
// occupied cells, never the extent of the model. Points are grouped per cell in one array
// (counting sort by cell), each cell's points in increasing index order, which is what makes
// every query over the grid deterministic.
//
// The same file holds the other point-list maps built on the grid or on the faces: the
// symmetry map and the point-material graph.
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/processing/spatialmaps.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

namespace
{
constexpr double kLowestCell = double(INT_MIN + 2);
constexpr double kHighestCell = double(INT_MAX - 2);

// Wang's mix on the signed value: right shifts are arithmetic, so a negative cell spreads its
// sign bits as the hash of the product always did.
uint32_t MixSigned(int32_t value)
{
    uint32_t v = uint32_t(value);
    v += ~(v << 15);
    v ^= uint32_t(int32_t(v) >> 10);
    v += v << 3;
    v ^= uint32_t(int32_t(v) >> 6);
    v += ~(v << 11);
    v ^= uint32_t(int32_t(v) >> 16);
    return v;
}

int TruncCell(double value)
{
    if (!(value >= kLowestCell)) // NaN too
        return INT_MIN + 2;
    if (value > kHighestCell)
        return INT_MAX - 2;
    return int(std::trunc(value));
}

double CleanStep(double step)
{
    return (step == 0.0 || !std::isfinite(step)) ? 1.0 : step;
}
} // namespace

// ---------------------------------------------------------------------- C3DPointGridMap

C3DPointGridMap::C3DPointGridMap(const C3DTPoint<float>& origin, double sizeX, double sizeY,
                                 double sizeZ, unsigned expected)
    : m_Origin(origin)
{
    double stepX = sizeX / 2.0;
    m_Step[0] = CleanStep(stepX);
    m_Step[1] = CleanStep(sizeY == 0.0 ? stepX : sizeY / 2.0);
    m_Step[2] = CleanStep(sizeZ == 0.0 ? stepX : sizeZ / 2.0);
    unsigned want = expected > 0x7FFFFFF0u / 2 ? 0x7FFFFFF0u : expected * 2;
    unsigned buckets = std::max(101u, NextPrime(want));
    try
    {
        m_Buckets.assign(buckets, Bucket{0, 0, 0, kEmpty});
    }
    catch (const std::bad_alloc&)
    {
        m_Buckets.assign(101, Bucket{0, 0, 0, kEmpty});
    }
}

C3DPointGridMap::~C3DPointGridMap() = default;

double C3DPointGridMap::GetAbsoluteDistance(double relative, const C3DTBBox<float>& box)
{
    double smallest = 0.0;
    for (int axis = 0; axis < 3; ++axis)
    {
        double extent = box.IsEmpty() ? 0.0 : double(box.GetSize(axis));
        if (extent > 1e-6 && (smallest == 0.0 || extent < smallest))
            smallest = extent;
    }
    double distance = smallest * relative;
    return distance >= 1e-6 ? distance : 1e-6;
}

double C3DPointGridMap::GetMaxDistance(double relative, const C3DTBBox<float>& box)
{
    return std::sqrt(3.0) * 2.0 * GetAbsoluteDistance(relative, box);
}

void C3DPointGridMap::GetCell(double x, double y, double z, int cell[3]) const
{
    cell[0] = TruncCell((x - double(m_Origin.m_X)) / m_Step[0]);
    cell[1] = TruncCell((y - double(m_Origin.m_Y)) / m_Step[1]);
    cell[2] = TruncCell((z - double(m_Origin.m_Z)) / m_Step[2]);
}

unsigned C3DPointGridMap::GetBucket(int x, int y, int z, unsigned bucketCount)
{
    if (bucketCount == 0)
        return 0;
    uint32_t inner = MixSigned(y) + uint32_t(x);
    uint32_t h = ZanMix32(inner) + uint32_t(z);
    return h % bucketCount;
}

unsigned C3DPointGridMap::FindCell(int x, int y, int z) const
{
    const size_t n = m_Buckets.size();
    size_t slot = GetBucket(x, y, z, unsigned(n));
    for (size_t k = 1; k <= n; ++k)
    {
        const Bucket& b = m_Buckets[slot];
        if (b.m_Value == kEmpty)
            return kZanNone;
        if (b.m_Value != kDeleted && b.m_X == x && b.m_Y == y && b.m_Z == z)
            return b.m_Value;
        // Offsets 1, 4, 9, ... from home: each step adds the next odd number.
        slot = (slot + 2 * k - 1) % n;
    }
    return kZanNone;
}

unsigned C3DPointGridMap::Insert(int x, int y, int z, size_t home)
{
    const size_t n = m_Buckets.size();
    size_t slot = home;
    size_t freeSlot = SIZE_MAX;
    for (size_t k = 1; k <= n; ++k)
    {
        Bucket& b = m_Buckets[slot];
        if (b.m_Value == kEmpty)
        {
            if (freeSlot == SIZE_MAX)
                freeSlot = slot;
            break;
        }
        if (b.m_Value == kDeleted)
        {
            if (freeSlot == SIZE_MAX)
                freeSlot = slot;
        }
        else if (b.m_X == x && b.m_Y == y && b.m_Z == z)
            return b.m_Value;
        slot = (slot + 2 * k - 1) % n;
    }
    if (freeSlot == SIZE_MAX)
        return kZanNone; // cannot happen below half load; keeps a broken table from looping
    unsigned rank = unsigned(m_CellKeys.size() / 3);
    m_CellKeys.push_back(x);
    m_CellKeys.push_back(y);
    m_CellKeys.push_back(z);
    m_Buckets[freeSlot] = Bucket{x, y, z, rank};
    ++m_Used;
    if (size_t(m_Used) * 2 >= m_Buckets.size() && !Grow())
        return kZanNone;
    return rank;
}

bool C3DPointGridMap::Grow()
{
    uint64_t bySix = uint64_t(m_Used) * 6, byTwo = uint64_t(m_Buckets.size()) * 2;
    uint64_t want = std::min<uint64_t>(std::min(bySix, byTwo), 0xFFFFFFF0u);
    unsigned size = std::max(101u, NextPrime(unsigned(want)));
    std::vector<Bucket> old;
    old.swap(m_Buckets);
    try
    {
        m_Buckets.assign(size, Bucket{0, 0, 0, kEmpty});
    }
    catch (const std::bad_alloc&)
    {
        m_Buckets.swap(old);
        return false;
    }
    for (const Bucket& b : old)
    {
        if (b.m_Value == kEmpty || b.m_Value == kDeleted)
            continue;
        size_t slot = GetBucket(b.m_X, b.m_Y, b.m_Z, size);
        for (size_t k = 1; m_Buckets[slot].m_Value != kEmpty; ++k)
            slot = (slot + 2 * k - 1) % size;
        m_Buckets[slot] = b;
    }
    return true;
}

bool C3DPointGridMap::AddPoints(const CPointView<const C3DTPoint<float>>& points)
{
    const size_t n = points.GetCount();
    try
    {
        for (Bucket& b : m_Buckets)
            b.m_Value = kEmpty;
        m_Used = 0;
        m_CellKeys.clear();
        m_PointCells.assign(n, kZanNone);
        // Cells and home buckets are found a batch ahead and the buckets prefetched: the
        // table is far larger than the caches, and each insertion would otherwise wait for
        // memory in turn.
        constexpr size_t kBatch = 32;
        int batchCells[kBatch][3];
        size_t homes[kBatch];
        for (size_t first = 0; first < n; first += kBatch)
        {
            const size_t count = std::min(kBatch, n - first);
            const size_t tableSize = m_Buckets.size();
            for (size_t k = 0; k < count; ++k)
            {
                GetCell(points[first + k], batchCells[k]);
                homes[k] = GetBucket(batchCells[k][0], batchCells[k][1], batchCells[k][2], unsigned(tableSize));
                __builtin_prefetch(&m_Buckets[homes[k]]);
            }
            for (size_t k = 0; k < count; ++k)
            {
                if (m_Buckets.size() != tableSize) // grown within the batch
                    homes[k] = GetBucket(batchCells[k][0], batchCells[k][1], batchCells[k][2],
                                         unsigned(m_Buckets.size()));
                unsigned rank = Insert(batchCells[k][0], batchCells[k][1], batchCells[k][2], homes[k]);
                if (rank == kZanNone)
                    throw std::bad_alloc();
                m_PointCells[first + k] = rank;
            }
        }
        // Counting sort by cell: a cell's points come out in increasing index order.
        const size_t cells = m_CellKeys.size() / 3;
        m_CellStart.assign(cells + 1, 0);
        for (unsigned rank : m_PointCells)
            ++m_CellStart[rank + 1];
        for (size_t c = 0; c < cells; ++c)
            m_CellStart[c + 1] += m_CellStart[c];
        m_CellPoints.resize(n);
        std::vector<unsigned> fill(m_CellStart.begin(), m_CellStart.end() - 1);
        for (size_t i = 0; i < n; ++i)
            m_CellPoints[fill[m_PointCells[i]]++] = int(i);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        m_Buckets.assign(101, Bucket{0, 0, 0, kEmpty});
        m_Used = 0;
        m_CellKeys.clear();
        m_CellStart.clear();
        m_CellPoints.clear();
        m_PointCells.clear();
        return false;
    }
}

const int* C3DPointGridMap::GetCellPointsByRank(unsigned rank, int& count) const
{
    count = 0;
    if (size_t(rank) + 1 >= m_CellStart.size())
        return nullptr;
    count = int(m_CellStart[rank + 1] - m_CellStart[rank]);
    return count ? m_CellPoints.data() + m_CellStart[rank] : nullptr;
}

const int* C3DPointGridMap::GetCellPoints(int x, int y, int z, int& count) const
{
    return GetCellPointsByRank(FindCell(x, y, z), count);
}

bool C3DPointGridMap::GetCellKey(unsigned rank, int cell[3]) const
{
    if (size_t(rank) >= GetCellNbr())
        return false;
    cell[0] = m_CellKeys[size_t(rank) * 3];
    cell[1] = m_CellKeys[size_t(rank) * 3 + 1];
    cell[2] = m_CellKeys[size_t(rank) * 3 + 2];
    return true;
}

unsigned C3DPointGridMap::GetPointCell(int index) const
{
    return index >= 0 && size_t(index) < m_PointCells.size() ? m_PointCells[size_t(index)]
                                                              : kZanNone;
}

// ---------------------------------------------------------------- C3DPointList grids

C3DPointGridMap* C3DPointList::GetGridCoordMap(double tolerance, bool absolute, bool shifted) const
{
    if (IsEmpty() || !(tolerance >= 0.0) || !std::isfinite(tolerance))
        return nullptr;
    C3DTBBox<float> box;
    GetBoundingBox(box);
    const C3DTPoint<float> center = box.GetCenter();
    double size;
    if (tolerance == 0.0)
    {
        double ex = box.GetSize(0), ey = box.GetSize(1), ez = box.GetSize(2);
        size = std::sqrt(ex * ex + ey * ey + ez * ez) * 1.5 / 2147483647.0;
    }
    else if (!absolute)
        size = C3DPointGridMap::GetAbsoluteDistance(tolerance, box);
    else
        size = tolerance;
    C3DTPoint<float> origin(center.m_X, center.m_Y, center.m_Z);
    if (shifted)
        origin.Set(float(double(origin.m_X) + size / 4.0), float(double(origin.m_Y) + size / 4.0),
                   float(double(origin.m_Z) + size / 4.0));
    try
    {
        // Meshes repeat a point in about four to six corners: a quarter of the points is a
        // fair first guess of the cell count, and the table grows past it when needed.
        auto grid = std::make_unique<C3DPointGridMap>(origin, size, size, size,
                                                      unsigned(GetSize() / 4 + 1));
        if (!grid->AddPoints(GetPointView()))
            return nullptr;
        return grid.release();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

C3DPointGridMap* C3DPointList::InitGridCoordMap(double tolerance, bool absolute) const
{
    return GetGridCoordMap(tolerance, absolute, false);
}

WeldProximityMap* C3DPointList::InitWeldMap(double tolerance, bool absolute) const
{
    std::unique_ptr<C3DPointGridMap> grid(GetGridCoordMap(tolerance, absolute, false));
    if (!grid)
        return nullptr;
    try
    {
        auto map = std::make_unique<WeldProximityMap>();
        map->m_Candidates.reserve(512);
        map->m_Grid = std::move(grid);
        return map.release();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

void C3DPointList::DeleteWeldMap(WeldProximityMap* map)
{
    delete map;
}

const int* C3DPointList::Get3DProximityPoints(int index, WeldProximityMap* map, int& count) const
{
    count = 0;
    if (!map || !map->m_Grid || index < 0 || index >= GetSize() ||
        map->m_Grid->GetPointNbr() != unsigned(GetSize()))
        return nullptr;
    const C3DPointGridMap& grid = *map->m_Grid;
    int cell[3];
    if (!grid.GetCellKey(grid.GetPointCell(index), cell))
        return nullptr;
    std::vector<int>& out = map->m_Candidates;
    out.clear();
    for (int k = 0; k < 27; ++k)
    {
        int n;
        const int* points =
            grid.GetCellPoints(cell[0] + k / 9 - 1, cell[1] + (k / 3) % 3 - 1, cell[2] + k % 3 - 1, n);
        if (out.size() + size_t(n) > out.capacity())
        {
            size_t capacity = std::max<size_t>(out.capacity(), 512);
            while (capacity < out.size() + size_t(n))
                capacity *= 2;
            try
            {
                out.reserve(capacity);
            }
            catch (const std::bad_alloc&)
            {
                out.clear();
                return nullptr;
            }
        }
        for (int m = 0; m < n; ++m)
            if (points[m] != index)
                out.push_back(points[m]);
    }
    count = int(out.size());
    return count ? out.data() : nullptr;
}

// ---------------------------------------------------------------------- symmetry

int C3DPointSymetryMap::GetSymetricPoint(int point) const
{
    const int* found = Find(point);
    return found ? *found : -1;
}

SymetricEdgeInfo C3DPointSymetryMap::GetSymetricEdge(const CFaceList* faces, const C3DEdge& edge,
                                                     C3DEdge& result, bool checkFaces) const
{
    int a = GetSymetricPoint(edge.GetStart()), b = GetSymetricPoint(edge.GetEnd());
    if (a < 0 || b < 0)
        return _SymetricEdgeNone;
    result = C3DEdge(a, b);
    if (result == edge)
        return _SymetricEdgeOnPlane;
    if (!checkFaces || !faces)
        return _SymetricEdgeFound;
    bool found = false;
    faces->ForEachFace([&](unsigned, const int* items, unsigned count) {
        for (unsigned k = 0; k < count && !found; ++k)
            found = C3DEdge(items[k], items[(k + 1) % count]) == result;
    });
    return found ? _SymetricEdgeFound : _SymetricEdgePoints;
}

C3DPointSymetryMap* C3DPointList::InitSymetryMap(_AXIS_INFO axis, double tolerance) const
{
    if (unsigned(axis) > 2 || !(tolerance >= 0.0) || !std::isfinite(tolerance))
        return nullptr;
    auto* map = new (std::nothrow) C3DPointSymetryMap;
    if (!map)
        return nullptr;
    C3DTBBox<float> box;
    GetBoundingBox(box);
    const int a = int(axis);
    const double extent = box.IsEmpty() ? 0.0 : double(box.GetSize(a));
    if (!(extent >= 1e-15))
        return map;
    const double size = extent / 20.0, match = size * tolerance;
    const double center = (double(box.GetMin()[a]) + double(box.GetMax()[a])) * 0.5;
    std::unique_ptr<C3DPointGridMap> grid(GetGridCoordMap(size, true, false));
    if (!grid)
    {
        map->Delete();
        return nullptr;
    }
    const CPointView<const C3DTPoint<float>> points = GetPointView();
    try
    {
        for (size_t i = 0; i < points.GetCount(); ++i)
        {
            const C3DTPoint<float>& p = points[i];
            double mirror[3] = {p.m_X, p.m_Y, p.m_Z};
            mirror[a] = 2.0 * center - mirror[a];
            int cell[3];
            grid->GetCell(mirror[0], mirror[1], mirror[2], cell);
            // The closest point within the matching distance wins; the lower index on a tie.
            int best = -1;
            double bestD2 = match * match;
            for (int k = 0; k < 27; ++k)
            {
                int n;
                const int* in = grid->GetCellPoints(cell[0] + k / 9 - 1, cell[1] + (k / 3) % 3 - 1,
                                                    cell[2] + k % 3 - 1, n);
                for (int m = 0; m < n; ++m)
                {
                    const C3DTPoint<float>& q = points[size_t(in[m])];
                    double dx = q.m_X - mirror[0], dy = q.m_Y - mirror[1], dz = q.m_Z - mirror[2];
                    double d2 = dx * dx + dy * dy + dz * dz;
                    if (d2 < bestD2 || (d2 == bestD2 && (best < 0 || in[m] < best)))
                    {
                        best = in[m];
                        bestD2 = d2;
                    }
                }
            }
            if (best >= 0)
            {
                (*map)[int(i)] = best;
                (*map)[best] = int(i);
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        map->Delete();
        return nullptr;
    }
    return map;
}

// ------------------------------------------------------------- point-material graph

bool C3DPointList::InitPointMaterialGraph(const C3DFaceList& faces)
{
    m_MaterialGraph.m_Value.reset();
    if (faces.GetSize() == 0)
        return false;
    const size_t n = size_t(GetSize());
    try
    {
        auto graph = std::make_unique<zan_detail::CPointMaterialGraph>();
        // Pairs (point, material) of every corner of a valid face, sorted and made unique.
        std::vector<uint64_t> pairs;
        faces.ForEachFace([&](unsigned f, const int* items, unsigned count) {
            if (faces.IsFaceOneFlagSet(f, _FaceInvalid | _FaceExcluded))
                return;
            unsigned material = faces.GetFaceMaterial(f);
            for (unsigned k = 0; k < count; ++k)
                if (items[k] >= 0 && size_t(items[k]) < n)
                    pairs.push_back(uint64_t(unsigned(items[k])) << 32 | material);
        });
        std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
        graph->m_Offsets.assign(n + 1, 0);
        graph->m_Materials.resize(pairs.size());
        for (size_t k = 0; k < pairs.size(); ++k)
        {
            ++graph->m_Offsets[size_t(pairs[k] >> 32) + 1];
            graph->m_Materials[k] = unsigned(pairs[k]);
        }
        for (size_t i = 0; i < n; ++i)
            graph->m_Offsets[i + 1] += graph->m_Offsets[i];
        m_MaterialGraph.m_Value = std::move(graph);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

void C3DPointList::DeletePointMaterialGraph()
{
    m_MaterialGraph.m_Value.reset();
}

const unsigned* C3DPointList::GetMaterialsConnectedToPoint(int point, int& count) const
{
    count = 0;
    const auto* graph = m_MaterialGraph.m_Value.get();
    if (!graph || point < 0 || size_t(point) + 1 >= graph->m_Offsets.size())
        return nullptr;
    count = int(graph->m_Offsets[size_t(point) + 1] - graph->m_Offsets[size_t(point)]);
    return count ? graph->m_Materials.data() + graph->m_Offsets[size_t(point)] : nullptr;
}

int C3DPointList::GetNumberOfMaterialsConnectedToPoint(int point) const
{
    int count;
    GetMaterialsConnectedToPoint(point, count);
    return count;
}

bool C3DPointList::InitShareSeveralMaterialsFlag()
{
    const auto* graph = m_MaterialGraph.m_Value.get();
    if (!graph || graph->m_Offsets.size() != size_t(GetSize()) + 1)
        return false;
    CPointView<C3DTPoint<float>> points = GetPointView();
    for (size_t i = 0; i < points.GetCount(); ++i)
        points[i].SetFlags(0x40000u, graph->m_Offsets[i + 1] - graph->m_Offsets[i] > 1);
    return true;
}
