/// \file elementarray.h
/// \brief CElementMethods, which describes one type of fixed-size element, and CElementArray,
///        the growable array that stores such elements contiguously.
///
/// An element array holds `GetSize()` elements of `GetSizeOfElement()` bytes each in one
/// contiguous block: element *i* starts at `GetDataPtr() + i * GetSizeOfElement()`. The
/// array never allocates per element. Growth, whole-array copies, reordering and archiving
/// call the bulk operations of the methods object once per range, so that a methods class
/// that overrides them does the work without a virtual call per element; only conversions
/// between element types, elements repeated by a gather and checksums go element by element.
/// Algorithms that need speed loop over the raw block at the element stride.
///
/// *Relocation contract.* The array moves elements bitwise (memcpy, realloc, or a remapping
/// of the block's pages) when its block grows or when it reorders them; the old bytes are then
/// forgotten, not destructed. Every element type must therefore be bitwise relocatable: an
/// element may hold pointers to other memory, but never a pointer into itself or into a
/// neighbour. Objects with a virtual table are fine.
///
/// *Alignment.* The block is aligned on 16 bytes; element *i* is aligned on the largest power
/// of two that divides `16` and `i * GetSizeOfElement()`. A methods class picks an element
/// size that is a multiple of its element's alignment.
///
/// *Padding.* Storage is zero-filled before an element is constructed in it, so bytes that
/// construction and copies of an element do not write (padding, the unused tail of a slot)
/// stay zero and checksums and archives are deterministic. A plain element copied in from
/// outside (SetAt, Add) brings its own bytes, padding included.
#pragma once

#include <3dzan/foundation/xobject.h>

#include <cstddef>
#include <cstdint>

class CXArchive;

/// \brief Describes one type of fixed-size element: its size, its four-character tag, and how
///        an element is constructed, destructed, copied, archived and hashed in place.
///
/// A methods object is shared by every array of its element type (holders counted through
/// CInstanciatedObject; release with Delete, never `delete`). It holds no per-array state, and
/// what it reports (size, tags, IsObject, IsTriviallyCopyable, GetArchiveSizeof) never changes
/// during its life: arrays cache these answers.
///
/// Construction, destruction and copies never throw; only serialization may (a malformed
/// archive raises CXArchiveException).
///
/// A derived class that overrides one of the two `CopyElement` overloads adds
/// `using CElementMethods::CopyElement;` so that the other stays visible.
class ZAN_API CElementMethods : public CXObject, public CInstanciatedObject
{
    ZAN_DECLARE_RUNTIME_CLASS(CElementMethods)

public:
    CElementMethods() = default;
    /// Copies only the foundation base: the copy is a new object with one holder.
    CElementMethods(const CElementMethods&) = default;
    CElementMethods(CElementMethods&&) = default;
    CElementMethods& operator=(const CElementMethods&) = default;
    CElementMethods& operator=(CElementMethods&&) = default;
    ~CElementMethods() override;

    using CXObject::IsKindOf;

    /// \brief Whether an element is itself an object with a virtual table at its start.
    ///        The base answers false (plain values).
    virtual bool IsObject() const;
    /// \brief Whether this methods object's class is the class of \p other or derives from it.
    ///        False for null.
    virtual bool IsKindOf(const CElementMethods* other) const;
    /// \brief Element size in bytes (the array's stride). The base answers 0.
    virtual unsigned GetSizeof() const;
    /// \brief Four-character tag of the element type (see ZanTag). The base answers 0.
    virtual uint32_t GetType() const;
    /// \brief Tag of the family the element type belongs to. The base answers 0.
    virtual uint32_t GetBaseType() const;
    /// \brief Initialises one element in zero-filled storage. Nothing for null.
    ///        The base zeroes the element's bytes.
    virtual void ConstructElement(void* element) const;
    /// \brief Ends the life of one constructed element. Nothing for null. The base does nothing.
    virtual void DestructElement(void* element) const;
    /// \brief Copies a source element described by \p srcMethods into a constructed destination
    ///        element described by \p dstMethods (null \p dstMethods means this object).
    ///
    /// The base: same type and size, the two-argument CopyElement of \p dstMethods; same type,
    /// other size, both trivially copyable, a byte copy of the smaller size; anything else
    /// (other type, null source) resets the destination to a constructed element.
    virtual void CopyElement(void* dst, const CElementMethods* dstMethods, const void* src,
                             const CElementMethods* srcMethods) const;
    /// \brief Copies one constructed element of this type onto another. The base copies the bytes.
    virtual void CopyElement(void* dst, const void* src) const;
    /// \brief Stores or loads one constructed element.
    ///
    /// The base moves the element's bytes as they are in memory, after the virtual-table
    /// pointer when IsObject() (that pointer differs from process to process).
    virtual void SerializeElement(CXArchive& ar, void* element) const;

