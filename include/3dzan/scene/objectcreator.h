/// \file objectcreator.h
/// \brief C3DObjectCreator, the factory every copy and conversion asks for new objects and
///        lists.
///
/// A caller that passes its own creator (a class derived from this one) decides which nodes a
/// copy takes (CanProcess), what class each new object has (GetNewObjectFrom and the typed
/// factories), which lists new geometric objects get (GetNewFaceList, GetNewPointList) and how
/// objects are converted (ConvertToType). A caller that passes none gets this default one,
/// which makes empty objects of the same kind as their source.
///
/// C3DMeshObjectCreator turns whatever it copies into a polygonal object; it is how a patch
/// hands out a plain mesh copy of its control mesh.
#pragma once

#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/hashmap.h>
#include <3dzan/scene/baseobject.h>

class C3DSceneNode;
class C3DPointList;
class C3DFaceList;

/// \brief The default object factory. A plain value: make one on the stack for one copy or
///        conversion. Objects and lists it returns have one holder, the caller's, who attaches
///        them or releases them with DeleteMe.
class ZAN_API C3DObjectCreator
{
public:
    /// \brief Slots the instance map starts with (before rounding up to a prime).
    static constexpr unsigned kInstanceMapSize = 101;

    C3DObjectCreator();
    /// \brief Copies the parameters; the copy starts with an empty instance map, which belongs
    ///        to the copy operation in progress.
    C3DObjectCreator(const C3DObjectCreator& src);
    C3DObjectCreator& operator=(const C3DObjectCreator& src);
    virtual ~C3DObjectCreator();

    /// \brief The object to put on \p node in place of \p object. The default proposes
    ///        \p object itself (no conversion).
    virtual C3DBaseObject* ConvertToType(C3DSceneNode* node, C3DBaseObject* object);
    /// \brief A new, empty object of \p source's kind; \p isNew is set to true.
    ///
    /// Kinds 1, 2, 4, 8, 16, 32 and 64 give GetNewPolygonalObject, GetNewCurveObject,
    /// GetNewPatchObject, GetNewGroupObject, GetNewDummy, GetNewCamera and GetNewLight. Any
    /// other kind and a null source give null.
    virtual C3DBaseObject* GetNewObjectFrom(const C3DBaseObject* source, bool& isNew);
    /// \brief Whether a copy or conversion takes \p node and its \p object: true here.
    virtual bool CanProcess(const C3DSceneNode* node, const C3DBaseObject* object);
    /// \brief A new empty C3DFaceList with no model; null when memory is short.
    virtual C3DFaceList* GetNewFaceList();
    /// \brief A new empty C3DPointList with no model; null when memory is short.
    virtual C3DPointList* GetNewPointList();
    /// \brief A new C3DObject with a face list from GetNewFaceList and a point list from
    ///        GetNewPointList (both owned by the object); null when memory is short.
    virtual C3DBaseObject* GetNewPolygonalObject();
    /// \brief A new C3DCurve with a point list from GetNewPointList and no face list.
    virtual C3DBaseObject* GetNewCurveObject();
    /// \brief A new C3DPatch with lists as GetNewPolygonalObject gives them.
    virtual C3DBaseObject* GetNewPatchObject();
    /// \brief New default objects of each non-geometric kind; null when memory is short.
    virtual C3DBaseObject* GetNewGroupObject();
    virtual C3DBaseObject* GetNewDummy();
    virtual C3DBaseObject* GetNewCamera();
    virtual C3DBaseObject* GetNewLight();

    /// \name Parameters (not read by the default operations)
    /// \{
    CCustomData& GetParameters() { return m_Parameters; }
    const CCustomData& GetParameters() const { return m_Parameters; }
    /// \}

    /// \name Instance map: source object ID to the ID of its copy
    /// \{
    /// \brief Records that the object \p sourceID was copied as \p copyID (replacing an
    ///        earlier record).
    void AddInstanceID(unsigned sourceID, unsigned copyID);
    /// \brief The ID of the copy of \p sourceID, 0xFFFFFFFF when it was not copied yet.
    unsigned GetInstanceID(unsigned sourceID) const;
    /// \brief Number of recorded copies.
    unsigned GetInstanceNbr() const { return m_InstanceMap.GetCount(); }
    /// \brief Forgets every recorded copy.
    void ResetInstanceMap();
    CHashMap<unsigned, unsigned>& GetInstanceMap() { return m_InstanceMap; }
    const CHashMap<unsigned, unsigned>& GetInstanceMap() const { return m_InstanceMap; }
    /// \}

private:
    template <class T> C3DBaseObject* NewMeshObject();

    CCustomData m_Parameters;
    CHashMap<unsigned, unsigned> m_InstanceMap;
};

/// \brief A creator that makes a polygonal object of every copy, whatever the source's kind
///        (how a patch hands out a plain mesh copy of its control mesh).
class ZAN_API C3DMeshObjectCreator : public C3DObjectCreator
{
public:
    C3DMeshObjectCreator() = default;
    ~C3DMeshObjectCreator() override;
    /// \brief Sets \p isNew and returns GetNewPolygonalObject.
    C3DBaseObject* GetNewObjectFrom(const C3DBaseObject* source, bool& isNew) override;
};
