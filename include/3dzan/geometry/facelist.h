/// \file facelist.h
/// \brief CFaceList, the polygons of a mesh or of a channel as point indices with per-face
///        data chunks, and the typed face lists: C3DFaceList for the geometry, CUVWFaceList,
///        CVCFaceList, CWeightFaceList and CNormalFaceList for channels.
///
/// A face list keeps its faces in one CFaceStorage (one buffer for all faces) and its
/// per-face data in a CDataChunk whose main chunk "FCPR" holds each face's property word
/// (and, in a C3DFaceList, its material ID). Every chunk is exactly as long as the list.
///
/// *Point bound.* The owner of a list tells it how many points its indices may address
/// (SetPointBound). Every operation that writes indices given by a caller or read from an
/// archive checks them against that bound and against 0, and refuses out-of-range ones, so
/// that code that reads points through the indices can trust them. The one exception is the
/// index array returned by CFace::SetSize, which the caller fills and keeps in range.
///
/// *Fast path.* GetIndexes and ForEachFace read a face's indices straight from the buffer
/// (pointer and count) without a virtual call; AddFaces builds many faces in one call.
///
/// *Topology graphs.* A face list builds, on demand, a point-to-face graph (for every point
/// the faces that use it) and an edge-to-face graph (for every edge the faces that have it as
/// a side), shares each among its users by a use count and drops both when its faces change.
/// The neighbourhood queries read them; see the "Topology graphs" group of CFaceList.
#pragma once

#include <3dzan/animation/math.h>
#include <3dzan/foundation/xarray.h>
#include <3dzan/foundation/xobject.h>
#include <3dzan/geometry/faces.h>
#include <3dzan/geometry/topology.h>

#include <memory>
#include <vector>

class CGeomInfo;
class CPointList;
class CFaceTagger;
class C3DGeomObject;
class CChannel;
template <class T> class C3DTBBox;
class C3DFaceGridMap;

namespace zan_detail
{
/// \brief The face grid a face list keeps for nearest-face queries. The grid class lives
///        with the algorithms above this layer, which make it and give the release function;
///        copies of the list start without one.
struct CFaceGridHolder
{
    CFaceGridHolder() = default;
    CFaceGridHolder(const CFaceGridHolder&) {}
    CFaceGridHolder& operator=(const CFaceGridHolder&) { return *this; }
    ~CFaceGridHolder() { Reset(); }
    void Reset()
    {
        if (m_Grid && m_Release)
            m_Release(m_Grid);
        m_Grid = nullptr;
    }
    C3DFaceGridMap* m_Grid = nullptr;
    void (*m_Release)(C3DFaceGridMap*) = nullptr;
};
} // namespace zan_detail

/// \brief List-level flags of a face list.
enum _FACELIST_PROPERTIES : unsigned
{
    _FaceListPersistent = 0x100000, ///< the only list flag kept in archives
    _FaceListChanged = 0x400000     ///< the faces changed since the owner last ran UpdateList
};

/// \brief How SetSize treats storage.
enum SetSizeMode
{
    _SizeKeepSlack = 0,  ///< keep spare storage for later growth
    _SizeExact = 1,      ///< fit the storage to the faces
    _SizeKeepStorage = 2 ///< never release storage; keep the chunks' pre-allocation
};

/// \brief Base of the face lists (abstract: the face class comes from the typed lists).
///
/// Shared by holder count (CInstanciatedObject): release with Delete. Face indices given to
/// list operations are unsigned; out-of-range ones give false, null, 0 or 0xFFFFFFFF and
/// change nothing.
///
/// *Change tracking.* The stamp (GetChangedStamp) only grows. Operations that change the
/// face count, reorder, clean or empty the list set _FaceListChanged and add one to it; the
/// owner calls UpdateList after rebuilding what it derived from the faces.
///
/// operator= is virtual and takes any face list: a derived class adds
/// `using CFaceList::operator=;` beside its own copy assignment so that both stay visible.
class ZAN_API CFaceList : public CXObject, public CInstanciatedObject
{
    ZAN_DECLARE_RUNTIME_CLASS(CFaceList)

public:
    static constexpr unsigned kPropertyChunk = ZanTag("FCPR");
    static constexpr unsigned kBackFaceChunk = ZanTag("BKMT");
    static constexpr unsigned kOriginalIndexChunk = ZanTag("FAOI");
    static constexpr unsigned kMaxCorners = CFaceStorage::kMaxItems;

    /// \brief A copy: faces, chunks (each with its own arrays), stamp, flags and point bound;
    ///        no topology graphs (the copy builds its own).
    /// \throw std::bad_alloc when the memory cannot be had.
    CFaceList(const CFaceList& src);
    ~CFaceList() override;

    /// \brief A new handle of the list's face class, not yet on a face; release it with
    ///        ReleaseFace. Fill it with GetFace.
    virtual CFace* CreateFace() = 0;
    /// \brief Frees a handle made by CreateFace. Nothing for null.
    void ReleaseFace(CFace* face);

    /// \name Faces
    /// \{

    /// \brief Number of faces.
    int GetSize() const { return int(m_Faces.GetCount()); }
    /// \brief Points \p face at face \p index of this list.
    /// \return false (handle untouched) when \p index is not below the face count.
    bool GetFace(unsigned index, CFace& face);
    /// \brief The indices of face \p index and their count; null and 0 when out of range or
    ///        empty. Valid until the list changes.
    const int* GetIndexes(unsigned index, int& count) const
    {
        unsigned n;
        const int* items = m_Faces.GetItems(index, n);
        count = int(n);
        return items;
    }
    /// \brief Corner count of face \p index, 0 out of range.
    int GetFaceSize(unsigned index) const { return int(m_Faces.GetItemCount(index)); }
    /// \brief Calls `f(faceIndex, const int* indices, unsigned count)` for every face in
    ///        order, reading the buffer directly. \p f must not change the list.
    template <class F> void ForEachFace(F&& f) const
    {
        unsigned n = m_Faces.GetCount();
        for (unsigned i = 0; i < n; ++i)
            f(i, m_Faces.ItemsAt(i), m_Faces.CountAt(i));
    }
    /// \brief The storage, for reading.
    const CFaceStorage& GetStorage() const { return m_Faces; }
    /// \}

