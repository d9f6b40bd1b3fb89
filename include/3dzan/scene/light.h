/// \file light.h
/// \brief C3DLight: a light whose parameters live in its custom-data bag, with a display mesh
///        built on demand for its kind.
#pragma once

#include <3dzan/geometry/points.h>
#include <3dzan/scene/baseobject.h>
#include <3dzan/scene/displaymesh.h>

#include <memory>

class C3DObject;

/// \brief Kinds of light.
enum _LIGHT_KIND : int
{
    _LightDirectional = 0,
    _LightOmni = 1,
    _LightSpot = 2
};

/// \brief A light. Its parameters are custom-data values under the ids below, so they travel
///        with the light in archives and copies; an absent id reads as its default.
///
/// Setters of numbers refuse NaN, infinities and the ranges each one documents by returning
/// false and leaving the parameter as it was; getters give the default when the stored value is
/// absent, of another kind or not finite. The light shines down its local -Z axis. Its flags
/// carry _ObjectNoShading from construction; its checksum is the base one (kind << 4).
class ZAN_API C3DLight : public C3DBaseObject
{
    ZAN_DECLARE_DYNCREATE(C3DLight)

public:
    /// \name Custom-data ids of the parameters
    /// \{
    static constexpr unsigned kColorID = 0x6C636C72;       ///< "lclr", 4 bytes (CRGBColor)
    static constexpr unsigned kLightKindID = 0x6C6B6E64;   ///< "lknd", int, 0
    static constexpr unsigned kInnerAngleID = 0x6C696E61;  ///< "lina", double, 0.0
    static constexpr unsigned kInnerRadiusID = 0x6C696E72; ///< "linr", double, 0.0
    static constexpr unsigned kIntensityID = 0x6C696E74;   ///< "lint", double, 1.0
    static constexpr unsigned kOuterAngleID = 0x6C6F7561;  ///< "loua", double, π/6
    static constexpr unsigned kOuterRadiusID = 0x6C6F7572; ///< "lour", double, 0.0
    /// \}

    C3DLight();
    /// \brief Releases the display mesh.
    ~C3DLight() override;

    /// \name Parameters
    /// \{
    /// \brief The colour; the default CRGBColor (opaque black) when absent or not 4 bytes.
    CRGBColor GetColor() const;
    void SetColor(const CRGBColor& color);
    /// \brief _LIGHT_KIND. Any value is stored; kinds other than the three have no display
    ///        mesh.
    int GetLightKind() const;
    void SetLightKind(int kind);
    /// \brief Cone angles of a spot in radians, in [0, π].
    double GetInnerAngle() const;
    bool SetInnerAngle(double angle);
    double GetOuterAngle() const;
    bool SetOuterAngle(double angle);
    /// \brief Attenuation distances (start and end); finite values, not negative.
    double GetInnerRadius() const;
    bool SetInnerRadius(double radius);
    double GetOuterRadius() const;
    bool SetOuterRadius(double radius);
    /// \brief Removes both attenuation distances (they read as 0 again).
    void ClearAttenuation();
    /// \brief The intensity; any finite value (a negative one darkens).
    double GetIntensity() const;
    bool SetIntensity(double intensity);
    /// \}

    /// \name Display
    /// \{
    /// \brief A light is drawn through its display mesh: false.
    bool IsFinalObject() const override;
    /// \brief The icon of the current kind (directional, omni, or spot with the current outer
    ///        angle), built on first demand and kept until the light goes or ReleaseDisplayMesh
    ///        runs; changing a parameter does not rebuild it. Null for another kind (nothing is
    ///        built) or when memory is short. Owned by the light.
    const C3DDisplayMesh* GetDisplayMesh();
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
    bool SetChecked(unsigned id, double value, double low, double high);

    CDisplayMeshHolder m_Icon;
};
