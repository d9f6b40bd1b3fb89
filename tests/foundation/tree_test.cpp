// Tests of CTree and CTreeNode. Shapes are compared as text ("A(B(D,E),C)": a node's display
// name, then its children in brackets), and every edit is followed by a check of all the
// links, so that a wrong sibling or parent pointer cannot hide behind a right-looking walk.
// Random edits are replayed on a plain reference model. Archives are checked for round trips
// of mixed node classes, identical bytes, the exact layout, and every kind of bad input.
#include <3dzan/foundation/tree.h>

#include <3dzan/foundation/xarchive.h>

#include "common/zan_test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

using zantest::ArchiveFails;
using zantest::StoreToBytes;

namespace
{
// A node with content; counts live instances so that failure paths can be checked for leaks
// even without the address sanitizer.
class CTreeTestNamedNode : public CTreeNode
{
    ZAN_DECLARE_DYNCREATE(CTreeTestNamedNode)

public:
    CTreeTestNamedNode() { ++s_Live; }
    CTreeTestNamedNode(const char* name, int number) : m_Name(name), m_Number(number) { ++s_Live; }
    ~CTreeTestNamedNode() override
    {
        --s_Live;
        // The tree unlinks a node completely before destroying it; a destructor that looks
        // at its links must never find freed neighbours.
        if (GetParent() || GetChild() || GetLastChild() || GetLeft() || GetRight() || GetTree())
            ++s_DestroyedLinked;
    }
    void Serialize(CXArchive& ar) override
    {
        CTreeNode::Serialize(ar);
        ZanSerialize(ar, m_Name);
        ZanSerialize(ar, m_Number);
    }
    CXTString GetDisplayName() const override { return m_Name; }

