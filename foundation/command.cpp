#include <3dzan/foundation/command.h>

bool CCommandID::operator==(const CCommandID& other) const
{
    return m_Group == other.m_Group && m_SubGroup == other.m_SubGroup && m_Kind == other.m_Kind &&
           m_Category == other.m_Category && m_Code == other.m_Code &&
           m_Version == other.m_Version;
}

CXTString CCommandID::ToString() const
{
    auto code = [](unsigned value) {
        char text[5];
        for (int i = 0; i < 4; ++i)
        {
            char c = char((value >> (24 - 8 * i)) & 0xFF);
            text[i] = c >= 0x20 && c < 0x7F ? c : '?';
        }
        text[4] = '\0';
        return CXTString(text);
    };
    CXTString out = code(m_Group) + "/" + code(m_SubGroup) + "/" + code(m_Kind) + "/" +
                    code(m_Category) + "/" + code(m_Code);
    out.AppendFormat("/%u", m_Version);
    return out;
}

CZanCommand::~CZanCommand() = default;

CCommandID CZanCommand::GetCommandID() const { return CCommandID(); }

bool CZanCommand::SetParameters(const CCustomData& parameters)
{
    if (!AreParametersValid(parameters))
        return false;
    if (&parameters != &m_Parameters)
        m_Parameters = parameters;
    return true;
}

void CZanCommand::GetParameters(CCustomData& parameters) const
{
    if (&parameters != &m_Parameters)
        parameters = m_Parameters;
}

bool CZanCommand::AreParametersValid(const CCustomData&) const { return true; }
