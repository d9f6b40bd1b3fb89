// Keys and key curves: creation by class id, copies, comparisons, pairwise interpolation and
// archives.
//
// Loading is transactional: each key reads its base part and its value into locals and only
// then replaces its own, so a truncated or malformed archive leaves the key as it was. Matrix
// keys interpolate through the polar decomposition of math.h (translation and scale
// linearly, rotation along the great arc), which gives back key a's matrix at t = 0 and key
// b's at t = 1 for any affine matrices, shear included, up to float rounding.
#include <3dzan/animation/keys.h>

#include <3dzan/foundation/xarchive.h>

#include <cmath>
#include <limits>

namespace
{
// The bytes a key's base part takes at the least: class id, an empty custom data bag (its
// 32-bit count) and the curve id.
constexpr uint64_t kMinKeyBaseBytes = 8 + 4 + 4;

[[noreturn]] void ThrowBadKey(const char* what)
{
    throw CXArchiveException(CXArchiveException::_BadValue, what);
}

// A float narrowed to an integer type: truncated toward zero, clamped to the type's range,
// NaN giving 0 (the conversion itself would be undefined outside the range).
template <class T> T TruncateTo(double value)
{
    if (std::isnan(value))
        return T(0);
    constexpr double lo = double(std::numeric_limits<T>::min());
    constexpr double hi = double(std::numeric_limits<T>::max());
    if (value <= lo)
        return std::numeric_limits<T>::min();
    if (value >= hi)
        return std::numeric_limits<T>::max();
    return static_cast<T>(value);
}

template <class T> T Lerp(const T& a, const T& b, float t)
{
    if constexpr (std::is_same_v<T, double>)
        return a * (1.0 - double(t)) + b * double(t);
    else if constexpr (std::is_same_v<T, float>)
        return a * (1.0f - t) + b * t;
    else if constexpr (std::is_same_v<T, CRGBColor>)
    {
        CRGBColor c;
        for (int i = 0; i < 4; ++i)
            c[i] = TruncateTo<uint8_t>(float(a[i]) * (1.0f - t) + float(b[i]) * t);
        return c;
    }
    else
        return TruncateTo<T>(float(a) * (1.0f - t) + float(b) * t);
}

void SerializeValue(CXArchive& ar, CRGBColor& value)
{
    value.Serialize(ar);
}
template <class T> void SerializeValue(CXArchive& ar, T& value)
{
    ZanSerialize(ar, value);
}

bool SameFloatVector(const C3DTVector<float>& a, const C3DTVector<float>& b)
{
    return a == b && a.GetFlags() == b.GetFlags();
}
} // namespace

// ================================================================ CTimeRange

CTimeRange& CTimeRange::operator&=(const CTimeRange& other)
{
    m_Start = std::max(m_Start, other.m_Start);
    m_End = std::min(m_End, other.m_End);
    return *this;
}

CTimeRange& CTimeRange::operator|=(const CTimeRange& other)
{
    m_Start = std::min(m_Start, other.m_Start);
    m_End = std::max(m_End, other.m_End);
    return *this;
}

// ================================================================ curves

ZAN_IMPLEMENT_DYNCREATE(C3DKeyCurve, CXObject)
ZAN_IMPLEMENT_DYNCREATE(C3DTCBCurve, C3DKeyCurve)

C3DKeyCurve::~C3DKeyCurve() = default;

C3DKeyCurve* C3DKeyCurve::CreateCurve(unsigned classId)
{
    if (classId == kTCBCurveID)
        return new C3DTCBCurve;
    return nullptr;
}

C3DKeyCurve* C3DKeyCurve::Copy() const
{
    C3DKeyCurve* copy = CreateCurve(m_ClassID);
    if (copy)
        *copy = *this;
    return copy;
}

void C3DKeyCurve::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        ar << int(m_ClassID);
        return;
    }
    int classId = 0;
    ar >> classId;
    m_ClassID = unsigned(classId);
}

bool C3DKeyCurve::operator==(const C3DKeyCurve& other) const
{
    return m_ClassID == other.m_ClassID;
}

bool C3DKeyCurve::operator=(const C3DKeyCurve& other)
{
    return m_ClassID == other.m_ClassID;
}

C3DTCBCurve::~C3DTCBCurve() = default;

