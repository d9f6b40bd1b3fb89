// What the format plug-ins share: a read-only mapping of an input file, a scanner over text
// held in memory, and an output file that replaces its target only once complete.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace zanplugin
{
/// \brief A whole file mapped read-only (an empty file maps to an empty view).
class CMappedFile
{
public:
    CMappedFile() = default;
    ~CMappedFile();
    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;

    /// \brief Maps \p path. \return false, with GetError() telling why, when the file cannot
    ///        be opened, is not a regular file or cannot be mapped.
    bool Open(const char* path);
    const char* GetData() const { return m_Data; }
    size_t GetSize() const { return m_Size; }
    std::string_view GetView() const { return {m_Data, m_Size}; }
    const std::string& GetError() const { return m_Error; }

private:
    const char* m_Data = nullptr;
    size_t m_Size = 0;
    void* m_Mapping = nullptr;
    std::string m_Error;
};

/// \brief A cursor over text in memory for line-based formats. Never reads past the end;
///        numbers are parsed with std::from_chars (locale-independent).
class CTextScanner
{
public:
    CTextScanner(const char* data, size_t size) : m_Pos(data), m_End(data + size) {}
    explicit CTextScanner(std::string_view text) : CTextScanner(text.data(), text.size()) {}

    bool AtEnd() const { return m_Pos >= m_End; }
    const char* GetPosition() const { return m_Pos; }
    const char* GetEnd() const { return m_End; }
    void SetPosition(const char* position) { m_Pos = position; }
    /// \brief The 1-based number of the line the cursor is on (counted on demand, from
    ///        \p start).
    static size_t LineNumberAt(const char* start, const char* position);

    /// \brief Skips blanks (space, tab, '\r') without leaving the line.
    void SkipBlanks()
    {
        while (m_Pos < m_End && (*m_Pos == ' ' || *m_Pos == '\t' || *m_Pos == '\r'))
            ++m_Pos;
    }
    /// \brief Whether only blanks remain before the end of the line (or of the text).
    bool AtLineEnd()
    {
        SkipBlanks();
        return m_Pos >= m_End || *m_Pos == '\n';
    }
    /// \brief Moves past the next '\n' (to the end when there is none).
    void NextLine()
    {
        const void* newline = m_Pos < m_End ? std::memchr(m_Pos, '\n', size_t(m_End - m_Pos)) : nullptr;
        m_Pos = newline ? static_cast<const char*>(newline) + 1 : m_End;
    }
    /// \brief The rest of the line, blanks trimmed at both ends; the cursor stays.
    std::string_view RestOfLine();
    /// \brief The next blank-separated word of the line (empty at the line's end).
    std::string_view ReadWord()
    {
        SkipBlanks();
        const char* start = m_Pos;
        while (m_Pos < m_End && *m_Pos != ' ' && *m_Pos != '\t' && *m_Pos != '\r' && *m_Pos != '\n')
            ++m_Pos;
        return {start, size_t(m_Pos - start)};
    }
    /// \brief Reads a number after blanks. \return false, the cursor unchanged, when none is
    ///        there or it does not fit the type.
    bool ReadFloat(float& value) { return ReadNumber(value); }
    bool ReadDouble(double& value) { return ReadNumber(value); }
    bool ReadInt(int64_t& value) { return ReadNumber(value); }
    bool ReadInt(int& value) { return ReadNumber(value); }

private:
    template <class T> bool ReadNumber(T& value)
    {
        SkipBlanks();
        const char* start = m_Pos;
        if (start < m_End && *start == '+') // from_chars refuses a leading '+'
            ++start;
        const std::from_chars_result result = std::from_chars(start, m_End, value);
        if (result.ec != std::errc())
            return false;
        m_Pos = result.ptr;
        return true;
    }

    const char* m_Pos;
    const char* m_End;
};

/// \brief An output file written through a temporary file in the same folder, renamed over
///        the target by Commit. Until then (and when Commit fails or is never called) the
///        old file stays as it was; the temporary file is removed on destruction.
class CAtomicFile
{
public:
    CAtomicFile() = default;
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    /// \brief Creates the temporary file beside \p path. false, with GetError(), on failure.
    bool Open(const char* path);
    /// \brief Appends bytes (buffered). A write failure is remembered and reported by Commit.
    void Write(const void* data, size_t size);
    void Write(std::string_view text) { Write(text.data(), text.size()); }
    /// \brief printf-style text.
    void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    /// \brief Flushes, closes and renames over the target. \return false (the target
    ///        unchanged) when anything failed.
    bool Commit();
    const std::string& GetError() const { return m_Error; }

private:
    void FlushBuffer();
    int m_Descriptor = -1;
    std::string m_Path;
    std::string m_Temporary;
    std::vector<char> m_Buffer;
    std::string m_Error;
    bool m_Failed = false;
};

/// \brief Shortest text that reads back to exactly \p value ("1", "0.1", "1e-07").
std::string_view FormatFloat(float value, char (&buffer)[32]);
} // namespace zanplugin
