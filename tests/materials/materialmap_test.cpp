// Texture maps: creation and file names, the search for image files along the scene's and the
// preferences' folders, the texture transform keys, comparison and the archive.
#include "animation/math_test_helpers.h"
#include "common/zan_test_helpers.h"

#include <3dzan/materials/materialmap.h>
#include <3dzan/preferences.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace
{
namespace fs = std::filesystem;

// Sets the preferences' texture folders for the life of the object.
class CScopedTexturePaths
{
public:
    explicit CScopedTexturePaths(std::initializer_list<std::string> paths)
        : m_Old(C3DPreferences::Get3DPreferences().GetTexturePaths())
    {
        CXArray<CXTString> list;
        for (const auto& path : paths)
            list.Add(path.c_str());
        C3DPreferences::Get3DPreferences().SetTexturePaths(list);
    }
    ~CScopedTexturePaths() { C3DPreferences::Get3DPreferences().SetTexturePaths(m_Old); }

private:
    CXArray<CXTString> m_Old;
};

// A folder tree: root/scenes/sub/scene.3dif, root/scenes/, root/prefs/ and root/local/.
class CTextureFolders
{
public:
    CTextureFolders()
    {
        for (const char* folder : {"scenes/sub", "prefs", "local", "scenes/sub/maps"})
            fs::create_directories(m_Dir.File(folder));
        m_Search.m_SceneFile = m_Dir.File("scenes/sub/scene.3dif").c_str();
    }
    std::string Put(const std::string& relative)
    {
        const std::string path = m_Dir.File(relative);
        EXPECT_TRUE(zantest::WriteFileText(path, "image"));
        return path;
    }
    std::string Path(const std::string& relative) const { return m_Dir.File(relative); }
    CTextureSearch& Search() { return m_Search; }

private:
    zantest::CTempDir m_Dir;
    CTextureSearch m_Search;
};

std::string Found(const CTextureSearch& search, const char* name)
{
    CXTString result;
    return CMaterialMap::FindBitmap(search, name, result, false) ? result.str() : std::string();
}
} // namespace

TEST(MaterialMap, CreateAndFileNames)
{
    std::unique_ptr<CMaterialMap> map(CMaterialMap::Create("", 4, _MapBump, _ProjectionSpherical));
    EXPECT_EQ(map->GetFileName(), "Unnamed material");
    EXPECT_EQ(map->GetChannelID(), 4u);
    EXPECT_EQ(map->GetType(), _MapBump);
    EXPECT_EQ(map->GetProjection(), _ProjectionSpherical);
    EXPECT_EQ(CMaterialMap().GetChannelID(), kZanNone);

    // The same name again is no change; a new one is.
    EXPECT_FALSE(map->SetFileName("Unnamed material"));
    EXPECT_TRUE(map->SetFileName("wood.png"));
    EXPECT_FALSE(map->SetFileName("wood.png"));

    // Inside an existing base folder names become relative to it; outside they stay.
    zantest::CTempDir dir;
    EXPECT_TRUE(map->SetFileName((dir.Path() + "/maps/wood.png").c_str(), dir.Path().c_str()));
    EXPECT_EQ(map->GetFileName(), "maps/wood.png");
    EXPECT_TRUE(map->SetFileName("/elsewhere/wood.png", dir.Path().c_str()));
    EXPECT_EQ(map->GetFileName(), "/elsewhere/wood.png");
    EXPECT_TRUE(map->SetAlphaFileName((dir.Path() + "/a.png").c_str(), "/no/such/folder"));
    EXPECT_EQ(map->GetAlphaFileName(), (dir.Path() + "/a.png").c_str());
}

TEST(MaterialMapSearch, AMissingFileIsReportedAndTheNameKept)
{
    CTextureFolders folders;
    CScopedTexturePaths prefs({folders.Path("prefs")});
    CMaterialMap map;
    map.SetFileName("missing.png");
    EXPECT_FALSE(map.IsBitmapFound(folders.Search()));
    EXPECT_TRUE(map.GetBitmapPath(folders.Search(), false, true).IsEmpty());
    EXPECT_EQ(map.GetFileName(), "missing.png");
    CXTString result = "stale";
    EXPECT_FALSE(CMaterialMap::FindBitmap(folders.Search(), "", result, false));
    EXPECT_TRUE(result.IsEmpty());
    EXPECT_FALSE(CMaterialMap::FindBitmap(folders.Search(), "maps/", result, false));
}

