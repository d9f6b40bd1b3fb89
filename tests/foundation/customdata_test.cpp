// CCustomData: values and conversions, index order against a reference model, copies and
// aliasing, the archive form (round trips, byte layout, every truncation, hostile counts and
// nesting), raw blocks, checksums, the text dump and the preferences file.
#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/xarchive.h>

#include "common/zan_test_helpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using zantest::ArchiveFails;

namespace
{
using Bytes = std::vector<uint8_t>;
using E = CXArchiveException;
using CEdit = std::function<void(CCustomData&)>;

constexpr unsigned kPrefsId1 = 0x33445657, kPrefsId2 = 0x50524546;
int g_Anchor; // an address for pointer entries

CXArray<CXTString> Strings(std::initializer_list<const char*> texts)
{
    CXArray<CXTString> out;
    for (const char* text : texts)
        out.Add(text);
    return out;
}

// One entry of every kind, a nested bag three levels deep, blocks with every byte value.
CCustomData MakeEveryKind()
{
    CCustomData bag;
    bag.SetBool(ZanTag("BOOL"), true);
    bag.SetInt(ZanTag("INT "), INT_MIN);
    bag.SetUInt(ZanTag("UINT"), 0xFFFFFFFEu);
    bag.SetInt64(ZanTag("I64 "), INT64_MIN + 3);
    bag.SetUInt64(ZanTag("U64 "), UINT64_MAX - 5);
    bag.SetFloat(ZanTag("FLT "), -0.0f);
    bag.SetDouble(ZanTag("DBL "), std::nan("7"));
    bag.SetString(ZanTag("STR "), "caf\xC3\xA9 \"quoted\"\n");
    bag.SetString(ZanTag("EMPT"), "");
    bag.SetStringArray(ZanTag("ARR "), Strings({"one", "", "three"}));
    Bytes block(300);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7);
    bag.SetBytes(ZanTag("BLOB"), block.data(), block.size());
    bag.SetBytes(ZanTag("NOBY"), nullptr, 0);
    bag.SetPointer(ZanTag("PTR "), &g_Anchor);
    CCustomData& one = bag.CreateCustomData(ZanTag("LVL1"));
    one.SetInt(1, 1);
    CCustomData& two = one.CreateCustomData(ZanTag("LVL2"));
    two.SetPointer(ZanTag("PTR "), &g_Anchor);
    two.SetString(2, "second");
    CCustomData& three = two.CreateCustomData(ZanTag("LVL3"));
    three.SetBytes(3, block.data(), 5);
    three.SetDouble(4, 0.25);
    bag.SetUInt(0x00000000, 17); // ids need not be printable
    return bag;
}

// The third-level bag of MakeEveryKind, null when a level is missing.
CCustomData* Deepest(CCustomData& bag)
{
    CCustomData* level = &bag;
    for (uint32_t id : {ZanTag("LVL1"), ZanTag("LVL2"), ZanTag("LVL3")})
        level = level ? level->GetCustomData(id) : nullptr;
    return level;
}

// \p bag without its pointer entries, at every level: what an archive gives back.
CCustomData WithoutPointers(const CCustomData& bag)
{
    CCustomData out(bag);
    for (int i = out.GetCount() - 1; i >= 0; --i)
    {
        unsigned kind, id = out.GetIDByIndex(i, kind);
        if (kind == _CustomDataPointer)
            out.RemoveValue(id);
        else if (kind == _CustomDataCustomData)
            *out.GetCustomData(id) = WithoutPointers(*out.GetCustomData(id));
    }
    return out;
}

Bytes Store(CCustomData& bag)
{
    return zantest::StoreToBytes([&](CXArchive& ar) { bag.Serialize(ar); });
}

void Load(CCustomData& bag, const Bytes& bytes, size_t length = SIZE_MAX)
{
    zantest::LoadFromBytes(
        bytes, [&](CXArchive& ar) { bag.Serialize(ar); }, length);
}

// The ids in index order.
std::vector<unsigned> Ids(const CCustomData& bag)
{
    std::vector<unsigned> ids;
    unsigned kind;
    for (int i = 0; i < bag.GetCount(); ++i)
        ids.push_back(bag.GetIDByIndex(i, kind));
    return ids;
}

// What every numeric getter reads from \p id, with 9 (true for bool) as the default.
std::string Readings(const CCustomData& bag, unsigned id)
{
    char text[200];
    std::snprintf(text, sizeof text, "%d %d %u %lld %llu %g %g", int(bag.GetBool(id, true)),
                  bag.GetInt(id, 9), bag.GetUInt(id, 9), (long long)bag.GetInt64(id, 9),
                  (unsigned long long)bag.GetUInt64(id, 9), double(bag.GetFloat(id, 9)),
                  bag.GetDouble(id, 9));
    return text;
}

