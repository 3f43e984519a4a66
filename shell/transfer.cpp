#include "transfer.h"

#include "port_box.h"
#include "record_list.h"
#include "resource_ids.h"
#include "texts.h"
#include "window_text.h"


namespace kvr {

TransferContext gTransfer;
UINT gCompletionMessage = 0;

namespace {

// The main window as the engine's sink. SendMessage makes both calls
// synchronous and keeps them in order, from whatever thread they come.
class WindowSink : public TransferSink {
public:
    explicit WindowSink(HWND window) : window_(window) {}
    // Once frames flow, each title is followed by its line, whose handler
    // takes it; only the titles before the first line need a message.
    void setTitle(const std::string& text) override {
        if (gTransfer.title.put(text) && !linesSent_) PostMessageW(window_, WM_APP_TITLE_WAITING, 0, 0);
    }
    void addLine(const std::string& text) override {
        linesSent_ = true;
        SendMessageW(window_, WM_APP_ADD_LINE, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }

private:
    HWND window_;
    bool linesSent_ = false;
};

// Waits for the worker to end while answering the messages it sends to this
// thread, so a worker inside SendMessage is released rather than deadlocked.
// Once stopped, or once it has posted its outcome, the worker ends promptly:
// every wait of the link also waits for the stop.
void ReleaseWorker() {
    if (!gTransfer.worker) return;
    for (;;) {
        DWORD result = MsgWaitForMultipleObjects(1, &gTransfer.worker, FALSE, INFINITE, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1) break;  // ended, or the wait failed
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(gTransfer.worker);
    gTransfer.worker = nullptr;
}

// The outcome a joined worker posted is no longer news once the main thread
// has ended the transfer itself.
void DiscardPostedOutcome() {
    MSG message;
    HWND window = gTransfer.window;
    while (PeekMessageW(&message, window, WM_APP_TRANSFER_FAILED, WM_APP_TRANSFER_FAILED, PM_REMOVE)) {
    }
    if (gCompletionMessage)
        while (PeekMessageW(&message, window, gCompletionMessage, gCompletionMessage, PM_REMOVE)) {
        }
}

// Stops the worker at once and joins it.
void StopWorker() {
    gTransfer.dropUpdates = true;
    gTransfer.link.requestStop();
    if (!gTransfer.worker) return;
    ReleaseWorker();
    DiscardPostedOutcome();
}

bool WorkerHasPosted() { return InterlockedCompareExchange(&gTransfer.outcomePosted, 0, 0) != 0; }

// Whether a report box that has just returned still speaks for a transfer
// nobody else has ended meanwhile.
bool StillCurrent(unsigned serial) {
    return gTransfer.serial == serial && !gTransfer.ending && CurrentTransferState() == TransferState::Receiving;
}

void ShowProtocolError(int textId) {
    MessageBoxW(gTransfer.window, WideFromUtf8(text(textId)).c_str(), L"Error", MB_OK);
}

DWORD WINAPI ReceiveWorker(LPVOID parameter) {
    TransferContext& context = *static_cast<TransferContext*>(parameter);
    WindowSink sink(context.window);
    ReceiveOutcome outcome = ReceiveEngine().run(context.link, sink);
    DWORD error = GetLastError();
    if (outcome == ReceiveOutcome::Completed) context.link.close();
    InterlockedExchange(&context.outcomePosted, 1);
    if (outcome == ReceiveOutcome::Completed)
        PostMessageW(context.window, gCompletionMessage, 0, 0);
    else
        PostMessageW(context.window, WM_APP_TRANSFER_FAILED, WPARAM(outcome), LPARAM(error));
    return 0;
}

// The main thread ends the transfer itself: the worker stopped and joined,
// the warning when asked for, the port closed, Idle.
void EndTransferHere(bool warn) {
    gTransfer.ending = true;
    gTransfer.reporting = false;
    StopWorker();
    if (warn)
        MessageBoxW(gTransfer.window, WideFromUtf8(text(TextCancelled)).c_str(), L"Warning", MB_OK | MB_ICONEXCLAMATION);
    gTransfer.link.close();
    SetTransferState(TransferState::Idle);
}

// Cancel while the worker's outcome is already posted: that outcome is taken
// out of the queue and handled now.
bool HandlePostedOutcome() {
    if (!WorkerHasPosted()) return false;
    ReleaseWorker();  // it ends right after posting
    MSG message;
    if (PeekMessageW(&message, gTransfer.window, WM_APP_TRANSFER_FAILED, WM_APP_TRANSFER_FAILED, PM_REMOVE)) {
        OnTransferFailed(ReceiveOutcome(message.wParam), DWORD(message.lParam));
        return true;
    }
    if (gCompletionMessage && PeekMessageW(&message, gTransfer.window, gCompletionMessage, gCompletionMessage, PM_REMOVE)) {
        OnTransferComplete();
        return true;
    }
    return false;
}
}  // namespace

bool TitleHandOver::put(const std::string& title) {
    EnterCriticalSection(&lock_);
    bool announce = !waiting_;
    title_ = title;
    waiting_ = true;
    LeaveCriticalSection(&lock_);
    return announce;
}

bool TitleHandOver::take(std::string& title) {
    EnterCriticalSection(&lock_);
    bool waiting = waiting_;
    if (waiting) title.swap(title_);
    waiting_ = false;
    LeaveCriticalSection(&lock_);
    return waiting;
}

bool WorkerUpdatesWanted() { return CurrentTransferState() == TransferState::Receiving && !gTransfer.dropUpdates; }

void StopTransferForSinkError(DWORD error) {
    gTransfer.sinkError = error;
    gTransfer.dropUpdates = true;
    gTransfer.link.requestStop();
}

void TakeWorkerTitle() {
    std::string title;
    if (!gTransfer.title.take(title)) return;
    if (!WorkerUpdatesWanted()) return;
    SetTitleSoon(gTransfer.window, WideFromUtf8(title));
}

TransferState CurrentTransferState() { return TransferState(InterlockedCompareExchange(&gTransfer.state, 0, 0)); }

void SetTransferState(TransferState state, const wchar_t* recvCaption) {
    InterlockedExchange(&gTransfer.state, LONG(state));
    HWND window = gTransfer.window;
    FlushView(window);  // a title still waiting must not cover the new one
    bool idle = state == TransferState::Idle;
    SendMessageW(window, WM_SETREDRAW, FALSE, 0);
    auto enableFileControls = [window](bool enable) {
        EnableWindow(GetDlgItem(window, IDC_LOAD), enable);
        EnableWindow(GetDlgItem(window, IDC_SAVE), enable);
        EnableWindow(GetDlgItem(window, IDC_PORT), enable);
    };
    if (!idle) enableFileControls(false);
    if (idle) SetWindowTextW(window, WideFromUtf8(text(TextIdleTitle)).c_str());
    EnableWindow(GetDlgItem(window, IDC_RECV), TRUE);
    std::wstring caption = recvCaption ? recvCaption : WideFromUtf8(text(idle ? TextRecvCaption : TextCancelCaption));
    SetDlgItemTextW(window, IDC_RECV, caption.c_str());
    if (idle) enableFileControls(true);
    SendMessageW(window, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void StartReceive() {
    if (CurrentTransferState() == TransferState::Receiving) {
        // The button is Cancel. An ending under way (its box is up) stands;
        // a failure's report on screen gives way; an outcome already posted
        // is shown; otherwise the worker is stopped here.
        if (gTransfer.ending) return;
        if (!gTransfer.reporting && HandlePostedOutcome()) return;
        AbortTransfer();
        return;
    }
    ReleaseWorker();  // a worker whose outcome was handled
    ++gTransfer.serial;
    gTransfer.ending = false;
    gTransfer.reporting = false;
    gTransfer.dropUpdates = false;
    gTransfer.sinkError = 0;
    InterlockedExchange(&gTransfer.outcomePosted, 0);
    std::string stale;
    gTransfer.title.take(stale);
    SetTransferState(TransferState::Receiving);
    SetWindowTextW(gTransfer.window, WideFromUtf8(text(TextOpeningPort)).c_str());
    wchar_t portName[kPortNameLength + 1] = {};
    GetDlgItemTextW(gTransfer.window, IDC_PORT, portName, int(kPortNameLength + 1));
    gTransfer.portName = Utf8FromWide(PortNameFromBox(portName));

    gTransfer.link.clearStopRequest();
    unsigned serial = gTransfer.serial;
    // The system error box has no owner, so Cancel or Close may end the
    // transfer while it is up; then the abort is not shown twice.
    if (gTransfer.link.open(gTransfer.portName))
        gTransfer.worker = CreateThread(nullptr, 0, ReceiveWorker, &gTransfer, 0, nullptr);
    if (!gTransfer.worker) {
        gTransfer.reporting = true;
        ReportSystemError();
        if (StillCurrent(serial)) AbortTransfer();
    }
}

void AbortTransfer() { EndTransferHere(true); }

void OnTransferComplete() {
    bool receiving = CurrentTransferState() == TransferState::Receiving;
    // While receiving, only this transfer's worker completes it; a message
    // left from a transfer that was ended, or sent by another program, is
    // not a completion.
    if (receiving && (gTransfer.ending || !WorkerHasPosted())) return;
    unsigned serial = gTransfer.serial;
    if (receiving) {
        gTransfer.ending = true;
        ReleaseWorker();  // it ended right after posting
    }
    FlushView(gTransfer.window);  // the last lines and counters, behind the box
    MessageBoxW(gTransfer.window, WideFromUtf8(text(receiving ? TextReceiveFinished : TextSendOver)).c_str(), L"Message",
                MB_OK | MB_ICONINFORMATION);
    if (!receiving || gTransfer.serial != serial || CurrentTransferState() != TransferState::Receiving) return;
    SetTransferState(TransferState::Idle, gTransfer.recvCaption);
}

// The worker has posted a failure and ends: the cause first, then the abort,
// unless Cancel or Close ended the transfer while the cause was up.
void OnTransferFailed(ReceiveOutcome outcome, DWORD error) {
    if (CurrentTransferState() != TransferState::Receiving || gTransfer.ending || gTransfer.reporting) return;
    ReleaseWorker();
    FlushView(gTransfer.window);
    unsigned serial = gTransfer.serial;
    gTransfer.reporting = true;
    switch (outcome) {
    case ReceiveOutcome::FrameHeadError: ShowProtocolError(TextFrameHeadError); break;
    case ReceiveOutcome::InstrumentError: ShowProtocolError(TextInstrumentError); break;
    case ReceiveOutcome::BadRecordType: ShowProtocolError(TextBadRecordType); break;
    default:
        SetLastError(gTransfer.sinkError ? gTransfer.sinkError : error);
        ReportSystemError();
        break;
    }
    if (StillCurrent(serial)) AbortTransfer();
}

std::string SystemErrorText(DWORD code) {
    wchar_t* message = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    std::wstring result = length && message ? std::wstring(message, length) : L"Error " + std::to_wstring(code);
    if (message) LocalFree(message);
    while (!result.empty() && (result.back() == L'\r' || result.back() == L'\n')) result.pop_back();
    return Utf8FromWide(result);
}

void ReportSystemError() {
    std::wstring message = WideFromUtf8(SystemErrorText(GetLastError()));
    MessageBoxW(nullptr, message.c_str(), L"Error", MB_OK | MB_ICONINFORMATION);
}

void StopTransferQuietly() {
    if (CurrentTransferState() == TransferState::Receiving) EndTransferHere(false);
}

void EndTransferAtExit() {
    StopWorker();
    gTransfer.link.close();
}

}  // namespace kvr
