// The scene document: the node tree and its walks, lookup, selection, instances, copies,
// settings and the scene archive. Every walk over the tree is iterative.
#include <3dzan/scene/scene.h>

#include <3dzan/foundation/files.h>
#include <3dzan/foundation/services.h>
#include <3dzan/foundation/xarchive.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/objectcreator.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <unordered_map>
#include <vector>

#include "scenearchive.h"

namespace
{
struct CSceneHolder
{
    void operator()(C3DScene* scene) const
    {
        if (scene)
            scene->Delete();
    }
};
using ScenePtr = std::unique_ptr<C3DScene, CSceneHolder>;

// The objects a scene archive has read so far, by object ID.
struct CReadObjects
{
    std::unordered_map<unsigned, C3DBaseObject*> m_ByID;
};

// Makes an archive's user data the scene context for the life of the guard.
class CContextGuard
{
public:
    CContextGuard(CXArchive& ar, C3DSceneArchiveContext& context)
        : m_Archive(ar), m_Old(ar.GetData())
    {
        ar.SetData(&context);
    }
    ~CContextGuard() { m_Archive.SetData(m_Old); }
    CContextGuard(const CContextGuard&) = delete;
    CContextGuard& operator=(const CContextGuard&) = delete;

private:
    CXArchive& m_Archive;
    void* m_Old;
};

// Calls fn on every node of the branch under top (top included), depth first; works on
// detached branches too.
template <class FN> void ForEachInBranch(CTreeNode* top, FN fn)
{
    for (CTreeNode* node = top; node;)
    {
        fn(static_cast<C3DSceneNode*>(node));
        if (node->GetChild())
            node = node->GetChild();
        else
        {
            while (node != top && !node->GetRight())
                node = node->GetParent();
            node = node == top ? nullptr : node->GetRight();
        }
    }
}

// A local default creator when the caller passes none.
class CCreatorChoice
{
public:
    explicit CCreatorChoice(C3DObjectCreator* creator) : m_Creator(creator)
    {
        if (!m_Creator)
        {
            m_Local = std::make_unique<C3DObjectCreator>();
            m_Creator = m_Local.get();
        }
    }
    C3DObjectCreator* Get() const { return m_Creator; }

private:
    C3DObjectCreator* m_Creator;
    std::unique_ptr<C3DObjectCreator> m_Local;
};

CParserSceneInfo::CReleaseParserData g_ReleaseParserData = nullptr;
} // namespace

// ================================================================ archive context

C3DSceneArchiveContext::~C3DSceneArchiveContext()
{
    SceneArchiveReleaseWrittenSet(*this);
    delete static_cast<CReadObjects*>(m_Scratch.GetPointer(kReadObjectsID));
}

C3DInstanceID* SceneArchiveWrittenSet(C3DSceneArchiveContext& context)
{
    auto* set = static_cast<C3DInstanceID*>(
        context.m_Scratch.GetPointer(C3DSceneArchiveContext::kWrittenObjectsID));
    if (!set)
    {
        set = new C3DInstanceID;
        context.m_Scratch.SetPointer(C3DSceneArchiveContext::kWrittenObjectsID, set);
    }
    return set;
}

void SceneArchiveReleaseWrittenSet(C3DSceneArchiveContext& context)
{
    auto* set = static_cast<C3DInstanceID*>(
        context.m_Scratch.GetPointer(C3DSceneArchiveContext::kWrittenObjectsID));
    if (!set)
        return;
    context.m_Scratch.RemoveValue(C3DSceneArchiveContext::kWrittenObjectsID);
    set->Delete();
}

const CXRuntimeClass* SceneArchiveClassOf(const C3DBaseObject& object)
{
    const CXRuntimeClass* cls = object.GetRuntimeClassDescriptor();
    const CXRuntimeClass* polygonal = CXRuntimeClass::FromName("C3DObject");
    if (polygonal && cls->IsDerivedFrom(polygonal))
        return polygonal;
    return cls;
}

void SceneArchiveAddObject(C3DSceneArchiveContext& context, C3DBaseObject* object)
{
    auto* read = static_cast<CReadObjects*>(
        context.m_Scratch.GetPointer(C3DSceneArchiveContext::kReadObjectsID));
    if (!read)
    {
        read = new CReadObjects;
        context.m_Scratch.SetPointer(C3DSceneArchiveContext::kReadObjectsID, read);
    }
    read->m_ByID.emplace(object->GetObjectID(), object);
}

C3DBaseObject* SceneArchiveFindObject(C3DSceneArchiveContext& context, unsigned id)
{
    auto* read = static_cast<CReadObjects*>(
        context.m_Scratch.GetPointer(C3DSceneArchiveContext::kReadObjectsID));
    if (read)
    {
        auto found = read->m_ByID.find(id);
        if (found != read->m_ByID.end())
            return found->second;
    }
    return context.m_Scene ? context.m_Scene->GetObjectByID(id) : nullptr;
}

// ================================================================ filters, parser info, defaults

C3DFilter::~C3DFilter() = default;

bool C3DFilter::ProcessNode(const C3DSceneNode* node) const
{
    return ProcessNode(m_Flags, node);
}

bool C3DFilter::ProcessFace(const C3DBaseObject*, const C3DFace*) const
{
    return true;
}

bool C3DFilter::ProcessPoint(const C3DBaseObject*, const C3DTPoint<float>*) const
{
    return true;
}

bool C3DFilter::ProcessNode(unsigned flags, const C3DSceneNode* node)
{
    if (flags == 0)
        return true;
    if (!node)
        return false;
    const C3DBaseObject* object = node->GetBaseObject();
    if ((flags & 0x1) && object && object->IsFlagSet(_ObjectEmpty))
        return false;
    if ((flags & 0x2) && node->IsFlagSet(_NodeHidden))
        return false;
    if ((flags & 0x4) && !node->IsFlagSet(_NodeSelected))
        return false;
    return true;
}

