// The host commands of the application: VANTA with its keyword prompt, and vatest.
#pragma once

/// VANTA: asks for a keyword and runs its operation; every failure is reported in a message
/// box and the command ends normally. Main thread.
void VantaCommand();
/// vatest: checks that the spreadsheet application can be reached, started and shown.
void VaTestCommand();
/// The keyword prompt and the operation it names; the operation's result, false when none ran.
bool VantaDispatch();
