/// \file keys.h
/// \brief Keyframes: the value of one animated quantity at one time, their key curves and the
///        time range type.
///
/// A key is made from its 64-bit class id: the high 32 bits are a four-character kind tag
/// that selects the key class, the low 32 bits a content id that the owner chooses to say
/// which quantity the key animates (which material colour, which texture transform, ...).
///
/// | Kind tag | Class                     | Value                                     |
/// |----------|---------------------------|-------------------------------------------|
/// | "MATR"   | C3DMatrixKey              | a transform matrix                        |
/// | "ROTA"   | C3DRotateKey              | an angle and an axis, with their matrix   |
/// | "SCAL"   | C3DScaleKey               | a scale vector, with its matrix           |
/// | "TRAN"   | C3DTranslateKey           | a translation vector, with its matrix     |
/// | "VECT"   | C3DVectorKey              | a free vector (matrix as a translation)   |
/// | " INT"   | C3DTypeKey<int>           | signed 32-bit integer                     |
/// | "UINT"   | C3DTypeKey<unsigned int>  | unsigned 32-bit integer                   |
/// | "FLOA"   | C3DTypeKey<float>         | 32-bit float                              |
/// | "DOUB"   | C3DTypeKey<double>        | 64-bit float                              |
/// | "COLO"   | C3DTypeKey<CRGBColor>     | colour                                    |
///
/// Interpolation between two keys a (at the range start) and b (at the range end) uses the
/// fraction t = (time − start) / L in 32-bit float, L = end − start, or 1 when they are
/// equal. Scalars and vectors are interpolated linearly, rotations by Slerp, matrices by
/// decomposing both into translation, rotation and scale (math.h).
///
/// Archive of a key (the class id comes first so that the key can be recreated by it):
/// class id (u64), the custom data, the curve's class id (u32, 0 for none) and, when it is
/// not 0, the curve's own archive; then the value of the key's class:
/// - C3DMatrixKey: the 16 matrix elements (floats) row by row;
/// - C3DRotateKey: the angle (double) and the axis (flags word, x, y, z); the matrix is
///   rebuilt on load;
/// - C3DVectorKey and its translate and scale kinds: the vector (flags word, x, y, z); the
///   matrix is rebuilt on load;
/// - C3DTypeKey<T>: the value (a colour as its four bytes).
///
/// Loading a key that fails (truncated or malformed bytes) raises CXArchiveException and
/// leaves the key as it was.
///
/// Every key and curve class has a runtime class declared when the library is loaded, so an
/// archive written with CXArchive::WriteObject recreates keys and curves by class as well.
#pragma once

#include <3dzan/animation/math.h>
#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/xobject.h>

#include <cstdint>
#include <memory>

class CXArchive;

/// \brief The kind tags of the key classes (high half of a key class id).
enum _KEY_KIND : uint32_t
{
    _KeyKindMatrix = 0x4D415452,    ///< "MATR"
    _KeyKindRotate = 0x524F5441,    ///< "ROTA"
    _KeyKindScale = 0x5343414C,     ///< "SCAL"
    _KeyKindTranslate = 0x5452414E, ///< "TRAN"
    _KeyKindVector = 0x56454354,    ///< "VECT"
    _KeyKindInt = 0x20494E54,       ///< " INT"
    _KeyKindUInt = 0x55494E54,      ///< "UINT"
    _KeyKindFloat = 0x464C4F41,     ///< "FLOA"
    _KeyKindDouble = 0x444F5542,    ///< "DOUB"
    _KeyKindColor = 0x434F4C4F      ///< "COLO"
};

/// \brief The key class id of kind \p kind and content id \p content.
constexpr uint64_t ZanKeyClassID(uint32_t kind, uint32_t content = 0)
{
    return (uint64_t(kind) << 32) | content;
}

// ================================================================ CTimeRange

