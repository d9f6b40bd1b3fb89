/// \file points.h
/// \brief The point types of the geometry layer and the element methods that store them.
///
/// Every vertex-like value (mesh point, texture coordinate, vertex colour, weight, normal,
/// 2D projection) is a small object deriving from CPt: a virtual table and a 32-bit flags word
/// followed by the components. Point lists keep such objects contiguously in element arrays,
/// one slot per point; the slot of each type is the element size its methods class reports,
/// which is at least the object's size (the rest of the slot is zero padding).
///
/// Archived form of every point: the flags word (u32), then the components in their order
/// (little-endian, floats as IEEE bit patterns). C4DPoint is the type-independent exchange
/// value through which generic code reads and writes points of any type.
#pragma once

#include <3dzan/foundation/elementarray.h>
#include <3dzan/foundation/hashmap.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

class CXArchive;

/// \brief Bits of the flags word of a point that the library itself uses. Other bits are free
///        for algorithms and host code; lists carry them through copies and archives unchanged.
enum _POINT_PROPERTIES : unsigned
{
    _PointInvalid = 0x02,   ///< used by no valid face, or marked for removal
    _PointBorder = 0x10,    ///< on an edge used by exactly one face
    _PointInner = 0x20,     ///< on an edge used by more than one face
    _PointNearBorder = 0x40 ///< not a border point, but joined by an edge to one
};

namespace zan_detail
{
/// Converts a double to a component type: floats narrow as IEEE does; integers truncate toward
/// zero after clamping to their range (NaN gives 0), since an out-of-range conversion would be
/// undefined.
template <class T> T ComponentFromDouble(double value)
{
    if constexpr (std::is_floating_point_v<T>)
        return static_cast<T>(value);
    else
    {
        if (std::isnan(value))
            return T(0);
        constexpr double lo = double(std::numeric_limits<T>::min());
        constexpr double hi = double(std::numeric_limits<T>::max());
        return value <= lo   ? std::numeric_limits<T>::min()
               : value >= hi ? std::numeric_limits<T>::max()
                             : static_cast<T>(value);
    }
}
/// Throws CXInvalidArgException for a component index outside [0, count).
[[noreturn]] ZAN_API void ThrowComponentIndex(const char* where, int index, int count);
} // namespace zan_detail

// ================================================================ CRGBColor

/// \brief A colour of four bytes: red, green, blue and alpha (255 is opaque).
///
/// The default colour is opaque black (0, 0, 0, 255). Archived as the four bytes in that order.
class ZAN_API CRGBColor
{
public:
    constexpr CRGBColor() = default;
    constexpr CRGBColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha = 255)
        : m_Red(red), m_Green(green), m_Blue(blue), m_Alpha(alpha)
    {
    }

    /// \brief Byte \p index: 0 red, 1 green, 2 blue, 3 alpha.
    /// \throw CXInvalidArgException outside [0, 3].
    uint8_t& operator[](int index);
    uint8_t operator[](int index) const { return const_cast<CRGBColor&>(*this)[index]; }

    bool operator==(const CRGBColor& other) const = default;

    /// \brief Stores or loads red, green, blue and alpha as four bytes.
    void Serialize(CXArchive& ar);

    uint8_t m_Red = 0;
    uint8_t m_Green = 0;
    uint8_t m_Blue = 0;
    uint8_t m_Alpha = 255;
};
static_assert(sizeof(CRGBColor) == 4);

/// Colours are hash keys (materials are indexed by their diffuse colour).
template <> struct CHashMethods<CRGBColor>
{
    unsigned Hash(const CRGBColor& key) const
    {
        return ZanMix32(uint32_t(key.m_Red) | uint32_t(key.m_Green) << 8 |
                        uint32_t(key.m_Blue) << 16 | uint32_t(key.m_Alpha) << 24);
    }
    bool Equal(const CRGBColor& a, const CRGBColor& b) const { return a == b; }
};

// ================================================================ C4DPoint

