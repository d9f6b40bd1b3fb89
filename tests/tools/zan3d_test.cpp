// The zan3d commands, run in-process on scenes written to a temporary folder: exit codes and
// one-line diagnostics, conversions checked on the file they write, the comparison against a
// distance known in closed form, and the progress bar.
#include "zan3dcli.h"

#include <3dzan/io/io3d.h>
#include <3dzan/processing/primitives.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace
{
namespace fs = std::filesystem;

// Reads back everything written to a temporary stream.
std::string Contents(std::FILE* stream)
{
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stream)) > 0;)
        text.append(buffer, n);
    // Later writes go to the end, after what was read.
    std::fseek(stream, 0, SEEK_END);
    return text;
}

struct CRun
{
    int m_Exit = -1;
    std::string m_Out;
    std::string m_Err;
};

CRun RunCommand(const std::vector<std::string>& args)
{
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    CRun run;
    run.m_Exit = RunZan3D(args, out, err);
    run.m_Out = Contents(out);
    run.m_Err = Contents(err);
    std::fclose(out);
    std::fclose(err);
    return run;
}

size_t LineCount(const std::string& text)
{
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

C3DScene* ReadFile(const fs::path& path)
{
    C3DIo io(CFileNameSpec(path.string().c_str()), _FileParserRead | _FileParserSilent);
    CSceneImportOptions options(_ImportNoCheckout);
    return io.Read(false, &options);
}

bool SaveFile(C3DScene& scene, const fs::path& path)
{
    C3DIo io(CFileNameSpec(path.string().c_str()), _FileParserSilent);
    return io.Save(false, &scene);
}

void AddOrDelete(C3DScene& scene, C3DSceneNode* node)
{
    ASSERT_NE(node, nullptr);
    if (!scene.AddNode(nullptr, node))
    {
        node->Delete();
        FAIL() << "cannot add a node";
    }
}

class Zan3DCommand : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Folder = fs::temp_directory_path() /
                   ("zan3d-test-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_Folder);
    }
    void TearDown() override { fs::remove_all(m_Folder); }

    // A unit cube at \p center (6 quadrangles) and a 2 x 2 x 2 cube beside it, saved as .3dif.
    fs::path SaveCubes(const std::string& name, float shift = 0.f)
    {
        C3DScene scene;
        AddOrDelete(scene, CreateCube(C3DTPoint<float>(0.5f + shift, 0.5f, 0.5f), 1, 1, 1, false, 0,
                                      kZanNone));
        const fs::path path = m_Folder / name;
        EXPECT_TRUE(SaveFile(scene, path));
        return path;
    }

    fs::path m_Folder;
};

TEST_F(Zan3DCommand, UsageMistakesExitWithCodeTwoAndOneHint)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"frobnicate"},
                                               {"info"},
                                               {"info", "a.3dif", "b.3dif"},
                                               {"info", "--weld", "a.3dif"},
                                               {"convert", "a.3dif"},
                                               {"convert", "a.3dif", "b.3dif", "--bogus"},
                                               {"convert", "a.3dif", "b.3dif", "--up", "w"},
                                               {"convert", "a.3dif", "b.3dif", "--swap", "0x3"},
                                               {"convert", "a.3dif", "b.3dif", "--swap"},
                                               {"convert", "a.3dif", "b.3dif", "--weld=1"},
                                               {"compare", "a.3dif"},
                                               {}})
    {
        const CRun run = RunCommand(args);
        std::string line;
        for (const std::string& arg : args)
            line += arg + " ";
        EXPECT_EQ(run.m_Exit, kExitUsage) << line;
        EXPECT_TRUE(run.m_Out.empty()) << line;
        EXPECT_NE(run.m_Err.find("zan3d"), std::string::npos) << line;
        if (!args.empty())
        {
            EXPECT_EQ(LineCount(run.m_Err), 2u) << line << "\n" << run.m_Err;
            EXPECT_NE(run.m_Err.find("--help"), std::string::npos) << line;
        }
    }

    // Help goes to standard output and succeeds; every option convert accepts is documented.
    const CRun help = RunCommand({"convert", "--help"});
    EXPECT_EQ(help.m_Exit, kExitOk);
    for (const char* option :
         {"--triangulate", "--quadrangulate", "--global", "--weld", "--merge-coplanar",
          "--unify-normals", "--concatenate", "--no-uv", "--no-normals", "--no-colors", "--hidden",
          "--generate-uv", "--up", "--swap"})
    {
        EXPECT_NE(help.m_Out.find(option), std::string::npos) << option;
        // A documented option is accepted (it fails later, on the missing file, not as usage).
        std::vector<std::string> args{"convert", (m_Folder / "none.3dif").string(),
                                      (m_Folder / "out.3dif").string(), option};
        if (std::string(option) == "--up")
            args.push_back("z");
        if (std::string(option) == "--swap")
            args.push_back("0x14");
        EXPECT_EQ(RunCommand(args).m_Exit, kExitFailed) << option;
    }
    for (const char* command : {"info", "compare", "demo"})
        EXPECT_EQ(RunCommand({command, "--help"}).m_Exit, kExitOk) << command;
    EXPECT_EQ(RunCommand({"--help"}).m_Exit, kExitOk);
    const CRun version = RunCommand({"--version"});
    EXPECT_EQ(version.m_Exit, kExitOk);
    EXPECT_EQ(version.m_Out.rfind("zan3d ", 0), 0u);
}

