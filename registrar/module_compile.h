// Included ahead of every source the module is built from (registrar/
// CMakeLists.txt). The library's std::string members are compiled into the
// module from the headers, without exceptions, instead of being linked from
// the library's copy, which was built with them.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
