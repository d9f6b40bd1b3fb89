// Helpers of the scene-wide operation tests: small meshes, placed nodes and the world-space
// picture of a scene (every visible face as its corners in world coordinates), which an
// operation that keeps world placement must leave as it was.
#pragma once

#include "scene/scene_test_helpers.h"

#include <3dzan/animation/keys.h>
#include <3dzan/animation/math.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

namespace opstest
{
using V3 = C3DTVector<float>;

/// A face in world space: its material and its corners rounded to 1e-3, turned so that the
/// smallest corner comes first (the winding is kept).
using WorldFace = std::pair<unsigned, std::vector<std::array<long, 3>>>;

/// A mesh of \p quads quadrangles in a row along x from \p x0 (points (x0 + i, 0..1, z)),
/// face i of material \p materials[i % size].
inline C3DObject* MakeStrip(float x0, float z, int quads, std::vector<unsigned> materials)
{
    auto* mesh = new C3DObject;
    auto* points = C3DPointList::Create();
    points->SetSize(2 * (quads + 1));
    for (int i = 0; i <= quads; ++i)
    {
        (*points)[2 * i].Set(x0 + float(i), 0.0f, z);
        (*points)[2 * i + 1].Set(x0 + float(i), 1.0f, z);
    }
    std::vector<int> indices;
    for (int i = 0; i < quads; ++i)
        indices.insert(indices.end(), {2 * i, 2 * i + 2, 2 * i + 3, 2 * i + 1});
    auto* faces = C3DFaceList::Create();
    EXPECT_TRUE(faces->AddFaces(indices.data(), unsigned(quads), 4, unsigned(points->GetSize())));
    for (int i = 0; i < quads; ++i)
        faces->SetFaceMaterial(unsigned(i), materials[size_t(i) % materials.size()]);
    mesh->SetPointList(points, true);
    mesh->SetFaceList(faces, true);
    return mesh;
}

inline void Translate(C3DSceneNode* node, float x, float y, float z, int time = 0)
{
    static_cast<C3DVectorKey*>(node->CreateKey(time, kNodeTranslateKey))->SetVector(V3(x, y, z));
}
inline void Rotate(C3DSceneNode* node, double angle, const V3& axis, int time = 0)
{
    static_cast<C3DRotateKey*>(node->CreateKey(time, kNodeRotateKey))->SetRotation(angle, axis);
}
inline void ScaleKey(C3DSceneNode* node, float x, float y, float z, int time = 0)
{
    static_cast<C3DVectorKey*>(node->CreateKey(time, kNodeScaleKey))->SetVector(V3(x, y, z));
}
inline void Pivot(C3DSceneNode* node, float x, float y, float z)
{
    static_cast<C3DVectorKey*>(node->CreateKey(0, kNodePivotKey))->SetVector(V3(x, y, z));
}

/// The usable faces of \p object seen through \p matrix.
inline void AddFaces(const C3DGeomObject& object, const C4x4TMatrix<float>& matrix,
                     std::vector<WorldFace>& out)
{
    const C3DFaceList* faces = object.GetFaceList();
    const C3DPointList* points = object.GetPointList();
    if (!faces || !points)
        return;
    for (unsigned f = 0; f < unsigned(faces->GetSize()); ++f)
    {
        if (faces->GetFaceFlags(f) & (_FaceInvalid | _FaceExcluded))
            continue;
        int count = 0;
        const int* items = faces->GetIndexes(f, count);
        WorldFace face{faces->GetFaceMaterial(f), {}};
        for (int k = 0; k < count; ++k)
        {
            C3DTPoint<float> p = matrix.TransformPoint((*points)[items[k]]);
            face.second.push_back({std::lround(p.m_X * 1000.0), std::lround(p.m_Y * 1000.0),
                                   std::lround(p.m_Z * 1000.0)});
        }
        std::rotate(face.second.begin(), std::min_element(face.second.begin(), face.second.end()),
                    face.second.end());
        out.push_back(face);
    }
}

/// Every face of the visible geometric nodes of \p start's subtree (null: the whole
/// scene), in world space, sorted.
inline std::vector<WorldFace> WorldFaces(C3DScene& scene, C3DSceneNode* start = nullptr)
{
    std::vector<WorldFace> out;
    if (!scene.GetRoot())
        return out;
    C3DGeomObject* object = nullptr;
    for (C3DNodePos pos = scene.GetFirstNode(_ObjectKindGeometric, _IterWithStart | _IterSubtree,
                                             start ? start : scene.GetRoot());
         pos;)
    {
        C3DSceneNode* node = scene.GetNextNode(object, pos);
        if (!object || node->IsFlagSet(_NodeHidden))
            continue;
        C4x4TMatrix<float> world;
        node->GetNodeTM(scene.GetTickCount(), world, false);
        AddFaces(*object, world, out);
    }
    std::sort(out.begin(), out.end());
    return out;
}

/// The faces of a detached object, in its own coordinates, sorted.
inline std::vector<WorldFace> ObjectFaces(const C3DGeomObject& object)
{
    std::vector<WorldFace> out;
    AddFaces(object, C4x4TMatrix<float>(), out);
    std::sort(out.begin(), out.end());
    return out;
}

/// The faces of \p faces whose material is (or, with \p keep false, is not) \p material.
inline std::vector<WorldFace> OfMaterial(const std::vector<WorldFace>& faces, unsigned material,
                                         bool keep = true)
{
    std::vector<WorldFace> out;
    for (const WorldFace& face : faces)
        if ((face.first == material) == keep)
            out.push_back(face);
    return out;
}

/// The number of geometric nodes of the scene.
inline int GeomNodeCount(const C3DScene& scene)
{
    CXArray<C3DSceneNode*> nodes;
    return scene.GetRoot() ? scene.GetNodesByType(nullptr, _ObjectKindGeometric, nodes) : 0;
}
} // namespace opstest
