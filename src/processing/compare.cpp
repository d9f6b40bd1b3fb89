// Mesh comparison by sampled Hausdorff distance (the one-sided measures of Cignoni, Rocchini
// and Scopigno's Metro): each mesh is sampled (its points, its sides, the inside of its
// faces) and every sample is measured against the closest triangle of the other mesh, found
// through a face grid. The two directions are independent: each has its own face grid and its
// own statistics, so they run on two threads and give the same result on one.
//
// Sampling is deterministic (regular subdivisions, lattices and Hammersley points, never
// random numbers), so a comparison repeats to the bit.
#include <3dzan/foundation/services.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/processing/compare.h>
#include <3dzan/processing/spatialmaps.h>
#include <3dzan/scene/geomobject.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace
{
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct CTriangle
{
    double p[3][3];
    double area;
};

/// The valid triangles of an object, corners in double.
bool ReadTriangles(const C3DGeomObject& object, std::vector<CTriangle>& triangles)
{
    const C3DFaceList* faces = object.GetFaceList();
    const C3DPointList* points = object.GetPointList();
    if (!faces || !points)
        return false;
    const CPointView<const C3DTPoint<float>> view = points->GetPointView();
    bool bad = false;
    faces->ForEachFace([&](unsigned f, const int* items, unsigned count) {
        if (faces->IsFaceOneFlagSet(f, _FaceInvalid | _FaceExcluded) || count != 3 || bad)
            return;
        CTriangle t;
        for (int k = 0; k < 3; ++k)
        {
            if (items[k] < 0 || size_t(items[k]) >= view.GetCount())
            {
                bad = true;
                return;
            }
            const C3DTPoint<float>& q = view[size_t(items[k])];
            t.p[k][0] = q.m_X, t.p[k][1] = q.m_Y, t.p[k][2] = q.m_Z;
        }
        double u[3], v[3];
        for (int a = 0; a < 3; ++a)
            u[a] = t.p[1][a] - t.p[0][a], v[a] = t.p[2][a] - t.p[0][a];
        double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        t.area = 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        triangles.push_back(t);
    });
    return !bad;
}

bool BoxOf(const C3DGeomObject& object, double lo[3], double hi[3])
{
    const C3DPointList* points = object.GetPointList();
    if (!points || points->IsEmpty())
        return false;
    C3DTBBox<float> box;
    points->GetBoundingBox(box);
    if (box.IsEmpty())
        return false;
    for (int a = 0; a < 3; ++a)
        lo[a] = std::min(lo[a], double(box.GetMin()[a])), hi[a] = std::max(hi[a], double(box.GetMax()[a]));
    return true;
}

double RadicalInverse2(unsigned bits)
{
    bits = (bits << 16u) | (bits >> 16u);
    bits = ((bits & 0x55555555u) << 1u) | ((bits & 0xAAAAAAAAu) >> 1u);
    bits = ((bits & 0x33333333u) << 2u) | ((bits & 0xCCCCCCCCu) >> 2u);
    bits = ((bits & 0x0F0F0F0Fu) << 4u) | ((bits & 0xF0F0F0F0u) >> 4u);
    bits = ((bits & 0x00FF00FFu) << 8u) | ((bits & 0xFF00FF00u) >> 8u);
    return double(bits) * 2.3283064365386963e-10;
}

/// One direction: source samples against the target's face grid.
class COneSidedMeasure
{
public:
    COneSidedMeasure(const C3DGeomObject* source, const C3DGeomObject* target, double limit,
                     unsigned flags)
        : m_Source(source), m_Target(target), m_Limit(limit), m_Flags(flags)
    {
    }

    void Run();
    const CMeshCompareSide& GetResult() const { return m_Result; }
    void Log() const;

private:
    /// Measures one sample; false once the maximum passed the limit.
    bool Sample(const double p[3]);
    bool SampleTriangle(const CTriangle& t, unsigned count);

    const C3DGeomObject* m_Source;
    const C3DGeomObject* m_Target;
    double m_Limit;
    unsigned m_Flags;
    std::unique_ptr<C3DFaceGridMap> m_Grid;
    CMeshCompareSide m_Result;
    double m_Sum = 0.0, m_Sum2 = 0.0;
    uint64_t m_Budget = 0, m_Taken = 0;
    unsigned m_FaceDistances = 0, m_Queries = 0, m_Cells = 0;
    unsigned m_PointSamples = 0, m_EdgeSamples = 0, m_FaceSamples = 0;
    uint64_t m_GridTime = 0, m_SampleTime = 0;
    int m_Hint = -1; ///< the closest face of the previous sample, usually close to the next
};

bool COneSidedMeasure::Sample(const double p[3])
{
    ++m_Taken;
    ++m_Queries;
    double distance;
    unsigned cells = 0, faces = 0;
    int face = m_Grid->GetClosestFace(p, distance, kInfinity, &cells, &faces, m_Hint);
    m_Hint = face;
    m_Cells += cells;
    m_FaceDistances += faces;
    if (face < 0)
        return true;
    m_Result.m_Max = std::max(m_Result.m_Max, distance);
    m_Sum += distance;
    m_Sum2 += distance * distance;
    ++m_Result.m_SampleNbr;
    if (m_Result.m_Max > m_Limit)
    {
        m_Result.m_Stopped = true;
        return false;
    }
    return true;
}

bool COneSidedMeasure::SampleTriangle(const CTriangle& t, unsigned m)
{
    const unsigned scheme = (m_Flags & _CompareFaceHammersley) ? 1 : (m_Flags & _CompareFaceLattice) ? 2 : 0;
    auto at = [&](double a, double b, double c) {
        double p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = a * t.p[0][k] + b * t.p[1][k] + c * t.p[2][k];
        ++m_FaceSamples;
        return Sample(p);
    };
    if (scheme == 1)
    {
        for (unsigned j = 0; j < m; ++j)
        {
            double u = (j + 0.5) / m, v = RadicalInverse2(j), s = std::sqrt(u);
            if (!at(1 - s, s * (1 - v), s * v))
                return false;
        }
        return true;
    }
    if (scheme == 2)
    {
        // Lattice of level k: the points (i + 1/3, j + 1/3) / k with i + j < k.
        unsigned k = 1;
        while (k * (k + 1) / 2 < m)
            ++k;
        const unsigned total = k * (k + 1) / 2;
        for (unsigned s = 0; s < m; ++s)
        {
            unsigned index = unsigned(uint64_t(s) * total / m), i = 0;
            while (index >= k - i)
                index -= k - i, ++i;
            double b = (i + 1.0 / 3) / k, c = (index + 1.0 / 3) / k;
            if (!at(1 - b - c, b, c))
                return false;
        }
        return true;
    }
    // Centroids of m of the k^2 sub-triangles of the regular subdivision of level k.
    unsigned k = 1;
    while (k * k < m)
        ++k;
    const unsigned total = k * k;
    for (unsigned s = 0; s < m; ++s)
    {
        unsigned index = unsigned(uint64_t(s) * total / m);
        // Row r holds 2r + 1 sub-triangles: r + 1 upright, r upside down, alternating.
        unsigned r = 0;
        while (index >= 2 * r + 1)
            index -= 2 * r + 1, ++r;
        double b, c;
        if (index % 2 == 0)
            b = (r - index / 2 + 1.0 / 3) / k, c = (index / 2 + 1.0 / 3) / k;
        else
            b = (r - index / 2 - 1.0 / 3) / k, c = (index / 2 + 2.0 / 3) / k;
        if (!at(1 - b - c, b, c))
            return false;
    }
    return true;
}

void COneSidedMeasure::Run()
{
    m_Result.m_Max = -kInfinity;
    if (!m_Source || !m_Target || !m_Source->IsTriangular() || !m_Target->IsTriangular())
    {
        m_Result.m_Failed = true;
        return;
    }
    std::vector<CTriangle> source;
    if (!ReadTriangles(*m_Source, source))
    {
        m_Result.m_Failed = true;
        return;
    }
    double area = 0.0;
    for (const CTriangle& t : source)
        area += t.area;
    double lo[3] = {kInfinity, kInfinity, kInfinity}, hi[3] = {-kInfinity, -kInfinity, -kInfinity};
    bool hasBoxes = BoxOf(*m_Source, lo, hi);
    hasBoxes = BoxOf(*m_Target, lo, hi) && hasBoxes;
    m_Result.m_SizeReference =
        hasBoxes ? std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                             (hi[2] - lo[2]) * (hi[2] - lo[2]))
                 : 0.0;
    if (std::isfinite(m_Limit))
        m_Limit *= m_Result.m_SizeReference;

    uint64_t start = timeGetTick();
    m_Grid = C3DFaceGridMap::Create(*m_Target->GetFaceList(), *m_Target->GetPointList());
    m_GridTime = timeGetTick() - start;
    if (!m_Grid)
    {
        m_Result.m_Failed = true;
        return;
    }
    const unsigned density = (m_Flags & _CompareDensityMask) == _CompareDensity4    ? 4
                             : (m_Flags & _CompareDensityMask) == _CompareDensity10 ? 10
                                                                                     : 6;
    m_Budget = uint64_t(density) *
               uint64_t(std::max(m_Source->GetFaceNbr(), m_Target->GetFaceNbr()));
    unsigned what = m_Flags & (_CompareSamplePoints | _CompareSampleEdges | _CompareSampleFaces);
    if (!what)
        what = _CompareSamplePoints;

    start = timeGetTick();
    bool going = true;
    if (what & _CompareSamplePoints)
    {
        const CPointView<const C3DTPoint<float>> view = m_Source->GetPointList()->GetPointView();
        std::vector<uint8_t> used;
        if (m_Flags & _CompareUsedPointsOnly)
        {
            // Marked here rather than on the source's point flags: the objects are read-only
            // to a comparison and may be compared on two threads at once.
            used.assign(view.GetCount(), 0);
            const C3DFaceList& faces = *m_Source->GetFaceList();
            faces.ForEachFace([&](unsigned f, const int* items, unsigned count) {
                if (!faces.IsFaceOneFlagSet(f, _FaceInvalid | _FaceExcluded))
                    for (unsigned k = 0; k < count; ++k)
                        if (items[k] >= 0 && size_t(items[k]) < used.size())
                            used[size_t(items[k])] = 1;
            });
        }
        for (size_t i = 0; i < view.GetCount() && going; ++i)
        {
            if (!used.empty() && !used[i])
                continue;
            const double p[3] = {view[i].m_X, view[i].m_Y, view[i].m_Z};
            ++m_PointSamples;
            going = Sample(p);
        }
    }
    if ((what & _CompareSampleEdges) && going && m_Taken < m_Budget && area > 0)
    {
        const double lambda = std::sqrt(double(m_Budget - m_Taken) / area);
        for (size_t f = 0; f < source.size() && going && m_Taken < m_Budget; ++f)
            for (int e = 0; e < 3 && going && m_Taken < m_Budget; ++e)
            {
                const double* a = source[f].p[e];
                const double* b = source[f].p[(e + 1) % 3];
                double len = std::sqrt((b[0] - a[0]) * (b[0] - a[0]) + (b[1] - a[1]) * (b[1] - a[1]) +
                                       (b[2] - a[2]) * (b[2] - a[2]));
                uint64_t m = std::min<uint64_t>(uint64_t(lambda * len), m_Budget - m_Taken);
                for (uint64_t s = 0; s < m && going; ++s)
                {
                    double t = (double(s) + 0.5) / double(m);
                    const double p[3] = {a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]),
                                         a[2] + t * (b[2] - a[2])};
                    ++m_EdgeSamples;
                    going = Sample(p);
                }
            }
    }
    if ((what & _CompareSampleFaces) && going && m_Taken < m_Budget && area > 0)
    {
        const double rho = double(m_Budget - m_Taken) / area;
        double carried = 0.0;
        for (size_t f = 0; f < source.size() && going; ++f)
        {
            double want = carried + rho * source[f].area;
            unsigned m = unsigned(std::min(want, 1e6));
            carried = want - m;
            going = SampleTriangle(source[f], m);
        }
    }
    m_SampleTime = timeGetTick() - start;
    if (m_Result.m_SampleNbr)
    {
        m_Result.m_Mean = m_Sum / m_Result.m_SampleNbr;
        m_Result.m_RMS = std::sqrt(m_Sum2 / m_Result.m_SampleNbr);
    }
    m_Grid.reset();
}

