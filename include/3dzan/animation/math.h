/// \file math.h
/// \brief The arithmetic of transforms and rotations: 4 x 4 matrices, quaternions, the
///        decomposition of an affine matrix into its parts and the axis swap codes.
///
/// Conventions shared by everything here:
/// - Matrices act on column vectors: a point p becomes M p, so the translation sits in the
///   last column ([0][3], [1][3], [2][3]) and `A * B` applies B first, then A.
/// - A quaternion (x, y, z, w) turns into a matrix by the formulas of CQuaternion::GetMatrix.
///   With that matrix, the quaternion of axis a and angle t (SetAxisAngle) turns points by t
///   about a clockwise when seen from the tip of a (the rotate keys' matrix is the same).
/// - The Hamilton product `p * q` is the rotation p followed by the rotation q:
///   `(p * q).GetMatrix() == q.GetMatrix() * p.GetMatrix()`.
/// - Angles are radians.
#pragma once

#include <3dzan/geometry/points.h>

#include <type_traits>

class CXArchive;

/// \brief A 4 x 4 matrix of \p T stored row by row; the identity on construction.
///
/// Instantiated in the library for float (the type of every transform and key) and double.
/// Elements are read and written as `m[row][col]`.
template <class T> class ZAN_API C4x4TMatrix
{
public:
    /// \brief The identity.
    C4x4TMatrix();
    /// \brief The sixteen values at \p values, row by row.
    explicit C4x4TMatrix(const T* values);
    C4x4TMatrix(const C4x4TMatrix&) = default;
    C4x4TMatrix& operator=(const C4x4TMatrix&) = default;
    virtual ~C4x4TMatrix();

    /// \brief Row \p row (0 to 3); `m[row][col]` is one element.
    T* operator[](int row) { return m_Values[row]; }
    const T* operator[](int row) const { return m_Values[row]; }
    /// \brief The sixteen values, row by row.
    T* ValPtr() { return &m_Values[0][0]; }
    const T* ValPtr() const { return &m_Values[0][0]; }

    void SetIdentity();
    /// \brief Whether every element is within \p tolerance of the identity's.
    bool IsIdentity(double tolerance = 0.0) const;
    /// \brief Whether every element is within \p tolerance of \p other's.
    bool IsEqual(const C4x4TMatrix& other, double tolerance) const;
    /// \brief Element-wise exact comparison.
    bool operator==(const C4x4TMatrix& other) const { return IsEqual(other, 0.0); }
    bool operator!=(const C4x4TMatrix& other) const { return !IsEqual(other, 0.0); }

    /// \brief The product this × \p other (\p other applies first).
    C4x4TMatrix operator*(const C4x4TMatrix& other) const;
    /// \brief this = this × \p other.
    C4x4TMatrix& operator*=(const C4x4TMatrix& other);

    /// \brief Transforms the point \p in (x, y, z): out = upper 3 × 4 part × (x, y, z, 1).
    ///        The last row is not used (affine transform). \p in and \p out may be the same.
    void TransformPoint(const T* in, T* out) const;
    /// \brief Transforms the direction \p in (x, y, z) by the upper 3 × 3 part only.
    ///        \p in and \p out may be the same.
    void TransformVector(const T* in, T* out) const;
    /// \brief The point \p p transformed (translation included); its flags are kept.
    C3DTPoint<T> TransformPoint(const C3DTPoint<T>& p) const;
    /// \brief The direction \p v transformed by the upper 3 × 3 part; its flags are kept.
    C3DTVector<T> TransformVector(const C3DTVector<T>& v) const;

    /// \brief The translation column ([0][3], [1][3], [2][3]).
    C3DTVector<T> GetTranslation() const;
    void SetTranslation(const C3DTVector<T>& t);

    /// \brief Exchanges rows and columns.
    void Transpose();
    /// \brief The determinant of the whole 4 × 4 matrix, computed in double.
    double GetDeterminant() const;
    /// \brief The inverse of the whole 4 × 4 matrix, computed in double.
    /// \return false, and \p inverse untouched, when the matrix has a non-finite element or is
    ///         singular: |det| at most 1e-14 × the product of its row lengths.
    bool GetInverse(C4x4TMatrix& inverse) const;
    /// \brief Replaces the matrix by its inverse; false, and nothing changed, as GetInverse.
    bool Invert();

    /// \brief Stores or loads the sixteen values row by row, each in the archive's encoding of
    ///        T (four bytes for float). A load that fails leaves the matrix unchanged.
    virtual void Serialize(CXArchive& ar);

protected:
    T m_Values[4][4];
};

/// \brief The bits of an axis swap code. One exchange (bits 0 to 2) and one mirror
///        (bits 4 to 6) may be combined; no other bit may be set.
enum _XYZ_SWAP
{
    _SwapXY = 0x01,
    _SwapXZ = 0x02,
    _SwapYZ = 0x04,
    _MirrorX = 0x10,
    _MirrorY = 0x20,
    _MirrorZ = 0x40
};

