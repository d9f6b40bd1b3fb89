// Reads the real-world models of the Debian package assimp-testmodels through the scene front
// end, with the format modules loaded as plug-ins, and checks the point, face and material
// counts of every scene against tests/data/io/testmodels.tsv. Those values were recorded by
// scripts/record_testmodels.py, a second reader written apart from ours: a file where the two
// disagree is reported by name. The files of the package's invalid/ folder, of every format,
// are read too: nothing may crash, and a refused file must say why.
#include <3dzan/foundation/fileio.h>
#include <3dzan/io/io3d.h>
#include <3dzan/materials/materials.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/light.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{
namespace fs = std::filesystem;

// The folder the package installs its models in; ZAN3D_TESTMODELS_DIR points elsewhere.
fs::path ModelsFolder()
{
    const char* folder = std::getenv("ZAN3D_TESTMODELS_DIR");
    return folder && *folder ? fs::path(folder) : fs::path("/usr/share/assimp/models");
}

// One row of the recorded table.
struct CModelRow
{
    std::string m_Path;
    std::string m_Format;
    bool m_Refused = false;
    long m_Points = 0;
    long m_Faces = 0;
    long m_Materials = 0;
    std::string m_Note;

    // A reader may refuse the file, or read it and then find the recorded counts.
    bool MayRefuse() const { return m_Note.rfind("may-refuse:", 0) == 0; }
};

std::vector<CModelRow> LoadRows(const fs::path& table, std::string& problem)
{
    std::vector<CModelRow> rows;
    std::ifstream in(table);
    if (!in)
    {
        problem = "cannot open " + table.string();
        return rows;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number)
    {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::stringstream stream(line);
        for (std::string field; std::getline(stream, field, '\t');)
            fields.push_back(field);
        if (fields.size() < 5)
        {
            problem = table.string() + " line " + std::to_string(number) + ": too few fields";
            return {};
        }
        CModelRow row;
        row.m_Path = fields[0];
        row.m_Format = fields[1];
        row.m_Refused = fields[2] == "error";
        if (!row.m_Refused)
        {
            row.m_Points = std::stol(fields[2]);
            row.m_Faces = std::stol(fields[3]);
            row.m_Materials = std::stol(fields[4]);
        }
        if (fields.size() > 5)
            row.m_Note = fields[5];
        rows.push_back(row);
    }
    return rows;
}

// What one read gave.
struct CReadOutcome
{
    bool m_Read = false;
    int m_Result = _IoResultOk;
    long m_Points = 0;
    long m_Faces = 0;
    long m_Materials = 0;
    std::string m_FirstErrorLine; ///< the first line the parser logged at the error level
    std::string m_Exception;      ///< what escaped the front end, if anything did
};

CReadOutcome ReadModel(const fs::path& path)
{
    CReadOutcome outcome;
    C3DIo io(CFileNameSpec(path.string().c_str()), _FileParserRead | _FileParserSilent);
    // The counts describe what the reader builds, before any conversion of the checkout.
    CSceneImportOptions options(_ImportNoCheckout);
    C3DScene* scene = nullptr;
    try
    {
        scene = io.Read(false, &options);
    }
    catch (const std::exception& e)
    {
        outcome.m_Exception = e.what();
    }
    catch (...)
    {
        outcome.m_Exception = "an exception that is not a std::exception";
    }
    outcome.m_Result = io.GetIoError();
    for (int i = 0; i < options.GetLogCount(); ++i)
    {
        unsigned level = 0;
        const CXTString& text = options.GetLogLine(i, level);
        if ((level & _IoLevelError) && !text.IsEmpty())
        {
            outcome.m_FirstErrorLine = text.str();
            break;
        }
    }
    if (scene)
    {
        outcome.m_Read = true;
        // The model's own geometry: cameras and lights have display meshes, which the
        // scene's totals count and the second reader does not.
        for (C3DNodePos pos = scene->GetFirstNode(0xFFFFFFFF); pos;)
        {
            const C3DSceneNode* node = scene->GetNextNode(pos);
            const C3DBaseObject* base = node->GetBaseObject();
            C3DBaseObject* final = node->GetFinalObject();
            if (!final || !final->IsGeomObject() || dynamic_cast<const C3DCamera*>(base) ||
                dynamic_cast<const C3DLight*>(base))
                continue;
            outcome.m_Points += final->GetObjectPointNbr();
            outcome.m_Faces += final->GetObjectFaceNbr();
        }
        CMaterialHashMap used;
        outcome.m_Materials = scene->GetMaterials(nullptr, used);
        scene->Delete();
    }
    return outcome;
}

// Whether a registered reader serves the file's format.
bool HasReader(const fs::path& path)
{
    CFileInfo info{CFileNameSpec(path.string().c_str())};
    return info.GetClass() != 0 && info.GetParserNbr() > 0;
}

