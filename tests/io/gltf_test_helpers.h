// Shared by the glTF tests: reading from memory or disk, a small valid document to break in
// chosen ways, and walks over what a read produced.
#pragma once

#include <gltf.h>

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace gltftest
{
struct CSceneDrop
{
    void operator()(C3DScene* scene) const
    {
        if (scene)
            scene->Delete();
    }
};
using ScenePtr = std::unique_ptr<C3DScene, CSceneDrop>;
using V3 = std::array<float, 3>;

inline std::string DataPath(const std::string& name)
{
    return std::string(ZAN3D_TEST_DATA_DIR) + "/io/gltf/" + name;
}

inline std::string LoadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// Reads bytes held in memory; external buffers are refused.
inline ScenePtr ReadText(const std::string& bytes, zangltf::CGltfError& error)
{
    zangltf::CGltfSource source;
    source.m_Data = bytes;
    source.m_Name = "memory";
    source.m_AllowExternal = false;
    return ScenePtr(zangltf::ReadGltf(source, error));
}

/// Reads a file the way the parser does (external buffers beside it).
inline ScenePtr ReadPath(const std::string& path, zangltf::CGltfError& error)
{
    const std::string bytes = LoadBytes(path);
    zangltf::CGltfSource source;
    source.m_Data = bytes;
    source.m_Folder = path.substr(0, path.rfind('/') + 1);
    source.m_Name = "file";
    return ScenePtr(zangltf::ReadGltf(source, error));
}

inline std::string Base64(const std::string& bytes)
{
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3)
    {
        uint32_t chunk = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            chunk |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size())
            chunk |= uint8_t(bytes[i + 2]);
        out += kAlphabet[chunk >> 18 & 63];
        out += kAlphabet[chunk >> 12 & 63];
        out += i + 1 < bytes.size() ? kAlphabet[chunk >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[chunk & 63] : '=';
    }
    return out;
}

/// A valid document: one node, one triangle (0,0,0) (1,0,0) (0,1,0) with 16-bit indices,
/// everything in one embedded buffer of 42 bytes.
inline std::string TriangleDocument()
{
    const float points[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const uint16_t indices[3] = {0, 1, 2};
    std::string bytes(reinterpret_cast<const char*>(points), sizeof points);
    bytes.append(reinterpret_cast<const char*>(indices), sizeof indices);
    return R"({"asset":{"version":"2.0"},"nodes":[{"name":"T","mesh":0}],)"
           R"("meshes":[{"primitives":[{"attributes":{"POSITION":0},"indices":1}]}],)"
           R"("buffers":[{"byteLength":42,"uri":"data:application/octet-stream;base64,)" +
           Base64(bytes) +
           R"("}],"bufferViews":[{"buffer":0,"byteLength":36},)"
           R"({"buffer":0,"byteOffset":36,"byteLength":6}],)"
           R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},)"
           R"({"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"}]})";
}

/// \p text with its first \p from replaced by \p to (the test fails when \p from is absent).
inline std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

inline std::vector<C3DSceneNode*> GeomNodes(const C3DScene& scene)
{
    CXArray<C3DSceneNode*> nodes;
    scene.GetNodesByType(nullptr, _ObjectKindGeometric, nodes);
    return std::vector<C3DSceneNode*>(nodes.GetData(), nodes.GetData() + nodes.GetSize());
}

inline C3DSceneNode* FindNode(const C3DScene& scene, const char* name)
{
    C3DNodePos pos = scene.GetFirstNode(0xFFFFFFFF, 0);
    while (C3DSceneNode* node = scene.GetNextNode(pos))
        if (std::strcmp(node->GetName().c_str(), name) == 0)
            return node;
    return nullptr;
}

inline V3 Transform(const C4x4TMatrix<float>& m, const V3& p)
{
    V3 out;
    m.TransformPoint(p.data(), out.data());
    return out;
}

inline V3 World(C3DSceneNode* node, const V3& p)
{
    C4x4TMatrix<float> m;
    node->GetNodeTM(0, m);
    return Transform(m, p);
}

inline V3 Point(const C3DGeomObject& object, int index)
{
    const C3DTPoint<float>& p = (*object.GetPointList())[index];
    return {p.m_X, p.m_Y, p.m_Z};
}

inline void ExpectNear(const V3& a, const V3& b, float tolerance = 1e-5f)
{
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(a[size_t(k)], b[size_t(k)], tolerance) << "component " << k;
}
} // namespace gltftest
