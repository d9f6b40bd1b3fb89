// Scene archive speed: a scene whose one node carries a mesh of 2^20 points and 2^20
// quadrangles with a per-corner texture-coordinate channel (a 1024 × 1024 grid closed into a
// torus, so that points and faces count the same), stored to and loaded from a memory file.
//
// Throughput counts the archive's bytes once per iteration: for the round trip that is one
// store and one load of those bytes.
#include <3dzan/foundation/xarchive.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>

#include "archive_fixture.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace
{
constexpr int kSide = 1024;
constexpr int kCount = kSide * kSide;

C3DObject* MakeTorusGrid()
{
    auto* mesh = new C3DObject;
    auto* points = C3DPointList::Create();
    points->SetSize(kCount);
    auto view = points->GetPointView();
    for (int i = 0; i < kCount; ++i)
    {
        const double u = 2 * 3.14159265358979 * (i % kSide) / kSide;
        const double v = 2 * 3.14159265358979 * (i / kSide) / kSide;
        view[size_t(i)].Set(float((3 + std::cos(v)) * std::cos(u)),
                            float((3 + std::cos(v)) * std::sin(u)), float(std::sin(v)));
    }
    std::vector<int> indices(size_t(kCount) * 4);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
        {
            int* quad = &indices[size_t(y * kSide + x) * 4];
            const int x1 = (x + 1) % kSide, y1 = (y + 1) % kSide;
            quad[0] = y * kSide + x;
            quad[1] = y * kSide + x1;
            quad[2] = y1 * kSide + x1;
            quad[3] = y1 * kSide + x;
        }
    auto* faces = C3DFaceList::Create();
    faces->AddFaces(indices.data(), unsigned(kCount), 4, unsigned(kCount));
    for (unsigned f = 0; f < unsigned(kCount); f += 7)
        faces->SetFaceMaterial(f, 1 + f % 3);
    mesh->SetPointList(points, true);
    mesh->SetFaceList(faces, true);

    auto* uv = static_cast<CUVWChannel*>(CChannel::Create(_ChannelUVW, kZanNone));
    CUVWPointList* uvPoints = uv->GetUVWPointList();
    uvPoints->SetSize(kCount);
    for (int i = 0; i < kCount; ++i)
        (*uvPoints)[i] = CUVWPoint(float(i % kSide) / kSide, float(i / kSide) / kSide, 0);
    uv->GetFaceList()->SetSize(*faces);
    mesh->AddChannel(uv);
    return mesh;
}

// One memory file kept across iterations and rewritten in place by each store, so the figures
// are those of the scene and the archive, not of the file growing into fresh pages.
struct CSceneFixture
{
    CSceneFixture()
    {
        auto* node = new C3DSceneNode;
        node->SetName("Torus");
        node->SetObject(MakeTorusGrid());
        m_Source.AddNode(nullptr, node);
        Store();
    }
    void Store() { zanbench::StoreInto(m_File, m_Source); }
    void Load() { zanbench::LoadFrom(m_File, m_Target); }
    static unsigned Checksum(const C3DScene& scene)
    {
        C3DGeomObject* object = nullptr;
        C3DNodePos pos = scene.GetFirstNode(_ObjectKindGeometric);
        scene.GetNextNode(object, pos);
        return object ? object->GetChecksum(16) : 0;
    }
    void Finish(benchmark::State& state)
    {
        if (m_Target.GetChildCount() != 0 && Checksum(m_Target) != Checksum(m_Source))
            state.SkipWithError("the loaded scene differs from the stored one");
        state.counters["archive_MB"] = double(m_File.GetLength()) / 1e6;
        state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(m_File.GetLength()));
    }

    C3DScene m_Source;
    C3DScene m_Target;
    CXMemFile m_File;
};

CSceneFixture& Fixture()
{
    static CSceneFixture fixture;
    return fixture;
}

void BM_SceneArchiveStore(benchmark::State& state)
{
    CSceneFixture& fixture = Fixture();
    for (auto _ : state)
        fixture.Store();
    fixture.Finish(state);
}
BENCHMARK(BM_SceneArchiveStore)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SceneArchiveLoad(benchmark::State& state)
{
    CSceneFixture& fixture = Fixture();
    for (auto _ : state)
        fixture.Load();
    fixture.Finish(state);
}
BENCHMARK(BM_SceneArchiveLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SceneArchiveStoreLoad(benchmark::State& state)
{
    CSceneFixture& fixture = Fixture();
    for (auto _ : state)
    {
        fixture.Store();
        fixture.Load();
    }
    fixture.Finish(state);
}
BENCHMARK(BM_SceneArchiveStoreLoad)->Unit(benchmark::kMillisecond)->UseRealTime();
} // namespace
