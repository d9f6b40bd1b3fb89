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
