/// \file scenedefaults.h
/// \brief The library-wide default values that objects fall back on when they have no scene
///        to ask (smoothing angle and mode of normals, patch level).
///
/// The values themselves live in the preferences, which belong to the library frame, above
/// the scene layer. So that the scene layer does not depend on the frame, the frame installs
/// a set of reader functions at load time (Zan3DSetSceneDefaults); the scene layer calls
/// them through the getters below. Until readers are installed (or for a reader left null)
/// the getters answer the preferences' own defaults: 31 degrees, area weighting (2) and
/// level 1.
#pragma once

#include <3dzan/foundation/zandefs.h>

/// \brief Readers of the default values; any may be null.
struct C3DSceneDefaults
{
    float (*m_GetSmoothAngle)() = nullptr;   ///< radians
    unsigned (*m_GetSmoothMode)() = nullptr; ///< _NormalSmoothMode, never 0
    unsigned (*m_GetPatchLevel)() = nullptr;
};

/// \brief Installs the readers (the library frame does it when the library is loaded).
ZAN_API void Zan3DSetSceneDefaults(const C3DSceneDefaults& defaults);
/// \brief The default smoothing angle of normals in radians.
ZAN_API float Zan3DGetDefaultSmoothAngle();
/// \brief The default normal weighting mode (1 to 4).
ZAN_API unsigned Zan3DGetDefaultSmoothMode();
/// \brief The default subdivision level of patches.
ZAN_API unsigned Zan3DGetDefaultPatchLevel();