TEST(MaterialMapSearch, SceneFoldersComeBeforeThePreferenceFolders)
{
    CTextureFolders folders;
    CScopedTexturePaths prefs({folders.Path("prefs")});
    const std::string inPrefs = folders.Put("prefs/wood.png");
    EXPECT_EQ(Found(folders.Search(), "wood.png"), inPrefs);

    // The scene's folder, then its parent, win over the preferences.
    const std::string inParent = folders.Put("scenes/wood.png");
    EXPECT_EQ(Found(folders.Search(), "wood.png"), inParent);
    const std::string inScene = folders.Put("scenes/sub/wood.png");
    EXPECT_EQ(Found(folders.Search(), "wood.png"), inScene);

    // The scene's own texture folders come before the preferences', after the scene folder.
    const std::string inLocal = folders.Put("local/stone.png");
    folders.Put("prefs/stone.png");
    folders.Search().m_SceneTexturePaths.Add(folders.Path("local").c_str());
    EXPECT_EQ(Found(folders.Search(), "stone.png"), inLocal);
    // A relative one is taken from the scene folder.
    const std::string relative = folders.Put("local/rel.png");
    folders.Search().m_SceneTexturePaths.RemoveAll();
    folders.Search().m_SceneTexturePaths.Add("../../local");
    EXPECT_EQ(fs::path(Found(folders.Search(), "rel.png")).lexically_normal(), fs::path(relative));

    // Without the preferences, a file only they hold is not found.
    folders.Put("prefs/only.png");
    folders.Search().m_UsePreferencePaths = false;
    EXPECT_EQ(Found(folders.Search(), "only.png"), "");
}

TEST(MaterialMapSearch, NamesWithFoldersRootsAndForeignSeparators)
{
    CTextureFolders folders;
    CScopedTexturePaths prefs({folders.Path("prefs")});
    // A relative name with folders, resolved against the scene folder.
    const std::string inMaps = folders.Put("scenes/sub/maps/tile.png");
    EXPECT_EQ(Found(folders.Search(), "maps/tile.png"), inMaps);
    // An absolute name whose folder does not exist here is found by its file part.
    EXPECT_EQ(Found(folders.Search(), "/textures/old/tile.png"), "");
    const std::string beside = folders.Put("scenes/sub/tile.png");
    EXPECT_EQ(Found(folders.Search(), "/textures/old/tile.png"), beside);
    // A name written on a system with drives and backslashes.
    EXPECT_EQ(Found(folders.Search(), "C:\\Textures\\tile.png"), beside);
    // An absolute name that exists is itself.
    EXPECT_EQ(Found(folders.Search(), inMaps.c_str()), inMaps);
    // Relative results become absolute on request.
    CTextureSearch noScene;
    noScene.m_UsePreferencePaths = false;
    const fs::path previous = fs::current_path();
    fs::current_path(folders.Path("scenes"));
    CXTString result;
    EXPECT_TRUE(CMaterialMap::FindBitmap(noScene, "sub/tile.png", result, false));
    EXPECT_EQ(result, "sub/tile.png");
    EXPECT_TRUE(CMaterialMap::FindBitmap(noScene, "sub/tile.png", result, true));
    EXPECT_EQ(fs::path(result.str()), fs::path(beside));
    fs::current_path(previous);
}

