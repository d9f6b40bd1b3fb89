// Point normals of a bumpy 1000 x 1000 quadrangle height field at a 31-degree smoothing angle,
// in each weighting mode: the whole InitNormals (face normals, point-to-face graph, grouping,
// distinct normals).
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace
{
C3DObject* MakeGrid(int n)
{
    auto* object = new C3DObject;
    auto* points = C3DPointList::Create();
    points->SetSize((n + 1) * (n + 1));
    CPointView<C3DTPoint<float>> view = points->GetPointView();
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
        {
            const double x = i, y = j;
            const double z = 2.0 * std::sin(x * 0.21) * std::cos(y * 0.17) +
                             0.6 * std::sin(x * 1.3 + y * 0.7);
            view[size_t(i * (n + 1) + j)].Set(float(x), float(y), float(z));
        }
    std::vector<int> indices;
    indices.reserve(size_t(n) * size_t(n) * 4);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
        {
            const int p = i * (n + 1) + j;
            indices.insert(indices.end(), {p, p + n + 1, p + n + 2, p + 1});
        }
    auto* faces = C3DFaceList::Create();
    faces->AddFaces(indices.data(), unsigned(n) * unsigned(n), 4);
    object->SetPointList(points, true);
    object->SetFaceList(faces, true);
    object->SetSmoothAngle(0.54105204f);
    return object;
}

void BM_PointNormalsGrid(benchmark::State& state)
{
    C3DObject* object = MakeGrid(1000);
    object->SetSmoothMode(_NormalSmoothMode(state.range(0)));
    CPointNormalChannel* channel = object->GetPointNormalChannel();
    for (auto _ : state)
    {
        channel->SetFlag(_ChannelModified, true);
        benchmark::DoNotOptimize(object->GetPointNormalChannel());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(object->GetFaceNbr()));
    object->Delete();
}
BENCHMARK(BM_PointNormalsGrid)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
} // namespace
