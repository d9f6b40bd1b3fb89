// Reading glTF 2.0: the container (text or binary) gives one JSON document and the bytes of
// its buffers; buffer views and accessors are checked against those bytes once, before any
// element is read, so every later read is in bounds. Meshes are built on first use and shared
// by the nodes that use them. The node graph is walked without recursion and must be a forest.
#include "gltf.h"
#include "gltfjson.h"

#include <pluginfile.h>

#include <3dzan/animation/keys.h>
#include <3dzan/foundation/services.h>
#include <3dzan/animation/math.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/materials/material.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace zangltf
{
namespace
{
constexpr uint32_t kGlbMagic = 0x46546C67;     // "glTF"
constexpr uint32_t kGlbChunkJson = 0x4E4F534A; // "JSON"
constexpr uint32_t kGlbChunkBin = 0x004E4942;  // "BIN\0"
// Most vertices plus triangle corners one file may produce: a bound on what many primitives
// reading the same large accessor could otherwise allocate.
constexpr uint64_t kMaxElements = uint64_t(1) << 28;

uint32_t ReadU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int Base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+' || c == '-')
        return 62;
    if (c == '/' || c == '_')
        return 63;
    return -1;
}

// Decodes base64 text (padding optional, nothing after it). false on any other character.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out, size_t& badOffset)
{
    size_t end = text.size();
    while (end > 0 && text[end - 1] == '=' && text.size() - end < 2)
        --end;
    out.clear();
    out.reserve(end / 4 * 3 + 3);
    uint32_t bits = 0;
    int held = 0;
    for (size_t i = 0; i < end; ++i)
    {
        const int value = Base64Value(static_cast<unsigned char>(text[i]));
        if (value < 0)
        {
            badOffset = i;
            return false;
        }
        bits = bits << 6 | uint32_t(value);
        held += 6;
        if (held >= 8)
        {
            held -= 8;
            out.push_back(uint8_t(bits >> held));
        }
    }
    if (held >= 6) // a lone trailing character carries no whole byte
    {
        badOffset = end - 1;
        return false;
    }
    return true;
}

std::string DecodePercent(const std::string& uri)
{
    std::string out;
    out.reserve(uri.size());
    for (size_t i = 0; i < uri.size(); ++i)
    {
        if (uri[i] == '%' && i + 2 < uri.size())
        {
            auto hex = [](char c) -> int
            {
                if (c >= '0' && c <= '9')
                    return c - '0';
                if (c >= 'a' && c <= 'f')
                    return c - 'a' + 10;
                if (c >= 'A' && c <= 'F')
                    return c - 'A' + 10;
                return -1;
            };
            const int a = hex(uri[i + 1]);
            const int b = hex(uri[i + 2]);
            if (a >= 0 && b >= 0)
            {
                out += char(a * 16 + b);
                i += 2;
                continue;
            }
        }
        out += uri[i];
    }
    return out;
}

struct CBuffer
{
    const uint8_t* m_Data = nullptr;
    size_t m_Size = 0;
};

struct CView
{
    size_t m_Buffer = 0;
    size_t m_Offset = 0;
    size_t m_Length = 0;
    size_t m_Stride = 0; // 0: tightly packed
};

struct CAccessor
{
    const uint8_t* m_First = nullptr; // first element, in bounds
    size_t m_Stride = 0;
    size_t m_Count = 0;
    unsigned m_ComponentType = 0;
    unsigned m_Components = 0;
    bool m_Normalized = false;
};

// One mesh being assembled: its primitives' vertices concatenated.
struct CMeshData
{
    std::vector<float> m_Points;
    std::vector<float> m_Normals;
    std::vector<uint8_t> m_NormalDefined;
    std::vector<float> m_UVs[2]; // TEXCOORD_0 and TEXCOORD_1
    std::vector<uint8_t> m_Colors;
    std::vector<int> m_Corners;
    std::vector<unsigned> m_Materials;
    bool m_HasNormals = false;
    bool m_HasUVs[2] = {false, false};
    bool m_HasColors = false;
};

class CReader
{
public:
    CReader(const CGltfSource& source, CGltfError& error) : m_Source(source), m_Error(error) {}
    C3DScene* Read();

private:
    bool Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool FailResult(int result, const char* format, ...) __attribute__((format(printf, 3, 4)));
    bool FailV(int result, const char* format, va_list args);

    bool ReadContainer(std::string_view& json);
    bool CheckAsset();
    bool ReadIndex(const CJsonValue& owner, const char* key, size_t limit, size_t& value,
                   bool required, const char* what, size_t ownerIndex, const char* table);
    bool ReadSize(const CJsonValue& owner, const char* key, size_t& value, bool required,
                  const char* what, size_t ownerIndex);
    const CJsonValue* GetArray(const char* key);
    bool LoadBuffers();
    bool LoadViews();
    bool LoadAccessors();
    bool ReadFloats(size_t accessorIndex, unsigned components, std::vector<float>& out,
                    const char* what);
    bool ReadIndices(size_t accessorIndex, std::vector<uint32_t>& out);
    bool LoadMaterials();
    C3DObject* BuildMesh(size_t meshIndex);
    bool AddPrimitive(size_t meshIndex, size_t primIndex, const CJsonValue& primitive,
                      CMeshData& mesh);
    bool ReadNodeMatrix(size_t nodeIndex, const CJsonValue& node, C4x4TMatrix<float>& matrix,
                        bool& hasMatrix);
    bool BuildNodes();
    bool ReadOptionalNumber(const CJsonValue& owner, const char* key, double& value,
                            const char* what, size_t ownerIndex);
    C3DCamera* BuildCamera(size_t cameraIndex);
    C3DLight* BuildLight(size_t lightIndex);
    const CJsonValue* GetLights();
    bool AddChildObject(C3DSceneNode* parent, C3DBaseObject* object, const std::string& name);
    unsigned GetDefaultMaterial();

    const CGltfSource& m_Source;
    CGltfError& m_Error;
    CJsonValue m_Root;
    CBuffer m_GlbBin;
    bool m_IsGlb = false;
    std::vector<CBuffer> m_Buffers;
    std::vector<std::vector<uint8_t>> m_Decoded;
    std::vector<std::unique_ptr<zanplugin::CMappedFile>> m_Files;
    std::vector<CView> m_Views;
    std::vector<CAccessor> m_Accessors;
    std::vector<unsigned> m_MaterialIDs;
    unsigned m_DefaultMaterial = kZanNone;
    unsigned m_UVChannelID[2] = {kZanNone, kZanNone}; // one texture channel per set
    unsigned GetUVChannelID(size_t set)
    {
        if (m_UVChannelID[set] == kZanNone)
            m_UVChannelID[set] = CChannel::CreateID();
        return m_UVChannelID[set];
    }
    std::vector<C3DObject*> m_Meshes; // built on first use; the first node takes the holder
    uint64_t m_Elements = 0;
    C3DScene* m_Scene = nullptr;
};

bool CReader::FailV(int result, const char* format, va_list args)
{
    if (m_Error.m_Message.empty())
    {
        char line[512];
        std::vsnprintf(line, sizeof line, format, args);
        m_Error.m_Message = line;
        m_Error.m_Result = result;
    }
    return false;
}

bool CReader::Fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FailV(_IoResultBadFormat, format, args);
    va_end(args);
    return false;
}

