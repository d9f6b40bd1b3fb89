/// \file bbox.h
/// \brief C3DTBBox, an axis-aligned box of 3D points with a validity byte, as kept by the
///        geometric objects' box caches and computed by the point lists.
#pragma once

#include <3dzan/geometry/points.h>

#include <algorithm>
#include <cstdint>

/// \brief An axis-aligned box: a validity byte, then the minimum and maximum corners.
///
/// *Valid* says that the box has been computed (a cache may be trusted); *empty* says that no
/// point went into it. A reset box is invalid and empty; a computed box over no point is valid
/// and empty. Corners of an empty box are (0, 0, 0).
template <class T> class C3DTBBox
{
public:
    C3DTBBox() = default;
    C3DTBBox(const C3DTPoint<T>& min, const C3DTPoint<T>& max)
        : m_Valid(1), m_Empty(false), m_Min(min), m_Max(max)
    {
    }

    /// \brief Back to invalid and empty.
    void Reset()
    {
        m_Valid = 0;
        m_Empty = true;
        m_Min = m_Max = C3DTPoint<T>();
    }
    /// \brief Grows the box to hold (\p x, \p y, \p z).
    void Add(T x, T y, T z)
    {
        if (m_Empty)
        {
            m_Min.Set(x, y, z);
            m_Max.Set(x, y, z);
            m_Empty = false;
            return;
        }
        m_Min.Set(std::min(m_Min.m_X, x), std::min(m_Min.m_Y, y), std::min(m_Min.m_Z, z));
        m_Max.Set(std::max(m_Max.m_X, x), std::max(m_Max.m_Y, y), std::max(m_Max.m_Z, z));
    }
    void Add(const C3DTPoint<T>& p) { Add(p.m_X, p.m_Y, p.m_Z); }
    /// \brief Grows the box to hold \p other (nothing when \p other is empty).
    void Add(const C3DTBBox& other)
    {
        if (!other.m_Empty)
        {
            Add(other.m_Min);
            Add(other.m_Max);
        }
    }

    bool IsValid() const { return m_Valid != 0; }
    void SetValid(bool valid) { m_Valid = valid ? 1 : 0; }
    /// \brief Whether no point went into the box.
    bool IsEmpty() const { return m_Empty; }
    /// \brief Whether the box has a non-zero extent on at least one axis.
    bool HasExtent() const
    {
        return !m_Empty &&
               (m_Max.m_X > m_Min.m_X || m_Max.m_Y > m_Min.m_Y || m_Max.m_Z > m_Min.m_Z);
    }
    const C3DTPoint<T>& GetMin() const { return m_Min; }
    const C3DTPoint<T>& GetMax() const { return m_Max; }
    /// \brief The centre, the mean of the corners computed in double.
    C3DTPoint<T> GetCenter() const
    {
        return C3DTPoint<T>(T((double(m_Min.m_X) + double(m_Max.m_X)) * 0.5),
                            T((double(m_Min.m_Y) + double(m_Max.m_Y)) * 0.5),
                            T((double(m_Min.m_Z) + double(m_Max.m_Z)) * 0.5));
    }
    /// \brief The extent along axis \p axis (0 x, 1 y, 2 z); 0 for an empty box.
    T GetSize(int axis) const { return m_Empty ? T(0) : T(m_Max[axis] - m_Min[axis]); }

    bool operator==(const C3DTBBox& other) const
    {
        return m_Valid == other.m_Valid && m_Empty == other.m_Empty && m_Min == other.m_Min &&
               m_Max == other.m_Max;
    }

private:
    uint8_t m_Valid = 0;
    bool m_Empty = true;
    C3DTPoint<T> m_Min;
    C3DTPoint<T> m_Max;
};
