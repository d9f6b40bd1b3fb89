// Quaternions as rotations: construction from an axis and angle or from Euler angles, the
// Hamilton product, spherical interpolation and the conversions to and from matrices.
//
// A unit quaternion (v sin(t/2), cos(t/2)) is the turn by t about the unit axis v (Hamilton's
// representation; Shoemake, "Animating Rotation with Quaternion Curves", SIGGRAPH 1985, for
// the interpolation along the great arc). The library's matrix of a quaternion is the
// transpose of the usual right-handed one, the convention of the rotate keys; everything
// below (the Euler angles, the conversion back from a matrix) is derived from that matrix so
// that the round trips close. Arithmetic runs in double and rounds to float once at the end.
#include "rotation3.h"

#include <3dzan/foundation/exceptions.h>

#include <algorithm>
#include <cmath>

namespace
{
// Hamilton product in double, (x, y, z, w) order.
struct CQuatD
{
    double x, y, z, w;
};

CQuatD Multiply(const CQuatD& a, const CQuatD& b)
{
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
            a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

CQuaternion ToFloat(const CQuatD& q)
{
    return CQuaternion(float(q.x), float(q.y), float(q.z), float(q.w));
}

CQuatD ToDouble(const CQuaternion& q)
{
    return {q.x, q.y, q.z, q.w};
}

// Gimbal lock: below this, cos(pitch) is taken as 0 when reading Euler angles back.
const double kGimbalLimit = 1e-9;
} // namespace

namespace zan_animation
{
bool QuaternionToRotation(const CQuaternion& q, Mat3& r)
{
    const double x = q.x, y = q.y, z = q.z, w = q.w;
    const double x2 = x * x, y2 = y * y, z2 = z * z, w2 = w * w;
    const double norm2 = x2 + y2 + z2 + w2;
    if (!(norm2 > 0.0) || !std::isfinite(norm2))
    {
        r = Identity3();
        return false;
    }
    const double n = 1.0 / norm2;
    r[0] = {(x2 - y2 - z2 + w2) * n, 2.0 * (x * y + z * w) * n, 2.0 * (x * z - y * w) * n};
    r[1] = {2.0 * (x * y - z * w) * n, (-x2 + y2 - z2 + w2) * n, 2.0 * (y * z + x * w) * n};
    r[2] = {2.0 * (x * z + y * w) * n, 2.0 * (y * z - x * w) * n, (-x2 - y2 + z2 + w2) * n};
    return true;
}

CQuaternion RotationToQuaternion(const Mat3& m)
{
    // Shepperd's choice of the largest of 4w², 4x², 4y², 4z² as the divisor keeps the
    // extraction well conditioned for every angle. The off-diagonal sums and differences are
    // those of the matrix formula: m01 − m10 = 4zw, m01 + m10 = 4xy, and so on.
    const double trace = m[0][0] + m[1][1] + m[2][2];
    CQuatD q{};
    if (trace >= m[0][0] && trace >= m[1][1] && trace >= m[2][2])
    {
        const double s = 2.0 * std::sqrt(std::max(1.0 + trace, 0.0));
        q.w = 0.25 * s;
        q.x = (m[1][2] - m[2][1]) / s;
        q.y = (m[2][0] - m[0][2]) / s;
        q.z = (m[0][1] - m[1][0]) / s;
    }
    else if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2])
    {
        const double s = 2.0 * std::sqrt(std::max(1.0 + m[0][0] - m[1][1] - m[2][2], 0.0));
        q.x = 0.25 * s;
        q.w = (m[1][2] - m[2][1]) / s;
        q.y = (m[0][1] + m[1][0]) / s;
        q.z = (m[0][2] + m[2][0]) / s;
    }
    else if (m[1][1] >= m[2][2])
    {
        const double s = 2.0 * std::sqrt(std::max(1.0 + m[1][1] - m[0][0] - m[2][2], 0.0));
        q.y = 0.25 * s;
        q.w = (m[2][0] - m[0][2]) / s;
        q.x = (m[0][1] + m[1][0]) / s;
        q.z = (m[1][2] + m[2][1]) / s;
    }
    else
    {
        const double s = 2.0 * std::sqrt(std::max(1.0 + m[2][2] - m[0][0] - m[1][1], 0.0));
        q.z = 0.25 * s;
        q.w = (m[0][1] - m[1][0]) / s;
        q.x = (m[0][2] + m[2][0]) / s;
        q.y = (m[1][2] + m[2][1]) / s;
    }
    double norm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    if (!(norm > 0.0) || !std::isfinite(norm))
        return CQuaternion();
    if (q.w < 0.0)
        norm = -norm; // one sign for one rotation, so equal matrices give equal quaternions
    return ToFloat({q.x / norm, q.y / norm, q.z / norm, q.w / norm});
}
} // namespace zan_animation

