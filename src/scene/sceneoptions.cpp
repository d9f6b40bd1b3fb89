// The import and export options: their persistent part and their construction.
#include <3dzan/scene/sceneoptions.h>

CSceneImportOptions::~CSceneImportOptions() = default;

void CSceneImportOptions::InitFromSavedPrefs(const CCustomData& data)
{
    CIoOptions::InitFromSavedPrefs(data);
    if (GetCustomData().HasValue(kFlagsID))
        m_Flags = GetCustomData().GetUInt(kFlagsID);
    m_Flags &= ~kTransientFlags;
}

CCustomData CSceneImportOptions::SaveToSavedPrefs()
{
    GetCustomData().SetUInt(kFlagsID, m_Flags & ~kTransientFlags);
    return CIoOptions::SaveToSavedPrefs();
}

const char* const CSceneExportOptions::kDefaultTextureFolder = ".\\Textures\\";

CSceneExportOptions::CSceneExportOptions(unsigned flags)
    : CIoOptions(false), m_UsedTextureNames(NextPrime(101)), m_Flags(flags),
      m_TextureFolder(kDefaultTextureFolder)
{
}

CSceneExportOptions::~CSceneExportOptions() = default;

CSceneExportOptions* CSceneExportOptions::Create(unsigned flags)
{
    return new CSceneExportOptions(flags);
}

bool CSceneExportOptions::Delete(CSceneExportOptions* options)
{
    delete options;
    return true;
}

void CSceneExportOptions::InitFromSavedPrefs(const CCustomData& data)
{
    CIoOptions::InitFromSavedPrefs(data);
    const CCustomData& stored = GetCustomData();
    if (stored.HasValue(kFlagsID))
        m_Flags = stored.GetUInt(kFlagsID);
    m_Flags &= ~kTransientFlags;
    m_TextureFolder = stored.GetString(kTextureFolderID, CXTString(kDefaultTextureFolder));
}

CCustomData CSceneExportOptions::SaveToSavedPrefs()
{
    GetCustomData().SetUInt(kFlagsID, m_Flags & ~kTransientFlags);
    GetCustomData().SetString(kTextureFolderID, m_TextureFolder);
    return CIoOptions::SaveToSavedPrefs();
}
