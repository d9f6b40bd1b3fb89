// The parser object of the OBJ format: maps the file and hands it to the reader; writes
// through the writer beside a material library of the same name.
#include "objparser.h"

#include "pluginfile.h"

#include <3dzan/foundation/files.h>
#include <3dzan/scene/scene.h>

#include <string>

CObjParser::CObjParser(CFileIo* io) : C3DParser(io) {}

CObjParser::~CObjParser() = default;

void CObjParser::LoadDefaultOptions(CSceneImportOptions*)
{
    // Nothing is forced on import: the checkout does what the caller asks for.
}

C3DScene* CObjParser::Read(const CXTString& fileName, CSceneImportOptions* options)
{
    zanplugin::CMappedFile file;
    if (!file.Open(fileName.c_str()))
    {
        if (options)
            options->AddLogInfo(_IoLevelError, "%s: %s", fileName.c_str(), file.GetError().c_str());
        SetIoError(_IoResultFileNotFound, _IoLevelError);
        return nullptr;
    }
    const CFileNameSpec spec(fileName);
    CObjReadSettings settings;
    settings.m_DefaultName = spec.GetBaseName().c_str();
    settings.m_MaterialFolder = spec.GetFolder().c_str();
    settings.m_TextIsFileMapping = true;
    if (settings.m_MaterialFolder.empty())
        settings.m_MaterialFolder = ".";
    const std::string title = std::string("Reading ") + spec.GetBaseName().c_str();
    CProgressTask progress(title.c_str());
    progress.SetRange(0, int64_t(file.GetSize()));
    settings.m_Progress = &progress;
    int result = _IoResultOk;
    C3DScene* scene = ReadObjText(file.GetData(), file.GetSize(), settings, options, result);
    if (!scene)
    {
        SetIoError(result, result == _IoResultCancelled ? _IoLevelWarning : _IoLevelError);
        return nullptr;
    }
    scene->SetFilename(CFileNameSpec(fileName, kClassOBJ));
    SetScene(scene);
    return scene;
}

void CObjParser::SaveDefaultOptions(CSceneExportOptions* options)
{
    if (!options)
        return;
    // OBJ has no transformations: the export copy gets them baked into the points.
    options->m_ForcedFlags |= _ExportGlobalCoordinates;
}

bool CObjParser::Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options)
{
    if (!scene)
        return false;
    std::string objPath = fileName.c_str();
    const size_t slash = objPath.find_last_of('/');
    const size_t dot = objPath.find_last_of('.');
    std::string mtlPath = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                              ? objPath.substr(0, dot) + ".mtl"
                              : objPath + ".mtl";
    std::string error;
    if (!WriteObjFiles(*scene, objPath, mtlPath, error))
    {
        if (options)
            options->AddLogInfo(_IoLevelError, "%s: %s", fileName.c_str(), error.c_str());
        SetIoError(_IoResultWriteError, _IoLevelError);
        return false;
    }
    return true;
}
