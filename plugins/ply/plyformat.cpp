// PLY decoding and encoding. The header is read into element and property declarations; the
// body is then walked element by element, record by record, from the mapped bytes. Every
// element's declared count is checked against the bytes left (each record needs at least its
// scalar sizes in binary, two characters a value in ASCII) before anything is allocated, so a
// tiny file cannot make the reader reserve memory for a huge count.
#include "plyformat.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

using zanplugin::CMeshData;

namespace
{
enum class EType : uint8_t
{
    Int8,
    UInt8,
    Int16,
    UInt16,
    Int32,
    UInt32,
    Float32,
    Float64
};

constexpr size_t kTypeSize[] = {1, 1, 2, 2, 4, 4, 4, 8};

size_t SizeOf(EType type)
{
    return kTypeSize[size_t(type)];
}

bool ParseType(std::string_view word, EType& type)
{
    static constexpr struct
    {
        const char* m_Name;
        EType m_Type;
    } kNames[] = {{"char", EType::Int8},      {"int8", EType::Int8},       {"uchar", EType::UInt8},
                  {"uint8", EType::UInt8},    {"short", EType::Int16},     {"int16", EType::Int16},
                  {"ushort", EType::UInt16},  {"uint16", EType::UInt16},   {"int", EType::Int32},
                  {"int32", EType::Int32},    {"uint", EType::UInt32},     {"uint32", EType::UInt32},
                  {"float", EType::Float32},  {"float32", EType::Float32}, {"double", EType::Float64},
                  {"float64", EType::Float64}};
    for (const auto& entry : kNames)
        if (word == entry.m_Name)
        {
            type = entry.m_Type;
            return true;
        }
    return false;
}

bool IsInteger(EType type)
{
    return type != EType::Float32 && type != EType::Float64;
}

struct CProperty
{
    std::string m_Name;
    bool m_List = false;
    EType m_CountType = EType::UInt8;
    EType m_Type = EType::Float32;
};

struct CElement
{
    std::string m_Name;
    uint64_t m_Count = 0;
    std::vector<CProperty> m_Properties;

    int Find(std::initializer_list<const char*> names) const
    {
        for (const char* name : names)
            for (size_t i = 0; i < m_Properties.size(); ++i)
                if (!m_Properties[i].m_List && m_Properties[i].m_Name == name)
                    return int(i);
        return -1;
    }
};

enum class EFormat
{
    Ascii,
    Little,
    Big
};

template <class T> T LoadRaw(const char* p, bool swap)
{
    using U = std::conditional_t<sizeof(T) == 1, uint8_t,
                                 std::conditional_t<sizeof(T) == 2, uint16_t,
                                                    std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
    U bits;
    std::memcpy(&bits, p, sizeof bits);
    if (swap)
    {
        if constexpr (sizeof(U) == 2)
            bits = __builtin_bswap16(bits);
        else if constexpr (sizeof(U) == 4)
            bits = __builtin_bswap32(bits);
        else if constexpr (sizeof(U) == 8)
            bits = __builtin_bswap64(bits);
    }
    return std::bit_cast<T>(bits);
}

double LoadValue(const char* p, EType type, bool swap)
{
    switch (type)
    {
    case EType::Int8: return LoadRaw<int8_t>(p, swap);
    case EType::UInt8: return LoadRaw<uint8_t>(p, swap);
    case EType::Int16: return LoadRaw<int16_t>(p, swap);
    case EType::UInt16: return LoadRaw<uint16_t>(p, swap);
    case EType::Int32: return LoadRaw<int32_t>(p, swap);
    case EType::UInt32: return LoadRaw<uint32_t>(p, swap);
    case EType::Float32: return LoadRaw<float>(p, swap);
    case EType::Float64: return LoadRaw<double>(p, swap);
    }
    return 0;
}

uint8_t ToColorByte(double value, EType type)
{
    if (!IsInteger(type))
        value *= 255.0;
    if (!(value > 0))
        return 0;
    if (value >= 255)
        return 255;
    return uint8_t(std::lround(value));
}

// The roles of the vertex element's properties.
enum ERole
{
    kRoleX,
    kRoleY,
    kRoleZ,
    kRoleNX,
    kRoleNY,
    kRoleNZ,
    kRoleU,
    kRoleV,
    kRoleRed,
    kRoleGreen,
    kRoleBlue,
    kRoleAlpha,
    kRoleNbr
};

class CPlyReader
{
public:
    CPlyReader(const char* data, size_t size, std::string& error, CProgressTask* progress)
        : m_Data(data), m_End(data + size), m_Error(error), m_Progress(progress)
    {
    }