void C3DTCBCurve::Serialize(CXArchive& ar)
{
    float values[5] = {m_Tension, m_Continuity, m_Bias, m_EaseIn, m_EaseOut};
    if (ar.IsStoring())
    {
        ar.WriteArray(values, 5);
        return;
    }
    ar.ReadArray(values, 5);
    for (int i = 0; i < 5; ++i)
        SetParameter(i, values[i]);
}

bool C3DTCBCurve::operator==(const C3DKeyCurve& other) const
{
    const auto* tcb = dynamic_cast<const C3DTCBCurve*>(&other);
    if (!tcb || !C3DKeyCurve::operator==(other))
        return false;
    for (int i = 0; i < 5; ++i)
        if (GetParameter(i) != tcb->GetParameter(i))
            return false;
    return true;
}

bool C3DTCBCurve::operator=(const C3DKeyCurve& other)
{
    const auto* tcb = dynamic_cast<const C3DTCBCurve*>(&other);
    if (!tcb || other.GetClassID() != m_ClassID)
        return false;
    for (int i = 0; i < 5; ++i)
        SetParameter(i, tcb->GetParameter(i));
    return true;
}

float C3DTCBCurve::GetParameter(int index) const
{
    switch (index)
    {
    case 0:
        return m_Tension;
    case 1:
        return m_Continuity;
    case 2:
        return m_Bias;
    case 3:
        return m_EaseIn;
    case 4:
        return m_EaseOut;
    default:
        return 0.0f;
    }
}

bool C3DTCBCurve::SetParameter(int index, float value)
{
    float* slots[5] = {&m_Tension, &m_Continuity, &m_Bias, &m_EaseIn, &m_EaseOut};
    if (index < 0 || index > 4)
        return false;
    *slots[index] = value;
    return true;
}

// ================================================================ C3DKeyframe

ZAN_IMPLEMENT_RUNTIME_CLASS(C3DKeyframe, CXObject)

C3DKeyframe::C3DKeyframe(const C3DKeyframe& other)
    : CXObject(other), m_ClassID(other.m_ClassID), m_CustomData(other.m_CustomData),
      m_Curve(other.m_Curve ? other.m_Curve->Copy() : nullptr)
{
}

C3DKeyframe::~C3DKeyframe() = default;

C3DKeyframe* C3DKeyframe::CreateKey(uint64_t classId, unsigned curveClassId)
{
    C3DKeyframe* key = nullptr;
    switch (uint32_t(classId >> 32))
    {
    case _KeyKindMatrix:
        key = new C3DMatrixKey(classId);
        break;
    case _KeyKindRotate:
        key = new C3DRotateKey(classId);
        break;
    case _KeyKindScale:
        key = new C3DScaleKey(classId);
        break;
    case _KeyKindTranslate:
        key = new C3DTranslateKey(classId);
        break;
    case _KeyKindVector:
        key = new C3DVectorKey(classId);
        break;
    case _KeyKindInt:
        key = new C3DTypeKey<int>(classId);
        break;
    case _KeyKindUInt:
        key = new C3DTypeKey<unsigned int>(classId);
        break;
    case _KeyKindFloat:
        key = new C3DTypeKey<float>(classId);
        break;
    case _KeyKindDouble:
        key = new C3DTypeKey<double>(classId);
        break;
    case _KeyKindColor:
        key = new C3DTypeKey<CRGBColor>(classId);
        break;
    default:
        return nullptr;
    }
    if (curveClassId != 0)
        key->CreateCurve(curveClassId);
    return key;
}

C3DKeyframe* C3DKeyframe::Copy() const
{
    C3DKeyframe* copy = CreateKey(m_ClassID, 0);
    if (copy)
        *copy = *this;
    return copy;
}

C3DKeyCurve* C3DKeyframe::CreateCurve(unsigned curveClassId)
{
    m_Curve.reset(C3DKeyCurve::CreateCurve(curveClassId));
    return m_Curve.get();
}

void C3DKeyframe::SetKeyCurve(C3DKeyCurve* curve)
{
    m_Curve.reset(curve);
    if (m_Curve && m_Curve->GetClassID() == 0)
        m_Curve.reset();
}

