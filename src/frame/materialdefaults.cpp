// The materials layer sits below the frame and cannot read the preferences itself: the frame
// hands them down by installing a CMaterialDefaults that reads C3DPreferences. It is
// installed when the library is loaded, like the string table, so materials see the user's
// smoothing angle and texture folders before Init3DZan runs.
#include <3dzan/materials/materialmap.h>
#include <3dzan/preferences.h>

namespace
{
class CPreferenceMaterialDefaults : public CMaterialDefaults
{
public:
    float GetSmoothAngle() const override
    {
        return C3DPreferences::Get3DPreferences().GetSmoothAngle();
    }
    CXArray<CXTString> GetTexturePaths() const override
    {
        return C3DPreferences::Get3DPreferences().GetTexturePaths();
    }
};

const CPreferenceMaterialDefaults g_PreferenceDefaults;

struct CInstallDefaults
{
    CInstallDefaults() { CMaterialDefaults::SetMaterialDefaults(&g_PreferenceDefaults); }
    ~CInstallDefaults() { CMaterialDefaults::SetMaterialDefaults(nullptr); }
    CInstallDefaults(const CInstallDefaults&) = delete;
    CInstallDefaults& operator=(const CInstallDefaults&) = delete;
} g_InstallDefaults;
} // namespace
