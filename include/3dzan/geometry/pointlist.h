/// \file pointlist.h
/// \brief Point lists: CPointList, the growable list of point objects with its data chunks,
///        change stamp and flags, and the typed lists of every point type.
///
/// A point list is an element array of point objects (see points.h) stored contiguously at the
/// element size of its methods, plus a set of data chunks (datachunk.h) that stays exactly as
/// long as the list: every edit that changes the length, copies, appends or reorders the
/// points does the same to every chunk, so each point's extra data follows it.
///
/// Loops that need speed read the points through a CPointView (a pointer, a stride and a
/// count) rather than through virtual calls.
#pragma once

#include <3dzan/foundation/xarray.h>
#include <3dzan/animation/math.h>
#include <3dzan/geometry/bbox.h>
#include <3dzan/geometry/datachunk.h>
#include <3dzan/geometry/points.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

class CAssociationMap;
class CFaceList;
class CGeomInfo;
class C3DFaceList;
class C3DPointGridMap;
class C3DPointSymetryMap;
struct WeldProximityMap;
/// \brief An axis: of a symmetry plane (C3DPointList::InitSymetryMap) or of a primitive's
///        frame.
enum _AXIS_INFO : unsigned
{
    _AxisX = 0,
    _AxisY = 1,
    _AxisZ = 2
};

namespace zan_detail
{
/// \brief A cache member that copies of its owner do not take: a copy starts empty and an
///        assignment keeps the target's own cache.
template <class T> struct CNotCopied
{
    CNotCopied() = default;
    CNotCopied(const CNotCopied&) {}
    CNotCopied& operator=(const CNotCopied&) { return *this; }
    std::unique_ptr<T> m_Value;
};

/// \brief For every point, the distinct material IDs of the valid faces using it
///        (C3DPointList::InitPointMaterialGraph): point i's are
///        m_Materials[m_Offsets[i], m_Offsets[i + 1]), in increasing order.
struct CPointMaterialGraph
{
    std::vector<unsigned> m_Offsets;
    std::vector<unsigned> m_Materials;
};
} // namespace zan_detail

/// \brief Flags of a point list.
enum _POINTLIST_PROPERTIES : unsigned
{
    _PointListChanged = 0x01 ///< changed since the owner last rebuilt what depends on the list
};

/// \brief A strided view of the points of a list: element *i* is at `first + i * stride`.
///
/// Reading through the view is plain memory access with the concrete point type: no virtual
/// call, no index check. Valid until the list's size or block changes.
template <class POINT> class CPointView
{
    using Byte = std::conditional_t<std::is_const_v<POINT>, const uint8_t, uint8_t>;

public:
    CPointView() = default;
    CPointView(POINT* first, size_t stride, size_t count)
        : m_First(first), m_Stride(stride), m_Count(count)
    {
    }
    /// \brief Point \p index; \p index must be below GetCount().
    POINT& operator[](size_t index) const
    {
        return *reinterpret_cast<POINT*>(reinterpret_cast<Byte*>(m_First) + index * m_Stride);
    }
    POINT* GetFirst() const { return m_First; }
    size_t GetStride() const { return m_Stride; }
    size_t GetCount() const { return m_Count; }

private:
    POINT* m_First = nullptr;
    size_t m_Stride = 0;
    size_t m_Count = 0;
};