CParserSceneInfo::~CParserSceneInfo() = default;

void CParserSceneInfo::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        int64_t handle = int32_t(uint32_t(reinterpret_cast<uintptr_t>(m_Data)));
        ar << handle << m_ParserID << m_Owned;
        return;
    }
    int64_t handle = 0;
    unsigned parserId = 0;
    bool owned = false;
    ar >> handle >> parserId >> owned;
    // The handle belonged to the process that wrote the archive: never reuse it.
    m_Data = nullptr;
    m_ParserID = parserId;
    m_Owned = owned;
}

void CParserSceneInfo::SetReleaseParserData(CReleaseParserData release)
{
    g_ReleaseParserData = release;
}

CParserSceneInfo::CReleaseParserData CParserSceneInfo::GetReleaseParserData()
{
    return g_ReleaseParserData;
}

// ================================================================ construction

C3DScene::C3DScene()
{
    auto* root = new C3DSceneNode;
    root->SetName("Scene");
    root->SetScene(this);
    root->SetObject(new C3DGroup, false);
    CTree::SetRoot(root);
}

C3DScene::~C3DScene()
{
    ReleaseParserInfo();
    m_Materials.RemoveAll();
    m_CustomData.RemoveAll();
}

C3DScene* C3DScene::Create()
{
    return new C3DScene;
}

// ================================================================ tree

C3DSceneNode* C3DScene::GetRoot() const
{
    return static_cast<C3DSceneNode*>(const_cast<C3DScene*>(this)->CTree::GetRoot());
}

C3DSceneNode* C3DScene::GetChildNode(const C3DSceneNode* node) const
{
    const CTreeNode* parent = node ? node : GetRoot();
    return parent ? static_cast<C3DSceneNode*>(const_cast<CTreeNode*>(parent)->GetChild())
                  : nullptr;
}

C3DSceneNode* C3DScene::GetParent(const C3DSceneNode* node) const
{
    return node ? static_cast<C3DSceneNode*>(const_cast<C3DSceneNode*>(node)->GetParent())
                : nullptr;
}

C3DSceneNode* C3DScene::GetRightNode(const C3DSceneNode* node) const
{
    return node ? static_cast<C3DSceneNode*>(const_cast<C3DSceneNode*>(node)->GetRight())
                : nullptr;
}

bool C3DScene::IsChildNode(C3DSceneNode* parent, C3DSceneNode* node) const
{
    return parent && node && HasNode(node) && (parent == node || parent->IsAncestorOf(node));
}

unsigned C3DScene::GetChildDepth(C3DSceneNode* node) const
{
    return node ? unsigned(node->GetDepth()) - 1u : kZanNone;
}

int C3DScene::GetChildCount(C3DSceneNode* start, unsigned kindMask) const
{
    const CTreeNode* top = start ? start : GetRoot();
    if (!top || !HasNode(top))
        return 0;
    int count = 0;
    for (const CTreeNode* node = CTree::GetFirstNode(top); node;
         node = CTree::GetNextNode(node, top))
    {
        unsigned kind = static_cast<const C3DSceneNode*>(node)->GetObjectKindOf();
        if (kind == 0 || (kind & kindMask))
            ++count;
    }
    return count;
}

int C3DScene::GetDirectChildCount(C3DSceneNode* start, unsigned) const
{
    const CTreeNode* top = start ? start : GetRoot();
    return top ? int(top->GetChildNbr()) : 0;
}

// ================================================================ inserting and removing

void C3DScene::SetSceneOnBranch(C3DSceneNode* top)
{
    ForEachInBranch(top, [this](C3DSceneNode* node) { node->SetScene(this); });
}

bool C3DScene::AddNode(C3DSceneNode* parent, C3DSceneNode* node)
{
    if (!node || node->GetTree() || node->GetParent())
        return false;
    if (parent && !HasNode(parent))
        return false;
    if (!parent && IsEmpty())
    {
        // A scene emptied by RemoveAllNodes gets a new root before its first node.
        auto* root = new C3DSceneNode;
        root->SetName("Scene");
        root->SetObject(new C3DGroup, false);
        root->SetScene(this);
        CTree::SetRoot(root);
    }
    if (!InsertNode(node, parent ? parent : GetRoot()))
        return false;
    SetSceneOnBranch(node);
    return true;
}

C3DSceneNode* C3DScene::PreorderPredecessor(C3DSceneNode* node) const
{
    CTreeNode* left = node->GetLeft();
    if (!left)
        return static_cast<C3DSceneNode*>(node->GetParent());
    while (left->GetLastChild())
        left = left->GetLastChild();
    return static_cast<C3DSceneNode*>(left);
}

C3DSceneNode* C3DScene::RemoveNode(C3DSceneNode* node, bool destroy)
{
    if (destroy)
    {
        if (!node || IsSceneRoot(node))
        {
            RemoveAllNodes();
            return nullptr;
        }
        if (!HasNode(node))
            return nullptr;
        C3DSceneNode* resume = PreorderPredecessor(node);
        CTree::DeleteNode(node);
        return resume;
    }
    if (!node || !HasNode(node))
        return nullptr;
    (void)CTree::RemoveNode(node);
    ForEachInBranch(node, [](C3DSceneNode* n) { n->SetScene(nullptr); });
    return node;
}

