// Reading glTF: the node tree and its transforms, instancing, materials, per-corner channels
// and the primitive modes, on small files written by make_gltf_data.py.
#include "gltf_test_helpers.h"

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/materials/material.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/materials/materials.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/light.h>

#include <cmath>

using namespace gltftest;

TEST(GltfRead, InstancedBoxKeepsTreeTransformsAndOneSharedObject)
{
    zangltf::CGltfError error;
    ScenePtr scene = ReadPath(DataPath("instanced_box.gltf"), error);
    ASSERT_TRUE(scene) << error.m_Message;

    // Scene 0 only: the group and its two boxes; "Elsewhere" belongs to scene 1.
    C3DSceneNode* group = FindNode(*scene, "Group");
    C3DSceneNode* a = FindNode(*scene, "BoxA");
    C3DSceneNode* b = FindNode(*scene, "BoxB");
    ASSERT_TRUE(group && a && b);
    EXPECT_EQ(FindNode(*scene, "Elsewhere"), nullptr);
    EXPECT_EQ(scene->GetParent(group), scene->GetRoot());
    EXPECT_EQ(scene->GetParent(a), group);
    EXPECT_EQ(scene->GetParent(b), group);
    EXPECT_EQ(group->GetObjectKindOf(), unsigned(_ObjectKindGroup));

    // One object shared by both boxes, counted once per node; its two primitives read the
    // same 8 positions, which are concatenated (never welded): 16 points.
    EXPECT_EQ(a->GetObjectID(), b->GetObjectID());
    EXPECT_EQ(a->GetBaseObject()->GetInstanceNbr(), 2);
    EXPECT_EQ(scene->GetPointNbr(), 32);
    EXPECT_EQ(scene->GetFaceNbr(), 24);
    CMaterialHashMap used;
    EXPECT_EQ(scene->GetMaterials(nullptr, used), 2);

    // World positions: Group T(10,0,0); A adds T(0,5,0); B turns 90 degrees about z and
    // scales by 2, so (x, y, z) goes to (10 - 2y, 2x, 2z).
    const C3DGeomObject& box = *a->GetGeomObject();
    ASSERT_EQ(box.GetPointNbr(), 16);
    for (int i = 0; i < 16; ++i)
    {
        const V3 p = Point(box, i);
        ExpectNear(World(a, p), {p[0] + 10, p[1] + 5, p[2]});
        ExpectNear(World(b, p), {10 - 2 * p[1], 2 * p[0], 2 * p[2]});
    }

    // The first primitive's faces carry "Red", the second's "Blue".
    const C3DFaceList& faces = *box.GetFaceList();
    for (unsigned f = 0; f < 12; ++f)
    {
        const C3DMaterial* material = scene->GetMaterialByID(faces.GetFaceMaterial(f));
        ASSERT_NE(material, nullptr);
        EXPECT_STREQ(material->GetName().c_str(), f < 6 ? "Red" : "Blue");
        EXPECT_EQ(material->GetDiffuseColor(0), f < 6 ? CRGBColor(255, 0, 0) : CRGBColor(0, 0, 255));
    }
}

