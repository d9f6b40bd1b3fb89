// Writing glTF 2.0. Each object becomes one mesh, written once however many nodes share it:
// its faces are cut into triangles and grouped by material (one primitive per material), and
// its corners are turned into vertices that carry one position, normal, texture coordinate
// and colour each, a point being split wherever its corners disagree. All primitives of a mesh
// share the vertex attributes and have their own indices. The binary data goes to one buffer:
// a ".bin" file beside a ".gltf", or the BIN chunk of a ".glb".
#include "gltf.h"
#include "gltfjson.h"

#include <pluginfile.h>

#include <3dzan/animation/math.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/materials/material.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/light.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>
#include <vector>

namespace zangltf
{
namespace
{
constexpr int kTargetVertices = 34962;
constexpr int kTargetIndices = 34963;

std::string Number(float value)
{
    char buffer[32];
    return std::string(zanplugin::FormatFloat(value, buffer));
}

// Characters other than unreserved ones and '/' are written as %XX.
std::string EncodeUri(std::string_view name)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : name)
    {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/')
            out += c;
        else
        {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        }
    }
    return out;
}

std::string Join(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
    {
        if (i)
            out += ",\n";
        out += items[i];
    }
    return out + "]";
}

struct CVertexKey
{
    int m_Point, m_Normal, m_UV, m_Color;
    bool operator==(const CVertexKey&) const = default;
};

struct CVertexKeyHash
{
    size_t operator()(const CVertexKey& key) const
    {
        uint64_t h = uint64_t(uint32_t(key.m_Point)) * 0x9E3779B97F4A7C15ull;
        h ^= uint64_t(uint32_t(key.m_Normal)) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
        h ^= uint64_t(uint32_t(key.m_UV)) + 0x8CB92BA72F3D8DD7ull + (h << 6) + (h >> 2);
        h ^= uint64_t(uint32_t(key.m_Color)) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
        return size_t(h);
    }
};

class CWriter
{
public:
    explicit CWriter(C3DScene* scene) : m_Scene(scene) {}
    bool Write(const std::string& fileName, CGltfError& error);

private:
    size_t AddView(const void* data, size_t size, int target);
    size_t AddAccessor(size_t view, int componentType, size_t count, const char* type,
                       bool normalized, const std::string& bounds = std::string());
    size_t GetMaterialIndex(unsigned materialID);
    size_t GetImageIndex(const std::string& fileName);
    long WriteMesh(C3DGeomObject* object, const CXTString& name);
    std::string WriteCamera(const C3DCamera& camera);
    std::string WriteLight(const C3DLight& light);
    void WriteNodes();

    C3DScene* m_Scene;
    std::string m_Bin;
    std::vector<std::string> m_Nodes, m_Meshes, m_Accessors, m_Views, m_Materials, m_Textures,
        m_Images, m_Roots, m_Cameras, m_Lights;
    std::unordered_map<unsigned, size_t> m_MaterialIndex;
    std::unordered_map<std::string, size_t> m_ImageIndex;
    std::unordered_map<unsigned, long> m_MeshIndex; // object ID -> mesh (-1: nothing to write)
};

size_t CWriter::AddView(const void* data, size_t size, int target)
{
    m_Bin.resize((m_Bin.size() + 3) & ~size_t(3), '\0');
    const size_t offset = m_Bin.size();
    m_Bin.append(static_cast<const char*>(data), size);
    m_Views.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) +
                      ",\"byteLength\":" + std::to_string(size) +
                      ",\"target\":" + std::to_string(target) + "}");
    return m_Views.size() - 1;
}

size_t CWriter::AddAccessor(size_t view, int componentType, size_t count, const char* type,
                            bool normalized, const std::string& bounds)
{
    std::string text = "{\"bufferView\":" + std::to_string(view) +
                       ",\"componentType\":" + std::to_string(componentType) +
                       ",\"count\":" + std::to_string(count) + ",\"type\":\"" + type + "\"";
    if (normalized)
        text += ",\"normalized\":true";
    text += bounds + "}";
    m_Accessors.push_back(std::move(text));
    return m_Accessors.size() - 1;
}