// Little-endian archive bytes written by hand, independent of the archive class.
struct CBytesWriter
{
    Bytes m_Bytes;
    CBytesWriter& U8(uint8_t v) { return m_Bytes.push_back(v), *this; }
    CBytesWriter& U32(uint32_t v) { return U8(uint8_t(v)).U8(v >> 8).U8(v >> 16).U8(v >> 24); }
};

uint32_t ReferenceFnv1a(const uint8_t* data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}
} // namespace

// ---------------------------------------------------------------- values and entries

TEST(CustomDataValues, KindsIndexOrderAndValuesOfOtherKinds)
{
    CCustomData bag = MakeEveryKind();
    const unsigned expected[] = {_CustomDataBool,        _CustomDataInt,        _CustomDataUInt,
                                 _CustomDataInt64,       _CustomDataUInt64,     _CustomDataFloat,
                                 _CustomDataDouble,      _CustomDataString,     _CustomDataString,
                                 _CustomDataStringArray, _CustomDataBytes,      _CustomDataBytes,
                                 _CustomDataPointer,     _CustomDataCustomData, _CustomDataUInt};
    ASSERT_EQ(bag.GetCount(), int(std::size(expected)));
    for (int i = 0; i < bag.GetCount(); ++i)
    {
        unsigned kind = 0, id = bag.GetIDByIndex(i, kind);
        EXPECT_EQ(kind, expected[i]) << i;
        EXPECT_EQ(unsigned(bag.GetKind(id)), kind);
        EXPECT_EQ(bag.GetIndex(id), i);
    }
    size_t size = 99;
    EXPECT_NE(bag.GetBytes(ZanTag("NOBY"), size), nullptr) << "an empty block is still there";
    EXPECT_EQ(size, 0u);

    // A string or an absent id is never a number, a number never a string, and so on.
    EXPECT_EQ(Readings(bag, ZanTag("STR ")), "1 9 9 9 9 9 9");
    EXPECT_EQ(Readings(bag, ZanTag("NONE")), "1 9 9 9 9 9 9");
    EXPECT_EQ(bag.GetString(ZanTag("INT "), "none"), "none");
    CXArray<CXTString> kept = Strings({"kept"});
    EXPECT_FALSE(bag.GetStringArray(ZanTag("STR "), kept));
    EXPECT_EQ(kept, Strings({"kept"}));
    EXPECT_EQ(bag.GetBytes(ZanTag("STR "), size = 5), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(bag.GetPointer(ZanTag("BLOB"), &g_Anchor), &g_Anchor);
    EXPECT_EQ(bag.GetCustomData(ZanTag("INT ")), nullptr);
    EXPECT_EQ(bag.GetKind(ZanTag("NONE")), _CustomDataNone);
    EXPECT_EQ(bag.GetIndex(ZanTag("NONE")), -1);
    EXPECT_FALSE(bag.SetBytes(ZanTag("BLOB"), nullptr, 4)) << "null data with a size";
    EXPECT_EQ(bag.GetBytes(ZanTag("BLOB"), size)[1], 7);
}

TEST(CustomDataValues, NumericKindsConvert)
{
    // Integers convert as C++ does; floating values truncate toward zero, and out of range
    // or NaN give the default (9); a double beyond the float range is an infinity.
    const std::pair<CEdit, const char*> cases[] = {
        {[](CCustomData& b) { b.SetBool(1, true); }, "1 1 1 1 1 1 1"},
        {[](CCustomData& b) { b.SetInt(1, 0); }, "0 0 0 0 0 0 0"},
        {[](CCustomData& b) { b.SetInt(1, -1); }, "1 -1 4294967295 -1 18446744073709551615 -1 -1"},
        {[](CCustomData& b) { b.SetUInt(1, 0x80000000u); },
         "1 -2147483648 2147483648 2147483648 2147483648 2.14748e+09 2.14748e+09"},
        {[](CCustomData& b) { b.SetUInt64(1, UINT64_MAX); },
         "1 -1 4294967295 -1 18446744073709551615 1.84467e+19 1.84467e+19"},
        {[](CCustomData& b) { b.SetFloat(1, 0.5f); }, "1 0 0 0 0 0.5 0.5"},
        {[](CCustomData& b) { b.SetDouble(1, 3.99); }, "1 3 3 3 3 3.99 3.99"},
        {[](CCustomData& b) { b.SetDouble(1, -3.99); }, "1 -3 9 -3 9 -3.99 -3.99"},
        {[](CCustomData& b) { b.SetDouble(1, 2147483648.0); },
         "1 9 2147483648 2147483648 2147483648 2.14748e+09 2.14748e+09"},
        {[](CCustomData& b) { b.SetDouble(1, -2147483648.0); },
         "1 -2147483648 9 -2147483648 9 -2.14748e+09 -2.14748e+09"},
        {[](CCustomData& b) { b.SetDouble(1, 4294967296.0); },
         "1 9 9 4294967296 4294967296 4.29497e+09 4.29497e+09"},
        {[](CCustomData& b) { b.SetDouble(1, 9223372036854775808.0); },
         "1 9 9 9 9223372036854775808 9.22337e+18 9.22337e+18"},
        {[](CCustomData& b) { b.SetDouble(1, -9223372036854775808.0); },
         "1 9 9 -9223372036854775808 9 -9.22337e+18 -9.22337e+18"},
        {[](CCustomData& b) { b.SetDouble(1, 18446744073709551616.0); },
         "1 9 9 9 9 1.84467e+19 1.84467e+19"},
        {[](CCustomData& b) { b.SetDouble(1, std::nan("")); }, "1 9 9 9 9 nan nan"},
        {[](CCustomData& b) { b.SetDouble(1, -1e300); }, "1 9 9 9 9 -inf -1e+300"}};
    CCustomData bag;
    for (const auto& [set, readings] : cases)
    {
        set(bag);
        EXPECT_EQ(Readings(bag, 1), readings);
    }
}

// Thousands of entries exercise the id index; a plain vector searched linearly is the
// reference for the values, their kinds and the index order. A value set again replaces
// the old one in place, whatever its kind.
TEST(CustomDataEntries, LargeBagMatchesAReferenceModel)
{
    struct CEntry
    {
        unsigned m_Id;
        int m_Value;
        bool m_Text; // set as a string
    };
    std::mt19937 random(1234);
    std::vector<CEntry> model;
    CCustomData bag;
    auto modelFind = [&model](unsigned id)
    {
        auto at = std::find_if(model.begin(), model.end(), [id](auto& e) { return e.m_Id == id; });
        return at == model.end() ? -1 : int(at - model.begin());
    };
    for (int step = 0; step < 20000; ++step)
    {
        // Grow to about 3000 entries, then shrink back below the small-bag size.
        bool growing = step < 12000;
        unsigned id = random() % 4000 * 2654435761u;
        CEntry entry{id, int(random()), random() % 5 == 0};
        bool set = growing ? random() % 4 != 0 : random() % 8 == 0;
        if (!set && !growing && !model.empty() && random() % 2)
            id = model[random() % model.size()].m_Id; // mostly remove ids that are there
        int at = modelFind(id);
        if (set && entry.m_Text)
            bag.SetString(id, std::to_string(entry.m_Value).c_str());
        else if (set)
            bag.SetInt(id, entry.m_Value);
        else
            ASSERT_EQ(bag.RemoveValue(id), at >= 0);
        if (set && at < 0)
            model.push_back(entry);
        else if (set)
            model[size_t(at)] = entry;
        else if (at >= 0)
            model.erase(model.begin() + at);
        ASSERT_EQ(bag.GetIndex(id), modelFind(id)) << step;
        if (step % 1000 == 999 || step == 19999)
        {
            CCustomData copy(bag); // the copy rebuilds its own index
            ASSERT_EQ(bag.GetCount(), int(model.size()));
            for (size_t i = 0; i < model.size(); ++i)
            {
                unsigned kind, key = model[i].m_Id;
                ASSERT_EQ(bag.GetIDByIndex(int(i), kind), key);
                ASSERT_EQ(kind, model[i].m_Text ? _CustomDataString : _CustomDataInt);
                ASSERT_EQ(bag.GetString(key, std::to_string(bag.GetInt(key)).c_str()),
                          std::to_string(model[i].m_Value).c_str());
                ASSERT_EQ(copy.GetIndex(key), int(i));
            }
        }
    }
    EXPECT_LT(model.size(), 16u) << "the walk should end on a small bag";
    unsigned kind;
    EXPECT_THROW(bag.GetIDByIndex(bag.GetCount(), kind), CXInvalidArgException);
    EXPECT_THROW(bag.GetIDByIndex(-1, kind), CXInvalidArgException);
    bag.RemoveAll();
    EXPECT_TRUE(bag.IsEmpty());
    EXPECT_EQ(bag.GetIndex(model[0].m_Id), -1);
}

// ---------------------------------------------------------------- copies and equality

TEST(CustomDataCopies, CopiesAreDeepAndValuesFromTheBagItselfAreCopiedFirst)
{
    const CCustomData original = MakeEveryKind();
    CCustomData copy(original), assigned, bag = original;
    Deepest(copy)->SetDouble(4, 9.0);
    EXPECT_FALSE(copy == original);
    EXPECT_TRUE(original == MakeEveryKind());
    assigned.SetInt(5, 5);
    assigned = original;
    CCustomData moved(std::move(assigned));
    EXPECT_TRUE(moved == original);
    EXPECT_TRUE(assigned.IsEmpty());
    assigned = std::move(moved);
    EXPECT_TRUE(assigned == original);

    bag.SetCustomData(ZanTag("LVL1"), *bag.GetCustomData(ZanTag("LVL1")));
    EXPECT_TRUE(bag == original);
    bag.SetCustomData(ZanTag("SELF"), bag);
    ASSERT_NE(bag.GetCustomData(ZanTag("SELF")), nullptr);
    EXPECT_TRUE(*bag.GetCustomData(ZanTag("SELF")) == original);
    // A nested bag replaces a value of another kind in place; an existing one is reused.
    CCustomData& nested = bag.CreateCustomData(ZanTag("INT "));
    EXPECT_EQ(&bag.CreateCustomData(ZanTag("INT ")), &nested);
    EXPECT_EQ(bag.GetIndex(ZanTag("INT ")), 1);
    // The nested bag holds an entry under its own id: appending it replaces it.
    nested.SetInt(ZanTag("INT "), 4);
    nested.SetInt(ZanTag("NEW "), 5);
    bag.Append(nested);
    EXPECT_EQ(bag.GetKind(ZanTag("INT ")), _CustomDataInt);
    EXPECT_EQ(bag.GetInt(ZanTag("NEW ")), 5);
    size_t size;
    const uint8_t* block = bag.GetBytes(ZanTag("BLOB"), size);
    ASSERT_TRUE(bag.SetBytes(ZanTag("BLOB"), block + 1, size - 1));
    EXPECT_EQ(bag.GetBytes(ZanTag("BLOB"), size)[0], 7);
    EXPECT_EQ(size, 299u);

    CCustomData outer;
    outer.CreateCustomData(1).SetInt(2, 3);
    outer = *outer.GetCustomData(1);
    EXPECT_EQ(outer.GetInt(2), 3);
    outer.CreateCustomData(1).SetInt(2, 4);
    outer = std::move(*outer.GetCustomData(1));
    EXPECT_EQ(outer.GetInt(2), 4);
}

TEST(CustomDataCopies, EqualityAndAppendFollowOrderKindsAndBits)
{
    CCustomData a, b, c;
    a.SetInt(1, 1);
    a.SetInt(2, 2);
    b.SetInt(2, 2);
    b.SetInt(1, 1);
    EXPECT_FALSE(a == b) << "order matters";
    c.SetInt(1, 1);
    c.SetUInt(2, 2);
    EXPECT_FALSE(a == c) << "kinds matter";
    c.SetFloat(3, 0.0f);
    c.SetPointer(4, &g_Anchor);
    CCustomData d = c;
    EXPECT_TRUE(c == d);
    d.SetFloat(3, -0.0f);
    EXPECT_FALSE(c == d) << "floats compare by their bits";
    int other;
    d = c;
    d.SetPointer(4, &other);
    EXPECT_FALSE(c == d);

    // Append replaces in place and adds the new ids at the end in the other bag's order.
    CCustomData extra;
    extra.SetInt(9, 9);
    extra.SetString(1, "one");
    extra.SetInt(8, 8);
    a.Append(extra);
    a.Append(a);
    EXPECT_EQ(Ids(a), (std::vector<unsigned>{1, 2, 9, 8}));
    EXPECT_EQ(a.GetString(1), "one");
}

// ---------------------------------------------------------------- archive

// Memory, then a disk file holding two bags and a marker with a small buffer that splits
// the blocks: each load takes its own bytes only.
TEST(CustomDataArchive, EveryKindRoundTripsThroughMemoryAndDisk)
{
    CCustomData original = MakeEveryKind(), loaded, small, second;
    const CCustomData expected = WithoutPointers(original);
    ASSERT_LT(expected.GetCount(), original.GetCount());
    loaded.SetString(ZanTag("OLD "), "replaced by the load");
    Load(loaded, Store(original));
    EXPECT_TRUE(loaded == expected);
    EXPECT_TRUE(std::isnan(loaded.GetDouble(ZanTag("DBL "))));
    EXPECT_TRUE(std::signbit(loaded.GetFloat(ZanTag("FLT "), 1.0f)));
    ASSERT_NE(Deepest(loaded), nullptr);
    EXPECT_EQ(Deepest(loaded)->GetDouble(4), 0.25);

    zantest::CTempDir dir;
    small.SetInt(1, 2);
    uint32_t marker = 0;
    auto both = [&](CCustomData& a, CCustomData& b, CXArchive& ar)
    {
        a.Serialize(ar);
        b.Serialize(ar);
        ZanSerialize(ar, marker);
    };
    marker = 0xC0FFEE;
    ASSERT_TRUE(zantest::StoreToFile(
        dir.File("bags.bin"), [&](CXArchive& ar) { both(original, small, ar); }, 256));
    marker = 0;
    loaded.RemoveAll();
    ASSERT_TRUE(zantest::LoadFromFile(
        dir.File("bags.bin"), [&](CXArchive& ar) { both(loaded, second, ar); }, 256));
    EXPECT_TRUE(loaded == expected);
    EXPECT_TRUE(second == small);
    EXPECT_EQ(marker, 0xC0FFEEu);
}

// The exchange peers read these bytes: a change here is a change of the format.
TEST(CustomDataArchive, ByteLayoutIsFixed)
{
    CCustomData bag;
    bag.SetUInt(ZanTag("FLAG"), 7);
    bag.SetPointer(ZanTag("HWND"), &g_Anchor); // never archived
    bag.SetString(ZanTag("PATH"), "ab");
    bag.CreateCustomData(ZanTag("NEST")).SetBool(ZanTag("ON  "), true);
    bag.SetStringArray(ZanTag("LIST"), Strings({"x"}));
    bag.SetBytes(ZanTag("BLOB"), "\x01\x02", 2);
    bag.SetDouble(ZanTag("DBL "), 1.0);

    CBytesWriter expected;
    expected.U32(6);
    expected.U32(ZanTag("FLAG")).U32(_CustomDataUInt).U32(7);
    expected.U32(ZanTag("PATH")).U32(_CustomDataString).U32(2).U8('a').U8('b');
    expected.U32(ZanTag("NEST")).U32(_CustomDataCustomData).U32(1);
    expected.U32(ZanTag("ON  ")).U32(_CustomDataBool).U8(1);
    expected.U32(ZanTag("LIST")).U32(_CustomDataStringArray).U32(1).U32(1).U8('x');
    expected.U32(ZanTag("BLOB")).U32(_CustomDataBytes).U32(2).U8(1).U8(2);
    expected.U32(ZanTag("DBL ")).U32(_CustomDataDouble).U32(0).U32(0x3FF00000);

    CXArray<unsigned char> block;
    ASSERT_TRUE(bag.GetData(block));
    EXPECT_EQ(block.GetVector(), expected.m_Bytes);
    EXPECT_EQ(Store(bag), expected.m_Bytes) << "Serialize and GetData write the same bytes";

    // A value's checksum is the FNV-1a of its archived bytes: stable across processes.
    const Bytes& b = expected.m_Bytes;
    EXPECT_EQ(bag.GetChecksum(ZanTag("FLAG")), ReferenceFnv1a(&b[12], 4));
    EXPECT_EQ(bag.GetChecksum(ZanTag("PATH")), ReferenceFnv1a(&b[24], 6));
    EXPECT_EQ(bag.GetChecksum(ZanTag("NEST")), ReferenceFnv1a(&b[38], 13));
}

TEST(CustomDataArchive, EveryTruncationRaisesAndLeavesTheBagAsItWas)
{
    CCustomData source = MakeEveryKind(), target;
    Bytes bytes = Store(source);
    target.SetString(ZanTag("KEEP"), "untouched");
    target.CreateCustomData(1).SetInt(2, 3);
    const CCustomData before = target;
    for (size_t length = 0; length < bytes.size(); ++length)
    {
        ASSERT_TRUE(ArchiveFails([&] { Load(target, bytes, length); })) << length;
        ASSERT_FALSE(target.SetData(bytes.data(), length)) << length;
        ASSERT_TRUE(target == before) << length;
    }
}

TEST(CustomDataArchive, MalformedValuesHugeCountsAndDeepNestingAreRefused)
{
    auto expectRefused = [](E::Cause cause, CBytesWriter writer, size_t padding = 64)
    {
        writer.m_Bytes.resize(writer.m_Bytes.size() + padding, 0); // only the fault may stop it
        CCustomData bag;
        bag.SetInt(1, 1);
        EXPECT_TRUE(ArchiveFails([&] { Load(bag, writer.m_Bytes); }, cause));
        EXPECT_FALSE(bag.SetData(writer.m_Bytes.data(), writer.m_Bytes.size()));
        EXPECT_EQ(Ids(bag), std::vector<unsigned>{1});
        EXPECT_EQ(bag.GetInt(1), 1);
    };
    auto oneEntry = [](uint32_t kind) { return CBytesWriter().U32(1).U32(5).U32(kind); };
    for (uint32_t kind : {0u, uint32_t(_CustomDataPointer), 13u, 0xFFFFFFFFu})
        expectRefused(E::_BadValue, oneEntry(kind));
    expectRefused(E::_BadValue, oneEntry(_CustomDataBool).U8(2));
    CBytesWriter twice = CBytesWriter().U32(2).U32(5).U32(_CustomDataInt).U32(1);
    expectRefused(E::_BadValue, twice.U32(5).U32(_CustomDataInt).U32(2)); // one id twice

    // Counts far beyond the bytes that remain fail before anything is allocated for them
    // (an allocation of that size would raise std::bad_alloc instead).
    expectRefused(E::_BadCount, CBytesWriter().U32(0xFFFFFFF0u));
    expectRefused(E::_BadCount, CBytesWriter().U32(0xFFFFFFFFu).U32(0).U32(0x40000000u));
    for (uint32_t kind :
         {_CustomDataBytes, _CustomDataStringArray, _CustomDataString, _CustomDataCustomData})
        expectRefused(E::_BadCount, oneEntry(kind).U32(0xFFFFFFF0u));

    // Ten thousand nested bags written by hand: the reader must stop, not overflow the stack.
    CBytesWriter deep;
    for (int level = 0; level < 10000; ++level)
        deep.U32(1).U32(ZanTag("DEEP")).U32(_CustomDataCustomData);
    expectRefused(E::_TooDeep, deep.U32(0), 0);

    // Exactly at the limit a bag stores and loads; one level more is refused on storing
    // too, so that nothing is written that could not be read back.
    CXMemFile probe;
    const int limit = CXArchive(&probe, CXArchive::store).GetMaxDepth();
    CCustomData chain, reloaded;
    CCustomData* level = &chain;
    for (int i = 1; i < limit; ++i)
        level = &level->CreateCustomData(ZanTag("DEEP"));
    level->SetInt(7, 7);
    CXArray<unsigned char> block;
    ASSERT_TRUE(chain.GetData(block));
    ASSERT_TRUE(reloaded.SetData(block.GetData(), size_t(block.GetSize())));
    EXPECT_TRUE(reloaded == chain);
    level->CreateCustomData(ZanTag("DEEP"));
    EXPECT_FALSE(chain.GetData(block));
    EXPECT_TRUE(block.IsEmpty());
    EXPECT_TRUE(ArchiveFails([&] { Store(chain); }, E::_TooDeep));
}

TEST(CustomDataArchive, RawBlockRoundTripsAndGarbageChangesNothing)
{
    CCustomData rebuilt = MakeEveryKind();
    CXArray<unsigned char> block;
    ASSERT_TRUE(rebuilt.GetData(block));
    const CCustomData before = rebuilt;
    std::mt19937 random(99);
    for (int attempt = 0; attempt < 500; ++attempt)
    {
        Bytes garbage(random() % 64);
        for (uint8_t& byte : garbage)
            byte = uint8_t(random());
        if (!garbage.empty() && attempt % 2)
            garbage[0] = uint8_t(random() % 3); // small counts reach the entries
        CCustomData probe;
        CXArray<unsigned char> again;
        if (probe.SetData(garbage.data(), garbage.size()))
        {
            // Rarely, garbage is a valid bag: then it must read back as itself.
            ASSERT_TRUE(probe.GetData(again));
            EXPECT_EQ(again.GetVector(), garbage);
            continue;
        }
        EXPECT_FALSE(rebuilt.SetData(garbage.data(), garbage.size()));
        ASSERT_TRUE(rebuilt == before) << attempt;
    }
    Bytes longer(block.begin(), block.end());
    longer.push_back(0);
    EXPECT_FALSE(rebuilt.SetData(longer.data(), longer.size())) << "bytes after the bag";
    EXPECT_FALSE(rebuilt.SetData(nullptr, 4));
    EXPECT_TRUE(rebuilt == before);
    ASSERT_TRUE(CCustomData().GetData(block));
    ASSERT_TRUE(rebuilt.SetData(block.GetData(), size_t(block.GetSize())));
    EXPECT_TRUE(rebuilt.IsEmpty());
}

// ---------------------------------------------------------------- checksums and dump

TEST(CustomDataChecksum, EqualBagsAgreeAndAnyChangeShows)
{
    CCustomData a = MakeEveryKind(), b = MakeEveryKind();
    const unsigned whole = a.GetChecksum();
    EXPECT_EQ(b.GetChecksum(), whole);
    EXPECT_EQ(a.GetChecksum(ZanTag("PTR ")), 0u);
    EXPECT_EQ(a.GetChecksum(ZanTag("NONE")), 0u);

    const CEdit changes[] = {[](CCustomData& bag) { bag.SetBool(ZanTag("BOOL"), false); },
                             [](CCustomData& bag)
                             { bag.SetUInt(ZanTag("INT "), unsigned(INT_MIN)); }, // kind
                             [](CCustomData& bag) { bag.SetFloat(ZanTag("FLT "), 0.0f); },
                             [](CCustomData& bag) { bag.SetString(ZanTag("STR "), "caf\xC3\xA9"); },
                             [](CCustomData& bag) {
                                 bag.SetStringArray(ZanTag("ARR "), Strings({"one", "three"}));
                             },
                             [](CCustomData& bag) { bag.SetBytes(ZanTag("NOBY"), "", 1); },
                             [](CCustomData& bag) { Deepest(bag)->SetDouble(4, 0.5); },
                             [](CCustomData& bag) { bag.RemoveValue(ZanTag("PTR ")); },
                             [](CCustomData& bag)
                             {
                                 bag.RemoveValue(ZanTag("BOOL"));
                                 bag.SetBool(ZanTag("BOOL"), true); // same values, another order
                             },
                             [](CCustomData& bag)
                             {
                                 size_t size;
                                 const uint8_t* blob = bag.GetBytes(ZanTag("BLOB"), size);
                                 Bytes flipped(blob, blob + size);
                                 flipped[150] ^= 0x10; // a byte in the middle of a block
                                 bag.SetBytes(ZanTag("BLOB"), flipped.data(), size);
                             }};
    for (size_t i = 0; i < std::size(changes); ++i)
    {
        CCustomData changed = a;
        changes[i](changed);
        EXPECT_NE(changed.GetChecksum(), whole) << "change " << i;
    }
    // Pointers are addresses of this process: their value never counts.
    int other;
    b.SetPointer(ZanTag("PTR "), &other);
    EXPECT_EQ(b.GetChecksum(), whole);
}

TEST(CustomDataDump, OneLinePerEntryWithNestedBagsIndented)
{
    CCustomData bag;
    bag.SetUInt(ZanTag("FLAG"), 7);
    bag.SetString(ZanTag("NAME"), "a\"b\\c\n\x01");
    bag.SetInt(1, -5);
    CCustomData& nested = bag.CreateCustomData(ZanTag("NEST"));
    nested.SetBool(ZanTag("ON  "), true);
    nested.CreateCustomData(ZanTag("DEEP")).SetDouble(ZanTag("D   "), 0.5);
    Bytes block(20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i + 0xF0);
    bag.SetBytes(ZanTag("BLOB"), block.data(), block.size());
    bag.SetBytes(ZanTag("TINY"), "\x0A", 1);
    bag.SetStringArray(ZanTag("LIST"), Strings({"x", ""}));
    bag.SetFloat(ZanTag("FLT "), 1.5f);
    bag.SetInt64(ZanTag("I64 "), INT64_MIN);
    bag.SetPointer(ZanTag("PTR "), nullptr);

    CXTString out("before\n");
    bag.DumpCustomData(out, 1);
    EXPECT_STREQ(out.c_str(), "before\n"
                              "  'FLAG' unsigned 7\n"
                              "  'NAME' string \"a\\\"b\\\\c\\n\\x01\"\n"
                              "  0x00000001 int -5\n"
                              "  'NEST' data[2]\n"
                              "    'ON  ' bool true\n"
                              "    'DEEP' data[1]\n"
                              "      'D   ' double 0.5\n"
                              "  'BLOB' bytes[20] F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE "
                              "FF ...\n"
                              "  'TINY' bytes[1] 0A\n"
                              "  'LIST' string[2] \"x\", \"\"\n"
                              "  'FLT ' float 1.5\n"
                              "  'I64 ' int64 -9223372036854775808\n"
                              "  'PTR ' pointer null\n");
}

// ---------------------------------------------------------------- preferences file

TEST(CustomDataPrefs, SavedValuesLoadBackAndDamagedFilesAreRefused)
{
    zantest::CTempDir dir;
    const std::string path = dir.File("3dprefs.prefs"), damaged = dir.File("damaged.prefs");
    CCustomData saved = MakeEveryKind(), bag, second;
    ASSERT_TRUE(saved.SaveToPrefs(path.c_str(), kPrefsId1, kPrefsId2));
    bag.SetInt(ZanTag("OLD "), 1);
    ASSERT_TRUE(bag.LoadFromPrefs(path.c_str(), kPrefsId1, kPrefsId2));
    EXPECT_TRUE(bag == WithoutPointers(saved));
    const Bytes good = zantest::ReadFileBytes(path);
    second.SetFloat(ZanTag("SMAG"), 0.54105204f);
    ASSERT_TRUE(second.SaveToPrefs(path.c_str(), kPrefsId1, kPrefsId2)) << "over an old file";
    ASSERT_TRUE(bag.LoadFromPrefs(path.c_str(), kPrefsId1, kPrefsId2));
    EXPECT_TRUE(bag == second);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1)
        << "no temporary file is left";

    // Other ids, files that are missing or not files (a FIFO is refused, not waited on).
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(bag.LoadFromPrefs(path.c_str(), kPrefsId2, kPrefsId1));
    EXPECT_FALSE(bag.LoadFromPrefs(path.c_str(), kPrefsId1, 0));
    for (std::string other : {dir.File("missing"), dir.Path(), dir.File("fifo"), std::string()})
        EXPECT_FALSE(bag.LoadFromPrefs(other.c_str(), kPrefsId1, kPrefsId2)) << other;
    EXPECT_FALSE(bag.LoadFromPrefs(nullptr, kPrefsId1, kPrefsId2));
    // Every truncation, every damaged byte and a byte too many.
    ASSERT_GT(good.size(), 24u);
    for (size_t at = 0; at <= 2 * good.size(); ++at)
    {
        Bytes bytes = good;
        if (at < good.size())
            bytes.resize(at);
        else if (at < 2 * good.size())
            bytes[at - good.size()] ^= 0x40;
        else
            bytes.push_back(0);
        ASSERT_TRUE(zantest::WriteFileBytes(damaged, bytes));
        ASSERT_FALSE(bag.LoadFromPrefs(damaged.c_str(), kPrefsId1, kPrefsId2)) << at;
    }
    EXPECT_TRUE(bag == second);
    ASSERT_TRUE(zantest::WriteFileBytes(damaged, good));
    EXPECT_TRUE(bag.LoadFromPrefs(damaged.c_str(), kPrefsId1, kPrefsId2)) << "the good bytes";
}

