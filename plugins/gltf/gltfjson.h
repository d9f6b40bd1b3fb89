// A JSON reader for the glTF plug-in: the whole syntax (objects, arrays, strings with every
// escape including \u and surrogate pairs, numbers, literals), a nesting limit and an error
// that names the byte offset where the text stops making sense.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zangltf
{
/// \brief One JSON value. Objects keep their members in file order (keys parallel to items);
///        a key met twice keeps both, and Find returns the first.
class CJsonValue
{
public:
    enum Type : uint8_t
    {
        _JsonNull,
        _JsonBool,
        _JsonNumber,
        _JsonString,
        _JsonArray,
        _JsonObject
    };

    Type GetType() const { return m_Type; }
    bool IsNumber() const { return m_Type == _JsonNumber; }
    bool IsString() const { return m_Type == _JsonString; }
    bool IsArray() const { return m_Type == _JsonArray; }
    bool IsObject() const { return m_Type == _JsonObject; }
    bool IsBool() const { return m_Type == _JsonBool; }
    /// \brief Byte offset of the value's first character in the text.
    size_t GetOffset() const { return m_Offset; }

    double GetNumber() const { return m_Number; }
    bool GetBool() const { return m_Bool; }
    const std::string& GetString() const { return m_String; }
    /// \brief Items of an array or of an object (0 for the other types).
    size_t GetSize() const { return m_Items.size(); }
    const CJsonValue& operator[](size_t index) const { return m_Items[index]; }
    const std::string& GetKey(size_t index) const { return m_Keys[index]; }
    /// \brief The member \p key of an object; null when absent or not an object.
    const CJsonValue* Find(std::string_view key) const;

private:
    friend class CJsonReader;
    Type m_Type = _JsonNull;
    bool m_Bool = false;
    double m_Number = 0;
    size_t m_Offset = 0;
    std::string m_String;
    std::vector<CJsonValue> m_Items;
    std::vector<std::string> m_Keys;
};

/// \brief Most nested arrays and objects accepted.
constexpr unsigned kJsonMaxDepth = 128;
/// \brief Most values one document may hold (each costs about a hundred bytes in memory).
constexpr size_t kJsonMaxValues = size_t(1) << 22;

/// \brief Parses \p text (UTF-8; a leading byte-order mark is skipped) into \p value.
/// \return false with \p error set ("byte 17: ':' expected after an object key") when the text
///         is not one complete JSON value, nests deeper than kJsonMaxDepth, holds more than
///         kJsonMaxValues values or a number that does not fit a double.
bool ParseJson(std::string_view text, CJsonValue& value, std::string& error);

/// \brief Appends \p text to \p out as a JSON string literal (quotes and escapes).
void AppendJsonString(std::string& out, std::string_view text);
} // namespace zangltf