size_t CWriter::GetImageIndex(const std::string& fileName)
{
    auto found = m_ImageIndex.find(fileName);
    if (found != m_ImageIndex.end())
        return found->second;
    std::string uri;
    AppendJsonString(uri, EncodeUri(fileName));
    m_Images.push_back("{\"uri\":" + uri + "}");
    m_Textures.push_back("{\"source\":" + std::to_string(m_Images.size() - 1) + "}");
    m_ImageIndex.emplace(fileName, m_Textures.size() - 1);
    return m_Textures.size() - 1;
}

size_t CWriter::GetMaterialIndex(unsigned materialID)
{
    auto found = m_MaterialIndex.find(materialID);
    if (found != m_MaterialIndex.end())
        return found->second;
    const C3DMaterial* material = m_Scene->GetMaterialByID(materialID);
    std::string text = "{\"name\":";
    float rgba[4] = {1, 1, 1, 1};
    std::string texture;
    if (material)
    {
        AppendJsonString(text, material->GetName().c_str());
        const CRGBColor color = material->GetDiffuseColor(0);
        rgba[0] = color.m_Red / 255.0f;
        rgba[1] = color.m_Green / 255.0f;
        rgba[2] = color.m_Blue / 255.0f;
        rgba[3] = std::clamp(color.m_Alpha / 255.0f * (1.0f - material->GetTransparencyFactor(0)),
                             0.0f, 1.0f);
        const CMaterialMap* map = material->GetDiffuseMaps();
        if (map && !map->GetFileName().IsEmpty())
        {
            const std::string fileName = map->GetFileName().c_str();
            if (fileName.compare(0, 9, "embedded:") != 0) // an image we never extracted
                texture = ",\"baseColorTexture\":{\"index\":" +
                          std::to_string(GetImageIndex(fileName)) + "}";
        }
    }
    else
        text += "\"Default\"";
    text += ",\"pbrMetallicRoughness\":{\"baseColorFactor\":[" + Number(rgba[0]) + "," +
            Number(rgba[1]) + "," + Number(rgba[2]) + "," + Number(rgba[3]) +
            "],\"metallicFactor\":0,\"roughnessFactor\":1" + texture + "}";
    if (rgba[3] < 1.0f)
        text += ",\"alphaMode\":\"BLEND\"";
    text += "}";
    m_Materials.push_back(std::move(text));
    m_MaterialIndex.emplace(materialID, m_Materials.size() - 1);
    return m_Materials.size() - 1;
}

