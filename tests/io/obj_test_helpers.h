// What the OBJ tests look at: a scene seen corner by corner (position, texture coordinate,
// normal, colour, material name), independent of how the points are numbered.
#pragma once

#include "objparser.h"

#include <3dzan/foundation/fileio.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

class C3DScene;

namespace objtest
{
struct CCorner
{
    std::array<float, 3> m_Position{};
    std::optional<std::array<float, 2>> m_UV;
    std::optional<std::array<float, 3>> m_Normal;
    std::optional<std::array<int, 3>> m_Color;
};

struct CFaceView
{
    std::string m_Material;
    std::vector<CCorner> m_Corners;
};

struct CObjectView
{
    std::string m_Name;
    int m_PointNbr = 0;
    std::vector<CFaceView> m_Faces;
};

/// The nodes of \p scene in walk order.
std::vector<CObjectView> ViewScene(const C3DScene& scene);

/// Expects two views to match within \p tolerance (names, faces, corners, materials).
void ExpectSameView(const std::vector<CObjectView>& a, const std::vector<CObjectView>& b,
                    float tolerance);

/// Reads \p text (materials from \p folder when not empty); \p log gets the messages.
struct CReadOutcome
{
    C3DScene* m_Scene = nullptr;
    int m_Result = 0;
    CSceneImportOptions m_Log;
    ~CReadOutcome();
    std::string ErrorText() const { return m_Log.GetLogText(_IoLevelError).c_str(); }
    std::string WarningText() const { return m_Log.GetLogText(_IoLevelWarning).c_str(); }
};
void ReadText(const std::string& text, CReadOutcome& outcome, const std::string& folder = "",
              int threads = 1);
} // namespace objtest
