// Tests of CTree and CTreeNode. Shapes are compared as text ("A(B(D,E),C)": a node's display
// name, then its children in brackets), and every edit is followed by a check of all the
// links, so that a wrong sibling or parent pointer cannot hide behind a right-looking walk.
// Random edits are replayed on a plain reference model. Archives are checked for round trips
// of mixed node classes, identical bytes, the exact layout, and every kind of bad input.
#include <3dzan/foundation/tree.h>

#include <3dzan/foundation/xarchive.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <unistd.h>
#include <vector>

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
    CTreeTestNamedNode(const CTreeTestNamedNode& other)
        : CTreeNode(other), m_Name(other.m_Name), m_Number(other.m_Number)
    {
        ++s_Live;
    }
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
    if (const CTreeNode* first = node->GetChild())
    {
        text += '(';
        for (const CTreeNode* child = first; child; child = child->GetRight())
            text += (child == first ? "" : ",") + RenderBranch(child);
        text += ')';
    }
    return text;
}

std::string Render(const CTree& tree)
{
    return tree.GetRoot() ? RenderBranch(tree.GetRoot()) : std::string();
}

// Builds a tree of named nodes from its rendering; numbers count the nodes in text order.
void Build(CTree& tree, const std::string& text)
{
    tree.RemoveAll();
    CTreeNode* parent = nullptr;
    CTreeNode* last = nullptr;
    int number = 0;
    for (size_t i = 0; i < text.size();)
    {
        char c = text[i];
        if (c == '(')
        {
            parent = last;
            ++i;
        }
        else if (c == ')')
        {
            last = parent;
            parent = parent->GetParent();
            ++i;
        }
        else if (c == ',')
        {
            ++i;
        }
        else
        {
            size_t end = text.find_first_of("(),", i);
            std::string name = text.substr(i, end == std::string::npos ? end : end - i);
            last = MakeNode(name.c_str(), number++);
            EXPECT_TRUE(tree.InsertNode(last, parent));
            i = end == std::string::npos ? text.size() : end;
        }
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
    CXMemFile file;
    CXArchive ar(&file, CXArchive::store);
    tree.Serialize(ar);
    ar.Close();
    return file.Detach();
}

void Load(CTree& tree, const std::vector<uint8_t>& bytes, size_t size)
{
    CXMemFile file(bytes.data(), size);
    CXArchive ar(&file, CXArchive::load);
    tree.Serialize(ar);
}

void Load(CTree& tree, const std::vector<uint8_t>& bytes)
{
    Load(tree, bytes, bytes.size());
}

// Bytes written by hand through an archive, to state a layout or a malformation.
std::vector<uint8_t> Bytes(const std::function<void(CXArchive&)>& write)
{
    CXMemFile file;
    CXArchive ar(&file, CXArchive::store);
    write(ar);
    ar.Close();
    return file.Detach();
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
    const CTreeNode* e = expected.GetFirstNode();
    const CTreeNode* a = actual.GetFirstNode();
    for (; e && a; e = expected.GetNextNode(e), a = actual.GetNextNode(a))
    {
        ASSERT_EQ(typeid(*e), typeid(*a));
        EXPECT_NE(e, a);
        EXPECT_EQ(e->GetDepth(), a->GetDepth());
        if (auto* named = dynamic_cast<const CTreeTestNamedNode*>(e))
        {
            auto* other = static_cast<const CTreeTestNamedNode*>(a);
            EXPECT_EQ(named->m_Name, other->m_Name);
            EXPECT_EQ(named->m_Number, other->m_Number);
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

TEST(TreeNode, LinksDepthAndAncestry)
{
    CTree tree;
    Build(tree, "A(B(D,E(G)),C(F))");
    ASSERT_TRUE(IsConsistent(tree));
    CTreeNode* a = Find(tree, "A");
    CTreeNode* b = Find(tree, "B");
    CTreeNode* e = Find(tree, "E");
    CTreeNode* g = Find(tree, "G");
    CTreeNode* c = Find(tree, "C");
    EXPECT_EQ(a->GetChildNbr(), 2u);
    EXPECT_EQ(b->GetChildNbr(), 2u);
    EXPECT_EQ(g->GetChildNbr(), 0u);
    EXPECT_EQ(a->GetDepth(), 0u);
    EXPECT_EQ(e->GetDepth(), 2u);
    EXPECT_EQ(g->GetDepth(), 3u);
    EXPECT_EQ(b->GetLastChild(), e);
    EXPECT_EQ(c->GetLeft(), b);
    EXPECT_TRUE(a->IsAncestorOf(g));
    EXPECT_TRUE(b->IsAncestorOf(g));
    EXPECT_FALSE(g->IsAncestorOf(g));
    EXPECT_FALSE(c->IsAncestorOf(g));
    EXPECT_FALSE(g->IsAncestorOf(b));
    EXPECT_FALSE(a->IsAncestorOf(nullptr));
    EXPECT_EQ(g->GetTree(), &tree);
}

TEST(TreeNode, DisplayNameComparisonAndCopy)
{
    CTreeNode plain;
    EXPECT_EQ(plain.GetDisplayName(), "CTreeNode");

    CTreeTestValueNode original("x", 7, 2.5);
    CTreeTestNamedNode sameName("x", 7);
    CTreeTestValueNode twin("x", 1, 9.0);
    EXPECT_FALSE(original == sameName); // same name, other class
    EXPECT_TRUE(original == twin);      // the base compares class and name only
    EXPECT_FALSE(original == CTreeTestValueNode("y", 7, 2.5));

    // The base Copy goes through the runtime class and the archive: the derived class and
    // all its stored content come back, and the copy has no links.
    CTree tree;
    Build(tree, "P");
    auto* inTree = new CTreeTestValueNode("x", 7, 2.5);
    ASSERT_TRUE(tree.InsertNode(inTree, tree.GetRoot()));
    ASSERT_TRUE(tree.InsertNode(MakeNode("kid"), inTree));
    std::unique_ptr<CTreeNode> copy(inTree->Copy());
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(typeid(*copy), typeid(CTreeTestValueNode));
    auto& typed = static_cast<CTreeTestValueNode&>(*copy);
    EXPECT_EQ(typed.m_Name, "x");
    EXPECT_EQ(typed.m_Number, 7);
    EXPECT_EQ(typed.m_Value, 2.5);
    EXPECT_EQ(copy->GetParent(), nullptr);
    EXPECT_EQ(copy->GetChild(), nullptr);
    EXPECT_EQ(copy->GetRight(), nullptr);
    EXPECT_EQ(copy->GetTree(), nullptr);

    CTreeTestUncopyableNode uncopyable("u");
    EXPECT_EQ(uncopyable.Copy(), nullptr);
}

TEST(TreeNode, DestroyingLinkedNodesKeepsTheTreeSound)
{
    // Nodes are normally destroyed by the tree; one destroyed in place takes its subtree with
    // it and leaves no dangling link behind.
    int live = CTreeTestNamedNode::s_Live;
    CTree tree;
    Build(tree, "A(B(D,E(G)),C(F))");
    Find(tree, "B")->Delete();
    EXPECT_EQ(Render(tree), "A(C(F))");
    EXPECT_TRUE(IsConsistent(tree));
    Find(tree, "C")->DeleteNode();
    EXPECT_EQ(Render(tree), "A");
    EXPECT_TRUE(IsConsistent(tree));
    delete tree.GetRoot();
    EXPECT_TRUE(tree.IsEmpty());
    EXPECT_EQ(tree.GetNodeNbr(), 0u);
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live);

    // A detached branch can be destroyed by its top.
    Build(tree, "A(B(D,E(G)),C(F))");
    CTreeNode* branch = tree.RemoveNode(Find(tree, "B"));
    branch->DeleteNode();
    EXPECT_EQ(Render(tree), "A(C(F))");
    tree.RemoveAll();
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live);
}

// ---------------------------------------------------------------- walks

TEST(TreeWalk, PreOrderAndBoundedSubtrees)
{
    CTree tree;
    EXPECT_EQ(tree.GetFirstNode(), nullptr);
    Build(tree, "A(B(D,E(G)),C(F))");
    const CTree& constTree = tree;
    EXPECT_EQ(WalkNames(tree, tree.GetFirstNode(), nullptr), "ABDEGCF");
    EXPECT_EQ(WalkNames(constTree, constTree.GetFirstNode(), nullptr), "ABDEGCF");

    CTreeNode* b = Find(tree, "B");
    CTreeNode* d = Find(tree, "D");
    CTreeNode* e = Find(tree, "E");
    CTreeNode* g = Find(tree, "G");
    // The subtree of B, without and with B itself; the walk never climbs to C.
    EXPECT_EQ(WalkNames(tree, tree.GetFirstNode(b), b), "DEG");
    EXPECT_EQ(WalkNames(tree, b, b), "BDEG");
    // A leaf bounds a walk to itself.
    EXPECT_EQ(tree.GetFirstNode(d), nullptr);
    EXPECT_EQ(tree.GetNextNode(d, d), nullptr);
    // Climbing out of G stops at the bound, whichever ancestor it is.
    EXPECT_EQ(tree.GetNextNode(g, e), nullptr);
    EXPECT_EQ(tree.GetNextNode(g, b), nullptr);
    EXPECT_EQ(tree.GetNextNode(g)->GetDisplayName(), "C");
    EXPECT_EQ(tree.GetNextNode(g, tree.GetRoot())->GetDisplayName(), "C");
    EXPECT_EQ(tree.GetNextNode(Find(tree, "F")), nullptr);

    // Nodes of another tree or of no tree are not walked.
    CTree other;
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
    int m_Root = -1;

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
        auto& list = m_Children[parent];
        list.insert(list.begin() + (afterPos + 1), node);
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
    std::string Render(int node) const
    {
        std::string text = "n" + std::to_string(node);
        if (!m_Children[node].empty())
        {
            text += '(';
            for (size_t i = 0; i < m_Children[node].size(); ++i)
                text += (i ? "," : "") + Render(m_Children[node][i]);
            text += ')';
        }
        return text;
    }
    void PreOrder(int node, std::string& names) const
    {
        names += "n" + std::to_string(node);
        for (int child : m_Children[node])
            PreOrder(child, names);
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
        {
            int id = pick(int(nodes.size()));
            if (model.m_Alive[id])
                return id;
        }
    };
    // A position among the children of parent: the tree's argument and the model's index.
    auto randomPlace = [&](int parent, int exclude, CTreeNode*& after, int& afterPos)
    {
        std::vector<int> candidates;
        for (int child : model.m_Children[parent])
            if (child != exclude)
                candidates.push_back(child);
        int choice = pick(int(candidates.size()) + 2);
        if (choice == 0)
        {
            after = CTree::kFirst;
            afterPos = -1;
        }
        else if (choice == 1)
        {
            after = CTree::kLast;
            afterPos = int(candidates.size()) - 1;
        }
        else
        {
            int sibling = candidates[size_t(choice - 2)];
            after = nodes[size_t(sibling)];
            afterPos = choice - 2;
        }
    };

    model.m_Root = makeNode();
    ASSERT_TRUE(tree.SetRoot(nodes[0]));
    for (int step = 0; step < 1500; ++step)
    {
        int op = pick(10);
        if (op < 6 || tree.GetNodeNbr() < 5) // insert
        {
            int parent = randomAlive();
            CTreeNode* after;
            int afterPos;
            randomPlace(parent, -1, after, afterPos);
            int id = makeNode();
            ASSERT_TRUE(tree.InsertNode(nodes[size_t(id)], nodes[size_t(parent)], after));
            model.Link(id, parent, afterPos);
        }
        else if (op < 9) // move, refused exactly when the model says it would loop
        {
            int node = randomAlive();
            int parent = randomAlive();
            CTreeNode* after;
            int afterPos;
            randomPlace(parent, node, after, afterPos);
            bool allowed = node != parent && !model.IsAncestor(node, parent);
            std::string before = Render(tree);
            ASSERT_EQ(tree.MoveNode(nodes[size_t(node)], nodes[size_t(parent)], after), allowed);
            if (allowed)
            {
                model.Unlink(node);
                model.Link(node, parent, afterPos);
            }
            else
            {
                ASSERT_EQ(Render(tree), before);
            }
        }
        else // delete a branch below the root
        {
            int node = randomAlive();
            if (node == model.m_Root)
                continue;
            ASSERT_TRUE(tree.DeleteNode(nodes[size_t(node)]));
            model.Unlink(node);
            model.Kill(node);
        }
        ASSERT_EQ(Render(tree), model.Render(model.m_Root)) << "step " << step;
        ASSERT_TRUE(IsConsistent(tree)) << "step " << step;
    }

    // Every bounded walk lists exactly the node's subtree in the model's order.
    for (size_t id = 0; id < nodes.size(); ++id)
    {
        if (!model.m_Alive[id])
            continue;
        std::string expected;
        model.PreOrder(int(id), expected);
        EXPECT_EQ(WalkNames(tree, nodes[id], nodes[id]), expected);
        CTreeNode* first = tree.GetFirstNode(nodes[id]);
        EXPECT_EQ(first, nodes[id]->GetChild());
    }
}

// ---------------------------------------------------------------- edits

TEST(TreeEdit, InsertAtEveryPlaceAndRefuseBadArguments)
{
    CTree tree;
    EXPECT_FALSE(tree.InsertNode(nullptr, nullptr));
    auto* a = MakeNode("A");
    ASSERT_TRUE(tree.InsertNode(a, nullptr));
    auto* b = MakeNode("B");
    ASSERT_TRUE(tree.InsertNode(b, a)); // last
    ASSERT_TRUE(tree.InsertNode(MakeNode("C"), a, CTree::kFirst));
    ASSERT_TRUE(tree.InsertNode(MakeNode("D"), a, b)); // after B, which is last
    ASSERT_TRUE(tree.InsertNode(MakeNode("E"), a, Find(tree, "C")));
    EXPECT_EQ(Render(tree), "A(C,E,B,D)");
    EXPECT_TRUE(IsConsistent(tree));

    const std::string shape = Render(tree);
    std::unique_ptr<CTreeNode> loose(MakeNode("L"));
    CTree other;
    Build(other, "X(Y)");
    EXPECT_FALSE(tree.InsertNode(loose.get(), nullptr));            // the tree has a root
    EXPECT_FALSE(tree.InsertNode(b, a));                            // already in the tree
    EXPECT_FALSE(tree.InsertNode(other.GetRoot()->GetChild(), a));  // in another tree
    EXPECT_FALSE(tree.InsertNode(loose.get(), other.GetRoot()));    // parent elsewhere
    EXPECT_FALSE(tree.InsertNode(loose.get(), b, Find(tree, "C"))); // after: not B's child
    EXPECT_FALSE(tree.InsertNode(CTree::kFirst, a));
    // A node inside a detached branch is not the top of it.
    CTreeNode* branch = other.RemoveNode(other.GetRoot());
    EXPECT_FALSE(tree.InsertNode(branch->GetChild(), a));
    EXPECT_EQ(Render(tree), shape);
    EXPECT_TRUE(IsConsistent(tree));
    EXPECT_EQ(loose->GetTree(), nullptr);

    // A detached branch joins whole, counted whole.
    ASSERT_TRUE(tree.InsertNode(branch, b));
    EXPECT_EQ(Render(tree), "A(C,E,B(X(Y)),D)");
    EXPECT_EQ(tree.GetNodeNbr(), 7u);
    EXPECT_TRUE(IsConsistent(tree));
}

TEST(TreeEdit, SetRootReplacesAndDestroysTheOldNodes)
{
    int live = CTreeTestNamedNode::s_Live;
    CTree tree;
    Build(tree, "A(B,C)");
    auto* r = MakeNode("R");
    ASSERT_TRUE(tree.SetRoot(r));
    EXPECT_EQ(Render(tree), "R");
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live + 1);
    EXPECT_TRUE(tree.SetRoot(r)); // the current root: nothing changes
    EXPECT_EQ(Render(tree), "R");

    CTree other;
    Build(other, "X(Y)");
    EXPECT_FALSE(tree.SetRoot(other.GetRoot()));
    EXPECT_EQ(Render(other), "X(Y)");
    EXPECT_EQ(Render(tree), "R");

    EXPECT_TRUE(tree.SetRoot(nullptr));
    EXPECT_TRUE(tree.IsEmpty());
    other.RemoveAll();
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live);
}

