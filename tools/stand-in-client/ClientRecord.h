#pragma once
// The stand-in client's folder: the record it appends a line to for each
// thing that happens (stand-in-client.record, one JSON object a line), and
// the small files it reads there. docs/processes-and-windows.md describes the
// record's lines.

#include <optional>
#include <string>
#include <string_view>

namespace Nalo::StandIn {

// The folder named by NALO_STAND_IN_CLIENT_DIR, else the program's own.
[[nodiscard]] std::string OwnDirectory();
[[nodiscard]] int OwnPid();

// The content of a file, up to its first 64 KiB; nothing when it cannot be read.
[[nodiscard]] std::optional<std::string> ReadFile(const std::string& path);

// Appends one line to the record in `directory`, in a single write, so that
// lines of clients that run at the same time do not mix.
void AppendRecordLine(const std::string& directory, std::string line);
// The record's start line: the pid, the program, the arguments, the working
// directory and the locale file's content.
[[nodiscard]] std::string StartRecord(int argc, char** argv);
// An event's line: {"pid":…,"event":…,"detail":…}.
[[nodiscard]] std::string EventRecord(std::string_view event, std::string_view detail = {});

#ifdef _WIN32
[[nodiscard]] std::wstring Wide(std::string_view text);
[[nodiscard]] std::string Utf8(const std::wstring& text);
#endif

}  // namespace Nalo::StandIn
