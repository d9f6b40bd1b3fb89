// CCustomData: values and conversions, index order, copies, the archive form (round trips,
// every truncation, hostile counts and nesting), raw blocks, checksums, the text dump and
// the preferences file.
#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/xarchive.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
using Bytes = std::vector<uint8_t>;

constexpr unsigned kPrefsId1 = 0x33445657;
constexpr unsigned kPrefsId2 = 0x50524546;

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
        if (level)
            level = level->GetCustomData(id);
    return level;
}

// \p bag without its pointer entries, at every level: what an archive gives back.
CCustomData WithoutPointers(const CCustomData& bag)
{
    CCustomData out(bag);
    for (int i = out.GetCount() - 1; i >= 0; --i)
    {
        unsigned kind;
        unsigned id = out.GetIDByIndex(i, kind);
        if (kind == _CustomDataPointer)
            out.RemoveValue(id);
        else if (kind == _CustomDataCustomData)
            *out.GetCustomData(id) = WithoutPointers(*out.GetCustomData(id));
    }
    return out;
}

Bytes Store(CCustomData& bag)
{
    CXMemFile file;
    CXArchive ar(&file, CXArchive::store);
    bag.Serialize(ar);
    ar.Close();
    return file.Detach();
}

void Load(CCustomData& bag, const Bytes& bytes, size_t length)
{
    CXMemFile file(bytes.data(), length);
    CXArchive ar(&file, CXArchive::load);
    bag.Serialize(ar);
}

void ExpectArchiveError(CXArchiveException::Cause cause, const std::function<void()>& action)
{
    try
    {
        action();
        ADD_FAILURE() << "no CXArchiveException";
    }
    catch (const CXArchiveException& error)
    {
        EXPECT_EQ(error.GetCause(), cause) << error.what();
    }
}

// Little-endian archive bytes written by hand, independent of the archive class.
struct CBytesWriter
{
    Bytes m_Bytes;
    CBytesWriter& U8(uint8_t v)
    {
        m_Bytes.push_back(v);
        return *this;
    }
    CBytesWriter& U32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            U8(uint8_t(v >> (8 * i)));
        return *this;
    }
    CBytesWriter& Text(const std::string& text)
    {
        U32(uint32_t(text.size()));
        m_Bytes.insert(m_Bytes.end(), text.begin(), text.end());
        return *this;
    }
};

uint32_t ReferenceFnv1a(const uint8_t* data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

class CTempFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/zan-cd-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_Folder = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::permissions(m_Folder, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(m_Folder, ignored);
    }
    std::string PathOf(const char* name) const { return m_Folder + "/" + name; }
    // Names left in the folder that are not \p expected (temporary files of a save).
    std::vector<std::string> Strays(const char* expected) const
    {
        std::vector<std::string> out;
        for (const auto& item : std::filesystem::directory_iterator(m_Folder))
            if (item.path().filename() != expected)
                out.push_back(item.path().filename().string());
        return out;
    }
    static Bytes ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    static void WriteFile(const std::string& path, const Bytes& bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    std::string m_Folder;
};
} // namespace

// ---------------------------------------------------------------- values

