// Point lists: chunks that follow every edit (against a model), flags and statistics, Clean,
// checksums against a reference written from their rule, archives of every list type (round
// trips, the committed golden file, malformed and truncated input).
#include "common/zan_test_helpers.h"

#include <3dzan/geometry/elementmethods.h>
#include <3dzan/geometry/pointlist.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace
{
const unsigned kPooi = ZanTag("POOI");
const unsigned kExtra = ZanTag("XTRA");

const char* const kListClasses[] = {"C2DPointList",    "C2DPointExtList", "C3DPointList",
                                    "C3DVectorList",   "CUVWPointList",   "CVCPointList",
                                    "CWeightPointList"};

struct CListDeleter
{
    void operator()(CPointList* list) const { list->Delete(); }
};
using CListPtr = std::unique_ptr<CPointList, CListDeleter>;

CListPtr CreateList(const char* className)
{
    return CListPtr(CPointList::FromXObject(CXRuntimeClass::CreateObject(className)));
}

unsigned ChunkValue(const CPointList& list, unsigned id, int index)
{
    const void* value = list.GetData(id, unsigned(index));
    return value ? *static_cast<const unsigned*>(value) : 0xDEADu;
}

void SetChunkValue(CPointList& list, unsigned id, int index, unsigned value)
{
    *static_cast<unsigned*>(list.GetData(id, unsigned(index))) = value;
}

// Every chunk as long as the list.
void ExpectParallel(const CPointList& list)
{
    const CDataChunk& chunks = list.GetDataChunks();
    EXPECT_EQ(chunks.GetDataSize(), unsigned(list.GetSize()));
    for (unsigned pos = chunks.GetFirstChunk(); pos != kZanNone;)
    {
        unsigned id;
        chunks.GetNextChunk(pos, id);
        EXPECT_EQ(chunks.GetData(id)->GetSize(), list.GetSize()) << id;
    }
}

// Points of any type filled through their virtual interface from a seed: varied flags (some
// invalid), components of both signs, zeros of both signs now and then.
void FillPoints(CPointList& list, int count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> value(-50.0, 300.0);
    list.SetSize(count);
    auto points = list.GetPtView();
    for (int i = 0; i < count; ++i)
    {
        double c[4];
        for (double& v : c)
        {
            unsigned pick = rng() % 8;
            v = pick == 0 ? 0.0 : pick == 1 ? -0.0 : value(rng);
        }
        points[size_t(i)] = C4DPoint(4, c[0], c[1], c[2], c[3]);
        points[size_t(i)].SetFlags(uint32_t(rng()) & 0x73u);
    }
}

// ---------------------------------------------------------------- checksum reference

uint32_t Mix(uint32_t k)
{
    k += ~(k << 15);
    k ^= k >> 10;
    k += k << 3;
    k ^= k >> 6;
    k += ~(k << 11);
    k ^= k >> 16;
    return k;
}

uint32_t Bits(double component)
{
    float f = float(component);
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return f == 0 ? 0 : bits;
}

// The checksum rule applied through the generic interface (To4DPoint), one list kind at a time.
uint32_t ReferenceChecksum(const CPointList& list, unsigned mask)
{
    uint32_t type = list.GetTypeOfElement();
    uint32_t values = 0, flags = 0;
    auto points = list.GetPtView();
    for (size_t i = 0; i < points.GetCount(); ++i)
    {
        const CPt& p = points[i];
        if (p.GetFlags() & 0x02)
            continue;
        C4DPoint c;
        p.To4DPoint(c);
        uint32_t term = 0;
        if (type == ZanTag("3DPT") || type == ZanTag("3DVE") || type == ZanTag("UVWP"))
            term = Bits(c[0]) + Bits(c[1]) + Bits(c[2]);
        else if (type == ZanTag("VCPT"))
            term = 16 * uint32_t(c[0] + c[1] + c[2] + c[3]);
        else if (type == ZanTag("WGPT"))
            term = Bits(c[0]);
        values = Mix(uint32_t(i) + values) + term;
        flags = Mix(uint32_t(i) + flags) + 16 * p.GetFlags();
    }
    bool typed = type != ZanTag("2DPT") && type != ZanTag("2DEX");
    return ((mask & 1) && typed ? values : 0) + ((mask & 2) ? flags : 0);
}

// ---------------------------------------------------------------- archives

std::vector<uint8_t> StoreList(const CPointList& list)
{
    return zantest::StoreToBytes([&](CXArchive& ar)
                                 { const_cast<CPointList&>(list).Serialize(ar); });
}

// Everything a failed load must leave alone.
struct CListState
{
    std::vector<uint8_t> m_Bytes;
    unsigned m_Stamp;
    bool m_Changed;
    explicit CListState(const CPointList& list)
        : m_Bytes(StoreList(list)), m_Stamp(list.GetChangedStamp()),
          m_Changed(list.IsFlagSet(_PointListChanged))
    {
    }
    bool operator==(const CListState& other) const = default;
};

// The lists of the golden file: one of each type, values from simple formulas.
std::vector<uint8_t> GoldenBytes()
{
    return zantest::StoreToBytes(
        [](CXArchive& ar)
        {
            for (const char* className : kListClasses)
            {
                CListPtr list = CreateList(className);
                list->SetSize(5);
                auto points = list->GetPtView();
                for (int i = 0; i < 5; ++i)
                {
                    points[size_t(i)] = C4DPoint(4, i * 0.5 - 1, 100 - i * 3.25, i * i, 200 + i);
                    points[size_t(i)].SetFlags(0x10u * unsigned(i) | (i == 3 ? 0x02u : 0u));
                }
                list->SavePointsIndex();
                list->GetDataChunks().AddDataChunk(kExtra, new CUIntElementMethods, 0x100);
                SetChunkValue(*list, kExtra, 4, 0xA5A5A5A5u);
                ar.WriteObject(list->GetXObject());
            }
        });
}

uint64_t PeakVirtualKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmPeak:", 0) == 0)
            return std::stoull(line.substr(7));
    return 0;
}

