// The data side of the normal channels: their lists, copies, comparisons and the edits that
// follow the geometry (transforms, axis swaps, cleaning). The computations that read the
// geometry (face normals, smoothing, generation) are with the mesh algorithms, in
// src/processing/normals.cpp.
#include <3dzan/geometry/normals.h>

#include <3dzan/geometry/geominfo.h>

#include <cmath>

namespace
{
constexpr unsigned kStale = _ChannelModified;

template <class T> T* Typed(CPointList* list)
{
    return dynamic_cast<T*>(list);
}

// Recomputed channels only need to know that the geometry moved.
bool MarkStale(CChannel& channel)
{
    channel.SetFlag(_ChannelModified, true);
    return true;
}
} // namespace

// ================================================================ CFaceNormalChannel

ZAN_IMPLEMENT_DYNCREATE(CFaceNormalChannel, CChannel)

CFaceNormalChannel::CFaceNormalChannel(unsigned id) : CChannel(_ChannelFaceNormal, id)
{
    AdoptLists(new C3DVectorList, nullptr);
    SetFlag(_ChannelTracked, true);
    SetFlag(_CHANNEL_PROPERTIES(kStale), true);
}

CFaceNormalChannel::~CFaceNormalChannel() = default;

C3DVectorList* CFaceNormalChannel::GetNormalVectorList() const
{
    return Typed<C3DVectorList>(GetPointList());
}

CChannel* CFaceNormalChannel::Duplicate(bool keepID) const
{
    return new CFaceNormalChannel(keepID ? GetChannelID() : kZanNone);
}

const CXRuntimeClass* CFaceNormalChannel::GetPointListClass() const
{
    return ZAN_RUNTIME_CLASS(C3DVectorList);
}

const CXRuntimeClass* CFaceNormalChannel::GetFaceListClass() const
{
    return nullptr;
}

CPointList* CFaceNormalChannel::NewPointList() const
{
    return new C3DVectorList;
}

bool CFaceNormalChannel::MatrixTransform(const C4x4TMatrix<float>&)
{
    return MarkStale(*this);
}

bool CFaceNormalChannel::SwapCoordinates(unsigned)
{
    return MarkStale(*this);
}

bool CFaceNormalChannel::CanBeRecomputed() const
{
    return true;
}

bool CFaceNormalChannel::Clean(const CGeomInfo*, CXArray<unsigned int, unsigned int>* faceRemap,
                               CXArray<unsigned int, unsigned int>*)
{
    // One entry per face: the base's per-point cleaning does not apply.
    C3DVectorList* list = GetNormalVectorList();
    if (!list)
        return false;
    bool changed = false;
    if (faceRemap && faceRemap->GetSize() == list->GetSize())
    {
        CPointView<C3DTVector<float>> normals = list->GetPointView();
        int kept = 0;
        for (int f = 0; f < faceRemap->GetSize(); ++f)
        {
            if (faceRemap->GetAt(f) == kZanNone)
                continue;
            if (kept != f)
                normals[size_t(kept)] = normals[size_t(f)];
            ++kept;
        }
        if (kept != list->GetSize())
        {
            list->SetSize(kept);
            changed = true;
        }
    }
    SetFlag(_ChannelModified, true);
    return changed;
}

// ================================================================ CPointNormalChannel

ZAN_IMPLEMENT_DYNCREATE(CPointNormalChannel, CChannel)

CPointNormalChannel::CPointNormalChannel(unsigned id) : CChannel(_ChannelPointNormal, id)
{
    AdoptLists(new C3DVectorList, new CNormalFaceList);
    SetFlag(_ChannelTracked, true);
    SetFlag(_CHANNEL_PROPERTIES(kStale), true);
    SetFlag(_ChannelNoFaceEdit, true);
}

CPointNormalChannel::~CPointNormalChannel() = default;

C3DVectorList* CPointNormalChannel::GetNormalVectorList() const
{
    return Typed<C3DVectorList>(GetPointList());
}

CNormalFaceList* CPointNormalChannel::GetNormalFaceList() const
{
    return dynamic_cast<CNormalFaceList*>(GetFaceList());
}

