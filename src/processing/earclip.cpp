// Ear clipping of one polygon in its plane (see earclip.h). Corners that the ear test must
// look at are only the reflex ones: a corner only turns reflex by input, never by clipping a
// valid ear, so the reflex list shrinks as the ring does and a convex polygon skips the test.
#include "earclip.h"

#include <algorithm>
#include <cmath>

namespace zan_detail
{
namespace
{
// Rings up to this size look for their smallest corner by a scan; larger ones keep a heap.
constexpr unsigned kScanLimit = 32;
constexpr double kWalkLimit = 1.58;

inline double TurningAngle(double cx, double cy, double nx, double ny, double px, double py)
{
    double ax = nx - cx, ay = ny - cy, bx = px - cx, by = py - cy;
    return std::atan2(ax * by - ay * bx, ax * bx + ay * by);
}

// Heap order: smallest angle first, then lowest position.
inline bool HeapAfter(double a1, unsigned p1, double a2, unsigned p2)
{
    return a1 > a2 || (a1 == a2 && p1 > p2);
}
} // namespace

bool ProjectPolygon(const CPositionView& points, const int* indices, unsigned count, double* xy)
{
    if (count == 0 || !indices)
        return false;
    const size_t pointNbr = points.GetCount();
    for (unsigned k = 0; k < count; ++k)
        if (unsigned(indices[k]) >= pointNbr)
            return false;
    const C3DTPoint<float>& origin = points[unsigned(indices[0])];
    double nx = 0, ny = 0, nz = 0;
    const C3DTPoint<float>* q = &points[unsigned(indices[count - 1])];
    for (unsigned k = 0; k < count; ++k)
    {
        const C3DTPoint<float>& p = points[unsigned(indices[k])];
        nx += (double(q->m_Y) - p.m_Y) * (double(q->m_Z) + p.m_Z);
        ny += (double(q->m_Z) - p.m_Z) * (double(q->m_X) + p.m_X);
        nz += (double(q->m_X) - p.m_X) * (double(q->m_Y) + p.m_Y);
        q = &p;
    }
    // A NaN or infinite coordinate spreads into the normal.
    if (!std::isfinite(nx + ny + nz))
        return false;
    double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    double u[3] = {0, 0, 0}, v[3] = {0, 0, 0};
    if (length > 0)
    {
        nx /= length, ny /= length, nz /= length;
        // u is perpendicular to the normal, built on the axis the normal leans on least;
        // v = n × u makes (u, v, n) right-handed, so the polygon turns counter-clockwise.
        double ax = std::fabs(nx), ay = std::fabs(ny), az = std::fabs(nz);
        if (ax <= ay && ax <= az)
            u[1] = nz, u[2] = -ny;
        else if (ay <= az)
            u[0] = -nz, u[2] = nx;
        else
            u[0] = ny, u[1] = -nx;
        double ul = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
        u[0] /= ul, u[1] /= ul, u[2] /= ul;
        v[0] = ny * u[2] - nz * u[1];
        v[1] = nz * u[0] - nx * u[2];
        v[2] = nx * u[1] - ny * u[0];
    }
    else
    {
        // No area to orient by: keep the two axes along which the polygon spreads most.
        double lo[3] = {origin.m_X, origin.m_Y, origin.m_Z}, hi[3] = {lo[0], lo[1], lo[2]};
        for (unsigned k = 1; k < count; ++k)
        {
            const C3DTPoint<float>& p = points[unsigned(indices[k])];
            const double c[3] = {p.m_X, p.m_Y, p.m_Z};
            for (int a = 0; a < 3; ++a)
                lo[a] = std::min(lo[a], c[a]), hi[a] = std::max(hi[a], c[a]);
        }
        int drop = 0;
        for (int a = 1; a < 3; ++a)
            if (hi[a] - lo[a] < hi[drop] - lo[drop])
                drop = a;
        u[drop == 0 ? 1 : 0] = 1;
        v[drop == 2 ? 1 : 2] = 1;
    }
    for (unsigned k = 0; k < count; ++k)
    {
        const C3DTPoint<float>& p = points[unsigned(indices[k])];
        double dx = double(p.m_X) - origin.m_X, dy = double(p.m_Y) - origin.m_Y,
               dz = double(p.m_Z) - origin.m_Z;
        xy[2 * k] = dx * u[0] + dy * u[1] + dz * u[2];
        xy[2 * k + 1] = dx * v[0] + dy * v[1] + dz * v[2];
    }
    return true;
}

void CEarClipper::SetAngle(unsigned k)
{
    CCorner& c = m_Ring[k];
    const CCorner& n = m_Ring[c.m_Next];
    const CCorner& p = m_Ring[c.m_Prev];
    c.m_Angle = TurningAngle(c.m_X, c.m_Y, n.m_X, n.m_Y, p.m_X, p.m_Y);
    c.m_Convex = c.m_Angle >= 0.0;
    ++c.m_Version;
    if (c.m_Convex)
    {
        if (m_UseHeap)
        {
            m_Heap.push_back({c.m_Angle, k, c.m_Version});
            std::push_heap(m_Heap.begin(), m_Heap.end(),
                           [](const CHeapItem& a, const CHeapItem& b)
                           { return HeapAfter(a.m_Angle, a.m_Position, b.m_Angle, b.m_Position); });
        }
    }
    else if (c.m_Angle < 0.0 && !c.m_Listed)
    {
        c.m_Listed = true;
        m_Reflex.push_back(k);
    }
}

unsigned CEarClipper::Smallest()
{
    const unsigned none = unsigned(m_Ring.size());
    if (!m_UseHeap)
    {
        unsigned best = none;
        for (unsigned k = 0; k < none; ++k)
        {
            const CCorner& c = m_Ring[k];
            if (!c.m_Removed && c.m_Convex && (best == none || c.m_Angle < m_Ring[best].m_Angle))
                best = k;
        }
        return best;
    }
    auto after = [](const CHeapItem& a, const CHeapItem& b)
    { return HeapAfter(a.m_Angle, a.m_Position, b.m_Angle, b.m_Position); };
    while (!m_Heap.empty())
    {
        const CHeapItem& top = m_Heap.front();
        const CCorner& c = m_Ring[top.m_Position];
        if (!c.m_Removed && c.m_Convex && c.m_Version == top.m_Version)
            return top.m_Position;
        std::pop_heap(m_Heap.begin(), m_Heap.end(), after);
        m_Heap.pop_back();
    }
    return none;
}

bool CEarClipper::IsEar(unsigned c)
{
    const CCorner& a = m_Ring[c];
    const unsigned next = a.m_Next, prev = a.m_Prev;
    const CCorner& b = m_Ring[next];
    const CCorner& d = m_Ring[prev];
    double minX = std::min({a.m_X, b.m_X, d.m_X}), maxX = std::max({a.m_X, b.m_X, d.m_X});
    double minY = std::min({a.m_Y, b.m_Y, d.m_Y}), maxY = std::max({a.m_Y, b.m_Y, d.m_Y});
    size_t kept = 0;
    bool ear = true;
    for (size_t r = 0; r < m_Reflex.size(); ++r)
    {
        unsigned k = m_Reflex[r];
        CCorner& q = m_Ring[k];
        if (q.m_Removed || !(q.m_Angle < 0.0))
        {
            q.m_Listed = false; // no longer reflex: it leaves the list
            continue;
        }
        m_Reflex[kept++] = k;
        if (!ear || k == c || k == next || k == prev)
            continue;
        if (!(q.m_X >= minX && q.m_X <= maxX && q.m_Y >= minY && q.m_Y <= maxY))
            continue;
        // Inside the counter-clockwise triangle (c, next, prev) or on its sides: a reflex
        // corner on the diagonal would leave the ear covering the polygon's far side (the
        // notch of an L). A corner at the very place of one of the three does not count.
        auto leftOrOn = [&q](const CCorner& s, const CCorner& e)
        { return (e.m_X - s.m_X) * (q.m_Y - s.m_Y) - (e.m_Y - s.m_Y) * (q.m_X - s.m_X) >= 0.0; };
        auto at = [&q](const CCorner& v) { return q.m_X == v.m_X && q.m_Y == v.m_Y; };
        if (leftOrOn(a, b) && leftOrOn(b, d) && leftOrOn(d, a) && !at(a) && !at(b) && !at(d))
            ear = false;
    }
    m_Reflex.resize(kept);
    return ear;
}

unsigned CEarClipper::Run(const double* xy, const int* indices, unsigned count,
                          std::vector<uint16_t>& triangles)
{
    if (count < 3 || !xy || !indices)
        return 0;
    m_UseHeap = count > kScanLimit;
    m_Ring.resize(count);
    m_Reflex.clear();
    m_Heap.clear();
    for (unsigned k = 0; k < count; ++k)
    {
        CCorner& c = m_Ring[k];
        c.m_X = xy[2 * k];
        c.m_Y = xy[2 * k + 1];
        c.m_Prev = k ? k - 1 : count - 1;
        c.m_Next = k + 1 < count ? k + 1 : 0;
        c.m_Version = 0;
        c.m_Removed = c.m_Listed = false;
    }
    // A corner at the very place of the one before it leaves the ring at once: an edge of
    // length zero has no direction, so its turning angle (0 or pi by the signs of zeros)
    // would stop the clipping or mislead the choice of ears, and it bounds no area.
    unsigned remaining = count;
    for (unsigned k = count; k-- > 1 && remaining > 3;)
    {
        CCorner& c = m_Ring[k];
        const CCorner& p = m_Ring[c.m_Prev];
        if (c.m_X == p.m_X && c.m_Y == p.m_Y)
        {
            c.m_Removed = true;
            m_Ring[c.m_Prev].m_Next = c.m_Next;
            m_Ring[c.m_Next].m_Prev = c.m_Prev;
            --remaining;
        }
    }
    for (unsigned last = m_Ring[0].m_Prev;
         remaining > 3 && m_Ring[last].m_X == m_Ring[0].m_X && m_Ring[last].m_Y == m_Ring[0].m_Y;
         last = m_Ring[0].m_Prev)
    {
        m_Ring[last].m_Removed = true;
        m_Ring[m_Ring[last].m_Prev].m_Next = 0;
        m_Ring[0].m_Prev = m_Ring[last].m_Prev;
        --remaining;
    }
    for (unsigned k = 0; k < count; ++k)
        if (!m_Ring[k].m_Removed)
            SetAngle(k);

    const unsigned none = count;
    unsigned candidate = Smallest();
    if (candidate == none)
        return 0;
    unsigned written = 0;
    while (remaining >= 3)
    {
        CCorner* c = &m_Ring[candidate];
        if (!c->m_Convex || c->m_Angle > kWalkLimit)
        {
            candidate = Smallest();
            if (candidate == none || !(m_Ring[candidate].m_Angle > 0.0))
                break;
            c = &m_Ring[candidate];
        }
        const unsigned next = c->m_Next, prev = c->m_Prev;
        if (!IsEar(candidate))
        {
            c->m_Convex = false;
            ++c->m_Version; // its heap entry is stale now
        }
        else
        {
            int i0 = indices[candidate], i1 = indices[next], i2 = indices[prev];
            if (i0 != i1 && i1 != i2 && i0 != i2)
            {
                triangles.push_back(uint16_t(candidate));
                triangles.push_back(uint16_t(next));
                triangles.push_back(uint16_t(prev));
                ++written;
            }
            c->m_Removed = true;
            m_Ring[prev].m_Next = next;
            m_Ring[next].m_Prev = prev;
            SetAngle(prev);
            SetAngle(next);
            --remaining;
        }
        const CCorner& n = m_Ring[next];
        candidate = n.m_Convex && n.m_Angle < m_Ring[prev].m_Angle ? next : prev;
    }
    return written;
}

int ClipConvexQuad(const double* xy, const int* indices, uint16_t* triangles)
{
    double angle[4];
    for (unsigned k = 0; k < 4; ++k)
    {
        unsigned n = (k + 1) & 3, p = (k + 3) & 3;
        angle[k] = TurningAngle(xy[2 * k], xy[2 * k + 1], xy[2 * n], xy[2 * n + 1], xy[2 * p],
                                xy[2 * p + 1]);
        if (!(angle[k] >= 0.0) || (xy[2 * k] == xy[2 * n] && xy[2 * k + 1] == xy[2 * n + 1]))
            return -1;
    }
    unsigned c = 0;
    for (unsigned k = 1; k < 4; ++k)
        if (angle[k] < angle[c])
            c = k;
    // With no reflex corner the first ear is always accepted.
    const unsigned n = (c + 1) & 3, o = (c + 2) & 3, p = (c + 3) & 3;
    int written = 0;
    auto emit = [&](unsigned a, unsigned b, unsigned d)
    {
        if (indices[a] != indices[b] && indices[b] != indices[d] && indices[a] != indices[d])
        {
            triangles[3 * written] = uint16_t(a);
            triangles[3 * written + 1] = uint16_t(b);
            triangles[3 * written + 2] = uint16_t(d);
            ++written;
        }
    };
    emit(c, n, p);
    // The ring is now n -> o -> p; the angles at n and p are measured again, o keeps its own.
    angle[n] =
        TurningAngle(xy[2 * n], xy[2 * n + 1], xy[2 * o], xy[2 * o + 1], xy[2 * p], xy[2 * p + 1]);
    angle[p] =
        TurningAngle(xy[2 * p], xy[2 * p + 1], xy[2 * n], xy[2 * n + 1], xy[2 * o], xy[2 * o + 1]);
    bool convexN = angle[n] >= 0.0, convexP = angle[p] >= 0.0;
    unsigned candidate = convexN && angle[n] < angle[p] ? n : p;
    bool convexCandidate = candidate == n ? convexN : convexP;
    if (!convexCandidate || angle[candidate] > kWalkLimit)
    {
        // The smallest convex corner of the three, the lowest position first among equals.
        unsigned best = 4;
        for (unsigned k = 0; k < 4; ++k)
        {
            if (k == c)
                continue;
            bool convex = k == n ? convexN : (k == p ? convexP : true);
            if (convex && (best == 4 || angle[k] < angle[best]))
                best = k;
        }
        if (best == 4 || !(angle[best] > 0.0))
            return written;
        candidate = best;
    }
    // In the ring n -> o -> p, the next of n is o and the previous is p, and so on.
    if (candidate == n)
        emit(n, o, p);
    else if (candidate == o)
        emit(o, p, n);
    else
        emit(p, n, o);
    return written;
}
} // namespace zan_detail
