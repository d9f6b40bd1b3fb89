// STL reading and writing: ASCII solids, binary files (one whose header starts with "solid"
// included), exact welding against a slow reference, round trips through our writer, bad
// input, and the plug-in loaded through the scene front end.
#include "mesh_test_helpers.h"
#include "stlformat.h"

#include "common/zan_test_helpers.h"

#include <3dzan/foundation/services.h>
#include <3dzan/scene/scene.h>

#include <cmath>
#include <cstring>

using meshtest::CMeshData;
using zanstl::DecodeStl;
using zanstl::EncodeStl;

namespace
{
bool StopAlways(int event, ProcessProgressInfo*, void*)
{
    return (event & kProgressAskStopBit) != 0;
}

// A binary STL of \p triangles (9 floats each) with \p header as the start of its header.
std::string BinaryStl(const std::vector<std::array<float, 9>>& triangles, const char* header)
{
    std::string out(80, ' ');
    std::memcpy(out.data(), header, std::strlen(header));
    meshtest::Put(out, uint32_t(triangles.size()));
    for (const auto& t : triangles)
    {
        for (int k = 0; k < 3; ++k)
            meshtest::Put(out, 0.0f);
        for (float v : t)
            meshtest::Put(out, v);
        meshtest::Put(out, uint16_t(0));
    }
    return out;
}

CMeshData Decode(const std::string& bytes, std::vector<CMeshData>& meshes)
{
    return meshtest::DecodeOne(&DecodeStl, bytes, "part", &meshes);
}

std::string DecodeError(const std::string& bytes)
{
    return meshtest::DecodeFailure(&DecodeStl, bytes);
}
} // namespace

TEST(StlFormat, AsciiSolidsBecomeObjectsWithWeldedCorners)
{
    // Two solids: a named tetrahedron (4 facets, 4 distinct corners) and an unnamed quad in
    // two facets sharing an edge, written with odd spacing and mixed case.
    const std::string text =
        "solid tetra\n"
        " facet normal 0 0 0\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n   vertex 0 1 0\n"
        "  endloop\n endfacet\n"
        " facet normal 0 0 0\n  outer loop\n   vertex 0 0 0\n   vertex 0 0 1\n   vertex 1 0 0\n"
        "  endloop\n endfacet\n"
        " FACET NORMAL 0 0 0\r\n  OUTER LOOP\r\n   VERTEX 0 0 0\r\n   VERTEX 0 1 0\r\n"
        "   VERTEX 0 0 1\r\n  ENDLOOP\r\n ENDFACET\r\n"
        "facet normal 1 1 1 outer loop vertex 1 0 0 vertex 0 0 1 vertex 0 1 0 endloop endfacet\n"
        "endsolid tetra\n"
        "solid\n"
        "facet normal 0 0 1\nouter loop\nvertex -0 0 5\nvertex 1 0 5\nvertex 1 1 5\nendloop\nendfacet\n"
        "facet normal 0 0 1\nouter loop\nvertex 0 0 5\nvertex 1 1 5\nvertex 0 1 5e0\nendloop\nendfacet\n"
        "endsolid\n";
    std::vector<CMeshData> meshes;
    Decode(text, meshes);
    ASSERT_EQ(meshes.size(), 2u);
    EXPECT_EQ(meshes[0].m_Name, "tetra");
    EXPECT_EQ(meshes[1].m_Name, "part");
    EXPECT_EQ(meshes[0].GetFaceNbr(), 4u);
    EXPECT_EQ(meshes[0].GetPointNbr(), 4u);
    EXPECT_EQ(meshes[1].GetFaceNbr(), 2u);
    EXPECT_EQ(meshes[1].GetPointNbr(), 4u) << "-0 and 0 are the same position";
    // The third facet, written in capitals, still names the corners the first facets met.
    const auto faces = meshtest::FacePositions(meshes[0]);
    EXPECT_EQ(faces[2][1], (std::array<float, 3>{0, 1, 0}));
    EXPECT_EQ(faces[2][2], (std::array<float, 3>{0, 0, 1}));
}