class CExposedPointList : public C3DPointList
{
public:
    using C3DPointList::operator=;
    using C3DPointList::UpdateList;
};
} // namespace

TEST(PointList, TypedListsAreCreatedByNameWithTheirPointTypes)
{
    const std::pair<const char*, unsigned> expected[] = {{"2DPT", 24}, {"2DEX", 64}, {"3DPT", 32},
                                                         {"3DVE", 32}, {"UVWP", 32}, {"VCPT", 24},
                                                         {"WGPT", 24}};
    for (size_t i = 0; i < std::size(kListClasses); ++i)
    {
        SCOPED_TRACE(kListClasses[i]);
        CListPtr list = CreateList(kListClasses[i]);
        ASSERT_TRUE(list);
        EXPECT_EQ(list->GetRuntimeClassDescriptor()->m_ClassName, std::string(kListClasses[i]));
        EXPECT_EQ(list->GetTypeOfElement(),
                  ZanTag(*reinterpret_cast<const char(*)[5]>(expected[i].first)));
        EXPECT_EQ(list->GetSizeOfElement(), expected[i].second);
        // A duplicate has the class, the points and the chunks; Create takes the structure only.
        FillPoints(*list, 4, 7);
        list->SavePointsIndex();
        CListPtr copy(list->Duplicate(true));
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->GetRuntimeClassDescriptor(), list->GetRuntimeClassDescriptor());
        EXPECT_EQ(copy->GetChecksum(3u), list->GetChecksum(3u));
        EXPECT_EQ(copy->GetOriginalIndex(3), 3u);
    }
    CElementArray plain(new CUIntElementMethods);
    EXPECT_EQ(CPointList::FromXObject(&plain), nullptr);

    C3DPointList model;
    model.SetSize(3);
    model.SavePointsIndex();
    model.GetDataChunks().AddDataChunk(kExtra, new CUIntElementMethods, 0x100); // stays
    CListPtr shaped(CUVWPointList::Create(&model));
    EXPECT_EQ(shaped->GetSize(), 0);
    EXPECT_TRUE(shaped->GetDataChunks().HasDataChunk(kPooi));
    EXPECT_FALSE(shaped->GetDataChunks().HasDataChunk(kExtra));
    CPointList generic(&model);
    EXPECT_EQ(generic.GetTypeOfElement(), ZanTag("3DPT"));
}

