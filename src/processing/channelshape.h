// Shared by the texture-coordinate files: sizing a channel's face list like the geometry's.
#pragma once

#include <3dzan/geometry/facelist.h>

#include <vector>

namespace zan_detail
{
/// Gives \p faces the faces of \p model, with the same corner counts, every corner 0, every
/// face _FaceExcluded (a channel face without coordinates). \return false when memory is
/// short (then \p faces may have been emptied).
inline bool ShapeLikeExcluded(CFaceList& faces, const CFaceList& model)
{
    const unsigned n = unsigned(model.GetSize());
    std::vector<unsigned> counts(n);
    for (unsigned f = 0; f < n; ++f)
        counts[f] = unsigned(model.GetFaceSize(f));
    if (!faces.SetSize(int(n), counts.data()))
        return false;
    faces.SetFacesFlags(_FaceExcluded, true);
    return true;
}
} // namespace zan_detail
