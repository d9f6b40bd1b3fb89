// Keys and key curves: creation by class id, pairwise interpolation of every kind against
// hand-computed values, copies and comparisons, and the archive of single keys.
#include "common/zan_test_helpers.h"
#include "math_test_helpers.h"

#include <3dzan/animation/keys.h>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace
{
using zanmath::kPi;

std::unique_ptr<C3DKeyframe> Make(uint64_t classId, unsigned curve = 0)
{
    return std::unique_ptr<C3DKeyframe>(C3DKeyframe::CreateKey(classId, curve));
}

template <class T> C3DTypeKey<T> ValueKey(T value, uint32_t content = 0)
{
    C3DTypeKey<T> key(ZanKeyClassID(C3DTypeKey<T>::kKind, content));
    key.SetValue(value);
    return key;
}

C3DTranslateKey Translation(float x, float y, float z)
{
    C3DTranslateKey key;
    key.SetVector(C3DTVector<float>(x, y, z));
    return key;
}

// Rows of a matrix in a compact literal form.
C4x4TMatrix<float> Rows(std::initializer_list<float> values)
{
    std::vector<float> v(values);
    return C4x4TMatrix<float>(v.data());
}
} // namespace

TEST(Keys, CreateKeyPicksTheClassOfTheKindTagAndKeepsTheContentId)
{
    const struct
    {
        uint32_t kind;
        const char* className;
    } kinds[] = {{_KeyKindMatrix, "C3DMatrixKey"},
                 {_KeyKindRotate, "C3DRotateKey"},
                 {_KeyKindScale, "C3DScaleKey"},
                 {_KeyKindTranslate, "C3DTranslateKey"},
                 {_KeyKindVector, "C3DVectorKey"},
                 {_KeyKindInt, "C3DTypeKey<int>"},
                 {_KeyKindUInt, "C3DTypeKey<unsigned int>"},
                 {_KeyKindFloat, "C3DTypeKey<float>"},
                 {_KeyKindDouble, "C3DTypeKey<double>"},
                 {_KeyKindColor, "C3DTypeKey<CRGBColor>"}};
    for (const auto& kind : kinds)
    {
        auto key = Make(ZanKeyClassID(kind.kind, ZanTag("MTAR")), C3DKeyCurve::kTCBCurveID);
        ASSERT_TRUE(key) << kind.className;
        EXPECT_STREQ(key->GetRuntimeClassDescriptor()->m_ClassName, kind.className);
        EXPECT_EQ(key->GetTypeID(), kind.kind);
        EXPECT_EQ(key->GetContentID(), ZanTag("MTAR"));
        ASSERT_NE(key->GetKeyCurve(), nullptr);
        EXPECT_EQ(key->GetKeyCurve()->GetClassID(), C3DKeyCurve::kTCBCurveID);
        // Declared at load time: an archive can recreate the class by name.
        EXPECT_EQ(CXRuntimeClass::FromName(kind.className), key->GetRuntimeClassDescriptor());
    }
    EXPECT_EQ(Make(ZanKeyClassID(ZanTag("NOPE"))), nullptr);
    EXPECT_EQ(Make(0), nullptr);
    EXPECT_EQ(Make(ZanKeyClassID(_KeyKindFloat), 0x12345678)->GetKeyCurve(), nullptr);
    EXPECT_EQ(C3DKeyCurve::CreateCurve(0), nullptr);

    // New values: identity matrices, unit scale, zero vectors, zero scalars, black.
    C3DScaleKey scale;
    EXPECT_EQ(scale.GetVector(), C3DTVector<float>(1, 1, 1));
    EXPECT_TRUE(scale.ToMatrix().IsIdentity());
    EXPECT_EQ(C3DTranslateKey().GetVector(), C3DTVector<float>(0, 0, 0));
    EXPECT_EQ(C3DColorKey().GetValue(), CRGBColor(0, 0, 0, 255));
}

