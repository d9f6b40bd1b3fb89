// STL decoding and encoding. Binary files are decoded straight from the mapped bytes, 50-byte
// record after record; corners are welded on the fly by an open-addressing hash table keyed on
// the bits of the three coordinates, each slot holding its key so that a probe touches one
// cache line.
#include "stlformat.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

using zanplugin::CMeshData;

namespace
{
constexpr size_t kHeaderSize = 84;
constexpr size_t kRecordSize = 50;
constexpr uint64_t kMaxTriangles = uint64_t(1) << 29; // corner indices must fit an int

uint32_t LoadU32(const char* p)
{
    uint32_t value;
    std::memcpy(&value, p, 4);
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap32(value);
    return value;
}

bool IsFiniteBits(uint32_t bits)
{
    return (bits & 0x7F800000u) != 0x7F800000u;
}

// Exact-position welding: equal positions get one point, in first-met order.
class CWelder
{
public:
    explicit CWelder(CMeshData& mesh, size_t expectedPoints) : m_Mesh(mesh)
    {
        size_t capacity = 16;
        while (capacity < expectedPoints * 2)
            capacity *= 2;
        Allocate(capacity);
    }

    // Starts loading the slot of the little-endian position at \p record, which Add will
    // look up a few records later: the table is far larger than the caches.
    void Prefetch(const char* record) const
    {
        float p[3];
        std::memcpy(p, record, sizeof p);
        __builtin_prefetch(&m_Table[Hash(Bits(p[0]), Bits(p[1]), Bits(p[2])) & m_Mask]);
    }

    // The point index of position \p p, added when new. p's coordinates are finite.
    int Add(const float* p)
    {
        const uint32_t x = Bits(p[0]), y = Bits(p[1]), z = Bits(p[2]);
        size_t slot = Hash(x, y, z) & m_Mask;
        while (true)
        {
            CSlot& s = m_Table[slot];
            if (s.m_Index < 0)
                break;
            if (s.m_X == x && s.m_Y == y && s.m_Z == z)
                return s.m_Index;
            slot = (slot + 1) & m_Mask;
        }
        const int index = int(m_Count++);
        m_Table[slot] = CSlot{x, y, z, index};
        m_Mesh.m_Positions.insert(m_Mesh.m_Positions.end(), {p[0] + 0.0f, p[1] + 0.0f, p[2] + 0.0f});
        if (m_Count * 2 > m_Table.size())
            Grow();
        return index;
    }

private:
    struct CSlot
    {
        uint32_t m_X, m_Y, m_Z;
        int32_t m_Index;
    };

    // Adding +0 turns -0 into +0, so the two zeros weld as equal values should.
    static uint32_t Bits(float value) { return std::bit_cast<uint32_t>(value + 0.0f); }

    static size_t Hash(uint32_t x, uint32_t y, uint32_t z)
    {
        uint64_t h = (uint64_t(x) * 0x9E3779B97F4A7C15ull) ^ (uint64_t(y) * 0xC2B2AE3D27D4EB4Full) ^
                     (uint64_t(z) * 0x165667B19E3779F9ull);
        h ^= h >> 32;
        h *= 0xD6E8FEB86659FD93ull;
        return size_t(h ^ (h >> 29));
    }

    void Allocate(size_t capacity)
    {
        m_Table.clear();
        m_Table.reserve(capacity);
        zanplugin::AdviseHugePages(m_Table.data(), capacity * sizeof(CSlot));
        m_Table.resize(capacity, CSlot{0, 0, 0, -1});
        m_Mask = capacity - 1;
    }

    void Grow()
    {
        std::vector<CSlot> old;
        old.swap(m_Table);
        Allocate(old.size() * 2);
        for (const CSlot& s : old)
        {
            if (s.m_Index < 0)
                continue;
            size_t slot = Hash(s.m_X, s.m_Y, s.m_Z) & m_Mask;
            while (m_Table[slot].m_Index >= 0)
                slot = (slot + 1) & m_Mask;
            m_Table[slot] = s;
        }
    }

