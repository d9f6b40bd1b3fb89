// OFF decoding and encoding, line by line: blank lines and '#' comments are skipped, each
// vertex and each face is one line. The counts are checked against the bytes left (a vertex
// line takes at least six characters, a face line two) before anything is allocated.
#include "offformat.h"

#include <cmath>
#include <cstring>
#include <limits>

using zanplugin::CMeshData;

namespace
{
class COffReader
{
public:
    COffReader(const char* data, size_t size, std::string& error, CProgressTask* progress)
        : m_Data(data), m_End(data + size), m_Cursor(data), m_Error(error), m_Progress(progress)
    {
    }

    bool Read(CMeshData& mesh)
    {
        if (!NextLine())
            return Fail("the file holds no header");
        std::string_view keyword = m_Words.empty() ? std::string_view() : m_Words[0];
        if (keyword.size() < 3 || keyword.substr(keyword.size() - 3) != "OFF")
            return FailLine("not an OFF file: the header is '" + std::string(keyword) + "'");
        std::string_view prefix = keyword.substr(0, keyword.size() - 3);
        if (prefix.substr(0, 2) == "ST")
            m_HasUV = true, prefix.remove_prefix(2);
        if (!prefix.empty() && prefix[0] == 'C')
            m_HasColor = true, prefix.remove_prefix(1);
        if (!prefix.empty() && prefix[0] == 'N')
            m_HasNormal = true, prefix.remove_prefix(1);
        if (!prefix.empty() && prefix[0] == '4')
            m_Homogeneous = true, prefix.remove_prefix(1);
        const bool dimensioned = !prefix.empty() && prefix[0] == 'n';
        if (dimensioned)
            prefix.remove_prefix(1);
        if (!prefix.empty())
            return FailLine("the variant '" + std::string(keyword) + "' is not supported");

        size_t first = 1;
        if (dimensioned)
        {
            // The dimension follows the keyword, on its line or on the next one.
            if (m_Words.size() < 2)
            {
                if (!NextLine())
                    return Fail("the file ends before the dimension of the vertices");
                first = 0;
            }
            int64_t dimension = 0;
            if (!ParseInt(m_Words[first], dimension) || dimension < 1 ||
                dimension > int64_t(kMaxDimension))
                return FailLine("the dimension of the vertices must be a whole number from 1 "
                                "to " + std::to_string(kMaxDimension));
            m_Dimension = size_t(dimension);
            if (m_HasNormal && m_Dimension != 3)
                return FailLine("normals are read in 3 dimensions only, not " +
                                std::to_string(m_Dimension));
            // The counts come after it.
            m_Words.erase(m_Words.begin(), m_Words.begin() + long(first + 1));
            first = 0;
            if (m_Words.empty() && !NextLine())
                return Fail("the file ends before the counts line");
            if (m_Words.size() < 2)
                return FailLine("the counts line needs the vertex and face counts");
        }
        // The counts follow the keyword on its line, or come on the next line.
        if (!dimensioned && m_Words.size() < 3)
        {
            if (!NextLine())
                return Fail("the file ends before the counts line");
            first = 0;
            if (m_Words.size() < 2)
                return FailLine("the counts line needs the vertex and face counts");
        }
        int64_t vertexNbr = 0, faceNbr = 0;
        if (!ParseInt(m_Words[first], vertexNbr) || !ParseInt(m_Words[first + 1], faceNbr) ||
            vertexNbr < 0 || faceNbr < 0)
            return FailLine("the vertex and face counts must be whole numbers of 0 or more");
        // A vertex takes at least a digit and a separator per value, a face "0\n".
        const uint64_t left = uint64_t(m_End - m_Cursor) + 2;
        const uint64_t vertexBytes = 2 * (m_Dimension + (m_Homogeneous ? 1 : 0));
        if (uint64_t(vertexNbr) > left / vertexBytes || uint64_t(faceNbr) > left / 2 ||
            uint64_t(vertexNbr) * vertexBytes + uint64_t(faceNbr) * 2 > left)
            return FailLine("the counts (" + std::to_string(vertexNbr) + " vertices, " +
                            std::to_string(faceNbr) + " faces) are more than the " +
                            std::to_string(m_End - m_Cursor) + " bytes left can hold");
        m_VertexNbr = size_t(vertexNbr);
        return ReadVertices(mesh) && ReadFaces(mesh, size_t(faceNbr));
    }

private:
    bool Fail(const std::string& message)
    {
        m_Error = message;
        return false;
    }
    bool FailLine(const std::string& message)
    {
        m_Error = "line " + std::to_string(zanplugin::CTextScanner::LineNumberAt(m_Data, m_Line)) +
                  ": " + message;
        return false;
    }

