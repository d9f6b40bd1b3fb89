// Face list speed on a million triangles: building (one bulk call, or one face at a time),
// reading every corner index (raw iteration, pointer and count per face, or face handles),
// whole-list copies, and archive store+load through a memory file.
//
// Throughput counts the triangles' index bytes (12 per face) once per iteration, except the
// archive round trip, which counts the archive's bytes once (one store and one load of them).
#include <3dzan/foundation/xarchive.h>
#include <3dzan/geometry/facelist.h>

#include "archive_fixture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace
{
constexpr unsigned kFaces = 1u << 20;
constexpr unsigned kPoints = kFaces / 2; // a closed mesh has about twice as many faces as points

const std::vector<int>& Triangles()
{
    static const std::vector<int> indices = []
    {
        std::vector<int> v(size_t(kFaces) * 3);
        std::mt19937 random(42);
        for (int& i : v)
            i = int(random() % kPoints);
        return v;
    }();
    return indices;
}

void BuildBulk(C3DFaceList& list)
{
    list.SetPointBound(kPoints);
    list.Reserve(kFaces, uint64_t(kFaces) * 3);
    list.AddFaces(Triangles().data(), kFaces, 3);
}

void SetIndexBytes(benchmark::State& state)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * kFaces * 3 * int64_t(sizeof(int)));
    state.SetItemsProcessed(int64_t(state.iterations()) * kFaces);
}

void BM_BuildTrianglesBulk(benchmark::State& state)
{
    for (auto _ : state)
    {
        C3DFaceList list;
        BuildBulk(list);
        benchmark::DoNotOptimize(list.GetStorage().GetBuffer());
    }
    SetIndexBytes(state);
}
BENCHMARK(BM_BuildTrianglesBulk)->Unit(benchmark::kMillisecond);

void BM_BuildTrianglesOneByOne(benchmark::State& state)
{
    const int* indices = Triangles().data();
    for (auto _ : state)
    {
        C3DFaceList list;
        list.SetPointBound(kPoints);
        for (unsigned f = 0; f < kFaces; ++f)
            list.AddFace(indices + 3 * size_t(f), 3);
        benchmark::DoNotOptimize(list.GetStorage().GetBuffer());
    }
    SetIndexBytes(state);
}
BENCHMARK(BM_BuildTrianglesOneByOne)->Unit(benchmark::kMillisecond);

void BM_IterateCornersRaw(benchmark::State& state)
{
    C3DFaceList list;
    BuildBulk(list);
    for (auto _ : state)
    {
        uint64_t sum = 0;
        list.ForEachFace(
            [&](unsigned, const int* indices, unsigned count)
            {
                for (unsigned k = 0; k < count; ++k)
                    sum += unsigned(indices[k]);
            });
        benchmark::DoNotOptimize(sum);
    }
    SetIndexBytes(state);
}
BENCHMARK(BM_IterateCornersRaw)->Unit(benchmark::kMillisecond);

void BM_IterateCornersGetIndexes(benchmark::State& state)
{
    C3DFaceList list;
    BuildBulk(list);
    for (auto _ : state)
    {
        uint64_t sum = 0;
        for (unsigned f = 0, n = unsigned(list.GetSize()); f < n; ++f)
        {
            int count;
            const int* indices = list.GetIndexes(f, count);
            for (int k = 0; k < count; ++k)
                sum += unsigned(indices[k]);
        }
        benchmark::DoNotOptimize(sum);
    }
    SetIndexBytes(state);
}
BENCHMARK(BM_IterateCornersGetIndexes)->Unit(benchmark::kMillisecond);

void BM_IterateCornersFaceHandle(benchmark::State& state)
{
    C3DFaceList list;
    BuildBulk(list);
    CFace face;
    for (auto _ : state)
    {
        uint64_t sum = 0;
        for (unsigned f = 0; list.GetFace(f, face); ++f)
            for (int k = 0, n = face.GetSize(); k < n; ++k)
                sum += unsigned(face.GetIndex(k));
        benchmark::DoNotOptimize(sum);
    }
    SetIndexBytes(state);
}
BENCHMARK(BM_IterateCornersFaceHandle)->Unit(benchmark::kMillisecond);

void BM_CopyList(benchmark::State& state)
{
    C3DFaceList list;
    BuildBulk(list);
    list.SaveFacesIndex();
    for (auto _ : state)
    {
        C3DFaceList copy;
        copy = list;
        benchmark::DoNotOptimize(copy.GetStorage().GetBuffer());
    }
    SetIndexBytes(state);
}
BENCHMARK(BM_CopyList)->Unit(benchmark::kMillisecond);

// Archive round trips go through one memory file kept across iterations, so that after the
// first store its bytes are rewritten in place and the figures are those of the list, not of
// the file growing into fresh pages. A load builds the new storage and chunks aside and swaps
// them in (that is what keeps the old content on a malformed archive), so each load writes
// fresh blocks.
struct CArchiveFixture
{
    CArchiveFixture()
    {
        BuildBulk(m_Source);
        m_Target.SetPointBound(kPoints);
        Store();
    }
    void Store() { zanbench::StoreInto(m_File, m_Source); }
    void Load() { zanbench::LoadFrom(m_File, m_Target); }
    void Report(benchmark::State& state) const
    {
        if (m_Target.GetSize() && m_Target.GetChecksum(0x0C) != m_Source.GetChecksum(0x0C))
            state.SkipWithError("the loaded list differs from the stored one");
        state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(m_File.GetLength()));
        state.counters["archive_MB"] = double(m_File.GetLength()) / 1e6;
    }

    C3DFaceList m_Source;
    C3DFaceList m_Target;
    CXMemFile m_File;
};

void BM_ArchiveStoreLoad(benchmark::State& state)
{
    CArchiveFixture fixture;
    for (auto _ : state)
    {
        fixture.Store();
        fixture.Load();
        benchmark::DoNotOptimize(fixture.m_Target.GetStorage().GetBuffer());
    }
    fixture.Report(state);
}
BENCHMARK(BM_ArchiveStoreLoad)->Unit(benchmark::kMillisecond);

void BM_ArchiveStore(benchmark::State& state)
{
    CArchiveFixture fixture;
    for (auto _ : state)
    {
        fixture.Store();
        benchmark::ClobberMemory();
    }
    fixture.Report(state);
}
BENCHMARK(BM_ArchiveStore)->Unit(benchmark::kMillisecond);

void BM_ArchiveLoad(benchmark::State& state)
{
    CArchiveFixture fixture;
    for (auto _ : state)
    {
        fixture.Load();
        benchmark::DoNotOptimize(fixture.m_Target.GetStorage().GetBuffer());
    }
    fixture.Report(state);
}
BENCHMARK(BM_ArchiveLoad)->Unit(benchmark::kMillisecond);

void BM_ReorderFaces(benchmark::State& state)
{
    C3DFaceList list;
    BuildBulk(list);
    list.SaveFacesIndex();
    std::vector<unsigned> order(kFaces);
    for (unsigned i = 0; i < kFaces; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (auto _ : state)
        benchmark::DoNotOptimize(list.ReorderFaces(order.data(), kFaces, false));
    SetIndexBytes(state);
}
BENCHMARK(BM_ReorderFaces)->Unit(benchmark::kMillisecond);
} // namespace
