// Element array speed on a million 32-byte elements: growth one element at a time, whole-array
// copies, reordering by a random permutation, and archive store+load through a memory file.
//
// Two element kinds: a plain 32-byte record (trivially copyable, base bulk paths) and a point
// object with a virtual table, a flags word and three floats (bulk component archive path,
// and the one-Serialize-per-point path for comparison). Throughput counts the elements' bytes
// in memory (32 per element) once per iteration; for an archive round trip that is one store
// and one load of those elements.
#include <3dzan/foundation/elementarray.h>
#include <3dzan/foundation/xarchive.h>

#include "archive_fixture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>
#include <random>
#include <vector>

namespace
{
constexpr int kCount = 1 << 20;
constexpr int kSlot = 32;

class CBenchPoint
{
public:
    virtual ~CBenchPoint() = default;
    virtual CBenchPoint& operator=(const CBenchPoint& other)
    {
        m_Flags = other.m_Flags;
        m_X = other.m_X;
        m_Y = other.m_Y;
        m_Z = other.m_Z;
        return *this;
    }
    virtual void Serialize(CXArchive& ar)
    {
        ZanSerialize(ar, m_Flags);
        ZanSerialize(ar, m_X);
        ZanSerialize(ar, m_Y);
        ZanSerialize(ar, m_Z);
    }
    uint32_t m_Flags = 0;
    float m_X = 0, m_Y = 0, m_Z = 0;
};
static_assert(sizeof(CBenchPoint) <= kSlot);

class CBenchPointMethods : public CElementMethods
{
    ZAN_DECLARE_DYNCREATE(CBenchPointMethods)

public:
    using CElementMethods::CopyElement;
    bool IsObject() const override { return true; }
    unsigned GetSizeof() const override { return kSlot; }
    uint32_t GetType() const override { return ZanTag("BPNT"); }
    uint32_t GetBaseType() const override { return ZanTag("PNTS"); }
    void ConstructElement(void* element) const override
    {
        if (element)
            new (element) CBenchPoint;
    }
    void DestructElement(void* element) const override
    {
        if (element)
            static_cast<CBenchPoint*>(element)->~CBenchPoint();
    }
    void CopyElement(void* dst, const void* src) const override
    {
        *static_cast<CBenchPoint*>(dst) = *static_cast<const CBenchPoint*>(src);
    }
    void SerializeElement(CXArchive& ar, void* element) const override
    {
        static_cast<CBenchPoint*>(element)->Serialize(ar);
    }
    unsigned GetArchiveSizeof() const override { return 16; }
    // Components of a batch of points go through a staging buffer: one archive block per
    // batch and no virtual call per point.
    void SerializeElements(CXArchive& ar, void* first, size_t count) const override
    {
        struct CRecord
        {
            uint32_t m_Flags;
            float m_X, m_Y, m_Z;
        };
        constexpr size_t kBatch = 1024;
        CRecord batch[kBatch];
        uint8_t* bytes = static_cast<uint8_t*>(first);
        for (size_t done = 0; done < count;)
        {
            size_t n = std::min(kBatch, count - done);
            auto* points = bytes + done * kSlot;
            if (ar.IsStoring())
            {
                for (size_t i = 0; i < n; ++i)
                {
                    auto* p = reinterpret_cast<const CBenchPoint*>(points + i * kSlot);
                    batch[i] = {p->m_Flags, p->m_X, p->m_Y, p->m_Z};
                }
                ar.WriteArray(batch, n);
            }
            else
            {
                ar.ReadArray(batch, n);
                for (size_t i = 0; i < n; ++i)
                {
                    auto* p = reinterpret_cast<CBenchPoint*>(points + i * kSlot);
                    p->m_Flags = batch[i].m_Flags;
                    p->m_X = batch[i].m_X;
                    p->m_Y = batch[i].m_Y;
                    p->m_Z = batch[i].m_Z;
                }
            }
            done += n;
        }
    }
};
ZAN_IMPLEMENT_DYNCREATE(CBenchPointMethods, CElementMethods)

// The same points archived through one virtual Serialize per point.
class CBenchPointLoopMethods : public CBenchPointMethods
{
    ZAN_DECLARE_DYNCREATE(CBenchPointLoopMethods)

public:
    void SerializeElements(CXArchive& ar, void* first, size_t count) const override
    {
        CElementMethods::SerializeElements(ar, first, count);
    }
};
ZAN_IMPLEMENT_DYNCREATE(CBenchPointLoopMethods, CBenchPointMethods)

// A plain 32-byte record: everything goes through the base class's block paths.
class CBenchRecordMethods : public CElementMethods
{
    ZAN_DECLARE_DYNCREATE(CBenchRecordMethods)

public:
    unsigned GetSizeof() const override { return kSlot; }
    uint32_t GetType() const override { return ZanTag("BREC"); }
    uint32_t GetBaseType() const override { return ZanTag("BREC"); }
};
ZAN_IMPLEMENT_DYNCREATE(CBenchRecordMethods, CElementMethods)

CElementMethods* NewMethods(int kind)
{
    switch (kind)
    {
    case 0:
        return new CBenchRecordMethods;
    case 1:
        return new CBenchPointMethods;
    default:
        return new CBenchPointLoopMethods;
    }
}

const char* KindName(int kind)
{
    static const char* const names[] = {"plain32", "point", "point-per-element"};
    return names[kind];
}

// A full array with distinct values in every element (flags and coordinates for points,
// the same bytes for records).
void Fill(CElementArray& array)
{
    array.SetSize(kCount);
    auto* bytes = static_cast<uint8_t*>(array.GetDataPtr());
    bool object = array.GetMethods()->IsObject();
    for (int i = 0; i < kCount; ++i)
    {
        uint8_t* slot = bytes + size_t(i) * kSlot;
        if (object)
        {
            auto* p = reinterpret_cast<CBenchPoint*>(slot);
            p->m_Flags = uint32_t(i);
            p->m_X = float(i);
            p->m_Y = float(i) * 0.5f;
            p->m_Z = -float(i);
        }
        else
        {
            for (int w = 0; w < kSlot / 4; ++w)
            {
                uint32_t word = uint32_t(i) * 8 + uint32_t(w);
                std::memcpy(slot + w * 4, &word, 4);
            }
        }
    }
}

void SetBytes(benchmark::State& state)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * kCount * kSlot);
    state.SetItemsProcessed(int64_t(state.iterations()) * kCount);
}

