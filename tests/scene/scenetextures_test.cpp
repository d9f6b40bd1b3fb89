// Texture moving for an export: images go into the destination folder without ever
// replacing a file the export did not place, conflicting names get free ones, and the maps
// point at the copies.
#include "common/zan_test_helpers.h"
#include "scene/scene_test_helpers.h"

#include <3dzan/foundation/files.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/scene/sceneoptions.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace
{
using zantest::ReadFileText;
using zantest::ScenePtr;
using zantest::WriteFileText;

// A material whose diffuse map names \p file.
CMaterialMap* AddTexturedMaterial(C3DScene& scene, const std::string& file)
{
    C3DMaterial* material = scene.CreateNewMaterial(kZanNone);
    return material->AddMaterialMap(file.c_str(), kZanNone, _MapDiffuse, _ProjectionChannel);
}

struct CFolders
{
    zantest::CTempDir root;
    std::string a = root.File("a"), b = root.File("b"), out = root.File("out");
    CFolders()
    {
        for (const std::string& folder : {a, b, out})
            std::filesystem::create_directories(folder);
    }
};

TEST(SceneMoveTextures, NeverReplacesAForeignFile)
{
    CFolders dirs;
    ASSERT_TRUE(WriteFileText(dirs.a + "/tex.png", "ours"));
    ASSERT_TRUE(WriteFileText(dirs.out + "/tex.png", "foreign"));
    ScenePtr scene(C3DScene::Create());
    CMaterialMap* map = AddTexturedMaterial(*scene, dirs.a + "/tex.png");
    CSceneExportOptions options;

    ASSERT_TRUE(scene->MoveTextures(dirs.a.c_str(), (dirs.out + "/").c_str(), &options));
    EXPECT_EQ(ReadFileText(dirs.out + "/tex.png"), "foreign");
    const std::string moved = fileMakePath(dirs.out.c_str(), map->GetFileName()).c_str();
    EXPECT_NE(moved, dirs.out + "/tex.png");
    EXPECT_EQ(ReadFileText(moved), "ours");
    EXPECT_NE(options.GetLogText().str().find("Copying texture"), std::string::npos);

    // Moving again (the maps now name the copy, found in the destination) finds it already
    // there: no third file.
    ASSERT_TRUE(scene->MoveTextures(dirs.out.c_str(), dirs.out.c_str(), &options));
    EXPECT_EQ(fileMakePath(dirs.out.c_str(), map->GetFileName()), CXTString(moved.c_str()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dirs.out),
                            std::filesystem::directory_iterator()),
              2);
}

TEST(SceneMoveTextures, SameNamesOfOneExportGetUniqueNamesWhenAsked)
{
    CFolders dirs;
    ASSERT_TRUE(WriteFileText(dirs.a + "/tex.png", "first"));
    ASSERT_TRUE(WriteFileText(dirs.b + "/tex.png", "second"));
    ScenePtr scene(C3DScene::Create());
    CMaterialMap* first = AddTexturedMaterial(*scene, dirs.a + "/tex.png");
    CMaterialMap* second = AddTexturedMaterial(*scene, dirs.b + "/tex.png");
    CMaterialMap* again = AddTexturedMaterial(*scene, dirs.a + "/tex.png");
    CSceneExportOptions options(_ExportRenameTextures);

    ASSERT_TRUE(scene->MoveTextures("", dirs.out.c_str(), &options));
    for (CMaterialMap* map : {first, second, again})
    {
        const std::string copy = fileMakePath(dirs.out.c_str(), map->GetFileName()).c_str();
        const std::string source = map == second ? dirs.b : dirs.a;
        EXPECT_EQ(ReadFileText(copy), ReadFileText(source + "/tex.png"));
    }
    EXPECT_NE(first->GetFileName(), second->GetFileName());
    EXPECT_EQ(first->GetFileName(), again->GetFileName()); // one image, one copy
}

TEST(SceneMoveTextures, ReportsWhatCannotBeMoved)
{
    CFolders dirs;
    ScenePtr scene(C3DScene::Create());
    CMaterialMap* map = AddTexturedMaterial(*scene, dirs.a + "/missing.png");
    CSceneExportOptions options;
    EXPECT_FALSE(scene->MoveTextures(dirs.a.c_str(), dirs.out.c_str(), &options));
    EXPECT_NE(options.GetLogText().str().find("Can't move texture"), std::string::npos);
    EXPECT_EQ(map->GetFileName(), CXTString((dirs.a + "/missing.png").c_str()));
    EXPECT_FALSE(scene->MoveTextures(dirs.a.c_str(), "", &options));
}
} // namespace
