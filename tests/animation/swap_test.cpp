// Axis swap codes: decoding, and both matrix conversions against references built from
// explicit permutation and reflection matrices.
#include "animation/math_test_helpers.h"

#include <3dzan/animation.h>

#include <optional>
#include <utility>

using namespace zanmath;

namespace
{
struct CSwap
{
    int a = -1, b = -1, mirror = -1;
};

// Decodes a code from its definition: exactly one bit or none in each part, nothing else.
std::optional<CSwap> ReferenceDecode(unsigned code)
{
    if (code == 0 || (code & ~0x77u) != 0)
        return std::nullopt;
    CSwap swap;
    const unsigned exchange = code & 7u, mirror = (code >> 4) & 7u;
    if (exchange == 1)
        swap.a = 0, swap.b = 1;
    else if (exchange == 2)
        swap.a = 0, swap.b = 2;
    else if (exchange == 4)
        swap.a = 1, swap.b = 2;
    else if (exchange != 0)
        return std::nullopt;
    if (mirror == 1 || mirror == 2 || mirror == 4)
        swap.mirror = mirror == 1 ? 0 : mirror == 2 ? 1 : 2;
    else if (mirror != 0)
        return std::nullopt;
    return swap;
}

C4x4TMatrix<float> Permutation(const CSwap& s)
{
    C4x4TMatrix<float> p;
    if (s.a >= 0)
    {
        p[s.a][s.a] = p[s.b][s.b] = 0.0f;
        p[s.a][s.b] = p[s.b][s.a] = 1.0f;
    }
    return p;
}

C4x4TMatrix<float> Reflection(const CSwap& s)
{
    C4x4TMatrix<float> d;
    if (s.mirror >= 0)
        d[s.mirror][s.mirror] = -1.0f;
    return d;
}

// The conjugated transform: D·(P·m·P)·D.
C4x4TMatrix<float> ReferenceAdjust(const CSwap& s, const C4x4TMatrix<float>& m)
{
    const C4x4TMatrix<float> p = Permutation(s), d = Reflection(s);
    return d * (p * m * p) * d;
}

// Columns re-expressed: m·P·D, with the translation permuted and reflected as a point.
C4x4TMatrix<float> ReferenceSwap(const CSwap& s, const C4x4TMatrix<float>& m)
{
    const C4x4TMatrix<float> p = Permutation(s), d = Reflection(s);
    C4x4TMatrix<float> r = m * p * d;
    const float t[3] = {m[0][3], m[1][3], m[2][3]};
    float moved[3];
    (d * p).TransformVector(t, moved);
    for (int i = 0; i < 3; ++i)
        r[i][3] = moved[i];
    return r;
}

// The code that undoes a valid code: a mirror of an exchanged axis moves to the other one.
unsigned InverseCode(unsigned code, const CSwap& s)
{
    if (s.a < 0 || (s.mirror != s.a && s.mirror != s.b))
        return code;
    const int other = s.mirror == s.a ? s.b : s.a;
    return (code & 7u) | (0x10u << other);
}

std::vector<unsigned> AllCodesOfBothParts()
{
    std::vector<unsigned> codes;
    for (unsigned exchange = 0; exchange < 8; ++exchange)
        for (unsigned mirror = 0; mirror < 8; ++mirror)
            codes.push_back(exchange | mirror << 4);
    return codes;
}
} // namespace

TEST(AxisSwap, CodesDecodeAsDefined)
{
    int a = 7, b = 7, k = 7;
    ASSERT_TRUE(GetXYZSwap(0x41, a, b, k));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(k, 2);
    ASSERT_TRUE(GetXYZSwap(0x20, a, b, k));
    EXPECT_EQ(a, -1);
    EXPECT_EQ(b, -1);
    EXPECT_EQ(k, 1);

    int valid = 0;
    for (unsigned code : AllCodesOfBothParts())
    {
        const std::optional<CSwap> expected = ReferenceDecode(code);
        int ra = 9, rb = 9, rk = 9;
        ASSERT_EQ(GetXYZSwap(code, ra, rb, rk), expected.has_value()) << code;
        if (!expected)
        {
            EXPECT_TRUE(ra == 9 && rb == 9 && rk == 9) << "a refused code leaves the outputs";
            continue;
        }
        ++valid;
        EXPECT_EQ(ra, expected->a) << code;
        EXPECT_EQ(rb, expected->b) << code;
        EXPECT_EQ(rk, expected->mirror) << code;
    }
    EXPECT_EQ(valid, 15); // 4 × 4 combinations less the code 0

    for (unsigned bad : {3u, 5u, 6u, 7u, 0x30u, 0x70u, 0x08u, 0x80u, 0x101u, 0x80000010u})
        EXPECT_FALSE(GetXYZSwap(bad, a, b, k)) << bad;
}

