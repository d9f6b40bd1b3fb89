// The default values the scene layer falls back on, read through functions the library frame
// installs. The readers are atomics so that a worker thread asking for a default while the
// library is being loaded never sees a half-written set.
#include <3dzan/scene/scenedefaults.h>

#include <atomic>
#include <cmath>

namespace
{
constexpr float kDefaultSmoothAngle = float(31.0 * M_PI / 180.0);
constexpr unsigned kDefaultSmoothMode = 2;
constexpr unsigned kDefaultPatchLevel = 1;

std::atomic<float (*)()> g_SmoothAngle{nullptr};
std::atomic<unsigned (*)()> g_SmoothMode{nullptr};
std::atomic<unsigned (*)()> g_PatchLevel{nullptr};
} // namespace

void Zan3DSetSceneDefaults(const C3DSceneDefaults& defaults)
{
    g_SmoothAngle = defaults.m_GetSmoothAngle;
    g_SmoothMode = defaults.m_GetSmoothMode;
    g_PatchLevel = defaults.m_GetPatchLevel;
}

float Zan3DGetDefaultSmoothAngle()
{
    auto reader = g_SmoothAngle.load();
    float angle = reader ? reader() : kDefaultSmoothAngle;
    return std::isfinite(angle) && angle >= 0.0f ? angle : kDefaultSmoothAngle;
}

unsigned Zan3DGetDefaultSmoothMode()
{
    auto reader = g_SmoothMode.load();
    unsigned mode = reader ? reader() : kDefaultSmoothMode;
    return mode >= 1 && mode <= 4 ? mode : kDefaultSmoothMode;
}

unsigned Zan3DGetDefaultPatchLevel()
{
    auto reader = g_PatchLevel.load();
    return reader ? reader() : kDefaultPatchLevel;
}
