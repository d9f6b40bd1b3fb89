// Element methods and the contiguous element array.
//
// The array keeps three counts over one block: m_Size live elements, a prefix of
// m_Constructed slots holding constructed elements (equal to the size, or to the whole block
// in construct mode), and m_Capacity slots in all. Every operation that can fail for want of
// memory gets its memory first and changes nothing until it has it; loading builds the new
// content in a separate array and swaps it in at the end, so an exception leaves the old one.
//
// Elements are relocated with realloc/mremap/memcpy (see the relocation contract in the
// header), which is what lets a growing million-element array move at memory speed.
//
// Large blocks are mapped directly rather than taken from malloc: they grow with mremap, which
// moves pages instead of copying bytes, and they ask for transparent huge pages. Writing a
// fresh block costs one page fault per page, which for a 32 MB block of 4 KiB pages is
// thousands of faults; with 2 MiB pages it is a handful, and random access while reordering
// misses the TLB far less.
#include <3dzan/foundation/elementarray.h>
#include <3dzan/foundation/hashmap.h>
#include <3dzan/foundation/xarchive.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include <sys/mman.h>

static_assert(alignof(std::max_align_t) >= 16, "malloc must give the 16-byte alignment the "
                                               "element block promises");

namespace
{
// The smallest block the array allocates when it grows by itself (not when sized exactly).
constexpr int kMinGrowth = 8;

// A hash of bytes that depends only on their values: 32-bit words folded through the integer
// mix, the tail zero-padded, the length mixed in so that trailing zeros still count.
uint32_t HashBytes(const uint8_t* bytes, size_t size)
{
    uint32_t h = 0x9E3779B9u ^ uint32_t(size);
    size_t i = 0;
    for (; i + 4 <= size; i += 4)
    {
        uint32_t word;
        std::memcpy(&word, bytes + i, 4);
        h = ZanMix32(h + word);
    }
    if (i < size)
    {
        uint32_t word = 0;
        std::memcpy(&word, bytes + i, size - i);
        h = ZanMix32(h + word + 1);
    }
    return h;
}

// Bytes of an object element that carry its value: everything after the virtual-table pointer.
size_t ValueOffset(const CElementMethods& methods)
{
    return methods.IsObject() ? sizeof(void*) : 0;
}

// ---------------------------------------------------------------- blocks

// Blocks of this size and more are mapped (see the file comment).
constexpr size_t kMapThreshold = size_t(4) << 20;

// Mapped lengths are whole huge pages, so that the kernel can place and fill the mapping with
// them from end to end; address space beyond the used bytes is never touched and costs nothing.
constexpr size_t kHugePage = size_t(2) << 20;
size_t MappedSize(size_t bytes)
{
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

void* MapBlock(size_t bytes)
{
    void* block = mmap(nullptr, MappedSize(bytes), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        return nullptr;
#ifdef MADV_HUGEPAGE
    madvise(block, MappedSize(bytes), MADV_HUGEPAGE); // a hint: failure changes nothing
#endif
    return block;
}

// ---------------------------------------------------------------- reordering

// How many elements ahead the random side of a reorder is prefetched: enough to overlap
// several cache misses, few enough that the lines are still there when used.
constexpr size_t kPrefetchAhead = 16;

// Element moves by an index, one loop per common element size so that each move is an inlined
// fixed-size copy rather than a call; the random side (reads for a gather, writes for a
// scatter) is prefetched ahead.
template <size_t SIZE>
void GatherFixed(uint8_t* dst, const uint8_t* src, const unsigned* order, size_t count)
{
    for (size_t i = 0; i < count; ++i)
    {
        if (i + kPrefetchAhead < count)
            __builtin_prefetch(src + size_t(order[i + kPrefetchAhead]) * SIZE);
        std::memcpy(dst + i * SIZE, src + size_t(order[i]) * SIZE, SIZE);
    }
}

template <size_t SIZE>
void ScatterFixed(uint8_t* dst, const uint8_t* src, const unsigned* order, size_t count)
{
    for (size_t i = 0; i < count; ++i)
    {
        if (i + kPrefetchAhead < count)
            __builtin_prefetch(dst + size_t(order[i + kPrefetchAhead]) * SIZE, 1);
        std::memcpy(dst + size_t(order[i]) * SIZE, src + i * SIZE, SIZE);
    }
}

/// dst[i] = src[order[i]] for i < count.
void GatherElements(uint8_t* dst, const uint8_t* src, const unsigned* order, size_t count,
                    size_t size)
{
    switch (size)
    {
    case 4:
        return GatherFixed<4>(dst, src, order, count);
    case 8:
        return GatherFixed<8>(dst, src, order, count);
    case 12:
        return GatherFixed<12>(dst, src, order, count);
    case 16:
        return GatherFixed<16>(dst, src, order, count);
    case 24:
        return GatherFixed<24>(dst, src, order, count);
    case 32:
        return GatherFixed<32>(dst, src, order, count);
    case 64:
        return GatherFixed<64>(dst, src, order, count);
    default:
        for (size_t i = 0; i < count; ++i)
            std::memcpy(dst + i * size, src + size_t(order[i]) * size, size);
    }
}

/// dst[order[i]] = src[i] for i < count.
void ScatterElements(uint8_t* dst, const uint8_t* src, const unsigned* order, size_t count,
                     size_t size)
{
    switch (size)
    {
    case 4:
        return ScatterFixed<4>(dst, src, order, count);
    case 8:
        return ScatterFixed<8>(dst, src, order, count);
    case 12:
        return ScatterFixed<12>(dst, src, order, count);
    case 16:
        return ScatterFixed<16>(dst, src, order, count);
    case 24:
        return ScatterFixed<24>(dst, src, order, count);
    case 32:
        return ScatterFixed<32>(dst, src, order, count);
    case 64:
        return ScatterFixed<64>(dst, src, order, count);
    default:
        for (size_t i = 0; i < count; ++i)
            std::memcpy(dst + size_t(order[i]) * size, src + i * size, size);
    }
}

// A set of bits for the bookkeeping of reordering: an eighth of the memory a byte per element
// would take, which matters when every fresh page costs a fault.
class CBitSet
{
public:
    explicit CBitSet(size_t count) : m_Words(new (std::nothrow) uint64_t[count / 64 + 1]()) {}
    bool IsValid() const { return m_Words != nullptr; }
    bool Test(size_t i) const { return (m_Words[i >> 6] >> (i & 63)) & 1; }
    void Set(size_t i) { m_Words[i >> 6] |= uint64_t(1) << (i & 63); }

private:
    std::unique_ptr<uint64_t[]> m_Words;
};

// Releases one holder of a methods object at the end of a scope unless handed on.
class CMethodsHolder
{
public:
    explicit CMethodsHolder(CElementMethods* methods) : m_Methods(methods) {}
    ~CMethodsHolder()
    {
        if (m_Methods)
            m_Methods->Delete();
    }
    CMethodsHolder(const CMethodsHolder&) = delete;
    CMethodsHolder& operator=(const CMethodsHolder&) = delete;
    CElementMethods* Get() const { return m_Methods; }
    CElementMethods* Release() { return std::exchange(m_Methods, nullptr); }

private:
    CElementMethods* m_Methods;
};

bool SameElements(const CElementMethods* a, const CElementMethods* b)
{
    if (a == b)
        return true;
    return a && b && a->GetType() == b->GetType() && a->GetSizeof() == b->GetSizeof();
}
} // namespace

// ---------------------------------------------------------------- large blocks

void* ZanAllocateBlock(size_t bytes)
{
    return bytes >= kMapThreshold ? MapBlock(bytes) : std::malloc(bytes);
}

void* ZanAllocateZeroedBlock(size_t bytes)
{
    return bytes >= kMapThreshold ? MapBlock(bytes) : std::calloc(bytes ? bytes : 1, 1);
}

void ZanFreeBlock(void* block, size_t bytes)
{
    if (!block)
        return;
    if (bytes >= kMapThreshold)
        munmap(block, MappedSize(bytes));
    else
        std::free(block);
}

void* ZanResizeBlock(void* block, size_t oldBytes, size_t newBytes)
{
    bool wasMapped = oldBytes >= kMapThreshold;
    bool isMapped = newBytes >= kMapThreshold;
    if (!wasMapped && !isMapped)
        return std::realloc(block, newBytes);
    if (wasMapped && isMapped)
    {
        void* moved = mremap(block, MappedSize(oldBytes), MappedSize(newBytes), MREMAP_MAYMOVE);
        return moved == MAP_FAILED ? nullptr : moved;
    }
    void* fresh = ZanAllocateBlock(newBytes);
    if (!fresh)
        return nullptr;
    std::memcpy(fresh, block, std::min(oldBytes, newBytes));
    ZanFreeBlock(block, oldBytes);
    return fresh;
}


// ================================================================ CElementMethods

ZAN_IMPLEMENT_RUNTIME_CLASS(CElementMethods, CXObject)

CElementMethods::~CElementMethods() = default;

bool CElementMethods::IsObject() const
{
    return false;
}

bool CElementMethods::IsKindOf(const CElementMethods* other) const
{
    return other && GetRuntimeClassDescriptor()->IsDerivedFrom(other->GetRuntimeClassDescriptor());
}

unsigned CElementMethods::GetSizeof() const
{
    return 0;
}
uint32_t CElementMethods::GetType() const
{
    return 0;
}
uint32_t CElementMethods::GetBaseType() const
{
    return 0;
}

void CElementMethods::ConstructElement(void* element) const
{
    if (element)
        std::memset(element, 0, GetSizeof());
}

void CElementMethods::DestructElement(void*) const {}

void CElementMethods::CopyElement(void* dst, const CElementMethods* dstMethods, const void* src,
                                  const CElementMethods* srcMethods) const
{
    if (!dst)
        return;
    const CElementMethods& target = dstMethods ? *dstMethods : *this;
    if (src && srcMethods && srcMethods->GetType() == target.GetType())
    {
        if (srcMethods->GetSizeof() == target.GetSizeof())
        {
            target.CopyElement(dst, src);
            return;
        }
        if (srcMethods->IsTriviallyCopyable() && target.IsTriviallyCopyable())
        {
            std::memcpy(dst, src, std::min(srcMethods->GetSizeof(), target.GetSizeof()));
            return;
        }
    }
    // Nothing meaningful to copy: the destination becomes a fresh element, as after SetSize.
    target.DestructElement(dst);
    std::memset(dst, 0, target.GetSizeof());
    target.ConstructElement(dst);
}

void CElementMethods::CopyElement(void* dst, const void* src) const
{
    if (dst && src && dst != src)
        std::memcpy(dst, src, GetSizeof());
}

void CElementMethods::SerializeElement(CXArchive& ar, void* element) const
{
    if (!element)
        return;
    size_t offset = ValueOffset(*this);
    size_t size = GetSizeof();
    if (size <= offset)
        return;
    uint8_t* bytes = static_cast<uint8_t*>(element) + offset;
    if (ar.IsStoring())
        ar.Write(bytes, size - offset);
    else
        ar.Read(bytes, size - offset);
}

void CElementMethods::ConstructElements(void* first, size_t count) const
{
    if (!first || count == 0)
        return;
    uint8_t* bytes = static_cast<uint8_t*>(first);
    size_t size = GetSizeof();
    if (IsTriviallyCopyable())
    {
        // One construction, then copies of its bytes in doubling blocks: memory speed for
        // types whose default is not all zeros.
        ConstructElement(bytes);
        size_t done = 1;
        while (done < count)
        {
            size_t n = std::min(done, count - done);
            std::memcpy(bytes + done * size, bytes, n * size);
            done += n;
        }
        return;
    }
    for (size_t i = 0; i < count; ++i)
        ConstructElement(bytes + i * size);
}

void CElementMethods::DestructElements(void* first, size_t count) const
{
    if (!first || IsTriviallyCopyable())
        return;
    uint8_t* bytes = static_cast<uint8_t*>(first);
    size_t size = GetSizeof();
    for (size_t i = 0; i < count; ++i)
        DestructElement(bytes + i * size);
}

void CElementMethods::CopyElements(void* dst, const void* src, size_t count) const
{
    if (!dst || !src || count == 0 || dst == src)
        return;
    size_t size = GetSizeof();
    if (IsTriviallyCopyable())
    {
        std::memcpy(dst, src, count * size);
        return;
    }
    uint8_t* out = static_cast<uint8_t*>(dst);
    const uint8_t* in = static_cast<const uint8_t*>(src);
    for (size_t i = 0; i < count; ++i)
        CopyElement(out + i * size, in + i * size);
}

void CElementMethods::SerializeElements(CXArchive& ar, void* first, size_t count) const
{
    if (!first || count == 0)
        return;
    size_t size = GetSizeof();
    if (IsTriviallyCopyable())
    {
        if (ar.IsStoring())
            ar.Write(first, count * size);
        else
            ar.Read(first, count * size);
        return;
    }
    uint8_t* bytes = static_cast<uint8_t*>(first);
    for (size_t i = 0; i < count; ++i)
        SerializeElement(ar, bytes + i * size);
}

bool CElementMethods::IsTriviallyCopyable() const
{
    return !IsObject();
}

unsigned CElementMethods::GetArchiveSizeof() const
{
    return IsObject() ? 1u : GetSizeof();
}

uint32_t CElementMethods::GetElementChecksum(const void* element) const
{
    if (!element)
        return 0;
    size_t offset = ValueOffset(*this);
    size_t size = GetSizeof();
    if (size <= offset)
        return 0;
    return HashBytes(static_cast<const uint8_t*>(element) + offset, size - offset);
}

// ================================================================ plain value methods

ZAN_IMPLEMENT_DYNCREATE(CUIntElementMethods, CElementMethods)

unsigned CUIntElementMethods::GetSizeof() const
{
    return sizeof(uint32_t);
}
uint32_t CUIntElementMethods::GetType() const
{
    return ZanTag("UINT");
}
uint32_t CUIntElementMethods::GetBaseType() const
{
    return ZanTag("UINT");
}

void CUIntElementMethods::ConstructElement(void* element) const
{
    if (element)
        std::memset(element, 0, sizeof(uint32_t));
}

void CUIntElementMethods::ConstructElements(void* first, size_t count) const
{
    if (first)
        std::memset(first, 0, count * sizeof(uint32_t));
}

ZAN_IMPLEMENT_DYNCREATE(CDoubleElementMethods, CElementMethods)

unsigned CDoubleElementMethods::GetSizeof() const
{
    return sizeof(double);
}
uint32_t CDoubleElementMethods::GetType() const
{
    return ZanTag("DOUB");
}
uint32_t CDoubleElementMethods::GetBaseType() const
{
    return ZanTag("DOUB");
}

void CDoubleElementMethods::ConstructElement(void* element) const
{
    if (element)
        std::memset(element, 0, sizeof(double)); // +0.0
}

void CDoubleElementMethods::ConstructElements(void* first, size_t count) const
{
    if (first)
        std::memset(first, 0, count * sizeof(double));
}

// ================================================================ CElementArray

ZAN_IMPLEMENT_DYNCREATE(CElementArray, CXObject)

CElementArray::CElementArray(CElementMethods* methods)
{
    AttachMethods(methods);
}

CElementArray::CElementArray(const CElementArray& src) : CXObject(src), m_GrowBy(src.m_GrowBy)
{
    if (src.m_Methods)
        src.m_Methods->AddRef();
    AttachMethods(src.m_Methods);
    if (!ResizeTo(src.m_Size, !m_Trivial))
    {
        ReleaseStorage();
        if (m_Methods)
            m_Methods->Delete();
        throw std::bad_alloc();
    }
    if (m_Size)
        m_Methods->CopyElements(m_Data, src.m_Data, size_t(m_Size));
}

CElementArray::CElementArray(CElementArray&& src) noexcept : CXObject(src)
{
    SwapContent(src);
}

CElementArray& CElementArray::operator=(const CElementArray& src)
{
    if (!Copy(src, true))
        throw std::bad_alloc();
    return *this;
}

CElementArray& CElementArray::operator=(CElementArray&& src) noexcept
{
    if (this != &src)
    {
        CElementArray old(std::move(*this));
        SwapContent(src);
    }
    return *this;
}

CElementArray::~CElementArray()
{
    ReleaseStorage();
    if (m_Methods)
        m_Methods->Delete();
}

void CElementArray::ThrowIndex(const char* where, long long index) const
{
    ZanThrowIndexError(where, index, m_Size);
}

void CElementArray::AttachMethods(CElementMethods* methods)
{
    m_Methods = methods;
    m_ElementSize = methods ? methods->GetSizeof() : 0;
    m_Trivial = methods ? methods->IsTriviallyCopyable() : true;
}

void CElementArray::SwapContent(CElementArray& other) noexcept
{
    std::swap(m_Data, other.m_Data);
    std::swap(m_Methods, other.m_Methods);
    std::swap(m_Size, other.m_Size);
    std::swap(m_Capacity, other.m_Capacity);
    std::swap(m_Constructed, other.m_Constructed);
    std::swap(m_GrowBy, other.m_GrowBy);
    std::swap(m_ElementSize, other.m_ElementSize);
    std::swap(m_Trivial, other.m_Trivial);
    std::swap(m_ConstructMode, other.m_ConstructMode);
}

int CElementArray::ComputeCapacity(int needed) const
{
    long long current = m_Capacity;
    long long wanted = std::max<long long>(needed, current + current / 2);
    if (m_GrowBy > 0)
        wanted = std::max(wanted, current + m_GrowBy);
    // An array sized once from empty gets exactly what it asked for.
    if (current > 0 || needed < kMinGrowth)
        wanted = std::max<long long>(wanted, kMinGrowth);
    return int(std::min<long long>(wanted, INT_MAX));
}

bool CElementArray::ReserveRaw(int capacity)
{
    if (capacity == m_Capacity)
        return true;
    size_t oldBytes = size_t(m_Capacity) * m_ElementSize;
    if (capacity == 0)
    {
        ZanFreeBlock(m_Data, oldBytes);
        m_Data = nullptr;
        m_Capacity = 0;
        return true;
    }
    if (m_ElementSize == 0)
        return false;
    size_t newBytes = size_t(capacity) * m_ElementSize;
    void* block = m_Data ? ZanResizeBlock(m_Data, oldBytes, newBytes) : ZanAllocateBlock(newBytes);
    if (!block)
        return false;
    m_Data = static_cast<uint8_t*>(block);
    m_Capacity = capacity;
    return true;
}

void CElementArray::ConstructAt(uint8_t* first, size_t count) const
{
    if (count == 0)
        return;
    std::memset(first, 0, count * m_ElementSize);
    m_Methods->ConstructElements(first, count);
}

void CElementArray::DestructAt(uint8_t* first, size_t count) const
{
    if (count)
        m_Methods->DestructElements(first, count);
}

// Brings the constructed prefix to what the mode requires: the whole block in construct
// mode, the live elements otherwise.
void CElementArray::Normalize()
{
    int target = m_ConstructMode ? m_Capacity : m_Size;
    if (m_Constructed < target)
        ConstructAt(Slot(size_t(m_Constructed)), size_t(target - m_Constructed));
    else if (m_Constructed > target)
        DestructAt(Slot(size_t(target)), size_t(m_Constructed - target));
    m_Constructed = target;
}

// The sizing every growth and shrink goes through. With constructNew false (trivially
// copyable elements only) new elements are left raw because the caller overwrites every byte.
bool CElementArray::ResizeTo(int newSize, bool constructNew)
{
    if (newSize > 0 && !m_Methods)
        return false;
    if (newSize > m_Capacity && !ReserveRaw(ComputeCapacity(newSize)))
        return false;
    if (newSize < m_Size)
    {
        if (m_ConstructMode)
        {
            // Spare elements are always fresh ones: an element dropped and grown back must not
            // come back with its old value.
            DestructAt(Slot(size_t(newSize)), size_t(m_Size - newSize));
            ConstructAt(Slot(size_t(newSize)), size_t(m_Size - newSize));
        }
        else
        {
            DestructAt(Slot(size_t(newSize)), size_t(m_Constructed - newSize));
            m_Constructed = newSize;
        }
    }
    else if (!constructNew && newSize > m_Constructed)
        m_Constructed = newSize;
    m_Size = newSize;
    Normalize();
    return true;
}

void CElementArray::ReleaseStorage()
{
    if (m_Data && m_Methods)
        DestructAt(m_Data, size_t(m_Constructed));
    ZanFreeBlock(m_Data, size_t(m_Capacity) * m_ElementSize);
    m_Data = nullptr;
    m_Size = m_Capacity = m_Constructed = 0;
}

ptrdiff_t CElementArray::OffsetInBlock(const void* ptr) const
{
    const uint8_t* p = static_cast<const uint8_t*>(ptr);
    if (!p || !m_Data || p < m_Data || p >= m_Data + size_t(m_Capacity) * m_ElementSize)
        return -1;
    return p - m_Data;
}

void CElementArray::CopyOne(uint8_t* dst, const void* src) const
{
    if (!src)
    {
        m_Methods->DestructElement(dst);
        ConstructAt(dst, 1);
    }
    else if (dst != src)
    {
        if (m_Trivial)
            std::memcpy(dst, src, m_ElementSize);
        else
            m_Methods->CopyElement(dst, src);
    }
}

// ---------------------------------------------------------------- size and storage

bool CElementArray::SetSize(int newSize, bool keepPreAllocation, int growBy)
{
    if (newSize < 0)
        throw CXInvalidArgException("CElementArray::SetSize: negative size " +
                                    std::to_string(newSize));
    if (newSize > 0 && !m_Methods)
        return false;
    int oldGrowBy = m_GrowBy;
    if (growBy >= 0)
        m_GrowBy = growBy;
    if (newSize > m_Capacity && !ReserveRaw(ComputeCapacity(newSize)))
    {
        m_GrowBy = oldGrowBy;
        return false;
    }
    if (!keepPreAllocation)
        m_ConstructMode = false;
    ResizeTo(newSize, true); // cannot fail: the block is large enough
    return true;
}

bool CElementArray::PreAllocate(int count, bool constructMode)
{
    if (count < 0 || (count > 0 && !m_Methods))
        return false;
    if (count > m_Capacity && !ReserveRaw(count))
        return false;
    m_ConstructMode = constructMode;
    Normalize();
    return true;
}

int CElementArray::SetGrowFactor(int growBy)
{
    return std::exchange(m_GrowBy, growBy);
}

void CElementArray::FreeExtra()
{
    m_ConstructMode = false;
    Normalize();
    // Shrinking in place does not fail in practice; if it did, the larger block stays.
    ReserveRaw(m_Size);
}

void CElementArray::RemoveAll()
{
    m_ConstructMode = false;
    ReleaseStorage();
}

uint32_t CElementArray::GetTypeOfElement() const
{
    return m_Methods ? m_Methods->GetType() : 0;
}

bool CElementArray::SetMethods(CElementMethods* methods)
{
    CMethodsHolder incoming(methods);
    if (methods == m_Methods)
        return true; // the caller's extra holder is released by `incoming`
    bool keep = SameElements(m_Methods, methods) || m_Constructed == 0;
    bool hadElements = m_Size > 0;
    if (!keep || !methods)
        ReleaseStorage();
    else if (m_Capacity > 0 && methods->GetSizeof() != m_ElementSize)
        ReleaseStorage(); // only raw slots: the room is counted in old-size elements
    CMethodsHolder old(m_Methods);
    AttachMethods(incoming.Release());
    return keep || !hadElements;
}

// ---------------------------------------------------------------- editing

void CElementArray::SetAt(int index, const void* src)
{
    CopyOne(Slot(size_t(CheckIndex(index))), src);
}

bool CElementArray::SetAtGrow(int index, const void* src)
{
    if (index < 0)
        ThrowIndex("CElementArray::SetAtGrow", index);
    if (index >= m_Size)
    {
        if (index == INT_MAX)
            return false;
        ptrdiff_t offset = OffsetInBlock(src);
        // The element being set is about to be overwritten: trivially copyable ones need no
        // construction first.
        bool construct = !(m_Trivial && src && index == m_Size);
        if (!ResizeTo(index + 1, construct))
            return false;
        if (offset >= 0)
            src = m_Data + offset;
        if (!construct)
        {
            std::memcpy(Slot(size_t(index)), src, m_ElementSize);
            return true;
        }
    }
    CopyOne(Slot(size_t(index)), src);
    return true;
}

int CElementArray::Add(const void* src)
{
    int index = m_Size;
    return SetAtGrow(index, src) ? index : -1;
}

bool CElementArray::InsertAt(int index, const void* src, int count)
{
    if (index < 0 || index > m_Size)
        ThrowIndex("CElementArray::InsertAt", index);
    if (count < 0)
        throw CXInvalidArgException("CElementArray::InsertAt: negative count " +
                                    std::to_string(count));
    if (count == 0)
        return true;
    if (!m_Methods || (long long)m_Size + count > INT_MAX)
        return false;
    int oldSize = m_Size;
    int newSize = oldSize + count;
    ptrdiff_t offset = OffsetInBlock(src);
    if (newSize > m_Capacity && !ReserveRaw(ComputeCapacity(newSize)))
        return false;
    // Spare elements of construct mode in the slots the shift lands on are given up first.
    if (m_Constructed > oldSize)
        DestructAt(Slot(size_t(oldSize)), size_t(std::min(newSize, m_Constructed) - oldSize));
    std::memmove(Slot(size_t(index) + size_t(count)), Slot(size_t(index)),
                 size_t(oldSize - index) * m_ElementSize);
    ConstructAt(Slot(size_t(index)), size_t(count));
    m_Size = newSize;
    m_Constructed = std::max(m_Constructed, newSize);
    Normalize();
    if (src)
    {
        if (offset >= 0)
        {
            size_t first = size_t(index) * m_ElementSize;
            src =
                m_Data + (size_t(offset) < first ? size_t(offset)
                                                 : size_t(offset) + size_t(count) * m_ElementSize);
        }
        for (int i = 0; i < count; ++i)
            CopyOne(Slot(size_t(index + i)), src);
    }
    return true;
}

void CElementArray::RemoveAt(int index, int count)
{
    if (index < 0 || count < 0 || (long long)index + count > m_Size)
        ThrowIndex("CElementArray::RemoveAt",
                   index < 0 || index >= m_Size ? index : (long long)index + count - 1);
    if (count == 0)
        return;
    DestructAt(Slot(size_t(index)), size_t(count));
    std::memmove(Slot(size_t(index)), Slot(size_t(index) + size_t(count)),
                 size_t(m_Size - index - count) * m_ElementSize);
    int newSize = m_Size - count;
    if (m_Constructed > m_Size)
        ConstructAt(Slot(size_t(newSize)), size_t(count)); // keep the spare prefix contiguous
    else
        m_Constructed = newSize;
    m_Size = newSize;
}

bool CElementArray::Copy(const CElementArray& src, bool takeMethods)
{
    if (&src == this)
        return true;
    if ((takeMethods || !m_Methods) && src.m_Methods != m_Methods)
    {
        // Build the copy with the source's methods beside this array and swap it in, so that
        // a shortage of memory leaves this array whole.
        if (src.m_Methods)
            src.m_Methods->AddRef();
        CElementArray fresh(src.m_Methods);
        fresh.m_GrowBy = m_GrowBy;
        fresh.m_ConstructMode = m_ConstructMode;
        if (!fresh.Copy(src, false))
            return false;
        SwapContent(fresh);
        return true;
    }
    int n = src.m_Size;
    if (SameElements(m_Methods, src.m_Methods))
    {
        if (!ResizeTo(n, !m_Trivial))
            return false;
        if (n)
            m_Methods->CopyElements(m_Data, src.m_Data, size_t(n));
        return true;
    }
    if (!ResizeTo(n, true))
        return false;
    for (int i = 0; i < n; ++i)
        m_Methods->CopyElement(Slot(size_t(i)), m_Methods, src.Slot(size_t(i)), src.m_Methods);
    return true;
}

bool CElementArray::Copy(unsigned dstIndex, const CElementArray& src, unsigned srcIndex)
{
    if (dstIndex >= unsigned(m_Size) || srcIndex >= unsigned(src.m_Size))
        return false;
    uint8_t* dst = Slot(dstIndex);
    const uint8_t* from = src.Slot(srcIndex);
    if (dst == from)
        return true;
    if (SameElements(m_Methods, src.m_Methods))
        CopyOne(dst, from);
    else
        m_Methods->CopyElement(dst, m_Methods, from, src.m_Methods);
    return true;
}

bool CElementArray::CopyGather(unsigned dstFirst, const CElementArray& src,
                               const unsigned* srcIndices, unsigned count)
{
    if (count == 0)
        return true;
    if (&src == this || !srcIndices || uint64_t(dstFirst) + count > uint64_t(m_Size))
        return false;
    for (unsigned i = 0; i < count; ++i)
        if (srcIndices[i] >= unsigned(src.m_Size))
            return false;
    uint8_t* dst = Slot(dstFirst);
    if (SameElements(m_Methods, src.m_Methods))
    {
        for (unsigned i = 0; i < count; ++i, dst += m_ElementSize)
            CopyOne(dst, src.Slot(srcIndices[i]));
    }
    else
    {
        for (unsigned i = 0; i < count; ++i, dst += m_ElementSize)
            m_Methods->CopyElement(dst, m_Methods, src.Slot(srcIndices[i]), src.m_Methods);
    }
    return true;
}

int CElementArray::Append(const CElementArray& src)
{
    int first = m_Size;
    int n = src.m_Size;
    if (n == 0)
        return first;
    if ((long long)first + n > INT_MAX)
        return -1;
    if (!m_Methods)
    {
        // Nothing is held, so adopting the source's methods is a plain copy.
        return Copy(src, true) ? 0 : -1;
    }
    bool same = SameElements(m_Methods, src.m_Methods);
    if (!ResizeTo(first + n, !(same && m_Trivial)))
        return -1;
    // Read the source after the resize: when it is this array, its block may have moved.
    const uint8_t* from = src.m_Data;
    if (same)
        m_Methods->CopyElements(Slot(size_t(first)), from, size_t(n));
    else
        for (int i = 0; i < n; ++i)
            m_Methods->CopyElement(Slot(size_t(first + i)), m_Methods,
                                   from + size_t(i) * src.m_ElementSize, src.m_Methods);
    return first;
}

bool CElementArray::Reorder(const unsigned* order, unsigned count, bool scatter)
{
    if (count > unsigned(INT_MAX) || (count > 0 && !order))
        return false;
    size_t size = m_ElementSize;
    if (scatter)
    {
        if (count != unsigned(m_Size))
            return false;
        if (count == 0)
            return true;
        {
            CBitSet seen(count);
            if (!seen.IsValid())
                return false;
            for (unsigned i = 0; i < count; ++i)
            {
                if (order[i] >= count || seen.Test(order[i]))
                    return false;
                seen.Set(order[i]);
            }
        }
        uint8_t* block = static_cast<uint8_t*>(ZanAllocateBlock(size_t(m_Capacity) * size));
        if (!block)
            return false;
        ScatterElements(block, m_Data, order, count, size);
        // Spare elements of construct mode move along unchanged.
        std::memcpy(block + size_t(count) * size, Slot(count),
                    size_t(m_Constructed - m_Size) * size);
        ZanFreeBlock(m_Data, size_t(m_Capacity) * size);
        m_Data = block;
        return true;
    }

    for (unsigned i = 0; i < count; ++i)
        if (order[i] >= unsigned(m_Size))
            return false;
    int newSize = int(count);
    int newCapacity = std::max(newSize, m_Capacity);
    uint8_t* block = nullptr;
    if (newCapacity > 0)
    {
        block = static_cast<uint8_t*>(ZanAllocateBlock(size_t(newCapacity) * size));
        if (!block)
            return false;
    }
    if (m_Trivial)
        GatherElements(block, m_Data, order, count, size);
    else
    {
        // Elements no index names are destructed; an element named once moves; one named
        // several times moves to its first place and is copied to the others.
        CBitSet used{size_t(m_Size)};
        if (!used.IsValid())
        {
            ZanFreeBlock(block, size_t(newCapacity) * size);
            return false;
        }
        bool repeats = false;
        for (unsigned i = 0; i < count; ++i)
        {
            repeats = repeats || used.Test(order[i]);
            used.Set(order[i]);
        }
        if (!repeats)
            GatherElements(block, m_Data, order, count, size);
        else
        {
            CBitSet moved{size_t(m_Size)};
            if (!moved.IsValid())
            {
                ZanFreeBlock(block, size_t(newCapacity) * size);
                return false;
            }
            for (unsigned i = 0; i < count; ++i)
            {
                uint8_t* dst = block + size_t(i) * size;
                unsigned from = order[i];
                if (!moved.Test(from))
                {
                    std::memcpy(dst, Slot(from), size);
                    moved.Set(from);
                }
                else
                {
                    ConstructAt(dst, 1);
                    m_Methods->CopyElement(dst, Slot(from));
                }
            }
        }
        for (int i = 0; i < m_Size;)
        {
            if (used.Test(size_t(i)))
            {
                ++i;
                continue;
            }
            int end = i + 1;
            while (end < m_Size && !used.Test(size_t(end)))
                ++end;
            DestructAt(Slot(size_t(i)), size_t(end - i));
            i = end;
        }
    }
    if (m_Constructed > m_Size)
        DestructAt(Slot(size_t(m_Size)), size_t(m_Constructed - m_Size));
    ZanFreeBlock(m_Data, size_t(m_Capacity) * size);
    m_Data = block;
    m_Size = newSize;
    m_Capacity = newCapacity;
    m_Constructed = newSize;
    Normalize(); // constructs the spare elements of the new block in construct mode
    return true;
}

CElementArray* CElementArray::Duplicate(bool withElements) const
{
    std::unique_ptr<CXObject> object(GetRuntimeClassDescriptor()->CreateObject());
    CElementArray* array = dynamic_cast<CElementArray*>(object.get());
    if (!array)
        return nullptr;
    std::unique_ptr<CElementArray> copy(static_cast<CElementArray*>(object.release()));
    if (m_Methods)
        m_Methods->AddRef();
    copy->SetMethods(m_Methods);
    copy->m_GrowBy = m_GrowBy;
    if (withElements && !copy->Copy(*this, false))
        return nullptr;
    return copy.release();
}

uint32_t CElementArray::GetChecksum() const
{
    if (!m_Methods)
        return 0;
    uint32_t h = 0;
    for (int i = 0; i < m_Size; ++i)
        h = ZanMix32(uint32_t(i) + h) + m_Methods->GetElementChecksum(Slot(size_t(i)));
    return h;
}

// ---------------------------------------------------------------- archive

void CElementArray::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        ar.WriteObject(m_Methods);
        ar << uint32_t(m_ElementSize) << uint32_t(GetTypeOfElement());
        ar.WriteCount(uint64_t(m_Size));
        if (m_Size)
            m_Methods->SerializeElements(ar, m_Data, size_t(m_Size));
        return;
    }

