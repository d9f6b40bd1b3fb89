/// \file spatialmaps.h
/// \brief Spatial maps of points and faces: the point grid (C3DPointGridMap) that welding and
///        symmetry detection query, the weld map (WeldProximityMap), the symmetry map
///        (C3DPointSymetryMap), the face grid (C3DFaceGridMap) of nearest-face queries, and
///        the weld remap shared by C3DGeomObject::Weld3DPoints and its callers.
///
/// *Point grid.* A hash map from an integer cell (x, y, z) to the indices of the points in
/// it. Cells are computed from the grid origin and three steps by truncation towards zero in
/// double precision, so the cells touching an origin plane on both sides share index 0 and
/// are twice as wide as the others. Only occupied cells are stored: memory follows the
/// number of occupied cells, not the extent of the model.
///
/// *Ownership.* Point grids, weld maps and symmetry maps belong to whoever asked for them
/// (a grid or weld map is released with delete or C3DPointList::DeleteWeldMap, a symmetry map
/// with Delete). A face grid obtained from C3DFaceList::GetFaceGridMap belongs to the face
/// list; one made with C3DFaceGridMap::Create belongs to the caller.
#pragma once

#include <3dzan/foundation/hashmap.h>
#include <3dzan/foundation/xobject.h>
#include <3dzan/geometry/bbox.h>
#include <3dzan/geometry/points.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/geometry/topology.h>

#include <cstdint>
#include <memory>
#include <vector>

class CFaceList;
class CGeomInfo;
class CProgressTask;


/// \brief Mode bits of a weld filter pair (C3DGeomObject::Weld3DPoints).
enum _WELD_FILTER_MODE : unsigned
{
    _WeldRefuseCandidateWithFlag = 0x1,    ///< a point with a flag of the mask is never welded
    _WeldRefuseCandidateWithoutFlag = 0x2, ///< a point with no flag of the mask is never welded
    _WeldSkipSourceWithFlag = 0x4,    ///< a point with a flag of the mask attracts no other
    _WeldSkipSourceWithoutFlag = 0x8  ///< a point with no flag of the mask attracts no other
};

/// \brief One (point-flag mask, mode) filter pair of a weld. A pair with a zero mask or a
///        zero mode does not count.
struct ZAN_API CWeldFilter
{
    unsigned m_Mask = 0;
    unsigned m_Mode = 0;
};

/// \brief A spatial hash of points: integer cells to the indices of the points inside.
///
/// Buckets hold the cell key, a value (the cell's rank in order of first insertion) and a
/// state; collisions probe quadratically from the home bucket. The table starts at
/// NextPrime(2 × expected entries), at least 101 buckets, and grows when half of its buckets
/// are used to NextPrime(min(6 × entries, 2 × buckets)), at least 101.
class ZAN_API C3DPointGridMap
{
public:
    /// \brief An empty grid at \p origin. The step along x is \p sizeX / 2; along y and z
    ///        half their size, or the x step when their size is 0; a step that ends up 0 (or
    ///        is not finite) becomes 1.0.
    /// \param expected the number of cells expected, which sizes the table.
    C3DPointGridMap(const C3DTPoint<float>& origin, double sizeX, double sizeY = 0.0,
                    double sizeZ = 0.0, unsigned expected = 0);
    C3DPointGridMap(const C3DPointGridMap&) = delete;
    C3DPointGridMap& operator=(const C3DPointGridMap&) = delete;
    ~C3DPointGridMap();

    /// \brief The absolute distance of a relative tolerance \p relative against \p box: the
    ///        smallest extent above 1e-6 times \p relative (0 when none is), at least 1e-6.
    static double GetAbsoluteDistance(double relative, const C3DTBBox<float>& box);
    /// \brief sqrt(3) × 2 × GetAbsoluteDistance: the diagonal of a cube of twice the distance.
    static double GetMaxDistance(double relative, const C3DTBBox<float>& box);

    /// \brief The cell of (\p x, \p y, \p z): trunc((v - origin) / step) per axis in double,
    ///        clamped to [-2^31 + 2, 2^31 - 2] so that neighbour cells never overflow; a
    ///        non-finite coordinate gives the lowest cell.
    void GetCell(double x, double y, double z, int cell[3]) const;
    void GetCell(const C3DTPoint<float>& point, int cell[3]) const
    {
        GetCell(point.m_X, point.m_Y, point.m_Z, cell);
    }
    /// \brief The bucket of cell (\p x, \p y, \p z) in a table of \p bucketCount buckets:
    ///        (mix(mix(y) + x) + z) mod \p bucketCount with Thomas Wang's 32-bit mix, the
    ///        inner one shifting the signed value arithmetically, the outer one logically.
    static unsigned GetBucket(int x, int y, int z, unsigned bucketCount);

