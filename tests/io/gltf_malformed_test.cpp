// Malformed glTF input: every case gives no scene, a result that is a failure and one line
// that says what is wrong; nothing crashes, hangs or allocates what a count claims.
#include "gltf_test_helpers.h"

#include <3dzan/foundation/services.h>
#include <3dzan/io/io3d.h>

#include <random>

using namespace gltftest;

namespace
{
// Reads \p doc and expects a refusal whose message contains \p words.
void ExpectRefused(const std::string& doc, const std::string& words, const char* what)
{
    zangltf::CGltfError error;
    ScenePtr scene = ReadText(doc, error);
    EXPECT_FALSE(scene) << what;
    EXPECT_LE(error.m_Result, 0) << what;
    EXPECT_NE(error.m_Message.find(words), std::string::npos)
        << what << ": \"" << error.m_Message << "\" lacks \"" << words << "\"";
}
} // namespace

TEST(GltfMalformed, BadJsonNamesTheByte)
{
    const std::string doc = TriangleDocument();
    ExpectRefused(doc.substr(0, 40), "byte 40", "cut in the middle");
    ExpectRefused(Replace(doc, R"("nodes":)", R"("nodes" )"), "':' expected", "missing colon");
    ExpectRefused(Replace(doc, "2.0", "2.0\x01"), "control character", "raw control byte");
    ExpectRefused(Replace(doc, R"("T")", R"("\ud800x")"), "surrogate", "lone surrogate");
    ExpectRefused(Replace(doc, "5126", "05126"), "expected in an object", "leading zero");
    ExpectRefused(Replace(doc, "5126", "1e999"), "out of range", "huge number");
    ExpectRefused(doc + "x", "after the end", "trailing text");
    ExpectRefused(std::string(5000, '[') + std::string(5000, ']'), "nested too deeply", "depth");
    ExpectRefused("", "end of the text", "empty");
}

TEST(GltfMalformed, DocumentLevelRefusals)
{
    const std::string doc = TriangleDocument();
    ExpectRefused(Replace(doc, R"("version":"2.0")", R"("version":"1.0")"), "not 2.x", "v1");
    ExpectRefused(Replace(doc, R"({"asset":{"version":"2.0"},)", "{"), "asset.version",
                  "no asset");
    ExpectRefused(Replace(doc, R"("nodes":)", R"("extensionsRequired":["KHR_draco_mesh_compression"],"nodes":)"),
                  "KHR_draco_mesh_compression", "required extension");
    ExpectRefused("[1,2,3]", "not a JSON object", "array document");
}

TEST(GltfMalformed, BuffersViewsAndAccessorsAreCheckedAgainstTheBytes)
{
    const std::string doc = TriangleDocument();
    ExpectRefused(Replace(doc, R"("count":3,"type":"VEC3")", R"("count":4,"type":"VEC3")"),
                  "accessor 0", "accessor past its view");
    ExpectRefused(Replace(doc, R"("byteLength":36})", R"("byteLength":43})"), "buffer view 0",
                  "view past its buffer");
    ExpectRefused(Replace(doc, R"("byteLength":42,)", R"("byteLength":43,)"),
                  "declares 43 bytes", "buffer longer than its data");
    ExpectRefused(Replace(doc, R"("count":3,"type":"VEC3")",
                          R"("count":1000000000000,"type":"VEC3")"),
                  "accessor 0", "huge count");
    ExpectRefused(Replace(doc, R"("byteLength":42,)", R"("byteLength":1e15,)"),
                  "buffer 0", "huge buffer");
    ExpectRefused(Replace(doc, "base64,", "base64,*"), "bad base64", "base64 garbage");
    ExpectRefused(Replace(doc, R"("componentType":5123)", R"("componentType":5124)"),
                  "componentType", "unknown component type");
    ExpectRefused(Replace(doc, R"("indices":1)", R"("indices":7)"), "outside the 2 accessors",
                  "accessor index");
    ExpectRefused(Replace(doc, R"("bufferView":0,)", ""), "no buffer view", "sparse only");
    // Elements that do not fit their stride.
    ExpectRefused(Replace(doc, R"({"buffer":0,"byteLength":36})",
                          R"({"buffer":0,"byteLength":36,"byteStride":8})"),
                  "stride", "stride too small");
}

