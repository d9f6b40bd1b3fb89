// Texture maps: their parameters, texture transform keys, archive, and the search for their
// image files along the scene's and the preferences' folders.
//
// The search tries a fixed list of candidate paths and keeps the first file that opens: the
// name as written against the scene's folder and its parent, then the search folders, then
// the same places with the bare file name. Names written on other systems ("C:\maps\wood.jpg")
// are split on both separators so that their file part can still be found next to the scene.
#include <3dzan/materials/materialmap.h>

#include <3dzan/foundation/files.h>
#include <3dzan/foundation/xarchive.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
const unsigned kUnnamedMaterialStringId = 9423;

std::atomic<const CMaterialDefaults*> g_DefaultsSource{nullptr};

const CMaterialDefaults& BuiltInDefaults()
{
    static const CMaterialDefaults builtIn;
    return builtIn;
}

// The root of a path: "/" for an absolute path, "C:" or "C:/" for a drive, "" otherwise.
std::string RootOf(const std::string& path)
{
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':')
        return path.substr(0, path.size() >= 3 && path[2] == '/' ? 3 : 2);
    if (!path.empty() && path[0] == '/')
        return "/";
    return std::string();
}

bool IsAbsolute(const std::string& path)
{
    return !RootOf(path).empty();
}

// \p name resolved against \p folder; a rooted name only normalised.
std::string Resolve(const std::string& folder, const std::string& name)
{
    if (IsAbsolute(name) || folder.empty())
        return fs::path(name).lexically_normal().string();
    return fileMakeAbsolutePath(folder.c_str(), name.c_str()).str();
}

std::string WithSeparator(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

bool Opens(const std::string& path)
{
    if (path.empty() || !fileExists(path.c_str()))
        return false;
    CXDiskFile file;
    return file.Open(path.c_str(), CXDiskFile::modeRead);
}

std::string CurrentFolder()
{
    std::error_code error;
    fs::path current = fs::current_path(error);
    return error ? std::string() : current.string();
}

// \p path made relative to \p folder when it lies inside it; unchanged otherwise (a path
// that would climb out of the folder is kept as written).
CXTString MakeRelativeInside(const CXTString& path, const CXTString& folder)
{
    if (path.IsEmpty() || folder.IsEmpty() || !fileDirectoryExists(folder.c_str()))
        return path;
    const fs::path base = fs::path(folder.str()).lexically_normal();
    const fs::path full = fs::path(Resolve(folder.str(), path.str()));
    const fs::path relative = full.lexically_relative(base);
    if (relative.empty() || *relative.begin() == "..")
        return path;
    return CXTString(relative.string());
}
} // namespace

// ================================================================ CMaterialDefaults

CMaterialDefaults::~CMaterialDefaults() = default;

float CMaterialDefaults::GetSmoothAngle() const
{
    return 0.54105204f;
}

CXArray<CXTString> CMaterialDefaults::GetTexturePaths() const
{
    return CXArray<CXTString>();
}

void CMaterialDefaults::SetMaterialDefaults(const CMaterialDefaults* source)
{
    g_DefaultsSource.store(source);
}

const CMaterialDefaults& CMaterialDefaults::GetMaterialDefaults()
{
    const CMaterialDefaults* source = g_DefaultsSource.load();
    return source ? *source : BuiltInDefaults();
}

CXTString CTextureSearch::GetSceneFolder() const
{
    return m_SceneFile.IsEmpty() ? CXTString() : fileGetFolder(m_SceneFile.c_str());
}

// ================================================================ CMaterialMap

ZAN_IMPLEMENT_DYNCREATE(CMaterialMap, CXObject)

CMaterialMap::CMaterialMap() = default;

CMaterialMap::CMaterialMap(const CMaterialMap& other)
    : CXObject(other), C3DKeyframable(other), m_FileName(other.m_FileName),
      m_AlphaFileName(other.m_AlphaFileName), m_CustomData(other.m_CustomData),
      m_ChannelID(other.m_ChannelID), m_Type(other.m_Type), m_Projection(other.m_Projection),
      m_Axis(other.m_Axis), m_Flags(other.m_Flags)
{
}