TEST(PointList, ChunksFollowEveryEditAgainstAModel)
{
    // Each point's x holds an id, and so does its "POOI" value: whatever an edit does, the two
    // must still agree, and the ids must be those of a plain vector edited the same way.
    C3DPointList list;
    std::vector<unsigned> model;
    unsigned nextId = 1;
    auto tagNewPoints = [&](int from)
    {
        for (int i = from; i < list.GetSize(); ++i)
        {
            list[i].m_X = float(nextId);
            SetChunkValue(list, kPooi, i, nextId);
            model.push_back(nextId++);
        }
    };
    list.SetSize(20);
    list.SavePointsIndex();
    tagNewPoints(0);

    std::mt19937 rng(99);
    for (int step = 0; step < 400; ++step)
    {
        int n = list.GetSize();
        switch (rng() % 8)
        {
        case 0: // grow
        {
            ASSERT_TRUE(list.SetSize(n + int(rng() % 9)));
            for (int i = n; i < list.GetSize(); ++i)
                EXPECT_EQ(ChunkValue(list, kPooi, i), kZanNone); // new values are constructed
            tagNewPoints(n);
            break;
        }
        case 1: // shrink
        {
            int size = n ? int(rng() % unsigned(n)) : 0;
            ASSERT_TRUE(list.SetSize(size));
            model.resize(size_t(size));
            break;
        }
        case 2: // gather, repeats and drops allowed
        {
            std::vector<unsigned> order(n ? rng() % unsigned(2 * n) : 0);
            for (unsigned& o : order)
                o = rng() % unsigned(n);
            ASSERT_TRUE(list.Reorder(order.data(), unsigned(order.size()), false));
            std::vector<unsigned> next;
            for (unsigned o : order)
                next.push_back(model[o]);
            model = next;
            break;
        }
        case 3: // scatter by a permutation
        {
            std::vector<unsigned> order(size_t(n), 0);
            std::iota(order.begin(), order.end(), 0u);
            std::shuffle(order.begin(), order.end(), rng);
            ASSERT_TRUE(list.Reorder(order.data(), unsigned(n), true));
            std::vector<unsigned> next(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i)
                next[order[size_t(i)]] = model[size_t(i)];
            model = next;
            break;
        }
        case 4: // append itself, or a copy made through the copy constructor
        {
            if (n > 200)
                break;
            if (rng() % 2)
                ASSERT_EQ(list.Append(list), n);
            else
            {
                C3DPointList copy(list);
                ASSERT_EQ(list.Append(copy), n);
            }
            std::vector<unsigned> twice = model;
            model.insert(model.end(), twice.begin(), twice.end());
            break;
        }
        case 5: // copy one point over another
        {
            if (n == 0)
                break;
            int dst = int(rng() % unsigned(n)), src = int(rng() % unsigned(n));
            ASSERT_TRUE(list.CopyPoint(dst, src));
            model[size_t(dst)] = model[size_t(src)];
            break;
        }
        case 7: // add a copy of one of its own points, which may move while the list grows
        {
            if (n == 0)
                break;
            int src = int(rng() % unsigned(n));
            list.FreeExtra(); // no spare room: the block has to move
            ASSERT_EQ(list.Add(&list[src]), n);
            EXPECT_EQ(ChunkValue(list, kPooi, n), kZanNone);
            SetChunkValue(list, kPooi, n, model[size_t(src)]);
            model.push_back(model[size_t(src)]);
            break;
        }
        case 6: // drop random points
        {
            std::vector<unsigned> next;
            for (int i = 0; i < n; ++i)
            {
                bool drop = rng() % 4 == 0;
                list[i].SetFlag(_PointInvalid, drop);
                if (!drop)
                    next.push_back(model[size_t(i)]);
            }
            CXArray<unsigned, unsigned> remap;
            bool removed = list.Clean(nullptr, &remap);
            EXPECT_EQ(removed, next.size() != model.size());
            model = next;
            break;
        }
        }
        ExpectParallel(list);
        ASSERT_EQ(size_t(list.GetSize()), model.size()) << step;
        for (int i = 0; i < list.GetSize(); ++i)
        {
            ASSERT_EQ(unsigned(list[i].m_X), model[size_t(i)]) << step << " " << i;
            ASSERT_EQ(ChunkValue(list, kPooi, i), model[size_t(i)]) << step << " " << i;
        }
    }

    // Assignment takes the source's chunk structure and values; appending a list of another
    // type converts its points and brings its chunks along.
    C3DPointList other;
    other = list;
    ExpectParallel(other);
    EXPECT_EQ(other.GetChecksum(3u), list.GetChecksum(3u));
    CUVWPointList uvws;
    uvws.SetSize(2);
    uvws[1] = CUVWPoint(5, 6, 7);
    uvws.SavePointsIndex();
    uvws.AddDataChunk(kExtra, new CUIntElementMethods);
    CUVWPoint single(1, 2, 3);
    single.SetFlags(0x40);
    int added = other.Add(&single);
    EXPECT_EQ(other[added], C3DTPoint<float>(1, 2, 3));
    EXPECT_EQ(other[added].GetFlags(), 0x40u);
    EXPECT_EQ(other.Add(), added + 1);
    EXPECT_EQ(other[added + 1], C3DTPoint<float>());
    other.SetSize(list.GetSize());
    int first = other.Append(uvws);
    ASSERT_EQ(first, list.GetSize());
    ExpectParallel(other);
    EXPECT_EQ(other[first + 1], C3DTPoint<float>(5, 6, 7));
    EXPECT_EQ(other.GetOriginalIndex(unsigned(first + 1)), 1u);
    EXPECT_EQ(ChunkValue(other, kExtra, first - 1), 0u);

    // Taking another list's structure keeps the chunks as long as the points.
    C3DPointList shaped;
    shaped.SetSize(4);
    shaped.Inherit(uvws);
    EXPECT_EQ(ChunkValue(shaped, kPooi, 3), kZanNone);
    EXPECT_EQ(ChunkValue(shaped, kExtra, 3), 0u);
}

