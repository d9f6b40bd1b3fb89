#include <3dzan/foundation/bitarray.h>

#include <algorithm>
#include <iterator>
#include <3dzan/foundation/xarchive.h>

#include <bit>

void CBitArray::SetSize(unsigned size, bool value)
{
    unsigned old = m_Size;
    m_Words.resize((size_t(size) + 63) / 64, value ? ~uint64_t(0) : 0);
    m_Size = size;
    if (size > old && value)
    {
        // Bits of the old last word past its end were kept clear: set the added ones.
        for (unsigned i = old; i < size && (i & 63); ++i)
            m_Words[i >> 6] |= uint64_t(1) << (i & 63);
    }
    ClearTail();
}

void CBitArray::ClearTail()
{
    if (m_Size & 63)
        m_Words.back() &= (uint64_t(1) << (m_Size & 63)) - 1;
}

void CBitArray::SetAll(bool value)
{
    std::fill(m_Words.begin(), m_Words.end(), value ? ~uint64_t(0) : 0);
    ClearTail();
}

unsigned CBitArray::CountSet() const
{
    unsigned n = 0;
    for (uint64_t w : m_Words)
        n += unsigned(std::popcount(w));
    return n;
}

unsigned CBitArray::FindNextSet(unsigned start) const
{
    if (start >= m_Size)
        return kZanNone;
    size_t word = start >> 6;
    uint64_t bits = m_Words[word] & (~uint64_t(0) << (start & 63));
    for (;;)
    {
        if (bits)
            return unsigned(word * 64 + size_t(std::countr_zero(bits)));
        if (++word >= m_Words.size())
            return kZanNone;
        bits = m_Words[word];
    }
}

void CBitArray::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        ar << m_Size;
        ar.WriteArray(m_Words.data(), m_Words.size());
        return;
    }
    unsigned size;
    ar >> size;
    size_t words = (size_t(size) + 63) / 64;
    ar.CheckRemaining(uint64_t(words) * 8, "bit array");
    std::vector<uint64_t> loaded(words);
    ar.ReadArray(loaded.data(), words);
    m_Words.swap(loaded);
    m_Size = size;
    ClearTail();
}

void COffsetArray::Serialize(CXArchive& ar, uint64_t limit)
{
    if (ar.IsStoring())
    {
        ar.WriteCount(m_Offsets.size());
        ar.WriteArray(m_Offsets.data(), m_Offsets.size());
        return;
    }
    uint64_t count = ar.ReadCount(8, 0xFFFFFFFFu);
    // Read through a small buffer rather than into a zero-filled vector: large lists would
    // otherwise pass over their memory twice.
    std::vector<uint64_t> loaded;
    loaded.reserve(size_t(count));
    uint64_t batch[2048];
    for (uint64_t done = 0; done < count;)
    {
        size_t n = size_t(std::min<uint64_t>(count - done, std::size(batch)));
        ar.ReadArray(batch, n);
        for (size_t i = 0; i < n; ++i)
            if (batch[i] >= limit)
                throw CXArchiveException(CXArchiveException::_BadValue,
                                         "record offset " + std::to_string(batch[i]) +
                                             " outside a buffer of " + std::to_string(limit));
        loaded.insert(loaded.end(), batch, batch + n);
        done += n;
    }
    m_Offsets.swap(loaded);
}
