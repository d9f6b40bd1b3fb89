// glTF round trips through our writer and reader (.gltf with its .bin, and .glb), directly and
// through C3DIo with the plug-in module loaded: the world geometry, the texture coordinate of
// every corner, the material of every face and the instancing come back.
#include "gltf_test_helpers.h"

#include <3dzan/animation/keys.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/io/io3d.h>
#include <3dzan/materials/material.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/processing/primitives.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/group.h>
#include <3dzan/scene/light.h>

#include <common/zan_test_helpers.h>

#include <cmath>
#include <map>
#include <set>
#include <tuple>

using namespace gltftest;

namespace
{
constexpr unsigned kUV = 7001;

void SetMatrix(C3DSceneNode* node, const float (&rows)[12])
{
    C4x4TMatrix<float> m;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] = rows[r * 4 + c];
    static_cast<C3DMatrixKey*>(node->CreateKey(0, kNodeMatrixKey))->SetMatrix(m);
}

// A group holding a textured box (two materials), and an instance of the box at the root.
ScenePtr MakeScene()
{
    ScenePtr scene(C3DScene::Create());
    C3DMaterial* red = scene->CreateNewMaterial();
    red->SetName("Red");
    red->SetDiffuseColor(0, CRGBColor(255, 0, 0));
    red->AddMaterialMap("wood grain.png", kUV, _MapDiffuse, _ProjectionChannel);
    C3DMaterial* green = scene->CreateNewMaterial();
    green->SetName("Green");
    green->SetDiffuseColor(0, CRGBColor(0, 255, 0));
    green->SetTransparencyFactor(0, 0.25f);

    auto* group = new C3DSceneNode;
    group->SetName("Group");
    group->SetObject(new C3DGroup);
    EXPECT_TRUE(scene->AddNode(nullptr, group));
    SetMatrix(group, {1, 0, 0, 1, 0, 1, 0, 2, 0, 0, 1, 3});
    C3DSceneNode* cube = CreateCube(C3DTPoint<float>(0.5f, 0, 0), 1, 2, 3, true,
                                    red->GetMaterialID(), kUV);
    cube->SetName("CubeA");
    EXPECT_TRUE(scene->AddNode(group, cube));
    SetMatrix(cube, {0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0.5f}); // 90 degrees about z
    C3DFaceList& faces = *cube->GetGeomObject()->GetFaceList();
    for (unsigned f = 3; f < 6; ++f)
        faces.SetFaceMaterial(f, green->GetMaterialID());
    C3DSceneNode* copy = scene->CreateInstance(cube);
    copy->SetName("CubeB");
    EXPECT_TRUE(scene->AddNode(nullptr, copy));
    SetMatrix(copy, {2, 0, 0, -4, 0, 2, 0, 0, 0, 0, 2, 0});
    // A pivot moves the instance's object, not its node.
    static_cast<C3DVectorKey*>(copy->CreateKey(0, kNodePivotKey))
        ->SetVector(C3DTVector<float>(0.25f, -1, 0));
    return scene;
}

using Corner = std::tuple<std::string, long, long, long, long, long, std::string>;

long Round(float value) { return std::lround(value * 1e4f); }

// Every corner of every face: node, world position, texture coordinate, material name. With
// \p mappedOnly, texture coordinates count only on faces whose material has a diffuse map
// (the export's channel unification leaves the others free).
std::set<Corner> Corners(C3DScene& scene, bool mappedOnly = false)
{
    std::set<Corner> corners;
    for (C3DSceneNode* node : GeomNodes(scene))
    {
        const C3DGeomObject& object = *node->GetGeomObject();
        C4x4TMatrix<float> world;
        node->GetNodeTM(0, world);
        auto* uv = static_cast<CUVWChannel*>(object.GetChannelByIndex(0, _ChannelUVW));
        for (unsigned f = 0; f < unsigned(object.GetFaceNbr()); ++f)
        {
            int n = 0, m = 0;
            const int* items = object.GetFaceList()->GetIndexes(f, n);
            const int* uvItems = uv ? uv->GetFaceList()->GetIndexes(f, m) : nullptr;
            const C3DMaterial* material =
                scene.GetMaterialByID(object.GetFaceList()->GetFaceMaterial(f));
            const bool mapped = material && material->GetDiffuseMaps();
            for (int k = 0; k < n; ++k)
            {
                const V3 p = Transform(world, Point(object, items[k]));
                const CUVWPoint t = uvItems && (mapped || !mappedOnly)
                                        ? (*uv->GetUVWPointList())[uvItems[k]]
                                        : CUVWPoint(-1, -1, 0);
                corners.emplace(node->GetName().c_str(), Round(p[0]), Round(p[1]), Round(p[2]),
                                Round(t[0]), Round(t[1]),
                                material ? material->GetName().c_str() : "-");
            }
        }
    }
    return corners;
}

