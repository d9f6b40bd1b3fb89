// The archive's encoding, its buffer boundaries, class records and its refusals.
#include "common/zan_test_helpers.h"

#include <3dzan/foundation/xarchive.h>
#include <3dzan/foundation/xobject.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

using zantest::LoadFromBytes;
using zantest::StoreToBytes;

namespace
{
// A serializable test class holding a value and, optionally, a nested object.
class CTestLink : public CXObject
{
    ZAN_DECLARE_DYNCREATE(CTestLink)
public:
    ~CTestLink() override { delete m_Next; }
    void Serialize(CXArchive& ar) override
    {
        if (ar.IsStoring())
        {
            ar << m_Value;
            ar.WriteObject(m_Next);
        }
        else
        {
            ar >> m_Value;
            m_Next = static_cast<CTestLink*>(ar.ReadObject(ZAN_RUNTIME_CLASS(CTestLink)));
        }
    }
    int m_Value = 0;
    CTestLink* m_Next = nullptr;
};
ZAN_IMPLEMENT_DYNCREATE(CTestLink, CXObject)

class CTestDerivedLink : public CTestLink
{
    ZAN_DECLARE_DYNCREATE(CTestDerivedLink)
};
ZAN_IMPLEMENT_DYNCREATE(CTestDerivedLink, CTestLink)

class CTestOther : public CXObject
{
    ZAN_DECLARE_DYNCREATE(CTestOther)
};
ZAN_IMPLEMENT_DYNCREATE(CTestOther, CXObject)

class CTestAbstract : public CXObject
{
    ZAN_DECLARE_RUNTIME_CLASS(CTestAbstract)
};
ZAN_IMPLEMENT_RUNTIME_CLASS(CTestAbstract, CXObject)

struct CAllValues
{
    bool b = true;
    int8_t i8 = -5;
    uint8_t u8 = 250;
    int16_t i16 = -30000;
    uint16_t u16 = 65000;
    int i32 = INT_MIN;
    unsigned u32 = 0xDEADBEEF;
    int64_t i64 = INT64_MIN + 7;
    uint64_t u64 = 0xFEDCBA9876543210ull;
    float f = -1.5e-30f;
    double d = 6.02214076e23;
    CXTString s = "Scène \"3D\"";

    void Serialize(CXArchive& ar)
    {
        if (ar.IsStoring())
            ar << b << i8 << u8 << i16 << u16 << i32 << u32 << i64 << u64 << f << d << s;
        else
            ar >> b >> i8 >> u8 >> i16 >> u16 >> i32 >> u32 >> i64 >> u64 >> f >> d >> s;
    }
    bool operator==(const CAllValues& o) const
    {
        return b == o.b && i8 == o.i8 && u8 == o.u8 && i16 == o.i16 && u16 == o.u16 &&
               i32 == o.i32 && u32 == o.u32 && i64 == o.i64 && u64 == o.u64 && f == o.f &&
               d == o.d && s == o.s;
    }
};

CXArchiveException::Cause CauseOf(const std::vector<uint8_t>& bytes,
                                  const std::function<void(CXArchive&)>& load)
{
    try
    {
        LoadFromBytes(bytes, load);
    }
    catch (const CXArchiveException& e)
    {
        return e.GetCause();
    }
    ADD_FAILURE() << "no exception";
    return CXArchiveException::_GenericError;
}
} // namespace

