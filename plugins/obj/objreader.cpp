// The OBJ reader. The text is parsed into flat arrays (coordinates, per-corner indices, runs of
// faces sharing an object and a material), in one or two chunks cut at line ends and parsed
// side by side; the scene is built once everything was read and every index checked. Indices
// are resolved as they are read: a positive one is already absolute, a negative one counts
// back from the elements its chunk has read, so the corners of the later chunk that used one
// are remembered and shifted by the elements of the earlier chunk. Each object then keeps
// the points its faces use, numbered in order of first use through one global table that is
// reset after each object.
#include "objparser.h"

#include "objmtl.h"
#include "bigarray.h"
#include "pluginfile.h"

#include <3dzan/foundation/services.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/materials/material.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <tuple>
#include <unistd.h>
#include <unordered_map>
#include <vector>

using zanplugin::CBigArray;
using zanplugin::CTextScanner;

namespace
{
constexpr int kInherit = -1;    // a run that continues the state the previous chunk ended with
constexpr int kNoMaterial = -2; // faces before any usemtl
constexpr size_t kParallelBytes = size_t(4) << 20;
constexpr unsigned kMaxCorners = 65535;
constexpr size_t kReleaseStep = size_t(4) << 20;
#ifdef MADV_POPULATE_READ
constexpr int kPopulateRead = MADV_POPULATE_READ;
#else
constexpr int kPopulateRead = 22; // Linux 5.14 on; older kernels refuse it, which is harmless
#endif

// Faces in a row with one object and one material (chunk-local name indices).
struct CRun
{
    uint32_t m_FirstFace;
    int m_Object;
    int m_Material;
};

// What one chunk of the text holds. Coordinates are three floats per element; index arrays
// hold one value per corner, -1 where the face has no such element (m_T and m_N stay empty
// until a face has one).
struct CChunk
{
    const char* m_Begin = nullptr;
    const char* m_End = nullptr;
    bool m_RecordRelative = false;
    bool m_Mapped = false;      // the text is a file mapping
    CProgressTask* m_Progress = nullptr;
    bool m_Stopped = false; // the progress task asked to stop
    bool m_ReleaseText = false; // drop the pages of the mapping once parsed

    CBigArray<float> m_Positions;
    CBigArray<float> m_Colors;
    CBigArray<float> m_UVs;
    CBigArray<float> m_Normals;
    CBigArray<uint32_t> m_FaceSizes;
    CBigArray<int> m_V, m_T, m_N;
    std::vector<uint32_t> m_RelativeV, m_RelativeT, m_RelativeN;
    std::vector<CRun> m_Runs;
    std::vector<std::string> m_ObjectNames, m_MaterialNames, m_Libraries;
    int m_FinalObject = kInherit;
    int m_FinalMaterial = kInherit;

    std::string m_Error;
    const char* m_ErrorLine = nullptr;
    // Set to find the statement of one face (error reports): the face's number and its line.
    uint32_t m_LocateFace = UINT32_MAX;
    const char* m_LocatedLine = nullptr;

    size_t VertexNbr() const { return m_Positions.size() / 3; }
};

// Name -> index within a chunk.
class CNameTable
{
public:
    explicit CNameTable(std::vector<std::string>& names) : m_Names(names) {}
    int Find(std::string_view name)
    {
        auto found = m_Index.find(std::string(name));
        if (found != m_Index.end())
            return found->second;
        m_Names.emplace_back(name);
        const int index = int(m_Names.size()) - 1;
        m_Index.emplace(m_Names.back(), index);
        return index;
    }

private:
    std::vector<std::string>& m_Names;
    std::unordered_map<std::string, int> m_Index;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

bool IsDigit(char c)
{
    return unsigned(c - '0') < 10u;
}

// Most numbers of OBJ files are short decimals: those whose digits fit a float's mantissa
// exactly, with a power of ten that a float holds exactly, are one correctly rounded
// multiplication or division. Everything else goes to the scanner (std::from_chars).
bool ReadFloat(CTextScanner& scan, float& value)
{
    static constexpr float kPowers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                        1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    scan.SkipBlanks();
    const char* p = scan.GetPosition();
    const char* end = scan.GetEnd();
    const char* start = p;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+'))
        negative = *p++ == '-';
    uint64_t mantissa = 0;
    int digits = 0, fraction = 0;
    while (p < end && IsDigit(*p) && digits < 19)
        mantissa = mantissa * 10 + unsigned(*p++ - '0'), ++digits;
    if (p < end && *p == '.')
    {
        ++p;
        while (p < end && IsDigit(*p) && digits < 19)
            mantissa = mantissa * 10 + unsigned(*p++ - '0'), ++digits, ++fraction;
    }
    const bool plain =
        digits > 0 && (p >= end || IsBlank(*p) || *p == '\n' || *p == '/' || *p == '#');
    if (plain && mantissa <= (uint64_t(1) << 24) && fraction <= 10)
    {
        const float magnitude = float(mantissa) / kPowers[fraction];
        value = negative ? -magnitude : magnitude;
        scan.SetPosition(p);
        return true;
    }
    scan.SetPosition(start);
    return scan.ReadFloat(value);
}

// An integer of at most 18 digits (more reads as out of range, which every caller refuses).
bool ReadInteger(CTextScanner& scan, int64_t& value)
{
    scan.SkipBlanks();
    const char* p = scan.GetPosition();
    const char* end = scan.GetEnd();
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+'))
        negative = *p++ == '-';
    const char* first = p;
    int64_t number = 0;
    while (p < end && IsDigit(*p))
    {
        if (p - first >= 18)
            number = INT64_MAX / 2; // far outside every bound
        else
            number = number * 10 + (*p - '0');
        ++p;
    }
    if (p == first)
        return false;
    value = negative ? -number : number;
    scan.SetPosition(p);
    return true;
}

// Parses the statements of one chunk.
class CChunkParser
{
public:
    explicit CChunkParser(CChunk& chunk)
        : m_Chunk(chunk), m_Objects(chunk.m_ObjectNames), m_Materials(chunk.m_MaterialNames)
    {
    }