void C3DKeyframe::SetKeyCurve(const C3DKeyCurve& curve)
{
    if (&curve != m_Curve.get())
        m_Curve.reset(curve.Copy());
}

void C3DKeyframe::StoreBase(CXArchive& ar) const
{
    ar << uint64_t(m_ClassID);
    const_cast<CCustomData&>(m_CustomData).Serialize(ar);
    const unsigned curveId = m_Curve ? m_Curve->GetClassID() : 0u;
    ar << curveId;
    if (curveId != 0)
        m_Curve->Serialize(ar);
}

void C3DKeyframe::LoadBase(CXArchive& ar, CLoadedBase& base) const
{
    ar.CheckRemaining(kMinKeyBaseBytes, "key");
    uint64_t classId = 0;
    ar >> classId;
    if (uint32_t(classId >> 32) != GetTypeID())
        ThrowBadKey("a key archive of another kind");
    base.m_ClassID = classId;
    base.m_CustomData.Serialize(ar);
    unsigned curveId = 0;
    ar >> curveId;
    if (curveId == 0)
        return;
    base.m_Curve.reset(C3DKeyCurve::CreateCurve(curveId));
    if (base.m_Curve)
    {
        base.m_Curve->Serialize(ar);
        return;
    }
    // A curve class this library does not know: it was written as a plain curve (its class
    // id) and is dropped; anything else cannot be skipped safely.
    C3DKeyCurve plain;
    plain.Serialize(ar);
    if (plain.GetClassID() != curveId)
        ThrowBadKey("a key curve of an unknown class");
}

void C3DKeyframe::CommitBase(CLoadedBase& base)
{
    m_ClassID = base.m_ClassID;
    m_CustomData.Swap(base.m_CustomData);
    m_Curve = std::move(base.m_Curve);
}

void C3DKeyframe::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        StoreBase(ar);
        return;
    }
    CLoadedBase base;
    LoadBase(ar, base);
    CommitBase(base);
}

bool C3DKeyframe::operator==(const C3DKeyframe& other) const
{
    if (m_ClassID != other.m_ClassID || !(m_CustomData == other.m_CustomData))
        return false;
    if (!m_Curve || !other.m_Curve)
        return !m_Curve && !other.m_Curve;
    return *m_Curve == *other.m_Curve;
}

bool C3DKeyframe::operator=(const C3DKeyframe& other)
{
    if (m_ClassID != other.m_ClassID)
        return false;
    if (this == &other)
        return true;
    m_CustomData = other.m_CustomData;
    m_Curve.reset(other.m_Curve ? other.m_Curve->Copy() : nullptr);
    return true;
}

float C3DKeyframe::GetFraction(int time, const CTimeRange& range)
{
    return float(int64_t(time) - int64_t(range.m_Start)) / float(range.GetLength());
}

// ================================================================ C3DMatrixKey

ZAN_IMPLEMENT_DYNCREATE(C3DMatrixKey, C3DKeyframe)

C3DMatrixKey::~C3DMatrixKey() = default;

void C3DMatrixKey::SwapCoordinates(unsigned code, bool adjust)
{
    int a, b, k;
    if (!GetXYZSwap(code, a, b, k))
        return;
    m_Matrix = adjust ? AdjustMatrix(code, m_Matrix) : SwapMatrix(code, m_Matrix);
}

void C3DMatrixKey::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        StoreBase(ar);
        m_Matrix.Serialize(ar);
        return;
    }
    CLoadedBase base;
    LoadBase(ar, base);
    C4x4TMatrix<float> matrix;
    matrix.Serialize(ar);
    CommitBase(base);
    m_Matrix = matrix;
}

