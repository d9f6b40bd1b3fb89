// Growth of the ear clipping with the corner count: one concave polygon (a star whose tips
// alternate between two radii, so half the corners are reflex) of 10 to 10 000 corners,
// triangulated at the face-list level into a topology context.
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace
{
void BM_TriangulateStar(benchmark::State& state)
{
    const int n = int(state.range(0));
    C3DPointList points;
    points.SetSize(n);
    std::vector<int> face(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
    {
        double t = 2 * 3.14159265358979323846 * i / n, r = i % 2 ? 0.6 : 1.0;
        points[i].Set(float(r * std::cos(t)), float(r * std::sin(t)), 0.0f);
        face[size_t(i)] = i;
    }
    C3DFaceList faces;
    faces.AddFace(face.data(), unsigned(n));
    int triangles = 0;
    for (auto _ : state)
    {
        CGeomInfo geom;
        geom.SetPointList(&points, nullptr, 0);
        geom.SetFaceList(&faces, nullptr, 0);
        triangles = faces.Triangulate(&geom, 0xFFFF, _FACE_PROPERTIES(0), true);
        benchmark::DoNotOptimize(triangles);
    }
    state.counters["triangles"] = triangles;
    state.SetComplexityN(n);
}
} // namespace

BENCHMARK(BM_TriangulateStar)
    ->RangeMultiplier(10)
    ->Range(10, 10000)
    ->Complexity()
    ->Unit(benchmark::kMicrosecond);
