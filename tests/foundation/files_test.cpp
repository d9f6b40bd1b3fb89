// File names, the format registry, path functions, options and their log, read and write
// operations with their parsers, stored parameters, and format plug-ins.
#include <3dzan/foundation/fileio.h>
#include <3dzan/foundation/files.h>
#include <3dzan/foundation/services.h>

#include "common/zan_test_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using zantest::AllRefused;
using zantest::CScopedEnv;
using zantest::CTempDir;

namespace
{
// Unregisters the formats a test registered, whatever the test's outcome.
struct CFormatGuard
{
    std::vector<unsigned> m_Classes;
    ~CFormatGuard()
    {
        for (unsigned classCode : m_Classes)
            fileUnregisterFile(classCode);
    }
};

int CountFormats(unsigned classCode)
{
    int count = 0;
    for (const CFileExt& record : fileGetRegisteredFormats())
        count += record.m_Class == classCode;
    return count;
}

size_t CodePoints(const CXTString& text)
{
    return ZanUtf8ToWide(text.str()).size();
}

std::string RealPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// Whether a file of that name is mapped into this process (a loaded shared object).
bool IsMapped(const std::string& fileName)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.ends_with("/" + fileName))
            return true;
    return false;
}

bool Contains(const CXTString& text, const std::string& part)
{
    return text.str().find(part) != std::string::npos;
}

constexpr unsigned kTestPluginClass = ZanTag("ZTST");
} // namespace

// Operations and plug-ins write to the log: each test gets its own configuration folder, and
// plug-ins are freed first, whatever the test's outcome.
class FileIo : public ::testing::Test
{
protected:
    ~FileIo() override { FreeIOPlugins(0xFFFFFFFFu); }
    zantest::CTempConfigDir m_Config;
};
using IoPlugins = FileIo;

// ---------------------------------------------------------------------------- file names

TEST(FileNames, SplitsNamesIntoFolderNameAndExtension)
{
    struct
    {
        const char *path, *folder, *name, *baseName, *extension;
        bool url;
    } cases[] = {{"/home/u/scene.OBJ", "/home/u/", "scene.OBJ", "scene", ".OBJ", false},
                 {"scene.tar.gz", "", "scene.tar.gz", "scene.tar", ".gz", false},
                 {"/a/.profile", "/a/", ".profile", ".profile", "", false},
                 {"/a/b/", "/a/b/", "", "", "", false},
                 {"/a.d/noext", "/a.d/", "noext", "noext", "", false},
                 {"name.", "", "name.", "name.", "", false},
                 {"http://host/x/mesh.glb", "http://host/x/", "mesh.glb", "mesh", ".glb", true},
                 {"https://host", "https://", "host", "host", "", true},
                 {"c://x/y.obj", "c://x/", "y.obj", "y", ".obj", false}, // one letter: not a scheme
                 {"1ab://x", "1ab://", "x", "x", "", false},
                 {"git+ssh://h/r.ply", "git+ssh://h/", "r.ply", "r", ".ply", true},
                 {"", "", "", "", "", false}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path);
        CFileNameSpec file(c.path, ZanTag("TEST"));
        EXPECT_EQ(file.GetFolder(), c.folder);
        EXPECT_EQ(file.GetName(), c.name);
        EXPECT_EQ(file.GetBaseName(), c.baseName);
        EXPECT_EQ(file.GetExtension(), c.extension);
        EXPECT_EQ(file.IsURL(), c.url);
        EXPECT_EQ(file.IsEmpty(), *c.path == 0);
        // Folder and name always put the path back together.
        EXPECT_EQ(fileGetFolder(c.path) + fileGetName(c.path), c.path);
    }
    CFileNameSpec file("/x/Model.ObJ", 1);
    EXPECT_TRUE(file.HasExtension(".obj"));
    EXPECT_TRUE(file.HasExtension("OBJ"));
    EXPECT_TRUE(
        AllRefused({file.HasExtension("ob"), file.HasExtension(""), file.HasExtension(nullptr),
                    CFileNameSpec("/x/obj").HasExtension("obj")}));
    // Equal names need the same bytes and the same class (file systems here are case-sensitive).
    EXPECT_TRUE(file == CFileNameSpec("/x/Model.ObJ", 1));
    EXPECT_TRUE(file != CFileNameSpec("/x/Model.ObJ", 2));
    EXPECT_TRUE(file != CFileNameSpec("/x/Model.obj", 1));
}

TEST(FileNames, SetExtensionTouchesOnlyTheNameAndKeepsTheClass)
{
    const char* cases[][3] = {{"/a/b.c/scene.obj", "ply", "/a/b.c/scene.ply"},
                              {"/a/b.c/scene.ply", ".GLB", "/a/b.c/scene.GLB"},
                              {"/a/b.c/scene.GLB", "", "/a/b.c/scene"},
                              {"/a/b.c/scene", ".obj", "/a/b.c/scene.obj"},
                              {"/h/.profile", "bak", "/h/.profile.bak"},
                              {"/a/b/", "x", nullptr},
                              {"", "x", nullptr},
                              {"http://", "x", nullptr}};
    for (const auto& [name, extension, result] : cases)
    {
        CFileNameSpec file(name, ZanTag("OBJ "));
        EXPECT_EQ(file.SetExtension(extension), result != nullptr) << name;
        EXPECT_EQ(file.GetFileName(), result ? result : name);
        EXPECT_EQ(file.GetClass(), ZanTag("OBJ ")); // the caller decides the class
    }
}

// ---------------------------------------------------------------------------- registry

TEST(FormatRegistry, RefusesDuplicatesAndKeepsTheFirstRecordUntouched)
{
    CFormatGuard guard{{ZanTag("ZQA1"), ZanTag("ZQB1"), ZanTag("ZQX1"), ZanTag("ZQX2")}};
    const CFileExt first("First test format", ".zqa;.zqa2", ZanTag("ZQA1"),
                         _FileKind3D | _FileExtRead, 11, 12);
    ASSERT_TRUE(fileRegisterFile(first));
    CFileExt out;
    EXPECT_TRUE(
        AllRefused({// The same class under another extension and description.
                    fileRegisterFile(CFileExt("Impostor", ".zqb", ZanTag("ZQA1"), _FileKindBitmap)),
                    // Another class that shares one extension (in another case): refused as a
                    // whole, so its other extension is not taken either.
                    fileRegisterFile(CFileExt("Impostor", ".zqc;.ZQA2", ZanTag("ZQB1"), 0)),
                    fileGetFileExt(".zqc") != nullptr, fileGetFileExt(".zqb") != nullptr,
                    fileGetExtensionInfo(ZanTag("ZQB1"), out)}));
    ASSERT_TRUE(fileGetExtensionInfo(ZanTag("ZQA1"), out));
    EXPECT_EQ(out, first);
    ASSERT_NE(fileGetFileExt("zqa2"), nullptr);
    EXPECT_EQ(*fileGetFileExt("zqa2"), first);
    // Repeating the very same registration is harmless and adds nothing.
    EXPECT_TRUE(fileRegisterFile(first));
    EXPECT_EQ(CountFormats(ZanTag("ZQA1")), 1);

    // Start-up registers its fallback for an extension only when nobody did: whoever came
    // first keeps the extension, and a forced attempt changes nothing.
    const CFileExt early("Registered first", ".zqx", ZanTag("ZQX1"), _FileKind3D | 0x3, 7, 7);
    ASSERT_TRUE(fileRegisterFile(early));
    EXPECT_FALSE(fileRegisterFile(CFileExt("Library fallback", ".zqx", ZanTag("ZQX2"), 0x4013)));
    ASSERT_TRUE(fileGetExtensionInfo(ZanTag("ZQX1"), out));
    EXPECT_EQ(out, early);
    EXPECT_FALSE(fileGetExtensionInfo(ZanTag("ZQX2"), out));
}

