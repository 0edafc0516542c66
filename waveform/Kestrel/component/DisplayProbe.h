// Whether Qt can open windows in this process. Qt ends the whole process when
// its platform cannot start, which would take the host down with the plug-in,
// so the plug-in asks first and refuses the call instead.
#pragma once

namespace kestrel {

// True when a platform is named for Qt, or when the X display named by
// DISPLAY answers and lets this process in.
bool DisplayAvailable();

}  // namespace kestrel
