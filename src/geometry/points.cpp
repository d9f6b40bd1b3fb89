// Point types and their element methods.
//
// The single-element operations of the methods go through the points' virtual functions, as
// generic code expects. The bulk operations, which the element array calls once per range,
// know the concrete point type: construction is a placement new, destruction runs the
// non-virtual destructor (which does nothing), copies use the type's own assignment, and
// archives move each point's flags and components through a staging buffer in blocks. The
// archive codec of each type writes exactly what the point's Serialize writes, field by field,
// so the two paths cannot drift apart with a change of memory layout.
#include <3dzan/geometry/points.h>

#include <3dzan/foundation/xarchive.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace zan_detail
{
void ThrowComponentIndex(const char* where, int index, int count)
{
    ZanThrowIndexError(where, index, count);
}
} // namespace zan_detail

// ================================================================ CRGBColor

uint8_t& CRGBColor::operator[](int index)
{
    switch (index)
    {
    case 0:
        return m_Red;
    case 1:
        return m_Green;
    case 2:
        return m_Blue;
    case 3:
        return m_Alpha;
    default:
        zan_detail::ThrowComponentIndex("CRGBColor", index, 4);
    }
}

void CRGBColor::Serialize(CXArchive& ar)
{
    ZanSerialize(ar, m_Red);
    ZanSerialize(ar, m_Green);
    ZanSerialize(ar, m_Blue);
    ZanSerialize(ar, m_Alpha);
}

// ================================================================ C4DPoint

void C4DPoint::Init(int dimension)
{
    m_Dimension = dimension;
    for (int i = 0; i < GetUsedCount(); ++i)
        m_Val[i] = 0;
}

C4DPoint& C4DPoint::operator+=(const C4DPoint& other)
{
    for (int i = 0; i < 4; ++i)
        m_Val[i] += other.m_Val[i];
    m_Dimension = std::max(m_Dimension, other.m_Dimension);
    return *this;
}

C4DPoint& C4DPoint::operator-=(const C4DPoint& other)
{
    for (int i = 0; i < 4; ++i)
        m_Val[i] -= other.m_Val[i];
    m_Dimension = std::max(m_Dimension, other.m_Dimension);
    return *this;
}

C4DPoint& C4DPoint::operator*=(const C4DPoint& other)
{
    for (int i = 0; i < 4; ++i)
        m_Val[i] *= other.m_Val[i];
    m_Dimension = std::max(m_Dimension, other.m_Dimension);
    return *this;
}

C4DPoint& C4DPoint::operator/=(const C4DPoint& other)
{
    for (int i = 0; i < 4; ++i)
        m_Val[i] /= other.m_Val[i];
    m_Dimension = std::max(m_Dimension, other.m_Dimension);
    return *this;
}

C4DPoint& C4DPoint::operator*=(double factor)
{
    for (double& v : m_Val)
        v *= factor;
    return *this;
}

C4DPoint& C4DPoint::operator/=(double divisor)
{
    for (double& v : m_Val)
        v /= divisor;
    return *this;
}

bool C4DPoint::operator==(const C4DPoint& other) const
{
    if (m_Dimension != other.m_Dimension)
        return false;
    for (int i = 0; i < GetUsedCount(); ++i)
        if (!(m_Val[i] == other.m_Val[i]))
            return false;
    return true;
}

unsigned CHashMethods<C4DPoint>::Hash(const C4DPoint& key) const
{
    uint32_t h = ZanMix32(uint32_t(key.GetDimension()));
    for (int i = 0; i < key.GetUsedCount(); ++i)
    {
        double v = key[i];
        if (v == 0)
            v = 0; // -0.0 equals 0.0, so it must hash alike
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        h = ZanMix32(h ^ uint32_t(ZanMix64(bits)));
    }
    return h;
}

// ================================================================ point types

CPt::~CPt() = default;

void CPt::Serialize(CXArchive& ar)
{
    ZanSerialize(ar, m_Flags);
}

template <class T> void C2DTPoint<T>::Serialize(CXArchive& ar)
{
    CPt::Serialize(ar);
    ZanSerialize(ar, m_X);
    ZanSerialize(ar, m_Y);
}

