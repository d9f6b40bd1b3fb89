// Point types and point element methods: sizes and tags, conversions through C4DPoint, vector
// arithmetic, hash keys, and the bulk element operations against the single-element ones.
#include "common/zan_test_helpers.h"

#include <3dzan/geometry/points.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace
{
// What every point methods class must report.
struct CMethodsCase
{
    const char* m_ClassName;
    unsigned m_Slot;
    uint32_t m_Tag;
    unsigned m_ArchiveBytes;
    size_t m_ObjectSize;
};

const CMethodsCase kCases[] = {
    {"C2DPointMethods", 24, ZanTag("2DPT"), 12, sizeof(C2DTPoint<float>)},
    {"C2DPointExtMethods", 64, ZanTag("2DEX"), 32, sizeof(C2DPointExt)},
    {"C3DPointMethods", 32, ZanTag("3DPT"), 16, sizeof(C3DTPoint<float>)},
    {"C3DVectorMethods", 32, ZanTag("3DVE"), 16, sizeof(C3DTVector<float>)},
    {"CUVWPointMethods", 32, ZanTag("UVWP"), 16, sizeof(CUVWPoint)},
    {"CVCPointMethods", 24, ZanTag("VCPT"), 8, sizeof(CVCPoint)},
    {"CWeightPointMethods", 24, ZanTag("WGPT"), 8, sizeof(CWeightPoint)},
};

struct CMethodsDeleter
{
    void operator()(CElementMethods* methods) const { methods->Delete(); }
};
using CMethodsPtr = std::unique_ptr<CElementMethods, CMethodsDeleter>;

CMethodsPtr CreateMethods(const char* className)
{
    return CMethodsPtr(dynamic_cast<CElementMethods*>(CXRuntimeClass::CreateObject(className)));
}

// A zero-filled block of constructed points, as an element array keeps them.
class CPointBlock
{
public:
    CPointBlock(const CElementMethods& methods, size_t count)
        : m_Methods(methods), m_Count(count), m_Bytes(count * methods.GetSizeof() + 16, 0)
    {
        methods.ConstructElements(Data(), count);
    }
    ~CPointBlock() { m_Methods.DestructElements(Data(), m_Count); }
    CPointBlock(const CPointBlock&) = delete;
    CPointBlock& operator=(const CPointBlock&) = delete;

    // 16-byte aligned, as the element array's block.
    uint8_t* Data()
    {
        auto address = reinterpret_cast<uintptr_t>(m_Bytes.data());
        return m_Bytes.data() + ((16 - address % 16) % 16);
    }
    CPt& operator[](size_t i)
    {
        return *reinterpret_cast<CPt*>(Data() + i * m_Methods.GetSizeof());
    }
    size_t Size() const { return m_Count * m_Methods.GetSizeof(); }

private:
    const CElementMethods& m_Methods;
    size_t m_Count;
    std::vector<uint8_t> m_Bytes;
};

// Random flags and components, set through the points' own virtual interface; colours get
// values in the byte range, extended 2D points random bookkeeping too.
void Randomize(CPt& point, std::mt19937& rng)
{
    std::uniform_real_distribution<double> value(-1000.0, 1000.0);
    std::uniform_real_distribution<double> byte(0.0, 256.0);
    bool colour = dynamic_cast<CVCPoint*>(&point) != nullptr;
    auto pick = [&] { return colour ? byte(rng) : value(rng); };
    point = C4DPoint(4, pick(), pick(), pick(), pick());
    point.SetFlags(uint32_t(rng()));
    if (auto* ext = dynamic_cast<C2DPointExt*>(&point))
    {
        ext->m_Index = uint32_t(rng());
        ext->m_Prev = uint32_t(rng());
        ext->m_Next = uint32_t(rng());
        ext->m_Angle = float(value(rng));
        ext->m_Depth = float(value(rng));
    }
}
} // namespace

