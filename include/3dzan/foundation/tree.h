/// \file tree.h
/// \brief CTree and CTreeNode: an owning tree of serializable nodes with parent, first-child
///        and right-sibling links, a depth-first walk, editing operations and archiving.
///
/// Every operation is iterative: no call recurses over the depth of the tree, so a chain of
/// a million nodes can be walked, copied, destroyed, stored and loaded on a normal stack.
///
/// Ownership: a tree owns every node under its root. A node taken out of a tree
/// (CTree::RemoveNode, CTree::ReplaceNode) is a *detached branch*: its caller owns it and
/// its subtree, and either gives it to a tree again (CTree::InsertNode, CTree::SetRoot,
/// CTree::ReplaceNode) or destroys it (CTreeNode::DeleteNode). Links are only ever changed by
/// the tree, so every node in a tree is reachable from its root and knows its tree.
///
/// None of these classes is safe for concurrent editing; concurrent reads are.
#pragma once

#include <3dzan/foundation/xobject.h>
#include <3dzan/foundation/xstring.h>

#include <cstddef>
#include <functional>

class CXArchive;
class CTree;

/// \brief A node of a CTree; derive from it, with a runtime class of your own
///        (ZAN_DECLARE_DYNCREATE / ZAN_IMPLEMENT_DYNCREATE) so that archives can recreate it.
///
/// A node carries links to its parent, its first and last children and its left and right
/// siblings, and a pointer to the tree that owns it (null while it is detached). A derived
/// class stores its content in Serialize; the base stores nothing of its own.
class ZAN_API CTreeNode : public CXObject
{
    ZAN_DECLARE_DYNCREATE(CTreeNode)

public:
    CTreeNode() = default;
    /// \brief Destroys the node. A node destroyed while still linked is first taken out of its
    ///        tree or branch, and its children (which cannot stay without a parent) are
    ///        destroyed with it, leaves first, through their Delete().
    ~CTreeNode() override;

    /// \brief Stores or loads the node's content, never its links; the base has no content.
    void Serialize(CXArchive& ar) override;
    /// \brief Takes the node out of its tree (or branch) and destroys it with its whole
    ///        subtree, leaves first, through each node's Delete(). The node is gone afterwards.
    virtual void DeleteNode();
    /// \brief The name shown for the node; the base returns its class name.
    virtual CXTString GetDisplayName() const;
    /// \brief A new node of the same runtime class with the same content and no links;
    ///        the caller owns it. The base creates the class through its runtime class and
    ///        copies the content by storing this node into a memory archive and loading the
    ///        new node from it. Null when the class cannot be created or the content cannot be
    ///        copied.
    virtual CTreeNode* Copy() const;
    /// \brief Whether two nodes are alike; the base compares the runtime class and the
    ///        display name. Links are never compared.
    virtual bool operator==(const CTreeNode& other) const;
    /// \brief Destroys this node object; returns true. The tree calls it on nodes it has
    ///        already unlinked, leaves first. Called on a node that is still linked, the
    ///        destructor unlinks it and destroys its subtree too (see ~CTreeNode).
    virtual bool Delete();
    /// \brief Hook for the owner of a tree, called on nodes before a whole tree is archived;
    ///        \p first is true for the first node called. The base does nothing, and
    ///        CTree::Serialize does not call it: the owner decides which nodes take part.
    virtual void PreSerialize(CXArchive& ar, bool first);
    /// \brief Hook for the owner of a tree, called on nodes after a whole tree is archived;
    ///        \p last is true for the last node called. The base does nothing.
    virtual void PostSerialize(CXArchive& ar, bool last);

    /// \brief The parent; null for a root.
    CTreeNode* GetParent() { return m_pParent; }
    const CTreeNode* GetParent() const { return m_pParent; }
    /// \brief The first child, or null.
    CTreeNode* GetChild() { return m_pChild; }
    const CTreeNode* GetChild() const { return m_pChild; }
    /// \brief The last child, or null.
    CTreeNode* GetLastChild() { return m_pLastChild; }
    const CTreeNode* GetLastChild() const { return m_pLastChild; }
    /// \brief The right (next) sibling, or null.
    CTreeNode* GetRight() { return m_pRight; }
    const CTreeNode* GetRight() const { return m_pRight; }
    /// \brief The left (previous) sibling, or null.
    CTreeNode* GetLeft() { return m_pLeft; }
    const CTreeNode* GetLeft() const { return m_pLeft; }
    /// \brief The tree that owns the node; null while the node is in a detached branch.
    CTree* GetTree() { return m_pTree; }
    const CTree* GetTree() const { return m_pTree; }

