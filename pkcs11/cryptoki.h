#pragma once
// The PKCS#11 types and constants for the whole module.
//
// The module is built with hidden symbol visibility; the standard header is
// included with default visibility so that the C_ functions it declares (and
// only those) are exported from the shared library.
#pragma GCC visibility push(default)
#include <p11-kit/pkcs11.h>
#pragma GCC visibility pop