TEST(CustomDataValues, EveryKindReadsBackAsStored)
{
    CCustomData bag = MakeEveryKind();
    EXPECT_TRUE(bag.GetBool(ZanTag("BOOL")));
    EXPECT_EQ(bag.GetInt(ZanTag("INT ")), INT_MIN);
    EXPECT_EQ(bag.GetUInt(ZanTag("UINT")), 0xFFFFFFFEu);
    EXPECT_EQ(bag.GetInt64(ZanTag("I64 ")), INT64_MIN + 3);
    EXPECT_EQ(bag.GetUInt64(ZanTag("U64 ")), UINT64_MAX - 5);
    EXPECT_TRUE(std::signbit(bag.GetFloat(ZanTag("FLT "), 1.0f)));
    EXPECT_TRUE(std::isnan(bag.GetDouble(ZanTag("DBL "))));
    EXPECT_EQ(bag.GetString(ZanTag("STR ")), "caf\xC3\xA9 \"quoted\"\n");
    EXPECT_EQ(bag.GetKind(ZanTag("EMPT")), _CustomDataString);
    CXArray<CXTString> array;
    ASSERT_TRUE(bag.GetStringArray(ZanTag("ARR "), array));
    EXPECT_EQ(array, Strings({"one", "", "three"}));
    size_t size = 99;
    const uint8_t* bytes = bag.GetBytes(ZanTag("BLOB"), size);
    ASSERT_EQ(size, 300u);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[299], uint8_t(299 * 7));
    EXPECT_NE(bag.GetBytes(ZanTag("NOBY"), size), nullptr) << "an empty block is still there";
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(bag.GetPointer(ZanTag("PTR ")), &g_Anchor);
    const CCustomData* three = Deepest(bag);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(three->GetDouble(4), 0.25);
    EXPECT_EQ(bag.GetUInt(0), 17u);

    const unsigned expected[] = {_CustomDataBool,        _CustomDataInt,        _CustomDataUInt,
                                 _CustomDataInt64,       _CustomDataUInt64,     _CustomDataFloat,
                                 _CustomDataDouble,      _CustomDataString,     _CustomDataString,
                                 _CustomDataStringArray, _CustomDataBytes,      _CustomDataBytes,
                                 _CustomDataPointer,     _CustomDataCustomData, _CustomDataUInt};
    ASSERT_EQ(bag.GetCount(), int(std::size(expected)));
    for (int i = 0; i < bag.GetCount(); ++i)
    {
        unsigned kind = 0;
        unsigned id = bag.GetIDByIndex(i, kind);
        EXPECT_EQ(kind, expected[i]) << i;
        EXPECT_EQ(unsigned(bag.GetKind(id)), kind);
        EXPECT_EQ(bag.GetIndex(id), i);
    }
}

