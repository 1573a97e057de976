// Included first in the fuzz build's sources that use the image library: its
// installed compiler detection knows only the compiler it was built with
// (GCC) and stops any other. clang has every language feature the detection
// asks about, so the detection runs once here as for a current GCC.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wbuiltin-macro-redefined"
#pragma push_macro("__clang__")
#pragma push_macro("__GNUC__")
#pragma push_macro("__GNUC_MINOR__")
#undef __clang__
#undef __GNUC__
#undef __GNUC_MINOR__
#define __GNUC__ 12
#define __GNUC_MINOR__ 2
#include <itk_compiler_detection.h>
#pragma pop_macro("__GNUC_MINOR__")
#pragma pop_macro("__GNUC__")
#pragma pop_macro("__clang__")
#pragma clang diagnostic pop
