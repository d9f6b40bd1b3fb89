// The preferences singleton: defaults, refusals, persistence and concurrent use.
#include "common/zan_test_helpers.h"

#include <3dzan/preferences.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

using zantest::CScopedEnv;

namespace
{
// Each test gets a new singleton loaded from a configuration folder of its own.
class Preferences : public ::testing::Test
{
protected:
    Preferences() : m_Config("ZAN3D_CONFIG_DIR", m_Dir.Path()) { RunApplicationExitCallbacks(); }
    ~Preferences() override { RunApplicationExitCallbacks(); }

    // Destroys the singleton as the application exit would, so that the next use reloads.
    static C3DPreferences& Reload()
    {
        RunApplicationExitCallbacks();
        return C3DPreferences::Get3DPreferences();
    }

    zantest::CTempDir m_Dir;
    CScopedEnv m_Config;
};
} // namespace

TEST_F(Preferences, DefaultsWithoutAFile)
{
    C3DPreferences& p = C3DPreferences::Get3DPreferences();
    EXPECT_FLOAT_EQ(p.GetSmoothAngle(), 0.54105204f);
    EXPECT_EQ(p.GetSmoothMode(), 2u);
    EXPECT_EQ(p.GetPatchLevel(), 1u);
    EXPECT_FLOAT_EQ(p.GetViewAngle(), 0.5235988f);
    EXPECT_EQ(p.GetTexturePaths().GetSize(), 0);
    CXTString maya;
    unsigned check;
    EXPECT_FALSE(p.GetMayaPath(maya, check));
    EXPECT_EQ(p.GetSketchupPath(), CXTString(GetApplicationPath()));
    EXPECT_EQ(&p, &C3DPreferences::Get3DPreferences());
}

TEST_F(Preferences, OutOfRangeValuesAreIgnored)
{
    C3DPreferences& p = C3DPreferences::Get3DPreferences();
    p.SetSmoothAngle(1.0f);
    p.SetSmoothAngle(3.2f);     // above 180.005 degrees
    p.SetSmoothAngle(-0.1f);
    p.SetSmoothAngle(NAN);
    EXPECT_FLOAT_EQ(p.GetSmoothAngle(), 1.0f);
    p.SetSmoothAngle(3.1416f);  // 180.0004 degrees: within the tolerance
    EXPECT_FLOAT_EQ(p.GetSmoothAngle(), 3.1416f);
    p.SetSmoothMode(4);
    p.SetSmoothMode(0);
    EXPECT_EQ(p.GetSmoothMode(), 4u);

    // A SketchUp path is kept only while its file exists.
    std::string reader = m_Dir.File("skp-reader");
    EXPECT_FALSE(p.SetSketchupPath(reader.c_str()));
    ASSERT_TRUE(zantest::WriteFileBytes(reader, {1}));
    EXPECT_TRUE(p.SetSketchupPath(reader.c_str()));
    EXPECT_EQ(p.GetSketchupPath(), reader.c_str());
    std::remove(reader.c_str());
    EXPECT_EQ(p.GetSketchupPath(), CXTString(GetApplicationPath()));
}

TEST_F(Preferences, ValuesSurviveASaveAndANewLoad)
{
    C3DPreferences& p = C3DPreferences::Get3DPreferences();
    p.SetSmoothAngle(0.75f);
    p.SetSmoothMode(3);
    p.SetPatchLevel(4);
    p.SetViewAngle(0.25f);
    CXArray<CXTString> folders;
    folders.Add("/textures/");
    folders.Add("/more textures/é/");
    p.SetTexturePaths(folders);
    p.SetLWPaths(folders);
    p.SetMayaPath("/opt/maya/companion", 77);
    const char raw[] = "caller data";
    p.SetBinaryData(ZanTag("HOST"), raw, sizeof raw);
    ASSERT_TRUE(p.Save());

    C3DPreferences& q = Reload();
    EXPECT_FLOAT_EQ(q.GetSmoothAngle(), 0.75f);
    EXPECT_EQ(q.GetSmoothMode(), 3u);
    EXPECT_EQ(q.GetPatchLevel(), 4u);
    EXPECT_FLOAT_EQ(q.GetViewAngle(), 0.25f);
    EXPECT_TRUE(q.GetTexturePaths() == folders);
    EXPECT_TRUE(q.GetLWPaths() == folders);
    CXTString maya;
    unsigned check = 0;
    ASSERT_TRUE(q.GetMayaPath(maya, check));
    EXPECT_EQ(maya, "/opt/maya/companion");
    EXPECT_EQ(check, 77u);
    char back[64] = {};
    ASSERT_TRUE(q.GetBinaryData(ZanTag("HOST"), back, 5));
    EXPECT_EQ(std::string(back), "calle"); // copied up to the size given
    EXPECT_FALSE(q.GetBinaryData(ZanTag("NONE"), back, sizeof back));
}