TEST(TreeEdit, RemoveAndDelete)
{
    int live = CTreeTestNamedNode::s_Live;
    int linked = CTreeTestNamedNode::s_DestroyedLinked;
    CTree tree;
    Build(tree, "A(B(D,E),C)");
    CTreeNode* b = Find(tree, "B");
    CTreeNode* removed = tree.RemoveNode(b);
    ASSERT_EQ(removed, b);
    EXPECT_EQ(Render(tree), "A(C)");
    EXPECT_EQ(tree.GetNodeNbr(), 2u);
    EXPECT_TRUE(IsConsistent(tree));
    EXPECT_EQ(RenderBranch(b), "B(D,E)");
    EXPECT_EQ(b->GetParent(), nullptr);
    EXPECT_EQ(b->GetRight(), nullptr);
    EXPECT_EQ(b->GetTree(), nullptr);
    EXPECT_EQ(b->GetChild()->GetTree(), nullptr);
    EXPECT_EQ(tree.RemoveNode(b), nullptr); // no longer in the tree
    EXPECT_FALSE(tree.DeleteNode(b));
    EXPECT_EQ(tree.RemoveNode(nullptr), nullptr);

    ASSERT_TRUE(tree.InsertNode(b, Find(tree, "C")));
    EXPECT_EQ(Render(tree), "A(C(B(D,E)))");
    EXPECT_TRUE(tree.DeleteNode(Find(tree, "B")));
    EXPECT_EQ(Render(tree), "A(C)");
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live + 2);
    EXPECT_TRUE(IsConsistent(tree));

    // The root goes too, leaving an empty tree.
    CTreeNode* root = tree.RemoveNode(tree.GetRoot());
    EXPECT_TRUE(tree.IsEmpty());
    EXPECT_EQ(tree.GetNodeNbr(), 0u);
    EXPECT_TRUE(tree.SetRoot(root));
    EXPECT_TRUE(tree.DeleteNode(root));
    EXPECT_TRUE(tree.IsEmpty());
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live);

    // Deleting a wide branch destroys each node with all its links already cleared.
    Build(tree, "A(B(C,D(E,F,G),H(I(J,K),L)),M(N,O))");
    ASSERT_TRUE(tree.DeleteNode(Find(tree, "B")));
    tree.RemoveAll();
    EXPECT_EQ(CTreeTestNamedNode::s_DestroyedLinked, linked);
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live);
}

