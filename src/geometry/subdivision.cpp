// Loop and Catmull-Clark subdivision over flat arrays.
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/geometry/subdivision.h>

#include <climits>
#include <new>

namespace
{
constexpr unsigned kBorderPoint = 0x10;

// Gathers the indices of faces that all have `corners` corners into one array; false for any
// other face or an index outside [0, pointCount).
bool GatherCorners(const CFaceList& faces, int corners, int pointCount, std::vector<int>& out)
{
    size_t faceCount = size_t(faces.GetSize());
    out.resize(faceCount * size_t(corners));
    bool ok = true;
    faces.ForEachFace(
        [&](unsigned f, const int* indices, unsigned count)
        {
            if (!ok || count != unsigned(corners))
            {
                ok = false;
                return;
            }
            int* dst = out.data() + size_t(f) * size_t(corners);
            for (unsigned i = 0; i < count; ++i)
            {
                if (indices[i] < 0 || indices[i] >= pointCount)
                    ok = false;
                dst[i] = indices[i];
            }
        });
    return ok;
}

// Appends the four children of every face, built by `child(face, k, out)` writing `corners`
// indices, then copies each parent's data onto its children.
template <class ChildFn>
bool BuildChildren(const CFaceList& faces, int corners, unsigned pointCount, CFaceList& out,
                   ChildFn child)
{
    size_t faceCount = size_t(faces.GetSize());
    std::vector<int> indices(faceCount * 4 * size_t(corners));
    for (size_t f = 0; f < faceCount; ++f)
        for (int k = 0; k < 4; ++k)
            child(f, k, indices.data() + (f * 4 + size_t(k)) * size_t(corners));
    out.Inherit(faces);
    out.RemoveAll();
    out.SetPointBound(pointCount);
    if (!out.Reserve(unsigned(faceCount * 4), uint64_t(indices.size())) ||
        !out.AddFaces(indices.data(), unsigned(faceCount * 4), unsigned(corners), pointCount))
        return false;
    std::vector<unsigned> parent(faceCount * 4);
    for (size_t i = 0; i < parent.size(); ++i)
        parent[i] = unsigned(i / 4);
    return out.CopyFacesData(0, faces, parent.data(), unsigned(parent.size()));
}

// The corners of child \p k of a face with corners \p v and side edges \p e: corner children
// (k < corners) join their corner, the edge point after it and, for quadrangles, the face
// point and the edge point before; Loop's middle child (k == 3) joins the three edge points.
void ChildCorners(int corners, const int* v, const int* e, int edgeBase, int facePoint, int k,
                  int* c)
{
    if (corners == 3)
    {
        if (k < 3)
        {
            c[0] = v[k];
            c[1] = edgeBase + e[k];
            c[2] = edgeBase + e[(k + 2) % 3];
        }
        else
        {
            c[0] = edgeBase + e[0];
            c[1] = edgeBase + e[1];
            c[2] = edgeBase + e[2];
        }
        return;
    }
    c[0] = v[k];
    c[1] = edgeBase + e[k];
    c[2] = facePoint;
    c[3] = edgeBase + e[(k + 3) % 4];
}

// Linear means of generic points: out[target] = mean of the listed sources.
void SetMean(CPointView<CPt>& out, const CPointView<const CPt>& in, const int* sources, int count,
             size_t target)
{
    C4DPoint sum, value;
    for (int i = 0; i < count; ++i)
    {
        in[size_t(sources[i])].To4DPoint(value);
        if (i == 0)
            sum = value;
        else
            sum += value;
    }
    sum /= double(count);
    out[target] = sum;
}
} // namespace

