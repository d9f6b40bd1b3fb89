// Arrays, hash containers and bit arrays against simple standard-library references.
#include "common/zan_test_helpers.h"

#include <3dzan/foundation/bitarray.h>
#include <3dzan/foundation/hashmap.h>
#include <3dzan/foundation/xarray.h>

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <unordered_map>

TEST(XArray, IndicesOutsideTheArrayRaise)
{
    CXArray<int, int> a;
    EXPECT_THROW(a[0], CXInvalidArgException);
    a.SetAtGrow(4, 9);
    EXPECT_EQ(a.GetSize(), 5);
    EXPECT_EQ(a[0], 0);
    EXPECT_EQ(a[4], 9);
    EXPECT_THROW(a.GetAt(5), CXInvalidArgException);
    EXPECT_THROW(a.GetAt(-1), CXInvalidArgException);
    EXPECT_THROW(a.SetAt(5, 1), CXInvalidArgException);
    EXPECT_THROW(a.SetAtGrow(-1, 1), CXInvalidArgException);
    EXPECT_THROW(a.RemoveAt(3, 3), CXInvalidArgException);
    EXPECT_THROW(a.InsertAt(6, 1), CXInvalidArgException);
    EXPECT_THROW(a.SetSize(-2), CXInvalidArgException);

    a.InsertAt(1, 7, 2);
    a.RemoveAt(0);
    std::vector<int> expected = {7, 7, 0, 0, 0, 9};
    EXPECT_EQ(a.GetVector(), expected);
    CXArray<int, int> b;
    b.Add(1);
    EXPECT_EQ(b.Append(a), 1);
    EXPECT_EQ(b.GetSize(), 7);
}

TEST(NextPrime, MatchesTrialDivision)
{
    auto isPrime = [](unsigned n) {
        if (n < 2)
            return false;
        for (unsigned d = 2; d * d <= n; ++d)
            if (n % d == 0)
                return false;
        return true;
    };
    for (unsigned n = 0; n < 5000; ++n)
    {
        unsigned p = NextPrime(n);
        ASSERT_GE(p, n);
        ASSERT_TRUE(isPrime(p)) << n;
        for (unsigned q = n; q < p; ++q)
            ASSERT_FALSE(isPrime(q)) << n;
    }
    EXPECT_EQ(NextPrime(101), 101u);
    EXPECT_EQ(NextPrime(4294967290u), 4294967291u);
    EXPECT_EQ(NextPrime(0xFFFFFFFFu), 4294967291u);
}

TEST(HashMap, RandomOperationsAgreeWithAReference)
{
    // Few distinct keys with many removals exercise the backward shift of removal.
    std::mt19937 rng(7);
    CHashMap<unsigned, int, int> map(NextPrime(101));
    std::unordered_map<unsigned, int> reference;
    for (int step = 0; step < 200000; ++step)
    {
        unsigned key = rng() % 3000;
        switch (rng() % 4)
        {
        case 0:
        case 1:
        {
            int value = int(rng());
            EXPECT_EQ(map.Insert(key, value), reference.count(key) == 0);
            reference[key] = value;
            break;
        }
        case 2:
            EXPECT_EQ(map.Remove(key), reference.erase(key) == 1);
            break;
        default:
        {
            const int* found = map.Find(key);
            auto it = reference.find(key);
            ASSERT_EQ(found != nullptr, it != reference.end());
            if (found)
            {
                EXPECT_EQ(*found, it->second);
            }
        }
        }
        ASSERT_EQ(map.GetCount(), reference.size());
    }
    // Iteration visits every entry exactly once.
    std::map<unsigned, int> visited;
    for (unsigned pos = map.GetFirst(); pos != kZanNone;)
    {
        unsigned key;
        int value;
        map.GetNext(pos, key, value);
        EXPECT_TRUE(visited.emplace(key, value).second);
    }
    std::map<unsigned, int> expected(reference.begin(), reference.end());
    EXPECT_EQ(visited, expected);
    EXPECT_THROW(map.GetValueAt(map.GetHashTableSize()), CXInvalidArgException);

    map.RemoveAll();
    EXPECT_EQ(map.GetFirst(), kZanNone);
    EXPECT_EQ(map.Find(1), nullptr);
}

TEST(HashMap, TableGrowsPastThreeQuartersAndStaysPrime)
{
    CHashMap<int, int> map(NextPrime(101));
    EXPECT_EQ(map.GetHashTableSize(), 101u);
    for (int i = 0; i < 1000; ++i)
        map[i * 7919] = i;
    EXPECT_GE(map.GetHashTableSize() * 3, map.GetCount() * 4);
    EXPECT_EQ(NextPrime(map.GetHashTableSize()), map.GetHashTableSize());
    for (int i = 0; i < 1000; ++i)
    {
        int value = -1;
        ASSERT_TRUE(map.Find(i * 7919, value));
        EXPECT_EQ(value, i);
    }
    map.InitHashTable(3); // never below what the entries need
    EXPECT_EQ(map.GetCount(), 1000u);
    EXPECT_TRUE(map.HasKey(7919 * 999));
}