TEST(PointMethods, SizesTagsAndRuntimeClasses)
{
    for (const CMethodsCase& c : kCases)
    {
        SCOPED_TRACE(c.m_ClassName);
        CMethodsPtr methods = CreateMethods(c.m_ClassName);
        ASSERT_TRUE(methods);
        EXPECT_EQ(methods->GetSizeof(), c.m_Slot);
        EXPECT_LE(c.m_ObjectSize, c.m_Slot);
        EXPECT_EQ(methods->GetType(), c.m_Tag);
        EXPECT_EQ(methods->GetBaseType(), 0x504E5453u); // "PNTS"
        EXPECT_TRUE(methods->IsObject());
        EXPECT_FALSE(methods->IsTriviallyCopyable());
        EXPECT_EQ(methods->GetArchiveSizeof(), c.m_ArchiveBytes);
        EXPECT_TRUE(methods->IsKindOf(ZAN_RUNTIME_CLASS(CPointMethods)));

        // A new element: flags 0, zero components (opaque black for colours).
        CPointBlock block(*methods, 1);
        C4DPoint value(4, 7.0, 7.0, 7.0, 7.0);
        block[0].To4DPoint(value);
        EXPECT_EQ(block[0].GetFlags(), 0u);
        for (int i = 0; i < value.GetUsedCount(); ++i)
            EXPECT_EQ(value[i], c.m_Tag == ZanTag("VCPT") && i == 3 ? 255.0 : 0.0) << i;
    }
    EXPECT_EQ(ZanTag("3DPT"), 0x33445054u);
    // The base of the family is abstract: an archive naming it cannot create it.
    EXPECT_EQ(CXRuntimeClass::CreateObject("CPointMethods"), nullptr);
    CMethodsPtr ext = CreateMethods("C2DPointExtMethods");
    CMethodsPtr plain = CreateMethods("C2DPointMethods");
    EXPECT_TRUE(ext->IsKindOf(plain.get()));
    EXPECT_FALSE(plain->IsKindOf(ext.get()));
    EXPECT_EQ(sizeof(CRGBColor), 4u);
}

TEST(Points, ConversionsThroughC4DPoint)
{
    // Colours truncate toward zero after clamping to a byte.
    CVCPoint colour;
    colour = C4DPoint(4, 255.9, 0, 128.5, 255);
    EXPECT_EQ(colour.GetColor(), CRGBColor(255, 0, 128, 255));
    colour = C4DPoint(4, -3.0, 300.0, std::nan(""), 0.999);
    EXPECT_EQ(colour.GetColor(), CRGBColor(0, 255, 0, 0));
    C4DPoint back;
    colour.SetColor(CRGBColor(1, 2, 3, 4));
    colour.To4DPoint(back);
    EXPECT_EQ(back, C4DPoint(4, 1, 2, 3, 4));

    // Planar texture coordinates: the zero component is dropped.
    float a = -1, b = -1;
    CUVWPoint(0.5f, 0, 0.25f).GetUVCoordinate(a, b);
    EXPECT_EQ(a, 0.5f);
    EXPECT_EQ(b, 0.25f);
    CUVWPoint(0.5f, 0.75f, 0).GetUVCoordinate(a, b);
    EXPECT_EQ(a, 0.5f);
    EXPECT_EQ(b, 0.75f);
    CUVWPoint(0, 0.75f, 0.25f).GetUVCoordinate(a, b);
    EXPECT_EQ(a, 0.75f);
    EXPECT_EQ(b, 0.25f);
    CUVWPoint(0.1f, 0.2f, 0.3f).GetUVCoordinate(a, b);
    EXPECT_EQ(a, 0.1f);
    EXPECT_EQ(b, 0.2f);

    // Dimensions of the exchange value.
    C4DPoint v;
    CWeightPoint(0.25f).To4DPoint(v);
    EXPECT_EQ(v, C4DPoint(1, 0.25));
    C3DTPoint<float>(1, 2, 3).To4DPoint(v);
    EXPECT_EQ(v, C4DPoint(3, 1, 2, 3));
    C2DTPoint<float>(1, 2).To4DPoint(v);
    EXPECT_EQ(v, C4DPoint(2, 1, 2));

    // Integer points clamp and truncate toward zero instead of overflowing.
    C3DTPoint<int> ip;
    ip = C4DPoint(3, 1e12, -2.7, std::nan(""));
    EXPECT_EQ(ip, C3DTPoint<int>(INT_MAX, -2, 0));

    // Assignment through the base: same type copies everything, another type converts the
    // components and takes the flags; the assignment from a C4DPoint keeps the flags.
    CUVWPoint uvw(0.5f, 0.25f, 1.0f);
    uvw.SetFlags(0x52);
    C3DTVector<float> vec;
    CPt& target = vec;
    target = uvw;
    EXPECT_EQ(vec, C3DTVector<float>(0.5f, 0.25f, 1.0f));
    EXPECT_EQ(vec.GetFlags(), 0x52u);
    C3DTVector<float> other(9, 8, 7);
    other.SetFlags(0x10);
    target = other;
    EXPECT_EQ(vec, other);
    EXPECT_EQ(vec.GetFlags(), 0x10u);
    target = C4DPoint(3, 1, 1, 1);
    EXPECT_EQ(vec.GetFlags(), 0x10u);

    // An extended 2D point keeps its bookkeeping when a plain 2D point is assigned to it.
    C2DPointExt ext(1, 2);
    ext.m_Index = 42;
    ext.m_Next = 7;
    C2DTPoint<float> plain(5, 6);
    plain.SetFlags(_PointBorder);
    static_cast<CPt&>(ext) = plain;
    EXPECT_EQ(ext.m_X, 5.0f);
    EXPECT_EQ(ext.m_Index, 42u);
    EXPECT_EQ(ext.m_Next, 7u);
    EXPECT_TRUE(ext.IsFlagSet(_PointBorder));
    C2DPointExt copy;
    static_cast<CPt&>(copy) = ext;
    EXPECT_EQ(copy.m_Index, 42u);

    EXPECT_THROW(uvw[3], CXInvalidArgException);
    EXPECT_THROW(v[-1], CXInvalidArgException);
    EXPECT_THROW(colour[4], CXInvalidArgException);
}