/// \brief The exchange value of generic point code: a dimension (the number of components in
///        use, 0 to 4) and four double components.
///
/// Components beyond the dimension are zero on construction. Arithmetic is component-wise on
/// all four components (a zero divisor gives IEEE infinities or NaN, as for doubles); a result
/// of two points has the larger of their dimensions.
class ZAN_API C4DPoint
{
public:
    /// \brief Dimension 0, all components zero.
    C4DPoint() = default;
    /// \brief Dimension \p dimension; every component starts at zero whether or not \p init is
    ///        set (\p init is accepted for callers that ask for it explicitly).
    C4DPoint(int dimension, bool init) : m_Dimension(dimension) { (void)init; }
    /// \brief Dimension \p dimension and the given components.
    C4DPoint(int dimension, double c0, double c1 = 0, double c2 = 0, double c3 = 0)
        : m_Dimension(dimension), m_Val{c0, c1, c2, c3}
    {
    }

    /// \brief Sets the dimension to \p dimension and zeroes that many components.
    void Init(int dimension);
    int GetDimension() const { return m_Dimension; }
    void SetDimension(int dimension) { m_Dimension = dimension; }
    /// \brief The dimension limited to [0, 4]: the number of components to read.
    int GetUsedCount() const { return m_Dimension < 0 ? 0 : m_Dimension > 4 ? 4 : m_Dimension; }

    /// \brief Component \p index. \throw CXInvalidArgException outside [0, 3].
    double& operator[](int index)
    {
        if (unsigned(index) > 3)
            zan_detail::ThrowComponentIndex("C4DPoint", index, 4);
        return m_Val[index];
    }
    double operator[](int index) const { return const_cast<C4DPoint&>(*this)[index]; }
    double* ValPtr() { return m_Val; }
    const double* ValPtr() const { return m_Val; }

    C4DPoint& operator+=(const C4DPoint& other);
    C4DPoint& operator-=(const C4DPoint& other);
    C4DPoint& operator*=(const C4DPoint& other);
    C4DPoint& operator/=(const C4DPoint& other);
    C4DPoint& operator*=(double factor);
    C4DPoint& operator/=(double divisor);
    C4DPoint operator+(const C4DPoint& other) const { return C4DPoint(*this) += other; }
    C4DPoint operator-(const C4DPoint& other) const { return C4DPoint(*this) -= other; }
    C4DPoint operator*(const C4DPoint& other) const { return C4DPoint(*this) *= other; }
    C4DPoint operator/(const C4DPoint& other) const { return C4DPoint(*this) /= other; }
    C4DPoint operator*(double factor) const { return C4DPoint(*this) *= factor; }
    C4DPoint operator/(double divisor) const { return C4DPoint(*this) /= divisor; }

    /// \brief Same dimension and equal components below it (0.0 equals -0.0; NaN equals
    ///        nothing). Components beyond the dimension are not compared.
    bool operator==(const C4DPoint& other) const;

private:
    int m_Dimension = 0;
    double m_Val[4] = {0, 0, 0, 0};
};

/// C4DPoint is a hash key: the hash reads what operator== compares, with -0.0 hashed as 0.0.
template <> struct CHashMethods<C4DPoint>
{
    ZAN_API unsigned Hash(const C4DPoint& key) const;
    bool Equal(const C4DPoint& a, const C4DPoint& b) const { return a == b; }
};

// ================================================================ CPt

/// \brief Base of every point type: a virtual table and the flags word (0 on construction).
///
/// The first four virtual functions, in this order, are the interface of every point:
/// To4DPoint, the assignment from another point, the assignment from a C4DPoint and
/// Serialize. Point objects live in element arrays, which relocate them bitwise; a point type
/// must therefore never point into itself.
class ZAN_API CPt
{
public:
    CPt() = default;
    explicit CPt(unsigned flags) : m_Flags(flags) {}
    CPt(const CPt&) = default;

    /// \brief Writes the components into \p point, with the type's dimension.
    virtual void To4DPoint(C4DPoint& point) const = 0;
    /// \brief Copies the flags; derived types also copy their components, converting through
    ///        C4DPoint when \p src is a point of another type.
    virtual CPt& operator=(const CPt& src)
    {
        m_Flags = src.m_Flags;
        return *this;
    }
    /// \brief Sets the components from \p src; the flags are unchanged.
    virtual CPt& operator=(const C4DPoint& src) = 0;
    /// \brief Stores or loads the flags word (u32); derived types then store their components.
    virtual void Serialize(CXArchive& ar);
    virtual ~CPt();