long CWriter::WriteMesh(C3DGeomObject* object, const CXTString& meshName)
{
    const C3DPointList* points = object->GetPointList();
    const C3DFaceList* faces = object->GetFaceList();
    if (!points || !faces || faces->GetSize() == 0)
        return -1;
    const int pointCount = points->GetSize();
    auto* uv = static_cast<CUVWChannel*>(object->GetChannelByIndex(0, _ChannelUVW, true));
    auto* normal =
        static_cast<CSpecNormalChannel*>(object->GetChannelByIndex(0, _ChannelSpecNormal, true));
    auto* color = static_cast<CVCChannel*>(object->GetChannelByIndex(0, _ChannelVC, true));
    const CUVWPointList* uvValues = uv ? uv->GetUVWPointList() : nullptr;
    const C3DVectorList* normalValues = normal ? normal->GetNormalVectorList() : nullptr;
    const CVCPointList* colorValues = color ? color->GetVCPointList() : nullptr;

    // The value index of corner k of face f in a channel; -1 when the channel face does not
    // match the geometry face or the index is outside the values.
    auto channelIndex = [](const CChannel* channel, int valueCount, unsigned f, int k,
                           int corners) -> int
    {
        if (!channel || !channel->GetFaceList())
            return -1;
        int n = 0;
        const int* items = channel->GetFaceList()->GetIndexes(f, n);
        if (!items || n != corners || items[k] < 0 || items[k] >= valueCount)
            return -1;
        return items[k];
    };

    std::unordered_map<CVertexKey, uint32_t, CVertexKeyHash> vertexMap;
    std::vector<CVertexKey> vertices;
    vertexMap.reserve(size_t(pointCount) + size_t(pointCount) / 4);
    vertices.reserve(size_t(pointCount));
    std::map<unsigned, std::vector<uint32_t>> byMaterial; // ordered: stable output
    bool normalsComplete = normalValues != nullptr;
    bool uvComplete = uvValues != nullptr;
    const int uvCount = uvValues ? uvValues->GetSize() : 0;
    const int normalCount = normalValues ? normalValues->GetSize() : 0;
    const int colorCount = colorValues ? colorValues->GetSize() : 0;
    std::vector<uint32_t> face;
    for (unsigned f = 0; f < unsigned(faces->GetSize()); ++f)
    {
        int corners = 0;
        const int* items = faces->GetIndexes(f, corners);
        const unsigned materialID = faces->GetFaceMaterial(f);
        if (!items || corners < 3 || materialID == kZanNone)
            continue;
        face.clear();
        bool valid = true;
        for (int k = 0; k < corners && valid; ++k)
        {
            if (items[k] < 0 || items[k] >= pointCount)
            {
                valid = false;
                break;
            }
            CVertexKey key{items[k], channelIndex(normal, normalCount, f, k, corners),
                           channelIndex(uv, uvCount, f, k, corners),
                           channelIndex(color, colorCount, f, k, corners)};
            if (key.m_Normal < 0 ||
                ((*normalValues)[key.m_Normal].GetFlags() & _NormalUndefined))
                normalsComplete = false;
            if (key.m_UV < 0)
                uvComplete = false;
            auto [it, added] = vertexMap.emplace(key, uint32_t(vertices.size()));
            if (added)
                vertices.push_back(key);
            face.push_back(it->second);
        }
        if (!valid)
            continue;
        std::vector<uint32_t>& indices = byMaterial[materialID];
        for (int k = 1; k + 1 < corners; ++k) // a fan: triangles stay as they are
            indices.insert(indices.end(), {face[0], face[size_t(k)], face[size_t(k) + 1]});
    }
    if (vertices.empty())
        return -1;

    const size_t count = vertices.size();
    std::vector<float> values(count * 3);
    float low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (size_t i = 0; i < count; ++i)
    {
        const C3DTPoint<float>& p = (*points)[vertices[i].m_Point];
        const float xyz[3] = {p.m_X, p.m_Y, p.m_Z};
        for (int k = 0; k < 3; ++k)
        {
            values[i * 3 + k] = xyz[k];
            low[k] = std::min(low[k], xyz[k]);
            high[k] = std::max(high[k], xyz[k]);
        }
    }
    const std::string bounds = ",\"min\":[" + Number(low[0]) + "," + Number(low[1]) + "," +
                               Number(low[2]) + "],\"max\":[" + Number(high[0]) + "," +
                               Number(high[1]) + "," + Number(high[2]) + "]";
    std::string attributes =
        "\"POSITION\":" +
        std::to_string(AddAccessor(AddView(values.data(), values.size() * 4, kTargetVertices),
                                   5126, count, "VEC3", false, bounds));
    if (normalsComplete)
    {
        for (size_t i = 0; i < count; ++i)
        {
            C3DTVector<float> n = (*normalValues)[vertices[i].m_Normal];
            n.Normalize();
            values[i * 3] = n.m_X, values[i * 3 + 1] = n.m_Y, values[i * 3 + 2] = n.m_Z;
        }
        attributes += ",\"NORMAL\":" + std::to_string(AddAccessor(
                                           AddView(values.data(), count * 12, kTargetVertices),
                                           5126, count, "VEC3", false));
    }
    if (uvComplete)
    {
        for (size_t i = 0; i < count; ++i)
        {
            const CUVWPoint& t = (*uvValues)[vertices[i].m_UV];
            values[i * 2] = t[0];
            values[i * 2 + 1] = 1.0f - t[1]; // images are addressed from their top row
        }
        attributes += ",\"TEXCOORD_0\":" +
                      std::to_string(AddAccessor(AddView(values.data(), count * 8, kTargetVertices),
                                                 5126, count, "VEC2", false));
    }
    if (colorValues)
    {
        std::vector<uint8_t> bytes(count * 4, 255);
        for (size_t i = 0; i < count; ++i)
            if (vertices[i].m_Color >= 0)
            {
                const CRGBColor c = (*colorValues)[vertices[i].m_Color].GetColor();
                const uint8_t rgba[4] = {c.m_Red, c.m_Green, c.m_Blue, c.m_Alpha};
                std::memcpy(&bytes[i * 4], rgba, 4);
            }
        attributes += ",\"COLOR_0\":" +
                      std::to_string(AddAccessor(AddView(bytes.data(), bytes.size(), kTargetVertices),
                                                 5121, count, "VEC4", true));
    }

    std::vector<std::string> primitives;
    for (const auto& [materialID, indices] : byMaterial)
    {
        size_t accessor;
        if (count <= 0xFFFF)
        {
            std::vector<uint16_t> small(indices.begin(), indices.end());
            accessor = AddAccessor(AddView(small.data(), small.size() * 2, kTargetIndices), 5123,
                                   small.size(), "SCALAR", false);
        }
        else
            accessor = AddAccessor(AddView(indices.data(), indices.size() * 4, kTargetIndices),
                                   5125, indices.size(), "SCALAR", false);
        primitives.push_back("{\"attributes\":{" + attributes +
                             "},\"indices\":" + std::to_string(accessor) +
                             ",\"material\":" + std::to_string(GetMaterialIndex(materialID)) +
                             ",\"mode\":4}");
    }
    std::string name;
    AppendJsonString(name, meshName.c_str());
    m_Meshes.push_back("{\"name\":" + name + ",\"primitives\":" + Join(primitives) + "}");
    return long(m_Meshes.size() - 1);
}