    CXTString m_Name;
    int32_t m_Number = 0;
    static inline int s_Live = 0;
    static inline int s_DestroyedLinked = 0;
};

// A further derived node with a value of its own.
class CTreeTestValueNode : public CTreeTestNamedNode
{
    ZAN_DECLARE_DYNCREATE(CTreeTestValueNode)

public:
    CTreeTestValueNode() = default;
    CTreeTestValueNode(const char* name, int number, double value)
        : CTreeTestNamedNode(name, number), m_Value(value)
    {
    }
    void Serialize(CXArchive& ar) override
    {
        CTreeTestNamedNode::Serialize(ar);
        ZanSerialize(ar, m_Value);
    }
    double m_Value = 0.0;
};

// A node whose class refuses to be copied.
class CTreeTestUncopyableNode : public CTreeTestNamedNode
{
    ZAN_DECLARE_DYNCREATE(CTreeTestUncopyableNode)

public:
    CTreeTestUncopyableNode() = default;
    explicit CTreeTestUncopyableNode(const char* name) : CTreeTestNamedNode(name, 0) {}
    CTreeNode* Copy() const override { return nullptr; }
};

// A node class without a factory, and a serializable class that is not a node: neither may
// come out of a tree archive.
class CTreeTestAbstractNode : public CTreeNode
{
    ZAN_DECLARE_RUNTIME_CLASS(CTreeTestAbstractNode)
};

class CTreeTestNotANode : public CXObject
{
    ZAN_DECLARE_DYNCREATE(CTreeTestNotANode)
};

ZAN_IMPLEMENT_DYNCREATE(CTreeTestNamedNode, CTreeNode)
ZAN_IMPLEMENT_DYNCREATE(CTreeTestValueNode, CTreeTestNamedNode)
ZAN_IMPLEMENT_DYNCREATE(CTreeTestUncopyableNode, CTreeTestNamedNode)
ZAN_IMPLEMENT_RUNTIME_CLASS(CTreeTestAbstractNode, CTreeNode)
ZAN_IMPLEMENT_DYNCREATE(CTreeTestNotANode, CXObject)

CTreeTestNamedNode* MakeNode(const char* name, int number = 0)
{
    return new CTreeTestNamedNode(name, number);
}

// ---------------------------------------------------------------- helpers

std::string RenderBranch(const CTreeNode* node)
{
    std::string text = node->GetDisplayName().str();
    for (const CTreeNode* child = node->GetChild(); child; child = child->GetRight())
        text += (child == node->GetChild() ? "(" : ",") + RenderBranch(child);
    return node->GetChild() ? text + ')' : text;
}

std::string Render(const CTree& tree)
{
    return tree.GetRoot() ? RenderBranch(tree.GetRoot()) : std::string();
}

// Builds a tree of named nodes from its rendering; numbers count the nodes in text order.
void Build(CTree& tree, const std::string& text)
{
    tree.RemoveAll();
    CTreeNode *parent = nullptr, *last = nullptr;
    int number = 0;
    for (size_t i = 0; i < text.size();)
    {
        if (text[i] == '(' || text[i] == ')' || text[i] == ',')
        {
            if (text[i] == '(')
                parent = last;
            else if (text[i] == ')')
                parent = (last = parent)->GetParent();
            ++i;
            continue;
        }
        size_t end = std::min(text.find_first_of("(),", i), text.size());
        last = MakeNode(text.substr(i, end - i).c_str(), number++);
        EXPECT_TRUE(tree.InsertNode(last, parent));
        i = end;
    }
}

// Checks every link of the tree against its neighbours, and the node count. Iterative, so
// that it also serves for the deep trees.
::testing::AssertionResult IsConsistent(const CTree& tree)
{
    const CTreeNode* root = tree.GetRoot();
    if (root && (root->GetParent() || root->GetLeft() || root->GetRight()))
        return ::testing::AssertionFailure() << "the root has a parent or siblings";
    std::vector<const CTreeNode*> pending;
    if (root)
        pending.push_back(root);
    size_t count = 0;
    while (!pending.empty())
    {
        const CTreeNode* node = pending.back();
        pending.pop_back();
        if (++count > tree.GetNodeNbr())
            return ::testing::AssertionFailure() << "more nodes than " << tree.GetNodeNbr();
        if (node->GetTree() != &tree)
            return ::testing::AssertionFailure() << RenderBranch(node) << " has a wrong tree";
        const CTreeNode* previous = nullptr;
        for (const CTreeNode* child = node->GetChild(); child; child = child->GetRight())
        {
            if (child->GetParent() != node || child->GetLeft() != previous)
                return ::testing::AssertionFailure()
                       << "bad parent or left link under " << node->GetDisplayName().str();
            pending.push_back(child);
            previous = child;
        }
        if (node->GetLastChild() != previous)
            return ::testing::AssertionFailure()
                   << "bad last child under " << node->GetDisplayName().str();
    }
    if (count != tree.GetNodeNbr())
        return ::testing::AssertionFailure()
               << count << " nodes reachable, " << tree.GetNodeNbr() << " counted";
    return ::testing::AssertionSuccess();
}

// The shape as text, and links and count that agree with it.
::testing::AssertionResult HasShape(const CTree& tree, const std::string& shape)
{
    if (Render(tree) != shape)
        return ::testing::AssertionFailure() << Render(tree) << " instead of " << shape;
    return IsConsistent(tree);
}

CTreeNode* Find(CTree& tree, const char* name)
{
    for (CTreeNode* node = tree.GetFirstNode(); node; node = tree.GetNextNode(node))
        if (node->GetDisplayName() == name)
            return node;
    ADD_FAILURE() << "no node " << name;
    return nullptr;
}

std::string WalkNames(const CTree& tree, const CTreeNode* first, const CTreeNode* end)
{
    std::string names;
    for (const CTreeNode* node = first; node; node = tree.GetNextNode(node, end))
        names += node->GetDisplayName().str();
    return names;
}

std::vector<uint8_t> Store(CTree& tree)
{
    return StoreToBytes([&](CXArchive& ar) { tree.Serialize(ar); });
}

void Load(CTree& tree, const std::vector<uint8_t>& bytes, size_t size = SIZE_MAX)
{
    zantest::LoadFromBytes(
        bytes, [&](CXArchive& ar) { tree.Serialize(ar); }, size);
}

// "root(a(b,c(d)),e)" with three node classes and distinct content in each node.
void BuildMixed(CTree& tree)
{
    tree.RemoveAll();
    CTreeNode* root = new CTreeTestNamedNode("root", 1);
    ASSERT_TRUE(tree.SetRoot(root));
    CTreeNode* a = new CTreeTestValueNode("a", 2, 0.25);
    ASSERT_TRUE(tree.InsertNode(a, root));
    ASSERT_TRUE(tree.InsertNode(new CTreeNode, a));
    CTreeNode* c = new CTreeTestValueNode("c", -4, 1e300);
    ASSERT_TRUE(tree.InsertNode(c, a));
    ASSERT_TRUE(tree.InsertNode(new CTreeTestNamedNode("d", 5), c));
    ASSERT_TRUE(tree.InsertNode(new CTreeTestValueNode("e", 6, -3.5), root));
}

// Compares class, content and shape of two trees node by node in walk order.
void ExpectSameNodes(const CTree& expected, const CTree& actual)
{
    EXPECT_EQ(Render(expected), Render(actual));
    EXPECT_TRUE(IsConsistent(actual));
    const CTreeNode* e = expected.GetFirstNode();
    const CTreeNode* a = actual.GetFirstNode();
    for (; e && a; e = expected.GetNextNode(e), a = actual.GetNextNode(a))
    {
        ASSERT_EQ(typeid(*e), typeid(*a));
        EXPECT_NE(e, a);
        EXPECT_EQ(e->GetDepth(), a->GetDepth());
        if (auto* named = dynamic_cast<const CTreeTestNamedNode*>(e))
        {
            EXPECT_EQ(named->m_Name, static_cast<const CTreeTestNamedNode*>(a)->m_Name);
            EXPECT_EQ(named->m_Number, static_cast<const CTreeTestNamedNode*>(a)->m_Number);
        }
        if (auto* valued = dynamic_cast<const CTreeTestValueNode*>(e))
        {
            EXPECT_EQ(valued->m_Value, static_cast<const CTreeTestValueNode*>(a)->m_Value);
        }
    }
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(a, nullptr);
}

// ---------------------------------------------------------------- nodes

TEST(TreeNode, DisplayNameAndComparison)
{
    EXPECT_EQ(CTreeNode().GetDisplayName(), "CTreeNode");
    CTreeTestValueNode original("x", 7, 2.5);
    EXPECT_FALSE(original == CTreeTestNamedNode("x", 7));   // same name, other class
    EXPECT_TRUE(original == CTreeTestValueNode("x", 1, 9)); // the base compares class and name
    EXPECT_FALSE(original == CTreeTestValueNode("y", 7, 2.5));
    EXPECT_EQ(CTreeTestUncopyableNode("u").Copy(), nullptr);
}

TEST(TreeNode, DestroyingLinkedNodesKeepsTheTreeSound)
{
    // Nodes are normally destroyed by the tree; one destroyed in place takes its subtree with
    // it and leaves no dangling link behind.
    int live = CTreeTestNamedNode::s_Live;
    CTree tree;
    Build(tree, "A(B(D,E(G)),C(F))");
    Find(tree, "B")->Delete();
    EXPECT_TRUE(HasShape(tree, "A(C(F))"));
    Find(tree, "C")->DeleteNode();
    EXPECT_TRUE(HasShape(tree, "A"));
    delete tree.GetRoot();
    EXPECT_TRUE(tree.IsEmpty());
    EXPECT_EQ(tree.GetNodeNbr(), 0u);
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live);

