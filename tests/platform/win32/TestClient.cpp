// The Win32 process layer's test client: a Windows program that the tests
// start in the game client's place (built as "Tavora.exe"). It reads what to
// do from "client.cfg" beside itself, records how it was started in
// "client.record" beside itself (UTF-8, one "name=value" line each: the
// working directory, then each argument as CommandLineToArgvW splits the
// command line), and then:
//   exit N    ends with exit code N
//   crash     ends by an unhandled access violation (exception 0xC0000005)
//   hang      waits for ever
//   window    opens a hidden window (as an input method's would be), then its
//             visible main window, brings it to the front, and waits
//   hidden    opens only the hidden window, and waits

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string ToUtf8(const wchar_t* wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) {
    return {};
  }
  std::string text(static_cast<std::size_t>(length - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
  return text;
}

std::wstring OwnFolder() {
  wchar_t path[32768];
  const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

std::string ReadControl(const std::wstring& folder) {
  const HANDLE file = CreateFileW((folder + L"client.cfg").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return "exit 0";
  }
  char buffer[256];
  DWORD got = 0;
  ReadFile(file, buffer, sizeof buffer - 1, &got, nullptr);
  CloseHandle(file);
  std::string control(buffer, got);
  while (!control.empty() && (control.back() == '\n' || control.back() == '\r')) {
    control.pop_back();
  }
  return control;
}

void Record(const std::wstring& folder) {
  std::string record;
  wchar_t directory[32768];
  const DWORD length = GetCurrentDirectoryW(32768, directory);
  directory[length] = L'\0';
  record += "cwd=" + ToUtf8(directory) + "\n";
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; i < count; ++i) {
    record += "arg=" + ToUtf8(arguments[i]) + "\n";
  }
  LocalFree(arguments);
  const HANDLE file = CreateFileW((folder + L"client.record").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
}

HWND OpenWindow(const wchar_t* title, bool visible) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  static const bool registered = [instance] {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"NaloTestClient";
    return RegisterClassW(&windowClass) != 0;
  }();
  if (!registered) {
    std::exit(3);
  }
  const HWND window =
      CreateWindowExW(0, L"NaloTestClient", title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                      CW_USEDEFAULT, 320, 240, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    std::exit(4);
  }
  if (visible) {
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
  }
  return window;
}

[[noreturn]] void Wait() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    DispatchMessageW(&message);
  }
  std::exit(0);
}

}  // namespace

int main() {
  const std::wstring folder = OwnFolder();
  const std::string control = ReadControl(folder);
  Record(folder);
  if (control.rfind("exit ", 0) == 0) {
    return std::atoi(control.c_str() + 5);
  }
  if (control == "crash") {
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  }
  if (control == "window" || control == "hidden") {
    OpenWindow(L"IME", false);
    if (control == "window") {
      OpenWindow(L"Tavora", true);
    }
  }
  Wait();
}
