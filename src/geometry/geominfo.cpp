// The context of a geometry algorithm. Ownership is one bit per slot; a list named in both
// the source and the destination slot of its kind is released once, and a list that a setter
// replaces is released only when no slot names it any more.
//
// Init and GetGeomObject read the geometric object, a class of the scene layer above this
// one; they are defined with it (src/scene/geominfo_object.cpp) and meet the rest of the
// context in the one shared library.
#include <3dzan/geometry/geominfo.h>

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>

namespace
{
template <class T> void Release(T*& item)
{
    if (item)
        item->Delete();
    item = nullptr;
}
} // namespace

CGeomInfo::CGeomInfo(C3DBaseObject* object)
{
    Init(nullptr, object);
}

CGeomInfo::CGeomInfo(C3DSceneNode* node, C3DBaseObject* object)
{
    Init(node, object);
}

CGeomInfo::~CGeomInfo()
{
    Init(nullptr, nullptr);
}

template <class T>
void CGeomInfo::ReleasePair(T* src, T* dst, unsigned srcBit, unsigned dstBit, T* keepA, T* keepB)
{
    if (!(m_Own & srcBit))
        src = nullptr;
    if (!(m_Own & dstBit) || dst == src)
        dst = nullptr;
    if (src && src != keepA && src != keepB)
        Release(src);
    if (dst && dst != keepA && dst != keepB)
        Release(dst);
}

template <class T>
void CGeomInfo::SetPair(T*& srcSlot, T*& dstSlot, unsigned srcBit, unsigned dstBit, T* src, T* dst,
                        unsigned own)
{
    ReleasePair(srcSlot, dstSlot, srcBit, dstBit, src, dst);
    srcSlot = src;
    dstSlot = dst;
    m_Own &= ~(srcBit | dstBit);
    m_Own |= (own & 1 ? srcBit : 0u) | (own & 2 ? dstBit : 0u);
}

void CGeomInfo::ReleaseAll()
{
    ReleasePair(m_SrcPoints, m_DstPoints, _GeomOwnSrcPoints, _GeomOwnDstPoints);
    ReleasePair(m_SrcFaces, m_DstFaces, _GeomOwnSrcFaces, _GeomOwnDstFaces);
    ReleasePair(m_SrcChannels, m_DstChannels, _GeomOwnSrcChannels, _GeomOwnDstChannels);
}

template <class T> T* CGeomInfo::Take(T*& slot, unsigned ownBit, bool detach)
{
    T* item = slot;
    if (detach && item)
    {
        slot = nullptr;
        m_Own &= ~ownBit;
    }
    return item;
}

CPointList* CGeomInfo::GetSrcPointList(bool detach)
{
    return Take(m_SrcPoints, _GeomOwnSrcPoints, detach);
}

CFaceList* CGeomInfo::GetSrcFaceList(bool detach)
{
    return Take(m_SrcFaces, _GeomOwnSrcFaces, detach);
}

CDependentChannels* CGeomInfo::GetSrcChannels(bool detach)
{
    return Take(m_SrcChannels, _GeomOwnSrcChannels, detach);
}

CPointList* CGeomInfo::GetDstPointList(bool detach)
{
    return Take(m_DstPoints, _GeomOwnDstPoints, detach);
}

CFaceList* CGeomInfo::GetDstFaceList(bool detach)
{
    return Take(m_DstFaces, _GeomOwnDstFaces, detach);
}

CDependentChannels* CGeomInfo::GetDstChannels(bool detach)
{
    return Take(m_DstChannels, _GeomOwnDstChannels, detach);
}

// A typed getter detaches only what it returns: a list of another class stays in place.
#define ZAN_TYPED_GETTER(Name, Type, Slot, Bit)                                                    \
    Type* CGeomInfo::Name(bool detach)                                                             \
    {                                                                                              \
        Type* typed = dynamic_cast<Type*>(Slot);                                                   \
        if (typed)                                                                                 \
            Take(Slot, Bit, detach);                                                               \
        return typed;                                                                              \
    }

ZAN_TYPED_GETTER(GetDst3DPointList, C3DPointList, m_DstPoints, _GeomOwnDstPoints)
ZAN_TYPED_GETTER(GetDst3DFaceList, C3DFaceList, m_DstFaces, _GeomOwnDstFaces)
ZAN_TYPED_GETTER(GetSrc3DPointList, C3DPointList, m_SrcPoints, _GeomOwnSrcPoints)
ZAN_TYPED_GETTER(GetSrc3DFaceList, C3DFaceList, m_SrcFaces, _GeomOwnSrcFaces)
ZAN_TYPED_GETTER(GetSrcUVWPointList, CUVWPointList, m_SrcPoints, _GeomOwnSrcPoints)
ZAN_TYPED_GETTER(GetSrcUVWFaceList, CUVWFaceList, m_SrcFaces, _GeomOwnSrcFaces)
ZAN_TYPED_GETTER(GetSrcVCPointList, CVCPointList, m_SrcPoints, _GeomOwnSrcPoints)
ZAN_TYPED_GETTER(GetSrcVCFaceList, CVCFaceList, m_SrcFaces, _GeomOwnSrcFaces)
ZAN_TYPED_GETTER(GetSrcWeightPointList, CWeightPointList, m_SrcPoints, _GeomOwnSrcPoints)
ZAN_TYPED_GETTER(GetSrcWeightFaceList, CWeightFaceList, m_SrcFaces, _GeomOwnSrcFaces)
ZAN_TYPED_GETTER(GetSrcNormalPointList, C3DVectorList, m_SrcPoints, _GeomOwnSrcPoints)
ZAN_TYPED_GETTER(GetSrcNormalFaceList, CNormalFaceList, m_SrcFaces, _GeomOwnSrcFaces)

#undef ZAN_TYPED_GETTER

void CGeomInfo::SetPointList(CPointList* src, CPointList* dst, unsigned own)
{
    SetPair(m_SrcPoints, m_DstPoints, _GeomOwnSrcPoints, _GeomOwnDstPoints, src, dst, own);
}

void CGeomInfo::SetFaceList(CFaceList* src, CFaceList* dst, unsigned own)
{
    SetPair(m_SrcFaces, m_DstFaces, _GeomOwnSrcFaces, _GeomOwnDstFaces, src, dst, own);
}

void CGeomInfo::SetChannels(CDependentChannels* src, CDependentChannels* dst, unsigned own)
{
    SetPair(m_SrcChannels, m_DstChannels, _GeomOwnSrcChannels, _GeomOwnDstChannels, src, dst,
            own);
}

int CGeomInfo::GetChannelSize() const
{
    return m_SrcChannels ? m_SrcChannels->GetSize() : 0;
}

bool CGeomInfo::GetChannelPointList(int index, CPointList*& src, CPointList*& dst) const
{
    CChannel* from = m_SrcChannels ? m_SrcChannels->GetAt(index) : nullptr;
    CChannel* to = m_DstChannels ? m_DstChannels->GetAt(index) : nullptr;
    src = from ? from->GetPointList() : nullptr;
    dst = to ? to->GetPointList() : nullptr;
    return from != nullptr;
}

bool CGeomInfo::GetChannelFaceList(int index, CFaceList*& src, CFaceList*& dst) const
{
    CChannel* from = m_SrcChannels ? m_SrcChannels->GetAt(index) : nullptr;
    CChannel* to = m_DstChannels ? m_DstChannels->GetAt(index) : nullptr;
    src = from ? from->GetFaceList() : nullptr;
    dst = to ? to->GetFaceList() : nullptr;
    return from != nullptr;
}