    /// \name Building
    /// \{

    /// \brief Makes room for \p faces more faces with \p corners corners in all, keeping the
    ///        faces. \return false when memory is short or the sizes are absurd.
    bool Reserve(unsigned faces, uint64_t corners);
    /// \brief Appends a face of \p count corners. Its chunk values are constructed; it gets
    ///        _FaceInvalid when it has fewer than 3 corners.
    /// \param pointCount a bound for this call in addition to the list's point bound.
    /// \return the new face's index, or 0xFFFFFFFF (nothing changed) for a count of 0 or above
    ///         65 535, a null \p indices, a negative index or one not below both bounds, or a
    ///         memory shortage.
    unsigned AddFace(const int* indices, unsigned count, unsigned pointCount = kZanNone);
    /// \brief AddFace with the points of \p points as the bound of this call.
    unsigned AddFace(const int* indices, unsigned count, const CPointList& points);
    /// \brief Appends \p faceCount faces of \p cornersPerFace corners each, read in order
    ///        from \p indices (checked as in AddFace, all before anything changes).
    /// \return false, with nothing changed, when any face would be refused.
    bool AddFaces(const int* indices, unsigned faceCount, unsigned cornersPerFace,
                  unsigned pointCount = kZanNone);
    /// \brief Appends \p faceCount faces whose corner counts are \p counts, the indices read in
    ///        order from \p indices (checked as in AddFace).
    bool AddFaces(const int* indices, const unsigned* counts, unsigned faceCount,
                  unsigned pointCount = kZanNone);
    /// \brief Replaces the corners of face \p index by \p count indices (checked as in
    ///        AddFace, a count of 0 allowed); sets or clears _FaceInvalid by the count.
    bool SetFaceIndexes(unsigned index, const int* indices, unsigned count);
    /// \}

    /// \name Point bound
    /// \{

    /// \brief Indices must be below \p pointCount from now on (0xFFFFFFFF: no bound beyond
    ///        the non-negative int range).
    /// \return false, with the bound unchanged, when a face already holds an index that is
    ///         not below \p pointCount.
    bool SetPointBound(unsigned pointCount);
    /// \brief SetPointBound with the point count of \p points, the list the indices address.
    bool SetPointBound(const CPointList& points);
    unsigned GetPointBound() const { return m_PointBound; }
    /// \brief The first face with an index that is negative or not below \p pointCount, or
    ///        0xFFFFFFFF when there is none.
    unsigned FindIndexOutside(unsigned pointCount) const;
    /// \}

    /// \name Sizing
    /// Each sets _FaceListChanged and adds one to the stamp when the face count changes, and
    /// sizes the chunks to the new count with constructed values for new faces. New faces
    /// with fewer than 3 corners get _FaceInvalid. Corners created by sizing hold index 0.
    /// Each returns false, with nothing changed, for a negative count, a corner count above
    /// 65 535, new corners under a point bound of 0, or a memory shortage.
    /// \{

    /// \brief Resizes to \p count faces; new faces get \p itemsPerFace corners (0: the
    ///        storage's default, 3).
    bool SetSize(int count, int itemsPerFace = 0, SetSizeMode mode = _SizeKeepSlack,
                 int growBy = -1);
    bool SetSize(int count, SetSizeMode mode, int itemsPerFace)
    {
        return SetSize(count, itemsPerFace, mode, -1);
    }
    /// \brief Empties the list, then creates \p count faces of `counts[i]` corners (every
    ///        face \p itemsPerFace corners when \p counts is null, 0 meaning the default).
    bool SetSize(int count, const unsigned* counts, int itemsPerFace = 0, int growBy = -1);
    /// \brief Empties the list and copies the faces of \p model (indices only, checked against
    ///        the point bound); the chunks get constructed values.
    bool SetSize(const CFaceList& model, int growBy = -1);
    /// \brief Gives every face exactly \p count corners; sets _FaceInvalid when \p count < 3
    ///        and clears it otherwise.
    bool SetFacesSize(unsigned count);
    /// \brief SetSize(model), then ORs \p flags into every face.
    bool SetSizeAndFlags(const CFaceList& model, unsigned flags);
    /// \brief SetSize(count) with 4 corners per new face, then ORs \p flags into the faces
    ///        added.
    bool SetSizeAndFlags(int count, unsigned flags);
    /// \brief Appends copies of the faces of \p other (indices unchanged, checked against the
    ///        point bound); the chunks grow with constructed values.
    bool ExpandSize(const CFaceList& other);
    /// \brief ExpandSize, then ORs \p flags into the appended faces.
    bool ExpandSizeAndFlags(const CFaceList& other, unsigned flags);
    /// \brief Empties the list and makes room for \p faces faces of \p itemsPerFace corners;
    ///        the chunks pre-allocate \p faces elements (constructed ahead with
    ///        \p constructMode).
    bool PreAllocate(int faces, int itemsPerFace, bool constructMode);
    /// \brief Compacts the storage and releases spare room of the storage and the chunks.
    void FreeExtra();
    /// \brief Deletes the topology graphs, empties the list (chunks kept, without elements),
    ///        clears the list flags, then sets _FaceListChanged and adds one to the stamp.
    virtual void RemoveAll();
    /// \}

    /// \name Copies
    /// \{

