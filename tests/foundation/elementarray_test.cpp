// Element methods and element arrays: storage contract, construct/destruct balance, editing
// against a std::vector model, reordering against a reference, archives (round trips,
// malformed input) and checksums.
#include <3dzan/foundation/elementarray.h>
#include <3dzan/foundation/xarchive.h>

#include "common/zan_test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace
{
// ---------------------------------------------------------------- test element types

int g_LivePoints = 0;    // test points constructed and not yet destructed
int g_Constructions = 0; // test points ever constructed
int g_BadDestructs = 0;  // destructions of memory that did not hold a live test point

constexpr uint32_t kAlive = 0xA11FE5u;

struct PointValue
{
    uint32_t m_Flags = 0;
    float m_X = 0, m_Y = 0, m_Z = 0;
    bool operator==(const PointValue&) const = default;
};

PointValue MakeValue(uint32_t seed)
{
    return {seed * 2654435761u, float(seed) + 0.5f, -float(seed) * 0.25f, float(seed % 97)};
}

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
    explicit CTestPoint(const PointValue& value) : CTestPoint() { m_Value = value; }
    CTestPoint(const CTestPoint&) = delete;
    virtual ~CTestPoint()
    {
        g_BadDestructs += m_Alive != kAlive;
        m_Alive = 0;
        --g_LivePoints;
    }
    virtual CTestPoint& operator=(const CTestPoint& other)
    {
        m_Value = other.m_Value;
        return *this;
    }
    // Called on every element the tests read: a clobbered virtual table does not survive it.
    virtual uint32_t Kind() const { return 0x3D; }

    PointValue m_Value;
    uint32_t m_Alive = kAlive;
};
static_assert(sizeof(CTestPoint) == 32 && alignof(CTestPoint) <= 16);

CTestPoint* AsPoint(void* element)
{
    return static_cast<CTestPoint*>(element);
}

// Point methods with a bulk archive path that writes the values of a batch of points in one
// block: no virtual call per point.
class CElemTestPointMethods : public CElementMethods
{
    ZAN_DECLARE_DYNCREATE(CElemTestPointMethods)

public:
    using CElementMethods::CopyElement;
    bool IsObject() const override { return true; }
    unsigned GetSizeof() const override { return 32; }
    uint32_t GetType() const override { return ZanTag("TPNT"); }
    void ConstructElement(void* element) const override { new (element) CTestPoint; }
    void DestructElement(void* element) const override { AsPoint(element)->~CTestPoint(); }
    void CopyElement(void* dst, const void* src) const override
    {
        *AsPoint(dst) = *static_cast<const CTestPoint*>(src);
    }
    // One point at a time, field by field.
    void SerializeElement(CXArchive& ar, void* element) const override
    {
        PointValue& v = AsPoint(element)->m_Value;
        ZanSerialize(ar, v.m_Flags);
        ZanSerialize(ar, v.m_X);
        ZanSerialize(ar, v.m_Y);
        ZanSerialize(ar, v.m_Z);
    }
    unsigned GetArchiveSizeof() const override { return 16; }
    void SerializeElements(CXArchive& ar, void* first, size_t count) const override
    {
        CTestPoint* points = AsPoint(first);
        std::vector<PointValue> values(count);
        for (size_t i = 0; i < count && ar.IsStoring(); ++i)
            values[i] = points[i].m_Value;
        if (ar.IsStoring())
            ar.WriteArray(values.data(), count);
        else
            ar.ReadArray(values.data(), count);
        for (size_t i = 0; i < count && !ar.IsStoring(); ++i)
            points[i].m_Value = values[i];
    }
};
ZAN_IMPLEMENT_DYNCREATE(CElemTestPointMethods, CElementMethods)

