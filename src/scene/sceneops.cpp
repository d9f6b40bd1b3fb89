// Scene-wide geometry operations: concatenation of the geometric nodes of a subtree into one
// object (all of them, or one object per material), baking of node transformations into
// the objects, axis swaps, orientation and scaling of the whole scene, and the passes that
// run one object operation over every geometric object (normals in parallel, one object per
// iteration). The geometric work itself is the objects' own; this file decides which nodes
// take part and keeps their world placement.
//
// Placement rules shared here: a node's world matrix is the product of the object-local
// matrices of the node and its ancestors below the root, then its own pivot; the frame its
// children live in is the same product without the pivot (a pivot moves only the node's own
// object). A matrix within 0.005 of the identity, element by element, counts as the identity.
#include <3dzan/scene/scene.h>

#include <3dzan/animation/keys.h>
#include <3dzan/animation/math.h>
#include <3dzan/foundation/services.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/objectcreator.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <unordered_map>
#include <vector>

namespace
{
constexpr float kIdentityTolerance = 0.005f;

bool IsNearIdentity(const C4x4TMatrix<float>& m)
{
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
        {
            const float v = m[row][col];
            const bool inside =
                row == col ? v >= 1.0f - kIdentityTolerance && v <= 1.0f + kIdentityTolerance
                           : v >= -kIdentityTolerance && v <= kIdentityTolerance;
            if (!inside)
                return false;
        }
    return true;
}

bool IsFinite(const C4x4TMatrix<float>& m)
{
    const float* v = m.ValPtr();
    return std::all_of(v, v + 16, [](float x) { return std::isfinite(x); });
}

// Drops a temporary object when it goes out of scope.
struct CObjectDrop
{
    void operator()(C3DBaseObject* object) const
    {
        if (object)
            object->Delete();
    }
};
using TempObject = std::unique_ptr<C3DGeomObject, CObjectDrop>;

// A quarter turn about axis 0 (x) or 1 (y), counter-clockwise seen from the axis' tip for
// +1, clockwise for -1; built from exact 0 and ±1 so that a turn and its inverse cancel.
C4x4TMatrix<float> QuarterTurn(int axis, int sign)
{
    C4x4TMatrix<float> m;
    const float s = float(sign);
    if (axis == 0)
    {
        m[1][1] = 0.0f, m[1][2] = -s;
        m[2][1] = s, m[2][2] = 0.0f;
    }
    else
    {
        m[0][0] = 0.0f, m[0][2] = s;
        m[2][0] = -s, m[2][2] = 0.0f;
    }
    return m;
}

// Multiplies every matrix key of `node` on the left by `m`, or gives it one at time 0 when it
// has none, so that the node's whole placement is moved by `m` at every time.
void PremultiplyMatrixKeys(C3DSceneNode& node, const C4x4TMatrix<float>& m)
{
    const unsigned count = node.GetKeyNbr(kNodeMatrixKey);
    if (count == 0)
    {
        C3DMatrixKey key(kNodeMatrixKey);
        key.SetMatrix(m);
        node.AddKey(0, key);
        return;
    }
    for (unsigned i = 0; i < count; ++i)
        if (auto* key = dynamic_cast<C3DMatrixKey*>(node.GetKeyByIndex(i, nullptr, kNodeMatrixKey)))
            key->SetMatrix(m * key->ToMatrix());
}
} // namespace

// ================================================================ filters

C3DFilterByMaterial::~C3DFilterByMaterial() = default;

bool C3DFilterByMaterial::ProcessNode(const C3DSceneNode* node) const
{
    if (!node || !C3DFilter::ProcessNode(node))
        return false;
    C3DGeomObject* object = node->GetGeomObject();
    if (!object)
        return false;
    const CMaterialHashMap* used = object->GetMaterialsHashMap();
    return used && used->HasKey(m_MaterialID);
}

bool C3DFilterByMaterial::ProcessFace(const C3DBaseObject*, const C3DFace* face) const
{
    if (!face)
        return false;
    return face->GetMaterialID() == m_MaterialID ? m_Keep : !m_Keep;
}

// ================================================================ helpers of the operations

C4x4TMatrix<float> C3DScene::GetChildFrame(const C3DSceneNode* node) const
{
    C4x4TMatrix<float> frame;
    const C3DSceneNode* root = GetRoot();
    for (const CTreeNode* up = node; up && up != root; up = up->GetParent())
    {
        C4x4TMatrix<float> local;
        static_cast<const C3DSceneNode*>(up)->GetObjectLocalTM(m_CurrentTick, local);
        frame = local * frame;
    }
    return frame;
}

