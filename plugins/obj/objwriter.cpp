// The OBJ writer. Indices in an OBJ file count over the whole file, so each object's
// elements are written with the running totals of the objects before it as offsets. Names
// of objects and materials are made unique in the file, since the reader joins what shares
// a name.
#include "objparser.h"

#include "pluginfile.h"

#include <3dzan/geometry/channel.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/normals.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/materials/material.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/scene/geomobject.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

using zanplugin::CAtomicFile;
using zanplugin::FormatFloat;

namespace
{
// A name fit for a statement that takes the rest of its line: one line, trimmed, not empty.
std::string LineName(const std::string& name, const std::string& fallback)
{
    std::string text;
    for (char c : name)
        text.push_back(c == '\n' || c == '\r' || c == '\t' || c == '#' ? '_' : c);
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return fallback;
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    if (text.back() == '\\')
        text.back() = '_';
    return text;
}

// \p name, or \p name_N with the first N that is free.
std::string UniqueName(std::set<std::string>& taken, const std::string& name)
{
    std::string candidate = name;
    for (int n = 1; taken.count(candidate); ++n)
        candidate = name + "_" + std::to_string(n);
    taken.insert(candidate);
    return candidate;
}

class CTextOut
{
public:
    explicit CTextOut(CAtomicFile& file) : m_File(file) {}
    CTextOut& Text(std::string_view text)
    {
        m_File.Write(text);
        return *this;
    }
    CTextOut& Float(float value)
    {
        char buffer[32];
        m_File.Write(FormatFloat(value, buffer));
        return *this;
    }
    CTextOut& Floats(const float* values, int count)
    {
        for (int i = 0; i < count; ++i)
        {
            Text(" ");
            Float(values[i]);
        }
        return *this;
    }
    CTextOut& Int(int64_t value)
    {
        char buffer[24];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        m_File.Write(buffer, size_t(end - buffer));
        return *this;
    }

private:
    CAtomicFile& m_File;
};

// Whether channel face \p face carries values for geometry face \p face of \p size corners.
bool HasChannelFace(const CFaceList* faces, unsigned face, int size)
{
    if (!faces || face >= unsigned(faces->GetSize()))
        return false;
    if (faces->IsFaceOneFlagSet(face, _FaceInvalid | _FaceExcluded))
        return false;
    return faces->GetFaceSize(face) == size;
}

float ColorComponent(uint8_t value)
{
    return float(value) / 255.0f;
}
} // namespace