CMaterialMap::~CMaterialMap() = default;

CMaterialMap* CMaterialMap::Create(const CXTString& fileName, unsigned channelId, MapType type,
                                   MapProjection projection)
{
    auto* map = new CMaterialMap;
    map->m_FileName = fileName;
    if (map->m_FileName.IsEmpty() && !map->m_FileName.LoadStringW(kUnnamedMaterialStringId))
        map->m_FileName = "Unnamed material";
    map->m_ChannelID = channelId;
    map->m_Type = type;
    map->m_Projection = projection;
    return map;
}

bool CMaterialMap::SetFileName(const CXTString& name, const CXTString& baseFolder)
{
    CXTString stored = MakeRelativeInside(name, baseFolder);
    if (stored == m_FileName)
        return false;
    m_FileName = stored;
    return true;
}

bool CMaterialMap::SetAlphaFileName(const CXTString& name, const CXTString& baseFolder)
{
    CXTString stored = MakeRelativeInside(name, baseFolder);
    if (stored == m_AlphaFileName)
        return false;
    m_AlphaFileName = stored;
    return true;
}

bool CMaterialMap::FindBitmap(const CTextureSearch& search, const CXTString& name,
                              CXTString& result, bool absolute)
{
    result.Empty();
    std::string written = name.str();
    for (char& c : written)
        if (c == '\\')
            c = '/';
    const std::string fileName = fileGetName(written.c_str()).str();
    if (fileName.empty())
        return false;
    const std::string nameFolder = fileGetFolder(written.c_str()).str();
    const std::string nameRoot = RootOf(written);
    const std::string sceneFolder = WithSeparator(search.GetSceneFolder().str());
    const std::string sceneRoot = RootOf(sceneFolder);
    std::string parentFolder;
    if (!sceneFolder.empty())
    {
        fs::path folder = fs::path(sceneFolder).lexically_normal().parent_path();
        fs::path parent = folder.parent_path();
        if (!parent.empty() && parent != folder)
            parentFolder = WithSeparator(parent.string());
    }
    CXArray<CXTString> folders;
    folders.Append(search.m_SceneTexturePaths);
    if (search.m_UsePreferencePaths)
        folders.Append(CMaterialDefaults::GetMaterialDefaults().GetTexturePaths());

    std::vector<std::string> candidates;
    for (int pass = 1; pass <= 2; ++pass)
    {
        const bool whole = pass == 1;
        if (whole && !nameRoot.empty())
            continue; // the first pass resolves relative names only
        if (!nameFolder.empty())
            candidates.push_back(Resolve(sceneFolder, written));
        if (!nameRoot.empty() && !sceneRoot.empty())
            candidates.push_back(sceneRoot + nameFolder.substr(nameRoot.size()) + fileName);
        candidates.push_back(whole ? Resolve(sceneFolder, written) : sceneFolder + fileName);
        if (!parentFolder.empty())
            candidates.push_back(whole ? Resolve(parentFolder, written) : parentFolder + fileName);
        for (const CXTString& entry : folders)
        {
            if (entry.IsEmpty())
                continue;
            const std::string folder = WithSeparator(entry.str());
            if (whole)
            {
                if (IsAbsolute(folder))
                    candidates.push_back(Resolve(folder, written));
            }
            else
                candidates.push_back(
                    WithSeparator(IsAbsolute(folder) ? folder : Resolve(sceneFolder, folder)) +
                    fileName);
        }
    }

    for (const std::string& candidate : candidates)
        if (Opens(candidate))
        {
            result = candidate;
            if (absolute && !IsAbsolute(candidate))
                result = Resolve(WithSeparator(CurrentFolder()), candidate);
            return true;
        }
    return false;
}

CXTString CMaterialMap::GetBitmapPath(const CTextureSearch& search, bool alpha, bool absolute) const
{
    CXTString path;
    FindBitmap(search, alpha ? m_AlphaFileName : m_FileName, path, absolute);
    return path;
}

void CMaterialMap::ChangeChannelID(
    const std::function<bool(unsigned id, unsigned type, unsigned& newId)>& renumber)
{
    unsigned newId = m_ChannelID;
    if (renumber && renumber(m_ChannelID, 1, newId))
        m_ChannelID = newId;
}

