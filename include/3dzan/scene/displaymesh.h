/// \file displaymesh.h
/// \brief C3DDisplayMesh, the small mesh through which the viewer draws an object that has no
///        geometry of its own (a camera, a light), and the icons the library builds.
///
/// Every icon is made of closed convex pieces whose faces turn their front (counter-clockwise
/// seen from outside, right-handed) outwards; the camera's "up" marker is a flat triangle
/// with one face for each side. Icons are in the object's own axes: cameras look and lights
/// shine down -Z, +Y is up, and the sizes are around one unit, so that the camera's opening
/// sits at distance 1 and spans exactly its field of view.
#pragma once

#include <3dzan/foundation/zandefs.h>

#include <memory>

class C3DPointList;
class C3DFaceList;
class C3DObject;
class C3DScene;

/// \brief A point list and a face list owned together (each released with Delete).
///
/// The face list's point bound is the point count, so every index is valid for the points.
class ZAN_API C3DDisplayMesh
{
public:
    /// \brief Point counts of the icons.
    static constexpr int kCameraPointNbr = 67;
    static constexpr int kDirectionalPointNbr = 70;
    static constexpr int kOmniPointNbr = 77;
    static constexpr int kSpotPointNbr = 86;

    /// \brief An empty mesh (two empty lists).
    /// \throw std::bad_alloc when the lists cannot be had.
    C3DDisplayMesh();
    ~C3DDisplayMesh();
    C3DDisplayMesh(const C3DDisplayMesh&) = delete;
    C3DDisplayMesh& operator=(const C3DDisplayMesh&) = delete;

    C3DPointList& GetPointList() { return *m_Points; }
    const C3DPointList& GetPointList() const { return *m_Points; }
    C3DFaceList& GetFaceList() { return *m_Faces; }
    const C3DFaceList& GetFaceList() const { return *m_Faces; }
    int GetPointNbr() const;
    int GetFaceNbr() const;
    /// \brief A new polygonal object (one holder, the caller's) with copies of the two lists.
    /// \return null when memory is short.
    C3DObject* CreateObject() const;

    /// \brief The camera icon: a body with two film reels, a lens that opens to a rectangle at
    ///        distance 1 and a triangle above the opening that shows "up".
    ///
    /// The opening's height is tan(fov / 2) × 100 / 50 in single precision and its width that
    /// height divided by \p aspect; its corners sit at plus and minus half of each. A field of
    /// view that is not finite is taken as π/4, one outside [0.01, 3.1] is clamped to it; an
    /// aspect ratio that is not a finite positive number is taken as 1.
    /// \return the mesh, or null when memory is short.
    static std::unique_ptr<C3DDisplayMesh> CreateCameraIcon(double fov, double aspect);
    /// \brief The directional light: a disc with four parallel arrows down -Z.
    static std::unique_ptr<C3DDisplayMesh> CreateDirectionalLightIcon();
    /// \brief The omni light: a ball with six spikes along the axes.
    static std::unique_ptr<C3DDisplayMesh> CreateOmniLightIcon();
    /// \brief The spot light: a housing, a bulb and a cone of length 1 down -Z whose base
    ///        radius is tan(outerAngle / 2). An angle that is not finite is taken as π/6, one
    ///        outside [0.01, 2.8] radians is clamped to it.
    static std::unique_ptr<C3DDisplayMesh> CreateSpotLightIcon(double outerAngle);

private:
    struct CListDeleter
    {
        void operator()(C3DPointList* list) const;
        void operator()(C3DFaceList* list) const;
    };
    std::unique_ptr<C3DPointList, CListDeleter> m_Points;
    std::unique_ptr<C3DFaceList, CListDeleter> m_Faces;
};

/// \brief What a camera or a light keeps of its icon: the display mesh, built on first demand,
///        and the polygonal object made from it for callers that ask for a final object.
class ZAN_API CDisplayMeshHolder
{
public:
    CDisplayMeshHolder() = default;
    ~CDisplayMeshHolder();
    CDisplayMeshHolder(const CDisplayMeshHolder&) = delete;
    CDisplayMeshHolder& operator=(const CDisplayMeshHolder&) = delete;

    /// \brief The mesh, made by \p build (returning a std::unique_ptr<C3DDisplayMesh>, null
    ///        allowed) the first time.
    template <class Build> const C3DDisplayMesh* Get(Build&& build)
    {
        if (!m_Mesh)
            m_Mesh = build();
        return m_Mesh.get();
    }
    bool HasMesh() const { return m_Mesh != nullptr; }
    /// \brief Drops the mesh and the final object.
    void Release();
    /// \brief The polygonal copy of \p mesh (the holder's own), made on first demand and
    ///        given \p scene; with \p detach the caller takes it. Null without a mesh.
    C3DObject* GetFinalObject(const C3DDisplayMesh* mesh, C3DScene* scene, bool detach);

private:
    std::unique_ptr<C3DDisplayMesh> m_Mesh;
    C3DObject* m_FinalObject = nullptr; ///< owned (one holder)
};