    // Splits the next line that holds something (comments removed) into words.
    bool NextLine()
    {
        while (m_Cursor < m_End)
        {
            m_Line = m_Cursor;
            const void* newline = std::memchr(m_Cursor, '\n', size_t(m_End - m_Cursor));
            const char* end = newline ? static_cast<const char*>(newline) : m_End;
            m_Cursor = newline ? end + 1 : m_End;
            if (const void* hash = std::memchr(m_Line, '#', size_t(end - m_Line)))
                end = static_cast<const char*>(hash);
            m_Words.clear();
            for (const char* p = m_Line; p < end;)
            {
                while (p < end && (*p == ' ' || *p == '\t' || *p == '\r'))
                    ++p;
                const char* start = p;
                while (p < end && *p != ' ' && *p != '\t' && *p != '\r')
                    ++p;
                if (p > start)
                    m_Words.emplace_back(start, size_t(p - start));
            }
            if (!m_Words.empty())
                return true;
        }
        return false;
    }

    static bool ParseInt(std::string_view word, int64_t& value)
    {
        if (!word.empty() && word[0] == '+')
            word.remove_prefix(1);
        std::from_chars_result result = std::from_chars(word.data(), word.data() + word.size(), value);
        return result.ec == std::errc() && result.ptr == word.data() + word.size();
    }
    static bool ParseFloat(std::string_view word, float& value)
    {
        if (!word.empty() && word[0] == '+')
            word.remove_prefix(1);
        std::from_chars_result result = std::from_chars(word.data(), word.data() + word.size(), value);
        return result.ec == std::errc() && result.ptr == word.data() + word.size();
    }

    bool ReadVertices(CMeshData& mesh)
    {
        const size_t count = m_VertexNbr;
        mesh.m_Positions.resize(count * 3);
        if (m_HasNormal)
            mesh.m_Normals.resize(count * 3);
        if (m_HasColor)
            mesh.m_Colors.resize(count * 4);
        if (m_HasUV)
            mesh.m_UVs.resize(count * 2);
        const size_t coordinates = m_Dimension + (m_Homogeneous ? 1 : 0);
        const size_t fixed = coordinates + (m_HasNormal ? 3 : 0) + (m_HasUV ? 2 : 0);
        float values[kMaxDimension + 1 + 3 + 2 + 4];
        for (size_t v = 0; v < count; ++v)
        {
            if (v % zanplugin::kProgressEvery == 0 &&
                zanplugin::IsStopAsked(m_Progress, m_Cursor - m_Data, m_Error))
                return false;
            if (!NextLine())
                return Fail("the file ends after " + std::to_string(v) + " of the " +
                            std::to_string(count) + " vertices");
            const size_t colorNbr = m_HasColor ? m_Words.size() - std::min(m_Words.size(), fixed) : 0;
            if (m_Words.size() < fixed || (m_HasColor && colorNbr != 3 && colorNbr != 4) ||
                (!m_HasColor && m_Words.size() > fixed + 4))
                return FailLine("vertex " + std::to_string(v) + " has " +
                                std::to_string(m_Words.size()) + " values, which the header '" +
                                (m_HasUV ? "ST" : "") + (m_HasColor ? "C" : "") +
                                (m_HasNormal ? "N" : "") + (m_Homogeneous ? "4" : "") +
                                (m_Dimension != 3 ? "n" : "") + "OFF' does not allow");
            const size_t used = fixed + colorNbr;
            bool integerColor = true;
            for (size_t k = 0; k < used; ++k)
            {
                if (!ParseFloat(m_Words[k], values[k]))
                    return FailLine("'" + std::string(m_Words[k].substr(0, 32)) + "' is not a number");
                if (k < coordinates && !std::isfinite(values[k]))
                    return FailLine("vertex " + std::to_string(v) +
                                    " has a coordinate that is not a finite number");
            }
            // The first three coordinates place the point (missing ones are 0); a homogeneous
            // component divides them.
            const float w = m_Homogeneous ? values[m_Dimension] : 1.0f;
            for (size_t k = 0; k < 3; ++k)
            {
                const float value = k < m_Dimension ? values[k] / w : 0.0f;
                if (!std::isfinite(value))
                    return FailLine("vertex " + std::to_string(v) +
                                    " has a homogeneous component that leaves it at infinity");
                mesh.m_Positions[v * 3 + k] = value;
            }
            size_t at = coordinates;
            if (m_HasNormal)
                for (int k = 0; k < 3; ++k)
                    mesh.m_Normals[v * 3 + size_t(k)] = values[at++];
            if (m_HasColor)
            {
                for (size_t k = 0; k < colorNbr; ++k)
                    if (m_Words[at + k].find_first_of(".eE") != std::string_view::npos)
                        integerColor = false;
                uint8_t* c = &mesh.m_Colors[v * 4];
                c[3] = 255;
                for (size_t k = 0; k < colorNbr; ++k)
                {
                    float value = integerColor ? values[at + k] : values[at + k] * 255.0f;
                    c[k] = !(value > 0) ? 0 : value >= 255 ? 255 : uint8_t(std::lround(value));
                }
                at += colorNbr;
            }
            if (m_HasUV)
            {
                mesh.m_UVs[v * 2] = values[at];
                mesh.m_UVs[v * 2 + 1] = values[at + 1];
            }
        }
        return true;
    }

