// The tree keeps five links per node (parent, first and last child, left and right sibling)
// so that appending, inserting and unlinking are constant time, plus a pointer to the owning
// tree so that "is this node mine?" is constant time too. Scenes reach a million nodes, and
// a chain that long must not exhaust the stack: every walk below is a loop that moves along
// the links (down to the first child, right to the sibling, up to the parent), and the
// archive refers to a parent by its pre-order index instead of nesting children.
#include <3dzan/foundation/tree.h>

#include <3dzan/foundation/exceptions.h>
#include <3dzan/foundation/xarchive.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace
{
// Smallest archived node: its parent index (4 bytes) and a class name of at least one byte
// after its 4-byte length. A count is checked against this before anything is allocated.
constexpr uint64_t kMinArchivedNodeBytes = 4 + 4 + 1;

// Buffer of the archives that copy one node's content: nodes hold little, and copying a
// large branch makes two archives per node, so the default 64 KiB would dominate the cost.
constexpr size_t kCopyBufferBytes = 1024;

// The address behind CTree::kFirst. It is a real node so that the sentinel is an ordinary
// pointer value; the tree refuses it wherever it would take a node.
CTreeNode g_FirstMark;

// Pre-order successor of node, never leaving the subtree of end (see CTree::GetNextNode).
const CTreeNode* NextInPreOrder(const CTreeNode* node, const CTreeNode* end)
{
    if (const CTreeNode* child = node->GetChild())
        return child;
    for (const CTreeNode* n = node; n && n != end; n = n->GetParent())
        if (const CTreeNode* right = n->GetRight())
            return right;
    return nullptr;
}

CTreeNode* NextInPreOrder(CTreeNode* node, const CTreeNode* end)
{
    return const_cast<CTreeNode*>(NextInPreOrder(static_cast<const CTreeNode*>(node), end));
}

[[noreturn]] void ThrowBadValue(const std::string& message)
{
    throw CXArchiveException(CXArchiveException::_BadValue, "tree: " + message);
}
} // namespace

ZAN_IMPLEMENT_DYNCREATE(CTreeNode, CXObject)
ZAN_IMPLEMENT_DYNCREATE(CTree, CXObject)

CTreeNode* const CTree::kFirst = &g_FirstMark;

// ---------------------------------------------------------------- node

CTreeNode::CTreeNode(const CTreeNode& other) : CXObject(other) {}

CTreeNode::~CTreeNode()
{
    // The tree unlinks nodes before it destroys them. A node destroyed in place must not
    // leave its tree or its siblings pointing at freed memory, nor orphan its children.
    if (m_pParent || m_pTree)
        DetachBranch();
    while (CTreeNode* child = m_pChild)
    {
        child->Unlink();
        DestroyBranch(child);
    }
}

void CTreeNode::Serialize(CXArchive& ar)
{
    CXObject::Serialize(ar);
}

void CTreeNode::DeleteNode()
{
    DetachBranch();
    DestroyBranch(this);
}

CXTString CTreeNode::GetDisplayName() const
{
    return CXTString(GetRuntimeClassDescriptor()->m_ClassName);
}

CTreeNode* CTreeNode::Copy() const
{
    std::unique_ptr<CXObject> object(GetRuntimeClassDescriptor()->CreateObject());
    CTreeNode* node = dynamic_cast<CTreeNode*>(object.get());
    if (!node)
        return nullptr;
    try
    {
        // Going through the archive copies exactly what the class stores, which is what a
        // saved and reopened document would hold; a class that knows better overrides Copy.
        CXMemFile file;
        {
            CXArchive out(&file, CXArchive::store, kCopyBufferBytes);
            // Storing reads the node only; Serialize has one signature for both directions.
            const_cast<CTreeNode*>(this)->Serialize(out);
            out.Close();
        }
        file.SeekToBegin();
        CXArchive in(&file, CXArchive::load, kCopyBufferBytes);
        node->Serialize(in);
    }
    catch (const CXException&)
    {
        return nullptr;
    }
    object.release();
    return node;
}

bool CTreeNode::operator==(const CTreeNode& other) const
{
    return GetRuntimeClassDescriptor() == other.GetRuntimeClassDescriptor() &&
           GetDisplayName() == other.GetDisplayName();
}

bool CTreeNode::Delete()
{
    delete this;
    return true;
}

void CTreeNode::PreSerialize(CXArchive&, bool) {}

void CTreeNode::PostSerialize(CXArchive&, bool) {}