CChannel* CPointNormalChannel::Duplicate(bool keepID) const
{
    auto* copy = new CPointNormalChannel(keepID ? GetChannelID() : kZanNone);
    copy->m_SmoothAngle = m_SmoothAngle;
    return copy;
}

const CXRuntimeClass* CPointNormalChannel::GetPointListClass() const
{
    return ZAN_RUNTIME_CLASS(C3DVectorList);
}

const CXRuntimeClass* CPointNormalChannel::GetFaceListClass() const
{
    return ZAN_RUNTIME_CLASS(CNormalFaceList);
}

CPointList* CPointNormalChannel::NewPointList() const
{
    return new C3DVectorList;
}

bool CPointNormalChannel::MatrixTransform(const C4x4TMatrix<float>&)
{
    return MarkStale(*this);
}

bool CPointNormalChannel::SwapCoordinates(unsigned)
{
    return MarkStale(*this);
}

bool CPointNormalChannel::CanBeRecomputed() const
{
    return true;
}

const C3DTVector<float>* CPointNormalChannel::GetSmoothNormalByCorner(int face, int corner,
                                                                      unsigned* source) const
{
    if (source)
        *source = 0;
    if (face < 0 || corner < 0)
        return nullptr;
    if (m_SpecFaces && m_SpecVectors && face < m_SpecFaces->GetSize() &&
        !m_SpecFaces->IsFaceOneFlagSet(unsigned(face), _FaceInvalid | _FaceExcluded))
    {
        int count;
        const int* items = m_SpecFaces->GetIndexes(unsigned(face), count);
        if (items && corner < count && items[corner] >= 0 &&
            items[corner] < m_SpecVectors->GetSize())
        {
            const C3DTVector<float>& v = (*m_SpecVectors)[items[corner]];
            if (!v.IsOneFlagSet(_NormalUndefined))
            {
                if (source)
                    *source = v.IsOneFlagSet(_NormalComputed) ? 5 : 2;
                return &v;
            }
        }
    }
    const CNormalFaceList* faces = GetNormalFaceList();
    const C3DVectorList* vectors = GetNormalVectorList();
    if (!faces || !vectors || face >= faces->GetSize())
        return nullptr;
    int count;
    const int* items = faces->GetIndexes(unsigned(face), count);
    if (!items || corner >= count || items[corner] < 0 || items[corner] >= vectors->GetSize())
        return nullptr;
    if (source)
        *source = 9;
    return &(*vectors)[items[corner]];
}

const C3DTVector<float>* CPointNormalChannel::GetSmoothNormalByIndex(int face, int point,
                                                                     unsigned* source) const
{
    if (source)
        *source = 0;
    if (!m_Faces || face < 0 || face >= m_Faces->GetSize())
        return nullptr;
    int count;
    const int* items = m_Faces->GetIndexes(unsigned(face), count);
    for (int k = 0; k < count; ++k)
        if (items[k] == point)
            return GetSmoothNormalByCorner(face, k, source);
    return nullptr;
}

// ================================================================ CSpecNormalChannel

ZAN_IMPLEMENT_DYNCREATE(CSpecNormalChannel, CChannel)

CSpecNormalChannel::CSpecNormalChannel(unsigned id) : CChannel(_ChannelSpecNormal, id)
{
    AdoptLists(new C3DVectorList, new CNormalFaceList);
    SetFlag(_ChannelTracked, true);
    SetFlag(_CHANNEL_PROPERTIES(kStale), true);
    SetFlag(_CHANNEL_PROPERTIES(0x10), true);
}

CSpecNormalChannel::~CSpecNormalChannel() = default;

C3DVectorList* CSpecNormalChannel::GetNormalVectorList() const
{
    return Typed<C3DVectorList>(GetPointList());
}

CNormalFaceList* CSpecNormalChannel::GetNormalFaceList() const
{
    return dynamic_cast<CNormalFaceList*>(GetFaceList());
}

CChannel* CSpecNormalChannel::Duplicate(bool keepID) const
{
    return new CSpecNormalChannel(keepID ? GetChannelID() : kZanNone);
}