TEST(FormatRegistry, RefusesMalformedRecordsAndReadsExtensionLists)
{
    CFormatGuard guard{{ZanTag("ZQM1"), ZanTag("ZQM2"), ZanTag("ZQM3")}};
    const int before = fileGetRegisteredFormats().GetSize();
    const unsigned c = ZanTag("ZQM1");
    EXPECT_TRUE(AllRefused({fileRegisterFile(CFileExt("no class", ".zqm", 0, _FileKind3D)),
                            fileRegisterFile(CFileExt("lone dot", ".", c, 0)),
                            fileRegisterFile(CFileExt("lone dot in a list", ".zqm;.", c, 0)),
                            fileRegisterFile(CFileExt("slash", ".zq/m", c, 0)),
                            fileRegisterFile(CFileExt("wildcard", "*.zqm", c, 0)),
                            fileRegisterFile(CFileExt("question mark", ".zq?", c, 0)),
                            fileRegisterFile(CFileExt("blank inside", ".zq m", c, 0)),
                            fileRegisterFile(CFileExt("backslash", ".zq\\m", c, 0))}));
    EXPECT_EQ(fileGetRegisteredFormats().GetSize(), before);
    EXPECT_EQ(fileGetFileExt(".zqm"), nullptr);

    // Blanks around items and empty items are not errors; a format may have no extension.
    ASSERT_TRUE(fileRegisterFile(CFileExt("spaced", " .ZQM2 ; zqm3 ;;.zqm2", ZanTag("ZQM2"), 0)));
    CFileExt out;
    ASSERT_TRUE(fileGetExtensionInfo(ZanTag("ZQM2"), out));
    CXArray<CXTString> list = out.GetExtensionList();
    ASSERT_EQ(list.GetSize(), 2);
    EXPECT_EQ(list[0], ".zqm2");
    EXPECT_EQ(list[1], ".zqm3");
    EXPECT_EQ(out.GetMainExtension(), ".zqm2");
    EXPECT_TRUE(out.HasExtension("ZQM3"));
    EXPECT_FALSE(out.HasExtension("zqm"));
    EXPECT_NE(fileGetFileExt("zqm3"), nullptr);
    EXPECT_TRUE(fileRegisterFile(CFileExt("bridge", "", ZanTag("ZQM3"), _FileExtNoFile)));
    EXPECT_TRUE(fileGetExtensionInfo(ZanTag("ZQM3"), out));
    EXPECT_TRUE(out.GetMainExtension().IsEmpty());
}

TEST(FormatRegistry, LookupIgnoresCaseAndDotAndKindsSelectFamilies)
{
    const unsigned c3d = ZanTag("ZK3D"), cBmp = ZanTag("ZKBM"), cMulti = ZanTag("ZKMU"),
                   cHdr = ZanTag("ZKHD"), cOther = ZanTag("ZKOT");
    CFormatGuard guard{{c3d, cBmp, cMulti, cHdr, cOther}};
    ASSERT_TRUE(fileRegisterFile(CFileExt("3d", ".ZK3", c3d, _FileKind3D | _FileExtRead)));
    ASSERT_TRUE(fileRegisterFile(CFileExt("bmp", ".zkb", cBmp, _FileKindBitmap | 0x3)));
    ASSERT_TRUE(fileRegisterFile(CFileExt("multi", ".zkm", cMulti, _FileKindMultiImage)));
    ASSERT_TRUE(fileRegisterFile(CFileExt("hdr", ".zkh", cHdr, _FileKindHdrImage | 0x1)));
    ASSERT_TRUE(fileRegisterFile(CFileExt("other", ".zkd", cOther, 0x8000 | _FileExtWrite)));
    const CFileExt* record = fileGetFileExt(".zk3");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->m_Class, c3d);
    for (const char* spelling : {"zk3", "ZK3", ".ZK3", "Zk3", " .zK3 "})
        EXPECT_EQ(fileGetFileExt(spelling), record) << spelling;
    for (const char* miss : {"file.zk3", "", ".", ".zk", "zk33", "/zk3"})
        EXPECT_EQ(fileGetFileExt(miss), nullptr) << miss;
    EXPECT_EQ(fileGetFileExt(nullptr), nullptr);
    EXPECT_EQ(fileGetClassOf("/a/b/Model.ZK3"), c3d);
    EXPECT_EQ(fileGetClassOf("/a/b.zk3/model"), 0u);
    EXPECT_EQ(fileGetClassOf(nullptr), 0u);

    // The kind is the flags' kind bits, without the capabilities.
    const std::pair<const char*, unsigned> kinds[] = {
        {"/scenes/forest.Zk3", 16384}, // what the open command tests
        {"t.zkb", 0x1000},
        {"t.zkm", 0x2000},
        {"t.zkh", 0x10000},
        {"t.zkd", 0x8000},
        {"no_extension", 0},
        {"t.unregistered", 0},
        {nullptr, 0}};
    for (const auto& [name, kind] : kinds)
        EXPECT_EQ(fileGetKindOf(name), kind) << (name ? name : "null");
    // Image formats only, in registration order.
    std::vector<unsigned> images;
    for (const CFileExt& format : fileGetRegisteredFormats(_FileKindImageMask))
        if (format.m_Class == cBmp || format.m_Class == cMulti || format.m_Class == cHdr ||
            format.m_Class == c3d || format.m_Class == cOther)
            images.push_back(format.m_Class);
    EXPECT_EQ(images, (std::vector<unsigned>{cBmp, cMulti, cHdr}));

    // Unregistering frees the class and every extension for another format.
    EXPECT_TRUE(fileUnregisterFile(cMulti));
    EXPECT_FALSE(fileUnregisterFile(cMulti));
    EXPECT_EQ(fileGetKindOf("a.zkm"), 0u);
    EXPECT_TRUE(fileRegisterFile(CFileExt("again", ".zkm", cMulti, _FileKindBitmap)));
    EXPECT_EQ(fileGetKindOf("a.zkm"), unsigned(_FileKindBitmap));
}

