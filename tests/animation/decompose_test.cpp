// Matrix decomposition: round trips on seeded random affine matrices (scaled, mirrored,
// sheared, flattened), the meaning of each part, the interpolation of matrix keys, and the
// inputs that cannot be decomposed.
#include "animation/math_test_helpers.h"

#include <3dzan/animation.h>

using namespace zanmath;

namespace
{
// Round-trip tolerance for matrices without shear: their parts are exact up to the rounding
// of the quaternions and scales to float, about 1e-7 of the largest scale.
const double kShearFreeTolerance = 1e-5;
// With shear, the stretch rotation U enters twice (U·K·Uᵀ) and the float rounding of the
// parts is carried by the largest scale into every element, so the tolerance is relative:
// 2e-6 of the largest element (at least of 1). These cases reach about 2e-7 of it, also with
// scales spread over four decades.
double ShearedTolerance(const C4x4TMatrix<float>& m)
{
    return 2e-6 * std::max(1.0, LinearScale(m));
}

struct CShearFree
{
    C4x4TMatrix<float> m;
    CQuaternion rotation;
    double scale[3];
    bool mirrored;
};

// T·R·[D]·diag(s): a random rotation, a reflection of one random axis or of all three in a
// third of the cases, positive scales in [0.2, 5] and a translation in [−50, 50].
CShearFree RandomShearFree(CRandom& random)
{
    CShearFree c;
    c.rotation = random.UnitQuaternion();
    for (double& s : c.scale)
        s = random.Uniform(0.2, 5.0);
    C4x4TMatrix<float> reflection;
    const int kind = random.Int(0, 5);
    c.mirrored = kind >= 4;
    if (kind == 4)
    {
        const int axis = random.Int(0, 2);
        reflection[axis][axis] = -1.0f;
    }
    else if (kind == 5)
        reflection[0][0] = reflection[1][1] = reflection[2][2] = -1.0f;
    c.m = ScaleColumns(c.rotation.GetMatrix() * reflection, c.scale[0], c.scale[1], c.scale[2]);
    for (int i = 0; i < 3; ++i)
        c.m[i][3] = float(random.Uniform(-50, 50));
    return c;
}

C4x4TMatrix<float> RoundTrip(const C4x4TMatrix<float>& m, _MatrixDecomposition& parts)
{
    EXPECT_TRUE(Decompose(m, parts));
    return Recompose(parts);
}

void ExpectUnitParts(const _MatrixDecomposition& parts)
{
    EXPECT_NEAR(parts.m_Rotation.Magnitude(), 1.0, 1e-6);
    EXPECT_NEAR(parts.m_StretchRotation.Magnitude(), 1.0, 1e-6);
    EXPECT_TRUE(parts.m_Sign == 1.0f || parts.m_Sign == -1.0f);
}
} // namespace

TEST(Decompose, ShearFreeMatricesComeBackAndSplitAsScaleAndRotation)
{
    CRandom random(61);
    int mirrors = 0;
    for (int n = 0; n < 500; ++n)
    {
        const CShearFree c = RandomShearFree(random);
        _MatrixDecomposition parts;
        const C4x4TMatrix<float> back = RoundTrip(c.m, parts);
        ASSERT_LT(MaxDiff(back, c.m), kShearFreeTolerance) << n;
        ExpectUnitParts(parts);

        EXPECT_EQ(parts.m_Sign, c.m.GetDeterminant() < 0 ? -1.0f : 1.0f) << n;
        mirrors += parts.m_Sign < 0;
        EXPECT_EQ(parts.m_Translation, C3DTVector<float>(c.m[0][3], c.m[1][3], c.m[2][3]));

        // The scales are the lengths of the columns, in axis order, and the stretch axes are
        // the coordinate axes.
        for (int j = 0; j < 3; ++j)
        {
            const double length =
                std::sqrt(double(c.m[0][j]) * c.m[0][j] + double(c.m[1][j]) * c.m[1][j] +
                          double(c.m[2][j]) * c.m[2][j]);
            EXPECT_NEAR(parts.m_Scale[j], length, 1e-6 * length) << n;
        }
        // U·K·Uᵀ is diagonal; U itself is the identity unless two scales are so close that
        // the float rounding of the input can turn their axes into each other.
        _MatrixDecomposition stretch;
        stretch.m_StretchRotation = parts.m_StretchRotation;
        stretch.m_Scale = parts.m_Scale;
        const C4x4TMatrix<float> s = Recompose(stretch);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                if (i != j)
                {
                    EXPECT_NEAR(s[i][j], 0.0, 1e-6 * LinearScale(s)) << n;
                }
        const double gap =
            std::min({std::fabs(c.scale[0] - c.scale[1]), std::fabs(c.scale[0] - c.scale[2]),
                      std::fabs(c.scale[1] - c.scale[2])});
        if (gap > 0.1)
        {
            EXPECT_LT(QuatDistance(parts.m_StretchRotation, CQuaternion()), 1e-5) << n;
        }

        // The rotation is the matrix with its column lengths divided out (and the mirror,
        // when there is one, taken out as −I).
        const C4x4TMatrix<float> rotation = parts.m_Rotation.GetMatrix();
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(parts.m_Sign * rotation[i][j], c.m[i][j] / parts.m_Scale[j], 1e-5);
        if (!c.mirrored)
        {
            EXPECT_LT(QuatDistance(parts.m_Rotation, c.rotation), 1e-5) << n;
        }
    }
    EXPECT_GT(mirrors, 100);
}