    bool Read(CMeshData& mesh)
    {
        if (!ReadHeader())
            return false;
        const CElement* vertex = nullptr;
        for (const CElement& element : m_Elements)
            if (element.m_Name == "vertex")
                vertex = &element;
        if (!vertex)
            return Fail("the header declares no 'vertex' element");
        if (vertex->m_Count > uint64_t(std::numeric_limits<int>::max()))
            return Fail("the header declares " + std::to_string(vertex->m_Count) +
                        " vertices, more than can be read");
        m_VertexNbr = vertex->m_Count;
        for (const CElement& element : m_Elements)
        {
            if (!CheckCount(element))
                return false;
            bool ok = element.m_Name == "vertex" ? ReadVertices(element, mesh)
                      : element.m_Name == "face" ? ReadFaces(element, mesh)
                                                 : SkipElement(element);
            if (!ok)
                return false;
        }
        return true;
    }

private:
    bool Fail(const std::string& message)
    {
        m_Error = message;
        return false;
    }
    bool FailAt(const char* at, const std::string& message)
    {
        if (m_Format == EFormat::Ascii)
            m_Error = "line " + std::to_string(zanplugin::CTextScanner::LineNumberAt(m_Data, at)) +
                      ": " + message;
        else
            m_Error = "byte " + std::to_string(size_t(at - m_Data)) + ": " + message;
        return false;
    }

    // ------------------------------------------------------------------------- header
    bool ReadHeader()
    {
        zanplugin::CTextScanner scanner(m_Data, size_t(m_End - m_Data));
        if (scanner.ReadWord() != "ply" || !scanner.AtLineEnd())
            return Fail("not a PLY file: it does not start with the line 'ply'");
        scanner.NextLine();
        bool formatSeen = false;
        while (true)
        {
            if (scanner.AtEnd())
                return Fail("the header has no 'end_header' line");
            const char* lineStart = scanner.GetPosition();
            std::string_view keyword = scanner.ReadWord();
            auto failLine = [&](const std::string& message)
            {
                m_Error = "line " +
                          std::to_string(zanplugin::CTextScanner::LineNumberAt(m_Data, lineStart)) +
                          ": " + message;
                return false;
            };
            if (keyword == "end_header")
            {
                scanner.NextLine();
                m_Body = scanner.GetPosition();
                break;
            }
            if (keyword.empty() || keyword == "comment" || keyword == "obj_info")
            {
                scanner.NextLine();
                continue;
            }
            if (keyword == "format")
            {
                std::string_view kind = scanner.ReadWord();
                if (kind == "ascii")
                    m_Format = EFormat::Ascii;
                else if (kind == "binary_little_endian")
                    m_Format = EFormat::Little;
                else if (kind == "binary_big_endian")
                    m_Format = EFormat::Big;
                else
                    return failLine("unknown format '" + std::string(kind) + "'");
                formatSeen = true;
            }
            else if (keyword == "element")
            {
                CElement element;
                element.m_Name = std::string(scanner.ReadWord());
                int64_t count = -1;
                if (element.m_Name.empty() || !scanner.ReadInt(count) || count < 0)
                    return failLine("an element needs a name and a count of 0 or more");
                element.m_Count = uint64_t(count);
                m_Elements.push_back(std::move(element));
            }
            else if (keyword == "property")
            {
                if (m_Elements.empty())
                    return failLine("a property before any element");
                CProperty property;
                std::string_view type = scanner.ReadWord();
                if (type == "list")
                {
                    property.m_List = true;
                    std::string_view countType = scanner.ReadWord();
                    type = scanner.ReadWord();
                    if (!ParseType(countType, property.m_CountType) ||
                        !IsInteger(property.m_CountType))
                        return failLine("a list count type must be an integer type, not '" +
                                        std::string(countType) + "'");
                }
                if (!ParseType(type, property.m_Type))
                    return failLine("unknown property type '" + std::string(type) + "'");
                property.m_Name = std::string(scanner.ReadWord());
                if (property.m_Name.empty())
                    return failLine("a property needs a name");
                m_Elements.back().m_Properties.push_back(std::move(property));
            }
            // Other lines (some exporters sign the header with a free-text line) carry
            // nothing a reader needs: they are passed over like comments.
            scanner.NextLine();
        }
        if (!formatSeen)
            return Fail("the header has no 'format' line");
        m_Swap = (m_Format == EFormat::Big) != (std::endian::native == std::endian::big) &&
                 m_Format != EFormat::Ascii;
        m_Cursor = m_Body;
        return true;
    }