const CXRuntimeClass* CSpecNormalChannel::GetPointListClass() const
{
    return ZAN_RUNTIME_CLASS(C3DVectorList);
}

const CXRuntimeClass* CSpecNormalChannel::GetFaceListClass() const
{
    return ZAN_RUNTIME_CLASS(CNormalFaceList);
}

CPointList* CSpecNormalChannel::NewPointList() const
{
    return new C3DVectorList;
}

bool CSpecNormalChannel::Normalize()
{
    C3DVectorList* list = GetNormalVectorList();
    if (!list)
        return false;
    bool changed = false;
    CPointView<C3DTVector<float>> normals = list->GetPointView();
    for (size_t i = 0; i < normals.GetCount(); ++i)
    {
        C3DTVector<float>& v = normals[i];
        if (v.IsOneFlagSet(_NormalUndefined))
            continue;
        const float x = v.m_X, y = v.m_Y, z = v.m_Z;
        const double length = v.GetLength();
        if (length > 1e-15 && std::isfinite(length))
            v.Set(float(x / length), float(y / length), float(z / length));
        changed = changed || v.m_X != x || v.m_Y != y || v.m_Z != z;
    }
    if (changed)
        MarkModified();
    return changed;
}

bool CSpecNormalChannel::Compare(const CPt* a, const CPt* b, double tolerance) const
{
    auto* p = dynamic_cast<const C3DTVector<float>*>(a);
    auto* q = dynamic_cast<const C3DTVector<float>*>(b);
    if (!p || !q)
        return false;
    if (tolerance == 0)
        return p->m_X == q->m_X && p->m_Y == q->m_Y && p->m_Z == q->m_Z;
    if (p == q || (*p == *q && p->GetFlags() == q->GetFlags()))
        return true;
    const bool undefinedP = p->IsOneFlagSet(_NormalUndefined);
    const bool undefinedQ = q->IsOneFlagSet(_NormalUndefined);
    if (undefinedP != undefinedQ)
        return false;
    if (undefinedP)
        return true;
    return p->Dot(*q) >= std::cos(tolerance * M_PI);
}

bool CSpecNormalChannel::MatrixTransform(const C4x4TMatrix<float>& matrix)
{
    // Normals follow the inverse transpose of the linear part; the cofactor matrix is that
    // times the determinant, so its sign is put back to keep the normals' side.
    double m[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m[r][c] = matrix[r][c];
    double cof[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
        {
            const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
            cof[r][c] = m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1];
        }
    const double det = m[0][0] * cof[0][0] + m[0][1] * cof[0][1] + m[0][2] * cof[0][2];
    C3DVectorList* list = GetNormalVectorList();
    if (!list || !(std::fabs(det) > 1e-30) || !std::isfinite(det))
        return false;
    const double sign = det < 0 ? -1.0 : 1.0;
    CPointView<C3DTVector<float>> normals = list->GetPointView();
    for (size_t i = 0; i < normals.GetCount(); ++i)
    {
        C3DTVector<float>& v = normals[i];
        if (v.IsOneFlagSet(_NormalUndefined))
            continue;
        double out[3];
        for (int r = 0; r < 3; ++r)
            out[r] = sign * (cof[r][0] * v.m_X + cof[r][1] * v.m_Y + cof[r][2] * v.m_Z);
        const double length = std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
        if (length > 1e-15)
            v.Set(float(out[0] / length), float(out[1] / length), float(out[2] / length));
    }
    MarkModified();
    return true;
}

bool CSpecNormalChannel::SwapCoordinates(unsigned swapCode)
{
    int axisA = -1, axisB = -1, mirror = -1;
    C3DVectorList* list = GetNormalVectorList();
    if (!list || !GetXYZSwap(swapCode, axisA, axisB, mirror))
        return false;
    CPointView<C3DTVector<float>> normals = list->GetPointView();
    for (size_t i = 0; i < normals.GetCount(); ++i)
    {
        C3DTVector<float>& v = normals[i];
        if (axisA >= 0)
            std::swap(v[axisA], v[axisB]);
        if (mirror >= 0)
            v[mirror] = -v[mirror];
    }
    MarkModified();
    return true;
}
