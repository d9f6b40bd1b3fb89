// A growable array of plain values for the readers' large intermediate arrays (coordinates,
// corner indices). Its memory comes from the library's large blocks: past a few megabytes
// it is mapped with transparent huge pages and grows by remapping instead of copying, so that
// filling tens of megabytes costs a handful of page faults rather than one per 4 KiB page.
#pragma once

#include <3dzan/foundation/elementarray.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace zanplugin
{
template <class T> class CBigArray
{
    static_assert(std::is_trivially_copyable_v<T>, "CBigArray holds plain values only");

public:
    CBigArray() = default;
    CBigArray(const CBigArray&) = delete;
    CBigArray& operator=(const CBigArray&) = delete;
    CBigArray(CBigArray&& other) noexcept
        : m_Data(std::exchange(other.m_Data, nullptr)), m_Size(std::exchange(other.m_Size, 0)),
          m_Capacity(std::exchange(other.m_Capacity, 0))
    {
    }
    CBigArray& operator=(CBigArray&& other) noexcept
    {
        if (this != &other)
        {
            Release();
            m_Data = std::exchange(other.m_Data, nullptr);
            m_Size = std::exchange(other.m_Size, 0);
            m_Capacity = std::exchange(other.m_Capacity, 0);
        }
        return *this;
    }
    ~CBigArray() { Release(); }

    size_t size() const { return m_Size; }
    bool empty() const { return m_Size == 0; }
    T* data() { return m_Data; }
    const T* data() const { return m_Data; }
    T* begin() { return m_Data; }
    T* end() { return m_Data + m_Size; }
    const T* begin() const { return m_Data; }
    const T* end() const { return m_Data + m_Size; }
    T& operator[](size_t i) { return m_Data[i]; }
    const T& operator[](size_t i) const { return m_Data[i]; }

    /// \brief Makes room for \p count values in all. Throws std::bad_alloc when memory is
    ///        short (the values held stay).
    void reserve(size_t count)
    {
        if (count <= m_Capacity)
            return;
        if (count > SIZE_MAX / sizeof(T))
            throw std::bad_alloc();
        void* grown = m_Data ? ZanResizeBlock(m_Data, Bytes(m_Capacity), Bytes(count))
                             : ZanAllocateBlock(Bytes(count));
        if (!grown)
            throw std::bad_alloc();
        m_Data = static_cast<T*>(grown);
        m_Capacity = count;
    }
    void push_back(const T& value)
    {
        if (m_Size == m_Capacity)
            Grow(1);
        m_Data[m_Size++] = value;
    }
    /// \brief Appends three values (a coordinate triple) with one capacity check.
    void Append3(const T* values)
    {
        if (m_Capacity - m_Size < 3)
            Grow(3);
        T* to = m_Data + m_Size;
        to[0] = values[0];
        to[1] = values[1];
        to[2] = values[2];
        m_Size += 3;
    }
    /// \brief Appends \p count copies of \p value.
    void append(size_t count, const T& value)
    {
        if (m_Capacity - m_Size < count)
            Grow(count);
        std::fill_n(m_Data + m_Size, count, value);
        m_Size += count;
    }
    void resize(size_t count, const T& value = T())
    {
        if (count > m_Size)
            append(count - m_Size, value);
        else
            m_Size = count;
    }
    void assign(size_t count, const T& value)
    {
        m_Size = 0;
        append(count, value);
    }
    void clear() { m_Size = 0; }
    /// \brief Gives the memory back.
    void Release()
    {
        if (m_Data)
            ZanFreeBlock(m_Data, Bytes(m_Capacity));
        m_Data = nullptr;
        m_Size = m_Capacity = 0;
    }

private:
    static size_t Bytes(size_t count) { return count ? count * sizeof(T) : sizeof(T); }
    void Grow(size_t more)
    {
        if (more > SIZE_MAX / sizeof(T) - m_Size)
            throw std::bad_alloc();
        reserve(std::max(m_Size + more, std::max<size_t>(m_Capacity * 2, 1024)));
    }

    T* m_Data = nullptr;
    size_t m_Size = 0;
    size_t m_Capacity = 0;
};
} // namespace zanplugin
