// Measures of one triangle: the squared circumradius and a normalised shape quality, and
// point-in-triangle and point-in-box tests. Everything is computed in double from the float
// coordinates so that nearly flat triangles keep their small, meaningful values.
#include <3dzan/processing/measures.h>

#include <cmath>
#include <limits>

namespace
{
struct CVec
{
    double x, y, z;
};

CVec Sub(const C3DTPoint<float>& p, const C3DTPoint<float>& q)
{
    return {double(p.m_X) - q.m_X, double(p.m_Y) - q.m_Y, double(p.m_Z) - q.m_Z};
}
double Dot(const CVec& a, const CVec& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
CVec Cross(const CVec& a, const CVec& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
int Sign(double v)
{
    return (v > 0.0) - (v < 0.0);
}
// The sign of the 2D cross product of (e - s) and (p - s) in the plane of axes i and j.
int Side(const C3DTPoint<float>& s, const C3DTPoint<float>& e, const C3DTPoint<float>& p, int i,
         int j)
{
    double ex = double(e[i]) - s[i], ey = double(e[j]) - s[j];
    double px = double(p[i]) - s[i], py = double(p[j]) - s[j];
    return Sign(ex * py - ey * px);
}
int Classify(const C3DTPoint<float>& s, const C3DTPoint<float>& e, const C3DTPoint<float>& p)
{
    // One base-3 digit per projection: xz, xy, yz.
    return (Side(s, e, p, 0, 2) + 1) * 9 + (Side(s, e, p, 0, 1) + 1) * 3 +
           (Side(s, e, p, 1, 2) + 1);
}
} // namespace

double GetCompacityFactor2(const C3DTPoint<float>& a, const C3DTPoint<float>& b,
                           const C3DTPoint<float>& c)
{
    CVec ab = Sub(b, a), ac = Sub(c, a), bc = Sub(c, b);
    CVec n = Cross(ab, ac);
    double denominator = 4.0 * Dot(n, n);
    double numerator = Dot(ac, ac) * Dot(ab, ab) * Dot(bc, bc);
    if (std::isnan(numerator) || std::isnan(denominator))
        return std::numeric_limits<double>::quiet_NaN();
    if (denominator == 0.0)
        return std::numeric_limits<double>::infinity();
    return numerator / denominator;
}

double GetCompacityFactor(const C3DTPoint<float>& a, const C3DTPoint<float>& b,
                          const C3DTPoint<float>& c)
{
    CVec ab = Sub(b, a), ac = Sub(c, a), bc = Sub(c, b);
    double sides = Dot(ab, ab) + Dot(ac, ac) + Dot(bc, bc);
    CVec n = Cross(ab, ac);
    double area = 0.5 * std::sqrt(Dot(n, n));
    if (std::isnan(sides) || std::isnan(area))
        return std::numeric_limits<double>::quiet_NaN();
    if (sides == 0.0)
        return 0.0;
    // Rounding may lift an almost equilateral triangle a hair above 1.
    return std::fmin(1.0, 4.0 * std::sqrt(3.0) * area / sides);
}

bool IsInBox(const C3DTPoint<float>& p, const C3DTPoint<float>& min, const C3DTPoint<float>& max)
{
    return p.m_X >= min.m_X && p.m_X <= max.m_X && p.m_Y >= min.m_Y && p.m_Y <= max.m_Y &&
           p.m_Z >= min.m_Z && p.m_Z <= max.m_Z;
}

bool IsInTriangle(const C3DTPoint<float>& p, const C3DTPoint<float>& a, const C3DTPoint<float>& b,
                  const C3DTPoint<float>& c)
{
    for (int axis = 0; axis < 3; ++axis)
    {
        float lo = std::fmin(a[axis], std::fmin(b[axis], c[axis]));
        float hi = std::fmax(a[axis], std::fmax(b[axis], c[axis]));
        if (!(p[axis] >= lo && p[axis] <= hi))
            return false;
    }
    int first = Classify(a, b, p);
    return Classify(b, c, p) == first && Classify(c, a, p) == first;
}