    CMeshData& m_Mesh;
    std::vector<CSlot> m_Table;
    size_t m_Mask = 0;
    size_t m_Count = 0;
};

bool DecodeBinary(const char* data, size_t size, const std::string& name,
                  std::vector<CMeshData>& meshes, std::string& error, CProgressTask* progress)
{
    const uint64_t count = LoadU32(data + 80);
    if (count > kMaxTriangles)
    {
        error = "binary STL: " + std::to_string(count) + " triangles is more than can be read";
        return false;
    }
    CMeshData mesh;
    mesh.m_Name = name;
    mesh.m_Indices.reserve(size_t(count) * 3);
    zanplugin::AdviseHugePages(mesh.m_Indices.data(), size_t(count) * 3 * sizeof(int));
    mesh.m_Indices.resize(size_t(count) * 3);
    // A closed triangle mesh has about half as many points as triangles.
    const size_t expected = size_t(count / 2 + count / 16) + 16;
    CWelder welder(mesh, expected);
    mesh.m_Positions.reserve(expected * 3);
    zanplugin::AdviseHugePages(mesh.m_Positions.data(), expected * 3 * sizeof(float));
    int* indices = mesh.m_Indices.data();
    const char* record = data + kHeaderSize;
    constexpr uint64_t kAhead = 6;
    for (uint64_t t = 0; t < count; ++t, record += kRecordSize)
    {
        if constexpr (std::endian::native == std::endian::little)
            if (t + kAhead < count)
                for (int k = 0; k < 3; ++k)
                    welder.Prefetch(record + kAhead * kRecordSize + 12 + k * 12);
        if (t % zanplugin::kProgressEvery == 0 &&
            zanplugin::IsStopAsked(progress, int64_t(record - data), error))
            return false;
        uint32_t bits[9];
        std::memcpy(bits, record + 12, sizeof bits);
        float corners[9];
        for (int k = 0; k < 9; ++k)
        {
            if constexpr (std::endian::native == std::endian::big)
                bits[k] = __builtin_bswap32(bits[k]);
            if (!IsFiniteBits(bits[k]))
            {
                error = "binary STL: triangle " + std::to_string(t) +
                        " has a coordinate that is not a finite number";
                return false;
            }
            corners[k] = std::bit_cast<float>(bits[k]);
        }
        indices[0] = welder.Add(corners);
        indices[1] = welder.Add(corners + 3);
        indices[2] = welder.Add(corners + 6);
        indices += 3;
    }
    (void)size;
    meshes.push_back(std::move(mesh));
    return true;
}

bool EqualsNoCase(std::string_view word, std::string_view keyword)
{
    if (word.size() != keyword.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if ((word[i] | 0x20) != keyword[i])
            return false;
    return true;
}

// The ASCII reader walks keyword by keyword; lines matter only for error messages.
class CAsciiReader
{
public:
    CAsciiReader(const char* data, size_t size, const std::string& name, std::string& error,
                 CProgressTask* progress)
        : m_Start(data), m_Scanner(data, size), m_DefaultName(name), m_Error(error),
          m_Progress(progress)
    {
    }

    bool Read(std::vector<CMeshData>& meshes)
    {
        while (true)
        {
            std::string_view word = NextWord();
            if (word.empty())
                return true;
            if (!EqualsNoCase(word, "solid"))
                return Fail("expected 'solid', found '" + std::string(word) + "'");
            std::string_view name = m_Scanner.RestOfLine();
            m_Scanner.NextLine();
            CMeshData mesh;
            mesh.m_Name = name.empty() ? m_DefaultName : std::string(name);
            if (!ReadSolid(mesh))
                return false;
            meshes.push_back(std::move(mesh));
        }
    }

private:
    std::string_view NextWord()
    {
        while (!m_Scanner.AtEnd())
        {
            const char c = *m_Scanner.GetPosition();
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
                break;
            m_Scanner.SetPosition(m_Scanner.GetPosition() + 1);
        }
        return m_Scanner.ReadWord();
    }

    bool Fail(const std::string& message)
    {
        m_Error = "line " +
                  std::to_string(zanplugin::CTextScanner::LineNumberAt(m_Start, m_Scanner.GetPosition())) +
                  ": " + message;
        return false;
    }

    bool Expect(std::string_view keyword)
    {
        std::string_view word = NextWord();
        if (EqualsNoCase(word, keyword))
            return true;
        return Fail("expected '" + std::string(keyword) + "', found '" +
                    (word.empty() ? std::string("end of file") : std::string(word)) + "'");
    }

    bool ReadSolid(CMeshData& mesh)
    {
        CWelder welder(mesh, 0);
        std::vector<int> loop;
        bool polygons = false;
        while (true)
        {
            std::string_view word = NextWord();
            if (word.empty())
                return true; // a last solid without "endsolid" keeps its complete facets
            if (EqualsNoCase(word, "endsolid"))
            {
                m_Scanner.NextLine();
                break;
            }
            if (!EqualsNoCase(word, "facet"))
                return Fail("expected 'facet' or 'endsolid', found '" + std::string(word) + "'");
            if (++m_FacetNbr % zanplugin::kProgressEvery == 0 &&
                zanplugin::IsStopAsked(m_Progress, m_Scanner.GetPosition() - m_Start, m_Error))
                return false;
            // The normal ("normal nx ny nz") is recomputed from the corners when needed.
            bool outer = false;
            for (int skipped = 0; skipped < 5 && !outer; ++skipped)
            {
                word = NextWord();
                outer = EqualsNoCase(word, "outer");
                if (word.empty())
                    break;
            }
            if (!outer)
                return Fail("expected 'outer loop' after 'facet'");
            if (!Expect("loop"))
                return false;
            loop.clear();
            while (true)
            {
                word = NextWord();
                if (EqualsNoCase(word, "endloop"))
                    break;
                if (!EqualsNoCase(word, "vertex"))
                    return Fail("expected 'vertex' or 'endloop', found '" +
                                (word.empty() ? std::string("end of file") : std::string(word)) +
                                "'");
                float p[3];
                for (float& value : p)
                {
                    if (!m_Scanner.ReadFloat(value))
                        return Fail("a vertex needs three numbers");
                    if (!std::isfinite(value))
                        return Fail("a vertex coordinate is not a finite number");
                }
                if (mesh.m_Indices.size() + loop.size() >= size_t(std::numeric_limits<int>::max()))
                    return Fail("too many corners");
                loop.push_back(welder.Add(p));
            }
            if (!Expect("endfacet"))
                return false;
            if (loop.size() < 3)
                continue; // lines and points are not faces
            if (loop.size() != 3 && !polygons)
            {
                polygons = true;
                mesh.m_Counts.assign(mesh.m_Indices.size() / 3, 3);
            }
            mesh.m_Indices.insert(mesh.m_Indices.end(), loop.begin(), loop.end());
            if (polygons)
                mesh.m_Counts.push_back(unsigned(loop.size()));
        }
        return true;
    }

    const char* m_Start;
    zanplugin::CTextScanner m_Scanner;
    const std::string& m_DefaultName;
    std::string& m_Error;
    CProgressTask* m_Progress;
    uint64_t m_FacetNbr = 0;
};

bool StartsWithSolid(const char* data, size_t size)
{
    size_t i = 0;
    while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    return size - i >= 5 && EqualsNoCase(std::string_view(data + i, 5), "solid");
}

void AppendFloat(std::string& out, float value)
{
    char buffer[32];
    out += zanplugin::FormatFloat(value, buffer);
}

void FacetNormal(const float* a, const float* b, const float* c, float* n)
{
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    double x = u[1] * v[2] - u[2] * v[1], y = u[2] * v[0] - u[0] * v[2], z = u[0] * v[1] - u[1] * v[0];
    const double length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0) || !std::isfinite(length))
        x = y = z = 0;
    else
        x /= length, y /= length, z /= length;
    n[0] = float(x);
    n[1] = float(y);
    n[2] = float(z);
}