bool CReader::FailResult(int result, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FailV(result, format, args);
    va_end(args);
    return false;
}

bool CReader::ReadContainer(std::string_view& json)
{
    const std::string_view data = m_Source.m_Data;
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    if (data.size() < 4 || ReadU32(bytes) != kGlbMagic)
    {
        json = data;
        return true;
    }
    m_IsGlb = true;
    if (data.size() < 12)
        return Fail("binary glTF: the 12-byte header is truncated (%zu bytes)", data.size());
    const uint32_t version = ReadU32(bytes + 4);
    const uint32_t length = ReadU32(bytes + 8);
    if (version != 2)
        return Fail("binary glTF: container version %u is not 2", version);
    if (length > data.size())
        return Fail("binary glTF: the header declares %u bytes but the file has %zu", length,
                    data.size());
    size_t pos = 12;
    bool haveJson = false;
    while (pos < length)
    {
        if (length - pos < 8)
            return Fail("binary glTF: truncated chunk header at byte %zu", pos);
        const uint32_t chunkLength = ReadU32(bytes + pos);
        const uint32_t chunkType = ReadU32(bytes + pos + 4);
        pos += 8;
        if (chunkLength > length - pos)
            return Fail("binary glTF: chunk at byte %zu declares %u bytes but only %zu remain",
                        pos - 8, chunkLength, length - pos);
        if (!haveJson)
        {
            if (chunkType != kGlbChunkJson)
                return Fail("binary glTF: the first chunk is not the JSON chunk");
            json = std::string_view(data.data() + pos, chunkLength);
            haveJson = true;
        }
        else if (chunkType == kGlbChunkBin && !m_GlbBin.m_Data)
            m_GlbBin = {bytes + pos, chunkLength};
        pos += chunkLength;
    }
    if (!haveJson)
        return Fail("binary glTF: the JSON chunk is missing");
    return true;
}

bool CReader::CheckAsset()
{
    if (!m_Root.IsObject())
        return Fail("the document is not a JSON object");
    const CJsonValue* asset = m_Root.Find("asset");
    const CJsonValue* version = asset ? asset->Find("version") : nullptr;
    if (!version || !version->IsString())
        return Fail("asset.version is missing");
    const std::string& text = version->GetString();
    if (text.size() < 2 || text[0] != '2' || text[1] != '.')
        return FailResult(_IoResultNotSupported, "asset.version \"%s\" is not 2.x",
                          text.substr(0, 32).c_str());
    if (const CJsonValue* required = m_Root.Find("extensionsRequired"))
    {
        if (!required->IsArray())
            return Fail("extensionsRequired is not an array");
        for (size_t i = 0; i < required->GetSize(); ++i)
        {
            const CJsonValue& name = (*required)[i];
            if (!name.IsString())
                return Fail("extensionsRequired[%zu] is not a string", i);
            if (name.GetString() != "KHR_materials_unlit" &&
                name.GetString() != "KHR_lights_punctual")
                return FailResult(_IoResultNotSupported, "required extension %s is not supported",
                                  name.GetString().substr(0, 64).c_str());
        }
    }
    return true;
}

const CJsonValue* CReader::GetArray(const char* key)
{
    const CJsonValue* value = m_Root.Find(key);
    if (value && !value->IsArray())
    {
        Fail("\"%s\" is not an array", key);
        return nullptr;
    }
    return value;
}

// A non-negative integer member no larger than \p limit - 1 (or any size when limit is 0).
bool CReader::ReadIndex(const CJsonValue& owner, const char* key, size_t limit, size_t& value,
                        bool required, const char* what, size_t ownerIndex, const char* table)
{
    const CJsonValue* member = owner.Find(key);
    if (!member)
        return required ? Fail("%s %zu: %s is missing", what, ownerIndex, key) : true;
    const double number = member->IsNumber() ? member->GetNumber() : -1;
    if (number < 0 || number != std::floor(number) || number >= 9.0e15)
        return Fail("%s %zu: %s is not a valid index or size", what, ownerIndex, key);
    value = size_t(number);
    if (table && value >= limit)
        return Fail("%s %zu: %s %zu is outside the %zu %s", what, ownerIndex, key, value, limit,
                    table);
    return true;
}

bool CReader::ReadSize(const CJsonValue& owner, const char* key, size_t& value, bool required,
                       const char* what, size_t ownerIndex)
{
    return ReadIndex(owner, key, 0, value, required, what, ownerIndex, nullptr);
}

bool CReader::LoadBuffers()
{
    const CJsonValue* buffers = GetArray("buffers");
    if (!m_Error.m_Message.empty())
        return false;
    const size_t count = buffers ? buffers->GetSize() : 0;
    m_Buffers.resize(count);
    for (size_t i = 0; i < count; ++i)
    {
        const CJsonValue& buffer = (*buffers)[i];
        size_t byteLength = 0;
        if (!buffer.IsObject())
            return Fail("buffer %zu is not an object", i);
        if (!ReadSize(buffer, "byteLength", byteLength, true, "buffer", i))
            return false;
        const CJsonValue* uri = buffer.Find("uri");
        CBuffer& out = m_Buffers[i];
        if (!uri)
        {
            if (!m_IsGlb || i != 0 || !m_GlbBin.m_Data)
                return Fail("buffer %zu has no uri and there is no binary chunk for it", i);
            out = m_GlbBin;
        }
        else if (!uri->IsString())
            return Fail("buffer %zu: uri is not a string", i);
        else if (uri->GetString().compare(0, 5, "data:") == 0)
        {
            const std::string& text = uri->GetString();
            const size_t comma = text.find(',');
            if (comma == std::string::npos || comma < 7 ||
                text.compare(comma - 7, 7, ";base64") != 0)
                return Fail("buffer %zu: only base64 data URIs are read", i);
            m_Decoded.emplace_back();
            size_t bad = 0;
            if (!DecodeBase64(std::string_view(text).substr(comma + 1), m_Decoded.back(), bad))
                return Fail("buffer %zu: bad base64 character at position %zu of its data", i,
                            bad);
            out = {m_Decoded.back().data(), m_Decoded.back().size()};
        }
        else
        {
            if (!m_Source.m_AllowExternal)
                return FailResult(_IoResultFileNotFound,
                                  "buffer %zu: external files are not read here", i);
            const std::string name = DecodePercent(uri->GetString());
            if (name.empty() || name[0] == '/' || name.find(':') != std::string::npos)
                return FailResult(_IoResultFileNotFound,
                                  "buffer %zu: \"%s\" is not a relative file name", i,
                                  name.substr(0, 200).c_str());
            auto file = std::make_unique<zanplugin::CMappedFile>();
            const std::string path = m_Source.m_Folder + name;
            if (!file->Open(path.c_str()))
                return FailResult(_IoResultFileNotFound, "buffer %zu: cannot open %s: %s", i,
                                  path.substr(0, 300).c_str(), file->GetError().c_str());
            out = {reinterpret_cast<const uint8_t*>(file->GetData()), file->GetSize()};
            m_Files.push_back(std::move(file));
        }
        if (out.m_Size < byteLength)
            return Fail("buffer %zu declares %zu bytes but holds %zu", i, byteLength, out.m_Size);
        out.m_Size = byteLength; // nothing past the declared length is read
    }
    return true;
}

