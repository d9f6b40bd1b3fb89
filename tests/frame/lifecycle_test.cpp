// Start-up and shutdown: nested counts, the flags, the ".xsi" record, shared resources.
#include "common/zan_test_helpers.h"

#include <3dzan/foundation/commandmgr.h>
#include <3dzan/foundation/fileio.h>
#include <3dzan/foundation/files.h>
#include <3dzan/frame.h>
#include <3dzan/preferences.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

using zantest::CScopedEnv;

namespace
{
const unsigned kXsi = ZanTag("XSI ");

// Each test starts from a closed library with a configuration and plug-in folder of its own.
class Lifecycle : public ::testing::Test
{
protected:
    Lifecycle()
        : m_Config("ZAN3D_CONFIG_DIR", m_Dir.Path()),
          m_Plugins("ZAN3D_PLUGIN_PATH", std::string(ZAN3D_TEST_PLUGIN_DIR))
    {
        EXPECT_EQ(Zan3DGetInitCount(), 0);
        fileUnregisterFile(kXsi);
        CCommandMgr::ResetNames();
    }
    ~Lifecycle() override
    {
        while (Zan3DGetInitCount() > 0)
            Close3DZan(0);
        FreeIOPlugins(16384);
        fileUnregisterFile(kXsi);
    }
    bool PreferencesSaved() const { return fileExists(C3DPreferences::GetPreferencesFile()); }
    static bool PluginsLoaded() { return GetLoadedPlugins().GetSize() > 0; }

    zantest::CTempDir m_Dir;
    CScopedEnv m_Config;
    CScopedEnv m_Plugins;
};
} // namespace

TEST_F(Lifecycle, NestedInitialisationsStartAndStopOnce)
{
    Init3DZan(0);
    Init3DZan(0);
    EXPECT_EQ(Zan3DGetInitCount(), 2);
    EXPECT_TRUE(PluginsLoaded());
    ASSERT_NE(fileGetFileExt(".ztst"), nullptr) << "the plug-in's format is registered";

    Close3DZan(0);
    EXPECT_TRUE(PluginsLoaded());
    EXPECT_FALSE(PreferencesSaved());

    Close3DZan(0);
    EXPECT_EQ(Zan3DGetInitCount(), 0);
    EXPECT_FALSE(PluginsLoaded());
    EXPECT_EQ(fileGetFileExt(".ztst"), nullptr);
    EXPECT_TRUE(PreferencesSaved());

    // A close without an init is ignored; a new init starts the library again.
    Close3DZan(0);
    EXPECT_EQ(Zan3DGetInitCount(), 0);
    Init3DZan(0);
    EXPECT_TRUE(PluginsLoaded());
}

TEST_F(Lifecycle, FlagTwoSkipsPluginsAndTheXsiType)
{
    Init3DZan(_InitNoPlugins);
    EXPECT_FALSE(PluginsLoaded());
    EXPECT_EQ(fileGetFileExt(".xsi"), nullptr);
    EXPECT_TRUE(CCommandMgr::IsGroupRegistered(ZanTag("3DCO")));

    // Plug-ins loaded by someone else stay loaded through a close with the same flag.
    ASSERT_EQ(RegisterIOPlugins(16384, ZAN3D_TEST_PLUGIN_DIR), 1);
    Close3DZan(_InitNoPlugins);
    EXPECT_TRUE(PreferencesSaved());
    EXPECT_TRUE(PluginsLoaded());
}

TEST_F(Lifecycle, FlagOneSkipsTheCommandNames)
{
    Init3DZan(_InitNoCommandNames);
    EXPECT_TRUE(PluginsLoaded());
    const CFileExt* xsi = fileGetFileExt(".xsi");
    ASSERT_NE(xsi, nullptr);
    EXPECT_EQ(xsi->m_Class, kXsi);
    EXPECT_EQ(xsi->m_Flags, 0x4013u);
    EXPECT_EQ(xsi->m_ReadPlugin, 0x5A414E50u);
    EXPECT_EQ(xsi->m_WritePlugin, 0x5A414E50u);
    EXPECT_EQ(xsi->m_Description, "XSI Softimage files");
    EXPECT_TRUE(CCommandMgr::GetGroupCodes().empty());
    EXPECT_TRUE(CCommandMgr::GetCategoryCodes().empty());
}

