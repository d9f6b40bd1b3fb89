// PLY reading and writing: files written here in every encoding, with various count and index
// types, unknown elements and properties in the way; round trips through our writer; bad
// input; and the plug-in loaded through the scene front end, with its channels.
#include "mesh_test_helpers.h"
#include "plyformat.h"

#include "common/zan_test_helpers.h"

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/scene/geomobject.h>

#include <cmath>
#include <cstring>

using meshtest::CMeshData;
using zanply::DecodePly;
using zanply::EncodePly;

namespace
{
struct CLayout
{
    const char* m_Format;    // ascii, binary_little_endian, binary_big_endian
    const char* m_CountType; // of the face list
    const char* m_IndexType;
    bool m_FloatColors;
    const char* m_U; // texture coordinate names
    const char* m_V;
};

// One value of the PLY type \p type, as text or bytes.
void PutValue(std::string& out, const CLayout& layout, const std::string& type, double value)
{
    const std::string format = layout.m_Format;
    if (format == "ascii")
    {
        char text[64];
        std::snprintf(text, sizeof text, "%.9g ", value);
        out += text;
        return;
    }
    const bool big = format == "binary_big_endian";
    if (type == "uchar")
        meshtest::Put(out, uint8_t(value), big);
    else if (type == "ushort")
        meshtest::Put(out, uint16_t(value), big);
    else if (type == "int")
        meshtest::Put(out, int32_t(value), big);
    else if (type == "uint")
        meshtest::Put(out, uint32_t(value), big);
    else if (type == "float")
        meshtest::Put(out, float(value), big);
    else if (type == "double")
        meshtest::Put(out, value, big);
    else
        ADD_FAILURE() << "type " << type;
}

void EndRecord(std::string& out, const CLayout& layout)
{
    if (std::string(layout.m_Format) == "ascii")
        out.back() = '\n';
}

// A PLY file of \p mesh (with its extras) in \p layout, with an unknown vertex property, an
// unknown element between vertices and faces, an unknown face property and an unknown
// element at the end.
std::string WritePly(const CMeshData& mesh, const CLayout& layout)
{
    const std::string colorType = layout.m_FloatColors ? "float" : "uchar";
    std::string out = "ply\nformat " + std::string(layout.m_Format) +
                      " 1.0\ncomment made by hand\nobj_info scanner 12\nelement vertex " +
                      std::to_string(mesh.GetPointNbr()) +
                      "\nproperty float x\nproperty double confidence\nproperty float y\n"
                      "property float z\nproperty float nx\nproperty float ny\nproperty float nz\n"
                      "property float " + layout.m_U + "\nproperty float " + layout.m_V +
                      "\nproperty " + colorType + " red\nproperty " + colorType +
                      " green\nproperty " + colorType + " blue\nproperty " + colorType +
                      " alpha\nelement material 2\nproperty uchar id\n"
                      "property list uchar float weights\nelement face " +
                      std::to_string(mesh.GetFaceNbr()) + "\nproperty uchar flags\nproperty list " +
                      layout.m_CountType + " " + layout.m_IndexType +
                      " vertex_indices\nelement edge 1\nproperty int vertex1\nproperty int vertex2\n"
                      "end_header\n";
    for (size_t v = 0; v < mesh.GetPointNbr(); ++v)
    {
        PutValue(out, layout, "float", mesh.m_Positions[v * 3]);
        PutValue(out, layout, "double", 0.25 * double(v));
        PutValue(out, layout, "float", mesh.m_Positions[v * 3 + 1]);
        PutValue(out, layout, "float", mesh.m_Positions[v * 3 + 2]);
        for (int k = 0; k < 3; ++k)
            PutValue(out, layout, "float", mesh.m_Normals[v * 3 + size_t(k)]);
        for (int k = 0; k < 2; ++k)
            PutValue(out, layout, "float", mesh.m_UVs[v * 2 + size_t(k)]);
        for (int k = 0; k < 4; ++k)
        {
            const double byte = mesh.m_Colors[v * 4 + size_t(k)];
            PutValue(out, layout, colorType, layout.m_FloatColors ? byte / 255.0 : byte);
        }
        EndRecord(out, layout);
    }
    for (int m = 0; m < 2; ++m)
    {
        PutValue(out, layout, "uchar", m);
        PutValue(out, layout, "uchar", 3 + m);
        for (int k = 0; k < 3 + m; ++k)
            PutValue(out, layout, "float", 0.5 * k);
        EndRecord(out, layout);
    }
    size_t at = 0;
    for (size_t f = 0; f < mesh.GetFaceNbr(); ++f)
    {
        const unsigned n = mesh.m_Counts[f];
        PutValue(out, layout, "uchar", double(f % 200));
        PutValue(out, layout, layout.m_CountType, n);
        for (unsigned k = 0; k < n; ++k)
            PutValue(out, layout, layout.m_IndexType, mesh.m_Indices[at + k]);
        at += n;
        EndRecord(out, layout);
    }
    PutValue(out, layout, "int", 0);
    PutValue(out, layout, "int", 1);
    EndRecord(out, layout);
    return out;
}

CMeshData Decode(const std::string& bytes)
{
    return meshtest::DecodeOne(&DecodePly, bytes, "scan");
}

std::string DecodeError(const std::string& bytes)
{
    return meshtest::DecodeFailure(&DecodePly, bytes);
}

const std::string kTriangleHeader = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                                    "property float y\nproperty float z\nelement face 1\n"
                                    "property list uchar int vertex_indices\nend_header\n";
} // namespace

