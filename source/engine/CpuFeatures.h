#pragma once

namespace quoril::engine
{
// True when the processor runs AVX2 code (checked once, when the library loads).
bool cpuHasAvx2() noexcept;

// The engine's block processing uses its AVX2 paths where the processor has them; both paths
// give the same results. Clearing this keeps the SSE2 paths (for tests).
inline bool allowAvx2 = true;

inline bool useAvx2() noexcept { return allowAvx2 && cpuHasAvx2(); }
} // namespace quoril::engine
