/// \file messages.h
/// \brief Message boxes and notifications, shown by a presenter when a window system runs,
///        answered by default and logged otherwise.
///
/// The library asks through ZanMessageBox and ZanNotify. The viewer installs a presenter
/// (SetMessagePresenter) that shows real dialogs; without one (command line, tests, silent
/// operations) nothing is shown and the style's default answer is taken. Every message and
/// its answer is written to the log file either way. Tests script the answers with
/// CScriptedAnswers.
#pragma once

#include <3dzan/foundation/xstring.h>

#include <deque>
#include <initializer_list>
#include <mutex>
#include <vector>

/// Buttons of a message box (the low four bits of the style).
constexpr unsigned kMbOk = 0x0;          ///< OK
constexpr unsigned kMbOkCancel = 0x1;    ///< OK, Cancel
constexpr unsigned kMbYesNoCancel = 0x3; ///< Yes, No, Cancel
constexpr unsigned kMbYesNo = 0x4;       ///< Yes, No
constexpr unsigned kMbTypeMask = 0xF;
/// Icon of a message box (bits 4 to 7).
constexpr unsigned kMbIconError = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconWarning = 0x30;
constexpr unsigned kMbIconInformation = 0x40;
constexpr unsigned kMbIconMask = 0xF0;
/// The default button, counted from the first (bits 8 to 11).
constexpr unsigned kMbDefButton1 = 0x000;
constexpr unsigned kMbDefButton2 = 0x100;
constexpr unsigned kMbDefButton3 = 0x200;
constexpr unsigned kMbDefMask = 0xF00;

/// Answers of a message box.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

/// Levels of a notification.
constexpr unsigned kNotifyInformation = 0;
constexpr unsigned kNotifyWarning = 1;
constexpr unsigned kNotifyError = 2;

/// \brief The answer a message box of \p style gives when nobody answers: its default
///        button, or its first button when the default names none. Unknown button sets
///        count as kMbOk.
ZAN_API int ZanGetDefaultAnswer(unsigned style);
/// \brief Whether \p answer is one of the buttons of \p style.
ZAN_API bool ZanIsAnswerOf(unsigned style, int answer);

/// \brief Shows what the library asks the user, for a window system.
///
/// Called on the thread that asks, one message at a time (under a process-wide recursive
/// lock); a presenter that must show dialogs on another thread passes the call there and
/// waits for the answer.
class ZAN_API CMessagePresenter
{
public:
    virtual ~CMessagePresenter();
    /// \brief Shows a modal message box and returns the button chosen. An answer that is not
    ///        a button of \p style is replaced by the default answer.
    virtual int Show(const char* text, const char* caption, unsigned style) = 0;
    /// \brief Shows a notification without waiting for the user.
    /// \param id identifies the notice (a presenter may let the user hide one id for good);
    ///        0 for none.
    /// \return whether the notification is shown.
    virtual bool Notify(const char* text, const char* caption, unsigned level, unsigned id) = 0;
};

/// \brief Installs the presenter (null removes it; not owned) and returns the previous one.
ZAN_API CMessagePresenter* SetMessagePresenter(CMessagePresenter* presenter);
/// \brief The installed presenter, or null.
ZAN_API CMessagePresenter* GetMessagePresenter();

/// \brief Asks the user with a message box.
/// \param text message; null is empty.
/// \param caption title; null is empty.
/// \param style buttons, icon and default button (kMb... flags combined).
/// \return the answer (kIdOk, kIdCancel, kIdYes, kIdNo): the presenter's, or the default
///         answer when no presenter is installed or the thread is silent.
ZAN_API int ZanMessageBox(const char* text, const char* caption, unsigned style);

/// \brief Tells the user something without waiting (and logs it).
/// \return true when a presenter showed it; false without a presenter or in a silent thread.
ZAN_API bool ZanNotify(const char* text, unsigned level, const char* caption = nullptr,
                       unsigned id = 0);

/// \brief Whether the calling thread is silent: it shows no message box, notice or dialog.
ZAN_API bool IsSilentThread();

/// \brief Makes the calling thread silent while it lives; scopes nest.
class ZAN_API CSilentThread
{
public:
    CSilentThread();
    ~CSilentThread();
    CSilentThread(const CSilentThread&) = delete;
    CSilentThread& operator=(const CSilentThread&) = delete;
};

/// \brief A presenter for tests: answers from a script and records what was shown.
///
/// Installs itself on construction and puts the previous presenter back on destruction, so
/// the scopes must end in the reverse order of their start. Each message box takes the next
/// scripted answer; when the script is exhausted the default answer is taken. Notifications
/// consume no answer and count as shown.
class ZAN_API CScriptedAnswers : public CMessagePresenter
{
public:
    /// What the user would have seen.
    struct Shown
    {
        CXTString m_Text;
        CXTString m_Caption;
        unsigned m_Style = 0; ///< the message box style, or the notification level
        int m_Answer = 0;     ///< the answer given; 0 for a notification
        bool m_IsNotification = false;
        unsigned m_NotificationId = 0;
    };

    explicit CScriptedAnswers(std::initializer_list<int> answers = {});
    ~CScriptedAnswers() override;
    CScriptedAnswers(const CScriptedAnswers&) = delete;
    CScriptedAnswers& operator=(const CScriptedAnswers&) = delete;

    /// \brief Appends an answer to the script.
    void AddAnswer(int answer);
    /// \brief Answers not consumed yet.
    int GetRemainingAnswerNbr() const;
    /// \brief Everything shown so far, in order.
    std::vector<Shown> GetShown() const;

    int Show(const char* text, const char* caption, unsigned style) override;
    bool Notify(const char* text, const char* caption, unsigned level, unsigned id) override;

private:
    mutable std::mutex m_Mutex;
    std::deque<int> m_Answers;
    std::vector<Shown> m_Shown;
    CMessagePresenter* m_Previous;
};