TEST(Keys, ScalarKeysInterpolateLinearlyAndTruncateIntegers)
{
    // 0 at tick 0 and 3 at tick 2: 1.5 at tick 1, truncated.
    C3DIntKey i = ValueKey(0);
    EXPECT_TRUE(i.Evaluate(ValueKey(0), ValueKey(3), 1, CTimeRange(0, 2)));
    EXPECT_EQ(i.GetValue(), 1);
    EXPECT_TRUE(i.Evaluate(ValueKey(0), ValueKey(-3), 1, CTimeRange(0, 2)));
    EXPECT_EQ(i.GetValue(), -1); // toward zero
    C3DUIntKey u;
    EXPECT_TRUE(u.Evaluate(ValueKey(10u), ValueKey(20u), 13, CTimeRange(10, 20)));
    EXPECT_EQ(u.GetValue(), 13u);
    // Below zero an unsigned result is clamped, not wrapped.
    EXPECT_TRUE(u.Evaluate(ValueKey(0u), ValueKey(20u), -5, CTimeRange(0, 10)));
    EXPECT_EQ(u.GetValue(), 0u);

    C3DFloatKey f;
    EXPECT_TRUE(f.Evaluate(ValueKey(1.0f), ValueKey(2.0f), 25, CTimeRange(0, 100)));
    EXPECT_FLOAT_EQ(f.GetValue(), 1.25f);
    // Scalars extrapolate outside the range.
    EXPECT_TRUE(f.Evaluate(ValueKey(1.0f), ValueKey(2.0f), 200, CTimeRange(0, 100)));
    EXPECT_FLOAT_EQ(f.GetValue(), 3.0f);
    C3DDoubleKey d;
    EXPECT_TRUE(d.Evaluate(ValueKey(0.0), ValueKey(1.0), 1, CTimeRange(0, 3)));
    EXPECT_DOUBLE_EQ(d.GetValue(), double(1.0f / 3.0f)); // the fraction is a float

    // A range of length 0 counts as 1: at its start the value is a's.
    EXPECT_TRUE(f.Evaluate(ValueKey(4.0f), ValueKey(8.0f), 5, CTimeRange(5, 5)));
    EXPECT_FLOAT_EQ(f.GetValue(), 4.0f);

    // Colours channel by channel, clamped to a byte when extrapolated.
    C3DColorKey c;
    EXPECT_TRUE(c.Evaluate(ValueKey(CRGBColor(0, 100, 255, 255)), ValueKey(CRGBColor(255, 0, 0, 0)),
                           1, CTimeRange(0, 2)));
    EXPECT_EQ(c.GetValue(), CRGBColor(127, 50, 127, 127));
    EXPECT_TRUE(c.Evaluate(ValueKey(CRGBColor(0, 100, 255, 255)), ValueKey(CRGBColor(255, 0, 0, 0)),
                           4, CTimeRange(0, 2)));
    EXPECT_EQ(c.GetValue(), CRGBColor(255, 0, 0, 0));

    // Keys of another value type cannot be interpolated; the value stays.
    f.SetValue(7.0f);
    EXPECT_FALSE(f.Evaluate(ValueKey(1), ValueKey(2), 1, CTimeRange(0, 2)));
    EXPECT_EQ(f.GetValue(), 7.0f);
}

TEST(Keys, VectorKeysInterpolateInsideTheirRangeAndRebuildTheirMatrix)
{
    C3DTranslateKey t = Translation(1, 2, 3);
    const C4x4TMatrix<float>& m = t.ToMatrix();
    EXPECT_EQ(m[0][3], 1.0f);
    EXPECT_EQ(m[1][3], 2.0f);
    EXPECT_EQ(m[2][3], 3.0f);
    EXPECT_EQ(m[3][3], 1.0f);

    C3DTVector<float> flagged(0, 0, 0);
    flagged.SetFlags(0x40);
    C3DTranslateKey a;
    a.SetVector(flagged);
    EXPECT_TRUE(t.Evaluate(a, Translation(4, 8, -4), 3, CTimeRange(0, 4)));
    EXPECT_EQ(t.GetVector(), C3DTVector<float>(3, 6, -3));
    EXPECT_EQ(t.GetVector().GetFlags(), 0u);
    EXPECT_EQ(t.ToMatrix()[1][3], 6.0f);

    // Outside the range, or keys of another class id: false and unchanged.
    EXPECT_FALSE(t.Evaluate(a, Translation(4, 8, -4), 5, CTimeRange(0, 4)));
    C3DTranslateKey other(ZanKeyClassID(_KeyKindTranslate, 7));
    EXPECT_FALSE(t.Evaluate(a, other, 2, CTimeRange(0, 4)));
    EXPECT_EQ(t.GetVector(), C3DTVector<float>(3, 6, -3));

    // Scale keys put the vector on the diagonal and keep the rest.
    C3DScaleKey s0, s1, s;
    s1.SetVector(C3DTVector<float>(3, 5, 1));
    EXPECT_TRUE(s.Evaluate(s0, s1, 1, CTimeRange(0, 2)));
    EXPECT_TRUE(s.ToMatrix().IsEqual(Rows({2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}), 0));
}