/// \brief A closed interval of ticks [start, end]; the default range is (0, 0).
class ZAN_API CTimeRange
{
public:
    CTimeRange() = default;
    CTimeRange(int start, int end) : m_Start(start), m_End(end) {}

    int GetStart() const { return m_Start; }
    int GetEnd() const { return m_End; }
    /// \brief end − start, or 1 when they are equal (computed in 64 bits: no overflow).
    int64_t GetLength() const { return m_End == m_Start ? 1 : int64_t(m_End) - int64_t(m_Start); }
    /// \brief 1 when start <= \p time <= end, else 0.
    int IsInInterval(int time) const { return m_Start <= time && time <= m_End ? 1 : 0; }
    /// \brief \p time clamped to [start, end] (start first when the range is reversed).
    int AdjustTime(int time) const
    {
        return time < m_Start ? m_Start : time > m_End ? m_End : time;
    }
    /// \brief Intersection: the later start and the earlier end.
    CTimeRange& operator&=(const CTimeRange& other);
    /// \brief Union: the earlier start and the later end.
    CTimeRange& operator|=(const CTimeRange& other);
    bool operator==(const CTimeRange& other) const = default;

    int m_Start = 0;
    int m_End = 0;
};

// ================================================================ key curves

/// \brief A key curve: the shape of the animation at a key, for applications that export or
///        import such curves. Identified by a four-character class id (0 for a null curve).
///
/// Archive: the base stores its class id as a signed 32-bit integer; a derived curve stores
/// its own parameters instead (the key writes the class id before the curve).
class ZAN_API C3DKeyCurve : public CXObject
{
    ZAN_DECLARE_DYNCREATE(C3DKeyCurve)

public:
    /// \brief The class id of the TCB curve, "TCB ".
    static constexpr unsigned kTCBCurveID = 0x54434220;

    /// \brief A null curve (class id 0).
    C3DKeyCurve() = default;
    ~C3DKeyCurve() override;

    /// \brief A new curve of class \p classId: a C3DTCBCurve for "TCB ", null for 0 or any
    ///        other id. The caller owns the curve.
    static C3DKeyCurve* CreateCurve(unsigned classId);
    /// \brief A new curve of the same class with the same parameters; null for a null curve.
    C3DKeyCurve* Copy() const;

    unsigned GetClassID() const { return m_ClassID; }

    void Serialize(CXArchive& ar) override;
    /// \brief Same class id (derived curves also compare their parameters).
    virtual bool operator==(const C3DKeyCurve& other) const;
    bool operator!=(const C3DKeyCurve& other) const { return !(*this == other); }
    /// \brief Copies the parameters of \p other.
    /// \return false, and nothing changed, when the class ids differ.
    virtual bool operator=(const C3DKeyCurve& other);

protected:
    explicit C3DKeyCurve(unsigned classId) : m_ClassID(classId) {}
    C3DKeyCurve(const C3DKeyCurve&) = default;

    unsigned m_ClassID = 0;
};

/// \brief A tension/continuity/bias curve: five float parameters stored, copied and compared
///        by the library, not used when evaluating keys (which interpolate linearly or
///        spherically). Initial values 0, 0, 0, 25, 25; archived as five floats in order.
class ZAN_API C3DTCBCurve : public C3DKeyCurve
{
    ZAN_DECLARE_DYNCREATE(C3DTCBCurve)

public:
    C3DTCBCurve() : C3DKeyCurve(kTCBCurveID) {}
    ~C3DTCBCurve() override;

    void Serialize(CXArchive& ar) override;
    bool operator==(const C3DKeyCurve& other) const override;
    bool operator=(const C3DKeyCurve& other) override;

    /// \brief Parameter \p index (0 to 4); 0 outside.
    float GetParameter(int index) const;
    /// \brief Sets parameter \p index (0 to 4); false, nothing changed, outside.
    bool SetParameter(int index, float value);

    float m_Tension = 0;
    float m_Continuity = 0;
    float m_Bias = 0;
    float m_EaseIn = 25;
    float m_EaseOut = 25;
};