    unsigned GetFlags() const { return m_Flags; }
    /// \brief Replaces the whole flags word.
    void SetFlags(unsigned flags) { m_Flags = flags; }
    /// \brief Sets (\p set true) or clears the bits of \p bits.
    void SetFlags(unsigned bits, bool set) { m_Flags = set ? m_Flags | bits : m_Flags & ~bits; }
    void SetFlag(_POINT_PROPERTIES flag, bool set) { SetFlags(unsigned(flag), set); }
    /// \brief Whether every bit of \p flag is set.
    bool IsFlagSet(_POINT_PROPERTIES flag) const { return (m_Flags & flag) == unsigned(flag); }
    /// \brief Whether any bit of \p bits is set.
    bool IsOneFlagSet(int bits) const { return (m_Flags & unsigned(bits)) != 0; }

protected:
    unsigned m_Flags = 0;
};

// ================================================================ 2D points

/// \brief A 2D point: flags, x, y. Dimension 2 as a C4DPoint.
template <class T> class ZAN_API C2DTPoint : public CPt
{
public:
    C2DTPoint() = default;
    C2DTPoint(T x, T y) : m_X(x), m_Y(y) {}
    C2DTPoint(const C2DTPoint&) = default;
    C2DTPoint& operator=(const C2DTPoint&) = default;

    void To4DPoint(C4DPoint& point) const override { point = C4DPoint(2, m_X, m_Y); }
    CPt& operator=(const CPt& src) override
    {
        if (const auto* same = dynamic_cast<const C2DTPoint*>(&src))
            return *this = *same;
        C4DPoint value;
        src.To4DPoint(value);
        m_Flags = src.GetFlags();
        return *this = value;
    }
    CPt& operator=(const C4DPoint& src) override
    {
        m_X = zan_detail::ComponentFromDouble<T>(src[0]);
        m_Y = zan_detail::ComponentFromDouble<T>(src[1]);
        return *this;
    }
    void Serialize(CXArchive& ar) override;

    /// \brief Component 0 (x) or 1 (y). \throw CXInvalidArgException otherwise.
    T& operator[](int index)
    {
        if (index == 0)
            return m_X;
        if (index != 1)
            zan_detail::ThrowComponentIndex("C2DTPoint", index, 2);
        return m_Y;
    }
    T operator[](int index) const { return const_cast<C2DTPoint&>(*this)[index]; }
    /// \brief Equal components (flags are not compared).
    bool operator==(const C2DTPoint& other) const { return m_X == other.m_X && m_Y == other.m_Y; }
    void Set(T x, T y)
    {
        m_X = x;
        m_Y = y;
    }

    T m_X = 0;
    T m_Y = 0;
};

// ================================================================ 3D points and vectors

template <class T> class ZAN_API C3DTVector;