    CXObject* object = ar.ReadObject(ZAN_RUNTIME_CLASS(CElementMethods));
    CElementMethods* methods = dynamic_cast<CElementMethods*>(object);
    if (object && !methods)
    {
        delete object;
        throw CXArchiveException(CXArchiveException::_BadClass,
                                 "element methods record names a class of another kind");
    }
    // From here on the loaded content lives in `fresh`; an exception destroys it (elements
    // destructed, methods released) and leaves this array untouched.
    CElementArray fresh(methods);
    fresh.m_GrowBy = m_GrowBy;
    fresh.m_ConstructMode = m_ConstructMode;

    uint32_t elementSize, elementType;
    ar >> elementSize >> elementType;
    uint32_t expectedSize = methods ? methods->GetSizeof() : 0;
    uint32_t expectedType = methods ? methods->GetType() : 0;
    if (elementSize != expectedSize || elementType != expectedType)
        throw CXArchiveException(CXArchiveException::_BadValue,
                                 "element size " + std::to_string(elementSize) + " and type " +
                                     std::to_string(elementType) + " where the methods give " +
                                     std::to_string(expectedSize) + " and " +
                                     std::to_string(expectedType));
    unsigned perElement = methods ? std::max(methods->GetArchiveSizeof(), 1u) : 1u;
    uint64_t count = ar.ReadCount(perElement, uint64_t(INT_MAX));
    if (count > 0 && elementSize == 0)
        throw CXArchiveException(CXArchiveException::_BadValue,
                                 "elements of size 0 or without methods");
    if (count > 0)
    {
        if (!fresh.ReserveRaw(int(count)))
            throw CXArchiveException(CXArchiveException::_BadCount,
                                     "no memory for " + std::to_string(count) + " elements");
        // Trivially copyable elements are archived as their bytes: the load writes every byte,
        // so building them first would only be a second pass over a block this size.
        if (!fresh.m_Trivial)
        {
            // A mapped block comes from the kernel zero-filled: only the construction is left.
            if (size_t(count) * fresh.m_ElementSize >= kMapThreshold)
                fresh.m_Methods->ConstructElements(fresh.m_Data, size_t(count));
            else
                fresh.ConstructAt(fresh.m_Data, size_t(count));
        }
        fresh.m_Size = fresh.m_Constructed = int(count);
        methods->SerializeElements(ar, fresh.m_Data, size_t(count));
    }
    fresh.Normalize();
    SwapContent(fresh);
}