    /// \brief Copies the chunk values of face \p src of \p from onto face \p dst, then, unless
    ///        \p dataOnly, its corners.
    /// \return false, with nothing changed, when a face is out of range, the source face is
    ///         empty, its indices break the point bound, or memory is short.
    bool CopyFace(unsigned dst, unsigned src, const CFaceList& from, bool dataOnly = false);
    bool CopyFace(unsigned dst, unsigned src, bool dataOnly = false)
    {
        return CopyFace(dst, src, *this, dataOnly);
    }
    /// \brief The same from the face a handle names.
    bool CopyFace(unsigned dst, const CFace& src, bool dataOnly = false);
    /// \brief Copies the chunk values of faces `srcFaces[0..count)` of \p from onto faces
    ///        \p dstFirst onward (as CopyFace with \p dataOnly, in one pass per chunk).
    /// \return false, with nothing changed, when a face is out of range or \p from is this
    ///         list.
    bool CopyFacesData(unsigned dstFirst, const CFaceList& from, const unsigned* srcFaces,
                       unsigned count);
    /// \brief Copies face \p index (corners and chunk values) into \p face, which first takes
    ///        this list's chunk structure.
    bool CopyTo(int index, CSingleFace& face) const;
    /// \brief Copies a held face back onto face \p index (chunks both have).
    bool CopyFrom(int index, const CSingleFace& face);
    /// \brief Makes this list a copy of \p src: its chunk structure (Inherit), chunk values,
    ///        faces, flags and point bound; deletes the topology graphs, sets _FaceListChanged
    ///        and adds one to the stamp.
    ///        Nothing changes when memory is short.
    virtual CFaceList& operator=(const CFaceList& src);
    /// \brief Takes the chunk structure of \p src (chunks that follow copies, emptied to this
    ///        list's count with constructed values); this list's property chunk is kept.
    virtual void Inherit(const CFaceList& src);
    /// \}

    /// \name Face flags
    /// \{
    unsigned GetFaceFlags(unsigned index) const
    {
        const unsigned* property = PropertyAt(index);
        return property ? *property : 0;
    }
    void SetFaceFlag(unsigned index, _FACE_PROPERTIES flag, bool set)
    {
        SetFaceFlags(index, unsigned(flag), set);
    }
    void SetFaceFlags(unsigned index, unsigned flags, bool set);
    /// \brief Whether face \p index has every bit of \p flag.
    bool IsFaceFlagSet(unsigned index, _FACE_PROPERTIES flag) const
    {
        return IsFaceFlagsSet(index, unsigned(flag));
    }
    bool IsFaceFlagsSet(unsigned index, unsigned flags) const
    {
        return (GetFaceFlags(index) & flags) == flags;
    }
    /// \brief Whether face \p index has any bit of \p flags.
    bool IsFaceOneFlagSet(unsigned index, unsigned flags) const
    {
        return (GetFaceFlags(index) & flags) != 0;
    }
    /// \brief Sets or clears \p flags on every face.
    void SetFacesFlags(unsigned flags, bool set);
    /// \brief Sets or clears \p flags on faces first <= i < min(last, count).
    void SetFacesFlags(unsigned first, unsigned last, unsigned flags, bool set);
    /// \brief Faces where "any bit of \p mask is set" equals \p state.
    unsigned GetNumberOfFaces(unsigned mask, bool state) const;
    /// \brief Faces where "every bit of \p flag is set" equals \p state.
    unsigned GetNumberOfFaces(_FACE_PROPERTIES flag, bool state) const;
    /// \brief For each face: when face i of \p src has every bit of \p test, ORs \p set into
    ///        face i; otherwise clears \p set unless \p keep.
    /// \return false, with nothing changed, when the face counts differ.
    bool InheritFlags(const CFaceList& src, _FACE_PROPERTIES test, _FACE_PROPERTIES set, bool keep);
    /// \brief False as soon as a face without _FaceInvalid, whose every-bit test of \p flags
    ///        equals \p state, has more than 3 corners.
    bool IsTriangular(_FACE_PROPERTIES flags, bool state) const;
    /// \}

    /// \name Editing
    /// \{

    /// \brief Reverses every face without _FaceInvalid or _FaceExcluded.
    void FlipNormals();
    /// \brief Every index v below \p count becomes `remap[v]` unless that equals v or is
    ///        0xFFFFFFFF; faces with _FaceInvalid or _FaceExcluded are skipped when
    ///        \p skipExcluded.
    /// \return whether an index changed; false, with nothing changed, for a null or empty
    ///         remap or one with an entry (other than 0xFFFFFFFF or its own position) outside
    ///         the point bound.
    bool UpdateIndex(const unsigned* remap, unsigned count, bool skipExcluded);
    bool UpdateIndex(const CXArray<unsigned int, unsigned int>* remap, bool skipExcluded);
    /// \brief Reorders the faces and their chunk values: without \p inverse, the face that
    ///        ends at position i is old face `order[i]`; with \p inverse, old face i ends at
    ///        position `order[i]`.
    /// \return false, with nothing changed, when \p count is 0 or not the face count, or
    ///         \p order is not a permutation.
    bool ReorderFaces(const unsigned* order, unsigned count, bool inverse);
    /// \brief (Re)creates the chunk "FAOI" holding each face's current index.
    void SaveFacesIndex();
    /// \brief The "FAOI" value of face \p index, 0xFFFFFFFF without the chunk or out of range.
    unsigned GetOriginalIndex(unsigned index) const;
    /// \brief Removes repeated corners: a triangle with two equal indices gets _FaceInvalid;
    ///        a larger face loses each corner equal to the next or the one after, down to 3
    ///        corners (below that it gets _FaceInvalid). Faces with _FaceInvalid or
    ///        _FaceExcluded are skipped.
    ///
    /// \p channels are face lists kept parallel to this one (channel faces): the same face
    /// of each gets _FaceInvalid | _FaceExcluded where this one becomes invalid, and loses
    /// the same corner positions while it is valid and long enough.
    /// \return whether anything changed.
    bool CleanPointsIndex(CFaceList* const* channels = nullptr, unsigned channelCount = 0);
    /// \brief Removes the faces with _FaceInvalid, keeping the order of the others (their
    ///        chunk values follow), after CleanPointsIndex when \p cleanPoints.
    /// \param remap when given and faces are removed: one entry per old face, its new index
    ///        or 0xFFFFFFFF.
    /// \return whether faces were removed; when all are valid nothing is removed (the stamp
    ///         only moves when CleanPointsIndex changed corners).
    bool Clean(bool cleanPoints, CXArray<unsigned int, unsigned int>* remap,
               CFaceList* const* channels = nullptr, unsigned channelCount = 0);
    /// \brief CleanPointsIndex with, as parallel lists, the face lists of \p geom's source
    ///        channels that have one and lack _ChannelNoFaceEdit. Nothing for a null \p geom.
    bool CleanPointsIndex(const CGeomInfo* geom);
    /// \brief Clean with the channel faces of \p geom (as CleanPointsIndex(geom) picks them).
    bool Clean(const CGeomInfo* geom, bool cleanPoints, CXArray<unsigned int, unsigned int>* remap);
    /// \brief Cleans a whole geometry: this list, \p geom's source points and its channels.
    ///
    /// Removes repeated corners and invalid faces (Clean(geom, true, faceRemap)), then the
    /// points of \p geom's source point list that no valid face uses (CPointList::Clean), then
    /// renumbers the faces without _FaceInvalid or _FaceExcluded (excluded faces keep their
    /// indices, which may then name other points or none: they are left out of the geometry),
    /// then brings the channels in step (CDependentChannels::CleanChannels with both remaps).
    /// \return whether anything changed.
    bool Clean(const CGeomInfo* geom);
    /// \}

