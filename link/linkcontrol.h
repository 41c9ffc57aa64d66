// Switching the live link on and off: the Connect and Disconnect keywords, and the export, which
// stops the link's event handling while it writes so that its own cells are not reported back
// as changes.
//
// Threads: the host's main thread.
#pragma once

class CVantaApp;

/// Starts the link's apartment thread when there is none, then enables its event handling.
void EnableLink(CVantaApp* app);
/// Disables the event handling, if the link was ever started.
void DisableLink(CVantaApp* app);
