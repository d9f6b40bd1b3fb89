// Keyframable key lists: insertion order and replacement, the look-up modes around keys,
// evaluation before, at, between and after keys, time ranges, copies, and the archive with
// its golden file and malformed input.
//
// The golden file tests/data/animation/keys.bin is written by the disabled test
// KeyframableArchive.DISABLED_WriteGoldenFile:
//   build/tests/animation_tests --gtest_also_run_disabled_tests
//       --gtest_filter=KeyframableArchive.DISABLED_WriteGoldenFile
// Rewrite it only when the archive layout is meant to change.
#include "common/zan_test_helpers.h"
#include "math_test_helpers.h"

#include <3dzan/animation/keyframable.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace
{
const uint64_t kX = ZanKeyClassID(_KeyKindFloat, ZanTag("XXXX"));
const uint64_t kY = ZanKeyClassID(_KeyKindFloat, ZanTag("YYYY"));

C3DFloatKey* AddFloat(C3DKeyframable& list, int time, float value, uint64_t classId = kX)
{
    auto* key = static_cast<C3DFloatKey*>(list.CreateKey(time, classId));
    key->SetValue(value);
    return key;
}

float ValueOf(const C3DKeyframe* key)
{
    return static_cast<const C3DFloatKey*>(key)->GetValue();
}

// Keys X at 0 (value 0) and 10 (value 10), Y at 5 and 10: enough for every mode.
C3DKeyframable TwoClasses()
{
    C3DKeyframable list;
    AddFloat(list, 10, 10);
    AddFloat(list, 0, 0);
    AddFloat(list, 10, 100, kY);
    AddFloat(list, 5, 50, kY);
    return list;
}

void StoreGolden(CXArchive& ar)
{
    C3DKeyframable list;
    AddFloat(list, 0, 0.5f);
    AddFloat(list, 30, 1.5f)->CreateCurve(C3DKeyCurve::kTCBCurveID);
    auto* rotate = static_cast<C3DRotateKey*>(list.CreateKey(-10, ZanKeyClassID(_KeyKindRotate)));
    rotate->SetRotation(0.75, C3DTVector<float>(0, 1, 0));
    auto* colour =
        static_cast<C3DColorKey*>(list.CreateKey(30, ZanKeyClassID(_KeyKindColor, ZanTag("MTDR"))));
    colour->SetValue(CRGBColor(10, 20, 30, 40));
    colour->GetCustomData().SetUInt(ZanTag("USER"), 7);
    auto* translate =
        static_cast<C3DTranslateKey*>(list.CreateKey(5, ZanKeyClassID(_KeyKindTranslate)));
    translate->SetVector(C3DTVector<float>(1, -2, 3));
    list.Serialize(ar);
}

std::string GoldenPath()
{
    return std::string(ZAN3D_TEST_DATA_DIR) + "/animation/keys.bin";
}
} // namespace

TEST(Keyframable, AddKeyKeepsTimeOrderAndReplacesOnlyTheSameClassAtTheSameTime)
{
    C3DKeyframable list;
    EXPECT_EQ(list.AddKey(3, nullptr), kZanNone);
    AddFloat(list, 10, 1);
    EXPECT_EQ(list.AddKey(10, C3DKeyframe::CreateKey(kY)), 1u); // Y after X at 10
    EXPECT_EQ(list.AddKey(0, C3DKeyframe::CreateKey(kY)), 0u);
    C3DFloatKey replacement(kX);
    replacement.SetValue(2);
    EXPECT_EQ(list.AddKey(10, replacement), 1u); // X at 10 replaced in its slot
    EXPECT_EQ(list.GetKeyNbr(), 3u);
    EXPECT_EQ(list.GetKeyNbr(kX), 1u);
    EXPECT_EQ(list.GetKeyNbr(kY), 2u);
    int time = 0;
    EXPECT_EQ(ValueOf(list.GetKeyByIndex(1, &time)), 2.0f);
    EXPECT_EQ(time, 10);
    EXPECT_EQ(list.GetKeyByIndex(1, &time, kY)->GetClassID(), kY);
    EXPECT_EQ(time, 10);
    EXPECT_EQ(list.GetKeyByIndex(2, &time, kY), nullptr);
    EXPECT_EQ(time, -1);
    EXPECT_EQ(list.GetKeyByIndex(3), nullptr);
    EXPECT_EQ(list.CreateKey(4, ZanKeyClassID(ZanTag("NOPE"))), nullptr);
    EXPECT_EQ(list.GetKeyNbr(), 3u);
}

