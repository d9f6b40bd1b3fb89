/// \file geomobject.h
/// \brief C3DGeomObject, the base of every object that owns geometry (a point list, a face
///        list and a set of channels), and its concrete classes C3DObject (polygonal mesh)
///        and C3DCurve.
///
/// *Ownership.* A geometric object holds one holder of each of its lists and of its channel
/// set and drops them with DeleteMe. The channel set is never null after construction.
///
/// *Parallel channel faces.* Every operation here that edits geometry faces (FlipNormals,
/// Clean, SubObject, Concatenate) applies the same edit to the face list of every channel, so
/// that channel face i keeps belonging to geometry face i with the same corner count.
///
/// *Invalidation.* Invalidate is the one place where cached state is dropped after a change:
/// bit 1 (points) and bit 2 (faces) mark the lists changed and drop both bounding-box caches;
/// bits 1, 2 and 16 (geometry copied) also raise the update kind 0x40000 (texture coordinates
/// to regenerate) and invalidate every channel; bit 8 (materials) marks the point list
/// changed; 0x800 (channels or display) goes to the base object only. Effects apply when the
/// flag argument is true; with false the bits are only cleared from the update flags.
///
/// *Archive layout* (Serialize), after the base object's own data: face-list presence
/// (int32, 1 or 0) then, when 1, the list's class record and data; point-list presence and
/// likewise; the channel set (always); smooth angle (float); face mode (u32); smooth mode
/// (u32); global UVW channel ID (u32); global VC channel ID (u32); global VC factor (float).
/// A curve appends its material ID (u32). Loading reads everything aside and replaces the
/// object's content only when the whole archive was read.
///
/// *The scene's view.* The scene and its nodes reach the geometry only through the base
/// object's virtuals (GetObjectBoundingBox, GetObjectCG, GetObjectPointNbr, GetObjectFaceNbr,
/// GetUsedMaterials, FollowsSceneSmoothing, SwapObjectCoordinates); the geometric object
/// answers them from its lists. Values that come from the scene (smoothing) are read through
/// the object's scene, or from the library defaults (scenedefaults.h) without one.
#pragma once

#include <3dzan/foundation/hashmap.h>
#include <3dzan/foundation/xarray.h>
#include <3dzan/geometry/bbox.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/faces.h>
#include <3dzan/geometry/facetagger.h>
#include <3dzan/scene/baseobject.h>
#include <3dzan/scene/scenedefaults.h>

#include <memory>
#include <span>

#include <functional>

class C3DPointList;
class C3DFaceList;
class C3DSceneNode;
class C3DFilter;
class C3DObject;
class C3DCurve;
class CMaterialHashMap;
struct CWeldFilter;
class CFaceNormalChannel;
class CPointNormalChannel;
class CSpecNormalChannel;
class CMaterialMap;
enum _FACE_SORT_MODE : unsigned; // geometry/facelist.h

/// \brief How SubObject(pointNbr, mode) selects faces by their corner count.
enum _SUBOBJECT_MODE : unsigned
{
    _SubObjectEqual = 1,  ///< faces of exactly n corners
    _SubObjectGreater = 3 ///< faces of more than n corners
};

/// \brief Flags of C3DGeomObject::GetBoundingBox.
enum _BBOX_FLAGS : unsigned
{
    _BBoxFaces = 0x01,     ///< the points used by valid faces
    _BBoxPoints = 0x02,    ///< every point
    _BBoxNodeSpace = 0x100 ///< in the space of a node (its node transform applied)
};

/// \brief Invalidation bits of C3DGeomObject::Invalidate.
enum _GEOM_INVALIDATE_FLAGS : unsigned
{
    _InvalidatePoints = 0x01,
    _InvalidateFaces = 0x02,
    _InvalidateMaterials = 0x08,
    _InvalidateCopied = 0x10,
    _InvalidateDisplay = 0x800
};

/// \brief An object that owns geometry. See the file comment for ownership, invalidation and
///        the archive layout.
class ZAN_API C3DGeomObject : public C3DBaseObject
{
    ZAN_DECLARE_DYNCREATE(C3DGeomObject)

public:
    /// \brief How faces are presented (only the default is used by the library).
    enum _faceModeEnum : unsigned
    {
        _FaceModeDefault = 0
    };