TEST(StlFormat, BinaryIsRecognisedBySizeEvenWithASolidHeader)
{
    const std::vector<std::array<float, 9>> triangles = {
        {0, 0, 0, 1, 0, 0, 0, 1, 0}, {1, 0, 0, 1, 1, 0, 0, 1, 0}, {0, 0, 0, -0.0f, 1, 0, 0, 0, 1}};
    for (const char* header : {"solid but binary", "made by some tool"})
    {
        std::vector<CMeshData> meshes;
        const CMeshData mesh = Decode(BinaryStl(triangles, header), meshes);
        ASSERT_EQ(meshes.size(), 1u) << header;
        EXPECT_EQ(mesh.m_Name, "part");
        EXPECT_EQ(mesh.GetFaceNbr(), 3u);
        EXPECT_EQ(mesh.GetPointNbr(), 5u);
        const auto faces = meshtest::FacePositions(mesh);
        for (size_t t = 0; t < triangles.size(); ++t)
            for (int k = 0; k < 3; ++k)
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(faces[t][size_t(k)][size_t(c)], triangles[t][size_t(k * 3 + c)]);
    }
}

TEST(StlFormat, RoundTripsWeldExactlyLikeAReference)
{
    // Triangles drawn from a small pool of positions, so that many corners coincide; the
    // welded point count must equal the distinct positions a plain map finds.
    std::mt19937 random(7);
    std::vector<std::array<float, 3>> pool;
    std::uniform_real_distribution<float> coordinate(-100, 100);
    for (int i = 0; i < 300; ++i)
        pool.push_back({coordinate(random), coordinate(random), coordinate(random)});
    CMeshData source;
    source.m_Name = "soup";
    for (int t = 0; t < 2000; ++t)
        for (int k = 0; k < 3; ++k)
        {
            const auto& p = pool[random() % pool.size()];
            source.m_Positions.insert(source.m_Positions.end(), p.begin(), p.end());
            source.m_Indices.push_back(int(source.GetPointNbr()) - 1);
        }
    const size_t distinct = meshtest::DistinctCornerPositions(source);
    for (bool ascii : {false, true})
    {
        std::string bytes, error;
        ASSERT_TRUE(EncodeStl({source}, ascii, bytes, error)) << error;
        std::vector<CMeshData> meshes;
        const CMeshData decoded = Decode(bytes, meshes);
        EXPECT_EQ(decoded.GetPointNbr(), distinct) << "ascii " << ascii;
        EXPECT_EQ(meshtest::FacePositions(decoded), meshtest::FacePositions(source))
            << "ascii " << ascii;
        if (ascii)
        {
            EXPECT_EQ(decoded.m_Name, "soup");
        }
    }
}

TEST(StlFormat, WriterFansPolygonsAndComputesUnitNormals)
{
    const CMeshData grid = meshtest::MakeGridMesh(5, 4, 3, false);
    std::string bytes, error;
    ASSERT_TRUE(EncodeStl({grid}, false, bytes, error)) << error;
    size_t triangles = 0;
    for (unsigned n : grid.m_Counts)
        triangles += n - 2;
    ASSERT_EQ(bytes.size(), 84 + 50 * triangles);
    // Every stored normal is unit length and perpendicular to its triangle's edges.
    for (size_t t = 0; t < triangles; ++t)
    {
        float v[12];
        std::memcpy(v, bytes.data() + 84 + 50 * t, sizeof v);
        const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        EXPECT_NEAR(length, 1.0, 1e-5);
        for (int e = 1; e <= 2; ++e)
        {
            double dot = 0;
            for (int c = 0; c < 3; ++c)
                dot += double(v[c]) * (v[3 + e * 3 + c] - v[3 + c]);
            EXPECT_NEAR(dot, 0.0, 1e-4);
        }
    }
    std::vector<CMeshData> meshes;
    EXPECT_EQ(Decode(bytes, meshes).GetPointNbr(), grid.GetPointNbr());
}

