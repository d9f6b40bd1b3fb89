/// \file customdata.h
/// \brief CCustomData, the property bag: typed values keyed by 32-bit ids.
///
/// Scenes, nodes, objects, keys, commands and options carry their settings in a bag under
/// four-character ids (`ZanTag("FLAG")`). Entries keep the order in which their ids were
/// first set (the index order); setting an id again replaces its value in place.
///
/// Archive form (`Serialize`, `GetData`): the entry count (`CXArchive::WriteCount`), then
/// for each entry its id (u32), its kind (u32) and its value: `bool` as one byte, numbers
/// at their fixed width, a string in the archive's string form, a string array as a count
/// and the strings, a byte block as a count and the raw bytes, a nested bag in this same
/// form. Pointer entries are never archived.
#pragma once

#include <3dzan/foundation/xarray.h>
#include <3dzan/foundation/xstring.h>
#include <3dzan/foundation/zandefs.h>

#include <memory>
#include <vector>

class CXArchive;

/// \brief Kinds of value a CCustomData holds. The numbers are written to archives: never
///        renumber them.
enum _CustomDataKind : uint32_t
{
    _CustomDataNone = 0,        ///< no value (an absent id)
    _CustomDataBool = 1,        ///< bool
    _CustomDataInt = 2,         ///< signed 32-bit integer
    _CustomDataUInt = 3,        ///< unsigned 32-bit integer
    _CustomDataInt64 = 4,       ///< signed 64-bit integer
    _CustomDataUInt64 = 5,      ///< unsigned 64-bit integer
    _CustomDataFloat = 6,       ///< IEEE single
    _CustomDataDouble = 7,      ///< IEEE double
    _CustomDataString = 8,      ///< CXTString
    _CustomDataStringArray = 9, ///< CXArray<CXTString>
    _CustomDataBytes = 10,      ///< block of bytes
    _CustomDataPointer = 11,    ///< void*, never archived
    _CustomDataCustomData = 12  ///< nested CCustomData, owned by the bag
};

/// \brief A property bag: values of several kinds keyed by unsigned 32-bit ids.
///
/// Getters return the caller's default when the id is absent or holds a kind that does not
/// convert. The numeric kinds (bool, the integers, float, double) convert among themselves:
/// a number read as bool is "not zero"; integers convert to integers as C++ does (a 32-bit
/// flags word reads back with the same bits through GetInt or GetUInt); a float or double
/// read as an integer is truncated toward zero, and gives the default when it is NaN or
/// outside the integer's range. Strings, string arrays, byte blocks, pointers and nested
/// bags are only read back as their own kind.
///
/// Copies are deep (nested bags and blocks are copied); pointer values are copied as
/// addresses and never owned. Lookup by id is constant time on large bags.
/// Const operations may run concurrently; any change needs exclusive access.
class ZAN_API CCustomData
{
public:
    /// \brief An empty bag.
    CCustomData();
    ~CCustomData();
    /// \brief A deep copy of \p other.
    CCustomData(const CCustomData& other);
    /// \brief Takes the content of \p other, which is left empty.
    CCustomData(CCustomData&& other) noexcept;
    /// \brief Replaces the content by a deep copy of \p other.
    CCustomData& operator=(const CCustomData& other);
    CCustomData& operator=(CCustomData&& other) noexcept;
    /// \brief Exchanges the contents of two bags without copying.
    void Swap(CCustomData& other) noexcept;

    /// \brief Same ids in the same order, with the same kinds and equal values. Floats and
    ///        doubles compare by their bits (a NaN equals itself, 0.0 differs from -0.0),
    ///        pointers by address, nested bags recursively.
    bool operator==(const CCustomData& other) const;

    // ------------------------------------------------------------------ entries

    /// \brief Number of entries.
    int GetCount() const;
    bool IsEmpty() const;
    /// \brief Id of the entry at \p index (index order) and, in \p kind, its _CustomDataKind.
    /// \throw CXInvalidArgException when \p index is outside [0, GetCount()).
    unsigned GetIDByIndex(int index, unsigned& kind) const;
    /// \brief Index of \p id, or -1 when absent.
    int GetIndex(unsigned id) const;
    bool HasValue(unsigned id) const;
    /// \brief Kind of the value of \p id; _CustomDataNone when absent.
    _CustomDataKind GetKind(unsigned id) const;
    /// \brief Removes \p id; false when it was absent. The following entries move down one
    ///        index.
    bool RemoveValue(unsigned id);
    void RemoveAll();
    /// \brief Sets every entry of \p other into this bag (deep copies), in \p other's order.
    void Append(const CCustomData& other);

    // ------------------------------------------------------------------ values

    void SetBool(unsigned id, bool value);
    bool GetBool(unsigned id, bool defaultValue = false) const;
    void SetInt(unsigned id, int value);
    int GetInt(unsigned id, int defaultValue = 0) const;
    void SetUInt(unsigned id, unsigned value);
    unsigned GetUInt(unsigned id, unsigned defaultValue = 0) const;
    void SetInt64(unsigned id, int64_t value);
    int64_t GetInt64(unsigned id, int64_t defaultValue = 0) const;
    void SetUInt64(unsigned id, uint64_t value);
    uint64_t GetUInt64(unsigned id, uint64_t defaultValue = 0) const;
    void SetFloat(unsigned id, float value);
    float GetFloat(unsigned id, float defaultValue = 0.0f) const;
    void SetDouble(unsigned id, double value);
    double GetDouble(unsigned id, double defaultValue = 0.0) const;