    // A detached branch can be destroyed by its top.
    Build(tree, "A(B(D,E(G)),C(F))");
    tree.RemoveNode(Find(tree, "B"))->DeleteNode();
    EXPECT_EQ(Render(tree), "A(C(F))");
    tree.RemoveAll();
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live);
}

// ---------------------------------------------------------------- walks

// Walks of every subtree are checked against the model below; here, the walks that do not
// start inside the subtree they are bounded by.
TEST(TreeWalk, PreOrderOfConstTreesAndOfForeignNodes)
{
    CTree tree, other;
    EXPECT_EQ(tree.GetFirstNode(), nullptr);
    Build(tree, "A(B(D,E(G)),C(F))");
    const CTree& constTree = tree;
    EXPECT_EQ(WalkNames(constTree, constTree.GetFirstNode(), nullptr), "ABDEGCF");
    // A bound that is not an ancestor bounds nothing; nor does a null one.
    EXPECT_EQ(WalkNames(tree, Find(tree, "G"), Find(tree, "D")), "GCF");
    EXPECT_EQ(tree.GetNextNode(Find(tree, "G"), nullptr)->GetDisplayName(), "C");
    // Nodes of another tree or of no tree are not walked.
    Build(other, "X(Y)");
    EXPECT_EQ(tree.GetNextNode(other.GetRoot()), nullptr);
    EXPECT_EQ(tree.GetFirstNode(other.GetRoot()), nullptr);
    EXPECT_EQ(tree.GetNextNode(nullptr), nullptr);
}

// A plain model of the tree: children lists by node number, walked recursively.
struct CModel
{
    std::vector<int> m_Parent;
    std::vector<std::vector<int>> m_Children;
    std::vector<bool> m_Alive;

    int Add()
    {
        m_Parent.push_back(-1);
        m_Children.emplace_back();
        m_Alive.push_back(true);
        return int(m_Parent.size()) - 1;
    }
    void Link(int node, int parent, int afterPos) // afterPos: -1 first, size() last
    {
        m_Parent[node] = parent;
        m_Children[parent].insert(m_Children[parent].begin() + (afterPos + 1), node);
    }
    void Unlink(int node)
    {
        auto& list = m_Children[m_Parent[node]];
        list.erase(std::find(list.begin(), list.end(), node));
        m_Parent[node] = -1;
    }
    bool IsAncestor(int ancestor, int node) const
    {
        for (int n = m_Parent[node]; n >= 0; n = m_Parent[n])
            if (n == ancestor)
                return true;
        return false;
    }
    void Kill(int node)
    {
        m_Alive[node] = false;
        for (int child : m_Children[node])
            Kill(child);
    }
    // Rendered as the tree is, or in pre-order without brackets.
    std::string Render(int node, bool brackets = true) const
    {
        std::string text = "n" + std::to_string(node);
        for (size_t i = 0; i < m_Children[node].size(); ++i)
            text += (brackets ? (i ? "," : "(") : "") + Render(m_Children[node][i], brackets);
        return brackets && !m_Children[node].empty() ? text + ')' : text;
    }
};

