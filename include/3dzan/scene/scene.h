/// \file scene.h
/// \brief C3DScene, the document: a tree of scene nodes under a root "Scene", the material
///        table, the scene settings and the parser information; C3DFilter, the node filter of
///        walks; CParserSceneInfo; CSceneDefaults, the hook through which the scene reads the
///        user's preferences.
///
/// *Walks.* GetFirstNode gives a cursor (C3DNodePos), GetNextNode returns its node and moves
/// it on, in depth-first order. The root is never returned. A node is taken when its object's
/// kind intersects the kind mask (a node without object has kind 0 and is skipped unless
/// _IterNoObject is given), the cursor's filter accepts it and, with _IterInstancesOnce, its
/// object is not a shared object already met. Iteration flags:
///
/// | Flag | Meaning |
/// |------|---------|
/// | _IterInstancesOnce 0x1 | a shared object is visited through its first node only |
/// | _IterWithStart 0x2 | the start node itself is visited first (when it is not the root) |
/// | _IterSubtree 0x4 | only the subtree of the start node is walked |
/// | _IterNoObject 0x8 | nodes without object match every mask |
///
/// *Removing while walking.* RemoveNode(node, cursor, destroy) keeps the cursor valid: when
/// its current node is not in the removed subtree it stays; otherwise the cursor moves to the
/// first node taken after that subtree.
///
/// *Archive layout* (Serialize): version (int 1); the parser information (int 1 and its
/// record, or int 0); the custom data; the material table; the node tree (CTree::Serialize:
/// nodes in depth-first order, each with the index of its parent). A shared object is written
/// once, in full, by the first node that carries it; later nodes write a reference to its
/// object ID and get an instance of it on loading. A scene without root writes nothing.
/// Loading builds the new scene aside and installs it only when everything was read: a
/// malformed archive raises CXArchiveException and leaves the scene as it was. An archive of
/// another version is left unread (the scene unchanged, no exception).
#pragma once

#include <3dzan/animation/keyframable.h>
#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/files.h>
#include <3dzan/foundation/tree.h>
#include <3dzan/foundation/xarray.h>
#include <3dzan/materials/materials.h>
#include <3dzan/scene/scenedefaults.h>
#include <3dzan/scene/scenenode.h>

class C3DFace;
class C3DGeomObject;
class C3DObjectCreator;
class CMaterialMap;
class CSceneExportOptions;
class CSceneImportOptions;
struct CTextureSearch;

/// \brief Units of a scene (the length of one unit: GetUnitFactor).
enum _UNIT_MODE : unsigned
{
    _UnitUndefined = 0,
    _UnitNanometer = 1,
    _UnitMicrometer = 2,
    _UnitMillimeter = 3,
    _UnitCentimeter = 4,
    _UnitMeter = 5,
    _UnitKilometer = 6,
    _UnitInch = 7,
    _UnitFoot = 8,
    _UnitYard = 9,
    _UnitMile = 10,
    _UnitOther = 11
};

/// \brief Iteration flags of C3DScene::GetFirstNode.
enum _SCENE_ITER_FLAGS : unsigned
{
    _IterInstancesOnce = 0x1,
    _IterWithStart = 0x2,
    _IterSubtree = 0x4,
    _IterNoObject = 0x8
};

/// \brief Flags of C3DScene::Select.
enum _SCENE_SELECT_FLAGS : unsigned
{
    _SelectAdd = 0x1,       ///< keep the current selection
    _SelectInstances = 0x2, ///< also select every node sharing an object just selected
    _SelectSubtree = 0x4    ///< also select the node's subtree
};

/// \brief Copy flags of the scene copies (C3DScene::Copy, CopyChilds, CopyNode, AddScene).
enum _SCENE_COPY_FLAGS : int
{
    _SceneCopyNoHidden = 0x1,
    _SceneCopyNoCurve = 0x2,
    _SceneCopyNoPatch = 0x4,
    _SceneCopyNoPolygonal = 0x8,
    _SceneCopyNoGroup = 0x10,
    _SceneCopySelected = 0x20,       ///< only selected nodes, when the source has one
    _SceneCopySourceRef = 0x100,     ///< record the source node's address in the copy
    _SceneCopyDirectChilds = 0x200,  ///< only the direct children of the start node
    _SceneCopyFlatten = 0x800,       ///< children go under the destination parent
    _SceneCopyNoMaterials = 0x10000, ///< do not copy the materials used
    _SceneCopyKeepData = 0x20000     ///< no materials, and keep the destination's custom data
};

