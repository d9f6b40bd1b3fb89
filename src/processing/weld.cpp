// Welding of confused points. The points go into a point grid whose cell size is the
// tolerance; points are visited in index order, and a point not yet taken represents itself
// and takes the candidates of the 27 cells around its own (unmapped ones, and mapped ones
// strictly closer to it than to their representative). The cell layout alone decides who is a
// candidate: no distance cut-off is applied.
//
// Fast path. Most occupied cells touch no other occupied cell (always so for a fine grid of
// exact duplicates): the points of such an isolated cell only ever see each other, so the
// cell can be welded on its own, in one pass over its points, without the 27 hash look-ups.
// Isolation is found without hash look-ups: the occupied cells are radix-sorted by (x, y, z)
// and swept once with a cursor per neighbour row. Only the points of touching cells go
// through the general loop, still in index order. The remap is the one the general loop
// gives, which a test checks.
#include <3dzan/foundation/services.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/processing/spatialmaps.h>
#include <3dzan/scene/geomobject.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <new>

namespace
{
constexpr unsigned kStrings_Merging = 61000;
constexpr unsigned kStrings_MergingPoints = 61002;
constexpr int kPollEvery = 4096;

/// Which points may attract others (source) and which may be taken (candidate).
class CWeldFilters
{
public:
    CWeldFilters(const CWeldFilter* filters, unsigned count, double tolerance)
    {
        if (tolerance == 0.0 || !filters)
            return;
        for (unsigned k = 0; k < count; ++k)
            if (filters[k].m_Mask && filters[k].m_Mode)
                m_Pairs.push_back(filters[k]);
    }
    bool IsActive() const { return !m_Pairs.empty(); }
    bool IsSource(unsigned flags) const
    {
        for (const CWeldFilter& f : m_Pairs)
        {
            bool has = (flags & f.m_Mask) != 0;
            if (((f.m_Mode & _WeldSkipSourceWithFlag) && has) ||
                ((f.m_Mode & _WeldSkipSourceWithoutFlag) && !has))
                return false;
        }
        return true;
    }
    bool IsCandidate(unsigned flags) const
    {
        for (const CWeldFilter& f : m_Pairs)
        {
            bool has = (flags & f.m_Mask) != 0;
            if (((f.m_Mode & _WeldRefuseCandidateWithFlag) && has) ||
                ((f.m_Mode & _WeldRefuseCandidateWithoutFlag) && !has))
                return false;
        }
        return true;
    }

private:
    std::vector<CWeldFilter> m_Pairs;
};

using CPositionView = CPointView<const C3DTPoint<float>>;

float Distance2(const C3DTPoint<float>& a, const C3DTPoint<float>& b)
{
    float dx = a.m_X - b.m_X, dy = a.m_Y - b.m_Y, dz = a.m_Z - b.m_Z;
    return dx * dx + dy * dy + dz * dz;
}

/// The weld state shared by both loops: the remap and the per-point filter answers.
struct CWeldState
{
    CPositionView m_Points;
    std::vector<int>& m_Remap;
    std::vector<uint8_t> m_Role; ///< bit 1: may attract; bit 2: may be taken (empty: all)

    bool IsSource(size_t i) const { return m_Role.empty() || (m_Role[i] & 1); }
    bool IsCandidate(size_t j) const { return m_Role.empty() || (m_Role[j] & 2); }

    /// Point \p i, not yet mapped, represents itself and takes what it may of \p candidates.
    void Represent(int i, const int* candidates, int count, bool skipSelf)
    {
        m_Remap[size_t(i)] = i;
        if (!IsSource(size_t(i)))
            return;
        const C3DTPoint<float>& pi = m_Points[size_t(i)];
        for (int k = 0; k < count; ++k)
        {
            int j = candidates[k];
            if ((skipSelf && j == i) || !IsCandidate(size_t(j)))
                continue;
            int& r = m_Remap[size_t(j)];
            if (r == -1)
                r = i;
            else if (r != i)
            {
                const C3DTPoint<float>& pj = m_Points[size_t(j)];
                if (Distance2(pj, pi) < Distance2(pj, m_Points[size_t(r)]))
                    r = i;
            }
        }
    }
};

bool PrepareRoles(const C3DPointList& points, const CWeldFilters& filters, CWeldState& state)
{
    if (!filters.IsActive())
        return true;
    CPointView<const CPt> pts = points.GetPtView();
    state.m_Role.resize(pts.GetCount());
    for (size_t i = 0; i < pts.GetCount(); ++i)
    {
        unsigned flags = pts[i].GetFlags();
        state.m_Role[i] =
            uint8_t((filters.IsSource(flags) ? 1 : 0) | (filters.IsCandidate(flags) ? 2 : 0));
    }
    return true;
}

bool CheckInput(const C3DPointList& points, double tolerance)
{
    if (points.IsEmpty() || !(tolerance >= 0.0) || !std::isfinite(tolerance))
        return false;
    CPositionView view = points.GetPointView();
    for (size_t i = 0; i < view.GetCount(); ++i)
        if (!std::isfinite(view[i].m_X) || !std::isfinite(view[i].m_Y) ||
            !std::isfinite(view[i].m_Z))
            return false;
    return true;
}

struct CCellRecord
{
    uint32_t m_Key[3]; ///< x, y, z with the sign bit flipped, so that unsigned order is signed order
    uint32_t m_Rank;

