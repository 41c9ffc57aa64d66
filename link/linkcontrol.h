// Switching the live link on and off: the Connect and Disconnect keywords, and the export, which
// stops the link's event handling while it writes so that its own cells are not reported back
// as changes. Also the link's apartment thread, which hosts the event sink, and the polling
// procedure that has the host apply queued changes.
//
// Threads: the host's main thread, in an apartment (CoInitialize). The link's own thread is
// started by EnableLink and ends when the application's stop event is signalled (at unload).
#pragma once

class CVantaApp;

/// Starts the link's apartment thread when `app` has none (it creates the sink and publishes
/// its interface; EnableLink waits for that, or for the thread's end when it cannot publish,
/// and then forgets the thread so that a later call starts again), then calls Enable on the
/// sink through its proxy, ignoring the result: with no spreadsheet running the link stays off.
/// Reports nothing. Null `app` does nothing.
void EnableLink(CVantaApp* app);

/// Calls Disable on the sink through its proxy, if there is one, ignoring the result; an
/// exception from the call makes `app` forget the proxy. Reports nothing. Null `app` does
/// nothing.
void DisableLink(CVantaApp* app);

/// The polling procedure (every second, from the application's timer): sends "vanta\n_import2\n"
/// to the current document when no drain runs (g_hImportBusy not signalled), changes are queued
/// and the document is quiescent; otherwise does nothing. With SHEETWISE_TRACE set it also
/// prints the number of queued changes and the newest one.
void PollLink();