// The same points archived one by one through SerializeElement (the base loop).
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
    void ConstructElement(void* element) const override
    {
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
    void CopyElement(void* dst, const CElementMethods* dstMethods, const void* src,
                     const CElementMethods* srcMethods) const override
    {
        if (dst && src && srcMethods && srcMethods->GetType() == ZanTag("DOUB"))
            *static_cast<float*>(dst) = float(*static_cast<const double*>(src));
        else
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

CElementMethods* NewPointMethods()
{
    return new CElemTestPointMethods;
}

const CTestPoint& PointAt(const CElementArray& array, int index)
{
    return *static_cast<const CTestPoint*>(array.GetAt(index));
}

void SetPoint(CElementArray& array, int index, const PointValue& v)
{
    CTestPoint point(v);
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
        for (const uint8_t* b = reinterpret_cast<const uint8_t*>(&p.m_Alive + 1); b < slot + 32;
             ++b)
            EXPECT_EQ(*b, 0) << "padding byte " << (b - slot) << " of element " << i;
        values.push_back(p.m_Value);
    }
    return values;
}

void FillPoints(CElementArray& array, int count, uint32_t seed = 0)
{
    ASSERT_TRUE(array.SetSize(count));
    for (int i = 0; i < count; ++i)
        SetPoint(array, i, MakeValue(seed + uint32_t(i)));
}

// The elements of a plain array (4 bytes each) or a slice of them.
std::vector<uint32_t> UInts(const CElementArray& array)
{
    std::vector<uint32_t> values(size_t(array.GetSize()));
    if (!values.empty())
        std::memcpy(values.data(), array.GetDataPtr(), values.size() * 4);
    return values;
}

template <class T> T* Data(CElementArray& array)
{
    return static_cast<T*>(array.GetDataPtr());
}

std::vector<uint8_t> Store(const CElementArray& array)
{
    return zantest::StoreToBytes([&](CXArchive& ar)
                                 { const_cast<CElementArray&>(array).Serialize(ar); });
}

// Loads \p bytes into \p array and checks that the archive was read to its last byte.
void Load(CElementArray& array, const std::vector<uint8_t>& bytes, size_t length = SIZE_MAX)
{
    zantest::LoadFromBytes(
        bytes,
        [&](CXArchive& ar)
        {
            array.Serialize(ar);
            EXPECT_EQ(ar.GetRemaining(), 0u);
        },
        length);
}

// Checks, for every test, that each constructed test point was destructed exactly once.
class ElementArrayTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(g_LivePoints, m_LiveAtStart) << "test points leaked or destructed twice";
        EXPECT_EQ(g_BadDestructs, m_BadAtStart) << "destruction of storage that held no point";
    }
    int Live() const { return g_LivePoints - m_LiveAtStart; }

    int m_LiveAtStart = g_LivePoints;
    int m_BadAtStart = g_BadDestructs;
};

// ---------------------------------------------------------------- element methods

TEST(ElementMethods, ClassesKindsAndTheFourArgumentCopy)
{
    std::unique_ptr<CXObject> object(CXRuntimeClass::CreateObject("CUIntElementMethods"));
    auto* uints = dynamic_cast<CElementMethods*>(object.get());
    ASSERT_NE(uints, nullptr);
    EXPECT_EQ(uints->GetType(), 0x55494E54u); // "UINT", first character most significant
    EXPECT_EQ(CXRuntimeClass::CreateObject("CElementMethods"), nullptr) << "the abstract base";

    CElemTestPointMethods points;
    CElemTestPointLoopMethods loopPoints;
    CDoubleElementMethods doubles;
    CElemTestFloatMethods floats;
    EXPECT_FALSE(points.IsTriviallyCopyable());
    EXPECT_EQ(points.CElementMethods::GetArchiveSizeof(), 1u) << "objects: one byte at least";
    EXPECT_TRUE(loopPoints.IsKindOf(&points));
    EXPECT_FALSE(points.IsKindOf(&loopPoints));
    EXPECT_FALSE(uints->IsKindOf(&doubles));
    EXPECT_FALSE(uints->IsKindOf(static_cast<const CElementMethods*>(nullptr)));

    // Same type: a copy; another type without a conversion, or no source: a reset.
    uint32_t dst = 5, src = 9;
    double value = 2.5;
    float f = 1.0f;
    uints->CopyElement(&dst, uints, &src, uints);
    EXPECT_EQ(dst, 9u);
    uints->CopyElement(&dst, uints, &value, &doubles);
    EXPECT_EQ(dst, 0u);
    dst = 5;
    uints->CopyElement(&dst, nullptr, nullptr, uints);
    EXPECT_EQ(dst, 0u);
    floats.CopyElement(&f, &floats, &value, &doubles);
    EXPECT_EQ(f, 2.5f);
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
        auto bulk = zantest::StoreToBytes([&](CXArchive& ar)
                                          { methods.SerializeElements(ar, src.data(), count); });
        auto loop = zantest::StoreToBytes(
            [&](CXArchive& ar)
            {
                for (size_t i = 0; i < count; ++i)
                    methods.SerializeElement(ar, &src[i]);
            });
        ASSERT_EQ(bulk.size(), count * 4);
        EXPECT_EQ(bulk, loop);
    }
}