void BM_Add(benchmark::State& state)
{
    int kind = int(state.range(0));
    state.SetLabel(KindName(kind));
    CElementArray model(NewMethods(kind));
    model.SetSize(1);
    const void* value = model.GetAt(0);
    for (auto _ : state)
    {
        CElementArray array(NewMethods(kind));
        for (int i = 0; i < kCount; ++i)
            array.Add(value);
        benchmark::DoNotOptimize(array.GetDataPtr());
    }
    SetBytes(state);
}
BENCHMARK(BM_Add)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_SetAtGrow(benchmark::State& state)
{
    int kind = int(state.range(0));
    state.SetLabel(KindName(kind));
    CElementArray model(NewMethods(kind));
    model.SetSize(1);
    const void* value = model.GetAt(0);
    for (auto _ : state)
    {
        CElementArray array(NewMethods(kind));
        for (int i = 0; i < kCount; ++i)
            array.SetAtGrow(i, value);
        benchmark::DoNotOptimize(array.GetDataPtr());
    }
    SetBytes(state);
}
BENCHMARK(BM_SetAtGrow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Copy(benchmark::State& state)
{
    int kind = int(state.range(0));
    state.SetLabel(KindName(kind));
    CElementArray source(NewMethods(kind));
    Fill(source);
    CElementArray target(NewMethods(kind));
    target.SetSize(kCount);
    for (auto _ : state)
    {
        target.Copy(source);
        benchmark::DoNotOptimize(target.GetDataPtr());
    }
    SetBytes(state);
}
BENCHMARK(BM_Copy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

std::vector<unsigned> RandomPermutation()
{
    std::vector<unsigned> order(kCount);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(12345));
    return order;
}

void BM_Reorder(benchmark::State& state)
{
    int kind = int(state.range(0));
    bool scatter = state.range(1) != 0;
    state.SetLabel(std::string(KindName(kind)) + (scatter ? " scatter" : " gather"));
    CElementArray array(NewMethods(kind));
    Fill(array);
    std::vector<unsigned> order = RandomPermutation();
    for (auto _ : state)
    {
        array.Reorder(order.data(), unsigned(order.size()), scatter);
        benchmark::DoNotOptimize(array.GetDataPtr());
    }
    SetBytes(state);
}
BENCHMARK(BM_Reorder)
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond);

