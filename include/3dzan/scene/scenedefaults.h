/// \file scenedefaults.h
/// \brief CSceneDefaults, the user's preferences that scenes and objects fall back on
///        (smoothing angle and mode of normals, patch level).
///
/// The preferences live in the library frame, above the scene layer. So that the scene layer
/// does not depend on the frame, the frame installs an implementation that reads and writes
/// them when the library is loaded; until then (or after it is removed) the built-in values
/// answer: 31 degrees, area weighting (2), level 1, and writes are ignored.
#pragma once

#include <3dzan/foundation/zandefs.h>

/// \brief Weighting of face normals in point normals; 0 means "the scene's value" (on an
///        object) or "the preferences' value" (on a scene).
enum _NormalSmoothMode : unsigned
{
    _SmoothModeScene = 0,
    _SmoothModeUnweighted = 1,
    _SmoothModeArea = 2,
    _SmoothModeEdgeLength = 3,
    _SmoothModeAngle = 4
};

/// \brief The source of the scene layer's default values.
class ZAN_API CSceneDefaults
{
public:
    virtual ~CSceneDefaults();
    /// \brief The smoothing angle of normals in radians.
    virtual float GetSmoothAngle() const;
    virtual void SetSmoothAngle(float angle) const;
    /// \brief The normal weighting mode (1 to 4).
    virtual unsigned GetSmoothMode() const;
    virtual void SetSmoothMode(unsigned mode) const;
    /// \brief The subdivision level of patches.
    virtual unsigned GetPatchLevel() const;

    /// \brief Installs the source (not owned; null: the built-in values).
    static void SetSceneDefaults(const CSceneDefaults* source);
    /// \brief The installed source, or the built-in values.
    static const CSceneDefaults& GetSceneDefaults();
};
