// Material libraries of OBJ files. Only the statements the material model has a place for
// are kept; maps keep their file name (the options before it are dropped).
#include "objmtl.h"

#include "objparser.h"
#include "pluginfile.h"

#include <3dzan/materials/material.h>
#include <3dzan/materials/materialmap.h>

#include <algorithm>
#include <cmath>
#include <sys/stat.h>

using zanplugin::CTextScanner;

namespace zanobj
{
namespace
{
CRGBColor ToColor(const float rgb[3])
{
    auto byte = [](float value)
    {
        const float clamped = std::min(1.0f, std::max(0.0f, value));
        return uint8_t(std::lround(clamped * 255.0f));
    };
    return CRGBColor(byte(rgb[0]), byte(rgb[1]), byte(rgb[2]));
}

// Reads three finite numbers (a single one stands for all three, as libraries often write).
bool ReadColor(CTextScanner& scan, float rgb[3])
{
    if (!scan.ReadFloat(rgb[0]) || !std::isfinite(rgb[0]))
        return false;
    if (!scan.ReadFloat(rgb[1]))
    {
        rgb[1] = rgb[2] = rgb[0];
        return scan.AtLineEnd();
    }
    return scan.ReadFloat(rgb[2]) && std::isfinite(rgb[1]) && std::isfinite(rgb[2]);
}

// The file of a map statement: the last word when options come first ("-s 1 1 1 a.png").
std::string MapFile(CTextScanner& scan)
{
    const std::string_view rest = scan.RestOfLine();
    if (rest.empty() || rest[0] != '-')
        return std::string(rest);
    const size_t blank = rest.find_last_of(" \t");
    return std::string(blank == std::string_view::npos ? rest : rest.substr(blank + 1));
}

bool IsFile(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
} // namespace

void CMtlMaterial::Apply(C3DMaterial& material, unsigned uvChannelID) const
{
    if (m_HasDiffuse)
        material.SetDiffuseColor(0, ToColor(m_Diffuse));
    if (m_HasAmbient)
        material.SetAmbientColor(0, ToColor(m_Ambient));
    if (m_HasSpecular)
        material.SetSpecularColor(0, ToColor(m_Specular));
    if (m_HasTransparency)
        material.SetTransparencyFactor(0, std::min(1.0f, std::max(0.0f, m_Transparency)));
    if (m_HasShininess)
        material.GetCustomData().SetFloat(CObjParser::kShininessID, m_Shininess);
    if (m_HasIllumination)
        material.GetCustomData().SetInt(CObjParser::kIlluminationID, m_Illumination);
    if (!m_DiffuseMap.empty())
    {
        CMaterialMap* map = material.AddMaterialMap(CXTString(m_DiffuseMap), uvChannelID,
                                                    _MapDiffuse, _ProjectionChannel);
        if (map && !m_AlphaMap.empty())
            map->SetAlphaFileName(CXTString(m_AlphaMap));
    }
    else if (!m_AlphaMap.empty())
        material.AddMaterialMap(CXTString(m_AlphaMap), uvChannelID, _MapTransparency,
                                _ProjectionChannel);
}

bool CMaterialLibrary::ReadFile(const std::string& folder, std::string_view name,
                                std::string& warning)
{
    std::string base = folder;
    if (!base.empty() && base.back() != '/')
        base.push_back('/');
    std::string file(name);
    std::replace(file.begin(), file.end(), '\\', '/');
    // The name as written, then its file part alone beside the OBJ.
    std::string path = !file.empty() && file[0] == '/' ? file : base + file;
    if (!IsFile(path))
    {
        const size_t slash = file.find_last_of('/');
        if (slash != std::string::npos)
            path = base + file.substr(slash + 1);
    }
    zanplugin::CMappedFile mapped;
    if (file.empty() || !IsFile(path) || !mapped.Open(path.c_str()))
    {
        warning = "the material library '" + std::string(name) + "' cannot be read";
        return false;
    }
    int warnings = 0;
    ReadText(mapped.GetData(), mapped.GetSize(), warnings);
    if (warnings)
        warning = "the material library '" + std::string(name) + "' has " +
                  std::to_string(warnings) + " statements that cannot be read";
    return true;
}

void CMaterialLibrary::ReadText(const char* data, size_t size, int& warnings)
{
    CTextScanner scan(data, size);
    CMtlMaterial* current = nullptr;
    for (; !scan.AtEnd(); scan.NextLine())
    {
        const std::string_view word = scan.ReadWord();
        if (word.empty() || word[0] == '#')
            continue;
        if (word == "newmtl")
        {
            std::string name(scan.RestOfLine());
            if (m_Index.count(name))
            {
                current = nullptr; // the first definition stands
                continue;
            }
            m_Index.emplace(name, m_Materials.size());
            m_Materials.emplace_back();
            current = &m_Materials.back();
            current->m_Name = std::move(name);
            continue;
        }
        if (!current)
            continue;
        // A statement that cannot be read leaves the values as they were.
        bool read = true;
        float rgb[3];
        if (word == "Kd" || word == "Ka" || word == "Ks")
        {
            read = ReadColor(scan, rgb);
            if (read)
            {
                const bool diffuse = word == "Kd", ambient = word == "Ka";
                float* target = diffuse   ? current->m_Diffuse
                                : ambient ? current->m_Ambient
                                          : current->m_Specular;
                std::copy(rgb, rgb + 3, target);
                (diffuse   ? current->m_HasDiffuse
                 : ambient ? current->m_HasAmbient
                           : current->m_HasSpecular) = true;
            }
        }
        else if (word == "Ns")
        {
            float value = 0;
            read = scan.ReadFloat(value) && std::isfinite(value);
            if (read)
            {
                current->m_Shininess = value;
                current->m_HasShininess = true;
            }
        }
        else if (word == "d" || word == "Tr")
        {
            float value = 0;
            read = scan.ReadFloat(value) && std::isfinite(value);
            if (read)
            {
                current->m_Transparency = word == "d" ? 1.0f - value : value;
                current->m_HasTransparency = true;
            }
        }
        else if (word == "illum")
        {
            int value = 0;
            read = scan.ReadInt(value);
            if (read)
            {
                current->m_Illumination = value;
                current->m_HasIllumination = true;
            }
        }
        else if (word == "map_Kd")
            current->m_DiffuseMap = MapFile(scan);
        else if (word == "map_d")
            current->m_AlphaMap = MapFile(scan);
        if (!read)
            ++warnings;
    }
}

const CMtlMaterial* CMaterialLibrary::Find(const std::string& name) const
{
    auto found = m_Index.find(name);
    return found == m_Index.end() ? nullptr : &m_Materials[found->second];
}
} // namespace zanobj