TEST_F(Preferences, ACorruptFileLeavesTheDefaults)
{
    ASSERT_TRUE(CreateConfigDirectory());
    std::string path = C3DPreferences::GetPreferencesFile().c_str();
    std::vector<uint8_t> garbage(300, 0xA5);
    ASSERT_TRUE(zantest::WriteFileBytes(path, garbage));
    C3DPreferences& p = Reload();
    EXPECT_EQ(p.GetSmoothMode(), 2u);
    EXPECT_EQ(zantest::ReadFileBytes(path), garbage);
}

TEST_F(Preferences, DisabledSavingNeitherReadsNorWrites)
{
    C3DPreferences::Get3DPreferences().SetPatchLevel(3);
    ASSERT_TRUE(C3DPreferences::Get3DPreferences().Save());
    EnablePreferencesSaving(false);
    C3DPreferences& p = Reload();
    EXPECT_EQ(p.GetPatchLevel(), 1u);
    p.SetPatchLevel(5);
    EXPECT_TRUE(p.Save());
    EnablePreferencesSaving(true);
    EXPECT_EQ(Reload().GetPatchLevel(), 3u);
}

// Worker threads read while the main thread writes; under ThreadSanitizer (the "tsan"
// preset) this shows that every access is guarded.
TEST_F(Preferences, ReadersOnWorkerThreadsAndAWriter)
{
    C3DPreferences& p = C3DPreferences::Get3DPreferences();
    std::atomic<bool> stop{false};
    std::atomic<int> badReads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!stop.load())
            {
                unsigned mode = p.GetSmoothMode();
                if (mode < 1 || mode > 4)
                    ++badReads;
                if (p.GetTexturePaths().GetSize() > 1)
                    ++badReads;
                (void)p.GetValues();
            }
        });
    for (int i = 0; i < 2000; ++i)
    {
        p.SetSmoothMode(1 + i % 4);
        CXArray<CXTString> one;
        one.Add(CXTString("/folder/") + CXTString(std::to_string(i)));
        p.SetTexturePaths(one);
    }
    stop = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(badReads.load(), 0);
}

TEST_F(Preferences, DefaultViewSettingsFallBackToTheCommonRecord)
{
    C3DPreferences& p = C3DPreferences::Get3DPreferences();
    GlViewSettings settings;
    EXPECT_FALSE(p.GetDefaultGLViewSettings(settings, 9));
    EXPECT_EQ(settings.m_FieldMask, 24u);
    EXPECT_EQ(settings.m_ViewFlags, 0x70000E14u);
    EXPECT_EQ(settings.m_StandardDirection, 5u);

    GlViewSettings common;
    common.m_ViewFlags = 0x1234;
    common.m_StandardDirection = 2;
    p.SetDefaultGLViewSettings(common, 0);
    EXPECT_TRUE(p.HasDefaultGLViewSettings(0));
    EXPECT_FALSE(p.HasDefaultGLViewSettings(9));
    ASSERT_TRUE(p.GetDefaultGLViewSettings(settings, 9));
    EXPECT_EQ(settings.m_ViewFlags, 0x1234u);
    EXPECT_EQ(settings.m_StandardDirection, 2u);
    EXPECT_EQ(settings.m_FieldMask, 24u);

    // A view of its own with no standard direction brings its matrix.
    GlViewSettings own;
    own.m_ViewFlags = 0x55;
    own.m_StandardDirection = 7;
    own.m_ViewMatrix[0][3] = 4.5f;
    own.m_ViewMatrix[2][1] = -1.0f;
    p.SetDefaultGLViewSettings(own, 9);
    ASSERT_TRUE(C3DPreferences::Get3DPreferences().Save());
    C3DPreferences& q = Reload();
    GlViewSettings back;
    ASSERT_TRUE(q.GetDefaultGLViewSettings(back, 9));
    EXPECT_EQ(back.m_FieldMask, 25u);
    EXPECT_EQ(back.m_ViewFlags, 0x55u);
    EXPECT_TRUE(back.m_ViewMatrix == own.m_ViewMatrix);

    q.RemoveDefaultGLViewSettings(9);
    EXPECT_FALSE(q.HasDefaultGLViewSettings(9));
    ASSERT_TRUE(q.GetDefaultGLViewSettings(back, 9));
    EXPECT_EQ(back.m_ViewFlags, 0x1234u);
}
