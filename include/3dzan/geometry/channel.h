/// \file channel.h
/// \brief Channels: per-corner or per-point attributes of a mesh (texture coordinates, vertex
///        colours, weights, normals), and CDependentChannels, the channels of one object.
///
/// A channel owns its own point list (the attribute values) and, for per-corner attributes,
/// its own face list that runs parallel to the geometry's faces: channel face i belongs to
/// geometry face i, has the same corner count, and its k-th index names the value of the k-th
/// corner. Corners that share a geometry point can so carry different values (texture seams)
/// while the geometry stays welded. Whoever edits the geometry faces applies the same edit to
/// every channel face list; after a clean of the geometry the channels are cleaned with its
/// face and point remaps (CDependentChannels::CleanChannels).
///
/// The normal channels (normals.h) derive from CChannel: face and point normals answer true to
/// CanBeRecomputed (they are not archived) and override MatrixTransform and SwapCoordinates.
#pragma once

#include <3dzan/animation/math.h>
#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/hashmap.h>
#include <3dzan/foundation/xarray.h>
#include <3dzan/foundation/xobject.h>
#include <3dzan/foundation/xstring.h>
#include <3dzan/geometry/faces.h>

#include <memory>
#include <vector>

class CGeomInfo;
class C3DEdge;
class CPt;
class CPointList;
class CFaceList;
class CUVWPointList;
class CUVWFaceList;
class CVCPointList;
class CVCFaceList;
class CWeightPointList;
class CWeightFaceList;
class C3DVectorList;
class CNormalFaceList;

/// \brief Channel types: bit values, so that masks select several types.
enum _Channel3DType : unsigned
{
    _ChannelNone = 0,         ///< no type (in masks: see each operation)
    _ChannelUVW = 1,          ///< texture coordinates (CUVWChannel)
    _ChannelVC = 4,           ///< vertex colours (CVCChannel)
    _ChannelWeight = 8,       ///< weights, per corner or per point (CWeightChannel)
    _ChannelPointNormal = 16, ///< point normals (recomputed, never archived)
    _ChannelFaceNormal = 32,  ///< face normals (recomputed, never archived)
    _ChannelSpecNormal = 64,  ///< specified normals
    _ChannelAll = 0xFFFF      ///< every type
};

/// \brief Channel flags.
enum _CHANNEL_PROPERTIES : unsigned
{
    _ChannelInvalid = 0x01,  ///< no longer matches the geometry (face count differs after a
                             ///< clean); index queries can skip such channels
    _ChannelTracked = 0x02,  ///< change tracking: rebuilding or cleaning also sets _ChannelModified
    _ChannelModified = 0x04, ///< modified since the owner last looked (see _ChannelTracked)
    _ChannelNoFaceEdit = 0x08 ///< left alone by CFaceList::CleanPointsIndex and by channel welding;
                              ///< skipped by CopyChannels when asked (copy flag 0x10)
};

/// \brief Point flags of geometry points that mark where a channel's values differ between the
///        faces around the point (working marks of the seam split, see
///        C3DGeomObject::DisconnectBorderFaces; 0x8000 marks smoothing breaks, normals.h).
enum _SEAM_POINT_FLAGS : unsigned
{
    _PointUVSeam = 0x1000,        ///< texture coordinates differ (CUVWChannel::InitShareUVFlag)
    _PointVCSeam = 0x2000,        ///< vertex colours differ (CVCChannel::InitVCFrontierFlag)
    _PointSpecNormalSeam = 0x4000 ///< specified normals break
};