    bool operator<(const CCellRecord& other) const
    {
        if (m_Key[0] != other.m_Key[0])
            return m_Key[0] < other.m_Key[0];
        if (m_Key[1] != other.m_Key[1])
            return m_Key[1] < other.m_Key[1];
        return m_Key[2] < other.m_Key[2];
    }
};

/// Sorts \p records by (x, y, z): least significant digit first, 16 bits per pass, skipping
/// the passes whose digit is the same for every record.
void SortCells(std::vector<CCellRecord>& records)
{
    std::vector<CCellRecord> scratch(records.size());
    std::vector<size_t> count(65537);
    for (int pass = 0; pass < 6; ++pass)
    {
        const int word = 2 - pass / 2, shift = (pass % 2) * 16;
        std::fill(count.begin(), count.end(), 0);
        for (const CCellRecord& r : records)
            ++count[((r.m_Key[word] >> shift) & 0xFFFF) + 1];
        if (std::find(count.begin() + 1, count.end(), records.size()) != count.end())
            continue;
        for (size_t d = 0; d < 65536; ++d)
            count[d + 1] += count[d];
        for (const CCellRecord& r : records)
            scratch[count[(r.m_Key[word] >> shift) & 0xFFFF]++] = r;
        records.swap(scratch);
    }
}

/// For every cell of \p grid, whether another occupied cell touches it (differs by at most
/// one on every axis). The cells are sorted by (x, y, z); a cell's neighbours then lie in the
/// nine rows (x + dx, y + dy), and since shifting every key by the same offset keeps their
/// order, one cursor per row offset walks forward through the sorted cells once in all.
std::vector<uint8_t> FindTouchingCells(const C3DPointGridMap& grid)
{
    const unsigned cells = grid.GetCellNbr();
    std::vector<uint8_t> touching(cells, 0);
    if (cells < 2)
        return touching;
    std::vector<CCellRecord> sorted(cells);
    for (unsigned c = 0; c < cells; ++c)
    {
        int key[3];
        grid.GetCellKey(c, key);
        for (int a = 0; a < 3; ++a)
            sorted[c].m_Key[a] = uint32_t(key[a]) ^ 0x80000000u;
        sorted[c].m_Rank = c;
    }
    SortCells(sorted);
    size_t cursor[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i < cells; ++i)
    {
        const CCellRecord& cell = sorted[i];
        for (int d = 0; d < 9 && !touching[cell.m_Rank]; ++d)
        {
            // Keys are clamped two short of the extremes, so these never wrap.
            CCellRecord low;
            low.m_Key[0] = cell.m_Key[0] + uint32_t(d / 3) - 1;
            low.m_Key[1] = cell.m_Key[1] + uint32_t(d % 3) - 1;
            low.m_Key[2] = cell.m_Key[2] - 1;
            size_t& q = cursor[d];
            while (q < cells && sorted[q] < low)
                ++q;
            for (size_t r = q; r < cells && sorted[r].m_Key[0] == low.m_Key[0] &&
                               sorted[r].m_Key[1] == low.m_Key[1] &&
                               sorted[r].m_Key[2] <= cell.m_Key[2] + 1;
                 ++r)
                if (r != i)
                {
                    touching[cell.m_Rank] = 1;
                    touching[sorted[r].m_Rank] = 1;
                    break;
                }
        }
    }
    return touching;
}

bool Poll(CProgressTask* progress, int64_t position)
{
    return progress && progress->CheckStop(position);
}
} // namespace

bool ComputeWeldRemap(const C3DPointList& points, double tolerance, bool absolute,
                      const CWeldFilter* filters, unsigned filterCount, std::vector<int>& remap,
                      CProgressTask* progress)
{
    remap.clear();
    if (!CheckInput(points, tolerance))
        return false;
    const size_t n = size_t(points.GetSize());
    try
    {
        std::unique_ptr<C3DPointGridMap> grid(points.InitGridCoordMap(tolerance, absolute));
        if (!grid)
            return false;
        remap.assign(n, -1);
        CWeldState state{points.GetPointView(), remap, {}};
        PrepareRoles(points, CWeldFilters(filters, filterCount, tolerance), state);
        if (progress)
            progress->SetRange(0, int64_t(n));

        const std::vector<uint8_t> touching = FindTouchingCells(*grid);
        int64_t done = 0;
        // Isolated cells, each on its own: their points see only each other.
        const unsigned cells = grid->GetCellNbr();
        for (unsigned c = 0; c < cells; ++c)
        {
            if (touching[c])
                continue;
            int count;
            const int* in = grid->GetCellPointsByRank(c, count);
            for (int a = 0; a < count; ++a)
                if (remap[size_t(in[a])] == -1)
                    state.Represent(in[a], in, count, true);
            if ((done += count) % kPollEvery < count && Poll(progress, done))
            {
                remap.clear();
                return false;
            }
        }
        // Touching cells: the general loop in index order over their points only.
        WeldProximityMap map;
        map.m_Grid = std::move(grid);
        map.m_Candidates.reserve(512);
        for (size_t i = 0; i < n; ++i)
        {
            if (!touching[map.m_Grid->GetPointCell(int(i))])
                continue;
            if (++done % kPollEvery == 0 && Poll(progress, done))
            {
                remap.clear();
                return false;
            }
            if (remap[i] != -1)
                continue;
            int count;
            const int* candidates = points.Get3DProximityPoints(int(i), &map, count);
            state.Represent(int(i), candidates, count, false);
        }
        if (Poll(progress, int64_t(n)))
        {
            remap.clear();
            return false;
        }
        return true;
    }
    catch (const std::bad_alloc&)
    {
        remap.clear();
        return false;
    }
}