size_t CTreeNode::GetChildNbr() const
{
    size_t count = 0;
    for (const CTreeNode* child = m_pChild; child; child = child->m_pRight)
        ++count;
    return count;
}

size_t CTreeNode::GetDepth() const
{
    size_t depth = 0;
    for (const CTreeNode* n = m_pParent; n; n = n->m_pParent)
        ++depth;
    return depth;
}

bool CTreeNode::IsAncestorOf(const CTreeNode* node) const
{
    for (const CTreeNode* n = node ? node->m_pParent : nullptr; n; n = n->m_pParent)
        if (n == this)
            return true;
    return false;
}

void CTreeNode::LinkUnder(CTreeNode* parent, CTreeNode* after)
{
    CTreeNode* left = after == CTree::kFirst ? nullptr : after ? after : parent->m_pLastChild;
    CTreeNode* right = left ? left->m_pRight : parent->m_pChild;
    m_pParent = parent;
    m_pLeft = left;
    m_pRight = right;
    (left ? left->m_pRight : parent->m_pChild) = this;
    (right ? right->m_pLeft : parent->m_pLastChild) = this;
}

void CTreeNode::Unlink()
{
    if (m_pParent)
    {
        (m_pLeft ? m_pLeft->m_pRight : m_pParent->m_pChild) = m_pRight;
        (m_pRight ? m_pRight->m_pLeft : m_pParent->m_pLastChild) = m_pLeft;
    }
    else if (m_pTree && m_pTree->m_pRoot == this)
    {
        m_pTree->m_pRoot = nullptr;
    }
    m_pParent = m_pLeft = m_pRight = nullptr;
}

size_t CTreeNode::SetBranchTree(CTree* tree)
{
    size_t count = 0;
    for (CTreeNode* n = this; n; n = NextInPreOrder(n, this))
    {
        n->m_pTree = tree;
        ++count;
    }
    return count;
}

void CTreeNode::DetachBranch()
{
    CTree* tree = m_pTree;
    Unlink();
    if (tree)
        tree->m_NodeCount -= SetBranchTree(nullptr);
}

void CTreeNode::DestroyBranch(CTreeNode* top)
{
    // Leaves first: go down to a leaf, unlink it (it is always its parent's first child),
    // destroy it, and carry on with its right sibling or, when it was the last, its parent,
    // which has just become a leaf.
    CTreeNode* n = top;
    while (n)
    {
        if (n->m_pChild)
        {
            n = n->m_pChild;
            continue;
        }
        CTreeNode* parent = n->m_pParent;
        CTreeNode* right = n->m_pRight;
        bool isTop = n == top;
        if (!isTop)
        {
            parent->m_pChild = right;
            (right ? right->m_pLeft : parent->m_pLastChild) = nullptr;
        }
        n->m_pParent = n->m_pLeft = n->m_pRight = nullptr;
        n->m_pTree = nullptr;
        n->Delete();
        if (isTop)
            break;
        n = right ? right : parent;
    }
}

// ---------------------------------------------------------------- tree

CTree::~CTree()
{
    RemoveAll();
}

void CTree::RemoveAll()
{
    CTreeNode* root = m_pRoot;
    m_pRoot = nullptr;
    m_NodeCount = 0;
    if (root)
        CTreeNode::DestroyBranch(root);
}

bool CTree::IsPosition(const CTreeNode* parent, const CTreeNode* after)
{
    return after == kLast || after == kFirst || after->m_pParent == parent;
}

namespace
{
// Whether node is the top of a detached branch, the only kind of node a tree accepts.
bool IsDetachedTop(const CTreeNode* node)
{
    return node && node != CTree::kFirst && !node->GetParent() && !node->GetTree();
}
} // namespace

void CTree::Install(CTreeNode* root)
{
    RemoveAll();
    if (root)
    {
        m_pRoot = root;
        m_NodeCount = root->SetBranchTree(this);
    }
}

bool CTree::SetRoot(CTreeNode* root)
{
    if (root == m_pRoot)
        return true;
    if (root && !IsDetachedTop(root))
        return false;
    Install(root);
    return true;
}

bool CTree::InsertNode(CTreeNode* node, CTreeNode* parent, CTreeNode* after)
{
    if (!IsDetachedTop(node))
        return false;
    if (!parent)
    {
        if (m_pRoot || !(after == kLast || after == kFirst))
            return false;
        Install(node);
        return true;
    }
    if (!HasNode(parent) || !IsPosition(parent, after))
        return false;
    node->LinkUnder(parent, after);
    m_NodeCount += node->SetBranchTree(this);
    return true;
}