TEST(TreeEdit, ReplaceMovesTheChildrenToTheNewNode)
{
    CTree tree;
    Build(tree, "A(B(D,E),C)");
    CTree spare;
    Build(spare, "X(Y)");
    CTreeNode* x = spare.RemoveNode(spare.GetRoot());
    CTreeNode* b = Find(tree, "B");
    CTreeNode* old = tree.ReplaceNode(b, x);
    ASSERT_EQ(old, b);
    EXPECT_EQ(Render(tree), "A(X(Y,D,E),C)");
    EXPECT_EQ(tree.GetNodeNbr(), 6u);
    EXPECT_TRUE(IsConsistent(tree));
    EXPECT_EQ(RenderBranch(b), "B");
    EXPECT_EQ(b->GetTree(), nullptr);
    EXPECT_EQ(b->GetParent(), nullptr);
    EXPECT_EQ(b->GetRight(), nullptr);

    // The root can be replaced, and the old node reused elsewhere.
    CTreeNode* oldRoot = tree.ReplaceNode(tree.GetRoot(), b);
    EXPECT_EQ(Render(tree), "B(X(Y,D,E),C)");
    EXPECT_TRUE(IsConsistent(tree));
    ASSERT_TRUE(tree.InsertNode(oldRoot, Find(tree, "C")));
    EXPECT_EQ(Render(tree), "B(X(Y,D,E),C(A))");

    // Refusals change nothing.
    const std::string shape = Render(tree);
    std::unique_ptr<CTreeNode> loose(MakeNode("L"));
    EXPECT_EQ(tree.ReplaceNode(Find(tree, "Y"), Find(tree, "D")), nullptr);
    std::unique_ptr<CTreeNode> spareNode(MakeNode("S"));
    EXPECT_EQ(tree.ReplaceNode(loose.get(), spareNode.get()), nullptr); // old not in the tree
    EXPECT_EQ(tree.ReplaceNode(Find(tree, "Y"), nullptr), nullptr);
    EXPECT_EQ(tree.ReplaceNode(Find(tree, "Y"), CTree::kFirst), nullptr);
    EXPECT_EQ(Render(tree), shape);
    EXPECT_TRUE(IsConsistent(tree));
}

