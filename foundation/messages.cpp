// Message boxes and notifications. The library decides what to ask; whoever runs the window
// system decides how to show it. Without a presenter the library still has to go on, so it
// takes the answer the message box would have had focused, and leaves a trace in the log
// of what it would have asked.
#include <3dzan/foundation/messages.h>
#include <3dzan/foundation/services.h>

#include <mutex>

namespace
{
struct MessageState
{
    // Recursive: a presenter may itself ask something while it shows a message.
    std::recursive_mutex m_Mutex;
    CMessagePresenter* m_Presenter = nullptr;
};

MessageState& GetMessageState()
{
    // Never destroyed: exit callbacks may still ask or notify.
    static MessageState* const state = new MessageState;
    return *state;
}

thread_local int t_SilentDepth = 0;

// The buttons of a style, first to last; \p count receives how many.
const int* ButtonsOf(unsigned style, int& count)
{
    static const int kOk[] = {kIdOk};
    static const int kOkCancel[] = {kIdOk, kIdCancel};
    static const int kYesNoCancel[] = {kIdYes, kIdNo, kIdCancel};
    static const int kYesNo[] = {kIdYes, kIdNo};
    switch (style & kMbTypeMask)
    {
    case kMbOkCancel:
        count = 2;
        return kOkCancel;
    case kMbYesNoCancel:
        count = 3;
        return kYesNoCancel;
    case kMbYesNo:
        count = 2;
        return kYesNo;
    default:
        count = 1;
        return kOk;
    }
}

const char* AnswerName(int answer)
{
    switch (answer)
    {
    case kIdOk:
        return "OK";
    case kIdCancel:
        return "Cancel";
    case kIdYes:
        return "Yes";
    case kIdNo:
        return "No";
    default:
        return "?";
    }
}

const char* LevelName(unsigned level)
{
    switch (level)
    {
    case kNotifyInformation:
        return "information";
    case kNotifyWarning:
        return "warning";
    case kNotifyError:
        return "error";
    default:
        return "notice";
    }
}
} // namespace

int ZanGetDefaultAnswer(unsigned style)
{
    int count = 0;
    const int* buttons = ButtonsOf(style, count);
    unsigned index = (style & kMbDefMask) >> 8;
    return index < unsigned(count) ? buttons[index] : buttons[0];
}

bool ZanIsAnswerOf(unsigned style, int answer)
{
    int count = 0;
    const int* buttons = ButtonsOf(style, count);
    for (int i = 0; i < count; ++i)
        if (buttons[i] == answer)
            return true;
    return false;
}

CMessagePresenter::~CMessagePresenter() = default;

CMessagePresenter* SetMessagePresenter(CMessagePresenter* presenter)
{
    MessageState& state = GetMessageState();
    std::lock_guard<std::recursive_mutex> lock(state.m_Mutex);
    CMessagePresenter* previous = state.m_Presenter;
    state.m_Presenter = presenter;
    return previous;
}

CMessagePresenter* GetMessagePresenter()
{
    MessageState& state = GetMessageState();
    std::lock_guard<std::recursive_mutex> lock(state.m_Mutex);
    return state.m_Presenter;
}

int ZanMessageBox(const char* text, const char* caption, unsigned style)
{
    text = text ? text : "";
    caption = caption ? caption : "";
    int answer = ZanGetDefaultAnswer(style);
    const char* how = "default answer, not shown";
    if (!IsSilentThread())
    {
        MessageState& state = GetMessageState();
        std::lock_guard<std::recursive_mutex> lock(state.m_Mutex);
        if (state.m_Presenter)
        {
            how = "answered";
            try
            {
                int given = state.m_Presenter->Show(text, caption, style);
                if (ZanIsAnswerOf(style, given))
                    answer = given;
                else
                    how = "default answer, the presenter's was not a button";
            }
            catch (...)
            {
                how = "default answer, the presenter failed";
            }
        }
    }
    WriteToLogFile("Message box \"%s\" -> %s (%s): %s\n", caption, AnswerName(answer), how, text);
    return answer;
}

bool ZanNotify(const char* text, unsigned level, const char* caption, unsigned id)
{
    text = text ? text : "";
    caption = caption ? caption : "";
    bool shown = false;
    if (!IsSilentThread())
    {
        MessageState& state = GetMessageState();
        std::lock_guard<std::recursive_mutex> lock(state.m_Mutex);
        if (state.m_Presenter)
        {
            try
            {
                shown = state.m_Presenter->Notify(text, caption, level, id);
            }
            catch (...)
            {
                shown = false;
            }
        }
    }
    WriteToLogFile("Notification \"%s\" (%s %u, %s): %s\n", caption, LevelName(level), id,
                   shown ? "shown" : "not shown", text);
    return shown;
}

bool IsSilentThread()
{
    return t_SilentDepth > 0;
}

CSilentThread::CSilentThread()
{
    ++t_SilentDepth;
}
CSilentThread::~CSilentThread()
{
    --t_SilentDepth;
}

// ------------------------------------------------------------------ scripted answers

CScriptedAnswers::CScriptedAnswers(std::initializer_list<int> answers)
    : m_Answers(answers), m_Previous(SetMessagePresenter(this))
{
}

CScriptedAnswers::~CScriptedAnswers()
{
    SetMessagePresenter(m_Previous);
}

void CScriptedAnswers::AddAnswer(int answer)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Answers.push_back(answer);
}

int CScriptedAnswers::GetRemainingAnswerNbr() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return int(m_Answers.size());
}

std::vector<CScriptedAnswers::Shown> CScriptedAnswers::GetShown() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Shown;
}

int CScriptedAnswers::Show(const char* text, const char* caption, unsigned style)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    int answer = ZanGetDefaultAnswer(style);
    if (!m_Answers.empty())
    {
        // A scripted answer the box has no button for is what a user cannot give.
        if (ZanIsAnswerOf(style, m_Answers.front()))
            answer = m_Answers.front();
        m_Answers.pop_front();
    }
    Shown shown;
    shown.m_Text = text;
    shown.m_Caption = caption;
    shown.m_Style = style;
    shown.m_Answer = answer;
    m_Shown.push_back(std::move(shown));
    return answer;
}

bool CScriptedAnswers::Notify(const char* text, const char* caption, unsigned level, unsigned id)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    Shown shown;
    shown.m_Text = text;
    shown.m_Caption = caption;
    shown.m_Style = level;
    shown.m_IsNotification = true;
    shown.m_NotificationId = id;
    m_Shown.push_back(std::move(shown));
    return true;
}