// ================================================================ C3DKeyframe

/// \brief Base of every key: its class id, custom data and optional curve (owned).
class ZAN_API C3DKeyframe : public CXObject
{
    ZAN_DECLARE_RUNTIME_CLASS(C3DKeyframe)

public:
    ~C3DKeyframe() override;

    /// \brief A new key of the class that the kind tag of \p classId selects, with that class
    ///        id; when \p curveClassId names a known curve the key gets a new curve of it.
    /// \return null for a kind tag that names no key class. The caller owns the key.
    static C3DKeyframe* CreateKey(uint64_t classId, unsigned curveClassId = 0);
    /// \brief A new key of the same class id with the same value, curve and custom data.
    ///        The caller owns it.
    C3DKeyframe* Copy() const;

    uint64_t GetClassID() const { return m_ClassID; }
    /// \brief The kind tag: the high half of the class id.
    uint32_t GetTypeID() const { return uint32_t(m_ClassID >> 32); }
    /// \brief The content id: the low half of the class id.
    uint32_t GetContentID() const { return uint32_t(m_ClassID); }

    CCustomData& GetCustomData() { return m_CustomData; }
    const CCustomData& GetCustomData() const { return m_CustomData; }

    /// \brief The key's curve, owned by the key; null when it has none.
    C3DKeyCurve* GetKeyCurve() const { return m_Curve.get(); }
    /// \brief Replaces the curve by a new one of class \p curveClassId (none for an unknown
    ///        id) and returns it.
    C3DKeyCurve* CreateCurve(unsigned curveClassId);
    /// \brief Takes ownership of \p curve (null, or a null curve, removes the curve).
    void SetKeyCurve(C3DKeyCurve* curve);
    /// \brief Stores a copy of \p curve.
    void SetKeyCurve(const C3DKeyCurve& curve);

    /// \brief Stores or loads the key (see the file comment). The kind tag read must be this
    ///        key's; the content id read replaces this key's.
    void Serialize(CXArchive& ar) override;

    /// \brief Sets this key's value at \p time from \p a (at range start) and \p b (at range
    ///        end). \return false, nothing changed, when the pair cannot be interpolated.
    virtual bool Evaluate(const C3DKeyframe& a, const C3DKeyframe& b, int time,
                          const CTimeRange& range) = 0;
    /// \brief Same class id, custom data, curve (both none or equal) and value.
    virtual bool operator==(const C3DKeyframe& other) const;
    bool operator!=(const C3DKeyframe& other) const { return !(*this == other); }
    /// \brief Copies the curve, the custom data and the value of \p other.
    /// \return false, and nothing changed, when the class ids differ.
    virtual bool operator=(const C3DKeyframe& other);

    /// \brief The interpolation fraction of \p time in \p range, in 32-bit float.
    static float GetFraction(int time, const CTimeRange& range);

protected:
    explicit C3DKeyframe(uint64_t classId) : m_ClassID(classId) {}
    C3DKeyframe(const C3DKeyframe& other);

    /// The base part of a key read from an archive, held until the whole key was read.
    struct CLoadedBase
    {
        uint64_t m_ClassID = 0;
        CCustomData m_CustomData;
        std::unique_ptr<C3DKeyCurve> m_Curve;
    };
    void StoreBase(CXArchive& ar) const;
    /// Reads the base part; raises when the kind tag is not this key's.
    void LoadBase(CXArchive& ar, CLoadedBase& base) const;
    void CommitBase(CLoadedBase& base);

private:
    uint64_t m_ClassID;
    CCustomData m_CustomData;
    std::unique_ptr<C3DKeyCurve> m_Curve;
};

// ================================================================ matrix keys

