#include "tests/support/message_box_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "standin/common/message_box_reading.h"

static MessageBoxRecorder* gpRecorder = NULL;

struct PendingBox {
    HWND hBox;
    size_t nIndex;
};
static std::vector<PendingBox> gPendingBoxes;

MessageBoxRecorder::MessageBoxRecorder()
{
    EXPECT_EQ(gpRecorder, nullptr) << "one recorder at a time";
    gpRecorder = this;
    m_hHook = SetWindowsHookExA(WH_CBT, CbtProc, NULL, GetCurrentThreadId());
    EXPECT_NE(m_hHook, nullptr);
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    if (m_hHook)
        UnhookWindowsHookEx(m_hHook);
    gpRecorder = NULL;
}

void MessageBoxRecorder::Record(HWND hBox)
{
    if (std::find(m_seen.begin(), m_seen.end(), hBox) != m_seen.end())
        return;
    m_seen.push_back(hBox);

    RecordedBox box;
    HWND hOwner = GetWindow(hBox, GW_OWNER);
    box.hWndOwner = hOwner ? hOwner : GetDesktopWindow();
    box.caption = WindowText(hBox);
    box.text = WindowText(GetDlgItem(hBox, LC_MSGBOX_TEXT_ID));
    std::vector<int> buttons;
    box.uStyle = ReadMessageBoxStyle(hBox, &buttons);

    int nAnswer = 0;
    if (!m_answers.empty()) {
        nAnswer = m_answers.front();
        m_answers.pop_front();
        if (std::find(buttons.begin(), buttons.end(), nAnswer) == buttons.end()) {
            ADD_FAILURE() << "scripted button " << nAnswer << " is not on the box \"" << box.text << "\"";
            nAnswer = 0;
        }
    }
    box.nAnswer = nAnswer;
    m_boxes.push_back(box);
    if (onBox)
        onBox(box);

    // The box marks its default button once it has been set up, after it is
    // activated: its style and an unscripted answer are read when its own
    // loop first runs.
    gPendingBoxes.push_back({ hBox, m_boxes.size() - 1 });
    SetTimer(NULL, 0, 0, AnswerPendingBoxes);
}

void CALLBACK MessageBoxRecorder::AnswerPendingBoxes(HWND, UINT, UINT_PTR idTimer, DWORD)
{
    KillTimer(NULL, idTimer);
    std::vector<PendingBox> pending;
    pending.swap(gPendingBoxes);
    for (const PendingBox& one : pending) {
        if (!gpRecorder || one.nIndex >= gpRecorder->m_boxes.size() || !IsWindow(one.hBox))
            continue;
        RecordedBox& box = gpRecorder->m_boxes[one.nIndex];
        std::vector<int> buttons;
        box.uStyle = ReadMessageBoxStyle(one.hBox, &buttons);
        if (box.nAnswer == 0)
            box.nAnswer = DefaultMessageBoxButton(one.hBox, buttons);
        PressMessageBoxButton(one.hBox, box.nAnswer);
    }
}

LRESULT CALLBACK MessageBoxRecorder::CbtProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_ACTIVATE && gpRecorder && IsMessageBox((HWND)wParam))
        gpRecorder->Record((HWND)wParam);
    return CallNextHookEx(NULL, nCode, wParam, lParam);
}