    /// \brief Number of children (counted: linear in that number).
    size_t GetChildNbr() const;
    /// \brief Number of ancestors: 0 for a root or the top of a detached branch.
    size_t GetDepth() const;
    /// \brief Whether this node is a proper ancestor of \p node (false for itself and null).
    bool IsAncestorOf(const CTreeNode* node) const;

protected:
    /// \brief Copies the content of the base (nothing); the new node has no links.
    CTreeNode(const CTreeNode& other);

private:
    friend class CTree;

    /// Nodes are not assigned: a node's identity is its place in the tree. Kept private and
    /// non-virtual, so derived classes get a deleted assignment without hiding warnings.
    CTreeNode& operator=(const CTreeNode&) { return *this; }

    /// Splices this unlinked node among \p parent's children after \p after
    /// (CTree::kFirst: first; null: last).
    void LinkUnder(CTreeNode* parent, CTreeNode* after);
    /// Takes this node out of its parent's children, or out of its tree's root slot.
    void Unlink();
    /// Sets the tree of every node of this branch; returns the number of nodes.
    size_t SetBranchTree(CTree* tree);
    /// Unlinks this branch from its tree or parent and clears the tree of its nodes.
    void DetachBranch();
    /// Destroys the detached branch \p top, leaves first, through each node's Delete().
    static void DestroyBranch(CTreeNode* top);

    CTreeNode* m_pParent = nullptr;
    CTreeNode* m_pChild = nullptr;
    CTreeNode* m_pLastChild = nullptr;
    CTreeNode* m_pLeft = nullptr;
    CTreeNode* m_pRight = nullptr;
    CTree* m_pTree = nullptr;
};

/// \brief A tree of CTreeNode objects hanging under one root; it owns its nodes.
///
/// Methods that take nodes return false or null, and change nothing, when a node is null
/// where one is needed, does not belong to this tree, or is not detached where a detached
/// branch is needed; they never throw for that. Serialize raises CXArchiveException. An
/// exception from a node's own code (Copy, a Sort comparison) passes through and leaves the
/// tree as it was.
///
/// Archive layout: the node count (CXArchive::WriteCount), then each node in depth-first
/// pre-order: the index of its parent in that order (uint32; 0xFFFFFFFF for the root), its
/// class record (CXArchive::WriteClass) and its own Serialize. An empty tree stores a count
/// of 0.
class ZAN_API CTree : public CXObject
{
    ZAN_DECLARE_DYNCREATE(CTree)

public:
    /// \brief Position argument: insert as the first child.
    static CTreeNode* const kFirst;
    /// \brief Position argument: insert as the last child.
    static constexpr CTreeNode* kLast = nullptr;

    CTree() = default;
    /// \brief Destroys every node.
    ~CTree() override;
    /// Copying nodes can fail (a class that cannot be copied), which a constructor or an
    /// assignment could not report: use CopyTree.
    CTree(const CTree&) = delete;
    CTree& operator=(const CTree&) = delete;

    /// \brief Stores the nodes, or replaces them with the archived ones.
    ///
    /// Storing raises CXArchiveException(_BadCount) for a tree of 0xFFFFFFFF nodes or more,
    /// which 32-bit parent indices cannot describe, and passes on the archive's write errors.
    ///
    /// Loading builds the new nodes aside and puts them in place only when the whole tree has
    /// been read; nodes are linked to their parent before their own Serialize runs, but
    /// GetTree() stays null until the end. A malformed archive raises CXArchiveException,
    /// destroys what was built and leaves the tree as it was: a count larger than the bytes
    /// left can hold (_BadCount), a class that is unknown, not a CTreeNode, or cannot be
    /// created (_BadClass), a first node with a parent, a second root, or a parent index that
    /// is not the previous node or one of its ancestors (_BadValue), a short stream
    /// (_EndOfFile), and whatever a node's own Serialize raises.
    void Serialize(CXArchive& ar) override;

    /// \brief The root, or null for an empty tree.
    CTreeNode* GetRoot() { return m_pRoot; }
    const CTreeNode* GetRoot() const { return m_pRoot; }
    bool IsEmpty() const { return m_pRoot == nullptr; }
    /// \brief Number of nodes in the tree (kept up to date: constant time).
    size_t GetNodeNbr() const { return m_NodeCount; }
    /// \brief Whether \p node belongs to this tree (false for null).
    bool HasNode(const CTreeNode* node) const { return node && node->m_pTree == this; }