/// \brief A 3D point: flags, x, y, z (float, double or int). Dimension 3 as a C4DPoint.
template <class T> class ZAN_API C3DTPoint : public CPt
{
public:
    C3DTPoint() = default;
    C3DTPoint(T x, T y, T z) : m_X(x), m_Y(y), m_Z(z) {}
    C3DTPoint(const C3DTPoint&) = default;
    C3DTPoint& operator=(const C3DTPoint&) = default;

    void To4DPoint(C4DPoint& point) const override { point = C4DPoint(3, m_X, m_Y, m_Z); }
    CPt& operator=(const CPt& src) override
    {
        if (const auto* same = dynamic_cast<const C3DTPoint*>(&src))
            return *this = *same;
        C4DPoint value;
        src.To4DPoint(value);
        m_Flags = src.GetFlags();
        return *this = value;
    }
    CPt& operator=(const C4DPoint& src) override
    {
        Set(zan_detail::ComponentFromDouble<T>(src[0]), zan_detail::ComponentFromDouble<T>(src[1]),
            zan_detail::ComponentFromDouble<T>(src[2]));
        return *this;
    }
    void Serialize(CXArchive& ar) override;

    /// \brief Component 0 (x), 1 (y) or 2 (z). \throw CXInvalidArgException otherwise.
    T& operator[](int index)
    {
        switch (index)
        {
        case 0:
            return m_X;
        case 1:
            return m_Y;
        case 2:
            return m_Z;
        default:
            zan_detail::ThrowComponentIndex("C3DTPoint", index, 3);
        }
    }
    T operator[](int index) const { return const_cast<C3DTPoint&>(*this)[index]; }
    /// \brief Equal components (flags are not compared).
    bool operator==(const C3DTPoint& other) const
    {
        return m_X == other.m_X && m_Y == other.m_Y && m_Z == other.m_Z;
    }
    void Set(T x, T y, T z)
    {
        m_X = x;
        m_Y = y;
        m_Z = z;
    }

    /// \brief The vector from \p other to this point.
    C3DTVector<T> operator-(const C3DTPoint& other) const
    {
        return C3DTVector<T>(m_X - other.m_X, m_Y - other.m_Y, m_Z - other.m_Z);
    }
    /// \brief This point moved by \p v (the flags are kept).
    C3DTPoint operator+(const C3DTVector<T>& v) const
    {
        C3DTPoint r(*this);
        r.Set(m_X + v.m_X, m_Y + v.m_Y, m_Z + v.m_Z);
        return r;
    }
    C3DTPoint operator-(const C3DTVector<T>& v) const
    {
        C3DTPoint r(*this);
        r.Set(m_X - v.m_X, m_Y - v.m_Y, m_Z - v.m_Z);
        return r;
    }

    T m_X = 0;
    T m_Y = 0;
    T m_Z = 0;
};

/// \brief A 3D vector: flags, x, y, z (float or double), with the vector arithmetic. Dimension
///        3 as a C4DPoint. Results of arithmetic have flags 0.
template <class T> class ZAN_API C3DTVector : public CPt
{
public:
    C3DTVector() = default;
    C3DTVector(T x, T y, T z) : m_X(x), m_Y(y), m_Z(z) {}
    /// \brief The vector from the origin to \p point (flags 0).
    explicit C3DTVector(const C3DTPoint<T>& point) : m_X(point.m_X), m_Y(point.m_Y), m_Z(point.m_Z)
    {
    }
    C3DTVector(const C3DTVector&) = default;
    C3DTVector& operator=(const C3DTVector&) = default;

    void To4DPoint(C4DPoint& point) const override { point = C4DPoint(3, m_X, m_Y, m_Z); }
    CPt& operator=(const CPt& src) override
    {
        if (const auto* same = dynamic_cast<const C3DTVector*>(&src))
            return *this = *same;
        C4DPoint value;
        src.To4DPoint(value);
        m_Flags = src.GetFlags();
        return *this = value;
    }
    CPt& operator=(const C4DPoint& src) override
    {
        Set(zan_detail::ComponentFromDouble<T>(src[0]), zan_detail::ComponentFromDouble<T>(src[1]),
            zan_detail::ComponentFromDouble<T>(src[2]));
        return *this;
    }
    void Serialize(CXArchive& ar) override;

    /// \brief Component 0 (x), 1 (y) or 2 (z). \throw CXInvalidArgException otherwise.
    T& operator[](int index)
    {
        switch (index)
        {
        case 0:
            return m_X;
        case 1:
            return m_Y;
        case 2:
            return m_Z;
        default:
            zan_detail::ThrowComponentIndex("C3DTVector", index, 3);
        }
    }
    T operator[](int index) const { return const_cast<C3DTVector&>(*this)[index]; }
    /// \brief Equal components (flags are not compared).
    bool operator==(const C3DTVector& other) const
    {
        return m_X == other.m_X && m_Y == other.m_Y && m_Z == other.m_Z;
    }
    void Set(T x, T y, T z)
    {
        m_X = x;
        m_Y = y;
        m_Z = z;
    }
    T* ValPtr() { return &m_X; }

    C3DTVector operator+(const C3DTVector& v) const
    {
        return {m_X + v.m_X, m_Y + v.m_Y, m_Z + v.m_Z};
    }
    C3DTVector operator-(const C3DTVector& v) const
    {
        return {m_X - v.m_X, m_Y - v.m_Y, m_Z - v.m_Z};
    }
    C3DTVector operator-() const { return {-m_X, -m_Y, -m_Z}; }
    C3DTVector operator*(T factor) const { return {m_X * factor, m_Y * factor, m_Z * factor}; }
    /// \brief Division by \p divisor (IEEE results for 0).
    C3DTVector operator/(T divisor) const { return {m_X / divisor, m_Y / divisor, m_Z / divisor}; }
    C3DTVector& operator+=(const C3DTVector& v) { return *this = *this + v; }
    C3DTVector& operator-=(const C3DTVector& v) { return *this = *this - v; }
    C3DTVector& operator*=(T factor) { return *this = *this * factor; }
    C3DTVector& operator/=(T divisor) { return *this = *this / divisor; }
    friend C3DTVector operator*(T factor, const C3DTVector& v) { return v * factor; }

    /// \brief The dot product, accumulated in double.
    double Dot(const C3DTVector& v) const
    {
        return double(m_X) * v.m_X + double(m_Y) * v.m_Y + double(m_Z) * v.m_Z;
    }
    /// \brief The cross product this × \p v (right-handed).
    C3DTVector Cross(const C3DTVector& v) const
    {
        return {m_Y * v.m_Z - m_Z * v.m_Y, m_Z * v.m_X - m_X * v.m_Z, m_X * v.m_Y - m_Y * v.m_X};
    }
    double GetSquaredLength() const { return Dot(*this); }
    /// \brief The Euclidean length, computed in double.
    double GetLength() const { return std::sqrt(GetSquaredLength()); }
    /// \brief Scales the vector to length 1.
    /// \return the length before; a vector of length 0 (or not finite) is left as it was.
    double Normalize()
    {
        double length = GetLength();
        if (length > 0 && std::isfinite(length))
            Set(T(m_X / length), T(m_Y / length), T(m_Z / length));
        return length;
    }

    T m_X = 0;
    T m_Y = 0;
    T m_Z = 0;
};

