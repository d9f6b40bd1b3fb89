// Moving the texture images of a scene next to an exported file: each diffuse image (and its
// alpha image) is copied into the destination folder and the map is pointed at the copy.
//
// A copy never replaces a file this export did not place: when the destination already holds
// another file of that name, the copy takes a free name ("stem_1.ext", ...). A file with the
// same bytes is reused as it is. The export's set of used texture names records every file
// placed, so that two textures of one export that share a name either share the file (the
// later one replaces the earlier) or, with _ExportRenameTextures, get names of their own.
// Every copy goes through a temporary file renamed into place, so that a failed copy leaves
// nothing half written.
#include <3dzan/scene/scene.h>

#include <3dzan/foundation/files.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/scene/sceneoptions.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace
{
constexpr unsigned kCantMoveTextureId = 9127;
constexpr unsigned kCopyingTextureId = 9138;
// Largest image copied; beyond it the copy is refused rather than read into memory.
constexpr uintmax_t kMaxTextureBytes = uintmax_t(1) << 31;

bool ReadWholeFile(const char* path, std::vector<char>& bytes)
{
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > kMaxTextureBytes)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.resize(size_t(size));
    in.read(bytes.data(), std::streamsize(size));
    return size_t(in.gcount()) == bytes.size();
}

// Whether the file at `path` holds exactly `bytes`.
bool HasSameBytes(const char* path, const std::vector<char>& bytes)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error) ||
        std::filesystem::file_size(path, error) != bytes.size() || error)
        return false;
    std::vector<char> other;
    return ReadWholeFile(path, other) && other == bytes;
}

// Folder names from other systems use backslashes; ours end with one '/'.
CXTString NormalizeFolder(const CXTString& folder)
{
    std::string text = folder.str();
    std::replace(text.begin(), text.end(), '\\', '/');
    if (!text.empty() && text.back() != '/')
        text += '/';
    return CXTString(text);
}

void LogLine(CSceneExportOptions* options, unsigned level, unsigned id, const char* a,
             const char* b = nullptr)
{
    if (!options)
        return;
    CXTString line;
    line.FormatId(id, a, b);
    options->AddLogInfo(level, "%s", line.c_str());
}
} // namespace

bool C3DScene::MoveTextureFile(const CXTString& file, const CXTString& destination,
                               CXTString& newName, CSceneExportOptions* options)
{
    newName.Empty();
    auto fail = [&]()
    {
        LogLine(options, _IoLevelWarning, kCantMoveTextureId, file.c_str());
        return false;
    };
    const CXTString folder = NormalizeFolder(destination);
    CXTString name = fileGetName(file);
    std::vector<char> bytes;
    if (folder.IsEmpty() || name.IsEmpty() || !fileExists(file) || !ReadWholeFile(file, bytes))
        return fail();
    std::error_code error;
    std::filesystem::create_directories(folder.c_str(), error);
    if (!fileDirectoryExists(folder))
        return fail();

    CXTString target = fileMakePath(folder, name);
    auto placedHere = [&](const CXTString& path)
    { return options && options->m_UsedTextureNames.Find(path); };
    const bool exists = fileExists(target) || fileDirectoryExists(target);
    if (exists && (std::filesystem::equivalent(file.c_str(), target.c_str(), error) ||
                   HasSameBytes(target, bytes)))
    {
        // The image is already there: nothing to copy, nothing replaced.
        if (options)
            options->m_UsedTextureNames.Insert(target);
        newName = name;
        return true;
    }
    const bool rename = options && (options->m_Flags & _ExportRenameTextures);
    if ((exists && !placedHere(target)) || (rename && placedHere(target)))
    {
        name = fileMakeUniqueName(folder, name);
        if (name.IsEmpty())
            return fail();
        target = fileMakePath(folder, name);
    }
    if (!fileWriteAtomic(target, bytes.data(), bytes.size()))
        return fail();
    if (options)
        options->m_UsedTextureNames.Insert(target);
    newName = name;
    LogLine(options, _IoLevelInfo, kCopyingTextureId, file.c_str(), target.c_str());
    return true;
}

bool C3DScene::MoveTextures(const CXTString& source, const CXTString& destination,
                            CSceneExportOptions* options)
{
    if (destination.IsEmpty())
        return false;
    // A relative destination lies beside the exported file, and so do the maps' new names.
    const CXTString exportFolder = options && !options->m_DestinationFile.IsEmpty()
                                       ? fileGetFolder(options->m_DestinationFile)
                                       : CXTString();
    CXTString folder = NormalizeFolder(destination);
    if (!exportFolder.IsEmpty())
        folder = NormalizeFolder(fileMakeAbsolutePath(exportFolder, folder));
    const CXTString base = exportFolder.IsEmpty() ? folder : exportFolder;

    CTextureSearch search = GetTextureSearch();
    if (!source.IsEmpty())
        search.m_SceneTexturePaths.Add(NormalizeFolder(source));

    // An image that several maps use is copied once.
    std::unordered_map<std::string, CXTString> copied;
    bool all = true;
    for (unsigned position = GetFirstMaterial(); position != kZanNone;)
    {
        const C3DMaterial* material = GetNextMaterial(position);
        CMaterialMap* map = material ? material->GetDiffuseMaps() : nullptr;
        if (!map)
            continue;
        for (bool alpha : {false, true})
        {
            const CXTString name = alpha ? map->GetAlphaFileName() : map->GetFileName();
            if (name.IsEmpty())
                continue;
            const CXTString path = map->GetBitmapPath(search, alpha, true);
            CXTString newName;
            if (path.IsEmpty())
            {
                LogLine(options, _IoLevelWarning, kCantMoveTextureId, name.c_str());
                all = false;
                continue;
            }
            auto known = copied.find(path.str());
            if (known != copied.end())
                newName = known->second;
            else if (MoveTextureFile(path, folder, newName, options))
                copied.emplace(path.str(), newName);
            else
            {
                all = false;
                continue;
            }
            const CXTString copy = fileMakePath(folder, newName);
            if (alpha)
                map->SetAlphaFileName(copy, base);
            else
                map->SetFileName(copy, base);
        }
    }
    return all;
}