    // The smallest room one record of \p element takes in the body.
    bool CheckCount(const CElement& element)
    {
        uint64_t least = 0;
        for (const CProperty& property : element.m_Properties)
            least += m_Format == EFormat::Ascii ? 2
                     : property.m_List           ? SizeOf(property.m_CountType)
                                                 : SizeOf(property.m_Type);
        // In ASCII the last value needs no separator after it.
        const uint64_t left = uint64_t(m_End - m_Cursor) + (m_Format == EFormat::Ascii ? 1 : 0);
        if (least && element.m_Count > left / least)
            return FailAt(m_Cursor, "element '" + element.m_Name + "' declares " +
                                        std::to_string(element.m_Count) +
                                        " records, more than the " +
                                        std::to_string(m_End - m_Cursor) + " bytes left can hold");
        return true;
    }

    // ------------------------------------------------------------------------- values
    // Reads one scalar of \p type at the cursor. false at the end of the data or on text
    // that is not a number.
    bool ReadScalar(EType type, double& value)
    {
        if (m_Format != EFormat::Ascii)
        {
            const size_t size = SizeOf(type);
            if (size_t(m_End - m_Cursor) < size)
                return FailAt(m_Cursor, "the data ends in the middle of a record");
            value = LoadValue(m_Cursor, type, m_Swap);
            m_Cursor += size;
            return true;
        }
        while (m_Cursor < m_End && (*m_Cursor == ' ' || *m_Cursor == '\t' || *m_Cursor == '\r' ||
                                    *m_Cursor == '\n'))
            ++m_Cursor;
        if (m_Cursor >= m_End)
            return FailAt(m_Cursor, "the data ends in the middle of a record");
        const char* start = m_Cursor + (*m_Cursor == '+' ? 1 : 0);
        std::from_chars_result result = std::from_chars(start, m_End, value);
        if (result.ec != std::errc() ||
            (result.ptr < m_End && *result.ptr != ' ' && *result.ptr != '\t' && *result.ptr != '\r' &&
             *result.ptr != '\n'))
        {
            const char* wordEnd = m_Cursor;
            while (wordEnd < m_End && wordEnd - m_Cursor < 32 && *wordEnd != ' ' && *wordEnd != '\n' &&
                   *wordEnd != '\t' && *wordEnd != '\r')
                ++wordEnd;
            return FailAt(m_Cursor, "'" + std::string(m_Cursor, wordEnd) + "' is not a number");
        }
        m_Cursor = result.ptr;
        return true;
    }

    bool ReadCount(EType type, uint64_t& count)
    {
        const char* at = m_Cursor;
        double value;
        if (!ReadScalar(type, value))
            return false;
        if (!(value >= 0) || value != std::floor(value) || value > 4294967295.0)
            return FailAt(at, "a list count must be a whole number of 0 or more");
        count = uint64_t(value);
        return true;
    }

    // Skips a list of \p count items of \p type.
    bool SkipItems(EType type, uint64_t count)
    {
        if (m_Format != EFormat::Ascii)
        {
            if (count > uint64_t(m_End - m_Cursor) / SizeOf(type))
                return FailAt(m_Cursor, "a list runs past the end of the data");
            m_Cursor += count * SizeOf(type);
            return true;
        }
        double value;
        for (uint64_t i = 0; i < count; ++i)
            if (!ReadScalar(type, value))
                return false;
        return true;
    }