    /// \name Data chunks
    /// \{

    /// \brief Adds a chunk of constructed elements, replacing one of the same id (flags 0x101;
    ///        0x103 for "FCPR", whose new elements keep each face's flags word). The list
    ///        takes over the caller's holder of \p methods.
    /// \return the chunk count, or 0 (methods released, nothing changed) for null methods or
    ///         "FCPR" methods that are not face properties of this list's size at least.
    unsigned AddDataChunk(unsigned id, CElementMethods* methods);
    /// \brief Deletes a chunk; false when absent and for "FCPR", which every list keeps.
    bool RemoveDataChunk(unsigned id);
    /// \brief Adds the chunks of \p src that follow copies and this list lacks, empty or with
    ///        \p src's values (cut or padded to this list's count). Nothing for null.
    void AppendDataChunks(const CFaceList* src, bool emptyOnly);
    /// \brief Element \p index of chunk \p id, null when absent or out of range.
    void* GetData(unsigned id, unsigned index) { return m_Chunks->GetData(id, index); }
    const void* GetData(unsigned id, unsigned index) const
    {
        return std::as_const(*m_Chunks).GetData(id, index);
    }
    unsigned GetSizeOfData(unsigned id) const { return m_Chunks->GetSizeOfDataChunk(id); }
    unsigned GetDataChunkNbr() const { return m_Chunks->GetChunksNbr(); }
    const CDataChunk& GetDataChunks() const { return *m_Chunks; }
    /// \brief The "FCPR" element of face \p index, null without one.
    void* GetMainData(unsigned index) { return m_Chunks->GetMainData(index); }
    const void* GetMainData(unsigned index) const
    {
        return std::as_const(*m_Chunks).GetMainData(index);
    }
    /// \}

    /// \name List state
    /// \{
    /// \brief Sets or clears list flags; setting _FaceListChanged also adds one to the stamp.
    void SetFlag(_FACELIST_PROPERTIES flag, bool set);
    bool IsFlagSet(_FACELIST_PROPERTIES flag) const { return (m_Flags & flag) == unsigned(flag); }
    unsigned GetFlags() const { return m_Flags; }
    unsigned GetChangedStamp() const { return m_Stamp; }
    /// \}

    /// \name Topology graphs
    ///
    /// *Point-to-face graph.* One record per point (GetFacesConnectedToPoint): the faces
    /// without _FaceInvalid or _FaceExcluded that use the point, each once, in increasing
    /// order. It is built for the points of the source point list of the context given; with
    /// no context or no point list there, for the point bound when one is set (see
    /// SetPointBound), else for the highest index used plus one. A bound far beyond what the
    /// faces use (more records past the highest index than the larger of 1024 and the faces'
    /// corner count) counts as no bound, so that an absurd bound cannot make the graph huge.
    /// Without a point list, a highest index above 16 times the corner count plus 1024 makes
    /// the build fail (false): indices that sparse need their point list in the context.
    /// Corners whose index has no record are left out.
    ///
    /// *Edge-to-face graph* (GetEdgeGraph). For every side (p[i], p[i+1 mod n]) of every face
    /// without _FaceInvalid or _FaceExcluded, the edge, smaller point first, lists the face
    /// (once, however often the face uses that side). A side whose two ends are the same
    /// point is no edge and is left out.
    ///
    /// *Sharing.* Init builds a graph, or only adds a user when it exists; Delete removes a
    /// user and frees the graph with the last. Both graphs are dropped by UpdateList when the
    /// faces changed (_FaceListChanged), by RemoveAll, operator= and loading; a copy of a list
    /// has no graphs. Edits that do not set _FaceListChanged (corner edits through CFace,
    /// flags) leave the graphs as they are: use the Graph... maintenance calls or the
    /// Update... rebuilds to keep them right.
    ///
    /// *Queries.* Without the graph they need, queries return null, 0 or false; they never
    /// build it. Out-of-range indices give empty results. "Faces across a side" means, as in
    /// GetFacesConnectedToPoints with _ConnectionIntersection, the faces that hold both ends
    /// of the side: in a mesh where no face holds two points without the side between them,
    /// the faces sharing that side. Queries that fill a caller's set add to it (after emptying
    /// it when \p empty) and return how many indices they added; the CFaceGraphHelper forms
    /// run the same query into the helper's emptied set and return the helper's array (null
    /// when empty) with the count, the members in table order.
    /// \{

    /// \brief Builds the point-to-face graph, or adds a user when it exists (after UpdateList,
    ///        which drops a stale one).
    /// \return false, with no graph built, when memory is short or a point would have more
    ///         than 65 535 faces.
    bool InitPointToFaceGraph(const CGeomInfo* geom = nullptr);
    /// \brief Removes a user of the point-to-face graph; the last one frees it.
    void DeletePointToFaceGraph();
    /// \brief Rebuilds the point-to-face graph from the current faces, keeping its users.
    /// \return false when there is no graph (nothing built) or the rebuild failed (graph kept).
    bool UpdatePointToFaceGraph(const CGeomInfo* geom = nullptr);
    bool HasPointToFaceGraph() const { return m_PointGraph != nullptr; }
    /// \brief The point-to-face graph, null without one.
    const CFaceStorage* GetPointToFaceGraph() const { return m_PointGraph.get(); }