/// \brief Base of the point lists: an element array of points (one methods class of the
///        "PNTS" family) with data chunks, a change stamp and list flags.
///
/// *Chunks.* The data chunks always hold GetSize() elements. SetSize, PreAllocate,
/// SetGrowFactor, FreeExtra, RemoveAll, Reorder, CopyPoint, Append, operator= and Serialize
/// act on the chunks and the points alike.
///
/// *Change tracking.* The change stamp only grows: SetSize with a new count, RemoveAll, Clean,
/// Append, operator= and SetFlag(_PointListChanged, true) each add one. The changed flag is
/// set by the same operations (RemoveAll clears all list flags instead) and cleared by
/// UpdateList.
///
/// *Errors.* Indices outside the list raise CXInvalidArgException in the element accessors
/// and give false, null or 0xFFFFFFFF elsewhere. Operations that need memory report a shortage
/// by their result. Loading a malformed archive raises CXArchiveException and leaves the list
/// as it was.
///
/// The element array is a non-public base: the list keeps its chunks parallel to the points,
/// so only the element operations that cannot change the length are public. Use GetXObject
/// and FromXObject to pass a list where a CXObject is expected (archives, runtime classes).
class ZAN_API CPointList : protected CElementArray, public CInstanciatedObject
{
    ZAN_DECLARE_DYNCREATE(CPointList)

public:
    /// \brief Checksum mask bits (GetChecksum).
    static constexpr unsigned kChecksumValues = 0x01; ///< the typed list's value terms
    static constexpr unsigned kChecksumFlags = 0x02;  ///< the points' flags

    /// \brief An empty list. With \p model, the new list has the model's point type and chunk
    ///        structure (the chunks that follow copies, empty) but no points.
    explicit CPointList(CPointList* model = nullptr);
    /// \brief Copies the points, the change stamp and the list flags; the new list gets its own
    ///        copy of the chunks that follow copies.
    /// \throw std::bad_alloc when the memory for the points cannot be had.
    CPointList(const CPointList& src);
    ~CPointList() override;

    /// \name Element array operations that keep the length
    /// \{
    using CElementArray::ElementAt;
    using CElementArray::GetAllocatedSize;
    using CElementArray::GetAt;
    using CElementArray::GetChecksum;
    using CElementArray::GetCount;
    using CElementArray::GetData;
    using CElementArray::GetDataPtr;
    using CElementArray::GetGrowFactor;
    using CElementArray::GetMethods;
    using CElementArray::GetSize;
    using CElementArray::GetSizeOfElement;
    using CElementArray::GetTypeOfElement;
    using CElementArray::IsConstructMode;
    using CElementArray::IsEmpty;
    using CElementArray::IsKindOf;
    using CElementArray::SetAt;
    /// \}

    /// \brief This list as the CXObject an archive or a runtime class works with.
    CXObject* GetXObject() { return this; }
    const CXObject* GetXObject() const { return this; }
    /// \brief The point list \p object is, or null when it is null or not a point list.
    static CPointList* FromXObject(CXObject* object);

    /// \name Size and storage
    /// \{

    /// \brief Sets the number of points; chunks follow. A new count sets the changed flag and
    ///        adds one to the stamp.
    /// \throw CXInvalidArgException for a negative count.
    /// \return false, with nothing changed, when the memory cannot be had or the list has no
    ///         point type and \p newSize is not 0.
    bool SetSize(int newSize, bool keepPreAllocation = true, int growBy = -1) override;
    /// \brief Empties the list (RemoveAll), then makes room for \p count points in the list and
    ///        its chunks; with \p constructMode the points are constructed as soon as allocated.
    /// \return false when the room cannot be had.
    bool PreAllocate(int count, bool constructMode);
    /// \brief Empties the points and the chunks (the chunks stay), adds one to the stamp and
    ///        clears every list flag.
    void RemoveAll() override;
    /// \brief Releases spare room of the chunks and the points.
    void FreeExtra();
    /// \brief Sets the grow factor of the chunks and the points; returns the points' previous one.
    int SetGrowFactor(int growBy);
    /// \brief Reorders the points and their chunk values alike (see CElementArray::Reorder).
    /// \return the points' result; false changes nothing.
    bool Reorder(const unsigned* order, unsigned count, bool scatter);
    /// \}

    /// \name Points
    /// \{