bool C3DMatrixKey::Evaluate(const C3DKeyframe& a, const C3DKeyframe& b, int time,
                            const CTimeRange& range)
{
    const auto* ka = dynamic_cast<const C3DMatrixKey*>(&a);
    const auto* kb = dynamic_cast<const C3DMatrixKey*>(&b);
    if (!ka || !kb || !range.IsInInterval(time) || a.GetClassID() != GetClassID() ||
        b.GetClassID() != GetClassID())
        return false;

    _MatrixDecomposition pa, pb;
    Decompose(ka->ToMatrix(), pa);
    Decompose(kb->ToMatrix(), pb);

    // Translation and scale go through translate and scale keys, the rotation through rotate
    // keys, so that each part interpolates exactly as keys of its kind do.
    auto lerp = [&](auto from, auto to, const C3DTVector<float>& va, const C3DTVector<float>& vb)
    {
        from.SetVector(va);
        to.SetVector(vb);
        decltype(from) result;
        result.Evaluate(from, to, time, range);
        return result.GetVector();
    };
    C3DRotateKey ra, rb, rotation;
    ra.SetQuaternion(pa.m_Rotation);
    rb.SetQuaternion(pb.m_Rotation);
    rotation.Evaluate(ra, rb, time, range);

    _MatrixDecomposition parts;
    parts.m_Translation =
        lerp(C3DTranslateKey(), C3DTranslateKey(), pa.m_Translation, pb.m_Translation);
    parts.m_Scale = lerp(C3DScaleKey(), C3DScaleKey(), pa.m_Scale, pb.m_Scale);
    parts.m_Rotation = rotation.GetQuaternion();
    // The orientation of the scale axes is the identity for matrices without shear.
    parts.m_StretchRotation =
        CQuaternion::Slerp(pa.m_StretchRotation, pb.m_StretchRotation, GetFraction(time, range));
    // A mirror cannot be reached continuously: it switches at the end of the range.
    parts.m_Sign = time < range.m_End ? pa.m_Sign : pb.m_Sign;
    m_Matrix = Recompose(parts);
    return true;
}

bool C3DMatrixKey::operator==(const C3DKeyframe& other) const
{
    const auto* key = dynamic_cast<const C3DMatrixKey*>(&other);
    return key && C3DKeyframe::operator==(other) && m_Matrix == key->m_Matrix;
}

bool C3DMatrixKey::operator=(const C3DKeyframe& other)
{
    const auto* key = dynamic_cast<const C3DMatrixKey*>(&other);
    if (!key || !C3DKeyframe::operator=(other))
        return false;
    m_Matrix = key->m_Matrix;
    return true;
}

// ================================================================ C3DRotateKey

ZAN_IMPLEMENT_DYNCREATE(C3DRotateKey, C3DMatrixKey)

C3DRotateKey::C3DRotateKey(float angle, const C3DTVector<float>& axis)
    : C3DMatrixKey(ZanKeyClassID(_KeyKindRotate))
{
    SetRotation(angle, axis);
}

C3DRotateKey::~C3DRotateKey() = default;

C4x4TMatrix<float> C3DRotateKey::RotationMatrix(double angle, const C3DTVector<float>& axis)
{
    C4x4TMatrix<float> m;
    const double tiny = 1e-15;
    if (!(std::fabs(angle) >= tiny) ||
        (std::fabs(axis.m_X) < tiny && std::fabs(axis.m_Y) < tiny && std::fabs(axis.m_Z) < tiny))
        return m;
    const double length = std::sqrt(double(axis.m_X) * axis.m_X + double(axis.m_Y) * axis.m_Y +
                                    double(axis.m_Z) * axis.m_Z);
    if (!std::isfinite(length) || !std::isfinite(angle))
        return m;
    const double x = axis.m_X / length, y = axis.m_Y / length, z = axis.m_Z / length;
    const double co = std::cos(angle), si = std::sin(angle);
    const double rows[3][3] = {
        {(1 - x * x) * co + x * x, x * y * (1 - co) + z * si, x * z * (1 - co) - y * si},
        {x * y * (1 - co) - z * si, (1 - y * y) * co + y * y, y * z * (1 - co) + x * si},
        {x * z * (1 - co) + y * si, y * z * (1 - co) - x * si, (1 - z * z) * co + z * z}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] = float(rows[i][j]);
    return m;
}

void C3DRotateKey::SetRotation(double angle, const C3DTVector<float>& axis)
{
    m_Angle = angle;
    m_Axis.Set(axis.m_X, axis.m_Y, axis.m_Z);
    m_Axis.SetFlags(axis.GetFlags());
    m_Matrix = RotationMatrix(m_Angle, m_Axis);
}

void C3DRotateKey::SetQuaternion(const CQuaternion& q)
{
    C3DTVector<float> axis(1.0f, 0.0f, 0.0f);
    double angle = 0.0;
    q.GetAxisAngle(axis, angle);
    m_Angle = angle;
    m_Axis.Set(axis.m_X, axis.m_Y, axis.m_Z);
    m_Matrix = q.GetMatrix();
}

