/// \file normals.h
/// \brief The three normal channels of a geometric object (face normals, smoothed point
///        normals, specified normals) and CFaceNormalContributionInfo, the weighting engine
///        that says how much a face adds to the normal at one of its corners.
///
/// *Lazy recomputation.* Face and point normals are derived from the geometry: they are stale
/// (_ChannelModified) after creation and after C3DGeomObject::InvalidateChannels with their
/// type bit, and the next InitNormals recomputes them. A point-normal channel also recomputes
/// when it is asked for with another smoothing angle. Both answer true to CanBeRecomputed, so
/// archives leave them out. Specified normals belong to the model: they are archived, and a
/// recomputation only touches their vectors that carry _NormalComputed.
///
/// *Weighting modes* (_NormalSmoothMode): 1 unweighted (the face's unit normal), 2 area (the
/// unnormalised Newell normal, whose length is twice the face's area), 3 edge length (the
/// unnormalised normal divided by |e1|² |e2|², e1 and e2 the two sides at the corner; nothing
/// at a corner with a zero-length side),
/// 4 angle (the unit normal times the face's angle at the corner). Any other value counts as
/// area weighting; 0 ("the scene's mode") is resolved by the object before it gets here.
///
/// *Threads.* Nothing here is shared between objects: different objects may be computed on
/// different threads at once. One object's channels are not guarded.
#pragma once

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>

#include <vector>

enum _NormalSmoothMode : unsigned;
class CSpecNormalChannel;

/// \brief Point flags of geometry points and of normal vectors used by the normal code.
enum _NORMAL_POINT_FLAGS : unsigned
{
    _NormalReused = 0x02,     ///< a vector that a regeneration replaced at a corner
    _NormalUndefined = 0x04,  ///< the normal is undefined: left out of comparisons, regenerated
    _NormalComputed = 0x08,   ///< the vector is computed from the faces that use it
    _PointNormalBreak = 0x8000 ///< geometry point where the smoothed normals break
};

/// \brief Flags of CSpecNormalChannel::GenerateNormals.
enum _NORMAL_GENERATE_FLAGS : unsigned
{
    _GenerateEmptyFaces = 0x01, ///< give normals to the normal faces that have none
    _GenerateUndefined = 0x02,  ///< regenerate the corners whose normal is undefined
    _GenerateShare = 0x04,      ///< corners of a point smoothed with all its faces share one
                                ///< vector (and the point-to-face graph is built for the call)
    _GenerateFlat = 0x08        ///< flat normals: one vector per face, its unit normal
};

/// \brief How much a face adds to the normal at one of its corners, in one weighting mode.
///
/// Built for one topology context and mode; the mode's weighting function is chosen once
/// (InitNormalCallback) and called as a plain function. For modes 2 and 3 the constructor
/// computes every face's unnormalised normal once. Positions come from the context's source
/// point list (a C3DPointList), faces from its source face list.
class ZAN_API CFaceNormalContributionInfo
{
public:
    /// \brief The weighting function: adds the current corner's contribution to \p sum.
    using Callback = void (*)(const CFaceNormalContributionInfo& info, C3DTVector<float>& sum);

    /// \brief An engine for \p geom (not owned; it must outlive the engine) and \p mode.
    CFaceNormalContributionInfo(const CGeomInfo* geom, _NormalSmoothMode mode);
    virtual ~CFaceNormalContributionInfo();
    CFaceNormalContributionInfo(const CFaceNormalContributionInfo&) = delete;
    CFaceNormalContributionInfo& operator=(const CFaceNormalContributionInfo&) = delete;

    /// \brief Whether the context has a C3DPointList and a face list to read.
    bool IsValid() const { return m_Points != nullptr && m_Faces != nullptr; }
    /// \brief The mode as given (values other than 1, 3 and 4 weigh by area).
    _NormalSmoothMode GetMode() const { return m_Mode; }
    /// \brief Selects the weighting function of \p mode.
    void InitNormalCallback(_NormalSmoothMode mode);

    /// \brief Makes corner \p position of face \p face current, with \p unitNormal the face's
    ///        unit normal.
    /// \return false, with no corner current, for a face or position out of range, a face
    ///         with fewer than three corners or an index outside the points.
    bool SetCorner(unsigned face, unsigned position, const C3DTVector<float>& unitNormal);
    /// \brief SetCorner at the first corner of \p face that uses point \p point.
    bool SetCornerAtPoint(unsigned face, int point, const C3DTVector<float>& unitNormal);
    /// \brief Adds the current corner's contribution to \p sum (nothing without one).
    void AddContribution(C3DTVector<float>& sum) const
    {
        if (m_HasCorner)
            m_Callback(*this, sum);
    }

