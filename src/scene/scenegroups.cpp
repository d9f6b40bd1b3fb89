// Scene-wide changes of the tree: removing group nodes, giving geometric nodes group
// parents so that they become leaves, moving a node's placement into a child, merging
// another scene into this one, and replacing objects by converted ones. Nodes that move to
// another parent keep their world placement: the placement of the level they leave is
// folded into their keys first.
#include <3dzan/scene/scene.h>

#include <3dzan/animation/keys.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/objectcreator.h>

#include <algorithm>
#include <map>
#include <unordered_map>
#include <vector>

namespace
{
// The matrix key of `node` at `time` (the identity when the node has none).
C4x4TMatrix<float> MatrixKeyAt(const C3DSceneNode& node, int time)
{
    C3DMatrixKey key(kNodeMatrixKey);
    if (!node.Evaluate(time, key))
        return C4x4TMatrix<float>();
    return key.ToMatrix();
}

// The times at which `node` has a key of any class, ascending, each once.
std::vector<int> KeyTimes(C3DSceneNode& node)
{
    std::vector<int> times;
    const unsigned count = node.GetKeyNbr();
    for (unsigned i = 0; i < count; ++i)
    {
        int time = 0;
        if (node.GetKeyByIndex(i, &time))
            times.push_back(time);
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    return times;
}

void SetMatrixKey(C3DSceneNode& node, int time, const C4x4TMatrix<float>& matrix)
{
    C3DMatrixKey key(kNodeMatrixKey);
    key.SetMatrix(matrix);
    node.AddKey(time, key);
}
} // namespace

bool C3DScene::MergeMatrixKeyframes(C3DSceneNode* parent, C3DSceneNode* child)
{
    if (!parent || !child || parent == child)
        return false;
    const std::vector<int> parentTimes = KeyTimes(*parent);
    const std::vector<int> childTimes = KeyTimes(*child);
    std::vector<int> times;
    std::set_union(parentTimes.begin(), parentTimes.end(), childTimes.begin(), childTimes.end(),
                   std::back_inserter(times));
    if (parentTimes.empty())
        return true; // the parent places nothing: the child's keys hold one level up as well

    // Everything is read before the keys change: a key added at one time changes how the
    // keys around it interpolate.
    struct CAt
    {
        C4x4TMatrix<float> m_ParentLocal;
        C4x4TMatrix<float> m_ParentMatrix;
        C4x4TMatrix<float> m_ChildMatrix;
    };
    std::map<int, CAt> at;
    for (int time : times)
    {
        CAt& values = at[time];
        // The pivot of the parent moves only the parent's own object, never its children:
        // the children live in the frame of its object-local matrix.
        parent->GetObjectLocalTM(time, values.m_ParentLocal);
        values.m_ParentMatrix = MatrixKeyAt(*parent, time);
        values.m_ChildMatrix = MatrixKeyAt(*child, time);
    }
    for (int time : childTimes)
        if (!std::binary_search(parentTimes.begin(), parentTimes.end(), time))
            SetMatrixKey(*parent, time, at[time].m_ParentMatrix);
    for (int time : times)
        SetMatrixKey(*child, time, at[time].m_ParentLocal * at[time].m_ChildMatrix);
    return true;
}

void C3DScene::RemoveGroups()
{
    C3DSceneNode* root = GetRoot();
    if (!root)
        return;
    std::vector<C3DSceneNode*> groups;
    for (CTreeNode* n = CTree::GetFirstNode(root); n; n = CTree::GetNextNode(n))
        if (static_cast<C3DSceneNode*>(n)->GetObjectKindOf() == _ObjectKindGroup)
            groups.push_back(static_cast<C3DSceneNode*>(n));
    // Parents before children: a group's children, inner groups among them, take its place
    // in order before the inner groups are opened in turn.
    for (C3DSceneNode* group : groups)
        DissolveNode(group);
}

void C3DScene::DissolveNode(C3DSceneNode* node)
{
    CTreeNode* up = node->GetParent();
    CTreeNode* after = node;
    while (CTreeNode* child = node->GetChild())
    {
        MergeMatrixKeyframes(node, static_cast<C3DSceneNode*>(child));
        MoveNode(child, up, after);
        after = child;
    }
    CTree::DeleteNode(node);
}

bool C3DScene::DeleteNodes(C3DSceneNode* start, const C3DFilter* filter)
{
    C3DSceneNode* root = GetRoot();
    if (!root || (start && !HasNode(start)))
        return true;
    // The nodes are chosen before any moves: a child lifted out of a deleted node is still
    // deleted when the filter chose it, and kept otherwise.
    std::vector<C3DSceneNode*> chosen;
    C3DNodePos pos = GetFirstNode(start, _IterWithStart | _IterSubtree | _IterNoObject);
    pos.SetFilter(filter);
    while (pos)
        if (C3DSceneNode* node = GetNextNode(pos))
            chosen.push_back(node);
    for (C3DSceneNode* node : chosen)
        if (node != root)
            DissolveNode(node);
    return true;
}

bool C3DScene::MakeGroupForChilds(C3DSceneNode* start)
{
    C3DSceneNode* root = GetRoot();
    if (!root || (start && !HasNode(start)))
        return false;
    CTreeNode* top = start ? static_cast<CTreeNode*>(start) : root;
    bool made = false;
    // Each round moves one child from under a geometric node to under a group, so the rounds
    // end after at most one per node.
    for (;;)
    {
        C3DSceneNode* owner = nullptr;
        for (CTreeNode* n = top; n && !owner; n = CTree::GetNextNode(n, top))
        {
            auto* node = static_cast<C3DSceneNode*>(n);
            if (n != root && n->GetChild() && node->IsGeomObject())
                owner = node;
        }
        if (!owner)
            return made;
        auto* child = static_cast<C3DSceneNode*>(owner->GetChild());
        auto* group = new C3DSceneNode;
        group->SetObject(new C3DGroup, false);
        // The group carries the owner's placement, so the child keeps its world placement.
        group->Inherit(owner, 0);
        group->SetName(child->GetName());
        C3DSceneNode* parent = GetParent(owner);
        if (!AddNode(parent, group))
        {
            group->Delete();
            return made;
        }
        MoveNode(group, parent, owner);
        MoveNode(child, group);
        made = true;
    }
}

bool C3DScene::Merge(C3DScene* source, C3DSceneNode* parent)
{
    if (!source || source == this || (parent && !HasNode(parent)))
        return false;
    // Source materials are matched by appearance, or copied under a fresh ID.
    CHashMap<unsigned, unsigned> mapping(NextPrime(2 * source->GetMaterialNumber() + 1));
    for (unsigned position = source->GetFirstMaterial(); position != kZanNone;)
    {
        const C3DMaterial* material = source->GetNextMaterial(position);
        if (!material)
            continue;
        unsigned id = kZanNone;
        if (const C3DMaterial* found = m_Materials.Find(*material, false))
            id = found->GetMaterialID();
        else if (C3DMaterial* created = CreateNewMaterial(kZanNone))
        {
            *created = *material;
            id = created->GetMaterialID();
        }
        if (id != kZanNone && id != material->GetMaterialID())
            mapping.Insert(material->GetMaterialID(), id);
    }
    if (mapping.GetCount() > 0)
    {
        CXArray<C3DGeomObject*> objects;
        source->GetGeomObjects(nullptr, objects);
        for (int i = 0; i < objects.GetSize(); ++i)
            objects[i]->ReplaceMaterials(mapping);
    }
    C3DSceneNode* sourceRoot = source->GetRoot();
    while (sourceRoot && sourceRoot->GetChild())
    {
        auto* node = static_cast<C3DSceneNode*>(sourceRoot->GetChild());
        source->RemoveNode(node, false);
        if (!AddNode(parent, node))
            node->DeleteNode();
    }
    return true;
}

int C3DScene::ConvertToType(C3DSceneNode* start, C3DObjectCreator* creator)
{
    C3DSceneNode* root = GetRoot();
    if (!creator || !root || (start && !HasNode(start)))
        return 0;
    C3DSceneNode* top = start ? start : root;
    // The nodes of the subtree (the start included) grouped by object, objects in the order
    // of their first node.
    std::vector<C3DBaseObject*> objects;
    std::unordered_map<C3DBaseObject*, std::vector<C3DSceneNode*>> holders;
    for (CTreeNode* n = start ? static_cast<CTreeNode*>(top) : CTree::GetFirstNode(root); n;
         n = CTree::GetNextNode(n, top))
    {
        auto* node = static_cast<C3DSceneNode*>(n);
        C3DBaseObject* object = node->GetBaseObject();
        if (!object)
            continue;
        std::vector<C3DSceneNode*>& list = holders[object];
        if (list.empty())
            objects.push_back(object);
        list.push_back(node);
    }
    int replaced = 0;
    for (C3DBaseObject* object : objects)
    {
        const std::vector<C3DSceneNode*>& list = holders[object];
        C3DBaseObject* proposal = creator->ConvertToType(list.front(), object);
        if (!proposal || proposal == object)
            continue;
        // Every node that shared the object shares the replacement. The object goes with
        // its last node, so it is not read past this loop.
        for (size_t i = 0; i < list.size(); ++i)
        {
            C3DBaseObject* replacement = i == 0 ? proposal : proposal->Copy(_CopyInstance, nullptr);
            if (replacement)
                list[i]->SetObject(replacement, true);
        }
        ++replaced;
    }
    return replaced;
}
