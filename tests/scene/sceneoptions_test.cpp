// The import and export options: their stored part ("FLAG", "TXPT"), the transient bits that
// are never stored nor loaded, their defaults and their copies.
#include <3dzan/scene/sceneoptions.h>

#include <gtest/gtest.h>

TEST(SceneImportOptions, WeldingIsNeverStoredNorLoaded)
{
    CSceneImportOptions options(_ImportWeld | _ImportTriangulate | _ImportRemoveHidden);
    EXPECT_TRUE(options.IsImport());
    const CCustomData stored = options.SaveToSavedPrefs();
    EXPECT_EQ(stored.GetUInt(CSceneImportOptions::kFlagsID),
              unsigned(_ImportTriangulate | _ImportRemoveHidden));
    EXPECT_EQ(options.m_Flags, unsigned(_ImportWeld | _ImportTriangulate | _ImportRemoveHidden))
        << "saving does not change the options in use";

    CCustomData data;
    data.SetUInt(CSceneImportOptions::kFlagsID, _ImportWeld | _ImportConcatenate);
    CSceneImportOptions loaded(_ImportTriangulate);
    loaded.InitFromSavedPrefs(data);
    EXPECT_EQ(loaded.m_Flags, unsigned(_ImportConcatenate));

    CSceneImportOptions untouched(_ImportWeld | _ImportCleanGroups);
    untouched.InitFromSavedPrefs(CCustomData());
    EXPECT_EQ(untouched.m_Flags, unsigned(_ImportCleanGroups)) << "no \"FLAG\": flags stay";
}

TEST(SceneExportOptions, DefaultsAndTransientBits)
{
    CSceneExportOptions options(0xFFFFFFFFu);
    EXPECT_FALSE(options.IsImport());
    EXPECT_EQ(options.m_ExportScene, nullptr);
    EXPECT_EQ(options.m_MaxPoints, -1);
    EXPECT_EQ(options.m_MaxFaces, -1);
    EXPECT_EQ(options.m_Unit, 0u);
    EXPECT_EQ(options.m_Reserved2, -1);
    EXPECT_EQ(options.m_TextureFolder, CXTString(".\\Textures\\"));
    EXPECT_FALSE(options.m_TextureFolderIsSceneFolder);

    options.m_TextureFolder = "maps/";
    const CCustomData stored = options.SaveToSavedPrefs();
    const unsigned storedFlags = stored.GetUInt(CSceneExportOptions::kFlagsID);
    EXPECT_EQ(storedFlags, ~0x85227Fu);
    for (unsigned bit : {0x10u, 0x20u, 0x40u, 0x200u, 0x2000u, 0x10000u, 0x40000u, 0x800000u})
        EXPECT_EQ(storedFlags & bit, 0u) << std::hex << bit;
    EXPECT_EQ(stored.GetString(CSceneExportOptions::kTextureFolderID), CXTString("maps/"));

    CSceneExportOptions loaded(0);
    CCustomData data;
    data.SetUInt(CSceneExportOptions::kFlagsID, _ExportNoUVW | _ExportTriangulate);
    loaded.m_TextureFolder = "elsewhere";
    loaded.InitFromSavedPrefs(data);
    EXPECT_EQ(loaded.m_Flags, unsigned(_ExportTriangulate)) << "transient bits cleared on load";
    EXPECT_EQ(loaded.m_TextureFolder, CXTString(".\\Textures\\")) << "no \"TXPT\": the default";

    CSceneExportOptions roundTrip(0);
    roundTrip.InitFromSavedPrefs(stored);
    EXPECT_EQ(roundTrip.m_Flags, storedFlags);
    EXPECT_EQ(roundTrip.m_TextureFolder, CXTString("maps/"));
}

TEST(SceneExportOptions, CopiesTakeEveryField)
{
    CSceneExportOptions* options = CSceneExportOptions::Create(_ExportTriangulate);
    ASSERT_NE(options, nullptr);
    options->m_UsedTextureNames.Insert("wood.png");
    options->m_SwapMode = 3;
    options->m_OrientationMode = 1;
    options->m_ForcedFlags = 0x400;
    options->m_DefaultFlags = 0x800;
    options->m_Unit = 5;
    options->m_MaxPoints = 65535;
    options->m_MaxFaces = 1000;
    options->m_MaterialNameRule = 0x1000020;
    options->m_ObjectNameRule = 0x4000010;
    options->m_DestinationFile = "/tmp/out.obj";
    options->m_TextureFolder = "tex/";
    options->m_TextureFolderIsSceneFolder = true;
    options->AddLogInfo(_IoLevelInfo, "line");

    auto check = [&](const CSceneExportOptions& copy)
    {
        EXPECT_TRUE(copy.m_UsedTextureNames.Find("wood.png"));
        EXPECT_EQ(copy.m_Flags, unsigned(_ExportTriangulate));
        EXPECT_EQ(copy.m_SwapMode, 3u);
        EXPECT_EQ(copy.m_OrientationMode, 1u);
        EXPECT_EQ(copy.m_ForcedFlags, 0x400u);
        EXPECT_EQ(copy.m_DefaultFlags, 0x800u);
        EXPECT_EQ(copy.m_Unit, 5u);
        EXPECT_EQ(copy.m_MaxPoints, 65535);
        EXPECT_EQ(copy.m_MaxFaces, 1000);
        EXPECT_EQ(copy.m_MaterialNameRule, 0x1000020u);
        EXPECT_EQ(copy.m_ObjectNameRule, 0x4000010u);
        EXPECT_EQ(copy.m_DestinationFile, CXTString("/tmp/out.obj"));
        EXPECT_EQ(copy.m_TextureFolder, CXTString("tex/"));
        EXPECT_TRUE(copy.m_TextureFolderIsSceneFolder);
        EXPECT_EQ(copy.GetLogCount(), 1);
    };
    CSceneExportOptions copied(*options);
    check(copied);
    CSceneExportOptions assigned(0);
    assigned = *options;
    check(assigned);
    copied.m_UsedTextureNames.Insert("stone.png");
    EXPECT_FALSE(options->m_UsedTextureNames.Find("stone.png")) << "the copy has its own set";
    EXPECT_TRUE(CSceneExportOptions::Delete(options));
    EXPECT_TRUE(CSceneExportOptions::Delete(nullptr));
}