// Defined for these component types in the library.
extern template class C2DTPoint<float>;
extern template class C3DTPoint<float>;
extern template class C3DTPoint<double>;
extern template class C3DTPoint<int>;
extern template class C3DTVector<float>;
extern template class C3DTVector<double>;

// ================================================================ channel values

/// \brief A texture coordinate: flags, u, v, w (32-bit floats). Dimension 3 as a C4DPoint.
class ZAN_API CUVWPoint : public CPt
{
public:
    CUVWPoint() = default;
    CUVWPoint(float u, float v, float w) : m_U(u), m_V(v), m_W(w) {}
    CUVWPoint(const CUVWPoint&) = default;
    CUVWPoint& operator=(const CUVWPoint&) = default;

    void To4DPoint(C4DPoint& point) const override;
    CPt& operator=(const CPt& src) override;
    /// \brief u, v, w from the first three components, narrowed to float.
    CPt& operator=(const C4DPoint& src) override;
    void Serialize(CXArchive& ar) override;

    /// \brief Component 0 (u), 1 (v) or 2 (w). \throw CXInvalidArgException otherwise.
    float& operator[](int index);
    float operator[](int index) const { return const_cast<CUVWPoint&>(*this)[index]; }
    /// \brief Exactly equal u, v and w (flags are not compared).
    bool operator==(const CUVWPoint& other) const
    {
        return m_U == other.m_U && m_V == other.m_V && m_W == other.m_W;
    }
    CUVWPoint operator+(const CUVWPoint& p) const
    {
        return {m_U + p.m_U, m_V + p.m_V, m_W + p.m_W};
    }
    CUVWPoint operator-(const CUVWPoint& p) const
    {
        return {m_U - p.m_U, m_V - p.m_V, m_W - p.m_W};
    }
    CUVWPoint& operator+=(const CUVWPoint& p);
    CUVWPoint& operator-=(const CUVWPoint& p);
    CUVWPoint& operator*=(float factor);
    explicit operator C3DTVector<float>() const { return {m_U, m_V, m_W}; }
    float* ValPtr() { return &m_U; }