    void Parse()
    {
        Reserve();
        const char* p = m_Chunk.m_Begin;
        const char* end = m_Chunk.m_End;
        std::string joined;
        const char* released = p;
        m_Populated = m_Reported = p;
        TurnPage(p, released);
        // Every line that starts before safeEnd ends with a '\n' inside the chunk: the fast
        // path scans such lines without checking for the chunk's end.
        const void* lastNewline = end > p ? memrchr(p, '\n', size_t(end - p)) : nullptr;
        const char* safeEnd = lastNewline ? static_cast<const char*>(lastNewline) + 1 : p;
        while (p < end && m_Chunk.m_Error.empty())
        {
            if (p < safeEnd)
                if (const char* next = ParseSimpleLine(p))
                {
                    p = next;
                    if (p >= m_Populated)
                        released = TurnPage(p, released);
                    continue;
                }
            const char* lineStart = p;
            const void* newline = std::memchr(p, '\n', size_t(end - p));
            const char* lineEnd = newline ? static_cast<const char*>(newline) : end;
            const char* next = newline ? lineEnd + 1 : end;
            if (EndsWithJoin(p, lineEnd))
            {
                // A continued statement is parsed from a copy of its lines joined by blanks.
                joined.clear();
                for (;;)
                {
                    const bool join = EndsWithJoin(p, lineEnd);
                    const char* stop = lineEnd;
                    if (join)
                        stop = JoinMark(p, lineEnd);
                    joined.append(p, stop);
                    p = next;
                    if (!join || p >= end)
                        break;
                    joined.push_back(' ');
                    newline = std::memchr(p, '\n', size_t(end - p));
                    lineEnd = newline ? static_cast<const char*>(newline) : end;
                    next = newline ? lineEnd + 1 : end;
                }
                ParseStatement(joined.data(), joined.data() + joined.size(), lineStart);
                continue;
            }
            ParseStatement(p, lineEnd, lineStart);
            p = next;
            if (p >= m_Populated)
                released = TurnPage(p, released);
        }
        if (m_Chunk.m_Progress && m_Chunk.m_Error.empty())
            m_Chunk.m_Progress->Advance(p - m_Reported);
        // A chunk whose colours began part way has white for the vertices before them.
        if (!m_Chunk.m_Colors.empty())
            m_Chunk.m_Colors.resize(m_Chunk.m_Positions.size(), 1.0f);
        m_Chunk.m_FinalObject = m_Object;
        m_Chunk.m_FinalMaterial = m_Material;
    }

    // Sizes the arrays from samples of the text, so that large texts are not copied over
    // and over as the arrays grow (an estimate: the arrays still grow when it falls short).
    void Reserve()
    {
        constexpr size_t kSamples = 32, kSampleBytes = 2048;
        const size_t size = size_t(m_Chunk.m_End - m_Chunk.m_Begin);
        if (size < kSamples * kSampleBytes * 4)
            return;
        size_t v = 0, t = 0, n = 0, f = 0, corners = 0, sampled = 0;
        for (size_t k = 0; k < kSamples; ++k)
        {
            CTextScanner scan(m_Chunk.m_Begin + size / kSamples * k, kSampleBytes);
            scan.NextLine(); // from the next line start on
            const char* start = scan.GetPosition();
            while (!scan.AtEnd())
            {
                const std::string_view word = scan.ReadWord();
                const char* line = scan.GetPosition();
                scan.NextLine();
                if (scan.GetPosition() >= scan.GetEnd())
                    break; // a line cut by the sample's end is not counted
                sampled = size_t(scan.GetPosition() - start);
                if (word == "v")
                    ++v;
                else if (word == "vt")
                    ++t;
                else if (word == "vn")
                    ++n;
                else if (word == "f")
                {
                    ++f;
                    for (const char* c = line; c < scan.GetPosition() - 1; ++c)
                        corners += IsBlank(c[0]) && !IsBlank(c[1]) && c[1] != '\n';
                }
            }
        }
        if (sampled == 0)
            return;
        size_t total = 0;
        for (size_t k = 0; k < kSamples; ++k)
            total += kSampleBytes;
        const double scale = double(size) / double(total) * 1.15;
        auto count = [scale](size_t sample) { return size_t(double(sample) * scale) + 64; };
        m_Chunk.m_Positions.reserve(3 * count(v));
        m_Chunk.m_UVs.reserve(t ? 3 * count(t) : 0);
        m_Chunk.m_Normals.reserve(n ? 3 * count(n) : 0);
        m_Chunk.m_FaceSizes.reserve(count(f));
        m_Chunk.m_V.reserve(count(corners));
    }

    // Once the parse reaches m_Populated: a file mapping's next pages are mapped in one call
    // (cheaper than a page fault every few pages) and, when the text may be released, the
    // pages parsed since \p released are given back. Returns where the next release starts.
    const char* TurnPage(const char* p, const char* released)
    {
        if (m_Chunk.m_Progress)
        {
            if (m_Chunk.m_Progress->Advance(p - m_Reported))
            {
                m_Chunk.m_Stopped = true;
                Fail(p, "reading stopped on request");
            }
            m_Reported = p;
        }
        m_Populated = p + kReleaseStep;
        if (!m_Chunk.m_Mapped)
            return released;
        const char* end = std::min(m_Chunk.m_End, p + 2 * kReleaseStep);
        const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
        const uintptr_t first = uintptr_t(p) & ~(page - 1);
        if (uintptr_t(end) > first)
            madvise(reinterpret_cast<void*>(first), uintptr_t(end) - first, kPopulateRead);
        if (m_Chunk.m_ReleaseText && size_t(p - released) >= kReleaseStep)
            released = ReleasePages(released, p);
        return released;
    }

    // Gives back the whole pages of [from, to) of a file mapping (they are read again from
    // the file if they are needed); returns where the next release starts.
    static const char* ReleasePages(const char* from, const char* to)
    {
        const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
        const uintptr_t first = (uintptr_t(from) + page - 1) & ~(page - 1);
        const uintptr_t last = uintptr_t(to) & ~(page - 1);
        if (last > first)
            madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
        return reinterpret_cast<const char*>(std::max(first, last));
    }

    // The backslash that joins the next line, when the line [p, end) ends with one.
    static bool EndsWithJoin(const char* p, const char* end) { return JoinMark(p, end) != nullptr; }
    static const char* JoinMark(const char* p, const char* end)
    {
        while (end > p && (end[-1] == '\r' || end[-1] == ' ' || end[-1] == '\t'))
            --end;
        return end > p && end[-1] == '\\' ? end - 1 : nullptr;
    }

private:
    // ------------------------------------------------------------------ the simple lines
    // Nearly every line of a large file is a `v`, `vt`, `vn` or `f` statement in its plain
    // form. Those are read here in one pass, without looking for the line's end first; the
    // line must end with a '\n' (so that no scan needs a bound: each stops at it). Anything
    // unusual (a comment, a joined line, an exponent, a relative or zero index, colours, an
    // error) returns null before anything is stored, and the general path reads the line.
    static bool IsSpace(char c) { return c == ' ' || c == '\t'; }
    static const char* SkipSpaces(const char* q)
    {
        while (IsSpace(*q))
            ++q;
        return q;
    }
    // After the last value: blanks, an optional '\r', then the '\n'. The next line's start,
    // or null for anything else.
    static const char* LineEnd(const char* q)
    {
        q = SkipSpaces(q);
        if (*q == '\r')
            ++q;
        return *q == '\n' ? q + 1 : nullptr;
    }
    // One number of the simple forms [-+]digits[.digits], whose end must be a blank or the
    // line's end. Exactly as ReadFloat reads it: short decimals by one correctly rounded
    // division, longer ones through the scanner's conversion.
    static const char* SimpleFloat(const char* q, float& value)
    {
        static constexpr float kPowers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                            1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
        const char* start = q;
        const bool negative = *q == '-';
        q += negative || *q == '+';
        uint64_t mantissa = 0;
        const char* digits = q;
        while (IsDigit(*q))
            mantissa = mantissa * 10 + unsigned(*q++ - '0');
        const char* point = q;
        int fraction = 0;
        if (*q == '.')
        {
            ++q;
            const char* first = q;
            while (IsDigit(*q))
                mantissa = mantissa * 10 + unsigned(*q++ - '0');
            fraction = int(q - first);
        }
        const ptrdiff_t count = (point - digits) + fraction;
        if (count == 0 || count > 19 || !(IsSpace(*q) || *q == '\r' || *q == '\n'))
            return nullptr;
        if (mantissa <= (uint64_t(1) << 24) && fraction <= 10)
        {
            const float magnitude = float(mantissa) / kPowers[fraction];
            value = negative ? -magnitude : magnitude;
            return q;
        }
        CTextScanner scan(start, size_t(q - start));
        return scan.ReadFloat(value) && scan.AtEnd() && std::isfinite(value) ? q : nullptr;
    }
    // \p least to \p most numbers, then the line's end: the next line's start, or null.
    static const char* SimpleFloats(const char* q, float* values, int least, int most, int& count)
    {
        count = 0;
        for (;;)
        {
            q = SkipSpaces(q);
            if (*q == '\r' || *q == '\n')
                break;
            if (count == most || !(q = SimpleFloat(q, values[count])))
                return nullptr;
            ++count;
        }
        return count >= least ? LineEnd(q) : nullptr;
    }
    // A positive index of at most nine digits (0-based on return), null for anything else.
    static const char* SimpleIndex(const char* q, int& index)
    {
        const char* first = q;
        int value = 0;
        while (IsDigit(*q) && q - first < 9)
            value = value * 10 + (*q++ - '0');
        if (value == 0 || IsDigit(*q))
            return nullptr;
        index = value - 1;
        return q;
    }

