#include <3dzan/foundation/exceptions.h>
#include <3dzan/foundation/xstring.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace
{
std::atomic<const CStringTable*> g_StringTable{nullptr};

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
} // namespace

CStringTable::~CStringTable() = default;

CXTString::CXTString(const wchar_t* text)
    : m_Text(text ? ZanWideToUtf8(std::wstring_view(text)) : std::string())
{
}

void CXTString::SetStringTable(const CStringTable* table) { g_StringTable.store(table); }

const CStringTable* CXTString::GetStringTable() { return g_StringTable.load(); }

bool CXTString::LoadStringW(unsigned id)
{
    m_Text.clear();
    const CStringTable* table = g_StringTable.load();
    const char* text = table ? table->GetString(id) : nullptr;
    if (!text)
        return false;
    m_Text = text;
    return true;
}

CXTString CXTString::FromId(unsigned id)
{
    CXTString s;
    s.LoadStringW(id);
    return s;
}

void CXTString::FormatV(const char* format, va_list args)
{
    if (!format)
    {
        m_Text.clear();
        return;
    }
    char small[256];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
    {
        m_Text.clear();
        return;
    }
    if (size_t(n) < sizeof small)
    {
        m_Text.assign(small, size_t(n));
        return;
    }
    std::string out(size_t(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(size_t(n));
    m_Text = std::move(out);
}

void CXTString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CXTString::FormatId(unsigned id, ...)
{
    CXTString format = FromId(id);
    va_list args;
    va_start(args, id);
    FormatV(format.c_str(), args);
    va_end(args);
}

void CXTString::AppendFormat(const char* format, ...)
{
    CXTString tail;
    va_list args;
    va_start(args, format);
    tail.FormatV(format, args);
    va_end(args);
    m_Text += tail.m_Text;
}

char CXTString::GetAt(int index) const
{
    if (index < 0 || size_t(index) >= m_Text.size())
        ZanThrowIndexError("CXTString::GetAt", index, GetLength());
    return m_Text[size_t(index)];
}

std::wstring CXTString::ToWide() const { return ZanUtf8ToWide(m_Text); }

int CXTString::Compare(const char* other) const
{
    int c = std::strcmp(m_Text.c_str(), other ? other : "");
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CXTString::CompareNoCase(const char* other) const
{
    int c = strcasecmp(m_Text.c_str(), other ? other : "");
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CXTString::Replace(const char* from, const char* to)
{
    if (!from || !*from)
        return 0;
    std::string_view what(from), with(to ? to : "");
    std::string out;
    int count = 0;
    size_t start = 0;
    for (size_t at; (at = m_Text.find(what, start)) != std::string::npos; start = at + what.size())
    {
        out.append(m_Text, start, at - start);
        out.append(with);
        ++count;
    }
    if (count)
    {
        out.append(m_Text, start, std::string::npos);
        m_Text = std::move(out);
    }
    return count;
}

int CXTString::Replace(char from, char to)
{
    int count = 0;
    for (char& c : m_Text)
        if (c == from)
        {
            c = to;
            ++count;
        }
    return count;
}

int CXTString::Find(const char* what, int start) const
{
    if (!what || start < 0 || size_t(start) > m_Text.size())
        return -1;
    size_t at = m_Text.find(what, size_t(start));
    return at == std::string::npos ? -1 : int(at);
}

int CXTString::Find(char what, int start) const
{
    if (start < 0 || size_t(start) > m_Text.size())
        return -1;
    size_t at = m_Text.find(what, size_t(start));
    return at == std::string::npos ? -1 : int(at);
}

int CXTString::ReverseFind(char what) const
{
    size_t at = m_Text.rfind(what);
    return at == std::string::npos ? -1 : int(at);
}

CXTString CXTString::Left(int count) const
{
    if (count <= 0)
        return CXTString();
    return CXTString(m_Text.substr(0, size_t(count)));
}

CXTString CXTString::Right(int count) const
{
    if (count <= 0)
        return CXTString();
    size_t n = std::min(size_t(count), m_Text.size());
    return CXTString(m_Text.substr(m_Text.size() - n));
}

CXTString CXTString::Mid(int first, int count) const
{
    if (first < 0)
        first = 0;
    if (size_t(first) >= m_Text.size() || count == 0)
        return CXTString();
    return CXTString(m_Text.substr(size_t(first), count < 0 ? std::string::npos : size_t(count)));
}

CXTString& CXTString::MakeLower()
{
    for (char& c : m_Text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return *this;
}

CXTString& CXTString::MakeUpper()
{
    for (char& c : m_Text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return *this;
}

CXTString& CXTString::TrimLeft()
{
    size_t i = 0;
    while (i < m_Text.size() && IsSpace(m_Text[i]))
        ++i;
    m_Text.erase(0, i);
    return *this;
}

CXTString& CXTString::TrimRight()
{
    size_t n = m_Text.size();
    while (n > 0 && IsSpace(m_Text[n - 1]))
        --n;
    m_Text.resize(n);
    return *this;
}

CXTString& CXTString::Trim() { return TrimRight().TrimLeft(); }

std::wstring ZanUtf8ToWide(std::string_view text)
{
    static const uint32_t minimum[4] = {0, 0x80, 0x800, 0x10000};
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0, n = text.size();
    while (i < n)
    {
        uint8_t c = uint8_t(text[i]);
        uint32_t cp;
        size_t extra;
        if (c < 0x80)
            cp = c, extra = 0;
        else if ((c & 0xE0) == 0xC0)
            cp = c & 0x1F, extra = 1;
        else if ((c & 0xF0) == 0xE0)
            cp = c & 0x0F, extra = 2;
        else if ((c & 0xF8) == 0xF0)
            cp = c & 0x07, extra = 3;
        else
        {
            out += wchar_t(0xFFFD);
            ++i;
            continue;
        }
        if (extra >= n - i)
        {
            out += wchar_t(0xFFFD); // truncated sequence
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= extra && (uint8_t(text[i + j]) & 0xC0) == 0x80; ++j)
            cp = (cp << 6) | (uint8_t(text[i + j]) & 0x3F);
        if (j <= extra)
        {
            out += wchar_t(0xFFFD); // a continuation byte is missing
            i += j;
            continue;
        }
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            out += wchar_t(0xFFFD); // overlong form, surrogate or beyond Unicode
        else
            out += wchar_t(cp);
        i += extra + 1;
    }
    return out;
}

std::string ZanWideToUtf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t w : text)
    {
        uint32_t cp = uint32_t(w);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            cp = 0xFFFD;
        if (cp < 0x80)
            out += char(cp);
        else if (cp < 0x800)
        {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        }
        else if (cp < 0x10000)
        {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
        else
        {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    return out;
}