bool C3DScene::RemoveNode(C3DSceneNode* node, C3DNodePos& pos, bool destroy)
{
    if (!node && !destroy)
        return true; // nothing to unlink
    if (node && !HasNode(node))
        return true;
    const CTreeNode* removed = node ? node : GetRoot();
    auto inRemoved = [removed](const CTreeNode* n)
    { return n && removed && (n == removed || removed->IsAncestorOf(n)); };
    const bool wholeTree = !removed || removed == GetRoot();
    const bool endGone = inRemoved(pos.m_End);
    const bool currentGone = inRemoved(pos.m_Current);

    // The first node after the removed subtree, within the walk's bounds.
    const C3DSceneNode* after = nullptr;
    if (currentGone && !wholeTree && !endGone && !(pos.m_Mode & C3DNodePos::_ModeSingle))
    {
        const CTreeNode* up = removed;
        while (up && up != pos.m_End && !up->GetRight())
            up = up->GetParent();
        if (up && up != pos.m_End)
            after = static_cast<const C3DSceneNode*>(up->GetRight());
    }
    RemoveNode(node, destroy);
    if (wholeTree || endGone)
        pos.m_Current = nullptr;
    else if (currentGone)
        pos.Seek(after);
    return true;
}

bool C3DScene::ReplaceNode(C3DSceneNode* oldNode, C3DSceneNode* newNode, bool destroy)
{
    if (!oldNode || !newNode || !HasNode(oldNode))
        return false;
    CTreeNode* out = CTree::ReplaceNode(oldNode, newNode);
    if (!out)
        return false;
    SetSceneOnBranch(newNode);
    oldNode->SetScene(nullptr);
    if (destroy)
        oldNode->DeleteNode();
    return true;
}

void C3DScene::RemoveAllNodes()
{
    CTree::RemoveAll();
}

void C3DScene::RemoveAll()
{
    RemoveAllNodes();
    m_Materials.RemoveAll();
    m_CustomData.RemoveAll();
    ReleaseParserInfo();
}

int C3DScene::CleanGroups(bool emptyOnly)
{
    // Passes until no group is left to remove, so that groups emptied by a pass go too.
    int removed = 0;
    for (;;)
    {
        std::vector<C3DSceneNode*> candidates;
        C3DSceneNode* root = GetRoot();
        if (!root)
            return removed;
        for (CTreeNode* n = CTree::GetFirstNode(root); n; n = CTree::GetNextNode(n))
        {
            auto* node = static_cast<C3DSceneNode*>(n);
            size_t children = n->GetChildNbr();
            if (node->GetObjectKindOf() == _ObjectKindGroup &&
                (children == 0 || (!emptyOnly && children == 1)))
                candidates.push_back(node);
        }
        if (candidates.empty())
            return removed;
        for (C3DSceneNode* group : candidates)
        {
            if (CTreeNode* child = group->GetChild())
                MoveNode(child, group->GetParent(), group);
            CTree::DeleteNode(group);
            ++removed;
        }
    }
}

// ================================================================ walks

C3DNodePos C3DScene::GetFirstNode(unsigned kindMask, unsigned flags, const C3DSceneNode* start,
                                  const C3DSceneNode* end) const
{
    C3DNodePos pos;
    pos.m_Scene = this;
    pos.m_KindMask = kindMask;
    if (flags & _IterInstancesOnce)
        pos.m_IDs = new C3DInstanceID;
    if (flags & _IterNoObject)
        pos.m_Mode |= C3DNodePos::_ModeNoObjectAll;
    pos.m_End = (flags & _IterSubtree) ? start : end;
    if (start && !HasNode(start))
        return pos;
    const CTreeNode* first;
    if ((flags & _IterWithStart) && start && !IsSceneRoot(start))
    {
        first = start;
        if (pos.m_End == start && !start->GetChild())
            pos.m_Mode |= C3DNodePos::_ModeSingle;
    }
    else
        first = CTree::GetFirstNode(start);
    if (first && first == GetRoot())
        first = CTree::GetFirstNode(first);
    pos.Seek(static_cast<const C3DSceneNode*>(first));
    return pos;
}

C3DNodePos C3DScene::GetFirstNode(const C3DSceneNode* start, unsigned flags,
                                  const C3DSceneNode* end) const
{
    return GetFirstNode(0xFFFFFFFF, flags, start, end);
}

C3DSceneNode* C3DScene::GetNextNode(C3DBaseObject*& object, C3DNodePos& pos) const
{
    if (pos.m_Current && IsSceneRoot(pos.m_Current))
        pos.Seek(static_cast<const C3DSceneNode*>(CTree::GetFirstNode(pos.m_Current)));
    C3DSceneNode* node = pos.m_Current;
    if (!node)
    {
        object = nullptr;
        return nullptr;
    }
    object = node->GetBaseObject();
    pos.Advance();
    return node;
}

C3DSceneNode* C3DScene::GetNextNode(C3DNodePos& pos) const
{
    C3DBaseObject* object = nullptr;
    return GetNextNode(object, pos);
}

// ================================================================ lookup

C3DSceneNode* C3DScene::GetNodeByID(unsigned nodeId) const
{
    if (nodeId == kZanNone)
        return nullptr;
    for (C3DNodePos pos = GetFirstNode(0xFFFFFFFF); pos;)
        if (C3DSceneNode* node = GetNextNode(pos); node->GetNodeID() == nodeId)
            return node;
    return nullptr;
}

C3DBaseObject* C3DScene::GetObjectByID(unsigned objectId) const
{
    if (objectId == kZanNone)
        return nullptr;
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = GetFirstNode(0xFFFFFFFF); pos;)
        if (GetNextNode(object, pos) && object && object->GetObjectID() == objectId)
            return object;
    return nullptr;
}

int C3DScene::GetNodesByType(C3DSceneNode* start, unsigned kindMask,
                             CXArray<C3DSceneNode*>& nodes, bool skipInstances, bool clear) const
{
    if (clear)
        nodes.RemoveAll();
    unsigned flags = _IterSubtree | (skipInstances ? _IterInstancesOnce : 0u);
    for (C3DNodePos pos = GetFirstNode(kindMask, flags, start ? start : GetRoot()); pos;)
        nodes.Add(GetNextNode(pos));
    return nodes.GetSize();
}

