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
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using zantest::CScopedEnv;

namespace
{

// Unregisters the formats a test registered, whatever the test's outcome.
class CFormatGuard
{
public:
    CFormatGuard(std::initializer_list<unsigned> classes) : m_Classes(classes) {}
    ~CFormatGuard()
    {
        for (unsigned classCode : m_Classes)
            fileUnregisterFile(classCode);
    }

private:
    std::vector<unsigned> m_Classes;
};

// Frees every plug-in when a test ends, so that a failed test leaves nothing loaded.
struct CPluginGuard
{
    ~CPluginGuard() { FreeIOPlugins(0xFFFFFFFFu); }
};

int CountFormats(unsigned classCode)
{
    int count = 0;
    for (const CFileExt& record : fileGetRegisteredFormats())
        if (record.m_Class == classCode)
            ++count;
    return count;
}

size_t CodePoints(const CXTString& text)
{
    return ZanUtf8ToWide(text.str()).size();
}

bool IsValidUtf8(const CXTString& text)
{
    return ZanWideToUtf8(ZanUtf8ToWide(text.str())) == text.str();
}

std::string ReadText(const std::string& path)
{
    auto bytes = zantest::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
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
        if (line.size() > fileName.size() &&
            line.compare(line.size() - fileName.size() - 1, std::string::npos, "/" + fileName) == 0)
            return true;
    return false;
}

bool Contains(const CXTString& text, const std::string& part)
{
    return text.str().find(part) != std::string::npos;
}

// Points the configuration folder, and so the log file, at a temporary folder.
class CTempConfig
{
public:
    CTempConfig() : m_Env("ZAN3D_CONFIG_DIR", m_Dir.Path()) {}
    std::string GetLog() const { return ReadText(m_Dir.File("3dzan.log")); }

private:
    zantest::CTempDir m_Dir;
    CScopedEnv m_Env;
};

constexpr unsigned kTestPluginClass = ZanTag("ZTST");
} // namespace

// Operations and plug-ins write to the log: each test gets its own configuration folder.
class FileIo : public ::testing::Test
{
protected:
    CTempConfig m_Config;
};

class IoPlugins : public ::testing::Test
{
protected:
    CTempConfig m_Config;
    CPluginGuard m_Plugins; // freed first, whatever the test's outcome
};

// ---------------------------------------------------------------------------- file names

TEST(FileNameSpec, SplitsNamesIntoFolderNameAndExtension)
{
    struct
    {
        const char* path;
        const char* folder;
        const char* name;
        const char* baseName;
        const char* extension;
        bool url;
    } cases[] = {
        {"/home/u/scene.OBJ", "/home/u/", "scene.OBJ", "scene", ".OBJ", false},
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
        {"", "", "", "", "", false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path);
        CFileNameSpec spec(c.path, ZanTag("TEST"));
        EXPECT_EQ(spec.GetFolder(), c.folder);
        EXPECT_EQ(spec.GetName(), c.name);
        EXPECT_EQ(spec.GetBaseName(), c.baseName);
        EXPECT_EQ(spec.GetExtension(), c.extension);
        EXPECT_EQ(spec.IsURL(), c.url);
        EXPECT_EQ(spec.IsEmpty(), *c.path == 0);
        EXPECT_EQ(spec.GetClass(), ZanTag("TEST"));
        // Folder and name always put the path back together.
        EXPECT_EQ(fileGetFolder(c.path) + fileGetName(c.path), c.path);
    }

    CFileNameSpec spec("/x/Model.ObJ");
    EXPECT_TRUE(spec.HasExtension(".obj"));
    EXPECT_TRUE(spec.HasExtension("OBJ"));
    EXPECT_FALSE(spec.HasExtension("ob"));
    EXPECT_FALSE(spec.HasExtension(""));
    EXPECT_FALSE(spec.HasExtension(nullptr));
    EXPECT_FALSE(CFileNameSpec("/x/obj").HasExtension("obj"));
}

TEST(FileNameSpec, SetExtensionTouchesOnlyTheName)
{
    CFileNameSpec spec("/a/b.c/scene.obj", ZanTag("OBJ "));
    EXPECT_TRUE(spec.SetExtension("ply"));
    EXPECT_EQ(spec.GetFileName(), "/a/b.c/scene.ply");
    EXPECT_TRUE(spec.SetExtension(".GLB"));
    EXPECT_EQ(spec.GetFileName(), "/a/b.c/scene.GLB");
    EXPECT_TRUE(spec.SetExtension(""));
    EXPECT_EQ(spec.GetFileName(), "/a/b.c/scene");
    EXPECT_TRUE(spec.SetExtension(".obj"));
    EXPECT_EQ(spec.GetFileName(), "/a/b.c/scene.obj");
    EXPECT_EQ(spec.GetClass(), ZanTag("OBJ ")); // the caller decides the class

    CFileNameSpec hidden("/h/.profile");
    EXPECT_TRUE(hidden.SetExtension("bak"));
    EXPECT_EQ(hidden.GetFileName(), "/h/.profile.bak");

    CFileNameSpec folder("/a/b/");
    EXPECT_FALSE(folder.SetExtension("x"));
    EXPECT_EQ(folder.GetFileName(), "/a/b/");
    CFileNameSpec empty;
    EXPECT_FALSE(empty.SetExtension("x"));
    EXPECT_TRUE(empty.IsEmpty());
    CFileNameSpec url("http://");
    EXPECT_FALSE(url.SetExtension("x"));
    EXPECT_EQ(url.GetFileName(), "http://");
}

TEST(FileNameSpec, EqualityNeedsNameAndClass)
{
    CFileNameSpec a("/s/a.obj", 1), b("/s/a.obj", 1), c("/s/a.obj", 2), d("/s/A.obj", 1);
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a != b);
    EXPECT_TRUE(a != c);
    EXPECT_TRUE(a != d); // file systems here are case-sensitive
}

// ---------------------------------------------------------------------------- registry