TEST(MaterialMap, TextureTransformComposesItsKeysInOrder)
{
    CMaterialMap map;
    C4x4TMatrix<float> m;
    map.GetMatrix(0, m);
    EXPECT_TRUE(m.IsIdentity());
    C3DTVector<float> tile;
    map.GetTile(0, tile);
    EXPECT_EQ(tile, C3DTVector<float>(1, 1, 1));

    map.SetTranslation(0, C3DTVector<float>(1, 2, 3));
    map.SetScale(0, C3DTVector<float>(2, 2, 2));
    map.GetMatrix(0, m);
    // Translation then scale on the right: T·S.
    const float ts[16] = {2, 0, 0, 1, 0, 2, 0, 2, 0, 0, 2, 3, 0, 0, 0, 1};
    EXPECT_EQ(m, C4x4TMatrix<float>(ts));

    // Animated translation, composed with Translate at another time.
    map.SetTranslation(10, C3DTVector<float>(3, 2, 1));
    C3DTVector<float> t;
    map.GetTranslation(5, t);
    EXPECT_EQ(t, C3DTVector<float>(2, 2, 2));
    map.Translate(10, C3DTVector<float>(1, 0, 0));
    map.GetTranslation(10, t);
    EXPECT_EQ(t, C3DTVector<float>(4, 2, 1));
    map.Scale(0, C3DTVector<float>(0.5f, 2, 1));
    C3DTVector<float> s;
    map.GetScale(0, s);
    EXPECT_EQ(s, C3DTVector<float>(1, 4, 2));

    // Rotation comes first: R·T·S.
    const CQuaternion quarter(C3DTVector<float>(0, 0, 1), zanmath::kPi / 2);
    map.SetRotation(0, quarter);
    map.Rotate(0, quarter);
    CQuaternion r;
    map.GetRotation(0, r);
    EXPECT_LT(zanmath::QuatDistance(r, quarter * quarter), 1e-6);
    map.GetMatrix(0, m);
    C4x4TMatrix<float> expected = r.GetMatrix();
    C4x4TMatrix<float> translation, scale;
    translation.SetTranslation(C3DTVector<float>(1, 2, 3));
    scale[0][0] = 1, scale[1][1] = 4, scale[2][2] = 2;
    EXPECT_LT(zanmath::MaxDiff(m, expected * translation * scale), 1e-6);

    C3DTVector<float> hpb;
    map.SetHPBRotation(0, C3DTVector<float>(0.3f, 0.2f, 0.1f));
    map.GetHPBRotation(0, hpb);
    EXPECT_NEAR(hpb.m_X, 0.3, 1e-5);
    EXPECT_NEAR(hpb.m_Z, 0.1, 1e-5);
    map.SetTile(0, C3DTVector<float>(4, 4, 1));
    map.GetTile(3, tile);
    EXPECT_EQ(tile, C3DTVector<float>(4, 4, 1));
}

TEST(MaterialMap, SwapCoordinatesOnlyForProjectionsInObjectAxesAndSurvivesTheArchive)
{
    CMaterialMap channel;
    channel.SwapCoordinates(_SwapYZ);
    EXPECT_EQ(channel.GetKeyNbr(), 0u);

    CMaterialMap planar;
    planar.SetProjection(_ProjectionPlanar);
    planar.SwapCoordinates(_SwapYZ);
    planar.SwapCoordinates(_MirrorX);
    planar.SwapCoordinates(0x3); // invalid
    const C4x4TMatrix<float> swap =
        SwapMatrix(_SwapYZ, C4x4TMatrix<float>()) * SwapMatrix(_MirrorX, C4x4TMatrix<float>());
    EXPECT_EQ(planar.GetAxisSwapMatrix(), swap);
    C4x4TMatrix<float> m;
    planar.GetMatrix(7, m);
    EXPECT_EQ(m, swap);

    CMaterialMap loaded;
    zantest::RoundTrip(planar, loaded);
    EXPECT_EQ(loaded.GetAxisSwapMatrix(), swap);
    EXPECT_TRUE(loaded == planar);
}

TEST(MaterialMapArchive, RoundTripComparisonAndMalformedMaps)
{
    std::unique_ptr<CMaterialMap> map(
        CMaterialMap::Create("tex/wood.png", 7, _MapSpecular, _ProjectionCylindrical));
    map->SetAlphaFileName("tex/wood_a.png");
    map->SetAxis(_MapAxisY);
    map->SetFlag(_MapReload, true);
    map->SetFlags(map->GetFlags() | 0x10);
    map->SetRotation(4, CQuaternion(C3DTVector<float>(1, 0, 0), 0.5));
    map->GetCustomData().SetInt(1, 2);

    CMaterialMap loaded;
    const auto bytes = zantest::RoundTrip(*map, loaded);
    EXPECT_TRUE(loaded == *map);
    EXPECT_TRUE(loaded.GetCustomData() == map->GetCustomData());
    EXPECT_TRUE(loaded.IsFlagSet(_MapReload));
    CMaterialMap copy;
    copy = *map;
    EXPECT_TRUE(copy == *map);
    copy.SetChannelID(8);
    EXPECT_FALSE(copy == *map);
    copy = *map;
    copy.SetAlphaFileName("");
    EXPECT_FALSE(copy == *map);

    CMaterialMap target;
    target.SetFileName("keep.png");
    const CMaterialMap before(target);
    zantest::ExpectTruncationsFail(bytes, target, [&] { return target == before; });
    // A type outside the known slots.
    CMaterialMap odd;
    odd.SetType(MapType(9));
    auto oddBytes = zantest::StoreToBytes([&](CXArchive& ar) { odd.Serialize(ar); });
    EXPECT_TRUE(zantest::ArchiveFails(
        [&] { zantest::LoadFromBytes(oddBytes, [&](CXArchive& ar) { target.Serialize(ar); }); },
        CXArchiveException::_BadValue));
    EXPECT_TRUE(target == before);
}
