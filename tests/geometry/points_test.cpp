// Point types and point element methods: sizes and tags, conversions through C4DPoint, hash
// keys, and the bulk element operations against the single-element ones.
#include "common/zan_test_helpers.h"

#include <3dzan/geometry/points.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
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

CElementMethods* CreateMethods(const char* className)
{
    return dynamic_cast<CElementMethods*>(CXRuntimeClass::CreateObject(className));
}

CPt& PointAt(CElementArray& array, int index)
{
    return *static_cast<CPt*>(array.GetAt(index));
}

// Bytes of a whole element block.
std::vector<uint8_t> Block(const CElementArray& array)
{
    auto* bytes = static_cast<const uint8_t*>(array.GetDataPtr());
    return {bytes, bytes + size_t(array.GetSize()) * array.GetSizeOfElement()};
}

// Random flags and components set through the points' own virtual interface (bytes for
// colours), and random bookkeeping for extended 2D points.
void Randomize(CPt& point, std::mt19937& rng)
{
    bool colour = dynamic_cast<CVCPoint*>(&point) != nullptr;
    std::uniform_real_distribution<double> value(colour ? 0.0 : -1000.0, colour ? 256.0 : 1000.0);
    point = C4DPoint(4, value(rng), value(rng), value(rng), value(rng));
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
        CElementArray array(CreateMethods(c.m_ClassName));
        const CElementMethods* methods = array.GetMethods();
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
        array.SetSize(1);
        C4DPoint value(4, 7.0, 7.0, 7.0, 7.0);
        PointAt(array, 0).To4DPoint(value);
        EXPECT_EQ(PointAt(array, 0).GetFlags(), 0u);
        for (int i = 0; i < value.GetUsedCount(); ++i)
            EXPECT_EQ(value[i], c.m_Tag == ZanTag("VCPT") && i == 3 ? 255.0 : 0.0) << i;
    }
    // The base of the family is abstract: an archive naming it cannot create it.
    EXPECT_EQ(CXRuntimeClass::CreateObject("CPointMethods"), nullptr);
    C2DPointExtMethods ext;
    C2DPointMethods plain;
    EXPECT_TRUE(ext.IsKindOf(&plain));
    EXPECT_FALSE(plain.IsKindOf(&ext));
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
    CWeightPoint(0.25f).To4DPoint(back);
    EXPECT_EQ(back, C4DPoint(1, 0.25));
    C2DTPoint<float>(1, 2).To4DPoint(back);
    EXPECT_EQ(back, C4DPoint(2, 1, 2));

    // Planar texture coordinates: the zero component is dropped.
    const float uvw[][5] = {{0.5f, 0, 0.25f, 0.5f, 0.25f},
                            {0.5f, 0.75f, 0, 0.5f, 0.75f},
                            {0, 0.75f, 0.25f, 0.75f, 0.25f},
                            {0.1f, 0.2f, 0.3f, 0.1f, 0.2f}};
    for (const auto& c : uvw)
    {
        float a = -1, b = -1;
        CUVWPoint(c[0], c[1], c[2]).GetUVCoordinate(a, b);
        EXPECT_EQ(a, c[3]);
        EXPECT_EQ(b, c[4]);
    }

    // Integer points clamp and truncate toward zero instead of overflowing.
    C3DTPoint<int> ip;
    ip = C4DPoint(3, 1e12, -2.7, std::nan(""));
    EXPECT_EQ(ip, C3DTPoint<int>(INT_MAX, -2, 0));

    // Assignment through the base: same type copies everything, another type converts the
    // components and takes the flags; the assignment from a C4DPoint keeps the flags.
    CUVWPoint source(0.5f, 0.25f, 1.0f);
    source.SetFlags(0x52);
    C3DTVector<float> vec;
    CPt& target = vec;
    target = source;
    EXPECT_EQ(vec, C3DTVector<float>(0.5f, 0.25f, 1.0f));
    EXPECT_EQ(vec.GetFlags(), 0x52u);
    target = C4DPoint(3, 1, 1, 1);
    EXPECT_EQ(vec.GetFlags(), 0x52u);

    // An extended 2D point keeps its bookkeeping when a plain 2D point is assigned to it.
    C2DPointExt ext(1, 2);
    ext.m_Index = 42;
    C2DTPoint<float> plain(5, 6);
    plain.SetFlags(_PointBorder);
    static_cast<CPt&>(ext) = plain;
    EXPECT_EQ(ext.m_X, 5.0f);
    EXPECT_EQ(ext.m_Index, 42u);
    EXPECT_TRUE(ext.IsFlagSet(_PointBorder));

    EXPECT_THROW(source[3], CXInvalidArgException);
    EXPECT_THROW(back[-1], CXInvalidArgException);
    EXPECT_THROW(colour[4], CXInvalidArgException);
}

