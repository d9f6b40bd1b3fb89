// The scene file front end: parser resolution, option defaults and persistence, the results
// of failed reads and saves, parser retries, the XSI notice, and the native format's round
// trip, truncated files and atomic saves. Test formats are served by parsers registered
// here, whose behaviour each test scripts.
#include <3dzan/foundation/fileio.h>
#include <3dzan/foundation/messages.h>
#include <3dzan/foundation/services.h>
#include <3dzan/io/io3d.h>
#include <3dzan/processing/primitives.h>
#include <3dzan/scene/scene.h>

#include "common/zan_test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{
namespace fs = std::filesystem;
using zantest::CTempConfigDir;
using zantest::CTempDir;

struct CSceneDrop
{
    void operator()(C3DScene* scene) const
    {
        if (scene)
            scene->Delete();
    }
};
using ScenePtr = std::unique_ptr<C3DScene, CSceneDrop>;

// A scene of one cube node named "Cube" (24 points, 6 faces).
ScenePtr CubeScene()
{
    ScenePtr scene(C3DScene::Create());
    C3DSceneNode* cube = CreateCube(C3DTPoint<float>(0, 0, 0), 2, 2, 2, true, 1, 500);
    EXPECT_NE(cube, nullptr);
    EXPECT_TRUE(scene->AddNode(nullptr, cube));
    return scene;
}

// Saves \p scene as a native scene file at \p path through the front end.
bool SaveNative(const std::string& path, C3DScene* scene)
{
    C3DIo io(CFileNameSpec(path.c_str()), _FileParserSilent);
    return io.Save(false, scene);
}

// What a scripted test parser does, and what it saw.
struct CScript
{
    unsigned m_DefaultFlags = 0;
    unsigned m_ForcedFlags = 0;
    std::function<C3DScene*()> m_Read = [] { return nullptr; };
    bool m_Throw = false;
    bool m_AcceptDialog = true;
    bool m_CanUpdate = false;
    // Seen:
    int m_Reads = 0, m_Saves = 0, m_Updates = 0, m_Dialogs = 0;
    unsigned m_FlagsSeen = 0;
    int m_NodesSaved = -1;
};

class CScriptedParser : public C3DParser
{
public:
    CScriptedParser(CFileIo* io, CScript& script) : C3DParser(io), m_Script(script) {}
    void LoadDefaultOptions(CSceneImportOptions* options) override
    {
        options->m_DefaultFlags = m_Script.m_DefaultFlags;
        options->m_ForcedFlags = m_Script.m_ForcedFlags;
    }
    void SaveDefaultOptions(CSceneExportOptions* options) override
    {
        options->m_DefaultFlags = m_Script.m_DefaultFlags;
        options->m_ForcedFlags = m_Script.m_ForcedFlags;
    }
    bool LoadOptionsDialog(CSceneImportOptions*) override
    {
        ++m_Script.m_Dialogs;
        return m_Script.m_AcceptDialog;
    }
    bool SaveOptionsDialog(CSceneExportOptions*) override
    {
        ++m_Script.m_Dialogs;
        return m_Script.m_AcceptDialog;
    }
    C3DScene* Read(const CXTString&, CSceneImportOptions* options) override
    {
        ++m_Script.m_Reads;
        m_Script.m_FlagsSeen = options->m_Flags;
        if (m_Script.m_Throw)
            throw std::runtime_error("parser failure");
        return m_Script.m_Read();
    }
    bool Save(const CXTString&, C3DScene* scene, CSceneExportOptions* options) override
    {
        ++m_Script.m_Saves;
        m_Script.m_FlagsSeen = options->m_Flags;
        m_Script.m_NodesSaved = scene->GetChildCount();
        if (m_Script.m_Throw)
            throw std::runtime_error("parser failure");
        return true;
    }
    bool CanUpdate(void*) const override { return m_Script.m_CanUpdate; }
    bool Update(const CXTString&, C3DScene*, void*, CSceneExportOptions*) override
    {
        ++m_Script.m_Updates;
        return true;
    }

private:
    CScript& m_Script;
};

