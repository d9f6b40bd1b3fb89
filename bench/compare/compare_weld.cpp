// Welding speed against meshoptimizer and Assimp on one triangle soup, in one run.
//
// The soup: a 1000 x 1000 quad grid over a gentle height field, two triangles per quad
// (2 000 000 triangles), every triangle with its own three corners (6 000 000 points, each
// grid vertex repeated up to six times with identical coordinates), triangles in a shuffled
// order (fixed seed) so that duplicates are far apart in memory.
//
// Timed, best of several runs:
// - ours, the remap alone (ComputeWeldRemap, tolerance 0) vs meshopt_generateVertexRemap on
//   the same positions (goal: within 3x);
// - ours, a whole C3DGeomObject::Weld3DPoints with tolerance 0 (remap, face rewrite, removal
//   of the unused points, channels) vs Assimp's aiProcess_JoinIdenticalVertices on an aiScene
//   holding the same soup (goal: ours at least 5x faster). Assimp's step is timed as the
//   difference of two in-memory imports through a loader that copies the soup into the scene,
//   one with the step and one without;
// - ours with a relative tolerance of 1e-6 vs ours with tolerance 0 (goal: within 2x).
#include "compare_timing.h"
#include <3dzan/foundation/services.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/processing/spatialmaps.h>
#include <3dzan/scene/geomobject.h>

#include <assimp/BaseImporter.h>
#include <assimp/Importer.hpp>
#include <assimp/importerdesc.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <meshoptimizer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numeric>
#include <random>
#include <vector>

namespace
{
struct Soup
{
    std::vector<float> xyz; // 3 per corner
};

Soup MakeSoup(int n)
{
    std::vector<float> grid;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x)
            grid.insert(grid.end(), {float(x) / n, float(y) / n,
                                     0.05f * std::sin(6.0f * x / n) * std::cos(4.0f * y / n)});
    std::vector<unsigned> order(size_t(n) * n * 2);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(12345));
    Soup soup;
    soup.xyz.reserve(order.size() * 9);
    for (unsigned t : order)
    {
        unsigned q = t / 2, x = q % unsigned(n), y = q / unsigned(n);
        unsigned p00 = y * (n + 1) + x, p10 = p00 + 1, p01 = p00 + n + 1, p11 = p01 + 1;
        unsigned tri[3] = {p00, p10, p11};
        if (t % 2)
            tri[1] = p11, tri[2] = p01;
        for (unsigned v : tri)
            soup.xyz.insert(soup.xyz.end(), {grid[v * 3], grid[v * 3 + 1], grid[v * 3 + 2]});
    }
    return soup;
}

using zancompare::BestOf;

C3DObject* MakeObject(const Soup& soup)
{
    const int corners = int(soup.xyz.size() / 3);
    auto* points = C3DPointList::Create();
    points->SetSize(corners);
    auto view = points->GetPointView();
    for (int i = 0; i < corners; ++i)
        view[size_t(i)].Set(soup.xyz[size_t(i) * 3], soup.xyz[size_t(i) * 3 + 1],
                            soup.xyz[size_t(i) * 3 + 2]);
    std::vector<int> indices(static_cast<size_t>(corners));
    std::iota(indices.begin(), indices.end(), 0);
    auto* faces = C3DFaceList::Create();
    faces->AddFaces(indices.data(), unsigned(corners / 3), 3);
    auto* object = new C3DObject;
    object->SetPointList(points, true);
    object->SetFaceList(faces, true);
    return object;
}

// An Assimp loader that copies the soup into the scene, so that a post-processing step can run
// on an in-memory scene through the importer.
const Soup* g_Soup = nullptr;
const aiImporterDesc kSoupDesc = {"soup", "", "", "", aiImporterFlags_SupportBinaryFlavour,
                                  0, 0, 0, 0, "zansoup"};

class CSoupLoader : public Assimp::BaseImporter
{
public:
    bool CanRead(const std::string& file, Assimp::IOSystem*, bool) const override
    {
        return file.size() > 8 && file.substr(file.size() - 8) == ".zansoup";
    }
    const aiImporterDesc* GetInfo() const override { return &kSoupDesc; }
    void InternReadFile(const std::string&, aiScene* scene, Assimp::IOSystem*) override
    {
        const unsigned corners = unsigned(g_Soup->xyz.size() / 3);
        auto* mesh = new aiMesh;
        mesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
        mesh->mNumVertices = corners;
        mesh->mVertices = new aiVector3D[corners];
        for (unsigned i = 0; i < corners; ++i)
            mesh->mVertices[i].Set(g_Soup->xyz[i * 3], g_Soup->xyz[i * 3 + 1], g_Soup->xyz[i * 3 + 2]);
        mesh->mNumFaces = corners / 3;
        mesh->mFaces = new aiFace[mesh->mNumFaces];
        for (unsigned f = 0; f < mesh->mNumFaces; ++f)
        {
            mesh->mFaces[f].mNumIndices = 3;
            mesh->mFaces[f].mIndices = new unsigned[3]{f * 3, f * 3 + 1, f * 3 + 2};
        }
        scene->mNumMeshes = 1;
        scene->mMeshes = new aiMesh*[1]{mesh};
        scene->mNumMaterials = 1;
        scene->mMaterials = new aiMaterial*[1]{new aiMaterial};
        scene->mRootNode = new aiNode;
        scene->mRootNode->mNumMeshes = 1;
        scene->mRootNode->mMeshes = new unsigned[1]{0};
    }
};

