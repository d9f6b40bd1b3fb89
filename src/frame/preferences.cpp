#include <3dzan/foundation/files.h>
#include <3dzan/preferences.h>

#include <algorithm>
#include <cstring>

namespace
{
// A default view record: validity mark, view flags, standard direction, view matrix; the
// rest of its 272 bytes is zero and never read.
constexpr size_t kViewRecordBytes = 272;
constexpr unsigned kDefaultViewFlags = 0x70000E14;

unsigned ViewKey(unsigned viewId) { return viewId == 0 ? C3DPreferences::kViewSettingsId : viewId; }

C3DPreferences* g_Preferences = nullptr;
CXCriticalSection g_CreateLock;

void DestroyPreferences(void*)
{
    CXSingleLock lock(&g_CreateLock, true);
    delete g_Preferences;
    g_Preferences = nullptr;
}

struct CPreferencesAccess : C3DPreferences
{
    static C3DPreferences* Create() { return new CPreferencesAccess; }
    static void Load(C3DPreferences& p) { static_cast<CPreferencesAccess&>(p).Init(); }
};

} // namespace

C3DPreferences::~C3DPreferences() = default;

C3DPreferences& C3DPreferences::Get3DPreferences()
{
    CXSingleLock lock(&g_CreateLock, true);
    if (!g_Preferences)
    {
        g_Preferences = CPreferencesAccess::Create();
        AddApplicationExitCallback(&DestroyPreferences, nullptr);
    }
    CPreferencesAccess::Load(*g_Preferences);
    return *g_Preferences;
}

bool C3DPreferences::Exists()
{
    CXSingleLock lock(&g_CreateLock, true);
    return g_Preferences != nullptr;
}

CXTString C3DPreferences::GetPreferencesFile()
{
    return CXTString(GetUserPreferencesPath()) + "3dprefs.prefs";
}

void C3DPreferences::Init()
{
    CXSingleLock lock(&m_Lock, true);
    if (m_Loaded)
        return;
    m_Loaded = true;
    // A missing or damaged file leaves the defaults; it is replaced only by the next Save.
    if (IsPreferencesSavingEnabled())
        m_Values.LoadFromPrefs(GetPreferencesFile(), kFileId1, kFileId2);
    m_Values.GetStringArray(kTexturePathsId, m_TexturePaths);
    m_Values.GetStringArray(kLWPathsId, m_LWPaths);
}

bool C3DPreferences::Save() const
{
    if (!IsPreferencesSavingEnabled())
        return true;
    CXSingleLock lock(&m_Lock, true);
    if (!CreateConfigDirectory())
        return false;
    return m_Values.SaveToPrefs(GetPreferencesFile(), kFileId1, kFileId2);
}

CCustomData C3DPreferences::GetValues() const
{
    CXSingleLock lock(&m_Lock, true);
    return m_Values;
}

float C3DPreferences::GetSmoothAngle() const
{
    CXSingleLock lock(&m_Lock, true);
    return m_Values.GetFloat(kSmoothAngleId, 0.54105204f);
}

void C3DPreferences::SetSmoothAngle(float angle)
{
    double degrees = double(angle) * 180.0 / 3.14159265358979323846;
    if (!(degrees >= 0.0 && degrees <= 180.005)) // NaN is refused too
        return;
    CXSingleLock lock(&m_Lock, true);
    m_Values.SetFloat(kSmoothAngleId, angle);
}

unsigned C3DPreferences::GetSmoothMode() const
{
    CXSingleLock lock(&m_Lock, true);
    return m_Values.GetUInt(kSmoothModeId, 2);
}

void C3DPreferences::SetSmoothMode(unsigned mode)
{
    if (mode == 0)
        return;
    CXSingleLock lock(&m_Lock, true);
    m_Values.SetUInt(kSmoothModeId, mode);
}

unsigned C3DPreferences::GetPatchLevel() const
{
    CXSingleLock lock(&m_Lock, true);
    return m_Values.GetUInt(kPatchLevelId, 1);
}

void C3DPreferences::SetPatchLevel(unsigned level)
{
    CXSingleLock lock(&m_Lock, true);
    m_Values.SetUInt(kPatchLevelId, level);
}

float C3DPreferences::GetViewAngle() const
{
    CXSingleLock lock(&m_Lock, true);
    return m_Values.GetFloat(kViewAngleId, 0.5235988f);
}

void C3DPreferences::SetViewAngle(float angle)
{
    CXSingleLock lock(&m_Lock, true);
    m_Values.SetFloat(kViewAngleId, angle);
}

CXArray<CXTString> C3DPreferences::GetTexturePaths() const
{
    CXSingleLock lock(&m_Lock, true);
    return m_TexturePaths;
}

void C3DPreferences::SetTexturePaths(const CXArray<CXTString>& paths)
{
    CXSingleLock lock(&m_Lock, true);
    m_TexturePaths = paths;
    m_Values.SetStringArray(kTexturePathsId, paths);
}

CXArray<CXTString> C3DPreferences::GetLWPaths() const
{
    CXSingleLock lock(&m_Lock, true);
    return m_LWPaths;
}