TEST(TreeEdit, MoveAndRefuseLoops)
{
    CTree tree;
    Build(tree, "A(B(D,E(G)),C(F))");
    CTreeNode* b = Find(tree, "B");
    CTreeNode* c = Find(tree, "C");
    CTreeNode* f = Find(tree, "F");
    ASSERT_TRUE(tree.MoveNode(b, c, CTree::kFirst));
    EXPECT_EQ(Render(tree), "A(C(B(D,E(G)),F))");
    ASSERT_TRUE(tree.MoveNode(b, c, f));
    EXPECT_EQ(Render(tree), "A(C(F,B(D,E(G))))");
    ASSERT_TRUE(tree.MoveNode(Find(tree, "D"), Find(tree, "A")));
    EXPECT_EQ(Render(tree), "A(C(F,B(E(G))),D)");
    // Among its own siblings: after F (where it is) and then first.
    ASSERT_TRUE(tree.MoveNode(b, c, f));
    EXPECT_EQ(Render(tree), "A(C(F,B(E(G))),D)");
    ASSERT_TRUE(tree.MoveNode(b, c, CTree::kFirst));
    EXPECT_EQ(Render(tree), "A(C(B(E(G)),F),D)");
    EXPECT_EQ(Find(tree, "G")->GetDepth(), 4u);
    EXPECT_EQ(tree.GetNodeNbr(), 7u);
    EXPECT_TRUE(IsConsistent(tree));

    const std::string shape = Render(tree);
    CTree other;
    Build(other, "X");
    EXPECT_FALSE(tree.MoveNode(b, Find(tree, "G")));    // under its own descendant
    EXPECT_FALSE(tree.MoveNode(b, b));                  // under itself
    EXPECT_FALSE(tree.MoveNode(tree.GetRoot(), f));     // the root is everyone's ancestor
    EXPECT_FALSE(tree.MoveNode(f, c, f));               // after itself
    EXPECT_FALSE(tree.MoveNode(f, b, Find(tree, "D"))); // after: not b's child
    EXPECT_FALSE(tree.MoveNode(f, other.GetRoot()));    // to another tree
    EXPECT_FALSE(tree.MoveNode(other.GetRoot(), b));
    EXPECT_FALSE(tree.MoveNode(nullptr, b));
    EXPECT_FALSE(tree.MoveNode(f, nullptr));
    EXPECT_EQ(Render(tree), shape);
    EXPECT_TRUE(IsConsistent(tree));
}