    /// \brief Appends a copy of \p point (a new point for null), converted through the points'
    ///        virtual assignment when it is of another type; chunks get constructed values.
    /// \return the new point's index, or -1 (nothing changed) when memory cannot be had.
    int Add(const CPt* point = nullptr);
    /// \brief Appends copies of the points of \p src (converted when its point type differs)
    ///        with their chunk values; chunks of \p src that follow copies and this list lacks
    ///        are added first. \p src may be this list.
    /// \return the index of the first appended point, or -1 (nothing changed) when memory cannot
    ///         be had or the size would pass INT_MAX.
    int Append(const CPointList& src);
    /// \brief Copies point \p src onto point \p dst with its chunk values.
    /// \return true without effect when the indices are equal; false when either is not below
    ///         the count.
    bool CopyPoint(int dst, int src);
    /// \brief Copies point \p src of \p from onto point \p dst of this list with the values of
    ///        the chunks both lists have.
    /// \return false when \p dst is not below this count or \p src not below \p from's.
    bool CopyPoint(int dst, int src, const CPointList& from);
    /// \brief Sets (\p set true) or clears the bits of \p bits on every point.
    void SetPointsFlags(unsigned bits, bool set);
    /// \brief Number of points for which "any bit of \p mask is set" equals \p state.
    int GetNumberOfPoints(unsigned mask, bool state) const;
    /// \brief Number of points for which "every bit of \p flag is set" equals \p state.
    int GetNumberOfPoints(_POINT_PROPERTIES flag, bool state) const;
    /// \brief A view of the points as CPt objects at the list's stride.
    CPointView<CPt> GetPtView()
    {
        return {static_cast<CPt*>(GetDataPtr()), GetSizeOfElement(), size_t(GetSize())};
    }
    CPointView<const CPt> GetPtView() const
    {
        return {static_cast<const CPt*>(GetDataPtr()), GetSizeOfElement(), size_t(GetSize())};
    }
    /// \}

    /// \name List flags and change stamp
    /// \{
    unsigned GetChangedStamp() const { return m_ChangedStamp; }
    /// \brief Sets or clears \p flag; setting _PointListChanged also adds one to the stamp.
    void SetFlag(_POINTLIST_PROPERTIES flag, bool set);
    /// \brief Whether every bit of \p flag is set.
    bool IsFlagSet(_POINTLIST_PROPERTIES flag) const { return (m_Flags & flag) == unsigned(flag); }
    /// \}

    /// \name Data chunks
    /// \{

    /// \brief Adds a chunk that follows copies (flags 0x101); the list takes over the caller's
    ///        holder of \p methods. \return the number of chunks.
    unsigned AddDataChunk(unsigned id, CElementMethods* methods);
    bool RemoveDataChunk(unsigned id);
    /// \brief Adds the chunks of \p src that follow copies and this list lacks, empty (with
    ///        constructed values) or with \p src's values; nothing for null.
    void AppendDataChunks(CPointList* src, bool emptyOnly);
    /// \brief Value \p index of chunk \p id; null when absent or out of range.
    void* GetData(unsigned id, unsigned index);
    const void* GetData(unsigned id, unsigned index) const;
    /// \brief Element size of chunk \p id, 0 when absent.
    unsigned GetSizeOfData(unsigned id) const;
    unsigned GetDataChunkNbr() const;
    /// \brief The chunk set. Callers that change it keep its element count equal to GetSize(),
    ///        and fetch it again after the list changes size.
    CDataChunk& GetDataChunks() { return Chunks(); }
    const CDataChunk& GetDataChunks() const { return Chunks(); }
    /// \brief (Re)creates the chunk "POOI" and stores each point's current index in it.
    void SavePointsIndex();
    /// \brief The "POOI" value of point \p index, 0xFFFFFFFF when the chunk is absent or the
    ///        index out of range.
    unsigned GetOriginalIndex(unsigned index) const;
    /// \}