/// \brief A transform matrix key (identity when new). Translations sit in the last column.
class ZAN_API C3DMatrixKey : public C3DKeyframe
{
    ZAN_DECLARE_DYNCREATE(C3DMatrixKey)

public:
    explicit C3DMatrixKey(uint64_t classId = ZanKeyClassID(_KeyKindMatrix)) : C3DKeyframe(classId)
    {
    }
    ~C3DMatrixKey() override;

    /// \brief The key's matrix.
    virtual const C4x4TMatrix<float>& ToMatrix() const { return m_Matrix; }
    void SetMatrix(const C4x4TMatrix<float>& matrix) { m_Matrix = matrix; }

    /// \brief Re-expresses the matrix in the axes of swap code \p code (math.h): with
    ///        \p adjust, AdjustMatrix (the same transform in the swapped axes); without,
    ///        SwapMatrix (only the columns re-expressed). An invalid code changes nothing.
    virtual void SwapCoordinates(unsigned code, bool adjust);

    void Serialize(CXArchive& ar) override;
    /// \brief Both keys decomposed into translation, rotation and scale; translation and
    ///        scale interpolated linearly, rotation by Slerp, then recomposed. false outside
    ///        the range or when a or b has another class id.
    bool Evaluate(const C3DKeyframe& a, const C3DKeyframe& b, int time,
                  const CTimeRange& range) override;
    bool operator==(const C3DKeyframe& other) const override;
    bool operator=(const C3DKeyframe& other) override;

    /// \brief A copy of \p other (value, curve and custom data).
    C3DMatrixKey(const C3DMatrixKey&) = default;
    /// \brief Same as the assignment from a C3DKeyframe: false, nothing changed, when the
    ///        class ids differ.
    bool operator=(const C3DMatrixKey& other)
    {
        return operator=(static_cast<const C3DKeyframe&>(other));
    }

protected:
    C4x4TMatrix<float> m_Matrix;
};

/// \brief A rotation key: an angle (radians) about an axis; its matrix is always that
///        rotation. New keys hold angle 0 about (0, 0, 1) and the identity.
class ZAN_API C3DRotateKey : public C3DMatrixKey
{
    ZAN_DECLARE_DYNCREATE(C3DRotateKey)

public:
    explicit C3DRotateKey(uint64_t classId = ZanKeyClassID(_KeyKindRotate)) : C3DMatrixKey(classId)
    {
    }
    /// \brief The rotation of \p angle about \p axis, class id "ROTA" with content 0.
    C3DRotateKey(float angle, const C3DTVector<float>& axis);
    ~C3DRotateKey() override;

    double GetAngle() const { return m_Angle; }
    const C3DTVector<float>& GetAxis() const { return m_Axis; }
    /// \brief Sets angle and axis and rebuilds the matrix.
    void SetRotation(double angle, const C3DTVector<float>& axis);
    /// \brief Sets the rotation of \p q: its angle and axis (GetAxisAngle) and its matrix.
    void SetQuaternion(const CQuaternion& q);
    /// \brief The rotation as a quaternion (SetAxisAngle of the axis and angle).
    CQuaternion GetQuaternion() const;
    /// \brief Re-expresses the rotation in the axes of swap code \p code (AdjustMatrix of the
    ///        matrix, read back as angle and axis). An invalid code changes nothing.
    void SwapCoordinates(unsigned code);
    void SwapCoordinates(unsigned code, bool adjust) override;

    /// \brief The rotation matrix of \p angle about \p axis: the identity when |angle| is
    ///        below 1e-15 or every axis component is below 1e-15 in magnitude.
    static C4x4TMatrix<float> RotationMatrix(double angle, const C3DTVector<float>& axis);

    void Serialize(CXArchive& ar) override;
    /// \brief Slerp of the two keys' quaternions. false outside the range or when a or b has
    ///        another class id.
    bool Evaluate(const C3DKeyframe& a, const C3DKeyframe& b, int time,
                  const CTimeRange& range) override;
    bool operator==(const C3DKeyframe& other) const override;
    bool operator=(const C3DKeyframe& other) override;

