// The export preparation: the working copy of a scene that a writer saves, and the
// conversions the export flags ask of it.
//
// The caller's scene is only read: the working copy is a new scene holding copies of its
// nodes, objects (shared objects stay shared), whole material table, settings and current
// time, and every later step edits that copy. The steps run in a fixed order so that each
// sees the result of the previous ones: unit, removals, channel removals, patches, global
// coordinates, groups, texture coordinates, triangulation, orientation and axes, channel
// unification, concatenation, seams, size limits, materials, textures, then the name rules,
// which come last so that the names written are the names checked.
#include <3dzan/foundation/files.h>
#include <3dzan/foundation/hashmap.h>
#include <3dzan/foundation/services.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/materials/material.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/patch.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/sceneoptions.h>

#include <cmath>
#include <cstdarg>
#include <memory>
#include <vector>

namespace
{
// Texts of the string table used by the export preparation.
constexpr unsigned kStrConvertPatch = 9128;
constexpr unsigned kStrDisconnecting = 9129;
constexpr unsigned kStrGlobalCoordinates = 9130;
constexpr unsigned kStrCreatingUV = 9131;
constexpr unsigned kStrUnifyingUV = 9132;
constexpr unsigned kStrMaterialRenamed = 9135;
constexpr unsigned kStrObjectRenamed = 9136;
constexpr unsigned kStrNothingToSave = 9139;
constexpr unsigned kStrOrientation = 9140;
constexpr unsigned kStrRemovingObject = 9142;
constexpr unsigned kStrRemovingNormals = 9143;
constexpr unsigned kStrRemovingUV = 9144;
constexpr unsigned kStrRemovingVC = 9145;
constexpr unsigned kStrConcatenating = 9146;
constexpr unsigned kStrSwapCoordinates = 9147;
constexpr unsigned kStrTooManyFaces = 9148;
constexpr unsigned kStrTooManyPoints = 9149;
constexpr unsigned kStrTriangulating = 9150;
constexpr unsigned kStrWholeScene = 9340;
constexpr unsigned kStrMaterial = 9364;
constexpr unsigned kStrUnnamedObject = 9424;

// A unit ratio this close to 1 is taken as the same unit: the copy is not scaled.
constexpr double kUnitTolerance = 0.005;

// Arguments of the seam split (points split along the seams of every channel type).
constexpr unsigned kDisconnectChannels = 0xFFFF;
constexpr unsigned kDisconnectA = 144;
constexpr unsigned kDisconnectB = 20480;

// The copy flag that keeps an object's checksum over its channels.
constexpr unsigned kChecksumWithChannels = 16;

struct CSceneRelease
{
    void operator()(C3DScene* scene) const
    {
        if (scene)
            scene->Delete();
    }
};
using ScenePtr = std::unique_ptr<C3DScene, CSceneRelease>;

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

bool IsAsciiAlnum(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// One name through a rule word: the length limit in the low 24 bits, the options in the high
// 8. Identifiers keep ASCII letters, digits and '_' only; any other character, a multi-byte
// one included, becomes one '_'.
CXTString ApplyNameRule(const CXTString& name, unsigned rule, const CXTString& defaultName,
                        CHashTable<CXTString>& produced)
{
    const unsigned options = rule >> 24;
    const unsigned maxLength = rule & _NameRuleLengthMask;
    CXTString result = name;
    if (result.IsEmpty() && (options & _NameRuleDefault))
        result = defaultName;
    if (options & _NameRuleIdentifier)
    {
        std::string out;
        const std::string& in = result.str();
        for (size_t i = 0; i < in.size();)
        {
            const auto c = static_cast<unsigned char>(in[i]);
            size_t length = 1;
            if (c >= 0xC0)
                while (i + length < in.size() &&
                       (static_cast<unsigned char>(in[i + length]) & 0xC0) == 0x80)
                    ++length;
            out += (length == 1 && (IsAsciiAlnum(c) || c == '_')) ? char(c) : '_';
            i += length;
        }
        result = CXTString(std::move(out));
    }
    else if (options & _NameRuleSpaces)
        result.Replace(' ', '_');
    CXTString unique = GetUniqueName(result, produced, maxLength);
    if (unique.IsEmpty() && !result.IsEmpty())
        unique = result; // no unique name fits the limit: keep the ruled one
    produced.Insert(unique);
    return unique;
}

// Removes the geometric nodes the test rejects, with their subtrees; returns how many went.
template <class TEST> int RemoveGeomNodes(C3DScene& scene, TEST test)
{
    int removed = 0;
    C3DGeomObject* object = nullptr;
    for (C3DNodePos pos = scene.GetFirstNode(_ObjectKindGeometric); pos;)
    {
        C3DSceneNode* node = scene.GetNextNode(object, pos);
        if (node && test(node, object))
        {
            scene.RemoveNode(node, pos, true);
            ++removed;
        }
    }
    return removed;
}

// Calls fn(node, object) once per geometric object (its first node).
template <class FN> void ForEachGeomObject(C3DScene& scene, FN fn)
{
    C3DGeomObject* object = nullptr;
    for (C3DNodePos pos = scene.GetFirstNode(_ObjectKindGeometric, _IterInstancesOnce); pos;)
    {
        C3DSceneNode* node = scene.GetNextNode(object, pos);
        if (node && object)
            fn(node, object);
    }
}

// Replaces the patch of node (and of every node sharing it) by a polygonal object: its
// subdivided final object, or a copy of its control mesh. false when none can be had.
bool ConvertPatch(C3DScene& scene, C3DSceneNode* node, C3DPatch* patch, bool subdivided)
{
    C3DObject* mesh = nullptr;
    if (subdivided)
    {
        const CCustomData& data = scene.GetCustomData();
        if (patch->GetLevel() < 0 && data.HasValue(C3DScene::kPatchLevelID))
            patch->SetPatchLevel(data.GetUInt(C3DScene::kPatchLevelID));
        C3DBaseObject* finalObject = patch->GetFinalObject(true);
        if (finalObject)
            mesh = *finalObject;
        if (!mesh)
        {
            if (finalObject)
                finalObject->DeleteMe();
            return false;
        }
        mesh->InheritFlags(*patch, 0);
    }
    else
        mesh = patch->GetSourceObject();
    if (!mesh)
        return false;
    CXArray<C3DSceneNode*> sharing;
    scene.GetInstancesByID(nullptr, node, sharing);
    bool first = true;
    for (int i = 0; i < sharing.GetSize(); ++i)
    {
        if (first)
        {
            sharing[i]->SetObject(mesh, true);
            first = false;
        }
        else if (C3DBaseObject* instance = mesh->Copy(_CopyInstance))
            sharing[i]->SetObject(instance, true);
    }
    if (first)
        mesh->DeleteMe();
    return true;
}

// The folder the textures of an export go to.
CXTString TextureDestination(const CSceneExportOptions& options)
{
    const CXTString folder = fileGetFolder(options.m_DestinationFile);
    if (options.m_TextureFolderIsSceneFolder)
        return folder;
    CXTString textures = options.m_TextureFolder;
    textures.Replace('\\', '/');
    if (textures.Find("./") == 0)
        textures = textures.Mid(2);
    return fileMakeAbsolutePath(folder, textures);
}
} // namespace

bool C3DScene::InitExport(CSceneExportOptions& options, C3DScene* scene)
{
    if (!scene)
        return false;
    const uint64_t began = timeGetTick();
    CLogIndent indent;
    unsigned& flags = options.m_Flags;

    // Unit: the copy is scaled to the format's unit.
    if (options.m_Unit != 0 && scene->IsUnitDefined())
    {
        const double ratio = scene->GetScaleFactor() / GetUnitFactor(options.m_Unit);
        if (std::isfinite(ratio) && std::fabs(ratio - 1.0) > kUnitTolerance)
            scene->Scale(C3DTVector<float>(float(ratio), float(ratio), float(ratio)));
    }

    // Nodes of the kinds the format refuses, and hidden nodes unless they are wanted.
    const int removedNbr = RemoveGeomNodes(
        *scene,
        [&](C3DSceneNode* node, C3DGeomObject*)
        {
            const unsigned kind = node->GetObjectKindOf();
            const bool remove =
                (kind == _ObjectKindPolygonal && (flags & _ExportRemovePolygonal)) ||
                (kind == _ObjectKindCurve && (flags & _ExportRemoveCurves)) ||
                (kind == _ObjectKindPatch && (flags & _ExportRemovePatches)) ||
                (node->IsFlagSet(_NodeHidden) && !(flags & _ExportHidden));
            if (remove)
                LogId(options, _IoLevelInfo, kStrRemovingObject, node->GetName().c_str());
            return remove;
        });
    if (removedNbr > 0)
        flags |= _ExportRemoved;

    // Back-face materials and the channels the format does not take.
    ForEachGeomObject(
        *scene,
        [&](C3DSceneNode* node, C3DGeomObject* object)
        {
            const char* name = node->GetName().c_str();
            C3DFaceList* faces = object->GetFaceList();
            if (!(flags & _ExportKeepBackMaterials) && faces && faces->HasBackFaceMaterials())
            {
                faces->RemoveBackFaceMaterials();
                object->Invalidate(_InvalidateMaterials, true);
            }
            CDependentChannels* channels = object->GetChannels();
            if (!channels)
                return;
            if ((flags & _ExportNoUVW) && channels->RemoveChannelsByType(_ChannelUVW) > 0)
            {
                object->SetGlobalUVWChannel(kZanNone);
                object->Invalidate(_InvalidateDisplay, true);
                LogId(options, _IoLevelInfo, kStrRemovingUV, name);
            }
            if ((flags & _ExportNoVC) && channels->RemoveChannelsByType(_ChannelVC) > 0)
            {
                object->SetGlobalVCChannel(0, 1.0f);
                object->Invalidate(_InvalidateDisplay, true);
                LogId(options, _IoLevelInfo, kStrRemovingVC, name);
            }
            if ((flags & _ExportNoSpecNormals) &&
                channels->RemoveChannelsByType(_ChannelSpecNormal) > 0)
            {
                object->Invalidate(_InvalidateDisplay, true);
                LogId(options, _IoLevelInfo, kStrRemovingNormals, name);
            }
        });

    // Patches become polygonal objects.
    if (flags & (_ExportPatchSubdivided | _ExportPatchSource))
    {
        CXArray<C3DSceneNode*> patches;
        scene->GetNodesByType(nullptr, _ObjectKindPatch, patches, true);
        for (int i = 0; i < patches.GetSize(); ++i)
        {
            C3DSceneNode* node = patches[i];
            auto* patch = static_cast<C3DPatch*>(node->GetGeomObject());
            if (patch && ConvertPatch(*scene, node, patch, (flags & _ExportPatchSubdivided) != 0))
                LogId(options, _IoLevelInfo, kStrConvertPatch, node->GetName().c_str());
        }
    }
    ForEachGeomObject(*scene, [](C3DSceneNode*, C3DGeomObject* object)
                      { object->CleanChannels(0xFFFFFFFF, true); });

    if (flags & _ExportGlobalCoordinates)
    {
        scene->ConvertToGlobalCoordinates(nullptr);
        LogId(options, _IoLevelInfo, kStrGlobalCoordinates,
              CXTString::FromId(kStrWholeScene).c_str());
    }

    if (flags & _ExportMoveTextures)
        scene->MakeGroupForChilds(nullptr);
    if (flags & _ExportRemoved)
        scene->CleanGroups(true);
    if (flags & _ExportRemoveGroups)
        scene->RemoveGroups();

    if ((flags & _ExportGenerateUVW) && scene->GenerateUVW())
        LogId(options, _IoLevelInfo, kStrCreatingUV);

    if (flags & (_ExportTriangulate | _ExportQuadrangulate))
        ForEachGeomObject(*scene,
                          [&](C3DSceneNode* node, C3DGeomObject* object)
                          {
                              const bool changed =
                                  (flags & _ExportTriangulate)
                                      ? object->Triangulate(_ChannelAll, _FACE_PROPERTIES(0), true)
                                      : object->Quadrangulate();
                              if (changed)
                                  LogId(options, _IoLevelInfo, kStrTriangulating,
                                        node->GetName().c_str());
                          });

    if (scene->OrientScene(_UP_AXIS_MODE(options.m_OrientationMode), false))
        LogId(options, _IoLevelInfo, kStrOrientation);
    if (scene->SwapCoordinates(int(options.m_SwapMode)))
        LogId(options, _IoLevelInfo, kStrSwapCoordinates);

    if (!(flags & _ExportKeepChannels))
        ForEachGeomObject(*scene,
                          [&](C3DSceneNode* node, C3DGeomObject* object)
                          {
                              const unsigned before = object->GetChecksum(kChecksumWithChannels);
                              if (object->GlobalizeChannels(scene, true) != kZanNone &&
                                  object->GetChecksum(kChecksumWithChannels) != before)
                                  LogId(options, _IoLevelInfo, kStrUnifyingUV,
                                        node->GetName().c_str());
                          });

    if (flags & _ExportConcatenate)
    {
        scene->Concatenate(nullptr, fileGetName(options.m_DestinationFile), 16, nullptr, nullptr);
        LogId(options, _IoLevelInfo, kStrConcatenating);
    }

    if (flags & _ExportDisconnectFaces)
        ForEachGeomObject(
            *scene,
            [&](C3DSceneNode* node, C3DGeomObject* object)
            {
                if (object->DisconnectBorderFaces(kDisconnectChannels, kDisconnectA, kDisconnectB))
                    LogId(options, _IoLevelInfo, kStrDisconnecting, node->GetName().c_str());
            });

    // Objects beyond the format's limits are left out, with a warning each.
    if (options.m_MaxPoints >= 0 || options.m_MaxFaces >= 0)
        RemoveGeomNodes(
            *scene,
            [&](C3DSceneNode* node, C3DGeomObject* object)
            {
                if (!object)
                    return false;
                const char* name = node->GetName().c_str();
                if (options.m_MaxPoints >= 0 && object->GetPointNbr() > options.m_MaxPoints)
                {
                    LogId(options, _IoLevelWarning, kStrTooManyPoints, name, options.m_MaxPoints);
                    return true;
                }
                if (options.m_MaxFaces >= 0 && object->GetFaceNbr() > options.m_MaxFaces)
                {
                    LogId(options, _IoLevelWarning, kStrTooManyFaces, name, options.m_MaxFaces);
                    return true;
                }
                return false;
            });

    // The table holds exactly the materials the remaining faces use (unused ones may stay).
    CMaterialHashMap used;
    scene->GetMaterials(nullptr, used, true);
    if (!(flags & _ExportKeepUnusedMaterials))
    {
        std::vector<unsigned> unused;
        for (unsigned slot = scene->GetFirstMaterial(); slot != kZanNone;)
            if (const C3DMaterial* material = scene->GetNextMaterial(slot))
                if (!used.HasKey(material->GetMaterialID()))
                    unused.push_back(material->GetMaterialID());
        for (unsigned id : unused)
            scene->RemoveMaterial(id);
    }
    for (unsigned slot = used.GetFirst(); slot != kZanNone;)
    {
        const unsigned id = used.GetNextKey(slot);
        if (id != kZanNone && !scene->m_Materials.GetMaterial(id))
            scene->CreateNewMaterial(id);
    }

    if (flags & _ExportMoveTextures)
        scene->MoveTextures(scene->GetFilepath(), TextureDestination(options), &options);

    // Name rules, nodes first, then materials.
    if ((flags & _ExportForceNameRules) || options.m_ObjectNameRule || options.m_MaterialNameRule)
    {
        const CXTString unnamed = CXTString::FromId(kStrUnnamedObject);
        CHashTable<CXTString> nodeNames(NextPrime(2 * unsigned(scene->GetNodeNbr()) + 17));
        for (C3DNodePos pos = scene->GetFirstNode(0xFFFFFFFF, _IterNoObject); pos;)
        {
            C3DSceneNode* node = scene->GetNextNode(pos);
            const CXTString before = node->GetName();
            const CXTString after =
                ApplyNameRule(before, options.m_ObjectNameRule, unnamed, nodeNames);
            if (after != before)
            {
                LogId(options, _IoLevelInfo, kStrObjectRenamed, before.c_str(), after.c_str());
                node->SetName(after);
            }
        }
        const CXTString materialText = CXTString::FromId(kStrMaterial);
        CHashTable<CXTString> materialNames(NextPrime(2 * scene->GetMaterialNumber() + 17));
        for (unsigned slot = scene->GetFirstMaterial(); slot != kZanNone;)
        {
            C3DMaterial* material = scene->GetNextMaterial(slot);
            if (!material)
                continue;
            if (material->GetName().IsEmpty())
                material->SetName(materialText);
            const CXTString before = material->GetName();
            const CXTString after =
                ApplyNameRule(before, options.m_MaterialNameRule, materialText, materialNames);
            if (after != before)
            {
                LogId(options, _IoLevelInfo, kStrMaterialRenamed, before.c_str(), after.c_str());
                material->SetName(after);
            }
        }
    }

    const bool hasNodes = scene->GetChildCount() > 0;
    if (!hasNodes)
        LogId(options, _IoLevelWarning, kStrNothingToSave);
    WriteToLogFile("C3DScene::InitExport time %d ms\n", int(timeGetTick() - began));
    return hasNodes;
}

bool C3DScene::InitExport(CSceneExportOptions& options)
{
    ReleaseExport(options);
    ScenePtr copy(Create());
    if (!copy)
        return false;
    // The whole table travels, used or not: the export decides later which materials stay.
    copy->CopyMaterials(*this, 0);
    if (!copy->AddScene(this, _SceneCopyNoMaterials))
        return false;
    if (C3DSceneNode* root = GetRoot())
        if (C3DSceneNode* copyRoot = copy->GetRoot())
            copyRoot->Inherit(root, 0);
    copy->SetCurrentTime(m_CurrentTick);
    options.m_ExportScene = copy.release();
    return InitExport(options, options.m_ExportScene);
}

void C3DScene::ReleaseExport(CSceneExportOptions& options)
{
    if (options.m_ExportScene)
        options.m_ExportScene->Delete();
    options.m_ExportScene = nullptr;
}