TEST(FormatRegistry, ConcurrentRegistrationsKeepOneRecordPerClass)
{
    constexpr int kThreads = 8, kClasses = 64;
    auto classOf = [](int i) { return ZanTag("ZR00") + unsigned(i); };
    std::vector<std::atomic<int>> winners(kClasses);
    std::atomic<int> successes{0};
    zantest::RunInThreads(
        kThreads,
        [&](int t)
        {
            for (int i = 0; i < kClasses; ++i)
            {
                std::string description = "thread " + std::to_string(t);
                std::string extension = ".zr" + std::to_string(i);
                if (fileRegisterFile(
                        CFileExt(description.c_str(), extension.c_str(), classOf(i), _FileKind3D)))
                {
                    ++successes;
                    winners[size_t(i)] = t;
                }
                fileGetKindOf(("x" + extension).c_str());
            }
        });
    EXPECT_EQ(successes.load(), kClasses);
    for (int i = 0; i < kClasses; ++i)
    {
        CFileExt out;
        ASSERT_TRUE(fileGetExtensionInfo(classOf(i), out));
        EXPECT_EQ(out.m_Description, ("thread " + std::to_string(winners[size_t(i)])).c_str());
        EXPECT_EQ(CountFormats(classOf(i)), 1);
        fileUnregisterFile(classOf(i));
    }
}

// ---------------------------------------------------------------------------- paths

TEST(Paths, ExistenceAndComparisonOfFolders)
{
    CTempDir dir;
    const std::string t = dir.Path(), file = dir.File("f.obj"), folder = dir.File("a");
    ASSERT_TRUE(zantest::WriteFileBytes(file, {1, 2, 3}));
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((t + "/a/b").c_str(), 0700), 0);
    ASSERT_EQ(symlink(file.c_str(), dir.File("lf").c_str()), 0);
    ASSERT_EQ(symlink((t + "/a/b").c_str(), (t + "/link").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("gone").c_str(), dir.File("dangling").c_str()), 0);
    // Links are followed; a dangling one names nothing.
    EXPECT_TRUE(fileExists(file.c_str()) && fileExists(dir.File("lf").c_str()));
    EXPECT_TRUE(fileDirectoryExists(folder.c_str()) && fileDirectoryExists((folder + "/").c_str()));
    EXPECT_TRUE(fileDirectoryExists(dir.File("link").c_str()));
    EXPECT_TRUE(AllRefused({fileExists(folder.c_str()), fileExists(dir.File("dangling").c_str()),
                            fileExists(dir.File("missing").c_str()), fileExists(""),
                            fileExists(nullptr), fileDirectoryExists(file.c_str()),
                            fileDirectoryExists(dir.File("dangling").c_str()),
                            fileDirectoryExists(nullptr)}));

    const std::pair<std::string, std::string> same[] = {
        {t + "/a", t + "/a/"},
        {t + "/a//", t + "/a/."},
        {t + "/a/b/..", t + "/a"},
        {t + "/a/./b/", t + "/a/b"},
        {t + "/link", t + "/a/b/"},
        {t + "/link/..", t + "/a"}, // ".." after a link leaves the link's target
        {t + "/a/missing/..", t + "/a"},
        {t + "/none/x/..", t + "/none/"},
        {t + "/link/none", t + "/a/b/none/"}};
    for (const auto& [a, b] : same)
    {
        EXPECT_TRUE(fileCompareDirectory(a.c_str(), b.c_str())) << a << " vs " << b;
        EXPECT_TRUE(fileCompareDirectory(b.c_str(), a.c_str())) << b << " vs " << a;
    }
    const std::pair<std::string, std::string> different[] = {{t + "/a", t + "/a/b"},
                                                             {t + "/link", t + "/a"},
                                                             {t + "/none1", t + "/none2"},
                                                             {t + "/a", t + "/A"},
                                                             {t + "/a", ""}};
    for (const auto& [a, b] : different)
        EXPECT_FALSE(fileCompareDirectory(a.c_str(), b.c_str())) << a << " vs " << b;
    EXPECT_FALSE(fileCompareDirectory(nullptr, t.c_str()));
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_TRUE(fileCompareDirectory(".", cwd));
    EXPECT_TRUE(fileCompareDirectory("./", (std::string(cwd) + "/").c_str()));
}

TEST(Paths, CompactPathNeverExceedsTheLimitAndKeepsTheName)
{
    const char* paths[] = {"/home/user/projects/3dzan/scenes/large/forest_scene_final.obj",
                           "relative/folder/names/here/file.txt",
                           "/très/long/dossier/avec/des/accents/scène_été.obj",
                           "/日本/東京/モデル/データ/ファイル名.glb",
                           "http://example.com/assets/models/v2/robot.gltf",
                           "/a/b",
                           "plain_name_without_any_folder_that_is_long.obj",
                           "/x/😀😀😀😀😀😀😀😀😀😀.png",
                           "/only/folders/here/",
                           "/averyveryverylongfolder/n.obj"};
    for (const char* path : paths)
    {
        const size_t length = CodePoints(path);
        CXTString trimmed = CXTString(path).Left(CXTString(path).GetLength() - 1);
        const CXTString name = fileGetName(fileGetName(path).IsEmpty() ? trimmed.c_str() : path);
        for (int limit = -1; limit <= int(length) + 2; ++limit)
        {
            SCOPED_TRACE(std::string(path) + " limit " + std::to_string(limit));
            CXTString compact = fileCompactPath(path, limit);
            EXPECT_LE(CodePoints(compact), size_t(std::max(limit, 0)));
            EXPECT_EQ(ZanWideToUtf8(ZanUtf8ToWide(compact.str())), compact.str()) << "valid UTF-8";
            if (size_t(std::max(limit, 0)) >= length)
                EXPECT_EQ(compact, path);
            else if (limit >= 0 && CodePoints(name) <= size_t(limit))
            {
                EXPECT_EQ(compact.Right(name.GetLength()), name);
            }
            // Whatever was cut shows as "...", unless only the name is left.
            EXPECT_TRUE(limit < 4 || size_t(limit) >= length || compact == name ||
                        compact.Find("...") >= 0);
        }
    }
    const char* forest = "/home/user/projects/3dzan/scenes/large/forest.obj";
    const std::pair<int, const char*> cases[] = {
        {33, "/home/.../scenes/large/forest.obj"},
        {32, "/home/.../large/forest.obj"},
        {26, "/home/.../large/forest.obj"},
        {25, "/home/.../forest.obj"}, // the first folder is kept before those near the name
        {20, "/home/.../forest.obj"},
        {19, "/.../forest.obj"},
        {14, ".../forest.obj"},
        {10, "forest.obj"},
        {9, "fo....obj"},
        {3, "for"},
        {0, ""}};
    for (const auto& [limit, expected] : cases)
        EXPECT_EQ(fileCompactPath(forest, limit), expected) << limit;
    EXPECT_EQ(fileCompactPath(nullptr, 10), "");
    EXPECT_EQ(fileCompactPath("/d/éééééééééé.obj", 10), "ééé....obj");
    EXPECT_EQ(fileCompactPath("/d/ééééé", 4), "é...");
    EXPECT_EQ(fileCompactPath("http://example.com/assets/models/v2/robot.gltf", 36),
              "http://example.com/.../v2/robot.gltf");
}

