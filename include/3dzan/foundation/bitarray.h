/// \file bitarray.h
/// \brief CBitArray, a packed array of bits, and COffsetArray, the byte offsets of records.
#pragma once

#include <3dzan/foundation/exceptions.h>

#include <vector>

class CXArchive;

/// \brief Packed array of bits; indices are checked.
class ZAN_API CBitArray
{
public:
    CBitArray() = default;
    explicit CBitArray(unsigned size, bool value = false) { SetSize(size, value); }

    unsigned GetSize() const { return m_Size; }
    /// \brief Sets the bit count; added bits take \p value.
    void SetSize(unsigned size, bool value = false);
    void RemoveAll()
    {
        m_Words.clear();
        m_Size = 0;
    }

    bool GetAt(unsigned index) const
    {
        Check(index);
        return (m_Words[index >> 6] >> (index & 63)) & 1u;
    }
    bool operator[](unsigned index) const { return GetAt(index); }
    void SetAt(unsigned index, bool value = true)
    {
        Check(index);
        uint64_t mask = uint64_t(1) << (index & 63);
        if (value)
            m_Words[index >> 6] |= mask;
        else
            m_Words[index >> 6] &= ~mask;
    }
    void ClearAt(unsigned index) { SetAt(index, false); }
    /// \brief Sets every bit to \p value.
    void SetAll(bool value);
    /// \brief Number of bits set.
    unsigned CountSet() const;
    /// \brief Index of the first set bit at or after \p start, or 0xFFFFFFFF.
    unsigned FindNextSet(unsigned start = 0) const;
    bool operator==(const CBitArray& other) const
    {
        return m_Size == other.m_Size && m_Words == other.m_Words;
    }

    /// \brief Stores or loads: bit count, then the packed 64-bit words.
    void Serialize(CXArchive& ar);

private:
    void Check(unsigned index) const
    {
        if (index >= m_Size)
            ZanThrowIndexError("CBitArray", index, m_Size);
    }
    void ClearTail();

    std::vector<uint64_t> m_Words;
    unsigned m_Size = 0;
};

/// \brief Byte offsets of variable-length records in a buffer, by record index.
class ZAN_API COffsetArray
{
public:
    unsigned GetSize() const { return unsigned(m_Offsets.size()); }
    void SetSize(unsigned size) { m_Offsets.resize(size, 0); }
    void RemoveAll() { m_Offsets.clear(); }
    void FreeExtra() { m_Offsets.shrink_to_fit(); }
    void Reserve(unsigned count) { m_Offsets.reserve(count); }

    uint64_t GetAt(unsigned index) const { return m_Offsets[Check(index)]; }
    void SetAt(unsigned index, uint64_t offset) { m_Offsets[Check(index)] = offset; }
    uint64_t operator[](unsigned index) const { return m_Offsets[Check(index)]; }
    unsigned Add(uint64_t offset)
    {
        m_Offsets.push_back(offset);
        return unsigned(m_Offsets.size() - 1);
    }
    uint64_t* GetData() { return m_Offsets.data(); }
    const uint64_t* GetData() const { return m_Offsets.data(); }
    bool operator==(const COffsetArray& other) const { return m_Offsets == other.m_Offsets; }

    /// \brief Stores or loads: the count, then the offsets as 64-bit values. Loading checks
    ///        that every offset is below \p limit (pass the buffer size).
    void Serialize(CXArchive& ar, uint64_t limit = UINT64_MAX);

private:
    size_t Check(unsigned index) const
    {
        if (index >= m_Offsets.size())
            ZanThrowIndexError("COffsetArray", index, (long long)m_Offsets.size());
        return index;
    }

    std::vector<uint64_t> m_Offsets;
};
