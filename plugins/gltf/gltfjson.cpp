// Recursive descent over the text with an explicit depth counter: the nesting limit keeps the
// stack small whatever the input, and every value costs at least one byte of input, so the
// tree never grows faster than the text.
#include "gltfjson.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace zangltf
{
const CJsonValue* CJsonValue::Find(std::string_view key) const
{
    if (m_Type != _JsonObject)
        return nullptr;
    for (size_t i = 0; i < m_Keys.size(); ++i)
        if (m_Keys[i] == key)
            return &m_Items[i];
    return nullptr;
}

class CJsonReader
{
public:
    explicit CJsonReader(std::string_view text) : m_Text(text) {}

    bool ParseDocument(CJsonValue& value, std::string& error)
    {
        if (m_Text.size() >= 3 && m_Text.substr(0, 3) == "\xEF\xBB\xBF")
            m_Pos = 3;
        SkipSpace();
        if (!ParseValue(value, 0))
        {
            error = m_Error;
            return false;
        }
        SkipSpace();
        if (m_Pos != m_Text.size())
        {
            Fail("unexpected text after the end of the document");
            error = m_Error;
            return false;
        }
        return true;
    }

private:
    bool Fail(const char* what)
    {
        if (m_Error.empty())
        {
            char prefix[48];
            std::snprintf(prefix, sizeof prefix, "byte %zu: ", m_Pos);
            m_Error = std::string(prefix) + what;
        }
        return false;
    }

    void SkipSpace()
    {
        while (m_Pos < m_Text.size())
        {
            const char c = m_Text[m_Pos];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
                break;
            ++m_Pos;
        }
    }

    bool Expect(std::string_view word)
    {
        if (m_Text.substr(m_Pos, word.size()) != word)
            return Fail("unknown literal");
        m_Pos += word.size();
        return true;
    }

    bool ParseValue(CJsonValue& value, unsigned depth)
    {
        if (m_Pos >= m_Text.size())
            return Fail("unexpected end of the text, a value was expected");
        if (++m_ValueCount > kJsonMaxValues)
            return Fail("the document holds too many values");
        value.m_Offset = m_Pos;
        switch (m_Text[m_Pos])
        {
        case '{':
            return ParseObject(value, depth + 1);
        case '[':
            return ParseArray(value, depth + 1);
        case '"':
            value.m_Type = CJsonValue::_JsonString;
            return ParseString(value.m_String);
        case 't':
            value.m_Type = CJsonValue::_JsonBool;
            value.m_Bool = true;
            return Expect("true");
        case 'f':
            value.m_Type = CJsonValue::_JsonBool;
            value.m_Bool = false;
            return Expect("false");
        case 'n':
            value.m_Type = CJsonValue::_JsonNull;
            return Expect("null");
        default:
            value.m_Type = CJsonValue::_JsonNumber;
            return ParseNumber(value.m_Number);
        }
    }

    bool ParseObject(CJsonValue& value, unsigned depth)
    {
        if (depth > kJsonMaxDepth)
            return Fail("arrays and objects are nested too deeply");
        value.m_Type = CJsonValue::_JsonObject;
        ++m_Pos; // '{'
        SkipSpace();
        if (m_Pos < m_Text.size() && m_Text[m_Pos] == '}')
        {
            ++m_Pos;
            return true;
        }
        for (;;)
        {
            SkipSpace();
            if (m_Pos >= m_Text.size() || m_Text[m_Pos] != '"')
                return Fail("a quoted object key was expected");
            std::string key;
            if (!ParseString(key))
                return false;
            SkipSpace();
            if (m_Pos >= m_Text.size() || m_Text[m_Pos] != ':')
                return Fail("':' expected after an object key");
            ++m_Pos;
            SkipSpace();
            value.m_Keys.push_back(std::move(key));
            value.m_Items.emplace_back();
            if (!ParseValue(value.m_Items.back(), depth))
                return false;
            SkipSpace();
            if (m_Pos >= m_Text.size())
                return Fail("unexpected end of the text inside an object");
            const char c = m_Text[m_Pos++];
            if (c == '}')
                return true;
            if (c != ',')
            {
                --m_Pos;
                return Fail("',' or '}' expected in an object");
            }
        }
    }

    bool ParseArray(CJsonValue& value, unsigned depth)
    {
        if (depth > kJsonMaxDepth)
            return Fail("arrays and objects are nested too deeply");
        value.m_Type = CJsonValue::_JsonArray;
        ++m_Pos; // '['
        SkipSpace();
        if (m_Pos < m_Text.size() && m_Text[m_Pos] == ']')
        {
            ++m_Pos;
            return true;
        }
        for (;;)
        {
            SkipSpace();
            value.m_Items.emplace_back();
            if (!ParseValue(value.m_Items.back(), depth))
                return false;
            SkipSpace();
            if (m_Pos >= m_Text.size())
                return Fail("unexpected end of the text inside an array");
            const char c = m_Text[m_Pos++];
            if (c == ']')
                return true;
            if (c != ',')
            {
                --m_Pos;
                return Fail("',' or ']' expected in an array");
            }
        }
    }

    static void AppendUtf8(std::string& out, uint32_t code)
    {
        if (code < 0x80)
            out += char(code);
        else if (code < 0x800)
        {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        }
        else if (code < 0x10000)
        {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
        else
        {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    bool ReadHex4(uint32_t& code)
    {
        if (m_Text.size() - m_Pos < 4)
            return Fail("truncated \\u escape");
        code = 0;
        for (int i = 0; i < 4; ++i)
        {
            const char c = m_Text[m_Pos + i];
            uint32_t digit;
            if (c >= '0' && c <= '9')
                digit = uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = uint32_t(c - 'A' + 10);
            else
                return Fail("bad hexadecimal digit in a \\u escape");
            code = code << 4 | digit;
        }
        m_Pos += 4;
        return true;
    }

    bool ParseString(std::string& out)
    {
        ++m_Pos; // opening quote
        for (;;)
        {
            // Copy the run of plain characters in one go.
            const size_t start = m_Pos;
            while (m_Pos < m_Text.size() && m_Text[m_Pos] != '"' && m_Text[m_Pos] != '\\' &&
                   static_cast<unsigned char>(m_Text[m_Pos]) >= 0x20)
                ++m_Pos;
            out.append(m_Text.data() + start, m_Pos - start);
            if (m_Pos >= m_Text.size())
                return Fail("unterminated string");
            const char c = m_Text[m_Pos];
            if (c == '"')
            {
                ++m_Pos;
                return true;
            }
            if (c != '\\')
                return Fail("control character inside a string");
            if (++m_Pos >= m_Text.size())
                return Fail("unterminated string");
            const char escape = m_Text[m_Pos++];
            switch (escape)
            {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u':
            {
                uint32_t code = 0;
                if (!ReadHex4(code))
                    return false;
                if (code >= 0xD800 && code < 0xDC00)
                {
                    uint32_t low = 0;
                    if (m_Text.substr(m_Pos, 2) != "\\u")
                        return Fail("a high surrogate must be followed by a low one");
                    m_Pos += 2;
                    if (!ReadHex4(low))
                        return false;
                    if (low < 0xDC00 || low >= 0xE000)
                        return Fail("a high surrogate must be followed by a low one");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                }
                else if (code >= 0xDC00 && code < 0xE000)
                    return Fail("lone low surrogate in a \\u escape");
                AppendUtf8(out, code);
                break;
            }
            default:
                --m_Pos;
                return Fail("unknown escape in a string");
            }
        }
    }

    bool ParseNumber(double& number)
    {
        // Check the JSON grammar first (from_chars is more lenient: "inf", ".5", "1.").
        const size_t start = m_Pos;
        size_t p = m_Pos;
        const size_t n = m_Text.size();
        auto digit = [&](size_t at) { return at < n && m_Text[at] >= '0' && m_Text[at] <= '9'; };
        if (p < n && m_Text[p] == '-')
            ++p;
        if (!digit(p))
            return Fail("a value was expected");
        if (m_Text[p] == '0')
            ++p;
        else
            while (digit(p))
                ++p;
        if (p < n && m_Text[p] == '.')
        {
            ++p;
            if (!digit(p))
                return Fail("digits expected after a decimal point");
            while (digit(p))
                ++p;
        }
        if (p < n && (m_Text[p] == 'e' || m_Text[p] == 'E'))
        {
            ++p;
            if (p < n && (m_Text[p] == '+' || m_Text[p] == '-'))
                ++p;
            if (!digit(p))
                return Fail("digits expected in an exponent");
            while (digit(p))
                ++p;
        }
        const std::from_chars_result result =
            std::from_chars(m_Text.data() + start, m_Text.data() + p, number);
        if (result.ec == std::errc::result_out_of_range &&
            m_Text.substr(start, p - start).find("e-") != std::string_view::npos)
            number = 0; // below the smallest double: it reads as zero
        else if (result.ec != std::errc() || !std::isfinite(number))
            return Fail("number out of range");
        m_Pos = p;
        return true;
    }

    std::string_view m_Text;
    size_t m_Pos = 0;
    size_t m_ValueCount = 0;
    std::string m_Error;
};

bool ParseJson(std::string_view text, CJsonValue& value, std::string& error)
{
    value = CJsonValue();
    CJsonReader reader(text);
    return reader.ParseDocument(value, error);
}

void AppendJsonString(std::string& out, std::string_view text)
{
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text)
    {
        switch (c)
        {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
            {
                out += "\\u00";
                out += kHex[(c >> 4) & 0xF];
                out += kHex[c & 0xF];
            }
            else
                out += c;
        }
    }
    out += '"';
}
} // namespace zangltf