TEST(Keys, RotateKeysSlerpAndKeepTheirMatrixInStep)
{
    const C3DTVector<float> z(0, 0, 2); // not normalised on purpose
    C3DRotateKey r0(0.0f, z), r90(float(kPi / 2), z), r;
    // 90 degrees about z, clockwise seen from +z: x goes to −y.
    EXPECT_LT(
        zanmath::MaxDiff(r90.ToMatrix(), Rows({0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1})),
        1e-6);
    EXPECT_TRUE(r0.ToMatrix().IsIdentity());

    ASSERT_TRUE(r.Evaluate(r0, r90, 5, CTimeRange(0, 10)));
    EXPECT_NEAR(r.GetAngle(), kPi / 4, 1e-6);
    EXPECT_NEAR(r.GetAxis().m_Z, 1.0, 1e-6);
    const float c = float(std::cos(kPi / 4));
    EXPECT_LT(
        zanmath::MaxDiff(r.ToMatrix(), Rows({c, c, 0, 0, -c, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1})),
        1e-6);
    EXPECT_LT(
        zanmath::MaxDiff(r.ToMatrix(), C3DRotateKey::RotationMatrix(r.GetAngle(), r.GetAxis())),
        1e-6);

    // The shorter arc: from 350 to 10 degrees passes through 0.
    C3DRotateKey a(float(kPi * 350 / 180), C3DTVector<float>(0, 0, 1));
    C3DRotateKey b(float(kPi * 10 / 180), C3DTVector<float>(0, 0, 1));
    ASSERT_TRUE(r.Evaluate(a, b, 1, CTimeRange(0, 2)));
    EXPECT_TRUE(r.ToMatrix().IsIdentity(1e-6));

    const C3DRotateKey before = r;
    EXPECT_FALSE(
        r.Evaluate(r0, C3DRotateKey(ZanKeyClassID(_KeyKindRotate, 1)), 1, CTimeRange(0, 2)));
    EXPECT_FALSE(r.Evaluate(r0, r90, -1, CTimeRange(0, 2)));
    EXPECT_TRUE(r == before);

    // A swap of x and y turns a rotation about z into the opposite one about z.
    C3DRotateKey swapped(float(kPi / 2), C3DTVector<float>(0, 0, 1));
    swapped.SwapCoordinates(_SwapXY);
    EXPECT_LT(zanmath::MaxDiff(swapped.ToMatrix(), AdjustMatrix(_SwapXY, r90.ToMatrix())), 1e-6);
    EXPECT_LT(zanmath::MaxDiff(swapped.ToMatrix(),
                               C3DRotateKey::RotationMatrix(swapped.GetAngle(), swapped.GetAxis())),
              1e-6);
}

