/// \file hashmap.h
/// \brief CHashTable (a set) and CHashMap (keys to values), hashed through a CHashMethods class.
///
/// Both use open addressing with linear probing in a table whose size is a prime
/// (`NextPrime`); removal shifts the following entries back, so no tombstones accumulate.
/// A position is a slot index: iteration (`GetFirst`/`GetNext`) visits the entries in slot
/// order. The table grows to the next prime above twice its size when it is three quarters
/// full. Inserting or removing during an iteration may visit an entry twice or not at all.
#pragma once

#include <3dzan/foundation/exceptions.h>
#include <3dzan/foundation/xstring.h>

#include <algorithm>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

/// \brief The smallest prime not below \p n (2 for n <= 2); saturates at 4294967291.
ZAN_API unsigned NextPrime(unsigned n);

/// \brief Thomas Wang's 32-bit integer mix.
inline uint32_t ZanMix32(uint32_t k)
{
    k += ~(k << 15);
    k ^= k >> 10;
    k += k << 3;
    k ^= k >> 6;
    k += ~(k << 11);
    k ^= k >> 16;
    return k;
}

/// \brief Thomas Wang's 64-bit integer mix.
inline uint64_t ZanMix64(uint64_t k)
{
    k = ~k + (k << 18);
    k ^= k >> 31;
    k *= 21;
    k ^= k >> 11;
    k *= 65;
    k ^= k >> 22;
    return k;
}

/// \brief Hashing and equality of keys; specialise it, or pass your own class, for other keys.
template <class KEY> struct CHashMethods
{
    unsigned Hash(const KEY& key) const
    {
        if constexpr (std::is_integral_v<KEY> || std::is_enum_v<KEY>)
        {
            if constexpr (sizeof(KEY) > 4)
                return unsigned(ZanMix64(uint64_t(key)));
            else
                return ZanMix32(uint32_t(key));
        }
        else if constexpr (std::is_pointer_v<KEY>)
            return unsigned(ZanMix64(uint64_t(reinterpret_cast<uintptr_t>(key))));
        else
            return unsigned(std::hash<KEY>()(key));
    }
    bool Equal(const KEY& a, const KEY& b) const { return a == b; }
};

template <> struct CHashMethods<CXTString>
{
    unsigned Hash(const CXTString& key) const
    {
        uint32_t h = 2166136261u; // FNV-1a
        for (char c : key.str())
            h = (h ^ uint8_t(c)) * 16777619u;
        return h;
    }
    bool Equal(const CXTString& a, const CXTString& b) const { return a == b; }
};