TEST(TreeEdit, CopyBranchCopiesClassesContentAndShape)
{
    CTree tree;
    BuildMixed(tree); // root(a(CTreeNode,c(d)),e)
    CTreeNode* a = Find(tree, "a");
    CTreeNode* e = Find(tree, "e");
    CTreeNode* copy = tree.CopyBranch(a, e);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Render(tree), "root(a(CTreeNode,c(d)),e(a(CTreeNode,c(d))))");
    EXPECT_EQ(tree.GetNodeNbr(), 10u);
    EXPECT_TRUE(IsConsistent(tree));
    ASSERT_EQ(typeid(*copy), typeid(CTreeTestValueNode));
    EXPECT_EQ(static_cast<CTreeTestValueNode*>(copy)->m_Value, 0.25);
    const CTreeNode* copiedC = copy->GetLastChild();
    ASSERT_EQ(typeid(*copiedC), typeid(CTreeTestValueNode));
    EXPECT_EQ(static_cast<const CTreeTestValueNode*>(copiedC)->m_Number, -4);
    EXPECT_EQ(static_cast<const CTreeTestValueNode*>(copiedC)->m_Value, 1e300);
    EXPECT_EQ(typeid(*copy->GetChild()), typeid(CTreeNode));
    EXPECT_EQ(typeid(*copiedC->GetChild()), typeid(CTreeTestNamedNode));
    EXPECT_NE(copiedC, Find(tree, "c"));

    // A branch copied under its own descendant is copied as it was before the copy.
    Build(tree, "A(B(D,E),C)");
    ASSERT_NE(tree.CopyBranch(Find(tree, "B"), Find(tree, "D"), CTree::kFirst), nullptr);
    EXPECT_EQ(Render(tree), "A(B(D(B(D,E)),E),C)");
    ASSERT_NE(tree.CopyBranch(Find(tree, "E"), tree.GetRoot(), CTree::kFirst), nullptr);
    EXPECT_EQ(Render(tree), "A(E,B(D(B(D,E)),E),C)");
    EXPECT_TRUE(IsConsistent(tree));

    // From another tree, and into an empty tree as its root.
    CTree other;
    ASSERT_NE(other.CopyBranch(Find(tree, "B"), nullptr), nullptr);
    EXPECT_EQ(Render(other), "B(D(B(D,E)),E)");
    EXPECT_TRUE(IsConsistent(other));
}