TEST(CustomDataValues, AbsentIdsAndOtherKindsGiveTheDefault)
{
    CCustomData bag;
    bag.SetString(1, "42");
    bag.SetInt(2, 42);
    bag.SetBytes(3, "ab", 2);
    for (unsigned id : {1u, 9u}) // a string is never read as a number; 9 is absent
    {
        EXPECT_TRUE(bag.GetBool(id, true));
        EXPECT_EQ(bag.GetInt(id, -7), -7);
        EXPECT_EQ(bag.GetUInt(id, 7u), 7u);
        EXPECT_EQ(bag.GetInt64(id, -8), -8);
        EXPECT_EQ(bag.GetUInt64(id, 8u), 8u);
        EXPECT_EQ(bag.GetFloat(id, 1.5f), 1.5f);
        EXPECT_EQ(bag.GetDouble(id, 2.5), 2.5);
    }
    EXPECT_EQ(bag.GetString(2, "none"), "none") << "a number is never read as a string";
    EXPECT_EQ(bag.GetString(9, "none"), "none");
    CXArray<CXTString> kept = Strings({"kept"});
    EXPECT_FALSE(bag.GetStringArray(1, kept));
    EXPECT_EQ(kept, Strings({"kept"}));
    size_t size = 5;
    EXPECT_EQ(bag.GetBytes(1, size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(bag.GetPointer(3, &g_Anchor), &g_Anchor);
    EXPECT_EQ(bag.GetCustomData(2), nullptr);
    EXPECT_EQ(static_cast<const CCustomData&>(bag).GetCustomData(9), nullptr);
    EXPECT_EQ(bag.GetKind(9), _CustomDataNone);
    EXPECT_FALSE(bag.HasValue(9));
    EXPECT_EQ(bag.GetIndex(9), -1);
    EXPECT_FALSE(bag.SetBytes(3, nullptr, 4)) << "null data with a size is refused";
    EXPECT_EQ(bag.GetBytes(3, size)[1], 'b');
}

TEST(CustomDataValues, NumericKindsConvert)
{
    CCustomData bag;
    bag.SetBool(1, true);
    EXPECT_EQ(bag.GetInt(1), 1);
    EXPECT_EQ(bag.GetDouble(1), 1.0);
    bag.SetInt(2, -1);
    EXPECT_EQ(bag.GetUInt(2), 0xFFFFFFFFu) << "flags words keep their bits";
    EXPECT_EQ(bag.GetInt64(2), -1);
    EXPECT_TRUE(bag.GetBool(2));
    bag.SetUInt(3, 0x80000000u);
    EXPECT_EQ(bag.GetInt(3), INT_MIN);
    EXPECT_EQ(bag.GetInt64(3), 0x80000000LL);
    bag.SetUInt64(4, UINT64_MAX);
    EXPECT_FLOAT_EQ(bag.GetFloat(4), 1.8446744e19f);
    bag.SetInt(5, 0);
    EXPECT_FALSE(bag.GetBool(5, true));

    // Floating values truncate toward zero, and out-of-range or NaN values give the default.
    bag.SetDouble(6, 3.99);
    EXPECT_EQ(bag.GetInt(6), 3);
    bag.SetDouble(6, -3.99);
    EXPECT_EQ(bag.GetInt(6), -3);
    EXPECT_EQ(bag.GetUInt(6, 77u), 77u);
    bag.SetDouble(6, 2147483648.0);
    EXPECT_EQ(bag.GetInt(6, 5), 5);
    EXPECT_EQ(bag.GetUInt(6), 2147483648u);
    bag.SetDouble(6, -2147483648.0);
    EXPECT_EQ(bag.GetInt(6), INT_MIN);
    bag.SetDouble(6, 9223372036854775808.0); // 2^63
    EXPECT_EQ(bag.GetInt64(6, 9), 9);
    EXPECT_EQ(bag.GetUInt64(6), 9223372036854775808ull);
    bag.SetDouble(6, -9223372036854775808.0);
    EXPECT_EQ(bag.GetInt64(6), INT64_MIN);
    bag.SetDouble(6, 18446744073709551616.0); // 2^64
    EXPECT_EQ(bag.GetUInt64(6, 10u), 10u);
    bag.SetDouble(6, std::nan(""));
    EXPECT_EQ(bag.GetInt(6, 11), 11);
    bag.SetDouble(6, 1e300);
    EXPECT_EQ(bag.GetFloat(6), INFINITY);
    bag.SetDouble(6, -1e300);
    EXPECT_EQ(bag.GetFloat(6), -INFINITY);
    bag.SetFloat(7, 0.5f);
    EXPECT_TRUE(bag.GetBool(7));
    EXPECT_EQ(bag.GetInt(7), 0);
    EXPECT_EQ(bag.GetDouble(7), 0.5);
}

// ---------------------------------------------------------------- entries

TEST(CustomDataEntries, ReplacingKeepsTheIndexAndTakesTheNewKind)
{
    CCustomData bag;
    bag.SetInt(ZanTag("AAAA"), 1);
    bag.SetInt(ZanTag("BBBB"), 2);
    bag.SetInt(ZanTag("CCCC"), 3);
    bag.SetString(ZanTag("BBBB"), "two");
    EXPECT_EQ(bag.GetCount(), 3);
    EXPECT_EQ(bag.GetIndex(ZanTag("BBBB")), 1);
    EXPECT_EQ(bag.GetKind(ZanTag("BBBB")), _CustomDataString);
    EXPECT_EQ(bag.GetInt(ZanTag("BBBB"), -1), -1);

    CCustomData& nested = bag.CreateCustomData(ZanTag("AAAA")); // replaces the int
    EXPECT_EQ(bag.GetIndex(ZanTag("AAAA")), 0);
    nested.SetBool(1, true);
    EXPECT_EQ(&bag.CreateCustomData(ZanTag("AAAA")), &nested) << "an existing bag is reused";
    EXPECT_TRUE(bag.GetCustomData(ZanTag("AAAA"))->GetBool(1));

    EXPECT_TRUE(bag.RemoveValue(ZanTag("AAAA")));
    EXPECT_FALSE(bag.RemoveValue(ZanTag("AAAA")));
    EXPECT_EQ(bag.GetIndex(ZanTag("BBBB")), 0);
    EXPECT_EQ(bag.GetIndex(ZanTag("CCCC")), 1);
    unsigned kind;
    EXPECT_THROW(bag.GetIDByIndex(2, kind), CXInvalidArgException);
    EXPECT_THROW(bag.GetIDByIndex(-1, kind), CXInvalidArgException);
    bag.RemoveAll();
    EXPECT_TRUE(bag.IsEmpty());
    EXPECT_FALSE(bag.HasValue(ZanTag("CCCC")));
}

// Thousands of entries exercise the id index; a plain vector searched linearly is the
// reference for both the values and the index order.
TEST(CustomDataEntries, LargeBagMatchesAReferenceModel)
{
    std::mt19937 random(1234);
    std::vector<std::pair<unsigned, int>> model;
    CCustomData bag;
    auto modelFind = [&model](unsigned id)
    {
        for (size_t i = 0; i < model.size(); ++i)
            if (model[i].first == id)
                return int(i);
        return -1;
    };
    for (int step = 0; step < 20000; ++step)
    {
        // Grow to about 3000 entries, then shrink back below the small-bag size.
        bool growing = step < 12000;
        unsigned id = random() % 4000 * 2654435761u;
        int value = int(random());
        bool set = growing ? random() % 4 != 0 : random() % 8 == 0;
        if (!set && !growing && !model.empty() && random() % 2)
            id = model[random() % model.size()].first; // mostly remove ids that are there
        int at = modelFind(id);
        if (set)
        {
            bag.SetInt(id, value);
            if (at < 0)
                model.emplace_back(id, value);
            else
                model[size_t(at)].second = value;
        }
        else
        {
            ASSERT_EQ(bag.RemoveValue(id), at >= 0);
            if (at >= 0)
                model.erase(model.begin() + at);
        }
        ASSERT_EQ(bag.GetIndex(id), modelFind(id)) << step;
        if (step % 1000 == 999 || step == 19999)
        {
            ASSERT_EQ(bag.GetCount(), int(model.size()));
            for (size_t i = 0; i < model.size(); ++i)
            {
                unsigned kind;
                ASSERT_EQ(bag.GetIDByIndex(int(i), kind), model[i].first);
                ASSERT_EQ(bag.GetIndex(model[i].first), int(i));
                ASSERT_EQ(bag.GetInt(model[i].first), model[i].second);
            }
            CCustomData copy(bag); // the copy rebuilds its own index
            for (size_t i = 0; i < model.size(); i += 7)
                ASSERT_EQ(copy.GetIndex(model[i].first), int(i));
        }
    }
    EXPECT_LT(model.size(), 16u) << "the walk should end on a small bag";
}

// ---------------------------------------------------------------- copies and equality

TEST(CustomDataCopies, CopiesAreDeepAndMovesEmptyTheSource)
{
    CCustomData original = MakeEveryKind();
    CCustomData copy(original);
    EXPECT_TRUE(copy == original);
    Deepest(copy)->SetDouble(4, 9.0);
    copy.SetStringArray(ZanTag("ARR "), Strings({"changed"}));
    EXPECT_FALSE(copy == original);
    EXPECT_EQ(Deepest(original)->GetDouble(4), 0.25);
    EXPECT_TRUE(original == MakeEveryKind());

    CCustomData assigned;
    assigned.SetInt(5, 5);
    assigned = original;
    EXPECT_TRUE(assigned == original);
    CCustomData moved(std::move(assigned));
    EXPECT_TRUE(moved == original);
    EXPECT_TRUE(assigned.IsEmpty());
    assigned = std::move(moved);
    EXPECT_TRUE(assigned == original);
}

TEST(CustomDataCopies, ValuesTakenFromTheBagItselfAreCopiedFirst)
{
    CCustomData bag = MakeEveryKind();
    const CCustomData before = bag;
    bag.SetCustomData(ZanTag("LVL1"), *bag.GetCustomData(ZanTag("LVL1")));
    EXPECT_TRUE(bag == before);

    bag.SetCustomData(ZanTag("SELF"), bag);
    ASSERT_NE(bag.GetCustomData(ZanTag("SELF")), nullptr);
    EXPECT_TRUE(*bag.GetCustomData(ZanTag("SELF")) == before);

    // The nested bag holds an entry under its own id: appending it replaces it.
    CCustomData& nested = bag.CreateCustomData(ZanTag("NEST"));
    nested.SetInt(ZanTag("NEST"), 4);
    nested.SetInt(ZanTag("NEW "), 5);
    bag.Append(nested);
    EXPECT_EQ(bag.GetKind(ZanTag("NEST")), _CustomDataInt);
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
    CCustomData a, b;
    a.SetInt(1, 1);
    a.SetInt(2, 2);
    b.SetInt(2, 2);
    b.SetInt(1, 1);
    EXPECT_FALSE(a == b) << "order matters";
    CCustomData c;
    c.SetInt(1, 1);
    c.SetUInt(2, 2);
    EXPECT_FALSE(a == c) << "kinds matter";
    c.SetFloat(3, 0.0f);
    CCustomData d = c;
    d.SetFloat(3, -0.0f);
    EXPECT_FALSE(c == d);
    int other;
    c.SetPointer(4, &g_Anchor);
    d = c;
    EXPECT_TRUE(c == d);
    d.SetPointer(4, &other);
    EXPECT_FALSE(c == d);

    // Append replaces in place and adds the new ids at the end in the other bag's order.
    CCustomData extra;
    extra.SetInt(9, 9);
    extra.SetString(1, "one");
    extra.SetInt(8, 8);
    a.Append(extra);
    ASSERT_EQ(a.GetCount(), 4);
    unsigned kind, ids[4];
    for (int i = 0; i < 4; ++i)
        ids[i] = a.GetIDByIndex(i, kind);
    EXPECT_EQ(std::vector<unsigned>(ids, ids + 4), (std::vector<unsigned>{1, 2, 9, 8}));
    EXPECT_EQ(a.GetString(1), "one");
    a.Append(a);
    EXPECT_EQ(a.GetCount(), 4);
}

// ---------------------------------------------------------------- archive

TEST(CustomDataArchive, EveryKindRoundTripsThroughMemory)
{
    CCustomData original = MakeEveryKind();
    const CCustomData expected = WithoutPointers(original);
    ASSERT_LT(expected.GetCount(), original.GetCount());

    CCustomData loaded;
    loaded.SetString(ZanTag("OLD "), "replaced by the load");
    Bytes bytes = Store(original);
    Load(loaded, bytes, bytes.size());
    EXPECT_TRUE(loaded == expected);
    EXPECT_TRUE(std::isnan(loaded.GetDouble(ZanTag("DBL "))));
    const CCustomData* three = Deepest(loaded);
    ASSERT_NE(three, nullptr);
    size_t size;
    ASSERT_NE(three->GetBytes(3, size), nullptr);
    EXPECT_EQ(size, 5u);
    EXPECT_FALSE(loaded.GetCustomData(ZanTag("LVL1"))
                     ->GetCustomData(ZanTag("LVL2"))
                     ->HasValue(ZanTag("PTR ")));
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
    expected.U32(ZanTag("PATH")).U32(_CustomDataString).Text("ab");
    expected.U32(ZanTag("NEST")).U32(_CustomDataCustomData).U32(1);
    expected.U32(ZanTag("ON  ")).U32(_CustomDataBool).U8(1);
    expected.U32(ZanTag("LIST")).U32(_CustomDataStringArray).U32(1).Text("x");
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
    CCustomData source = MakeEveryKind();
    Bytes bytes = Store(source);
    CCustomData target;
    target.SetString(ZanTag("KEEP"), "untouched");
    target.CreateCustomData(1).SetInt(2, 3);
    const CCustomData before = target;
    for (size_t length = 0; length < bytes.size(); ++length)
    {
        try
        {
            Load(target, bytes, length);
            ADD_FAILURE() << "a prefix of " << length << " bytes loaded";
        }
        catch (const CXArchiveException&)
        {
        }
        ASSERT_TRUE(target == before) << length;
        ASSERT_FALSE(target.SetData(bytes.data(), length)) << length;
        ASSERT_TRUE(target == before) << length;
    }
    Load(target, bytes, bytes.size());
    EXPECT_TRUE(target == WithoutPointers(source));
}

TEST(CustomDataArchive, MalformedValuesAndHugeCountsAreRefused)
{
    auto expectRefused = [](CXArchiveException::Cause cause, CBytesWriter writer)
    {
        writer.m_Bytes.resize(writer.m_Bytes.size() + 64, 0); // only the fault may stop it
        CCustomData bag;
        bag.SetInt(1, 1);
        ExpectArchiveError(cause, [&] { Load(bag, writer.m_Bytes, writer.m_Bytes.size()); });
        EXPECT_EQ(bag.GetCount(), 1);
        EXPECT_EQ(bag.GetInt(1), 1);
    };
    auto oneEntry = [](uint32_t kind) { return CBytesWriter().U32(1).U32(5).U32(kind); };
    using E = CXArchiveException;
    for (uint32_t kind : {0u, uint32_t(_CustomDataPointer), 13u, 0xFFFFFFFFu})
        expectRefused(E::_BadValue, oneEntry(kind));
    expectRefused(E::_BadValue, oneEntry(_CustomDataBool).U8(2));
    CBytesWriter twice;
    twice.U32(2).U32(5).U32(_CustomDataInt).U32(1).U32(5).U32(_CustomDataInt).U32(2);
    expectRefused(E::_BadValue, twice);

    // Counts far beyond the bytes that remain fail before anything is allocated for them
    // (an allocation of that size would raise std::bad_alloc instead).
    expectRefused(E::_BadCount, CBytesWriter().U32(0xFFFFFFF0u));
    expectRefused(E::_BadCount, CBytesWriter().U32(0xFFFFFFFFu).U32(0).U32(0x40000000u));
    for (uint32_t kind :
         {_CustomDataBytes, _CustomDataStringArray, _CustomDataString, _CustomDataCustomData})
        expectRefused(E::_BadCount, oneEntry(kind).U32(0xFFFFFFF0u));
}

TEST(CustomDataArchive, NestingBeyondTheDepthLimitRaisesTooDeep)
{
    // Ten thousand nested bags written by hand: the reader must stop, not overflow the stack.
    CBytesWriter deep;
    for (int level = 0; level < 10000; ++level)
        deep.U32(1).U32(ZanTag("DEEP")).U32(_CustomDataCustomData);
    deep.U32(0);
    CCustomData bag;
    bag.SetInt(1, 1);
    ExpectArchiveError(CXArchiveException::_TooDeep,
                       [&] { Load(bag, deep.m_Bytes, deep.m_Bytes.size()); });
    EXPECT_FALSE(bag.SetData(deep.m_Bytes.data(), deep.m_Bytes.size()));
    EXPECT_EQ(bag.GetInt(1), 1);

    // Exactly at the limit a bag stores and loads; one level more is refused on storing
    // too, so that nothing is written that could not be read back.
    CXMemFile probe;
    const int limit = CXArchive(&probe, CXArchive::store).GetMaxDepth();
    CCustomData chain;
    CCustomData* level = &chain;
    for (int i = 1; i < limit; ++i)
        level = &level->CreateCustomData(ZanTag("DEEP"));
    level->SetInt(7, 7);
    CXArray<unsigned char> block;
    ASSERT_TRUE(chain.GetData(block));
    CCustomData reloaded;
    ASSERT_TRUE(reloaded.SetData(block.GetData(), size_t(block.GetSize())));
    EXPECT_TRUE(reloaded == chain);
    level->CreateCustomData(ZanTag("DEEP"));
    EXPECT_FALSE(chain.GetData(block));
    EXPECT_TRUE(block.IsEmpty());
    ExpectArchiveError(CXArchiveException::_TooDeep, [&] { Store(chain); });
}

TEST(CustomDataArchive, RawBlockRoundTripsAndGarbageChangesNothing)
{
    CCustomData original = MakeEveryKind();
    CXArray<unsigned char> block;
    ASSERT_TRUE(original.GetData(block));
    CCustomData rebuilt;
    ASSERT_TRUE(rebuilt.SetData(block.GetData(), size_t(block.GetSize())));
    EXPECT_TRUE(rebuilt == WithoutPointers(original));

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
        if (probe.SetData(garbage.data(), garbage.size()))
        {
            // Rarely, garbage is a valid bag: then it must read back as itself.
            CXArray<unsigned char> again;
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
    CCustomData empty;
    ASSERT_TRUE(empty.GetData(block));
    ASSERT_TRUE(rebuilt.SetData(block.GetData(), size_t(block.GetSize())));
    EXPECT_TRUE(rebuilt.IsEmpty());
}

// ---------------------------------------------------------------- checksums and dump

TEST(CustomDataChecksum, EqualBagsAgreeAndAnyChangeShows)
{
    CCustomData a = MakeEveryKind();
    CCustomData b = MakeEveryKind();
    EXPECT_EQ(a.GetChecksum(), b.GetChecksum());
    for (int i = 0; i < a.GetCount(); ++i)
    {
        unsigned kind;
        unsigned id = a.GetIDByIndex(i, kind);
        EXPECT_EQ(a.GetChecksum(id), b.GetChecksum(id));
        EXPECT_EQ(a.GetChecksum(id) == 0, kind == _CustomDataPointer) << i;
    }
    EXPECT_EQ(a.GetChecksum(ZanTag("NONE")), 0u);

    const unsigned whole = a.GetChecksum();
    std::vector<std::function<void(CCustomData&)>> changes = {
        [](CCustomData& bag) { bag.SetBool(ZanTag("BOOL"), false); },
        [](CCustomData& bag) { bag.SetUInt(ZanTag("INT "), unsigned(INT_MIN)); }, // kind
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
    };
    for (size_t i = 0; i < changes.size(); ++i)
    {
        CCustomData changed = a;
        changes[i](changed);
        EXPECT_NE(changed.GetChecksum(), whole) << "change " << i;
    }
    // Pointers are addresses of this process: their value never counts.
    int other;
    b.SetPointer(ZanTag("PTR "), &other);
    EXPECT_EQ(b.GetChecksum(), whole);
    size_t size;
    const uint8_t* blob = a.GetBytes(ZanTag("BLOB"), size);
    Bytes flipped(blob, blob + size);
    flipped[150] ^= 0x10;
    b.SetBytes(ZanTag("BLOB"), flipped.data(), flipped.size());
    EXPECT_NE(b.GetChecksum(ZanTag("BLOB")), a.GetChecksum(ZanTag("BLOB")));
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

// ---------------------------------------------------------------- files

using CustomDataFiles = CTempFolder;

// A disk file, two bags and a marker: each load takes its own bytes only.
TEST_F(CustomDataFiles, EveryKindRoundTripsThroughADiskFile)
{
    CCustomData original = MakeEveryKind();
    const CCustomData expected = WithoutPointers(original);
    std::string path = PathOf("bags.bin");
    CCustomData small;
    small.SetInt(1, 2);
    {
        CXDiskFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CXDiskFile::modeWrite));
        CXArchive ar(&file, CXArchive::store, 256); // a small buffer splits the blocks
        original.Serialize(ar);
        small.Serialize(ar);
        ar << uint32_t(0xC0FFEE);
        ar.Close();
        ASSERT_TRUE(file.Close());
    }
    CCustomData first, second;
    uint32_t marker = 0;
    {
        CXDiskFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CXDiskFile::modeRead));
        CXArchive ar(&file, CXArchive::load, 256);
        first.Serialize(ar);
        second.Serialize(ar);
        ar >> marker;
        EXPECT_EQ(ar.GetRemaining(), 0u);
    }
    EXPECT_TRUE(first == expected);
    EXPECT_TRUE(second == small);
    EXPECT_EQ(marker, 0xC0FFEEu);
}