template <class T> void C3DTPoint<T>::Serialize(CXArchive& ar)
{
    CPt::Serialize(ar);
    ZanSerialize(ar, m_X);
    ZanSerialize(ar, m_Y);
    ZanSerialize(ar, m_Z);
}

template <class T> void C3DTVector<T>::Serialize(CXArchive& ar)
{
    CPt::Serialize(ar);
    ZanSerialize(ar, m_X);
    ZanSerialize(ar, m_Y);
    ZanSerialize(ar, m_Z);
}

template class C2DTPoint<float>;
template class C3DTPoint<float>;
template class C3DTPoint<double>;
template class C3DTPoint<int>;
template class C3DTVector<float>;
template class C3DTVector<double>;

// ---------------------------------------------------------------- CUVWPoint

void CUVWPoint::To4DPoint(C4DPoint& point) const
{
    point = C4DPoint(3, m_U, m_V, m_W);
}

CPt& CUVWPoint::operator=(const CPt& src)
{
    if (const auto* same = dynamic_cast<const CUVWPoint*>(&src))
        return *this = *same;
    C4DPoint value;
    src.To4DPoint(value);
    m_Flags = src.GetFlags();
    return *this = value;
}

CPt& CUVWPoint::operator=(const C4DPoint& src)
{
    m_U = float(src[0]);
    m_V = float(src[1]);
    m_W = float(src[2]);
    return *this;
}

void CUVWPoint::Serialize(CXArchive& ar)
{
    CPt::Serialize(ar);
    ZanSerialize(ar, m_U);
    ZanSerialize(ar, m_V);
    ZanSerialize(ar, m_W);
}

float& CUVWPoint::operator[](int index)
{
    switch (index)
    {
    case 0:
        return m_U;
    case 1:
        return m_V;
    case 2:
        return m_W;
    default:
        zan_detail::ThrowComponentIndex("CUVWPoint", index, 3);
    }
}

CUVWPoint& CUVWPoint::operator+=(const CUVWPoint& p)
{
    m_U += p.m_U;
    m_V += p.m_V;
    m_W += p.m_W;
    return *this;
}

CUVWPoint& CUVWPoint::operator-=(const CUVWPoint& p)
{
    m_U -= p.m_U;
    m_V -= p.m_V;
    m_W -= p.m_W;
    return *this;
}

CUVWPoint& CUVWPoint::operator*=(float factor)
{
    m_U *= factor;
    m_V *= factor;
    m_W *= factor;
    return *this;
}

void CUVWPoint::GetUVCoordinate(float& a, float& b) const
{
    // A planar mapping leaves one component at zero; the other two are the coordinate.
    if (m_W == 0)
    {
        a = m_U;
        b = m_V;
    }
    else if (m_V == 0)
    {
        a = m_U;
        b = m_W;
    }
    else if (m_U == 0)
    {
        a = m_V;
        b = m_W;
    }
    else
    {
        a = m_U;
        b = m_V;
    }
}

// ---------------------------------------------------------------- CVCPoint

void CVCPoint::To4DPoint(C4DPoint& point) const
{
    point = C4DPoint(4, m_Color.m_Red, m_Color.m_Green, m_Color.m_Blue, m_Color.m_Alpha);
}

CPt& CVCPoint::operator=(const CPt& src)
{
    if (const auto* same = dynamic_cast<const CVCPoint*>(&src))
        return *this = *same;
    C4DPoint value;
    src.To4DPoint(value);
    m_Flags = src.GetFlags();
    return *this = value;
}

CPt& CVCPoint::operator=(const C4DPoint& src)
{
    using zan_detail::ComponentFromDouble;
    m_Color = CRGBColor(ComponentFromDouble<uint8_t>(src[0]), ComponentFromDouble<uint8_t>(src[1]),
                        ComponentFromDouble<uint8_t>(src[2]), ComponentFromDouble<uint8_t>(src[3]));
    return *this;
}

void CVCPoint::Serialize(CXArchive& ar)
{
    CPt::Serialize(ar);
    m_Color.Serialize(ar);
}

// ---------------------------------------------------------------- CWeightPoint

void CWeightPoint::To4DPoint(C4DPoint& point) const
{
    point = C4DPoint(1, double(m_Weight));
}

