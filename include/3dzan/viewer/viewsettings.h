/// \file viewsettings.h
/// \brief GlViewSettings: a bundle of view state that a view applies field by field.
///
/// Commands fill only the fields they change and set the matching bits of the field mask;
/// the view applies those fields and leaves the others. The preferences keep default
/// settings per view.
#pragma once

#include <3dzan/animation/math.h>
#include <3dzan/geometry/points.h>

class C3DCamera;

/// \brief Bits of the field mask of GlViewSettings.
enum _GlViewSettingsFields
{
    _GLVS_Matrix = 0x1,           ///< the view matrix (the view then has no standard direction)
    _GLVS_Translation = 0x2,      ///< the translation part of the matrix
    _GLVS_ViewFlags = 0x8,        ///< the view flags
    _GLVS_StandardView = 0x10,    ///< a standard direction with its angle, unless it is none
    _GLVS_Background = 0x20,      ///< background colour
    _GLVS_SelectionColor = 0x40,  ///< selection colour
    _GLVS_WireframeColor = 0x80,  ///< wireframe colour
    _GLVS_LightColor = 0x100,     ///< light colour
    _GLVS_DisplayListKey = 0x200, ///< the value that rebuilds display lists when it changes
    _GLVS_UpdateNow = 0x10000,    ///< redraw at once
    _GLVS_Camera = 0x800000       ///< current camera
};

/// \brief Standard directions of a view.
enum _StandardViewDirection
{
    _ViewFront = 5,
    _ViewNone = 7
};

/// \brief View state applied field by field (see _GlViewSettingsFields).
class GlViewSettings
{
public:
    GlViewSettings() = default;
    GlViewSettings(const GlViewSettings&) = default;
    GlViewSettings& operator=(const GlViewSettings&) = default;
    virtual ~GlViewSettings() = default;

    void SetCurrentCamera(C3DCamera* camera) { m_CurrentCamera = camera; }
    C3DCamera* GetCurrentCamera() const { return m_CurrentCamera; }

    C3DCamera* m_CurrentCamera = nullptr; ///< not owned
    unsigned m_FieldMask = 0;             ///< fields present (_GlViewSettingsFields)
    float m_Factor1 = 1.0f;
    float m_Factor2 = 1.0f;
    C4x4TMatrix<float> m_ViewMatrix;      ///< identity by default
    float m_Values[4] = {0, 0, 0, 0};
    unsigned m_DisplayListKey = 0;        ///< the value used with _GLVS_DisplayListKey
    unsigned m_ViewFlags = 0xFFFFFFFFu;
    unsigned m_StandardDirection = _ViewNone;
    float m_StandardAngle = 0.0f;
    float m_Factor3 = 1.0f;
    CRGBColor m_Background;
    CRGBColor m_SelectionColor;
    CRGBColor m_WireframeColor;
    CRGBColor m_LightColor;
};