bool ComputeWeldRemapPlain(const C3DPointList& points, double tolerance, bool absolute,
                           const CWeldFilter* filters, unsigned filterCount,
                           std::vector<int>& remap)
{
    remap.clear();
    if (!CheckInput(points, tolerance))
        return false;
    std::unique_ptr<WeldProximityMap, void (*)(WeldProximityMap*)> map(
        points.InitWeldMap(tolerance, absolute), &C3DPointList::DeleteWeldMap);
    if (!map)
        return false;
    try
    {
        const size_t n = size_t(points.GetSize());
        remap.assign(n, -1);
        CWeldState state{points.GetPointView(), remap, {}};
        PrepareRoles(points, CWeldFilters(filters, filterCount, tolerance), state);
        for (size_t i = 0; i < n; ++i)
        {
            if (remap[i] != -1)
                continue;
            int count;
            const int* candidates = points.Get3DProximityPoints(int(i), map.get(), count);
            state.Represent(int(i), candidates, count, false);
        }
        return true;
    }
    catch (const std::bad_alloc&)
    {
        remap.clear();
        return false;
    }
}

// ------------------------------------------------------------------ C3DGeomObject

bool C3DGeomObject::Weld3DPoints(double tolerance, bool absolute, unsigned pairCount,
                                 unsigned mask, ...)
{
    std::vector<CWeldFilter> filters;
    // A count beyond what anyone passes is a caller's mistake: read no argument that is not
    // there, and weld without filters as for a count of 0.
    if (pairCount > 0 && pairCount <= 64)
    {
        va_list args;
        va_start(args, mask);
        filters.resize(pairCount);
        filters[0].m_Mask = mask;
        filters[0].m_Mode = va_arg(args, unsigned);
        for (unsigned k = 1; k < pairCount; ++k)
        {
            filters[k].m_Mask = va_arg(args, unsigned);
            filters[k].m_Mode = va_arg(args, unsigned);
        }
        va_end(args);
    }
    return Weld3DPoints(tolerance, absolute, std::span<const CWeldFilter>(filters));
}

bool C3DGeomObject::Weld3DPoints(double tolerance, bool absolute,
                                 std::span<const CWeldFilter> filters)
{
    if (!m_PointList)
        return false;
    const uint64_t start = timeGetTick();
    CXTString title, status;
    if (!title.LoadStringW(kStrings_Merging))
        title = "Merging...";
    if (!status.LoadStringW(kStrings_MergingPoints))
        status = "Merging confused points";
    CProgressTask progress(title.c_str(), status.c_str(), this);
    CLogIndent indent;

    std::vector<int> remap;
    if (!ComputeWeldRemap(*m_PointList, tolerance, absolute, filters.data(),
                          unsigned(filters.size()), remap, &progress))
        return false;

    bool changed = false;
    bool moved = false;
    for (size_t i = 0; i < remap.size() && !moved; ++i)
        moved = remap[i] != int(i);
    if (moved)
    {
        if (m_FaceList)
        {
            std::vector<unsigned> indices(remap.begin(), remap.end());
            if (m_FaceList->UpdateIndex(indices.data(), unsigned(indices.size()), true))
            {
                changed = true;
                Clean();
            }
        }
        else
        {
            CPointView<CPt> points = m_PointList->GetPtView();
            for (size_t i = 0; i < remap.size(); ++i)
                if (remap[i] != int(i))
                    points[i].SetFlags(0x02u, true);
            changed = true;
            Clean();
        }
    }
    CGeomInfo info(this);
    if (m_Channels && m_Channels->Weld(&info, 0.0) > 0)
        changed = true;
    if (CleanChannels(0xFFFFFFFFu, true))
        changed = true;
    if (changed)
        Invalidate(_InvalidatePoints | _InvalidateFaces, true);
    WriteToLogFile("C3DGeomObject::Weld3DPoints time %d ms\n", int(timeGetTick() - start));
    return changed;
}