TEST(TreeWalk, RandomEditsMatchAReferenceModel)
{
    std::mt19937 rng(20240611);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    CTree tree;
    CModel model;
    std::vector<CTreeNode*> nodes;
    auto makeNode = [&]()
    {
        int id = model.Add();
        nodes.push_back(MakeNode(("n" + std::to_string(id)).c_str(), id));
        return id;
    };
    auto randomAlive = [&]()
    {
        for (;;)
            if (int id = pick(int(nodes.size())); model.m_Alive[id])
                return id;
    };
    // A position among the children of parent: the tree's argument and the model's index.
    auto randomPlace = [&](int parent, int exclude, CTreeNode*& after, int& afterPos)
    {
        std::vector<int> candidates;
        for (int child : model.m_Children[parent])
            if (child != exclude)
                candidates.push_back(child);
        int choice = pick(int(candidates.size()) + 2);
        after = choice == 0   ? CTree::kFirst
                : choice == 1 ? CTree::kLast
                              : nodes[size_t(candidates[size_t(choice - 2)])];
        afterPos = choice == 0 ? -1 : choice == 1 ? int(candidates.size()) - 1 : choice - 2;
    };

    int root = makeNode();
    ASSERT_TRUE(tree.SetRoot(nodes[0]));
    for (int step = 0; step < 1500; ++step)
    {
        int op = pick(10);
        CTreeNode* after;
        int afterPos;
        if (op < 6 || tree.GetNodeNbr() < 5) // insert
        {
            int parent = randomAlive();
            randomPlace(parent, -1, after, afterPos);
            int id = makeNode();
            ASSERT_TRUE(tree.InsertNode(nodes[size_t(id)], nodes[size_t(parent)], after));
            model.Link(id, parent, afterPos);
        }
        else if (op < 9) // move, refused exactly when the model says it would loop
        {
            int node = randomAlive(), parent = randomAlive();
            randomPlace(parent, node, after, afterPos);
            bool allowed = node != parent && !model.IsAncestor(node, parent);
            ASSERT_EQ(tree.MoveNode(nodes[size_t(node)], nodes[size_t(parent)], after), allowed);
            if (allowed)
            {
                model.Unlink(node);
                model.Link(node, parent, afterPos);
            }
        }
        else if (int node = randomAlive(); node != root) // delete a branch below the root
        {
            ASSERT_TRUE(tree.DeleteNode(nodes[size_t(node)]));
            model.Unlink(node);
            model.Kill(node);
        }
        ASSERT_TRUE(HasShape(tree, model.Render(root))) << "step " << step;
    }

    // Every bounded walk lists exactly the node's subtree in the model's order.
    for (size_t id = 0; id < nodes.size(); ++id)
    {
        if (!model.m_Alive[id])
            continue;
        EXPECT_EQ(WalkNames(tree, nodes[id], nodes[id]), model.Render(int(id), false));
        EXPECT_EQ(tree.GetFirstNode(nodes[id]), nodes[id]->GetChild());
    }
}

// ---------------------------------------------------------------- edits

// Insertions and moves at every place are checked against the model above; here, what must
// be refused, whole branches and new roots.
TEST(TreeEdit, InsertMoveAndSetRootRefuseBadArgumentsAndTakeWholeBranches)
{
    CTree tree, other;
    EXPECT_FALSE(tree.InsertNode(nullptr, nullptr));
    Build(tree, "A(C,E,B(G),D)");
    Build(other, "X(Y)");
    CTreeNode *a = tree.GetRoot(), *b = Find(tree, "B"), *c = Find(tree, "C");
    std::unique_ptr<CTreeNode> loose(MakeNode("L"));
    EXPECT_TRUE(
        zantest::AllRefused({tree.InsertNode(loose.get(), nullptr),           // the tree has a root
                             tree.InsertNode(b, a),                           // already in the tree
                             tree.InsertNode(other.GetRoot()->GetChild(), a), // in another tree
                             tree.InsertNode(loose.get(), other.GetRoot()),   // parent elsewhere
                             tree.InsertNode(loose.get(), b, c), // after: not B's child
                             tree.InsertNode(CTree::kFirst, a),  // the position mark
                             tree.MoveNode(b, Find(tree, "G")),  // under its own descendant
                             tree.MoveNode(b, b),                // under itself
                             tree.MoveNode(a, c),                // the root is everyone's ancestor
                             tree.MoveNode(c, a, c),             // after itself
                             tree.MoveNode(c, b, Find(tree, "D")), // after: not B's child
                             tree.MoveNode(c, other.GetRoot()),    // to another tree
                             tree.MoveNode(other.GetRoot(), b), tree.MoveNode(nullptr, b),
                             tree.MoveNode(c, nullptr), tree.SetRoot(other.GetRoot())}));
    EXPECT_TRUE(HasShape(tree, "A(C,E,B(G),D)"));
    EXPECT_EQ(Render(other), "X(Y)");
    EXPECT_EQ(loose->GetTree(), nullptr);
    // A node inside a detached branch is not its top; the top joins whole, counted whole.
    CTreeNode* branch = other.RemoveNode(other.GetRoot());
    EXPECT_FALSE(tree.InsertNode(branch->GetChild(), a));
    ASSERT_TRUE(tree.InsertNode(branch, b, CTree::kFirst));
    EXPECT_TRUE(HasShape(tree, "A(C,E,B(X(Y),G),D)"));

    // SetRoot replaces and destroys the old nodes.
    int live = CTreeTestNamedNode::s_Live;
    auto* r = MakeNode("R");
    ASSERT_TRUE(tree.SetRoot(r));
    EXPECT_TRUE(tree.SetRoot(r)); // the current root: nothing changes
    EXPECT_TRUE(HasShape(tree, "R"));
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live + 1 - 8);
    EXPECT_TRUE(tree.SetRoot(nullptr));
    EXPECT_TRUE(tree.IsEmpty());
}