    /// \name The weighting functions
    /// \{
    static void NormalUnweight(const CFaceNormalContributionInfo& info, C3DTVector<float>& sum);
    static void NormalAreaWeight(const CFaceNormalContributionInfo& info, C3DTVector<float>& sum);
    static void NormalEdgeWeight(const CFaceNormalContributionInfo& info, C3DTVector<float>& sum);
    static void NormalAngleWeight(const CFaceNormalContributionInfo& info, C3DTVector<float>& sum);
    /// \}

private:
    const CGeomInfo* m_Geom = nullptr;
    const CFaceList* m_Faces = nullptr;
    const C3DPointList* m_Points = nullptr;
    _NormalSmoothMode m_Mode;
    std::vector<float> m_RawNormals; ///< 3 floats per face, modes 2 and 3 only
    unsigned m_Face = 0;
    int m_Point = -1;
    unsigned m_Position = 0;
    const int* m_Indexes = nullptr;
    unsigned m_Count = 0;
    C3DTVector<float> m_UnitNormal;
    C3DTVector<float> m_Edge1; ///< previous point - corner point
    C3DTVector<float> m_Edge2; ///< next point - corner point
    Callback m_Callback = nullptr;
    bool m_HasCorner = false;
};

/// \brief Face normals (channel type 32): one unit normal per face in a C3DVectorList.
///
/// Created stale with channel flags 2 and 4. Faces with _FaceInvalid or _FaceExcluded keep
/// whatever their entry holds.
class ZAN_API CFaceNormalChannel : public CChannel
{
    ZAN_DECLARE_DYNCREATE(CFaceNormalChannel)

public:
    explicit CFaceNormalChannel(unsigned id = kZanNone);
    ~CFaceNormalChannel() override;
    C3DVectorList* GetNormalVectorList() const;

    /// \brief Recomputes the normals when the channel is stale (flag 1 or 4): the list is
    ///        sized to the face count and each usable face gets its unit Newell normal
    ///        ((1, 0, 0) for a degenerate face).
    /// \return false without a face list, a C3DPointList or faces in \p geom, or when memory
    ///         is short (the list is then left as it was); true otherwise.
    bool InitNormals(const CGeomInfo* geom);

    /// \brief Marks the channel stale (the normals follow the geometry on the next request).
    bool MatrixTransform(const C4x4TMatrix<float>& matrix) override;
    bool SwapCoordinates(unsigned swapCode) override;
    /// \brief Drops the entries of removed faces (when \p faceRemap has one entry per normal)
    ///        and marks the channel stale. \return whether anything changed.
    bool Clean(const CGeomInfo* geom, CXArray<unsigned int, unsigned int>* faceRemap,
               CXArray<unsigned int, unsigned int>* pointRemap) override;
    /// \brief True: face normals are rebuilt from the geometry, never archived.
    bool CanBeRecomputed() const override;

protected:
    CChannel* Duplicate(bool keepID) const override;
    const CXRuntimeClass* GetPointListClass() const override;
    const CXRuntimeClass* GetFaceListClass() const override;
    CPointList* NewPointList() const override;
};

/// \brief Smoothed point normals (channel type 16): distinct normals stored once in a
///        C3DVectorList, and a CNormalFaceList giving each corner of each face its normal.
///
/// Created stale with channel flags 2, 4 and 8; the smoothing angle starts at 1.0 radian.
class ZAN_API CPointNormalChannel : public CChannel
{
    ZAN_DECLARE_DYNCREATE(CPointNormalChannel)

public:
    explicit CPointNormalChannel(unsigned id = kZanNone);
    ~CPointNormalChannel() override;
    C3DVectorList* GetNormalVectorList() const;
    CNormalFaceList* GetNormalFaceList() const;
    /// \brief The angle (radians) the normals were last computed with.
    float GetSmoothAngle() const { return m_SmoothAngle; }

    /// \brief Recomputes the smoothed normals when \p angle differs from the last one or the
    ///        channel is stale.
    ///
    /// Around each point the faces are grouped from a seed face: a face joins the group when
    /// its normal lies within \p angle of the seed's (not of the other members'); faces left
    /// out start later groups, and the point gets _PointNormalBreak. Each group's weighted sum
    /// (mode of \p geom's object, else of its scene) is normalised (a sum not longer than
    /// 1e-15 is kept as it is) and stored once: equal normals share one vector, numbered in
    /// the order they are first met. Geometry faces with _FaceInvalid give normal faces with
    /// flags 1 and 2 and no corners; faces below three corners get _FaceInvalid and zeros.
    /// When nothing else holds the channel's lists and every face kept its corner count and
    /// flags, the lists are rewritten in place (their addresses stay); otherwise new lists
    /// replace them. Writes "CPointNormalChannel::InitNormals time %d ms" to the log.
    /// \return true when the normals are up to date (also when there was nothing to do);
    ///         false, with the channel and the geometry's flags untouched, for a NaN angle, a
    ///         point with a non-finite coordinate or a context without a C3DPointList; false
    ///         for a memory shortage, after which a channel that was being rewritten in place
    ///         is marked _ChannelInvalid and recomputed on the next request.
    bool InitNormals(const CGeomInfo* geom, float angle);