TEST(GltfRead, EmbeddedTriangleKeepsMaterialAndCornerChannels)
{
    zangltf::CGltfError error;
    ScenePtr scene = ReadPath(DataPath("triangle.gltf"), error);
    ASSERT_TRUE(scene) << error.m_Message;
    const std::vector<C3DSceneNode*> nodes = GeomNodes(*scene);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_STREQ(nodes[0]->GetName().c_str(), "Tri"); // the mesh names an unnamed node
    C3DGeomObject& tri = *nodes[0]->GetGeomObject();
    ASSERT_EQ(tri.GetFaceNbr(), 1);
    int n = 0;
    const int* corners = tri.GetFaceList()->GetIndexes(0, n);
    ASSERT_EQ(n, 3);

    const C3DMaterial* material = scene->GetMaterialByID(tri.GetFaceList()->GetFaceMaterial(0));
    ASSERT_NE(material, nullptr);
    EXPECT_STREQ(material->GetName().c_str(), "Glass");
    EXPECT_EQ(material->GetDiffuseColor(0), CRGBColor(51, 102, 153));
    EXPECT_NEAR(material->GetTransparencyFactor(0), 0.5f, 1e-6f);
    ASSERT_NE(material->GetDiffuseMaps(), nullptr);
    EXPECT_STREQ(material->GetDiffuseMaps()->GetFileName().c_str(), "tex ture.png");

    // Corner k of the file's triangle: texture (u, 1 - v), normal +z, its colour.
    const float uv[3][2] = {{0, 1}, {1, 1}, {0, 0}};
    const CRGBColor colors[3] = {{255, 0, 0, 255}, {0, 255, 0, 128}, {0, 0, 255, 255}};
    const V3 positions[3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    auto* uvw = static_cast<CUVWChannel*>(tri.GetChannelByIndex(0, _ChannelUVW));
    auto* vc = static_cast<CVCChannel*>(tri.GetChannelByIndex(0, _ChannelVC));
    auto* normals = static_cast<CSpecNormalChannel*>(tri.GetChannelByIndex(0, _ChannelSpecNormal));
    ASSERT_TRUE(uvw && vc && normals);
    EXPECT_EQ(material->GetDiffuseMaps()->GetChannelID(), uvw->GetChannelID());
    for (int k = 0; k < 3; ++k)
    {
        ExpectNear(Point(tri, corners[k]), positions[k]);
        int m = 0;
        const int uvIndex = uvw->GetFaceList()->GetIndexes(0, m)[k];
        EXPECT_FLOAT_EQ((*uvw->GetUVWPointList())[uvIndex][0], uv[k][0]);
        EXPECT_FLOAT_EQ((*uvw->GetUVWPointList())[uvIndex][1], uv[k][1]);
        const int vcIndex = vc->GetFaceList()->GetIndexes(0, m)[k];
        EXPECT_EQ((*vc->GetVCPointList())[vcIndex].GetColor(), colors[k]);
        const int nIndex = normals->GetNormalFaceList()->GetIndexes(0, m)[k];
        const C3DTVector<float>& normal = (*normals->GetNormalVectorList())[nIndex];
        EXPECT_EQ(normal.GetFlags() & _NormalUndefined, 0u);
        ExpectNear({normal.m_X, normal.m_Y, normal.m_Z}, {0, 0, 1});
    }
}

TEST(GltfRead, StripsAndFansBecomeTrianglesWoundAlikeAndLinesAreSkipped)
{
    zangltf::CGltfError error;
    ScenePtr scene = ReadPath(DataPath("strip_fan.glb"), error);
    ASSERT_TRUE(scene) << error.m_Message;
    const std::vector<C3DSceneNode*> nodes = GeomNodes(*scene);
    ASSERT_EQ(nodes.size(), 1u);
    const C3DGeomObject& mesh = *nodes[0]->GetGeomObject();
    // 6 strip corners give 4 triangles, 5 fan corners 3; the line adds no point.
    EXPECT_EQ(mesh.GetFaceNbr(), 7);
    EXPECT_EQ(mesh.GetPointNbr(), 11);
    // Every triangle of the file turns counter-clockwise seen from +z, with an area.
    for (unsigned f = 0; f < 7; ++f)
    {
        int n = 0;
        const int* c = mesh.GetFaceList()->GetIndexes(f, n);
        ASSERT_EQ(n, 3);
        const V3 a = Point(mesh, c[0]), b = Point(mesh, c[1]), d = Point(mesh, c[2]);
        const float z = (b[0] - a[0]) * (d[1] - a[1]) - (b[1] - a[1]) * (d[0] - a[0]);
        EXPECT_GT(z, 0.0f) << "face " << f;
    }
    // A primitive without material gets the one default material.
    CMaterialHashMap used;
    EXPECT_EQ(scene->GetMaterials(nullptr, used), 1);
}

TEST(GltfRead, SceneChoiceMatrixAndDefaultNames)
{
    // No "scene": scene 0; a column-major matrix; nodes named after the file when neither
    // node nor mesh has a name.
    std::string doc = Replace(TriangleDocument(), R"("nodes":[{"name":"T","mesh":0}],)",
                              R"("scenes":[{"nodes":[1]}],"nodes":[{"name":"Out","mesh":0},)"
                              R"({"mesh":0,"matrix":[0,1,0,0, -1,0,0,0, 0,0,1,0, 3,4,5,1]}],)");
    zangltf::CGltfError error;
    ScenePtr scene = ReadText(doc, error);
    ASSERT_TRUE(scene) << error.m_Message;
    const std::vector<C3DSceneNode*> nodes = GeomNodes(*scene);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_STREQ(nodes[0]->GetName().c_str(), "memory");
    // Columns (0,1,0) (-1,0,0) (0,0,1) (3,4,5): (x, y, z) goes to (3 - y, 4 + x, 5 + z).
    ExpectNear(World(nodes[0], {1, 2, 3}), {1, 5, 8});

    // Without scenes every root node is read.
    doc = Replace(doc, R"("scenes":[{"nodes":[1]}],)", "");
    scene = ReadText(doc, error);
    ASSERT_TRUE(scene) << error.m_Message;
    EXPECT_EQ(GeomNodes(*scene).size(), 2u);
    EXPECT_EQ(scene->GetPointNbr(), 6); // one object, counted per node
}

TEST(GltfRead, JsonSyntaxIsReadInFull)
{
    // Escapes, \u with a surrogate pair, exponents, nesting and whitespace everywhere.
    std::string doc = Replace(TriangleDocument(), R"("name":"T")",
                              "\"name\" :\t\"A\\u00e9\\ud83d\\ude00\\n\\\"q\\\"\\/\"");
    doc = Replace(doc, R"("count":3,"type":"VEC3")", R"("count":3e0,"type":"VEC3","extras":)"
                                                     R"({"a":[[],{},[null,true,false,-0.5E+2]]})");
    zangltf::CGltfError error;
    ScenePtr scene = ReadText(doc, error);
    ASSERT_TRUE(scene) << error.m_Message;
    ASSERT_EQ(GeomNodes(*scene).size(), 1u);
    EXPECT_EQ(std::string(GeomNodes(*scene)[0]->GetName().c_str()),
              "A\xC3\xA9\xF0\x9F\x98\x80\n\"q\"/");
}

// Cameras and punctual lights become camera and light nodes; a node that also has a mesh
// keeps the mesh and gets them as child nodes. Bad parameters are refused with a reason.
TEST(GltfRead, CamerasAndPunctualLights)
{
    const std::string withViews = Replace(
        TriangleDocument(), R"("nodes":[{"name":"T","mesh":0}],)",
        R"("nodes":[{"name":"T","mesh":0,"camera":1,)"
        R"("extensions":{"KHR_lights_punctual":{"light":1}}},)"
        R"({"name":"Eye","camera":0,"translation":[0,0,5]},)"
        R"({"extensions":{"KHR_lights_punctual":{"light":0}}}],)"
        R"("cameras":[{"type":"perspective","perspective":{"yfov":0.8,"aspectRatio":1.5,)"
        R"("znear":0.1,"zfar":100}},)"
        R"({"type":"orthographic","orthographic":{"xmag":4,"ymag":2,"znear":1,"zfar":9}}],)"
        R"("extensions":{"KHR_lights_punctual":{"lights":[)"
        R"({"type":"spot","color":[1,0.5,0],"intensity":20,"range":12,)"
        R"("spot":{"innerConeAngle":0.25,"outerConeAngle":0.5}},)"
        R"({"type":"directional"}]}},"extensionsRequired":["KHR_lights_punctual"],)");
    zangltf::CGltfError error;
    ScenePtr scene = ReadText(withViews, error);
    ASSERT_TRUE(scene) << error.m_Message;

    C3DSceneNode* eye = FindNode(*scene, "Eye");
    ASSERT_NE(eye, nullptr);
    auto* camera = dynamic_cast<C3DCamera*>(eye->GetBaseObject());
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->GetProjection(), int(_ProjectionPerspective));
    EXPECT_DOUBLE_EQ(camera->GetFov(), 0.8);
    EXPECT_DOUBLE_EQ(camera->GetAspectRatio(), 1.5);
    EXPECT_DOUBLE_EQ(camera->GetNearClip(), 0.1);
    EXPECT_DOUBLE_EQ(camera->GetFarClip(), 100);
    ExpectNear(World(eye, {0, 0, 0}), {0, 0, 5});

    C3DSceneNode* spotNode = FindNode(*scene, "Light0");
    ASSERT_NE(spotNode, nullptr);
    auto* spot = dynamic_cast<C3DLight*>(spotNode->GetBaseObject());
    ASSERT_NE(spot, nullptr);
    EXPECT_EQ(spot->GetLightKind(), int(_LightSpot));
    EXPECT_EQ(spot->GetColor(), CRGBColor(255, 128, 0));
    EXPECT_DOUBLE_EQ(spot->GetIntensity(), 20);
    EXPECT_DOUBLE_EQ(spot->GetOuterRadius(), 12);
    EXPECT_DOUBLE_EQ(spot->GetInnerAngle(), 0.5); // whole cones: twice the glTF angles
    EXPECT_DOUBLE_EQ(spot->GetOuterAngle(), 1.0);

    // The mesh node keeps its mesh; its camera and light hang below it.
    C3DSceneNode* mesh = FindNode(*scene, "T");
    ASSERT_NE(mesh, nullptr);
    EXPECT_NE(mesh->GetGeomObject(), nullptr);
    C3DSceneNode* meshCamera = FindNode(*scene, "T camera");
    C3DSceneNode* meshLight = FindNode(*scene, "T light");
    ASSERT_NE(meshCamera, nullptr);
    ASSERT_NE(meshLight, nullptr);
    EXPECT_EQ(meshCamera->GetParent(), mesh);
    EXPECT_EQ(meshLight->GetParent(), mesh);
    auto* ortho = dynamic_cast<C3DCamera*>(meshCamera->GetBaseObject());
    ASSERT_NE(ortho, nullptr);
    EXPECT_EQ(ortho->GetProjection(), int(_ProjectionOrthographic));
    EXPECT_DOUBLE_EQ(ortho->GetAspectRatio(), 2.0);
    auto* sun = dynamic_cast<C3DLight*>(meshLight->GetBaseObject());
    ASSERT_NE(sun, nullptr);
    EXPECT_EQ(sun->GetLightKind(), int(_LightDirectional));
    EXPECT_EQ(sun->GetColor(), CRGBColor(255, 255, 255));

    // Refused, each with a reason.
    const std::pair<std::string, std::string> bad[] = {
        {R"("yfov":0.8,)", R"("yfov":4,)"},
        {R"("znear":0.1,"zfar":100)", R"("znear":10,"zfar":1)"},
        {R"("type":"spot")", R"("type":"area")"},
        {R"("outerConeAngle":0.5)", R"("outerConeAngle":0.1)"},
        {R"("camera":0,)", R"("camera":7,)"},
        {R"("color":[1,0.5,0])", R"("color":[1,0.5])"},
    };
    for (const auto& [from, to] : bad)
    {
        zangltf::CGltfError refused;
        EXPECT_FALSE(ReadText(Replace(withViews, from, to), refused)) << to;
        EXPECT_FALSE(refused.m_Message.empty()) << to;
    }
}