    /// \brief Builds the edge-to-face graph, or adds a user when it exists.
    /// \return false, with no graph built, when memory is short or an edge would have more
    ///         than 65 535 faces.
    bool InitEdgeToFaceGraph(const CGeomInfo* geom = nullptr);
    /// \brief Removes a user of the edge-to-face graph; the last one frees it.
    void DeleteEdgeToFaceGraph();
    /// \brief Rebuilds the edge-to-face graph from the current faces, keeping its users.
    /// \return false when there is no graph or the rebuild failed (graph kept).
    bool UpdateEdgeToFaceGraph(const CGeomInfo* geom = nullptr);
    /// \brief The edge-to-face graph, null without one.
    const CAssociationMap* GetEdgeGraph() const { return m_EdgeGraph.get(); }

    /// \brief The faces using point \p point (increasing) and their count; null and 0 without
    ///        a point-to-face graph or for a point it has no record of.
    const int* GetFacesConnectedToPoint(int point, int& count) const;
    /// \brief The faces having \p edge as a side (either orientation) and their count, from
    ///        the edge-to-face graph; null and 0 without it or for an unknown edge.
    const int* GetFacesConnectedToEdge(const C3DEdge& edge, int& count) const;

    /// \brief Adds \p face to the record of \p point in the point-to-face graph.
    /// \return false, with nothing changed, when it is already there, there is no graph, an
    ///         index is out of range or the record is full (65 535 faces).
    bool GraphConnectFace(int point, int face);
    /// \brief Removes \p face from the record of \p point; false when it was not there.
    bool GraphDisconnectFace(int point, int face);
    /// \brief Takes face \p face out of both graphs (as far as they exist): from the records of
    ///        its points and from the faces of its sides, read from its current corners.
    ///
    /// Call it before changing the face's corners; with the face then marked _FaceInvalid or
    /// _FaceExcluded the graphs are what a rebuild would give.
    /// \param markPoints when true and \p geom has a source point list, every point of the face
    ///        left with no face gets _PointInvalid.
    /// \return whether a reference was removed.
    bool GraphRemoveFaceReference(CGeomInfo* geom, int face, bool markPoints);
    /// \brief Prepares both graphs for point \p drop being merged into \p keep.
    ///
    /// The record of \p keep becomes the union of both records and that of \p drop empties;
    /// in the edge graph every side of those faces that touches \p drop is moved to the edge
    /// it becomes with \p keep in place of \p drop (a side between the two disappears). Call
    /// it before the faces' corners are renamed (CFace::ReplaceIndex, UpdateIndex): with
    /// them renamed afterwards, the graphs are what a rebuild would give.
    /// \return false, with nothing changed, when there is no point-to-face graph, a point is
    ///         out of range or \p keep would have more than 65 535 faces; true when they are
    ///         equal.
    bool GraphMergePointConnectivity(int keep, int drop);

    /// \brief The face tagging walk (see facetagger.h): groups the usable faces into
    ///        connected groups, breadth first from the lowest face not yet reached, through
    ///        shared sides (\p byEdges) or shared points, asking \p tagger which neighbours
    ///        join.
    ///
    /// The tagger gets \p geom, its source point list and this list, then InitProcess. The
    /// graph the walk needs (edge-to-face or point-to-face) is built when missing, with a use
    /// count, and released at the end.
    /// \return the number of groups; 0 when the tagger refuses to start or the graph cannot be
    ///         built (nothing else is then called).
    unsigned TagFaces(CGeomInfo* geom, CFaceTagger& tagger, bool byEdges);

    /// \brief Whether no other face shares a point with face \p face: true for an empty
    ///        face; false without a point-to-face graph or out of range.
    bool IsIsolatedFace(unsigned face) const;
    /// \brief Whether a face among those of the edge's start point has two consecutive
    ///        corners forming \p edge (either orientation); only \p face is considered unless
    ///        it is 0xFFFFFFFF. False without a point-to-face graph.
    bool DoesEdgeExists(const C3DEdge& edge, unsigned face = kZanNone) const;
    /// \brief Clears _FaceBorder on every face, then gives it to every face having an edge
    ///        that no other face has (an edge of the edge-to-face graph with one face).
    /// \return the number of border faces; 0, with nothing changed, without an edge graph.
    unsigned SetBorderFacesStatus();

    /// \brief Adds to \p result the indices of lists \p a and \p b combined by \p type (see
    ///        _ConnectionInfoType). The intersection and the differences look the indices up
    ///        in the list's scratch index set.
    /// \return the number of indices added; 0 for a null list with a non-zero count, a
    ///         negative count or an unknown type.
    int GetConnectionSet(const int* a, int countA, const int* b, int countB,
                         _ConnectionInfoType type, CHashTable<int>& result) const;

