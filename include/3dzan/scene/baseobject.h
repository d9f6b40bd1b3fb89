/// \file baseobject.h
/// \brief C3DBaseObject, what every object a scene node carries shares: the kind, the object
///        flags, the update flags with their time stamps, the custom-data bag, the object ID,
///        instancing by reference, copying, checksums and serialization.
///
/// The concrete non-geometric kinds (C3DGroup, C3DDummy, C3DCamera, C3DLight) live in
/// group.h, camera.h and light.h; the geometric objects derive from this class in the
/// processing layer. This header stays free of everything above the animation layer.
///
/// *Object IDs.* Every construction takes the next value of a process-wide counter that
/// starts at 1. Loading an object whose archived ID is not below the counter moves the counter
/// past that ID, so IDs stay unique after loading. The counter skips 0xFFFFFFFF ("none").
///
/// *Instances.* A node holds its object by reference: an instance copy (Copy with
/// _CopyInstance) returns the object itself with one more holder and one more instance; each
/// node lets go of it with DeleteFromNode, and the last one destroys it. Never `delete` an
/// object: release it with Delete, DeleteMe or DeleteFromNode.
///
/// *Archive layout* (Serialize): the object flags (u32), the object ID (u32), then the custom
/// data (CCustomData::Serialize). The kind is not archived: it comes from the class that the
/// archive recreates.
#pragma once

#include <3dzan/animation/math.h>
#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/xobject.h>
#include <3dzan/foundation/xstring.h>

#include <cstdint>

class CMaterialHashMap;
class C3DScene;
class C3DObjectCreator;
class C3DBaseObject;
class C3DGroup;
class C3DDummy;
class C3DCamera;
class C3DLight;
class C3DGeomObject;
class C3DObject;
class C3DCurve;

/// \brief The kind of an object: one bit per concrete class.
enum _OBJECT_KINDOF : unsigned
{
    _ObjectKindNone = 0,      ///< a bare C3DBaseObject
    _ObjectKindPolygonal = 1, ///< C3DObject
    _ObjectKindCurve = 2,     ///< C3DCurve
    _ObjectKindPatch = 4,     ///< C3DPatch
    _ObjectKindGroup = 8,     ///< C3DGroup
    _ObjectKindDummy = 16,    ///< C3DDummy
    _ObjectKindCamera = 32,   ///< C3DCamera
    _ObjectKindLight = 64,    ///< C3DLight
    _ObjectKindGeometric = 7, ///< mask of the geometric kinds
    _ObjectKindAll = 0x7F     ///< mask of every kind
};

/// \brief Object flags (IsFlagSet, SetFlag).
enum _OBJECT_PROPERTIES : unsigned
{
    _ObjectEmpty = 16,    ///< a geometric object without points or faces; most operations skip it
    _ObjectNoShading = 32 ///< drawn without the scene's shading mode (cameras and lights)
};

/// \brief Update flags: the high half-word holds update kinds (each with a time stamp), the
///        low half-word the invalidation bits of the concrete classes.
enum _OBJECT_UPDATE_PROPERTIES : unsigned
{
    _ObjectUpdateDisplay = 0x800,   ///< channels or display changed (Invalidate)
    _ObjectUpdateCreated = 0x10000, ///< set on construction
    _ObjectUpdateFinal = 0x20000,   ///< the final object is to be rebuilt
    _ObjectUpdateUVW = 0x40000,     ///< texture coordinates to regenerate
    _ObjectUpdateKindMask = 0xFFFF0000u,
    _ObjectUpdateNeeded = 0x0FFE0000u ///< kinds that NeedUpdate reports
};

/// \brief Copy flags understood by the objects (scene and node copies add their own bits and
///        pass them through).
enum _OBJECT_COPY_FLAGS : int
{
    _CopyInstance = 0x10,   ///< share the object itself instead of copying it
    _CopyOtherScene = 0x200 ///< copy into another scene: keep the object ID, leave the scene
};

/// \brief The base of every object a scene node carries.
///
/// A plain C3DBaseObject has kind 0; the concrete classes set their kind on construction.
/// All parameters of the non-geometric kinds live in the custom-data bag, which travels with
/// the object in archives and copies.
class ZAN_API C3DBaseObject : public CXObject, public CInstanciatedObject
{
    ZAN_DECLARE_DYNCREATE(C3DBaseObject)

public:
    /// \brief Number of update stamps, one per update kind 0x10000 × (i + 1).
    static constexpr int kUpdateStampNbr = 32;

    /// \brief An object of kind 0 with the next object ID.
    C3DBaseObject();
    ~C3DBaseObject() override;
    C3DBaseObject& operator=(const C3DBaseObject&) = delete;

    /// \brief A new object of the class of \p kind (one holder, the caller's), null for a value
    ///        that is not exactly one kind bit. The class is looked up among the declared
    ///        runtime classes, so a geometric kind gives null until its class is declared.
    static C3DBaseObject* Create(_OBJECT_KINDOF kind);
    /// \brief The next object ID the counter will hand out (what a new object gets).
    static unsigned GetNextObjectID();

