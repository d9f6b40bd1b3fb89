// Name rules of the export and the foundation's GetUniqueName they rest on: spaces,
// identifiers, empty names, length limits and uniqueness, for nodes and for materials.
#include "scene/scene_pipeline_helpers.h"

#include <3dzan/foundation/hashmap.h>
#include <3dzan/materials/material.h>

#include <gtest/gtest.h>

#include <set>

using namespace pipetest;

namespace
{
constexpr unsigned Rule(unsigned options, unsigned length)
{
    return (options << 24) | length;
}

// The names of the nodes of scene in walk order (the root left out).
std::vector<std::string> NodeNames(const C3DScene& scene)
{
    std::vector<std::string> names;
    for (C3DNodePos pos = scene.GetFirstNode(0xFFFFFFFF, _IterNoObject); pos;)
        names.push_back(scene.GetNextNode(pos)->GetName().str());
    return names;
}

std::set<std::string> MaterialNames(const C3DScene& scene)
{
    std::set<std::string> names;
    for (unsigned slot = scene.GetFirstMaterial(); slot != kZanNone;)
        names.insert(scene.GetNextMaterial(slot)->GetName().str());
    return names;
}
} // namespace

TEST(GetUniqueName, CutsToTheLimitAndStaysUnique)
{
    CHashTable<CXTString> used;
    EXPECT_EQ(GetUniqueName("Box", used), CXTString("Box"));
    used.Insert("Box");
    used.Insert("Box_1");
    EXPECT_EQ(GetUniqueName("Box", used), CXTString("Box_2"));
    EXPECT_EQ(GetUniqueName("Boxes", used, 3), CXTString("B_1")) << "cut, then made unique";
    EXPECT_EQ(GetUniqueName("Sphere", used, 4), CXTString("Sphe"));
    // A multi-byte character is never split: "é" takes two bytes.
    EXPECT_EQ(GetUniqueName("ab\xC3\xA9", used, 3), CXTString("ab"));
    used.Insert("Bo");
    used.Insert("B");
    EXPECT_EQ(GetUniqueName("Box", used, 2), CXTString("_1"));
    EXPECT_EQ(GetUniqueName("Box", used, 1), CXTString()) << "no suffix fits";
    EXPECT_EQ(GetUniqueName("", CHashTable<CXTString>()), CXTString());
}

TEST(GetUniqueName, ManyClashesStillFindAFreeNameWithinTheLimit)
{
    CHashTable<CXTString> used;
    std::set<std::string> produced;
    for (int i = 0; i < 300; ++i)
    {
        const CXTString name = GetUniqueName("Object", used, 5);
        ASSERT_FALSE(name.IsEmpty());
        EXPECT_LE(name.GetLength(), 5);
        EXPECT_TRUE(produced.insert(name.str()).second) << name.c_str();
        used.Insert(name);
    }
}

TEST(SceneExportNames, NoRuleLeavesNamesAlone)
{
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "My box", MakeQuad(1));
    AddNode(*scene, nullptr, "My box", MakeQuad(1));
    AddNode(*scene, nullptr, "", MakeQuad(1));
    scene->CreateNewMaterial(1);
    CExportRun run(*scene, 0);
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(NodeNames(*run.Copy()), (std::vector<std::string>{"My box", "My box", ""}));
    EXPECT_EQ(MaterialNames(*run.Copy()), (std::set<std::string>{""}));
    EXPECT_EQ(run.Options().GetLogCount(), 0);
}

TEST(SceneExportNames, SpacesIdentifiersAndEmptyNames)
{
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "My box", MakeQuad());
    AddNode(*scene, nullptr, "a-b.c \xC3\xA9", MakeQuad());
    AddNode(*scene, nullptr, "", MakeQuad());
    {
        CExportRun run(*scene, 0);
        run.Options().m_ObjectNameRule = Rule(_NameRuleSpaces, 0);
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(NodeNames(*run.Copy()),
                  (std::vector<std::string>{"My_box", "a-b.c_\xC3\xA9", ""}));
        EXPECT_TRUE(HasLog(run.Options(), "Changing object name from My box to My_box"));
    }
    {
        CExportRun run(*scene, 0);
        run.Options().m_ObjectNameRule = Rule(_NameRuleIdentifier | _NameRuleDefault, 0);
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(NodeNames(*run.Copy()),
                  (std::vector<std::string>{"My_box", "a_b_c__", "Unnamed_object"}));
        EXPECT_TRUE(HasLog(run.Options(), "Changing object name from  to Unnamed_object"));
    }
}

TEST(SceneExportNames, LengthLimitAndUniquenessForNodesAndMaterials)
{
    ScenePtr scene(C3DScene::Create());
    AddNode(*scene, nullptr, "Cylinder", MakeQuad(1));
    AddNode(*scene, nullptr, "Cylinders", MakeQuad(2));
    AddNode(*scene, nullptr, "Box", MakeQuad(3));
    AddNode(*scene, nullptr, "Box", MakeQuad(3));
    scene->CreateNewMaterial(1)->SetName("");
    scene->CreateNewMaterial(2)->SetName(""); // the table made it "0"
    scene->CreateNewMaterial(3)->SetName("Material");
    {
        CExportRun run(*scene, 0);
        run.Options().m_ObjectNameRule = Rule(0, 4);
        run.Options().m_MaterialNameRule = Rule(0, 3);
        ASSERT_TRUE(run.Run());
        const std::vector<std::string> names = NodeNames(*run.Copy());
        EXPECT_EQ(names, (std::vector<std::string>{"Cyli", "Cy_1", "Box", "Bo_1"}));
        EXPECT_TRUE(HasLog(run.Options(), "Changing object name from Box to Bo_1"));
        const std::set<std::string> materials = MaterialNames(*run.Copy());
        EXPECT_EQ(materials.size(), 3u) << "unique";
        for (const std::string& name : materials)
        {
            EXPECT_LE(name.size(), 3u) << name;
            EXPECT_EQ(name[0], 'M') << "empty names start from \"Material\"";
        }
    }
    {
        // Forced rules with both words 0 only make names unique.
        CExportRun run(*scene, _ExportForceNameRules);
        ASSERT_TRUE(run.Run());
        EXPECT_EQ(NodeNames(*run.Copy()),
                  (std::vector<std::string>{"Cylinder", "Cylinders", "Box", "Box_1"}));
        EXPECT_EQ(MaterialNames(*run.Copy()).size(), 3u);
        EXPECT_TRUE(MaterialNames(*run.Copy()).count("Material"));
    }
}