CTreeNode* CTree::RemoveNode(CTreeNode* node)
{
    if (!HasNode(node))
        return nullptr;
    node->DetachBranch();
    return node;
}

bool CTree::DeleteNode(CTreeNode* node)
{
    if (!HasNode(node))
        return false;
    node->DeleteNode();
    return true;
}

CTreeNode* CTree::ReplaceNode(CTreeNode* oldNode, CTreeNode* newNode)
{
    if (!HasNode(oldNode) || !IsDetachedTop(newNode))
        return nullptr;
    // Count the new branch before oldNode's children join it: they are counted already.
    size_t added = newNode->SetBranchTree(this);

    newNode->m_pParent = oldNode->m_pParent;
    newNode->m_pLeft = oldNode->m_pLeft;
    newNode->m_pRight = oldNode->m_pRight;
    if (CTreeNode* parent = oldNode->m_pParent)
    {
        (oldNode->m_pLeft ? oldNode->m_pLeft->m_pRight : parent->m_pChild) = newNode;
        (oldNode->m_pRight ? oldNode->m_pRight->m_pLeft : parent->m_pLastChild) = newNode;
    }
    else
    {
        m_pRoot = newNode;
    }

    if (CTreeNode* first = oldNode->m_pChild)
    {
        for (CTreeNode* child = first; child; child = child->m_pRight)
            child->m_pParent = newNode;
        first->m_pLeft = newNode->m_pLastChild;
        (newNode->m_pLastChild ? newNode->m_pLastChild->m_pRight : newNode->m_pChild) = first;
        newNode->m_pLastChild = oldNode->m_pLastChild;
    }

    oldNode->m_pParent = oldNode->m_pLeft = oldNode->m_pRight = nullptr;
    oldNode->m_pChild = oldNode->m_pLastChild = nullptr;
    oldNode->m_pTree = nullptr;
    m_NodeCount = m_NodeCount + added - 1;
    return oldNode;
}

bool CTree::MoveNode(CTreeNode* node, CTreeNode* newParent, CTreeNode* after)
{
    if (!HasNode(node) || !HasNode(newParent) || !IsPosition(newParent, after) || after == node)
        return false;
    if (node == newParent || node->IsAncestorOf(newParent))
        return false;
    node->Unlink();
    node->LinkUnder(newParent, after);
    return true;
}

CTreeNode* CTree::CopyNodes(const CTreeNode* src)
{
    auto destroy = [](CTreeNode* top) { CTreeNode::DestroyBranch(top); };
    std::unique_ptr<CTreeNode, decltype(destroy)> top(src->Copy(), destroy);
    if (!top)
        return nullptr;
    // Walk the source in pre-order, keeping `copy` on the copy of `node`, so that each new
    // copy is appended under the copy of its parent.
    const CTreeNode* node = src;
    CTreeNode* copy = top.get();
    for (;;)
    {
        CTreeNode* copyParent = nullptr;
        if (node->m_pChild)
        {
            node = node->m_pChild;
            copyParent = copy;
        }
        else
        {
            while (node != src && !node->m_pRight)
            {
                node = node->m_pParent;
                copy = copy->m_pParent;
            }
            if (node == src)
                break;
            node = node->m_pRight;
            copyParent = copy->m_pParent;
        }
        CTreeNode* next = node->Copy();
        if (!next)
            return nullptr;
        next->LinkUnder(copyParent, kLast);
        copy = next;
    }
    return top.release();
}

CTreeNode* CTree::CopyBranch(const CTreeNode* src, CTreeNode* parent, CTreeNode* after)
{
    if (!src || src == kFirst)
        return nullptr;
    bool placeOk = parent ? HasNode(parent) && IsPosition(parent, after)
                          : !m_pRoot && (after == kLast || after == kFirst);
    if (!placeOk)
        return nullptr;
    CTreeNode* copy = CopyNodes(src);
    if (!copy)
        return nullptr;
    if (!InsertNode(copy, parent, after))
    {
        // Only a Copy() that edited this tree could get here; do not leak the copy.
        CTreeNode::DestroyBranch(copy);
        return nullptr;
    }
    return copy;
}

bool CTree::CopyTree(const CTree& src)
{
    if (&src == this)
        return true;
    CTreeNode* root = nullptr;
    if (src.m_pRoot && !(root = CopyNodes(src.m_pRoot)))
        return false;
    Install(root);
    return true;
}

