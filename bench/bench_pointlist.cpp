// Point list speed on a million points of a C3DPointList: growth (one point at a time and in
// one sizing), whole-list copies, reordering by a random permutation, reading the coordinates
// through the raw view (and, for comparison, through the virtual interface), and archive
// store+load through a memory file.
//
// Throughput counts the points' bytes in memory (32 per point) once per iteration; for an
// archive round trip that is one store and one load of those points. Arguments 0/1 select a
// list without chunks or with an original-index chunk that has to follow every edit.
#include <3dzan/foundation/xarchive.h>
#include <3dzan/geometry/pointlist.h>

#include "archive_fixture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace
{
constexpr int kCount = 1 << 20;
constexpr int kSlot = 32;

void SetBytes(benchmark::State& state)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * kCount * kSlot);
    state.SetItemsProcessed(int64_t(state.iterations()) * kCount);
}

const char* ChunkLabel(const benchmark::State& state)
{
    return state.range(0) ? "with POOI chunk" : "no chunk";
}

// A full list with distinct flags and coordinates in every point.
void Fill(C3DPointList& list, bool withChunk)
{
    list.SetSize(kCount);
    auto points = list.GetPointView();
    for (size_t i = 0; i < points.GetCount(); ++i)
    {
        points[i].Set(float(i), float(i) * 0.5f, -float(i));
        points[i].SetFlags(unsigned(i) & 0x70u);
    }
    if (withChunk)
        list.SavePointsIndex();
}

void BM_PointListAdd(benchmark::State& state)
{
    state.SetLabel(ChunkLabel(state));
    C3DTPoint<float> point(1, 2, 3);
    for (auto _ : state)
    {
        C3DPointList list;
        if (state.range(0))
            list.SavePointsIndex();
        for (int i = 0; i < kCount; ++i)
            list.Add(&point);
        benchmark::DoNotOptimize(list.GetDataPtr());
    }
    SetBytes(state);
}
BENCHMARK(BM_PointListAdd)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PointListSetSize(benchmark::State& state)
{
    state.SetLabel(ChunkLabel(state));
    for (auto _ : state)
    {
        C3DPointList list;
        if (state.range(0))
            list.SavePointsIndex();
        list.SetSize(kCount);
        benchmark::DoNotOptimize(list.GetDataPtr());
    }
    SetBytes(state);
}
BENCHMARK(BM_PointListSetSize)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PointListCopy(benchmark::State& state)
{
    state.SetLabel(ChunkLabel(state));
    C3DPointList source;
    Fill(source, state.range(0) != 0);
    C3DPointList target;
    for (auto _ : state)
    {
        target = source;
        benchmark::DoNotOptimize(target.GetDataPtr());
    }
    if (target.GetChecksum(3u) != source.GetChecksum(3u))
        state.SkipWithError("the copy differs from its source");
    SetBytes(state);
}
BENCHMARK(BM_PointListCopy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PointListReorder(benchmark::State& state)
{
    bool scatter = state.range(1) != 0;
    state.SetLabel(std::string(ChunkLabel(state)) + (scatter ? ", scatter" : ", gather"));
    C3DPointList list;
    Fill(list, state.range(0) != 0);
    std::vector<unsigned> order(kCount);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(12345));
    for (auto _ : state)
    {
        list.Reorder(order.data(), unsigned(order.size()), scatter);
        benchmark::DoNotOptimize(list.GetDataPtr());
    }
    SetBytes(state);
}
BENCHMARK(BM_PointListReorder)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond);

// The coordinates summed through the strided view: plain loads, no call per point.
void BM_PointListIterateView(benchmark::State& state)
{
    C3DPointList list;
    Fill(list, false);
    for (auto _ : state)
    {
        auto points = list.GetPointView();
        float sum = 0;
        for (size_t i = 0; i < points.GetCount(); ++i)
            sum += points[i].m_X + points[i].m_Y + points[i].m_Z;
        benchmark::DoNotOptimize(sum);
    }
    SetBytes(state);
}
BENCHMARK(BM_PointListIterateView)->Unit(benchmark::kMillisecond);

// The same sum through the generic interface: one virtual To4DPoint per point.
void BM_PointListIterateVirtual(benchmark::State& state)
{
    C3DPointList list;
    Fill(list, false);
    for (auto _ : state)
    {
        auto points = list.GetPtView();
        double sum = 0;
        C4DPoint value;
        for (size_t i = 0; i < points.GetCount(); ++i)
        {
            points[i].To4DPoint(value);
            sum += value[0] + value[1] + value[2];
        }
        benchmark::DoNotOptimize(sum);
    }
    SetBytes(state);
}
BENCHMARK(BM_PointListIterateVirtual)->Unit(benchmark::kMillisecond);

// One memory file kept across iterations, rewritten in place by each store, so the figures are
// those of the list and the archive, not of the file growing into fresh pages.
struct CArchiveFixture
{
    explicit CArchiveFixture(bool withChunk)
    {
        Fill(m_Source, withChunk);
        Store();
    }
    void Store() { zanbench::StoreInto(m_File, m_Source); }
    void Load() { zanbench::LoadFrom(m_File, m_Target); }
    void Check(benchmark::State& state) const
    {
        if (m_Target.GetChecksum(3u) != m_Source.GetChecksum(3u) ||
            m_Target.GetSize() != m_Source.GetSize())
            state.SkipWithError("the loaded list differs from the stored one");
        state.counters["archive_MB"] = double(m_File.GetLength()) / 1e6;
    }

    C3DPointList m_Source;
    C3DPointList m_Target;
    CXMemFile m_File;
};

void BM_PointListArchiveStoreLoad(benchmark::State& state)
{
    state.SetLabel(ChunkLabel(state));
    CArchiveFixture fixture(state.range(0) != 0);
    for (auto _ : state)
    {
        fixture.Store();
        fixture.Load();
        benchmark::DoNotOptimize(fixture.m_Target.GetDataPtr());
    }
    fixture.Check(state);
    SetBytes(state);
}
BENCHMARK(BM_PointListArchiveStoreLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PointListArchiveStore(benchmark::State& state)
{
    state.SetLabel(ChunkLabel(state));
    CArchiveFixture fixture(state.range(0) != 0);
    for (auto _ : state)
    {
        fixture.Store();
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}
BENCHMARK(BM_PointListArchiveStore)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_PointListArchiveLoad(benchmark::State& state)
{
    state.SetLabel(ChunkLabel(state));
    CArchiveFixture fixture(state.range(0) != 0);
    for (auto _ : state)
    {
        fixture.Load();
        benchmark::DoNotOptimize(fixture.m_Target.GetDataPtr());
    }
    fixture.Check(state);
    SetBytes(state);
}
BENCHMARK(BM_PointListArchiveLoad)->Arg(0)->Unit(benchmark::kMillisecond);
} // namespace