/// \brief Reads an axis swap code.
/// \param axisA, axisB the two exchanged axes (0 x, 1 y, 2 z), axisA < axisB, or both −1.
/// \param mirrorAxis the negated axis, or −1.
/// \return false, with the outputs untouched, for 0 and for an invalid code: more than one
///         exchange bit, more than one mirror bit, or a bit outside 0x77.
ZAN_API bool GetXYZSwap(unsigned code, int& axisA, int& axisB, int& mirrorAxis);

/// \brief The transform \p m expressed in the axes of a swap code.
///
/// With P the permutation of the two exchanged axes and D the reflection of the mirrored
/// axis, the result is D·(P·m·P)·D: rows and columns of the exchanged axes swapped
/// (translation included), then row and column of the mirrored axis negated (its diagonal
/// element unchanged). Returns \p m for 0 and for an invalid code.
/// A code that mirrors one of its exchanged axes is undone by the code that mirrors the other
/// one (0x11 by 0x21); every other code is its own inverse.
ZAN_API C4x4TMatrix<float> AdjustMatrix(unsigned code, const C4x4TMatrix<float>& m);

/// \brief Re-expresses a matrix whose columns are written in the old axes.
///
/// The translation components of the exchanged axes are exchanged and the matrix is
/// multiplied on the right by P (its columns of those axes exchanged); then, for a mirror,
/// the translation component of that axis is negated and the matrix multiplied on the right
/// by D (that column negated). Returns \p m for 0 and for an invalid code.
ZAN_API C4x4TMatrix<float> SwapMatrix(unsigned code, const C4x4TMatrix<float>& m);

/// \brief A rotation as a quaternion: the vector part (x, y, z), then the scalar w.
///
/// Rotations are unit quaternions; q and −q are the same rotation. See the file comment for
/// the matrix and product conventions.
class ZAN_API CQuaternion
{
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;

    /// \brief The identity (0, 0, 0, 1).
    CQuaternion() = default;
    CQuaternion(float qx, float qy, float qz, float qw) : x(qx), y(qy), z(qz), w(qw) {}
    /// \brief The four values x, y, z, w at \p values.
    explicit CQuaternion(const float* values);
    /// \brief The rotation of \p angle about \p axis (see SetAxisAngle).
    CQuaternion(const C3DTVector<float>& axis, double angle);
    /// \brief The rotation of the three Euler angles: bank about Z first, then pitch about X,
    ///        then heading about Y. GetHPBAngles gives them back.
    CQuaternion(double heading, double pitch, double bank);

    /// \brief Component \p index: 0 x, 1 y, 2 z, 3 w.
    /// \throw CXInvalidArgException for an index outside [0, 3].
    float& operator[](int index);
    float operator[](int index) const;
    /// \brief x, y, z, w in that order.
    float* ValPtr() { return &x; }
    const float* ValPtr() const { return &x; }

    /// \brief (x, y, z) = axis × sin(angle / 2), w = cos(angle / 2).
    ///
    /// The axis is normalised first when its length exceeds 1e-15, and used as it is
    /// otherwise (a zero axis gives (0, 0, 0, cos(angle / 2))).
    void SetAxisAngle(const C3DTVector<float>& axis, double angle);
    /// \brief The unit axis and the angle in [0, 2π] of the normalised quaternion.
    ///
    /// angle = 2·acos(w). With s = sqrt(1 − w²) below 1e-6 (no rotation, or a full turn), or a
    /// quaternion that cannot be normalised, the result is false with angle 0 and axis
    /// (1, 0, 0). Only the components of \p axis are written, not its flags.
    bool GetAxisAngle(C3DTVector<float>& axis, double& angle) const;
    /// \brief The result of GetAxisAngle: false for the identity and for degenerate values.
    bool IsValid() const;

    /// \brief The four-component dot product, in double.
    static double Dot(const CQuaternion& a, const CQuaternion& b);
    /// \brief Spherical interpolation from \p a (t = 0) to \p b (t = 1) along the shorter arc.
    ///
    /// With d = a·b: when 1 − |d| > 1e-6, θ = acos|d|, sa = sin((1 − t)θ) / sin θ,
    /// sb = sin(tθ) / sin θ; otherwise sa = 1 − t, sb = t. When d < 0, sb is negated.
    /// The result sa·a + sb·b is not renormalised.
    static CQuaternion Slerp(const CQuaternion& a, const CQuaternion& b, float t);

    /// \brief sqrt(x² + y² + z² + w²), in double.
    double Magnitude() const;
    double MagnitudeSquared() const;
    /// \brief Divides the components by the magnitude.
    /// \return false, and nothing changed, when the magnitude is 0 or not finite.
    bool Normalize();