    /// \name Bulk operations
    /// The array calls these once per range instead of once per element. Ranges never overlap.
    /// The base versions take a block path when IsTriviallyCopyable() and otherwise loop over
    /// the single-element operations at the GetSizeof() stride. A class overrides them to drop
    /// the per-element virtual call; an override produces exactly what the loop would.
    /// \{

    /// \brief Constructs \p count elements in zero-filled storage at \p first.
    ///
    /// For trivially copyable elements the base constructs the first element and replicates
    /// its bytes: such a class's ConstructElement gives the same bytes every time.
    virtual void ConstructElements(void* first, size_t count) const;
    /// \brief Destructs \p count constructed elements at \p first; nothing for trivially
    ///        copyable ones.
    virtual void DestructElements(void* first, size_t count) const;
    /// \brief Copies \p count constructed elements from \p src onto constructed elements at \p dst.
    virtual void CopyElements(void* dst, const void* src, size_t count) const;
    /// \brief Stores or loads \p count constructed elements at \p first, in order; the bytes are
    ///        those of SerializeElement applied to each element.
    virtual void SerializeElements(CXArchive& ar, void* first, size_t count) const;
    /// \}

    /// \brief Whether copying an element is a byte copy, destructing it does nothing and its
    ///        archived form is its bytes in memory.
    ///
    /// The array and the base bulk operations then move such elements as blocks, skip
    /// CopyElement, DestructElement and SerializeElement, and load archived elements into raw
    /// storage without constructing them first. A class for plain values that changes any of
    /// those three answers false. The base answers `!IsObject()`.
    virtual bool IsTriviallyCopyable() const;
    /// \brief The fewest bytes one element takes in an archive.
    ///
    /// Loading checks an element count against the bytes that remain with it before anything
    /// is allocated. The base answers GetSizeof() for plain values and 1 for objects; a class
    /// whose SerializeElement writes a fixed number of bytes answers that number.
    virtual unsigned GetArchiveSizeof() const;
    /// \brief A hash of one element that is the same in every process.
    ///
    /// The base hashes the element's bytes, skipping the leading virtual-table pointer when
    /// IsObject(). 0 for null.
    virtual uint32_t GetElementChecksum(const void* element) const;
};

/// \brief Methods of 32-bit unsigned integers: 4 bytes, tag "UINT", constructed to 0.
class ZAN_API CUIntElementMethods : public CElementMethods
{
    ZAN_DECLARE_DYNCREATE(CUIntElementMethods)

public:
    unsigned GetSizeof() const override;
    uint32_t GetType() const override;
    uint32_t GetBaseType() const override;
    void ConstructElement(void* element) const override;
    void ConstructElements(void* first, size_t count) const override;
};

/// \brief Methods of 64-bit IEEE floats: 8 bytes, tag "DOUB", constructed to +0.0.
class ZAN_API CDoubleElementMethods : public CElementMethods
{
    ZAN_DECLARE_DYNCREATE(CDoubleElementMethods)

public:
    unsigned GetSizeof() const override;
    uint32_t GetType() const override;
    uint32_t GetBaseType() const override;
    void ConstructElement(void* element) const override;
    void ConstructElements(void* first, size_t count) const override;
};

/// \name Large blocks
/// The memory of the library's big arrays. Blocks of 4 MiB and more are mapped directly,
/// grow by remapping pages instead of copying bytes, and ask for transparent huge pages, so
/// that filling a fresh block of tens of megabytes takes a handful of page faults rather than
/// thousands; smaller blocks come from malloc. A block is released with the size it was
/// allocated or last resized with.
/// \{
/// \brief A block of \p bytes (uninitialised); null when the memory cannot be had.
ZAN_API void* ZanAllocateBlock(size_t bytes);
/// \brief A block of \p bytes, every byte 0; null when the memory cannot be had. Large
///        blocks come zeroed from the system, with no pass over them.
ZAN_API void* ZanAllocateZeroedBlock(size_t bytes);
/// \brief Releases \p block, of \p bytes; nothing for null.
ZAN_API void ZanFreeBlock(void* block, size_t bytes);
/// \brief Resizes \p block from \p oldBytes to \p newBytes (both non-zero), keeping the
///        leading bytes. \return the block, or null with the old block intact.
ZAN_API void* ZanResizeBlock(void* block, size_t oldBytes, size_t newBytes);
/// \}

