// The glTF parser: maps the file, hands its bytes to the reader with the folder of the
// external buffers, and reports failures through the operation's result and log.
#include "gltf.h"

#include <pluginfile.h>

#include <3dzan/foundation/services.h>
#include <3dzan/scene/scene.h>

namespace zangltf
{
C3DScene* CGltfParser::Read(const CXTString& fileName, CSceneImportOptions* options)
{
    const CFileNameSpec named(fileName, kClassGLTF);
    zanplugin::CMappedFile file;
    if (!file.Open(fileName.c_str()))
    {
        SetIoError(_IoResultFileNotFound, _IoLevelError);
        if (options)
            options->AddLogInfo(_IoLevelError, "%s: %s", fileName.c_str(), file.GetError().c_str());
        return nullptr;
    }
    CGltfSource source;
    source.m_Data = file.GetView();
    source.m_Folder = named.GetFolder().c_str();
    source.m_Name = named.GetBaseName().c_str();
    CProgressTask progress("Reading glTF", named.GetName().c_str());
    source.m_Progress = &progress;
    CGltfError error;
    C3DScene* scene = ReadGltf(source, error);
    if (!scene)
    {
        SetIoError(error.m_Result, _IoLevelError);
        if (options)
            options->AddLogInfo(_IoLevelError, "%s: %s", named.GetName().c_str(),
                                error.m_Message.c_str());
        return nullptr;
    }
    scene->SetFilename(named);
    return scene;
}

bool CGltfParser::Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options)
{
    CGltfError error;
    if (WriteGltf(scene, fileName.c_str(), error))
        return true;
    SetIoError(error.m_Result, _IoLevelError);
    if (options)
        options->AddLogInfo(_IoLevelError, "%s: %s", fileName.c_str(), error.m_Message.c_str());
    return false;
}

void CGltfParser::SaveDefaultOptions(CSceneExportOptions* options)
{
    if (options)
        options->m_ForcedFlags |= _ExportTriangulate;
}
} // namespace zangltf