bool CTree::Sort(CTreeNode* node, const CNodeLess& less)
{
    if (!HasNode(node) || !less)
        return false;
    std::vector<CTreeNode*> children;
    for (CTreeNode* child = node->m_pChild; child; child = child->m_pRight)
        children.push_back(child);
    if (children.size() < 2)
        return true;
    // Sort aside and relink only afterwards, so that a comparison that throws leaves the
    // children as they were.
    std::stable_sort(children.begin(), children.end(), less);
    CTreeNode* left = nullptr;
    for (CTreeNode* child : children)
    {
        child->m_pLeft = left;
        (left ? left->m_pRight : node->m_pChild) = child;
        left = child;
    }
    left->m_pRight = nullptr;
    node->m_pLastChild = left;
    return true;
}

CTreeNode* CTree::GetFirstNode(const CTreeNode* start)
{
    return const_cast<CTreeNode*>(std::as_const(*this).GetFirstNode(start));
}

const CTreeNode* CTree::GetFirstNode(const CTreeNode* start) const
{
    if (!start)
        return m_pRoot;
    return HasNode(start) ? start->m_pChild : nullptr;
}

CTreeNode* CTree::GetNextNode(const CTreeNode* node, const CTreeNode* end)
{
    return const_cast<CTreeNode*>(std::as_const(*this).GetNextNode(node, end));
}

const CTreeNode* CTree::GetNextNode(const CTreeNode* node, const CTreeNode* end) const
{
    return HasNode(node) ? NextInPreOrder(node, end) : nullptr;
}

void CTree::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        // Indices are 32-bit and 0xFFFFFFFF marks the root.
        if (m_NodeCount >= kZanNone)
            throw CXArchiveException(CXArchiveException::_BadCount,
                                     "tree: too many nodes for 32-bit indices");
        ar.WriteCount(m_NodeCount);
        std::vector<uint32_t> ancestors; // pre-order indices of the current node's ancestors
        uint32_t index = 0;
        for (CTreeNode* node = m_pRoot; node; ++index)
        {
            ar << (ancestors.empty() ? kZanNone : ancestors.back());
            ar.WriteClass(node->GetRuntimeClassDescriptor());
            node->Serialize(ar);
            if (node->m_pChild)
            {
                ancestors.push_back(index);
                node = node->m_pChild;
                continue;
            }
            while (node && !node->m_pRight)
            {
                node = node->m_pParent;
                if (node)
                    ancestors.pop_back();
            }
            if (node)
                node = node->m_pRight;
        }
        return;
    }

    uint64_t count = ar.ReadCount(kMinArchivedNodeBytes, kZanNone);
    auto destroy = [](CTreeNode* top) { CTreeNode::DestroyBranch(top); };
    std::unique_ptr<CTreeNode, decltype(destroy)> built(nullptr, destroy);
    // The path from the root to the last node read, with pre-order indices. In pre-order a
    // node's parent is the previous node or one of its ancestors, so it is on this path;
    // insisting on that keeps loading linear and a reloaded tree stores the same bytes.
    std::vector<std::pair<uint64_t, CTreeNode*>> path;
    for (uint64_t index = 0; index < count; ++index)
    {
        uint32_t parentIndex;
        ar >> parentIndex;
        CTreeNode* parent = nullptr;
        if (index == 0)
        {
            if (parentIndex != kZanNone)
                ThrowBadValue("the first node has a parent");
        }
        else
        {
            if (parentIndex == kZanNone)
                ThrowBadValue("a second root at node " + std::to_string(index));
            if (parentIndex >= index)
                ThrowBadValue("node " + std::to_string(index) + " has the parent " +
                              std::to_string(parentIndex) + ", which does not come before it");
            while (path.back().first > parentIndex)
                path.pop_back();
            if (path.back().first != parentIndex)
                ThrowBadValue("node " + std::to_string(index) + " has the parent " +
                              std::to_string(parentIndex) + ", out of depth-first order");
            parent = path.back().second;
        }

        const CXRuntimeClass* cls = ar.ReadClass(ZAN_RUNTIME_CLASS(CTreeNode));
        if (!cls)
            throw CXArchiveException(CXArchiveException::_BadClass, "tree: a node without class");
        std::unique_ptr<CXObject> object(cls->CreateObject());
        CTreeNode* node = dynamic_cast<CTreeNode*>(object.get());
        if (!node)
            throw CXArchiveException(CXArchiveException::_BadClass,
                                     std::string("tree: class ") + cls->m_ClassName +
                                         " cannot be created as a node");
        object.release();
        if (parent)
            node->LinkUnder(parent, kLast);
        else
            built.reset(node);
        path.emplace_back(index, node);
        node->Serialize(ar);
    }
    Install(built.release());
}