CQuaternion C3DRotateKey::GetQuaternion() const
{
    CQuaternion q;
    q.SetAxisAngle(m_Axis, m_Angle);
    return q;
}

void C3DRotateKey::SwapCoordinates(unsigned code)
{
    int a, b, k;
    if (!GetXYZSwap(code, a, b, k))
        return;
    CQuaternion q;
    q = AdjustMatrix(code, m_Matrix);
    SetQuaternion(q);
}

void C3DRotateKey::SwapCoordinates(unsigned code, bool /*adjust*/)
{
    // A rotation has no columns to re-express alone: both forms turn it into the rotation
    // of the swapped axes.
    SwapCoordinates(code);
}

void C3DRotateKey::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        StoreBase(ar);
        ar << m_Angle;
        m_Axis.Serialize(ar);
        return;
    }
    CLoadedBase base;
    LoadBase(ar, base);
    double angle = 0;
    C3DTVector<float> axis;
    ar >> angle;
    axis.Serialize(ar);
    CommitBase(base);
    SetRotation(angle, axis);
}

bool C3DRotateKey::Evaluate(const C3DKeyframe& a, const C3DKeyframe& b, int time,
                            const CTimeRange& range)
{
    const auto* ka = dynamic_cast<const C3DRotateKey*>(&a);
    const auto* kb = dynamic_cast<const C3DRotateKey*>(&b);
    if (!ka || !kb || !range.IsInInterval(time) || a.GetClassID() != GetClassID() ||
        b.GetClassID() != GetClassID())
        return false;
    const CQuaternion q =
        CQuaternion::Slerp(ka->GetQuaternion(), kb->GetQuaternion(), GetFraction(time, range));
    SetQuaternion(q);
    return true;
}

bool C3DRotateKey::operator==(const C3DKeyframe& other) const
{
    const auto* key = dynamic_cast<const C3DRotateKey*>(&other);
    return key && C3DMatrixKey::operator==(other) && m_Angle == key->m_Angle &&
           SameFloatVector(m_Axis, key->m_Axis);
}

bool C3DRotateKey::operator=(const C3DKeyframe& other)
{
    const auto* key = dynamic_cast<const C3DRotateKey*>(&other);
    if (!key || !C3DMatrixKey::operator=(other))
        return false;
    m_Angle = key->m_Angle;
    m_Axis = key->m_Axis;
    return true;
}

// ================================================================ vector keys

ZAN_IMPLEMENT_DYNCREATE(C3DVectorKey, C3DMatrixKey)
ZAN_IMPLEMENT_DYNCREATE(C3DTranslateKey, C3DVectorKey)
ZAN_IMPLEMENT_DYNCREATE(C3DScaleKey, C3DVectorKey)

C3DVectorKey::~C3DVectorKey() = default;
C3DTranslateKey::~C3DTranslateKey() = default;

C3DScaleKey::C3DScaleKey(uint64_t classId) : C3DVectorKey(classId)
{
    m_Vector.Set(1.0f, 1.0f, 1.0f);
}

C3DScaleKey::~C3DScaleKey() = default;

void C3DVectorKey::SetVector(const C3DTVector<float>& v)
{
    m_Vector = v;
    UpdateMatrix();
}

void C3DVectorKey::UpdateMatrix()
{
    m_Matrix[0][3] = m_Vector.m_X;
    m_Matrix[1][3] = m_Vector.m_Y;
    m_Matrix[2][3] = m_Vector.m_Z;
    m_Matrix[3][3] = 1.0f;
}

void C3DScaleKey::UpdateMatrix()
{
    m_Matrix[0][0] = m_Vector.m_X;
    m_Matrix[1][1] = m_Vector.m_Y;
    m_Matrix[2][2] = m_Vector.m_Z;
}

void C3DVectorKey::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        StoreBase(ar);
        m_Vector.Serialize(ar);
        return;
    }
    CLoadedBase base;
    LoadBase(ar, base);
    C3DTVector<float> v;
    v.Serialize(ar);
    CommitBase(base);
    SetVector(v);
}

