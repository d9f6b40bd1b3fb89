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
// Memory: each reader runs once in a forked child whose high-water mark is reset first
// (/proc/self/clear_refs); the peak less the resident size before the read is reported.
#include "compare_timing.h"
#include "objparser.h"
#include "pluginfile.h"

#include <3dzan/foundation/files.h>
#include <3dzan/io/io3d.h>
#include <3dzan/scene/scene.h>

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <tiny_obj_loader.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

long ReadStatusKB(const char* field)
{
    FILE* file = std::fopen("/proc/self/status", "r");
    if (!file)
        return -1;
    char line[256];
    long value = -1;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, file))
        if (std::strncmp(line, field, length) == 0)
            value = std::atol(line + length);
    std::fclose(file);
    return value;
}

// Peak resident kilobytes that running \p work once adds, measured in a forked child: its
// high-water mark is reset (/proc/self/clear_refs) before the work and read after it.
long ChildPeakKB(const std::function<void()>& work)
{
    int channel[2];
    if (pipe(channel) != 0)
        return -1;
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0)
    {
        close(channel[0]);
        if (FILE* reset = std::fopen("/proc/self/clear_refs", "w"))
        {
            std::fputs("5", reset);
            std::fclose(reset);
        }
        const long before = ReadStatusKB("VmRSS:");
        work();
        const long peak = ReadStatusKB("VmHWM:") - before;
        (void)!write(channel[1], &peak, sizeof peak);
        _exit(0);
    }
    close(channel[1]);
    long peak = -1;
    if (child < 0 || read(channel[0], &peak, sizeof peak) != sizeof peak)
        peak = -1;
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return peak;
}

size_t g_Sink = 0; // keeps the results alive past the timed calls

void ReadOurs(const std::string& path, int threads)
{
    zanplugin::CMappedFile file;
    if (!file.Open(path.c_str()))
        std::abort();
    CObjReadSettings settings;
    settings.m_ThreadCount = threads;
    settings.m_TextIsFileMapping = true; // as CObjParser::Read reads
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
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, path.c_str(), nullptr, false))
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
// The scene of the OBJ file, read once (for the native archive's measures).
C3DScene* ReadScene(const std::string& path)
{
    zanplugin::CMappedFile mapped;
    if (!mapped.Open(path.c_str()))
        return nullptr;
    CObjReadSettings settings;
    CSceneImportOptions log;
    int result = 0;
    return ReadObjText(mapped.GetData(), mapped.GetSize(), settings, &log, result);
}

// Best times of writing \p scene as a native archive at \p native and reading it back.
void TimeNative(C3DScene* scene, const std::string& native, int runs, double& write,
                double& read)
{
    const auto none = [] {};
    write = zancompare::BestOf(runs, none,
                               [&]
                               {
                                   C3DIo io(CFileNameSpec(native.c_str()), _FileParserSilent);
                                   if (!io.Save(false, scene))
                                       std::abort();
                               });
    read = zancompare::BestOf(runs, none,
                              [&]
                              {
                                  C3DIo io(CFileNameSpec(native.c_str()),
                                           _FileParserRead | _FileParserSilent);
                                  C3DScene* back = io.Read(false);
                                  if (!back)
                                      std::abort();
                                  back->Delete();
                              });
}
} // namespace

// With `--ours THREADS`, only our reader runs, ten times (the best is printed), so that a
// profiler sees nothing else; with `--native`, only the native archive is written and read.
int main(int argc, char** argv)
{
    const int profileThreads = argc == 3 && std::strcmp(argv[1], "--ours") == 0 ? std::atoi(argv[2]) : 0;
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
    if (argc == 2 && std::strcmp(argv[1], "--native") == 0)
    {
        C3DScene* scene = ReadScene(path);
        if (!scene)
            return 1;
        double write = 0, read = 0;
        TimeNative(scene, native, 10, write, read);
        std::printf(".3dif write %.3f s, read %.3f s (best of 10)\n", write, read);
        scene->Delete();
        std::remove(path.c_str());
        std::remove(native.c_str());
        rmdir(folder);
        return 0;
    }
    if (profileThreads > 0)
    {
        const double best = zancompare::BestOf(10, [] {}, [&] { ReadOurs(path, profileThreads); });
        std::printf("3DZan (%d threads), best of 10: %.3f s\n", profileThreads, best);
        std::remove(path.c_str());
        rmdir(folder);
        return 0;
    }

    // Memory first, while this process is small.
    const long oursKB = ChildPeakKB([&] { ReadOurs(path, 2); });
    const long tinyKB = ChildPeakKB([&] { ReadTiny(path); });
    const long assimpKB = ChildPeakKB([&] { ReadAssimp(path); });

    const auto none = [] {};
    const double ours = zancompare::BestOf(3, none, [&] { ReadOurs(path, 2); });
    const double oursOne = zancompare::BestOf(3, none, [&] { ReadOurs(path, 1); });
    const double tiny = zancompare::BestOf(3, none, [&] { ReadTiny(path); });
    const double assimp = zancompare::BestOf(3, none, [&] { ReadAssimp(path); });

    // The native archive of the same scene.
    C3DScene* scene = ReadScene(path);
    if (!scene)
        return 1;
    double nativeWrite = 0, nativeRead = 0;
    TimeNative(scene, native, 3, nativeWrite, nativeRead);
    scene->Delete();

    std::printf("read time (best of 3, wall clock):\n");
    std::printf("  3DZan (2 threads) %8.3f s\n", ours);
    std::printf("  3DZan (1 thread)  %8.3f s\n", oursOne);
    std::printf("  tinyobjloader     %8.3f s   ratio tinyobjloader / 3DZan %.2f (2 threads), "
                "%.2f (1 thread)\n",
                tiny, tiny / ours, tiny / oursOne);
    std::printf("  Assimp            %8.3f s   ratio Assimp / 3DZan %.2f (2 threads), "
                "%.2f (1 thread)\n",
                assimp, assimp / ours, assimp / oursOne);
    std::printf("  .3dif write       %8.3f s\n  .3dif read        %8.3f s   ratio .3dif read / "
                "OBJ read %.2f\n",
                nativeWrite, nativeRead, nativeRead / ours);
    std::printf("peak resident memory added by one read (the mapped file included for ours):\n");
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