    // Reads the simple statement that starts at \p p; the next line's start, or null.
    const char* ParseSimpleLine(const char* p)
    {
        if (p[0] == 'v')
        {
            float values[3];
            int count = 0;
            const char* next = nullptr;
            if (IsSpace(p[1]))
            {
                if (!m_Chunk.m_Colors.empty() || !(next = SimpleFloats(p + 2, values, 3, 3, count)))
                    return nullptr;
                m_Chunk.m_Positions.Append3(values);
                return next;
            }
            if (p[1] == 't' && IsSpace(p[2]))
            {
                values[1] = values[2] = 0;
                if (!(next = SimpleFloats(p + 3, values, 1, 3, count)))
                    return nullptr;
                m_Chunk.m_UVs.Append3(values);
                return next;
            }
            if (p[1] == 'n' && IsSpace(p[2]))
            {
                if (!(next = SimpleFloats(p + 3, values, 3, 3, count)))
                    return nullptr;
                m_Chunk.m_Normals.Append3(values);
                return next;
            }
            return nullptr;
        }
        if (p[0] == 'f' && IsSpace(p[1]))
            return SimpleFace(p);
        return nullptr;
    }

    // A face of positive indices, all corners of one form (v, v/t, v//n or v/t/n), written
    // straight to the chunk's arrays (and taken back when the line is not simple after all).
    const char* SimpleFace(const char* line)
    {
        CChunk& c = m_Chunk;
        const size_t first = c.m_V.size();
        // Until a face has texture coordinates or normals their arrays stay empty.
        const bool tracksT = !c.m_T.empty(), tracksN = !c.m_N.empty();
        const char* q = line + 2;
        int form = -1; // bit 0: texture coordinates, bit 1: normals
        size_t corners = 0;
        auto undo = [&]()
        {
            c.m_V.resize(first);
            if (tracksT)
                c.m_T.resize(first);
            if (tracksN)
                c.m_N.resize(first);
            return nullptr;
        };
        for (;;)
        {
            q = SkipSpaces(q);
            if (*q == '\r' || *q == '\n')
                break;
            int v, t = -1, n = -1, corner = 0;
            if (!(q = SimpleIndex(q, v)))
                return undo();
            if (*q == '/')
            {
                ++q;
                if (*q != '/')
                {
                    if (!(q = SimpleIndex(q, t)))
                        return undo();
                    corner |= 1;
                }
                if (*q == '/')
                {
                    if (!(q = SimpleIndex(q + 1, n)))
                        return undo();
                    corner |= 2;
                }
            }
            if (!(IsSpace(*q) || *q == '\r' || *q == '\n') || (form >= 0 && corner != form) ||
                corners >= kMaxCorners || ((corner & 1) && !tracksT) || ((corner & 2) && !tracksN))
                return undo(); // the general path starts the texture or normal arrays
            form = corner;
            ++corners;
            c.m_V.push_back(v);
            if (tracksT)
                c.m_T.push_back(t);
            if (tracksN)
                c.m_N.push_back(n);
        }
        const char* next = LineEnd(q);
        // Positive indices are checked against the whole file's elements once it is read.
        if (!next || corners < 3 || first + corners > UINT32_MAX)
            return undo();
        if (c.m_FaceSizes.size() == c.m_LocateFace)
            c.m_LocatedLine = line;
        if (m_Changed || c.m_Runs.empty())
        {
            c.m_Runs.push_back({uint32_t(c.m_FaceSizes.size()), m_Object, m_Material});
            m_Changed = false;
        }
        c.m_FaceSizes.push_back(uint32_t(corners));
        return next;
    }

    void Fail(const char* line, std::string message)
    {
        if (m_Chunk.m_Error.empty())
        {
            m_Chunk.m_Error = std::move(message);
            m_Chunk.m_ErrorLine = line;
        }
    }

    static bool AtStatementEnd(CTextScanner& scan)
    {
        scan.SkipBlanks();
        return scan.AtEnd() || *scan.GetPosition() == '#';
    }

    static std::string Token(CTextScanner& scan)
    {
        scan.SkipBlanks();
        const char* start = scan.GetPosition();
        const char* stop = start;
        while (stop < scan.GetEnd() && !IsBlank(*stop) && stop - start < 40)
            ++stop;
        std::string text(start, stop);
        for (char& c : text)
            if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
                c = '?';
        return text;
    }

    // Reads \p count numbers at least and at most \p most into \p values; false (with the
    // error set) for anything else on the statement.
    int ReadNumbers(CTextScanner& scan, float* values, int least, int most, const char* line,
                    const char* what)
    {
        int count = 0;
        while (count < most && !AtStatementEnd(scan))
        {
            if (!ReadFloat(scan, values[count]))
            {
                Fail(line, "'" + Token(scan) + "' is not a number");
                return -1;
            }
            if (!std::isfinite(values[count]))
            {
                Fail(line, std::string("a ") + what + " has a coordinate that is not finite");
                return -1;
            }
            ++count;
        }
        if (!AtStatementEnd(scan))
        {
            Fail(line,
                 std::string("a ") + what + " has more than " + std::to_string(most) + " numbers");
            return -1;
        }
        if (count < least)
        {
            Fail(line, std::string("a ") + what + " needs " + std::to_string(least) + " numbers");
            return -1;
        }
        return count;
    }