using namespace zan_animation;

CQuaternion::CQuaternion(const float* values)
    : x(values[0]), y(values[1]), z(values[2]), w(values[3])
{
}

CQuaternion::CQuaternion(const C3DTVector<float>& axis, double angle)
{
    SetAxisAngle(axis, angle);
}

CQuaternion::CQuaternion(double heading, double pitch, double bank)
{
    // Each factor is the quaternion of one axis-angle turn; the product applies its left
    // operand first, so bank, then pitch, then heading.
    const CQuatD h{0.0, std::sin(heading / 2.0), 0.0, std::cos(heading / 2.0)};
    const CQuatD p{std::sin(pitch / 2.0), 0.0, 0.0, std::cos(pitch / 2.0)};
    const CQuatD b{0.0, 0.0, std::sin(bank / 2.0), std::cos(bank / 2.0)};
    *this = ToFloat(Multiply(Multiply(b, p), h));
}

float& CQuaternion::operator[](int index)
{
    switch (index)
    {
    case 0:
        return x;
    case 1:
        return y;
    case 2:
        return z;
    case 3:
        return w;
    default:
        ZanThrowIndexError("CQuaternion::operator[]", index, 4);
    }
}

float CQuaternion::operator[](int index) const
{
    return const_cast<CQuaternion&>(*this)[index];
}

void CQuaternion::SetAxisAngle(const C3DTVector<float>& axis, double angle)
{
    double ax = axis.m_X, ay = axis.m_Y, az = axis.m_Z;
    const double length = std::sqrt(ax * ax + ay * ay + az * az);
    if (length > 1e-15)
    {
        ax /= length;
        ay /= length;
        az /= length;
    }
    const double s = std::sin(angle / 2.0);
    *this = ToFloat({ax * s, ay * s, az * s, std::cos(angle / 2.0)});
}

bool CQuaternion::GetAxisAngle(C3DTVector<float>& axis, double& angle) const
{
    const double m = Magnitude();
    if (m > 0.0 && std::isfinite(m))
    {
        const double qw = std::clamp(w / m, -1.0, 1.0);
        const double s = std::sqrt(1.0 - qw * qw);
        if (s >= 1e-6)
        {
            angle = 2.0 * std::acos(qw);
            axis.Set(float(x / m / s), float(y / m / s), float(z / m / s));
            return true;
        }
    }
    angle = 0.0;
    axis.Set(1.0f, 0.0f, 0.0f);
    return false;
}

bool CQuaternion::IsValid() const
{
    C3DTVector<float> axis;
    double angle;
    return GetAxisAngle(axis, angle);
}

double CQuaternion::Dot(const CQuaternion& a, const CQuaternion& b)
{
    return double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z + double(a.w) * b.w;
}

CQuaternion CQuaternion::Slerp(const CQuaternion& a, const CQuaternion& b, float t)
{
    const double d = Dot(a, b);
    const double ad = std::fabs(d);
    double sa, sb;
    if (1.0 - ad > 1e-6)
    {
        const double theta = std::acos(ad);
        const double sinTheta = std::sin(theta);
        sa = std::sin((1.0 - t) * theta) / sinTheta;
        sb = std::sin(t * theta) / sinTheta;
    }
    else
    {
        // Nearly the same rotation: the chord and the arc agree to within float precision.
        sa = 1.0 - t;
        sb = t;
    }
    if (d < 0.0)
        sb = -sb;
    return ToFloat(
        {sa * a.x + sb * b.x, sa * a.y + sb * b.y, sa * a.z + sb * b.z, sa * a.w + sb * b.w});
}