CFileParser* MakeScripted(CFileIo* io, uint32_t, void* script)
{
    return new CScriptedParser(io, *static_cast<CScript*>(script));
}

// A test format with one or more scripted parsers, registered for the test's length. Each
// test uses its own class code and extension: the registry keeps formats for the process.
class CTestFormat
{
public:
    CTestFormat(unsigned classCode, const char* extension, std::vector<CScript*> parsers)
        : m_Class(classCode), m_Parsers(std::move(parsers))
    {
        fileRegisterFile(CFileExt("Test scenes", extension, m_Class,
                                  _FileKind3D | _FileExtRead | _FileExtWrite));
        for (CScript* script : m_Parsers)
            EXPECT_TRUE(fileRegisterParserFactory(m_Class, &MakeScripted, script));
    }
    ~CTestFormat()
    {
        for (CScript* script : m_Parsers)
            fileUnregisterParserFactory(m_Class, &MakeScripted, script);
    }
    unsigned GetClass() const { return m_Class; }

private:
    unsigned m_Class;
    std::vector<CScript*> m_Parsers;
};

// A file that exists, so that reading reaches the parser.
std::string ExistingFile(const CTempDir& dir, const char* name)
{
    const std::string path = dir.File(name);
    EXPECT_TRUE(zantest::WriteFileText(path, "test scene"));
    return path;
}

bool LogHas(const CIoOptions& options, const std::string& text)
{
    return options.GetLogText().str().find(text) != std::string::npos;
}
} // namespace

TEST(SceneIoRead, MissingFileFailsBeforeAnyParserIsMade)
{
    CTempDir dir;
    CScript script;
    CTestFormat format(ZanTag("ZTR1"), ".ztr1", {&script});
    C3DIo io(CFileNameSpec(dir.File("absent.ztr1").c_str()), _FileParserRead | _FileParserSilent);
    EXPECT_EQ(io.Read(false), nullptr);
    EXPECT_EQ(io.GetIoError(), _IoResultFileNotFound);
    EXPECT_EQ(io.GetFileParser(), nullptr);
    EXPECT_EQ(script.m_Reads, 0);
    EXPECT_FALSE(io.GetLastIoReport().IsEmpty());
}

TEST(SceneIoRead, UnknownFormatsAndBridgesHaveNoParser)
{
    for (unsigned classCode : {kClass3MAX, kClassMAYA, ZanTag("ZQQ9")})
    {
        C3DIo io(classCode, _FileParserSilent);
        EXPECT_EQ(io.InitParser(), nullptr);
        EXPECT_EQ(io.GetIoError(), _IoResultNotSupported);
        EXPECT_EQ(io.GetIoErrorLevel(), unsigned(_IoLevelError));
    }
    C3DIo native(kClass3DIF, _FileParserSilent);
    EXPECT_NE(dynamic_cast<C3DIFIo*>(native.InitParser()), nullptr);
}

