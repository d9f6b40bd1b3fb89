// Topology graph building on open quad grids of about one and two million faces: the
// point-to-face graph, the edge-to-face graph and both together. Each iteration builds the
// graph from scratch (Init) and frees it (Delete). A linear build takes about twice as long on
// the larger grid; the ratio of the two is the number to watch.
//
// Items are faces.
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/geominfo.h>
#include <3dzan/geometry/pointlist.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

namespace
{
// A grid of side x side quads over (side + 1)^2 points, with its point list.
struct CGrid
{
    C3DPointList points;
    C3DFaceList faces;
    CGeomInfo geom;

    explicit CGrid(int side)
    {
        int row = side + 1;
        points.SetSize(row * row);
        std::vector<int> indices;
        indices.reserve(size_t(side) * side * 4);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
            {
                int a = y * row + x;
                indices.insert(indices.end(), {a, a + 1, a + row + 1, a + row});
            }
        faces.SetPointBound(points);
        faces.Reserve(unsigned(side) * side, indices.size());
        faces.AddFaces(indices.data(), unsigned(side) * side, 4);
        geom.SetPointList(&points, nullptr, 0);
        geom.SetFaceList(&faces, nullptr, 0);
    }
};

// Sides for about one and two million faces.
int SideFor(int64_t millions)
{
    return int(std::lround(std::sqrt(double(millions) * 1e6)));
}

CGrid& Grid(int64_t millions)
{
    static std::map<int64_t, std::unique_ptr<CGrid>> grids;
    auto& grid = grids[millions];
    if (!grid)
        grid = std::make_unique<CGrid>(SideFor(millions));
    return *grid;
}

void BM_PointToFaceGraph(benchmark::State& state)
{
    CGrid& grid = Grid(state.range(0));
    for (auto _ : state)
    {
        if (!grid.faces.InitPointToFaceGraph(&grid.geom))
            state.SkipWithError("the point-to-face graph was not built");
        benchmark::DoNotOptimize(grid.faces.GetPointToFaceGraph());
        grid.faces.DeletePointToFaceGraph();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * grid.faces.GetSize());
}
BENCHMARK(BM_PointToFaceGraph)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_EdgeToFaceGraph(benchmark::State& state)
{
    CGrid& grid = Grid(state.range(0));
    for (auto _ : state)
    {
        if (!grid.faces.InitEdgeToFaceGraph(&grid.geom))
            state.SkipWithError("the edge-to-face graph was not built");
        benchmark::DoNotOptimize(grid.faces.GetEdgeGraph());
        grid.faces.DeleteEdgeToFaceGraph();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * grid.faces.GetSize());
}
BENCHMARK(BM_EdgeToFaceGraph)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_BothGraphs(benchmark::State& state)
{
    CGrid& grid = Grid(state.range(0));
    for (auto _ : state)
    {
        if (!grid.faces.InitPointToFaceGraph(&grid.geom) ||
            !grid.faces.InitEdgeToFaceGraph(&grid.geom))
            state.SkipWithError("a graph was not built");
        grid.faces.DeletePointToFaceGraph();
        grid.faces.DeleteEdgeToFaceGraph();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * grid.faces.GetSize());
}
BENCHMARK(BM_BothGraphs)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
} // namespace
