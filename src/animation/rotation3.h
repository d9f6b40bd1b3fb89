// 3 x 3 double-precision helpers shared by the quaternion and decomposition files. The
// public types store floats; everything in between is carried in double so that a round trip
// through these conversions loses no more than the final rounding to float.
#pragma once

#include <3dzan/animation/math.h>

#include <array>

namespace zan_animation
{
using Mat3 = std::array<std::array<double, 3>, 3>;

inline Mat3 Identity3()
{
    return Mat3{{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};
}

inline Mat3 Multiply3(const Mat3& a, const Mat3& b)
{
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    return r;
}

inline Mat3 Transposed3(const Mat3& a)
{
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[i][j] = a[j][i];
    return r;
}

inline double Determinant3(const Mat3& a)
{
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
}

/// The rotation matrix of \p q by the library's formula (see CQuaternion::GetMatrix);
/// false, with the identity, when \p q is zero or not finite.
bool QuaternionToRotation(const CQuaternion& q, Mat3& rotation);

/// The quaternion whose matrix is the proper rotation \p rotation (the inverse of
/// QuaternionToRotation), normalised, with w >= 0.
CQuaternion RotationToQuaternion(const Mat3& rotation);

/// The polar decomposition a = q·s: q orthogonal, s symmetric positive semi-definite.
/// For a rank-deficient \p a, q is completed to a proper rotation. False, with q and s the
/// identity, when \p a has a non-finite element.
bool PolarDecompose(const Mat3& a, Mat3& q, Mat3& s);
} // namespace zan_animation