TEST(SceneIoRead, EmptySceneFailsAndAnotherParserIsTriedTransparently)
{
    CTempDir dir;
    CTempConfigDir config;
    const std::string path = ExistingFile(dir, "a.ztr2");

    CScript empty;
    empty.m_Read = [] { return C3DScene::Create(); }; // a root only
    {
        CTestFormat format(ZanTag("ZTR2"), ".ztr2", {&empty});
        C3DIo io(CFileNameSpec(path.c_str()), _FileParserRead | _FileParserSilent);
        EXPECT_EQ(io.Read(false), nullptr);
        EXPECT_EQ(io.GetIoError(), _IoResultEmptyResult);
        EXPECT_EQ(empty.m_Reads, 1);
    }

    // The first parser fails, the second reads: the caller gets the second's scene, with the
    // result of a success and the file name set.
    CScript failing, working;
    working.m_Read = [] { return CubeScene().release(); };
    CTestFormat format(ZanTag("ZTR3"), ".ztr3", {&failing, &working});
    const std::string path3 = ExistingFile(dir, "b.ztr3");
    C3DIo io(CFileNameSpec(path3.c_str()), _FileParserRead | _FileParserSilent);
    ScenePtr scene(io.Read(false));
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(failing.m_Reads, 1);
    EXPECT_EQ(working.m_Reads, 1);
    EXPECT_TRUE(io.IsIoOk());
    EXPECT_EQ(scene->GetFilename().GetFileName(), CXTString(path3.c_str()));
    EXPECT_EQ(scene->GetFaceNbr(), 6);

    // Both failing: the last failure is reported with a result a user can read.
    CScript first, second;
    CTestFormat both(ZanTag("ZTR4"), ".ztr4", {&first, &second});
    const std::string path4 = ExistingFile(dir, "c.ztr4");
    C3DIo failed(CFileNameSpec(path4.c_str()), _FileParserRead | _FileParserSilent);
    EXPECT_EQ(failed.Read(false), nullptr);
    EXPECT_EQ(first.m_Reads + second.m_Reads, 2);
    EXPECT_FALSE(failed.IsIoOk());
    EXPECT_FALSE(failed.GetLastIoReport().IsEmpty());
}

TEST(SceneIoRead, DefaultFlagsOnlyWithoutStoredOrGivenFlagsForcedAlways)
{
    CTempDir dir;
    CTempConfigDir config;
    CScript script;
    script.m_DefaultFlags = _ImportWeld | _ImportUnifyNormals;
    script.m_ForcedFlags = _ImportCleanGroups;
    script.m_Read = [] { return CubeScene().release(); };
    CTestFormat format(ZanTag("ZTR5"), ".ztr5", {&script});
    const std::string path = ExistingFile(dir, "d.ztr5");
    const unsigned noCheckout = _ImportNoCheckout;

    { // Given options without flags: defaults and forced flags.
        CSceneImportOptions options;
        C3DIo io(CFileNameSpec(path.c_str()), _FileParserRead | _FileParserSilent);
        ScenePtr scene(io.Read(false, &options));
        ASSERT_NE(scene, nullptr);
        EXPECT_EQ(script.m_FlagsSeen, unsigned(_ImportWeld | _ImportUnifyNormals | _ImportCleanGroups));
    }
    { // Given flags: no defaults, forced flags still added.
        CSceneImportOptions options(noCheckout);
        C3DIo io(CFileNameSpec(path.c_str()), _FileParserRead | _FileParserSilent);
        ScenePtr scene(io.Read(false, &options));
        EXPECT_EQ(script.m_FlagsSeen, noCheckout | _ImportCleanGroups);
    }
    { // Stored flags (read with the dialog): no defaults; the dialog's choice is stored
      // without the transient weld bit.
        CCustomData stored;
        stored.SetUInt(CSceneImportOptions::kFlagsID, _ImportTriangulate | _ImportWeld);
        ASSERT_TRUE(CFileIo::SaveIoParameters(true, stored, format.GetClass()));
        C3DIo io(CFileNameSpec(path.c_str()), _FileParserRead);
        ScenePtr scene(io.Read(true));
        ASSERT_NE(scene, nullptr);
        EXPECT_EQ(script.m_Dialogs, 1);
        EXPECT_EQ(script.m_FlagsSeen, unsigned(_ImportTriangulate | _ImportCleanGroups));
        CCustomData after;
        ASSERT_TRUE(CFileIo::LoadIoParameters(true, after, format.GetClass()));
        EXPECT_EQ(after.GetUInt(CSceneImportOptions::kFlagsID) & _ImportWeld, 0u);
    }
    { // A cancelled dialog: no scene, result -11, nothing read.
        script.m_AcceptDialog = false;
        const int reads = script.m_Reads;
        C3DIo io(CFileNameSpec(path.c_str()), _FileParserRead);
        EXPECT_EQ(io.Read(true), nullptr);
        EXPECT_EQ(io.GetIoError(), _IoResultCancelled);
        EXPECT_EQ(script.m_Reads, reads);
    }
}

