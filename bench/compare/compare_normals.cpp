// Point-normal speed against Assimp's smooth-normal step and OpenMesh's feature-angle
// halfedge normals, on the same meshes in one run: (a) a bumpy height field of 1000 x 1000
// quadrangles and (b) a UV sphere of about 2 million triangles. Every program smooths with a
// 31-degree angle.
//
// What is timed:
// - ours: CPointNormalChannel::InitNormals through C3DGeomObject::GetPointNormalChannel, area
//   weighted: face normals, grouping of each point's faces and the distinct-normal table.
// - Assimp: Importer::ApplyPostProcessing(aiProcess_GenSmoothNormals) with
//   AI_CONFIG_PP_GSN_MAX_SMOOTHING_ANGLE = 31 on a scene built in memory (handed over by a
//   small loader registered for the purpose). Angle-limited smoothing in Assimp needs the
//   verbose layout, one vertex per corner, so its mesh holds 4 (grid) or 3 (sphere) vertices
//   per face; its step includes its own spatial sort of those vertices.
// - OpenMesh: update_face_normals() then update_halfedge_normals(31 degrees) on a
//   PolyMesh (grid) or TriMesh (sphere) built from the same arrays; building is not timed.
// The weightings differ (Assimp and OpenMesh sum unit face normals): the work per corner is
// the same kind.
//
// Memory: the peak resident size above the level before our computation (VmHWM after
// resetting it through /proc/self/clear_refs), against the resident size the mesh's own
// lists took when they were built. Times are wall-clock times, best of five runs (three for
// Assimp, whose runs take seconds): the speed of a shared virtual machine swings from one
// second to the next, and the best of more runs is steadier. Ours runs once on one thread
// and once on the library's default thread count (OMPGetMaxThreadCount), so that the ratios
// peer / ours are printed against both. With the argument `ours` only our runs are made,
// which is what a profiler wants to look at.
#include "compare_timing.h"

#include <3dzan/foundation/services.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

#include <OpenMesh/Core/Mesh/PolyMesh_ArrayKernelT.hh>
#include <OpenMesh/Core/Mesh/TriMesh_ArrayKernelT.hh>
#include <assimp/BaseImporter.h>
#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/importerdesc.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace
{
constexpr double kPi = 3.14159265358979323846;
constexpr double kAngleDegrees = 31.0;

struct Mesh
{
    std::vector<float> xyz;
    std::vector<int> indices;
    int corners = 4;
};

// A height field with bumps of several sizes, so that the angles between faces vary.
Mesh MakeGrid(int n)
{
    Mesh m;
    m.corners = 4;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
        {
            const double x = i, y = j;
            const double z = 2.0 * std::sin(x * 0.21) * std::cos(y * 0.17) +
                             0.25 * std::sin(x * 1.3 + y * 0.7) + 0.3 * std::cos(x * y * 0.01);
            m.xyz.insert(m.xyz.end(), {float(x), float(y), float(z)});
        }
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
        {
            const int p = i * (n + 1) + j;
            m.indices.insert(m.indices.end(), {p, p + n + 1, p + n + 2, p + 1});
        }
    return m;
}

// A UV sphere: fans at the poles, two triangles per cell elsewhere.
Mesh MakeSphere(int stacks, int slices)
{
    Mesh m;
    m.corners = 3;
    m.xyz.insert(m.xyz.end(), {0, 0, 1});
    for (int s = 1; s < stacks; ++s)
    {
        const double phi = kPi * s / stacks;
        for (int l = 0; l < slices; ++l)
        {
            const double theta = 2 * kPi * l / slices;
            m.xyz.insert(m.xyz.end(),
                         {float(std::sin(phi) * std::cos(theta)),
                          float(std::sin(phi) * std::sin(theta)), float(std::cos(phi))});
        }
    }
    m.xyz.insert(m.xyz.end(), {0, 0, -1});
    const int south = int(m.xyz.size() / 3) - 1;
    auto ring = [&](int s, int l) { return 1 + (s - 1) * slices + (l % slices); };
    for (int l = 0; l < slices; ++l)
        m.indices.insert(m.indices.end(), {0, ring(1, l), ring(1, l + 1)});
    for (int s = 1; s < stacks - 1; ++s)
        for (int l = 0; l < slices; ++l)
        {
            const int a = ring(s, l), b = ring(s + 1, l), c = ring(s + 1, l + 1),
                      d = ring(s, l + 1);
            m.indices.insert(m.indices.end(), {a, b, c, a, c, d});
        }
    for (int l = 0; l < slices; ++l)
        m.indices.insert(m.indices.end(), {south, ring(stacks - 1, l + 1), ring(stacks - 1, l)});
    return m;
}

long ReadStatusKB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0)
            return std::atol(line.c_str() + length + 1);
    return -1;
}