void C3DScene::GetGeomObjects(C3DSceneNode* start, CXArray<C3DGeomObject*>& objects) const
{
    objects.RemoveAll();
    C3DSceneNode* root = GetRoot();
    if (!root || (start && !HasNode(start)))
        return;
    C3DGeomObject* object = nullptr;
    for (C3DNodePos pos =
             GetFirstNode(_ObjectKindGeometric, _IterWithStart | _IterSubtree | _IterInstancesOnce,
                          start ? start : root);
         pos;)
        if (GetNextNode(object, pos) && object)
            objects.Add(object);
}

// ================================================================ concatenation

C3DSceneNode* C3DScene::Concatenate(C3DSceneNode* start, const CXTString& name, unsigned flags,
                                    C3DFilter* filter, C3DGeomObject* target)
{
    C3DSceneNode* root = GetRoot();
    if (!root || (start && !HasNode(start)))
        return nullptr;
    if (start == root)
        start = nullptr;

    // Objects of transformed nodes are appended as transformed copies; a node whose placement
    // is not finite makes the whole call fail before anything changed.
    CXArray<C3DGeomObject*> sources;
    std::vector<TempObject> copies;
    C3DGeomObject* object = nullptr;
    for (C3DNodePos pos = GetFirstNode(_ObjectKindGeometric, _IterWithStart | _IterSubtree,
                                       start ? start : root);
         pos;)
    {
        C3DSceneNode* node = GetNextNode(object, pos);
        if (!object || object == target || object->IsFlagSet(_ObjectEmpty) ||
            node->IsFlagSet(_NodeHidden) || (filter && !filter->ProcessNode(node)))
            continue;
        C4x4TMatrix<float> world;
        node->GetNodeTM(m_CurrentTick, world, false);
        if (!IsFinite(world))
            return nullptr;
        if (IsNearIdentity(world))
        {
            sources.Add(object);
            continue;
        }
        TempObject copy(static_cast<C3DGeomObject*>(object->Copy(0, nullptr)));
        if (!copy)
            return nullptr;
        copy->MatrixTransform(world);
        sources.Add(copy.get());
        copies.push_back(std::move(copy));
    }

    TempObject made;
    C3DGeomObject* result = target;
    if (!result)
    {
        C3DObjectCreator creator;
        made.reset(static_cast<C3DGeomObject*>(creator.GetNewPolygonalObject()));
        if (!made)
            return nullptr;
        made->SetScene(this);
        result = made.get();
    }
    result->Concatenate(this, sources, filter);
    copies.clear();
    if (result->GetPointNbr() == 0 || result->GetFaceNbr() == 0)
        return nullptr;

    auto* node = new C3DSceneNode;
    node->SetName(name);
    node->SetObject(result, false);
    made.release();

    // The result is in world coordinates: a node placed under a transformed parent gets it
    // expressed in that parent's frame.
    auto placeUnder = [&](C3DSceneNode* parent)
    {
        if (parent && parent != GetRoot())
        {
            C4x4TMatrix<float> inverse = GetChildFrame(parent);
            if (inverse.Invert())
                result->MatrixTransform(inverse);
        }
        AddNode(parent, node);
    };
    if (flags & _ConcatReplaceSubtree)
    {
        RemoveNode(start, true); // null empties the whole tree
        AddNode(nullptr, node);
    }
    else if (flags & _ConcatReplaceChilds)
    {
        C3DSceneNode* parent = start ? start : root;
        while (CTreeNode* child = parent->GetChild())
            CTree::DeleteNode(child);
        placeUnder(start);
    }
    else if (flags & _ConcatReplaceNode)
    {
        C3DSceneNode* parent = start ? GetParent(start) : nullptr;
        RemoveNode(start, true);
        placeUnder(parent == GetRoot() ? nullptr : parent);
    }
    return node;
}