TEST(Paths, UniqueNamesJoinsResolutionAndValidation)
{
    CTempDir dir;
    const char* folder = dir.Path().c_str();
    EXPECT_EQ(fileMakeUniqueName(folder, "tex.png"), "tex.png");
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("tex.png"), {0}));
    EXPECT_EQ(fileMakeUniqueName(folder, "tex.png"), "tex_1.png");
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("tex_1.png"), {0}));
    // A folder and a dangling link take their names too.
    ASSERT_EQ(mkdir(dir.File("tex_2.png").c_str(), 0700), 0);
    ASSERT_EQ(symlink(dir.File("nowhere").c_str(), dir.File("tex_3.png").c_str()), 0);
    EXPECT_EQ(fileMakeUniqueName(folder, "tex.png"), "tex_4.png");
    // The name given is never read as a base with a counter.
    EXPECT_EQ(fileMakeUniqueName(folder, "tex_1.png"), "tex_1_1.png");
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("README"), {0}));
    EXPECT_EQ(fileMakeUniqueName(folder, "README"), "README_1");
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File(".hidden"), {0}));
    EXPECT_EQ(fileMakeUniqueName(folder, ".hidden"), ".hidden_1");
    EXPECT_EQ(fileMakeUniqueName(dir.File("missing").c_str(), "x.obj"), "x.obj");
    for (const char* bad : {"", "a/b", ".", "..", (const char*)nullptr})
        EXPECT_TRUE(fileMakeUniqueName(folder, bad).IsEmpty()) << (bad ? bad : "null");

    const char* joins[][3] = {{"/a", "b.obj", "/a/b.obj"},
                              {"/a/", "b.obj", "/a/b.obj"},
                              {"", "b.obj", "b.obj"},
                              {nullptr, "b.obj", "b.obj"},
                              {"/a", "/b.obj", "/b.obj"},
                              {"/a", "", "/a"},
                              {"/a", "http://h/b.obj", "http://h/b.obj"}};
    for (const auto& [base, name, joined] : joins)
        EXPECT_EQ(fileMakePath(base, name), joined) << name;
    const char* resolved[][3] = {{"/a/b", "../c/./d.png", "/a/c/d.png"},
                                 {"/a/b", "/x/../y.png", "/y.png"},
                                 {"rel", "x.png", "rel/x.png"},
                                 {"/a", "../../..", "/"}};
    for (const auto& [base, name, absolute] : resolved)
        EXPECT_EQ(fileMakeAbsolutePath(base, name), absolute) << name;

    EXPECT_TRUE(fileIsValidFileName("/tmp/x y/é.obj"));
    EXPECT_TRUE(fileIsValidFileName(("/t/" + std::string(255, 'n')).c_str()));
    EXPECT_TRUE(AllRefused({fileIsValidFileName(("/t/" + std::string(256, 'n')).c_str()),
                            fileIsValidFileName(std::string(4096, 'n').insert(100, "/").c_str()),
                            fileIsValidFileName(""), fileIsValidFileName("a\tb"),
                            fileIsValidFileName("a\nb"), fileIsValidFileName("a\x7F"),
                            fileIsValidFileName(nullptr)}));

    CXArray<CXTString> src, dst, empty;
    src.Add("a");
    src.Add("b");
    dst.Add("z");
    EXPECT_EQ(CopyStringArray(dst, src), 2);
    EXPECT_EQ(dst, src);
    EXPECT_EQ(CopyStringArray(dst, src, true), 4);
    EXPECT_EQ(CopyStringArray(src, src, true), 4); // appending an array to itself
    EXPECT_EQ(src, dst);
    EXPECT_EQ(dst[3], "b");
    EXPECT_EQ(CopyStringArray(dst, empty), 0);
}

// ---------------------------------------------------------------------------- options

TEST(IoOptions, LogKeepsLinesLevelsAndMaskAndIsBounded)
{
    CIoOptions options(true);
    EXPECT_TRUE(options.AddLogInfo(_IoLevelInfo, "read %d objects", 3));
    EXPECT_TRUE(options.AddLogInfo(_IoLevelError, "bad face in %s\n", "cube"));
    // Only one level per line; a line with no format is refused.
    EXPECT_TRUE(AllRefused({options.AddLogInfo(3, "two levels"), options.AddLogInfo(0, "none"),
                            options.AddLogInfo(8, "unknown level"),
                            options.AddLogInfo(_IoLevelInfo, nullptr)}));
    ASSERT_EQ(options.GetLogCount(), 2);
    EXPECT_EQ(options.GetLogLevelMask(), unsigned(_IoLevelInfo | _IoLevelError));
    unsigned level = 0;
    EXPECT_EQ(options.GetLogLine(1, level), "bad face in cube\n");
    EXPECT_EQ(level, unsigned(_IoLevelError));
    EXPECT_THROW(options.GetLogLine(2, level), CXInvalidArgException);
    EXPECT_THROW(options.GetLogLine(-1, level), CXInvalidArgException);
    EXPECT_EQ(options.GetLogText(_IoLevelError), "bad face in cube\n");
    EXPECT_EQ(options.GetLogText(_IoLevelWarning), "");
    EXPECT_EQ(options.GetLogText(), "read 3 objects\nbad face in cube\n");

    // A full log counts what it drops; the mask still grows; clearing starts again.
    for (int i = 2; i < 10050; ++i)
        ASSERT_TRUE(options.AddLogInfo(_IoLevelWarning, "line %d", i));
    EXPECT_EQ(options.GetLogCount(), 10000);
    EXPECT_EQ(options.GetDroppedLogCount(), 50);
    EXPECT_EQ(options.GetLogLine(9999, level), "line 9999");
    EXPECT_EQ(options.GetLogLevelMask(), 7u);
    CIoOptions copy(options);
    options.ClearLog();
    EXPECT_EQ(options.GetLogCount() + options.GetDroppedLogCount(), 0);
    EXPECT_EQ(options.GetLogLevelMask(), 0u);
    EXPECT_EQ(copy.GetLogLevelMask(), 7u);
    EXPECT_TRUE(options.AddLogInfo(_IoLevelInfo, "kept again"));
    EXPECT_EQ(options.GetLogCount(), 1);

    // Every flag asked for, or one of them; the saved values are the options' own copy.
    options.SetFlag(_IoOptionsShowReport | _IoOptionsEditDefaults);
    options.SetFlag(_IoOptionsEditDefaults, false);
    EXPECT_FALSE(options.IsFlagSet(_IoOptionsShowReport | _IoOptionsEditDefaults));
    EXPECT_TRUE(options.IsOneFlagSet(_IoOptionsShowReport | _IoOptionsEditDefaults));
    CCustomData stored;
    stored.SetUInt(ZanTag("FLAG"), 0x40);
    options.InitFromSavedPrefs(stored);
    stored.SetUInt(ZanTag("FLAG"), 0);
    EXPECT_EQ(options.SaveToSavedPrefs().GetUInt(ZanTag("FLAG")), 0x40u);
}

// ---------------------------------------------------------------------------- operations