TEST(FormatRegistry, RefusesDuplicatesAndKeepsTheFirstRecordUntouched)
{
    CFormatGuard guard({ZanTag("ZQA1"), ZanTag("ZQB1"), ZanTag("ZQX1"), ZanTag("ZQX2")});
    const CFileExt first("First test format", ".zqa;.zqa2", ZanTag("ZQA1"),
                         _FileKind3D | _FileExtRead, 11, 12);
    ASSERT_TRUE(fileRegisterFile(first));

    // The same class under another extension and description.
    EXPECT_FALSE(fileRegisterFile(CFileExt("Impostor", ".zqb", ZanTag("ZQA1"), _FileKindBitmap)));
    // Another class that shares one extension (in another case): refused as a whole, so its
    // other extension is not taken either.
    EXPECT_FALSE(fileRegisterFile(CFileExt("Impostor", ".zqc;.ZQA2", ZanTag("ZQB1"), 0)));
    EXPECT_EQ(fileGetFileExt(".zqc"), nullptr);
    EXPECT_EQ(fileGetFileExt(".zqb"), nullptr);

    CFileExt out;
    EXPECT_FALSE(fileGetExtensionInfo(ZanTag("ZQB1"), out));
    ASSERT_TRUE(fileGetExtensionInfo(ZanTag("ZQA1"), out));
    EXPECT_EQ(out, first);
    const CFileExt* byExtension = fileGetFileExt("zqa2");
    ASSERT_NE(byExtension, nullptr);
    EXPECT_EQ(*byExtension, first);

    // Repeating the very same registration is harmless and adds nothing.
    EXPECT_TRUE(fileRegisterFile(first));
    EXPECT_EQ(CountFormats(ZanTag("ZQA1")), 1);

    // Start-up registers its fallback for an extension only when nobody did: whoever came
    // first keeps the extension, and a forced attempt changes nothing.
    const CFileExt early("Registered first", ".zqx", ZanTag("ZQX1"), _FileKind3D | 0x3, 7, 7);
    ASSERT_TRUE(fileRegisterFile(early));
    const CFileExt fallback("Library fallback", ".zqx", ZanTag("ZQX2"), 0x4013, 0x5A414E50,
                            0x5A414E50);
    EXPECT_NE(fileGetFileExt(".zqx"), nullptr);
    EXPECT_FALSE(fileRegisterFile(fallback));
    ASSERT_TRUE(fileGetExtensionInfo(ZanTag("ZQX1"), out));
    EXPECT_EQ(out, early);
    EXPECT_FALSE(fileGetExtensionInfo(ZanTag("ZQX2"), out));
}

TEST(FormatRegistry, RefusesMalformedRecords)
{
    CFormatGuard guard({ZanTag("ZQM1"), ZanTag("ZQM2"), ZanTag("ZQM3")});
    const int before = fileGetRegisteredFormats().GetSize();
    const CFileExt bad[] = {
        CFileExt("no class", ".zqm", 0, _FileKind3D),
        CFileExt("lone dot", ".", ZanTag("ZQM1"), 0),
        CFileExt("lone dot in a list", ".zqm;.", ZanTag("ZQM1"), 0),
        CFileExt("slash", ".zq/m", ZanTag("ZQM1"), 0),
        CFileExt("wildcard", "*.zqm", ZanTag("ZQM1"), 0),
        CFileExt("question mark", ".zq?", ZanTag("ZQM1"), 0),
        CFileExt("blank inside", ".zq m", ZanTag("ZQM1"), 0),
        CFileExt("backslash", ".zq\\m", ZanTag("ZQM1"), 0),
    };
    for (const CFileExt& record : bad)
    {
        SCOPED_TRACE(record.m_Description.c_str());
        EXPECT_FALSE(fileRegisterFile(record));
    }
    EXPECT_EQ(fileGetRegisteredFormats().GetSize(), before);
    EXPECT_EQ(fileGetFileExt(".zqm"), nullptr);

    // Blanks around items and empty items are not errors; a format may have no extension.
    ASSERT_TRUE(fileRegisterFile(CFileExt("spaced", " .ZQM2 ; zqm3 ;;", ZanTag("ZQM2"), 0)));
    CFileExt out;
    ASSERT_TRUE(fileGetExtensionInfo(ZanTag("ZQM2"), out));
    CXArray<CXTString> list = out.GetExtensionList();
    ASSERT_EQ(list.GetSize(), 2);
    EXPECT_EQ(list[0], ".zqm2");
    EXPECT_EQ(list[1], ".zqm3");
    EXPECT_EQ(out.GetMainExtension(), ".zqm2");
    EXPECT_NE(fileGetFileExt("zqm3"), nullptr);
    EXPECT_TRUE(fileRegisterFile(CFileExt("bridge", "", ZanTag("ZQM3"), _FileExtNoFile)));
    EXPECT_TRUE(fileGetExtensionInfo(ZanTag("ZQM3"), out));
    EXPECT_TRUE(out.GetMainExtension().IsEmpty());
}

TEST(FormatRegistry, ExtensionLookupIgnoresCaseAndDot)
{
    CFormatGuard guard({ZanTag("ZQL1")});
    ASSERT_TRUE(fileRegisterFile(CFileExt("lookup", ".ZqL", ZanTag("ZQL1"), _FileKind3D)));
    const CFileExt* record = fileGetFileExt(".zql");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->m_Class, ZanTag("ZQL1"));
    for (const char* spelling : {"zql", "ZQL", ".ZQL", "Zql", " .zQl "})
    {
        SCOPED_TRACE(spelling);
        EXPECT_EQ(fileGetFileExt(spelling), record);
    }
    for (const char* miss : {"file.zql", "", ".", ".zq", "zqll", "/zql"})
    {
        SCOPED_TRACE(miss);
        EXPECT_EQ(fileGetFileExt(miss), nullptr);
    }
    EXPECT_EQ(fileGetFileExt(nullptr), nullptr);

    EXPECT_EQ(fileGetClassOf("/a/b/Model.ZQL"), ZanTag("ZQL1"));
    EXPECT_EQ(fileGetClassOf("/a/b.zql/model"), 0u);
    EXPECT_EQ(fileGetClassOf(nullptr), 0u);

    CFileExt list("list", " .GLTFZ ; glbz;;.gltfz", ZanTag("NONE"), 0);
    EXPECT_TRUE(list.HasExtension("GLBZ"));
    EXPECT_TRUE(list.HasExtension(".gltfz"));
    EXPECT_FALSE(list.HasExtension("glb"));
    EXPECT_EQ(list.GetExtensionList().GetSize(), 2);
}