void COneSidedMeasure::Log() const
{
    if (!IsLogEnabled())
        return;
    const double size = m_Result.m_SizeReference;
    const double normalised = size > 0 ? m_Result.m_Max / size : (m_Result.m_Max > 0 ? kInfinity : 0.0);
    CXTString timing, sampling, text;
    timing.Format("grid %d ms, sampling %d ms", int(m_GridTime), int(m_SampleTime));
    sampling.Format("points %u, edges %u, faces %u, budget %llu", m_PointSamples, m_EdgeSamples,
                    m_FaceSamples, static_cast<unsigned long long>(m_Budget));
    // One call per measure, so the lines of the two threads never interleave.
    text.Format("Hausdorff measure 1 %X %X (%s)\n"
                "Face Distance Count %d PSDist %d Cell Inspected %d\n"
                "Timing %s\nSampling info %s\nNormalized distance %f\n"
                "Max distance %f\nMean distance %f\nRMS distance %f\n",
                unsigned(reinterpret_cast<uintptr_t>(m_Source)),
                unsigned(reinterpret_cast<uintptr_t>(m_Target)),
                m_Result.m_Stopped ? "Process canceled - above limit" : "Process completed",
                int(m_FaceDistances), int(m_Queries), int(m_Cells), timing.c_str(),
                sampling.c_str(), normalised, m_Result.m_Max, m_Result.m_Mean, m_Result.m_RMS);
    WriteToLogFile("%s", text.c_str());
}
} // namespace