void C3DPreferences::SetLWPaths(const CXArray<CXTString>& paths)
{
    CXSingleLock lock(&m_Lock, true);
    m_LWPaths = paths;
    m_Values.SetStringArray(kLWPathsId, paths);
}

CXTString C3DPreferences::GetSketchupPath() const
{
    CXTString path;
    {
        CXSingleLock lock(&m_Lock, true);
        path = m_Values.GetString(kSketchupPathId);
    }
    return !path.IsEmpty() && fileExists(path) ? path : CXTString(GetApplicationPath());
}

bool C3DPreferences::SetSketchupPath(const CXTString& path)
{
    if (!fileExists(path))
        return false;
    CXSingleLock lock(&m_Lock, true);
    m_Values.SetString(kSketchupPathId, path);
    return true;
}

bool C3DPreferences::GetMayaPath(CXTString& path, unsigned& check) const
{
    CXSingleLock lock(&m_Lock, true);
    if (m_Values.GetKind(kMayaPathId) != _CustomDataString)
        return false;
    path = m_Values.GetString(kMayaPathId);
    check = m_Values.GetUInt(kMayaCheckId);
    return true;
}

void C3DPreferences::SetMayaPath(const CXTString& path, unsigned check)
{
    CXSingleLock lock(&m_Lock, true);
    m_Values.SetString(kMayaPathId, path);
    m_Values.SetUInt(kMayaCheckId, check);
}

void C3DPreferences::SetDefaultGLViewSettings(const GlViewSettings& settings, unsigned viewId)
{
    uint8_t record[kViewRecordBytes] = {};
    const uint32_t words[3] = {1, settings.m_ViewFlags, settings.m_StandardDirection};
    std::memcpy(record, words, sizeof words);
    std::memcpy(record + sizeof words, settings.m_ViewMatrix.ValPtr(), 16 * sizeof(float));
    CXSingleLock lock(&m_Lock, true);
    m_Values.CreateCustomData(kViewSettingsId).SetBytes(ViewKey(viewId), record, sizeof record);
}

bool C3DPreferences::GetDefaultGLViewSettings(GlViewSettings& settings, unsigned viewId) const
{
    settings.m_FieldMask = _GLVS_ViewFlags | _GLVS_StandardView;
    settings.m_ViewFlags = kDefaultViewFlags;
    settings.m_StandardDirection = _ViewFront;
    CXSingleLock lock(&m_Lock, true);
    const CCustomData* views = m_Values.GetCustomData(kViewSettingsId);
    if (!views)
        return false;
    size_t size = 0;
    const uint8_t* record = views->GetBytes(ViewKey(viewId), size);
    if (!record || size < kViewRecordBytes)
        record = views->GetBytes(kViewSettingsId, size);
    if (!record || size < kViewRecordBytes)
        return false;
    uint32_t words[3];
    std::memcpy(words, record, sizeof words);
    settings.m_ViewFlags = words[1];
    settings.m_StandardDirection = words[2];
    if (words[2] == _ViewNone)
    {
        std::memcpy(settings.m_ViewMatrix.ValPtr(), record + sizeof words, 16 * sizeof(float));
        settings.m_FieldMask |= _GLVS_Matrix;
    }
    return true;
}

bool C3DPreferences::HasDefaultGLViewSettings(unsigned viewId) const
{
    CXSingleLock lock(&m_Lock, true);
    const CCustomData* views = m_Values.GetCustomData(kViewSettingsId);
    size_t size = 0;
    const uint8_t* record = views ? views->GetBytes(ViewKey(viewId), size) : nullptr;
    uint32_t mark = 0;
    if (record && size >= sizeof mark)
        std::memcpy(&mark, record, sizeof mark);
    return mark == 1;
}

void C3DPreferences::RemoveDefaultGLViewSettings(unsigned viewId)
{
    CXSingleLock lock(&m_Lock, true);
    if (CCustomData* views = m_Values.GetCustomData(kViewSettingsId))
        views->RemoveValue(ViewKey(viewId));
}

bool C3DPreferences::GetBinaryData(unsigned id, void* data, unsigned size) const
{
    CXSingleLock lock(&m_Lock, true);
    if (m_Values.GetKind(id) != _CustomDataBytes)
        return false;
    size_t stored = 0;
    const uint8_t* bytes = m_Values.GetBytes(id, stored);
    if (data && bytes)
        std::memcpy(data, bytes, std::min<size_t>(stored, size));
    return true;
}

bool C3DPreferences::GetBinaryData(unsigned id, CXArray<unsigned char>& data) const
{
    CXSingleLock lock(&m_Lock, true);
    if (m_Values.GetKind(id) != _CustomDataBytes)
        return false;
    size_t size = 0;
    const uint8_t* bytes = m_Values.GetBytes(id, size);
    data.SetSize(int(size));
    if (size)
        std::memcpy(data.GetData(), bytes, size);
    return true;
}

void C3DPreferences::SetBinaryData(unsigned id, const void* data, unsigned size)
{
    CXSingleLock lock(&m_Lock, true);
    m_Values.SetBytes(id, data, size);
}

bool C3DPreferences::RemoveValue(unsigned id)
{
    CXSingleLock lock(&m_Lock, true);
    return m_Values.RemoveValue(id);
}
