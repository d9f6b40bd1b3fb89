/// \file geominfo.h
/// \brief CGeomInfo, the context of a geometry algorithm: the source and destination point
///        and face lists it works on, with the lists it owns.
#pragma once

#include <3dzan/foundation/zandefs.h>

class C3DBaseObject;
class CPointList;
class CFaceList;

/// \brief The lists an algorithm reads (source) and writes (destination).
///
/// Owned lists are released with Delete when the context goes. A getter with \p detach true
/// hands the list over: the context forgets it (and no longer owns it).
class ZAN_API CGeomInfo
{
public:
    explicit CGeomInfo(C3DBaseObject* object = nullptr);
    virtual ~CGeomInfo();
    CGeomInfo(const CGeomInfo&) = delete;
    CGeomInfo& operator=(const CGeomInfo&) = delete;

    /// \brief Sets both point lists; bit 1 of \p own makes the context own \p src, bit 2 \p dst.
    void SetPointList(CPointList* src, CPointList* dst, unsigned own);
    /// \brief Sets both face lists; bit 1 of \p own makes the context own \p src, bit 2 \p dst.
    void SetFaceList(CFaceList* src, CFaceList* dst, unsigned own);

    /// \brief The source point list; with \p detach the context forgets it.
    CPointList* GetSrcPointList(bool detach = false);
    CPointList* GetSrcPointList() const { return m_SrcPoints; }
    /// \brief The source face list; with \p detach the context forgets it.
    CFaceList* GetSrcFaceList(bool detach = false);
    CFaceList* GetSrcFaceList() const { return m_SrcFaces; }

private:
    static constexpr unsigned kOwnSrcPoints = 0x01;
    static constexpr unsigned kOwnDstPoints = 0x02;
    static constexpr unsigned kOwnSrcFaces = 0x04;
    static constexpr unsigned kOwnDstFaces = 0x08;

    unsigned m_Own = 0;
    C3DBaseObject* m_Object = nullptr;
    CPointList* m_SrcPoints = nullptr;
    CPointList* m_DstPoints = nullptr;
    CFaceList* m_SrcFaces = nullptr;
    CFaceList* m_DstFaces = nullptr;
};