    /// \brief The two meaningful components of a planar mapping: (u, v) when w is 0, else
    ///        (u, w) when v is 0, else (v, w) when u is 0, else (u, v).
    void GetUVCoordinate(float& a, float& b) const;

    float m_U = 0;
    float m_V = 0;
    float m_W = 0;
};

/// \brief A vertex colour: flags and a CRGBColor (opaque black by default). Dimension 4 as a
///        C4DPoint, each byte as a value 0 to 255.
class ZAN_API CVCPoint : public CPt
{
public:
    CVCPoint() = default;
    explicit CVCPoint(const CRGBColor& color) : m_Color(color) {}
    CVCPoint(const CVCPoint&) = default;
    CVCPoint& operator=(const CVCPoint&) = default;

    void To4DPoint(C4DPoint& point) const override;
    CPt& operator=(const CPt& src) override;
    /// \brief Each of the four components truncated toward zero to a byte (values outside
    ///        [0, 255] are clamped first, NaN gives 0).
    CPt& operator=(const C4DPoint& src) override;
    /// \brief The flags, then the colour's own Serialize.
    void Serialize(CXArchive& ar) override;

    const CRGBColor& GetColor() const { return m_Color; }
    void SetColor(const CRGBColor& color) { m_Color = color; }
    /// \brief Byte \p index: 0 red, 1 green, 2 blue, 3 alpha. \throw CXInvalidArgException
    ///        otherwise.
    uint8_t& operator[](int index) { return m_Color[index]; }
    uint8_t operator[](int index) const { return m_Color[index]; }
    bool operator==(const CVCPoint& other) const { return m_Color == other.m_Color; }
    operator CRGBColor() const { return m_Color; }
    uint8_t* ValPtr() { return &m_Color.m_Red; }

    CRGBColor m_Color;
};

/// \brief A weight: flags and one 32-bit float. Dimension 1 as a C4DPoint.
class ZAN_API CWeightPoint : public CPt
{
public:
    CWeightPoint() = default;
    explicit CWeightPoint(float weight) : m_Weight(weight) {}
    CWeightPoint(const CWeightPoint&) = default;
    CWeightPoint& operator=(const CWeightPoint&) = default;

    void To4DPoint(C4DPoint& point) const override;
    CPt& operator=(const CPt& src) override;
    /// \brief The weight from the first component, narrowed to float.
    CPt& operator=(const C4DPoint& src) override;
    void Serialize(CXArchive& ar) override;

    float GetWeight() const { return m_Weight; }
    void SetWeight(float weight) { m_Weight = weight; }
    bool operator==(const CWeightPoint& other) const { return m_Weight == other.m_Weight; }
    float* ValPtr() { return &m_Weight; }

    float m_Weight = 0;
};

/// \brief The extended 2D point of C2DPointExtList: a 2D point with the bookkeeping that the
///        planar algorithms keep per vertex.
///
/// Ear-clipping triangulation and planar unfolding work on projections of 3D polygons: each
/// projected vertex remembers the point it came from (m_Index) and the depth that the
/// projection dropped (m_Depth, so the point can be lifted back), sits in a ring of vertices
/// still being processed (m_Prev, m_Next: indices into the same list, kZanNone when unlinked)
/// and carries the interior angle at it in that ring (m_Angle, radians). New points have no
/// index and no links, angle and depth 0. Archived after the 2D point in the order of the
/// fields.
class ZAN_API C2DPointExt final : public C2DTPoint<float>
{
public:
    C2DPointExt() = default;
    C2DPointExt(float x, float y) : C2DTPoint<float>(x, y) {}
    C2DPointExt(const C2DPointExt&) = default;
    C2DPointExt& operator=(const C2DPointExt&) = default;

    /// \brief From another extended point: everything. From another point: the flags and the
    ///        2D components; the extension is kept.
    CPt& operator=(const CPt& src) override;
    CPt& operator=(const C4DPoint& src) override { return C2DTPoint<float>::operator=(src); }
    void Serialize(CXArchive& ar) override;

    uint32_t m_Index = kZanNone; ///< index of the point this one was projected from
    uint32_t m_Prev = kZanNone;  ///< previous vertex in the ring being processed
    uint32_t m_Next = kZanNone;  ///< next vertex in the ring being processed
    float m_Angle = 0;           ///< interior angle at the vertex in its ring, radians
    float m_Depth = 0;           ///< coordinate dropped by the projection
};