    /// \brief A copy of \p other (value, curve and custom data).
    C3DRotateKey(const C3DRotateKey&) = default;
    /// \brief Same as the assignment from a C3DKeyframe: false, nothing changed, when the
    ///        class ids differ.
    bool operator=(const C3DRotateKey& other)
    {
        return operator=(static_cast<const C3DKeyframe&>(other));
    }

protected:
    double m_Angle = 0;
    C3DTVector<float> m_Axis{0.0f, 0.0f, 1.0f};
};

/// \brief A free vector key; its matrix is built like a translation's: elements [0][3],
///        [1][3], [2][3] = x, y, z, [3][3] = 1, the others unchanged. New keys hold (0, 0, 0).
class ZAN_API C3DVectorKey : public C3DMatrixKey
{
    ZAN_DECLARE_DYNCREATE(C3DVectorKey)

public:
    explicit C3DVectorKey(uint64_t classId = ZanKeyClassID(_KeyKindVector)) : C3DMatrixKey(classId)
    {
    }
    ~C3DVectorKey() override;

    const C3DTVector<float>& GetVector() const { return m_Vector; }
    /// \brief Sets the vector and rebuilds the matrix.
    void SetVector(const C3DTVector<float>& v);
    /// \brief Rebuilds the matrix from the vector.
    virtual void UpdateMatrix();

    void Serialize(CXArchive& ar) override;
    /// \brief Linear interpolation of x, y, z (flags word 0). false outside the range or when
    ///        a or b has another class id.
    bool Evaluate(const C3DKeyframe& a, const C3DKeyframe& b, int time,
                  const CTimeRange& range) override;
    bool operator==(const C3DKeyframe& other) const override;
    bool operator=(const C3DKeyframe& other) override;

    /// \brief A copy of \p other (value, curve and custom data).
    C3DVectorKey(const C3DVectorKey&) = default;
    /// \brief Same as the assignment from a C3DKeyframe: false, nothing changed, when the
    ///        class ids differ.
    bool operator=(const C3DVectorKey& other)
    {
        return operator=(static_cast<const C3DKeyframe&>(other));
    }

protected:
    C3DTVector<float> m_Vector;
};

/// \brief A translation key: a vector key of kind "TRAN".
class ZAN_API C3DTranslateKey : public C3DVectorKey
{
    ZAN_DECLARE_DYNCREATE(C3DTranslateKey)

public:
    explicit C3DTranslateKey(uint64_t classId = ZanKeyClassID(_KeyKindTranslate))
        : C3DVectorKey(classId)
    {
    }
    ~C3DTranslateKey() override;
    bool operator=(const C3DKeyframe& other) override { return C3DVectorKey::operator=(other); }

    /// \brief A copy of \p other (value, curve and custom data).
    C3DTranslateKey(const C3DTranslateKey&) = default;
    /// \brief Same as the assignment from a C3DKeyframe: false, nothing changed, when the
    ///        class ids differ.
    bool operator=(const C3DTranslateKey& other)
    {
        return operator=(static_cast<const C3DKeyframe&>(other));
    }
};

/// \brief A scale key: its matrix has the vector on the diagonal ([0][0], [1][1], [2][2]),
///        the other elements unchanged. New keys hold (1, 1, 1) and the identity.
class ZAN_API C3DScaleKey : public C3DVectorKey
{
    ZAN_DECLARE_DYNCREATE(C3DScaleKey)

public:
    explicit C3DScaleKey(uint64_t classId = ZanKeyClassID(_KeyKindScale));
    ~C3DScaleKey() override;
    bool operator=(const C3DKeyframe& other) override { return C3DVectorKey::operator=(other); }
    void UpdateMatrix() override;

    /// \brief A copy of \p other (value, curve and custom data).
    C3DScaleKey(const C3DScaleKey&) = default;
    /// \brief Same as the assignment from a C3DKeyframe: false, nothing changed, when the
    ///        class ids differ.
    bool operator=(const C3DScaleKey& other)
    {
        return operator=(static_cast<const C3DKeyframe&>(other));
    }
};