TEST(TreeEdit, RemoveDeleteAndReplace)
{
    int live = CTreeTestNamedNode::s_Live;
    int linked = CTreeTestNamedNode::s_DestroyedLinked;
    CTree tree, spare;
    Build(tree, "A(B(D,E),C)");
    CTreeNode* b = Find(tree, "B");
    ASSERT_EQ(tree.RemoveNode(b), b);
    EXPECT_TRUE(HasShape(tree, "A(C)"));
    EXPECT_EQ(RenderBranch(b), "B(D,E)");
    EXPECT_TRUE(!b->GetParent() && !b->GetRight() && !b->GetTree() && !b->GetChild()->GetTree());
    EXPECT_TRUE(zantest::AllRefused(
        {tree.RemoveNode(b) != nullptr, tree.DeleteNode(b), tree.RemoveNode(nullptr) != nullptr}));
    ASSERT_TRUE(tree.InsertNode(b, Find(tree, "C")));
    EXPECT_TRUE(tree.DeleteNode(Find(tree, "D")));
    EXPECT_TRUE(HasShape(tree, "A(C(B(E)))"));
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live + 4);
    // The root goes too, leaving an empty tree.
    CTreeNode* root = tree.RemoveNode(tree.GetRoot());
    EXPECT_TRUE(HasShape(tree, ""));
    EXPECT_TRUE(tree.SetRoot(root));
    EXPECT_TRUE(tree.DeleteNode(root));
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live);

    // Replace moves the old node's children under the new one, after its own.
    Build(tree, "A(B(D,E),C)");
    Build(spare, "X(Y)");
    CTreeNode* x = spare.RemoveNode(spare.GetRoot());
    b = Find(tree, "B");
    ASSERT_EQ(tree.ReplaceNode(b, x), b);
    EXPECT_TRUE(HasShape(tree, "A(X(Y,D,E),C)"));
    EXPECT_EQ(RenderBranch(b), "B");
    EXPECT_TRUE(!b->GetTree() && !b->GetParent() && !b->GetRight());
    // The root can be replaced, and the old node reused elsewhere.
    CTreeNode* oldRoot = tree.ReplaceNode(tree.GetRoot(), b);
    EXPECT_TRUE(HasShape(tree, "B(X(Y,D,E),C)"));
    ASSERT_TRUE(tree.InsertNode(oldRoot, Find(tree, "C")));
    // Refusals change nothing.
    std::unique_ptr<CTreeNode> loose(MakeNode("L")), spareNode(MakeNode("S"));
    CTreeNode* y = Find(tree, "Y");
    EXPECT_TRUE(zantest::AllRefused({tree.ReplaceNode(y, Find(tree, "D")) != nullptr,
                                     tree.ReplaceNode(loose.get(), spareNode.get()) != nullptr,
                                     tree.ReplaceNode(y, nullptr) != nullptr,
                                     tree.ReplaceNode(y, CTree::kFirst) != nullptr}));
    EXPECT_TRUE(HasShape(tree, "B(X(Y,D,E),C(A))"));

    // Deleting a wide branch destroys each node with all its links already cleared.
    Build(tree, "A(B(C,D(E,F,G),H(I(J,K),L)),M(N,O))");
    ASSERT_TRUE(tree.DeleteNode(Find(tree, "B")));
    tree.RemoveAll();
    loose.reset();
    spareNode.reset();
    EXPECT_EQ(CTreeTestNamedNode::s_DestroyedLinked, linked);
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live);
}

TEST(TreeEdit, CopyBranchCopiesClassesContentAndShape)
{
    CTree tree;
    BuildMixed(tree); // root(a(CTreeNode,c(d)),e)
    // Classes and content come through the nodes' Copy, as for CopyTree below.
    CTreeNode* copy = tree.CopyBranch(Find(tree, "a"), Find(tree, "e"));
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(HasShape(tree, "root(a(CTreeNode,c(d)),e(a(CTreeNode,c(d))))"));
    ASSERT_EQ(typeid(*copy->GetLastChild()), typeid(CTreeTestValueNode));
    EXPECT_EQ(static_cast<const CTreeTestValueNode*>(copy->GetLastChild())->m_Value, 1e300);

    // A branch copied under its own descendant is copied as it was before the copy.
    Build(tree, "A(B(D,E),C)");
    ASSERT_NE(tree.CopyBranch(Find(tree, "B"), Find(tree, "D"), CTree::kFirst), nullptr);
    EXPECT_EQ(Render(tree), "A(B(D(B(D,E)),E),C)");
    ASSERT_NE(tree.CopyBranch(Find(tree, "E"), tree.GetRoot(), CTree::kFirst), nullptr);
    EXPECT_TRUE(HasShape(tree, "A(E,B(D(B(D,E)),E),C)"));

    // From another tree, and into an empty tree as its root.
    CTree other;
    ASSERT_NE(other.CopyBranch(Find(tree, "B"), nullptr), nullptr);
    EXPECT_TRUE(HasShape(other, "B(D(B(D,E)),E)"));
}