TEST(Keyframable, LookUpModesAtBeforeAfterAndBetweenKeys)
{
    const C3DKeyframable list = TwoClasses();
    struct Case
    {
        int time;
        unsigned mode;
        uint64_t classId;
        int expectedTime; // −1: none
        float expectedValue;
    };
    const Case cases[] = {
        {10, _KeyAt, kX, 10, 10},
        {5, _KeyAt, kX, -1, 0},
        {10, _KeyAtOrBefore, kX, 10, 10},
        {10, _KeyAfter, kX, -1, 0},
        {9, _KeyAtOrBefore, kX, 0, 0},
        {-1, _KeyAtOrBefore, kX, -1, 0},
        {10, _KeyBefore, kX, 0, 0},
        {0, _KeyBefore, kX, -1, 0},
        {0, _KeyAfter, kX, 10, 10},
        {0, _KeyAfterOrAt, kX, 10, 10},
        {10, _KeyAfterOrAt, kX, 10, 10},
        {11, _KeyAfterOrAt, kX, -1, 0},
        {5, _KeyAfter, kY, 10, 100},
        {7, _KeyAtOrBefore, kY, 5, 50},
        {5, _KeyAt, 0, 5, 50},
        {4, _KeyAfter, 0, 5, 50},
        {10, _KeyBefore, 0, 5, 50},
        {10, _KeyAt, kY, 10, 100},
        {-3, _KeyBefore | _KeyAfter, kX, 0, 0},
        {12, 7, kY, 10, 100},
        {5, 0, kX, -1, 0},
        {10, 0x8 | _KeyAt, kX, 10, 10},
    };
    for (const Case& c : cases)
    {
        int time = 99;
        const C3DKeyframe* key = list.GetKey(c.time, c.mode, c.classId, &time);
        EXPECT_EQ(time, c.expectedTime) << "time " << c.time << " mode " << c.mode;
        EXPECT_EQ(key != nullptr, c.expectedTime >= 0);
        if (key)
        {
            EXPECT_EQ(ValueOf(key), c.expectedValue);
        }
        EXPECT_EQ(list.GetKeyTime(c.time, c.mode, c.classId),
                  c.expectedTime >= 0 ? c.expectedTime : c.time);
    }
    // The copying form looks up the class of its output.
    C3DFloatKey out(kY);
    int time = 0;
    EXPECT_TRUE(list.GetKey(6, _KeyAfter, out, &time));
    EXPECT_EQ(out.GetValue(), 100.0f);
    EXPECT_EQ(time, 10);
    EXPECT_FALSE(list.GetKey(11, _KeyAfter, out, &time));
    EXPECT_EQ(time, -1);
    EXPECT_EQ(out.GetValue(), 100.0f);
    EXPECT_EQ(C3DKeyframable().GetKey(0, 7, 0), nullptr);
}