TEST(FormatRegistry, KindsSelectFormatFamilies)
{
    const unsigned c3d = ZanTag("ZK3D"), cBmp = ZanTag("ZKBM"), cMulti = ZanTag("ZKMU"),
                   cHdr = ZanTag("ZKHD"), cOther = ZanTag("ZKOT");
    CFormatGuard guard({c3d, cBmp, cMulti, cHdr, cOther});
    ASSERT_TRUE(fileRegisterFile(CFileExt("3d", ".zk3", c3d, _FileKind3D | _FileExtRead)));
    ASSERT_TRUE(fileRegisterFile(CFileExt("bmp", ".zkb", cBmp, _FileKindBitmap | 0x3)));
    ASSERT_TRUE(fileRegisterFile(CFileExt("multi", ".zkm", cMulti, _FileKindMultiImage)));
    ASSERT_TRUE(fileRegisterFile(CFileExt("hdr", ".zkh", cHdr, _FileKindHdrImage | 0x1)));
    ASSERT_TRUE(fileRegisterFile(CFileExt("other", ".zkd", cOther, 0x8000 | _FileExtWrite)));

    EXPECT_EQ(fileGetKindOf("/scenes/forest.ZK3"), 16384u); // what the open command tests
    EXPECT_EQ(fileGetKindOf("/scenes/forest.zk3") & _FileKindImageMask, 0u);
    for (const char* image : {"t.zkb", "t.zkm", "t.zkh"})
    {
        SCOPED_TRACE(image);
        EXPECT_NE(fileGetKindOf(image) & 0x13000, 0u);
        EXPECT_EQ(fileGetKindOf(image) & _FileKind3D, 0u);
    }
    EXPECT_EQ(fileGetKindOf("t.zkd") & 0x13000, 0u);
    EXPECT_EQ(fileGetKindOf("t.zkd"), 0x8000u); // capability bits are not part of the kind
    EXPECT_EQ(fileGetKindOf("no_extension"), 0u);
    EXPECT_EQ(fileGetKindOf("t.unregistered"), 0u);
    EXPECT_EQ(fileGetKindOf(nullptr), 0u);

    // Image formats only, in registration order.
    std::vector<unsigned> images;
    for (const CFileExt& record : fileGetRegisteredFormats(_FileKindImageMask))
        if (record.m_Class == cBmp || record.m_Class == cMulti || record.m_Class == cHdr ||
            record.m_Class == c3d || record.m_Class == cOther)
            images.push_back(record.m_Class);
    EXPECT_EQ(images, (std::vector<unsigned>{cBmp, cMulti, cHdr}));
    EXPECT_EQ(CountFormats(c3d) + CountFormats(cOther), 2);
}

TEST(FormatRegistry, UnregisteringFreesClassAndExtensions)
{
    CFormatGuard guard({ZanTag("ZQU1"), ZanTag("ZQU2")});
    ASSERT_TRUE(fileRegisterFile(CFileExt("one", ".zqu;.zqu2", ZanTag("ZQU1"), _FileKind3D)));
    EXPECT_TRUE(fileUnregisterFile(ZanTag("ZQU1")));
    EXPECT_EQ(fileGetFileExt(".zqu"), nullptr);
    EXPECT_EQ(fileGetFileExt(".zqu2"), nullptr);
    EXPECT_EQ(fileGetKindOf("a.zqu"), 0u);
    EXPECT_FALSE(fileUnregisterFile(ZanTag("ZQU1")));
    // The extension is free for another format now.
    EXPECT_TRUE(fileRegisterFile(CFileExt("two", ".zqu2", ZanTag("ZQU2"), _FileKindBitmap)));
    EXPECT_EQ(fileGetKindOf("a.zqu2"), unsigned(_FileKindBitmap));
}

TEST(FormatRegistry, ConcurrentRegistrationsKeepOneRecordPerClass)
{
    constexpr int kThreads = 8, kClasses = 64;
    auto classOf = [](int i) { return ZanTag("ZR00") + unsigned(i); };
    std::vector<std::atomic<int>> winners(kClasses);
    for (auto& w : winners)
        w = -1;
    std::atomic<int> successes{0};
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back(
                [&, t]
                {
                    for (int i = 0; i < kClasses; ++i)
                    {
                        std::string description = "thread " + std::to_string(t);
                        std::string extension = ".zr" + std::to_string(i);
                        if (fileRegisterFile(CFileExt(description.c_str(), extension.c_str(),
                                                      classOf(i), _FileKind3D)))
                        {
                            ++successes;
                            winners[size_t(i)] = t;
                        }
                        fileGetKindOf(("x" + extension).c_str());
                    }
                });
        for (auto& thread : threads)
            thread.join();
    }
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

TEST(Paths, ExistenceOfFilesAndFolders)
{
    zantest::CTempDir dir;
    const std::string file = dir.File("f.obj"), folder = dir.File("d");
    ASSERT_TRUE(zantest::WriteFileBytes(file, {1, 2, 3}));
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(symlink(file.c_str(), dir.File("lf").c_str()), 0);
    ASSERT_EQ(symlink(folder.c_str(), dir.File("ld").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("gone").c_str(), dir.File("dangling").c_str()), 0);

    EXPECT_TRUE(fileExists(file.c_str()));
    EXPECT_TRUE(fileExists(dir.File("lf").c_str()));
    EXPECT_FALSE(fileExists(folder.c_str()));
    EXPECT_FALSE(fileExists(dir.File("dangling").c_str()));
    EXPECT_FALSE(fileExists(dir.File("missing").c_str()));
    EXPECT_FALSE(fileExists(""));
    EXPECT_FALSE(fileExists(nullptr));

    EXPECT_TRUE(fileDirectoryExists(folder.c_str()));
    EXPECT_TRUE(fileDirectoryExists(dir.File("ld").c_str()));
    EXPECT_TRUE(fileDirectoryExists((folder + "/").c_str()));
    EXPECT_FALSE(fileDirectoryExists(file.c_str()));
    EXPECT_FALSE(fileDirectoryExists(dir.File("dangling").c_str()));
    EXPECT_FALSE(fileDirectoryExists(nullptr));
}