    /// \brief Destroys every node and makes the detached branch \p root the whole tree; the
    ///        tree takes ownership. Null empties the tree; the current root changes nothing.
    /// \return false, changing nothing, when \p root is not the top of a detached branch.
    bool SetRoot(CTreeNode* root);
    /// \brief Gives the detached branch \p node to the tree, as a child of \p parent placed
    ///        after the child \p after (kFirst: first; kLast, the default: last).
    ///        With a null \p parent the node becomes the root of an empty tree.
    /// \return false, changing nothing, when \p node is not the top of a detached branch,
    ///         \p parent is not in this tree (or is null while the tree has a root), or
    ///         \p after is not kFirst, kLast nor a child of \p parent.
    bool InsertNode(CTreeNode* node, CTreeNode* parent, CTreeNode* after = kLast);
    /// \brief Takes \p node and its subtree out of the tree (the root too) and gives them to
    ///        the caller as a detached branch.
    /// \return \p node, or null when it is not in this tree.
    [[nodiscard]] CTreeNode* RemoveNode(CTreeNode* node);
    /// \brief Takes \p node and its subtree out of the tree and destroys them (through the
    ///        node's DeleteNode()).
    /// \return false when \p node is not in this tree.
    bool DeleteNode(CTreeNode* node);
    /// \brief Puts the detached branch \p newNode in the place of \p oldNode; the children of
    ///        \p oldNode move under \p newNode, after the children \p newNode already has.
    /// \return \p oldNode, detached and without children, owned by the caller; null, changing
    ///         nothing, when \p oldNode is not in this tree or \p newNode is not the top of a
    ///         detached branch.
    [[nodiscard]] CTreeNode* ReplaceNode(CTreeNode* oldNode, CTreeNode* newNode);
    /// \brief Moves \p node with its subtree under \p newParent, after the child \p after
    ///        (kFirst: first; kLast, the default: last).
    /// \return false, changing nothing, when either node is not in this tree, \p newParent is
    ///         \p node or one of its descendants (so the root never moves), or \p after is not
    ///         kFirst, kLast nor a child of \p newParent other than \p node.
    bool MoveNode(CTreeNode* node, CTreeNode* newParent, CTreeNode* after = kLast);
    /// \brief Copies \p src and its subtree (each node through its Copy()) and inserts the
    ///        copy as InsertNode would. \p src may belong to any tree, this one included, or to
    ///        a detached branch; its own siblings are not copied.
    /// \return the copy of \p src; null, changing nothing, when \p src is null, the position
    ///         is refused as InsertNode would refuse it, or a node could not be copied.
    CTreeNode* CopyBranch(const CTreeNode* src, CTreeNode* parent, CTreeNode* after = kLast);
    /// \brief Replaces the nodes of this tree with copies of the nodes of \p src.
    /// \return false, changing nothing, when a node could not be copied.
    bool CopyTree(const CTree& src);
    /// \brief Comparison used by Sort: whether the first node goes before the second
    ///        (a strict weak ordering).
    using CNodeLess = std::function<bool(const CTreeNode*, const CTreeNode*)>;
    /// \brief Reorders the children of \p node by \p less; equal children keep their order.
    /// \return false, changing nothing, when \p node is not in this tree or \p less is empty.
    bool Sort(CTreeNode* node, const CNodeLess& less);
    /// \brief Destroys every node.
    void RemoveAll();

    /// \brief Start of a depth-first pre-order walk.
    /// \return with a null \p start, the root (null for an empty tree); otherwise the first
    ///         node under \p start, that is its first child (null when it has none, or when
    ///         \p start is not in this tree). To visit \p start too, begin at \p start.
    CTreeNode* GetFirstNode(const CTreeNode* start = nullptr);
    const CTreeNode* GetFirstNode(const CTreeNode* start = nullptr) const;
    /// \brief The node after \p node in depth-first pre-order, never leaving the subtree of
    ///        \p end: the first child of \p node; else the right sibling of the nearest node
    ///        that has one among \p node and its ancestors, up to but not including \p end.
    ///
    /// With \p end null the whole tree is walked. \p end must be \p node or one of its
    /// ancestors to bound the walk; any other node bounds nothing. The walk
    /// `for (n = GetFirstNode(start); n; n = GetNextNode(n, start))` visits the subtree of
    /// \p start without \p start itself.
    /// \return null at the end of the walk, or when \p node is not in this tree.
    CTreeNode* GetNextNode(const CTreeNode* node, const CTreeNode* end = nullptr);
    const CTreeNode* GetNextNode(const CTreeNode* node, const CTreeNode* end = nullptr) const;

private:
    friend class CTreeNode;

    /// Whether \p after names a valid place among \p parent's children.
    static bool IsPosition(const CTreeNode* parent, const CTreeNode* after);
    /// Copies the branch under \p src into a new detached branch; null when a node could not
    /// be copied (nothing is left behind).
    static CTreeNode* CopyNodes(const CTreeNode* src);
    /// Destroys the current nodes and installs the detached branch \p root.
    void Install(CTreeNode* root);

    CTreeNode* m_pRoot = nullptr;
    size_t m_NodeCount = 0;
};
