/// \file scenenode.h
/// \brief C3DSceneNode, one place of the scene tree: a name, an ID, flags, custom data, the
///        keys of its transformation and at most one object; C3DNodePos, the cursor of scene
///        walks; C3DInstanceID, the set of object IDs a walk has met.
///
/// *Instances.* A node holds its object by reference. Several nodes may carry the very same
/// object (an instance copy, C3DBaseObject::Copy with _CopyInstance); the object counts its
/// nodes (C3DBaseObject::GetInstanceNbr) and the last node that lets go destroys it.
///
/// *Transformation.* The node's keys give its object-local matrix at a tick: the product, in
/// this order, of the matrix key, the translation key, the rotation key and the scale key that
/// the node has (each evaluated at the tick, a missing one skipped). The world matrix is the
/// product of the object-local matrices of the node and its ancestors (parents on the left),
/// then the pivot key, when it is not null, moves the origin of the object to the pivot:
/// world = M × T(pivot).
///
/// *Archive layout* (Serialize): the keys (C3DKeyframable::Serialize), the flags (u32), the
/// update flags (u32), the name (string), the custom data, then an int 1 when the node
/// carries an object (0 ends the record), an int 1 when the object is a reference to an object
/// written before (then its object ID, u32) or 0 when it is written in full (its class record,
/// then its own Serialize). Inside a scene archive a shared object is written in full the
/// first time and as a reference afterwards; a node archived on its own always writes its
/// object in full.
#pragma once

#include <3dzan/animation/math.h>
#include <3dzan/animation/keyframable.h>
#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/hashmap.h>
#include <3dzan/foundation/tree.h>
#include <3dzan/scene/baseobject.h>

class C3DScene;
class C3DSceneNode;
class C3DFilter;
class C3DObjectCreator;
class C3DGeomObject;

/// \brief Node flags.
enum _SCENE_NODE_FLAGS : unsigned
{
    _NodeHidden = 1,  ///< not drawn; walks and copies may skip it
    _NodeSelected = 2 ///< part of the selection
};

/// \brief Update flags of a node: archived and readable, never changed by the node itself.
enum _SCENE_NODE_UPDATE_PROPERTIES : unsigned
{
    _NodeUpdateNone = 0
};

/// \brief Copy flags understood by C3DSceneNode::Copy (scene copies add their own bits).
enum _NODE_COPY_FLAGS : int
{
    _NodeCopyInstance = 0x10,  ///< share the object instead of copying it
    _NodeCopyNoObject = 0x100, ///< the copy carries no object; the caller attaches one
    _NodeCopyKeepID = 0x200    ///< keep the node ID (and the object ID): a copy for another scene
};

/// \brief Flags of C3DSceneNode::GetBoundingBox.
enum _NODE_BOX_FLAGS : unsigned
{
    _BoxPoints = 0x1,        ///< the object boxes of all points
    _BoxFaces = 0x2,         ///< the object boxes of the points used by faces
    _BoxSkipHidden = 0x4,    ///< skip hidden descendants
    _BoxSelected = 0x8,      ///< only selected descendants
    _BoxNodeOnly = 0x10,     ///< this node only (ignored with _BoxNodeFlags)
    _BoxNodeFlags = 0x20,    ///< the extra argument holds node flags each descendant must have
    _BoxKindIn = 0x40,       ///< descendants' objects must have a kind in the mask
    _BoxKindOut = 0x80       ///< descendants' objects must have a kind outside the mask
};

/// \brief Key class ids of the transformation of a node.
constexpr uint64_t kNodeMatrixKey = 0x4D41545200000000ull;    ///< "MATR"
constexpr uint64_t kNodeTranslateKey = 0x5452414E5452414Eull; ///< "TRAN" "TRAN"
constexpr uint64_t kNodeRotateKey = 0x524F544100000000ull;    ///< "ROTA"
constexpr uint64_t kNodeScaleKey = 0x5343414C00000000ull;     ///< "SCAL"
constexpr uint64_t kNodePivotKey = 0x564543545049564Full;     ///< "VECT" "PIVO"