TEST(Archive, EncodingIsLittleEndianWithCountedStrings)
{
    auto bytes = StoreToBytes([](CXArchive& ar) {
        ar << uint32_t(0x01020304) << true << CXTString("ab") << 1.0f;
        ar.WriteCount(5);
        ar.WriteCount(0x1'0000'0000ull);
    });
    std::vector<uint8_t> expected = {4, 3, 2, 1, 1, 2, 0, 0, 0, 'a', 'b', 0, 0, 0x80, 0x3F,
                                     5, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
}

TEST(Archive, EveryValueTypeRoundTripsThroughMemoryAndDisk)
{
    CAllValues source;
    source.d = std::nextafter(1.0, 2.0);
    CAllValues loaded{false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, ""};
    zantest::RoundTrip(source, loaded);
    EXPECT_TRUE(source == loaded);

    zantest::CTempDir dir;
    std::string path = dir.File("values.bin");
    {
        CXDiskFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CXDiskFile::modeWrite));
        CXArchive ar(&file, CXArchive::store);
        for (int i = 0; i < 1000; ++i)
            source.Serialize(ar);
        ar.Close();
        ASSERT_TRUE(file.Close());
    }
    CXDiskFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CXDiskFile::modeRead));
    CXArchive ar(&file, CXArchive::load);
    for (int i = 0; i < 1000; ++i)
    {
        CAllValues back{false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, ""};
        back.Serialize(ar);
        ASSERT_TRUE(source == back) << "record " << i;
    }
    EXPECT_EQ(ar.GetRemaining(), 0u);
    EXPECT_THROW(ar >> source.i32, CXArchiveException);
}

TEST(Archive, BlocksOfEverySizeCrossTheBufferBoundary)
{
    // A tiny buffer makes values, blocks and strings straddle refills in both directions.
    std::mt19937 rng(42);
    std::vector<std::vector<uint8_t>> blocks;
    for (int i = 0; i < 200; ++i)
    {
        std::vector<uint8_t> block(rng() % 700);
        for (auto& b : block)
            b = uint8_t(rng());
        blocks.push_back(block);
    }
    CXMemFile file;
    {
        CXArchive ar(&file, CXArchive::store, 256);
        for (auto& block : blocks)
        {
            ar.WriteCount(block.size());
            ar.Write(block.data(), block.size());
            ar << uint16_t(block.size());
        }
        ar.Close();
    }
    file.SeekToBegin();
    CXArchive ar(&file, CXArchive::load, 256);
    for (auto& block : blocks)
    {
        uint64_t n = ar.ReadCount();
        ASSERT_EQ(n, block.size());
        std::vector<uint8_t> back(n);
        ar.Read(back.data(), n);
        EXPECT_EQ(back, block);
        uint16_t tail;
        ar >> tail;
        EXPECT_EQ(tail, uint16_t(block.size()));
    }
}

TEST(Archive, TruncatedStreamsRaiseEndOfFile)
{
    CAllValues source;
    auto bytes = StoreToBytes([&](CXArchive& ar) { source.Serialize(ar); });
    for (size_t n = 0; n < bytes.size(); ++n)
    {
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + long(n));
        CAllValues target;
        try
        {
            LoadFromBytes(prefix, [&](CXArchive& ar) { target.Serialize(ar); });
            FAIL() << "prefix of " << n << " bytes was accepted";
        }
        catch (const CXArchiveException& e)
        {
            EXPECT_TRUE(e.GetCause() == CXArchiveException::_EndOfFile ||
                        e.GetCause() == CXArchiveException::_BadCount)
                << n << ": " << e.what();
        }
    }
}

TEST(Archive, CountsAreCheckedAgainstTheBytesLeft)
{
    auto bytes = StoreToBytes([](CXArchive& ar) {
        ar.WriteCount(10);
        for (int i = 0; i < 10; ++i)
            ar << 1.0;
    });
    LoadFromBytes(bytes, [](CXArchive& ar) { EXPECT_EQ(ar.ReadCount(8), 10u); });
    EXPECT_EQ(CauseOf(bytes, [](CXArchive& ar) { ar.ReadCount(9); }),
              CXArchiveException::_BadCount);
    EXPECT_EQ(CauseOf(bytes, [](CXArchive& ar) { ar.ReadCount(1, 9); }),
              CXArchiveException::_BadCount);

    // A 64-bit count far beyond the stream is refused before anything is allocated.
    auto huge = StoreToBytes([](CXArchive& ar) { ar.WriteCount(UINT64_MAX / 2); });
    EXPECT_EQ(CauseOf(huge, [](CXArchive& ar) { ar.ReadCount(); }), CXArchiveException::_BadCount);
    // So is a string that claims more bytes than remain.
    auto longString = StoreToBytes([](CXArchive& ar) { ar << uint32_t(0xFFFFFFF0) << 'x'; });
    EXPECT_EQ(CauseOf(longString, [](CXArchive& ar) { ar.ReadString(); }),
              CXArchiveException::_BadCount);
}

