// zan3d: the command-line host of the library. For now it runs the demonstration of the
// foundation: a property bag and a tree of named nodes are archived to a file, read back
// into new objects and printed.
#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/tree.h>
#include <3dzan/foundation/xarchive.h>
#include <3dzan/foundation/xobject.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace
{
// A tree node with a name and a property bag of its own.
class CDemoNode : public CTreeNode
{
    ZAN_DECLARE_DYNCREATE(CDemoNode)
public:
    CDemoNode() = default;
    explicit CDemoNode(const char* name) : m_Name(name) {}
    CXTString GetDisplayName() const override { return m_Name; }
    void Serialize(CXArchive& ar) override
    {
        CTreeNode::Serialize(ar);
        if (ar.IsStoring())
            ar << m_Name;
        else
            ar >> m_Name;
        m_Values.Serialize(ar);
    }
    CXTString m_Name;
    CCustomData m_Values;
};
ZAN_IMPLEMENT_DYNCREATE(CDemoNode, CTreeNode)

CDemoNode* AddNode(CTree& tree, CTreeNode* parent, const char* name, unsigned kind)
{
    auto* node = new CDemoNode(name);
    node->m_Values.SetUInt(ZanTag("KIND"), kind);
    tree.InsertNode(node, parent);
    return node;
}

void BuildDemo(CCustomData& bag, CTree& tree)
{
    bag.SetString(ZanTag("NAME"), "Demonstration scene");
    bag.SetUInt(ZanTag("UNIT"), 3);
    bag.SetDouble(ZanTag("SCAL"), 2.54);
    bag.SetBool(ZanTag("SMTH"), true);
    CXArray<CXTString> folders;
    folders.Add("textures/");
    folders.Add("maps/wood/");
    bag.SetStringArray(ZanTag("TXPT"), folders);
    const unsigned char thumbnail[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A};
    bag.SetBytes(ZanTag("THMB"), thumbnail, sizeof thumbnail);
    CCustomData& view = bag.CreateCustomData(ZanTag("VIEW"));
    view.SetFloat(ZanTag("FOV "), 0.785398f);
    view.SetInt(ZanTag("MODE"), 2);

    auto* root = new CDemoNode("Scene");
    tree.SetRoot(root);
    CDemoNode* house = AddNode(tree, root, "House", 8);
    AddNode(tree, house, "Walls", 1);
    AddNode(tree, house, "Roof", 1);
    CDemoNode* door = AddNode(tree, house, "Door", 1);
    door->m_Values.SetString(ZanTag("MATL"), "Oak");
    AddNode(tree, root, "Camera", 32);
    AddNode(tree, root, "Sun", 64);
}

void PrintTree(const CTree& tree)
{
    for (const CTreeNode* node = tree.GetFirstNode(); node; node = tree.GetNextNode(node))
    {
        const auto* demo = static_cast<const CDemoNode*>(node);
        std::printf("  %*s%s (%s, kind %u)\n", int(2 * node->GetDepth()), "",
                    demo->m_Name.c_str(), node->GetRuntimeClassDescriptor()->m_ClassName,
                    demo->m_Values.GetUInt(ZanTag("KIND")));
    }
}

int RunDemo(const char* path)
{
    CCustomData bag;
    CTree tree;
    BuildDemo(bag, tree);

    {
        CXDiskFile file;
        if (!file.Open(path, CXDiskFile::modeWrite))
        {
            std::fprintf(stderr, "zan3d: cannot create %s: %s\n", path, std::strerror(errno));
            return 1;
        }
        CXArchive ar(&file, CXArchive::store);
        bag.Serialize(ar);
        tree.Serialize(ar);
        ar.Close();
        if (!file.Close())
        {
            std::fprintf(stderr, "zan3d: cannot write %s\n", path);
            return 1;
        }
    }

    CCustomData bagRead;
    CTree treeRead;
    uint64_t size = 0;
    {
        CXDiskFile file;
        if (!file.Open(path, CXDiskFile::modeRead))
        {
            std::fprintf(stderr, "zan3d: cannot open %s: %s\n", path, std::strerror(errno));
            return 1;
        }
        size = file.GetRemaining();
        CXArchive ar(&file, CXArchive::load);
        bagRead.Serialize(ar);
        treeRead.Serialize(ar);
    }

    std::printf("Archived to %s (%llu bytes) and read back.\n\n", path, (unsigned long long)size);
    CXTString dump;
    bagRead.DumpCustomData(dump, 1);
    std::printf("Property bag (%d values, checksum %08X):\n%s\n", bagRead.GetCount(),
                bagRead.GetChecksum(), dump.c_str());
    std::printf("Tree (%zu nodes):\n", size_t(treeRead.GetNodeNbr()));
    PrintTree(treeRead);

    bool same = bagRead == bag && treeRead.GetNodeNbr() == tree.GetNodeNbr();
    std::printf("\nRead back %s what was written.\n", same ? "exactly" : "NOT");
    return same ? 0 : 2;
}

void Usage()
{
    std::printf("usage: zan3d demo [file]    archive a property bag and a tree, read them back\n"
                "       zan3d --help\n");
}
} // namespace

int main(int argc, char** argv)
{
    std::string command = argc > 1 ? argv[1] : "demo";
    if (command == "--help" || command == "-h")
    {
        Usage();
        return 0;
    }
    if (command != "demo")
    {
        Usage();
        return 1;
    }
    std::string path = argc > 2 ? argv[2] : "zan3d-demo.zan";
    try
    {
        return RunDemo(path.c_str());
    }
    catch (const CXException& e)
    {
        std::fprintf(stderr, "zan3d: %s\n", e.what());
        return 1;
    }
}
