// What the C++ library does when it meets a condition it cannot go on from: a length past a
// container's limit, an index out of range, a failed allocation inside the library, or
// std::terminate. Each ends in the runtime error report (the "错误" box, exit code -1) with the
// library's own text as the message; nothing is thrown.
//
// These definitions take the place of the library's own (its std::__throw_* helpers and its
// verbose terminate handler, which print through the demangler and stdio, and build exception
// objects the program never catches). They are linked as objects, so they always win over the
// library archive; each group replaces one whole library member: leaving one out would pull
// the library's member in, and the link would fail on the duplicates.
#include <bits/functexcept.h>

#include <exception>

#include "runtime/runtime_error.h"

namespace std {

void __throw_bad_exception() { ipmod::RuntimeErrorReport("std::bad_exception"); }
void __throw_bad_alloc() { ipmod::RuntimeErrorReport("std::bad_alloc"); }
void __throw_bad_array_new_length() { ipmod::RuntimeErrorReport("std::bad_array_new_length"); }
void __throw_bad_cast() { ipmod::RuntimeErrorReport("std::bad_cast"); }
void __throw_bad_typeid() { ipmod::RuntimeErrorReport("std::bad_typeid"); }
void __throw_logic_error(const char* what) { ipmod::RuntimeErrorReport(what); }
void __throw_domain_error(const char* what) { ipmod::RuntimeErrorReport(what); }
void __throw_invalid_argument(const char* what) { ipmod::RuntimeErrorReport(what); }
void __throw_length_error(const char* what) { ipmod::RuntimeErrorReport(what); }
void __throw_out_of_range(const char* what) { ipmod::RuntimeErrorReport(what); }
// The format text as it is: filling it in would take the library's formatter back in.
void __throw_out_of_range_fmt(const char* format, ...) { ipmod::RuntimeErrorReport(format); }
void __throw_runtime_error(const char* what) { ipmod::RuntimeErrorReport(what); }
void __throw_range_error(const char* what) { ipmod::RuntimeErrorReport(what); }
void __throw_overflow_error(const char* what) { ipmod::RuntimeErrorReport(what); }
void __throw_underflow_error(const char* what) { ipmod::RuntimeErrorReport(what); }

}  // namespace std

namespace __gnu_cxx {

// The library's default terminate handler: an exception nobody catches, a throw out of a
// noexcept function, or a direct std::terminate.
void __verbose_terminate_handler() { ipmod::RuntimeErrorReport("std::terminate"); }

}  // namespace __gnu_cxx