double GeomCompare(const C3DGeomObject* a, const C3DGeomObject* b, MeshCompareMethod method,
                   double limit, unsigned flags)
{
    CMeshCompareSide sides[2];
    return GeomCompare(a, b, method, limit, flags, sides);
}

double GeomCompare(const C3DGeomObject* a, const C3DGeomObject* b, MeshCompareMethod,
                   double limit, unsigned flags, CMeshCompareSide sides[2])
{
    if (std::isnan(limit))
        limit = kInfinity;
    COneSidedMeasure forward(a, b, limit, flags), backward(b, a, limit, flags);
    {
        CProgressTask progress("Hausdorff measure", nullptr);
        progress.SetRange(0, 100);
        if (OMPGetMaxThreadCount() >= 2)
        {
            std::thread worker([&] { backward.Run(); });
            forward.Run();
            worker.join();
        }
        else
        {
            forward.Run();
            progress.SetPosition(50);
            backward.Run();
        }
        progress.SetPosition(100);
    }
    forward.Log();
    backward.Log();
    if (sides)
    {
        sides[0] = forward.GetResult();
        sides[1] = backward.GetResult();
    }
    const CMeshCompareSide& f = forward.GetResult();
    const CMeshCompareSide& g = backward.GetResult();
    if (f.m_Failed || g.m_Failed)
        return kInfinity;
    double worst = -kInfinity;
    for (const CMeshCompareSide* side : {&f, &g})
    {
        if (side->m_SampleNbr == 0)
            continue;
        double size = side->m_SizeReference;
        worst = std::max(worst, size > 0 ? side->m_Max / size : (side->m_Max > 0 ? kInfinity : 0.0));
    }
    return worst == -kInfinity ? 0.0 : worst;
}