TEST_F(Zan3DCommand, FailedReadsAndWritesSayWhyInOneLine)
{
    const CRun missing = RunCommand({"info", (m_Folder / "missing.3dif").string()});
    EXPECT_EQ(missing.m_Exit, kExitFailed);
    EXPECT_EQ(LineCount(missing.m_Err), 1u) << missing.m_Err;
    EXPECT_NE(missing.m_Err.find(CFileIo::GetIoResultText(_IoResultFileNotFound)),
              std::string::npos)
        << missing.m_Err;

    // A file of the native format holding garbage.
    const fs::path garbage = m_Folder / "garbage.3dif";
    std::ofstream(garbage) << "this is not a scene archive";
    const CRun bad = RunCommand({"info", garbage.string()});
    EXPECT_EQ(bad.m_Exit, kExitFailed);
    EXPECT_EQ(LineCount(bad.m_Err), 1u) << bad.m_Err;
    EXPECT_EQ(bad.m_Err.rfind("zan3d: cannot read " + garbage.string() + ": ", 0), 0u) << bad.m_Err;
    EXPECT_GT(bad.m_Err.size(), garbage.string().size() + 22) << bad.m_Err;

    // A format nobody reads.
    const fs::path unknown = m_Folder / "scene.nosuchformat";
    std::ofstream(unknown) << "x";
    const CRun unread = RunCommand({"info", unknown.string()});
    EXPECT_EQ(unread.m_Exit, kExitFailed);
    EXPECT_EQ(LineCount(unread.m_Err), 1u) << unread.m_Err;

    // Writing into a folder that does not exist fails and creates nothing.
    const fs::path cubes = SaveCubes("cubes.3dif");
    const fs::path target = m_Folder / "no" / "such" / "folder" / "out.3dif";
    const CRun write = RunCommand({"convert", cubes.string(), target.string()});
    EXPECT_EQ(write.m_Exit, kExitFailed);
    EXPECT_EQ(LineCount(write.m_Err), 1u) << write.m_Err;
    EXPECT_NE(write.m_Err.find("cannot write"), std::string::npos) << write.m_Err;
    EXPECT_FALSE(fs::exists(target.parent_path()));
}