/// \brief A set of object IDs shared by copies of a cursor (holder counted).
class ZAN_API C3DInstanceID : public CHashTable<unsigned>, public CInstanciatedObject
{
public:
    C3DInstanceID() : CHashTable<unsigned>(NextPrime(101)) {}
    ~C3DInstanceID() override;
};

/// \brief The cursor of a scene walk (C3DScene::GetFirstNode, C3DScene::GetNextNode).
///
/// It holds the scene, an optional filter (not owned), a kind mask, a mode word, the current
/// node, the end node bounding the walk and an optional set of the object IDs met so far
/// (shared by copies of the cursor). A default cursor is exhausted.
class ZAN_API C3DNodePos
{
public:
    /// \brief Mode bits.
    enum : unsigned
    {
        _ModeSingle = 0x1,     ///< only one node is visited
        _ModeNoObjectAll = 0x2 ///< a node without object matches every mask
    };

    C3DNodePos() = default;
    C3DNodePos(const C3DNodePos& other);
    C3DNodePos& operator=(const C3DNodePos& other);
    virtual ~C3DNodePos();

    /// \brief Whether a node remains to be returned.
    explicit operator bool() const { return m_Current != nullptr; }

    /// \brief The node the next GetNextNode returns; null when exhausted.
    C3DSceneNode* GetCurrentNode() const { return m_Current; }
    const C3DSceneNode* GetEndNode() const { return m_End; }
    unsigned GetKindMask() const { return m_KindMask; }
    unsigned GetMode() const { return m_Mode; }
    const C3DFilter* GetFilter() const { return m_Filter; }

    /// \brief Whether \p id is in the set of met object IDs (false without a set).
    bool CheckObjectID(unsigned id) const;
    /// \brief Adds \p id to the set (when the cursor has one) and moves on when the current
    ///        node's object has that ID.
    void AddObjectID(unsigned id);
    /// \brief Installs \p filter (not owned) and moves on when it rejects the current node.
    void SetFilter(const C3DFilter* filter);

private:
    friend class C3DScene;

    /// Whether the walk takes \p node (kind, filter and instance rules); records its object ID.
    bool Accept(const C3DSceneNode* node);
    /// Makes the first node taken at or after \p candidate the current one.
    void Seek(const C3DSceneNode* candidate);
    /// Moves to the next node taken after the current one.
    void Advance();
    /// The node after \p node in depth-first order within the walk's bounds.
    const C3DSceneNode* Next(const C3DSceneNode* node) const;

    const C3DScene* m_Scene = nullptr;
    const C3DFilter* m_Filter = nullptr;
    unsigned m_KindMask = 0xFFFFFFFF;
    unsigned m_Mode = 0;
    C3DSceneNode* m_Current = nullptr;
    const C3DSceneNode* m_End = nullptr;
    C3DInstanceID* m_IDs = nullptr;
};

/// \brief A node of the scene tree.
///
/// A new node is named "Unnamed object" and takes the next value of the process-wide node
/// counter (which starts at 1; loading does not move it). Queries return false, null or 0 when
/// the node has no suitable object; nothing here throws except Serialize.
class ZAN_API C3DSceneNode : public CTreeNode, public C3DKeyframable
{
    ZAN_DECLARE_DYNCREATE(C3DSceneNode)

public:
    C3DSceneNode();
    /// \brief Releases the object (DeleteFromNode); the children go with the tree.
    ~C3DSceneNode() override;
    /// \brief A new node on the heap; the caller gives it to a scene or calls Delete.
    static C3DSceneNode* Create() { return new C3DSceneNode; }
    /// \brief The ID the next new node gets.
    static unsigned GetNextNodeID();

    /// \brief Destroys this node object; true (also when called on null).
    bool Delete() override;

    /// \name Identity and flags
    /// \{
    const CXTString& GetName() const { return m_Name; }
    void SetName(const CXTString& name) { m_Name = name; }
    /// \brief The name.
    CXTString GetDisplayName() const override { return m_Name; }
    unsigned GetNodeID() const { return m_NodeID; }
    CCustomData& GetCustomData() { return m_CustomData; }
    const CCustomData& GetCustomData() const { return m_CustomData; }
    CTreeNode* GetTreeNode() { return this; }
    const CTreeNode* GetTreeNode() const { return this; }
    /// \brief The scene the node is in (not owned), null when detached.
    C3DScene* GetScene() const { return m_Scene; }
    /// \brief Sets the scene of the node and of its object.
    void SetScene(C3DScene* scene);