TEST(SceneIoRead, ParserExceptionsAreReportedThenRaisedAgain)
{
    CTempDir dir;
    CTempConfigDir config;
    CScript script;
    script.m_Throw = true;
    CTestFormat format(ZanTag("ZTR6"), ".ztr6", {&script});
    const std::string path = ExistingFile(dir, "e.ztr6");
    C3DIo io(CFileNameSpec(path.c_str()), _FileParserRead | _FileParserSilent);
    EXPECT_THROW(io.Read(false), std::runtime_error);
    EXPECT_EQ(io.GetIoError(), _IoResultParserError);

    C3DIo saving(CFileNameSpec(dir.File("f.ztr6").c_str()), _FileParserSilent);
    ScenePtr scene = CubeScene();
    EXPECT_THROW(saving.Save(false, scene.get()), std::runtime_error);
    EXPECT_EQ(saving.GetIoError(), _IoResultParserError);
}

TEST(SceneIoSave, WritesAPreparedCopyAndNamesTheCallersScene)
{
    CTempDir dir;
    CTempConfigDir config;
    CScript script;
    script.m_DefaultFlags = _ExportTriangulate;
    CTestFormat format(ZanTag("ZTS1"), ".zts1", {&script});
    ScenePtr scene = CubeScene();
    const std::string path = dir.File("out.zts1");
    CSceneExportOptions options;
    C3DIo io(CFileNameSpec(path.c_str()), _FileParserSilent);
    ASSERT_TRUE(io.Save(false, scene.get(), &options));
    EXPECT_EQ(script.m_Saves, 1);
    EXPECT_EQ(script.m_NodesSaved, 1);
    EXPECT_EQ(options.m_DestinationFile, CXTString(path.c_str()));
    EXPECT_EQ(options.m_ExportScene, nullptr) << "the working copy is released";
    EXPECT_EQ(io.GetIoError(), _IoResultOk);
    EXPECT_EQ(scene->GetFilename().GetFileName(), CXTString(path.c_str()));
    EXPECT_EQ(scene->GetFaceNbr(), 6) << "the caller's quadrangles were not triangulated";
    EXPECT_TRUE(LogHas(options, "Triangulating object Cube"));
}

TEST(SceneIoSave, EmptyCopyFailsWithNothingToSave)
{
    CTempDir dir;
    CTempConfigDir config;
    CScript script;
    CTestFormat format(ZanTag("ZTS2"), ".zts2", {&script});
    ScenePtr scene = CubeScene();
    C3DSceneNode* cube = scene->GetChildNode(nullptr);
    ASSERT_NE(cube, nullptr);
    cube->SetFlag(_NodeHidden, true); // hidden nodes are left out without _ExportHidden
    C3DIo io(CFileNameSpec(dir.File("g.zts2").c_str()), _FileParserSilent);
    EXPECT_FALSE(io.Save(false, scene.get()));
    EXPECT_EQ(io.GetIoError(), _IoResultNothingToSave);
    EXPECT_EQ(script.m_Saves, 0);
    EXPECT_TRUE(scene->GetFilename().IsEmpty());
}

TEST(SceneIoSave, IgnoreChoicesAreNeverStoredAndUpdatesNeedTheSameFormat)
{
    CTempDir dir;
    CTempConfigDir config;
    CScript script;
    script.m_DefaultFlags = _ExportNoUVW | _ExportNoVC | _ExportNoSpecNormals | _ExportHidden;
    script.m_CanUpdate = true;
    CTestFormat format(ZanTag("ZTS3"), ".zts3", {&script});
    ScenePtr scene = CubeScene();
    {
        C3DIo io(CFileNameSpec(dir.File("h.zts3").c_str()), 0);
        ASSERT_TRUE(io.Save(true, scene.get()));
        EXPECT_EQ(script.m_FlagsSeen & _ExportNoUVW, unsigned(_ExportNoUVW));
        CCustomData stored;
        ASSERT_TRUE(CFileIo::LoadIoParameters(false, stored, format.GetClass()));
        const unsigned flags = stored.GetUInt(CSceneExportOptions::kFlagsID);
        EXPECT_EQ(flags & (_ExportNoUVW | _ExportNoVC | _ExportNoSpecNormals), 0u);
        EXPECT_EQ(flags & _ExportHidden, unsigned(_ExportHidden));
    }
    // The scene's reader data belongs to another format: the update bit is dropped and the
    // file is written anew.
    scene->SetParserData(true, ZanTag("ZQOT"), new int(5));
    CSceneExportOptions options(_ExportUpdate);
    C3DIo io(CFileNameSpec(dir.File("i.zts3").c_str()), _FileParserSilent);
    ASSERT_TRUE(io.Save(false, scene.get(), &options));
    EXPECT_EQ(script.m_Updates, 0);
    EXPECT_EQ(script.m_Saves, 2);
    EXPECT_EQ(options.m_Flags & _ExportUpdate, 0u);
    unsigned parserId = 0;
    delete static_cast<int*>(scene->GetParserData(parserId, true));
}