double CQuaternion::MagnitudeSquared() const
{
    return Dot(*this, *this);
}

double CQuaternion::Magnitude() const
{
    return std::sqrt(MagnitudeSquared());
}

bool CQuaternion::Normalize()
{
    const double m = Magnitude();
    if (!(m > 0.0) || !std::isfinite(m))
        return false;
    *this = ToFloat({x / m, y / m, z / m, w / m});
    return true;
}

CQuaternion CQuaternion::operator*(const CQuaternion& other) const
{
    return ToFloat(Multiply(ToDouble(*this), ToDouble(other)));
}

CQuaternion& CQuaternion::operator*=(const CQuaternion& other)
{
    *this = *this * other;
    return *this;
}

void CQuaternion::Rotate(const CQuaternion& other)
{
    *this *= other;
}

void CQuaternion::Rotate(const C3DTVector<float>& axis, double angle)
{
    *this *= CQuaternion(axis, angle);
}

CQuaternion CQuaternion::operator*(double factor) const
{
    return ToFloat({x * factor, y * factor, z * factor, w * factor});
}

CQuaternion CQuaternion::operator/(double divisor) const
{
    return ToFloat({x / divisor, y / divisor, z / divisor, w / divisor});
}

CQuaternion CQuaternion::operator+(const CQuaternion& other) const
{
    return CQuaternion(x + other.x, y + other.y, z + other.z, w + other.w);
}

CQuaternion CQuaternion::operator-() const
{
    return CQuaternion(-x, -y, -z, -w);
}

bool CQuaternion::operator==(const CQuaternion& other) const
{
    return x == other.x && y == other.y && z == other.z && w == other.w;
}

CQuaternion& CQuaternion::operator=(const C4x4TMatrix<float>& m)
{
    Mat3 a{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            a[i][j] = m[i][j];
    Mat3 q{}, s{};
    if (!PolarDecompose(a, q, s))
    {
        *this = CQuaternion();
        return *this;
    }
    if (Determinant3(q) < 0.0)
        for (auto& row : q)
            for (double& v : row)
                v = -v;
    *this = RotationToQuaternion(q);
    return *this;
}

CQuaternion& CQuaternion::operator=(const C3DTVector<float>& v)
{
    *this = CQuaternion(v.m_X, v.m_Y, v.m_Z, 0.0f);
    return *this;
}

C4x4TMatrix<float> CQuaternion::GetMatrix() const
{
    Mat3 r{};
    QuaternionToRotation(*this, r);
    C4x4TMatrix<float> m;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] = float(r[i][j]);
    return m;
}

void CQuaternion::GetHPBAngles(double& heading, double& pitch, double& bank) const
{
    // With the rotation matrix M = Ry(h)·Rx(p)·Rz(b) of the constructor's order (library
    // matrices), row 1 is (−cos p sin b, cos p cos b, sin p), column 2 is
    // (−sin h cos p, sin p, cos h cos p) and, when cos p = 0, column 0 is
    // (cos(h ± b), ·, sin(h ± b)).
    Mat3 m{};
    if (!QuaternionToRotation(*this, m))
    {
        heading = pitch = bank = 0.0;
        return;
    }
    const double cosPitch = std::hypot(m[1][0], m[1][1]);
    pitch = std::atan2(m[1][2], cosPitch);
    if (cosPitch > kGimbalLimit)
    {
        heading = std::atan2(-m[0][2], m[2][2]);
        bank = std::atan2(-m[1][0], m[1][1]);
    }
    else
    {
        heading = std::atan2(m[2][0], m[0][0]);
        bank = 0.0;
    }
}