    /// \name Identity
    /// \{
    _OBJECT_KINDOF GetKindOf() const { return m_Kind; }
    unsigned GetObjectID() const { return m_ObjectID; }
    /// \brief Whether the kind is one of the geometric kinds (intersects 7).
    bool IsGeomObject() const { return (m_Kind & _ObjectKindGeometric) != 0; }
    /// \brief The display name of the kind from the string table ("Camera", "Light", ...);
    ///        empty for kind 0 and unknown kinds.
    CXTString GetTypeString() const;
    /// \brief The scene the object belongs to; not owned, may be null.
    C3DScene* GetScene() const { return m_Scene; }
    void SetScene(C3DScene* scene) { m_Scene = scene; }
    /// \}

    /// \name Typed views: the object itself when its kind matches, else null
    /// \{
    operator C3DGroup*();
    operator const C3DGroup*() const;
    operator C3DDummy*();
    operator const C3DDummy*() const;
    operator C3DCamera*();
    operator const C3DCamera*() const;
    operator C3DLight*();
    operator const C3DLight*() const;
    operator C3DObject*();
    operator const C3DObject*() const;
    operator C3DCurve*();
    operator const C3DCurve*() const;
    /// \brief The object as a geometric object when its kind intersects 7 (and it is one).
    operator C3DGeomObject*();
    operator const C3DGeomObject*() const;
    /// \}

    /// \name Flags and updates
    /// \{
    /// \brief Whether every bit of \p flags (_OBJECT_PROPERTIES) is set.
    bool IsFlagSet(unsigned flags) const { return (m_Flags & flags) == flags; }
    /// \brief Sets or clears the bits of \p flags.
    void SetFlag(unsigned flags, bool set);
    unsigned GetFlags() const { return m_Flags; }
    unsigned GetUpdateFlags() const { return m_UpdateFlags; }
    /// \brief Whether every bit of \p flags is set in the update flags.
    bool IsInvalidate(unsigned flags) const { return (m_UpdateFlags & flags) == flags; }
    /// \brief The time (milliseconds of a steady clock) of the last update of \p kind: the
    ///        stamp at index kind / 0x10000 - 1, so 0x10000, 0x20000 and 0x40000 read stamps
    ///        0, 1 and 3. 0 for a kind whose index falls outside the 32 stamps.
    int64_t GetUpdateStamp(unsigned kind) const;
    /// \brief Whether an update kind of 0x0FFE0000 is pending.
    virtual bool NeedUpdate() const;
    /// \brief Runs the pending updates of \p kinds: stamps 0x10000, 0x20000 and 0x40000 when
    ///        present, then clears the high half-word bits of \p kinds. The base does no other
    ///        work and returns false (nothing rebuilt).
    virtual bool Update(C3DScene* scene, unsigned kinds);
    /// \brief Records a change: with \p set and any of the low 16 bits in \p mask, the update
    ///        flags gain 0x800; otherwise the bits of \p mask are cleared from them.
    virtual void Invalidate(unsigned mask, bool set);
    /// \brief Invalidates attribute channels; objects without channels have none (false).
    virtual bool InvalidateChannels(unsigned mask);
    /// \}

    /// \name Final object
    /// \{
    /// \brief Whether the object is drawn as it is (true here; cameras and lights are drawn
    ///        through their display mesh, patches through their tessellation).
    virtual bool IsFinalObject() const;
    /// \brief The object that is drawn: the object itself here. \p detach is for objects that
    ///        hand their final object over.
    virtual C3DBaseObject* GetFinalObject(bool detach);
    /// \brief Transforms the geometry; only geometric objects can be transformed (false here).
    virtual bool MatrixTransform(const C4x4TMatrix<float>& matrix);
    /// \}

    /// \name Geometry as the scene sees it
    /// The scene and its nodes reach the geometry of an object only through these calls, so
    /// that the scene layer does not depend on the geometric classes. Objects without geometry
    /// (groups, dummies, cameras, lights) keep the answers of the base: no box, no centre, no
    /// points, faces or materials, nothing to swap. The geometric objects override them.
    /// \{
    /// \brief The box of the object in its own axes; \p flags and \p extra as the geometric
    ///        objects' GetBoundingBox takes them (0x1 points, 0x2 points used by faces).
    /// \return false, \p min and \p max untouched, when the object has no box (the base).
    virtual bool GetObjectBoundingBox(C3DTPoint<float>& min, C3DTPoint<float>& max,
                                      unsigned flags, unsigned extra);
    /// \brief The centre of the object in its own axes; false (untouched) without one.
    virtual bool GetObjectCG(C3DTPoint<float>& cg);
    /// \brief Point and face counts of the geometry; 0 for the base.
    virtual int GetObjectPointNbr() const;
    virtual int GetObjectFaceNbr() const;
    /// \brief Adds to \p used one count per face for each material ID the object's faces use.
    /// \return false, \p used unchanged, when the object has no faces (the base).
    virtual bool GetUsedMaterials(CMaterialHashMap& used);
    /// \brief Whether the object's smoothing angle (with \p mode false) or smoothing mode
    ///        (\p mode true) follows the scene's value; false for the base.
    virtual bool FollowsSceneSmoothing(bool mode) const;
    /// \brief Gives a patch its subdivision level; false for every other object.
    virtual bool SetPatchLevel(unsigned level);
    /// \brief Swaps the coordinates of the points and of every channel with an axis swap code
    ///        (math.h); false, nothing changed, for objects without points (the base).
    virtual bool SwapObjectCoordinates(unsigned code);
    /// \}