    unsigned GetFlags() const { return m_Flags; }
    /// \brief Whether every bit of \p flags is set.
    bool IsFlagSet(unsigned flags) const { return (m_Flags & flags) == flags; }
    /// \brief Whether any bit of \p flags is set.
    bool IsOneFlagSet(unsigned flags) const { return (m_Flags & flags) != 0; }
    void SetFlag(unsigned flags, bool set) { m_Flags = set ? m_Flags | flags : m_Flags & ~flags; }
    unsigned GetUpdateFlags() const { return m_UpdateFlags; }
    /// \brief Whether every bit of \p flags is set in the update flags.
    bool IsInvalidate(unsigned flags) const { return (m_UpdateFlags & flags) == flags; }
    /// \brief Nodes keep no derived data: these do nothing.
    void Invalidate(unsigned, bool) {}
    void SetInvalidateFlag(unsigned, bool) {}
    void Update(unsigned) {}
    /// \}

    /// \name Object
    /// \{
    /// \brief The object (the time is not used); null when none.
    C3DBaseObject* GetBaseObject(int time = 0) const;
    /// \brief The object's final object (what is drawn); null without object.
    C3DBaseObject* GetFinalObject(int time = 0) const;
    /// \brief The object when it is geometric (a mesh, a curve or a patch, not its final
    ///        object); null otherwise or without object (the time is not used).
    C3DGeomObject* GetGeomObject(int time = 0) const;
    bool IsGeomObject() const { return m_Object && m_Object->IsGeomObject(); }
    /// \brief The object's kind; 0 without object.
    unsigned GetObjectKindOf() const { return m_Object ? unsigned(m_Object->GetKindOf()) : 0; }
    /// \brief The object's ID; 0xFFFFFFFF without object.
    unsigned GetObjectID() const { return m_Object ? m_Object->GetObjectID() : kZanNone; }
    /// \brief Gives the node \p object (the caller's holder passes to the node); with
    ///        \p release the current object is let go first (DeleteFromNode). The object's
    ///        scene becomes the node's.
    void SetObject(C3DBaseObject* object, bool release = true);
    /// \}

    /// \name Instances
    /// \{
    /// \brief With \p wholeScene false, whether the object is shared by several nodes (false
    ///        without object). With true, whether every geometric object of the node's scene
    ///        is shared (true when there is none).
    bool IsObjectIntanciated(bool wholeScene = false) const;
    /// \brief Replaces a shared object by a private copy; false when it was not shared (or
    ///        the copy failed), the object then unchanged.
    bool DeleteObjectInstanciation();
    /// \}

    /// \name Copies
    /// \{
    /// \brief A new detached node: the object copied through \p creator with \p flags (no
    ///        object with _NodeCopyNoObject), then Inherit from this node.
    /// \return the copy (the caller owns it), null when the object could not be copied.
    C3DSceneNode* Copy(int flags, C3DObjectCreator* creator = nullptr) const;
    /// \brief Copy(0): a copy with a private copy of the object.
    CTreeNode* Copy() const override;
    /// \brief Takes over the flags, the name, the custom data and the keys of \p source; with
    ///        _NodeCopyKeepID also its node ID. The object is not touched.
    void Inherit(const C3DSceneNode* source, int flags);
    /// \brief Copies this node and its subtree (each node through Copy). With a \p parent the
    ///        copies are added under it in the parent's scene, else the copy is a detached
    ///        branch owned by the caller. Walks iteratively.
    /// \return the copy of this node; null (nothing left behind) when a node could not be
    ///         copied.
    C3DSceneNode* CopyBranch(C3DSceneNode* parent, int flags,
                             C3DObjectCreator* creator = nullptr) const;
    /// \}