double AssimpImport(const char* file, unsigned flags, unsigned* vertices)
{
    Assimp::Importer importer;
    importer.RegisterLoader(new CSoupLoader);
    auto t0 = std::chrono::steady_clock::now();
    const aiScene* scene = importer.ReadFile(file, flags);
    auto t1 = std::chrono::steady_clock::now();
    if (!scene)
    {
        std::printf("assimp: %s\n", importer.GetErrorString());
        return 0;
    }
    *vertices = scene->mMeshes[0]->mNumVertices;
    return std::chrono::duration<double>(t1 - t0).count();
}
} // namespace

int main()
{
    SetLogEnabled(false);
    const Soup soup = MakeSoup(1000);
    const size_t corners = soup.xyz.size() / 3;
    std::printf("soup: %zu triangles, %zu corners (shuffled triangles, exact duplicates)\n",
                corners / 3, corners);

    C3DPointList* points = C3DPointList::Create();
    points->SetSize(int(corners));
    for (size_t i = 0; i < corners; ++i)
        (*points)[int(i)].Set(soup.xyz[i * 3], soup.xyz[i * 3 + 1], soup.xyz[i * 3 + 2]);

    std::vector<int> remap;
    double oursRemap = BestOf(3, [] {}, [&] { ComputeWeldRemap(*points, 0.0, true, nullptr, 0, remap); });
    size_t oursUnique = 0;
    for (size_t i = 0; i < remap.size(); ++i)
        oursUnique += remap[i] == int(i);

    std::vector<unsigned> meshoptRemap(corners);
    size_t meshoptUnique = 0;
    double meshopt = BestOf(3, [] {}, [&] {
        meshoptUnique = meshopt_generateVertexRemap(meshoptRemap.data(), nullptr, corners,
                                                    soup.xyz.data(), corners, sizeof(float) * 3);
    });
    std::printf("remap, tolerance 0: ours %.3f s (%zu points kept), meshopt %.3f s (%zu): "
                "ours / meshopt = %.2f (goal <= 3)\n",
                oursRemap, oursUnique, meshopt, meshoptUnique, oursRemap / meshopt);

    double oursRelative = BestOf(3, [] {}, [&] {
        ComputeWeldRemap(*points, 1e-6, false, nullptr, 0, remap);
    });
    size_t relativeUnique = 0;
    for (size_t i = 0; i < remap.size(); ++i)
        relativeUnique += remap[i] == int(i);
    std::printf("remap, relative 1e-6: ours %.3f s (%zu kept): relative / zero = %.2f (goal <= 2)\n",
                oursRelative, relativeUnique, oursRelative / oursRemap);
    points->Delete();

    C3DObject* object = nullptr;
    auto fresh = [&] {
        if (object)
            object->Delete();
        object = MakeObject(soup);
    };
    double oursWeld = BestOf(3, fresh, [&] { object->Weld3DPoints(0.0, true); });
    std::printf("Weld3DPoints, tolerance 0: ours %.3f s (%d points left)\n", oursWeld,
                object->GetPointNbr());
    double oursWeldRelative = BestOf(3, fresh, [&] { object->Weld3DPoints(1e-6, false); });
    std::printf("Weld3DPoints, relative 1e-6: ours %.3f s: relative / zero = %.2f (goal <= 2)\n",
                oursWeldRelative, oursWeldRelative / oursWeld);
    object->Delete();

    const char* file = "/tmp/zan3d_compare_weld.zansoup";
    if (FILE* f = std::fopen(file, "w"))
    {
        std::fputs("soup\n", f);
        std::fclose(f);
    }
    g_Soup = &soup;
    double plain = 1e30, joined = 1e30;
    unsigned plainVertices = 0, joinedVertices = 0;
    for (int r = 0; r < 2; ++r)
    {
        plain = std::min(plain, AssimpImport(file, 0, &plainVertices));
        joined = std::min(joined, AssimpImport(file, aiProcess_JoinIdenticalVertices, &joinedVertices));
    }
    std::remove(file);
    double assimp = joined - plain;
    std::printf("JoinIdenticalVertices: assimp %.3f s (import %.3f s with, %.3f s without; %u "
                "vertices left): assimp / ours Weld3DPoints = %.2f (goal >= 5), assimp / ours "
                "remap = %.2f\n",
                assimp, joined, plain, joinedVertices, assimp / oursWeld, assimp / oursRemap);
    return 0;
}
