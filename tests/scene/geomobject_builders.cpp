#include "scene/geomobject_builders.h"

namespace scenetest
{
namespace
{
const int kFaces[] = {0, 1, 4, 3, 1, 2, 5, 1, 5, 4, 3, 0};
const unsigned kCounts[] = {4, 3, 5};

void CopyFacesInto(const CFaceList& model, CFaceList& faces)
{
    ASSERT_TRUE(faces.SetSize(model));
}
} // namespace

CChannel* MakeVCChannel(const C3DGeomObject& mesh, unsigned id)
{
    auto* channel = CChannel::Create(_ChannelVC, id);
    auto* points = static_cast<CVCPointList*>(channel->GetPointList());
    points->SetSize(mesh.GetPointNbr());
    for (int i = 0; i < mesh.GetPointNbr(); ++i)
        (*points)[i] = CVCPoint(CRGBColor(uint8_t(10 * i), uint8_t(id), 3, 255));
    CopyFacesInto(*mesh.GetFaceList(), *channel->GetFaceList());
    return channel;
}

MeshPtr MakeTestMesh()
{
    MeshPtr mesh(new C3DObject);
    auto* points = C3DPointList::Create();
    points->SetSize(7);
    for (int i = 0; i < 6; ++i)
        (*points)[i].Set(float(i % 3), float(i / 3), 0.0f);
    (*points)[6].Set(0.0f, 0.0f, 5.0f);
    auto* faces = C3DFaceList::Create();
    EXPECT_TRUE(faces->AddFaces(kFaces, kCounts, 3));
    for (unsigned f = 0; f < 3; ++f)
        faces->SetFaceMaterial(f, 7 + f);
    mesh->SetPointList(points, true);
    mesh->SetFaceList(faces, true);

    auto* uv = static_cast<CUVWChannel*>(CChannel::Create(_ChannelUVW, kUVID));
    uv->GetUVWPointList()->SetSize(8);
    for (int i = 0; i < 8; ++i)
        (*uv->GetUVWPointList())[i] = CUVWPoint(0.125f * float(i), 1.0f - 0.125f * float(i), 0);
    CopyFacesInto(*faces, *uv->GetFaceList());
    const int seam[] = {1, 7, 5};
    EXPECT_TRUE(uv->GetFaceList()->SetFaceIndexes(1, seam, 3));
    mesh->AddChannel(uv);
    mesh->AddChannel(MakeVCChannel(*mesh, kVCID));
    auto* weights = new CWeightChannel(kWeightID, true);
    weights->GetWeightPointList()->SetSize(7);
    for (int i = 0; i < 7; ++i)
        (*weights->GetWeightPointList())[i] = CWeightPoint(0.5f * float(i));
    mesh->AddChannel(weights);
    return mesh;
}

CUVWPoint UVAt(const C3DGeomObject& mesh, unsigned face, size_t corner)
{
    auto* uv = static_cast<CUVWChannel*>(mesh.GetChannelByID(kUVID, _ChannelUVW));
    int count = 0;
    const int* items = uv->GetFaceList()->GetIndexes(face, count);
    return (*uv->GetUVWPointList())[items[corner]];
}

float WeightAt(const C3DGeomObject& mesh, int point)
{
    auto* weights = static_cast<CWeightChannel*>(mesh.GetChannelByID(kWeightID, _ChannelWeight));
    return (*weights->GetWeightPointList())[point].m_Weight;
}

MeshPtr AsMesh(C3DBaseObject* object)
{
    C3DObject* mesh = object ? static_cast<C3DObject*>(*object) : nullptr;
    if (!mesh && object)
        object->Delete();
    return MeshPtr(mesh);
}
} // namespace scenetest