int C3DScene::GetNodesByMaterial(C3DSceneNode* start, unsigned materialId,
                                 CXArray<C3DSceneNode*>& nodes, bool clear) const
{
    if (clear)
        nodes.RemoveAll();
    if (materialId == kZanNone)
        return nodes.GetSize();
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = GetFirstNode(_ObjectKindGeometric, _IterSubtree,
                                       start ? start : GetRoot());
         pos;)
    {
        C3DSceneNode* node = GetNextNode(object, pos);
        CMaterialHashMap used;
        if (object && object->GetUsedMaterials(used) && used.HasKey(materialId))
            nodes.Add(node);
    }
    return nodes.GetSize();
}

unsigned C3DScene::GetInstancesByID(C3DSceneNode* start, unsigned objectId,
                                    CXArray<C3DSceneNode*>& nodes, bool clear) const
{
    if (clear)
        nodes.RemoveAll();
    if (objectId == kZanNone)
        return unsigned(nodes.GetSize());
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = GetFirstNode(0xFFFFFFFF, _IterSubtree, start ? start : GetRoot());
         pos;)
    {
        C3DSceneNode* node = GetNextNode(object, pos);
        if (object && object->GetObjectID() == objectId)
            nodes.Add(node);
    }
    return unsigned(nodes.GetSize());
}

unsigned C3DScene::GetInstancesByID(C3DSceneNode* start, C3DSceneNode* node,
                                    CXArray<C3DSceneNode*>& nodes, bool clear) const
{
    if (!node)
        return 0;
    if (!node->IsObjectIntanciated())
    {
        if (clear)
            nodes.RemoveAll();
        nodes.Add(node);
        return 1;
    }
    return GetInstancesByID(start, node->GetObjectID(), nodes, clear);
}

unsigned C3DScene::GetSelectedNodes(CXArray<C3DSceneNode*>& nodes, unsigned kindMask) const
{
    nodes.RemoveAll();
    C3DFilter selected(0x4);
    C3DNodePos pos = GetFirstNode(kindMask);
    pos.SetFilter(&selected);
    while (pos)
        nodes.Add(GetNextNode(pos));
    return unsigned(nodes.GetSize());
}

bool C3DScene::IsNodeSelected(unsigned kindMask) const
{
    C3DFilter selected(0x4);
    C3DNodePos pos = GetFirstNode(kindMask);
    pos.SetFilter(&selected);
    return bool(pos);
}

// ================================================================ selection

void C3DScene::Select(C3DSceneNode* node, unsigned flags)
{
    if (!node || !HasNode(node))
        return;
    if (!(flags & _SelectAdd))
        for (CTreeNode* n = CTree::GetFirstNode(); n; n = CTree::GetNextNode(n))
            static_cast<C3DSceneNode*>(n)->SetFlag(_NodeSelected, false);
    CHashTable<unsigned> ids(NextPrime(101));
    auto select = [&](C3DSceneNode* n)
    {
        n->SetFlag(_NodeSelected, true);
        if ((flags & _SelectInstances) && n->GetBaseObject())
            ids.Insert(n->GetObjectID());
    };
    select(node);
    if (flags & _SelectSubtree)
        for (CTreeNode* n = CTree::GetFirstNode(node); n; n = CTree::GetNextNode(n, node))
            select(static_cast<C3DSceneNode*>(n));
    if (ids.IsEmpty())
        return;
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = GetFirstNode(0xFFFFFFFF); pos;)
        if (C3DSceneNode* n = GetNextNode(object, pos); object && ids.Find(object->GetObjectID()))
            n->SetFlag(_NodeSelected, true);
}

void C3DScene::SelectAll()
{
    for (C3DNodePos pos = GetFirstNode(0xFFFFFFFF); pos;)
        GetNextNode(pos)->SetFlag(_NodeSelected, true);
}

void C3DScene::SelectNone()
{
    for (C3DNodePos pos = GetFirstNode(0xFFFFFFFF); pos;)
        GetNextNode(pos)->SetFlag(_NodeSelected, false);
}

void C3DScene::Unselect(C3DSceneNode* node)
{
    if (node)
        node->SetFlag(_NodeSelected, false);
}

// ================================================================ instances

C3DSceneNode* C3DScene::CreateInstance(const C3DSceneNode* node) const
{
    if (!node)
        return nullptr;
    C3DSceneNode* copy = node->CopyBranch(nullptr, _NodeCopyInstance, nullptr);
    if (copy)
        copy->DeleteAllKeys();
    return copy;
}

C3DBaseObject* C3DScene::CreateObjectInstance(const C3DBaseObject* object) const
{
    return object ? object->Copy(_CopyInstance, nullptr) : nullptr;
}

int C3DScene::DeleteInstanciation(C3DSceneNode* start)
{
    int changed = 0;
    for (C3DNodePos pos = GetFirstNode(0xFFFFFFFF, _IterSubtree, start ? start : GetRoot());
         pos;)
        if (GetNextNode(pos)->DeleteObjectInstanciation())
            ++changed;
    return changed;
}

// ================================================================ copies