/// \brief Flags of CChannel::Copy and CDependentChannels::CopyChannels.
enum _CHANNEL_COPY_FLAGS : unsigned
{
    _ChannelCopyKeepID = 0x01,         ///< the copy keeps the channel id
    _ChannelCopySkipInvalid = 0x02,    ///< CopyChannels: leave out channels with _ChannelInvalid
    _ChannelCopyAppend = 0x04,         ///< CopyChannels: append instead of emptying the array first
    _ChannelCopyStructure = 0x08,      ///< copy the structure only (empty lists, same chunks)
    _ChannelCopySkipNoFaceEdit = 0x10, ///< CopyChannels: leave out channels with _ChannelNoFaceEdit
    _ChannelCopyShare = 0x20 ///< CopyChannels: share the channel objects instead of copying
};

/// \brief One corner around a geometry point, as the channel's connectivity data records it.
struct _ChannelConnectionInfo
{
    int m_Face;   ///< face index (geometry and channel)
    int m_Corner; ///< position of the corner in the face
    int m_Point;  ///< the channel point the corner uses
};

/// \brief Base of the channels. Shared by holder count: release with Delete.
///
/// *Ids.* A process-wide counter holds the next free id, 10000 at start. A channel built with
/// the id 0xFFFFFFFF takes the counter's value and advances it; loading a channel whose id is
/// not below the counter moves the counter past it, so new ids never collide with loaded
/// ones. The id 0xFFFFFFFF (none) is never given out: a counter that reaches it starts again
/// at 10000.
///
/// *Archive* (Serialize): type (int32), flags (uint32), id (uint32), face list marker (int32,
/// 1 when a face list follows, else 0) and the face list, point list marker and the point
/// list, then the custom data. Loading builds everything aside and replaces the channel's
/// content only when the whole channel was read; a malformed archive raises
/// CXArchiveException and leaves the channel as it was. A loaded channel with _ChannelTracked
/// gets _ChannelModified.
class ZAN_API CChannel : public CXObject, public CInstanciatedObject
{
    ZAN_DECLARE_RUNTIME_CLASS(CChannel)

public:
    static constexpr unsigned kFirstID = 10000;

    CChannel(const CChannel&) = delete;
    CChannel& operator=(const CChannel&) = delete;
    ~CChannel() override;

    /// \brief A new empty channel of \p type with \p id (0xFFFFFFFF: a new id): UVW and VC
    ///        channels with a point and a face list, weights per point (no face list), and
    ///        the three normal channels (normals.h), created stale.
    /// \return null for any other type. The caller holds the result (Delete).
    static CChannel* Create(_Channel3DType type, unsigned id = kZanNone);

    /// \name Ids and counts
    /// \{
    /// \brief The counter's value, which it then advances.
    static unsigned CreateID();
    /// \brief The id the next CreateID gives, without taking it.
    static unsigned GetNextID();
    /// \brief Channel objects created in this process so far.
    static unsigned GetCreatedCount();
    /// \brief Channel objects alive in this process.
    static unsigned GetLiveCount();
    unsigned GetChannelID() const { return m_ID; }
    /// \brief Sets the id as it is (0xFFFFFFFF included); the counter is not consulted.
    void SetChannelID(unsigned id) { m_ID = id; }
    /// \}

    /// \name Type and flags
    /// \{
    _Channel3DType GetType() const { return m_Type; }
    /// \brief The type's name from the string table (9351 to 9356); when the table lacks it,
    ///        "Points" (point normals), "Faces" (face normals), "Normals" (specified normals)
    ///        or "Weight"; empty for other types.
    CXTString GetTypeString() const;
    /// \brief The name of \p type, as GetTypeString.
    static CXTString GetTypeString(unsigned type);
    unsigned GetFlags() const { return m_Flags; }
    void SetFlag(_CHANNEL_PROPERTIES flag, bool set);
    /// \brief Whether every bit of \p flags is set.
    bool IsFlagSet(unsigned flags) const { return (m_Flags & flags) == flags; }
    /// \brief Whether any bit of \p flags is set.
    bool IsOneFlagSet(unsigned flags) const { return (m_Flags & flags) != 0; }
    /// \brief Sets _ChannelModified when the channel has _ChannelTracked.
    void MarkModified();
    /// \}