TEST(Keyframable, EvaluateHoldsOutsideTheKeysAndInterpolatesBetweenThem)
{
    C3DKeyframable list = TwoClasses();
    C3DFloatKey x(kX), y(kY);
    const struct
    {
        int time;
        float x;
    } cases[] = {{-5, 0}, {0, 0}, {3, 3}, {10, 10}, {15, 10}};
    for (const auto& c : cases)
    {
        ASSERT_TRUE(list.Evaluate(c.time, x));
        EXPECT_FLOAT_EQ(x.GetValue(), c.x) << c.time;
    }
    ASSERT_TRUE(list.Evaluate(6, y));
    EXPECT_FLOAT_EQ(y.GetValue(), 60.0f);
    C3DFloatKey absent(ZanKeyClassID(_KeyKindFloat, 1));
    absent.SetValue(-1);
    EXPECT_FALSE(list.Evaluate(0, absent));
    EXPECT_EQ(absent.GetValue(), -1.0f);

    // Rotations between keys of a list go along the great arc.
    C3DKeyframable turns;
    static_cast<C3DRotateKey*>(turns.CreateKey(0, ZanKeyClassID(_KeyKindRotate)))
        ->SetRotation(0, C3DTVector<float>(1, 0, 0));
    static_cast<C3DRotateKey*>(turns.CreateKey(30, ZanKeyClassID(_KeyKindRotate)))
        ->SetRotation(zanmath::kPi, C3DTVector<float>(1, 0, 0));
    C3DRotateKey r;
    ASSERT_TRUE(turns.Evaluate(10, r));
    EXPECT_NEAR(r.GetAngle(), zanmath::kPi / 3, 1e-5);
    EXPECT_NEAR(r.GetAxis().m_X, 1.0, 1e-6);
}

TEST(Keyframable, TimeRangesAndTheirArithmetic)
{
    C3DKeyframable list = TwoClasses();
    EXPECT_EQ(list.GetTimeRange(0), CTimeRange(0, 10));
    EXPECT_EQ(list.GetTimeRange(kY), CTimeRange(5, 10));
    EXPECT_EQ(list.GetTimeRange(ZanKeyClassID(_KeyKindFloat, 1)), CTimeRange(0, 0));
    EXPECT_EQ(C3DKeyframable().GetTimeRange(0), CTimeRange(0, 0));
    C3DKeyframable single;
    AddFloat(single, 7, 1);
    EXPECT_EQ(single.GetTimeRange(kX), CTimeRange(7, 7));
    EXPECT_EQ(single.GetTimeRange(kX).GetLength(), 1);

    CTimeRange range(0, 10);
    EXPECT_EQ(range.AdjustTime(12), 10);
    EXPECT_EQ(range.AdjustTime(-1), 0);
    EXPECT_EQ(range.IsInInterval(10), 1);
    EXPECT_EQ(range.IsInInterval(11), 0);
    EXPECT_EQ(range.GetLength(), 10);
    EXPECT_EQ(CTimeRange(INT32_MIN, INT32_MAX).GetLength(), int64_t(UINT32_MAX));
    CTimeRange both = range;
    both &= CTimeRange(5, 20);
    EXPECT_EQ(both, CTimeRange(5, 10));
    both |= CTimeRange(-3, 0);
    EXPECT_EQ(both, CTimeRange(-3, 10));
}

TEST(Keyframable, CopiesAreDeepAndDeletionsTargetTimeAndClass)
{
    C3DKeyframable list = TwoClasses();
    C3DKeyframable copy(list);
    EXPECT_TRUE(copy == list);
    EXPECT_NE(copy.GetKeyByIndex(0), list.GetKeyByIndex(0));
    static_cast<C3DFloatKey*>(copy.GetKey(0, _KeyAt, kX))->SetValue(-1);
    EXPECT_FALSE(copy == list);
    copy = list;
    EXPECT_TRUE(copy == list);

    EXPECT_EQ(copy.DeleteKey(10, kY), 1u);
    EXPECT_EQ(copy.GetKeyNbr(), 3u);
    EXPECT_EQ(copy.GetKey(10, _KeyAt, kX) != nullptr, true);
    EXPECT_EQ(copy.DeleteKey(10), 1u);
    EXPECT_EQ(copy.DeleteKey(11), 0u);
    EXPECT_EQ(copy.GetKeyNbr(), 2u);
    copy.DeleteAllKeys();
    EXPECT_EQ(copy.GetKeyNbr(), 0u);
    EXPECT_FALSE(copy == list);
}