TEST(TreeEdit, FailedCopiesLeaveTheTargetAsItWas)
{
    int live = CTreeTestNamedNode::s_Live;
    {
        CTree source, target;
        Build(source, "A(B(D,E),C)");
        ASSERT_TRUE(source.InsertNode(new CTreeTestUncopyableNode("U"), Find(source, "E")));
        Build(target, "X(Y)");
        EXPECT_EQ(target.CopyBranch(Find(source, "B"), target.GetRoot()), nullptr);
        EXPECT_FALSE(target.CopyTree(source));
        EXPECT_TRUE(HasShape(target, "X(Y)"));
        // Copying what can be copied still works.
        EXPECT_NE(target.CopyBranch(Find(source, "D"), target.GetRoot()), nullptr);
        EXPECT_EQ(Render(target), "X(Y,D)");

        // Bad places are refused before anything is copied.
        CTreeNode* d = Find(source, "D");
        EXPECT_EQ(target.CopyBranch(d, nullptr), nullptr); // the tree has a root
        EXPECT_EQ(target.CopyBranch(d, Find(source, "C")), nullptr);
        EXPECT_EQ(target.CopyBranch(d, target.GetRoot(), Find(source, "C")), nullptr);
        EXPECT_EQ(target.CopyBranch(nullptr, target.GetRoot()), nullptr);
        EXPECT_EQ(Render(target), "X(Y,D)");
        EXPECT_EQ(Render(source), "A(B(D,E(U)),C)");
    }
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live);
}

TEST(TreeEdit, CopyTreeMakesAnIndependentCopy)
{
    CTree source, copy, empty;
    BuildMixed(source);
    Build(copy, "X(Y)");
    ASSERT_TRUE(copy.CopyTree(source));
    ExpectSameNodes(source, copy);
    EXPECT_TRUE(copy.CopyTree(copy));
    ExpectSameNodes(source, copy);

    // Editing one does not touch the other.
    static_cast<CTreeTestNamedNode*>(Find(copy, "a"))->m_Name = "z";
    ASSERT_TRUE(copy.DeleteNode(Find(copy, "e")));
    EXPECT_EQ(Render(source), "root(a(CTreeNode,c(d)),e)");
    EXPECT_EQ(Render(copy), "root(z(CTreeNode,c(d)))");
    EXPECT_TRUE(copy.CopyTree(empty));
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_EQ(copy.GetNodeNbr(), 0u);
}

TEST(TreeEdit, SortIsStableAndOnlyReordersChildren)
{
    CTree tree;
    Build(tree, "R(c1,a2(x,y),b1,d2,e0)");
    auto byDigit = [](const CTreeNode* l, const CTreeNode* r)
    { return l->GetDisplayName().str().back() < r->GetDisplayName().str().back(); };
    auto byName = [](const CTreeNode* l, const CTreeNode* r)
    { return l->GetDisplayName() < r->GetDisplayName(); };
    ASSERT_TRUE(tree.Sort(tree.GetRoot(), byDigit));
    EXPECT_TRUE(HasShape(tree, "R(e0,c1,b1,a2(x,y),d2)"));
    ASSERT_TRUE(tree.Sort(tree.GetRoot(), byName));
    EXPECT_TRUE(HasShape(tree, "R(a2(x,y),b1,c1,d2,e0)"));
    EXPECT_TRUE(tree.Sort(Find(tree, "x"), byName)); // no children: nothing to do

    // A throwing comparison leaves the order as it was.
    auto throwing = [](const CTreeNode* l, const CTreeNode*) -> bool
    {
        if (l->GetDisplayName() == "c1")
            throw std::runtime_error("compare");
        return false;
    };
    EXPECT_THROW(tree.Sort(tree.GetRoot(), throwing), std::runtime_error);
    EXPECT_TRUE(HasShape(tree, "R(a2(x,y),b1,c1,d2,e0)"));

    // Enough children that the sort cannot be a small insertion sort, with many equal keys:
    // children of equal key keep their order.
    CTree wide;
    Build(wide, "W");
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(
            wide.InsertNode(MakeNode(std::to_string(i * 7 % 5).c_str(), i), wide.GetRoot()));
    ASSERT_TRUE(wide.Sort(wide.GetRoot(), byName));
    EXPECT_TRUE(IsConsistent(wide));
    for (const CTreeNode* child = wide.GetRoot()->GetChild(); child->GetRight();
         child = child->GetRight())
    {
        auto* l = static_cast<const CTreeTestNamedNode*>(child);
        auto* r = static_cast<const CTreeTestNamedNode*>(child->GetRight());
        ASSERT_TRUE(l->m_Name < r->m_Name || (l->m_Name == r->m_Name && l->m_Number < r->m_Number))
            << l->m_Name.str() << l->m_Number << " before " << r->m_Name.str() << r->m_Number;
    }

    CTree other;
    Build(other, "X(Z,Y)");
    EXPECT_FALSE(tree.Sort(other.GetRoot(), byName));
    EXPECT_FALSE(tree.Sort(tree.GetRoot(), CTree::CNodeLess()));
    EXPECT_EQ(Render(other), "X(Z,Y)");
}

