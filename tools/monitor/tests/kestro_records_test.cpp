// The same checks as kestro_records_test.c, with the header compiled as C++.
#include "kestro_records_test.c"
