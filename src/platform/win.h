#pragma once
// The one place that includes windows.h, so every Win32-facing file sees the
// same macros (UNICODE, WIN32_LEAN_AND_MEAN and NOMINMAX come from the build).
#include <windows.h>