TEST(Points, FlagsVectorsAndHashKeys)
{
    C3DTPoint<float> p;
    p.SetFlags(_PointInvalid | _PointBorder, true);
    EXPECT_TRUE(p.IsFlagSet(_PointInvalid));
    EXPECT_FALSE(p.IsFlagSet(_PointInner));
    EXPECT_TRUE(p.IsOneFlagSet(_PointInner | _PointBorder));
    EXPECT_FALSE(p.IsOneFlagSet(_PointInner | _PointNearBorder));
    p.SetFlag(_PointInvalid, false);
    EXPECT_EQ(p.GetFlags(), 0x10u);

    C3DTVector<double> x(1, 0, 0), y(0, 1, 0);
    EXPECT_EQ(x.Cross(y), C3DTVector<double>(0, 0, 1));
    EXPECT_EQ(y.Cross(x), C3DTVector<double>(0, 0, -1));
    C3DTVector<float> v(3, 0, 4);
    EXPECT_DOUBLE_EQ(v.GetLength(), 5.0);
    EXPECT_DOUBLE_EQ(v.Normalize(), 5.0);
    EXPECT_FLOAT_EQ(v.m_X, 0.6f);
    EXPECT_FLOAT_EQ(v.m_Z, 0.8f);
    C3DTVector<float> zero;
    EXPECT_EQ(zero.Normalize(), 0.0);
    EXPECT_EQ(zero, C3DTVector<float>());
    EXPECT_NEAR((v * 2.0f).Dot(v), 2.0, 1e-6);
    C3DTPoint<float> a(1, 2, 3), b(4, 6, 3);
    EXPECT_EQ(b - a, C3DTVector<float>(3, 4, 0));
    EXPECT_EQ(a + (b - a), b);

    C4DPoint s = C4DPoint(2, 1, 2) + C4DPoint(3, 1, 1, 1);
    EXPECT_EQ(s, C4DPoint(3, 2, 3, 1));
    EXPECT_EQ(s * 2.0 / 4.0, C4DPoint(3, 1, 1.5, 0.5));
    EXPECT_EQ(C4DPoint(2, 6, 8) / C4DPoint(2, 2, 4), C4DPoint(2, 3, 2));
    // Components beyond the dimension do not take part in equality.
    C4DPoint loose(2, 1, 2, 99);
    EXPECT_EQ(loose, C4DPoint(2, 1, 2));
    EXPECT_NE(C4DPoint(2, 1, 2), C4DPoint(3, 1, 2));

    // Equal keys (0.0 and -0.0 included) must find each other in a hash map.
    CHashMethods<C4DPoint> hash;
    EXPECT_EQ(hash.Hash(C4DPoint(2, 0.0, 1)), hash.Hash(C4DPoint(2, -0.0, 1)));
    EXPECT_EQ(hash.Hash(loose), hash.Hash(C4DPoint(2, 1, 2)));
    CHashMap<C4DPoint, int> map;
    map.Insert(C4DPoint(3, 0.0, 1, 2), 1);
    map.Insert(C4DPoint(2, 0.0, 1), 2);
    int found = 0;
    EXPECT_TRUE(map.Find(C4DPoint(3, -0.0, 1, 2), found));
    EXPECT_EQ(found, 1);
    EXPECT_FALSE(map.Find(C4DPoint(3, 0.0, 1, 3), found));

    CHashMap<CRGBColor, int> colours;
    colours.Insert(CRGBColor(192, 192, 192), 5);
    EXPECT_TRUE(colours.Find(CRGBColor(192, 192, 192, 255), found));
    EXPECT_FALSE(colours.Find(CRGBColor(192, 192, 192, 254), found));
}