    /// \name Lists
    /// \{
    CPointList* GetPointList() const { return m_PointList; }
    CFaceList* GetFaceList() const { return m_FaceList; }
    /// \brief Replaces the point list; the channel takes over the caller's holder of \p list
    ///        (null removes the list). Nothing happens when \p list is the current list.
    /// \param deleteOld release the previous list; otherwise the caller keeps it alive.
    /// \return false, with nothing taken, when \p type is not the channel's type or \p list is
    ///         not of the class the channel's type uses.
    bool SetPointList(_Channel3DType type, CPointList* list, bool deleteOld);
    /// \brief The same for the face list.
    bool SetFaceList(_Channel3DType type, CFaceList* list, bool deleteOld);
    /// \brief The channel point of corner \p corner of face \p face; -1 out of range or without
    ///        a face list (point i of a per-point channel belongs to geometry point i).
    int GetChannelPointIndex(int face, int corner) const;
    /// \brief Releases spare storage of both lists.
    void FreeExtra();
    /// \brief The custom data, a bag of host-defined values (archived with the channel).
    CCustomData& GetCustomData() { return m_CustomData; }
    const CCustomData& GetCustomData() const { return m_CustomData; }
    /// \}

    /// \name Copies
    /// \{
    /// \brief A new channel of the same class (held by the caller), with the flags and the
    ///        custom data.
    ///
    /// With _ChannelCopyKeepID the copy keeps the id, otherwise it gets a new one. With
    /// _ChannelCopyStructure, or when this channel has _ChannelInvalid, the lists are empty
    /// and only take the chunk structure (Inherit), and a copy with _ChannelTracked gets
    /// _ChannelModified; otherwise they are copies (operator=).
    /// \return null when memory cannot be had.
    CChannel* Copy(unsigned flags) const;
    /// \brief Takes \p other's flags; each list of this channel takes the chunk structure and
    ///        list flags of \p other's list of the same kind, when both have one.
    void Inherit(const CChannel& other);
    /// \}

    /// \name Connectivity data
    /// For every geometry point of \p geom's source faces, the corners around it (face order)
    /// and the channel point each uses. Faces with _FaceInvalid or _FaceExcluded in the
    /// geometry or the channel, and faces whose corner counts differ, are left out; so are
    /// corners whose geometry or channel index is outside its list. A per-point channel has
    /// one corner per geometry point: point i itself.
    /// \{
    /// \brief (Re)builds the data. \return false (data dropped) without a source face list or
    ///        a source point list for per-point channels, or without a point list.
    bool InitGraph(const CGeomInfo* geom);
    void DeleteGraph();
    bool HasGraph() const { return m_Graph != nullptr; }
    /// \brief The corners around geometry point \p geomPoint and their count; null and 0 when
    ///        there is no data or the point is out of range. Valid until the data changes.
    const _ChannelConnectionInfo* GetChannelPointsConnectedToPoint(int geomPoint, int& count) const;
    /// \}

    /// \name Virtual operations
    /// \{

