#include "common/geometry_checks.h"

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>

namespace zantest
{
::testing::AssertionResult FaceChunksParallel(const CFaceList& list)
{
    const CDataChunk& chunks = list.GetDataChunks();
    unsigned faces = unsigned(list.GetSize());
    if (chunks.GetDataSize() != faces)
        return ::testing::AssertionFailure() << "the chunk set holds " << chunks.GetDataSize()
                                             << " elements for " << faces << " faces";
    for (unsigned pos = chunks.GetFirstChunk(); pos != kZanNone;)
    {
        unsigned id;
        chunks.GetNextChunk(pos, id);
        unsigned size = unsigned(chunks.GetData(id)->GetSize());
        if (size != faces)
            return ::testing::AssertionFailure()
                   << "chunk " << std::hex << id << std::dec << " holds " << size
                   << " elements for " << faces << " faces";
    }
    if (chunks.GetMainChunkID() != CFaceList::kPropertyChunk)
        return ::testing::AssertionFailure() << "the main chunk is not FCPR";
    const CFaceStorage& storage = list.GetStorage();
    if (storage.GetOffsets().GetSize() != faces || storage.GetCount() != faces)
        return ::testing::AssertionFailure()
               << storage.GetOffsets().GetSize() << " offsets and " << storage.GetCount()
               << " records for " << faces << " faces";
    uint64_t live = 0;
    for (unsigned i = 0; i < faces; ++i)
    {
        uint64_t offset = storage.GetOffsets()[i];
        unsigned capacity = storage.GetCapacity(i);
        if (offset + CFaceStorage::RecordBytes(capacity) > storage.GetUsedBytes() ||
            storage.GetItemCount(i) > capacity)
            return ::testing::AssertionFailure() << "face " << i << " runs out of the buffer";
        live += CFaceStorage::RecordBytes(capacity);
        int count;
        const int* indices = list.GetIndexes(i, count);
        for (int k = 0; k < count; ++k)
            if (indices[k] < 0 || unsigned(indices[k]) >= list.GetPointBound())
                return ::testing::AssertionFailure()
                       << "face " << i << " corner " << k << " holds " << indices[k]
                       << " outside the bound " << list.GetPointBound();
    }
    if (live + storage.GetDeadBytes() != storage.GetUsedBytes())
        return ::testing::AssertionFailure()
               << live << " live and " << storage.GetDeadBytes() << " dead bytes in "
               << storage.GetUsedBytes() << " used";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult FaceListsParallel(const CFaceList& a, const CFaceList& b)
{
    if (a.GetSize() != b.GetSize())
        return ::testing::AssertionFailure() << a.GetSize() << " faces against " << b.GetSize();
    for (unsigned i = 0; i < unsigned(a.GetSize()); ++i)
        if (a.GetFaceSize(i) != b.GetFaceSize(i))
            return ::testing::AssertionFailure() << "face " << i << " has " << a.GetFaceSize(i)
                                                 << " corners against " << b.GetFaceSize(i);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ChannelsParallel(const CFaceList& geometryFaces,
                                            const CDependentChannels& channels)
{
    for (int c = 0; c < channels.GetSize(); ++c)
    {
        const CChannel* channel = channels.GetAt(c);
        const CFaceList* faces = channel ? channel->GetFaceList() : nullptr;
        if (!faces)
            continue;
        ::testing::AssertionResult chunks = FaceChunksParallel(*faces);
        if (!chunks)
            return ::testing::AssertionFailure() << "channel " << c << ": " << chunks.message();
        if (channel->IsFlagSet(_ChannelInvalid))
            continue;
        ::testing::AssertionResult parallel = FaceListsParallel(geometryFaces, *faces);
        if (!parallel)
            return ::testing::AssertionFailure()
                   << "channel " << c << " (id " << channel->GetChannelID()
                   << "): " << parallel.message();
    }
    return ::testing::AssertionSuccess();
}
} // namespace zantest