TEST(SceneIoXsi, NoticeOncePerProcessAndNeverWhenSilent)
{
    CScriptedAnswers answers;
    {
        C3DIo silent(kClassXSI, _FileParserSilent);
        EXPECT_EQ(silent.InitParser(), nullptr);
        EXPECT_EQ(silent.GetIoError(), _IoResultNotSupported);
    }
    const bool shownBefore = C3DIo::WasXsiNoticeShown();
    for (int i = 0; i < 2; ++i)
    {
        C3DIo io(kClassXSI, 0);
        EXPECT_EQ(io.InitParser(), nullptr);
        EXPECT_EQ(io.GetIoError(), _IoResultNotSupported);
    }
    EXPECT_TRUE(C3DIo::WasXsiNoticeShown());
    size_t notices = 0;
    for (const CScriptedAnswers::Shown& shown : answers.GetShown())
        if (shown.m_IsNotification && shown.m_Caption == CXTString("XSI file support"))
            ++notices;
    EXPECT_EQ(notices, shownBefore ? 0u : 1u);
}

TEST(NativeFormat, RoundTripThroughTheFrontEnd)
{
    CTempDir dir;
    CTempConfigDir config;
    ScenePtr scene = CubeScene();
    scene->CreateNewMaterial(1)->SetName("Red");
    const std::string path = dir.File("scene.3dif");
    EXPECT_EQ(fileGetClassOf(path.c_str()), kClass3DIF);
    ASSERT_TRUE(SaveNative(path, scene.get()));
    C3DIo io(CFileNameSpec(path.c_str()), _FileParserRead | _FileParserSilent);
    ScenePtr read(io.Read(false));
    ASSERT_NE(read, nullptr) << io.GetLastIoReport().c_str();
    EXPECT_EQ(read->GetChildCount(), scene->GetChildCount());
    EXPECT_EQ(read->GetPointNbr(), scene->GetPointNbr());
    EXPECT_EQ(read->GetFaceNbr(), scene->GetFaceNbr());
    ASSERT_NE(read->GetMaterialByID(1), nullptr);
    EXPECT_EQ(read->GetMaterialByID(1)->GetName(), CXTString("Red"));
    C3DSceneNode* node = read->GetChildNode(nullptr);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->GetName(), CXTString("Cube"));
    EXPECT_EQ(read->GetFilename().GetFileName(), CXTString(path.c_str()));
}

