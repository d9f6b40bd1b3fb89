// Point lists: chunks that follow every edit (against a model), flags and statistics, Clean,
// checksums against a reference written from their rule, archives of every list type (round
// trips, the committed golden file, malformed and truncated input).
#include "common/zan_test_helpers.h"

#include <3dzan/geometry/elementmethods.h>
#include <3dzan/geometry/facelist.h>
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

std::vector<uint8_t> Store(CPointList& list)
{
    return zantest::StoreToBytes([&](CXArchive& ar) { list.Serialize(ar); });
}

void Load(CPointList& list, const std::vector<uint8_t>& bytes)
{
    zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { list.Serialize(ar); });
}

// What a failed load must leave alone: the stored bytes, the stamp and the flags.
std::vector<uint8_t> State(CPointList& list)
{
    auto bytes = Store(list);
    for (unsigned word : {list.GetChangedStamp(), unsigned(list.IsFlagSet(_PointListChanged))})
        bytes.insert(bytes.end(), {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16)});
    return bytes;
}

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
                for (int i = 0; i < 5; ++i)
                {
                    CPt& p = list->GetPtView()[size_t(i)];
                    p = C4DPoint(4, i * 0.5 - 1, 100 - i * 3.25, i * i, 200 + i);
                    p.SetFlags(0x10u * unsigned(i) | (i == 3 ? 0x02u : 0u));
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

TEST(PointList, TypedListsViewsAndDuplicates)
{
    const uint32_t tags[] = {ZanTag("2DPT"), ZanTag("2DEX"), ZanTag("3DPT"), ZanTag("3DVE"),
                             ZanTag("UVWP"), ZanTag("VCPT"), ZanTag("WGPT")};
    for (size_t i = 0; i < std::size(kListClasses); ++i)
    {
        SCOPED_TRACE(kListClasses[i]);
        CListPtr list = CreateList(kListClasses[i]);
        ASSERT_TRUE(list);
        EXPECT_EQ(list->GetTypeOfElement(), tags[i]);
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

    // Create and the model constructor take the chunks that follow copies, and no points.
    C3DPointList model;
    FillPoints(model, 100, 3);
    model.SavePointsIndex();
    model.GetDataChunks().AddDataChunk(kExtra, new CUIntElementMethods, 0x100);
    CListPtr shaped(CUVWPointList::Create(&model));
    EXPECT_EQ(shaped->GetSize(), 0);
    EXPECT_TRUE(shaped->GetDataChunks().HasDataChunk(kPooi));
    EXPECT_FALSE(shaped->GetDataChunks().HasDataChunk(kExtra));
    EXPECT_EQ(CPointList(&model).GetTypeOfElement(), ZanTag("3DPT"));

    // The view, GetFirst/GetNext and operator[] reach the same points in place.
    auto view = model.GetPointView();
    EXPECT_EQ(view.GetStride(), 32u);
    EXPECT_EQ(static_cast<const void*>(view.GetFirst()), model.GetDataPtr());
    size_t visited = 0;
    for (const C3DTPoint<float>* p = model.GetFirst(); p; p = model.GetNext(p), ++visited)
    {
        ASSERT_LT(visited, view.GetCount());
        EXPECT_EQ(p, &model[int(visited)]);
        EXPECT_EQ(p, &view[visited]);
    }
    EXPECT_EQ(visited, 100u);
    C3DTPoint<float> outside;
    EXPECT_EQ(model.GetNext(&outside), nullptr);
    EXPECT_EQ(C3DPointList().GetFirst(), nullptr);
}

TEST(PointList, ChunksFollowEveryEditAgainstAModel)
{
    // Each point's x holds an id, and so does its "POOI" value: whatever an edit does, the two
    // must still agree, and the ids must be those of a plain vector edited the same way.
    C3DPointList list;
    std::vector<unsigned> model;
    unsigned nextId = 1;
    auto tag = [&](int i, unsigned id)
    {
        list[i].m_X = float(id);
        SetChunkValue(list, kPooi, i, id);
    };
    list.SetSize(20);
    list.SavePointsIndex();
    for (int i = 0; i < 20; ++i, ++nextId)
        tag(i, nextId), model.push_back(nextId);

    std::mt19937 rng(99);
    auto pick = [&](int n) { return int(rng() % unsigned(std::max(n, 1))); };
    for (int step = 0; step < 400; ++step)
    {
        int n = list.GetSize();
        std::vector<unsigned> order, next;
        switch (rng() % 7)
        {
        case 0: // grow: new values are constructed
            ASSERT_TRUE(list.SetSize(n + pick(9)));
            for (int i = n; i < list.GetSize(); ++i, ++nextId)
            {
                EXPECT_EQ(ChunkValue(list, kPooi, i), kZanNone);
                tag(i, nextId), model.push_back(nextId);
            }
            break;
        case 1: // shrink
            ASSERT_TRUE(list.SetSize(pick(n)));
            model.resize(size_t(list.GetSize()));
            break;
        case 2: // gather, with repeats and drops
            order.resize(size_t(pick(2 * n)));
            for (unsigned& o : order)
                o = unsigned(pick(n)), next.push_back(model[o]);
            ASSERT_TRUE(list.Reorder(order.data(), unsigned(order.size()), false));
            model = next;
            break;
        case 3: // scatter by a permutation
            order.resize(size_t(n));
            std::iota(order.begin(), order.end(), 0u);
            std::shuffle(order.begin(), order.end(), rng);
            ASSERT_TRUE(list.Reorder(order.data(), unsigned(n), true));
            next.resize(size_t(n));
            for (int i = 0; i < n; ++i)
                next[order[size_t(i)]] = model[size_t(i)];
            model = next;
            break;
        case 4: // append itself, or a copy of itself
            if (n > 200)
                break;
            ASSERT_EQ(rng() % 2 ? list.Append(list) : list.Append(C3DPointList(list)), n);
            next = model;
            model.insert(model.end(), next.begin(), next.end());
            break;
        case 5: // copy a point over another, or add a copy of one of its own points (which
                // moves while the list grows: there is no spare room)
            if (n == 0)
                break;
            if (int dst = pick(n), src = pick(n); rng() % 2)
            {
                ASSERT_TRUE(list.CopyPoint(dst, src));
                model[size_t(dst)] = model[size_t(src)];
            }
            else
            {
                list.FreeExtra();
                ASSERT_EQ(list.Add(&list[src]), n);
                EXPECT_EQ(ChunkValue(list, kPooi, n), kZanNone);
                tag(n, model[size_t(src)]), model.push_back(model[size_t(src)]);
            }
            break;
        case 6: // drop random points
            for (int i = 0; i < n; ++i)
            {
                bool drop = rng() % 4 == 0;
                list[i].SetFlag(_PointInvalid, drop);
                if (!drop)
                    next.push_back(model[size_t(i)]);
            }
            EXPECT_EQ(list.Clean(nullptr, nullptr), next.size() != model.size());
            model = next;
            break;
        }
        ExpectParallel(list);
        ASSERT_EQ(size_t(list.GetSize()), model.size()) << step;
        for (int i = 0; i < list.GetSize(); ++i)
        {
            ASSERT_EQ(unsigned(list[i].m_X), model[size_t(i)]) << step << " " << i;
            ASSERT_EQ(ChunkValue(list, kPooi, i), model[size_t(i)]) << step << " " << i;
        }
    }

    // Assignment takes the source's chunks; a point or list of another type is converted, and
    // an appended list brings its chunks along.
    C3DPointList other;
    other = list;
    ExpectParallel(other);
    EXPECT_EQ(other.GetChecksum(3u), list.GetChecksum(3u));
    CUVWPoint single(1, 2, 3);
    single.SetFlags(0x40);
    int added = other.Add(&single);
    EXPECT_EQ(other[added], C3DTPoint<float>(1, 2, 3));
    EXPECT_EQ(other[added].GetFlags(), 0x40u);
    EXPECT_EQ(other.Add(), added + 1);
    EXPECT_EQ(other[added + 1], C3DTPoint<float>());
    CUVWPointList uvws;
    uvws.SetSize(2);
    uvws[1] = CUVWPoint(5, 6, 7);
    uvws.SavePointsIndex();
    uvws.AddDataChunk(kExtra, new CUIntElementMethods);
    int first = other.Append(uvws);
    ASSERT_EQ(first, added + 2);
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
        list[i].SetFlags(flags[i]), list[i].m_X = float(i);
    EXPECT_EQ(list.GetNumberOfPoints(0x12u, true), 4); // 0x02 or 0x10
    EXPECT_EQ(list.GetNumberOfPoints(0x12u, false), 2);
    EXPECT_EQ(list.GetNumberOfPoints(_POINT_PROPERTIES(0x12), true), 2); // both bits
    EXPECT_EQ(list.GetNumberOfPoints(_PointInvalid, false), 3);
    list.SetPointsFlags(0x40, true);
    EXPECT_EQ(list.GetNumberOfPoints(_PointNearBorder, true), 6);
    list.SetPointsFlags(0xFF, false);
    EXPECT_EQ(list.GetNumberOfPoints(0xFFu, true), 0);

    // The stamp grows with a new count, not the same one; UpdateList reports and clears.
    unsigned stamp = list.GetChangedStamp();
    EXPECT_TRUE(list.UpdateList(nullptr));
    EXPECT_FALSE(list.UpdateList(nullptr));
    list.SetSize(6);
    list.SetFlag(_PointListChanged, false);
    EXPECT_EQ(list.GetChangedStamp(), stamp);
    list.SetFlag(_PointListChanged, true);
    EXPECT_EQ(list.GetChangedStamp(), stamp + 1);

    // Clean with every point valid changes nothing and empties the remap.
    list.SavePointsIndex();
    list.UpdateList(nullptr);
    stamp = list.GetChangedStamp();
    CXArray<unsigned, unsigned> remap;
    remap.SetSize(9);
    EXPECT_FALSE(list.Clean(nullptr, &remap));
    EXPECT_TRUE(remap.IsEmpty());
    EXPECT_EQ(list.GetSize(), 6);
    EXPECT_EQ(list.GetChangedStamp(), stamp);
    EXPECT_FALSE(list.IsFlagSet(_PointListChanged));

    // Dropping point 3 of 6: later points move down and remember where they came from.
    list[3].SetFlag(_PointInvalid, true);
    ASSERT_TRUE(list.Clean(nullptr, &remap));
    EXPECT_EQ(remap.GetVector(), (std::vector<unsigned>{0, 1, 2, kZanNone, 3, 4}));
    EXPECT_EQ(list.GetSize(), 5);
    EXPECT_EQ(list.GetOriginalIndex(3), 4u);
    EXPECT_EQ(list[3].m_X, 4.0f);
    EXPECT_GT(list.GetChangedStamp(), stamp);
    EXPECT_TRUE(list.IsFlagSet(_PointListChanged));
    EXPECT_EQ(list.GetOriginalIndex(5), kZanNone);

    // No valid point: the list empties (chunks stay) and every old index maps to none.
    list.SetPointsFlags(_PointInvalid, true);
    ASSERT_TRUE(list.Clean(nullptr, &remap));
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(remap.GetVector(), std::vector<unsigned>(5, kZanNone));
    EXPECT_TRUE(list.GetDataChunks().HasDataChunk(kPooi));
    ExpectParallel(list);

    // Index errors are results, except in the element accessors.
    C3DPointList other;
    other.SetSize(3);
    EXPECT_FALSE(other.CopyPoint(0, 3));
    EXPECT_FALSE(other.CopyPoint(-1, 0, list));
    EXPECT_TRUE(other.CopyPoint(5, 5));
    EXPECT_EQ(other.GetData(kPooi, 0), nullptr);
    EXPECT_THROW(other[3], CXInvalidArgException);
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

        // Invalid points do not count, whatever they hold.
        uint32_t before = list->GetChecksum(3u);
        for (size_t i = 0; i < 300; ++i)
            if (CPt& p = list->GetPtView()[i]; p.IsFlagSet(_PointInvalid))
                p = C4DPoint(4, 9, 9, 9, 9);
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
        zantest::LoadFromBytes(bytes, [&](CXArchive& ar)
                               { loaded.reset(CPointList::FromXObject(ar.ReadObject())); });
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->GetRuntimeClassDescriptor(), list->GetRuntimeClassDescriptor());
        EXPECT_EQ(loaded->GetChecksum(3u), list->GetChecksum(3u));
        EXPECT_EQ(loaded->GetOriginalIndex(698), 698u);
        EXPECT_EQ(ChunkValue(*loaded, kExtra, 699), 42u);
        EXPECT_EQ(loaded->GetDataChunks().GetMainChunkID(), kExtra);
        EXPECT_EQ(
            zantest::StoreToBytes([&](CXArchive& ar) { ar.WriteObject(loaded->GetXObject()); }),
            bytes);

        // Loading into a list with content replaces it, as RemoveAll would.
        CListPtr target = CreateList(className);
        FillPoints(*target, 3, 1);
        unsigned stamp = target->GetChangedStamp();
        Load(*target, Store(*list));
        EXPECT_EQ(Store(*target), Store(*list));
        EXPECT_GT(target->GetChangedStamp(), stamp);
        EXPECT_FALSE(target->IsFlagSet(_PointListChanged));

        // A list that never had a chunk stores a chunk set as long as itself, and a chunk
        // added to it later is as long as the list too.
        CListPtr bare = CreateList(className);
        FillPoints(*bare, 9, 2);
        Load(*target, Store(*bare));
        EXPECT_EQ(target->GetChecksum(3u), bare->GetChecksum(3u));
        FillPoints(*bare, 11, 3);
        bare->AddDataChunk(kExtra, new CUIntElementMethods);
        EXPECT_EQ(ChunkValue(*bare, kExtra, 10), 0u);
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
    CXMemFile file(golden.data(), golden.size());
    CXArchive ar(&file, CXArchive::load);
    for (const char* className : kListClasses)
    {
        CListPtr list(CPointList::FromXObject(ar.ReadObject()));
        ASSERT_TRUE(list);
        EXPECT_STREQ(list->GetRuntimeClassDescriptor()->m_ClassName, className);
        ASSERT_EQ(list->GetSize(), 5);
        EXPECT_EQ(list->GetPtView()[3].GetFlags(), 0x32u);
        EXPECT_EQ(list->GetOriginalIndex(4), 4u);
        EXPECT_EQ(ChunkValue(*list, kExtra, 4), 0xA5A5A5A5u);
        EXPECT_EQ(list->GetChecksum(3u), ReferenceChecksum(*list, 3u));
    }
    EXPECT_EQ(ar.GetRemaining(), 0u);
}

TEST(PointListArchive, MalformedInputIsRefusedAndChangesNothing)
{
    // Every truncation of every list type.
    for (const char* className : kListClasses)
    {
        SCOPED_TRACE(className);
        CListPtr source = CreateList(className), target = CreateList(className);
        FillPoints(*source, 4, 21);
        source->SavePointsIndex();
        auto bytes = Store(*source);
        FillPoints(*target, 2, 8);
        target->SavePointsIndex();
        auto before = State(*target);
        for (size_t cut = 0; cut < bytes.size(); ++cut)
        {
            std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + ptrdiff_t(cut));
            EXPECT_THROW(Load(*target, prefix), CXArchiveException) << cut;
            ASSERT_EQ(State(*target), before) << cut;
        }
    }

    // Hand-made archives: chunk header, the element array's header, then a few bytes.
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
    const uint32_t k3D = ZanTag("3DPT");
    C3DPointList target;
    FillPoints(target, 3, 4);
    auto before = State(target);
    uint64_t peak = PeakVirtualKiB();
    const std::vector<uint8_t> refused[] = {
        archive(0x7FFFFFFF, new C3DPointMethods, 32, k3D, 0x7FFFFFFF), // counts beyond the bytes
        archive(0, new C3DPointMethods, 32, k3D, 1u << 28),
        archive(3, new C3DPointMethods, 32, k3D, 2),               // chunks longer than the list
        archive(0xFFFFFFFF, new C3DPointMethods, 32, k3D, 0),      // a count without chunks
        archive(2, new CUVWPointMethods, 32, ZanTag("UVWP"), 2),   // another point type
        archive(2, new CUIntElementMethods, 4, ZanTag("UINT"), 2), // not points
        archive(2, new C3DPointMethods, 24, k3D, 2)};              // wrong element size
    for (size_t i = 0; i < std::size(refused); ++i)
    {
        EXPECT_THROW(Load(target, refused[i]), CXArchiveException) << i;
        EXPECT_EQ(State(target), before) << i;
    }
    // Nothing near the gigabytes those counts describe was reserved.
    EXPECT_LT(PeakVirtualKiB() - peak, 256u * 1024u);

    // A list without a point type takes any point type, but not plain values.
    CPointList generic, untyped;
    Load(generic, archive(2, new CUVWPointMethods, 32, ZanTag("UVWP"), 2));
    EXPECT_EQ(generic.GetTypeOfElement(), ZanTag("UVWP"));
    EXPECT_EQ(generic.GetSize(), 2);
    EXPECT_THROW(Load(untyped, refused[5]), CXArchiveException);
    EXPECT_EQ(untyped.GetMethods(), nullptr);
}