CPt& CWeightPoint::operator=(const CPt& src)
{
    if (const auto* same = dynamic_cast<const CWeightPoint*>(&src))
        return *this = *same;
    C4DPoint value;
    src.To4DPoint(value);
    m_Flags = src.GetFlags();
    return *this = value;
}

CPt& CWeightPoint::operator=(const C4DPoint& src)
{
    m_Weight = float(src[0]);
    return *this;
}

void CWeightPoint::Serialize(CXArchive& ar)
{
    CPt::Serialize(ar);
    ZanSerialize(ar, m_Weight);
}

// ---------------------------------------------------------------- C2DPointExt

CPt& C2DPointExt::operator=(const CPt& src)
{
    if (const auto* same = dynamic_cast<const C2DPointExt*>(&src))
        return *this = *same;
    return C2DTPoint<float>::operator=(src);
}

void C2DPointExt::Serialize(CXArchive& ar)
{
    C2DTPoint<float>::Serialize(ar);
    ZanSerialize(ar, m_Index);
    ZanSerialize(ar, m_Prev);
    ZanSerialize(ar, m_Next);
    ZanSerialize(ar, m_Angle);
    ZanSerialize(ar, m_Depth);
}

// ================================================================ element methods

namespace
{
constexpr uint32_t kPointFamily = ZanTag("PNTS");

void Put32(uint8_t* out, uint32_t v)
{
    std::memcpy(out, &v, 4);
}
void PutFloat(uint8_t* out, float v)
{
    std::memcpy(out, &v, 4);
}
uint32_t Get32(const uint8_t* in)
{
    uint32_t v;
    std::memcpy(&v, in, 4);
    return v;
}
float GetFloat(const uint8_t* in)
{
    float v;
    std::memcpy(&v, in, 4);
    return v;
}

// The archived record of each point type: what its Serialize writes, in the same order.
// kSlot is the element size of its methods, kBytes the size of the record.
struct C2DPointCodec
{
    using Point = C2DTPoint<float>;
    static constexpr unsigned kSlot = 24, kBytes = 12;
    static void Put(const Point& p, uint8_t* out)
    {
        Put32(out, p.GetFlags());
        PutFloat(out + 4, p.m_X);
        PutFloat(out + 8, p.m_Y);
    }
    static void Get(Point& p, const uint8_t* in)
    {
        p.SetFlags(Get32(in));
        p.m_X = GetFloat(in + 4);
        p.m_Y = GetFloat(in + 8);
    }
};

struct C2DPointExtCodec
{
    using Point = C2DPointExt;
    static constexpr unsigned kSlot = 64, kBytes = 32;
    static void Put(const Point& p, uint8_t* out)
    {
        C2DPointCodec::Put(p, out);
        Put32(out + 12, p.m_Index);
        Put32(out + 16, p.m_Prev);
        Put32(out + 20, p.m_Next);
        PutFloat(out + 24, p.m_Angle);
        PutFloat(out + 28, p.m_Depth);
    }
    static void Get(Point& p, const uint8_t* in)
    {
        C2DPointCodec::Get(p, in);
        p.m_Index = Get32(in + 12);
        p.m_Prev = Get32(in + 16);
        p.m_Next = Get32(in + 20);
        p.m_Angle = GetFloat(in + 24);
        p.m_Depth = GetFloat(in + 28);
    }
};

// Flags and three floats named m_X, m_Y, m_Z: 3D points and vectors.
template <class POINT> struct CXYZCodec
{
    using Point = POINT;
    static constexpr unsigned kSlot = 32, kBytes = 16;
    static void Put(const Point& p, uint8_t* out)
    {
        Put32(out, p.GetFlags());
        PutFloat(out + 4, p.m_X);
        PutFloat(out + 8, p.m_Y);
        PutFloat(out + 12, p.m_Z);
    }
    static void Get(Point& p, const uint8_t* in)
    {
        p.SetFlags(Get32(in));
        p.m_X = GetFloat(in + 4);
        p.m_Y = GetFloat(in + 8);
        p.m_Z = GetFloat(in + 12);
    }
};
using C3DPointCodec = CXYZCodec<C3DTPoint<float>>;
using C3DVectorCodec = CXYZCodec<C3DTVector<float>>;

struct CUVWPointCodec
{
    using Point = CUVWPoint;
    static constexpr unsigned kSlot = 32, kBytes = 16;
    static void Put(const Point& p, uint8_t* out)
    {
        Put32(out, p.GetFlags());
        PutFloat(out + 4, p.m_U);
        PutFloat(out + 8, p.m_V);
        PutFloat(out + 12, p.m_W);
    }
    static void Get(Point& p, const uint8_t* in)
    {
        p.SetFlags(Get32(in));
        p.m_U = GetFloat(in + 4);
        p.m_V = GetFloat(in + 8);
        p.m_W = GetFloat(in + 12);
    }
};

struct CVCPointCodec
{
    using Point = CVCPoint;
    static constexpr unsigned kSlot = 24, kBytes = 8;
    static void Put(const Point& p, uint8_t* out)
    {
        Put32(out, p.GetFlags());
        out[4] = p.m_Color.m_Red;
        out[5] = p.m_Color.m_Green;
        out[6] = p.m_Color.m_Blue;
        out[7] = p.m_Color.m_Alpha;
    }
    static void Get(Point& p, const uint8_t* in)
    {
        p.SetFlags(Get32(in));
        p.m_Color = CRGBColor(in[4], in[5], in[6], in[7]);
    }
};

struct CWeightPointCodec
{
    using Point = CWeightPoint;
    static constexpr unsigned kSlot = 24, kBytes = 8;
    static void Put(const Point& p, uint8_t* out)
    {
        Put32(out, p.GetFlags());
        PutFloat(out + 4, p.m_Weight);
    }
    static void Get(Point& p, const uint8_t* in)
    {
        p.SetFlags(Get32(in));
        p.m_Weight = GetFloat(in + 4);
    }
};

// Bulk operations over points of one type laid out at the codec's slot stride.
template <class CODEC> struct CPointSlots
{
    using Point = typename CODEC::Point;
    static_assert(sizeof(Point) <= CODEC::kSlot, "a point must fit its element slot");
    static_assert(CODEC::kSlot % alignof(Point) == 0, "slots must keep points aligned");

    static Point* At(void* first, size_t i)
    {
        return reinterpret_cast<Point*>(static_cast<uint8_t*>(first) + i * CODEC::kSlot);
    }
    static const Point* At(const void* first, size_t i)
    {
        return reinterpret_cast<const Point*>(static_cast<const uint8_t*>(first) +
                                              i * CODEC::kSlot);
    }

    static void Construct(void* first, size_t count)
    {
        if (!first)
            return;
        uint8_t* bytes = static_cast<uint8_t*>(first);
        for (size_t i = 0; i < count; ++i)
            new (bytes + i * CODEC::kSlot) Point;
    }
    // Points own nothing, so their lifetime ends when their slots are reused or released:
    // walking millions of them only to run empty destructors would cost a pass over memory
    // each time a point list is dropped.
    static void Destruct(void*, size_t) {}
    static void Copy(void* dst, const void* src, size_t count)
    {
        if (!dst || !src || dst == src)
            return;
        for (size_t i = 0; i < count; ++i)
            *At(dst, i) = *At(src, i);
    }
    static void Serialize(CXArchive& ar, void* first, size_t count)
    {
        if (!first || count == 0)
            return;
        // 16 KiB of records at a time: few archive calls, and the buffer stays in cache.
        constexpr size_t kBatch = 16384 / CODEC::kBytes;
        uint8_t staging[kBatch * CODEC::kBytes];
        for (size_t done = 0; done < count;)
        {
            size_t n = std::min(kBatch, count - done);
            if (ar.IsStoring())
            {
                for (size_t i = 0; i < n; ++i)
                    CODEC::Put(*At(first, done + i), staging + i * CODEC::kBytes);
                ar.Write(staging, n * CODEC::kBytes);
            }
            else
            {
                ar.Read(staging, n * CODEC::kBytes);
                for (size_t i = 0; i < n; ++i)
                    CODEC::Get(*At(first, done + i), staging + i * CODEC::kBytes);
            }
            done += n;
        }
    }
};
} // namespace