    /// \brief An object of kind 0 with no lists and an empty channel set.
    C3DGeomObject();
    /// \brief Adopts the given lists (the object takes over the caller's holder of each); a
    ///        null channel set is replaced by a new empty one.
    C3DGeomObject(C3DPointList* points, C3DFaceList* faces, CDependentChannels* channels);
    /// \brief Releases the face list, the point list and the channel set (DeleteMe).
    ~C3DGeomObject() override;
    C3DGeomObject& operator=(const C3DGeomObject&) = delete;

    /// \name Lists
    /// \{
    C3DPointList* GetPointList() { return m_PointList; }
    const C3DPointList* GetPointList() const { return m_PointList; }
    C3DFaceList* GetFaceList() { return m_FaceList; }
    const C3DFaceList* GetFaceList() const { return m_FaceList; }
    CDependentChannels* GetChannels() { return m_Channels; }
    const CDependentChannels* GetChannels() const { return m_Channels; }
    /// \brief Point and face counts, 0 when the list is missing.
    int GetPointNbr() const;
    int GetFaceNbr() const;
    /// \brief Replaces the face list by \p faces (the object takes over the caller's holder);
    ///        the current one is released first when \p release. The same pointer is
    ///        ignored. Invalidates with 2.
    virtual void SetFaceList(C3DFaceList* faces, bool release);
    /// \brief The same for the point list; invalidates with 1.
    virtual void SetPointList(C3DPointList* points, bool release);
    /// \brief The same for the channel set; a null set is replaced by a new empty one.
    ///        Invalidates with 0x800.
    virtual void SetChannels(CDependentChannels* channels, bool release);
    /// \brief Appends \p channel (the set takes over the caller's holder).
    /// \return its index, 0xFFFFFFFF for null.
    unsigned AddChannel(CChannel* channel);
    CChannel* GetChannelByID(unsigned id, _Channel3DType type = _ChannelNone) const;
    CChannel* GetChannelByIndex(int index, unsigned typeMask = 0, bool skipInvalid = false) const;
    /// \}

    /// \name Smoothing and display settings
    /// \{
    /// \brief The smoothing angle in radians. A stored -1.0 means "the scene's angle": then
    ///        \p inherited (when given) is set to true and the scene's angle (without a scene,
    ///        the library default) is returned.
    float GetSmoothAngle(bool* inherited = nullptr) const;
    /// \brief Stores -1.0 as is (inherit); any other angle is clamped to [0, π] radians (a
    ///        negative angle stores 0). A change invalidates the normal channels (mask 0x50).
    /// \return false, with nothing changed, for NaN.
    bool SetSmoothAngle(float angle);
    /// \brief The weighting mode; a stored 0 means the scene's mode (the library default
    ///        without a scene), reported through \p inherited.
    _NormalSmoothMode GetSmoothMode(bool* inherited = nullptr) const;
    /// \brief Stores a mode of 0 to 4; a change invalidates the normal channels (mask 0x50).
    /// \return false, with nothing changed, for another value.
    bool SetSmoothMode(_NormalSmoothMode mode);
    _faceModeEnum GetFaceMode() const { return m_FaceMode; }
    /// \brief Stores the mode and invalidates the display (0x800).
    void SetFaceMode(_faceModeEnum mode);
    unsigned GetGlobalUVWChannel() const { return m_GlobalUVWChannel; }
    void SetGlobalUVWChannel(unsigned id);
    /// \brief The ID of the vertex-colour channel to display; its factor goes to \p factor.
    unsigned GetGlobalVCChannel(float& factor) const;
    void SetGlobalVCChannel(unsigned id, float factor);
    /// \}

    /// \name Invalidation and updates
    /// \{
    void Invalidate(unsigned flags, bool set) override;
    /// \brief Forwards \p mask to the channel set; when a channel was marked, invalidates the
    ///        display (0x800) and returns true.
    bool InvalidateChannels(unsigned mask) override;
    /// \brief With update kind 0x40000 (texture coordinates to regenerate) on a final object,
    ///        regenerates the projected texture coordinates (GenerateUVW with \p scene, or the
    ///        object's own scene when \p scene is null); then runs the base update.
    /// \return whether texture coordinates were generated (the base update answers false).
    bool Update(C3DScene* scene, unsigned flags) override;
    /// \}