    bool ReadFaces(CMeshData& mesh, size_t count)
    {
        mesh.m_Counts.reserve(count);
        for (size_t f = 0; f < count; ++f)
        {
            if (f % zanplugin::kProgressEvery == 0 &&
                zanplugin::IsStopAsked(m_Progress, m_Cursor - m_Data, m_Error))
                return false;
            if (!NextLine())
                return Fail("the file ends after " + std::to_string(f) + " of the " +
                            std::to_string(count) + " faces");
            int64_t corners = 0;
            if (!ParseInt(m_Words[0], corners) || corners < 0)
                return FailLine("face " + std::to_string(f) +
                                " must start with its corner count, not '" +
                                std::string(m_Words[0].substr(0, 32)) + "'");
            if (uint64_t(corners) + 1 > m_Words.size())
                return FailLine("face " + std::to_string(f) + " names " + std::to_string(corners) +
                                " corners but the line holds " +
                                std::to_string(m_Words.size() - 1) + " values");
            if (corners > 65535)
                return FailLine("face " + std::to_string(f) + " has more than 65535 corners");
            for (int64_t k = 1; k <= corners; ++k)
            {
                int64_t index = -1;
                if (!ParseInt(m_Words[size_t(k)], index))
                    return FailLine("face " + std::to_string(f) + ": '" +
                                    std::string(m_Words[size_t(k)].substr(0, 32)) +
                                    "' is not a vertex index");
                if (index < 0 || uint64_t(index) >= m_VertexNbr)
                    return FailLine("face " + std::to_string(f) + ": vertex index " +
                                    std::to_string(index) + " is outside the " +
                                    std::to_string(m_VertexNbr) + " vertices");
                if (corners >= 3)
                    mesh.m_Indices.push_back(int(index));
            }
            if (corners >= 3)
                mesh.m_Counts.push_back(unsigned(corners));
        }
        return true;
    }

    const char* m_Data;
    const char* m_End;
    const char* m_Cursor;
    const char* m_Line = nullptr;
    std::vector<std::string_view> m_Words;
    std::string& m_Error;
    CProgressTask* m_Progress;
    static constexpr size_t kMaxDimension = 16;
    size_t m_VertexNbr = 0;
    size_t m_Dimension = 3;     // coordinates of a vertex, without the homogeneous one
    bool m_Homogeneous = false; // 4OFF: each vertex ends with a w that divides the others
    bool m_HasNormal = false;
    bool m_HasColor = false;
    bool m_HasUV = false;
};
} // namespace

namespace zanoff
{
bool DecodeOff(const char* data, size_t size, const std::string& defaultName,
               std::vector<CMeshData>& meshes, std::string& error, CProgressTask* progress)
{
    return zanplugin::DecodeOneMesh<COffReader>(data, size, defaultName, meshes, error, progress);
}

void EncodeOff(const CMeshData& mesh, std::string& out)
{
    const size_t pointNbr = mesh.GetPointNbr();
    const size_t faceNbr = mesh.GetFaceNbr();
    out = "OFF\n# written by 3DZan\n";
    out += std::to_string(pointNbr) + " " + std::to_string(faceNbr) + " 0\n";
    char buffer[32];
    for (size_t v = 0; v < pointNbr; ++v)
        for (int k = 0; k < 3; ++k)
        {
            out += zanplugin::FormatFloat(mesh.m_Positions[v * 3 + size_t(k)], buffer);
            out += k < 2 ? ' ' : '\n';
        }
    const int* index = mesh.m_Indices.data();
    for (size_t f = 0; f < faceNbr; ++f)
    {
        const unsigned n = mesh.m_Counts.empty() ? 3 : mesh.m_Counts[f];
        out += std::to_string(n);
        for (unsigned k = 0; k < n; ++k)
        {
            out += ' ';
            out += std::to_string(index[k]);
        }
        out += '\n';
        index += n;
    }
}

C3DScene* COffParser::Read(const CXTString& fileName, CSceneImportOptions* options)
{
    return zanplugin::ReadMeshFile(*this, fileName.c_str(), options, &DecodeOff);
}

void COffParser::SaveDefaultOptions(CSceneExportOptions* options)
{
    if (!options)
        return;
    // Plain OFF: one mesh in world space, positions and polygons only.
    options->m_ForcedFlags |= _ExportGlobalCoordinates | _ExportNoUVW | _ExportNoVC |
                              _ExportNoSpecNormals;
}

bool COffParser::Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options)
{
    return zanplugin::SaveMergedMesh(*this, fileName.c_str(), scene, options, false,
                                     [](const CMeshData& mesh, std::string& bytes)
                                     { EncodeOff(mesh, bytes); });
}
} // namespace zanoff
