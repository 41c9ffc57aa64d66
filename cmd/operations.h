// The operations the VANTA keywords run. Each takes no arguments and tells whether it
// succeeded; they run on the host's main thread inside the command's error guard.
#pragma once

bool ExportOperation();           // Export: with the stored settings (a selection first when on)
bool Export2Operation();          // Export2, Export3: block names typed at a prompt
bool SelectionExportOperation();  // Selection+export
bool ImportOperation();           // Import: always false, the import reports no result
bool OptionsOperation();          // Options: true when the dialog closed with OK
bool ConnectOperation();          // Connect: starts the live link
bool DisconnectOperation();       // Disconnect: stops its event handling
bool Import2Operation();          // Import2: applies the queued changed cells