TEST(NativeFormat, TruncatedAndGarbageFilesFailClearly)
{
    CTempDir dir;
    CTempConfigDir config;
    ScenePtr scene = CubeScene();
    const std::string path = dir.File("whole.3dif");
    ASSERT_TRUE(SaveNative(path, scene.get()));
    const std::vector<uint8_t> bytes = zantest::ReadFileBytes(path);
    ASSERT_GT(bytes.size(), 64u);
    const std::vector<std::vector<uint8_t>> bad = {
        std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(bytes.size() / 2)),
        std::vector<uint8_t>(bytes.begin(), bytes.end() - 1),
        std::vector<uint8_t>(4096, 0xFF),
        {1, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F},
    };
    for (size_t i = 0; i < bad.size(); ++i)
    {
        const std::string badPath = dir.File(std::to_string(i) + "bad.3dif");
        ASSERT_TRUE(zantest::WriteFileBytes(badPath, bad[i]));
        C3DIo io(CFileNameSpec(badPath.c_str()), _FileParserRead | _FileParserSilent);
        EXPECT_EQ(io.Read(false), nullptr) << i;
        EXPECT_EQ(io.GetIoError(), _IoResultBadFormat) << i;
        EXPECT_NE(io.GetLastIoReport().str().find("bad.3dif") , std::string::npos)
            << i << ": the report names the file: " << io.GetLastIoReport().c_str();
    }
}

namespace
{
struct CNativeProgress
{
    int m_Highest = -1;
    bool m_Stop = false;
};
bool WatchNativeRead(int event, ProcessProgressInfo* info, void* data)
{
    auto* seen = static_cast<CNativeProgress*>(data);
    if (event & kProgressPosition)
        seen->m_Highest = std::max(seen->m_Highest, info->GetPercent());
    return (event & kProgressAskStopBit) && seen->m_Stop;
}
} // namespace

// Reading a scene file tells the host how far it got, and the host can stop it.
TEST(NativeFormat, ReadReportsProgressAndCanBeStopped)
{
    CTempDir dir;
    CTempConfigDir config;
    ScenePtr scene = CubeScene();
    const std::string path = dir.File("progress.3dif");
    ASSERT_TRUE(SaveNative(path, scene.get()));
    for (bool stop : {false, true})
    {
        CNativeProgress seen;
        seen.m_Stop = stop;
        void* previousData = nullptr;
        ProgressHandler previous = progressSetCallback(&WatchNativeRead, &seen, &previousData);
        C3DIo io(CFileNameSpec(path.c_str()), _FileParserRead | _FileParserSilent);
        ScenePtr read(io.Read(false));
        progressSetCallback(previous, previousData);
        if (stop)
        {
            EXPECT_EQ(read, nullptr);
            EXPECT_EQ(io.GetIoError(), _IoResultCancelled);
        }
        else
        {
            ASSERT_NE(read, nullptr) << io.GetLastIoReport().c_str();
            EXPECT_EQ(read->GetFaceNbr(), scene->GetFaceNbr());
            EXPECT_EQ(seen.m_Highest, 100);
        }
    }
}

TEST(NativeFormat, FailedSaveLeavesTheOldFileAndNoTemporaryFile)
{
    CTempDir dir;
    CTempConfigDir config;
    ScenePtr scene = CubeScene();
    // The target is a folder: the rename over it fails after the whole archive was written.
    const std::string target = dir.File("taken.3dif");
    fs::create_directory(target);
    ASSERT_TRUE(zantest::WriteFileText(target + "/inside.txt", "kept"));
    C3DIo io(CFileNameSpec(target.c_str()), _FileParserSilent);
    EXPECT_FALSE(io.Save(false, scene.get()));
    EXPECT_FALSE(io.IsIoOk());
    EXPECT_EQ(zantest::ReadFileText(target + "/inside.txt"), "kept");
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        entries += entry.path().filename() != "taken.3dif";
    EXPECT_EQ(entries, 0) << "no temporary file is left behind";

    // A save into a folder that does not exist fails without creating anything.
    C3DIo nowhere(CFileNameSpec(dir.File("missing/scene.3dif").c_str()), _FileParserSilent);
    EXPECT_FALSE(nowhere.Save(false, scene.get()));
    EXPECT_FALSE(fs::exists(dir.File("missing")));

    // A good save over an existing file replaces it whole.
    const std::string good = dir.File("good.3dif");
    ASSERT_TRUE(zantest::WriteFileText(good, "old content"));
    C3DIo over(CFileNameSpec(good.c_str()), _FileParserSilent);
    ASSERT_TRUE(over.Save(false, scene.get()));
    EXPECT_NE(zantest::ReadFileText(good), "old content");
}