std::string MatrixText(const C4x4TMatrix<float>& m)
{
    std::string text = ",\"matrix\":[";
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row)
            text += Number(m[row][col]) + (col == 3 && row == 3 ? "]" : ",");
    return text;
}

void CWriter::WriteNodes()
{
    // Pre-order with an explicit stack; each entry knows its parent's glTF index and world
    // matrix without pivots (children never inherit a pivot).
    struct CEntry
    {
        C3DSceneNode* m_Node;
        long m_Parent;
        C4x4TMatrix<float> m_ParentWorld;
    };
    C4x4TMatrix<float> rootMatrix;
    if (C3DSceneNode* root = m_Scene->GetRoot())
        root->GetObjectLocalTM(0, rootMatrix);
    std::vector<CEntry> stack;
    std::vector<C3DSceneNode*> firstLevel;
    for (C3DSceneNode* child = m_Scene->GetChildNode(nullptr); child;
         child = m_Scene->GetRightNode(child))
        firstLevel.push_back(child);
    for (auto it = firstLevel.rbegin(); it != firstLevel.rend(); ++it)
        stack.push_back({*it, -1, rootMatrix});
    std::vector<std::vector<size_t>> children;
    while (!stack.empty())
    {
        CEntry entry = stack.back();
        stack.pop_back();
        C3DSceneNode* node = entry.m_Node;
        C4x4TMatrix<float> local;
        node->GetObjectLocalTM(0, local);
        const C4x4TMatrix<float> world = entry.m_ParentWorld * local;
        // The node's matrix relative to its glTF parent (the root's matrix goes to the top).
        const C4x4TMatrix<float> written = entry.m_Parent < 0 ? world : local;

        const size_t index = m_Nodes.size();
        m_Nodes.emplace_back();
        children.emplace_back();
        if (entry.m_Parent >= 0)
            children[size_t(entry.m_Parent)].push_back(index);
        else
            m_Roots.push_back(std::to_string(index));

        std::string text = "{\"name\":";
        AppendJsonString(text, node->GetName().c_str());
        if (!written.IsIdentity())
            text += MatrixText(written);
        C3DGeomObject* object = node->GetGeomObject();
        long mesh = -1;
        if (object && object->IsKindOf(ZAN_RUNTIME_CLASS(C3DObject)))
        {
            auto found = m_MeshIndex.find(object->GetObjectID());
            if (found == m_MeshIndex.end())
                found = m_MeshIndex.emplace(object->GetObjectID(), WriteMesh(object, node->GetName())).first;
            mesh = found->second;
        }
        std::string meshNode;
        if (mesh >= 0)
        {
            // A pivot moves the object but not the children: the mesh then hangs on a child
            // node of the same name that carries the pivot's offset.
            C4x4TMatrix<float> full, inverse, pivot;
            node->GetNodeTM(0, full, true);
            if (world.GetInverse(inverse))
                pivot = inverse * full;
            if (pivot.IsIdentity(1e-6))
                text += ",\"mesh\":" + std::to_string(mesh);
            else
            {
                meshNode = "{\"name\":";
                AppendJsonString(meshNode, node->GetName().c_str());
                meshNode += MatrixText(pivot) + ",\"mesh\":" + std::to_string(mesh); // closed below
            }
        }
        if (auto* camera = dynamic_cast<C3DCamera*>(node->GetBaseObject()))
        {
            text += ",\"camera\":" + std::to_string(m_Cameras.size());
            m_Cameras.push_back(WriteCamera(*camera));
        }
        else if (auto* light = dynamic_cast<C3DLight*>(node->GetBaseObject()))
        {
            text += ",\"extensions\":{\"KHR_lights_punctual\":{\"light\":" +
                    std::to_string(m_Lights.size()) + "}}";
            m_Lights.push_back(WriteLight(*light));
        }
        m_Nodes[index] = std::move(text);
        if (!meshNode.empty())
        {
            children[index].push_back(m_Nodes.size());
            m_Nodes.push_back(std::move(meshNode));
            children.emplace_back();
        }
        std::vector<C3DSceneNode*> kids;
        for (C3DSceneNode* child = m_Scene->GetChildNode(node); child;
             child = m_Scene->GetRightNode(child))
            kids.push_back(child);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            stack.push_back({*it, long(index), world});
    }
    for (size_t i = 0; i < m_Nodes.size(); ++i)
    {
        if (!children[i].empty())
        {
            std::vector<std::string> list;
            for (const size_t child : children[i])
                list.push_back(std::to_string(child));
            m_Nodes[i] += ",\"children\":" + Join(list);
        }
        m_Nodes[i] += "}";
    }
}