bool C3DVectorKey::Evaluate(const C3DKeyframe& a, const C3DKeyframe& b, int time,
                            const CTimeRange& range)
{
    const auto* ka = dynamic_cast<const C3DVectorKey*>(&a);
    const auto* kb = dynamic_cast<const C3DVectorKey*>(&b);
    if (!ka || !kb || !range.IsInInterval(time) || a.GetClassID() != GetClassID() ||
        b.GetClassID() != GetClassID())
        return false;
    const float t = GetFraction(time, range);
    const C3DTVector<float>& va = ka->m_Vector;
    const C3DTVector<float>& vb = kb->m_Vector;
    m_Vector.Set(va.m_X * (1.0f - t) + vb.m_X * t, va.m_Y * (1.0f - t) + vb.m_Y * t,
                 va.m_Z * (1.0f - t) + vb.m_Z * t);
    m_Vector.SetFlags(0);
    UpdateMatrix();
    return true;
}

bool C3DVectorKey::operator==(const C3DKeyframe& other) const
{
    const auto* key = dynamic_cast<const C3DVectorKey*>(&other);
    return key && C3DMatrixKey::operator==(other) && SameFloatVector(m_Vector, key->m_Vector);
}

bool C3DVectorKey::operator=(const C3DKeyframe& other)
{
    const auto* key = dynamic_cast<const C3DVectorKey*>(&other);
    if (!key || !C3DMatrixKey::operator=(other))
        return false;
    m_Vector = key->m_Vector;
    return true;
}

// ================================================================ C3DTypeKey

template <class T> C3DTypeKey<T>::~C3DTypeKey() = default;

template <class T> CXObject* C3DTypeKey<T>::CreateObject()
{
    return new C3DTypeKey<T>;
}

template <class T> void C3DTypeKey<T>::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        StoreBase(ar);
        SerializeValue(ar, m_Value);
        return;
    }
    CLoadedBase base;
    LoadBase(ar, base);
    T value{};
    SerializeValue(ar, value);
    CommitBase(base);
    m_Value = value;
}

template <class T>
bool C3DTypeKey<T>::Evaluate(const C3DKeyframe& a, const C3DKeyframe& b, int time,
                             const CTimeRange& range)
{
    const auto* ka = dynamic_cast<const C3DTypeKey*>(&a);
    const auto* kb = dynamic_cast<const C3DTypeKey*>(&b);
    if (!ka || !kb)
        return false;
    m_Value = Lerp(ka->m_Value, kb->m_Value, GetFraction(time, range));
    return true;
}

template <class T> bool C3DTypeKey<T>::operator==(const C3DKeyframe& other) const
{
    const auto* key = dynamic_cast<const C3DTypeKey*>(&other);
    return key && C3DKeyframe::operator==(other) && m_Value == key->m_Value;
}

template <class T> bool C3DTypeKey<T>::operator=(const C3DKeyframe& other)
{
    const auto* key = dynamic_cast<const C3DTypeKey*>(&other);
    if (!key || !C3DKeyframe::operator=(other))
        return false;
    m_Value = key->m_Value;
    return true;
}

// Each value type has its own runtime class, named after the instantiation.
#define ZAN_IMPLEMENT_TYPE_KEY(T, Tag)                                                             \
    template <>                                                                                    \
    const CXRuntimeClass C3DTypeKey<T>::classCreatorC3DTypeKey = {                                 \
        "C3DTypeKey<" #T ">", &C3DTypeKey<T>::CreateObject,                                        \
        &C3DKeyframe::GetThisRuntimeClassDescriptor};                                              \
    template class C3DTypeKey<T>;                                                                  \
    namespace                                                                                      \
    {                                                                                              \
    const bool g_Declared##Tag##Key =                                                              \
        CXRuntimeClass::DeclareRuntimeClass(&C3DTypeKey<T>::classCreatorC3DTypeKey);               \
    }

ZAN_IMPLEMENT_TYPE_KEY(int, Int)
ZAN_IMPLEMENT_TYPE_KEY(unsigned int, UInt)
ZAN_IMPLEMENT_TYPE_KEY(float, Float)
ZAN_IMPLEMENT_TYPE_KEY(double, Double)
ZAN_IMPLEMENT_TYPE_KEY(CRGBColor, Color)
