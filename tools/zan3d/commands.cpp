// The commands of zan3d: info, convert, compare and demo, with their option parsing.
//
// Every file goes through the library's scene front end (C3DIo), silently: the command never
// shows a dialog nor touches the stored format parameters. A failed read or write is told in
// one line: the front end's result text, then the first line the parser logged.
#include "zan3dcli.h"

#include <3dzan/animation/math.h>
#include <3dzan/io/io3d.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/materials/materials.h>
#include <3dzan/processing/compare.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

namespace
{
constexpr const char* kVersion = "0.1.0";

// ------------------------------------------------------------------------------ usage

struct CFlagOption
{
    const char* m_Name;
    bool m_Import; ///< an import flag (else an export flag)
    unsigned m_Bit;
    const char* m_Help;
};

// The option bits convert offers; each adds to the defaults of the formats involved.
const CFlagOption kFlagOptions[] = {
    {"--weld", true, _ImportWeld, "weld coincident points of each object on reading"},
    {"--merge-coplanar", true, _ImportMergeCoplanar, "merge adjacent coplanar faces on reading"},
    {"--unify-normals", true, _ImportUnifyNormals, "orient the faces of each part alike"},
    {"--generate-uv", true, _ImportGenerateUVW,
     "make texture coordinates from the material projections"},
    {"--clean-groups", true, _ImportCleanGroups, "remove empty groups on reading"},
    {"--triangulate", false, _ExportTriangulate, "write triangles only"},
    {"--quadrangulate", false, _ExportQuadrangulate,
     "split faces of more than four corners into triangles"},
    {"--global", false, _ExportGlobalCoordinates, "bake the node transformations into the objects"},
    {"--concatenate", false, _ExportConcatenate, "write one object for the whole scene"},
    {"--no-uv", false, _ExportNoUVW, "drop texture coordinates"},
    {"--no-normals", false, _ExportNoSpecNormals, "drop the normals the file specified"},
    {"--no-colors", false, _ExportNoVC, "drop vertex colours"},
    {"--hidden", false, _ExportHidden, "keep hidden nodes"},
};

void PrintUsage(std::FILE* out)
{
    std::fprintf(out,
                 "usage: zan3d COMMAND [options] [arguments]\n"
                 "\n"
                 "commands:\n"
                 "  info FILE               the node tree, objects, materials, box and unit\n"
                 "  convert IN OUT [opts]   read IN and write OUT (formats from the extensions)\n"
                 "  compare A B             geometric distance between two scenes\n"
                 "  demo [FILE]             build, archive, read back and summarise a scene\n"
                 "\n"
                 "  zan3d COMMAND --help    the options of a command\n"
                 "  zan3d --version         the version\n");
}

void PrintCommandUsage(const std::string& command, std::FILE* out)
{
    if (command == "info")
        std::fprintf(out, "usage: zan3d info FILE\n"
                          "Reads FILE and prints its node tree (instances marked), the point and\n"
                          "face counts of each object, the materials (name, colour, diffuse map),\n"
                          "the totals, the bounding box and the unit.\n");
    else if (command == "convert")
    {
        std::fprintf(out, "usage: zan3d convert IN OUT [options]\n"
                          "Reads IN and writes OUT; the formats come from the extensions. Options\n"
                          "add to the default options of the two formats.\n\n");
        for (const CFlagOption& option : kFlagOptions)
            std::fprintf(out, "  %-18s %s\n", option.m_Name, option.m_Help);
        std::fprintf(out,
                     "  %-18s the up axis of IN (y, z or x): the scene is turned Y up\n"
                     "  %-18s the up axis OUT is written with (y, z or x)\n"
                     "  %-18s swap the axes of IN: CODE is one exchange (0x1 XY, 0x2 XZ,\n"
                     "  %-18s 0x4 YZ) plus at most one mirror (0x10 X, 0x20 Y, 0x40 Z)\n"
                     "  %-18s swap the axes of OUT (same codes)\n",
                     "--up AXIS", "--out-up AXIS", "--swap CODE", "", "--out-swap CODE");
    }
    else if (command == "compare")
        std::fprintf(out, "usage: zan3d compare A B\n"
                          "Reads both scenes, joins each into one triangle mesh in world\n"
                          "coordinates and prints the symmetric Hausdorff distance between them,\n"
                          "as a fraction of the diagonal of the box enclosing both and in scene\n"
                          "units.\n");
    else if (command == "demo")
        std::fprintf(out, "usage: zan3d demo [FILE]\n"
                          "Builds a small scene, archives it to FILE (a temporary file that is\n"
                          "removed afterwards when FILE is not given), reads it back and\n"
                          "summarises it.\n");
}

int UsageError(std::FILE* err, const std::string& command, const std::string& message)
{
    std::fprintf(err, "zan3d: %s\n", message.c_str());
    if (command.empty())
        std::fprintf(err, "Try 'zan3d --help'.\n");
    else
        std::fprintf(err, "Try 'zan3d %s --help'.\n", command.c_str());
    return kExitUsage;
}

// ------------------------------------------------------------------------------ files

// The one line that says why an operation failed: the result text, then the first line the
// parser logged (its own words, with the line or byte where it stopped).
std::string FailureText(const C3DIo& io, const CIoOptions& options)
{
    // A front end that stopped before any parser ran may leave the initial success result.
    std::string text = io.IsIoOk() ? std::string("the operation failed")
                                   : std::string(CFileIo::GetIoResultText(io.GetIoError()));
    if (options.GetLogCount() > 0)
    {
        unsigned level = 0;
        std::string first = options.GetLogLine(0, level).str();
        while (!first.empty() && (first.back() == '\n' || first.back() == '\r'))
            first.pop_back();
        if (!first.empty())
            text += ": " + first;
    }
    return text;
}

struct CSceneDeleter
{
    void operator()(C3DScene* scene) const
    {
        if (scene)
            scene->Delete();
    }
};
using CSceneHolder = std::unique_ptr<C3DScene, CSceneDeleter>;

// Reads \p path with the format's default flags plus \p extraFlags. Null after telling why.
CSceneHolder ReadScene(const std::string& path, unsigned extraFlags, unsigned swapMode,
                       unsigned upAxis, std::FILE* err)
{
    C3DIo io(CFileNameSpec(path.c_str()), _FileParserRead | _FileParserSilent);
    CSceneImportOptions options;
    options.m_SwapMode = swapMode;
    options.m_OrientationMode = upAxis;
    if (io.PrepareReading())
    {
        // The front end replaces the format's defaults by any flag given; ask the format
        // for them first so that the command's options add to them.
        if (C3DParser* parser = io.GetParser())
        {
            CSceneImportOptions defaults;
            parser->LoadDefaultOptions(&defaults);
            options.m_Flags = defaults.m_DefaultFlags | extraFlags;
        }
    }
    C3DScene* scene = nullptr;
    try
    {
        scene = io.Read(false, &options);
    }
    catch (const std::exception& e)
    {
        std::fprintf(err, "zan3d: cannot read %s: %s (%s)\n", path.c_str(),
                     CFileIo::GetIoResultText(io.GetIoError()), e.what());
        return nullptr;
    }
    if (!scene)
    {
        std::fprintf(err, "zan3d: cannot read %s: %s\n", path.c_str(),
                     FailureText(io, options).c_str());
        return nullptr;
    }
    return CSceneHolder(scene);
}

bool SaveScene(C3DScene& scene, const std::string& path, unsigned extraFlags, unsigned swapMode,
               unsigned upAxis, std::FILE* err)
{
    C3DIo io(CFileNameSpec(path.c_str()), _FileParserSilent);
    CSceneExportOptions options(0);
    options.m_SwapMode = swapMode;
    options.m_OrientationMode = upAxis;
    if (io.PrepareSaving())
    {
        if (C3DParser* parser = io.GetParser())
        {
            CSceneExportOptions defaults(0);
            parser->SaveDefaultOptions(&defaults);
            options.m_Flags = defaults.m_DefaultFlags | extraFlags;
        }
    }
    bool saved = false;
    try
    {
        saved = io.Save(false, &scene, &options);
    }
    catch (const std::exception& e)
    {
        std::fprintf(err, "zan3d: cannot write %s: %s (%s)\n", path.c_str(),
                     CFileIo::GetIoResultText(io.GetIoError()), e.what());
        return false;
    }
    if (!saved)
        std::fprintf(err, "zan3d: cannot write %s: %s\n", path.c_str(),
                     FailureText(io, options).c_str());
    return saved;
}

// Splits arguments into options (with their values) and positional arguments.
struct CParsedArgs
{
    std::vector<std::string> m_Positional;
    std::vector<std::pair<std::string, std::string>> m_Options;
    bool m_Help = false;
};

// Options that take a value; the others are switches.
bool TakesValue(const std::string& name)
{
    return name == "--up" || name == "--out-up" || name == "--swap" || name == "--out-swap";
}

std::optional<std::string> SplitArgs(const std::vector<std::string>& args, size_t first,
                                     CParsedArgs& parsed)
{
    bool optionsEnded = false;
    for (size_t i = first; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-')
        {
            parsed.m_Positional.push_back(arg);
            continue;
        }
        if (arg == "--")
        {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h")
        {
            parsed.m_Help = true;
            continue;
        }
        std::string name = arg, value;
        if (size_t equal = arg.find('='); equal != std::string::npos)
        {
            name = arg.substr(0, equal);
            value = arg.substr(equal + 1);
        }
        else if (TakesValue(name))
        {
            if (i + 1 >= args.size())
                return "option " + name + " needs a value";
            value = args[++i];
        }
        parsed.m_Options.emplace_back(name, value);
    }
    return std::nullopt;
}

std::optional<unsigned> ParseUpAxis(const std::string& text)
{
    if (text == "y" || text == "Y")
        return unsigned(_UpAxisKeep);
    if (text == "z" || text == "Z")
        return unsigned(_UpAxisZ);
    if (text == "x" || text == "X")
        return unsigned(_UpAxisX);
    return std::nullopt;
}

std::optional<unsigned> ParseSwapCode(const std::string& text)
{
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long code = std::strtoul(text.c_str(), &end, 0);
    if (errno || !end || *end || code == 0)
        return std::nullopt;
    int axisA = 0, axisB = 0, mirror = 0;
    if (!GetXYZSwap(unsigned(code), axisA, axisB, mirror))
        return std::nullopt;
    return unsigned(code);
}

// ------------------------------------------------------------------------------ info

std::string ColorText(const CRGBColor& color)
{
    char text[16];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", unsigned(color[0]), unsigned(color[1]),
                  unsigned(color[2]));
    return text;
}

// Sums over the geometric nodes (a shared object counts once per node that shows it).
struct CGeometryTotals
{
    long m_Nodes = 0;
    long m_Points = 0;
    long m_Faces = 0;
};

CGeometryTotals PrintTree(C3DScene& scene, std::FILE* out)
{
    CGeometryTotals totals;
    std::fprintf(out, "Nodes:\n");
    C3DBaseObject* object = nullptr;
    for (C3DNodePos pos = scene.GetFirstNode(0xFFFFFFFF, _IterNoObject); pos;)
    {
        C3DSceneNode* node = scene.GetNextNode(object, pos);
        if (!node)
            break;
        std::string line = std::string(2 * std::max<size_t>(node->GetDepth(), 1), ' ') +
                           (node->GetName().IsEmpty() ? "(unnamed)" : node->GetName().str()) +
                           " [" + ObjectKindName(node->GetObjectKindOf()) + "]";
        if (C3DGeomObject* geom = node->GetGeomObject())
        {
            ++totals.m_Nodes;
            totals.m_Points += geom->GetPointNbr();
            totals.m_Faces += geom->GetFaceNbr();
            line += " " + std::to_string(geom->GetPointNbr()) + " points, " +
                    std::to_string(geom->GetFaceNbr()) + " faces";
            line += UsedMaterialsText(scene, *geom, false);
        }
        if (object && object->IsInstanciated())
            line += " (instance: object " + std::to_string(object->GetObjectID()) + " shared by " +
                    std::to_string(object->GetInstanceNbr()) + " nodes)";
        std::fprintf(out, "%s\n", line.c_str());
    }
    return totals;
}

void PrintMaterials(C3DScene& scene, std::FILE* out)
{
    std::fprintf(out, "Materials (%u):\n", scene.GetMaterialNumber());
    for (unsigned pos = scene.GetFirstMaterial(); pos != kZanNone;)
    {
        C3DMaterial* material = scene.GetNextMaterial(pos);
        if (!material)
            break;
        std::string line = "  \"" + material->GetName().str() + "\" colour " +
                           ColorText(material->GetDiffuseColor(0));
        if (CMaterialMap* map = material->GetMaterialMap(_MapDiffuse);
            map && !map->GetFileName().IsEmpty())
            line += ", diffuse map " + map->GetFileName().str();
        std::fprintf(out, "%s\n", line.c_str());
    }
}

void PrintTotals(C3DScene& scene, const CGeometryTotals& totals, std::FILE* out)
{
    CMaterialHashMap used;
    const int materials = scene.GetMaterials(nullptr, used);
    std::fprintf(out, "Geometry: %ld points, %ld faces in %ld objects, %d materials used\n",
                 totals.m_Points, totals.m_Faces, totals.m_Nodes, materials);
    // The box of the geometry only: cameras and lights have display meshes of their own.
    C3DTPoint<float> min, max;
    if (scene.GetRoot()->GetBoundingBox(0, min, max, _BoxFaces | _BoxKindIn, 0,
                                        _ObjectKindGeometric))
        std::fprintf(out, "Bounding box: (%.6g, %.6g, %.6g) - (%.6g, %.6g, %.6g)\n", min.m_X,
                     min.m_Y, min.m_Z, max.m_X, max.m_Y, max.m_Z);
    else
        std::fprintf(out, "Bounding box: none\n");
    const std::string unit = scene.GetUnitText(true).str();
    std::fprintf(out, "Unit: %s\n", unit.empty() ? "undefined" : unit.c_str());
}

int RunInfo(const CParsedArgs& args, std::FILE* out, std::FILE* err)
{
    if (!args.m_Options.empty())
        return UsageError(err, "info", "unknown option " + args.m_Options.front().first);
    if (args.m_Positional.size() != 1)
        return UsageError(err, "info", "info needs one file");
    const std::string& path = args.m_Positional[0];
    CSceneHolder scene = ReadScene(path, 0, 0, 0, err);
    if (!scene)
        return kExitFailed;
    std::fprintf(out, "File: %s\n", path.c_str());
    const CGeometryTotals totals = PrintTree(*scene, out);
    PrintMaterials(*scene, out);
    PrintTotals(*scene, totals, out);
    return kExitOk;
}

// ------------------------------------------------------------------------------ convert

int RunConvert(const CParsedArgs& args, std::FILE* out, std::FILE* err)
{
    unsigned importFlags = 0, exportFlags = 0;
    unsigned inSwap = 0, outSwap = 0, inUp = 0, outUp = 0;
    for (const auto& [name, value] : args.m_Options)
    {
        bool known = false;
        for (const CFlagOption& option : kFlagOptions)
            if (name == option.m_Name)
            {
                if (!value.empty())
                    return UsageError(err, "convert", "option " + name + " takes no value");
                (option.m_Import ? importFlags : exportFlags) |= option.m_Bit;
                known = true;
            }
        if (known)
            continue;
        if (name == "--up" || name == "--out-up")
        {
            std::optional<unsigned> axis = ParseUpAxis(value);
            if (!axis)
                return UsageError(err, "convert",
                                  "option " + name + ": '" + value + "' is not y, z or x");
            (name == "--up" ? inUp : outUp) = *axis;
        }
        else if (name == "--swap" || name == "--out-swap")
        {
            std::optional<unsigned> code = ParseSwapCode(value);
            if (!code)
                return UsageError(err, "convert",
                                  "option " + name + ": '" + value + "' is not a swap code");
            (name == "--swap" ? inSwap : outSwap) = *code;
        }
        else
            return UsageError(err, "convert", "unknown option " + name);
    }
    if (args.m_Positional.size() != 2)
        return UsageError(err, "convert", "convert needs an input and an output file");
    const std::string& input = args.m_Positional[0];
    const std::string& output = args.m_Positional[1];
    CSceneHolder scene = ReadScene(input, importFlags, inSwap, inUp, err);
    if (!scene)
        return kExitFailed;
    if (!SaveScene(*scene, output, exportFlags, outSwap, outUp, err))
        return kExitFailed;
    std::fprintf(out, "Read %s (%d points, %d faces) and wrote %s.\n", input.c_str(),
                 scene->GetPointNbr(), scene->GetFaceNbr(), output.c_str());
    return kExitOk;
}

// ------------------------------------------------------------------------------ compare

struct CNodeDeleter
{
    void operator()(C3DSceneNode* node) const
    {
        if (node)
            node->Delete();
    }
};
using CNodeHolder = std::unique_ptr<C3DSceneNode, CNodeDeleter>;

// The whole geometry of \p scene as one triangle mesh in world coordinates, on a detached
// node; null when the scene has no face.
CNodeHolder JoinGeometry(C3DScene& scene, const char* name)
{
    CNodeHolder node(scene.Concatenate(nullptr, name, 0, nullptr, nullptr));
    if (!node)
        return nullptr;
    C3DGeomObject* geom = node->GetGeomObject();
    if (!geom)
        return nullptr;
    geom->Triangulate();
    return node;
}

int RunCompare(const CParsedArgs& args, std::FILE* out, std::FILE* err)
{
    if (!args.m_Options.empty())
        return UsageError(err, "compare", "unknown option " + args.m_Options.front().first);
    if (args.m_Positional.size() != 2)
        return UsageError(err, "compare", "compare needs two files");
    CSceneHolder a = ReadScene(args.m_Positional[0], 0, 0, 0, err);
    if (!a)
        return kExitFailed;
    CSceneHolder b = ReadScene(args.m_Positional[1], 0, 0, 0, err);
    if (!b)
        return kExitFailed;
    CNodeHolder meshA = JoinGeometry(*a, "A");
    CNodeHolder meshB = JoinGeometry(*b, "B");
    for (const auto& [mesh, path] : {std::pair{meshA.get(), args.m_Positional[0]},
                                     std::pair{meshB.get(), args.m_Positional[1]}})
        if (!mesh)
        {
            std::fprintf(err, "zan3d: %s has no face to compare\n", path.c_str());
            return kExitFailed;
        }
    CMeshCompareSide sides[2];
    const double distance =
        GeomCompare(meshA->GetGeomObject(), meshB->GetGeomObject(), _MeshCompareHausdorff,
                    std::numeric_limits<double>::infinity(),
                    _CompareSamplePoints | _CompareSampleEdges | _CompareSampleFaces, sides);
    if (!std::isfinite(distance))
    {
        std::fprintf(err, "zan3d: the two meshes cannot be compared\n");
        return kExitFailed;
    }
    const double size = sides[0].m_SizeReference;
    std::fprintf(out, "Distance: %.6g of the diagonal (%.6g in scene units, diagonal %.6g)\n",
                 distance, distance * size, size);
    for (int i = 0; i < 2; ++i)
        std::fprintf(out, "  %s to %s: max %.6g, mean %.6g, rms %.6g over %u samples\n",
                     i ? "B" : "A", i ? "A" : "B", sides[i].m_Max, sides[i].m_Mean, sides[i].m_RMS,
                     sides[i].m_SampleNbr);
    return kExitOk;
}

// ------------------------------------------------------------------------------ demo

std::string TemporaryPath()
{
    const char* folder = std::getenv("TMPDIR");
    std::string path = std::string(folder && *folder ? folder : "/tmp") + "/zan3d-demo-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0)
        return {};
    close(fd);
    return path;
}

int RunDemoCommand(const CParsedArgs& args, std::FILE* out, std::FILE* err)
{
    if (!args.m_Options.empty())
        return UsageError(err, "demo", "unknown option " + args.m_Options.front().first);
    if (args.m_Positional.size() > 1)
        return UsageError(err, "demo", "demo takes at most one file");
    const bool temporary = args.m_Positional.empty();
    const std::string path = temporary ? TemporaryPath() : args.m_Positional[0];
    if (path.empty())
    {
        std::fprintf(err, "zan3d: cannot create a temporary file: %s\n", std::strerror(errno));
        return kExitFailed;
    }
    int result = kExitFailed;
    try
    {
        result = RunDemo(path, out, err);
    }
    catch (const CXException& e)
    {
        std::fprintf(err, "zan3d: %s: %s\n", path.c_str(), e.what());
    }
    if (temporary)
        std::remove(path.c_str());
    return result;
}
} // namespace

int RunZan3D(const std::vector<std::string>& args, std::FILE* out, std::FILE* err)
{
    if (args.empty())
    {
        PrintUsage(err);
        return kExitUsage;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help")
    {
        PrintUsage(out);
        return kExitOk;
    }
    if (command == "--version")
    {
        std::fprintf(out, "zan3d %s\n", kVersion);
        return kExitOk;
    }
    using Runner = int (*)(const CParsedArgs&, std::FILE*, std::FILE*);
    Runner runner = nullptr;
    if (command == "info")
        runner = RunInfo;
    else if (command == "convert")
        runner = RunConvert;
    else if (command == "compare")
        runner = RunCompare;
    else if (command == "demo")
        runner = RunDemoCommand;
    else
        return UsageError(err, "", "unknown command '" + command + "'");

    CParsedArgs parsed;
    if (std::optional<std::string> problem = SplitArgs(args, 1, parsed))
        return UsageError(err, command, *problem);
    if (parsed.m_Help)
    {
        PrintCommandUsage(command, out);
        return kExitOk;
    }
    return runner(parsed, out, err);
}