TEST(ElementMethods, ChecksumsSkipTheVirtualTableAndFollowValuesAndOrder)
{
    CElemTestPointMethods methods;
    alignas(16) uint8_t a[32] = {}, b[32] = {};
    methods.ConstructElement(a);
    AsPoint(a)->m_Value.m_X = 3.0f;
    const size_t xOffset = size_t(reinterpret_cast<uint8_t*>(&AsPoint(a)->m_Value.m_X) - a);
    std::memcpy(b, a, 32);
    uint32_t original = methods.GetElementChecksum(a);
    // Another process would have another table address: only the value bytes may count.
    for (size_t i = 0; i < sizeof(void*); ++i)
        b[i] ^= 0xFF;
    EXPECT_EQ(methods.GetElementChecksum(b), original);
    b[xOffset] ^= 1;
    EXPECT_NE(methods.GetElementChecksum(b), original);
    methods.DestructElement(a);

    // An array's checksum follows each value and the order of the elements.
    CElementArray array(NewPointMethods());
    FillPoints(array, 40);
    const uint32_t checksum = array.GetChecksum();
    AsPoint(array.ElementAt(17))->m_Value.m_Z += 1.0f;
    EXPECT_NE(array.GetChecksum(), checksum);
    AsPoint(array.ElementAt(17))->m_Value.m_Z -= 1.0f;
    std::vector<unsigned> swap(40);
    for (unsigned i = 0; i < 40; ++i)
        swap[i] = i;
    std::swap(swap[3], swap[4]);
    ASSERT_TRUE(array.Reorder(swap.data(), 40, true));
    EXPECT_NE(array.GetChecksum(), checksum) << "the checksum must depend on the order";
    ASSERT_TRUE(array.Reorder(swap.data(), 40, true));
    EXPECT_EQ(array.GetChecksum(), checksum);
}

// ---------------------------------------------------------------- storage and lifetime

