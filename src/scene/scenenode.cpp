// Scene nodes: identity, objects and instances, copies, the transformation model, bounds and
// the node archive. The scene archive context (scene.h) lets a node write a shared object
// once per archive and resolve the references to it when the archive is read back.
#include <3dzan/scene/scenenode.h>

#include <3dzan/animation/keys.h>
#include <3dzan/animation/math.h>
#include <3dzan/foundation/xarchive.h>
#include <3dzan/geometry/points.h>
#include <3dzan/scene/objectcreator.h>
#include <3dzan/scene/scene.h>

#include <cmath>
#include <memory>
#include <unordered_map>
#include <vector>

#include "scenearchive.h"

ZAN_IMPLEMENT_DYNCREATE(C3DSceneNode, CTreeNode)

namespace
{
// Nodes are created from one thread at a time (like every scene edit).
unsigned g_NextNodeID = 1;

unsigned TakeNodeID()
{
    unsigned id = g_NextNodeID++;
    if (g_NextNodeID == kZanNone)
        g_NextNodeID = 1;
    return id;
}

constexpr unsigned kStringUnnamedObject = 9424;

struct CObjectHolder
{
    void operator()(C3DBaseObject* object) const
    {
        if (object)
            object->Delete();
    }
};
using ObjectPtr = std::unique_ptr<C3DBaseObject, CObjectHolder>;

// The eight corners of a box through a matrix, as a new box.
void TransformBox(const C4x4TMatrix<float>& m, C3DTPoint<float>& min, C3DTPoint<float>& max)
{
    C3DTPoint<float> lo, hi;
    for (int corner = 0; corner < 8; ++corner)
    {
        C3DTPoint<float> p((corner & 1) ? max.m_X : min.m_X, (corner & 2) ? max.m_Y : min.m_Y,
                           (corner & 4) ? max.m_Z : min.m_Z);
        C3DTPoint<float> q = m.TransformPoint(p);
        if (corner == 0)
            lo = hi = q;
        lo.Set(std::fmin(lo.m_X, q.m_X), std::fmin(lo.m_Y, q.m_Y), std::fmin(lo.m_Z, q.m_Z));
        hi.Set(std::fmax(hi.m_X, q.m_X), std::fmax(hi.m_Y, q.m_Y), std::fmax(hi.m_Z, q.m_Z));
    }
    min = lo;
    max = hi;
}
// A translation or pivot (or, with \p scale, a scale: permuted only) in the swapped axes.
void SwapVectorKey(C3DVectorKey& key, unsigned code, bool scale)
{
    const C3DTVector<float>& v = key.GetVector();
    C4x4TMatrix<float> m;
    if (scale)
    {
        m[0][0] = v.m_X;
        m[1][1] = v.m_Y;
        m[2][2] = v.m_Z;
    }
    else
        m.SetTranslation(v);
    C4x4TMatrix<float> s = AdjustMatrix(code, m);
    key.SetVector(scale ? C3DTVector<float>(s[0][0], s[1][1], s[2][2]) : s.GetTranslation());
}
} // namespace

// ================================================================ C3DInstanceID, C3DNodePos

C3DInstanceID::~C3DInstanceID() = default;

C3DNodePos::C3DNodePos(const C3DNodePos& other)
    : m_Scene(other.m_Scene), m_Filter(other.m_Filter), m_KindMask(other.m_KindMask),
      m_Mode(other.m_Mode), m_Current(other.m_Current), m_End(other.m_End), m_IDs(other.m_IDs)
{
    if (m_IDs)
        m_IDs->AddRef();
}

C3DNodePos& C3DNodePos::operator=(const C3DNodePos& other)
{
    if (this == &other)
        return *this;
    if (other.m_IDs)
        other.m_IDs->AddRef();
    if (m_IDs)
        m_IDs->Delete();
    m_Scene = other.m_Scene;
    m_Filter = other.m_Filter;
    m_KindMask = other.m_KindMask;
    m_Mode = other.m_Mode;
    m_Current = other.m_Current;
    m_End = other.m_End;
    m_IDs = other.m_IDs;
    return *this;
}

C3DNodePos::~C3DNodePos()
{
    if (m_IDs)
        m_IDs->Delete();
}

bool C3DNodePos::CheckObjectID(unsigned id) const
{
    return m_IDs && m_IDs->Find(id);
}

void C3DNodePos::AddObjectID(unsigned id)
{
    if (!m_IDs)
        return;
    m_IDs->Insert(id);
    if (m_Current && m_Current->GetObjectID() == id)
        Advance();
}