bool CReader::LoadViews()
{
    const CJsonValue* views = GetArray("bufferViews");
    if (!m_Error.m_Message.empty())
        return false;
    const size_t count = views ? views->GetSize() : 0;
    m_Views.resize(count);
    for (size_t i = 0; i < count; ++i)
    {
        const CJsonValue& view = (*views)[i];
        CView& out = m_Views[i];
        if (!view.IsObject())
            return Fail("buffer view %zu is not an object", i);
        if (!ReadIndex(view, "buffer", m_Buffers.size(), out.m_Buffer, true, "buffer view", i,
                       "buffers") ||
            !ReadSize(view, "byteOffset", out.m_Offset, false, "buffer view", i) ||
            !ReadSize(view, "byteLength", out.m_Length, true, "buffer view", i) ||
            !ReadSize(view, "byteStride", out.m_Stride, false, "buffer view", i))
            return false;
        const size_t size = m_Buffers[out.m_Buffer].m_Size;
        if (out.m_Offset > size || out.m_Length > size - out.m_Offset)
            return Fail("buffer view %zu: bytes %zu to %zu lie past the %zu bytes of buffer %zu",
                        i, out.m_Offset, out.m_Offset + out.m_Length, size, out.m_Buffer);
        if (out.m_Stride != 0 && (out.m_Stride < 4 || out.m_Stride > 252))
            return Fail("buffer view %zu: byteStride %zu is not between 4 and 252", i,
                        out.m_Stride);
    }
    return true;
}

