// Groups and dummies: objects without geometry or parameters of their own beyond the dummy's
// type code, which lives in the custom data.
#include <3dzan/scene/group.h>

static_assert(C3DDummy::kTypeID == ZanTag("DYTY"));
static_assert(C3DDummy::_DummyVoid == ZanTag("VOID"));

ZAN_IMPLEMENT_DYNCREATE(C3DGroup, C3DBaseObject)
ZAN_IMPLEMENT_DYNCREATE(C3DDummy, C3DBaseObject)

C3DGroup::C3DGroup() : C3DBaseObject(_ObjectKindGroup) {}

C3DGroup::~C3DGroup() = default;

C3DDummy::C3DDummy() : C3DBaseObject(_ObjectKindDummy) {}

C3DDummy::~C3DDummy() = default;

C3DDummy::DummyType C3DDummy::GetType() const
{
    return DummyType(GetCustomData().GetUInt(kTypeID, _DummyVoid));
}

void C3DDummy::SetType(DummyType type)
{
    GetCustomData().SetUInt(kTypeID, unsigned(type));
}

unsigned C3DDummy::GetChecksum(unsigned) const
{
    return 0;
}