    /// \name Queries
    /// \{
    /// \brief The box of the object's points (\p flags _BBoxPoints) or of the points used by
    ///        its valid faces (_BBoxFaces, which falls back on every point without a face
    ///        list), restricted to the points whose "any bit of \p pointFlags" equals
    ///        \p flagMatch when \p pointFlags is not 0.
    ///
    /// Unfiltered boxes (\p pointFlags 0) are cached until the points or faces change; a
    /// filtered box is always computed. With _BBoxNodeSpace every point is first transformed
    /// by the world matrix of \p node at the scene's current time (the node's own scene, time
    /// 0 for a detached node); such a box neither reads nor fills the caches.
    /// \return whether the box holds a point; false with an empty box for an empty object
    ///         (flag 16), for \p flags without bit 1 or 2, for _BBoxNodeSpace without a node,
    ///         and in the cases above.
    bool GetBoundingBox(C3DTBBox<float>& box, unsigned flags, unsigned pointFlags = 0,
                        bool flagMatch = true, C3DSceneNode* node = nullptr);
    /// \brief The same, giving the two corners.
    bool GetBoundingBox(C3DTPoint<float>& min, C3DTPoint<float>& max, unsigned flags,
                        unsigned pointFlags = 0, bool flagMatch = true,
                        C3DSceneNode* node = nullptr);
    /// \brief The centre of the box of all points (not the mean of the points).
    /// \return false without a point list.
    bool GetCG(C3DTPoint<float>& center);
    /// \}

    /// \name The scene's view of the geometry (C3DBaseObject virtuals)
    /// \{
    /// \brief GetBoundingBox with \p flags (bits 0x1 and 0x2 only) and \p extra as the point
    ///        flags (matched with true). \return false, \p min and \p max untouched, when
    ///        there is no box.
    bool GetObjectBoundingBox(C3DTPoint<float>& min, C3DTPoint<float>& max, unsigned flags,
                              unsigned extra) override;
    /// \brief GetCG; false, \p cg untouched, without a point list.
    bool GetObjectCG(C3DTPoint<float>& cg) override;
    int GetObjectPointNbr() const override { return GetPointNbr(); }
    int GetObjectFaceNbr() const override { return GetFaceNbr(); }
    /// \brief Adds the contents of GetMaterialsHashMap (brought up to date first) to
    ///        \p used. \return false, \p used unchanged, without a face list.
    bool GetUsedMaterials(CMaterialHashMap& used) override;
    /// \brief The "inherited" answer of GetSmoothAngle (\p mode false) or GetSmoothMode
    ///        (\p mode true).
    bool FollowsSceneSmoothing(bool mode) const override;
    /// \brief Swaps the points (C3DPointList::SwapCoordinates) and every channel (type mask
    ///        0xFFFF), then invalidates with 1. \return false, nothing changed, without a
    ///        point list, for an empty object or a code the point list rejects.
    bool SwapObjectCoordinates(unsigned code) override;
    /// \}

    /// \name Checks
    /// \{
    /// \brief The point list's checksum plus the face list's (0 for a missing list); with
    ///        bit 16 in \p flags, plus the lists of every channel without flags 0x9.
    ///
    /// The low four bits of \p flags choose the terms of the lists (point values 0x1, point
    /// flags 0x2, face indices 0x4, face chunks 0x8); none of them means all four.
    unsigned GetChecksum(unsigned flags) const override;
    /// \brief Whether no valid face whose "every bit of \p flags" equals \p state has more
    ///        than 3 corners. False for kinds other than 1 and 4, empty objects and without a
    ///        face list.
    bool IsTriangular(_FACE_PROPERTIES flags = _FACE_PROPERTIES(0), bool state = true) const;
    /// \}