void C3DNodePos::SetFilter(const C3DFilter* filter)
{
    m_Filter = filter;
    if (m_Current && m_Filter && !m_Filter->ProcessNode(m_Current))
        Advance();
}

bool C3DNodePos::Accept(const C3DSceneNode* node)
{
    if (!node || (m_Scene && m_Scene->IsSceneRoot(node)))
        return false;
    unsigned kind = node->GetObjectKindOf();
    if (kind == 0 && (m_Mode & _ModeNoObjectAll))
        kind = m_KindMask;
    if ((kind & m_KindMask) == 0)
        return false;
    if (m_Filter && !m_Filter->ProcessNode(node))
        return false;
    const C3DBaseObject* object = node->GetBaseObject();
    if (m_IDs && object && object->IsInstanciated() && !m_IDs->Insert(object->GetObjectID()))
        return false;
    return true;
}

const C3DSceneNode* C3DNodePos::Next(const C3DSceneNode* node) const
{
    if (!m_Scene || !node)
        return nullptr;
    return static_cast<const C3DSceneNode*>(m_Scene->CTree::GetNextNode(node, m_End));
}

void C3DNodePos::Seek(const C3DSceneNode* candidate)
{
    // The end node bounds the walk to its subtree; the end node itself is only visited when
    // it was the first candidate (flag _IterWithStart).
    while (candidate && !Accept(candidate))
        candidate = Next(candidate);
    m_Current = const_cast<C3DSceneNode*>(candidate);
}

void C3DNodePos::Advance()
{
    if (!m_Current || (m_Mode & _ModeSingle))
    {
        m_Current = nullptr;
        return;
    }
    Seek(Next(m_Current));
}

// ================================================================ construction

C3DSceneNode::C3DSceneNode() : m_NodeID(TakeNodeID())
{
    m_Name = CXTString::FromId(kStringUnnamedObject);
    if (m_Name.IsEmpty())
        m_Name = "Unnamed object";
}

C3DSceneNode::~C3DSceneNode()
{
    if (m_Object)
        m_Object->DeleteFromNode();
    m_Object = nullptr;
}

unsigned C3DSceneNode::GetNextNodeID()
{
    return g_NextNodeID;
}

bool C3DSceneNode::Delete()
{
    delete this;
    return true;
}

void C3DSceneNode::SetScene(C3DScene* scene)
{
    m_Scene = scene;
    if (m_Object)
        m_Object->SetScene(scene);
}

C3DBaseObject* C3DSceneNode::GetBaseObject(int) const
{
    return m_Object;
}

C3DBaseObject* C3DSceneNode::GetFinalObject(int) const
{
    return m_Object ? m_Object->GetFinalObject(false) : nullptr;
}

void C3DSceneNode::SetObject(C3DBaseObject* object, bool release)
{
    if (object == m_Object)
        return;
    if (m_Object && release)
        m_Object->DeleteFromNode();
    m_Object = object;
    if (m_Object)
        m_Object->SetScene(m_Scene);
}

// ================================================================ instances

bool C3DSceneNode::IsObjectIntanciated(bool wholeScene) const
{
    if (!wholeScene)
        return m_Object && m_Object->IsInstanciated();
    if (!m_Scene)
        return m_Object == nullptr || !m_Object->IsGeomObject() || m_Object->IsInstanciated();
    C3DNodePos pos = m_Scene->GetFirstNode(_ObjectKindGeometric);
    C3DBaseObject* object = nullptr;
    while (pos)
        if (m_Scene->GetNextNode(object, pos) && object && !object->IsInstanciated())
            return false;
    return true;
}

bool C3DSceneNode::DeleteObjectInstanciation()
{
    if (!m_Object || !m_Object->IsInstanciated())
        return false;
    C3DBaseObject* copy = m_Object->Copy(0, nullptr);
    if (!copy)
        return false;
    m_Object->DeleteFromNode();
    m_Object = copy;
    m_Object->SetScene(m_Scene);
    return true;
}

// ================================================================ copies

C3DSceneNode* C3DSceneNode::Copy(int flags, C3DObjectCreator* creator) const
{
    auto copy = std::make_unique<C3DSceneNode>();
    if (!(flags & _NodeCopyNoObject) && m_Object)
    {
        C3DBaseObject* object = m_Object->Copy(flags, creator);
        if (!object)
            return nullptr;
        copy->m_Object = object;
    }
    copy->Inherit(this, flags);
    return copy.release();
}

CTreeNode* C3DSceneNode::Copy() const
{
    return Copy(0, nullptr);
}