    /// \brief Faces around face \p face (never \p face itself): for every side, the faces of
    ///        its two ends combined by \p type (_ConnectionUnion: the faces sharing a point
    ///        with the side; _ConnectionIntersection: the faces across the side).
    int GetFacesNeighbourg(int face, _ConnectionInfoType type, CHashTable<int>& result,
                           bool empty = true) const;
    const int* GetFacesNeighbourg(int face, _ConnectionInfoType type, CFaceGraphHelper& helper,
                                  int& count) const;
    /// \brief The faces of \p p1 and those of \p p2 combined by \p type: _ConnectionUnion
    ///        gives the faces touching either point, _ConnectionIntersection those holding
    ///        both (the faces across the side (p1, p2)).
    int GetFacesConnectedToPoints(int p1, int p2, _ConnectionInfoType type,
                                  CHashTable<int>& result, bool empty = true) const;
    const int* GetFacesConnectedToPoints(int p1, int p2, _ConnectionInfoType type,
                                         CFaceGraphHelper& helper, int& count) const;
    /// \brief The edge neighbours of \p p1 (A) and those of \p p2 (B) combined by \p type;
    ///        the edge neighbours of a point are the points joined to it by a side of one of
    ///        its faces. _ConnectionIntersection gives the points joined to both (for the
    ///        ends of a triangle side, the apexes of its triangles).
    int GetPointsConnectedToPoints(int p1, int p2, _ConnectionInfoType type,
                                   CHashTable<int>& result, bool empty = true) const;
    const int* GetPointsConnectedToPoints(int p1, int p2, _ConnectionInfoType type,
                                          CFaceGraphHelper& helper, int& count) const;
    /// \brief Points around \p point, from A = its edge neighbours and B = every other corner
    ///        of its faces, combined by \p type: _ConnectionUnion all the corners,
    ///        _ConnectionIntersection the edge neighbours, _ConnectionSecondOnly and
    ///        _ConnectionExclusive the corners joined to it by no side (the diagonal corners),
    ///        _ConnectionFirstOnly nothing (every edge neighbour is a corner). \p point itself
    ///        is never in the result.
    int GetPointsNeighbourg(int point, _ConnectionInfoType type, CHashTable<int>& result,
                            bool empty = true) const;
    const int* GetPointsNeighbourg(int point, _ConnectionInfoType type, CFaceGraphHelper& helper,
                                   int& count) const;
    /// \brief The corners of the faces across the side (\p p1, \p p2), without \p p1 and
    ///        \p p2 unless \p withEnds (for a triangle side, the apexes of its triangles).
    int GetPointsConnectedToEdge(int p1, int p2, bool withEnds, CHashTable<int>& result,
                                 bool empty = true) const;
    const int* GetPointsConnectedToEdge(int p1, int p2, bool withEnds, CFaceGraphHelper& helper,
                                        int& count) const;
    /// \brief Faces across side \p edge of face \p face (A) and across its opposite side(s)
    ///        (B), \p face left out of both, combined by \p type. The opposite of side i in a
    ///        face of n corners is side i + n/2 when n is even, and the two sides
    ///        i + (n-1)/2 and i + (n+1)/2 (those at the opposite corner) when n is odd; so
    ///        _ConnectionSecondOnly walks a quad strip one face on.
    /// \param edges when not null, emptied then given the opposite side(s) as the face has
    ///        them (from corner i to i + 1).
    /// \return 0, with \p edges untouched, when \p edge is not a side of \p face.
    int GetFacesByOppositeEdges(int face, const C3DEdge& edge, _ConnectionInfoType type,
                                CXArray<C3DEdge>* edges, CHashTable<int>& result,
                                bool empty = true) const;
    const int* GetFacesByOppositeEdges(int face, const C3DEdge& edge, _ConnectionInfoType type,
                                       CXArray<C3DEdge>* edges, CFaceGraphHelper& helper,
                                       int& count) const;
    /// \brief Whether \p p2 is an edge neighbour of \p p1; leaves the edge neighbours of \p p1
    ///        in \p helper's set.
    bool IsPointNeighbourg(CFaceGraphHelper& helper, int p1, int p2) const;
    /// \brief Whether the faces of \p faces form one piece joined through shared sides
    ///        (either orientation). Works from the faces' corners: no graph needed.
    /// \param geom the context of the call; the list reads only its own faces.
    /// \return false for an empty set or a face index out of range; true for one face.
    bool AreFacesConnected(const CGeomInfo* geom, const CHashTable<int>& faces) const;
    /// \brief The sides of the faces of \p faces that no other side in the set matches
    ///        (either orientation): the outline of the set. Each is given as its face has it
    ///        (from corner i to i + 1), so that the outline can be followed; faces in
    ///        increasing order, sides in face order. Degenerate sides are left out. No graph
    ///        needed.
    /// \return the number of sides added to \p edges; 0, with \p edges untouched, when a face
    ///         index is out of range.
    int GetEdgesOnBorder(CXArray<C3DEdge>& edges, const CHashTable<int>& faces) const;
    /// \brief GetEdgesOnBorder with the sides in \p helper's array as pairs (start, end):
    ///        \p count sides, 2 × \p count ints (helper's set left empty).
    const int* GetEdgesOnBorder(CFaceGraphHelper& helper, const CHashTable<int>& faces,
                                int& count) const;
    /// \}

    /// \brief A hash of the faces: with 0x04 the indices of every face without _FaceInvalid
    ///        or _FaceExcluded; with 0x08 the chunks. 0 when \p mask has neither bit.
    virtual uint32_t GetChecksum(unsigned mask) const;

    /// \brief Stores or loads the list: face count, list flags (only _FaceListPersistent is
    ///        written), the face storage (record count; when not 0 the used bytes, buffer
    ///        size, compacted buffer and offsets), then the data chunks.
    ///
    /// Loading checks the storage (see CSimpleCollection::Load), every index against 0 and
    /// the point bound, the record and chunk counts against the face count, and the main
    /// chunk; the list is replaced only when everything holds (the stamp then grows by one
    /// and the flags become the word read). The point bound is not archived: it stays.
    /// \throw CXArchiveException for a short or malformed archive (list unchanged).
    void Serialize(CXArchive& ar) override;
    /// \brief Loads the list as Serialize does, and gives the highest index of all its faces
    ///        (as unsigned: a negative index counts as above every bound; 0 without faces),
    ///        so that an owner that reads its points afterwards can check the faces against
    ///        them without walking the faces again (see FindFaceOutside).
    /// \throw CXArchiveException as Serialize (list unchanged).
    void Load(CXArchive& ar, unsigned& highest);
    /// \brief The first face without _FaceInvalid or _FaceExcluded that names a point at or
    ///        above \p pointNbr (or a negative one); 0xFFFFFFFF when there is none.
    /// \param highest an upper bound of every index known to the caller (from Load), or
    ///        0xFFFFFFFF when unknown: below \p pointNbr, no face needs to be read.
    unsigned FindFaceOutside(unsigned pointNbr, unsigned highest = kZanNone) const;

protected:
    /// \brief An empty list: with \p model, its chunk structure; without, a new "FCPR" chunk.
    /// \param propertySize 4 (flags word) or 8 (flags word and material ID).
    CFaceList(const CFaceList* model, unsigned propertySize);

    /// \brief When _FaceListChanged is set, drops both topology graphs, clears the flag and
    ///        returns true (owners then rebuild what they derived from the faces); otherwise
    ///        false.
    virtual bool UpdateList(const CGeomInfo* geom);