    void ParseStatement(const char* p, const char* end, const char* line)
    {
        while (p < end && IsBlank(*p))
            ++p;
        if (p >= end || *p == '#')
            return;
        const char* word = p;
        while (p < end && !IsBlank(*p))
            ++p;
        const std::string_view keyword(word, size_t(p - word));
        CTextScanner scan(p, size_t(end - p));
        if (keyword == "v")
            ReadVertex(scan, line);
        else if (keyword == "f")
            ReadFace(scan, line);
        else if (keyword == "vt")
        {
            float uvw[3] = {0, 0, 0};
            if (ReadNumbers(scan, uvw, 1, 3, line, "texture coordinate") > 0)
                m_Chunk.m_UVs.Append3(uvw);
        }
        else if (keyword == "vn")
        {
            float xyz[3];
            if (ReadNumbers(scan, xyz, 3, 3, line, "normal") > 0)
                m_Chunk.m_Normals.Append3(xyz);
        }
        else if (keyword == "o" || keyword == "g")
        {
            const int object = m_Objects.Find(scan.RestOfLine());
            m_Changed = m_Changed || object != m_Object;
            m_Object = object;
        }
        else if (keyword == "usemtl")
        {
            const std::string_view name = scan.RestOfLine();
            const int material = name.empty() ? kNoMaterial : m_Materials.Find(name);
            m_Changed = m_Changed || material != m_Material;
            m_Material = material;
        }
        else if (keyword == "mtllib")
            m_Chunk.m_Libraries.emplace_back(scan.RestOfLine());
    }


    void ReadVertex(CTextScanner& scan, const char* line)
    {
        float values[7];
        const int count = ReadNumbers(scan, values, 3, 7, line, "vertex");
        if (count < 0)
            return;
        if (count == 5)
        {
            Fail(line, "a vertex has 5 numbers (3, 4, 6 or 7 are read)");
            return;
        }
        CBigArray<float>& colors = m_Chunk.m_Colors;
        if (count >= 6)
        {
            if (colors.empty())
                colors.assign(m_Chunk.m_Positions.size(), 1.0f);
            colors.Append3(values + count - 3);
        }
        else if (!colors.empty())
            colors.append(3, 1.0f);
        m_Chunk.m_Positions.Append3(values);
    }

    // Reads one index: 0-based, relative ones resolved against the chunk's \p count;
    // \p relative tells which it was. false, with the error set, for a bad index.
    bool ReadIndex(CTextScanner& scan, size_t count, int& index, bool& relative, const char* line,
                   const char* what)
    {
        int64_t value;
        if (!ReadInteger(scan, value))
        {
            Fail(line, "'" + Token(scan) + "' is not a " + what + " index");
            return false;
        }
        if (value == 0 || value > INT_MAX || value < -int64_t(INT_MAX))
        {
            Fail(line, std::string(what) + " index " + std::to_string(value) +
                           " is outside the elements a file can hold");
            return false;
        }
        relative = value < 0;
        index = relative ? int(int64_t(count) + value) : int(value - 1);
        // In the first chunk every element before the statement is known.
        if (relative && index < 0 && !m_Chunk.m_RecordRelative)
        {
            Fail(line, std::string("relative ") + what + " index " + std::to_string(value) +
                           " reaches before the first " + what);
            return false;
        }
        return true;
    }

    void ReadFace(CTextScanner& scan, const char* line)
    {
        m_V.clear();
        m_T.clear();
        m_N.clear();
        m_RelV.clear();
        m_RelT.clear();
        m_RelN.clear();
        bool allT = true;
        bool allN = true;
        const size_t vNbr = m_Chunk.VertexNbr();
        const size_t tNbr = m_Chunk.m_UVs.size() / 3;
        const size_t nNbr = m_Chunk.m_Normals.size() / 3;
        while (!AtStatementEnd(scan))
        {
            int v, t = -1, n = -1;
            bool rel = false, relT = false, relN = false;
            if (!ReadIndex(scan, vNbr, v, rel, line, "vertex"))
                return;
            const char* pos = scan.GetPosition();
            const char* end = scan.GetEnd();
            bool hasT = false, hasN = false;
            if (pos < end && *pos == '/')
            {
                scan.SetPosition(++pos);
                if (pos < end && *pos != '/' && !IsBlank(*pos))
                {
                    if (!ReadIndex(scan, tNbr, t, relT, line, "texture coordinate"))
                        return;
                    hasT = true;
                    pos = scan.GetPosition();
                }
                if (pos < end && *pos == '/')
                {
                    scan.SetPosition(++pos);
                    if (!ReadIndex(scan, nNbr, n, relN, line, "normal"))
                        return;
                    hasN = true;
                    pos = scan.GetPosition();
                }
            }
            if (pos < end && !IsBlank(*pos) && *pos != '#')
            {
                Fail(line, "'" + Token(scan) + "' is not a face corner");
                return;
            }
            if (m_V.size() >= kMaxCorners)
            {
                Fail(line, "a face has more than 65535 corners");
                return;
            }
            allT = allT && hasT;
            allN = allN && hasN;
            m_V.push_back(v);
            m_T.push_back(t);
            m_N.push_back(n);
            m_RelV.push_back(rel);
            m_RelT.push_back(relT);
            m_RelN.push_back(relN);
        }
        if (m_V.size() < 3)
            return; // lines and points are not faces
        CommitFace(line, allT, allN);
    }

    void CommitFace(const char* line, bool hasT, bool hasN)
    {
        CChunk& c = m_Chunk;
        if (c.m_FaceSizes.size() == c.m_LocateFace)
            c.m_LocatedLine = line;
        if (m_Changed || c.m_Runs.empty())
        {
            c.m_Runs.push_back({uint32_t(c.m_FaceSizes.size()), m_Object, m_Material});
            m_Changed = false;
        }
        const size_t first = c.m_V.size();
        if (first + m_V.size() > UINT32_MAX)
        {
            Fail(line, "the file has too many face corners");
            return;
        }
        c.m_FaceSizes.push_back(uint32_t(m_V.size()));
        for (int v : m_V)
            c.m_V.push_back(v);
        AppendChannel(c.m_T, m_T, hasT, first);
        AppendChannel(c.m_N, m_N, hasN, first);
        if (c.m_RecordRelative)
            for (size_t k = 0; k < m_V.size(); ++k)
            {
                if (m_RelV[k])
                    c.m_RelativeV.push_back(uint32_t(first + k));
                if (hasT && m_RelT[k])
                    c.m_RelativeT.push_back(uint32_t(first + k));
                if (hasN && m_RelN[k])
                    c.m_RelativeN.push_back(uint32_t(first + k));
            }
    }

    static void AppendChannel(CBigArray<int>& all, const std::vector<int>& face, bool has,
                              size_t first)
    {
        if (has && all.empty())
            all.assign(first, -1);
        if (has)
            for (int i : face)
                all.push_back(i);
        else if (!all.empty())
            all.append(face.size(), -1);
    }