    bool SkipElement(const CElement& element)
    {
        // Records without properties occupy no bytes, whatever count the header declares.
        if (element.m_Properties.empty())
            return true;
        bool fixed = m_Format != EFormat::Ascii;
        size_t recordSize = 0;
        for (const CProperty& property : element.m_Properties)
        {
            fixed &= !property.m_List;
            recordSize += SizeOf(property.m_Type);
        }
        if (fixed) // checked against the bytes left by CheckCount
        {
            m_Cursor += element.m_Count * recordSize;
            return true;
        }
        for (uint64_t r = 0; r < element.m_Count; ++r)
        {
            if (IsStopAsked(r))
                return false;
            for (const CProperty& property : element.m_Properties)
            {
                uint64_t count = 1;
                if (property.m_List && !ReadCount(property.m_CountType, count))
                    return false;
                if (!SkipItems(property.m_Type, count))
                    return false;
            }
        }
        return true;
    }

    // ------------------------------------------------------------------------- vertices
    bool ReadVertices(const CElement& element, CMeshData& mesh)
    {
        int roles[kRoleNbr] = {
            element.Find({"x"}),
            element.Find({"y"}),
            element.Find({"z"}),
            element.Find({"nx"}),
            element.Find({"ny"}),
            element.Find({"nz"}),
            element.Find({"s", "u", "texture_u", "texture_s"}),
            element.Find({"t", "v", "texture_v", "texture_t"}),
            element.Find({"red", "diffuse_red", "r"}),
            element.Find({"green", "diffuse_green", "g"}),
            element.Find({"blue", "diffuse_blue", "b"}),
            element.Find({"alpha", "diffuse_alpha", "a"}),
        };
        if (roles[kRoleX] < 0 || roles[kRoleY] < 0 || roles[kRoleZ] < 0)
            return Fail("the 'vertex' element has no x, y and z properties");
        const bool normals = roles[kRoleNX] >= 0 && roles[kRoleNY] >= 0 && roles[kRoleNZ] >= 0;
        const bool uvs = roles[kRoleU] >= 0 && roles[kRoleV] >= 0;
        const bool colors = roles[kRoleRed] >= 0 && roles[kRoleGreen] >= 0 && roles[kRoleBlue] >= 0;
        const size_t count = size_t(element.m_Count);
        mesh.m_Positions.resize(count * 3);
        if (normals)
            mesh.m_Normals.resize(count * 3);
        if (uvs)
            mesh.m_UVs.resize(count * 2);
        if (colors)
            mesh.m_Colors.resize(count * 4);

        // Which role each property feeds (kRoleNbr: none).
        std::vector<int> feeds(element.m_Properties.size(), kRoleNbr);
        for (int role = 0; role < kRoleNbr; ++role)
            if (roles[role] >= 0)
                feeds[size_t(roles[role])] = role;

        bool fixed = m_Format != EFormat::Ascii;
        size_t recordSize = 0;
        for (const CProperty& property : element.m_Properties)
        {
            fixed &= !property.m_List;
            recordSize += SizeOf(property.m_Type);
        }
        // The common binary layout, three floats first, is copied without conversion.
        const bool packed = fixed && !m_Swap && roles[kRoleX] == 0 && roles[kRoleY] == 1 &&
                            roles[kRoleZ] == 2 && element.m_Properties[0].m_Type == EType::Float32 &&
                            element.m_Properties[1].m_Type == EType::Float32 &&
                            element.m_Properties[2].m_Type == EType::Float32;
        std::vector<size_t> offsets;
        if (fixed)
        {
            size_t offset = 0;
            for (const CProperty& property : element.m_Properties)
            {
                offsets.push_back(offset);
                offset += SizeOf(property.m_Type);
            }
        }

        double values[kRoleNbr] = {};
        for (size_t v = 0; v < count; ++v)
        {
            if (IsStopAsked(v))
                return false;
            const char* recordStart = m_Cursor;
            float* position = &mesh.m_Positions[v * 3];
            if (packed && normals + uvs + colors == 0)
            {
                std::memcpy(position, m_Cursor, 12);
                m_Cursor += recordSize;
            }
            else if (fixed)
            {
                for (size_t p = 0; p < feeds.size(); ++p)
                    if (feeds[p] != kRoleNbr)
                        values[feeds[p]] =
                            LoadValue(m_Cursor + offsets[p], element.m_Properties[p].m_Type, m_Swap);
                m_Cursor += recordSize;
                position[0] = float(values[kRoleX]);
                position[1] = float(values[kRoleY]);
                position[2] = float(values[kRoleZ]);
            }
            else
            {
                for (size_t p = 0; p < feeds.size(); ++p)
                {
                    const CProperty& property = element.m_Properties[p];
                    if (property.m_List)
                    {
                        uint64_t items = 0;
                        if (!ReadCount(property.m_CountType, items) ||
                            !SkipItems(property.m_Type, items))
                            return false;
                        continue;
                    }
                    double value;
                    if (!ReadScalar(property.m_Type, value))
                        return false;
                    if (feeds[p] != kRoleNbr)
                        values[feeds[p]] = value;
                }
                position[0] = float(values[kRoleX]);
                position[1] = float(values[kRoleY]);
                position[2] = float(values[kRoleZ]);
            }
            if (!std::isfinite(position[0]) || !std::isfinite(position[1]) ||
                !std::isfinite(position[2]))
                return FailAt(recordStart, "vertex " + std::to_string(v) +
                                               " has a coordinate that is not a finite number");
            if (normals)
                for (int k = 0; k < 3; ++k)
                    mesh.m_Normals[v * 3 + size_t(k)] = float(values[kRoleNX + k]);
            if (uvs)
            {
                mesh.m_UVs[v * 2] = float(values[kRoleU]);
                mesh.m_UVs[v * 2 + 1] = float(values[kRoleV]);
            }
            if (colors)
            {
                uint8_t* c = &mesh.m_Colors[v * 4];
                for (int k = 0; k < 3; ++k)
                    c[k] = ToColorByte(values[kRoleRed + k],
                                       element.m_Properties[size_t(roles[kRoleRed + k])].m_Type);
                c[3] = roles[kRoleAlpha] >= 0
                           ? ToColorByte(values[kRoleAlpha],
                                         element.m_Properties[size_t(roles[kRoleAlpha])].m_Type)
                           : 255;
            }
        }
        return true;
    }

