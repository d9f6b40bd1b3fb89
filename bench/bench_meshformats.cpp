// Reading speed of the binary mesh formats from a warm page cache: a binary STL of about two
// million triangles (a wavy 1001 × 1001 grid, so that welding finds each point shared by
// six corners) and a binary little-endian PLY of a million vertices and two million
// triangles, both written to temporary files by our own writers before timing.
//
// "Decode" maps the file and decodes it into flat arrays (welding included for STL); "Read"
// goes on to build the scene, as the plug-in's Read does. Throughput counts the file's bytes
// once per iteration.
#include "plyformat.h"
#include "stlformat.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace
{
using zanplugin::CMeshData;

CMeshData MakeWavyGrid(int side)
{
    CMeshData mesh;
    mesh.m_Name = "grid";
    mesh.m_Positions.reserve(size_t(side) * side * 3);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            mesh.m_Positions.insert(mesh.m_Positions.end(),
                                    {float(x) * 0.01f, float(y) * 0.01f,
                                     0.1f * std::sin(float(x) * 0.05f) * std::cos(float(y) * 0.07f)});
    mesh.m_Indices.reserve(size_t(side - 1) * (side - 1) * 6);
    for (int y = 0; y + 1 < side; ++y)
        for (int x = 0; x + 1 < side; ++x)
        {
            const int a = y * side + x, b = a + 1, c = a + side + 1, d = a + side;
            mesh.m_Indices.insert(mesh.m_Indices.end(), {a, b, c, a, c, d});
        }
    return mesh;
}

// A temporary file holding \p bytes, removed at exit.
class CTempFile
{
public:
    CTempFile(const char* suffix, const std::string& bytes)
    {
        char name[] = "/tmp/zan-bench-XXXXXX";
        const int descriptor = mkstemp(name);
        m_Path = std::string(name) + suffix;
        close(descriptor);
        std::rename(name, m_Path.c_str());
        zanplugin::CAtomicFile file;
        file.Open(m_Path.c_str());
        file.Write(bytes.data(), bytes.size());
        file.Commit();
        m_Size = bytes.size();
    }
    ~CTempFile() { std::remove(m_Path.c_str()); }
    const std::string& Path() const { return m_Path; }
    size_t Size() const { return m_Size; }

private:
    std::string m_Path;
    size_t m_Size = 0;
};

const CTempFile& StlFile()
{
    static const CTempFile file = []
    {
        std::string bytes, error;
        zanstl::EncodeStl({MakeWavyGrid(1001)}, false, bytes, error);
        return CTempFile(".stl", bytes);
    }();
    return file;
}

const CTempFile& PlyFile()
{
    static const CTempFile file = []
    {
        std::string bytes;
        zanply::EncodePly(MakeWavyGrid(1000), false, bytes);
        return CTempFile(".ply", bytes);
    }();
    return file;
}

void Run(benchmark::State& state, const CTempFile& file, zanplugin::MeshDecoder decode,
         bool buildScene)
{
    std::string error;
    for (auto _ : state)
    {
        zanplugin::CMappedFile mapped;
        if (!mapped.Open(file.Path().c_str()))
        {
            state.SkipWithError("cannot map the file");
            return;
        }
        zanplugin::PrefaultMapping(mapped.GetData(), mapped.GetSize());
        std::vector<CMeshData> meshes;
        if (!decode(mapped.GetData(), mapped.GetSize(), "bench", meshes, error, nullptr))
        {
            state.SkipWithError(error.c_str());
            return;
        }
        if (buildScene)
        {
            C3DScene* scene = zanplugin::BuildMeshScene(meshes, file.Path());
            benchmark::DoNotOptimize(scene);
            if (scene)
                scene->Delete();
        }
        benchmark::DoNotOptimize(meshes.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.Size()));
}

void BM_DecodeBinaryStl(benchmark::State& state)
{
    Run(state, StlFile(), &zanstl::DecodeStl, false);
}
void BM_ReadBinaryStl(benchmark::State& state)
{
    Run(state, StlFile(), &zanstl::DecodeStl, true);
}
void BM_DecodeBinaryPly(benchmark::State& state)
{
    Run(state, PlyFile(), &zanply::DecodePly, false);
}
void BM_ReadBinaryPly(benchmark::State& state)
{
    Run(state, PlyFile(), &zanply::DecodePly, true);
}
} // namespace

BENCHMARK(BM_DecodeBinaryStl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBinaryStl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBinaryPly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBinaryPly)->Unit(benchmark::kMillisecond);
