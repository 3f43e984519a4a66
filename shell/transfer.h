// The transfer control: one TransferContext for the whole run of the
// program, the state that decides which controls are enabled, and the
// routines that start, finish and abort a receive.
//
// Threads. The main thread owns the window and everything in it: boxes,
// controls, the record list and its journal. The worker only runs the
// engine. Its sink reaches the window through synchronous SendMessage
// calls, so a line is shown and journalled before its acknowledgement
// leaves; its outcome reaches the window as one posted message, and the
// main thread shows the report and runs the abort or the completion.
//
// Who ends a transfer: the main thread alone. Cancel, Close, a failure's
// report and the completion all run there; the first to begin the ending
// marks it, and a report box that returns finds whether the transfer it
// reported still stands. Cancel works at every moment: while a failure's
// report is up it ends the transfer at once; when the worker's outcome is
// already on its way, that outcome is shown, since it happened first.
//
// Cancel never kills the worker. It asks the link to stop, which ends any
// wait inside readExact or write at once, and then joins the worker while
// it keeps answering the messages the worker sends; the window drops the
// worker's title and line updates from the moment it decided to stop, so
// nothing from a cancelled worker reaches the list and neither thread can
// block the other. The program never ends with a worker still running.
#pragma once

#include "kvr_protocol.h"
#include "serial_port_link.h"

#include <windows.h>

#include <string>

namespace kvr {

enum class TransferState : LONG { Idle = 0, Receiving = 1 };

constexpr std::size_t kPortNameLength = 19;
constexpr std::size_t kPathLength = 1023;

// Private messages from the worker's sink to the dialog. A line is sent
// (lParam points to its NUL-terminated bytes until SendMessage returns); a
// title waits in the TitleHandOver and is announced by a posted message,
// and the line's handler takes it first, so the window gets the title, then
// the line, and only then does the engine acknowledge. One cross-thread
// SendMessage a frame instead of two: under Wine each costs 0.4 ms.
constexpr UINT WM_APP_TITLE_WAITING = WM_APP + 1;
constexpr UINT WM_APP_ADD_LINE = WM_APP + 2;
// Posted by the worker when the engine failed: wParam the ReceiveOutcome,
// lParam the platform's error code of the failed link operation.
constexpr UINT WM_APP_TRANSFER_FAILED = WM_APP + 3;
// Posted when the recovery journal failed: wParam the error code.
constexpr UINT WM_APP_JOURNAL_OFF = WM_APP + 4;
// Posted once at start-up, to offer what earlier runs left unsaved.
constexpr UINT WM_APP_OFFER_RECOVERY = WM_APP + 5;
// Posted after a pick in the port box, to put the bare name in it.
constexpr UINT WM_APP_PORT_PICKED = WM_APP + 6;

// The newest title from the worker, UTF-8; guarded by its lock.
class TitleHandOver {
public:
    TitleHandOver() { InitializeCriticalSection(&lock_); }
    ~TitleHandOver() { DeleteCriticalSection(&lock_); }
    // Worker: true when the main thread has taken the previous one, so a
    // new announcement is due.
    bool put(const std::string& title);
    // Main thread: the title waiting, if any.
    bool take(std::string& title);

private:
    CRITICAL_SECTION lock_;
    std::string title_;
    bool waiting_ = false;
};

struct TransferContext {
    SerialPortLink link;                       // the open port, or closed
    HANDLE worker = nullptr;                   // the ReceiveWorker thread
    std::string portName;                      // UTF-8, at most 19 characters
    wchar_t path[kPathLength + 1] = {};        // file name buffer of Load and Save
    HWND window = nullptr;                     // the main dialog
    volatile LONG state = LONG(TransferState::Idle);
    TitleHandOver title;                       // the worker's newest title
    wchar_t recvCaption[64] = {};              // the dialog's own Recv caption, in its language
    // Set by the worker just before it posts its outcome.
    volatile LONG outcomePosted = 0;
    // Main thread only, for the transfer numbered `serial`:
    unsigned serial = 0;
    bool ending = false;       // its abort or completion has begun
    bool reporting = false;    // the cause of its failure is on screen
    bool dropUpdates = false;  // its titles and lines are no longer shown
    DWORD sinkError = 0;       // why the window stopped it, or 0
};

extern TransferContext gTransfer;
extern UINT gCompletionMessage;  // "ORVA_HEAD"

TransferState CurrentTransferState();
// Sets every control of the state, then paints them at once. Going to
// Idle, Load, Save and the port box are enabled last; going to Receiving,
// they are disabled first: whoever sees Load enabled sees the rest of Idle.
// recvCaption replaces the Idle caption (after a completion).
void SetTransferState(TransferState state, const wchar_t* recvCaption = nullptr);
// The Recv button: starts a receive in Idle, cancels one while Receiving.
void StartReceive();
void AbortTransfer();
void OnTransferComplete();
// Main thread: shows the title waiting from the worker, unless the transfer
// is being stopped or is over.
void TakeWorkerTitle();
void OnTransferFailed(ReceiveOutcome outcome, DWORD error);
void ReportSystemError();
// The platform's text for an error code, in the user's default language,
// UTF-8, without the line end the platform puts after it.
std::string SystemErrorText(DWORD code);
// Stops a running transfer without a word and returns to Idle: the worker
// is joined and the port closed. For Close, which has asked the user first.
void StopTransferQuietly();
// At exit, after the window has gone: the worker, if any, is stopped and
// joined, and the port closed.
void EndTransferAtExit();
// Main thread: whether the worker's titles and lines are still wanted.
bool WorkerUpdatesWanted();
// Main thread: the window cannot keep a line; the transfer stops before the
// line's acknowledgement and fails with this error code.
void StopTransferForSinkError(DWORD error);

}  // namespace kvr