// ---------------------------------------------------------------- archives

TEST(TreeArchive, MixedClassesRoundTripThroughMemoryAndDisk)
{
    CTree source, loaded, fromDisk;
    BuildMixed(source);
    std::vector<uint8_t> bytes = Store(source);
    Build(loaded, "X(Y(Z))"); // loading replaces what was there
    Load(loaded, bytes);
    ExpectSameNodes(source, loaded);
    EXPECT_EQ(loaded.GetNodeNbr(), 6u);
    EXPECT_EQ(Store(loaded), bytes);

    zantest::CTempDir dir;
    ASSERT_TRUE(
        zantest::StoreToFile(dir.File("tree.bin"), [&](CXArchive& ar) { source.Serialize(ar); }));
    ASSERT_TRUE(zantest::LoadFromFile(dir.File("tree.bin"),
                                      [&](CXArchive& ar) { fromDisk.Serialize(ar); }));
    ExpectSameNodes(source, fromDisk);
    EXPECT_EQ(Store(fromDisk), bytes);
}

TEST(TreeArchive, LayoutIsCountThenParentClassAndContentInPreOrder)
{
    CTree tree;
    ASSERT_TRUE(tree.SetRoot(new CTreeNode));
    ASSERT_TRUE(tree.InsertNode(new CTreeTestNamedNode("a", 3), tree.GetRoot()));
    ASSERT_TRUE(tree.InsertNode(new CTreeNode, tree.GetRoot()->GetChild()));
    ASSERT_TRUE(tree.InsertNode(new CTreeNode, tree.GetRoot()));
    EXPECT_EQ(Store(tree), StoreToBytes(
                               [](CXArchive& ar)
                               {
                                   ar.WriteCount(4);
                                   ar << uint32_t(0xFFFFFFFF);
                                   ar.WriteClass(ZAN_RUNTIME_CLASS(CTreeNode));
                                   ar << uint32_t(0);
                                   ar.WriteClass(ZAN_RUNTIME_CLASS(CTreeTestNamedNode));
                                   ar << CXTString("a") << int32_t(3);
                                   ar << uint32_t(1);
                                   ar.WriteClass(ZAN_RUNTIME_CLASS(CTreeNode));
                                   ar << uint32_t(0);
                                   ar.WriteClass(ZAN_RUNTIME_CLASS(CTreeNode));
                               }));

    // An empty tree is a count of 0, and loading it empties a tree.
    CTree empty;
    std::vector<uint8_t> zero = Store(empty);
    EXPECT_EQ(zero, StoreToBytes([](CXArchive& ar) { ar.WriteCount(0); }));
    Load(tree, zero);
    EXPECT_TRUE(tree.IsEmpty());
    EXPECT_EQ(tree.GetNodeNbr(), 0u);
}

// Loads bytes that must be refused and checks that the target tree did not change.
void ExpectRefused(const std::vector<uint8_t>& bytes, CXArchiveException::Cause cause)
{
    int live = CTreeTestNamedNode::s_Live;
    int linked = CTreeTestNamedNode::s_DestroyedLinked;
    CTree target;
    Build(target, "X(Y)");
    EXPECT_TRUE(ArchiveFails([&] { Load(target, bytes); }, cause));
    EXPECT_TRUE(HasShape(target, "X(Y)"));
    target.RemoveAll();
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live) << "nodes leaked or freed twice";
    EXPECT_EQ(CTreeTestNamedNode::s_DestroyedLinked, linked);
}

TEST(TreeMalformed, EveryTruncationIsRefusedAndChangesNothing)
{
    CTree source, target;
    BuildMixed(source);
    std::vector<uint8_t> bytes = Store(source);
    int live = CTreeTestNamedNode::s_Live;
    Build(target, "X(Y)");
    for (size_t size = 0; size < bytes.size(); ++size)
    {
        ASSERT_TRUE(ArchiveFails([&] { Load(target, bytes, size); })) << size << " bytes";
        ASSERT_TRUE(HasShape(target, "X(Y)")) << size << " bytes";
        ASSERT_EQ(CTreeTestNamedNode::s_Live, live + 2) << size << " bytes";
    }
}

// An archive written by hand: the count, then each node's parent index and class name, with
// the content of a named node ("n", 0) after that class; then bytes enough to pass the check
// of the count against what remains, unless \p padding is false.
std::vector<uint8_t> Nodes(uint64_t count, std::vector<std::pair<uint32_t, const char*>> nodes,
                           bool padding = true)
{
    return StoreToBytes(
        [&](CXArchive& ar)
        {
            ar.WriteCount(count);
            for (auto [parent, name] : nodes)
            {
                ar << parent;
                ar.WriteString(name);
                if (std::string(name) == "CTreeTestNamedNode")
                    ar << CXTString("n") << int32_t(0);
            }
            if (padding)
                ar << CXTString("padding to pass the count check");
        });
}