TEST(Paths, CompareDirectoryNormalisesAndResolves)
{
    zantest::CTempDir dir;
    const std::string t = dir.Path();
    ASSERT_EQ(mkdir((t + "/a").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((t + "/a/b").c_str(), 0700), 0);
    ASSERT_EQ(symlink((t + "/a/b").c_str(), (t + "/link").c_str()), 0);

    const std::pair<std::string, std::string> same[] = {
        {t + "/a", t + "/a/"},
        {t + "/a//", t + "/a/."},
        {t + "/a/b/..", t + "/a"},
        {t + "/a/./b/", t + "/a/b"},
        {t + "/link", t + "/a/b/"},
        {t + "/link/..", t + "/a"}, // ".." after a link leaves the link's target
        {t + "/a/missing/..", t + "/a"},
        {t + "/none/x/..", t + "/none/"},
        {t + "/link/none", t + "/a/b/none/"},
    };
    for (const auto& [a, b] : same)
    {
        SCOPED_TRACE(a + " vs " + b);
        EXPECT_TRUE(fileCompareDirectory(a.c_str(), b.c_str()));
        EXPECT_TRUE(fileCompareDirectory(b.c_str(), a.c_str()));
    }
    const std::pair<std::string, std::string> different[] = {
        {t + "/a", t + "/a/b"}, {t + "/link", t + "/a"}, {t + "/none1", t + "/none2"},
        {t + "/a", t + "/A"},   {t + "/a", ""},
    };
    for (const auto& [a, b] : different)
    {
        SCOPED_TRACE(a + " vs " + b);
        EXPECT_FALSE(fileCompareDirectory(a.c_str(), b.c_str()));
    }
    EXPECT_FALSE(fileCompareDirectory(nullptr, t.c_str()));
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_TRUE(fileCompareDirectory(".", cwd));
    EXPECT_TRUE(fileCompareDirectory("./", (std::string(cwd) + "/").c_str()));
}

TEST(Paths, CompactPathNeverExceedsTheLimitAndKeepsTheName)
{
    const char* paths[] = {
        "/home/user/projects/3dzan/scenes/large/forest_scene_final.obj",
        "relative/folder/names/here/file.txt",
        "/très/long/dossier/avec/des/accents/scène_été.obj",
        "/日本/東京/モデル/データ/ファイル名.glb",
        "http://example.com/assets/models/v2/robot.gltf",
        "/a/b",
        "plain_name_without_any_folder_that_is_long.obj",
        "/x/😀😀😀😀😀😀😀😀😀😀.png",
        "/only/folders/here/",
        "/averyveryverylongfolder/n.obj",
    };
    for (const char* path : paths)
    {
        const size_t length = CodePoints(path);
        const CXTString name =
            fileGetName(path).IsEmpty()
                ? fileGetName(CXTString(path).Left(CXTString(path).GetLength() - 1))
                : fileGetName(path);
        for (int limit = -1; limit <= int(length) + 2; ++limit)
        {
            SCOPED_TRACE(std::string(path) + " limit " + std::to_string(limit));
            CXTString compact = fileCompactPath(path, limit);
            EXPECT_LE(CodePoints(compact), size_t(std::max(limit, 0)));
            EXPECT_TRUE(IsValidUtf8(compact));
            if (size_t(std::max(limit, 0)) >= length)
            {
                EXPECT_EQ(compact, path);
            }
            else if (limit >= 0 && CodePoints(name) <= size_t(limit))
            {
                EXPECT_EQ(compact.Right(name.GetLength()), name);
            }
            // Whatever was cut shows as "...", unless only the name is left.
            if (limit >= 4 && size_t(limit) < length && compact != name)
            {
                EXPECT_GE(compact.Find("..."), 0);
            }
        }
    }

    const char* forest = "/home/user/projects/3dzan/scenes/large/forest.obj";
    EXPECT_EQ(fileCompactPath(forest, 26), "/home/.../large/forest.obj");
    EXPECT_EQ(fileCompactPath(forest, 32), "/home/.../large/forest.obj");
    EXPECT_EQ(fileCompactPath(forest, 33), "/home/.../scenes/large/forest.obj");
    // The first folder is kept before the folders near the name.
    EXPECT_EQ(fileCompactPath(forest, 25), "/home/.../forest.obj");
    EXPECT_EQ(fileCompactPath(forest, 20), "/home/.../forest.obj");
    EXPECT_EQ(fileCompactPath(forest, 19), "/.../forest.obj");
    EXPECT_EQ(fileCompactPath(forest, 14), ".../forest.obj");
    EXPECT_EQ(fileCompactPath(forest, 10), "forest.obj");
    EXPECT_EQ(fileCompactPath(forest, 9), "fo....obj");
    EXPECT_EQ(fileCompactPath(forest, 3), "for");
    EXPECT_EQ(fileCompactPath(forest, 0), "");
    EXPECT_EQ(fileCompactPath(nullptr, 10), "");
    EXPECT_EQ(fileCompactPath("/d/éééééééééé.obj", 10), "ééé....obj");
    EXPECT_EQ(fileCompactPath("/d/ééééé", 4), "é...");
    EXPECT_EQ(fileCompactPath("http://example.com/assets/models/v2/robot.gltf", 36),
              "http://example.com/.../v2/robot.gltf");
}

TEST(Paths, UniqueNamesSkipEveryTakenName)
{
    zantest::CTempDir dir;
    const char* folder = dir.Path().c_str();
    EXPECT_EQ(fileMakeUniqueName(folder, "tex.png"), "tex.png");
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("tex.png"), {0}));
    EXPECT_EQ(fileMakeUniqueName(folder, "tex.png"), "tex_1.png");
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("tex_1.png"), {0}));
    EXPECT_EQ(fileMakeUniqueName(folder, "tex.png"), "tex_2.png");
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
    for (const char* bad : {"", "a/b", ".", ".."})
    {
        SCOPED_TRACE(bad);
        EXPECT_TRUE(fileMakeUniqueName(folder, bad).IsEmpty());
    }
    EXPECT_TRUE(fileMakeUniqueName(folder, nullptr).IsEmpty());
}

TEST(Paths, JoinResolveAndValidate)
{
    EXPECT_EQ(fileMakePath("/a", "b.obj"), "/a/b.obj");
    EXPECT_EQ(fileMakePath("/a/", "b.obj"), "/a/b.obj");
    EXPECT_EQ(fileMakePath("", "b.obj"), "b.obj");
    EXPECT_EQ(fileMakePath(nullptr, "b.obj"), "b.obj");
    EXPECT_EQ(fileMakePath("/a", "/b.obj"), "/b.obj");
    EXPECT_EQ(fileMakePath("/a", "http://h/b.obj"), "http://h/b.obj");
    EXPECT_EQ(fileMakePath("/a", ""), "/a");

    EXPECT_EQ(fileMakeAbsolutePath("/a/b", "../c/./d.png"), "/a/c/d.png");
    EXPECT_EQ(fileMakeAbsolutePath("/a/b", "/x/../y.png"), "/y.png");
    EXPECT_EQ(fileMakeAbsolutePath("rel", "x.png"), "rel/x.png");
    EXPECT_EQ(fileMakeAbsolutePath("/a", "../../.."), "/");

    EXPECT_TRUE(fileIsValidFileName("/tmp/x y/é.obj"));
    EXPECT_TRUE(fileIsValidFileName(("/t/" + std::string(255, 'n')).c_str()));
    EXPECT_FALSE(fileIsValidFileName(("/t/" + std::string(256, 'n')).c_str()));
    EXPECT_FALSE(fileIsValidFileName(std::string(4096, 'n').insert(100, "/").c_str()));
    for (const char* bad : {"", "a\tb", "a\nb", "a\x7F"})
    {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(fileIsValidFileName(bad));
    }
    EXPECT_FALSE(fileIsValidFileName(nullptr));
}