// A camera as glTF wants it: clip distances left to the viewer get values that suit most
// scenes (glTF requires znear, and zfar for an orthographic view); an orthographic camera
// spans one unit vertically.
std::string CWriter::WriteCamera(const C3DCamera& camera)
{
    const double nearClip = camera.GetNearClip() > 0 ? camera.GetNearClip() : 0.01;
    const double farClip = camera.GetFarClip() > nearClip ? camera.GetFarClip() : 0;
    const double aspect = camera.GetAspectRatio();
    std::string text;
    if (camera.GetProjection() == _ProjectionOrthographic)
        text = "{\"type\":\"orthographic\",\"orthographic\":{\"xmag\":" + Number(float(aspect)) +
               ",\"ymag\":1,\"znear\":" + Number(float(nearClip)) + ",\"zfar\":" +
               Number(float(farClip > 0 ? farClip : nearClip + 1000)) + "}}";
    else
    {
        text = "{\"type\":\"perspective\",\"perspective\":{\"yfov\":" +
               Number(float(camera.GetFov())) + ",\"aspectRatio\":" + Number(float(aspect)) +
               ",\"znear\":" + Number(float(nearClip));
        if (farClip > 0)
            text += ",\"zfar\":" + Number(float(farClip));
        text += "}}";
    }
    return text;
}

// A light of KHR_lights_punctual: its cone angles are measured from the axis.
std::string CWriter::WriteLight(const C3DLight& light)
{
    const int kind = light.GetLightKind();
    const CRGBColor color = light.GetColor();
    std::string text = std::string("{\"type\":\"") +
                       (kind == _LightDirectional ? "directional"
                        : kind == _LightSpot      ? "spot"
                                                  : "point") +
                       "\",\"color\":[" + Number(color.m_Red / 255.0f) + "," +
                       Number(color.m_Green / 255.0f) + "," + Number(color.m_Blue / 255.0f) +
                       "],\"intensity\":" + Number(float(light.GetIntensity()));
    if (kind != _LightDirectional && light.GetOuterRadius() > 0)
        text += ",\"range\":" + Number(float(light.GetOuterRadius()));
    if (kind == _LightSpot)
    {
        const double outer = std::min(light.GetOuterAngle(), 3.14159265358979323846) / 2;
        const double inner = std::min(light.GetInnerAngle() / 2, outer * 0.999);
        text += ",\"spot\":{\"innerConeAngle\":" + Number(float(inner)) +
                ",\"outerConeAngle\":" + Number(float(outer)) + "}";
    }
    return text + "}";
}