/// \brief A growable array of fixed-size elements described by a CElementMethods object,
///        stored contiguously in one block.
///
/// *Sizes and storage.* `GetSize()` elements are live. The block has room for
/// `GetAllocatedSize()` elements; growth is geometric (at least half the current room), or by
/// at least the grow factor when one is set, so adding elements one at a time costs amortised
/// constant time. Slots beyond the size are raw storage, except in *construct mode*.
///
/// *Construct mode* (PreAllocate with true): every slot of the block holds a constructed
/// element at all times. Slots beyond the size hold default-constructed spare elements, so
/// growing within the block constructs nothing; shrinking destructs the dropped elements and
/// constructs them again as spares; growing the block constructs the new slots at once.
/// The mode ends with PreAllocate(..., false), SetSize(..., false, ...), FreeExtra and
/// RemoveAll, which destruct the spare elements.
///
/// *Errors.* Indices outside the array raise CXInvalidArgException, as do negative sizes and
/// counts. Operations that need memory report a shortage by their result (false, -1, null)
/// and leave the array as it was. Loading a malformed archive raises CXArchiveException and
/// leaves the array as it was.
class ZAN_API CElementArray : public CXObject
{
    ZAN_DECLARE_DYNCREATE(CElementArray)

public:
    /// \brief An empty array of the elements \p methods describes.
    ///
    /// The array takes over one holder of \p methods: the caller gives up the holder it passes
    /// (a freshly created methods object has exactly one) and calls AddRef first if it keeps
    /// using the object. The array releases its holder with Delete when it is destroyed or
    /// when its methods are replaced. Null gives an array without methods, which holds no
    /// elements until it gets methods (SetMethods, Copy, Append, or loading).
    explicit CElementArray(CElementMethods* methods = nullptr);
    /// \brief A copy sharing \p src's methods (one more holder) with copies of its elements.
    /// \throw std::bad_alloc when the memory for the elements cannot be had.
    CElementArray(const CElementArray& src);
    /// \brief Takes \p src's block and methods; \p src is left empty and without methods.
    CElementArray(CElementArray&& src) noexcept;
    /// \brief Same as Copy(src, true). \throw std::bad_alloc when memory cannot be had.
    CElementArray& operator=(const CElementArray& src);
    CElementArray& operator=(CElementArray&& src) noexcept;
    /// \brief Destructs every constructed element and releases the methods holder.
    ~CElementArray() override;

    /// \name Size and storage
    /// \{
    int GetSize() const { return m_Size; }
    int GetCount() const { return m_Size; }
    bool IsEmpty() const { return m_Size == 0; }
    /// \brief Number of elements the block has room for.
    int GetAllocatedSize() const { return m_Capacity; }
    bool IsConstructMode() const { return m_ConstructMode; }
    int GetGrowFactor() const { return m_GrowBy; }

    /// \brief Sets the number of elements: new elements are constructed, dropped ones destructed.
    /// \param newSize the element count; negative raises CXInvalidArgException.
    /// \param keepPreAllocation false ends construct mode (spare elements are destructed); the
    ///        block itself is kept until FreeExtra.
    /// \param growBy zero or more replaces the grow factor (see SetGrowFactor) before sizing;
    ///        negative keeps it.
    /// \return false, with nothing changed, when the memory cannot be had or when the array has
    ///         no methods and \p newSize is not 0.
    virtual bool SetSize(int newSize, bool keepPreAllocation = true, int growBy = -1);
    /// \brief Makes room for \p count elements and sets construct mode (see the class).
    ///
    /// The block grows to exactly \p count elements when it is smaller and is never shrunk.
    /// With \p constructMode every slot beyond the size is constructed now; without it, spare
    /// elements of an earlier construct mode are destructed. The size does not change.
    /// \return false, with nothing changed, for a negative count, when the memory cannot be had,
    ///         or when the array has no methods and \p count is not 0.
    bool PreAllocate(int count, bool constructMode);
    /// \brief Sets the grow factor: when positive, the block grows by at least that many
    ///        elements at a time; zero or negative, geometric growth alone.
    /// \return the previous grow factor (-1 on a new array).
    int SetGrowFactor(int growBy);
    /// \brief Ends construct mode and shrinks the block to the size (frees it when empty).
    void FreeExtra();
    /// \brief Destructs every element, ends construct mode and frees the block. The methods and
    ///        the grow factor stay.
    virtual void RemoveAll();
    /// \}