    /// \name Normals (normals.h)
    /// \{
    /// \brief The face-normal channel, computed when stale. A channel is created and added
    ///        when the object has none and has a face list.
    /// \return null for curves and groups, without a face list and channel, or when the
    ///         normals cannot be computed. The object keeps the channel.
    CFaceNormalChannel* GetFaceNormalChannel();
    /// \brief The point-normal channel, computed when stale or when the effective smoothing
    ///        angle (GetSmoothAngle) differs from the one it was computed with; created and
    ///        added when absent, as for the face normals.
    /// \return null as GetFaceNormalChannel, and when the computation fails (a non-finite
    ///         coordinate, a memory shortage). The object keeps the channel.
    CPointNormalChannel* GetPointNormalChannel();
    /// \brief The first specified-normal channel, null when there is none (never created).
    CSpecNormalChannel* GetSpecNormalChannel() const;
    /// \brief Generates specified normals (CSpecNormalChannel::GenerateNormals with \p flags,
    ///        the effective smoothing angle and \p mode, 0 meaning the effective mode),
    ///        creating the channel when absent.
    /// \return whether corners got normals; false, with nothing changed, for an empty object
    ///         or without a face list and a point list.
    bool GenerateNormals(unsigned flags, _NormalSmoothMode mode);
    /// \}

    /// \name Operations
    /// Each returns false, with nothing changed, for an object with object flag 16 (empty)
    /// and when the lists it works on are missing.
    /// \{
    /// \brief Transforms the points and the channels (mask 0xFFFF); a mirroring matrix
    ///        (negative determinant of the 3 × 3 part) also flips every face.
    /// \return false, with nothing changed, when every element is within 0.005 of the
    ///         identity's or an element is not finite.
    bool MatrixTransform(const C4x4TMatrix<float>& matrix) override;
    /// \brief Reverses every valid face and the same faces of every channel face list
    ///        (channels with flags 0x9 left alone), then invalidates with 2.
    bool FlipNormals();
    /// \brief Replaces a material ID on every face (front and back); invalidates with 8 when
    ///        anything changed. \return whether anything changed.
    bool ReplaceMaterial(unsigned oldID, unsigned newID);
    /// \brief Replaces every material found as a key of \p mapping by its value, each face
    ///        looked up once (so a → b, b → c maps a to b).
    bool ReplaceMaterials(const CHashMap<unsigned, unsigned>& mapping);
    /// \brief The material IDs the usable faces (without _FaceInvalid or _FaceExcluded) use,
    ///        with their face counts; null without a face list.
    ///
    /// The map belongs to the object and is rebuilt when the face list changed since it was
    /// made (its change stamp), after an Invalidate with faces, materials or a copy (2, 8,
    /// 16), or always when \p update is true; after SetFaceMaterial on the list itself, ask
    /// with \p update. It stays valid until the
    /// next call or the object's end.
    virtual const CMaterialHashMap* GetMaterialsHashMap(bool update = false);
    /// \brief Removes repeated corners, invalid faces and unused points, with the channels in
    ///        step; sets object flag 16 when both lists end empty. Ends with FreeExtra.
    ///        Without a face list only the invalid points (flag 0x02) are removed.
    /// \return whether anything changed.
    virtual bool Clean();
    /// \brief Removes the channels that hold nothing: every channel with a face list, a type
    ///        in \p typeMask (0xFFFFFFFF: all) and neither _ChannelInvalid nor
    ///        _ChannelModified (a channel waiting to be recomputed is left alone), whose faces
    ///        all carry _FaceInvalid or _FaceExcluded.
    /// \param invalidate invalidate the object with 0x800 when a channel went.
    /// \return whether a channel was removed.
    bool CleanChannels(unsigned typeMask, bool invalidate);
    /// \brief Welds the points closer than \p tolerance (see ComputeWeldRemap in
    ///        processing/spatialmaps.h), rewrites the faces to the representatives (without
    ///        faces: marks the others with point flag 0x02), removes the points left unused
    ///        (Clean), welds the channels with tolerance 0 and removes empty channels.
    ///
    /// Reports progress ("Merging...", "Merging confused points") and logs its duration.
    /// \param tolerance a length when \p absolute, otherwise a fraction of the smallest
    ///        extent of the points' box above 1e-6.
    /// \param pairCount the number of (point-flag mask, mode) pairs that follow, \p mask
    ///        being the first mask (see _WELD_FILTER_MODE); ignored for a tolerance of 0.
    /// \return whether points or channels changed; false, with nothing changed, without a
    ///         point list, for a negative or non-finite tolerance, a non-finite coordinate or
    ///         when the host stops the progress.
    bool Weld3DPoints(double tolerance, bool absolute, unsigned pairCount = 0, unsigned mask = 0,
                      ...);
    /// \brief Weld3DPoints with the filter pairs in an array.
    bool Weld3DPoints(double tolerance, bool absolute, std::span<const CWeldFilter> filters);
    /// \brief Releases spare capacity of the lists and of every channel.
    void FreeExtra();

