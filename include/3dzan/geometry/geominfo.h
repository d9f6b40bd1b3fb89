/// \file geominfo.h
/// \brief CGeomInfo, the context of a geometry algorithm: which point list, face list and
///        channels it reads (source) and which it writes (destination).
///
/// A context lives for one operation. It releases on destruction only the lists it was told
/// to own (the ownership flags). Algorithms that rebuild faces work into the destination lists
/// and swap the result into the object only on success.
#pragma once

#include <3dzan/foundation/zandefs.h>

class C3DScene;
class C3DSceneNode;
class C3DBaseObject;
class C3DGeomObject;
class CPointList;
class CFaceList;
class CDependentChannels;
class C3DPointList;
class C3DFaceList;
class CUVWPointList;
class CUVWFaceList;
class CVCPointList;
class CVCFaceList;
class CWeightPointList;
class CWeightFaceList;
class C3DVectorList;
class CNormalFaceList;

/// \brief Ownership flags of a CGeomInfo: an owned item is released by the destructor.
enum _GEOMINFO_OWNERSHIP : unsigned
{
    _GeomOwnSrcPoints = 0x01,
    _GeomOwnDstPoints = 0x02,
    _GeomOwnSrcFaces = 0x04,
    _GeomOwnDstFaces = 0x08,
    _GeomOwnSrcChannels = 0x10,
    _GeomOwnDstChannels = 0x20
};

/// \brief The lists a geometry algorithm reads and writes, with their ownership.
///
/// *Objects.* The context names the scene, node and object it works for. Given a geometric
/// object, Init takes the object's own point list, face list and channels as the sources (not
/// owned) and the object's scene as the scene. Init and GetGeomObject are defined by the scene
/// layer, which owns the geometric object class; the rest of the context does not depend on
/// it.
///
/// *Getters with a detach flag.* With \p detach true the context forgets the pointer after
/// returning it, and gives up its ownership of it: the caller takes the list.
///
/// *Typed getters* return the same source (or destination) list when it is of that class,
/// null otherwise. A context set up for a channel algorithm holds that channel's lists as its
/// source, so GetSrcUVWPointList and the like give the channel's lists.
class ZAN_API CGeomInfo
{
public:
    explicit CGeomInfo(C3DBaseObject* object = nullptr);
    CGeomInfo(C3DSceneNode* node, C3DBaseObject* object);
    CGeomInfo(const CGeomInfo&) = delete;
    CGeomInfo& operator=(const CGeomInfo&) = delete;
    /// \brief Releases the owned lists and channels (an item given both as source and
    ///        destination is released once).
    virtual ~CGeomInfo();

    /// \brief Releases what the context owns, clears every flag and list, stores \p node and
    ///        \p object and takes the scene from the object (null without one). When the
    ///        object is a geometric object, its point list, face list and channels become the
    ///        sources (not owned); the destinations stay null.
    void Init(C3DSceneNode* node, C3DBaseObject* object);

    /// \name Ownership
    /// \{
    unsigned GetOwnership() const { return m_Own; }
    /// \}

    /// \name Source and destination lists
    /// \{
    CPointList* GetSrcPointList(bool detach = false);
    CPointList* GetSrcPointList() const { return m_SrcPoints; }
    CFaceList* GetSrcFaceList(bool detach = false);
    CFaceList* GetSrcFaceList() const { return m_SrcFaces; }
    CDependentChannels* GetSrcChannels(bool detach = false);
    CDependentChannels* GetSrcChannels() const { return m_SrcChannels; }
    CPointList* GetDstPointList(bool detach = false);
    CPointList* GetDstPointList() const { return m_DstPoints; }
    CFaceList* GetDstFaceList(bool detach = false);
    CFaceList* GetDstFaceList() const { return m_DstFaces; }
    CDependentChannels* GetDstChannels(bool detach = false);
    CDependentChannels* GetDstChannels() const { return m_DstChannels; }
    /// \brief The destination lists of the geometry, typed (null when of another class; then
    ///        nothing is detached).
    C3DPointList* GetDst3DPointList(bool detach = false);
    C3DFaceList* GetDst3DFaceList(bool detach = false);
    /// \}

    /// \name Typed source lists
    /// Null when the source list is absent or of another class; then nothing is detached.
    /// \{
    C3DPointList* GetSrc3DPointList(bool detach = false);
    C3DFaceList* GetSrc3DFaceList(bool detach = false);
    CUVWPointList* GetSrcUVWPointList(bool detach = false);
    CUVWFaceList* GetSrcUVWFaceList(bool detach = false);
    CVCPointList* GetSrcVCPointList(bool detach = false);
    CVCFaceList* GetSrcVCFaceList(bool detach = false);
    CWeightPointList* GetSrcWeightPointList(bool detach = false);
    CWeightFaceList* GetSrcWeightFaceList(bool detach = false);
    C3DVectorList* GetSrcNormalPointList(bool detach = false);
    CNormalFaceList* GetSrcNormalFaceList(bool detach = false);
    /// \}

    /// \name Setting the lists
    /// Each sets both pointers. Bit 1 of \p own makes the context own the source, bit 2 the
    /// destination. A list the context owned and that is no longer named (nor the other
    /// pointer) is released first.
    /// \{
    void SetPointList(CPointList* src, CPointList* dst, unsigned own);
    void SetFaceList(CFaceList* src, CFaceList* dst, unsigned own);
    void SetChannels(CDependentChannels* src, CDependentChannels* dst, unsigned own);
    /// \}

    /// \name Channels
    /// \{
    /// \brief Number of source channels (0 without source channels).
    int GetChannelSize() const;
    /// \brief The point lists of channel \p index of the source and destination channels
    ///        (each null when that array or channel is absent).
    /// \return whether the source channel exists.
    bool GetChannelPointList(int index, CPointList*& src, CPointList*& dst) const;
    /// \brief The face lists of channel \p index, as GetChannelPointList.
    bool GetChannelFaceList(int index, CFaceList*& src, CFaceList*& dst) const;
    /// \}

    /// \name Scene and object
    /// \{
    C3DScene* GetScene() const { return m_Scene; }
    void SetScene(C3DScene* scene) { m_Scene = scene; }
    C3DSceneNode* GetSceneNode() const { return m_Node; }
    C3DBaseObject* GetBaseObject() const { return m_Object; }
    /// \brief The object as a geometric object; null when it is none.
    C3DGeomObject* GetGeomObject() const;
    /// \}

private:
    template <class T> T* Take(T*& slot, unsigned ownBit, bool detach);
    /// Releases the owned ones of a source/destination pair (each once), except \p keepA and
    /// \p keepB.
    template <class T>
    void ReleasePair(T* src, T* dst, unsigned srcBit, unsigned dstBit, T* keepA = nullptr,
                     T* keepB = nullptr);
    template <class T>
    void SetPair(T*& srcSlot, T*& dstSlot, unsigned srcBit, unsigned dstBit, T* src, T* dst,
                 unsigned own);
    /// Releases every owned list and channel set.
    void ReleaseAll();

    unsigned m_Own = 0;
    C3DScene* m_Scene = nullptr;
    C3DSceneNode* m_Node = nullptr;
    C3DBaseObject* m_Object = nullptr;
    CPointList* m_SrcPoints = nullptr;
    CPointList* m_DstPoints = nullptr;
    CFaceList* m_SrcFaces = nullptr;
    CFaceList* m_DstFaces = nullptr;
    CDependentChannels* m_SrcChannels = nullptr;
    CDependentChannels* m_DstChannels = nullptr;
};