TEST(Paths, CopyStringArrayReplacesOrAppends)
{
    CXArray<CXTString> src, dst;
    src.Add("a");
    src.Add("b");
    dst.Add("z");
    EXPECT_EQ(CopyStringArray(dst, src), 2);
    EXPECT_EQ(dst, src);
    EXPECT_EQ(CopyStringArray(dst, src, true), 4);
    EXPECT_EQ(dst[2], "a");
    EXPECT_EQ(dst[3], "b");
    EXPECT_EQ(CopyStringArray(src, src), 2);
    EXPECT_EQ(CopyStringArray(src, src, true), 4); // appending an array to itself
    EXPECT_EQ(src, dst);
    CXArray<CXTString> empty;
    EXPECT_EQ(CopyStringArray(dst, empty), 0);
    EXPECT_TRUE(dst.IsEmpty());
}

// ---------------------------------------------------------------------------- options

TEST(IoOptions, LogKeepsLinesLevelsAndMask)
{
    CIoOptions options(true);
    EXPECT_TRUE(options.IsImport());
    EXPECT_EQ(options.GetLogLevelMask(), 0u);
    EXPECT_TRUE(options.AddLogInfo(_IoLevelInfo, "read %d objects", 3));
    EXPECT_TRUE(options.AddLogInfo(_IoLevelError, "bad face in %s\n", "cube"));
    // Only one level per line; a line with no format is refused.
    EXPECT_FALSE(options.AddLogInfo(3, "two levels"));
    EXPECT_FALSE(options.AddLogInfo(0, "no level"));
    EXPECT_FALSE(options.AddLogInfo(8, "unknown level"));
    EXPECT_FALSE(options.AddLogInfo(_IoLevelInfo, nullptr));
    ASSERT_EQ(options.GetLogCount(), 2);
    EXPECT_EQ(options.GetLogLevelMask(), unsigned(_IoLevelInfo | _IoLevelError));

    unsigned level = 0;
    EXPECT_EQ(options.GetLogLine(0, level), "read 3 objects");
    EXPECT_EQ(level, unsigned(_IoLevelInfo));
    EXPECT_EQ(options.GetLogLine(1, level), "bad face in cube\n");
    EXPECT_EQ(level, unsigned(_IoLevelError));
    EXPECT_THROW(options.GetLogLine(2, level), CXInvalidArgException);
    EXPECT_THROW(options.GetLogLine(-1, level), CXInvalidArgException);

    EXPECT_EQ(options.GetLogText(_IoLevelError), "bad face in cube\n");
    EXPECT_EQ(options.GetLogText(_IoLevelWarning), "");
    EXPECT_EQ(options.GetLogText(), "read 3 objects\nbad face in cube\n");

    EXPECT_TRUE(options.AddLogInfo(_IoLevelWarning, "%s", ""));
    EXPECT_EQ(options.GetLogLevelMask(), 7u);
    CIoOptions copy(options);
    EXPECT_EQ(copy.GetLogCount(), 3);
    options.ClearLog();
    EXPECT_EQ(options.GetLogCount(), 0);
    EXPECT_EQ(options.GetLogLevelMask(), 0u);
    EXPECT_EQ(copy.GetLogLevelMask(), 7u);
}

TEST(IoOptions, LogIsBounded)
{
    CIoOptions options(false);
    for (int i = 0; i < 10050; ++i)
        ASSERT_TRUE(options.AddLogInfo(_IoLevelWarning, "line %d", i));
    EXPECT_EQ(options.GetLogCount(), 10000);
    EXPECT_EQ(options.GetDroppedLogCount(), 50);
    unsigned level = 0;
    EXPECT_EQ(options.GetLogLine(9999, level), "line 9999");
    EXPECT_TRUE(options.AddLogInfo(_IoLevelError, "late error"));
    EXPECT_EQ(options.GetLogLevelMask(), unsigned(_IoLevelWarning | _IoLevelError));
    options.ClearLog();
    EXPECT_EQ(options.GetDroppedLogCount(), 0);
    EXPECT_TRUE(options.AddLogInfo(_IoLevelInfo, "kept again"));
    EXPECT_EQ(options.GetLogCount(), 1);
}

TEST(IoOptions, FlagsAndSavedValues)
{
    CIoOptions options(false, _IoOptionsEditDefaults);
    EXPECT_FALSE(options.IsImport());
    EXPECT_TRUE(options.IsFlagSet(_IoOptionsEditDefaults));
    options.SetFlag(_IoOptionsShowReport);
    EXPECT_TRUE(options.IsFlagSet(_IoOptionsShowReport | _IoOptionsEditDefaults));
    EXPECT_FALSE(options.IsFlagSet(_IoOptionsInOperation | _IoOptionsEditDefaults));
    EXPECT_TRUE(options.IsOneFlagSet(_IoOptionsInOperation | _IoOptionsEditDefaults));
    options.SetFlag(_IoOptionsEditDefaults, false);
    EXPECT_EQ(options.GetFlags(), unsigned(_IoOptionsShowReport));

    CCustomData stored;
    stored.SetUInt(ZanTag("FLAG"), 0x40);
    stored.SetString(ZanTag("TXPT"), "./Textures/");
    options.InitFromSavedPrefs(stored);
    EXPECT_EQ(options.GetCustomData(), stored);
    stored.SetUInt(ZanTag("FLAG"), 0); // the options hold their own copy
    EXPECT_EQ(options.GetCustomData().GetUInt(ZanTag("FLAG")), 0x40u);
    EXPECT_EQ(options.SaveToSavedPrefs(), options.GetCustomData());

    // A format's options class is reached through the base.
    struct CFormatOptions : CIoOptions
    {
        unsigned m_Value = 0;
        CFormatOptions() : CIoOptions(true) {}
        void InitFromSavedPrefs(const CCustomData& data) override
        {
            CIoOptions::InitFromSavedPrefs(data);
            m_Value = data.GetUInt(ZanTag("FLAG")) & ~0x2u;
        }
        CCustomData SaveToSavedPrefs() override
        {
            GetCustomData().SetUInt(ZanTag("FLAG"), m_Value);
            return CIoOptions::SaveToSavedPrefs();
        }
    } format;
    CIoOptions& base = format;
    CCustomData withTransient;
    withTransient.SetUInt(ZanTag("FLAG"), 0x43);
    base.InitFromSavedPrefs(withTransient);
    EXPECT_EQ(format.m_Value, 0x41u);
    EXPECT_EQ(base.SaveToSavedPrefs().GetUInt(ZanTag("FLAG")), 0x41u);
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
    EXPECT_TRUE(io.IsSilent());
    EXPECT_TRUE(io.IsIoOk());
    EXPECT_EQ(io.GetIoError(), int(_IoResultOk));
    EXPECT_EQ(io.GetIoErrorLevel(), 0u);
    EXPECT_TRUE(io.FormatIoReport(nullptr, _IoLevelAll).IsEmpty());
    EXPECT_FALSE(io.ReportIoError(_IoLevelAll));
    EXPECT_TRUE(io.GetLastIoReport().IsEmpty());

    io.SetIoError(_IoResultFileNotFound, _IoLevelError);
    EXPECT_FALSE(io.IsIoOk());
    EXPECT_EQ(io.GetIoError(), -1);
    EXPECT_EQ(io.GetIoErrorLevel(), unsigned(_IoLevelError));
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
    EXPECT_NE(m_Config.GetLog().find(failures.str()), std::string::npos);

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
    EXPECT_NE(m_Config.GetLog().find("wrote 4 objects"), std::string::npos);
    report.SetFlag(_IoOptionsShowReport);
    EXPECT_TRUE(saved.ReportIoError(&report, _IoLevelAll));
    shown = answers.GetShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].m_Style & kMbIconMask, kMbIconInformation);
    EXPECT_TRUE(Contains(shown[1].m_Text, "wrote 4 objects"));
    EXPECT_FALSE(saved.ReportIoError(&report, 0));

    // Every result has its own text, and an unknown value still reads as one.
    std::vector<std::string> texts;
    for (int result = 1; result >= -11; --result)
        texts.emplace_back(CFileIo::GetIoResultText(result));
    texts.emplace_back(CFileIo::GetIoResultText(-12345));
    for (size_t i = 0; i < texts.size(); ++i)
    {
        EXPECT_FALSE(texts[i].empty());
        for (size_t j = 0; j < i; ++j)
            EXPECT_NE(texts[i], texts[j]);
    }
}

