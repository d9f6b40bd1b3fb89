#include <3dzan/foundation/hashmap.h>

namespace
{
bool IsPrime(uint32_t n)
{
    if (n < 2)
        return false;
    if (n % 2 == 0)
        return n == 2;
    for (uint32_t d = 3; uint64_t(d) * d <= n; d += 2)
        if (n % d == 0)
            return false;
    return true;
}
} // namespace

unsigned NextPrime(unsigned n)
{
    if (n <= 2)
        return 2;
    if (n > 4294967291u)
        return 4294967291u;
    for (uint32_t candidate = n | 1u;; candidate += 2)
        if (IsPrime(candidate))
            return candidate;
}

namespace
{
// The longest head of text of at most length bytes that does not end inside a UTF-8 sequence.
CXTString CutUtf8(const CXTString& text, size_t length)
{
    const std::string& bytes = text.str();
    if (bytes.size() <= length)
        return text;
    size_t cut = length;
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    return CXTString(bytes.substr(0, cut));
}
} // namespace

CXTString GetUniqueName(const CXTString& name, const CHashTable<CXTString>& used,
                        unsigned maxLength)
{
    const size_t limit = maxLength ? size_t(maxLength) : std::string::npos;
    CXTString head = CutUtf8(name, limit);
    if (!used.Find(head))
        return head;
    // Candidates end with "_<n>" and that digit run is theirs alone, so the first
    // GetCount() + 1 candidates are distinct and one of them is free.
    const uint64_t last = uint64_t(used.GetCount()) + 1;
    for (uint64_t n = 1; n <= last; ++n)
    {
        const std::string suffix = "_" + std::to_string(n);
        if (maxLength && suffix.size() > limit)
            return CXTString();
        CXTString candidate = CutUtf8(name, maxLength ? limit - suffix.size() : std::string::npos);
        candidate += suffix.c_str();
        if (!used.Find(candidate))
            return candidate;
    }
    return CXTString();
}
