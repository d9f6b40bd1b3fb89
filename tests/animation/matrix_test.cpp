// 4 x 4 matrices: layout, products and transforms, inverse and determinant, archive bytes.
#include "animation/math_test_helpers.h"
#include "common/zan_test_helpers.h"

#include <3dzan/animation.h>
#include <3dzan/foundation/xarchive.h>

#include <cstring>

using namespace zanmath;

namespace
{
uint32_t FloatBits(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t index)
{
    const uint8_t* p = bytes.data() + 4 * index;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

C4x4TMatrix<float> Counting()
{
    float values[16];
    for (int k = 0; k < 16; ++k)
        values[k] = float(k) + 0.5f;
    return C4x4TMatrix<float>(values);
}
} // namespace

TEST(Matrix, LayoutIsRowByRowWithTranslationInTheLastColumn)
{
    const C4x4TMatrix<float> identity;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(identity[i][j], i == j ? 1.0f : 0.0f);
    C4x4TMatrix<float> near = identity;
    near[2][3] = 0.004f;
    EXPECT_TRUE(near.IsIdentity(0.005));
    EXPECT_FALSE(near.IsIdentity(0.003));
    near[1][2] = NAN; // NaN equals nothing, at any tolerance
    EXPECT_FALSE(near == near);
    EXPECT_FALSE(near.IsEqual(identity, 1e30));

    const C4x4TMatrix<float> m = Counting();
    EXPECT_EQ(m[0][1], 1.5f);
    EXPECT_EQ(m[1][0], 4.5f);
    EXPECT_EQ(m.ValPtr()[7], m[1][3]);

    C4x4TMatrix<float> t;
    t[0][3] = 10.0f;
    t[1][3] = 20.0f;
    t[2][3] = 30.0f;
    const float p[3] = {1.0f, 2.0f, 3.0f};
    float out[3];
    t.TransformPoint(p, out);
    EXPECT_EQ(out[0], 11.0f);
    EXPECT_EQ(out[1], 22.0f);
    EXPECT_EQ(out[2], 33.0f);
    t.TransformVector(p, out); // directions ignore the translation
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[2], 3.0f);
}

TEST(Matrix, ProductComposesTransformsRightFirst)
{
    CRandom random(11);
    for (int n = 0; n < 100; ++n)
    {
        const C4x4TMatrix<float> a = random.AffineMatrix(-2, 2), b = random.AffineMatrix(-2, 2);
        float p[3] = {float(random.Uniform(-5, 5)), float(random.Uniform(-5, 5)),
                      float(random.Uniform(-5, 5))};
        float viaProduct[3], viaSteps[3];
        (a * b).TransformPoint(p, viaProduct);
        b.TransformPoint(p, viaSteps);
        a.TransformPoint(viaSteps, viaSteps); // in place
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(viaProduct[i], viaSteps[i], 1e-4);

        C4x4TMatrix<float> c = a;
        c *= b;
        EXPECT_EQ(c, a * b);
        EXPECT_EQ(a * C4x4TMatrix<float>(), a);

        // (ab)ᵀ = bᵀaᵀ, and transposing twice changes nothing.
        C4x4TMatrix<float> abT = a * b, aT = a, bT = b;
        abT.Transpose();
        aT.Transpose();
        bT.Transpose();
        EXPECT_LT(MaxDiff(abT, bT * aT), 1e-5);
        aT.Transpose();
        EXPECT_EQ(aT, a);
    }
}

template <class T> class MatrixInverse : public ::testing::Test
{
};
using MatrixTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(MatrixInverse, MatrixTypes);

TYPED_TEST(MatrixInverse, InverseUndoesTheMatrixAtAnyScale)
{
    using M = C4x4TMatrix<TypeParam>;
    const double tolerance = sizeof(TypeParam) == 4 ? 2e-4 : 1e-10;
    CRandom random(21);
    for (int n = 0; n < 200; ++n)
    {
        M m;
        // Diagonally dominant, so well conditioned; the bottom row is general on purpose.
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                m[i][j] = TypeParam(random.Uniform(-1, 1) + (i == j ? 4.0 : 0.0));
        // Far from 1 in both directions: singularity must be judged relative to the scale.
        const double scale = n % 3 == 0 ? 1e-6 : n % 3 == 1 ? 1.0 : 1e6;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                m[i][j] = TypeParam(m[i][j] * scale);

        M inverse;
        ASSERT_TRUE(m.GetInverse(inverse));
        EXPECT_LT(MaxDiff(m * inverse, M()), tolerance);
        EXPECT_LT(MaxDiff(inverse * m, M()), tolerance);
        EXPECT_NEAR(m.GetDeterminant() * inverse.GetDeterminant(), 1.0, tolerance);

        M copy = m;
        ASSERT_TRUE(copy.Invert());
        EXPECT_EQ(copy, inverse);
    }
}

