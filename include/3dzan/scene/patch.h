/// \file patch.h
/// \brief C3DPatch, a geometric object whose points and faces form a control mesh and whose
///        drawn and exported form is a subdivided copy of it, its final object.
#pragma once

#include <3dzan/scene/geomobject.h>

#include <cstdint>

/// \brief A subdivision patch (kind 4).
///
/// The patch's own lists are the control mesh. Its final object, a C3DObject, is the control
/// mesh subdivided a number of times (the level): triangles by the Loop rules, quadrangles by
/// the Catmull-Clark rules, larger polygons carried over unchanged (see CSubdivider for the
/// rules and the numbering). Channels follow: per-corner channels are subdivided linearly on
/// their own sides, so texture seams stay seams; per-point channels follow the points.
///
/// *Lifetime of the final object.* It is built by SetLevel or on demand by GetFinalObject and
/// released with the patch. A change of the control mesh (Invalidate with points, faces,
/// materials or a copy) raises the update flag 0x20000; the next Update with that flag, or
/// the next GetFinalObject, drops the stale final object, and GetFinalObject then rebuilds it
/// at the level it had (at the preferences' level when no level was ever chosen).
///
/// Copies and archives hold the control mesh only (the level is not archived): a copied or
/// loaded patch has no final object until one is asked for.
class ZAN_API C3DPatch : public C3DGeomObject
{
    ZAN_DECLARE_DYNCREATE(C3DPatch)

public:
    /// \brief The highest level SetLevel accepts; higher levels are taken as this one.
    static constexpr int kMaxLevel = 8;
    /// \brief The update flag that marks the final object as stale.
    static constexpr unsigned kUpdatePatch = 0x20000;

    C3DPatch();
    ~C3DPatch() override;

    /// \brief Subdivides the control mesh \p level times (clamped to [0, 8]) into a new final
    ///        object when \p level differs from the current one.
    /// \return whether a new final object was built.
    bool SetLevel(int level);
    /// \brief SetLevel with \p level (levels above 8 are taken as 8): what the scene's
    ///        SetPatchLevel calls on each patch. \return whether a new final object was built.
    bool SetPatchLevel(unsigned level) override;
    /// \brief The level of the current final object, -1 when there is none.
    int GetLevel() const { return m_Level; }

    /// \brief A patch is not drawn itself: its final object is.
    bool IsFinalObject() const override { return false; }
    /// \brief The final object, built first when there is none (or it is stale); null when
    ///        the patch has no control mesh or the build fails. With \p detach the caller takes
    ///        the object (release it with DeleteMe) and the patch forgets it.
    C3DBaseObject* GetFinalObject(bool detach) override;
    /// \brief A new C3DObject copy of the control mesh (its lists, channels and flags), owned
    ///        by the caller; null when the copy fails.
    C3DObject* GetSourceObject() const;

    /// \brief The number of faces subdividing \p object \p level times gives: its face count
    ///        for level 0; otherwise 4^level for every valid triangle and quadrangle (invalid
    ///        faces and larger polygons count 0). 0 for a null object.
    static uint64_t EstimateLevel(const C3DObject* object, unsigned level);

    /// \brief Raises the update flag 0x20000 when \p flags have points, faces, materials or a
    ///        copy (1, 2, 8, 16), then invalidates as every geometric object does.
    void Invalidate(unsigned flags, bool set) override;
    /// \brief Forwarded to the final object; false without one.
    bool InvalidateChannels(unsigned mask) override;
    /// \brief With 0x20000 in \p flags and pending, drops the final object; then the
    ///        geometric object's update. Returns the OR of both.
    bool Update(C3DScene* scene, unsigned flags) override;

protected:
    /// \brief Drops the final object (level -1). \return whether there was one.
    bool ReleasePatch();
    /// \brief Builds the final object at \p level (which must be in [0, 8]).
    bool Subdivide(int level);
    /// \brief One Loop level of the triangle mesh \p object, in place.
    static bool Subdivide3(C3DObject* object);
    /// \brief One Catmull-Clark level of the quadrangle mesh \p object, in place.
    static bool Subdivide4(C3DObject* object);

private:
    int m_Level = -1;
    C3DObject* m_FinalObject = nullptr;
    int m_LastLevel = -1; ///< level to rebuild at after the final object went stale
};