bool CSubdivider::NumberSides(const int* indices, size_t faceCount, int corners, int pointCount,
                              CSides& sides)
{
    size_t sideCount = faceCount * size_t(corners);
    // Bucket every side by its smaller point (counting sort), then number the distinct larger
    // points within each bucket: buckets hold about one valence, so the scan stays short.
    std::vector<int> start(size_t(pointCount) + 1, 0);
    for (size_t s = 0; s < sideCount; ++s)
    {
        size_t f = s / size_t(corners);
        int i = int(s % size_t(corners));
        int a = indices[s], b = indices[f * size_t(corners) + size_t((i + 1) % corners)];
        ++start[size_t(a < b ? a : b) + 1];
    }
    for (int p = 0; p < pointCount; ++p)
        start[size_t(p) + 1] += start[size_t(p)];
    std::vector<int> bucket(sideCount);
    {
        std::vector<int> fill(start.begin(), start.end() - 1);
        for (size_t s = 0; s < sideCount; ++s)
        {
            size_t f = s / size_t(corners);
            int i = int(s % size_t(corners));
            int a = indices[s], b = indices[f * size_t(corners) + size_t((i + 1) % corners)];
            bucket[size_t(fill[size_t(a < b ? a : b)]++)] = int(s);
        }
    }
    sides.sideEdge.assign(sideCount, -1);
    sides.edgeA.clear();
    sides.edgeB.clear();
    sides.edgeFaces.clear();
    sides.edgeA.reserve(sideCount / 2 + 8);
    sides.edgeB.reserve(sideCount / 2 + 8);
    sides.edgeFaces.reserve(sideCount / 2 + 8);
    for (int a = 0; a < pointCount; ++a)
    {
        size_t firstEdge = sides.edgeA.size();
        for (int k = start[size_t(a)]; k < start[size_t(a) + 1]; ++k)
        {
            size_t s = size_t(bucket[size_t(k)]);
            size_t f = s / size_t(corners);
            int i = int(s % size_t(corners));
            int p = indices[s], q = indices[f * size_t(corners) + size_t((i + 1) % corners)];
            int b = p < q ? q : p;
            size_t e = firstEdge;
            while (e < sides.edgeA.size() && sides.edgeB[e] != b)
                ++e;
            if (e == sides.edgeA.size())
            {
                sides.edgeA.push_back(a);
                sides.edgeB.push_back(b);
                sides.edgeFaces.push_back(0);
            }
            if (sides.edgeFaces[e] < 255)
                ++sides.edgeFaces[e];
            sides.sideEdge[s] = int(e);
        }
    }
    return true;
}