    /// \brief Removes the invalid points (flag 0x02), packing the others toward the front in
    ///        their order with their chunk values.
    ///
    /// \param faces when given, the face list whose unused points are marked invalid first
    ///        (SetInvalidPoints with keep true).
    /// \param remap when given, receives for each old index the new one (0xFFFFFFFF for removed
    ///        points); emptied and released when nothing is removed.
    /// \return true when points were removed (the changed flag is then set and the stamp grows);
    ///         false when every point is valid (nothing changes) or memory cannot be had.
    bool Clean(CFaceList* faces, CXArray<unsigned int, unsigned int>* remap);
    /// \brief Marks invalid (0x02) every point that no valid face of \p faces uses (a face is
    ///        valid when it has neither the invalid nor the excluded flag). Unless \p keep, the
    ///        flag is first cleared on every point. Indices outside this list are ignored.
    void SetInvalidPoints(const CFaceList& faces, bool keep);
    /// \brief Marks the points on the border from an edge-to-face map: first clears
    ///        _PointBorder, _PointInner and _PointNearBorder on every point; then both ends of
    ///        an edge with exactly one face get _PointBorder, both ends of any other edge
    ///        _PointInner (a point on the border of a mesh usually has both); with \p markNear,
    ///        the other end of every edge with exactly one end carrying _PointBorder gets
    ///        _PointNearBorder. Ends that are not points of this list are skipped.
    void SetBorderPointsStatus(const CAssociationMap& edges, bool markNear);
    /// \brief SetBorderPointsStatus from the edge-to-face graph of \p faces.
    /// \return false, with nothing changed, when \p faces has no edge graph.
    bool SetBorderPointsStatus(const CFaceList& faces, bool markNear);

    /// \brief A checksum of the points.
    ///
    /// With kChecksumFlags in \p mask, the base adds, over the points *i* without flag 0x02 in
    /// order, `h = ZanMix32(i + h) + 16 * flags(i)` from h = 0. With kChecksumValues a typed list
    /// computes the same sum with its value term (see each list); the result is the sum of the
    /// two (32-bit wrap-around); 0 when \p mask has neither bit.
    virtual uint32_t GetChecksum(unsigned mask) const;
    /// \brief Takes \p src's list flags and rebuilds the chunk structure from it: the chunks of
    ///        \p src that follow copies, as long as this list, with constructed values.
    virtual void Inherit(const CPointList& src);
    /// \brief Makes this list a copy of \p src: Inherit, the chunk values, the points (converted
    ///        when the point types differ); sets the changed flag and adds one to the stamp.
    /// \throw std::bad_alloc when the memory for the points cannot be had (nothing changed).
    virtual CPointList& operator=(const CPointList& src);

    /// \brief A new list of this list's class with the same point type, list flags and chunk
    ///        structure, and copies of the points and chunk values when \p withElements. The
    ///        caller holds it (Delete). Null when memory cannot be had.
    CPointList* Duplicate(bool withElements) const override;

    /// \brief Stores or loads the list: the chunks (CDataChunk::Serialize), then the element
    ///        array (CElementArray::Serialize).
    ///
    /// Loading checks that the point type is this list's (any point type for a list without
    /// one) and that the chunks are as long as the list, then replaces the content as RemoveAll
    /// would; a malformed archive raises CXArchiveException and changes nothing.
    void Serialize(CXArchive& ar) override;

protected:
    /// \brief A list of the points \p methods describes (the list takes over the caller's
    ///        holder), with \p model's chunk structure when given.
    CPointList(CPointMethods* methods, CPointList* model);
    /// \brief Whether the changed flag was set; clears it.
    virtual bool UpdateList(const CGeomInfo* info);

    /// \brief Sets the changed flag and adds one to the stamp.
    void MarkChanged();
    /// \brief The address of point \p index, unchecked.
    CPt* PointAt(size_t index) const
    {
        return reinterpret_cast<CPt*>(static_cast<uint8_t*>(const_cast<void*>(GetDataPtr())) +
                                      index * GetSizeOfElement());
    }

private:
    /// \brief The chunk set with its element count brought up to date (see m_Chunks).
    CDataChunk& Chunks() const;

