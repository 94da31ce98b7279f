#pragma once
// The window's one device dialogue, bound to its controls, its reply timer MCPort1Timer, the port
// component MCPort1 and the toolkit's message pump. The handlers of "查询版本号" and "开始升级" and
// of the reply timer (TMForm::RzButton2Click, RzButton3Click, MCPort1TimerTimer) live beside it.
#include "dialogue/Dialogue.h"

extern Dialogue WindowDialogue;

// The dialogue's state under the names the window's code has always used.
inline uint8_t*& PendingReply = WindowDialogue.PendingReply;
inline bool& ReplyArrived = WindowDialogue.ReplyArrived;
inline bool& TimedOut = WindowDialogue.TimedOut;
inline bool& DialogueStopped = WindowDialogue.DialogueStopped;
inline bool& DialogueClosing = WindowDialogue.DialogueClosing;

// OnReceive handler of the port component.
void CollectReply();
inline void SetReplyTimeout(int ms) {
    WindowDialogue.SetReplyTimeout(ms);
}
inline int TextExchange(const char* request, char* replyTarget) {
    return WindowDialogue.TextExchange(request, replyTarget);
}
inline bool ResetDevice() {
    return WindowDialogue.ResetDevice();
}

// The window is closing: a busy dialogue stops (StopDialogue), so the window closes at once
// instead of a run going on against a closed port.
void StopDialogueOnClose();
