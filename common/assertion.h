// Precondition checks. A failed check is a programming error: it is reported as
// "Assertion failed: EXPR, file FILE, line N" on stderr and to the debugger, and
// the program goes on, so that a user's program never dies on one. The caller
// then takes its safe way out (an operation that fails).
#pragma once

void reportAssertion(const char* expression, const char* file, int line);

// Evaluates to true when the condition holds; reports it and gives false otherwise.
#define CHECK(expression) \
    ((expression) ? true : (reportAssertion(#expression, __FILE__, __LINE__), false))