TEST(Archive, InvalidValuesAndModesAreRefused)
{
    auto bytes = std::vector<uint8_t>{2};
    EXPECT_EQ(CauseOf(bytes, [](CXArchive& ar) {
                  bool b;
                  ar >> b;
              }),
              CXArchiveException::_BadValue);

    CXMemFile file;
    CXArchive storing(&file, CXArchive::store);
    int value;
    EXPECT_THROW(storing >> value, CXArchiveException);

    uint8_t raw[4] = {1, 2, 3, 4};
    CXMemFile view(raw, sizeof raw);
    EXPECT_THROW(view.Write(raw, 1), CXArchiveException);
    CXArchive loading(&view, CXArchive::load);
    EXPECT_THROW(loading << 1, CXArchiveException);
    EXPECT_THROW(CXArchive(nullptr, CXArchive::load), CXInvalidArgException);
}

TEST(Archive, ObjectsAreRecreatedByClassName)
{
    CTestLink head;
    head.m_Value = 1;
    head.m_Next = new CTestDerivedLink;
    head.m_Next->m_Value = 2;
    auto bytes = StoreToBytes([&](CXArchive& ar) { ar.WriteObject(&head); });
    LoadFromBytes(bytes, [&](CXArchive& ar) {
        std::unique_ptr<CXObject> object(ar.ReadObject(ZAN_RUNTIME_CLASS(CXObject)));
        auto* link = dynamic_cast<CTestLink*>(object.get());
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(link->GetRuntimeClassDescriptor(), ZAN_RUNTIME_CLASS(CTestLink));
        EXPECT_EQ(link->m_Value, 1);
        ASSERT_NE(link->m_Next, nullptr);
        EXPECT_TRUE(link->m_Next->IsKindOf(ZAN_RUNTIME_CLASS(CTestDerivedLink)));
        EXPECT_EQ(link->m_Next->m_Value, 2);
        EXPECT_EQ(link->m_Next->m_Next, nullptr);
    });

    // A class of the wrong family, an unknown name, an abstract class, an absurd name length.
    auto other = StoreToBytes([](CXArchive& ar) {
        CTestOther o;
        ar.WriteObject(&o);
    });
    EXPECT_EQ(CauseOf(other, [](CXArchive& ar) { delete ar.ReadObject(ZAN_RUNTIME_CLASS(CTestLink)); }),
              CXArchiveException::_BadClass);
    auto unknown = StoreToBytes([](CXArchive& ar) { ar << CXTString("CNoSuchClass"); });
    EXPECT_EQ(CauseOf(unknown, [](CXArchive& ar) { delete ar.ReadObject(); }),
              CXArchiveException::_BadClass);
    auto abstract = StoreToBytes([](CXArchive& ar) { ar.WriteClass(ZAN_RUNTIME_CLASS(CTestAbstract)); });
    EXPECT_EQ(CauseOf(abstract, [](CXArchive& ar) { delete ar.ReadObject(); }),
              CXArchiveException::_BadClass);
    auto longName = StoreToBytes([](CXArchive& ar) { ar << CXTString(std::string(5000, 'C')); });
    EXPECT_EQ(CauseOf(longName, [](CXArchive& ar) { ar.ReadClass(); }),
              CXArchiveException::_BadClass);
}

TEST(Archive, NestingDeeperThanTheLimitIsRefusedWithoutRecursingFurther)
{
    // Hand-made chain of 100000 nested links: each level is a class name and a value.
    std::vector<uint8_t> bytes = StoreToBytes([](CXArchive& ar) {
        for (int i = 0; i < 100000; ++i)
            ar << CXTString("CTestLink") << i;
        ar << uint32_t(0);
    });
    EXPECT_EQ(CauseOf(bytes, [](CXArchive& ar) { delete ar.ReadObject(); }),
              CXArchiveException::_TooDeep);

    // Within the limit the same shape loads.
    auto shallow = StoreToBytes([](CXArchive& ar) {
        for (int i = 0; i < 50; ++i)
            ar << CXTString("CTestLink") << i;
        ar << uint32_t(0);
    });
    LoadFromBytes(shallow, [](CXArchive& ar) {
        std::unique_ptr<CXObject> head(ar.ReadObject());
        int depth = 0;
        for (auto* link = static_cast<CTestLink*>(head.get()); link; link = link->m_Next)
            EXPECT_EQ(link->m_Value, depth++);
        EXPECT_EQ(depth, 50);
    });
}