TEST(HashTable, StringsAndIntegersAsSets)
{
    CHashTable<CXTString> names(NextPrime(101));
    EXPECT_TRUE(names.Insert("wood.png"));
    EXPECT_FALSE(names.Insert(CXTString("wood.png")));
    EXPECT_TRUE(names.Insert("wood_1.png"));
    EXPECT_TRUE(names.Find("wood_1.png"));
    EXPECT_FALSE(names.Find("WOOD.png"));
    EXPECT_TRUE(names.Remove("wood.png"));
    EXPECT_FALSE(names.Remove("wood.png"));
    EXPECT_EQ(names.GetCount(), 1u);

    CHashTable<int> ints;
    std::set<int> reference;
    std::mt19937 rng(3);
    for (int i = 0; i < 5000; ++i)
    {
        int v = int(rng() % 2000) - 1000;
        EXPECT_EQ(ints.Insert(v), reference.insert(v).second);
    }
    std::set<int> visited;
    for (unsigned pos = ints.GetFirst(); pos != kZanNone;)
        EXPECT_TRUE(visited.insert(ints.GetNext(pos)).second);
    EXPECT_EQ(visited, reference);
}

TEST(BitArray, AgreesWithVectorOfBool)
{
    std::mt19937 rng(11);
    CBitArray bits;
    std::vector<bool> reference;
    for (int step = 0; step < 20000; ++step)
    {
        switch (rng() % 6)
        {
        case 0:
        {
            unsigned size = rng() % 300;
            bool value = rng() & 1;
            bits.SetSize(size, value);
            reference.resize(size, value);
            break;
        }
        case 1:
        {
            bool value = rng() & 1;
            bits.SetAll(value);
            std::fill(reference.begin(), reference.end(), value);
            break;
        }
        default:
            if (!reference.empty())
            {
                unsigned i = rng() % reference.size();
                bool value = rng() & 1;
                bits.SetAt(i, value);
                reference[i] = value;
            }
        }
        ASSERT_EQ(bits.GetSize(), reference.size());
        ASSERT_EQ(bits.CountSet(), unsigned(std::count(reference.begin(), reference.end(), true)));
    }
    for (unsigned i = 0; i < reference.size(); ++i)
        EXPECT_EQ(bits[i], reference[i]);
    unsigned expectedFirst = kZanNone;
    for (unsigned i = 0; i < reference.size(); ++i)
        if (reference[i])
        {
            expectedFirst = i;
            break;
        }
    EXPECT_EQ(bits.FindNextSet(), expectedFirst);
    EXPECT_THROW(bits.GetAt(bits.GetSize()), CXInvalidArgException);
}

TEST(BitArray, FindNextSetAndArchive)
{
    CBitArray bits(200);
    for (unsigned i : {0u, 63u, 64u, 130u, 199u})
        bits.SetAt(i);
    std::vector<unsigned> found;
    for (unsigned i = bits.FindNextSet(); i != kZanNone; i = bits.FindNextSet(i + 1))
        found.push_back(i);
    EXPECT_EQ(found, (std::vector<unsigned>{0, 63, 64, 130, 199}));

    CBitArray back;
    zantest::RoundTrip(bits, back);
    EXPECT_TRUE(back == bits);

    auto bytes = zantest::StoreToBytes([&](CXArchive& ar) { bits.Serialize(ar); });
    bytes.resize(bytes.size() - 1);
    CBitArray target(3, true);
    EXPECT_THROW(zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { target.Serialize(ar); }),
                 CXArchiveException);
    EXPECT_EQ(target.GetSize(), 3u);
    EXPECT_EQ(target.CountSet(), 3u);
}

TEST(OffsetArray, ArchiveChecksOffsetsAgainstTheBuffer)
{
    COffsetArray offsets;
    for (uint64_t o : {0ull, 16ull, 40ull})
        offsets.Add(o);
    COffsetArray back;
    zantest::RoundTrip(offsets, back);
    EXPECT_TRUE(back == offsets);

    auto bytes = zantest::StoreToBytes([&](CXArchive& ar) { offsets.Serialize(ar); });
    COffsetArray target;
    target.Add(5);
    EXPECT_THROW(zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { target.Serialize(ar, 40); }),
                 CXArchiveException);
    EXPECT_EQ(target.GetSize(), 1u);
    EXPECT_THROW(target.GetAt(1), CXInvalidArgException);
}