TEST(TreeMalformed, BadClassesParentsAndCountsAreRefusedAndChangeNothing)
{
    const uint32_t none = 0xFFFFFFFF;
    const char* named = "CTreeTestNamedNode";
    // Well ordered, the same nodes load: the refusals below are about the indices alone.
    CTree good;
    Load(good,
         Nodes(6, {{none, named}, {0, named}, {1, named}, {1, named}, {0, named}, {4, named}}));
    EXPECT_TRUE(HasShape(good, "n(n(n,n),n(n))"));
    good.RemoveAll();
    using E = CXArchiveException;
    const std::pair<std::vector<uint8_t>, E::Cause> refused[] = {
        // Classes that cannot be nodes, also after valid nodes (thrown away too).
        {Nodes(1, {{none, "CTreeTestNoSuchNode"}}), E::_BadClass},
        {Nodes(1, {{none, "CTreeTestNotANode"}}), E::_BadClass},
        {Nodes(1, {{none, "CTreeTestAbstractNode"}}), E::_BadClass},
        {Nodes(1, {{none, ""}}), E::_BadClass},
        {Nodes(3, {{none, named}, {0, named}, {1, "CTreeTestNoSuchNode"}}), E::_BadClass},
        // A root with a parent, a node its own parent, a parent after its child, a second
        // root, and a parent whose branch was closed by a sibling: not depth-first order.
        {Nodes(1, {{0, named}}), E::_BadValue},
        {Nodes(2, {{none, named}, {1, named}}), E::_BadValue},
        {Nodes(4, {{none, named}, {0, named}, {3, named}, {0, named}}), E::_BadValue},
        {Nodes(3, {{none, named}, {0, named}, {none, named}}), E::_BadValue},
        {Nodes(4, {{none, named}, {0, named}, {0, named}, {1, named}}), E::_BadValue},
        // Counts the bytes cannot hold (each node takes 9 bytes at least), refused before
        // anything is allocated.
        {Nodes(0xFFFFFFFEu, {{none, "CTreeNode"}}, false), E::_BadCount},
        {Nodes(uint64_t(1) << 60, {}, false), E::_BadCount},
        {Nodes(3, {{none, "CTreeNode"}}, false), E::_BadCount}};
    for (size_t i = 0; i < std::size(refused); ++i)
    {
        SCOPED_TRACE("archive " + std::to_string(i));
        ExpectRefused(refused[i].first, refused[i].second);
    }
}

// ---------------------------------------------------------------- deep trees

TEST(TreeDeep, MillionNodeChain)
{
    // Every operation must be a loop, not a recursion over the depth.
#if defined(__SANITIZE_ADDRESS__)
    const size_t count = 200000; // the sanitizer makes each node slow, not the stack bigger
#else
    const size_t count = 1000000;
#endif
    CTree tree;
    CTreeNode* last = new CTreeNode;
    ASSERT_TRUE(tree.SetRoot(last));
    for (size_t i = 1; i < count; ++i)
    {
        CTreeNode* node = new CTreeNode;
        ASSERT_TRUE(tree.InsertNode(node, last));
        last = node;
    }
    EXPECT_EQ(tree.GetNodeNbr(), count);
    EXPECT_EQ(last->GetDepth(), count - 1);
    EXPECT_TRUE(tree.GetRoot()->IsAncestorOf(last));
    EXPECT_TRUE(IsConsistent(tree));
    size_t walked = 0;
    for (CTreeNode* node = tree.GetFirstNode(); node; node = tree.GetNextNode(node))
        ++walked;
    EXPECT_EQ(walked, count);
    EXPECT_EQ(tree.GetNextNode(last, tree.GetRoot()->GetChild()), nullptr);

    // Moving the top of the chain under its bottom climbs the whole chain to find the loop.
    EXPECT_FALSE(tree.MoveNode(tree.GetRoot()->GetChild(), last));
    CTreeNode* beforeLast = last->GetParent();
    ASSERT_TRUE(tree.MoveNode(last, tree.GetRoot(), CTree::kFirst));
    EXPECT_EQ(last->GetDepth(), 1u);
    ASSERT_TRUE(tree.MoveNode(last, beforeLast));
    EXPECT_EQ(last->GetDepth(), count - 1);

    CTree copy, loaded;
    ASSERT_TRUE(copy.CopyTree(tree));
    std::vector<uint8_t> bytes = Store(tree);
    Load(loaded, bytes);
    EXPECT_EQ(loaded.GetNodeNbr(), count);
    EXPECT_TRUE(IsConsistent(loaded));
    EXPECT_EQ(Store(loaded), bytes);
    EXPECT_EQ(Store(copy), bytes);

    // Cut the chain in the middle: remove the lower half, destroy it from its top, then
    // destroy the rest with the tree.
    CTreeNode* middle = loaded.GetRoot();
    for (size_t i = 0; i < count / 2; ++i)
        middle = middle->GetChild();
    ASSERT_EQ(loaded.RemoveNode(middle), middle);
    EXPECT_EQ(loaded.GetNodeNbr(), count / 2);
    middle->DeleteNode();
    ASSERT_TRUE(tree.DeleteNode(tree.GetRoot()->GetChild()));
    EXPECT_EQ(tree.GetNodeNbr(), 1u);
    // copy and loaded go out of scope with their long chains
}
} // namespace
