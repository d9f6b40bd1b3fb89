// OBJ text that cannot be read gives a clear error (with its line when a statement is at
// fault) and no scene, never a crash.
#include "obj_test_helpers.h"

#include <3dzan/scene/scene.h>

#include <gtest/gtest.h>

#include <random>

using namespace objtest;

namespace
{
const char* const kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
} // namespace

TEST(ObjMalformed, StatementsAtFaultAreNamedWithTheirLine)
{
    const struct
    {
        std::string m_Text;
        const char* m_Expected; // in the error line
    } cases[] = {
        {std::string(kTriangle) + "f 1 2 4\n", "line 4: face vertex index 4 is outside the 3"},
        {std::string(kTriangle) + "\n\nf 1 2 3\nf 1 2 99999999999\n", "line 7:"},
        {std::string(kTriangle) + "f 1 2 0\n", "line 4:"},
        {std::string(kTriangle) + "f 1 2 -4\n", "line 4: relative vertex index -4 reaches"},
        {std::string(kTriangle) + "vt 0 0\nf 1/-1 2/-1 3/-2\n", "line 5: relative texture"},
        {std::string(kTriangle) + "f 1/5 2/1 3/1\nvt 0 0\n", "line 4: face texture coordinate"},
        {std::string(kTriangle) + "f 1//2 2//1 3//1\nvn 0 0 1\n", "line 4: face normal"},
        {std::string(kTriangle) + "f 1 2 x\n", "line 4: 'x' is not a vertex index"},
        {std::string(kTriangle) + "f 1 2 3/\x01\n", "line 4:"},
        {"v 0 0\nf 1 1 1\n", "line 1: a vertex needs 3 numbers"},
        {"v 0 0 0\nv 1 zero 0\n", "line 2: 'zero' is not a number"},
        {"v 0 0 nan\nf 1 1 1\n", "line 1:"},
        {"v 0 0 1e99\nf 1 1 1\n", "line 1:"},
        {"v 1 2 3 4 5 6 7 8\n", "line 1: a vertex has more than 7"},
        {std::string(kTriangle) + "vt\n", "line 4: a texture coordinate needs 1"},
        {std::string(kTriangle) + "vn 1 2\n", "line 4: a normal needs 3"},
        {std::string(kTriangle) + "f 1 2 \\\n 3 \\\n 4\n", "line 4:"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.m_Text);
        CReadOutcome read;
        ReadText(c.m_Text, read);
        EXPECT_EQ(read.m_Scene, nullptr);
        EXPECT_EQ(read.m_Result, _IoResultBadFormat);
        const std::string error = read.ErrorText();
        EXPECT_NE(error.find(c.m_Expected), std::string::npos) << error;
        EXPECT_EQ(read.m_Log.GetLogCount(), 1);
    }
}

TEST(ObjMalformed, TextsWithoutFacesAreEmptyResults)
{
    const std::string texts[] = {"",
                                 "# only\n# comments\n",
                                 "\n\n   \n",
                                 "v 1 2 3\nl 1 1\n",
                                 std::string("\0\0\0\xff\xfe", 5),
                                 "f 1 2\n"};
    for (const std::string& text : texts)
    {
        CReadOutcome read;
        ReadText(text, read);
        EXPECT_EQ(read.m_Scene, nullptr);
        EXPECT_EQ(read.m_Result, _IoResultEmptyResult);
        EXPECT_NE(read.ErrorText().find("no face"), std::string::npos);
    }
}

// Random damage to a valid file: every outcome is a scene or a clear error.
TEST(ObjMalformed, DamagedFilesReadOrFailCleanly)
{
    const std::string valid = "mtllib none.mtl\no a\nv 0 0 0 1 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 1\n"
                              "vt 0 0\nvt 1 0\nvn 0 0 1\nusemtl m\nf 1/1/1 2/2/1 3/1/1\n"
                              "g b\nf -1 -2 -3 -4\nf 4//1 3//1 \\\n 2//1\n";
    std::mt19937 random(11);
    for (int round = 0; round < 2000; ++round)
    {
        std::string text = valid;
        const int edits = 1 + int(random() % 4);
        for (int e = 0; e < edits; ++e)
        {
            const size_t at = random() % text.size();
            switch (random() % 3)
            {
            case 0:
                text[at] = char(random() % 256);
                break;
            case 1:
                text.erase(at, 1 + random() % 5);
                break;
            default:
                text.resize(at);
            }
            if (text.empty())
                break;
        }
        CReadOutcome read;
        ReadText(text, read, "", 1 + round % 2);
        if (read.m_Scene)
        {
            EXPECT_EQ(read.m_Result, 1);
            EXPECT_GT(read.m_Scene->GetFaceNbr(), 0);
        }
        else
        {
            EXPECT_NE(read.m_Result, 1);
            EXPECT_EQ(read.m_Log.GetLogCount(), 1) << text;
        }
    }
}
