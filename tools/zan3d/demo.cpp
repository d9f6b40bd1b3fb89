// The demonstration of the zan3d command: a small scene is built in code (a hierarchy, a mesh
// shared by two nodes, a subdivision patch, a material on faces, a sphere and a cylinder from
// the primitive builders, a camera, a light, animated keys), archived to a file, read back
// into a new scene and summarised.
#include "zan3dcli.h"

#include <3dzan/animation/keys.h>
#include <3dzan/foundation/xarchive.h>
#include <3dzan/frame.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/materials/materials.h>
#include <3dzan/processing/primitives.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>
#include <3dzan/scene/patch.h>
#include <3dzan/scene/scene.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
C3DSceneNode* AddNode(C3DScene& scene, C3DSceneNode* parent, const char* name,
                      C3DBaseObject* object)
{
    auto* node = new C3DSceneNode;
    node->SetName(name);
    node->SetObject(object);
    if (!scene.AddNode(parent, node))
    {
        const std::string nodeName = node->GetName().str();
        node->Delete();
        throw CXException("cannot add the node " + nodeName + " to the scene");
    }
    return node;
}

// Adds a node made by a primitive builder (null when the builder refused its parameters).
C3DSceneNode* AddPrimitive(C3DScene& scene, C3DSceneNode* parent, C3DSceneNode* node)
{
    if (!node)
        throw CXException("a primitive builder refused the demonstration's parameters");
    if (!scene.AddNode(parent, node))
    {
        node->Delete();
        throw CXException("cannot add a primitive to the scene");
    }
    return node;
}

// A box of six quadrangles from (0, 0, 0) to \p size, with texture coordinates; the top and
// bottom faces get \p topMaterial.
C3DObject* MakeBox(float sx, float sy, float sz, unsigned topMaterial)
{
    auto* mesh = new C3DObject;
    auto* points = C3DPointList::Create();
    points->SetSize(8);
    for (int i = 0; i < 8; ++i)
        (*points)[i].Set(i & 1 ? sx : 0.f, i & 2 ? sy : 0.f, i & 4 ? sz : 0.f);
    const int quads[] = {0, 2, 3, 1, 4, 5, 7, 6, 0, 1, 5, 4, 2, 6, 7, 3, 1, 3, 7, 5, 0, 4, 6, 2};
    auto* faces = C3DFaceList::Create();
    faces->AddFaces(quads, 6, 4, 8);
    faces->SetFaceMaterial(0, topMaterial);
    faces->SetFaceMaterial(1, topMaterial);
    mesh->SetPointList(points, true);
    mesh->SetFaceList(faces, true);
    auto* uv = static_cast<CUVWChannel*>(CChannel::Create(_ChannelUVW, kZanNone));
    uv->GetUVWPointList()->SetSize(8);
    for (int i = 0; i < 8; ++i)
        (*uv->GetUVWPointList())[i] = CUVWPoint(float(i & 1), float((i >> 1) & 1), 0);
    uv->GetFaceList()->SetSize(*faces);
    mesh->AddChannel(uv);
    return mesh;
}

// A pyramid control mesh: a square base and four triangles.
C3DPatch* MakePyramidPatch()
{
    auto* patch = new C3DPatch;
    auto* points = C3DPointList::Create();
    points->SetSize(5);
    (*points)[0].Set(-1, -1, 0);
    (*points)[1].Set(1, -1, 0);
    (*points)[2].Set(1, 1, 0);
    (*points)[3].Set(-1, 1, 0);
    (*points)[4].Set(0, 0, 1.5f);
    const int indices[] = {0, 3, 2, 1, 0, 1, 4, 1, 2, 4, 2, 3, 4, 3, 0, 4};
    const unsigned counts[] = {4, 3, 3, 3, 3};
    auto* faces = C3DFaceList::Create();
    faces->AddFaces(indices, counts, 5, 5);
    patch->SetPointList(points, true);
    patch->SetFaceList(faces, true);
    return patch;
}

} // namespace

