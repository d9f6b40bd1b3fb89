/// \file camera.h
/// \brief C3DCamera: a point of view whose parameters live in its custom-data bag, with the
///        view matrices and a display mesh built on demand.
#pragma once

#include <3dzan/animation/math.h>
#include <3dzan/scene/baseobject.h>
#include <3dzan/scene/displaymesh.h>

#include <memory>

class C3DObject;

/// \brief Projections of a camera.
enum _CAMERA_PROJECTION_TYPE : int
{
    _ProjectionPerspective = 0,
    _ProjectionOrthographic = 1
};

/// \brief A camera. Its parameters are custom-data values under the ids below, so they travel
///        with the camera in archives and copies; an absent id reads as its default.
///
/// Setters refuse values that make no sense (NaN or infinite numbers, and the ranges each one
/// documents) by returning false and leaving the parameter as it was. Getters give the default
/// when the stored value is absent, of another kind or not finite.
///
/// The camera looks down its local -Z axis with +Y up (the convention of LookAt). Its flags
/// carry _ObjectNoShading from construction.
class ZAN_API C3DCamera : public C3DBaseObject
{
    ZAN_DECLARE_DYNCREATE(C3DCamera)

public:
    /// \name Custom-data ids of the parameters
    /// \{
    static constexpr unsigned kApertureID = 0x63616170;      ///< "caap", double, 8.0
    static constexpr unsigned kAspectRatioID = 0x63616172;   ///< "caar", double, 1.0
    static constexpr unsigned kFarClipID = 0x63616663;       ///< "cafc", double, -1.0
    static constexpr unsigned kFocusDistanceID = 0x63616664; ///< "cafd", double, 0.0
    static constexpr unsigned kFovID = 0x6361666F;           ///< "cafo", double, π/4
    static constexpr unsigned kNearClipID = 0x63616E63;      ///< "canc", double, -1.0
    static constexpr unsigned kProjectionID = 0x6361706A;    ///< "capj", int, 0
    static constexpr unsigned kTargetID = 0x63617467;        ///< "catg", int, -1 (no target)
    static constexpr unsigned kZoomID = 0x63617A6D;          ///< "cazm", double, 1.0
    /// \}

    C3DCamera();
    /// \brief Releases the display mesh.
    ~C3DCamera() override;

    /// \name Parameters
    /// \{
    /// \brief The f-number; a positive finite value.
    double GetAperture() const;
    bool SetAperture(double aperture);
    /// \brief The ratio of the view; a positive finite value.
    double GetAspectRatio() const;
    bool SetAspectRatio(double ratio);
    /// \brief Clip distances; a negative value (-1 by default) lets the viewer choose. When both
    ///        are set and not negative, near must stay below far.
    double GetFarClip() const;
    bool SetFarClip(double distance);
    double GetNearClip() const;
    bool SetNearClip(double distance);
    /// \brief Sets both clip distances at once (checked together, as above).
    bool SetNearFarClip(double nearDistance, double farDistance);
    /// \brief The distance in focus; a finite value, not negative.
    double GetFocusDistance() const;
    bool SetFocusDistance(double distance);
    /// \brief The vertical field of view in radians, in (0, π).
    double GetFov() const;
    bool SetFov(double fov);
    /// \brief _CAMERA_PROJECTION_TYPE; other values are refused.
    int GetProjection() const;
    bool SetProjection(int projection);
    /// \brief The target (a node reference kept by the scene); -1 when the camera has none.
    int GetTarget() const;
    /// \brief Stores a target; a negative value removes it (HasTarget becomes false).
    void SetTarget(int target);
    bool HasTarget() const { return IsDefined(kTargetID); }
    /// \brief The zoom factor; a positive finite value.
    double GetZoom() const;
    bool SetZoom(double zoom);
    /// \brief Whether the parameter id \p id is present in the custom data.
    bool IsDefined(unsigned id) const { return GetCustomData().HasValue(id); }
    /// \}

    /// \brief Sum of the camera's optical parameters: for aperture, focus distance, field of
    ///        view, aspect ratio and zoom (defaults when absent), 0 for 0.0 and otherwise the
    ///        low 32 bits of the double; plus the projection shifted left by 4.
    unsigned GetChecksum(unsigned flags) const override;

    /// \name View matrices
    /// \{
    /// \brief The view matrix of an eye at \p eye looking at \p target with \p up: rows
    ///        (s, -s·eye), (u, -u·eye), (f, -f·eye), (0, 0, 0, 1) with f = eye - target,
    ///        s = up × f, u = f × s, each normalised when longer than 1e-15.
    /// \return false, and \p matrix untouched, when a coordinate is not finite.
    static bool LookAt(C4x4TMatrix<float>& matrix, const C3DTPoint<float>& eye,
                       const C3DTPoint<float>& target, const C3DTVector<float>& up);
    /// \brief The placement of such a camera in the world: the inverse of LookAt's matrix.
    /// \return false, and \p matrix untouched, when that matrix is singular (\p up along the
    ///         line of sight, \p eye on \p target) or an input is not finite.
    static bool PositionMatrix(C4x4TMatrix<float>& matrix, const C3DTPoint<float>& eye,
                               const C3DTPoint<float>& target, const C3DTVector<float>& up);
    /// \}

    /// \name Display
    /// \{
    /// \brief A camera is drawn through its display mesh: false.
    bool IsFinalObject() const override;
    /// \brief The camera icon (C3DDisplayMesh::CreateCameraIcon) for the current field of
    ///        view and aspect ratio, built on first demand and kept until the camera goes or
    ///        ReleaseDisplayMesh runs; changing a parameter does not rebuild it. Owned by the
    ///        camera; null only when memory is short.
    const C3DDisplayMesh* GetDisplayMesh();
    /// \brief Whether the display mesh exists.
    bool HasDisplayMesh() const { return m_Icon.HasMesh(); }
    /// \brief Drops the display mesh and the final object; the next GetDisplayMesh
    ///        rebuilds it.
    void ReleaseDisplayMesh();
    /// \brief A polygonal object holding a copy of the display mesh, so that code that draws
    ///        or exports final objects treats cameras and lights like meshes. Built on first
    ///        demand with the object's scene. With \p detach the caller takes the object (a
    ///        later call builds a new one); otherwise it stays owned here until the object
    ///        goes or ReleaseDisplayMesh runs. Null when there is no display mesh.
    C3DBaseObject* GetFinalObject(bool detach) override;
    /// \}

private:
    bool SetPositive(unsigned id, double value);

    CDisplayMeshHolder m_Icon;
};