/// \brief A node filter for walks and scene operations (not owned by the cursor).
///
/// The base keeps a flag word: 0x1 rejects nodes whose object is empty (_ObjectEmpty), 0x2
/// hidden nodes, 0x4 nodes that are not selected; 0 accepts every node.
class ZAN_API C3DFilter
{
public:
    explicit C3DFilter(unsigned flags = 0) : m_Flags(flags) {}
    virtual ~C3DFilter();
    /// \brief The base test with this filter's flags.
    virtual bool ProcessNode(const C3DSceneNode* node) const;
    /// \brief Faces and points: the base accepts everything.
    virtual bool ProcessFace(const C3DBaseObject* object, const C3DFace* face) const;
    virtual bool ProcessPoint(const C3DBaseObject* object, const C3DTPoint<float>* point) const;
    /// \brief The base test with \p flags (a null node is rejected unless \p flags is 0).
    static bool ProcessNode(unsigned flags, const C3DSceneNode* node);
    unsigned GetFlags() const { return m_Flags; }

protected:
    unsigned m_Flags;
};

/// \brief A filter that keeps the faces of one material (or every other face).
///
/// ProcessNode accepts a node that passes the base test and whose geometric object uses the
/// material; ProcessFace answers the keep flag for a face of the material and its negation
/// for any other face.
class ZAN_API C3DFilterByMaterial : public C3DFilter
{
public:
    explicit C3DFilterByMaterial(unsigned flags = 0, bool keep = true)
        : C3DFilter(flags), m_Keep(keep)
    {
    }
    ~C3DFilterByMaterial() override;
    void SetMaterial(unsigned materialId, bool keep)
    {
        m_MaterialID = materialId;
        m_Keep = keep;
    }
    unsigned GetMaterial() const { return m_MaterialID; }
    bool ProcessNode(const C3DSceneNode* node) const override;
    bool ProcessFace(const C3DBaseObject* object, const C3DFace* face) const override;

protected:
    unsigned m_MaterialID = kZanNone;
    bool m_Keep;
};

/// \brief Where C3DScene::Concatenate puts the node it makes (the first flag set wins).
enum _CONCATENATE_FLAGS : unsigned
{
    _ConcatReplaceSubtree = 16, ///< the start and its subtree go; the node goes under the root
    _ConcatReplaceChilds = 32,  ///< the start's children go; the node goes under the start
    _ConcatReplaceNode = 64     ///< the start goes; the node goes under the start's parent
};

/// \brief Up axis of a file, for C3DScene::OrientScene. Reading applies the rotation that
///        makes such a file Y up, writing applies its inverse.
enum _UP_AXIS_MODE : unsigned
{
    _UpAxisKeep = 0, ///< no change
    _UpAxisZ = 1,    ///< the file is Z up: -90 degrees about X on reading
    _UpAxisX = 2     ///< the file is X up
};

/// \brief Which parser read a scene and the parser's private data (shared between copies).
///
/// Archive: the low 32 bits of the data handle, sign-extended (int64; read back and
/// discarded: a loaded record has no data), the parser id (u32), the owned flag (bool).
class ZAN_API CParserSceneInfo : public CInstanciatedObject
{
public:
    /// \brief The function that frees a parser's data; installed by the input/output layer.
    using CReleaseParserData = void (*)(bool owned, unsigned parserId, void* data);

    CParserSceneInfo(void* data = nullptr, unsigned parserId = 0, bool owned = false)
        : m_Owned(owned), m_Data(data), m_ParserID(parserId)
    {
    }
    ~CParserSceneInfo() override;
    virtual void Serialize(CXArchive& ar);

    /// \brief Installs the function asked to free a parser's data when the last scene lets go
    ///        of it (null: the data is simply forgotten).
    static void SetReleaseParserData(CReleaseParserData release);
    static CReleaseParserData GetReleaseParserData();

    bool m_Owned;
    void* m_Data;
    unsigned m_ParserID;
};

/// \brief The user data of an archive while a scene is stored or loaded: the scene and a
///        scratch bag where nodes and objects keep working state (pointer entries only).
struct ZAN_API C3DSceneArchiveContext
{
    /// \brief Scratch id of the set of shared object IDs written (a C3DInstanceID*).
    static constexpr unsigned kWrittenObjectsID = 0x534E4953; // "SNIS"
    /// \brief Scratch id of the objects read so far (an internal map, loading only).
    static constexpr unsigned kReadObjectsID = 0x534E4952; // "SNIR"

    explicit C3DSceneArchiveContext(C3DScene* scene) : m_Scene(scene) {}
    /// \brief Frees what the scratch bag still holds.
    ~C3DSceneArchiveContext();
    C3DSceneArchiveContext(const C3DSceneArchiveContext&) = delete;
    C3DSceneArchiveContext& operator=(const C3DSceneArchiveContext&) = delete;

    C3DScene* m_Scene;
    CCustomData m_Scratch;
};