void BuildDemoScene(C3DScene& scene)
{
    scene.SetUnit(_UnitMeter);
    C3DMaterial* roof = scene.CreateNewMaterial();
    roof->SetName("Roof tiles");
    roof->SetDiffuseColor(0, CRGBColor(150, 40, 30, 255));

    C3DSceneNode* street = AddNode(scene, nullptr, "Street", new C3DGroup);
    C3DSceneNode* house =
        AddNode(scene, street, "House", MakeBox(4, 3, 2.5f, roof->GetMaterialID()));
    // The neighbour is the same house (an instance), moved along the street.
    C3DSceneNode* neighbour =
        AddNode(scene, street, "Neighbour", house->GetBaseObject()->Copy(_CopyInstance));
    static_cast<C3DVectorKey*>(neighbour->CreateKey(0, kNodeTranslateKey))
        ->SetVector(C3DTVector<float>(6, 0, 0));
    C3DSceneNode* tree = AddNode(scene, house, "Tree", MakePyramidPatch());
    static_cast<C3DVectorKey*>(tree->CreateKey(0, kNodeTranslateKey))
        ->SetVector(C3DTVector<float>(-2, 1, 0));

    // A spinning weathervane: translation and rotation keys over one second.
    C3DSceneNode* vane = AddNode(scene, house, "Weathervane", new C3DDummy);
    static_cast<C3DVectorKey*>(vane->CreateKey(0, kNodeTranslateKey))
        ->SetVector(C3DTVector<float>(2, 1.5f, 2.5f));
    static_cast<C3DVectorKey*>(vane->CreateKey(4800, kNodeTranslateKey))
        ->SetVector(C3DTVector<float>(2, 1.5f, 3.0f));
    static_cast<C3DRotateKey*>(vane->CreateKey(0, kNodeRotateKey))
        ->SetRotation(0, C3DTVector<float>(0, 0, 1));
    static_cast<C3DRotateKey*>(vane->CreateKey(4800, kNodeRotateKey))
        ->SetRotation(3.14159265, C3DTVector<float>(0, 0, 1));

    // A garden ball and a lamp post from the primitive builders. The cylinder is built along
    // y; a quarter turn about x stands it up in this z-up street.
    AddPrimitive(scene, street,
                 CreateSphere(C3DTPoint<float>(-3, -2, 0.6f), 0.6, 12, 24, true, 0, kZanNone));
    C3DSceneNode* post = AddPrimitive(
        scene, street,
        CreateCylinder(C3DTPoint<float>(0, 0, 0), 0.08, 3, 12, 1, true, true, 0, kZanNone));
    static_cast<C3DVectorKey*>(post->CreateKey(0, kNodeTranslateKey))
        ->SetVector(C3DTVector<float>(3, -2, 1.5f));
    static_cast<C3DRotateKey*>(post->CreateKey(0, kNodeRotateKey))
        ->SetRotation(3.14159265 / 2, C3DTVector<float>(1, 0, 0));

    auto* camera = new C3DCamera;
    camera->SetFov(0.8);
    C3DSceneNode* eye = AddNode(scene, nullptr, "Camera", camera);
    static_cast<C3DVectorKey*>(eye->CreateKey(0, kNodeTranslateKey))
        ->SetVector(C3DTVector<float>(5, -12, 4));
    auto* sun = new C3DLight;
    sun->SetColor(CRGBColor(255, 244, 214, 255));
    AddNode(scene, nullptr, "Sun", sun);
}

const char* ObjectKindName(unsigned kind)
{
    switch (kind)
    {
    case _ObjectKindPolygonal:
        return "mesh";
    case _ObjectKindCurve:
        return "curve";
    case _ObjectKindPatch:
        return "patch";
    case _ObjectKindGroup:
        return "group";
    case _ObjectKindDummy:
        return "dummy";
    case _ObjectKindCamera:
        return "camera";
    case _ObjectKindLight:
        return "light";
    default:
        return "no object";
    }
}

std::string UsedMaterialsText(C3DScene& scene, C3DGeomObject& geom, bool withCounts)
{
    CMaterialHashMap used;
    if (!geom.GetUsedMaterials(used) || used.GetFirst() == kZanNone)
        return {};
    std::string text = ", materials";
    for (unsigned slot = used.GetFirst(); slot != kZanNone;)
    {
        unsigned id = 0, count = 0;
        used.GetNext(slot, id, count);
        const C3DMaterial* material = scene.GetMaterialByID(id);
        text += material ? " \"" + material->GetName().str() + "\"" : " #" + std::to_string(id);
        if (withCounts)
            text += "×" + std::to_string(count);
    }
    return text;
}

