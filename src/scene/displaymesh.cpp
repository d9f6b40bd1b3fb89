// Icons of the objects that have no geometry of their own. Each icon is assembled from closed
// convex pieces (boxes, frusta, cylinders, cones, spheres); after a piece is added, every one
// of its faces is turned so that its normal (Newell's method) points away from the centre of
// the piece's points, which orients a convex piece outwards whatever order its faces were
// written in. Pieces may touch or overlap: the viewer draws them as one mesh.
#include <3dzan/scene/displaymesh.h>

#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/geomobject.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <vector>

namespace
{
struct CV3
{
    double x = 0, y = 0, z = 0;
    CV3 operator+(const CV3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    CV3 operator-(const CV3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    CV3 operator*(double f) const { return {x * f, y * f, z * f}; }
    double Dot(const CV3& o) const { return x * o.x + y * o.y + z * o.z; }
};

// A frame for round pieces: w along the axis, u and v across it.
struct CFrame
{
    CV3 origin, u, v, w;
    CV3 At(double a, double b, double c) const { return origin + u * a + v * b + w * c; }
};

CFrame AxisFrame(const CV3& origin, int axis, double sign)
{
    // Right-handed (u, v, w) for each axis, w pointing along +axis or -axis.
    static const CV3 kAxes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    CV3 w = kAxes[axis] * sign;
    CV3 u = kAxes[(axis + 1) % 3];
    CV3 v = {w.y * u.z - w.z * u.y, w.z * u.x - w.x * u.z, w.x * u.y - w.y * u.x};
    return {origin, u, v, w};
}

class CIconBuilder
{
public:
    // Starts a closed piece: faces added until EndPiece are oriented outwards.
    void BeginPiece()
    {
        m_PiecePoint = int(m_Points.size());
        m_PieceFace = m_Faces.size();
    }
    void EndPiece()
    {
        CV3 centre;
        int count = int(m_Points.size()) - m_PiecePoint;
        for (int i = m_PiecePoint; i < int(m_Points.size()); ++i)
            centre = centre + m_Points[size_t(i)];
        centre = centre * (1.0 / count);
        for (size_t f = m_PieceFace; f < m_Faces.size(); ++f)
        {
            std::vector<int>& face = m_Faces[f];
            CV3 normal, middle;
            for (size_t i = 0; i < face.size(); ++i)
            {
                const CV3& a = m_Points[size_t(face[i])];
                const CV3& b = m_Points[size_t(face[(i + 1) % face.size()])];
                normal.x += (a.y - b.y) * (a.z + b.z);
                normal.y += (a.z - b.z) * (a.x + b.x);
                normal.z += (a.x - b.x) * (a.y + b.y);
                middle = middle + a;
            }
            middle = middle * (1.0 / double(face.size()));
            if (normal.Dot(middle - centre) < 0)
                std::reverse(face.begin(), face.end());
        }
    }

    int AddPoint(const CV3& p)
    {
        m_Points.push_back(p);
        return int(m_Points.size()) - 1;
    }
    void AddFace(std::vector<int> face) { m_Faces.push_back(std::move(face)); }

    // Eight corners in box order (bit 0: x side, bit 1: y side, bit 2: z side of the frame).
    void AddHexahedron(const CV3 (&corners)[8])
    {
        BeginPiece();
        int p[8];
        for (int i = 0; i < 8; ++i)
            p[i] = AddPoint(corners[i]);
        AddFace({p[0], p[2], p[6], p[4]});
        AddFace({p[1], p[3], p[7], p[5]});
        AddFace({p[0], p[1], p[5], p[4]});
        AddFace({p[2], p[3], p[7], p[6]});
        AddFace({p[0], p[1], p[3], p[2]});
        AddFace({p[4], p[5], p[7], p[6]});
        EndPiece();
    }
    void AddBox(const CV3& low, const CV3& high)
    {
        CV3 corners[8];
        for (int i = 0; i < 8; ++i)
            corners[i] = {(i & 1) ? high.x : low.x, (i & 2) ? high.y : low.y,
                          (i & 4) ? high.z : low.z};
        AddHexahedron(corners);
    }
    // A frustum along z between two rectangles of half-sizes (ax0, ay0) at z0 and (ax1, ay1)
    // at z1.
    void AddFrustumZ(double z0, double ax0, double ay0, double z1, double ax1, double ay1)
    {
        CV3 corners[8];
        for (int i = 0; i < 8; ++i)
        {
            bool far = (i & 4) != 0;
            double ax = far ? ax1 : ax0, ay = far ? ay1 : ay0;
            corners[i] = {(i & 1) ? ax : -ax, (i & 2) ? ay : -ay, far ? z1 : z0};
        }
        AddHexahedron(corners);
    }
    // A cylinder of n sides from w = 0 to w = length in the frame; with fans, its caps are
    // fans of triangles around a centre point instead of n-gons.
    void AddCylinder(const CFrame& frame, double radius, double length, int n, bool fans)
    {
        BeginPiece();
        int first = int(m_Points.size());
        for (int end = 0; end < 2; ++end)
            for (int i = 0; i < n; ++i)
            {
                double a = 2 * std::numbers::pi * i / n;
                AddPoint(frame.At(radius * std::cos(a), radius * std::sin(a), end * length));
            }
        for (int i = 0; i < n; ++i)
        {
            int j = (i + 1) % n;
            AddFace({first + i, first + j, first + n + j, first + n + i});
        }
        if (fans)
        {
            int centres[2] = {AddPoint(frame.At(0, 0, 0)), AddPoint(frame.At(0, 0, length))};
            for (int end = 0; end < 2; ++end)
                for (int i = 0; i < n; ++i)
                    AddFace({centres[end], first + end * n + i, first + end * n + (i + 1) % n});
        }
        else
        {
            for (int end = 0; end < 2; ++end)
            {
                std::vector<int> cap;
                for (int i = 0; i < n; ++i)
                    cap.push_back(first + end * n + i);
                AddFace(std::move(cap));
            }
        }
        EndPiece();
    }
    // A cone of n sides: base circle at w = 0, apex at w = length.
    void AddCone(const CFrame& frame, double radius, double length, int n, double turn = 0)
    {
        BeginPiece();
        int first = int(m_Points.size());
        std::vector<int> base;
        for (int i = 0; i < n; ++i)
        {
            double a = 2 * std::numbers::pi * i / n + turn;
            base.push_back(AddPoint(frame.At(radius * std::cos(a), radius * std::sin(a), 0)));
        }
        int apex = AddPoint(frame.At(0, 0, length));
        for (int i = 0; i < n; ++i)
            AddFace({first + i, first + (i + 1) % n, apex});
        AddFace(std::move(base));
        EndPiece();
    }
    // A sphere of `segments` meridians and `rings` parallels between its two poles.
    void AddSphere(const CV3& centre, double radius, int segments, int rings)
    {
        BeginPiece();
        int south = AddPoint(centre + CV3{0, 0, -radius});
        int first = int(m_Points.size());
        for (int r = 1; r <= rings; ++r)
        {
            double polar = std::numbers::pi * r / (rings + 1);
            for (int s = 0; s < segments; ++s)
            {
                double a = 2 * std::numbers::pi * s / segments;
                AddPoint(centre + CV3{radius * std::sin(polar) * std::cos(a),
                                      radius * std::sin(polar) * std::sin(a),
                                      -radius * std::cos(polar)});
            }
        }
        int north = AddPoint(centre + CV3{0, 0, radius});
        auto at = [&](int ring, int s) { return first + ring * segments + (s % segments); };
        for (int s = 0; s < segments; ++s)
        {
            AddFace({south, at(0, s + 1), at(0, s)});
            AddFace({north, at(rings - 1, s), at(rings - 1, s + 1)});
            for (int r = 0; r + 1 < rings; ++r)
                AddFace({at(r, s), at(r, s + 1), at(r + 1, s + 1), at(r + 1, s)});
        }
        EndPiece();
    }
    // An arrow down -z from (x, y, top): a square shaft and a square pyramid head.
    void AddArrowDown(double x, double y, double top, double shaftLength, double headLength,
                      double shaftHalf, double headHalf)
    {
        double bottom = top - shaftLength;
        AddBox({x - shaftHalf, y - shaftHalf, bottom}, {x + shaftHalf, y + shaftHalf, top});
        AddCone(AxisFrame({x, y, bottom}, 2, -1.0), headHalf * std::numbers::sqrt2, headLength, 4,
                std::numbers::pi / 4);
    }

    std::unique_ptr<C3DDisplayMesh> Build() const
    {
        try
        {
            auto mesh = std::make_unique<C3DDisplayMesh>();
            C3DPointList& points = mesh->GetPointList();
            if (!points.SetSize(int(m_Points.size())))
                return nullptr;
            auto view = points.GetPointView();
            for (size_t i = 0; i < m_Points.size(); ++i)
                view[i].Set(float(m_Points[i].x), float(m_Points[i].y), float(m_Points[i].z));
            C3DFaceList& faces = mesh->GetFaceList();
            faces.SetPointBound(points);
            uint64_t corners = 0;
            for (const auto& face : m_Faces)
                corners += face.size();
            if (!faces.Reserve(unsigned(m_Faces.size()), corners))
                return nullptr;
            for (const auto& face : m_Faces)
                if (faces.AddFace(face.data(), unsigned(face.size())) == kZanNone)
                    return nullptr;
            return mesh;
        }
        catch (const std::bad_alloc&)
        {
            return nullptr;
        }
    }

private:
    std::vector<CV3> m_Points;
    std::vector<std::vector<int>> m_Faces;
    int m_PiecePoint = 0;
    size_t m_PieceFace = 0;
};

double Clamp(double value, double fallback, double low, double high)
{
    if (!std::isfinite(value))
        return fallback;
    return std::clamp(value, low, high);
}
} // namespace

void C3DDisplayMesh::CListDeleter::operator()(C3DPointList* list) const
{
    if (list)
        list->Delete();
}

void C3DDisplayMesh::CListDeleter::operator()(C3DFaceList* list) const
{
    if (list)
        list->Delete();
}

C3DDisplayMesh::C3DDisplayMesh() : m_Points(C3DPointList::Create()), m_Faces(C3DFaceList::Create())
{
}

C3DDisplayMesh::~C3DDisplayMesh() = default;

int C3DDisplayMesh::GetPointNbr() const
{
    return m_Points->GetSize();
}

int C3DDisplayMesh::GetFaceNbr() const
{
    return m_Faces->GetSize();
}

C3DObject* C3DDisplayMesh::CreateObject() const
{
    C3DObject* object = nullptr;
    try
    {
        object = new C3DObject;
        object->SetFaceList(C3DFaceList::Create(), true);
        object->SetPointList(C3DPointList::Create(), true);
        *object->GetFaceList() = *m_Faces;
        *object->GetPointList() = *m_Points;
    }
    catch (const std::bad_alloc&)
    {
        if (object)
            object->Delete();
        return nullptr;
    }
    if (object->GetFaceNbr() != GetFaceNbr()) // the face copy reports a shortage by its size
    {
        object->Delete();
        return nullptr;
    }
    return object;
}

std::unique_ptr<C3DDisplayMesh> C3DDisplayMesh::CreateCameraIcon(double fov, double aspect)
{
    fov = Clamp(fov, std::numbers::pi / 4, 0.01, 3.1);
    if (!std::isfinite(aspect) || aspect <= 0.0)
        aspect = 1.0;
    float height = std::tan(float(fov) / 2.0f) * 100.0f / 50.0f;
    float width = float(height / aspect);
    if (!std::isfinite(width)) // an aspect ratio close to 0
        width = height;
    double halfW = width / 2.0, halfH = height / 2.0;

    CIconBuilder icon;
    icon.AddBox({-0.2, -0.3, 0.0}, {0.2, 0.3, 1.0});       // body, behind the eye
    icon.AddFrustumZ(0.0, 0.12, 0.12, -1.0, halfW, halfH); // lens out to the opening
    for (double z : {0.28, 0.74})                          // film reels on top, turning about x
        icon.AddCylinder(AxisFrame({-0.06, 0.52, z}, 0, 1.0), 0.22, 0.12, 12, false);
    // "Up": a flat triangle above the opening, one face for each side.
    int a = icon.AddPoint({-0.6 * halfW, 1.1 * halfH, -1.0});
    int b = icon.AddPoint({0.6 * halfW, 1.1 * halfH, -1.0});
    int c = icon.AddPoint({0.0, 1.6 * halfH, -1.0});
    icon.AddFace({a, b, c});
    icon.AddFace({a, c, b});
    return icon.Build();
}

std::unique_ptr<C3DDisplayMesh> C3DDisplayMesh::CreateDirectionalLightIcon()
{
    CIconBuilder icon;
    icon.AddCylinder(AxisFrame({0, 0, 0}, 2, 1.0), 0.4, 0.06, 8, true); // the source
    for (double x : {-0.2, 0.2})
        for (double y : {-0.2, 0.2})
            icon.AddArrowDown(x, y, 0.0, 0.6, 0.25, 0.03, 0.09);
    return icon.Build();
}

std::unique_ptr<C3DDisplayMesh> C3DDisplayMesh::CreateOmniLightIcon()
{
    CIconBuilder icon;
    icon.AddSphere({0, 0, 0}, 0.25, 9, 5);
    for (int axis = 0; axis < 3; ++axis)
        for (double sign : {-1.0, 1.0})
        {
            CV3 base;
            (axis == 0 ? base.x : axis == 1 ? base.y : base.z) = 0.3 * sign;
            icon.AddCone(AxisFrame(base, axis, sign), 0.07, 0.3, 4);
        }
    return icon.Build();
}

std::unique_ptr<C3DDisplayMesh> C3DDisplayMesh::CreateSpotLightIcon(double outerAngle)
{
    double half = Clamp(outerAngle, std::numbers::pi / 6, 0.01, 2.8) / 2.0;
    CIconBuilder icon;
    icon.AddCylinder(AxisFrame({0, 0, 0.05}, 2, 1.0), 0.15, 0.3, 8, false); // housing
    icon.AddSphere({0, 0, 0}, 0.1, 9, 5);                                   // bulb
    // The light cone: apex at the bulb, base at distance 1 down -z.
    icon.AddCone(AxisFrame({0, 0, -1.0}, 2, 1.0), std::tan(half), 1.0, 22);
    return icon.Build();
}

CDisplayMeshHolder::~CDisplayMeshHolder()
{
    Release();
}

void CDisplayMeshHolder::Release()
{
    m_Mesh.reset();
    if (m_FinalObject)
        m_FinalObject->DeleteMe();
    m_FinalObject = nullptr;
}

C3DObject* CDisplayMeshHolder::GetFinalObject(const C3DDisplayMesh* mesh, C3DScene* scene,
                                              bool detach)
{
    if (!m_FinalObject)
    {
        m_FinalObject = mesh ? mesh->CreateObject() : nullptr;
        if (!m_FinalObject)
            return nullptr;
        m_FinalObject->SetScene(scene);
    }
    C3DObject* object = m_FinalObject;
    if (detach)
        m_FinalObject = nullptr;
    return object;
}