TEST_F(CustomDataFiles, PrefsSavedValuesLoadBackAndReplaceTheBag)
{
    std::string path = PathOf("3dprefs.prefs");
    CCustomData saved = MakeEveryKind();
    ASSERT_TRUE(saved.SaveToPrefs(path.c_str(), kPrefsId1, kPrefsId2));
    CCustomData loaded;
    loaded.SetInt(ZanTag("OLD "), 1);
    ASSERT_TRUE(loaded.LoadFromPrefs(path.c_str(), kPrefsId1, kPrefsId2));
    EXPECT_TRUE(loaded == WithoutPointers(saved));

    CCustomData second;
    second.SetFloat(ZanTag("SMAG"), 0.54105204f);
    ASSERT_TRUE(second.SaveToPrefs(path.c_str(), kPrefsId1, kPrefsId2)) << "over an old file";
    ASSERT_TRUE(loaded.LoadFromPrefs(path.c_str(), kPrefsId1, kPrefsId2));
    EXPECT_TRUE(loaded == second);
    EXPECT_TRUE(Strays("3dprefs.prefs").empty());
}

TEST_F(CustomDataFiles, PrefsWrongIdsAndDamagedFilesAreRefused)
{
    std::string path = PathOf("3dprefs.prefs");
    CCustomData saved = MakeEveryKind();
    ASSERT_TRUE(saved.SaveToPrefs(path.c_str(), kPrefsId1, kPrefsId2));
    CCustomData bag;
    bag.SetString(ZanTag("KEEP"), "kept");
    const CCustomData before = bag;

    EXPECT_FALSE(bag.LoadFromPrefs(path.c_str(), kPrefsId2, kPrefsId1));
    EXPECT_FALSE(bag.LoadFromPrefs(path.c_str(), kPrefsId1, 0));
    EXPECT_FALSE(bag.LoadFromPrefs(PathOf("missing.prefs").c_str(), kPrefsId1, kPrefsId2));
    EXPECT_FALSE(bag.LoadFromPrefs(m_Folder.c_str(), kPrefsId1, kPrefsId2)) << "a folder";
    EXPECT_FALSE(bag.LoadFromPrefs(nullptr, kPrefsId1, kPrefsId2));
    ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(bag.LoadFromPrefs(PathOf("fifo").c_str(), kPrefsId1, kPrefsId2)) << "no wait";
    EXPECT_TRUE(bag == before);

    const Bytes good = ReadFile(path);
    ASSERT_GT(good.size(), 24u);
    std::string damagedPath = PathOf("damaged.prefs");
    for (size_t length = 0; length < good.size(); ++length)
    {
        WriteFile(damagedPath, Bytes(good.begin(), good.begin() + long(length)));
        ASSERT_FALSE(bag.LoadFromPrefs(damagedPath.c_str(), kPrefsId1, kPrefsId2)) << length;
    }
    for (size_t at = 0; at < good.size(); ++at)
    {
        Bytes damaged = good;
        damaged[at] ^= 0x40;
        WriteFile(damagedPath, damaged);
        ASSERT_FALSE(bag.LoadFromPrefs(damagedPath.c_str(), kPrefsId1, kPrefsId2)) << at;
    }
    Bytes longer = good;
    longer.push_back(0);
    WriteFile(damagedPath, longer);
    EXPECT_FALSE(bag.LoadFromPrefs(damagedPath.c_str(), kPrefsId1, kPrefsId2));
    EXPECT_TRUE(bag == before);
    EXPECT_TRUE(bag.LoadFromPrefs(path.c_str(), kPrefsId1, kPrefsId2)) << "the good file";
}

