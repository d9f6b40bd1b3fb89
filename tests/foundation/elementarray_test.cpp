// Element methods and element arrays: storage contract, construct/destruct balance, editing
// against a std::vector model, reordering against a reference, archives (round trips,
// malformed input) and checksums.
#include <3dzan/foundation/elementarray.h>
#include <3dzan/foundation/xarchive.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

namespace
{
// ---------------------------------------------------------------- test element types

int g_LivePoints = 0;    // test points constructed and not yet destructed
int g_Constructions = 0; // test points ever constructed
int g_BadDestructs = 0;  // destructions of memory that did not hold a live test point

constexpr uint32_t kAlive = 0xA11FE5u;

// A point as the geometry layer has them: a virtual table, a flags word and three floats,
// in a 32-byte slot. m_Alive catches destruction of raw or already destructed storage.
class CTestPoint
{
public:
    CTestPoint()
    {
        ++g_LivePoints;
        ++g_Constructions;
    }
    CTestPoint(uint32_t flags, float x, float y, float z) : CTestPoint()
    {
        m_Flags = flags;
        m_X = x;
        m_Y = y;
        m_Z = z;
    }
    CTestPoint(const CTestPoint&) = delete;
    virtual ~CTestPoint()
    {
        if (m_Alive != kAlive)
            ++g_BadDestructs;
        m_Alive = 0;
        --g_LivePoints;
    }
    virtual CTestPoint& operator=(const CTestPoint& other)
    {
        m_Flags = other.m_Flags;
        m_X = other.m_X;
        m_Y = other.m_Y;
        m_Z = other.m_Z;
        return *this;
    }
    // Called on every element the tests read: a clobbered virtual table does not survive it.
    virtual uint32_t Kind() const { return 0x3D; }
    virtual void Serialize(CXArchive& ar)
    {
        ZanSerialize(ar, m_Flags);
        ZanSerialize(ar, m_X);
        ZanSerialize(ar, m_Y);
        ZanSerialize(ar, m_Z);
    }