    /// \brief Stores or loads the channel (see the class).
    void Serialize(CXArchive& ar) override;
    /// \brief Swaps the axes of the values (normal channels); the base does nothing: false.
    virtual bool SwapCoordinates(unsigned swapCode);
    /// \brief Transforms the values (normal channels); the base does nothing: false.
    virtual bool MatrixTransform(const C4x4TMatrix<float>& matrix);
    /// \brief Whether the channel's own face list is scanned for repeated corners when it is
    ///        cleaned. False for every channel of the library: the geometry's clean removes
    ///        the same corners from the channel faces.
    virtual bool CleanRemoveDuplicateIndex() const;
    /// \brief Brings the channel in step with a cleaned geometry.
    ///
    /// With a face list: faces with _FaceInvalid also get _FaceExcluded; then, when
    /// \p faceRemap has one entry per channel face, _FaceInvalid is set on the faces whose
    /// geometry face was removed (entry 0xFFFFFFFF) and cleared on the others (cleared on all
    /// without such a remap), and the invalid faces are removed. Channel points that no valid
    /// face uses any more are removed and the faces renumbered (excluded faces keep their
    /// indices). A per-point channel drops the points whose geometry point was removed, when
    /// \p pointRemap has one entry per channel point.
    /// \return true when something changed (the channel is then marked modified); false
    ///         otherwise, and false with _ChannelInvalid set when the channel's face count
    ///         differs from the geometry's afterwards.
    virtual bool Clean(const CGeomInfo* geom, CXArray<unsigned int, unsigned int>* faceRemap,
                       CXArray<unsigned int, unsigned int>* pointRemap);
    /// \brief Merges the channel points that Compare finds equal among those used around the
    ///        same geometry point, then removes the points left unused.
    ///
    /// Nothing happens (false) without a point list, without a source point list in \p geom,
    /// or with _ChannelInvalid or _ChannelNoFaceEdit. A tolerance outside [0, 1] (or NaN)
    /// counts as 0. Points with point flags 0x02 or 0x04 are not merged.
    /// \return whether the channel faces changed.
    virtual bool Weld(const CGeomInfo* geom, double tolerance);
    /// \brief Whether two channel points are equal within \p tolerance; the base: false.
    virtual bool Compare(const CPt* a, const CPt* b, double tolerance) const;
    /// \brief Whether the channel can be rebuilt from the geometry, in which case archives
    ///        leave it out. False for the base.
    virtual bool CanBeRecomputed() const;
    /// \}

protected:
    /// \brief A channel of \p type with \p id (0xFFFFFFFF: a new id), without lists.
    CChannel(unsigned type, unsigned id);

    /// \brief A new empty channel of this class and shape (the same lists, empty), with this
    ///        channel's id when \p keepID, otherwise a new one; the caller holds it.
    virtual CChannel* Duplicate(bool keepID) const = 0;
    /// \brief The classes of the lists of this channel's type; null when the type has none.
    ///        New lists (archives, SetPointList checks) are made from them.
    virtual const CXRuntimeClass* GetPointListClass() const;
    virtual const CXRuntimeClass* GetFaceListClass() const;

    /// \brief A new empty point list of the type's class (null when it has none); the caller
    ///        holds it. The base answers null; each channel class makes its own.
    virtual CPointList* NewPointList() const;
    /// \brief A new empty face list of the class GetFaceListClass names (null without one).
    virtual CFaceList* NewFaceList() const;
    /// \brief Takes over \p points and \p faces as the channel's lists (the old ones are
    ///        released).
    void AdoptLists(CPointList* points, CFaceList* faces);
    /// \brief The indices of face \p face of \p list, writable in place, and their count
    ///        (null and 0 out of range or for an empty face): for channels that rewrite their
    ///        own face list's indices without changing corner counts. The caller keeps every
    ///        index it writes below the list's point bound. Valid until the list changes.
    static int* GetWritableIndexes(CFaceList& list, unsigned face, unsigned& count);
    /// \brief All the records of \p list, writable in place, under the contract of
    ///        GetWritableIndexes: corner counts stay, every index written stays below the
    ///        list's point bound. For passes that write many faces' indices, where a call per
    ///        face would cost more than the writing.
    static CFaceStorage& GetWritableStorage(CFaceList& list);

private:
    struct CGraph;

    unsigned m_ID = kZanNone;
    _Channel3DType m_Type = _ChannelNone;
    unsigned m_Flags = 0;
    CPointList* m_PointList = nullptr;
    CFaceList* m_FaceList = nullptr;
    CCustomData m_CustomData;
    std::unique_ptr<CGraph> m_Graph;
};

