// Data chunks follow their list: sizing, copies, reorders, archives.
#include "common/zan_test_helpers.h"

#include <3dzan/geometry/datachunk.h>
#include <3dzan/geometry/elementmethods.h>

#include <gtest/gtest.h>

namespace
{
const unsigned kOrin = ZanTag("POOI");
const unsigned kBack = ZanTag("BKMT");
const unsigned kProp = ZanTag("FCPR");
const unsigned kHost = ZanTag("MXDT");

unsigned U32(const CDataChunk& set, unsigned id, unsigned index)
{
    const void* p = set.GetData(id, index);
    return p ? *static_cast<const unsigned*>(p) : 0xDEADu;
}

void SetU32(CDataChunk& set, unsigned id, unsigned index, unsigned value)
{
    *static_cast<unsigned*>(set.GetData(id, index)) = value;
}

// Every chunk holds exactly the set's element count.
void ExpectParallel(const CDataChunk& set)
{
    for (unsigned pos = set.GetFirstChunk(); pos != kZanNone;)
    {
        unsigned id;
        set.GetNextChunk(pos, id);
        EXPECT_EQ(unsigned(set.GetData(id)->GetSize()), set.GetDataSize()) << id;
    }
}

// A set of 10 elements with an original-index chunk 0..9, a property chunk (main, not
// following copies beyond its flag) and a back-face chunk added without the follow flag.
void MakeSet(CDataChunk& set)
{
    set.SetDataSize(10, false, kZanNone);
    set.AddDataChunk(kOrin, new COriginalIndexMethods, 0x101);
    set.AddDataChunk(kProp, new C3DFacePropertyMethods, 0x103);
    set.AddDataChunk(kBack, new CBackFaceMaterialMethods, 0x100);
    for (unsigned i = 0; i < 10; ++i)
    {
        SetU32(set, kOrin, i, i);
        SetU32(set, kProp, i, 100 + i);
        SetU32(set, kBack, i, 200 + i);
    }
}
} // namespace

TEST(DataChunk, NewChunksAreConstructedAndReAddingKeepsMatchingData)
{
    CDataChunk set;
    set.SetDataSize(10, false, kZanNone);
    EXPECT_EQ(set.AddDataChunk(kOrin, new COriginalIndexMethods, 0x101), 1u);
    for (unsigned i = 0; i < 10; ++i)
        EXPECT_EQ(U32(set, kOrin, i), 0xFFFFFFFFu);
    EXPECT_EQ(set.GetData(kOrin, 10), nullptr);
    SetU32(set, kOrin, 3, 7);

    // Same type and size: the values stay, the flags change.
    set.AddDataChunk(kOrin, new COriginalIndexMethods, 0x001);
    EXPECT_EQ(U32(set, kOrin, 3), 7u);
    EXPECT_EQ(set.GetChunkFlags(kOrin), 0x01u);
    // Forced replacement, or another type of the same size: values reset.
    set.AddDataChunk(kOrin, new COriginalIndexMethods, 0x101 | _ChunkReplace);
    EXPECT_EQ(U32(set, kOrin, 3), 0xFFFFFFFFu);
    SetU32(set, kOrin, 3, 7);
    set.AddDataChunk(kOrin, new CMaxFaceMethods, 0x101);
    EXPECT_EQ(U32(set, kOrin, 3), 0u);
    EXPECT_EQ(set.GetSizeOfDataChunk(kOrin), 4u);
    EXPECT_EQ(set.GetChunksNbr(), 1u);
    EXPECT_EQ(set.AddDataChunk(kHost, nullptr, 0x101), 1u);
}

TEST(DataChunk, SizingGrowsWithConstructedElementsAndShrinksTheTail)
{
    CDataChunk set;
    MakeSet(set);
    set.SetDataSize(15, true, kZanNone);
    ExpectParallel(set);
    EXPECT_EQ(U32(set, kOrin, 9), 9u);
    for (unsigned i = 10; i < 15; ++i)
    {
        EXPECT_EQ(U32(set, kOrin, i), 0xFFFFFFFFu);
        EXPECT_EQ(U32(set, kProp, i), 0u);
    }
    set.SetDataSize(5, true, kZanNone);
    ExpectParallel(set);
    EXPECT_EQ(U32(set, kBack, 4), 204u);
    EXPECT_EQ(set.GetData(kBack, 5), nullptr);
    set.ExpandDataSize(3);
    ExpectParallel(set);
    EXPECT_EQ(U32(set, kBack, 7), 0xFFFFFFFFu);

    set.PreAllocate(100, true);
    EXPECT_EQ(set.GetDataSize(), 0u);
    EXPECT_EQ(set.GetChunksNbr(), 3u);
    set.SetDataSize(50, true, kZanNone);
    ExpectParallel(set);
    EXPECT_EQ(U32(set, kOrin, 49), 0xFFFFFFFFu);
}

