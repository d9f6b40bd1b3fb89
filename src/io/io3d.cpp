// The scene file front end: parser resolution, reading with the import checkout, saving
// through the export copy, and the per-format options.
#include <3dzan/io/io3d.h>

#include <3dzan/foundation/messages.h>
#include <3dzan/foundation/services.h>
#include <3dzan/scene/scene.h>

#include <atomic>

namespace
{
std::atomic<bool> g_XsiNoticeShown{false};

// The data a reader left on a scene is freed by the parser of its format.
void ReleaseSceneParserData(bool import, unsigned parserId, void* data)
{
    C3DIo::ReleaseParser(import, parserId, data);
}

// The library's own format is known from the moment the library is loaded, and scenes hand
// the data their reader left on them back to that reader's format.
struct CIoLayerSetUp
{
    CIoLayerSetUp()
    {
        Register3DIFFileType();
        if (!CParserSceneInfo::GetReleaseParserData())
            CParserSceneInfo::SetReleaseParserData(&ReleaseSceneParserData);
    }
} g_IoLayerSetUp;

// Applies the format's defaults: the default flags when nothing was stored and no flag is
// set, then the forced flags in every case.
template <class OPTIONS> void ApplyDefaultFlags(OPTIONS& options, bool loaded)
{
    if (!loaded && options.m_Flags == 0)
        options.m_Flags = options.m_DefaultFlags;
    options.m_Flags |= options.m_ForcedFlags;
}
} // namespace

// ======================================================================= C3DParser

C3DParser::C3DParser(CFileIo* io) : CFileParser(io) {}

C3DParser::~C3DParser() = default;

IoShowDialog C3DParser::MustShowDialog()
{
    return CFileParser::MustShowDialog();
}

void C3DParser::FillDefaultOptions(CIoOptions* options)
{
    if (auto* import = dynamic_cast<CSceneImportOptions*>(options))
        LoadDefaultOptions(import);
    else if (auto* save = dynamic_cast<CSceneExportOptions*>(options))
        SaveDefaultOptions(save);
}

void C3DParser::LoadDefaultOptions(CSceneImportOptions*) {}

bool C3DParser::LoadOptionsDialog(CSceneImportOptions*)
{
    return true;
}

CXTString C3DParser::GetLoadParametersInfo(CSceneImportOptions*)
{
    return CXTString::FromId(7368);
}

C3DScene* C3DParser::Read(const CXTString&, CSceneImportOptions*)
{
    return nullptr;
}

void C3DParser::SaveDefaultOptions(CSceneExportOptions*) {}

bool C3DParser::SaveOptionsDialog(CSceneExportOptions*)
{
    return true;
}

CXTString C3DParser::GetSaveParametersInfo(CSceneExportOptions* options)
{
    const bool defaults =
        options && options->m_Flags == (options->m_DefaultFlags | options->m_ForcedFlags);
    return CXTString::FromId(defaults ? 62003 : 62004);
}

bool C3DParser::Save(const CXTString&, C3DScene*, CSceneExportOptions*)
{
    SetIoError(_IoResultNotSupported, _IoLevelError);
    return false;
}

bool C3DParser::CanUpdate(void*) const
{
    return false;
}

bool C3DParser::Update(const CXTString& fileName, C3DScene* scene, void*,
                       CSceneExportOptions* options)
{
    return Save(fileName, scene, options);
}

bool C3DParser::ReleaseParser(bool, void*)
{
    return false;
}

// =========================================================================== C3DIo

C3DIo::C3DIo(const CFileNameSpec& file, unsigned flags, void* parent)
    : CFileIo(file, flags), m_Parent(parent)
{
}

C3DIo::C3DIo(unsigned classCode, unsigned flags, void* parent)
    : CFileIo(classCode, flags), m_Parent(parent)
{
}

C3DIo::~C3DIo() = default;

CFileParser* C3DIo::InitParser()
{
    if (CFileParser* parser = CFileIo::InitParser())
        return parser;
    switch (GetClass())
    {
    case kClass3DIF:
    {
        auto* parser = new C3DIFIo(this);
        SetFileParser(parser);
        return parser;
    }
    case kClassXSI:
        if (!IsSilent() && !g_XsiNoticeShown.exchange(true))
            ZanNotify(CXTString::FromId(62006).c_str(), kNotifyInformation,
                      CXTString::FromId(62005).c_str(), 2007);
        break;
    default:
        break;
    }
    SetIoError(_IoResultNotSupported, _IoLevelError);
    return nullptr;
}

void C3DIo::CloseParser()
{
    CFileIo::CloseParser();
    m_Prepared = false;
}

C3DParser* C3DIo::GetParser() const
{
    return dynamic_cast<C3DParser*>(GetFileParser());
}

bool C3DIo::WasXsiNoticeShown()
{
    return g_XsiNoticeShown.load();
}

bool C3DIo::PrepareReading()
{
    if (m_Prepared)
        return true;
    if (!IsURL() && !fileExists(GetFileName().c_str()))
    {
        SetIoError(_IoResultFileNotFound, _IoLevelError);
        ReportIoError(_IoLevelWarning | _IoLevelError);
        return false;
    }
    m_Prepared = InitParser() != nullptr;
    return m_Prepared;
}

