// The default values the scene layer falls back on: built-in ones until the library frame
// installs its source. The source pointer is atomic so that a worker thread asking for a
// default while the library is being loaded never sees a half-installed one.
#include <3dzan/scene/scenedefaults.h>

#include <atomic>

namespace
{
constexpr float kDefaultSmoothAngle = 0.54105204f; // 31 degrees
constexpr unsigned kDefaultSmoothMode = 2;         // area weighting
constexpr unsigned kDefaultPatchLevel = 1;

const CSceneDefaults g_BuiltInDefaults;
std::atomic<const CSceneDefaults*> g_SceneDefaults{nullptr};
} // namespace

CSceneDefaults::~CSceneDefaults() = default;

float CSceneDefaults::GetSmoothAngle() const
{
    return kDefaultSmoothAngle;
}

void CSceneDefaults::SetSmoothAngle(float) const {}

unsigned CSceneDefaults::GetSmoothMode() const
{
    return kDefaultSmoothMode;
}

void CSceneDefaults::SetSmoothMode(unsigned) const {}

unsigned CSceneDefaults::GetPatchLevel() const
{
    return kDefaultPatchLevel;
}

void CSceneDefaults::SetSceneDefaults(const CSceneDefaults* source)
{
    g_SceneDefaults = source;
}

const CSceneDefaults& CSceneDefaults::GetSceneDefaults()
{
    const CSceneDefaults* source = g_SceneDefaults.load();
    return source ? *source : g_BuiltInDefaults;
}