TEST(CustomDataPrefs, FailedSavesKeepTheOldFile)
{
    zantest::CTempDir dir;
    const std::string path = dir.File("3dprefs.prefs");
    CCustomData old, bigger = MakeEveryKind(), reloaded;
    old.SetString(ZanTag("OLD "), "old values");
    ASSERT_TRUE(old.SaveToPrefs(path.c_str(), kPrefsId1, kPrefsId2));
    const Bytes oldBytes = zantest::ReadFileBytes(path);
    Bytes large(256 * 1024, 0x5A);
    bigger.SetBytes(ZanTag("LARG"), large.data(), large.size());
    EXPECT_FALSE(bigger.SaveToPrefs(dir.File("missing/3dprefs.prefs").c_str(), 1, 2));
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
    EXPECT_FALSE(bigger.SaveToPrefs(nullptr, 1, 2));
    // A folder in the way of the target: the rename fails, the folder stays.
    std::filesystem::create_directory(dir.File("taken"));
    EXPECT_FALSE(bigger.SaveToPrefs(dir.File("taken").c_str(), 1, 2));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("taken")));

    // A write that fails halfway (file size limit, as on a full disk).
    struct rlimit saved, small;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool wrote = bigger.SaveToPrefs(path.c_str(), kPrefsId1, kPrefsId2);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(wrote);
    EXPECT_EQ(zantest::ReadFileBytes(path), oldBytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2)
        << "the temporary file is removed";

    // A folder the user may not write to (root ignores permissions: skip that part).
    if (::geteuid() != 0)
    {
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0500), 0);
        EXPECT_FALSE(bigger.SaveToPrefs(path.c_str(), kPrefsId1, kPrefsId2));
        ::chmod(dir.Path().c_str(), 0700);
        EXPECT_EQ(zantest::ReadFileBytes(path), oldBytes);
    }
    ASSERT_TRUE(reloaded.LoadFromPrefs(path.c_str(), kPrefsId1, kPrefsId2));
    EXPECT_TRUE(reloaded == old);
}