// World area per material name (Newell's normal of each face, so polygons and their
// triangles count alike).
std::map<std::string, double> Areas(C3DScene& scene)
{
    std::map<std::string, double> areas;
    for (C3DSceneNode* node : GeomNodes(scene))
    {
        const C3DGeomObject& object = *node->GetGeomObject();
        C4x4TMatrix<float> world;
        node->GetNodeTM(0, world);
        for (unsigned f = 0; f < unsigned(object.GetFaceNbr()); ++f)
        {
            int n = 0;
            const int* items = object.GetFaceList()->GetIndexes(f, n);
            double normal[3] = {0, 0, 0};
            for (int k = 0; k < n; ++k)
            {
                const V3 a = Transform(world, Point(object, items[k]));
                const V3 b = Transform(world, Point(object, items[(k + 1) % n]));
                normal[0] += (double(a[1]) - b[1]) * (double(a[2]) + b[2]);
                normal[1] += (double(a[2]) - b[2]) * (double(a[0]) + b[0]);
                normal[2] += (double(a[0]) - b[0]) * (double(a[1]) + b[1]);
            }
            const C3DMaterial* material =
                scene.GetMaterialByID(object.GetFaceList()->GetFaceMaterial(f));
            areas[material ? material->GetName().c_str() : "-"] +=
                0.5 * std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
        }
    }
    return areas;
}

void ExpectSameScene(C3DScene& source, C3DScene& read)
{
    EXPECT_EQ(Corners(source), Corners(read));
    const auto expected = Areas(source), actual = Areas(read);
    ASSERT_EQ(expected.size(), actual.size());
    for (const auto& [name, area] : expected)
        EXPECT_NEAR(actual.at(name), area, 1e-4) << name;
    // The two cubes still share one object, and the group kept its child.
    const std::vector<C3DSceneNode*> geometric = GeomNodes(read);
    ASSERT_EQ(geometric.size(), 2u);
    EXPECT_EQ(geometric[0]->GetObjectID(), geometric[1]->GetObjectID());
    C3DSceneNode* a = FindNode(read, "CubeA");
    ASSERT_TRUE(a);
    EXPECT_STREQ(read.GetParent(a)->GetName().c_str(), "Group");
    // Materials keep their colour, transparency and map.
    const C3DMaterial* green = read.GetMaterialByName("Green");
    const C3DMaterial* red = read.GetMaterialByName("Red");
    ASSERT_TRUE(green && red);
    EXPECT_EQ(green->GetDiffuseColor(0), CRGBColor(0, 255, 0));
    EXPECT_NEAR(green->GetTransparencyFactor(0), 0.25f, 1e-6f);
    ASSERT_NE(red->GetDiffuseMaps(), nullptr);
    EXPECT_STREQ(red->GetDiffuseMaps()->GetFileName().c_str(), "wood grain.png");
}
} // namespace

TEST(GltfRoundTrip, TextAndBinaryKeepGeometryMaterialsAndInstances)
{
    zantest::CTempDir dir;
    ScenePtr source = MakeScene();
    for (const char* name : {"scene.gltf", "scene.glb"})
    {
        zangltf::CGltfError error;
        ASSERT_TRUE(zangltf::WriteGltf(source.get(), dir.File(name), error)) << error.m_Message;
        ScenePtr read = ReadPath(dir.File(name), error);
        ASSERT_TRUE(read) << name << ": " << error.m_Message;
        SCOPED_TRACE(name);
        ExpectSameScene(*source, *read);
        // The box's 8 points split where texture coordinates differ, but the object is written
        // once: both nodes count the same points.
        EXPECT_EQ(read->GetPointNbr() % 2, 0);
        EXPECT_EQ(read->GetFaceNbr(), 24);
    }
    EXPECT_EQ(zantest::ReadFileText(dir.File("scene.gltf")).find("base64"), std::string::npos);
    EXPECT_FALSE(zantest::ReadFileText(dir.File("scene.bin")).empty());
}