bool ResetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return bool(clear);
}

// Wall time: our computation may run on several threads, whose work a per-thread CPU clock
// would hide.
using zancompare::BestOf;

double Seconds(const std::function<void()>& work)
{
    return BestOf(
        1, [] {}, work);
}

// ------------------------------------------------------------------ ours

struct Ours
{
    double seconds = 0;         ///< on one thread
    double threadedSeconds = 0; ///< on the default thread count
    int threads = 1;
    long meshKB = 0, peakKB = 0, keptKB = 0;
    int normals = 0;
};

Ours RunOurs(const Mesh& mesh, int runs)
{
    Ours result;
    const long before = ReadStatusKB("VmRSS:");
    auto* object = new C3DObject;
    {
        auto* points = C3DPointList::Create();
        const int pointNbr = int(mesh.xyz.size() / 3);
        points->SetSize(pointNbr);
        CPointView<C3DTPoint<float>> view = points->GetPointView();
        for (int i = 0; i < pointNbr; ++i)
            view[size_t(i)].Set(mesh.xyz[size_t(i) * 3], mesh.xyz[size_t(i) * 3 + 1],
                                mesh.xyz[size_t(i) * 3 + 2]);
        auto* faces = C3DFaceList::Create();
        faces->AddFaces(mesh.indices.data(), unsigned(mesh.indices.size() / size_t(mesh.corners)),
                        unsigned(mesh.corners));
        object->SetPointList(points, true);
        object->SetFaceList(faces, true);
    }
    object->SetSmoothAngle(float(kAngleDegrees * kPi / 180.0));
    object->SetSmoothMode(_SmoothModeArea);
    result.meshKB = ReadStatusKB("VmRSS:") - before;

    // First computation: memory. The channel is created here and kept by the object.
    const long start = ReadStatusKB("VmRSS:");
    const bool reset = ResetPeak();
    CPointNormalChannel* channel = object->GetPointNormalChannel();
    result.peakKB = reset ? ReadStatusKB("VmHWM:") - start : -1;
    result.keptKB = ReadStatusKB("VmRSS:") - start;
    if (!channel)
    {
        std::printf("point normals failed\n");
        object->Delete();
        return result;
    }
    result.normals = channel->GetNormalVectorList()->GetSize();
    auto timed = [&](int threads)
    {
        OMPSetMaxThreadCount(threads);
        const double best = BestOf(
            runs, [&] { channel->SetFlag(_ChannelModified, true); },
            [&] { object->GetPointNormalChannel(); });
        OMPSetMaxThreadCount(0);
        return best;
    };
    result.seconds = timed(1);
    result.threads = OMPGetMaxThreadCount();
    result.threadedSeconds = result.threads > 1 ? timed(0) : result.seconds;
    object->Delete();
    return result;
}

// ------------------------------------------------------------------ Assimp

// Hands a scene built in memory to the importer, so that its post-processing can run on it.
class CMemoryLoader : public Assimp::BaseImporter
{
public:
    explicit CMemoryLoader(const Mesh& mesh) : m_Mesh(mesh) {}
    bool CanRead(const std::string& file, Assimp::IOSystem*, bool) const override
    {
        return file.size() > 7 && file.compare(file.size() - 7, 7, ".zanmem") == 0;
    }
    const aiImporterDesc* GetInfo() const override
    {
        static const aiImporterDesc desc = {"in-memory mesh", "", "", "", 0, 0, 0, 0, 0, "zanmem"};
        return &desc;
    }
    void InternReadFile(const std::string&, aiScene* scene, Assimp::IOSystem*) override
    {
        const unsigned corners = unsigned(m_Mesh.corners);
        const unsigned faceNbr = unsigned(m_Mesh.indices.size()) / corners;
        auto* mesh = new aiMesh;
        mesh->mPrimitiveTypes = corners == 3 ? aiPrimitiveType_TRIANGLE : aiPrimitiveType_POLYGON;
        mesh->mNumVertices = faceNbr * corners;
        mesh->mVertices = new aiVector3D[mesh->mNumVertices];
        mesh->mNumFaces = faceNbr;
        mesh->mFaces = new aiFace[faceNbr];
        for (unsigned f = 0; f < faceNbr; ++f)
        {
            aiFace& face = mesh->mFaces[f];
            face.mNumIndices = corners;
            face.mIndices = new unsigned[corners];
            for (unsigned k = 0; k < corners; ++k)
            {
                const unsigned v = f * corners + k;
                const size_t p = size_t(m_Mesh.indices[v]) * 3;
                mesh->mVertices[v] =
                    aiVector3D(m_Mesh.xyz[p], m_Mesh.xyz[p + 1], m_Mesh.xyz[p + 2]);
                face.mIndices[k] = v;
            }
        }
        scene->mNumMeshes = 1;
        scene->mMeshes = new aiMesh* [1] { mesh };
        scene->mNumMaterials = 1;
        scene->mMaterials = new aiMaterial* [1] { new aiMaterial };
        scene->mRootNode = new aiNode;
        scene->mRootNode->mNumMeshes = 1;
        scene->mRootNode->mMeshes = new unsigned[1]{0};
    }

private:
    const Mesh& m_Mesh;
};