bool C3DIo::PrepareSaving()
{
    if (m_Prepared)
        return true;
    m_Prepared = InitParser() != nullptr;
    return m_Prepared;
}

C3DScene* C3DIo::Read(bool showDialog, CSceneImportOptions* options)
{
    return ReadWith(showDialog, options);
}

C3DScene* C3DIo::ReadWith(bool showDialog, CSceneImportOptions* given)
{
    if (!PrepareReading())
        return nullptr;
    C3DParser* parser = GetParser();
    CSceneImportOptions local;
    CSceneImportOptions& options = given ? *given : local;
    if (!parser)
    {
        SetIoError(_IoResultNotSupported, _IoLevelError);
        ReportIoError(&options, _IoLevelWarning | _IoLevelError);
        return nullptr;
    }
    const bool dialog = showDialog && !IsSilent();
    bool loaded = false;
    if (dialog && !given)
    {
        CCustomData stored;
        if (LoadIoParameters(true, stored, GetClass()))
        {
            options.InitFromSavedPrefs(stored);
            loaded = true;
        }
    }
    parser->LoadDefaultOptions(&options);
    ApplyDefaultFlags(options, loaded);
    if (dialog)
    {
        options.SetFlag(_IoOptionsInOperation);
        if (!parser->LoadOptionsDialog(&options))
        {
            SetIoError(_IoResultCancelled, _IoLevelWarning);
            return nullptr;
        }
        if (!given)
            SaveIoParameters(true, options.SaveToSavedPrefs(), GetClass());
    }

    const uint64_t start = timeGetTick();
    C3DScene* scene = nullptr;
    try
    {
        scene = parser->Read(GetFileName(), &options);
    }
    catch (...)
    {
        WriteToLogFile("Fails to read scene file %s\n", GetFileName().c_str());
        SetIoError(_IoResultParserError, _IoLevelError);
        ReportIoError(&options, _IoLevelWarning | _IoLevelError);
        throw;
    }
    if (scene)
        WriteToLogFile("Read scene file %s in %d ms\n", GetFileName().c_str(),
                       int(timeGetTick() - start));
    else
        WriteToLogFile("Fails to read scene file %s\n", GetFileName().c_str());

    if (scene)
    {
        if (scene->GetFilename().IsEmpty())
            scene->SetFilename(GetFileNameSpec());
        scene->CheckoutImport(options);
        if (scene->GetChildCount() == 0)
        {
            SetIoError(_IoResultEmptyResult, _IoLevelWarning);
            scene->Delete();
            scene = nullptr;
        }
    }
    if (scene)
        return scene;
    if (CanTryAnotherParser())
    {
        CloseParser();
        TryNextParser();
        SetIoError(_IoResultOk, 0);
        return ReadWith(showDialog, given);
    }
    // A parser that failed without saying why still fails clearly.
    if (IsIoOk())
        SetIoError(_IoResultReadError, _IoLevelError);
    ReportIoError(&options, _IoLevelWarning | _IoLevelError);
    return nullptr;
}

bool C3DIo::Save(bool showDialog, C3DScene* scene, CSceneExportOptions* given)
{
    if (!scene)
        return false;
    if (!m_Prepared && !PrepareSaving())
        return false;
    C3DParser* parser = GetParser();
    CSceneExportOptions local(0);
    CSceneExportOptions& options = given ? *given : local;
    const bool dialog = showDialog && !IsSilent();
    bool saved = false;
    if (parser)
    {
        bool loaded = false;
        if (dialog && !given)
        {
            CCustomData stored;
            if (LoadIoParameters(false, stored, GetClass()))
            {
                options.InitFromSavedPrefs(stored);
                loaded = true;
            }
        }
        parser->SaveDefaultOptions(&options);
        ApplyDefaultFlags(options, loaded);
        options.m_DestinationFile = GetFileName();
        if (options.m_Flags & _ExportUpdate)
        {
            unsigned dataClass = 0;
            scene->GetParserData(dataClass);
            if (!parser->CanUpdate(nullptr) || dataClass != GetClass())
                options.m_Flags &= ~unsigned(_ExportUpdate);
        }
        bool accepted = true;
        if (dialog)
        {
            options.SetFlag(_IoOptionsInOperation);
            accepted = parser->SaveOptionsDialog(&options);
            if (!accepted)
                SetIoError(_IoResultCancelled, _IoLevelWarning);
            else if (!given)
                SaveIoParameters(false, options.SaveToSavedPrefs(), GetClass());
        }
        if (accepted)
        {
            scene->InitExport(options);
            C3DScene* copy = options.m_ExportScene;
            if (!copy || copy->GetChildCount() == 0)
                SetIoError(_IoResultNothingToSave, _IoLevelError);
            else
            {
                const uint64_t start = timeGetTick();
                unsigned dataClass = 0;
                void* data = copy->GetParserData(dataClass);
                try
                {
                    if ((options.m_Flags & _ExportUpdate) && dataClass == GetClass() &&
                        parser->CanUpdate(data))
                        saved = parser->Update(GetFileName(), copy, data, &options);
                    else
                        saved = parser->Save(GetFileName(), copy, &options);
                }
                catch (...)
                {
                    WriteToLogFile("Fails to write scene %s\n", GetFileName().c_str());
                    C3DScene::ReleaseExport(options);
                    SetIoError(_IoResultParserError, _IoLevelError);
                    ReportIoError(&options, _IoLevelWarning | _IoLevelError);
                    throw;
                }
                if (saved)
                    WriteToLogFile("Write scene %s in %d ms\n", GetFileName().c_str(),
                                   int(timeGetTick() - start));
                else
                    WriteToLogFile("Fails to write scene %s\n", GetFileName().c_str());
            }
            C3DScene::ReleaseExport(options);
        }
    }
    else
        SetIoError(_IoResultNotSupported, _IoLevelError);

    if (saved)
    {
        scene->SetFilename(CFileNameSpec(GetFileName(), GetClass()));
        SetIoError(_IoResultOk, _IoLevelInfo);
        ReportIoError(&options, _IoLevelAll);
        return true;
    }
    if (IsIoOk())
        SetIoError(_IoResultFailed, _IoLevelError);
    ReportIoError(&options, _IoLevelWarning | _IoLevelError);
    return false;
}