namespace
{
void PrintSummary(C3DScene& scene, std::FILE* out)
{
    std::fprintf(out, "Scene tree:\n");
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = scene.GetFirstNode(0xFFFFFFFF, _IterNoObject); pos;)
    {
        C3DSceneNode* node = scene.GetNextNode(object, pos);
        if (!node)
            break;
        std::string line = std::string(2 * (node->GetDepth() - 1), ' ') + node->GetName().str() +
                           " [" + ObjectKindName(node->GetObjectKindOf()) + "]";
        if (C3DGeomObject* geom = node->GetGeomObject())
        {
            line += " " + std::to_string(geom->GetPointNbr()) + " points, " +
                    std::to_string(geom->GetFaceNbr()) + " faces";
            if (C3DBaseObject* final = node->GetFinalObject(); final && final != geom)
                line += " (drawn: " + std::to_string(final->GetObjectFaceNbr()) + " faces)";
            line += UsedMaterialsText(scene, *geom, true);
        }
        if (object && object->IsInstanciated())
            line += ", instance (object " + std::to_string(object->GetObjectID()) + " shared by " +
                    std::to_string(object->GetInstanceNbr()) + " nodes)";
        if (unsigned keys = node->GetKeyNbr(); keys)
        {
            CTimeRange range = node->GetTimeRange(0);
            line += ", keys: " + std::to_string(node->GetKeyNbr(kNodeTranslateKey)) +
                    " translation, " + std::to_string(node->GetKeyNbr(kNodeRotateKey)) +
                    " rotation, ticks " + std::to_string(range.GetStart()) + ".." +
                    std::to_string(range.GetEnd());
        }
        std::fprintf(out, "  %s\n", line.c_str());
    }
    std::fprintf(out, "Materials: %u\n", scene.GetMaterialTable().GetCount());
    std::fprintf(out, "Counts (as drawn): %d points, %d faces\n", scene.GetPointNbr(),
                 scene.GetFaceNbr());
    C3DTPoint<float> min, max;
    if (scene.GetRoot()->GetBoundingBox(0, min, max, _BoxFaces))
        std::fprintf(out, "Bounding box: (%.3g, %.3g, %.3g) - (%.3g, %.3g, %.3g)\n", min.m_X,
                     min.m_Y, min.m_Z, max.m_X, max.m_Y, max.m_Z);
    else
        std::fprintf(out, "Bounding box: none\n");
}

} // namespace

int RunDemo(const std::string& path, std::FILE* out, std::FILE* err)
{
    C3DScene scene;
    BuildDemoScene(scene);
    {
        CXDiskFile file;
        if (!file.Open(path.c_str(), CXDiskFile::modeWrite))
        {
            std::fprintf(err, "zan3d: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
            return kExitFailed;
        }
        CXArchive ar(&file, CXArchive::store);
        scene.Serialize(ar);
        ar.Close();
        if (!file.Close())
        {
            std::fprintf(err, "zan3d: cannot write %s\n", path.c_str());
            return kExitFailed;
        }
    }

    C3DScene loaded;
    uint64_t size = 0;
    {
        CXDiskFile file;
        if (!file.Open(path.c_str(), CXDiskFile::modeRead))
        {
            std::fprintf(err, "zan3d: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
            return kExitFailed;
        }
        size = file.GetRemaining();
        CXArchive ar(&file, CXArchive::load);
        loaded.Serialize(ar);
    }
    std::fprintf(out, "Archived the demonstration scene to %s (%llu bytes) and read it back.\n\n",
                 path.c_str(), (unsigned long long)size);
    PrintSummary(loaded, out);

    const bool same = loaded.GetChildCount() == scene.GetChildCount() &&
                      loaded.GetPointNbr() == scene.GetPointNbr() &&
                      loaded.GetFaceNbr() == scene.GetFaceNbr();
    std::fprintf(out, "\nRead back %s what was written.\n", same ? "exactly" : "NOT");
    return same ? kExitOk : kExitFailed;
}