TEST(Points, FlagsVectorsAndHashKeys)
{
    C3DTPoint<float> p;
    p.SetFlags(_PointInvalid | _PointBorder, true);
    EXPECT_TRUE(p.IsOneFlagSet(_PointInner | _PointBorder));
    EXPECT_FALSE(p.IsFlagSet(_POINT_PROPERTIES(_PointInner | _PointBorder)));
    p.SetFlag(_PointInvalid, false);
    EXPECT_EQ(p.GetFlags(), 0x10u);

    C3DTVector<double> x(1, 0, 0), y(0, 1, 0);
    EXPECT_EQ(x.Cross(y), C3DTVector<double>(0, 0, 1));
    C3DTVector<float> v(3, 0, 4), zero;
    EXPECT_DOUBLE_EQ(v.Normalize(), 5.0);
    EXPECT_FLOAT_EQ(v.m_Z, 0.8f);
    EXPECT_EQ(zero.Normalize(), 0.0);
    EXPECT_EQ(zero, C3DTVector<float>());
    C3DTPoint<float> a(1, 2, 3), b(4, 6, 3);
    EXPECT_EQ(a + (b - a), b);

    EXPECT_EQ(C4DPoint(2, 1, 2) + C4DPoint(3, 1, 1, 1), C4DPoint(3, 2, 3, 1));
    EXPECT_EQ(C4DPoint(2, 6, 8) / C4DPoint(2, 2, 4) * 2.0, C4DPoint(2, 6, 4));
    EXPECT_EQ(C4DPoint(2, 1, 2, 99), C4DPoint(2, 1, 2)); // beyond the dimension
    EXPECT_NE(C4DPoint(2, 1, 2), C4DPoint(3, 1, 2));

    // Equal keys (0.0 and -0.0 included) must find each other in a hash map.
    CHashMap<C4DPoint, int> map;
    map.Insert(C4DPoint(3, 0.0, 1, 2), 1);
    map.Insert(C4DPoint(2, 0.0, 1, 7), 2);
    int found = 0;
    EXPECT_TRUE(map.Find(C4DPoint(3, -0.0, 1, 2), found));
    EXPECT_EQ(found, 1);
    EXPECT_TRUE(map.Find(C4DPoint(2, -0.0, 1), found));
    EXPECT_EQ(found, 2);
    EXPECT_FALSE(map.Find(C4DPoint(3, 0.0, 1, 3), found));
    CHashMap<CRGBColor, int> colours;
    colours.Insert(CRGBColor(192, 192, 192), 5);
    EXPECT_TRUE(colours.Find(CRGBColor(192, 192, 192, 255), found));
    EXPECT_FALSE(colours.Find(CRGBColor(192, 192, 192, 254), found));
}