// ---------------------------------------------------------------- CPointMethods

ZAN_IMPLEMENT_RUNTIME_CLASS(CPointMethods, CElementMethods)

CPointMethods::~CPointMethods() = default;

bool CPointMethods::IsObject() const
{
    return true;
}

uint32_t CPointMethods::GetBaseType() const
{
    return kPointFamily;
}

void CPointMethods::DestructElement(void* element) const
{
    if (element)
        static_cast<CPt*>(element)->~CPt();
}

void CPointMethods::CopyElement(void* dst, const void* src) const
{
    if (dst && src && dst != src)
        *static_cast<CPt*>(dst) = *static_cast<const CPt*>(src);
}

void CPointMethods::CopyElement(void* dst, const CElementMethods* dstMethods, const void* src,
                                const CElementMethods* srcMethods) const
{
    if (!dst)
        return;
    const CElementMethods& target = dstMethods ? *dstMethods : *this;
    bool bothPoints = src && srcMethods && srcMethods->IsObject() &&
                      srcMethods->GetBaseType() == kPointFamily && target.IsObject() &&
                      target.GetBaseType() == kPointFamily;
    if (!bothPoints)
    {
        CElementMethods::CopyElement(dst, dstMethods, src, srcMethods);
        return;
    }
    if (srcMethods->GetType() == target.GetType() && srcMethods->GetSizeof() == target.GetSizeof())
        target.CopyElement(dst, src);
    else if (dst != src)
        *static_cast<CPt*>(dst) = *static_cast<const CPt*>(src); // converts, keeps the flags
}