    /// \name Polygon operations
    /// Only for polygonal objects and patches (kinds 1 and 4) that are not empty and have a
    /// face list and a point list; each returns false (or -1) and changes nothing otherwise.
    /// \{
    /// \brief Splits into triangles the usable faces of more than three corners for which
    ///        "flags & \p properties equals \p properties" is \p match (0 and true: every
    ///        face), keeping the channels whose type is in \p channelMask in step and dropping
    ///        the others; empty channels are removed afterwards (CleanChannels).
    /// \return whether faces were split.
    bool Triangulate(unsigned channelMask = _ChannelAll,
                     _FACE_PROPERTIES properties = _FACE_PROPERTIES(0), bool match = true);
    /// \brief Splits the usable faces of more than four corners into triangles, leaving
    ///        triangles and quadrangles: marks those faces with the face flag 0x8000 and
    ///        runs Triangulate(0xFFFF, 0x8000, true); the mark is cleared again on the faces
    ///        that remain (the triangles of a split face carry it until then).
    /// \return whether faces were split.
    bool Quadrangulate();
    /// \brief Merges groups of adjacent coplanar faces (see C3DFaceList::MergeCoplanarFaces)
    ///        with normals within \p angle radians; channels whose type is in \p channelMask
    ///        follow, the others are removed when faces merged.
    /// \return the new face count, or -1 when stopped through progress or refused (the
    ///         object is then unchanged).
    int MergeCoplanarFaces(double angle, unsigned channelMask = _ChannelAll);
    /// \brief Orients the faces of each connected part alike, and the same channel faces
    ///        (channels with flags 0x9 left alone); invalidates with 2.
    /// \return false when the face-list walk fails.
    bool UnifyNormals();
    /// \brief Sorts the faces (and channel faces) by \p mode; invalidates with 2 when a face
    ///        moved. \return whether a face moved.
    bool SortFaces(_FACE_SORT_MODE mode);
    /// \}
    /// \name Texture coordinates and seams
    /// \{
    /// \brief Generates texture-coordinate channels from the projections of the diffuse maps
    ///        of the materials the faces use (planar, cylindrical, spherical, box), through
    ///        CreateUVWChannel for each material whose diffuse map has a projection of 2 or
    ///        more. Maps that read a channel (projection 0) or the environment (1) are left
    ///        alone, and so are the channels they read.
    /// \return whether a channel was generated; false, with nothing changed, without a scene,
    ///         a face list or materials with such maps.
    bool GenerateUVW(C3DScene* scene);
    /// \brief Merges the per-material texture channels into one global channel: for each
    ///        material of the faces whose diffuse map names a texture channel of this object,
    ///        the faces of that material take their coordinates from that channel (faces of
    ///        other materials get _FaceExcluded). The global channel is rebuilt only when
    ///        missing or stale (_ChannelInvalid); a stale one is removed. With
    ///        \p removeMerged the merged channels are removed. Invalidates with 0x800.
    /// \return the global channel ID; 0xFFFFFFFF, with nothing changed, for an empty object,
    ///         without a face list, a scene or a material map that names a channel here.
    unsigned GlobalizeChannels(C3DScene* scene, bool removeMerged);
    /// \brief Splits points where the channels of \p channelTypes (bits of _Channel3DType)
    ///        hold different values on the faces around them, so that each point carries one
    ///        value per channel.
    ///
    /// Considered are the channels with a face list, of types texture coordinates (1, exact
    /// comparison), vertex colours (4, exact), point normals (0x10, computed first with the
    /// effective smoothing angle) and specified normals (0x40, normals within 10 degrees
    /// count as one), channels with _ChannelInvalid left out; with 0x40 and a specified-normal
    /// channel, point normals are not considered. Points get the working marks
    /// _PointUVSeam, _PointVCSeam, _PointSpecNormalSeam and _PointNormalBreak (cleared first
    /// on every point). Around each marked point the faces are grouped so that faces with
    /// the same values stay together (a face that carries no value in a channel goes with any
    /// group); faces are taken in index order and the group of the lowest face keeps the
    /// point, each further group gets a copy of it (with its chunk values, and the values of
    /// per-point channels) that its faces use instead. Invalidates with 3 when points were
    /// split.
    /// \param a, b accepted for the scene-wide callers and not read.
    /// \return whether points were split; false, with nothing changed but the working marks
    ///         (and a point-normal channel computed for 0x10), for an empty object, without a
    ///         point or face list, or when no point needs splitting.
    bool DisconnectBorderFaces(unsigned channelTypes, unsigned a, unsigned b);
    /// \brief Renumbers channel IDs from \p renumber (old (ID, type) to new): the global
    ///        texture channel (as type 1) and the global vertex-colour channel (as type 4,
    ///        its factor reset to 1.0), then the maps of every material the faces use
    ///        (ChangeMaterialsChannelID; skipped without a scene). The channels themselves
    ///        keep their IDs. Invalidates with 0x800 when a global ID changed.
    /// \return whether a global ID changed.
    bool ChangeChannelID(C3DScene* scene, CHashMap<CChannelInfo, CChannelInfo>& renumber);
    /// \brief Splits the object into its isolated parts (faces connected through shared
    ///        points, found with a CIsolateFaceTagger): \p parts is emptied, then gets a new
    ///        object (SubObject, held by the caller) per part, unless there is a single part.
    /// \return the number of objects appended; 0 for one part, an empty object or without a
    ///         face list.
    int ExplodeIntoIsolatedParts(CXArray<C3DGeomObject*>& parts);
    /// \}
    /// \brief Takes the structure of \p source: the chunk structure of its point and face
    ///        lists (each when both objects have one), a copy of its channels
    ///        (CopyChannels with 0xFFFF, \p channelFlags), then its flags (InheritFlags).
    ///        \p pointFlags is passed on for point-list variants that use it.
    void Inherit(const C3DGeomObject& source, unsigned pointFlags, unsigned channelFlags);
    /// \brief A new C3DObject (held by the caller) made of the faces \p faces lists (in that
    ///        order), the points they use (in increasing index order) and their channel data.
    ///
    /// Per-corner channels keep the values their faces use; per-point channels keep the
    /// values of the points kept. Corners whose index lies outside their point list (possible
    /// on excluded faces) get index 0 and their face keeps its flags. The new object inherits
    /// the flags, custom data and settings of this one and gets its scene.
    /// \return null for a null or empty list, an index outside the faces, a repeated face,
    ///         no face or point list, or a memory shortage.
    C3DObject* SubObject(const int* faces, int count) const;
    /// \brief The sub-object of the faces without flags 0x01 and 0x02 whose corner count
    ///        equals \p pointNbr (_SubObjectEqual) or exceeds it (_SubObjectGreater).
    /// \return null for another mode, an empty face list or when no face is selected.
    C3DObject* SubObject(int pointNbr, _SUBOBJECT_MODE mode) const;
    /// \brief Appends the geometry of \p objects to this object.
    ///
    /// Skipped: null entries, this object itself, empty objects (flag 16), objects without a
    /// point list, and objects of which exactly one of the pair is a curve. Points come with
    /// their chunk values; faces with their flags, materials and chunk values, indices
    /// shifted past the points already present. Channels are matched by ID and type: a source
    /// channel without a match is added (keeping its ID) with faces flagged 3 (invalid and
    /// excluded) for the faces that were there before; a channel of this object that a source
    /// lacks gets faces flagged 3 for that source's faces (per-point channels get default
    /// values). With a \p filter, each face of a source is offered to its ProcessFace: a
    /// face it rejects is not appended, nor are the points (and the channel values) that only
    /// rejected faces use; points that no face uses are appended as without a filter, and the
    /// channels stay in step with the faces kept. Null appends everything. \p scene is not
    /// read.
    /// \return whether anything was appended; on a memory shortage false, with the lists
    ///         and channels cut back to their former lengths.
    bool Concatenate(C3DScene* scene, const CXArray<C3DGeomObject*>& objects,
                     const C3DFilter* filter);
    /// \}