// ================================================================ scalar keys

/// \brief A key of one value of type T: int, unsigned int, float, double or CRGBColor.
///        New keys hold 0 (opaque black for colours).
///
/// Evaluate interpolates a × (1 − t) + b × t for any time (values outside the range are
/// extrapolated). Integers and colour channels are interpolated in float and truncated
/// toward zero, clamped to their type's range (NaN gives 0); doubles in double. Evaluate is
/// false only when a or b is not a key of the same value type.
/// \brief The kind tag of the scalar key of value type T.
template <class T> struct CKeyKindOf;
template <> struct CKeyKindOf<int>
{
    static constexpr uint32_t kKind = _KeyKindInt;
};
template <> struct CKeyKindOf<unsigned int>
{
    static constexpr uint32_t kKind = _KeyKindUInt;
};
template <> struct CKeyKindOf<float>
{
    static constexpr uint32_t kKind = _KeyKindFloat;
};
template <> struct CKeyKindOf<double>
{
    static constexpr uint32_t kKind = _KeyKindDouble;
};
template <> struct CKeyKindOf<CRGBColor>
{
    static constexpr uint32_t kKind = _KeyKindColor;
};

template <class T> class ZAN_API C3DTypeKey : public C3DKeyframe
{
public:
    static const CXRuntimeClass classCreatorC3DTypeKey;
    static const CXRuntimeClass* GetThisRuntimeClassDescriptor() { return &classCreatorC3DTypeKey; }
    const CXRuntimeClass* GetRuntimeClassDescriptor() const override
    {
        return &classCreatorC3DTypeKey;
    }
    static CXObject* CreateObject();

    /// \brief The kind tag of this value type.
    static constexpr uint32_t kKind = CKeyKindOf<T>::kKind;

    explicit C3DTypeKey(uint64_t classId = ZanKeyClassID(kKind)) : C3DKeyframe(classId) {}
    ~C3DTypeKey() override;

    const T& GetValue() const { return m_Value; }
    void SetValue(const T& value) { m_Value = value; }

    void Serialize(CXArchive& ar) override;
    bool Evaluate(const C3DKeyframe& a, const C3DKeyframe& b, int time,
                  const CTimeRange& range) override;
    bool operator==(const C3DKeyframe& other) const override;
    bool operator=(const C3DKeyframe& other) override;

    /// \brief A copy of \p other (value, curve and custom data).
    C3DTypeKey(const C3DTypeKey&) = default;
    /// \brief Same as the assignment from a C3DKeyframe: false, nothing changed, when the
    ///        class ids differ.
    bool operator=(const C3DTypeKey& other)
    {
        return operator=(static_cast<const C3DKeyframe&>(other));
    }

protected:
    T m_Value{};
};

template <> const CXRuntimeClass C3DTypeKey<int>::classCreatorC3DTypeKey;
template <> const CXRuntimeClass C3DTypeKey<unsigned int>::classCreatorC3DTypeKey;
template <> const CXRuntimeClass C3DTypeKey<float>::classCreatorC3DTypeKey;
template <> const CXRuntimeClass C3DTypeKey<double>::classCreatorC3DTypeKey;
template <> const CXRuntimeClass C3DTypeKey<CRGBColor>::classCreatorC3DTypeKey;

extern template class C3DTypeKey<int>;
extern template class C3DTypeKey<unsigned int>;
extern template class C3DTypeKey<float>;
extern template class C3DTypeKey<double>;
extern template class C3DTypeKey<CRGBColor>;

using C3DIntKey = C3DTypeKey<int>;
using C3DUIntKey = C3DTypeKey<unsigned int>;
using C3DFloatKey = C3DTypeKey<float>;
using C3DDoubleKey = C3DTypeKey<double>;
using C3DColorKey = C3DTypeKey<CRGBColor>;
