// Neutral stand-ins for the scene-wide and texture-coordinate operations that the checkout and
// the export preparation call, so that this branch links on its own: each does nothing and
// gives the "nothing changed" answer.
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/sceneoptions.h>

C3DSceneNode* C3DScene::Concatenate(C3DSceneNode*, const CXTString&, unsigned, C3DFilter*,
                                    C3DGeomObject*)
{
    return nullptr;
}

int C3DScene::ConcatenateByMaterials(C3DSceneNode*, bool, C3DFilterByMaterial*)
{
    return 0;
}

int C3DScene::ConvertToGlobalCoordinates(C3DSceneNode*)
{
    return 0;
}

bool C3DScene::SwapCoordinates(int)
{
    return false;
}

bool C3DScene::OrientScene(_UP_AXIS_MODE, bool)
{
    return false;
}

void C3DScene::Scale(const C3DTVector<float>&) {}

bool C3DScene::GenerateUVW()
{
    return false;
}

void C3DScene::RemoveGroups() {}

bool C3DScene::MakeGroupForChilds(C3DSceneNode*)
{
    return false;
}

bool C3DScene::MoveTextures(const CXTString&, const CXTString&, CSceneExportOptions*)
{
    return false;
}

unsigned C3DGeomObject::GlobalizeChannels(C3DScene*, bool)
{
    return kZanNone;
}

bool C3DGeomObject::DisconnectBorderFaces(unsigned, unsigned, unsigned)
{
    return false;
}