C3DSceneNode* C3DScene::CopySingleNode(C3DScene* dest, C3DSceneNode* destParent,
                                       C3DSceneNode* node, int flags,
                                       C3DObjectCreator* creator) const
{
    if (!dest || !node)
        return nullptr;
    CCreatorChoice choice(creator);
    creator = choice.Get();
    C3DBaseObject* object = node->GetBaseObject();
    if (!creator->CanProcess(node, object))
        return nullptr;
    if ((flags & _SceneCopyNoHidden) && node->IsFlagSet(_NodeHidden))
        return nullptr;
    const unsigned kind = node->GetObjectKindOf();
    if (((flags & _SceneCopyNoCurve) && kind == _ObjectKindCurve) ||
        ((flags & _SceneCopyNoPatch) && kind == _ObjectKindPatch) ||
        ((flags & _SceneCopyNoPolygonal) && kind == _ObjectKindPolygonal) ||
        ((flags & _SceneCopyNoGroup) && kind == _ObjectKindGroup))
        return nullptr;

    // Nodes that share an object in the source share its copy: the creator remembers the copy
    // of each shared object, in this scene as in another one.
    int nodeFlags = dest == this ? 0 : _NodeCopyKeepID;
    unsigned mapped = kZanNone;
    if (object && object->IsInstanciated())
    {
        mapped = creator->GetInstanceID(object->GetObjectID());
        if (mapped != kZanNone)
            nodeFlags |= _NodeCopyNoObject;
    }
    C3DSceneNode* copy = node->Copy(nodeFlags, creator);
    if (!copy)
        return nullptr;
    if (mapped != kZanNone)
    {
        C3DBaseObject* shared = dest->GetObjectByID(mapped);
        C3DBaseObject* instance = shared ? shared->Copy(_CopyInstance, creator) : nullptr;
        if (!instance)
        {
            copy->Delete();
            return nullptr;
        }
        copy->SetObject(instance, true);
    }
    else if (object && copy->GetBaseObject())
        creator->AddInstanceID(object->GetObjectID(), copy->GetObjectID());

    if (destParent && !dest->HasNode(destParent))
        destParent = nullptr;
    if (!dest->AddNode(destParent, copy))
    {
        copy->Delete();
        return nullptr;
    }
    if (flags & _SceneCopySourceRef)
        copy->GetCustomData().SetUInt64(kSourceNodeID, uint64_t(reinterpret_cast<uintptr_t>(node)));
    if (!(flags & (_SceneCopyNoMaterials | _SceneCopyKeepData)) && object &&
        object->IsGeomObject())
    {
        CMaterialHashMap used;
        if (object->GetUsedMaterials(used))
            dest->m_Materials.CopyMaterials(
                m_Materials, CMaterials::_CopySkipExisting | CMaterials::_CopyOnlyListed, &used);
    }
    return copy;
}

void C3DScene::CopyChilds(C3DScene* dest, C3DSceneNode* destParent, C3DSceneNode* srcParent,
                          int flags, C3DObjectCreator* creator) const
{
    if (!dest)
        return;
    CCreatorChoice choice(creator);
    creator = choice.Get();
    C3DSceneNode* source = srcParent ? srcParent : GetRoot();
    if (!source || !HasNode(source))
        return;
    const bool selectedOnly = (flags & _SceneCopySelected) && IsNodeSelected();

    // One frame per level: the next source child to copy, where its copy goes, the flags.
    struct CFrame
    {
        CTreeNode* m_Next;
        C3DSceneNode* m_DestParent;
        int m_Flags;
    };
    std::vector<CFrame> stack{{source->GetChild(), destParent, flags}};
    while (!stack.empty())
    {
        CFrame& frame = stack.back();
        if (!frame.m_Next)
        {
            stack.pop_back();
            continue;
        }
        auto* child = static_cast<C3DSceneNode*>(frame.m_Next);
        frame.m_Next = child->GetRight();
        const int levelFlags = frame.m_Flags;
        C3DSceneNode* levelDest = frame.m_DestParent;
        C3DSceneNode* copy = nullptr;
        if (!selectedOnly || child->IsFlagSet(_NodeSelected))
            copy = CopySingleNode(dest, levelDest, child, levelFlags | 0x30000, creator);
        if (!child->GetChild() || (levelFlags & _SceneCopyDirectChilds))
            continue;
        if (levelFlags & _SceneCopyFlatten)
            stack.push_back({child->GetChild(), levelDest, levelFlags | 0x30010});
        else if (selectedOnly || copy)
            stack.push_back({child->GetChild(), copy, levelFlags | 0x30000});
    }
    InheritNode(dest, source, unsigned(flags));
}

C3DSceneNode* C3DScene::CopyNode(C3DScene* dest, C3DSceneNode* destParent, C3DSceneNode* node,
                                 int flags, C3DObjectCreator* creator) const
{
    CCreatorChoice choice(creator);
    C3DSceneNode* copy = CopySingleNode(dest, destParent, node, flags | 0x30000, choice.Get());
    if (copy)
        CopyChilds(dest, copy, node, flags, choice.Get());
    InheritNode(dest, node, unsigned(flags));
    return copy;
}

void C3DScene::InheritNode(C3DScene* dest, C3DSceneNode* node, unsigned flags) const
{
    if (!dest || dest == this || (flags & (_SceneCopyNoMaterials | _SceneCopyKeepData)))
        return;
    CMaterialHashMap used;
    if (GetMaterials(node, used) > 0)
        dest->m_Materials.CopyMaterials(
            m_Materials, CMaterials::_CopySkipExisting | CMaterials::_CopyOnlyListed, &used);
}

C3DScene* C3DScene::Copy(C3DSceneNode* start, int flags, C3DObjectCreator* creator) const
{
    const uint64_t began = timeGetTick();
    ScenePtr copy;
    {
        CLogIndent indent;
        copy.reset(new C3DScene);
        CopyChilds(copy.get(), nullptr, start, flags, creator);
    }
    WriteToLogFile("C3DScene::Copy time %d ms\n", int(timeGetTick() - began));
    if (!copy->GetChildNode(nullptr))
        return nullptr;
    copy->Inherit(this, unsigned(flags));
    return copy.release();
}

bool C3DScene::AddScene(const C3DScene* source, int flags, C3DObjectCreator* creator)
{
    if (!source)
        return false;
    source->CopyChilds(this, nullptr, nullptr, flags, creator);
    Inherit(source, unsigned(flags));
    return true;
}

void C3DScene::Inherit(const C3DScene* source, unsigned flags)
{
    if (!source || source == this)
        return;
    if (!(flags & _SceneCopyKeepData))
        m_CustomData = source->m_CustomData;
    ShareParserInfo(source);
}