// A second texture coordinate set becomes a second texture channel, and a map whose texCoord
// names it reads that channel.
TEST(GltfRead, SecondTextureCoordinateSetIsItsOwnChannel)
{
    const float points[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const float first[6] = {0, 0, 1, 0, 0, 1};
    const float second[6] = {0.5f, 0.25f, 0.75f, 0.25f, 0.5f, 0.5f};
    std::string bytes(reinterpret_cast<const char*>(points), sizeof points);
    bytes.append(reinterpret_cast<const char*>(first), sizeof first);
    bytes.append(reinterpret_cast<const char*>(second), sizeof second);
    const std::string doc =
        R"({"asset":{"version":"2.0"},"nodes":[{"name":"T","mesh":0}],)"
        R"("meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1,"TEXCOORD_1":2},)"
        R"("material":0}]}],)"
        R"("materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0,"texCoord":1}}}],)"
        R"("textures":[{"source":0}],"images":[{"uri":"light.png"}],)"
        R"("buffers":[{"byteLength":84,"uri":"data:application/octet-stream;base64,)" +
        Base64(bytes) +
        R"("}],"bufferViews":[{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,)"
        R"("byteLength":24},{"buffer":0,"byteOffset":60,"byteLength":24}],)"
        R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},)"
        R"({"bufferView":1,"componentType":5126,"count":3,"type":"VEC2"},)"
        R"({"bufferView":2,"componentType":5126,"count":3,"type":"VEC2"}]})";
    zangltf::CGltfError error;
    ScenePtr scene = ReadText(doc, error);
    ASSERT_TRUE(scene) << error.m_Message;
    C3DGeomObject& tri = *GeomNodes(*scene)[0]->GetGeomObject();
    auto* set0 = static_cast<CUVWChannel*>(tri.GetChannelByIndex(0, _ChannelUVW));
    auto* set1 = static_cast<CUVWChannel*>(tri.GetChannelByIndex(1, _ChannelUVW));
    ASSERT_TRUE(set0 && set1);
    EXPECT_NE(set0->GetChannelID(), set1->GetChannelID());
    const C3DMaterial* material = scene->GetMaterialByID(tri.GetFaceList()->GetFaceMaterial(0));
    ASSERT_TRUE(material && material->GetDiffuseMaps());
    EXPECT_EQ(material->GetDiffuseMaps()->GetChannelID(), set1->GetChannelID());
    int n = 0;
    const int* corners = tri.GetFaceList()->GetIndexes(0, n);
    for (int k = 0; k < 3; ++k)
    {
        int m = 0;
        const CUVWPoint& a = (*set0->GetUVWPointList())[set0->GetFaceList()->GetIndexes(0, m)[k]];
        const CUVWPoint& b = (*set1->GetUVWPointList())[set1->GetFaceList()->GetIndexes(0, m)[k]];
        const int point = corners[k];
        EXPECT_FLOAT_EQ(a[0], first[point * 2]);
        EXPECT_FLOAT_EQ(a[1], 1.0f - first[point * 2 + 1]);
        EXPECT_FLOAT_EQ(b[0], second[point * 2]);
        EXPECT_FLOAT_EQ(b[1], 1.0f - second[point * 2 + 1]);
    }
}