int C3DScene::ConcatenateByMaterials(C3DSceneNode* start, bool replace, C3DFilterByMaterial* filter)
{
    C3DSceneNode* root = GetRoot();
    if (!root || (start && !HasNode(start)))
        return 0;
    if (start == root)
        start = nullptr;
    C3DFilterByMaterial local;
    C3DFilterByMaterial* byMaterial = filter ? filter : &local;

    ConvertToGlobalCoordinates(start);
    CMaterialHashMap used;
    GetMaterials(start, used, true);
    std::vector<unsigned> ids;
    for (unsigned slot = used.GetFirst(); slot != kZanNone;)
        ids.push_back(used.GetNextKey(slot));
    std::sort(ids.begin(), ids.end());

    // The nodes whose faces go into the new nodes, before any of those exists.
    std::vector<C3DSceneNode*> taken;
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = GetFirstNode(_ObjectKindGeometric, _IterWithStart | _IterSubtree,
                                       start ? start : root);
         pos;)
    {
        C3DSceneNode* node = GetNextNode(object, pos);
        // Curves and objects without a usable face give nothing to the new nodes: they stay.
        CMaterialHashMap objectUsed;
        if (object && object->GetKindOf() != _ObjectKindCurve && !object->IsFlagSet(_ObjectEmpty) &&
            !node->IsFlagSet(_NodeHidden) && C3DFilter::ProcessNode(byMaterial->GetFlags(), node) &&
            object->GetUsedMaterials(objectUsed) && objectUsed.GetCount() > 0)
            taken.push_back(node);
    }

    std::vector<C3DSceneNode*> made;
    for (unsigned id : ids)
    {
        byMaterial->SetMaterial(id, true);
        const C3DMaterial* material = m_Materials.GetMaterial(id);
        CXTString name = material ? material->GetName() : CXTString();
        if (name.IsEmpty())
            name.Format("%s %u", CXTString::FromId(9364).c_str(), id);
        if (C3DSceneNode* node = Concatenate(start, name, 0, byMaterial, nullptr))
            made.push_back(node);
    }
    if (made.empty())
        return 0;

    C3DSceneNode* parent = start;
    if (replace)
    {
        // The taken nodes go; their children move up into their place.
        for (C3DSceneNode* node : taken)
        {
            if (node == parent)
                parent = static_cast<C3DSceneNode*>(node->GetParent());
            DissolveNode(node);
        }
    }
    if (parent == GetRoot())
        parent = nullptr;
    C4x4TMatrix<float> inverse = GetChildFrame(parent);
    const bool moved = parent && inverse.Invert();
    for (C3DSceneNode* node : made)
    {
        if (moved)
            node->GetGeomObject()->MatrixTransform(inverse);
        AddNode(parent, node);
    }
    return int(made.size());
}

// ================================================================ global coordinates

int C3DScene::ConvertToGlobalCoordinates(C3DSceneNode* start)
{
    C3DSceneNode* root = GetRoot();
    if (!root || (start && !HasNode(start)))
        return 0;
    if (start == root)
        start = nullptr;
    const int tick = m_CurrentTick;

    // Objects are baked into the frame of the start's parent, so that they keep their place
    // when the start lies under a transformed node.
    C3DSceneNode* outer = start ? GetParent(start) : nullptr;
    const C4x4TMatrix<float> outerFrame = GetChildFrame(outer);
    C4x4TMatrix<float> toOuter = outerFrame;
    if (!toOuter.Invert())
        return 0;

    // Every placement is read before the first change: baking a parent changes the world
    // matrices of its children.
    struct CEntry
    {
        C3DSceneNode* m_Node;
        C4x4TMatrix<float> m_World;
        C4x4TMatrix<float> m_Frame;
    };
    std::vector<CEntry> entries;
    std::unordered_map<const CTreeNode*, size_t> index;
    CTreeNode* top = start ? static_cast<CTreeNode*>(start) : root;
    for (CTreeNode* n = start ? top : CTree::GetFirstNode(root); n; n = CTree::GetNextNode(n, top))
    {
        auto* node = static_cast<C3DSceneNode*>(n);
        CEntry entry{node, {}, GetChildFrame(node)};
        node->GetNodeTM(tick, entry.m_World, false);
        if (!IsFinite(entry.m_World))
            return 0;
        index.emplace(n, entries.size());
        entries.push_back(entry);
    }

    int changed = 0;
    for (const CEntry& entry : entries)
    {
        C3DSceneNode* node = entry.m_Node;
        C3DBaseObject* object = node->GetBaseObject();
        if (object && object->IsGeomObject())
        {
            const C4x4TMatrix<float> relative = toOuter * entry.m_World;
            if (!IsNearIdentity(relative) && !object->IsFlagSet(_ObjectEmpty))
            {
                node->DeleteObjectInstanciation();
                object = node->GetBaseObject();
                if (object->IsInstanciated())
                    continue; // still shared: baking it would move the other nodes
                if (object->MatrixTransform(relative))
                    ++changed;
            }
            node->DeleteAllKeys();
        }
        else if (node->GetChild())
            node->DeleteAllKeys(); // a container: its children now carry its placement
        else
        {
            // Cameras, lights and other leaves keep their world placement: when the frame of
            // their parent changed, one matrix key now gives it.
            auto* parent = static_cast<C3DSceneNode*>(node->GetParent());
            auto found = index.find(parent);
            const C4x4TMatrix<float>& oldFrame =
                found == index.end() ? outerFrame : entries[found->second].m_Frame;
            C4x4TMatrix<float> newFrame = GetChildFrame(parent);
            if (newFrame.IsEqual(oldFrame, 0.0))
                continue;
            C3DVectorKey pivot(kNodePivotKey);
            const bool hasPivot = node->Evaluate(tick, pivot);
            C4x4TMatrix<float> unpivot;
            if (hasPivot)
                unpivot.SetTranslation(C3DTVector<float>(
                    -pivot.GetVector().m_X, -pivot.GetVector().m_Y, -pivot.GetVector().m_Z));
            if (!newFrame.Invert())
                continue;
            C3DMatrixKey key(kNodeMatrixKey);
            key.SetMatrix(newFrame * entry.m_World * unpivot);
            node->DeleteAllKeys();
            node->AddKey(0, key);
            if (hasPivot)
                node->AddKey(0, pivot);
        }
    }
    return changed;
}