// ================================================================ element methods

/// \brief Base of the element methods of point types: elements are point objects (IsObject),
///        of the family "PNTS".
///
/// Single-element operations go through the point's virtual functions: CopyElement is the
/// point's virtual assignment, SerializeElement its virtual Serialize, DestructElement its
/// virtual destructor. Each concrete class overrides the bulk operations with loops that know
/// the point type, so that growth, copies and archives of whole lists make no virtual call per
/// point; they produce the same bytes as the single-element operations.
///
/// Copying between two point types (the four-argument CopyElement) converts through C4DPoint
/// and keeps the flags.
class ZAN_API CPointMethods : public CElementMethods
{
    ZAN_DECLARE_RUNTIME_CLASS(CPointMethods)

public:
    CPointMethods() = default;
    CPointMethods(const CPointMethods&) = default;
    CPointMethods(CPointMethods&&) = default;
    CPointMethods& operator=(const CPointMethods&) = default;
    CPointMethods& operator=(CPointMethods&&) = default;
    ~CPointMethods() override;

    bool IsObject() const override;
    unsigned GetSizeof() const override = 0;
    uint32_t GetType() const override = 0;
    uint32_t GetBaseType() const override;
    void ConstructElement(void* element) const override = 0;
    void DestructElement(void* element) const override;
    void CopyElement(void* dst, const CElementMethods* dstMethods, const void* src,
                     const CElementMethods* srcMethods) const override;
    void CopyElement(void* dst, const void* src) const override;
    void SerializeElement(CXArchive& ar, void* element) const override;
};

/// Declares the methods class of one point type; each has a runtime class (created by name).
#define ZAN_DECLARE_POINT_METHODS(ClassName, Base)                                                 \
    class ZAN_API ClassName : public Base                                                          \
    {                                                                                              \
        ZAN_DECLARE_DYNCREATE(ClassName)                                                           \
    public:                                                                                        \
        ClassName() = default;                                                                     \
        ClassName(const ClassName&) = default;                                                     \
        ClassName(ClassName&&) = default;                                                          \
        ClassName& operator=(const ClassName&) = default;                                          \
        ClassName& operator=(ClassName&&) = default;                                               \
        unsigned GetSizeof() const override;                                                       \
        uint32_t GetType() const override;                                                         \
        void ConstructElement(void* element) const override;                                       \
        void ConstructElements(void* first, size_t count) const override;                          \
        void DestructElements(void* first, size_t count) const override;                           \
        void CopyElements(void* dst, const void* src, size_t count) const override;                \
        void SerializeElements(CXArchive& ar, void* first, size_t count) const override;           \
        unsigned GetArchiveSizeof() const override;                                                \
    };

/// C2DTPoint<float>: 24-byte element, "2DPT", 12 archived bytes.
ZAN_DECLARE_POINT_METHODS(C2DPointMethods, CPointMethods)
/// C2DPointExt: 64-byte element, "2DEX", 32 archived bytes.
ZAN_DECLARE_POINT_METHODS(C2DPointExtMethods, C2DPointMethods)
/// C3DTPoint<float>: 32-byte element, "3DPT", 16 archived bytes.
ZAN_DECLARE_POINT_METHODS(C3DPointMethods, CPointMethods)
/// C3DTVector<float>: 32-byte element, "3DVE", 16 archived bytes.
ZAN_DECLARE_POINT_METHODS(C3DVectorMethods, CPointMethods)
/// CUVWPoint: 32-byte element, "UVWP", 16 archived bytes.
ZAN_DECLARE_POINT_METHODS(CUVWPointMethods, CPointMethods)
/// CVCPoint: 24-byte element, "VCPT", 8 archived bytes.
ZAN_DECLARE_POINT_METHODS(CVCPointMethods, CPointMethods)
/// CWeightPoint: 24-byte element, "WGPT", 8 archived bytes.
ZAN_DECLARE_POINT_METHODS(CWeightPointMethods, CPointMethods)

#undef ZAN_DECLARE_POINT_METHODS