namespace
{
// A parser that counts its instances and says which factory made it.
class CCountedParser : public CFileParser
{
public:
    static inline int s_Live = 0;
    CCountedParser(CFileIo* io, char tag) : CFileParser(io), m_Tag(tag) { ++s_Live; }
    ~CCountedParser() override { --s_Live; }
    char m_Tag;
};

CFileParser* Decline(CFileIo*, uint32_t, void*)
{
    return nullptr;
}
CFileParser* MakeTagged(CFileIo* io, uint32_t, void* tag)
{
    return new CCountedParser(io, *static_cast<char*>(tag));
}
CFileParser* Throw(CFileIo*, uint32_t, void*)
{
    throw std::runtime_error("cannot");
}

char g_TagA = 'A', g_TagB = 'B';

char TagOf(CFileParser* parser)
{
    auto* counted = dynamic_cast<CCountedParser*>(parser);
    return counted ? counted->m_Tag : '?';
}
} // namespace

TEST_F(FileIo, ResultsAndReports)
{
    CFileIo io(CFileNameSpec("/no/such/scene.zio"), _FileParserRead | _FileParserSilent);
    EXPECT_TRUE(io.IsReading());
    EXPECT_TRUE(io.IsIoOk());
    EXPECT_TRUE(io.FormatIoReport(nullptr, _IoLevelAll).IsEmpty());
    EXPECT_FALSE(io.ReportIoError(_IoLevelAll));
    EXPECT_TRUE(io.GetLastIoReport().IsEmpty());

    io.SetIoError(_IoResultFileNotFound, _IoLevelError);
    EXPECT_FALSE(io.IsIoOk());
    CXTString errors = io.FormatIoReport(nullptr, _IoLevelWarning | _IoLevelError);
    EXPECT_TRUE(Contains(errors, "/no/such/scene.zio"));
    EXPECT_TRUE(Contains(errors, CFileIo::GetIoResultText(_IoResultFileNotFound)));
    EXPECT_TRUE(io.FormatIoReport(nullptr, _IoLevelInfo).IsEmpty());
    CIoOptions options(true);
    options.AddLogInfo(_IoLevelInfo, "read %d nodes", 12);
    options.AddLogInfo(_IoLevelWarning, "object %s has no faces", "Box01");
    CXTString failures = io.FormatIoReport(&options, 6);
    EXPECT_TRUE(Contains(failures, "object Box01 has no faces"));
    EXPECT_FALSE(Contains(failures, "read 12 nodes"));
    CXTString all = io.FormatIoReport(&options, _IoLevelAll);
    EXPECT_LT(all.Find("scene.zio"), all.Find("read 12 nodes")); // the result comes first

    // A silent operation only logs its report.
    CScriptedAnswers answers;
    EXPECT_TRUE(io.ReportIoError(&options, 6));
    EXPECT_EQ(io.GetLastIoReport(), failures);
    EXPECT_TRUE(answers.GetShown().empty());
    EXPECT_NE(m_Config.LogText().find(failures.str()), std::string::npos);
    // Otherwise errors and warnings are shown; the message box logs them itself.
    io.SetFlag(_FileParserSilent, false);
    EXPECT_TRUE(io.ReportIoError(&options, 6));
    auto shown = answers.GetShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].m_Text, failures);
    EXPECT_EQ(shown[0].m_Caption, "scene.zio");
    EXPECT_EQ(shown[0].m_Style & kMbIconMask, kMbIconError);
    // Information is shown only when the options ask for the report.
    CFileIo saved(CFileNameSpec("/tmp/saved.zio"), 0);
    saved.SetIoError(_IoResultOk, _IoLevelInfo);
    CIoOptions report(false);
    report.AddLogInfo(_IoLevelInfo, "wrote %d objects", 4);
    EXPECT_TRUE(saved.ReportIoError(&report, _IoLevelAll));
    EXPECT_EQ(answers.GetShown().size(), 1u);
    EXPECT_NE(m_Config.LogText().find("wrote 4 objects"), std::string::npos);
    report.SetFlag(_IoOptionsShowReport);
    EXPECT_TRUE(saved.ReportIoError(&report, _IoLevelAll));
    shown = answers.GetShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].m_Style & kMbIconMask, kMbIconInformation);
    EXPECT_TRUE(Contains(shown[1].m_Text, "wrote 4 objects"));
    EXPECT_FALSE(saved.ReportIoError(&report, 0));

    // Every result has its own text, and an unknown value still reads as one.
    std::set<std::string> texts;
    for (int result : {1, 0, -1, -2, -3, -4, -5, -6, -7, -8, -9, -10, -11, -12345})
        texts.insert(CFileIo::GetIoResultText(result));
    EXPECT_EQ(texts.size(), 14u);
    EXPECT_EQ(texts.count(""), 0u);
}

TEST_F(FileIo, FileInfoResolvesClassAndKind)
{
    CFormatGuard guard{{ZanTag("ZFI1")}};
    ASSERT_TRUE(fileRegisterFile(CFileExt("info", ".zfi", ZanTag("ZFI1"), _FileKindBitmap)));
    CTempDir dir;
    const std::string photo = dir.File("photo.ZFI");
    ASSERT_TRUE(zantest::WriteFileBytes(photo, {1}));
    CFileInfo fromExtension(CFileNameSpec(photo.c_str()));
    EXPECT_EQ(fromExtension.GetClass(), ZanTag("ZFI1"));
    EXPECT_EQ(fromExtension.GetKind(), unsigned(_FileKindBitmap));
    EXPECT_TRUE(fromExtension.Exists());
    EXPECT_EQ(fromExtension.GetFilePath(), (dir.Path() + "/").c_str());
    CFileExt record;
    EXPECT_TRUE(fromExtension.GetFileExt(record));
    EXPECT_EQ(record.m_Description, "info");
    EXPECT_EQ(CFileInfo(ZanTag("ZFI1")).GetKind(), unsigned(_FileKindBitmap));

    CFileInfo explicitClass(CFileNameSpec(photo.c_str(), ZanTag("OTHR")));
    EXPECT_EQ(explicitClass.GetClass(), ZanTag("OTHR")); // the name's class wins
    EXPECT_EQ(explicitClass.GetKind(), 0u);
    EXPECT_FALSE(explicitClass.GetFileExt(record));
    CFileInfo unknown(CFileNameSpec(dir.File("photo.unknownext").c_str()));
    EXPECT_EQ(unknown.GetClass(), 0u);
    EXPECT_FALSE(unknown.Exists());
    EXPECT_EQ(unknown.GetParserNbr(), 0);
    EXPECT_FALSE(unknown.CanTryAnotherParser());
}