    void SetString(unsigned id, const CXTString& value);
    /// \brief The string of \p id; \p defaultValue when absent or not a string.
    CXTString GetString(unsigned id, const CXTString& defaultValue = CXTString()) const;
    void SetStringArray(unsigned id, const CXArray<CXTString>& values);
    /// \brief Copies the string array of \p id into \p values; false (and \p values left as
    ///        it was) when absent or not a string array.
    bool GetStringArray(unsigned id, CXArray<CXTString>& values) const;

    /// \brief Stores a copy of \p size bytes at \p data.
    /// \return false, and nothing changed, when \p data is null and \p size is not 0.
    bool SetBytes(unsigned id, const void* data, size_t size);
    /// \brief The byte block of \p id and its \p size; null (size 0) when absent or not a
    ///        block. An empty block gives a non-null pointer. The bag owns the bytes; they
    ///        stay valid until \p id is changed or removed.
    const uint8_t* GetBytes(unsigned id, size_t& size) const;

    /// \brief Stores an address; the bag never owns it, never archives it.
    void SetPointer(unsigned id, void* value);
    void* GetPointer(unsigned id, void* defaultValue = nullptr) const;

    /// \brief Stores a deep copy of \p value as a nested bag (\p value may be this bag or
    ///        one nested in it).
    void SetCustomData(unsigned id, const CCustomData& value);
    /// \brief The nested bag of \p id; null when absent or not a bag. Owned by this bag,
    ///        valid until \p id is changed or removed.
    CCustomData* GetCustomData(unsigned id);
    const CCustomData* GetCustomData(unsigned id) const;
    /// \brief The nested bag of \p id, created empty when absent; a value of another kind
    ///        under \p id is replaced (at the same index). Owned by this bag.
    CCustomData& CreateCustomData(unsigned id);

    // ------------------------------------------------------------------ storage

    /// \brief Stores or loads the bag. Loading replaces the content only when the whole bag
    ///        was read: on failure the bag is left as it was.
    /// \throw CXArchiveException when the archive is truncated or malformed (_BadValue for
    ///        an unknown kind, a pointer entry or an id that appears twice in one bag;
    ///        _TooDeep for bags nested beyond the archive's depth limit, also when storing).
    void Serialize(CXArchive& ar);

    /// \brief The raw block of the bag: its archive form in memory.
    /// \return false, with \p block emptied, when the bag cannot be archived (nesting beyond
    ///         the archive's depth limit).
    bool GetData(CXArray<unsigned char>& block) const;
    /// \brief Replaces the content by the bag in a raw block made by GetData.
    /// \return false, and the bag unchanged, when the block is malformed, truncated or has
    ///         bytes after the bag. Never throws.
    bool SetData(const void* data, size_t size);

    /// \brief Checksum of the value of \p id: the same in every process for equal values;
    ///        0 when absent. A pointer contributes 0.
    unsigned GetChecksum(unsigned id) const;
    /// \brief Checksum of the whole bag, sensitive to the order of the entries, their ids,
    ///        kinds and values.
    unsigned GetChecksum() const;

    /// \brief Appends a readable dump to \p out, one line per entry: the id (four characters
    ///        when they are printable, else hexadecimal), the kind and the value. Nested bags
    ///        follow their line, indented two more spaces; \p indent is the starting level.
    void DumpCustomData(CXTString& out, int indent = 0) const;

    /// \brief Writes the bag to the preferences file \p path, tagged with \p id1 and \p id2.
    ///        The file is replaced atomically: on failure the old file stays as it was.
    ///
    /// File layout: "ZPRF", format version 1, \p id1, \p id2 (u32 each), the bag in archive
    /// form, and a 32-bit FNV-1a of all the bytes before it. Files above 64 MiB are neither
    /// written nor read.
    /// \return false when the file cannot be written. Never throws.
    bool SaveToPrefs(const char* path, unsigned id1, unsigned id2) const;
    /// \brief Replaces the content by the bag in the preferences file \p path.
    /// \return false, and the bag unchanged, when the file is missing, unreadable, corrupt,
    ///         or was written with other ids. Never throws.
    bool LoadFromPrefs(const char* path, unsigned id1, unsigned id2);

private:
    struct CEntry;
    struct CIndex;

    const CEntry* Find(unsigned id) const;
    CEntry* Find(unsigned id);
    CEntry& Put(unsigned id);
    void RebuildIndex();
    void WriteBody(CXArchive& ar) const;
    void ReadBody(CXArchive& ar);
    void DumpBody(CXTString& out, int indent) const;
    static void HashValue(uint32_t& hash, const CEntry& entry);
    void HashBody(uint32_t& hash) const;
    template <class T> T GetNumber(unsigned id, T defaultValue) const;

    std::vector<CEntry> m_Entries;   ///< index order
    std::unique_ptr<CIndex> m_Index; ///< id -> index, only on large bags
};
