/// \file vector4.h
/// \brief C4DTVector, four components (x, y, z, w): a plane a·x + b·y + c·z + d = 0 as
///        (a, b, c, d), or a homogeneous point.
///
/// A plain value (no virtual table, no flags word): it never lives in an element array, so it
/// needs none, and being header-only it is never exported.
#pragma once

#include <cmath>

template <class T> class C4DTVector
{
public:
    C4DTVector() = default;
    C4DTVector(T x, T y, T z, T w) : m_X(x), m_Y(y), m_Z(z), m_W(w) {}

    void Set(T x, T y, T z, T w)
    {
        m_X = x;
        m_Y = y;
        m_Z = z;
        m_W = w;
    }
    bool operator==(const C4DTVector& other) const
    {
        return m_X == other.m_X && m_Y == other.m_Y && m_Z == other.m_Z && m_W == other.m_W;
    }
    /// \brief Signed distance-like value of (x, y, z) for a plane: a·x + b·y + c·z + d, in
    ///        double; the distance itself when (a, b, c) has length 1.
    double Evaluate(double x, double y, double z) const
    {
        return double(m_X) * x + double(m_Y) * y + double(m_Z) * z + double(m_W);
    }

    T m_X = 0;
    T m_Y = 0;
    T m_Z = 0;
    T m_W = 0;
};