    /// \brief Fills the grid with the points of \p points: each cell receives its points in
    ///        increasing index order. Replaces what the grid held.
    /// \return false, with the grid emptied, when memory cannot be had.
    bool AddPoints(const CPointView<const C3DTPoint<float>>& points);

    /// \brief The points of cell (\p x, \p y, \p z) in increasing order and their count; null
    ///        and 0 for an empty cell.
    const int* GetCellPoints(int x, int y, int z, int& count) const;
    /// \brief The rank of the cell (\p x, \p y, \p z), 0xFFFFFFFF when it holds no point.
    unsigned FindCell(int x, int y, int z) const;
    /// \brief The points of the cell of rank \p rank and their count (null and 0 outside).
    const int* GetCellPointsByRank(unsigned rank, int& count) const;
    /// \brief The key of the cell of rank \p rank; false outside.
    bool GetCellKey(unsigned rank, int cell[3]) const;
    /// \brief The rank of the cell of point \p index (as AddPoints put it), 0xFFFFFFFF when
    ///        the point was not added.
    unsigned GetPointCell(int index) const;
    /// \brief Number of occupied cells.
    unsigned GetCellNbr() const { return unsigned(m_CellKeys.size() / 3); }
    /// \brief Number of points added.
    unsigned GetPointNbr() const { return unsigned(m_PointCells.size()); }
    unsigned GetBucketNbr() const { return unsigned(m_Buckets.size()); }
    const C3DTPoint<float>& GetOrigin() const { return m_Origin; }
    /// \brief The cell step along \p axis (0, 1 or 2).
    double GetStep(int axis) const { return m_Step[axis < 0 || axis > 2 ? 0 : axis]; }

private:
    /// A bucket: the cell key and its value; the state (empty, used, deleted) is kept in the
    /// value word (kEmpty, kDeleted, else used), which keeps a bucket at 16 bytes.
    struct Bucket
    {
        int m_X;
        int m_Y;
        int m_Z;
        unsigned m_Value;
    };
    static constexpr unsigned kEmpty = 0xFFFFFFFFu;
    static constexpr unsigned kDeleted = 0xFFFFFFFEu;
    /// \brief The cell's rank, inserted (next rank) when absent; kZanNone on memory shortage.
    /// \param home the cell's bucket in the current table.
    unsigned Insert(int x, int y, int z, size_t home);
    bool Grow();

    std::vector<Bucket> m_Buckets;
    unsigned m_Used = 0;
    C3DTPoint<float> m_Origin;
    double m_Step[3] = {1.0, 1.0, 1.0};
    std::vector<int> m_CellKeys;        ///< x, y, z of every cell, by rank
    std::vector<unsigned> m_CellStart;  ///< first entry of each cell in m_CellPoints, + end
    std::vector<int> m_CellPoints;      ///< point indices grouped by cell
    std::vector<unsigned> m_PointCells; ///< rank of each point's cell
};

/// \brief The map of a weld: the point grid of the list and an array of candidates reused by
///        every query (C3DPointList::Get3DProximityPoints).
struct ZAN_API WeldProximityMap
{
    std::vector<int> m_Candidates;      ///< reused; capacity starts at 512, doubles when full
    std::unique_ptr<C3DPointGridMap> m_Grid;
};

/// \brief Which mirror an edge has (C3DPointSymetryMap::GetSymetricEdge).
enum SymetricEdgeInfo : unsigned
{
    _SymetricEdgeNone = 0,     ///< an end has no mirror point
    _SymetricEdgePoints = 1,   ///< both ends have mirrors, but no face has the mirror edge
    _SymetricEdgeFound = 2,    ///< the mirror edge is a side of a face (or none was asked)
    _SymetricEdgeOnPlane = 3   ///< the edge is its own mirror
};

/// \brief Point index to the index of its mirror image across a plane, and back.
///
/// The foundation has no dedicated integer map, so the map is the foundation's hash map of
/// int to int; it is shared by holder count (release with Delete).
class ZAN_API C3DPointSymetryMap : public CHashMap<int, int, int>, public CInstanciatedObject
{
public:
    C3DPointSymetryMap() : CHashMap<int, int, int>(101) {}
    /// \brief The mirror of point \p point, -1 when it has none.
    int GetSymetricPoint(int point) const;
    /// \brief The mirror of \p edge into \p result.
    /// \param faces when not null and \p checkFaces, the mirror edge must be a side of one of
    ///        its faces (read from the corners, no graph needed) to count as found.
    SymetricEdgeInfo GetSymetricEdge(const CFaceList* faces, const C3DEdge& edge,
                                     C3DEdge& result, bool checkFaces) const;
};