TEST_F(Zan3DCommand, InfoListsNodesInstancesMaterialsBoxAndUnit)
{
    C3DScene scene;
    BuildDemoScene(scene);
    const fs::path path = m_Folder / "street.3dif";
    ASSERT_TRUE(SaveFile(scene, path));

    const CRun run = RunCommand({"info", path.string()});
    ASSERT_EQ(run.m_Exit, kExitOk) << run.m_Err;
    EXPECT_TRUE(run.m_Err.empty());
    const std::string& out = run.m_Out;
    // The house is a box of 8 corners and 6 sides: the top and bottom wear the roof material
    // (150, 40, 30), the four walls the default one. The neighbour shares its mesh.
    const size_t house = out.find("House [mesh] 8 points, 6 faces, materials ");
    ASSERT_NE(house, std::string::npos) << out;
    const std::string houseLine = out.substr(house, out.find('\n', house) - house);
    EXPECT_NE(houseLine.find("\"Roof tiles\""), std::string::npos) << houseLine;
    EXPECT_NE(houseLine.find("\"Default material\""), std::string::npos) << houseLine;
    const size_t neighbour = out.find("Neighbour [mesh]");
    ASSERT_NE(neighbour, std::string::npos) << out;
    const std::string neighbourLine = out.substr(neighbour, out.find('\n', neighbour) - neighbour);
    EXPECT_NE(neighbourLine.find("instance"), std::string::npos) << neighbourLine;
    EXPECT_NE(neighbourLine.find("shared by 2 nodes"), std::string::npos) << neighbourLine;
    EXPECT_NE(out.find("\"Roof tiles\" colour #96281E"), std::string::npos) << out;
    // Children are indented below their parent.
    EXPECT_NE(out.find("\n  Street [group]"), std::string::npos) << out;
    EXPECT_NE(out.find("\n    House [mesh]"), std::string::npos) << out;
    EXPECT_NE(out.find("\n      Tree [patch]"), std::string::npos) << out;
    EXPECT_NE(out.find("Unit: m"), std::string::npos) << out;
    // Five geometric nodes: house, neighbour, tree, ball and lamp post. The box spans the
    // ball (radius 0.6 at (-3, -2, 0.6)) to the far corner of the neighbour (6 + 4 along x,
    // 3 along y) and the top of the 3-long post standing at height 1.5; the camera and the
    // light, far from it, stay out.
    EXPECT_NE(out.find(" faces in 5 objects, 2 materials used"), std::string::npos) << out;
    const size_t box = out.find("Bounding box: (");
    ASSERT_NE(box, std::string::npos) << out;
    float lo[3], hi[3];
    ASSERT_EQ(std::sscanf(out.c_str() + box, "Bounding box: (%f, %f, %f) - (%f, %f, %f)", &lo[0],
                          &lo[1], &lo[2], &hi[0], &hi[1], &hi[2]),
              6)
        << out;
    const float expectedLo[3] = {-3.6f, -2.6f, 0.f}, expectedHi[3] = {10.f, 3.f, 3.f};
    for (int axis = 0; axis < 3; ++axis)
    {
        EXPECT_NEAR(lo[axis], expectedLo[axis], 1e-4f) << "axis " << axis;
        EXPECT_NEAR(hi[axis], expectedHi[axis], 1e-4f) << "axis " << axis;
    }
}

TEST_F(Zan3DCommand, ConvertAppliesTheRequestedOptionsToTheFileItWrites)
{
    // A box of six quadrangles from (0, 0, 0) to (1, 2, 3), saved with its size along each
    // axis distinct so that an axis swap shows.
    C3DScene scene;
    AddOrDelete(scene, CreateCube(C3DTPoint<float>(0.5f, 1.f, 1.5f), 1, 2, 3, false, 0, kZanNone));
    const fs::path input = m_Folder / "box.3dif";
    ASSERT_TRUE(SaveFile(scene, input));

    const fs::path triangles = m_Folder / "triangles.3dif";
    const CRun convert =
        RunCommand({"convert", input.string(), triangles.string(), "--triangulate"});
    ASSERT_EQ(convert.m_Exit, kExitOk) << convert.m_Err;
    C3DScene* read = ReadFile(triangles);
    ASSERT_NE(read, nullptr);
    // Six quadrangles make twelve triangles over the same eight corners.
    EXPECT_EQ(read->GetFaceNbr(), 12);
    EXPECT_EQ(read->GetPointNbr(), 8);
    C3DTPoint<float> min, max;
    ASSERT_TRUE(read->GetRoot()->GetBoundingBox(0, min, max, _BoxFaces));
    EXPECT_NEAR(max.m_X - min.m_X, 1.f, 1e-5f);
    EXPECT_NEAR(max.m_Y - min.m_Y, 2.f, 1e-5f);
    EXPECT_NEAR(max.m_Z - min.m_Z, 3.f, 1e-5f);
    read->Delete();

    // Without options the faces stay quadrangles.
    const fs::path copy = m_Folder / "copy.3dif";
    ASSERT_EQ(RunCommand({"convert", input.string(), copy.string()}).m_Exit, kExitOk);
    read = ReadFile(copy);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->GetFaceNbr(), 6);
    read->Delete();

    // Exchanging y and z on reading swaps the box's extents along them.
    const fs::path swapped = m_Folder / "swapped.3dif";
    ASSERT_EQ(RunCommand({"convert", input.string(), swapped.string(), "--swap", "0x4"}).m_Exit,
              kExitOk);
    read = ReadFile(swapped);
    ASSERT_NE(read, nullptr);
    ASSERT_TRUE(read->GetRoot()->GetBoundingBox(0, min, max, _BoxFaces));
    EXPECT_NEAR(max.m_Y - min.m_Y, 3.f, 1e-5f);
    EXPECT_NEAR(max.m_Z - min.m_Z, 2.f, 1e-5f);
    read->Delete();
}