TEST(GltfRoundTrip, NormalsColoursAndCornersSurviveAFileToFileCopy)
{
    zantest::CTempDir dir;
    zangltf::CGltfError error;
    ScenePtr first = ReadPath(DataPath("triangle.gltf"), error);
    ASSERT_TRUE(first) << error.m_Message;
    ASSERT_TRUE(zangltf::WriteGltf(first.get(), dir.File("copy.glb"), error)) << error.m_Message;
    ScenePtr second = ReadPath(dir.File("copy.glb"), error);
    ASSERT_TRUE(second) << error.m_Message;
    EXPECT_EQ(Corners(*first), Corners(*second));
    const C3DGeomObject& a = *GeomNodes(*first)[0]->GetGeomObject();
    const C3DGeomObject& b = *GeomNodes(*second)[0]->GetGeomObject();
    auto* na = static_cast<CSpecNormalChannel*>(a.GetChannelByIndex(0, _ChannelSpecNormal));
    auto* nb = static_cast<CSpecNormalChannel*>(b.GetChannelByIndex(0, _ChannelSpecNormal));
    auto* ca = static_cast<CVCChannel*>(a.GetChannelByIndex(0, _ChannelVC));
    auto* cb = static_cast<CVCChannel*>(b.GetChannelByIndex(0, _ChannelVC));
    ASSERT_TRUE(na && nb && ca && cb);
    // Corner by corner, matched through the position.
    int n = 0, m = 0;
    for (int k = 0; k < 3; ++k)
    {
        const int pa = a.GetFaceList()->GetIndexes(0, n)[k];
        int kb = -1;
        for (int j = 0; j < 3; ++j)
            if (Point(b, b.GetFaceList()->GetIndexes(0, m)[j]) == Point(a, pa))
                kb = j;
        ASSERT_GE(kb, 0);
        const C3DTVector<float>& va = (*na->GetNormalVectorList())[na->GetFaceList()->GetIndexes(0, n)[k]];
        const C3DTVector<float>& vb = (*nb->GetNormalVectorList())[nb->GetFaceList()->GetIndexes(0, m)[kb]];
        ExpectNear({va.m_X, va.m_Y, va.m_Z}, {vb.m_X, vb.m_Y, vb.m_Z});
        EXPECT_EQ((*ca->GetVCPointList())[ca->GetFaceList()->GetIndexes(0, n)[k]].GetColor(),
                  (*cb->GetVCPointList())[cb->GetFaceList()->GetIndexes(0, m)[kb]].GetColor());
    }
}

TEST(GltfRoundTrip, ThroughC3DIoWithThePluginModule)
{
    zantest::CTempConfigDir config;
    zantest::CTempDir dir;
    ASSERT_GE(RegisterIOPlugins(0x4000, ZAN3D_PLUGIN_BUILD_DIR), 1);
    ScenePtr source = MakeScene();
    for (const char* name : {"io.gltf", "io.glb"})
    {
        SCOPED_TRACE(name);
        C3DIo writer(CFileNameSpec(dir.File(name).c_str()), _FileParserSilent);
        ASSERT_TRUE(writer.Save(false, source.get())) << writer.GetIoError();
        C3DIo reader(CFileNameSpec(dir.File(name).c_str()), _FileParserSilent);
        ScenePtr read(reader.Read(false));
        ASSERT_TRUE(read) << reader.GetIoError();
        EXPECT_EQ(reader.GetClass(), zangltf::kClassGLTF);
        EXPECT_EQ(Corners(*source, true), Corners(*read, true));
        EXPECT_EQ(read->GetFaceNbr(), 24); // the export triangulated the quads
    }
    FreeIOPlugins(0x4000);
}