TEST(PointList, FlagsStatisticsStampAndClean)
{
    CExposedPointList list;
    list.SetSize(6);
    const unsigned flags[] = {0x02, 0x10, 0x12, 0x00, 0x20, 0x12};
    for (int i = 0; i < 6; ++i)
    {
        list[i].SetFlags(flags[i]);
        list[i].m_X = float(i);
    }
    EXPECT_EQ(list.GetNumberOfPoints(0x12u, true), 4); // 0x02 or 0x10
    EXPECT_EQ(list.GetNumberOfPoints(0x12u, false), 2);
    EXPECT_EQ(list.GetNumberOfPoints(_PointInvalid, true), 3);
    EXPECT_EQ(list.GetNumberOfPoints(_POINT_PROPERTIES(0x12), true), 2); // both bits
    list.SetPointsFlags(0x40, true);
    EXPECT_EQ(list.GetNumberOfPoints(_PointNearBorder, true), 6);
    list.SetPointsFlags(0x40 | 0x20, false);
    EXPECT_EQ(list.GetNumberOfPoints(0x60u, true), 0);

    // The stamp grows with a new count, not with the same one; UpdateList reports and clears.
    unsigned stamp = list.GetChangedStamp();
    EXPECT_TRUE(list.UpdateList(nullptr));
    EXPECT_FALSE(list.UpdateList(nullptr));
    list.SetSize(6);
    EXPECT_EQ(list.GetChangedStamp(), stamp);
    list.SetFlag(_PointListChanged, false);
    EXPECT_EQ(list.GetChangedStamp(), stamp);
    list.SetFlag(_PointListChanged, true);
    EXPECT_EQ(list.GetChangedStamp(), stamp + 1);

    // Clean with every point valid changes nothing and empties the remap.
    C3DPointList valid;
    valid.SetSize(3);
    valid.SavePointsIndex();
    valid.SetFlag(_PointListChanged, false);
    unsigned validStamp = valid.GetChangedStamp();
    CXArray<unsigned, unsigned> remap;
    remap.SetSize(9);
    EXPECT_FALSE(valid.Clean(nullptr, &remap));
    EXPECT_TRUE(remap.IsEmpty());
    EXPECT_EQ(valid.GetSize(), 3);
    EXPECT_EQ(valid.GetChangedStamp(), validStamp);
    EXPECT_FALSE(valid.IsFlagSet(_PointListChanged));

    // Dropping point 3 of 6: later points move down and remember where they came from.
    list.SetPointsFlags(0xFF, false);
    list.SavePointsIndex();
    list[3].SetFlag(_PointInvalid, true);
    stamp = list.GetChangedStamp();
    ASSERT_TRUE(list.Clean(nullptr, &remap));
    EXPECT_EQ(remap.GetVector(), (std::vector<unsigned>{0, 1, 2, kZanNone, 3, 4}));
    EXPECT_EQ(list.GetSize(), 5);
    EXPECT_EQ(list.GetOriginalIndex(3), 4u);
    EXPECT_EQ(list[3].m_X, 4.0f);
    EXPECT_GT(list.GetChangedStamp(), stamp);
    EXPECT_TRUE(list.IsFlagSet(_PointListChanged));
    EXPECT_EQ(list.GetOriginalIndex(5), kZanNone);
    ExpectParallel(list);

    // No valid point: the list empties and every old index maps to none.
    list.SetPointsFlags(_PointInvalid, true);
    ASSERT_TRUE(list.Clean(nullptr, &remap));
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(remap.GetVector(), std::vector<unsigned>(5, kZanNone));
    ExpectParallel(list);

    // Index errors are results; RemoveAll clears the list flags.
    EXPECT_FALSE(valid.CopyPoint(0, 3));
    EXPECT_FALSE(valid.CopyPoint(-1, 0, list));
    EXPECT_TRUE(valid.CopyPoint(5, 5));
    EXPECT_EQ(valid.GetData(kPooi, 3), nullptr);
    EXPECT_THROW(valid[3], CXInvalidArgException);
    valid.SetFlag(_PointListChanged, true);
    valid.RemoveAll();
    EXPECT_FALSE(valid.IsFlagSet(_PointListChanged));
    EXPECT_TRUE(valid.GetDataChunks().HasDataChunk(kPooi)); // chunks stay, empty
}

