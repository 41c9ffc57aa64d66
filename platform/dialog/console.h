// Where the console driver of dialogs writes: dialog headers, the listing of `?`, menus, file
// prompts and the messages about input it could not use.
//
// Dialogs read their input from CurrentLineSource() (platform/win/message.h), the same lines
// that message boxes and the host's prompts read; the commands are described in
// docs/dialogs.md.
#pragma once

#include <functional>
#include <string_view>

/// Replaces the output (null: standard output, as UTF-8) and returns the previous one (null for
/// the default). Each call of the function gets one or more whole lines, each ending in '\n'.
/// Any thread may call; the output is shared by all threads.
std::function<void(std::wstring_view)> SetDialogOutput(
    std::function<void(std::wstring_view)> output);