void C3DSceneNode::Inherit(const C3DSceneNode* source, int flags)
{
    if (!source || source == this)
        return;
    m_Flags = source->m_Flags;
    m_Name = source->m_Name;
    m_CustomData = source->m_CustomData;
    C3DKeyframable::operator=(*source);
    if (flags & _NodeCopyKeepID)
        m_NodeID = source->m_NodeID;
}

C3DSceneNode* C3DSceneNode::CopyBranch(C3DSceneNode* parent, int flags,
                                       C3DObjectCreator* creator) const
{
    // Copies are built as a detached branch first, so that a failure leaves nothing behind,
    // then handed to the parent's scene in one piece.
    C3DSceneNode* top = Copy(flags, creator);
    if (!top)
        return nullptr;
    std::vector<std::pair<const C3DSceneNode*, C3DSceneNode*>> stack;
    for (const CTreeNode* child = GetLastChild(); child; child = child->GetLeft())
        stack.emplace_back(static_cast<const C3DSceneNode*>(child), top);
    CTree scratch;
    scratch.SetRoot(top);
    while (!stack.empty())
    {
        auto [source, copyParent] = stack.back();
        stack.pop_back();
        C3DSceneNode* copy = source->Copy(flags, creator);
        if (!copy)
        {
            scratch.RemoveAll();
            return nullptr;
        }
        scratch.InsertNode(copy, copyParent);
        for (const CTreeNode* child = source->GetLastChild(); child; child = child->GetLeft())
            stack.emplace_back(static_cast<const C3DSceneNode*>(child), copy);
    }
    (void)scratch.RemoveNode(top);
    if (parent && parent->GetScene())
        parent->GetScene()->AddNode(parent, top);
    return top;
}

// ================================================================ transformations

void C3DSceneNode::GetObjectLocalTM(int time, C4x4TMatrix<float>& matrix) const
{
    matrix.SetIdentity();
    if (m_Keys.empty())
        return;
    C3DMatrixKey matrixKey(kNodeMatrixKey);
    if (Evaluate(time, matrixKey))
        matrix *= matrixKey.ToMatrix();
    C3DTranslateKey translate(kNodeTranslateKey);
    if (Evaluate(time, translate))
        matrix *= translate.ToMatrix();
    C3DRotateKey rotate(kNodeRotateKey);
    if (Evaluate(time, rotate))
        matrix *= rotate.ToMatrix();
    C3DScaleKey scale(kNodeScaleKey);
    if (Evaluate(time, scale))
        matrix *= scale.ToMatrix();
}

void C3DSceneNode::GetNodeTM(int time, C4x4TMatrix<float>& matrix, bool withRoot) const
{
    GetObjectLocalTM(time, matrix);
    const C3DSceneNode* root = m_Scene ? m_Scene->GetRoot() : nullptr;
    if (this == root)
        return;
    for (const CTreeNode* up = GetParent(); up; up = up->GetParent())
    {
        auto* ancestor = static_cast<const C3DSceneNode*>(up);
        if (ancestor == root && !withRoot)
            break;
        C4x4TMatrix<float> local;
        ancestor->GetObjectLocalTM(time, local);
        matrix = local * matrix;
    }
    C3DVectorKey pivot(kNodePivotKey);
    if (Evaluate(time, pivot))
    {
        const C3DTVector<float>& v = pivot.GetVector();
        if (std::fabs(v.m_X) >= 1e-15f || std::fabs(v.m_Y) >= 1e-15f ||
            std::fabs(v.m_Z) >= 1e-15f)
            matrix *= pivot.ToMatrix();
    }
}

void C3DSceneNode::GetNodeLocalTM(int time, C4x4TMatrix<float>& matrix) const
{
    const C3DSceneNode* root = m_Scene ? m_Scene->GetRoot() : nullptr;
    if (this == root)
    {
        GetObjectLocalTM(time, matrix);
        return;
    }
    GetNodeTM(time, matrix, true);
    auto* parent = static_cast<const C3DSceneNode*>(GetParent());
    if (!parent || parent == root)
        return;
    C4x4TMatrix<float> parentTM;
    parent->GetNodeTM(time, parentTM, true);
    if (parentTM.Invert())
        matrix = parentTM * matrix;
}

bool C3DSceneNode::ConvertToGlobalCoordinates(const C4x4TMatrix<float>& matrix)
{
    if (matrix.IsIdentity())
        return false;
    DeleteObjectInstanciation();
    if (m_Object && !m_Object->MatrixTransform(matrix))
        return false;
    DeleteAllKeys();
    return true;
}