TEST_F(FileIo, FileInfoResolvesClassAndKind)
{
    CFormatGuard guard({ZanTag("ZFI1")});
    ASSERT_TRUE(fileRegisterFile(CFileExt("info", ".zfi", ZanTag("ZFI1"), _FileKindBitmap)));
    zantest::CTempDir dir;
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

    CFileInfo explicitClass(CFileNameSpec(photo.c_str(), ZanTag("OTHR")));
    EXPECT_EQ(explicitClass.GetClass(), ZanTag("OTHR")); // the name's class wins
    EXPECT_EQ(explicitClass.GetKind(), 0u);
    EXPECT_FALSE(explicitClass.GetFileExt(record));

    CFileInfo unknown(CFileNameSpec(dir.File("photo.unknownext").c_str()));
    EXPECT_EQ(unknown.GetClass(), 0u);
    EXPECT_EQ(unknown.GetKind(), 0u);
    EXPECT_FALSE(unknown.Exists());
    EXPECT_EQ(unknown.GetParserNbr(), 0);
    EXPECT_FALSE(unknown.CanTryAnotherParser());

    CFileInfo byClass(ZanTag("ZFI1"));
    EXPECT_TRUE(byClass.GetFileName().IsEmpty());
    EXPECT_EQ(byClass.GetKind(), unsigned(_FileKindBitmap));
}