    /// Never null. While the set holds no chunk, SetSize leaves its element count behind; every
    /// reader of the set goes through Chunks(), which catches up first.
    std::unique_ptr<CDataChunk> m_Chunks;
    unsigned m_ChangedStamp = 0;
    unsigned m_Flags = 0; ///< _POINTLIST_PROPERTIES
};

/// \brief Typed access shared by the typed lists: the points as \p POINT objects.
template <class POINT> class CTypedPointList : public CPointList
{
public:
    using Point = POINT;

    /// \brief Point \p index. \throw CXInvalidArgException outside [0, GetSize()).
    POINT& operator[](int index) { return *static_cast<POINT*>(CPointList::ElementAt(index)); }
    const POINT& operator[](int index) const
    {
        return *static_cast<const POINT*>(CPointList::ElementAt(index));
    }
    POINT& ElementAt(int index) { return (*this)[index]; }
    const POINT& ElementAt(int index) const { return (*this)[index]; }
    /// \brief The first point, null when the list is empty.
    POINT* GetFirst() { return IsEmpty() ? nullptr : static_cast<POINT*>(GetDataPtr()); }
    const POINT* GetFirst() const
    {
        return IsEmpty() ? nullptr : static_cast<const POINT*>(GetDataPtr());
    }
    /// \brief The point after \p previous, null after the last one or when \p previous is not a
    ///        point of this list.
    POINT* GetNext(const POINT* previous)
    {
        return const_cast<POINT*>(static_cast<const CTypedPointList&>(*this).GetNext(previous));
    }
    const POINT* GetNext(const POINT* previous) const
    {
        auto* base = static_cast<const uint8_t*>(GetDataPtr());
        auto* at = reinterpret_cast<const uint8_t*>(previous);
        size_t stride = GetSizeOfElement();
        if (!previous || !base || at < base)
            return nullptr;
        size_t offset = size_t(at - base);
        if (offset % stride != 0 || offset / stride + 1 >= size_t(GetSize()))
            return nullptr;
        return reinterpret_cast<const POINT*>(at + stride);
    }
    /// \brief The points as \p POINT objects at the list's stride: no virtual call per point.
    CPointView<POINT> GetPointView()
    {
        return {static_cast<POINT*>(GetDataPtr()), GetSizeOfElement(), size_t(GetSize())};
    }
    CPointView<const POINT> GetPointView() const
    {
        return {static_cast<const POINT*>(GetDataPtr()), GetSizeOfElement(), size_t(GetSize())};
    }

protected:
    CTypedPointList(CPointMethods* methods, CPointList* model) : CPointList(methods, model) {}
    CTypedPointList(const CTypedPointList&) = default;
    CTypedPointList& operator=(const CTypedPointList& src)
    {
        CPointList::operator=(src);
        return *this;
    }
    CPointList& operator=(const CPointList& src) override { return CPointList::operator=(src); }
};

/// The members every typed point list declares: its runtime class, the two constructors,
/// Create, the assignments and its checksum.
#define ZAN_POINT_LIST_MEMBERS(ClassName, Point)                                                   \
        ZAN_DECLARE_DYNCREATE(ClassName)                                                           \
    public:                                                                                        \
        /** An empty list, with the chunk structure of \p model when given. */                     \
        explicit ClassName(CPointList* model = nullptr);                                           \
        ClassName(const ClassName& src) = default;                                                 \
        ~ClassName() override;                                                                     \
        /** A new empty list held by the caller (Delete), shaped like \p model. */                 \
        static ClassName* Create(CPointList* model = nullptr) { return new ClassName(model); }     \
        ClassName& operator=(const ClassName& src)                                                 \
        {                                                                                          \
            CPointList::operator=(src);                                                            \
            return *this;                                                                          \
        }                                                                                          \
        CPointList& operator=(const CPointList& src) override                                      \
        {                                                                                          \
            return CPointList::operator=(src);                                                     \
        }                                                                                          \
        uint32_t GetChecksum(unsigned mask) const override;                                        \
        using CPointList::GetChecksum;