TEST(PlyFormat, EveryEncodingAndLayoutDecodesTheSameMesh)
{
    const CMeshData source = meshtest::MakeGridMesh(6, 5, 11, true);
    const CLayout layouts[] = {
        {"ascii", "uchar", "int", false, "s", "t"},
        {"binary_little_endian", "uchar", "int", false, "u", "v"},
        {"binary_big_endian", "int", "uint", false, "texture_u", "texture_v"},
        {"binary_little_endian", "ushort", "uint", true, "s", "t"},
        {"binary_big_endian", "uchar", "int", true, "texture_s", "texture_t"},
        {"ascii", "int", "uint", true, "u", "v"},
    };
    for (const CLayout& layout : layouts)
    {
        SCOPED_TRACE(std::string(layout.m_Format) + " list " + layout.m_CountType + " " +
                     layout.m_IndexType);
        const CMeshData decoded = Decode(WritePly(source, layout));
        EXPECT_EQ(decoded.m_Name, "scan");
        meshtest::ExpectSameMesh(source, decoded, true);
    }
}

TEST(PlyFormat, OurWriterRoundTripsGeometryAndPerPointValues)
{
    for (bool extras : {true, false})
        for (bool ascii : {false, true})
        {
            SCOPED_TRACE(std::string(ascii ? "ascii" : "binary") + (extras ? " extras" : ""));
            const CMeshData source = meshtest::MakeGridMesh(9, 7, 5 + extras, extras);
            std::string bytes;
            EncodePly(source, ascii, bytes);
            EXPECT_EQ(bytes.find(ascii ? "format ascii" : "format binary_little_endian"), 4u);
            meshtest::ExpectSameMesh(source, Decode(bytes), extras);
        }
    // Faces of more than 255 corners need a wider count type; the writer picks one.
    CMeshData wide;
    for (int i = 0; i < 300; ++i)
    {
        const float angle = float(i) * 0.02f;
        wide.m_Positions.insert(wide.m_Positions.end(), {std::cos(angle), std::sin(angle), 0});
        wide.m_Indices.push_back(i);
    }
    wide.m_Counts = {300};
    std::string bytes;
    EncodePly(wide, false, bytes);
    meshtest::ExpectSameMesh(wide, Decode(bytes), false);
}

