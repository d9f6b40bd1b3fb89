// Reading OBJ statements: each form on small texts whose expected scene is read off the text.
#include "obj_test_helpers.h"

#include "common/zan_test_helpers.h"

#include <3dzan/materials/material.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/scene/scene.h>

#include <gtest/gtest.h>

#include <random>

using namespace objtest;

namespace
{
using P3 = std::array<float, 3>;

std::vector<P3> Positions(const CFaceView& face)
{
    std::vector<P3> result;
    for (const CCorner& c : face.m_Corners)
        result.push_back(c.m_Position);
    return result;
}
} // namespace

TEST(ObjRead, FaceFormsRelativeIndicesPolygonsAndSkippedStatements)
{
    const std::string text = "# a comment\n"
                             "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 5 5 5\n"
                             "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                             "vn 0 0 1\nvn 0 0 -1\n"
                             "f 1 2 3\n"
                             "f 1/1 2/2 3/3 4/4\n"
                             "f 1//2 3//2 4//2\n"
                             "f 1/4/1 2/3/1 \\\n 3/2/1\n"
                             "f -5 -4 -3 -2\n"     // relative: vertices 1 2 3 4
                             "f 1/-4 2/-3 3/-2\n"  // relative texture coordinates 1 2 3
                             "l 1 2\np 3\nf 1 2\n" // lines, points, a face of two corners
                             "vp 0.5\ns off\nunknown statement here\n\n"
                             "f 4 3 2 1 5\n";
    CReadOutcome read;
    ReadText(text, read);
    ASSERT_NE(read.m_Scene, nullptr) << read.ErrorText();
    const auto view = ViewScene(*read.m_Scene);
    ASSERT_EQ(view.size(), 1u);
    EXPECT_EQ(view[0].m_Name, "test");
    ASSERT_EQ(view[0].m_Faces.size(), 7u);
    const P3 a{0, 0, 0}, b{1, 0, 0}, c{1, 1, 0}, d{0, 1, 0}, e{5, 5, 5};
    EXPECT_EQ(Positions(view[0].m_Faces[0]), (std::vector<P3>{a, b, c}));
    EXPECT_EQ(Positions(view[0].m_Faces[4]), (std::vector<P3>{a, b, c, d}));
    EXPECT_EQ(Positions(view[0].m_Faces[6]), (std::vector<P3>{d, c, b, a, e}));
    // Texture coordinates only where the face has them.
    const auto& f1 = view[0].m_Faces[1];
    ASSERT_TRUE(f1.m_Corners[3].m_UV.has_value());
    EXPECT_EQ(*f1.m_Corners[3].m_UV, (std::array<float, 2>{0, 1}));
    EXPECT_FALSE(view[0].m_Faces[0].m_Corners[0].m_UV.has_value());
    EXPECT_FALSE(view[0].m_Faces[2].m_Corners[0].m_UV.has_value());
    const auto& f5 = view[0].m_Faces[5];
    ASSERT_TRUE(f5.m_Corners[2].m_UV.has_value());
    EXPECT_EQ(*f5.m_Corners[2].m_UV, (std::array<float, 2>{1, 1}));
    // Normals per corner; the continued line is one face.
    ASSERT_TRUE(view[0].m_Faces[2].m_Corners[1].m_Normal.has_value());
    EXPECT_EQ(*view[0].m_Faces[2].m_Corners[1].m_Normal, (P3{0, 0, -1}));
    const auto& f3 = view[0].m_Faces[3];
    ASSERT_EQ(f3.m_Corners.size(), 3u);
    EXPECT_EQ(*f3.m_Corners[2].m_UV, (std::array<float, 2>{1, 0}));
    EXPECT_EQ(*f3.m_Corners[2].m_Normal, (P3{0, 0, 1}));
    EXPECT_FALSE(view[0].m_Faces[4].m_Corners[0].m_Normal.has_value());
    // Every vertex is used here; 5 points.
    EXPECT_EQ(view[0].m_PointNbr, 5);
    EXPECT_EQ(read.m_Scene->GetFaceNbr(), 7);
}