    /// \name Copies and storage
    /// \{
    /// \brief Copies the geometry into \p target (made by \p creator, a default one when
    ///        null, when \p target is null): deep copies of the point and face lists, the
    ///        channels (IDs kept, channels with _ChannelNoFaceEdit left out), then the base
    ///        part. With _CopyInstance only the base part runs.
    /// \return false for a target of an incompatible kind (kinds 1 and 4 go together, 2 only
    ///         with 2) or when no target can be made.
    bool InternalCopy(C3DBaseObject*& target, int flags, C3DObjectCreator* creator) const override;
    /// \brief The base part (flags, custom data, ID with _CopyOtherScene) and, from a
    ///        geometric source, the smoothing, face-mode and global channel settings (and a
    ///        curve's material ID from a curve).
    void InheritFlags(const C3DBaseObject& source, int flags) override;
    /// \throw CXArchiveException for a truncated or malformed archive (the object is left as
    ///        it was).
    void Serialize(CXArchive& ar) override;
    /// \}

protected:
    explicit C3DGeomObject(_OBJECT_KINDOF kind);
    /// \brief A shallow copy: every field, list pointers included (no holder is added).
    C3DGeomObject(const C3DGeomObject& src);
    /// \brief Serialize with \p tail run on the archive after the geometric part; when
    ///        loading, nothing is replaced unless \p tail also succeeds.
    void SerializeWith(CXArchive& ar, const std::function<void(CXArchive&)>& tail);
    /// \brief Writes the texture coordinates that \p map's projection (2 to 5) gives the faces
    ///        of material \p materialID into the texture channel the map names.
    ///
    /// A map without a channel ID gets a new one. A missing channel is created with
    /// _ChannelNoFaceEdit (generated) and faces shaped like the object's, all _FaceExcluded;
    /// a channel whose face count differs from the object's is emptied so. The faces of the
    /// material get their coordinates (flags cleared); the others keep theirs, or lose them
    /// (_FaceExcluded) when \p reset. Texture points no face uses any more are removed.
    /// \return the channel ID; 0xFFFFFFFF, with nothing changed (the map's ID included), for
    ///         objects other than kinds 1 and 4, an empty object, without lists, for another
    ///         projection, a non-finite coordinate of a point of those faces or of the map's
    ///         transform, or when no face has the material.
    unsigned CreateUVWChannel(CMaterialMap* map, unsigned materialID, bool reset);
    /// \brief A new texture channel (held by the caller) shaped like the face list: each face
    ///        takes the face and values of the channel that \p sources names for the face's
    ///        material (channel ID, material ID); faces without one get _FaceExcluded.
    /// \return null for \p type other than _ChannelUVW, without a face list or when a
    ///         material names two channels.
    CChannel* MakeGlobalChannel(CHashTable<CMapChannelID>& sources, _Channel3DType type);
    /// \brief C3DMaterial::ChangeChannelID, fed from \p renumber, on every material of
    ///        \p scene that the faces use. \return the number of materials asked.
    unsigned ChangeMaterialsChannelID(C3DScene* scene,
                                      CHashMap<CChannelInfo, CChannelInfo>& renumber);

private:
    bool IsEmptyObject() const { return IsFlagSet(_ObjectEmpty); }
    bool ComputeBox(C3DTBBox<float>& box, unsigned flags, unsigned pointFlags, bool flagMatch);
    bool AppendSource(const C3DGeomObject& source);
    /// \brief Appends the faces of \p from to \p to with their flags and chunk values, every
    ///        index raised by \p shift.
    static bool AppendFaces(CFaceList& to, const CFaceList& from, int shift);
    /// \brief Appends faces shaped like those of \p model, flagged 3, every index 0.
    static bool AppendMissingFaces(CFaceList& to, const CFaceList& model);