TYPED_TEST(MatrixInverse, SingularAndNonFiniteMatricesAreRefused)
{
    using M = C4x4TMatrix<TypeParam>;
    CRandom random(22);
    M sentinel;
    sentinel[0][1] = TypeParam(42);

    M dependent; // small integers, so that the dependence is exact in float too
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            dependent[i][j] = TypeParam(random.Int(-9, 9));
    for (int j = 0; j < 4; ++j) // row 2 = row 0 + 2·row 1
        dependent[2][j] = dependent[0][j] + TypeParam(2) * dependent[1][j];

    M zero;
    zero[0][0] = zero[1][1] = zero[2][2] = zero[3][3] = TypeParam(0);
    M projection; // a zero scale along Y
    projection[1][1] = TypeParam(0);
    M withNan;
    withNan[2][1] = TypeParam(NAN);
    M withInf;
    withInf[0][3] = TypeParam(INFINITY);

    for (const M& m : {dependent, zero, projection, withNan, withInf})
    {
        M inverse = sentinel;
        EXPECT_FALSE(m.GetInverse(inverse));
        EXPECT_EQ(inverse, sentinel) << "a refused inverse leaves the output alone";
        M copy = m;
        EXPECT_FALSE(copy.Invert());
        for (int k = 0; k < 16; ++k) // bit-wise, NaN included
            EXPECT_EQ(std::memcmp(&copy.ValPtr()[k], &m.ValPtr()[k], sizeof(TypeParam)), 0);
    }
    EXPECT_NEAR(dependent.GetDeterminant(), 0.0, 1e-9);
}

TEST(Matrix, DeterminantIsMultiplicativeAndSigned)
{
    C4x4TMatrix<double> diagonal;
    diagonal[0][0] = 2;
    diagonal[1][1] = 3;
    diagonal[2][2] = 4;
    diagonal[3][3] = 5;
    EXPECT_DOUBLE_EQ(diagonal.GetDeterminant(), 120.0);

    C4x4TMatrix<float> swapXY; // exchanging two rows flips the sign
    swapXY[0][0] = swapXY[1][1] = 0.0f;
    swapXY[0][1] = swapXY[1][0] = 1.0f;
    EXPECT_EQ(swapXY.GetDeterminant(), -1.0);

    CRandom random(31);
    for (int n = 0; n < 100; ++n)
    {
        const C4x4TMatrix<float> a = random.Matrix(-2, 2), b = random.Matrix(-2, 2);
        EXPECT_NEAR((a * b).GetDeterminant(), a.GetDeterminant() * b.GetDeterminant(),
                    1e-4 * (1.0 + std::fabs(a.GetDeterminant() * b.GetDeterminant())));
    }
}

TEST(Matrix, ArchiveHoldsSixteenFloatsRowByRow)
{
    C4x4TMatrix<float> m = Counting();
    C4x4TMatrix<float> loaded;
    const std::vector<uint8_t> bytes = zantest::RoundTrip(m, loaded);
    ASSERT_EQ(bytes.size(), 64u);
    // 0.5f, 1.5f, 2.5f: element [0][1] comes second, so the order is by rows.
    EXPECT_EQ(WordAt(bytes, 0), 0x3F000000u);
    EXPECT_EQ(WordAt(bytes, 1), 0x3FC00000u);
    EXPECT_EQ(WordAt(bytes, 2), 0x40200000u);
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(WordAt(bytes, size_t(k)), FloatBits(m[k / 4][k % 4])) << k;
    EXPECT_EQ(loaded, m);

    // A short record raises and leaves the target as it was.
    std::vector<uint8_t> shortBytes(bytes.begin(), bytes.begin() + 60);
    C4x4TMatrix<float> target;
    EXPECT_THROW(zantest::LoadFromBytes(shortBytes, [&](CXArchive& ar) { target.Serialize(ar); }),
                 CXArchiveException);
    EXPECT_TRUE(target.IsIdentity());

    // The double instantiation stores doubles in the same order.
    C4x4TMatrix<double> d, dLoaded;
    d[0][1] = 7.25;
    EXPECT_EQ(zantest::RoundTrip(d, dLoaded).size(), 128u);
    EXPECT_EQ(dLoaded, d);
}

TEST(Matrix, PointsAndVectorsKeepTheirFlags)
{
    CRandom random(12);
    const C4x4TMatrix<float> m = random.AffineMatrix(-2, 2);
    C3DTPoint<float> p(1.5f, -2.0f, 0.25f);
    p.SetFlags(_PointBorder);
    const C3DTPoint<float> moved = m.TransformPoint(p);
    float raw[3] = {p.m_X, p.m_Y, p.m_Z};
    m.TransformPoint(raw, raw);
    EXPECT_EQ(moved, C3DTPoint<float>(raw[0], raw[1], raw[2]));
    EXPECT_EQ(moved.GetFlags(), unsigned(_PointBorder));

    C3DTVector<float> v(1.5f, -2.0f, 0.25f);
    v.SetFlags(0x80);
    const C3DTVector<float> turned = m.TransformVector(v);
    float rawV[3] = {v.m_X, v.m_Y, v.m_Z};
    m.TransformVector(rawV, rawV);
    EXPECT_EQ(turned, C3DTVector<float>(rawV[0], rawV[1], rawV[2]));
    EXPECT_EQ(turned.GetFlags(), 0x80u);

    C4x4TMatrix<float> t;
    t.SetTranslation(C3DTVector<float>(4, 5, 6));
    EXPECT_EQ(t[1][3], 5.0f);
    EXPECT_EQ(t.GetTranslation(), C3DTVector<float>(4, 5, 6));
    EXPECT_EQ(t.TransformPoint(C3DTPoint<float>(1, 1, 1)), C3DTPoint<float>(5, 6, 7));
    EXPECT_EQ(t.TransformVector(C3DTVector<float>(1, 1, 1)), C3DTVector<float>(1, 1, 1));
}