TEST(GltfMalformed, GeometryAndNodeGraphErrors)
{
    const std::string doc = TriangleDocument();
    // Index 7 through the 16-bit indices: rewrite the buffer with a bad third index.
    const float points[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const uint16_t bad[3] = {0, 1, 7};
    std::string bytes(reinterpret_cast<const char*>(points), sizeof points);
    bytes.append(reinterpret_cast<const char*>(bad), sizeof bad);
    const size_t start = doc.find("base64,") + 7;
    std::string badIndex = doc;
    badIndex.replace(start, doc.find('"', start) - start, Base64(bytes));
    ExpectRefused(badIndex, "index 7 is outside the 3 vertices", "index out of range");

    const float nan = std::nanf("");
    std::memcpy(bytes.data() + 4, &nan, 4);
    std::string badPoint = doc;
    badPoint.replace(start, doc.find('"', start) - start, Base64(bytes));
    ExpectRefused(badPoint, "not a finite number", "NaN position");

    const std::string tree = R"("nodes":[{"name":"T","mesh":0}],)";
    ExpectRefused(Replace(doc, tree, R"("nodes":[{"children":[1]},{"children":[0]}],)"),
                  "cycle", "two-node cycle");
    ExpectRefused(Replace(doc, tree, R"("nodes":[{"children":[1]},{"children":[2]},{"children":[1]}],)"),
                  "two parents", "shared child");
    ExpectRefused(Replace(doc, tree, R"("nodes":[{"children":[0]}],)"), "own child", "self");
    ExpectRefused(Replace(doc, tree, R"("nodes":[{"children":[5]}],)"), "not one of the 1 nodes",
                  "child index");
    ExpectRefused(Replace(doc, tree, R"("nodes":[{"mesh":3}],)"), "outside the 1 meshes",
                  "mesh index");
    ExpectRefused(Replace(doc, tree, R"("nodes":[{"mesh":0,"rotation":[0,0,0,0]}],)"),
                  "quaternion", "zero rotation");
    ExpectRefused(Replace(doc, tree, R"("scene":2,"scenes":[{"nodes":[0]}],)" + tree),
                  "outside the 1 scenes", "scene index");
}

TEST(GltfMalformed, TruncatedGlbAtEveryLength)
{
    const std::string glb = LoadBytes(DataPath("strip_fan.glb"));
    ASSERT_GT(glb.size(), 100u);
    for (size_t length = 0; length < glb.size(); ++length)
    {
        zangltf::CGltfError error;
        ScenePtr scene = ReadText(glb.substr(0, length), error);
        EXPECT_FALSE(scene) << length;
        EXPECT_FALSE(error.m_Message.empty()) << length;
    }
    // A chunk longer than the file says it is.
    std::string longChunk = glb;
    longChunk[12] = char(0xFF);
    longChunk[13] = char(0xFF);
    ExpectRefused(longChunk, "declares", "chunk length");
}

TEST(GltfMalformed, RandomDamageNeverCrashes)
{
    // Flipped bytes in a valid text and a valid binary file: each read either succeeds or
    // reports an error, and a success still has a sane scene.
    std::mt19937 random(12345);
    for (const std::string& original : {TriangleDocument(), LoadBytes(DataPath("strip_fan.glb"))})
        for (int round = 0; round < 400; ++round)
        {
            std::string bytes = original;
            for (int k = 0; k < 3; ++k)
                bytes[random() % bytes.size()] = char(random());
            zangltf::CGltfError error;
            ScenePtr scene = ReadText(bytes, error);
            if (scene)
                EXPECT_GE(scene->GetFaceNbr(), 0);
            else
                EXPECT_FALSE(error.m_Message.empty());
        }
}

TEST(GltfMalformed, MissingBufferFileThroughTheParser)
{
    C3DIo io(CFileNameSpec(DataPath("missing_buffer.gltf").c_str(), zangltf::kClassGLTF),
             _FileParserSilent);
    zangltf::CGltfParser parser(&io);
    CSceneImportOptions options;
    C3DScene* scene = parser.Read(DataPath("missing_buffer.gltf").c_str(), &options);
    EXPECT_EQ(scene, nullptr);
    EXPECT_EQ(io.GetIoError(), _IoResultFileNotFound);
    ASSERT_EQ(options.GetLogCount(), 1);
    unsigned level = 0;
    const std::string line = options.GetLogLine(0, level).c_str();
    EXPECT_EQ(level, unsigned(_IoLevelError));
    EXPECT_NE(line.find("not_here.bin"), std::string::npos) << line;
}

namespace
{
bool StopAtOnce(int event, ProcessProgressInfo*, void*)
{
    return event == kProgressCheckStop;
}
} // namespace

TEST(GltfMalformed, AHostThatStopsTheReadGetsNoScene)
{
    void* previousData = nullptr;
    ProgressHandler previous = progressSetCallback(&StopAtOnce, nullptr, &previousData);
    C3DIo io(CFileNameSpec(DataPath("instanced_box.gltf").c_str(), zangltf::kClassGLTF),
             _FileParserSilent);
    zangltf::CGltfParser parser(&io);
    CSceneImportOptions options;
    C3DScene* scene = parser.Read(DataPath("instanced_box.gltf").c_str(), &options);
    progressSetCallback(previous, previousData);
    EXPECT_EQ(scene, nullptr);
    EXPECT_EQ(io.GetIoError(), _IoResultCancelled);
}
