// Records every message box the code under test shows on this thread, as a
// user would see it, and answers it with a scripted button.
#ifndef LETTERCAST_TESTS_MESSAGE_BOX_RECORDER_H
#define LETTERCAST_TESTS_MESSAGE_BOX_RECORDER_H

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

struct RecordedBox {
    HWND hWndOwner;        // the desktop window for a box without an owner
    std::string caption;
    std::string text;
    UINT uStyle;           // buttons | icon | default button, read back from the box
    int nAnswer;           // the button pressed
};

class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    // Buttons for the next boxes, in order (IDOK, IDYES, IDNO, ...). A box
    // with no scripted answer left gets its default button.
    void Answer(int nButton) { m_answers.push_back(nButton); }

    const std::vector<RecordedBox>& Boxes() const { return m_boxes; }

    // Called with each box before it is answered: what a user does while a
    // question waits (another program saving a file, say).
    std::function<void(const RecordedBox&)> onBox;

private:
    static LRESULT CALLBACK CbtProc(int nCode, WPARAM wParam, LPARAM lParam);
    static void CALLBACK AnswerPendingBoxes(HWND, UINT, UINT_PTR idTimer, DWORD);
    void Record(HWND hBox);

    HHOOK m_hHook;
    std::deque<int> m_answers;
    std::vector<RecordedBox> m_boxes;
    std::vector<HWND> m_seen;
};

#endif