TEST(Decompose, ShearedMatricesComeBackWithinTheLooserTolerance)
{
    CRandom random(62);
    int turnedStretch = 0;
    for (int n = 0; n < 500; ++n)
    {
        // Uniform entries in [−3, 3]: shear, mirrors and all, in every case.
        const C4x4TMatrix<float> m = random.AffineMatrix(-3, 3);
        _MatrixDecomposition parts;
        const C4x4TMatrix<float> back = RoundTrip(m, parts);
        ASSERT_LT(MaxDiff(back, m), ShearedTolerance(m)) << n;
        ExpectUnitParts(parts);
        EXPECT_EQ(parts.m_Sign, m.GetDeterminant() < 0 ? -1.0f : 1.0f) << n;
        for (int j = 0; j < 3; ++j)
            EXPECT_GE(parts.m_Scale[j], 0.0f);
        // The product of the scales is |det A|.
        EXPECT_NEAR(double(parts.m_Scale[0]) * parts.m_Scale[1] * parts.m_Scale[2],
                    std::fabs(m.GetDeterminant()), 1e-4 * (1.0 + std::fabs(m.GetDeterminant())));
        turnedStretch += QuatDistance(parts.m_StretchRotation, CQuaternion()) > 1e-2;
    }
    EXPECT_GT(turnedStretch, 400) << "sheared cases must exercise the stretch rotation";

    // R·U·K·Uᵀ built here from chosen parts decomposes back to the same matrix, with the
    // scales (as a set) and the rotation recovered; a quarter of the cases spread the scales
    // from 0.01 to 100.
    for (int n = 0; n < 200; ++n)
    {
        const CQuaternion r = random.UnitQuaternion(), u = random.UnitQuaternion();
        const bool spread = n % 4 == 0;
        const double k[3] = {spread ? 0.01 : random.Uniform(0.5, 1.5),
                             spread ? 1.0 : random.Uniform(2, 3),
                             spread ? 100.0 : random.Uniform(4, 6)};
        C4x4TMatrix<float> ut = u.GetMatrix();
        ut.Transpose();
        const C4x4TMatrix<float> m =
            r.GetMatrix() * ScaleColumns(u.GetMatrix(), k[0], k[1], k[2]) * ut;
        _MatrixDecomposition parts;
        ASSERT_LT(MaxDiff(RoundTrip(m, parts), m), ShearedTolerance(m)) << n;
        EXPECT_LT(QuatDistance(parts.m_Rotation, r), 1e-5) << n;
        double sorted[3] = {parts.m_Scale[0], parts.m_Scale[1], parts.m_Scale[2]};
        std::sort(sorted, sorted + 3);
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(sorted[j], k[j], 1e-6 * k[2]) << n;
    }
}

TEST(Decompose, FlattenedAndTinyScalesStillComeBack)
{
    CRandom random(63);
    for (int n = 0; n < 300; ++n)
    {
        const C4x4TMatrix<float> rotation = random.UnitQuaternion().GetMatrix();
        const C4x4TMatrix<float> shear = random.AffineMatrix(-1, 1);
        double s[3] = {random.Uniform(0.5, 2), random.Uniform(0.5, 2), random.Uniform(0.5, 2)};
        // One, two or three scales set to zero, or to a tiny value the inverse still exists
        // for; half the cases with shear, so that the flattening is oblique.
        const int zeros = n % 4;
        for (int j = 0; j < zeros; ++j)
            s[(n + j) % 3] = 0.0;
        if (n % 8 == 7)
            s[n % 3] = 1e-6;
        C4x4TMatrix<float> m = ScaleColumns(n % 2 ? rotation * shear : rotation, s[0], s[1], s[2]);
        m[0][3] = 1.0f;
        _MatrixDecomposition parts;
        const C4x4TMatrix<float> back = RoundTrip(m, parts);
        ASSERT_LT(MaxDiff(back, m), ShearedTolerance(m)) << n;
        ExpectUnitParts(parts);
        if (zeros > 0)
        {
            EXPECT_EQ(parts.m_Sign, 1.0f) << "a flattening is not a mirror";
        }
    }

    C4x4TMatrix<float> zero;
    zero[0][0] = zero[1][1] = zero[2][2] = 0.0f;
    zero[1][3] = 4.0f;
    _MatrixDecomposition parts;
    EXPECT_EQ(RoundTrip(zero, parts), zero);
    EXPECT_EQ(parts.m_Scale, C3DTVector<float>(0, 0, 0));
    EXPECT_EQ(parts.m_Rotation, CQuaternion());
}

