// OBJ reading speed and memory against tinyobjloader and Assimp, and against the native
// archive, on one generated file: a grid of 1000 x 1000 points (one million `v x y z` lines)
// with one million quadrangles (`f a b c d` lines), about 60 MB, in a temporary file.
//
// What is timed (wall clock, best of three, the file in the page cache):
// - ours: ReadObjText on the mapped file (what CObjParser::Read does, the scene built with
//   its object, point list and face list); both cores may be used.
// - tinyobjloader: tinyobj::LoadObj on the file, without triangulation.
// - Assimp: Importer::ReadFile with no post-processing step.
// - the native archive: the scene written to a .3dif file and read back through C3DIo.
//
// Memory: each reader runs once more in a forked child; its peak resident size (ru_maxrss
// from wait4) less the peak of a child that reads nothing is the reader's own peak.
#include "objparser.h"
#include "pluginfile.h"
#include "compare_timing.h"

#include <3dzan/foundation/files.h>
#include <3dzan/io/io3d.h>
#include <3dzan/scene/scene.h>

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <tiny_obj_loader.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
constexpr int kSide = 1000;

bool WriteGrid(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i)
            std::fprintf(file, "v %.6f %.6f %.6f\n", i * 0.001, j * 0.001,
                         0.05 * ((i * 7 + j * 13) % 17));
    // Quadrangles over the grid, wrapping at the last row and column so that there are as
    // many faces as points.
    for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i)
        {
            const int i1 = (i + 1) % kSide, j1 = (j + 1) % kSide;
            std::fprintf(file, "f %d %d %d %d\n", j * kSide + i + 1, j * kSide + i1 + 1,
                         j1 * kSide + i1 + 1, j1 * kSide + i + 1);
        }
    return std::fclose(file) == 0;
}

// Peak resident kilobytes of a child that runs \p work once.
long ChildPeakKB(const std::function<void()>& work)
{
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0)
    {
        work();
        _exit(0);
    }
    int status = 0;
    struct rusage usage = {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status))
        return -1;
    return usage.ru_maxrss;
}

size_t g_Sink = 0; // keeps the results alive past the timed calls

void ReadOurs(const std::string& path, int threads)
{
    zanplugin::CMappedFile file;
    if (!file.Open(path.c_str()))
        std::abort();
    CObjReadSettings settings;
    settings.m_ThreadCount = threads;
    CSceneImportOptions log;
    int result = 0;
    C3DScene* scene = ReadObjText(file.GetData(), file.GetSize(), settings, &log, result);
    if (!scene)
        std::abort();
    g_Sink += size_t(scene->GetFaceNbr());
    scene->Delete();
}

void ReadTiny(const std::string& path)
{
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, path.c_str(), nullptr,
                          false))
        std::abort();
    g_Sink += attrib.vertices.size();
}

void ReadAssimp(const std::string& path)
{
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, 0);
    if (!scene)
        std::abort();
    g_Sink += scene->mNumMeshes;
}
} // namespace

int main()
{
    char folder[] = "/tmp/compare_obj.XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    const std::string path = std::string(folder) + "/grid.obj";
    const std::string native = std::string(folder) + "/grid.3dif";
    if (!WriteGrid(path))
        return 1;
    zanplugin::CMappedFile probe;
    probe.Open(path.c_str());
    std::printf("file: %s, %.1f MB, %d points, %d quadrangles\n", path.c_str(),
                double(probe.GetSize()) / 1e6, kSide * kSide, kSide * kSide);
    ReadOurs(path, 2); // page cache warm-up

    const auto none = [] {};
    const double ours = zancompare::BestOf(3, none, [&] { ReadOurs(path, 2); });
    const double oursOne = zancompare::BestOf(3, none, [&] { ReadOurs(path, 1); });
    const double tiny = zancompare::BestOf(3, none, [&] { ReadTiny(path); });
    const double assimp = zancompare::BestOf(3, none, [&] { ReadAssimp(path); });

    // The native archive of the same scene.
    zanplugin::CMappedFile mapped;
    mapped.Open(path.c_str());
    CObjReadSettings settings;
    CSceneImportOptions log;
    int result = 0;
    C3DScene* scene = ReadObjText(mapped.GetData(), mapped.GetSize(), settings, &log, result);
    if (!scene)
        return 1;
    const double nativeWrite = zancompare::BestOf(
        3, none,
        [&]
        {
            C3DIo io(CFileNameSpec(native.c_str()), _FileParserSilent);
            if (!io.Save(false, scene))
                std::abort();
        });
    const double nativeRead = zancompare::BestOf(
        3, none,
        [&]
        {
            C3DIo io(CFileNameSpec(native.c_str()), _FileParserRead | _FileParserSilent);
            C3DScene* back = io.Read(false);
            if (!back)
                std::abort();
            back->Delete();
        });
    scene->Delete();

    const long base = ChildPeakKB(none);
    const long oursKB = ChildPeakKB([&] { ReadOurs(path, 2); }) - base;
    const long tinyKB = ChildPeakKB([&] { ReadTiny(path); }) - base;
    const long assimpKB = ChildPeakKB([&] { ReadAssimp(path); }) - base;

    std::printf("read time (best of 3, wall clock):\n");
    std::printf("  3DZan (2 threads) %8.3f s\n", ours);
    std::printf("  3DZan (1 thread)  %8.3f s\n", oursOne);
    std::printf("  tinyobjloader     %8.3f s   ratio tinyobjloader / 3DZan %.2f\n", tiny,
                tiny / ours);
    std::printf("  Assimp            %8.3f s   ratio Assimp / 3DZan %.2f\n", assimp,
                assimp / ours);
    std::printf("  .3dif write       %8.3f s\n  .3dif read        %8.3f s   ratio .3dif read / "
                "OBJ read %.2f\n",
                nativeWrite, nativeRead, nativeRead / ours);
    std::printf("peak memory above a child that reads nothing (%ld MB):\n", base / 1024);
    std::printf("  3DZan             %8.1f MB\n", double(oursKB) / 1024);
    std::printf("  tinyobjloader     %8.1f MB   ratio 3DZan / tinyobjloader %.2f\n",
                double(tinyKB) / 1024, double(oursKB) / double(tinyKB));
    std::printf("  Assimp            %8.1f MB   ratio 3DZan / Assimp %.2f\n",
                double(assimpKB) / 1024, double(oursKB) / double(assimpKB));
    std::remove(path.c_str());
    std::remove(native.c_str());
    rmdir(folder);
    return g_Sink == 0;
}
