/// \file xstring.h
/// \brief CXTString, the library's string: UTF-8 inside, wide text converted at the boundary.
#pragma once

#include <3dzan/foundation/zandefs.h>

#include <cstdarg>
#include <string>
#include <string_view>

/// \brief Source of user-visible texts by numeric id (the string table of the library).
class ZAN_API CStringTable
{
public:
    virtual ~CStringTable();
    /// \brief The text of \p id in the current language, or null when the table lacks it.
    virtual const char* GetString(unsigned id) const = 0;
};

/// \brief A UTF-8 string with the formatting, comparison and editing the library needs.
class ZAN_API CXTString
{
public:
    CXTString() = default;
    CXTString(const char* text) : m_Text(text ? text : "") {}
    CXTString(const char* text, size_t length) : m_Text(text, length) {}
    CXTString(std::string text) : m_Text(std::move(text)) {}
    CXTString(std::string_view text) : m_Text(text) {}
    /// \brief Converts wide text (UTF-32 code points) to UTF-8.
    CXTString(const wchar_t* text);

    /// \brief Installs the table that LoadStringW reads; null removes it. Not owned.
    static void SetStringTable(const CStringTable* table);
    static const CStringTable* GetStringTable();

    /// \brief Replaces the content with the string-table text of \p id.
    /// \return false, leaving the string empty, when no table is installed or it lacks the id.
    bool LoadStringW(unsigned id);
    /// \brief The text of \p id, or an empty string.
    static CXTString FromId(unsigned id);

    /// \brief printf-style formatting into this string.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* format, va_list args);
    /// \brief Formats with the string-table text of \p id as the format.
    void FormatId(unsigned id, ...);
    /// \brief printf-style formatting, appended.
    void AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

    int GetLength() const { return int(m_Text.size()); }
    bool IsEmpty() const { return m_Text.empty(); }
    void Empty() { m_Text.clear(); }
    const char* c_str() const { return m_Text.c_str(); }
    operator const char*() const { return m_Text.c_str(); }
    const std::string& str() const { return m_Text; }
    std::string& str() { return m_Text; }
    /// \brief Byte at \p index; CXInvalidArgException outside the string.
    char GetAt(int index) const;

    /// \brief Wide text (one wchar_t per code point).
    std::wstring ToWide() const;

    /// \brief Byte-wise comparison: negative, 0 or positive.
    int Compare(const char* other) const;
    /// \brief Comparison ignoring ASCII case.
    int CompareNoCase(const char* other) const;
    bool operator==(const CXTString& other) const { return m_Text == other.m_Text; }
    bool operator==(const char* other) const { return m_Text == (other ? other : ""); }
    bool operator!=(const CXTString& other) const { return m_Text != other.m_Text; }
    bool operator<(const CXTString& other) const { return m_Text < other.m_Text; }

    CXTString& operator+=(const CXTString& other)
    {
        m_Text += other.m_Text;
        return *this;
    }
    CXTString& operator+=(const char* other)
    {
        m_Text += other ? other : "";
        return *this;
    }
    CXTString& operator+=(char c)
    {
        m_Text += c;
        return *this;
    }
    friend CXTString operator+(CXTString a, const CXTString& b) { return a += b; }
    friend CXTString operator+(CXTString a, const char* b) { return a += b; }

    /// \brief Replaces every occurrence of \p from with \p to; returns the count replaced.
    int Replace(const char* from, const char* to);
    /// \brief Replaces every occurrence of one byte; returns the count replaced.
    int Replace(char from, char to);
    /// \brief Index of the first \p what at or after \p start, or -1.
    int Find(const char* what, int start = 0) const;
    int Find(char what, int start = 0) const;
    /// \brief Index of the last \p what, or -1.
    int ReverseFind(char what) const;
    CXTString Left(int count) const;
    CXTString Right(int count) const;
    CXTString Mid(int first, int count = -1) const;
    /// ASCII case changes; other bytes stay.
    CXTString& MakeLower();
    CXTString& MakeUpper();
    CXTString& Trim();
    CXTString& TrimLeft();
    CXTString& TrimRight();

private:
    std::string m_Text;
};

/// \brief Converts UTF-8 to wide text; invalid sequences become U+FFFD.
ZAN_API std::wstring ZanUtf8ToWide(std::string_view text);
/// \brief Converts wide text to UTF-8.
ZAN_API std::string ZanWideToUtf8(std::wstring_view text);