    CChunk& m_Chunk;
    const char* m_Populated = nullptr;
    const char* m_Reported = nullptr; // where the progress was last told of
    CNameTable m_Objects;
    CNameTable m_Materials;
    int m_Object = kInherit;
    int m_Material = kInherit;
    bool m_Changed = true;
    std::vector<int> m_V, m_T, m_N;
    std::vector<char> m_RelV, m_RelT, m_RelN;
};

// A line end near the middle of [begin, end) that does not end a continued line; null when
// there is none.
const char* FindCut(const char* begin, const char* end)
{
    const char* p = begin + (end - begin) / 2;
    while (p < end)
    {
        const void* newline = std::memchr(p, '\n', size_t(end - p));
        if (!newline)
            return nullptr;
        const char* lineEnd = static_cast<const char*>(newline);
        const char* lineStart = lineEnd;
        while (lineStart > begin && lineStart[-1] != '\n')
            --lineStart;
        if (!CChunkParser::EndsWithJoin(lineStart, lineEnd))
            return lineEnd + 1;
        p = lineEnd + 1;
    }
    return nullptr;
}

struct CSceneRelease
{
    void operator()(C3DScene* scene) const
    {
        if (scene)
            scene->Delete();
    }
};
using CScenePtr = std::unique_ptr<C3DScene, CSceneRelease>;

// One stretch of an object's faces: faces [m_FirstFace, m_EndFace) of a chunk.
struct CSegment
{
    int m_Chunk;
    uint32_t m_FirstFace;
    uint32_t m_EndFace;
    uint32_t m_FirstCorner;
    uint32_t m_EndCorner;
    int m_Material; // global material index, kNoMaterial for the default material
};

struct CObjectPlan
{
    std::string m_Name;
    std::vector<CSegment> m_Segments;
};

// Builds the scene from the parsed chunks.
class CSceneBuilder
{
public:
    CSceneBuilder(std::vector<CChunk>& chunks, const CObjReadSettings& settings, CIoOptions* log)
        : m_Chunks(chunks), m_Settings(settings), m_Log(log)
    {
        size_t v = 0, t = 0, n = 0;
        for (const CChunk& c : chunks)
        {
            m_VOffset.push_back(v);
            m_TOffset.push_back(t);
            m_NOffset.push_back(n);
            v += c.VertexNbr();
            t += c.m_UVs.size() / 3;
            n += c.m_Normals.size() / 3;
        }
        m_VNbr = v;
        m_TNbr = t;
        m_NNbr = n;
    }

    // Shifts relative indices and checks every index. false, with \p error and the chunk and
    // face at fault, on an index outside its elements.
    bool ResolveIndices(std::string& error, int& badChunk, uint32_t& badFace)
    {
        if (m_VNbr > size_t(INT_MAX) || m_TNbr > size_t(INT_MAX) || m_NNbr > size_t(INT_MAX))
        {
            error = "the file has more elements than a scene can hold";
            badChunk = -1;
            return false;
        }
        for (size_t k = 0; k < m_Chunks.size(); ++k)
        {
            CChunk& c = m_Chunks[k];
            for (uint32_t corner : c.m_RelativeV)
                c.m_V[corner] += int(m_VOffset[k]);
            for (uint32_t corner : c.m_RelativeT)
                c.m_T[corner] += int(m_TOffset[k]);
            for (uint32_t corner : c.m_RelativeN)
                c.m_N[corner] += int(m_NOffset[k]);
            // A relative index of a later chunk that still reaches before the first element
            // (-1 would otherwise read as "no element").
            for (auto [list, indices, what] :
                 {std::tuple(&c.m_RelativeV, &c.m_V, "vertex"),
                  std::tuple(&c.m_RelativeT, &c.m_T, "texture coordinate"),
                  std::tuple(&c.m_RelativeN, &c.m_N, "normal")})
                for (uint32_t corner : *list)
                    if ((*indices)[corner] < 0)
                    {
                        error = std::string("a relative face ") + what +
                                " index reaches before the first " + what;
                        badChunk = int(k);
                        badFace = FaceOfCorner(c, corner);
                        return false;
                    }
            size_t bad = CheckRange(c.m_V, m_VNbr, false);
            const char* what = "vertex";
            size_t nbr = m_VNbr;
            CBigArray<int>* indices = &c.m_V;
            const size_t badT = CheckRange(c.m_T, m_TNbr, true);
            const size_t badN = CheckRange(c.m_N, m_NNbr, true);
            if (badT < bad)
            {
                bad = badT, what = "texture coordinate", nbr = m_TNbr, indices = &c.m_T;
            }
            if (badN < bad)
            {
                bad = badN, what = "normal", nbr = m_NNbr, indices = &c.m_N;
            }
            if (bad == SIZE_MAX)
                continue;
            const int64_t value = (*indices)[bad];
            error = std::string("face ") + what + " index " +
                    std::to_string(value < 0 ? value : value + 1) + " is outside the " +
                    std::to_string(nbr) + " " + what + (nbr == 1 ? "" : "s") + " of the file";
            if (value < 0)
                error = std::string("a relative face ") + what +
                        " index reaches before the first " + what;
            badChunk = int(k);
            badFace = FaceOfCorner(c, bad);
            return false;
        }
        return true;
    }

    // Objects and materials in order of first use.
    void Plan()
    {
        std::unordered_map<std::string, int> objects;
        std::unordered_map<std::string, int> materials;
        int object = -1; // the default object until an o or g line
        int material = kNoMaterial;
        for (size_t k = 0; k < m_Chunks.size(); ++k)
        {
            CChunk& c = m_Chunks[k];
            // Names are numbered when faces first use them.
            std::vector<int> objectIndex(c.m_ObjectNames.size(), -1);
            auto objectMap = [&](int local)
            {
                int& index = objectIndex[size_t(local)];
                if (index < 0)
                {
                    const std::string& name = c.m_ObjectNames[size_t(local)];
                    index = Intern(objects, name.empty() ? m_Settings.m_DefaultName : name,
                                   m_ObjectNames);
                }
                return index;
            };
            std::vector<int> materialIndex(c.m_MaterialNames.size(), -1);
            auto materialMap = [&](int local)
            {
                int& index = materialIndex[size_t(local)];
                if (index < 0)
                    index = Intern(materials, c.m_MaterialNames[size_t(local)], m_MaterialNames);
                return index;
            };
            for (size_t r = 0; r < c.m_Runs.size(); ++r)
            {
                const CRun& run = c.m_Runs[r];
                if (run.m_Object != kInherit)
                    object = objectMap(run.m_Object);
                if (run.m_Material != kInherit)
                    material =
                        run.m_Material == kNoMaterial ? kNoMaterial : materialMap(run.m_Material);
                if (object < 0)
                    object = Intern(objects, m_Settings.m_DefaultName, m_ObjectNames);
                const uint32_t endFace = r + 1 < c.m_Runs.size() ? c.m_Runs[r + 1].m_FirstFace
                                                                 : uint32_t(c.m_FaceSizes.size());
                if (m_Plans.size() < m_ObjectNames.size())
                    m_Plans.resize(m_ObjectNames.size());
                CObjectPlan& plan = m_Plans[size_t(object)];
                plan.m_Name = m_ObjectNames[size_t(object)];
                plan.m_Segments.push_back({int(k), run.m_FirstFace, endFace, 0, 0, material});
                if (material == kNoMaterial)
                    m_UsesDefault = true;
                else if (m_MaterialUsed.size() <= size_t(material))
                    m_MaterialUsed.resize(size_t(material) + 1, 0);
                if (material >= 0)
                    m_MaterialUsed[size_t(material)] = 1;
            }
            if (c.m_FinalObject != kInherit)
                object = objectMap(c.m_FinalObject);
            if (c.m_FinalMaterial != kInherit)
                material =
                    c.m_FinalMaterial == kNoMaterial ? kNoMaterial : materialMap(c.m_FinalMaterial);
        }
        // Corner ranges of the segments.
        for (size_t k = 0; k < m_Chunks.size(); ++k)
        {
            const CChunk& c = m_Chunks[k];
            std::vector<CSegment*> segments;
            for (CObjectPlan& plan : m_Plans)
                for (CSegment& s : plan.m_Segments)
                    if (s.m_Chunk == int(k))
                        segments.push_back(&s);
            std::sort(segments.begin(), segments.end(),
                      [](const CSegment* a, const CSegment* b)
                      { return a->m_FirstFace < b->m_FirstFace; });
            uint32_t corner = 0;
            uint32_t face = 0;
            for (CSegment* s : segments)
            {
                for (; face < s->m_FirstFace; ++face)
                    corner += c.m_FaceSizes[face];
                s->m_FirstCorner = corner;
                for (; face < s->m_EndFace; ++face)
                    corner += c.m_FaceSizes[face];
                s->m_EndCorner = corner;
            }
        }
    }