// ---------------------------------------------------------------- transform

template <class KEY> KEY& CMaterialMap::KeyAt(int time, uint64_t classId)
{
    C3DKeyframe* key = GetKey(time, _KeyAt, classId);
    if (!key)
        key = CreateKey(time, classId);
    return dynamic_cast<KEY&>(*key);
}

void CMaterialMap::GetMatrix(int time, C4x4TMatrix<float>& matrix) const
{
    matrix.SetIdentity();
    C3DRotateKey rotation(kRotationKey);
    if (Evaluate(time, rotation))
        matrix *= rotation.ToMatrix();
    C3DMatrixKey transform(kMatrixKey);
    if (Evaluate(time, transform))
        matrix *= transform.ToMatrix();
    C3DTranslateKey translation(kTranslationKey);
    if (Evaluate(time, translation))
        matrix *= translation.ToMatrix();
    C3DScaleKey scale(kScaleKey);
    if (Evaluate(time, scale))
        matrix *= scale.ToMatrix();
    if (GetKey(time, 7, kAxisSwapKey))
        matrix *= GetAxisSwapMatrix();
}

C4x4TMatrix<float> CMaterialMap::GetAxisSwapMatrix() const
{
    const auto* key = dynamic_cast<const C3DVectorKey*>(GetKey(0, 7, kAxisSwapKey));
    return key ? key->ToMatrix() : C4x4TMatrix<float>();
}

void CMaterialMap::GetTile(int time, C3DTVector<float>& tile) const
{
    C3DVectorKey key(kTileKey);
    tile = Evaluate(time, key) ? key.GetVector() : C3DTVector<float>(1, 1, 1);
}

void CMaterialMap::SetTile(int time, const C3DTVector<float>& tile)
{
    KeyAt<C3DVectorKey>(time, kTileKey).SetVector(tile);
}

void CMaterialMap::GetTranslation(int time, C3DTVector<float>& translation) const
{
    C3DTranslateKey key(kTranslationKey);
    translation = Evaluate(time, key) ? key.GetVector() : C3DTVector<float>();
}

void CMaterialMap::SetTranslation(int time, const C3DTVector<float>& translation)
{
    KeyAt<C3DTranslateKey>(time, kTranslationKey).SetVector(translation);
}

void CMaterialMap::GetRotation(int time, CQuaternion& rotation) const
{
    C3DRotateKey key(kRotationKey);
    rotation = Evaluate(time, key) ? key.GetQuaternion() : CQuaternion();
}

void CMaterialMap::SetRotation(int time, const CQuaternion& rotation)
{
    KeyAt<C3DRotateKey>(time, kRotationKey).SetQuaternion(rotation);
}

void CMaterialMap::GetHPBRotation(int time, C3DTVector<float>& hpb) const
{
    CQuaternion rotation;
    GetRotation(time, rotation);
    double heading = 0, pitch = 0, bank = 0;
    rotation.GetHPBAngles(heading, pitch, bank);
    hpb.Set(float(heading), float(pitch), float(bank));
}

void CMaterialMap::SetHPBRotation(int time, const C3DTVector<float>& hpb)
{
    SetRotation(time, CQuaternion(double(hpb.m_X), double(hpb.m_Y), double(hpb.m_Z)));
}

void CMaterialMap::GetScale(int time, C3DTVector<float>& scale) const
{
    C3DScaleKey key(kScaleKey);
    scale = Evaluate(time, key) ? key.GetVector() : C3DTVector<float>(1, 1, 1);
}

void CMaterialMap::SetScale(int time, const C3DTVector<float>& scale)
{
    KeyAt<C3DScaleKey>(time, kScaleKey).SetVector(scale);
}

void CMaterialMap::SetMatrix(int time, const C4x4TMatrix<float>& matrix)
{
    KeyAt<C3DMatrixKey>(time, kMatrixKey).SetMatrix(matrix);
}

void CMaterialMap::Translate(int time, const C3DTVector<float>& offset)
{
    C3DTVector<float> current;
    GetTranslation(time, current);
    SetTranslation(time, current + offset);
}