TEST(ObjRead, ObjectsKeepTheirOwnPointsAndNamesMeetAgainContinue)
{
    const std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nv 9 9 9\n"
                             "f 1 2 3\n" // before any o: the file's name
                             "o  first part \n"
                             "f 4 2 1\n"
                             "g second\n"
                             "f 3 4 2\nf 2 3 4\n"
                             "g second\n" // the same name: no new object
                             "o first part\n"
                             "f 4 3 1\n"
                             "o\n" // empty: the file's name again
                             "f 2 3 4\n";
    CReadOutcome read;
    ReadText(text, read);
    ASSERT_NE(read.m_Scene, nullptr) << read.ErrorText();
    const auto view = ViewScene(*read.m_Scene);
    ASSERT_EQ(view.size(), 3u);
    EXPECT_EQ(view[0].m_Name, "test");
    EXPECT_EQ(view[1].m_Name, "first part");
    EXPECT_EQ(view[2].m_Name, "second");
    EXPECT_EQ(view[0].m_Faces.size(), 2u);
    EXPECT_EQ(view[1].m_Faces.size(), 2u);
    EXPECT_EQ(view[2].m_Faces.size(), 2u);
    // Points: only those used, vertex 5 nowhere.
    EXPECT_EQ(view[0].m_PointNbr, 4);
    EXPECT_EQ(view[1].m_PointNbr, 4);
    EXPECT_EQ(view[2].m_PointNbr, 3);
    EXPECT_EQ(read.m_Scene->GetPointNbr(), 11);
    EXPECT_EQ(Positions(view[1].m_Faces[1]), (std::vector<P3>{{0, 0, 1}, {0, 1, 0}, {0, 0, 0}}));
}