TEST(Archive, UserDataTravelsWithTheArchive)
{
    int context = 7;
    CXMemFile file;
    CXArchive ar(&file, CXArchive::store);
    EXPECT_EQ(ar.GetData(), nullptr);
    ar.SetData(&context);
    EXPECT_EQ(ar.GetData(), &context);
}

TEST(DiskFile, OpenRefusesMissingFilesAndFolders)
{
    zantest::CTempDir dir;
    CXDiskFile file;
    EXPECT_FALSE(file.Open(dir.File("missing").c_str(), CXDiskFile::modeRead));
    EXPECT_FALSE(file.Open(dir.Path().c_str(), CXDiskFile::modeRead));
    EXPECT_FALSE(file.Open(dir.File("no/such/folder").c_str(), CXDiskFile::modeWrite));
    EXPECT_FALSE(file.IsOpen());
}

TEST(RuntimeClass, RegistryFindsDeclaredClassesAndRefusesImpostors)
{
    EXPECT_EQ(CXRuntimeClass::FromName("CTestLink"), ZAN_RUNTIME_CLASS(CTestLink));
    EXPECT_EQ(CXRuntimeClass::FromName("CXObject"), ZAN_RUNTIME_CLASS(CXObject));
    EXPECT_EQ(CXRuntimeClass::FromName("nothing"), nullptr);
    EXPECT_EQ(CXRuntimeClass::CreateObject("CTestAbstract"), nullptr);

    CXRuntimeClass impostor = {"CTestLink", nullptr, nullptr};
    EXPECT_FALSE(CXRuntimeClass::DeclareRuntimeClass(&impostor));
    EXPECT_TRUE(CXRuntimeClass::DeclareRuntimeClass(ZAN_RUNTIME_CLASS(CTestLink)));
    CXRuntimeClass::UndeclareRuntimeClass(&impostor); // not the declared record: no effect
    EXPECT_EQ(CXRuntimeClass::FromName("CTestLink"), ZAN_RUNTIME_CLASS(CTestLink));

    std::unique_ptr<CXObject> object(CXRuntimeClass::CreateObject("CTestDerivedLink"));
    ASSERT_NE(object, nullptr);
    EXPECT_TRUE(object->IsKindOf(ZAN_RUNTIME_CLASS(CTestLink)));
    EXPECT_TRUE(object->IsKindOf(ZAN_RUNTIME_CLASS(CXObject)));
    EXPECT_FALSE(object->IsKindOf(ZAN_RUNTIME_CLASS(CTestOther)));

    auto classes = CXRuntimeClass::GetDeclaredClasses();
    EXPECT_TRUE(std::find(classes.begin(), classes.end(), ZAN_RUNTIME_CLASS(CTestOther)) !=
                classes.end());
}

namespace
{
struct CCountedShared : CInstanciatedObject
{
    explicit CCountedShared(int& alive) : m_Alive(alive) { ++m_Alive; }
    ~CCountedShared() override { --m_Alive; }
    int& m_Alive;
};
} // namespace

TEST(InstanciatedObject, LastHolderDestroys)
{
    int alive = 0;
    auto* shared = new CCountedShared(alive);
    EXPECT_EQ(shared->GetInstanceCount(), 1);
    EXPECT_FALSE(shared->IsInstanced());
    EXPECT_EQ(shared->AddRef(), 2);
    EXPECT_TRUE(shared->IsInstanced());
    EXPECT_FALSE(shared->Delete());
    EXPECT_EQ(alive, 1);
    EXPECT_TRUE(shared->DeleteMe());
    EXPECT_EQ(alive, 0);

    CCountedShared original(alive);
    original.AddRef();
    CCountedShared copy(original);
    EXPECT_EQ(copy.GetInstanceCount(), 1); // a copy is a new object with its own holder
}