TEST(PlyFormat, BadInputIsRefusedWithAReason)
{
    EXPECT_NE(DecodeError("").find("empty"), std::string::npos);
    EXPECT_NE(DecodeError("PK\x03\x04 some zip").find("not a PLY"), std::string::npos);
    EXPECT_NE(DecodeError("ply\nformat ascii 1.0\nelement vertex 1\n").find("end_header"),
              std::string::npos);
    EXPECT_NE(DecodeError("ply\nformat ascii 1.0\nelement vertex 1\nproperty quad x\nend_header\n")
                  .find("line 4"),
              std::string::npos);
    EXPECT_NE(DecodeError("ply\nelement vertex 0\nproperty float x\nend_header\n").find("format"),
              std::string::npos);
    EXPECT_NE(DecodeError("ply\nformat ascii 1.0\nelement face 0\nend_header\n").find("vertex"),
              std::string::npos);
    // Counts far beyond what the bytes can hold are refused before any allocation.
    EXPECT_NE(DecodeError("ply\nformat binary_little_endian 1.0\nelement vertex 400000000\n"
                          "property float x\nproperty float y\nproperty float z\nend_header\n"
                          "\x01\x02\x03")
                  .find("bytes left"),
              std::string::npos);
    EXPECT_NE(DecodeError("ply\nformat ascii 1.0\nelement vertex 99999999\nproperty float x\n"
                          "property float y\nproperty float z\nend_header\n0 0 0\n")
                  .find("99999999 records"),
              std::string::npos);
    // An element without properties holds nothing, whatever count it declares: it is passed
    // over at once, in ASCII as in binary.
    for (const char* format : {"ascii", "binary_little_endian"})
    {
        std::vector<CMeshData> meshes;
        std::string error;
        const std::string header = std::string("ply\nformat ") + format +
                                   " 1.0\nelement vertex 0\nproperty float x\nproperty float y\n"
                                   "property float z\nelement blank 4000000000000000000\n"
                                   "end_header\n";
        EXPECT_TRUE(DecodePly(header.data(), header.size(), "t", meshes, error)) << error;
    }
    // Indices outside the vertices, negative ones included, name the face and the index.
    EXPECT_NE(DecodeError(kTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n3 0 1 9\n")
                  .find("face 0: vertex index 9 is outside the 3 vertices"),
              std::string::npos);
    EXPECT_NE(DecodeError(kTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n3 0 -1 2\n").find("index -1"),
              std::string::npos);
    EXPECT_NE(DecodeError(kTriangleHeader + "0 0 0\n1 0 zero\n0 1 0\n3 0 1 2\n").find("line 11"),
              std::string::npos);
    EXPECT_NE(DecodeError(kTriangleHeader + "0 0 0\n1 0 nan\n0 1 0\n3 0 1 2\n").find("finite"),
              std::string::npos);

    // Every truncation of a binary file fails (none reads past the end; ASan watches).
    CMeshData grid = meshtest::MakeGridMesh(4, 3, 2, true);
    std::string bytes;
    EncodePly(grid, false, bytes);
    const size_t body = bytes.find("end_header\n") + 11;
    for (size_t size = 0; size < bytes.size(); ++size)
    {
        std::vector<CMeshData> meshes;
        std::string error;
        EXPECT_FALSE(DecodePly(bytes.data(), size, "t", meshes, error)) << size;
        EXPECT_FALSE(error.empty());
        if (size > body)
        {
            EXPECT_NE(error.find("byte "), std::string::npos) << error;
        }
    }
    // A face list count larger than the rest of the file.
    std::string big = "ply\nformat binary_big_endian 1.0\nelement vertex 3\nproperty float x\n"
                      "property float y\nproperty float z\nelement face 1\n"
                      "property list int int vertex_indices\nend_header\n";
    for (int i = 0; i < 9; ++i)
        meshtest::Put(big, 0.0f, true);
    meshtest::Put(big, int32_t(0x7FFFFFF0), true);
    meshtest::Put(big, int32_t(0), true);
    EXPECT_NE(DecodeError(big).find("past the end"), std::string::npos);
}

TEST(PlyFormat, PluginReadsChannelsAndWritesThemBack)
{
    meshtest::LoadBuiltPlugins();
    zantest::CTempDir dir;
    const CMeshData source = meshtest::MakeGridMesh(5, 4, 21, true);
    const CLayout layout = {"binary_little_endian", "uchar", "int", false, "s", "t"};
    ASSERT_TRUE(zantest::WriteFileText(dir.File("grid.ply"), WritePly(source, layout)));

    C3DIo reader(CFileNameSpec(dir.File("grid.ply").c_str()), _FileParserRead | _FileParserSilent);
    meshtest::ScenePtr scene(reader.Read(false));
    ASSERT_TRUE(scene) << reader.GetIoError();
    EXPECT_EQ(scene->GetPointNbr(), int(source.GetPointNbr()));
    EXPECT_EQ(scene->GetFaceNbr(), int(source.GetFaceNbr()));
    const auto nodes = meshtest::Summarize(*scene);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0].m_Name, "grid");
    CMaterialHashMap used;
    EXPECT_EQ(scene->GetMaterials(nullptr, used), 1);

    C3DNodePos pos = scene->GetFirstNode(_ObjectKindPolygonal);
    C3DGeomObject* object = nullptr;
    scene->GetNextNode(object, pos);
    ASSERT_TRUE(object);
    auto* uv = static_cast<CUVWChannel*>(object->GetChannelByIndex(0, _ChannelUVW));
    auto* vc = static_cast<CVCChannel*>(object->GetChannelByIndex(0, _ChannelVC));
    ASSERT_TRUE(uv && vc);
    ASSERT_TRUE(object->GetChannelByIndex(0, _ChannelSpecNormal));
    // Each face corner finds the values of the point it names.
    const C3DFaceList& faces = *object->GetFaceList();
    const C3DPointList& points = *object->GetPointList();
    faces.ForEachFace(
        [&](unsigned f, const int* corners, unsigned n)
        {
            int m = 0;
            const int* uvCorners = uv->GetFaceList()->GetIndexes(f, m);
            ASSERT_EQ(unsigned(m), n);
            for (unsigned k = 0; k < n; ++k)
            {
                const size_t p = size_t(corners[k]);
                EXPECT_EQ(points[int(p)].m_X, source.m_Positions[p * 3]);
                EXPECT_EQ((*uv->GetUVWPointList())[uvCorners[k]].m_U, source.m_UVs[p * 2]);
                EXPECT_EQ((*uv->GetUVWPointList())[uvCorners[k]].m_V, source.m_UVs[p * 2 + 1]);
            }
        });
    EXPECT_EQ((*vc->GetVCPointList())[2].m_Color.m_Green, source.m_Colors[2 * 4 + 1]);

    // Written by the plug-in (binary by default) and read again: same counts and values.
    C3DIo writer(CFileNameSpec(dir.File("copy.ply").c_str()), _FileParserSilent);
    ASSERT_TRUE(writer.Save(false, scene.get())) << writer.GetIoError();
    const std::string copy = zantest::ReadFileText(dir.File("copy.ply"));
    EXPECT_NE(copy.find("format binary_little_endian"), std::string::npos);
    std::vector<CMeshData> meshes;
    std::string error;
    ASSERT_TRUE(DecodePly(copy.data(), copy.size(), "copy", meshes, error)) << error;
    EXPECT_EQ(meshes[0].GetFaceNbr(), source.GetFaceNbr());
    EXPECT_EQ(meshtest::FacePositions(meshes[0]), meshtest::FacePositions(source));
    ASSERT_EQ(meshes[0].m_Colors.size(), meshes[0].GetPointNbr() * 4);
    ASSERT_EQ(meshes[0].m_UVs.size(), meshes[0].GetPointNbr() * 2);

    // The ASCII bit of the export flags gives ASCII.
    CSceneExportOptions options(zanply::kPlyExportAscii);
    C3DIo asciiWriter(CFileNameSpec(dir.File("text.ply").c_str()), _FileParserSilent);
    ASSERT_TRUE(asciiWriter.Save(false, scene.get(), &options)) << asciiWriter.GetIoError();
    EXPECT_NE(zantest::ReadFileText(dir.File("text.ply")).find("format ascii"), std::string::npos);
}