    // ------------------------------------------------------------------------- faces
    bool ReadFaces(const CElement& element, CMeshData& mesh)
    {
        int list = -1;
        for (const char* name : {"vertex_indices", "vertex_index"})
            for (size_t i = 0; i < element.m_Properties.size() && list < 0; ++i)
                if (element.m_Properties[i].m_List && element.m_Properties[i].m_Name == name)
                    list = int(i);
        if (list < 0)
            return SkipElement(element);
        // Binary "list <count> int" alone, the usual layout, has its own loop.
        const CProperty& indices = element.m_Properties[size_t(list)];
        const bool simple = m_Format != EFormat::Ascii && element.m_Properties.size() == 1 &&
                            (indices.m_Type == EType::Int32 || indices.m_Type == EType::UInt32);
        mesh.m_Counts.reserve(size_t(element.m_Count));
        mesh.m_Indices.reserve(size_t(element.m_Count) * 3);
        const size_t countSize = SizeOf(indices.m_CountType);
        for (uint64_t f = 0; f < element.m_Count; ++f)
        {
            if (IsStopAsked(f))
                return false;
            if (simple)
            {
                if (size_t(m_End - m_Cursor) < countSize)
                    return FailAt(m_Cursor, "the data ends in the middle of face " + std::to_string(f));
                const double n = LoadValue(m_Cursor, indices.m_CountType, m_Swap);
                if (n < 0)
                    return FailAt(m_Cursor, "face " + std::to_string(f) + " has a negative corner count");
                const uint64_t corners = uint64_t(n);
                const char* items = m_Cursor + countSize;
                if (corners > uint64_t(m_End - items) / 4)
                    return FailAt(m_Cursor, "face " + std::to_string(f) + " runs past the end of the data");
                m_Cursor = items + corners * 4;
                if (corners < 3)
                    continue;
                if (corners > 65535)
                    return FailAt(items, "face " + std::to_string(f) + " has more than 65535 corners");
                const size_t first = mesh.m_Indices.size();
                mesh.m_Indices.resize(first + corners);
                int* out = &mesh.m_Indices[first];
                for (uint64_t k = 0; k < corners; ++k)
                {
                    uint32_t index = LoadRaw<uint32_t>(items + k * 4, m_Swap);
                    if (indices.m_Type == EType::Int32 ? int32_t(index) < 0 || index >= m_VertexNbr
                                                       : index >= m_VertexNbr)
                        return FailAt(items + k * 4,
                                      "face " + std::to_string(f) + ": vertex index " +
                                          std::to_string(indices.m_Type == EType::Int32
                                                             ? int64_t(int32_t(index))
                                                             : int64_t(index)) +
                                          " is outside the " + std::to_string(m_VertexNbr) +
                                          " vertices");
                    out[k] = int(index);
                }
                mesh.m_Counts.push_back(unsigned(corners));
                continue;
            }
            for (size_t p = 0; p < element.m_Properties.size(); ++p)
            {
                const CProperty& property = element.m_Properties[p];
                uint64_t corners = 1;
                const char* at = m_Cursor;
                if (property.m_List && !ReadCount(property.m_CountType, corners))
                    return false;
                if (int(p) != list || corners < 3)
                {
                    if (!SkipItems(property.m_Type, corners))
                        return false;
                    continue;
                }
                if (corners > 65535)
                    return FailAt(at, "face " + std::to_string(f) + " has more than 65535 corners");
                for (uint64_t k = 0; k < corners; ++k)
                {
                    at = m_Cursor;
                    double value;
                    if (!ReadScalar(property.m_Type, value))
                        return false;
                    if (!(value >= 0 && value < double(m_VertexNbr)) || value != std::floor(value))
                    {
                        char text[32];
                        return FailAt(at, "face " + std::to_string(f) + ": vertex index " +
                                              std::string(zanplugin::FormatFloat(float(value), text)) +
                                              " is outside the " + std::to_string(m_VertexNbr) +
                                              " vertices");
                    }
                    mesh.m_Indices.push_back(int(value));
                }
                mesh.m_Counts.push_back(unsigned(corners));
            }
        }
        return true;
    }