/// \brief Texture coordinates: CUVWPointList values and a CUVWFaceList.
class ZAN_API CUVWChannel : public CChannel
{
    ZAN_DECLARE_DYNCREATE(CUVWChannel)

public:
    /// \brief An empty channel with its empty lists (0xFFFFFFFF: a new id).
    explicit CUVWChannel(unsigned id = kZanNone);
    ~CUVWChannel() override;
    CUVWPointList* GetUVWPointList() const;
    CUVWFaceList* GetUVWFaceList() const;
    /// \brief With tolerance 0: u, v and w exactly equal; otherwise du² + dv² + dw² (summed
    ///        in float) at most tolerance² (compared in double). False for other point types.
    bool Compare(const CPt* a, const CPt* b, double tolerance) const override;
    /// \brief Whether the texture coordinates break along \p edge between geometry faces
    ///        \p face1 and \p face2 (of \p geom's source face list): at either end point of
    ///        the edge, the two channel faces use values that Compare with \p tolerance finds
    ///        different.
    ///
    /// A channel face with _FaceInvalid or _FaceExcluded, or whose corner count differs from
    /// its geometry face's, carries no value: two such faces do not break, one such face
    /// beside a face with values does.
    /// \return true also when a face lacks an end point of the edge, an index is out of
    ///         range, or the lists are missing (nothing can be said to join them).
    bool IsUVFrontier(const CGeomInfo* geom, double tolerance, const C3DEdge& edge, int face1,
                      int face2) const;
    /// \brief Gives _PointUVSeam to every point of \p geom's source point list whose corners
    ///        (on the faces of \p geom's source face list) use texture coordinates that Compare
    ///        with \p tolerance finds different.
    ///
    /// Only corners that carry a value count: geometry faces with _FaceInvalid, channel faces
    /// with _FaceInvalid or _FaceExcluded or another corner count, and channel indices outside
    /// the values are left out, as are geometry indices outside the points.
    /// \param reset clear _PointUVSeam on every point first.
    /// \return the number of points marked; 0, with nothing changed, without a source point
    ///         list, a source face list or the channel's lists.
    unsigned InitShareUVFlag(const CGeomInfo* geom, double tolerance, bool reset = true) const;

protected:
    CChannel* Duplicate(bool keepID) const override;
    const CXRuntimeClass* GetPointListClass() const override;
    const CXRuntimeClass* GetFaceListClass() const override;
    CPointList* NewPointList() const override;
};

/// \brief Vertex colours: CVCPointList values and a CVCFaceList.
class ZAN_API CVCChannel : public CChannel
{
    ZAN_DECLARE_DYNCREATE(CVCChannel)

public:
    explicit CVCChannel(unsigned id = kZanNone);
    ~CVCChannel() override;
    CVCPointList* GetVCPointList() const;
    CVCFaceList* GetVCFaceList() const;
    /// \brief Whether the vertex colours break along \p edge between geometry faces \p face1
    ///        and \p face2, with Compare and \p tolerance; same rules as
    ///        CUVWChannel::IsUVFrontier.
    bool IsVCFrontier(const CGeomInfo* geom, double tolerance, const C3DEdge& edge, int face1,
                      int face2) const;
    /// \brief Gives _PointVCSeam to every point whose corners use colours that Compare with
    ///        \p tolerance finds different; same rules as CUVWChannel::InitShareUVFlag.
    unsigned InitVCFrontierFlag(const CGeomInfo* geom, double tolerance, bool reset = true) const;
    /// \brief The tolerance in colour steps, t = tolerance × 255 truncated: with t = 0 the four
    ///        bytes must be equal; otherwise the same point, or red, green and blue each within
    ///        t (alpha is not compared).
    bool Compare(const CPt* a, const CPt* b, double tolerance) const override;

protected:
    CChannel* Duplicate(bool keepID) const override;
    const CXRuntimeClass* GetPointListClass() const override;
    const CXRuntimeClass* GetFaceListClass() const override;
    CPointList* NewPointList() const override;
};

