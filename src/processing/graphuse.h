// One use of a face list's point-to-face or edge-to-face graph for the length of a
// computation: the graph is built (or its use count raised) on entry and released on exit.
#pragma once

#include <3dzan/geometry/facelist.h>

namespace zan_detail
{
class CFaceGraphUse
{
public:
    /// \brief Takes the edge-to-face graph with \p edges, else the point-to-face graph.
    CFaceGraphUse(CFaceList& faces, const CGeomInfo* geom, bool edges = false)
        : m_Faces(faces), m_Edges(edges),
          m_Held(edges ? faces.InitEdgeToFaceGraph(geom) : faces.InitPointToFaceGraph(geom))
    {
    }
    ~CFaceGraphUse()
    {
        if (!m_Held)
            return;
        if (m_Edges)
            m_Faces.DeleteEdgeToFaceGraph();
        else
            m_Faces.DeletePointToFaceGraph();
    }
    CFaceGraphUse(const CFaceGraphUse&) = delete;
    CFaceGraphUse& operator=(const CFaceGraphUse&) = delete;
    /// \brief Whether the graph could be had.
    bool IsHeld() const { return m_Held; }

private:
    CFaceList& m_Faces;
    bool m_Edges;
    bool m_Held;
};
} // namespace zan_detail