namespace zan_detail
{
struct CNoValue
{
};

/// Open-addressing storage shared by CHashTable and CHashMap.
template <class KEY, class VALUE, class METHODS> class CHashStorage
{
public:
    explicit CHashStorage(unsigned size = 17) { InitHashTable(size); }

    /// \brief Sizes the table to NextPrime(\p size) slots (at least the entries need).
    void InitHashTable(unsigned size)
    {
        size_t need = m_Count + m_Count / 3 + 1;
        if (size < need)
            size = unsigned(std::min<size_t>(need, 0xFFFFFFF0u));
        Rehash(NextPrime(size));
    }
    unsigned GetHashTableSize() const { return unsigned(m_Used.size()); }
    unsigned GetCount() const { return m_Count; }
    bool IsEmpty() const { return m_Count == 0; }

    void RemoveAll()
    {
        for (size_t i = 0; i < m_Used.size(); ++i)
            if (m_Used[i])
            {
                m_Used[i] = 0;
                m_Keys[i] = KEY();
                m_Values[i] = VALUE();
            }
        m_Count = 0;
    }

    /// Slot of \p key, or kZanNone.
    unsigned FindSlot(const KEY& key) const
    {
        size_t n = m_Used.size();
        size_t i = m_Methods.Hash(key) % n;
        while (m_Used[i])
        {
            if (m_Methods.Equal(m_Keys[i], key))
                return unsigned(i);
            if (++i == n)
                i = 0;
        }
        return kZanNone;
    }

    /// Slot of \p key, inserted when absent; \p added tells which.
    unsigned InsertSlot(const KEY& key, bool& added)
    {
        unsigned found = FindSlot(key);
        if (found != kZanNone)
        {
            added = false;
            return found;
        }
        if ((size_t(m_Count) + 1) * 4 > m_Used.size() * 3)
            Rehash(NextPrime(unsigned(std::min<size_t>(m_Used.size() * 2 + 1, 0xFFFFFFF0u))));
        size_t n = m_Used.size();
        size_t i = m_Methods.Hash(key) % n;
        while (m_Used[i])
            if (++i == n)
                i = 0;
        m_Used[i] = 1;
        m_Keys[i] = key;
        ++m_Count;
        added = true;
        return unsigned(i);
    }

    bool Remove(const KEY& key)
    {
        unsigned slot = FindSlot(key);
        if (slot == kZanNone)
            return false;
        // Backward-shift deletion keeps every probe chain unbroken.
        size_t n = m_Used.size();
        size_t hole = slot;
        size_t i = hole;
        for (;;)
        {
            if (++i == n)
                i = 0;
            if (!m_Used[i])
                break;
            size_t home = m_Methods.Hash(m_Keys[i]) % n;
            // Move entry i into the hole when its home is not cyclically in (hole, i].
            bool between = hole < i ? (home > hole && home <= i) : (home > hole || home <= i);
            if (!between)
            {
                m_Keys[hole] = std::move(m_Keys[i]);
                m_Values[hole] = std::move(m_Values[i]);
                hole = i;
            }
        }
        m_Used[hole] = 0;
        m_Keys[hole] = KEY();
        m_Values[hole] = VALUE();
        --m_Count;
        return true;
    }

    unsigned NextUsed(size_t from) const
    {
        for (size_t i = from; i < m_Used.size(); ++i)
            if (m_Used[i])
                return unsigned(i);
        return kZanNone;
    }
    void CheckPosition(unsigned pos) const
    {
        if (pos >= m_Used.size() || !m_Used[pos])
            ZanThrowIndexError("CHashMap position", pos, (long long)m_Used.size());
    }

    const METHODS& GetMethods() const { return m_Methods; }

protected:
    void Rehash(unsigned newSize)
    {
        std::vector<KEY> keys(newSize);
        std::vector<VALUE> values(newSize);
        std::vector<uint8_t> used(newSize, 0);
        for (size_t j = 0; j < m_Used.size(); ++j)
        {
            if (!m_Used[j])
                continue;
            size_t i = m_Methods.Hash(m_Keys[j]) % newSize;
            while (used[i])
                if (++i == newSize)
                    i = 0;
            used[i] = 1;
            keys[i] = std::move(m_Keys[j]);
            values[i] = std::move(m_Values[j]);
        }
        m_Keys.swap(keys);
        m_Values.swap(values);
        m_Used.swap(used);
    }

    METHODS m_Methods;
    std::vector<KEY> m_Keys;
    std::vector<VALUE> m_Values;
    std::vector<uint8_t> m_Used;
    unsigned m_Count = 0;
};
} // namespace zan_detail

/// \brief A hash set of keys.
template <class KEY, class METHODS = CHashMethods<KEY>>
class CHashTable : public zan_detail::CHashStorage<KEY, zan_detail::CNoValue, METHODS>
{
    using Base = zan_detail::CHashStorage<KEY, zan_detail::CNoValue, METHODS>;

public:
    explicit CHashTable(unsigned size = 17) : Base(size) {}

    /// \brief Adds \p key; false when it was already there.
    bool Insert(const KEY& key)
    {
        bool added;
        this->InsertSlot(key, added);
        return added;
    }
    bool Find(const KEY& key) const { return this->FindSlot(key) != kZanNone; }
    using Base::Remove;

