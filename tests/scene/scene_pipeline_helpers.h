// Small scenes and checks shared by the tests of the import checkout and of the export
// preparation: meshes built from arrays, grids, a cube patch, a curve, archive bytes of a
// scene, log lookups, and an export run that checks the caller's scene is left as it was.
#pragma once

#include "scene/scene_test_helpers.h"

#include <3dzan/foundation/xarchive.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/processing/primitives.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/patch.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/sceneoptions.h>

#include "common/zan_test_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pipetest
{
using P3 = C3DTPoint<float>;
using V3 = C3DTVector<float>;
using zantest::AddNode;
using zantest::ScenePtr;

/// Gives \p object a point list of \p points and a face list of \p indices (corner counts in
/// \p counts), every face of material \p material.
template <class OBJECT>
OBJECT* FillMesh(OBJECT* object, const std::vector<P3>& points, const std::vector<int>& indices,
                 const std::vector<unsigned>& counts, unsigned material = 0)
{
    auto* list = C3DPointList::Create();
    list->SetSize(int(points.size()));
    for (size_t i = 0; i < points.size(); ++i)
        (*list)[int(i)] = points[i];
    auto* faces = C3DFaceList::Create();
    EXPECT_TRUE(faces->AddFaces(indices.data(), counts.data(), unsigned(counts.size())));
    for (int f = 0; f < faces->GetSize(); ++f)
        faces->SetFaceMaterial(unsigned(f), material);
    object->SetPointList(list, true);
    object->SetFaceList(faces, true);
    return object;
}

/// A unit quad in the z = 0 plane, of material \p material.
inline C3DObject* MakeQuad(unsigned material = 0)
{
    return FillMesh(new C3DObject, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {0, 1, 2, 3}, {4},
                    material);
}

/// A cube of six quadrangles as a patch control mesh.
inline C3DPatch* MakeCubePatch()
{
    std::vector<P3> points;
    for (int i = 0; i < 8; ++i)
        points.emplace_back(i & 1 ? 1.f : -1.f, i & 2 ? 1.f : -1.f, i & 4 ? 1.f : -1.f);
    return FillMesh(new C3DPatch, points,
                    {0, 2, 3, 1, 4, 5, 7, 6, 0, 1, 5, 4, 2, 6, 7, 3, 1, 3, 7, 5, 0, 4, 6, 2},
                    std::vector<unsigned>(6, 4));
}

/// A curve of three points and no faces.
inline C3DCurve* MakeCurve()
{
    auto* curve = new C3DCurve;
    auto* list = C3DPointList::Create();
    list->SetSize(3);
    for (int i = 0; i < 3; ++i)
        (*list)[i] = P3(float(i), 0, 0);
    curve->SetPointList(list, true);
    return curve;
}

/// A grid of \p nx by \p ny quadrangles ((nx + 1)(ny + 1) points) under \p parent, named
/// \p name, of material \p material.
inline C3DSceneNode* AddGrid(C3DScene& scene, C3DSceneNode* parent, const char* name, unsigned nx,
                             unsigned ny, unsigned material = 0)
{
    C3DSceneNode* node =
        CreatePlane(P3(0, 0, 0), V3(0, 0, 1), 1.0, 1.0, nx, ny, false, material, kZanNone);
    EXPECT_NE(node, nullptr);
    node->SetName(name);
    EXPECT_TRUE(scene.AddNode(parent, node));
    return node;
}

/// The bytes of the scene's archive.
inline std::vector<uint8_t> SceneBytes(C3DScene& scene)
{
    return zantest::StoreToBytes([&](CXArchive& ar) { scene.Serialize(ar); });
}

/// Whether two archives are the same bytes; a failure names the first offset that differs.
inline ::testing::AssertionResult SameBytes(const std::vector<uint8_t>& a,
                                            const std::vector<uint8_t>& b)
{
    if (a == b)
        return ::testing::AssertionSuccess();
    size_t offset = 0;
    while (offset < a.size() && offset < b.size() && a[offset] == b[offset])
        ++offset;
    return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size()
                                         << ", first difference at byte " << offset;
}

/// Whether the log holds the line \p text (at \p level when it is not 0).
inline bool HasLog(const CIoOptions& options, const std::string& text, unsigned level = 0)
{
    for (int i = 0; i < options.GetLogCount(); ++i)
    {
        unsigned lineLevel = 0;
        const CXTString& line = options.GetLogLine(i, lineLevel);
        if (line.str() == text && (level == 0 || lineLevel == level))
            return true;
    }
    return false;
}

/// The first node named \p name (the root excluded), or null.
inline C3DSceneNode* FindNode(const C3DScene& scene, const char* name)
{
    for (C3DNodePos pos = scene.GetFirstNode(0xFFFFFFFF, _IterNoObject); pos;)
    {
        C3DSceneNode* node = scene.GetNextNode(pos);
        if (node->GetName() == name)
            return node;
    }
    return nullptr;
}

/// The geometric object of the first node named \p name; null, with a test failure, when
/// there is none.
inline C3DGeomObject* FindGeom(const C3DScene& scene, const char* name)
{
    C3DSceneNode* node = FindNode(scene, name);
    C3DGeomObject* object = node ? node->GetGeomObject() : nullptr;
    if (!object)
        ADD_FAILURE() << "no geometric node named " << name;
    return object;
}

/// The names of the children of \p parent (null: the root), in order.
inline std::vector<std::string> ChildNames(const C3DScene& scene, C3DSceneNode* parent)
{
    std::vector<std::string> names;
    for (C3DSceneNode* child = scene.GetChildNode(parent); child; child = scene.GetRightNode(child))
        names.push_back(child->GetName().str());
    return names;
}

/// One export of a scene: Run builds and prepares the working copy and checks that the
/// scene's archive did not change; the destructor releases the copy and checks again.
class CExportRun
{
public:
    CExportRun(C3DScene& scene, unsigned flags) : m_Scene(scene), m_Options(flags) {}
    ~CExportRun()
    {
        C3DScene::ReleaseExport(m_Options);
        EXPECT_EQ(m_Options.m_ExportScene, nullptr);
        if (m_Ran)
        {
            EXPECT_TRUE(SameBytes(SceneBytes(m_Scene), m_Before))
                << "releasing the export changed the scene";
        }
    }
    CExportRun(const CExportRun&) = delete;
    CExportRun& operator=(const CExportRun&) = delete;

    bool Run()
    {
        // Storing invalidates the objects afterwards (their tracked channels are marked
        // stale), so the reference is the second store: the state storing leaves.
        SceneBytes(m_Scene);
        m_Before = SceneBytes(m_Scene);
        m_Ran = true;
        const bool result = m_Scene.InitExport(m_Options);
        EXPECT_TRUE(SameBytes(SceneBytes(m_Scene), m_Before))
            << "the export changed the caller's scene";
        return result;
    }
    CSceneExportOptions& Options() { return m_Options; }
    C3DScene* Copy() const { return m_Options.m_ExportScene; }

private:
    C3DScene& m_Scene;
    CSceneExportOptions m_Options;
    std::vector<uint8_t> m_Before;
    bool m_Ran = false;
};
} // namespace pipetest