/// \brief A scene: a tree of C3DSceneNode under the root "Scene" (which carries a C3DGroup),
///        a material table, scene settings and the parser information.
///
/// Shared by holder count: Create gives one holder, Delete drops it. Never copied by value:
/// use Copy or AddScene. Queries return null, false, 0 or 0xFFFFFFFF for what is missing.
class ZAN_API C3DScene : public CTree, public C3DAnimatable, public CInstanciatedObject
{
public:
    /// \name Scene custom-data ids
    /// \{
    static constexpr unsigned kUnitID = 0x53435554;          ///< "SCUT" unsigned
    static constexpr unsigned kScaleID = 0x53434C46;         ///< "SCLF" double
    static constexpr unsigned kFileNameID = 0x534E464C;      ///< "SNFL" string
    static constexpr unsigned kFileClassID = 0x534E4643;     ///< "SNFC" unsigned
    static constexpr unsigned kTexturePathsID = 0x54585048;  ///< "TXPH" string array
    static constexpr unsigned kSmoothAngleID = 0x534D414E;   ///< "SMAN" float
    static constexpr unsigned kSmoothModeID = 0x534D4D4F;    ///< "SMMO" unsigned
    static constexpr unsigned kPatchLevelID = 0x50414C56;    ///< "PALV" unsigned
    /// \brief Node custom-data id of the source node's address (copy flag 0x100).
    static constexpr unsigned kSourceNodeID = 0x52464E4F;    ///< "RFNO" 8 bytes
    /// \}

    /// \brief A scene with its root.
    C3DScene();
    ~C3DScene() override;
    /// \brief A new heap scene with one holder (the caller's): drop it with Delete.
    static C3DScene* Create();

    /// \name Tree
    /// \{
    CTree* GetTree() { return this; }
    /// \brief The root node; null only after RemoveAllNodes or loading an empty tree.
    C3DSceneNode* GetRoot() const;
    bool IsSceneRoot(const C3DSceneNode* node) const { return node && node == GetRoot(); }
    /// \brief First child of \p node (null: of the root).
    C3DSceneNode* GetChildNode(const C3DSceneNode* node) const;
    /// \brief Parent and next sibling; null for a null node.
    C3DSceneNode* GetParent(const C3DSceneNode* node) const;
    C3DSceneNode* GetRightNode(const C3DSceneNode* node) const;
    /// \brief Whether \p node lies in the subtree of \p parent (itself included).
    bool IsChildNode(C3DSceneNode* parent, C3DSceneNode* node) const;
    bool IsNodeInScene(C3DSceneNode* node) const { return HasNode(node); }
    /// \brief The depth below the root (its children are at 0); 0xFFFFFFFF for null.
    unsigned GetChildDepth(C3DSceneNode* node) const;
    /// \brief Nodes of the subtree below \p start (null: the root) without object or whose
    ///        object's kind intersects \p kindMask.
    int GetChildCount(C3DSceneNode* start = nullptr, unsigned kindMask = 0xFFFFFFFF) const;
    /// \brief Direct children of \p start (null: the root); every child counts, whatever its
    ///        kind (the mask is kept for callers that pass one).
    int GetDirectChildCount(C3DSceneNode* start = nullptr, unsigned kindMask = 0xFFFFFFFF) const;
    /// \}

    /// \name Inserting and removing
    /// \{
    /// \brief Appends the detached branch \p node as the last child of \p parent (null: the
    ///        root; an empty scene: \p node becomes the root) and sets this scene on every
    ///        node of it. false, nothing changed, when the branch is not detached or \p parent
    ///        is not in this scene.
    bool AddNode(C3DSceneNode* parent, C3DSceneNode* node);
    /// \brief With \p destroy, destroys \p node and its subtree and returns the node from which
    ///        a depth-first walk resumes by advancing once (null when the root, a null node or
    ///        the first node went: the root and null empty the tree). Without, unlinks the
    ///        subtree, clears its scene and returns \p node, now owned by the caller.
    C3DSceneNode* RemoveNode(C3DSceneNode* node, bool destroy);
    /// \brief The same, keeping \p pos usable (see the file comment). true.
    bool RemoveNode(C3DSceneNode* node, C3DNodePos& pos, bool destroy);
    /// \brief Puts the detached branch \p newNode in the place of \p oldNode; the children of
    ///        \p oldNode move under it. \p oldNode is destroyed with \p destroy, else handed
    ///        to the caller detached. false when a node is null or refused.
    bool ReplaceNode(C3DSceneNode* oldNode, C3DSceneNode* newNode, bool destroy = true);
    /// \brief Destroys every node, the root included.
    void RemoveAllNodes();
    /// \brief Destroys every node, the materials, the custom data and the parser information.
    void RemoveAll();
    /// \brief Deletes \p start (null: the root's children) and the nodes of its subtree that
    ///        \p filter accepts (null: every node), keeping their children: each child is
    ///        given the deleted node's placement (MergeMatrixKeyframes) and takes its place
    ///        among its siblings. The root itself is never deleted. true.
    bool DeleteNodes(C3DSceneNode* start, const C3DFilter* filter = nullptr);
    /// \brief Removes group nodes without children; with \p emptyOnly false, also groups with
    ///        one child, whose child moves up to the group's place. Returns the number removed.
    int CleanGroups(bool emptyOnly);
    /// \}

