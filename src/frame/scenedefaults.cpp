// The scene layer sits below the frame and cannot read the preferences itself: the frame
// hands the smoothing preferences and the patch level down by installing a CSceneDefaults that
// reads and writes C3DPreferences, when the library is loaded.
#include <3dzan/preferences.h>
#include <3dzan/scene/scenedefaults.h>

namespace
{
class CPreferenceSceneDefaults : public CSceneDefaults
{
public:
    float GetSmoothAngle() const override
    {
        return C3DPreferences::Get3DPreferences().GetSmoothAngle();
    }
    void SetSmoothAngle(float angle) const override
    {
        C3DPreferences::Get3DPreferences().SetSmoothAngle(angle);
    }
    unsigned GetSmoothMode() const override
    {
        return C3DPreferences::Get3DPreferences().GetSmoothMode();
    }
    void SetSmoothMode(unsigned mode) const override
    {
        C3DPreferences::Get3DPreferences().SetSmoothMode(mode);
    }
    unsigned GetPatchLevel() const override
    {
        return C3DPreferences::Get3DPreferences().GetPatchLevel();
    }
};

const CPreferenceSceneDefaults g_PreferenceDefaults;

struct CInstallDefaults
{
    CInstallDefaults() { CSceneDefaults::SetSceneDefaults(&g_PreferenceDefaults); }
    ~CInstallDefaults() { CSceneDefaults::SetSceneDefaults(nullptr); }
    CInstallDefaults(const CInstallDefaults&) = delete;
    CInstallDefaults& operator=(const CInstallDefaults&) = delete;
} g_InstallDefaults;
} // namespace