TEST(TreeEdit, FailedCopiesLeaveTheTargetAsItWas)
{
    int live = CTreeTestNamedNode::s_Live;
    {
        CTree source;
        Build(source, "A(B(D,E),C)");
        ASSERT_TRUE(source.InsertNode(new CTreeTestUncopyableNode("U"), Find(source, "E")));
        CTree target;
        Build(target, "X(Y)");
        EXPECT_EQ(target.CopyBranch(Find(source, "B"), target.GetRoot()), nullptr);
        EXPECT_FALSE(target.CopyTree(source));
        EXPECT_EQ(Render(target), "X(Y)");
        EXPECT_TRUE(IsConsistent(target));
        // Copying what can be copied still works.
        EXPECT_NE(target.CopyBranch(Find(source, "D"), target.GetRoot()), nullptr);
        EXPECT_EQ(Render(target), "X(Y,D)");

        // Bad places are refused before anything is copied.
        EXPECT_EQ(target.CopyBranch(Find(source, "D"), nullptr), nullptr); // tree has a root
        EXPECT_EQ(target.CopyBranch(Find(source, "D"), Find(source, "C")), nullptr);
        EXPECT_EQ(target.CopyBranch(Find(source, "D"), target.GetRoot(), Find(source, "C")),
                  nullptr);
        EXPECT_EQ(target.CopyBranch(nullptr, target.GetRoot()), nullptr);
        EXPECT_EQ(Render(target), "X(Y,D)");
        EXPECT_EQ(Render(source), "A(B(D,E(U)),C)");
    }
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live);
}

TEST(TreeEdit, CopyTreeMakesAnIndependentCopy)
{
    CTree source;
    BuildMixed(source);
    CTree copy;
    Build(copy, "X(Y)");
    ASSERT_TRUE(copy.CopyTree(source));
    ExpectSameNodes(source, copy);
    EXPECT_TRUE(IsConsistent(copy));
    EXPECT_TRUE(copy.CopyTree(copy));
    ExpectSameNodes(source, copy);

    // Editing one does not touch the other.
    static_cast<CTreeTestNamedNode*>(Find(copy, "a"))->m_Name = "z";
    ASSERT_TRUE(copy.DeleteNode(Find(copy, "e")));
    EXPECT_EQ(Render(source), "root(a(CTreeNode,c(d)),e)");
    EXPECT_EQ(Render(copy), "root(z(CTreeNode,c(d)))");

    CTree empty;
    EXPECT_TRUE(copy.CopyTree(empty));
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_EQ(copy.GetNodeNbr(), 0u);
}

TEST(TreeEdit, SortIsStableAndOnlyReordersChildren)
{
    CTree tree;
    Build(tree, "R(c1,a2(x,y),b1,d2,e0)");
    auto digit = [](const CTreeNode* node) { return node->GetDisplayName().str().back(); };
    auto byDigit = [&](const CTreeNode* l, const CTreeNode* r) { return digit(l) < digit(r); };
    ASSERT_TRUE(tree.Sort(tree.GetRoot(), byDigit));
    EXPECT_EQ(Render(tree), "R(e0,c1,b1,a2(x,y),d2)");
    EXPECT_TRUE(IsConsistent(tree));
    auto byName = [](const CTreeNode* l, const CTreeNode* r)
    { return l->GetDisplayName() < r->GetDisplayName(); };
    ASSERT_TRUE(tree.Sort(tree.GetRoot(), byName));
    EXPECT_EQ(Render(tree), "R(a2(x,y),b1,c1,d2,e0)");
    EXPECT_TRUE(IsConsistent(tree));
    EXPECT_TRUE(tree.Sort(Find(tree, "x"), byName)); // no children: nothing to do

    // A throwing comparison leaves the order as it was.
    auto throwing = [](const CTreeNode* l, const CTreeNode*) -> bool
    {
        if (l->GetDisplayName() == "c1")
            throw std::runtime_error("compare");
        return false;
    };
    EXPECT_THROW(tree.Sort(tree.GetRoot(), throwing), std::runtime_error);
    EXPECT_EQ(Render(tree), "R(a2(x,y),b1,c1,d2,e0)");
    EXPECT_TRUE(IsConsistent(tree));

    // Enough children that the sort cannot be a small insertion sort, with many equal keys:
    // children of equal key keep their order.
    CTree wide;
    Build(wide, "W");
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(
            wide.InsertNode(MakeNode(std::to_string(i * 7 % 5).c_str(), i), wide.GetRoot()));
    ASSERT_TRUE(wide.Sort(wide.GetRoot(), byName));
    EXPECT_TRUE(IsConsistent(wide));
    const CTreeNode* previous = nullptr;
    for (const CTreeNode* child = wide.GetRoot()->GetChild(); child; child = child->GetRight())
    {
        if (previous)
        {
            auto* l = static_cast<const CTreeTestNamedNode*>(previous);
            auto* r = static_cast<const CTreeTestNamedNode*>(child);
            ASSERT_TRUE(l->m_Name < r->m_Name ||
                        (l->m_Name == r->m_Name && l->m_Number < r->m_Number))
                << l->m_Name.str() << l->m_Number << " before " << r->m_Name.str() << r->m_Number;
        }
        previous = child;
    }

    CTree other;
    Build(other, "X(Z,Y)");
    EXPECT_FALSE(tree.Sort(other.GetRoot(), byName));
    EXPECT_FALSE(tree.Sort(tree.GetRoot(), CTree::CNodeLess()));
    EXPECT_EQ(Render(other), "X(Z,Y)");
}