TEST(Keys, MatrixKeysInterpolateTheirPartsAndHitBothEnds)
{
    // a: translation (1, 2, 3), no rotation, unit scale.
    // b: translation (3, 2, 1), 90 degrees about z, scale 3 on every axis.
    C3DMatrixKey a, b, m;
    C4x4TMatrix<float> ma;
    ma[0][3] = 1, ma[1][3] = 2, ma[2][3] = 3;
    a.SetMatrix(ma);
    C4x4TMatrix<float> mb = C3DRotateKey::RotationMatrix(kPi / 2, C3DTVector<float>(0, 0, 1));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            mb[i][j] *= 3;
    mb[0][3] = 3, mb[1][3] = 2, mb[2][3] = 1;
    b.SetMatrix(mb);

    ASSERT_TRUE(m.Evaluate(a, b, 10, CTimeRange(10, 20)));
    EXPECT_LT(zanmath::MaxDiff(m.ToMatrix(), ma), 1e-5);
    ASSERT_TRUE(m.Evaluate(a, b, 20, CTimeRange(10, 20)));
    EXPECT_LT(zanmath::MaxDiff(m.ToMatrix(), mb), 1e-5);
    // Half way: translation (2, 2, 2), 45 degrees about z, scale 2.
    ASSERT_TRUE(m.Evaluate(a, b, 15, CTimeRange(10, 20)));
    const float c = float(2 * std::cos(kPi / 4));
    EXPECT_LT(
        zanmath::MaxDiff(m.ToMatrix(), Rows({c, c, 0, 2, -c, c, 0, 2, 0, 0, 2, 2, 0, 0, 0, 1})),
        1e-5);

    const C4x4TMatrix<float> kept = m.ToMatrix();
    EXPECT_FALSE(m.Evaluate(a, b, 21, CTimeRange(10, 20)));
    EXPECT_FALSE(m.Evaluate(a, C3DRotateKey(), 15, CTimeRange(10, 20)));
    EXPECT_EQ(m.ToMatrix(), kept);

    // Swapping coordinates: adjust re-expresses the transform, swap only the columns.
    C3DMatrixKey s = b;
    s.SwapCoordinates(_SwapYZ, true);
    EXPECT_EQ(s.ToMatrix(), AdjustMatrix(_SwapYZ, mb));
    s = b;
    s.SwapCoordinates(_SwapYZ | _MirrorX, false);
    EXPECT_EQ(s.ToMatrix(), SwapMatrix(_SwapYZ | _MirrorX, mb));
    s.SwapCoordinates(0x3, true); // invalid code: nothing
    EXPECT_EQ(s.ToMatrix(), SwapMatrix(_SwapYZ | _MirrorX, mb));
}

TEST(Keys, CopiesAndComparisonsCoverValueCurveAndCustomData)
{
    auto key = Make(ZanKeyClassID(_KeyKindColor, 3), C3DKeyCurve::kTCBCurveID);
    static_cast<C3DColorKey&>(*key).SetValue(CRGBColor(1, 2, 3, 4));
    static_cast<C3DTCBCurve*>(key->GetKeyCurve())->m_Bias = 0.5f;
    key->GetCustomData().SetInt(ZanTag("NOTE"), 9);

    std::unique_ptr<C3DKeyframe> copy(key->Copy());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(*copy == *key);
    EXPECT_NE(copy->GetKeyCurve(), key->GetKeyCurve()); // a deep copy

    static_cast<C3DTCBCurve*>(copy->GetKeyCurve())->m_Bias = 0.25f;
    EXPECT_FALSE(*copy == *key);
    copy->SetKeyCurve(nullptr);
    EXPECT_FALSE(*copy == *key);
    EXPECT_TRUE(*copy = *key);
    EXPECT_TRUE(*copy == *key);
    copy->GetCustomData().SetInt(ZanTag("NOTE"), 10);
    EXPECT_FALSE(*copy == *key);

    // Another class id: refused and unchanged, also between kinds that share a base class.
    C3DColorKey other(ZanKeyClassID(_KeyKindColor, 4));
    EXPECT_FALSE(other = *key);
    EXPECT_EQ(other.GetValue(), CRGBColor());
    C3DTranslateKey t = Translation(1, 1, 1);
    C3DVectorKey v;
    EXPECT_FALSE(v = t);
    EXPECT_FALSE(t == v);

    // Curves: a null curve attached is no curve; copies keep the parameters.
    C3DKeyCurve null;
    key->SetKeyCurve(null);
    EXPECT_EQ(key->GetKeyCurve(), nullptr);
    C3DTCBCurve tcb;
    tcb.SetParameter(4, 7.0f);
    EXPECT_FALSE(tcb.SetParameter(5, 1.0f));
    key->SetKeyCurve(tcb);
    EXPECT_TRUE(*key->GetKeyCurve() == tcb);
    EXPECT_EQ(static_cast<C3DTCBCurve*>(key->GetKeyCurve())->GetParameter(4), 7.0f);
    EXPECT_FALSE(null = tcb);
}