    /// \name Walks
    /// \{
    C3DNodePos GetFirstNode(unsigned kindMask, unsigned flags = 0,
                            const C3DSceneNode* start = nullptr,
                            const C3DSceneNode* end = nullptr) const;
    C3DNodePos GetFirstNode(const C3DSceneNode* start, unsigned flags,
                            const C3DSceneNode* end = nullptr) const;
    /// \brief The cursor's node (its object in \p object) and moves the cursor on; null (and
    ///        a null object) when it is exhausted.
    C3DSceneNode* GetNextNode(C3DBaseObject*& object, C3DNodePos& pos) const;
    /// \brief The same with the node's object as a geometric object: null when the node's
    ///        object is not geometric (the node is still returned and the cursor moves on).
    C3DSceneNode* GetNextNode(C3DGeomObject*& object, C3DNodePos& pos) const;
    C3DSceneNode* GetNextNode(C3DNodePos& pos) const;
    /// \}

    /// \name Lookup (linear scans of the nodes that carry an object)
    /// \{
    C3DSceneNode* GetNodeByID(unsigned nodeId) const;
    C3DBaseObject* GetObjectByID(unsigned objectId) const;
    /// \brief Appends the nodes below \p start whose object's kind intersects \p kindMask
    ///        (a shared object once with \p skipInstances); returns the array size.
    int GetNodesByType(C3DSceneNode* start, unsigned kindMask, CXArray<C3DSceneNode*>& nodes,
                       bool skipInstances = false, bool clear = true) const;
    /// \brief Appends the geometric nodes below \p start whose faces use \p materialId.
    int GetNodesByMaterial(C3DSceneNode* start, unsigned materialId,
                           CXArray<C3DSceneNode*>& nodes, bool clear = true) const;
    /// \brief Appends the nodes below \p start that carry the object \p objectId.
    unsigned GetInstancesByID(C3DSceneNode* start, unsigned objectId,
                              CXArray<C3DSceneNode*>& nodes, bool clear = true) const;
    /// \brief Appends the nodes below \p start that share \p node's object (\p node alone
    ///        when the object is not shared; 0 for null).
    unsigned GetInstancesByID(C3DSceneNode* start, C3DSceneNode* node,
                              CXArray<C3DSceneNode*>& nodes, bool clear = true) const;
    /// \brief Empties \p nodes and fills it with the selected nodes of those kinds.
    unsigned GetSelectedNodes(CXArray<C3DSceneNode*>& nodes, unsigned kindMask = 0xFFFFFFFF) const;
    bool IsNodeSelected(unsigned kindMask = 0xFFFFFFFF) const;
    /// \}

    /// \name Selection
    /// \{
    /// \brief Selects \p node (_SCENE_SELECT_FLAGS); null does nothing.
    void Select(C3DSceneNode* node, unsigned flags = 0);
    void SelectAll();
    void SelectNone();
    void Unselect(C3DSceneNode* node);
    /// \}

    /// \name Instances
    /// \{
    /// \brief A detached branch copying \p node with its object shared and without keys.
    C3DSceneNode* CreateInstance(const C3DSceneNode* node) const;
    /// \brief \p object itself with one more holder and instance (null for null).
    C3DBaseObject* CreateObjectInstance(const C3DBaseObject* object) const;
    /// \brief Gives every node below \p start (null: the root) a private object; returns how
    ///        many changed.
    int DeleteInstanciation(C3DSceneNode* start = nullptr);
    /// \}