bool CWriter::Write(const std::string& fileName, CGltfError& error)
{
    WriteNodes();
    if (m_Nodes.empty())
    {
        error = {_IoResultNothingToSave, "the scene has no node to write"};
        return false;
    }
    const CFileNameSpec named(fileName.c_str());
    const bool binary = named.HasExtension(".glb");
    const std::string binName = std::string(named.GetBaseName().c_str()) + ".bin";

    std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"3DZan\"},\"scene\":0,"
                       "\"scenes\":[{\"nodes\":" +
                       Join(m_Roots) + "}],\n\"nodes\":" + Join(m_Nodes);
    auto section = [&](const char* key, const std::vector<std::string>& items)
    {
        if (!items.empty())
            json += std::string(",\n\"") + key + "\":" + Join(items);
    };
    section("meshes", m_Meshes);
    section("cameras", m_Cameras);
    if (!m_Lights.empty())
        json += ",\n\"extensionsUsed\":[\"KHR_lights_punctual\"],\n"
                "\"extensions\":{\"KHR_lights_punctual\":{\"lights\":" +
                Join(m_Lights) + "}}";
    section("materials", m_Materials);
    section("textures", m_Textures);
    section("images", m_Images);
    section("accessors", m_Accessors);
    section("bufferViews", m_Views);
    m_Bin.resize((m_Bin.size() + 3) & ~size_t(3), '\0');
    if (!m_Bin.empty())
    {
        json += ",\n\"buffers\":[{\"byteLength\":" + std::to_string(m_Bin.size());
        if (!binary)
        {
            json += ",\"uri\":";
            AppendJsonString(json, EncodeUri(binName));
        }
        json += "}]";
    }
    json += "}\n";

    auto fail = [&](const zanplugin::CAtomicFile& file)
    {
        error = {_IoResultWriteError, file.GetError()};
        return false;
    };
    zanplugin::CAtomicFile out;
    if (!out.Open(fileName.c_str()))
        return fail(out);
    if (binary)
    {
        json.resize((json.size() + 3) & ~size_t(3), ' ');
        const size_t total = 12 + 8 + json.size() + (m_Bin.empty() ? 0 : 8 + m_Bin.size());
        if (total > 0xFFFFFFFFu)
        {
            error = {_IoResultWriteError, "the scene needs more than 4 GiB in one binary file"};
            return false;
        }
        const uint32_t header[5] = {0x46546C67, 2, uint32_t(total), uint32_t(json.size()),
                                    0x4E4F534A};
        out.Write(header, sizeof header);
        out.Write(json);
        if (!m_Bin.empty())
        {
            const uint32_t chunk[2] = {uint32_t(m_Bin.size()), 0x004E4942};
            out.Write(chunk, sizeof chunk);
            out.Write(m_Bin);
        }
        return out.Commit() || fail(out);
    }
    out.Write(json);
    if (!m_Bin.empty())
    {
        zanplugin::CAtomicFile bin;
        const std::string binPath = std::string(named.GetFolder().c_str()) + binName;
        if (!bin.Open(binPath.c_str()))
            return fail(bin);
        bin.Write(m_Bin);
        if (!bin.Commit())
            return fail(bin);
    }
    return out.Commit() || fail(out);
}
} // namespace

bool WriteGltf(C3DScene* scene, const std::string& fileName, CGltfError& error)
{
    error = CGltfError();
    if (!scene)
    {
        error = {_IoResultNothingToSave, "no scene to write"};
        return false;
    }
    CWriter writer(scene);
    return writer.Write(fileName, error);
}
} // namespace zangltf