void CPointMethods::SerializeElement(CXArchive& ar, void* element) const
{
    if (element)
        static_cast<CPt*>(element)->Serialize(ar);
}

// ---------------------------------------------------------------- concrete methods

#define ZAN_IMPLEMENT_POINT_METHODS(ClassName, Base, Codec, Tag)                                   \
    ZAN_IMPLEMENT_DYNCREATE(ClassName, Base)                                                       \
    unsigned ClassName::GetSizeof() const                                                          \
    {                                                                                              \
        return Codec::kSlot;                                                                       \
    }                                                                                              \
    uint32_t ClassName::GetType() const                                                            \
    {                                                                                              \
        return ZanTag(Tag);                                                                        \
    }                                                                                              \
    void ClassName::ConstructElement(void* element) const                                          \
    {                                                                                              \
        CPointSlots<Codec>::Construct(element, 1);                                                 \
    }                                                                                              \
    void ClassName::ConstructElements(void* first, size_t count) const                             \
    {                                                                                              \
        CPointSlots<Codec>::Construct(first, count);                                               \
    }                                                                                              \
    void ClassName::DestructElements(void* first, size_t count) const                              \
    {                                                                                              \
        CPointSlots<Codec>::Destruct(first, count);                                                \
    }                                                                                              \
    void ClassName::CopyElements(void* dst, const void* src, size_t count) const                   \
    {                                                                                              \
        CPointSlots<Codec>::Copy(dst, src, count);                                                 \
    }                                                                                              \
    void ClassName::SerializeElements(CXArchive& ar, void* first, size_t count) const              \
    {                                                                                              \
        CPointSlots<Codec>::Serialize(ar, first, count);                                           \
    }                                                                                              \
    unsigned ClassName::GetArchiveSizeof() const                                                   \
    {                                                                                              \
        return Codec::kBytes;                                                                      \
    }

ZAN_IMPLEMENT_POINT_METHODS(C2DPointMethods, CPointMethods, C2DPointCodec, "2DPT")
ZAN_IMPLEMENT_POINT_METHODS(C2DPointExtMethods, C2DPointMethods, C2DPointExtCodec, "2DEX")
ZAN_IMPLEMENT_POINT_METHODS(C3DPointMethods, CPointMethods, C3DPointCodec, "3DPT")
ZAN_IMPLEMENT_POINT_METHODS(C3DVectorMethods, CPointMethods, C3DVectorCodec, "3DVE")
ZAN_IMPLEMENT_POINT_METHODS(CUVWPointMethods, CPointMethods, CUVWPointCodec, "UVWP")
ZAN_IMPLEMENT_POINT_METHODS(CVCPointMethods, CPointMethods, CVCPointCodec, "VCPT")
ZAN_IMPLEMENT_POINT_METHODS(CWeightPointMethods, CPointMethods, CWeightPointCodec, "WGPT")