    C3DTBBox<float> m_PointsBox;
    C3DTBBox<float> m_FacesBox;
    float m_SmoothAngle = -1.0f;
    _NormalSmoothMode m_SmoothMode = _SmoothModeScene;
    _faceModeEnum m_FaceMode = _FaceModeDefault;
    C3DFaceList* m_FaceList = nullptr;
    C3DPointList* m_PointList = nullptr;
    CDependentChannels* m_Channels = nullptr;
    std::unique_ptr<CMaterialHashMap, void (*)(CMaterialHashMap*)> m_Materials{nullptr, nullptr};
    const C3DFaceList* m_MaterialsFaces = nullptr; ///< the list the map was made from
    unsigned m_MaterialsStamp = 0;                 ///< and its change stamp then
    unsigned m_GlobalUVWChannel = kZanNone;
    unsigned m_GlobalVCChannel = 0;
    float m_GlobalVCFactor = 1.0f;
};

/// \brief The tagger of ExplodeIntoIsolatedParts: each group that does not hold every usable
///        face of the object becomes a sub-object appended to the output array.
class ZAN_API CIsolateFaceTagger : public CFaceTagger
{
public:
    /// \param object the object whose faces are walked (its own face list).
    /// \param parts receives the sub-objects (held by the caller).
    CIsolateFaceTagger(const C3DGeomObject& object, CXArray<C3DGeomObject*>& parts);
    ~CIsolateFaceTagger() override;
    /// \brief Needs the object's face list as the list walked; counts its usable faces.
    bool InitProcess(CGeomInfo* geom) override;
    void EndGroup(const int* faces, int count) override;
    /// \brief Sub-objects appended so far.
    int GetPartNbr() const { return m_Appended; }

private:
    const C3DGeomObject& m_Object;
    CXArray<C3DGeomObject*>& m_Parts;
    int m_UsableNbr = 0;
    int m_Appended = 0;
};

