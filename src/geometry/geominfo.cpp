// The algorithm context: which lists an operation reads and writes, and which it owns.
#include <3dzan/geometry/geominfo.h>

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>

namespace
{
template <class LIST> void Release(LIST*& list, unsigned& own, unsigned flag)
{
    if (list && (own & flag))
        list->Delete();
    list = nullptr;
    own &= ~flag;
}
} // namespace

CGeomInfo::CGeomInfo(C3DBaseObject* object) : m_Object(object) {}

CGeomInfo::~CGeomInfo()
{
    Release(m_SrcPoints, m_Own, kOwnSrcPoints);
    Release(m_DstPoints, m_Own, kOwnDstPoints);
    Release(m_SrcFaces, m_Own, kOwnSrcFaces);
    Release(m_DstFaces, m_Own, kOwnDstFaces);
}

void CGeomInfo::SetPointList(CPointList* src, CPointList* dst, unsigned own)
{
    if (src != m_SrcPoints)
        Release(m_SrcPoints, m_Own, kOwnSrcPoints);
    if (dst != m_DstPoints)
        Release(m_DstPoints, m_Own, kOwnDstPoints);
    m_SrcPoints = src;
    m_DstPoints = dst;
    m_Own = (m_Own & ~(kOwnSrcPoints | kOwnDstPoints)) | (src && (own & 1) ? kOwnSrcPoints : 0) |
            (dst && (own & 2) ? kOwnDstPoints : 0);
}

void CGeomInfo::SetFaceList(CFaceList* src, CFaceList* dst, unsigned own)
{
    if (src != m_SrcFaces)
        Release(m_SrcFaces, m_Own, kOwnSrcFaces);
    if (dst != m_DstFaces)
        Release(m_DstFaces, m_Own, kOwnDstFaces);
    m_SrcFaces = src;
    m_DstFaces = dst;
    m_Own = (m_Own & ~(kOwnSrcFaces | kOwnDstFaces)) | (src && (own & 1) ? kOwnSrcFaces : 0) |
            (dst && (own & 2) ? kOwnDstFaces : 0);
}

CPointList* CGeomInfo::GetSrcPointList(bool detach)
{
    CPointList* list = m_SrcPoints;
    if (detach)
    {
        m_SrcPoints = nullptr;
        m_Own &= ~unsigned(kOwnSrcPoints);
    }
    return list;
}

CFaceList* CGeomInfo::GetSrcFaceList(bool detach)
{
    CFaceList* list = m_SrcFaces;
    if (detach)
    {
        m_SrcFaces = nullptr;
        m_Own &= ~unsigned(kOwnSrcFaces);
    }
    return list;
}