bool CReader::LoadAccessors()
{
    const CJsonValue* accessors = GetArray("accessors");
    if (!m_Error.m_Message.empty())
        return false;
    const size_t count = accessors ? accessors->GetSize() : 0;
    m_Accessors.resize(count);
    for (size_t i = 0; i < count; ++i)
    {
        const CJsonValue& accessor = (*accessors)[i];
        CAccessor& out = m_Accessors[i];
        if (!accessor.IsObject())
            return Fail("accessor %zu is not an object", i);
        size_t viewIndex = 0, offset = 0, componentType = 0;
        if (!accessor.Find("bufferView"))
            return Fail("accessor %zu has no buffer view (sparse-only accessors are not read)",
                        i);
        if (!ReadIndex(accessor, "bufferView", m_Views.size(), viewIndex, true, "accessor", i,
                       "buffer views") ||
            !ReadSize(accessor, "byteOffset", offset, false, "accessor", i) ||
            !ReadSize(accessor, "componentType", componentType, true, "accessor", i) ||
            !ReadSize(accessor, "count", out.m_Count, true, "accessor", i))
            return false;
        size_t componentSize = 0;
        switch (componentType)
        {
        case 5120:
        case 5121: componentSize = 1; break;
        case 5122:
        case 5123: componentSize = 2; break;
        case 5125:
        case 5126: componentSize = 4; break;
        default: return Fail("accessor %zu: unknown componentType %zu", i, componentType);
        }
        out.m_ComponentType = unsigned(componentType);
        const CJsonValue* type = accessor.Find("type");
        const std::string typeName = type && type->IsString() ? type->GetString() : "";
        static const struct
        {
            const char* m_Name;
            unsigned m_Components;
        } kTypes[] = {{"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3}, {"VEC4", 4},
                      {"MAT2", 4},   {"MAT3", 9}, {"MAT4", 16}};
        for (const auto& known : kTypes)
            if (typeName == known.m_Name)
                out.m_Components = known.m_Components;
        if (out.m_Components == 0)
            return Fail("accessor %zu: unknown type \"%s\"", i, typeName.substr(0, 32).c_str());
        if (const CJsonValue* normalized = accessor.Find("normalized"))
            out.m_Normalized = normalized->IsBool() && normalized->GetBool();
        if (out.m_Count == 0)
            return Fail("accessor %zu: count is 0", i);
        const CView& view = m_Views[viewIndex];
        const size_t elementSize = componentSize * out.m_Components;
        out.m_Stride = view.m_Stride ? view.m_Stride : elementSize;
        if (out.m_Stride < elementSize)
            return Fail("accessor %zu: elements of %zu bytes do not fit the stride of %zu", i,
                        elementSize, out.m_Stride);
        // count is checked against the view before it is multiplied.
        if (out.m_Count > view.m_Length || offset > view.m_Length ||
            uint64_t(out.m_Stride) * (out.m_Count - 1) + elementSize > view.m_Length - offset)
            return Fail("accessor %zu: %zu elements from byte %zu run past the %zu bytes of "
                        "buffer view %zu",
                        i, out.m_Count, offset, view.m_Length, viewIndex);
        out.m_First = m_Buffers[view.m_Buffer].m_Data + view.m_Offset + offset;
    }
    return true;
}

// Component k of an element as a float, integers normalised when the accessor says so.
float ReadComponent(const CAccessor& accessor, const uint8_t* element, unsigned k)
{
    switch (accessor.m_ComponentType)
    {
    case 5126:
    {
        float value;
        std::memcpy(&value, element + 4 * k, 4);
        return value;
    }
    case 5120:
    {
        const float value = float(int8_t(element[k]));
        return accessor.m_Normalized ? std::max(value / 127.0f, -1.0f) : value;
    }
    case 5121:
        return accessor.m_Normalized ? float(element[k]) / 255.0f : float(element[k]);
    case 5122:
    {
        int16_t value;
        std::memcpy(&value, element + 2 * k, 2);
        return accessor.m_Normalized ? std::max(float(value) / 32767.0f, -1.0f) : float(value);
    }
    case 5123:
    {
        uint16_t value;
        std::memcpy(&value, element + 2 * k, 2);
        return accessor.m_Normalized ? float(value) / 65535.0f : float(value);
    }
    default:
    {
        uint32_t value;
        std::memcpy(&value, element + 4 * k, 4);
        return accessor.m_Normalized ? float(double(value) / 4294967295.0) : float(value);
    }
    }
}

// Appends the accessor's elements to \p out, \p components values each.
bool CReader::ReadFloats(size_t accessorIndex, unsigned components, std::vector<float>& out,
                         const char* what)
{
    const CAccessor& accessor = m_Accessors[accessorIndex];
    if (accessor.m_Components < components || accessor.m_Components > 4)
        return Fail("accessor %zu: %s needs %u components, it has %u", accessorIndex, what,
                    components, accessor.m_Components);
    const size_t start = out.size();
    out.resize(start + accessor.m_Count * components);
    float* values = out.data() + start;
    if (accessor.m_ComponentType == 5126 && accessor.m_Stride == 4 * components)
        std::memcpy(values, accessor.m_First, accessor.m_Count * components * 4); // packed
    else
        for (size_t i = 0; i < accessor.m_Count; ++i)
        {
            const uint8_t* element = accessor.m_First + i * accessor.m_Stride;
            for (unsigned k = 0; k < components; ++k)
                values[i * components + k] = ReadComponent(accessor, element, k);
        }
    for (size_t i = 0, n = accessor.m_Count * components; i < n; ++i)
        if (!std::isfinite(values[i]))
            return Fail("accessor %zu: element %zu of the %s is not a finite number",
                        accessorIndex, i / components, what);
    return true;
}

bool CReader::ReadIndices(size_t accessorIndex, std::vector<uint32_t>& out)
{
    const CAccessor& accessor = m_Accessors[accessorIndex];
    if (accessor.m_Components != 1 ||
        (accessor.m_ComponentType != 5121 && accessor.m_ComponentType != 5123 &&
         accessor.m_ComponentType != 5125))
        return Fail("accessor %zu: indices must be unsigned scalars", accessorIndex);
    out.resize(accessor.m_Count);
    for (size_t i = 0; i < accessor.m_Count; ++i)
    {
        const uint8_t* element = accessor.m_First + i * accessor.m_Stride;
        switch (accessor.m_ComponentType)
        {
        case 5121: out[i] = element[0]; break;
        case 5123:
        {
            uint16_t value;
            std::memcpy(&value, element, 2);
            out[i] = value;
            break;
        }
        default: std::memcpy(&out[i], element, 4); break;
        }
    }
    return true;
}

unsigned CReader::GetDefaultMaterial()
{
    if (m_DefaultMaterial == kZanNone)
    {
        C3DMaterial* material = m_Scene->CreateNewMaterial();
        material->SetName("Default");
        m_DefaultMaterial = material->GetMaterialID();
    }
    return m_DefaultMaterial;
}

bool CReader::LoadMaterials()
{
    const CJsonValue* materials = GetArray("materials");
    const CJsonValue* textures = GetArray("textures");
    const CJsonValue* images = GetArray("images");
    if (!m_Error.m_Message.empty())
        return false;
    const size_t count = materials ? materials->GetSize() : 0;
    for (size_t i = 0; i < count; ++i)
    {
        const CJsonValue& source = (*materials)[i];
        if (!source.IsObject())
            return Fail("material %zu is not an object", i);
        C3DMaterial* material = m_Scene->CreateNewMaterial();
        m_MaterialIDs.push_back(material->GetMaterialID());
        const CJsonValue* name = source.Find("name");
        char fallback[32];
        std::snprintf(fallback, sizeof fallback, "Material%zu", i);
        material->SetName(name && name->IsString() && !name->GetString().empty()
                              ? CXTString(name->GetString().c_str())
                              : CXTString(fallback));
        const CJsonValue* pbr = source.Find("pbrMetallicRoughness");
        if (!pbr || !pbr->IsObject())
        {
            material->SetDiffuseColor(0, CRGBColor(255, 255, 255));
            continue;
        }
        float factor[4] = {1, 1, 1, 1};
        if (const CJsonValue* color = pbr->Find("baseColorFactor"))
        {
            if (!color->IsArray() || color->GetSize() != 4)
                return Fail("material %zu: baseColorFactor is not 4 numbers", i);
            for (size_t k = 0; k < 4; ++k)
            {
                if (!(*color)[k].IsNumber())
                    return Fail("material %zu: baseColorFactor is not 4 numbers", i);
                factor[k] = float(std::clamp((*color)[k].GetNumber(), 0.0, 1.0));
            }
        }
        auto byte = [](float v) { return uint8_t(std::lround(v * 255.0f)); };
        material->SetDiffuseColor(0, CRGBColor(byte(factor[0]), byte(factor[1]), byte(factor[2])));
        material->SetTransparencyFactor(0, 1.0f - factor[3]);
        const CJsonValue* texture = pbr->Find("baseColorTexture");
        if (!texture)
            continue;
        size_t textureIndex = 0, imageIndex = 0;
        if (!texture->IsObject() ||
            !ReadIndex(*texture, "index", textures ? textures->GetSize() : 0, textureIndex, true,
                       "material", i, "textures"))
            return Fail("material %zu: baseColorTexture has no valid index", i);
        const CJsonValue& textureObject = (*textures)[textureIndex];
        if (!textureObject.IsObject() || !textureObject.Find("source"))
            continue; // a texture without image (an extension's) maps nothing we can read
        if (!ReadIndex(textureObject, "source", images ? images->GetSize() : 0, imageIndex, true,
                       "texture", textureIndex, "images"))
            return false;
        const CJsonValue& image = (*images)[imageIndex];
        const CJsonValue* uri = image.Find("uri");
        std::string fileName;
        if (uri && uri->IsString() && uri->GetString().compare(0, 5, "data:") != 0)
            fileName = DecodePercent(uri->GetString());
        else
        {
            const CJsonValue* imageName = image.Find("name");
            char index[32];
            std::snprintf(index, sizeof index, "image%zu", imageIndex);
            fileName = std::string("embedded:") +
                       (imageName && imageName->IsString() && !imageName->GetString().empty()
                            ? imageName->GetString()
                            : std::string(index));
        }
        // The texture coordinate set the map reads: TEXCOORD_0 or TEXCOORD_1 (further sets
        // are not read: the map then follows the first).
        size_t set = 0;
        if (!ReadSize(*texture, "texCoord", set, false, "material", i))
            return false;
        material->AddMaterialMap(CXTString(fileName.c_str()), GetUVChannelID(set == 1 ? 1 : 0),
                                 _MapDiffuse,
                                 _ProjectionChannel);
    }
    return true;
}

bool CReader::AddPrimitive(size_t meshIndex, size_t primIndex, const CJsonValue& primitive,
                           CMeshData& mesh)
{
    if (!primitive.IsObject())
        return Fail("mesh %zu primitive %zu is not an object", meshIndex, primIndex);
    size_t mode = 4;
    if (!ReadSize(primitive, "mode", mode, false, "primitive of mesh", meshIndex))
        return false;
    if (mode < 4 || mode > 6)
        return true; // points and lines
    const CJsonValue* attributes = primitive.Find("attributes");
    if (!attributes || !attributes->IsObject())
        return Fail("mesh %zu primitive %zu has no attributes", meshIndex, primIndex);
    size_t positionIndex = 0;
    if (!ReadIndex(*attributes, "POSITION", m_Accessors.size(), positionIndex, true,
                   "attributes of mesh", meshIndex, "accessors"))
        return false;
    const size_t base = mesh.m_Points.size() / 3;
    if (!ReadFloats(positionIndex, 3, mesh.m_Points, "positions"))
        return false;
    const size_t vertexCount = mesh.m_Points.size() / 3 - base;

    std::vector<uint32_t> indices;
    size_t indexCount = vertexCount;
    if (primitive.Find("indices"))
    {
        size_t indicesIndex = 0;
        if (!ReadIndex(primitive, "indices", m_Accessors.size(), indicesIndex, true,
                       "primitive of mesh", meshIndex, "accessors") ||
            !ReadIndices(indicesIndex, indices))
            return false;
        indexCount = indices.size();
        for (size_t i = 0; i < indexCount; ++i)
            if (indices[i] >= vertexCount)
                return Fail("mesh %zu primitive %zu: index %u is outside the %zu vertices",
                            meshIndex, primIndex, indices[i], vertexCount);
    }
    const size_t triangles = mode == 4 ? indexCount / 3 : (indexCount >= 3 ? indexCount - 2 : 0);
    m_Elements += vertexCount + 3 * uint64_t(triangles);
    if (m_Elements > kMaxElements || base + vertexCount > size_t(INT32_MAX))
        return FailResult(_IoResultReadError,
                          "mesh %zu: the file needs more than %llu vertices and corners",
                          meshIndex, static_cast<unsigned long long>(kMaxElements));

    size_t materialIndex = 0;
    unsigned materialID;
    if (primitive.Find("material"))
    {
        if (!ReadIndex(primitive, "material", m_MaterialIDs.size(), materialIndex, true,
                       "primitive of mesh", meshIndex, "materials"))
            return false;
        materialID = m_MaterialIDs[materialIndex];
    }
    else
        materialID = GetDefaultMaterial();

    // Optional attributes; a primitive without one gets neutral values so that the channels
    // stay parallel to the points of the whole mesh. Colours have 3 or 4 components.
    auto optional = [&](const char* key, unsigned components, std::vector<float>& values,
                        unsigned& present, const char* what) -> bool
    {
        present = 0;
        if (!attributes->Find(key))
            return true;
        size_t index = 0;
        if (!ReadIndex(*attributes, key, m_Accessors.size(), index, true, "attributes of mesh",
                       meshIndex, "accessors"))
            return false;
        const CAccessor& accessor = m_Accessors[index];
        if (accessor.m_Count != vertexCount)
            return Fail("mesh %zu primitive %zu: %s has %zu elements for %zu positions",
                        meshIndex, primIndex, key, accessor.m_Count, vertexCount);
        if (components == 0)
            components = accessor.m_Components == 4 ? 4 : 3;
        present = components;
        return ReadFloats(index, components, values, what);
    };
    std::vector<float> normals, uvs[2], colors;
    unsigned hasNormals, hasUVs[2], hasColors;
    if (!optional("NORMAL", 3, normals, hasNormals, "normals") ||
        !optional("TEXCOORD_0", 2, uvs[0], hasUVs[0], "texture coordinates") ||
        !optional("TEXCOORD_1", 2, uvs[1], hasUVs[1], "texture coordinates") ||
        !optional("COLOR_0", 0, colors, hasColors, "colours"))
        return false;

    // Channel values exist from the first primitive that has them; BuildMesh pads the rest.
    mesh.m_HasNormals |= hasNormals != 0;
    for (size_t set = 0; set < 2; ++set)
        mesh.m_HasUVs[set] |= hasUVs[set] != 0;
    mesh.m_HasColors |= hasColors != 0;
    if (mesh.m_HasNormals)
    {
        mesh.m_Normals.resize(mesh.m_Points.size(), 0.0f);
        mesh.m_NormalDefined.resize(base + vertexCount, 0);
    }
    for (size_t set = 0; set < 2; ++set)
        if (mesh.m_HasUVs[set])
            mesh.m_UVs[set].resize((base + vertexCount) * 2, 0.0f);
    if (mesh.m_HasColors)
        mesh.m_Colors.resize((base + vertexCount) * 4, 255);
    for (size_t i = 0; i < vertexCount; ++i)
    {
        if (hasNormals)
        {
            for (int k = 0; k < 3; ++k)
                mesh.m_Normals[(base + i) * 3 + k] = normals[i * 3 + k];
            mesh.m_NormalDefined[base + i] = 1;
        }
        for (size_t set = 0; set < 2; ++set)
            if (hasUVs[set])
            {
                mesh.m_UVs[set][(base + i) * 2] = uvs[set][i * 2];
                mesh.m_UVs[set][(base + i) * 2 + 1] = 1.0f - uvs[set][i * 2 + 1];
            }
        if (hasColors)
            for (int k = 0; k < 4; ++k)
            {
                const float value = k < int(hasColors) ? colors[i * hasColors + k] : 1.0f;
                mesh.m_Colors[(base + i) * 4 + k] =
                    uint8_t(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
            }
    }

    auto corner = [&](size_t i) { return int(base + (indices.empty() ? i : indices[i])); };
    mesh.m_Corners.reserve(mesh.m_Corners.size() + 3 * triangles);
    for (size_t t = 0; t < triangles; ++t)
    {
        int a, b, c;
        if (mode == 4)
            a = corner(3 * t), b = corner(3 * t + 1), c = corner(3 * t + 2);
        else if (mode == 5) // strips alternate their winding
            a = corner(t), b = corner(t + 1 + t % 2), c = corner(t + 2 - t % 2);
        else
            a = corner(t + 1), b = corner(t + 2), c = corner(0);
        mesh.m_Corners.insert(mesh.m_Corners.end(), {a, b, c});
        mesh.m_Materials.push_back(materialID);
    }
    return true;
}

C3DObject* CReader::BuildMesh(size_t meshIndex)
{
    const CJsonValue& source = (*m_Root.Find("meshes"))[meshIndex];
    const CJsonValue* primitives = source.IsObject() ? source.Find("primitives") : nullptr;
    if (!primitives || !primitives->IsArray())
    {
        Fail("mesh %zu has no primitives", meshIndex);
        return nullptr;
    }
    CMeshData data;
    for (size_t p = 0; p < primitives->GetSize(); ++p)
        if (!AddPrimitive(meshIndex, p, (*primitives)[p], data))
            return nullptr;

    const size_t pointCount = data.m_Points.size() / 3;
    const size_t faceCount = data.m_Materials.size();
    if (data.m_HasNormals)
    {
        data.m_Normals.resize(pointCount * 3, 0.0f);
        data.m_NormalDefined.resize(pointCount, 0);
    }
    for (size_t set = 0; set < 2; ++set)
        if (data.m_HasUVs[set])
            data.m_UVs[set].resize(pointCount * 2, 0.0f);
    if (data.m_HasColors)
        data.m_Colors.resize(pointCount * 4, 255);
    auto* object = new C3DObject;
    auto* points = C3DPointList::Create();
    auto* faces = C3DFaceList::Create();
    object->SetPointList(points, true);
    object->SetFaceList(faces, true);
    if (!points->SetSize(int(pointCount)) ||
        !faces->AddFaces(data.m_Corners.data(), unsigned(faceCount), 3, unsigned(pointCount)))
    {
        object->Delete();
        FailResult(_IoResultReadError, "mesh %zu: not enough memory for its geometry", meshIndex);
        return nullptr;
    }
    auto view = points->GetPointView();
    for (size_t i = 0; i < pointCount; ++i)
        view[i].Set(data.m_Points[3 * i], data.m_Points[3 * i + 1], data.m_Points[3 * i + 2]);
    for (size_t f = 0; f < faceCount; ++f)
        faces->SetFaceMaterial(unsigned(f), data.m_Materials[f]);

    if (data.m_HasNormals)
    {
        auto* channel = new CSpecNormalChannel;
        C3DVectorList& vectors = *channel->GetNormalVectorList();
        vectors.SetSize(int(pointCount));
        for (size_t i = 0; i < pointCount; ++i)
        {
            if (data.m_NormalDefined[i])
                vectors[int(i)].Set(data.m_Normals[3 * i], data.m_Normals[3 * i + 1],
                                    data.m_Normals[3 * i + 2]);
            else
                vectors[int(i)].SetFlags(_NormalUndefined);
        }
        channel->GetNormalFaceList()->SetSize(*faces);
        object->AddChannel(channel);
    }
    for (size_t set = 0; set < 2; ++set)
    {
        if (!data.m_HasUVs[set])
            continue;
        auto* channel =
            static_cast<CUVWChannel*>(CChannel::Create(_ChannelUVW, GetUVChannelID(set)));
        CUVWPointList& values = *channel->GetUVWPointList();
        values.SetSize(int(pointCount));
        const std::vector<float>& uvs = data.m_UVs[set];
        for (size_t i = 0; i < pointCount; ++i)
            values[int(i)] = CUVWPoint(uvs[2 * i], uvs[2 * i + 1], 0);
        channel->GetFaceList()->SetSize(*faces);
        object->AddChannel(channel);
    }
    if (data.m_HasColors)
    {
        auto* channel = static_cast<CVCChannel*>(CChannel::Create(_ChannelVC));
        CVCPointList& values = *channel->GetVCPointList();
        values.SetSize(int(pointCount));
        for (size_t i = 0; i < pointCount; ++i)
        {
            const uint8_t* c = &data.m_Colors[4 * i];
            values[int(i)] = CVCPoint(CRGBColor(c[0], c[1], c[2], c[3]));
        }
        channel->GetFaceList()->SetSize(*faces);
        object->AddChannel(channel);
    }
    return object;
}

bool CReader::ReadNodeMatrix(size_t nodeIndex, const CJsonValue& node, C4x4TMatrix<float>& matrix,
                             bool& hasMatrix)
{
    auto numbers = [&](const char* key, size_t count, double* out) -> int
    {
        const CJsonValue* value = node.Find(key);
        if (!value)
            return 0;
        if (!value->IsArray() || value->GetSize() != count)
            return -1;
        for (size_t i = 0; i < count; ++i)
        {
            if (!(*value)[i].IsNumber())
                return -1;
            out[i] = (*value)[i].GetNumber();
        }
        return 1;
    };
    double m[16] = {};
    double t[3] = {0, 0, 0}, r[4] = {0, 0, 0, 1}, s[3] = {1, 1, 1};
    const int hasM = numbers("matrix", 16, m);
    const int hasT = numbers("translation", 3, t);
    const int hasR = numbers("rotation", 4, r);
    const int hasS = numbers("scale", 3, s);
    if (hasM < 0 || hasT < 0 || hasR < 0 || hasS < 0)
        return Fail("node %zu: matrix, translation, rotation or scale has the wrong size",
                    nodeIndex);
    hasMatrix = hasM || hasT || hasR || hasS;
    if (hasM)
    {
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 4; ++col)
                matrix[row][col] = float(m[col * 4 + row]); // stored column by column
        return true;
    }
    const double length = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2] + r[3] * r[3]);
    if (length < 1e-12)
        return Fail("node %zu: the rotation quaternion is zero", nodeIndex);
    const double x = r[0] / length, y = r[1] / length, z = r[2] / length, w = r[3] / length;
    const double rotation[3][3] = {
        {1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
        {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
        {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    for (int row = 0; row < 3; ++row)
    {
        for (int col = 0; col < 3; ++col)
            matrix[row][col] = float(rotation[row][col] * s[col]);
        matrix[row][3] = float(t[row]);
    }
    return true;
}

// A number member, left as it is when absent; anything but a finite number is refused.
bool CReader::ReadOptionalNumber(const CJsonValue& owner, const char* key, double& value,
                                 const char* what, size_t ownerIndex)
{
    const CJsonValue* member = owner.Find(key);
    if (!member)
        return true;
    if (!member->IsNumber() || !std::isfinite(member->GetNumber()))
        return Fail("%s %zu: %s is not a number", what, ownerIndex, key);
    value = member->GetNumber();
    return true;
}

// glTF cameras look down their local -Z axis with +Y up, as ours do.
C3DCamera* CReader::BuildCamera(size_t cameraIndex)
{
    const CJsonValue& source = (*m_Root.Find("cameras"))[cameraIndex];
    const CJsonValue* type = source.IsObject() ? source.Find("type") : nullptr;
    if (!type || !type->IsString() ||
        (type->GetString() != "perspective" && type->GetString() != "orthographic"))
    {
        Fail("camera %zu: the type is neither perspective nor orthographic", cameraIndex);
        return nullptr;
    }
    const bool perspective = type->GetString() == "perspective";
    const CJsonValue* projection = source.Find(type->GetString());
    if (!projection || !projection->IsObject())
    {
        Fail("camera %zu: its %s parameters are missing", cameraIndex, type->GetString().c_str());
        return nullptr;
    }
    double fov = 0, aspect = 0, nearClip = -1, farClip = -1, xmag = 0, ymag = 0;
    if (!ReadOptionalNumber(*projection, "znear", nearClip, "camera", cameraIndex) ||
        !ReadOptionalNumber(*projection, "zfar", farClip, "camera", cameraIndex) ||
        !ReadOptionalNumber(*projection, "yfov", fov, "camera", cameraIndex) ||
        !ReadOptionalNumber(*projection, "aspectRatio", aspect, "camera", cameraIndex) ||
        !ReadOptionalNumber(*projection, "xmag", xmag, "camera", cameraIndex) ||
        !ReadOptionalNumber(*projection, "ymag", ymag, "camera", cameraIndex))
        return nullptr;
    auto camera = std::make_unique<C3DCamera>();
    camera->SetProjection(perspective ? _ProjectionPerspective : _ProjectionOrthographic);
    // yfov is required for a perspective camera; the aspect ratio and far plane may be left
    // to the viewer (an infinite projection has no far plane).
    if (perspective && !camera->SetFov(fov))
    {
        Fail("camera %zu: yfov %g is not an angle between 0 and pi", cameraIndex, fov);
        return nullptr;
    }
    if (!perspective && xmag != 0 && ymag != 0)
        aspect = std::fabs(xmag / ymag);
    if (aspect > 0 && !camera->SetAspectRatio(aspect))
    {
        Fail("camera %zu: the aspect ratio %g is not valid", cameraIndex, aspect);
        return nullptr;
    }
    if (!camera->SetNearFarClip(nearClip, farClip))
    {
        Fail("camera %zu: znear %g and zfar %g do not make a view range", cameraIndex, nearClip,
             farClip);
        return nullptr;
    }
    return camera.release();
}

const CJsonValue* CReader::GetLights()
{
    const CJsonValue* extensions = m_Root.Find("extensions");
    const CJsonValue* punctual =
        extensions && extensions->IsObject() ? extensions->Find("KHR_lights_punctual") : nullptr;
    const CJsonValue* lights = punctual && punctual->IsObject() ? punctual->Find("lights") : nullptr;
    return lights && lights->IsArray() ? lights : nullptr;
}

// The punctual lights of KHR_lights_punctual shine down their local -Z axis, as ours do. Their
// cone angles are measured from the axis; ours span the whole cone.
C3DLight* CReader::BuildLight(size_t lightIndex)
{
    const CJsonValue& source = (*GetLights())[lightIndex];
    const CJsonValue* type = source.IsObject() ? source.Find("type") : nullptr;
    const std::string kind = type && type->IsString() ? type->GetString() : "";
    if (kind != "directional" && kind != "point" && kind != "spot")
    {
        Fail("light %zu: the type is not directional, point or spot", lightIndex);
        return nullptr;
    }
    double color[3] = {1, 1, 1};
    if (const CJsonValue* value = source.Find("color"))
    {
        if (!value->IsArray() || value->GetSize() != 3)
        {
            Fail("light %zu: color is not 3 numbers", lightIndex);
            return nullptr;
        }
        for (size_t k = 0; k < 3; ++k)
        {
            if (!(*value)[k].IsNumber() || !std::isfinite((*value)[k].GetNumber()))
            {
                Fail("light %zu: color is not 3 numbers", lightIndex);
                return nullptr;
            }
            color[k] = std::clamp((*value)[k].GetNumber(), 0.0, 1.0);
        }
    }
    double intensity = 1, range = 0, inner = 0, outer = 3.14159265358979323846 / 4;
    if (!ReadOptionalNumber(source, "intensity", intensity, "light", lightIndex) ||
        !ReadOptionalNumber(source, "range", range, "light", lightIndex))
        return nullptr;
    if (kind == "spot")
    {
        const CJsonValue* spot = source.Find("spot");
        if (spot && (!spot->IsObject() ||
                     !ReadOptionalNumber(*spot, "innerConeAngle", inner, "light", lightIndex) ||
                     !ReadOptionalNumber(*spot, "outerConeAngle", outer, "light", lightIndex)))
        {
            if (m_Error.m_Message.empty())
                Fail("light %zu: spot is not an object", lightIndex);
            return nullptr;
        }
    }
    auto light = std::make_unique<C3DLight>();
    light->SetLightKind(kind == "directional" ? _LightDirectional
                        : kind == "point"     ? _LightOmni
                                              : _LightSpot);
    auto byte = [](double v) { return uint8_t(std::lround(v * 255.0)); };
    light->SetColor(CRGBColor(byte(color[0]), byte(color[1]), byte(color[2])));
    if (!light->SetIntensity(intensity) || (range > 0 && !light->SetOuterRadius(range)))
    {
        Fail("light %zu: the intensity or range is not valid", lightIndex);
        return nullptr;
    }
    if (kind == "spot" && (!(inner >= 0 && inner < outer) || !light->SetOuterAngle(2 * outer) ||
                           !light->SetInnerAngle(2 * inner)))
    {
        Fail("light %zu: the cone angles %g and %g are not valid", lightIndex, inner, outer);
        return nullptr;
    }
    return light.release();
}

// A camera or light of a node that has a mesh (or a camera and a light) gets a child node of
// its own, without a transformation.
bool CReader::AddChildObject(C3DSceneNode* parent, C3DBaseObject* object, const std::string& name)
{
    auto* node = new C3DSceneNode;
    node->SetName(CXTString(name.c_str()));
    node->SetObject(object);
    if (!m_Scene->AddNode(parent, node))
    {
        node->Delete();
        return Fail("the node '%s' could not be added to the scene", name.c_str());
    }
    return true;
}

bool CReader::BuildNodes()
{
    const CJsonValue* nodes = GetArray("nodes");
    const CJsonValue* meshes = GetArray("meshes");
    const CJsonValue* scenes = GetArray("scenes");
    if (!m_Error.m_Message.empty())
        return false;
    const size_t nodeCount = nodes ? nodes->GetSize() : 0;
    const size_t meshCount = meshes ? meshes->GetSize() : 0;
    m_Meshes.assign(meshCount, nullptr);
    const CJsonValue* cameras = GetArray("cameras");
    if (!m_Error.m_Message.empty())
        return false;
    const size_t cameraCount = cameras ? cameras->GetSize() : 0;
    const CJsonValue* lights = GetLights();
    const size_t lightCount = lights ? lights->GetSize() : 0;

    // Parents first: a node with two parents, or a child index out of range, is refused.
    std::vector<size_t> parent(nodeCount, SIZE_MAX);
    for (size_t i = 0; i < nodeCount; ++i)
    {
        const CJsonValue& node = (*nodes)[i];
        if (!node.IsObject())
            return Fail("node %zu is not an object", i);
        const CJsonValue* children = node.Find("children");
        if (!children)
            continue;
        if (!children->IsArray())
            return Fail("node %zu: children is not an array", i);
        for (size_t k = 0; k < children->GetSize(); ++k)
        {
            const double value = (*children)[k].IsNumber() ? (*children)[k].GetNumber() : -1;
            if (value < 0 || value != std::floor(value) || value >= double(nodeCount))
                return Fail("node %zu: child %zu is not one of the %zu nodes", i, k, nodeCount);
            const size_t child = size_t(value);
            if (child == i)
                return Fail("node %zu is its own child", i);
            if (parent[child] != SIZE_MAX)
                return Fail("node %zu has two parents (nodes %zu and %zu)", child, parent[child],
                            i);
            parent[child] = i;
        }
    }

    // Every chain of parents must end: follow each one, marking the nodes on the way (1) and
    // those known to lead to a root (2); meeting a node marked 1 closes a cycle.
    {
        std::vector<uint8_t> state(nodeCount, 0);
        std::vector<size_t> chain;
        for (size_t i = 0; i < nodeCount; ++i)
        {
            size_t at = i;
            chain.clear();
            while (at != SIZE_MAX && state[at] == 0)
            {
                state[at] = 1;
                chain.push_back(at);
                at = parent[at];
            }
            if (at != SIZE_MAX && state[at] == 1)
                return Fail("node %zu is its own ancestor: the node graph has a cycle", at);
            for (const size_t done : chain)
                state[done] = 2;
        }
    }

    // The roots: the default scene's, else scene 0's, else every node without parent.
    std::vector<size_t> roots;
    const CJsonValue* sceneList = nullptr;
    if (scenes && scenes->GetSize() > 0)
    {
        size_t sceneIndex = 0;
        if (!ReadIndex(m_Root, "scene", scenes->GetSize(), sceneIndex, false, "document", 0,
                       "scenes"))
            return false;
        const CJsonValue& scene = (*scenes)[sceneIndex];
        sceneList = scene.IsObject() ? scene.Find("nodes") : nullptr;
        if (sceneList && !sceneList->IsArray())
            return Fail("scene %zu: nodes is not an array", sceneIndex);
        for (size_t k = 0; sceneList && k < sceneList->GetSize(); ++k)
        {
            const double value = (*sceneList)[k].IsNumber() ? (*sceneList)[k].GetNumber() : -1;
            if (value < 0 || value != std::floor(value) || value >= double(nodeCount))
                return Fail("scene %zu: node %zu is not one of the %zu nodes", sceneIndex, k,
                            nodeCount);
            if (parent[size_t(value)] != SIZE_MAX)
                return Fail("scene %zu: node %zu is not a root node", sceneIndex, size_t(value));
            roots.push_back(size_t(value));
        }
    }
    else
        for (size_t i = 0; i < nodeCount; ++i)
            if (parent[i] == SIZE_MAX)
                roots.push_back(i);

    // Depth-first, with an explicit stack; a node met twice closes a cycle.
    std::vector<uint8_t> visited(nodeCount, 0);
    std::vector<std::pair<size_t, C3DSceneNode*>> stack;
    if (m_Source.m_Progress)
        m_Source.m_Progress->SetRange(0, int64_t(nodeCount));
    int64_t done = 0;
    for (auto it = roots.rbegin(); it != roots.rend(); ++it)
        stack.emplace_back(*it, nullptr);
    while (!stack.empty())
    {
        const auto [index, parentNode] = stack.back();
        stack.pop_back();
        if (visited[index])
            return Fail("node %zu is reached twice: the node graph has a cycle", index);
        visited[index] = 1;
        if (m_Source.m_Progress && m_Source.m_Progress->CheckStop(++done))
            return FailResult(_IoResultCancelled, "reading was stopped at node %zu", index);
        const CJsonValue& source = (*nodes)[index];

        C3DBaseObject* object = nullptr;
        const CJsonValue* name = source.Find("name");
        std::string nodeName = name && name->IsString() ? name->GetString() : "";
        // A camera and a light are built only once every check is past (nothing to release).
        size_t cameraIndex = SIZE_MAX, lightIndex = SIZE_MAX;
        if (source.Find("camera") &&
            !ReadIndex(source, "camera", cameraCount, cameraIndex, true, "node", index, "cameras"))
            return false;
        if (const CJsonValue* extensions = source.Find("extensions"))
            if (const CJsonValue* punctual =
                    extensions->IsObject() ? extensions->Find("KHR_lights_punctual") : nullptr)
                if (!punctual->IsObject() || !ReadIndex(*punctual, "light", lightCount, lightIndex,
                                                        true, "node", index, "lights"))
                    return m_Error.m_Message.empty()
                               ? Fail("node %zu: KHR_lights_punctual is not an object", index)
                               : false;
        const bool hasMesh = source.Find("mesh") != nullptr;
        if (hasMesh)
        {
            size_t meshIndex = 0;
            if (!ReadIndex(source, "mesh", meshCount, meshIndex, true, "node", index, "meshes"))
                return false;
            if (!m_Meshes[meshIndex])
            {
                m_Meshes[meshIndex] = BuildMesh(meshIndex);
                if (!m_Meshes[meshIndex])
                    return false;
                object = m_Meshes[meshIndex];
            }
            else
                object = m_Scene->CreateObjectInstance(m_Meshes[meshIndex]);
            if (nodeName.empty())
            {
                const CJsonValue* meshName = (*meshes)[meshIndex].Find("name");
                nodeName = meshName && meshName->IsString() ? meshName->GetString() : "";
            }
            if (nodeName.empty())
                nodeName = m_Source.m_Name;
        }
        else if (cameraIndex != SIZE_MAX)
        {
            if (!(object = BuildCamera(cameraIndex)))
                return false;
            if (nodeName.empty())
                nodeName = "Camera" + std::to_string(cameraIndex);
        }
        else if (lightIndex != SIZE_MAX)
        {
            if (!(object = BuildLight(lightIndex)))
                return false;
            if (nodeName.empty())
                nodeName = "Light" + std::to_string(lightIndex);
        }
        else
        {
            object = new C3DGroup;
            if (nodeName.empty())
                nodeName = "Node" + std::to_string(index);
        }
        auto* node = new C3DSceneNode;
        node->SetName(CXTString(nodeName.c_str()));
        node->SetObject(object);
        if (!m_Scene->AddNode(parentNode, node))
        {
            node->Delete();
            return Fail("node %zu could not be added to the scene", index);
        }
        C4x4TMatrix<float> matrix;
        bool hasMatrix = false;
        if (!ReadNodeMatrix(index, source, matrix, hasMatrix))
            return false;
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 4; ++col)
                if (!std::isfinite(matrix[row][col]))
                    return Fail("node %zu: its transformation is not finite", index);
        if (hasMatrix && !matrix.IsIdentity())
            static_cast<C3DMatrixKey*>(node->CreateKey(0, kNodeMatrixKey))->SetMatrix(matrix);
        if (hasMesh && cameraIndex != SIZE_MAX)
        {
            C3DCamera* camera = BuildCamera(cameraIndex);
            if (!camera || !AddChildObject(node, camera, nodeName + " camera"))
                return false;
        }
        if ((hasMesh || cameraIndex != SIZE_MAX) && lightIndex != SIZE_MAX)
        {
            C3DLight* light = BuildLight(lightIndex);
            if (!light || !AddChildObject(node, light, nodeName + " light"))
                return false;
        }

        if (const CJsonValue* children = source.Find("children"))
            for (size_t k = children->GetSize(); k-- > 0;)
                stack.emplace_back(size_t((*children)[k].GetNumber()), node);
    }
    return true;
}

C3DScene* CReader::Read()
{
    std::string_view json;
    if (!ReadContainer(json))
        return nullptr;
    std::string jsonError;
    if (!ParseJson(json, m_Root, jsonError))
    {
        Fail("%sJSON: %s", m_IsGlb ? "binary glTF, " : "", jsonError.c_str());
        return nullptr;
    }
    if (!CheckAsset() || !LoadBuffers() || !LoadViews() || !LoadAccessors())
        return nullptr;
    m_Scene = C3DScene::Create();
    if (!LoadMaterials() || !BuildNodes())
    {
        // Meshes built but never given to a node are ours to release.
        m_Scene->Delete();
        return nullptr;
    }
    return m_Scene;
}
} // namespace

C3DScene* ReadGltf(const CGltfSource& source, CGltfError& error)
{
    error = CGltfError();
    CReader reader(source, error);
    return reader.Read();
}
} // namespace zangltf
