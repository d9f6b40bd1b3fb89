// Stand-ins for the texture-coordinate operations of the geometric objects, so that the
// scene-wide passes that call them link before those operations exist. They report that
// nothing was changed.
#include <3dzan/scene/geomobject.h>

bool C3DGeomObject::GenerateUVW(C3DScene*)
{
    return false;
}

bool C3DGeomObject::DisconnectBorderFaces(unsigned, unsigned, unsigned)
{
    return false;
}
