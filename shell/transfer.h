// The transfer control: one TransferContext for the whole run of the
// program, the state that decides which controls are enabled, and the
// routines that start, finish and abort a receive.
//
// Who ends a transfer: exactly one of Cancel (the main thread), the
// worker's failure path and the worker's completion. Each claims the ending
// with one interlocked exchange; the loser does nothing more. So the port is
// closed exactly once, also when a completion crosses a Cancel, and the user
// sees one coherent set of boxes.
//
// Cancel never kills the worker. It asks the link to stop, which ends any
// wait inside readExact at once, and then waits for the worker while it
// keeps answering the messages the worker sends: the worker's title and line
// updates are synchronous SendMessage calls, and the dialog drops them once
// the stop is requested, so nothing from a cancelled worker reaches the
// window and neither thread can block the other.
#pragma once

#include "kvr_protocol.h"
#include "serial_port_link.h"

#include <windows.h>

namespace kvr {

enum class TransferState : LONG { Idle = 0, Receiving = 1 };

constexpr std::size_t kPortNameLength = 19;
constexpr std::size_t kPathLength = 1023;

// Private messages from the worker's sink to the dialog; lParam points to a
// NUL-terminated narrow text that lives until SendMessage returns.
constexpr UINT WM_APP_SET_TITLE = WM_APP + 1;
constexpr UINT WM_APP_ADD_LINE = WM_APP + 2;

struct TransferContext {
    SerialPortLink link;                       // the open port, or closed
    HANDLE worker = nullptr;                   // the ReceiveWorker thread
    char portName[kPortNameLength + 1] = {};
    char path[kPathLength + 1] = {};           // file name buffer of Load and Save
    HWND window = nullptr;                     // the main dialog
    DWORD mainThread = 0;
    volatile LONG state = LONG(TransferState::Idle);
    volatile LONG ending = 0;                  // 1 once someone has claimed this transfer's end
    char recvCaption[64] = {};                 // the dialog's own Recv caption, in its language
};

extern TransferContext gTransfer;
extern UINT gCompletionMessage;  // "ORVA_HEAD"

TransferState CurrentTransferState();
void SetTransferState(TransferState state);
void StartReceive();
void AbortTransfer();
void OnTransferComplete();
void ReportSystemError();
// Stops a running transfer without a word, for the end of the program.
void StopTransferForExit();

}  // namespace kvr