    /// \name Copies (_SCENE_COPY_FLAGS; a null creator means a local default one)
    /// \{
    /// \brief A new scene with copies of the children of \p start (null: the root); null when
    ///        nothing was copied. The caller drops it with Delete.
    C3DScene* Copy(C3DSceneNode* start = nullptr, int flags = 0,
                   C3DObjectCreator* creator = nullptr) const;
    /// \brief Copies the children of \p srcParent (null: this root) under \p destParent of
    ///        \p dest (null: its root). Nodes sharing an object share its copy.
    void CopyChilds(C3DScene* dest, C3DSceneNode* destParent, C3DSceneNode* srcParent,
                    int flags, C3DObjectCreator* creator = nullptr) const;
    /// \brief Copies \p node with its subtree under \p destParent of \p dest.
    C3DSceneNode* CopyNode(C3DScene* dest, C3DSceneNode* destParent, C3DSceneNode* node,
                           int flags, C3DObjectCreator* creator = nullptr) const;
    /// \brief Copies \p node alone under \p destParent of \p dest; null when skipped.
    ///
    /// The creator's instance map is consulted for copies into this scene as into another:
    /// nodes sharing one object share one copy either way.
    C3DSceneNode* CopySingleNode(C3DScene* dest, C3DSceneNode* destParent, C3DSceneNode* node,
                                 int flags, C3DObjectCreator* creator = nullptr) const;
    /// \brief Appends copies of \p source's nodes, takes its custom data (unless
    ///        _SceneCopyKeepData) and shares its parser information. false for null.
    bool AddScene(const C3DScene* source, int flags = 0, C3DObjectCreator* creator = nullptr);
    /// \brief Takes \p source's custom data (unless _SceneCopyKeepData) and parser information.
    void Inherit(const C3DScene* source, unsigned flags = 0);
    /// \brief Copies into \p dest's table the materials used below \p node (unless the flags
    ///        exclude materials).
    void InheritNode(C3DScene* dest, C3DSceneNode* node, unsigned flags) const;
    /// \}

    /// \name Materials
    /// \{
    CMaterials& GetMaterialTable() { return m_Materials; }
    const CMaterials& GetMaterialTable() const { return m_Materials; }
    C3DMaterial* GetMaterialByID(unsigned materialId) { return m_Materials.FindByID(materialId); }
    C3DMaterial* GetMaterialByName(const CXTString& name) const;
    C3DMaterial* FindMaterial(const C3DMaterial& material, bool byName) const;
    unsigned GetMaterialID(const CXTString& name) const;
    unsigned FindMaterialID(const C3DMaterial& material, bool byName) const;
    C3DMaterial* CreateNewMaterial(unsigned materialId = kZanNone);
    bool RemoveMaterial(unsigned materialId) { return m_Materials.RemoveMaterial(materialId); }
    void CopyMaterials(const C3DScene& source, unsigned flags,
                       const CMaterialHashMap* only = nullptr);
    unsigned GetMaterialNumber() const { return m_Materials.GetCount(); }
    /// \brief Walk of the table: a position, 0xFFFFFFFF at the end.
    unsigned GetFirstMaterial() const { return m_Materials.GetFirst(); }
    C3DMaterial* GetNextMaterial(unsigned& position) const;
    /// \brief Counts, per material ID, the geometric nodes of \p start's subtree (itself
    ///        included; null: the whole tree) whose faces use it. Returns the distinct IDs.
    int GetMaterials(C3DSceneNode* start, CMaterialHashMap& used, bool clear = true) const;
    /// \}

    /// \name Units and scale
    /// \{
    _UNIT_MODE GetUnit() const;
    void SetUnit(_UNIT_MODE unit);
    /// \brief Centimetres in one \p unit (1.0 for undefined, other and unknown values).
    static double GetUnitFactor(unsigned unit);
    /// \brief The symbol of the stored unit ("mm", "in", ...; empty when undefined or other),
    ///        followed with \p withScale by " x<scale>" when the scale factor is not 1.
    CXTString GetUnitText(bool withScale = false) const;
    bool IsUnitDefined() const { return m_CustomData.HasValue(kScaleID); }
    double GetScaleFactor() const;
    /// \brief Stores \p scale; 0, NaN and infinities are ignored.
    void SetScaleFactor(double scale);
    /// \brief \p value × scale ÷ GetUnitFactor(unit): a length in centimetres.
    double ConvertToUnit(double value) const;
    /// \}

    /// \name Smoothing (radians). The getters work on a null scene (the preferences answer).
    /// \{
    float GetSmoothAngle() const;
    /// \brief The angle of \p scene, or the preference angle without scene.
    static float GetSmoothAngle(const C3DScene* scene);
    /// \brief -1 means the preference angle; angles outside [0, 180.01] degrees are ignored.
    ///        Objects that follow the scene get their normals invalidated.
    void SetSmoothAngle(float angle, bool writePreferences = false);
    _NormalSmoothMode GetSmoothMode() const;
    /// \brief The mode of \p scene, or the preference mode without scene.
    static _NormalSmoothMode GetSmoothMode(const C3DScene* scene);
    /// \brief 0 means the preference mode; values above 4 are ignored.
    void SetSmoothMode(_NormalSmoothMode mode, bool writePreferences = false);
    /// \brief Stores the patch level and gives it to every patch.
    void SetPatchLevel(unsigned level);
    /// \}