TEST(KeyframableArchive, ListsRoundTripWithTimesClassesAndValues)
{
    auto bytes = zantest::StoreToBytes(StoreGolden);
    C3DKeyframable loaded = TwoClasses();
    zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { loaded.Serialize(ar); });
    EXPECT_EQ(loaded.GetKeyNbr(), 5u);
    int time = 0;
    EXPECT_EQ(loaded.GetKeyByIndex(0, &time)->GetTypeID(), unsigned(_KeyKindRotate));
    EXPECT_EQ(time, -10);
    EXPECT_EQ(zantest::StoreToBytes([&](CXArchive& ar) { loaded.Serialize(ar); }), bytes);

    C3DKeyframable empty, target = TwoClasses();
    zantest::RoundTrip(empty, target);
    EXPECT_EQ(target.GetKeyNbr(), 0u);
}

TEST(KeyframableArchive, GoldenFilePinsTheLayout)
{
    auto golden = zantest::ReadFileBytes(GoldenPath());
    ASSERT_FALSE(golden.empty()) << "missing " << GoldenPath();
    EXPECT_EQ(zantest::StoreToBytes(StoreGolden), golden) << "the key archive layout changed";

    C3DKeyframable loaded;
    zantest::LoadFromBytes(golden, [&](CXArchive& ar) { loaded.Serialize(ar); });
    ASSERT_EQ(loaded.GetKeyNbr(), 5u);
    C3DColorKey colour(ZanKeyClassID(_KeyKindColor, ZanTag("MTDR")));
    ASSERT_TRUE(loaded.Evaluate(30, colour));
    EXPECT_EQ(colour.GetValue(), CRGBColor(10, 20, 30, 40));
    EXPECT_EQ(colour.GetCustomData().GetUInt(ZanTag("USER")), 7u);
    C3DFloatKey x(kX);
    ASSERT_TRUE(loaded.Evaluate(15, x));
    EXPECT_FLOAT_EQ(x.GetValue(), 1.0f);
    int time = 0;
    const C3DKeyframe* curved = loaded.GetKey(30, _KeyAt, kX, &time);
    ASSERT_TRUE(curved && curved->GetKeyCurve());
    EXPECT_EQ(static_cast<C3DTCBCurve*>(curved->GetKeyCurve())->m_EaseIn, 25.0f);
    C3DTranslateKey t;
    ASSERT_TRUE(loaded.Evaluate(0, t));
    EXPECT_EQ(t.ToMatrix()[1][3], -2.0f);
}

TEST(KeyframableArchive, DISABLED_WriteGoldenFile)
{
    ASSERT_TRUE(zantest::WriteFileBytes(GoldenPath(), zantest::StoreToBytes(StoreGolden)));
}

TEST(KeyframableArchive, MalformedListsAreRefusedAndLeaveTheKeysAsTheyWere)
{
    const auto bytes = zantest::StoreToBytes(StoreGolden);
    C3DKeyframable target = TwoClasses();
    const C3DKeyframable before = target;
    zantest::ExpectTruncationsFail(bytes, target, [&] { return target == before; });

    auto patched = [&](size_t offset, std::initializer_list<uint8_t> values)
    {
        auto copy = bytes;
        size_t i = offset;
        for (uint8_t v : values)
            copy[i++] = v;
        return copy;
    };
    // The first record's kind tag (high half of the class id at offset 8) names no key class;
    // then a class id whose key archive holds another content id; then an absurd count.
    const auto unknownKind = patched(4 + 4 + 4, {'Q', 'Q', 'Q', 'Q'});
    const auto otherContent = patched(4 + 4, {0x01});
    const auto absurdCount = patched(0, {0xFF, 0xFF, 0xFF, 0x7F});
    EXPECT_TRUE(zantest::ArchiveFails(
        [&] { zantest::LoadFromBytes(unknownKind, [&](CXArchive& ar) { target.Serialize(ar); }); },
        CXArchiveException::_BadClass));
    EXPECT_TRUE(zantest::ArchiveFails(
        [&] { zantest::LoadFromBytes(otherContent, [&](CXArchive& ar) { target.Serialize(ar); }); },
        CXArchiveException::_BadValue));
    EXPECT_TRUE(zantest::ArchiveFails(
        [&] { zantest::LoadFromBytes(absurdCount, [&](CXArchive& ar) { target.Serialize(ar); }); },
        CXArchiveException::_BadCount));
    EXPECT_TRUE(target == before);
}
