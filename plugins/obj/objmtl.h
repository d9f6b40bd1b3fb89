// Material libraries (.mtl) of OBJ files: reading them into plain records, and giving a
// record's values to a scene material.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class C3DMaterial;

namespace zanobj
{
/// \brief One `newmtl` block: the values it sets (the others keep the material's defaults).
struct CMtlMaterial
{
    std::string m_Name;
    float m_Diffuse[3] = {0, 0, 0};
    float m_Ambient[3] = {0, 0, 0};
    float m_Specular[3] = {0, 0, 0};
    float m_Shininess = 0;
    float m_Transparency = 0; ///< 1 - d, or Tr
    int m_Illumination = 0;
    std::string m_DiffuseMap;
    std::string m_AlphaMap;
    bool m_HasDiffuse = false, m_HasAmbient = false, m_HasSpecular = false;
    bool m_HasShininess = false, m_HasTransparency = false, m_HasIllumination = false;

    /// \brief Gives these values to \p material; the maps use the texture channel
    ///        \p uvChannelID.
    void Apply(C3DMaterial& material, unsigned uvChannelID) const;
};

/// \brief The materials of one or more libraries; a name defined twice keeps its first block.
class CMaterialLibrary
{
public:
    /// \brief Reads the library \p name (as written after `mtllib`) from \p folder.
    /// \return false, with \p warning telling why, when no file of that name can be read.
    bool ReadFile(const std::string& folder, std::string_view name, std::string& warning);
    /// \brief Reads library text. Statements that cannot be read are skipped; \p warnings
    ///        counts them.
    void ReadText(const char* data, size_t size, int& warnings);
    const CMtlMaterial* Find(const std::string& name) const;
    size_t GetCount() const { return m_Materials.size(); }

private:
    std::vector<CMtlMaterial> m_Materials;
    std::unordered_map<std::string, size_t> m_Index;
};
} // namespace zanobj
