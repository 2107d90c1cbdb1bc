// Ends the AVX2 region opened by Avx2Begin.h.

#if defined (__clang__)
 #pragma clang attribute pop
#else
 #pragma GCC pop_options
#endif
