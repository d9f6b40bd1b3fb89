// The progress bar of the command: one line on a terminal, redrawn in place with a carriage
// return, erased when the outermost task ends. Tasks that end within a quarter of a second
// never draw, so quick operations leave no flicker.
#include "zan3dcli.h"

#include <algorithm>

namespace
{
constexpr int kBarWidth = 30;
constexpr auto kDrawDelay = std::chrono::milliseconds(250);
} // namespace

std::string FormatProgressLine(int percent, const std::string& label, int width)
{
    percent = std::clamp(percent, 0, 100);
    width = std::max(width, 1);
    const int filled = percent * width / 100;
    std::string line = "[";
    line.append(size_t(filled), '#');
    line.append(size_t(width - filled), ' ');
    line += "] ";
    const std::string number = std::to_string(percent);
    line.append(3 - std::min<size_t>(3, number.size()), ' ');
    line += number + "%";
    if (!label.empty())
        line += " " + label;
    return line;
}

CTerminalProgress::CTerminalProgress(std::FILE* stream) : m_Stream(stream)
{
    m_PreviousHandler = progressSetCallback(&CTerminalProgress::Handle, this, &m_PreviousUserData);
}

CTerminalProgress::~CTerminalProgress()
{
    Erase();
    progressSetCallback(m_PreviousHandler, m_PreviousUserData);
}

bool CTerminalProgress::Handle(int event, ProcessProgressInfo* info, void* userData)
{
    auto* self = static_cast<CTerminalProgress*>(userData);
    if (!self || !info)
        return false;
    switch (event)
    {
    case kProgressStart:
        if (self->m_Depth++ == 0)
            self->m_Start = std::chrono::steady_clock::now();
        break;
    case kProgressEnd:
        if (self->m_Depth > 0 && --self->m_Depth == 0)
            self->Erase();
        break;
    default:
        if (std::chrono::steady_clock::now() - self->m_Start >= kDrawDelay)
            self->Draw(*info);
        break;
    }
    // The command line has no stop button: tasks always run to their end.
    return false;
}

void CTerminalProgress::Draw(const ProcessProgressInfo& info)
{
    const int percent = info.GetPercent();
    std::string label = info.m_Title.str();
    if (!info.m_Status.IsEmpty())
        label = info.m_Status.str();
    if (m_Drawn && percent == m_LastPercent && label == m_LastLabel)
        return;
    // Long labels would wrap and break the carriage-return redraw.
    if (label.size() > 40)
        label = label.substr(0, 37) + "...";
    std::fprintf(m_Stream, "\r%s\033[K", FormatProgressLine(percent, label, kBarWidth).c_str());
    std::fflush(m_Stream);
    m_Drawn = true;
    m_LastPercent = percent;
    m_LastLabel = info.m_Status.IsEmpty() ? info.m_Title.str() : info.m_Status.str();
}

void CTerminalProgress::Erase()
{
    if (!m_Drawn)
        return;
    std::fprintf(m_Stream, "\r\033[K");
    std::fflush(m_Stream);
    m_Drawn = false;
    m_LastPercent = -1;
}