TEST(PointListFaces, CleanDropsThePointsNoValidFaceUses)
{
    // Six points; point 3 is used only by an excluded face, point 5 by nothing.
    C3DPointList points;
    for (int i = 0; i < 6; ++i)
    {
        C3DTPoint<float> p(float(i), 0, 0);
        points.Add(&p);
    }
    points.SavePointsIndex();
    C3DFaceList faces;
    const int a[] = {0, 1, 2};
    const int b[] = {2, 4, 1};
    const int c[] = {3, 4, 0};
    faces.AddFace(a, 3, points);
    faces.AddFace(b, 3, points);
    unsigned excluded = faces.AddFace(c, 3, points);
    faces.SetFaceFlag(excluded, _FaceExcluded, true);

    points.SetInvalidPoints(faces, false);
    EXPECT_EQ(points.GetNumberOfPoints(_PointInvalid, true), 2);
    EXPECT_TRUE(points[3].IsFlagSet(_PointInvalid));
    EXPECT_TRUE(points[5].IsFlagSet(_PointInvalid));

    CXArray<unsigned, unsigned> remap;
    unsigned stamp = points.GetChangedStamp();
    ASSERT_TRUE(points.Clean(&faces, &remap));
    EXPECT_GT(points.GetChangedStamp(), stamp);
    ASSERT_EQ(points.GetSize(), 4);
    EXPECT_EQ(points.GetOriginalIndex(3), 4u);
    EXPECT_FLOAT_EQ(points[3].m_X, 4.0f);
    std::vector<unsigned> expected = {0, 1, 2, kZanNone, 3, kZanNone};
    EXPECT_EQ(remap.GetVector(), expected);

    // Every point used: nothing changes, the remap is emptied.
    faces.SetFaceFlag(excluded, _FaceExcluded, false);
    const int d[] = {0, 1, 3};
    C3DFaceList all;
    all.AddFace(a, 3, points);
    all.AddFace(d, 3, points);
    stamp = points.GetChangedStamp();
    EXPECT_FALSE(points.Clean(&all, &remap));
    EXPECT_EQ(remap.GetSize(), 0);
    EXPECT_EQ(points.GetChangedStamp(), stamp);
}