TEST_F(CustomDataFiles, PrefsFailedSavesKeepTheOldFile)
{
    std::string path = PathOf("3dprefs.prefs");
    CCustomData old;
    old.SetString(ZanTag("OLD "), "old values");
    ASSERT_TRUE(old.SaveToPrefs(path.c_str(), kPrefsId1, kPrefsId2));
    const Bytes oldBytes = ReadFile(path);

    CCustomData bigger = MakeEveryKind();
    Bytes large(256 * 1024, 0x5A);
    bigger.SetBytes(ZanTag("LARG"), large.data(), large.size());

    EXPECT_FALSE(bigger.SaveToPrefs(PathOf("missing/3dprefs.prefs").c_str(), 1, 2));
    EXPECT_FALSE(std::filesystem::exists(PathOf("missing")));
    EXPECT_FALSE(bigger.SaveToPrefs(nullptr, 1, 2));

    // A folder in the way of the target: the rename fails, the folder stays.
    std::filesystem::create_directory(PathOf("taken"));
    EXPECT_FALSE(bigger.SaveToPrefs(PathOf("taken").c_str(), 1, 2));
    EXPECT_TRUE(std::filesystem::is_directory(PathOf("taken")));
    std::filesystem::remove(PathOf("taken"));

    // A write that fails halfway (file size limit, as on a full disk).
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool wrote = bigger.SaveToPrefs(path.c_str(), kPrefsId1, kPrefsId2);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(wrote);
    EXPECT_EQ(ReadFile(path), oldBytes);
    EXPECT_TRUE(Strays("3dprefs.prefs").empty()) << "the temporary file is removed";

    // A folder the user may not write to (root ignores permissions: skip that part).
    if (::geteuid() != 0)
    {
        ASSERT_EQ(::chmod(m_Folder.c_str(), 0500), 0);
        EXPECT_FALSE(bigger.SaveToPrefs(path.c_str(), kPrefsId1, kPrefsId2));
        ::chmod(m_Folder.c_str(), 0700);
        EXPECT_EQ(ReadFile(path), oldBytes);
    }
    CCustomData reloaded;
    ASSERT_TRUE(reloaded.LoadFromPrefs(path.c_str(), kPrefsId1, kPrefsId2));
    EXPECT_TRUE(reloaded == old);
}