TEST(GltfRoundTrip, LargeMeshAndAwkwardNames)
{
    // Over 65535 vertices: 32-bit indices. A name with quotes and a tab goes through escapes.
    zantest::CTempDir dir;
    ScenePtr source(C3DScene::Create());
    C3DMaterial* material = source->CreateNewMaterial();
    material->SetName("M \"1\"");
    C3DSceneNode* sphere = CreateSphere(C3DTPoint<float>(1, 2, 3), 2, 258, 258, true,
                                        material->GetMaterialID(), kUV);
    ASSERT_NE(sphere, nullptr);
    sphere->SetName("Sphere \"big\"\t1");
    ASSERT_TRUE(source->AddNode(nullptr, sphere));
    zangltf::CGltfError error;
    ASSERT_TRUE(zangltf::WriteGltf(source.get(), dir.File("big.glb"), error)) << error.m_Message;
    EXPECT_NE(zantest::ReadFileText(dir.File("big.glb")).find("\"componentType\":5125"),
              std::string::npos);
    ScenePtr read = ReadPath(dir.File("big.glb"), error);
    ASSERT_TRUE(read) << error.m_Message;
    EXPECT_EQ(read->GetFaceNbr(), source->GetFaceNbr());
    ASSERT_NE(FindNode(*read, "Sphere \"big\"\t1"), nullptr);
    const auto expected = Areas(*source), actual = Areas(*read);
    ASSERT_EQ(actual.count("M \"1\""), 1u);
    EXPECT_NEAR(actual.at("M \"1\""), expected.at("M \"1\""), 1e-3);
}

// Cameras and lights go out as glTF cameras and KHR_lights_punctual lights and come back
// with their parameters and placement.
TEST(GltfRoundTrip, CamerasAndLightsKeepTheirParameters)
{
    zantest::CTempDir dir;
    ScenePtr source = MakeScene();
    auto* camera = new C3DCamera;
    ASSERT_TRUE(camera->SetFov(0.7));
    ASSERT_TRUE(camera->SetAspectRatio(1.25));
    ASSERT_TRUE(camera->SetNearFarClip(0.5, 250));
    auto* eye = new C3DSceneNode;
    eye->SetName("Eye");
    eye->SetObject(camera);
    ASSERT_TRUE(source->AddNode(nullptr, eye));
    SetMatrix(eye, {1, 0, 0, 2, 0, 1, 0, 3, 0, 0, 1, 10});
    auto* light = new C3DLight;
    light->SetLightKind(_LightSpot);
    light->SetColor(CRGBColor(255, 51, 0));
    ASSERT_TRUE(light->SetIntensity(7.5));
    ASSERT_TRUE(light->SetOuterRadius(40));
    ASSERT_TRUE(light->SetOuterAngle(1.2));
    ASSERT_TRUE(light->SetInnerAngle(0.6));
    auto* lamp = new C3DSceneNode;
    lamp->SetName("Lamp");
    lamp->SetObject(light);
    ASSERT_TRUE(source->AddNode(FindNode(*source, "Group"), lamp));

    for (const char* name : {"views.gltf", "views.glb"})
    {
        SCOPED_TRACE(name);
        zangltf::CGltfError error;
        ASSERT_TRUE(zangltf::WriteGltf(source.get(), dir.File(name), error)) << error.m_Message;
        ScenePtr read = ReadPath(dir.File(name), error);
        ASSERT_TRUE(read) << error.m_Message;
        C3DSceneNode* readEye = FindNode(*read, "Eye");
        C3DSceneNode* readLamp = FindNode(*read, "Lamp");
        ASSERT_TRUE(readEye && readLamp);
        auto* c = dynamic_cast<C3DCamera*>(readEye->GetBaseObject());
        auto* l = dynamic_cast<C3DLight*>(readLamp->GetBaseObject());
        ASSERT_TRUE(c && l);
        EXPECT_NEAR(c->GetFov(), 0.7, 1e-6);
        EXPECT_NEAR(c->GetAspectRatio(), 1.25, 1e-6);
        EXPECT_NEAR(c->GetNearClip(), 0.5, 1e-6);
        EXPECT_NEAR(c->GetFarClip(), 250, 1e-4);
        ExpectNear(World(readEye, {0, 0, 0}), World(eye, {0, 0, 0}));
        EXPECT_EQ(l->GetLightKind(), int(_LightSpot));
        EXPECT_EQ(l->GetColor(), CRGBColor(255, 51, 0));
        EXPECT_NEAR(l->GetIntensity(), 7.5, 1e-6);
        EXPECT_NEAR(l->GetOuterRadius(), 40, 1e-5);
        EXPECT_NEAR(l->GetOuterAngle(), 1.2, 1e-6);
        EXPECT_NEAR(l->GetInnerAngle(), 0.6, 1e-6);
        ExpectNear(World(readLamp, {0, 0, -1}), World(lamp, {0, 0, -1}));
        EXPECT_STREQ(read->GetParent(readLamp)->GetName().c_str(), "Group");
        // The geometry is unchanged by the views beside it.
        ExpectSameScene(*source, *read);
    }
}