    /// \brief First position, kZanNone when empty.
    unsigned GetFirst() const { return this->NextUsed(0); }
    /// \brief The key at \p pos; \p pos moves to the next entry (kZanNone after the last).
    const KEY& GetNext(unsigned& pos) const
    {
        this->CheckPosition(pos);
        const KEY& key = this->m_Keys[pos];
        pos = this->NextUsed(size_t(pos) + 1);
        return key;
    }
};

/// \brief A hash map from keys to values. \p ARG_VALUE is how values are passed in.
template <class KEY, class VALUE, class ARG_VALUE = const VALUE&, class METHODS = CHashMethods<KEY>>
class CHashMap : public zan_detail::CHashStorage<KEY, VALUE, METHODS>
{
    using Base = zan_detail::CHashStorage<KEY, VALUE, METHODS>;

public:
    explicit CHashMap(unsigned size = 17) : Base(size) {}

    /// \brief Sets the value of \p key; true when the key is new.
    bool Insert(const KEY& key, ARG_VALUE value)
    {
        bool added;
        unsigned slot = this->InsertSlot(key, added);
        this->m_Values[slot] = value;
        return added;
    }
    /// \brief The value of \p key, inserted default-constructed when absent.
    VALUE& operator[](const KEY& key)
    {
        bool added;
        return this->m_Values[this->InsertSlot(key, added)];
    }
    /// \brief The value of \p key, or null.
    VALUE* Find(const KEY& key)
    {
        unsigned slot = this->FindSlot(key);
        return slot == kZanNone ? nullptr : &this->m_Values[slot];
    }
    const VALUE* Find(const KEY& key) const
    {
        unsigned slot = this->FindSlot(key);
        return slot == kZanNone ? nullptr : &this->m_Values[slot];
    }
    /// \brief Copies the value of \p key into \p value; false when absent.
    bool Find(const KEY& key, VALUE& value) const
    {
        const VALUE* found = Find(key);
        if (found)
            value = *found;
        return found != nullptr;
    }
    bool HasKey(const KEY& key) const { return this->FindSlot(key) != kZanNone; }
    using Base::Remove;

    /// \brief First position, kZanNone when empty.
    unsigned GetFirst() const { return this->NextUsed(0); }
    /// \brief Reads the entry at \p pos; \p pos moves to the next (kZanNone after the last).
    void GetNext(unsigned& pos, KEY& key, VALUE& value) const
    {
        this->CheckPosition(pos);
        key = this->m_Keys[pos];
        value = this->m_Values[pos];
        pos = this->NextUsed(size_t(pos) + 1);
    }
    /// \brief Key at \p pos; \p pos moves to the next entry.
    const KEY& GetNextKey(unsigned& pos) const
    {
        this->CheckPosition(pos);
        const KEY& key = this->m_Keys[pos];
        pos = this->NextUsed(size_t(pos) + 1);
        return key;
    }
    const KEY& GetKeyAt(unsigned pos) const
    {
        this->CheckPosition(pos);
        return this->m_Keys[pos];
    }
    VALUE& GetValueAt(unsigned pos)
    {
        this->CheckPosition(pos);
        return this->m_Values[pos];
    }
    const VALUE& GetValueAt(unsigned pos) const
    {
        this->CheckPosition(pos);
        return this->m_Values[pos];
    }
};

/// \brief \p name made unique among the names of \p used and no longer than \p maxLength
///        bytes (0: no limit).
///
/// The name is first cut to the limit, never inside a UTF-8 sequence. When the cut name is
/// already in \p used, a suffix "_1", "_2", ... is put after the longest head of the name that
/// leaves room for it, and the first candidate not in \p used is taken. Candidates differ by
/// their suffix, so one of the first GetCount() + 1 is free: the search is bounded. \p used is
/// not changed; the caller adds the name it keeps.
/// \return the unique name; empty when no suffix fits within \p maxLength.
ZAN_API CXTString GetUniqueName(const CXTString& name, const CHashTable<CXTString>& used,
                                unsigned maxLength = 0);