    // Materials of the scene's table, with the libraries' parameters; \p libraries are read
    // from the settings' folder.
    void MakeMaterials(C3DScene& scene, const std::vector<std::string>& libraries)
    {
        zanobj::CMaterialLibrary library;
        if (!m_Settings.m_MaterialFolder.empty())
            for (const std::string& line : libraries)
            {
                // One name with blanks in it, or several names.
                std::string warning;
                if (library.ReadFile(m_Settings.m_MaterialFolder, line, warning))
                    continue;
                std::vector<std::string> names;
                CTextScanner scan(line);
                for (std::string_view word = scan.ReadWord(); !word.empty(); word = scan.ReadWord())
                    names.emplace_back(word);
                if (names.size() < 2)
                    names.assign(1, line);
                for (const std::string& name : names)
                    if (!library.ReadFile(m_Settings.m_MaterialFolder, name, warning) && m_Log)
                        m_Log->AddLogInfo(_IoLevelWarning, "%s", warning.c_str());
            }
        m_UVChannelID = CChannel::CreateID();
        if (m_UsesDefault)
            m_DefaultMaterialID = scene.CreateNewMaterial(0)->GetMaterialID();
        m_MaterialIDs.assign(m_MaterialNames.size(), 0);
        for (size_t i = 0; i < m_MaterialNames.size(); ++i)
        {
            if (i >= m_MaterialUsed.size() || !m_MaterialUsed[i])
                continue;
            C3DMaterial* material = scene.CreateNewMaterial();
            material->SetName(CXTString(m_MaterialNames[i]));
            const zanobj::CMtlMaterial* found = library.Find(m_MaterialNames[i]);
            if (found)
                found->Apply(*material, m_UVChannelID);
            else if (m_Log)
                m_Log->AddLogInfo(_IoLevelWarning,
                                  "the material '%s' is not in the material libraries",
                                  m_MaterialNames[i].c_str());
            m_MaterialIDs[i] = material->GetMaterialID();
        }
    }

    // One node per object with faces.
    bool MakeNodes(C3DScene& scene)
    {
        std::vector<int> local(m_VNbr, -1);
        std::vector<int> localT;
        std::vector<int> localN;
        size_t remaining = 0;
        for (const CObjectPlan& plan : m_Plans)
            remaining += plan.m_Segments.empty() ? 0 : 1;
        for (CObjectPlan& plan : m_Plans)
        {
            if (plan.m_Segments.empty())
                continue;
            if (!MakeObject(scene, plan, local, localT, localN, --remaining == 0))
                return false;
        }
        return true;
    }

private:
    static int Intern(std::unordered_map<std::string, int>& map, const std::string& name,
                      std::vector<std::string>& names)
    {
        auto found = map.find(name);
        if (found != map.end())
            return found->second;
        names.push_back(name);
        map.emplace(name, int(names.size()) - 1);
        return int(names.size()) - 1;
    }

    // The first corner whose index is not below \p count (or negative); SIZE_MAX when none.
    // -1 is allowed in channels (no element).
    static size_t CheckRange(const CBigArray<int>& indices, size_t count, bool channel)
    {
        const unsigned bound = unsigned(count);
        const int* data = indices.data();
        const size_t n = indices.size();
        for (size_t i = 0; i < n; ++i)
            if (unsigned(data[i]) >= bound && !(channel && data[i] == -1))
                return i;
        return SIZE_MAX;
    }

    static uint32_t FaceOfCorner(const CChunk& c, size_t corner)
    {
        size_t sum = 0;
        for (size_t f = 0; f < c.m_FaceSizes.size(); ++f)
        {
            sum += c.m_FaceSizes[f];
            if (corner < sum)
                return uint32_t(f);
        }
        return 0;
    }

    // The coordinates of global element \p index of the arrays chosen by \p array.
    const float* Element(CBigArray<float> CChunk::*array, const std::vector<size_t>& offsets,
                         size_t index) const
    {
        size_t k = m_Chunks.size() - 1;
        while (k > 0 && offsets[k] > index)
            --k;
        return (m_Chunks[k].*array).data() + 3 * (index - offsets[k]);
    }

    // The corner and face ranges of segment \p s in its chunk's arrays.
    int* SegmentCorners(CBigArray<int> CChunk::*array, const CSegment& s) const
    {
        return (m_Chunks[size_t(s.m_Chunk)].*array).data() + s.m_FirstCorner;
    }
    const unsigned* SegmentCounts(const CSegment& s) const
    {
        return m_Chunks[size_t(s.m_Chunk)].m_FaceSizes.data() + s.m_FirstFace;
    }

