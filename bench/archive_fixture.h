// Storing into and loading from one memory file, as the archive benchmarks do: the file is
// rewritten in place by each store, so the figures are those of the objects and the archive,
// not of the file growing into fresh pages.
#pragma once

#include <3dzan/foundation/xarchive.h>

namespace zanbench
{
/// Rewrites \p file from its start with \p source's archive.
template <class T> void StoreInto(CXMemFile& file, T& source)
{
    file.SeekToBegin();
    CXArchive ar(&file, CXArchive::store);
    source.Serialize(ar);
    ar.Close();
}

/// Loads \p target from what \p file holds.
template <class T> void LoadFrom(const CXMemFile& file, T& target)
{
    CXMemFile view(file.GetBuffer(), file.GetLength());
    CXArchive ar(&view, CXArchive::load);
    target.Serialize(ar);
}
} // namespace zanbench