TEST_F(Zan3DCommand, CompareFindsTheDistanceOfTwoShiftedCubes)
{
    const fs::path a = SaveCubes("a.3dif");
    const CRun same = RunCommand({"compare", a.string(), a.string()});
    ASSERT_EQ(same.m_Exit, kExitOk) << same.m_Err;
    double distance = -1;
    ASSERT_EQ(std::sscanf(same.m_Out.c_str(), "Distance: %lf", &distance), 1) << same.m_Out;
    EXPECT_LT(distance, 1e-9);

    // Two unit cubes, one moved by t along x: every face of one lies within t of the other
    // and the face x = 0 is exactly t away, so the Hausdorff distance is t; the box around
    // both is (1 + t) x 1 x 1.
    for (float t : {0.25f, 0.5f})
    {
        const fs::path b = SaveCubes("b.3dif", t);
        const CRun run = RunCommand({"compare", a.string(), b.string()});
        ASSERT_EQ(run.m_Exit, kExitOk) << run.m_Err;
        ASSERT_EQ(std::sscanf(run.m_Out.c_str(), "Distance: %lf", &distance), 1) << run.m_Out;
        const double diagonal = std::sqrt((1 + t) * (1 + t) + 2.0);
        EXPECT_NEAR(distance, t / diagonal, 1e-4) << run.m_Out;
    }
}

TEST(Zan3DProgress, BarLineHasTheWidthAndFillOfItsPercentage)
{
    for (int percent = -5; percent <= 105; ++percent)
    {
        const std::string line = FormatProgressLine(percent, "Reading scene", 20);
        const int shown = std::min(std::max(percent, 0), 100);
        ASSERT_EQ(line.front(), '[');
        ASSERT_EQ(line[21], ']');
        EXPECT_EQ(std::count(line.begin(), line.begin() + 22, '#'), shown / 5) << line;
        EXPECT_NE(line.find(std::to_string(shown) + "% Reading scene"), std::string::npos) << line;
    }
    EXPECT_EQ(FormatProgressLine(42, "Reading scene", 10), "[####      ]  42% Reading scene");
}

TEST(Zan3DProgress, LongTasksDrawAndEraseQuickOnesStayQuiet)
{
    std::FILE* stream = std::tmpfile();
    {
        CTerminalProgress host(stream);
        {
            CProgressTask quick("Quick task");
            quick.SetRange(0, 100);
            quick.SetPosition(50);
        }
        EXPECT_TRUE(Contents(stream).empty());
        {
            CProgressTask slow("Reading scene");
            slow.SetRange(0, 100);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            slow.SetPosition(42);
            const std::string drawn = Contents(stream);
            EXPECT_NE(drawn.find("42% Reading scene"), std::string::npos) << drawn;
        }
        const std::string all = Contents(stream);
        // The last thing written erases the line.
        ASSERT_GE(all.size(), 4u);
        EXPECT_EQ(all.substr(all.size() - 4), "\r\033[K");
    }
    std::fclose(stream);
}
} // namespace