TEST(Keys, EveryKindRoundTripsThroughTheArchive)
{
    std::vector<std::unique_ptr<C3DKeyframe>> keys;
    auto matrix = std::make_unique<C3DMatrixKey>(ZanKeyClassID(_KeyKindMatrix, 5));
    matrix->SetMatrix(Rows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 0, 0, 1}));
    keys.push_back(std::move(matrix));
    keys.push_back(std::make_unique<C3DRotateKey>(1.25f, C3DTVector<float>(1, 2, 2)));
    auto scale = std::make_unique<C3DScaleKey>();
    scale->SetVector(C3DTVector<float>(2, 3, 4));
    keys.push_back(std::move(scale));
    keys.push_back(std::make_unique<C3DTranslateKey>(Translation(-1, 0.5f, 8)));
    auto vector = std::make_unique<C3DVectorKey>(ZanKeyClassID(_KeyKindVector, ZanTag("MPTL")));
    vector->SetVector(C3DTVector<float>(2, 2, 1));
    keys.push_back(std::move(vector));
    keys.push_back(std::make_unique<C3DIntKey>(ValueKey(-7)));
    keys.push_back(std::make_unique<C3DUIntKey>(ValueKey(0xFFFFFFFFu)));
    keys.push_back(std::make_unique<C3DFloatKey>(ValueKey(0.1f, ZanTag("MTDF"))));
    keys.push_back(std::make_unique<C3DDoubleKey>(ValueKey(1e300)));
    keys.push_back(std::make_unique<C3DColorKey>(ValueKey(CRGBColor(9, 8, 7, 6))));
    keys.back()->CreateCurve(C3DKeyCurve::kTCBCurveID);
    keys.back()->GetCustomData().SetString(ZanTag("NAME"), "colour");

    for (const auto& key : keys)
    {
        auto loaded = Make(ZanKeyClassID(key->GetTypeID()));
        zantest::RoundTrip(*key, *loaded);
        EXPECT_TRUE(*loaded == *key) << key->GetRuntimeClassDescriptor()->m_ClassName;
        EXPECT_EQ(loaded->GetClassID(), key->GetClassID());
        // By class too.
        auto bytes = zantest::StoreToBytes([&](CXArchive& ar) { ar.WriteObject(key.get()); });
        std::unique_ptr<CXObject> object;
        zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { object.reset(ar.ReadObject()); });
        auto* byClass = dynamic_cast<C3DKeyframe*>(object.get());
        ASSERT_TRUE(byClass);
        EXPECT_TRUE(*byClass == *key);
    }

    // A rotate key with angle 0 comes back with the identity matrix; its matrix is rebuilt
    // from angle and axis, not read.
    C3DRotateKey still(0.0f, C3DTVector<float>(0, 1, 0)), loaded;
    zantest::RoundTrip(still, loaded);
    EXPECT_TRUE(loaded.ToMatrix().IsIdentity());
    EXPECT_EQ(loaded.GetAxis(), C3DTVector<float>(0, 1, 0));
}

TEST(Keys, MalformedKeyArchivesAreRefusedAndLeaveTheKeyAsItWas)
{
    C3DColorKey source = ValueKey(CRGBColor(1, 2, 3, 4), 11);
    source.CreateCurve(C3DKeyCurve::kTCBCurveID);
    source.GetCustomData().SetFloat(1, 2.0f);
    const auto bytes = zantest::StoreToBytes([&](CXArchive& ar) { source.Serialize(ar); });

    C3DColorKey target = ValueKey(CRGBColor(50, 60, 70, 80), 3);
    const C3DColorKey before = target;
    zantest::ExpectTruncationsFail(bytes, target, [&] { return target == before; });

    // A key archive of another kind.
    C3DFloatKey wrongKind;
    EXPECT_TRUE(zantest::ArchiveFails(
        [&] { zantest::LoadFromBytes(bytes, [&](CXArchive& ar) { wrongKind.Serialize(ar); }); },
        CXArchiveException::_BadValue));

    // A curve id the library does not know, followed by bytes that are not a plain curve.
    auto garbled = bytes;
    const size_t curveAt = 8 + (garbled.size() - 8 - 4 - 20 - 4); // class id, bag, curve id
    ASSERT_EQ(garbled[curveAt], 0x20); // "TCB " little-endian starts with the space
    garbled[curveAt] = 'X';
    EXPECT_TRUE(zantest::ArchiveFails(
        [&] { zantest::LoadFromBytes(garbled, [&](CXArchive& ar) { target.Serialize(ar); }); },
        CXArchiveException::_BadValue));
    EXPECT_TRUE(target == before);
}