    /// \name Parameters
    /// \{
    CCustomData& GetCustomData() { return m_CustomData; }
    const CCustomData& GetCustomData() const { return m_CustomData; }
    /// \brief Checksum of the custom data without the ids given as arguments (a list ended by
    ///        0; pass 0 alone to keep every id).
    ///
    /// For each id of the bag, in index order, that is not skipped: the id's own checksum
    /// (CCustomData::GetChecksum(id)) plus the low 32 bits of Thomas Wang's 64-bit mix of
    /// (id << 32 | kind of the entry). Sums wrap modulo 2^32; 0 for an empty bag.
    unsigned GetCustomDataChecksum(unsigned firstSkippedId, ...) const;
    /// \brief The same with the skipped ids in an array of \p count ids.
    unsigned GetCustomDataChecksumSkipping(const unsigned* skipped, size_t count) const;
    /// \brief A checksum of the object; the base gives the kind shifted left by 4. \p flags
    ///        selects optional parts in the geometric objects.
    virtual unsigned GetChecksum(unsigned flags) const;
    /// \}

    /// \name Instances and copies
    /// \{
    /// \brief Number of nodes that use this very object (1 on construction).
    int GetInstanceNbr() const { return m_InstanceNbr; }
    /// \brief Whether more than one node uses the object.
    bool IsInstanciated() const { return m_InstanceNbr > 1; }
    /// \brief A node lets go of the object: the instance count goes down when above 1, then
    ///        one holder is dropped (Delete).
    /// \return true when the object was destroyed (do not touch it afterwards).
    virtual bool DeleteFromNode();

    /// \brief A copy of the object made through \p creator (a local default creator when
    ///        null). With _CopyInstance the result is the object itself, shared.
    /// \return the copy, held by the caller; null when the copy failed (nothing is left
    ///         allocated).
    C3DBaseObject* Copy(int flags, C3DObjectCreator* creator = nullptr) const;
    /// \brief Copies this object into \p target, creating it through \p creator when null.
    ///
    /// With a null target and _CopyInstance the target becomes this object (one more holder,
    /// one more instance). Otherwise a missing target is made by the creator's
    /// GetNewObjectFrom; unless _CopyOtherScene is set the target's scene becomes this
    /// object's; last the target inherits the flags and the custom data (InheritFlags).
    /// \return false when no target could be made (a target made here is then in \p target,
    ///         for the caller to release).
    virtual bool InternalCopy(C3DBaseObject*& target, int flags, C3DObjectCreator* creator) const;
    /// \brief Takes over the object flags and the custom data of \p source; with
    ///        _CopyOtherScene also its object ID.
    virtual void InheritFlags(const C3DBaseObject& source, int flags);
    /// \}

    /// \name Storage
    /// \{
    /// \brief Stores or loads the object flags, the object ID and the custom data.
    ///
    /// Loading reads everything before it changes the object, then raises the object counter
    /// past the loaded ID. The update flags, the instance count and the scene stay as they
    /// are.
    /// \throw CXArchiveException when the archive is truncated or malformed (_BadValue for the
    ///        ID 0xFFFFFFFF); the object is then left as it was.
    void Serialize(CXArchive& ar) override;
    /// \brief Called by the owner before Serialize; does nothing here.
    virtual void PreSerialize(CXArchive& ar, bool storing);
    /// \brief Called by the owner after Serialize; invalidates everything (0xFFFF).
    virtual void PostSerialize(CXArchive& ar, bool storing);
    /// \}

protected:
    /// \brief An object of \p kind with the next object ID.
    explicit C3DBaseObject(_OBJECT_KINDOF kind);
    /// \brief A copy of the kind, flags, update flags and stamps, custom data and scene, with
    ///        a new object ID, one holder and one instance.
    C3DBaseObject(const C3DBaseObject& src);

    /// \brief With \p set, adds the update kinds (high half-word) of \p kinds to the update
    ///        flags; otherwise stamps and clears them as Update does.
    void SetUpdateFlags(unsigned kinds, bool set);
    /// \brief Puts back the flags, ID and custom data saved before a load that failed in a
    ///        derived class's part (the counter stays past the ID that was read).
    void RestoreIdentity(unsigned flags, unsigned id, CCustomData&& data);

private:
    static unsigned TakeNextObjectID();
    static void RaiseObjectCounter(unsigned loadedID);

    _OBJECT_KINDOF m_Kind = _ObjectKindNone;
    unsigned m_Flags = 0;
    unsigned m_UpdateFlags = _ObjectUpdateCreated;
    int64_t m_UpdateStamps[kUpdateStampNbr] = {};
    CCustomData m_CustomData;
    unsigned m_ObjectID = kZanNone;
    int m_InstanceNbr = 1;
    C3DScene* m_Scene = nullptr;
};
