// Quaternions: products and matrices against the rotate keys' axis-angle formula, spherical
// interpolation, Euler angles, conversion from matrices, and the degenerate inputs.
#include "animation/math_test_helpers.h"

#include <3dzan/animation.h>
#include <3dzan/foundation/exceptions.h>

#include <cstring>

using namespace zanmath;

namespace
{
// The rotation matrix of the rotate keys, written from its own formula: unit axis (x, y, z),
// co = cos(angle), si = sin(angle).
C4x4TMatrix<float> AxisAngleMatrix(double x, double y, double z, double angle)
{
    const double length = std::sqrt(x * x + y * y + z * z);
    x /= length, y /= length, z /= length;
    const double co = std::cos(angle), si = std::sin(angle);
    const double rows[3][3] = {
        {(1 - x * x) * co + x * x, x * y * (1 - co) + z * si, x * z * (1 - co) - y * si},
        {x * y * (1 - co) - z * si, (1 - y * y) * co + y * y, y * z * (1 - co) + x * si},
        {x * z * (1 - co) + y * si, y * z * (1 - co) - x * si, (1 - z * z) * co + z * z}};
    C4x4TMatrix<float> m;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] = float(rows[i][j]);
    return m;
}

// (axis·sin(angle/2), cos(angle/2)) built by hand, independent of the class's constructors.
CQuaternion Turn(double x, double y, double z, double angle)
{
    const double length = std::sqrt(x * x + y * y + z * z);
    const double s = std::sin(angle / 2) / length;
    return CQuaternion(float(x * s), float(y * s), float(z * s), float(std::cos(angle / 2)));
}

// The angle of the rotation between two unit quaternions.
double AngleBetween(const CQuaternion& a, const CQuaternion& b)
{
    return 2.0 * std::acos(std::min(1.0, std::fabs(CQuaternion::Dot(a, b))));
}

void ExpectRotation(const C4x4TMatrix<float>& m)
{
    C4x4TMatrix<float> t = m;
    t.Transpose();
    EXPECT_LT(MaxDiff(t * m, C4x4TMatrix<float>()), 1e-6);
    EXPECT_NEAR(m.GetDeterminant(), 1.0, 1e-6);
}
} // namespace