/// Declares a typed point list with the common members only.
#define ZAN_DECLARE_POINT_LIST(ClassName, Point)                                                   \
    class ZAN_API ClassName : public CTypedPointList<Point>                                        \
    {                                                                                              \
        ZAN_POINT_LIST_MEMBERS(ClassName, Point)                                                   \
    };

/// 2D points (C2DPointMethods). Checksum: the base's flags term only.
ZAN_DECLARE_POINT_LIST(C2DPointList, C2DTPoint<float>)
/// Extended 2D points of the planar algorithms (C2DPointExtMethods). Checksum: the base's
/// flags term only.
ZAN_DECLARE_POINT_LIST(C2DPointExtList, C2DPointExt)
/// \brief The points of a mesh (C3DPointMethods), with the operations that read them as
///        positions: bounding boxes, transforms and axis swaps.
///
/// Checksum value term: bits of x + bits of y + bits of z.
class ZAN_API C3DPointList : public CTypedPointList<C3DTPoint<float>>
{
    ZAN_POINT_LIST_MEMBERS(C3DPointList, C3DTPoint<float>)

    /// \brief The box of the selected points, each transformed by \p matrix first when given
    ///        (x' = m00 x + m01 y + m02 z + m03, and so on).
    ///
    /// A point is selected when \p pointFlags is 0, or when "it has any bit of \p pointFlags"
    /// equals \p flagMatch. Non-finite coordinates are left out. The box is reset first and
    /// marked valid even when nothing was selected.
    /// \return whether the box has a non-zero extent on at least one axis.
    bool GetBoundingBox(C3DTBBox<float>& box, unsigned pointFlags = 0, bool flagMatch = true,
                        const C4x4TMatrix<float>* matrix = nullptr) const;
    /// \brief The same, giving the two corners (both 0 when nothing was selected).
    bool GetBoundingBox(C3DTPoint<float>& min, C3DTPoint<float>& max, unsigned pointFlags = 0,
                        bool flagMatch = true, const C4x4TMatrix<float>* matrix = nullptr) const;
    /// \brief The centre of the box of all points; the origin for an empty list.
    C3DTPoint<float> GetCenterOfBoundingBox() const;
    /// \brief Transforms every point by \p matrix (translation in the last column).
    /// \return false, with nothing changed, when every element of \p matrix is within 0.005 of
    ///         the identity's.
    bool MatrixTransform(const C4x4TMatrix<float>& matrix);
    /// \brief Moves every point by \p offset. Unlike MatrixTransform there is no tolerance:
    ///        any move, however small, is applied (pivot moves need this).
    /// \return false, with nothing changed, for a zero or non-finite offset or an empty list.
    bool Translate(const C3DTVector<float>& offset);
    /// \brief Exchanges and negates axes of every point as the swap code \p mode says
    ///        (see GetXYZSwap). \return false, with nothing changed, for a code it rejects.
    bool SwapCoordinates(unsigned mode);
    /// \brief The unit normal of the triangle of the three points \p indices names, by the
    ///        right-hand rule (counter-clockwise seen from the normal's tip).
    /// \return false, with \p normal untouched, for a null list, an index outside the list or a
    ///         degenerate triangle.
    bool GetNormal(const int* indices, C3DTVector<float>& normal) const;