// ================================================================ materials

C3DMaterial* C3DScene::GetMaterialByName(const CXTString& name) const
{
    return m_Materials.FindByName(name);
}

C3DMaterial* C3DScene::FindMaterial(const C3DMaterial& material, bool byName) const
{
    return m_Materials.Find(material, byName);
}

unsigned C3DScene::GetMaterialID(const CXTString& name) const
{
    const C3DMaterial* material = m_Materials.FindByName(name);
    return material ? material->GetMaterialID() : kZanNone;
}

unsigned C3DScene::FindMaterialID(const C3DMaterial& material, bool byName) const
{
    const C3DMaterial* found = m_Materials.Find(material, byName);
    return found ? found->GetMaterialID() : kZanNone;
}

C3DMaterial* C3DScene::CreateNewMaterial(unsigned materialId)
{
    return m_Materials.CreateNewMaterial(materialId);
}

void C3DScene::CopyMaterials(const C3DScene& source, unsigned flags, const CMaterialHashMap* only)
{
    m_Materials.CopyMaterials(source.m_Materials, flags, only);
}

C3DMaterial* C3DScene::GetNextMaterial(unsigned& position) const
{
    if (position == kZanNone)
        return nullptr;
    unsigned id = 0;
    C3DMaterial* material = nullptr;
    m_Materials.GetNext(position, id, material);
    return material;
}

int C3DScene::GetMaterials(C3DSceneNode* start, CMaterialHashMap& used, bool clear) const
{
    if (clear)
    {
        used.RemoveAll();
        used.InitHashTable(std::max(101u, NextPrime(2 * m_Materials.GetCount())));
    }
    C3DBaseObject* object = nullptr;
    C3DNodePos pos = GetFirstNode(_ObjectKindGeometric, _IterWithStart | _IterSubtree,
                                  start ? start : GetRoot());
    while (pos)
    {
        GetNextNode(object, pos);
        CMaterialHashMap objectUsed;
        if (!object || !object->GetUsedMaterials(objectUsed))
            continue;
        for (unsigned slot = objectUsed.GetFirst(); slot != kZanNone;)
            used.AddMaterial(objectUsed.GetNextKey(slot), 1);
    }
    return int(used.GetCount());
}

// ================================================================ units and scale

_UNIT_MODE C3DScene::GetUnit() const
{
    return _UNIT_MODE(m_CustomData.GetUInt(kUnitID, _UnitUndefined));
}

void C3DScene::SetUnit(_UNIT_MODE unit)
{
    m_CustomData.SetUInt(kUnitID, unit);
}

double C3DScene::GetUnitFactor(unsigned unit)
{
    static constexpr double kCentimetres[] = {1.0,  1e-7,   1e-4,  0.1,   1.0,      100.0,
                                              1e5,  2.54,   30.48, 91.44, 160934.4, 1.0};
    return unit < std::size(kCentimetres) ? kCentimetres[unit] : 1.0;
}

CXTString C3DScene::GetUnitText(bool withScale) const
{
    static const char* const kSymbols[] = {"",   "nm", "\xC2\xB5m", "mm", "cm", "m",
                                           "km", "in", "ft",        "yd", "mi", ""};
    const unsigned unit = GetUnit();
    CXTString text = unit < std::size(kSymbols) ? kSymbols[unit] : "";
    const double scale = GetScaleFactor();
    if (withScale && scale != 1.0)
        text.AppendFormat(" x%g", scale);
    return text;
}

double C3DScene::GetScaleFactor() const
{
    return m_CustomData.GetDouble(kScaleID, 1.0);
}

void C3DScene::SetScaleFactor(double scale)
{
    if (scale == 0.0 || !std::isfinite(scale))
        return;
    m_CustomData.SetDouble(kScaleID, scale);
}

double C3DScene::ConvertToUnit(double value) const
{
    return value * GetScaleFactor() / GetUnitFactor(GetUnit());
}

// ================================================================ smoothing

float C3DScene::GetSmoothAngle() const
{
    float angle = m_CustomData.GetFloat(kSmoothAngleID, -1.0f);
    return angle == -1.0f ? CSceneDefaults::GetSceneDefaults().GetSmoothAngle() : angle;
}

float C3DScene::GetSmoothAngle(const C3DScene* scene)
{
    return scene ? scene->GetSmoothAngle() : CSceneDefaults::GetSceneDefaults().GetSmoothAngle();
}

void C3DScene::SetSmoothAngle(float angle, bool writePreferences)
{
    const CSceneDefaults& defaults = CSceneDefaults::GetSceneDefaults();
    if (angle == -1.0f)
        angle = defaults.GetSmoothAngle();
    else
    {
        const float degrees = float(angle * 180.0 / std::numbers::pi);
        if (!(degrees >= 0.0f && degrees <= 180.01f))
            return;
    }
    if (angle == GetSmoothAngle())
        return;
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = GetFirstNode(_ObjectKindGeometric, _IterInstancesOnce); pos;)
        if (GetNextNode(object, pos) && object && object->FollowsSceneSmoothing(false))
            object->InvalidateChannels(0x50);
    m_CustomData.SetFloat(kSmoothAngleID, angle);
    if (writePreferences)
        defaults.SetSmoothAngle(angle);
}

_NormalSmoothMode C3DScene::GetSmoothMode() const
{
    unsigned mode = m_CustomData.GetUInt(kSmoothModeID, 0);
    return _NormalSmoothMode(mode == 0 ? CSceneDefaults::GetSceneDefaults().GetSmoothMode()
                                       : mode);
}

_NormalSmoothMode C3DScene::GetSmoothMode(const C3DScene* scene)
{
    return scene ? scene->GetSmoothMode()
                 : _NormalSmoothMode(CSceneDefaults::GetSceneDefaults().GetSmoothMode());
}