TEST_F(FileIo, ParsersAreTriedInRegistrationOrder)
{
    const unsigned cls = ZanTag("ZFP1"), declining = ZanTag("ZFP2");
    ASSERT_TRUE(fileRegisterParserFactory(cls, &Decline));
    ASSERT_TRUE(fileRegisterParserFactory(cls, &MakeTagged, &g_TagA));
    ASSERT_TRUE(fileRegisterParserFactory(cls, &Throw));
    ASSERT_TRUE(fileRegisterParserFactory(cls, &MakeTagged, &g_TagB));
    ASSERT_TRUE(fileRegisterParserFactory(declining, &Decline));
    EXPECT_TRUE(AllRefused({fileRegisterParserFactory(cls, &MakeTagged, &g_TagB), // already there
                            fileRegisterParserFactory(0, &MakeTagged, &g_TagB),
                            fileRegisterParserFactory(cls, nullptr)}));
    EXPECT_EQ(fileGetParserFactoryNbr(cls), 4);
    struct CUnregister
    {
        ~CUnregister()
        {
            const unsigned c = ZanTag("ZFP1");
            fileUnregisterParserFactory(c, &Decline);
            fileUnregisterParserFactory(c, &MakeTagged, &g_TagA);
            fileUnregisterParserFactory(c, &Throw);
            fileUnregisterParserFactory(c, &MakeTagged, &g_TagB);
            fileUnregisterParserFactory(ZanTag("ZFP2"), &Decline);
        }
    } unregister;
    {
        CFileIo io(CFileNameSpec("/x/a.zfp", cls), _FileParserRead);
        EXPECT_EQ(io.GetParserNbr(), 4);
        CFileParser* parser = io.InitParser();
        ASSERT_NE(parser, nullptr);
        EXPECT_EQ(TagOf(parser), 'A'); // the declining factory was passed over
        EXPECT_EQ(io.GetParserIndex(), 1);
        EXPECT_EQ(parser->GetFileIo(), &io);
        EXPECT_EQ(parser->GetClass(), cls);
        EXPECT_EQ(io.InitParser(), parser); // made once
        EXPECT_EQ(CCountedParser::s_Live, 1);
        EXPECT_TRUE(io.CanTryAnotherParser());
        io.CloseParser();
        EXPECT_EQ(CCountedParser::s_Live, 0);
        EXPECT_EQ(io.GetFileParser(), nullptr);
        ASSERT_TRUE(io.TryNextParser());
        EXPECT_EQ(TagOf(io.InitParser()), 'B'); // the throwing factory was passed over too
        EXPECT_EQ(io.GetParserIndex(), 3);
        EXPECT_FALSE(io.TryNextParser());
        EXPECT_EQ(io.GetParserIndex(), 3);
        EXPECT_TRUE(io.IsIoOk()); // looking for parsers sets no result
        // The parser is deleted with its operation.
    }
    EXPECT_EQ(CCountedParser::s_Live, 0);
    {
        CFileIo io(cls, _FileParserOptionsOnly);
        io.SetFileParser(new CCountedParser(&io, 'X'));
        EXPECT_EQ(TagOf(io.InitParser()), 'X'); // an adopted parser is the parser
        io.SetFileParser(new CCountedParser(&io, 'Y'));
        EXPECT_EQ(CCountedParser::s_Live, 1);
        io.SetFileParser(nullptr);
        EXPECT_EQ(CCountedParser::s_Live, 0);
    }
    CFileIo io(CFileNameSpec("/x/b.zfp2", declining), _FileParserRead);
    EXPECT_EQ(io.InitParser(), nullptr);
    EXPECT_FALSE(io.CanTryAnotherParser());
    EXPECT_TRUE(io.IsIoOk());
    EXPECT_EQ(CFileIo(CFileNameSpec("/x/none.unknownext"), _FileParserRead).InitParser(), nullptr);
    EXPECT_TRUE(fileUnregisterParserFactory(declining, &Decline));
    EXPECT_FALSE(fileUnregisterParserFactory(declining, &Decline));
    EXPECT_EQ(fileGetParserFactoryNbr(declining), 0);

    // The base parser's dialog answer follows the operation's flags; silence wins.
    CFileParser base(&io);
    EXPECT_EQ(base.MustShowDialog(), _IoShowDialogIfAsked);
    io.SetFlag(_FileParserShowDialog);
    EXPECT_EQ(base.MustShowDialog(), _IoShowDialogYes);
    io.SetFlag(_FileParserSilent);
    EXPECT_EQ(base.MustShowDialog(), _IoShowDialogNo);
    EXPECT_EQ(CFileParser(nullptr).MustShowDialog(), _IoShowDialogNo);
    base.SetIoError(_IoResultCancelled, _IoLevelWarning);
    EXPECT_EQ(io.GetIoError(), -11);
}

// ---------------------------------------------------------------------------- parameters

TEST_F(FileIo, ParametersAreStoredPerFormatAndDirection)
{
    const unsigned cls = ZanTag("ZPAR"), xsi = 0x58534920; // "XSI ", not plain characters
    CCustomData importValues, exportValues, loaded;
    importValues.SetUInt(ZanTag("FLAG"), 0x40);
    exportValues.SetString(ZanTag("TXPT"), "./Textures/");
    loaded.SetInt(ZanTag("KEEP"), 5);
    const CCustomData untouched = loaded;
    EXPECT_FALSE(CFileIo::LoadIoParameters(true, loaded, cls));
    ASSERT_TRUE(CFileIo::SaveIoParameters(true, importValues, cls));
    const std::string file = CFileIo::GetIoParametersFile(cls).str();
    EXPECT_EQ(fileGetFolder(file.c_str()), (m_Config.Path() + "/").c_str());
    EXPECT_TRUE(fileExists(file.c_str()));
    EXPECT_FALSE(CFileIo::LoadIoParameters(false, loaded, cls)); // nothing for writing yet
    EXPECT_EQ(loaded, untouched);

    // Saving one direction keeps the other.
    ASSERT_TRUE(CFileIo::SaveIoParameters(false, exportValues, cls));
    importValues.SetUInt(ZanTag("FLAG"), 0x80);
    ASSERT_TRUE(CFileIo::SaveIoParameters(true, importValues, cls));
    ASSERT_TRUE(CFileIo::LoadIoParameters(false, loaded, cls));
    EXPECT_EQ(loaded, exportValues);
    ASSERT_TRUE(CFileIo::LoadIoParameters(true, loaded, cls));
    EXPECT_EQ(loaded, importValues);

    // One file per format; codes that are not plain characters still make a file name.
    EXPECT_FALSE(CFileIo::LoadIoParameters(true, loaded, xsi));
    ASSERT_TRUE(CFileIo::SaveIoParameters(true, exportValues, xsi));
    const std::string xsiFile = CFileIo::GetIoParametersFile(xsi).str();
    EXPECT_NE(xsiFile, file);
    EXPECT_EQ(xsiFile.find(' '), std::string::npos);
    EXPECT_EQ(fileGetFolder(xsiFile.c_str()), fileGetFolder(file.c_str()));
    ASSERT_TRUE(CFileIo::LoadIoParameters(true, loaded, cls));
    EXPECT_EQ(loaded, importValues);
    EXPECT_TRUE(AllRefused({CFileIo::SaveIoParameters(true, importValues, 0),
                            CFileIo::LoadIoParameters(true, loaded, 0),
                            !CFileIo::GetIoParametersFile(0).IsEmpty()}));
}

