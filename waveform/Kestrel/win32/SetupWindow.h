// The plug-in's window on Windows, as the component shows it for the host.
#pragma once

namespace kestrel {

// Shows the setup window modally on the calling thread, with no owner window,
// loaded afresh, and returns when it has closed. False when it cannot be
// shown (one is already showing on this thread).
bool ShowSetupWindow();

}  // namespace kestrel