TEST(PointList, ChecksumsFollowTheirRule)
{
    for (const char* className : kListClasses)
    {
        SCOPED_TRACE(className);
        CListPtr list = CreateList(className);
        FillPoints(*list, 300, 5);
        for (unsigned mask = 0; mask < 4; ++mask)
            EXPECT_EQ(list->GetChecksum(mask), ReferenceChecksum(*list, mask)) << mask;
        EXPECT_EQ(list->GetChecksum(0u), 0u);

        // Invalid points do not count, whatever they hold.
        uint32_t before = list->GetChecksum(3u);
        auto points = list->GetPtView();
        for (size_t i = 0; i < points.GetCount(); ++i)
            if (points[i].IsFlagSet(_PointInvalid))
                points[i] = C4DPoint(4, 9, 9, 9, 9);
        EXPECT_EQ(list->GetChecksum(3u), before);
    }

    C3DPointList a, b;
    a.SetSize(2);
    b.SetSize(2);
    a[1] = C3DTPoint<float>(0.0f, 1.5f, 2);
    b[1] = C3DTPoint<float>(-0.0f, 1.5f, 2);
    EXPECT_EQ(a.GetChecksum(1u), b.GetChecksum(1u));
    b[1].m_Y = -1.5f;
    EXPECT_NE(a.GetChecksum(1u), b.GetChecksum(1u));
    b[1].m_Y = 1.5f;
    b[0].SetFlags(0x01);
    EXPECT_EQ(a.GetChecksum(1u), b.GetChecksum(1u));
    EXPECT_NE(a.GetChecksum(2u), b.GetChecksum(2u));
}

TEST(PointList, ViewsReadThePointsInPlace)
{
    C3DPointList list;
    FillPoints(list, 100, 3);
    auto view = list.GetPointView();
    ASSERT_EQ(view.GetCount(), 100u);
    EXPECT_EQ(view.GetStride(), 32u);
    EXPECT_EQ(static_cast<const void*>(view.GetFirst()), list.GetDataPtr());
    size_t visited = 0;
    for (const C3DTPoint<float>* p = list.GetFirst(); p; p = list.GetNext(p), ++visited)
    {
        ASSERT_LT(visited, 100u);
        EXPECT_EQ(p, &list[int(visited)]);
        EXPECT_EQ(p, &view[visited]);
    }
    EXPECT_EQ(visited, 100u);
    C3DTPoint<float> outside;
    EXPECT_EQ(list.GetNext(&outside), nullptr);
    EXPECT_EQ(C3DPointList().GetFirst(), nullptr);
}