TEST_F(FileIo, DamagedOrUnwritableParametersFailCleanly)
{
    CScopedEnv env("ZAN3D_CONFIG_DIR", m_Config.File("nested/config"));
    const unsigned cls = ZanTag("ZPAD");
    CCustomData values, loaded;
    values.SetUInt(ZanTag("FLAG"), 3);
    loaded.SetBool(ZanTag("KEEP"), true);
    const CCustomData untouched = loaded;
    // The configuration folder is made when missing.
    ASSERT_TRUE(CFileIo::SaveIoParameters(false, values, cls));
    const std::string file = CFileIo::GetIoParametersFile(cls).str();
    ASSERT_TRUE(fileExists(file.c_str()));

    auto bytes = zantest::ReadFileBytes(file);
    ASSERT_GT(bytes.size(), 8u);
    bytes[bytes.size() / 2] ^= 0x5A;
    ASSERT_TRUE(zantest::WriteFileBytes(file, bytes));
    EXPECT_FALSE(CFileIo::LoadIoParameters(false, loaded, cls));
    EXPECT_EQ(loaded, untouched);
    // A new save replaces the damaged store.
    ASSERT_TRUE(CFileIo::SaveIoParameters(false, values, cls));
    ASSERT_TRUE(CFileIo::LoadIoParameters(false, loaded, cls));
    EXPECT_EQ(loaded, values);
    // Another format's store is not this one's, even under this one's file name.
    ASSERT_EQ(rename(file.c_str(), CFileIo::GetIoParametersFile(ZanTag("ZPAE")).c_str()), 0);
    EXPECT_FALSE(CFileIo::LoadIoParameters(false, loaded, ZanTag("ZPAE")));

    ASSERT_TRUE(zantest::WriteFileBytes(m_Config.File("plainfile"), {1}));
    env.Set(m_Config.File("plainfile/sub"));
    EXPECT_FALSE(CFileIo::SaveIoParameters(false, values, cls));
    EXPECT_FALSE(CFileIo::LoadIoParameters(false, loaded, cls));
}

// ---------------------------------------------------------------------------- plug-ins

TEST_F(IoPlugins, LoadFindParseAndFree)
{
    CTempDir dir;
    CScopedEnv exitFile("ZAN3D_TEST_PLUGIN_EXIT_FILE", dir.File("exit.txt"));
    ASSERT_EQ(fileGetFileExt(".ztst"), nullptr);
    // The test plug-in has nothing for images: it declines, which is not an error.
    EXPECT_EQ(RegisterIOPlugins(_FileKindBitmap, ZAN3D_TEST_PLUGIN_DIR), 0);
    EXPECT_TRUE(GetPluginLoadErrors().IsEmpty());
    EXPECT_EQ(RegisterIOPlugins(0, ZAN3D_TEST_PLUGIN_DIR), 0);
    EXPECT_EQ(fileGetFileExt(".ztst"), nullptr);
    EXPECT_TRUE(GetLoadedPlugins().IsEmpty());

    ASSERT_EQ(RegisterIOPlugins(_FileKind3D, ZAN3D_TEST_PLUGIN_DIR), 1);
    EXPECT_TRUE(GetPluginLoadErrors().IsEmpty());
    CXArray<CIoPluginInfo> loaded = GetLoadedPlugins();
    ASSERT_EQ(loaded.GetSize(), 1);
    EXPECT_EQ(loaded[0].m_Path, RealPath(ZAN3D_TEST_PLUGIN_DIR "/test_format_plugin.so").c_str());
    EXPECT_EQ(loaded[0].m_Name, "3DZan test format");
    EXPECT_EQ(loaded[0].m_Family, unsigned(_FileKind3D));
    EXPECT_EQ(loaded[0].m_FileTypeNbr, 1);
    EXPECT_EQ(loaded[0].m_FactoryNbr, 1);
    // Found by extension and by class.
    const CFileExt* record = fileGetFileExt("ZTST2");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(*record,
              CFileExt("3DZan test files", ".ztst;.ztst2", kTestPluginClass,
                       _FileKind3D | _FileExtRead | _FileExtWrite, ZanTag("ZTPL"), ZanTag("ZTPL")));
    CFileExt byClass;
    ASSERT_TRUE(fileGetExtensionInfo(kTestPluginClass, byClass));
    EXPECT_EQ(byClass, *record);
    // The library's own registration cannot take what the plug-in registered.
    EXPECT_FALSE(fileRegisterFile(CFileExt("fallback", ".ztst", ZanTag("ZTSF"), 0x4013)));
    // Freeing images only leaves it loaded.
    EXPECT_EQ(FreeIOPlugins(_FileKindImageMask), 0);
    {
        CFileIo io(CFileNameSpec(dir.File("robot.ztst").c_str()), _FileParserRead);
        EXPECT_EQ(io.GetKind(), unsigned(_FileKind3D));
        EXPECT_EQ(io.GetParserNbr(), 1);
        CFileParser* parser = io.InitParser();
        ASSERT_NE(parser, nullptr);
        EXPECT_EQ(parser->GetClass(), kTestPluginClass);
        // The plug-in's own code answers through the base class.
        CIoOptions options(true);
        parser->FillDefaultOptions(&options);
        EXPECT_EQ(options.GetCustomData().GetUInt(ZanTag("ZTST")), 1u);
        ASSERT_EQ(options.GetLogCount(), 1);
        unsigned level = 0;
        EXPECT_TRUE(Contains(options.GetLogLine(0, level), "robot.ztst"));
    }
    // Loading the folder again, or through another name, loads nothing more.
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, ZAN3D_TEST_PLUGIN_DIR), 0);
    ASSERT_EQ(symlink(ZAN3D_TEST_PLUGIN_DIR, dir.File("linked").c_str()), 0);
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, dir.File("linked").c_str()), 0);
    EXPECT_EQ(GetLoadedPlugins().GetSize(), 1);
    EXPECT_TRUE(GetPluginLoadErrors().IsEmpty());
    EXPECT_EQ(fileGetParserFactoryNbr(kTestPluginClass), 1);
    EXPECT_FALSE(fileExists(dir.File("exit.txt").c_str()));

    EXPECT_TRUE(IsMapped("test_format_plugin.so"));
    EXPECT_EQ(FreeIOPlugins(_FileKind3D), 1);
    EXPECT_EQ(zantest::ReadFileText(dir.File("exit.txt")), "test_format_plugin exit\n");
    EXPECT_FALSE(IsMapped("test_format_plugin.so")); // unloaded, not only forgotten
    EXPECT_TRUE(AllRefused({fileGetFileExt(".ztst") != nullptr, fileGetFileExt(".ztst2") != nullptr,
                            fileGetExtensionInfo(kTestPluginClass, byClass),
                            fileGetKindOf("/scenes/robot.ztst") != 0,
                            fileGetParserFactoryNbr(kTestPluginClass) != 0,
                            !GetLoadedPlugins().IsEmpty(), FreeIOPlugins(_FileKind3D) != 0}));
    CFileIo after(CFileNameSpec(dir.File("robot.ztst").c_str()), _FileParserRead);
    EXPECT_EQ(after.GetClass(), 0u);
    EXPECT_EQ(after.InitParser(), nullptr);
    // The extension is free again for the library.
    CFormatGuard guard{{ZanTag("ZTSF")}};
    EXPECT_TRUE(fileRegisterFile(CFileExt("fallback", ".ztst", ZanTag("ZTSF"), 0x4013)));
}