    /// \name Files and textures
    /// \{
    CFileNameSpec GetFilename() const;
    void SetFilename(const CFileNameSpec& name);
    /// \brief The folder of the scene's file (with its separator); empty without file.
    CXTString GetFilepath() const;
    /// \brief Adds an existing folder to the texture folders; false when it does not exist
    ///        or is already there.
    bool AddTexturePath(const CXTString& path);
    bool GetTexturePath(int index, CXTString& path) const;
    int GetTexturePaths(CXArray<CXTString>& paths, bool append = false) const;
    /// \brief Empties \p files and appends the diffuse map file of each material that has
    ///        one, in table order (duplicates kept).
    int GetLinkedFiles(CXArray<CXTString>& files, bool append = false) const;
    /// \brief Where the maps of this scene's materials look for their images: the scene file
    ///        and the scene's texture folders (then the preferences' folders).
    CTextureSearch GetTextureSearch() const;
    /// \brief The image path of \p map found through GetTextureSearch; empty when missing.
    CXTString GetBitmapPath(const CMaterialMap& map, bool alpha = false,
                            bool absolute = false) const;
    /// \}

    /// \name Animation
    /// \{
    /// \brief The union of the time ranges of the nodes that have keys of \p classId (0: any
    ///        key); (0, 0) when no node has one.
    CTimeRange GetTimeRange(uint64_t classId = 0) const override;
    /// \brief Clamps \p time into the time range and makes it current; false when unchanged.
    bool SetCurrentTime(int time);
    int GetTickCount() const { return m_CurrentTick; }
    const C3DKeyframe* GetConstKey(int time, unsigned mode, uint64_t classId,
                                   int* keyTime) const override;
    void DeleteAllKeys();
    /// \}

    /// \name Counts (a shared object counts once per node)
    /// \{
    int GetPointNbr() const;
    int GetFaceNbr() const;
    /// \}

    /// \name Parser data
    /// \{
    /// \brief Attaches new parser information; null data changes nothing.
    void SetParserData(bool owned, unsigned parserId, void* data);
    /// \brief The parser's data and id (0 and null without record); \p detach hands the data
    ///        to the caller.
    void* GetParserData(unsigned& parserId, bool detach = false);
    const CParserSceneInfo* GetParserInfo() const { return m_ParserInfo; }
    /// \}

    CCustomData& GetCustomData() { return m_CustomData; }
    const CCustomData& GetCustomData() const { return m_CustomData; }

