/// \file group.h
/// \brief C3DGroup, the object of a node that only contains other nodes, and C3DDummy, a
///        marker object with a type code.
#pragma once

#include <3dzan/scene/baseobject.h>

/// \brief The object of a pure container node (the scene root carries one). No field of its
///        own; its checksum is the base one (kind << 4).
class ZAN_API C3DGroup : public C3DBaseObject
{
    ZAN_DECLARE_DYNCREATE(C3DGroup)

public:
    C3DGroup();
    ~C3DGroup() override;
};

/// \brief A marker object: a position in the scene with a type code and no geometry.
///
/// The type is a four-character code kept in the custom data under "DYTY" (0x44595459), so it
/// travels with the object in archives and copies; without it the type is "VOID".
class ZAN_API C3DDummy : public C3DBaseObject
{
    ZAN_DECLARE_DYNCREATE(C3DDummy)

public:
    /// \brief Type codes of a dummy. Any four-character code may be stored; "VOID" is the
    ///        type of a dummy that was never given one.
    enum DummyType : uint32_t
    {
        _DummyVoid = 0x564F4944 ///< "VOID"
    };
    /// \brief The custom-data id of the type.
    static constexpr unsigned kTypeID = 0x44595459; // "DYTY"

    C3DDummy();
    ~C3DDummy() override;

    /// \brief The stored type; _DummyVoid when none was stored.
    DummyType GetType() const;
    void SetType(DummyType type);

    /// \brief A dummy has nothing to compare beyond its parameters: 0.
    unsigned GetChecksum(unsigned flags) const override;
};