    /// \name Element access
    /// \{

    /// \brief The block: element *i* is at `GetDataPtr() + i * GetSizeOfElement()`. Null when
    ///        no block is allocated. Valid until the next operation that changes the size or
    ///        the block.
    void* GetDataPtr() { return m_Data; }
    const void* GetDataPtr() const { return m_Data; }
    /// \brief Same as GetDataPtr (which stays reachable in classes that declare their own GetData).
    void* GetData() { return m_Data; }
    const void* GetData() const { return m_Data; }
    /// \brief Element size in bytes (the stride of the block); 0 without methods.
    unsigned GetSizeOfElement() const { return m_ElementSize; }
    /// \brief The methods' GetType(), 0 without methods.
    uint32_t GetTypeOfElement() const;
    /// \brief The methods object (the array keeps its holder), or null.
    CElementMethods* GetMethods() const { return m_Methods; }
    /// \brief Replaces the methods, keeping the elements when the new methods describe the same
    ///        element type and size.
    ///
    /// The array takes over the caller's holder of \p methods in every case (as the constructor
    /// does) and releases its holder of the old methods. When the type or the size differs, the
    /// elements are destructed with the old methods and the block freed, since they cannot be
    /// read as elements of the new type. Null removes the methods (and the elements).
    /// \return true when the elements were kept (or there were none), false when they were dropped.
    bool SetMethods(CElementMethods* methods);

    /// \brief Address of element \p index. \throw CXInvalidArgException outside [0, GetSize()).
    const void* GetAt(int index) const
    {
        return m_Data + size_t(CheckIndex(index)) * m_ElementSize;
    }
    void* GetAt(int index) { return m_Data + size_t(CheckIndex(index)) * m_ElementSize; }
    void* ElementAt(int index) { return GetAt(index); }
    const void* ElementAt(int index) const { return GetAt(index); }
    /// \}

    /// \name Editing
    /// Element sources (\p src) may point into this array.
    /// \{

    /// \brief Copies \p src onto element \p index through the methods; a null \p src resets the
    ///        element to a constructed one. \throw CXInvalidArgException outside [0, GetSize()).
    void SetAt(int index, const void* src);
    /// \brief SetAt, growing the array first when \p index is beyond the end (the elements in
    ///        between are constructed). \throw CXInvalidArgException for a negative index.
    /// \return false, with nothing changed, when the memory cannot be had or without methods.
    bool SetAtGrow(int index, const void* src);
    /// \brief Appends a copy of \p src (a constructed element for null).
    /// \return the new element's index, or -1 (nothing changed) when the memory cannot be had or
    ///         without methods.
    int Add(const void* src = nullptr);
    /// \brief Inserts \p count copies of \p src (constructed elements for null) before
    ///        \p index; elements from \p index on move up.
    /// \throw CXInvalidArgException when \p index is outside [0, GetSize()] or \p count negative.
    /// \return false, with nothing changed, when the memory cannot be had or without methods.
    bool InsertAt(int index, const void* src, int count = 1);
    /// \brief Destructs \p count elements from \p index; later elements move down.
    /// \throw CXInvalidArgException when the range is not inside [0, GetSize()).
    void RemoveAt(int index, int count = 1);