    bool IsStopAsked(uint64_t record)
    {
        return record % zanplugin::kProgressEvery == 0 &&
               zanplugin::IsStopAsked(m_Progress, m_Cursor - m_Data, m_Error);
    }

    const char* m_Data;
    const char* m_End;
    const char* m_Body = nullptr;
    const char* m_Cursor = nullptr;
    std::string& m_Error;
    CProgressTask* m_Progress;
    EFormat m_Format = EFormat::Ascii;
    bool m_Swap = false;
    uint64_t m_VertexNbr = 0;
    std::vector<CElement> m_Elements;
};

template <class T> void Store(std::string& out, T value)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    if constexpr (std::endian::native == std::endian::big)
        std::reverse(bytes, bytes + sizeof(T));
    out.append(bytes, sizeof(T));
}

void AppendFloat(std::string& out, float value, char separator)
{
    char buffer[32];
    out += zanplugin::FormatFloat(value, buffer);
    out += separator;
}
} // namespace

namespace zanply
{
bool DecodePly(const char* data, size_t size, const std::string& defaultName,
               std::vector<CMeshData>& meshes, std::string& error, CProgressTask* progress)
{
    if (!zanplugin::DecodeOneMesh<CPlyReader>(data, size, defaultName, meshes, error, progress))
        return false;
    // Triangles only: the counts say nothing the indices do not.
    std::vector<unsigned>& counts = meshes[0].m_Counts;
    if (std::all_of(counts.begin(), counts.end(), [](unsigned n) { return n == 3; }))
        counts.clear();
    return true;
}

void EncodePly(const CMeshData& mesh, bool ascii, std::string& out)
{
    const size_t pointNbr = mesh.GetPointNbr();
    const size_t faceNbr = mesh.GetFaceNbr();
    const bool normals = mesh.m_Normals.size() == pointNbr * 3 && pointNbr;
    const bool uvs = mesh.m_UVs.size() == pointNbr * 2 && pointNbr;
    const bool colors = mesh.m_Colors.size() == pointNbr * 4 && pointNbr;
    unsigned most = 3;
    for (unsigned n : mesh.m_Counts)
        most = std::max(most, n);
    const bool byteCounts = most <= 255;

    out.clear();
    out += "ply\nformat ";
    out += ascii ? "ascii" : "binary_little_endian";
    out += " 1.0\ncomment written by 3DZan\nelement vertex ";
    out += std::to_string(pointNbr);
    out += "\nproperty float x\nproperty float y\nproperty float z\n";
    if (normals)
        out += "property float nx\nproperty float ny\nproperty float nz\n";
    if (uvs)
        out += "property float s\nproperty float t\n";
    if (colors)
        out += "property uchar red\nproperty uchar green\nproperty uchar blue\nproperty uchar alpha\n";
    out += "element face ";
    out += std::to_string(faceNbr);
    out += byteCounts ? "\nproperty list uchar int vertex_indices\nend_header\n"
                      : "\nproperty list int int vertex_indices\nend_header\n";

    if (!ascii)
    {
        const size_t vertexSize = 12 + (normals ? 12 : 0) + (uvs ? 8 : 0) + (colors ? 4 : 0);
        out.reserve(out.size() + pointNbr * vertexSize + faceNbr * (byteCounts ? 1 : 4) +
                    mesh.m_Indices.size() * 4);
    }
    for (size_t v = 0; v < pointNbr; ++v)
    {
        if (ascii)
        {
            for (int k = 0; k < 3; ++k)
                AppendFloat(out, mesh.m_Positions[v * 3 + size_t(k)], ' ');
            if (normals)
                for (int k = 0; k < 3; ++k)
                    AppendFloat(out, mesh.m_Normals[v * 3 + size_t(k)], ' ');
            if (uvs)
                for (int k = 0; k < 2; ++k)
                    AppendFloat(out, mesh.m_UVs[v * 2 + size_t(k)], ' ');
            if (colors)
                for (int k = 0; k < 4; ++k)
                {
                    out += std::to_string(mesh.m_Colors[v * 4 + size_t(k)]);
                    out += ' ';
                }
            out.back() = '\n';
            continue;
        }
        for (int k = 0; k < 3; ++k)
            Store(out, mesh.m_Positions[v * 3 + size_t(k)]);
        if (normals)
            for (int k = 0; k < 3; ++k)
                Store(out, mesh.m_Normals[v * 3 + size_t(k)]);
        if (uvs)
            for (int k = 0; k < 2; ++k)
                Store(out, mesh.m_UVs[v * 2 + size_t(k)]);
        if (colors)
            out.append(reinterpret_cast<const char*>(&mesh.m_Colors[v * 4]), 4);
    }
    const int* index = mesh.m_Indices.data();
    for (size_t f = 0; f < faceNbr; ++f)
    {
        const unsigned n = mesh.m_Counts.empty() ? 3 : mesh.m_Counts[f];
        if (ascii)
        {
            out += std::to_string(n);
            for (unsigned k = 0; k < n; ++k)
            {
                out += ' ';
                out += std::to_string(index[k]);
            }
            out += '\n';
        }
        else
        {
            if (byteCounts)
                out += char(uint8_t(n));
            else
                Store(out, int32_t(n));
            for (unsigned k = 0; k < n; ++k)
                Store(out, int32_t(index[k]));
        }
        index += n;
    }
}

C3DScene* CPlyParser::Read(const CXTString& fileName, CSceneImportOptions* options)
{
    return zanplugin::ReadMeshFile(*this, fileName.c_str(), options, &DecodePly);
}

void CPlyParser::SaveDefaultOptions(CSceneExportOptions* options)
{
    if (!options)
        return;
    // One mesh in world space whose texture coordinates and colours are per point.
    options->m_ForcedFlags |= _ExportGlobalCoordinates | _ExportDisconnectFaces;
}

bool CPlyParser::Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options)
{
    const bool ascii = options && (options->m_Flags & kPlyExportAscii);
    return zanplugin::SaveMergedMesh(*this, fileName.c_str(), scene, options, true,
                                     [ascii](const CMeshData& mesh, std::string& bytes)
                                     { EncodePly(mesh, ascii, bytes); });
}
} // namespace zanply