TEST(AxisSwap, ConversionsMatchExplicitMatricesForEveryCode)
{
    CRandom random(41);
    for (unsigned code : AllCodesOfBothParts())
    {
        const std::optional<CSwap> swap = ReferenceDecode(code);
        for (int n = 0; n < 4; ++n)
        {
            // General matrices for AdjustMatrix (it moves the last row too), affine ones for
            // SwapMatrix, whose translation column is handled apart from the product.
            const C4x4TMatrix<float> m = random.Matrix(-3, 3);
            const C4x4TMatrix<float> affine = random.AffineMatrix(-3, 3);
            if (!swap)
            {
                EXPECT_EQ(AdjustMatrix(code, m), m) << code;
                EXPECT_EQ(SwapMatrix(code, affine), affine) << code;
                continue;
            }
            EXPECT_EQ(AdjustMatrix(code, m), ReferenceAdjust(*swap, m)) << code;
            EXPECT_EQ(SwapMatrix(code, affine), ReferenceSwap(*swap, affine)) << code;
        }
    }
}

TEST(AxisSwap, EveryCodeIsUndoneByItselfOrItsPartner)
{
    CRandom random(42);
    int selfInverse = 0;
    for (unsigned code : AllCodesOfBothParts())
    {
        CSwap swap;
        if (!GetXYZSwap(code, swap.a, swap.b, swap.mirror))
            continue;
        const unsigned inverse = InverseCode(code, swap);
        const C4x4TMatrix<float> m = random.AffineMatrix(-3, 3);
        EXPECT_EQ(AdjustMatrix(inverse, AdjustMatrix(code, m)), m) << code;
        EXPECT_EQ(SwapMatrix(inverse, SwapMatrix(code, m)), m) << code;
        if (inverse == code)
        {
            ++selfInverse;
            continue;
        }
        // Mirroring an exchanged axis does not commute with the exchange: the same code
        // twice is a half turn, not the identity.
        EXPECT_NE(AdjustMatrix(code, AdjustMatrix(code, m)), m) << code;
    }
    EXPECT_EQ(selfInverse, 9); // 15 valid codes, 6 of which mirror an exchanged axis

    const C4x4TMatrix<float> m = random.AffineMatrix(-3, 3);
    EXPECT_EQ(AdjustMatrix(4, AdjustMatrix(4, m)), m);
    EXPECT_EQ(AdjustMatrix(0, m), m);
    EXPECT_EQ(SwapMatrix(0, m), m);
}

TEST(AxisSwap, AdjustedMatrixActsOnSwappedPointsAsTheOriginalDid)
{
    // With X the swap applied to coordinates (exchange, then mirror), the adjusted matrix
    // must satisfy Adjust(m)·(X·p) = X·(m·p): the same motion seen in the new axes.
    CRandom random(43);
    for (unsigned code : AllCodesOfBothParts())
    {
        CSwap s;
        if (!GetXYZSwap(code, s.a, s.b, s.mirror))
            continue;
        auto toNewAxes = [&](const float* p, float* out)
        {
            float q[3] = {p[0], p[1], p[2]};
            if (s.a >= 0)
                std::swap(q[s.a], q[s.b]);
            if (s.mirror >= 0)
                q[s.mirror] = -q[s.mirror];
            std::copy(q, q + 3, out);
        };
        const C4x4TMatrix<float> m = random.AffineMatrix(-2, 2);
        const C4x4TMatrix<float> adjusted = AdjustMatrix(code, m);
        const float p[3] = {float(random.Uniform(-4, 4)), float(random.Uniform(-4, 4)),
                            float(random.Uniform(-4, 4))};
        float moved[3], expected[3], swapped[3], actual[3];
        m.TransformPoint(p, moved);
        toNewAxes(moved, expected);
        toNewAxes(p, swapped);
        adjusted.TransformPoint(swapped, actual);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(actual[i], expected[i], 1e-5) << code;
    }
}