TEST(DataChunk, MainChunkFollowsAddAndRemove)
{
    CDataChunk set;
    MakeSet(set);
    EXPECT_EQ(set.GetMainChunkID(), kProp);
    ASSERT_NE(set.GetMainData(2), nullptr);
    EXPECT_EQ(*static_cast<const unsigned*>(set.GetMainData(2)), 102u);
    EXPECT_EQ(set.GetMainData(10), nullptr);
    EXPECT_TRUE(set.RemoveDataChunk(kProp));
    EXPECT_FALSE(set.RemoveDataChunk(kProp));
    EXPECT_EQ(set.GetMainData(0), nullptr);
    EXPECT_EQ(set.GetMainChunkID(), kZanNone);
}

TEST(DataChunk, CopiesTakeOnlyWhatFollowsThem)
{
    CDataChunk source;
    MakeSet(source);

    // The structure without the elements, and without the chunk that stays home.
    CDataChunk model;
    model.InitDataChunks(source, kZanNone);
    EXPECT_EQ(model.GetDataSize(), 0u);
    EXPECT_TRUE(model.HasDataChunk(kOrin));
    EXPECT_TRUE(model.HasDataChunk(kProp));
    EXPECT_FALSE(model.HasDataChunk(kBack));
    EXPECT_EQ(model.GetMainChunkID(), kProp);
    model.InitDataChunks(source, 4);
    ExpectParallel(model);

    // A full copy removes what the source lacks and keeps ids, flags and values.
    CDataChunk target;
    target.SetDataSize(3, false, kZanNone);
    target.AddDataChunk(kHost, new CMaxFaceMethods, 0x101);
    CDataChunk partial;
    partial.SetDataSize(10, false, kZanNone);
    partial.AddDataChunk(kOrin, new COriginalIndexMethods, 0x101);
    EXPECT_EQ(target.CopyData(partial), 1u);
    EXPECT_FALSE(target.HasDataChunk(kHost));
    EXPECT_EQ(target.CopyData(source), 2u); // the back-face chunk does not follow copies
    ExpectParallel(target);
    EXPECT_FALSE(target.HasDataChunk(kBack));
    EXPECT_EQ(U32(target, kOrin, 6), 6u);
    EXPECT_EQ(*static_cast<const unsigned*>(target.GetMainData(6)), 106u);

    // Element copies touch the chunks both sets have.
    SetU32(target, kOrin, 0, 77);
    EXPECT_EQ(source.CopyData(1, 0, target), 2u);
    EXPECT_EQ(U32(source, kOrin, 1), 77u);
    EXPECT_EQ(U32(source, kBack, 1), 201u);
    EXPECT_EQ(source.CopyData(10, 0, target), 0u);

    // Appending adds the missing chunks cut or padded to this set's count.
    CDataChunk small;
    small.SetDataSize(12, false, kZanNone);
    small.AddDataChunk(kHost, new CMaxFaceMethods, 0x101);
    small.AppendDataChunks(source, false);
    ExpectParallel(small);
    EXPECT_EQ(U32(small, kOrin, 9), 9u);
    EXPECT_EQ(U32(small, kOrin, 11), 0xFFFFFFFFu);
    EXPECT_FALSE(small.HasDataChunk(kBack));
}

TEST(DataChunk, ReorderMovesEveryChunkAlike)
{
    CDataChunk set;
    MakeSet(set);
    std::vector<unsigned> order = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    ASSERT_TRUE(set.Reorder(order.data(), 10, false));
    for (unsigned i = 0; i < 10; ++i)
    {
        EXPECT_EQ(U32(set, kOrin, i), 9 - i);
        EXPECT_EQ(U32(set, kBack, i), 209 - i);
    }
    std::vector<unsigned> pick = {2, 2, 5};
    ASSERT_TRUE(set.Reorder(pick.data(), 3, false));
    EXPECT_EQ(set.GetDataSize(), 3u);
    ExpectParallel(set);
    EXPECT_EQ(U32(set, kProp, 1), 107u);
    std::vector<unsigned> bad = {0, 0, 1};
    EXPECT_FALSE(set.Reorder(bad.data(), 3, true)); // not a permutation
    EXPECT_EQ(U32(set, kProp, 2), 104u);
}