TEST(PointListArchive, EveryTypeRoundTripsByteForByte)
{
    for (const char* className : kListClasses)
    {
        SCOPED_TRACE(className);
        CListPtr list = CreateList(className);
        FillPoints(*list, 700, 11);
        list->SavePointsIndex();
        list->GetDataChunks().AddDataChunk(kExtra, new CUIntElementMethods, 0x102);
        SetChunkValue(*list, kExtra, 699, 42);

        auto bytes =
            zantest::StoreToBytes([&](CXArchive& ar) { ar.WriteObject(list->GetXObject()); });
        CListPtr loaded;
        zantest::LoadFromBytes(bytes,
                               [&](CXArchive& ar)
                               {
                                   loaded.reset(CPointList::FromXObject(ar.ReadObject()));
                                   EXPECT_EQ(ar.GetRemaining(), 0u);
                               });
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->GetRuntimeClassDescriptor(), list->GetRuntimeClassDescriptor());
        EXPECT_EQ(loaded->GetSize(), 700);
        EXPECT_EQ(loaded->GetChecksum(3u), list->GetChecksum(3u));
        EXPECT_EQ(loaded->GetOriginalIndex(698), 698u);
        EXPECT_EQ(ChunkValue(*loaded, kExtra, 699), 42u);
        EXPECT_EQ(loaded->GetDataChunks().GetMainChunkID(), kExtra);
        ExpectParallel(*loaded);
        EXPECT_EQ(
            zantest::StoreToBytes([&](CXArchive& ar) { ar.WriteObject(loaded->GetXObject()); }),
            bytes);

        // A list that never had a chunk stores a chunk set as long as itself.
        CListPtr bare = CreateList(className);
        FillPoints(*bare, 9, 2);
        CListPtr bareLoaded = CreateList(className);
        zantest::LoadFromBytes(StoreList(*bare), [&](CXArchive& ar) { bareLoaded->Serialize(ar); });
        EXPECT_EQ(bareLoaded->GetChecksum(3u), bare->GetChecksum(3u));
        // Nor does a chunk added to it come out shorter.
        FillPoints(*bareLoaded, 11, 3);
        bareLoaded->AddDataChunk(kExtra, new CUIntElementMethods);
        EXPECT_EQ(ChunkValue(*bareLoaded, kExtra, 10), 0u);
        ExpectParallel(*bareLoaded);

        // Loading into a list with content replaces it, as RemoveAll would.
        CListPtr target = CreateList(className);
        FillPoints(*target, 3, 1);
        target->SetFlag(_PointListChanged, true);
        unsigned stamp = target->GetChangedStamp();
        auto plain = StoreList(*list);
        zantest::LoadFromBytes(plain, [&](CXArchive& ar) { target->Serialize(ar); });
        EXPECT_EQ(StoreList(*target), plain);
        EXPECT_GT(target->GetChangedStamp(), stamp);
        EXPECT_FALSE(target->IsFlagSet(_PointListChanged));
    }
}

TEST(PointListArchive, GoldenFileKeepsTheLayout)
{
    const std::string path = std::string(ZAN3D_TEST_DATA_DIR) + "/geometry/pointlists.bin";
    auto bytes = GoldenBytes();
    if (std::getenv("ZAN3D_UPDATE_GOLDEN"))
    {
        ASSERT_TRUE(zantest::WriteFileBytes(path, bytes));
        GTEST_SKIP() << "wrote " << path;
    }
    auto golden = zantest::ReadFileBytes(path);
    ASSERT_FALSE(golden.empty()) << path;
    EXPECT_EQ(bytes, golden);

    // The committed lists read back with their values.
    zantest::LoadFromBytes(golden,
                           [&](CXArchive& ar)
                           {
                               for (const char* className : kListClasses)
                               {
                                   CListPtr list(CPointList::FromXObject(ar.ReadObject()));
                                   ASSERT_TRUE(list);
                                   EXPECT_STREQ(list->GetRuntimeClassDescriptor()->m_ClassName,
                                                className);
                                   ASSERT_EQ(list->GetSize(), 5);
                                   EXPECT_EQ(list->GetPtView()[3].GetFlags(), 0x32u);
                                   EXPECT_EQ(list->GetOriginalIndex(4), 4u);
                                   EXPECT_EQ(ChunkValue(*list, kExtra, 4), 0xA5A5A5A5u);
                                   EXPECT_EQ(list->GetChecksum(3u), ReferenceChecksum(*list, 3u));
                               }
                               EXPECT_EQ(ar.GetRemaining(), 0u);
                           });
}

