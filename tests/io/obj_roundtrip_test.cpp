// What the OBJ writer writes, the reader reads back: the same objects, corners, texture
// coordinates, normals, colours and materials; and the format through the plug-in module.
#include "obj_test_helpers.h"

#include "common/zan_test_helpers.h"

#include <3dzan/animation/keys.h>
#include <3dzan/foundation/files.h>
#include <3dzan/materials/material.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/processing/primitives.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include <gtest/gtest.h>

using namespace objtest;

namespace
{
// Objects with and without each channel, polygons, shared names, several materials.
const char* const kRichText = "mtllib rich.mtl\n"
                              "v 0 0 0 1 0 0\nv 1 0 0 0 1 0\nv 1 1 0 0 0 1\nv 0 1 0\n"
                              "v 0.1 0.2 0.30000001 0.5 0.5 0.5\nv -1e-7 3.5e12 -2\n"
                              "vt 0 0\nvt 1 0\nvt 1 1 0.5\nvt 0.333333343 0.1\n"
                              "vn 0 0 1\nvn 0.6 0.8 0\n"
                              "o plate\nusemtl red\nf 1/1/1 2/2/1 3/3/2 4/4/2\n"
                              "f 2/2 5/3 3/1\nusemtl green\nf 5//1 6//2 1//1\n"
                              "o plate 2\nf 6 5 4 3 2\nusemtl red\nf 1/4 2/4 6/4\n"
                              "g\nf 1 3 5\n";
const char* const kRichMaterials = "newmtl red\nKd 1 0 0\nKa 0.2 0.2 0.2\nNs 12\nd 0.5\n"
                                   "map_Kd red.png\nmap_d red_alpha.png\n"
                                   "newmtl green\nKd 0 1 0\nKs 0 0 0\nillum 1\n";

void ExpectSameMaterial(C3DScene& a, C3DScene& b, const char* name)
{
    C3DMaterial* x = a.GetMaterialByName(name);
    C3DMaterial* y = b.GetMaterialByName(name);
    ASSERT_NE(x, nullptr);
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(x->GetDiffuseColor(0), y->GetDiffuseColor(0));
    EXPECT_EQ(x->GetAmbientColor(0), y->GetAmbientColor(0));
    EXPECT_EQ(x->GetSpecularColor(0), y->GetSpecularColor(0));
    EXPECT_FLOAT_EQ(x->GetTransparencyFactor(0), y->GetTransparencyFactor(0));
    for (unsigned id : {CObjParser::kShininessID, CObjParser::kIlluminationID})
        EXPECT_EQ(x->GetCustomData().HasValue(id), y->GetCustomData().HasValue(id)) << name;
    EXPECT_EQ(x->GetCustomData().GetFloat(CObjParser::kShininessID, -1),
              y->GetCustomData().GetFloat(CObjParser::kShininessID, -1));
    EXPECT_EQ(x->GetCustomData().GetInt(CObjParser::kIlluminationID, -1),
              y->GetCustomData().GetInt(CObjParser::kIlluminationID, -1));
    ASSERT_EQ(x->GetDiffuseMaps() != nullptr, y->GetDiffuseMaps() != nullptr);
    if (x->GetDiffuseMaps())
    {
        EXPECT_EQ(x->GetDiffuseMaps()->GetFileName(), y->GetDiffuseMaps()->GetFileName());
        EXPECT_EQ(x->GetDiffuseMaps()->GetAlphaFileName(), y->GetDiffuseMaps()->GetAlphaFileName());
    }
}
} // namespace