    /// \name Spatial maps (declared with their classes in processing/spatialmaps.h)
    /// \{
    /// \brief A new weld map (grid of InitGridCoordMap and an empty candidate array), held by
    ///        the caller (DeleteWeldMap). Null for an empty list, a negative or non-finite
    ///        tolerance, or a memory shortage.
    WeldProximityMap* InitWeldMap(double tolerance, bool absolute) const;
    /// \brief Releases a weld map; nothing for null.
    static void DeleteWeldMap(WeldProximityMap* map);
    /// \brief The candidate neighbours of point \p index: every other point of the 27 cells
    ///        around its cell, cells visited for k = 0..26 with dx = k / 9 - 1,
    ///        dy = (k / 3) mod 3 - 1, dz = k mod 3 - 1. No distance test is made.
    /// \return the map's array (valid until the next query) and \p count; null and 0 for an
    ///         index outside the list, a null map or a map made for another point count.
    const int* Get3DProximityPoints(int index, WeldProximityMap* map, int& count) const;
    /// \brief A point grid of the list (GetGridCoordMap without shift), held by the caller.
    C3DPointGridMap* InitGridCoordMap(double tolerance, bool absolute) const;
    /// \brief The map of every point to its mirror image across the plane through the centre
    ///        of the points' box perpendicular to \p axis, within (extent / 20) × \p tolerance;
    ///        held by the caller (Delete). Empty for an extent below 1e-15; null for an axis
    ///        above 2, a negative or non-finite tolerance or a memory shortage.
    C3DPointSymetryMap* InitSymetryMap(_AXIS_INFO axis, double tolerance) const;
    /// \brief Builds the point-material graph from the material IDs of the valid faces of
    ///        \p faces (indices outside the list are left out), replacing an older one.
    /// \return false, with no graph, for an empty face list or a memory shortage.
    bool InitPointMaterialGraph(const C3DFaceList& faces);
    /// \brief Drops the point-material graph.
    void DeletePointMaterialGraph();
    /// \brief Gives point flag 0x20000 to every point whose faces (two or more) all lie
    ///        within \p angle radians (0: 1e-4 degree) of the first one's normal, and clears it
    ///        on the others (points of no face or of one face, points on a crease).
    /// \return false, nothing changed, without a face list or when the point-to-face graph
    ///         cannot be built.
    bool InitShareCoplanarFacesFlag(const CGeomInfo* geom, double angle);
    /// \brief Gives point flag 0x40000 to every point whose faces use more than one material
    ///        and clears it on the others. \return false, nothing changed, without a graph or
    ///        when the graph was made for another point count.
    bool InitShareSeveralMaterialsFlag();
    /// \brief The distinct materials of point \p point (increasing) and their count; null and
    ///        0 without a graph or outside it.
    const unsigned* GetMaterialsConnectedToPoint(int point, int& count) const;
    /// \brief Their count; 0 without a graph or outside it.
    int GetNumberOfMaterialsConnectedToPoint(int point) const;
    /// \}

protected:
    /// \brief A point grid of the list, held by the caller (delete). The origin is the centre
    ///        of the points' box; the cell size is the box diagonal × 1.5 / 2147483647 for a
    ///        \p tolerance of 0 (only coincident points share cells), the converted distance
    ///        (C3DPointGridMap::GetAbsoluteDistance) for a relative one, the tolerance itself
    ///        for an absolute one; with \p shifted the origin moves by a quarter of the size.
    /// \return null for an empty list, a negative or non-finite tolerance or a shortage.
    C3DPointGridMap* GetGridCoordMap(double tolerance, bool absolute, bool shifted) const;

private:
    zan_detail::CNotCopied<zan_detail::CPointMaterialGraph> m_MaterialGraph;
};
/// 3D vectors, such as normals (C3DVectorMethods). Value term: bits of x + y + z.
ZAN_DECLARE_POINT_LIST(C3DVectorList, C3DTVector<float>)
/// Texture coordinates (CUVWPointMethods). Value term: bits of u + bits of v + bits of w.
ZAN_DECLARE_POINT_LIST(CUVWPointList, CUVWPoint)
/// Vertex colours (CVCPointMethods). Value term: 16 × (red + green + blue + alpha).
ZAN_DECLARE_POINT_LIST(CVCPointList, CVCPoint)
/// Weights (CWeightPointMethods). Value term: bits of the weight.
ZAN_DECLARE_POINT_LIST(CWeightPointList, CWeightPoint)

#undef ZAN_DECLARE_POINT_LIST
#undef ZAN_POINT_LIST_MEMBERS