TEST(PointMethods, BulkOperationsMatchTheSingleElementOnes)
{
    constexpr int kCount = 3000; // more than one staging batch of every type
    std::mt19937 rng(1234);
    for (const CMethodsCase& c : kCases)
    {
        SCOPED_TRACE(c.m_ClassName);
        CElementArray source(CreateMethods(c.m_ClassName));
        const CElementMethods& methods = *source.GetMethods();
        source.SetSize(kCount);
        for (int i = 0; i < kCount; ++i)
            Randomize(PointAt(source, i), rng);

        // Construction: the bulk path builds the same bytes as one element at a time.
        std::vector<uint8_t> single(size_t(kCount) * c.m_Slot, 0), bulk = single;
        for (int i = 0; i < kCount; ++i)
            methods.ConstructElement(single.data() + size_t(i) * c.m_Slot);
        methods.ConstructElements(bulk.data(), kCount);
        EXPECT_EQ(bulk, single);

        // Archive: bulk bytes are the per-point Serialize bytes, record by record, and loading
        // them either way rebuilds the points exactly (padding included).
        auto bytes = zantest::StoreToBytes(
            [&](CXArchive& ar) { methods.SerializeElements(ar, source.GetDataPtr(), kCount); });
        ASSERT_EQ(bytes.size(), size_t(kCount) * c.m_ArchiveBytes);
        EXPECT_EQ(bytes, zantest::StoreToBytes(
                             [&](CXArchive& ar)
                             {
                                 for (int i = 0; i < kCount; ++i)
                                     methods.SerializeElement(ar, source.GetAt(i));
                             }));
        for (bool perElement : {false, true})
        {
            CElementArray loaded(source);
            loaded.SetSize(0);
            loaded.SetSize(kCount);
            zantest::LoadFromBytes(bytes,
                                   [&](CXArchive& ar)
                                   {
                                       for (int i = 0; perElement && i < kCount; ++i)
                                           methods.SerializeElement(ar, loaded.GetAt(i));
                                       if (!perElement)
                                           methods.SerializeElements(ar, loaded.GetDataPtr(),
                                                                     kCount);
                                       EXPECT_EQ(ar.GetRemaining(), 0u);
                                   });
            EXPECT_EQ(Block(loaded), Block(source)) << perElement;
        }

        // Copies, bulk and single, give the source's bytes.
        CElementArray copied(source), copiedOne(source);
        copied.SetSize(0);
        copied.SetSize(kCount);
        methods.CopyElements(copied.GetDataPtr(), source.GetDataPtr(), kCount);
        EXPECT_EQ(Block(copied), Block(source));
        copiedOne.SetSize(0);
        copiedOne.SetSize(kCount);
        for (int i = 0; i < kCount; ++i)
            methods.CopyElement(copiedOne.GetAt(i), source.GetAt(i));
        EXPECT_EQ(Block(copiedOne), Block(source));

        // A short archive raises instead of reading past the end.
        bytes.pop_back();
        EXPECT_THROW(
            zantest::LoadFromBytes(bytes, [&](CXArchive& ar)
                                   { methods.SerializeElements(ar, copied.GetDataPtr(), kCount); }),
            CXArchiveException);
    }
}

TEST(PointMethods, ArchiveLayoutAndConversionBetweenTypes)
{
    // The record of a 3D point: flags, then x, y, z as little-endian IEEE floats.
    C3DPointMethods methods;
    C3DTPoint<float> p(1.0f, -2.0f, 0.5f);
    p.SetFlags(0x12);
    auto bytes =
        zantest::StoreToBytes([&](CXArchive& ar) { methods.SerializeElements(ar, &p, 1); });
    const std::vector<uint8_t> expected = {0x12, 0, 0, 0,    0, 0, 0x80, 0x3F,
                                           0,    0, 0, 0xC0, 0, 0, 0,    0x3F};
    EXPECT_EQ(bytes, expected);
    CRGBColor colour(1, 2, 3, 4);
    EXPECT_EQ(zantest::StoreToBytes([&](CXArchive& ar) { colour.Serialize(ar); }),
              (std::vector<uint8_t>{1, 2, 3, 4}));

    // Arrays of different point types convert element by element through C4DPoint.
    CElementArray points(new C3DPointMethods);
    points.SetSize(2);
    PointAt(points, 1) = C4DPoint(3, 0.5, 0.25, 0.125);
    PointAt(points, 1).SetFlags(0x40);
    CElementArray uvws(new CUVWPointMethods);
    ASSERT_TRUE(uvws.Copy(points, false));
    EXPECT_EQ(*static_cast<const CUVWPoint*>(uvws.GetAt(1)), CUVWPoint(0.5f, 0.25f, 0.125f));
    EXPECT_EQ(PointAt(uvws, 1).GetFlags(), 0x40u);
    // A point element copied onto a plain one is reset, not reinterpreted.
    CElementArray plain(new CUIntElementMethods);
    ASSERT_TRUE(plain.Copy(points, false));
    EXPECT_EQ(*static_cast<const uint32_t*>(plain.GetAt(1)), 0u);
}