TEST(ObjRoundTrip, WrittenFilesReadBackTheSameScene)
{
    zantest::CTempDir dir;
    ASSERT_TRUE(zantest::WriteFileText(dir.File("rich.mtl"), kRichMaterials));
    CReadOutcome first;
    ReadText(kRichText, first, dir.Path());
    ASSERT_NE(first.m_Scene, nullptr) << first.ErrorText();
    const auto before = ViewScene(*first.m_Scene);
    ASSERT_EQ(before.size(), 3u);

    std::string error;
    ASSERT_TRUE(WriteObjFiles(*first.m_Scene, dir.File("out.obj"), dir.File("out.mtl"), error))
        << error;
    CReadOutcome second;
    ReadText(zantest::ReadFileText(dir.File("out.obj")), second, dir.Path());
    ASSERT_NE(second.m_Scene, nullptr) << second.ErrorText();
    EXPECT_TRUE(second.WarningText().empty()) << second.WarningText();
    // The shortest round-trip text gives the floats back exactly.
    ExpectSameView(before, ViewScene(*second.m_Scene), 0.0f);
    ExpectSameMaterial(*first.m_Scene, *second.m_Scene, "red");
    ExpectSameMaterial(*first.m_Scene, *second.m_Scene, "green");

    // Writing what was read back gives the same bytes: nothing drifts.
    ASSERT_TRUE(WriteObjFiles(*second.m_Scene, dir.File("again.obj"), dir.File("out.mtl"), error));
    std::string once = zantest::ReadFileText(dir.File("out.obj"));
    std::string twice = zantest::ReadFileText(dir.File("again.obj"));
    EXPECT_EQ(once, twice);
}

TEST(ObjRoundTrip, AFailedWriteLeavesTheOldFiles)
{
    zantest::CTempDir dir;
    ASSERT_TRUE(zantest::WriteFileText(dir.File("old.obj"), "old"));
    CReadOutcome read;
    ReadText("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", read);
    ASSERT_NE(read.m_Scene, nullptr);
    std::string error;
    EXPECT_FALSE(
        WriteObjFiles(*read.m_Scene, dir.File("old.obj"), dir.File("no/such/x.mtl"), error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(zantest::ReadFileText(dir.File("old.obj")), "old");
}

// Through the front end with the module loaded: node transformations are baked into the
// points, each node is an object, and the materials follow the faces.
TEST(ObjRoundTrip, ThroughThePlugInModule)
{
    zantest::CTempConfigDir config;
    RegisterIOPlugins(_FileKind3D, ZAN3D_PLUGIN_BUILD_DIR);
    const CFileExt* record = fileGetFileExt(".obj");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->m_Class, kClassOBJ);

    C3DScene* scene = C3DScene::Create();
    C3DMaterial* wood = scene->CreateNewMaterial();
    wood->SetName("wood");
    wood->SetDiffuseColor(0, CRGBColor(120, 80, 40));
    C3DSceneNode* cube =
        CreateCube(C3DTPoint<float>(0, 0, 0), 2, 2, 2, true, wood->GetMaterialID(), kZanNone);
    ASSERT_NE(cube, nullptr);
    static_cast<C3DVectorKey*>(cube->CreateKey(0, kNodeTranslateKey))
        ->SetVector(C3DTVector<float>(10, 0, -5));
    scene->AddNode(nullptr, cube);
    C3DSceneNode* sphere =
        CreateSphere(C3DTPoint<float>(1, 2, 3), 1.5, 4, 6, false, wood->GetMaterialID(), kZanNone);
    ASSERT_NE(sphere, nullptr);
    scene->AddNode(nullptr, sphere);
    auto expected = ViewScene(*scene);
    for (auto& face : expected[0].m_Faces)
        for (auto& corner : face.m_Corners)
        {
            corner.m_Position[0] += 10;
            corner.m_Position[2] -= 5;
        }

    zantest::CTempDir dir;
    const std::string path = dir.File("scene.obj");
    {
        C3DIo io(CFileNameSpec(path.c_str()), _FileParserSilent);
        ASSERT_TRUE(io.Save(false, scene)) << io.GetIoError();
    }
    EXPECT_NE(zantest::ReadFileText(dir.File("scene.mtl")).find("newmtl wood\n"),
              std::string::npos);
    C3DIo io(CFileNameSpec(path.c_str()), _FileParserRead | _FileParserSilent);
    C3DScene* read = io.Read(false);
    ASSERT_NE(read, nullptr) << io.GetIoError();
    auto got = ViewScene(*read);
    ASSERT_EQ(got.size(), 2u);
    // The sphere's poles and seams repeat positions; OBJ keeps the points as written.
    ExpectSameView(expected, got, 1e-5f);
    EXPECT_EQ(read->GetFilename().GetFileName(), CXTString(path));
    read->Delete();
    scene->Delete();
}
