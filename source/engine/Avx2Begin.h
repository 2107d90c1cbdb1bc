// Compiles every function defined from here on for AVX2, up to the matching Avx2End.h.
// Include it after all standard, JUCE and public engine headers: anything defined between the
// two must have internal linkage, so that no AVX2 copy of a shared inline function can reach
// the code that runs on processors without it. (No include guard: it is meant to be used once
// per translation unit, as a pair with Avx2End.h.)

#if defined (__clang__)
 #pragma clang attribute push (__attribute__ ((target ("avx2"))), apply_to = function)
#else
 #pragma GCC push_options
 #pragma GCC target("avx2")
#endif