TEST(PointMethods, BulkOperationsMatchTheSingleElementOnes)
{
    constexpr size_t kCount = 3000; // more than one staging batch of every type
    std::mt19937 rng(1234);
    for (const CMethodsCase& c : kCases)
    {
        SCOPED_TRACE(c.m_ClassName);
        CMethodsPtr methods = CreateMethods(c.m_ClassName);
        CPointBlock source(*methods, kCount);
        for (size_t i = 0; i < kCount; ++i)
            Randomize(source[i], rng);

        // Construction: the bulk path builds the same bytes as one element at a time.
        CPointBlock bulk(*methods, kCount);
        std::vector<uint8_t> single(bulk.Size() + 16, 0);
        for (size_t i = 0; i < kCount; ++i)
            methods->ConstructElement(single.data() + i * c.m_Slot);
        EXPECT_EQ(std::memcmp(bulk.Data(), single.data(), bulk.Size()), 0);

        // Archive: bulk bytes are the per-point Serialize bytes, record by record.
        auto bulkBytes = zantest::StoreToBytes(
            [&](CXArchive& ar) { methods->SerializeElements(ar, source.Data(), kCount); });
        auto singleBytes = zantest::StoreToBytes(
            [&](CXArchive& ar)
            {
                for (size_t i = 0; i < kCount; ++i)
                    methods->SerializeElement(ar, &source[i]);
            });
        ASSERT_EQ(bulkBytes.size(), kCount * c.m_ArchiveBytes);
        EXPECT_EQ(bulkBytes, singleBytes);

        // Loading either way rebuilds the points exactly (padding included).
        CPointBlock loaded(*methods, kCount);
        zantest::LoadFromBytes(bulkBytes,
                               [&](CXArchive& ar)
                               {
                                   methods->SerializeElements(ar, loaded.Data(), kCount);
                                   EXPECT_EQ(ar.GetRemaining(), 0u);
                               });
        EXPECT_EQ(std::memcmp(loaded.Data(), source.Data(), source.Size()), 0);
        CPointBlock loadedOne(*methods, kCount);
        zantest::LoadFromBytes(bulkBytes,
                               [&](CXArchive& ar)
                               {
                                   for (size_t i = 0; i < kCount; ++i)
                                       methods->SerializeElement(ar, &loadedOne[i]);
                               });
        EXPECT_EQ(std::memcmp(loadedOne.Data(), source.Data(), source.Size()), 0);

        // Copies: bulk and single give the source's bytes.
        CPointBlock copied(*methods, kCount);
        methods->CopyElements(copied.Data(), source.Data(), kCount);
        EXPECT_EQ(std::memcmp(copied.Data(), source.Data(), source.Size()), 0);
        CPointBlock copiedOne(*methods, kCount);
        for (size_t i = 0; i < kCount; ++i)
            methods->CopyElement(&copiedOne[i], &source[i]);
        EXPECT_EQ(std::memcmp(copiedOne.Data(), source.Data(), source.Size()), 0);

        // A short archive raises instead of reading past the end.
        bulkBytes.resize(bulkBytes.size() - 1);
        CPointBlock partial(*methods, kCount);
        EXPECT_THROW(
            zantest::LoadFromBytes(bulkBytes, [&](CXArchive& ar)
                                   { methods->SerializeElements(ar, partial.Data(), kCount); }),
            CXArchiveException);
    }
}

TEST(PointMethods, ArchiveLayoutAndConversionBetweenTypes)
{
    // The record of a 3D point: flags, then x, y, z as little-endian IEEE floats.
    CMethodsPtr methods = CreateMethods("C3DPointMethods");
    C3DTPoint<float> p(1.0f, -2.0f, 0.5f);
    p.SetFlags(0x12);
    auto bytes =
        zantest::StoreToBytes([&](CXArchive& ar) { methods->SerializeElements(ar, &p, 1); });
    const std::vector<uint8_t> expected = {0x12, 0, 0, 0,    0, 0, 0x80, 0x3F,
                                           0,    0, 0, 0xC0, 0, 0, 0,    0x3F};
    EXPECT_EQ(bytes, expected);
    CRGBColor colour(1, 2, 3, 4);
    EXPECT_EQ(zantest::StoreToBytes([&](CXArchive& ar) { colour.Serialize(ar); }),
              (std::vector<uint8_t>{1, 2, 3, 4}));

    // Arrays of different point types convert element by element through C4DPoint.
    CElementArray points(new C3DPointMethods);
    points.SetSize(2);
    static_cast<CPt*>(points.GetAt(1))->operator=(C4DPoint(3, 0.5, 0.25, 0.125));
    static_cast<CPt*>(points.GetAt(1))->SetFlags(0x40);
    CElementArray uvws(new CUVWPointMethods);
    ASSERT_TRUE(uvws.Copy(points, false));
    ASSERT_EQ(uvws.GetSize(), 2);
    const auto* uvw = static_cast<const CUVWPoint*>(uvws.GetAt(1));
    EXPECT_EQ(*uvw, CUVWPoint(0.5f, 0.25f, 0.125f));
    EXPECT_EQ(uvw->GetFlags(), 0x40u);
    // A point element copied onto a plain one (and back) is reset, not reinterpreted.
    CElementArray plain(new CUIntElementMethods);
    ASSERT_TRUE(plain.Copy(points, false));
    EXPECT_EQ(*static_cast<const uint32_t*>(plain.GetAt(1)), 0u);
}