// Elements lie at the element stride in one block aligned on 16 bytes. Large blocks live in
// their own mappings; growth, shrinking and reordering move them in and out of that state
// and must keep every element.
TEST_F(ElementArrayTest, BlocksKeepTheirElementsAcrossEveryResize)
{
    constexpr uint32_t kLarge = 1'500'000; // 6 MB of 4-byte elements
    CElementArray array(new CUIntElementMethods);
    const void* block = nullptr;
    int relocations = 0;
    for (uint32_t i = 0; i < kLarge; ++i)
    {
        ASSERT_EQ(array.Add(&i), int(i));
        relocations += array.GetDataPtr() != std::exchange(block, array.GetDataPtr());
    }
    EXPECT_LT(relocations, 40) << "growth one at a time must be geometric";
    auto expectIota = [&](uint32_t count, uint32_t zerosAfter)
    {
        ASSERT_GE(uint32_t(array.GetSize()), count + zerosAfter);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(array.GetDataPtr()) % 16, 0u);
        for (uint32_t i = 0; i < count + zerosAfter; ++i)
            ASSERT_EQ(Data<uint32_t>(array)[i], i < count ? i : 0u) << i;
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
    CElementArray copy(array), loaded;
    Load(loaded, Store(copy));
    EXPECT_EQ(UInts(loaded), UInts(array));

    // Object elements in a mapped block, constructed as the block grows.
    CElementArray points(NewPointMethods());
    ASSERT_TRUE(points.PreAllocate(1000, true));
    FillPoints(points, 150'000); // 4.8 MB
    EXPECT_EQ(Live(), points.GetAllocatedSize());
    for (int i = 0; i < 150'000; ++i)
        ASSERT_EQ(points.ElementAt(i), Data<uint8_t>(points) + size_t(i) * 32);
    std::vector<PointValue> values = Points(points);
    ASSERT_TRUE(points.SetSize(1000, false));
    points.FreeExtra();
    EXPECT_EQ(Live(), 1000);
    values.resize(1000);
    EXPECT_EQ(Points(points), values);
}

// The edits of the model below check the balance after every step; here, the operations
// that make or drop whole arrays.
TEST_F(ElementArrayTest, CopiesDuplicatesAndReordersBalanceConstructionAndDestruction)
{
    {
        CElementArray array(NewPointMethods()), other(NewPointMethods());
        FillPoints(array, 50);
        FillPoints(other, 10, 500);
        ASSERT_TRUE(array.Copy(other));
        EXPECT_EQ(Live(), 20);
        EXPECT_EQ(array.Append(array), 10);
        EXPECT_EQ(Live(), 30);
        std::unique_ptr<CElementArray> dup(array.Duplicate(true)), empty(array.Duplicate(false));
        ASSERT_NE(dup, nullptr);
        EXPECT_EQ(Live(), 50);
        std::vector<unsigned> order = {3, 3, 3, 0, 19, 7};
        ASSERT_TRUE(array.Reorder(order.data(), unsigned(order.size()), false));
        EXPECT_EQ(Live(), 36); // 6 here, 10 in other, 20 in dup
        array.RemoveAll();
        EXPECT_EQ(Live(), 30);
        EXPECT_EQ(array.GetAllocatedSize(), 0);
        FillPoints(array, 5);

        // A gather with repeats copies through the methods; a bad index changes nothing.
        const unsigned picks[] = {9, 9, 0, 4};
        ASSERT_TRUE(array.CopyGather(1, other, picks, 4));
        EXPECT_EQ(Live(), 35);
        EXPECT_EQ(AsPoint(array.ElementAt(2))->m_Value, AsPoint(other.ElementAt(9))->m_Value);
        EXPECT_EQ(AsPoint(array.ElementAt(4))->m_Value, AsPoint(other.ElementAt(4))->m_Value);
        const unsigned bad[] = {1, 10};
        const PointValue before = AsPoint(array.ElementAt(0))->m_Value;
        EXPECT_FALSE(array.CopyGather(0, other, bad, 2));
        EXPECT_FALSE(array.CopyGather(4, other, picks, 2)) << "past the end";
        EXPECT_FALSE(array.CopyGather(0, array, picks, 1)) << "from itself";
        EXPECT_EQ(AsPoint(array.ElementAt(0))->m_Value, before);
    }
    EXPECT_EQ(Live(), 0);
}

// Edits in construct mode are checked by the model below; here, what only this mode does.
TEST_F(ElementArrayTest, ConstructModeKeepsSpareElementsConstructed)
{
    CElementArray array(NewPointMethods());
    ASSERT_TRUE(array.PreAllocate(100, true));
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(Live(), 100);
    int built = g_Constructions;
    FillPoints(array, 50);
    EXPECT_EQ(g_Constructions, built + 50) << "growing within the spares constructs nothing";
    ASSERT_TRUE(array.SetSize(150)); // grows the block: the new slots are constructed at once
    EXPECT_EQ(Live(), array.GetAllocatedSize());
    std::vector<unsigned> order(150);
    for (unsigned i = 0; i < 150; ++i)
        order[i] = 149 - i;
    ASSERT_TRUE(array.Reorder(order.data(), 150, true));
    EXPECT_EQ(Live(), array.GetAllocatedSize());
    ASSERT_TRUE(array.Reorder(order.data(), 110, false));
    EXPECT_EQ(Live(), array.GetAllocatedSize());
    std::vector<PointValue> values = Points(array);
    EXPECT_EQ(values[49], MakeValue(49));
    EXPECT_EQ(values[50], PointValue());

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
}

// ---------------------------------------------------------------- editing against a model

struct PointTraits
{
    using Value = PointValue;
    using Source = CTestPoint; // a source element living outside the array
    static constexpr bool kObjects = true;
    static CElementMethods* NewMethods() { return new CElemTestPointMethods; }
    static Value Make(uint32_t seed) { return MakeValue(seed); }
    static Value Default() { return {}; }
    static std::vector<Value> Read(const CElementArray& array) { return Points(array); }
};

struct IndexTraits
{
    using Value = uint32_t;
    using Source = uint32_t;
    static constexpr bool kObjects = false;
    static CElementMethods* NewMethods() { return new CElemTestIndexMethods; }
    static Value Make(uint32_t seed) { return seed * 7919u + 1; }
    static Value Default() { return kZanNone; }
    static std::vector<Value> Read(const CElementArray& array) { return UInts(array); }
};

// Random edits applied to an element array and to a std::vector; both must agree after each.
template <class TRAITS> void RunEditModel(bool constructMode, unsigned seed)
{
    using Value = typename TRAITS::Value;
    CElementArray array(TRAITS::NewMethods());
    std::vector<Value> model;
    const int live = g_LivePoints;
    ASSERT_TRUE(array.PreAllocate(constructMode ? 16 : 0, constructMode));
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    uint32_t next = 1;
    for (int step = 0; step < 1500; ++step)
    {
        int size = int(model.size());
        int op = pick(11);
        SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
        if (op == 0 || op == 3) // append, or set beyond the end, an outside value
        {
            Value v = TRAITS::Make(next++);
            typename TRAITS::Source src(v);
            int index = op == 0 ? size : size + pick(5);
            if (op == 0)
                ASSERT_EQ(array.Add(&src), size);
            else
                ASSERT_TRUE(array.SetAtGrow(index, &src));
            model.resize(size_t(std::max(index + 1, size)), TRAITS::Default());
            model[size_t(index)] = v;
        }
        else if (op == 2)
        {
            ASSERT_EQ(array.Add(), size);
            model.push_back(TRAITS::Default());
        }
        else if (op == 4) // insert copies of an own element (constructed ones when empty)
        {
            int index = pick(size + 1), count = pick(4), from = size ? pick(size) : -1;
            Value v = size ? model[size_t(from)] : TRAITS::Default();
            ASSERT_TRUE(array.InsertAt(index, size ? array.GetAt(from) : nullptr, count));
            model.insert(model.begin() + index, size_t(count), v);
        }
        else if (op == 7)
        {
            int newSize = pick(size + 20);
            ASSERT_TRUE(array.SetSize(newSize));
            model.resize(size_t(newSize), TRAITS::Default());
        }
        else if (op == 10 && pick(10) == 0)
        {
            array.FreeExtra();
            EXPECT_EQ(array.GetAllocatedSize(), array.GetSize());
        }
        else if (size && op != 10)
        {
            int dst = pick(size), from = pick(size);
            if (op == 1) // append a copy of one of its own elements (the block may move)
            {
                ASSERT_EQ(array.Add(array.GetAt(from)), size);
                model.push_back(model[size_t(from)]);
            }
            else if (op == 5)
            {
                int count = pick(std::min(4, size - dst) + 1);
                array.RemoveAt(dst, count);
                model.erase(model.begin() + dst, model.begin() + dst + count);
            }
            else if (op == 6 || op == 8) // set from another element of the same array
            {
                if (op == 6)
                    array.SetAt(dst, array.GetAt(from));
                else
                    ASSERT_TRUE(array.Copy(unsigned(dst), array, unsigned(from)));
                model[size_t(dst)] = model[size_t(from)];
            }
            else // op 9
            {
                array.SetAt(dst, nullptr);
                model[size_t(dst)] = TRAITS::Default();
            }
        }
        ASSERT_EQ(array.GetSize(), int(model.size()));
        ASSERT_EQ(TRAITS::Read(array), model);
        // Every slot of the block holds a point in construct mode (FreeExtra ends it), every
        // element otherwise.
        if constexpr (TRAITS::kObjects)
        {
            ASSERT_EQ(g_LivePoints - live,
                      array.IsConstructMode() ? array.GetAllocatedSize() : array.GetSize());
        }
    }
}

TEST_F(ElementArrayTest, EditsAgreeWithAVectorModel)
{
    for (unsigned seed : {1u, 2u, 3u})
    {
        SCOPED_TRACE("seed " + std::to_string(seed));
        for (bool constructMode : {false, true})
        {
            RunEditModel<PointTraits>(constructMode, seed);
            RunEditModel<IndexTraits>(constructMode, seed);
        }
        EXPECT_EQ(Live(), 0);
    }
}

TEST_F(ElementArrayTest, BadIndicesRaiseAndChangeNothing)
{
    CElementArray array(NewPointMethods()), other(NewPointMethods());
    FillPoints(array, 5);
    FillPoints(other, 2);
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
    EXPECT_FALSE(array.Copy(5, other, 0));
    EXPECT_FALSE(array.Copy(0, other, 2));
    EXPECT_EQ(Points(array), before);
    EXPECT_EQ(Live(), 8);
}

TEST(ElementArray, WithoutMethodsHoldsNothingUntilItGetsSome)
{
    CElementArray array;
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
    Data<uint32_t>(uints)[2] = 42;
    EXPECT_EQ(array.Append(uints), 0);
    EXPECT_EQ(array.GetMethods(), uints.GetMethods());
    EXPECT_EQ(UInts(array), (std::vector<uint32_t>{0, 0, 42}));
}

// ---------------------------------------------------------------- copies and methods

TEST_F(ElementArrayTest, CopyKeepsOrTakesTheMethodsAndConvertsOtherTypes)
{
    CElementArray src(NewPointMethods()), same(NewPointMethods());
    FillPoints(src, 12, 100);
    FillPoints(same, 30);
    CElementMethods* srcMethods = src.GetMethods();
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
    CElementArray doubles(new CDoubleElementMethods), floats(new CElemTestFloatMethods);
    ASSERT_TRUE(doubles.SetSize(4));
    for (int i = 0; i < 4; ++i)
        Data<double>(doubles)[i] = i * 1.5;
    ASSERT_TRUE(floats.Copy(doubles));
    ASSERT_EQ(floats.GetSize(), 4);
    EXPECT_EQ(Data<float>(floats)[3], 4.5f);
    ASSERT_TRUE(floats.Copy(1, doubles, 2));
    EXPECT_EQ(Data<float>(floats)[1], 3.0f);
    EXPECT_EQ(floats.Append(doubles), 4);
    EXPECT_EQ(Data<float>(floats)[7], 4.5f);

    // A type with no conversion resets the destination elements.
    CElementArray uints(new CUIntElementMethods);
    ASSERT_TRUE(uints.SetSize(2));
    Data<uint32_t>(uints)[0] = 77;
    ASSERT_TRUE(uints.Copy(doubles));
    EXPECT_EQ(UInts(uints), (std::vector<uint32_t>{0, 0, 0, 0}));
    // Taking another type's methods replaces the elements wholesale.
    ASSERT_TRUE(uints.Copy(src, true));
    EXPECT_EQ(Points(uints), Points(src));
    EXPECT_EQ(srcMethods->GetInstanceCount(), 3);
}

TEST_F(ElementArrayTest, DuplicatesCopiesAndMovesShareTheMethods)
{
    CElemTestDerivedArray array;
    ASSERT_TRUE(array.SetMethods(NewPointMethods()));
    FillPoints(array, 7);
    CElementMethods* methods = array.GetMethods();
    {
        std::unique_ptr<CElementArray> full(array.Duplicate(true));
        std::unique_ptr<CElementArray> empty(array.Duplicate(false));
        ASSERT_NE(full, nullptr);
        EXPECT_EQ(full->GetRuntimeClassDescriptor(), ZAN_RUNTIME_CLASS(CElemTestDerivedArray));
        EXPECT_EQ(full->GetMethods(), methods);
        EXPECT_EQ(methods->GetInstanceCount(), 3);
        EXPECT_EQ(Points(*full), Points(array));
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(empty->GetSize(), 0);
        SetPoint(*full, 0, MakeValue(999)); // the copy is independent of the original
        EXPECT_EQ(PointAt(array, 0).m_Value, MakeValue(0));
    }
    EXPECT_EQ(methods->GetInstanceCount(), 1);
    CElementArray copy(array);
    EXPECT_EQ(Points(copy), Points(array));
    CElementArray moved(std::move(copy));
    EXPECT_EQ(copy.GetSize(), 0);
    EXPECT_EQ(copy.GetMethods(), nullptr);
    EXPECT_EQ(moved.GetSize(), 7);
    EXPECT_EQ(methods->GetInstanceCount(), 2);

    // SetMethods keeps the bytes of the same type and size, and releases the old holder.
    std::vector<PointValue> before = Points(moved);
    const void* block = moved.GetDataPtr();
    methods->AddRef(); // watch it being released
    CElementMethods* replacement = new CElemTestPointLoopMethods;
    EXPECT_TRUE(moved.SetMethods(replacement));
    EXPECT_EQ(moved.GetDataPtr(), block);
    EXPECT_EQ(Points(moved), before);
    EXPECT_EQ(methods->GetInstanceCount(), 2);
    EXPECT_FALSE(methods->Delete());
    // Passing the methods it already has releases the caller's holder only.
    replacement->AddRef();
    EXPECT_TRUE(moved.SetMethods(replacement));
    EXPECT_EQ(replacement->GetInstanceCount(), 1);
    // Another type cannot read the bytes: the elements are destructed.
    EXPECT_FALSE(moved.SetMethods(new CUIntElementMethods));
    EXPECT_EQ(moved.GetSize(), 0);
    EXPECT_EQ(Live(), 7);
    ASSERT_TRUE(moved.SetSize(3));
    EXPECT_EQ(UInts(moved), (std::vector<uint32_t>{0, 0, 0}));
}

// ---------------------------------------------------------------- reordering

TEST_F(ElementArrayTest, ReorderAgreesWithAReference)
{
    auto gather = [](const auto& values, const std::vector<unsigned>& order)
    {
        std::remove_cvref_t<decltype(values)> out;
        for (unsigned index : order)
            out.push_back(values[index]);
        return out;
    };
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round)
    {
        int size = int(rng() % 300);
        CElementArray points(NewPointMethods()), indices(new CElemTestIndexMethods);
        FillPoints(points, size, uint32_t(round * 1000));
        ASSERT_TRUE(indices.SetSize(size));
        for (int i = 0; i < size; ++i)
            Data<uint32_t>(indices)[i] = uint32_t(i * 13 + round);
        // Checks one reorder of both arrays against the reference.
        auto reorder = [&](const std::vector<unsigned>& order, bool scatter)
        {
            const std::vector<PointValue> oldPoints = Points(points);
            const std::vector<uint32_t> oldIndices = UInts(indices);
            std::vector<PointValue> expectedPoints = oldPoints;
            std::vector<uint32_t> expectedIndices = oldIndices;
            if (scatter)
                for (size_t i = 0; i < order.size(); ++i)
                {
                    expectedPoints[order[i]] = oldPoints[i];
                    expectedIndices[order[i]] = oldIndices[i];
                }
            else
            {
                expectedPoints = gather(oldPoints, order);
                expectedIndices = gather(oldIndices, order);
            }
            ASSERT_TRUE(points.Reorder(order.data(), unsigned(order.size()), scatter));
            ASSERT_TRUE(indices.Reorder(order.data(), unsigned(order.size()), scatter));
            ASSERT_EQ(Points(points), expectedPoints);
            ASSERT_EQ(UInts(indices), expectedIndices);
            ASSERT_EQ(Live(), int(order.size()));
        };
        std::vector<unsigned> permutation(size_t(size), 0);
        for (int i = 0; i < size; ++i)
            permutation[size_t(i)] = unsigned(i);
        std::shuffle(permutation.begin(), permutation.end(), rng);
        reorder(permutation, true);
        // Gathers without repeats: a whole permutation, then a subset of distinct elements
        // (the rest must be destructed).
        std::shuffle(permutation.begin(), permutation.end(), rng);
        reorder(permutation, false);
        permutation.resize(permutation.size() / 2);
        reorder(permutation, false);
        if ((size = points.GetSize()) == 0)
            continue;
        // Gathers of other lengths, with repeats and with elements left out.
        std::vector<unsigned> order(rng() % 400);
        for (unsigned& index : order)
            index = unsigned(rng() % unsigned(size)) / (round % 3 == 0 ? 8 : 1);
        reorder(order, false);
    }
}

TEST_F(ElementArrayTest, InvalidOrdersAreRefusedWithNothingChanged)
{
    CElementArray array(NewPointMethods());
    FillPoints(array, 6);
    std::vector<PointValue> before = Points(array);
    const void* block = array.GetDataPtr();
    const std::pair<std::vector<unsigned>, bool> cases[] = {
        {{0, 1, 2, 3, 4, 6}, true},    // index out of range
        {{0, 1, 2, 3, 4, 4}, true},    // not a permutation
        {{0, 1, 2, 3, 4}, true},       // too short
        {{0, 1, 2, 3, 4, 5, 0}, true}, // too long
        {{5, 4, 6}, false},            // gather index out of range
        {{0, 1, kZanNone}, false}};
    for (const auto& [order, scatter] : cases)
    {
        EXPECT_FALSE(array.Reorder(order.data(), unsigned(order.size()), scatter));
        EXPECT_EQ(array.GetDataPtr(), block);
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

TEST_F(ElementArrayTest, RoundTripsThroughMemoryAndDisk)
{
    CElementArray points(NewPointMethods()), loopPoints(new CElemTestPointLoopMethods);
    FillPoints(points, 2500, 3);
    ASSERT_TRUE(loopPoints.Copy(points));
    CElementArray doubles(new CDoubleElementMethods), indices(new CElemTestIndexMethods);
    ASSERT_TRUE(doubles.SetSize(1000));
    for (int i = 0; i < 1000; ++i)
        Data<double>(doubles)[i] = 1.0 / (i + 1);
    ASSERT_TRUE(indices.SetSize(777));
    Data<uint32_t>(indices)[5] = 5;
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
        if (!source->GetMethods()->IsObject() && !source->IsEmpty())
        {
            EXPECT_EQ(0, std::memcmp(loaded.GetDataPtr(), source->GetDataPtr(),
                                     size_t(source->GetSize()) * source->GetSizeOfElement()));
        }
        EXPECT_EQ(loaded.GetChecksum(), source->GetChecksum());
        EXPECT_EQ(Store(loaded), bytes) << "store, load and store again must give the same bytes";
    }
    EXPECT_EQ(Points(points), Points(loopPoints));
    // The bulk point path writes exactly what one SerializeElement per point writes.
    std::vector<uint8_t> bulk = Store(points), loop = Store(loopPoints);
    const size_t payload = 2500 * 16;
    ASSERT_GT(std::min(bulk.size(), loop.size()), payload);
    EXPECT_TRUE(std::equal(bulk.end() - payload, bulk.end(), loop.end() - payload));

    // A disk file, and arrays that already held other elements.
    zantest::CTempDir dir;
    CElementArray first(new CUIntElementMethods), second(NewPointMethods());
    FillPoints(second, 10);
    ASSERT_TRUE(first.SetSize(100));
    ASSERT_TRUE(zantest::StoreToFile(dir.File("points.bin"),
                                     [&](CXArchive& ar)
                                     {
                                         points.Serialize(ar);
                                         doubles.Serialize(ar);
                                     }));
    ASSERT_TRUE(zantest::LoadFromFile(dir.File("points.bin"),
                                      [&](CXArchive& ar)
                                      {
                                          first.Serialize(ar);
                                          second.Serialize(ar);
                                      }));
    EXPECT_EQ(first.GetTypeOfElement(), ZanTag("TPNT"));
    EXPECT_EQ(Points(first), Points(points));
    EXPECT_EQ(second.GetTypeOfElement(), ZanTag("DOUB"));
    EXPECT_EQ(second.GetChecksum(), doubles.GetChecksum());
    EXPECT_EQ(Live(), 2500 * 3);
}

// Every proper prefix of a valid archive must be refused, leaving the target as it was.
TEST_F(ElementArrayTest, EveryTruncationRaisesAndLeavesTheTargetAsItWas)
{
    CElementArray points(NewPointMethods()), loopPoints(new CElemTestPointLoopMethods);
    FillPoints(points, 9, 40);
    ASSERT_TRUE(loopPoints.Copy(points));
    CElementArray uints(new CUIntElementMethods), indices(new CElemTestIndexMethods);
    ASSERT_TRUE(uints.SetSize(11));
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
            ASSERT_TRUE(zantest::ArchiveFails([&] { Load(target, bytes, length); }));
            ASSERT_EQ(target.GetMethods(), methods);
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
    Data<uint32_t>(target)[1] = 8;
    // A header written by hand (methods record, size, tag, count) and filler bytes.
    auto expectCause = [&](const CXRuntimeClass* methodsClass, uint32_t size, uint32_t tag,
                           uint64_t count, size_t extraBytes, CXArchiveException::Cause cause)
    {
        auto bytes = zantest::StoreToBytes(
            [&](CXArchive& ar)
            {
                ar.WriteClass(methodsClass);
                ar << size << tag;
                ar.WriteCount(count);
                std::vector<uint8_t> filler(extraBytes, 0x5A);
                if (!filler.empty())
                    ar.Write(filler.data(), filler.size());
            });
        int built = g_Constructions;
        EXPECT_TRUE(zantest::ArchiveFails([&] { Load(target, bytes); }, cause));
        EXPECT_EQ(g_Constructions, built) << "elements were built before the header was checked";
        EXPECT_EQ(UInts(target), (std::vector<uint32_t>{0, 8}));
    };
    const CXRuntimeClass* pointClass = ZAN_RUNTIME_CLASS(CElemTestPointMethods);
    const uint32_t tag = ZanTag("TPNT");
    using E = CXArchiveException;
    // Size or tag other than the methods report.
    expectCause(pointClass, 24, tag, 1, 16, E::_BadValue);
    expectCause(pointClass, 32, ZanTag("3DPT"), 1, 16, E::_BadValue);
    expectCause(nullptr, 4, ZanTag("UINT"), 0, 0, E::_BadValue);
    expectCause(nullptr, 0, 0, 1, 16, E::_BadValue);
    // Counts the remaining bytes cannot hold, refused before anything is allocated.
    expectCause(pointClass, 32, tag, 0x7FFFFFFF, 64, E::_BadCount);
    expectCause(pointClass, 32, tag, 5, 79, E::_BadCount);
    expectCause(pointClass, 32, tag, uint64_t(1) << 40, 64, E::_BadCount);
    expectCause(ZAN_RUNTIME_CLASS(CUIntElementMethods), 4, ZanTag("UINT"), 1000, 3999,
                E::_BadCount);
    // Class records that are not element methods that can be created.
    expectCause(ZAN_RUNTIME_CLASS(CElementArray), 0, 0, 0, 0, E::_BadClass);
    expectCause(ZAN_RUNTIME_CLASS(CElementMethods), 0, 0, 0, 0, E::_BadClass);
    std::vector<uint8_t> unknown = Store(target);
    unknown[5] ^= 0x20; // a letter of the class name changes case
    EXPECT_TRUE(zantest::ArchiveFails([&] { Load(target, unknown); }, E::_BadClass));
    EXPECT_EQ(UInts(target), (std::vector<uint32_t>{0, 8}));
}
} // namespace
