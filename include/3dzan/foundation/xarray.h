/// \file xarray.h
/// \brief CXArray, the growable array of the library; indices are checked.
#pragma once

#include <3dzan/foundation/exceptions.h>

#include <algorithm>
#include <vector>

/// \brief Growable array of \p TYPE; \p ARG_TYPE is how values are passed in.
///
/// Every index is checked: outside [0, GetSize()) raises CXInvalidArgException.
template <class TYPE, class ARG_TYPE = const TYPE&> class CXArray
{
    static_assert(!std::is_same_v<TYPE, bool>, "use CBitArray for bits");

public:
    CXArray() = default;

    int GetSize() const { return int(m_Data.size()); }
    int GetCount() const { return int(m_Data.size()); }
    int GetUpperBound() const { return int(m_Data.size()) - 1; }
    bool IsEmpty() const { return m_Data.empty(); }

    /// \brief Sets the element count; new elements are value-initialised. \p growBy, when
    ///        positive, is the minimum number of elements reserved at a time.
    void SetSize(int newSize, int growBy = -1)
    {
        if (newSize < 0)
            ZanThrowIndexError("CXArray::SetSize", newSize, 0);
        if (growBy > 0 && size_t(newSize) > m_Data.capacity())
            m_Data.reserve(std::max(size_t(newSize), m_Data.capacity() + size_t(growBy)));
        m_Data.resize(size_t(newSize));
    }
    void FreeExtra() { m_Data.shrink_to_fit(); }
    void RemoveAll() { m_Data.clear(); }
    /// \brief Empties the array and releases its storage.
    void Release() { std::vector<TYPE>().swap(m_Data); }
    void Reserve(int count) { m_Data.reserve(size_t(std::max(count, 0))); }

    const TYPE& GetAt(int index) const { return m_Data[Check(index)]; }
    TYPE& ElementAt(int index) { return m_Data[Check(index)]; }
    void SetAt(int index, ARG_TYPE value) { m_Data[Check(index)] = value; }
    const TYPE& operator[](int index) const { return m_Data[Check(index)]; }
    TYPE& operator[](int index) { return m_Data[Check(index)]; }

    /// \brief Sets element \p index, growing the array when it is beyond the end.
    void SetAtGrow(int index, ARG_TYPE value)
    {
        if (index < 0)
            ZanThrowIndexError("CXArray::SetAtGrow", index, GetSize());
        if (size_t(index) >= m_Data.size())
            m_Data.resize(size_t(index) + 1);
        m_Data[size_t(index)] = value;
    }
    /// \brief Appends; returns the new element's index.
    int Add(ARG_TYPE value)
    {
        m_Data.push_back(value);
        return int(m_Data.size()) - 1;
    }
    /// \brief Appends every element of \p src; returns the index of the first appended.
    int Append(const CXArray& src)
    {
        int first = GetSize();
        m_Data.insert(m_Data.end(), src.m_Data.begin(), src.m_Data.end());
        return first;
    }
    void Copy(const CXArray& src) { m_Data = src.m_Data; }
    void InsertAt(int index, ARG_TYPE value, int count = 1)
    {
        if (index < 0 || index > GetSize() || count < 0)
            ZanThrowIndexError("CXArray::InsertAt", index, GetSize());
        m_Data.insert(m_Data.begin() + index, size_t(count), value);
    }
    void RemoveAt(int index, int count = 1)
    {
        if (index < 0 || count < 0 || size_t(index) + size_t(count) > m_Data.size())
            ZanThrowIndexError("CXArray::RemoveAt", index, GetSize());
        m_Data.erase(m_Data.begin() + index, m_Data.begin() + index + count);
    }

    TYPE* GetData() { return m_Data.data(); }
    const TYPE* GetData() const { return m_Data.data(); }
    TYPE* begin() { return m_Data.data(); }
    TYPE* end() { return m_Data.data() + m_Data.size(); }
    const TYPE* begin() const { return m_Data.data(); }
    const TYPE* end() const { return m_Data.data() + m_Data.size(); }

    bool operator==(const CXArray& other) const { return m_Data == other.m_Data; }

    std::vector<TYPE>& GetVector() { return m_Data; }
    const std::vector<TYPE>& GetVector() const { return m_Data; }

private:
    size_t Check(int index) const
    {
        if (index < 0 || size_t(index) >= m_Data.size())
            ZanThrowIndexError("CXArray", index, GetSize());
        return size_t(index);
    }

    std::vector<TYPE> m_Data;
};