TEST(DataChunk, ArchiveKeepsIdsFlagsCountsValuesAndTheMainChunk)
{
    CDataChunk set;
    MakeSet(set);
    CDataChunk loaded;
    auto bytes = zantest::RoundTrip(set, loaded);
    EXPECT_EQ(loaded.GetDataSize(), 10u);
    EXPECT_EQ(loaded.GetChunksNbr(), 3u);
    EXPECT_EQ(loaded.GetMainChunkID(), kProp);
    for (unsigned id : {kOrin, kProp, kBack})
    {
        EXPECT_EQ(loaded.GetChunkFlags(id), set.GetChunkFlags(id));
        EXPECT_EQ(loaded.GetSizeOfDataChunk(id), set.GetSizeOfDataChunk(id));
        for (unsigned i = 0; i < 10; ++i)
            EXPECT_EQ(U32(loaded, id, i), U32(set, id, i));
    }
    EXPECT_EQ(zantest::StoreToBytes([&](CXArchive& ar) { loaded.Serialize(ar); }), bytes);

    // Every truncation is refused and leaves the target as it was.
    for (size_t n = 0; n < bytes.size(); n += 3)
    {
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + long(n));
        CDataChunk target;
        MakeSet(target);
        SetU32(target, kOrin, 0, 42);
        EXPECT_THROW(zantest::LoadFromBytes(prefix, [&](CXArchive& ar) { target.Serialize(ar); }),
                     CXArchiveException)
            << n;
        EXPECT_EQ(target.GetChunksNbr(), 3u);
        EXPECT_EQ(U32(target, kOrin, 0), 42u);
    }
}

TEST(DataChunk, MalformedSetsAreRefused)
{
    // A chunk whose array is shorter than the set.
    auto shortChunk = zantest::StoreToBytes([](CXArchive& ar) {
        ar << 1u << 5u << 0xFFFFFFFFu << ZanTag("POOI") << 1u << 0u;
        CElementArray array(new COriginalIndexMethods);
        array.SetSize(4);
        array.Serialize(ar);
    });
    // Two main chunks, and a chunk count far beyond the bytes.
    auto twoMains = zantest::StoreToBytes([](CXArchive& ar) {
        ar << 2u << 1u << 0xFFFFFFFFu;
        for (unsigned id : {ZanTag("AAAA"), ZanTag("BBBB")})
        {
            ar << id << 3u << 0u;
            CElementArray array(new CFacePropertyMethods);
            array.SetSize(1);
            array.Serialize(ar);
        }
    });
    auto huge = zantest::StoreToBytes([](CXArchive& ar) { ar << 0x7FFFFFFFu << 0u << 0u; });
    for (const auto& bytes : {shortChunk, twoMains, huge})
    {
        CDataChunk target;
        EXPECT_THROW(zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { target.Serialize(ar); }),
                     CXArchiveException);
        EXPECT_EQ(target.GetChunksNbr(), 0u);
    }
}

TEST(ElementMethods, PlainColumnsHaveTheirSizesTagsAndInitialValues)
{
    struct Expected
    {
        const char* name;
        unsigned size;
        const char (&type)[5];
        const char (&base)[5];
        uint8_t fill;
    };
    const Expected table[] = {
        {"COriginalIndexMethods", 4, "ORIN", "ORIN", 0xFF},
        {"CBackFaceMaterialMethods", 4, "BKMT", "BKMT", 0xFF},
        {"CMaxFaceMethods", 4, "MXDT", "MXDT", 0},
        {"CMaxFaceMethods2", 8, "MXD2", "MXDT", 0},
        {"CFacePropertyMethods", 4, "FACE", "FACE", 0},
        {"C3DFacePropertyMethods", 8, "3DFA", "FACE", 0},
        {"CGridFaceCacheMethods", 296, "GFCH", "GFCH", 0},
    };
    for (const Expected& e : table)
    {
        CXObject* object = CXRuntimeClass::CreateObject(e.name);
        auto* methods = dynamic_cast<CElementMethods*>(object);
        ASSERT_NE(methods, nullptr) << e.name;
        EXPECT_EQ(methods->GetSizeof(), e.size) << e.name;
        EXPECT_EQ(methods->GetType(), ZanTag(e.type)) << e.name;
        EXPECT_EQ(methods->GetBaseType(), ZanTag(e.base)) << e.name;
        EXPECT_FALSE(methods->IsObject());
        CElementArray array(methods); // takes the holder
        array.SetSize(3);
        const auto* bytes = static_cast<const uint8_t*>(array.GetData());
        for (unsigned i = 0; i < 3 * e.size; ++i)
            ASSERT_EQ(bytes[i], e.fill) << e.name << " byte " << i;
    }
    EXPECT_TRUE(CXRuntimeClass::FromName("CMaxFaceMethods2")->IsDerivedFrom(
        ZAN_RUNTIME_CLASS(CMaxFaceMethods)));
    EXPECT_TRUE(CXRuntimeClass::FromName("C3DFacePropertyMethods")->IsDerivedFrom(
        ZAN_RUNTIME_CLASS(CFacePropertyMethods)));
}