// ---------------------------------------------------------------- archives

TEST(TreeArchive, MixedClassesRoundTripThroughMemory)
{
    CTree source;
    BuildMixed(source);
    std::vector<uint8_t> bytes = Store(source);

    CTree loaded;
    Build(loaded, "X(Y(Z))"); // loading replaces what was there
    Load(loaded, bytes);
    ExpectSameNodes(source, loaded);
    EXPECT_EQ(loaded.GetNodeNbr(), 6u);
    EXPECT_TRUE(IsConsistent(loaded));
    EXPECT_EQ(Store(loaded), bytes);
}

TEST(TreeArchive, MixedClassesRoundTripThroughADiskFile)
{
    char folder[] = "/tmp/zan-tree-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string path = std::string(folder) + "/tree.bin";

    CTree source;
    BuildMixed(source);
    {
        CXDiskFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CXDiskFile::modeWrite));
        CXArchive ar(&file, CXArchive::store);
        source.Serialize(ar);
        ar.Close();
        ASSERT_TRUE(file.Close());
    }
    CTree loaded;
    {
        CXDiskFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CXDiskFile::modeRead));
        CXArchive ar(&file, CXArchive::load);
        loaded.Serialize(ar);
        EXPECT_EQ(ar.GetRemaining(), 0u);
    }
    ExpectSameNodes(source, loaded);
    EXPECT_TRUE(IsConsistent(loaded));
    EXPECT_EQ(Store(loaded), Store(source));

    std::remove(path.c_str());
    rmdir(folder);
}

TEST(TreeArchive, LayoutIsCountThenParentClassAndContentInPreOrder)
{
    CTree tree;
    ASSERT_TRUE(tree.SetRoot(new CTreeNode));
    ASSERT_TRUE(tree.InsertNode(new CTreeTestNamedNode("a", 3), tree.GetRoot()));
    ASSERT_TRUE(tree.InsertNode(new CTreeNode, tree.GetRoot()->GetChild()));
    ASSERT_TRUE(tree.InsertNode(new CTreeNode, tree.GetRoot()));
    std::vector<uint8_t> expected = Bytes(
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
        });
    EXPECT_EQ(Store(tree), expected);

    // An empty tree is a count of 0, and loading it empties a tree.
    CTree empty;
    std::vector<uint8_t> zero = Store(empty);
    EXPECT_EQ(zero, Bytes([](CXArchive& ar) { ar.WriteCount(0); }));
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
    try
    {
        Load(target, bytes);
        ADD_FAILURE() << "accepted";
    }
    catch (const CXArchiveException& error)
    {
        EXPECT_EQ(error.GetCause(), cause) << error.what();
    }
    EXPECT_EQ(Render(target), "X(Y)");
    EXPECT_TRUE(IsConsistent(target));
    target.RemoveAll();
    EXPECT_EQ(CTreeTestNamedNode::s_Live, live) << "nodes leaked or freed twice";
    EXPECT_EQ(CTreeTestNamedNode::s_DestroyedLinked, linked);
}

TEST(TreeMalformed, EveryTruncationIsRefusedAndChangesNothing)
{
    CTree source;
    BuildMixed(source);
    std::vector<uint8_t> bytes = Store(source);
    int live = CTreeTestNamedNode::s_Live;
    CTree target;
    Build(target, "X(Y)");
    for (size_t size = 0; size < bytes.size(); ++size)
    {
        EXPECT_THROW(Load(target, bytes, size), CXArchiveException) << size << " bytes";
        ASSERT_EQ(Render(target), "X(Y)") << size << " bytes";
        ASSERT_TRUE(IsConsistent(target));
        ASSERT_EQ(CTreeTestNamedNode::s_Live, live + 2) << size << " bytes";
    }
}