// Archive round trips go through one memory file kept across iterations: after the first
// store its bytes are rewritten in place, so the figures are those of the archive and the
// array, not of the memory file growing into fresh pages. A load builds its own block and
// swaps it in (that is what keeps the old content on a malformed archive), so each load
// writes a fresh block.
struct CArchiveFixture
{
    explicit CArchiveFixture(int kind) : m_Source(NewMethods(kind)), m_Target(NewMethods(kind))
    {
        Fill(m_Source);
        m_Target.SetSize(kCount);
        Store();
    }
    void Store() { zanbench::StoreInto(m_File, m_Source); }
    void Load() { zanbench::LoadFrom(m_File, m_Target); }
    void Check(benchmark::State& state) const
    {
        if (m_Target.GetChecksum() != m_Source.GetChecksum())
            state.SkipWithError("the loaded array differs from the stored one");
        state.counters["archive_MB"] = double(m_File.GetLength()) / 1e6;
    }

    CElementArray m_Source;
    CElementArray m_Target;
    CXMemFile m_File;
};

void BM_ArchiveStoreLoad(benchmark::State& state)
{
    int kind = int(state.range(0));
    state.SetLabel(KindName(kind));
    CArchiveFixture fixture(kind);
    for (auto _ : state)
    {
        fixture.Store();
        fixture.Load();
        benchmark::DoNotOptimize(fixture.m_Target.GetDataPtr());
    }
    fixture.Check(state);
    SetBytes(state);
}
BENCHMARK(BM_ArchiveStoreLoad)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_ArchiveStore(benchmark::State& state)
{
    int kind = int(state.range(0));
    state.SetLabel(KindName(kind));
    CArchiveFixture fixture(kind);
    for (auto _ : state)
    {
        fixture.Store();
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}
BENCHMARK(BM_ArchiveStore)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_ArchiveLoad(benchmark::State& state)
{
    int kind = int(state.range(0));
    state.SetLabel(KindName(kind));
    CArchiveFixture fixture(kind);
    for (auto _ : state)
    {
        fixture.Load();
        benchmark::DoNotOptimize(fixture.m_Target.GetDataPtr());
    }
    fixture.Check(state);
    SetBytes(state);
}
BENCHMARK(BM_ArchiveLoad)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// References for "memory speed" on the machine at hand: a memcpy of the same bytes between
// two existing blocks, and a std::vector of 32-byte records grown by push_back.
void BM_BaselineMemcpy(benchmark::State& state)
{
    std::vector<uint8_t> from(size_t(kCount) * kSlot, 1), to(size_t(kCount) * kSlot, 0);
    for (auto _ : state)
    {
        std::memcpy(to.data(), from.data(), to.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}
BENCHMARK(BM_BaselineMemcpy)->Unit(benchmark::kMillisecond);

void BM_BaselineVectorPushBack(benchmark::State& state)
{
    struct CRecord
    {
        uint32_t m_Words[kSlot / 4];
    };
    CRecord record = {};
    for (auto _ : state)
    {
        std::vector<CRecord> records;
        for (int i = 0; i < kCount; ++i)
            records.push_back(record);
        benchmark::DoNotOptimize(records.data());
    }
    SetBytes(state);
}
BENCHMARK(BM_BaselineVectorPushBack)->Unit(benchmark::kMillisecond);

void BM_Checksum(benchmark::State& state)
{
    int kind = int(state.range(0));
    state.SetLabel(KindName(kind));
    CElementArray array(NewMethods(kind));
    Fill(array);
    for (auto _ : state)
        benchmark::DoNotOptimize(array.GetChecksum());
    SetBytes(state);
}
BENCHMARK(BM_Checksum)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
} // namespace