/// \brief Weights: a CWeightPointList and, for per-corner weights, a CWeightFaceList. Per-point
///        weights (no face list) hold one weight per geometry point, in the geometry's order.
class ZAN_API CWeightChannel : public CChannel
{
    ZAN_DECLARE_DYNCREATE(CWeightChannel)

public:
    /// \brief An empty channel: a point list and, unless \p perPoint, a face list. A channel
    ///        read from an archive takes the shape stored there.
    explicit CWeightChannel(unsigned id = kZanNone, bool perPoint = true);
    ~CWeightChannel() override;
    CWeightPointList* GetWeightPointList() const;
    CWeightFaceList* GetWeightFaceList() const;
    /// \brief Whether the weights are per point (no face list).
    bool IsPerPoint() const { return GetFaceList() == nullptr; }
    /// \brief |weight a − weight b| at most \p tolerance.
    bool Compare(const CPt* a, const CPt* b, double tolerance) const override;

    /// \brief The smallest and largest weight, NaN weights left out; both 0 without points.
    void GetLimits(float& min, float& max) const;
    /// \brief Maps every weight w to (w − min) / (max − min) with the limits above (the divisor
    ///        is 1 when max − min is below 1e-15), then to 1 − that when \p invert. NaN weights
    ///        stay NaN. Marks the channel modified.
    /// \return false, with nothing changed, when there is no weight.
    bool Normalize(bool invert);
    /// \brief The weights as one value per geometry point of \p geom's source point list: a
    ///        copy for per-point weights (padded with 0 or cut to the point count), otherwise
    ///        for each point the mean weight of the corners around it (0 for a point no valid
    ///        face uses). The caller holds the list (Delete); null without a source point list
    ///        or (per-corner weights) a source face list, or without a point list.
    CWeightPointList* GetWeightPointOnlyList(const CGeomInfo* geom) const;

protected:
    CChannel* Duplicate(bool keepID) const override;
    const CXRuntimeClass* GetPointListClass() const override;
    const CXRuntimeClass* GetFaceListClass() const override;
    CPointList* NewPointList() const override;
};

/// \brief A channel id with its type: the key of the maps that rename channel ids when
///        objects or materials are merged.
class ZAN_API CChannelInfo
{
public:
    CChannelInfo() = default;
    CChannelInfo(unsigned id, _Channel3DType type) : m_ChannelID(id), m_Type(type) {}
    explicit CChannelInfo(const CChannel& channel)
        : m_ChannelID(channel.GetChannelID()), m_Type(channel.GetType())
    {
    }
    bool operator==(const CChannelInfo& other) const
    {
        return m_ChannelID == other.m_ChannelID && m_Type == other.m_Type;
    }

    unsigned m_ChannelID = kZanNone;
    _Channel3DType m_Type = _ChannelNone;
};

/// \brief A (channel id, material id) pair: the key used when channels are made global per
///        material.
class ZAN_API CMapChannelID
{
public:
    CMapChannelID() = default;
    CMapChannelID(unsigned channelID, unsigned materialID)
        : m_ChannelID(channelID), m_MaterialID(materialID)
    {
    }
    bool operator==(const CMapChannelID& other) const
    {
        return m_ChannelID == other.m_ChannelID && m_MaterialID == other.m_MaterialID;
    }

    unsigned m_ChannelID = kZanNone;
    unsigned m_MaterialID = kZanNone;
};

template <> struct CHashMethods<CChannelInfo>
{
    unsigned Hash(const CChannelInfo& key) const
    {
        return unsigned(ZanMix64((uint64_t(key.m_ChannelID) << 32) | unsigned(key.m_Type)));
    }
    bool Equal(const CChannelInfo& a, const CChannelInfo& b) const { return a == b; }
};