    uint32_t m_Flags = 0;
    float m_X = 0, m_Y = 0, m_Z = 0;
    uint32_t m_Alive = kAlive;
};
static_assert(sizeof(CTestPoint) <= 32 && alignof(CTestPoint) <= 16);

// Point methods with a bulk archive path that writes the components of a batch of points in
// one block: no virtual call per point.
class CElemTestPointMethods : public CElementMethods
{
    ZAN_DECLARE_DYNCREATE(CElemTestPointMethods)

public:
    using CElementMethods::CopyElement;
    bool IsObject() const override { return true; }
    unsigned GetSizeof() const override { return 32; }
    uint32_t GetType() const override { return ZanTag("TPNT"); }
    uint32_t GetBaseType() const override { return ZanTag("PNTS"); }
    void ConstructElement(void* element) const override
    {
        if (element)
            new (element) CTestPoint;
    }
    void DestructElement(void* element) const override
    {
        if (element)
            static_cast<CTestPoint*>(element)->~CTestPoint();
    }
    void CopyElement(void* dst, const void* src) const override
    {
        *static_cast<CTestPoint*>(dst) = *static_cast<const CTestPoint*>(src);
    }
    void SerializeElement(CXArchive& ar, void* element) const override
    {
        static_cast<CTestPoint*>(element)->Serialize(ar);
    }
    unsigned GetArchiveSizeof() const override { return 16; }
    void SerializeElements(CXArchive& ar, void* first, size_t count) const override
    {
        struct CRecord
        {
            uint32_t m_Flags;
            float m_X, m_Y, m_Z;
        };
        constexpr size_t kBatch = 512;
        CRecord batch[kBatch];
        uint8_t* bytes = static_cast<uint8_t*>(first);
        for (size_t done = 0; done < count;)
        {
            size_t n = std::min(kBatch, count - done);
            auto at = [&](size_t i)
            { return reinterpret_cast<CTestPoint*>(bytes + (done + i) * 32); };
            if (ar.IsStoring())
            {
                for (size_t i = 0; i < n; ++i)
                    batch[i] = {at(i)->m_Flags, at(i)->m_X, at(i)->m_Y, at(i)->m_Z};
                ar.WriteArray(batch, n);
            }
            else
            {
                ar.ReadArray(batch, n);
                for (size_t i = 0; i < n; ++i)
                {
                    CTestPoint* p = at(i);
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
ZAN_IMPLEMENT_DYNCREATE(CElemTestPointMethods, CElementMethods)

// The same points archived one by one through each point's Serialize (the base loop).
class CElemTestPointLoopMethods : public CElemTestPointMethods
{
    ZAN_DECLARE_DYNCREATE(CElemTestPointLoopMethods)

public:
    void SerializeElements(CXArchive& ar, void* first, size_t count) const override
    {
        CElementMethods::SerializeElements(ar, first, count);
    }
};
ZAN_IMPLEMENT_DYNCREATE(CElemTestPointLoopMethods, CElemTestPointMethods)

// A plain index whose default is not zero and which overrides no bulk operation: the base
// bulk paths must build, copy and archive it correctly.
class CElemTestIndexMethods : public CElementMethods
{
    ZAN_DECLARE_DYNCREATE(CElemTestIndexMethods)

public:
    unsigned GetSizeof() const override { return 4; }
    uint32_t GetType() const override { return ZanTag("TIDX"); }
    uint32_t GetBaseType() const override { return ZanTag("TIDX"); }
    void ConstructElement(void* element) const override
    {
        if (element)
            *static_cast<uint32_t*>(element) = kZanNone;
    }
};
ZAN_IMPLEMENT_DYNCREATE(CElemTestIndexMethods, CElementMethods)

// A float that converts from doubles: exercises the four-argument copy between types.
class CElemTestFloatMethods : public CElementMethods
{
    ZAN_DECLARE_DYNCREATE(CElemTestFloatMethods)

public:
    using CElementMethods::CopyElement;
    unsigned GetSizeof() const override { return 4; }
    uint32_t GetType() const override { return ZanTag("TFLT"); }
    uint32_t GetBaseType() const override { return ZanTag("TFLT"); }
    void CopyElement(void* dst, const CElementMethods* dstMethods, const void* src,
                     const CElementMethods* srcMethods) const override
    {
        if (dst && src && srcMethods && srcMethods->GetType() == ZanTag("DOUB"))
        {
            float value = float(*static_cast<const double*>(src));
            std::memcpy(dst, &value, sizeof value);
            return;
        }
        CElementMethods::CopyElement(dst, dstMethods, src, srcMethods);
    }
};
ZAN_IMPLEMENT_DYNCREATE(CElemTestFloatMethods, CElementMethods)

// An array class of its own, as the point lists are.
class CElemTestDerivedArray : public CElementArray
{
    ZAN_DECLARE_DYNCREATE(CElemTestDerivedArray)
};
ZAN_IMPLEMENT_DYNCREATE(CElemTestDerivedArray, CElementArray)

// ---------------------------------------------------------------- helpers

struct PointValue
{
    uint32_t m_Flags;
    float m_X, m_Y, m_Z;
    bool operator==(const PointValue&) const = default;
};

std::ostream& operator<<(std::ostream& os, const PointValue& v)
{
    return os << "{" << v.m_Flags << ", " << v.m_X << ", " << v.m_Y << ", " << v.m_Z << "}";
}

PointValue MakeValue(uint32_t seed)
{
    return {seed * 2654435761u, float(seed) + 0.5f, -float(seed) * 0.25f, float(seed % 97)};
}

const CTestPoint& PointAt(const CElementArray& array, int index)
{
    return *static_cast<const CTestPoint*>(array.GetAt(index));
}

void SetPoint(CElementArray& array, int index, const PointValue& v)
{
    CTestPoint point(v.m_Flags, v.m_X, v.m_Y, v.m_Z);
    array.SetAt(index, &point);
}

// The values of a point array; checks on the way that each element is a live, intact point
// with zero padding.
std::vector<PointValue> Points(const CElementArray& array)
{
    std::vector<PointValue> values;
    for (int i = 0; i < array.GetSize(); ++i)
    {
        const CTestPoint& p = PointAt(array, i);
        EXPECT_EQ(p.Kind(), 0x3Du) << "element " << i;
        EXPECT_EQ(p.m_Alive, kAlive) << "element " << i;
        const uint8_t* slot = static_cast<const uint8_t*>(array.GetAt(i));
        const uint8_t* valueEnd = reinterpret_cast<const uint8_t*>(&p.m_Alive + 1);
        for (const uint8_t* b = valueEnd; b < slot + 32; ++b)
            EXPECT_EQ(*b, 0) << "padding byte " << (b - slot) << " of element " << i;
        values.push_back({p.m_Flags, p.m_X, p.m_Y, p.m_Z});
    }
    return values;
}

void FillPoints(CElementArray& array, int count, uint32_t seed = 0)
{
    ASSERT_TRUE(array.SetSize(count));
    for (int i = 0; i < count; ++i)
        SetPoint(array, i, MakeValue(seed + uint32_t(i)));
}

std::vector<uint32_t> UInts(const CElementArray& array)
{
    std::vector<uint32_t> values(size_t(array.GetSize()));
    if (!values.empty())
        std::memcpy(values.data(), array.GetDataPtr(), values.size() * 4);
    return values;
}

std::vector<uint8_t> Store(const CElementArray& array)
{
    CXMemFile file;
    CXArchive ar(&file, CXArchive::store);
    const_cast<CElementArray&>(array).Serialize(ar);
    ar.Close();
    return file.Detach();
}

// Loads \p bytes into \p array and checks that the archive was read to its last byte.
void Load(CElementArray& array, const std::vector<uint8_t>& bytes, size_t length = SIZE_MAX)
{
    CXMemFile file(bytes.data(), std::min(length, bytes.size()));
    CXArchive ar(&file, CXArchive::load);
    array.Serialize(ar);
    EXPECT_EQ(ar.GetRemaining(), 0u);
}

// Bytes of an archive header written by hand: methods record, size, tag, count.
std::vector<uint8_t> Header(const CXRuntimeClass* methodsClass, uint32_t size, uint32_t tag,
                            uint64_t count, size_t extraBytes)
{
    CXMemFile file;
    CXArchive ar(&file, CXArchive::store);
    ar.WriteClass(methodsClass);
    ar << size << tag;
    ar.WriteCount(count);
    std::vector<uint8_t> filler(extraBytes, 0x5A);
    if (!filler.empty())
        ar.Write(filler.data(), filler.size());
    ar.Close();
    return file.Detach();
}

CElementMethods* NewPointMethods()
{
    return new CElemTestPointMethods;
}

// Checks, for every test, that each constructed test point was destructed exactly once.
class ElementArrayTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_LiveAtStart = g_LivePoints;
        m_BadAtStart = g_BadDestructs;
    }
    void TearDown() override
    {
        EXPECT_EQ(g_LivePoints, m_LiveAtStart) << "test points leaked or destructed twice";
        EXPECT_EQ(g_BadDestructs, m_BadAtStart) << "destruction of storage that held no point";
    }
    int Live() const { return g_LivePoints - m_LiveAtStart; }

    int m_LiveAtStart = 0;
    int m_BadAtStart = 0;
};

// ---------------------------------------------------------------- element methods

TEST(ElementMethods, ClassesDescribeTheirElementsAndAreCreatedByName)
{
    std::unique_ptr<CXObject> uintObject(CXRuntimeClass::CreateObject("CUIntElementMethods"));
    std::unique_ptr<CXObject> doubleObject(CXRuntimeClass::CreateObject("CDoubleElementMethods"));
    auto* uints = dynamic_cast<CElementMethods*>(uintObject.get());
    auto* doubles = dynamic_cast<CElementMethods*>(doubleObject.get());
    ASSERT_NE(uints, nullptr);
    ASSERT_NE(doubles, nullptr);
    EXPECT_EQ(uints->GetSizeof(), 4u);
    EXPECT_EQ(uints->GetType(), 0x55494E54u); // "UINT", first character most significant
    EXPECT_EQ(uints->GetBaseType(), uints->GetType());
    EXPECT_EQ(doubles->GetSizeof(), 8u);
    EXPECT_EQ(doubles->GetType(), ZanTag("DOUB"));
    EXPECT_FALSE(uints->IsObject());
    EXPECT_TRUE(uints->IsTriviallyCopyable());
    EXPECT_EQ(uints->GetArchiveSizeof(), 4u);

    // The abstract base cannot be created from an archive.
    EXPECT_EQ(CXRuntimeClass::CreateObject("CElementMethods"), nullptr);

    CElemTestPointMethods points;
    CElemTestPointLoopMethods loopPoints;
    EXPECT_TRUE(points.IsObject());
    EXPECT_FALSE(points.IsTriviallyCopyable());
    EXPECT_TRUE(loopPoints.IsKindOf(&points));
    EXPECT_FALSE(points.IsKindOf(&loopPoints));
    EXPECT_FALSE(uints->IsKindOf(doubles));
    EXPECT_FALSE(uints->IsKindOf(static_cast<const CElementMethods*>(nullptr)));
    EXPECT_TRUE(uints->IsKindOf(ZAN_RUNTIME_CLASS(CElementMethods)));

    // Construction initialises whatever was in the storage; null is ignored.
    uint32_t word = 0xDEADBEEF;
    uints->ConstructElement(&word);
    EXPECT_EQ(word, 0u);
    uints->ConstructElement(nullptr);
    uints->DestructElement(nullptr);
}

TEST(ElementMethods, BaseBulkOperationsMatchTheSingleElementOnes)
{
    CElemTestIndexMethods methods; // overrides no bulk operation
    EXPECT_TRUE(methods.IsTriviallyCopyable());
    EXPECT_EQ(methods.GetArchiveSizeof(), 4u);
    for (size_t count : {1u, 2u, 7u, 64u, 1000u})
    {
        std::vector<uint32_t> block(count + 1, 0);
        methods.ConstructElements(block.data(), count);
        for (size_t i = 0; i < count; ++i)
            ASSERT_EQ(block[i], kZanNone) << "element " << i << " of " << count;
        EXPECT_EQ(block[count], 0u) << "construction ran past the range";

        std::vector<uint32_t> src(count), dst(count, 7);
        for (size_t i = 0; i < count; ++i)
            src[i] = uint32_t(i * 31 + 1);
        methods.CopyElements(dst.data(), src.data(), count);
        EXPECT_EQ(dst, src);

        // One block and one element at a time give the same archive bytes.
        CXMemFile bulkFile, loopFile;
        {
            CXArchive bulk(&bulkFile, CXArchive::store), loop(&loopFile, CXArchive::store);
            methods.SerializeElements(bulk, src.data(), count);
            for (size_t i = 0; i < count; ++i)
                methods.SerializeElement(loop, &src[i]);
            bulk.Close();
            loop.Close();
        }
        ASSERT_EQ(bulkFile.GetLength(), count * 4);
        EXPECT_EQ(0, std::memcmp(bulkFile.GetBuffer(), loopFile.GetBuffer(), count * 4));
    }
}

TEST(ElementMethods, FourArgumentCopyConvertsOrResets)
{
    CUIntElementMethods uints;
    CDoubleElementMethods doubles;
    CElemTestFloatMethods floats;
    uint32_t dst = 5, src = 9;
    uints.CopyElement(&dst, &uints, &src, &uints);
    EXPECT_EQ(dst, 9u);
    double value = 2.5;
    uints.CopyElement(&dst, &uints, &value, &doubles); // no conversion known: reset
    EXPECT_EQ(dst, 0u);
    dst = 5;
    uints.CopyElement(&dst, &uints, nullptr, &uints);
    EXPECT_EQ(dst, 0u);
    float f = 1.0f;
    floats.CopyElement(&f, &floats, &value, &doubles);
    EXPECT_EQ(f, 2.5f);
}

TEST(ElementMethods, ChecksumIgnoresTheVirtualTablePointer)
{
    CElemTestPointMethods methods;
    alignas(16) uint8_t a[32] = {}, b[32] = {};
    methods.ConstructElement(a);
    CTestPoint* point = static_cast<CTestPoint*>(static_cast<void*>(a));
    point->m_X = 3.0f;
    size_t xOffset = size_t(reinterpret_cast<uint8_t*>(&point->m_X) - a);
    std::memcpy(b, a, 32);
    uint32_t original = methods.GetElementChecksum(a);
    // Another process would have another table address: only the value bytes may count.
    for (size_t i = 0; i < sizeof(void*); ++i)
        b[i] ^= 0xFF;
    EXPECT_EQ(methods.GetElementChecksum(b), original);
    b[xOffset] ^= 1;
    EXPECT_NE(methods.GetElementChecksum(b), original);
    methods.DestructElement(a);
}

// ---------------------------------------------------------------- storage and lifetime

TEST_F(ElementArrayTest, ElementsLieContiguouslyAtTheReportedStride)
{
    CElementArray array(NewPointMethods());
    EXPECT_EQ(array.GetSizeOfElement(), 32u);
    EXPECT_EQ(array.GetTypeOfElement(), ZanTag("TPNT"));
    ASSERT_TRUE(array.SetSize(1000));
    EXPECT_EQ(Live(), 1000);
    auto* base = static_cast<uint8_t*>(array.GetDataPtr());
    EXPECT_EQ(base, array.GetData());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(base) % 16, 0u);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(array.ElementAt(i), base + size_t(i) * 32);
    for (const PointValue& v : Points(array))
        ASSERT_EQ(v, (PointValue{0, 0, 0, 0}));

    // Growth one element at a time keeps every value and every virtual table, and relocates
    // the block only a logarithmic number of times.
    std::vector<PointValue> expected;
    for (int i = 0; i < 1000; ++i)
    {
        SetPoint(array, i, MakeValue(uint32_t(i)));
        expected.push_back(MakeValue(uint32_t(i)));
    }
    int relocations = 0;
    const void* last = array.GetDataPtr();
    for (int i = 1000; i < 100000; ++i)
    {
        CTestPoint p(MakeValue(uint32_t(i)).m_Flags, MakeValue(uint32_t(i)).m_X,
                     MakeValue(uint32_t(i)).m_Y, MakeValue(uint32_t(i)).m_Z);
        ASSERT_EQ(array.Add(&p), i);
        expected.push_back(MakeValue(uint32_t(i)));
        if (array.GetDataPtr() != last)
        {
            ++relocations;
            last = array.GetDataPtr();
        }
    }
    EXPECT_LT(relocations, 20);
    EXPECT_EQ(Live(), 100000);
    EXPECT_EQ(Points(array), expected);
}

// Large blocks live in their own mappings; growth, shrinking and reordering move them in and
// out of that state and must keep every element.
TEST_F(ElementArrayTest, LargeBlocksKeepTheirElementsAcrossEveryResize)
{
    constexpr uint32_t kLarge = 1'500'000; // 6 MB of 4-byte elements
    CElementArray array(new CUIntElementMethods);
    for (uint32_t i = 0; i < kLarge; ++i)
        ASSERT_EQ(array.Add(&i), int(i));
    auto expectIota = [&](uint32_t count, uint32_t zerosAfter)
    {
        ASSERT_GE(uint32_t(array.GetSize()), count + zerosAfter);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(array.GetDataPtr()) % 16, 0u);
        const uint32_t* values = static_cast<const uint32_t*>(array.GetDataPtr());
        for (uint32_t i = 0; i < count; ++i)
            ASSERT_EQ(values[i], i);
        for (uint32_t i = count; i < count + zerosAfter; ++i)
            ASSERT_EQ(values[i], 0u);
    };
    expectIota(kLarge, 0);

    ASSERT_TRUE(array.SetSize(400'000)); // 1.6 MB: back into an ordinary allocation
    array.FreeExtra();
    EXPECT_EQ(array.GetAllocatedSize(), 400'000);
    expectIota(400'000, 0);
    ASSERT_TRUE(array.SetSize(int(kLarge))); // out again in one step
    expectIota(400'000, kLarge - 400'000);

    std::vector<unsigned> reverse(kLarge);
    for (uint32_t i = 0; i < kLarge; ++i)
        reverse[i] = kLarge - 1 - i;
    ASSERT_TRUE(array.Reorder(reverse.data(), kLarge, true));
    ASSERT_TRUE(array.Reorder(reverse.data(), kLarge, false));
    expectIota(400'000, kLarge - 400'000);

    CElementArray copy(array);
    CElementArray loaded;
    Load(loaded, Store(copy));
    EXPECT_EQ(UInts(loaded), UInts(array));

    // Object elements in a mapped block, constructed as the block grows.
    CElementArray points(NewPointMethods());
    ASSERT_TRUE(points.PreAllocate(1000, true));
    FillPoints(points, 150'000); // 4.8 MB
    EXPECT_EQ(Live(), points.GetAllocatedSize());
    std::vector<PointValue> values = Points(points);
    ASSERT_TRUE(points.SetSize(1000, false));
    points.FreeExtra();
    EXPECT_EQ(Live(), 1000);
    values.resize(1000);
    EXPECT_EQ(Points(points), values);
}

TEST_F(ElementArrayTest, EveryOperationBalancesConstructionAndDestruction)
{
    {
        CElementArray array(NewPointMethods());
        FillPoints(array, 50);
        EXPECT_EQ(Live(), 50);
        ASSERT_TRUE(array.SetSize(20));
        EXPECT_EQ(Live(), 20);
        ASSERT_TRUE(array.SetSize(70));
        EXPECT_EQ(Live(), 70);
        EXPECT_EQ(PointAt(array, 19).m_X, MakeValue(19).m_X);
        EXPECT_EQ(PointAt(array, 20).m_X, 0.0f) << "a regrown element must be a fresh one";

        array.RemoveAt(10, 15);
        EXPECT_EQ(Live(), 55);
        ASSERT_TRUE(array.InsertAt(5, &PointAt(array, 0), 4));
        EXPECT_EQ(Live(), 59);

        CElementArray other(NewPointMethods());
        FillPoints(other, 10, 500);
        ASSERT_TRUE(array.Copy(other));
        EXPECT_EQ(Live(), 20);
        EXPECT_EQ(array.Append(array), 10);
        EXPECT_EQ(Live(), 30);

        std::unique_ptr<CElementArray> dup(array.Duplicate(true));
        ASSERT_NE(dup, nullptr);
        EXPECT_EQ(Live(), 50);
        std::unique_ptr<CElementArray> empty(array.Duplicate(false));
        EXPECT_EQ(Live(), 50);

        std::vector<unsigned> order = {3, 3, 3, 0, 19, 7};
        ASSERT_TRUE(array.Reorder(order.data(), unsigned(order.size()), false));
        EXPECT_EQ(Live(), 36); // 6 here, 10 in other, 20 in dup
        array.RemoveAll();
        EXPECT_EQ(Live(), 30);
        EXPECT_EQ(array.GetAllocatedSize(), 0);
        FillPoints(array, 5);
    }
    EXPECT_EQ(Live(), 0);
}

TEST_F(ElementArrayTest, ConstructModeKeepsSpareElementsConstructed)
{
    CElementArray array(NewPointMethods());
    ASSERT_TRUE(array.PreAllocate(100, true));
    EXPECT_TRUE(array.IsConstructMode());
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(array.GetAllocatedSize(), 100);
    EXPECT_EQ(Live(), 100);

    int built = g_Constructions;
    ASSERT_TRUE(array.SetSize(50));
    EXPECT_EQ(g_Constructions, built) << "growing within the spare elements constructs nothing";
    for (int i = 0; i < 50; ++i)
        SetPoint(array, i, MakeValue(uint32_t(i)));

    ASSERT_TRUE(array.SetSize(10));
    EXPECT_EQ(Live(), 100);
    ASSERT_TRUE(array.SetSize(50));
    EXPECT_EQ(PointAt(array, 9).m_X, MakeValue(9).m_X);
    for (int i = 10; i < 50; ++i)
        ASSERT_EQ(PointAt(array, i).m_Flags, 0u) << "spare element " << i << " kept an old value";

    // Edits inside construct mode keep every slot constructed.
    array.RemoveAt(0, 5);
    EXPECT_EQ(Live(), 100);
    ASSERT_TRUE(array.InsertAt(0, nullptr, 30));
    EXPECT_EQ(Live(), 100);
    EXPECT_EQ(PointAt(array, 30).m_X, MakeValue(5).m_X);
    ASSERT_TRUE(array.SetSize(150)); // grows the block: the new slots are constructed at once
    EXPECT_EQ(Live(), array.GetAllocatedSize());
    std::vector<unsigned> order(150);
    for (unsigned i = 0; i < 150; ++i)
        order[i] = 149 - i;
    ASSERT_TRUE(array.Reorder(order.data(), 150, true));
    EXPECT_EQ(Live(), array.GetAllocatedSize());
    ASSERT_TRUE(array.Reorder(order.data(), 40, false));
    EXPECT_EQ(Live(), array.GetAllocatedSize());
    EXPECT_EQ(PointAt(array, 0).m_X, 0.0f);
    Points(array);

    // Leaving construct mode destructs the spare elements; FreeExtra gives back the room.
    ASSERT_TRUE(array.SetSize(20, false));
    EXPECT_FALSE(array.IsConstructMode());
    EXPECT_EQ(Live(), 20);
    array.FreeExtra();
    EXPECT_EQ(array.GetAllocatedSize(), 20);
    ASSERT_TRUE(array.PreAllocate(64, true));
    EXPECT_EQ(Live(), 64);
    ASSERT_TRUE(array.PreAllocate(10, false)); // never shrinks, but ends the mode
    EXPECT_EQ(array.GetAllocatedSize(), 64);
    EXPECT_EQ(Live(), 20);
    EXPECT_FALSE(array.PreAllocate(-1, true));
}

TEST_F(ElementArrayTest, GrowFactorSetsTheMinimumStep)
{
    CElementArray array(new CUIntElementMethods);
    EXPECT_EQ(array.SetGrowFactor(1000), -1);
    ASSERT_TRUE(array.SetSize(1));
    int room = array.GetAllocatedSize();
    ASSERT_TRUE(array.SetSize(room + 1));
    EXPECT_GE(array.GetAllocatedSize(), room + 1000);
    ASSERT_TRUE(array.SetSize(3, true, 5000));
    EXPECT_EQ(array.SetGrowFactor(0), 5000);
    EXPECT_EQ(array.GetGrowFactor(), 0);
}

// ---------------------------------------------------------------- editing against a model

struct PointTraits
{
    using Value = PointValue;
    static CElementMethods* NewMethods() { return new CElemTestPointMethods; }
    static Value Make(uint32_t seed) { return MakeValue(seed); }
    static Value Default() { return {0, 0, 0, 0}; }
    static std::vector<Value> Read(const CElementArray& array) { return Points(array); }
    // A source element living outside the array.
    struct CSource
    {
        explicit CSource(const Value& v) : m_Point(v.m_Flags, v.m_X, v.m_Y, v.m_Z) {}
        const void* Get() const { return &m_Point; }
        CTestPoint m_Point;
    };
};

struct IndexTraits
{
    using Value = uint32_t;
    static CElementMethods* NewMethods() { return new CElemTestIndexMethods; }
    static Value Make(uint32_t seed) { return seed * 7919u + 1; }
    static Value Default() { return kZanNone; }
    static std::vector<Value> Read(const CElementArray& array) { return UInts(array); }
    struct CSource
    {
        explicit CSource(Value v) : m_Value(v) {}
        const void* Get() const { return &m_Value; }
        Value m_Value;
    };
};

// Random edits applied to an element array and to a std::vector; both must agree after each.
template <class TRAITS> void RunEditModel(bool constructMode, unsigned seed)
{
    using Value = typename TRAITS::Value;
    CElementArray array(TRAITS::NewMethods());
    std::vector<Value> model;
    if (constructMode)
    {
        ASSERT_TRUE(array.PreAllocate(16, true));
    }
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    uint32_t next = 1;
    for (int step = 0; step < 1500; ++step)
    {
        int size = int(model.size());
        int op = pick(11);
        SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
        switch (op)
        {
        case 0: // append an outside value
        {
            Value v = TRAITS::Make(next++);
            typename TRAITS::CSource src(v);
            ASSERT_EQ(array.Add(src.Get()), size);
            model.push_back(v);
            break;
        }
        case 1: // append a copy of one of its own elements (the block may move meanwhile)
            if (size)
            {
                int from = pick(size);
                ASSERT_EQ(array.Add(array.GetAt(from)), size);
                model.push_back(model[size_t(from)]);
            }
            break;
        case 2:
            ASSERT_EQ(array.Add(), size);
            model.push_back(TRAITS::Default());
            break;
        case 3: // set beyond the end
        {
            int index = size + pick(5);
            Value v = TRAITS::Make(next++);
            typename TRAITS::CSource src(v);
            ASSERT_TRUE(array.SetAtGrow(index, src.Get()));
            model.resize(size_t(index) + 1, TRAITS::Default());
            model[size_t(index)] = v;
            break;
        }
        case 4: // insert copies of an own element
        {
            int index = pick(size + 1);
            int count = pick(4);
            if (size)
            {
                int from = pick(size);
                Value v = model[size_t(from)];
                ASSERT_TRUE(array.InsertAt(index, array.GetAt(from), count));
                model.insert(model.begin() + index, size_t(count), v);
            }
            else
            {
                ASSERT_TRUE(array.InsertAt(index, nullptr, count));
                model.insert(model.begin() + index, size_t(count), TRAITS::Default());
            }
            break;
        }
        case 5:
            if (size)
            {
                int index = pick(size);
                int count = pick(std::min(4, size - index) + 1);
                array.RemoveAt(index, count);
                model.erase(model.begin() + index, model.begin() + index + count);
            }
            break;
        case 6: // set from another element of the same array
            if (size)
            {
                int dst = pick(size), from = pick(size);
                array.SetAt(dst, array.GetAt(from));
                model[size_t(dst)] = model[size_t(from)];
            }
            break;
        case 7:
        {
            int newSize = pick(size + 20);
            ASSERT_TRUE(array.SetSize(newSize));
            model.resize(size_t(newSize), TRAITS::Default());
            break;
        }
        case 8:
            if (size)
            {
                unsigned dst = unsigned(pick(size)), from = unsigned(pick(size));
                ASSERT_TRUE(array.Copy(dst, array, from));
                model[dst] = model[from];
            }
            break;
        case 9:
            if (size)
            {
                int index = pick(size);
                array.SetAt(index, nullptr);
                model[size_t(index)] = TRAITS::Default();
            }
            break;
        case 10:
            if (pick(10) == 0)
            {
                array.FreeExtra();
                EXPECT_EQ(array.GetAllocatedSize(), array.GetSize());
            }
            break;
        }
        ASSERT_EQ(array.GetSize(), int(model.size()));
        ASSERT_EQ(TRAITS::Read(array), model);
    }
}

TEST_F(ElementArrayTest, EditsAgreeWithAVectorModel)
{
    for (unsigned seed : {1u, 2u, 3u})
    {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RunEditModel<PointTraits>(false, seed);
        RunEditModel<PointTraits>(true, seed);
        RunEditModel<IndexTraits>(false, seed);
        RunEditModel<IndexTraits>(true, seed);
        EXPECT_EQ(Live(), 0);
    }
}

TEST_F(ElementArrayTest, BadIndicesRaiseAndChangeNothing)
{
    CElementArray array(NewPointMethods());
    FillPoints(array, 5);
    std::vector<PointValue> before = Points(array);
    const CElementArray& constArray = array;
    CTestPoint p;
    EXPECT_THROW(array.GetAt(-1), CXInvalidArgException);
    EXPECT_THROW(array.GetAt(5), CXInvalidArgException);
    EXPECT_THROW(constArray.GetAt(5), CXInvalidArgException);
    EXPECT_THROW(array.ElementAt(INT_MAX), CXInvalidArgException);
    EXPECT_THROW(array.SetAt(5, &p), CXInvalidArgException);
    EXPECT_THROW(array.SetAtGrow(-1, &p), CXInvalidArgException);
    EXPECT_THROW(array.InsertAt(6, &p), CXInvalidArgException);
    EXPECT_THROW(array.InsertAt(0, &p, -1), CXInvalidArgException);
    EXPECT_THROW(array.RemoveAt(-1), CXInvalidArgException);
    EXPECT_THROW(array.RemoveAt(3, 3), CXInvalidArgException);
    EXPECT_THROW(array.RemoveAt(0, -1), CXInvalidArgException);
    EXPECT_THROW(array.SetSize(-1), CXInvalidArgException);
    CElementArray other(NewPointMethods());
    FillPoints(other, 2);
    EXPECT_FALSE(array.Copy(5, other, 0));
    EXPECT_FALSE(array.Copy(0, other, 2));
    EXPECT_EQ(Points(array), before);
    EXPECT_EQ(Live(), 8);
}

TEST(ElementArray, WithoutMethodsHoldsNothingUntilItGetsSome)
{
    CElementArray array;
    EXPECT_EQ(array.GetMethods(), nullptr);
    EXPECT_EQ(array.GetSizeOfElement(), 0u);
    EXPECT_EQ(array.GetTypeOfElement(), 0u);
    EXPECT_FALSE(array.SetSize(3));
    EXPECT_EQ(array.Add(), -1);
    EXPECT_FALSE(array.PreAllocate(4, true));
    EXPECT_TRUE(array.SetSize(0));
    EXPECT_EQ(array.GetChecksum(), 0u);

    CElementArray reloaded(new CUIntElementMethods);
    ASSERT_TRUE(reloaded.SetSize(4));
    Load(reloaded, Store(array));
    EXPECT_EQ(reloaded.GetMethods(), nullptr);
    EXPECT_EQ(reloaded.GetSize(), 0);

    CElementArray uints(new CUIntElementMethods);
    ASSERT_TRUE(uints.SetSize(3));
    static_cast<uint32_t*>(uints.GetDataPtr())[2] = 42;
    EXPECT_EQ(array.Append(uints), 0);
    EXPECT_EQ(array.GetMethods(), uints.GetMethods());
    EXPECT_EQ(UInts(array), (std::vector<uint32_t>{0, 0, 42}));
}

// ---------------------------------------------------------------- copies and methods

TEST_F(ElementArrayTest, CopyKeepsOrTakesTheMethods)
{
    CElementArray src(NewPointMethods());
    FillPoints(src, 12, 100);
    CElementMethods* srcMethods = src.GetMethods();
    EXPECT_EQ(srcMethods->GetInstanceCount(), 1);

    CElementArray same(NewPointMethods());
    FillPoints(same, 30);
    CElementMethods* ownMethods = same.GetMethods();
    ASSERT_TRUE(same.Copy(src));
    EXPECT_EQ(same.GetMethods(), ownMethods);
    EXPECT_EQ(Points(same), Points(src));
    ASSERT_TRUE(same.Copy(src, true));
    EXPECT_EQ(same.GetMethods(), srcMethods);
    EXPECT_EQ(srcMethods->GetInstanceCount(), 2);
    EXPECT_EQ(Points(same), Points(src));
    EXPECT_EQ(Live(), 24);

    // Another element type converts through the four-argument copy.
    CElementArray doubles(new CDoubleElementMethods);
    ASSERT_TRUE(doubles.SetSize(4));
    for (int i = 0; i < 4; ++i)
        static_cast<double*>(doubles.GetDataPtr())[i] = i * 1.5;
    CElementArray floats(new CElemTestFloatMethods);
    ASSERT_TRUE(floats.Copy(doubles));
    EXPECT_EQ(floats.GetTypeOfElement(), ZanTag("TFLT"));
    ASSERT_EQ(floats.GetSize(), 4);
    EXPECT_EQ(*static_cast<const float*>(floats.GetAt(3)), 4.5f);
    ASSERT_TRUE(floats.Copy(1, doubles, 2));
    EXPECT_EQ(*static_cast<const float*>(floats.GetAt(1)), 3.0f);
    EXPECT_EQ(floats.Append(doubles), 4);
    EXPECT_EQ(*static_cast<const float*>(floats.GetAt(7)), 4.5f);

    // A type with no conversion resets the destination elements.
    CElementArray uints(new CUIntElementMethods);
    ASSERT_TRUE(uints.SetSize(2));
    static_cast<uint32_t*>(uints.GetDataPtr())[0] = 77;
    ASSERT_TRUE(uints.Copy(doubles));
    EXPECT_EQ(UInts(uints), (std::vector<uint32_t>{0, 0, 0, 0}));

    // Taking another type's methods replaces the elements wholesale.
    ASSERT_TRUE(uints.Copy(src, true));
    EXPECT_EQ(uints.GetSizeOfElement(), 32u);
    EXPECT_EQ(Points(uints), Points(src));
    EXPECT_EQ(srcMethods->GetInstanceCount(), 3);
}

TEST_F(ElementArrayTest, DuplicateKeepsTheClassAndSharesTheMethods)
{
    CElemTestDerivedArray array;
    ASSERT_TRUE(array.SetMethods(NewPointMethods()));
    FillPoints(array, 7);
    CElementMethods* methods = array.GetMethods();
    {
        std::unique_ptr<CElementArray> full(array.Duplicate(true));
        std::unique_ptr<CElementArray> empty(array.Duplicate(false));
        ASSERT_NE(full, nullptr);
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(full->GetRuntimeClassDescriptor(), ZAN_RUNTIME_CLASS(CElemTestDerivedArray));
        EXPECT_EQ(full->GetMethods(), methods);
        EXPECT_EQ(empty->GetMethods(), methods);
        EXPECT_EQ(methods->GetInstanceCount(), 3);
        EXPECT_EQ(Points(*full), Points(array));
        EXPECT_EQ(empty->GetSize(), 0);
        EXPECT_EQ(full->GetChecksum(), array.GetChecksum());
        // The copy is independent of the original.
        SetPoint(*full, 0, MakeValue(999));
        EXPECT_NE(PointAt(array, 0).m_Flags, MakeValue(999).m_Flags);
        EXPECT_EQ(Live(), 14);
    }
    EXPECT_EQ(methods->GetInstanceCount(), 1);

    CElementArray copy(array);
    EXPECT_EQ(copy.GetMethods(), methods);
    EXPECT_EQ(Points(copy), Points(array));
    CElementArray moved(std::move(copy));
    EXPECT_EQ(copy.GetSize(), 0);
    EXPECT_EQ(copy.GetMethods(), nullptr);
    EXPECT_EQ(moved.GetSize(), 7);
    EXPECT_EQ(methods->GetInstanceCount(), 2);
}

TEST_F(ElementArrayTest, SetMethodsKeepsTheBytesOfTheSameType)
{
    CElementArray array(NewPointMethods());
    FillPoints(array, 9);
    std::vector<PointValue> before = Points(array);
    const void* block = array.GetDataPtr();
    CElementMethods* old = array.GetMethods();
    old->AddRef(); // watch it being released

    CElementMethods* replacement = new CElemTestPointLoopMethods; // same type and size
    EXPECT_TRUE(array.SetMethods(replacement));
    EXPECT_EQ(array.GetMethods(), replacement);
    EXPECT_EQ(array.GetDataPtr(), block);
    EXPECT_EQ(Points(array), before);
    EXPECT_EQ(old->GetInstanceCount(), 1);
    EXPECT_TRUE(old->Delete());

    // Passing the methods it already has releases the caller's holder only.
    replacement->AddRef();
    EXPECT_TRUE(array.SetMethods(replacement));
    EXPECT_EQ(replacement->GetInstanceCount(), 1);

    // Another type cannot read the bytes: the elements are destructed.
    EXPECT_FALSE(array.SetMethods(new CUIntElementMethods));
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(Live(), 0);
    ASSERT_TRUE(array.SetSize(3));
    EXPECT_EQ(UInts(array), (std::vector<uint32_t>{0, 0, 0}));
}

// ---------------------------------------------------------------- reordering

template <class T>
std::vector<T> Gather(const std::vector<T>& values, const std::vector<unsigned>& order)
{
    std::vector<T> out;
    for (unsigned index : order)
        out.push_back(values[index]);
    return out;
}

template <class T>
std::vector<T> Scatter(const std::vector<T>& values, const std::vector<unsigned>& order)
{
    std::vector<T> out(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        out[order[i]] = values[i];
    return out;
}

TEST_F(ElementArrayTest, ReorderAgreesWithAReference)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round)
    {
        int size = int(rng() % 300);
        CElementArray points(NewPointMethods());
        CElementArray indices(new CElemTestIndexMethods);
        FillPoints(points, size, uint32_t(round * 1000));
        ASSERT_TRUE(indices.SetSize(size));
        for (int i = 0; i < size; ++i)
            static_cast<uint32_t*>(indices.GetDataPtr())[i] = uint32_t(i * 13 + round);

        std::vector<unsigned> permutation(size_t(size), 0);
        for (int i = 0; i < size; ++i)
            permutation[size_t(i)] = unsigned(i);
        std::shuffle(permutation.begin(), permutation.end(), rng);
        auto expectedPoints = Scatter(Points(points), permutation);
        auto expectedIndices = Scatter(UInts(indices), permutation);
        ASSERT_TRUE(points.Reorder(permutation.data(), unsigned(size), true));
        ASSERT_TRUE(indices.Reorder(permutation.data(), unsigned(size), true));
        ASSERT_EQ(Points(points), expectedPoints);
        ASSERT_EQ(UInts(indices), expectedIndices);

        // Gathers without repeats: a whole permutation, then a subset of distinct elements
        // (the rest must be destructed).
        std::shuffle(permutation.begin(), permutation.end(), rng);
        for (size_t keep : {permutation.size(), permutation.size() / 2})
        {
            std::vector<unsigned> distinct(permutation.begin(), permutation.begin() + keep);
            expectedPoints = Gather(Points(points), distinct);
            expectedIndices = Gather(UInts(indices), distinct);
            ASSERT_TRUE(points.Reorder(distinct.data(), unsigned(keep), false));
            ASSERT_TRUE(indices.Reorder(distinct.data(), unsigned(keep), false));
            ASSERT_EQ(Points(points), expectedPoints);
            ASSERT_EQ(UInts(indices), expectedIndices);
            ASSERT_EQ(Live(), int(keep));
            permutation.resize(keep);
            for (unsigned i = 0; i < keep; ++i)
                permutation[i] = i;
        }
        size = points.GetSize();

        if (size == 0)
            continue;
        // Gathers of other lengths, with repeats and with elements left out.
        std::vector<unsigned> order(rng() % 400);
        for (unsigned& index : order)
            index = unsigned(rng() % unsigned(size)) / (round % 3 == 0 ? 8 : 1);
        expectedPoints = Gather(Points(points), order);
        expectedIndices = Gather(UInts(indices), order);
        ASSERT_TRUE(points.Reorder(order.data(), unsigned(order.size()), false));
        ASSERT_TRUE(indices.Reorder(order.data(), unsigned(order.size()), false));
        ASSERT_EQ(Points(points), expectedPoints);
        ASSERT_EQ(UInts(indices), expectedIndices);
        ASSERT_EQ(Live(), int(order.size()));
    }
}

TEST_F(ElementArrayTest, InvalidOrdersAreRefusedWithNothingChanged)
{
    CElementArray array(NewPointMethods());
    FillPoints(array, 6);
    std::vector<PointValue> before = Points(array);
    const void* block = array.GetDataPtr();
    uint32_t checksum = array.GetChecksum();
    struct CCase
    {
        std::vector<unsigned> m_Order;
        bool m_Scatter;
    };
    std::vector<CCase> cases = {
        {{0, 1, 2, 3, 4, 6}, true},                        // index out of range
        {{0, 1, 2, 3, 4, 4}, true},                        // not a permutation
        {{0, 1, 2, 3, 4}, true},                           // too short
        {{0, 1, 2, 3, 4, 5, 0}, true}, {{5, 4, 6}, false}, // gather index out of range
        {{0, 1, kZanNone}, false},
    };
    for (const CCase& c : cases)
    {
        EXPECT_FALSE(array.Reorder(c.m_Order.data(), unsigned(c.m_Order.size()), c.m_Scatter));
        EXPECT_EQ(array.GetDataPtr(), block);
        EXPECT_EQ(array.GetChecksum(), checksum);
    }
    EXPECT_FALSE(array.Reorder(nullptr, 3, false));
    EXPECT_FALSE(array.Reorder(nullptr, 6, true));
    unsigned one = 0;
    EXPECT_FALSE(array.Reorder(&one, 0x80000000u, false)); // more than an array can hold
    EXPECT_EQ(Points(array), before);
    EXPECT_EQ(Live(), 6);

    // An empty gather empties the array.
    EXPECT_TRUE(array.Reorder(nullptr, 0, false));
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(Live(), 0);
}

// ---------------------------------------------------------------- archives

class ScopedTempDir
{
public:
    ScopedTempDir()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zan-elementarray-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_Path = pattern;
    }
    ~ScopedTempDir()
    {
        std::error_code ignored;
        if (!m_Path.empty())
            std::filesystem::remove_all(m_Path, ignored);
    }
    const std::filesystem::path& Path() const { return m_Path; }

private:
    std::filesystem::path m_Path;
};

TEST_F(ElementArrayTest, RoundTripsThroughMemoryAndDisk)
{
    CElementArray points(NewPointMethods());
    FillPoints(points, 2500, 3);
    CElementArray loopPoints(new CElemTestPointLoopMethods);
    ASSERT_TRUE(loopPoints.Copy(points));
    CElementArray doubles(new CDoubleElementMethods);
    ASSERT_TRUE(doubles.SetSize(1000));
    for (int i = 0; i < 1000; ++i)
        static_cast<double*>(doubles.GetDataPtr())[i] = 1.0 / (i + 1) - 0.0;
    CElementArray indices(new CElemTestIndexMethods);
    ASSERT_TRUE(indices.SetSize(777));
    static_cast<uint32_t*>(indices.GetDataPtr())[5] = 5;
    CElementArray empty(new CUIntElementMethods);

    for (const CElementArray* source : {&points, &loopPoints, &doubles, &indices, &empty})
    {
        SCOPED_TRACE(source->GetMethods()->GetRuntimeClassDescriptor()->m_ClassName);
        std::vector<uint8_t> bytes = Store(*source);
        CElementArray loaded; // no methods: they are re-created from the class name
        Load(loaded, bytes);
        ASSERT_NE(loaded.GetMethods(), nullptr);
        EXPECT_EQ(loaded.GetMethods()->GetRuntimeClassDescriptor(),
                  source->GetMethods()->GetRuntimeClassDescriptor());
        ASSERT_EQ(loaded.GetSize(), source->GetSize());
        EXPECT_EQ(0, std::memcmp(loaded.GetDataPtr() ? loaded.GetDataPtr() : "",
                                 source->GetDataPtr() ? source->GetDataPtr() : "",
                                 source->IsEmpty() || source->GetMethods()->IsObject()
                                     ? 0
                                     : size_t(source->GetSize()) * source->GetSizeOfElement()));
        EXPECT_EQ(loaded.GetChecksum(), source->GetChecksum());
        EXPECT_EQ(Store(loaded), bytes) << "store, load and store again must give the same bytes";
    }
    EXPECT_EQ(Points(points), Points(loopPoints));

    // The bulk point path writes exactly what one Serialize per point writes.
    std::vector<uint8_t> bulk = Store(points), loop = Store(loopPoints);
    size_t payload = 2500 * 16;
    ASSERT_GT(bulk.size(), payload);
    ASSERT_GT(loop.size(), payload);
    EXPECT_EQ(0, std::memcmp(bulk.data() + bulk.size() - payload,
                             loop.data() + loop.size() - payload, payload));

    // A disk file, and an array that already held other elements.
    ScopedTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    std::string path = (dir.Path() / "points.bin").string();
    {
        CXDiskFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CXDiskFile::modeWrite));
        CXArchive ar(&file, CXArchive::store);
        points.Serialize(ar);
        doubles.Serialize(ar);
        ar.Close();
        ASSERT_TRUE(file.Close());
    }
    CElementArray first(new CUIntElementMethods), second(NewPointMethods());
    FillPoints(second, 10);
    ASSERT_TRUE(first.SetSize(100));
    {
        CXDiskFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CXDiskFile::modeRead));
        CXArchive ar(&file, CXArchive::load);
        first.Serialize(ar);
        second.Serialize(ar);
        EXPECT_EQ(ar.GetRemaining(), 0u);
    }
    EXPECT_EQ(first.GetTypeOfElement(), ZanTag("TPNT"));
    EXPECT_EQ(Points(first), Points(points));
    EXPECT_EQ(second.GetTypeOfElement(), ZanTag("DOUB"));
    EXPECT_EQ(second.GetChecksum(), doubles.GetChecksum());
    EXPECT_EQ(Live(), 2500 * 3);
}

TEST_F(ElementArrayTest, ChecksumsFollowValuesAndOrder)
{
    CElementArray array(NewPointMethods());
    FillPoints(array, 40);
    uint32_t checksum = array.GetChecksum();
    CElementArray reloaded;
    Load(reloaded, Store(array));
    EXPECT_EQ(reloaded.GetChecksum(), checksum);

    CTestPoint& p = *static_cast<CTestPoint*>(reloaded.ElementAt(17));
    p.m_Z = -p.m_Z - 1.0f;
    EXPECT_NE(reloaded.GetChecksum(), checksum);
    Load(reloaded, Store(array));
    std::vector<unsigned> swap(40);
    for (unsigned i = 0; i < 40; ++i)
        swap[i] = i;
    std::swap(swap[3], swap[4]);
    ASSERT_TRUE(reloaded.Reorder(swap.data(), 40, true));
    EXPECT_NE(reloaded.GetChecksum(), checksum) << "the checksum must depend on the order";
    ASSERT_TRUE(reloaded.Reorder(swap.data(), 40, true));
    EXPECT_EQ(reloaded.GetChecksum(), checksum);
}

// Every proper prefix of a valid archive must be refused, leaving the target as it was.
TEST_F(ElementArrayTest, EveryTruncationRaisesAndLeavesTheTargetAsItWas)
{
    CElementArray points(NewPointMethods());
    FillPoints(points, 9, 40);
    CElementArray loopPoints(new CElemTestPointLoopMethods);
    ASSERT_TRUE(loopPoints.Copy(points));
    CElementArray uints(new CUIntElementMethods);
    ASSERT_TRUE(uints.SetSize(11));
    CElementArray indices(new CElemTestIndexMethods);
    ASSERT_TRUE(indices.SetSize(3));

    CElementArray target(NewPointMethods());
    FillPoints(target, 4, 900);
    ASSERT_TRUE(target.PreAllocate(16, true));
    std::vector<PointValue> before = Points(target);
    CElementMethods* methods = target.GetMethods();
    int live = Live();

    for (const CElementArray* source : {&points, &loopPoints, &uints, &indices})
    {
        std::vector<uint8_t> bytes = Store(*source);
        for (size_t length = 0; length < bytes.size(); ++length)
        {
            SCOPED_TRACE("prefix of " + std::to_string(length) + " bytes");
            try
            {
                Load(target, bytes, length);
                ADD_FAILURE() << "a truncated archive was accepted";
            }
            catch (const CXArchiveException&)
            {
            }
            ASSERT_EQ(target.GetMethods(), methods);
            ASSERT_EQ(target.GetSize(), 4);
            ASSERT_TRUE(target.IsConstructMode());
            ASSERT_EQ(Points(target), before);
            ASSERT_EQ(Live(), live);
        }
    }
}

TEST_F(ElementArrayTest, MalformedHeadersAreRefused)
{
    CElementArray target(new CUIntElementMethods);
    ASSERT_TRUE(target.SetSize(2));
    static_cast<uint32_t*>(target.GetDataPtr())[1] = 8;
    auto expectCause = [&](const std::vector<uint8_t>& bytes, CXArchiveException::Cause cause)
    {
        int built = g_Constructions;
        try
        {
            Load(target, bytes);
            ADD_FAILURE() << "accepted";
        }
        catch (const CXArchiveException& e)
        {
            EXPECT_EQ(e.GetCause(), cause) << e.what();
        }
        EXPECT_EQ(g_Constructions, built) << "elements were built before the header was checked";
        EXPECT_EQ(UInts(target), (std::vector<uint32_t>{0, 8}));
    };
    const CXRuntimeClass* pointClass = ZAN_RUNTIME_CLASS(CElemTestPointMethods);
    uint32_t tag = ZanTag("TPNT");

    // Size or tag other than the methods report.
    expectCause(Header(pointClass, 24, tag, 1, 16), CXArchiveException::_BadValue);
    expectCause(Header(pointClass, 32, ZanTag("3DPT"), 1, 16), CXArchiveException::_BadValue);
    expectCause(Header(nullptr, 4, ZanTag("UINT"), 0, 0), CXArchiveException::_BadValue);
    expectCause(Header(nullptr, 0, 0, 1, 16), CXArchiveException::_BadValue);

    // Counts the remaining bytes cannot hold, refused before anything is allocated.
    expectCause(Header(pointClass, 32, tag, 0x7FFFFFFF, 64), CXArchiveException::_BadCount);
    expectCause(Header(pointClass, 32, tag, 5, 79), CXArchiveException::_BadCount);
    expectCause(Header(pointClass, 32, tag, uint64_t(1) << 40, 64), CXArchiveException::_BadCount);
    expectCause(Header(ZAN_RUNTIME_CLASS(CUIntElementMethods), 4, ZanTag("UINT"), 1000, 3999),
                CXArchiveException::_BadCount);

    // Class records that are not element methods that can be created.
    expectCause(Header(ZAN_RUNTIME_CLASS(CElementArray), 0, 0, 0, 0),
                CXArchiveException::_BadClass);
    expectCause(Header(ZAN_RUNTIME_CLASS(CElementMethods), 0, 0, 0, 0),
                CXArchiveException::_BadClass);
    std::vector<uint8_t> unknown = Store(target);
    unknown[5] ^= 0x20; // a letter of the class name changes case
    expectCause(unknown, CXArchiveException::_BadClass);
}

} // namespace