TEST(Quaternion, ComponentsInOrderAndNormalizeRefusals)
{
    const float values[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    CQuaternion q(values);
    EXPECT_EQ(q, CQuaternion(1, 2, 3, 4));
    EXPECT_EQ(q[3], 4.0f);
    EXPECT_EQ(q.ValPtr()[2], 3.0f);
    EXPECT_THROW(q[4], CXInvalidArgException);
    EXPECT_THROW(q[-1], CXInvalidArgException);
    EXPECT_EQ(CQuaternion(), CQuaternion(0, 0, 0, 1));

    q = CQuaternion(0, 3, 0, 4);
    ASSERT_TRUE(q.Normalize());
    EXPECT_EQ(q, CQuaternion(0, 0.6f, 0, 0.8f));
    for (CQuaternion bad :
         {CQuaternion(0, 0, 0, 0), CQuaternion(NAN, 0, 0, 1), CQuaternion(0, INFINITY, 0, 1)})
    {
        CQuaternion copy = bad;
        EXPECT_FALSE(copy.Normalize());
        EXPECT_EQ(std::memcmp(&copy, &bad, sizeof bad), 0);
    }
}

TEST(Quaternion, HamiltonProductComposesRotationsLeftFirst)
{
    // The units multiply as i·j = k, j·i = −k.
    const CQuaternion i(1, 0, 0, 0), j(0, 1, 0, 0), k(0, 0, 1, 0);
    EXPECT_EQ(i * j, k);
    EXPECT_EQ(j * i, -k);
    EXPECT_EQ(k * k, CQuaternion(0, 0, 0, -1));

    CRandom random(51);
    for (int n = 0; n < 200; ++n)
    {
        const CQuaternion p = random.UnitQuaternion(), q = random.UnitQuaternion();
        const CQuaternion pq = p * q;
        EXPECT_NEAR(pq.Magnitude(), 1.0, 1e-6);
        // p then q: the product's matrix applies p's matrix first.
        EXPECT_LT(MaxDiff(pq.GetMatrix(), q.GetMatrix() * p.GetMatrix()), 1e-6);

        CQuaternion r = p;
        r.Rotate(q);
        EXPECT_EQ(r, pq);
        r = p;
        r *= q;
        EXPECT_EQ(r, pq);
        EXPECT_EQ(p * CQuaternion(), p);
    }
}

TEST(Quaternion, MatrixIsTheRotateKeysAxisAngleMatrix)
{
    CRandom random(52);
    for (int n = 0; n < 200; ++n)
    {
        const double x = random.Uniform(-1, 1), y = random.Uniform(-1, 1),
                     z = random.Uniform(-1, 1), angle = random.Uniform(-2 * kPi, 2 * kPi);
        const CQuaternion q = Turn(x, y, z, angle);
        const C4x4TMatrix<float> m = q.GetMatrix();
        EXPECT_LT(MaxDiff(m, AxisAngleMatrix(x, y, z, angle)), 1e-6);
        ExpectRotation(m);
        // The formula divides by the squared magnitude: a scaled quaternion is the same turn.
        EXPECT_LT(MaxDiff((q * 3.5).GetMatrix(), m), 1e-6);
        EXPECT_LT(MaxDiff((-q).GetMatrix(), m), 1e-7);
    }
    // A quarter turn about Z takes X to −Y: clockwise seen from the tip of the axis.
    const C4x4TMatrix<float> quarter = Turn(0, 0, 1, kPi / 2).GetMatrix();
    const float xAxis[3] = {1, 0, 0};
    float image[3];
    quarter.TransformVector(xAxis, image);
    EXPECT_NEAR(image[0], 0.0, 1e-7);
    EXPECT_NEAR(image[1], -1.0, 1e-7);

    EXPECT_TRUE(CQuaternion(0, 0, 0, 0).GetMatrix().IsIdentity());
    EXPECT_TRUE(CQuaternion(NAN, 0, 0, 1).GetMatrix().IsIdentity());
}

TEST(Quaternion, MatrixAssignmentRecoversTheRotation)
{
    CRandom random(53);
    std::vector<CQuaternion> cases;
    for (int n = 0; n < 300; ++n)
        cases.push_back(random.UnitQuaternion());
    // Half turns about each axis and about a diagonal exercise every branch of the extraction.
    for (const CQuaternion& q : {Turn(1, 0, 0, kPi), Turn(0, 1, 0, kPi), Turn(0, 0, 1, kPi),
                                 Turn(1, 1, 0, kPi), Turn(1, -2, 3, 3.1), CQuaternion()})
        cases.push_back(q);

    for (const CQuaternion& q : cases)
    {
        const C4x4TMatrix<float> m = q.GetMatrix();
        CQuaternion back;
        back = m;
        EXPECT_LT(QuatDistance(back, q), 2e-6);
        EXPECT_GE(back.w, 0.0f) << "one sign for one rotation";

        // Scale and translation do not change the rotation.
        C4x4TMatrix<float> scaled = ScaleColumns(m, random.Uniform(0.1, 10),
                                                 random.Uniform(0.1, 10), random.Uniform(0.1, 10));
        scaled[0][3] = 5.0f;
        back = scaled;
        EXPECT_LT(QuatDistance(back, q), 1e-5);

        // A mirroring matrix is read as −I times a rotation, so −m gives m's rotation back.
        C4x4TMatrix<float> mirrored = m;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                mirrored[i][j] = -m[i][j];
        back = mirrored;
        EXPECT_LT(QuatDistance(back, q), 2e-6);
    }
}

TEST(Quaternion, MatrixAssignmentOfDegenerateMatrices)
{
    CQuaternion q(1, 2, 3, 4);
    C4x4TMatrix<float> zero;
    zero[0][0] = zero[1][1] = zero[2][2] = 0.0f;
    q = zero;
    EXPECT_EQ(q, CQuaternion());

    C4x4TMatrix<float> withNan;
    withNan[1][0] = NAN;
    q = CQuaternion(1, 2, 3, 4);
    q = withNan;
    EXPECT_EQ(q, CQuaternion());

    // A flattening (zero scale along one axis) keeps the rotation of the other two.
    const CQuaternion turn = Turn(1, 2, -1, 0.7);
    q = ScaleColumns(turn.GetMatrix(), 2.0, 0.0, 1.0);
    EXPECT_LT(QuatDistance(q, turn), 1e-6);
    q = ScaleColumns(turn.GetMatrix(), 0.0, 0.0, 3.0); // a line: still a unit quaternion
    EXPECT_NEAR(q.Magnitude(), 1.0, 1e-6);
}

TEST(Quaternion, SlerpFollowsTheShortArcAtConstantSpeed)
{
    CRandom random(54);
    for (int n = 0; n < 200; ++n)
    {
        const CQuaternion a = random.UnitQuaternion();
        CQuaternion b = random.UnitQuaternion();
        if (n % 2 == 0 && CQuaternion::Dot(a, b) > 0) // half the pairs across the long way
            b = -b;
        const double total = AngleBetween(a, b); // of the shorter arc, by acos of |a·b|
        EXPECT_LT(QuatDistance(CQuaternion::Slerp(a, b, 0.0f), a), 1e-6);
        EXPECT_LT(QuatDistance(CQuaternion::Slerp(a, b, 1.0f), b), 1e-6);
        for (int step = 1; step < 10; ++step)
        {
            const float t = float(step) / 10.0f;
            const CQuaternion s = CQuaternion::Slerp(a, b, t);
            EXPECT_NEAR(s.Magnitude(), 1.0, 1e-5) << t;
            EXPECT_NEAR(AngleBetween(a, s), t * total, 1e-5) << t;
            EXPECT_NEAR(AngleBetween(s, b), (1 - t) * total, 1e-5) << t;
        }

        EXPECT_LT(QuatDistance(CQuaternion::Slerp(a, a, 0.3f), a), 1e-6);
        // −a is the same rotation: the shorter arc is no arc at all.
        const CQuaternion half = CQuaternion::Slerp(a, -a, 0.5f);
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(half[i], a[i], 1e-6);
        // Nearly equal rotations fall back to the chord and stay unit length.
        EXPECT_NEAR(CQuaternion::Slerp(a, a * Turn(0, 0, 1, 1e-4), 0.5f).Magnitude(), 1.0, 1e-6);
    }
}

TEST(Quaternion, EulerAnglesComposeBankPitchHeading)
{
    CRandom random(56);
    for (int n = 0; n < 300; ++n)
    {
        const double h = random.Uniform(-3.1, 3.1), p = random.Uniform(-1.55, 1.55),
                     b = random.Uniform(-3.1, 3.1);
        const CQuaternion q(h, p, b);
        // Bank about Z first, then pitch about X, then heading about Y.
        const C4x4TMatrix<float> expected = Turn(0, 1, 0, h).GetMatrix() *
                                            Turn(1, 0, 0, p).GetMatrix() *
                                            Turn(0, 0, 1, b).GetMatrix();
        EXPECT_LT(MaxDiff(q.GetMatrix(), expected), 1e-6);

        double rh, rp, rb;
        q.GetHPBAngles(rh, rp, rb);
        EXPECT_NEAR(rh, h, 1e-5);
        EXPECT_NEAR(rp, p, 1e-5);
        EXPECT_NEAR(rb, b, 1e-5);
    }
}

TEST(Quaternion, EulerAnglesAtGimbalLockKeepTheRotation)
{
    CRandom random(57);
    for (int n = 0; n < 50; ++n)
    {
        const double p = n % 2 ? kPi / 2 : -kPi / 2;
        const CQuaternion q(random.Uniform(-3, 3), p, random.Uniform(-3, 3));
        double rh, rp, rb;
        q.GetHPBAngles(rh, rp, rb);
        EXPECT_NEAR(rp, p, 1e-3);
        // The heading and bank are not separable there; the rotation must survive.
        EXPECT_LT(MaxDiff(CQuaternion(rh, rp, rb).GetMatrix(), q.GetMatrix()), 1e-5);
    }
    double h = 1, p = 1, b = 1;
    CQuaternion(0, 0, 0, 0).GetHPBAngles(h, p, b);
    EXPECT_EQ(h, 0.0);
    EXPECT_EQ(p, 0.0);
    EXPECT_EQ(b, 0.0);
    CQuaternion(NAN, 0, 0, 1).GetHPBAngles(h, p, b);
    EXPECT_EQ(h, 0.0);
}

TEST(Quaternion, AxisAngleRoundTrip)
{
    CQuaternion q;
    q.SetAxisAngle(C3DTVector<float>(0, 0, 2), kPi);
    EXPECT_NEAR(q.x, 0.0, 1e-7);
    EXPECT_NEAR(q.y, 0.0, 1e-7);
    EXPECT_NEAR(q.z, 1.0, 1e-7);
    EXPECT_NEAR(q.w, 0.0, 1e-7);

    CRandom random(58);
    for (int n = 0; n < 300; ++n)
    {
        C3DTVector<float> axis(float(random.Uniform(-2, 2)), float(random.Uniform(-2, 2)),
                               float(random.Uniform(-2, 2)));
        const double angle = random.Uniform(0.01, 2 * kPi - 0.01);
        const CQuaternion fromCtor(axis, angle);
        q = CQuaternion(1, 2, 3, 4);
        q.SetAxisAngle(axis, angle);
        EXPECT_EQ(q, fromCtor);
        EXPECT_NEAR(q.Magnitude(), 1.0, 1e-6);
        EXPECT_LT(MaxDiff(q.GetMatrix(), AxisAngleMatrix(axis.m_X, axis.m_Y, axis.m_Z, angle)),
                  1e-6);

        C3DTVector<float> backAxis;
        double backAngle = -1;
        ASSERT_TRUE((q * 2.5).GetAxisAngle(backAxis, backAngle)) << "read after normalising";
        EXPECT_TRUE(q.IsValid());
        EXPECT_NEAR(backAngle, angle, 1e-5);
        axis.Normalize();
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(backAxis[i], axis[i], 1e-4) << n;

        // A further rotation about an axis composes like the product with its quaternion.
        CQuaternion turned = q;
        const C3DTVector<float> other(0.3f, -1, 0.5f);
        turned.Rotate(other, 0.8);
        EXPECT_EQ(turned, q * CQuaternion(other, 0.8));
    }

    // A zero axis is used as it is.
    q.SetAxisAngle(C3DTVector<float>(0, 0, 0), 1.0);
    EXPECT_EQ(q, CQuaternion(0, 0, 0, float(std::cos(0.5))));
}

TEST(Quaternion, AxisAngleOfNoRotationIsRefused)
{
    const CQuaternion cases[] = {CQuaternion(), CQuaternion(0, 0, 0, -3), CQuaternion(0, 0, 0, 0),
                                 CQuaternion(NAN, 0, 0, 1), CQuaternion(1e-8f, 0, 0, 1)};
    for (const CQuaternion& q : cases)
    {
        C3DTVector<float> axis(7, 8, 9);
        double angle = 5;
        EXPECT_FALSE(q.GetAxisAngle(axis, angle));
        EXPECT_FALSE(q.IsValid());
        EXPECT_EQ(angle, 0.0);
        EXPECT_EQ(axis, C3DTVector<float>(1, 0, 0));
    }
    // Not normalised on input: (0, 0, 2, 0) is the half turn about Z.
    C3DTVector<float> axis;
    double angle;
    ASSERT_TRUE(CQuaternion(0, 0, 2, 0).GetAxisAngle(axis, angle));
    EXPECT_EQ(axis, C3DTVector<float>(0, 0, 1));
    EXPECT_NEAR(angle, kPi, 1e-12);
}

TEST(Quaternion, PureVectorTurnsAsTheMatrixDoes)
{
    CRandom random(59);
    for (int n = 0; n < 100; ++n)
    {
        const CQuaternion q = random.UnitQuaternion();
        const C3DTVector<float> v(float(random.Uniform(-3, 3)), float(random.Uniform(-3, 3)),
                                  float(random.Uniform(-3, 3)));
        CQuaternion pure(9, 9, 9, 9);
        pure = v;
        EXPECT_EQ(pure, CQuaternion(v.m_X, v.m_Y, v.m_Z, 0));
        const CQuaternion conjugate(-q.x, -q.y, -q.z, q.w);
        const CQuaternion turned = conjugate * pure * q;
        const C3DTVector<float> expected = q.GetMatrix().TransformVector(v);
        EXPECT_NEAR(turned.w, 0.0, 1e-5);
        EXPECT_NEAR(turned.x, expected.m_X, 1e-5);
        EXPECT_NEAR(turned.y, expected.m_Y, 1e-5);
        EXPECT_NEAR(turned.z, expected.m_Z, 1e-5);
    }
}
