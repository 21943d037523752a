// Which Windows the component plays, as the control chose it.
#include "Component.h"

namespace winrt_bluetooth {

namespace {

std::atomic<WindowsVersion> windows{WindowsVersion::Windows11};

} // namespace

void SetWindows(WindowsVersion version) { windows = version; }

bool Windows11() { return windows.load() == WindowsVersion::Windows11; }

} // namespace winrt_bluetooth