    /// \brief Bytes of the property element this list needs (4 or 8).
    unsigned GetPropertySize() const { return m_PropertySize; }
    /// \brief The material word of face \p index (second word of its property), null when
    ///        out of range or when the property has no room for it.
    unsigned* MaterialAt(unsigned index);
    const unsigned* MaterialAt(unsigned index) const;

    friend class CFace;
    friend class C3DFace;
    friend class C3DGeomObject;
    friend class CChannel;
    friend class CGeomInfo;

private:
    unsigned* PropertyAt(unsigned index)
    {
        return static_cast<unsigned*>(m_Chunks->GetMainData(index));
    }
    const unsigned* PropertyAt(unsigned index) const
    {
        return static_cast<const unsigned*>(std::as_const(*m_Chunks).GetMainData(index));
    }
    bool IsIndexInBound(int index) const { return index >= 0 && unsigned(index) < m_PointBound; }
    bool AreIndexesInBound(const int* indices, size_t count, unsigned pointCount) const;
    CElementMethods* NewPropertyMethods() const;
    bool IsPropertyMethods(const CElementMethods* methods) const;
    void ReplacePropertyChunk(CElementMethods* methods);
    void EnsurePropertyChunk();
    void CopyPropertyWord(unsigned dst, const CFaceList& from, unsigned src);
    void MarkChanged();
    void MarkInvalidFrom(unsigned first);
    void OrFlagsFrom(unsigned first, unsigned flags);
    bool ResizeFace(unsigned index, unsigned count);
    void RemoveCorner(unsigned index, unsigned position);

    bool BuildPointToFaceGraph(const CGeomInfo* geom, std::unique_ptr<CFaceStorage>& graph) const;
    bool BuildPointToFaceGraphInParts(unsigned parts, unsigned pointCount,
                                      std::unique_ptr<CFaceStorage>& graph) const;
    bool BuildEdgeToFaceGraph(std::unique_ptr<CAssociationMap>& graph) const;
    void DeleteGraphs();
    CHashTable<int>& Scratch() const;
    const int* RecordOf(int point, unsigned& count) const;
    void CollectPointNeighbours(int point, std::vector<int>& edgeNeighbours,
                                std::vector<int>* corners) const;
    template <class QUERY>
    const int* RunIntoHelper(CFaceGraphHelper& helper, int& count, QUERY&& query) const;

    CFaceStorage m_Faces;
    std::unique_ptr<CDataChunk> m_Chunks;
    std::unique_ptr<CFaceStorage> m_PointGraph; ///< point-to-face graph, null when not built
    unsigned m_PointGraphUsers = 0;
    std::unique_ptr<CAssociationMap> m_EdgeGraph; ///< edge-to-face graph, null when not built
    unsigned m_EdgeGraphUsers = 0;
    mutable std::unique_ptr<CHashTable<int>> m_Scratch; ///< scratch set of GetConnectionSet
    unsigned m_Stamp = 0;
    unsigned m_Flags = 0;
    unsigned m_PointBound = kZanNone;
    unsigned m_PropertySize = 4;
};

/// \brief The faces of a mesh: face class C3DFace, property "FCPR" of flags word and
///        material ID (C3DFacePropertyMethods), and back-face materials in "BKMT".
/// \brief How C3DFaceList::Sort orders faces.
enum _FACE_SORT_MODE : unsigned
{
    _FaceSortNone = 0,         ///< keep the order
    _FaceSortMaterial = 1,     ///< by material ID, ascending
    _FaceSortMaterialGroup = 2 ///< by material ID, ascending (the same order as 1)
};

class ZAN_API C3DFaceList : public CFaceList
{
    ZAN_DECLARE_DYNCREATE(C3DFaceList)

public:
    /// \brief An empty list; with \p model, the model's chunk structure.
    explicit C3DFaceList(const CFaceList* model = nullptr);
    C3DFaceList(const C3DFaceList& src) = default;
    ~C3DFaceList() override;
    using CFaceList::operator=;
    C3DFaceList& operator=(const C3DFaceList& src)
    {
        CFaceList::operator=(src);
        return *this;
    }
    /// \brief A new list (one holder) with the structure of \p model when given.
    static C3DFaceList* Create(const CFaceList* model = nullptr);
    CFace* CreateFace() override;

    /// \brief Material of face \p index; 0xFFFFFFFF out of range or for a face with
    ///        _FaceInvalid or _FaceExcluded.
    unsigned GetFaceMaterial(unsigned index) const;
    /// \brief false out of range.
    bool SetFaceMaterial(unsigned index, unsigned materialID);
    /// \brief The "BKMT" value of face \p index, 0xFFFFFFFF without the chunk or out of range.
    unsigned GetBackFaceMaterial(unsigned index) const;
    /// \brief Sets the "BKMT" value of face \p index, creating the chunk (every face
    ///        0xFFFFFFFF) when absent; false out of range.
    bool SetBackFaceMaterial(unsigned index, unsigned materialID);
    bool HasBackFaceMaterials() const { return GetDataChunks().HasDataChunk(kBackFaceChunk); }
    void RemoveBackFaceMaterials() { RemoveDataChunk(kBackFaceChunk); }
    /// \brief Replaces material \p oldID by \p newID on every face, front and back.
    /// \return the number of values replaced.
    unsigned ReplaceMaterial(unsigned oldID, unsigned newID);
    /// \brief The box of the points of \p geom's source point list that faces without
    ///        _FaceInvalid or _FaceExcluded use, selected and transformed as
    ///        C3DPointList::GetBoundingBox does (indices outside the points and non-finite
    ///        coordinates left out). The box is reset, then marked valid.
    /// \return whether the box has a non-zero extent; false with an empty box when \p geom
    ///         has no C3DPointList as its source.
    bool GetBoundingBox(const CGeomInfo* geom, C3DTBBox<float>& box, unsigned pointFlags = 0,
                        bool flagMatch = true, const C4x4TMatrix<float>* matrix = nullptr) const;