// A refusal that explains itself: the parser logged why, or the front end's own result says
// it all (no reader for the format, nothing usable in the file).
bool IsExplainedRefusal(const CReadOutcome& outcome)
{
    if (outcome.m_Read || outcome.m_Result == _IoResultOk)
        return false;
    return !outcome.m_FirstErrorLine.empty() || outcome.m_Result == _IoResultNotSupported ||
           outcome.m_Result == _IoResultUnknownFormat || outcome.m_Result == _IoResultEmptyResult;
}

std::string Describe(const CReadOutcome& outcome)
{
    if (!outcome.m_Exception.empty())
        return "raised " + outcome.m_Exception;
    if (outcome.m_Read)
        return std::to_string(outcome.m_Points) + " points, " + std::to_string(outcome.m_Faces) +
               " faces, " + std::to_string(outcome.m_Materials) + " materials";
    return std::string("refused (") + CFileIo::GetIoResultText(outcome.m_Result) +
           (outcome.m_FirstErrorLine.empty() ? ", nothing logged"
                                             : ": " + outcome.m_FirstErrorLine) +
           ")";
}

class TestModels : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { RegisterIOPlugins(_FileKind3D, ZAN3D_PLUGIN_BUILD_DIR); }
    static void TearDownTestSuite() { FreeIOPlugins(_FileKind3D); }

    void SetUp() override
    {
        if (!fs::is_directory(ModelsFolder()))
            GTEST_SKIP() << "the package assimp-testmodels is not installed ("
                         << ModelsFolder().string() << ")";
    }
};

TEST_F(TestModels, CountsMatchTheSecondReader)
{
    std::string problem;
    const std::vector<CModelRow> rows =
        LoadRows(fs::path(ZAN3D_TEST_DATA_DIR) / "io" / "testmodels.tsv", problem);
    ASSERT_TRUE(problem.empty()) << problem;
    ASSERT_FALSE(rows.empty());

    int checked = 0;
    std::vector<std::string> withoutReader;
    for (const CModelRow& row : rows)
    {
        const fs::path path = ModelsFolder() / row.m_Path;
        if (!fs::is_regular_file(path))
        {
            ADD_FAILURE() << row.m_Path << ": listed but not in the package; run "
                          << "scripts/record_testmodels.py again";
            continue;
        }
        if (!HasReader(path))
        {
            withoutReader.push_back(row.m_Path);
            continue;
        }
        ++checked;
        const CReadOutcome outcome = ReadModel(path);
        if (!outcome.m_Exception.empty())
        {
            ADD_FAILURE() << row.m_Path << ": " << Describe(outcome);
            continue;
        }
        if (row.m_Refused)
        {
            if (outcome.m_Read)
                ADD_FAILURE() << row.m_Path << ": must be refused (" << row.m_Note
                              << ") but was read: " << Describe(outcome);
            else if (outcome.m_FirstErrorLine.empty())
                ADD_FAILURE() << row.m_Path << ": refused without a log line saying why ("
                              << Describe(outcome) << ")";
            continue;
        }
        if (!outcome.m_Read)
        {
            if (!row.MayRefuse())
                ADD_FAILURE() << row.m_Path << ": expected " << row.m_Points << " points, "
                              << row.m_Faces << " faces, " << row.m_Materials << " materials; "
                              << Describe(outcome);
            else if (!IsExplainedRefusal(outcome))
                ADD_FAILURE() << row.m_Path << ": refused without saying why (" << Describe(outcome)
                              << ")";
            continue;
        }
        if (outcome.m_Points != row.m_Points || outcome.m_Faces != row.m_Faces ||
            outcome.m_Materials != row.m_Materials)
            ADD_FAILURE() << row.m_Path << ": expected " << row.m_Points << " points, "
                          << row.m_Faces << " faces, " << row.m_Materials << " materials; read "
                          << Describe(outcome);
    }
    if (checked == 0)
        GTEST_SKIP() << "no reader module is built for the formats of the table";
    if (!withoutReader.empty())
        std::printf("[ note     ] %zu files have no reader module yet (first: %s)\n",
                    withoutReader.size(), withoutReader.front().c_str());
}

// Files that are broken on purpose (empty, out-of-range indices, absurd counts), of every
// format: a reader either refuses them and says why, or reads what it can.
TEST_F(TestModels, InvalidFilesNeverCrashAndRefusalsSayWhy)
{
    const fs::path folder = ModelsFolder() / "invalid";
    if (!fs::is_directory(folder))
        GTEST_SKIP() << folder.string() << " is missing";
    int files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    {
        if (!entry.is_regular_file() || entry.path().extension() == ".txt")
            continue;
        ++files;
        const CReadOutcome outcome = ReadModel(entry.path());
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(outcome.m_Exception.empty()) << name << ": " << Describe(outcome);
        if (!outcome.m_Read)
        {
            EXPECT_TRUE(IsExplainedRefusal(outcome)) << name << ": " << Describe(outcome);
        }
    }
    EXPECT_GT(files, 0);
}
} // namespace