/// \brief A uniform grid over the points of a triangular face list, listing for each cell the
///        triangles that reach into it (their bounding boxes overlap the cell), for nearest
///        face queries.
///
/// The box of the points is enlarged by 2 percent of its diagonal on every side and then by
/// diagonal / face count. Cell counts per axis aim at about one face per cell (see Create).
/// Positions are copied into the grid in double precision, so queries read no list.
class ZAN_API C3DFaceGridMap
{
public:
    /// \brief A grid of the valid faces (without _FaceInvalid or _FaceExcluded) of \p faces
    ///        over \p points; held by the caller (delete).
    /// \return null for a face list that is not all triangles, no valid face, an index
    ///         outside \p points, a non-finite coordinate or a memory shortage.
    static std::unique_ptr<C3DFaceGridMap> Create(const CFaceList& faces,
                                                  const C3DPointList& points);
    ~C3DFaceGridMap();

    /// \brief The face at the smallest distance from (\p x, \p y, \p z), not beyond
    ///        \p maxDistance; its distance goes to \p distance.
    /// \param inspected when not null, receives the number of cells visited.
    /// \return the face index, or -1 (\p distance then infinite) when no face is that close.
    /// \param tested when not null, receives the number of exact triangle distances taken.
    /// \param hint a face (face list index) likely to be close, such as the answer for a
    ///        previous nearby point, measured first so that the search prunes more; -1 for none.
    int GetClosestFace(const double point[3], double& distance, double maxDistance,
                       unsigned* inspected = nullptr, unsigned* tested = nullptr,
                       int hint = -1) const;
    /// \brief The exact distance from \p p to the triangle (\p a, \p b, \p c), degenerate
    ///        triangles included (then the distance to the nearest side or point).
    static double GetDistanceToTriangle(const double p[3], const double a[3], const double b[3],
                                        const double c[3]);
    /// \brief Cell counts per axis.
    int GetCellCount(int axis) const { return m_Count[axis < 0 || axis > 2 ? 0 : axis]; }
    unsigned GetFaceNbr() const { return unsigned(m_FaceIndex.size()); }
    /// \brief The face list's change stamp when the grid was made (set by the owner).
    unsigned m_FaceStamp = 0;
    unsigned m_PointStamp = 0;
    const void* m_PointList = nullptr;

private:
    C3DFaceGridMap() = default;
    void CellOf(const double p[3], int cell[3]) const;
    double DistanceToCellRing(const double p[3], const int center[3], int ring) const;
    double CellDistance2(const double p[3], int x, int y, int z) const;

    double m_Min[3] = {0, 0, 0};
    double m_Step[3] = {1, 1, 1};
    int m_Count[3] = {1, 1, 1};
    std::vector<double> m_Corners;      ///< 9 doubles per grid face
    std::vector<float> m_Boxes;         ///< 6 floats per grid face: its box, rounded outwards
    std::vector<int> m_GridIndex;       ///< the grid face of each face list index, -1 for none
    std::vector<int> m_FaceIndex;       ///< the face list index of each grid face
    std::vector<unsigned> m_CellStart;  ///< per cell, first entry in m_CellFaces, + end
    std::vector<unsigned> m_CellFaces;  ///< grid faces per cell
};

/// \brief The weld remap of \p points: for every point, the index of the point it is welded
///        to (itself for a representative), as C3DGeomObject::Weld3DPoints computes it.
///
/// Points are visited in index order; an unmapped point represents itself and attracts the
/// candidates of its 27 neighbour cells that are unmapped, or mapped to a representative
/// strictly farther away (squared distances in single precision). Representatives never move,
/// so no chains form. Cells that no occupied cell touches are welded on their own, which gives
/// the same remap faster.
/// \param filters \p filterCount filter pairs; ignored when \p tolerance is 0 or none counts.
/// \param progress when given, receives positions and may stop the work.
/// \return false, with \p remap emptied, for an empty list, a non-finite coordinate or
///         tolerance, a negative tolerance, a memory shortage or a stop.
ZAN_API bool ComputeWeldRemap(const C3DPointList& points, double tolerance, bool absolute,
                              const CWeldFilter* filters, unsigned filterCount,
                              std::vector<int>& remap, CProgressTask* progress = nullptr);
/// \brief The same remap by the plain loop over C3DPointList::Get3DProximityPoints, without
///        the isolated-cell shortcut: the reference the fast path is checked against.
ZAN_API bool ComputeWeldRemapPlain(const C3DPointList& points, double tolerance, bool absolute,
                                   const CWeldFilter* filters, unsigned filterCount,
                                   std::vector<int>& remap);