// ================================================================ axes, orientation, scale

bool C3DScene::SwapCoordinates(int code)
{
    int axisA = -1, axisB = -1, mirror = -1;
    if (code == 0 || !GetXYZSwap(unsigned(code), axisA, axisB, mirror))
        return false;
    const unsigned swap = unsigned(code);
    for (C3DNodePos pos = GetFirstNode(_ObjectKindGeometric, _IterInstancesOnce); pos;)
        GetNextNode(pos)->SwapPoints(swap);
    for (CTreeNode* n = CTree::GetFirstNode(); n; n = CTree::GetNextNode(n))
        static_cast<C3DSceneNode*>(n)->SwapTransformations(swap);
    for (unsigned position = GetFirstMaterial(); position != kZanNone;)
        if (const C3DMaterial* material = GetNextMaterial(position))
            for (int type = _MapDiffuse; type <= _MapBump; ++type)
                if (CMaterialMap* map = material->GetMaterialMap(MapType(type)))
                    map->SwapCoordinates(swap);
    return true;
}

bool C3DScene::OrientScene(_UP_AXIS_MODE mode, bool import)
{
    if (mode != _UpAxisZ && mode != _UpAxisX)
        return false;
    C3DSceneNode* root = GetRoot();
    if (!root || !root->GetChild())
        return true;
    // Reading turns the file's axes into ours; writing applies the exact inverse.
    C4x4TMatrix<float> rotation;
    if (mode == _UpAxisZ)
        rotation = QuarterTurn(0, import ? -1 : 1);
    else if (import)
        rotation = QuarterTurn(1, 1) * QuarterTurn(0, -1);
    else
        rotation = QuarterTurn(0, 1) * QuarterTurn(1, -1);
    for (CTreeNode* child = root->GetChild(); child; child = child->GetRight())
        PremultiplyMatrixKeys(*static_cast<C3DSceneNode*>(child), rotation);
    return true;
}

void C3DScene::Scale(const C3DTVector<float>& scale)
{
    const float factors[3] = {scale.m_X, scale.m_Y, scale.m_Z};
    // A zero or non-finite factor would destroy the geometry for good.
    if (!std::all_of(factors, factors + 3, [](float f) { return std::isfinite(f) && f != 0.0f; }))
        return;
    C3DSceneNode* root = GetRoot();
    if (!root)
        return;
    C4x4TMatrix<float> matrix;
    for (int axis = 0; axis < 3; ++axis)
        matrix[axis][axis] = factors[axis];
    for (CTreeNode* child = root->GetChild(); child; child = child->GetRight())
        PremultiplyMatrixKeys(*static_cast<C3DSceneNode*>(child), matrix);
}

// ================================================================ per-object passes

bool C3DScene::GenerateNormals(C3DSceneNode* start, unsigned flags, _NormalSmoothMode mode)
{
    if (start && !HasNode(start))
        return false;
    const uint64_t begin = timeGetTick();
    CXArray<C3DGeomObject*> objects;
    GetGeomObjects(start, objects);
    try
    {
        // Objects are independent: each iteration touches one object only.
        ZanParallelFor(
            objects.GetSize(), [&](int i) { objects[i]->GenerateNormals(flags, mode); }, 0, 1);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    WriteToLogFile("C3DScene::GenerateNormals time %d ms\n", int(timeGetTick() - begin));
    return true;
}

bool C3DScene::GenerateUVW()
{
    CXArray<C3DGeomObject*> objects;
    GetGeomObjects(nullptr, objects);
    bool made = false;
    for (int i = 0; i < objects.GetSize(); ++i)
        made = objects[i]->GenerateUVW(this) || made;
    return made;
}

bool C3DScene::DisconnectBorderFaces(unsigned channelTypes, unsigned a, unsigned b)
{
    CXArray<C3DGeomObject*> objects;
    GetGeomObjects(nullptr, objects);
    bool changed = false;
    for (int i = 0; i < objects.GetSize(); ++i)
        changed = objects[i]->DisconnectBorderFaces(channelTypes, a, b) || changed;
    return changed;
}

void C3DScene::Clean()
{
    CXArray<C3DGeomObject*> objects;
    GetGeomObjects(nullptr, objects);
    for (int i = 0; i < objects.GetSize(); ++i)
        objects[i]->Clean();
}