void CMaterialMap::Rotate(int time, const CQuaternion& rotation)
{
    CQuaternion current;
    GetRotation(time, current);
    SetRotation(time, current * rotation);
}

void CMaterialMap::Scale(int time, const C3DTVector<float>& factors)
{
    C3DTVector<float> current;
    GetScale(time, current);
    SetScale(time, C3DTVector<float>(current.m_X * factors.m_X, current.m_Y * factors.m_Y,
                                     current.m_Z * factors.m_Z));
}

void CMaterialMap::SwapCoordinates(unsigned code)
{
    int a, b, k;
    if (m_Projection <= _ProjectionEnvironment || !GetXYZSwap(code, a, b, k))
        return;
    auto& key = KeyAt<C3DVectorKey>(0, kAxisSwapKey);
    key.SetMatrix(key.ToMatrix() * SwapMatrix(code, C4x4TMatrix<float>()));
    key.GetCustomData().SetBytes(kSwapMatrixId, key.ToMatrix().ValPtr(), 16 * sizeof(float));
}

// ---------------------------------------------------------------- copies and archive

bool CMaterialMap::operator==(const CMaterialMap& other) const
{
    return m_Type == other.m_Type && m_Axis == other.m_Axis && m_Projection == other.m_Projection &&
           m_ChannelID == other.m_ChannelID && m_FileName == other.m_FileName &&
           m_AlphaFileName == other.m_AlphaFileName && m_Flags == other.m_Flags &&
           C3DKeyframable::operator==(other);
}

CMaterialMap& CMaterialMap::operator=(const CMaterialMap& other)
{
    if (this == &other)
        return *this;
    C3DKeyframable::operator=(other);
    m_FileName = other.m_FileName;
    m_AlphaFileName = other.m_AlphaFileName;
    m_CustomData = other.m_CustomData;
    m_ChannelID = other.m_ChannelID;
    m_Type = other.m_Type;
    m_Projection = other.m_Projection;
    m_Axis = other.m_Axis;
    m_Flags = other.m_Flags;
    return *this;
}

void CMaterialMap::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        C3DKeyframable::Serialize(ar);
        ar << m_FileName << m_AlphaFileName << int(m_Type) << int(m_Projection) << int(m_Axis)
           << m_ChannelID << m_Flags;
        m_CustomData.Serialize(ar);
        return;
    }

    CMaterialMap loaded;
    loaded.C3DKeyframable::Serialize(ar);
    int type = 0, projection = 0, axis = 0;
    ar >> loaded.m_FileName >> loaded.m_AlphaFileName >> type >> projection >> axis >>
        loaded.m_ChannelID >> loaded.m_Flags;
    if (type < _MapNone || type > _MapBump)
        throw CXArchiveException(CXArchiveException::_BadValue, "a texture map of no known type");
    loaded.m_Type = MapType(type);
    loaded.m_Projection = MapProjection(projection);
    loaded.m_Axis = MapAxis(axis);
    loaded.m_CustomData.Serialize(ar);

    // The axis-swap keys hold their matrix in their custom data (their archive keeps only the
    // vector).
    for (unsigned i = 0; C3DKeyframe* key = loaded.GetKeyByIndex(i, nullptr, kAxisSwapKey); ++i)
    {
        size_t size = 0;
        const uint8_t* bytes = key->GetCustomData().GetBytes(kSwapMatrixId, size);
        if (bytes && size == 16 * sizeof(float))
        {
            float values[16];
            std::memcpy(values, bytes, sizeof values);
            static_cast<C3DVectorKey*>(key)->SetMatrix(C4x4TMatrix<float>(values));
        }
    }

    SwapKeys(loaded);
    m_FileName.str().swap(loaded.m_FileName.str());
    m_AlphaFileName.str().swap(loaded.m_AlphaFileName.str());
    m_CustomData.Swap(loaded.m_CustomData);
    m_ChannelID = loaded.m_ChannelID;
    m_Type = loaded.m_Type;
    m_Projection = loaded.m_Projection;
    m_Axis = loaded.m_Axis;
    m_Flags = loaded.m_Flags;
}