TEST(StlFormat, BadInputIsRefusedWithAReason)
{
    const std::string good = BinaryStl({{0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 1, 1, 0, 1, 0, 1, 1}}, "x");
    EXPECT_NE(DecodeError("").find("empty"), std::string::npos);
    EXPECT_NE(DecodeError("\x01\x02garbage").find("too short"), std::string::npos);
    // Truncated binary: every shorter length fails and says what the header promised.
    for (size_t size = 84; size < good.size(); ++size)
        EXPECT_NE(DecodeError(good.substr(0, size)).find("declares 2 triangles"), std::string::npos);
    std::string huge = good;
    const uint32_t count = 0x7FFFFFFF;
    std::memcpy(huge.data() + 80, &count, 4);
    EXPECT_NE(DecodeError(huge).find("2147483647"), std::string::npos);
    std::string nan = good;
    const float notANumber = std::nanf("");
    std::memcpy(nan.data() + 84 + 50 + 20, &notANumber, 4);
    EXPECT_NE(DecodeError(nan).find("triangle 1"), std::string::npos);

    EXPECT_NE(DecodeError("solid a\nfacet normal 0 0 1\nouter loop\nvertex 1 2\nendloop\n")
                  .find("line 4"),
              std::string::npos);
    EXPECT_NE(DecodeError("solid a\nfacet normal 0 0 1\nouter loop\nvertex 1 2 nan\n").find("finite"),
              std::string::npos);
    EXPECT_NE(DecodeError("solid a\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\n").find("end of file"),
              std::string::npos);
    EXPECT_NE(DecodeError("solid a\nfacet normal 0 0 1\nouter\nvertex 0 0 0\n").find("'loop'"),
              std::string::npos);
    EXPECT_NE(DecodeError("solid a\nendsolid a\npyramid\n").find("line 3"), std::string::npos);
}

TEST(StlFormat, PluginReadsAndWritesThroughTheSceneFrontEnd)
{
    meshtest::LoadBuiltPlugins();
    zantest::CTempDir dir;
    const std::string text = "solid first\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                             "vertex 0 1 0\nendloop\nendfacet\nendsolid\nsolid second\n"
                             "facet normal 0 0 1\nouter loop\nvertex 0 0 2\nvertex 1 0 2\n"
                             "vertex 0 1 2\nendloop\nendfacet\nendsolid\n";
    ASSERT_TRUE(zantest::WriteFileText(dir.File("two.stl"), text));
    C3DIo reader(CFileNameSpec(dir.File("two.stl").c_str()), _FileParserRead | _FileParserSilent);
    meshtest::ScenePtr scene(reader.Read(false));
    ASSERT_TRUE(scene) << reader.GetIoError();
    EXPECT_EQ(scene->GetPointNbr(), 6);
    EXPECT_EQ(scene->GetFaceNbr(), 2);
    const auto nodes = meshtest::Summarize(*scene);
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[0].m_Name, "first");
    EXPECT_EQ(nodes[1].m_Name, "second");

    // Saved as binary STL (the default), both solids land in one object of 6 points.
    C3DIo writer(CFileNameSpec(dir.File("out.stl").c_str()), _FileParserSilent);
    ASSERT_TRUE(writer.Save(false, scene.get())) << writer.GetIoError();
    EXPECT_EQ(zantest::ReadFileBytes(dir.File("out.stl")).size(), 84u + 2 * 50);
    C3DIo again(CFileNameSpec(dir.File("out.stl").c_str()), _FileParserRead | _FileParserSilent);
    meshtest::ScenePtr back(again.Read(false));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->GetPointNbr(), 6);
    EXPECT_EQ(back->GetFaceNbr(), 2);

    // A malformed file fails with the format's result and a readable line in the log.
    ASSERT_TRUE(zantest::WriteFileText(dir.File("bad.stl"), "solid x\nfacet normal 0 0 1\nouter lop\n"));
    C3DIo bad(CFileNameSpec(dir.File("bad.stl").c_str()), _FileParserRead | _FileParserSilent);
    CSceneImportOptions options;
    EXPECT_EQ(bad.Read(false, &options), nullptr);
    EXPECT_EQ(bad.GetIoError(), _IoResultBadFormat);
    EXPECT_NE(std::string(options.GetLogText().c_str()).find("line 3"), std::string::npos);

    // A host that answers "stop" makes the read fail as cancelled.
    void* previousData = nullptr;
    ProgressHandler previous = progressSetCallback(&StopAlways, nullptr, &previousData);
    C3DIo stopped(CFileNameSpec(dir.File("out.stl").c_str()), _FileParserRead | _FileParserSilent);
    EXPECT_EQ(stopped.Read(false), nullptr);
    progressSetCallback(previous, previousData);
    EXPECT_EQ(stopped.GetIoError(), _IoResultCancelled);
}
