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

bool ClaimEnding() { return InterlockedCompareExchange(&gTransfer.ending, 1, 0) == 0; }

// Waits for the worker to end while answering the messages it sends to this
// thread, so a worker inside SendMessage is released rather than deadlocked.
void WaitForWorker(DWORD timeoutMs) {
    if (!gTransfer.worker) return;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return;
        DWORD result = MsgWaitForMultipleObjects(1, &gTransfer.worker, FALSE, timeoutMs - elapsed, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1) return;  // ended, timed out or failed
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// A worker that has ended (or is about to) is waited for and released.
void ReleaseWorker() {
    if (!gTransfer.worker) return;
    WaitForWorker(INFINITE);
    CloseHandle(gTransfer.worker);
    gTransfer.worker = nullptr;
}

// Stops the worker at once and joins it. A write stuck on a line that takes
// no bytes would otherwise hold it until its 5 s timeout.
void StopWorker() {
    if (!gTransfer.worker) return;
    gTransfer.link.requestStop();
    CancelSynchronousIo(gTransfer.worker);
    ReleaseWorker();
}

void ShowProtocolError(int textId) {
    MessageBoxW(gTransfer.window, WideFromUtf8(text(textId)).c_str(), L"Error", MB_OK);
}

DWORD WINAPI ReceiveWorker(LPVOID parameter) {
    TransferContext& context = *static_cast<TransferContext*>(parameter);
    WindowSink sink(context.window);
    ReceiveOutcome outcome = ReceiveEngine().run(context.link, sink);
    DWORD error = GetLastError();
    if (!ClaimEnding()) return 0;  // Cancel or Close got there first and cleans up

    if (outcome == ReceiveOutcome::Completed) {
        context.link.close();
        PostMessageA(context.window, gCompletionMessage, 0, 0);
    } else {
        PostMessageA(context.window, WM_APP_TRANSFER_FAILED, WPARAM(outcome), LPARAM(error));
    }
    return 0;
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

void TakeWorkerTitle() {
    std::string title;
    if (!gTransfer.title.take(title)) return;
    if (CurrentTransferState() != TransferState::Receiving || gTransfer.link.stopRequested()) return;
    SetTitleSoon(gTransfer.window, WideFromUtf8(title));
}

TransferState CurrentTransferState() { return TransferState(InterlockedCompareExchange(&gTransfer.state, 0, 0)); }

void SetTransferState(TransferState state) {
    InterlockedExchange(&gTransfer.state, LONG(state));
    HWND window = gTransfer.window;
    FlushView(window);  // a title still waiting must not cover the new one
    bool idle = state == TransferState::Idle;
    if (idle) SetWindowTextW(window, WideFromUtf8(text(TextIdleTitle)).c_str());
    EnableWindow(GetDlgItem(window, IDC_LOAD), idle);
    EnableWindow(GetDlgItem(window, IDC_SAVE), idle);
    EnableWindow(GetDlgItem(window, IDC_PORT), idle);
    EnableWindow(GetDlgItem(window, IDC_RECV), TRUE);
    SetDlgItemTextW(window, IDC_RECV, WideFromUtf8(text(idle ? TextRecvCaption : TextCancelCaption)).c_str());
}

void StartReceive() {
    if (CurrentTransferState() == TransferState::Receiving) {
        // The button is Cancel. If the worker is already ending the transfer
        // (a completion or an error on its way), that ending stands.
        if (ClaimEnding()) AbortTransfer();
        return;
    }
    ReleaseWorker();  // a worker that ended through its own abort
    InterlockedExchange(&gTransfer.ending, 0);
    gTransfer.sinkError = 0;
    std::string stale;
    gTransfer.title.take(stale);
    SetTransferState(TransferState::Receiving);
    SetWindowTextW(gTransfer.window, WideFromUtf8(text(TextOpeningPort)).c_str());
    wchar_t portName[kPortNameLength + 1] = {};
    GetDlgItemTextW(gTransfer.window, IDC_PORT, portName, int(kPortNameLength + 1));
    gTransfer.portName = Utf8FromWide(PortNameFromBox(portName));

    gTransfer.link.clearStopRequest();
    // The system error box has no owner, so Close may end the transfer
    // while it is up; then the abort is not shown.
    if (!gTransfer.link.open(gTransfer.portName)) {
        ReportSystemError();
        if (ClaimEnding()) AbortTransfer();
        return;
    }
    gTransfer.worker = CreateThread(nullptr, 0, ReceiveWorker, &gTransfer, 0, nullptr);
    if (!gTransfer.worker) {
        ReportSystemError();
        if (ClaimEnding()) AbortTransfer();
    }
}

// Runs on the main thread after the caller has claimed the ending.
void AbortTransfer() {
    StopWorker();
    MessageBoxW(gTransfer.window, WideFromUtf8(text(TextCancelled)).c_str(), L"Warning", MB_OK | MB_ICONEXCLAMATION);
    gTransfer.link.close();
    SetTransferState(TransferState::Idle);
}

void OnTransferComplete() {
    FlushView(gTransfer.window);  // the last lines and counters, behind the box
    bool receiving = CurrentTransferState() == TransferState::Receiving;
    MessageBoxW(gTransfer.window, WideFromUtf8(text(receiving ? TextReceiveFinished : TextSendOver)).c_str(), L"Message",
                MB_OK | MB_ICONINFORMATION);
    ReleaseWorker();  // it ended right after posting
    if (CurrentTransferState() != TransferState::Receiving) return;  // Close already stopped it
    SetTransferState(TransferState::Idle);
    SetDlgItemTextW(gTransfer.window, IDC_RECV, gTransfer.recvCaption);
}

// The worker claimed the ending and has ended (or is about to): the cause
// first, then the abort.
void OnTransferFailed(ReceiveOutcome outcome, DWORD error) {
    ReleaseWorker();
    FlushView(gTransfer.window);
    switch (outcome) {
    case ReceiveOutcome::FrameHeadError: ShowProtocolError(TextFrameHeadError); break;
    case ReceiveOutcome::InstrumentError: ShowProtocolError(TextInstrumentError); break;
    case ReceiveOutcome::BadRecordType: ShowProtocolError(TextBadRecordType); break;
    default:
        SetLastError(gTransfer.sinkError ? gTransfer.sinkError : error);
        ReportSystemError();
        break;
    }
    // The system error box has no owner, so Close may have ended the
    // transfer while it was up.
    if (CurrentTransferState() == TransferState::Receiving) AbortTransfer();
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
    if (CurrentTransferState() != TransferState::Receiving) return;
    // A worker that claimed the ending first has posted its outcome and is
    // ending by itself; that outcome then finds Idle.
    if (ClaimEnding()) StopWorker();
    ReleaseWorker();
    gTransfer.link.close();
    SetTransferState(TransferState::Idle);
}

}  // namespace kvr
