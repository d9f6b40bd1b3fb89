// Helpers of the STL, PLY and OFF tests: meshes made from a seed, comparisons of decoded
// meshes with a slow independent reference, and access to what a read scene holds.
#pragma once

#include "meshscene.h"

#include <3dzan/foundation/fileio.h>
#include <3dzan/io/io3d.h>
#include <3dzan/scene/scene.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace meshtest
{
using zanplugin::CMeshData;

/// A grid of \p columns × \p rows points (z from a seeded generator), made of quadrangles,
/// triangles and, every seventh cell, a pentagon with a middle point on its lower side.
/// With \p extras, every point gets a normal, a texture coordinate and an RGBA colour.
inline CMeshData MakeGridMesh(int columns, int rows, unsigned seed, bool extras)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> height(-2.0f, 2.0f);
    CMeshData mesh;
    mesh.m_Name = "grid";
    auto addPoint = [&](float x, float y)
    {
        mesh.m_Positions.insert(mesh.m_Positions.end(), {x * 0.37f, y * 1.13f, height(random)});
        if (extras)
        {
            mesh.m_Normals.insert(mesh.m_Normals.end(), {0.0f, 0.6f, 0.8f});
            mesh.m_UVs.insert(mesh.m_UVs.end(), {x / float(columns), 1.0f - y / float(rows)});
            for (int k = 0; k < 4; ++k)
                mesh.m_Colors.push_back(uint8_t(random() & 0xFF));
        }
        return int(mesh.GetPointNbr()) - 1;
    };
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            addPoint(float(x), float(y));
    auto at = [&](int x, int y) { return y * columns + x; };
    for (int y = 0; y + 1 < rows; ++y)
        for (int x = 0; x + 1 < columns; ++x)
        {
            const int a = at(x, y), b = at(x + 1, y), c = at(x + 1, y + 1), d = at(x, y + 1);
            const int cell = y * columns + x;
            if (cell % 7 == 3)
            {
                const int middle = addPoint(float(x) + 0.5f, float(y));
                mesh.m_Indices.insert(mesh.m_Indices.end(), {a, middle, b, c, d});
                mesh.m_Counts.push_back(5);
            }
            else if (cell % 2 == 0)
            {
                mesh.m_Indices.insert(mesh.m_Indices.end(), {a, b, c, d});
                mesh.m_Counts.push_back(4);
            }
            else
            {
                mesh.m_Indices.insert(mesh.m_Indices.end(), {a, b, c, a, c, d});
                mesh.m_Counts.insert(mesh.m_Counts.end(), {3, 3});
            }
        }
    return mesh;
}

/// The faces of \p mesh as lists of corner positions, whatever the point order.
inline std::vector<std::vector<std::array<float, 3>>> FacePositions(const CMeshData& mesh)
{
    std::vector<std::vector<std::array<float, 3>>> faces;
    size_t at = 0;
    for (size_t f = 0; f < mesh.GetFaceNbr(); ++f)
    {
        const unsigned n = mesh.m_Counts.empty() ? 3 : mesh.m_Counts[f];
        std::vector<std::array<float, 3>> face;
        for (unsigned k = 0; k < n; ++k)
        {
            const size_t p = size_t(mesh.m_Indices[at + k]) * 3;
            face.push_back({mesh.m_Positions[p], mesh.m_Positions[p + 1], mesh.m_Positions[p + 2]});
        }
        at += n;
        faces.push_back(face);
    }
    return faces;
}

/// The number of distinct positions among the corners of \p mesh (slow reference).
inline size_t DistinctCornerPositions(const CMeshData& mesh)
{
    std::map<std::array<float, 3>, int> seen;
    for (const auto& face : FacePositions(mesh))
        for (const auto& p : face)
            seen[{p[0] + 0.0f, p[1] + 0.0f, p[2] + 0.0f}] = 1;
    return seen.size();
}

/// Expects \p decoded to hold the same points, faces and per-point values as \p source
/// (values that went through text compared at float precision, colours exactly).
inline void ExpectSameMesh(const CMeshData& source, const CMeshData& decoded, bool extras)
{
    ASSERT_EQ(decoded.GetPointNbr(), source.GetPointNbr());
    ASSERT_EQ(decoded.GetFaceNbr(), source.GetFaceNbr());
    EXPECT_EQ(decoded.m_Positions, source.m_Positions);
    EXPECT_EQ(decoded.m_Indices, source.m_Indices);
    for (size_t f = 0; f < source.GetFaceNbr(); ++f)
    {
        const unsigned a = source.m_Counts.empty() ? 3 : source.m_Counts[f];
        const unsigned b = decoded.m_Counts.empty() ? 3 : decoded.m_Counts[f];
        ASSERT_EQ(a, b) << "face " << f;
    }
    if (!extras)
        return;
    EXPECT_EQ(decoded.m_Normals, source.m_Normals);
    EXPECT_EQ(decoded.m_UVs, source.m_UVs);
    EXPECT_EQ(decoded.m_Colors, source.m_Colors);
}

/// Little-endian or big-endian bytes of \p value appended to \p out.
template <class T> void Put(std::string& out, T value, bool bigEndian = false)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    if (bigEndian)
        std::reverse(bytes, bytes + sizeof(T));
    out.append(bytes, sizeof(T));
}

/// The polygonal nodes of \p scene: name, point count and face count, in walk order.
struct CNodeSummary
{
    std::string m_Name;
    int m_PointNbr;
    int m_FaceNbr;
};
inline std::vector<CNodeSummary> Summarize(const C3DScene& scene)
{
    std::vector<CNodeSummary> nodes;
    C3DNodePos pos = scene.GetFirstNode(_ObjectKindPolygonal);
    C3DGeomObject* object = nullptr;
    while (C3DSceneNode* node = scene.GetNextNode(object, pos))
        if (object)
            nodes.push_back({node->GetName().c_str(), object->GetPointList()->GetSize(),
                             object->GetFaceList()->GetSize()});
    return nodes;
}

/// Loads the format plug-ins from the build's module folder once per process.
inline void LoadBuiltPlugins()
{
    static const int loaded = RegisterIOPlugins(_FileKind3D, ZAN3D_PLUGIN_BUILD_DIR);
    (void)loaded;
}

struct CSceneDrop
{
    void operator()(C3DScene* scene) const
    {
        if (scene)
            scene->Delete();
    }
};
using ScenePtr = std::unique_ptr<C3DScene, CSceneDrop>;
/// The one mesh \p decode reads from \p bytes (named \p name); a failed read fails the test.
inline zanplugin::CMeshData DecodeOne(zanplugin::MeshDecoder decode, const std::string& bytes,
                                      const char* name,
                                      std::vector<zanplugin::CMeshData>* all = nullptr)
{
    std::vector<zanplugin::CMeshData> meshes;
    std::string error;
    EXPECT_TRUE(decode(bytes.data(), bytes.size(), name, meshes, error, nullptr)) << error;
    zanplugin::CMeshData first = meshes.empty() ? zanplugin::CMeshData() : meshes[0];
    if (all)
        *all = std::move(meshes);
    return first;
}

/// The error \p decode gives on \p bytes; a read that succeeds or says nothing fails the test.
inline std::string DecodeFailure(zanplugin::MeshDecoder decode, const std::string& bytes)
{
    std::vector<zanplugin::CMeshData> meshes;
    std::string error;
    EXPECT_FALSE(decode(bytes.data(), bytes.size(), "model", meshes, error, nullptr));
    EXPECT_FALSE(error.empty());
    return error;
}
} // namespace meshtest
