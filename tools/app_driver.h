// Works KvrReader.exe from another process, as a person would, for the GUI
// tests, the demo and the GUI benchmark: buttons are
// clicked through the button itself (BM_CLICK), keys and typed text come
// from the keyboard (SendInput) into the control that has the focus, and
// the focus moves as Tab moves it (WM_NEXTDLGCTL). Only reading the window,
// its list and its boxes uses plain messages. Text crosses processes as
// UTF-16 only, so everything here is wide.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kvr::drive {

std::wstring Widen(const std::string& utf8);

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

struct MessageBoxSeen {
    HWND window = nullptr;
    std::wstring title;
    std::wstring text;
};

class AppDriver {
public:
    ~AppDriver();
    bool launch(const std::wstring& exePath);
    HWND main() const { return main_; }
    DWORD processId() const { return process_.dwProcessId; }
    bool running() const;
    bool waitForExit(DWORD timeoutMs, DWORD& exitCode);
    // Ends the program at once if it still runs, and waits until it has.
    void terminate();

    std::wstring title() const;
    std::wstring controlText(int id) const;
    bool enabled(int id) const;
    std::vector<std::wstring> lines() const;

    // Clicks a button of the main dialog.
    void click(int id) const;
    // Types a name into the port box, replacing what it holds.
    void setPortName(const std::wstring& name) const;
    // A key pressed in the port box: the focus moves there as Tab moves it,
    // then the key comes from the keyboard through the program's own
    // message loop and IsDialogMessage.
    void pressKeyInPortBox(WPARAM virtualKey) const;
    // Moves the keyboard focus to a control, as Tab would.
    void focus(int id) const;

    // A top-level dialog of the program with the given caption, other than
    // the main dialog: a message box or the About box.
    HWND findDialog(const std::wstring& caption) const;
    bool waitForBox(const std::wstring& caption, MessageBoxSeen& box, DWORD timeoutMs) const;

    // The open or save dialog: types the path into its file name box and
    // presses OK. False if no file dialog came up or it did not close.
    bool chooseFile(const std::wstring& path, DWORD timeoutMs = 20000) const;
    // The same in two steps: the path typed into the file dialog's name box
    // (the dialog is returned, or null), then OK clicked.
    HWND typeFileName(const std::wstring& path, DWORD timeoutMs = 20000) const;
    static void pressOk(HWND fileDialog);
    // Clicks a box's OK button.
    static void dismiss(HWND box);
    // Clicks one of a message box's buttons (IDYES, IDNO, IDCANCEL, IDOK).
    static bool press(HWND box, int buttonId);

private:
    std::vector<HWND> topLevelDialogs() const;
    PROCESS_INFORMATION process_ = {};
    HWND main_ = nullptr;
};

// Keys typed on the keyboard (SendInput): they go to whatever window has
// the focus, as a person's would. Each key is pressed in order and the
// modifiers among them are held until all are released at the end.
void TypeKeys(const std::vector<WORD>& keys);
// Characters typed on the keyboard, one after the other.
void TypeText(const std::wstring& text);

// The clipboard's Unicode text, or "" when it holds none.
std::wstring ClipboardText();
bool ClearClipboard();

}  // namespace kvr::drive