TEST(ObjRead, VertexColoursAndOptionalW)
{
    const std::string text = "v 0 0 0 1 0 0\nv 1 0 0 0 1 0\nv 0 1 0 2\nv 1 1 0 1 0 0 1\n"
                             "f 1 2 3\nf 2 4 3\n";
    CReadOutcome read;
    ReadText(text, read);
    ASSERT_NE(read.m_Scene, nullptr) << read.ErrorText();
    const auto view = ViewScene(*read.m_Scene);
    ASSERT_EQ(view.size(), 1u);
    const auto& f0 = view[0].m_Faces[0];
    ASSERT_TRUE(f0.m_Corners[0].m_Color.has_value());
    EXPECT_EQ(*f0.m_Corners[0].m_Color, (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(*f0.m_Corners[1].m_Color, (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(*f0.m_Corners[2].m_Color, (std::array<int, 3>{255, 255, 255})); // w only: white
    EXPECT_EQ(*view[0].m_Faces[1].m_Corners[1].m_Color, (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(f0.m_Corners[2].m_Position, (P3{0, 1, 0}));
}

TEST(ObjRead, MaterialsFromTheLibraryBesideTheFileAndWarnings)
{
    zantest::CTempDir dir;
    ASSERT_TRUE(zantest::WriteFileText(dir.File("scene.mtl"),
                                       "newmtl red\nKd 1 0 0\nKs 0 0 1\nNs 40\nd 0.25\nillum 2\n"
                                       "map_Kd -s 1 1 1 tex/red.png\nmap_d alpha.png\n"
                                       "newmtl blue\nKd 0 0 1\nTr 0.5\nKd bad\n"));
    const std::string text = "mtllib scene.mtl missing.mtl\nmtllib nowhere.mtl\n"
                             "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
                             "f 1 2 3\nusemtl red\nf 1 2 3\nusemtl blue\nf 1 2 3\n"
                             "usemtl ghost\nf 1 2 3\nusemtl red\nf 3 2 1\n";
    CReadOutcome read;
    ReadText(text, read, dir.Path());
    ASSERT_NE(read.m_Scene, nullptr) << read.ErrorText();
    EXPECT_EQ(read.m_Result, 1);
    const auto view = ViewScene(*read.m_Scene);
    ASSERT_EQ(view.size(), 1u);
    std::vector<std::string> names;
    for (const auto& face : view[0].m_Faces)
        names.push_back(face.m_Material);
    EXPECT_EQ(names, (std::vector<std::string>{"Default material", "red", "blue", "ghost", "red"}));
    CMaterialHashMap used;
    EXPECT_EQ(read.m_Scene->GetMaterials(nullptr, used), 4);

    C3DMaterial* red = read.m_Scene->GetMaterialByName("red");
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red->GetDiffuseColor(0), CRGBColor(255, 0, 0));
    EXPECT_EQ(red->GetSpecularColor(0), CRGBColor(0, 0, 255));
    EXPECT_FLOAT_EQ(red->GetTransparencyFactor(0), 0.75f);
    EXPECT_FLOAT_EQ(red->GetCustomData().GetFloat(CObjParser::kShininessID), 40.0f);
    ASSERT_NE(red->GetDiffuseMaps(), nullptr);
    EXPECT_STREQ(red->GetDiffuseMaps()->GetFileName().c_str(), "tex/red.png");
    EXPECT_STREQ(red->GetDiffuseMaps()->GetAlphaFileName().c_str(), "alpha.png");
    C3DMaterial* blue = read.m_Scene->GetMaterialByName("blue");
    ASSERT_NE(blue, nullptr);
    EXPECT_EQ(blue->GetDiffuseColor(0), CRGBColor(0, 0, 255)); // the bad Kd is skipped
    EXPECT_FLOAT_EQ(blue->GetTransparencyFactor(0), 0.5f);

    // The libraries that cannot be read and the unknown material are warnings.
    const std::string warnings = read.WarningText();
    EXPECT_NE(warnings.find("nowhere.mtl"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("ghost"), std::string::npos) << warnings;
    EXPECT_TRUE(read.ErrorText().empty());
}

// Texts large enough to be parsed in two chunks read as they do in one: relative and
// absolute indices, objects, materials and channels whose statements cross the cut.
TEST(ObjRead, TwoChunksReadAsOne)
{
    std::mt19937 random(7);
    std::string text;
    int vertices = 0, uvs = 0;
    int objectNumber = 0;
    while (text.size() < (size_t(9) << 20) / 2 + (size_t(1) << 20))
    {
        if (random() % 500 == 0)
            text += "o part" + std::to_string(objectNumber++ % 7) + "\n";
        if (random() % 300 == 0)
            text += "usemtl m" + std::to_string(random() % 5) + "\n";
        for (int i = 0; i < 4; ++i, ++vertices, ++uvs)
            text += "v " + std::to_string(random() % 1000) + " " + std::to_string(vertices) +
                    " 0.5\nvt 0." + std::to_string(random() % 100) + " 0.25\n";
        switch (random() % 3)
        {
        case 0:
            text += "f -1 -2 -3 -4\n";
            break;
        case 1:
            text += "f " + std::to_string(random() % vertices + 1) + "/-1 -2/-2 -3/" +
                    std::to_string(uvs) + "\n";
            break;
        default:
            text += "f " + std::to_string(vertices) + " " +
                    std::to_string(random() % vertices + 1) + " \\\n " +
                    std::to_string(vertices - 1) + "\n";
        }
    }
    CReadOutcome one, two;
    ReadText(text, one, "", 1);
    ReadText(text, two, "", 2);
    ASSERT_NE(one.m_Scene, nullptr) << one.ErrorText();
    ASSERT_NE(two.m_Scene, nullptr) << two.ErrorText();
    ExpectSameView(ViewScene(*one.m_Scene), ViewScene(*two.m_Scene), 0.0f);
    EXPECT_EQ(one.m_Scene->GetPointNbr(), two.m_Scene->GetPointNbr());
}

// The plain statements that make up most files are read by a shorter path than the others; a
// comment at the end of each line sends every line through the general one. Both must read
// every number and face form alike, to the bit.
TEST(ObjRead, PlainLinesReadAsTheGeneralPathReadsThem)
{
    std::mt19937 random(11);
    auto number = [&]() -> std::string
    {
        switch (random() % 7)
        {
        case 0:
            return std::to_string(int(random() % 2000) - 1000);
        case 1:
            return "-0." + std::to_string(random() % 1000000);
        case 2:
            return "+" + std::to_string(random() % 100) + "." + std::to_string(random() % 100);
        case 3: // more digits than a float's mantissa holds exactly
            return std::to_string(random() % 100000) + "." + std::to_string(random()) +
                   std::to_string(random() % 1000);
        case 4:
            return std::to_string(random() % 10) + ".5e" + std::to_string(int(random() % 7) - 3);
        case 5:
            return "." + std::to_string(random() % 1000);
        default:
            return std::to_string(random() % 100) + ".";
        }
    };
    std::vector<std::string> lines;
    int vertices = 0, uvs = 0, normals = 0;
    for (int round = 0; round < 3000; ++round)
    {
        const char* blank = random() % 5 == 0 ? "\t" : " ";
        switch (random() % 9)
        {
        case 0:
        case 1:
            lines.push_back("v" + std::string(blank) + number() + " " + number() + "  " + number());
            ++vertices;
            break;
        case 2:
            lines.push_back(random() % 2 ? "vt " + number() + " " + number()
                                         : "vt " + number() + " " + number() + " " + number());
            ++uvs;
            break;
        case 3:
            lines.push_back("vn " + number() + " " + number() + " " + number());
            ++normals;
            break;
        case 4:
            if (random() % 10 == 0)
                lines.push_back("usemtl m" + std::to_string(random() % 3));
            else if (random() % 10 == 0)
                lines.push_back("o part" + std::to_string(random() % 4));
            break;
        default:
        {
            if (vertices < 3)
                break;
            // One form for the whole face, or now and then a mix of forms, or relative indices.
            const int form = int(random() % 4);
            const bool mixed = random() % 8 == 0, relative = random() % 8 == 0;
            std::string face = "f";
            const int corners = 3 + int(random() % 4);
            for (int k = 0; k < corners; ++k)
            {
                const int f = mixed ? int(random() % 4) : form;
                face += blank;
                face += relative ? "-" + std::to_string(random() % vertices + 1)
                                 : std::to_string(random() % vertices + 1);
                if ((f & 1) && uvs)
                    face += "/" + std::to_string(random() % uvs + 1);
                else if (f & 2)
                    face += "/";
                if ((f & 2) && normals)
                    face += "/" + std::to_string(random() % normals + 1);
            }
            lines.push_back(face);
        }
        }
    }
    std::string plain, crlf, commented;
    for (const std::string& line : lines)
    {
        plain += line + "\n";
        crlf += line + " \r\n";
        // (Names run to the line's end: only the other statements get the comment.)
        const bool named = line[0] == 'o' || line[0] == 'u';
        commented += line + (named ? "\n" : " # note\n");
    }
    CReadOutcome a, b, c;
    ReadText(plain, a);
    ReadText(crlf, b);
    ReadText(commented, c);
    ASSERT_NE(a.m_Scene, nullptr) << a.ErrorText();
    ASSERT_NE(b.m_Scene, nullptr) << b.ErrorText();
    ASSERT_NE(c.m_Scene, nullptr) << c.ErrorText();
    const std::vector<CObjectView> view = ViewScene(*a.m_Scene);
    ASSERT_FALSE(view.empty());
    ExpectSameView(view, ViewScene(*b.m_Scene), 0.0f);
    ExpectSameView(view, ViewScene(*c.m_Scene), 0.0f);

    // Faults on a plain line are reported as on any other line.
    for (const std::string& bad : {std::string("f 1 2 0\n"), std::string("v 1 2 1x\n"),
                                   std::string("v 1 2 nan\n"), std::string("f 1 2 9999999999\n"),
                                   std::string("v 1 2\n"), std::string("f 1 2 3/x\n")})
    {
        CReadOutcome plainBad, commentedBad;
        const std::string head = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
        ReadText(head + bad, plainBad);
        ReadText(head + bad.substr(0, bad.size() - 1) + " # note\n", commentedBad);
        EXPECT_EQ(plainBad.m_Scene, nullptr) << bad;
        EXPECT_NE(plainBad.ErrorText().find("line 4"), std::string::npos) << plainBad.ErrorText();
        EXPECT_EQ(plainBad.ErrorText(), commentedBad.ErrorText()) << bad;
    }
}

namespace
{
struct CProgressSeen
{
    int m_Highest = -1;   // highest percentage told
    bool m_Stop = false;  // answer to the questions
    int m_Questions = 0;
};
bool WatchProgress(int event, ProcessProgressInfo* info, void* data)
{
    auto* seen = static_cast<CProgressSeen*>(data);
    if (event & kProgressPosition)
        seen->m_Highest = std::max(seen->m_Highest, info->GetPercent());
    if (event & kProgressAskStopBit)
        ++seen->m_Questions;
    return (event & kProgressAskStopBit) && seen->m_Stop;
}
} // namespace

// A large read tells its task of its progress from both parsing threads up to the whole
// text, and a host that stops it gets no scene and a warning.
TEST(ObjRead, ProgressReachesTheEndAndAStopCancels)
{
    std::string text;
    while (text.size() < (size_t(9) << 20))
        for (int i = 0; i < 1000; ++i)
            text += "v 1.5 2.25 " + std::to_string(i) + "\nf -1 -1 -1\n";
    for (bool stop : {false, true})
    {
        CProgressSeen seen;
        seen.m_Stop = stop;
        void* previousData = nullptr;
        ProgressHandler previous = progressSetCallback(&WatchProgress, &seen, &previousData);
        CReadOutcome outcome;
        {
            CProgressTask task("Reading");
            task.SetRange(0, int64_t(text.size()));
            CObjReadSettings settings;
            settings.m_ThreadCount = 2;
            settings.m_Progress = &task;
            outcome.m_Scene =
                ReadObjText(text.data(), text.size(), settings, &outcome.m_Log, outcome.m_Result);
        }
        progressSetCallback(previous, previousData);
        EXPECT_GT(seen.m_Questions, 0);
        if (!stop)
        {
            ASSERT_NE(outcome.m_Scene, nullptr) << outcome.ErrorText();
            EXPECT_EQ(seen.m_Highest, 100);
        }
        else
        {
            EXPECT_EQ(outcome.m_Scene, nullptr);
            EXPECT_EQ(outcome.m_Result, _IoResultCancelled);
            EXPECT_NE(outcome.WarningText().find("stopped"), std::string::npos);
            EXPECT_LT(seen.m_Highest, 100);
        }
    }
}