    /// \brief The Hamilton product this × \p other: this rotation, then \p other.
    CQuaternion operator*(const CQuaternion& other) const;
    CQuaternion& operator*=(const CQuaternion& other);
    /// \brief Composes the further rotation \p other: this = this × \p other.
    void Rotate(const CQuaternion& other);
    /// \brief Composes the further rotation of \p angle about \p axis.
    void Rotate(const C3DTVector<float>& axis, double angle);

    /// \brief Component-wise scaling; dividing by 0 gives non-finite components.
    CQuaternion operator*(double factor) const;
    CQuaternion operator/(double divisor) const;
    CQuaternion operator+(const CQuaternion& other) const;
    /// \brief All four components negated (the same rotation).
    CQuaternion operator-() const;
    /// \brief Exact component-wise comparison (q and −q differ).
    bool operator==(const CQuaternion& other) const;
    bool operator!=(const CQuaternion& other) const { return !(*this == other); }

    /// \brief The rotation of the upper 3 × 3 part of \p m.
    ///
    /// Scale and shear are removed first by polar decomposition, exactly as Decompose does,
    /// so a scaled rotation gives its rotation; a mirroring matrix gives the rotation of its
    /// negation. The identity when \p m has a non-finite element.
    CQuaternion& operator=(const C4x4TMatrix<float>& m);
    /// \brief The pure quaternion of a vector: (x, y, z) = \p v, w = 0. With it the product
    ///        conj(q)·v·q turns v as q's matrix does.
    CQuaternion& operator=(const C3DTVector<float>& v);

    /// \brief The rotation matrix, computed in double with n = 1 / (x² + y² + z² + w²):
    ///   - row 0: (x² − y² − z² + w²)·n, 2(xy + zw)·n, 2(xz − yw)·n, 0
    ///   - row 1: 2(xy − zw)·n, (−x² + y² − z² + w²)·n, 2(yz + xw)·n, 0
    ///   - row 2: 2(xz + yw)·n, 2(yz − xw)·n, (−x² − y² + z² + w²)·n, 0
    ///   - row 3: 0, 0, 0, 1
    ///
    /// The identity for the zero quaternion and for non-finite components.
    C4x4TMatrix<float> GetMatrix() const;

    /// \brief The Euler angles of the rotation, the inverse of the three-angle constructor:
    ///        pitch in [−π/2, π/2], heading and bank in [−π, π]. At gimbal lock
    ///        (|pitch| = π/2) the bank is 0 and the heading carries the whole turn about Y.
    ///        All three are 0 for a quaternion that cannot be normalised.
    void GetHPBAngles(double& heading, double& pitch, double& bank) const;
};
static_assert(std::is_standard_layout_v<CQuaternion> && sizeof(CQuaternion) == 16,
              "ValPtr hands out x, y, z, w as four consecutive floats");

/// \brief The parts of an affine matrix M = T·f·R·U·K·Uᵀ (see Decompose).
struct _MatrixDecomposition
{
    C3DTVector<float> m_Translation;             ///< T: the last column
    C3DTVector<float> m_Scale{1.0f, 1.0f, 1.0f}; ///< K: the scale along each stretch axis
    CQuaternion m_Rotation;                      ///< R: the rotation, a unit quaternion
    CQuaternion m_StretchRotation;               ///< U: the orientation of the scale axes
    float m_Sign = 1.0f; ///< f: −1 when M mirrors (negative determinant), 1 otherwise
};

/// \brief Splits an affine matrix into translation, rotation, stretch and mirror by polar
///        decomposition.
///
/// The linear part is A = f·R·S with R a rotation and S = U·K·Uᵀ symmetric positive
/// semi-definite. For a matrix without shear (orthogonal columns), U is the identity and the
/// scales are the lengths of the columns in axis order, so R is the matrix with its scale
/// divided out; with shear, U turns the scale axes. A mirror is taken out as f = −1 (that is,
/// −I), so K stays non-negative. A singular matrix (a zero scale) decomposes too, with R
/// completed to a rotation. The last row of \p m is not read: it is taken as (0, 0, 0, 1).
/// \return false, with \p parts the identity decomposition, when one of the twelve elements
///         read is not finite.
ZAN_API bool Decompose(const C4x4TMatrix<float>& m, _MatrixDecomposition& parts);

/// \brief Builds T·f·R·U·K·Uᵀ from its parts, in double, with the last row (0, 0, 0, 1).
///
/// The quaternions need not be unit length (their matrices divide by the squared magnitude);
/// only the sign of m_Sign is used. Recompose(Decompose(M)) gives M back to within float
/// rounding for every affine M. The identity when a translation or scale component is not
/// finite; a quaternion that is zero or not finite counts as the identity rotation.
ZAN_API C4x4TMatrix<float> Recompose(const _MatrixDecomposition& parts);
