// The import checkout: the clean-up a scene goes through right after a parser built it.
//
// The scene-wide steps (hidden nodes, groups, orientation, axes, global coordinates,
// concatenation, texture coordinates, seams, material names) run on the caller's thread in a
// fixed order; the per-object checks of CheckoutNode (invalid faces, used materials and the
// optional welding, coplanar merge, orientation and triangulation) run in a parallel loop,
// one object per iteration, because each object is independent of the others. The materials
// the faces use are gathered into one set under a lock and the missing ones are created
// afterwards, on the caller's thread, in increasing ID order so that the result does not
// depend on the thread count.
#include <3dzan/foundation/services.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/materials/material.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/sceneoptions.h>

#include <algorithm>
#include <cstdarg>
#include <map>
#include <set>
#include <vector>

namespace
{
// Texts of the string table used by the checkout.
constexpr unsigned kStrGlobalCoordinates = 9133;
constexpr unsigned kStrInvalidFaceIndex = 9134;
constexpr unsigned kStrMergeByMaterials = 9137;
constexpr unsigned kStrOrientation = 9140;
constexpr unsigned kStrRemovingObject = 9142;
constexpr unsigned kStrConcatenating = 9146;
constexpr unsigned kStrSwapCoordinates = 9147;
constexpr unsigned kStrCreatingUV = 9131;
constexpr unsigned kStrMaterial = 9364;

// Coplanar faces are merged when their normals lie within this angle (radians, 0.25 degree):
// enough for the rounding of coordinates written as text, far below any modelled crease.
constexpr double kCoplanarAngle = 0.25 * 3.14159265358979323846 / 180.0;

// Arguments of the seam split run after reading (points split along the texture and colour
// seams of every channel type).
constexpr unsigned kDisconnectChannels = 0xFFFF;
constexpr unsigned kDisconnectA = 144;
constexpr unsigned kDisconnectB = 20480;

// Adds one line to the options' log, formatted with the string-table text of id.
void LogId(CIoOptions& options, unsigned level, unsigned id, ...)
{
    CXTString text;
    va_list args;
    va_start(args, id);
    text.FormatV(CXTString::FromId(id).c_str(), args);
    va_end(args);
    options.AddLogInfo(level, "%s", text.c_str());
}

// Whether name a goes before name b, ignoring ASCII case.
bool NameLess(const CTreeNode* a, const CTreeNode* b)
{
    return static_cast<const C3DSceneNode*>(a)->GetName().CompareNoCase(
               static_cast<const C3DSceneNode*>(b)->GetName().c_str()) < 0;
}
} // namespace

void C3DScene::CheckoutImport(CSceneImportOptions& options)
{
    const unsigned flags = options.m_Flags;
    if (flags & _ImportNoCheckout)
        return;
    const uint64_t began = timeGetTick();
    {
        CLogIndent indent;
        if (flags & _ImportRemoveHidden)
        {
            for (C3DNodePos pos = GetFirstNode(_ObjectKindGeometric); pos;)
            {
                C3DSceneNode* node = GetNextNode(pos);
                if (!node->IsFlagSet(_NodeHidden))
                    continue;
                LogId(options, _IoLevelInfo, kStrRemovingObject, node->GetName().c_str());
                RemoveNode(node, pos, true);
            }
        }
        if (flags & _ImportCleanGroups)
            CleanGroups(true);
        if (OrientScene(_UP_AXIS_MODE(options.m_OrientationMode), true))
            LogId(options, _IoLevelInfo, kStrOrientation);
        if (SwapCoordinates(int(options.m_SwapMode)))
            LogId(options, _IoLevelInfo, kStrSwapCoordinates);

        CheckoutNode(options);

        const CFileNameSpec file = GetFilename();
        if (flags & _ImportGlobalCoordinates)
        {
            ConvertToGlobalCoordinates(nullptr);
            LogId(options, _IoLevelInfo, kStrGlobalCoordinates, file.GetFileName().c_str());
        }
        if (flags & _ImportConcatenate)
        {
            Concatenate(nullptr, file.GetName(), 16, nullptr, nullptr);
            LogId(options, _IoLevelInfo, kStrConcatenating);
        }
        else if (flags & _ImportMergeByMaterials)
        {
            ConcatenateByMaterials(nullptr, true, nullptr);
            LogId(options, _IoLevelInfo, kStrMergeByMaterials);
        }
        if ((flags & _ImportGenerateUVW) && GenerateUVW())
            LogId(options, _IoLevelInfo, kStrCreatingUV);
        if (flags & _ImportDisconnectFaces)
        {
            C3DGeomObject* object = nullptr;
            for (C3DNodePos pos = GetFirstNode(_ObjectKindGeometric, _IterInstancesOnce); pos;)
                if (GetNextNode(object, pos) && object)
                    object->DisconnectBorderFaces(kDisconnectChannels, kDisconnectA, kDisconnectB);
        }

        // Unnamed materials are named after their place in the table.
        const CXTString materialText = CXTString::FromId(kStrMaterial);
        int position = 0;
        for (unsigned slot = GetFirstMaterial(); slot != kZanNone;)
        {
            C3DMaterial* material = GetNextMaterial(slot);
            ++position;
            if (material && material->GetName().IsEmpty())
            {
                CXTString name;
                name.Format("%s %d", materialText.c_str(), position);
                material->SetName(name);
            }
        }
    }
    WriteToLogFile("C3DScene::CheckoutImport time %d ms\n", int(timeGetTick() - began));
}