TEST_F(FileIo, ParsersAreTriedInRegistrationOrder)
{
    const unsigned cls = ZanTag("ZFP1");
    ASSERT_TRUE(fileRegisterParserFactory(cls, &Decline));
    ASSERT_TRUE(fileRegisterParserFactory(cls, &MakeTagged, &g_TagA));
    ASSERT_TRUE(fileRegisterParserFactory(cls, &Throw));
    ASSERT_TRUE(fileRegisterParserFactory(cls, &MakeTagged, &g_TagB));
    EXPECT_FALSE(fileRegisterParserFactory(cls, &MakeTagged, &g_TagB)); // already there
    EXPECT_FALSE(fileRegisterParserFactory(0, &MakeTagged, &g_TagB));
    EXPECT_FALSE(fileRegisterParserFactory(cls, nullptr));
    EXPECT_EQ(fileGetParserFactoryNbr(cls), 4);
    struct CUnregister
    {
        unsigned m_Class;
        ~CUnregister()
        {
            fileUnregisterParserFactory(m_Class, &Decline);
            fileUnregisterParserFactory(m_Class, &MakeTagged, &g_TagA);
            fileUnregisterParserFactory(m_Class, &Throw);
            fileUnregisterParserFactory(m_Class, &MakeTagged, &g_TagB);
        }
    } unregister{cls};

    {
        CFileIo io(CFileNameSpec("/x/a.zfp", cls), _FileParserRead);
        EXPECT_EQ(io.GetParserNbr(), 4);
        EXPECT_EQ(io.GetFileParser(), nullptr);
        CFileParser* parser = io.InitParser();
        ASSERT_NE(parser, nullptr);
        EXPECT_EQ(TagOf(parser), 'A'); // the declining factory was passed over
        EXPECT_EQ(io.GetParserIndex(), 1);
        EXPECT_EQ(parser->GetFileIo(), &io);
        EXPECT_EQ(parser->GetClass(), cls);
        EXPECT_EQ(io.InitParser(), parser); // made once
        EXPECT_EQ(io.GetFileParser(), parser);
        EXPECT_EQ(CCountedParser::s_Live, 1);
        EXPECT_TRUE(io.CanTryAnotherParser());

        io.CloseParser();
        EXPECT_EQ(CCountedParser::s_Live, 0);
        EXPECT_EQ(io.GetFileParser(), nullptr);
        ASSERT_TRUE(io.TryNextParser());
        parser = io.InitParser();
        ASSERT_NE(parser, nullptr);
        EXPECT_EQ(TagOf(parser), 'B'); // the throwing factory was passed over too
        EXPECT_EQ(io.GetParserIndex(), 3);
        EXPECT_FALSE(io.CanTryAnotherParser());
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

    const unsigned declining = ZanTag("ZFP2");
    ASSERT_TRUE(fileRegisterParserFactory(declining, &Decline));
    {
        CFileIo io(CFileNameSpec("/x/b.zfp2", declining), _FileParserRead);
        EXPECT_EQ(io.InitParser(), nullptr);
        EXPECT_FALSE(io.CanTryAnotherParser());
        EXPECT_TRUE(io.IsIoOk());
        CFileIo noClass(CFileNameSpec("/x/none.unknownext"), _FileParserRead);
        EXPECT_EQ(noClass.InitParser(), nullptr);
    }
    EXPECT_TRUE(fileUnregisterParserFactory(declining, &Decline));
    EXPECT_FALSE(fileUnregisterParserFactory(declining, &Decline));
    EXPECT_EQ(fileGetParserFactoryNbr(declining), 0);
}

TEST_F(FileIo, MustShowDialogFollowsTheOperationFlags)
{
    CFileIo io(CFileNameSpec("/x/a.obj"), _FileParserRead);
    CFileParser parser(&io);
    EXPECT_EQ(parser.MustShowDialog(), _IoShowDialogIfAsked);
    io.SetFlag(_FileParserShowDialog);
    EXPECT_EQ(parser.MustShowDialog(), _IoShowDialogYes);
    io.SetFlag(_FileParserSilent);
    EXPECT_EQ(parser.MustShowDialog(), _IoShowDialogNo); // silence wins
    parser.SetIoError(_IoResultCancelled, _IoLevelWarning);
    EXPECT_EQ(io.GetIoError(), -11);
    EXPECT_EQ(CFileParser(nullptr).MustShowDialog(), _IoShowDialogNo);
}

// ---------------------------------------------------------------------------- parameters

TEST(IoParameters, StoredPerFormatAndDirection)
{
    zantest::CTempDir config;
    CScopedEnv env("ZAN3D_CONFIG_DIR", config.Path());
    const unsigned cls = ZanTag("ZPAR");

    CCustomData importValues, exportValues, loaded;
    importValues.SetUInt(ZanTag("FLAG"), 0x40);
    exportValues.SetUInt(ZanTag("FLAG"), 0x100000);
    exportValues.SetString(ZanTag("TXPT"), "./Textures/");
    loaded.SetInt(ZanTag("KEEP"), 5);
    const CCustomData untouched = loaded;

    EXPECT_FALSE(CFileIo::LoadIoParameters(true, loaded, cls));
    EXPECT_EQ(loaded, untouched);

    ASSERT_TRUE(CFileIo::SaveIoParameters(true, importValues, cls));
    const std::string file = CFileIo::GetIoParametersFile(cls).str();
    EXPECT_EQ(file.rfind(config.Path() + "/", 0), 0u) << file;
    EXPECT_TRUE(fileExists(file.c_str()));
    EXPECT_FALSE(CFileIo::LoadIoParameters(false, loaded, cls)); // nothing for writing yet
    EXPECT_EQ(loaded, untouched);

    ASSERT_TRUE(CFileIo::SaveIoParameters(false, exportValues, cls));
    ASSERT_TRUE(CFileIo::LoadIoParameters(true, loaded, cls));
    EXPECT_EQ(loaded, importValues);
    ASSERT_TRUE(CFileIo::LoadIoParameters(false, loaded, cls));
    EXPECT_EQ(loaded, exportValues);

    // Saving one direction keeps the other.
    importValues.SetUInt(ZanTag("FLAG"), 0x80);
    ASSERT_TRUE(CFileIo::SaveIoParameters(true, importValues, cls));
    ASSERT_TRUE(CFileIo::LoadIoParameters(false, loaded, cls));
    EXPECT_EQ(loaded, exportValues);
    ASSERT_TRUE(CFileIo::LoadIoParameters(true, loaded, cls));
    EXPECT_EQ(loaded, importValues);

    // One file per format; codes that are not plain characters still make a file name.
    const unsigned xsi = 0x58534920; // "XSI "
    EXPECT_FALSE(CFileIo::LoadIoParameters(true, loaded, xsi));
    ASSERT_TRUE(CFileIo::SaveIoParameters(true, exportValues, xsi));
    const std::string xsiFile = CFileIo::GetIoParametersFile(xsi).str();
    EXPECT_NE(xsiFile, file);
    EXPECT_EQ(xsiFile.find(' '), std::string::npos);
    EXPECT_EQ(fileGetFolder(xsiFile.c_str()), fileGetFolder(file.c_str()));
    ASSERT_TRUE(CFileIo::LoadIoParameters(true, loaded, cls));
    EXPECT_EQ(loaded, importValues);

    EXPECT_FALSE(CFileIo::SaveIoParameters(true, importValues, 0));
    EXPECT_FALSE(CFileIo::LoadIoParameters(true, loaded, 0));
    EXPECT_TRUE(CFileIo::GetIoParametersFile(0).IsEmpty());
}

TEST(IoParameters, DamagedOrUnwritableStoreFailsCleanly)
{
    zantest::CTempDir config;
    CScopedEnv env("ZAN3D_CONFIG_DIR", config.File("nested/config"));
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

    ASSERT_TRUE(zantest::WriteFileBytes(config.File("plainfile"), {1}));
    CScopedEnv blocked("ZAN3D_CONFIG_DIR", config.File("plainfile/sub"));
    EXPECT_FALSE(CFileIo::SaveIoParameters(false, values, cls));
    EXPECT_FALSE(CFileIo::LoadIoParameters(false, loaded, cls));
}

TEST(IoParameters, ConfigFolderFallsBackToXdgThenHome)
{
    zantest::CTempDir root;
    CScopedEnv noExplicit("ZAN3D_CONFIG_DIR", std::nullopt);
    CScopedEnv xdg("XDG_CONFIG_HOME", root.File("xdg"));
    CScopedEnv home("HOME", root.File("home"));
    const unsigned cls = ZanTag("ZPAX");
    EXPECT_EQ(fileGetFolder(CFileIo::GetIoParametersFile(cls)), (root.File("xdg/3dzan/")).c_str());
    CCustomData values;
    values.SetUInt(ZanTag("FLAG"), 9);
    ASSERT_TRUE(CFileIo::SaveIoParameters(true, values, cls));
    EXPECT_TRUE(fileDirectoryExists(root.File("xdg/3dzan").c_str()));
    {
        CScopedEnv relativeXdg("XDG_CONFIG_HOME", "relative/xdg");
        EXPECT_EQ(fileGetFolder(CFileIo::GetIoParametersFile(cls)),
                  (root.File("home/.config/3dzan/")).c_str());
    }
    CScopedEnv emptyExplicit("ZAN3D_CONFIG_DIR", "");
    EXPECT_EQ(fileGetFolder(CFileIo::GetIoParametersFile(cls)), (root.File("xdg/3dzan/")).c_str());
}

// ---------------------------------------------------------------------------- plug-ins

TEST_F(IoPlugins, LoadFindParseAndFree)
{
    zantest::CTempDir dir;
    CScopedEnv exitFile("ZAN3D_TEST_PLUGIN_EXIT_FILE", dir.File("exit.txt"));
    ASSERT_EQ(fileGetFileExt(".ztst"), nullptr);

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
    EXPECT_EQ(record->m_Class, kTestPluginClass);
    EXPECT_EQ(record->m_Description, "3DZan test files");
    EXPECT_TRUE(record->CanRead());
    EXPECT_TRUE(record->CanWrite());
    EXPECT_EQ(record->m_ReadPlugin, ZanTag("ZTPL"));
    CFileExt byClass;
    ASSERT_TRUE(fileGetExtensionInfo(kTestPluginClass, byClass));
    EXPECT_EQ(byClass, *record);
    EXPECT_EQ(fileGetKindOf("/scenes/robot.ztst"), 16384u);
    // The library's own registration cannot take what the plug-in registered.
    EXPECT_FALSE(fileRegisterFile(CFileExt("fallback", ".ztst", ZanTag("ZTSF"), 0x4013)));

    {
        CFileIo io(CFileNameSpec(dir.File("robot.ztst").c_str()), _FileParserRead);
        EXPECT_EQ(io.GetClass(), kTestPluginClass);
        EXPECT_EQ(io.GetKind(), unsigned(_FileKind3D));
        EXPECT_EQ(io.GetParserNbr(), 1);
        CFileParser* parser = io.InitParser();
        ASSERT_NE(parser, nullptr);
        EXPECT_EQ(parser->GetFileIo(), &io);
        EXPECT_EQ(parser->GetClass(), kTestPluginClass);
        // The plug-in's own code answers through the base class.
        CIoOptions options(true);
        parser->LoadDefaultOptions(&options);
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
    EXPECT_EQ(ReadText(dir.File("exit.txt")), "test_format_plugin exit\n");
    EXPECT_FALSE(IsMapped("test_format_plugin.so")); // unloaded, not only forgotten
    EXPECT_EQ(fileGetFileExt(".ztst"), nullptr);
    EXPECT_EQ(fileGetFileExt(".ztst2"), nullptr);
    EXPECT_FALSE(fileGetExtensionInfo(kTestPluginClass, byClass));
    EXPECT_EQ(fileGetKindOf("/scenes/robot.ztst"), 0u);
    EXPECT_EQ(fileGetParserFactoryNbr(kTestPluginClass), 0);
    EXPECT_TRUE(GetLoadedPlugins().IsEmpty());
    CFileIo after(CFileNameSpec(dir.File("robot.ztst").c_str()), _FileParserRead);
    EXPECT_EQ(after.GetClass(), 0u);
    EXPECT_EQ(after.InitParser(), nullptr);
    EXPECT_EQ(FreeIOPlugins(_FileKind3D), 0);

    // The extension is free again for the library.
    CFormatGuard guard({ZanTag("ZTSF")});
    EXPECT_TRUE(fileRegisterFile(CFileExt("fallback", ".ztst", ZanTag("ZTSF"), 0x4013)));
}

TEST_F(IoPlugins, ParserKeepsItsPluginLoaded)
{
    zantest::CTempDir dir;
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
    parser->LoadDefaultOptions(&options);
    EXPECT_EQ(options.GetCustomData().GetUInt(ZanTag("ZTST")), 2u); // writing
    io.reset();
    EXPECT_EQ(ReadText(dir.File("exit.txt")), "test_format_plugin exit\n");
    EXPECT_FALSE(IsMapped("test_format_plugin.so"));
}

TEST_F(IoPlugins, FamiliesSelectWhatIsLoadedAndFreed)
{
    // The test plug-in has nothing for images: it declines, which is not an error.
    EXPECT_EQ(RegisterIOPlugins(_FileKindBitmap, ZAN3D_TEST_PLUGIN_DIR), 0);
    EXPECT_TRUE(GetPluginLoadErrors().IsEmpty());
    EXPECT_EQ(fileGetFileExt(".ztst"), nullptr);
    EXPECT_TRUE(GetLoadedPlugins().IsEmpty());
    EXPECT_EQ(RegisterIOPlugins(0, ZAN3D_TEST_PLUGIN_DIR), 0);

    ASSERT_EQ(RegisterIOPlugins(_FileKind3D, ZAN3D_TEST_PLUGIN_DIR), 1);
    EXPECT_EQ(FreeIOPlugins(_FileKindImageMask), 0);
    EXPECT_NE(fileGetFileExt(".ztst"), nullptr);
    EXPECT_EQ(FreeIOPlugins(_FileKind3D), 1);
    EXPECT_EQ(fileGetFileExt(".ztst"), nullptr);
}

TEST_F(IoPlugins, BrokenPluginsAreSkippedWithAReason)
{
    zantest::CTempDir dir;
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("bad.so"), {'n', 'o', 't', ' ', 'E', 'L', 'F'}));
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("empty.so"), {}));
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("notes.txt"), {'x'})); // not a candidate
    ASSERT_EQ(mkdir(dir.File("folder.so").c_str(), 0700), 0);           // nor is this

    const std::string folders = std::string(ZAN3D_TEST_BAD_PLUGIN_DIR) + ":" + dir.Path();
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, folders.c_str()), 0);
    EXPECT_TRUE(GetLoadedPlugins().IsEmpty());
    // The plug-in built for another interface registered a format before answering: the
    // host dropped it.
    EXPECT_EQ(fileGetFileExt(".zbad"), nullptr);
    CFileExt record;
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
    const std::string log = m_Config.GetLog();
    for (const CXTString& line : errors)
        EXPECT_NE(log.find(line.str()), std::string::npos) << line.c_str();

    // A good plug-in beside broken ones still loads, and the reasons are those of this call.
    const std::string mixed = dir.Path() + ":" + ZAN3D_TEST_PLUGIN_DIR;
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, mixed.c_str()), 1);
    EXPECT_EQ(GetPluginLoadErrors().GetSize(), 2);
    EXPECT_NE(fileGetFileExt(".ztst"), nullptr);
}

