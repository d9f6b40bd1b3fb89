// What the single-mesh formats (STL, PLY, OFF) share: a flat mesh as the readers decode it
// (positions, corner indices, optional per-point normals, texture coordinates and colours),
// the scene built from such meshes, and the meshes a writer takes back from a scene.
//
// Header only, so that each format's core library stays self-contained.
#pragma once

#include <3dzan/foundation/fileio.h>
#include <3dzan/foundation/files.h>
#include <3dzan/foundation/services.h>
#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/faces.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/materials/material.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include "pluginfile.h"

#include <cstdint>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace zanplugin
{
/// \brief One object as a reader decodes it. Per-point arrays are empty or hold one entry
///        per point (3 floats for normals, 2 for texture coordinates, 4 bytes RGBA for colours).
struct CMeshData
{
    std::string m_Name;
    std::vector<float> m_Positions;
    std::vector<int> m_Indices;
    std::vector<unsigned> m_Counts; ///< corners per face; empty when every face is a triangle
    std::vector<float> m_Normals;
    std::vector<float> m_UVs;
    std::vector<uint8_t> m_Colors;

    size_t GetPointNbr() const { return m_Positions.size() / 3; }
    size_t GetFaceNbr() const { return m_Counts.empty() ? m_Indices.size() / 3 : m_Counts.size(); }
};

/// \brief Asks for the pages of [\p data, \p data + \p bytes) to be backed by huge pages
///        where the system allows it (untouched memory only; a hint, nothing happens
///        otherwise). Large arrays filled once then cost a few page faults instead of one per
///        4 KB page.
inline void AdviseHugePages(const void* data, size_t bytes)
{
    constexpr uintptr_t kHuge = uintptr_t(2) << 20;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

/// \brief Maps every page of a mapped input at once, so that decoding it does not take one
///        page fault per 4 KB. A hint: nothing happens where the system does not offer it.
inline void PrefaultMapping(const char* data, size_t bytes)
{
#ifdef MADV_POPULATE_READ
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t begin = reinterpret_cast<uintptr_t>(data) & ~(page - 1);
    if (bytes)
        madvise(reinterpret_cast<void*>(begin),
                reinterpret_cast<uintptr_t>(data) + bytes - begin, MADV_POPULATE_READ);
#else
    (void)data;
    (void)bytes;
#endif
}

/// \brief The file name without folder and extension ("/a/b/part.stl" gives "part").
inline std::string FileStem(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

/// \brief Reports a read failure on \p parser's operation: the result \p result and one
///        readable line in \p options' log.
inline void ReportReadError(CFileParser& parser, CIoOptions* options, int result,
                            const std::string& message)
{
    parser.SetIoError(result, _IoLevelError);
    if (options)
        options->AddLogInfo(_IoLevelError, "%s", message.c_str());
}

namespace meshdetail
{
struct CSceneRelease
{
    C3DScene* m_Scene;
    ~CSceneRelease()
    {
        if (m_Scene)
            m_Scene->Delete();
    }
};

inline bool FillObject(C3DObject& object, const CMeshData& mesh, unsigned materialId)
{
    const int pointNbr = int(mesh.GetPointNbr());
    C3DPointList* points = C3DPointList::Create();
    object.SetPointList(points, true);
    if (!points->SetSize(pointNbr))
        return false;
    CPointView<C3DTPoint<float>> view = points->GetPointView();
    const float* p = mesh.m_Positions.data();
    for (int i = 0; i < pointNbr; ++i, p += 3)
    {
        C3DTPoint<float>& point = view[size_t(i)];
        point.m_X = p[0];
        point.m_Y = p[1];
        point.m_Z = p[2];
    }

    C3DFaceList* faces = C3DFaceList::Create();
    object.SetFaceList(faces, true);
    const unsigned faceNbr = unsigned(mesh.GetFaceNbr());
    if (!faces->Reserve(faceNbr, mesh.m_Indices.size()))
        return false;
    bool added = mesh.m_Counts.empty()
                     ? faces->AddFaces(mesh.m_Indices.data(), faceNbr, 3, unsigned(pointNbr))
                     : faces->AddFaces(mesh.m_Indices.data(), mesh.m_Counts.data(), faceNbr,
                                       unsigned(pointNbr));
    if (!added)
        return false;
    // New faces share one initial material: one replacement gives them all the default.
    if (faceNbr && faces->GetFaceMaterial(0) != materialId)
        faces->ReplaceMaterial(faces->GetFaceMaterial(0), materialId);

    // Per-point values become channels whose faces use the geometry's own indices.
    if (mesh.m_UVs.size() == size_t(pointNbr) * 2 && pointNbr > 0)
    {
        auto* channel = static_cast<CUVWChannel*>(CChannel::Create(_ChannelUVW));
        CUVWPointList* list = channel->GetUVWPointList();
        if (!list->SetSize(pointNbr) || !channel->GetFaceList()->SetSize(*faces))
        {
            channel->Delete();
            return false;
        }
        for (int i = 0; i < pointNbr; ++i)
            (*list)[i] = CUVWPoint(mesh.m_UVs[size_t(i) * 2], mesh.m_UVs[size_t(i) * 2 + 1], 0);
        object.AddChannel(channel);
    }
    if (mesh.m_Colors.size() == size_t(pointNbr) * 4 && pointNbr > 0)
    {
        auto* channel = static_cast<CVCChannel*>(CChannel::Create(_ChannelVC));
        CVCPointList* list = channel->GetVCPointList();
        if (!list->SetSize(pointNbr) || !channel->GetFaceList()->SetSize(*faces))
        {
            channel->Delete();
            return false;
        }
        for (int i = 0; i < pointNbr; ++i)
        {
            const uint8_t* c = &mesh.m_Colors[size_t(i) * 4];
            (*list)[i] = CVCPoint(CRGBColor(c[0], c[1], c[2], c[3]));
        }
        object.AddChannel(channel);
    }
    if (mesh.m_Normals.size() == size_t(pointNbr) * 3 && pointNbr > 0)
    {
        auto* channel = static_cast<CSpecNormalChannel*>(CChannel::Create(_ChannelSpecNormal));
        C3DVectorList* list = channel->GetNormalVectorList();
        if (!list->SetSize(pointNbr) || !channel->GetFaceList()->SetSize(*faces))
        {
            channel->Delete();
            return false;
        }
        for (int i = 0; i < pointNbr; ++i)
        {
            const float* n = &mesh.m_Normals[size_t(i) * 3];
            (*list)[i] = C3DTVector<float>(n[0], n[1], n[2]);
        }
        object.AddChannel(channel);
    }
    return true;
}

/// Per-point values of a channel: the value of the first corner that names each point.
template <class GET>
void GatherPerPoint(const C3DFaceList& geometry, const CChannel& channel, size_t pointNbr,
                    size_t width, std::vector<float>& out, GET&& get)
{
    const CFaceList* channelFaces = channel.GetFaceList();
    const CPointList* values = channel.GetPointList();
    if (!channelFaces || !values || channelFaces->GetSize() != geometry.GetSize())
        return;
    out.assign(pointNbr * width, 0.0f);
    std::vector<uint8_t> seen(pointNbr, 0);
    const int valueNbr = values->GetSize();
    geometry.ForEachFace(
        [&](unsigned f, const int* corners, unsigned n)
        {
            int m = 0;
            const int* channelCorners = channelFaces->GetIndexes(f, m);
            for (unsigned k = 0; k < n && int(k) < m; ++k)
            {
                int point = corners[k], value = channelCorners[k];
                if (point < 0 || size_t(point) >= pointNbr || seen[size_t(point)] || value < 0 ||
                    value >= valueNbr)
                    continue;
                seen[size_t(point)] = 1;
                get(value, &out[size_t(point) * width]);
            }
        });
}
} // namespace meshdetail

/// \brief A new scene (one holder, the caller's) with one node per mesh under the root, named
///        after the mesh, every face using one default material, and the scene's file name
///        set to \p fileName. \p meshes are emptied as they are copied in.
/// \return null when memory is short (nothing left allocated).
inline C3DScene* BuildMeshScene(std::vector<CMeshData>& meshes, const std::string& fileName)
{
    meshdetail::CSceneRelease holder{C3DScene::Create()};
    C3DScene* scene = holder.m_Scene;
    try
    {
        scene->SetFilename(CFileNameSpec(fileName.c_str()));
        C3DMaterial* material = scene->CreateNewMaterial();
        if (!material)
            return nullptr;
        material->SetName("Default");
        const unsigned materialId = material->GetMaterialID();
        for (CMeshData& mesh : meshes)
        {
            C3DSceneNode* node = C3DSceneNode::Create();
            node->SetName(CXTString(mesh.m_Name.c_str()));
            auto* object = new C3DObject;
            node->SetObject(object, true);
            if (!scene->AddNode(nullptr, node))
            {
                node->Delete();
                return nullptr;
            }
            if (!meshdetail::FillObject(*object, mesh, materialId))
                return nullptr;
            mesh = CMeshData();
        }
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
    C3DScene* result = holder.m_Scene;
    holder.m_Scene = nullptr;
    return result;
}

/// \brief The polygonal objects of \p scene as flat meshes, in walk order: positions as
///        stored (the export copy has the node transformations baked in), valid faces only,
///        and, with \p extras, per-point normals, texture coordinates and colours taken from
///        the first channel of each kind (a point shared by corners with different values
///        keeps its first corner's; the export splits such points beforehand).
inline void CollectMeshes(const C3DScene& scene, bool extras, std::vector<CMeshData>& meshes)
{
    C3DNodePos pos = scene.GetFirstNode(_ObjectKindPolygonal);
    C3DGeomObject* object = nullptr;
    while (C3DSceneNode* node = scene.GetNextNode(object, pos))
    {
        if (!object || !object->GetPointList() || !object->GetFaceList())
            continue;
        CMeshData mesh;
        mesh.m_Name = node->GetName().c_str();
        const C3DPointList& points = *object->GetPointList();
        const size_t pointNbr = size_t(points.GetSize());
        CPointView<const C3DTPoint<float>> view = points.GetPointView();
        mesh.m_Positions.resize(pointNbr * 3);
        for (size_t i = 0; i < pointNbr; ++i)
        {
            mesh.m_Positions[i * 3] = view[i].m_X;
            mesh.m_Positions[i * 3 + 1] = view[i].m_Y;
            mesh.m_Positions[i * 3 + 2] = view[i].m_Z;
        }
        const C3DFaceList& faces = *object->GetFaceList();
        faces.ForEachFace(
            [&](unsigned f, const int* corners, unsigned n)
            {
                if (n < 3 || (faces.GetFaceFlags(f) & _FaceInvalid))
                    return;
                for (unsigned k = 0; k < n; ++k)
                    if (corners[k] < 0 || size_t(corners[k]) >= pointNbr)
                        return;
                mesh.m_Indices.insert(mesh.m_Indices.end(), corners, corners + n);
                mesh.m_Counts.push_back(n);
            });
        if (extras)
        {
            if (CChannel* uv = object->GetChannelByIndex(0, _ChannelUVW, true))
            {
                auto* list = static_cast<const CUVWPointList*>(uv->GetPointList());
                meshdetail::GatherPerPoint(faces, *uv, pointNbr, 2, mesh.m_UVs,
                                           [&](int v, float* out)
                                           {
                                               out[0] = (*list)[v].m_U;
                                               out[1] = (*list)[v].m_V;
                                           });
            }
            if (CChannel* vc = object->GetChannelByIndex(0, _ChannelVC, true))
            {
                auto* list = static_cast<const CVCPointList*>(vc->GetPointList());
                std::vector<float> colors;
                meshdetail::GatherPerPoint(faces, *vc, pointNbr, 4, colors,
                                           [&](int v, float* out)
                                           {
                                               const CRGBColor& c = (*list)[v].m_Color;
                                               out[0] = c.m_Red;
                                               out[1] = c.m_Green;
                                               out[2] = c.m_Blue;
                                               out[3] = c.m_Alpha;
                                           });
                mesh.m_Colors.assign(colors.begin(), colors.end());
            }
            if (CChannel* sn = object->GetChannelByIndex(0, _ChannelSpecNormal, true))
            {
                auto* list = static_cast<const C3DVectorList*>(sn->GetPointList());
                meshdetail::GatherPerPoint(faces, *sn, pointNbr, 3, mesh.m_Normals,
                                           [&](int v, float* out)
                                           {
                                               out[0] = (*list)[v].m_X;
                                               out[1] = (*list)[v].m_Y;
                                               out[2] = (*list)[v].m_Z;
                                           });
            }
        }
        meshes.push_back(std::move(mesh));
    }
}

/// \brief One mesh holding every mesh of \p meshes (indices shifted; a per-point array that
///        some meshes lack is filled with zeros for them, opaque white for colours).
inline CMeshData MergeMeshes(std::vector<CMeshData>& meshes, const std::string& name)
{
    if (meshes.size() == 1)
    {
        CMeshData single = std::move(meshes[0]);
        single.m_Name = name;
        return single;
    }
    CMeshData merged;
    merged.m_Name = name;
    bool normals = false, uvs = false, colors = false;
    for (const CMeshData& mesh : meshes)
    {
        normals |= !mesh.m_Normals.empty();
        uvs |= !mesh.m_UVs.empty();
        colors |= !mesh.m_Colors.empty();
    }
    for (CMeshData& mesh : meshes)
    {
        const int offset = int(merged.GetPointNbr());
        const size_t pointNbr = mesh.GetPointNbr();
        const size_t faceNbr = mesh.GetFaceNbr();
        merged.m_Positions.insert(merged.m_Positions.end(), mesh.m_Positions.begin(),
                                  mesh.m_Positions.end());
        for (int index : mesh.m_Indices)
            merged.m_Indices.push_back(index + offset);
        if (mesh.m_Counts.empty())
            merged.m_Counts.insert(merged.m_Counts.end(), faceNbr, 3u);
        else
            merged.m_Counts.insert(merged.m_Counts.end(), mesh.m_Counts.begin(), mesh.m_Counts.end());
        if (normals)
        {
            mesh.m_Normals.resize(pointNbr * 3, 0.0f);
            merged.m_Normals.insert(merged.m_Normals.end(), mesh.m_Normals.begin(), mesh.m_Normals.end());
        }
        if (uvs)
        {
            mesh.m_UVs.resize(pointNbr * 2, 0.0f);
            merged.m_UVs.insert(merged.m_UVs.end(), mesh.m_UVs.begin(), mesh.m_UVs.end());
        }
        if (colors)
        {
            mesh.m_Colors.resize(pointNbr * 4, 255);
            merged.m_Colors.insert(merged.m_Colors.end(), mesh.m_Colors.begin(), mesh.m_Colors.end());
        }
        mesh = CMeshData();
    }
    return merged;
}

/// \brief Decodes a whole file held in memory into meshes; false with a readable \p error.
///        \p progress (may be null) is told the byte position now and then and may stop the
///        decoding (false, the task stopped).
using MeshDecoder = bool (*)(const char* data, size_t size, const std::string& defaultName,
                             std::vector<CMeshData>& meshes, std::string& error,
                             CProgressTask* progress);

/// \brief Whether \p progress asks to stop at byte \p position; \p error then says so.
inline bool IsStopAsked(CProgressTask* progress, int64_t position, std::string& error)
{
    if (!progress || !progress->CheckStop(position))
        return false;
    error = "reading stopped on request";
    return true;
}

/// \brief The body of a single-mesh decoder: refuses empty input, then reads one mesh named
///        \p defaultName with a READER built as READER(data, size, error, progress), whose
///        Read(CMeshData&) fills it or sets \p error.
template <class READER>
bool DecodeOneMesh(const char* data, size_t size, const std::string& defaultName,
                   std::vector<CMeshData>& meshes, std::string& error, CProgressTask* progress)
{
    meshes.clear();
    if (size == 0)
    {
        error = "the file is empty";
        return false;
    }
    CMeshData mesh;
    mesh.m_Name = defaultName;
    READER reader(data, size, error, progress);
    if (!reader.Read(mesh))
        return false;
    meshes.push_back(std::move(mesh));
    return true;
}

/// How many records a decoder reads between two questions to its progress task.
constexpr uint64_t kProgressEvery = 0x10000;

/// \brief The read of a single-mesh format: maps \p fileName, decodes it with \p decode and
///        builds the scene. On failure the result is set (-1 the file cannot be opened, -7
///        malformed content, -11 stopped through the progress task, 0 memory shortage), one
///        line is logged, and null is returned.
inline C3DScene* ReadMeshFile(CFileParser& parser, const std::string& fileName,
                              CIoOptions* options, MeshDecoder decode)
{
    CMappedFile file;
    if (!file.Open(fileName.c_str()))
    {
        ReportReadError(parser, options, _IoResultFileNotFound, fileName + ": " + file.GetError());
        return nullptr;
    }
    std::vector<CMeshData> meshes;
    std::string error;
    bool decoded = false;
    const std::string title = "Reading " + FileStem(fileName);
    CProgressTask progress(title.c_str());
    PrefaultMapping(file.GetData(), file.GetSize());
    progress.SetRange(0, int64_t(file.GetSize()));
    try
    {
        decoded = decode(file.GetData(), file.GetSize(), FileStem(fileName), meshes, error,
                         &progress);
    }
    catch (const std::bad_alloc&)
    {
        error = "not enough memory to read the file";
    }
    if (!decoded && progress.IsStopped())
    {
        parser.SetIoError(_IoResultCancelled, _IoLevelWarning);
        if (options)
            options->AddLogInfo(_IoLevelWarning, "%s", error.c_str());
        return nullptr;
    }
    if (!decoded)
    {
        ReportReadError(parser, options, _IoResultBadFormat, error);
        return nullptr;
    }
    C3DScene* scene = BuildMeshScene(meshes, fileName);
    if (!scene)
        ReportReadError(parser, options, _IoResultFailed, "not enough memory to build the scene");
    return scene;
}

/// \brief Writes \p bytes to \p fileName through a temporary file. On failure the result is
///        set to -4 and one line is logged; the old file stays as it was.
inline bool WriteMeshFile(CFileParser& parser, const std::string& fileName, CIoOptions* options,
                          const std::string& bytes)
{
    CAtomicFile file;
    if (!file.Open(fileName.c_str()))
    {
        ReportReadError(parser, options, _IoResultWriteError, fileName + ": " + file.GetError());
        return false;
    }
    file.Write(bytes.data(), bytes.size());
    if (!file.Commit())
    {
        ReportReadError(parser, options, _IoResultWriteError, fileName + ": " + file.GetError());
        return false;
    }
    return true;
}
/// \brief The save of a single-mesh format: every object of \p scene merged into one mesh
///        named after the file (with its texture coordinates, colours and normals when
///        \p extras), turned into bytes by \p encode and written through WriteMeshFile.
template <class ENCODE>
bool SaveMergedMesh(CFileParser& parser, const std::string& fileName, C3DScene* scene,
                    CIoOptions* options, bool extras, ENCODE&& encode)
{
    if (!scene)
    {
        parser.SetIoError(_IoResultNothingToSave, _IoLevelError);
        return false;
    }
    std::string bytes;
    try
    {
        std::vector<CMeshData> meshes;
        CollectMeshes(*scene, extras, meshes);
        const CMeshData mesh = MergeMeshes(meshes, FileStem(fileName));
        encode(mesh, bytes);
    }
    catch (const std::bad_alloc&)
    {
        ReportReadError(parser, options, _IoResultWriteError, "not enough memory to write the file");
        return false;
    }
    return WriteMeshFile(parser, fileName, options, bytes);
}
} // namespace zanplugin