TEST_F(Lifecycle, CommandGroupAndCategoriesAreNamedInOrder)
{
    Init3DZan(_InitNoPlugins);
    EXPECT_EQ(CCommandMgr::GetGroupName(ZanTag("3DCO")), "3D commands");
    std::vector<unsigned> expected = {ZanTag("TOOL"), ZanTag("VIEW"), ZanTag("LIGH"),
                                      ZanTag("POVW"), ZanTag("POV2"), ZanTag("VCAM"),
                                      ZanTag("REND"), ZanTag("FILE"), ZanTag("HELP")};
    EXPECT_EQ(CCommandMgr::GetCategoryCodes(), expected);
    EXPECT_EQ(CCommandMgr::GetCategoryName(ZanTag("POV2")), "Isometric Points of View");
    EXPECT_EQ(CCommandMgr::GetCategoryNameId(ZanTag("HELP")), 9205u);
}

TEST_F(Lifecycle, AnXsiRecordRegisteredFirstIsLeftUntouched)
{
    CFileExt mine("XSI scenes through a plug-in", ".xsi", kXsi, 0x4001, 0x11, 0x22);
    ASSERT_TRUE(fileRegisterFile(mine));
    Init3DZan(0);
    CFileExt found;
    ASSERT_TRUE(fileGetExtensionInfo(kXsi, found));
    EXPECT_EQ(found, mine);
}

TEST_F(Lifecycle, ResourcesAreSharedOncePerCallingModule)
{
    Dl_info info;
    ASSERT_NE(dladdr(reinterpret_cast<const void*>(&PluginsLoaded), &info), 0);
    const void* testModule = info.dli_fbase;
    Init3DZan(_InitShareResources | _InitNoPlugins);
    EXPECT_TRUE(Zan3DIsResourceShared(testModule));
    int shared = Zan3DGetSharedResourceNbr();
    Init3DZan(_InitShareResources | _InitNoPlugins); // honoured on every call, added once
    EXPECT_EQ(Zan3DGetSharedResourceNbr(), shared);

    // The resource handle is the library's own module, where the string tables live.
    ASSERT_NE(dladdr(reinterpret_cast<const void*>(&Zan3DGetString), &info), 0);
    EXPECT_EQ(Zan3DResourceHandle(), info.dli_fbase);
    EXPECT_NE(Zan3DResourceHandle(), testModule);
}

TEST_F(Lifecycle, PreferencesSurviveACloseAndALoad)
{
    const unsigned char data[] = {1, 2, 3};
    C3DPreferences::Get3DPreferences().SetBinaryData(ZanTag("TEST"), data, sizeof data);
    Init3DZan(_InitNoPlugins);
    Close3DZan(_InitNoPlugins);
    ASSERT_TRUE(PreferencesSaved());

    CCustomData saved;
    ASSERT_TRUE(saved.LoadFromPrefs(C3DPreferences::GetPreferencesFile(),
                                    C3DPreferences::kFileId1, C3DPreferences::kFileId2));
    size_t size = 0;
    const uint8_t* bytes = saved.GetBytes(ZanTag("TEST"), size);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(bytes[2], 3);
    C3DPreferences::Get3DPreferences().RemoveValue(ZanTag("TEST"));
}

TEST_F(Lifecycle, ACorruptPreferencesFileIsIgnoredAndKeptUntilTheNextSave)
{
    // Destroy the singleton (as at application exit) so that the next use loads the file.
    RunApplicationExitCallbacks();
    ASSERT_FALSE(C3DPreferences::Exists());
    ASSERT_TRUE(CreateConfigDirectory());
    std::vector<uint8_t> garbage = {'Z', 'P', 'R', 'F', 0xFF, 0x00, 0x13, 0x37, 'x'};
    std::string path = C3DPreferences::GetPreferencesFile().c_str();
    ASSERT_TRUE(zantest::WriteFileBytes(path, garbage));

    C3DPreferences& preferences = C3DPreferences::Get3DPreferences();
    EXPECT_TRUE(preferences.GetValues().IsEmpty());
    Init3DZan(_InitNoPlugins);
    Init3DZan(_InitNoPlugins);
    Close3DZan(_InitNoPlugins);
    EXPECT_EQ(zantest::ReadFileBytes(path), garbage);

    Close3DZan(_InitNoPlugins);
    CCustomData saved;
    EXPECT_TRUE(saved.LoadFromPrefs(path.c_str(), C3DPreferences::kFileId1,
                                    C3DPreferences::kFileId2));
}
