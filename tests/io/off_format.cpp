// OFF reading and writing: the header variants, comments and face colours, round trips
// through our writer, bad input, and the plug-in loaded through the scene front end.
#include "mesh_test_helpers.h"
#include "offformat.h"

#include "common/zan_test_helpers.h"

using meshtest::CMeshData;
using zanoff::DecodeOff;
using zanoff::EncodeOff;

namespace
{
CMeshData Decode(const std::string& bytes)
{
    return meshtest::DecodeOne(&DecodeOff, bytes, "model");
}

std::string DecodeError(const std::string& bytes)
{
    return meshtest::DecodeFailure(&DecodeOff, bytes);
}
} // namespace

TEST(OffFormat, VariantsCommentsAndFaceColours)
{
    // Counts on the keyword's line, comments everywhere, a face colour after the indices, a
    // segment (2 corners) and a point (1 corner) that are not faces.
    const CMeshData plain = Decode("# a square and a triangle\nOFF 5 4 0\n\n0 0 0\n1 0 0 # corner\n"
                                   "1 1 0\n0 1 0\n2 2 2\n4 0 1 2 3 255 0 0\n3 1 4 2\n2 0 4\n1 3\n");
    EXPECT_EQ(plain.m_Name, "model");
    EXPECT_EQ(plain.GetPointNbr(), 5u);
    EXPECT_EQ(plain.GetFaceNbr(), 2u);
    EXPECT_EQ(plain.m_Indices, (std::vector<int>{0, 1, 2, 3, 1, 4, 2}));
    EXPECT_EQ(plain.m_Counts, (std::vector<unsigned>{4, 3}));
    EXPECT_TRUE(plain.m_Colors.empty() && plain.m_Normals.empty() && plain.m_UVs.empty());

    // COFF with byte colours (alpha given or not) and with real colours.
    const CMeshData bytes = Decode("COFF\n3 1 0\n0 0 0 255 128 0 255\n1 0 0 10 20 30\n"
                                   "0 1 0 0 0 0 7\n3 0 1 2\n");
    EXPECT_EQ(bytes.m_Colors, (std::vector<uint8_t>{255, 128, 0, 255, 10, 20, 30, 255, 0, 0, 0, 7}));
    const CMeshData reals = Decode("COFF\n3 1 0\n0 0 0 1.0 0.5 0.0 1.0\n1 0 0 0.2 0.4 0.6\n"
                                   "0 1 0 0 0 1e0 0.5\n3 0 1 2\n");
    EXPECT_EQ(reals.m_Colors,
              (std::vector<uint8_t>{255, 128, 0, 255, 51, 102, 153, 255, 0, 0, 255, 128}));

    // NOFF normals, STOFF texture coordinates, and all three in STCNOFF order.
    EXPECT_EQ(Decode("NOFF\n3 1 0\n0 0 0 0 0 1\n1 0 0 0 1 0\n0 1 0 1 0 0\n3 0 1 2\n").m_Normals,
              (std::vector<float>{0, 0, 1, 0, 1, 0, 1, 0, 0}));
    EXPECT_EQ(Decode("STOFF\n3 1 0\n0 0 0 0 0\n1 0 0 1 0\n0 1 0 0 1\n3 0 1 2\n").m_UVs,
              (std::vector<float>{0, 0, 1, 0, 0, 1}));
    const CMeshData all = Decode("STCNOFF\n1 0 0\n1 2 3 0 0 1 9 8 7 6 0.25 0.75\n");
    EXPECT_EQ(all.m_Positions, (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(all.m_Normals, (std::vector<float>{0, 0, 1}));
    EXPECT_EQ(all.m_Colors, (std::vector<uint8_t>{9, 8, 7, 6}));
    EXPECT_EQ(all.m_UVs, (std::vector<float>{0.25f, 0.75f}));
}

TEST(OffFormat, OurWriterRoundTrips)
{
    const CMeshData source = meshtest::MakeGridMesh(8, 6, 4, false);
    std::string text;
    EncodeOff(source, text);
    EXPECT_EQ(text.rfind("OFF\n", 0), 0u);
    meshtest::ExpectSameMesh(source, Decode(text), false);
}

TEST(OffFormat, BadInputIsRefusedWithAReason)
{
    EXPECT_NE(DecodeError("").find("empty"), std::string::npos);
    EXPECT_NE(DecodeError("# nothing\n\n").find("no header"), std::string::npos);
    EXPECT_NE(DecodeError("PLY\n3 1 0\n").find("not an OFF"), std::string::npos);
    EXPECT_NE(DecodeError("5OFF\n1 0 0\n0 0 0 0\n").find("not supported"), std::string::npos);
    EXPECT_NE(DecodeError("4OFF\n1 0 0\n1 2 3 0\n").find("infinity"), std::string::npos);
    EXPECT_NE(DecodeError("nOFF\n0\n1 0 0\n1\n").find("dimension"), std::string::npos);
    EXPECT_NE(DecodeError("nOFF 99 1 0 0\n1\n").find("dimension"), std::string::npos);
    EXPECT_NE(DecodeError("NnOFF 2 1 0 0\n1 2 0 0 1\n").find("3 dimensions"), std::string::npos);
    EXPECT_NE(DecodeError("nOFF 2\n1\n").find("counts"), std::string::npos);
    EXPECT_NE(DecodeError("OFF\n").find("counts"), std::string::npos);
    EXPECT_NE(DecodeError("OFF\n3 x 0\n").find("line 2"), std::string::npos);
    EXPECT_NE(DecodeError("OFF\n-3 1 0\n").find("0 or more"), std::string::npos);
    EXPECT_NE(DecodeError("OFF\n2000000000 2000000000 0\n0 0 0\n").find("bytes left"),
              std::string::npos);
    EXPECT_NE(DecodeError("OFF\n3 1 0\n0 0 0\n1 0 0\n# padding padding\n").find("2 of the 3 vertices"),
              std::string::npos);
    EXPECT_NE(DecodeError("OFF\n3 1 0\n0 0 0\n1 0\n0 1 0\n3 0 1 2\n").find("line 4"),
              std::string::npos);
    EXPECT_NE(DecodeError("OFF\n3 1 0\n0 0 0\n1 0 inf\n0 1 0\n3 0 1 2\n").find("finite"),
              std::string::npos);
    EXPECT_NE(DecodeError("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 8\n")
                  .find("line 6: face 0: vertex index 8 is outside the 3 vertices"),
              std::string::npos);
    EXPECT_NE(DecodeError("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 -1 2\n").find("index -1"),
              std::string::npos);
    EXPECT_NE(DecodeError("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n4 0 1 2\n").find("names 4 corners"),
              std::string::npos);
    EXPECT_NE(DecodeError("OFF\n3 2 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n").find("1 of the 2 faces"),
              std::string::npos);
    EXPECT_NE(DecodeError("COFF\n1 0 0\n0 0 0 1 2\n").find("COFF"), std::string::npos);
}

TEST(OffFormat, PluginReadsAndWritesThroughTheSceneFrontEnd)
{
    meshtest::LoadBuiltPlugins();
    zantest::CTempDir dir;
    const CMeshData source = meshtest::MakeGridMesh(4, 4, 8, false);
    std::string text;
    EncodeOff(source, text);
    ASSERT_TRUE(zantest::WriteFileText(dir.File("tile.off"), text));
    C3DIo reader(CFileNameSpec(dir.File("tile.off").c_str()), _FileParserRead | _FileParserSilent);
    meshtest::ScenePtr scene(reader.Read(false));
    ASSERT_TRUE(scene) << reader.GetIoError();
    EXPECT_EQ(scene->GetPointNbr(), int(source.GetPointNbr()));
    EXPECT_EQ(scene->GetFaceNbr(), int(source.GetFaceNbr()));
    const auto nodes = meshtest::Summarize(*scene);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0].m_Name, "tile");

    C3DIo writer(CFileNameSpec(dir.File("copy.off").c_str()), _FileParserSilent);
    ASSERT_TRUE(writer.Save(false, scene.get())) << writer.GetIoError();
    const CMeshData copy = Decode(zantest::ReadFileText(dir.File("copy.off")));
    EXPECT_EQ(meshtest::FacePositions(copy), meshtest::FacePositions(source));
}

// Homogeneous and n-dimensional vertices: w divides the coordinates, the first three
// coordinates place the point and the others are dropped or taken as 0.
TEST(OffFormat, HomogeneousAndDimensionedVertices)
{
    const CMeshData homogeneous = Decode("4OFF 3 1 0\n2 4 6 2\n1 0 0 0.5\n0 3 0 1\n3 0 1 2\n");
    EXPECT_EQ(homogeneous.m_Positions, (std::vector<float>{1, 2, 3, 2, 0, 0, 0, 3, 0}));
    const CMeshData planar = Decode("nOFF\n2\n3 1 0\n0 0\n1 0\n0 1\n3 0 1 2\n");
    EXPECT_EQ(planar.m_Positions, (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0}));
    const CMeshData four = Decode("4nOFF 5 3 1 0\n1 2 3 4 5 2\n2 2 2 2 2 1\n0 0 1 0 0 1\n3 0 1 2\n");
    EXPECT_EQ(four.m_Positions, (std::vector<float>{0.5f, 1, 1.5f, 2, 2, 2, 0, 0, 1}));
    EXPECT_EQ(four.m_Counts, (std::vector<unsigned>{3}));
}