TEST_F(IoPlugins, ParserKeepsItsPluginLoaded)
{
    CTempDir dir;
    CScopedEnv exitFile("ZAN3D_TEST_PLUGIN_EXIT_FILE", dir.File("exit.txt"));
    ASSERT_EQ(RegisterIOPlugins(_FileKind3D, ZAN3D_TEST_PLUGIN_DIR), 1);
    auto io = std::make_unique<CFileIo>(CFileNameSpec("/s/a.ztst"), 0u);
    CFileParser* parser = io->InitParser();
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(FreeIOPlugins(_FileKind3D), 1);
    // The format is gone, but the plug-in's code stays until its parser is deleted.
    EXPECT_EQ(fileGetFileExt(".ztst"), nullptr);
    EXPECT_TRUE(GetLoadedPlugins().IsEmpty());
    EXPECT_FALSE(fileExists(dir.File("exit.txt").c_str()));
    EXPECT_TRUE(IsMapped("test_format_plugin.so"));
    CIoOptions options(false);
    parser->FillDefaultOptions(&options);
    EXPECT_EQ(options.GetCustomData().GetUInt(ZanTag("ZTST")), 2u); // writing
    io.reset();
    EXPECT_EQ(zantest::ReadFileText(dir.File("exit.txt")), "test_format_plugin exit\n");
    EXPECT_FALSE(IsMapped("test_format_plugin.so"));
}

TEST_F(IoPlugins, BrokenPluginsAndMissingFoldersAreSkippedWithAReason)
{
    CTempDir dir;
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("bad.so"), {'n', 'o', 't', ' ', 'E', 'L', 'F'}));
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("empty.so"), {}));
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("notes.txt"), {'x'})); // not a candidate
    ASSERT_EQ(mkdir(dir.File("folder.so").c_str(), 0700), 0);           // nor is this
    const std::string folders = std::string(ZAN3D_TEST_BAD_PLUGIN_DIR) + ":" + dir.Path();
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, folders.c_str()), 0);
    EXPECT_TRUE(GetLoadedPlugins().IsEmpty());
    // The plug-in built for another interface registered a format before answering: the
    // host dropped it.
    CFileExt record;
    EXPECT_EQ(fileGetFileExt(".zbad"), nullptr);
    EXPECT_FALSE(fileGetExtensionInfo(ZanTag("ZBAD"), record));
    CXArray<CXTString> errors = GetPluginLoadErrors();
    ASSERT_EQ(errors.GetSize(), 4);
    auto reasonFor = [&](const std::string& file)
    {
        for (const CXTString& line : errors)
            if (Contains(line, "/" + file + ":"))
                return line.str();
        return std::string();
    };
    EXPECT_TRUE(Contains(reasonFor("test_wrong_abi_plugin.so"),
                         "version " + std::to_string(ZAN3D_PLUGIN_ABI_VERSION + 100)));
    EXPECT_TRUE(Contains(reasonFor("test_no_entry_plugin.so"), "no entry point"));
    EXPECT_TRUE(Contains(reasonFor("bad.so"), "cannot be loaded"));
    EXPECT_TRUE(Contains(reasonFor("empty.so"), "cannot be loaded"));
    // The reasons reach the log file too.
    const std::string log = m_Config.LogText();
    for (const CXTString& line : errors)
        EXPECT_NE(log.find(line.str()), std::string::npos) << line.c_str();
    // A good plug-in beside broken ones still loads, and the reasons are those of this call.
    const std::string mixed = dir.Path() + ":" + ZAN3D_TEST_PLUGIN_DIR;
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, mixed.c_str()), 1);
    EXPECT_EQ(GetPluginLoadErrors().GetSize(), 2);
    EXPECT_NE(fileGetFileExt(".ztst"), nullptr);
    FreeIOPlugins(_FileKind3D);

    // Missing, unreadable or empty folders are skipped silently.
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("plainfile"), {1}));
    CTempDir emptyDir;
    CScopedEnv env("ZAN3D_PLUGIN_PATH", dir.File("missing"));
    for (const std::string& folder :
         {dir.File("no/such/folder"), dir.File("plainfile"), emptyDir.Path(), std::string()})
    {
        EXPECT_EQ(RegisterIOPlugins(_FileKind3D, folder.c_str()), 0) << folder;
        EXPECT_TRUE(GetPluginLoadErrors().IsEmpty()) << folder;
    }
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, nullptr), 0);
    EXPECT_TRUE(GetLoadedPlugins().IsEmpty());
}

TEST_F(IoPlugins, DefaultFoldersComeFromTheEnvironmentThenTheLibrary)
{
    const std::string missing = "/no/such/zan3d/plugins";
    {
        CScopedEnv env("ZAN3D_PLUGIN_PATH",
                       "::" + missing + ":" + ZAN3D_TEST_PLUGIN_DIR + ":" + missing + ":");
        CXArray<CXTString> folders = GetDefaultPluginFolders();
        ASSERT_EQ(folders.GetSize(), 2);
        EXPECT_EQ(folders[0], missing.c_str());
        EXPECT_EQ(folders[1], ZAN3D_TEST_PLUGIN_DIR);
        EXPECT_EQ(RegisterIOPlugins(_FileKind3D, nullptr), 1);
        EXPECT_EQ(FreeIOPlugins(_FileKind3D), 1);
    }
    for (std::optional<std::string> value :
         {std::optional<std::string>(), std::optional<std::string>("")})
    {
        CScopedEnv env("ZAN3D_PLUGIN_PATH", value);
        CXArray<CXTString> folders = GetDefaultPluginFolders();
        ASSERT_EQ(folders.GetSize(), 1);
        // "plugins" beside the library that holds the loader.
        EXPECT_EQ(fileGetName(folders[0]), "plugins");
        std::string libraryFolder = fileGetFolder(folders[0]).str();
        EXPECT_TRUE(fileExists((libraryFolder + "lib3dzan.so").c_str())) << libraryFolder;
    }
}

TEST_F(IoPlugins, SameObjectUnderAnotherNameIsLoadedOnce)
{
    CTempDir dir, linked;
    const std::string original = ZAN3D_TEST_PLUGIN_DIR "/test_format_plugin.so";
    ASSERT_EQ(symlink(original.c_str(), dir.File("alias.so").c_str()), 0);
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, dir.Path().c_str()), 1);
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, ZAN3D_TEST_PLUGIN_DIR), 0);
    EXPECT_EQ(GetLoadedPlugins().GetSize(), 1);
    EXPECT_EQ(FreeIOPlugins(_FileKind3D), 1);
    // A hard link is the same object to the system loader as well.
    if (link(original.c_str(), linked.File("hard.so").c_str()) != 0)
        GTEST_SKIP() << "no hard link across these folders";
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, ZAN3D_TEST_PLUGIN_DIR), 1);
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, linked.Path().c_str()), 0);
    EXPECT_EQ(GetLoadedPlugins().GetSize(), 1);
}