    /// \name Face grid (declared with its class in processing/spatialmaps.h)
    /// \{
    /// \brief The list's face grid over \p geom's source points, built on first use and kept
    ///        until DeleteFaceGridMap or until the faces or the points change (their change
    ///        stamps). Owned by the list. Not for use from two threads at once.
    /// \return null when the list is not all triangles, has no valid face, \p geom has no
    ///         3D source point list, or the grid cannot be built.
    C3DFaceGridMap* GetFaceGridMap(CGeomInfo* geom);
    /// \brief Drops the face grid.
    void DeleteFaceGridMap();
    /// \brief The index of the face closest to \p point (exact point-to-triangle distance),
    ///        not beyond \p maxDistance, with its distance in \p distance.
    /// \param grid the grid to search; null uses GetFaceGridMap(\p geom).
    /// \return -1, with an infinite \p distance, when no face is that close or no grid can
    ///         be had.
    int GetClosestFace(CGeomInfo* geom, C3DFaceGridMap* grid, const C3DTPoint<double>& point,
                       double& distance, double maxDistance);
    /// \}

    /// \name Polygon operations (positions from \p geom's source C3DPointList; channels from
    ///       its source channels, destination lists where the operation builds new ones)
    /// \{

    /// \brief Splits into triangles the usable faces (neither _FaceInvalid nor _FaceExcluded)
    ///        of more than three corners for which "flags & \p properties equals
    ///        \p properties" is \p match.
    ///
    /// When no face is to be split, \p geom's destination face list and channels become the
    /// source ones (one more holder each) and nothing else changes. Otherwise \p geom gets a
    /// new destination face list (owned by \p geom) and a new destination channel set holding
    /// copies of the source channels whose type is in \p channelMask, and DoTriangulation
    /// fills them.
    /// \return the destination face count; -1, with \p geom's destinations untouched,
    ///         without source lists, when \p geom's source face list is not this list, or
    ///         when memory is short.
    int Triangulate(CGeomInfo* geom, unsigned channelMask, _FACE_PROPERTIES properties, bool match);
    /// \brief Fills \p geom's destination face list and destination channels' face lists
    ///        (emptied first) with the faces of this list: the selected faces (as Triangulate
    ///        selects them) split into triangles, the others copied with their chunk values.
    ///
    /// The triangles of a face keep its chunk values (material, flags but _FaceInvalid);
    /// channel triangles take the channel face's values and its corners at the same
    /// positions, or _FaceExcluded when the channel face's corner count differs.
    /// \param total the expected face count (used to reserve room; may be 0).
    /// \param mode 0 (kept for the per-face form's sizing mode).
    /// \return the face count written, or -1 (destinations left partly filled) without
    ///         lists or when memory is short.
    int DoTriangulation(const CGeomInfo* geom, unsigned total, int mode,
                        _FACE_PROPERTIES properties, bool match) const;
    /// \brief Merges groups of adjacent coplanar faces into single polygons, writing the
    ///        result into \p geom's destination face list and the destination channels
    ///        (copies of the source lists made by the caller), which are rewritten.
    ///
    /// Two faces sharing an edge (each running it the other way) join when they have the
    /// same material, unit normals within \p angle (radians) of each other and of the
    /// group's first face, and no channel with a face list breaks along the edge. A group
    /// whose border is not one simple loop (a hole, a pinch) keeps its faces. Collinear border
    /// points are dropped from the outline. Progress "Merging..." can stop the merge.
    /// \return the new face count; -1 when stopped, without source or destination lists or
    ///         for a NaN angle (destinations then unchanged).
    int MergeCoplanarFaces(const CGeomInfo* geom, double angle);
    /// \brief Reverses the faces so that each connected part has one orientation; \p flipped
    ///        is sized to the face count and marks the faces reversed.
    /// \return false, nothing changed, when this list is not \p geom's source face list, the
    ///         positions are missing or memory is short.
    bool UnifyNormals(CGeomInfo* geom, CBitArray& flipped);
    /// \brief Reverses face \p face and the same face of every source channel face list,
    ///        each unless it has _FaceInvalid or _FaceExcluded (or its corner count differs).
    /// \return false for a face out of range or one that was left alone.
    bool Flip(const CGeomInfo* geom, int face);
    /// \brief The order \p mode gives: entry i is the old index of the face that goes to i.
    ///        \p changed tells whether any face moves. Faces of one material keep their order.
    std::vector<unsigned> Sort(_FACE_SORT_MODE mode, bool& changed) const;
    /// \brief Reorders the faces by Sort(\p mode) and the faces of every source channel face
    ///        list (channels with _ChannelInvalid excepted) with them.
    /// \return whether any face moved.
    bool Sort(const CGeomInfo* geom, _FACE_SORT_MODE mode);
    /// \}

private:
    zan_detail::CFaceGridHolder m_FaceGrid;
};

/// Declares a face list of a channel: its face class, runtime class, constructors and copies.
#define ZAN_DECLARE_CHANNEL_FACE_LIST(ClassName, FaceClass)                                        \
    class ZAN_API ClassName : public CFaceList                                                     \
    {                                                                                              \
        ZAN_DECLARE_DYNCREATE(ClassName)                                                           \
    public:                                                                                        \
        explicit ClassName(const CFaceList* model = nullptr);                                      \
        ClassName(const ClassName& src) = default;                                                 \
        ~ClassName() override;                                                                     \
        using CFaceList::operator=;                                                                \
        ClassName& operator=(const ClassName& src)                                                 \
        {                                                                                          \
            CFaceList::operator=(src);                                                             \
            return *this;                                                                          \
        }                                                                                          \
        static ClassName* Create(const CFaceList* model = nullptr);                                \
        CFace* CreateFace() override;                                                              \
    };

/// Faces of a texture-coordinate channel (face class CUVWFace).
ZAN_DECLARE_CHANNEL_FACE_LIST(CUVWFaceList, CUVWFace)
/// Faces of a vertex-colour channel (face class CVCFace).
ZAN_DECLARE_CHANNEL_FACE_LIST(CVCFaceList, CVCFace)
/// Faces of a per-corner weight channel (face class CWeightFace).
ZAN_DECLARE_CHANNEL_FACE_LIST(CWeightFaceList, CWeightFace)
/// Faces of a point-normal or specified-normal channel (face class CNormalFace).
ZAN_DECLARE_CHANNEL_FACE_LIST(CNormalFaceList, CNormalFace)

#undef ZAN_DECLARE_CHANNEL_FACE_LIST