TEST(TreeMalformed, ClassesThatCannotBeNodes)
{
    auto oneNode = [](const char* className)
    {
        return Bytes(
            [&](CXArchive& ar)
            {
                ar.WriteCount(1);
                ar << uint32_t(0xFFFFFFFF);
                ar.WriteString(className);
                ar << CXTString("padding to pass the count check");
            });
    };
    ExpectRefused(oneNode("CTreeTestNoSuchNode"), CXArchiveException::_BadClass);
    ExpectRefused(oneNode("CTreeTestNotANode"), CXArchiveException::_BadClass);
    ExpectRefused(oneNode("CTreeTestAbstractNode"), CXArchiveException::_BadClass);
    ExpectRefused(oneNode(""), CXArchiveException::_BadClass);
    // An unknown class after valid nodes: the valid ones are thrown away too.
    ExpectRefused(Bytes(
                      [](CXArchive& ar)
                      {
                          ar.WriteCount(3);
                          ar << uint32_t(0xFFFFFFFF);
                          ar.WriteClass(ZAN_RUNTIME_CLASS(CTreeTestNamedNode));
                          ar << CXTString("r") << int32_t(1);
                          ar << uint32_t(0);
                          ar.WriteClass(ZAN_RUNTIME_CLASS(CTreeTestNamedNode));
                          ar << CXTString("s") << int32_t(2);
                          ar << uint32_t(1);
                          ar.WriteString("CTreeTestNoSuchNode");
                      }),
                  CXArchiveException::_BadClass);
}

TEST(TreeMalformed, ParentIndicesOutOfOrder)
{
    // Nodes of the base class with the given parent indices.
    auto nodes = [](std::vector<uint32_t> parents)
    {
        return Bytes(
            [&](CXArchive& ar)
            {
                ar.WriteCount(parents.size());
                for (uint32_t parent : parents)
                {
                    ar << parent;
                    ar.WriteClass(ZAN_RUNTIME_CLASS(CTreeTestNamedNode));
                    ar << CXTString("n") << int32_t(0);
                }
            });
    };
    const uint32_t none = 0xFFFFFFFF;
    // The same input, well ordered, loads: the refusals below are about the indices alone.
    CTree good;
    Load(good, nodes({none, 0, 1, 1, 0, 4}));
    EXPECT_EQ(Render(good), "n(n(n,n),n(n))");
    good.RemoveAll();

    ExpectRefused(nodes({0}), CXArchiveException::_BadValue);             // root with a parent
    ExpectRefused(nodes({none, 1}), CXArchiveException::_BadValue);       // its own parent
    ExpectRefused(nodes({none, 0, 3, 0}), CXArchiveException::_BadValue); // parent after it
    ExpectRefused(nodes({none, 0, none}), CXArchiveException::_BadValue); // second root
    // Node 3's parent 2 is a closed branch: node 2 is not on the path root-1-... after 2's
    // sibling was read, so the order is not depth-first.
    ExpectRefused(nodes({none, 0, 0, 1}), CXArchiveException::_BadValue);
}

TEST(TreeMalformed, HugeCountsAreRefusedBeforeAllocating)
{
    ExpectRefused(Bytes(
                      [](CXArchive& ar)
                      {
                          ar.WriteCount(0xFFFFFFFEu);
                          ar << uint32_t(0xFFFFFFFF);
                          ar.WriteClass(ZAN_RUNTIME_CLASS(CTreeNode));
                      }),
                  CXArchiveException::_BadCount);
    ExpectRefused(Bytes([](CXArchive& ar) { ar.WriteCount(uint64_t(1) << 60); }),
                  CXArchiveException::_BadCount);
    // Each node needs at least 9 bytes: three do not fit in the 17 bytes of one.
    ExpectRefused(Bytes(
                      [](CXArchive& ar)
                      {
                          ar.WriteCount(3);
                          ar << uint32_t(0xFFFFFFFF);
                          ar.WriteString("CTreeNode");
                      }),
                  CXArchiveException::_BadCount);
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
    EXPECT_EQ(tree.GetRoot()->GetChildNbr(), 2u);
    ASSERT_TRUE(tree.MoveNode(last, beforeLast));
    EXPECT_EQ(last->GetDepth(), count - 1);

    CTree copy;
    ASSERT_TRUE(copy.CopyTree(tree));
    EXPECT_EQ(copy.GetNodeNbr(), count);

    std::vector<uint8_t> bytes = Store(tree);
    CTree loaded;
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
    CTreeNode* lower = loaded.RemoveNode(middle);
    ASSERT_EQ(lower, middle);
    EXPECT_EQ(loaded.GetNodeNbr(), count - (count - 1 - count / 2) - 1);
    lower->DeleteNode();
    ASSERT_TRUE(tree.DeleteNode(tree.GetRoot()->GetChild()));
    EXPECT_EQ(tree.GetNodeNbr(), 1u);
    // copy and loaded go out of scope with their long chains
}
} // namespace