    /// \name Transformation (ticks; float matrices)
    /// \{
    /// \brief The object-local matrix at \p time: identity × matrix key × translation key ×
    ///        rotation key × scale key (the keys the node has, evaluated at \p time).
    void GetObjectLocalTM(int time, C4x4TMatrix<float>& matrix) const;
    /// \brief The world matrix at \p time (see the file comment). The root's is its own
    ///        object-local matrix; other nodes stop below the root unless \p withRoot.
    void GetNodeTM(int time, C4x4TMatrix<float>& matrix, bool withRoot = true) const;
    /// \brief The world matrix relative to the parent's world matrix (the parent term is the
    ///        identity under the root, for a detached node or when it cannot be inverted).
    void GetNodeLocalTM(int time, C4x4TMatrix<float>& matrix) const;
    /// \brief Bakes \p matrix into a private copy of the object and deletes the keys.
    /// \return false, nothing changed, for the identity or when the object refuses the matrix.
    bool ConvertToGlobalCoordinates(const C4x4TMatrix<float>& matrix);
    /// \brief Bakes the object-local matrix at \p time into the object and deletes the keys,
    ///        unless that matrix is within 0.005 of the identity (then false, nothing changed).
    bool ConvertToGlobalCoordinates(int time);
    /// \brief Swaps the coordinates of the object's points and channels; false for code 0 or
    ///        an object without points.
    bool SwapPoints(unsigned code);
    /// \brief Re-expresses every key in the axes of \p code: matrix keys adjusted, rotation,
    ///        translation and pivot keys swapped, scale keys only permuted (the low three bits
    ///        of the code). false for code 0.
    bool SwapTransformations(unsigned code);
    /// \brief Moves the pivot to min + (max − min) × \p relative + \p offset of the object's
    ///        box, moving the points the other way so that the world look stays the same.
    /// The points are translated directly, so that even a move far below the tolerance of
    /// MatrixTransform is applied. Every pivot key of the node grows by the move (a pivot key
    /// at time 0 is made first when there is none), so that repeated moves keep the world look
    /// too. A shared object moves for every node that carries it.
    /// \return false, nothing changed, without a geometric object with points, without a box
    ///         or when that point is the origin.
    bool CenterPivotOnCG(const C3DTVector<float>& relative, const C3DTVector<float>& offset);
    /// \}

    /// \name Centre and bounds
    /// \{
    /// \brief The mean of the world-space centres of the geometric objects of this node and
    ///        its subtree at \p time. false, \p cg set to the origin, when there is none.
    bool GetCG(int time, C3DTPoint<float>& cg) const;
    /// \brief The world-space box of this node and of the descendants \p flags selects
    ///        (_NODE_BOX_FLAGS); \p extra goes to the object boxes, or holds required node
    ///        flags with _BoxNodeFlags; \p kindMask with _BoxKindIn / _BoxKindOut.
    /// \return false, \p min and \p max set to the origin, when no box was found or \p flags
    ///         has neither _BoxPoints nor _BoxFaces.
    bool GetBoundingBox(int time, C3DTPoint<float>& min, C3DTPoint<float>& max, unsigned flags,
                        unsigned extra = 0, unsigned kindMask = 0xFFFFFFFF) const;
    /// \}

    /// \name Storage
    /// \{
    /// \brief Stores or loads the node (see the file comment). Loading reads the whole record
    ///        before it changes the node.
    /// \throw CXArchiveException on a truncated or malformed record; the node is then left as
    ///        it was.
    void Serialize(CXArchive& ar) override;
    /// \brief Forwards to the object's PreSerialize.
    void PreSerialize(CXArchive& ar, bool first) override;
    /// \brief Forwards to the object's PostSerialize; after the last node of a store, drops
    ///        the set of shared objects written kept by the scene archive.
    void PostSerialize(CXArchive& ar, bool last) override;
    /// \}

private:
    /// The box of this node's own object in world space at \p time.
    bool InternalGetBoundingBox(int time, C3DTPoint<float>& min, C3DTPoint<float>& max,
                                unsigned flags, unsigned extra) const;

    C3DScene* m_Scene = nullptr;
    C3DBaseObject* m_Object = nullptr;
    CCustomData m_CustomData;
    unsigned m_NodeID;
    unsigned m_Flags = 0;
    unsigned m_UpdateFlags = 0;
    CXTString m_Name;
};
