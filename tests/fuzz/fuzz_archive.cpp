// Feeds arbitrary bytes to the archive readers of the foundation. The first byte picks the
// reader; the rest is the archive. Every input must either load or raise
// CXArchiveException: anything else (a crash, another exception, a leak, a huge
// allocation) is a finding.
#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/elementarray.h>
#include <3dzan/foundation/tree.h>
#include <3dzan/foundation/xarchive.h>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    uint8_t which = data[0] % 4;
    CXMemFile file(data + 1, size - 1);
    try
    {
        CXArchive ar(&file, CXArchive::load);
        switch (which)
        {
        case 0:
        {
            CCustomData bag;
            bag.Serialize(ar);
            CCustomData copy(bag); // a loaded bag must be usable
            CXTString dump;
            copy.DumpCustomData(dump);
            break;
        }
        case 1:
        {
            CTree tree;
            tree.Serialize(ar);
            for (CTreeNode* node = tree.GetFirstNode(); node; node = tree.GetNextNode(node))
                (void)node->GetDisplayName();
            break;
        }
        case 2:
        {
            CElementArray array;
            array.Serialize(ar);
            (void)array.GetChecksum();
            break;
        }
        default:
        {
            CCustomData bag;
            (void)bag.SetData(data + 1, size - 1);
            break;
        }
        }
    }
    catch (const CXArchiveException&)
    {
    }
    return 0;
}
