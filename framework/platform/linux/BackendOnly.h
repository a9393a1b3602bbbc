#pragma once

// Included by every Linux backend header. The logic is handed its backends and never names one, so
// these headers compile only in the backends themselves, in the one place that builds the platform,
// and in the tests and tools that drive a backend directly.
#ifndef TESSVALE_PLATFORM_BACKENDS
#error "Linux backend headers belong to framework/platform/linux; the logic reaches backends through platform/."
#endif
