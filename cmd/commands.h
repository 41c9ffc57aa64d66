// The host commands of the application: VANTA with its keyword prompt, and vatest.
#pragma once

#include <functional>

/// VANTA: asks for a keyword and runs its operation; every failure is reported in a message
/// box and the command ends normally. Main thread.
void VantaCommand();
/// vatest: checks that the spreadsheet application can be reached, started and shown.
void VaTestCommand();
/// The keyword prompt and the operation it names; the operation's result, false when none ran.
bool VantaDispatch();
/// Runs `body` inside the VANTA command's error guard: a COM or framework error, or any other
/// exception, is reported in a message box and gives false.
bool RunGuarded(const std::function<bool()>& body);