bool C3DSceneNode::ConvertToGlobalCoordinates(int time)
{
    C4x4TMatrix<float> local;
    GetObjectLocalTM(time, local);
    bool differs = false;
    for (int row = 0; row < 4 && !differs; ++row)
        for (int col = 0; col < 4 && !differs; ++col)
        {
            float v = local[row][col];
            differs = row == col ? !(v >= 0.995f && v <= 1.005f) : !(v >= -0.005f && v <= 0.005f);
        }
    if (!differs)
        return false;
    DeleteObjectInstanciation();
    if (m_Object)
        m_Object->MatrixTransform(local);
    DeleteAllKeys();
    return true;
}

bool C3DSceneNode::SwapPoints(unsigned code)
{
    if (code == 0 || !m_Object || !m_Object->IsGeomObject())
        return false;
    return m_Object->SwapObjectCoordinates(code);
}

bool C3DSceneNode::SwapTransformations(unsigned code)
{
    if (code == 0)
        return false;
    for (auto& record : m_Keys)
    {
        C3DKeyframe* key = record.m_Key.get();
        const uint64_t id = key->GetClassID();
        if (id == kNodeScaleKey)
        {
            // A scale is only permuted, never negated.
            if (code & 0x7)
                SwapVectorKey(*static_cast<C3DVectorKey*>(key), code & 0x7, true);
        }
        else if (id == kNodeRotateKey)
            static_cast<C3DRotateKey*>(key)->SwapCoordinates(code);
        else if (id == kNodeTranslateKey || id == kNodePivotKey)
            SwapVectorKey(*static_cast<C3DVectorKey*>(key), code, false);
        else if (id == kNodeMatrixKey)
            static_cast<C3DMatrixKey*>(key)->SwapCoordinates(code, true);
    }
    if (m_Object)
        m_Object->Invalidate(16, true);
    return true;
}

// ================================================================ centre and bounds

bool C3DSceneNode::GetCG(int time, C3DTPoint<float>& cg) const
{
    double sum[3] = {0, 0, 0};
    int found = 0;
    auto add = [&](const C3DSceneNode* node)
    {
        C3DBaseObject* final = node->GetFinalObject(time);
        C3DTPoint<float> centre;
        if (!final || !final->IsGeomObject() || !final->GetObjectCG(centre))
            return;
        C4x4TMatrix<float> tm;
        node->GetNodeTM(time, tm, true);
        C3DTPoint<float> world = tm.TransformPoint(centre);
        sum[0] += world.m_X;
        sum[1] += world.m_Y;
        sum[2] += world.m_Z;
        ++found;
    };
    add(this);
    // Walk the subtree iteratively: the tree can be deeper than the stack allows.
    for (const CTreeNode* node = GetChild(); node;)
    {
        add(static_cast<const C3DSceneNode*>(node));
        if (node->GetChild())
            node = node->GetChild();
        else
        {
            while (node != this && !node->GetRight())
                node = node->GetParent();
            node = node == this ? nullptr : node->GetRight();
        }
    }
    if (found == 0)
    {
        cg.Set(0, 0, 0);
        return false;
    }
    cg.Set(float(sum[0] / found), float(sum[1] / found), float(sum[2] / found));
    return true;
}

bool C3DSceneNode::InternalGetBoundingBox(int time, C3DTPoint<float>& min,
                                          C3DTPoint<float>& max, unsigned flags,
                                          unsigned extra) const
{
    C3DBaseObject* final = GetFinalObject(time);
    if (!final || !final->IsGeomObject() ||
        !final->GetObjectBoundingBox(min, max, flags & (_BoxPoints | _BoxFaces), extra))
        return false;
    C4x4TMatrix<float> tm;
    GetNodeTM(time, tm, true);
    TransformBox(tm, min, max);
    return true;
}

