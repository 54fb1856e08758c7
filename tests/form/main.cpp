// The form's test program: doctest's own runner, the same on Linux and Windows.
#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>
