#pragma once
// Library code built for AVX that returns without clearing the upper halves of the vector
// registers leaves, on many Intel processors, every later SSE instruction paying for a state
// transition: a long loop of ordinary code then runs about a third slower.

// Clears the upper halves (vzeroupper) on an x86-64 processor with AVX; does nothing elsewhere.
// Called after library code, before a long loop of the program's own.
void ClearUpperVectorState();
