#include <3dzan/preferences.h>

namespace
{
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

bool C3DPreferences::GetBinaryData(unsigned id, CXArray<unsigned char>& data) const
{
    CXSingleLock lock(&m_Lock, true);
    size_t size = 0;
    const uint8_t* bytes = m_Values.GetBytes(id, size);
    if (!bytes && size == 0 && m_Values.GetKind(id) != _CustomDataBytes)
        return false;
    data.SetSize(int(size));
    std::copy(bytes, bytes + size, data.GetData());
    return true;
}

void C3DPreferences::SetBinaryData(unsigned id, const void* data, size_t size)
{
    CXSingleLock lock(&m_Lock, true);
    m_Values.SetBytes(id, data, size);
}

bool C3DPreferences::RemoveValue(unsigned id)
{
    CXSingleLock lock(&m_Lock, true);
    return m_Values.RemoveValue(id);
}