    /// \name Scene-wide operations
    /// Each works on the geometric nodes below a start node (null: the whole scene) and visits
    /// a shared object once. Log lines go to the options' log, timings to the log file.
    /// \{
    /// \brief Tidies a scene just read, as the import flags ask (_IMPORT_FLAGS): removes
    ///        hidden nodes, cleans groups, orients and swaps, checks every object (names,
    ///        invalid faces, missing materials, welding, merging, orientation,
    ///        triangulation), bakes the transformations, concatenates, generates texture
    ///        coordinates, splits seams and names the unnamed materials.
    ///
    /// With _ImportNoCheckout nothing is done. Each step logs its line in \p options; the
    /// time taken goes to the log file.
    void CheckoutImport(CSceneImportOptions& options);
    /// \brief Prepares \p scene, the working copy of an export, as the export flags ask
    ///        (_EXPORT_FLAGS), logging each change in \p options.
    ///
    /// Name rules (CSceneExportOptions::m_ObjectNameRule and m_MaterialNameRule, see
    /// _NAME_RULE_FLAGS): an empty node name becomes "Unnamed object" with _NameRuleDefault;
    /// _NameRuleIdentifier keeps ASCII letters, digits and '_' and turns any other character
    /// into one '_'; otherwise _NameRuleSpaces turns spaces into '_'. Each name is then made
    /// unique among the names of its kind already produced, within the length limit
    /// (GetUniqueName).
    /// \return false when nothing is left to save (or \p scene is null).
    static bool InitExport(CSceneExportOptions& options, C3DScene* scene);
    /// \brief Builds the working copy of this scene, prepares it (static InitExport) and
    ///        records it in \p options. This scene is never modified.
    ///
    /// The copy holds copies of every node (the root's keys and custom data included), of the
    /// objects (nodes sharing an object share its copy), of the whole material table, of the
    /// settings and of the current time. A working copy already recorded in \p options is
    /// released first. The copy is recorded even when the preparation answers false, for
    /// ReleaseExport to release.
    /// \return the static InitExport's answer; false, with no copy recorded, when the copy
    ///         cannot be made.
    bool InitExport(CSceneExportOptions& options);
    /// \brief Releases the working copy recorded in \p options and clears the pointer.
    static void ReleaseExport(CSceneExportOptions& options);
    /// \brief Appends the geometry of the geometric nodes of \p start's subtree (the start
    ///        included; null or the root: the whole scene) that pass \p filter's ProcessNode
    ///        to \p target (null: a new polygonal object) and carries the result in a new
    ///        node named \p name.
    ///
    /// Empty objects and hidden nodes are skipped. A node whose world matrix at the current
    /// tick is not within 0.005 of the identity gives a transformed copy of its object, so
    /// the result is in world coordinates. \p filter is also given to
    /// C3DGeomObject::Concatenate, whose ProcessFace keeps or rejects faces. The node is
    /// placed by the first of the _CONCATENATE_FLAGS set: _ConcatReplaceSubtree deletes the
    /// start and its subtree (every node for null) and adds the node under the root;
    /// _ConcatReplaceChilds deletes the start's children and adds the node under the start;
    /// _ConcatReplaceNode deletes the start (every node for null) and adds the node under
    /// its former parent. Under a transformed parent the object is expressed in that
    /// parent's frame, so that it keeps its world place. Without any of the three the node is
    /// returned detached, owned by the caller, its object in world coordinates.
    /// \return the new node, which takes over the caller's holder of \p target; null, with
    ///         nothing changed and \p target still the caller's, when the result has no point
    ///         or no face, \p start is not in this scene or a node's placement is not finite.
    C3DSceneNode* Concatenate(C3DSceneNode* start, const CXTString& name, unsigned flags,
                              C3DFilter* filter, C3DGeomObject* target);
    /// \brief One new node per material used in \p start's subtree (null: the whole scene),
    ///        named after the material and carrying the faces of that material.
    ///
    /// The subtree is first converted to global coordinates (ConvertToGlobalCoordinates).
    /// Materials are taken in increasing ID order. The new nodes go under \p start (the root
    /// for null), in its frame.
    /// \param replace true: the nodes whose faces were taken (visible, non-empty, polygonal
    ///        or patch nodes with faces that pass the filter's flags) are deleted, their
    ///        children moving up to their place (under the start's parent when the start itself
    ///        goes); false: they stay beside the new nodes.
    /// \param filter its flags choose the nodes; its material is set to each material in
    ///        turn (keeping that material's faces). Null: a filter of flags 0.
    /// \return the number of nodes made.
    int ConcatenateByMaterials(C3DSceneNode* start, bool replace, C3DFilterByMaterial* filter);
    /// \brief Bakes the world transformation of every geometric node of \p start's subtree
    ///        (the start included; null: the whole scene) into a private copy of its object
    ///        and removes the node's keys.
    ///
    /// Placements are read at the current tick, all before the first change, and baked
    /// relative to the frame of the start's parent, so every point keeps its world position.
    /// Non-geometric nodes with children lose their keys too (their children now carry the
    /// placement); non-geometric leaves (cameras, lights) keep their world placement through
    /// one matrix key at time 0 when the frame above them changed. Placements within 0.005
    /// of the identity are not baked (their keys still go).
    /// \return the number of objects changed; 0, nothing changed, when \p start is not in
    ///         this scene or a placement is not finite.
    int ConvertToGlobalCoordinates(C3DSceneNode* start);
    /// \brief Swaps the axes of every object, node and material map (codes of
    ///        C3DPointList::SwapCoordinates). \return false, nothing changed, for code 0 and
    ///        invalid codes (GetXYZSwap).
    bool SwapCoordinates(int code);
    /// \brief Rotates the direct children of the root for a file of up axis \p mode, as read
    ///        (\p import) or as written: every matrix key of each child is multiplied on the
    ///        left by the rotation (a child without one gets it at time 0). The forms for
    ///        reading and writing are exact inverses.
    /// \return false for _UpAxisKeep and unknown modes; true otherwise, also for a scene
    ///         without nodes.
    bool OrientScene(_UP_AXIS_MODE mode, bool import);
    /// \brief Multiplies every matrix key of every direct child of the root on the left by
    ///        the scale matrix of \p scale (a child without one gets it at time 0). A zero or
    ///        non-finite factor changes nothing.
    void Scale(const C3DTVector<float>& scale);
    /// \brief C3DGeomObject::GenerateNormals(\p flags, \p mode) on every geometric object of
    ///        \p start's subtree (the start included), each shared object once, in a parallel
    ///        loop (one object per iteration); the time goes to the log file.
    /// \return true; false when \p start is not in this scene or memory ran short.
    bool GenerateNormals(C3DSceneNode* start, unsigned flags, _NormalSmoothMode mode);
    /// \brief C3DGeomObject::GenerateUVW on every geometric object. \return whether texture
    ///        coordinates were made.
    bool GenerateUVW();
    /// \brief C3DGeomObject::DisconnectBorderFaces(\p channelTypes, \p a, \p b) on every
    ///        geometric object. \return whether an object changed.
    bool DisconnectBorderFaces(unsigned channelTypes, unsigned a, unsigned b);
    /// \brief C3DGeomObject::Clean on every geometric object (each shared object once).
    void Clean();
    /// \brief Moves the children of every group node other than the root up to the group's
    ///        place and deletes the group node; the group's placement is folded into the
    ///        children's keys (MergeMatrixKeyframes). The root stays.
    void RemoveGroups();
    /// \brief Makes the geometric nodes of \p start's subtree (the start included; null: the
    ///        whole scene) leaves: for each child of a geometric node, a new group node named
    ///        after the child, carrying the geometric node's flags, custom data and keys, is
    ///        placed right after the geometric node, and the child moves under it.
    /// \return whether a group was made.
    bool MakeGroupForChilds(C3DSceneNode* start);
    /// \brief Gives \p parent and \p child matrix keys at the union of their key times and
    ///        makes \p child's matrix keys those it needs one level up: at each time, the
    ///        parent's object-local matrix times the child's matrix key. Nothing changes when
    ///        the parent has no key. \return false for null or equal nodes.
    bool MergeMatrixKeyframes(C3DSceneNode* parent, C3DSceneNode* child);
    /// \brief Moves the nodes of \p source under \p parent (null: the root), matching its
    ///        materials with this table's by appearance (CMaterials::Find without the name) or
    ///        copying them under fresh IDs, and renumbering the faces of \p source's objects
    ///        accordingly. \p source is left with its root.
    /// \return false, nothing changed, for a null source, this scene itself or a \p parent
    ///         that is not in this scene.
    bool Merge(C3DScene* source, C3DSceneNode* parent);
    /// \brief Replaces the objects of \p start's subtree (the start included) by
    ///        \p creator's conversions (C3DObjectCreator::ConvertToType, asked once per object
    ///        with its first node), keeping instances shared: the first node takes the
    ///        proposal, the others instances of it. \return the number of objects replaced
    ///        (0 for a null creator).
    int ConvertToType(C3DSceneNode* start, C3DObjectCreator* creator);
    /// \brief Copies the diffuse and alpha images of every material to the folder
    ///        \p destination (MoveTextureFile) and points the maps at the copies.
    ///
    /// Images are found as GetBitmapPath finds them, \p source (when not empty) serving as
    /// one more search folder. A relative \p destination and the maps' new names are relative
    /// to the folder of \p options' destination file when it names one; otherwise the names
    /// are relative to \p destination. Backslashes in \p destination count as separators.
    /// \return whether every image named by a map was found and copied.
    bool MoveTextures(const CXTString& source, const CXTString& destination,
                      CSceneExportOptions* options);
    /// \}