bool CSubdivider::Subdivide(const C3DPointList& points, const CFaceList& faces,
                            C3DPointList& outPoints, CFaceList& outFaces)
{
    const int corners = int(m_Scheme);
    const int pointCount = points.GetSize();
    const size_t faceCount = size_t(faces.GetSize());
    if (&outPoints == &points || &outFaces == &faces)
        return false;
    try
    {
        std::vector<int> idx;
        if (!GatherCorners(faces, corners, pointCount, idx))
            return false;
        CSides sides;
        NumberSides(idx.data(), faceCount, corners, pointCount, sides);
        const size_t edgeCount = sides.edgeA.size();
        const size_t facePointCount = m_Scheme == _CatmullClark ? faceCount : 0;
        const size_t total = size_t(pointCount) + edgeCount + facePointCount;
        if (total > size_t(INT_MAX) || faceCount * 4 > size_t(UINT_MAX / 2))
            return false;

        auto in = points.GetPointView();
        auto pos = [&](int p) -> const C3DTPoint<float>& { return in[size_t(p)]; };

        // Neighbour sums over distinct edges, and border points from edges of one face.
        std::vector<double> nsum(size_t(pointCount) * 3, 0.0);
        std::vector<int> valence(size_t(pointCount), 0);
        std::vector<uint8_t> border(size_t(pointCount), 0);
        for (size_t e = 0; e < edgeCount; ++e)
        {
            int a = sides.edgeA[e], b = sides.edgeB[e];
            const auto &pa = pos(a), &pb = pos(b);
            nsum[size_t(a) * 3] += pb.m_X;
            nsum[size_t(a) * 3 + 1] += pb.m_Y;
            nsum[size_t(a) * 3 + 2] += pb.m_Z;
            nsum[size_t(b) * 3] += pa.m_X;
            nsum[size_t(b) * 3 + 1] += pa.m_Y;
            nsum[size_t(b) * 3 + 2] += pa.m_Z;
            ++valence[size_t(a)];
            ++valence[size_t(b)];
            if (sides.edgeFaces[e] == 1)
                border[size_t(a)] = border[size_t(b)] = 1;
        }

        // Per edge: the sum of the opposite corners (Loop) or of the face points (Catmull-Clark).
        std::vector<float> facePoints(facePointCount * 3);
        for (size_t f = 0; f < facePointCount; ++f)
        {
            double x = 0, y = 0, z = 0;
            for (int i = 0; i < 4; ++i)
            {
                const auto& p = pos(idx[f * 4 + size_t(i)]);
                x += p.m_X;
                y += p.m_Y;
                z += p.m_Z;
            }
            facePoints[f * 3] = float(x * 0.25);
            facePoints[f * 3 + 1] = float(y * 0.25);
            facePoints[f * 3 + 2] = float(z * 0.25);
        }
        std::vector<double> esum(edgeCount * 3, 0.0);
        std::vector<double> dsum; // diagonal corners per point (Catmull-Clark)
        std::vector<int> diagonals;
        if (m_Scheme == _CatmullClark)
        {
            dsum.assign(size_t(pointCount) * 3, 0.0);
            diagonals.assign(size_t(pointCount), 0);
        }
        for (size_t f = 0; f < faceCount; ++f)
            for (int i = 0; i < corners; ++i)
            {
                size_t e = size_t(sides.sideEdge[f * size_t(corners) + size_t(i)]);
                if (m_Scheme == _Loop)
                {
                    const auto& o = pos(idx[f * 3 + size_t((i + 2) % 3)]);
                    esum[e * 3] += o.m_X;
                    esum[e * 3 + 1] += o.m_Y;
                    esum[e * 3 + 2] += o.m_Z;
                }
                else
                {
                    esum[e * 3] += facePoints[f * 3];
                    esum[e * 3 + 1] += facePoints[f * 3 + 1];
                    esum[e * 3 + 2] += facePoints[f * 3 + 2];
                    int p = idx[f * 4 + size_t(i)];
                    const auto& d = pos(idx[f * 4 + size_t((i + 2) % 4)]);
                    dsum[size_t(p) * 3] += d.m_X;
                    dsum[size_t(p) * 3 + 1] += d.m_Y;
                    dsum[size_t(p) * 3 + 2] += d.m_Z;
                    ++diagonals[size_t(p)];
                }
            }

        // Everything is checked: from here on only the outputs are written.
        outPoints = points;
        if (!outPoints.SetSize(int(total)))
            return false;
        auto out = outPoints.GetPointView();
        for (int p = 0; p < pointCount; ++p)
        {
            C3DTPoint<float>& q = out[size_t(p)];
            if (border[size_t(p)])
            {
                q.SetFlags(kBorderPoint, true);
                continue;
            }
            int n = valence[size_t(p)];
            if (n == 0)
                continue; // a point no face uses stays as it is
            const double* s = &nsum[size_t(p) * 3];
            if (m_Scheme == _Loop)
            {
                float beta = n == 3 ? 0.1875f : 0.375f / float(n);
                double keep = 1.0 - double(n) * double(beta);
                q.Set(float(beta * s[0] + keep * q.m_X), float(beta * s[1] + keep * q.m_Y),
                      float(beta * s[2] + keep * q.m_Z));
                q.SetFlags(0);
            }
            else if (diagonals[size_t(p)] == n)
            {
                double beta = 1.5 / n, gamma = 0.25 / n;
                const double* d = &dsum[size_t(p) * 3];
                double keep = 1.0 - beta - gamma;
                q.Set(float(keep * q.m_X + beta / n * s[0] + gamma / n * d[0]),
                      float(keep * q.m_Y + beta / n * s[1] + gamma / n * d[1]),
                      float(keep * q.m_Z + beta / n * s[2] + gamma / n * d[2]));
            }
        }
        for (size_t e = 0; e < edgeCount; ++e)
        {
            const auto &a = pos(sides.edgeA[e]), &b = pos(sides.edgeB[e]);
            const double* s = &esum[e * 3];
            C3DTPoint<float>& q = out[size_t(pointCount) + e];
            if (sides.edgeFaces[e] == 2)
            {
                if (m_Scheme == _Loop)
                    q.Set(float(0.375 * (double(a.m_X) + b.m_X) + 0.125 * s[0]),
                          float(0.375 * (double(a.m_Y) + b.m_Y) + 0.125 * s[1]),
                          float(0.375 * (double(a.m_Z) + b.m_Z) + 0.125 * s[2]));
                else
                    q.Set(float(0.25 * (double(a.m_X) + b.m_X + s[0])),
                          float(0.25 * (double(a.m_Y) + b.m_Y + s[1])),
                          float(0.25 * (double(a.m_Z) + b.m_Z + s[2])));
            }
            else
                q.Set(float(0.5 * (double(a.m_X) + b.m_X)), float(0.5 * (double(a.m_Y) + b.m_Y)),
                      float(0.5 * (double(a.m_Z) + b.m_Z)));
        }
        for (size_t f = 0; f < facePointCount; ++f)
            out[size_t(pointCount) + edgeCount + f].Set(facePoints[f * 3], facePoints[f * 3 + 1],
                                                        facePoints[f * 3 + 2]);

        const int edgeBase = pointCount;
        const int faceBase = pointCount + int(edgeCount);
        const int* sideEdge = sides.sideEdge.data();
        bool built = BuildChildren(faces, corners, unsigned(total), outFaces,
                                   [&](size_t f, int k, int* c)
                                   {
                                       ChildCorners(corners, idx.data() + f * size_t(corners),
                                                    sideEdge + f * size_t(corners), edgeBase,
                                                    faceBase + int(f), k, c);
                                   });
        if (!built)
            return false;
        m_PointCount = pointCount;
        m_FaceCount = faceCount;
        m_SideEdge.swap(sides.sideEdge);
        m_EdgeA.swap(sides.edgeA);
        m_EdgeB.swap(sides.edgeB);
        m_Corners.swap(idx);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CSubdivider::SubdivideCornerAttribute(const CPointList& attrPoints,
                                           const CFaceList& attrFaces, CPointList& outPoints,
                                           CFaceList& outFaces) const
{
    const int corners = int(m_Scheme);
    const int pointCount = attrPoints.GetSize();
    if (m_PointCount < 0 || size_t(attrFaces.GetSize()) != m_FaceCount ||
        &outPoints == &attrPoints || &outFaces == &attrFaces)
        return false;
    try
    {
        std::vector<int> idx;
        if (!GatherCorners(attrFaces, corners, pointCount, idx))
            return false;
        CSides sides;
        NumberSides(idx.data(), m_FaceCount, corners, pointCount, sides);
        const size_t edgeCount = sides.edgeA.size();
        const size_t facePointCount = m_Scheme == _CatmullClark ? m_FaceCount : 0;
        const size_t total = size_t(pointCount) + edgeCount + facePointCount;
        if (total > size_t(INT_MAX))
            return false;

        outPoints = attrPoints;
        if (!outPoints.SetSize(int(total)))
            return false;
        auto in = attrPoints.GetPtView();
        auto out = outPoints.GetPtView();
        for (size_t e = 0; e < edgeCount; ++e)
        {
            const int ends[2] = {sides.edgeA[e], sides.edgeB[e]};
            SetMean(out, in, ends, 2, size_t(pointCount) + e);
        }
        for (size_t f = 0; f < facePointCount; ++f)
            SetMean(out, in, idx.data() + f * 4, 4, size_t(pointCount) + edgeCount + f);

        const int edgeBase = pointCount;
        const int faceBase = pointCount + int(edgeCount);
        const int* sideEdge = sides.sideEdge.data();
        return BuildChildren(attrFaces, corners, unsigned(total), outFaces,
                             [&](size_t f, int k, int* c)
                             {
                                 ChildCorners(corners, idx.data() + f * size_t(corners),
                                              sideEdge + f * size_t(corners), edgeBase,
                                              faceBase + int(f), k, c);
                             });
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CSubdivider::SubdividePointAttribute(const CPointList& attrPoints,
                                          CPointList& outPoints) const
{
    if (m_PointCount < 0 || attrPoints.GetSize() != m_PointCount || &outPoints == &attrPoints)
        return false;
    try
    {
        const size_t edgeCount = m_EdgeA.size();
        const size_t facePointCount = m_Scheme == _CatmullClark ? m_FaceCount : 0;
        const size_t total = size_t(m_PointCount) + edgeCount + facePointCount;
        outPoints = attrPoints;
        if (!outPoints.SetSize(int(total)))
            return false;
        auto in = attrPoints.GetPtView();
        auto out = outPoints.GetPtView();
        for (size_t e = 0; e < edgeCount; ++e)
        {
            const int ends[2] = {m_EdgeA[e], m_EdgeB[e]};
            SetMean(out, in, ends, 2, size_t(m_PointCount) + e);
        }
        for (size_t f = 0; f < facePointCount; ++f)
            SetMean(out, in, m_Corners.data() + f * 4, 4, size_t(m_PointCount) + edgeCount + f);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}