/// \brief For each point of \p object, the texture point that corners of the texture channel
///        \p channelID use there (the last such corner in face order), -1 when none does.
///        Faces with _FaceInvalid, and channel faces with _FaceInvalid or _FaceExcluded or
///        another corner count, are left out.
/// \param count receives the array's length (the point count), 0 when null is returned.
/// \return null without such a channel, without points or faces, or when no face counts.
ZAN_API std::unique_ptr<int[]> GetUVVertexFromUVFace(C3DGeomObject* object, unsigned channelID,
                                                     int& count);

/// \brief A polygonal mesh (kind 1).
class ZAN_API C3DObject : public C3DGeomObject
{
    ZAN_DECLARE_DYNCREATE(C3DObject)

public:
    /// \brief An empty mesh: no lists, an empty channel set.
    C3DObject();
    ~C3DObject() override;

    /// \brief Gives the object new lists: \p faceNbr faces of \p pointsPerFace corners (all
    ///        holding index 0) and \p pointNbr points; when \p uvWanted and \p uvPointNbr is
    ///        not 0, a texture-coordinate channel \p uvChannelID (0xFFFFFFFF: a new ID) with
    ///        \p uvPointNbr values and faces shaped like the object's. Lists the object had
    ///        are released. Invalidates with 19.
    /// \return false, with nothing changed, for a negative count, a corner count above
    ///         65 535 or a memory shortage.
    bool Init(int pointNbr, int faceNbr, int pointsPerFace, int uvWanted, int uvPointNbr,
              unsigned uvChannelID);
};

/// \brief A curve (kind 2): points, usually no faces, and a material.
class ZAN_API C3DCurve : public C3DGeomObject
{
    ZAN_DECLARE_DYNCREATE(C3DCurve)

public:
    C3DCurve();
    ~C3DCurve() override;
    unsigned GetMaterialID() const { return m_MaterialID; }
    void SetMaterialID(unsigned id) { m_MaterialID = id; }
    /// \brief The geometric object's archive followed by the material ID (u32).
    void Serialize(CXArchive& ar) override;

private:
    unsigned m_MaterialID = 0;
};