    /// \brief Records which specified normals GetSmoothNormalByCorner prefers (null: none)
    ///        and the object's face list; with a channel, runs its ComputeNormals with the
    ///        object's effective mode. The references stay valid while the object is not
    ///        edited.
    bool PrepareSmoothing(const CGeomInfo* geom, CSpecNormalChannel* spec);
    /// \brief The normal to use at corner \p corner of face \p face: the specified normal
    ///        there (source code 5 when that vector has _NormalComputed, else 2) unless the
    ///        specified normal face has flag 1 or 2 or the vector is undefined; otherwise this
    ///        channel's normal (source code 9).
    /// \param source receives the source code when not null (0 when there is no normal).
    /// \return null when neither list has that corner.
    const C3DTVector<float>* GetSmoothNormalByCorner(int face, int corner,
                                                     unsigned* source = nullptr) const;
    /// \brief The same at the first corner of face \p face whose geometry point is \p point.
    const C3DTVector<float>* GetSmoothNormalByIndex(int face, int point,
                                                    unsigned* source = nullptr) const;

    /// \brief Marks the channel stale.
    bool MatrixTransform(const C4x4TMatrix<float>& matrix) override;
    bool SwapCoordinates(unsigned swapCode) override;
    /// \brief True: point normals are rebuilt from the geometry, never archived.
    bool CanBeRecomputed() const override;

protected:
    CChannel* Duplicate(bool keepID) const override;
    const CXRuntimeClass* GetPointListClass() const override;
    const CXRuntimeClass* GetFaceListClass() const override;
    CPointList* NewPointList() const override;

private:
    float m_SmoothAngle = 1.0f;
    const CNormalFaceList* m_SpecFaces = nullptr;
    const C3DVectorList* m_SpecVectors = nullptr;
    const CFaceList* m_Faces = nullptr;
};

/// \brief Specified normals (channel type 64): per-corner normals that belong to the model.
///
/// A C3DVectorList of normals and a CNormalFaceList (one index per corner). Created stale
/// with channel flags 2, 4 and 16. Vector point flags: _NormalComputed (recomputed from the
/// faces that use it), _NormalUndefined (no normal; regenerated on request), _NormalReused.
/// A normal face with _FaceInvalid has no normals; _FaceExcluded marks a face below three
/// corners. Archived like the other channels.
class ZAN_API CSpecNormalChannel : public CChannel
{
    ZAN_DECLARE_DYNCREATE(CSpecNormalChannel)

public:
    explicit CSpecNormalChannel(unsigned id = kZanNone);
    ~CSpecNormalChannel() override;
    C3DVectorList* GetNormalVectorList() const;
    CNormalFaceList* GetNormalFaceList() const;

    /// \brief When stale: every _NormalComputed vector becomes the normalised weighted sum
    ///        (\p mode) of the faces whose corners use it; other vectors do not change.
    /// \return false for a context without positions or faces; true otherwise.
    bool ComputeNormals(const CGeomInfo* geom, _NormalSmoothMode mode);
    /// \brief ComputeNormals, then gives normals to the corners that have none (see
    ///        _NORMAL_GENERATE_FLAGS), smoothing each with the faces around its point whose
    ///        normal lies within \p angle (radians) of its own face's.
    /// \return whether corners got new normals; false, with nothing changed, for a context
    ///         without positions or faces or a NaN angle.
    bool GenerateNormals(const CGeomInfo* geom, unsigned flags, double angle,
                         _NormalSmoothMode mode);
    /// \brief Normalises every defined vector. \return whether a vector changed.
    bool Normalize();
    /// \brief With \p tolerance 0: the components are equal. Otherwise identical vectors are
    ///        equal, a defined and an undefined one differ, two undefined ones are equal, and
    ///        two defined ones are equal when their dot product is at least cos(tolerance π).
    bool Compare(const CPt* a, const CPt* b, double tolerance) const override;
    /// \brief Whether the normals break along \p edge between faces \p face1 and \p face2:
    ///        false when a normal face has _FaceInvalid; true when exactly one has
    ///        _FaceExcluded (false when both do); true when a geometry face lacks an end of
    ///        the edge; then true when, at either end, one normal is undefined and the other
    ///        not, or both are defined with a dot product below cos(\p angle).
    bool IsNormalFrontier(const CGeomInfo* geom, double angle, const C3DEdge& edge, int face1,
                          int face2) const;
    /// \brief ComputeNormals with \p mode, then gives _PointNormalBreak to both ends of every
    ///        side shared by two faces where IsNormalFrontier answers true.
    /// \param reset clear _PointNormalBreak on every point first.
    /// \return the number of sides found breaking; 0 without positions or faces.
    unsigned InitNormalBreakFlag(const CGeomInfo* geom, double angle, bool reset,
                                 _NormalSmoothMode mode);

    /// \brief Transforms every defined vector by the inverse transpose of the 3 × 3 part of
    ///        \p matrix (so that normals stay perpendicular to the transformed faces) and
    ///        normalises it. \return false, with nothing changed, for a singular matrix.
    bool MatrixTransform(const C4x4TMatrix<float>& matrix) override;
    /// \brief Exchanges and negates the vectors' axes as the swap code says.
    bool SwapCoordinates(unsigned swapCode) override;

protected:
    CChannel* Duplicate(bool keepID) const override;
    const CXRuntimeClass* GetPointListClass() const override;
    const CXRuntimeClass* GetFaceListClass() const override;
    CPointList* NewPointList() const override;
};