bool WriteObjFiles(const C3DScene& scene, const std::string& objPath, const std::string& mtlPath,
                   std::string& error)
{
    CAtomicFile obj, mtl;
    if (!obj.Open(objPath.c_str()))
    {
        error = obj.GetError();
        return false;
    }
    if (!mtl.Open(mtlPath.c_str()))
    {
        error = mtl.GetError();
        return false;
    }
    CTextOut out(obj);
    const std::string mtlName = mtlPath.substr(mtlPath.find_last_of('/') + 1);
    out.Text("# 3DZan\nmtllib ").Text(mtlName).Text("\n");

    std::set<std::string> objectNames, materialNames;
    std::unordered_map<unsigned, std::string> materials; // ID -> name in the file
    std::vector<unsigned> materialOrder;
    int64_t vBase = 0, tBase = 0, nBase = 0;
    C3DGeomObject* object = nullptr;
    int nodeNumber = 0;
    for (C3DNodePos pos = scene.GetFirstNode(_ObjectKindGeometric); pos;)
    {
        C3DSceneNode* node = scene.GetNextNode(object, pos);
        if (!node || !object || !object->GetPointList() || !object->GetFaceList())
            continue;
        const C3DPointList& points = *object->GetPointList();
        const C3DFaceList& faces = *object->GetFaceList();
        const int pointNbr = points.GetSize();
        ++nodeNumber;
        out.Text("o ")
            .Text(UniqueName(objectNames, LineName(std::string(node->GetName().c_str()),
                                                   "Object" + std::to_string(nodeNumber))))
            .Text("\n");

        // Vertex colours: the colour the last corner at each point shows.
        std::vector<CRGBColor> colors;
        if (CVCChannel* vc = object->GetChannels()->GetVCChannelByIndex(0, true))
        {
            const CFaceList* vcFaces = vc->GetFaceList();
            const CVCPointList* vcPoints = vc->GetVCPointList();
            if (vcFaces && vcPoints)
            {
                colors.assign(size_t(pointNbr), CRGBColor(255, 255, 255));
                faces.ForEachFace(
                    [&](unsigned f, const int* corners, unsigned count)
                    {
                        if (!HasChannelFace(vcFaces, f, int(count)))
                            return;
                        int n;
                        const int* values = vcFaces->GetIndexes(f, n);
                        for (unsigned k = 0; k < count; ++k)
                            if (corners[k] >= 0 && corners[k] < pointNbr && values[k] >= 0 &&
                                values[k] < vcPoints->GetSize())
                                colors[size_t(corners[k])] = (*vcPoints)[values[k]].GetColor();
                    });
            }
        }
        for (int i = 0; i < pointNbr; ++i)
        {
            const C3DTPoint<float>& p = points[i];
            const float xyz[3] = {p.m_X, p.m_Y, p.m_Z};
            out.Text("v").Floats(xyz, 3);
            if (!colors.empty())
            {
                const CRGBColor& c = colors[size_t(i)];
                const float rgb[3] = {ColorComponent(c.m_Red), ColorComponent(c.m_Green),
                                      ColorComponent(c.m_Blue)};
                out.Floats(rgb, 3);
            }
            out.Text("\n");
        }

        CUVWChannel* uv = object->GetChannels()->GetUVWChannelByIndex(0, true);
        const CFaceList* uvFaces = uv ? uv->GetFaceList() : nullptr;
        const CUVWPointList* uvPoints = uv ? uv->GetUVWPointList() : nullptr;
        const int uvNbr = uvPoints && uvFaces ? uvPoints->GetSize() : 0;
        for (int i = 0; i < uvNbr; ++i)
        {
            const CUVWPoint& t = (*uvPoints)[i];
            const float uvw[3] = {t.m_U, t.m_V, t.m_W};
            out.Text("vt").Floats(uvw, t.m_W == 0.0f ? 2 : 3).Text("\n");
        }

        CNormalFaceList* nFaces = nullptr;
        C3DVectorList* nVectors = nullptr;
        object->GetChannels()->GetSpecNormalChannel(nFaces, nVectors);
        const int nNbr = nFaces && nVectors ? nVectors->GetSize() : 0;
        // Undefined normals are not written: the others are renumbered past them.
        std::vector<int> nIndex(size_t(nNbr), -1);
        int nWritten = 0;
        for (int i = 0; i < nNbr; ++i)
        {
            const C3DTVector<float>& n = (*nVectors)[i];
            if (n.GetFlags() & _NormalUndefined)
                continue;
            const float xyz[3] = {n.m_X, n.m_Y, n.m_Z};
            out.Text("vn").Floats(xyz, 3).Text("\n");
            nIndex[size_t(i)] = nWritten++;
        }

        unsigned current = kZanNone;
        bool first = true;
        const int faceNbr = faces.GetSize();
        for (int f = 0; f < faceNbr; ++f)
        {
            int count;
            const int* corners = faces.GetIndexes(unsigned(f), count);
            if (count < 3 || faces.IsFaceOneFlagSet(unsigned(f), _FaceInvalid))
                continue;
            bool inside = true;
            for (int k = 0; k < count; ++k)
                inside = inside && corners[k] >= 0 && corners[k] < pointNbr;
            if (!inside)
                continue;
            const unsigned material = faces.GetFaceMaterial(unsigned(f));
            if (first || material != current)
            {
                first = false;
                current = material;
                auto found = materials.find(material);
                if (found == materials.end())
                {
                    const C3DMaterial* m = const_cast<C3DScene&>(scene).GetMaterialByID(material);
                    std::string name = m ? std::string(m->GetName().c_str()) : std::string();
                    name = UniqueName(materialNames,
                                      LineName(name, "Material" + std::to_string(material)));
                    found = materials.emplace(material, name).first;
                    materialOrder.push_back(material);
                }
                out.Text("usemtl ").Text(found->second).Text("\n");
            }
            const int* t = nullptr;
            if (uvNbr && HasChannelFace(uvFaces, unsigned(f), count))
            {
                int n;
                t = uvFaces->GetIndexes(unsigned(f), n);
                for (int k = 0; t && k < count; ++k)
                    if (t[k] < 0 || t[k] >= uvNbr)
                        t = nullptr;
            }
            const int* n = nullptr;
            if (nNbr && HasChannelFace(nFaces, unsigned(f), count))
            {
                int size;
                n = nFaces->GetIndexes(unsigned(f), size);
                for (int k = 0; n && k < count; ++k)
                    if (n[k] < 0 || n[k] >= nNbr || nIndex[size_t(n[k])] < 0)
                        n = nullptr;
            }
            out.Text("f");
            for (int k = 0; k < count; ++k)
            {
                out.Text(" ").Int(vBase + corners[k] + 1);
                if (t || n)
                    out.Text("/");
                if (t)
                    out.Int(tBase + t[k] + 1);
                if (n)
                    out.Text("/").Int(nBase + nIndex[size_t(n[k])] + 1);
            }
            out.Text("\n");
        }
        vBase += pointNbr;
        tBase += uvNbr;
        nBase += nWritten;
    }

    CTextOut lib(mtl);
    lib.Text("# 3DZan\n");
    for (unsigned id : materialOrder)
    {
        lib.Text("\nnewmtl ").Text(materials[id]).Text("\n");
        const C3DMaterial* m = const_cast<C3DScene&>(scene).GetMaterialByID(id);
        if (!m)
            continue;
        float rgba[4];
        m->FloatGetDiffuseColor(0, rgba);
        lib.Text("Kd").Floats(rgba, 3).Text("\n");
        m->FloatGetAmbientColor(0, rgba);
        lib.Text("Ka").Floats(rgba, 3).Text("\n");
        m->FloatGetSpecularColor(0, rgba);
        lib.Text("Ks").Floats(rgba, 3).Text("\n");
        // Ns and illum only when the material came with them: readers have their defaults.
        if (m->GetCustomData().HasValue(CObjParser::kShininessID))
            lib.Text("Ns ").Float(m->GetCustomData().GetFloat(CObjParser::kShininessID)).Text("\n");
        lib.Text("d ").Float(1.0f - m->GetTransparencyFactor(0)).Text("\n");
        if (m->GetCustomData().HasValue(CObjParser::kIlluminationID))
            lib.Text("illum ")
                .Int(m->GetCustomData().GetInt(CObjParser::kIlluminationID))
                .Text("\n");
        if (const CMaterialMap* map = m->GetDiffuseMaps())
        {
            lib.Text("map_Kd ").Text(LineName(map->GetFileName().c_str(), "")).Text("\n");
            if (!map->GetAlphaFileName().IsEmpty())
                lib.Text("map_d ").Text(LineName(map->GetAlphaFileName().c_str(), "")).Text("\n");
        }
    }
    if (!mtl.Commit())
    {
        error = mtl.GetError();
        return false;
    }
    if (!obj.Commit())
    {
        error = obj.GetError();
        return false;
    }
    return true;
}