// Calls f(a, b, c) for every triangle of \p mesh, polygons fanned from their first corner.
template <class F> void ForEachTriangle(const CMeshData& mesh, F&& f)
{
    const float* p = mesh.m_Positions.data();
    const int* idx = mesh.m_Indices.data();
    const size_t faceNbr = mesh.GetFaceNbr();
    for (size_t face = 0; face < faceNbr; ++face)
    {
        const unsigned n = mesh.m_Counts.empty() ? 3 : mesh.m_Counts[face];
        for (unsigned k = 1; k + 1 < n; ++k)
            f(p + size_t(idx[0]) * 3, p + size_t(idx[k]) * 3, p + size_t(idx[k + 1]) * 3);
        idx += n;
    }
}
} // namespace

namespace zanstl
{
bool DecodeStl(const char* data, size_t size, const std::string& defaultName,
               std::vector<CMeshData>& meshes, std::string& error, CProgressTask* progress)
{
    meshes.clear();
    if (size == 0)
    {
        error = "the file is empty";
        return false;
    }
    if (size >= kHeaderSize)
    {
        const uint64_t count = LoadU32(data + 80);
        if (kHeaderSize + count * kRecordSize == size)
            return DecodeBinary(data, size, defaultName, meshes, error, progress);
    }
    if (StartsWithSolid(data, size))
    {
        CAsciiReader reader(data, size, defaultName, error, progress);
        if (!reader.Read(meshes))
            return false;
        if (meshes.empty())
        {
            error = "the file holds no solid";
            return false;
        }
        return true;
    }
    if (size < kHeaderSize)
    {
        error = "the file is too short for binary STL (" + std::to_string(size) +
                " bytes) and does not start with 'solid'";
        return false;
    }
    const uint64_t count = LoadU32(data + 80);
    error = "binary STL: the header declares " + std::to_string(count) + " triangles (" +
            std::to_string(kHeaderSize + count * kRecordSize) + " bytes) but the file holds " +
            std::to_string(size) + " bytes";
    return false;
}

bool EncodeStl(const std::vector<CMeshData>& meshes, bool ascii, std::string& out,
               std::string& error)
{
    out.clear();
    if (ascii)
    {
        for (const CMeshData& mesh : meshes)
        {
            out += "solid ";
            out += mesh.m_Name;
            out += '\n';
            ForEachTriangle(mesh,
                            [&](const float* a, const float* b, const float* c)
                            {
                                float n[3];
                                FacetNormal(a, b, c, n);
                                out += "  facet normal ";
                                for (int k = 0; k < 3; ++k)
                                {
                                    AppendFloat(out, n[k]);
                                    out += k < 2 ? ' ' : '\n';
                                }
                                out += "    outer loop\n";
                                for (const float* p : {a, b, c})
                                {
                                    out += "      vertex ";
                                    for (int k = 0; k < 3; ++k)
                                    {
                                        AppendFloat(out, p[k]);
                                        out += k < 2 ? ' ' : '\n';
                                    }
                                }
                                out += "    endloop\n  endfacet\n";
                            });
            out += "endsolid ";
            out += mesh.m_Name;
            out += '\n';
        }
        return true;
    }
    uint64_t total = 0;
    for (const CMeshData& mesh : meshes)
        ForEachTriangle(mesh, [&](const float*, const float*, const float*) { ++total; });
    if (total > 0xFFFFFFFFull)
    {
        error = "binary STL holds at most 4294967295 triangles";
        return false;
    }
    out.resize(kHeaderSize + size_t(total) * kRecordSize);
    char* at = out.data();
    std::memset(at, ' ', 80);
    static constexpr char kHeader[] = "Binary STL written by 3DZan";
    std::memcpy(at, kHeader, sizeof kHeader - 1);
    const uint32_t count = uint32_t(total);
    std::memcpy(at + 80, &count, 4);
    at += kHeaderSize;
    for (const CMeshData& mesh : meshes)
        ForEachTriangle(mesh,
                        [&](const float* a, const float* b, const float* c)
                        {
                            float values[12];
                            FacetNormal(a, b, c, values);
                            std::memcpy(values + 3, a, 12);
                            std::memcpy(values + 6, b, 12);
                            std::memcpy(values + 9, c, 12);
                            std::memcpy(at, values, 48);
                            at[48] = at[49] = 0;
                            at += kRecordSize;
                        });
    return true;
}

C3DScene* CStlParser::Read(const CXTString& fileName, CSceneImportOptions* options)
{
    return zanplugin::ReadMeshFile(*this, fileName.c_str(), options, &DecodeStl);
}

void CStlParser::SaveDefaultOptions(CSceneExportOptions* options)
{
    if (!options)
        return;
    // STL knows only triangles in world space, without channels or materials.
    options->m_ForcedFlags |= _ExportTriangulate | _ExportGlobalCoordinates | _ExportNoUVW |
                              _ExportNoVC | _ExportNoSpecNormals;
}

bool CStlParser::Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options)
{
    if (!scene)
    {
        SetIoError(_IoResultNothingToSave, _IoLevelError);
        return false;
    }
    std::vector<CMeshData> meshes;
    std::string bytes, error;
    try
    {
        zanplugin::CollectMeshes(*scene, false, meshes);
        const bool ascii = options && (options->m_Flags & kStlExportAscii);
        if (!EncodeStl(meshes, ascii, bytes, error))
        {
            zanplugin::ReportReadError(*this, options, _IoResultWriteError, error);
            return false;
        }
    }
    catch (const std::bad_alloc&)
    {
        zanplugin::ReportReadError(*this, options, _IoResultWriteError,
                                   "not enough memory to write the file");
        return false;
    }
    return zanplugin::WriteMeshFile(*this, fileName.c_str(), options, bytes);
}
} // namespace zanstl