template <> struct CHashMethods<CMapChannelID>
{
    unsigned Hash(const CMapChannelID& key) const
    {
        return unsigned(ZanMix64((uint64_t(key.m_ChannelID) << 32) | key.m_MaterialID));
    }
    bool Equal(const CMapChannelID& a, const CMapChannelID& b) const { return a == b; }
};

/// \brief The channels of one geometric object, in order.
///
/// The array holds one holder of each channel and drops it when the channel leaves the
/// array. It derives from CXArray for reading only: channels enter and leave through the
/// operations below, which keep the holders right. Copies and assignment share the channels
/// (one more holder each); CopyChannels makes real copies.
///
/// *Archive* (Serialize): the count (archive count) of the channels that CanBeRecomputed does
/// not claim, then for each, in array order, its class record and its Serialize. Loading
/// reads every channel aside and replaces the array only when all were read; a malformed
/// archive raises CXArchiveException and leaves the array as it was.
class ZAN_API CDependentChannels : public CXObject,
                                   public CInstanciatedObject,
                                   protected CXArray<CChannel*, CChannel*>
{
    ZAN_DECLARE_DYNCREATE(CDependentChannels)
    using Base = CXArray<CChannel*, CChannel*>;

public:
    CDependentChannels() = default;
    /// \brief Shares \p src's channels.
    CDependentChannels(const CDependentChannels& src);
    /// \brief Shares \p src's channels in place of this array's.
    CDependentChannels& operator=(const CDependentChannels& src);
    ~CDependentChannels() override;
    /// \brief A new empty array held by the caller (Delete).
    static CDependentChannels* Create();

    using Base::begin;
    using Base::end;
    using Base::GetCount;
    using Base::GetSize;
    using Base::IsEmpty;
    /// \brief Channel \p index (null out of range).
    CChannel* GetAt(int index) const;
    CChannel* operator[](int index) const { return GetAt(index); }

    /// \name Adding and finding
    /// \{
    /// \brief Appends \p channel; the array takes over the caller's holder.
    /// \return the new index, or 0xFFFFFFFF for null.
    unsigned AddChannel(CChannel* channel);
    /// \brief The first channel with id \p id and, unless \p type is 0, that type; null if none.
    CChannel* GetChannelByID(unsigned id, _Channel3DType type = _ChannelNone) const;
    /// \brief The same, with its lists (null when the channel is absent).
    CChannel* GetChannelByID(unsigned id, CFaceList*& faces, CPointList*& points,
                             _Channel3DType type = _ChannelNone) const;
    CUVWChannel* GetUVWChannelByID(unsigned id) const;
    CUVWChannel* GetUVWChannelByID(unsigned id, CUVWFaceList*& faces, CUVWPointList*& points) const;
    CVCChannel* GetVCChannelByID(unsigned id) const;
    CVCChannel* GetVCChannelByID(unsigned id, CVCFaceList*& faces, CVCPointList*& points) const;
    /// \brief With \p typeMask 0: element \p index; otherwise the \p index-th channel (from 0)
    ///        whose type is in the mask, leaving out invalid ones when \p skipInvalid. Null when
    ///        there is none.
    CChannel* GetChannelByIndex(int index, unsigned typeMask = 0, bool skipInvalid = false) const;
    /// \brief The same with the channel's lists, for channels of \p type.
    CChannel* GetChannelByIndex(int index, CFaceList*& faces, CPointList*& points,
                                _Channel3DType type) const;
    CUVWChannel* GetUVWChannelByIndex(int index, bool skipInvalid = false) const;
    CVCChannel* GetVCChannelByIndex(int index, bool skipInvalid = false) const;
    /// \brief The rank of the channel \p id among the channels of \p type (invalid ones left
    ///        out when \p skipInvalid); 0xFFFFFFFF when absent (or itself invalid and skipped).
    unsigned GetChannelIndex(unsigned id, _Channel3DType type, bool skipInvalid = false) const;
    /// \brief Type of channel \p index, _ChannelNone out of range.
    _Channel3DType GetChannelType(int index) const;
    /// \brief How many channels have a type in \p typeMask.
    unsigned GetChannelsNumber(unsigned typeMask, bool skipInvalid = false) const;
    /// \brief Their array indices, in \p indices (emptied first); returns their count.
    unsigned GetChannels(unsigned typeMask, CXArray<unsigned int, unsigned int>& indices,
                         bool skipInvalid = false) const;
    /// \brief The first channel of each normal type; null when absent.
    CChannel* GetPointNormalChannel() const;
    CChannel* GetFaceNormalChannel() const;
    CChannel* GetSpecNormalChannel() const;
    CChannel* GetSpecNormalChannel(CNormalFaceList*& faces, C3DVectorList*& points) const;
    /// \}

    /// \name Removing
    /// Each releases the array's holder of every channel it removes.
    /// \{
    /// \brief false when \p channel is not in the array.
    bool RemoveChannel(CChannel* channel);
    /// \brief The first channel with that id (and type, unless 0); false when none.
    bool RemoveChannelByID(unsigned id, _Channel3DType type = _ChannelNone);
    /// \brief The channel GetChannelByIndex(index, type) names; false when none.
    bool RemoveChannelByIndex(int index, unsigned typeMask = 0);
    /// \brief Every channel whose type is in \p typeMask; returns how many.
    unsigned RemoveChannelsByType(unsigned typeMask);
    /// \brief Every channel whose type is in \p typeMask and for which "every bit of \p flag is
    ///        set" equals \p state; returns how many.
    unsigned RemoveChannelsByFlag(_CHANNEL_PROPERTIES flag, unsigned typeMask = _ChannelAll,
                                  bool state = true);
    void RemoveAll();
    /// \}

    /// \name Operations on the channels
    /// \{
    /// \brief Sets or clears \p flag on every channel whose type is in \p typeMask.
    void SetFlag(unsigned typeMask, _CHANNEL_PROPERTIES flag, bool set);
    /// \brief Every channel with _ChannelTracked and a type in \p typeMask gets
    ///        _ChannelModified. \return whether any did.
    bool InvalidateChannels(unsigned typeMask);
    /// \brief Appends the channels of \p src whose type is in \p typeMask (_CHANNEL_COPY_FLAGS).
    ///
    /// Unless _ChannelCopyAppend the array is emptied first. Channels with _ChannelInvalid are
    /// left out with _ChannelCopySkipInvalid, channels with _ChannelNoFaceEdit with
    /// _ChannelCopySkipNoFaceEdit. With _ChannelCopyShare the channel objects are shared,
    /// otherwise copied with CChannel::Copy(\p flags). \p srcIndices, when given, receives the
    /// source index of each appended channel (appended to it). \p src may be this array.
    /// \return the number of channels appended.
    unsigned CopyChannels(const CDependentChannels& src, unsigned typeMask, unsigned flags,
                          CXArray<unsigned int, unsigned int>* srcIndices = nullptr);
    /// \brief CChannel::Clean on every channel; returns how many changed.
    unsigned CleanChannels(const CGeomInfo* geom, CXArray<unsigned int, unsigned int>* faceRemap,
                           CXArray<unsigned int, unsigned int>* pointRemap);
    /// \brief Forward to the channels whose type is in \p typeMask; return how many answered
    ///        true.
    unsigned MatrixTransform(const C4x4TMatrix<float>& matrix, unsigned typeMask);
    unsigned SwapCoordinates(unsigned typeMask, unsigned swapCode);
    unsigned Weld(const CGeomInfo* geom, double tolerance, unsigned typeMask = _ChannelAll);
    /// \brief Releases spare storage of every channel.
    void FreeExtra();
    /// \}

    /// \brief Stores or loads the array (see the class).
    void Serialize(CXArchive& ar) override;

private:
    void ReleaseAt(int index);
};