bool C3DSceneNode::GetBoundingBox(int time, C3DTPoint<float>& min, C3DTPoint<float>& max,
                                  unsigned flags, unsigned extra, unsigned kindMask) const
{
    bool found = false;
    C3DTPoint<float> lo(0, 0, 0), hi(0, 0, 0);
    if (flags & (_BoxPoints | _BoxFaces))
    {
        const bool nodeFlags = (flags & _BoxNodeFlags) != 0;
        const unsigned objectExtra = nodeFlags ? 0 : extra;
        found = InternalGetBoundingBox(time, lo, hi, flags, objectExtra);
        if (nodeFlags || !(flags & _BoxNodeOnly))
        {
            unsigned required = (flags & _BoxSelected) ? unsigned(_NodeSelected) : 0;
            if (nodeFlags)
                required |= extra;
            for (const CTreeNode* walk = GetChild(); walk;)
            {
                auto* node = static_cast<const C3DSceneNode*>(walk);
                unsigned kind = node->GetObjectKindOf();
                bool kindOk = (flags & _BoxKindIn)    ? (kind & kindMask) != 0
                              : (flags & _BoxKindOut) ? (kind & kindMask) == 0
                                                      : true;
                C3DTPoint<float> a, b;
                if (kindOk && node->IsFlagSet(required) &&
                    !((flags & _BoxSkipHidden) && node->IsFlagSet(_NodeHidden)) &&
                    node->InternalGetBoundingBox(time, a, b, flags, objectExtra))
                {
                    if (!found)
                        lo = a, hi = b;
                    else
                    {
                        lo.Set(std::fmin(lo.m_X, a.m_X), std::fmin(lo.m_Y, a.m_Y),
                               std::fmin(lo.m_Z, a.m_Z));
                        hi.Set(std::fmax(hi.m_X, b.m_X), std::fmax(hi.m_Y, b.m_Y),
                               std::fmax(hi.m_Z, b.m_Z));
                    }
                    found = true;
                }
                if (walk->GetChild())
                    walk = walk->GetChild();
                else
                {
                    while (walk != this && !walk->GetRight())
                        walk = walk->GetParent();
                    walk = walk == this ? nullptr : walk->GetRight();
                }
            }
        }
    }
    if (!found)
        lo.Set(0, 0, 0), hi.Set(0, 0, 0);
    min = lo;
    max = hi;
    return found;
}

// ================================================================ storage

void C3DSceneNode::Serialize(CXArchive& ar)
{
    auto* context = static_cast<C3DSceneArchiveContext*>(ar.GetData());
    if (ar.IsStoring())
    {
        C3DKeyframable::Serialize(ar);
        ar << m_Flags << m_UpdateFlags << m_Name;
        m_CustomData.Serialize(ar);
        ar << int(m_Object ? 1 : 0);
        if (!m_Object)
            return;
        const unsigned id = m_Object->GetObjectID();
        bool reference = false;
        if (context && m_Object->IsInstanciated())
        {
            C3DInstanceID* written = SceneArchiveWrittenSet(*context);
            reference = !written->Insert(id);
        }
        ar << int(reference ? 1 : 0);
        if (reference)
        {
            ar << id;
            return;
        }
        ar.WriteClass(SceneArchiveClassOf(*m_Object));
        m_Object->Serialize(ar);
        return;
    }

    // Loading: read everything aside, then commit.
    C3DKeyframable keys;
    keys.Serialize(ar);
    unsigned flags = 0, updateFlags = 0;
    CXTString name;
    ar >> flags >> updateFlags >> name;
    CCustomData data;
    data.Serialize(ar);
    int hasObject = 0;
    ar >> hasObject;
    ObjectPtr object;
    if (hasObject != 0)
    {
        if (hasObject != 1)
            throw CXArchiveException(CXArchiveException::_BadValue, "scene node object flag");
        int isReference = 0;
        ar >> isReference;
        if (isReference == 1)
        {
            unsigned id = 0;
            ar >> id;
            C3DBaseObject* shared = context ? SceneArchiveFindObject(*context, id) : nullptr;
            if (shared)
                object.reset(shared->Copy(_CopyInstance, nullptr));
        }
        else if (isReference == 0)
        {
            const CXRuntimeClass* cls = ar.ReadClass(ZAN_RUNTIME_CLASS(C3DBaseObject));
            if (!cls)
                throw CXArchiveException(CXArchiveException::_BadClass, "scene node object");
            object.reset(static_cast<C3DBaseObject*>(cls->CreateObject()));
            if (!object)
                throw CXArchiveException(CXArchiveException::_BadClass, "scene node object");
            object->Serialize(ar);
            if (context)
                SceneArchiveAddObject(*context, object.get());
        }
        else
            throw CXArchiveException(CXArchiveException::_BadValue, "scene node reference flag");
    }

    SwapKeys(keys);
    m_Flags = flags;
    m_UpdateFlags = updateFlags;
    m_Name = name;
    m_CustomData.Swap(data);
    if (m_Object)
        m_Object->DeleteFromNode();
    m_Object = object.release();
    if (context)
        SetScene(context->m_Scene);
    else if (m_Object)
        m_Object->SetScene(m_Scene);
}

void C3DSceneNode::PreSerialize(CXArchive& ar, bool first)
{
    if (m_Object)
        m_Object->PreSerialize(ar, first);
}

void C3DSceneNode::PostSerialize(CXArchive& ar, bool last)
{
    if (m_Object)
        m_Object->PostSerialize(ar, last);
    auto* context = static_cast<C3DSceneArchiveContext*>(ar.GetData());
    if (last && context && ar.IsStoring())
        SceneArchiveReleaseWrittenSet(*context);
}