bool C3DIo::CanUpdate(unsigned classCode, C3DScene* scene)
{
    void* data = nullptr;
    if (scene)
    {
        unsigned dataClass = 0;
        data = scene->GetParserData(dataClass);
        if (!data || dataClass != classCode)
            return false;
    }
    C3DIo io(classCode, _FileParserSilent);
    io.InitParser();
    const C3DParser* parser = io.GetParser();
    return parser && parser->CanUpdate(data);
}

bool C3DIo::ReleaseParser(bool import, unsigned classCode, void* parserData)
{
    C3DIo io(classCode, _FileParserSilent | (import ? _FileParserRead : 0u));
    io.InitParser();
    C3DParser* parser = io.GetParser();
    return parser && parser->ReleaseParser(import, parserData);
}

namespace
{
// Options of one format as stored in \p preferences (null or empty: the format's defaults),
// prepared by \p parser the way a read or save would prepare them.
void PrepareStoredOptions(C3DParser& parser, CSceneImportOptions& options,
                          const CCustomData* preferences)
{
    if (preferences)
        options.InitFromSavedPrefs(*preferences);
    parser.LoadDefaultOptions(&options);
    ApplyDefaultFlags(options, preferences && !preferences->IsEmpty());
}

void PrepareStoredOptions(C3DParser& parser, CSceneExportOptions& options,
                          const CCustomData* preferences)
{
    if (preferences)
        options.InitFromSavedPrefs(*preferences);
    parser.SaveDefaultOptions(&options);
    ApplyDefaultFlags(options, preferences && !preferences->IsEmpty());
}
} // namespace

bool C3DIo::DisplayFormatDialog(unsigned classCode, bool import, CCustomData* preferences,
                                void* parent)
{
    CFileExt format;
    if (!fileGetExtensionInfo(classCode, format) || !(format.m_Flags & _FileKind3D))
        return false;
    C3DIo io(classCode,
             _FileParserOptionsOnly | _FileParserSilent | (import ? _FileParserRead : 0u), parent);
    io.InitParser();
    C3DParser* parser = io.GetParser();
    if (!parser)
        return false;
    bool accepted;
    if (import)
    {
        CSceneImportOptions options;
        options.SetFlag(_IoOptionsEditDefaults);
        PrepareStoredOptions(*parser, options, preferences);
        accepted = parser->LoadOptionsDialog(&options);
        if (preferences)
            preferences->SetUInt(CSceneImportOptions::kFlagsID,
                                 options.m_Flags & ~CSceneImportOptions::kTransientFlags);
    }
    else
    {
        CSceneExportOptions options;
        options.SetFlag(_IoOptionsEditDefaults);
        PrepareStoredOptions(*parser, options, preferences);
        accepted = parser->SaveOptionsDialog(&options);
        if (preferences)
        {
            preferences->SetUInt(CSceneExportOptions::kFlagsID,
                                 options.m_Flags & ~CSceneExportOptions::kTransientFlags);
            preferences->SetString(CSceneExportOptions::kTextureFolderID, options.m_TextureFolder);
        }
    }
    return accepted;
}

CXTString C3DIo::GetParametersInfo(const CCustomData& preferences, unsigned classCode, bool import)
{
    C3DIo io(classCode, _FileParserOptionsOnly | (import ? _FileParserRead : 0u));
    io.InitParser();
    C3DParser* parser = io.GetParser();
    if (!parser)
        return CXTString();
    if (import)
    {
        CSceneImportOptions options;
        PrepareStoredOptions(*parser, options, &preferences);
        return parser->GetLoadParametersInfo(&options);
    }
    CSceneExportOptions options;
    PrepareStoredOptions(*parser, options, &preferences);
    return parser->GetSaveParametersInfo(&options);
}