    /// \brief Makes this array a copy of \p src.
    ///
    /// With \p takeMethods false the array keeps its methods: elements of the same type and
    /// size are copied with the bulk CopyElements, elements of another type one by one with
    /// the four-argument CopyElement (which converts or resets them). With \p takeMethods true
    /// (or when this array has no methods) the array adopts \p src's methods (one more holder)
    /// and copies the elements with them. Construct mode and the grow factor stay.
    /// \return false, with nothing changed, when the memory cannot be had.
    bool Copy(const CElementArray& src, bool takeMethods = false);
    /// \brief Copies element \p srcIndex of \p src onto element \p dstIndex of this array
    ///        (two-argument CopyElement for the same type, four-argument otherwise).
    /// \return false, with nothing changed, when either index is out of range.
    bool Copy(unsigned dstIndex, const CElementArray& src, unsigned srcIndex);
    /// \brief Copies elements `srcIndices[0..count)` of \p src onto the \p count elements from
    ///        \p dstFirst on, in one pass (memcpy per element for trivially copyable elements
    ///        of the same type). \p src must not be this array.
    /// \return false, with nothing changed, when a destination or source index is out of
    ///         range or \p src is this array.
    bool CopyGather(unsigned dstFirst, const CElementArray& src, const unsigned* srcIndices,
                    unsigned count);
    /// \brief Appends copies of every element of \p src (which may be this array), converting
    ///        through the four-argument CopyElement when the types differ. An array without
    ///        methods adopts \p src's.
    /// \return the index of the first appended element (the old size), or -1 (nothing changed)
    ///         when the memory cannot be had or the size would pass INT_MAX.
    int Append(const CElementArray& src);
    /// \brief Reorders the elements; every argument is checked before anything changes.
    ///
    /// - \p scatter false (gather): the new array has \p count elements, element *i* being old
    ///   element `order[i]`. \p count may differ from the size and an index may repeat (repeats
    ///   are copies made through the methods); elements no index names are destructed.
    /// - \p scatter true: old element *i* moves to position `order[i]`; \p order must be a
    ///   permutation of [0, GetSize()) with exactly GetSize() entries.
    ///
    /// Elements move with memcpy (see the relocation contract of the file).
    /// \return false, with nothing changed, for a null \p order with a non-zero count, an index
    ///         not below the size, a scatter order that is not a permutation of the right
    ///         length, or when the memory cannot be had.
    bool Reorder(const unsigned* order, unsigned count, bool scatter);
    /// \}

    /// \brief A new array of this array's runtime class that shares its methods (one more
    ///        holder), with copies of the elements when \p withElements, else empty. Keeps the
    ///        grow factor. The caller owns the result (`delete`).
    /// \return null when the runtime class cannot be created or the memory cannot be had.
    virtual CElementArray* Duplicate(bool withElements) const;
    /// \brief Checksum of the elements in order: `h = ZanMix32(i + h) + elementChecksum(i)`
    ///        from h = 0, with the methods' GetElementChecksum. 0 without methods.
    virtual uint32_t GetChecksum() const;

    /// \brief Stores or loads the array.
    ///
    /// Layout: the methods object with its class record (CXArchive::WriteObject), the element
    /// size (u32), the element tag (u32), the element count (CXArchive::WriteCount), then the
    /// elements through the methods' SerializeElements. Loading re-creates the methods object
    /// by class name and checks size and tag against it (CXArchiveException(_BadValue) on a
    /// mismatch) and the count against the remaining bytes before allocating; the loaded
    /// elements replace the array's only once all of them have been read.
    void Serialize(CXArchive& ar) override;

private:
    uint8_t* Slot(size_t index) const { return m_Data + index * m_ElementSize; }
    int CheckIndex(int index) const
    {
        if (index < 0 || index >= m_Size)
            ThrowIndex("CElementArray", index);
        return index;
    }
    [[noreturn]] void ThrowIndex(const char* where, long long index) const;

    void AttachMethods(CElementMethods* methods);
    void SwapContent(CElementArray& other) noexcept;
    int ComputeCapacity(int needed) const;
    bool ReserveRaw(int capacity);
    void ConstructAt(uint8_t* first, size_t count) const;
    void DestructAt(uint8_t* first, size_t count) const;
    void Normalize();
    bool ResizeTo(int newSize, bool constructNew);
    void ReleaseStorage();
    ptrdiff_t OffsetInBlock(const void* ptr) const;
    void CopyOne(uint8_t* dst, const void* src) const;

    uint8_t* m_Data = nullptr;            ///< the block, malloc'ed
    CElementMethods* m_Methods = nullptr; ///< one holder
    int m_Size = 0;                       ///< live elements
    int m_Capacity = 0;                   ///< slots in the block
    int m_Constructed = 0;                ///< leading slots holding constructed elements
    int m_GrowBy = -1;                    ///< grow factor, see SetGrowFactor
    unsigned m_ElementSize = 0;           ///< cached GetSizeof() of the methods
    bool m_Trivial = true;                ///< cached IsTriviallyCopyable() of the methods
    bool m_ConstructMode = false;
};