void C3DScene::SetSmoothMode(_NormalSmoothMode mode, bool writePreferences)
{
    const CSceneDefaults& defaults = CSceneDefaults::GetSceneDefaults();
    unsigned value = mode == _SmoothModeScene ? defaults.GetSmoothMode() : unsigned(mode);
    if (value > _SmoothModeAngle || value == GetSmoothMode())
        return;
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = GetFirstNode(_ObjectKindGeometric, _IterInstancesOnce); pos;)
        if (GetNextNode(object, pos) && object && object->FollowsSceneSmoothing(true))
            object->InvalidateChannels(0x50);
    m_CustomData.SetUInt(kSmoothModeID, value);
    if (writePreferences)
        defaults.SetSmoothMode(value);
}

void C3DScene::SetPatchLevel(unsigned level)
{
    m_CustomData.SetUInt(kPatchLevelID, level);
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = GetFirstNode(_ObjectKindPatch, _IterInstancesOnce); pos;)
        if (GetNextNode(object, pos) && object)
            object->SetPatchLevel(level);
}

// ================================================================ files and textures

CFileNameSpec C3DScene::GetFilename() const
{
    return CFileNameSpec(m_CustomData.GetString(kFileNameID), m_CustomData.GetUInt(kFileClassID));
}

void C3DScene::SetFilename(const CFileNameSpec& name)
{
    if (name.IsEmpty())
    {
        m_CustomData.RemoveValue(kFileNameID);
        m_CustomData.RemoveValue(kFileClassID);
        return;
    }
    m_CustomData.SetString(kFileNameID, name.GetFileName());
    m_CustomData.SetUInt(kFileClassID, name.GetClass());
}

CXTString C3DScene::GetFilepath() const
{
    return fileGetFolder(m_CustomData.GetString(kFileNameID));
}

bool C3DScene::AddTexturePath(const CXTString& path)
{
    if (path.IsEmpty())
        return false;
    CXTString folder = path;
    if (folder.str().back() != '/')
        folder = CXTString(folder.str() + "/");
    if (!fileDirectoryExists(folder))
        return false;
    CXArray<CXTString> paths;
    m_CustomData.GetStringArray(kTexturePathsID, paths);
    for (int i = 0; i < paths.GetSize(); ++i)
        if (fileCompareDirectory(paths[i], folder))
            return false;
    paths.Add(folder);
    m_CustomData.SetStringArray(kTexturePathsID, paths);
    return true;
}

bool C3DScene::GetTexturePath(int index, CXTString& path) const
{
    CXArray<CXTString> paths;
    m_CustomData.GetStringArray(kTexturePathsID, paths);
    if (index < 0 || index >= paths.GetSize())
    {
        path = CXTString();
        return false;
    }
    path = paths[index];
    return true;
}

int C3DScene::GetTexturePaths(CXArray<CXTString>& paths, bool append) const
{
    CXArray<CXTString> stored;
    m_CustomData.GetStringArray(kTexturePathsID, stored);
    return CopyStringArray(paths, stored, append);
}

int C3DScene::GetLinkedFiles(CXArray<CXTString>& files, bool append) const
{
    if (!append)
        files.RemoveAll();
    for (unsigned pos = m_Materials.GetFirst(); pos != kZanNone;)
    {
        const C3DMaterial* material = GetNextMaterial(pos);
        const CMaterialMap* map = material ? material->GetDiffuseMaps() : nullptr;
        if (map && !map->GetFileName().IsEmpty())
            files.Add(map->GetFileName());
    }
    return files.GetSize();
}

CTextureSearch C3DScene::GetTextureSearch() const
{
    CTextureSearch search;
    search.m_SceneFile = m_CustomData.GetString(kFileNameID);
    m_CustomData.GetStringArray(kTexturePathsID, search.m_SceneTexturePaths);
    return search;
}

CXTString C3DScene::GetBitmapPath(const CMaterialMap& map, bool alpha, bool absolute) const
{
    return map.GetBitmapPath(GetTextureSearch(), alpha, absolute);
}

// ================================================================ animation

CTimeRange C3DScene::GetTimeRange(uint64_t classId) const
{
    // Only nodes that have such keys take part: a node without keys has no range to add.
    CTimeRange range;
    bool any = false;
    for (const CTreeNode* n = CTree::GetFirstNode(); n; n = CTree::GetNextNode(n))
    {
        auto* node = static_cast<const C3DSceneNode*>(n);
        if (node->GetKeyNbr(classId) == 0)
            continue;
        CTimeRange nodeRange = node->C3DKeyframable::GetTimeRange(classId);
        if (any)
            range |= nodeRange;
        else
            range = nodeRange;
        any = true;
    }
    return range;
}

bool C3DScene::SetCurrentTime(int time)
{
    const int tick = GetTimeRange(0).AdjustTime(time);
    if (tick == m_CurrentTick)
        return false;
    m_CurrentTick = tick;
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = GetFirstNode(0xFFFFFFFF, _IterInstancesOnce); pos;)
        if (GetNextNode(object, pos) && object)
            object->Invalidate(0x10000, true);
    return true;
}

const C3DKeyframe* C3DScene::GetConstKey(int time, unsigned mode, uint64_t classId,
                                         int* keyTime) const
{
    const C3DKeyframe* kept = nullptr;
    int keptTime = -1;
    for (const CTreeNode* n = CTree::GetFirstNode(); n; n = CTree::GetNextNode(n))
    {
        int found = -1;
        const C3DKeyframe* key = static_cast<const C3DSceneNode*>(n)->C3DKeyframable::GetConstKey(
            time, mode, classId, &found);
        if (!key)
            continue;
        bool take = !kept || ((mode & _KeyAt) && found == time) ||
                    ((mode & _KeyBefore) ? found > keptTime
                                         : ((mode & _KeyAfter) && found < keptTime));
        if (kept && (mode & _KeyAt) && keptTime == time)
            take = false;
        if (take)
        {
            kept = key;
            keptTime = found;
        }
    }
    if (keyTime)
        *keyTime = kept ? keptTime : -1;
    return kept;
}