    /// \brief Stores or loads the scene (see the file comment).
    void Serialize(CXArchive& ar) override;

protected:
    /// \brief The per-object part of CheckoutImport: names, invalid faces, missing
    ///        materials, the object operations of the import flags' low byte, sorted
    ///        children.
    void CheckoutNode(CSceneImportOptions& options);
    /// \brief Copies the file \p file into the folder \p destination (created when missing)
    ///        under the name returned in \p newName, logging "Copying texture %s to %s".
    ///
    /// A file of that name in \p destination is never replaced unless this export placed it
    /// (it is in \p options' used texture names): a different file takes a free name
    /// instead, a file with the same bytes is reused. With _ExportRenameTextures a name that
    /// another texture of this export placed is not reused either. The copy is written to a
    /// temporary file renamed into place.
    /// \return false, with "Can't move texture %s" logged, when the copy fails.
    bool MoveTextureFile(const CXTString& file, const CXTString& destination, CXTString& newName,
                         CSceneExportOptions* options);
    /// \brief Drops this scene's reference to the parser information (see CParserSceneInfo).
    void ReleaseParserInfo();
    /// \brief The frame the children of \p node live in at the current tick: the product of
    ///        the object-local matrices of \p node and its ancestors below the root (no pivot:
    ///        a pivot moves only the node's own object). The identity for null and the root.
    C4x4TMatrix<float> GetChildFrame(const C3DSceneNode* node) const;
    /// \brief Empties \p objects and appends the geometric objects of \p start's subtree (the
    ///        start included; null: the whole scene), each shared object once.
    void GetGeomObjects(C3DSceneNode* start, CXArray<C3DGeomObject*>& objects) const;

private:
    /// \brief Gives the children of \p node its placement, moves them after it among its
    ///        siblings in their order and deletes \p node.
    void DissolveNode(C3DSceneNode* node);
    void ShareParserInfo(const C3DScene* source);
    void SetSceneOnBranch(C3DSceneNode* top);
    C3DSceneNode* PreorderPredecessor(C3DSceneNode* node) const;
    void LoadInto(CXArchive& ar);

    CParserSceneInfo* m_ParserInfo = nullptr;
    CCustomData m_CustomData;
    CMaterials m_Materials;
    int m_CurrentTick = 0;
};
