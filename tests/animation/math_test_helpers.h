// Seeded random transforms and tolerant comparisons for the math tests.
#pragma once

#include <3dzan/animation/math.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace zanmath
{
constexpr double kPi = 3.14159265358979323846;

/// Largest element-wise difference of two matrices (infinity when either has a NaN).
template <class T> double MaxDiff(const C4x4TMatrix<T>& a, const C4x4TMatrix<T>& b)
{
    double worst = 0.0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
        {
            const double d = std::fabs(double(a[i][j]) - double(b[i][j]));
            if (std::isnan(d))
                return INFINITY;
            worst = std::max(worst, d);
        }
    return worst;
}

/// Largest element magnitude of the upper 3 x 3 part (a scale for relative tolerances).
inline double LinearScale(const C4x4TMatrix<float>& m)
{
    double s = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            s = std::max(s, std::fabs(double(m[i][j])));
    return s;
}

/// Distance between two rotations' quaternions, up to the sign that does not change them.
inline double QuatDistance(const CQuaternion& a, const CQuaternion& b)
{
    double plus = 0.0, minus = 0.0;
    for (int i = 0; i < 4; ++i)
    {
        plus = std::max(plus, std::fabs(double(a[i]) - b[i]));
        minus = std::max(minus, std::fabs(double(a[i]) + b[i]));
    }
    return std::min(plus, minus);
}

class CRandom
{
public:
    explicit CRandom(unsigned seed) : m_Engine(seed) {}

    double Uniform(double lo, double hi)
    {
        return std::uniform_real_distribution<double>(lo, hi)(m_Engine);
    }
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_Engine); }

    /// A unit quaternion spread evenly over the rotations.
    CQuaternion UnitQuaternion()
    {
        std::normal_distribution<double> n;
        for (;;)
        {
            const double x = n(m_Engine), y = n(m_Engine), z = n(m_Engine), w = n(m_Engine);
            const double len = std::sqrt(x * x + y * y + z * z + w * w);
            if (len > 1e-3)
                return CQuaternion(float(x / len), float(y / len), float(z / len), float(w / len));
        }
    }

    /// Sixteen values in [lo, hi].
    C4x4TMatrix<float> Matrix(double lo, double hi)
    {
        C4x4TMatrix<float> m;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                m[i][j] = float(Uniform(lo, hi));
        return m;
    }

    /// An affine matrix with a random 3 x 3 part and translation, last row (0, 0, 0, 1).
    C4x4TMatrix<float> AffineMatrix(double lo, double hi)
    {
        C4x4TMatrix<float> m = Matrix(lo, hi);
        m[3][0] = m[3][1] = m[3][2] = 0.0f;
        m[3][3] = 1.0f;
        return m;
    }

private:
    std::mt19937 m_Engine;
};

/// The 3 x 3 part of \p m scaled column by column: m·diag(sx, sy, sz).
inline C4x4TMatrix<float> ScaleColumns(C4x4TMatrix<float> m, double sx, double sy, double sz)
{
    const double s[3] = {sx, sy, sz};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] = float(m[i][j] * s[j]);
    return m;
}
} // namespace zanmath
