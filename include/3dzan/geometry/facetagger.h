/// \file facetagger.h
/// \brief CFaceTagger, the callbacks of the face tagging walk (CFaceList::TagFaces) that
///        splits a face list into groups of connected faces.
///
/// The walk takes the usable faces (neither _FaceInvalid nor _FaceExcluded) in index order;
/// each face not yet reached starts a group, which grows breadth first through the faces
/// sharing a side with its faces (walk by edges) or a point (walk by points). A tagger
/// decides which neighbours join, and is told when a group starts and ends. Explode, which
/// makes one object per isolated part, is such a tagger (C3DGeomObject's CIsolateFaceTagger).
#pragma once

#include <3dzan/foundation/zandefs.h>

class CGeomInfo;
class CPointList;
class CFaceList;
class C3DEdge;

/// \brief The callbacks of CFaceList::TagFaces. The base accepts every neighbour, so that the
///        walk finds the connected parts.
///
/// Before InitProcess the walk gives the tagger the context, the context's source point list
/// and the face list it walks (GetGeomInfo, GetPointList, GetFaceList); they stay valid until
/// EndProcess. A tagger serves one walk at a time.
class ZAN_API CFaceTagger
{
public:
    CFaceTagger() = default;
    CFaceTagger(const CFaceTagger&) = delete;
    CFaceTagger& operator=(const CFaceTagger&) = delete;
    virtual ~CFaceTagger();

    /// \brief Called once before the walk. \return false to refuse it (the walk then reports 0
    ///        groups and calls nothing else). The base needs a face list.
    virtual bool InitProcess(CGeomInfo* geom);
    /// \brief Called once after the walk with the number of groups found. The base does
    ///        nothing.
    virtual void EndProcess(unsigned groupNbr);
    /// \brief Group \p group (numbered from 0) starts with face \p face. The base does nothing.
    virtual void BeginNewGroup(unsigned group, int face);
    /// \brief Walk by points: \p neighbours (\p count faces not yet reached, \p face left out)
    ///        use point \p point of face \p face. Answer true to let them join; an entry set to
    ///        -1 (0xFFFFFFFF) is then left out. The base answers true.
    virtual bool BelongToGroup(int face, int point, int* neighbours, int count);
    /// \brief Walk by edges: \p neighbours have the side \p edge of face \p face (given as
    ///        \p face runs it, from corner i to i + 1). As the point form otherwise.
    virtual bool BelongToGroup(int face, const C3DEdge& edge, int* neighbours, int count);
    /// \brief The group that just ended: its \p count faces in the order they joined. The
    ///        array is valid during the call only. The base does nothing.
    virtual void EndGroup(const int* faces, int count);

    CGeomInfo* GetGeomInfo() const { return m_Geom; }
    CPointList* GetPointList() const { return m_Points; }
    CFaceList* GetFaceList() const { return m_Faces; }

private:
    friend class CFaceList;

    CGeomInfo* m_Geom = nullptr;
    CPointList* m_Points = nullptr;
    CFaceList* m_Faces = nullptr;
};