    // Every corner belongs to one object, so an object's indices are renumbered in place in
    // the chunks' arrays and its face lists are filled segment by segment from there.
    // \p last: no object follows, so the parsed coordinates can go as soon as they are
    // copied (the peak of a read is while the last object's faces are built).
    bool MakeObject(C3DScene& scene, const CObjectPlan& plan, std::vector<int>& local,
                    std::vector<int>& localT, std::vector<int>& localN, bool last)
    {
        size_t faceNbr = 0, cornerNbr = 0;
        bool hasT = false, hasN = false;
        for (const CSegment& s : plan.m_Segments)
        {
            const CChunk& c = m_Chunks[size_t(s.m_Chunk)];
            faceNbr += s.m_EndFace - s.m_FirstFace;
            cornerNbr += s.m_EndCorner - s.m_FirstCorner;
            hasT = hasT || HasAny(c.m_T, s);
            hasN = hasN || HasAny(c.m_N, s);
        }
        if (faceNbr > INT_MAX || cornerNbr > UINT32_MAX)
            return false;
        bool hasColors = false;
        for (const CChunk& c : m_Chunks)
            hasColors = hasColors || !c.m_Colors.empty();

        // Points in order of first use, corners renumbered.
        std::vector<int> used;
        used.reserve(std::min(cornerNbr, m_VNbr));
        for (const CSegment& s : plan.m_Segments)
        {
            int* v = SegmentCorners(&CChunk::m_V, s);
            const size_t n = s.m_EndCorner - s.m_FirstCorner;
            for (size_t i = 0; i < n; ++i)
            {
                int& slot = local[size_t(v[i])];
                if (slot < 0)
                {
                    slot = int(used.size());
                    used.push_back(v[i]);
                }
                v[i] = slot;
            }
        }
        if (last)
            std::vector<int>().swap(local);
        else
            for (int v : used)
                local[size_t(v)] = -1;

        C3DObject* object = new C3DObject;
        C3DSceneNode* node = C3DSceneNode::Create();
        node->SetName(CXTString(plan.m_Name));
        node->SetObject(object, true);
        scene.AddNode(nullptr, node);

        auto* points = C3DPointList::Create();
        auto* faces = C3DFaceList::Create();
        object->SetPointList(points, true);
        object->SetFaceList(faces, true);
        if (!points->SetSize(int(used.size()), false))
            return false;
        {
            CPointView<C3DTPoint<float>> view = points->GetPointView();
            for (size_t i = 0; i < used.size(); ++i)
            {
                const float* p = Element(&CChunk::m_Positions, m_VOffset, size_t(used[i]));
                C3DTPoint<float>& q = view[i];
                q.m_X = p[0];
                q.m_Y = p[1];
                q.m_Z = p[2];
            }
        }
        if (last && !hasColors)
            for (CChunk& c : m_Chunks)
                c.m_Positions.Release();
        for (const CSegment& s : plan.m_Segments)
            if (!faces->AddFaces(SegmentCorners(&CChunk::m_V, s), SegmentCounts(s),
                                 s.m_EndFace - s.m_FirstFace, unsigned(used.size())))
                return false;
        faces->SetPointBound(*points);
        // New faces carry a material already: only other materials are written.
        const unsigned constructed = faces->GetFaceMaterial(0);
        size_t faceAt = 0;
        for (const CSegment& s : plan.m_Segments)
        {
            const unsigned id = s.m_Material == kNoMaterial ? m_DefaultMaterialID
                                                            : m_MaterialIDs[size_t(s.m_Material)];
            const uint32_t runFaces = s.m_EndFace - s.m_FirstFace;
            if (id != constructed)
                for (uint32_t f = 0; f < runFaces; ++f)
                    faces->SetFaceMaterial(unsigned(faceAt + f), id);
            faceAt += runFaces;
        }

        if (hasColors)
        {
            auto* channel = static_cast<CVCChannel*>(CChannel::Create(_ChannelVC));
            object->AddChannel(channel);
            CVCPointList& values = *channel->GetVCPointList();
            if (!values.SetSize(int(used.size()), false))
                return false;
            for (const CSegment& s : plan.m_Segments)
                if (!channel->GetFaceList()->AddFaces(SegmentCorners(&CChunk::m_V, s),
                                                      SegmentCounts(s), s.m_EndFace - s.m_FirstFace,
                                                      unsigned(used.size())))
                    return false;
            for (size_t i = 0; i < used.size(); ++i)
                values[int(i)] = CVCPoint(ColorOf(size_t(used[i])));
        }
        if (hasT && !MakeCornerChannel(*object, plan, true, localT))
            return false;
        if (hasN && !MakeCornerChannel(*object, plan, false, localN))
            return false;
        return true;
    }

    static bool HasAny(const CBigArray<int>& indices, const CSegment& s)
    {
        if (indices.empty())
            return false;
        for (uint32_t i = s.m_FirstCorner; i < s.m_EndCorner; ++i)
            if (indices[i] >= 0)
                return true;
        return false;
    }

    CRGBColor ColorOf(size_t vertex) const
    {
        size_t k = m_Chunks.size() - 1;
        while (k > 0 && m_VOffset[k] > vertex)
            --k;
        const CChunk& c = m_Chunks[k];
        if (c.m_Colors.empty())
            return CRGBColor(255, 255, 255);
        const float* rgb = c.m_Colors.data() + 3 * (vertex - m_VOffset[k]);
        auto byte = [](float value)
        {
            const float clamped = std::min(1.0f, std::max(0.0f, value));
            return uint8_t(std::lround(clamped * 255.0f));
        };
        return CRGBColor(byte(rgb[0]), byte(rgb[1]), byte(rgb[2]));
    }

    // The texture (\p uv) or normal channel of an object: values in order of first use, the
    // corners renumbered in place in the chunks' index arrays.
    bool MakeCornerChannel(C3DObject& object, const CObjectPlan& plan, bool uv,
                           std::vector<int>& local)
    {
        CBigArray<int> CChunk::*array = uv ? &CChunk::m_T : &CChunk::m_N;
        const size_t total = uv ? m_TNbr : m_NNbr;
        if (local.size() != total)
            local.assign(total, -1);
        std::vector<int> used;
        std::vector<char> without; // faces with no element
        bool undefinedNeeded = false;
        for (const CSegment& s : plan.m_Segments)
        {
            const CChunk& c = m_Chunks[size_t(s.m_Chunk)];
            if ((c.*array).empty())
            {
                without.insert(without.end(), s.m_EndFace - s.m_FirstFace, 1);
                undefinedNeeded = true;
                continue;
            }
            int* indices = SegmentCorners(array, s);
            size_t corner = 0;
            for (uint32_t f = s.m_FirstFace; f < s.m_EndFace; ++f)
            {
                const uint32_t size = c.m_FaceSizes[f];
                const bool none = indices[corner] < 0;
                without.push_back(none);
                undefinedNeeded = undefinedNeeded || none;
                for (uint32_t i = 0; i < size; ++i, ++corner)
                {
                    if (none)
                        continue; // stays negative until the filler is known
                    int& slot = local[size_t(indices[corner])];
                    if (slot < 0)
                    {
                        slot = int(used.size());
                        used.push_back(indices[corner]);
                    }
                    indices[corner] = slot;
                }
            }
        }
        for (int i : used)
            local[size_t(i)] = -1;
        // Faces without elements: texture faces point at value 0 and are excluded; normal
        // faces point at one undefined normal.
        const int filler = uv ? 0 : int(used.size());
        const size_t valueNbr = used.size() + (!uv && undefinedNeeded ? 1 : 0);
        CFaceList* faces = nullptr;
        if (uv)
        {
            auto* channel = new CUVWChannel(m_UVChannelID);
            object.AddChannel(channel);
            CUVWPointList& values = *channel->GetUVWPointList();
            if (!values.SetSize(int(valueNbr), false))
                return false;
            for (size_t i = 0; i < used.size(); ++i)
            {
                const float* p = Element(&CChunk::m_UVs, m_TOffset, size_t(used[i]));
                values[int(i)] = CUVWPoint(p[0], p[1], p[2]);
            }
            faces = channel->GetFaceList();
        }
        else
        {
            auto* channel = static_cast<CSpecNormalChannel*>(CChannel::Create(_ChannelSpecNormal));
            object.AddChannel(channel);
            C3DVectorList& values = *channel->GetNormalVectorList();
            if (!values.SetSize(int(valueNbr), false))
                return false;
            for (size_t i = 0; i < used.size(); ++i)
            {
                const float* p = Element(&CChunk::m_Normals, m_NOffset, size_t(used[i]));
                values[int(i)].Set(p[0], p[1], p[2]);
                values[int(i)].SetFlags(0);
            }
            if (valueNbr > used.size())
                values[int(used.size())].SetFlags(_NormalUndefined);
            faces = channel->GetFaceList();
        }
        const unsigned bound = unsigned(std::max<size_t>(valueNbr, 1));
        std::vector<int> fillers;
        for (const CSegment& s : plan.m_Segments)
        {
            const size_t n = s.m_EndCorner - s.m_FirstCorner;
            int* indices = nullptr;
            if ((m_Chunks[size_t(s.m_Chunk)].*array).empty())
            {
                fillers.assign(n, filler);
                indices = fillers.data();
            }
            else
            {
                indices = SegmentCorners(array, s);
                for (size_t i = 0; i < n; ++i)
                    if (indices[i] < 0)
                        indices[i] = filler;
            }
            if (!faces->AddFaces(indices, SegmentCounts(s), s.m_EndFace - s.m_FirstFace, bound))
                return false;
        }
        if (uv)
            for (size_t f = 0; f < without.size(); ++f)
                if (without[f])
                    faces->SetFaceFlags(unsigned(f), _FaceExcluded, true);
        return true;
    }