TEST_F(IoPlugins, MissingFoldersLoadNothing)
{
    zantest::CTempDir dir;
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, dir.File("no/such/folder").c_str()), 0);
    ASSERT_TRUE(zantest::WriteFileBytes(dir.File("plainfile"), {1}));
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, dir.File("plainfile").c_str()), 0);
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, dir.Path().c_str()), 0); // empty folder
    EXPECT_TRUE(GetPluginLoadErrors().IsEmpty());
    EXPECT_TRUE(GetLoadedPlugins().IsEmpty());

    CScopedEnv env("ZAN3D_PLUGIN_PATH", dir.File("missing"));
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, ""), 0);
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, nullptr), 0);
    EXPECT_TRUE(GetPluginLoadErrors().IsEmpty());
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
    zantest::CTempDir dir;
    const std::string original = ZAN3D_TEST_PLUGIN_DIR "/test_format_plugin.so";
    ASSERT_EQ(symlink(original.c_str(), dir.File("alias.so").c_str()), 0);
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, dir.Path().c_str()), 1);
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, ZAN3D_TEST_PLUGIN_DIR), 0);
    EXPECT_EQ(GetLoadedPlugins().GetSize(), 1);
    EXPECT_EQ(FreeIOPlugins(_FileKind3D), 1);

    // A hard link is the same object to the system loader as well.
    zantest::CTempDir linked;
    if (link(original.c_str(), linked.File("hard.so").c_str()) != 0)
        GTEST_SKIP() << "no hard link across these folders";
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, ZAN3D_TEST_PLUGIN_DIR), 1);
    EXPECT_EQ(RegisterIOPlugins(_FileKind3D, linked.Path().c_str()), 0);
    EXPECT_EQ(GetLoadedPlugins().GetSize(), 1);
}