void C3DScene::CheckoutNode(CSceneImportOptions& options)
{
    const uint64_t began = timeGetTick();
    {
        CLogIndent indent;

        // Unnamed nodes take their object's type and a counter kept per kind.
        std::map<unsigned, int> counters;
        C3DBaseObject* base = nullptr;
        for (C3DNodePos pos = GetFirstNode(_ObjectKindAll, _IterInstancesOnce); pos;)
        {
            C3DSceneNode* node = GetNextNode(base, pos);
            if (!node || !base)
                continue;
            const int counter = ++counters[unsigned(base->GetKindOf())];
            const CXTString type = base->GetTypeString();
            if (node->GetName().IsEmpty() && !type.IsEmpty())
            {
                CXTString name;
                name.Format("%s %d", type.c_str(), counter);
                node->SetName(name);
            }
        }

        std::set<unsigned> materialIDs;
        for (unsigned slot = GetFirstMaterial(); slot != kZanNone;)
            if (const C3DMaterial* material = GetNextMaterial(slot))
                materialIDs.insert(material->GetMaterialID());

        CXArray<C3DSceneNode*> nodes;
        const int count = GetNodesByType(nullptr, _ObjectKindGeometric, nodes, true);
        CXCriticalSection lock;
        // Invalid faces are reported after the loop, object by object, so that the log reads
        // the same whatever the thread count.
        std::vector<std::vector<int>> invalidFaces(size_t(std::max(count, 0)));
        const unsigned operations = options.m_Flags & 0xFF;
        ZanParallelFor(
            count,
            [&](int index)
            {
                C3DSceneNode* node = nodes[index];
                C3DGeomObject* object = node->GetGeomObject();
                if (!object)
                    return;
                const C3DFaceList* faces = object->GetFaceList();
                const int pointNbr = object->GetPointNbr();
                std::vector<int>& invalid = invalidFaces[size_t(index)];
                std::set<unsigned> used;
                if (faces)
                {
                    faces->ForEachFace(
                        [&](unsigned face, const int* corners, unsigned cornerNbr)
                        {
                            for (unsigned k = 0; k < cornerNbr; ++k)
                                if (corners[k] < 0 || corners[k] >= pointNbr)
                                {
                                    invalid.push_back(int(face));
                                    break;
                                }
                        });
                    // Runs of faces share their material: the set sees each run once.
                    unsigned lastFront = kZanNone, lastBack = kZanNone;
                    const bool backs = faces->HasBackFaceMaterials();
                    for (int face = 0; face < faces->GetSize(); ++face)
                    {
                        const unsigned front = faces->GetFaceMaterial(unsigned(face));
                        const unsigned back =
                            backs ? faces->GetBackFaceMaterial(unsigned(face)) : kZanNone;
                        if (front != kZanNone && front != lastFront)
                            used.insert(lastFront = front);
                        if (back != kZanNone && back != lastBack)
                            used.insert(lastBack = back);
                    }
                }
                {
                    CXSingleLock guard(&lock, true);
                    materialIDs.insert(used.begin(), used.end());
                }
                if (operations & _ImportWeld)
                    object->Weld3DPoints(0.0, true);
                if (operations & _ImportMergeCoplanar)
                    object->MergeCoplanarFaces(kCoplanarAngle);
                if (operations & _ImportUnifyNormals)
                    object->UnifyNormals();
                if (operations & _ImportTriangulate)
                    object->Triangulate(_ChannelAll, _FACE_PROPERTIES(0), true);
            },
            OMPGetMaxThreadCount(), 1);

        const CXTString invalidText = CXTString::FromId(kStrInvalidFaceIndex);
        for (int index = 0; index < count; ++index)
            for (int face : invalidFaces[size_t(index)])
                options.AddLogInfo(_IoLevelWarning, "%s: %s (face %d)", invalidText.c_str(),
                                   nodes[index]->GetName().c_str(), face);

        // No face may refer to a material the table lacks.
        for (unsigned id : materialIDs)
            if (!m_Materials.GetMaterial(id))
                CreateNewMaterial(id);

        // Siblings are put in name order, each run of children of one parent on its own.
        std::vector<CTreeNode*> parents;
        for (CTreeNode* node = CTree::GetFirstNode(); node; node = CTree::GetNextNode(node))
            if (node->GetChild() && node->GetChild()->GetRight())
                parents.push_back(node);
        for (CTreeNode* parent : parents)
            Sort(parent, NameLess);
    }
    WriteToLogFile("C3DScene::CheckoutNode time %d ms\n", int(timeGetTick() - began));
}