void C3DScene::DeleteAllKeys()
{
    for (CTreeNode* n = CTree::GetFirstNode(); n; n = CTree::GetNextNode(n))
        static_cast<C3DSceneNode*>(n)->DeleteAllKeys();
}

// ================================================================ counts

int C3DScene::GetPointNbr() const
{
    int count = 0;
    for (C3DNodePos pos = GetFirstNode(0xFFFFFFFF); pos;)
        if (C3DBaseObject* final = GetNextNode(pos)->GetFinalObject(); final &&
                                                                     final->IsGeomObject())
            count += final->GetObjectPointNbr();
    return count;
}

int C3DScene::GetFaceNbr() const
{
    int count = 0;
    for (C3DNodePos pos = GetFirstNode(0xFFFFFFFF); pos;)
        if (C3DBaseObject* final = GetNextNode(pos)->GetFinalObject(); final &&
                                                                     final->IsGeomObject())
            count += final->GetObjectFaceNbr();
    return count;
}

// ================================================================ parser data

void C3DScene::SetParserData(bool owned, unsigned parserId, void* data)
{
    if (!data)
        return;
    auto* info = new CParserSceneInfo(data, parserId, owned);
    ReleaseParserInfo();
    m_ParserInfo = info;
}

void* C3DScene::GetParserData(unsigned& parserId, bool detach)
{
    if (!m_ParserInfo)
    {
        parserId = 0;
        return nullptr;
    }
    void* data = m_ParserInfo->m_Data;
    parserId = m_ParserInfo->m_ParserID;
    if (detach)
    {
        m_ParserInfo->m_Data = nullptr;
        m_ParserInfo->m_ParserID = 0;
        ReleaseParserInfo();
    }
    return data;
}

void C3DScene::ReleaseParserInfo()
{
    if (!m_ParserInfo)
        return;
    CParserSceneInfo* info = m_ParserInfo;
    m_ParserInfo = nullptr;
    if (info->GetInstanceCount() == 1 && info->m_Data && g_ReleaseParserData)
        g_ReleaseParserData(info->m_Owned, info->m_ParserID, info->m_Data);
    info->Delete();
}

void C3DScene::ShareParserInfo(const C3DScene* source)
{
    if (!source || source->m_ParserInfo == m_ParserInfo)
        return;
    ReleaseParserInfo();
    m_ParserInfo = source->m_ParserInfo;
    if (m_ParserInfo)
        m_ParserInfo->AddRef();
}

// ================================================================ archive

void C3DScene::Serialize(CXArchive& ar)
{
    if (!ar.IsStoring())
    {
        LoadInto(ar);
        return;
    }
    if (IsEmpty())
        return;
    C3DSceneArchiveContext context(this);
    CContextGuard guard(ar, context);
    std::vector<C3DSceneNode*> carriers;
    for (C3DNodePos pos = GetFirstNode(0xFFFFFFFF); pos;)
        carriers.push_back(GetNextNode(pos));
    for (size_t i = 0; i < carriers.size(); ++i)
        carriers[i]->PreSerialize(ar, i == 0);
    ar << 1;
    if (m_ParserInfo)
    {
        ar << 1;
        m_ParserInfo->Serialize(ar);
    }
    else
        ar << 0;
    m_CustomData.Serialize(ar);
    m_Materials.Serialize(ar);
    CTree::Serialize(ar);
    for (size_t i = 0; i < carriers.size(); ++i)
        carriers[i]->PostSerialize(ar, i + 1 == carriers.size());
    ar.Flush();
}

void C3DScene::LoadInto(CXArchive& ar)
{
    int version = 0;
    ar >> version;
    if (version != 1)
        return; // another format: left unread

    // Everything is read into a scene aside and moved in only when the whole archive was read.
    ScenePtr loaded(new C3DScene);
    std::unique_ptr<CParserSceneInfo, void (*)(CParserSceneInfo*)> info(
        nullptr, [](CParserSceneInfo* p) { p->Delete(); });
    {
        C3DSceneArchiveContext context(loaded.get());
        CContextGuard guard(ar, context);
        int hasInfo = 0;
        ar >> hasInfo;
        if (hasInfo != 0)
        {
            info.reset(new CParserSceneInfo);
            info->Serialize(ar);
        }
        loaded->m_CustomData.Serialize(ar);
        loaded->m_Materials.Serialize(ar);
        loaded->CTree::Serialize(ar);
        for (CTreeNode* n = loaded->CTree::GetFirstNode(); n; n = loaded->CTree::GetNextNode(n))
            if (!n->IsKindOf(ZAN_RUNTIME_CLASS(C3DSceneNode)))
                throw CXArchiveException(CXArchiveException::_BadClass,
                                         "scene tree node is not a scene node");
        std::vector<C3DSceneNode*> carriers;
        for (C3DNodePos pos = loaded->GetFirstNode(0xFFFFFFFF); pos;)
            carriers.push_back(loaded->GetNextNode(pos));
        for (size_t i = 0; i < carriers.size(); ++i)
            carriers[i]->PostSerialize(ar, i + 1 == carriers.size());
    }

    CTreeNode* root = loaded->CTree::GetRoot();
    if (root)
        (void)loaded->CTree::RemoveNode(root);
    CTree::SetRoot(root);
    if (root)
        SetSceneOnBranch(static_cast<C3DSceneNode*>(root));
    m_CustomData.Swap(loaded->m_CustomData);
    m_Materials.CopyMaterials(loaded->m_Materials, CMaterials::_CopyEmptyFirst);
    ReleaseParserInfo();
    m_ParserInfo = info.release();
}