TEST(PointListArchive, MalformedInputIsRefusedAndChangesNothing)
{
    // Every truncation of every list type.
    for (const char* className : kListClasses)
    {
        SCOPED_TRACE(className);
        CListPtr source = CreateList(className);
        FillPoints(*source, 4, 21);
        source->SavePointsIndex();
        auto bytes = StoreList(*source);
        CListPtr target = CreateList(className);
        FillPoints(*target, 2, 8);
        target->SavePointsIndex();
        CListState before(*target);
        for (size_t cut = 0; cut < bytes.size(); ++cut)
        {
            std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + ptrdiff_t(cut));
            EXPECT_THROW(
                zantest::LoadFromBytes(prefix, [&](CXArchive& ar) { target->Serialize(ar); }),
                CXArchiveException)
                << cut;
            ASSERT_TRUE(CListState(*target) == before) << cut;
        }
    }

    // Hand-made archives: chunk header, then the element array's header and a few bytes.
    auto archive = [](unsigned chunkElements, CElementMethods* methods, uint32_t size,
                      uint32_t type, uint64_t count)
    {
        return zantest::StoreToBytes(
            [&](CXArchive& ar)
            {
                ar << 0u << chunkElements << kZanNone;
                ar.WriteObject(methods);
                ar << size << type;
                ar.WriteCount(count);
                ar.WriteArray(std::vector<uint32_t>(16, 0).data(), 16);
                methods->Delete();
            });
    };
    C3DPointList target;
    FillPoints(target, 3, 4);
    CListState before(target);
    auto expectRefused = [&](const std::vector<uint8_t>& bytes, const char* what)
    {
        EXPECT_THROW(zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { target.Serialize(ar); }),
                     CXArchiveException)
            << what;
        EXPECT_TRUE(CListState(target) == before) << what;
    };
    uint64_t peak = PeakVirtualKiB();
    expectRefused(archive(0x7FFFFFFF, new C3DPointMethods, 32, ZanTag("3DPT"), 0x7FFFFFFF),
                  "a count far beyond the bytes");
    expectRefused(archive(0, new C3DPointMethods, 32, ZanTag("3DPT"), 1u << 28), "2^28 points");
    // Nothing near the 8 GiB those counts describe was reserved.
    EXPECT_LT(PeakVirtualKiB() - peak, 256u * 1024u);
    expectRefused(archive(3, new C3DPointMethods, 32, ZanTag("3DPT"), 2),
                  "chunks longer than the list");
    expectRefused(archive(0xFFFFFFFF, new C3DPointMethods, 32, ZanTag("3DPT"), 0),
                  "chunk count without chunks");
    expectRefused(archive(2, new CUVWPointMethods, 32, ZanTag("UVWP"), 2), "another point type");
    expectRefused(archive(2, new CUIntElementMethods, 4, ZanTag("UINT"), 2), "elements not points");
    expectRefused(archive(2, new C3DPointMethods, 24, ZanTag("3DPT"), 2), "wrong element size");

    // A list without a point type takes any point type, but not plain values.
    CPointList generic;
    zantest::LoadFromBytes(archive(2, new CUVWPointMethods, 32, ZanTag("UVWP"), 2),
                           [&](CXArchive& ar) { generic.Serialize(ar); });
    EXPECT_EQ(generic.GetTypeOfElement(), ZanTag("UVWP"));
    EXPECT_EQ(generic.GetSize(), 2);
    CPointList untyped;
    EXPECT_THROW(zantest::LoadFromBytes(archive(2, new CUIntElementMethods, 4, ZanTag("UINT"), 2),
                                        [&](CXArchive& ar) { untyped.Serialize(ar); }),
                 CXArchiveException);
    EXPECT_EQ(untyped.GetMethods(), nullptr);
}