    std::vector<CChunk>& m_Chunks;
    const CObjReadSettings& m_Settings;
    CIoOptions* m_Log;
    std::vector<size_t> m_VOffset, m_TOffset, m_NOffset;
    size_t m_VNbr = 0, m_TNbr = 0, m_NNbr = 0;
    std::vector<std::string> m_ObjectNames, m_MaterialNames;
    std::vector<char> m_MaterialUsed;
    std::vector<CObjectPlan> m_Plans;
    std::vector<unsigned> m_MaterialIDs;
    unsigned m_DefaultMaterialID = 0;
    unsigned m_UVChannelID = 0;
    bool m_UsesDefault = false;
};

void LogError(CIoOptions* log, size_t line, const std::string& message)
{
    if (!log)
        return;
    if (line)
        log->AddLogInfo(_IoLevelError, "line %zu: %s", line, message.c_str());
    else
        log->AddLogInfo(_IoLevelError, "%s", message.c_str());
}

// The line of face \p face of the chunk that starts at \p begin (parsed again to find it).
size_t LocateFace(const char* text, const CChunk& chunk, uint32_t face)
{
    CChunk again;
    again.m_Begin = chunk.m_Begin;
    again.m_End = chunk.m_End;
    again.m_LocateFace = face;
    CChunkParser(again).Parse();
    return again.m_LocatedLine ? CTextScanner::LineNumberAt(text, again.m_LocatedLine) : 0;
}
} // namespace

C3DScene* ReadObjText(const char* data, size_t size, const CObjReadSettings& settings,
                      CIoOptions* log, int& result)
{
    result = _IoResultOk;
    if (!data)
        size = 0;
    try
    {
        std::vector<CChunk> chunks(1);
        chunks[0].m_Begin = data;
        chunks[0].m_End = data + size;
        chunks[0].m_Mapped = chunks[0].m_ReleaseText = settings.m_TextIsFileMapping;
        chunks[0].m_Progress = settings.m_Progress;
        const char* cut = settings.m_ThreadCount > 1 && size >= kParallelBytes
                              ? FindCut(data, data + size)
                              : nullptr;
        if (cut && cut < data + size)
        {
            chunks.resize(2);
            chunks[0].m_End = cut;
            chunks[1].m_Begin = cut;
            chunks[1].m_End = data + size;
            chunks[1].m_RecordRelative = true;
            chunks[1].m_Mapped = settings.m_TextIsFileMapping;
            chunks[1].m_Progress = settings.m_Progress;

            // Pages are given back once both halves are read: releasing them while the other
            // thread faults pages in makes the two wait on each other.
            chunks[0].m_ReleaseText = false;
            ZanParallelFor(
                2, [&](int k) { CChunkParser(chunks[size_t(k)]).Parse(); }, 2, 1);
            if (settings.m_TextIsFileMapping)
                CChunkParser::ReleasePages(data, data + size);
        }
        else
            CChunkParser(chunks[0]).Parse();

        for (const CChunk& c : chunks)
            if (c.m_Stopped)
            {
                if (log)
                    log->AddLogInfo(_IoLevelWarning, "%s", c.m_Error.c_str());
                result = _IoResultCancelled;
                return nullptr;
            }
        for (const CChunk& c : chunks)
            if (!c.m_Error.empty())
            {
                LogError(log, CTextScanner::LineNumberAt(data, c.m_ErrorLine), c.m_Error);
                result = _IoResultBadFormat;
                return nullptr;
            }

        CSceneBuilder builder(chunks, settings, log);
        std::string error;
        int badChunk = -1;
        uint32_t badFace = 0;
        if (!builder.ResolveIndices(error, badChunk, badFace))
        {
            const size_t line =
                badChunk >= 0 ? LocateFace(data, chunks[size_t(badChunk)], badFace) : 0;
            LogError(log, line, error);
            result = _IoResultBadFormat;
            return nullptr;
        }
        builder.Plan();
        bool anyFace = false;
        std::vector<std::string> libraries;
        for (const CChunk& c : chunks)
        {
            anyFace = anyFace || !c.m_FaceSizes.empty();
            libraries.insert(libraries.end(), c.m_Libraries.begin(), c.m_Libraries.end());
        }
        if (!anyFace)
        {
            LogError(log, 0, "the file holds no face");
            result = _IoResultEmptyResult;
            return nullptr;
        }
        CScenePtr scene(C3DScene::Create());
        builder.MakeMaterials(*scene, libraries);
        // The parsed text is no longer needed as it was: free what the objects do not read.
        for (CChunk& c : chunks)
        {
            std::vector<uint32_t>().swap(c.m_RelativeV);
            std::vector<uint32_t>().swap(c.m_RelativeT);
            std::vector<uint32_t>().swap(c.m_RelativeN);
        }
        if (!builder.MakeNodes(*scene))
        {
            LogError(log, 0, "the objects could not be built (memory is short)");
            result = _IoResultReadError;
            return nullptr;
        }
        return scene.release();
    }
    catch (const std::bad_alloc&)
    {
        LogError(log, 0, "memory is short");
        result = _IoResultReadError;
        return nullptr;
    }
}