double RunAssimp(const Mesh& mesh)
{
    const char* path = "/tmp/compare_normals.zanmem";
    std::ofstream(path) << "in memory";
    double best = 1e30;
    for (int r = 0; r < 3; ++r)
    {
        Assimp::Importer importer;
        importer.RegisterLoader(new CMemoryLoader(mesh)); // the importer owns its loaders
        importer.SetPropertyFloat(AI_CONFIG_PP_GSN_MAX_SMOOTHING_ANGLE, float(kAngleDegrees));
        if (!importer.ReadFile(path, 0))
        {
            std::printf("assimp: %s\n", importer.GetErrorString());
            return 0;
        }
        const aiScene* scene = nullptr;
        best = std::min(
            best,
            Seconds([&] { scene = importer.ApplyPostProcessing(aiProcess_GenSmoothNormals); }));
        if (!scene || !scene->mMeshes[0]->mNormals)
        {
            std::printf("assimp made no normals\n");
            return 0;
        }
    }
    std::remove(path);
    return best;
}

// ------------------------------------------------------------------ OpenMesh

template <class OMesh> double RunOpenMesh(const Mesh& mesh)
{
    OMesh om;
    const size_t pointNbr = mesh.xyz.size() / 3;
    std::vector<typename OMesh::VertexHandle> handles(pointNbr);
    for (size_t i = 0; i < pointNbr; ++i)
        handles[i] = om.add_vertex(
            typename OMesh::Point(mesh.xyz[i * 3], mesh.xyz[i * 3 + 1], mesh.xyz[i * 3 + 2]));
    std::vector<typename OMesh::VertexHandle> face(size_t(mesh.corners));
    for (size_t f = 0; f < mesh.indices.size(); f += size_t(mesh.corners))
    {
        for (int k = 0; k < mesh.corners; ++k)
            face[size_t(k)] = handles[size_t(mesh.indices[f + size_t(k)])];
        om.add_face(face);
    }
    om.request_face_normals();
    om.request_halfedge_normals();
    const double angle = kAngleDegrees * kPi / 180.0;
    return BestOf(
        5, [] {},
        [&]
        {
            om.update_face_normals();
            om.update_halfedge_normals(angle);
        });
}

void Compare(const char* name, const Mesh& mesh, bool triangles, bool oursOnly)
{
    const size_t faceNbr = mesh.indices.size() / size_t(mesh.corners);
    std::printf("%s: %zu points, %zu faces\n", name, mesh.xyz.size() / 3, faceNbr);
    const Ours ours = RunOurs(mesh, 5);
    std::printf("  ours      %8.1f ms on 1 thread, %8.1f ms on %d  (%d distinct normals)\n",
                ours.seconds * 1e3, ours.threadedSeconds * 1e3, ours.threads, ours.normals);
    if (!oursOnly)
    {
        const double assimp = RunAssimp(mesh);
        const double openmesh = triangles ? RunOpenMesh<OpenMesh::TriMesh_ArrayKernelT<>>(mesh)
                                          : RunOpenMesh<OpenMesh::PolyMesh_ArrayKernelT<>>(mesh);
        std::printf("  assimp    %8.1f ms  ratio assimp / ours   %6.1f (1 thread) %6.1f (%d)\n",
                    assimp * 1e3, assimp / ours.seconds, assimp / ours.threadedSeconds,
                    ours.threads);
        std::printf("  openmesh  %8.1f ms  ratio openmesh / ours %6.1f (1 thread) %6.1f (%d)\n",
                    openmesh * 1e3, openmesh / ours.seconds, openmesh / ours.threadedSeconds,
                    ours.threads);
    }
    std::printf("  memory: mesh %ld KB, our peak above it %ld KB (%.2f x the mesh), kept %ld KB\n",
                ours.meshKB, ours.peakKB, double(ours.peakKB) / double(ours.meshKB), ours.keptKB);
}
} // namespace

int main(int argc, char** argv)
{
    const bool oursOnly = argc > 1 && std::strcmp(argv[1], "ours") == 0;
    Compare("grid 1000 x 1000 quads", MakeGrid(1000), false, oursOnly);
    Compare("UV sphere", MakeSphere(1000, 1000), true, oursOnly);
    return 0;
}