TEST(Decompose, PartsInterpolateMatrixKeys)
{
    // A matrix key between a and b: translation and scale linearly, rotation by Slerp, the
    // stretch axes left as the coordinate axes.
    auto interpolate = [](const _MatrixDecomposition& a, const _MatrixDecomposition& b, float t)
    {
        _MatrixDecomposition r = a;
        r.m_StretchRotation = CQuaternion();
        r.m_Translation = a.m_Translation * (1 - t) + b.m_Translation * t;
        r.m_Scale = a.m_Scale * (1 - t) + b.m_Scale * t;
        r.m_Rotation = CQuaternion::Slerp(a.m_Rotation, b.m_Rotation, t);
        return Recompose(r);
    };
    CRandom random(64);
    for (int n = 0; n < 200; ++n)
    {
        CShearFree a = RandomShearFree(random), b = RandomShearFree(random);
        if (a.mirrored != b.mirrored)
            continue;
        _MatrixDecomposition pa, pb;
        ASSERT_TRUE(Decompose(a.m, pa));
        ASSERT_TRUE(Decompose(b.m, pb));
        EXPECT_LT(MaxDiff(interpolate(pa, pb, 0.0f), a.m), kShearFreeTolerance) << n;
        EXPECT_LT(MaxDiff(interpolate(pa, pb, 1.0f), b.m), kShearFreeTolerance) << n;
    }

    // Half way from the identity to a quarter turn about Z with scale 3 is an eighth of a turn
    // with scale 2, built here from its own parts.
    const C3DTVector<float> zAxis(0, 0, 1);
    C4x4TMatrix<float> end = ScaleColumns(CQuaternion(zAxis, kPi / 2).GetMatrix(), 3, 3, 3);
    end.SetTranslation(C3DTVector<float>(4, 0, -2));
    _MatrixDecomposition pa, pb;
    ASSERT_TRUE(Decompose(C4x4TMatrix<float>(), pa));
    ASSERT_TRUE(Decompose(end, pb));
    C4x4TMatrix<float> expected = ScaleColumns(CQuaternion(zAxis, kPi / 4).GetMatrix(), 2, 2, 2);
    expected.SetTranslation(C3DTVector<float>(2, 0, -1));
    EXPECT_LT(MaxDiff(interpolate(pa, pb, 0.5f), expected), 1e-6);
}

TEST(Decompose, NonFiniteInputsGiveTheIdentity)
{
    const float bad[] = {NAN, INFINITY, -INFINITY};
    for (float value : bad)
        for (int k = 0; k < 12; ++k)
        {
            C4x4TMatrix<float> m;
            m[k / 4][k % 4] = value;
            _MatrixDecomposition parts;
            parts.m_Sign = -1.0f;
            parts.m_Translation = C3DTVector<float>(5, 5, 5);
            EXPECT_FALSE(Decompose(m, parts)) << k;
            EXPECT_TRUE(Recompose(parts).IsIdentity()) << "the identity decomposition";
            EXPECT_EQ(parts.m_Sign, 1.0f);
        }

    // The last row is not read: a projective row does not stop the decomposition.
    C4x4TMatrix<float> projective;
    projective[3][0] = NAN;
    projective[3][3] = 2.0f;
    projective[0][3] = 3.0f;
    _MatrixDecomposition parts;
    ASSERT_TRUE(Decompose(projective, parts));
    C4x4TMatrix<float> affine;
    affine[0][3] = 3.0f;
    EXPECT_EQ(Recompose(parts), affine);

    // Parts that cannot be built give the identity; degenerate quaternions count as none.
    _MatrixDecomposition broken;
    broken.m_Scale = C3DTVector<float>(1, NAN, 1);
    EXPECT_TRUE(Recompose(broken).IsIdentity());
    broken = _MatrixDecomposition();
    broken.m_Translation = C3DTVector<float>(INFINITY, 0, 0);
    EXPECT_TRUE(Recompose(broken).IsIdentity());
    broken = _MatrixDecomposition();
    broken.m_Rotation = CQuaternion(0, 0, 0, 0);
    broken.m_StretchRotation = CQuaternion(NAN, 0, 0, 1);
    broken.m_Scale = C3DTVector<float>(2, 3, 4);
    C4x4TMatrix<float> diagonal;
    diagonal[0][0] = 2;
    diagonal[1][1] = 3;
    diagonal[2][2] = 4;
    EXPECT_EQ(Recompose(broken), diagonal);
}
